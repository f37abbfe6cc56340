#include "console/pager.h"

#include "console/console.h"
#include "console/output.h"
#include "console/strings.h"

bool PagingEnabled = true;
// The pager's count is 8-bit on the original console; a full int avoids the wrap at 127 rows.
int PageLineCount = -2;

void SetPageLineCount(int rows) {
  PageLineCount = rows;
}

void SetPaging(bool on) {
  PagingEnabled = on;
}

const char PagerPrompt[] =
    "-- [Enter] & [Space]=line, [End]=continuous, [Esc]=exit, [j] & [k]=line --";

namespace {
BStr PendingLine = {0, {0}};  // the line being assembled; empty between calls

// Rows the line takes on the screen: one, and one more for each time it passes the columns a
// row holds.
int RowsOf(const BStr& line) {
  int columns = DisplayColumns(line.text, line.length);
  int perRow = ScreenRowColumns() > 0 ? ScreenRowColumns() : 1;
  return columns <= perRow ? 1 : 1 + (columns - 1) / perRow;
}

// The prompt stops short of the last column, so that it stays on its one row and the
// backspaces of its erase reach back over all of it.
int PromptShown() {
  int shown = ScreenWidth - 1 < 74 ? ScreenWidth - 1 : 74;
  return shown < 1 ? 1 : shown;
}

void ErasePrompt(int shown) {
  BStr back = RepeatChar(shown, 8);
  BStr blank = RepeatChar(shown, ' ');
  WriteText(back);
  FlushOutput();
  WriteText(blank);
  FlushOutput();
  WriteText(back);
  FlushOutput();
}
}  // namespace

// The count is of screen rows, not lines: a line wider than the screen takes several, and a
// page counted in lines would scroll its first rows away before the prompt.
void PagedWriteLine(const BStr& text) {
  BAppend(PendingLine, text);
  int rows = RowsOf(PendingLine);
  // Without paging only the rows past the first are counted, as the count always did.
  PageLineCount += PagingEnabled ? rows : rows - 1;
  if (PagingEnabled && PageLineCount > ScreenLastRow - 2) {
    int shown = PromptShown();
    WriteText(PagerPrompt, shown);
    FlushOutput();
    KeyPress key = ReadKeyPress();
    ErasePrompt(shown);
    unsigned char c = key.character;
    if (c >= 'a' && c <= 'z') c = (unsigned char)(c - 'a' + 'A');
    if (c == 27) {
      BClear(PendingLine);
      EndProgram(0);
    } else if (c == 0 && key.scanCode == ScanEnd) {
      PagingEnabled = false;
    } else if (c == 'J' || c == 'K' || c == 13 || c == ' ') {
      // Enter and Space do what the prompt says of them: one more line.
      --PageLineCount;
    } else {
      // A new page starts with the waiting line, in the rows the prompt leaves.
      PageLineCount = rows - 1;
    }
  }
  WriteText(PendingLine);
  WriteLineEnd();
  BClear(PendingLine);
}

void PagedWriteLine(const char* text) { PagedWriteLine(BMake(text)); }
