// The two database forms on hand-built trees: the DATA tree byte for byte, the paths of
// the rows (root, drive roots, merged directories, passes that start in the middle), and the
// rows shown through the scroller. Then the two exports of the whole tree, the JSON document
// and the data of the page.
#include "report/database.h"

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>

#include "report/html.h"
#include "report/json.h"
#include "test_support.h"
#include "tree/exclude.h"

namespace {
const ReportSection TabSection = {TabHeader, WalkTabTree, NoFooter};
const ReportSection CommaSection = {CommaHeader, WalkCommaTree, NoFooter};
const ReportSection CsvSection = {CsvHeader, WalkCsvTree, NoFooter};

// A Windows-style path in this build's separator.
std::string P(std::string path) {
  for (char& c : path)
    if (c == '\\') c = PathSeparator;
  return path;
}

// The rows of a database report: both forms end every line with CR LF on every build.
std::vector<std::string> Rows(const std::string& text) {
  std::vector<std::string> rows;
  size_t start = 0, at;
  while ((at = text.find("\r\n", start)) != std::string::npos) {
    rows.push_back(text.substr(start, at - start));
    start = at + 2;
  }
  EXPECT_EQ(start, text.size()) << "text after the last line end";
  return rows;
}

class Database : public Isolated {
 protected:
  PathStr rowPath = CurrentRowPath();
  void SetUp() override { PagingEnabled = false; }
  void TearDown() override {
    ReleaseRoot();
    SetRowPath(rowPath);
  }

  // The DATA tree: C:\DATA with Alpha and Beta, Beta with Gamma.
  void BuildExample() {
    BuildExampleTree(P("C:\\DATA"));
    SetRowPath(BMake(NameText(&RootNode), NameLength(&RootNode)));
  }

  std::string Report(const ReportSection& s) {
    Capture out;
    RunReport(s, TestRun);
    return out.text;
  }

  // One pass of `count` lines from line `first`.
  std::string Pass(const ReportSection& s, int32_t first, int32_t count) {
    Capture out;
    StartPass(first, count);
    s.header(TestRun);
    s.walker(TestRun);
    s.footer(TestRun, 0);
    return out.text;
  }
};
}  // namespace

// clang-format off
TEST_F(Database, DataTreeCommaFormByteForByte) {
  BuildExample();
  EXPECT_EQ(Report(CommaSection),
            "\"Total-no subs\",\"Wasted space\",\"Dir+SubDirs\",\"Directory name\"\r\n"
            "\r\n"
            "12288,6144,2957312,\"" + P("C:\\DATA\\") + "\"\r\n"
            "1236992,12345,1236992,\"" + P("C:\\DATA\\Alpha") + "\"\r\n"
            "503808,40000,1708032,\"" + P("C:\\DATA\\Beta") + "\"\r\n"
            "1204224,2000,1204224,\"" + P("C:\\DATA\\Beta\\Gamma") + "\"\r\n");
}

TEST_F(Database, DataTreeFixedFormByteForByte) {
  BuildExample();
  EXPECT_EQ(Report(TabSection),
            "\"Total-no subs\"\t\"Wasted space\"\t \"Dir+SubDirs\"\t\"Directory name\"\r\n"
            "\r\n"
            "         12288\t          6144\t       2957312\t\"" + P("C:\\DATA\\") + "\"\r\n"
            "       1236992\t         12345\t       1236992\t\"" + P("C:\\DATA\\Alpha") + "\"\r\n"
            "        503808\t         40000\t       1708032\t\"" + P("C:\\DATA\\Beta") + "\"\r\n"
            "       1204224\t          2000\t       1204224\t\"" +
                P("C:\\DATA\\Beta\\Gamma") + "\"\r\n");
}

// clang-format on

TEST_F(Database, HeadersProbeAsTwoLinesAndTheReportCountsOneRowPerDirectory) {
  BuildExample();
  StartPass(-1, 0);
  Capture out;
  EXPECT_EQ(TabHeader(TestRun), 2);
  EXPECT_EQ(CommaHeader(TestRun), 2);
  EXPECT_EQ(NoFooter(TestRun, 0), 0);
  EXPECT_TRUE(out.text.empty());
  EXPECT_EQ(CountReportLines(TabSection, TestRun), 6);
  EXPECT_EQ(CountReportLines(CommaSection, TestRun), 6);
  EXPECT_TRUE(out.text.empty());
}

TEST_F(Database, DirectoryWithoutSubdirectoriesGivesOneRowEndingInTheSeparator) {
  ResetRoot(P("C:\\EMPTY"));
  RootNode.localSize = 4096;
  RootNode.wastage = 4000;
  SetRowPath(BMake(NameText(&RootNode), NameLength(&RootNode)));
  EXPECT_EQ(Report(CommaSection),
            "\"Total-no subs\",\"Wasted space\",\"Dir+SubDirs\",\"Directory name\"\r\n\r\n"
            "4096,4000,4096,\"" +
                P("C:\\EMPTY\\") + "\"\r\n");
}

