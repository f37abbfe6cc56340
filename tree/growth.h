// Growth since a saved scan (-since): each directory of the report compared, by its path, with
// the same directory in a tree built from the dump by the same rules and settings.
#pragma once

#include <cstdint>

#include "tree/dir_node.h"
#include "tree/growth_record.h"
#include "tree/tree_builder.h"

// Compares the report's tree below root (shaped by settings) with old, the root of the saved
// scan's tree at the same path, built whole (keepAll) by the same rules. Every node's growth is
// its total now less the total of the directory at the same path then (matched by name, byte
// for byte), or its whole total when there was none (New). Below each node whose every
// subdirectory has a node of its own (not merged, above the depth limit), each directory of
// the saved scan that is no longer there gets a node of zero figures, placed by the sort order
// (last with NONE), its growth minus its former total (Gone), unless that total is below the
// minimum size. A new directory that holds what a gone one held (settings.contents against
// thenContents, the saved scan's tree's, both sorted here) moved: its growth is against the
// gone one, whose node is not made, and what lies below both is compared by path. With the
// order GROWTH the sibling lists are then ordered by growth, largest first, with CHANGE by the
// size of the growth whatever its sign; equal growth keeps the order of the tree (TOTAL).
// Returns the root's growth.
int64_t CompareTrees(DirNode* root, const DirNode* old, const BuildSettings& settings,
                     ContentTable* thenContents = nullptr);

// Only what changed is kept (-changed): every directory that neither grew nor shrank, nor is
// new, gone or moved, with nothing below it that did, is released, its figures still counted
// in its parent's. The start directory stays.
void KeepChanged(DirNode* root);

// How names are matched: byte for byte, a prefix before the longer name; <0, 0 or >0.
int CompareNameBytes(const char* a, int la, const char* b, int lb);
