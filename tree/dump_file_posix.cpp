// POSIX files of saved scans: reading a dump, and where a dump is written: a temporary file
// in the target's directory, removed by the ending signals meanwhile, or the FIFO or device
// itself; and the platform pieces of its commit and discard (tree/dump_file.cpp): the fsync,
// the rename over the target in that directory, the removal and the guard's disarming. Only
// code for POSIX systems goes in this file.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tree/dump_file.h"

namespace {
// The temporary file the ending signals remove: its name in the directory open on
// PendingDirectory; empty when there is none. Written only while those signals are blocked.
int PendingDirectory = -1;
char PendingName[16] = {0};
// The program dies of a broken pipe as of a termination signal: its temporary file goes too.
const int EndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
constexpr int EndingCount = sizeof EndingSignals / sizeof EndingSignals[0];
struct sigaction Previous[EndingCount];  // the handlers found, run after the removal
bool Installed[EndingCount] = {};

// The dump being written to a temporary file: the directory both names are in, open from
// before the temporary file is made until it has the target's name, so that the rename stays
// in the directory the temporary file was made in whatever happens to the path meanwhile.
int SaveDirectory = -1;
char SaveName[16] = {0};  // the temporary file's name there
PathStr TargetName;       // the name it takes there

void SetReason(BStr* reason, int error) {
  *reason = SystemReason(error);
}

// An ending signal while a dump is being written: the temporary file goes, then whatever the
// program did with the signal before (put the terminal back and end) is done.
void OnEndingSignal(int sig) {
  int savedErrno = errno;
  if (PendingName[0]) unlinkat(PendingDirectory, PendingName, 0);
  PendingName[0] = 0;
  for (int i = 0; i < EndingCount; ++i) {
    if (EndingSignals[i] != sig) continue;
    if (Previous[i].sa_handler != SIG_DFL && Previous[i].sa_handler != SIG_IGN) {
      Previous[i].sa_handler(sig);
    } else {
      signal(sig, SIG_DFL);
      raise(sig);
    }
  }
  errno = savedErrno;
}

void BlockEnding(sigset_t* old) {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : EndingSignals) sigaddset(&set, sig);
  sigprocmask(SIG_BLOCK, &set, old);
}

// Called with the ending signals blocked.
void Guard(int directory, const char* name) {
  PendingDirectory = directory;
  std::strcpy(PendingName, name);
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnEndingSignal;
  sigemptyset(&sa.sa_mask);
  for (int i = 0; i < EndingCount; ++i) {
    // A signal the program was started with ignored stays ignored: it ends nothing.
    Installed[i] = sigaction(EndingSignals[i], nullptr, &Previous[i]) == 0 &&
                   Previous[i].sa_handler != SIG_IGN &&
                   sigaction(EndingSignals[i], &sa, nullptr) == 0;
  }
}

void Unguard() {
  sigset_t old;
  BlockEnding(&old);
  PendingName[0] = 0;
  PendingDirectory = -1;
  for (int i = 0; i < EndingCount; ++i) {
    if (Installed[i]) sigaction(EndingSignals[i], &Previous[i], nullptr);
    Installed[i] = false;
  }
  sigprocmask(SIG_SETMASK, &old, nullptr);
}

bool Fail(BStr* reason, int error) {
  SetReason(reason, error);
  return false;
}

// path's directory ("." for a bare name, "/" at the top) and its last name (empty when path
// ends with a separator).
void SplitPath(const PathStr& path, PathStr* directory, PathStr* name) {
  int slash = path.length;
  while (slash > 0 && path.text[slash - 1] != '/') --slash;
  *name = PMake(path.text + slash, path.length - slash);
  if (slash == 0)
    *directory = PMake(".", 1);
  else
    *directory = PMake(path.text, slash > 1 ? slash - 1 : 1);
}

// Follows path while it names a symbolic link, as the system would: *st is then what path
// names itself (lstat), *exists false for a name not there yet (a new file, or the target of a
// dangling link). A link the system's protected-links rule would not follow is refused: in a
// sticky directory that all may write, one owned by neither the user running nor the
// directory's owner, which another user may have planted there.
bool Resolve(PathStr* path, struct stat* st, bool* exists, BStr* reason) {
  for (int hops = 0;; ++hops) {
    if (lstat(path->text, st) != 0) {
      if (errno != ENOENT) return Fail(reason, errno);
      *exists = false;
      return true;
    }
    *exists = true;
    if (!S_ISLNK(st->st_mode)) return true;
    if (hops == 40) return Fail(reason, ELOOP);
    PathStr directory, name;
    SplitPath(*path, &directory, &name);
    struct stat d;
    if (stat(directory.text, &d) == 0 && (d.st_mode & S_ISVTX) && (d.st_mode & S_IWOTH) &&
        st->st_uid != geteuid() && st->st_uid != d.st_uid) {
      *reason = BMake(
          "a link in a sticky directory, owned by neither you nor the directory's owner, is "
          "not followed");
      return false;
    }
    char target[PathCapacity + 1];
    ssize_t n = readlink(path->text, target, sizeof target);
    if (n < 0) return Fail(reason, errno);
    if (n == 0 || n >= (ssize_t)sizeof target) return Fail(reason, ENAMETOOLONG);
    PathStr next;
    if (target[0] == '/') {
      next = PMake(target, (int)n);
    } else {
      next = directory;
      if (next.text[next.length - 1] != '/') BAppendChar(next, '/');
      BAppend(next, target, (int)n);
      if (next.length != directory.length + (directory.text[directory.length - 1] != '/') + n)
        return Fail(reason, ENAMETOOLONG);
    }
    *path = next;
  }
}

