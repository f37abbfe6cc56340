// POSIX path expansion against the process's current directory. Only code for POSIX systems
// goes in this file.
#include <unistd.h>

#include <cstdlib>

#include "tree/expand_path.h"

PathStr ExpandPath(const PathStr& argument, bool* tooLong) {
  if (tooLong) *tooLong = false;
  char buffer[PathCapacity + 1];
  if (getcwd(buffer, sizeof buffer)) return ExpandPosixPath(argument, PMake(buffer), tooLong);
  // The current directory has no name any more (removed) or a name too long to read. The
  // shell's record of it names what the user is standing in, so a removed directory is then
  // reported as not found; without one, the argument stays relative and names the right
  // directory still. Never fall back to "/": that would report a different tree.
  const char* shell = std::getenv("PWD");
  if (shell && shell[0] == '/') return ExpandPosixPath(argument, PMake(shell), tooLong);
  if (argument.length == 0) return PMake(".");
  return argument;
}
