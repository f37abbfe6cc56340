#include "report/browser.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/output.h"
#include "console/strings.h"
#include "report/format.h"
#include "tree/growth_record.h"
#include "tree/node_table.h"
#include "tree/remove.h"
#include "tree/tree_builder.h"

namespace {
// What the browser adds up once for every directory of the tree: its files below, and its
// sizes counted the other way (the tree's own figures count one way: held on the disk, or
// listed with -dir).
struct Sums {
  int64_t other = 0;    // its total counted the other way
  int32_t files = 0;    // files in it and below (the tree counts its files in 32 bits too)
  int32_t subdirs = 0;  // directories below it
  bool changed = false;  // it, or one below it, changed since the saved scan (-since)
};

enum class Key : unsigned char { Size, Name, Count, Waste, Growth };

// One row of the directory shown: a subdirectory or a file.
struct Entry {
  const DirNode* node;  // the subdirectory; null for a file
  uint32_t file;        // the file's record, for a file
  int64_t size;         // as shown: held or listed
  int64_t key;          // the figure it is sorted by, when that is not its size or name
};

struct Browser {
  RunRecord& run;
  FileStore& files;
  const BrowseActions& actions;
  NodeTable<Sums> sums;
  std::vector<const DirNode*> path;  // from the start directory to the one shown
  std::vector<Entry> rows;
  int selected = 0;
  int top = 0;  // the first row on the screen
  Key key = Key::Size;
  bool reversed = false;  // the sort key's order turned round
  bool other = false;     // sizes counted the other way (a)
  bool showFiles = true;  // f
  bool changedOnly;       // x: only the directories that changed since the saved scan
  bool bytes = false;     // u: sizes in bytes
  bool listedRun;         // the tree's own figures are listed sizes (-dir)

  Browser(RunRecord& r, FileStore& f, const BrowseActions& a) : run(r), files(f), actions(a) {
    listedRun = run.settings.dirListingSizes;
    changedOnly = run.options.changedOnly && GrowthShown();
  }
};

// What a file adds to its directory's own figures, counted held (as the report counts a file
// by default) or listed (its length, as -dir counts it).
int64_t FileSize(const Browser& b, const FileRecord& f, bool listed) {
  return KeptFileSize(b.files, f, listed, ClusterSize, b.run.settings.fileSystemCluster);
}

// Adds up every directory's files and its other total, the deepest first, without recursion:
// each directory on the way down gathers what its subdirectories add up to.
void AddUp(Browser& b) {
  b.sums.Clear();
  struct Frame {
    const DirNode* node;
    const DirNode* next;  // the subdirectory to add up next
    Sums sums;            // what those added up so far give
  };
  std::vector<Frame> stack = {{&b.run.root, b.run.root.firstChild, {}}};
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (const DirNode* c = top.next) {
      top.next = c->nextSibling;
      stack.push_back({c, c->firstChild, {}});
      continue;
    }
    Sums s = top.sums;
    Growth g = NodeGrowth(top.node);
    s.changed = s.changed || g.bytes != 0 || g.change != Change::Same;
    FileRange r = b.files.FilesOf(top.node);
    s.files = AddCount(s.files, (int32_t)std::min<uint32_t>(r.count, INT32_MAX));
    for (uint32_t i = r.first; i < r.first + r.count; ++i)
      s.other = AddSize(s.other, FileSize(b, b.files.Record(i), !b.listedRun));
    b.sums.Put(top.node, s);
    stack.pop_back();
    if (stack.empty()) break;
    Sums& above = stack.back().sums;
    above.files = AddCount(above.files, s.files);
    above.subdirs = AddCount(above.subdirs, AddCount(s.subdirs, 1));
    above.other = AddSize(above.other, s.other);
    above.changed = above.changed || s.changed;
  }
}

// What AddUp gave for n (nothing for a node it has not seen).
Sums SumsOf(const Browser& b, const DirNode* n) {
  const Sums* s = b.sums.Find(n);
  return s ? *s : Sums{};
}

int64_t DirSize(const Browser& b, const DirNode* n) {
  return b.other ? SumsOf(b, n).other : NodeTotal(n);
}

