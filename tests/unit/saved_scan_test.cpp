// Saved scans: the dump reader (ncdu's, gdu's and Quorvel's dumps, the directory asked for,
// bad dumps refused with where they go wrong, never a crash or a deep stack), the dump writer
// (what it writes reads back as the same tree, names byte for byte, a late read error written
// back), the save file (a commit that fails leaves what was there and no temporary file), and
// the growth compare (new, gone, merged, the depth limit, the minimum size, the growth order).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#ifndef _WIN32
#include <signal.h>
#endif

#include "test_support.h"
#include "tree/dump_file.h"
#include "tree/dump_reader.h"
#include "tree/dump_writer.h"
#include "tree/exclude.h"
#include "tree/growth.h"
#include "tree/tree_builder.h"

namespace {
// A file holding text, read from its start.
FILE* Holding(const std::string& text) {
  FILE* f = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  return f;
}

std::string Contents(FILE* f) {
  std::string out;
  std::rewind(f);
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
  return out;
}

// Reads dumps into a tree of its own, with the settings a test gives.
struct Reading {
  TreeBuild build;
  DirNode root = {};
  DumpRead read = {};
  BuildSettings settings = {false, INT32_MAX, 0, NAME, true, 0, 0, false};
  const ListingSink* sink = nullptr;
  bool ok = false;

  ~Reading() { Drop(); }
  void Drop() {
    CollapseChildren(&root);
    std::free(root.name);
    root = DirNode{};
  }

  static void Begin(DumpRead* r, const PathStr& path) {
    Reading* self = (Reading*)r->context;
    self->root.name = AllocateName(path.text, path.length);
    BeginTree(&self->build, self->settings, &self->root, self->sink);
  }

  bool Read(const std::string& text, const std::string& select = "") {
    Drop();
    read = DumpRead{};
    read.displayName = "test.json";
    read.select = PMake(select.data(), (int)select.size());
    read.into = TreeConsumerOf(&build);
    read.context = this;
    read.begin = Begin;
    FILE* f = Holding(text);
    ok = ReadDump(f, &read);
    std::fclose(f);
    if (read.found) FinishTree(&build);
    return ok;
  }
};

const DirNode* Child(const DirNode* parent, const std::string& name) {
  for (const DirNode* c = parent->firstChild; c; c = c->nextSibling)
    if (Name(c) == name) return c;
  return nullptr;
}

// The tree ncdu 1.18 wrote of a small tree (DUMP-FORMAT.md): a sparse file, a file of two
// names in two directories, nested directories.
const char NcduDump[] =
    "[1,2,{\"progname\":\"ncdu\",\"progver\":\"1.18\",\"timestamp\":1796797273},\n"
    "[{\"name\":\"/tmp/nc/t\",\"asize\":4096,\"dsize\":4096,\"dev\":65024},\n"
    "{\"name\":\"sparse\",\"asize\":1048576},\n"
    "[{\"name\":\"c\",\"asize\":4096,\"dsize\":4096},\n"
    "{\"name\":\"f1link\",\"asize\":10000,\"dsize\":12288,\"ino\":11378702,\"hlnkc\":true,"
    "\"nlink\":2}],\n"
    "[{\"name\":\"a\",\"asize\":4096,\"dsize\":4096},\n"
    "[{\"name\":\"b\",\"asize\":4096,\"dsize\":4096}],\n"
    "{\"name\":\"f1\",\"asize\":10000,\"dsize\":12288,\"ino\":11378702,\"hlnkc\":true,"
    "\"nlink\":2}]]]";

class SavedScanTest : public Isolated {
 protected:
  void SetUp() override {
    ClearExclusions(false, true);
    ForgetGrowth();
  }
  void TearDown() override {
    ClearExclusions(false, true);
    ForgetGrowth();
  }
};
}  // namespace

