// The dump reader (-from, -since): a saved scan in the JSON export format of ncdu (1.0 to 1.2:
// Quorvel's own, ncdu's, gdu's) read as a stream and handed to the tree builder as the disk
// scan hands it listings. Parsed by RapidJSON's SAX reader in its iterative mode, so nesting
// costs no program stack; names pass through as the bytes they are. A dump that is not one
// (not JSON, cut short, another major version, numbers out of range, names that cannot be
// names, paths past the budget) is refused with where in it the fault is; nothing of it is
// reported.
#pragma once

#include <cstdint>
#include <cstdio>

#include "console/bounded_string.h"
#include "tree/tree_builder.h"

// What a dump says of itself.
struct DumpFacts {
  int64_t major, minor;  // the format's version
  bool hasProgram;
  BStr program;  // progname: "quorvel", "ncdu", "gdu"
  bool hasTimestamp;
  int64_t timestamp;  // when the scan was made, seconds since 1970 (UTC)
  // Quorvel's own facts (its metadata object), where the dump has them.
  int32_t cluster;  // the file system's cluster size; 0: not said
  bool startChargedKnown;
  bool startCharged;  // the outermost directory is charged for its entry table
  bool hasDrive;      // the drive's statistics
  PathStr driveName;
  int32_t driveCluster;
  int64_t driveFree, driveCapacity;
  // The drive's statistics were left out: its free space exceeds its capacity.
  bool driveImpossible;
  PathStr rootName;  // the path of the outermost directory, as the scan named it
  // Each directory's subdirectories come last listed first (Quorvel's scan of the disk).
  bool lastListedFirst;
};

struct DumpRead {
  // Set by the caller.
  const char* displayName;  // the file as messages name it
  // The directory to report, as the dump names it (its own path and below), or a path below
  // the dump's outermost directory; empty or ".": the whole.
  PathStr select;
  // An absolute path outside the dump's own is taken for the dump's outermost directory (a
  // saved scan to compare with, made of the same tree at another place), not as missing.
  bool wholeIfElsewhere;
  // Where the tree goes: the tree builder's routines (TreeConsumerOf), nothing else of it.
  TreeConsumer into;
  void* context;  // the caller's, for begin
  // Called once, when the directory to report is reached and before anything of it goes to
  // the consumer: the caller begins the tree there (facts holds the metadata by then). path:
  // the report's start directory.
  void (*begin)(DumpRead* read, const PathStr& path);
  // Hears what has been read so far, after every DumpProgressStep entries: the directories and
  // the files the dump lists (wherever they are: the whole dump is read, whichever directory is
  // reported), and the bytes those files hold as it lists them (the lesser of asize and dsize,
  // as the tree is handed them). For the status line; null: nobody sees it.
  void (*progress)(int64_t directories, int64_t files, int64_t bytes) = nullptr;
  // Results.
  DumpFacts facts;
  bool found;  // the directory to report was in the dump (begin was called)
  // Not found, as the dump lists the directory to report, or one on the way to it, as not
  // read: it is on another file system (othfs, kernfs).
  bool selectOnOtherFileSystem;
  bool elsewhere;       // the whole was taken for a path outside it (wholeIfElsewhere)
  BStr error;           // what is wrong with a bad dump
  int64_t errorOffset;  // the byte where reading stopped, from 0
  int32_t passedOver;   // values after the tree, not read
};

constexpr int DumpProgressStep = 2048;

// Reads the dump from in to its end. True when it is a dump (found says whether the directory
// asked for was in it; when it was, the builder holds its tree, every directory closed, not yet
// finished); false for a bad dump, with error and errorOffset set, the builder's tree then
// partly made (FinishTree closes what is open, so that it can be released). Memory does not grow
// with the number of entries, beyond what the builder keeps.
bool ReadDump(FILE* in, DumpRead* read);
