// The scroller with a scripted keyboard and a counting screen clear: which lines each page
// shows, the percentage of its status line, when the screen is cleared, and how the loop ends.
#include <deque>

#include "report/database.h"
#include "test_support.h"

namespace {
const ReportSection ScreenSection = {ScreenHeader, WalkScreenTree, ScreenFooter};
const char Clear[] = "<clear>";  // put into the captured output where the screen is cleared
const std::string Erase = std::string(79, '\b') + std::string(79, ' ') + std::string(79, '\b');
const std::string StatusTail =
    "% Up,Down,PgUp,PgDn,Home,End [W]aste:[D]isplay [F]iles [A]scii [U]nits [Esc]";

std::deque<KeyPress> Keys;   // what the scripted keyboard gives, in order
bool FailEveryRead = false;  // the keyboard cannot be read: every read reports End
int Reads = 0;               // keys asked for
// A key of the script that stands for a change of the screen's size, to the next of Sizes
// (rows, columns), while the key is awaited.
const KeyPress ResizeMark = {0xFF, 0xFF};
std::deque<std::pair<int, int>> Sizes;

KeyPress ScriptedKey() {
  ++Reads;
  // A scroller that keeps asking after the script has run out would hang a real user too.
  if (Reads > 200) throw std::runtime_error("the scroller never stops asking for keys");
  if (FailEveryRead || Keys.empty()) {
    KeyReadFailed = true;
    return KeyPress{0, ScanEnd};
  }
  KeyPress k = Keys.front();
  Keys.pop_front();
  if (k.character == ResizeMark.character && k.scanCode == ResizeMark.scanCode) {
    ScreenLastRow = Sizes.front().first - 1;
    ScreenWidth = Sizes.front().second;
    Sizes.pop_front();
    ScreenResized = true;
    return KeyPress{0, 0};
  }
  return k;
}
void CountedClear() {
  WriteText(Clear);
}

struct ProgramEnded {
  int code;
};
void ThrowOnEnd(int code) {
  throw ProgramEnded{code};
}

KeyPress Char(char c) {
  return KeyPress{(unsigned char)c, 0};
}
KeyPress ScanKey(unsigned char s) {
  return KeyPress{0, s};
}

// What one turn of the scroller put on the screen: whether it cleared it first, the report
// lines it wrote, and the percentage its status line showed.
struct Turn {
  bool cleared = false;
  std::vector<std::string> lines;
  std::string percent;
};

class Scroller : public Isolated {
 protected:
  void SetUp() override {
    Keys.clear();
    Sizes.clear();
    FailEveryRead = false;
    Reads = 0;
    Keyboard = KeyboardSource{ScriptedKey, CountedClear};
    EndProgramHook = ThrowOnEnd;
    PagingEnabled = true;
    ScreenLastRow = 24;
    ScreenWidth = 100;
    TreeChars = PlainTreeChars;
    ShowWaste = WasteAsPercent = ShowFiles = true;
    ThousandsSeparator = ',';
    TestRun.drive.label = BMake("C");
    TestRun.drive.cluster = ClusterSize = 4096;
    TestRun.drive.freeBytes = 1000;
    TestRun.drive.totalBytes = 4000;
  }
  void TearDown() override {
    ReleaseRoot();
    TextIsUtf8 = utf8;
  }
  bool utf8 = TextIsUtf8;

  // Sets the screen so that a line may take `columns` columns (the Windows console keeps its
  // last column free).
  static void LineColumns(int columns) {
    ScreenWidth = 100;
    ScreenWidth = columns + (100 - ScreenRowColumns());
  }

  // The lines of the scroller's first page, before its status line; q then ends it.
  std::vector<std::string> FirstPage(const ReportSection& s = ScreenSection) {
    Keys = {Char('q')};
    Capture out;
    try {
      RunReport(s, TestRun);
    } catch (const ProgramEnded&) {
    }
    std::vector<std::string> lines = out.Lines();
    lines.pop_back();  // the status line and its erase
    return lines;
  }

