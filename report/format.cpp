#include "report/format.h"

#include <cmath>

#include "console/strings.h"

char ThousandsSeparator = ',';

void SetThousandsSeparator(char separator) {
  ThousandsSeparator = separator;
}

namespace {
// The digits of |value|, most significant first.
int Digits(int64_t value, char* out) {
  uint64_t v = value < 0 ? (uint64_t)0 - (uint64_t)value : (uint64_t)value;
  char rev[24];
  int n = 0;
  do {
    rev[n++] = (char)('0' + v % 10);
    v /= 10;
  } while (v);
  for (int i = 0; i < n; ++i) out[i] = rev[n - 1 - i];
  return n;
}
}  // namespace

BStr FormatThousands(int64_t value) {
  char digits[24];
  int n = Digits(value, digits);
  BStr out;
  BClear(out);
  if (value < 0) BAppendChar(out, '-');
  for (int i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) BAppendChar(out, ThousandsSeparator);
    BAppendChar(out, digits[i]);
  }
  return out;
}

BStr FormatPlain(int64_t value) {
  char digits[24];
  int n = Digits(value, digits);
  BStr out;
  BClear(out);
  if (value < 0) BAppendChar(out, '-');
  BAppend(out, digits, n);
  return out;
}

BStr FormatPercent(int64_t part, int64_t whole) {
  // The figures are never negative; should one reach here, it counts as none, so that no
  // percentage is below 0% nor above 100%.
  if (whole <= 0) return BMake("0%");
  if (part < 0) part = 0;
  double r = std::nearbyint((double)part * 100.0 / (double)whole);
  if (r >= 100) return BMake("100%");
  BStr out = PadLeft(FormatPlain((int64_t)r), 3);
  BAppendChar(out, '%');
  return out;
}

BStr FormatUnits(int64_t value) {
  static const char Units[] = "KMGTPE";
  uint64_t v = value < 0 ? (uint64_t)0 - (uint64_t)value : (uint64_t)value;
  BStr out;
  BClear(out);
  if (value < 0) BAppendChar(out, '-');
  if (v < 1024) {
    BAppend(out, FormatPlain((int64_t)v));
    BAppend(out, " B");
    return out;
  }
  // The tenths of v in the first unit where they stay below 1024.0 once rounded (1,048,575
  // bytes are "1.0 M", not "1024.0 K"), rounded half to even. Exact in 64 bits: the remainder
  // times 10 stays below 10 x 2^60.
  uint64_t tenths = 0;
  int unit = 0;
  for (; unit < 6; ++unit) {
    int shift = 10 * (unit + 1);
    uint64_t divisor = (uint64_t)1 << shift;
    uint64_t whole = v >> shift, scaled = (v & (divisor - 1)) * 10;
    tenths = whole * 10 + scaled / divisor;
    uint64_t rest = scaled % divisor;
    if (rest * 2 > divisor || (rest * 2 == divisor && tenths % 2 == 1)) ++tenths;
    if (tenths < 10240) break;
  }
  if (unit == 6) unit = 5;  // beyond 1023.9 E no 64-bit value reaches
  BAppend(out, FormatPlain((int64_t)(tenths / 10)));
  BAppendChar(out, '.');
  BAppendChar(out, (char)('0' + tenths % 10));
  BAppendChar(out, ' ');
  BAppendChar(out, Units[unit]);
  return out;
}
