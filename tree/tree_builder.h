// The one consumer of listings. A producer (the disk scan, the dump reader) hands it the
// entries of one tree as a stream of events: a directory opens, a file of the open directory,
// an entry that is listed but not read, the open directory closes. It builds, sizes and shapes
// the DirNode tree by the scan's rules: files rounded to the cluster (the data held, and space
// held past it), 32 bytes per entry of each directory's table, a file of several names charged
// once, the depth limit, the minimum size, the sort order, and the run's totals. What it takes
// in is handed on, as taken, to a ListingSink (the dump writer).
//
// Nesting is not recursion: the open directories are a stack of the builder's own, so a tree
// as deep as the path budget allows costs no program stack. A directory's subdirectories may
// open anywhere among its files (a dump lists entries in any order) or after all of them (the
// disk lists a directory whole before it visits the subdirectories, the last listed first).
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "console/bounded_string.h"
#include "tree/dir_node.h"
#include "tree/file_store.h"
#include "tree/seen_files.h"
#include "tree/sort_order.h"
#include "tree/top_list.h"

// Why a directory said to have a read error was not read, or not whole: who counts it, and
// whether its node shows it. A saved scan says read_error of each alike.
enum class ReadErrorKind : unsigned char {
  Unreadable,  // it could not be read, or not whole: counted among the unreadable, node marked
  Vanished,    // gone when it was to be read: counted among the vanished, node marked
  Skipped,     // not read, its path would pass the budget: counted (the producer says it)
};

// What a producer knows of a directory as it opens.
struct DirectoryFacts {
  int64_t size;         // its own length (st_size; a dump's asize); not part of the figures
  int64_t held;         // its own space on the disk (st_blocks x 512; a dump's dsize)
  bool hasDevice;       // device is known
  uint64_t device;      // the file system it is on; one that differs from its parent's is not read
  bool readError;       // it could not be read: its listing is empty or incomplete
  bool errorMayFollow;  // a read error may yet be said (TreeMarkReadError) after its entries
  ReadErrorKind errorKind = ReadErrorKind::Unreadable;  // of a readError
};

// One file (anything that is not a directory) of the open directory.
struct FileFacts {
  const char* name;  // valid during the call
  int nameLength;
  int64_t size;       // its length, as a listing gives it (st_size; asize)
  int64_t allocated;  // the data it holds on the disk: min(size, held)
  int64_t held;       // all the space the file system gives it (st_blocks x 512; dsize)
  bool linked;        // it has more than one name; device and inode say which file it is
  uint64_t device, inode;
  // Its number of names: as the system tells it; 0 where a dump does not say it; -1 where the
  // listing cannot tell whether there are several (Windows: linked then only says that the
  // file has an id, which a dump carries as ino and hlnkc, so that it is charged once again).
  int64_t links;
  bool notRegular;  // a link, a device, a fifo (said in dumps)
};

// Why a listed entry was not read. An excluded entry leaves no node; the others are
// directories of zero figures, as the scan leaves a directory it does not enter.
enum class NotRead : unsigned char { Excluded, OtherFileSystem, KernelFileSystem, FirmLink };

// Who hears the listings as the builder takes them, in the order taken (the dump writer).
// Excluded directories and those on other file systems come as notRead; the contents of
// neither are passed on.
struct ListingSink {
  void* context;
  // The tree starts: called once, with the root's name (its path) and facts, before anything
  // else; then directory() follows for the root.
  void (*begin)(void* context, const char* rootName, int length, const DirectoryFacts& facts);
  void (*directory)(void* context, const char* name, int length, const DirectoryFacts& facts);
  void (*file)(void* context, const FileFacts& facts);
  void (*notRead)(void* context, const char* name, int length, NotRead why);
  void (*readError)(void* context);  // the open directory turned out unreadable
  void (*close)(void* context);
  void (*end)(void* context);  // the root has closed
};

