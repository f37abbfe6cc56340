// Opening, reading and measuring directories below the start directory, for the scan's thread
// and the threads that read ahead of it. Only code for POSIX systems goes in this file.
//
// What is kept out of the per-directory path:
// - Mount points are not entered, other file systems and bind mounts of the same one alike: the
//   mount points below the start directory are found once from /proc/self/mountinfo (following
//   each mount's parent, not the order of the lines, which says nothing after a mount was
//   moved), and a directory at one of those paths is refused without being opened. On file
//   systems whose every directory carries the device of its mount that is the whole device
//   check; elsewhere (btrfs subvolumes, no /proc) each directory is also checked with fstat as
//   it is opened.
// - Directories below the start directory are opened relative to it, so only the names below
//   it are looked up again for each directory.
//
// A listing is read until a read gives nothing: a short read is no proof of its end, since the
// kernel stops filling the buffer as soon as a signal is pending for the thread (a stop and
// continue, a change of the window's size), on the scan's thread and on the workers alike. The
// read that gives nothing costs one cheap call per directory.
//
// Everything set here is set by the scan's thread when the start directory is opened, before
// any worker starts, and only read afterwards, so the workers may call OpenBelow freely.
#include "tree/listing_posix.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <vector>

#include "disk/mounts_posix.h"

