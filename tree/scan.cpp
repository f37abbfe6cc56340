#include "tree/scan.h"

#include <cstdio>
#include <new>

#include "console/console.h"
#include "console/output.h"
#include "console/strings.h"
#include "tree/exclude.h"
#include "tree/find.h"
#include "tree/seen_files.h"

ScanSettings Scan = {false, 255, 0, NAME, 3, 255, 4, 4096};
PathStr ScanPath = {0, {0}};
int ScanDepth = 0;
int32_t TotalFiles = 0;
int64_t TotalWaste = 0;
int32_t UnreadableDirectories = 0;
int32_t LeftOutDirectories = 0;
int32_t ExcludedDirectories = 0;

namespace {
int StartLength = 0;  // length of the start directory's path with its separator, in ScanPath
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

// True the first time a file of several names is met in this run. Short of memory to remember
// it, the enumeration gives back what it holds; failing that, the file is charged again rather
// than the scan given up.
bool FirstNameOfFile(const FindEntry& entry) {
  for (int attempt = 0;; ++attempt) {
    try {
      return MarkSeen(&LinkedFilesSeen, entry.device, entry.inode);
    } catch (const std::bad_alloc&) {
      if (attempt > 0 || !ScanFileSystem->releaseMemory()) return true;
    }
  }
}

// Adds a file's size to n: its listed size in exact mode; otherwise the data it holds on the
// disk rounded up to the cluster, and whatever the file system gives it beyond that data
// rounded to its own unit (space reserved past the end), which counts as wastage as well:
// max(rounded data, held) when the cluster is the drive's. A further name of a file already
// charged adds nothing.
void ChargeFile(DirNode* n, const FindEntry& entry) {
  if (Scan.dirListingSizes) {
    n->localSize = AddSize(n->localSize, entry.size > 0 ? entry.size : 0);
    return;
  }
  if (entry.linked && !FirstNameOfFile(entry)) return;
  int64_t data = entry.allocated > 0 ? entry.allocated : 0;
  n->localSize = AddSize(n->localSize, RoundToCluster(data, &n->wastage));
  int64_t unit = Scan.fileSystemCluster > 0 ? Scan.fileSystemCluster : 1;
  int64_t own = data % unit == 0 ? data : AddSize(data, unit - data % unit);
  if (entry.held > own) {
    n->localSize = AddSize(n->localSize, entry.held - own);
    n->wastage = AddSize(n->wastage, entry.held - own);
  }
}

// Makes the node of a subdirectory; short of memory, once more after the enumeration has given
// back what it holds. False when it is left out.
bool MakeSubdirectoryNode(const FindEntry& entry, DirNode** pending) {
  if (MakeNode(entry.name, entry.nameLength, pending)) return true;
  return ScanFileSystem->releaseMemory() && MakeNode(entry.name, entry.nameLength, pending);
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
    LeftOutDirectories = 0;
    ExcludedDirectories = 0;
  }
  Spin();
  // The separator may take the path one byte past the budget: a path of the budget's length is
  // read.
  AppendBackslash(ScanPath, Scan.pathBudget + 1);
  const int L = ScanPath.length;
  if (ScanDepth == 0) StartLength = L;
  FindEntry entry;
  // A path without room for the enumeration's additions cannot be read: it is reported like a
  // path that does not exist.
  bool fits = L > 0 && ScanPath.text[L - 1] == PathSeparator &&
              L - 1 + Scan.patternRoom <= Scan.pathBudget;
  FindResult start = fits ? fs->findFirst(ScanPath, &entry) : FindPathNotFound;
  if (start == FindPathNotFound) {
    fs->findClose();
    const char message[] = "Path was not found (maximum path length exceeded?): ";
    if (ScanDepth == 0) {
      // The start directory: the run ends here without a report.
      WriteRunEndingMessage(message, ScanPath.text, ScanPath.length, "");
      fs->endScan();
    } else {
      WriteText(message);
      WriteName(ScanPath.text, ScanPath.length);
      WriteLineEnd();
    }
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
        if (!dots && !MakeSubdirectoryNode(entry, &pending))
          LeftOutDirectories = AddCount(LeftOutDirectories, 1);
        continue;
      }
      n->fileCount = AddCount(n->fileCount, 1);
      TotalFiles = AddCount(TotalFiles, 1);
      ChargeFile(n, entry);
    } while (fs->findNext(&entry));
  }
  fs->findClose();
  if (!Scan.dirListingSizes) {
    if (L > Scan.rootPathLength)
      n->localSize = AddSize(n->localSize, RoundToCluster((int64_t)entries * 32, &n->wastage));
    TotalWaste = AddSize(TotalWaste, n->wastage);
  }
  // The children are placed all at once when the last has been read: the same order as placing
  // each as it completes, without a walk of the sibling list per child. The pending list holds
  // the last listed first, so this is the visiting order ListingIndexOfVisit states.
  DirNode* placed = nullptr;
  DirNode** placedTail = &placed;
  for (DirNode* c = pending; c;) {
    BCut(ScanPath, L);
    int nameLength = NameLength(c);
    // An excluded directory is dropped before anything else is asked of it: it is neither read
    // nor reported as too long, and leaves no row, as if it were not there.
    if (Excluded(ScanPath.text + StartLength, L - StartLength, NameText(c), nameLength)) {
      ExcludedDirectories = AddCount(ExcludedDirectories, 1);
      DirNode* next = c->nextSibling;
      ReleaseNode(c);
      c = next;
      continue;
    }
    // Not excluded (just asked): what ScanReadsSubdirectory, the rule the read-ahead follows,
    // still asks is whether its path fits.
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
