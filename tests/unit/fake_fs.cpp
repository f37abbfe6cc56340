#include "fake_fs.h"

#include <map>

#include "console/strings.h"

FakeFsLog FakeLog;

namespace {
std::map<std::string, FakeDirectory> Table;  // full path with final separator -> directory

struct Enumeration {
  FakeDirectory* dir = nullptr;  // the open directory, or null
  std::string path;              // its path
  size_t position = 0;           // index of the entry handed out last
};
Enumeration Current;
std::string LastFailure;  // the reason of the last failing open or read

std::string WithSeparator(std::string path) {
  if (path.empty() || path.back() != PathSeparator) path += PathSeparator;
  return path;
}

void Fill(FindEntry* entry) {
  const FakeEntry& e = Current.dir->entries[Current.position];
  entry->name = e.name.c_str();
  entry->nameLength = (int)e.name.size();
  entry->attributes = e.attributes;
  entry->size = e.size;
  entry->allocated = e.allocated < 0 ? e.size : e.allocated;
  entry->held = e.held;
  entry->linked = e.inode != 0;
  entry->device = 1;
  entry->inode = e.inode;
  entry->links = e.inode != 0 ? 2 : 1;
  entry->notRegular = false;
}

void FakeStartScan(const ScanRules&) { ++FakeLog.startScans; }
void FakeEndScan() { ++FakeLog.endScans; }

void FakeClose() {
  if (!Current.dir) return;
  // Subdirectories that vanish do so once their parent has been listed.
  for (const FakeEntry& e : Current.dir->entries) {
    auto it = Table.find(Current.path + e.name + PathSeparator);
    if (it != Table.end() && it->second.vanishes) it->second.gone = true;
  }
  Current = Enumeration();
  --FakeLog.openNow;
}

FindResult FakeFirst(const PathStr& directory, FindEntry* entry) {
  std::string path(directory.text, directory.length);
  FakeLog.opened.push_back(path);
  if (path.empty() || path.back() != PathSeparator) FakeLog.pathWithoutSeparator = true;
  auto it = Table.find(path);
  if (it == Table.end() || it->second.gone) return FindPathNotFound;
  FakeDirectory& d = it->second;
  if (d.opening != FindFound) {
    LastFailure = d.reason;
    return d.opening;
  }
  if (d.entries.empty()) return FindNoEntries;  // read, but not even "." in it
  ++FakeLog.openNow;
  if (FakeLog.openNow > FakeLog.openMost) FakeLog.openMost = FakeLog.openNow;
  Current.dir = &d;
  Current.path = path;
  Current.position = 0;
  Fill(entry);
  return FindFound;
}

NextResult FakeNext(FindEntry* entry) {
  if (!Current.dir) return NextEnd;
  size_t next = Current.position + 1;
  if (Current.dir->nextFailsAfter >= 0 && (int)next >= Current.dir->nextFailsAfter) {
    LastFailure = Current.dir->reason;
    return NextFailed;
  }
  if (next >= Current.dir->entries.size()) return NextEnd;
  Current.position = next;
  Fill(entry);
  return NextFound;
}

bool FakeReleaseMemory() { return false; }

void FakeFailureText(BStr* text) { *text = BMake(LastFailure.data(), (int)LastFailure.size()); }

const FileSystemOps FakeOps = {FakeStartScan, FakeFirst,   FakeNext,         FakeClose,
                               FakeEndScan,   FakeReleaseMemory, FakeFailureText};
}  // namespace

void FakeFsReset() {
  Table.clear();
  Current = Enumeration();
  LastFailure.clear();
  FakeLog = FakeFsLog();
}

FakeDirectory& FakeDir(const std::string& path, bool withDots) {
  std::string key = WithSeparator(path);
  auto it = Table.find(key);
  if (it != Table.end()) return it->second;
  FakeDirectory& d = Table[key];
  if (withDots) {
    d.entries.push_back(FakeSubdir("."));
    d.entries.push_back(FakeSubdir(".."));
  }
  return d;
}

std::string FakePath(const std::vector<std::string>& pieces) {
  std::string out;
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0 && (out.empty() || out.back() != PathSeparator)) out += PathSeparator;
    out += pieces[i];
  }
  return out;
}

const FileSystemOps* FakeFileSystem() { return &FakeOps; }