// What a directory holds below it, as one number that two directories share when they hold the
// same files, by name and length, at the same places below them (64 bits of a hash: two others
// share it by chance once in 2^64); 0 for one that holds no file. Found by a key of its path
// below the root (PathKey): a tree's nodes may be merged or released as it is shaped.
struct DirectoryContents {
  uint64_t pathKey;
  uint64_t contents;
};
using ContentTable = std::vector<DirectoryContents>;

// The key of a directory's path below the root: its names, each followed by the separator.
uint64_t PathKey(const char* rel, int length);

// Told of every file the tree takes (not those left out by a pattern), with the path of its
// directory below the root (each name followed by the separator).
struct FileWatch {
  void* context;
  void (*file)(void* context, const char* rel, int relLength, const FileFacts& facts);
};

// The settings a tree is built with; the run driver fills them from the options.
struct BuildSettings {
  bool dirListingSizes;  // exact sizes, no rounding, no entry-table charge
  int maxDepth;          // levels below the root kept as nodes of their own (INT32_MAX: all)
  int64_t minSize;       // subdirectories below this total are folded into their parent
  SortOrder sortOrder;
  bool chargeRoot;  // the start directory is charged for its entry table (it is no drive root)
  // The cluster the figures are rounded to (ClusterSize); 0: chosen when the tree is whole,
  // from the space files hold (ChooseCluster).
  int32_t cluster;
  // The file system's own allocation unit: space a file holds beyond its data rounded to this
  // unit was reserved past its end and is charged too. 0: the chosen cluster.
  int32_t fileSystemCluster;
  // No shaping at all (no depth limit, no minimum size, siblings in no order): a tree to
  // compare with, where every directory must keep its node.
  bool keepAll;
  // Asked to give back memory the producer holds (listings read ahead) when a node finds none,
  // before that directory is left out; true when it gave something. Null: nothing to give.
  bool (*releaseMemory)() = nullptr;
  // Entries kept in each list of the largest files and directories (-top=N); 0: no lists.
  int topCount = 0;
  // Where every file taken is kept, each directory's side by side (a tree that is browsed);
  // null: none is. A tree whose files are kept must keep every directory: no depth limit, no
  // minimum size.
  FileStore* files = nullptr;
  // Where what each directory holds below it is told (-since, to find what moved); null: not.
  ContentTable* contents = nullptr;
  // Told of each file taken (-since, to find the files behind the growth); null: none.
  const FileWatch* fileWatch = nullptr;
};

// The figures of a run, as the scan keeps them.
struct BuildTotals {
  int32_t files;             // files counted
  int64_t waste;             // every directory's own padding
  int32_t unreadable;        // directories that could not be read (they count as empty)
  int32_t vanished;          // directories gone before they were read
  int32_t skipped;           // directories not read: their paths pass the budget
  int32_t leftOut;           // subdirectories left out for want of memory
  int32_t excluded;          // directories left out by an exclusion pattern
  int32_t otherFileSystems;  // directories not entered: on another file system
  int32_t excludedFiles;     // files left out by an exclusion pattern
  // Entries a saved scan lists as left out by a pattern: a dump marks files and directories
  // alike, so which they were is not known.
  int32_t excludedListed;
};

// The cluster sizes a tree may be rounded to when none is given: powers of two, 512 to 65,536.
constexpr int ClusterCandidates = 8;
constexpr int32_t SmallestCandidate = 512;

