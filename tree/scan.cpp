#include "tree/scan.h"

#include <cstdio>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "console/console.h"
#include "console/output.h"
#include "console/strings.h"
#include "tree/find.h"

int32_t TotalFiles = 0;
int64_t TotalWaste = 0;

void SetRunTotals(int32_t files, int64_t waste) {
  TotalFiles = files;
  TotalWaste = waste;
}
void CountOutcome(ScanOutcome* outcome, const BuildTotals& t) {
  outcome->unreadable = t.unreadable;
  outcome->vanished = t.vanished;
  outcome->leftOut = t.leftOut;
  outcome->skipped = t.skipped;
  outcome->excluded = t.excluded;
  outcome->excludedFiles = t.excludedFiles;
  outcome->excludedListed = t.excludedListed;
}

namespace {
// The scan under way: what it was asked, its path, what it names, the tree it reads into.
// Fixed from the start of ScanDirectory to its end, the request is read by the threads that
// read ahead too (ReadsSubdirectory).
const ScanRequest* Request = nullptr;
PathStr ScanPath;         // the directory being read, with its separator
int StartPathLength = 0;  // the start directory's path with its separator, in ScanPath
ScanOutcome* Met = nullptr;
const TreeConsumer* Into = nullptr;  // where everything the scan reads goes
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
  TurnStatusSpinner(Spinner[index]);
}

// What the scan has read so far (ScanRequest::progress), counted in plain integers on the
// scan's thread; the request's routine hears them after every ScanProgressStep directories and
// files, and paces the status line itself.
struct ReadSoFar {
  int64_t directories, files, bytes;
  int untilTold;  // directories and files still to count before it is told
};
ReadSoFar SoFar;

void TellSoFar() {
  if (!Request->progress || --SoFar.untilTold > 0) return;
  SoFar.untilTold = ScanProgressStep;
  Request->progress(SoFar.directories, SoFar.files, SoFar.bytes);
}

// A subdirectory listed and not yet visited: its name in PendingNames, its place in its
// parent's listing (1 for the first entry), and its own size as the listing measured it.
struct PendingSubdirectory {
  size_t nameAt;
  int nameLength;
  int32_t place;
  int64_t size, held;
};
// The subdirectories still to visit of every directory under way, each directory's in listing
// order after those of the directories above it: the one visited next is always the last.
std::vector<PendingSubdirectory> Pending;
std::string PendingNames;

// One directory whose subdirectories are being visited. The scan keeps one for each directory
// from the start directory down to the one being read, on the heap, so that any depth the path
// budget allows costs the same stack.
struct ScanFrame {
  int pathLength;       // ScanPath's length with this directory's separator
  size_t firstPending;  // its subdirectories are Pending[firstPending] on, as many as count
  long count;
  long visited;  // how many of them the visiting order has passed
};
std::vector<ScanFrame> Frames;  // the directories whose reading is under way, the start first

// Writes the two lines of a subdirectory whose path would exceed the budget: its parent's path
// is in ScanPath.
void ReportSkipped(const char* name, int length) {
  char budget[16];
  int digits = std::snprintf(budget, sizeof budget, "%d", Request->pathBudget);
  WriteText("Maximum path length of ");
  WriteText(budget, digits);
  WriteText(" exceeded for directory ");
  WriteName(ScanPath.text, ScanPath.length);
  WriteName(name, length);
  WriteLineEnd();
  WriteText("Path skipped");
  WriteLineEnd();
}

// Names a troubled directory (the one whose path with its separator is ScanPath) while fewer
// than NamedTroubleLimit are; short of memory it is only counted.
void NameTrouble(DirectoryTrouble trouble, const char* reason) {
  if ((int)Met->named.size() >= NamedTroubleLimit) return;
  try {
    Met->named.push_back(TroubledDirectory{std::string(ScanPath.text, (size_t)ScanPath.length),
                                           trouble, std::string(reason)});
  } catch (const std::bad_alloc&) {
  }
}

// Names a directory of the tree that could not be read, or not whole, with the system's reason
// (the tree builder counts it and marks its node).
void NameUnreadable(DirectoryTrouble trouble) {
  BStr text;
  BClear(text);
  ScanFileSystem->failureText(&text);
  NameTrouble(trouble, text.text);
}

// The first step of a directory, its path with its separator in ScanPath: opens its listing and
// gives its first entry. A path without room for the enumeration's additions cannot be read:
// it is reported like a path that does not exist.
FindResult OpenListing(FindEntry* entry) {
  const int L = ScanPath.length;
  bool fits = L > 0 && ScanPath.text[L - 1] == PathSeparator &&
              PathFits(L - 1, Request->pathBudget, Request->patternRoom);
  return fits ? ScanFileSystem->findFirst(ScanPath, entry) : FindPathNotFound;
}

