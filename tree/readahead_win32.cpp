// Worker threads that read folders ahead of the scan on Windows, and the hooks by which the
// Windows enumeration takes what they read: what the protocol of tree/readahead.cpp asks of the
// platform. A worker opens a folder as the scan's thread would and reads its
// FileIdBothDirectoryInfo batches, which carry every entry's length, allocation and file id, so
// nothing is measured afterwards; the scan's thread walks the batches it is handed as it walks
// those it reads itself, in the scan's order, so that the first name of a file met decides where
// it is charged, as in line. Only code for Windows goes in this file.
#include "tree/readahead_win32.h"

#include <process.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "tree/ntfs_listing.h"
#include "tree/readahead.h"

namespace {
typedef BOOL(WINAPI* InformationByHandle)(HANDLE, int, LPVOID, DWORD);
typedef BOOL(WINAPI* RedirectionOff)(PVOID*);
constexpr int FileIdBothDirectoryInfo = 10;

// Workers when QUORVEL_THREADS does not say, as on POSIX.
constexpr int DefaultThreads = 8;
// What one read asks for: the most a network share returns, as the scan's thread reads.
constexpr int BatchBytes = 64 * 1024;
// The records of a kept batch begin this far into it, 8-aligned as the system writes them.
constexpr size_t RecordsAt = (sizeof(ReadAheadBatch) + 7) & ~(size_t)7;
constexpr size_t LargestBatch = RecordsAt + BatchBytes;
// Each worker's stack, reserved (not committed): it calls only the system and small routines of
// its own, with a wide path of 8 KB on it at most.
constexpr unsigned WorkerStack = 256 * 1024;
// Where a record's byte count of its name lies before the name (FILE_ID_BOTH_DIR_INFO: the count
// at 60, the name at 104).
constexpr int NameBytesBeforeName = 44;

InformationByHandle ReadInformation = nullptr;  // bound when the workers start
RedirectionOff DisableRedirection = nullptr;

// The start directory of this scan, as the scan names it: every folder below it is its path
// and then the part the read-ahead keys it by.
PathStr StartPath;
bool RootKnown = false;    // the scan's first folder has been asked for
bool RootOpening = false;  // that folder is the one being opened
UINT CodePage = CP_ACP;    // of the names, as the scan's thread converts them
ScanRules Rules;           // of the scan under way

std::vector<HANDLE> Workers;  // started and joined by the scan's thread only

// What each worker keeps for itself: the records of its last read, and a spare batch of the
// largest size for a read that finds no memory for its copy.
struct WorkerSpace {
  alignas(8) unsigned char records[BatchBytes];
  long bytes;
  ReadAheadBatch* spare;
};

unsigned char* Records(const ReadAheadBatch* b) {
  return (unsigned char*)b + RecordsAt;
}

// The protocol keeps a listing's handle as an int: a kernel handle is a 32-bit value on every
// Windows (64-bit Windows keeps them so for 32-bit programs), sign-extended back; none is -1.
int HandleToFd(HANDLE h) {
  return (int)(intptr_t)h;
}
HANDLE FdToHandle(int fd) {
  return (HANDLE)(intptr_t)fd;
}

FindResult OpenByPath(const PathStr& directory, bool belowStart, HANDLE* handle, DWORD* error) {
  LongPathStr path = LongDirectoryForm(directory);
  WCHAR wide[LongPathCapacity + 2];
  int units = MultiByteToWideChar(CodePage, 0, path.text, path.length, wide,
                                  (int)(sizeof wide / sizeof wide[0]) - 2);
  if (units <= 0) {
    *error = GetLastError();
    return FindFailed;
  }
  wide[units] = 0;
  *handle = OpenListingHandle(wide, belowStart, error);
  if (*handle != INVALID_HANDLE_VALUE) return FindFound;
  // The folder itself (2) or a folder above it (3) does not exist; anything else is a folder
  // that could not be read.
  return *error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND ? FindPathNotFound
                                                                          : FindFailed;
}

FindResult OpenListing(const char* rel, int* fd, bool* noDescriptor, int* error) {
  *noDescriptor = false;
  *error = 0;
  PathStr directory = StartPath;
  BAppend(directory, rel);
  HANDLE h = INVALID_HANDLE_VALUE;
  DWORD e = 0;
  FindResult result = OpenByPath(directory, true, &h, &e);
  *error = (int)e;
  if (result == FindFound) {
    *fd = HandleToFd(h);
  } else if (NoHandleLeft(e)) {
    *noDescriptor = true;
  }
  return result;
}

// The bytes of the batch that hold its records, up to the end of the last one's name.
long UsedBytes(const unsigned char* records) {
  NtfsBatch walk;
  StartBatch(&walk, records, BatchBytes);
  ListingRecord r;
  long end = 0;
  while (NextRecord(&walk, &r)) {
    uint32_t nameBytes;
    std::memcpy(&nameBytes, r.name - NameBytesBeforeName, sizeof nameBytes);
    end = (long)(r.name - records) + (long)nameBytes;
  }
  return end;
}

// Reads the next batch of fd's listing; the sizes come with it. A batch that gives no record is
// read past, as the scan's thread reads past it.
long ReadListing(int fd, void* space, bool, int* error) {
  WorkerSpace* w = (WorkerSpace*)space;
  for (;;) {
    w->bytes = 0;
    if (!ReadInformation(FdToHandle(fd), FileIdBothDirectoryInfo, w->records, BatchBytes)) {
      DWORD e = GetLastError();
      if (e == ERROR_NO_MORE_FILES) return 0;
      *error = (int)e;
      return -1;
    }
    w->bytes = UsedBytes(w->records);
    if (w->bytes > 0) return w->bytes;
  }
}

void MeasureNothing(int, ReadAheadBatch*) {}

ReadAheadBatch* KeepListing(void* space, bool* memoryShort) {
  WorkerSpace* w = (WorkerSpace*)space;
  *memoryShort = false;
  size_t size = RecordsAt + (size_t)w->bytes;
  ReadAheadBatch* b = (ReadAheadBatch*)std::malloc(size);
  if (!b) {
    b = w->spare;
    w->spare = nullptr;
    *memoryShort = true;
  }
  b->next = nullptr;
  b->sizes = SizesMeasured;
  b->size = size;
  b->bytes = w->bytes;
  b->count = 0;
  std::memcpy(Records(b), w->records, (size_t)w->bytes);
  return b;
}

void CloseListing(int fd) {
  CloseHandle(FdToHandle(fd));
}

// The entry's name in the scan's code page, for the thread that walks the batch.
thread_local char EntryName[1024];

bool NextBatchEntry(const ReadAheadBatch* b, BatchWalk* walk, FindEntry* entry) {
  if (walk->position >= b->bytes) return false;
  NtfsBatch records{Records(b), (int)b->bytes, (int)walk->position};
  ListingRecord r;
  if (!NextRecord(&records, &r)) {
    walk->position = b->bytes;
    return false;
  }
  walk->position = records.next < 0 ? b->bytes : records.next;
  ++walk->index;
  EntryFromRecord(r, entry);
  int n = WideCharToMultiByte(CodePage, 0, (const WCHAR*)r.name, r.nameUnits, EntryName,
                              sizeof EntryName - 1, nullptr, nullptr);
  if (n < 0) n = 0;
  EntryName[n] = 0;
  entry->name = EntryName;
  entry->nameLength = n;
  return true;
}

const ListingReader WindowsReader = {OpenListing,  ReadListing,    MeasureNothing, KeepListing,
                                     CloseListing, NextBatchEntry, LargestBatch};

unsigned __stdcall Work(void*) {
  // Redirection is each thread's own: a worker sees System32 as the scan's thread does.
  PVOID old = nullptr;
  if (DisableRedirection) DisableRedirection(&old);
  WorkerSpace* w = (WorkerSpace*)std::malloc(sizeof(WorkerSpace));
  if (w) w->spare = (ReadAheadBatch*)std::malloc(LargestBatch);
  if (w && w->spare) ReadAheadWork(w);
  if (w) std::free(w->spare);
  std::free(w);
  return 0;
}

bool StartWorkers(int count) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (!kernel) return false;
  ReadInformation =
      (InformationByHandle)(void*)GetProcAddress(kernel, "GetFileInformationByHandleEx");
  DisableRedirection =
      (RedirectionOff)(void*)GetProcAddress(kernel, "Wow64DisableWow64FsRedirection");
  if (!ReadInformation) return false;
  ReadAheadBegin(&WindowsReader, StartPath.length, count,
                 sizeof(WorkerSpace) + LargestBatch + 16384, Rules);
  try {
    Workers.reserve((size_t)count);
    for (int i = 0; i < count; ++i) {
      // No more threads, or no room for a stack: the scan reads what the others do not.
      HANDLE t = (HANDLE)_beginthreadex(nullptr, WorkerStack, Work, nullptr,
                                        STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
      if (!t) break;
      Workers.push_back(t);
    }
  } catch (const std::bad_alloc&) {
  }
  if (Workers.empty()) ReadAheadEnd();
  return !Workers.empty();
}

// The scan's thread's side: the listing read ahead being handed out.
bool Handing = false;                // its batches come from here
ReadAheadBatch* Current = nullptr;   // the batch the enumeration walks now
ReadAheadBatch* Rest = nullptr;      // those read and not handed out yet
ReadAheadJob* Streaming = nullptr;   // whose worker reads on while the scan takes it
HANDLE GoOn = INVALID_HANDLE_VALUE;  // where its worker stopped: read on in line from here
int HandedReadError = 0;             // the listing ended with a read that failed, with this code
// The listing the enumeration opens next gathers its subdirectories for the workers, by this key.
bool PendingGather = false;
std::string PendingKey;

void Begin(ReadAheadBatch* batch) {
  Current = batch;
  Current->next = nullptr;
}
}  // namespace