namespace {
int StartLength = 0;                 // StartPathLength()
bool MeasureSubdirectories = false;  // subdirectories' own sizes are measured too

long GetDents(int fd, char* buffer, int size) {
  return syscall(SYS_getdents64, fd, buffer, size);
}

bool HaveRootDevice = false;  // the start directory's device has been recorded
dev_t RootDevice = 0;         // directories on other devices are not entered
bool MountsKnown = false;     // MountPoints holds the mount points below the start directory
bool CheckDevice = true;      // each directory's device is checked with fstat as it is opened
// A path handle (O_PATH, not an enumeration) of the start directory, that the directories below
// it are opened from; kept until the next scan, or -1 when it could not be had (no descriptor
// left): the directories below are then opened by RootRealPath.
int RootFd = -1;
std::string RootRealPath;  // the start directory's path as the kernel names it, with a '/'
// The mount points strictly below the start directory: their paths below it, each with a
// trailing '/', sorted.
std::vector<std::string> MountPoints;
// Whether openat2 can be used: 0 not yet known, 1 yes, -1 no (a kernel before 5.6, or a
// sandbox that refuses it). Workers may find out first, hence atomic.
std::atomic<int> Openat2Works{0};

// File systems whose directories all report the device of their mount (ext2/3/4, tmpfs).
// Others are treated conservatively.
bool Predictable(int fd) {
  struct statfs fs;
  if (fstatfs(fd, &fs) != 0) return false;
  return fs.f_type == EXT4_SUPER_MAGIC || fs.f_type == TMPFS_MAGIC;
}

// Reads the mount table and keeps the mount points strictly below RootRealPath. False when the
// table cannot be read whole.
bool LoadMountPoints() {
  MountPoints.clear();
  MountTable table;
  if (!ReadMountTable(&table)) return false;
  MountPoints = MountPointsBelow(table, RootRealPath);
  for (std::string& m : MountPoints) m.erase(0, RootRealPath.size());
  return true;
}

// The kernel's name of the open directory fd: symbolic links and "." or ".." resolved, as the
// mount table spells its paths, with a final '/'. Empty when it cannot be had.
std::string RealPathOf(int fd, const char* given) {
  char link[32];
  char real[PATH_MAX];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, real, sizeof real - 1);
  std::string path;
  if (n > 0 && real[0] == '/') {
    path.assign(real, (size_t)n);
  } else if (realpath(given, real)) {
    path = real;
  }
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

// Prepares the rules below the start directory from its open enumeration fd.
void RecordRoot(int fd, const struct stat& st, const PathStr& directory) {
  HaveRootDevice = true;
  if (RootFd >= 0) close(RootFd);
  RootFd = openat(fd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  RootDevice = st.st_dev;
  StartLength = directory.length;
  RootRealPath = RealPathOf(fd, directory.text);
  MountsKnown = !RootRealPath.empty() && LoadMountPoints();
  CheckDevice = !MountsKnown || !Predictable(fd);
}

// True when the directory at rel (below the start directory, ending in '/') is a mount point.
bool IsMountPoint(const char* rel) {
  auto at = std::lower_bound(MountPoints.begin(), MountPoints.end(), rel,
                             [](const std::string& m, const char* r) { return m.compare(r) < 0; });
  return at != MountPoints.end() && at->compare(rel) == 0;
}

constexpr int EnumerationFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;

// openat2 refusing every symbolic link on the way; beneath the start directory when opened from
// its handle. -1 with errno ENOSYS when openat2 cannot be used.
int OpenWithoutLinks(int from, const char* path) {
  if (Openat2Works.load(std::memory_order_relaxed) < 0) {
    errno = ENOSYS;
    return -1;
  }
  struct open_how how = {};
  how.flags = EnumerationFlags;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  if (from != AT_FDCWD) how.resolve |= RESOLVE_BENEATH;
  int f = (int)syscall(SYS_openat2, from, path, &how, sizeof how);
  if (f >= 0) {
    Openat2Works.store(1, std::memory_order_relaxed);
  } else if (Openat2Works.load(std::memory_order_relaxed) == 0 &&
             (errno == ENOSYS || errno == EPERM || errno == E2BIG || errno == EINVAL)) {
    // Not known to work yet, and the answer of a kernel or sandbox that does not have it.
    Openat2Works.store(-1, std::memory_order_relaxed);
    errno = ENOSYS;
  }
  return f;
}

// Without openat2: one component at a time from the start directory, none followed if it is a
// link (O_NOFOLLOW refuses a link as the last component; O_DIRECTORY refuses one opened as a
// path handle). Needs a second descriptor while it walks.
int OpenByComponents(const char* rel) {
  int at = RootFd >= 0 ? RootFd : open(RootRealPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (at < 0) return -1;
  char name[NAME_MAX + 1];
  const char* p = rel;
  for (;;) {
    const char* slash = std::strchr(p, '/');
    size_t length = slash ? (size_t)(slash - p) : std::strlen(p);
    if (length > NAME_MAX) length = NAME_MAX;
    std::memcpy(name, p, length);
    name[length] = 0;
    bool last = !slash || slash[1] == 0;
    int flags =
        last ? EnumerationFlags | O_NOFOLLOW : O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int next = openat(at, name, flags);
    int error = errno;
    if (at != RootFd) close(at);
    errno = error;
    if (next < 0 || last) return next;
    at = next;
    p = slash + 1;
  }
}

// Without openat2, and with the kernel's name of every open file at hand: the directory is
// opened by its path and kept only when the kernel names it by that same path, which no link on
// the way would leave it. Needs no second descriptor. -1 with errno ENOSYS when the kernel's
// name cannot be read.
int OpenCheckingPath(const char* rel) {
  char expected[2 * PATH_MAX];
  size_t relLength = std::strlen(rel);
  if (RootRealPath.empty() || RootRealPath.size() + relLength >= sizeof expected) {
    errno = ENOSYS;
    return -1;
  }
  std::memcpy(expected, RootRealPath.data(), RootRealPath.size());
  std::memcpy(expected + RootRealPath.size(), rel, relLength + 1);
  size_t expectedLength = RootRealPath.size() + relLength;
  if (expectedLength > 1 && expected[expectedLength - 1] == '/') expected[--expectedLength] = 0;
  int f = RootFd >= 0 ? openat(RootFd, rel, EnumerationFlags | O_NOFOLLOW)
                      : open(expected, EnumerationFlags | O_NOFOLLOW);
  if (f < 0) return -1;
  char link[32];
  char real[PATH_MAX];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", f);
  ssize_t n = readlink(link, real, sizeof real);
  if (n < 0) {
    close(f);
    errno = ENOSYS;
    return -1;
  }
  if ((size_t)n != expectedLength || std::memcmp(real, expected, expectedLength) != 0) {
    close(f);
    errno = ELOOP;
    return -1;
  }
  return f;
}
}  // namespace

bool StartDirectoryOpen() {
  return HaveRootDevice;
}

void ForgetStartDirectory() {
  HaveRootDevice = false;
  MountsKnown = false;
  MountPoints.clear();
}

FindResult OpenStartDirectory(const PathStr& directory, bool measureSubdirectories, int* fd,
                              int* error) {
  MeasureSubdirectories = measureSubdirectories;
  // Opened without the separator the scan appended: a path of the budget's 4095 bytes and its
  // separator would pass the system's limit.
  PathStr path = directory;
  if (path.length > 1 && path.text[path.length - 1] == '/') BCut(path, path.length - 1);
  int f = open(path.text, EnumerationFlags);
  if (f < 0) {
    *error = errno;
    return (errno == ENOENT || errno == ENOTDIR) ? FindPathNotFound : FindFailed;
  }
  struct stat st;
  if (fstat(f, &st) != 0) {
    *error = errno;
    close(f);
    return FindFailed;
  }
  RecordRoot(f, st, directory);
  *fd = f;
  return FindFound;
}

FindResult OpenBelow(const char* rel, int* fd, bool* noDescriptor, int* error) {
  *noDescriptor = false;
  *error = 0;
  if (MountsKnown && IsMountPoint(rel)) return FindOtherDevice;
  int f = -1;
  if (RootFd >= 0) {
    f = OpenWithoutLinks(RootFd, rel);
  } else {
    // No handle of the start directory (no descriptor was left for it): by its real path,
    // which holds no link.
    char path[2 * PATH_MAX];
    size_t relLength = std::strlen(rel);
    if (RootRealPath.size() + relLength < sizeof path) {
      std::memcpy(path, RootRealPath.data(), RootRealPath.size());
      std::memcpy(path + RootRealPath.size(), rel, relLength + 1);
      f = OpenWithoutLinks(AT_FDCWD, path);
    } else {
      errno = ENAMETOOLONG;
    }
  }
  if (f < 0 && errno == ENOSYS) f = OpenCheckingPath(rel);
  if (f < 0 && errno == ENOSYS) f = OpenByComponents(rel);
  if (f < 0) {
    *error = errno;
    if (*error == EMFILE || *error == ENFILE) {
      *noDescriptor = true;
      return FindFailed;
    }
    // A link where the listing showed a directory (ELOOP, or ENOTDIR from a path handle), or a
    // path that leaves the start directory (EXDEV): that directory is no longer there.
    bool gone = *error == ENOENT || *error == ENOTDIR || *error == ELOOP || *error == EXDEV;
    return gone ? FindPathNotFound : FindFailed;
  }
  if (CheckDevice) {
    struct stat st;
    if (fstat(f, &st) != 0) {
      *error = errno;
      close(f);
      return FindFailed;
    }
    if (st.st_dev != RootDevice) {
      close(f);
      return FindOtherDevice;
    }
  }
  *fd = f;
  return FindFound;
}

long (*ReadRecordsCall)(int fd, char* buffer, int size) = GetDents;

ListingRead JudgeRead(long got, int error) {
  if (got > 0) return RecordsRead;
  if (got == 0) return ListingEnded;
  return error == EINTR ? ReadInterrupted : ReadError;
}

long ReadBatch(int fd, char* buffer, int size, int* error) {
  for (;;) {
    long n = ReadRecordsCall(fd, buffer, size);
    int e = n < 0 ? errno : 0;
    switch (JudgeRead(n, e)) {
      case RecordsRead:
        // A batch with a broken record (the kernel writes none) cannot be read on safely.
        if (CheckRecords(buffer, n) == n) return n;
        *error = EIO;
        return -1;
      case ListingEnded:
        return 0;
      case ReadError:
        *error = e;
        return -1;
      case ReadInterrupted:
        break;
    }
  }
}

void Measure(int dirFd, const char* name, Measured* m) {
  struct stat st;
  if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  m->size = st.st_size;
  int64_t blocks = (int64_t)st.st_blocks;
  m->held = blocks > INT64_MAX / 512 ? INT64_MAX : blocks * 512;
  if (S_ISDIR(st.st_mode)) {
    m->directory = true;
    return;
  }
  m->allocated = std::min<int64_t>(m->held, st.st_size);
  m->linked = st.st_nlink > 1;
  m->links = st.st_nlink > UINT32_MAX ? UINT32_MAX : (uint32_t)st.st_nlink;
  m->notRegular = !S_ISREG(st.st_mode);
  m->device = (uint64_t)st.st_dev;
  m->inode = (uint64_t)st.st_ino;
}

int StartPathLength() {
  return StartLength;
}

bool NeedsMeasuring(const Measured& m, const FindEntry& entry) {
  return !m.directory || (MeasureSubdirectories && !IsDotOrDotDot(entry.name, entry.nameLength));
}

void MeasureRecords(int dirFd, const char* batch, long n, int count, Measured* measured) {
  BatchCursor c{batch, n, 0, 0, measured};
  FindEntry e;
  for (int i = 0; i < count && NextInBatch(&c, &e); ++i)
    if (NeedsMeasuring(measured[i], e)) Measure(dirFd, e.name, &measured[i]);
}

long CheckRecords(const char* batch, long n) {
  long pos = 0;
  while (n - pos >= SmallestDirent) {
    const LinuxDirent* d = (const LinuxDirent*)(batch + pos);
    long length = d->reclen;
    if (length < SmallestDirent || length % 8 != 0 || length > n - pos) break;
    const void* zero = std::memchr(d->name, 0, (size_t)(length - DirentNameOffset));
    long nameLength = zero ? (const char*)zero - d->name : 0;
    if (nameLength < 1 || nameLength > 255) break;
    pos += length;
  }
  return pos;
}

int SortRecords(const char* batch, long n, Measured* measured) {
  int count = 0;
  for (long pos = 0; pos < n && count < MaxBatchRecords;) {
    const LinuxDirent* d = (const LinuxDirent*)(batch + pos);
    pos += d->reclen;
    measured[count++] = Measured{
        IsDotOrDotDot(d->name, NameLength(d)) || d->type == DT_DIR, false, false, 0, 0, 0, 0, 0, 0};
  }
  return count;
}

bool NextInBatch(BatchCursor* c, FindEntry* entry) {
  if (c->position >= c->bytes) return false;
  const LinuxDirent* d = (const LinuxDirent*)(c->data + c->position);
  c->position += d->reclen;
  const Measured& m = c->measured[c->index++];
  entry->name = d->name;
  entry->nameLength = NameLength(d);
  entry->attributes = m.directory ? AttrDirectory : 0;
  entry->size = m.size;
  entry->allocated = m.allocated;
  entry->held = m.held;
  entry->linked = m.linked;
  entry->device = m.device;
  entry->inode = m.inode;
  entry->links = m.links;
  entry->notRegular = m.notRegular;
  return true;
}

void ErrorText(int error, BStr* text) {
  char buffer[256];
  // The GNU strerror_r gives its text (in buffer or its own); the POSIX one fills buffer.
  auto give = [&](auto result) {
    if constexpr (std::is_same<decltype(result), char*>::value) {
      *text = BMake(result);
    } else {
      *text = BMake(result == 0 ? buffer : "unknown error");
    }
  };
  give(strerror_r(error, buffer, sizeof buffer));
}
