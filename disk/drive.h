// The drive query: the root of the drive or share (Windows) or the mount point (POSIX) that
// holds the start directory, its cluster size and its free and total space.
#pragma once

#include <cstdint>

#include "console/bounded_string.h"

// Written by GetDriveStatistics on success; read by the report footer.
extern int32_t DriveClusterSize;
extern int64_t DriveFreeBytes;
extern int64_t DriveTotalBytes;
// The drive's name in the footer's "Drive X: statistics:" line: the upper-cased drive letter
// on Windows, the mount point on POSIX.
extern PathStr DriveLabel;
// Length of the drive root's path with its separator (3 on Windows; on POSIX that of the start
// directory as given when it is its file system's mount point, else 0): that directory is not
// charged for its entry table.
extern int DriveRootLength;

// Queries the drive of the expanded path. True with the figures set; false when the drive
// cannot be found or queried, after writing its message (none for a server-only network path).
bool GetDriveStatistics(const PathStr& path, int32_t* clusterSize);

// The Windows root derivation, portable so it can be tested anywhere.
enum RootKind { RootDrive, RootShare, RootServerOnly, RootUnknown };
RootKind DeriveDriveRoot(const BStr& path, BStr* root);
