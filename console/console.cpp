// The portable half of the console module: the keyboard seam, the status text shown and erased,
// and the end of the program.
#include <cstdlib>
#include <cstring>

#include "console/console.h"
#include "console/output.h"
#include "console/strings.h"

KeyboardSource Keyboard = PlatformKeyboard();
void (*EndProgramHook)(int code) = nullptr;
int (*ClosingNote)() = nullptr;
bool KeyReadFailed = false;
bool ScreenResized = false;
bool OutputIsTerminal = false;
bool ErrorIsTerminal = false;

volatile std::sig_atomic_t StatusTextShown = 0;

namespace {
// The status line on the screen, from ShowStatus to EraseStatus: its text as cut to the screen,
// the line last drawn (text and counts), and what stands in its first column (the text's own
// character, or the spinner's).
BStr StatusText = {0, {0}};
BStr StatusDrawn = {0, {0}};
char StatusLead = ' ';

// Writes line with StatusLead in its first column, blanks over whatever more of the status the
// screen shows, and backspaces to the first column, all in one write: an erase on a signal,
// which blanks StatusTextShown characters from the cursor, finds the cursor at the line's start
// whether it comes before or after it, and StatusTextShown already counting the whole line.
void DrawStatus(const BStr& line) {
  int shown = StatusTextShown > line.length ? StatusTextShown : line.length;
  if (shown > BStrCapacity) shown = BStrCapacity;
  char out[2 * BStrCapacity];
  std::memcpy(out, line.text, (size_t)line.length);
  std::memset(out + line.length, ' ', (size_t)(shown - line.length));
  std::memset(out + shown, 8, (size_t)shown);
  out[0] = StatusLead;
  StatusTextShown = shown;
  StatusDrawn = line;
  WriteStatus(out, 2 * shown);
}
}  // namespace

BStr StatusLine(const char* text, int length, const BStr* pieces, int count, int columns) {
  // On a screen narrower than the text it is cut short of the last column: wrapped, its
  // backspaces could not reach back over its first row, nor could the erase.
  int room = columns > 1 ? columns - 1 : 1;
  if (room > BStrCapacity) room = BStrCapacity;
  BStr line;
  BSet(line, text, length < room ? length : room);
  int first = 0, wanted = 0;
  for (int i = 0; i < count; ++i) wanted += 2 + pieces[i].length;
  while (first < count && line.length + wanted > room) wanted -= 2 + pieces[first++].length;
  for (int i = first; i < count; ++i) {
    BAppend(line, "  ");
    BAppend(line, pieces[i]);
  }
  return line;
}

void ShowStatus(const char* text, int length) {
  if (!StatusVisible() || length <= 0) return;
  StatusText = StatusLine(text, length, nullptr, 0, StatusColumns());
  StatusLead = StatusText.text[0];
  DrawStatus(StatusText);
}

void TurnStatusSpinner(char c) {
  StatusLead = c;
  char text[2] = {c, 8};
  WriteStatus(text, 2);
}

void ShowStatusCounts(const BStr* pieces, int count) {
  if (StatusTextShown <= 0) return;
  BStr line = StatusLine(StatusText.text, StatusText.length, pieces, count, StatusColumns());
  // The same line again would change nothing on the screen.
  if (BEquals(line, StatusDrawn)) return;
  DrawStatus(line);
}

void EraseStatus() {
  int shown = StatusTextShown;
  if (shown == 0) return;
  StatusTextShown = 0;
  BStr blanks = RepeatChar(shown, ' ');
  BStr back = RepeatChar(shown, 8);
  WriteStatus(blanks.text, blanks.length);
  WriteStatus(back.text, back.length);
}

KeyPress ReadKeyOrResize() {
  FlushOutput();
  KeyReadFailed = false;
  ScreenResized = false;
  return Keyboard.readKey();
}

// The pager waits on through a change of size; it pages by the new size from its next page on.
KeyPress ReadKeyPress() {
  for (;;) {
    KeyPress k = ReadKeyOrResize();
    if (!ScreenResized) return k;
  }
}

void ClearConsole() {
  Keyboard.clear();
}

void EndProgram(int code) {
  if (EndProgramHook) EndProgramHook(code);
  FlushOutput();
  PlatformRestoreTerminal();
  if (ClosingNote && ClosingNote() != 0 && code == 0) code = 1;
  if (OutputFailed() && !PlatformStdoutBrokenPipe()) {
    // A report that did not reach its target (a full disk, a closed device) must not look
    // like a success.
    WriteErrorLine("cannot write to standard output", "", 0, "");
    std::_Exit(1);
  }
  std::_Exit(code);
}
