// Win32 enumeration of a directory by its wide "\\?\" path: the directory is opened with
// CreateFileW and read in batches of GetFileInformationByHandleEx(FileIdBothDirectoryInfo), which
// give each entry's length, its allocation and its file id with no open per file; FindFirstFileW
// reads where that class is refused. File-system redirection of a 32-bit program on 64-bit
// Windows is off while a scan runs. Links to directories are listed as files. Only code for
// Windows goes in this file.
//
// When worker threads read ahead (tree/readahead_win32), a folder's batches come from them, and
// the rest of its listing is read here where they stopped; the entries are handed out the same.
#include "console/windows_api.h"
#include "tree/find.h"
#include "tree/ntfs_listing.h"
#include "tree/readahead_win32.h"

namespace {
typedef BOOL(WINAPI* InformationByHandle)(HANDLE, int, LPVOID, DWORD);
typedef BOOL(WINAPI* RedirectionOff)(PVOID*);
typedef BOOL(WINAPI* RedirectionBack)(PVOID);
constexpr int FileIdBothDirectoryInfo = 10;  // the information class of the batches

// Bound at the first scan from kernel32: absent before Vista, and the redirection calls on
// 32-bit Windows, which has none.
bool Bound = false;
InformationByHandle ReadBatch = nullptr;
RedirectionOff DisableRedirection = nullptr;
RedirectionBack RevertRedirection = nullptr;

bool RedirectionIsOff = false;  // the scan turned it off; OldRedirection puts it back
PVOID OldRedirection = nullptr;
UINT CodePage = CP_ACP;  // of the file functions' names: the program's (UTF-8) or OEM

HANDLE Directory = INVALID_HANDLE_VALUE;  // the directory read in batches
HANDLE Search = INVALID_HANDLE_VALUE;     // or the FindFirstFileW search reading it instead
// The one batch: at most one enumeration is open. 64 KB is the most a network share returns.
alignas(8) unsigned char Batch[64 * 1024];
NtfsBatch Walk;
WIN32_FIND_DATAW Found;  // the entry of the FindFirstFileW search
char Name[1024];         // the entry's name in CodePage: 255 UTF-16 units take at most 765 bytes
// The directory's long path, then "*" for FindFirstFileW; each byte is at most one unit.
WCHAR WidePath[LongPathCapacity + 2];
DWORD LastError = 0;  // the system's error code of the last open or read that failed

void Bind() {
  if (Bound) return;
  Bound = true;
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (!kernel) return;
  ReadBatch = (InformationByHandle)(void*)GetProcAddress(kernel, "GetFileInformationByHandleEx");
  DisableRedirection =
      (RedirectionOff)(void*)GetProcAddress(kernel, "Wow64DisableWow64FsRedirection");
  RevertRedirection =
      (RedirectionBack)(void*)GetProcAddress(kernel, "Wow64RevertWow64FsRedirection");
}

int ToName(const WCHAR* name, int units) {
  int n = WideCharToMultiByte(CodePage, 0, name, units, Name, sizeof Name - 1, nullptr, nullptr);
  Name[n > 0 ? n : 0] = 0;
  return n > 0 ? n : 0;
}

void FillFromRecord(const ListingRecord& r, FindEntry* entry) {
  EntryFromRecord(r, entry);
  entry->nameLength = ToName((const WCHAR*)r.name, r.nameUnits);
  entry->name = Name;
}

// The search gives no allocation and no file id: each name counts at its length.
void FillFromSearch(FindEntry* entry) {
  entry->nameLength = ToName(Found.cFileName, lstrlenW(Found.cFileName));
  entry->name = Name;
  entry->attributes = ListedAttributes(Found.dwFileAttributes);
  entry->size = ((int64_t)Found.nFileSizeHigh << 32) | (int64_t)Found.nFileSizeLow;
  entry->allocated = entry->size;
  entry->held = 0;
  entry->linked = false;
  entry->links = 0;
  entry->notRegular = (Found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool NextBatch() {
  const void* readAhead = nullptr;
  int length = 0;
  DWORD error = 0;
  switch (ReadAheadNextBatch(&Directory, &readAhead, &length, &error)) {
    case BatchReadAhead:
      StartBatch(&Walk, readAhead, length);
      return true;
    case BatchesEnded:
      SetLastError(error);
      return false;
    case BatchInLine:
      break;
  }
  if (!ReadBatch(Directory, FileIdBothDirectoryInfo, Batch, sizeof Batch)) return false;
  StartBatch(&Walk, Batch, sizeof Batch);
  return true;
}

// A listing's end, as every way of reading one says it: anything else that stops a read is a
// failure before the end.
bool AtEnd(DWORD error) {
  return error == ERROR_NO_MORE_FILES;
}

// The errors by which a volume refuses the information class (some network shares and file
// systems): the directory is read by FindFirstFileW instead.
bool ClassRefused(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_FUNCTION ||
         error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_LEVEL ||
         error == ERROR_CALL_NOT_IMPLEMENTED;
}

bool Empty(DWORD error) {
  return error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND;
}

void Win32Close() {
  if (Directory != INVALID_HANDLE_VALUE) CloseHandle(Directory);
  if (Search != INVALID_HANDLE_VALUE) FindClose(Search);
  Directory = INVALID_HANDLE_VALUE;
  Search = INVALID_HANDLE_VALUE;
  ReadAheadClose();
}

// The redirection is put back before anything else may run: a launch of a 32-bit program in
// the real System32 would fail.
void Win32EndScan() {
  Win32Close();
  StopReadAhead();
  if (RedirectionIsOff) RevertRedirection(OldRedirection);
  RedirectionIsOff = false;
}

// A 32-bit program on 64-bit Windows sees SysWOW64 under the name System32 while redirection is
// on: a report of C:\Windows would count SysWOW64 twice and never the real System32.
void Win32StartScan(const ScanRules& rules) {
  Win32EndScan();
  ReadAheadScanBegins(rules);
  Bind();
  CodePage = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
  if (DisableRedirection && RevertRedirection)
    RedirectionIsOff = DisableRedirection(&OldRedirection) != 0;
}

FindResult Win32First(const PathStr& directory, FindEntry* entry) {
  Win32Close();
  FindResult taken = FindFound;
  if (ReadAheadTake(directory, &taken, &LastError)) {
    ListingRecord record;
    if (taken != FindFound) return taken;
    if (NextBatch() && NextRecord(&Walk, &record)) {
      FillFromRecord(record, entry);
      return FindFound;
    }
    LastError = GetLastError();
    return FindFailed;
  }
  LongPathStr path = LongDirectoryForm(directory);
  int units = MultiByteToWideChar(CodePage, 0, path.text, path.length, WidePath,
                                  (int)(sizeof WidePath / sizeof WidePath[0]) - 2);
  if (units <= 0) {
    LastError = GetLastError();
    return FindFailed;
  }
  WidePath[units] = 0;
  Directory = OpenListingHandle(WidePath, BelowStartDirectory(directory), &LastError);
  if (Directory == INVALID_HANDLE_VALUE && NoHandleLeft(LastError) && ReadingAhead()) {
    // The workers' handles are given back before the folder counts as unreadable.
    StopReadAhead();
    Directory = OpenListingHandle(WidePath, BelowStartDirectory(directory), &LastError);
  }
  if (Directory == INVALID_HANDLE_VALUE) {
    DWORD error = LastError;
    // The directory itself (2) or a folder above it (3) does not exist.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FindPathNotFound;
    // Access denied, a sharing or network failure, a name Windows cannot open (Wine gives
    // ERROR_INVALID_NAME for a file given as the folder): the folder could not be read.
    return FindFailed;
  }
  if (ReadBatch) {
    ListingRecord record;
    if (NextBatch() && NextRecord(&Walk, &record)) {
      FillFromRecord(record, entry);
      return FindFound;
    }
    DWORD error = LastError = GetLastError();
    // A drive root with nothing on it lists no "." or "..": read, and empty.
    if (Empty(error)) return FindNoEntries;
    if (!ClassRefused(error)) return FindFailed;
  }
  Win32Close();
  WidePath[units] = L'*';
  WidePath[units + 1] = 0;
  Search = FindFirstFileW(WidePath, &Found);
  if (Search == INVALID_HANDLE_VALUE) {
    DWORD error = LastError = GetLastError();
    if (error == ERROR_PATH_NOT_FOUND) return FindPathNotFound;
    return Empty(error) ? FindNoEntries : FindFailed;
  }
  FillFromSearch(entry);
  return FindFound;
}

// The next entry. A batch that came back empty is read past; the listing ends only where the
// system says there are no more files.
NextResult Win32Next(FindEntry* entry) {
  if (Directory != INVALID_HANDLE_VALUE || ReadAheadListing()) {
    ListingRecord record;
    while (!NextRecord(&Walk, &record)) {
      if (!NextBatch()) {
        LastError = GetLastError();
        return AtEnd(LastError) ? NextEnd : NextFailed;
      }
    }
    FillFromRecord(record, entry);
    return NextFound;
  }
  if (Search == INVALID_HANDLE_VALUE) return NextEnd;
  if (!FindNextFileW(Search, &Found)) {
    LastError = GetLastError();
    return AtEnd(LastError) ? NextEnd : NextFailed;
  }
  FillFromSearch(entry);
  return NextFound;
}

// What the workers hold is given back.
bool Win32ReleaseMemory() {
  if (!ReadingAhead()) return false;
  StopReadAhead();
  return true;
}

// The read-ahead sees every entry handed out, and the listing's first and end: it starts the
// workers at the start directory and gathers what the scan's thread reads for them.
FindResult Win32FirstHanded(const PathStr& directory, FindEntry* entry) {
  FindResult result = Win32First(directory, entry);
  if (result == FindFound) {
    ReadAheadListingOpened(directory, Search == INVALID_HANDLE_VALUE, CodePage);
    ReadAheadEntryHanded(*entry);
  }
  return result;
}

NextResult Win32NextHanded(FindEntry* entry) {
  NextResult result = Win32Next(entry);
  if (result == NextFound)
    ReadAheadEntryHanded(*entry);
  else
    ReadAheadListingEnded();
  return result;
}

void Win32FailureText(BStr* text) {
  ErrorText(LastError, text);
}

const FileSystemOps Win32Ops = {Win32StartScan, Win32FirstHanded,   Win32NextHanded, Win32Close,
                                Win32EndScan,   Win32ReleaseMemory, Win32FailureText};
}  // namespace

const FileSystemOps* PlatformFileSystem() {
  return &Win32Ops;
}
const FileSystemOps* ScanFileSystem = PlatformFileSystem();
