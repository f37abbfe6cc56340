// POSIX drive query: the mount that holds the start directory, found from the directory itself
// (its canonical path looked up through the kernel's mount table), and statvfs on it. Only code
// for POSIX systems goes in this file.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <string>

#include "console/strings.h"
#include "disk/drive.h"
#include "disk/mounts_posix.h"

namespace {
bool DeviceOf(const std::string& path, dev_t* dev) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  *dev = st.st_dev;
  return true;
}

std::string Parent(const std::string& p) {
  size_t slash = p.find_last_of('/');
  return slash == 0 || slash == std::string::npos ? "/" : p.substr(0, slash);
}

// The directory as the kernel names it: symbolic links, "." and ".." resolved. For a path that
// does not exist, its nearest existing ancestor (the scan then reports the missing path).
std::string CanonicalDirectory(const PathStr& path, bool* exists) {
  std::string p(path.text, path.length);
  *exists = true;
  for (;;) {
    char real[PATH_MAX];
    if (realpath(p.c_str(), real)) return real;
    *exists = false;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (p.size() <= 1 || p.find('/') == std::string::npos) return "/";
    p = Parent(p);
  }
}

// Without a readable mount table: walk up the canonical path while the device stays the same.
std::string MountPointByDevice(const std::string& canonical) {
  std::string p = canonical;
  dev_t dev;
  if (!DeviceOf(p, &dev)) return "/";
  while (p != "/") {
    std::string up = Parent(p);
    dev_t upDev;
    if (!DeviceOf(up, &upDev) || upDev != dev) break;
    p = up;
  }
  return p;
}

std::string MountPointOf(const std::string& canonical) {
  MountTable table;
  if (ReadMountTable(&table)) {
    int m = MountHolding(table, canonical);
    if (m >= 0) return table.mounts[m].mountPoint;
  }
  return MountPointByDevice(canonical);
}
}  // namespace

bool GetDriveStatistics(const PathStr& path, DriveFacts* drive) {
  bool exists;
  std::string canonical = CanonicalDirectory(path, &exists);
  std::string mountPoint = MountPointOf(canonical);
  PathStr mount = PMake(mountPoint.data(), (int)mountPoint.size());
  struct statvfs vfs;
  if (statvfs(mount.text, &vfs) != 0) {
    SayInvalidDrive(mount.text, mount.length);
    return false;
  }
  int64_t frsize = (int64_t)vfs.f_frsize;
  drive->cluster = frsize > INT32_MAX ? INT32_MAX : (int32_t)frsize;
  drive->totalBytes = (int64_t)vfs.f_blocks * frsize;
  drive->freeBytes = (int64_t)vfs.f_bfree * frsize;
  drive->label = mount;
  // The start directory is the drive's root when it is the mount point itself, however its
  // path is spelled ("/mnt/m", "/mnt/m/.", "/mnt/m/sub/.."): that spelling, with its separator,
  // is what the scan compares with.
  if (exists && canonical == mountPoint) {
    PathStr start = path;
    AppendSeparatorWith(start, PathBudget, '/');
    drive->rootLength = start.length;
  } else {
    drive->rootLength = 0;
  }
  return true;
}