  // A root with `children` subdirectories D000, D001, ...: 2 + 1 + children + 9 lines.
  void BuildFlat(int children) {
    ResetRoot("C:\\ROOT");
    RootNode.localSize = 100;
    for (int i = children - 1; i >= 0; --i) {
      char name[8];
      std::snprintf(name, sizeof name, "D%03d", i);
      DirNode* c = NewNode(name, 1000 + i, 1, 10);
      c->nextSibling = RootNode.firstChild;
      RootNode.firstChild = c;
      RootNode.subdirsSize += c->localSize;
    }
  }

  // The whole report as the current switches draw it, one string per line.
  std::vector<std::string> Whole(const ReportSection& s = ScreenSection) {
    bool paging = PagingEnabled;
    PagingEnabled = false;
    Capture out;
    RunReport(s, TestRun);
    PagingEnabled = paging;
    return out.Lines();
  }

  // Lines first..last (inclusive) of `whole`.
  static std::vector<std::string> Range(const std::vector<std::string>& whole, int first,
                                        int last) {
    return std::vector<std::string>(whole.begin() + first, whole.begin() + last + 1);
  }

  // Runs the scroller over the scripted keys; returns its turns, one per status line shown.
  // *ended receives the exit code when a key ended the program, else stays -1.
  std::vector<Turn> Run(std::vector<KeyPress> keys, int* ended = nullptr,
                        const ReportSection& s = ScreenSection) {
    Keys.assign(keys.begin(), keys.end());
    Capture out;
    if (ended) *ended = -1;
    try {
      RunReport(s, TestRun);
    } catch (const ProgramEnded& e) {
      if (!ended) throw;
      *ended = e.code;
    }
    return Split(out.text);
  }

  // Splits the captured screen output into turns: [erasure] [clear] lines status.
  static std::vector<Turn> Split(std::string text) {
    std::vector<Turn> turns;
    size_t at;
    while ((at = text.find(StatusTail)) != std::string::npos) {
      EXPECT_GE(at, 3u);
      Turn t;
      std::string before = text.substr(0, at - 3);
      t.percent = text.substr(at - 3, 4);
      text.erase(0, at + StatusTail.size());
      if (before.compare(0, Erase.size(), Erase) == 0) before.erase(0, Erase.size());
      if (before.compare(0, sizeof Clear - 1, Clear) == 0) {
        t.cleared = true;
        before.erase(0, sizeof Clear - 1);
      }
      EXPECT_EQ(before.find(Clear), std::string::npos) << "a clear in the middle of a page";
      t.lines = SplitLines(before);
      turns.push_back(t);
    }
    // After the last status line only its erasure may follow.
    EXPECT_TRUE(text.empty() || text == Erase) << "after the last prompt: " << text;
    return turns;
  }
};
}  // namespace

// The example of a 25-row screen and a 100-line report, key by key.
TEST_F(Scroller, DataTreeOfAHundredLineReport) {
  BuildFlat(88);
  std::vector<std::string> whole = Whole();
  ASSERT_EQ(whole.size(), 100u);
  ShowWaste = false;
  std::vector<std::string> noWaste = Whole();
  ShowWaste = true;

  std::vector<Turn> t = Run({Char(' '), Char('W'), ScanKey(ScanEnd), ScanKey(ScanPgUp),
                             ScanKey(ScanHome), ScanKey(ScanEnd), Char(' ')});
  ASSERT_EQ(t.size(), 7u);
  EXPECT_FALSE(t[0].cleared);  // the first page goes below what is already on the screen
  EXPECT_EQ(t[0].lines, Range(whole, 0, 21));
  EXPECT_EQ(t[0].percent, " 22%");
  EXPECT_FALSE(t[1].cleared);  // Space scrolls
  EXPECT_EQ(t[1].lines, Range(whole, 22, 44));
  EXPECT_EQ(t[1].percent, " 45%");
  EXPECT_TRUE(t[2].cleared);  // W repaints the same page without the waste column
  EXPECT_EQ(t[2].lines, Range(noWaste, 21, 44));
  EXPECT_EQ(t[2].percent, " 45%");
  EXPECT_TRUE(t[3].cleared);
  EXPECT_EQ(t[3].lines, Range(noWaste, 76, 99));
  EXPECT_EQ(t[3].percent, "100%");
  EXPECT_TRUE(t[4].cleared);
  EXPECT_EQ(t[4].lines, Range(noWaste, 53, 76));
  EXPECT_EQ(t[4].percent, " 77%");
  EXPECT_TRUE(t[5].cleared);
  EXPECT_EQ(t[5].lines, Range(noWaste, 0, 23));
  EXPECT_EQ(t[5].percent, " 24%");
  EXPECT_EQ(t[6].percent, "100%");
  EXPECT_EQ(Reads, 7);  // Space at 100% left the scroller
  EXPECT_FALSE(ShowWaste) << "a toggle stays changed for the rest of the run";
}

