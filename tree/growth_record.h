// The growth of each directory of the report since a saved scan, as the comparison (tree/growth)
// records it, for the sort order and the report's forms to read.
#pragma once

#include <cstdint>
#include <string>

#include "tree/dir_node.h"

enum class Change : unsigned char { Same, New, Gone, Moved };

struct Growth {
  int64_t bytes;  // total now less the total then
  // New: not in the saved scan; Gone: in the saved scan, no longer here; Moved: gone from
  // another place of the saved scan with the same contents (MovedFrom), bytes against that.
  Change change;
};

// The change as the forms spell it: "new", "gone", "moved", or "" for none.
inline const char* ChangeWord(Change change) {
  return change == Change::New     ? "new"
         : change == Change::Gone  ? "gone"
         : change == Change::Moved ? "moved"
                                   : "";
}

// The size of a change, grown or shrunk.
inline int64_t ChangeSize(int64_t growth) {
  return growth >= 0 ? growth : growth == INT64_MIN ? INT64_MAX : -growth;
}

// True once a comparison has started recording: the report shows growth. Written by
// StartGrowthRecord and ForgetGrowth only.
bool GrowthShown();

// The growth recorded for a node of the report: {0, Same} when none was.
Growth NodeGrowth(const DirNode* n);

// The comparison begins: growth is shown from here on (CompareTrees calls it).
void StartGrowthRecord();
// Records a node's growth (CompareTrees, once the tree is whole, so that no node is released
// while it is here).
void RecordGrowth(const DirNode* n, int64_t bytes, Change change);

// A node's total changed by delta since the comparison (the browser deleted or read again
// something below it): so did its growth.
void AddGrowth(const DirNode* n, int64_t delta);
// Forgets the growth of a node about to be released.
void DropGrowth(const DirNode* n);

// Records that n is the directory of the saved scan at `from` (its path below the start
// directory, without a separator at its end), moved; its growth is recorded apart.
void RecordMove(const DirNode* n, std::string from);
// Where n was in the saved scan, when it moved; null otherwise.
const std::string* MovedFrom(const DirNode* n);
// True when any directory of the report moved: the forms make room for the word.
bool MovesShown();

// Forgets every recorded growth; GrowthShown() is false again.
void ForgetGrowth();
