// Path expansion on any argument and any current directories, with both rule sets: the result
// is always a well-formed bounded string; absolute and network arguments come back unchanged;
// with real current directories a relative argument yields a path on a drive (Windows rules)
// or below "/" (POSIX rules); and an argument without dots is simply joined to the directory.
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "tree/expand_path.h"

namespace {
BStr Current;       // what the current drive's current directory query answers
BStr DriveCurrent;  // what the query for another drive answers

PathStr CurrentDirectory() { return Current; }
PathStr DriveDirectory(char) { return DriveCurrent; }

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool DrivePath(const BStr& s) { return s.length >= 3 && IsLetter(s.text[0]) && s.text[1] == ':' && s.text[2] == '\\'; }

void CheckDriveRules(const BStr& argument) {
  DriveDirectories dirs = {CurrentDirectory, DriveDirectory};
  PathStr r = ExpandDrivePath(argument, dirs);
  FUZZ_CHECK(WellFormed(r) && r.length <= 4095);
  bool absolute = argument.length >= 3 && argument.text[1] == ':' && argument.text[2] == '\\';
  bool network = argument.length >= 2 && argument.text[0] == '\\' && argument.text[1] == '\\';
  if (absolute || network) {
    FUZZ_CHECK(BEquals(r, argument));
  } else if (DrivePath(Current) && DrivePath(DriveCurrent)) {
    FUZZ_CHECK(r.length >= 2 && r.text[1] == ':');
  }
}

void CheckPosixRules(const BStr& argument) {
  PathStr r = ExpandPosixPath(argument, Current);
  FUZZ_CHECK(WellFormed(r));
  if (argument.length > 0 && argument.text[0] == '/') {
    FUZZ_CHECK(BEquals(r, argument));
    return;
  }
  if (Current.length > 0 && Current.text[0] == '/') FUZZ_CHECK(r.length >= 1 && r.text[0] == '/');
  if (argument.length == 0 || argument.text[0] != '.') {
    std::string joined = ToString(Current);
    if (joined.empty() || joined.back() != '/') joined += '/';
    joined += ToString(argument);
    FUZZ_CHECK(ToString(r) == joined);
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  uint8_t mode = in.Byte();
  BStr argument = ToBStr(in.Text(255));
  Current = ToBStr(in.Text(255));
  DriveCurrent = ToBStr(in.Text(255));
  if (mode & 1) {
    // The system's answers are full paths; make them so, to check the rules' promises.
    if (!DrivePath(Current)) Current = ToBStr("C:\\" + ToString(Current));
    if (!DrivePath(DriveCurrent)) DriveCurrent = ToBStr("D:\\" + ToString(DriveCurrent));
  }
  CheckDriveRules(argument);
  if (mode & 1) Current = ToBStr("/" + ToString(Current).substr(3));
  CheckPosixRules(argument);
  return 0;
}