TEST_F(Scroller, StatusLineFitsSeventyNineColumnsAndIsErasedAfterEachKey) {
  BuildFlat(88);
  Keys = {ScanKey(ScanEnd), Char(' ')};
  Capture out;
  RunReport(ScreenSection, TestRun);
  std::string status = " 22" + StatusTail;
  ASSERT_EQ(status.size(), 79u);
  size_t at = out.text.find(status);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(out.text.compare(at + 79, Erase.size(), Erase), 0) << "erasure right after the key";
  EXPECT_EQ(out.text.substr(out.text.size() - Erase.size()), Erase);
}

TEST_F(Scroller, ReportShorterThanTheScreen) {
  BuildFlat(4);  // 16 lines
  std::vector<std::string> whole = Whole();
  ASSERT_EQ(whole.size(), 16u);
  std::vector<Turn> t = Run({ScanKey(ScanUp), ScanKey(ScanPgUp), ScanKey(ScanHome), Char('K'),
                             ScanKey(ScanEnd), Char('F'), Char(' ')});
  ASSERT_EQ(t.size(), 7u);
  EXPECT_EQ(t[0].lines, whole);
  EXPECT_EQ(t[0].percent, "100%");
  for (int i = 1; i <= 4; ++i) {  // Up, PgUp, Home and K only show the prompt again
    EXPECT_FALSE(t[i].cleared) << i;
    EXPECT_TRUE(t[i].lines.empty()) << i;
    EXPECT_EQ(t[i].percent, "100%") << i;
  }
  EXPECT_TRUE(t[5].cleared);  // End repaints it from line 0
  EXPECT_EQ(t[5].lines, whole);
  EXPECT_TRUE(t[6].cleared);  // so does a toggle
  ShowFiles = false;
  EXPECT_EQ(t[6].lines, Whole());
  EXPECT_EQ(Reads, 7);  // and Space leaves
}

TEST_F(Scroller, DownAndJWriteOneLineAndNothingAtTheEnd) {
  BuildFlat(88);
  std::vector<std::string> whole = Whole();
  std::vector<Turn> t = Run(
      {ScanKey(ScanDown), Char('j'), ScanKey(ScanEnd), ScanKey(ScanDown), Char('J'), Char(' ')});
  ASSERT_EQ(t.size(), 6u);
  EXPECT_EQ(t[1].lines, Range(whole, 22, 22));
  EXPECT_EQ(t[1].percent, " 23%");
  EXPECT_FALSE(t[1].cleared);
  EXPECT_EQ(t[2].lines, Range(whole, 23, 23));
  EXPECT_EQ(t[2].percent, " 24%");
  EXPECT_EQ(t[3].percent, "100%");
  EXPECT_TRUE(t[4].lines.empty());
  EXPECT_EQ(t[4].percent, "100%");
  EXPECT_TRUE(t[5].lines.empty());
  EXPECT_EQ(t[5].percent, "100%");
  EXPECT_EQ(Reads, 6);
}

