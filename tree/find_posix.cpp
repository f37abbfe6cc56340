// POSIX enumeration: the directory is opened and read with getdents64, each entry measured
// with fstatat without following links. Only code for POSIX systems goes in this file.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

#include "tree/find.h"

namespace {
struct LinuxDirent {
  uint64_t ino;
  int64_t off;
  unsigned short reclen;
  unsigned char type;
  char name[1];
};

int DirFd = -1;                      // the open enumeration, or -1
alignas(8) char Entries[32 * 1024];  // one batch of entries from the kernel
int EntriesUsed = 0;                 // bytes of Entries filled
int EntriesPos = 0;                  // offset of the next entry in Entries
bool HaveRootDevice = false;         // the start directory's device has been recorded
dev_t RootDevice = 0;                // directories on other devices are not entered

void PosixStartScan() { HaveRootDevice = false; }

void PosixClose() {
  if (DirFd >= 0) close(DirFd);
  DirFd = -1;
  EntriesUsed = EntriesPos = 0;
}

bool Refill() {
  long n = syscall(SYS_getdents64, DirFd, Entries, sizeof Entries);
  if (n <= 0) return false;
  EntriesUsed = (int)n;
  EntriesPos = 0;
  return true;
}

bool PosixNext(FindEntry* entry) {
  for (;;) {
    if (DirFd < 0) return false;
    if (EntriesPos >= EntriesUsed && !Refill()) return false;
    LinuxDirent* d = (LinuxDirent*)(Entries + EntriesPos);
    EntriesPos += d->reclen;
    entry->name = d->name;
    entry->nameLength = (int)std::strlen(d->name);
    entry->attributes = 0;
    entry->size = 0;
    bool dots = d->name[0] == '.' &&
                (d->name[1] == 0 || (d->name[1] == '.' && d->name[2] == 0));
    if (dots) {
      entry->attributes = AttrDirectory;
      return true;
    }
    if (d->type == DT_DIR) {
      entry->attributes = AttrDirectory;
      return true;
    }
    struct stat st;
    if (fstatat(DirFd, d->name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      // Gone since it was listed: still an entry of the table, counted as an empty file
      // unless the listing said it was a directory.
      return true;
    }
    if (S_ISDIR(st.st_mode)) {
      entry->attributes = AttrDirectory;
    } else {
      entry->size = st.st_size;
    }
    return true;
  }
}

FindResult PosixFirst(const BStr& directory, FindEntry* entry) {
  PosixClose();
  int fd = open(directory.text, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? FindPathNotFound : FindFailed;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    close(fd);
    return FindFailed;
  }
  if (!HaveRootDevice) {
    HaveRootDevice = true;
    RootDevice = st.st_dev;
  } else if (st.st_dev != RootDevice) {
    // Another file system (/proc, a network mount...): kept in the tree with zero figures.
    close(fd);
    return FindFailed;
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
