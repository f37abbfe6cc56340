// Deleting an entry below the start directory and moving one to the Recycle Bin on Windows
// (tree/remove.h). Only code for Windows goes in this file.
//
// Every folder of the way down is held open without FILE_SHARE_DELETE while the removal runs,
// so none of them can be renamed, removed or replaced by a junction meanwhile, and the wide
// "\\?\" path through them keeps leading to the same place. Each entry is opened with
// FILE_FLAG_OPEN_REPARSE_POINT and removed through its own handle (FileDispositionInfo), and
// only when the handle is the entry its folder listed: a reparse point (a junction, a directory
// or file symbolic link) opens as itself and is removed itself, never what it points to. Where
// the system opens a link as its target instead (Wine, for the links of the Unix file system
// under it, gives a handle of the target without the reparse-point attribute), the handle is not
// the entry listed, and the entry is left and named. Read-only entries are removed as Explorer
// removes them: the attribute is cleared first, and put back if the entry stays.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "console/windows_api.h"
// shellapi.h needs the definitions of windows.h first.
#include <shellapi.h>

#include "tree/ntfs_listing.h"
#include "tree/readahead_win32.h"
#include "tree/remove.h"

namespace {
typedef BOOL(WINAPI* InformationByHandle)(HANDLE, int, LPVOID, DWORD);
typedef BOOL(WINAPI* RedirectionOff)(PVOID*);
typedef BOOL(WINAPI* RedirectionBack)(PVOID);
typedef BOOL(WINAPI* Wow64Query)(HANDLE, PBOOL);
// The information classes used, as Vista's headers number them.
constexpr int FileBasicInfoClass = 0;
constexpr int FileDispositionInfoClass = 4;
constexpr int FileIdBothDirectoryInfoClass = 10;

struct BasicInfo {  // FILE_BASIC_INFO: times of 0 are left as they are
  LARGE_INTEGER creationTime, lastAccessTime, lastWriteTime, changeTime;
  DWORD fileAttributes;
};
struct DispositionInfo {  // FILE_DISPOSITION_INFO
  BOOLEAN deleteFile;
};

// Bound from kernel32 at the first removal: absent before Vista (entries are then removed by
// their paths, which the folders held above them keep leading to the same place), and the
// redirection calls on 32-bit Windows, which has none.
bool Bound = false;
InformationByHandle QueryByHandle = nullptr;
InformationByHandle SetByHandle = nullptr;
RedirectionOff DisableRedirection = nullptr;
RedirectionBack RevertRedirection = nullptr;
Wow64Query IsWow64 = nullptr;
UINT CodePage = CP_ACP;  // of the program's names: its own (UTF-8) or OEM

// One batch of a folder's listing: at most one is read at a time.
alignas(8) unsigned char Batch[64 * 1024];

void Bind() {
  CodePage = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
  if (Bound) return;
  Bound = true;
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (!kernel) return;
  QueryByHandle =
      (InformationByHandle)(void*)GetProcAddress(kernel, "GetFileInformationByHandleEx");
  SetByHandle = (InformationByHandle)(void*)GetProcAddress(kernel, "SetFileInformationByHandle");
  DisableRedirection =
      (RedirectionOff)(void*)GetProcAddress(kernel, "Wow64DisableWow64FsRedirection");
  RevertRedirection =
      (RedirectionBack)(void*)GetProcAddress(kernel, "Wow64RevertWow64FsRedirection");
  IsWow64 = (Wow64Query)(void*)GetProcAddress(kernel, "IsWow64Process");
}

// File-system redirection of a 32-bit program on 64-bit Windows is off while a removal runs, as
// it is while the scan runs, so that C:\Windows\System32 is the folder the scan read.
// Begin turns it off (kernel32 bound first); End or the end of its scope puts it back.
struct RealSystemFolder {
  PVOID old = nullptr;
  bool off = false;
  ~RealSystemFolder() { End(); }
  void Begin() {
    if (DisableRedirection && RevertRedirection) off = DisableRedirection(&old) != 0;
  }
  void End() {
    if (off) RevertRedirection(old);
    off = false;
  }
};

std::wstring Wide(const char* text, int length) {
  if (length <= 0) return std::wstring();
  int units = MultiByteToWideChar(CodePage, 0, text, length, nullptr, 0);
  std::wstring out((size_t)(units > 0 ? units : 0), L'\0');
  if (units > 0) MultiByteToWideChar(CodePage, 0, text, length, &out[0], units);
  return out;
}

std::string Narrow(const wchar_t* text, int units) {
  if (units <= 0) return std::string();
  int n = WideCharToMultiByte(CodePage, 0, text, units, nullptr, 0, nullptr, nullptr);
  std::string out((size_t)(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CodePage, 0, text, units, &out[0], n, nullptr, nullptr);
  return out;
}

// Notes a failure of path, with the system's text for error as its reason.
void FailWith(RemoveOutcome* outcome, const std::string& path, DWORD error) {
  BStr text;
  ErrorText(error, &text);
  NoteRemoveFailure(outcome, path, text.text);
}

bool Gone(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A name that is one entry of a folder: not empty, not "." or "..", no separator, and no ':'
// (which would name a stream of the entry instead of the entry).
bool ValidName(const char* name, int length) {
  if (length <= 0 || IsDotOrDotDot(name, length)) return false;
  for (int i = 0; i < length; ++i)
    if (name[i] == '\\' || name[i] == '/' || name[i] == ':' || name[i] == 0) return false;
  return true;
}

// The folders held from the start directory to the entry's, and where the entry is.
struct Place {
  std::vector<HANDLE> held;
  std::wstring parent;  // the wide "\\?\" path of the entry's folder, ending in '\'
  DWORD volume = 0;     // the start directory's volume serial number
  ~Place() {
    for (HANDLE h : held) CloseHandle(h);
  }
};

// Opens the start directory (as the scan does: whatever its own path goes through) and holds
// each folder of parentRel below it: none may be a reparse point, "." or "..", or on another
// volume. False, with the failure noted for entryPath, when one cannot be held so.
bool OpenPlace(const PathStr& start, const char* parentRel, int parentRelLength,
               const std::string& entryPath, RemoveOutcome* outcome, Place* place) {
  LongPathStr longStart = LongDirectoryForm(start);
  place->parent = Wide(longStart.text, longStart.length);
  HANDLE h = CreateFileW(place->parent.c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &info)) {
    FailWith(outcome, entryPath, GetLastError());
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return false;
  }
  place->held.push_back(h);
  place->volume = info.dwVolumeSerialNumber;
  int at = 0;
  while (at < parentRelLength) {
    int end = at;
    while (end < parentRelLength && parentRel[end] != '\\') ++end;
    if (!ValidName(parentRel + at, end - at)) {
      NoteRemoveFailure(outcome, entryPath, RefusedBadName);
      return false;
    }
    place->parent += Wide(parentRel + at, end - at);
    at = end + 1;
    h = CreateFileW(place->parent.c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &info)) {
      FailWith(outcome, entryPath, GetLastError());
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
      return false;
    }
    place->held.push_back(h);
    // The path's own attributes too: they tell a link that a handle opened as its target
    // does not.
    DWORD listed = GetFileAttributesW(place->parent.c_str());
    if ((info.dwFileAttributes | (listed == INVALID_FILE_ATTRIBUTES ? 0 : listed)) &
        FILE_ATTRIBUTE_REPARSE_POINT) {
      NoteRemoveFailure(outcome, entryPath, RefusedLinkOnTheWay);
      return false;
    }
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      FailWith(outcome, entryPath, ERROR_DIRECTORY);
      return false;
    }
    if (info.dwVolumeSerialNumber != place->volume) {
      NoteRemoveFailure(outcome, entryPath, RefusedOtherFileSystem);
      return false;
    }
    place->parent += L'\\';
  }
  return true;
}

