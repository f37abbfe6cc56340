#include "report/json.h"

#include <ctime>
#include <string>
#include <vector>

#include "console/json_string.h"
#include "console/output.h"
#include "console/strings.h"
#include "report/database.h"
#include "report/engine.h"
#include "report/format.h"
#include "report/lists.h"
#include "tree/exclude.h"
#include "tree/growth.h"
#include "tree/top_list.h"

namespace {
void Put(const char* z) {
  WriteText(z);
}
void PutNumber(int64_t v) {
  WriteText(FormatPlain(v));
}

// Writes bytes as the inside of a JSON string. Returns false when some bytes were no part of a
// UTF-8 character; each of them is written as U+FFFD. Control characters (C0, DEL, C1) are
// escaped although JSON only demands it of C0, so the document stays plain text wherever it is
// shown. Written as every name is.
bool PutEscaped(const char* bytes, int length) {
  static std::string text;
  text.clear();
  bool exact = AppendJsonString(&text, bytes, length, JsonExportEscapes);
  WriteName(text.data(), (int)text.size());
  return exact;
}

void PutHex(const char* bytes, int length) {
  static const char Digits[] = "0123456789abcdef";
  for (int i = 0; i < length; ++i) {
    unsigned char c = (unsigned char)bytes[i];
    char pair[2] = {Digits[c >> 4], Digits[c & 15]};
    WriteText(pair, 2);
  }
}

// "key": "text", and when the text is not valid UTF-8, "key_hex" with its exact bytes.
void PutText(const char* key, const char* bytes, int length) {
  Put("\"");
  Put(key);
  Put("\": \"");
  bool exact = PutEscaped(bytes, length);
  Put("\"");
  if (exact) return;
  Put(", \"");
  Put(key);
  Put("_hex\": \"");
  PutHex(bytes, length);
  Put("\"");
}

void PutNumberField(const char* key, int64_t value) {
  Put(", \"");
  Put(key);
  Put("\": ");
  PutNumber(value);
}

// A node's own fields, up to the opening of its children's list. A directory that could not be
// read whole, or vanished, says so; the others carry no such field.
void PutNodeHead(const DirNode* n) {
  Put("{");
  PutText("name", NameText(n), OwnNameLength(n));
  PutNumberField("own", n->localSize);
  PutNumberField("wasted", n->wastage);
  PutNumberField("files", n->fileCount);
  PutNumberField("total", NodeTotal(n));
  Put(n->merged ? ", \"merged\": true" : ", \"merged\": false");
  if (GrowthShown()) {
    Growth g = NodeGrowth(n);
    PutNumberField("growth", g.bytes);
    if (g.change == Change::Same) {
      Put(", \"change\": null");
    } else {
      Put(", \"change\": \"");
      Put(ChangeWord(g.change));
      Put("\"");
    }
    // Where a moved directory was, below the start directory.
    const std::string* from = MovedFrom(n);
    if (from)
      Put(", "), PutText("moved_from", from->data(), (int)from->size());
    else
      Put(", \"moved_from\": null");
  }
  if (n->readError) Put(", \"read_error\": true");
  Put(", \"children\": [");
}

// The tree from root, each node on a line of its own, its children on the lines after it, with
// a stack held in place of the nodes whose children are being written: a tree as deep as the path
// budget allows takes no more stack than a flat one.
void PutTree(const DirNode* root) {
  static LevelStack<const DirNode*> open;  // outermost first
  open.clear();
  const DirNode* n = root;
  for (;;) {
    PutNodeHead(n);
    if (n->firstChild) {
      open.push_back(n);
      Put("\n");
      n = n->firstChild;
      continue;
    }
    Put("]}");
    // n is done: on with its next sibling, else its parent is done too.
    for (;;) {
      if (open.empty()) return;
      if (n->nextSibling) {
        Put(",\n");
        n = n->nextSibling;
        break;
      }
      n = open.back();
      open.pop_back();
      Put("\n]}");
    }
  }
}

// What shaped the tree: a later reader needs it to tell what the figures cover.
void PutSettings(const BuildSettings& settings) {
  Put("\"options\": {\"depth\": ");
  if (settings.maxDepth >= 255)
    Put("null");
  else
    PutNumber(settings.maxDepth);
  PutNumberField("min_size", settings.minSize);
  Put(", \"sort\": \"");
  char sort[8] = {0};
  const char* name = SortOrderName(settings.sortOrder);
  for (int i = 0; name[i] && i < 7; ++i) sort[i] = (char)(name[i] - 'A' + 'a');
  Put(sort);
  Put(settings.dirListingSizes ? "\", \"listing_sizes\": true" : "\", \"listing_sizes\": false");
  Put(", \"exclude\": [");
  for (int i = 0; i < ExclusionCount(); ++i) {
    int length;
    const char* pattern = ExclusionPattern(i, &length);
    Put(i > 0 ? ", \"" : "\"");
    PutEscaped(pattern, length);
    Put("\"");
  }
  Put("]},\n");
}
// A time as UTC in ISO 8601, or null.
void PutTime(const char* key, bool known, int64_t seconds) {
  Put(", \"");
  Put(key);
  Put("\": ");
  std::time_t when = (std::time_t)seconds;
  const std::tm* utc = known ? std::gmtime(&when) : nullptr;
  char text[32];
  if (utc && std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc) > 0) {
    Put("\"");
    Put(text);
    Put("\"");
  } else {
    Put("null");
  }
}

