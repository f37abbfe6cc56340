#include "tree/growth.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "tree/sort_order.h"

namespace {
// Links the gone directories (a list in the order they were found) into n's child list, each
// where InsertChild would place it as a newcomer; with NONE and GROWTH, last. In O(n log n):
// sorted among themselves as InsertChild would order them, then merged with n's list, which is
// in its final order already.
void PlaceGone(DirNode* gone, DirNode* n, SortOrder order) {
  if (!gone) return;
  DirNode** at = &n->firstChild;
  if (order == NONE || order == GROWTH) {
    // GROWTH orders every list afterwards; the newcomers wait at the end meanwhile.
    while (*at) at = &(*at)->nextSibling;
    *at = gone;
    return;
  }
  gone = SortSiblings(order, gone);
  for (DirNode* e = *at; gone;) {
    // Each newcomer passes every sibling it goes after; a later one passes the earlier
    // newcomers it goes after, which SortSiblings has already decided.
    if (e && GoesAfter(order, gone, e)) {
      at = &e->nextSibling;
      e = e->nextSibling;
    } else {
      DirNode* next = gone->nextSibling;
      gone->nextSibling = e;
      *at = gone;
      at = &gone->nextSibling;
      gone = next;
    }
  }
}

// Orders every sibling list of the tree by growth, largest first, keeping the order of equals.
void OrderByGrowth(DirNode* root) {
  std::vector<DirNode*> stack{root};
  std::vector<DirNode*> siblings;
  while (!stack.empty()) {
    DirNode* n = stack.back();
    stack.pop_back();
    siblings.clear();
    for (DirNode* c = n->firstChild; c; c = c->nextSibling) siblings.push_back(c);
    std::stable_sort(siblings.begin(), siblings.end(), [](const DirNode* x, const DirNode* y) {
      return NodeGrowth(x).bytes > NodeGrowth(y).bytes;
    });
    DirNode** at = &n->firstChild;
    for (DirNode* c : siblings) {
      *at = c;
      at = &c->nextSibling;
      stack.push_back(c);
    }
    *at = nullptr;
  }
}
}  // namespace

int CompareNameBytes(const char* a, int la, const char* b, int lb) {
  int n = la < lb ? la : lb;
  int r = n > 0 ? std::memcmp(a, b, (size_t)n) : 0;
  if (r != 0) return r;
  return la == lb ? 0 : (la < lb ? -1 : 1);
}

int64_t CompareTrees(DirNode* root, const DirNode* old, const BuildSettings& settings) {
  ForgetGrowth();
  StartGrowthRecord();
  struct Pair {
    DirNode* now;
    const DirNode* then;  // null: new
    int depth;
  };
  std::vector<Pair> stack{Pair{root, old, 0}};
  std::vector<const DirNode*> before;  // the saved scan's subdirectories of one directory
  // For each first of a run of equal names in `before`, how many of the run are matched: each
  // directory of the report takes the first of its name not yet taken, in O(log n).
  std::vector<uint32_t> taken;
  std::vector<char> matched;
  auto byName = [](const DirNode* x, const DirNode* y) {
    return CompareNameBytes(NameText(x), OwnNameLength(x), NameText(y), OwnNameLength(y)) < 0;
  };
  while (!stack.empty()) {
    Pair p = stack.back();
    stack.pop_back();
    DirNode* n = p.now;
    if (p.then)
      RecordGrowth(n, AddSize(NodeTotal(n), -NodeTotal(p.then)), Change::Same);
    else
      RecordGrowth(n, NodeTotal(n), Change::New);
    before.clear();
    if (p.then)
      for (const DirNode* c = p.then->firstChild; c; c = c->nextSibling) before.push_back(c);
    std::stable_sort(before.begin(), before.end(), byName);
    matched.assign(before.size(), 0);
    taken.assign(before.size(), 0);
    for (DirNode* c = n->firstChild; c; c = c->nextSibling) {
      const DirNode* then = nullptr;
      auto at = std::lower_bound(before.begin(), before.end(), c, byName);
      if (at != before.end() && !byName(c, *at)) {
        size_t first = (size_t)(at - before.begin());
        size_t i = first + taken[first];
        if (i < before.size() && !byName(before[first], before[i])) {
          ++taken[first];
          matched[i] = 1;
          then = before[i];
        }
      }
      stack.push_back(Pair{c, then, p.depth + 1});
    }
    // Where subdirectories were merged or lie past the depth limit, what is no longer there
    // cannot be told from what is not shown.
    if (!p.then || n->merged || p.depth >= settings.maxDepth) continue;
    DirNode* gone = nullptr;
    DirNode** goneTail = &gone;
    for (size_t i = 0; i < before.size(); ++i) {
      if (matched[i] || NodeTotal(before[i]) < settings.minSize) continue;
      DirNode* made = nullptr;
      if (!MakeNode(NameText(before[i]), OwnNameLength(before[i]), &made)) continue;
      RecordGrowth(made, -NodeTotal(before[i]), Change::Gone);
      *goneTail = made;
      goneTail = &made->nextSibling;
    }
    PlaceGone(gone, n, settings.sortOrder);
  }
  if (settings.sortOrder == GROWTH) OrderByGrowth(root);
  return NodeGrowth(root).bytes;
}