std::string NodeName(const DirNode* n) {
  return std::string(NameText(n), (size_t)OwnNameLength(n));
}

std::string FileName(const Browser& b, const FileRecord& f) {
  return std::string(b.files.Name(f), f.nameLength);
}

std::string RowName(const Browser& b, const Entry& e) {
  return e.node ? NodeName(e.node) : FileName(b, b.files.Record(e.file));
}

// A row's name as its bytes, for comparing without a copy.
std::pair<const char*, int> NameBytes(const Browser& b, const Entry& e) {
  if (e.node) return {NameText(e.node), OwnNameLength(e.node)};
  const FileRecord& f = b.files.Record(e.file);
  return {b.files.Name(f), f.nameLength};
}

// Orders the rows by the sort key, largest first (names: A to Z), ties by name (a directory
// before a file of the same name); reversed when the same key was asked again. In place: a
// directory of a million files takes no second array to sort.
void SortRows(Browser& b) {
  Key key = b.key;
  auto less = [&](const Entry& x, const Entry& y) {
    int64_t a = key == Key::Size ? x.size : key == Key::Name ? 0 : x.key;
    int64_t c = key == Key::Size ? y.size : key == Key::Name ? 0 : y.key;
    if (a != c) return a > c;
    auto [xn, xl] = NameBytes(b, x);
    auto [yn, yl] = NameBytes(b, y);
    int order = std::memcmp(xn, yn, (size_t)std::min(xl, yl));
    if (order != 0) return order < 0;
    if (xl != yl) return xl < yl;
    return x.node != nullptr && y.node == nullptr;
  };
  std::sort(b.rows.begin(), b.rows.end(), less);
  if (b.reversed) std::reverse(b.rows.begin(), b.rows.end());
}

// The figure a row is sorted by under key, beside its size and name.
int64_t KeyOf(const Browser& b, Key key, const DirNode* node, int64_t waste) {
  switch (key) {
    case Key::Count:
      return node ? SumsOf(b, node).files : 0;
    case Key::Waste:
      return waste;
    case Key::Growth:
      return node ? NodeGrowth(node).bytes : 0;
    default:
      return 0;
  }
}

// The rows of the directory shown, sorted.
void FillRows(Browser& b) {
  const DirNode* n = b.path.back();
  b.rows.clear();
  for (const DirNode* c = n->firstChild; c; c = c->nextSibling)
    if (!b.changedOnly || SumsOf(b, c).changed)
      b.rows.push_back(Entry{c, 0, DirSize(b, c), KeyOf(b, b.key, c, c->wastage)});
  // A file's change is not known: only what changed shows no files.
  if (b.showFiles && !b.changedOnly) {
    FileRange r = b.files.FilesOf(n);
    for (uint32_t i = r.first; i < r.first + r.count; ++i) {
      const FileRecord& f = b.files.Record(i);
      bool listed = b.other ? !b.listedRun : b.listedRun;
      int64_t size = FileSize(b, f, listed);
      int64_t waste = listed ? 0 : size - (f.size > 0 ? std::min(size, f.size) : 0);
      b.rows.push_back(Entry{nullptr, i, size, KeyOf(b, b.key, nullptr, waste)});
    }
  }
  SortRows(b);
  if (b.selected >= (int)b.rows.size()) b.selected = (int)b.rows.size() - 1;
  if (b.selected < 0) b.selected = 0;
}

BStr SizeText(const Browser& b, int64_t v) {
  return b.bytes ? FormatThousands(v) : FormatUnits(v);
}

std::string PathOf(const Browser& b) {
  std::string p = NodeName(b.path.front());
  for (size_t i = 1; i < b.path.size(); ++i) {
    if (p.empty() || p.back() != PathSeparator) p += PathSeparator;
    p += NodeName(b.path[i]);
  }
  return p;
}

int ListRows() {
  return ScreenLastRow - 1 > 1 ? ScreenLastRow - 1 : 1;  // the first and last rows are taken
}

void PutPadded(const BStr& text, int width) {
  for (int i = text.length; i < width; ++i) WriteText(" ");
  WriteText(text);
}

