// The tree builder, the one consumer of listings: the disk scan's tree, saved as it is read
// and read back from the dump, is the same tree, figure for figure and node for node, under
// every setting; the same listings fed as a dump nests them build it again; sized later with a
// cluster chosen from the space files hold, the same figures as with that cluster given. And
// the cluster rule itself.
#include "tree/tree_builder.h"

#include <functional>
#include <random>
#include <set>
#include <tuple>

#include "fake_fs.h"
#include "test_support.h"
#include "tree/dump_reader.h"
#include "tree/dump_writer.h"
#include "tree/exclude.h"

namespace {
const char Sep = PathSeparator;
std::string Root() {
  return Sep == '/' ? "/data" : "C:\\DATA";
}

// Feeds the same listings as a dump nests them: each subdirectory whole where it is listed.
void FeedDumpOrder(TreeBuild* b, const std::string& path, const std::string& name, bool root) {
  const FileSystemOps* fs = FakeFileSystem();
  FindEntry e;
  FindResult r = fs->findFirst(B(path), &e);
  if (r == FindOtherDevice) {
    TreeAddNotRead(b, name.data(), (int)name.size(), NotRead::OtherFileSystem);
    return;
  }
  std::vector<FakeEntry> listing;
  if (r == FindFound) {
    do {
      FakeEntry copy{std::string(e.name, e.nameLength),
                     e.attributes,
                     e.size,
                     e.allocated,
                     e.linked ? e.inode : 0,
                     e.held};
      listing.push_back(copy);
    } while (fs->findNext(&e) == NextFound);
  }
  fs->findClose();
  DirectoryFacts facts = {0, 0, false, 0, r == FindFailed, false};
  const std::string& shown = root ? path.substr(0, path.size() - 1) : name;
  TreeOpenDirectory(b, shown.data(), (int)shown.size(), facts);
  for (const FakeEntry& x : listing) {
    if (x.name == "." || x.name == "..") continue;
    if (x.attributes & AttrDirectory) {
      FeedDumpOrder(b, path + x.name + Sep, x.name, false);
    } else {
      FileFacts f = {x.name.data(),
                     (int)x.name.size(),
                     x.size,
                     x.allocated,
                     x.held,
                     x.inode != 0,
                     1,
                     x.inode,
                     0,
                     false};
      TreeAddFile(b, f);
    }
  }
  TreeCloseDirectory(b);
}

// Node for node, figure for figure, in the same order; "" when equal, else where they differ.
std::string Differ(const DirNode* a, const DirNode* b, const std::string& at) {
  std::string here = at + "/" + Name(a);
  if (Name(a) != Name(b)) return here + ": named " + Name(b);
  if (a->fileCount != b->fileCount || a->localSize != b->localSize ||
      a->subdirsSize != b->subdirsSize || a->wastage != b->wastage || a->merged != b->merged ||
      a->readError != b->readError)
    return here + ": figures " + std::to_string(a->localSize) + "/" + std::to_string(a->wastage) +
           "/" + std::to_string(a->subdirsSize) + "/" + std::to_string(a->fileCount) + " vs " +
           std::to_string(b->localSize) + "/" + std::to_string(b->wastage) + "/" +
           std::to_string(b->subdirsSize) + "/" + std::to_string(b->fileCount);
  const DirNode *x = a->firstChild, *y = b->firstChild;
  for (; x && y; x = x->nextSibling, y = y->nextSibling) {
    std::string d = Differ(x, y, here);
    if (!d.empty()) return d;
  }
  if (x || y) return here + ": not the same number of subdirectories";
  return "";
}

// A random tree of the scripted file system: files of every kind (hard links across
// directories too), subdirectories that cannot be read or are on another file system; with
// troubles, also listings that fail part way and subdirectories gone before they are read.
void RandomTree(const std::string& path, std::mt19937& random, int depth, bool links = true,
                bool troubles = false) {
  static const char* names[] = {"a", "B", "c", "Dd", "e e", "node_modules", "-h", "i_j", "K", "b"};
  std::vector<std::string> pool(std::begin(names), std::end(names));
  std::shuffle(pool.begin(), pool.end(), random);
  FakeDirectory& d = FakeDir(path);
  int subdirs = depth < 4 ? (int)(random() % 4) : 0;
  int files = (int)(random() % 5);
  static const int64_t sizes[] = {0, 1, 511, 4095, 4096, 4097, 10000, 123456, 3000000};
  std::vector<std::string> made;
  for (int i = 0; i < subdirs + files; ++i) {
    const std::string& n = pool[i];
    int64_t size = sizes[random() % (sizeof sizes / sizeof *sizes)];
    if (i < subdirs) {
      FakeDir(path).entries.push_back(FakeSubdir(n));
      made.push_back(n);
    } else if (links && random() % 4 == 0) {
      uint64_t inode = 1 + random() % 3;
      FakeDir(path).entries.push_back(FakeLinkedFile(n, 5000 * (int64_t)inode, inode));
    } else if (random() % 5 == 0) {
      FakeDir(path).entries.push_back(FakeSparseFile(n, size, size / 8192 * 4096));
    } else if (random() % 5 == 0) {
      FakeDir(path).entries.push_back(
          FakeReservedFile(n, size, (size + 4095) / 4096 * 4096 + 4096 * (int64_t)(random() % 3)));
    } else {
      FakeDir(path).entries.push_back(FakeFile(n, size));
    }
  }
  std::shuffle(d.entries.begin() + 2, d.entries.end(), random);
  for (const std::string& n : made) {
    std::string below = path + Sep + n;
    int kind = (int)(random() % 12);
    if (kind == 0) {
      FakeDir(below).opening = FindFailed;
    } else if (kind == 1) {
      FakeDir(below).opening = FindOtherDevice;
    } else {
      RandomTree(below, random, depth + 1, links, troubles);
      if (troubles && kind == 2) FakeDir(below).nextFailsAfter = 3;
      if (troubles && kind == 3) FakeDir(below).vanishes = true;
    }
  }
}

class TreeBuilderTest : public Isolated {
 protected:
  TreeBuild build;
  DirNode made = {};