TEST_F(SavedScanTest, NcduDumpIsSizedByTheScansRules) {
  Reading r;
  ASSERT_TRUE(r.Read(NcduDump)) << S(r.read.error);
  ASSERT_TRUE(r.read.found);
  EXPECT_EQ(S(r.read.facts.rootName), "/tmp/nc/t");
  EXPECT_EQ(r.read.facts.timestamp, 1796797273);
  EXPECT_FALSE(r.read.facts.hasDrive);
  // No cluster said: every space held is a multiple of 4096 and no larger power of two.
  EXPECT_EQ(r.build.chosenCluster, 4096);
  // The root: the sparse file holds nothing; "." ".." sparse c a: 5 entries, one cluster.
  EXPECT_EQ(r.root.fileCount, 1);
  EXPECT_EQ(r.root.localSize, 4096);
  // The file of two names is charged at its first name in the dump: c's, not a's.
  EXPECT_EQ(Child(&r.root, "c")->localSize, 12288 + 4096);
  EXPECT_EQ(Child(&r.root, "a")->localSize, 4096);
  EXPECT_EQ(Child(&r.root, "a")->subdirsSize, 4096);
  EXPECT_EQ(NodeTotal(&r.root), 4096 + 16384 + 8192);
  EXPECT_EQ(r.build.totals.files, 3);
  EXPECT_EQ(ChildNames(&r.root), (std::vector<std::string>{"a", "c"}));
}

TEST_F(SavedScanTest, ExactModeAndAGivenClusterAsOnTheDisk) {
  Reading r;
  r.settings.dirListingSizes = true;
  ASSERT_TRUE(r.Read(NcduDump));
  // Every name at its length, sparse or linked, no entry tables.
  EXPECT_EQ(NodeTotal(&r.root), 1048576 + 10000 + 10000);
  Reading g;
  g.settings.cluster = 512;
  ASSERT_TRUE(g.Read(NcduDump));
  EXPECT_EQ(g.build.chosenCluster, 512);
  // The file system's unit is still chosen from the dump: 12288 held is data rounded to 4096.
  EXPECT_EQ(Child(&g.root, "c")->localSize, 10240 + 512);
}

TEST_F(SavedScanTest, DirectoryAskedForIsFoundByTheDumpsPathOrBelowItsRoot) {
  Reading r;
  ASSERT_TRUE(r.Read(NcduDump, "/tmp/nc/t/a/b/"));
  ASSERT_TRUE(r.read.found);
  EXPECT_EQ(Name(&r.root), "/tmp/nc/t/a/b");
  EXPECT_EQ(r.root.localSize, 4096);  // a directory below the dump's start is charged
  ASSERT_TRUE(r.Read(NcduDump, "a"));
  EXPECT_EQ(Name(&r.root), "/tmp/nc/t/a");
  // As a scan of that directory alone: the file of two names is charged at the name in it.
  EXPECT_EQ(NodeTotal(&r.root), 4096 + 12288 + 4096);
  EXPECT_EQ(r.build.totals.files, 1);
  ASSERT_TRUE(r.Read(NcduDump, "/tmp/nc/t/c/f1link"));
  EXPECT_FALSE(r.read.found);
  ASSERT_TRUE(r.Read(NcduDump, "/elsewhere"));
  EXPECT_FALSE(r.read.found);
  // A sibling's child of the same name is not the one asked for.
  ASSERT_TRUE(r.Read(NcduDump, "/tmp/nc/t/c/b"));
  EXPECT_FALSE(r.read.found);
}

