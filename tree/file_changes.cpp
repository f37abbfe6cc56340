#include "tree/file_changes.h"

#include <algorithm>
#include <new>
#include <utility>

#include "console/strings.h"
#include "tree/growth_record.h"

namespace {
// A file of the saved scan, found by the key of its path (PathKey of its directory's path and
// its name); seen once the report's tree took a file at that path.
struct SavedFile {
  uint64_t key;
  uint32_t record;
};

// A new file of a directory that is not in the saved scan: it may have moved there with its
// directory, which the comparison tells only when the tree is whole.
struct Pending {
  int64_t size;
  std::string path;
};

struct State {
  int limit = 0;
  FileStore then;
  std::vector<SavedFile> files;      // sorted by key
  std::vector<char> seen;            // by record
  std::vector<uint64_t> directories;  // the keys of the saved scan's directories, sorted
  FileChangeLists lists;
  std::vector<Pending> pending;
  std::string path;          // scratch
  FileWatch watch;
  // The report's tree read before the saved scan's (two dumps): its files wait here, each its
  // path and where its name starts, until the saved scan's are indexed.
  bool indexed = false;
  std::vector<std::pair<Pending, int>> early;
};
State Changes;

uint64_t KeyOf(const char* rel, int relLength, const char* name, int nameLength) {
  Changes.path.assign(rel, (size_t)relLength);
  Changes.path.append(name, (size_t)nameLength);
  return PathKey(Changes.path.data(), (int)Changes.path.size());
}

template <typename T, typename Key>
const T* Find(const std::vector<T>& sorted, uint64_t key, Key keyOf) {
  auto at = std::lower_bound(sorted.begin(), sorted.end(), key,
                             [&](const T& e, uint64_t k) { return keyOf(e) < k; });
  return at != sorted.end() && keyOf(*at) == key ? &*at : nullptr;
}

void Compare(const char* rel, int relLength, const char* name, int nameLength, int64_t size);

void Watch(void*, const char* rel, int relLength, const FileFacts& f) {
  if (Changes.limit <= 0) return;
  int64_t size = f.size > 0 ? f.size : 0;
  if (!Changes.indexed) {
    try {
      std::string path(rel, (size_t)relLength);
      path.append(f.name, (size_t)f.nameLength);
      Changes.early.push_back({Pending{size, std::move(path)}, relLength});
    } catch (const std::bad_alloc&) {
      // Short of memory: the file is left out of the lists.
    }
    return;
  }
  Compare(rel, relLength, f.name, f.nameLength, size);
}

// The report's file at rel and name, of size bytes, against the saved scan's at that path.
void Compare(const char* rel, int relLength, const char* name, int nameLength, int64_t size) {
  uint64_t key = KeyOf(rel, relLength, name, nameLength);
  if (const SavedFile* s = Find(Changes.files, key, [](const SavedFile& e) { return e.key; })) {
    Changes.seen[s->record] = 1;
    int64_t before = Changes.then.Record(s->record).size;
    if (size > before)
      OfferTop(&Changes.lists.grown, size - (before > 0 ? before : 0), rel, relLength, name,
               nameLength);
    return;
  }
  uint64_t directory = PathKey(rel, relLength);
  if (std::binary_search(Changes.directories.begin(), Changes.directories.end(), directory)) {
    OfferTop(&Changes.lists.added, size, rel, relLength, name, nameLength);
    return;
  }
  if (size == 0) return;  // never listed
  try {
    Changes.pending.push_back({size, Changes.path});
  } catch (const std::bad_alloc&) {
    // Short of memory: the file is left out of the lists.
  }
}

// The paths below the start directory of the directories of the tree below root that moved
// (each followed by the separator), and where they were.
void MovedPlaces(const DirNode* root, std::vector<std::string>* now,
                 std::vector<std::string>* was) {
  std::vector<std::pair<const DirNode*, std::string>> walk = {{root, ""}};
  while (!walk.empty()) {
    auto [n, path] = std::move(walk.back());
    walk.pop_back();
    if (const std::string* from = MovedFrom(n)) {
      now->push_back(path);
      was->push_back(*from + PathSeparator);
      continue;  // what lies below moved with it
    }
    for (const DirNode* c = n->firstChild; c; c = c->nextSibling) {
      std::string below = path;
      below.append(NameText(c), (size_t)OwnNameLength(c));
      below.push_back(PathSeparator);
      walk.push_back({c, std::move(below)});
    }
  }
}

bool Within(const std::string& path, const std::vector<std::string>& places) {
  for (const std::string& p : places)
    if (path.compare(0, p.size(), p) == 0) return true;
  return false;
}
}  // namespace

