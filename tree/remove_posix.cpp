// Deleting and trashing an entry below the start directory on POSIX systems (tree/remove.h).
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
#include <stdio.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "disk/mounts_posix.h"
#include "tree/listing_posix.h"
#include "tree/remove.h"

namespace {
// Directories of the way down kept open while a tree is emptied, besides the entry's parent.
constexpr int HeldDirectories = 32;

constexpr int DirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;

// Notes a failure of path, with the system's text for error as its reason.
void FailWith(RemoveOutcome* outcome, const std::string& path, int error) {
  BStr text;
  ErrorText(error, &text);
  NoteRemoveFailure(outcome, path, text.text);
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
      NoteRemoveFailure(outcome, entryPath, RefusedBadName);
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
        NoteRemoveFailure(outcome, entryPath, refusal);
      else
        FailWith(outcome, entryPath, error);
      return false;
    }
  }
  return true;
}

// The entry a removal is of: its path below the start directory, its name, the folders of the
// way to it open, and its status (a link's own).
struct Target {
  std::string path;
  std::string name;
  Place place;
  struct stat st;
};

// Begins a removal: *outcome emptied, the name checked, the folders of the way opened
// (OpenPlace) and the entry's status read. False, with the failure noted, when one fails.
bool FindTarget(const PathStr& start, const char* parentRel, int parentRelLength, const char* name,
                int nameLength, RemoveOutcome* outcome, Target* t) {
  if (!BeginRemoval(parentRel, parentRelLength, name, nameLength, ValidName, outcome, &t->path))
    return false;
  if (!OpenPlace(start, parentRel, parentRelLength, t->path, outcome, &t->place)) return false;
  t->name.assign(name, (size_t)nameLength);
  if (fstatat(t->place.parent, t->name.c_str(), &t->st, AT_SYMLINK_NOFOLLOW) == 0) return true;
  FailWith(outcome, t->path, errno);
  return false;
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
    NoteRemoveFailure(d->outcome, d->rel, RefusedOtherFileSystem);
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
        NoteRemoveFailure(d->outcome, d->rel, RefusedReplaced);
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

// The trash, laid out as the freedesktop trash layout has it: a folder holding files/, where
// each trashed entry goes under a name of its own, and info/, where NAME.trashinfo says where
// it came from and when. The user's home trash is used for what lies on its file system; for
// anything else the trash at the top directory of the entry's mount.

// The trash's two folders, open, and the directory the paths in its info files are given
// relative to (empty: absolute paths, as the home trash has them).
struct TrashFolders {
  int files = -1;
  int info = -1;
  std::string top;
  ~TrashFolders() {
    CloseIfOpen(files);
    CloseIfOpen(info);
  }
};

// Makes each missing folder of the absolute path (mode 0700). False with *error when one
// cannot be made.
bool MakeFolders(const std::string& path, int* error) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at < path.size() && path[at] != '/') continue;
    std::string folder = path.substr(0, at);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
      *error = errno;
      return false;
    }
  }
  return true;
}

// Opens (making them when missing) the files/ and info/ folders of the trash folder trash, as
// real folders, not links.
bool OpenTrashFolders(int trash, TrashFolders* folders, int* error) {
  const char* names[2] = {"files", "info"};
  int* fds[2] = {&folders->files, &folders->info};
  for (int i = 0; i < 2; ++i) {
    if (mkdirat(trash, names[i], 0700) != 0 && errno != EEXIST) {
      *error = errno;
      return false;
    }
    *fds[i] = openat(trash, names[i], O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (*fds[i] < 0) {
      *error = errno;
      return false;
    }
  }
  return true;
}

// The home trash's path: $XDG_DATA_HOME/Trash, or ~/.local/share/Trash when that is unset or
// not absolute. Empty when there is no home either.
std::string HomeTrashPath() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && data[0] == '/') return std::string(data) + "/Trash";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.local/share/Trash";
  return std::string();
}

// The device of path, or of its nearest ancestor that exists (the trash folder is made there).
bool DeviceOf(std::string path, dev_t* device) {
  struct stat st;
  while (!path.empty()) {
    if (stat(path.c_str(), &st) == 0) {
      *device = st.st_dev;
      return true;
    }
    size_t slash = path.find_last_of('/');
    path.resize(slash == 0 ? 1 : slash == std::string::npos ? 0 : slash);
    if (path == "/") return stat("/", &st) == 0 && ((*device = st.st_dev), true);
  }
  return false;
}

