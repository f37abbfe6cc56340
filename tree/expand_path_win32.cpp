// Win32 path expansion: forward slashes taken as backslashes, the current directory of the
// current drive, and that of another drive read by making it current for a moment. Only code for
// Windows goes in this file.
#include "console/windows_api.h"
#include "tree/expand_path.h"

namespace {
PathStr Current() {
  char buffer[PathCapacity + 1];
  DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
  if (n == 0 || n >= sizeof buffer) return PMake("C:\\");
  return PMake(buffer, (int)n);
}

PathStr OfDrive(char letter) {
  PathStr previous = Current();
  char drive[3] = {letter, ':', 0};
  PathStr result;
  if (SetCurrentDirectoryA(drive)) {
    result = Current();
    SetCurrentDirectoryA(previous.text);
  } else {
    char root[4] = {letter, ':', '\\', 0};
    result = PMake(root);
  }
  return result;
}
}  // namespace

// Windows takes "/" as a separator too, and users type it (C:/Users, from other shells); the
// expansion's rules know only the backslash, so every "/" is made one first.
PathStr ExpandPath(const PathStr& argument, bool* tooLong) {
  PathStr path = argument;
  for (int i = 0; i < path.length; ++i)
    if (path.text[i] == '/') path.text[i] = '\\';
  DriveDirectories dirs = {Current, OfDrive};
  return ExpandDrivePath(path, dirs, tooLong);
}
