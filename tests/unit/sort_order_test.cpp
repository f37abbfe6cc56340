// The six sibling orders, their tie-breaks, and the scan's merge placement agreeing with
// placement one child at a time.
#include <map>
#include <random>

#include "test_support.h"

namespace {
struct Sibling {
  const char* name;
  int64_t local, subdirs, waste;
  int32_t files;
};

// Places the subdirectories as the scan does: enumerated in the order given, handed to
// InsertChild from the last enumerated to the first. Returns the resulting names.
std::vector<std::string> Place(SortOrder order, std::vector<Sibling> enumerated) {
  DirNode* parent = NewNode("parent");
  for (auto it = enumerated.rbegin(); it != enumerated.rend(); ++it) {
    DirNode* c = NewNode(it->name, it->local, it->files, it->waste, it->subdirs);
    InsertChild(order, c, parent);
  }
  std::vector<std::string> names = ChildNames(parent);
  Release(parent);
  return names;
}

std::vector<std::string> PlaceNames(SortOrder order, std::vector<const char*> names) {
  std::vector<Sibling> siblings;
  for (const char* n : names) siblings.push_back({n, 0, 0, 0, 0});
  return Place(order, siblings);
}

using Names = std::vector<std::string>;
}  // namespace

TEST(SortByName, AscendingWithLettersOfEitherCaseAlike) {
  EXPECT_EQ(PlaceNames(NAME, {"cherry", "apple", "Banana"}), (Names{"apple", "Banana", "cherry"}));
  EXPECT_EQ(PlaceNames(NAME, {"abc", "ab"}), (Names{"ab", "abc"}));
  EXPECT_EQ(PlaceNames(NAME, {"zeta", "Alpha", "mid"}), (Names{"Alpha", "mid", "zeta"}));
}

TEST(SortByName, BytesCompareUnsignedAfterUpperCasing) {
  // "_" (0x5F) is above every upper-cased letter; digits are below; bytes above 127 are above.
  EXPECT_EQ(PlaceNames(NAME, {"a_", "aZ9", "az"}), (Names{"az", "aZ9", "a_"}));
  EXPECT_EQ(PlaceNames(NAME, {"b", "9", "A"}), (Names{"9", "A", "b"}));
  EXPECT_EQ(PlaceNames(NAME, {"\xC3\xA9t\xC3\xA9", "zebra", "Ecole"}),
            (Names{"Ecole", "zebra", "\xC3\xA9t\xC3\xA9"}));
}

TEST(SortByName, EqualNamesComeInReverseEnumerationOrder) {
  EXPECT_EQ(PlaceNames(NAME, {"Data", "data", "DATA"}), (Names{"DATA", "data", "Data"}));
}

TEST(SortByName, TheMergeMarkerTakesPart) {
  // "AB ..." compares its blank and full stops: it goes after "AB -" although "AB" would not.
  EXPECT_EQ(PlaceNames(NAME, {"AB ...", "AB -"}), (Names{"AB -", "AB ..."}));
  EXPECT_EQ(PlaceNames(NAME, {"AB", "AB -"}), (Names{"AB", "AB -"}));
}

TEST(SortNone, KeepsTheEnumerationOrder) {
  EXPECT_EQ(PlaceNames(NONE, {"c", "a", "b", "a"}), (Names{"c", "a", "b", "a"}));
}

TEST(SortBySize, DescendingWithEqualKeysInEnumerationOrder) {
  std::vector<Sibling> s = {{"small", 10, 0, 0, 0}, {"big", 30, 0, 0, 0},
                         {"tie1", 20, 0, 0, 0},  {"tie2", 20, 0, 0, 0}};
  EXPECT_EQ(Place(LOCAL, s), (Names{"big", "tie1", "tie2", "small"}));
}

TEST(SortByTotal, CountsEverythingBelow) {
  // LOCAL and TOTAL differ only for directories with subdirectories of their own.
  std::vector<Sibling> s = {{"deep", 10, 100, 0, 0}, {"flat", 50, 0, 0, 0}, {"tie", 60, 50, 0, 0}};
  EXPECT_EQ(Place(TOTAL, s), (Names{"deep", "tie", "flat"}));
  EXPECT_EQ(Place(LOCAL, s), (Names{"tie", "flat", "deep"}));
}

