#include "report/html.h"

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "console/json_string.h"
#include "console/output.h"
#include "console/strings.h"
#include "report/engine.h"
#include "report/format.h"
#include "report/page_assets.h"
#include "report/screen_report.h"
#include "tree/tree_builder.h"

namespace {
void Put(const char* z) {
  WriteText(z);
}
void PutNumber(int64_t v) {
  WriteText(FormatPlain(v));
}

// bytes as a JSON string inside the page's data block, with the page's escapes; each byte that
// is no part of a UTF-8 character becomes U+FFFD.
void PutString(const char* bytes, int length) {
  static std::string text;
  text.assign("\"");
  AppendJsonString(&text, bytes, length, JsonPageTextEscapes);
  text.push_back('"');
  WriteText(text.data(), (int)text.size());
}

// Visits every directory of the shown tree in report order (pre-order) with its depth below
// the start directory and its index in that order. Without recursion: the stack holds, for
// each level on the way down, the sibling to visit after the current subtree.
template <typename Visit>
void EachDirectory(const DirNode* root, Visit visit) {
  struct Pending {
    const DirNode* node;
    int32_t depth;
  };
  static LevelStack<Pending> stack;
  stack.clear();
  stack.push_back({root, 0});
  int64_t index = 0;
  while (!stack.empty()) {
    Pending p = stack.back();
    stack.pop_back();
    visit(p.node, p.depth, index++);
    if (p.node != root && p.node->nextSibling) stack.push_back({p.node->nextSibling, p.depth});
    if (p.node->firstChild) stack.push_back({p.node->firstChild, p.depth + 1});
  }
}

// One array of the data: `key` and a value for every directory, comma-separated.
template <typename Value>
void PutColumn(const DirNode* root, const char* key, Value value) {
  Put(",\n\"");
  Put(key);
  Put("\":[");
  EachDirectory(root, [&](const DirNode* n, int32_t depth, int64_t index) {
    if (index > 0) Put(",");
    value(n, depth);
  });
  Put("]");
}

// The page draws a file as a tile of its own when it takes at least this share of the start
// directory's total: so it draws at most this many, however many files the tree keeps.
constexpr int64_t FileShare = 2000;

// The kept files the page draws (see FileShare), in report order of their directories: their
// names, sizes and the index of their directory. Nothing without kept files.
void PutFiles(const RunRecord& run) {
  const FileStore* store = run.settings.files;
  if (!store) return;
  struct Drawn {
    int64_t dir;
    uint32_t record;
    int64_t size;
  };
  static std::vector<Drawn> drawn;
  drawn.clear();
  int64_t total = NodeTotal(&run.root);
  // The least size s with s x FileShare >= total; at least a byte.
  int64_t least = total / FileShare + (total % FileShare != 0 ? 1 : 0);
  if (least < 1) least = 1;
  EachDirectory(&run.root, [&](const DirNode* n, int32_t, int64_t index) {
    FileRange r = store->FilesOf(n);
    for (uint32_t i = r.first; i < r.first + r.count; ++i) {
      int64_t size = KeptFileSize(*store, store->Record(i), run.settings.dirListingSizes,
                                  ClusterSize, run.settings.fileSystemCluster);
      if (size >= least) drawn.push_back({index, i, size});
    }
  });
  Put(",\n\"fn\":[");
  for (size_t k = 0; k < drawn.size(); ++k) {
    if (k > 0) Put(",");
    const FileRecord& f = store->Record(drawn[k].record);
    PutString(store->Name(f), f.nameLength);
  }
  Put("],\n\"fs\":[");
  for (size_t k = 0; k < drawn.size(); ++k) {
    if (k > 0) Put(",");
    PutNumber(drawn[k].size);
  }
  Put("],\n\"fd\":[");
  for (size_t k = 0; k < drawn.size(); ++k) {
    if (k > 0) Put(",");
    PutNumber(drawn[k].dir);
  }
  Put("]");
}
// With -since, the files behind the growth: "cf", one [kind, bytes, path] for each entry of
// the three lists (kind 0 new, 1 grown, 2 gone; the path below the start directory).
void PutFileChanges(const RunRecord& run) {
  const TopList* lists[3] = {&run.changes.added, &run.changes.grown, &run.changes.gone};
  if (run.changes.added.limit == 0) return;
  Put(",\n\"cf\":[");
  bool first = true;
  for (int kind = 0; kind < 3; ++kind) {
    for (const TopEntry& e : lists[kind]->kept) {
      if (!first) Put(",");
      first = false;
      Put("[");
      PutNumber(kind);
      Put(",");
      PutNumber(e.bytes);
      Put(",");
      PutString(e.path.data(), (int)e.path.size());
      Put("]");
    }
  }
  Put("]");
}
}  // namespace

void WriteHtmlReport(const RunRecord& run, const char* version, PageGrowthOf growthOf) {
  Put(PageHead);
  Put("{\"version\":");
  PutString(version, (int)std::strlen(version));
  std::time_t now = std::time(nullptr);
  const std::tm* utc = std::gmtime(&now);
  char created[32];
  if (utc && std::strftime(created, sizeof created, "%Y-%m-%dT%H:%M:%SZ", utc) > 0) {
    Put(",\"created\":\"");
    Put(created);
    Put("\"");
  } else {
    Put(",\"created\":null");
  }
  char separator[2] = {PathSeparator, 0};
  Put(",\"separator\":");
  PutString(separator, 1);
  char thousands[2] = {ThousandsSeparator, 0};
  Put(",\"thousands\":");
  PutString(thousands, 1);
  Put(",\"cluster\":");
  PutNumber(ClusterSize);
  Put(ShowWaste ? ",\"waste\":true" : ",\"waste\":false");
  Put(",\"files\":");
  PutNumber(TotalFiles);
  Put(",\"unreadable\":");
  PutNumber(run.outcome.unreadable);
  Put(",\"excluded\":");
  PutNumber(run.outcome.excluded);

  // The names as read: a merged directory's marker is the "m" list's, so that its path below
  // the start directory stays the real one.
  PutColumn(&run.root, "n", [](const DirNode* n, int32_t) { PutString(NameText(n), OwnNameLength(n)); });
  PutColumn(&run.root, "d", [](const DirNode*, int32_t depth) { PutNumber(depth); });
  PutColumn(&run.root, "t", [](const DirNode* n, int32_t) { PutNumber(NodeTotal(n)); });
  PutColumn(&run.root, "o", [](const DirNode* n, int32_t) { PutNumber(n->localSize); });
  PutColumn(&run.root, "w", [](const DirNode* n, int32_t) { PutNumber(n->wastage); });
  PutColumn(&run.root, "f", [](const DirNode* n, int32_t) { PutNumber(n->fileCount); });
  Put(",\n\"m\":[");
  bool first = true;
  EachDirectory(&run.root, [&](const DirNode* n, int32_t, int64_t index) {
    if (!n->merged) return;
    if (!first) Put(",");
    first = false;
    PutNumber(index);
  });
  Put("]");
  if (growthOf) {
    PutColumn(&run.root, "g", [&](const DirNode* n, int32_t) { PutNumber(growthOf(n).bytes); });
    PutColumn(&run.root, "c", [&](const DirNode* n, int32_t) { PutNumber(growthOf(n).change); });
  }
  PutFiles(run);
  PutFileChanges(run);
  Put("}\n");
  Put(PageTail);
}
