// Win32 process facts: GetEnvironmentVariableA, GetModuleFileNameA. Only code for Windows goes
// in this file.
#include "console/windows_api.h"
#include "driver/system.h"

bool ReadParameterVariable(BStr* value) {
  char buffer[255];
  DWORD n = GetEnvironmentVariableA("Quorvel", buffer, sizeof buffer);
  // n is 0 when the variable is missing or empty, and the size it would need (more than the
  // buffer) when it does not fit.
  if (n == 0 || n >= sizeof buffer) return false;
  BSet(*value, buffer, (int)n);
  return true;
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
