// Platform pieces of the files of saved scans, used by the portable commit and discard of a
// dump (tree/dump_file.cpp); each platform's member of the dump_file pair gives them. Only
// the dump_file files include this header.
#pragma once

#include <cstdio>

#include "console/bounded_string.h"
#include "tree/dump_file.h"

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