TEST_F(Database, RowPathKeepsASingleSeparatorOnARoot) {
  std::string sep(1, PathSeparator);
  SetRowPath(B(P("C:\\")));
  EXPECT_EQ(S(CurrentRowPath()), P("C:\\"));
  SetRowPath(B(sep));
  EXPECT_EQ(S(CurrentRowPath()), sep);
  SetRowPath(B(P("C:\\WORK\\")));  // "." expands with its separator already on
  EXPECT_EQ(S(CurrentRowPath()), P("C:\\WORK\\"));
  SetRowPath(B(P("C:\\WORK")));
  EXPECT_EQ(S(CurrentRowPath()), P("C:\\WORK\\"));

  ResetRoot(sep);
  AddChild(&RootNode, NewNode("home"));
  RootNode.subdirsSize = 1;
  SetRowPath(B(sep));
  std::string out = Report(CommaSection);
  EXPECT_NE(out.find(",\"" + sep + "\"\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find(",\"" + sep + "home\"\r\n"), std::string::npos) << out;
}

TEST_F(Database, CommasStayAndQuotesAreDoubledInBothForms) {
  // A quote inside the quoted path would end the field early for a CSV reader or a tab
  // importer, which then merges the row with the next.
  ResetRoot(P("C:\\D"));
  AddChild(&RootNode, NewNode("a,b \"c\""));
  SetRowPath(B(P("C:\\D")));
  std::vector<std::string> comma = Rows(Report(CommaSection));
  ASSERT_EQ(comma.size(), 4u);
  EXPECT_EQ(comma[3], "0,0,0,\"" + P("C:\\D\\") + "a,b \"\"c\"\"\"");
  SetRowPath(B(P("C:\\D")));
  std::vector<std::string> tab = Rows(Report(TabSection));
  ASSERT_EQ(tab.size(), 4u);
  EXPECT_EQ(tab[3], std::string(13, ' ') + "0\t" + std::string(13, ' ') + "0\t" +
                        std::string(13, ' ') + "0\t\"" + P("C:\\D\\") + "a,b \"\"c\"\"\"");
}

TEST_F(Database, CountsAreDecimalWithoutSeparatorsAndWidenTheirField) {
  ThousandsSeparator = '.';
  ResetRoot(P("C:\\BIG"));
  RootNode.localSize = 123456789012345678LL;  // 18 digits: wider than 14
  RootNode.wastage = -5;
  SetRowPath(B(P("C:\\BIG")));
  std::vector<std::string> tab = Rows(Report(TabSection));
  ASSERT_EQ(tab.size(), 3u);
  EXPECT_EQ(tab[2],
            "123456789012345678\t            -5\t123456789012345678\t\"" + P("C:\\BIG\\") + "\"");
}

TEST_F(Database, DisplaySwitchesDoNotChangeTheRows) {
  BuildExample();
  std::string plain = Report(TabSection);
  ShowWaste = false;
  WasteAsPercent = false;
  ShowFiles = false;
  TreeChars = GraphicTreeChars;
  EXPECT_EQ(Report(TabSection), plain);
}

TEST_F(Database, PassFromTheMiddleRebuildsTheRowPath) {
  BuildExample();
  EXPECT_EQ(Pass(TabSection, 5, 1), "       1204224\t          2000\t       1204224\t\"" +
                                        P("C:\\DATA\\Beta\\Gamma") + "\"\r\n");
  EXPECT_EQ(S(CurrentRowPath()), P("C:\\DATA\\")) << "a pass that stops inside a subtree cuts RowPath back";
  EXPECT_EQ(Pass(CommaSection, 1, 2), "\r\n12288,6144,2957312,\"" + P("C:\\DATA\\") + "\"\r\n");
  EXPECT_EQ(Pass(CommaSection, 0, 1),
            "\"Total-no subs\",\"Wasted space\",\"Dir+SubDirs\",\"Directory name\"\r\n")
      << "a budget of one line writes the title line only";
  EXPECT_EQ(S(CurrentRowPath()), P("C:\\DATA\\"));
}

TEST_F(Database, PathsBelowAMergedDirectoryUseItsRealName) {
  // Beta received the figures of a folded subdirectory and carries the marker; its own row
  // shows the name as the tree holds it, the rows below it the real path.
  BuildExample();
  DirNode* beta = RootNode.firstChild->nextSibling;
  MarkMerged(beta);
  std::vector<std::string> lines = Rows(Report(CommaSection));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[4], "503808,40000,1708032,\"" + P("C:\\DATA\\Beta ...") + "\"");
  EXPECT_EQ(lines[5], "1204224,2000,1204224,\"" + P("C:\\DATA\\Beta\\Gamma") + "\"");
}

