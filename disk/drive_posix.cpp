// POSIX drive query: the mount point that holds the start directory (found by walking up while
// the device stays the same) and statvfs on it. Only code for POSIX systems goes in this file.
#include <sys/stat.h>
#include <sys/statvfs.h>

#include "console/output.h"
#include "console/strings.h"
#include "disk/drive.h"

namespace {
bool DeviceOf(const BStr& path, dev_t* dev) {
  struct stat st;
  if (stat(path.length ? path.text : "/", &st) != 0) return false;
  *dev = st.st_dev;
  return true;
}

BStr WithoutTrailingSeparator(BStr p) {
  while (p.length > 1 && p.text[p.length - 1] == '/') BCut(p, p.length - 1);
  return p;
}

// The nearest existing ancestor of path (path itself when it exists).
BStr ExistingAncestor(BStr p, dev_t* dev) {
  p = WithoutTrailingSeparator(p);
  while (!DeviceOf(p, dev)) {
    if (p.length <= 1) {
      BSet(p, "/");
      DeviceOf(p, dev);
      return p;
    }
    p = ParentDirectoryWith(p, '/', 1);
  }
  return p;
}

BStr MountPointOf(const BStr& path) {
  dev_t dev = 0;
  BStr p = ExistingAncestor(path, &dev);
  while (p.length > 1) {
    BStr up = ParentDirectoryWith(p, '/', 1);
    dev_t upDev;
    if (!DeviceOf(up, &upDev) || upDev != dev) break;
    p = up;
  }
  return p;
}
}  // namespace

bool GetDriveStatistics(const BStr& path, int32_t* clusterSize) {
  BStr mount = MountPointOf(path);
  struct statvfs vfs;
  if (statvfs(mount.text, &vfs) != 0) {
    WriteText("Invalid drive ");
    WriteName(mount.text, mount.length);
    WriteText("  Ensure the drive door is closed");
    WriteLineEnd();
    return false;
  }
  int64_t frsize = (int64_t)vfs.f_frsize;
  *clusterSize = frsize > INT32_MAX ? INT32_MAX : (int32_t)frsize;
  DriveTotalBytes = (int64_t)vfs.f_blocks * frsize;
  DriveFreeBytes = (int64_t)vfs.f_bfree * frsize;
  DriveLabel = mount;
  BStr start = path;
  AppendSeparatorWith(start, 255, '/');
  BStr mountWithSeparator = mount;
  AppendSeparatorWith(mountWithSeparator, 255, '/');
  DriveRootLength = BEquals(start, mountWithSeparator) ? mountWithSeparator.length : 0;
  return true;
}
