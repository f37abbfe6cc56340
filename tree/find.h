// Directory enumeration, the only way the scan reads the file system. The platform's table is
// the default; tests substitute a scripted file system.
#pragma once

#include <cstdint>

#include "console/bounded_string.h"
#include "tree/listing_entry.h"

struct FileSystemOps {
  // A new scan starts, by these rules; the next FindFirst opens its start directory.
  void (*startScan)(const ScanRules& rules);
  // Opens the enumeration of directory (its path ends with the separator) and gives its first
  // entry. FindPathNotFound: the path does not exist; FindFailed: any other failure (no
  // message, the directory counts as empty); FindOtherDevice: the directory is on another
  // file system than the start directory and is not entered (empty, like FindFailed, but it
  // was not a failure to read); FindNoEntries: the directory was read and holds no entry at all,
  // not even "." (a drive root with nothing on it), so it is empty without a failure.
  FindResult (*findFirst)(const PathStr& directory, FindEntry* entry);
  // The next entry. NextEnd only at the real end of the listing: a read cut short (by a
  // signal, say) is read on; NextFailed when reading failed before the end.
  NextResult (*findNext)(FindEntry* entry);
  // Closes the enumeration (harmless when none is open).
  void (*findClose)();
  // The scan is over: everything kept for it (threads reading ahead) is released.
  void (*endScan)();
  // Memory ran short on the scan's thread: gives back what the enumeration holds beyond the
  // directory being read (listings read ahead); true when it had anything to give.
  bool (*releaseMemory)();
  // The system's own text for why the last findFirst gave FindFailed or the last findNext
  // NextFailed ("Permission denied"), so that portable code never sees the platform's error
  // codes. Empty when the system has none.
  void (*failureText)(BStr* text);
};

// The table the scan reads through: PlatformFileSystem() unless a test replaced it.
extern const FileSystemOps* ScanFileSystem;
const FileSystemOps* PlatformFileSystem();