void WriteRow(const Browser& b, const Entry& e, int64_t whole, bool selected) {
  if (selected) SetReverseVideo(true);
  PutPadded(SizeText(b, e.size), b.bytes ? 15 : 9);
  WriteText(" ");
  PutPadded(FormatPercent(e.size, whole), 4);
  WriteText(" [");
  int filled = whole > 0 ? (int)((double)e.size / (double)whole * 10 + 0.5) : 0;
  for (int i = 0; i < 10; ++i) WriteText(i < filled ? "#" : " ");
  WriteText("] ");
  if (GrowthShown()) {
    Growth growth = e.node ? NodeGrowth(e.node) : Growth{0, Change::Same};
    BStr g = FormatUnits(ChangeSize(growth.bytes));
    BStr signed_ = BMake(growth.bytes > 0 ? "+" : growth.bytes < 0 ? "-" : " ");
    BAppend(signed_, g);
    PutPadded(signed_, 10);
    WriteText(" ");
    const char* word = ChangeWord(growth.change);
    WriteText(word);
    for (size_t i = std::strlen(word); i < 6; ++i) WriteText(" ");
  }
  if (e.node)
    PutPadded(FormatThousands(SumsOf(b, e.node).files), 9);
  else
    WriteText("         ");
  WriteText("  ");
  std::string name = RowName(b, e);
  WriteName(name.data(), (int)name.size());
  if (e.node) WriteText("/");
  if (const std::string* from = e.node ? MovedFrom(e.node) : nullptr) {
    WriteText("   moved from ");
    WriteName(from->data(), (int)from->size());
  }
  if (selected) SetReverseVideo(false);
  WriteLineEnd();
}

void Draw(Browser& b) {
  ClearConsole();
  SetLineCut(ScreenRowColumns() < 2 ? 2 : ScreenRowColumns());
  const DirNode* shown = b.path.back();
  std::string p = PathOf(b);
  WriteText("--- ");
  WriteName(p.data(), (int)p.size());
  WriteText("  ");
  WriteText(SizeText(b, DirSize(b, shown)));
  WriteText(" ---");
  WriteLineEnd();
  int rows = ListRows();
  if (b.selected < b.top) b.top = b.selected;
  if (b.selected >= b.top + rows) b.top = b.selected - rows + 1;
  int64_t whole = DirSize(b, shown);
  for (int i = 0; i < rows; ++i) {
    int at = b.top + i;
    if (at < (int)b.rows.size())
      WriteRow(b, b.rows[(size_t)at], whole, at == b.selected);
    else if (at == 0)
      WriteText("  (empty)"), WriteLineEnd();
    else
      WriteLineEnd();
  }
  const DirNode* root = &b.run.root;
  WriteText(" Total ");
  WriteText(SizeText(b, DirSize(b, root)));
  WriteText("  Files ");
  WriteText(FormatThousands(SumsOf(b, root).files));
  WriteText(b.other != b.listedRun ? "  (listed)" : "  (on disk)");
  WriteText("   ? help");
  SetLineCut(0);
  FlushOutput();
}

// A box of lines over the whole screen until a key closes it; returns that key.
KeyPress ShowBox(const std::vector<std::string>& lines) {
  for (;;) {
    ClearConsole();
    SetLineCut(ScreenRowColumns() < 2 ? 2 : ScreenRowColumns());
    int shown = 0;
    for (const std::string& l : lines) {
      if (shown++ >= ScreenLastRow) break;
      WriteName(l.data(), (int)l.size());
      WriteLineEnd();
    }
    SetLineCut(0);
    FlushOutput();
    KeyPress k = ReadKeyOrResize();
    if (!ScreenResized) return k;
  }
}

const char* const HelpLines[] = {
    "Keys of the browser",
    "",
    "  Up, Down, k, j      move          PgUp, PgDn, Home, End",
    "  Right, Enter, l     open the selected directory",
    "  Left, Backspace, h  the parent directory",
    "  s n c w g           sort by size, name, file count, wastage, growth",
    "                      (the same key again turns the order round)",
    "  a                   sizes held on the disk or listed",
    "  u                   sizes in units or in bytes",
    "  f                   show or hide files",
    "  x                   only what changed, or all (with -since)",
    "  i                   the selected entry whole",
    "  T                   the largest files and directories anywhere",
    "  r                   read the directory shown again from the disk",
    "  d                   delete the selected entry, or move it to the trash",
    "  q, Esc              leave",
    "",
    "Esc or q closes this box.",
};