TEST_F(Database, RowPathStaysWithinThePathBudget) {
  // Enough levels of 200-byte names to pass this build's budget (255 or 4095 bytes).
  std::string longName(200, 'n');
  ResetRoot(P("C:\\R"));
  DirNode* parent = &RootNode;
  std::string full = P("C:\\R\\");
  int levels = PathBudget / 201 + 2;
  for (int i = 0; i < levels; ++i) {
    parent = AddChild(parent, NewNode(longName));
    if (i < levels - 1) full += longName + PathSeparator;
  }
  AddChild(parent, NewNode("leaf"));
  SetRowPath(B(P("C:\\R")));
  std::vector<std::string> lines = Rows(Report(CommaSection));
  ASSERT_EQ(lines.size(), 3u + levels + 1);
  // A row is RowPath and its name written in pieces; RowPath itself is cut at the budget and
  // one separator.
  EXPECT_EQ(lines[3], "0,0,0,\"" + P("C:\\R\\") + longName + "\"");
  EXPECT_EQ(lines.back(), "0,0,0,\"" + (full + longName + PathSeparator).substr(0, PathBudget + 1) + "leaf\"");
  EXPECT_EQ(S(CurrentRowPath()), P("C:\\R\\"));
}

namespace {
std::deque<KeyPress> Keys;  // the scripted keyboard's keys
KeyPress ScriptedKey() {
  if (Keys.empty()) {
    KeyReadFailed = true;
    return KeyPress{0, ScanEnd};
  }
  KeyPress k = Keys.front();
  Keys.pop_front();
  return k;
}
void NoClear() {}
}  // namespace

TEST_F(Database, RowsThroughTheScrollerAreTheSameWhateverTheToggles) {
  BuildExample();
  std::string straight = Report(TabSection);
  PagingEnabled = true;
  ScreenLastRow = 24;
  Keyboard = KeyboardSource{ScriptedKey, NoClear};
  Keys = {KeyPress{'W', 0}, KeyPress{'d', 0}, KeyPress{'F', 0},
          KeyPress{'A', 0}, KeyPress{'u', 0}, KeyPress{' ', 0}};
  std::string shown = Report(TabSection);
  EXPECT_TRUE(Keys.empty());
  // Every page is the whole six-line report followed by the status line at 100%.
  std::string status =
      "100% Up,Down,PgUp,PgDn,Home,End [W]aste:[D]isplay [F]iles [A]scii [U]nits [Esc]";
  std::string erase = std::string(79, '\b') + std::string(79, ' ') + std::string(79, '\b');
  std::string expected = straight + status;
  for (int i = 0; i < 5; ++i) expected += erase + straight + status;
  EXPECT_EQ(shown, expected + erase);
}

// The CSV export: one header line, rows with the file count, LF line ends, quotes only where a
// field needs them.
TEST_F(Database, CsvExportOfTheDataTree) {
  BuildExample();
  EXPECT_EQ(CountReportLines(CsvSection, TestRun), 5);
  EXPECT_EQ(Report(CsvSection),
            "own_bytes,wasted_bytes,total_bytes,files,path\n"
            "12288,6144,2957312,2," +
                P("C:\\DATA\\") +
                "\n"
                "1236992,12345,1236992,42," +
                P("C:\\DATA\\Alpha") +
                "\n"
                "503808,40000,1708032,7," +
                P("C:\\DATA\\Beta") +
                "\n"
                "1204224,2000,1204224,3," +
                P("C:\\DATA\\Beta\\Gamma") + "\n");
}

TEST_F(Database, CsvQuotesAPathThatHoldsACommaAQuoteOrALineEnd) {
  // Any of them unquoted would split the row or the field for a CSV reader.
  ResetRoot(P("C:\\D"));
  for (const char* name : {"a,b", "say \"hi\"", "two\nlines", "cr\rhere", "plain name"})
    AddChild(&RootNode, NewNode(name));
  SetRowPath(B(P("C:\\D")));
  std::string root = P("C:\\D\\");
  std::string text = Report(CsvSection);
  EXPECT_EQ(text,
            "own_bytes,wasted_bytes,total_bytes,files,path\n"
            "0,0,0,0," +
                root +
                "\n"
                "0,0,0,0,\"" +
                root +
                "a,b\"\n"
                "0,0,0,0,\"" +
                root +
                "say \"\"hi\"\"\"\n"
                "0,0,0,0,\"" +
                root +
                "two\nlines\"\n"
                "0,0,0,0,\"" +
                root +
                "cr\rhere\"\n"
                "0,0,0,0," +
                root + "plain name\n");
  // A comma in the start directory quotes every row below it.
  ReleaseRoot();
  ResetRoot(P("C:\\x,y"));
  AddChild(&RootNode, NewNode("sub"));
  SetRowPath(B(P("C:\\x,y")));
  EXPECT_EQ(Rows(Report(CommaSection)).size(), 4u);
  SetRowPath(B(P("C:\\x,y")));
  EXPECT_NE(Report(CsvSection).find(",\"" + P("C:\\x,y\\sub") + "\"\n"), std::string::npos);
}

