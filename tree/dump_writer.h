// The dump writer: the listings a tree is built from, written as they come in the JSON export
// format of ncdu, version 1.2 ([1,2,{metadata},TREE]), which ncdu -f and gdu -f read and
// -from reads back. It hangs on the tree builder as its ListingSink, so it writes what any
// producer hands over, whatever the depth limit and the minimum size keep. Memory does not
// grow with the files: each entry is written as it comes, and only the open directories are
// remembered.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "console/bounded_string.h"
#include "tree/tree_builder.h"

// What the metadata says besides the program: the facts a later report on the dump needs.
struct SaveFacts {
  const char* version;  // progver
  int64_t timestamp;    // when the scan was made, seconds since 1970 (UTC)
  int32_t cluster;      // the file system's cluster size; 0: not known, not written
  bool startChargedKnown;
  bool startCharged;  // the start directory is charged for its entry table (no drive root)
  bool hasDrive;      // the drive's statistics follow
  PathStr driveName;  // as the footer names it (a mount point, a drive letter)
  int32_t driveCluster;
  int64_t driveFree, driveCapacity;
  // The subdirectories of each directory follow its files in the disk's visiting order, the
  // last listed first (a scan of the disk), not as listed.
  bool lastListedFirst = false;
};

struct DumpWriter {
  struct Level {
    bool hasDevice;
    uint64_t device;
    int64_t reservedAt;  // where room for a late read error was kept in its info object, or -1
  };
  FILE* out;
  SaveFacts facts;
  std::vector<Level> open;
  std::string piece;  // the entry being written
  int64_t written;    // bytes written so far: the file is written from its start
  bool failed;        // a write failed, or memory for a level ran short; the dump is not whole
  int error;          // the system's error number of the first failed write; 0: none said
  ListingSink sink;
};

// Prepares w to write to out, from its start (a file that can be written at any place: a read
// error said late is written back into the info object that opened the directory). The tree's
// start writes the header and the metadata.
void StartDumpWriter(DumpWriter* w, FILE* out, const SaveFacts& facts);

// True when every write so far succeeded.
inline bool DumpWriterOk(const DumpWriter* w) {
  return !w->failed && !std::ferror(w->out);
}

// Writes bytes as the inside of a JSON string, as ncdu writes names: the bytes as they are,
// a double quote and a backslash escaped, control bytes as \u00XX. Exposed for tests.
void AppendJsonName(std::string* out, const char* bytes, int length);
