// The screen report on hand-built trees: the DATA tree line for line, its variants, and
// the line-selection protocol (probes, passes from the middle, the counting pass).
#include "test_support.h"
#include "tree/exclude.h"

namespace {
const ReportSection ScreenForm = {ScreenHeader, WalkScreenTree, ScreenFooter};

std::string Rule(bool waste = true, bool percent = true, bool files = true, char h = '-') {
  std::string r(14, h);
  if (waste) r += "  " + std::string(percent ? 4 : 14, h);
  if (files) r += "  " + std::string(5, h);
  return r + "  " + std::string(40, h);
}

class ScreenReport : public Isolated {
 protected:
  void SetUp() override {
    TreeChars = PlainTreeChars;
    ShowWaste = WasteAsPercent = ShowFiles = true;
    ThousandsSeparator = ',';
  }
  void TearDown() override { ReleaseRoot(); }

  // The DATA tree: C:\DATA with Alpha and Beta, Beta with Gamma.
  void BuildExample() {
    BuildExampleTree("C:\\DATA");
    SetExampleFigures();
  }

  // One pass of `count` lines from line `first` of a report of `total` lines.
  std::vector<std::string> Pass(int32_t first, int32_t count, int32_t total) {
    Capture out;
    StartPass(first, count);
    ScreenHeader(TestRun);
    WalkScreenTree(TestRun);
    ScreenFooter(TestRun, total);
    return out.Lines();
  }

  std::vector<std::string> Whole() {
    int32_t total = CountReportLines(ScreenForm, TestRun);
    return Pass(0, total, total);
  }
};

const std::vector<std::string> ExampleLines = {
    " Total-no subs  Wstd  Files  Directory name   [dir + subdirs total]",
    Rule(),
    "        12,288   50%      2  C:\\DATA   [2,957,312]",
    "     1,236,992    1%     42  |--Alpha",
    "       503,808    8%      7  +--Beta   [1,708,032]",
    "     1,204,224    0%      3     +--Gamma",
    Rule(),
    "     2,957,312    2%     54  Cluster size: 4,096  Wastage: 60,489",
    Rule(),
    "",
    "Drive C: statistics:",
    "   Cluster size:         32,768 bytes",
    "     Free space:  1,073,741,824 bytes ( 50% of capacity is free)",
    "     Used space:  1,073,414,144 bytes",
    "       Capacity:  2,147,155,968 bytes",
};
}  // namespace

TEST_F(ScreenReport, DataTreeLineForLine) {
  BuildExample();
  EXPECT_EQ(CountReportLines(ScreenForm, TestRun), 15);
  EXPECT_EQ(Whole(), ExampleLines);
}

TEST_F(ScreenReport, DataTreeThroughTheStraightPass) {
  BuildExample();
  PagingEnabled = false;
  Capture out;
  RunReport(ScreenForm, TestRun);
  EXPECT_EQ(out.Lines(), ExampleLines);
}

TEST_F(ScreenReport, NumberFormSwapsTheTwoWastageFigures) {
  BuildExample();
  WasteAsPercent = false;
  std::vector<std::string> l = Whole();
  ASSERT_EQ(l.size(), 15u);
  EXPECT_EQ(l[0], " Total-no subs    Wasted space  Files  Directory name   [dir + subdirs total]");
  EXPECT_EQ(l[1], Rule(true, false));
  EXPECT_EQ(l[2], "        12,288           6,144      2  C:\\DATA   [2,957,312]");
  EXPECT_EQ(l[5], "     1,204,224           2,000      3     +--Gamma");
  EXPECT_EQ(l[7], "     2,957,312          60,489     54  Cluster size: 4,096  Wastage:   2%");
  EXPECT_EQ(l[6], Rule(true, false));
}