TEST_F(Database, ExcelQuotesByItsOwnSeparatorAndAPassFromTheMiddleHasNoMark) {
  // A separator of several bytes (Arabic's) is one; the comma is then no reason to quote.
  const ReportSection excel = {ExcelHeader, WalkExcelTree, NoFooter};
  ResetRoot(P("C:\\D"));
  for (const char* name : {"a,b", "x\xd8\x9by"}) AddChild(&RootNode, NewNode(name));
  SetRowPath(B(P("C:\\D")));
  SetListSeparator("\xd8\x9b", 2);
  std::string root = P("C:\\D\\"), s = "\xd8\x9b";
  EXPECT_EQ(Report(excel), "\xEF\xBB\xBFown_bytes" + s + "wasted_bytes" + s + "total_bytes" + s +
                               "files" + s + "path\r\n0" + s + "0" + s + "0" + s + "0" + s + root +
                               "\r\n0" + s + "0" + s + "0" + s + "0" + s + root + "a,b\r\n0" + s +
                               "0" + s + "0" + s + "0" + s + "\"" + root + "x" + s + "y\"\r\n");
  SetListSeparator("", 0);
  EXPECT_EQ(Pass(excel, 1, 1), "0,0,0,0," + root + "\r\n");
  // -csv keeps its comma and LF after -excel.
  EXPECT_EQ(Pass(CsvSection, 2, 1), "0,0,0,0,\"" + root + "a,b\"\n");
}

TEST_F(Database, CsvOfTheLargestIsTheirRowsAloneFilesFirstQuotedAsTheExportQuotes) {
  // -csv -top=N: kind, bytes and the path as the rows spell it, through the same protocol (a
  // page of the scroller starts anywhere), whatever tree the walker is started with.
  BuildExample();
  const ReportSection top = {TopCsvHeader, WalkTopCsvRows, NoFooter};
  StartTopList(&LargestAnywhere.files, 2);
  StartTopList(&LargestAnywhere.dirs, 2);
  std::string beta = std::string("Beta") + PathSeparator;
  OfferTop(&LargestAnywhere.files, 10, beta.data(), 5, "a,b", 3);
  OfferTop(&LargestAnywhere.files, 30, "", 0, "say \"hi\"", 8);
  OfferTop(&LargestAnywhere.files, 20, "", 0, "plain", 5);
  OfferTop(&LargestAnywhere.dirs, 12288, "", 0, "", 0);
  SortTopList(&LargestAnywhere.files);
  SortTopList(&LargestAnywhere.dirs);
  EXPECT_EQ(CountReportLines(top, TestRun), 4);
  std::string text = Report(top);
  EXPECT_EQ(text, "kind,bytes,path\n"
                  "file,30,\"" + P("C:\\DATA\\") + "say \"\"hi\"\"\"\n"
                  "file,20," + P("C:\\DATA\\plain") + "\n"
                  "dir,12288," + P("C:\\DATA\\") + "\n");
  EXPECT_EQ(Pass(top, 2, 2), "file,20," + P("C:\\DATA\\plain") + "\ndir,12288," +
                                 P("C:\\DATA\\") + "\n");
  // Pushed out by larger ones, the comma's path never shows; with room, it is quoted.
  StartTopList(&LargestAnywhere.files, 5);
  OfferTop(&LargestAnywhere.files, 10, beta.data(), 5, "a,b", 3);
  EXPECT_NE(Report(top).find("file,10,\"" + P("C:\\DATA\\Beta\\a,b") + "\"\n"),
            std::string::npos);
}

namespace {
// The document's lines, and the figures of the footer it carries.
class Json : public Database {
 protected:
  void SetUp() override {
    Database::SetUp();
    SetExampleFigures();
    TestRun.settings = BuildSettings{false, INT32_MAX, 0, NAME, true, 4096, 4096, false};
    TestRun.outcome.excluded = 0;
    TestRun.outcome.unreadable = 0;
    ClearExclusions(false, true);
  }
  void TearDown() override {
    ClearExclusions(false, false);
    Database::TearDown();
  }
  std::vector<std::string> Document() {
    Capture out;
    WriteJsonReport(TestRun, "9.8.7");
    std::vector<std::string> lines;
    size_t start = 0, at;
    while ((at = out.text.find('\n', start)) != std::string::npos) {
      lines.push_back(out.text.substr(start, at - start));
      start = at + 1;
    }
    EXPECT_EQ(start, out.text.size()) << "the document ends with its line end";
    return lines;
  }
  static bool StartsWith(const std::string& line, const std::string& start) {
    return line.compare(0, start.size(), start) == 0;
  }
  // A path as a JSON string holds it: a Windows separator doubled.
  static std::string Quoted(const std::string& path) {
    std::string q;
    for (char c : P(path)) q += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return q;
  }
};
}  // namespace

