// String utilities on bounded strings. Depends on nothing else of the program.
#pragma once

#include "console/bounded_string.h"

// The path separator of this build: '\' on Windows, '/' on POSIX (defined in a platform file).
extern const char PathSeparator;
// The longest path this build reads, in bytes: 4095 on both (PATH_MAX less one on POSIX, the
// same in UTF-8 for the wide paths of Windows; defined in a platform file). The scan's path
// budget, the expanded directory and the database rows' paths are held to it.
extern const int PathBudget;
// Bytes a directory's enumeration adds to its path beyond the path itself: 0 on both builds,
// which open the directory itself (4 for a listing by the pattern path + "\*.*"; defined in a
// platform file). A directory is read when its path and this room fit in PathBudget.
extern const int PathPatternRoom;

// True when the file system takes two names that differ only in letter case for one (Windows);
// false when they are two names (POSIX). Defined in a platform file.
extern const bool NamesIgnoreCase;

// Right-justifies text with leading blanks to width; never truncates.
BStr PadLeft(const BStr& text, int width);

// The path up to, not including, its last separator before the final character, never shorter
// than rootLength (the Windows rule is ('\\', 3): a drive root; POSIX ('/', 1): "/").
template <int N>
BoundedText<N> ParentDirectoryWith(const BoundedText<N>& path, char separator, int rootLength) {
  // Positions count from 1; the last character is not examined, so a trailing separator is
  // ignored and the parent of C:\A\ is C:\ .
  int p = 0;
  for (int i = path.length - 1; i >= 1; --i) {
    if (path.text[i - 1] == separator) {
      p = i;
      break;
    }
  }
  if (p < rootLength + 1) p = rootLength + 1;
  BoundedText<N> out = path;
  BCut(out, p - 1);
  return out;
}
// The same with this build's separator and root.
template <int N>
BoundedText<N> ParentDirectory(const BoundedText<N>& path) {
  return ParentDirectoryWith(path, PathSeparator, PathSeparator == '\\' ? 3 : 1);
}

// Length of the well-formed UTF-8 character at bytes (length bytes available), and its code
// point in *cp; 1 for a byte that starts none (a stray continuation byte, an overlong form, a
// surrogate, a value past U+10FFFF, a sequence cut short), with *cp that byte.
int Utf8CharLength(const unsigned char* bytes, int length, unsigned* cp);

// count copies of c (count clamped to 0..255).
BStr RepeatChar(int count, char c);

// A copy of text with a..z replaced by A..Z; all other bytes unchanged.
BStr UpperCaseAscii(const BStr& text);

// Appends the separator unless path already ends with one; leaves path unchanged when the
// result would exceed capacity (or the text's own room).
template <int N>
void AppendSeparatorWith(BoundedText<N>& path, int capacity, char separator) {
  if (path.length > 0 && path.text[path.length - 1] == separator) return;
  if (path.length + 1 > capacity || path.length + 1 > N) return;
  BAppendChar(path, separator);
}
template <int N>
void AppendBackslash(BoundedText<N>& path, int capacity) {
  AppendSeparatorWith(path, capacity, PathSeparator);
}
