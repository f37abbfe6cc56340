#include "tree/tree_builder.h"

#include <algorithm>
#include <new>

#include "console/strings.h"
#include "tree/exclude.h"

namespace {
// The cluster and the file system's unit that candidate k stands for: the given ones, or the
// candidate's power of two where none is given.
int64_t ClusterOf(const TreeBuild* b, int k) {
  return b->settings.cluster > 0 ? b->settings.cluster : (int64_t)SmallestCandidate << k;
}
int64_t UnitOf(const TreeBuild* b, int k) {
  return b->settings.fileSystemCluster > 0 ? b->settings.fileSystemCluster
                                           : (int64_t)SmallestCandidate << k;
}
int CandidateCount(const TreeBuild* b) {
  return b->candidates ? ClusterCandidates : 1;
}

void NoteHeld(TreeBuild* b, int64_t held) {
  if (held <= 0) return;
  int bit = __builtin_ctzll((unsigned long long)held) + 1;
  if (b->lowestHeldBit == 0 || bit < b->lowestHeldBit) b->lowestHeldBit = bit;
}

// Asks the producer to give back memory it holds; true when it gave some.
bool ReleaseMemory(const TreeBuild* b) {
  return b->settings.releaseMemory && b->settings.releaseMemory();
}

// True the first time a file of several names is met in this tree. Short of memory to
// remember it, once more after the producer has given back what it holds; failing that, the
// file is charged again rather than the tree given up.
bool FirstName(TreeBuild* b, uint64_t device, uint64_t inode) {
  for (int attempt = 0;; ++attempt) {
    try {
      return MarkSeen(&b->linkedSeen, device, inode);
    } catch (const std::bad_alloc&) {
      if (attempt > 0 || !ReleaseMemory(b)) return true;
    }
  }
}

// The bits of x spread over the whole word (the finisher of SplitMix64).
uint64_t Spread(uint64_t x) {
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
  return x ^ (x >> 31);
}

uint64_t BytesHash(const char* bytes, int length) {
  uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a, then spread
  for (int i = 0; i < length; ++i) h = (h ^ (unsigned char)bytes[i]) * 0x100000001b3ull;
  return Spread(h);
}

// What a file and what a subdirectory add to their directory's contents: summed, so that the
// order they come in does not count; a file and a directory of one name never add the same.
uint64_t FileContents(const char* name, int length, int64_t size) {
  return Spread(BytesHash(name, length) ^ Spread((uint64_t)size * 2 + 1));
}
uint64_t SubdirectoryContents(const DirNode* n, uint64_t contents) {
  return Spread(BytesHash(NameText(n), OwnNameLength(n)) + Spread(contents) * 3);
}

// A node for a directory; short of memory, once more after the producer has given back what
// it holds. Null when there is none: the directory is left out.
DirNode* NewNode(const TreeBuild* b, const char* name, int length) {
  DirNode* made = nullptr;
  if (MakeNode(name, length, &made)) return made;
  if (ReleaseMemory(b) && MakeNode(name, length, &made)) return made;
  return nullptr;
}

TreeBuild::Level NewLevel(DirNode* node, int32_t order, int relLength, bool hasDevice,
                          uint64_t device) {
  TreeBuild::Level l;
  l.node = node;
  l.listed = 0;
  l.entriesGiven = -1;
  l.order = order;
  l.relLength = relLength;
  l.device = device;
  l.hasDevice = hasDevice;
  l.readError = false;
  l.notEntered = false;
  l.fileStart = 0;
  l.parkedFrom = 0;
  l.filesSettled = false;
  l.contents = 0;
  for (int k = 0; k < ClusterCandidates; ++k) l.local[k] = l.waste[k] = 0;
  l.firstClosed = l.lastClosed = nullptr;
  l.lastClosedPlace = 0;
  return l;
}

// The listing place of the next entry of the open directory, counted as listed.
int32_t TakePlace(TreeBuild::Level& parent, int32_t listed) {
  int32_t place = listed >= 0                     ? listed
                  : listed == ListedHereLastFirst ? INT32_MAX - parent.listed
                                                  : parent.listed;
  if (parent.listed < INT32_MAX) ++parent.listed;
  return place;
}

void MarkError(TreeBuild* b, TreeBuild::Level& l, ReadErrorKind kind) {
  if (l.readError) return;
  l.readError = true;
  // A directory skipped past the budget has its own lines, and its node is no failed read.
  if (kind == ReadErrorKind::Skipped) return;
  if (l.node) l.node->readError = true;
  if (kind == ReadErrorKind::Unreadable) b->totals.unreadable = AddCount(b->totals.unreadable, 1);
}

// Puts closed subdirectory c, listed at place, among its parent's in the scan's visiting order
// (the last listed first): after those closed so far when they close the last listed first,
// before them when they close the first listed first.
void AddClosed(TreeBuild::Level& parent, DirNode* c, int32_t place) {
  if (!parent.firstClosed) {
    c->nextSibling = nullptr;
    parent.firstClosed = parent.lastClosed = c;
  } else if (place < parent.lastClosedPlace) {
    c->nextSibling = nullptr;
    parent.lastClosed->nextSibling = c;
    parent.lastClosed = c;
  } else {
    c->nextSibling = parent.firstClosed;
    parent.firstClosed = c;
  }
  parent.lastClosedPlace = place;
}

void CloseLevel(TreeBuild* b, TreeBuild::Level& l, int depth);

// A directory of zero figures that is listed but not entered.
// Keeps file f of level l in the store, when files are kept; charged: its space counts.
void KeepFile(TreeBuild* b, const TreeBuild::Level& l, const FileFacts& f, bool charged) {
  if (!b->settings.files || l.filesSettled) return;
  b->settings.files->Add(f.name, f.nameLength, f.size, f.allocated, f.held, f.linked,
                         f.links > 1, f.notRegular, charged, f.device, f.inode);
}

// The files of a directory that opens start at the store's end.
void StartFiles(TreeBuild* b, TreeBuild::Level& l) {
  if (!b->settings.files) return;
  l.fileStart = b->settings.files->End();
  l.parkedFrom = b->settings.files->Parked();
}

// Level l's files are whole: they become its node's, side by side.
void SettleFiles(TreeBuild* b, TreeBuild::Level& l) {
  if (!b->settings.files || l.filesSettled || l.notEntered) return;
  b->settings.files->Settle(l.node, l.fileStart, l.parkedFrom);
  l.filesSettled = true;
}

void AddZeroDirectory(TreeBuild* b, const char* name, int length, int32_t order) {
  DirNode* made = NewNode(b, name, length);
  if (!made) {
    b->totals.leftOut = AddCount(b->totals.leftOut, 1);
    return;
  }
  TreeBuild::Level& parent = b->open.back();
  TreeBuild::Level l = NewLevel(made, order, b->rel.length, parent.hasDevice, parent.device);
  l.notEntered = true;
  CloseLevel(b, l, (int)b->open.size());
}

// The candidate the chosen cluster stands for.
int CandidateOf(int32_t chosen) {
  int k = 0;
  while (((int64_t)SmallestCandidate << k) < chosen && k < ClusterCandidates - 1) ++k;
  return k;
}

// Offers a file of the open directory to the lists of the largest (-top=N) with what it adds
// under candidate k.
void OfferFile(TreeBuild* b, int k, int64_t bytes, const FileFacts& f) {
  if (b->settings.topCount > 0)
    OfferTop(&b->topFiles[k], bytes, b->rel.text, b->rel.length, f.name, f.nameLength);
}

// Sets n's own figures from candidate k of what was kept for it, and counts its padding.
void SettleOwnFigures(TreeBuild* b, DirNode* n, const int64_t* local, const int64_t* waste, int k) {
  n->localSize = local[k];
  n->wastage = waste[k];
  if (!b->settings.dirListingSizes) b->totals.waste = AddSize(b->totals.waste, n->wastage);
}

// The deferred tree, sized with candidate k and shaped, from the leaves up: an explicit stack,
// children before their parent, as the scan finishes them.
void FinishDeferred(TreeBuild* b, int k) {
  struct Frame {
    DirNode* node;
    DirNode* handed;  // its subdirectories in visiting order
    DirNode* next;    // the next of them to finish
  };
  std::vector<Frame> stack;
  auto push = [&](DirNode* n) {
    DirNode* handed = n->firstChild;
    n->firstChild = nullptr;
    stack.push_back(Frame{n, handed, handed});
  };
  push(b->root);
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next) {
      DirNode* c = top.next;
      top.next = c->nextSibling;
      push(c);
      continue;
    }
    DirNode* n = top.node;
    DirNode* handed = top.handed;
    int depth = (int)stack.size() - 1;
    stack.pop_back();
    size_t at = (size_t)(n->wastage >> 4);
    int count = (int)(n->wastage & 15);
    int64_t local[ClusterCandidates], waste[ClusterCandidates];
    for (int i = 0; i < count; ++i) {
      local[i] = b->pending[at + i];
      waste[i] = b->pending[at + count + i];
    }
    SettleOwnFigures(b, n, local, waste, k < count ? k : count - 1);
    PlaceChildren(n, depth, handed, b->settings);
  }
  std::deque<int64_t>().swap(b->pending);
}

