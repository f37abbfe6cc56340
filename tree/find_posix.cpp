// POSIX enumeration: the directory is opened and read with getdents64, each entry that is not a
// directory measured with fstatat without following links. Only code for POSIX systems goes in
// this file.
//
// The scan makes one open, one or two reads and one close per directory and one size query per
// file; everything else is kept out of the per-directory path:
// - The device check (other file systems are not entered) needs no fstat per directory on file
//   systems whose every directory carries the device of its mount: the mount points below the
//   start directory where path lookup reaches another device are found once from
//   /proc/self/mountinfo (following each mount's parent, not the order of the lines, which
//   says nothing after a mount was moved), and only a directory at one of those paths is
//   refused, without being opened. Elsewhere (btrfs subvolumes, no /proc) each directory is
//   checked with fstat as it is opened.
// - Each file's entry carries what the scan's size rules need: its length, the bytes it holds
//   (st_blocks), and for a file of several names its device and inode.
// - On the same file systems a read that leaves room for one more entry of any length was the
//   last one, so the read that would return nothing is not made.
// - Directories below the start directory are opened relative to it, so only the names below
//   it are looked up again for each directory.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <malloc.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "disk/mounts_posix.h"
#include "tree/find.h"
#include "tree/scan.h"

namespace {
struct LinuxDirent {
  uint64_t ino;
  int64_t off;
  unsigned short reclen;
  unsigned char type;
  char name[1];
};
constexpr int DirentNameOffset = 19;  // offsetof(LinuxDirent, name)
// The largest record the kernel writes: header, 255 name bytes, the zero, padding to 8.
constexpr int LargestDirent = (DirentNameOffset + 256 + 7) / 8 * 8;

bool HaveRootDevice = false;  // the start directory's device has been recorded
dev_t RootDevice = 0;         // directories on other devices are not entered
bool ShortReadEnds = false;   // the start directory's file system ends listings with a short read
bool CheckByMounts = false;   // the device check uses ForeignMounts instead of fstat
int RootPathLength = 0;       // length of the start directory's path as the scan gives it
// A path handle (O_PATH, not an enumeration) of the start directory, that the directories below
// it are opened from; kept until the next scan, or -1.
int RootFd = -1;
std::string RootRealPath;  // the start directory's path as the kernel names it, with a '/'
// The mount points below the start directory where path lookup reaches another device than the
// start directory's: their paths below it, each with a trailing '/', sorted.
std::vector<std::string> ForeignMounts;

// File systems whose directories all report the device of their mount and whose listings end
// in one short read (ext2/3/4, tmpfs). Others are treated conservatively.
bool Predictable(int fd) {
  struct statfs fs;
  if (fstatfs(fd, &fs) != 0) return false;
  return fs.f_type == EXT4_SUPER_MAGIC || fs.f_type == TMPFS_MAGIC;
}

// Reads the mount table and keeps the mount points strictly below RootRealPath where path
// lookup reaches a mount of another device than RootDevice. False when the table cannot be
// read whole.
bool LoadForeignMounts() {
  ForeignMounts.clear();
  MountTable table;
  if (!ReadMountTable(&table)) return false;
  ForeignMounts = ForeignMountsBelow(table, RootRealPath, RootDevice);
  for (std::string& m : ForeignMounts) m.erase(0, RootRealPath.size());
  return true;
}

// Prepares the device check from the open start directory fd and its path as given.
void RecordRoot(int fd, const struct stat& st, const PathStr& directory) {
  HaveRootDevice = true;
  if (RootFd >= 0) close(RootFd);
  RootFd = openat(fd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  RootDevice = st.st_dev;
  RootPathLength = directory.length;
  ShortReadEnds = false;
  CheckByMounts = false;
  if (!Predictable(fd)) return;
  ShortReadEnds = true;
  // The kernel's name of the open directory: symbolic links and "." or ".." resolved, as the
  // mount table spells its paths.
  char link[32];
  char real[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, real, sizeof real - 1);
  if (n <= 0 || real[0] != '/') return;
  RootRealPath.assign(real, (size_t)n);
  if (RootRealPath.back() != '/') RootRealPath += '/';
  CheckByMounts = LoadForeignMounts();
}

// True when the directory at rel (below the start directory, ending in '/') is the mount point
// of another device. Reads only what RecordRoot set, so workers may call it.
bool IsForeignMount(const char* rel) {
  auto at = std::lower_bound(ForeignMounts.begin(), ForeignMounts.end(), rel,
                             [](const std::string& m, const char* r) { return m.compare(r) < 0; });
  return at != ForeignMounts.end() && at->compare(rel) == 0;
}

// What the scan needs of an entry that is not a directory, measured with one fstatat.
struct Measured {
  bool directory;
  bool linked;  // more than one name
  int64_t size;
  int64_t allocated;
  uint64_t device, inode;
};

void Measure(int dirFd, const char* name, Measured* m) {
  struct stat st;
  // An entry gone since it was listed stays an entry of the table, counted as an empty file.
  if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    m->directory = true;
    return;
  }
  m->size = st.st_size;
  // What the file holds on the disk: a sparse file less than its length.
  int64_t blocks = (int64_t)st.st_blocks;
  int64_t held = blocks > INT64_MAX / 512 ? INT64_MAX : blocks * 512;
  m->allocated = held < st.st_size ? held : (int64_t)st.st_size;
  m->linked = st.st_nlink > 1;
  m->device = (uint64_t)st.st_dev;
  m->inode = (uint64_t)st.st_ino;
}

// The name's length: its zero lies in the record's last 8 bytes (the kernel pads to 8).
int NameLength(const LinuxDirent* d) {
  int from = d->reclen - DirentNameOffset - 8;
  if (from < 0) from = 0;
  return from + (int)std::strlen(d->name + from);
}

bool IsDots(const char* name) {
  return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// Calls take(name, length, directory) for each record of a batch of n bytes, in the kernel's
// order; directory is what the record's type says ("." and ".." are directories), before any
// size query.
template <typename Take>
void ForEachRecord(const char* batch, long n, Take take) {
  for (long pos = 0; pos < n;) {
    const LinuxDirent* d = (const LinuxDirent*)(batch + pos);
    pos += d->reclen;
    take(d->name, NameLength(d), IsDots(d->name) || d->type == DT_DIR);
  }
}

// One read of the listing of fd into buffer. Returns the bytes read (0 at the end, negative on
// failure); *last is set when the read proves that no entry follows.
long ReadBatch(int fd, char* buffer, int size, bool* last) {
  long n = syscall(SYS_getdents64, fd, buffer, size);
  *last = n > 0 && ShortReadEnds && size - n >= LargestDirent;
  return n;
}

// Opens the directory at rel, a path below the start directory ending in '/', with the rules
// of every directory below it: another file system is not entered (told by the mount table
// without opening it, or by its device once open).
FindResult OpenBelow(const char* rel, int* fd) {
  if (CheckByMounts && IsForeignMount(rel)) return FindOtherDevice;
  // The path is resolved from the start directory, not from "/": fewer names to look up per
  // directory, and the same directory is found.
  int f = openat(RootFd, rel, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
  if (f < 0) return (errno == ENOENT || errno == ENOTDIR) ? FindPathNotFound : FindFailed;
  if (!CheckByMounts) {
    struct stat st;
    if (fstat(f, &st) != 0) {
      close(f);
      return FindFailed;
    }
    if (st.st_dev != RootDevice) {
      close(f);
      return FindOtherDevice;
    }
  }
  *fd = f;
  return FindFound;
}

// ---------------------------------------------------------------------------------------------
// Reading in line: one batch of the open directory at a time, as the scan asks for entries.

int DirFd = -1;                      // the open enumeration, or -1
alignas(8) char Entries[32 * 1024];  // one batch of entries from the kernel
bool ListingDone = false;            // the last read held the end of the listing

// One entry of the last read, measured: every entry of a read is measured before the first is
// handed out, while the read's names are still in Entries.
struct Slot {
  const char* name;  // in Entries
  int nameLength;
  Measured m;
};
constexpr int MaxSlots = sizeof Entries / 24;  // the smallest record is 24 bytes
Slot Slots[MaxSlots];  // the entries of the last read, in the kernel's order
int SlotCount = 0;     // slots filled by the last read
int SlotPos = 0;       // the next slot to hand out

// Reads the next batch of entries and measures every one that is not a directory.
bool Refill() {
  if (ListingDone) return false;
  long n = ReadBatch(DirFd, Entries, sizeof Entries, &ListingDone);
  if (n <= 0) return false;
  SlotCount = SlotPos = 0;
  ForEachRecord(Entries, n, [](const char* name, int length, bool directory) {
    Slots[SlotCount++] = Slot{name, length, Measured{directory, false, 0, 0, 0, 0}};
  });
  for (int i = 0; i < SlotCount; ++i)
    if (!Slots[i].m.directory) Measure(DirFd, Slots[i].name, &Slots[i].m);
  return true;
}

void Hand(const char* name, int nameLength, const Measured& m, FindEntry* entry) {
  entry->name = name;
  entry->nameLength = nameLength;
  entry->attributes = m.directory ? AttrDirectory : 0;
  entry->size = m.size;
  entry->allocated = m.allocated;
  entry->linked = m.linked;
  entry->device = m.device;
  entry->inode = m.inode;
}

bool InlineNext(FindEntry* entry) {
  if (DirFd < 0) return false;
  if (SlotPos >= SlotCount && !Refill()) return false;
  const Slot& s = Slots[SlotPos++];
  Hand(s.name, s.nameLength, s.m, entry);
  return true;
}

void InlineClose() {
  if (DirFd >= 0) close(DirFd);
  DirFd = -1;
  SlotCount = SlotPos = 0;
  ListingDone = false;
}

// ---------------------------------------------------------------------------------------------
// Reading ahead: worker threads read whole listings of the directories the scan will ask for
// next and keep them until it does. The scan still takes one listing at a time, in its own
// order, so what it makes of them is the same as when it reads them itself.

// A whole listing, every entry measured, in the kernel's order.
struct ListedEntry {
  uint32_t nameOffset;  // in Listing::names
  uint16_t nameLength;
  Measured m;
};
struct Listing {
  FindResult result = FindFound;
  std::vector<ListedEntry> entries;
  std::string names;  // every name, each followed by a zero
  size_t Bytes() const { return entries.capacity() * sizeof(ListedEntry) + names.capacity(); }
};

// Reads the whole listing of the open directory fd (closed here) into l; buffer holds one
// batch. The results are those of reading in line: an empty or failing first read is a
// directory that cannot be read, a later failure ends the listing.
void ReadListing(int fd, Listing* l, char* buffer, int size) {
  bool last = false;
  for (bool first = true; !last; first = false) {
    long n = ReadBatch(fd, buffer, size, &last);
    if (n <= 0) {
      if (first) l->result = FindFailed;
      break;
    }
    size_t from = l->entries.size();
    // One allocation each for the entries and the names of a batch (most listings are one).
    size_t count = 0, nameBytes = 0;
    ForEachRecord(buffer, n, [&](const char*, int length, bool) {
      ++count;
      nameBytes += (size_t)length + 1;
    });
    l->entries.reserve(from + count);
    l->names.reserve(l->names.size() + nameBytes);
    ForEachRecord(buffer, n, [l](const char* name, int length, bool directory) {
      l->entries.push_back(ListedEntry{(uint32_t)l->names.size(), (uint16_t)length,
                                       Measured{directory, false, 0, 0, 0, 0}});
      l->names.append(name, (size_t)length + 1);
    });
    for (size_t i = from; i < l->entries.size(); ++i) {
      ListedEntry& e = l->entries[i];
      if (!e.m.directory) Measure(fd, l->names.data() + e.nameOffset, &e.m);
    }
  }
  close(fd);
}

// One directory read for the scan, by its path below the start directory.
struct Job {
  enum State { Reading, Done };
  std::string rel;  // with the final '/'
  // Where the scan meets it: the rank of each directory on its path among its siblings in the
  // scan's order, four bytes each, most significant first. Compared as bytes, a smaller key is
  // a directory the scan asks for sooner.
  std::string key;
  State state = Reading;
  Listing listing;  // complete once Done
};

// The subdirectories of one listing that are still to be read, in the order the scan visits
// them: from the last listed to the first, each with everything below it.
struct Siblings {
  std::string rel;                // the parent's path below the start directory, with the final '/'
  std::string key;                // the parent's key
  std::string names;              // the names, each followed by a zero, in listing order
  std::vector<uint32_t> offsets;  // where each name starts in names, in listing order
  size_t next = 0;                // how many the scan's order has passed (read or claimed)
  std::string nextKey;            // the key of the next one

  size_t Count() const { return offsets.size(); }
  // The next in the scan's order, by listing index.
  size_t NextIndex() const { return Count() - 1 - next; }
  const char* NextName() const { return names.data() + offsets[NextIndex()]; }
  void SetNextKey() {
    nextKey = key;
    for (int shift = 24; shift >= 0; shift -= 8)
      nextKey.push_back((char)(unsigned char)(next >> shift));
  }
};

// What a job read ahead holds until the scan takes it: its listing, and the job itself with
// its path twice (the record of started jobs is keyed by it) and its key.
size_t HeldBytes(const Job& j) {
  return j.listing.Bytes() + sizeof(Job) + 2 * (j.rel.capacity() + 32) + j.key.capacity();
}

// Orders the sibling lists by the key of their next directory, soonest first.
struct SoonerInScan {
  bool operator()(const Siblings* a, const Siblings* b) const {
    return a->nextKey != b->nextKey ? a->nextKey < b->nextKey : a < b;
  }
};

// What the scan's thread and the workers share; every field is guarded by `lock`.
// - Whoever reads a listing puts its subdirectories in `waiting` (and `byParent`).
// - A worker takes the next directory of the first sibling list (the one the scan will ask for
//   soonest), records it in `started`, reads it, and marks it Done.
// - The scan's thread takes its directory from `started`, waiting while a worker reads it; one
//   no worker has started it claims from its sibling list and reads itself.
struct ReadAheadState {
  std::mutex lock;
  std::condition_variable workReady;     // directories were queued, budget was freed, or stopping
  std::condition_variable listingReady;  // the job the scan waits for is Done
  std::set<Siblings*, SoonerInScan> waiting;  // sibling lists with directories still to read
  std::unordered_map<std::string, Siblings*> byParent;  // the same lists, by the parent's rel
  std::unordered_map<std::string, Job*> started;        // read or being read, not yet taken, by rel
  size_t heldBytes = 0;    // the listings that are Done and not yet taken
  Job* awaited = nullptr;  // the job the scan waits for, if it waits
  int idleWorkers = 0;     // workers waiting for work or budget
  bool stopping = false;
};
ReadAheadState Shared;

// The listings read ahead and not yet taken are held to this many bytes (a few thousand
// directories of the usual size); then the workers wait until half of it is free again.
constexpr size_t ReadAheadBudget = 1 << 20;
// Workers when QUORVEL_THREADS does not say: on a machine of two cores as many as there are
// cores read a warm tree fastest, and more keep more requests before a cold disk; eight gain
// most of the second and lose little of the first.
constexpr int DefaultThreads = 8;

std::vector<std::thread> Workers;  // started and joined by the scan's thread only
Job* Current = nullptr;            // the listing being handed to the scan (scan's thread only)
size_t CurrentPosition = 0;        // its next entry

// Moves list g past its next directory, now started or claimed (the caller holds the lock);
// deletes g when it is used up.
void PassNext(Siblings* g) {
  Shared.waiting.erase(g);
  ++g->next;
  if (g->next < g->Count()) {
    g->SetNextKey();
    Shared.waiting.insert(g);
  } else {
    Shared.byParent.erase(g->rel);
    delete g;
  }
}

// The subdirectories of parent's listing that the scan will read, or null when there are none:
// not "." and "..", and not those whose path would not fit the budget (the scan skips them
// unread).
Siblings* SubdirectoriesOf(const Job& parent) {
  const Listing& l = parent.listing;
  if (l.result != FindFound) return nullptr;
  Siblings* g = nullptr;
  long parentLength = RootPathLength + (long)parent.rel.size();
  for (const ListedEntry& e : l.entries) {
    const char* name = l.names.data() + e.nameOffset;
    if (!e.m.directory || IsDots(name) || !SubdirectoryFits(parentLength, e.nameLength)) continue;
    if (!g) g = new Siblings;
    g->offsets.push_back((uint32_t)g->names.size());
    g->names.append(name, (size_t)e.nameLength + 1);
  }
  if (!g) return nullptr;
  g->rel = parent.rel;
  g->key = parent.key;
  g->SetNextKey();
  return g;
}

// Puts sibling list g (if any) among the waiting ones; the caller holds the lock. Wakes as many
// idle workers as there is new work for: waking them all for every listing would cost more
// than the reading on a machine of few cores.
void Enqueue(Siblings* g) {
  if (!g) return;
  Shared.byParent.emplace(g->rel, g);
  Shared.waiting.insert(g);
  int wake = std::min((int)g->Count(), Shared.idleWorkers);
  for (int i = 0; i < wake; ++i) Shared.workReady.notify_one();
}

// The same from the scan's thread, which does not hold the lock.
void QueueSubdirectories(const Job& parent) {
  Siblings* g = SubdirectoriesOf(parent);
  if (!g) return;
  std::lock_guard<std::mutex> hold(Shared.lock);
  Enqueue(g);
}

// Opens and reads the directory of job j's path into its listing.
void ReadJob(Job* j, char* buffer, int size) {
  int fd;
  j->listing.result = OpenBelow(j->rel.c_str(), &fd);
  if (j->listing.result == FindFound) ReadListing(fd, &j->listing, buffer, size);
}

void Work() {
  std::vector<char> batch(32 * 1024);
  std::unique_lock<std::mutex> hold(Shared.lock);
  for (;;) {
    // A worker that found the budget full waits until half of it is free again, so that the
    // workers go back to reading together instead of one at a time with every listing taken.
    bool full = Shared.heldBytes >= ReadAheadBudget;
    ++Shared.idleWorkers;
    Shared.workReady.wait(hold, [full] {
      return Shared.stopping || (!Shared.waiting.empty() &&
                                 Shared.heldBytes < (full ? ReadAheadBudget / 2 : ReadAheadBudget));
    });
    --Shared.idleWorkers;
    if (Shared.stopping) return;
    Siblings* g = *Shared.waiting.begin();
    Job* j = new Job;
    j->rel = g->rel;
    j->rel.append(g->NextName()).push_back('/');
    j->key = g->nextKey;
    Shared.started.emplace(j->rel, j);
    PassNext(g);
    hold.unlock();
    ReadJob(j, batch.data(), (int)batch.size());
    Siblings* below = SubdirectoriesOf(*j);
    hold.lock();
    Enqueue(below);
    j->state = Job::Done;
    Shared.heldBytes += HeldBytes(*j);
    if (Shared.awaited == j) Shared.listingReady.notify_one();
  }
}

// The workers QUORVEL_THREADS asks for: a whole number from 1 to 256; anything else is ignored.
int ThreadCount() {
  const char* v = std::getenv("QUORVEL_THREADS");
  if (!v || !*v) return DefaultThreads;
  long n = 0;
  for (const char* p = v; *p; ++p) {
    if (*p < '0' || *p > '9' || n > 256) return DefaultThreads;
    n = n * 10 + (*p - '0');
  }
  return n >= 1 && n <= 256 ? (int)n : DefaultThreads;
}

void StartWorkers(int count) {
  Shared.stopping = false;
  // Listings are made by the workers and freed by the scan's thread: a few heaps, not one per
  // thread, keep that from spreading memory over many, without making them queue for one.
  mallopt(M_ARENA_MAX, 8);
  // Workers take no signals: Ctrl+C and the others reach the scan's thread, whose handlers
  // put the terminal back.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &old);
  for (int i = 0; i < count; ++i) {
    try {
      Workers.emplace_back(Work);
    } catch (const std::system_error&) {
      break;  // no more threads: the scan reads what the others do not
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void StopWorkers() {
  {
    std::lock_guard<std::mutex> hold(Shared.lock);
    Shared.stopping = true;
  }
  Shared.workReady.notify_all();
  for (std::thread& t : Workers) t.join();
  Workers.clear();
  for (Siblings* g : Shared.waiting) delete g;
  for (auto& entry : Shared.started) delete entry.second;
  Shared.waiting.clear();
  Shared.byParent.clear();
  Shared.started.clear();
  Shared.heldBytes = 0;
  Shared.idleWorkers = 0;
  Shared.stopping = false;
}

bool ReadingAhead() {
  return !Workers.empty();
}

// The listing of directory (below the start directory) for the scan: the one a worker read, a
// worker's that is under way, or read here at once.
FindResult TakeListing(const PathStr& directory) {
  std::string rel(directory.text + RootPathLength, (size_t)(directory.length - RootPathLength));
  Job* j = nullptr;
  std::string key;     // of a directory claimed to be read here
  bool freed = false;  // the budget was full and is half free now
  {
    std::unique_lock<std::mutex> hold(Shared.lock);
    auto it = Shared.started.find(rel);
    if (it != Shared.started.end()) {
      j = it->second;
      Shared.started.erase(it);
      Shared.awaited = j;
      Shared.listingReady.wait(hold, [j] { return j->state == Job::Done; });
      Shared.awaited = nullptr;
      Shared.heldBytes -= HeldBytes(*j);
      freed = Shared.idleWorkers > 0 && !Shared.waiting.empty() &&
              Shared.heldBytes < ReadAheadBudget / 2;
    } else {
      // Not started: the scan asks for its directories in the order of the sibling lists, so
      // this is the next of its parent's; claimed there, no worker reads it too. rel is
      // "parent/name/" with parent "" or ending in '/'.
      size_t slash = rel.size() < 2 ? std::string::npos : rel.rfind('/', rel.size() - 2);
      size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
      auto g = Shared.byParent.find(rel.substr(0, nameStart));
      if (g != Shared.byParent.end() &&
          rel.compare(nameStart, rel.size() - 1 - nameStart, g->second->NextName()) == 0) {
        key = g->second->nextKey;
        PassNext(g->second);
      }
    }
  }
  if (freed) Shared.workReady.notify_all();
  if (!j) {
    j = new Job;
    j->rel = rel;
    j->key = key;
    ReadJob(j, Entries, sizeof Entries);
    QueueSubdirectories(*j);
  }
  Current = j;
  CurrentPosition = 0;
  return j->listing.result;
}

bool ListingNext(FindEntry* entry) {
  if (!Current || CurrentPosition >= Current->listing.entries.size()) return false;
  const ListedEntry& e = Current->listing.entries[CurrentPosition++];
  Hand(Current->listing.names.data() + e.nameOffset, e.nameLength, e.m, entry);
  return true;
}

// ---------------------------------------------------------------------------------------------
// The table the scan reads through.

void PosixClose() {
  InlineClose();
  delete Current;
  Current = nullptr;
}

void PosixEndScan() {
  PosixClose();
  if (ReadingAhead()) StopWorkers();
}

// Also forgets the last scan's start directory, should it not have ended.
void PosixStartScan() {
  PosixEndScan();
  HaveRootDevice = false;
  ForeignMounts.clear();
}

bool PosixNext(FindEntry* entry) {
  return Current ? ListingNext(entry) : InlineNext(entry);
}

// Opens the start directory, records what the rules below it need, and starts the workers
// when they are wanted: then its listing is read whole and its subdirectories queued.
FindResult OpenStart(const PathStr& directory) {
  int fd = open(directory.text, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? FindPathNotFound : FindFailed;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    close(fd);
    return FindFailed;
  }
  RecordRoot(fd, st, directory);
  int threads = ThreadCount();
  if (threads > 1 && RootFd >= 0) StartWorkers(threads);
  if (!ReadingAhead()) {
    DirFd = fd;
    return FindFound;
  }
  Current = new Job;
  CurrentPosition = 0;
  ReadListing(fd, &Current->listing, Entries, sizeof Entries);
  QueueSubdirectories(*Current);
  return Current->listing.result;
}

FindResult PosixFirst(const PathStr& directory, FindEntry* entry) {
  PosixClose();
  FindResult result;
  if (!HaveRootDevice || directory.length <= RootPathLength)
    result = OpenStart(directory);
  else if (ReadingAhead())
    result = TakeListing(directory);
  else
    result = OpenBelow(directory.text + RootPathLength, &DirFd);
  if (result == FindFound && !PosixNext(entry)) {
    PosixClose();
    result = FindFailed;
  }
  return result;
}

const FileSystemOps PosixOps = {PosixStartScan, PosixFirst, PosixNext, PosixClose, PosixEndScan};
}  // namespace

const FileSystemOps* PlatformFileSystem() {
  return &PosixOps;
}
const FileSystemOps* ScanFileSystem = PlatformFileSystem();
