// Path expansion with stubbed current directories: the drive-letter rules and the POSIX rules.
#include "test_support.h"
#include "tree/expand_path.h"

namespace {
// C: is the current drive with C:\WORK current; D: has D:\DATA current.
PathStr CurrentOfCurrentDrive() { return BMake("C:\\WORK"); }
PathStr CurrentOfDrive(char letter) {
  if (letter == 'C') return BMake("C:\\WORK");
  if (letter == 'D') return BMake("D:\\DATA");
  char root[4] = {letter, ':', '\\', 0};
  return BMake(root);
}
const DriveDirectories Dirs = {CurrentOfCurrentDrive, CurrentOfDrive};

std::string W(const std::string& argument) { return S(ExpandDrivePath(B(argument), Dirs)); }
std::string X(const std::string& argument, const char* current = "/work") {
  return S(ExpandPosixPath(B(argument), BMake(current)));
}
}  // namespace

TEST(ExpandDrivePath, RelativeArgumentsJoinTheCurrentDirectory) {
  EXPECT_EQ(W("."), "C:\\WORK\\");
  EXPECT_EQ(W(""), "C:\\WORK\\");
  EXPECT_EQ(W("FOO"), "C:\\WORK\\FOO");
  EXPECT_EQ(W(".\\FOO"), "C:\\WORK\\FOO");
  EXPECT_EQ(W("FOO\\BAR"), "C:\\WORK\\FOO\\BAR");
}

TEST(ExpandDrivePath, ParentStepsNeverClimbAboveTheDriveRoot) {
  EXPECT_EQ(W(".."), "C:\\");
  EXPECT_EQ(W("..\\FOO"), "C:\\FOO");
  EXPECT_EQ(W("..\\..\\..\\FOO"), "C:\\FOO");
  EXPECT_EQ(W(".\\..\\FOO"), "C:\\FOO");
  // Only a leading "." step is stripped, and only once.
  EXPECT_EQ(W(".\\.\\FOO"), "C:\\WORK\\.\\FOO");
}

TEST(ExpandDrivePath, DriveRelativeArgumentsUseThatDrivesDirectory) {
  EXPECT_EQ(W("D:"), "D:\\DATA\\");
  EXPECT_EQ(W("D:FOO"), "D:\\DATA\\FOO");
  EXPECT_EQ(W("d:FOO"), "D:\\DATA\\FOO");
  EXPECT_EQ(W("C:"), "C:\\WORK\\");
  EXPECT_EQ(W("D:.."), "D:\\");
  EXPECT_EQ(W("E:"), "E:\\");
}

TEST(ExpandDrivePath, RootedArgumentsTakeTheDriveOnly) {
  EXPECT_EQ(W("\\FOO"), "C:\\FOO");
  EXPECT_EQ(W("D:\\FOO"), "D:\\FOO");
  EXPECT_EQ(W("\\"), "C:\\");
}

TEST(ExpandDrivePath, FullAndNetworkPathsAreUnchanged) {
  EXPECT_EQ(W("C:\\WORK"), "C:\\WORK");
  EXPECT_EQ(W("c:\\work\\..\\x"), "c:\\work\\..\\x");
  EXPECT_EQ(W("\\\\server\\share\\dir"), "\\\\server\\share\\dir");
  EXPECT_EQ(W("\\\\server"), "\\\\server");
}

TEST(ExpandDrivePath, ResultIsCutAt4095Characters) {
  std::string longName(4200, 'n');
  PathStr arg = PMake(longName.c_str());
  std::string r = S(ExpandDrivePath(arg, Dirs));
  EXPECT_EQ(r.size(), 4095u);
  EXPECT_EQ(r.substr(0, 8), "C:\\WORK\\");
}

TEST(ExpandPath, APathPastTheBudgetIsSaidToBeSoNeverTakenForItsAncestor) {
  // Cut to 4095 bytes, the path would name one of the directories above it.
  bool tooLong = true;
  std::string fits = "/" + std::string(4094, 'a');
  EXPECT_EQ(S(ExpandPosixPath(PMake(fits.c_str()), BMake("/work"), &tooLong)), fits);
  EXPECT_FALSE(tooLong);
  std::string over = "/" + std::string(4095, 'a');  // as the argument keeps it: 4096 bytes
  EXPECT_EQ(S(ExpandPosixPath(PMake(over.c_str()), BMake("/work"), &tooLong)).size(), 4095u);
  EXPECT_TRUE(tooLong);
  // A relative argument that the current directory takes past the budget, and one it does not.
  ExpandPosixPath(PMake(std::string(4089, 'r').c_str()), BMake("/work"), &tooLong);
  EXPECT_FALSE(tooLong);
  ExpandPosixPath(PMake(std::string(4090, 'r').c_str()), BMake("/work"), &tooLong);
  EXPECT_TRUE(tooLong);
  ExpandPosixPath(PMake(std::string(4089, 'r').c_str()), BMake("/work/"), &tooLong);
  EXPECT_FALSE(tooLong) << "the separator the directory has is not counted twice";
  // The drive rules: a full path, a rooted one and a relative one.
  ExpandDrivePath(PMake(("C:\\" + std::string(4093, 'w')).c_str()), Dirs, &tooLong);
  EXPECT_TRUE(tooLong);
  ExpandDrivePath(PMake(("\\" + std::string(4092, 'w')).c_str()), Dirs, &tooLong);
  EXPECT_FALSE(tooLong) << "C: and the rooted path: 4,095 bytes";
  ExpandDrivePath(PMake(("\\" + std::string(4093, 'w')).c_str()), Dirs, &tooLong);
  EXPECT_TRUE(tooLong);
  ExpandDrivePath(PMake(std::string(4088, 'w').c_str()), Dirs, &tooLong);
  EXPECT_TRUE(tooLong) << "C:\\WORK\\ and 4,088 bytes";
  ExpandDrivePath(PMake(std::string(4087, 'w').c_str()), Dirs, &tooLong);
  EXPECT_FALSE(tooLong);
}

TEST(ExpandPosixPath, RelativeArgumentsJoinTheCurrentDirectory) {
  EXPECT_EQ(X("."), "/work/");
  EXPECT_EQ(X(""), "/work/");
  EXPECT_EQ(X("foo"), "/work/foo");
  EXPECT_EQ(X("./foo"), "/work/foo");
  EXPECT_EQ(X("foo/bar"), "/work/foo/bar");
  EXPECT_EQ(X("."), X("./"));
}

TEST(ExpandPosixPath, ParentStepsStopAtTheRoot) {
  EXPECT_EQ(X(".."), "/");
  EXPECT_EQ(X("../foo"), "/foo");
  EXPECT_EQ(X("../../foo"), "/foo");
  EXPECT_EQ(X("..", "/a/b/c"), "/a/b/");
  EXPECT_EQ(X("../../x", "/a/b/c"), "/a/x");
  EXPECT_EQ(X(".", "/"), "/");
  EXPECT_EQ(X("..", "/"), "/");
  EXPECT_EQ(X("foo", "/"), "/foo");
}

TEST(ExpandPosixPath, AbsolutePathsAreUnchanged) {
  EXPECT_EQ(X("/usr/share"), "/usr/share");
  EXPECT_EQ(X("/"), "/");
  EXPECT_EQ(X("/a/../b"), "/a/../b");
}

TEST(ExpandPosixPath, BackslashesAreOrdinaryCharacters) {
  EXPECT_EQ(X("..\\foo"), "/work/..\\foo");
  EXPECT_EQ(X("a\\b"), "/work/a\\b");
}