// The home trash, when the entry lies on its file system (device): true when its folders are
// open in folders; false, with *error 0, when it is elsewhere.
bool OpenHomeTrash(dev_t device, TrashFolders* folders, int* error) {
  *error = 0;
  std::string path = HomeTrashPath();
  dev_t there;
  if (path.empty() || !DeviceOf(path, &there) || there != device) return false;
  if (!MakeFolders(path, error)) return false;
  int trash = open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  struct stat st;
  if (trash < 0 || fstat(trash, &st) != 0) {
    *error = errno;
    CloseIfOpen(trash);
    return false;
  }
  bool ok = st.st_dev == device && OpenTrashFolders(trash, folders, error);
  close(trash);
  return ok;
}

// The trash at the top directory of the mount holding the open folder parent (its path
// parentPath, as the kernel names it, ending in '/'): $topdir/.Trash/$uid when $topdir/.Trash
// is a real folder with the sticky bit, else $topdir/.Trash-$uid, made when missing; either
// must be a real folder of the user's own. The reason is noted for entryPath when there is
// none.
bool OpenTopTrash(const std::string& parentPath, dev_t device, const std::string& entryPath,
                  RemoveOutcome* outcome, TrashFolders* folders) {
  MountTable table;
  std::string parent =
      parentPath.size() > 1 ? parentPath.substr(0, parentPath.size() - 1) : parentPath;
  int mount = ReadMountTable(&table) ? MountHolding(table, parent) : -1;
  if (mount < 0) {
    FailWith(outcome, entryPath, ENOENT);
    return false;
  }
  std::string top = table.mounts[(size_t)mount].mountPoint;
  int topFd = open(top.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  struct stat st;
  if (topFd < 0 || fstat(topFd, &st) != 0 || st.st_dev != device) {
    FailWith(outcome, entryPath, topFd < 0 ? errno : EXDEV);
    CloseIfOpen(topFd);
    return false;
  }
  uid_t uid = getuid();
  std::string own = std::to_string((unsigned long)uid);
  int trash = -1;
  int error = 0;
  if (fstatat(topFd, ".Trash", &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
      (st.st_mode & S_ISVTX)) {
    int shared = openat(topFd, ".Trash", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (shared >= 0) {
      if (mkdirat(shared, own.c_str(), 0700) == 0 || errno == EEXIST)
        trash = openat(shared, own.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      close(shared);
    }
    if (trash >= 0 && (fstat(trash, &st) != 0 || st.st_uid != uid)) {
      close(trash);
      trash = -1;
    }
  }
  if (trash < 0) {
    std::string name = ".Trash-" + own;
    if (mkdirat(topFd, name.c_str(), 0700) != 0 && errno != EEXIST) {
      FailWith(outcome, entryPath, errno);
      close(topFd);
      return false;
    }
    trash = openat(topFd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (trash < 0 || fstat(trash, &st) != 0 || st.st_uid != uid) {
      NoteRemoveFailure(outcome, entryPath, RefusedTrashNotOwned);
      CloseIfOpen(trash);
      close(topFd);
      return false;
    }
  }
  close(topFd);
  bool ok = OpenTrashFolders(trash, folders, &error);
  close(trash);
  if (!ok) {
    FailWith(outcome, entryPath, error);
    return false;
  }
  folders->top = top == "/" ? top : top + "/";
  return true;
}

// The kernel's path of the open folder fd, ending in '/'; empty when it cannot be had.
std::string KernelPath(int fd) {
  char link[32];
  char real[PATH_MAX];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, real, sizeof real - 1);
  if (n <= 0 || real[0] != '/') return std::string();
  std::string path(real, (size_t)n);
  if (path.back() != '/') path += '/';
  return path;
}

// A path as an info file's Path line has it: every byte but letters, digits, '/' and
// "-_.!~*'()" written as %XX.
std::string Escaped(const std::string& path) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
        std::strchr("/-_.!~*'()", c)) {
      out += (char)c;
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// The name the entry takes in the trash at the count-th try: its own name, then name.2,
// name.3, ..., cut (never inside a UTF-8 character) so that its info file's name fits.
std::string TrashName(const std::string& name, int count) {
  std::string suffix = count > 1 ? "." + std::to_string(count) : std::string();
  size_t room = NAME_MAX - std::strlen(".trashinfo") - suffix.size();
  size_t keep = name.size();
  if (keep > room) {
    keep = room;
    while (keep > 0 && ((unsigned char)name[keep] & 0xC0) == 0x80) --keep;
  }
  return name.substr(0, keep) + suffix;
}

bool WriteAll(int fd, const std::string& text, int* error) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = n < 0 ? errno : EIO;
      return false;
    }
    done += (size_t)n;
  }
  return true;
}

// Renames the entry into files/ under trashName, never over something there.
int MoveInto(int parent, const char* name, int files, const char* trashName) {
  if (renameat2(parent, name, files, trashName, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system that cannot promise not to replace: the name is looked at first.
  struct stat st;
  if (fstatat(files, trashName, &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  return renameat(parent, name, files, trashName) == 0 ? 0 : errno;
}

// Writes the info file of a name of its own, then moves the entry into files/ under that name;
// the info file goes again when the move fails.
bool MoveToTrash(int parent, const std::string& name, const std::string& absolute,
                 const TrashFolders& folders, const std::string& entryPath,
                 RemoveOutcome* outcome) {
  std::string recorded = absolute;
  if (!folders.top.empty() && absolute.compare(0, folders.top.size(), folders.top) == 0)
    recorded = absolute.substr(folders.top.size());
  time_t now = time(nullptr);
  struct tm local;
  char date[32];
  localtime_r(&now, &local);
  strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  std::string text = "[Trash Info]\nPath=" + Escaped(recorded) + "\nDeletionDate=" + date + "\n";
  for (int count = 1; count < 100000; ++count) {
    std::string trashName = TrashName(name, count);
    std::string infoName = trashName + ".trashinfo";
    int fd = openat(folders.info, infoName.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    int error = errno;
    bool written = fd >= 0 && WriteAll(fd, text, &error);
    if (fd >= 0 && close(fd) != 0 && written) {
      error = errno;
      written = false;
    }
    if (written) {
      error = MoveInto(parent, name.c_str(), folders.files, trashName.c_str());
      if (error == 0) return true;
    }
    if (fd >= 0) unlinkat(folders.info, infoName.c_str(), 0);
    // Something without an info file holds the name in files/: the next name.
    if (written && error == EEXIST) continue;
    FailWith(outcome, entryPath, error);
    return false;
  }
  FailWith(outcome, entryPath, EEXIST);
  return false;
}
}  // namespace

bool DeleteEntry(const PathStr& start, const char* parentRel, int parentRelLength, const char* name,
                 int nameLength, RemoveOutcome* outcome) {
  Target t;
  if (!FindTarget(start, parentRel, parentRelLength, name, nameLength, outcome, &t)) return false;
  Deletion d;
  d.parent = t.place.parent;
  d.device = t.place.device;
  d.outcome = outcome;
  d.rel = t.path;
  RemoveChild(&d, t.place.parent, t.name, S_ISDIR(t.st.st_mode));
  EmptyFrames(&d);
  return outcome->whole;
}

bool TrashEntry(const PathStr& start, const char* parentRel, int parentRelLength, const char* name,
                int nameLength, RemoveOutcome* outcome) {
  Target t;
  if (!FindTarget(start, parentRel, parentRelLength, name, nameLength, outcome, &t)) return false;
  if (S_ISDIR(t.st.st_mode) && OnAnotherMount(t.place.parent, t.name.c_str(), t.place.device)) {
    NoteRemoveFailure(outcome, t.path, RefusedOtherFileSystem);
    return false;
  }
  std::string parentPath = KernelPath(t.place.parent);
  if (parentPath.empty()) {
    FailWith(outcome, t.path, errno ? errno : ENOENT);
    return false;
  }
  TrashFolders folders;
  int error = 0;
  if (!OpenHomeTrash(t.place.device, &folders, &error)) {
    if (error != 0) {
      FailWith(outcome, t.path, error);
      return false;
    }
    if (!OpenTopTrash(parentPath, t.place.device, t.path, outcome, &folders)) return false;
  }
  return MoveToTrash(t.place.parent, t.name, parentPath + t.name, folders, t.path, outcome);
}