// One tree being built. Plain state of the builder's own; one per tree (the report's, and the
// saved scan it is compared with).
struct TreeBuild {
  struct Level {  // one open directory
    DirNode* node;
    int32_t listed;        // entries listed so far
    int32_t entriesGiven;  // the entry count the producer gave (TreeEndListing), or -1
    int32_t order;         // its place in its parent's listing
    int relLength;         // length of `rel` before this directory's name was added
    uint64_t device;
    bool hasDevice;  // device is known
    bool readError;
    bool notEntered;  // listed but not read (another file system): no entries, no table
    int64_t local[ClusterCandidates];  // its own figures so far; [0] alone unless deferred
    int64_t waste[ClusterCandidates];
    // Its closed subdirectories in the scan's visiting order (the last listed first), linked
    // by nextSibling; no memory is asked for them. They close in the order of their listing
    // places one way or the other: a dump's first listed first, the disk's last listed first.
    DirNode* firstClosed;
    DirNode* lastClosed;
    int32_t lastClosedPlace;
    // Its files in the store (settings.files): those from fileStart on, and those parked from
    // parkedFrom on while a subdirectory is taken; settled once its files are whole.
    uint32_t fileStart;
    size_t parkedFrom;
    bool filesSettled;
    uint64_t contents;  // what it holds so far (settings.contents): see DirectoryContents
  };
  BuildSettings settings;
  const ListingSink* sink;
  DirNode* root;
  std::vector<Level> open;  // the open directories, the root first
  int skipping;             // levels opened inside a directory whose contents are not taken
  PathStr rel;              // path below the root of the open directory, each name + separator
  SeenFiles linkedSeen;     // files of several names charged so far
  // Sizing waits for the whole tree: the cluster or the file system's unit is not known yet,
  // or the tree is kept whole. Each directory's own figures for the candidate clusters are
  // kept in `pending` meanwhile (its node's wastage says where, and how many), and the tree is
  // sized and shaped when it is finished. Only the candidates up to the largest that the
  // space held so far allows are kept: the cluster chosen at the end can only be smaller.
  bool deferred;
  bool candidates;              // own figures are kept for every candidate cluster
  std::deque<int64_t> pending;  // in pieces, so that growing never copies what is there
  int lowestHeldBit;            // the lowest bit set in any non-zero space held seen; 0 when none
  int32_t chosenCluster;        // the cluster the figures are rounded to, once finished
  int32_t chosenUnit;           // the file system's unit they were taken with, once finished
  BuildTotals totals;
  bool started;
  // The largest files and directories (settings.topCount), one pair of lists for each cluster
  // the figures may yet be rounded to; when the tree is whole, those of the chosen one, ranked,
  // are in `top`.
  TopList topFiles[ClusterCandidates], topDirs[ClusterCandidates];
  TopLists top;
};

// Starts a tree into root (its name set by the caller, all figures zero), with the settings;
// sink may be null. Everything of a previous build is forgotten.
void BeginTree(TreeBuild* b, const BuildSettings& settings, DirNode* root, const ListingSink* sink);
// After BeginTree: a file of several names is charged already, outside the tree being built (a
// directory of a browsed tree read again), so its names met here are further names.
void TreeChargedElsewhere(TreeBuild* b, uint64_t device, uint64_t inode);

// The place of an entry that comes here in the stream, its parent's subdirectories in listing
// order (a dump as ncdu writes it).
constexpr int32_t ListedHere = -1;
// The place of a subdirectory that comes here in the stream, its parent's subdirectories in the
// disk's visiting order, the last listed first (a saved scan of the disk).
constexpr int32_t ListedHereLastFirst = -2;

// A directory opens: the first call opens the root (name: its path), every later one a
// subdirectory of the open directory. listed: its place in the parent's listing (from 1), or
// ListedHere / ListedHereLastFirst; the subdirectories of one directory (those not read
// included) come in the order of their places, first listed first or last listed first.
// Returns false when its contents are not taken (excluded by a pattern, on another file
// system, or left out for want of memory): the producer may skip them; events up to its
// matching close are ignored either way.
bool TreeOpenDirectory(TreeBuild* b, const char* name, int length, const DirectoryFacts& facts,
                       int32_t listed = ListedHere);
// The builder's answer whether an entry called name (nameLength bytes) in the directory whose
// path below the root is rel (relLength bytes, ending in the separator or empty) is left out
// of the tree by an exclusion pattern (-exclude). Reads only the patterns, fixed before a tree
// is built: safe from any thread, so that the scan and the threads that read ahead of it ask
// it too before they read a subdirectory.
bool TreeExcludes(const char* rel, int relLength, const char* name, int nameLength);

