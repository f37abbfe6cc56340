// ParseSizeValue on any upper-cased text of up to 255 bytes: never negative, and for plain
// decimal numbers (at most 15 significant digits, so a double holds them exactly enough) the
// value the runtime's reader gives, rounded half to even, then multiplied by the suffix and
// held at the largest 64-bit value.
#include <cmath>
#include <cstring>

#include "console/strings.h"
#include "driver/options.h"
#include "fuzz/fuzz_support.h"

namespace {
// The multiplier of a suffix, or 1.
long double Suffix(char c) {
  switch (c) {
    case 'K': return 1024.0L;
    case 'M': return 1048576.0L;
    case 'G': return 1073741824.0L;
  }
  return 1.0L;
}

// True when s is blanks, an optional sign, digits, an optional "." with digits: a number every
// reader agrees on.
bool PlainNumber(const std::string& s, int* significant) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  int digits = 0, beforePoint = 0;
  bool point = false;
  for (; i < s.size(); ++i) {
    if (s[i] >= '0' && s[i] <= '9') {
      ++digits;
      if (!point) ++beforePoint;
    } else if (s[i] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  *significant = digits;
  return beforePoint > 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string raw((const char*)data, size > 255 ? 255 : size);
  BStr upper = UpperCaseAscii(ToBStr(raw));
  int64_t value = ParseSizeValue(upper);
  FUZZ_CHECK(value >= 0);
  FUZZ_CHECK(ParseSizeValue(upper) == value);

  std::string text = ToString(upper);
  long double multiplier = text.empty() ? 1.0L : Suffix(text.back());
  std::string number = multiplier != 1.0L ? text.substr(0, text.size() - 1) : text;
  int significant = 0;
  if (PlainNumber(number, &significant) && significant <= 15) {
    long double read = std::fabs(std::strtold(number.c_str(), nullptr));
    long double rounded = std::nearbyintl(read);  // the default rounding: half to even
    long double expected = rounded * multiplier;
    if (expected >= std::ldexp(1.0L, 63))
      FUZZ_CHECK(value == INT64_MAX);
    else
      FUZZ_CHECK((long double)value == expected);
  }
  return 0;
}
