// Letter case as the system folds it in names, for the -exclude patterns of a build whose names
// ignore case (Windows). The pattern matcher folds ASCII itself and asks here for the rest, so
// that a pattern in capitals leaves out every name the file system would take for the same.
#pragma once

// Makes FoldNonAscii ready for characters of one kind: Unicode code points (utf8), or the bytes
// of the one-byte code page names are read in. Called by the matcher before a scan, never while
// one runs.
void PrepareCaseFold(bool utf8);

// The upper-case form of c (a code point, or a byte of the code page, of 0x80 or more) as the
// system folds names, or c itself when it has none or none is known. Two characters the file
// system takes for one give the same value. Reads only what PrepareCaseFold set: safe from any
// thread.
unsigned FoldNonAscii(unsigned c);