// A FIFO, a device, anything else that is not a regular file: written straight into, as it is.
bool OpenStraight(SaveFile* save, BStr* reason) {
  int fd = open(save->path.text, O_WRONLY | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return Fail(reason, errno);
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
    close(fd);
    *reason = BMake("changed while it was opened");
    return false;
  }
  save->file = fdopen(fd, "wb");
  if (!save->file) {
    int error = errno;
    close(fd);
    return Fail(reason, error);
  }
  save->straight = true;
  return true;
}

// A short name of its own in the directory: ".qv-" and six letters or digits.
void TemporaryName(char* name, unsigned attempt) {
  static const char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  uint64_t x = (uint64_t)now.tv_nsec * 0x9E3779B97F4A7C15ull ^ (uint64_t)getpid() << 20 ^
               (uint64_t)now.tv_sec ^ (uint64_t)(attempt + 1) * 0xBF58476D1CE4E5B9ull;
  std::memcpy(name, ".qv-", 4);
  for (int i = 4; i < 10; ++i) {
    name[i] = Letters[x % 62];
    x /= 62;
  }
  name[10] = 0;
}

// A regular file or a new name: a temporary file beside it, of the given mode.
bool OpenTemporary(SaveFile* save, mode_t mode, BStr* reason) {
  PathStr directory;
  SplitPath(save->path, &directory, &TargetName);
  if (TargetName.length == 0) return Fail(reason, EISDIR);
#ifdef O_PATH
  int dir = open(directory.text, O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
  int dir = open(directory.text, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
  if (dir < 0) return Fail(reason, errno);
  sigset_t old;
  BlockEnding(&old);
  int fd = -1, error = EEXIST;
  for (unsigned attempt = 0; attempt < 100 && fd < 0 && error == EEXIST; ++attempt) {
    TemporaryName(SaveName, attempt);
    fd = openat(dir, SaveName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) error = errno;
  }
  if (fd >= 0) Guard(dir, SaveName);
  sigprocmask(SIG_SETMASK, &old, nullptr);
  if (fd < 0) {
    close(dir);
    SaveName[0] = 0;
    return Fail(reason, error);
  }
  SaveDirectory = dir;
  save->temporary = directory;
  BAppendChar(save->temporary, '/');
  BAppend(save->temporary, SaveName);
  fchmod(fd, mode);
  save->file = fdopen(fd, "wb");
  if (!save->file) {
    error = errno;
    close(fd);
    DiscardSaveFile(save);
    return Fail(reason, error);
  }
  static char buffer[1 << 16];
  setvbuf(save->file, buffer, _IOFBF, sizeof buffer);
  return true;
}

void CloseSaveDirectory() {
  if (SaveDirectory >= 0) close(SaveDirectory);
  SaveDirectory = -1;
  SaveName[0] = 0;
}
}  // namespace

FILE* OpenDumpForReading(const PathStr& path, BStr* reason) {
  if (path.length == 1 && path.text[0] == '-') return stdin;
  struct stat st;
  if (stat(path.text, &st) == 0 && S_ISDIR(st.st_mode)) {
    *reason = BMake("is a directory");
    return nullptr;
  }
  FILE* f = std::fopen(path.text, "rb");
  if (!f) SetReason(reason, errno);
  return f;
}

bool CreateSaveFile(const PathStr& given, SaveFile* save, BStr* reason) {
  save->path = given;
  save->file = nullptr;
  save->straight = false;
  BClear(save->temporary);
  // Past a file-size limit a write fails (EFBIG) and is said; the signal would end the run.
  signal(SIGXFSZ, SIG_IGN);
  if (given.length == 1 && given.text[0] == '-') {
    save->file = stdout;
    save->straight = true;
    return true;
  }
  PathStr path = given;
  struct stat st;
  bool exists = false;
  if (!Resolve(&path, &st, &exists, reason)) return false;
  save->path = path;
  if (exists && S_ISDIR(st.st_mode)) {
    *reason = BMake("is a directory");
    return false;
  }
  if (exists && !S_ISREG(st.st_mode)) return OpenStraight(save, reason);
  // The mode of the file replaced, when it is the user's own; set-id and sticky bits never.
  mode_t mask = umask(0);
  umask(mask);
  mode_t mode = exists && st.st_uid == geteuid() ? (st.st_mode & 0777) : (0666 & ~mask);
  return OpenTemporary(save, mode, reason);
}

PlatformError PlatformSyncSaveFile(FILE* file) {
  // A file its file system cannot sync (EINVAL) is no failure.
  return fsync(fileno(file)) != 0 && errno != EINVAL ? errno : 0;
}

PlatformError PlatformRenameOver(const SaveFile*) {
  return renameat(SaveDirectory, SaveName, SaveDirectory, TargetName.text) != 0 ? errno : 0;
}

void PlatformRemoveTemporary(const SaveFile*) {
  if (SaveName[0]) unlinkat(SaveDirectory, SaveName, 0);
}

void PlatformDisarmSaveFile() {
  Unguard();
  CloseSaveDirectory();
}

BStr PlatformWriteFaultReason(int error) {
  return SystemReason(error ? error : EIO);
}

BStr PlatformErrorReason(PlatformError error) {
  return SystemReason((int)error);
}

bool SeekFile(FILE* file, int64_t position) {
  return fseeko(file, (off_t)position, SEEK_SET) == 0;
}

bool StartDirectorySpace(const PathStr& path, int64_t* size, int64_t* held, uint64_t* device) {
  struct stat st;
  if (stat(path.text, &st) != 0) return false;
  *size = st.st_size;
  *held = (int64_t)st.st_blocks * 512;
  *device = (uint64_t)st.st_dev;
  return true;
}
