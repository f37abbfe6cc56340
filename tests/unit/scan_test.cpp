// Every rule of the scan, against the scripted file system: sizes in both modes, the entry-table
// charge, entry kinds, failures, the path budget, the depth limit, the minimum size and the
// sort order.
#include "fake_fs.h"
#include "test_support.h"
#include "tree/exclude.h"

namespace {
const char Sep = PathSeparator;
std::string Root() { return Sep == '/' ? "/data" : "C:\\DATA"; }
std::string DriveRoot() { return Sep == '/' ? "/" : "C:\\"; }

const DirNode* Child(const DirNode* parent, const std::string& name) {
  for (const DirNode* c = parent->firstChild; c; c = c->nextSibling)
    if (Name(c) == name) return c;
  return nullptr;
}

class ScanTest : public Isolated {
 protected:
  Capture out;
  bool result = false;

  void SetUp() override {
    FakeFsReset();
    ScanFileSystem = FakeFileSystem();
    Scan = ScanSettings{false, 255, 0, NAME, 3, 255, 4, 4096};
    ClusterSize = 4096;
    TotalFiles = 0;
    TotalWaste = 0;
  }
  void TearDown() override { ReleaseRoot(); }

  // Scans the directory at path into a fresh RootNode.
  bool Run(const std::string& path) {
    ResetRoot(path);
    ScanPath = B(path);
    result = ScanDirectory(&RootNode);
    return result;
  }
  bool Run() { return Run(Root()); }

  FakeDirectory& Dir(const std::string& rel = "") {
    return FakeDir(rel.empty() ? Root() : Root() + Sep + Sub(rel));
  }
  static std::string Sub(const std::string& rel) {
    std::string s = rel;
    for (char& c : s)
      if (c == '/') c = Sep;
    return s;
  }
  std::string PathOf(const std::string& rel) { return Root() + Sep + Sub(rel) + Sep; }
};
}  // namespace

TEST_F(ScanTest, EmptyDirectoryIsChargedForItsTwoEntries) {
  Dir();
  EXPECT_TRUE(Run());
  EXPECT_EQ(RootNode.localSize, 4096);
  EXPECT_EQ(RootNode.wastage, 4032);
  EXPECT_EQ(RootNode.fileCount, 0);
  EXPECT_EQ(RootNode.firstChild, nullptr);
  EXPECT_EQ(TotalWaste, 4032);
  EXPECT_EQ(out.text, "");
}

TEST_F(ScanTest, ExactModeTakesByteSizesWithoutEntryTables) {
  Scan.dirListingSizes = true;
  Dir().entries.push_back(FakeFile("a", 3000));
  Dir().entries.push_back(FakeFile("b", 0));
  Dir().entries.push_back(FakeSubdir("s"));
  Dir("s");
  EXPECT_TRUE(Run());
  EXPECT_EQ(RootNode.localSize, 3000);
  EXPECT_EQ(RootNode.wastage, 0);
  EXPECT_EQ(RootNode.fileCount, 2);
  EXPECT_EQ(RootNode.subdirsSize, 0);
  EXPECT_EQ(TotalWaste, 0);
  EXPECT_EQ(TotalFiles, 2);
  ASSERT_NE(Child(&RootNode, "s"), nullptr);
  EXPECT_EQ(Child(&RootNode, "s")->localSize, 0);
}

TEST_F(ScanTest, WastageModeRoundsEveryFileAndTheEntryTable) {
  // 0 bytes costs nothing, 3000 takes a cluster, 8192 is exact; 5 entries take 160 bytes.
  FakeDirectory& d = Dir();
  d.entries.push_back(FakeFile("zero", 0));
  d.entries.push_back(FakeFile("small", 3000));
  d.entries.push_back(FakeFile("exact", 8192));
  EXPECT_TRUE(Run());
  EXPECT_EQ(RootNode.fileCount, 3);
  EXPECT_EQ(RootNode.localSize, 4096 + 8192 + 4096);
  EXPECT_EQ(RootNode.wastage, 1096 + (4096 - 160));
  EXPECT_EQ(TotalFiles, 3);
  EXPECT_EQ(TotalWaste, RootNode.wastage);
}

TEST_F(ScanTest, LargeFilesKeepAll64Bits) {
  Dir().entries.push_back(FakeFile("big", 5000000000LL));
  EXPECT_TRUE(Run());
  EXPECT_EQ(RootNode.localSize, 5000003584LL + 4096);
}

TEST_F(ScanTest, ClusterSizeOfOneGivesExactSizesPlusEntries) {
  ClusterSize = 1;
  Dir().entries.push_back(FakeFile("a", 3001));
  EXPECT_TRUE(Run());
  EXPECT_EQ(RootNode.localSize, 3001 + 3 * 32);
  EXPECT_EQ(RootNode.wastage, 0);
}

TEST_F(ScanTest, DriveRootIsNotChargedForItsEntryTableButItsSubdirectoriesAre) {
  Scan.rootPathLength = (int)DriveRoot().size();
  FakeDirectory& d = FakeDir(DriveRoot(), false);  // a drive root lists no "." and ".."
  d.entries.push_back(FakeFile("f", 100));
  d.entries.push_back(FakeSubdir("sub"));
  FakeDir(DriveRoot() + "sub");
  EXPECT_TRUE(Run(DriveRoot()));
  EXPECT_EQ(RootNode.localSize, 4096);
  EXPECT_EQ(RootNode.wastage, 3996);
  ASSERT_NE(Child(&RootNode, "sub"), nullptr);
  EXPECT_EQ(Child(&RootNode, "sub")->localSize, 4096);
}

