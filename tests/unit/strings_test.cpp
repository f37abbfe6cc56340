#include <gtest/gtest.h>

#include "console/display_width.h"
#include "test_support.h"


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

TEST(DisplayWidth, EachClassOfTheGeneratedTable) {
  // Emoji and symbols outside the old short list wrapped the scroller's lines.
  struct {
    unsigned cp;
    int columns;
  } samples[] = {
      {'A', 1},     {0xE9, 1},    {0x3B1, 1},   {0x2500, 1},  {0x2600, 1},   // narrow, neutral
      {0x300, 0},   {0x5B0, 0},   {0x20DD, 0},  {0x200B, 0},  {0xFEFF, 0},   // Mn, Me, Cf
      {0xE0001, 0}, {0xE0100, 0}, {0x302A, 0},                               // tag, VS, Mn in W
      {0x1100, 2},  {0x4E00, 2},  {0xAC00, 2},  {0xFF21, 2},  {0x3000, 2},   // W and F
      {0x20000, 2}, {0x2A6E0, 2}, {0x3FFFD, 2},                              // planes 2 and 3
      {0x2705, 2},  {0x2B50, 2},  {0x1F680, 2}, {0x1FAE0, 2}, {0x1F1E6, 2},  // emoji
      {0x10FFFF, 1}};
  for (const auto& s : samples) EXPECT_EQ(CodePointColumns(s.cp), s.columns) << std::hex << s.cp;
}

// The counts after the status text fit whole or not at all, the first ones going first; only
// the text is cut, where the screen is narrower than the text itself.
TEST(StatusLine, LeavesOutWholeCountsFromTheFirstUntilTheRestFit) {
  const std::string text = "   Reading directory, press [Ctrl+C] to cancel";
  BStr n[3] = {BMake("12,345 dirs"), BMake("1,234,567 files"), BMake("123.4 G")};
  auto Line = [&](int columns) { return S(StatusLine(text.data(), 46, n, 3, columns)); };
  EXPECT_EQ(Line(86), text + "  12,345 dirs  1,234,567 files  123.4 G");
  EXPECT_EQ(Line(85), text + "  1,234,567 files  123.4 G");
  EXPECT_EQ(Line(56), text + "  123.4 G");
  EXPECT_EQ(Line(55), text);
  EXPECT_EQ(Line(40), text.substr(0, 39));
}

class MessageLines : public Isolated {};

// Error and note lines go to standard error alone, an error line with the program's name in
// front, a note line without; their names are masked as standard error takes them, whatever
// standard output is; after either, output goes on where it went before.
TEST_F(MessageLines, GoToStandardErrorAloneAndGiveOutputBackAsItWas) {
  Capture out;
  const std::string eol = PlatformLineEnd;
  OutputIsTerminal = false;
  ErrorIsTerminal = true;
  WriteText("report");
  WriteErrorLine("lead ", "a\033b", 3, " tail");
  BeginNoteLine();
  WriteName("c\x07", 2);
  WriteText(": why");
  EndNoteLine();
  WriteText(" goes on");
  EXPECT_EQ(out.text, "report goes on");
  EXPECT_EQ(out.errors, "quorvel: lead a?b tail" + eol + "c?: why" + eol);

  out.errors.clear();
  SendOutputToErrors(true);
  WriteNoteLine("1 directory could not be read; it counts as empty.");
  WriteText("still on standard error");
  SendOutputToErrors(false);
  EXPECT_EQ(out.errors,
            "1 directory could not be read; it counts as empty." + eol + "still on standard error");
}
