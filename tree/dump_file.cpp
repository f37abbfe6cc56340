// Files of saved scans, what is the same on both builds: closing a dump that was read, the C
// library's words for an error, a dump's commit (write what is pending, sync, close, rename
// over its name) and its discard (close, remove the temporary file, disarm the interrupt
// guard). The sync, the rename, the removal, the guard and the system's words for a failed
// call are the platform's (tree/dump_file_platform.h).
#include "tree/dump_file.h"

#include <cerrno>
#include <cstring>

BStr SystemReason(int error) {
  return BMake(std::strerror(error));
}

void CloseDump(FILE* file) {
  if (file && file != stdin) std::fclose(file);
}

bool CommitSaveFile(SaveFile* save, BStr* reason) {
  if (!save->file) return false;
  // The first step that fails gives the reason, and the sync and the rename are not made after
  // it; the file is closed whatever failed (standard output is only flushed).
  bool failed = false;
  bool ofWrite = false;     // a write or close of the C library failed, not the platform's call
  int writeError = 0;       // that write's or close's errno (0 when it set none)
  PlatformError error = 0;  // the platform's code for a failed sync or rename
  errno = 0;
  if (std::fflush(save->file) != 0 || std::ferror(save->file)) {
    failed = ofWrite = true;
    writeError = errno;
  }
  if (save->straight) {
    if (save->file != stdout && std::fclose(save->file) != 0 && !failed) {
      failed = ofWrite = true;
      writeError = errno;
    }
    save->file = nullptr;
  } else {
    if (!failed) failed = (error = PlatformSyncSaveFile(save->file)) != 0;
    if (std::fclose(save->file) != 0 && !failed) {
      failed = ofWrite = true;
      writeError = errno;
    }
    save->file = nullptr;
    if (!failed) failed = (error = PlatformRenameOver(save)) != 0;
  }
  if (failed) {
    DiscardSaveFile(save);
    *reason = ofWrite ? PlatformWriteFaultReason(writeError) : PlatformErrorReason(error);
    return false;
  }
  BClear(save->temporary);
  PlatformDisarmSaveFile();
  return true;
}

void DiscardSaveFile(SaveFile* save) {
  if (save->file && save->file != stdout) std::fclose(save->file);
  if (save->file == stdout) std::fflush(stdout);
  save->file = nullptr;
  if (!save->straight && save->temporary.length > 0) PlatformRemoveTemporary(save);
  BClear(save->temporary);
  PlatformDisarmSaveFile();
}
