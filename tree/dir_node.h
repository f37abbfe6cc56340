// The in-memory tree of directories and the operations that build, shape and release it.
#pragma once

#include <cstdint>

#include "console/bounded_string.h"

struct DirNode {
  unsigned char* name;  // owned; see AllocateName
  int32_t fileCount;    // own files plus those of merged descendants
  // Length of the name as read, before any merge marker. Kept here, in what would otherwise
  // be padding, so a node fills a smaller allocation.
  uint16_t ownNameLength;
  // Figures of descendants were merged into this node (MarkMerged): the name's marker says so
  // on the screen, but a name may hold " ..." of its own. In the same padding.
  bool merged;
  // The directory could not be read, or not whole, or vanished before it was read: its figures
  // are what was seen of it. In the last byte of the same padding.
  bool readError;
  int64_t localSize;    // own files (and entry table); never changed by merges
  int64_t subdirsSize;  // every subdirectory read, kept or not
  int64_t wastage;      // own rounding padding plus that of merged descendants
  DirNode* nextSibling;
  DirNode* firstChild;
};

// A name is its length in two bytes (low byte first) and its bytes: a directory's own name
// holds at most 255 bytes, but the root's is the whole path of the scanned directory.
inline int NameLength(const DirNode* n) {
  return n->name ? n->name[0] | n->name[1] << 8 : 0;
}
inline const char* NameText(const DirNode* n) {
  return n->name ? (const char*)n->name + 2 : "";
}
// The length of n's name as read, before any merge marker (the root's: its path).
inline int OwnNameLength(const DirNode* n) {
  int length = n->ownNameLength;
  return length == 0 || length > NameLength(n) ? NameLength(n) : length;
}

// The most levels a tree can have: every level adds a name and a separator to a path of at most
// PathCapacity bytes (a saved scan nested deeper is refused as it is read).
constexpr int MostTreeLevels = PathCapacity / 2 + 2;

// A stack of at most MostTreeLevels items held in place, for the walks of a finished tree: the
// report runs after the scan may have taken all the memory there is, so its walks allocate
// nothing. A push past the bound (a tree no path could hold) is not kept.
template <typename T>
struct LevelStack {
  T items[MostTreeLevels];
  int count = 0;
  bool empty() const { return count == 0; }
  void clear() { count = 0; }
  void push_back(const T& item) {
    if (count < MostTreeLevels) items[count++] = item;
  }
  void pop_back() { --count; }
  T& back() { return items[count - 1]; }
};

// Saturating arithmetic for the figures: sums stick at the largest value instead of wrapping.
inline int64_t AddSize(int64_t a, int64_t b) {
  int64_t r;
  if (__builtin_add_overflow(a, b, &r)) return b > 0 ? INT64_MAX : INT64_MIN;
  return r;
}
inline int32_t AddCount(int32_t a, int32_t b) {
  int32_t r;
  if (__builtin_add_overflow(a, b, &r)) return b > 0 ? INT32_MAX : INT32_MIN;
  return r;
}

// Its own bytes and its subdirectories', stuck at the largest value as every sum of sizes is.
inline int64_t NodeTotal(const DirNode* n) {
  return AddSize(n->localSize, n->subdirsSize);
}

// A name of length bytes (at most PathCapacity plus a merge marker), allocated at exactly its
// length + 2; null when out of memory.
unsigned char* AllocateName(const char* bytes, int length);

// Creates a node named name (all figures zero) and pushes it on the front of *list. When memory
// runs out nothing is created and false is returned: the subdirectory is left out.
bool MakeNode(const char* name, int length, DirNode** list);

// Releases every descendant of n, adding their file counts and wastage into n. Takes the same
// stack at any depth of the tree.
void CollapseChildren(DirNode* n);

// Releases a node that holds no children, such as a subdirectory dropped before it was read.
void ReleaseNode(DirNode* n);

// Releases child c (not in parent's list) and its subtree, adding its figures into parent.
void FoldIntoParent(DirNode* c, DirNode* parent);

// Appends " ..." to n's name unless the name already contains it, and sets n's merged flag.
// ownNameLength keeps the length of the name before the marker, so paths below n can be built from
// its real name.
void MarkMerged(DirNode* n);

// Rounds size up to whole clusters of `cluster` bytes (1 or less: no rounding), adding the
// padding to *wastage. The tree builder rounds every figure with it.
int64_t RoundToCluster(int64_t size, int64_t cluster, int64_t* wastage);

// Effective cluster size of the run, at least 1.
extern int32_t ClusterSize;
// Written here alone: the run driver publishes the cluster it chose (or the tree builder chose)
// through SetClusterSize.
void SetClusterSize(int32_t cluster);
