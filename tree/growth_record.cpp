#include "tree/growth_record.h"

#include <unordered_map>

namespace {
std::unordered_map<const DirNode*, Growth> Recorded;  // empty without -since
bool Shown = false;                                   // a comparison has run
}  // namespace

bool GrowthShown() {
  return Shown;
}

Growth NodeGrowth(const DirNode* n) {
  auto it = Recorded.find(n);
  return it == Recorded.end() ? Growth{0, Change::Same} : it->second;
}

void StartGrowthRecord() {
  Shown = true;
}

void RecordGrowth(const DirNode* n, int64_t bytes, Change change) {
  Recorded[n] = Growth{bytes, change};
}

void AddGrowth(const DirNode* n, int64_t delta) {
  if (!Shown || delta == 0) return;
  Growth& g = Recorded[n];
  g.bytes = AddSize(g.bytes, delta);
}

void DropGrowth(const DirNode* n) {
  Recorded.erase(n);
}

void ForgetGrowth() {
  std::unordered_map<const DirNode*, Growth>().swap(Recorded);
  Shown = false;
}
