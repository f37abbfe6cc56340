// What the output module takes from the console: the platform's standard streams, whether each
// is a terminal, and the erase of the status text before a message.
// Declared apart from console.h, so that the dependency goes one way: the console (keys, status
// text, the end of the program) writes through the output module, and the output module sees
// of the console only this. Implemented by console.cpp and the platform's console file
// (console_posix.cpp, console_win32.cpp).
#pragma once

// Written by ConsoleStartup: standard output, standard error is a terminal (a console on
// Windows), also one whose size cannot be read (a terminal of 0 rows counts as redirected in
// OutputRedirected, yet shows what reaches it). Names written to a terminal have their control
// characters masked; a run-ending message is copied to standard error when standard output is
// none.
extern bool OutputIsTerminal;
extern bool ErrorIsTerminal;

// Blanks the status text ShowStatus left and puts the cursor back at its start, so it does not
// stay on the terminal after the scan (also when the report goes to a file or a pipe). Nothing
// when none is shown or status text reaches no screen.
void EraseStatus();

bool PlatformWriteStdout(const char* bytes, int length);  // false when the write failed
void PlatformWriteStderr(const char* bytes, int length);  // unbuffered; failures are dropped

// Writes the tree-drawing bytes (code page 437 box pieces, blank, + | -) as the platform shows
// them: unchanged on Windows, as UTF-8 box characters on POSIX, each through WriteText.
void PlatformWriteTreeBytes(const char* bytes, int length);