// An entry as its folder listed it.
struct Listed {
  std::wstring name;
  DWORD attributes;
  uint64_t id;  // 0: not known
};

bool IsFolder(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The errors by which a volume refuses the listing's information class: read by FindFirstFileW.
bool ClassRefused(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_FUNCTION ||
         error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_LEVEL ||
         error == ERROR_CALL_NOT_IMPLEMENTED;
}

// Reads the whole listing of the open folder h at path, "." and ".." left out. False with
// *error when a read failed; what was read before stays in children.
bool ReadChildren(HANDLE h, const std::wstring& path, std::vector<Listed>* children, DWORD* error) {
  auto add = [&](const WCHAR* name, int units, DWORD attributes, uint64_t id) {
    bool dots = name[0] == L'.' && (units == 1 || (units == 2 && name[1] == L'.'));
    if (!dots) children->push_back({std::wstring(name, (size_t)units), attributes, id});
  };
  if (QueryByHandle) {
    for (;;) {
      if (!QueryByHandle(h, FileIdBothDirectoryInfoClass, Batch, sizeof Batch)) {
        *error = GetLastError();
        if (*error == ERROR_NO_MORE_FILES) return true;
        if (!ClassRefused(*error) || !children->empty()) return false;
        break;  // read by FindFirstFileW instead
      }
      NtfsBatch walk;
      StartBatch(&walk, Batch, sizeof Batch);
      ListingRecord r;
      while (NextRecord(&walk, &r))
        add((const WCHAR*)r.name, r.nameUnits, r.attributes, KnownFileId(r.fileId) ? r.fileId : 0);
    }
  }
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return *error == ERROR_FILE_NOT_FOUND || *error == ERROR_NO_MORE_FILES;
  }
  do {
    add(found.cFileName, lstrlenW(found.cFileName), found.dwFileAttributes, 0);
  } while (FindNextFileW(search, &found));
  *error = GetLastError();
  FindClose(search);
  return *error == ERROR_NO_MORE_FILES;
}

