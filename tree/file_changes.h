// The files behind the growth since a saved scan (-since): the largest new files, the files
// that grew most and the largest files gone, N of each. The saved scan's files are kept while
// the report's tree is read; each file the report's tree takes is looked up by its path there.
// A file in a directory that moved (tree/growth) is the same file at another place: neither new
// nor gone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tree/dir_node.h"
#include "tree/file_store.h"
#include "tree/top_list.h"
#include "tree/tree_builder.h"

// The three lists, ranked: bytes are a new file's length, a grown file's growth, a gone
// file's length then; paths below the start directory.
struct FileChangeLists {
  TopList added;
  TopList grown;
  TopList gone;
};

// Starts over, keeping `limit` entries in each list (0: none is kept, nothing is compared).
void BeginFileChanges(int limit);
// The store the saved scan's tree keeps its files in (its BuildSettings.files); null when no
// list is kept.
FileStore* SavedScanFiles();
// The saved scan's tree is whole (then: its root): its files are found by path from here on.
void IndexSavedFiles(const DirNode* then);
// The watch of the report's tree (its BuildSettings.fileWatch); null when no list is kept.
const FileWatch* ReportFileWatch();
// The comparison is done (moves recorded, report below root): the lists are made, the saved
// scan's files forgotten.
void FinishFileChanges(const DirNode* root, const DirNode* then, FileChangeLists* lists);
