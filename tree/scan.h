// The scan of the disk: reads a directory tree depth-first through the enumeration
// (tree/find.h) and hands every listing, as it reads it, to the tree builder
// (tree/tree_builder.h), which builds, sizes and shapes the tree (and hands it on to the dump
// writer when the scan is saved). What is the disk's stays here: the visiting order, the path
// budget and its lines, directories that vanish or cannot be read, the spinner, and giving
// memory back when it runs short.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console/bounded_string.h"
#include "tree/dir_node.h"
#include "tree/exclude.h"
#include "tree/sort_order.h"
#include "tree/top_list.h"
#include "tree/tree_builder.h"

// Settings of the scan and of the tree it builds; the run driver copies them from RunOptions
// before each scan, and the reports read how the tree was shaped here.
struct ScanSettings {
  bool dirListingSizes;  // exact sizes, no rounding, no entry-table charge
  int maxDepth;          // levels below the root kept as nodes of their own (1..254, or no limit)
  int64_t minSize;       // subdirectories below this total are folded into their parent
  SortOrder sortOrder;
  int rootPathLength;  // a directory whose path (with separator) is this long or shorter is
                       // a drive root and is not charged for its entry table
  int pathBudget;      // the longest path (with patternRoom) that is read
  int patternRoom;     // bytes the enumeration adds to a path (PathPatternRoom)
  // The file system's own allocation unit (the drive's cluster size): space it gives a file
  // beyond the file's data rounded to this unit was reserved past the end, and is charged too.
  int32_t fileSystemCluster;
  // Worker threads the POSIX build may start to read directories ahead of the scan (1: reads
  // in line, with none); 0: the build's default. The Windows build always reads in line.
  int readAheadThreads = 0;
  // Subdirectories are measured as they are listed, for their own sizes (a saved scan holds
  // them); read by the threads that read ahead too.
  bool directorySizes = false;
  // The lists of the largest files and directories the scan fills (-top=N), started by the run
  // driver; null: none.
  TopLists* top = nullptr;
};
extern ScanSettings Scan;

// True when a subdirectory called by a name of nameLength bytes, below a directory whose path
// with its separator is parentLength bytes long, is read: its path and the room its
// enumeration adds (a pattern on Windows, nothing on POSIX) fit in the budget. Others are
// skipped with a message.
inline bool SubdirectoryFits(long parentLength, long nameLength) {
  return parentLength + nameLength + Scan.patternRoom <= Scan.pathBudget;
}

// True for the entries "." and ".." of a listing, which are no subdirectories to read.
inline bool IsDotOrDotDot(const char* name, int length) {
  return name[0] == '.' && (length == 1 || (length == 2 && name[1] == '.'));
}

// The scan's visiting order, which the threads that read ahead of it follow too: a directory's
// subdirectories are read after its own listing is whole, from the last listed to the first,
// each with everything below it, passing over "." and ".." and those ScanReadsSubdirectory
// refuses. Of `count` subdirectories so listed, visit number `visit` (from 0) is the one at
// this index in listing order.
inline long ListingIndexOfVisit(long count, long visit) {
  return count - 1 - visit;
}

// True when the scan reads the subdirectory `name` (not "." or "..") of the directory whose
// path below the start directory is parent (parentRelLength bytes, ending in the separator or
// empty) and whose whole path with its separator is parentLength bytes long: it is not left
// out by -exclude and its path fits the budget. Reads only settings fixed before the scan
// starts: safe from any thread.
inline bool ScanReadsSubdirectory(const char* parent, int parentRelLength, long parentLength,
                                  const char* name, int nameLength) {
  return !Excluded(parent, parentRelLength, name, nameLength) &&
         SubdirectoryFits(parentLength, nameLength);
}

// Path of the directory being read; set to the expanded root path by the run driver.
extern PathStr ScanPath;
// Run totals: files counted, and every directory's own padding. Zeroed by the run driver.
extern int32_t TotalFiles;
extern int64_t TotalWaste;
// Written here alone: the scan adds the tree's; the run driver zeroes them before a run and
// publishes a saved scan's through SetRunTotals.
void SetRunTotals(int32_t files, int64_t waste);

// Why a directory of the tree is missing from the report, or only partly in it.
enum DirectoryTrouble : unsigned char {
  CouldNotOpen,  // its listing could not be opened (it counts as empty)
  ReadFailed,    // reading its listing failed before the end (it counts as what was read)
  Vanished,      // it was gone when the scan came to it (the "Path was not found" line)
};

// A directory named after the report: its full path with its separator, what befell it, and
// the system's text for why (CouldNotOpen, ReadFailed).
struct TroubledDirectory {
  std::string path;
  DirectoryTrouble trouble;
  std::string reason;
};

// At most this many troubled directories are named; the others are only counted.
constexpr int NamedTroubleLimit = 10;

// What one scan met besides the tree, for the run driver's closing lines and exit code and for
// the reports. Written by the scan alone, which zeroes it as it starts; read by the others.
struct ScanOutcome {
  // Directories that could not be read, or not whole (CouldNotOpen, ReadFailed); directories
  // on another file system and those with no entry at all are not among them.
  int32_t unreadable;
  int32_t vanished;  // subdirectories gone before the scan came to them
  int32_t leftOut;   // subdirectories left out of the tree: no memory was left for their nodes
  int32_t skipped;   // subdirectories not read because their path would pass the budget
  // Subdirectories left out because they matched an exclusion pattern (those below them are
  // not counted: they were never seen).
  int32_t excluded;
  // The start directory could not be read at all: there is no report, and named holds it.
  bool startUnreadable;
  // The first NamedTroubleLimit unreadable or vanished directories, in the scan's order.
  std::vector<TroubledDirectory> named;
  int32_t excludedFiles = 0;  // files left out because they matched an exclusion pattern
  // Entries a saved scan lists as left out by a pattern, files or directories (not known which).
  int32_t excludedListed = 0;
};
extern ScanOutcome LastScan;

// True when the report of the last scan lacks something of the tree: a directory unread, read
// in part, vanished, left out for memory or skipped past the path budget.
bool ScanIncomplete();

// Reads the directory whose path is in ScanPath into n, and everything below it, built by the
// tree builder with the settings of Scan and ClusterSize, and handed on to sink (may be null).
// rootFacts: the start directory's own size and device, for the sink; null when not known.
// The run's totals (TotalFiles, TotalWaste, LastScan) take the tree's. False when there is
// nothing to report: the path was not found (after writing its message), or the start
// directory could not be read (LastScan.startUnreadable; the run driver names it); the sink
// then heard nothing.
bool ScanDirectory(DirNode* n, const ListingSink* sink = nullptr,
                   const DirectoryFacts* rootFacts = nullptr);