TEST_F(Json, DocumentOfTheDataTree) {
  BuildExample();
  RootNode.ownNameLength = (uint16_t)NameLength(&RootNode);
  TestRun.settings.maxDepth = 3;
  TestRun.settings.sortOrder = TOTAL;
  AddExclusion("node_modules", 12);
  TestRun.outcome.excluded = 2;
  std::vector<std::string> l = Document();
  ASSERT_EQ(l.size(), 12u);
  std::string head =
      "{\"quorvel\": \"9.8.7\", \"directory\": \"" + Quoted("C:\\DATA") + "\", \"created\": \"";
  ASSERT_EQ(l[0].compare(0, head.size(), head), 0) << l[0];
  // The time of creation: an ISO 8601 UTC time of 20 characters.
  std::string created = l[0].substr(head.size(), 20);
  EXPECT_EQ(created.size(), 20u);
  EXPECT_EQ(created[4], '-');
  EXPECT_EQ(created[10], 'T');
  EXPECT_EQ(created[19], 'Z');
  EXPECT_EQ(l[0].substr(head.size() + 20), "\", \"cluster\": 4096,");
  EXPECT_EQ(l[1],
            "\"options\": {\"depth\": 3, \"min_size\": 0, \"sort\": \"total\", "
            "\"listing_sizes\": false, \"exclude\": [\"node_modules\"]},");
  EXPECT_EQ(l[2],
            "\"drive\": {\"name\": \"C\", \"cluster\": 32768, \"free\": 1073741824, "
            "\"capacity\": 2147155968},");
  EXPECT_EQ(l[3],
            "\"totals\": {\"files\": 54, \"wasted\": 60489, \"excluded\": 2, \"excluded_files\": 0, "
            "\"unreadable\": 0},");
  EXPECT_EQ(l[4], "\"tree\":");
  EXPECT_EQ(l[5], "{\"name\": \"" + Quoted("C:\\DATA") +
                      "\", \"own\": 12288, \"wasted\": 6144, "
                      "\"files\": 2, \"total\": 2957312, \"merged\": false, \"children\": [");
  EXPECT_EQ(l[6],
            "{\"name\": \"Alpha\", \"own\": 1236992, \"wasted\": 12345, \"files\": 42, "
            "\"total\": 1236992, \"merged\": false, \"children\": []},");
  EXPECT_EQ(l[7],
            "{\"name\": \"Beta\", \"own\": 503808, \"wasted\": 40000, \"files\": 7, "
            "\"total\": 1708032, \"merged\": false, \"children\": [");
  EXPECT_EQ(l[8],
            "{\"name\": \"Gamma\", \"own\": 1204224, \"wasted\": 2000, \"files\": 3, "
            "\"total\": 1204224, \"merged\": false, \"children\": []}");
  EXPECT_EQ(l[9], "]}");
  EXPECT_EQ(l[10], "]}");
  EXPECT_EQ(l[11], "}");
}

TEST_F(Json, MergedNodesKeepTheirOwnNameAndSayTheyAreMerged) {
  // The marker is the screen's way of saying it; a reader gets the name and the flag, also
  // for a name that holds " ..." of its own.
  ResetRoot("R");
  RootNode.ownNameLength = 1;
  DirNode* beta = AddChild(&RootNode, NewNode("Beta"));
  DirNode* dots = AddChild(&RootNode, NewNode("x ... y"));
  MarkMerged(beta);
  MarkMerged(dots);
  MarkMerged(&RootNode);
  std::vector<std::string> l = Document();
  ASSERT_EQ(l.size(), 10u);
  EXPECT_TRUE(StartsWith(l[5], "{\"name\": \"R\", ")) << l[5];
  EXPECT_NE(l[5].find("\"merged\": true"), std::string::npos) << l[5];
  EXPECT_TRUE(StartsWith(l[6], "{\"name\": \"Beta\", ")) << l[6];
  EXPECT_NE(l[6].find("\"merged\": true"), std::string::npos);
  EXPECT_TRUE(StartsWith(l[7], "{\"name\": \"x ... y\", ")) << l[7];
  EXPECT_NE(l[7].find("\"merged\": true"), std::string::npos);
  EXPECT_NE(l[1].find("\"depth\": null"), std::string::npos) << "no depth limit";
}