TEST_F(Scroller, UpAndPgUpNearTheTopOnlyShowThePromptAgain) {
  BuildFlat(88);
  std::vector<std::string> whole = Whole();
  // After the first page NextLine is 22, not beyond the last row (24): Up and PgUp do nothing.
  // A Down and a Space later it is 46: k moves the page one line up; PgUp from 45 would start
  // above line 0, so it shows the first full page; from there Up and PgUp do nothing again.
  std::vector<Turn> t =
      Run({ScanKey(ScanUp), ScanKey(ScanPgUp), Char('j'), Char(' '), Char('k'), ScanKey(ScanPgUp),
           ScanKey(ScanUp), ScanKey(ScanPgUp), ScanKey(ScanEnd), Char(' ')});
  ASSERT_EQ(t.size(), 10u);
  for (int i : {1, 2}) {
    EXPECT_TRUE(t[i].lines.empty()) << i;
    EXPECT_FALSE(t[i].cleared) << i;
    EXPECT_EQ(t[i].percent, " 22%") << i;
  }
  EXPECT_EQ(t[4].lines, Range(whole, 23, 45));
  EXPECT_TRUE(t[5].cleared);
  EXPECT_EQ(t[5].lines, Range(whole, 21, 44));
  EXPECT_EQ(t[5].percent, " 45%");
  EXPECT_TRUE(t[6].cleared);
  EXPECT_EQ(t[6].lines, Range(whole, 0, 23));
  EXPECT_EQ(t[6].percent, " 24%");
  for (int i : {7, 8}) {
    EXPECT_TRUE(t[i].lines.empty()) << i;
    EXPECT_FALSE(t[i].cleared) << i;
    EXPECT_EQ(t[i].percent, " 24%") << i;
  }
}

TEST_F(Scroller, HomeFromFurtherDownShowsAFullFirstPage) {
  BuildFlat(88);
  std::vector<std::string> whole = Whole();
  std::vector<Turn> t = Run({Char(' '), ScanKey(ScanHome), Char(' '), ScanKey(ScanEnd), Char(' ')});
  ASSERT_EQ(t.size(), 5u);
  EXPECT_TRUE(t[2].cleared);
  EXPECT_EQ(t[2].lines, Range(whole, 0, 23));
  EXPECT_EQ(t[3].lines, Range(whole, 24, 46));  // from the top a page forward is 23 lines
  EXPECT_EQ(t[3].percent, " 47%");
}

TEST_F(Scroller, QuitKeysEndTheProgramWithCodeZero) {
  for (KeyPress quit : {Char('q'), Char('Q'), Char(27), Char(3)}) {
    BuildFlat(30);
    int ended;
    std::vector<Turn> t = Run({Char(' '), quit}, &ended);
    EXPECT_EQ(ended, 0) << (int)quit.character;
    EXPECT_EQ(t.size(), 2u);
    EXPECT_EQ(Reads, 2);
    Reads = 0;
    ReleaseRoot();
  }
}

TEST_F(Scroller, LowerCaseKeysActLikeUpperCase) {
  BuildFlat(88);
  std::vector<Turn> upper = Run({Char(' '), Char('K'), Char('W'), Char('D'), Char('F'), Char('A'),
                                 Char('U'), Char('J'), ScanKey(ScanEnd), Char(' ')});
  ShowWaste = WasteAsPercent = ShowFiles = true;
  ShowUnits = false;
  TreeChars = PlainTreeChars;
  Reads = 0;
  std::vector<Turn> lower = Run({Char(' '), Char('k'), Char('w'), Char('d'), Char('f'), Char('a'),
                                 Char('u'), Char('j'), ScanKey(ScanEnd), Char(' ')});
  ASSERT_EQ(upper.size(), lower.size());
  for (size_t i = 0; i < upper.size(); ++i) {
    EXPECT_EQ(upper[i].lines, lower[i].lines) << i;
    EXPECT_EQ(upper[i].percent, lower[i].percent) << i;
    EXPECT_EQ(upper[i].cleared, lower[i].cleared) << i;
  }
}

