// Win32 pieces of the locale: its separators and its date and time.
// Only code for Windows goes in this file.
#include "console/output.h"
#include "console/windows_api.h"
#include "driver/locale.h"

char LocaleThousandsSeparator() {
  char buffer[12];
  if (!TextIsUtf8) {
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, buffer, sizeof buffer) == 0)
      return ',';
    return buffer[0];
  }
  // The answer comes in the locale's own ANSI code page unless the program's (UTF-8) is asked
  // for. A separator outside ASCII (a no-break space, an apostrophe) then takes several bytes,
  // and one byte of it would be a broken character in every number: such a locale gets ",".
  int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND | LOCALE_USE_CP_ACP, buffer,
                         sizeof buffer);
  return n == 2 ? buffer[0] : ',';
}

BStr LocaleListSeparator() {
  // Asked in UTF-16 and given in UTF-8, the text of the file whatever the code page: a
  // separator outside ASCII (Arabic's) stays one character.
  WCHAR wide[8];
  BStr separator = BMake(",");
  int n = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SLIST, wide, 8);
  if (n < 2 || wide[0] == L'"' || wide[0] == L'\r' || wide[0] == L'\n') return separator;
  int units = (wide[0] >= 0xD800 && wide[0] < 0xDC00 && n > 2) ? 2 : 1;
  char bytes[8];
  int length = WideCharToMultiByte(CP_UTF8, 0, wide, units, bytes, sizeof bytes, nullptr, nullptr);
  if (length > 0) BSet(separator, bytes, length);
  return separator;
}

namespace {
// The date and time of when (the present one when null) in the locale's short date and time.
BStr FormatDateTime(const SYSTEMTIME* when) {
  char date[128], time[128];
  int d = GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, when, nullptr, date, sizeof date);
  int t = GetTimeFormatA(LOCALE_USER_DEFAULT, 0, when, nullptr, time, sizeof time);
  BStr s;
  BClear(s);
  if (d > 0) BAppend(s, date, d - 1);
  BAppendChar(s, ' ');
  if (t > 0) BAppend(s, time, t - 1);
  return s;
}
}  // namespace

BStr LocalDateTime() {
  return FormatDateTime(nullptr);
}

BStr LocalDateTimeOf(int64_t seconds) {
  // Seconds since 1970 as the 100-nanosecond ticks since 1601 a FILETIME holds.
  ULARGE_INTEGER ticks;
  ticks.QuadPart = (ULONGLONG)(seconds + 11644473600LL) * 10000000ULL;
  FILETIME utc = {ticks.LowPart, ticks.HighPart}, local;
  SYSTEMTIME when;
  if (seconds < 0 || !FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &when))
    return BMake("?");
  return FormatDateTime(&when);
}
