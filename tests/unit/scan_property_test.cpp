// The scan against an independent account of random scripted trees, under random settings:
// every figure, the shape the depth limit and the minimum size leave, the markers and the
// sibling orders must agree with what the tree holds. The trees hold sparse files and files with
// several names (hard links, also across directories): in wastage mode a file counts for the
// bytes it holds, once, at the first of its names in the scan's order.
#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>

#include "fake_fs.h"
#include "test_support.h"

namespace {
// One directory of the random tree, with the figures it must end up with.
struct FileModel {
  std::string name;
  int64_t size, allocated;
  uint64_t inode;    // 0 for a file of one name
  int64_t held = 0;  // space given it on a disk of 4096-byte clusters; 0: not told
};

struct Model {
  std::string path;              // with the final separator
  std::vector<FileModel> files;  // in enumeration order
  std::vector<Model> subdirs;    // in enumeration order
  int entries = 0;               // ".", "..", files and subdirectories
  int64_t ownSize = 0, ownWaste = 0;
  int64_t total = 0;  // own size and everything below
  int32_t subtreeFiles = 0;
  int64_t subtreeWaste = 0;
};

int64_t Rounded(int64_t size, int64_t* waste) {
  int64_t r = size % ClusterSize;
  if (r == 0) return size;
  *waste += ClusterSize - r;
  return size + ClusterSize - r;
}

void Build(Model& m, std::mt19937& random, int depth) {
  static const char* names[] = {"a", "B", "c", "Dd", "e e", "f,g", "-h", "i_j", "K", "l9"};
  FakeDirectory& d = FakeDir(m.path);
  std::vector<std::string> pool(std::begin(names), std::end(names));
  std::shuffle(pool.begin(), pool.end(), random);
  int subdirs = depth < 5 ? (int)(random() % 4) : 0;
  int files = (int)(random() % 4);
  static const int64_t sizes[] = {0, 1, 4095, 4096, 4097, 10000, 123456, 3000000};
  // The files that several names share, each with its one size.
  static const int64_t linkedSizes[] = {0, 5000, 8192, 70000};
  for (int i = 0; i < subdirs + files; ++i) {
    std::string name = pool[i];
    if (i < subdirs) {
      d.entries.push_back(FakeSubdir(name));
      Model sub;
      sub.path = m.path + name + PathSeparator;
      m.subdirs.push_back(sub);
    } else if (random() % 4 == 0) {
      uint64_t inode = 1 + random() % 4;
      int64_t size = linkedSizes[inode - 1];
      d.entries.push_back(FakeLinkedFile(name, size, inode));
    } else if (random() % 5 == 0) {
      int64_t size = sizes[random() % (sizeof sizes / sizeof *sizes)];
      int64_t allocated = size / 4096 / 2 * 4096;
      d.entries.push_back(FakeSparseFile(name, size, allocated));
    } else if (random() % 5 == 0) {
      int64_t size = sizes[random() % (sizeof sizes / sizeof *sizes)];
      d.entries.push_back(FakeReservedFile(name, size, (size + 4095) / 4096 * 4096 + 4096 * (int64_t)(random() % 3)));
    } else {
      d.entries.push_back(FakeFile(name, sizes[random() % (sizeof sizes / sizeof *sizes)]));
    }
  }
  // Mix files and subdirectories in the listing.
  std::shuffle(d.entries.begin() + 2, d.entries.end(), random);
  std::vector<Model> ordered;
  for (const FakeEntry& e : d.entries) {
    if (!(e.attributes & AttrDirectory))
      m.files.push_back({e.name, e.size, e.allocated < 0 ? e.size : e.allocated, e.inode, e.held});
    for (const Model& s : m.subdirs)
      if (e.attributes & AttrDirectory && s.path == m.path + e.name + PathSeparator)
        ordered.push_back(s);
  }
  m.subdirs = ordered;
  m.entries = (int)d.entries.size();
  for (Model& s : m.subdirs) Build(s, random, depth + 1);
}

// Charges m and everything below it in the order the scan meets them: a directory's own files
// in enumeration order, then its subdirectories from the last enumerated to the first. `seen`
// holds the linked files charged so far.
void Account(Model& m, bool exact, int rootPathLength, std::set<uint64_t>& seen) {
  for (const FileModel& f : m.files) {
    if (exact) {
      m.ownSize += f.size;
    } else if (f.inode == 0 || seen.insert(f.inode).second) {
      m.ownSize += Rounded(f.allocated, &m.ownWaste);
      // Space reserved past the end: what the disk gives beyond the data in its own clusters.
      int64_t reserved = f.held - (f.allocated + 4095) / 4096 * 4096;
      if (reserved > 0) {
        m.ownSize += reserved;
        m.ownWaste += reserved;
      }
    }
  }
  if (!exact && (int)m.path.size() > rootPathLength)
    m.ownSize += Rounded(32LL * m.entries, &m.ownWaste);
  m.total = m.ownSize;
  m.subtreeFiles = (int32_t)m.files.size();
  m.subtreeWaste = m.ownWaste;
  for (auto s = m.subdirs.rbegin(); s != m.subdirs.rend(); ++s)
    Account(*s, exact, rootPathLength, seen);
  for (Model& s : m.subdirs) {
    m.total += s.total;
    m.subtreeFiles += s.subtreeFiles;
    m.subtreeWaste += s.subtreeWaste;
  }
}

std::string RealName(const DirNode* n) {
  std::string name = Name(n);
  if (name.size() >= 4 && name.compare(name.size() - 4, 4, " ...") == 0)
    name.resize(name.size() - 4);
  return name;
}

int EnumerationIndex(const Model& parent, const std::string& name) {
  for (size_t i = 0; i < parent.subdirs.size(); ++i)
    if (parent.subdirs[i].path == parent.path + name + PathSeparator) return (int)i;
  return -1;
}

std::string Upper(const std::string& s) {
  return S(UpperCaseAscii(B(s)));
}

// Checks node n against its model m; level 0 is the root.
void Check(const DirNode* n, const Model& m, int level, const std::string& where) {
  SCOPED_TRACE(where + " " + m.path);
  EXPECT_EQ(n->localSize, m.ownSize);
  EXPECT_EQ(n->subdirsSize, m.total - m.ownSize);
  int32_t files = (int32_t)m.files.size();
  int64_t waste = m.ownWaste;
  bool merged = false;
  std::vector<const Model*> kept;
  for (const Model& s : m.subdirs) {
    const DirNode* c = nullptr;
    for (const DirNode* k = n->firstChild; k; k = k->nextSibling)
      if (m.path + RealName(k) + PathSeparator == s.path) c = k;
    if (c) {
      kept.push_back(&s);
      Check(c, s, level + 1, where);
    } else {
      merged = true;
      files += s.subtreeFiles;
      waste += s.subtreeWaste;
    }
  }
  EXPECT_EQ(n->fileCount, files);
  EXPECT_EQ(n->wastage, waste);
  // A marker exactly where something was merged in.
  EXPECT_EQ(Name(n).size() >= 4 && Name(n).compare(Name(n).size() - 4, 4, " ...") == 0, merged);
  // Kept children: big enough, within the depth limit, in the order of the run.
  int count = 0;
  const DirNode* before = nullptr;
  for (const DirNode* c = n->firstChild; c; c = c->nextSibling, ++count) {
    EXPECT_GE(NodeTotal(c), Scan.minSize);
    EXPECT_LE(level + 1, Scan.maxDepth);
    if (before) {
      int ib = EnumerationIndex(m, RealName(before)), ic = EnumerationIndex(m, RealName(c));
      switch (Scan.sortOrder) {
        case NONE:
          EXPECT_LT(ib, ic);
          break;
        case NAME: {
          std::string a = Upper(Name(before)), b = Upper(Name(c));
          EXPECT_LE(a, b);
          if (a == b) {
            EXPECT_GT(ib, ic);
          }
          break;
        }
        default: {
          auto key = [](const DirNode* x) {
            switch (Scan.sortOrder) {
              case LOCAL:
                return x->localSize;
              case TOTAL:
                return NodeTotal(x);
              case WASTE:
                return x->wastage;
              default:
                return (int64_t)x->fileCount;
            }
          };
          EXPECT_GE(key(before), key(c));
          if (key(before) == key(c)) {
            EXPECT_LT(ib, ic);
          }
        }
      }
    }
    before = c;
  }
  EXPECT_EQ(count, (int)kept.size());
}
}  // namespace