TEST_F(Scroller, TogglesAndCtrlLRepaintTheSamePage) {
  BuildFlat(88);
  std::vector<std::string> whole = Whole();
  std::vector<Turn> t = Run({Char(' '), Char(12), Char('A'), Char('D'), Char('F'), Char('U'),
                             Char('U'), ScanKey(ScanEnd), Char(' ')});
  ASSERT_EQ(t.size(), 9u);
  EXPECT_TRUE(t[2].cleared);
  EXPECT_EQ(t[2].lines, Range(whole, 21, 44));  // Ctrl+L: the same page again
  TreeChars = PlainTreeChars;
  WasteAsPercent = ShowFiles = true;
  TreeChars = GraphicTreeChars;
  EXPECT_EQ(t[3].lines, Range(Whole(), 21, 44));  // A: the graphic set
  WasteAsPercent = false;
  EXPECT_EQ(t[4].lines, Range(Whole(), 21, 44));
  ShowFiles = false;
  EXPECT_EQ(t[5].lines, Range(Whole(), 21, 44));
  ShowUnits = true;  // U: sizes in units, and U again: in bytes
  EXPECT_EQ(t[6].lines, Range(Whole(), 21, 44));
  EXPECT_NE(t[6].lines, t[5].lines);
  ShowUnits = false;
  EXPECT_EQ(t[7].lines, t[5].lines);
  for (int i = 2; i <= 7; ++i) EXPECT_EQ(t[i].percent, " 45%") << i;
}

TEST_F(Scroller, AnyOtherKeyPagesForwardLikeSpace) {
  BuildFlat(88);
  std::vector<std::string> whole = Whole();
  std::vector<Turn> t = Run({Char('x'), Char(13), ScanKey(ScanPgDn), ScanKey(0x3B), Char(' ')});
  ASSERT_EQ(t.size(), 5u);
  EXPECT_EQ(t[1].lines, Range(whole, 22, 44));
  EXPECT_EQ(t[2].lines, Range(whole, 45, 67));
  EXPECT_EQ(t[3].lines, Range(whole, 68, 90));
  EXPECT_EQ(t[4].lines, Range(whole, 91, 99));  // the footer's 9 lines, then 100%
  EXPECT_EQ(t[4].percent, "100%");
  EXPECT_EQ(Reads, 5);
  for (const Turn& turn : t) EXPECT_FALSE(turn.cleared);
}

TEST_F(Scroller, ScanCodesCountOnlyForKeysWithoutACharacter) {
  // 'H' (0x48 is also the Up scan code) carries a stray scan code: it is a character key, so it
  // pages forward instead of acting as Up.
  BuildFlat(88);
  std::vector<std::string> whole = Whole();
  std::vector<Turn> t = Run({Char(' '), KeyPress{'h', ScanUp}, ScanKey(ScanEnd), Char(' ')});
  ASSERT_EQ(t.size(), 4u);
  EXPECT_FALSE(t[2].cleared);
  EXPECT_EQ(t[2].lines, Range(whole, 45, 67));
}

TEST_F(Scroller, FailingKeyboardShowsTheLastPageOnceAndLeaves) {
  BuildFlat(88);
  std::vector<std::string> whole = Whole();
  FailEveryRead = true;
  std::vector<Turn> t = Run({});
  ASSERT_EQ(t.size(), 2u);  // the first page, then the End page; no third read
  EXPECT_EQ(Reads, 2);
  EXPECT_EQ(t[0].lines, Range(whole, 0, 21));
  EXPECT_TRUE(t[1].cleared);
  EXPECT_EQ(t[1].lines, Range(whole, 76, 99));
}

namespace {
KeyPress FailSecondReadThenHome() {
  ++Reads;
  if (Reads == 2) {
    KeyReadFailed = true;
    return KeyPress{0, ScanEnd};
  }
  if (Reads == 3) return KeyPress{0, ScanHome};
  if (Reads > 50) throw std::runtime_error("the scroller never left");
  return KeyPress{' ', 0};
}
}  // namespace