uint64_t IdOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return ((uint64_t)info.nFileIndexHigh << 32) | info.nFileIndexLow;
}

// What an entry's handle turned out to be, against what its folder listed.
enum Opened {
  AsListed,      // the entry listed, a folder or not as listed
  LinkItself,    // a reparse point, opened as itself: removed itself
  LinkAsTarget,  // listed as a link, opened as something else: the system followed it
  Replaced,      // another entry than the one listed has its name now
};

Opened Judge(const Listed& listed, const BY_HANDLE_FILE_INFORMATION& info,
             const std::wstring& path) {
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return LinkItself;
  if (listed.attributes & FILE_ATTRIBUTE_REPARSE_POINT) return LinkAsTarget;
  // A link that replaced the entry since it was listed shows in its path's attributes.
  DWORD now = GetFileAttributesW(path.c_str());
  if (now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_REPARSE_POINT)) return LinkAsTarget;
  if (listed.id != 0 && IdOf(info) != listed.id) return Replaced;
  if (IsFolder(listed.attributes) != IsFolder(info.dwFileAttributes)) return Replaced;
  return AsListed;
}

// The attributes a program may set: read-only, hidden, system, archive, normal, temporary,
// offline, not indexed. The others (directory, reparse point, ...) the system keeps itself.
constexpr DWORD SettableAttributes = 0x31A7;

bool SetAttributes(HANDLE h, const std::wstring& path, DWORD attributes) {
  attributes &= SettableAttributes;
  if (!SetByHandle) return SetFileAttributesW(path.c_str(), attributes) != 0;
  BasicInfo basic = {};
  basic.fileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  return SetByHandle(h, FileBasicInfoClass, &basic, sizeof basic) != 0;
}

// Removes the entry open on h (at path; attributes as the handle says) and closes h: true when
// it is gone; else false with *error, its read-only attribute as it was.
bool RemoveOpened(HANDLE h, const std::wstring& path, DWORD attributes, DWORD* error) {
  bool cleared = (attributes & FILE_ATTRIBUTE_READONLY) &&
                 SetAttributes(h, path, attributes & ~(DWORD)FILE_ATTRIBUTE_READONLY);
  bool gone;
  if (SetByHandle) {
    DispositionInfo disposition = {TRUE};
    gone = SetByHandle(h, FileDispositionInfoClass, &disposition, sizeof disposition) != 0;
    *error = GetLastError();
    if (!gone && cleared) SetAttributes(h, path, attributes);
    CloseHandle(h);
  } else {
    CloseHandle(h);
    bool folder = attributes & FILE_ATTRIBUTE_DIRECTORY;
    gone = (folder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str())) != 0;
    *error = GetLastError();
    if (!gone && cleared) SetFileAttributesW(path.c_str(), attributes & SettableAttributes);
  }
  return gone;
}

// A folder being emptied, held open (without FILE_SHARE_DELETE) until it is removed.
struct Frame {
  HANDLE h;
  std::wstring path;  // ending in '\'
  size_t relLength;   // of its path below the start directory, with its separator
  DWORD attributes;   // as its handle said, before read-only was cleared
  bool clearedReadOnly = false;
  std::vector<Listed> children;
  size_t next = 0;
  bool keep = false;  // something in it stays, so it stays too
};

struct Deletion {
  DWORD volume;
  RemoveOutcome* outcome;
  std::string rel;  // the path below the start directory being worked on
  std::vector<Frame> frames;
};

