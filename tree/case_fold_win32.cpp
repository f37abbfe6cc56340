// Letter case on Windows as the file system folds names: the system's upper-case mapping
// (LCMapStringW with LCMAP_UPPERCASE in the invariant locale, whose default is the file
// system's casing rather than a language's), read once into tables. Only code for Windows goes
// in this file.
#include <cstring>
#include <vector>

#include "console/output.h"
#include "console/strings.h"
#include "console/windows_api.h"
#include "tree/case_fold.h"

namespace {
bool Utf8Names = false;        // set before a scan
bool UnitsReady = false;       // UpperUnit holds the system's mapping
WCHAR UpperUnit[0x10000];      // each UTF-16 code unit to its upper case
UINT BytesCodePage = 0;        // the code page UpperByte was made for; 0: none yet
unsigned char UpperByte[256];  // each byte of that code page to its upper case

void MapUnits() {
  for (unsigned i = 0; i < 0x10000; ++i) UpperUnit[i] = (WCHAR)i;
  // Surrogates are halves of characters beyond U+FFFF, whose case the file system keeps as it
  // is; every other code unit is mapped in a few calls.
  const unsigned ranges[2][2] = {{0x80, 0xD800}, {0xE000, 0x10000}};
  for (const auto& r : ranges) {
    int n = (int)(r[1] - r[0]);
    std::vector<WCHAR> mapped(n);
    if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &UpperUnit[r[0]], n, mapped.data(), n) ==
        n) {
      for (int i = 0; i < n; ++i) UpperUnit[r[0] + i] = mapped[i];
      continue;
    }
    // A system that maps a long run differently: one unit at a time, keeping any that does not
    // map to exactly one.
    for (unsigned u = r[0]; u < r[1]; ++u) {
      WCHAR in = (WCHAR)u, out;
      if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &in, 1, &out, 1) == 1) UpperUnit[u] = out;
    }
  }
  UnitsReady = true;
}

// The character of a name at s (before end), folded: its length in bytes, its folded form in
// *folded.
int FoldedCharAt(const char* s, const char* end, unsigned* folded) {
  unsigned c = (unsigned char)*s;
  int n = 1;
  if (Utf8Names) n = Utf8CharLength((const unsigned char*)s, (int)(end - s), &c);
  *folded = c >= 0x80 ? FoldNonAscii(c) : c >= 'a' && c <= 'z' ? c - 32 : c;
  return n;
}

// The bytes of the code page the file functions use (the OEM one once they were switched to
// it): a byte is a letter there, folded through its UTF-16 form when that maps back to one
// byte.
void MapBytes() {
  UINT codePage = AreFileApisANSI() ? GetACP() : GetOEMCP();
  if (codePage == BytesCodePage) return;
  BytesCodePage = codePage;
  for (unsigned b = 0; b < 256; ++b) {
    UpperByte[b] = (unsigned char)b;
    char in = (char)b, out;
    WCHAR wide;
    BOOL lossy = FALSE;
    if (b < 0x80 || codePage == CP_UTF8 ||
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, &in, 1, &wide, 1) != 1)
      continue;
    WCHAR upper = UpperUnit[wide];
    if (WideCharToMultiByte(codePage, 0, &upper, 1, &out, 1, nullptr, &lossy) == 1 && !lossy)
      UpperByte[b] = (unsigned char)out;
  }
}
}  // namespace

void PrepareCaseFold(bool utf8) {
  Utf8Names = utf8;
  if (!UnitsReady) MapUnits();
  if (!utf8) MapBytes();
}

unsigned FoldNonAscii(unsigned c) {
  if (!Utf8Names) return c < 256 ? UpperByte[c] : c;
  // NTFS keeps one upper-case table for the code units of the Basic Multilingual Plane; the
  // letters beyond it never fold.
  return c < 0x10000 ? UpperUnit[c] : c;
}

bool SameFileName(const char* a, int an, const char* b, int bn) {
  if (an == bn && std::memcmp(a, b, (size_t)an) == 0) return true;
  // The names' code page, as the run set it up (the matcher prepares the same).
  PrepareCaseFold(TextIsUtf8);
  const char *ae = a + an, *be = b + bn;
  while (a < ae && b < be) {
    unsigned x, y;
    a += FoldedCharAt(a, ae, &x);
    b += FoldedCharAt(b, be, &y);
    if (x != y) return false;
  }
  return a == ae && b == be;
}