TEST_F(ScreenReport, WithoutWasteAndFilesOnlySizeAndTreeRemain) {
  BuildExample();
  ShowWaste = false;
  ShowFiles = false;
  std::vector<std::string> l = Whole();
  ASSERT_EQ(l.size(), 15u);
  EXPECT_EQ(l[0], " Total-no subs  Directory name   [dir + subdirs total]");
  EXPECT_EQ(l[1], Rule(false, true, false));
  EXPECT_EQ(l[2], "        12,288  C:\\DATA   [2,957,312]");
  EXPECT_EQ(l[4], "       503,808  +--Beta   [1,708,032]");
  // The totals line keeps its "Wastage:" figure in the form the column would not show.
  EXPECT_EQ(l[7], "     2,957,312  Cluster size: 4,096  Wastage: 60,489");
}

TEST_F(ScreenReport, WithoutWasteButWithFiles) {
  BuildExample();
  ShowWaste = false;
  std::vector<std::string> l = Whole();
  EXPECT_EQ(l[0], " Total-no subs  Files  Directory name   [dir + subdirs total]");
  EXPECT_EQ(l[3], "     1,236,992     42  |--Alpha");
}

TEST_F(ScreenReport, GraphicCharactersDrawTheTreeAndTheRules) {
  BuildExample();
  TreeChars = GraphicTreeChars;
  std::vector<std::string> l = Whole();
  EXPECT_EQ(l[1], Rule(true, true, true, '\xC4'));
  EXPECT_EQ(l[3], "     1,236,992    1%     42  \xC3\xC4\xC4" "Alpha");
  EXPECT_EQ(l[4], "       503,808    8%      7  \xC0\xC4\xC4" "Beta   [1,708,032]");
  EXPECT_EQ(l[5], "     1,204,224    0%      3     \xC0\xC4\xC4" "Gamma");
}

TEST_F(ScreenReport, ProbesWriteNothingAndGiveTheirLineCounts) {
  BuildExample();
  Capture out;
  StartPass(-1, 0);
  EXPECT_EQ(ScreenHeader(TestRun), 2);
  EXPECT_EQ(ScreenFooter(TestRun, 0), 9);
  EXPECT_EQ(NoFooter(TestRun, 0), 0);
  EXPECT_EQ(out.text, "");
  EXPECT_EQ(PassNextLine(), -1);
}

TEST_F(ScreenReport, PassOfThreeLinesFromLineOne) {
  BuildExample();
  std::vector<std::string> l = Pass(1, 3, 15);
  EXPECT_EQ(l, (std::vector<std::string>{ExampleLines[1], ExampleLines[2], ExampleLines[3]}));
  EXPECT_EQ(PassNextLine(), 4);
  EXPECT_EQ(PassLinesLeft(), 0);
}

TEST_F(ScreenReport, EveryPassIsAnUnbrokenRunOfTheReport) {
  BuildExample();
  for (int first = 0; first < 15; ++first) {
    for (int count = 1; first + count <= 15; ++count) {
      std::vector<std::string> expect(ExampleLines.begin() + first,
                                      ExampleLines.begin() + first + count);
      EXPECT_EQ(Pass(first, count, 15), expect) << "from " << first << ", " << count << " lines";
      EXPECT_EQ(PassLinesLeft(), 0);
    }
  }
}

TEST_F(ScreenReport, PassBeyondTheEndStopsAfterTheLastLine) {
  BuildExample();
  std::vector<std::string> l = Pass(13, 10, 15);
  EXPECT_EQ(l, (std::vector<std::string>{ExampleLines[13], ExampleLines[14]}));
}

TEST_F(ScreenReport, PassOfNoLinesWritesNothing) {
  BuildExample();
  EXPECT_TRUE(Pass(0, 0, 15).empty());
  EXPECT_TRUE(Pass(3, 0, 15).empty());
}

