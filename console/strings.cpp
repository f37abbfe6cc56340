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

int Utf8CharLength(const unsigned char* bytes, int length, unsigned* cp) {
  unsigned char c = bytes[0];
  int n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 1;
  *cp = c;
  if (n == 1 || n > length) return 1;
  unsigned v = c & (0x7F >> n);
  for (int i = 1; i < n; ++i) {
    if ((bytes[i] & 0xC0) != 0x80) return 1;
    v = (v << 6) | (bytes[i] & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not characters.
  if ((n == 3 && v < 0x800) || (n == 4 && (v < 0x10000 || v > 0x10FFFF)) ||
      (v >= 0xD800 && v <= 0xDFFF))
    return 1;
  *cp = v;
  return n;
}
