// Path expansion on any argument and any current directories of up to 4,096 bytes (past the
// budget of 4,095), with both rule sets: the result is always a well-formed bounded string of at
// most 4,095 bytes, flagged too long exactly when the whole expansion would pass that; absolute
// and network arguments come back unchanged; with real current directories a relative argument
// yields a path on a drive (Windows rules) or below "/" (POSIX rules); and an argument without
// dots is simply joined to the directory.
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "tree/expand_path.h"

namespace {
PathStr Current;       // what the current drive's current directory query answers
PathStr DriveCurrent;  // what the query for another drive answers

PathStr CurrentDirectory() { return Current; }
PathStr DriveDirectory(char) { return DriveCurrent; }

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool DrivePath(const PathStr& s) { return s.length >= 3 && IsLetter(s.text[0]) && s.text[1] == ':' && s.text[2] == '\\'; }

void CheckDriveRules(const PathStr& argument) {
  DriveDirectories dirs = {CurrentDirectory, DriveDirectory};
  bool tooLong = true;
  PathStr r = ExpandDrivePath(argument, dirs, &tooLong);
  FUZZ_CHECK(WellFormed(r) && r.length <= 4095);
  FUZZ_CHECK(ToString(ExpandDrivePath(argument, dirs)) == ToString(r));
  bool absolute = argument.length >= 3 && argument.text[1] == ':' && argument.text[2] == '\\';
  bool network = argument.length >= 2 && argument.text[0] == '\\' && argument.text[1] == '\\';
  if (absolute || network) {
    FUZZ_CHECK(ToString(r) == ToString(argument).substr(0, 4095));
    FUZZ_CHECK(tooLong == (argument.length > 4095));
  } else if (DrivePath(Current) && DrivePath(DriveCurrent)) {
    FUZZ_CHECK(r.length >= 2 && r.text[1] == ':');
  }
}

void CheckPosixRules(const PathStr& argument) {
  bool tooLong = true;
  PathStr r = ExpandPosixPath(argument, Current, &tooLong);
  FUZZ_CHECK(WellFormed(r) && r.length <= 4095);
  if (argument.length > 0 && argument.text[0] == '/') {
    FUZZ_CHECK(ToString(r) == ToString(argument).substr(0, 4095));
    FUZZ_CHECK(tooLong == (argument.length > 4095));
    return;
  }
  if (Current.length > 0 && Current.text[0] == '/') FUZZ_CHECK(r.length >= 1 && r.text[0] == '/');
  if (argument.length == 0 || argument.text[0] != '.') {
    std::string joined = ToString(Current);
    if (joined.empty() || joined.back() != '/') joined += '/';
    joined += ToString(argument);
    // Whole when it fits the budget; cut there, and said to be, when it does not.
    FUZZ_CHECK(tooLong == (joined.size() > 4095));
    FUZZ_CHECK(ToString(r) == joined.substr(0, 4095));
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  uint8_t mode = in.Byte();
  // A byte that repeats the text before it lets a short input make a long path.
  auto text = [&in]() {
    std::string s = in.Text(4200);
    for (uint8_t times = in.Byte() & 63; times > 0 && s.size() < 4200; --times) s += s;
    return ToPathStr(s.substr(0, 4200));
  };
  PathStr argument = text();
  Current = text();
  DriveCurrent = text();
  if (mode & 1) {
    // The system's answers are full paths; make them so, to check the rules' promises.
    if (!DrivePath(Current)) Current = ToPathStr("C:\\" + ToString(Current));
    if (!DrivePath(DriveCurrent)) DriveCurrent = ToPathStr("D:\\" + ToString(DriveCurrent));
  }
  CheckDriveRules(argument);
  if (mode & 1) Current = ToPathStr("/" + ToString(Current).substr(3));
  CheckPosixRules(argument);
  return 0;
}
