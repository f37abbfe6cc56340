// The run driver: one report for one directory.
#pragma once

#include <cstdint>

#include "console/bounded_string.h"

// Expands the directory, checks the drive, scans the tree, writes the report in the form the
// options choose, and releases the tree.
void RunDirectory();

// Whether the last RunDirectory wrote a report: false when the drive could not be queried or
// the start directory was not found. Written by RunDirectory; the entry turns false into exit
// code 1.
extern bool ReportMade;
// Whether a dump asked for with -save could not be written whole (the report was made; the file
// was left as it was). Written by RunDirectory; the entry turns true into exit code 1.
extern bool SaveFailed;

// Whether the run writes the dump of -save=- on standard output, and so nothing else there: no
// report, no form feed.
bool DumpGoesToStandardOutput();

// The start-up sequence up to the parameters: platform set-up, thousands separator, display
// defaults by redirection.
void StartUp();

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
// Switches the file functions to the console's code page, and the like.
void PlatformStartUp();