// Ends directory l at depth (the root is 0), no longer on the stack: charges its table, and
// sizes and shapes it now, or keeps its figures for when the tree is whole; then hands it to
// its parent, the last open directory.
void CloseLevel(TreeBuild* b, TreeBuild::Level& l, int depth) {
  bool isRoot = depth == 0;
  SettleFiles(b, l);
  // "." and ".." are entries of every table; a directory that could not be opened has none.
  int64_t entries = l.entriesGiven >= 0              ? l.entriesGiven
                    : (l.readError && l.listed == 0) ? 0
                                                     : (int64_t)l.listed + 2;
  if (l.notEntered) entries = 0;
  if (!b->settings.dirListingSizes && entries > 0 && (!isRoot || b->settings.chargeRoot)) {
    for (int k = 0; k < CandidateCount(b); ++k)
      l.local[k] = AddSize(l.local[k], RoundToCluster(entries * 32, ClusterOf(b, k), &l.waste[k]));
  }
  // Its own bytes are whole: offered to the lists of the largest, by its path below the root.
  if (b->settings.topCount > 0 && !l.notEntered)
    for (int k = 0; k < CandidateCount(b); ++k)
      OfferTop(&b->topDirs[k], l.local[k], b->rel.text, isRoot ? 0 : b->rel.length - 1, "", 0);
  if (b->settings.contents && !l.notEntered) {
    try {
      b->settings.contents->push_back({PathKey(b->rel.text, b->rel.length), l.contents});
    } catch (const std::bad_alloc&) {
      // Not told: the directory is not found to have moved.
    }
  }
  if (!l.notEntered) BCut(b->rel, l.relLength);
  // The sink heard of a directory not entered as a listed entry, not as a directory.
  if (b->sink && !l.notEntered) b->sink->close(b->sink->context);
  DirNode* handed = l.firstClosed;
  if (b->deferred) {
    // Sized when the tree is whole: the node's wastage says meanwhile where its figures are
    // kept and how many, those of the candidates the space held so far still allows.
    int count = CandidateCount(b);
    if (b->candidates && b->lowestHeldBit > 0) {
      count = 1;
      while (count < ClusterCandidates &&
             ((int64_t)SmallestCandidate << count) <= ChooseCluster(b->lowestHeldBit))
        ++count;
    }
    l.node->wastage = (int64_t)b->pending.size() << 4 | count;
    b->pending.insert(b->pending.end(), l.local, l.local + count);
    b->pending.insert(b->pending.end(), l.waste, l.waste + count);
    l.node->firstChild = handed;
  } else {
    SettleOwnFigures(b, l.node, l.local, l.waste, 0);
    PlaceChildren(l.node, depth, handed, b->settings);
  }
  if (isRoot) {
    if (b->sink) b->sink->end(b->sink->context);
    return;
  }
  if (l.contents != 0) b->open.back().contents += SubdirectoryContents(l.node, l.contents);
  AddClosed(b->open.back(), l.node, l.order);
}
}  // namespace

