// The files a scan has charged, by device and file id (the inode on POSIX, the NTFS file id on
// Windows), so that a file with several names is charged at the first name met only. Windows
// lists no count of names, so there every file goes in: the set keeps each id in 8 bytes of an
// open-addressing table per device that is never more than 2/3 full nor, after it has grown,
// less than 1/3, which is at most 24 bytes per file (the old table is held too while one grows).
// The devices are kept in order, and the slots are chosen with a key of the run's own, so that
// no saved scan's device or inode numbers make a lookup cost more than a logarithm on average.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

struct SeenIds {
  uint64_t device;
  std::vector<uint64_t> slots;  // 2^bits of them; 0 marks a free one
  int bits;
  int64_t held;   // ids in the slots
  bool zeroSeen;  // the id 0, which cannot sit in a slot
};

struct SeenFiles {
  std::map<uint64_t, SeenIds> devices;  // one table per device met; a scan normally meets one
  SeenIds* last = nullptr;              // the table used last
};

// Adds the file; true when it was not in the set before.
bool MarkSeen(SeenFiles* set, uint64_t device, uint64_t id);

// Empties the set and gives its memory back.
void ForgetSeen(SeenFiles* set);

// Bytes the set's tables take.
int64_t SeenBytes(const SeenFiles& set);