TEST_F(ScanTest, StartDirectoryLongerThanTheDriveRootIsCharged) {
  Scan.rootPathLength = (int)Root().size() - 1;  // shorter than the start path with separator
  Dir();
  EXPECT_TRUE(Run());
  EXPECT_EQ(RootNode.localSize, 4096);
  Scan.rootPathLength = (int)Root().size() + 1;  // the start directory is the mount point
  ReleaseRoot();
  TotalWaste = 0;
  EXPECT_TRUE(Run());
  EXPECT_EQ(RootNode.localSize, 0);
  EXPECT_EQ(TotalWaste, 0);
}

TEST_F(ScanTest, HiddenSystemAndReadOnlyFilesCountVolumeLabelsDoNot) {
  FakeDirectory& d = Dir();
  d.entries.push_back(FakeFile("h", 10, AttrHidden));
  d.entries.push_back(FakeFile("s", 10, AttrSystem | AttrHidden));
  d.entries.push_back(FakeFile("r", 10, AttrReadOnly));
  d.entries.push_back(FakeFile("n", 10, 0x80));
  d.entries.push_back(FakeLabel("VOLUME"));
  d.entries.push_back(FakeEntry{"labeldir", AttrVolumeLabel | AttrDirectory, 0});
  EXPECT_TRUE(Run());
  EXPECT_EQ(RootNode.fileCount, 4);
  EXPECT_EQ(RootNode.firstChild, nullptr);
  // 8 entries (labels and dots included) take 256 bytes of one cluster.
  EXPECT_EQ(RootNode.localSize, 4 * 4096 + 4096);
  EXPECT_EQ(RootNode.wastage, 4 * 4086 + (4096 - 256));
}

TEST_F(ScanTest, DotEntriesAreNeitherFilesNorChildrenButAreEntries) {
  FakeDirectory& d = FakeDir(Root(), false);
  for (int i = 0; i < 200; ++i) d.entries.push_back(FakeSubdir(i % 2 ? "." : ".."));
  d.entries.push_back(FakeSubdir("..."));  // an ordinary name
  // Listed as a file (Wine flags ".." of a folder directly under Z:\ as a reparse point, and a
  // reparse folder is listed as a file): still no file, still an entry.
  d.entries.push_back(FakeEntry{"..", 0x400, 4096});
  d.entries.push_back(FakeEntry{".", AttrArchive, 0});
  Dir("...");
  EXPECT_TRUE(Run());
  EXPECT_EQ(RootNode.fileCount, 0);
  EXPECT_EQ(ChildNames(&RootNode), (std::vector<std::string>{"..."}));
  EXPECT_EQ(RootNode.localSize, 8192);  // 203 entries, 6496 bytes
}

TEST_F(ScanTest, HiddenAndReparseDirectoriesAreDescended) {
  Dir().entries.push_back(FakeSubdir("hid", AttrHidden));
  Dir().entries.push_back(FakeSubdir("link", 0x400));
  Dir("hid").entries.push_back(FakeFile("x", 1));
  Dir("link").entries.push_back(FakeFile("y", 1));
  EXPECT_TRUE(Run());
  EXPECT_EQ(ChildNames(&RootNode), (std::vector<std::string>{"hid", "link"}));
  EXPECT_EQ(Child(&RootNode, "hid")->fileCount, 1);
  EXPECT_EQ(TotalFiles, 2);
}

TEST_F(ScanTest, SubdirectoryFiguresAddUpTheTree) {
  Dir().entries.push_back(FakeSubdir("a"));
  Dir("a").entries.push_back(FakeSubdir("b"));
  Dir("a").entries.push_back(FakeFile("f", 5000));
  Dir("a/b").entries.push_back(FakeFile("g", 1));
  EXPECT_TRUE(Run());
  const DirNode* a = Child(&RootNode, "a");
  ASSERT_NE(a, nullptr);
  const DirNode* b = Child(a, "b");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->localSize, 8192);
  EXPECT_EQ(a->localSize, 8192 + 4096);
  EXPECT_EQ(a->subdirsSize, 8192);
  EXPECT_EQ(RootNode.subdirsSize, 8192 + 4096 + 8192);
  EXPECT_EQ(RootNode.fileCount, 0);  // nothing merged: only its own files
  EXPECT_EQ(a->fileCount, 1);
  EXPECT_EQ(TotalFiles, 2);
  EXPECT_EQ(TotalWaste, RootNode.wastage + a->wastage + b->wastage);
}

TEST_F(ScanTest, OneEnumerationOpenAtATimeAndSubdirectoriesReadLastEnumeratedFirst) {
  for (const char* n : {"x", "y", "z"}) {
    Dir().entries.push_back(FakeSubdir(n));
    Dir(n).entries.push_back(FakeSubdir("in"));
    Dir(std::string(n) + "/in");
  }
  EXPECT_TRUE(Run());
  EXPECT_EQ(FakeLog.openMost, 1);
  EXPECT_EQ(FakeLog.openNow, 0);
  EXPECT_EQ(FakeLog.startScans, 1);
  EXPECT_FALSE(FakeLog.pathWithoutSeparator);
  std::vector<std::string> expect = {Root() + Sep,      PathOf("z"), PathOf("z/in"), PathOf("y"),
                                     PathOf("y/in"),    PathOf("x"), PathOf("x/in")};
  EXPECT_EQ(FakeLog.opened, expect);
}

