#include "tree/seen_files.h"

#include <cstddef>

namespace {
constexpr int FirstBits = 6;  // a new table has 64 slots

// The slot an id starts its search at: the top bits of a multiplicative hash, so that ids that
// follow each other (inodes and NTFS file ids mostly do) spread over the table.
size_t Home(uint64_t id, int bits) {
  return (size_t)((id * 0x9E3779B97F4A7C15ull) >> (64 - bits));
}

// True when id was added; false when it was there.
bool Place(std::vector<uint64_t>& slots, int bits, uint64_t id) {
  size_t mask = slots.size() - 1;
  for (size_t i = Home(id, bits);; i = (i + 1) & mask) {
    if (slots[i] == id) return false;
    if (slots[i] == 0) {
      slots[i] = id;
      return true;
    }
  }
}

void Grow(SeenIds& table) {
  int bits = table.slots.empty() ? FirstBits : table.bits + 1;
  std::vector<uint64_t> bigger((size_t)1 << bits, 0);
  for (uint64_t id : table.slots)
    if (id != 0) Place(bigger, bits, id);
  table.slots.swap(bigger);
  table.bits = bits;
}
}  // namespace

bool MarkSeen(SeenFiles* set, uint64_t device, uint64_t id) {
  SeenIds* table = nullptr;
  for (SeenIds& t : set->devices)
    if (t.device == device) table = &t;
  if (!table) {
    set->devices.push_back(SeenIds{device, {}, 0, 0, false});
    table = &set->devices.back();
  }
  if (id == 0) {
    bool added = !table->zeroSeen;
    table->zeroSeen = true;
    return added;
  }
  if ((table->held + 1) * 3 > (int64_t)table->slots.size() * 2) Grow(*table);
  if (!Place(table->slots, table->bits, id)) return false;
  ++table->held;
  return true;
}

void ForgetSeen(SeenFiles* set) {
  std::vector<SeenIds>().swap(set->devices);
}

int64_t SeenBytes(const SeenFiles& set) {
  int64_t bytes = 0;
  for (const SeenIds& t : set.devices) bytes += (int64_t)(t.slots.capacity() * sizeof(uint64_t));
  return bytes;
}
