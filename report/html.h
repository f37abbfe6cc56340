// The page export: one self-contained HTML page that draws the shown tree as a treemap a
// browser zooms into. The page's layout, drawing and interaction are its own script and style
// (report/page), carried in the program; this writes them with the tree as data.
#pragma once

#include <cstdint>

#include "driver/run_record.h"
#include "tree/dir_node.h"

// What became of a directory since a saved scan.
enum PageChange : unsigned char { PageSame = 0, PageNew = 1, PageGone = 2, PageMoved = 3 };

// A directory's growth: total now less total then (a new one's whole total, a gone one's former
// total negated), and its change.
struct PageGrowth {
  int64_t bytes;
  PageChange change;
};

// Gives the growth of one directory of the shown tree. The run driver passes one when the run
// compares with a saved scan; without it the page colours by depth and shows no growth.
typedef PageGrowth (*PageGrowthOf)(const DirNode* node);

// Writes the page of the record's tree (run.root) to standard output: the page's template with, as
// data, the start directory as the platform spells it, every shown directory in report order
// (pre-order) with its depth, total, own bytes, wasted bytes, files and merge mark, and with
// growthOf its growth and change; the run's totals and the time of writing (UTC); and when the
// tree keeps its files (run.settings.files), those that take at least 1/2,000 of the start
// directory's total, with their sizes as the tree counts them and their directories. Names are
// written as JSON strings inside the page's data block, with "<", ">" and "&" escaped (so no
// "</script>" or "<!--" can end or bend the block) and U+2028, U+2029 and control characters
// escaped; a byte that is no part of a UTF-8 character is written as U+FFFD, as the JSON export
// does. Lines end in LF on both builds, so both write the same page for the same tree.
void WriteHtmlReport(const RunRecord& run, const char* version, PageGrowthOf growthOf = nullptr);
