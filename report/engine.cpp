#include "report/engine.h"

#include "console/console.h"
#include "console/output.h"
#include "console/pager.h"
#include "console/strings.h"
#include "report/format.h"
#include "report/display.h"


namespace {
int32_t NextLine = 0;    // index of the next line to write; -1 means count only
int32_t LinesLeft = 0;   // lines this pass may still write
int32_t LineNumber = 0;  // index of the line the routines have reached

bool RedrawPending = false;  // the next turn of the scroller writes lines before its prompt
int32_t Total = 0;           // lines of the report being shown; fixed once counted

// The 76 characters after the three-character percentage of the status line: with [U]nits the
// keys still fit the 79 columns an 80-column screen gives the line, Escape spelled "Esc".
const char StatusText[] =
    "% Up,Down,PgUp,PgDn,Home,End [W]aste:[D]isplay [F]iles [A]scii [U]nits [Esc]";
constexpr int StatusLength = 79;

// The screen's last row as the scroller pages by it. A screen of one or two rows has no room
// for a page; with fewer than two rows a pass could never advance, so it counts as three rows.
int32_t LastRow() {
  return ScreenLastRow < 2 ? 2 : ScreenLastRow;
}

void Clamp() {
  if (NextLine < 0) NextLine = 0;
  if (NextLine > Total) NextLine = Total;
}

void Pass(const ReportSection& s, const RunRecord& run) {
  LineNumber = 0;
  s.header(run);
  s.walker(run);
  s.footer(run, Total);
}

// A page: each line cut to the screen's width, so that it takes one row and every page holds
// the lines the counters say.
void PagePass(const ReportSection& s, const RunRecord& run) {
  SetLineCut(ScreenRowColumns() < 2 ? 2 : ScreenRowColumns());
  Pass(s, run);
  SetLineCut(0);
}

// The status line stops short of the last column: it stays on its one row, the cursor with it,
// so the backspaces of its erase reach back over all of it.
int StatusShown = StatusLength;  // characters of the status line on the screen

void WriteStatusLine() {
  int32_t percent = Total > 0 ? (int32_t)((int64_t)NextLine * 100 / Total) : 100;
  BStr line = PadLeft(FormatPlain(percent), 3);
  BAppend(line, BMake(StatusText, StatusLength - 3));
  StatusShown = ScreenWidth - 1 < StatusLength ? ScreenWidth - 1 : StatusLength;
  if (StatusShown < 1) StatusShown = 1;
  WriteText(line.text, StatusShown);
}

void EraseStatusLine() {
  BStr back = RepeatChar(StatusShown, 8);
  WriteText(back);
  WriteText(RepeatChar(StatusShown, ' '));
  WriteText(back);
}

// After a change of the screen's size: the same first line at the top of a repainted page, as
// far as the report reaches down (a page that would pass the end is the last page, as End
// shows it).
void Resized(int32_t oldRows) {
  int32_t top = NextLine - oldRows;
  if (top < 0) top = 0;
  NextLine = top + LastRow();
  if (NextLine > Total) NextLine = Total;
  StartFreshPage();
}

// The keys of the scroller, after upper-casing; scan codes count only for keys without a
// character.
enum class Action { Quit, Home, End, Toggle, Down, Up, PgUp, Forward };

Action ActionOf(unsigned char c, unsigned char scan) {
  if (c == 3 || c == 27 || c == 'Q') return Action::Quit;
  if (c == 0 && scan == ScanHome) return Action::Home;
  if (c == 0 && scan == ScanEnd) return Action::End;
  if (c == 'F' || c == 'D' || c == 'W' || c == 'A' || c == 'U' || c == 12) return Action::Toggle;
  if ((c == 0 && scan == ScanDown) || c == 'J') return Action::Down;
  if ((c == 0 && scan == ScanUp) || c == 'K') return Action::Up;
  if (c == 0 && scan == ScanPgUp) return Action::PgUp;
  return Action::Forward;
}

// F, D, W, A and U change one display switch; Ctrl+L changes none. All of them repaint.
void Toggle(unsigned char c) {
  if (c == 'F') SetShowFiles(!ShowFiles);
  if (c == 'U') SetShowUnits(!ShowUnits);
  if (c == 'D') SetWasteAsPercent(!WasteAsPercent);
  if (c == 'W') SetShowWaste(!ShowWaste);
  if (c == 'A') ToggleTreeChars();
}

void Scroller(const ReportSection& s, const RunRecord& run) {
  // The first page goes below the banner's two rows; on a screen of three rows it still shows
  // one line.
  LinesLeft = LastRow() - 2 < 1 ? 1 : LastRow() - 2;
  int failedReads = 0;  // consecutive reads that found no keyboard
  for (;;) {
    Clamp();
    if (RedrawPending) {
      int32_t start = NextLine, budget = LinesLeft;
      PagePass(s, run);
      // The footer uses up LinesLeft without advancing NextLine, so the position is taken
      // from what the pass used of its budget.
      NextLine = start + budget - LinesLeft;
      Clamp();
      RedrawPending = false;
    }
    WriteStatusLine();
    int32_t rows = LastRow();
    KeyPress key = ReadKeyOrResize();
    if (ScreenResized) {
      // The screen is cleared and repainted, so the status line needs no erase.
      Resized(rows);
      continue;
    }
    failedReads = KeyReadFailed ? failedReads + 1 : 0;
    EraseStatusLine();
    // A keyboard that cannot be read reports End every time: the last page is shown once for
    // it, then the scroller is left instead of repainting that page for ever.
    if (failedReads >= 2) return;
    unsigned char c = key.character;
    if (c >= 'a' && c <= 'z') c = (unsigned char)(c - 'a' + 'A');
    bool nextTurn = true;  // the action has set LinesLeft itself
    switch (ActionOf(c, key.scanCode)) {
      case Action::Quit:
        EndProgram(0);
      case Action::Home:
        if (NextLine > LastRow()) {
          ClearConsole();
          RedrawPending = true;
          NextLine = 0;
        }
        nextTurn = false;
        break;
      case Action::End:
        NextLine = Total;
        StartFreshPage();
        break;
      case Action::Toggle:
        Toggle(c);
        StartFreshPage();
        break;
      case Action::Down:
        LinesLeft = 1;
        RedrawPending = true;
        break;
      case Action::Up:
        if (NextLine > LastRow()) {
          NextLine -= 1;
          StartFreshPage();
        } else {
          nextTurn = false;
        }
        break;
      case Action::PgUp:
        if (NextLine > LastRow()) {
          NextLine -= LastRow() - 1;
          StartFreshPage();
        } else {
          nextTurn = false;
        }
        break;
      case Action::Forward:
        if (NextLine >= Total) return;
        RedrawPending = true;
        nextTurn = false;
        break;
    }
    if (!nextTurn) LinesLeft = NextLine == 0 ? LastRow() : LastRow() - 1;
  }
}
}  // namespace

