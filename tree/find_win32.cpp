// Win32 enumeration with FindFirstFileA / FindNextFileA / FindClose on the pattern "*.*"; links
// to directories are listed as files. Only code for Windows goes in this file.
#include "console/windows_api.h"
#include "tree/find.h"

namespace {
HANDLE Search = INVALID_HANDLE_VALUE;  // the one open enumeration
WIN32_FIND_DATAA Data;                 // the current entry, shared by every level

void Fill(FindEntry* entry) {
  entry->name = Data.cFileName;
  entry->nameLength = (int)lstrlenA(Data.cFileName);
  // A directory symbolic link, junction or mount point is not entered: it counts as a file of
  // its listed size, as a link does on POSIX. Followed, a link to a parent would loop until the
  // path budget (exponentially with two of them) and one to another folder would count its data
  // twice.
  DWORD attributes = Data.dwFileAttributes;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    attributes &= ~(DWORD)FILE_ATTRIBUTE_DIRECTORY;
  entry->attributes = attributes;
  entry->size = ((int64_t)Data.nFileSizeHigh << 32) | (int64_t)Data.nFileSizeLow;
  entry->allocated = entry->size;
  entry->held = 0;
  entry->linked = false;
}

// Nothing is kept between the directories of a scan.
void Win32StartScan() {}

void Win32Close() {
  if (Search != INVALID_HANDLE_VALUE) FindClose(Search);
  Search = INVALID_HANDLE_VALUE;
}

FindResult Win32First(const PathStr& directory, FindEntry* entry) {
  Win32Close();
  PathStr pattern = directory;
  BAppend(pattern, "*.*");
  Search = FindFirstFileA(pattern.text, &Data);
  if (Search == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_PATH_NOT_FOUND) return FindPathNotFound;
    // Nothing matched the pattern: the folder was read and is empty (a drive root lists no
    // "." or ".."), which is no failure to read it.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) return FindNoEntries;
    // Access denied, a sharing or network failure, a name Windows cannot open (Wine gives
    // ERROR_INVALID_NAME for a file given as the folder): the folder could not be read.
    return FindFailed;
  }
  Fill(entry);
  return FindFound;
}

bool Win32Next(FindEntry* entry) {
  if (Search == INVALID_HANDLE_VALUE || !FindNextFileA(Search, &Data)) return false;
  Fill(entry);
  return true;
}

// Nothing is held beyond the one open enumeration.
bool Win32ReleaseMemory() { return false; }

const FileSystemOps Win32Ops = {Win32StartScan, Win32First,     Win32Next,
                                Win32Close,     Win32StartScan, Win32ReleaseMemory};
}  // namespace

const FileSystemOps* PlatformFileSystem() { return &Win32Ops; }
const FileSystemOps* ScanFileSystem = PlatformFileSystem();
