// Win32 process facts: GetEnvironmentVariableA, GetFileAttributesA, GetModuleFileNameA. Only
// code for Windows goes in this file.
#include <fcntl.h>
#include <io.h>

#include "console/windows_api.h"
#include "driver/system.h"

// A double quote cannot be part of a Windows name: one in an argument is the C runtime's
// reading of a backslash before a closing quote.
const bool ArgumentQuotesAreStray = true;

// The C runtime's numbers 0 to 2: one without a handle would be given to the next file opened,
// and what goes to stderr would land there. (The console's own handles are asked of the system
// and are left as they are.)
void OpenStandardDescriptors() {
  for (int fd = 0; fd < 3; ++fd) {
    intptr_t handle = _get_osfhandle(fd);
    if (handle != -1 && handle != -2) continue;
    int opened = _open("NUL", _O_RDONLY | _O_BINARY);
    if (opened >= 0 && opened != fd) {
      _dup2(opened, fd);
      _close(opened);
    }
  }
}

bool ReadParameterVariable(ParamStr* value, bool* tooLong) {
  static char buffer[ParamCapacity + 1];
  DWORD n = GetEnvironmentVariableA("Quorvel", buffer, sizeof buffer);
  // n is 0 when the variable is missing or empty, and the size it would need (more than the
  // buffer) when it does not fit.
  *tooLong = n >= sizeof buffer;
  if (n == 0 || *tooLong) return false;
  BSet(*value, buffer, (int)n);
  return true;
}

bool DirectoryExists(const PathStr& path) {
  DWORD attributes = GetFileAttributesA(path.text);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

BStr OwnDirectory() {
  char path[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  BStr dir;
  BClear(dir);
  if (n == 0 || n >= MAX_PATH) return dir;
  int end = (int)n;
  while (end > 0 && path[end - 1] != '\\') --end;
  BSet(dir, path, end);
  return dir;
}

BStr ConfigTarget() {
  BStr target = OwnDirectory();
  BAppend(target, "config.exe");
  return target;
}

// Windows opens every target through the shell, in the program the user chose for it there.
bool OpenInTerminal(LaunchKind kind, const BStr& target) {
  return false;
}