void ChargeFileData(int64_t allocated, int64_t held, int64_t cluster, int64_t unit,
                    int64_t* localSize, int64_t* wastage) {
  int64_t data = allocated > 0 ? allocated : 0;
  *localSize = AddSize(*localSize, RoundToCluster(data, cluster, wastage));
  if (unit < 1) unit = 1;
  int64_t own = data % unit == 0 ? data : AddSize(data, unit - data % unit);
  if (held > own) {
    *localSize = AddSize(*localSize, held - own);
    *wastage = AddSize(*wastage, held - own);
  }
}

int64_t KeptFileSize(const FileStore& files, const FileRecord& f, bool listed, int64_t cluster,
                     int64_t unit) {
  if (listed) return f.size > 0 ? f.size : 0;
  if (!(f.flags & FileCharged)) return 0;
  int64_t own = 0, waste = 0;
  int64_t held = files.Held(f);
  ChargeFileData(files.Allocated(f), held > 0 ? held : 0, cluster, unit > 0 ? unit : cluster, &own,
                 &waste);
  return own;
}

void PlaceChildren(DirNode* n, int depth, DirNode* handed, const BuildSettings& settings) {
  DirNode* placed = nullptr;
  DirNode** placedTail = &placed;
  for (DirNode* c = handed; c;) {
    DirNode* next = c->nextSibling;
    n->subdirsSize = AddSize(n->subdirsSize, NodeTotal(c));
    if (depth + 1 >= settings.maxDepth && c->firstChild) {
      CollapseChildren(c);
      MarkMerged(c);
    }
    if (NodeTotal(c) < settings.minSize) {
      MarkMerged(n);
      FoldIntoParent(c, n);
    } else {
      c->nextSibling = nullptr;
      *placedTail = c;
      placedTail = &c->nextSibling;
    }
    c = next;
  }
  n->firstChild = SortSiblings(settings.sortOrder, placed);
}

