// Console access: the redirection test, screen size, clearing, single key presses, status text
// and the end of the program. Implemented once per platform (console_posix.cpp,
// console_win32.cpp); the portable parts (key source seam, end of program) live in console.cpp.
#pragma once

#include <csignal>
#include <cstdint>

#include "console/bounded_string.h"
#include "console/platform_output.h"

struct KeyPress {
  unsigned char character;  // the key's character; 0 for keys that produce none
  unsigned char scanCode;   // when character is 0: the key's scan code; otherwise 0
};

constexpr unsigned char ScanHome = 0x47, ScanUp = 0x48, ScanPgUp = 0x49, ScanEnd = 0x4F,
                        ScanDown = 0x50, ScanPgDn = 0x51;

// Written by ConsoleStartup; the sizes also by the keyboard routine when the screen's size
// changes while a key is awaited.
extern bool OutputRedirected;  // standard output is not a console screen
extern int ScreenWidth;        // columns of the screen; 80 when redirected
extern int ScreenLastRow;      // rows of the screen minus 1; 24 when redirected

// Columns a line may fill and still take one row: all of them on a POSIX terminal, which wraps
// only when a further character comes; one less on the Windows console, which moves to the
// next row as soon as the last column is written.
int ScreenRowColumns();

// Obtains the standard handles, sets the input mode and measures the screen. Ends the program
// with a message when a standard handle cannot be obtained.
void ConsoleStartup();

// Clears the screen to attribute 7 and puts the cursor home. Goes through KeyboardSource so
// tests can count it.
void ClearConsole();

// What follows on the screen is shown in reverse video (on), or as it normally is (off): on a
// terminal with its reverse attribute; on the Windows console with the foreground and
// background colours of its attribute swapped (Wine shows no reverse attribute). What is
// pending is written first.
void SetReverseVideo(bool on);

// Waits for one key press. A keyboard that cannot be read gives character 0, scan code End.
KeyPress ReadKeyPress();

// Like ReadKeyPress, but also returns when the screen's size changes while the key is awaited,
// or when the program is continued after a stop (Ctrl+Z, then fg: the shell has written over
// the screen); ScreenResized then tells so, the sizes hold the screen's, and the key means
// nothing.
KeyPress ReadKeyOrResize();

// True when the last ReadKeyOrResize returned because the screen must be drawn again (its size
// changed, or the program was continued). Written by the keyboard routines.
extern bool ScreenResized;

// True when the last ReadKeyPress could not read the keyboard (and so reported End). Written by
// the keyboard routines.
extern bool KeyReadFailed;

// The routines ReadKeyPress and ClearConsole call; the platform's by default, replaced by tests
// with a scripted keyboard.
struct KeyboardSource {
  KeyPress (*readKey)();
  void (*clear)();
};
extern KeyboardSource Keyboard;
KeyboardSource PlatformKeyboard();

// Writes status text to the console's error channel with no line end; dropped when that
// channel is not a console. Flushes pending report output first so the two stay in order.
void WriteStatus(const char* text, int length);

// True when status text reaches a screen (decided once at start-up).
bool StatusVisible();

// Writes status text with WriteStatus, then as many backspaces, so the cursor stands on its
// first column (where the scan's spinner turns) and what follows writes over it. Remembered
// until EraseStatus.
void ShowStatus(const char* text, int length);

// Draws c in the first column of the status line, where the cursor stands, and leaves the
// cursor there: the scan's spinner. Remembered, so that the line's redraws keep it.
void TurnStatusSpinner(char c);

// Redraws the status line ShowStatus shows with counts after its text: pieces, each a figure
// with its word ("1,234 dirs"), laid out by StatusLine for the screen's width of now. A line
// shorter than the one before is padded with blanks, so that nothing of that one stays.
// Nothing when no status text is shown.
void ShowStatusCounts(const BStr* pieces, int count);

// The status line for a screen of `columns`: the first `length` bytes of text, cut short of
// the screen's last column (at least one byte stays), then the pieces, each after two blanks.
// Where they do not all fit, they are left out from the first on until the rest fit whole: a
// narrow screen shows the last ones, or the text alone, never part of a figure.
BStr StatusLine(const char* text, int length, const BStr* pieces, int count, int columns);

// Columns of the screen that status text reaches, as it is now: those of the terminal (the
// console on Windows) standard error is, or ScreenWidth where they cannot be read.
int StatusColumns();

// Characters of status text ShowStatus and ShowStatusCounts left on the screen, the cursor at
// their first (0: none). Written by them and by EraseStatus, each time before the line is
// written; read by the platform's handler of Ctrl+C and the other ends of the program from
// outside, which blanks them the same way before the end.
extern volatile std::sig_atomic_t StatusTextShown;

// Milliseconds from an arbitrary start, monotonic; for pacing the scan's spinner.
int64_t MonotonicMilliseconds();

// Ends the program: flushes the report, restores the terminal, exits with code (0 for every
// ordinary end). Tests and fuzz targets may replace EndProgramHook to catch the end.
[[noreturn]] void EndProgram(int code);
extern void (*EndProgramHook)(int code);
// Called by EndProgram once the output is flushed and the terminal restored, just before the
// exit: last lines for standard error. Returns the least exit code they call for (1 when the
// report was incomplete, else 0). Null for none; set by the run driver after the scan.
extern int (*ClosingNote)();

// Platform pieces of the end of the program (the output module's own are in platform_output.h).
bool PlatformStdoutBrokenPipe();  // the last failed write found the reader gone
void PlatformRestoreTerminal();   // leaves the terminal in the mode it was found in
