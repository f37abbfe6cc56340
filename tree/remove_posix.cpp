// Deleting an entry below the start directory on POSIX systems (tree/remove.h).
// Only code for POSIX systems goes in this file.
//
// Everything is done relative to open directories, never by a path the system would resolve
// again: the start directory is opened, then each folder of the way to the entry with
// O_NOFOLLOW, and the entry is removed by its name in the last of them. A directory is emptied
// depth first, each subdirectory opened from its parent with O_NOFOLLOW: a subdirectory that a
// link replaced since it was listed fails that open and is removed as the link it now is, so
// what the link points to is never reached. Each directory's listing is read whole before
// anything in it is removed, since a listing read while its directory changes may pass over
// entries.
//
// A tree may be deeper than the descriptors a process has: only the last HeldDirectories
// directories of the way down stay open. One that was closed is opened again on the way back
// up from the subdirectory just emptied (its "..", never a link) or, failing that, by name from
// the nearest one still open, and is used only when it is the same directory as before (device
// and inode).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tree/listing_posix.h"
#include "tree/remove.h"

namespace {
// Directories of the way down kept open while a tree is emptied, besides the entry's parent.
constexpr int HeldDirectories = 32;

constexpr int DirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;

std::string SystemText(int error) {
  BStr text;
  ErrorText(error, &text);
  return std::string(text.text, (size_t)text.length);
}

void Fail(RemoveOutcome* outcome, const std::string& path, const char* reason) {
  NoteRemoveFailure(outcome, path.data(), (int)path.size(), reason);
}
void FailWith(RemoveOutcome* outcome, const std::string& path, int error) {
  Fail(outcome, path, SystemText(error).c_str());
}

void CloseIfOpen(int fd) {
  if (fd >= 0) close(fd);
}

// True when the directory `name` of fd (fd itself when name is empty) is not on the start
// directory's mount: the root of a mount (another file system, or a bind mount of this one), as
// the kernel says since 5.8; before that, on a device other than the start directory's. Also
// true when it cannot be told.
bool OnAnotherMount(int fd, const char* name, dev_t startDevice) {
  int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (name[0] ? 0 : AT_EMPTY_PATH);
  struct statx sx;
  if (statx(fd, name, flags, STATX_TYPE | STATX_INO, &sx) == 0) {
    if ((sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
        (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT))
      return true;
    return makedev(sx.stx_dev_major, sx.stx_dev_minor) != startDevice;
  }
  struct stat st;
  return fstatat(fd, name, &st, flags) != 0 || st.st_dev != startDevice;
}

// The start directory and the folder holding the entry, opened as the rules say.
struct Place {
  int start = -1;
  int parent = -1;
  dev_t device = 0;  // the start directory's
  ~Place() {
    if (parent != start) CloseIfOpen(parent);
    CloseIfOpen(start);
  }
};

bool ValidName(const char* name, int length) {
  return length > 0 && length <= NAME_MAX && !std::memchr(name, '/', (size_t)length) &&
         !std::memchr(name, 0, (size_t)length) && !IsDotOrDotDot(name, length);
}

// Opens the start directory (as the scan does: whatever its own path goes through) and the
// folders of parentRel below it one at a time: none may be a link, "." or "..", or on another
// mount. False, with the failure noted for entryPath, when one cannot be opened so.
bool OpenPlace(const PathStr& start, const char* parentRel, int parentRelLength,
               const std::string& entryPath, RemoveOutcome* outcome, Place* place) {
  place->start = open(start.text, O_PATH | O_DIRECTORY | O_CLOEXEC);
  struct stat st;
  if (place->start < 0 || fstat(place->start, &st) != 0) {
    FailWith(outcome, entryPath, errno);
    return false;
  }
  place->device = st.st_dev;
  place->parent = place->start;
  int at = 0;
  while (at < parentRelLength) {
    const char* slash =
        (const char*)std::memchr(parentRel + at, '/', (size_t)(parentRelLength - at));
    int end = slash ? (int)(slash - parentRel) : parentRelLength;
    std::string folder(parentRel + at, (size_t)(end - at));
    at = end + 1;
    if (!ValidName(folder.data(), (int)folder.size())) {
      Fail(outcome, entryPath, RefusedBadName);
      return false;
    }
    int next = openat(place->parent, folder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int error = errno;
    const char* refusal = nullptr;
    if (next < 0 && (error == ELOOP || error == ENOTDIR) &&
        fstatat(place->parent, folder.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode))
      refusal = RefusedLinkOnTheWay;
    else if (next >= 0 && OnAnotherMount(next, "", place->device))
      refusal = RefusedOtherFileSystem;
    if (place->parent != place->start) close(place->parent);
    place->parent = next;
    if (refusal || next < 0) {
      if (refusal)
        Fail(outcome, entryPath, refusal);
      else
        FailWith(outcome, entryPath, error);
      return false;
    }
  }
  return true;
}

struct Child {
  std::string name;
  unsigned char type;  // the listing's d_type: DT_DIR, DT_UNKNOWN, ...
};

// A directory being emptied.
struct Frame {
  int fd = -1;  // open, or -1 when closed to spare descriptors
  dev_t device = 0;
  ino_t inode = 0;
  std::string name;  // in the directory above
  size_t relLength;  // of its path below the start directory, with its separator
  std::vector<Child> children;
  size_t next = 0;    // the next child to remove
  bool keep = false;  // something in it stays, so it stays too
};

// One deletion of a tree below the start directory.
struct Deletion {
  int parent;  // the open folder holding the entry
  dev_t device;
  RemoveOutcome* outcome;
  std::string rel;  // the path below the start directory being worked on
  std::vector<Frame> frames;
  int held = 0;  // frames with their directory open
};

// Reads the whole listing of the open directory fd, "." and ".." left out. False with *error
// when a read failed; what was read before stays in children.
bool ReadChildren(int fd, std::vector<Child>* children, int* error) {
  alignas(8) char batch[BatchBytes];
  for (;;) {
    long n = ReadBatch(fd, batch, sizeof batch, error);
    if (n < 0) return false;
    if (n == 0) return true;
    for (long at = 0; at < n;) {
      const LinuxDirent* d = (const LinuxDirent*)(batch + at);
      int length = NameLength(d);
      if (!IsDotOrDotDot(d->name, length))
        children->push_back({std::string(d->name, (size_t)length), d->type});
      at += d->reclen;
    }
  }
}

// Closes the directories of the way down but the last, to give their descriptors back.
bool SpareDescriptors(Deletion* d) {
  bool spared = false;
  for (size_t i = 0; i + 1 < d->frames.size(); ++i) {
    if (d->frames[i].fd < 0) continue;
    close(d->frames[i].fd);
    d->frames[i].fd = -1;
    --d->held;
    spared = true;
  }
  return spared;
}

enum Entered { EnteredDirectory, NoDirectory, EnterFailed };

// Opens the directory `name` of dirFd (its path below the start directory in d->rel) and reads
// its listing, as a new frame. NoDirectory when the name holds no directory now (a link or a
// file took its place: it is removed as one); EnterFailed, noted, when it cannot be emptied.
Entered Enter(Deletion* d, int dirFd, const std::string& name) {
  int fd = openat(dirFd, name.c_str(), DirectoryFlags);
  if (fd < 0 && (errno == EMFILE || errno == ENFILE) && SpareDescriptors(d))
    fd = openat(dirFd, name.c_str(), DirectoryFlags);
  if (fd < 0) {
    if (errno == ELOOP || errno == ENOTDIR) return NoDirectory;
    FailWith(d->outcome, d->rel, errno);
    return EnterFailed;
  }
  struct stat st;
  if (OnAnotherMount(fd, "", d->device) || fstat(fd, &st) != 0) {
    close(fd);
    Fail(d->outcome, d->rel, RefusedOtherFileSystem);
    return EnterFailed;
  }
  Frame frame;
  frame.fd = fd;
  frame.device = st.st_dev;
  frame.inode = st.st_ino;
  frame.name = name;
  d->rel += '/';
  frame.relLength = d->rel.size();
  int error = 0;
  if (!ReadChildren(fd, &frame.children, &error)) {
    // Emptied as far as it was read; it stays, having said why.
    d->rel.pop_back();
    FailWith(d->outcome, d->rel, error);
    d->rel += '/';
    frame.keep = true;
  }
  d->frames.push_back(std::move(frame));
  ++d->held;
  if (d->held > HeldDirectories) {
    for (Frame& f : d->frames) {
      if (f.fd < 0) continue;
      close(f.fd);
      f.fd = -1;
      --d->held;
      break;
    }
  }
  if (RemoveStepHook) RemoveStepHook(d->rel.data(), (int)d->rel.size());
  return EnteredDirectory;
}

// Removes the child `name` of dirFd (its path below the start directory in d->rel): a
// directory is entered as a new frame, anything else unlinked, a link itself. True when it
// stays, having said why. A directory that has taken the name of something else since the
// listing is entered instead, and a link or file that has taken a directory's name is unlinked.
bool RemoveChild(Deletion* d, int dirFd, const std::string& name, bool directory) {
  if (directory) {
    Entered e = Enter(d, dirFd, name);
    if (e != NoDirectory) return e == EnterFailed;
  }
  if (unlinkat(dirFd, name.c_str(), 0) == 0 || errno == ENOENT) return false;
  if (errno == EISDIR && !directory) return RemoveChild(d, dirFd, name, true);
  FailWith(d->outcome, d->rel, errno);
  return true;
}

// Opens the directory of frames[index] again: by ".." from the directory below it (childFd)
// or by name from the nearest one above that is open, and only when it is still the same one.
bool Reopen(Deletion* d, size_t index, int childFd) {
  Frame& f = d->frames[index];
  struct stat st;
  auto same = [&](int fd) {
    return fd >= 0 && fstat(fd, &st) == 0 && st.st_dev == f.device && st.st_ino == f.inode;
  };
  int fd = childFd >= 0 ? openat(childFd, "..", DirectoryFlags) : -1;
  if (!same(fd)) {
    CloseIfOpen(fd);
    size_t open = index;
    while (open > 0 && d->frames[open - 1].fd < 0) --open;
    fd = open == 0 ? d->parent : d->frames[open - 1].fd;
    for (size_t j = open; j <= index && fd >= 0; ++j) {
      int next = openat(fd, d->frames[j].name.c_str(), DirectoryFlags);
      bool ok = next >= 0 && fstat(next, &st) == 0 && st.st_dev == d->frames[j].device &&
                st.st_ino == d->frames[j].inode;
      if (j > open) close(fd);
      if (!ok) {
        CloseIfOpen(next);
        next = -1;
      }
      fd = next;
    }
    if (fd < 0) return false;
  }
  f.fd = fd;
  ++d->held;
  return true;
}

// Empties and removes the directories of d->frames, the last first.
void EmptyFrames(Deletion* d) {
  while (!d->frames.empty()) {
    size_t owner = d->frames.size() - 1;
    Frame& top = d->frames[owner];
    if (top.next < top.children.size()) {
      Child& c = top.children[top.next++];
      d->rel.resize(top.relLength);
      d->rel += c.name;
      bool directory = c.type == DT_DIR;
      struct stat st;
      if (c.type == DT_UNKNOWN && fstatat(top.fd, c.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        directory = S_ISDIR(st.st_mode);
      std::string name = std::move(c.name);
      // May add a frame, which moves the others.
      if (RemoveChild(d, top.fd, name, directory)) d->frames[owner].keep = true;
      continue;
    }
    Frame done = std::move(top);
    d->frames.pop_back();
    if (done.fd >= 0) --d->held;
    int parentFd = d->parent;
    if (!d->frames.empty()) {
      Frame& above = d->frames.back();
      if (above.fd < 0 && !Reopen(d, d->frames.size() - 1, done.fd)) {
        // The directory above can no longer be reached as the same one: it stays with what
        // it still holds.
        CloseIfOpen(done.fd);
        d->rel.resize(above.relLength - 1);
        Fail(d->outcome, d->rel, RefusedReplaced);
        above.children.clear();
        above.keep = true;
        continue;
      }
      parentFd = above.fd;
    }
    CloseIfOpen(done.fd);
    d->rel.resize(done.relLength - 1);
    bool stays = done.keep;
    if (!stays && unlinkat(parentFd, done.name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
      FailWith(d->outcome, d->rel, errno);
      stays = true;
    }
    if (stays && !d->frames.empty()) d->frames.back().keep = true;
  }
}

}  // namespace

bool DeleteEntry(const PathStr& start, const char* parentRel, int parentRelLength, const char* name,
                 int nameLength, RemoveOutcome* outcome) {
  *outcome = RemoveOutcome{};
  std::string entryPath(parentRel, (size_t)parentRelLength);
  entryPath.append(name, (size_t)nameLength);
  if (!ValidName(name, nameLength)) {
    Fail(outcome, entryPath, RefusedBadName);
    return false;
  }
  Place place;
  if (!OpenPlace(start, parentRel, parentRelLength, entryPath, outcome, &place)) return false;
  std::string entry(name, (size_t)nameLength);
  struct stat st;
  if (fstatat(place.parent, entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    FailWith(outcome, entryPath, errno);
    return false;
  }
  Deletion d;
  d.parent = place.parent;
  d.device = place.device;
  d.outcome = outcome;
  d.rel = entryPath;
  RemoveChild(&d, place.parent, entry, S_ISDIR(st.st_mode));
  EmptyFrames(&d);
  outcome->whole = outcome->failures == 0;
  return outcome->whole;
}