HANDLE OpenListingHandle(const WCHAR* path, bool belowStart, DWORD* error) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (belowStart ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  HANDLE h =
      CreateFileW(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return h;
  }
  if (belowStart) {
    // Listed as a folder, and a link or a junction now: that folder is no longer there.
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(h, &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      CloseHandle(h);
      *error = ERROR_PATH_NOT_FOUND;
      return INVALID_HANDLE_VALUE;
    }
  }
  return h;
}

bool NoHandleLeft(DWORD error) {
  return error == ERROR_TOO_MANY_OPEN_FILES || error == ERROR_NO_SYSTEM_RESOURCES ||
         error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY;
}

void ErrorText(DWORD error, BStr* text) {
  char message[256];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           error, 0, message, sizeof message, nullptr);
  while (n > 0 && (message[n - 1] == '\r' || message[n - 1] == '\n' || message[n - 1] == ' ' ||
                   message[n - 1] == '.'))
    --n;
  if (n > 0) {
    *text = BMake(message, (int)n);
    return;
  }
  char code[32];
  std::snprintf(code, sizeof code, "error %lu", (unsigned long)error);
  *text = BMake(code);
}

void ReadAheadScanBegins(const ScanRules& rules) {
  Rules = rules;
  ReadAheadClose();
  StopReadAhead();
  RootKnown = false;
  RootOpening = false;
}

