// The browser (-browse): the report's tree on a terminal, one directory at a time, with its
// subdirectories and its files, sorted as the user asks, entered and left with the keys users
// of ncdu type. Beside the scroller, a second way to show a report on a terminal.
#pragma once

#include "driver/run_record.h"
#include "tree/file_store.h"

// Shows the tree of run (its files in files, kept as the tree was built) from the start
// directory until the user leaves (q, or Esc with no box open). The screen is cleared as it
// starts and as it ends.
void Browse(const RunRecord& run, const FileStore& files);
