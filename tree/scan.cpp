#include "tree/scan.h"

#include <cstdio>
#include <new>
#include <vector>

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
ScanOutcome LastScan = {0, 0, 0, 0, 0, false, {}};

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

// Names a troubled directory (the one whose path with its separator is ScanPath) while fewer
// than NamedTroubleLimit are; short of memory it is only counted.
void NameTrouble(DirectoryTrouble trouble, const char* reason) {
  if ((int)LastScan.named.size() >= NamedTroubleLimit) return;
  try {
    LastScan.named.push_back(TroubledDirectory{std::string(ScanPath.text, (size_t)ScanPath.length),
                                               trouble, std::string(reason)});
  } catch (const std::bad_alloc&) {
  }
}

// A directory of the tree that could not be read, or not whole: marked, counted and named with
// the system's reason.
void NoteUnreadable(DirNode* n, DirectoryTrouble trouble) {
  n->readError = true;
  LastScan.unreadable = AddCount(LastScan.unreadable, 1);
  BStr text;
  BClear(text);
  ScanFileSystem->failureText(&text);
  NameTrouble(trouble, text.text);
}

// One directory whose subdirectories are being visited. The scan keeps one for each directory
// from the start directory down to the one being read, on the heap, so that any depth the path
// budget allows costs the same stack.
struct ScanFrame {
  DirNode* node;
  int pathLength;    // ScanPath's length with this directory's separator
  DirNode* pending;  // subdirectories not yet visited, the next first
  DirNode* placed;   // those kept, in the order they were finished
  DirNode* lastPlaced;
};
std::vector<ScanFrame> Frames;  // the directories whose reading is under way, the start first

// The first step of a directory, its path with its separator in ScanPath: opens its listing and
// gives its first entry. A path without room for the enumeration's additions cannot be read:
// it is reported like a path that does not exist.
FindResult OpenListing(FindEntry* entry) {
  const int L = ScanPath.length;
  bool fits =
      L > 0 && ScanPath.text[L - 1] == PathSeparator && L - 1 + Scan.patternRoom <= Scan.pathBudget;
  return fits ? ScanFileSystem->findFirst(ScanPath, entry) : FindPathNotFound;
}

// Takes the entries of n's open listing, the first in hand: counts and charges its files,
// makes a node for each subdirectory (the pending list, the last listed first), and closes
// the listing. Returns how many entries it had.
int32_t TakeEntries(DirNode* n, FindEntry* entry, DirNode** pending) {
  int32_t entries = 0;
  NextResult next = NextFound;
  do {
    if (entries < INT32_MAX) ++entries;
    if (entry->attributes & AttrVolumeLabel) continue;
    if (entry->attributes & AttrDirectory) {
      if (!IsDotOrDotDot(entry->name, entry->nameLength) && !MakeSubdirectoryNode(*entry, pending))
        LastScan.leftOut = AddCount(LastScan.leftOut, 1);
      continue;
    }
    // [-top / file exclusion: until the scan feeds the tree builder]
    const char* rel = ScanPath.text + StartLength;
    int relLength = ScanPath.length - StartLength;
    if (Excluded(rel, relLength, entry->name, entry->nameLength)) {
      LastScan.excludedFiles = AddCount(LastScan.excludedFiles, 1);
      continue;
    }
    n->fileCount = AddCount(n->fileCount, 1);
    TotalFiles = AddCount(TotalFiles, 1);
    int64_t before = n->localSize;
    ChargeFile(n, *entry);
    if (Scan.top)
      OfferTop(&Scan.top->files, n->localSize - before, rel, relLength, entry->name,
               entry->nameLength);
  } while ((next = ScanFileSystem->findNext(entry)) == NextFound);
  if (next == NextFailed) NoteUnreadable(n, ReadFailed);
  return entries;
}

// Wastage mode charges a directory's own table of entries (not a drive root's), and adds its
// own padding to the run's.
void ChargeEntryTable(DirNode* n, int pathLength, int32_t entries) {
  if (Scan.dirListingSizes) return;
  if (pathLength > Scan.rootPathLength)
    n->localSize = AddSize(n->localSize, RoundToCluster((int64_t)entries * 32, &n->wastage));
  TotalWaste = AddSize(TotalWaste, n->wastage);
}

