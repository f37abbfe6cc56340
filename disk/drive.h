// The drive query: the root of the drive or share (Windows) or the mount point (POSIX) that
// holds the start directory, its cluster size and its free and total space.
#pragma once

#include <cstdint>

#include "console/bounded_string.h"

// The drive the report's footer shows (or a dump's record of it).
struct DriveFacts {
  // The drive's name in the footer's "Drive X: statistics:" line: the upper-cased drive letter
  // on Windows, the mount point on POSIX.
  PathStr label;
  int32_t cluster;  // its cluster size
  int64_t freeBytes;
  int64_t totalBytes;
  // Length of the drive root's path with its separator (3 on Windows; on POSIX that of the start
  // directory as given when it is its file system's mount point, else 0): that directory is not
  // charged for its entry table.
  int rootLength;
};

// Queries the drive of the expanded path. True with *drive filled; false when the drive cannot
// be found or queried, after writing its message (none for a server-only network path).
bool GetDriveStatistics(const PathStr& path, DriveFacts* drive);

// The message of the platforms' queries for a drive that cannot be queried, naming its root.
void SayInvalidDrive(const char* root, int length);

// The Windows root derivation, portable so it can be tested anywhere.
enum RootKind { RootDrive, RootShare, RootServerOnly, RootUnknown };
RootKind DeriveDriveRoot(const BStr& path, BStr* root);
