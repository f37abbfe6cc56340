// Win32 pieces of the run driver: OEM file names, the locale's separator and date.
// Only code for Windows goes in this file.
#include "console/windows_api.h"
#include "driver/run.h"

void PlatformStartUp() { SetFileApisToOEM(); }

char LocaleThousandsSeparator() {
  char buffer[12];
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, buffer, sizeof buffer) == 0) return ',';
  return buffer[0];
}

BStr LocalDateTime() {
  char date[128], time[128];
  int d = GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, sizeof date);
  int t = GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, time, sizeof time);
  BStr s;
  BClear(s);
  if (d > 0) BAppend(s, date, d - 1);
  BAppendChar(s, ' ');
  if (t > 0) BAppend(s, time, t - 1);
  return s;
}