TEST_F(Json, DirectoriesNotReadWholeSayItTheOthersCarryNoSuchField) {
  ResetRoot("R");
  RootNode.ownNameLength = 1;
  AddChild(&RootNode, NewNode("locked"))->readError = true;
  AddChild(&RootNode, NewNode("open"));
  TestRun.outcome.unreadable = 1;
  std::vector<std::string> l = Document();
  ASSERT_EQ(l.size(), 10u);
  EXPECT_NE(l[3].find("\"unreadable\": 1}"), std::string::npos) << l[3];
  EXPECT_EQ(l[5].find("read_error"), std::string::npos) << l[5];
  EXPECT_EQ(l[6],
            "{\"name\": \"locked\", \"own\": 0, \"wasted\": 0, \"files\": 0, \"total\": 0, "
            "\"merged\": false, \"read_error\": true, \"children\": []},");
  EXPECT_EQ(l[7].find("read_error"), std::string::npos) << l[7];
}

TEST_F(Json, NamesAreEscapedAndInvalidUtf8KeptInHexadecimal) {
  ResetRoot("R");
  AddChild(&RootNode, NewNode("q\"b\\n\nt\tc\x01"
                              "d\x7F"
                              "e\xC2\x85"
                              "caf\xC3\xA9 \xE6\x97\xA5"));
  AddChild(&RootNode, NewNode("bad\xFF\xC3(\"x"));
  std::vector<std::string> l = Document();
  ASSERT_EQ(l.size(), 10u);
  EXPECT_TRUE(StartsWith(l[6],
                         "{\"name\": \"q\\\"b\\\\n\\nt\\tc\\u0001d\\u007fe\\u0085caf\xC3\xA9 "
                         "\xE6\x97\xA5\", \"own\""))
      << l[6];
  EXPECT_TRUE(StartsWith(
      l[7], "{\"name\": \"bad\\ufffd\\ufffd(\\\"x\", \"name_hex\": \"626164ffc3282278\", "))
      << l[7];
}

TEST_F(Json, LargestListsComeBeforeTheTreeWithTheirPathsEscaped) {
  BuildExample();
  SetRowPath(B(P("C:\\DATA")));
  TestRun.outcome.excludedFiles = 3;
  StartTopList(&LargestAnywhere.files, 2);
  StartTopList(&LargestAnywhere.dirs, 2);
  OfferTop(&LargestAnywhere.files, 99, "", 0, "q\"\x01\xFF", 4);
  OfferTop(&LargestAnywhere.dirs, 5, "", 0, "", 0);
  OfferTop(&LargestAnywhere.dirs, 7, "Alpha", 5, "", 0);
  SortTopList(&LargestAnywhere.files);
  SortTopList(&LargestAnywhere.dirs);
  std::vector<std::string> l = Document();
  ASSERT_EQ(l.size(), 17u);
  EXPECT_NE(l[3].find("\"excluded_files\": 3"), std::string::npos) << l[3];
  EXPECT_EQ(l[4], "\"top\": {\"files\": [");
  EXPECT_EQ(l[5], "{\"bytes\": 99, \"path\": \"" + Quoted("C:\\DATA\\") +
                      "q\\\"\\u0001\\ufffd\", \"path_hex\": \"" +
                      (PathSeparator == '/' ? "433a2f444154412f" : "433a5c444154415c") +
                      "712201ff\"}],");
  EXPECT_EQ(l[6], "\"dirs\": [");
  EXPECT_EQ(l[7], "{\"bytes\": 7, \"path\": \"" + Quoted("C:\\DATA\\Alpha") + "\"},");
  EXPECT_EQ(l[8], "{\"bytes\": 5, \"path\": \"" + Quoted("C:\\DATA\\") + "\"}]},");
  EXPECT_EQ(l[9], "\"tree\":");
  // Empty lists are empty arrays.
  StartTopList(&LargestAnywhere.files, 2);
  StartTopList(&LargestAnywhere.dirs, 2);
  l = Document();
  EXPECT_EQ(l[4], "\"top\": {\"files\": [],");
  EXPECT_EQ(l[5], "\"dirs\": []},");
}

// ---- The page of -html -------------------------------------------------------------------

