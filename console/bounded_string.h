// The program's bounded text types: length-prefixed byte strings with a fixed capacity. Every
// append, copy and insert keeps the first `Capacity` bytes, so the bound lives here alone.
// BStr (255 bytes) holds names, options, messages and report pieces; PathStr holds paths, which
// both builds allow up to 4095 bytes; ParamStr holds a parameter string (the stored defaults,
// the variable QUORVEL) and its tokens, which may carry values that name files or patterns.
#pragma once

#include <cstring>
#include <type_traits>

constexpr int BStrCapacity = 255;
// Room for the longest path either build allows (PATH_MAX less one on POSIX) and the separator
// the scan appends to it. What a build accepts is its PathBudget (console/strings.h); this is
// only the room.
constexpr int PathCapacity = 4096;
// Room for a parameter string: a few values of a full path budget with their options. A source
// that holds more is refused whole rather than cut, since a cut would change its last token.
constexpr int ParamCapacity = 8192;

template <int Capacity>
struct BoundedText {
  int length;               // 0..Capacity
  char text[Capacity + 1];  // text[length] is always 0, for calls that want C strings

  // A shorter text converts to a longer one implicitly; the other way round is BCopy, which
  // says that it may cut.
  template <int Wider, typename = std::enable_if_t<(Wider > Capacity)>>
  operator BoundedText<Wider>() const {
    BoundedText<Wider> out;
    out.length = length;
    std::memcpy(out.text, text, length + 1);
    return out;
  }
};

using BStr = BoundedText<BStrCapacity>;
using PathStr = BoundedText<PathCapacity>;
using ParamStr = BoundedText<ParamCapacity>;

template <int N>
inline void BClear(BoundedText<N>& s) {
  s.length = 0;
  s.text[0] = 0;
}

// Cuts s back to n bytes (no effect when it is already shorter).
template <int N>
inline void BCut(BoundedText<N>& s, int n) {
  if (n < s.length && n >= 0) {
    s.length = n;
    s.text[n] = 0;
  }
}

template <int N>
inline void BAppend(BoundedText<N>& s, const char* p, int n) {
  int room = N - s.length;
  if (n > room) n = room;
  if (n > 0) {
    std::memmove(s.text + s.length, p, n);
    s.length += n;
  }
  s.text[s.length] = 0;
}

template <int N>
inline void BAppend(BoundedText<N>& s, const char* z) {
  BAppend(s, z, (int)std::strlen(z));
}
template <int N, int M>
inline void BAppend(BoundedText<N>& s, const BoundedText<M>& t) {
  BAppend(s, t.text, t.length);
}
template <int N>
inline void BAppendChar(BoundedText<N>& s, char c) {
  BAppend(s, &c, 1);
}

template <int N>
inline void BSet(BoundedText<N>& s, const char* p, int n) {
  BClear(s);
  BAppend(s, p, n);
}
template <int N>
inline void BSet(BoundedText<N>& s, const char* z) {
  BSet(s, z, (int)std::strlen(z));
}

template <int N>
inline BoundedText<N> MakeText(const char* p, int n) {
  BoundedText<N> s;
  BSet(s, p, n);
  return s;
}
inline BStr BMake(const char* p, int n) {
  return MakeText<BStrCapacity>(p, n);
}
inline BStr BMake(const char* z) {
  return BMake(z, (int)std::strlen(z));
}
inline PathStr PMake(const char* p, int n) {
  return MakeText<PathCapacity>(p, n);
}
inline PathStr PMake(const char* z) {
  return PMake(z, (int)std::strlen(z));
}

// A copy of t in a text of capacity N: cut to its first N bytes when it is longer.
template <int N, int M>
inline BoundedText<N> BCopy(const BoundedText<M>& t) {
  return MakeText<N>(t.text, t.length);
}

template <int N>
inline bool BEquals(const BoundedText<N>& s, const char* z) {
  int n = (int)std::strlen(z);
  return n == s.length && std::memcmp(s.text, z, n) == 0;
}

template <int N, int M>
inline bool BEquals(const BoundedText<N>& a, const BoundedText<M>& b) {
  return a.length == b.length && std::memcmp(a.text, b.text, a.length) == 0;
}
