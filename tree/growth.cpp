#include "tree/growth.h"

#include <algorithm>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "console/strings.h"
#include "tree/sort_order.h"

namespace {
// Links the gone directories (a list in the order they were found) into n's child list, each
// where InsertChild would place it as a newcomer; with NONE and GROWTH, last. In O(n log n):
// sorted among themselves as InsertChild would order them, then merged with n's list, which is
// in its final order already.
void PlaceGone(DirNode* gone, DirNode* n, SortOrder order) {
  if (!gone) return;
  DirNode** at = &n->firstChild;
  if (order == NONE || order == GROWTH || order == CHANGE) {
    // GROWTH and CHANGE order every list afterwards; the newcomers wait at the end meanwhile.
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

// Orders every sibling list of the tree by growth, largest first (or by the size of the
// change, whatever its sign), keeping the order of equals.
void OrderByGrowth(DirNode* root, bool bySize) {
  std::vector<DirNode*> stack{root};
  std::vector<DirNode*> siblings;
  while (!stack.empty()) {
    DirNode* n = stack.back();
    stack.pop_back();
    siblings.clear();
    for (DirNode* c = n->firstChild; c; c = c->nextSibling) siblings.push_back(c);
    std::stable_sort(siblings.begin(), siblings.end(), [bySize](const DirNode* x,
                                                                const DirNode* y) {
      int64_t gx = NodeGrowth(x).bytes, gy = NodeGrowth(y).bytes;
      if (bySize) gx = ChangeSize(gx), gy = ChangeSize(gy);
      return gx > gy;
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

namespace {
// What the comparison keeps while it walks the two trees.
struct Comparison {
  const BuildSettings& settings;
  // One directory of the report and the one at its path in the saved scan (null: new), at
  // depth below the start directory; path: its names, each followed by the separator.
  struct Pair {
    DirNode* now;
    const DirNode* then;
    int depth;
    std::string path;
  };
  std::vector<Pair> stack;
  // Directories of the saved scan no longer at their place, below a directory of the report:
  // each becomes a gone row unless it moved.
  struct Left {
    DirNode* parent;
    const DirNode* then;
    std::string path;
    bool moved;
  };
  std::vector<Left> left;
  // The new directories of the report, by path, in the order they were met (a parent first).
  struct Fresh {
    DirNode* node;
    std::string path;
    int depth;
  };
  std::vector<Fresh> fresh;

  explicit Comparison(const BuildSettings& s) : settings(s) {}

  // Matches the subdirectories of p.now with those of p.then by name, records p.now's growth
  // and queues the pairs; what is left of the saved scan's is noted.
  void Visit(const Pair& p, Change change) {
    DirNode* n = p.now;
    if (p.then)
      RecordGrowth(n, AddSize(NodeTotal(n), -NodeTotal(p.then)), change);
    else
      RecordGrowth(n, NodeTotal(n), Change::New), fresh.push_back({n, p.path, p.depth});
    before.clear();
    if (p.then)
      for (const DirNode* c = p.then->firstChild; c; c = c->nextSibling) before.push_back(c);
    std::stable_sort(before.begin(), before.end(), ByName);
    matched.assign(before.size(), 0);
    taken.assign(before.size(), 0);
    for (DirNode* c = n->firstChild; c; c = c->nextSibling) {
      const DirNode* then = nullptr;
      auto at = std::lower_bound(before.begin(), before.end(), c, ByName);
      if (at != before.end() && !ByName(c, *at)) {
        size_t first = (size_t)(at - before.begin());
        size_t i = first + taken[first];
        if (i < before.size() && !ByName(before[first], before[i])) {
          ++taken[first];
          matched[i] = 1;
          then = before[i];
        }
      }
      stack.push_back(Pair{c, then, p.depth + 1, Below(p.path, c)});
    }
    // Where subdirectories were merged or lie past the depth limit, what is no longer there
    // cannot be told from what is not shown.
    if (!p.then || n->merged || p.depth >= settings.maxDepth) return;
    for (size_t i = 0; i < before.size(); ++i)
      if (!matched[i]) left.push_back({n, before[i], Below(p.path, before[i]), false});
  }

  void Walk() {
    while (!stack.empty()) {
      Pair p = std::move(stack.back());
      stack.pop_back();
      Visit(p, Change::Same);
    }
  }

  static std::string Below(const std::string& path, const DirNode* c) {
    std::string below = path;
    below.append(NameText(c), (size_t)OwnNameLength(c));
    below.push_back(PathSeparator);
    return below;
  }
  static bool ByName(const DirNode* x, const DirNode* y) {
    return CompareNameBytes(NameText(x), OwnNameLength(x), NameText(y), OwnNameLength(y)) < 0;
  }

 private:
  std::vector<const DirNode*> before;  // the saved scan's subdirectories of one directory
  // For each first of a run of equal names in `before`, how many of the run are matched: each
  // directory of the report takes the first of its name not yet taken, in O(log n).
  std::vector<uint32_t> taken;
  std::vector<char> matched;
};

// What a directory at path holds below it, as its tree told (0: nothing, or not told).
uint64_t ContentsAt(const ContentTable* table, const std::string& path) {
  if (!table) return 0;
  uint64_t key = PathKey(path.data(), (int)path.size());
  auto at = std::lower_bound(table->begin(), table->end(), key,
                             [](const DirectoryContents& d, uint64_t k) { return d.pathKey < k; });
  return at != table->end() && at->pathKey == key ? at->contents : 0;
}

void SortByPath(ContentTable* table) {
  if (table)
    std::sort(table->begin(), table->end(), [](const DirectoryContents& a,
                                               const DirectoryContents& b) {
      return a.pathKey < b.pathKey;
    });
}

// Pairs new directories of the report with directories of the saved scan that left their
// place (or lie below one that did) and hold the same: the new one moved there, and the
// directories below it are compared with those below the old one by path. The outermost new
// one is matched first and takes everything below it: a whole subtree moved is one move.
void FindMoves(Comparison& c, const ContentTable* then, ContentTable* now) {
  if (c.left.empty() || c.fresh.empty() || !then || !now) return;
  SortByPath(now);
  // The saved scan's candidates in the order of a walk, each with the end of its subtree there.
  struct Old {
    const DirNode* node;
    std::string path;
    uint64_t contents;
    size_t end;
    size_t left;  // its entry in c.left, for the outermost
  };
  std::vector<Old> old;
  for (size_t i = 0; i < c.left.size(); ++i) {
    struct Step {
      const DirNode* node;
      std::string path;
      size_t index;  // its place in old, once it was visited (subtree end set when done)
      bool done;
    };
    std::vector<Step> walk = {{c.left[i].then, c.left[i].path, 0, false}};
    while (!walk.empty()) {
      Step& s = walk.back();
      if (s.done) {
        old[s.index].end = old.size();
        walk.pop_back();
        continue;
      }
      s.done = true;
      s.index = old.size();
      old.push_back({s.node, s.path, ContentsAt(then, s.path), 0, i});
      const DirNode* node = s.node;
      std::string path = s.path;
      for (const DirNode* k = node->firstChild; k; k = k->nextSibling)
        walk.push_back({k, Comparison::Below(path, k), 0, false});
    }
  }
  std::vector<size_t> byContents;
  for (size_t i = 0; i < old.size(); ++i)
    if (old[i].contents != 0) byContents.push_back(i);
  std::stable_sort(byContents.begin(), byContents.end(),
                   [&](size_t a, size_t b) { return old[a].contents < old[b].contents; });
  std::vector<char> used(old.size(), 0);
  std::vector<size_t> moved;  // of c.fresh, matched, with the old one in oldOf
  std::vector<size_t> oldOf;
  std::string inside;  // the path of the last new directory matched: what lies below is taken
  for (size_t f = 0; f < c.fresh.size(); ++f) {
    const std::string& path = c.fresh[f].path;
    if (!inside.empty() && path.compare(0, inside.size(), inside) == 0) continue;
    uint64_t held = ContentsAt(now, path);
    if (held == 0) continue;
    auto at = std::lower_bound(byContents.begin(), byContents.end(), held,
                               [&](size_t i, uint64_t k) { return old[i].contents < k; });
    while (at != byContents.end() && old[*at].contents == held && used[*at]) ++at;
    if (at == byContents.end() || old[*at].contents != held) continue;
    const Old& o = old[*at];
    std::fill(used.begin() + (long)*at, used.begin() + (long)o.end, 1);
    if (c.left[o.left].then == o.node) c.left[o.left].moved = true;
    moved.push_back(f);
    oldOf.push_back(*at);
    inside = path;
  }
  for (size_t i = 0; i < moved.size(); ++i) {
    Comparison::Fresh f = c.fresh[moved[i]];  // c.fresh grows as the pair is compared
    const Old& o = old[oldOf[i]];
    RecordMove(f.node, o.path.substr(0, o.path.size() - 1));
    c.Visit(Comparison::Pair{f.node, o.node, f.depth, f.path}, Change::Moved);
    c.Walk();
  }
}
}  // namespace

int64_t CompareTrees(DirNode* root, const DirNode* old, const BuildSettings& settings,
                     ContentTable* thenContents) {
  ForgetGrowth();
  StartGrowthRecord();
  SortByPath(thenContents);
  Comparison c(settings);
  c.stack.push_back(Comparison::Pair{root, old, 0, std::string()});
  c.Walk();
  FindMoves(c, thenContents, settings.contents);
  // Each gone directory gets a node of zero figures among its parent's, unless it moved or is
  // below the minimum size; those of one parent are found side by side.
  for (size_t i = 0; i < c.left.size();) {
    DirNode* parent = c.left[i].parent;
    DirNode* gone = nullptr;
    DirNode** goneTail = &gone;
    for (; i < c.left.size() && c.left[i].parent == parent; ++i) {
      const Comparison::Left& l = c.left[i];
      if (l.moved || NodeTotal(l.then) < settings.minSize) continue;
      DirNode* made = nullptr;
      if (!MakeNode(NameText(l.then), OwnNameLength(l.then), &made)) continue;
      RecordGrowth(made, -NodeTotal(l.then), Change::Gone);
      *goneTail = made;
      goneTail = &made->nextSibling;
    }
    PlaceGone(gone, parent, settings.sortOrder);
  }
  if (settings.sortOrder == GROWTH || settings.sortOrder == CHANGE)
    OrderByGrowth(root, settings.sortOrder == CHANGE);
  return NodeGrowth(root).bytes;
}

void KeepChanged(DirNode* root) {
  // From the leaves up: a directory stays when it changed or one below it stays.
  struct Step {
    DirNode* node;
    bool done;
  };
  std::vector<Step> walk = {{root, false}};
  std::vector<char> stays;  // of the directories done, in the order they were done
  std::vector<size_t> firstStay;  // where each open directory's children begin in stays
  while (!walk.empty()) {
    Step& s = walk.back();
    DirNode* n = s.node;
    if (!s.done) {
      s.done = true;
      firstStay.push_back(stays.size());
      for (DirNode* c = n->firstChild; c; c = c->nextSibling) walk.push_back({c, false});
      continue;
    }
    walk.pop_back();
    // Its children were done the last pushed first: stays holds them in that order from
    // firstStay on; each one that does not stay goes.
    size_t from = firstStay.back();
    firstStay.pop_back();
    std::vector<DirNode*> children;
    for (DirNode* c = n->firstChild; c; c = c->nextSibling) children.push_back(c);
    bool below = false;
    DirNode** at = &n->firstChild;
    for (size_t i = 0; i < children.size(); ++i) {
      DirNode* c = children[i];
      bool keep = stays[from + children.size() - 1 - i];
      if (keep) {
        *at = c;
        at = &c->nextSibling;
        below = true;
      } else {
        std::vector<const DirNode*> gone = {c};
        while (!gone.empty()) {
          const DirNode* d = gone.back();
          gone.pop_back();
          DropGrowth(d);
          for (const DirNode* k = d->firstChild; k; k = k->nextSibling) gone.push_back(k);
        }
        CollapseChildren(c);
        std::free(c->name);
        std::free(c);
      }
    }
    *at = nullptr;
    stays.resize(from);
    Growth g = NodeGrowth(n);
    stays.push_back(below || g.bytes != 0 || g.change != Change::Same);
  }
}
