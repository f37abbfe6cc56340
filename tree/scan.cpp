#include "tree/scan.h"

#include <cstdio>

#include "console/console.h"
#include "console/output.h"
#include "console/strings.h"
#include "tree/find.h"
#include "tree/seen_files.h"

ScanSettings Scan = {false, 255, 0, NAME, 3, 255, 4};
PathStr ScanPath = {0, {0}};
int ScanDepth = 0;
int32_t TotalFiles = 0;
int64_t TotalWaste = 0;
int32_t UnreadableDirectories = 0;

namespace {
const char Spinner[4] = {'|', '/', (char)0xC4, '\\'};
int SpinnerIndex = 0;    // next progress character; never reset between runs
bool SpinDrawn = false;  // the spinner has been drawn at least once
int64_t LastSpin = 0;    // when the spinner was last drawn

// The turning progress character in the first column of the status line. It advances for every
// directory but is drawn at most every 50 ms, and never when nobody can see it: a write per
// directory would cost more than the scan of a small directory.
void Spin() {
  int index = SpinnerIndex;
  SpinnerIndex = (SpinnerIndex + 1) % 4;
  if (!StatusVisible()) return;
  int64_t now = MonotonicMilliseconds();
  // A clock that went backwards (a tick count that wrapped) draws at once.
  if (SpinDrawn && now >= LastSpin && now - LastSpin < 50) return;
  SpinDrawn = true;
  LastSpin = now;
  char text[2] = {Spinner[index], 8};
  WriteStatus(text, 2);
}

// Files with several names (hard links) met in this run, by device and inode: such a file is
// charged at the first of its names only. Holds only files that may have more than one name.
SeenFiles LinkedFilesSeen;

// The bytes a file is charged: its listed size in exact mode; otherwise the data it holds on
// the disk, and nothing for a further name of a file already charged.
int64_t ChargedSize(const FindEntry& entry) {
  int64_t size = Scan.dirListingSizes ? entry.size : entry.allocated;
  if (size < 0) size = 0;
  if (!Scan.dirListingSizes && entry.linked &&
      !MarkSeen(&LinkedFilesSeen, entry.device, entry.inode))
    return 0;
  return size;
}

// Writes the two lines of a subdirectory whose path would exceed the budget.
void ReportSkipped(const DirNode* c) {
  char budget[16];
  int digits = std::snprintf(budget, sizeof budget, "%d", Scan.pathBudget);
  WriteText("Maximum path length of ");
  WriteText(budget, digits);
  WriteText(" exceeded for directory ");
  WriteName(ScanPath.text, ScanPath.length);
  WriteName(NameText(c), NameLength(c));
  WriteLineEnd();
  WriteText("Path skipped");
  WriteLineEnd();
}
}  // namespace

bool ScanDirectory(DirNode* n) {
  const FileSystemOps* fs = ScanFileSystem;
  if (ScanDepth == 0) {
    fs->startScan();
    ForgetSeen(&LinkedFilesSeen);
    UnreadableDirectories = 0;
  }
  Spin();
  // The separator may take the path one byte past the budget: a path of the budget's length is
  // read.
  AppendBackslash(ScanPath, Scan.pathBudget + 1);
  const int L = ScanPath.length;
  FindEntry entry;
  // A path without room for the enumeration's additions cannot be read: it is reported like a
  // path that does not exist.
  bool fits = L > 0 && ScanPath.text[L - 1] == PathSeparator &&
              L - 1 + Scan.patternRoom <= Scan.pathBudget;
  FindResult start = fits ? fs->findFirst(ScanPath, &entry) : FindPathNotFound;
  if (start == FindPathNotFound) {
    fs->findClose();
    BStr message = BMake("Path was not found (maximum path length exceeded?): ");
    WriteText(message);
    WriteName(ScanPath.text, ScanPath.length);
    WriteLineEnd();
    if (ScanDepth == 0) fs->endScan();
    return false;
  }
  if (start == FindFailed) UnreadableDirectories = AddCount(UnreadableDirectories, 1);
  ++ScanDepth;
  DirNode* pending = nullptr;
  int32_t entries = 0;
  if (start == FindFound) {
    do {
      if (entries < INT32_MAX) ++entries;
      if (entry.attributes & AttrVolumeLabel) continue;
      if (entry.attributes & AttrDirectory) {
        bool dots = entry.name[0] == '.' &&
                    (entry.nameLength == 1 || (entry.nameLength == 2 && entry.name[1] == '.'));
        if (!dots) MakeNode(entry.name, entry.nameLength, &pending);
        continue;
      }
      n->fileCount = AddCount(n->fileCount, 1);
      TotalFiles = AddCount(TotalFiles, 1);
      int64_t size = ChargedSize(entry);
      if (Scan.dirListingSizes)
        n->localSize = AddSize(n->localSize, size);
      else
        n->localSize = AddSize(n->localSize, RoundToCluster(size, &n->wastage));
    } while (fs->findNext(&entry));
  }
  fs->findClose();
  if (!Scan.dirListingSizes) {
    if (L > Scan.rootPathLength)
      n->localSize = AddSize(n->localSize, RoundToCluster((int64_t)entries * 32, &n->wastage));
    TotalWaste = AddSize(TotalWaste, n->wastage);
  }
  // The children are placed all at once when the last has been read: the same order as placing
  // each as it completes, without a walk of the sibling list per child.
  DirNode* placed = nullptr;
  DirNode** placedTail = &placed;
  for (DirNode* c = pending; c;) {
    BCut(ScanPath, L);
    int nameLength = NameLength(c);
    if (SubdirectoryFits(L, nameLength)) {
      BAppend(ScanPath, NameText(c), nameLength);
      ScanDirectory(c);
      n->subdirsSize = AddSize(n->subdirsSize, NodeTotal(c));
      if (ScanDepth >= Scan.maxDepth && c->firstChild) {
        CollapseChildren(c);
        MarkMerged(c);
      }
    } else {
      ReportSkipped(c);
    }
    DirNode* next = c->nextSibling;
    if (NodeTotal(c) < Scan.minSize) {
      MarkMerged(n);
      FoldIntoParent(c, n);
    } else {
      c->nextSibling = nullptr;
      *placedTail = c;
      placedTail = &c->nextSibling;
    }
    c = next;
  }
  BCut(ScanPath, L);
  n->firstChild = SortSiblings(Scan.sortOrder, placed);
  --ScanDepth;
  if (ScanDepth == 0) {
    fs->endScan();
    ForgetSeen(&LinkedFilesSeen);
  }
  return true;
}