// Reads the listing of n, whose path is in ScanPath: the separator appended, opened, its
// entries taken, its table charged. FindPathNotFound: nothing was read; any other result: the
// directory was read as far as it could be, and *pending holds its subdirectories.
FindResult ReadListing(DirNode* n, DirNode** pending) {
  Spin();
  // The separator may take the path one byte past the budget: a path of the budget's length is
  // read.
  AppendBackslash(ScanPath, Scan.pathBudget + 1);
  FindEntry entry;
  FindResult start = OpenListing(&entry);
  *pending = nullptr;
  if (start == FindPathNotFound) {
    ScanFileSystem->findClose();
    return start;
  }
  if (start == FindFailed) NoteUnreadable(n, CouldNotOpen);
  int32_t entries = start == FindFound ? TakeEntries(n, &entry, pending) : 0;
  ScanFileSystem->findClose();
  ChargeEntryTable(n, ScanPath.length, entries);
  return start;
}

// A subdirectory that was gone when the scan came to it (its path is in ScanPath): the line of
// the Part's rule, then it is counted, marked and named.
void ReportVanished(DirNode* c) {
  WriteText("Path was not found (maximum path length exceeded?): ");
  WriteName(ScanPath.text, ScanPath.length);
  WriteLineEnd();
  c->readError = true;
  LastScan.vanished = AddCount(LastScan.vanished, 1);
  NameTrouble(Vanished, "");
}

// Puts a visited subdirectory c of frame f where it belongs: folded into f's directory when
// it is smaller than the minimum size, else kept among f's children.
void PlaceOrFold(ScanFrame& f, DirNode* c) {
  if (NodeTotal(c) < Scan.minSize) {
    MarkMerged(f.node);
    FoldIntoParent(c, f.node);
    return;
  }
  c->nextSibling = nullptr;
  if (f.lastPlaced)
    f.lastPlaced->nextSibling = c;
  else
    f.placed = c;
  f.lastPlaced = c;
}

// A subdirectory c of frame f (the frame below it on the stack) whose reading is over, with
// everything below it: its total joins f's, it is collapsed when it lies at the depth limit,
// then placed or folded.
void FinishSubdirectory(ScanFrame& f, DirNode* c) {
  f.node->subdirsSize = AddSize(f.node->subdirsSize, NodeTotal(c));
  if (ScanDepth >= Scan.maxDepth && c->firstChild) {
    CollapseChildren(c);
    MarkMerged(c);
  }
  PlaceOrFold(f, c);
}

// The next subdirectory of frame f to read, taken from its pending list (the scan's visiting
// order, ListingIndexOfVisit), with its path in ScanPath; null when none is left. An excluded
// one is dropped before anything else is asked of it: it is neither read nor reported as too
// long, and leaves no row, as if it were not there. One whose path would pass the budget is
// reported, counted and placed unread.
DirNode* NextSubdirectory(ScanFrame& f) {
  while (DirNode* c = f.pending) {
    f.pending = c->nextSibling;
    BCut(ScanPath, f.pathLength);
    int nameLength = NameLength(c);
    if (Excluded(ScanPath.text + StartLength, f.pathLength - StartLength, NameText(c),
                 nameLength)) {
      LastScan.excluded = AddCount(LastScan.excluded, 1);
      ReleaseNode(c);
      continue;
    }
    // Not excluded (just asked): what ScanReadsSubdirectory, the rule the read-ahead follows,
    // still asks is whether its path fits.
    if (!SubdirectoryFits(f.pathLength, nameLength)) {
      ReportSkipped(c);
      LastScan.skipped = AddCount(LastScan.skipped, 1);
      PlaceOrFold(f, c);
      continue;
    }
    BAppend(ScanPath, NameText(c), nameLength);
    return c;
  }
  BCut(ScanPath, f.pathLength);
  return nullptr;
}