  void SetUp() override {
    FakeFsReset();
    ScanFileSystem = FakeFileSystem();
    ClusterSize = 4096;
    ClearExclusions(false, true);
  }
  void TearDown() override {
    ReleaseRoot();
    CollapseChildren(&made);
    std::free(made.name);
    ClearExclusions(false, true);
  }

  // The scan's tree of Root() into RootNode, with the given settings, handed on to sink,
  // filling top if given.
  void ScanWith(const BuildSettings& s, const ListingSink* sink = nullptr,
                TopLists* top = nullptr) {
    Scan = ScanSettings{s.dirListingSizes,
                        s.maxDepth,
                        s.minSize,
                        s.sortOrder,
                        s.chargeRoot ? 0 : (int)Root().size() + 1,
                        4095,
                        0,
                        s.fileSystemCluster};
    Scan.top = top;
    Scan.files = s.files;
    ClusterSize = s.cluster;
    ResetRoot(Root());
    ScanPath = B(Root());
    TotalFiles = 0;
    TotalWaste = 0;
    Capture quiet;
    ScanDirectory(&RootNode, sink);
  }

  // The builder's tree of Root() into `made`, fed as a dump nests the listings.
  void BuildWith(const BuildSettings& s) {
    made = DirNode{};
    made.name = AllocateName(Root().data(), (int)Root().size());
    BeginTree(&build, s, &made, nullptr);
    FeedDumpOrder(&build, Root() + Sep, "", true);
    FinishTree(&build);
  }

  // The tree of the dump in `in` into `made`, read with the given settings.
  bool ReadBack(FILE* in, const BuildSettings& s) {
    static BuildSettings settings;
    settings = s;
    made = DirNode{};
    DumpRead read = {};
    read.displayName = "scan.json";
    static TreeBuild* tree;
    tree = &build;
    read.into = TreeConsumerOf(&build);
    read.context = &made;
    read.begin = [](DumpRead* r, const PathStr& path) {
      DirNode* root = (DirNode*)r->context;
      root->name = AllocateName(path.text, path.length);
      BeginTree(tree, settings, root, nullptr);
    };
    bool ok = ReadDump(in, &read) && read.found;
    FinishTree(&build);
    return ok;
  }
};

// A ranked list as "bytes path" lines.
std::vector<std::string> Listed(const TopList& list) {
  std::vector<std::string> lines;
  for (const TopEntry& e : list.kept) lines.push_back(std::to_string(e.bytes) + " " + e.path);
  return lines;
}

BuildSettings Settings(int maxDepth = INT32_MAX, int64_t minSize = 0, SortOrder order = NAME) {
  return BuildSettings{false, maxDepth, minSize, order, true, 4096, 4096, false};
}
}  // namespace