// Keeps a listed subdirectory for its visit; short of memory, once more after the enumeration
// has given back what it holds. False when it is left out.
bool RememberSubdirectory(const FindEntry& entry, int32_t place) {
  size_t at = PendingNames.size();
  for (int attempt = 0;; ++attempt) {
    try {
      PendingNames.append(entry.name, (size_t)entry.nameLength);
      Pending.push_back(PendingSubdirectory{at, entry.nameLength, place, entry.size, entry.held});
      return true;
    } catch (const std::bad_alloc&) {
      PendingNames.resize(at);
      if (attempt > 0 || !ScanFileSystem->releaseMemory()) return false;
    }
  }
}

// Takes the entries of the open listing, the first in hand, into the directory open in the
// tree: hands over its files, keeps its subdirectories for their visit, and says a read that
// failed before the end. Returns how many entries it had ("." and ".." and labels included).
int32_t TakeEntries(FindEntry* entry) {
  int32_t entries = 0;
  NextResult next = NextFound;
  do {
    if (entries < INT32_MAX) ++entries;
    if (entry->attributes & AttrVolumeLabel) continue;
    // "." and ".." are entries of the table and nothing else, whatever attributes the listing
    // gives them (Wine marks ".." of a folder directly under Z:\ as a reparse point, which the
    // listing takes for a file).
    if (IsDotOrDotDot(entry->name, entry->nameLength)) continue;
    if (entry->attributes & AttrDirectory) {
      if (!RememberSubdirectory(*entry, entries)) Into->noteLeftOut(Into->context);
      continue;
    }
    Into->addFile(Into->context,
                  FileFacts{entry->name, entry->nameLength, entry->size, entry->allocated,
                            entry->held, entry->linked, entry->device, entry->inode,
                            entry->links > 0 ? (int64_t)entry->links : -1, entry->notRegular});
    ++SoFar.files;
    if (entry->allocated > 0) SoFar.bytes = AddSize(SoFar.bytes, entry->allocated);
    TellSoFar();
  } while ((next = ScanFileSystem->findNext(entry)) == NextFound);
  if (next == NextFailed) {
    Into->markReadError(Into->context);
    NameUnreadable(ReadFailed);
  }
  return entries;
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

// Reads the listing of the directory open in the tree, whose first entry is in hand (result
// start), then closes it and starts visiting its subdirectories.
void TakeListing(FindResult start, FindEntry* entry) {
  if (start != FindFailed) {
    ++SoFar.directories;
    TellSoFar();
  }
  size_t firstPending = Pending.size();
  int32_t entries = start == FindFound ? TakeEntries(entry) : 0;
  ScanFileSystem->findClose();
  Into->endListing(Into->context, entries);
  Frames.push_back(
      ScanFrame{ScanPath.length, firstPending, (long)(Pending.size() - firstPending), 0});
}

// A subdirectory that is in the tree with zero figures and no listing: gone before it was
// read, or skipped past the budget.
void AddUnreadDirectory(const char* name, int length, const PendingSubdirectory& p,
                        ReadErrorKind kind) {
  DirectoryFacts facts = {p.size, p.held, false, 0, true, false, kind};
  Into->openDirectory(Into->context, name, length, facts, p.place);
  Into->endListing(Into->context, 0);
  Into->closeDirectory(Into->context);
}

// Reads subdirectory p, its name appended to its parent's path of parentLength in ScanPath.
void ReadSubdirectory(int parentLength, const PendingSubdirectory& p) {
  const char* name = ScanPath.text + parentLength;
  int length = p.nameLength;
  Spin();
  // The separator may take the path one byte past the budget: a path of the budget's length is
  // read.
  AppendBackslash(ScanPath, Request->pathBudget + 1);
  FindEntry entry;
  FindResult start = OpenListing(&entry);
  if (start == FindPathNotFound) {
    // Gone before the scan came to it: the not-found lead and its path are written, then it
    // is named, and the tree counts and marks it.
    ScanFileSystem->findClose();
    WriteText(PathNotFoundLead);
    WriteName(ScanPath.text, ScanPath.length);
    WriteLineEnd();
    NameTrouble(Vanished, "");
    AddUnreadDirectory(name, length, p, ReadErrorKind::Vanished);
    return;
  }
  if (start == FindOtherDevice) {
    ScanFileSystem->findClose();
    Into->addNotRead(Into->context, name, length, NotRead::OtherFileSystem, p.place);
    return;
  }
  DirectoryFacts facts = {p.size, p.held, false, 0, start == FindFailed, true};
  if (!Into->openDirectory(Into->context, name, length, facts, p.place)) {
    // No memory for its node: left out (the tree counted it), its listing unread.
    ScanFileSystem->findClose();
    Into->closeDirectory(Into->context);
    return;
  }
  if (start == FindFailed) NameUnreadable(CouldNotOpen);
  TakeListing(start, &entry);
}

// The scan's rule of which subdirectories it reads, which the threads that read ahead follow
// too: the subdirectory `name` of the directory whose path below the start directory is parent
// (parentRelLength bytes) and whose whole path with its separator is parentLength bytes long
// is read when the tree builder does not leave it out by a pattern and its path fits the
// budget. Reads only what is fixed while the scan runs: safe from any thread.
bool ReadsSubdirectory(const char* parent, int parentRelLength, long parentLength, const char* name,
                       int nameLength) {
  return !TreeExcludes(parent, parentRelLength, name, nameLength) &&
         PathFits(parentLength + nameLength, Request->pathBudget, Request->patternRoom);
}

// Visits the next subdirectory of frame f in the scan's visiting order (ListingIndexOfVisit).
// An excluded one is dropped before anything else is asked of it: it is neither read nor
// reported as too long, and leaves no row, as if it were not there. One whose path would pass
// the budget is reported and placed unread.
void VisitNext(ScanFrame& f) {
  long index = ListingIndexOfVisit(f.count, f.visited++);
  PendingSubdirectory p = Pending[f.firstPending + (size_t)index];
  BCut(ScanPath, f.pathLength);
  const char* name = PendingNames.data() + p.nameAt;
  int length = p.nameLength;
  const char* rel = ScanPath.text + StartPathLength;
  int relLength = f.pathLength - StartPathLength;
  bool read = ReadsSubdirectory(rel, relLength, f.pathLength, name, length);
  if (!read && TreeExcludes(rel, relLength, name, length)) {
    // The tree asks the same patterns: it counts it and leaves it out.
    DirectoryFacts facts = {p.size, p.held, false, 0, false, false};
    Into->openDirectory(Into->context, name, length, facts, p.place);
    Into->closeDirectory(Into->context);
  } else if (!read) {
    ReportSkipped(name, length);
    AddUnreadDirectory(name, length, p, ReadErrorKind::Skipped);
  } else {
    BAppend(ScanPath, name, length);
  }
  // Visited last listed first: it is the last one kept, and its name is in ScanPath now.
  Pending.resize(f.firstPending + (size_t)index);
  PendingNames.resize(p.nameAt);
  if (!read) return;
  int parentLength = f.pathLength;  // f moves when the frames grow
  if (!RoomForFrame()) {
    Into->noteLeftOut(Into->context);
    return;
  }
  ReadSubdirectory(parentLength, p);
}

// The name the start directory has in the tree it is handed to: its path, without the
// separator the scan appended unless that is all there is of a root ("/", "C:\").
int RootNameLength() {
  int length = StartPathLength;
  bool driveRoot = length == 3 && ScanPath.text[1] == ':';
  if (length > 1 && !driveRoot && ScanPath.text[length - 1] == PathSeparator) --length;
  return length;
}

void BeginScan(const ScanRequest& request, const TreeConsumer* into, ScanOutcome* met) {
  Request = &request;
  Into = into;
  Met = met;
  ScanPath = request.path;
  ScanRules rules = request.rules;
  rules.readsSubdirectory = ReadsSubdirectory;
  ScanFileSystem->startScan(rules);
  Frames.clear();
  Pending.clear();
  PendingNames.clear();
  SoFar = ReadSoFar{0, 0, 0, ScanProgressStep};
}

void EndScan() {
  ScanFileSystem->endScan();
  std::vector<ScanFrame>().swap(Frames);
  std::vector<PendingSubdirectory>().swap(Pending);
  std::string().swap(PendingNames);
}
}  // namespace

