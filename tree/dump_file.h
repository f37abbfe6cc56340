// The files of saved scans: a dump opened for reading, and a dump written where its name says:
// to a temporary file beside a regular file that takes the name only once it is whole, so that
// a failed or interrupted run leaves the file that was there as it was, and no temporary file;
// straight into a FIFO, a device or standard output.
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
  PathStr path;       // the file it goes to: the name given, or the target of the link it names
  PathStr temporary;  // where it is written meanwhile, in path's directory; empty when none
  FILE* file;         // open on temporary, or on path itself; null when none is
  bool straight;      // written straight into path (standard output, a FIFO, a device)
};

// Opens where the dump of path goes, as ncdu -o writes its export: "-" is standard output; a
// FIFO, a device or any other file that is not a regular one is written straight into; a
// regular file or a new name gets a temporary file beside it (a short hidden name, so that any
// name the file system takes works) that takes the name only once it is whole. A symbolic link
// is followed to its target, which is then written by the same rules, the link kept; a link
// the system's protected-links rule would not follow (in a sticky directory writable by all,
// owned by neither the user running nor the directory's owner) is refused. A replaced file's
// permission bits are kept, never a set-id or sticky bit, when it belongs to the user running;
// any other dump gets those of a new file. From here until CommitSaveFile or DiscardSaveFile,
// an interrupt (Ctrl+C, a termination signal, the console closing) removes the temporary file
// before the program ends, and a write past a file-size limit fails as a write (POSIX: its
// signal is ignored). False with the reason in *reason when it cannot be opened.
bool CreateSaveFile(const PathStr& path, SaveFile* save, BStr* reason);

// Writes what is pending, puts it on the disk, closes the file and gives the temporary file the
// name path, replacing the file there (a dump written straight is only written and closed).
// False with the system's reason when any of that failed (a full disk, a failed write): the
// temporary file is then removed and path left as it was.
bool CommitSaveFile(SaveFile* save, BStr* reason);

// Closes and removes the temporary file; path stays as it was (what went straight into a FIFO
// or a device cannot be taken back). Harmless when none is open.
void DiscardSaveFile(SaveFile* save);

// The system's words for an error number of the C library (a failed write's).
BStr SystemReason(int error);

// A move to position in a file being written, 64-bit on both builds; true when it was made.
bool SeekFile(FILE* file, int64_t position);

// The start directory's own size, the space it holds and its device, for the root of a saved
// scan of the disk (POSIX: stat; its subdirectories' are measured as they are listed). False
// where the system does not tell (Windows: the listing gives a folder's entries, not its own).
bool StartDirectorySpace(const PathStr& path, int64_t* size, int64_t* held, uint64_t* device);

// Platform pieces, used by the portable commit and discard of a dump (tree/dump_file.cpp);
// each platform's member of the dump_file pair gives them. Only the dump_file files call them.
//
// The platform's code for a failed call of its own: errno on POSIX, GetLastError()'s on
// Windows; 0 for none.
typedef unsigned long PlatformError;

// Puts what was written to the temporary file open as file on the disk (POSIX: fsync, a file
// that cannot be synced let be; Windows: FlushFileBuffers). 0 when done.
PlatformError PlatformSyncSaveFile(FILE* file);
// Gives save's closed temporary file the name save->path, replacing the file there in one
// step (POSIX: renameat in the directory the temporary file was made in; Windows: MoveFileEx,
// written through). 0 when done.
PlatformError PlatformRenameOver(const SaveFile* save);
// Removes save's closed temporary file.
void PlatformRemoveTemporary(const SaveFile* save);
// Disarms the interrupt guard CreateSaveFile armed, if any, and lets go of what was kept for
// the temporary file (POSIX: its directory). Harmless when there is none.
void PlatformDisarmSaveFile();

// The reason said for a failed write or close of the C library, with the errno it left (0
// when it set none).
BStr PlatformWriteFaultReason(int error);
// The reason said for a failed sync or rename, with its PlatformError.
BStr PlatformErrorReason(PlatformError error);