TEST(SortByWaste, DescendingWithEqualKeysInEnumerationOrder) {
  std::vector<Sibling> s = {{"z0", 0, 0, 0, 0}, {"w9", 0, 0, 9, 0}, {"a0", 0, 0, 0, 0}};
  EXPECT_EQ(Place(WASTE, s), (Names{"w9", "z0", "a0"}));
  // Exact sizes leave every wastage 0: the enumeration order.
  std::vector<Sibling> zero = {{"c", 5, 0, 0, 0}, {"a", 9, 0, 0, 0}, {"b", 1, 0, 0, 0}};
  EXPECT_EQ(Place(WASTE, zero), (Names{"c", "a", "b"}));
}

TEST(SortByFiles, DescendingWithEqualKeysInEnumerationOrder) {
  std::vector<Sibling> s = {{"one", 0, 0, 0, 1}, {"many", 0, 0, 0, 70000}, {"one'", 0, 0, 0, 1},
                         {"none", 0, 0, 0, 0}};
  EXPECT_EQ(Place(FILES, s), (Names{"many", "one", "one'", "none"}));
}

TEST(SortBySize, CompareAsSigned64Bit) {
  std::vector<Sibling> s = {{"fourGB", 4294967296LL, 0, 0, 0}, {"max", INT64_MAX, 0, 0, 0},
                         {"small", 1, 0, 0, 0}};
  EXPECT_EQ(Place(LOCAL, s), (Names{"max", "fourGB", "small"}));
}

// The scan orders each directory's children at once with SortSiblings; it must give exactly
// the list that handing them to InsertChild one by one builds, ties included.
TEST(SortSiblings, AgreesWithInsertChildOnRandomSiblingSets) {
  std::mt19937 random(12345);
  const char* names[] = {"a", "A", "b", "B", "ab", "aB", "Ab", "_", "9", "a ...", "a -"};
  for (SortOrder order : {NONE, NAME, LOCAL, TOTAL, WASTE, FILES}) {
    for (int round = 0; round < 300; ++round) {
      int n = (int)(random() % 40);
      std::vector<DirNode*> one, two;
      for (int i = 0; i < n; ++i) {
        const char* name = names[random() % (sizeof names / sizeof *names)];
        int64_t local = random() % 4, subdirs = random() % 4, waste = random() % 3;
        int32_t files = (int32_t)(random() % 3);
        one.push_back(NewNode(name, local, files, waste, subdirs));
        two.push_back(NewNode(name, local, files, waste, subdirs));
      }
      std::map<const DirNode*, int> index;
      for (int i = 0; i < n; ++i) index[one[i]] = index[two[i]] = i;

      DirNode* byInsertion = NewNode("p");
      for (DirNode* c : one) InsertChild(order, c, byInsertion);
      DirNode* list = nullptr;
      for (int i = n - 1; i >= 0; --i) {
        two[i]->nextSibling = list;
        list = two[i];
      }
      DirNode* byMerge = NewNode("p");
      byMerge->firstChild = SortSiblings(order, list);

      std::vector<int> a, b;
      for (DirNode* c = byInsertion->firstChild; c; c = c->nextSibling) a.push_back(index[c]);
      for (DirNode* c = byMerge->firstChild; c; c = c->nextSibling) b.push_back(index[c]);
      ASSERT_EQ(a, b) << "order " << (int)order << ", round " << round;
      Release(byInsertion);
      Release(byMerge);
    }
  }
}

TEST(SortSiblings, HandlesEmptyAndSingleLists) {
  EXPECT_EQ(SortSiblings(NAME, nullptr), nullptr);
  DirNode* one = NewNode("x");
  EXPECT_EQ(SortSiblings(NAME, one), one);
  EXPECT_EQ(one->nextSibling, nullptr);
  Release(one);
}
