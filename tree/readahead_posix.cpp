// Worker threads that read directories ahead of the scan. Only code for POSIX systems goes in
// this file.
//
// Memory: everything the workers hold (listings being read and read, and their records) is held
// to ReadAheadBudget. A worker counts each batch as it reads it; one that would pass the budget
// waits, its directory open, until the scan has taken enough. The directory the scan is taking
// is read on regardless, a few batches ahead of the scan, which frees each batch as it hands it
// out: so a listing of any size costs what reading it in line costs, and batches are kept as the
// kernel gave them, never copied or grown.
//
// Failure: a worker that finds no file descriptor leaves its directory to the scan's thread (and
// stops, since the others will find none either); one whose allocation fails does the same and
// ends reading ahead for the whole scan; the scan's thread then reads in line what it has not
// taken yet, and goes on in line with a directory whose first batches it has. Nothing a worker
// meets becomes "could not be read" that would not be so in line, and nothing aborts the
// program.
#include "tree/readahead_posix.h"

#include <malloc.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <unordered_map>
#include <vector>

#include "tree/scan.h"

namespace {
// The listings read ahead and not yet taken, with their records, are held to this many bytes
// (a few thousand directories of the usual size). When it is full the workers wait until half
// of it is free again, so that they go back to reading together instead of one at a time.
constexpr size_t ReadAheadBudget = 1 << 20;
// What one more batch may add to the budget: its records, what was measured of each, its header.
constexpr size_t LargestBatch =
    BatchBytes + MaxBatchRecords * sizeof(Measured) + sizeof(ListingBatch);
// The directory the scan is taking is read at most this many batches ahead of it.
constexpr int MostAheadOfTheScan = 4;
// Under a limit of address space or data below this, the workers' own (their stacks and the
// budget, about 4 MiB) would be a share of it that the tree itself needs: the scan reads in line,
// as completely as it can.
constexpr rlim_t LeastLimitForWorkers = 64u << 20;
// Each worker's stack: it calls only the system and small routines of its own, and many stacks
// of the default 8 MiB would reserve more address space than a memory limit may allow. The
// stacks are the program's own, so that ending the workers gives their space back at once (the
// C library keeps the stacks it made for threads that ended, for threads to come).
constexpr size_t WorkerStack = 256 * 1024;

}  // namespace

// One directory read ahead for the scan, by its path below the start directory.
struct ReadAheadJob {
  // Reading: its worker reads it (the scan may take it meanwhile); Queueing: its listing is
  // whole and its worker queues its subdirectories; Done: its worker has let it go; LeftToScan:
  // nothing of it is kept, the scan's thread reads it.
  enum State { Reading, Queueing, Done, LeftToScan };
  std::string rel;  // with the final '/'
  // Where the scan meets it: the rank of each directory on its path among its siblings in the
  // scan's order, four bytes each, most significant first. Compared as bytes, a smaller key is
  // a directory the scan asks for sooner.
  std::string key;
  State state = Reading;
  FindResult result = FindFound;
  ListingBatch* first = nullptr;  // what is read and not yet taken, in the kernel's order
  ListingBatch** tail = &first;
  int batches = 0;      // in that list
  size_t recordBytes = 0;  // what the record itself holds against the budget
  int fd = -1;          // Done with fd >= 0: its worker stopped early; the listing goes on here
  bool queued = false;  // its subdirectories are queued
  bool taken = false;   // the scan takes its batches as they come, and gathers its subdirectories
  bool abandoned = false;  // the scan let it go while it was read: its worker deletes it
};

namespace {
using Job = ReadAheadJob;

// The subdirectories of one listing that are still to be read, in the scan's order.
struct Siblings {
  std::string rel;                // the parent's path below the start directory, with the final '/'
  std::string key;                // the parent's key
  std::string names;              // the names, each followed by a zero, in listing order
  std::vector<uint32_t> offsets;  // where each name starts in names, in listing order
  size_t next = 0;                // how many the scan's order has passed (read or claimed)
  std::string nextKey;            // the key of the next one

