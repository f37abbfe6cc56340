// The kernel's mount table (/proc/self/mountinfo) and which mount a path lies on. POSIX only:
// included by the _posix files of the drive query and the enumeration.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

struct MountEntry {
  int id;
  int parent;  // the id of the mount this one is mounted on
  dev_t device;
  std::string mountPoint;  // as the kernel names it: absolute, no trailing '/' but for "/"
};

struct MountTable {
  std::vector<MountEntry> mounts;
  // (parent id, mount point) -> index in mounts of the mount on top there.
  std::map<std::pair<int, std::string>, int> onTop;
  int root = -1;  // index of the mount the namespace's "/" starts from
};

// Reads the process's mount table. False when it cannot be read whole or a line is malformed.
bool ReadMountTable(MountTable* table);

// Builds the table from mountinfo text (for tests). False when a line is malformed or no mount
// holds "/".
bool ParseMountTable(const std::string& text, MountTable* table);

// The mount that path (absolute, canonical: no "." or "..", no symbolic links) lies on, found
// as the kernel's path lookup finds it: from the root mount, component by component, stepping
// onto the mount on top at each mount point. The order of the table's lines plays no part, so a
// mount that was moved or stacked later is seen where it is. Index into mounts, or -1.
int MountHolding(const MountTable& table, const std::string& path);

// The mount points strictly below the canonical directory `below` (ending in '/'): the paths
// where path lookup steps onto a mount, whatever its device (a bind mount of the same file
// system too), each with a trailing '/', sorted. A mount covered by a later one at a path
// above it is not where lookup goes, and is not among them.
std::vector<std::string> MountPointsBelow(const MountTable& table, const std::string& below);
