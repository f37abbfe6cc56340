// POSIX shell launch: xdg-open started in the background, detached from this program. Only
// code for POSIX systems goes in this file.
#include <errno.h>
#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "mailer/shell_open.h"

namespace {
// Result values in the shell's convention: above 32 is success.
constexpr intptr_t Started = 42;
constexpr intptr_t NotFound = 2;  // no xdg-open to start
constexpr intptr_t Failed = 31;   // any other failure to start it

// Runs in the detached grandchild: its own session, standard streams on /dev/null so that a
// terminal or a pipe of ours is never held open, then xdg-open. On failure the errno goes back
// through the error pipe.
[[noreturn]] void StartOpener(const char* file, const char* directory, int errorPipe) {
  setsid();
  int null = open("/dev/null", O_RDWR);
  if (null >= 0) {
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    if (null > 2) close(null);
  }
  if (directory[0] != 0 && chdir(directory) != 0) {
    int e = errno;
    (void)!write(errorPipe, &e, sizeof e);
    _exit(127);
  }
  char program[] = "xdg-open";
  char* argv[] = {program, const_cast<char*>(file), nullptr};
  execvp(program, argv);
  int e = errno;
  (void)!write(errorPipe, &e, sizeof e);
  _exit(127);
}
}  // namespace

// xdg-open takes the target alone, so parameters are not passed on; the show command has no
// meaning here.
intptr_t ShellOpen(const BStr& file, const BStr& parameters, const BStr& directory,
                   int32_t showCommand) {
  // Both texts are zero-terminated within their 256 bytes already; the children read them
  // from their copy of this memory.
  const char* fileText = file.text;
  const char* directoryText = directory.text;

  // The pipe closes on a successful exec; a failed one writes its errno first.
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) return Failed;
  pid_t child = fork();
  if (child < 0) {
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    return Failed;
  }
  if (child == 0) {
    // The middle process ends at once, so the opener is nobody's child here and never
    // lingers as a zombie of a program that keeps running.
    close(pipeEnds[0]);
    pid_t grandchild = fork();
    if (grandchild == 0) StartOpener(fileText, directoryText, pipeEnds[1]);
    if (grandchild < 0) {
      int e = errno;
      (void)!write(pipeEnds[1], &e, sizeof e);
    }
    _exit(0);
  }
  close(pipeEnds[1]);
  int status;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int startError = 0;
  ssize_t n;
  do {
    n = read(pipeEnds[0], &startError, sizeof startError);
  } while (n < 0 && errno == EINTR);
  close(pipeEnds[0]);
  if (n <= 0) return Started;
  return startError == ENOENT ? NotFound : Failed;
}