  size_t Count() const { return offsets.size(); }
  const char* NextName() const {
    return names.data() + offsets[(size_t)ListingIndexOfVisit((long)Count(), (long)next)];
  }
  void SetNextKey() {
    nextKey = key;
    for (int shift = 24; shift >= 0; shift -= 8)
      nextKey.push_back((char)(unsigned char)(next >> shift));
  }
  void Add(const char* name, int length) {
    offsets.push_back((uint32_t)names.size());
    names.append(name, (size_t)length).push_back(0);
  }
};

// Orders the sibling lists by the key of their next directory, soonest first.
struct SoonerInScan {
  bool operator()(const Siblings* a, const Siblings* b) const {
    return a->nextKey != b->nextKey ? a->nextKey < b->nextKey : a < b;
  }
};

// What the scan's thread and the workers share; every field is guarded by `lock`.
// - Whoever has a whole listing puts its subdirectories in `waiting` (and `byParent`).
// - A worker takes the next directory of the first sibling list (the one the scan will ask for
//   soonest), records it in `started`, reads it, and marks it Done (or LeftToScan).
// - The scan's thread takes its directory from `started`, waiting while a worker reads it; one
//   no worker has started it claims from its sibling list and reads itself.
struct ReadAheadState {
  std::mutex lock;
  std::condition_variable workReady;     // directories were queued, budget was freed, or stopping
  std::condition_variable listingReady;  // the job the scan waits for has a batch, or is Done
  std::condition_variable progress;      // a worker that waits with a directory open may go on
  std::condition_variable descriptorFreed;    // no worker has a directory open any more
  std::set<Siblings*, SoonerInScan> waiting;  // sibling lists with directories still to read
  std::unordered_map<std::string, Siblings*> byParent;  // the same lists, by the parent's rel
  std::unordered_map<std::string, Job*> started;  // read or being read, not yet taken, by rel
  size_t heldBytes = 0;    // what the jobs hold: records and batches not yet taken
  bool full = false;       // the budget ran full; idle workers wait until half of it is free
  Job* awaited = nullptr;  // the job the scan waits for, if it waits
  int idleWorkers = 0;     // workers waiting for work or budget
  int pausedWorkers = 0;   // workers waiting, a directory open, for budget or for the scan
  int reading = 0;         // workers with a directory open
  bool descriptorWanted = false;  // the scan's thread waits for a descriptor: start nothing
  bool shortOfMemory = false;     // an allocation failed on a worker: reading ahead ends
  bool stopping = false;
};
ReadAheadState Shared;

struct Worker {
  pthread_t thread;
  void* stack;  // WorkerStack bytes, the lowest page a guard
};
std::vector<Worker> Workers;  // started and joined by the scan's thread only

// What the scan's thread gathers of the directory it reads in line (scan's thread only).
Siblings* Gathered = nullptr;  // null until the first subdirectory
bool GatherActive = false;
std::string GatherRel, GatherKey;
long GatherParentLength = 0;

// What each worker keeps for itself: one read's records and measures, and a spare batch of the
// largest size for a read that finds no memory for its copy.
struct WorkerBuffers {
  char records[BatchBytes];
  Measured measured[MaxBatchRecords];
  ListingBatch* spare;
};

size_t BatchSize(const ListingBatch* b) {
  return sizeof(ListingBatch) + (size_t)b->count * sizeof(Measured) + (size_t)b->bytes;
}

// Releases what job j holds (its batches and its open directory) and gives it back to the
// budget; the caller holds the lock.
void DropListing(Job* j) {
  for (ListingBatch* b = j->first; b; b = b->next) Shared.heldBytes -= BatchSize(b);
  FreeBatches(j->first);
  j->first = nullptr;
  j->tail = &j->first;
  j->batches = 0;
  if (j->fd >= 0) close(j->fd);
  j->fd = -1;
}

// Moves list g past its next directory, now started or claimed (the caller holds the lock);
// deletes g when it is used up. Allocates nothing.
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

// Puts sibling list g among the waiting ones; the caller holds the lock. Wakes as many idle
// workers as there is new work for: waking them all for every listing would cost more than the
// reading on a machine of few cores. May throw std::bad_alloc, leaving g the caller's.
void Enqueue(Siblings* g) {
  auto at = Shared.byParent.emplace(g->rel, g);
  if (!at.second) throw std::bad_alloc();  // listed twice: cannot be, but never two owners
  try {
    Shared.waiting.insert(g);
  } catch (...) {
    Shared.byParent.erase(at.first);
    throw;
  }
  int wake = std::min((int)g->Count(), Shared.idleWorkers);
  for (int i = 0; i < wake; ++i) Shared.workReady.notify_one();
}

// The subdirectories of job j's whole listing that the scan will read, or null when there are
// none. May throw std::bad_alloc.
Siblings* SubdirectoriesOf(const Job& j) {
  if (j.result != FindFound) return nullptr;
  Siblings* g = nullptr;
  long parentLength = RootPathLength + (long)j.rel.size();
  try {
    for (ListingBatch* b = j.first; b; b = b->next) {
      BatchCursor c{b->Records(), b->bytes, 0, 0, b->MeasuredEntries()};
      FindEntry e;
      while (NextInBatch(&c, &e)) {
        if (!(e.attributes & AttrDirectory) || IsDots(e.name) ||
            !ScanReadsSubdirectory(j.rel.data(), (int)j.rel.size(), parentLength, e.name,
                                   e.nameLength))
          continue;
        if (!g) g = new Siblings;
        g->Add(e.name, e.nameLength);
      }
    }
    if (!g) return nullptr;
    g->rel = j.rel;
    g->key = j.key;
    g->SetNextKey();
  } catch (...) {
    delete g;
    throw;
  }
  return g;
}

// Workers may start a job when there is one and the budget has room for a batch; after it ran
// full, when half of it is free again.
bool MayStart() {
  if (Shared.waiting.empty() || Shared.descriptorWanted) return false;
  size_t limit = Shared.full ? ReadAheadBudget / 2 : ReadAheadBudget;
  if (Shared.heldBytes + LargestBatch <= limit) {
    Shared.full = false;
    return true;
  }
  Shared.full = true;
  return false;
}

// Whether the worker of job j may read its next batch, after waiting while it may not; the
// caller holds the lock. False when it must stop reading: it is stopping, the scan's thread
// wants its descriptor, or the scan let the job go.
bool MayGoOn(Job* j, std::unique_lock<std::mutex>& hold) {
  for (;;) {
    if (Shared.stopping || j->abandoned || (Shared.descriptorWanted && !j->taken)) return false;
    // The scan's own directory goes on regardless of the budget, a few batches ahead of it;
    // the others wait until the budget has room.
    if (j->taken ? j->batches < MostAheadOfTheScan
                 : Shared.heldBytes + LargestBatch <= ReadAheadBudget)
      return true;
    if (!j->taken) Shared.full = true;
    ++Shared.pausedWorkers;
    Shared.progress.wait(hold);
    --Shared.pausedWorkers;
  }
}

// Reads one batch of the open directory fd into the worker's own buffer, measures it, and copies
// it into a batch of its exact size. Null only at the end of the listing or on a failing read
// (*n <= 0, as ReadBatch tells). When there is no memory for the copy, the worker's spare batch,
// set aside when it started, takes it (*memoryShort): what was read is never lost, so a listing
// the scan has begun can go on from fd. The worker stops after that batch, so one spare does.
// Called without the lock.
ListingBatch* ReadOneBatch(int fd, WorkerBuffers* w, long* n, bool* last, bool* memoryShort) {
  *memoryShort = false;
  *n = ReadBatch(fd, w->records, BatchBytes, last);
  if (*n <= 0) return nullptr;
  int count = SortRecords(w->records, *n, w->measured);
  BatchCursor c{w->records, *n, 0, 0, w->measured};
  FindEntry e;
  for (int i = 0; i < count && NextInBatch(&c, &e); ++i)
    if (!w->measured[i].directory) Measure(fd, e.name, &w->measured[i]);
  size_t size = sizeof(ListingBatch) + (size_t)*n + (size_t)count * sizeof(Measured);
  ListingBatch* b = (ListingBatch*)std::malloc(size);
  if (!b) {
    b = w->spare;
    w->spare = nullptr;
    *memoryShort = true;
  }
  b->next = nullptr;
  b->bytes = *n;
  b->count = count;
  std::memcpy(b->Records(), w->records, (size_t)*n);
  std::memcpy(b->MeasuredEntries(), w->measured, (size_t)count * sizeof(Measured));
  return b;
}

// Appends batch b to job j; the caller holds the lock.
void Append(Job* j, ListingBatch* b) {
  *j->tail = b;
  j->tail = &b->next;
  ++j->batches;
  Shared.heldBytes += BatchSize(b);
  if (j->taken) Shared.listingReady.notify_one();
}

// Queues the subdirectories of job j's whole listing (g, or worked out here) unless the scan
// has taken it meanwhile, which then gathers them; the caller holds the lock, which is let go
// while they are worked out. False when memory ran short.
bool QueueSubdirectories(Job* j, Siblings* g, std::unique_lock<std::mutex>& hold) {
  try {
    if (!g && !j->taken && j->result == FindFound && j->first) {
      // Its worker queues its subdirectories from its batches, which the scan cannot take
      // meanwhile.
      j->state = Job::Queueing;
      hold.unlock();
      g = SubdirectoriesOf(*j);
      hold.lock();
    }
    if (g && !j->taken) {
      Enqueue(g);
      g = nullptr;
    }
    j->queued = !j->taken;
  } catch (const std::bad_alloc&) {
    if (!hold.owns_lock()) hold.lock();
    delete g;
    return false;
  }
  delete g;
  return true;
}

// Reads job j's directory, a batch at a time, into j; called and left with the lock held (it is
// let go while the system is asked). Most directories take one read: they are opened, read
// and closed, and their subdirectories worked out, in one turn without the lock. Returns true
// when the worker should stop: no descriptor or no memory was to be had, or it is stopping.
// Sets *gone when j was deleted (the scan had let it go).
bool ReadJob(Job* j, std::unique_lock<std::mutex>& hold, WorkerBuffers* w, bool* gone) {
  *gone = false;
  ++Shared.reading;
  hold.unlock();
  int fd = -1;
  bool noDescriptor = false;
  FindResult opened = OpenBelow(j->rel.c_str(), &fd, &noDescriptor);
  long n = 0;
  bool last = false;
  ListingBatch* b = nullptr;
  Siblings* g = nullptr;
  bool memoryShort = false;
  if (opened == FindFound) {
    b = ReadOneBatch(fd, w, &n, &last, &memoryShort);
    if (last && b) {
      close(fd);
      fd = -1;
      // The whole listing in one batch: its subdirectories, worked out before it is published.
      Job one;
      one.first = b;
      try {
        one.rel = j->rel;
        one.key = j->key;
        g = SubdirectoriesOf(one);
      } catch (const std::bad_alloc&) {
        memoryShort = true;
      }
      one.first = nullptr;
    }
  }
  hold.lock();
  bool stop = false;
  if (noDescriptor) {
    j->state = Job::LeftToScan;
    stop = true;
  } else if (opened != FindFound) {
    j->result = opened;
    j->state = Job::Done;
  } else if (n <= 0) {
    // An empty or failing first read is a directory that cannot be read, as in line.
    j->result = FindFailed;
    j->state = Job::Done;
  } else {
    bool whole = false;
    for (;;) {
      Append(j, b);
      b = nullptr;
      if (last) {
        whole = true;
        break;
      }
      if (memoryShort || !MayGoOn(j, hold)) break;
      hold.unlock();
      b = ReadOneBatch(fd, w, &n, &last, &memoryShort);
      hold.lock();
      if (!b) {
        whole = true;  // the end, or a later failure, which ends the listing as in line
        break;
      }
    }
    if (memoryShort) Shared.shortOfMemory = true;
    stop = memoryShort || Shared.stopping;
    if (j->abandoned) {
      // Nothing to publish: the scan let it go.
    } else if (whole) {
      if (!QueueSubdirectories(j, g, hold)) {
        Shared.shortOfMemory = true;
        stop = true;
      }
      g = nullptr;
    } else if (j->taken) {
      // The scan has begun handing its entries out: it goes on from here, in line.
      j->fd = fd;
      fd = -1;
    } else {
      DropListing(j);
      j->state = Job::LeftToScan;
    }
    if (j->state == Job::Reading || j->state == Job::Queueing) j->state = Job::Done;
  }
  delete g;
  if (fd >= 0) close(fd);
  --Shared.reading;
  if (Shared.descriptorWanted && Shared.reading == 0) Shared.descriptorFreed.notify_all();
  if (j->abandoned) {
    DropListing(j);
    delete j;
    *gone = true;
  }
  return stop;
}

void* Work(void*) {
  WorkerBuffers* w = (WorkerBuffers*)std::malloc(sizeof(WorkerBuffers));
  if (w) w->spare = (ListingBatch*)std::malloc(LargestBatch);
  std::unique_lock<std::mutex> hold(Shared.lock);
  for (;;) {
    if (!w || !w->spare) break;
    ++Shared.idleWorkers;
    Shared.workReady.wait(
        hold, [] { return Shared.stopping || Shared.shortOfMemory || MayStart(); });
    --Shared.idleWorkers;
    if (Shared.stopping || Shared.shortOfMemory) break;
    Siblings* g = *Shared.waiting.begin();
    Job* j = nullptr;
    try {
      j = new Job;
      j->rel = g->rel;
      j->rel.append(g->NextName()).push_back('/');
      j->key = g->nextKey;
      Shared.started.emplace(j->rel, j);
    } catch (const std::bad_alloc&) {
      delete j;
      Shared.shortOfMemory = true;
      break;
    }
    PassNext(g);
    j->recordBytes = sizeof(Job) + 2 * j->rel.capacity() + j->key.capacity() + 64;
    Shared.heldBytes += j->recordBytes;
    bool gone = false;
    bool stop = ReadJob(j, hold, w, &gone);
    if (!gone && Shared.awaited == j) Shared.listingReady.notify_one();
    if (stop) break;
  }
  // Whatever the scan's thread waits for can no longer come from this worker.
  Shared.listingReady.notify_all();
  hold.unlock();
  if (w) std::free(w->spare);
  std::free(w);
  return nullptr;
}

// Frees every job, list and record the workers left (the workers have been joined).
void ReleaseShared() {
  for (Siblings* g : Shared.waiting) delete g;
  for (auto& entry : Shared.started) {
    DropListing(entry.second);
    delete entry.second;
  }
  std::set<Siblings*, SoonerInScan>().swap(Shared.waiting);
  std::unordered_map<std::string, Siblings*>().swap(Shared.byParent);
  std::unordered_map<std::string, Job*>().swap(Shared.started);
  Shared.heldBytes = 0;
  Shared.full = false;
  Shared.awaited = nullptr;
  Shared.idleWorkers = 0;
  Shared.pausedWorkers = 0;
  Shared.reading = 0;
  Shared.descriptorWanted = false;
  Shared.shortOfMemory = false;
  Shared.stopping = false;
}

// True when a limit of address space or data leaves the workers too little room.
bool MemoryLimited() {
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    struct rlimit limit;
    if (getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        limit.rlim_cur < LeastLimitForWorkers)
      return true;
  }
  return false;
}
}  // namespace

