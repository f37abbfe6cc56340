// The scroller with a scripted keyboard and a counting screen clear: which lines each page
// shows, the percentage of its status line, when the screen is cleared, and how the loop ends.
#include <deque>

#include "test_support.h"

namespace {
const ReportSection ScreenSection = {ScreenHeader, WalkScreenTree, ScreenFooter};
const char Clear[] = "<clear>";  // put into the captured output where the screen is cleared
const std::string Erase = std::string(74, '\b') + std::string(74, ' ') + std::string(74, '\b');
const std::string StatusTail =
    "% Up,Down,PgUp,PgDn,Home,End [W]aste:[D]isplay [F]iles [A]scii [Escape]";

std::deque<KeyPress> Keys;   // what the scripted keyboard gives, in order
bool FailEveryRead = false;  // the keyboard cannot be read: every read reports End
int Reads = 0;               // keys asked for

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
    DriveLabel = BMake("C");
    DriveClusterSize = ClusterSize = 4096;
    DriveFreeBytes = 1000;
    DriveTotalBytes = 4000;
  }
  void TearDown() override { ReleaseRoot(); }

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
    RunReport(s);
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
      RunReport(s);
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
TEST_F(Scroller, WorkedExampleOfAHundredLineReport) {
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

TEST_F(Scroller, StatusLineIsSeventyFourCharactersAndErasedAfterEachKey) {
  BuildFlat(88);
  Keys = {ScanKey(ScanEnd), Char(' ')};
  Capture out;
  RunReport(ScreenSection);
  std::string status = " 22" + StatusTail;
  ASSERT_EQ(status.size(), 74u);
  size_t at = out.text.find(status);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(out.text.compare(at + 74, Erase.size(), Erase), 0) << "erasure right after the key";
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
                                 Char('J'), ScanKey(ScanEnd), Char(' ')});
  ShowWaste = WasteAsPercent = ShowFiles = true;
  TreeChars = PlainTreeChars;
  Reads = 0;
  std::vector<Turn> lower = Run({Char(' '), Char('k'), Char('w'), Char('d'), Char('f'), Char('a'),
                                 Char('j'), ScanKey(ScanEnd), Char(' ')});
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
  std::vector<Turn> t =
      Run({Char(' '), Char(12), Char('A'), Char('D'), Char('F'), ScanKey(ScanEnd), Char(' ')});
  ASSERT_EQ(t.size(), 7u);
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
  for (int i = 2; i <= 5; ++i) EXPECT_EQ(t[i].percent, " 45%") << i;
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
  RunReport(ScreenSection);
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
  RunReport(ScreenSection);
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
    RunReport(ScreenSection);
    EXPECT_LT(Reads, 60) << lastRow;
    ReleaseRoot();
  }
}