int32_t ChooseCluster(int lowestHeldBit) {
  if (lowestHeldBit == 0) return 4096;
  int64_t unit = (int64_t)1 << (lowestHeldBit - 1);
  if (unit < SmallestCandidate) return SmallestCandidate;
  int64_t largest = (int64_t)SmallestCandidate << (ClusterCandidates - 1);
  return (int32_t)(unit > largest ? largest : unit);
}

void BeginTree(TreeBuild* b, const BuildSettings& settings, DirNode* root,
               const ListingSink* sink) {
  b->settings = settings;
  // A tree whose files are kept keeps every directory, so that no kept range loses its node.
  if (settings.files) {
    b->settings.maxDepth = INT32_MAX;
    b->settings.minSize = 0;
  }
  if (settings.keepAll) {
    b->settings.maxDepth = INT32_MAX;
    b->settings.minSize = 0;
    b->settings.sortOrder = NONE;
  }
  b->sink = sink;
  b->root = root;
  b->open.clear();
  b->skipping = 0;
  BClear(b->rel);
  ForgetSeen(&b->linkedSeen);
  b->candidates =
      !settings.dirListingSizes && (settings.cluster <= 0 || settings.fileSystemCluster <= 0);
  b->deferred = b->candidates || settings.keepAll;
  b->pending.clear();
  b->lowestHeldBit = 0;
  b->chosenCluster = settings.cluster;
  b->chosenUnit = settings.fileSystemCluster;
  b->totals = BuildTotals{};
  b->started = false;
  for (int k = 0; k < ClusterCandidates; ++k) {
    int count = k < CandidateCount(b) ? settings.topCount : 0;
    StartTopList(&b->topFiles[k], count);
    StartTopList(&b->topDirs[k], count);
  }
  StartTopList(&b->top.files, 0);
  StartTopList(&b->top.dirs, 0);
}

uint64_t PathKey(const char* rel, int length) {
  return BytesHash(rel, length);
}

void TreeChargedElsewhere(TreeBuild* b, uint64_t device, uint64_t inode) {
  FirstName(b, device, inode);
}

bool TreeExcludes(const char* rel, int relLength, const char* name, int nameLength) {
  return Excluded(rel, relLength, name, nameLength);
}

