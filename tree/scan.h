// The scan of the disk: reads a directory tree depth-first through the enumeration
// (tree/find.h) and hands every listing, as it reads it, to the tree builder
// (tree/tree_builder.h), which builds, sizes and shapes the tree (and hands it on to the dump
// writer when the scan is saved). What is the disk's stays here: the visiting order, the path
// budget and its lines, directories that vanish or cannot be read, the spinner and the counts of
// what was read so far, and giving memory back when it runs short.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console/bounded_string.h"
#include "tree/dir_node.h"
#include "tree/find.h"
#include "tree/sort_order.h"
#include "tree/top_list.h"
#include "tree/tree_builder.h"

// What one scan of the disk is asked: filled by the run driver, read by the scan alone.
struct ScanRequest {
  PathStr path;     // the start directory, expanded
  int pathBudget;   // the longest path (with patternRoom) that is read
  int patternRoom;  // bytes the enumeration adds to a path (PathPatternRoom)
  // For the enumeration: the threads that may read ahead, and whether subdirectories are
  // measured as they are listed (a saved scan holds their own sizes). The scan adds its rule of
  // which subdirectories it reads.
  ScanRules rules;
  // The start directory's own size and device, for the dump writer; null when not known.
  const DirectoryFacts* rootFacts = nullptr;
  // Hears what the scan has read so far, every ScanProgressStep directories and files: the
  // directories whose listing it read, the files it handed over and the bytes they hold as
  // listed (FindEntry::allocated: every listing gives it; the tree rounds it to clusters and
  // adds what is held past it later). For the status line; null: nobody sees it.
  void (*progress)(int64_t directories, int64_t files, int64_t bytes) = nullptr;
};

constexpr int ScanProgressStep = 256;

// Run totals: files counted, and every directory's own padding. Written here alone: the run
// driver zeroes them before a run and publishes the report's tree's through SetRunTotals.
extern int32_t TotalFiles;
extern int64_t TotalWaste;
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

// What the reading of the report's tree met besides the tree, for the run driver's closing lines
// and exit code and for the reports: the troubles its producer named, and the counts of the
// tree builder (CountOutcome). The run driver's record holds it.
struct ScanOutcome {
  // Directories that could not be read, or not whole (CouldNotOpen, ReadFailed); directories
  // on another file system and those with no entry at all are not among them.
  int32_t unreadable = 0;
  int32_t vanished = 0;  // subdirectories gone before the scan came to them
  int32_t leftOut = 0;   // subdirectories left out of the tree: no memory was left for them
  int32_t skipped = 0;   // subdirectories not read because their path would pass the budget
  // Subdirectories left out because they matched an exclusion pattern (those below them are
  // not counted: they were never seen).
  int32_t excluded = 0;
  // The start directory could not be read at all: there is no report, and named holds it.
  bool startUnreadable = false;
  // The first NamedTroubleLimit unreadable or vanished directories, in the scan's order.
  std::vector<TroubledDirectory> named;
  int32_t excludedFiles = 0;  // files left out because they matched an exclusion pattern
  // Entries a saved scan lists as left out by a pattern, files or directories (not known which).
  int32_t excludedListed = 0;

  // True when the report lacks something of the tree: a directory unread, read in part,
  // vanished, left out for memory or skipped past the path budget.
  bool Incomplete() const { return unreadable > 0 || vanished > 0 || leftOut > 0 || skipped > 0; }
};

// The counts of a finished tree, as its builder kept them, go into *outcome (what the producer
// named there stays).
void CountOutcome(ScanOutcome* outcome, const BuildTotals& counted);

// Reads the start directory of the request, and everything below it, into the consumer: the
// tree builder, begun by the caller, which builds, counts and shapes it (and hands it on to the
// dump writer), and which the caller finishes when this returns true. *met gets the troubles the
// scan named (their counts are the tree's: CountOutcome). False when there is nothing to
// report: the path was not found (after writing its message), or the start directory could
// not be read (met->startUnreadable, named there; the run driver names it); the consumer then
// heard nothing.
bool ScanDirectory(const ScanRequest& request, const TreeConsumer& into, ScanOutcome* met);

// Memory ran short while the tree is built: what the scan's enumeration holds beyond the
// directory being read is given back (BuildSettings::releaseMemory); true when it had any.
bool ScanReleaseMemory();
