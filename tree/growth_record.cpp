#include "tree/growth_record.h"

#include <string>
#include <unordered_map>
#include <utility>

namespace {
std::unordered_map<const DirNode*, Growth> Recorded;  // empty without -since
std::unordered_map<const DirNode*, std::string> Moves;  // where the moved ones were
bool Shown = false;                                     // a comparison has run
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
  Moves.erase(n);
}

void RecordMove(const DirNode* n, std::string from) {
  Moves[n] = std::move(from);
}

const std::string* MovedFrom(const DirNode* n) {
  auto it = Moves.find(n);
  return it == Moves.end() ? nullptr : &it->second;
}

bool MovesShown() {
  return !Moves.empty();
}

void ForgetGrowth() {
  std::unordered_map<const DirNode*, Growth>().swap(Recorded);
  std::unordered_map<const DirNode*, std::string>().swap(Moves);
  Shown = false;
}