TEST_F(SavedScanTest, GduAndQuorvelDumpsAndWhatIsNotRead) {
  // gdu: no dsize for directories, the inode on one name only; Quorvel: its metadata object.
  const char dump[] =
      "[1,2,{\"progname\":\"quorvel\",\"timestamp\":5,\"quorvel\":{\"exclude\":[],"
      "\"cluster\":8192,\"start_charged\":false,\"drive\":{\"name\":\"/\",\"cluster\":8192,"
      "\"free\":100,\"capacity\":1000},\"later\":[1,{\"x\":[]}]}},\n"
      "[{\"name\":\"/\",\"mtime\":5,\"dev\":1},\n"
      "{\"name\":\"f\",\"asize\":10,\"dsize\":8192,\"ino\":4,\"hlnkc\":true},\n"
      "[{\"name\":\"proc\",\"excluded\":\"othfs\"}],\n"
      "{\"name\":\"sys\",\"excluded\":\"kernfs\"},\n"
      "{\"name\":\"skip\",\"dev\":0,\"excluded\":\"pattern\"},\n"
      "[{\"name\":\"mnt\",\"dev\":9},{\"name\":\"big\",\"asize\":99999999}],\n"
      "[{\"name\":\"bad\",\"read_error\":true}]],{\"after\":1}]";
  Reading r;
  ASSERT_TRUE(r.Read(dump)) << S(r.read.error);
  EXPECT_EQ(r.read.facts.cluster, 8192);
  EXPECT_TRUE(r.read.facts.startChargedKnown);
  EXPECT_EQ(S(r.read.facts.driveName), "/");
  EXPECT_EQ(r.read.facts.driveCapacity, 1000);
  EXPECT_EQ(r.read.passedOver, 1);
  EXPECT_EQ(ChildNames(&r.root), (std::vector<std::string>{"bad", "mnt", "proc", "sys"}));
  // A dump marks a file and a directory left out alike: which it was is not known.
  EXPECT_EQ(r.build.totals.excludedListed, 1);
  EXPECT_EQ(r.build.totals.excluded, 0);
  EXPECT_EQ(r.build.totals.unreadable, 1);
  EXPECT_EQ(r.build.totals.otherFileSystems, 3);  // proc, sys, and mnt on another device
  EXPECT_EQ(NodeTotal(Child(&r.root, "mnt")), 0);
  EXPECT_EQ(NodeTotal(Child(&r.root, "bad")), 0);  // unreadable, nothing listed: no table
}

TEST_F(SavedScanTest, BadDumpsAreRefusedWithWhereTheFaultIs) {
  struct Case {
    std::string text;
    const char* says;
  };
  const Case cases[] = {
      {"", "empty"},
      {"\x7f"
       "ELF\x01\x02",
       "not JSON"},
      {"{\"a\":1}", "not a saved scan"},
      {"[2,0,{},[{\"name\":\"/\"}]]", "version 2"},
      {"[1,2,{},[{\"name\":\"/x\"},{\"name\":\"f\",\"asize\":", "cut short"},
      {"[1,2,{}]", "no tree"},
      {"[1,2,{},[{\"name\":\"/x\"},{\"name\":\"f\",\"asize\":-1}]]", "asize"},
      {"[1,2,{},[{\"name\":\"/x\"},{\"name\":\"f\",\"dsize\":1.5}]]", "dsize"},
      {"[1,2,{},[{\"name\":\"/x\"},{\"name\":\"f\",\"asize\":99999999999999999999}]]", "asize"},
      {"[1,2,{},[{\"name\":\"/x\"},{\"name\":\"a/b\"}]]", "'/'"},
      {"[1,2,{},[{\"name\":\"/x\"},[{\"name\":\"..\"}]]]", "'.' or '..'"},
      {"[1,2,{},[{\"name\":\"/x\"},{\"name\":\"a\\u0000b\"}]]", "zero byte"},
      {"[1,2,{},[{\"name\":\"/x\"},{\"asize\":1}]]", "without a name"},
      {"[1,2,{},[{\"name\":\"/x\"},[]]]", "info object"},
      {"[1,2,{},[{\"name\":\"/x\"},7]]", "neither an object nor an array"},
      {"[1,2,{},[{\"name\":\"/x\"},{\"name\":\"f\",\"hlnkc\":\"yes\"}]]", "hlnkc"},
  };
  for (const Case& c : cases) {
    Reading r;
    EXPECT_FALSE(r.Read(c.text)) << c.text;
    EXPECT_NE(S(r.read.error).find(c.says), std::string::npos)
        << c.text << " -> " << S(r.read.error);
    EXPECT_LE(r.read.errorOffset, (int64_t)c.text.size());
  }
  Reading r;
  EXPECT_FALSE(r.Read("[1,2,{},[{\"name\":\"/x\"},{\"name\":\"a/b\"}]]"));
  EXPECT_EQ(r.read.errorOffset, 36);  // the end of the entry that holds the name
}