TEST_F(ScanTest, StartPathWithItsSeparatorIsReadTheSame) {
  Dir().entries.push_back(FakeFile("f", 1));
  EXPECT_TRUE(Run(Root() + Sep));
  EXPECT_EQ(FakeLog.opened, (std::vector<std::string>{Root() + Sep}));
  EXPECT_EQ(RootNode.fileCount, 1);
}

TEST_F(ScanTest, MissingStartDirectoryWritesItsMessageAndReadsNothing) {
  const std::string message = "Path was not found (maximum path length exceeded?): " + Root() + Sep;
  OutputIsTerminal = true;
  EXPECT_FALSE(Run());
  EXPECT_EQ(out.Lines(), (std::vector<std::string>{message}));
  EXPECT_EQ(out.errors, "") << "the user has seen it on the terminal";
  EXPECT_EQ(RootNode.localSize, 0);
  EXPECT_EQ(RootNode.fileCount, 0);
  EXPECT_EQ(FakeLog.openNow, 0);
}

TEST_F(ScanTest, MissingStartDirectoryIsAlsoSaidOnStandardErrorWhenOutputIsNoTerminal) {
  // Redirected, the message would reach the file alone: the user and the scripts that read
  // errors would see nothing. The report's own text keeps the line.
  const std::string message = "Path was not found (maximum path length exceeded?): " + Root() + Sep;
  OutputIsTerminal = false;
  EXPECT_FALSE(Run());
  EXPECT_EQ(out.Lines(), (std::vector<std::string>{message}));
  EXPECT_EQ(out.errors, "quorvel: " + message + PlatformLineEnd);

  // An export's messages go to standard error already: the line reaches it once.
  ReleaseRoot();
  out.text.clear();
  out.errors.clear();
  SendOutputToErrors(true);
  EXPECT_FALSE(Run());
  SendOutputToErrors(false);
  EXPECT_EQ(out.text, "");
  EXPECT_EQ(out.errors, "quorvel: " + message + PlatformLineEnd);
}

TEST_F(ScanTest, StartDirectoryThatCannotBeOpenedMakesNoReportAndIsNamed) {
  // An empty report would pass for an empty directory: there is none, and the run driver names
  // the directory with the system's reason.
  Dir().opening = FindFailed;
  Dir().reason = "Permission denied";
  EXPECT_FALSE(Run());
  EXPECT_EQ(out.text, "");
  EXPECT_TRUE(LastScan.startUnreadable);
  EXPECT_EQ(LastScan.unreadable, 1);
  ASSERT_EQ(LastScan.named.size(), 1u);
  EXPECT_EQ(LastScan.named[0].path, Root() + Sep);
  EXPECT_EQ(LastScan.named[0].trouble, CouldNotOpen);
  EXPECT_EQ(LastScan.named[0].reason, "Permission denied");
  EXPECT_EQ(FakeLog.endScans, 1);
}

TEST_F(ScanTest, VanishedSubdirectoryWritesTheMessageAndKeepsZeroFigures) {
  Dir().entries.push_back(FakeSubdir("gone"));
  Dir().entries.push_back(FakeSubdir("kept"));
  Dir("gone").entries.push_back(FakeFile("f", 100));
  Dir("gone").vanishes = true;
  Dir("kept");
  EXPECT_TRUE(Run());
  EXPECT_EQ(out.Lines(), (std::vector<std::string>{
                             "Path was not found (maximum path length exceeded?): " + PathOf("gone")}));
  const DirNode* gone = Child(&RootNode, "gone");
  ASSERT_NE(gone, nullptr);
  EXPECT_EQ(gone->localSize, 0);
  EXPECT_EQ(gone->fileCount, 0);
  EXPECT_EQ(ChildNames(&RootNode), (std::vector<std::string>{"gone", "kept"}));
  EXPECT_EQ(RootNode.subdirsSize, 4096);
  // Counted apart from the unreadable ones, marked, and named after the report.
  EXPECT_EQ(LastScan.vanished, 1);
  EXPECT_EQ(LastScan.unreadable, 0);
  EXPECT_TRUE(gone->readError);
  EXPECT_FALSE(Child(&RootNode, "kept")->readError);
  ASSERT_EQ(LastScan.named.size(), 1u);
  EXPECT_EQ(LastScan.named[0].path, PathOf("gone"));
  EXPECT_EQ(LastScan.named[0].trouble, Vanished);
  EXPECT_TRUE(LastScan.Incomplete());
}

TEST_F(ScanTest, VanishedSubdirectoryIsFoldedWhenAMinimumSizeIsSet) {
  Scan.minSize = 1;
  Dir().entries.push_back(FakeSubdir("gone"));
  EXPECT_TRUE(Run());
  EXPECT_EQ(RootNode.firstChild, nullptr);
  EXPECT_EQ(Name(&RootNode), Root() + " ...");
}

