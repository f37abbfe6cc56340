// A scripted file system for the scan's tests: a table of directories, each with its entries in
// enumeration order (names, Windows attribute bits, sizes) and the outcome of opening it. The
// scan reads it through the same table of routines as the platform's enumeration.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tree/find.h"

struct FakeEntry {
  std::string name;
  uint32_t attributes;
  int64_t size;
  int64_t allocated = -1;  // the bytes held on the disk; -1: the size
  uint64_t inode = 0;      // not 0: a file with several names, this one of them
  int64_t held = 0;        // all the space given it on the disk; 0: not told
};

constexpr uint32_t AttrReadOnly = 0x01, AttrHidden = 0x02, AttrSystem = 0x04,
                   AttrArchive = 0x20;

inline FakeEntry FakeFile(const std::string& name, int64_t size, uint32_t attributes = AttrArchive) {
  return FakeEntry{name, attributes, size};
}
inline FakeEntry FakeSubdir(const std::string& name, uint32_t extra = 0) {
  return FakeEntry{name, AttrDirectory | extra, 0};
}
inline FakeEntry FakeLabel(const std::string& name) { return FakeEntry{name, AttrVolumeLabel, 0}; }
// A sparse file: size bytes long, allocated of them held on the disk.
inline FakeEntry FakeSparseFile(const std::string& name, int64_t size, int64_t allocated) {
  return FakeEntry{name, AttrArchive, size, allocated};
}
// A file of size bytes given held bytes on a disk of 4096-byte clusters, as space reserved past
// its end (fallocate --keep-size) leaves it.
inline FakeEntry FakeReservedFile(const std::string& name, int64_t size, int64_t held) {
  return FakeEntry{name, AttrArchive, size, size < held ? size : held, 0, held};
}
// One name of a file with several (a hard link); the names of one file share the inode.
inline FakeEntry FakeLinkedFile(const std::string& name, int64_t size, uint64_t inode) {
  return FakeEntry{name, AttrArchive, size, -1, inode};
}

struct FakeDirectory {
  std::vector<FakeEntry> entries;  // in the order the enumeration returns them
  FindResult opening = FindFound;  // FindPathNotFound or FindFailed make opening fail so
  int nextFailsAfter = -1;         // the next-entry request fails after this many entries
  std::string reason = "Permission denied";  // the system's text when opening or reading fails
  bool vanishes = false;           // removed as soon as its parent's enumeration is closed
  bool gone = false;               // removed: opening it gives FindPathNotFound
};

// What the scan did with the fake file system.
struct FakeFsLog {
  std::vector<std::string> opened;  // every path handed to findFirst, in order
  int openNow = 0;                  // enumerations open at this moment
  int openMost = 0;                 // the most ever open at once
  int startScans = 0;               // calls of startScan
  int endScans = 0;                 // calls of endScan
  bool pathWithoutSeparator = false;  // a path was handed over without its final separator
};
extern FakeFsLog FakeLog;

// Empties the table and the log.
void FakeFsReset();

// The directory at path (the separator at its end is optional), created when missing; a new
// directory starts with the entries "." and ".." unless withDots is false.
FakeDirectory& FakeDir(const std::string& path, bool withDots = true);

// Joins path pieces with this build's separator.
std::string FakePath(const std::vector<std::string>& pieces);

// The routines the scan reads the table through.
const FileSystemOps* FakeFileSystem();
