// Helpers shared by the unit tests: bounded strings as std::string, captured output, hand-built
// trees, and a guard that puts back every piece of program-wide state a test may change.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "console/bounded_string.h"
#include "console/console.h"
#include "console/output.h"
#include "console/pager.h"
#include "console/strings.h"
#include "disk/drive.h"
#include "report/engine.h"
#include "report/database.h"
#include "report/format.h"
#include "driver/run_record.h"
#include "report/saved_scans.h"
#include "report/screen_report.h"
#include "tree/dir_node.h"
#include "tree/find.h"
#include "tree/scan.h"
#include "tree/top_list.h"

template <int N>
inline std::string S(const BoundedText<N>& b) { return std::string(b.text, b.length); }
inline BStr B(const std::string& s) { return BMake(s.data(), (int)s.size()); }
inline std::string Name(const DirNode* n) { return std::string(NameText(n), NameLength(n)); }

// Splits captured output at the platform's line end; the empty piece after the last is dropped.
inline std::vector<std::string> SplitLines(const std::string& out) {
  std::vector<std::string> lines;
  std::string eol = PlatformLineEnd;
  size_t start = 0;
  for (;;) {
    size_t at = out.find(eol, start);
    if (at == std::string::npos) break;
    lines.push_back(out.substr(start, at - start));
    start = at + eol.size();
  }
  if (start < out.size()) lines.push_back(out.substr(start));
  return lines;
}

// Every write to standard output goes into `text` while this lives, and what goes to standard
// error while output is sent there into `errors`.
struct Capture {
  std::string text, errors;
  Capture() {
    CaptureOutput(&text);
    CaptureErrors(&errors);
  }
  ~Capture() {
    CaptureOutput(nullptr);
    CaptureErrors(nullptr);
  }
  std::vector<std::string> Lines() const { return SplitLines(text); }
};

// The record the tests' reports are made of, as the run driver hands one to the forms: its tree
// (the scan's tests read into it too), saved-scan notes, lists of the largest and drive.
inline RunRecord TestRun;
inline DirNode& RootNode = TestRun.root;
inline SavedScanNotes& SavedScans = TestRun.saved;
inline TopLists& LargestAnywhere = TestRun.largest;

// The scan's tests ask for a scan as the run driver does: these settings, the start path in
// ScanPath and the cluster in ClusterSize make the request (ScanTestRequest), and the scan's
// outcome and totals are published into LastScan, TotalFiles and TotalWaste.
struct ScanSettings {
  bool dirListingSizes;
  int maxDepth;
  int64_t minSize;
  SortOrder sortOrder;
  int rootPathLength;  // a start path (with separator) this long or shorter is a drive root
  int pathBudget;
  int patternRoom;
  int32_t fileSystemCluster;
  int readAheadThreads = 0;
  bool directorySizes = false;
  TopLists* top = nullptr;  // receives the lists of the largest; null: none are kept
  FileStore* files = nullptr;  // keeps the files; null: none are kept
};
inline ScanSettings Scan = {false, 255, 0, NAME, 3, 255, 4, 4096};
inline PathStr ScanPath;
inline ScanOutcome& LastScan = TestRun.outcome;

inline BuildSettings ScanTestSettings() {
  BuildSettings b;
  b.dirListingSizes = Scan.dirListingSizes;
  b.maxDepth = Scan.maxDepth;
  b.minSize = Scan.minSize;
  b.sortOrder = Scan.sortOrder;
  bool separated = ScanPath.length > 0 && ScanPath.text[ScanPath.length - 1] == PathSeparator;
  b.chargeRoot = ScanPath.length + (separated ? 0 : 1) > Scan.rootPathLength;
  b.cluster = ClusterSize > 0 ? ClusterSize : 1;
  b.fileSystemCluster = Scan.fileSystemCluster > 0 ? Scan.fileSystemCluster : 1;
  b.keepAll = false;
  b.releaseMemory = ScanReleaseMemory;
  b.topCount = Scan.top ? Scan.top->files.limit : 0;
  b.files = Scan.files;
  return b;
}

inline bool ScanDirectory(DirNode* root, const ListingSink* sink = nullptr) {
  static TreeBuild build;
  ScanRequest r;
  r.path = ScanPath;
  r.pathBudget = Scan.pathBudget;
  r.patternRoom = Scan.patternRoom;
  r.rules.readAheadThreads = Scan.readAheadThreads;
  r.rules.directorySizes = Scan.directorySizes;
  BeginTree(&build, ScanTestSettings(), root, sink);
  ScanOutcome met;
  bool scanned = ScanDirectory(r, TreeConsumerOf(&build), &met);
  LastScan = std::move(met);
  if (!scanned) return false;
  FinishTree(&build);
  CountOutcome(&LastScan, build.totals);
  SetRunTotals(AddCount(TotalFiles, build.totals.files), AddSize(TotalWaste, build.totals.waste));
  if (Scan.top) *Scan.top = std::move(build.top);
  return true;
}

