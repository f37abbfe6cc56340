// Win32 pieces of the run driver: the code page of file names.
// Only code for Windows goes in this file.
#include "console/output.h"
#include "console/windows_api.h"
#include "driver/run.h"

// The console start-up has chosen the text's code page. With UTF-8 (the manifest's code page in
// effect) the file functions stay in it, so names in every script arrive whole and can be
// opened; otherwise they are switched to the console's OEM code page, so that names print as
// they are stored.
void PlatformStartUp() {
  if (!TextIsUtf8) SetFileApisToOEM();
}
