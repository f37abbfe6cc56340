#include "tree/top_list.h"

#include <algorithm>
#include <new>

namespace {
// True when a ranks before b: more bytes, or as many and offered earlier.
bool RanksBefore(const TopEntry& a, const TopEntry& b) {
  return a.bytes != b.bytes ? a.bytes > b.bytes : a.order < b.order;
}
}  // namespace

void StartTopList(TopList* list, int limit) {
  list->limit = limit > 0 ? limit : 0;
  list->offered = 0;
  std::vector<TopEntry>().swap(list->kept);
  try {
    list->kept.reserve((size_t)list->limit);
  } catch (const std::bad_alloc&) {
  }
}

void OfferTop(TopList* list, int64_t bytes, const char* dir, int dirLength, const char* name,
              int nameLength) {
  int64_t order = list->offered++;
  if (bytes <= 0 || list->limit == 0) return;
  std::vector<TopEntry>& kept = list->kept;
  // With RanksBefore as the heap's order, its first entry is the one that ranks last.
  bool full = (int)kept.size() >= list->limit;
  if (full && !(bytes > kept.front().bytes)) return;  // a later entry of equal size ranks after
  size_t length = (size_t)dirLength + (size_t)nameLength;
  if (full) {
    std::pop_heap(kept.begin(), kept.end(), RanksBefore);
    TopEntry& out = kept.back();
    try {
      // The path pushed out makes room for the new one: its storage is used again.
      out.path.reserve(length);
    } catch (const std::bad_alloc&) {
      std::push_heap(kept.begin(), kept.end(), RanksBefore);  // the list stays as it was
      return;
    }
    out.path.assign(dir, (size_t)dirLength);
    out.path.append(name, (size_t)nameLength);
    out.bytes = bytes;
    out.order = order;
  } else {
    try {
      std::string path;
      path.reserve(length);
      path.assign(dir, (size_t)dirLength);
      path.append(name, (size_t)nameLength);
      kept.push_back(TopEntry{bytes, order, std::move(path)});
    } catch (const std::bad_alloc&) {
      return;
    }
  }
  std::push_heap(kept.begin(), kept.end(), RanksBefore);
}

void SortTopList(TopList* list) {
  std::sort(list->kept.begin(), list->kept.end(), RanksBefore);
}
