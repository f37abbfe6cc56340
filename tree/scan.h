// The scan: reads a directory tree depth-first into DirNodes, placing each finished
// subdirectory by the sort order, collapsing at the depth limit and folding small ones.
#pragma once

#include <cstdint>

#include "console/bounded_string.h"
#include "tree/dir_node.h"
#include "tree/sort_order.h"

// Settings the scan reads; the run driver copies them from RunOptions before each scan.
struct ScanSettings {
  bool dirListingSizes;  // exact sizes, no rounding, no entry-table charge
  int maxDepth;          // levels below the root kept as nodes of their own (1..254, or no limit)
  int64_t minSize;       // subdirectories below this total are folded into their parent
  SortOrder sortOrder;
  int rootPathLength;  // a directory whose path (with separator) is this long or shorter is
                       // a drive root and is not charged for its entry table
  int pathBudget;      // the longest path (with patternRoom) that is read
  int patternRoom;     // bytes the enumeration adds to a path (PathPatternRoom)
};
extern ScanSettings Scan;

// True when a subdirectory called by a name of nameLength bytes, below a directory whose path
// with its separator is parentLength bytes long, is read: its path and the room its
// enumeration adds (a pattern on Windows, nothing on POSIX) fit in the budget. Others are
// skipped with a message.
inline bool SubdirectoryFits(long parentLength, long nameLength) {
  return parentLength + nameLength + Scan.patternRoom <= Scan.pathBudget;
}

// Path of the directory being read; set to the expanded root path by the run driver.
extern PathStr ScanPath;
// Directories whose reading is under way.
extern int ScanDepth;
// Run totals: files counted, and every directory's own padding. Zeroed by the run driver.
extern int32_t TotalFiles;
extern int64_t TotalWaste;
// Directories whose listing could not be read (they count as empty); directories on another
// file system or with no entry at all are not among them. Zeroed as each scan starts.
extern int32_t UnreadableDirectories;
// Subdirectories left out because they matched an exclusion pattern (those below them are not
// counted: they were never seen). Zeroed as each scan starts.
extern int32_t ExcludedDirectories;

// Reads the directory whose path is in ScanPath into n. False only when the path was not found
// (after writing its message).
bool ScanDirectory(DirNode* n);
