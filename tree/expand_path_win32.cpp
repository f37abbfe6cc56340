// Win32 path expansion: the current directory of the current drive, and that of another drive
// read by making it current for a moment. Only code for Windows goes in this file.
#include "console/windows_api.h"
#include "tree/expand_path.h"

namespace {
BStr Current() {
  char buffer[MAX_PATH + 1];
  DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
  if (n == 0 || n >= sizeof buffer) return BMake("C:\\");
  return BMake(buffer, (int)n);
}

BStr OfDrive(char letter) {
  BStr previous = Current();
  char drive[3] = {letter, ':', 0};
  BStr result;
  if (SetCurrentDirectoryA(drive)) {
    result = Current();
    SetCurrentDirectoryA(previous.text);
  } else {
    char root[4] = {letter, ':', '\\', 0};
    result = BMake(root);
  }
  return result;
}
}  // namespace

PathStr ExpandPath(const PathStr& argument) {
  DriveDirectories dirs = {Current, OfDrive};
  return ExpandDrivePath(argument, dirs);
}