TEST_F(ScreenReport, PassFromTheMiddleDrawsTheRightIndentation) {
  // root
  // |--a          (has a later sibling: its descendants hang under a vertical bar)
  // |  |--a1
  // |  |  +--a1x
  // |  +--a2
  // +--b          (last child: its descendants are indented with blanks)
  //    +--b1
  //       +--b1x
  ResetRoot("/r");
  DirNode* a = AddChild(&RootNode, NewNode("a", 1));
  DirNode* a1 = AddChild(a, NewNode("a1", 1));
  AddChild(a1, NewNode("a1x", 1));
  AddChild(a, NewNode("a2", 1));
  DirNode* b = AddChild(&RootNode, NewNode("b", 1));
  DirNode* b1 = AddChild(b, NewNode("b1", 1));
  AddChild(b1, NewNode("b1x", 1));
  ShowWaste = ShowFiles = false;
  const std::string size = "             1  ";
  const std::vector<std::string> tree = {
      "|--a", "|  |--a1", "|  |  +--a1x", "|  +--a2", "+--b", "   +--b1", "      +--b1x"};
  int32_t total = CountReportLines(ScreenForm, TestRun);
  EXPECT_EQ(total, 2 + 8 + 9);
  for (int i = 0; i < (int)tree.size(); ++i) {
    std::vector<std::string> l = Pass(3 + i, 1, total);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0], size + tree[i]) << "line " << 3 + i;
  }
  // A pass that ends inside a deep branch must not leave its indentation behind for the next.
  Pass(4, 1, total);
  EXPECT_EQ(Pass(7, 1, total)[0], size + tree[4]);
}

TEST_F(ScreenReport, RootLineHasNoConnectorAndNoBracketWithoutSubdirectorySizes) {
  ResetRoot("/empty");
  RootNode.localSize = 4096;
  RootNode.wastage = 4032;
  std::vector<std::string> l = Whole();
  ASSERT_EQ(l.size(), 12u);
  EXPECT_EQ(l[2], "         4,096   98%      0  /empty");
}

TEST_F(ScreenReport, PercentColumnLimits) {
  ResetRoot("/r");
  AddChild(&RootNode, NewNode("nothing", 0, 0, 0));
  AddChild(&RootNode, NewNode("allwaste", 4096, 1, 4096));
  std::vector<std::string> l = Whole();
  EXPECT_EQ(l[3], "             0    0%      0  |--nothing");
  EXPECT_EQ(l[4], "         4,096  100%      1  +--allwaste");
}

TEST_F(ScreenReport, WideFiguresPushTheLineRight) {
  ResetRoot("/r");
  RootNode.fileCount = 100000;
  RootNode.localSize = 1000000000000000;
  RootNode.wastage = 1;
  std::vector<std::string> l = Whole();
  EXPECT_EQ(l[2], "1,000,000,000,000,000    0%  100,000  /r");
}

TEST_F(ScreenReport, FooterShowsZeroCapacityAsZeroPercent) {
  ResetRoot("/r");
  TestRun.drive.freeBytes = 0;
  TestRun.drive.totalBytes = 0;
  TestRun.drive.cluster = 0;
  TestRun.drive.label = BMake("/mnt/x");
  ClusterSize = 1;
  std::vector<std::string> l = Whole();
  ASSERT_EQ(l.size(), 12u);
  EXPECT_EQ(l[7], "Drive /mnt/x: statistics:");
  EXPECT_EQ(l[9], "     Free space:              0 bytes (0% of capacity is free)");
  EXPECT_EQ(l[4], "             0    0%      0  Cluster size: 1  Wastage: 0");
}

TEST_F(ScreenReport, DeepTreesKeepTheirPrefixWithinBounds) {
  ResetRoot("/r");
  DirNode* at = &RootNode;
  for (int i = 0; i < 100; ++i) {
    at = AddChild(at, NewNode("d", 0));
  }
  ShowWaste = ShowFiles = false;
  std::vector<std::string> l = Whole();
  ASSERT_EQ(l.size(), 2u + 101 + 9);
  // 14 size characters, two blanks, at most 255 of prefix, the connector and the name.
  EXPECT_EQ(l[2 + 100].size(), 14u + 255 + 3 + 1);
  EXPECT_EQ(l[2 + 85].size(), 14u + 2 + 84 * 3 + 3 + 1);
}