// Random settings of a report: every sort order, depth limits, minimum sizes, -dir, clusters,
// the root charged or not, an exclusion pattern.
BuildSettings RandomSettings(std::mt19937& random) {
  static const int depths[] = {INT32_MAX, 1, 2, 3};
  static const int64_t minimums[] = {0, 0, 4096, 20000, 1000000};
  BuildSettings s = Settings(depths[random() % 4], minimums[random() % 5],
                             (SortOrder)(random() % SortOrderCount));
  s.dirListingSizes = random() % 4 == 0;
  s.chargeRoot = random() % 3 != 0;
  static const int32_t clusters[] = {1, 512, 4096, 65536, 3000};
  s.cluster = clusters[random() % 5];
  if (random() % 3 == 0) AddExclusion("node_modules", 12);
  return s;
}

TEST_F(TreeBuilderTest, ScanSavedAsItIsReadReadsBackAsTheScansTree) {
  // What -save writes of the disk, -from reads back as the rows the disk gave: files of
  // several names charged at the same name, directories that could not be read, other file
  // systems and exclusions as the scan left them, under every setting.
  std::mt19937 random(26);
  int lateErrors = 0, vanished = 0;
  for (int round = 0; round < 300; ++round) {
    FakeFsReset();
    RandomTree(Root(), random, 0, true, true);
    BuildSettings s = RandomSettings(random);
    if (random() % 3 == 0) AddExclusion("K", 1);    // a file or a directory, at any depth
    if (random() % 3 == 0) AddExclusion("a/b", 3);  // by its path
    s.topCount = (int)(random() % 4) * 2;
    TopLists scanned;
    StartTopList(&scanned.files, s.topCount);
    StartTopList(&scanned.dirs, s.topCount);
    FILE* out = std::tmpfile();
    DumpWriter w;
    StartDumpWriter(&w, out,
                    SaveFacts{"1", 0, s.fileSystemCluster, true, s.chargeRoot, false, PMake(""), 0,
                              0, 0, true});
    ScanWith(s, &w.sink, s.topCount > 0 ? &scanned : nullptr);
    std::fflush(out);
    ASSERT_TRUE(DumpWriterOk(&w));
    int32_t files = TotalFiles;
    int64_t waste = TotalWaste;
    // A directory gone before it was read is a read error in the dump, as one not read whole.
    int32_t unreadable = LastScan.unreadable + LastScan.vanished;
    // The dump marks what a pattern left out alike, files and directories.
    int32_t excluded = LastScan.excluded + LastScan.excludedFiles;
    lateErrors += LastScan.unreadable;
    vanished += LastScan.vanished;
    std::rewind(out);
    ASSERT_TRUE(ReadBack(out, s)) << "round " << round;
    std::fclose(out);
    ASSERT_EQ(Differ(&RootNode, &made, ""), "") << "round " << round;
    EXPECT_EQ(build.totals.files, files);
    EXPECT_EQ(build.totals.waste, waste);
    EXPECT_EQ(build.totals.unreadable, unreadable);
    EXPECT_EQ(build.totals.excludedListed, excluded);
    // The largest files and directories: the same entries, in the same order.
    EXPECT_EQ(Listed(build.top.files), Listed(scanned.files)) << "round " << round;
    EXPECT_EQ(Listed(build.top.dirs), Listed(scanned.dirs)) << "round " << round;
    ReleaseRoot();
    CollapseChildren(&made);
    std::free(made.name);
    made = DirNode{};
    ClearExclusions(false, true);
  }
  EXPECT_GT(lateErrors, 50);
  EXPECT_GT(vanished, 50);
}

TEST_F(TreeBuilderTest, DumpOrderBuildsTheScansTreeWhenNoFileHasTwoNames) {
  // A dump nests each subdirectory where it is listed, the disk visits them after the listing,
  // the last listed first: the same tree either way. Only the name a file of several names is
  // charged at may differ between the two orders, so these trees have none.
  std::mt19937 random(62);
  for (int round = 0; round < 300; ++round) {
    FakeFsReset();
    RandomTree(Root(), random, 0, false);
    BuildSettings s = RandomSettings(random);
    ScanWith(s);
    int32_t files = TotalFiles;
    int64_t waste = TotalWaste;
    BuildWith(s);
    EXPECT_EQ(Differ(&RootNode, &made, ""), "") << "round " << round;
    EXPECT_EQ(build.totals.files, files);
    EXPECT_EQ(build.totals.waste, waste);
    ReleaseRoot();
    CollapseChildren(&made);
    std::free(made.name);
    made = DirNode{};
    ClearExclusions(false, true);
  }
}

