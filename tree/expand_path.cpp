#include "tree/expand_path.h"

#include <cstring>

#include "console/strings.h"

namespace {
bool StartsWith(const BStr& s, const char* prefix) {
  int n = (int)std::strlen(prefix);
  return s.length >= n && std::memcmp(s.text, prefix, n) == 0;
}

void DropFront(BStr& s, int n) {
  if (n > s.length) n = s.length;
  std::memmove(s.text, s.text + n, s.length - n);
  s.length -= n;
  s.text[s.length] = 0;
}

// Steps shared by both rule sets: strip ".", "./", "..", "../" against directory d, then join.
BStr JoinRelative(BStr d, BStr s, char sep, int rootLength) {
  char dotSep[3] = {'.', sep, 0};
  char dotDotSep[4] = {'.', '.', sep, 0};
  if (BEquals(s, ".") || StartsWith(s, dotSep)) DropFront(s, 2);
  while (StartsWith(s, dotDotSep) || BEquals(s, "..")) {
    DropFront(s, 3);
    d = ParentDirectoryWith(d, sep, rootLength);
  }
  AppendSeparatorWith(d, 255, sep);
  BAppend(d, s);
  return d;
}
}  // namespace

BStr ExpandDrivePath(const BStr& argument, const DriveDirectories& dirs) {
  BStr s = argument;
  if (s.length >= 3 && s.text[1] == ':' && s.text[2] == '\\') return s;
  if (StartsWith(s, "\\\\")) return s;
  BStr d;
  if (s.length >= 2 && s.text[1] == ':') {
    char drive[2] = {s.text[0], ':'};
    BSet(d, drive, 2);
    DropFront(s, 2);
  } else {
    BStr cur = dirs.currentDirectory();
    char drive[2] = {cur.length ? cur.text[0] : 'C', ':'};
    BSet(d, drive, 2);
  }
  if (s.length > 0 && s.text[0] == '\\') {
    BAppend(d, s);
    return d;
  }
  char letter = d.text[0];
  if (letter >= 'a' && letter <= 'z') letter = (char)(letter - 'a' + 'A');
  d = dirs.driveDirectory(letter);
  return JoinRelative(d, s, '\\', 3);
}

BStr ExpandPosixPath(const BStr& argument, const BStr& current) {
  if (argument.length > 0 && argument.text[0] == '/') return argument;
  return JoinRelative(current, argument, '/', 1);
}