TEST_F(SavedScanTest, NestingPastThePathBudgetIsRefusedWithoutDeepRecursion) {
  // 3,000 levels of one-byte names pass the 4,095-byte budget; a million open brackets are no
  // dump at all. Neither may cost a stack frame per level or much memory.
  std::string deep = "[1,2,{},[{\"name\":\"/r\"}";
  for (int i = 0; i < 3000; ++i) deep += ",[{\"name\":\"a\"}";
  for (int i = 0; i < 3000; ++i) deep += "]";
  deep += "]]";
  Reading r;
  EXPECT_FALSE(r.Read(deep));
  EXPECT_NE(S(r.read.error).find("longer than"), std::string::npos) << S(r.read.error);
  Reading b;
  EXPECT_FALSE(b.Read(std::string(1000000, '[')));
  // 2,000 levels fit: read, built and released without recursion in the builder.
  std::string fits = "[1,2,{},[{\"name\":\"/\"}";
  for (int i = 0; i < 2000; ++i) fits += ",[{\"name\":\"a\"}";
  for (int i = 0; i < 2000; ++i) fits += "]";
  fits += "]]";
  Reading f;
  EXPECT_TRUE(f.Read(fits)) << S(f.read.error);
  EXPECT_EQ(NodeTotal(&f.root), 2001 * 4096LL);
  // A directory the scan skipped past the budget is saved unread and empty: it reads as a zero
  // directory, counted apart; anything below it is too deep.
  std::string name(255, 'n');
  std::string near = "[1,2,{},[{\"name\":\"/r\"}";
  for (int i = 0; i < 15; ++i) near += ",[{\"name\":\"" + name + "\",\"dsize\":4096}";
  auto past = [&](const std::string& info, const std::string& inside) {
    return near + ",[{\"name\":\"" + name + "\"" + info + "}" + inside + "]" +
           std::string(16, ']') + "]";
  };
  Reading skipped;
  EXPECT_TRUE(skipped.Read(past(",\"read_error\":true", ""))) << S(skipped.read.error);
  EXPECT_EQ(skipped.build.totals.skipped, 1);
  EXPECT_EQ(skipped.build.totals.unreadable, 0);
  const DirNode* n = &skipped.root;
  for (int i = 0; i < 15; ++i) n = n->firstChild;
  ASSERT_TRUE(n->firstChild);
  EXPECT_EQ(Name(n->firstChild), name);
  EXPECT_EQ(NodeTotal(n->firstChild), 0);
  EXPECT_FALSE(n->firstChild->readError);
  Reading below, unmarked;
  EXPECT_FALSE(below.Read(past(",\"read_error\":true", ",{\"name\":\"f\"}")));
  EXPECT_NE(S(below.read.error).find("longer than"), std::string::npos);
  EXPECT_FALSE(unmarked.Read(past("", "")));
}

