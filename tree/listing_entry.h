// What a directory listing gives, whoever reads it (the scan's enumeration, the threads that
// read ahead of it, the platforms' listing parsers): the results of opening and reading a
// listing, one entry, and the scan's rules about which entries are read and in which order.
#pragma once

#include <cstdint>

enum FindResult { FindFound, FindPathNotFound, FindFailed, FindOtherDevice, FindNoEntries };

// What a request for the next entry of a listing gave: an entry, the end of the listing, or a
// failure before its end (the directory could not be read whole; what was handed out stays).
enum NextResult { NextFound, NextEnd, NextFailed };

constexpr uint32_t AttrVolumeLabel = 0x08;
constexpr uint32_t AttrDirectory = 0x10;

struct FindEntry {
  const char* name;  // valid until the next call on the enumeration
  int nameLength;
  uint32_t attributes;  // Windows attribute bits; POSIX sets only AttrDirectory
  int64_t size;         // bytes, as a directory listing gives them
  // Bytes of data the file holds on the disk, at most size: a sparse file holds less than its
  // length. POSIX: min(st_size, st_blocks x 512); Windows: min(EndOfFile, AllocationSize) of
  // the NTFS listing, the length where the listing has no allocation (FindFirstFileW).
  int64_t allocated;
  // All the space the file system gives the file, which may pass its length (space reserved
  // past the end). POSIX: st_blocks x 512; Windows: AllocationSize; 0 where the listing does
  // not tell (FindFirstFileW).
  // A subdirectory's size and held are its own (its table of entries), as the listing gives
  // them on Windows; on POSIX they are measured only when ScanRules::directorySizes asks
  // (a saved scan), else 0.
  int64_t held;
  // The file has more than one name (hard links); device and inode then tell which file it is.
  bool linked;
  uint64_t device;
  uint64_t inode;
  // Its number of names (st_nlink, at most 2^32 - 1); 0 where the listing does not tell
  // (Windows).
  uint32_t links;
  // Neither a regular file nor a directory: a symbolic link, a device, a fifo, a socket (POSIX);
  // a reparse point listed as a file (Windows). Said in saved scans, counted as any file.
  bool notRegular;
};

// True when a directory whose path (without its last separator) is `length` bytes long is read
// within the budget: its path and the room its enumeration adds (a pattern on Windows, nothing
// on POSIX) fit. Others are skipped with a message, or, in a saved scan, were.
inline bool PathFits(long length, int budget, int patternRoom) {
  return length + patternRoom <= budget;
}

// True for the entries "." and ".." of a listing, which are no subdirectories to read.
inline bool IsDotOrDotDot(const char* name, int length) {
  return name[0] == '.' && (length == 1 || (length == 2 && name[1] == '.'));
}

// The scan's visiting order, which the threads that read ahead of it follow too: a directory's
// subdirectories are read after its own listing is whole, from the last listed to the first,
// each with everything below it, passing over "." and ".." and those the scan's rule
// (ScanRules::readsSubdirectory) refuses. Of `count` subdirectories so listed, visit number
// `visit` (from 0) is the one at this index in listing order.
inline long ListingIndexOfVisit(long count, long visit) {
  return count - 1 - visit;
}

// Whether the scan reads the subdirectory `name` (not "." or "..") of the directory whose path
// below the start directory is parent (parentRelLength bytes, ending in the separator or empty)
// and whose whole path with its separator is parentLength bytes long. Reads only what is fixed
// before the scan starts: safe from any thread.
using SubdirectoryRule = bool (*)(const char* parent, int parentRelLength, long parentLength,
                                  const char* name, int nameLength);

// What the enumeration is told of a scan as it starts, fixed until it ends.
struct ScanRules {
  // Worker threads that may read directories ahead of the scan (1: none, all is read in line);
  // 0: the build's default.
  int readAheadThreads = 0;
  // Subdirectories are measured as they are listed, for their own sizes (a saved scan holds
  // them); read by the threads that read ahead too.
  bool directorySizes = false;
  // Which subdirectories the scan reads, so that the threads read ahead only those; null:
  // every one.
  SubdirectoryRule readsSubdirectory = nullptr;
  // What reading ahead may add to the memory the scan takes (0: the build's default, 8 MiB); a
  // tree that keeps its files leaves them the room.
  size_t readAheadMemory = 0;
};
