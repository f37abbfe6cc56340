// Files of saved scans, what is the same on both builds: closing a dump that was read and the C
// library's words for an error.
#include "tree/dump_file.h"

#include <cstring>

BStr SystemReason(int error) {
  return BMake(std::strerror(error));
}

void CloseDump(FILE* file) {
  if (file && file != stdin) std::fclose(file);
}