TEST_F(SavedScanTest, WrittenDumpReadsBackAsTheSameTreeAndNamesKeepTheirBytes) {
  // Names with a quote, a backslash, control bytes and bytes that are no UTF-8 at all.
  std::string odd = "q\"b\\c\x01\x1f\x7f\xff\xfe";
  std::string escaped;
  AppendJsonName(&escaped, odd.data(), (int)odd.size());
  EXPECT_EQ(escaped, "q\\\"b\\\\c\\u0001\\u001f\\u007f\xff\xfe");
  std::string source = std::string("[1,1,{\"timestamp\":77},[{\"name\":\"/s\",\"dev\":3},") +
                       "{\"name\":\"" + escaped + "\",\"asize\":5000,\"dsize\":8192}," +
                       "[{\"name\":\"" + escaped + "\"},{\"name\":\"l\",\"asize\":1,\"ino\":9," +
                       "\"hlnkc\":true,\"nlink\":3},{\"name\":\"x\",\"excluded\":\"pattern\"}]," +
                       "{\"name\":\"n\",\"asize\":3,\"notreg\":true}]]";
  FILE* out = std::tmpfile();
  DumpWriter w;
  SaveFacts facts = {"9.9", 77, 0, true, true, false, PMake(""), 0, 0, 0};
  StartDumpWriter(&w, out, facts);
  Reading first;
  first.sink = &w.sink;
  ASSERT_TRUE(first.Read(source)) << S(first.read.error);
  std::fflush(out);
  EXPECT_TRUE(DumpWriterOk(&w));
  std::string written = Contents(out);
  std::fclose(out);
  EXPECT_EQ(written,
            "[1,2,{\"progname\":\"quorvel\",\"progver\":\"9.9\",\"timestamp\":77,\"quorvel\":"
            "{\"exclude\":[],\"start_charged\":true}},\n"
            "[{\"name\":\"/s\",\"dev\":3},\n"
            "{\"name\":\"" +
                escaped +
                "\",\"asize\":5000,\"dsize\":8192},\n"
                "[{\"name\":\"" +
                escaped +
                "\"},\n"
                "{\"name\":\"l\",\"asize\":1,\"ino\":9,\"hlnkc\":true,\"nlink\":3},\n"
                "{\"name\":\"x\",\"excluded\":\"pattern\"}],\n"
                "{\"name\":\"n\",\"asize\":3,\"notreg\":true}]]\n");
  Reading second;
  ASSERT_TRUE(second.Read(written)) << S(second.read.error);
  EXPECT_EQ(Name(second.root.firstChild), odd);
  EXPECT_EQ(NodeTotal(&second.root), NodeTotal(&first.root));
  EXPECT_EQ(second.build.totals.excludedListed, 1);
}

TEST_F(SavedScanTest, ReadErrorSaidAfterTheEntriesIsWrittenIntoTheRoomKeptForIt) {
  FILE* out = std::tmpfile();
  DumpWriter w;
  StartDumpWriter(&w, out, SaveFacts{"1", 0, 4096, false, false, false, PMake(""), 0, 0, 0});
  TreeBuild b;
  DirNode root = {};
  root.name = AllocateName("/r", 2);
  BeginTree(&b, BuildSettings{false, INT32_MAX, 0, NAME, true, 4096, 4096, false}, &root, &w.sink);
  DirectoryFacts mayFail = {0, 0, false, 0, false, true};
  TreeOpenDirectory(&b, "/r", 2, mayFail);
  TreeOpenDirectory(&b, "d", 1, mayFail);
  TreeAddFile(&b, FileFacts{"f", 1, 10, 10, 4096, false, 0, 0, 0, false});
  TreeMarkReadError(&b);
  TreeCloseDirectory(&b);
  TreeCloseDirectory(&b);
  FinishTree(&b);
  std::fflush(out);
  std::string written = Contents(out);
  std::fclose(out);
  EXPECT_NE(written.find("[{\"name\":\"d\",\"read_error\":true}"), std::string::npos) << written;
  CollapseChildren(&root);
  std::free(root.name);
  Reading back;
  ASSERT_TRUE(back.Read(written)) << S(back.read.error);
  EXPECT_EQ(back.build.totals.unreadable, 1);
  EXPECT_EQ(back.build.totals.files, 1);
}