// Saves the program-wide state on construction and restores it on destruction, so tests never
// leak settings into each other (the unit tests of every module share one process).
struct StateGuard {
  BStr treeChars = TreeChars;
  bool showWaste = ShowWaste, wasteAsPercent = WasteAsPercent, showFiles = ShowFiles;
  bool showUnits = ShowUnits;
  char separator = ThousandsSeparator;
  int32_t clusterSize = ClusterSize;
  ScanSettings scan = Scan;
  PathStr scanPath = ScanPath;
  int32_t totalFiles = TotalFiles;
  int64_t totalWaste = TotalWaste;
  ScanOutcome lastScan = LastScan;
  DirNode root = RootNode;
  bool paging = PagingEnabled;
  int pageLineCount = PageLineCount;
  int lastRow = ScreenLastRow, width = ScreenWidth;
  bool redirected = OutputRedirected;
  bool outputIsTerminal = OutputIsTerminal, errorIsTerminal = ErrorIsTerminal;
  bool utf8 = TextIsUtf8;
  KeyboardSource keyboard = Keyboard;
  void (*endHook)(int) = EndProgramHook;
  const FileSystemOps* fs = ScanFileSystem;
  int32_t nextLine = PassNextLine(), linesLeft = PassLinesLeft();
  SavedScanNotes savedScans = SavedScans;
  TopLists largest = LargestAnywhere;
  DriveFacts drive = TestRun.drive;
  ScanOutcome outcome = TestRun.outcome;
  BuildSettings settings = TestRun.settings;
  PathStr rowPath = CurrentRowPath();

  ~StateGuard() {
    SavedScans = savedScans;
    LargestAnywhere = largest;
    TestRun.drive = drive;
    TestRun.outcome = outcome;
    TestRun.settings = settings;
    SetRowPath(rowPath);
    TreeChars = treeChars;
    ShowWaste = showWaste;
    WasteAsPercent = wasteAsPercent;
    ShowFiles = showFiles;
    ShowUnits = showUnits;
    ThousandsSeparator = separator;
    ClusterSize = clusterSize;
    Scan = scan;
    ScanPath = scanPath;
    TotalFiles = totalFiles;
    TotalWaste = totalWaste;
    LastScan = lastScan;
    RootNode = root;
    PagingEnabled = paging;
    PageLineCount = pageLineCount;
    ScreenLastRow = lastRow;
    ScreenWidth = width;
    OutputRedirected = redirected;
    OutputIsTerminal = outputIsTerminal;
    ErrorIsTerminal = errorIsTerminal;
    TextIsUtf8 = utf8;
    Keyboard = keyboard;
    EndProgramHook = endHook;
    ScanFileSystem = fs;
    StartPass(nextLine, linesLeft);
  }
};

// A fixture whose tests may change any program-wide state.
class Isolated : public ::testing::Test {
 protected:
  StateGuard guard;
};

// A node made the way the scan makes them (so the tree operations may release it), with figures.
inline DirNode* NewNode(const std::string& name, int64_t localSize = 0, int32_t fileCount = 0,
                        int64_t wastage = 0, int64_t subdirsSize = 0) {
  DirNode* list = nullptr;
  MakeNode(name.data(), (int)name.size(), &list);
  list->localSize = localSize;
  list->fileCount = fileCount;
  list->wastage = wastage;
  list->subdirsSize = subdirsSize;
  list->nextSibling = nullptr;
  return list;
}

// Appends child at the end of parent's child list.
inline DirNode* AddChild(DirNode* parent, DirNode* child) {
  DirNode** at = &parent->firstChild;
  while (*at) at = &(*at)->nextSibling;
  *at = child;
  return child;
}

inline std::vector<std::string> ChildNames(const DirNode* parent) {
  std::vector<std::string> names;
  for (const DirNode* c = parent->firstChild; c; c = c->nextSibling) names.push_back(Name(c));
  return names;
}

// Makes RootNode a fresh root named name; its children are released by the test's
// CollapseChildren(&RootNode) or ReleaseRoot().
inline void ResetRoot(const std::string& name) {
  RootNode = DirNode{};
  RootNode.name = AllocateName(name.data(), (int)name.size());
}

inline void ReleaseRoot() {
  CollapseChildren(&RootNode);
  std::free(RootNode.name);
  RootNode.name = nullptr;
}

// The DATA tree, rooted at rootPath: the root (12,288 bytes, 2 files, 6,144 wasted) with Alpha
// and Beta, and Beta with Gamma.
inline void BuildExampleTree(const std::string& rootPath) {
  ResetRoot(rootPath);
  RootNode.localSize = 12288;
  RootNode.fileCount = 2;
  RootNode.wastage = 6144;
  DirNode* alpha = AddChild(&RootNode, NewNode("Alpha", 1236992, 42, 12345));
  DirNode* beta = AddChild(&RootNode, NewNode("Beta", 503808, 7, 40000));
  DirNode* gamma = AddChild(beta, NewNode("Gamma", 1204224, 3, 2000));
  beta->subdirsSize = NodeTotal(gamma);
  RootNode.subdirsSize = NodeTotal(alpha) + NodeTotal(beta);
}

// The run's figures that go with the DATA tree: its cluster size and totals, and its drive.
inline void SetExampleFigures() {
  ClusterSize = 4096;
  TotalFiles = 54;
  TotalWaste = 60489;
  TestRun.drive = DriveFacts{BMake("C"), 32768, 1073741824, 2147155968, 3};
}

// Releases a hand-made node and everything below it.
inline void Release(DirNode* n) {
  if (!n) return;
  CollapseChildren(n);
  std::free(n->name);
  std::free(n);
}
