// POSIX pieces of the run driver: the program's set-up.
// Only code for POSIX systems goes in this file.
#include <clocale>

#include "driver/run.h"

void PlatformStartUp() {
  std::setlocale(LC_ALL, "");
  // Numbers in options are read with "." whatever the locale says.
  std::setlocale(LC_NUMERIC, "C");
}
