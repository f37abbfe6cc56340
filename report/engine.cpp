#include "report/engine.h"

#include "console/console.h"
#include "console/output.h"
#include "console/pager.h"
#include "console/strings.h"
#include "report/format.h"
#include "report/screen_report.h"

int32_t NextLine = 0;
int32_t LinesLeft = 0;
int32_t LineNumber = 0;
DirNode RootNode = {nullptr, 0, 0, 0, 0, nullptr, nullptr, 0};

namespace {
bool RedrawPending = false;  // the next turn of the scroller writes lines first
int32_t Total = 0;           // lines of the report being shown; fixed once counted

const char StatusText[] =
    "% Up,Down,PgUp,PgDn,Home,End [W]aste:[D]isplay [F]iles [A]scii [Escape]";

void Clamp() {
  if (NextLine < 0) NextLine = 0;
  if (NextLine > Total) NextLine = Total;
}

void Pass(const ReportSection& s) {
  s.header();
  s.walker(&RootNode);
  s.footer(Total);
}

void StartFreshPage() {
  ClearConsole();
  NextLine -= ScreenLastRow;
  LinesLeft = ScreenLastRow;
  RedrawPending = true;
}

void WriteStatusLine() {
  int32_t percent = (int32_t)((int64_t)NextLine * 100 / Total);
  WriteText(PadLeft(FormatPlain(percent), 3));
  WriteText(StatusText, 71);
}

void EraseStatusLine() {
  BStr back = RepeatChar(74, 8);
  WriteText(back);
  WriteText(RepeatChar(74, ' '));
  WriteText(back);
}

void Scroller(const ReportSection& s) {
  LinesLeft = ScreenLastRow - 2;
  int failedReads = 0;
  for (;;) {
    Clamp();
    if (RedrawPending) {
      int32_t start = NextLine, budget = LinesLeft;
      Pass(s);
      NextLine = start + budget - LinesLeft;
      Clamp();
      RedrawPending = false;
    }
    WriteStatusLine();
    KeyPress key = ReadKeyPress();
    // A keyboard that cannot be read reports End every time; after the last page has been
    // shown once for it, the scroller is left instead of repainting that page for ever.
    failedReads = KeyReadFailed ? failedReads + 1 : 0;
    EraseStatusLine();
    if (failedReads >= 2) return;
    unsigned char c = key.character;
    if (c >= 'a' && c <= 'z') c = (unsigned char)(c - 'a' + 'A');
    unsigned char scan = c == 0 ? key.scanCode : 0;
    if (c == 3 || c == 27 || c == 'Q') {
      EndProgram(0);
    } else if (scan == ScanHome) {
      if (NextLine > ScreenLastRow) {
        ClearConsole();
        RedrawPending = true;
        NextLine = 0;
      }
    } else if (scan == ScanEnd) {
      NextLine = Total;
      StartFreshPage();
      continue;
    } else if (c == 'F' || c == 'D' || c == 'W' || c == 'A' || c == 12) {
      if (c == 'F') ShowFiles = !ShowFiles;
      if (c == 'D') WasteAsPercent = !WasteAsPercent;
      if (c == 'W') ShowWaste = !ShowWaste;
      if (c == 'A') TreeChars = BEquals(TreeChars, GraphicTreeChars) ? PlainTreeChars : GraphicTreeChars;
      StartFreshPage();
      continue;
    } else if (scan == ScanDown || c == 'J') {
      LinesLeft = 1;
      RedrawPending = true;
      continue;
    } else if (scan == ScanUp || c == 'K') {
      if (NextLine > ScreenLastRow) {
        NextLine -= 1;
        StartFreshPage();
        continue;
      }
    } else if (scan == ScanPgUp) {
      if (NextLine > ScreenLastRow) {
        NextLine -= ScreenLastRow - 1;
        StartFreshPage();
        continue;
      }
    } else {
      if (NextLine >= Total) return;
      RedrawPending = true;
    }
    LinesLeft = NextLine == 0 ? ScreenLastRow : ScreenLastRow - 1;
  }
}
}  // namespace

int32_t CountReportLines(const ReportSection& s) {
  NextLine = -1;
  int32_t total = s.header() + s.footer(0);
  NextLine = CountingLine;
  LineNumber = 0;
  LinesLeft = 10;
  s.walker(&RootNode);
  NextLine = 0;
  return total + LineNumber;
}

void RunReport(const ReportSection& s) {
  RedrawPending = true;
  Total = CountReportLines(s);
  if (!PagingEnabled) {
    LinesLeft = Total;
    Pass(s);
    FlushOutput();
    return;
  }
  Scroller(s);
  FlushOutput();
}