TEST_F(ScanTest, UnreadableSubdirectoryShowsZerosWithoutMessageAndIsCounted) {
  Dir().entries.push_back(FakeSubdir("locked"));
  Dir("locked").opening = FindFailed;
  Dir("locked").entries.push_back(FakeFile("secret", 100000));
  Dir("locked").entries.push_back(FakeSubdir("inner"));
  // Empty the same way, but none of them is a directory that could not be read.
  for (const char* name : {"mount", "bare", "gone"}) Dir().entries.push_back(FakeSubdir(name));
  Dir("mount").opening = FindOtherDevice;
  FakeDir(Root() + Sep + "bare", false);
  Dir().entries.push_back(FakeSubdir("locked too"));
  Dir("locked too").opening = FindFailed;
  Dir("locked too").reason = "Input/output error";
  EXPECT_TRUE(Run());
  EXPECT_EQ(out.Lines(),
            (std::vector<std::string>{"Path was not found (maximum path length exceeded?): " +
                                      PathOf("gone")}));
  const DirNode* locked = Child(&RootNode, "locked");
  ASSERT_NE(locked, nullptr);
  EXPECT_EQ(locked->localSize, 0);
  EXPECT_EQ(locked->wastage, 0);
  EXPECT_EQ(locked->fileCount, 0);
  EXPECT_EQ(Child(&RootNode, "bare")->localSize, 0);
  EXPECT_EQ(LastScan.unreadable, 2);
  EXPECT_TRUE(locked->readError);
  EXPECT_FALSE(Child(&RootNode, "mount")->readError) << "another file system is no failure";
  EXPECT_FALSE(Child(&RootNode, "bare")->readError);
  // Named in the order the scan met them (the last listed first), with the system's reason.
  std::vector<std::string> named;
  for (const TroubledDirectory& t : LastScan.named)
    named.push_back(t.path + " " + std::to_string(t.trouble) + " " + t.reason);
  EXPECT_EQ(named, (std::vector<std::string>{PathOf("locked too") + " 0 Input/output error",
                                             PathOf("gone") + " 2 ",
                                             PathOf("locked") + " 0 Permission denied"}));
  // The next scan counts afresh.
  ReleaseRoot();
  Dir("locked").opening = FindFound;
  Dir("locked too").opening = FindFound;
  EXPECT_TRUE(Run());
  EXPECT_EQ(LastScan.unreadable, 0);
  EXPECT_EQ(LastScan.vanished, 2);  // gone, and locked/inner, which is listed but not there
  EXPECT_EQ(LastScan.named.size(), 2u);
}

TEST_F(ScanTest, FailingNextEntryRequestKeepsWhatWasCounted) {
  FakeDirectory& d = Dir();
  d.entries.push_back(FakeFile("a", 1));
  d.entries.push_back(FakeFile("b", 1));
  d.entries.push_back(FakeFile("c", 1));
  d.nextFailsAfter = 3;  // ".", "..", "a"
  d.reason = "Input/output error";
  EXPECT_TRUE(Run());
  EXPECT_EQ(RootNode.fileCount, 1);
  EXPECT_EQ(RootNode.localSize, 4096 + 4096);
  // But it is no listing's end: the directory could not be read whole, and says so.
  EXPECT_TRUE(RootNode.readError);
  EXPECT_EQ(LastScan.unreadable, 1);
  ASSERT_EQ(LastScan.named.size(), 1u);
  EXPECT_EQ(LastScan.named[0].trouble, ReadFailed);
  EXPECT_EQ(LastScan.named[0].reason, "Input/output error");
}

TEST_F(ScanTest, ASubdirectoryWhoseReadFailsKeepsWhatWasReadAndItsSubdirectories) {
  // What was listed before the failure is read on: its subdirectories too.
  Dir().entries.push_back(FakeSubdir("half"));
  FakeDirectory& half = Dir("half");
  half.entries.push_back(FakeFile("a", 100));
  half.entries.push_back(FakeSubdir("in"));
  half.entries.push_back(FakeFile("lost", 100));
  half.nextFailsAfter = 4;
  Dir("half/in").entries.push_back(FakeFile("b", 100));
  EXPECT_TRUE(Run());
  const DirNode* h = Child(&RootNode, "half");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->fileCount, 1);
  EXPECT_TRUE(h->readError);
  EXPECT_EQ(ChildNames(h), (std::vector<std::string>{"in"}));
  EXPECT_FALSE(Child(h, "in")->readError);
  EXPECT_EQ(TotalFiles, 2);
  EXPECT_FALSE(RootNode.readError);
}

TEST_F(ScanTest, TheFirstTenTroubledDirectoriesAreNamedTheRestCounted) {
  for (int i = 0; i < 25; ++i) {
    std::string name = "d" + std::to_string(100 + i);
    Dir().entries.push_back(FakeSubdir(name));
    if (i % 2) Dir(name).opening = FindFailed;  // the even ones are never made: vanished
  }
  EXPECT_TRUE(Run());
  EXPECT_EQ(LastScan.unreadable, 12);
  EXPECT_EQ(LastScan.vanished, 13);
  ASSERT_EQ(LastScan.named.size(), (size_t)NamedTroubleLimit);
  EXPECT_EQ(LastScan.named[0].path, PathOf("d124"));  // the last listed is read first
  EXPECT_EQ(LastScan.named[9].path, PathOf("d115"));
}

TEST_F(ScanTest, ACompleteScanIsNoIncompleteOne) {
  Dir().entries.push_back(FakeSubdir("a"));
  Dir("a").opening = FindOtherDevice;
  EXPECT_TRUE(Run());
  EXPECT_FALSE(LastScan.Incomplete());
  EXPECT_TRUE(LastScan.named.empty());
}

