// POSIX files of saved scans: reading a dump, and the temporary file a dump is written to,
// renamed over its name when whole and removed by the ending signals meanwhile. Only code for
// POSIX systems goes in this file.
#include <errno.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "tree/dump_file.h"

namespace {
// The temporary file the ending signals remove; empty when there is none. Written only while
// those signals are blocked.
char PendingTemporary[PathCapacity + 16] = {0};
const int EndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int EndingCount = sizeof EndingSignals / sizeof EndingSignals[0];
struct sigaction Previous[EndingCount];  // the handlers found, run after the removal
bool Installed[EndingCount] = {};

void SetReason(BStr* reason, int error) {
  *reason = BMake(std::strerror(error));
}

// An ending signal while a dump is being written: the temporary file goes, then whatever the
// program did with the signal before (put the terminal back and end) is done.
void OnEndingSignal(int sig) {
  int savedErrno = errno;
  if (PendingTemporary[0]) unlink(PendingTemporary);
  PendingTemporary[0] = 0;
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

void Guard(const PathStr& temporary) {
  sigset_t old;
  BlockEnding(&old);
  std::memcpy(PendingTemporary, temporary.text, (size_t)temporary.length + 1);
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
  sigprocmask(SIG_SETMASK, &old, nullptr);
}

void Unguard() {
  sigset_t old;
  BlockEnding(&old);
  PendingTemporary[0] = 0;
  for (int i = 0; i < EndingCount; ++i) {
    if (Installed[i]) sigaction(EndingSignals[i], &Previous[i], nullptr);
    Installed[i] = false;
  }
  sigprocmask(SIG_SETMASK, &old, nullptr);
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

void CloseDump(FILE* file) {
  if (file && file != stdin) std::fclose(file);
}

bool CreateSaveFile(const PathStr& path, SaveFile* save, BStr* reason) {
  save->path = path;
  save->file = nullptr;
  BClear(save->temporary);
  struct stat st;
  bool exists = stat(path.text, &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    *reason = BMake("is a directory");
    return false;
  }
  PathStr name = path;
  BAppend(name, ".tmp-XXXXXX");
  if (name.length != path.length + 11) {
    SetReason(reason, ENAMETOOLONG);
    return false;
  }
  int fd = mkstemp(name.text);
  if (fd < 0) {
    SetReason(reason, errno);
    return false;
  }
  // The dump gets the mode the file it replaces had, or that of a new file.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, exists ? (st.st_mode & 07777) : (0666 & ~mask));
  save->temporary = name;
  Guard(name);
  save->file = fdopen(fd, "wb");
  if (!save->file) {
    int error = errno;
    close(fd);
    DiscardSaveFile(save);
    SetReason(reason, error);
    return false;
  }
  static char buffer[1 << 16];
  setvbuf(save->file, buffer, _IOFBF, sizeof buffer);
  return true;
}

bool CommitSaveFile(SaveFile* save, BStr* reason) {
  if (!save->file) return false;
  int error = 0;
  if (std::fflush(save->file) != 0 || std::ferror(save->file)) error = errno ? errno : EIO;
  if (!error && fsync(fileno(save->file)) != 0 && errno != EINVAL) error = errno;
  if (std::fclose(save->file) != 0 && !error) error = errno ? errno : EIO;
  save->file = nullptr;
  if (!error && rename(save->temporary.text, save->path.text) != 0) error = errno;
  if (error) {
    DiscardSaveFile(save);
    SetReason(reason, error);
    return false;
  }
  BClear(save->temporary);
  Unguard();
  return true;
}

void DiscardSaveFile(SaveFile* save) {
  if (save->file) std::fclose(save->file);
  save->file = nullptr;
  if (save->temporary.length > 0) unlink(save->temporary.text);
  BClear(save->temporary);
  Unguard();
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