TEST_F(Isolated, ScanAgreesWithAnIndependentAccountOfRandomTrees) {
  std::mt19937 random(2024);
  const std::string root = PathSeparator == '/' ? "/r" : "C:\\R";
  const SortOrder orders[] = {NONE, NAME, LOCAL, TOTAL, WASTE, FILES};
  const int64_t minimums[] = {0, 0, 1, 5000, 20000, 200000};
  const int depths[] = {1, 2, 3, 255};
  for (int round = 0; round < 400; ++round) {
    FakeFsReset();
    ScanFileSystem = FakeFileSystem();
    ClusterSize = round % 5 == 0 ? 1 : (round % 5 == 1 ? 512 : 4096);
    bool exact = random() % 4 == 0;
    Scan = ScanSettings{exact,
                        depths[random() % 4],
                        minimums[random() % 6],
                        orders[random() % 6],
                        round % 7 == 0 ? (int)root.size() + 1 : 0,
                        255,
                        4,
                        4096};
    Model m;
    m.path = root + PathSeparator;
    Build(m, random, 0);
    std::set<uint64_t> seen;
    Account(m, exact, Scan.rootPathLength, seen);
    TotalFiles = 0;
    TotalWaste = 0;
    ResetRoot(root);
    ScanPath = B(root);
    {
      Capture quiet;
      ASSERT_TRUE(ScanDirectory(&RootNode));
      EXPECT_EQ(quiet.text, "");
    }
    std::string where = "round " + std::to_string(round);
    EXPECT_EQ(TotalFiles, m.subtreeFiles) << where;
    EXPECT_EQ(TotalWaste, m.subtreeWaste) << where;
    EXPECT_EQ(NodeTotal(&RootNode), m.total) << where;
    EXPECT_EQ(RootNode.nextSibling, nullptr);
    EXPECT_EQ(FakeLog.openMost, m.entries ? 1 : 0);
    Check(&RootNode, m, 0, where);
    ReleaseRoot();
    if (HasFailure()) break;
  }
}