void ShowInfo(Browser& b) {
  if (b.rows.empty()) return;
  const Entry& e = b.rows[(size_t)b.selected];
  std::vector<std::string> lines;
  std::string full = PathOf(b);
  if (full.empty() || full.back() != PathSeparator) full += PathSeparator;
  full += RowName(b, e);
  lines.push_back("Path:      " + full);
  auto num = [&](int64_t v) {
    BStr t = FormatThousands(v);
    return std::string(t.text, (size_t)t.length);
  };
  if (e.node) {
    lines.push_back("Own size:  " + num(e.node->localSize));
    lines.push_back("Total:     " + num(NodeTotal(e.node)));
    lines.push_back("Wastage:   " + num(e.node->wastage));
    Sums s = SumsOf(b, e.node);
    lines.push_back("Files:     " + num(s.files));
    lines.push_back("Subdirectories: " + num(s.subdirs));
    if (GrowthShown()) lines.push_back("Growth:    " + num(NodeGrowth(e.node).bytes));
  } else {
    const FileRecord& f = b.files.Record(e.file);
    lines.push_back("Length:    " + num(f.size));
    lines.push_back("Held:      " + num(FileSize(b, f, false)));
    if (f.flags & FileNames) lines.push_back("Hard link: one of several names of one file");
  }
  lines.push_back("");
  lines.push_back("Esc or q closes this box.");
  ShowBox(lines);
}

// The node at path below the start directory (components split at the separator), or null.
const DirNode* NodeAt(const Browser& b, const std::string& rel, std::vector<const DirNode*>* way) {
  way->assign(1, &b.run.root);
  size_t at = 0;
  while (at < rel.size()) {
    size_t end = rel.find(PathSeparator, at);
    if (end == std::string::npos) end = rel.size();
    std::string part = rel.substr(at, end - at);
    const DirNode* found = nullptr;
    for (const DirNode* c = way->back()->firstChild; c && !found; c = c->nextSibling)
      if (NodeName(c) == part) found = c;
    if (!found) return nullptr;
    way->push_back(found);
    at = end + 1;
  }
  return way->back();
}

// Opens directory way (from the start directory), the entry called name selected.
void OpenAt(Browser& b, const std::vector<const DirNode*>& way, const std::string& name) {
  b.path = way;
  b.selected = 0;
  b.top = 0;
  FillRows(b);
  for (size_t i = 0; i < b.rows.size(); ++i)
    if (RowName(b, b.rows[i]) == name) b.selected = (int)i;
}

// The lists of the largest as the tree stands now, deletes and re-reads counted: each file by
// what its directory counts for it, each directory by its own size, as many of each as the
// run's lists keep.
TopLists LargestNow(const Browser& b) {
  TopLists lists;
  StartTopList(&lists.files, b.run.largest.files.limit);
  StartTopList(&lists.dirs, b.run.largest.dirs.limit);
  std::vector<std::pair<const DirNode*, std::string>> stack = {{&b.run.root, ""}};
  while (!stack.empty()) {
    auto [n, rel] = std::move(stack.back());
    stack.pop_back();
    FileRange r = b.files.FilesOf(n);
    for (uint32_t i = r.first; i < r.first + r.count; ++i) {
      const FileRecord& f = b.files.Record(i);
      if (b.listedRun || (f.flags & FileCharged))
        OfferTop(&lists.files, FileSize(b, f, b.listedRun), rel.data(), (int)rel.size(),
                 b.files.Name(f), f.nameLength);
    }
    OfferTop(&lists.dirs, n->localSize, rel.data(), rel.empty() ? 0 : (int)rel.size() - 1, "", 0);
    for (const DirNode* c = n->firstChild; c; c = c->nextSibling)
      stack.push_back({c, rel + NodeName(c) + PathSeparator});
  }
  SortTopList(&lists.files);
  SortTopList(&lists.dirs);
  return lists;
}

