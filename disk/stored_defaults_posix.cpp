// POSIX stored defaults: the machine's in /etc/quorvel/DefaultParams, the user's in
// $XDG_CONFIG_HOME/quorvel/DefaultParams ($HOME/.config/quorvel/DefaultParams when
// XDG_CONFIG_HOME is unset or empty), the first line of each. Only code for POSIX systems goes
// in this file.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "disk/stored_defaults.h"

namespace {
// Creates each missing folder of path up to, not including, its last component.
void MakeFolders(const BStr& path) {
  BStr prefix;
  for (int i = 1; i < path.length; ++i) {
    if (path.text[i] != '/') continue;
    BSet(prefix, path.text, i);
    mkdir(prefix.text, 0700);
  }
}
}  // namespace

BStr StoredDefaultsFile(bool create) {
  std::string full;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] != 0) {
    full = config;
  } else {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != 0) full = std::string(home) + "/.config";
  }
  BStr path;
  BClear(path);
  // A path cut to fit would name some other file: then there is no stored string.
  if (full.empty()) return path;
  full += "/quorvel/DefaultParams";
  if (full.size() > (size_t)BStrCapacity) return path;
  BSet(path, full.c_str());
  if (create) {
    MakeFolders(path);
    int fd = open(path.text, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) close(fd);
  }
  return path;
}

const char MachineDefaultsFile[] = "/etc/quorvel/DefaultParams";

ParamStr ReadStoredFile(const char* path, bool* tooLong) {
  ParamStr text;
  BClear(text);
  *tooLong = false;
  // Non-blocking, so that a FIFO put in the file's place cannot stall the start; only a
  // regular file is read.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return text;
  struct stat info;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    // One byte past the room tells a first line that is too long from one that just fits.
    static char buffer[ParamCapacity + 1];
    int used = 0;
    while (used < (int)sizeof buffer) {
      ssize_t n = read(fd, buffer + used, sizeof buffer - used);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      used += (int)n;
    }
    text = StoredText(buffer, used, true, tooLong);
  }
  close(fd);
  return text;
}

ParamStr ReadStoredDefaults(StoredScope scope, bool* tooLong) {
  *tooLong = false;
  if (scope == MachineDefaults) return ReadStoredFile(MachineDefaultsFile, tooLong);
  BStr path = StoredDefaultsFile(false);
  if (path.length == 0) {
    ParamStr none;
    BClear(none);
    return none;
  }
  return ReadStoredFile(path.text, tooLong);
}
