// POSIX pieces of the locale: its separators and its date and time.
// Only code for POSIX systems goes in this file.
#include <clocale>
#include <cstring>
#include <ctime>

#include "driver/locale.h"

char LocaleThousandsSeparator() {
  std::setlocale(LC_NUMERIC, "");
  const char* sep = std::localeconv()->thousands_sep;
  char c = (sep && std::strlen(sep) == 1) ? sep[0] : ',';
  std::setlocale(LC_NUMERIC, "C");
  return c;
}

BStr LocaleListSeparator() {
  std::setlocale(LC_NUMERIC, "");
  const char* point = std::localeconv()->decimal_point;
  bool comma = point && std::strcmp(point, ",") == 0;
  std::setlocale(LC_NUMERIC, "C");
  return BMake(comma ? ";" : ",");
}

BStr LocalDateTime() {
  return LocalDateTimeOf((int64_t)std::time(nullptr));
}

BStr LocalDateTimeOf(int64_t seconds) {
  std::time_t when = (std::time_t)seconds;
  struct std::tm local;
  if (!localtime_r(&when, &local)) return BMake("?");
  char buffer[256];
  size_t n = std::strftime(buffer, sizeof buffer, "%x %X", &local);
  return BMake(buffer, (int)n);
}