// A file of the open directory. One whose name (or path below the root, for a pattern with a
// separator) matches an exclusion pattern is an entry of the directory's table and nothing else.
void TreeAddFile(TreeBuild* b, const FileFacts& facts);
// An entry of the open directory that is listed but not read (see NotRead).
void TreeAddNotRead(TreeBuild* b, const char* name, int length, NotRead why,
                    int32_t listed = ListedHere);
// The open directory could not be read, or not to its end.
void TreeMarkReadError(TreeBuild* b);
// A subdirectory of the open directory that the producer had no memory to take: counted among
// those left out, as one the builder had no memory for.
void TreeNoteLeftOut(TreeBuild* b);
// The open directory's listing is whole and held `entries` entries in all ("." and ".."
// included). Without it, a directory counts the entries it was given, and "." and "..".
void TreeEndListing(TreeBuild* b, int32_t entries);
// The open directory closes.
void TreeCloseDirectory(TreeBuild* b);
// The space held by an entry outside the directory reported (a dump's other parts): it takes
// part in choosing the cluster, nothing else.
void TreeNoteHeld(TreeBuild* b, int64_t held);

// The consumer of a tree's listings as its producers (the disk scan, the dump reader) see it: a
// record of routines and their context, chosen by the run driver, with the meaning of the
// routines above (openDirectory: TreeOpenDirectory, and so on). The tree builder fills one for a
// tree being built (TreeConsumerOf); a producer calls nothing else. The one who chose it begins
// and finishes the tree (BeginTree, FinishTree).
struct TreeConsumer {
  void* context;
  bool (*openDirectory)(void* context, const char* name, int length, const DirectoryFacts& facts,
                        int32_t listed);
  void (*addFile)(void* context, const FileFacts& facts);
  void (*addNotRead)(void* context, const char* name, int length, NotRead why, int32_t listed);
  void (*markReadError)(void* context);
  void (*noteLeftOut)(void* context);
  void (*endListing)(void* context, int32_t entries);
  void (*closeDirectory)(void* context);
  void (*noteHeld)(void* context, int64_t held);
};
TreeConsumer TreeConsumerOf(TreeBuild* b);

// Ends the tree (every directory closed): sizes and shapes what waited, and ranks the lists of
// the largest (b->top). Returns the cluster the figures were rounded to (the given one, or the
// chosen one).
int32_t FinishTree(TreeBuild* b);

// The cluster a tree is rounded to when none is given: the largest power of two from 512 to
// 65,536 that divides every non-zero space held, from the lowest bit set in any of them
// (0: none was seen, and 4,096, the most common cluster, is taken).
int32_t ChooseCluster(int lowestHeldBit);

// What a file adds to its directory's own figures in wastage mode: the data it holds rounded
// up to the cluster, and space held beyond the data rounded to the file system's unit (space
// reserved past the end), both counted as wastage too.
void ChargeFileData(int64_t allocated, int64_t held, int64_t cluster, int64_t unit,
                    int64_t* localSize, int64_t* wastage);

// What a kept file adds to its directory's own figures: its length when sizes are listed
// (-dir), else its data charged as above with the file system's unit (0: the cluster); 0 for
// a further name of a file charged at another.
int64_t KeptFileSize(const FileStore& files, const FileRecord& f, bool listed, int64_t cluster,
                     int64_t unit);

// The scan's last step for directory n at level `depth` (the root is 0), whose own figures
// are final: its finished subdirectories, handed over in the scan's visiting order (last
// listed first) as a list linked by nextSibling, each add their total to n; one at the depth
// limit has its subdirectories collapsed into it, one below the minimum size is folded into n,
// the others are placed in n's child list by the sort order.
void PlaceChildren(DirNode* n, int depth, DirNode* handed, const BuildSettings& settings);