TEST_F(ScanTest, SubdirectoryPathsUpToTheBudgetAreReadLongerOnesSkipped) {
  // The child's path and what its enumeration adds (Windows: separator and "*.*"; POSIX:
  // nothing, so a path of exactly the budget is read) must fit 255 characters.
  for (int room : {4, 0}) {
    SCOPED_TRACE(room);
    FakeFsReset();
    ReleaseRoot();
    out.text.clear();
    TotalFiles = 0;
    Scan.patternRoom = room;
    const int L = (int)Root().size() + 1;
    const std::string fits(255 - room - L, 'f');
    const std::string over(255 - room - L + 1, 'o');
    Dir().entries.push_back(FakeSubdir(fits));
    Dir().entries.push_back(FakeSubdir(over));
    Dir(fits).entries.push_back(FakeFile("x", 1));
    Dir(over).entries.push_back(FakeFile("y", 1));
    EXPECT_TRUE(Run());
    EXPECT_EQ(out.Lines(), (std::vector<std::string>{
                               "Maximum path length of 255 exceeded for directory " + Root() + Sep + over,
                               "Path skipped"}));
    EXPECT_EQ(Child(&RootNode, fits)->fileCount, 1);
    const DirNode* skipped = Child(&RootNode, over);
    ASSERT_NE(skipped, nullptr);
    EXPECT_EQ(skipped->localSize, 0);
    EXPECT_EQ(skipped->fileCount, 0);
    EXPECT_EQ(FakeLog.opened, (std::vector<std::string>{Root() + Sep, PathOf(fits)}));
    EXPECT_EQ(TotalFiles, 1);
    // The report lacks it: it is counted, though not named (its two lines name it).
    EXPECT_EQ(LastScan.skipped, 1);
    EXPECT_TRUE(LastScan.named.empty());
    EXPECT_TRUE(LastScan.Incomplete());
  }
}

TEST_F(ScanTest, SkippedSubdirectoryIsFoldedWhenAMinimumSizeIsSet) {
  Scan.minSize = 1;
  const int L = (int)Root().size() + 1;
  Dir().entries.push_back(FakeSubdir(std::string(255 - 3 - L, 'o')));
  EXPECT_TRUE(Run());
  EXPECT_EQ(RootNode.firstChild, nullptr);
  EXPECT_EQ(Name(&RootNode), Root() + " ...");
  EXPECT_EQ(out.Lines().size(), 2u);
}

TEST_F(ScanTest, StartPathWithoutRoomForThePatternIsNotRead) {
  std::string path = Root() + Sep + std::string(255 - (int)Root().size() - 1 - 2, 'p');
  ASSERT_EQ(path.size(), 253u);
  FakeDir(path);
  EXPECT_FALSE(Run(path));
  EXPECT_TRUE(FakeLog.opened.empty());
  EXPECT_EQ(out.Lines(),
            (std::vector<std::string>{"Path was not found (maximum path length exceeded?): " +
                                      path + Sep}));
}

TEST_F(ScanTest, DepthLimitCollapsesAndMarksDirectoriesAtTheLimit) {
  // root/a/b/c and root/flat: with a limit of 1 only a and flat remain, a marked.
  Scan.maxDepth = 1;
  Dir().entries.push_back(FakeSubdir("a"));
  Dir().entries.push_back(FakeSubdir("flat"));
  Dir("a").entries.push_back(FakeSubdir("b"));
  Dir("a").entries.push_back(FakeFile("fa", 1));
  Dir("a/b").entries.push_back(FakeSubdir("c"));
  Dir("a/b").entries.push_back(FakeFile("fb", 1));
  Dir("a/b/c").entries.push_back(FakeFile("fc", 1));
  Dir("flat").entries.push_back(FakeFile("ff", 1));
  EXPECT_TRUE(Run());
  EXPECT_EQ(ChildNames(&RootNode), (std::vector<std::string>{"a ...", "flat"}));
  const DirNode* a = Child(&RootNode, "a ...");
  EXPECT_EQ(a->firstChild, nullptr);
  EXPECT_EQ(a->fileCount, 3);
  EXPECT_EQ(a->localSize, 4096 + 4096);  // its own file and table only
  EXPECT_EQ(a->subdirsSize, 4 * 4096);
  // a and b: one 1-byte file and a 4-entry table each; c: one file and a 3-entry table.
  EXPECT_EQ(a->wastage, 2 * (4095 + 4096 - 128) + (4095 + 4096 - 96));
  EXPECT_EQ(Child(&RootNode, "flat")->fileCount, 1);
  EXPECT_EQ(TotalFiles, 4);
  // Wastage of the whole run counts each directory's own padding once.
  EXPECT_EQ(TotalWaste, RootNode.wastage + a->wastage + Child(&RootNode, "flat")->wastage);
}

TEST_F(ScanTest, DepthLimitTwoKeepsTwoLevels) {
  Scan.maxDepth = 2;
  Dir().entries.push_back(FakeSubdir("a"));
  Dir("a").entries.push_back(FakeSubdir("b"));
  Dir("a/b").entries.push_back(FakeSubdir("c"));
  Dir("a/b/c").entries.push_back(FakeFile("fc", 1));
  EXPECT_TRUE(Run());
  const DirNode* a = Child(&RootNode, "a");
  ASSERT_NE(a, nullptr);
  const DirNode* b = Child(a, "b ...");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->firstChild, nullptr);
  EXPECT_EQ(b->fileCount, 1);
}

