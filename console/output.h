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

// A name or a path as the file system stores it. Written to a terminal (OutputIsTerminal, or
// ErrorIsTerminal while output goes to standard error), control characters are shown as "?",
// so that a name cannot recolour, retitle or scramble the terminal: C0 bytes, DEL and, in UTF-8
// text, the C1 controls U+0080 to U+009F and lone bytes 0x80 to 0x9F. Files and pipes get the
// exact bytes.
void WriteName(const char* bytes, int length);
inline void WriteName(const BStr& s) { WriteName(s.text, s.length); }

// A message that ends the run without a report (the start directory not found, a drive that
// cannot be queried, a launch that cannot start): lead, then name as names are written, then
// tail, as one line on standard output as every message goes (standard error in an export).
// When standard output is no terminal, the user and the scripts that read errors look on
// standard error: the line goes there too, as "quorvel: " + the message. In an export that
// prefixed line is the only one, so no message reaches standard error twice. Erases the status
// text first.
void WriteRunEndingMessage(const char* lead, const char* name, int nameLength, const char* tail);

// The lead of the message for a start directory or a subdirectory that is not there, or whose
// path passes what the system takes.
extern const char PathNotFoundLead[];

// A message for the user that is no part of the report (a refused option, an unknown one, a
// setting not taken): "quorvel: " + lead + name (as names are written) + tail, as one line on
// standard error alone, whatever standard output is. Flushes standard output first, so that the
// line follows what was written before it.
void WriteErrorLine(const char* lead, const char* name, int nameLength, const char* tail);

// The same line in pieces, for a message of several names: BeginErrorLine flushes standard
// output and writes "quorvel: "; until EndErrorLine ends the line, WriteText and WriteName
// write on standard error, names masked as WriteName masks them for a terminal there.
void BeginErrorLine();
void EndErrorLine();

// A note on standard error without the program's name in front: the last words of a run about
// what its report lacks. BeginNoteLine flushes standard output; until EndNoteLine ends the line,
// WriteText and WriteName write on standard error as between BeginErrorLine and EndErrorLine.
// WriteNoteLine writes text as such a line.
void BeginNoteLine();
void EndNoteLine();
void WriteNoteLine(const char* text);

// Columns the text takes on a terminal, counted as the line cut counts them (a tab to the next
// multiple of 8).
int DisplayColumns(const char* bytes, int length);

// Set by the console start-up: names and messages are UTF-8 text (POSIX; Windows when its code
// page is UTF-8), so one character may take several bytes. False: one byte is one character
// (the Windows OEM code page).
extern bool TextIsUtf8;
// Written here alone: the console start-up of each platform calls it.
void SetTextIsUtf8(bool utf8);

// From here on every line is cut to `columns` display columns, the last column showing '>' when
// the line is longer; 0 writes whole lines again. A character never splits: a UTF-8 character
// (when TextIsUtf8) takes the columns CodePointColumns gives it (two for a wide one, none for a
// combining mark), a tree-drawing byte or a byte of other text one, a control character none,
// a tab up to the next multiple of 8. The scroller
// switches it on for its passes only, so that one report line takes one row of the screen.
void SetLineCut(int columns);

// Line end of ordinary lines: CR LF on Windows, LF on POSIX.
void WriteLineEnd();
// Line end of the database forms: CR LF on both builds.
void WriteCrLf();

void FlushOutput();

// While on, everything written here goes to standard error instead, unbuffered: an export
// keeps standard output for the report alone, and the messages before it go there. Flushes
// what is pending first.
void SendOutputToErrors(bool on);

// From here on everything written here goes to standard error, what is pending too, never to
// standard output: that is a dump's (-save=-) and holds nothing else.
void SendAllOutputToErrors();

// True once a write to standard output has failed.
bool OutputFailed();

// For tests and the configuration program's explanations: every write goes to *sink instead of
// standard output (nullptr restores it). Tree bytes are captured untranslated. Returns the sink
// before, so that captures can nest.
std::string* CaptureOutput(std::string* sink);
// For tests: what goes to standard error while output is sent there (SendOutputToErrors, the
// copy of a run-ending message) goes to *sink instead (nullptr restores it).
void CaptureErrors(std::string* sink);

// The platform's line end, set by the platform file at start-up.
extern const char* PlatformLineEnd;
