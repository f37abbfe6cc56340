#include "tree/file_store.h"

#include <algorithm>
#include <cstring>
#include <new>

void FileStore::Clear() {
  records_ = 0;
  std::vector<std::unique_ptr<FileRecord[]>>().swap(blocks_);
  std::vector<FileRecord>().swap(parked_);
  std::vector<std::unique_ptr<char[]>>().swap(names_);
  nameEnd_ = 0;
  std::vector<uint64_t>().swap(devices_);
  std::unordered_map<const DirNode*, FileRange>().swap(ranges_);
}

bool FileStore::Append(const FileRecord& r) {
  try {
    if ((records_ >> BlockBits) >= blocks_.size())
      blocks_.emplace_back(new FileRecord[(size_t)1 << BlockBits]);
  } catch (const std::bad_alloc&) {
    return false;
  }
  At(records_++) = r;
  return true;
}

bool FileStore::Add(const char* name, int length, int64_t size, int64_t allocated, int64_t held,
                    bool linked, bool notRegular, bool charged, uint64_t device, uint64_t inode) {
  if (length < 1 || length > 255) return false;
  FileRecord r;
  r.nameLength = (uint8_t)length;
  r.flags =
      (linked ? FileLinked : 0) | (notRegular ? FileNotRegular : 0) | (charged ? FileCharged : 0);
  r.size = size;
  r.allocated = allocated;
  r.held = held;
  r.inode = inode;
  try {
    // A name never crosses from one block into the next.
    size_t block = nameEnd_ >> NameBlockBits;
    if (block >= names_.size() ||
        (nameEnd_ & NameBlockMask) + (uint32_t)length > NameBlockMask + 1) {
      if (names_.size() >= ((size_t)1 << (32 - NameBlockBits))) return false;
      names_.emplace_back(new char[(size_t)NameBlockMask + 1]);
      nameEnd_ = (uint32_t)(names_.size() - 1) << NameBlockBits;
    }
    // Most trees are on one device: the last one seen is looked at first.
    if (devices_.empty() || devices_.back() != device) {
      auto at = std::find(devices_.begin(), devices_.end(), device);
      if (at == devices_.end() && devices_.size() < 65535) devices_.push_back(device);
      at = std::find(devices_.begin(), devices_.end(), device);
      r.device = (uint16_t)(at == devices_.end() ? 0 : at - devices_.begin());
    } else {
      r.device = (uint16_t)(devices_.size() - 1);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  r.nameAt = nameEnd_;
  if (!Append(r)) return false;
  std::memcpy(names_[nameEnd_ >> NameBlockBits].get() + (nameEnd_ & NameBlockMask), name,
              (size_t)length);
  nameEnd_ += (uint32_t)length;
  return true;
}

bool FileStore::Park(uint32_t from) {
  try {
    parked_.reserve(parked_.size() + (records_ - from));
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (uint32_t i = from; i < records_; ++i) parked_.push_back(At(i));
  records_ = from;
  return true;
}

bool FileStore::Settle(const DirNode* n, uint32_t from, size_t parkedFrom) {
  bool whole = true;
  for (size_t i = parkedFrom; i < parked_.size() && whole; ++i) whole = Append(parked_[i]);
  parked_.resize(parkedFrom);
  try {
    if (records_ > from) ranges_[n] = FileRange{from, records_ - from};
  } catch (const std::bad_alloc&) {
    return false;
  }
  return whole;
}

void FileStore::Hand(const DirNode* from, const DirNode* to) {
  auto at = ranges_.find(from);
  if (at == ranges_.end()) {
    ranges_.erase(to);
    return;
  }
  FileRange r = at->second;
  ranges_.erase(at);
  ranges_[to] = r;
}

FileRange FileStore::FilesOf(const DirNode* n) const {
  auto at = ranges_.find(n);
  return at == ranges_.end() ? FileRange{0, 0} : at->second;
}

size_t FileStore::BytesHeld() const {
  return blocks_.size() * (sizeof(FileRecord) << BlockBits) +
         parked_.capacity() * sizeof(FileRecord) + names_.size() * ((size_t)NameBlockMask + 1) +
         ranges_.size() * 48;
}
