// The user's locale as the report shows it: the date and time of its title, the thousands
// separator of its figures and the list separator of -excel.
#pragma once

#include <cstdint>

#include "console/bounded_string.h"

// The title line's date and time in the user's locale.
BStr LocalDateTime();
// A time given in seconds since 1970 (UTC), as LocalDateTime shows the present one.
BStr LocalDateTimeOf(int64_t seconds);
// The user locale's thousands separator, or ',' when it has no single-byte one.
char LocaleThousandsSeparator();
// The user's list separator, as spreadsheets split a CSV file opened by a double-click: on
// Windows the first character of the locale's list separator (its UTF-8 bytes), "," when it
// has none or a quote or line end; on POSIX ";" when the locale's decimal point is ",", else ",".
BStr LocaleListSeparator();
