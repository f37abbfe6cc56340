// Makes the directory argument a full path.
#pragma once

#include "console/bounded_string.h"

// The platform's expansion: drive letters and per-drive current directories on Windows; the
// current directory on POSIX. At most PathBudget bytes (4095): a longer path is cut there, and
// *tooLong (when given) says so; it names no directory the scan may read.
PathStr ExpandPath(const PathStr& argument, bool* tooLong = nullptr);

// The Windows rules, with the system's current directories handed in: currentDirectory() is the
// current drive's, driveDirectory(letter) that of a given drive (an upper-case letter).
struct DriveDirectories {
  PathStr (*currentDirectory)();
  PathStr (*driveDirectory)(char letter);
};
// At most 4095 bytes; *tooLong as for ExpandPath.
PathStr ExpandDrivePath(const PathStr& argument, const DriveDirectories& dirs,
                        bool* tooLong = nullptr);

// The POSIX rules: an absolute path is unchanged; anything else is relative to current. At
// most 4095 bytes; *tooLong as for ExpandPath.
PathStr ExpandPosixPath(const PathStr& argument, const PathStr& current, bool* tooLong = nullptr);
