// The portable half of the console module: the keyboard seam, the status text shown and erased,
// and the end of the program.
#include <cstdlib>

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

void ShowStatus(const char* text, int length) {
  if (!StatusVisible() || length <= 0) return;
  // On a screen narrower than the text it is cut short of the last column: wrapped, its
  // backspaces could not reach back over its first row, nor could the erase.
  if (!OutputRedirected && length > ScreenWidth - 1) length = ScreenWidth > 1 ? ScreenWidth - 1 : 1;
  WriteStatus(text, length);
  BStr back = RepeatChar(length, 8);
  WriteStatus(back.text, back.length);
  StatusTextShown = back.length;
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
