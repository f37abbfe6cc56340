// Reading ahead of the scan on worker threads (POSIX): the listings, up to a budget of memory,
// of the directories the scan will ask for next, in the order it will ask for them, held until
// it does; a listing larger than the budget is read on while the scan takes it. The scan's thread still takes one listing at a time, so what the scan makes of them
// is the same as when it reads them itself. Called by the POSIX enumeration on the scan's
// thread only.
#pragma once

#include <string>

#include "tree/listing_posix.h"

// A batch of a listing read ahead: one read's kernel records and what was measured of each.
struct ListingBatch {
  ListingBatch* next;
  long bytes;  // of records (a multiple of 8: the kernel pads every record to 8)
  int count;   // records
  // The records; what was measured of each follows them.
  char* Records() { return (char*)(this + 1); }
  Measured* MeasuredEntries() { return (Measured*)(Records() + bytes); }
};
// Releases a chain of batches (null is harmless).
void FreeBatches(ListingBatch* first);

// Starts `count` workers below the start directory just opened. False when none could start:
// the scan then reads in line.
bool StartReadAhead(int count);
// True from StartReadAhead until StopReadAhead.
bool ReadingAhead();
// Ends reading ahead: the workers are stopped and joined, everything they hold is released.
// The scan's thread reads in line from then on. Harmless when not reading ahead.
void StopReadAhead();

// What the read-ahead has for one directory the scan asks for.
enum TakeKind {
  TakenListing,  // read or being read ahead: result, and the job to take its batches from
  TakeReadHere,  // nothing read: the scan's thread opens and reads it in line
  TakeStop,      // memory ran short on a worker: stop reading ahead, then read it in line
};
struct ReadAheadJob;
struct TakenDirectory {
  FindResult result = FindFound;
  // With TakenListing and FindFound: the batches read (the caller's), then those that come
  // from `job` (NextBatch) while its worker reads on (it is given back with ReleaseJob), then,
  // when fd >= 0, the rest of the listing read in line from fd (the caller's).
  ListingBatch* batches = nullptr;
  ReadAheadJob* job = nullptr;
  int fd = -1;
  // Its subdirectories were not queued (its listing was not whole ahead of the scan): the
  // caller gathers them as it hands its entries out (GatherBegin), with this key.
  bool gather = false;
  std::string key;
};
// The read-ahead's part for the directory at rel (below the start directory, ending in '/'),
// waiting while a worker opens it and reads its first batch. May throw std::bad_alloc: the
// caller then stops reading ahead.
TakeKind TakeListing(const std::string& rel, TakenDirectory* taken);
// The job's next batch, the caller's from now on (FreeBatches), waiting while its worker reads
// it. False at the end of what was read ahead; *fd is then -1, or a descriptor of the directory
// (the caller's) whose listing goes on from there, to be read in line.
bool NextBatch(ReadAheadJob* job, ListingBatch** batch, int* fd);
// The scan is done with the job (harmless with null).
void ReleaseJob(ReadAheadJob* job);

// Gathering, on the scan's thread, the subdirectories of a directory it reads in line, so that
// the workers can read them ahead once its listing is whole: GatherBegin, GatherEntry for each
// entry handed to the scan, GatherEnd at the listing's end. GatherBegin and GatherEntry may throw
// std::bad_alloc (the caller then stops reading ahead).
void GatherBegin(const char* rel, int relLength, const std::string& key);
void GatherEntry(const FindEntry& entry);
void GatherEnd();
// Forgets what was gathered without queueing it.
void GatherDrop();
bool Gathering();

// The scan's thread found no descriptor free: waits until no worker has a directory open and
// keeps them from opening one until DescriptorsDone. False when no worker held one.
bool WaitForDescriptors();
void DescriptorsDone();
