// The largest files and the directories holding the most bytes of their own, anywhere in the
// tree (-top=N). A list keeps at most N entries in a heap whose top is the one to push out
// next, so its memory does not grow with the tree: an entry offered costs one comparison
// unless it is kept, and only a kept entry holds a copy of its path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The most entries -top= asks for.
constexpr int MostTopEntries = 1000;

struct TopEntry {
  int64_t bytes;     // what the totals count for it
  int64_t order;     // when it was offered: of equal sizes the first offered ranks first
  std::string path;  // below the start directory; a directory's has no trailing separator
};

struct TopList {
  int limit = 0;        // entries kept at most; 0: the list is not kept
  int64_t offered = 0;  // entries offered so far
  // While entries are offered: a heap whose first entry ranks last (the smallest, the last
  // offered among equals). After SortTopList: the entries, first ranked first.
  std::vector<TopEntry> kept;
};

// The two lists of a tree.
struct TopLists {
  TopList files;
  TopList dirs;
};

// Empties the list and sets how many entries it keeps (0: none).
void StartTopList(TopList* list, int limit);

// Offers an entry of `bytes`, whose path below the start directory is dir (dirLength bytes,
// ending in the separator or empty) followed by name. An entry of no bytes is never kept (it
// holds no space); one that ranks below every kept entry of a full list is not either. Short
// of memory for its path, the entry is not kept.
void OfferTop(TopList* list, int64_t bytes, const char* dir, int dirLength, const char* name,
              int nameLength);

// Ranks the kept entries, largest first, of equal sizes the first offered first. No entry
// may be offered after it.
void SortTopList(TopList* list);