namespace {
// One level of the walk: the next node of a sibling list still to write, and the prefix's
// length for that list.
struct WalkLevel {
  const DirNode* node;
  int remembered;
};
LevelStack<WalkLevel> Levels;  // the levels of the walk under way, the outermost first
}  // namespace

void StartPass(int32_t first, int32_t count) {
  NextLine = first;
  LinesLeft = count;
  LineNumber = 0;
}

bool Probing() {
  return NextLine == -1;
}

bool TakeLine() {
  bool take = LineNumber == NextLine && LinesLeft > 0;
  if (take) {
    ++NextLine;
    --LinesLeft;
  }
  ++LineNumber;
  return take;
}

bool PassDone() {
  return LinesLeft <= 0;
}

// The footer's lines do not advance NextLine: the scroller takes the position from what the
// pass used of its budget.
void TakeLastLines(int32_t total, int32_t lines, void (*write)(const RunRecord& run, int32_t k),
                   const RunRecord& run) {
  int32_t k = NextLine - (total - lines);
  while (k >= 0 && LinesLeft > 0) {
    if (k < lines) write(run, k);
    ++k;
    --LinesLeft;
  }
}

int32_t PassNextLine() {
  return NextLine;
}
int32_t PassLinesLeft() {
  return LinesLeft;
}

bool WalkShownTree(const DirNode* first, const RowWriter& rows) {
  const int top = rows.mark();
  Levels.clear();
  Levels.push_back(WalkLevel{first, top});
  while (!Levels.empty()) {
    const DirNode* node = Levels.back().node;
    if (!node) {
      // A sibling list is done: back to its parent's, which goes on unless the pass is over.
      Levels.pop_back();
      if (Levels.empty()) break;
      rows.back(Levels.back().remembered);
      if (PassDone()) {
        rows.back(top);
        return false;
      }
      continue;
    }
    Levels.back().node = node->nextSibling;
    ShownRow row = {node, node == first, node->nextSibling != nullptr};
    // A pass whose budget the header used up writes no line: a screen of five rows or fewer
    // has room for the two title lines only on its first page.
    if (TakeLine()) rows.write(row);
    if (PassDone()) {
      rows.back(top);
      return false;
    }
    if (node->firstChild) {
      if (!row.root) rows.enter(row);
      Levels.push_back(WalkLevel{node->firstChild, rows.mark()});
    }
  }
  rows.back(top);
  return true;
}

void StartFreshPage() {
  ClearConsole();
  NextLine -= LastRow();
  LinesLeft = LastRow();
  RedrawPending = true;
}

int32_t CountReportLines(const ReportSection& s, const RunRecord& run) {
  NextLine = -1;
  int32_t total = s.header(run) + s.footer(run, 0);
  NextLine = CountingLine;
  LineNumber = 0;
  LinesLeft = 10;
  s.walker(run);
  NextLine = 0;
  return total + LineNumber;
}

void RunReport(const ReportSection& s, const RunRecord& run) {
  RedrawPending = true;
  Total = CountReportLines(s, run);
  if (!PagingEnabled) {
    LinesLeft = Total;
    Pass(s, run);
    FlushOutput();
    return;
  }
  Scroller(s, run);
  FlushOutput();
}
