// A figure kept for some directories of a tree, found by the directory's node: (node, figure)
// pairs sorted by the node's address when looked up, in small blocks (a deque), so that growing
// never copies the pairs nor holds twice their room. A hash map would take three to four times
// the memory for the same pairs, and a tree of 17,000 directories is looked up only between key
// presses. Changes mark the pairs unsorted; the next lookup sorts them again, leaving out the
// pairs that were dropped. Not for use from more than one thread.
#pragma once

#include <algorithm>
#include <deque>
#include <utility>

#include "tree/dir_node.h"

template <typename Figure>
class NodeTable {
 public:
  void Clear() {
    std::deque<std::pair<const DirNode*, Figure>>().swap(pairs_);
    sorted_ = true;
  }
  // Adds n's figure; n must not be in the table already (Drop it first). May throw bad_alloc.
  void Put(const DirNode* n, const Figure& f) {
    pairs_.emplace_back(n, f);
    sorted_ = pairs_.size() < 2 || (sorted_ && pairs_[pairs_.size() - 2].first < n);
  }
  // n's figure, or null when n has none.
  const Figure* Find(const DirNode* n) const {
    size_t at = At(n);
    return at < pairs_.size() ? &pairs_[at].second : nullptr;
  }
  // Forgets n's figure, if it has one.
  void Drop(const DirNode* n) { Rename(n, nullptr); }
  // The figure of `from` becomes to's, and to's own is forgotten.
  void Rekey(const DirNode* from, const DirNode* to) {
    Drop(to);
    Rename(from, to);
  }
  size_t Size() const { return pairs_.size(); }

 private:
  // Where n's pair is, or the table's size when n has none.
  size_t At(const DirNode* n) const {
    Sort();
    auto at = std::lower_bound(pairs_.begin(), pairs_.end(), n,
                               [](const auto& p, const DirNode* key) { return p.first < key; });
    return at != pairs_.end() && at->first == n ? (size_t)(at - pairs_.begin()) : pairs_.size();
  }
  void Rename(const DirNode* from, const DirNode* to) {
    size_t at = At(from);
    if (at == pairs_.size()) return;
    pairs_[at].first = to;
    sorted_ = false;
  }
  void Sort() const {
    if (sorted_) return;
    std::sort(pairs_.begin(), pairs_.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    // Dropped pairs (null nodes) sort first.
    auto kept = std::find_if(pairs_.begin(), pairs_.end(), [](const auto& p) { return p.first; });
    pairs_.erase(pairs_.begin(), kept);
    sorted_ = true;
  }
  mutable std::deque<std::pair<const DirNode*, Figure>> pairs_;
  mutable bool sorted_ = true;
};
