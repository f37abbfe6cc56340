// The six sibling orders and their predicate GoesAfter.
#pragma once

#include "tree/dir_node.h"

// GROWTH: the largest growth since a saved scan first (-since), ties as TOTAL; CHANGE: the
// largest change first, grown or shrunk, ties as TOTAL.
enum SortOrder : unsigned char { NONE, NAME, LOCAL, TOTAL, WASTE, FILES, GROWTH, CHANGE };

// The order's name as -sort= spells it: "NONE", "NAME", "LOCAL", "TOTAL", "WASTE", "FILES",
// "GROWTH", "CHANGE".
const char* SortOrderName(SortOrder order);
constexpr int SortOrderCount = 8;

// True when newcomer c belongs after the existing sibling e in the order given.
bool GoesAfter(SortOrder order, const DirNode* c, const DirNode* e);

// Links c into p's child list by the order: walks past every sibling e with GoesAfter(c, e).
void InsertChild(SortOrder order, DirNode* c, DirNode* p);

// Orders a list of siblings given in the order they would be handed to InsertChild one by one
// (head first), and returns the list InsertChild would have built, in O(n log n): a stable merge
// sort by the same predicate.
DirNode* SortSiblings(SortOrder order, DirNode* insertionOrder);
