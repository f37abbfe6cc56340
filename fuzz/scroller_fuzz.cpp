// The scroller driven by any key sequence over any tree, screen size, change of size and report
// form. Invariants: at every prompt NextLine lies within 0..total; the lines written between two
// prompts fit on the screen (the first page below the two banner rows), each on one row; the
// quitting keys end the program with code 0; and once the keyboard fails for good the scroller
// stops within two reads instead of repainting the last page for ever.
#include <cstring>
#include <vector>

#include "console/output.h"
#include "console/pager.h"
#include "fuzz/fuzz_support.h"
#include "report/database.h"
#include "report/engine.h"
#include "report/screen_report.h"
#include "tree/dir_node.h"

namespace {
// The record the reports are made of, its tree built here.
RunRecord TestRun;
DirNode& RootNode = TestRun.root;
}  // namespace

namespace {
ByteReader* Keys = nullptr;  // the rest of the input, one key per byte
std::string Out;             // everything the report wrote
size_t Seen = 0;             // bytes of Out already checked at an earlier prompt
int32_t Total = 0;           // the report's line count
int Prompts = 0;             // keys asked for so far
int FailedReads = 0;         // reads after the input ran out

int32_t PageRows() { return ScreenLastRow < 2 ? 2 : ScreenLastRow; }

const KeyPress SpecialKeys[] = {
    {0, ScanHome}, {0, ScanUp}, {0, ScanPgUp}, {0, ScanEnd}, {0, ScanDown}, {0, ScanPgDn},
    {'q', 0},      {27, 0},     {3, 0},        {'F', 0},    {'d', 0},      {'W', 0},
    {'a', 0},      {12, 0},     {'j', 0},      {'K', 0},    {' ', 0},      {13, 0}};
constexpr int SpecialCount = sizeof SpecialKeys / sizeof SpecialKeys[0];

const int Widths[] = {80, 20, 41, 7};  // screen widths, picked by the size byte

void SetSize(uint8_t b) {
  ScreenLastRow = b % 72;
  ScreenWidth = Widths[b / 72 % 4];
}

KeyPress ScriptedKey() {
  FUZZ_CHECK(PassNextLine() >= 0 && PassNextLine() <= Total);
  // The cursor's column as a terminal moves it; printable ASCII and tabs are a lower bound of
  // what each row holds, enough to see a line that was not cut.
  int lines = 0, column = 0, widest = 0;
  for (size_t i = Seen; i < Out.size(); ++i) {
    unsigned char c = (unsigned char)Out[i];
    if (c == '\n' || c == '\r') {
      lines += c == '\n';
      column = 0;
    } else if (c == '\b') {
      column = column > 0 ? column - 1 : 0;
    } else if (c == '\t') {
      column += 8 - column % 8;
    } else if (c >= 0x20 && c < 0x7F) {
      ++column;
    }
    widest = column > widest ? column : widest;
  }
  Seen = Out.size();
  FUZZ_CHECK(lines <= (Prompts == 0 ? (PageRows() - 2 < 1 ? 1 : PageRows() - 2) : PageRows()));
  FUZZ_CHECK(widest <= (ScreenRowColumns() < 2 ? 2 : ScreenRowColumns()));
  ++Prompts;
  if (Keys->Empty()) {
    ++FailedReads;
    FUZZ_CHECK(FailedReads <= 2);
    KeyReadFailed = true;
    return KeyPress{0, ScanEnd};
  }
  uint8_t b = Keys->Byte();
  if (b == 0xFF) {  // the window changes its size while the key is awaited
    SetSize(Keys->Empty() ? 0 : Keys->Byte());
    ScreenResized = true;
    return KeyPress{0, 0};
  }
  // Most bytes pick one of the keys the scroller knows; the rest are characters as they come.
  if (b < 3 * SpecialCount) return SpecialKeys[b % SpecialCount];
  return KeyPress{b, 0};
}

void CountClear() {}

// Builds a tree of up to 255 nodes below RootNode, or of up to 4,350 when the count byte is 255
// (as deep as the path budget lets a tree be, and more): each new node hangs below one already
// made, with figures and a name from the input. subdirsSize is summed as the scan would.
void BuildTree(ByteReader& in, std::vector<DirNode*>& nodes) {
  std::string rootName = in.Text(60);
  if (rootName.empty()) rootName = "/fuzz";
  RootNode = DirNode{};
  RootNode.name = AllocateName(rootName.data(), (int)rootName.size());
  nodes.push_back(&RootNode);
  std::vector<DirNode*> lastChild(1, nullptr);
  std::vector<size_t> parentOf(1, 0);
  int count = in.Byte();
  bool deep = count == 255;
  if (deep) count += (int)(in.Bits(2) % 4096);
  for (int i = 0; i < count && !in.Empty(); ++i) {
    // A deep tree hangs most nodes below the last one made.
    uint8_t pick = in.Byte();
    size_t parent = deep && pick < 128 ? nodes.size() - 1 : pick % nodes.size();
    std::string name = in.Text(in.Byte() % 64);
    if (name.empty()) name = "d";
    DirNode* list = nullptr;
    MakeNode(name.data(), (int)name.size(), &list);
    if (!list) continue;
    DirNode* n = list;
    n->localSize = (int64_t)(in.Bits(5));
    n->wastage = n->localSize ? (int64_t)(in.Bits(4) % (uint64_t)n->localSize) : 0;
    n->fileCount = (int32_t)(in.Bits(3));
    n->nextSibling = nullptr;
    if (lastChild[parent])
      lastChild[parent]->nextSibling = n;
    else
      nodes[parent]->firstChild = n;
    lastChild[parent] = n;
    nodes.push_back(n);
    lastChild.push_back(nullptr);
    parentOf.push_back(parent);
  }
  // Children come after their parents, so summing from the end gives every subtree total.
  for (size_t k = nodes.size(); k-- > 1;)
    nodes[parentOf[k]]->subdirsSize += NodeTotal(nodes[k]);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EndProgramHook = ThrowProgramEnded;
  Keyboard = KeyboardSource{ScriptedKey, CountClear};
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  uint8_t screen = in.Byte();
  SetSize(screen);
  TextIsUtf8 = screen & 1;
  uint8_t flags = in.Byte();
  ShowWaste = flags & 1;
  WasteAsPercent = flags & 2;
  ShowFiles = flags & 4;
  TreeChars = (flags & 8) ? PlainTreeChars : GraphicTreeChars;
  int form = (flags >> 4) % 3;
  PagingEnabled = true;
  // The scroller runs on a terminal only, where names are written with control bytes masked.
  OutputIsTerminal = true;

  std::vector<DirNode*> nodes;
  BuildTree(in, nodes);
  ReportSection section = {ScreenHeader, WalkScreenTree, ScreenFooter};
  if (form == 1) section = ReportSection{TabHeader, WalkTabTree, NoFooter};
  if (form == 2) section = ReportSection{CommaHeader, WalkCommaTree, NoFooter};
  if (form != 0) SetRowPath(PMake(NameText(&RootNode), NameLength(&RootNode)));

  Total = CountReportLines(section, TestRun);
  FUZZ_CHECK(Total == (form == 0 ? 11 : 2) + (int32_t)nodes.size());
  Keys = &in;
  Out.clear();
  Seen = 0;
  Prompts = 0;
  FailedReads = 0;
  CaptureOutput(&Out);
  try {
    RunReport(section, TestRun);
  } catch (const ProgramEnded& e) {
    FUZZ_CHECK(e.code == 0);
  }
  CaptureOutput(nullptr);
  FUZZ_CHECK(Prompts >= 1);

  CollapseChildren(&RootNode);
  std::free(RootNode.name);
  RootNode.name = nullptr;
  return 0;
}
