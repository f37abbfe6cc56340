#include "console/strings.h"

BStr PadLeft(const BStr& text, int width) {
  if (width <= text.length) return text;
  BStr out = RepeatChar(width - text.length, ' ');
  BAppend(out, text);
  return out;
}

BStr ParentDirectoryWith(const BStr& path, char separator, int rootLength) {
  // Positions count from 1; the last character is not examined, so a trailing separator is
  // ignored and the parent of C:\A\ is C:\ .
  int p = 0;
  for (int i = path.length - 1; i >= 1; --i) {
    if (path.text[i - 1] == separator) {
      p = i;
      break;
    }
  }
  if (p < rootLength + 1) p = rootLength + 1;
  BStr out = path;
  BCut(out, p - 1);
  return out;
}

BStr ParentDirectory(const BStr& path) {
  return ParentDirectoryWith(path, PathSeparator, PathSeparator == '\\' ? 3 : 1);
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

void AppendSeparatorWith(BStr& path, int capacity, char separator) {
  if (path.length > 0 && path.text[path.length - 1] == separator) return;
  if (path.length + 1 > capacity || path.length + 1 > BStrCapacity) return;
  BAppendChar(path, separator);
}

void AppendBackslash(BStr& path, int capacity) { AppendSeparatorWith(path, capacity, PathSeparator); }