void BeginFileChanges(int limit) {
  Changes.limit = limit;
  Changes.then.Clear();
  std::vector<SavedFile>().swap(Changes.files);
  std::vector<char>().swap(Changes.seen);
  std::vector<uint64_t>().swap(Changes.directories);
  std::vector<Pending>().swap(Changes.pending);
  Changes.indexed = false;
  std::vector<std::pair<Pending, int>>().swap(Changes.early);
  StartTopList(&Changes.lists.added, limit);
  StartTopList(&Changes.lists.grown, limit);
  StartTopList(&Changes.lists.gone, limit);
  Changes.watch = FileWatch{nullptr, Watch};
}

FileStore* SavedScanFiles() {
  return Changes.limit > 0 ? &Changes.then : nullptr;
}

const FileWatch* ReportFileWatch() {
  return Changes.limit > 0 ? &Changes.watch : nullptr;
}

void IndexSavedFiles(const DirNode* then) {
  // Without the saved scan's directory every file would be new: no file is listed.
  if (!then) Changes.limit = 0;
  if (Changes.limit > 0) {
    try {
      std::vector<std::pair<const DirNode*, std::string>> walk = {{then, ""}};
      while (!walk.empty()) {
        auto [n, path] = std::move(walk.back());
        walk.pop_back();
        Changes.directories.push_back(PathKey(path.data(), (int)path.size()));
        FileRange r = Changes.then.FilesOf(n);
        for (uint32_t i = r.first; i < r.first + r.count; ++i) {
          const FileRecord& f = Changes.then.Record(i);
          Changes.files.push_back(
              {KeyOf(path.data(), (int)path.size(), Changes.then.Name(f), f.nameLength), i});
        }
        for (const DirNode* c = n->firstChild; c; c = c->nextSibling) {
          std::string below = path;
          below.append(NameText(c), (size_t)OwnNameLength(c));
          below.push_back(PathSeparator);
          walk.push_back({c, std::move(below)});
        }
      }
      std::sort(Changes.files.begin(), Changes.files.end(),
                [](const SavedFile& a, const SavedFile& b) { return a.key < b.key; });
      std::sort(Changes.directories.begin(), Changes.directories.end());
      Changes.seen.assign(Changes.then.End(), 0);
    } catch (const std::bad_alloc&) {
      // Short of memory: nothing is compared, and every list stays empty.
      Changes.limit = 0;
    }
  }
  Changes.indexed = true;
  std::vector<std::pair<Pending, int>> early;
  early.swap(Changes.early);
  if (Changes.limit > 0)
    for (const auto& [file, relLength] : early)
      Compare(file.path.data(), relLength, file.path.data() + relLength,
              (int)file.path.size() - relLength, file.size);
}

void FinishFileChanges(const DirNode* root, const DirNode* then, FileChangeLists* lists) {
  if (Changes.limit > 0) {
    std::vector<std::string> now, was;
    MovedPlaces(root, &now, &was);
    for (const Pending& p : Changes.pending)
      if (!Within(p.path, now))
        OfferTop(&Changes.lists.added, p.size, p.path.data(), (int)p.path.size(), "", 0);
    // What the report's tree took no file at is gone, but what moved with its directory.
    std::vector<std::pair<const DirNode*, std::string>> walk = {{then, ""}};
    while (then && !walk.empty()) {
      auto [n, path] = std::move(walk.back());
      walk.pop_back();
      if (Within(path, was)) continue;
      FileRange r = Changes.then.FilesOf(n);
      for (uint32_t i = r.first; i < r.first + r.count; ++i) {
        if (Changes.seen[i]) continue;
        const FileRecord& f = Changes.then.Record(i);
        OfferTop(&Changes.lists.gone, f.size > 0 ? f.size : 0, path.data(), (int)path.size(),
                 Changes.then.Name(f), f.nameLength);
      }
      for (const DirNode* c = n->firstChild; c; c = c->nextSibling) {
        std::string below = path;
        below.append(NameText(c), (size_t)OwnNameLength(c));
        below.push_back(PathSeparator);
        walk.push_back({c, std::move(below)});
      }
    }
  }
  SortTopList(&Changes.lists.added);
  SortTopList(&Changes.lists.grown);
  SortTopList(&Changes.lists.gone);
  // Nothing was compared: no list is shown.
  *lists = Changes.limit > 0 ? std::move(Changes.lists) : FileChangeLists{};
  BeginFileChanges(0);
}
