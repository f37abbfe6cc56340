// The growth of each directory of the report since a saved scan, as the comparison (tree/growth)
// records it, for the sort order and the report's forms to read.
#pragma once

#include <cstdint>

#include "tree/dir_node.h"

enum class Change : unsigned char { Same, New, Gone };

struct Growth {
  int64_t bytes;  // total now less the total then
  Change change;  // New: not in the saved scan; Gone: in the saved scan, no longer here
};

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

// Forgets every recorded growth; GrowthShown() is false again.
void ForgetGrowth();
