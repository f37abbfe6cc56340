// POSIX path expansion against the process's current directory. Only code for POSIX systems
// goes in this file.
#include <unistd.h>

#include "tree/expand_path.h"

BStr ExpandPath(const BStr& argument) {
  char buffer[4096];
  BStr current = BMake("/");
  if (getcwd(buffer, sizeof buffer)) BSet(current, buffer);
  return ExpandPosixPath(argument, current);
}
