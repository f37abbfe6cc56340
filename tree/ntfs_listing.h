// The portable half of the Windows listing: the records of a batch that
// GetFileInformationByHandleEx(FileIdBothDirectoryInfo) fills, and the long form of a directory's
// path that the wide calls take. Kept apart from tree/find_win32.cpp so that recorded batches
// and paths are tested on every build.
#pragma once

#include <cstdint>

#include "console/bounded_string.h"
#include "tree/listing_entry.h"

// One entry of a batch. name points into the batch: UTF-16LE code units, valid as long as the
// batch is.
struct ListingRecord {
  const unsigned char* name;
  int nameUnits;
  uint32_t attributes;
  int64_t endOfFile;       // the file's length
  int64_t allocationSize;  // bytes the file holds on the disk
  uint64_t fileId;         // the same for every name of a file; 0 when the volume has none
};

// A walk over one batch: where the next record starts, -1 once the batch is used up.
struct NtfsBatch {
  const unsigned char* bytes;
  int length;
  int next;
};

// Starts a walk over length bytes (what the call filled) at bytes.
void StartBatch(NtfsBatch* batch, const void* bytes, int length);

// The next record of the batch; false at its end. A record that does not lie wholly inside the
// batch ends it (nothing of it is read); an odd byte count of a name drops its last byte.
bool NextRecord(NtfsBatch* batch, ListingRecord* record);

// True when id tells one file from another: not 0 (the volume keeps no ids, as FAT) and not all
// ones (the id does not fit in 64 bits, as on ReFS).
bool KnownFileId(uint64_t id);

// The attribute bits the scan goes by: a directory that is also a reparse point (a directory
// symbolic link, a junction, a mount point) is listed as a file, so that it is not entered.
uint32_t ListedAttributes(uint32_t attributes);

// Fills everything of the scan's entry from a record but its name, which the platform file
// converts: the attributes as ListedAttributes gives them, the length, the data held (at most
// the length: a sparse, compressed or placeholder file holds less), the allocation, and the
// file id as the key of a file that may have several names when KnownFileId says it is one.
void EntryFromRecord(const ListingRecord& record, FindEntry* entry);

// Room for a path of the budget, its separator and the longest prefix ("\\?\UNC\" for the "\\"
// of a share).
constexpr int LongPathCapacity = PathCapacity + 6;
using LongPathStr = BoundedText<LongPathCapacity>;

// The form of an absolute directory path that the wide calls read past 260 characters and take
// literally, so that a name ending in a dot or a blank is its own directory: "\\?\" before a
// drive path ("C:\..."), "\\?\UNC\" instead of the "\\" of a share. Because that form is taken
// literally, the "." and ".." components and doubled separators of the path are resolved here
// (never above the drive root or the share). The result ends in a separator. A path already in
// a "\\?\" or "\\.\" form, or one that is not absolute, is returned as it is.
LongPathStr LongDirectoryForm(const PathStr& path);
