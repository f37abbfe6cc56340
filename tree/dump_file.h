// The files of saved scans: a dump opened for reading, and a dump written to a temporary file
// beside its name that takes the name only once it is whole, so that a failed or interrupted
// run leaves the file that was there as it was, and no temporary file.
#pragma once

#include <cstdint>
#include <cstdio>

#include "console/bounded_string.h"

// Opens the dump at path for reading, as bytes; "-" is standard input. Null when it cannot be
// read, with the system's reason (or "is a directory") in *reason.
FILE* OpenDumpForReading(const PathStr& path, BStr* reason);
// Closes what OpenDumpForReading opened (standard input stays open).
void CloseDump(FILE* file);

// A dump being written.
struct SaveFile {
  PathStr path;       // the name it takes when whole
  PathStr temporary;  // where it is written meanwhile, in the same directory
  FILE* file;         // open on temporary; null when none is
};

// Creates the temporary file beside path and opens it for writing. From here until
// CommitSaveFile or DiscardSaveFile, an interrupt (Ctrl+C, a termination signal, the console
// closing) removes the temporary file before the program ends. False with the reason in
// *reason when it cannot be made (no such directory, no permission, path names a directory).
bool CreateSaveFile(const PathStr& path, SaveFile* save, BStr* reason);

// Writes what is pending to the disk, closes the temporary file and gives it the name path,
// replacing the file there. False with the reason when any of that failed (a full disk, a
// failed write): the temporary file is then removed and path left as it was.
bool CommitSaveFile(SaveFile* save, BStr* reason);

// Closes and removes the temporary file; path stays as it was. Harmless when none is open.
void DiscardSaveFile(SaveFile* save);

// A move to position in a file being written, 64-bit on both builds; true when it was made.
bool SeekFile(FILE* file, int64_t position);

// The start directory's own size, the space it holds and its device, for the root of a saved
// scan of the disk (POSIX: stat; its subdirectories' are measured as they are listed). False
// where the system does not tell (Windows: the listing gives a folder's entries, not its own).
bool StartDirectorySpace(const PathStr& path, int64_t* size, int64_t* held, uint64_t* device);
