#include "tree/dir_node.h"

#include <cstdlib>
#include <cstring>
#include <string>

int32_t ClusterSize = 1;

void SetClusterSize(int32_t cluster) {
  ClusterSize = cluster;
}

namespace {
// The longest name a node holds: a root path and its merge marker.
constexpr int MaxNameLength = PathCapacity + 4;
}  // namespace

unsigned char* AllocateName(const char* bytes, int length) {
  if (length > MaxNameLength) length = MaxNameLength;
  if (length < 0) length = 0;
  unsigned char* name = (unsigned char*)std::malloc(length + 2);
  if (!name) return nullptr;
  name[0] = (unsigned char)(length & 0xFF);
  name[1] = (unsigned char)(length >> 8);
  std::memcpy(name + 2, bytes, length);
  return name;
}

bool MakeNode(const char* name, int length, DirNode** list) {
  DirNode* n = (DirNode*)std::malloc(sizeof(DirNode));
  if (!n) return false;
  n->name = AllocateName(name, length);
  if (!n->name) {
    std::free(n);
    return false;
  }
  n->fileCount = 0;
  n->ownNameLength = (uint16_t)NameLength(n);
  n->merged = false;
  n->readError = false;
  n->localSize = 0;
  n->subdirsSize = 0;
  n->wastage = 0;
  n->firstChild = nullptr;
  n->nextSibling = *list;
  *list = n;
  return true;
}

// The descendants are taken one at a time from a work list made of their own sibling links: a
// node's children join the list when the node is released. Every figure added is a count or a
// size, never negative, so the saturating sums do not depend on the order.
void CollapseChildren(DirNode* n) {
  DirNode* work = n->firstChild;
  n->firstChild = nullptr;
  while (work) {
    DirNode* c = work;
    work = c->nextSibling;
    if (c->firstChild) {
      DirNode* last = c->firstChild;
      while (last->nextSibling) last = last->nextSibling;
      last->nextSibling = work;
      work = c->firstChild;
    }
    n->fileCount = AddCount(n->fileCount, c->fileCount);
    n->wastage = AddSize(n->wastage, c->wastage);
    std::free(c->name);
    std::free(c);
  }
}

void ReleaseNode(DirNode* n) {
  std::free(n->name);
  std::free(n);
}

void FoldIntoParent(DirNode* c, DirNode* parent) {
  std::free(c->name);
  c->name = nullptr;
  CollapseChildren(c);
  parent->fileCount = AddCount(parent->fileCount, c->fileCount);
  parent->wastage = AddSize(parent->wastage, c->wastage);
  std::free(c);
}

void MarkMerged(DirNode* n) {
  static const char marker[] = " ...";
  n->merged = true;
  int len = NameLength(n);
  const char* text = NameText(n);
  for (int i = 0; i + 4 <= len; ++i)
    if (std::memcmp(text + i, marker, 4) == 0) return;
  // A directory's own name and its marker are cut at 255 bytes together; a root path longer
  // than that keeps its whole length and the whole marker.
  int total = len + 4;
  if (len <= BStrCapacity && total > BStrCapacity) total = BStrCapacity;
  std::string marked(text, len);
  marked.append(marker, total - len);
  unsigned char* renamed = AllocateName(marked.data(), total);
  if (!renamed) return;
  std::free(n->name);
  n->name = renamed;
}

int64_t RoundToCluster(int64_t size, int64_t cluster, int64_t* wastage) {
  if (cluster <= 1) return size;
  int64_t r = size % cluster;
  if (r == 0) return size;
  int64_t pad = cluster - r;
  *wastage = AddSize(*wastage, pad);
  return AddSize(size, pad);
}
