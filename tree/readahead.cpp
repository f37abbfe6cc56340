// The read-ahead's protocol: jobs, sibling lists, the budget, the hand-over to the scan's thread
// and the gathering of the subdirectories it reads itself. Portable: the platform reads.
//
// Memory: everything the workers hold (listings being read and read, and their records) is held
// a budget. A worker counts each batch as it reads it; one that would pass the budget
// waits, its directory open, until the scan has taken enough. The directory the scan is taking
// is read on regardless, a few batches ahead of the scan, which frees each batch as it hands it
// out: so a listing of any size costs what reading it in line costs, and batches are kept as the
// system gave them, never copied or grown.
//
// A large listing on every core: past BatchesOfASmallListing, the listing the scan is taking is
// kept with its names only, and its sizes are measured batch by batch by whichever thread comes
// first (the idle workers, its reader when it is far enough ahead, the scan's thread for the
// batch it needs next), all on its one descriptor, which its reader keeps open until the last
// is measured. The scan takes the batches in the listing's order as before, each once measured.
// A listing the scan's thread began in line is handed to the workers the same way once it
// proves large (ShareListing).
//
// Failure: a worker that finds no file descriptor leaves its directory to the scan's thread (and
// stops, since the others will find none either); one whose allocation fails does the same and
// ends reading ahead for the whole scan; the scan's thread then reads in line what it has not
// taken yet, and goes on in line with a directory whose first batches it has. Nothing a worker
// meets becomes "could not be read" that would not be so in line, and nothing aborts the
// program. A read that fails in the middle of a listing travels with the listing to the scan,
// after its last batch, as it would in line.
#include "tree/readahead.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "console/strings.h"

namespace {
// What reading ahead may add to the memory the scan takes in line: the workers' own space, the
// listing the scan takes read ahead of it, and the budget for the listings read ahead and not
// yet taken, with their records (a few thousand directories of the usual size; a cold disk keeps
// the more of its requests under way the further ahead the workers may read). A quarter of what
// is left for the budget is kept for the allocator's own overhead. When the budget is full the
// workers wait until half of it is free again, so that they go back to reading together instead
// of one at a time.
constexpr size_t DefaultMemoryGoal = 8 << 20;
constexpr size_t LeastBudget = 1 << 20;
size_t ReadAheadBudget = LeastBudget;
// The directory the scan is taking is read ahead of it by two batches more than there are workers
// to measure them, at least this many and at most MostAheadOfTheScan (about 100 KB each).
constexpr int LeastAheadOfTheScan = 4;
constexpr int MostAheadOfTheScan = 24;
}  // namespace

// One directory read ahead for the scan, by its path below the start directory.
struct ReadAheadJob {
  // Reading: its worker reads it (the scan may take it meanwhile); Queueing: its listing is
  // whole and its worker queues its subdirectories; Done: its worker has let it go; LeftToScan:
  // nothing of it is kept, the scan's thread reads it.
  enum State { Reading, Queueing, Done, LeftToScan };
  std::string rel;  // with the final separator
  // Where the scan meets it: the rank of each directory on its path among its siblings in the
  // scan's order, four bytes each, most significant first. Compared as bytes, a smaller key is
  // a directory the scan asks for sooner.
  std::string key;
  State state = Reading;
  FindResult result = FindFound;
  int error = 0;                    // the system's error number of a result that is no FindFound
  int readError = 0;                // Done: not 0 when the listing ended with a failing read
  ReadAheadBatch* first = nullptr;  // what is read and not yet taken, in the listing's order
  ReadAheadBatch** tail = &first;
  int batches = 0;         // in that list
  size_t recordBytes = 0;  // what the record itself holds against the budget
  int fd = -1;             // Done with fd >= 0: its worker stopped early; the listing goes on here
  int measureFd = -1;      // the descriptor its batches are measured on, while any may need it
  ReadAheadBatch* toMeasure = nullptr;  // the first batch kept without sizes that none claimed
  int measuring = 0;                    // its batches being measured now
  int readBatches = 0;                  // batches read of its listing
  bool queued = false;                  // its subdirectories are queued
  bool taken = false;  // the scan takes its batches as they come, and gathers its subdirectories
  bool abandoned = false;  // the scan let it go while it was read: its worker deletes it
};

