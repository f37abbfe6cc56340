// Letter case as the system folds it in names, for the -exclude patterns of a build whose names
// ignore case (Windows), and for finding a name in a saved scan as the file system finds it.
// The pattern matcher folds ASCII itself and asks here for the rest, so that a pattern in
// capitals leaves out every name the file system would take for the same.
#pragma once

// Makes FoldNonAscii ready for characters of one kind: Unicode code points (utf8), or the bytes
// of the one-byte code page names are read in. Called by the matcher before a scan, and by
// SameFileName (Windows) as names are compared, never while a scan runs.
void PrepareCaseFold(bool utf8);

// The upper-case form of c (a code point, or a byte of the code page, of 0x80 or more) as the
// system folds names, or c itself when it has none or none is known. Two characters the file
// system takes for one give the same value. Reads only what PrepareCaseFold set: safe from any
// thread.
unsigned FoldNonAscii(unsigned c);

// True when the names a and b (an and bn bytes, in the code page names are read in) are one
// name to the file system: byte for byte on POSIX; on Windows in any letter case, every letter
// folded as the system folds names.
bool SameFileName(const char* a, int an, const char* b, int bn);
