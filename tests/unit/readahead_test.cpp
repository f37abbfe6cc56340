// The read-ahead's protocol, with a scripted reader in place of the platform's: directories are
// names in a table, each listing one batch, and a batch may claim more of the budget than it
// takes, so that the budget fills with a few of them.
#include "tree/readahead.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {
// Each directory's subdirectories, by its path below the start directory.
std::map<std::string, std::vector<std::string>> Directories;
// What one batch of a directory claims of the budget; the batch's own size where not said.
std::map<std::string, size_t> Claims;
std::mutex Guard;  // guards what follows, which the workers write
std::map<int, std::string> OpenListings;
std::set<int> ReadWhole;
std::vector<std::string> Opened;
int NextFd = 3;

// A worker's space: the last read's records (per name: its length, then its bytes) and claim.
struct Space {
  std::string records;
  int count = 0;
  size_t claim = 0;
};

FindResult Open(const char* rel, int* fd, bool* noDescriptor, int* error) {
  std::lock_guard<std::mutex> hold(Guard);
  *noDescriptor = false;
  *error = 0;
  if (!Directories.count(rel)) return FindPathNotFound;
  *fd = NextFd++;
  OpenListings[*fd] = rel;
  Opened.push_back(rel);
  return FindFound;
}

long Read(int fd, void* space, bool, int*) {
  std::lock_guard<std::mutex> hold(Guard);
  Space* s = (Space*)space;
  s->records.clear();
  s->count = 0;
  if (!ReadWhole.insert(fd).second) return 0;
  const std::string& rel = OpenListings[fd];
  for (const std::string& name : Directories[rel]) {
    s->records.push_back((char)name.size());
    s->records += name;
    ++s->count;
  }
  s->claim = Claims.count(rel) ? Claims[rel] : 0;
  return (long)s->records.size();
}

void Measure(int, ReadAheadBatch*) {}

ReadAheadBatch* Keep(void* space, bool* memoryShort) {
  Space* s = (Space*)space;
  *memoryShort = false;
  size_t size = sizeof(ReadAheadBatch) + s->records.size();
  ReadAheadBatch* b = (ReadAheadBatch*)std::malloc(size);
  b->next = nullptr;
  b->size = s->claim > 0 ? s->claim : size;
  b->bytes = (long)s->records.size();
  b->count = s->count;
  std::memcpy(b + 1, s->records.data(), s->records.size());
  return b;
}

void Close(int fd) {
  std::lock_guard<std::mutex> hold(Guard);
  OpenListings.erase(fd);
}

bool NextEntry(const ReadAheadBatch* b, BatchWalk* walk, FindEntry* entry) {
  if (walk->position >= b->bytes) return false;
  const char* at = (const char*)(b + 1) + walk->position;
  *entry = FindEntry{};
  entry->nameLength = (unsigned char)at[0];
  entry->name = at + 1;
  entry->attributes = AttrDirectory;
  walk->position += 1 + entry->nameLength;
  ++walk->index;
  return true;
}

const ListingReader Scripted = {Open, Read, Measure, Keep, Close, NextEntry, 64 * 1024};

// Waits up to ten seconds for a worker to have opened a directory whose path begins with prefix.
bool OpenedSoon(const std::string& prefix) {
  for (int i = 0; i < 1000; ++i) {
    {
      std::lock_guard<std::mutex> hold(Guard);
      for (const std::string& rel : Opened)
        if (rel.compare(0, prefix.size(), prefix) == 0) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// A path below the start directory as the workers make it: each name followed by the separator.
std::string Rel(const std::string& names) {
  std::string rel;
  for (char c : names) rel.push_back(c == '/' ? PathSeparator : c);
  return rel;
}

// Starts a worker on the scripted reader, and stops and joins it however the test ends.
struct Worker {
  Space space;
  std::thread thread;
  Worker() : thread([this] { ReadAheadWork(&space); }) {}
  ~Worker() {
    ReadAheadStopping();
    thread.join();
    ReadAheadEnd();
  }
};

class ReadAheadProtocol : public Isolated {};

// A listing read whole that filled the budget holds the workers back until the scan takes it;
// taking it must let them go on with its subdirectories, or the scan reads every one of them
// itself.
TEST_F(ReadAheadProtocol, TakingAWholeListingThatFilledTheBudgetLetsTheWorkersOn) {
  Directories = {{Rel("big/"), {}}};
  for (int i = 0; i < 10; ++i) {
    std::string name = "s" + std::to_string(i);
    Directories[Rel("big/")].push_back(name);
    Directories[Rel("big/" + name + "/")] = {};
  }
  Claims = {{Rel("big/"), 1100 * 1024}};  // more than the whole budget
  Opened.clear();
  // One worker whose own space leaves only the least budget.
  ReadAheadBegin(&Scripted, 5, 1, 64 << 20, ScanRules{});
  Worker worker;
  GatherBegin("", 0, std::string());
  FindEntry big{};
  big.name = "big";
  big.nameLength = 3;
  big.attributes = AttrDirectory;
  GatherEntry(big);
  GatherEnd();
  ASSERT_TRUE(OpenedSoon(Rel("big/")));
  // Read whole in its worker's first turn: the scan takes it in one piece.
  TakenDirectory taken;
  ASSERT_EQ(TakeListing(Rel("big/"), &taken), TakenListing);
  EXPECT_EQ(taken.result, FindFound);
  EXPECT_FALSE(taken.gather);
  FreeBatches(taken.batches);
  EXPECT_TRUE(OpenedSoon(Rel("big/s")));
}
}  // namespace
