#include <gtest/gtest.h>

#include "console/strings.h"

namespace {
std::string S(const BStr& b) { return std::string(b.text, b.length); }
}  // namespace

TEST(PadLeft, RightJustifiesAndNeverTruncates) {
  EXPECT_EQ(S(PadLeft(BMake("abc"), 2)), "abc");
  EXPECT_EQ(S(PadLeft(BMake("abc"), 5)), "  abc");
  EXPECT_EQ(S(PadLeft(BMake("abc"), 3)), "abc");
}

TEST(ParentDirectory, WindowsRulesNeverClimbAboveTheDriveRoot) {
  auto P = [](const char* p) { return S(ParentDirectoryWith(BMake(p), '\\', 3)); };
  EXPECT_EQ(P("C:\\A\\B"), "C:\\A");
  EXPECT_EQ(P("C:\\A\\"), "C:\\");
  EXPECT_EQ(P("C:\\A"), "C:\\");
  EXPECT_EQ(P("C:\\"), "C:\\");
  EXPECT_EQ(P("C:"), "C:");
}

TEST(ParentDirectory, PosixRulesStopAtTheRoot) {
  auto P = [](const char* p) { return S(ParentDirectoryWith(BMake(p), '/', 1)); };
  EXPECT_EQ(P("/work/foo"), "/work");
  EXPECT_EQ(P("/work"), "/");
  EXPECT_EQ(P("/"), "/");
  EXPECT_EQ(P("/a/b/"), "/a");
}

TEST(AppendBackslash, AddsOnceAndRespectsCapacity) {
  BStr p = BMake("");
  AppendSeparatorWith(p, 255, '\\');
  EXPECT_EQ(S(p), "\\");
  p = BMake("C:\\");
  AppendSeparatorWith(p, 255, '\\');
  EXPECT_EQ(S(p), "C:\\");
  std::string full(255, 'x');
  p = BMake(full.c_str());
  AppendSeparatorWith(p, 255, '\\');
  EXPECT_EQ(p.length, 255);
  EXPECT_EQ(S(p), full);
}

TEST(UpperCaseAscii, ChangesOnlyAsciiLetters) {
  EXPECT_EQ(S(UpperCaseAscii(BMake("abz-AZ_09{"))), "ABZ-AZ_09{");
  EXPECT_EQ(S(UpperCaseAscii(BMake("\x82\xC4\xe9"))), "\x82\xC4\xe9");
}

TEST(BoundedString, KeepsTheFirst255Bytes) {
  BStr s = BMake(std::string(250, 'a').c_str());
  BAppend(s, "bcdefghij");
  EXPECT_EQ(s.length, 255);
  EXPECT_EQ(S(s), std::string(250, 'a') + "bcdef");
  EXPECT_EQ(RepeatChar(300, 'x').length, 255);
  EXPECT_EQ(RepeatChar(0, 'x').length, 0);
}