// Makes room for one more frame before a subdirectory is read, so that no frame is ever lost
// once its listing is taken; short of memory, after the enumeration has given back what it
// holds. False when there is none.
bool RoomForFrame() {
  for (int attempt = 0;; ++attempt) {
    try {
      if (Frames.size() == Frames.capacity()) Frames.reserve(Frames.size() * 2 + 16);
      return true;
    } catch (const std::bad_alloc&) {
      if (attempt > 0 || !ScanFileSystem->releaseMemory()) return false;
    }
  }
}

void BeginScan() {
  ScanFileSystem->startScan();
  ForgetSeen(&LinkedFilesSeen);
  LastScan.unreadable = 0;
  LastScan.vanished = 0;
  LastScan.leftOut = 0;
  LastScan.skipped = 0;
  LastScan.excluded = 0;
  LastScan.excludedFiles = 0;
  LastScan.startUnreadable = false;
  LastScan.named.clear();
  Frames.clear();
}

void EndScan() {
  ScanFileSystem->endScan();
  ForgetSeen(&LinkedFilesSeen);
  std::vector<ScanFrame>().swap(Frames);
}
}  // namespace

bool ScanIncomplete() {
  return LastScan.unreadable > 0 || LastScan.vanished > 0 || LastScan.leftOut > 0 ||
         LastScan.skipped > 0;
}

// Depth-first, one directory at a time: a directory's listing is read whole and closed before
// any of its subdirectories is read; they are visited from the last listed to the first, each
// with everything below it, and placed all at once when the last is done (the same order as
// placing each as it completes, without a walk of the sibling list per child).
bool ScanDirectory(DirNode* root) {
  BeginScan();
  DirNode* pending;
  // [-top / file exclusion] Known before the start directory's files are taken (the listing
  // appends the separator): their path below it is empty.
  bool endsInSeparator = ScanPath.length > 0 && ScanPath.text[ScanPath.length - 1] == PathSeparator;
  StartLength = ScanPath.length + (endsInSeparator ? 0 : 1);
  FindResult start = ReadListing(root, &pending);
  StartLength = ScanPath.length;
  if (start == FindPathNotFound) {
    // The start directory: the run ends here without a report.
    WriteRunEndingMessage("Path was not found (maximum path length exceeded?): ", ScanPath.text,
                          ScanPath.length, "");
    EndScan();
    return false;
  }
  if (start == FindFailed) {
    LastScan.startUnreadable = true;
    EndScan();
    return false;
  }
  if (!RoomForFrame()) {
    // Not even one frame: the start directory's own figures are all there is.
    for (DirNode* c = pending; c;) {
      DirNode* next = c->nextSibling;
      ReleaseNode(c);
      LastScan.leftOut = AddCount(LastScan.leftOut, 1);
      c = next;
    }
    pending = nullptr;
  }
  Frames.push_back(ScanFrame{root, ScanPath.length, pending, nullptr, nullptr});
  ScanDepth = 1;
  while (!Frames.empty()) {
    DirNode* c = NextSubdirectory(Frames.back());
    if (c) {
      if (!RoomForFrame()) {
        LastScan.leftOut = AddCount(LastScan.leftOut, 1);
        ReleaseNode(c);
        continue;
      }
      if (ReadListing(c, &pending) == FindPathNotFound) {
        ReportVanished(c);
        FinishSubdirectory(Frames.back(), c);
        continue;
      }
      Frames.push_back(ScanFrame{c, ScanPath.length, pending, nullptr, nullptr});
      ++ScanDepth;
      continue;
    }
    ScanFrame done = Frames.back();
    // [-top] The directory's own bytes are whole; ScanPath holds its path and separator.
    if (Scan.top)
      OfferTop(&Scan.top->dirs, done.node->localSize, ScanPath.text + StartLength,
               done.node == root ? 0 : done.pathLength - StartLength - 1, "", 0);
    Frames.pop_back();
    --ScanDepth;
    done.node->firstChild = SortSiblings(Scan.sortOrder, done.placed);
    if (!Frames.empty()) FinishSubdirectory(Frames.back(), done.node);
  }
  BCut(ScanPath, StartLength);
  EndScan();
  return true;
}
