#include "disk/stored_defaults.h"

ParamStr StoredDefaultParams = {0, {0}};
bool StoredDefaultsTooLong = false;

ParamStr StoredText(const char* bytes, int length, bool endAtLine, bool* tooLong) {
  int n = 0;
  while (n < length) {
    char c = bytes[n];
    if (c == 0 || (endAtLine && (c == '\n' || c == '\r'))) break;
    ++n;
  }
  *tooLong = n > ParamCapacity;
  return MakeText<ParamCapacity>(bytes, *tooLong ? 0 : n);
}
