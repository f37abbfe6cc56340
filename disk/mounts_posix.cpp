// The kernel's mount table and path lookup through it. Only code for POSIX systems goes in this
// file.
#include "disk/mounts_posix.h"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>

namespace {
// Undoes the octal escapes (\040 for a blank, \011, \012, \134) of a mountinfo path field.
std::string Unescape(const char* p, const char* end) {
  std::string out;
  while (p < end) {
    if (*p == '\\' && end - p >= 4 && p[1] >= '0' && p[1] <= '3') {
      out += (char)((p[1] - '0') * 64 + (p[2] - '0') * 8 + (p[3] - '0'));
      p += 4;
    } else {
      out += *p++;
    }
  }
  return out;
}

bool ReadNumber(const char*& p, const char* end, unsigned* value) {
  if (p >= end || *p < '0' || *p > '9') return false;
  unsigned v = 0;
  while (p < end && *p >= '0' && *p <= '9') v = v * 10 + (unsigned)(*p++ - '0');
  *value = v;
  return true;
}

// One line: "ID PARENT MAJOR:MINOR ROOT MOUNTPOINT ...". False when malformed.
bool ParseMountLine(const char* line, const char* end, MountEntry* m) {
  const char* fields[6];
  const char* ends[6];
  int count = 0;
  const char* p = line;
  while (count < 6 && p < end) {
    while (p < end && *p == ' ') ++p;
    if (p >= end) break;
    fields[count] = p;
    while (p < end && *p != ' ') ++p;
    ends[count++] = p;
  }
  if (count < 6) return false;
  unsigned id, parent, major, minor;
  const char* q = fields[0];
  if (!ReadNumber(q, ends[0], &id) || q != ends[0]) return false;
  q = fields[1];
  if (!ReadNumber(q, ends[1], &parent) || q != ends[1]) return false;
  q = fields[2];
  if (!ReadNumber(q, ends[2], &major) || q >= ends[2] || *q++ != ':') return false;
  if (!ReadNumber(q, ends[2], &minor)) return false;
  m->id = (int)id;
  m->parent = (int)parent;
  m->device = makedev(major, minor);
  m->mountPoint = Unescape(fields[4], ends[4]);
  if (m->mountPoint.empty() || m->mountPoint[0] != '/') return false;
  while (m->mountPoint.size() > 1 && m->mountPoint.back() == '/') m->mountPoint.pop_back();
  return true;
}

// Steps from mount `current` onto the mounts stacked at path `at` on it, to the top one.
int Climb(const MountTable& t, int current, const std::string& at) {
  // Each step goes to a mount of the table; a malformed table cannot make this loop forever.
  for (size_t guard = 0; guard <= t.mounts.size(); ++guard) {
    auto it = t.onTop.find({t.mounts[current].id, at});
    if (it == t.onTop.end()) break;
    current = it->second;
  }
  return current;
}
}  // namespace

bool ParseMountTable(const std::string& text, MountTable* table) {
  table->mounts.clear();
  table->onTop.clear();
  table->root = -1;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    if (nl > start) {
      MountEntry m;
      if (!ParseMountLine(text.data() + start, text.data() + nl, &m)) return false;
      table->mounts.push_back(m);
    }
    start = nl + 1;
  }
  std::map<int, int> byId;
  for (size_t i = 0; i < table->mounts.size(); ++i) byId[table->mounts[i].id] = (int)i;
  for (size_t i = 0; i < table->mounts.size(); ++i) {
    const MountEntry& m = table->mounts[i];
    bool parentKnown = m.parent != m.id && byId.count(m.parent) != 0;
    if (!parentKnown) {
      // The namespace's own root has its parent outside the table.
      if (m.mountPoint == "/" && table->root < 0) table->root = (int)i;
      continue;
    }
    // Two mounts at one place on one parent: the later (higher id) is taken as the one on top.
    auto key = std::make_pair(m.parent, m.mountPoint);
    auto it = table->onTop.find(key);
    if (it == table->onTop.end() || table->mounts[it->second].id < m.id) table->onTop[key] = (int)i;
  }
  return table->root >= 0;
}

bool ReadMountTable(MountTable* table) {
  int fd = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string text;
  char chunk[8192];
  bool ok = true;
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    text.append(chunk, (size_t)n);
  }
  close(fd);
  // A table cut short would hide mounts: only a whole one, ending with its line end, is used.
  if (!ok || text.empty() || text.back() != '\n') return false;
  return ParseMountTable(text, table);
}

int MountHolding(const MountTable& t, const std::string& path) {
  if (t.root < 0 || path.empty() || path[0] != '/') return -1;
  int current = Climb(t, t.root, "/");
  size_t pos = 1;
  while (pos < path.size()) {
    size_t slash = path.find('/', pos);
    if (slash == std::string::npos) slash = path.size();
    if (slash > pos) current = Climb(t, current, path.substr(0, slash));
    pos = slash + 1;
  }
  return current;
}

std::vector<std::string> MountPointsBelow(const MountTable& t, const std::string& below) {
  std::vector<std::string> out;
  for (const MountEntry& m : t.mounts) {
    std::string at = m.mountPoint == "/" ? "/" : m.mountPoint + "/";
    if (at.size() <= below.size() || at.compare(0, below.size(), below) != 0) continue;
    int top = MountHolding(t, m.mountPoint);
    if (top >= 0 && t.mounts[top].mountPoint == m.mountPoint) out.push_back(at);
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}