// Every directory's kept files against the scripted file system's: the same names and
// lengths, and with its entry table they make up its own size (a further name of a file adds
// nothing). "" when they agree, else where they differ.
std::string KeptFilesDiffer(const FileStore& store, const DirNode* n, const std::string& path,
                            int64_t cluster, int64_t unit, bool listed, bool root = true) {
  // Name, length, data and space held on the disk, and the inode of a file of several names.
  std::multiset<std::tuple<std::string, int64_t, int64_t, int64_t, uint64_t>> kept, listedHere;
  FileRange r = store.FilesOf(n);
  int64_t own = 0;
  for (uint32_t i = r.first; i < r.first + r.count; ++i) {
    const FileRecord& f = store.Record(i);
    kept.insert({std::string(store.Name(f), f.nameLength), f.size, store.Allocated(f),
                 store.Held(f), store.Inode(f)});
    if (listed) {
      own += f.size;
    } else if (f.flags & FileCharged) {
      int64_t waste = 0;
      ChargeFileData(store.Allocated(f), store.Held(f), cluster, unit, &own, &waste);
    }
  }
  const FakeDirectory& d = FakeDir(path);
  bool read = d.opening == FindFound;
  for (const FakeEntry& e : d.entries)
    if (read && !(e.attributes & AttrDirectory))
      listedHere.insert({e.name, e.size, e.allocated < 0 ? e.size : e.allocated, e.held, e.inode});
  if (kept != listedHere) return path + ": other files";
  int64_t table = 0, waste = 0;
  if (!listed && read && !root) table = RoundToCluster((int64_t)d.entries.size() * 32, cluster, &waste);
  if (read && own + table != n->localSize)
    return path + ": files and table " + std::to_string(own + table) + " vs " +
           std::to_string(n->localSize);
  for (const DirNode* c = n->firstChild; c; c = c->nextSibling) {
    std::string below = KeptFilesDiffer(store, c, path + Sep + Name(c), cluster, unit, listed, false);
    if (!below.empty()) return below;
  }
  return "";
}

TEST_F(TreeBuilderTest, KeptFilesAreEachDirectorysOwnInTheScansOrderAndInADumps) {
  // The disk hands a directory's files before its subdirectories, a dump anywhere among them:
  // either way each directory's files lie side by side in the store, and they are its own.
  std::mt19937 random(35);
  for (int round = 0; round < 200; ++round) {
    FakeFsReset();
    RandomTree(Root(), random, 0, random() % 2 == 0);
    BuildSettings s = RandomSettings(random);
    s.chargeRoot = false;
    ClearExclusions(false, true);
    FileStore store;
    s.files = &store;
    ScanWith(s);
    EXPECT_EQ(KeptFilesDiffer(store, &RootNode, Root(), s.cluster, s.fileSystemCluster > 0 ? s.fileSystemCluster : 1, s.dirListingSizes), "")
        << "scan, round " << round;
    FileStore dumped;
    s.files = &dumped;
    BuildWith(s);
    EXPECT_EQ(KeptFilesDiffer(dumped, &made, Root(), s.cluster, s.fileSystemCluster > 0 ? s.fileSystemCluster : s.cluster, s.dirListingSizes), "")
        << "dump order, round " << round;
    ReleaseRoot();
    CollapseChildren(&made);
    std::free(made.name);
    made = DirNode{};
  }
}

