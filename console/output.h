// Standard output of the report, messages and prompts, buffered in one place. Every piece is
// written as soon as it is made; the buffer is flushed before any key is awaited, before status
// text, and at the end of the program.
#pragma once

#include <string>

#include "console/bounded_string.h"

void WriteText(const char* bytes, int length);
inline void WriteText(const BStr& s) { WriteText(s.text, s.length); }
void WriteText(const char* z);

// Tree-drawing characters and the spinner: translated by the platform where needed.
void WriteTreeBytes(const char* bytes, int length);

// A name or a path as the file system stores it; on a POSIX terminal, control bytes (below 0x20
// and 0x7F) are shown as "?" so that a name cannot retitle or scramble the terminal.
void WriteName(const char* bytes, int length);
inline void WriteName(const BStr& s) { WriteName(s.text, s.length); }

// Set by the console start-up: names written to this standard output have their control bytes
// masked (POSIX, standard output a terminal).
extern bool MaskNameControlBytes;

// Set by the console start-up: names and messages are UTF-8 text (POSIX; Windows when its code
// page is UTF-8), so one character may take several bytes. False: one byte is one character
// (the Windows OEM code page).
extern bool TextIsUtf8;

// From here on every line is cut to `columns` display columns, the last column showing '>' when
// the line is longer; 0 writes whole lines again. A character never splits: a UTF-8 character
// (when TextIsUtf8), a tree-drawing byte or a byte of other text is one column, an East Asian
// wide character two, a combining mark none, a tab up to the next multiple of 8. The scroller
// switches it on for its passes only, so that one report line takes one row of the screen.
void SetLineCut(int columns);

// Line end of ordinary lines: CR LF on Windows, LF on POSIX.
void WriteLineEnd();
// Line end of the database forms: CR LF on both builds.
void WriteCrLf();

void FlushOutput();

// The second copy of a message that ends the run without its work done (a launch that could not
// start): when standard output is not a terminal, line also goes to standard error, prefixed
// "quorvel: ", so that a script or a log that keeps only the error output learns of it. The
// caller writes line to standard output as its messages go.
void CopyToErrorOutput(const BStr& line);

// True once a write to standard output has failed.
bool OutputFailed();

// For tests and the configuration program's explanations: every write goes to *sink instead of
// standard output (nullptr restores it). Tree bytes are captured untranslated. Returns the sink
// before, so that captures can nest.
std::string* CaptureOutput(std::string* sink);

// The platform's line end, set by the platform file at start-up.
extern const char* PlatformLineEnd;
