// The record of one run: the options it was asked with, the settings derived from them once,
// the drive's facts, what the tree's reading met, the saved-scan notes, the lists of the
// largest and the root of the tree. Owned and written by the run driver alone, which fills it
// as the run goes and passes it, read-only, to the report forms.
#pragma once

#include <cstdint>
#include <vector>

#include "console/bounded_string.h"
#include "disk/drive.h"
#include "report/saved_scans.h"
#include "tree/dir_node.h"
#include "tree/file_changes.h"
#include "tree/scan.h"
#include "tree/sort_order.h"
#include "tree/top_list.h"
#include "tree/tree_builder.h"

// Screen: the drawn tree; Tab and Comma: the two database forms; Csv and Json: the exports for
// other programs, Html the page for a browser and Excel the CSV rows as Excel opens them, each
// written alone on standard output.
enum OutputMode : unsigned char {
  Screen = 0,
  Tab = 1,
  Comma = 2,
  Csv = 3,
  Json = 4,
  Html = 5,
  Excel = 6
};

// Whether the form is an export: written alone on standard output, without banner, title or
// form feed (the table of report forms says which are).
bool IsExport(OutputMode mode);

struct RunOptions {
  unsigned char maxDepth;  // levels below the root shown as nodes of their own
  int64_t minSize;         // bytes; never negative
  OutputMode outputMode;
  int32_t clusterSizeOverride;  // 0: the drive's; at most 65536
  bool dirListingSizes;
  PathStr directory;  // as given, not upper-cased (see directoryTooLong)
  SortOrder sortOrder;
  std::vector<PathStr> excludes;  // -exclude patterns as given, in order; each <= PathBudget bytes
  // Saved scans, as given (not upper-cased); empty when not asked for. -save=FILE: the scan is
  // also written to FILE; -from=FILE: the report is made from the dump in FILE ("-": standard
  // input); -since=FILE: each directory's growth since the dump in FILE.
  PathStr saveFile, fromFile, sinceFile;
  // The token that named the directory held more than PathBudget bytes. directory then holds its
  // first PathCapacity bytes, still more than the budget: the run must refuse the path as too
  // long, never report the shorter one (an ancestor, or another directory).
  bool directoryTooLong = false;
  // The reading threads QUORVEL_THREADS asks for (1 to 256); 0 when it does not say, or says
  // something else: then the build's default. Set by ProcessParameters.
  int readAheadThreads = 0;
  // -top=N: the N largest files and the N directories holding the most bytes of their own are
  // listed after the report (1 to MostTopEntries); 0: no lists.
  int topCount = 0;
  // -browse: the report is a browser on the terminal; -nodelete: it deletes nothing.
  bool browse = false;
  bool noDelete = false;
  // -changed: with -since, only the directories that changed, and those above them.
  bool changedOnly = false;
};

struct RunRecord {
  RunOptions options;      // as the parameters left them when the run began
  BuildSettings settings;  // the tree's, derived once from the options and the drive or dump
  PathStr path;            // the start directory, expanded, as the report spells it
  DriveFacts drive;
  ScanOutcome outcome;     // what the reading met: totals' troubles, named directories
  SavedScanNotes saved;    // the dumps the report was read from or compared with
  TopLists largest;        // -top=N, ranked; empty lists of limit 0 without it
  FileChangeLists changes;  // -since: the files behind the growth; lists of limit 0 without it
  DirNode root;            // the tree
  bool reportMade = false;
  bool saveFailed = false;
};
