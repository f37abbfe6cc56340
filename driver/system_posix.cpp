// POSIX process facts: the QUORVEL variable, /proc/self/exe, the stored-defaults file as the
// configuration target, and the user's editor and pager run in the terminal. Only code for POSIX
// systems goes in this file.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "disk/stored_defaults.h"
#include "driver/system.h"

const bool ArgumentQuotesAreStray = false;  // a name may hold a double quote

// Each closed one takes the lowest free number, its own, as the lower ones are open by then.
void OpenStandardDescriptors() {
  for (int fd = 0; fd < 3; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int opened = open("/dev/null", O_RDONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

bool ReadParameterVariable(ParamStr* value, bool* tooLong) {
  *tooLong = false;
  const char* text = std::getenv("QUORVEL");
  if (text == nullptr) return false;
  size_t n = std::strlen(text);
  *tooLong = n > (size_t)ParamCapacity;
  if (n == 0 || *tooLong) return false;
  BSet(*value, text, (int)n);
  return true;
}

bool DirectoryExists(const PathStr& path) {
  struct stat info;
  return stat(path.text, &info) == 0 && S_ISDIR(info.st_mode);
}

BStr OwnDirectory() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  BStr dir;
  BClear(dir);
  if (n <= 0 || n >= (ssize_t)sizeof path) return dir;
  int end = (int)n;
  while (end > 0 && path[end - 1] != '/') --end;
  BSet(dir, path, end);
  return dir;
}

BStr ConfigTarget() {
  return StoredDefaultsFile(true);
}

extern char** environ;

namespace {
// Runs argv in the foreground of the terminal and waits for it to end. False when it could not
// be started; with viaShell, also when the shell found no such command (status 127) or could
// not run it (126). Ctrl+C and Ctrl+\ reach the whole foreground group and are meant for the
// program started, so this one ignores them until it ends, while the program gets their
// default action (unless this one was itself started with them ignored).
bool RunAndWait(char* const argv[], bool viaShell) {
  const int passed[] = {SIGINT, SIGQUIT};
  struct sigaction ignore, saved[2];
  std::memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigset_t defaults, none;
  sigemptyset(&defaults);
  sigemptyset(&none);
  for (int i = 0; i < 2; ++i) {
    sigaction(passed[i], &ignore, &saved[i]);
    if (saved[i].sa_handler != SIG_IGN) sigaddset(&defaults, passed[i]);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t child;
  bool ran = posix_spawnp(&child, argv[0], nullptr, &attributes, argv, environ) == 0;
  posix_spawnattr_destroy(&attributes);
  if (ran) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (viaShell && WIFEXITED(status) && (WEXITSTATUS(status) == 126 || WEXITSTATUS(status) == 127))
      ran = false;
  }
  for (int i = 0; i < 2; ++i) sigaction(passed[i], &saved[i], nullptr);
  return ran;
}

// The command in a variable, with its arguments, given to the shell as users write it
// (EDITOR="code --wait"), with the target as one more argument that is never re-split.
bool RunVariable(const char* name, const char* target) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] == 0) return false;
  std::string script = std::string(value) + " \"$@\"";
  char shell[] = "/bin/sh", command[] = "-c";
  char* argv[] = {shell,  command, &script[0], const_cast<char*>(value), const_cast<char*>(target),
                  nullptr};
  return RunAndWait(argv, true);
}

bool RunProgram(const char* program, const char* target) {
  char* argv[] = {const_cast<char*>(program), const_cast<char*>(target), nullptr};
  return RunAndWait(argv, false);
}
}  // namespace

bool OpenInTerminal(LaunchKind kind, const BStr& target) {
  if (kind == LaunchToShell || !isatty(0) || !isatty(1)) return false;
  const char* file = target.text;  // zero-terminated within its 256 bytes
  if (kind == LaunchToEdit)
    return RunVariable("VISUAL", file) || RunVariable("EDITOR", file) ||
           RunProgram("editor", file) || RunProgram("vi", file);
  return RunVariable("PAGER", file) || RunProgram("less", file) || RunProgram("more", file);
}
