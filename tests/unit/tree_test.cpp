// The tree operations on hand-built trees: making nodes, collapsing, folding, marking, rounding.
#include <cstdint>

#include "test_support.h"
#include "tree/seen_files.h"

TEST(MakeNode, PushesAZeroedNodeOnTheFrontOfTheList) {
  DirNode* list = nullptr;
  MakeNode("first", 5, &list);
  MakeNode("second", 6, &list);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(Name(list), "second");
  EXPECT_EQ(Name(list->nextSibling), "first");
  EXPECT_EQ(list->nextSibling->nextSibling, nullptr);
  EXPECT_EQ(list->fileCount, 0);
  EXPECT_EQ(list->localSize, 0);
  EXPECT_EQ(list->subdirsSize, 0);
  EXPECT_EQ(list->wastage, 0);
  EXPECT_EQ(list->firstChild, nullptr);
  Release(list->nextSibling);
  Release(list);
}

TEST(MakeNode, KeepsNamesByteForByte) {
  const char odd[] = {'a', ' ', ',', '-', (char)0xC3, (char)0xA9, 'z'};
  DirNode* list = nullptr;
  MakeNode(odd, sizeof odd, &list);
  EXPECT_EQ(Name(list), std::string(odd, sizeof odd));
  Release(list);
}

TEST(CollapseChildren, AddsFilesAndWastageButNotSizes) {
  // Sizes are already in subdirsSize; adding them again would count the subtree twice.
  DirNode* n = NewNode("n", 100, 1, 10, 600);
  DirNode* a = AddChild(n, NewNode("a", 200, 2, 20, 300));
  AddChild(a, NewNode("a1", 300, 3, 30));
  AddChild(n, NewNode("b", 100, 4, 40));
  CollapseChildren(n);
  EXPECT_EQ(n->firstChild, nullptr);
  EXPECT_EQ(n->fileCount, 1 + 2 + 3 + 4);
  EXPECT_EQ(n->wastage, 10 + 20 + 30 + 40);
  EXPECT_EQ(n->localSize, 100);
  EXPECT_EQ(n->subdirsSize, 600);
  EXPECT_EQ(Name(n), "n");
  Release(n);
}

TEST(CollapseChildren, OnALeafChangesNothing) {
  DirNode* n = NewNode("leaf", 5, 6, 7, 0);
  CollapseChildren(n);
  EXPECT_EQ(n->fileCount, 6);
  EXPECT_EQ(n->wastage, 7);
  Release(n);
}

TEST(FoldIntoParent, ParentTakesTheWholeSubtreesFilesAndWastage) {
  DirNode* p = NewNode("p", 4096, 1, 100, 8192);
  DirNode* c = NewNode("c", 4096, 2, 200, 4096);
  AddChild(c, NewNode("g", 4096, 3, 300));
  FoldIntoParent(c, p);
  EXPECT_EQ(p->fileCount, 6);
  EXPECT_EQ(p->wastage, 600);
  EXPECT_EQ(p->localSize, 4096);
  EXPECT_EQ(p->subdirsSize, 8192);
  EXPECT_EQ(p->firstChild, nullptr);
  Release(p);
}

TEST(Saturation, FileCountsStickAtTheirMaximum) {
  DirNode* n = NewNode("n", 0, INT32_MAX - 1);
  AddChild(n, NewNode("a", 0, 5));
  AddChild(n, NewNode("b", 0, INT32_MAX));
  CollapseChildren(n);
  EXPECT_EQ(n->fileCount, INT32_MAX);
  DirNode* c = NewNode("c", 0, 9, INT64_MAX);
  n->wastage = 1;
  FoldIntoParent(c, n);
  EXPECT_EQ(n->fileCount, INT32_MAX);
  EXPECT_EQ(n->wastage, INT64_MAX);
  Release(n);
}

TEST(MarkMerged, AppendsTheMarkerOnce) {
  DirNode* n = NewNode("AB");
  MarkMerged(n);
  EXPECT_EQ(Name(n), "AB ...");
  MarkMerged(n);
  EXPECT_EQ(Name(n), "AB ...");
  DirNode* m = NewNode("x ... y");  // the marker anywhere in the name counts
  MarkMerged(m);
  EXPECT_EQ(Name(m), "x ... y");
  DirNode* q = NewNode("x ..");  // not the marker
  MarkMerged(q);
  EXPECT_EQ(Name(q), "x .. ...");
  Release(n);
  Release(m);
  Release(q);
}

