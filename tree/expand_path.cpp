#include "tree/expand_path.h"

#include <cstring>

#include "console/strings.h"

namespace {
constexpr int WindowsPathLimit = 4095;  // the Windows build's paths, as on POSIX
constexpr int PosixPathLimit = 4095;    // PATH_MAX less one

bool StartsWith(const PathStr& s, const char* prefix) {
  int n = (int)std::strlen(prefix);
  return s.length >= n && std::memcmp(s.text, prefix, n) == 0;
}

void DropFront(PathStr& s, int n) {
  if (n > s.length) n = s.length;
  std::memmove(s.text, s.text + n, s.length - n);
  s.length -= n;
  s.text[s.length] = 0;
}

// Notes in *tooLong (when asked) whether a path of length bytes passes the limit.
void NoteLength(bool* tooLong, long length, int limit) {
  if (tooLong) *tooLong = length > limit;
}

// Steps shared by both rule sets: strip ".", "./", "..", "../" against directory d, then join,
// keeping the first `limit` bytes.
PathStr JoinRelative(PathStr d, PathStr s, char sep, int rootLength, int limit, bool* tooLong) {
  char dotSep[3] = {'.', sep, 0};
  char dotDotSep[4] = {'.', '.', sep, 0};
  if (BEquals(s, ".") || StartsWith(s, dotSep)) DropFront(s, 2);
  while (StartsWith(s, dotDotSep) || BEquals(s, "..")) {
    DropFront(s, 3);
    d = ParentDirectoryWith(d, sep, rootLength);
  }
  bool separated = d.length > 0 && d.text[d.length - 1] == sep;
  NoteLength(tooLong, (long)d.length + (separated ? 0 : 1) + s.length, limit);
  BCut(d, limit);
  AppendSeparatorWith(d, limit, sep);
  BAppend(d, s);
  BCut(d, limit);
  return d;
}
}  // namespace

PathStr ExpandDrivePath(const PathStr& argument, const DriveDirectories& dirs, bool* tooLong) {
  PathStr s = BCopy<WindowsPathLimit>(argument);
  NoteLength(tooLong, argument.length, WindowsPathLimit);
  if (s.length >= 3 && s.text[1] == ':' && s.text[2] == '\\') return s;
  if (StartsWith(s, "\\\\")) return s;
  PathStr d;
  if (s.length >= 2 && s.text[1] == ':') {
    char drive[2] = {s.text[0], ':'};
    BSet(d, drive, 2);
    DropFront(s, 2);
  } else {
    PathStr cur = dirs.currentDirectory();
    char drive[2] = {cur.length ? cur.text[0] : 'C', ':'};
    BSet(d, drive, 2);
  }
  if (s.length > 0 && s.text[0] == '\\') {
    // Rooted without a drive ("\\FOO"; with one it was returned above): the drive goes first.
    NoteLength(tooLong, (long)d.length + argument.length, WindowsPathLimit);
    BAppend(d, s);
    BCut(d, WindowsPathLimit);
    return d;
  }
  char letter = d.text[0];
  if (letter >= 'a' && letter <= 'z') letter = (char)(letter - 'a' + 'A');
  d = dirs.driveDirectory(letter);
  bool cut = false;
  PathStr out = JoinRelative(d, s, '\\', 3, WindowsPathLimit, &cut);
  if (tooLong) *tooLong = *tooLong || cut;
  return out;
}

PathStr ExpandPosixPath(const PathStr& argument, const PathStr& current, bool* tooLong) {
  if (argument.length > 0 && argument.text[0] == '/') {
    NoteLength(tooLong, argument.length, PosixPathLimit);
    return BCopy<PosixPathLimit>(argument);
  }
  return JoinRelative(current, argument, '/', 1, PosixPathLimit, tooLong);
}