TEST_F(TreeBuilderTest, ClusterChosenAtTheEndGivesTheFiguresOfThatClusterGiven) {
  // Without a cluster the tree waits, keeping each directory's figures for every candidate;
  // what it then gives must be what the chosen cluster gives from the start.
  std::mt19937 random(7);
  for (int round = 0; round < 100; ++round) {
    FakeFsReset();
    RandomTree(Root(), random, 0);
    BuildSettings known = Settings(random() % 2 ? INT32_MAX : 1, random() % 2 ? 0 : 8192);
    known.cluster = known.fileSystemCluster = 4096;
    known.topCount = 5;
    BuildWith(known);
    DirNode given = made;
    BuildTotals totals = build.totals;
    TopLists top = build.top;
    made = DirNode{};
    BuildSettings unknown = known;
    unknown.cluster = unknown.fileSystemCluster = 0;
    BuildWith(unknown);
    // Files of whole 4096-byte blocks (the fake's held sizes) choose 4096, unless every held
    // size happens to be a multiple of a larger power of two.
    if (build.chosenCluster == 4096) {
      EXPECT_EQ(Differ(&given, &made, ""), "") << "round " << round;
      EXPECT_EQ(build.totals.waste, totals.waste);
      // The lists kept for that cluster among all the candidates are the ones it gives.
      EXPECT_EQ(Listed(build.top.files), Listed(top.files)) << "round " << round;
      EXPECT_EQ(Listed(build.top.dirs), Listed(top.dirs)) << "round " << round;
    }
    CollapseChildren(&given);
    std::free(given.name);
    CollapseChildren(&made);
    std::free(made.name);
    made = DirNode{};
  }
}

TEST(ClusterRule, LargestPowerOfTwoFrom512To65536DividingEveryHeldSize) {
  auto lowest = [](std::initializer_list<int64_t> held) {
    TreeBuild b;
    BeginTree(&b, BuildSettings{false, INT32_MAX, 0, NONE, true, 0, 0, true}, nullptr, nullptr);
    for (int64_t h : held) TreeNoteHeld(&b, h);
    return ChooseCluster(b.lowestHeldBit);
  };
  EXPECT_EQ(lowest({4096, 8192, 12288}), 4096);
  EXPECT_EQ(lowest({8192, 16384, 0}), 8192);  // an empty file holds nothing and says nothing
  EXPECT_EQ(lowest({1 << 20}), 65536);
  EXPECT_EQ(lowest({512, 4096}), 512);
  EXPECT_EQ(lowest({100, 4096}), 512);  // no power of two from 512 divides 100: the smallest
  EXPECT_EQ(lowest({}), 4096);          // nothing held anywhere: the common cluster
}

TEST_F(TreeBuilderTest, ReadErrorSaidLateCountsOnceAndKeepsWhatWasListed) {
  BuildSettings s = Settings();
  made.name = AllocateName("/r", 2);
  BeginTree(&build, s, &made, nullptr);
  DirectoryFacts plain = {0, 0, false, 0, false, true};
  TreeOpenDirectory(&build, "/r", 2, plain);
  FileFacts f = {"f", 1, 3000, 3000, 4096, false, 0, 0, 0, false};
  TreeAddFile(&build, f);
  TreeMarkReadError(&build);
  TreeMarkReadError(&build);
  TreeCloseDirectory(&build);
  FinishTree(&build);
  EXPECT_EQ(build.totals.unreadable, 1);
  EXPECT_EQ(made.fileCount, 1);
  EXPECT_EQ(made.localSize, 4096 + 4096);  // the file, and "." ".." and the file's entry
}

TEST_F(TreeBuilderTest, DirectoryOnAnotherDeviceIsAnEmptyNodeAndItsContentsAreNotTaken) {
  made.name = AllocateName("/r", 2);
  BeginTree(&build, Settings(), &made, nullptr);
  TreeOpenDirectory(&build, "/r", 2, DirectoryFacts{0, 0, true, 7, false, false});
  EXPECT_FALSE(TreeOpenDirectory(&build, "proc", 4, DirectoryFacts{0, 0, true, 9, false, false}));
  TreeAddFile(&build, FileFacts{"x", 1, 1 << 20, 1 << 20, 1 << 20, false, 9, 0, 0, false});
  TreeCloseDirectory(&build);
  TreeCloseDirectory(&build);
  FinishTree(&build);
  ASSERT_EQ(ChildNames(&made), std::vector<std::string>{"proc"});
  EXPECT_EQ(NodeTotal(made.firstChild), 0);
  EXPECT_EQ(build.totals.files, 0);
  EXPECT_EQ(build.totals.otherFileSystems, 1);
  EXPECT_EQ(made.localSize, 4096);  // ".", ".." and proc
}

// The lists of the largest (-top=N): bounded, ranked, fed by the builder as the totals count.
namespace {
std::vector<std::string> Ranked(TopList list) {
  SortTopList(&list);
  return Listed(list);
}
void Offer(TopList* l, int64_t bytes, const std::string& name) {
  OfferTop(l, bytes, "d/", 2, name.data(), (int)name.size());
}
}  // namespace

