// Reading ahead of the scan: the protocol that worker threads and the scan's thread follow to
// share the reading of directories. The workers read the listings, up to a budget of memory, of
// the directories the scan will ask for next, in the order it will ask for them, and hold them
// until it does; a listing larger than the budget is read on while the scan takes it. The
// scan's thread still takes one listing at a time, so what the scan makes of them is the same
// as when it reads them itself.
//
// This half is portable: the jobs, the sibling lists and their keys, the budget, the hand-over
// and the gathering, guarded by one mutex. The threads and the reads themselves are the
// platform's (tree/readahead_posix.cpp), handed in as a ListingReader. Which directories are
// read and in which order is the scan's own rule (tree/find.h: ListingIndexOfVisit, and the
// SubdirectoryRule the scan starts with), read here, never restated.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "tree/listing_entry.h"

// A listing that takes more reads than this is large: from its next batch on, the sizes of its
// entries are measured by every thread at hand, whether a worker began it or the scan's thread
// did (ShareListing). Smaller ones are measured by the thread that reads them.
constexpr int BatchesOfASmallListing = 2;

// A batch of a listing read ahead: one read's records, in the platform's form, and what was
// measured of each, behind this header. Made with std::malloc by the platform's reader;
// released with FreeBatches.
struct ReadAheadBatch {
  ReadAheadBatch* next;
  size_t size;  // the bytes it takes, this header included: what it holds against the budget
  long bytes;   // of records, which follow this header
  int count;    // records; what was measured of each follows them
  // SizesMeasured, or for a batch of a large listing the scan is taking, kept with its names
  // only: SizesWanted until a thread claims it, SizesBeingMeasured while that thread measures.
  unsigned char sizes;
};
enum BatchSizes : unsigned char { SizesMeasured, SizesWanted, SizesBeingMeasured };
// Releases a chain of batches (null is harmless).
void FreeBatches(ReadAheadBatch* first);

// Where a walk over a batch's entries stands.
struct BatchWalk {
  long position = 0;
  int index = 0;
};

// How a worker reads: the platform's half, called on a worker thread without the lock. fd is
// the platform's handle of an open listing.
struct ListingReader {
  // Opens the directory at rel (below the start directory, ending in the separator), with the
  // scan's rules. FindFound with *fd; otherwise the result, with *error the system's error
  // number, and *noDescriptor when it failed only for want of a descriptor.
  FindResult (*open)(const char* rel, int* fd, bool* noDescriptor, int* error);
  // Reads the next records of fd's listing into the worker's space, and measures them when
  // `measure` says so: the bytes read, 0 at the end of the listing (only a read that gives
  // nothing ends it), -1 with *error when the read failed.
  long (*read)(int fd, void* space, bool measure, int* error);
  // Measures the entries of a batch kept without their sizes, on the descriptor of its listing
  // (any thread, one at a time for each batch).
  void (*measure)(int fd, ReadAheadBatch* batch);
  // A batch of its own holding what the last read put in the space. With no memory for one,
  // the space's spare batch, and *memoryShort: the worker stops after it, so one spare does.
  ReadAheadBatch* (*keep)(void* space, bool* memoryShort);
  void (*close)(int fd);
  // The entry after *walk in batch; false at its end.
  bool (*nextEntry)(const ReadAheadBatch* batch, BatchWalk* walk, FindEntry* entry);
  size_t largestBatch;  // the most bytes one batch takes
};

// The workers' side, called by the platform's threads and the one that starts them.
//
// Prepares a new round of reading ahead below the start directory, whose path with its
// separator is startPathLength bytes long, before any worker starts: `workers` of them, each
// taking workerOwn bytes of its own, whose budget is what the scan's memory goal for them leaves.
// Only the subdirectories the scan reads are read ahead.
void ReadAheadBegin(const ListingReader* reader, int startPathLength, int workers, size_t workerOwn,
                    const ScanRules& rules);
// A worker's whole life: takes directories and reads them until it is asked to stop, memory
// or descriptors run short. space is the worker's own (see ListingReader).
void ReadAheadWork(void* space);
// Asks every worker to stop; the platform then joins them and calls ReadAheadEnd.
void ReadAheadStopping();
// Releases everything the workers left (they have all ended).
void ReadAheadEnd();

// The scan's thread's side, called by the platform's enumeration.
//
// What the read-ahead has for one directory the scan asks for.
enum TakeKind {
  TakenListing,  // read or being read ahead: result, and the job to take its batches from
  TakeReadHere,  // nothing read: the scan's thread opens and reads it in line
  TakeStop,      // memory ran short on a worker: stop reading ahead, then read it in line
};
struct ReadAheadJob;
struct TakenDirectory {
  FindResult result = FindFound;
  int error = 0;  // the system's error number of a FindFailed or FindPathNotFound
  // With TakenListing and FindFound: the batches read (the caller's), then those that come
  // from `job` (NextBatch) while its worker reads on (it is given back with ReleaseJob), then,
  // when fd >= 0, the rest of the listing read in line from fd (the caller's).
  ReadAheadBatch* batches = nullptr;
  ReadAheadJob* job = nullptr;
  int fd = -1;
  // Not 0: the listing ended with a read that failed, with this error number, after the
  // batches (the directory could not be read whole).
  int readError = 0;
  // Its subdirectories were not queued (its listing was not whole ahead of the scan): the
  // caller gathers them as it hands its entries out (GatherBegin), with this key.
  bool gather = false;
  std::string key;
};
// The read-ahead's part for the directory at rel (below the start directory, ending in the
// separator), waiting while a worker opens it and reads its first batch. May throw
// std::bad_alloc: the caller then stops reading ahead.
TakeKind TakeListing(std::string_view rel, TakenDirectory* taken);
// The job's next batch, measured, the caller's from now on (FreeBatches), waiting while its
// worker reads it and the workers measure it (or measuring it here when none has begun to). False
// at the end of what was read ahead; *fd is then -1, or a handle of the directory (the caller's)
// whose listing goes on from there, to be read in line; and *readError the error number of a
// read that failed there, else 0.
bool NextBatch(ReadAheadJob* job, ReadAheadBatch** batch, int* fd, int* readError);
// The scan is done with the job (harmless with null).
void ReleaseJob(ReadAheadJob* job);
// A listing the scan's thread has begun in line (fd, the caller's until now) and found large:
// handed to the workers, one of which reads it on while they all measure its batches. The job
// to take its batches from (NextBatch, then ReleaseJob), or null when no worker can take it
// (the caller reads on in line). May throw std::bad_alloc.
ReadAheadJob* ShareListing(int fd);

// Gathering, on the scan's thread, the subdirectories of a directory it reads in line, so that
// the workers can read them ahead once its listing is whole: GatherBegin, GatherEntry for each
// entry handed to the scan, GatherEnd at the listing's end. GatherBegin and GatherEntry return
// false when memory ran short: the caller then stops reading ahead.
bool GatherBegin(const char* rel, int relLength, const std::string& key);
bool GatherEntry(const FindEntry& entry);
void GatherEnd();
// Forgets what was gathered without queueing it.
void GatherDrop();
bool Gathering();

// The scan's thread found no descriptor free: waits until no worker has a directory open and
// keeps them from opening one until DescriptorsDone. False when no worker held one.
bool WaitForDescriptors();
void DescriptorsDone();