// Depth-first, one directory at a time: a directory's listing is read whole and closed before
// any of its subdirectories is read; they are visited from the last listed to the first, each
// with everything below it. The tree builder places each where it belongs as its parent closes.
bool ScanDirectory(const ScanRequest& request, const TreeConsumer& into, ScanOutcome* met) {
  BeginScan(request, &into, met);
  Spin();
  AppendBackslash(ScanPath, request.pathBudget + 1);
  FindEntry entry;
  FindResult start = OpenListing(&entry);
  StartPathLength = ScanPath.length;
  if (start == FindPathNotFound || start == FindFailed) {
    ScanFileSystem->findClose();
    if (start == FindPathNotFound) {
      // The start directory: the run ends here without a report.
      WriteRunEndingMessage(PathNotFoundLead, ScanPath.text, ScanPath.length, "");
    } else {
      // No tree to count it: it is the one directory that could not be read.
      met->unreadable = 1;
      NameUnreadable(CouldNotOpen);
      met->startUnreadable = true;
    }
    EndScan();
    return false;
  }
  DirectoryFacts facts =
      request.rootFacts ? *request.rootFacts : DirectoryFacts{0, 0, false, 0, false, false};
  facts.readError = false;
  facts.errorMayFollow = true;
  if (Into->openDirectory(Into->context, ScanPath.text, RootNameLength(), facts, ListedHere)) {
    TakeListing(start, &entry);
  } else {
    // Not even the start directory's level: there is no tree to read into.
    ScanFileSystem->findClose();
    Into->noteLeftOut(Into->context);
  }
  while (!Frames.empty()) {
    ScanFrame& f = Frames.back();
    if (f.visited < f.count) {
      VisitNext(f);
      continue;
    }
    Frames.pop_back();
    Into->closeDirectory(Into->context);
  }
  EndScan();
  return true;
}

bool ScanReleaseMemory() {
  return ScanFileSystem->releaseMemory();
}