bool TreeOpenDirectory(TreeBuild* b, const char* name, int length, const DirectoryFacts& facts,
                       int32_t listed) {
  NoteHeld(b, facts.held);
  // One that vanished or was skipped is counted as it comes, whatever becomes of its node.
  if (facts.readError && facts.errorKind == ReadErrorKind::Vanished)
    b->totals.vanished = AddCount(b->totals.vanished, 1);
  if (facts.readError && facts.errorKind == ReadErrorKind::Skipped)
    b->totals.skipped = AddCount(b->totals.skipped, 1);
  if (b->skipping > 0) {
    ++b->skipping;
    return false;
  }
  const ListingSink* sink = b->sink;
  if (b->open.empty()) {
    if (b->started) return false;  // a second root: not part of this tree
    b->started = true;
    // Room for the levels of most trees at once; short of memory, as the levels come.
    try {
      b->open.reserve(64);
    } catch (const std::bad_alloc&) {
    }
    if (b->open.capacity() == 0) return false;  // not even the root's: there is no tree
    b->open.push_back(NewLevel(b->root, 0, 0, facts.hasDevice, facts.device));
    StartFiles(b, b->open.back());
    if (sink) {
      sink->begin(sink->context, name, length, facts);
      sink->directory(sink->context, name, length, facts);
    }
    if (facts.readError) MarkError(b, b->open.back(), facts.errorKind);
    return true;
  }
  TreeBuild::Level& parent = b->open.back();
  int32_t order = TakePlace(parent, listed);
  // Asked as the scan asks it: an excluded directory is not read and leaves no node.
  if (TreeExcludes(b->rel.text, b->rel.length, name, length)) {
    b->totals.excluded = AddCount(b->totals.excluded, 1);
    if (sink) sink->notRead(sink->context, name, length, NotRead::Excluded);
    b->skipping = 1;
    return false;
  }
  if (facts.hasDevice && parent.hasDevice && facts.device != parent.device) {
    if (sink) sink->notRead(sink->context, name, length, NotRead::OtherFileSystem);
    b->totals.otherFileSystems = AddCount(b->totals.otherFileSystems, 1);
    AddZeroDirectory(b, name, length, order);
    b->skipping = 1;
    return false;
  }
  DirNode* made = NewNode(b, name, length);
  if (!made) {
    // Left out: the dump says it was not read whole.
    b->totals.leftOut = AddCount(b->totals.leftOut, 1);
    if (sink) {
      DirectoryFacts unread = facts;
      unread.readError = true;
      sink->directory(sink->context, name, length, unread);
      sink->close(sink->context);
    }
    b->skipping = 1;
    return false;
  }
  bool known = parent.hasDevice || facts.hasDevice;
  TreeBuild::Level l =
      NewLevel(made, order, b->rel.length, known, parent.hasDevice ? parent.device : facts.device);
  // The parent's files so far wait while this one's are taken (a dump's order).
  FileStore* files = b->settings.files;
  if (files && !parent.filesSettled && files->End() > parent.fileStart)
    files->Park(parent.fileStart);
  StartFiles(b, l);
  try {
    b->open.push_back(std::move(l));
  } catch (const std::bad_alloc&) {
    ReleaseNode(made);
    b->totals.leftOut = AddCount(b->totals.leftOut, 1);
    b->skipping = 1;
    return false;
  }
  BAppend(b->rel, name, length);
  BAppendChar(b->rel, PathSeparator);
  if (sink) sink->directory(sink->context, name, length, facts);
  if (facts.readError) MarkError(b, b->open.back(), facts.errorKind);
  return true;
}

void TreeAddFile(TreeBuild* b, const FileFacts& f) {
  NoteHeld(b, f.held);
  if (b->skipping > 0 || b->open.empty()) return;
  TreeBuild::Level& l = b->open.back();
  TakePlace(l, -1);
  // Excluded, as du --exclude leaves a file out: still an entry of the table, nothing else.
  if (TreeExcludes(b->rel.text, b->rel.length, f.name, f.nameLength)) {
    b->totals.excludedFiles = AddCount(b->totals.excludedFiles, 1);
    if (b->sink) b->sink->notRead(b->sink->context, f.name, f.nameLength, NotRead::Excluded);
    return;
  }
  l.node->fileCount = AddCount(l.node->fileCount, 1);
  b->totals.files = AddCount(b->totals.files, 1);
  if (b->settings.contents) l.contents += FileContents(f.name, f.nameLength, f.size);
  if (b->settings.fileWatch)
    b->settings.fileWatch->file(b->settings.fileWatch->context, b->rel.text, b->rel.length, f);
  if (b->sink) b->sink->file(b->sink->context, f);
  if (b->settings.dirListingSizes) {
    KeepFile(b, l, f, true);
    l.local[0] = AddSize(l.local[0], f.size > 0 ? f.size : 0);
    OfferFile(b, 0, f.size, f);
    return;
  }
  // A further name of a file already charged adds nothing.
  bool charged = !f.linked || FirstName(b, f.device, f.inode);
  KeepFile(b, l, f, charged);
  if (!charged) return;
  int64_t held = f.held > 0 ? f.held : 0;
  for (int k = 0; k < CandidateCount(b); ++k) {
    int64_t own = 0, waste = 0;
    ChargeFileData(f.allocated, held, ClusterOf(b, k), UnitOf(b, k), &own, &waste);
    l.local[k] = AddSize(l.local[k], own);
    l.waste[k] = AddSize(l.waste[k], waste);
    OfferFile(b, k, own, f);
  }
}