TEST_F(Scroller, OneFailedReadBetweenGoodKeysDoesNotLeave) {
  // The failed read acts as End; the keys after it still work, and Space leaves at the end.
  BuildFlat(88);
  Keyboard.readKey = FailSecondReadThenHome;
  Capture out;
  RunReport(ScreenSection, TestRun);
  std::vector<Turn> t = Split(out.text);
  ASSERT_EQ(t.size(), 8u);  // first page, Space, failure, Home, then 47%, 70%, 93%, 100%
  EXPECT_EQ(t[2].percent, "100%");
  EXPECT_EQ(t[3].percent, " 24%");
  EXPECT_EQ(t.back().percent, "100%");
}

TEST_F(Scroller, StraightPassWhenPagingIsOff) {
  BuildFlat(88);
  PagingEnabled = false;
  Capture out;
  RunReport(ScreenSection, TestRun);
  EXPECT_EQ(Reads, 0);
  EXPECT_EQ(out.text.find(Clear), std::string::npos);
  EXPECT_EQ(out.text.find('\b'), std::string::npos);
  EXPECT_EQ(out.Lines().size(), 100u);
}

TEST_F(Scroller, TinyScreensStillMoveForwardAndEnd) {
  // A screen of one or two rows leaves no room for a page; Space must still move on and end.
  for (int lastRow : {0, 1, 2}) {
    BuildFlat(5);
    ScreenLastRow = lastRow;
    Keys.assign(60, Char(' '));
    Reads = 0;
    Capture out;
    RunReport(ScreenSection, TestRun);
    EXPECT_LT(Reads, 60) << lastRow;
    ReleaseRoot();
  }
}

// Tree bytes as the capture shows them: the code page 437 pieces, untranslated.
const std::string Corner = "\xC0\xC4\xC4", Tee = "\xC3\xC4\xC4";
const std::string Figures = std::string(13, ' ') + "0  ";  // 16 columns before the tree

TEST_F(Scroller, LinesWiderThanTheScreenAreCutWithAMark) {
  // A wrapped line takes two rows while the scroller counts one: lines scroll away unseen.
  // Each character counts as the terminal shows it: a UTF-8 character one column (an East
  // Asian one two), each tree-drawing piece one; none is split at the cut.
  ResetRoot("R");
  AddChild(&RootNode, NewNode("\xC3\x84\xC3\x96\xC3\x9C\xC3\xA4\xC3\xB6\xC3\xBC"));  // ÄÖÜäöü
  AddChild(&RootNode, NewNode("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"));              // 日本語
  ShowWaste = ShowFiles = false;
  TreeChars = GraphicTreeChars;
  TextIsUtf8 = true;
  const std::string umlauts = "\xC3\x84\xC3\x96\xC3\x9C\xC3\xA4\xC3\xB6\xC3\xBC";
  const std::string nihongo = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";
  struct Case {
    int columns;
    std::string umlautLine, wideLine;
  } cases[] = {
      {25, Figures + Tee + umlauts, Figures + Corner + nihongo},  // both fit exactly
      {24, Figures + Tee + umlauts.substr(0, 8) + ">",
       Figures + Corner + nihongo.substr(0, 6) + ">"},
      // 日 and 本 reach the last column, but 語 follows: the mark goes right after 日.
      {23, Figures + Tee + umlauts.substr(0, 6) + ">",
       Figures + Corner + nihongo.substr(0, 3) + ">"},
      {18, Figures + "\xC3>", Figures + "\xC0>"},  // the cut inside the tree pieces
  };
  for (const Case& c : cases) {
    LineColumns(c.columns);
    std::vector<std::string> page = FirstPage();
    ASSERT_EQ(page.size(), 14u) << c.columns;  // header, three directories, footer
    EXPECT_EQ(page[3], c.umlautLine) << c.columns;
    EXPECT_EQ(page[4], c.wideLine) << c.columns;
    EXPECT_EQ(page[2], Figures + "R") << "a short line stays whole";
  }

  // In a one-byte code page each byte is a character.
  TextIsUtf8 = false;
  LineColumns(24);
  EXPECT_EQ(FirstPage()[3], Figures + Tee + umlauts.substr(0, 4) + ">");

  // The straight pass, and whatever follows the scroller, write whole lines.
  EXPECT_EQ(Whole()[3], Figures + Tee + umlauts);
  Capture out;
  WriteText("a line after the scroller, longer than the screen");
  EXPECT_EQ(out.text, "a line after the scroller, longer than the screen");
}

