#include "console/pager.h"

#include "console/console.h"
#include "console/output.h"
#include "console/strings.h"

bool PagingEnabled = true;
// The pager's count is 8-bit on the original console; a full int avoids the wrap at 127 rows.
int PageLineCount = -2;

const char PagerPrompt[] =
    "-- [Enter] & [Space]=line, [End]=continuous, [Esc]=exit, [j] & [k]=line --";

namespace {
BStr PendingLine = {0, {0}};  // the line being assembled; empty between calls

void ErasePrompt() {
  BStr back = RepeatChar(74, 8);
  BStr blank = RepeatChar(74, ' ');
  WriteText(back);
  FlushOutput();
  WriteText(blank);
  FlushOutput();
  WriteText(back);
  FlushOutput();
}
}  // namespace

void PagedWriteLine(const BStr& text) {
  BAppend(PendingLine, text);
  if (PagingEnabled) {
    ++PageLineCount;
    if (PageLineCount > ScreenLastRow - 2) {
      WriteText(PagerPrompt, 74);
      FlushOutput();
      KeyPress key = ReadKeyPress();
      ErasePrompt();
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
        PageLineCount = 0;
      }
    }
  }
  WriteText(PendingLine);
  WriteLineEnd();
  if (PendingLine.length >= ScreenWidth) ++PageLineCount;
  BClear(PendingLine);
}

void PagedWriteLine(const char* text) { PagedWriteLine(BMake(text)); }