// The saved scans the report comes from (-from) and is compared with (-since), when it is.
void PutSavedScans(const SavedScanNotes& saved) {
  if (saved.fromDump) {
    Put("\"saved_scan\": {");
    PutText("file", saved.fromFile.text, saved.fromFile.length);
    PutTime("created", saved.fromDated, saved.fromTimestamp);
    Put("},\n");
  }
  if (saved.since) {
    Put("\"since\": {");
    PutText("file", saved.sinceFile.text, saved.sinceFile.length);
    PutTime("created", saved.sinceDated, saved.sinceTimestamp);
    PutNumberField("growth", saved.totalGrowth);
    Put("},\n");
  }
}
// The largest files and directories (-top=N): "top" with a list of each, largest first, each
// entry its bytes and its full path as the database forms spell it.
void PutTop(const RunRecord& run) {
  std::vector<ShownList> lists = ListsShown(run);
  if (lists.empty()) return;
  Put("\"top\": {");
  for (size_t i = 0; i < lists.size(); ++i) {
    Put(i == 0 ? "\"" : "],\n\"");
    Put(lists[i].key);
    Put("\": [");
    bool first = true;
    for (const TopEntry& e : lists[i].list->kept) {
      Put(first ? "\n{\"bytes\": " : ",\n{\"bytes\": ");
      first = false;
      PutNumber(e.bytes);
      Put(", ");
      std::string path = RowPathOf(e.path);
      PutText("path", path.data(), (int)path.size());
      Put("}");
    }
  }
  Put("]},\n");
}
}  // namespace

void WriteJsonReport(const RunRecord& run, const char* version) {
  Put("{\"quorvel\": \"");
  Put(version);
  Put("\", ");
  PutText("directory", NameText(&run.root), OwnNameLength(&run.root));
  std::time_t now = std::time(nullptr);
  const std::tm* utc = std::gmtime(&now);
  char created[32];
  if (utc && std::strftime(created, sizeof created, "%Y-%m-%dT%H:%M:%SZ", utc) > 0) {
    Put(", \"created\": \"");
    Put(created);
    Put("\"");
  } else {
    Put(", \"created\": null");
  }
  PutNumberField("cluster", ClusterSize);
  Put(",\n");
  PutSettings(run.settings);
  PutSavedScans(run.saved);
  if (!run.saved.noDrive) {
    Put("\"drive\": {");
    PutText("name", run.drive.label.text, run.drive.label.length);
    PutNumberField("cluster", run.drive.cluster);
    PutNumberField("free", run.drive.freeBytes);
    PutNumberField("capacity", run.drive.totalBytes);
    Put("},\n\"totals\": {\"files\": ");
  } else {
    Put("\"drive\": null,\n\"totals\": {\"files\": ");
  }
  PutNumber(TotalFiles);
  PutNumberField("wasted", TotalWaste);
  PutNumberField("excluded", run.outcome.excluded);
  PutNumberField("excluded_files", run.outcome.excludedFiles);
  if (run.saved.fromDump) PutNumberField("excluded_in_saved_scan", run.outcome.excludedListed);
  PutNumberField("unreadable", run.outcome.unreadable);
  Put("},\n");
  PutTop(run);
  Put("\"tree\":\n");
  PutTree(&run.root);
  Put("\n}\n");
}