// The counting pass must not write a line even for a tree of more than a million directories.
TEST_F(ScreenReport, CountingWritesNothingForAMillionDirectories) {
  ResetRoot("/big");
  const int n = 1048576 + 4;
  DirNode* list = nullptr;
  for (int i = 0; i < n; ++i) MakeNode("x", 1, &list);
  RootNode.firstChild = list;
  Capture out;
  EXPECT_EQ(CountReportLines(ScreenForm, TestRun), 2 + 1 + n + 9);
  EXPECT_EQ(out.text, "");
  EXPECT_EQ(PassNextLine(), 0);
}

TEST_F(ScreenReport, UnitsReplaceByteCountsInTheSameColumns) {
  // Columns, brackets and footer totals in units; the file counts, the cluster size and the
  // drive's statistics stay as they were.
  BuildExample();
  ShowUnits = true;
  std::vector<std::string> l = Whole();
  ASSERT_EQ(l.size(), 15u);
  EXPECT_EQ(l[0], ExampleLines[0]);
  EXPECT_EQ(l[2], "        12.0 K   50%      2  C:\\DATA   [2.8 M]");
  EXPECT_EQ(l[3], "         1.2 M    1%     42  |--Alpha");
  EXPECT_EQ(l[4], "       492.0 K    8%      7  +--Beta   [1.6 M]");
  EXPECT_EQ(l[5], "         1.1 M    0%      3     +--Gamma");
  EXPECT_EQ(l[7], "         2.8 M    2%     54  Cluster size: 4,096  Wastage: 59.1 K");
  for (int i = 8; i < 15; ++i) EXPECT_EQ(l[i], ExampleLines[i]) << i;
  WasteAsPercent = false;
  l = Whole();
  EXPECT_EQ(l[2], "        12.0 K           6.0 K      2  C:\\DATA   [2.8 M]");
  EXPECT_EQ(l[3], "         1.2 M          12.1 K     42  |--Alpha");
  EXPECT_EQ(l[7], "         2.8 M          59.1 K     54  Cluster size: 4,096  Wastage:   2%");
}

TEST_F(ScreenReport, FooterCountsExcludedDirectoriesAndFilesWhenPatternsWereGiven) {
  BuildExample();
  ClearExclusions(false, true);
  AddExclusion("x", 1);
  TestRun.outcome.excluded = 1234;
  TestRun.outcome.excludedFiles = 1;
  std::vector<std::string> l = Whole();
  EXPECT_EQ(CountReportLines(ScreenForm, TestRun), 16);
  ASSERT_EQ(l.size(), 16u);
  EXPECT_EQ(l[9], "Excluded: 1,234 directories, 1 file");
  EXPECT_EQ(l[10], "");
  EXPECT_EQ(l[11], "Drive C: statistics:");
  EXPECT_EQ(l[15], ExampleLines[14]);
  // A pass that starts inside the footer writes the lines it asks for.
  EXPECT_EQ(Pass(9, 3, 16), (std::vector<std::string>{l[9], l[10], l[11]}));
  // Patterns that matched nothing still say so.
  TestRun.outcome.excluded = TestRun.outcome.excludedFiles = 0;
  EXPECT_EQ(Whole()[9], "Excluded: 0 directories, 0 files");
  ClearExclusions(false, false);
  EXPECT_EQ(Whole(), ExampleLines);
  // A saved scan's marks say neither, so they are counted apart, also without patterns.
  SavedScans.fromDump = true;
  SavedScans.noDrive = true;
  TestRun.outcome.excluded = 1;
  TestRun.outcome.excludedListed = 2;
  EXPECT_EQ(Whole()[9], "Excluded: 1 directory, 0 files; 2 entries left out in the saved scan");
}