TEST(LargestList, KeepsTheNLargestRankedWithTiesToTheFirstOffered) {
  TopList l;
  StartTopList(&l, 3);
  for (auto [bytes, name] : std::vector<std::pair<int64_t, std::string>>{{10, "a"},
                                                                         {30, "b"},
                                                                         {20, "c"},
                                                                         {30, "d"},
                                                                         {0, "empty"},
                                                                         {5, "e"},
                                                                         {40, "f"},
                                                                         {20, "g"}})
    Offer(&l, bytes, name);
  // More than N offered: no more than N kept; of the two of 30 bytes, b came first.
  EXPECT_EQ(Ranked(l), (std::vector<std::string>{"40 d/f", "30 d/b", "30 d/d"}));
  EXPECT_EQ(l.kept.size(), 3u);
  // Of equal sizes the first offered stays: c (20) is in, g (20) offered later is not.
  StartTopList(&l, 4);
  for (auto [bytes, name] : std::vector<std::pair<int64_t, std::string>>{
           {20, "c"}, {50, "x"}, {20, "g"}, {60, "y"}, {70, "z"}, {20, "h"}})
    Offer(&l, bytes, name);
  EXPECT_EQ(Ranked(l), (std::vector<std::string>{"70 d/z", "60 d/y", "50 d/x", "20 d/c"}));
}

TEST(LargestList, OneEntryAndNothingOfNoSize) {
  TopList l;
  StartTopList(&l, 1);
  Offer(&l, 7, "a");
  Offer(&l, 7, "b");
  Offer(&l, 9, "c");
  Offer(&l, 8, "d");
  EXPECT_EQ(Ranked(l), (std::vector<std::string>{"9 d/c"}));
  StartTopList(&l, 5);
  Offer(&l, 0, "empty");
  EXPECT_TRUE(Ranked(l).empty());  // holding no space, it is no space hog
  StartTopList(&l, 0);
  Offer(&l, 100, "big");
  EXPECT_TRUE(Ranked(l).empty());  // not asked for
}

TEST_F(TreeBuilderTest, LargestFilesCountAFileOfSeveralNamesOnceAndLeaveOutExcludedOnes) {
  // A further name of a file already charged adds nothing to the totals, so it is no entry of
  // its own and pushes nothing out; an excluded file is no entry either, but stays one of its
  // directory's table.
  BuildSettings s = Settings();
  s.topCount = 2;
  AddExclusion("*.log", 5);
  made.name = AllocateName("/r", 2);
  BeginTree(&build, s, &made, nullptr);
  DirectoryFacts plain = {0, 0, false, 0, false, false};
  TreeOpenDirectory(&build, "/r", 2, plain);
  TreeAddFile(&build, FileFacts{"linked", 6, 50000, 50000, 53248, true, 1, 9, 2, false});
  TreeAddFile(&build, FileFacts{"small", 5, 100, 100, 4096, false, 1, 0, 0, false});
  TreeOpenDirectory(&build, "sub", 3, plain);
  TreeAddFile(&build, FileFacts{"again", 5, 50000, 50000, 53248, true, 1, 9, 2, false});
  TreeAddFile(&build, FileFacts{"huge.log", 8, 90000, 90000, 90112, false, 1, 0, 0, false});
  for (int i = 0; i < 200; ++i)  // a table of more than one cluster: 203 entries of 32 bytes
    TreeAddFile(&build, FileFacts{"x.log", 5, 10, 10, 4096, false, 1, 0, 0, false});
  TreeCloseDirectory(&build);
  TreeCloseDirectory(&build);
  FinishTree(&build);
  EXPECT_EQ(Listed(build.top.files), (std::vector<std::string>{"53248 linked", "4096 small"}));
  EXPECT_EQ(build.totals.files, 3);
  EXPECT_EQ(build.totals.excludedFiles, 201);
  EXPECT_EQ(made.firstChild->fileCount, 1);
  EXPECT_EQ(made.firstChild->localSize, 8192);  // its table alone: "again" was charged before
  EXPECT_EQ(Listed(build.top.dirs),
            (std::vector<std::string>{"61440 ", "8192 sub"}));  // 53,248 + 4,096 + a table
}
