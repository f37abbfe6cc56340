// Win32 shell launch: ShellExecuteA with the default verb. Only code for Windows goes in this
// file.
#include "console/windows_api.h"
// shellapi.h needs the definitions of windows.h first.
#include <shellapi.h>

#include <cstring>

#include "mailer/shell_open.h"

namespace {
// A zero-terminated copy in a buffer of its own; an empty text stays an empty string, never a
// null pointer, because some shells treat null and "" differently.
void CopyText(char (&buffer)[256], const BStr& text) {
  std::memcpy(buffer, text.text, text.length);
  buffer[text.length] = 0;
}
}  // namespace

intptr_t ShellOpen(const BStr& file, const BStr& parameters, const BStr& directory,
                   int32_t showCommand) {
  char directoryText[256], parametersText[256], fileText[256];
  CopyText(directoryText, directory);
  CopyText(parametersText, parameters);
  CopyText(fileText, file);
  HINSTANCE result =
      ShellExecuteA(nullptr, nullptr, fileText, parametersText, directoryText, showCommand);
  return (intptr_t)result;
}