TEST_F(ScanTest, MinimumSizeFoldsSmallDirectoriesIntoTheirParent) {
  Scan.minSize = 10000;
  Dir().entries.push_back(FakeSubdir("small"));
  Dir().entries.push_back(FakeSubdir("big"));
  Dir("small").entries.push_back(FakeFile("s", 10));
  Dir("big").entries.push_back(FakeFile("b", 20000));
  EXPECT_TRUE(Run());
  EXPECT_EQ(ChildNames(&RootNode), (std::vector<std::string>{"big"}));
  EXPECT_EQ(Name(&RootNode), Root() + " ...");
  EXPECT_EQ(RootNode.fileCount, 1);  // the folded directory's file
  EXPECT_EQ(RootNode.subdirsSize, 8192 + 20480 + 4096);
}

TEST_F(ScanTest, MinimumSizeAboveEverySubdirectoryLeavesOnlyTheRoot) {
  Scan.minSize = 1LL << 40;
  Dir().entries.push_back(FakeFile("r", 1));
  Dir().entries.push_back(FakeSubdir("a"));
  Dir("a").entries.push_back(FakeSubdir("b"));
  Dir("a").entries.push_back(FakeFile("fa", 1));
  Dir("a/b").entries.push_back(FakeFile("fb", 1));
  EXPECT_TRUE(Run());
  EXPECT_EQ(RootNode.firstChild, nullptr);
  EXPECT_EQ(Name(&RootNode), Root() + " ...");
  EXPECT_EQ(RootNode.fileCount, 3);
  EXPECT_EQ(RootNode.wastage, TotalWaste);
  EXPECT_EQ(RootNode.subdirsSize, 4 * 4096);
  EXPECT_EQ(RootNode.localSize, 8192);
}

TEST_F(ScanTest, AMarkedNameIsNeverMarkedTwice) {
  Scan.maxDepth = 1;
  Scan.minSize = 1;
  Dir().entries.push_back(FakeSubdir("x ..."));
  Dir("x ...").entries.push_back(FakeSubdir("in"));
  Dir("x .../in");
  Dir().entries.push_back(FakeSubdir("e1"));
  Dir().entries.push_back(FakeSubdir("e2"));
  Dir("e1").opening = FindFailed;  // size 0: folded
  Dir("e2").opening = FindFailed;
  EXPECT_TRUE(Run());
  EXPECT_EQ(ChildNames(&RootNode), (std::vector<std::string>{"x ..."}));
  EXPECT_EQ(Name(&RootNode), Root() + " ...");
}

TEST_F(ScanTest, NameOrderIsTheDefaultAtEveryLevel) {
  for (const char* n : {"cherry", "apple", "Banana"}) {
    Dir().entries.push_back(FakeSubdir(n));
    Dir(n).entries.push_back(FakeSubdir("z"));
    Dir(n).entries.push_back(FakeSubdir("Y"));
    Dir(std::string(n) + "/z");
    Dir(std::string(n) + "/Y");
  }
  EXPECT_TRUE(Run());
  EXPECT_EQ(ChildNames(&RootNode), (std::vector<std::string>{"apple", "Banana", "cherry"}));
  EXPECT_EQ(ChildNames(Child(&RootNode, "apple")), (std::vector<std::string>{"Y", "z"}));
}

TEST_F(ScanTest, NoOrderKeepsTheEnumerationOrderAtEveryLevel) {
  Scan.sortOrder = NONE;
  for (const char* n : {"m", "c", "x", "a"}) {
    Dir().entries.push_back(FakeSubdir(n));
    Dir(n).entries.push_back(FakeSubdir("2"));
    Dir(n).entries.push_back(FakeSubdir("1"));
    Dir(std::string(n) + "/2");
    Dir(std::string(n) + "/1");
  }
  EXPECT_TRUE(Run());
  EXPECT_EQ(ChildNames(&RootNode), (std::vector<std::string>{"m", "c", "x", "a"}));
  EXPECT_EQ(ChildNames(Child(&RootNode, "x")), (std::vector<std::string>{"2", "1"}));
}

TEST_F(ScanTest, SizeOrdersUseFinishedFiguresWithTiesInEnumerationOrder) {
  Scan.sortOrder = FILES;
  Scan.maxDepth = 1;
  Dir().entries.push_back(FakeSubdir("one"));
  Dir().entries.push_back(FakeSubdir("deep"));
  Dir().entries.push_back(FakeSubdir("one'"));
  Dir("one").entries.push_back(FakeFile("f", 1));
  Dir("one'").entries.push_back(FakeFile("f", 1));
  Dir("deep").entries.push_back(FakeSubdir("in"));
  Dir("deep/in").entries.push_back(FakeFile("f1", 1));
  Dir("deep/in").entries.push_back(FakeFile("f2", 1));
  EXPECT_TRUE(Run());
  // "deep" is placed with its collapsed count of 2 files.
  EXPECT_EQ(ChildNames(&RootNode), (std::vector<std::string>{"deep ...", "one", "one'"}));
}

TEST_F(ScanTest, FileCountsSaturateInsteadOfOverflowing) {
  TotalFiles = INT32_MAX - 1;
  for (int i = 0; i < 3; ++i) Dir().entries.push_back(FakeFile("f" + std::to_string(i), 0));
  EXPECT_TRUE(Run());
  EXPECT_EQ(TotalFiles, INT32_MAX);
  EXPECT_EQ(RootNode.fileCount, 3);
}

TEST_F(ScanTest, SizesSaturateInsteadOfOverflowing) {
  Dir().entries.push_back(FakeFile("huge1", INT64_MAX - 10));
  Dir().entries.push_back(FakeFile("huge2", INT64_MAX - 10));
  EXPECT_TRUE(Run());
  EXPECT_EQ(RootNode.localSize, INT64_MAX);
}

