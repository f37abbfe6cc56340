// The line pager with a scripted keyboard: where its prompts fall, what each key does, and how
// many rows wide lines take.
#include <deque>

#include "test_support.h"

namespace {
std::deque<KeyPress> Keys;         // the keys the scripted keyboard will give, in order
std::vector<int> PromptedAfter;    // lines written when each key was asked for
std::string* Output = nullptr;     // the captured output, to count lines so far

int LinesSoFar() {
  int n = 0;
  for (char c : *Output) n += c == '\n';
  return n;
}

// A key of the script that stands for the screen becoming 10 rows high while a key is awaited.
const KeyPress ResizeTo10Rows = {0xFF, 0xFF};

KeyPress ScriptedKey() {
  PromptedAfter.push_back(LinesSoFar());
  if (Keys.empty()) return KeyPress{0, ScanEnd};
  KeyPress k = Keys.front();
  Keys.pop_front();
  if (k.character == ResizeTo10Rows.character && k.scanCode == ResizeTo10Rows.scanCode) {
    ScreenLastRow = 9;
    ScreenResized = true;
    return KeyPress{0, 0};
  }
  return k;
}
void NoClear() {}

struct ProgramEnded {
  int code;
};
void ThrowOnEnd(int code) { throw ProgramEnded{code}; }

KeyPress Char(char c) { return KeyPress{(unsigned char)c, 0}; }
KeyPress ScanKey(unsigned char s) { return KeyPress{0, s}; }

class Pager : public Isolated {
 protected:
  Capture out;
  void SetUp() override {
    Keys.clear();
    PromptedAfter.clear();
    Output = &out.text;
    Keyboard = KeyboardSource{ScriptedKey, NoClear};
    EndProgramHook = ThrowOnEnd;
    PagingEnabled = true;
    PageLineCount = -2;
    ScreenLastRow = 24;
    ScreenWidth = 80;
  }
  void Write(int count, const std::string& text = "line") {
    for (int i = 0; i < count; ++i) PagedWriteLine(B(text));
  }
};

const std::string Erase = std::string(74, '\b') + std::string(74, ' ') + std::string(74, '\b');
}  // namespace

TEST_F(Pager, FirstPromptComesAfterScreenLastRowLines) {
  Keys = {Char('x')};
  Write(24);
  EXPECT_TRUE(PromptedAfter.empty());
  Write(1);
  EXPECT_EQ(PromptedAfter, (std::vector<int>{24}));
}

TEST_F(Pager, PromptIsWrittenThenErasedBeforeTheWaitingLine) {
  Keys = {Char('x')};
  ScreenLastRow = 2;  // first prompt before the third line
  Write(2, "a");
  PagedWriteLine("b");
  std::string eol = PlatformLineEnd;
  EXPECT_EQ(out.text, "a" + eol + "a" + eol + PagerPrompt + Erase + "b" + eol);
  EXPECT_EQ(std::string(PagerPrompt).size(), 74u);
}

TEST_F(Pager, AnotherKeyGivesAFullPageOfScreenLastRowMinusOneLines) {
  Keys = {Char('x'), ScanKey(ScanPgDn)};
  Write(24 + 23 + 1);
  EXPECT_EQ(PromptedAfter, (std::vector<int>{24, 24 + 23}));
}

TEST_F(Pager, JAndKShowOneMoreLineInEitherCase) {
  Keys = {Char('J'), Char('j'), Char('K'), Char('k'), Char('x')};
  Write(24 + 4 + 1);
  EXPECT_EQ(PromptedAfter, (std::vector<int>{24, 25, 26, 27, 28}));
}

TEST_F(Pager, EnterAndSpaceShowOneMoreLineAsThePromptSays) {
  Keys = {Char(13), Char(' '), Char('x')};
  Write(24 + 2 + 1);
  EXPECT_EQ(PromptedAfter, (std::vector<int>{24, 25, 26}));
}

TEST_F(Pager, EndWritesEverythingElseWithoutPrompts) {
  Keys = {ScanKey(ScanEnd)};
  Write(300);
  EXPECT_EQ(PromptedAfter, (std::vector<int>{24}));
  EXPECT_FALSE(PagingEnabled);
  EXPECT_EQ(LinesSoFar(), 300);
}

TEST_F(Pager, UnreadableKeyboardCountsAsEnd) {
  // The scripted keyboard runs dry and reports End, as a failed read does.
  Write(100);
  EXPECT_EQ(PromptedAfter, (std::vector<int>{24}));
  EXPECT_EQ(LinesSoFar(), 100);
}