TEST(MarkMerged, LongNamesAreCutAt255) {
  DirNode* n = NewNode(std::string(253, 'x'));
  MarkMerged(n);
  EXPECT_EQ(NameLength(n), 255);
  EXPECT_EQ(Name(n), std::string(253, 'x') + " .");
  MarkMerged(n);  // still 255, still the same text
  EXPECT_EQ(Name(n), std::string(253, 'x') + " .");
  DirNode* full = NewNode(std::string(255, 'y'));
  MarkMerged(full);
  EXPECT_EQ(Name(full), std::string(255, 'y'));
  Release(n);
  Release(full);
}

TEST_F(Isolated, RoundToClusterPadsToWholeClusters) {
  ClusterSize = 4096;
  int64_t waste = 0;
  EXPECT_EQ(RoundToCluster(0, ClusterSize, &waste), 0);
  EXPECT_EQ(waste, 0);
  EXPECT_EQ(RoundToCluster(3000, ClusterSize, &waste), 4096);
  EXPECT_EQ(waste, 1096);
  EXPECT_EQ(RoundToCluster(8192, ClusterSize, &waste), 8192);
  EXPECT_EQ(waste, 1096);
  EXPECT_EQ(RoundToCluster(64, ClusterSize, &waste), 4096);
  EXPECT_EQ(waste, 1096 + 4032);
  EXPECT_EQ(RoundToCluster(4097, ClusterSize, &waste), 8192);
  EXPECT_EQ(waste, 1096 + 4032 + 4095);
}

TEST_F(Isolated, RoundToClusterOfOneChangesNothing) {
  ClusterSize = 1;
  int64_t waste = 0;
  EXPECT_EQ(RoundToCluster(12345, ClusterSize, &waste), 12345);
  EXPECT_EQ(RoundToCluster(INT64_MAX, ClusterSize, &waste), INT64_MAX);
  EXPECT_EQ(waste, 0);
}

TEST_F(Isolated, RoundToClusterSaturatesNearTheTop) {
  ClusterSize = 4096;
  int64_t waste = 0;
  EXPECT_EQ(RoundToCluster(INT64_MAX, ClusterSize, &waste), INT64_MAX);
  EXPECT_GT(waste, 0);
}

TEST(AddSize, SaturatesBothWays) {
  EXPECT_EQ(AddSize(INT64_MAX, 1), INT64_MAX);
  EXPECT_EQ(AddSize(INT64_MIN, -1), INT64_MIN);
  EXPECT_EQ(AddSize(5, -7), -2);
  EXPECT_EQ(AddCount(INT32_MAX, 1), INT32_MAX);
  EXPECT_EQ(AddCount(INT32_MAX - 3, 2), INT32_MAX - 1);
}

TEST(SeenFiles, EachFileOnceByDeviceAndIdWithinTwentyFourBytesAFile) {
  // Windows puts every file in: the set must stay small and exact for a million of them.
  SeenFiles set;
  const uint64_t files = 1000000;
  for (uint64_t id = 0; id < files; ++id) {
    ASSERT_TRUE(MarkSeen(&set, 7, id * 3)) << id;
    if (id > 64) {
      ASSERT_LE(SeenBytes(set), (int64_t)(24 * (id + 1))) << id;
    }
  }
  for (uint64_t id = 0; id < files; id += 997) EXPECT_FALSE(MarkSeen(&set, 7, id * 3)) << id;
  EXPECT_TRUE(MarkSeen(&set, 7, 1));
  // The same id on another device is another file; the id 0 is one like any other.
  EXPECT_TRUE(MarkSeen(&set, 8, 3));
  EXPECT_FALSE(MarkSeen(&set, 8, 3));
  EXPECT_TRUE(MarkSeen(&set, 8, 0));
  EXPECT_FALSE(MarkSeen(&set, 8, 0));
  // A device per directory, and ids that a plain multiplicative hash puts on one slot.
  for (uint64_t k = 1; k <= 20000; ++k) ASSERT_TRUE(MarkSeen(&set, 100 + k, 5));
  for (uint64_t k = 1; k <= 20000; ++k) ASSERT_TRUE(MarkSeen(&set, 9, k * 0xF1DE83E19937733Dull));
  for (uint64_t k = 1; k <= 20000; k += 13)
    EXPECT_FALSE(MarkSeen(&set, 9, k * 0xF1DE83E19937733Dull));
  ForgetSeen(&set);
  EXPECT_EQ(SeenBytes(set), 0);
  EXPECT_TRUE(MarkSeen(&set, 7, 3));
}