void ShowLargest(Browser& b) {
  struct Item {
    std::string path;
    int64_t bytes;
    bool file;
  };
  std::vector<Item> items;
  TopLists now = LargestNow(b);
  for (const TopEntry& t : now.files.kept) items.push_back({t.path, t.bytes, true});
  for (const TopEntry& t : now.dirs.kept) items.push_back({t.path, t.bytes, false});
  int chosen = 0, top = 0;
  for (;;) {
    std::vector<std::string> lines = {
        "The largest files and the directories holding most of their own", ""};
    int room = ScreenLastRow - 3 > 1 ? ScreenLastRow - 3 : 1;
    if (chosen < top) top = chosen;
    if (chosen >= top + room) top = chosen - room + 1;
    for (int i = top; i < (int)items.size() && i < top + room; ++i) {
      BStr s = SizeText(b, items[(size_t)i].bytes);
      std::string line = (i == chosen ? "> " : "  ") + std::string(s.text, (size_t)s.length);
      while (line.size() < 14) line += ' ';
      line += items[(size_t)i].file ? " file  " : " dir   ";
      line += items[(size_t)i].path;
      lines.push_back(line);
    }
    if (items.empty()) lines.push_back("  (none)");
    lines.push_back("");
    lines.push_back("Up, Down move, Enter opens its directory, Esc or q closes this box.");
    KeyPress k = ShowBox(lines);
    if (k.character == 27 || k.character == 'q' || k.character == 'Q') return;
    if ((k.scanCode == ScanDown || k.character == 'j') && chosen + 1 < (int)items.size()) ++chosen;
    if ((k.scanCode == ScanUp || k.character == 'k') && chosen > 0) --chosen;
    if (k.character == 13 && !items.empty()) {
      const Item& it = items[(size_t)chosen];
      size_t cut = it.path.rfind(PathSeparator);
      std::string dir =
          it.file ? (cut == std::string::npos ? "" : it.path.substr(0, cut)) : it.path;
      std::string name = it.file ? it.path.substr(cut == std::string::npos ? 0 : cut + 1) : "";
      std::vector<const DirNode*> way;
      if (!it.file && !dir.empty()) {
        // A directory opens in its parent with it selected.
        size_t up = dir.rfind(PathSeparator);
        name = dir.substr(up == std::string::npos ? 0 : up + 1);
        dir = up == std::string::npos ? "" : dir.substr(0, up);
      }
      if (NodeAt(b, dir, &way)) OpenAt(b, way, name);
      return;
    }
  }
}

// The path of the directory shown below the start directory, ending in the separator (empty
// for the start directory itself).
std::string RelOf(const Browser& b) {
  std::string rel;
  for (size_t i = 1; i < b.path.size(); ++i) rel += NodeName(b.path[i]) + PathSeparator;
  return rel;
}

// Forgets what is kept of the directories below n, about to be released, and n's own files.
void ForgetBelow(Browser& b, const DirNode* n) {
  b.files.Forget(n);
  std::vector<const DirNode*> stack;
  for (const DirNode* c = n->firstChild; c; c = c->nextSibling) stack.push_back(c);
  while (!stack.empty()) {
    const DirNode* d = stack.back();
    stack.pop_back();
    b.files.Forget(d);
    DropGrowth(d);
    for (const DirNode* c = d->firstChild; c; c = c->nextSibling) stack.push_back(c);
  }
}

// The files of several names charged outside n: n read again must not charge them twice.
std::vector<FileIdentity> ChargedOutside(const Browser& b, const DirNode* n) {
  std::vector<FileIdentity> charged;
  std::vector<const DirNode*> stack = {&b.run.root};
  while (!stack.empty()) {
    const DirNode* d = stack.back();
    stack.pop_back();
    if (d == n) continue;
    FileRange r = b.files.FilesOf(d);
    for (uint32_t i = r.first; i < r.first + r.count; ++i) {
      const FileRecord& f = b.files.Record(i);
      if ((f.flags & FileLinked) && (f.flags & FileCharged))
        charged.push_back({b.files.Device(f), b.files.Inode(f)});
    }
    for (const DirNode* c = d->firstChild; c; c = c->nextSibling) stack.push_back(c);
  }
  return charged;
}