// Opens the entry listed at path (below the start directory at d->rel) and removes it, or, a
// folder, holds it as a new frame with its listing read. True when it stays, having said why.
bool RemoveChild(Deletion* d, const std::wstring& path, const Listed& listed) {
  bool folder = IsFolder(listed.attributes);
  DWORD access = DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE | (folder ? FILE_LIST_DIRECTORY : 0) |
                 (listed.attributes & FILE_ATTRIBUTE_READONLY ? FILE_WRITE_ATTRIBUTES : 0);
  HANDLE h =
      CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (Gone(error)) return false;
    FailWith(d->outcome, d->rel, error);
    return true;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) {
    FailWith(d->outcome, d->rel, GetLastError());
    CloseHandle(h);
    return true;
  }
  Opened opened = Judge(listed, info, path);
  if (opened == LinkAsTarget || opened == Replaced) {
    CloseHandle(h);
    NoteRemoveFailure(d->outcome, d->rel,
                      opened == LinkAsTarget ? RefusedLinkAsTarget : RefusedReplaced);
    return true;
  }
  if (opened == LinkItself || !folder) {
    DWORD error = 0;
    if (RemoveOpened(h, path, info.dwFileAttributes, &error) || Gone(error)) return false;
    FailWith(d->outcome, d->rel, error);
    return true;
  }
  if (info.dwVolumeSerialNumber != d->volume) {
    CloseHandle(h);
    NoteRemoveFailure(d->outcome, d->rel, RefusedOtherFileSystem);
    return true;
  }
  Frame frame;
  frame.h = h;
  frame.path = path + L'\\';
  d->rel += '\\';
  frame.relLength = d->rel.size();
  frame.attributes = info.dwFileAttributes;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
    frame.clearedReadOnly =
        SetAttributes(h, path, info.dwFileAttributes & ~(DWORD)FILE_ATTRIBUTE_READONLY);
  DWORD error = 0;
  if (!ReadChildren(h, frame.path, &frame.children, &error)) {
    // Emptied as far as it was read; it stays, having said why.
    d->rel.pop_back();
    FailWith(d->outcome, d->rel, error);
    d->rel += '\\';
    frame.keep = true;
  }
  d->frames.push_back(std::move(frame));
  if (RemoveStepHook) RemoveStepHook(d->rel.data(), (int)d->rel.size());
  return false;
}

// Empties and removes the folders of d->frames, the last first.
void EmptyFrames(Deletion* d) {
  while (!d->frames.empty()) {
    size_t owner = d->frames.size() - 1;
    Frame& top = d->frames[owner];
    if (top.next < top.children.size()) {
      Listed child = std::move(top.children[top.next++]);
      d->rel.resize(top.relLength);
      d->rel += Narrow(child.name.data(), (int)child.name.size());
      // May add a frame, which moves the others.
      if (RemoveChild(d, top.path + child.name, child)) d->frames[owner].keep = true;
      continue;
    }
    Frame done = std::move(top);
    d->frames.pop_back();
    d->rel.resize(done.relLength - 1);
    std::wstring path = done.path.substr(0, done.path.size() - 1);
    bool stays = done.keep;
    if (!stays) {
      DWORD error = 0;
      // Closes the handle: the folder goes as it closes.
      stays =
          !RemoveOpened(done.h, path, done.attributes & ~(DWORD)FILE_ATTRIBUTE_READONLY, &error) &&
          !Gone(error);
      if (stays) FailWith(d->outcome, d->rel, error);
    } else {
      CloseHandle(done.h);
    }
    if (stays && done.clearedReadOnly)
      SetFileAttributesW(path.c_str(), done.attributes & SettableAttributes);
    if (stays && !d->frames.empty()) d->frames.back().keep = true;
  }
}

// The entry's attributes as its path gives them (a link shows as one there, also under Wine).
bool ListEntry(const std::wstring& path, const char* name, int nameLength, Listed* listed,
               DWORD* error) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    *error = GetLastError();
    return false;
  }
  listed->name = Wide(name, nameLength);
  listed->attributes = data.dwFileAttributes;
  listed->id = 0;
  return true;
}

// The entry a removal is of: its path below the start directory, the folders of the way to it
// held, its wide "\\?\" path and its attributes as that path gives them.
struct Target {
  std::string path;
  RealSystemFolder real;
  Place place;
  std::wstring wide;
  Listed listed;
};

