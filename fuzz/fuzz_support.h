// Pieces the fuzz targets share: the program's end turned into an exception the target can
// catch, a byte reader over the fuzzer's input, and a check that stops the fuzzer with a
// message when an invariant breaks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "console/bounded_string.h"
#include "console/console.h"

// Thrown by the end-of-program hook: the launch options, the welcome screen and the quitting
// keys end the program, which must not end the fuzzing process.
struct ProgramEnded {
  int code;
};
inline void ThrowProgramEnded(int code) { throw ProgramEnded{code}; }

#define FUZZ_CHECK(cond)                                                               \
  do {                                                                                 \
    if (!(cond)) {                                                                     \
      std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)

// Reads the fuzzer's input front to back; past its end every read gives 0.
struct ByteReader {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;

  ByteReader(const uint8_t* d, size_t n) : data(d), size(n) {}
  bool Empty() const { return pos >= size; }
  size_t Left() const { return size - pos; }
  uint8_t Byte() { return pos < size ? data[pos++] : 0; }
  uint64_t Bits(int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | Byte();
    return v;
  }
  // Up to max bytes, ending early at a 0 byte (which is consumed).
  std::string Text(size_t max) {
    std::string s;
    while (pos < size && s.size() < max) {
      uint8_t c = data[pos++];
      if (c == 0) break;
      s.push_back((char)c);
    }
    return s;
  }
};

inline BStr ToBStr(const std::string& s) {
  return BMake(s.data(), (int)(s.size() > 255 ? 255 : s.size()));
}
inline ParamStr ToParamStr(const std::string& s) {
  return MakeText<ParamCapacity>(s.data(), (int)std::min(s.size(), (size_t)ParamCapacity));
}
// A path text: up to PathCapacity bytes, past both builds' budget of 4095.
inline PathStr ToPathStr(const std::string& s) {
  return PMake(s.data(), (int)(s.size() > (size_t)PathCapacity ? PathCapacity : s.size()));
}
template <int N>
inline std::string ToString(const BoundedText<N>& b) { return std::string(b.text, b.length); }

// A bounded string is well formed: length within its capacity and a terminating zero after it.
template <int N>
inline bool WellFormed(const BoundedText<N>& b) {
  return b.length >= 0 && b.length <= N && b.text[b.length] == 0;
}