TEST_F(SavedScanTest, CommitThatCannotTakeTheNameLeavesWhatIsThereAndNoTemporary) {
  namespace fs = std::filesystem;
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  fs::path dir = fs::temp_directory_path() / ("qv-commit-" + std::to_string(stamp));
  ASSERT_TRUE(fs::create_directory(dir));
  std::string target = (dir / "target.json").string();
  auto names = [&] {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    return out;
  };
#ifndef _WIN32
  struct sigaction before, after;
  sigaction(SIGTERM, nullptr, &before);
#endif
  SaveFile save = {};
  BStr reason = {};
  ASSERT_TRUE(CreateSaveFile(PMake(target.c_str()), &save, &reason)) << S(reason);
  std::fputs("new", save.file);
  // A directory takes the name meanwhile: the rename fails, the directory and what it holds
  // stay, the temporary file goes and the interrupt guard is disarmed.
  fs::create_directory(target);
  std::ofstream(target + "/inside").put('x');
  EXPECT_FALSE(CommitSaveFile(&save, &reason));
  EXPECT_GT(reason.length, 0);
#ifndef _WIN32
  EXPECT_EQ(S(reason), "Is a directory");
  sigaction(SIGTERM, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
#endif
  EXPECT_EQ(save.file, nullptr);
  EXPECT_EQ(save.temporary.length, 0);
  EXPECT_EQ(names(), std::vector<std::string>{"target.json"});
  EXPECT_TRUE(fs::exists(target + "/inside"));
  fs::remove_all(dir);
}

TEST_F(SavedScanTest, GrowthByPathWithNewAndGoneDirectories) {
  const char then[] =
      "[1,2,{},[{\"name\":\"/p\"},[{\"name\":\"keep\"},{\"name\":\"f\",\"dsize\":4096,"
      "\"asize\":4096}],[{\"name\":\"old\"},[{\"name\":\"deep\"}]],[{\"name\":\"shrunk\"},"
      "{\"name\":\"g\",\"asize\":40960,\"dsize\":40960}]]]";
  const char now[] =
      "[1,2,{},[{\"name\":\"/p\"},[{\"name\":\"keep\"},{\"name\":\"f\",\"dsize\":8192,"
      "\"asize\":8192}],[{\"name\":\"shrunk\"}],[{\"name\":\"new\"},[{\"name\":\"inner\"}]]]]";
  Reading before;
  before.settings.keepAll = true;
  before.settings.cluster = before.settings.fileSystemCluster = 4096;
  ASSERT_TRUE(before.Read(then));
  Reading after;
  after.settings.cluster = after.settings.fileSystemCluster = 4096;
  ASSERT_TRUE(after.Read(now));
  int64_t total = CompareTrees(&after.root, &before.root, after.settings);
  EXPECT_EQ(total, NodeTotal(&after.root) - NodeTotal(&before.root));
  EXPECT_EQ(ChildNames(&after.root), (std::vector<std::string>{"keep", "new", "old", "shrunk"}));
  EXPECT_EQ(NodeGrowth(Child(&after.root, "keep")).bytes, 4096);
  EXPECT_EQ(NodeGrowth(Child(&after.root, "shrunk")).bytes, -40960);
  const DirNode* added = Child(&after.root, "new");
  EXPECT_EQ(NodeGrowth(added).change, Change::New);
  EXPECT_EQ(NodeGrowth(added).bytes, NodeTotal(added));
  EXPECT_EQ(NodeGrowth(added->firstChild).change, Change::New);
  const DirNode* gone = Child(&after.root, "old");
  EXPECT_EQ(NodeGrowth(gone).change, Change::Gone);
  EXPECT_EQ(NodeGrowth(gone).bytes, -2 * 4096);  // it and "deep", tables of one cluster each
  EXPECT_EQ(NodeTotal(gone), 0);
  EXPECT_EQ(gone->firstChild, nullptr);  // what was below it is in its figure, not listed
}

TEST_F(SavedScanTest, GoneDirectoriesOnlyWhereEverySubdirectoryIsShown) {
  const char then[] =
      "[1,2,{},[{\"name\":\"/p\"},[{\"name\":\"a\"},[{\"name\":\"x\"}]],[{\"name\":\"t\"}],"
      "[{\"name\":\"big\"},{\"name\":\"f\",\"asize\":90000,\"dsize\":90112}]]]";
  const char now[] =
      "[1,2,{},[{\"name\":\"/p\"},[{\"name\":\"a\"},{\"name\":\"f\",\"asize\":30000,"
      "\"dsize\":32768},[{\"name\":\"y\"}]]]]";
  Reading before;
  before.settings.keepAll = true;
  before.settings.cluster = before.settings.fileSystemCluster = 4096;
  ASSERT_TRUE(before.Read(then));
  // At the depth limit a's subdirectories are merged into it: x cannot be told gone.
  Reading limited;
  limited.settings.cluster = limited.settings.fileSystemCluster = 4096;
  limited.settings.maxDepth = 1;
  ASSERT_TRUE(limited.Read(now));
  CompareTrees(&limited.root, &before.root, limited.settings);
  EXPECT_EQ(ChildNames(&limited.root), (std::vector<std::string>{"a ...", "big", "t"}));
  EXPECT_EQ(limited.root.firstChild->firstChild, nullptr);
  // With a minimum size the small gone directory t has no row, big has its own; a, whose
  // subdirectory y was folded into it, cannot tell that x is gone.
  Reading sized;
  sized.settings.cluster = sized.settings.fileSystemCluster = 4096;
  sized.settings.minSize = 20000;
  sized.settings.sortOrder = GROWTH;
  ASSERT_TRUE(sized.Read(now));
  CompareTrees(&sized.root, &before.root, sized.settings);
  EXPECT_EQ(ChildNames(&sized.root), (std::vector<std::string>{"a ...", "big"}));
  EXPECT_EQ(sized.root.firstChild->firstChild, nullptr);
  // The growth order: largest first, ties as TOTAL.
  Reading ordered;
  ordered.settings.cluster = ordered.settings.fileSystemCluster = 4096;
  ordered.settings.sortOrder = GROWTH;
  ASSERT_TRUE(ordered.Read(now));
  CompareTrees(&ordered.root, &before.root, ordered.settings);
  EXPECT_EQ(ChildNames(&ordered.root), (std::vector<std::string>{"a", "t", "big"}));
  EXPECT_EQ(ChildNames(ordered.root.firstChild), (std::vector<std::string>{"y", "x"}));
}

TEST_F(SavedScanTest, MovesAreFoundByWhatTheDirectoriesHoldAndOnlyChangesKept) {
  // lib/fp moved under vendor (new), with a subdirectory of its own; keep went to keep2; e
  // (empty) went to e2, which holds nothing either and so is not a move; s lost a file and d
  // is gone. Then f in fp is 4096 bytes, as now; gone's files are other.
  const char then[] =
      "[1,2,{},[{\"name\":\"/p\"},[{\"name\":\"lib\"},[{\"name\":\"fp\"},{\"name\":\"f\","
      "\"asize\":4096,\"dsize\":4096},[{\"name\":\"in\"},{\"name\":\"g\",\"asize\":10,"
      "\"dsize\":4096}]]],[{\"name\":\"keep\"},{\"name\":\"k\",\"asize\":5,\"dsize\":4096}],"
      "[{\"name\":\"e\"}],[{\"name\":\"s\"},{\"name\":\"a\",\"asize\":8192,\"dsize\":8192},"
      "{\"name\":\"b\",\"asize\":8192,\"dsize\":8192}],[{\"name\":\"d\"},{\"name\":\"z\","
      "\"asize\":9000,\"dsize\":12288}],[{\"name\":\"same\"},{\"name\":\"q\",\"asize\":1,"
      "\"dsize\":4096}]]]";
  const char now[] =
      "[1,2,{},[{\"name\":\"/p\"},[{\"name\":\"lib\"}],[{\"name\":\"vendor\"},[{\"name\":\"fp\"},"
      "{\"name\":\"f\",\"asize\":4096,\"dsize\":4096},[{\"name\":\"in\"},{\"name\":\"g\","
      "\"asize\":10,\"dsize\":4096}]]],[{\"name\":\"keep2\"},{\"name\":\"k\",\"asize\":5,"
      "\"dsize\":4096}],[{\"name\":\"e2\"}],[{\"name\":\"s\"},{\"name\":\"a\",\"asize\":8192,"
      "\"dsize\":8192}],[{\"name\":\"same\"},{\"name\":\"q\",\"asize\":1,\"dsize\":4096}]]]";
  ContentTable thenHeld, nowHeld;
  Reading before;
  before.settings.keepAll = true;
  before.settings.cluster = before.settings.fileSystemCluster = 4096;
  before.settings.contents = &thenHeld;
  ASSERT_TRUE(before.Read(then));
  for (SortOrder order : {NAME, CHANGE}) {
    // The last round's growth is of nodes since freed, whose addresses this round's may take.
    ForgetGrowth();
    nowHeld.clear();
    Reading after;
    after.settings.cluster = after.settings.fileSystemCluster = 4096;
    after.settings.contents = &nowHeld;
    after.settings.sortOrder = order;
    ASSERT_TRUE(after.Read(now));
    ContentTable held = thenHeld;
    CompareTrees(&after.root, &before.root, after.settings, &held);
    const DirNode* fp = Child(Child(&after.root, "vendor"), "fp");
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(NodeGrowth(fp).change, Change::Moved);
    EXPECT_EQ(NodeGrowth(fp).bytes, 0);
    ASSERT_NE(MovedFrom(fp), nullptr);
    EXPECT_EQ(*MovedFrom(fp), std::string("lib") + PathSeparator + "fp");
    // What moved with it is compared with what was below it, not new.
    EXPECT_EQ(NodeGrowth(fp->firstChild).change, Change::Same);
    EXPECT_EQ(MovedFrom(fp->firstChild), nullptr);
    EXPECT_EQ(NodeGrowth(Child(&after.root, "vendor")).change, Change::New);
    EXPECT_EQ(NodeGrowth(Child(&after.root, "keep2")).change, Change::Moved);
    EXPECT_EQ(NodeGrowth(Child(&after.root, "e2")).change, Change::New);
    if (order == NAME) {
      // No gone line for what moved; the empty e and d are gone.
      EXPECT_EQ(ChildNames(&after.root), (std::vector<std::string>{"d", "e", "e2", "keep2", "lib",
                                                                    "s", "same", "vendor"}));
      continue;
    }
    // The largest change first, whatever its sign (vendor +20 K, lib and d -16 K, s -8 K, e2
    // +4 K, e -4 K); equals by total.
    EXPECT_EQ(ChildNames(&after.root), (std::vector<std::string>{"vendor", "lib", "d", "s", "e2",
                                                                  "e", "keep2", "same"}));
    KeepChanged(&after.root);
    EXPECT_EQ(ChildNames(&after.root),
              (std::vector<std::string>{"vendor", "lib", "d", "s", "e2", "e", "keep2"}));
    EXPECT_EQ(ChildNames(Child(&after.root, "vendor")), std::vector<std::string>{"fp"});
    EXPECT_EQ(Child(&after.root, "vendor")->firstChild->firstChild, nullptr);  // in: unchanged
  }
}

TEST_F(SavedScanTest, DirectoriesOfOneNameAreMatchedOneToOneAndGoneOnesPlacedAsInsertedOneByOne) {
  // Each "a" of now takes one of then; the gone ones go where one-by-one insertion puts them.
  const char then[] =
      "[1,2,{},[{\"name\":\"/p\"},[{\"name\":\"a\"}],[{\"name\":\"b\"}],[{\"name\":\"a\"}],"
      "[{\"name\":\"c\"}],[{\"name\":\"n\"}],[{\"name\":\"a\"}]]]";
  const char now[] =
      "[1,2,{},[{\"name\":\"/p\"},[{\"name\":\"a\"},{\"name\":\"f\",\"asize\":8192,"
      "\"dsize\":8192}],[{\"name\":\"n\"}],[{\"name\":\"a\"}]]]";
  Reading before;
  before.settings.keepAll = true;
  ASSERT_TRUE(before.Read(then));
  for (SortOrder order : {NAME, TOTAL}) {
    Reading after;
    after.settings.sortOrder = order;
    ASSERT_TRUE(after.Read(now));
    CompareTrees(&after.root, &before.root, after.settings);
    EXPECT_EQ(ChildNames(&after.root),
              (order == NAME ? std::vector<std::string>{"a", "a", "a", "b", "c", "n"}
                             : std::vector<std::string>{"a", "n", "a", "c", "b", "a"}));
    int gone = 0;
    for (const DirNode* n = after.root.firstChild; n; n = n->nextSibling) {
      EXPECT_NE(NodeGrowth(n).change, Change::New);
      gone += NodeGrowth(n).change == Change::Gone;
    }
    EXPECT_EQ(gone, 3);
  }
}