// Reads the directory shown again from the disk: its node takes the new figures and children,
// and every total up to the start directory changes by what its total did.
void Reread(Browser& b) {
  if (b.actions.noReread) {
    ShowBox({std::string("Nothing is read again: ") + b.actions.noReread + ".", "",
             "Any key closes this box."});
    return;
  }
  DirNode* n = const_cast<DirNode*>(b.path.back());
  // The rows point into the tree about to change: the selected one is known by its name.
  std::string name = b.rows.empty() ? "" : RowName(b, b.rows[(size_t)b.selected]);
  int at = b.selected;
  b.rows.clear();
  DirNode fresh = {};
  std::string full = PathOf(b);
  PathStr path = PMake(full.data(), (int)full.size());
  ClearConsole();
  if (!b.actions.reread(path, b.path.size() == 1, ChargedOutside(b, n), &fresh)) {
    CollapseChildren(&fresh);
    OpenAt(b, b.path, name);
    return;
  }
  int64_t delta = NodeTotal(&fresh) - NodeTotal(n);
  ForgetBelow(b, n);
  CollapseChildren(n);
  b.files.Hand(&fresh, n);
  n->localSize = fresh.localSize;
  n->subdirsSize = fresh.subdirsSize;
  n->wastage = fresh.wastage;
  n->fileCount = fresh.fileCount;
  n->readError = fresh.readError;
  n->firstChild = fresh.firstChild;
  fresh.firstChild = nullptr;
  AddGrowth(n, delta);
  for (size_t i = 0; i + 1 < b.path.size(); ++i) {
    DirNode* above = const_cast<DirNode*>(b.path[i]);
    above->subdirsSize = AddSize(above->subdirsSize, delta);
    AddGrowth(above, delta);
  }
  AddUp(b);
  OpenAt(b, b.path, name);
  if (b.rows.empty() || RowName(b, b.rows[(size_t)b.selected]) != name)
    b.selected = std::min(at, (int)b.rows.size() - 1);
  if (b.selected < 0) b.selected = 0;
}

std::string Num(int64_t v) {
  BStr t = FormatThousands(v);
  return std::string(t.text, (size_t)t.length);
}

// d: the selected entry deleted, or moved to the trash, after a box that names it; then the
// directory shown is read again, so that only what went counts as gone.
void Delete(Browser& b) {
  if (b.rows.empty()) return;
  if (b.actions.noDelete) {
    ShowBox({std::string("Nothing is deleted: ") + b.actions.noDelete + ".", "",
             "Any key closes this box."});
    return;
  }
  const Entry& e = b.rows[(size_t)b.selected];
  std::string name = RowName(b, e);
  BStr size = SizeText(b, e.size);
  int64_t files = e.node ? SumsOf(b, e.node).files : 0;
  std::string what = (e.node ? "the directory " : "the file ") + name + (e.node ? "/" : "") + " (" +
                     std::string(size.text, (size_t)size.length) +
                     (e.node ? ", " + Num(files) + (files == 1 ? " file" : " files") : "") +
                     ")";
  KeyPress k = ShowBox({"Delete " + what + "?", "", "  y  delete it", "  t  move it to the trash",
                        "  n  keep it (Esc too)"});
  unsigned char c = k.character;
  if (c != 'y' && c != 'Y' && c != 't' && c != 'T') return;
  std::string rel = RelOf(b);
  RemoveOutcome outcome;
  bool trash = c == 't' || c == 'T';
  if (trash)
    TrashEntry(b.run.path, rel.data(), (int)rel.size(), name.data(), (int)name.size(), &outcome);
  else
    DeleteEntry(b.run.path, rel.data(), (int)rel.size(), name.data(), (int)name.size(), &outcome);
  Reread(b);
  if (outcome.whole) return;
  std::vector<std::string> lines = {std::string(trash ? "Not moved to the trash" : "Not deleted") +
                                    " (" + Num(outcome.failures) + "):"};
  for (const RemoveFailure& f : outcome.named)
    lines.push_back("  " + std::string(f.path.text, (size_t)f.path.length) + ": " +
                    std::string(f.reason.text, (size_t)f.reason.length));
  if (outcome.failures > (int32_t)outcome.named.size())
    lines.push_back("  and " + Num(outcome.failures - (int32_t)outcome.named.size()) + " more");
  lines.push_back("");
  lines.push_back("Any key closes this box.");
  ShowBox(lines);
}