TEST_F(ScanTest, NamesAreKeptExactlyAsEnumerated) {
  const std::string odd[] = {"with blank", "a,b", "-dash", "caf\xC3\xA9", "\x82\xC4"};
  for (const std::string& n : odd) {
    Dir().entries.push_back(FakeSubdir(n));
    Dir(n);
  }
  Scan.sortOrder = NONE;
  EXPECT_TRUE(Run());
  EXPECT_EQ(ChildNames(&RootNode), (std::vector<std::string>(std::begin(odd), std::end(odd))));
}

// Exclusions: a matching subdirectory is dropped before it is read, at every depth.
namespace {
class ExclusionScan : public ScanTest {
 protected:
  void TearDown() override {
    ClearExclusions(false, false);
    ScanTest::TearDown();
  }
  void Exclude(const std::string& pattern) { AddExclusion(pattern.data(), (int)pattern.size()); }
  bool Opened(const std::string& rel) {
    for (const std::string& p : FakeLog.opened)
      if (p == PathOf(rel)) return true;
    return false;
  }
};
}  // namespace

TEST_F(ExclusionScan, ExcludedDirectoriesAreNotReadNotCountedAndLeaveNoNode) {
  ClearExclusions(false, true);
  Exclude("node_modules");
  Exclude("src/gen");
  Dir().entries = {FakeSubdir("."),   FakeSubdir(".."),
                   FakeSubdir("app"), FakeSubdir("node_modules"),
                   FakeSubdir("src"), FakeFile("f", 100)};
  Dir("app").entries.push_back(FakeSubdir("node_modules"));
  Dir("app/node_modules").entries.push_back(FakeFile("big", 1 << 20));
  Dir("node_modules").entries.push_back(FakeFile("big", 1 << 20));
  Dir("src").entries.push_back(FakeSubdir("gen"));
  Dir("src").entries.push_back(FakeSubdir("lib"));
  Dir("src/gen").entries.push_back(FakeFile("g", 1 << 20));
  Dir("src/lib").entries.push_back(FakeSubdir("gen"));  // not the anchored src/gen: kept
  Dir("src/lib/gen").entries.push_back(FakeFile("kept", 10));
  EXPECT_TRUE(Run());
  EXPECT_EQ(ChildNames(&RootNode), (std::vector<std::string>{"app", "src"}));
  EXPECT_EQ(Child(&RootNode, "app")->firstChild, nullptr);
  EXPECT_EQ(ChildNames(Child(&RootNode, "src")), (std::vector<std::string>{"lib"}));
  EXPECT_EQ(ChildNames(Child(Child(&RootNode, "src"), "lib")), (std::vector<std::string>{"gen"}));
  EXPECT_EQ(LastScan.excluded, 3);
  EXPECT_FALSE(Opened("node_modules"));
  EXPECT_FALSE(Opened("app/node_modules"));
  EXPECT_FALSE(Opened("src/gen"));
  EXPECT_TRUE(Opened("src/lib/gen"));
  EXPECT_EQ(TotalFiles, 2);  // f and kept
  // Four directories of 4,096 bytes below the root, and nothing of the excluded ones.
  EXPECT_EQ(RootNode.subdirsSize, 4 * 4096 + 4096);
  EXPECT_EQ(out.text, "");

  // The next scan counts afresh.
  ReleaseRoot();
  ClearExclusions(false, true);
  EXPECT_TRUE(Run());
  EXPECT_EQ(LastScan.excluded, 0);
  EXPECT_EQ(ChildNames(&RootNode), (std::vector<std::string>{"app", "node_modules", "src"}));
}

TEST_F(ExclusionScan, AnExcludedDirectoryTooLongToReadIsNotReportedAsSkipped) {
  // The user asked to leave it out: the two lines of a skipped path would only be noise.
  Scan.pathBudget = (int)Root().size() + 10;
  ClearExclusions(false, true);
  Exclude("very-long-*");
  Dir().entries.push_back(FakeSubdir("very-long-directory-name"));
  Dir().entries.push_back(FakeSubdir("another-long-name"));
  EXPECT_TRUE(Run());
  EXPECT_EQ(LastScan.excluded, 1);
  EXPECT_EQ(out.text.find("very-long"), std::string::npos) << out.text;
  EXPECT_NE(out.text.find("another-long-name"), std::string::npos) << out.text;
}

namespace {
// Whether name, in the directory parent (a path below the start with '/' between components),
// is excluded by the single pattern given.
bool Matches(const std::string& pattern, const std::string& parent, const std::string& name,
             bool ignoreCase = false, bool utf8 = true) {
  ClearExclusions(ignoreCase, utf8);
  AddExclusion(pattern.data(), (int)pattern.size());
  std::string p = parent;
  for (char& c : p)
    if (c == '/') c = PathSeparator;
  bool hit = Excluded(p.data(), (int)p.size(), name.data(), (int)name.size());
  ClearExclusions(false, false);
  return hit;
}
}  // namespace

