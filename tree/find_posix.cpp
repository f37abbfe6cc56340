// POSIX enumeration: the directory is opened and read with getdents64, each entry that is not a
// directory measured with fstatat without following links. Only code for POSIX systems goes in
// this file.
//
// The scan makes one open, one or two reads and one close per directory and one size query per
// file; everything else is kept out of the per-directory path:
// - The device check (other file systems are not entered) needs no fstat per directory on file
//   systems whose every directory carries the device of its mount: the mount points below the
//   start directory where path lookup reaches another device are found once from
//   /proc/self/mountinfo (following each mount's parent, not the order of the lines, which
//   says nothing after a mount was moved), and only a directory at one of those paths is
//   refused, without being opened. Elsewhere (btrfs subvolumes, no /proc) each directory is
//   checked with fstat as it is opened.
// - Each file's entry carries what the scan's size rules need: its length, the bytes it holds
//   (st_blocks), and for a file of several names its device and inode.
// - On the same file systems a read that leaves room for one more entry of any length was the
//   last one, so the read that would return nothing is not made.
// - Directories below the start directory are opened relative to it, so only the names below
//   it are looked up again for each directory.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "disk/mounts_posix.h"
#include "tree/find.h"

namespace {
struct LinuxDirent {
  uint64_t ino;
  int64_t off;
  unsigned short reclen;
  unsigned char type;
  char name[1];
};
constexpr int DirentNameOffset = 19;  // offsetof(LinuxDirent, name)
// The largest record the kernel writes: header, 255 name bytes, the zero, padding to 8.
constexpr int LargestDirent = (DirentNameOffset + 256 + 7) / 8 * 8;

int DirFd = -1;                      // the open enumeration, or -1
alignas(8) char Entries[32 * 1024];  // one batch of entries from the kernel
bool ListingDone = false;            // the last read held the end of the listing

bool HaveRootDevice = false;  // the start directory's device has been recorded
dev_t RootDevice = 0;         // directories on other devices are not entered
bool ShortReadEnds = false;   // the start directory's file system ends listings with a short read
bool CheckByMounts = false;   // the device check uses ForeignMounts instead of fstat
int RootPathLength = 0;       // length of the start directory's path as the scan gives it
// A path handle (O_PATH, not an enumeration) of the start directory, that the directories below
// it are opened from; kept until the next scan, or -1.
int RootFd = -1;
std::string RootRealPath;     // the start directory's path as the kernel names it, with a '/'
// Paths (with a trailing '/') of the visible mount points below the start directory whose
// device is not the start directory's, sorted.
std::vector<std::string> ForeignMounts;

// File systems whose directories all report the device of their mount and whose listings end
// in one short read (ext2/3/4, tmpfs). Others are treated conservatively.
bool Predictable(int fd) {
  struct statfs fs;
  if (fstatfs(fd, &fs) != 0) return false;
  return fs.f_type == EXT4_SUPER_MAGIC || fs.f_type == TMPFS_MAGIC;
}

// Reads the mount table and keeps the mount points strictly below RootRealPath where path
// lookup reaches a mount of another device than RootDevice. False when the table cannot be
// read whole.
bool LoadForeignMounts() {
  ForeignMounts.clear();
  MountTable table;
  if (!ReadMountTable(&table)) return false;
  ForeignMounts = ForeignMountsBelow(table, RootRealPath, RootDevice);
  return true;
}

// Prepares the device check from the open start directory fd and its path as given.
void RecordRoot(int fd, const struct stat& st, const PathStr& directory) {
  HaveRootDevice = true;
  if (RootFd >= 0) close(RootFd);
  RootFd = openat(fd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  RootDevice = st.st_dev;
  RootPathLength = directory.length;
  ShortReadEnds = false;
  CheckByMounts = false;
  if (!Predictable(fd)) return;
  ShortReadEnds = true;
  // The kernel's name of the open directory: symbolic links and "." or ".." resolved, as the
  // mount table spells its paths.
  char link[32];
  char real[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, real, sizeof real - 1);
  if (n <= 0 || real[0] != '/') return;
  RootRealPath.assign(real, (size_t)n);
  if (RootRealPath.back() != '/') RootRealPath += '/';
  CheckByMounts = LoadForeignMounts();
}

// True when the directory (a path below the start directory, as the scan gives it) is the
// mount point of another device.
bool IsForeignMount(const PathStr& directory) {
  if (ForeignMounts.empty() || directory.length < RootPathLength) return false;
  std::string real = RootRealPath;
  real.append(directory.text + RootPathLength, (size_t)(directory.length - RootPathLength));
  return std::binary_search(ForeignMounts.begin(), ForeignMounts.end(), real);
}

// One entry of the last read, measured: every entry of a read is measured before the first is
// handed out, while the read's names are still in Entries.
struct Slot {
  const char* name;  // in Entries
  int nameLength;
  bool directory;
  bool linked;       // more than one name
  int64_t size;
  int64_t allocated;
  uint64_t device, inode;
};
constexpr int MaxSlots = sizeof Entries / 24;  // the smallest record is 24 bytes
Slot Slots[MaxSlots];  // the entries of the last read, in the kernel's order
int SlotCount = 0;     // slots filled by the last read
int SlotPos = 0;       // the next slot to hand out

void MeasureOne(Slot& s) {
  struct stat st;
  // An entry gone since it was listed stays an entry of the table, counted as an empty file.
  if (fstatat(DirFd, s.name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    s.directory = true;
    return;
  }
  s.size = st.st_size;
  // What the file holds on the disk: a sparse file less than its length.
  int64_t blocks = (int64_t)st.st_blocks;
  int64_t held = blocks > INT64_MAX / 512 ? INT64_MAX : blocks * 512;
  s.allocated = held < st.st_size ? held : (int64_t)st.st_size;
  s.linked = st.st_nlink > 1;
  s.device = (uint64_t)st.st_dev;
  s.inode = (uint64_t)st.st_ino;
}

void PosixStartScan() {
  HaveRootDevice = false;
  ForeignMounts.clear();
}

void PosixClose() {
  if (DirFd >= 0) close(DirFd);
  DirFd = -1;
  SlotCount = SlotPos = 0;
  ListingDone = false;
}

// The name's length: its zero lies in the record's last 8 bytes (the kernel pads to 8).
int NameLength(const LinuxDirent* d) {
  int from = d->reclen - DirentNameOffset - 8;
  if (from < 0) from = 0;
  return from + (int)std::strlen(d->name + from);
}

// Reads the next batch of entries and measures every one that is not a directory.
bool Refill() {
  if (ListingDone) return false;
  long n = syscall(SYS_getdents64, DirFd, Entries, sizeof Entries);
  if (n <= 0) return false;
  ListingDone = ShortReadEnds && (int)sizeof Entries - n >= LargestDirent;
  int pending[MaxSlots];
  int count = 0;
  SlotCount = SlotPos = 0;
  for (long pos = 0; pos < n;) {
    LinuxDirent* d = (LinuxDirent*)(Entries + pos);
    pos += d->reclen;
    Slot& s = Slots[SlotCount];
    s.name = d->name;
    s.nameLength = NameLength(d);
    s.size = 0;
    s.allocated = 0;
    s.linked = false;
    bool dots = d->name[0] == '.' && (d->name[1] == 0 || (d->name[1] == '.' && d->name[2] == 0));
    s.directory = dots || d->type == DT_DIR;
    if (!s.directory) pending[count++] = SlotCount;
    ++SlotCount;
  }
  for (int i = 0; i < count; ++i) MeasureOne(Slots[pending[i]]);
  return true;
}

bool PosixNext(FindEntry* entry) {
  if (DirFd < 0) return false;
  if (SlotPos >= SlotCount && !Refill()) return false;
  const Slot& s = Slots[SlotPos++];
  entry->name = s.name;
  entry->nameLength = s.nameLength;
  entry->attributes = s.directory ? AttrDirectory : 0;
  entry->size = s.size;
  entry->allocated = s.allocated;
  entry->linked = s.linked;
  entry->device = s.device;
  entry->inode = s.inode;
  return true;
}

FindResult PosixFirst(const PathStr& directory, FindEntry* entry) {
  PosixClose();
  if (HaveRootDevice && CheckByMounts && IsForeignMount(directory)) {
    // Another file system (/proc, a network mount...): kept in the tree with zero figures.
    return FindOtherDevice;
  }
  // Below the start directory the path is resolved from it, not from "/": fewer names to
  // look up per directory, and the same directory is found.
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;
  int fd = HaveRootDevice && RootFd >= 0 && directory.length > RootPathLength
               ? openat(RootFd, directory.text + RootPathLength, flags)
               : open(directory.text, flags);
  if (fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? FindPathNotFound : FindFailed;
  if (!HaveRootDevice || !CheckByMounts) {
    struct stat st;
    if (fstat(fd, &st) != 0) {
      close(fd);
      return FindFailed;
    }
    if (!HaveRootDevice) {
      RecordRoot(fd, st, directory);
    } else if (st.st_dev != RootDevice) {
      close(fd);
      return FindOtherDevice;
    }
  }
  DirFd = fd;
  if (!PosixNext(entry)) {
    PosixClose();
    return FindFailed;
  }
  return FindFound;
}

const FileSystemOps PosixOps = {PosixStartScan, PosixFirst, PosixNext, PosixClose};
}  // namespace

const FileSystemOps* PlatformFileSystem() { return &PosixOps; }
const FileSystemOps* ScanFileSystem = PlatformFileSystem();