TEST_F(ScreenReport, LargestListsFollowTheFooterAsTheReportsOwnLines) {
  // The lists are lines of the report: counted, and written by any pass that reaches them, so
  // the scroller pages to them as to the tree.
  BuildExample();
  SetRowPath(B("C:\\DATA"));
  StartTopList(&LargestAnywhere.files, 3);
  StartTopList(&LargestAnywhere.dirs, 3);
  // Paths below the start as the builder keeps them, in this build's separator; the rows spell
  // them with the start path's own (a saved scan made on Windows, read on Linux).
  std::string beta = std::string("Beta") + PathSeparator;
  OfferTop(&LargestAnywhere.files, 1200000, beta.data(), 5, "big.iso", 7);
  OfferTop(&LargestAnywhere.files, 5000, "", 0, "a\x01" "b", 3);
  for (const DirNode* n : {RootNode.firstChild, RootNode.firstChild->nextSibling})
    OfferTop(&LargestAnywhere.dirs, n->localSize, NameText(n), NameLength(n), "", 0);
  OfferTop(&LargestAnywhere.dirs, RootNode.localSize, "", 0, "", 0);
  SortTopList(&LargestAnywhere.files);
  SortTopList(&LargestAnywhere.dirs);
  std::vector<std::string> expect = ExampleLines;
  for (const char* line : {"", "Largest files:", "     1,200,000  C:\\DATA\\Beta\\big.iso",
                           "         5,000  C:\\DATA\\a\x01" "b", "",
                           "Directories holding the most bytes of their own:",
                           "     1,236,992  C:\\DATA\\Alpha", "       503,808  C:\\DATA\\Beta",
                           "        12,288  C:\\DATA\\"})
    expect.push_back(line);
  EXPECT_EQ(CountReportLines(ScreenForm, TestRun), 24);
  ASSERT_EQ(Whole(), expect);
  for (int first = 12; first < 24; ++first)
    for (int count = 1; first + count <= 24; ++count)
      EXPECT_EQ(Pass(first, count, 24),
                std::vector<std::string>(expect.begin() + first, expect.begin() + first + count))
          << "from " << first << ", " << count << " lines";
  ShowUnits = true;
  EXPECT_EQ(Whole()[17], "         1.1 M  " + expect[17].substr(16));
  // A list with nothing in it says so.
  ShowUnits = false;
  StartTopList(&LargestAnywhere.files, 3);
  EXPECT_EQ(CountReportLines(ScreenForm, TestRun), 23);
  EXPECT_EQ(Whole()[17], "          none");
}

TEST_F(ScreenReport, NamesOnATerminalHaveTheirControlCharactersMaskedAndFilesGetTheBytes) {
  // A name could otherwise recolour the terminal (ESC [31m), move its cursor or retitle it;
  // CSI also comes as U+009B, two bytes in UTF-8, or as the lone byte 0x9B.
  const std::string name =
      "a\x1b[31m\x07\x7f\xC2\x9B"
      "1m\x9B\xC3\xA9\xC2\xA0z";
  BuildExample();
  AddChild(&RootNode, NewNode(name));
  TextIsUtf8 = true;
  OutputIsTerminal = true;
  EXPECT_EQ(Whole()[6], std::string(13, ' ') + "0    0%      0  +--a?[31m???1m?\xC3\xA9\xC2\xA0z");
  OutputIsTerminal = false;
  EXPECT_EQ(Whole()[6], std::string(13, ' ') + "0    0%      0  +--" + name);
  // In a one-byte code page 0x80 to 0x9F are letters (0x9B is the cent sign of code page 437).
  OutputIsTerminal = true;
  TextIsUtf8 = false;
  EXPECT_EQ(Whole()[6], std::string(13, ' ') +
                            "0    0%      0  +--a?[31m??\xC2\x9B"
                            "1m\x9B\xC3\xA9\xC2\xA0z");
}