void TreeAddNotRead(TreeBuild* b, const char* name, int length, NotRead why, int32_t listed) {
  if (b->skipping > 0 || b->open.empty()) return;
  int32_t order = TakePlace(b->open.back(), listed);
  // Listed as left out (a dump's mark): a file or a directory, which is not said.
  bool listedExcluded = why == NotRead::Excluded;
  // An exclusion is asked before anything else, as the scan asks it.
  if (why != NotRead::Excluded && TreeExcludes(b->rel.text, b->rel.length, name, length))
    why = NotRead::Excluded;
  if (b->sink) b->sink->notRead(b->sink->context, name, length, why);
  if (listedExcluded) {
    b->totals.excludedListed = AddCount(b->totals.excludedListed, 1);
    return;
  }
  if (why == NotRead::Excluded) {
    b->totals.excluded = AddCount(b->totals.excluded, 1);
    return;
  }
  if (why == NotRead::OtherFileSystem || why == NotRead::KernelFileSystem)
    b->totals.otherFileSystems = AddCount(b->totals.otherFileSystems, 1);
  AddZeroDirectory(b, name, length, order);
}

void TreeMarkReadError(TreeBuild* b) {
  if (b->skipping > 0 || b->open.empty()) return;
  TreeBuild::Level& l = b->open.back();
  if (l.readError) return;
  MarkError(b, l, ReadErrorKind::Unreadable);
  if (b->sink) b->sink->readError(b->sink->context);
}

void TreeNoteLeftOut(TreeBuild* b) {
  b->totals.leftOut = AddCount(b->totals.leftOut, 1);
}

void TreeEndListing(TreeBuild* b, int32_t entries) {
  if (b->skipping > 0 || b->open.empty()) return;
  b->open.back().entriesGiven = entries;
  // A whole listing (the disk's) has all its files: they settle before any subdirectory opens.
  SettleFiles(b, b->open.back());
}

void TreeNoteHeld(TreeBuild* b, int64_t held) {
  NoteHeld(b, held);
}

void TreeCloseDirectory(TreeBuild* b) {
  if (b->skipping > 0) {
    --b->skipping;
    return;
  }
  if (b->open.empty()) return;
  TreeBuild::Level l = b->open.back();
  b->open.pop_back();
  CloseLevel(b, l, (int)b->open.size());
  // The parent's further files follow those of the one that closed.
  if (b->settings.files && !b->open.empty()) b->open.back().fileStart = b->settings.files->End();
}

TreeConsumer TreeConsumerOf(TreeBuild* b) {
  TreeConsumer c;
  c.context = b;
  c.openDirectory = [](void* t, const char* name, int length, const DirectoryFacts& facts,
                       int32_t listed) {
    return TreeOpenDirectory((TreeBuild*)t, name, length, facts, listed);
  };
  c.addFile = [](void* t, const FileFacts& facts) { TreeAddFile((TreeBuild*)t, facts); };
  c.addNotRead = [](void* t, const char* name, int length, NotRead why, int32_t listed) {
    TreeAddNotRead((TreeBuild*)t, name, length, why, listed);
  };
  c.markReadError = [](void* t) { TreeMarkReadError((TreeBuild*)t); };
  c.noteLeftOut = [](void* t) { TreeNoteLeftOut((TreeBuild*)t); };
  c.endListing = [](void* t, int32_t entries) { TreeEndListing((TreeBuild*)t, entries); };
  c.closeDirectory = [](void* t) { TreeCloseDirectory((TreeBuild*)t); };
  c.noteHeld = [](void* t, int64_t held) { TreeNoteHeld((TreeBuild*)t, held); };
  return c;
}

int32_t FinishTree(TreeBuild* b) {
  // A producer that stopped early leaves directories open: they close as they are.
  while (b->skipping > 0) TreeCloseDirectory(b);
  while (!b->open.empty()) TreeCloseDirectory(b);
  int32_t chosen = ChooseCluster(b->lowestHeldBit);
  if (b->settings.cluster <= 0) b->chosenCluster = chosen;
  if (b->settings.fileSystemCluster <= 0) b->chosenUnit = chosen;
  // Every candidate that is not given stands for the chosen cluster.
  int k = b->candidates ? CandidateOf(chosen) : 0;
  if (b->deferred && b->started) FinishDeferred(b, k);
  b->top.files = std::move(b->topFiles[k]);
  b->top.dirs = std::move(b->topDirs[k]);
  for (int i = 0; i < ClusterCandidates; ++i) {
    StartTopList(&b->topFiles[i], 0);
    StartTopList(&b->topDirs[i], 0);
  }
  SortTopList(&b->top.files);
  SortTopList(&b->top.dirs);
  ForgetSeen(&b->linkedSeen);
  return b->chosenCluster;
}