TEST(Exclusion, StarQuestionMarkAndSetsMatchWithinOneName) {
  struct Case {
    const char* pattern;
    const char* name;
    bool hit;
  } cases[] = {
      {"node_modules", "node_modules", true},
      {"node_modules", "node_modules2", false},
      {"*", "anything", true},
      {"*.cache", ".cache", true},
      {"*.cache", "x.cache.old", false},
      {"*cache*", "my-cache-dir", true},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYbZ", false},
      {"?", "x", true},
      {"?", "xy", false},
      {"b?ild", "build", true},
      {"[bc]uild", "cuild", true},
      {"[bc]uild", "duild", false},
      {"[a-c]x", "bx", true},
      {"[!a-c]x", "bx", false},
      {"[^a-c]x", "dx", true},
      {"[]]", "]", true},
      {"[a-]", "-", true},
      {"[", "[", true},
      {"[ab", "[ab", true},
      {"**", "x", true},
      {"*x", "xxxx", true},
      {"Build", "build", false},
      {"*?*?*", "a", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Matches(c.pattern, "", c.name), c.hit) << c.pattern << " " << c.name;
  // A name pattern matches at every depth.
  EXPECT_TRUE(Matches("node_modules", "a/b/", "node_modules"));
  EXPECT_TRUE(Matches("node_modules/", "a/", "node_modules")) << "a trailing separator";
}

TEST(Exclusion, APatternWithASeparatorMatchesThePathBelowTheStart) {
  EXPECT_TRUE(Matches("src/gen", "src/", "gen"));
  EXPECT_FALSE(Matches("src/gen", "x/src/", "gen")) << "anchored at the start directory";
  EXPECT_FALSE(Matches("src/gen", "", "gen"));
  EXPECT_FALSE(Matches("src/gen", "src/gen/", "more")) << "below an excluded path: never asked";
  EXPECT_TRUE(Matches("*/gen", "lib/", "gen"));
  EXPECT_FALSE(Matches("*/gen", "a/lib/", "gen")) << "a star never spans a separator";
  EXPECT_TRUE(Matches("*/*/gen", "a/lib/", "gen"));
  EXPECT_TRUE(Matches("/build", "", "build")) << "a leading separator anchors";
  EXPECT_FALSE(Matches("/build", "a/", "build"));
  EXPECT_TRUE(Matches("./build", "", "build"));
  EXPECT_TRUE(Matches("a/b/", "a/", "b"));
  EXPECT_TRUE(Matches(std::string("a") + PathSeparator + "b", "a/", "b"));
  EXPECT_TRUE(Matches("a/*", "a/", "x"));
}

TEST(Exclusion, LettersMatchInEitherCaseOnlyWhereNamesDo) {
  EXPECT_FALSE(Matches("NODE_MODULES", "", "node_modules"));
  EXPECT_TRUE(Matches("NODE_MODULES", "", "node_modules", true));
  EXPECT_TRUE(Matches("Src/*", "SRC/", "x", true));
  EXPECT_TRUE(Matches("[A-C]x", "", "bX", true));
  // Beyond ASCII in UTF-8 names: Ä and ä, Ω and ω, Ж and ж; in a one-byte code page only ASCII.
  EXPECT_TRUE(Matches("\xC3\x84rger", "", "\xC3\xA4rger", true));
  EXPECT_TRUE(Matches("\xCE\xA9", "", "\xCF\x89", true));
  EXPECT_TRUE(Matches("\xD0\x96", "", "\xD0\xB6", true));
  EXPECT_FALSE(Matches("\xC3\x84", "", "\xC3\xA4", false));
  // Every letter the system folds, Greek capitals with an accent (U+0386 to U+038F) too.
  const char capitals[] =
      "\xCE\x95\xCE\x9B\xCE\x9B\xCE\x97\xCE\x9D\xCE\x99\xCE\x9A\xCE\x86";  // ΕΛΛΗΝΙΚΆ
  const char small[] =
      "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC";  // Ελληνικά
  EXPECT_TRUE(Matches(capitals, "", small, true));
  EXPECT_FALSE(Matches(capitals, "", small, false));
  EXPECT_FALSE(Matches("\x8E", "", "\x84", true, false));  // code page 437 Ä and ä
}

TEST(Exclusion, AQuestionMarkIsOneCharacterOfAUtf8Name) {
  EXPECT_TRUE(Matches("caf?", "", "caf\xC3\xA9"));
  EXPECT_FALSE(Matches("caf?", "", "caf\xC3\xA9", false, false));
  EXPECT_TRUE(Matches("caf??", "", "caf\xC3\xA9", false, false));
  EXPECT_TRUE(Matches("[\xC3\xA9\xC3\xA8]t\xC3\xA9", "", "\xC3\xA8t\xC3\xA9"));
  // A byte that is no UTF-8 character is one character of its own.
  EXPECT_TRUE(Matches("a?b", "",
                      "a\xFF"
                      "b"));
}

TEST(Exclusion, EmptyPatternsAreIgnoredAndClearingForgetsAll) {
  ClearExclusions(false, true);
  AddExclusion("/", 1);
  AddExclusion("", 0);
  AddExclusion("./", 2);
  EXPECT_EQ(ExclusionCount(), 0);
  AddExclusion("a", 1);
  AddExclusion("/b/", 3);
  ASSERT_EQ(ExclusionCount(), 2);
  int length;
  const char* second = ExclusionPattern(1, &length);
  EXPECT_EQ(std::string(second, length), "b");
  EXPECT_FALSE(Excluded("", 0, "c", 1));
  EXPECT_TRUE(Excluded("", 0, "b", 1));
  ClearExclusions(false, true);
  EXPECT_EQ(ExclusionCount(), 0);
  EXPECT_FALSE(Excluded("", 0, "a", 1));
}