// Begins a removal: *outcome emptied, the name checked, redirection off, the folders of the way
// held (OpenPlace) and the entry's attributes read. False, with the failure noted, when one fails.
bool FindTarget(const PathStr& start, const char* parentRel, int parentRelLength, const char* name,
                int nameLength, RemoveOutcome* outcome, Target* t) {
  Bind();
  if (!BeginRemoval(parentRel, parentRelLength, name, nameLength, ValidName, outcome, &t->path))
    return false;
  t->real.Begin();
  if (!OpenPlace(start, parentRel, parentRelLength, t->path, outcome, &t->place)) return false;
  t->wide = t->place.parent + Wide(name, nameLength);
  DWORD error = 0;
  if (ListEntry(t->wide, name, nameLength, &t->listed, &error)) return true;
  FailWith(outcome, t->path, error);
  return false;
}
}  // namespace

bool DeleteEntry(const PathStr& start, const char* parentRel, int parentRelLength, const char* name,
                 int nameLength, RemoveOutcome* outcome) {
  Target t;
  if (!FindTarget(start, parentRel, parentRelLength, name, nameLength, outcome, &t)) return false;
  Deletion d;
  d.volume = t.place.volume;
  d.outcome = outcome;
  d.rel = t.path;
  RemoveChild(&d, t.wide, t.listed);
  EmptyFrames(&d);
  return outcome->whole;
}

namespace {
// The plain form of a long "\\?\" path, as the shell takes it: "C:\..." or "\\server\share\...".
std::wstring PlainForm(const std::wstring& path) {
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
  return path;
}

// A 32-bit program on 64-bit Windows names the real System32 as Sysnative for the shell, which
// runs with redirection on.
std::wstring AsTheShellSeesIt(const std::wstring& path) {
  BOOL wow64 = FALSE;
  if (!IsWow64 || !IsWow64(GetCurrentProcess(), &wow64) || !wow64) return path;
  WCHAR windows[MAX_PATH];
  UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return path;
  std::wstring system = std::wstring(windows, n) + L"\\System32";
  if (path.size() < system.size() || (path.size() > system.size() && path[system.size()] != L'\\'))
    return path;
  if (CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, path.c_str(), (int)system.size(),
                     system.c_str(), (int)system.size()) != CSTR_EQUAL)
    return path;
  return std::wstring(windows, n) + L"\\Sysnative" + path.substr(system.size());
}

// The reason for a code SHFileOperationW returned: the shell's own codes (0x71 to 0x88, and
// those past 0xFFFF) as such, the system's text for the error codes it passes on; -1: it said
// it was done, yet the entry is still there.
std::string RecycleText(int code) {
  if (code < 0) return "The Recycle Bin did not take it";
  if (code > 0 && !(code >= 0x71 && code <= 0x88) && code <= 0xFFFF) {
    BStr text;
    ErrorText((DWORD)code, &text);
    return text.text;
  }
  char text[96];
  std::snprintf(text, sizeof text, "The Recycle Bin did not take it (code 0x%X)", (unsigned)code);
  return text;
}
}  // namespace

bool TrashEntry(const PathStr& start, const char* parentRel, int parentRelLength, const char* name,
                int nameLength, RemoveOutcome* outcome) {
  Target t;
  if (!FindTarget(start, parentRel, parentRelLength, name, nameLength, outcome, &t)) return false;
  std::wstring plain = AsTheShellSeesIt(PlainForm(t.wide));
  if (plain.size() > MAX_PATH - 1) {
    NoteRemoveFailure(outcome, t.path, RefusedTooLongToRecycle);
    return false;
  }
  // The shell takes a list of paths, each ending in a zero and the list in another.
  std::wstring from = plain;
  from.push_back(L'\0');
  from.push_back(L'\0');
  SHFILEOPSTRUCTW op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  // Where an entry cannot go to the Recycle Bin (a drive without one, or too large for it), the
  // shell would delete it for good without a word: it asks first instead (FOF_WANTNUKEWARNING).
  op.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT | FOF_WANTNUKEWARNING;
  t.real.End();
  int code = SHFileOperationW(&op);
  if (code == 0 && op.fAnyOperationsAborted) code = ERROR_CANCELLED;
  t.real.Begin();
  if (code == 0 && GetFileAttributesW(t.wide.c_str()) != INVALID_FILE_ATTRIBUTES) code = -1;
  if (code != 0) {
    NoteRemoveFailure(outcome, t.path, RecycleText(code).c_str());
    return false;
  }
  return true;
}
