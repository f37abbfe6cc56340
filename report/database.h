// The database forms of the report: one row per directory with its full path and its byte
// counts, in fixed columns separated by tabs or comma-separated, for loading into other
// programs; and the CSV export, rows that load as they are. All follow the line-selection
// protocol and run through RunReport with NoFooter.
#pragma once

#include <cstdint>
#include <string>

#include "console/bounded_string.h"
#include "driver/run_record.h"
#include "tree/dir_node.h"

// The path of the directory whose children are being written (RowPath), always ending in the
// path separator: this module's own, set by the run driver (SetRowPath) before the report; the
// walkers extend it and cut it back after each subtree.
const PathStr& CurrentRowPath();

// RowPath := the scanned directory's full path with a separator appended unless it already
// ends with one (a drive root or "/" keeps its single separator). Rows join names with the
// build's separator, or with the other system's when the path holds only that one (a saved
// scan made there).
void SetRowPath(const PathStr& scannedPath);

// Header routines: the quoted column titles and an empty line; 2 when probed, else 0.
int32_t TabHeader(const RunRecord& run);
int32_t CommaHeader(const RunRecord& run);

// Walkers of the record's tree (run.root): one row per directory in the order of the drawn tree.
void WalkTabTree(const RunRecord& run);
void WalkCommaTree(const RunRecord& run);

// The CSV export (RFC 4180): the header line "own_bytes,wasted_bytes,total_bytes,files,path"
// (1 when probed) and one row per directory; LF line ends on both builds; a path holding a
// comma, a double quote or a line end is quoted, its quotes doubled; names keep their bytes.
// With growth since a saved scan, "growth_bytes" and "change" (new, gone or empty) come
// before the path; the fixed and comma forms then have a growth column before the path too.
int32_t CsvHeader(const RunRecord& run);
void WalkCsvTree(const RunRecord& run);

// The rows of the CSV export as Excel opens them by a double-click (-excel): the same header
// and fields, but a UTF-8 byte order mark before the header, CR LF line ends, and the list
// separator (SetListSeparator) between fields; a field holding it, a double quote or a line
// end is quoted. Nothing precedes the header.
int32_t ExcelHeader(const RunRecord& run);
void WalkExcelTree(const RunRecord& run);
// The separator of -excel: one character, its UTF-8 bytes (at most 8); "," when none is given.
void SetListSeparator(const char* bytes, int length);

// The full path of an entry whose path below the start directory is rel, as the rows spell
// it: RowPath (SetRowPath first), then rel with the rows' separator.
std::string RowPathOf(const std::string& rel);

// The CSV export of the largest files and directories (-csv -top=N): the header line
// "kind,bytes,path" (1 when probed), then a row "file" or "dir", bytes, path for each entry of
// the record's lists of the largest (run.largest), the files first, each list largest first; quoted as the CSV export quotes.
// The walker writes these rows wherever it is started: the tree is not part of this form.
int32_t TopCsvHeader(const RunRecord& run);
void WalkTopCsvRows(const RunRecord& run);
// The same lists as -excel spells its rows.
int32_t TopExcelHeader(const RunRecord& run);
void WalkTopExcelRows(const RunRecord& run);
