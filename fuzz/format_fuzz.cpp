// The number formatters on any 64-bit values: the digits always match the runtime's own
// decimal text, separators stand every three digits from the right, and a percentage is "0%"
// or four characters with a value that belongs to the ratio.
#include <cinttypes>
#include <cmath>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "report/format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  int64_t value = (int64_t)in.Bits(8);
  int64_t whole = (int64_t)in.Bits(8);
  char separator = (char)in.Byte();
  if (separator >= '0' && separator <= '9') separator = ',';

  char expected[32];
  std::snprintf(expected, sizeof expected, "%" PRId64, value);
  BStr plain = FormatPlain(value);
  FUZZ_CHECK(WellFormed(plain));
  FUZZ_CHECK(ToString(plain) == expected);

  ThousandsSeparator = separator;
  BStr grouped = FormatThousands(value);
  FUZZ_CHECK(WellFormed(grouped));
  std::string text = ToString(grouped), digits;
  int sinceSeparator = 0, groups = 0;
  bool first = true;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (i == 0 && c == '-') continue;
    if (c >= '0' && c <= '9') {
      digits.push_back(c);
      ++sinceSeparator;
    } else {
      FUZZ_CHECK(c == separator);
      FUZZ_CHECK(first ? sinceSeparator >= 1 && sinceSeparator <= 3 : sinceSeparator == 3);
      first = false;
      sinceSeparator = 0;
      ++groups;
    }
  }
  FUZZ_CHECK(sinceSeparator == 3 || (groups == 0 && sinceSeparator >= 1));
  FUZZ_CHECK((value < 0 ? "-" + digits : digits) == expected);
  ThousandsSeparator = ',';

  BStr percent = FormatPercent(value, whole);
  FUZZ_CHECK(WellFormed(percent));
  std::string p = ToString(percent);
  if (whole <= 0) {  // a whole of none, or below: no share of it
    FUZZ_CHECK(p == "0%");
  } else {
    FUZZ_CHECK(p.size() >= 4 && p.back() == '%');
    long shown = std::strtol(p.c_str(), nullptr, 10);
    long double ratio = (long double)value * 100.0L / (long double)whole;
    FUZZ_CHECK(shown <= 100);
    // The ratio is taken in double precision, as the report does: allow its rounding error.
    if (ratio >= 0 && ratio < 99.5L) FUZZ_CHECK(std::fabs((long double)shown - ratio) <= 0.5L + 1e-9L);
    if (ratio >= 100.0L) FUZZ_CHECK(shown == 100);
    if (ratio >= 0) FUZZ_CHECK(p.size() == 4);
  }
  return 0;
}