TEST_F(Scroller, DatabaseRowsCountTabsToTheirStops) {
  // The fixed-column rows hold tabs: 14 characters and a tab end at column 16, the next at 32.
  ResetRoot("R");
  SetRowPath(BMake("R"));
  LineColumns(40);
  std::vector<std::string> page = FirstPage({TabHeader, WalkTabTree, NoFooter});
  ASSERT_EQ(page.size(), 3u);
  const std::string zero = std::string(13, ' ') + "0";
  std::string row = page[2];
  if (!row.empty() && row.back() == '\r') row.pop_back();  // the rows end with CR LF
  EXPECT_EQ(row, zero + "\t" + zero + "\t" + std::string(7, ' ') + ">");
}

TEST_F(Scroller, StatusLineFitsNarrowScreensAndIsErasedWhole) {
  // A status line longer than the screen wraps, and backspaces cannot go back over the row
  // above: every key would leave a piece of it behind. It stops short of the last column.
  BuildFlat(88);
  for (int width : {20, 79, 80, 200}) {
    ScreenWidth = width;
    Keys = {Char(' '), ScanKey(ScanEnd), Char(' ')};
    Capture out;
    RunReport(ScreenSection, TestRun);
    size_t shown = width - 1 < 79 ? width - 1 : 79;
    std::string status = (" 22" + StatusTail).substr(0, shown);
    std::string erase =
        std::string(shown, '\b') + std::string(shown, ' ') + std::string(shown, '\b');
    size_t at = out.text.find(status + erase);
    ASSERT_NE(at, std::string::npos) << width;
    EXPECT_EQ(out.text.substr(out.text.size() - erase.size()), erase) << width;
    ReleaseRoot();
    BuildFlat(88);
  }
}

TEST_F(Scroller, AResizeRepaintsThePageFromTheSameFirstLine) {
  // The size is taken anew while a key is awaited: a smaller screen must not scroll lines away
  // unseen, a larger one must be filled. Home, End and Space then page by the new size.
  BuildFlat(88);
  std::vector<std::string> whole = Whole();
  Sizes = {{10, 100}, {40, 100}, {50, 100}};
  std::vector<Turn> t = Run({Char(' '), ResizeMark, ResizeMark, ScanKey(ScanEnd), ResizeMark,
                             ScanKey(ScanHome), Char(' '), Char(' '), Char(' ')});
  ASSERT_EQ(t.size(), 9u);
  EXPECT_EQ(t[1].lines, Range(whole, 22, 44));  // rows 0-23 show lines 21-44
  EXPECT_TRUE(t[2].cleared);                    // 10 rows: lines 21-29
  EXPECT_EQ(t[2].lines, Range(whole, 21, 29));
  EXPECT_EQ(t[2].percent, " 30%");
  EXPECT_TRUE(t[3].cleared);  // 40 rows: still from line 21
  EXPECT_EQ(t[3].lines, Range(whole, 21, 59));
  EXPECT_EQ(t[3].percent, " 60%");
  EXPECT_EQ(t[4].lines, Range(whole, 61, 99));  // End: the last 39 lines
  EXPECT_TRUE(t[5].cleared);  // 50 rows at the end: the last page fills the screen
  EXPECT_EQ(t[5].lines, Range(whole, 51, 99));
  EXPECT_EQ(t[5].percent, "100%");
  EXPECT_EQ(t[6].lines, Range(whole, 0, 48));   // Home
  EXPECT_EQ(t[7].lines, Range(whole, 49, 96));  // Space: 48 lines below
  EXPECT_EQ(t[8].lines, Range(whole, 97, 99));
  EXPECT_EQ(Reads, 9);  // Space at 100% left
}
