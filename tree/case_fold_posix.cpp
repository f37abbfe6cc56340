// Letter case on POSIX systems. Their names never ignore case, so the program itself never asks
// for a fold here; the portable matcher and its tests still can, and get the simple upper-case
// partners of the Latin-1, Latin Extended-A, Greek and Cyrillic letters of UTF-8 names. Only
// code for POSIX systems goes in this file.
#include <cstring>

#include "tree/case_fold.h"

namespace {
bool Utf8Names = false;  // set before a scan, read by every thread during it
}  // namespace

void PrepareCaseFold(bool utf8) {
  Utf8Names = utf8;
}

unsigned FoldNonAscii(unsigned c) {
  // A byte of a one-byte code page: which letter it is depends on a code page not known here.
  if (!Utf8Names) return c;
  if (c == 0xB5) return 0x39C;  // the micro sign is a small Greek mu
  if (c >= 0xE0 && c <= 0xFE) return c == 0xF7 ? c : c - 0x20;  // not the division sign
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A pairs an upper-case letter with the next code point; from U+0139 to
    // U+0148 and from U+0179 on the upper-case letter is the odd one. U+0130, U+0131, U+0138,
    // U+0149 and U+017F have no simple partner in the pair.
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    bool oddUpper = (c >= 0x139 && c <= 0x148) || c >= 0x179;
    return (c % 2 == 1) == oddUpper ? c : c - 1;
  }
  // Greek: the final sigma folds with the other two; the accented vowels have partners of
  // their own below U+0390.
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x3B1 && c <= 0x3CB) return c - 0x20;
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;  // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  return c;
}

bool SameFileName(const char* a, int an, const char* b, int bn) {
  return an == bn && std::memcmp(a, b, (size_t)an) == 0;
}
