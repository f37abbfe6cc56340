#include "console/strings.h"

BStr PadLeft(const BStr& text, int width) {
  if (width <= text.length) return text;
  BStr out = RepeatChar(width - text.length, ' ');
  BAppend(out, text);
  return out;
}

BStr RepeatChar(int count, char c) {
  BStr out;
  if (count < 0) count = 0;
  if (count > BStrCapacity) count = BStrCapacity;
  std::memset(out.text, c, count);
  out.length = count;
  out.text[count] = 0;
  return out;
}

BStr UpperCaseAscii(const BStr& text) {
  BStr out = text;
  for (int i = 0; i < out.length; ++i) {
    char c = out.text[i];
    if (c >= 'a' && c <= 'z') out.text[i] = (char)(c - 'a' + 'A');
  }
  return out;
}
