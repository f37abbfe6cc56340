// String utilities on bounded strings. Depends on nothing else of the program.
#pragma once

#include "console/bounded_string.h"

// The path separator of this build: '\' on Windows, '/' on POSIX (defined in a platform file).
extern const char PathSeparator;

// Right-justifies text with leading blanks to width; never truncates.
BStr PadLeft(const BStr& text, int width);

// The path up to, not including, its last separator before the final character, never shorter
// than a 3-character drive root (POSIX: never shorter than "/").
BStr ParentDirectory(const BStr& path);
// The same with an explicit separator and minimum length: the Windows rule is ('\\', 3).
BStr ParentDirectoryWith(const BStr& path, char separator, int rootLength);

// count copies of c (count clamped to 0..255).
BStr RepeatChar(int count, char c);

// A copy of text with a..z replaced by A..Z; all other bytes unchanged.
BStr UpperCaseAscii(const BStr& text);

// Appends the separator unless path already ends with one; leaves path unchanged when the
// result would exceed capacity.
void AppendBackslash(BStr& path, int capacity);
void AppendSeparatorWith(BStr& path, int capacity, char separator);
