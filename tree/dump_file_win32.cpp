// Windows files of saved scans: reading a dump, and where a dump is written: a temporary file
// in the same folder, removed when the console ends the program meanwhile, or the device or
// pipe itself; and the platform pieces of its commit and discard (tree/dump_file.cpp): the
// flush to the disk, the move over its name, the removal and the guard's disarming. Only code
// for Windows goes in this file.
#include <fcntl.h>
#include <io.h>

#include <cstring>

#include "console/windows_api.h"
#include "tree/dump_file.h"

namespace {
// The temporary file the console's end removes; empty when there is none.
char PendingTemporary[PathCapacity + 32] = {0};
bool HandlerInstalled = false;

void SetReason(BStr* reason, DWORD error) {
  char message[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           error, 0, message, sizeof message, nullptr);
  while (n > 0 && (message[n - 1] == '\r' || message[n - 1] == '\n' || message[n - 1] == '.')) --n;
  if (n == 0) n = (DWORD)wsprintfA(message, "system error %lu", error);
  BSet(*reason, message, (int)n);
}

// Ctrl+C, Ctrl+Break, the console closing: the temporary file is marked for removal (it was
// opened so that it may be, and goes when the program's handle closes at its end); then the
// next handler, the default one at last, ends the program as before.
BOOL WINAPI OnConsoleEnd(DWORD) {
  if (PendingTemporary[0]) DeleteFileA(PendingTemporary);
  return FALSE;
}

void Guard(const PathStr& temporary) {
  std::memcpy(PendingTemporary, temporary.text, (size_t)temporary.length + 1);
  if (!HandlerInstalled) HandlerInstalled = SetConsoleCtrlHandler(OnConsoleEnd, TRUE) != 0;
}

void Unguard() {
  PendingTemporary[0] = 0;
  if (HandlerInstalled) SetConsoleCtrlHandler(OnConsoleEnd, FALSE);
  HandlerInstalled = false;
}
}  // namespace

FILE* OpenDumpForReading(const PathStr& path, BStr* reason) {
  if (path.length == 1 && path.text[0] == '-') {
    _setmode(_fileno(stdin), _O_BINARY);
    return stdin;
  }
  DWORD attributes = GetFileAttributesA(path.text);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *reason = BMake("is a directory");
    return nullptr;
  }
  HANDLE h = CreateFileA(path.text, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    SetReason(reason, GetLastError());
    return nullptr;
  }
  int fd = _open_osfhandle((intptr_t)h, _O_RDONLY | _O_BINARY);
  FILE* f = fd >= 0 ? _fdopen(fd, "rb") : nullptr;
  if (!f) {
    if (fd >= 0)
      _close(fd);
    else
      CloseHandle(h);
    *reason = BMake("cannot be opened");
  }
  return f;
}

namespace {
// A device or a pipe the name opens (NUL, CON, \\.\pipe\...): written straight into, as it
// is. False, with nothing open, for a file on a disk or a name that opens nothing.
bool OpenStraight(SaveFile* save) {
  HANDLE h = CreateFileA(save->path.text, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD type = GetFileType(h);
  if (type != FILE_TYPE_CHAR && type != FILE_TYPE_PIPE) {
    CloseHandle(h);
    return false;
  }
  int fd = _open_osfhandle((intptr_t)h, _O_WRONLY | _O_BINARY);
  save->file = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
  if (!save->file) {
    if (fd >= 0)
      _close(fd);
    else
      CloseHandle(h);
    return false;
  }
  save->straight = true;
  return true;
}
}  // namespace

bool CreateSaveFile(const PathStr& path, SaveFile* save, BStr* reason) {
  save->path = path;
  save->file = nullptr;
  save->straight = false;
  BClear(save->temporary);
  if (path.length == 1 && path.text[0] == '-') {
    _setmode(_fileno(stdout), _O_BINARY);
    save->file = stdout;
    save->straight = true;
    return true;
  }
  DWORD attributes = GetFileAttributesA(path.text);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *reason = BMake("is a directory");
    return false;
  }
  if (OpenStraight(save)) return true;
  // The temporary file is a short name of its own in the same folder, so that any name the
  // file system takes for the dump works.
  int folder = path.length;
  while (folder > 0 && path.text[folder - 1] != '\\' && path.text[folder - 1] != '/' &&
         !(folder == 2 && path.text[1] == ':'))
    --folder;
  HANDLE h = INVALID_HANDLE_VALUE;
  PathStr name;
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
    char suffix[16];
    wsprintfA(suffix, ".qv-%06lx",
              (GetCurrentProcessId() * 2654435761u + GetTickCount() + attempt * 40503u) & 0xFFFFFF);
    name = PMake(path.text, folder);
    BAppend(name, suffix);
    if (name.length != folder + (int)std::strlen(suffix)) {
      error = ERROR_FILENAME_EXCED_RANGE;
      break;
    }
    // Shared for deletion: the console's end can remove it while it is open.
    h = CreateFileA(name.text, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  if (h == INVALID_HANDLE_VALUE) {
    SetReason(reason, error);
    return false;
  }
  save->temporary = name;
  Guard(name);
  int fd = _open_osfhandle((intptr_t)h, _O_WRONLY | _O_BINARY);
  save->file = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
  if (!save->file) {
    if (fd >= 0)
      _close(fd);
    else
      CloseHandle(h);
    DiscardSaveFile(save);
    *reason = BMake("cannot be opened");
    return false;
  }
  static char buffer[1 << 16];
  setvbuf(save->file, buffer, _IOFBF, sizeof buffer);
  return true;
}

PlatformError PlatformSyncSaveFile(FILE* file) {
  return FlushFileBuffers((HANDLE)_get_osfhandle(_fileno(file))) ? 0 : GetLastError();
}

PlatformError PlatformRenameOver(const SaveFile* save) {
  return MoveFileExA(save->temporary.text, save->path.text,
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : GetLastError();
}

void PlatformRemoveTemporary(const SaveFile* save) {
  DeleteFileA(save->temporary.text);
}

void PlatformDisarmSaveFile() {
  Unguard();
}

// A failed write of the C runtime says the runtime's reason where it gave one, else the
// system's for a write fault.
BStr PlatformWriteFaultReason(int error) {
  if (error) return SystemReason(error);
  BStr reason;
  SetReason(&reason, ERROR_WRITE_FAULT);
  return reason;
}

BStr PlatformErrorReason(PlatformError error) {
  BStr reason;
  SetReason(&reason, error);
  return reason;
}

bool SeekFile(FILE* file, int64_t position) {
  return _fseeki64(file, (__int64)position, SEEK_SET) == 0;
}

bool StartDirectorySpace(const PathStr&, int64_t*, int64_t*, uint64_t*) {
  return false;
}
