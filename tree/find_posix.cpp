// POSIX enumeration, as the scan's thread sees it: each directory opened (tree/listing_posix)
// and read with getdents64 a batch at a time until a read gives nothing, each entry that is not
// a directory measured with fstatat without following links; or, when worker threads read ahead
// (tree/readahead_posix), the listing they read, and the rest of it in line where they stopped
// at their budget. Only code for POSIX systems goes in this file.
//
// The scan makes one open, two or more reads and one close per directory and one size query
// per file.
#include <unistd.h>

#include <cstdlib>
#include <new>
#include <string>

#include "tree/find.h"
#include "tree/listing_posix.h"
#include "tree/readahead_posix.h"

namespace {
// Workers when QUORVEL_THREADS does not say: on a machine of two cores as many as there are
// cores read a warm tree fastest, and more keep more requests before a cold disk; eight gain
// most of the second and lose little of the first.
constexpr int DefaultThreads = 8;

int LastError = 0;  // the system's error number of the last open or read that failed
ScanRules Rules;    // of the scan under way

// The listing the scan's thread reads in line.
struct InLineListing {
  int fd = -1;                          // the directory, or -1
  alignas(8) char entries[BatchBytes];  // one batch of its records
  Measured measured[MaxBatchRecords];   // what was measured of each
  BatchCursor cursor;                   // the next of them
  bool ended = false;                   // the last read gave nothing, or failed
  int batches = 0;                      // batches read in line of this directory
};
InLineListing InLine;

// The listing read ahead whose batches are handed out.
struct HandedListing {
  ReadAheadJob* job = nullptr;  // whose worker may still read on
  // The batches being handed out, the first of them the one at hand; each is freed when it is
  // done.
  ReadAheadBatch* batch = nullptr;
  BatchCursor cursor;
  // It ended with a read that failed, with this error number: said after its last entry is
  // handed out. 0: none.
  int readError = 0;
};
HandedListing Handed;

void StartInLine(int fd) {
  InLine.fd = fd;
  InLine.ended = false;
  InLine.cursor = BatchCursor{};
  InLine.batches = 0;
}

// Reads the next batch of the directory read in line and measures every entry that is not a
// directory, while the batch's names are at hand. Only a read that gives nothing is the end.
NextResult Refill() {
  if (InLine.ended || InLine.fd < 0) return NextEnd;
  int error = 0;
  long n = ReadBatch(InLine.fd, InLine.entries, sizeof InLine.entries, &error);
  if (n <= 0) {
    InLine.ended = true;
    if (n == 0) return NextEnd;
    LastError = error;
    return NextFailed;
  }
  int count = SortRecords(InLine.entries, n, InLine.measured);
  MeasureRecords(InLine.fd, InLine.entries, n, count, InLine.measured);
  InLine.cursor = BatchCursor{InLine.entries, n, 0, 0, InLine.measured};
  ++InLine.batches;
  return NextFound;
}

// A directory read in line that proves large (more to come after BatchesOfASmallListing) goes on
// with the workers, which read it on and measure its batches on every core: true when they took
// it.
bool ShareInLine() {
  if (InLine.batches < BatchesOfASmallListing || InLine.ended || InLine.fd < 0 || !ReadingAhead())
    return false;
  ReadAheadJob* job = nullptr;
  try {
    job = ShareListing(InLine.fd);
  } catch (const std::bad_alloc&) {
  }
  if (!job) return false;
  Handed.job = job;
  InLine.fd = -1;
  InLine.cursor = BatchCursor{};
  return true;
}

// The next entry: those read ahead first, then those read here (where the worker stopped).
NextResult RawNext(FindEntry* entry) {
  while (Handed.batch || Handed.job) {
    if (Handed.batch && NextInBatch(&Handed.cursor, entry)) return NextFound;
    if (Handed.batch) {
      ReadAheadBatch* next = Handed.batch->next;
      Handed.batch->next = nullptr;
      FreeBatches(Handed.batch);
      Handed.batch = next;
      if (Handed.batch) {
        Handed.cursor = CursorOf(Handed.batch);
        continue;
      }
    }
    if (!Handed.job) break;
    int fd = -1, readError = 0;
    if (NextBatch(Handed.job, &Handed.batch, &fd, &readError)) {
      Handed.cursor = CursorOf(Handed.batch);
      continue;
    }
    ReleaseJob(Handed.job);
    Handed.job = nullptr;
    if (fd >= 0) StartInLine(fd);
    Handed.readError = readError;
  }
  if (Handed.readError != 0) {
    LastError = Handed.readError;
    Handed.readError = 0;
    return NextFailed;
  }
  if (NextInBatch(&InLine.cursor, entry)) return NextFound;
  if (ShareInLine()) return RawNext(entry);
  for (;;) {
    NextResult r = Refill();
    if (r != NextFound) return r;
    if (NextInBatch(&InLine.cursor, entry)) return NextFound;
  }
}

NextResult PosixNext(FindEntry* entry) {
  NextResult r = RawNext(entry);
  if (r != NextFound) {
    // A listing that failed part way is gathered as far as it was handed out: the scan reads
    // the subdirectories it saw.
    if (Gathering()) GatherEnd();
    return r;
  }
  if (Gathering() && !GatherEntry(*entry)) StopReadAhead();
  return r;
}

void PosixClose() {
  if (InLine.fd >= 0) close(InLine.fd);
  InLine.fd = -1;
  InLine.cursor = BatchCursor{};
  InLine.ended = false;
  FreeBatches(Handed.batch);
  Handed.batch = nullptr;
  Handed.readError = 0;
  ReleaseJob(Handed.job);
  Handed.job = nullptr;
  GatherDrop();
}

// Opens the directory at rel for reading in line. Short of descriptors, it first waits for the
// workers to close theirs, then ends reading ahead, before the directory counts as unreadable.
FindResult OpenInLine(const char* rel) {
  int fd = -1;
  bool noDescriptor = false;
  FindResult result = OpenBelow(rel, &fd, &noDescriptor, &LastError);
  if (noDescriptor && ReadingAhead() && WaitForDescriptors()) {
    result = OpenBelow(rel, &fd, &noDescriptor, &LastError);
    DescriptorsDone();
  }
  if (noDescriptor && ReadingAhead()) {
    StopReadAhead();
    result = OpenBelow(rel, &fd, &noDescriptor, &LastError);
  }
  if (result == FindFound) StartInLine(fd);
  return result;
}

// The directory at rel when the workers read ahead: what they read, and the rest in line.
FindResult TakeFromReadAhead(const char* rel, int relLength) {
  TakenDirectory taken;
  TakeKind kind;
  try {
    kind = TakeListing(std::string_view(rel, (size_t)relLength), &taken);
  } catch (const std::bad_alloc&) {
    kind = TakeStop;
  }
  if (kind == TakeStop) StopReadAhead();
  if (kind != TakenListing) {
    FindResult result = OpenInLine(rel);
    if (result == FindFound && taken.gather && ReadingAhead() &&
        !GatherBegin(rel, relLength, taken.key))
      StopReadAhead();
    return result;
  }
  if (taken.result != FindFound) {
    LastError = taken.error;
    return taken.result;
  }
  Handed.batch = taken.batches;
  if (Handed.batch) Handed.cursor = CursorOf(Handed.batch);
  Handed.job = taken.job;
  Handed.readError = taken.readError;
  if (taken.fd >= 0) StartInLine(taken.fd);
  if (taken.gather && !GatherBegin(rel, relLength, taken.key)) StopReadAhead();
  return FindFound;
}

// The workers the run asks for (the driver reads QUORVEL_THREADS), or the default.
int ThreadCount() {
  return Rules.readAheadThreads > 0 ? Rules.readAheadThreads : DefaultThreads;
}

// Opens the start directory and starts the workers when they are wanted; its listing is read
// here, in line, and its subdirectories gathered for them.
FindResult OpenStart(const PathStr& directory) {
  int fd = -1;
  FindResult result = OpenStartDirectory(directory, Rules.directorySizes, &fd, &LastError);
  if (result != FindFound) return result;
  StartInLine(fd);
  int threads = ThreadCount();
  if (threads > 1 && StartReadAhead(threads, Rules) &&
      !GatherBegin("", 0, std::string()))
    StopReadAhead();
  return FindFound;
}

FindResult PosixFirst(const PathStr& directory, FindEntry* entry) {
  PosixClose();
  FindResult result;
  const char* rel = directory.text + StartPathLength();
  int relLength = directory.length - StartPathLength();
  if (!StartDirectoryOpen() || relLength <= 0)
    result = OpenStart(directory);
  else if (ReadingAhead())
    result = TakeFromReadAhead(rel, relLength);
  else
    result = OpenInLine(rel);
  if (result == FindFound) {
    // Not even "." in it: read, and empty; a first read that failed: could not be read.
    NextResult first = PosixNext(entry);
    if (first != NextFound) {
      PosixClose();
      result = first == NextEnd ? FindNoEntries : FindFailed;
    }
  }
  return result;
}

void PosixEndScan() {
  PosixClose();
  StopReadAhead();
}

// Also forgets the last scan's start directory, should it not have ended.
void PosixStartScan(const ScanRules& rules) {
  PosixEndScan();
  Rules = rules;
  ForgetStartDirectory();
}

// Memory ran short on the scan's thread: what the workers hold is given back.
bool PosixReleaseMemory() {
  if (!ReadingAhead()) return false;
  StopReadAhead();
  return true;
}

void PosixFailureText(BStr* text) {
  ErrorText(LastError, text);
}

const FileSystemOps PosixOps = {PosixStartScan, PosixFirst,         PosixNext,       PosixClose,
                                PosixEndScan,   PosixReleaseMemory, PosixFailureText};
}  // namespace

const FileSystemOps* PlatformFileSystem() {
  return &PosixOps;
}
const FileSystemOps* ScanFileSystem = PlatformFileSystem();
