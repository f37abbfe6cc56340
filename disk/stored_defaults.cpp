#include "disk/stored_defaults.h"

BStr StoredDefaultParams = {0, {0}};

BStr StoredText(const char* bytes, int length, bool endAtLine) {
  int n = 0;
  while (n < length && n < BStrCapacity) {
    char c = bytes[n];
    if (c == 0 || (endAtLine && (c == '\n' || c == '\r'))) break;
    ++n;
  }
  return BMake(bytes, n);
}
