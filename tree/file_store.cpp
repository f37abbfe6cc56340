#include "tree/file_store.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

void FileStore::Clear() {
  records_ = 0;
  std::vector<std::unique_ptr<FileRecord[]>>().swap(blocks_);
  std::vector<FileRecord>().swap(parked_);
  std::vector<std::unique_ptr<char[]>>().swap(names_);
  nameEnd_ = 0;
  std::vector<uint64_t>().swap(devices_);
  std::vector<Apart>().swap(apart_);
  ranges_.Clear();
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
                    bool linked, bool names, bool notRegular, bool charged, uint64_t device,
                    uint64_t inode) {
  if (length < 1 || length > 255) return false;
  FileRecord r;
  r.nameLength = (uint8_t)length;
  r.flags =
      (linked ? FileLinked : 0) | (names ? FileNames : 0) | (notRegular ? FileNotRegular : 0) |
      (charged ? FileCharged : 0);
  r.size = size;
  int64_t kept = 0;  // the space held, as the record alone gives it
  if (held != 0 && size > 0 && size <= INT64_MAX - RoundedUnit &&
      held == (size + RoundedUnit - 1) / RoundedUnit * RoundedUnit) {
    r.flags |= FileHeldRounded;
    kept = held;
  }
  bool apart = linked || held != kept;
  if (!apart && allocated != std::min(size, held)) {
    if (held == 0 && allocated == size)
      r.flags |= FileHeldUntold;
    else
      apart = true;
  }
  if (apart) r.flags |= FileApart;
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
  try {
    if (apart) apart_.push_back(Apart{nameEnd_, allocated, held, inode});
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!Append(r)) {
    if (apart) apart_.pop_back();
    return false;
  }
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
    if (records_ > from) ranges_.Put(n, FileRange{from, records_ - from});
  } catch (const std::bad_alloc&) {
    return false;
  }
  return whole;
}

void FileStore::Hand(const DirNode* from, const DirNode* to) { ranges_.Rekey(from, to); }

FileRange FileStore::FilesOf(const DirNode* n) const {
  const FileRange* r = ranges_.Find(n);
  return r ? *r : FileRange{0, 0};
}

const FileStore::Apart* FileStore::ApartOf(const FileRecord& r) const {
  if (!(r.flags & FileApart)) return nullptr;
  auto at = std::lower_bound(apart_.begin(), apart_.end(), r.nameAt,
                             [](const Apart& a, uint32_t nameAt) { return a.nameAt < nameAt; });
  return at != apart_.end() && at->nameAt == r.nameAt ? &*at : nullptr;
}

int64_t FileStore::Held(const FileRecord& r) const {
  if (const Apart* a = ApartOf(r)) return a->held;
  return r.flags & FileHeldRounded ? (r.size + RoundedUnit - 1) / RoundedUnit * RoundedUnit : 0;
}

int64_t FileStore::Allocated(const FileRecord& r) const {
  if (const Apart* a = ApartOf(r)) return a->allocated;
  return r.flags & FileHeldUntold ? r.size : std::min(r.size, Held(r));
}

uint64_t FileStore::Inode(const FileRecord& r) const {
  const Apart* a = ApartOf(r);
  return a ? a->inode : 0;
}

size_t FileStore::BytesHeld() const {
  return blocks_.size() * (sizeof(FileRecord) << BlockBits) +
         parked_.capacity() * sizeof(FileRecord) + names_.size() * ((size_t)NameBlockMask + 1) +
         apart_.capacity() * sizeof(Apart) + ranges_.Size() * sizeof(std::pair<const DirNode*, FileRange>);
}
