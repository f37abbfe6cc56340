// The lists that follow a report: the largest files and directories (-top=N), then, with
// -since, the largest new files, the files that grew most and the largest files gone. Each
// form writes them in its own way; this is their order, their titles and their names.
#pragma once

#include <vector>

#include "driver/run_record.h"

struct ShownList {
  const TopList* list;
  const char* title;  // the screen's
  const char* kind;   // the CSV rows' first field
  const char* key;    // the JSON "top" object's
};

inline std::vector<ShownList> ListsShown(const RunRecord& run) {
  std::vector<ShownList> shown;
  if (run.largest.files.limit > 0) {
    shown.push_back({&run.largest.files, "Largest files:", "file", "files"});
    shown.push_back({&run.largest.dirs, "Directories holding the most bytes of their own:", "dir",
                     "dirs"});
  }
  if (run.changes.added.limit > 0) {
    shown.push_back({&run.changes.added, "Largest new files:", "new_file", "new_files"});
    shown.push_back({&run.changes.grown, "Files that grew most:", "grown_file", "grown_files"});
    shown.push_back({&run.changes.gone, "Largest files gone:", "gone_file", "gone_files"});
  }
  return shown;
}