bool BelowStartDirectory(const PathStr& directory) {
  return RootKnown && !RootOpening;
}

bool ReadAheadTake(const PathStr& directory, FindResult* result, DWORD* error) {
  PendingGather = false;
  if (!RootKnown) {
    RootKnown = true;
    RootOpening = true;
    StartPath = directory;
    return false;
  }
  if (!ReadingAhead() || directory.length <= StartPath.length) return false;
  std::string_view rel(directory.text + StartPath.length,
                       (size_t)(directory.length - StartPath.length));
  TakenDirectory taken;
  TakeKind kind;
  try {
    kind = TakeListing(rel, &taken);
  } catch (const std::bad_alloc&) {
    kind = TakeStop;
  }
  if (kind == TakeStop) StopReadAhead();
  // A folder a worker could not open or read is opened again here, so that what the scan makes
  // of the failure (a folder read otherwise, an empty one) is its own.
  if (kind != TakenListing || taken.result == FindFailed) {
    if (kind == TakenListing) {
      FreeBatches(taken.batches);
      ReleaseJob(taken.job);
      if (taken.fd >= 0) CloseListing(taken.fd);
    }
    PendingGather = taken.gather && ReadingAhead();
    PendingKey.swap(taken.key);
    return false;
  }
  *result = taken.result;
  *error = (DWORD)taken.error;
  if (taken.result != FindFound) return true;
  Handing = true;
  Rest = taken.batches;
  Streaming = taken.job;
  HandedReadError = taken.readError;
  GoOn = taken.fd >= 0 ? FdToHandle(taken.fd) : INVALID_HANDLE_VALUE;
  PendingGather = taken.gather;
  PendingKey.swap(taken.key);
  return true;
}

