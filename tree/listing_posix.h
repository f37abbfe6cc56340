// What the POSIX enumeration's two readers share: the scan's thread reading a directory in line
// (tree/find_posix.cpp) and the worker threads reading ahead of it (tree/readahead_posix.cpp).
// Opening a directory below the start directory with the rules of the scan, reading its kernel
// records a batch at a time, and measuring each entry that is not a directory. POSIX only.
#pragma once

#include <cstdint>
#include <cstring>

#include "console/bounded_string.h"
#include "tree/listing_entry.h"

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
constexpr int SmallestDirent = 24;
constexpr int MaxBatchRecords = BatchBytes / SmallestDirent;

// What the scan needs of an entry, measured with one fstatat for those that are not
// directories (and for subdirectories too when their own sizes are asked for: NeedsMeasuring).
struct Measured {
  bool directory;
  bool linked;        // more than one name
  bool notRegular;    // neither a regular file nor a directory
  uint32_t links;     // st_nlink, at most 2^32 - 1
  int64_t size;       // st_size
  int64_t allocated;  // the data it holds: min(st_size, held)
  int64_t held;       // st_blocks x 512: all the space the file system gives it
  uint64_t device, inode;
};

// The start directory's path length as the scan gives it (with its separator): the part of
// every later path that is below it starts there. Set when the start directory is opened.
int StartPathLength();

// Opens the start directory, records what the rules below it need (its device, the mounts
// below it, the handle the directories below it are opened from, whether subdirectories are
// measured: measureSubdirectories, as ScanRules::directorySizes asks). Sets *fd to the open
// enumeration; FindPathNotFound or FindFailed as the scan's rules say, with *error the
// system's error number.
FindResult OpenStartDirectory(const PathStr& directory, bool measureSubdirectories, int* fd,
                              int* error);
// True when the start directory has been opened in this scan.
bool StartDirectoryOpen();
// Forgets the start directory (a new scan begins).
void ForgetStartDirectory();

// Opens the directory at rel, its path below the start directory ending in '/', with the rules
// of every directory below it: no component below the start directory is followed if it is a
// link (also one that replaced a directory since it was listed: that directory is not found),
// and neither another file system nor a mount point below the start directory (a bind mount of
// the same one) is entered. *noDescriptor is set when the open failed only for want of a file
// descriptor (the process's or the system's), which the caller may retry once others are
// closed; the result is then FindFailed. *error is the system's error number of a
// FindPathNotFound or FindFailed.
FindResult OpenBelow(const char* rel, int* fd, bool* noDescriptor, int* error);

// What one read of a listing says: records came (more may follow, however few they were: the
// kernel stops filling the buffer early when a signal is pending for the thread, which a stop
// and continue or a change of the window's size makes), the listing is at its end (the read
// gave nothing), the read failed, or it was interrupted before it gave anything and is made
// again. Only a read that gives nothing ends a listing.
enum ListingRead { RecordsRead, ListingEnded, ReadError, ReadInterrupted };
ListingRead JudgeRead(long got, int error);

// The system call that reads a listing's records (getdents64); tests replace it with a
// scripted one. Returns the bytes read, 0 at the end, -1 with errno on failure.
extern long (*ReadRecordsCall)(int fd, char* buffer, int size);

// One read of the listing of fd into buffer, as JudgeRead decides: the bytes read (0 at the
// end), or -1 with *error the system's error number (EIO for a batch whose records are not
// whole, see CheckRecords).
long ReadBatch(int fd, char* buffer, int size, int* error);

// Measures the entry name of the open directory dirFd into m (which the caller has zeroed and
// whose directory flag it has set from the record's type); an entry gone since it was listed
// stays an entry of the table, counted as an empty file. Of a directory, only its own size.
void Measure(int dirFd, const char* name, Measured* m);

// True for an entry a listing measures: every one that is not a directory, and the
// subdirectories (not "." and "..") when the start directory was opened to measure them.
bool NeedsMeasuring(const Measured& m, const FindEntry& entry);

// Measures every entry of a batch of n checked bytes holding count records (SortRecords) that
// NeedsMeasuring picks, on the open directory dirFd.
void MeasureRecords(int dirFd, const char* batch, long n, int count, Measured* measured);

// The name's length: its terminating zero lies within the record (CheckRecords made sure).
inline int NameLength(const LinuxDirent* d) {
  return (int)((const char*)std::memchr(d->name, 0, (size_t)(d->reclen - DirentNameOffset)) -
               d->name);
}

// The records of a batch of n bytes (8-aligned, as the kernel writes them) that are whole: each
// of at least 24 bytes and a multiple of 8, lying within the batch, with a name of 1 to 255
// bytes and its zero inside the record. The first that is not ends the batch: returns the
// bytes up to it, so that nothing past a broken record is read.
long CheckRecords(const char* batch, long n);

// Counts the records of a batch of n checked bytes and sets each one's Measured entry from its
// record alone (directory or not; "." and ".." are directories); returns the count, at most
// MaxBatchRecords.
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

// The system's text for error number error ("Permission denied"), into text.
void ErrorText(int error, BStr* text);
