// The POSIX half of reading ahead of the scan: the worker threads and their reads (the protocol
// they follow is tree/readahead.h). Called by the POSIX enumeration on the scan's thread only.
#pragma once

#include "tree/listing_posix.h"
#include "tree/readahead.h"

// The records of a batch read ahead, and what was measured of each, which follow them.
inline char* BatchRecords(ReadAheadBatch* b) {
  return (char*)(b + 1);
}
inline Measured* BatchMeasured(ReadAheadBatch* b) {
  return (Measured*)(BatchRecords(b) + b->bytes);
}
// A cursor over a batch's entries, for the scan's thread.
inline BatchCursor CursorOf(ReadAheadBatch* b) {
  return BatchCursor{BatchRecords(b), b->bytes, 0, 0, BatchMeasured(b)};
}

// Starts `count` workers below the start directory just opened, to read the subdirectories
// scanReads picks (null: every one). False when none could start: the scan then reads in line.
bool StartReadAhead(int count, const ScanRules& rules);
// True from StartReadAhead until StopReadAhead.
bool ReadingAhead();
// Ends reading ahead: the workers are stopped and joined, everything they hold is released.
// The scan's thread reads in line from then on. Harmless when not reading ahead.
void StopReadAhead();
