// POSIX process facts: the QUORVEL variable, /proc/self/exe, and the stored-defaults file as the
// configuration target. Only code for POSIX systems goes in this file.
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "disk/stored_defaults.h"
#include "driver/system.h"

bool ReadParameterVariable(BStr* value) {
  const char* text = std::getenv("QUORVEL");
  if (text == nullptr) return false;
  size_t n = std::strlen(text);
  // The same bound as the Windows build's 255-byte buffer: 254 bytes and its zero fit.
  if (n == 0 || n >= 255) return false;
  BSet(*value, text, (int)n);
  return true;
}

BStr OwnDirectory() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  BStr dir;
  BClear(dir);
  if (n <= 0 || n >= (ssize_t)sizeof path) return dir;
  int end = (int)n;
  while (end > 0 && path[end - 1] != '/') --end;
  BSet(dir, path, end);
  return dir;
}

BStr ConfigTarget() {
  return StoredDefaultsFile(true);
}
