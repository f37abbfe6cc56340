// What the POSIX enumeration's two readers share: the scan's thread reading a directory in line
// (tree/find_posix.cpp) and the worker threads reading ahead of it (tree/readahead_posix.cpp).
// Opening a directory below the start directory with the rules of the scan, reading its kernel
// records a batch at a time, and measuring each entry that is not a directory. POSIX only.
#pragma once

#include <cstdint>
#include <cstring>

#include "tree/find.h"

// One record of getdents64.
struct LinuxDirent {
  uint64_t ino;
  int64_t off;
  unsigned short reclen;
  unsigned char type;
  char name[1];
};
constexpr int DirentNameOffset = 19;  // offsetof(LinuxDirent, name)

// Bytes asked of the kernel per read: most directories come in one.
constexpr int BatchBytes = 32 * 1024;
// The most records a read of BatchBytes can hold: the smallest record is 24 bytes.
constexpr int MaxBatchRecords = BatchBytes / 24;

// What the scan needs of an entry, measured with one fstatat for those that are not
// directories.
struct Measured {
  bool directory;
  bool linked;        // more than one name
  int64_t size;       // st_size
  int64_t allocated;  // the data it holds: min(st_size, held)
  int64_t held;       // st_blocks x 512: all the space the file system gives it
  uint64_t device, inode;
};

// The start directory's path length as the scan gives it (with its separator): the part of
// every later path that is below it starts there. Set when the start directory is opened.
extern int RootPathLength;

// Opens the start directory, records what the rules below it need (its device, the mounts
// below it, the handle the directories below it are opened from). Sets *fd to the open
// enumeration; FindPathNotFound or FindFailed as the scan's rules say.
FindResult OpenStartDirectory(const PathStr& directory, int* fd);
// True when the start directory has been opened in this scan.
bool StartDirectoryOpen();
// Forgets the start directory (a new scan begins).
void ForgetStartDirectory();

// Opens the directory at rel, its path below the start directory ending in '/', with the rules
// of every directory below it: no component below the start directory is followed if it is a
// link (also one that replaced a directory since it was listed: that directory is not found),
// and another file system is not entered. *noDescriptor is set when the open failed only for
// want of a file descriptor (the process's or the system's), which the caller may retry once
// others are closed; the result is then FindFailed.
FindResult OpenBelow(const char* rel, int* fd, bool* noDescriptor);

// One read of the listing of fd into buffer. Returns the bytes read (0 at the end, negative on
// failure); *last is set when the read proves that no entry follows.
long ReadBatch(int fd, char* buffer, int size, bool* last);

// Measures the entry name of the open directory dirFd into m (which the caller has zeroed and
// whose directory flag it has set from the record's type); an entry gone since it was listed
// stays an entry of the table, counted as an empty file.
void Measure(int dirFd, const char* name, Measured* m);

// The name's length: its zero lies in the record's last 8 bytes (the kernel pads to 8).
inline int NameLength(const LinuxDirent* d) {
  int from = d->reclen - DirentNameOffset - 8;
  if (from < 0) from = 0;
  return from + (int)std::strlen(d->name + from);
}

inline bool IsDots(const char* name) {
  return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// Counts the records of a batch of n bytes and sets each one's Measured entry from its record
// alone (directory or not; "." and ".." are directories); returns the count.
int SortRecords(const char* batch, long n, Measured* measured);

// Reads the entries of a batch in the kernel's order, with what was measured of each.
struct BatchCursor {
  const char* data = nullptr;
  long bytes = 0;
  long position = 0;
  int index = 0;
  const Measured* measured = nullptr;
};

// Gives the cursor's next entry (its name stays valid while the batch does); false at the end.
bool NextInBatch(BatchCursor* c, FindEntry* entry);