namespace {
// The growth the sample's seam gives each node.
std::map<const DirNode*, PageGrowth> SampleGrowth;
PageGrowth GrowthOfSample(const DirNode* n) {
  auto at = SampleGrowth.find(n);
  return at == SampleGrowth.end() ? PageGrowth{0, PageSame} : at->second;
}

class Page : public Json {
 protected:
  void TearDown() override {
    SampleGrowth.clear();
    Json::TearDown();
  }
  static std::string Write(PageGrowthOf growthOf = nullptr) {
    Capture out;
    WriteHtmlReport(TestRun, "9.8.7", growthOf);
    return out.text;
  }
  // The page's data block: what lies between its opening tag and the next "</script>".
  static std::string DataOf(const std::string& page) {
    const std::string open = "<script type=\"application/json\" id=\"tree-data\">";
    size_t start = page.find(open);
    EXPECT_NE(start, std::string::npos);
    start += open.size();
    return page.substr(start, page.find("</script>", start) - start);
  }
  // The line of the data that holds the array `key`.
  static std::string Column(const std::string& data, const std::string& key) {
    size_t at = data.find("\n\"" + key + "\":[");
    if (at == std::string::npos) return "";
    return data.substr(at + 1, data.find('\n', at + 1) - at - 1);
  }
  // A directory below parent with its own figures; its total is set by Totals.
  static DirNode* Dir(DirNode* parent, const std::string& name, int64_t own, int32_t files,
                      int64_t growth = 0, PageChange change = PageSame) {
    DirNode* d = AddChild(parent, NewNode(name, own, files, own / 20));
    if (growth != 0 || change != PageSame) SampleGrowth[d] = PageGrowth{growth, change};
    return d;
  }
  // Adds the growth below each directory to its own.
  static int64_t Growths(DirNode* n) {
    int64_t below = 0;
    for (DirNode* c = n->firstChild; c; c = c->nextSibling) below += Growths(c);
    PageGrowth& g = SampleGrowth[n];
    g.bytes += below;
    return g.bytes;
  }
  static int64_t Totals(DirNode* n) {
    n->subdirsSize = 0;
    for (DirNode* c = n->firstChild; c; c = c->nextSibling) n->subdirsSize += Totals(c);
    return NodeTotal(n);
  }
};
}  // namespace

TEST_F(Page, DataIsTheShownTreeInReportOrderOneColumnPerFigure) {
  BuildExample();
  SetExampleFigures();
  std::string page = Write();
  EXPECT_EQ(page.compare(0, 16, "<!DOCTYPE html>\n"), 0) << page.substr(0, 40);
  EXPECT_EQ(page.substr(page.size() - 8), "</html>\n");
  EXPECT_EQ(page.find('\r'), std::string::npos) << "LF on both builds";
  std::string data = DataOf(page);
  EXPECT_EQ(data.compare(0, 30, "{\"version\":\"9.8.7\",\"created\":\""), 0) << data.substr(0, 60);
  std::string separator = PathSeparator == '\\' ? "\\\\" : "/";
  EXPECT_NE(data.find(",\"separator\":\"" + separator +
                      "\",\"thousands\":\",\",\"cluster\":4096,\"waste\":true,\"files\":54,"),
            std::string::npos)
      << data.substr(0, 200);
  EXPECT_EQ(Column(data, "n"),
            "\"n\":[\"" + Quoted("C:\\DATA") + "\",\"Alpha\",\"Beta\",\"Gamma\"],");
  EXPECT_EQ(Column(data, "d"), "\"d\":[0,1,1,2],");
  EXPECT_EQ(Column(data, "t"), "\"t\":[2957312,1236992,1708032,1204224],");
  EXPECT_EQ(Column(data, "o"), "\"o\":[12288,1236992,503808,1204224],");
  EXPECT_EQ(Column(data, "w"), "\"w\":[6144,12345,40000,2000],");
  EXPECT_EQ(Column(data, "f"), "\"f\":[2,42,7,3],");
  EXPECT_EQ(Column(data, "m"), "\"m\":[]}");
  EXPECT_EQ(Column(data, "g"), "") << "no growth without a saved scan";
  EXPECT_EQ(Column(data, "c"), "");
}

TEST_F(Page, MergedDirectoriesKeepTheirRealNameForTheirPath) {
  ResetRoot("R");
  DirNode* beta = AddChild(&RootNode, NewNode("Beta"));
  AddChild(beta, NewNode("x ... y"));
  MarkMerged(beta);
  std::string data = DataOf(Write());
  EXPECT_EQ(Column(data, "n"), "\"n\":[\"R\",\"Beta\",\"x ... y\"],");
  EXPECT_EQ(Column(data, "m"), "\"m\":[1]}");
}

