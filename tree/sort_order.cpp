#include "tree/sort_order.h"

#include "tree/growth_record.h"

const char* SortOrderName(SortOrder order) {
  static const char* const Names[SortOrderCount] = {"NONE",  "NAME",  "LOCAL", "TOTAL",
                                                    "WASTE", "FILES", "GROWTH", "CHANGE"};
  return order < SortOrderCount ? Names[order] : "NAME";
}

namespace {
unsigned char Upper(unsigned char c) { return (c >= 'a' && c <= 'z') ? (unsigned char)(c - 32) : c; }

// Compares the upper-cased names byte by byte; a prefix is the smaller.
int CompareNames(const DirNode* a, const DirNode* b) {
  int la = NameLength(a), lb = NameLength(b);
  const unsigned char* pa = (const unsigned char*)NameText(a);
  const unsigned char* pb = (const unsigned char*)NameText(b);
  int n = la < lb ? la : lb;
  for (int i = 0; i < n; ++i) {
    unsigned char x = Upper(pa[i]), y = Upper(pb[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return la == lb ? 0 : (la < lb ? -1 : 1);
}

// Merges two lists, each already in final order; every node of `later` was handed over after
// every node of `earlier`. A later node passes an earlier one exactly when GoesAfter holds,
// which is what inserting it into the finished earlier list would do.
DirNode* Merge(SortOrder order, DirNode* earlier, DirNode* later) {
  DirNode head;
  DirNode* tail = &head;
  while (earlier && later) {
    if (GoesAfter(order, later, earlier)) {
      tail->nextSibling = earlier;
      earlier = earlier->nextSibling;
    } else {
      tail->nextSibling = later;
      later = later->nextSibling;
    }
    tail = tail->nextSibling;
  }
  tail->nextSibling = earlier ? earlier : later;
  return head.nextSibling;
}
}  // namespace

bool GoesAfter(SortOrder order, const DirNode* c, const DirNode* e) {
  switch (order) {
    case NONE: return false;
    case NAME: return CompareNames(c, e) >= 0;
    case LOCAL: return e->localSize > c->localSize;
    case TOTAL: return NodeTotal(e) > NodeTotal(c);
    case WASTE: return e->wastage > c->wastage;
    case FILES: return e->fileCount > c->fileCount;
    case GROWTH: {
      int64_t ge = NodeGrowth(e).bytes, gc = NodeGrowth(c).bytes;
      return ge > gc || (ge == gc && NodeTotal(e) > NodeTotal(c));
    }
    case CHANGE: {
      int64_t ge = ChangeSize(NodeGrowth(e).bytes), gc = ChangeSize(NodeGrowth(c).bytes);
      return ge > gc || (ge == gc && NodeTotal(e) > NodeTotal(c));
    }
  }
  return false;
}

void InsertChild(SortOrder order, DirNode* c, DirNode* p) {
  DirNode* passed = nullptr;
  DirNode* e = p->firstChild;
  while (e && GoesAfter(order, c, e)) {
    passed = e;
    e = e->nextSibling;
  }
  if (passed)
    passed->nextSibling = c;
  else
    p->firstChild = c;
  c->nextSibling = e;
}

DirNode* SortSiblings(SortOrder order, DirNode* list) {
  if (!list || !list->nextSibling) return list;
  if (order == NONE) {
    // Every newcomer goes to the front: the insertion order reversed.
    DirNode* out = nullptr;
    while (list) {
      DirNode* next = list->nextSibling;
      list->nextSibling = out;
      out = list;
      list = next;
    }
    return out;
  }
  // Split in halves by the runner technique, keeping the handing-over order in each half.
  DirNode* slow = list;
  DirNode* fast = list->nextSibling;
  while (fast && fast->nextSibling) {
    slow = slow->nextSibling;
    fast = fast->nextSibling->nextSibling;
  }
  DirNode* second = slow->nextSibling;
  slow->nextSibling = nullptr;
  DirNode* a = SortSiblings(order, list);
  DirNode* b = SortSiblings(order, second);
  return Merge(order, a, b);
}
