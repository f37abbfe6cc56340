// Makes the directory argument a full path.
#pragma once

#include "console/bounded_string.h"

// The platform's expansion: drive letters and per-drive current directories on Windows; the
// current directory on POSIX. At most PathBudget bytes (4095).
PathStr ExpandPath(const PathStr& argument);

// The Windows rules, with the system's current directories handed in: currentDirectory() is the
// current drive's, driveDirectory(letter) that of a given drive (an upper-case letter).
struct DriveDirectories {
  PathStr (*currentDirectory)();
  PathStr (*driveDirectory)(char letter);
};
// At most 4095 bytes.
PathStr ExpandDrivePath(const PathStr& argument, const DriveDirectories& dirs);

// The POSIX rules: an absolute path is unchanged; anything else is relative to current. At
// most 4095 bytes.
PathStr ExpandPosixPath(const PathStr& argument, const PathStr& current);
