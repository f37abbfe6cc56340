// The files of a tree that is browsed: each file's name, length, space held and identity, kept
// compactly, as the tree builder takes them. The records of one directory lie side by side in
// blocks of records, and the names in blocks of bytes, so that a file costs its record and its
// name and no allocation of its own, and growing never copies what is there. Every other form
// of the report holds no files.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "tree/dir_node.h"
#include "tree/node_table.h"

enum FileFlags : uint8_t {
  FileLinked = 1,       // charged by identity (it may have several names): see Device, Inode
  FileNotRegular = 2,   // a link, a device, a fifo, a socket
  FileCharged = 4,      // its space counts in its directory (a further name of a file does not)
  FileHeldRounded = 8,  // the space held is its length rounded up to whole RoundedUnit
  FileHeldUntold = 16,  // the listing does not tell the space held: its data is its length
  FileApart = 32,       // its space held, its data and its inode stand apart
  FileNames = 64,       // known to have more than one name (a Windows listing never tells)
};

// 16 bytes a file. Almost every file holds its length rounded up to whole 4 K on the disk, or
// nothing (a short link, an empty file), and its data on the disk is the lesser of its length
// and that; only a file of several names needs its inode. The other files' figures are kept
// apart, read through the store's Held, Allocated and Inode.
struct FileRecord {
  uint32_t nameAt;  // where its name starts among the store's names
  uint8_t nameLength;
  uint8_t flags;    // FileFlags
  uint16_t device;  // index among the store's devices
  int64_t size;     // its length
};

// Which file a file of several names is.
struct FileIdentity {
  uint64_t device;
  uint64_t inode;
};

// The files of one directory: records [first, first + count) of the store.
struct FileRange {
  uint32_t first;
  uint32_t count;
};

// Records are appended as the builder takes files, to the end of the store. The files of a
// directory end side by side, whatever the order they come in: when a subdirectory opens while
// its parent's files are being taken, the parent's so far are parked, and put back after the
// last of its own when it settles (Settle), so that its range is whole.
class FileStore {
 public:
  // Forgets every file.
  void Clear();

  // Appends a file; false when memory ran short: the file is not kept (the figures still count
  // it).
  bool Add(const char* name, int length, int64_t size, int64_t allocated, int64_t held, bool linked,
           bool names, bool notRegular, bool charged, uint64_t device, uint64_t inode);
  // How many records there are, and how many are parked.
  uint32_t End() const { return records_; }
  size_t Parked() const { return parked_.size(); }
  // Parks the records from `from` on (a directory's so far, as a subdirectory opens).
  bool Park(uint32_t from);
  // The records parked from parkedFrom on go back to the end, and n's files are those from
  // `from` to the end: its range.
  bool Settle(const DirNode* n, uint32_t from, size_t parkedFrom);
  // Forgets the files kept of n (it is gone, or read again).
  void Forget(const DirNode* n) { ranges_.Drop(n); }
  // The files kept of `from` become to's (a directory read again into a node of its own).
  void Hand(const DirNode* from, const DirNode* to);

  FileRange FilesOf(const DirNode* n) const;
  const FileRecord& Record(uint32_t i) const { return blocks_[i >> BlockBits][i & BlockMask]; }
  const char* Name(const FileRecord& r) const {
    return names_[r.nameAt >> NameBlockBits].get() + (r.nameAt & NameBlockMask);
  }
  uint64_t Device(const FileRecord& r) const { return devices_[r.device]; }
  // All the space the file system gives the file (0 where not told).
  int64_t Held(const FileRecord& r) const;
  // The data the file holds on the disk, at most its length (FindEntry's allocated).
  int64_t Allocated(const FileRecord& r) const;
  // Its inode, for a file of several names (0 for others).
  uint64_t Inode(const FileRecord& r) const;
  // Bytes the store takes, for the measure of memory.
  size_t BytesHeld() const;

 private:
  static constexpr int BlockBits = 12;
  static constexpr uint32_t BlockMask = (1u << BlockBits) - 1;
  static constexpr int NameBlockBits = 16;
  static constexpr uint32_t NameBlockMask = (1u << NameBlockBits) - 1;

  // What a file kept apart holds: found by its name's place, which no record shares and
  // which grows as files are added, so the list is in its order.
  struct Apart {
    uint32_t nameAt;
    int64_t allocated;
    int64_t held;
    uint64_t inode;
  };
  static constexpr int64_t RoundedUnit = 4096;
  const Apart* ApartOf(const FileRecord& r) const;

  bool Append(const FileRecord& r);
  FileRecord& At(uint32_t i) { return blocks_[i >> BlockBits][i & BlockMask]; }
  uint32_t records_ = 0;                               // records in the blocks
  std::vector<std::unique_ptr<FileRecord[]>> blocks_;  // of 1 << BlockBits records each
  std::vector<FileRecord> parked_;                     // parked records of open directories
  std::vector<std::unique_ptr<char[]>> names_;         // of 1 << NameBlockBits bytes each
  uint32_t nameEnd_ = 0;                               // where the next name goes
  std::vector<uint64_t> devices_;
  std::vector<Apart> apart_;
  NodeTable<FileRange> ranges_;
};
