// The program's one bounded text type: a length-prefixed byte string of at most 255 bytes.
// Every append, copy and insert keeps the first 255 bytes, so the bound lives here alone.
#pragma once

#include <cstring>

constexpr int BStrCapacity = 255;

struct BStr {
  int length;                      // 0..255
  char text[BStrCapacity + 1];     // text[length] is always 0, for calls that want C strings
};

inline void BClear(BStr& s) {
  s.length = 0;
  s.text[0] = 0;
}

// Cuts s back to n bytes (no effect when it is already shorter).
inline void BCut(BStr& s, int n) {
  if (n < s.length && n >= 0) {
    s.length = n;
    s.text[n] = 0;
  }
}

inline void BAppend(BStr& s, const char* p, int n) {
  int room = BStrCapacity - s.length;
  if (n > room) n = room;
  if (n > 0) {
    std::memcpy(s.text + s.length, p, n);
    s.length += n;
  }
  s.text[s.length] = 0;
}

inline void BAppend(BStr& s, const char* z) { BAppend(s, z, (int)std::strlen(z)); }
inline void BAppend(BStr& s, const BStr& t) { BAppend(s, t.text, t.length); }
inline void BAppendChar(BStr& s, char c) { BAppend(s, &c, 1); }

inline void BSet(BStr& s, const char* p, int n) {
  BClear(s);
  BAppend(s, p, n);
}
inline void BSet(BStr& s, const char* z) { BSet(s, z, (int)std::strlen(z)); }

inline BStr BMake(const char* z) {
  BStr s;
  BSet(s, z);
  return s;
}
inline BStr BMake(const char* p, int n) {
  BStr s;
  BSet(s, p, n);
  return s;
}

inline bool BEquals(const BStr& s, const char* z) {
  int n = (int)std::strlen(z);
  return n == s.length && std::memcmp(s.text, z, n) == 0;
}

inline bool BEquals(const BStr& a, const BStr& b) {
  return a.length == b.length && std::memcmp(a.text, b.text, a.length) == 0;
}