void SortBy(Browser& b, Key key) {
  if (key == Key::Growth && !GrowthShown()) return;
  if (b.key == key)
    b.reversed = !b.reversed;
  else
    b.key = key, b.reversed = false;
  std::string name = b.rows.empty() ? "" : RowName(b, b.rows[(size_t)b.selected]);
  OpenAt(b, b.path, name);
}
}  // namespace

void Browse(RunRecord& run, FileStore& files, const BrowseActions& actions) {
  Browser b(run, files, actions);
  AddUp(b);
  b.path.push_back(&run.root);
  FillRows(b);
  for (;;) {
    Draw(b);
    KeyPress k = ReadKeyOrResize();
    if (ScreenResized) continue;
    if (KeyReadFailed) break;
    unsigned char c = k.character;
    int last = (int)b.rows.size() - 1;
    if (c == 'q' || c == 27) break;
    if (k.scanCode == ScanUp || c == 'k') {
      if (b.selected > 0) --b.selected;
    } else if (k.scanCode == ScanDown || c == 'j') {
      if (b.selected < last) ++b.selected;
    } else if (k.scanCode == ScanPgUp) {
      b.selected = std::max(0, b.selected - ListRows());
    } else if (k.scanCode == ScanPgDn) {
      b.selected = std::max(0, std::min(last, b.selected + ListRows()));
    } else if (k.scanCode == ScanHome) {
      b.selected = 0;
    } else if (k.scanCode == ScanEnd) {
      b.selected = std::max(0, last);
    } else if (k.scanCode == 0x4D || c == 13 || c == 'l') {
      if (!b.rows.empty() && b.rows[(size_t)b.selected].node) {
        std::vector<const DirNode*> way = b.path;
        way.push_back(b.rows[(size_t)b.selected].node);
        OpenAt(b, way, "");
      }
    } else if (k.scanCode == 0x4B || c == 8 || c == 'h') {
      if (b.path.size() > 1) {
        std::string from = NodeName(b.path.back());
        std::vector<const DirNode*> way(b.path.begin(), b.path.end() - 1);
        OpenAt(b, way, from);
      }
    } else if (c == 's') {
      SortBy(b, Key::Size);
    } else if (c == 'n') {
      SortBy(b, Key::Name);
    } else if (c == 'c') {
      SortBy(b, Key::Count);
    } else if (c == 'w') {
      SortBy(b, Key::Waste);
    } else if (c == 'g') {
      SortBy(b, Key::Growth);
    } else if (c == 'a') {
      b.other = !b.other;
      std::string name = b.rows.empty() ? "" : RowName(b, b.rows[(size_t)b.selected]);
      OpenAt(b, b.path, name);
    } else if (c == 'u') {
      b.bytes = !b.bytes;
    } else if (c == 'x') {
      if (!GrowthShown()) continue;
      b.changedOnly = !b.changedOnly;
      std::string name = b.rows.empty() ? "" : RowName(b, b.rows[(size_t)b.selected]);
      OpenAt(b, b.path, name);
    } else if (c == 'f') {
      b.showFiles = !b.showFiles;
      std::string name = b.rows.empty() ? "" : RowName(b, b.rows[(size_t)b.selected]);
      OpenAt(b, b.path, name);
    } else if (c == 'i') {
      ShowInfo(b);
    } else if (c == 'T') {
      ShowLargest(b);
    } else if (c == 'r') {
      Reread(b);
    } else if (c == 'd') {
      Delete(b);
    } else if (c == '?') {
      ShowBox(std::vector<std::string>(std::begin(HelpLines), std::end(HelpLines)));
    }
    // Any other key does nothing.
  }
  ClearConsole();
}
