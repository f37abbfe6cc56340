#include "tree/seen_files.h"

#include <chrono>
#include <cstddef>
#include <random>

namespace {
// A new table has 4 slots: a saved scan may put every directory on a device of its own.
constexpr int FirstBits = 2;

// A key of this run's own, so that no saved scan can choose ids that all land on one slot.
uint64_t MakeKey() {
  uint64_t key = (uint64_t)std::chrono::steady_clock::now().time_since_epoch().count();
  key ^= (uint64_t)(uintptr_t)&key;
  try {
    std::random_device device;
    key ^= (uint64_t)device() << 32 ^ device();
  } catch (...) {
  }
  return key | 1;
}
const uint64_t Key = MakeKey();

// The slot an id starts its search at: the top bits of the id and the key mixed (the
// finalizer of splitmix64), so that ids that follow each other spread over the table.
size_t Home(uint64_t id, int bits) {
  uint64_t x = id ^ Key;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  x ^= x >> 31;
  return (size_t)(x >> (64 - bits));
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
  // Files of one device mostly come together: the last table used is tried first.
  if (!set->last || set->last->device != device) {
    auto at = set->devices.find(device);
    if (at == set->devices.end())
      at = set->devices.emplace(device, SeenIds{device, {}, 0, 0, false}).first;
    set->last = &at->second;
  }
  SeenIds* table = set->last;
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
  set->devices.clear();
  set->last = nullptr;
}

int64_t SeenBytes(const SeenFiles& set) {
  int64_t bytes = 0;
  for (const auto& [device, t] : set.devices)
    bytes += (int64_t)(t.slots.capacity() * sizeof(uint64_t));
  return bytes;
}