TEST_F(Pager, EscEndsTheProgramWithoutTheWaitingLine) {
  Keys = {Char(27)};
  Write(24);
  try {
    PagedWriteLine("never shown");
    FAIL() << "Esc did not end the program";
  } catch (const ProgramEnded& e) {
    EXPECT_EQ(e.code, 0);
  }
  EXPECT_EQ(out.text.find("never shown"), std::string::npos);
  EXPECT_EQ(LinesSoFar(), 24);
  // The next line starts clean: nothing of the abandoned line is left over.
  PagingEnabled = false;
  PagedWriteLine("after");
  EXPECT_EQ(out.text.substr(out.text.size() - 5 - std::string(PlatformLineEnd).size(), 5),
            "after");
}

TEST_F(Pager, AResizeAtThePromptWaitsOnAndTheNextPageHasTheNewSize) {
  // The change of size is no key: the prompt stays until one comes, then pages by 10 rows.
  Keys = {ResizeTo10Rows, Char('x')};
  Write(24 + 8 + 1);
  EXPECT_EQ(PromptedAfter, (std::vector<int>{24, 24, 24 + 8}));
  size_t prompts = 0;
  for (size_t at = 0; (at = out.text.find(PagerPrompt + Erase, at)) != std::string::npos; ++at)
    ++prompts;
  EXPECT_EQ(prompts, 2u) << "one prompt per page, however often the size changes";
}

TEST_F(Pager, ALineTakesTheRowsItsColumnsFill) {
  // Counted in lines, a wrapped line pushed the top rows off the screen before the prompt.
  // A row holds ScreenRowColumns() columns: all 80 on a POSIX terminal, 79 on the console.
  Keys = {Char('x')};
  PagedWriteLine(B(std::string(ScreenRowColumns(), 'w')));
  Write(23);
  EXPECT_TRUE(PromptedAfter.empty());
  Write(1);
  EXPECT_EQ(PromptedAfter, (std::vector<int>{24}));

  out.text.clear();
  SetUp();
  Keys = {Char('x')};
  PagedWriteLine(B(std::string(ScreenRowColumns() + 1, 'w')));
  Write(22);
  EXPECT_TRUE(PromptedAfter.empty());
  Write(1);
  EXPECT_EQ(PromptedAfter, (std::vector<int>{23}));
}

TEST_F(Pager, AtSixtyByFifteenAThreeRowLineAndElevenMoreFillTheScreen) {
  Keys = {Char('x')};
  ScreenLastRow = 14;
  ScreenWidth = 60;
  PagedWriteLine(B(std::string(150, 'w')));  // three rows at 60 columns, and at 59
  Write(11);
  EXPECT_TRUE(PromptedAfter.empty());
  Write(1);
  EXPECT_EQ(PromptedAfter, (std::vector<int>{12}));
}

TEST_F(Pager, WideCharactersCountTwoColumns) {
  TextIsUtf8 = true;
  Keys = {Char('x')};
  std::string wide;
  for (int i = 0; i < 41; ++i) wide += "\xE6\x97\xA5";  // 41 times U+65E5: 82 columns
  PagedWriteLine(B(wide));
  Write(22);
  EXPECT_TRUE(PromptedAfter.empty());
  Write(1);
  EXPECT_EQ(PromptedAfter, (std::vector<int>{23}));
}

TEST_F(Pager, AWrappedLineWaitingAtThePromptOpensTheNextPageWithItsRows) {
  Keys = {Char('x'), Char('x')};
  Write(24);
  PagedWriteLine(B(std::string(200, 'w')));  // three rows, written after the first prompt
  Write(20);
  EXPECT_EQ(PromptedAfter, (std::vector<int>{24}));
  Write(1);
  EXPECT_EQ(PromptedAfter, (std::vector<int>{24, 24 + 1 + 20}));
}

TEST_F(Pager, ThePromptIsCutToTheScreenSoItsEraseReachesAllOfIt) {
  // A prompt wider than the screen wraps, and backspaces cannot go back over the row above.
  Keys = {Char('x')};
  ScreenLastRow = 2;
  ScreenWidth = 40;
  Write(3, "a");
  std::string eol = PlatformLineEnd;
  std::string erase = std::string(39, '\b') + std::string(39, ' ') + std::string(39, '\b');
  EXPECT_EQ(out.text, "a" + eol + "a" + eol + std::string(PagerPrompt, 39) + erase + "a" + eol);
}

TEST_F(Pager, WithPagingOffNoPromptButWideLinesStillCount) {
  PagingEnabled = false;
  Write(50);
  PagedWriteLine(B(std::string(ScreenRowColumns() + 1, 'w')));
  EXPECT_TRUE(PromptedAfter.empty());
  EXPECT_EQ(PageLineCount, -2 + 1);
  EXPECT_EQ(LinesSoFar(), 51);
}

TEST_F(Pager, LinesAreCutAt255Bytes) {
  PagingEnabled = false;
  PagedWriteLine(B(std::string(300, 'z')));
  EXPECT_EQ(out.text, std::string(255, 'z') + PlatformLineEnd);
}
