// The browser (-browse): the report's tree on a terminal, one directory at a time, with its
// subdirectories and its files, sorted as the user asks, entered and left with the keys users
// of ncdu type. Beside the scroller, a second way to show a report on a terminal.
#pragma once

#include <vector>

#include "driver/run_record.h"
#include "tree/file_store.h"

// What the browser asks of the run driver, which knows how the tree was read.
struct BrowseActions {
  // Reads the directory at path (its full path) again from the disk into fresh (a node of no
  // figures and no children), its files into the store, built as the tree was; false when it
  // could not be read. chargedElsewhere: the files of several names charged outside it, whose
  // names in it are further names.
  bool (*reread)(const PathStr& path, bool start, const std::vector<FileIdentity>& chargedElsewhere,
                 DirNode* fresh);
  // Why nothing may be deleted (the tree comes from a saved scan, -nodelete); null: it may.
  const char* noDelete;
  // Why nothing is read again (the tree comes from a saved scan); null: it may be.
  const char* noReread;
};

// Shows the tree of run (its files in files, kept as the tree was built) from the start
// directory until the user leaves (q, or Esc with no box open). The screen is cleared as it
// starts and as it ends. Reading a directory again (r) and deleting (d) change the tree and
// the store.
void Browse(RunRecord& run, FileStore& files, const BrowseActions& actions);