void FreeBatches(ListingBatch* first) {
  while (first) {
    ListingBatch* next = first->next;
    std::free(first);
    first = next;
  }
}

bool StartReadAhead(int count) {
  if (MemoryLimited()) return false;
  Shared.stopping = false;
  // Two heaps: the scan's thread keeps its own for the tree it builds, and the workers share
  // the other for the listings, which the scan's thread frees into it for the next. A heap per
  // thread would reserve address space for each (64 MiB) and spread the memory over them; one
  // for all made the scan's thread queue behind the workers for every node (the typical tree
  // warm: 0.64 s with one heap, 0.53 s with two, 0.45 s with eight; peak memory the same).
  mallopt(M_ARENA_MAX, 2);
  // Workers take no signals: Ctrl+C and the others reach the scan's thread, whose handlers
  // put the terminal back.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &old);
  try {
    Workers.reserve((size_t)count);
    for (int i = 0; i < count; ++i) {
      // No more threads, or no memory for a stack: the scan reads what the others do not.
      void* stack = mmap(nullptr, WorkerStack, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
      if (stack == MAP_FAILED) break;
      mprotect(stack, (size_t)sysconf(_SC_PAGESIZE), PROT_NONE);
      pthread_attr_t attributes;
      pthread_t t;
      bool started = pthread_attr_init(&attributes) == 0;
      if (started) {
        started = pthread_attr_setstack(&attributes, stack, WorkerStack) == 0 &&
                  pthread_create(&t, &attributes, Work, nullptr) == 0;
        pthread_attr_destroy(&attributes);
      }
      if (!started) {
        munmap(stack, WorkerStack);
        break;
      }
      Workers.push_back(Worker{t, stack});
    }
  } catch (const std::bad_alloc&) {
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return !Workers.empty();
}

bool ReadingAhead() {
  return !Workers.empty();
}

void StopReadAhead() {
  GatherDrop();
  if (!ReadingAhead()) return;
  {
    std::lock_guard<std::mutex> hold(Shared.lock);
    Shared.stopping = true;
  }
  Shared.workReady.notify_all();
  Shared.progress.notify_all();
  for (Worker& w : Workers) {
    pthread_join(w.thread, nullptr);
    munmap(w.stack, WorkerStack);
  }
  std::vector<Worker>().swap(Workers);
  ReleaseShared();
}

// The budget was given back: idle workers may start again once half of it is free, and those
// waiting with a directory open may go on. The caller holds the lock.
void BudgetFreed() {
  if (Shared.pausedWorkers > 0) Shared.progress.notify_all();
  if (Shared.full && Shared.heldBytes + LargestBatch <= ReadAheadBudget / 2 &&
      Shared.idleWorkers > 0 && !Shared.waiting.empty())
    Shared.workReady.notify_all();
}

TakeKind TakeListing(const std::string& rel, TakenDirectory* taken) {
  std::unique_lock<std::mutex> hold(Shared.lock);
  if (Shared.shortOfMemory) return TakeStop;
  auto it = Shared.started.find(rel);
  if (it == Shared.started.end()) {
    // Not started: the scan asks for its directories in the order of the sibling lists, so this
    // is the next of its parent's; claimed there, no worker reads it too. rel is
    // "parent/name/" with parent "" or ending in '/'.
    size_t slash = rel.size() < 2 ? std::string::npos : rel.rfind('/', rel.size() - 2);
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    auto g = Shared.byParent.find(rel.substr(0, nameStart));
    if (g != Shared.byParent.end() &&
        rel.compare(nameStart, rel.size() - 1 - nameStart, g->second->NextName()) == 0) {
      taken->key = g->second->nextKey;
      taken->gather = true;
      PassNext(g->second);
    }
    return TakeReadHere;
  }
  Job* j = it->second;
  Shared.started.erase(it);
  Shared.heldBytes -= j->recordBytes;
  j->recordBytes = 0;
  // From now on the scan takes its batches as they come: its worker reads on, whatever the
  // budget, and leaves its subdirectories to the scan, which sees every entry.
  if (j->state == Job::Reading) {
    j->taken = true;
    if (Shared.pausedWorkers > 0) Shared.progress.notify_all();
  }
  Shared.awaited = j;
  // A worker marks its job before it stops, so this wait always ends.
  Shared.listingReady.wait(hold, [j] {
    return j->state == Job::Done || j->state == Job::LeftToScan ||
           (j->state == Job::Reading && j->first);
  });
  Shared.awaited = nullptr;
  BudgetFreed();
  bool shortOfMemory = Shared.shortOfMemory;
  taken->key.swap(j->key);
  taken->gather = j->taken || !j->queued;
  if (j->state == Job::LeftToScan) {
    delete j;
    return shortOfMemory ? TakeStop : TakeReadHere;
  }
  taken->result = j->result;
  if (j->state == Job::Reading && j->result == FindFound) {
    taken->job = j;
    return TakenListing;
  }
  // Read whole, or as far as its worker went: all of it at once, without the lock again.
  for (ListingBatch* b = j->first; b; b = b->next) Shared.heldBytes -= BatchSize(b);
  taken->batches = j->first;
  taken->fd = j->fd;
  delete j;
  return TakenListing;
}

bool NextBatch(Job* j, ListingBatch** batch, int* fd) {
  std::unique_lock<std::mutex> hold(Shared.lock);
  Shared.awaited = j;
  Shared.listingReady.wait(hold, [j] { return j->first || j->state != Job::Reading; });
  Shared.awaited = nullptr;
  *fd = -1;
  if (!j->first) {
    std::swap(*fd, j->fd);
    return false;
  }
  ListingBatch* b = j->first;
  j->first = b->next;
  if (!j->first) j->tail = &j->first;
  --j->batches;
  b->next = nullptr;
  Shared.heldBytes -= BatchSize(b);
  BudgetFreed();
  *batch = b;
  return true;
}

void ReleaseJob(Job* j) {
  if (!j) return;
  std::lock_guard<std::mutex> hold(Shared.lock);
  if (j->state == Job::Reading) {
    // Its worker deletes it when it sees this.
    j->abandoned = true;
    Shared.progress.notify_all();
    return;
  }
  DropListing(j);
  BudgetFreed();
  delete j;
}

void GatherBegin(const char* rel, int relLength, const std::string& key) {
  GatherDrop();
  GatherRel.assign(rel, (size_t)relLength);
  GatherKey = key;
  GatherParentLength = RootPathLength + relLength;
  GatherActive = true;
}

void GatherEntry(const FindEntry& e) {
  if (!(e.attributes & AttrDirectory) || IsDots(e.name) ||
      !ScanReadsSubdirectory(GatherRel.data(), (int)GatherRel.size(), GatherParentLength, e.name,
                             e.nameLength))
    return;
  if (!Gathered) Gathered = new Siblings;
  Gathered->Add(e.name, e.nameLength);
}

void GatherEnd() {
  GatherActive = false;
  Siblings* g = Gathered;
  Gathered = nullptr;
  if (!g) return;
  try {
    g->rel.swap(GatherRel);
    g->key.swap(GatherKey);
    g->SetNextKey();
    std::lock_guard<std::mutex> hold(Shared.lock);
    Enqueue(g);
  } catch (const std::bad_alloc&) {
    // Its subdirectories are read in line, each claimed by none.
    delete g;
  }
}

void GatherDrop() {
  delete Gathered;
  Gathered = nullptr;
  GatherActive = false;
}

bool Gathering() {
  return GatherActive;
}

bool WaitForDescriptors() {
  std::unique_lock<std::mutex> hold(Shared.lock);
  if (Shared.reading == 0) return false;
  Shared.descriptorWanted = true;
  Shared.descriptorFreed.wait(hold, [] { return Shared.reading == 0; });
  return true;
}

void DescriptorsDone() {
  {
    std::lock_guard<std::mutex> hold(Shared.lock);
    Shared.descriptorWanted = false;
  }
  Shared.workReady.notify_all();
}