ReadAheadSource ReadAheadNextBatch(HANDLE* directory, const void** bytes, int* length,
                                   DWORD* error) {
  if (!Handing) return BatchInLine;
  FreeBatches(Current);
  Current = nullptr;
  if (Rest) {
    ReadAheadBatch* next = Rest->next;
    Begin(Rest);
    Rest = next;
  } else if (Streaming) {
    ReadAheadBatch* b = nullptr;
    int fd = -1, readError = 0;
    if (NextBatch(Streaming, &b, &fd, &readError)) {
      Begin(b);
    } else {
      ReleaseJob(Streaming);
      Streaming = nullptr;
      if (fd >= 0) GoOn = FdToHandle(fd);
      HandedReadError = readError;
    }
  }
  if (Current) {
    *bytes = Records(Current);
    *length = (int)Current->bytes;
    return BatchReadAhead;
  }
  Handing = false;
  if (HandedReadError != 0) {
    *error = (DWORD)HandedReadError;
    HandedReadError = 0;
    if (GoOn != INVALID_HANDLE_VALUE) CloseHandle(GoOn);
    GoOn = INVALID_HANDLE_VALUE;
    return BatchesEnded;
  }
  if (GoOn != INVALID_HANDLE_VALUE) {
    *directory = GoOn;
    GoOn = INVALID_HANDLE_VALUE;
    return BatchInLine;
  }
  *error = ERROR_NO_MORE_FILES;
  return BatchesEnded;
}

bool ReadAheadListing() {
  return Handing;
}

void ReadAheadListingOpened(const PathStr& directory, bool batches, UINT codePage) {
  if (RootOpening) {
    RootOpening = false;
    CodePage = codePage;
    int threads = Rules.readAheadThreads > 0 ? Rules.readAheadThreads : DefaultThreads;
    if (batches && threads > 1 && StartWorkers(threads) && !GatherBegin("", 0, std::string()))
      StopReadAhead();
    return;
  }
  if (!PendingGather || !ReadingAhead()) return;
  PendingGather = false;
  if (!GatherBegin(directory.text + StartPath.length, directory.length - StartPath.length,
                   PendingKey))
    StopReadAhead();
}

void ReadAheadEntryHanded(const FindEntry& entry) {
  if (Gathering() && !GatherEntry(entry)) StopReadAhead();
}

void ReadAheadListingEnded() {
  // A listing that failed part way is gathered as far as it was handed out: the scan reads the
  // subdirectories it saw.
  if (Gathering()) GatherEnd();
}

void ReadAheadClose() {
  FreeBatches(Current);
  FreeBatches(Rest);
  Current = Rest = nullptr;
  ReleaseJob(Streaming);
  Streaming = nullptr;
  if (GoOn != INVALID_HANDLE_VALUE) CloseHandle(GoOn);
  GoOn = INVALID_HANDLE_VALUE;
  HandedReadError = 0;
  Handing = false;
  PendingGather = false;
  GatherDrop();
}

bool ReadingAhead() {
  return !Workers.empty();
}

void StopReadAhead() {
  GatherDrop();
  if (!ReadingAhead()) return;
  ReadAheadStopping();
  for (HANDLE t : Workers) {
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
  }
  std::vector<HANDLE>().swap(Workers);
  ReadAheadEnd();
}
