// Number texts shared by every report.
#pragma once

#include <cstdint>

#include "console/bounded_string.h"

// Separator of thousands; read from the user's locale at start-up.
extern char ThousandsSeparator;
// Written here alone: the start-up sequence sets the user locale's.
void SetThousandsSeparator(char separator);

// The value in decimal with ThousandsSeparator before each group of three digits and "-" for
// negatives; every 64-bit value fits (at most 26 characters).
BStr FormatThousands(int64_t value);

// The value in decimal, no separators, "-" for negatives.
BStr FormatPlain(int64_t value);

// part as a percentage of whole, rounded half to even: "0%" when whole is 0, "100%" from 100
// on, otherwise three characters right-justified and "%".
BStr FormatPercent(int64_t part, int64_t whole);

// value in 1,024-based units with one decimal: "512 B" below 1,024 bytes, else "12.3 K",
// "4.0 M", "1.2 G", "3.4 T", "5.0 P", "2.0 E", in the first unit whose figure stays below
// 1024.0 once rounded half to even; "-" for negatives. At most 11 characters.
BStr FormatUnits(int64_t value);
