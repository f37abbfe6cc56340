// Worker threads that read directories ahead of the scan, and their reads: what the protocol of
// tree/readahead.cpp asks of the platform. Only code for POSIX systems goes in this file.
#include "tree/readahead_posix.h"

#include <malloc.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {
// What one more batch may add to the budget: its records, what was measured of each, its header.
constexpr size_t LargestBatch =
    sizeof(ReadAheadBatch) + BatchBytes + MaxBatchRecords * sizeof(Measured);
// Under a limit of address space or data below this, the workers' own (their stacks and the
// budget, about 4 MiB) would be a share of it that the tree itself needs: the scan reads in line,
// as completely as it can.
constexpr rlim_t LeastLimitForWorkers = 64u << 20;
// Each worker's stack: it calls only the system and small routines of its own, and many stacks
// of the default 8 MiB would reserve more address space than a memory limit may allow. The
// stacks are the program's own, so that ending the workers gives their space back at once (the
// C library keeps the stacks it made for threads that ended, for threads to come).
constexpr size_t WorkerStack = 256 * 1024;

struct Worker {
  pthread_t thread;
  void* stack;  // WorkerStack bytes, the lowest page a guard
};
std::vector<Worker> Workers;  // started and joined by the scan's thread only

// What each worker keeps for itself: the records of its last read and what was measured of
// each, and a spare batch of the largest size for a read that finds no memory for its copy.
struct WorkerSpace {
  alignas(8) char records[BatchBytes];
  long bytes;
  int count;
  Measured measured[MaxBatchRecords];
  ReadAheadBatch* spare;
};

FindResult OpenListing(const char* rel, int* fd, bool* noDescriptor, int* error) {
  return OpenBelow(rel, fd, noDescriptor, error);
}

// Reads the next records of fd and, when asked, measures every entry that is not a directory
// while the names are at hand.
long ReadListing(int fd, void* space, bool measure, int* error) {
  WorkerSpace* w = (WorkerSpace*)space;
  long n = ReadBatch(fd, w->records, BatchBytes, error);
  w->bytes = n > 0 ? n : 0;
  w->count = 0;
  if (n <= 0) return n;
  w->count = SortRecords(w->records, n, w->measured);
  if (measure) MeasureRecords(fd, w->records, n, w->count, w->measured);
  return n;
}

void MeasureKept(int fd, ReadAheadBatch* b) {
  MeasureRecords(fd, BatchRecords(b), b->bytes, b->count, BatchMeasured(b));
}

// Copies the last read into a batch of its exact size: what was read is never lost, so a listing
// the scan has begun can go on from its descriptor.
ReadAheadBatch* KeepListing(void* space, bool* memoryShort) {
  WorkerSpace* w = (WorkerSpace*)space;
  *memoryShort = false;
  size_t size = sizeof(ReadAheadBatch) + (size_t)w->bytes + (size_t)w->count * sizeof(Measured);
  ReadAheadBatch* b = (ReadAheadBatch*)std::malloc(size);
  if (!b) {
    b = w->spare;
    w->spare = nullptr;
    *memoryShort = true;
  }
  b->next = nullptr;
  b->sizes = SizesMeasured;
  b->size = size;
  b->bytes = w->bytes;
  b->count = w->count;
  std::memcpy(BatchRecords(b), w->records, (size_t)w->bytes);
  std::memcpy(BatchMeasured(b), w->measured, (size_t)w->count * sizeof(Measured));
  return b;
}

void CloseListing(int fd) {
  close(fd);
}

bool NextBatchEntry(const ReadAheadBatch* batch, BatchWalk* walk, FindEntry* entry) {
  ReadAheadBatch* b = (ReadAheadBatch*)batch;
  BatchCursor c{BatchRecords(b), b->bytes, walk->position, walk->index, BatchMeasured(b)};
  if (!NextInBatch(&c, entry)) return false;
  walk->position = c.position;
  walk->index = c.index;
  return true;
}

const ListingReader PosixReader = {OpenListing,  ReadListing,    MeasureKept, KeepListing,
                                   CloseListing, NextBatchEntry, LargestBatch};

void* Work(void*) {
  WorkerSpace* w = (WorkerSpace*)std::malloc(sizeof(WorkerSpace));
  if (w) w->spare = (ReadAheadBatch*)std::malloc(LargestBatch);
  if (w && w->spare) ReadAheadWork(w);
  if (w) std::free(w->spare);
  std::free(w);
  return nullptr;
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

bool StartReadAhead(int count, const ScanRules& rules) {
  if (MemoryLimited()) return false;
  // A worker's own: its space, its spare batch, and the few pages of its stack it touches.
  ReadAheadBegin(&PosixReader, StartPathLength(), count, sizeof(WorkerSpace) + LargestBatch + 16384,
                 rules);
  // Two heaps: the scan's thread keeps its own for the tree it builds, and the workers share
  // the other for the listings, which the scan's thread frees into it for the next. A heap per
  // thread would reserve address space for each (64 MiB) and spread the memory over them; one
  // for all made the scan's thread queue behind the workers for every node (the typical tree
  // warm: 0.64 s with one heap, 0.53 s with two, 0.45 s with eight; peak memory the same).
  mallopt(M_ARENA_MAX, 2);
  // Workers take no signals: Ctrl+C and the others reach the scan's thread, whose handlers
  // put the terminal back. A stop still cuts their reads short (the kernel marks every thread
  // of a stopped process), which is why a listing is read until a read gives nothing.
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
  ReadAheadStopping();
  for (Worker& w : Workers) {
    pthread_join(w.thread, nullptr);
    munmap(w.stack, WorkerStack);
  }
  std::vector<Worker>().swap(Workers);
  ReadAheadEnd();
  // The listings' heap is free now: its pages go back to the system, not to be counted again
  // with what the report allocates after the scan (the browser's sums, on a tree with files).
  malloc_trim(0);
}