TEST_F(Page, NamesCannotCloseTheDataBlockOrBecomeMarkup) {
  // A name is data: "</script>" would end the block and run what follows, "<!--" would hide
  // the end of the block from the parser, U+2028 ends a line in older script parsers.
  ResetRoot("R");
  AddChild(&RootNode, NewNode("</script><script>document.title='pwned'</script>"));
  AddChild(&RootNode, NewNode("<!--<img src=x onerror=alert(1)>&amp;"));
  AddChild(&RootNode, NewNode("line\xE2\x80\xA8sep\xE2\x80\xA9 q\"b\\\x01\x7F\xC2\x85"));
  AddChild(&RootNode, NewNode("bad\xFF\xC3(caf\xC3\xA9"));
  std::string page = Write();
  std::string data = DataOf(page);
  EXPECT_EQ(
      Column(data, "n"),
      "\"n\":[\"R\","
      "\"\\u003c/script\\u003e\\u003cscript\\u003edocument.title='pwned'\\u003c/script\\u003e\","
      "\"\\u003c!--\\u003cimg src=x onerror=alert(1)\\u003e\\u0026amp;\","
      "\"line\\u2028sep\\u2029 q\\\"b\\\\\\u0001\\u007f\\u0085\","
      "\"bad\\ufffd\\ufffd(caf\xC3\xA9\"],");
  for (const char* markup : {"<", ">", "&", "\xE2\x80\xA8", "\xE2\x80\xA9"})
    EXPECT_EQ(data.find(markup), std::string::npos) << markup;
  // The block's own end and the script's: nothing else closes a script.
  size_t closes = 0;
  for (size_t at = page.find("</script>"); at != std::string::npos;
       at = page.find("</script>", at + 1))
    ++closes;
  EXPECT_EQ(closes, 2u);
  EXPECT_EQ(page.find("<!--"), std::string::npos);
}

TEST_F(Page, GrowthSampleWithHostileNames) {
  // A home directory compared with a saved scan, through the seam the run driver will fill:
  // grown, shrunk, new, gone and unchanged directories, and names that try to be markup. The
  // browser tests load this page: with QUORVEL_PAGE_SAMPLE set, it is written to that file.
  ResetRoot("/home/ada");
  RootNode.localSize = 48 << 10;
  RootNode.fileCount = 12;
  DirNode* projects = Dir(&RootNode, "projects", 4 << 10, 1);
  DirNode* quorvel = Dir(projects, "quorvel", 96 << 10, 14);
  Dir(quorvel, "src", 2 << 20, 61, 180 << 10);
  Dir(quorvel, "build", 38 << 20, 210, 38 << 20, PageNew);
  Dir(quorvel, ".git", 11 << 20, 930, 1 << 20);
  DirNode* site = Dir(projects, "website", 8 << 10, 3);
  Dir(site, "public", 6 << 20, 120);
  Dir(site, "old-site", 0, 0, -(9 << 20), PageGone);
  DirNode* cache = Dir(&RootNode, ".cache", 4 << 10, 0);
  Dir(cache, "chromium", 310 << 20, 1400, 120 << 20);
  Dir(cache, "pip", 22 << 20, 300, -(64 << 20));
  Dir(cache, "thumbnails", 5 << 20, 2100, -(1 << 20));
  DirNode* music = Dir(&RootNode, "Music", 4 << 10, 0);
  Dir(music, "Bach", 420 << 20, 96);
  Dir(music, "Coltrane", 260 << 20, 61);
  DirNode* pictures = Dir(&RootNode, "Pictures", 140 << 20, 380, 30 << 20);
  Dir(pictures, "2023", 610 << 20, 1200);
  Dir(pictures, "2024", 480 << 20, 800, 480 << 20, PageNew);
  Dir(&RootNode, "Videos", 1200 << 20, 14, 1200 << 20, PageNew);
  DirNode* hostile = Dir(&RootNode, "</script><script>document.title='pwned'</script>", 3 << 20, 2);
  Dir(hostile, "<img src=x onerror=\"document.title='pwned'\">", 2 << 20, 1, 1 << 20);
  Dir(&RootNode, "<!-- a comment", 5 << 20, 3, -(2 << 20));
  Dir(&RootNode, "line\xE2\x80\xA8sep", 4 << 20, 2, 0);
  Dir(&RootNode, std::string("bad\xFF") + "byte", 3 << 20, 2, 3 << 20, PageNew);
  Totals(&RootNode);
  Growths(&RootNode);
  TotalFiles = 7000;
  ThousandsSeparator = ',';

  std::string page = Write(GrowthOfSample);
  std::string data = DataOf(page);
  EXPECT_EQ(Column(data, "c"), "\"c\":[0,0,0,0,1,0,0,0,2,0,0,0,0,0,0,0,0,0,1,1,0,0,0,0,1]}");
  std::string growth = Column(data, "g");
  EXPECT_EQ(growth.compare(0, 5, "\"g\":["), 0) << growth;
  EXPECT_NE(growth.find(",-9437184,"), std::string::npos) << "the gone directory's former total";
  if (const char* file = std::getenv("QUORVEL_PAGE_SAMPLE")) {
    FILE* f = std::fopen(file, "wb");
    ASSERT_NE(f, nullptr) << file;
    EXPECT_EQ(std::fwrite(page.data(), 1, page.size(), f), page.size());
    std::fclose(f);
  }
}
