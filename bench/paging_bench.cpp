// Cost of a key press at the end of a long report. The scroller keeps no copy of the report:
// each page is written again by the header, the walker from the root and the footer, and the
// walker passes every directory above the page. At the end of a report of 1,000,000
// directories that is a walk of the whole tree per key press, which must stay under 50 ms.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "console/console.h"
#include "console/output.h"
#include "console/pager.h"
#include "report/engine.h"
#include "report/screen_report.h"
#include "tree/dir_node.h"
#include "tree/scan.h"

namespace {
// The record the reports are made of, its tree built here.
RunRecord TestRun;
DirNode& RootNode = TestRun.root;
}  // namespace

namespace {
constexpr int Directories = 1000000;  // the root included
constexpr int Rows = 24;              // ScreenLastRow of an 80 x 25 console
const ReportSection ScreenForm = {ScreenHeader, WalkScreenTree, ScreenFooter};
int32_t Total = 0;                    // lines of the report
uint32_t Seed = 5;                    // the synthetic tree is the same in every run

uint32_t Next() {
  Seed = Seed * 1664525u + 1013904223u;
  return Seed >> 8;
}

// Gives n up to 100 subdirectories, and each of those its own, to three levels below the root,
// until the budget is spent. Like the scan, a directory's children are made together (when it
// is read) before the first of them gets its own, so the nodes lie in memory as a real scan
// leaves them.
void Grow(DirNode* n, int depth, int* budget) {
  if (depth == 3) return;
  for (int i = 0; i < 100 && *budget > 0; ++i, --*budget) {
    char name[12];
    int length = 4 + (int)(Next() % 8);
    for (int k = 0; k < length; ++k) name[k] = (char)('a' + Next() % 26);
    MakeNode(name, length, &n->firstChild);
    DirNode* c = n->firstChild;
    c->fileCount = (int32_t)(Next() % 40);
    c->localSize = (int64_t)(Next() % 4096) * 4096;
    c->wastage = (int64_t)(Next() % 4096);
  }
  for (DirNode* c = n->firstChild; c; c = c->nextSibling) {
    Grow(c, depth + 1, budget);
    n->subdirsSize = AddSize(n->subdirsSize, NodeTotal(c));
  }
}

void BuildTree() {
  RootNode = DirNode{};
  static const char root[] = "/srv/synthetic/";
  RootNode.name = AllocateName(root, (int)sizeof root - 1);
  RootNode.localSize = 4096;
  int budget = Directories - 1;
  Grow(&RootNode, 0, &budget);
  ClusterSize = 4096;
  TreeChars = GraphicTreeChars;
  Total = CountReportLines(ScreenForm, TestRun);
}

int CountLines(const std::string& s) {
  int lines = 0;
  for (char c : s) lines += c == '\n';
  return lines;
}

// The redraw after End (or Up, PgUp, a toggle) at the end of the report: one pass of the three
// routines for the last page, as the scroller makes it.
void KeyPressAtEnd(benchmark::State& state) {
  std::string page;
  CaptureOutput(&page);
  for (auto _ : state) {
    page.clear();
    StartPass(Total - Rows, Rows);
    ScreenHeader(TestRun);
    WalkScreenTree(TestRun);
    ScreenFooter(TestRun, Total);
    benchmark::DoNotOptimize(page.data());
  }
  CaptureOutput(nullptr);
  state.counters["lines written"] = CountLines(page);
  state.counters["report lines"] = Total;
}
BENCHMARK(KeyPressAtEnd)->Unit(benchmark::kMillisecond);

// The counting pass that every report makes once before its first page.
void CountingPass(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(CountReportLines(ScreenForm, TestRun));
}
BENCHMARK(CountingPass)->Unit(benchmark::kMillisecond);

// The whole scroller with a scripted keyboard: the count, the first page, End, and a forward
// key at the end that leaves it. Its time less the counting pass is that of the key press.
int KeysGiven = 0;
KeyPress ScriptedKey() {
  ++KeysGiven;
  if (KeysGiven == 1) return KeyPress{0, ScanEnd};
  return KeyPress{' ', 0};
}
void NoClear() {}

void ScrollerEndKey(benchmark::State& state) {
  KeyboardSource saved = Keyboard;
  Keyboard = KeyboardSource{ScriptedKey, NoClear};
  PagingEnabled = true;
  ScreenLastRow = Rows;
  std::string screen;
  CaptureOutput(&screen);
  for (auto _ : state) {
    screen.clear();
    KeysGiven = 0;
    RunReport(ScreenForm, TestRun);
  }
  CaptureOutput(nullptr);
  Keyboard = saved;
  state.counters["keys"] = KeysGiven;
}
BENCHMARK(ScrollerEndKey)->Unit(benchmark::kMillisecond);
}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  BuildTree();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  CollapseChildren(&RootNode);
  return 0;
}
