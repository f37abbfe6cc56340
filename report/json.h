// The JSON export: the whole report as one document, for programs to read, and for a later
// version to report on a saved scan without reading the disk again. So it holds every figure
// the screen report shows (the tree as shaped, the totals, the drive) and the settings that
// shaped it.
#pragma once

#include "driver/run_record.h"

// Writes the document of the record's tree (run.root): the run's facts (program version, directory,
// time of creation in UTC, cluster size, the settings of the scan, the drive, the run's totals)
// and "tree", the root node; each node holds "name", "own", "wasted", "files", "total",
// "merged" and "children", siblings in report order, and "read_error": true for a directory that
// could not be read, or not whole, or vanished during the scan. A text that is not valid UTF-8 is written
// with U+FFFD for each byte that is not, and the exact bytes follow in hexadecimal under the
// same key with "_hex" appended ("name_hex", "directory_hex"). Lines end in LF on both builds.
// A report of a saved scan adds "saved_scan" (its file and when it was made) and has "drive"
// null when the dump held no statistics; with -since, "since" (the file, when, the total
// growth), and every node "growth" and "change" ("new", "gone" or null).
void WriteJsonReport(const RunRecord& run, const char* version);
