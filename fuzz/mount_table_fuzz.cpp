// The mount table's parser and path lookup through it, on any text: a table is refused or has a
// root mount; lookup ends, on a mount of the table, for any path; and the mount points below a
// directory are sorted, each once, strictly below it and ending in a separator, and are where
// lookup steps onto a mount.
#include <string>

#include "disk/mounts_posix.h"
#include "fuzz/fuzz_support.h"

namespace {
void CheckBelow(const MountTable& t, const std::string& below) {
  std::vector<std::string> points = MountPointsBelow(t, below);
  for (size_t i = 0; i < points.size(); ++i) {
    const std::string& p = points[i];
    FUZZ_CHECK(p.size() > below.size() && p.compare(0, below.size(), below) == 0);
    FUZZ_CHECK(p.back() == '/');
    if (i > 0) FUZZ_CHECK(points[i - 1] < p);
    std::string mountPoint = p.size() > 1 ? p.substr(0, p.size() - 1) : p;
    int m = MountHolding(t, mountPoint);
    FUZZ_CHECK(m >= 0 && t.mounts[m].mountPoint == mountPoint);
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text((const char*)data, size);
  MountTable t;
  if (!ParseMountTable(text, &t)) return 0;
  FUZZ_CHECK(t.root >= 0 && t.root < (int)t.mounts.size());
  CheckBelow(t, "/");
  for (const MountEntry& m : t.mounts) {
    FUZZ_CHECK(!m.mountPoint.empty() && m.mountPoint[0] == '/');
    FUZZ_CHECK(m.mountPoint == "/" || m.mountPoint.back() != '/');
    int at = MountHolding(t, m.mountPoint + "/x/y");
    FUZZ_CHECK(at >= 0 && at < (int)t.mounts.size());
    CheckBelow(t, m.mountPoint == "/" ? "/" : m.mountPoint + "/");
  }
  return 0;
}