namespace {
using Job = ReadAheadJob;

const ListingReader* Reader = nullptr;  // the platform's reads; set before the workers start
int StartPathLength = 0;                // the start directory's path with its separator
SubdirectoryRule ScanReads = nullptr;   // which subdirectories the scan reads; null: all

// A listed entry that the scan will visit as a subdirectory, by its rule.
bool VisitedByScan(const std::string& rel, long parentLength, const FindEntry& e) {
  return (e.attributes & AttrDirectory) && !IsDotOrDotDot(e.name, e.nameLength) &&
         (!ScanReads || ScanReads(rel.data(), (int)rel.size(), parentLength, e.name, e.nameLength));
}

// The subdirectories of one listing that are still to be read, in the scan's order.
struct Siblings {
  std::string rel;                // the parent's path below the start directory, with separator
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
  std::condition_variable measured;           // a job's last batch being measured is measured
  std::set<Siblings*, SoonerInScan> waiting;  // sibling lists with directories still to read
  // The same lists, by the parent's rel, and the jobs read or being read and not yet taken, by
  // theirs: the keys are views of the rel each list or job holds, which stays as it is while it
  // is in the map, so that looking one up or adding one copies no path.
  std::unordered_map<std::string_view, Siblings*> byParent;
  std::unordered_map<std::string_view, Job*> started;
  size_t heldBytes = 0;           // what the jobs hold: records and batches not yet taken
  bool full = false;              // the budget ran full; idle workers wait until half of it is free
  Job* awaited = nullptr;         // the job the scan waits for, if it waits
  int idleWorkers = 0;            // workers waiting for work or budget
  int pausedWorkers = 0;          // workers waiting, a directory open, for budget or for the scan
  int reading = 0;                // workers with a directory open
  bool descriptorWanted = false;  // the scan's thread waits for a descriptor: start nothing
  bool shortOfMemory = false;     // an allocation failed on a worker: reading ahead ends
  bool stopping = false;
  Job* sharedJob = nullptr;  // the job the scan takes, whose batches any worker may measure
  Job* handedOn = nullptr;   // a listing the scan's thread began, for a worker to read on
  int workers = 0;           // workers that have not ended
};
ReadAheadState Shared;

// What the scan's thread gathers of the directory it reads in line (scan's thread only).
struct GatherState {
  Siblings* found = nullptr;  // its subdirectories so far; null until the first
  bool active = false;
  std::string rel, key;   // the directory's path below the start directory, and its key
  long parentLength = 0;  // its whole path's length with its separator
};
GatherState Gather;

// Gives bytes back to the budget: idle workers may start again once half of it is free, and
// those waiting with a directory open may go on. Every release goes through here, so that no
// path frees room without waking those that wait for it. The caller holds the lock.
void GiveBack(size_t bytes) {
  Shared.heldBytes -= bytes;
  if (Shared.pausedWorkers > 0) Shared.progress.notify_all();
  if (Shared.full && Shared.heldBytes + Reader->largestBatch <= ReadAheadBudget / 2 &&
      Shared.idleWorkers > 0 && !Shared.waiting.empty())
    Shared.workReady.notify_all();
}

// What a chain of batches holds of the budget.
size_t BatchBytes(const ReadAheadBatch* b) {
  size_t bytes = 0;
  for (; b; b = b->next) bytes += b->size;
  return bytes;
}

// Releases what job j holds (its batches and its open directory) and gives it back to the
// budget; the caller holds the lock.
void DropListing(Job* j) {
  GiveBack(BatchBytes(j->first));
  FreeBatches(j->first);
  j->first = nullptr;
  j->tail = &j->first;
  j->batches = 0;
  if (j->fd >= 0) Reader->close(j->fd);
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

// The subdirectories the scan will read of the whole listing held in the batches from first,
// of the directory rel with key, or null when there are none. May throw std::bad_alloc.
Siblings* SubdirectoriesOf(const ReadAheadBatch* first, const std::string& rel,
                           const std::string& key) {
  Siblings* g = nullptr;
  long parentLength = StartPathLength + (long)rel.size();
  try {
    for (const ReadAheadBatch* b = first; b; b = b->next) {
      BatchWalk walk;
      FindEntry e;
      while (Reader->nextEntry(b, &walk, &e)) {
        if (!VisitedByScan(rel, parentLength, e)) continue;
        if (!g) g = new Siblings;
        g->Add(e.name, e.nameLength);
      }
    }
    if (!g) return nullptr;
    g->rel = rel;
    g->key = key;
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
  if (Shared.heldBytes + Reader->largestBatch <= limit) {
    Shared.full = false;
    return true;
  }
  Shared.full = true;
  return false;
}

// How many batches the directory the scan is taking is read ahead of it with this many workers.
int AheadOfTheScan(int workers) {
  return std::min(std::max(workers + 2, LeastAheadOfTheScan), MostAheadOfTheScan);
}
int AheadOfTheScan() {
  return AheadOfTheScan(Shared.workers);
}

// Claims the first batch of job j that waits for its sizes (j->toMeasure, not null) and measures
// it; the caller holds the lock, which is let go meanwhile.
void MeasureOne(Job* j, std::unique_lock<std::mutex>& hold) {
  ReadAheadBatch* b = j->toMeasure;
  j->toMeasure = b->next;
  b->sizes = SizesBeingMeasured;
  ++j->measuring;
  int fd = j->measureFd;
  hold.unlock();
  Reader->measure(fd, b);
  hold.lock();
  b->sizes = SizesMeasured;
  if (--j->measuring == 0) Shared.measured.notify_all();
  if (Shared.awaited == j && j->first == b) Shared.listingReady.notify_one();
}

// A batch of the listing the scan takes waits for a worker to measure it.
bool MeasureWaiting() {
  return Shared.sharedJob && Shared.sharedJob->toMeasure;
}

// Measures what of job j's listing waits for its sizes and waits for those being measured, so
// that its descriptor may be closed; the caller holds the lock.
void FinishMeasuring(Job* j, std::unique_lock<std::mutex>& hold) {
  while (j->toMeasure) MeasureOne(j, hold);
  Shared.measured.wait(hold, [j] { return j->measuring == 0; });
}

// Whether the worker of job j may read its next batch, after waiting while it may not; the
// caller holds the lock. False when it must stop reading: it is stopping, the scan's thread
// wants its descriptor, or the scan let the job go.
bool MayGoOn(Job* j, std::unique_lock<std::mutex>& hold) {
  for (;;) {
    if (Shared.stopping || j->abandoned || (Shared.descriptorWanted && !j->taken)) return false;
    // The scan's own directory goes on regardless of the budget, a few batches ahead of it;
    // the others wait until the budget has room.
    if (j->taken ? j->batches < AheadOfTheScan()
                 : Shared.heldBytes + Reader->largestBatch <= ReadAheadBudget)
      return true;
    if (!j->taken) Shared.full = true;
    // Far enough ahead of the scan: its reader measures meanwhile what waits for sizes.
    if (j->toMeasure) {
      MeasureOne(j, hold);
      continue;
    }
    ++Shared.pausedWorkers;
    Shared.progress.wait(hold);
    --Shared.pausedWorkers;
  }
}

// Appends batch b to job j; the caller holds the lock.
void Append(Job* j, ReadAheadBatch* b) {
  *j->tail = b;
  j->tail = &b->next;
  ++j->batches;
  ++j->readBatches;
  Shared.heldBytes += b->size;
  if (b->sizes == SizesWanted) {
    if (!j->toMeasure) j->toMeasure = b;
    if (Shared.idleWorkers > 0) Shared.workReady.notify_one();
  }
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
      g = SubdirectoriesOf(j->first, j->rel, j->key);
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

// What a worker read of its directory before it took the lock again: most directories are
// opened, read whole (the read that gives nothing included) and closed, and their
// subdirectories worked out, in one turn without the lock.
struct FirstTurn {
  FindResult opened = FindFound;
  int error = 0;
  bool noDescriptor = false;
  int fd = -1;                                      // still open when the listing goes on
  long got = 0;                                     // what the first read gave
  ReadAheadBatch* batches[2] = {nullptr, nullptr};  // the first read's, then the second's
  bool whole = false;                               // the listing's end was read
  int readError = 0;  // the read after the first failed, with this error
  bool memoryShort = false;
  Siblings* subdirectories = nullptr;
};

// A batch of its own for what the last read put in the worker's space, its sizes measured or not.
ReadAheadBatch* Keep(void* space, bool measured, bool* memoryShort) {
  ReadAheadBatch* b = Reader->keep(space, memoryShort);
  b->sizes = measured ? SizesMeasured : SizesWanted;
  return b;
}

void ReadFirstTurn(const Job& j, void* space, FirstTurn* t) {
  t->opened = Reader->open(j.rel.c_str(), &t->fd, &t->noDescriptor, &t->error);
  if (t->opened != FindFound) return;
  t->got = Reader->read(t->fd, space, true, &t->error);
  if (t->got <= 0) return;
  t->batches[0] = Keep(space, true, &t->memoryShort);
  if (t->memoryShort) return;
  long more = Reader->read(t->fd, space, true, &t->readError);
  if (more > 0) {
    t->batches[1] = Keep(space, true, &t->memoryShort);
    return;
  }
  t->whole = true;
  Reader->close(t->fd);
  t->fd = -1;
  // The whole listing in one batch: its subdirectories, worked out before it is published.
  try {
    t->subdirectories = SubdirectoriesOf(t->batches[0], j.rel, j.key);
  } catch (const std::bad_alloc&) {
    t->memoryShort = true;
  }
}

// Reads job j's listing on from fd, a batch at a time, while it may, then publishes its end: its
// subdirectories queued, or what is left of it handed to the scan, or nothing kept; the
// descriptor is closed or handed over, subdirectories (null, or the whole listing's) deleted or
// queued. Called and left with the lock held (it is let go while the system is asked). Returns
// true when the worker should stop: no memory was to be had, or it is stopping.
bool ReadOn(Job* j, std::unique_lock<std::mutex>& hold, void* space, int fd, bool whole,
            bool memoryShort, int readError, Siblings* subdirectories) {
  j->measureFd = fd;
  while (!whole && !memoryShort && MayGoOn(j, hold)) {
    // Past its first batches, the sizes of the listing the scan takes are shared out.
    bool measure = !j->taken || j->readBatches < BatchesOfASmallListing;
    hold.unlock();
    long got = Reader->read(fd, space, measure, &readError);
    ReadAheadBatch* b = got > 0 ? Keep(space, measure, &memoryShort) : nullptr;
    hold.lock();
    if (!b) {
      whole = true;  // the end, or a read that failed: the scan learns which after the last
      break;
    }
    Append(j, b);
  }
  if (memoryShort) Shared.shortOfMemory = true;
  bool stop = memoryShort || Shared.stopping;
  // Its descriptor stays open until the last of its batches is measured.
  if (whole && !j->abandoned) FinishMeasuring(j, hold);
  if (j->abandoned) {
    // Nothing to publish: the scan let it go.
  } else if (whole) {
    if (fd >= 0) Reader->close(fd);
    fd = -1;
    j->measureFd = -1;
    j->readError = readError;
    if (!QueueSubdirectories(j, subdirectories, hold)) {
      Shared.shortOfMemory = true;
      stop = true;
    }
    subdirectories = nullptr;
  } else if (j->taken) {
    // The scan has begun handing its entries out: it goes on from here, in line, after measuring
    // what waits for its sizes.
    j->fd = fd;
    fd = -1;
  } else {
    DropListing(j);
    j->state = Job::LeftToScan;
  }
  if (j->state == Job::Reading || j->state == Job::Queueing) j->state = Job::Done;
  delete subdirectories;
  if (fd >= 0) Reader->close(fd);
  return stop;
}

// A worker is done with job j, which held a descriptor of its own; the caller holds the lock.
// Sets *gone when j was deleted (the scan had let it go).
void EndReading(Job* j, bool* gone) {
  --Shared.reading;
  if (Shared.descriptorWanted && Shared.reading == 0) Shared.descriptorFreed.notify_all();
  *gone = j->abandoned;
  if (j->abandoned) {
    DropListing(j);
    delete j;
  }
}

// Reads job j's directory, a batch at a time, into j; called and left with the lock held (it is
// let go while the system is asked). Returns true when the worker should stop: no descriptor or
// no memory was to be had, or it is stopping. Sets *gone when j was deleted (the scan had let
// it go).
bool ReadJob(Job* j, std::unique_lock<std::mutex>& hold, void* space, bool* gone) {
  ++Shared.reading;
  hold.unlock();
  FirstTurn t;
  ReadFirstTurn(*j, space, &t);
  hold.lock();
  bool stop = false;
  if (t.noDescriptor) {
    j->state = Job::LeftToScan;
    stop = true;
  } else if (t.opened != FindFound || t.got < 0) {
    // Not found, not opened, or a first read that failed: as in line.
    j->result = t.opened != FindFound ? t.opened : FindFailed;
    j->error = t.error;
    j->state = Job::Done;
  } else if (t.got == 0) {
    // Read, and nothing in it: not even "." and "..".
    j->result = FindNoEntries;
    j->state = Job::Done;
  } else {
    for (ReadAheadBatch* b : t.batches)
      if (b) Append(j, b);
    stop = ReadOn(j, hold, space, t.fd, t.whole, t.memoryShort, t.readError, t.subdirectories);
    t.fd = -1;
    t.subdirectories = nullptr;
  }
  delete t.subdirectories;
  if (t.fd >= 0) Reader->close(t.fd);
  EndReading(j, gone);
  return stop;
}

// Reads on the listing the scan's thread handed over (Shared.handedOn); as ReadJob.
bool ReadHandedOn(std::unique_lock<std::mutex>& hold, void* space, bool* gone) {
  Job* j = Shared.handedOn;
  Shared.handedOn = nullptr;
  int fd = j->fd;
  j->fd = -1;
  ++Shared.reading;
  bool stop = ReadOn(j, hold, space, fd, false, false, 0, nullptr);
  EndReading(j, gone);
  return stop;
}

}  // namespace

void FreeBatches(ReadAheadBatch* first) {
  while (first) {
    ReadAheadBatch* next = first->next;
    std::free(first);
    first = next;
  }
}

void ReadAheadBegin(const ListingReader* reader, int startPathLength, int workers, size_t workerOwn,
                    const ScanRules& rules) {
  Reader = reader;
  StartPathLength = startPathLength;
  ScanReads = rules.readsSubdirectory;
  size_t goal = rules.readAheadMemory > 0 ? rules.readAheadMemory : DefaultMemoryGoal;
  size_t used =
      (size_t)workers * workerOwn + (size_t)AheadOfTheScan(workers) * reader->largestBatch;
  ReadAheadBudget = std::max(used < goal ? (goal - used) / 4 * 3 : 0, LeastBudget);
  std::lock_guard<std::mutex> hold(Shared.lock);
  Shared.stopping = false;
  Shared.heldBytes = 0;
}

void ReadAheadWork(void* space) {
  std::unique_lock<std::mutex> hold(Shared.lock);
  ++Shared.workers;
  for (;;) {
    ++Shared.idleWorkers;
    Shared.workReady.wait(hold, [] {
      return Shared.stopping || Shared.shortOfMemory || Shared.handedOn || MeasureWaiting() ||
             MayStart();
    });
    --Shared.idleWorkers;
    if (Shared.stopping || Shared.shortOfMemory) break;
    // The scan waits for the listing it takes before anything else: its reading, its sizes.
    if (Shared.handedOn) {
      Job* j = Shared.handedOn;
      bool gone = false;
      bool stop = ReadHandedOn(hold, space, &gone);
      if (!gone && Shared.awaited == j) Shared.listingReady.notify_one();
      if (stop) break;
      continue;
    }
    if (MeasureWaiting()) {
      MeasureOne(Shared.sharedJob, hold);
      continue;
    }
    Siblings* g = *Shared.waiting.begin();
    Job* j = nullptr;
    try {
      j = new Job;
      j->rel = g->rel;
      j->rel.append(g->NextName()).push_back(PathSeparator);
      j->key = g->nextKey;
      Shared.started.emplace(j->rel, j);
    } catch (const std::bad_alloc&) {
      delete j;
      Shared.shortOfMemory = true;
      break;
    }
    PassNext(g);
    j->recordBytes = sizeof(Job) + j->rel.capacity() + j->key.capacity() + 64;
    Shared.heldBytes += j->recordBytes;
    bool gone = false;
    bool stop = ReadJob(j, hold, space, &gone);
    if (!gone && Shared.awaited == j) Shared.listingReady.notify_one();
    if (stop) break;
  }
  --Shared.workers;
  // Whatever the scan's thread waits for can no longer come from this worker.
  Shared.listingReady.notify_all();
}

void ReadAheadStopping() {
  {
    std::lock_guard<std::mutex> hold(Shared.lock);
    Shared.stopping = true;
  }
  Shared.workReady.notify_all();
  Shared.progress.notify_all();
}

void ReadAheadEnd() {
  for (Siblings* g : Shared.waiting) delete g;
  for (auto& entry : Shared.started) {
    DropListing(entry.second);
    delete entry.second;
  }
  std::set<Siblings*, SoonerInScan>().swap(Shared.waiting);
  std::unordered_map<std::string_view, Siblings*>().swap(Shared.byParent);
  std::unordered_map<std::string_view, Job*>().swap(Shared.started);
  Shared.heldBytes = 0;
  Shared.full = false;
  Shared.awaited = nullptr;
  Shared.idleWorkers = 0;
  Shared.pausedWorkers = 0;
  Shared.reading = 0;
  Shared.descriptorWanted = false;
  Shared.shortOfMemory = false;
  Shared.stopping = false;
  Shared.sharedJob = nullptr;
  // A listing handed over that no worker took: the scan's thread reads it on (NextBatch).
  if (Shared.handedOn) Shared.handedOn->state = Job::Done;
  Shared.handedOn = nullptr;
  Shared.workers = 0;
}

TakeKind TakeListing(std::string_view rel, TakenDirectory* taken) {
  std::unique_lock<std::mutex> hold(Shared.lock);
  if (Shared.shortOfMemory) return TakeStop;
  auto it = Shared.started.find(rel);
  if (it == Shared.started.end()) {
    // Not started: the scan asks for its directories in the order of the sibling lists, so this
    // is the next of its parent's; claimed there, no worker reads it too. rel is
    // "parent/name/" with parent "" or ending in the separator.
    size_t slash = rel.size() < 2 ? std::string::npos : rel.rfind(PathSeparator, rel.size() - 2);
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
  GiveBack(j->recordBytes);
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
  bool shortOfMemory = Shared.shortOfMemory;
  taken->key.swap(j->key);
  taken->gather = j->taken || !j->queued;
  if (j->state == Job::LeftToScan) {
    delete j;
    return shortOfMemory ? TakeStop : TakeReadHere;
  }
  taken->result = j->result;
  taken->error = j->error;
  if (j->state == Job::Reading && j->result == FindFound) {
    taken->job = j;
    Shared.sharedJob = j;
    return TakenListing;
  }
  // Read whole, or as far as its worker went: all of it at once, without the lock again, once
  // measured (a worker that stopped may have left sizes to measure).
  FinishMeasuring(j, hold);
  GiveBack(BatchBytes(j->first));  // what it held is the scan's now
  taken->batches = j->first;
  taken->fd = j->fd;
  taken->readError = j->readError;
  delete j;
  return TakenListing;
}

bool NextBatch(Job* j, ReadAheadBatch** batch, int* fd, int* readError) {
  std::unique_lock<std::mutex> hold(Shared.lock);
  for (;;) {
    ReadAheadBatch* first = j->first;
    if (first ? first->sizes == SizesMeasured : j->state != Job::Reading) break;
    if (first && first == j->toMeasure) {
      // No worker has begun it: measured here rather than waited for.
      MeasureOne(j, hold);
      continue;
    }
    if (!first && Shared.handedOn == j &&
        (Shared.workers == 0 || Shared.stopping || Shared.shortOfMemory)) {
      // Handed over, and no worker is left to read it: it goes on in line.
      Shared.handedOn = nullptr;
      j->state = Job::Done;
      break;
    }
    Shared.awaited = j;
    Shared.listingReady.wait(hold);
    Shared.awaited = nullptr;
  }
  *fd = -1;
  *readError = 0;
  if (!j->first) {
    std::swap(*fd, j->fd);
    *readError = j->readError;
    return false;
  }
  ReadAheadBatch* b = j->first;
  j->first = b->next;
  if (!j->first) j->tail = &j->first;
  --j->batches;
  b->next = nullptr;
  GiveBack(b->size);
  *batch = b;
  return true;
}

void ReleaseJob(Job* j) {
  if (!j) return;
  std::unique_lock<std::mutex> hold(Shared.lock);
  // No thread measures its batches any more.
  if (Shared.sharedJob == j) Shared.sharedJob = nullptr;
  j->toMeasure = nullptr;
  Shared.measured.wait(hold, [j] { return j->measuring == 0; });
  if (Shared.handedOn == j) {
    // Handed over and taken by no worker: nobody else holds it.
    Shared.handedOn = nullptr;
    j->state = Job::Done;
  }
  if (j->state == Job::Reading) {
    // Its worker deletes it when it sees this.
    j->abandoned = true;
    Shared.progress.notify_all();
    return;
  }
  DropListing(j);
  delete j;
}

ReadAheadJob* ShareListing(int fd) {
  std::lock_guard<std::mutex> hold(Shared.lock);
  // Only to a worker that waits for work: one busy with a listing of its own might wait for the
  // budget, which only the scan frees.
  if (Shared.idleWorkers == 0 || Shared.stopping || Shared.shortOfMemory || Shared.handedOn)
    return nullptr;
  Job* j = new Job;
  j->taken = true;
  j->fd = fd;
  j->measureFd = fd;
  j->readBatches = BatchesOfASmallListing;
  Shared.handedOn = j;
  Shared.sharedJob = j;
  Shared.workReady.notify_one();
  return j;
}

bool GatherBegin(const char* rel, int relLength, const std::string& key) {
  GatherDrop();
  try {
    Gather.rel.assign(rel, (size_t)relLength);
    Gather.key = key;
  } catch (const std::bad_alloc&) {
    return false;
  }
  Gather.parentLength = StartPathLength + relLength;
  Gather.active = true;
  return true;
}

bool GatherEntry(const FindEntry& e) {
  if (!VisitedByScan(Gather.rel, Gather.parentLength, e)) return true;
  try {
    if (!Gather.found) Gather.found = new Siblings;
    Gather.found->Add(e.name, e.nameLength);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void GatherEnd() {
  Gather.active = false;
  Siblings* g = Gather.found;
  Gather.found = nullptr;
  if (!g) return;
  try {
    g->rel.swap(Gather.rel);
    g->key.swap(Gather.key);
    g->SetNextKey();
    std::lock_guard<std::mutex> hold(Shared.lock);
    Enqueue(g);
  } catch (const std::bad_alloc&) {
    // Its subdirectories are read in line, each claimed by none.
    delete g;
  }
}

void GatherDrop() {
  delete Gather.found;
  Gather.found = nullptr;
  Gather.active = false;
}

bool Gathering() {
  return Gather.active;
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
