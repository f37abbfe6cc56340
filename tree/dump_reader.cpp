#include "tree/dump_reader.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "console/strings.h"
#include "tree/case_fold.h"
#include "tree/listing_entry.h"

// RapidJSON asserts with assert() by default; nothing the reader is given may end the program,
// and no assertion is reached on a parse of any input, so the checks are left out.
#define RAPIDJSON_ASSERT(x) ((void)0)
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

namespace {
// The most a single text of the dump may take while it is parsed: no name of a path of the
// budget comes near it. Longer texts are refused instead of being held.
constexpr size_t MostTextBytes = 1 << 20;

struct TooLong {};

// The parser's own stack (the text being parsed, the state of each open level), bounded.
struct BoundedAllocator {
  [[maybe_unused]] static const bool kNeedFree = true;
  void* Malloc(size_t size) {
    if (size > MostTextBytes) throw TooLong();
    void* p = size ? std::malloc(size) : nullptr;
    if (size && !p) throw std::bad_alloc();
    return p;
  }
  void* Realloc(void* old, size_t, size_t size) {
    if (size > MostTextBytes) throw TooLong();
    if (size == 0) {
      std::free(old);
      return nullptr;
    }
    void* p = std::realloc(old, size);
    if (!p) throw std::bad_alloc();
    return p;
  }
  static void Free(void* p) { std::free(p); }
};

// Bytes of a file as RapidJSON reads them: buffered, counted, the end told apart from a zero
// byte in the data.
class DumpStream {
 public:
  typedef char Ch;
  explicit DumpStream(FILE* f) : file_(f) { Fill(); }
  Ch Peek() const { return *current_; }
  Ch Take() {
    Ch c = *current_;
    if (current_ < end_ && ++current_ == end_) Fill();
    return c;
  }
  size_t Tell() const { return (size_t)(consumed_ + (current_ - buffer_)); }
  bool AtEnd() const { return current_ == end_ && ended_; }
  // Never written to: the reader parses into its own stack.
  Ch* PutBegin() { return nullptr; }
  void Put(Ch) {}
  void Flush() {}
  size_t PutEnd(Ch*) { return 0; }

 private:
  void Fill() {
    consumed_ += end_ - buffer_;
    size_t n = ended_ ? 0 : std::fread(buffer_, 1, sizeof buffer_ - 1, file_);
    if (n == 0) ended_ = true;
    current_ = buffer_;
    end_ = buffer_ + n;
    *end_ = 0;
  }
  FILE* file_;
  char buffer_[1 << 16];
  char* current_ = buffer_;
  char* end_ = buffer_;
  int64_t consumed_ = 0;
  bool ended_ = false;
};

enum class Key {
  Other,
  Name,
  Asize,
  Dsize,
  Dev,
  Ino,
  Hlnkc,
  Nlink,
  ReadError,
  Excluded,
  Notreg,
  Program,
  Timestamp,
  Quorvel,
  Cluster,
  StartCharged,
  LastListedFirst,
  Drive,
  Free,
  Capacity,
};

enum class Frame : unsigned char { Outer, Metadata, QuorvelMeta, DriveMeta, Directory, Info };

struct Level {
  Frame kind;
  int64_t index;   // elements seen so far (arrays)
  int pathLength;  // a directory's: its path's length
  bool hasDevice;  // a directory's: its device is known
  uint64_t device;
  bool forwarded;   // a directory's: the builder opened it (its close goes there too)
  bool pastBudget;  // a directory's: its path passes the budget (it was not read; it is empty)
};

// What an info object holds, as read.
struct Entry {
  std::string name;
  bool hasName;
  int64_t asize, dsize, nlink;
  bool hasDev, hasIno;
  uint64_t dev, ino;
  bool hlnkc, readError, notreg;
  bool excluded;
  NotRead why;
};

struct Value {
  enum Type { Null, Bool, Unsigned, Negative, Real, Text } type;
  bool b;
  uint64_t u;
  const char* s;
  size_t n;
};

constexpr int MostNesting = 4200;  // past any nesting a path of the budget allows

class Handler {
 public:
  explicit Handler(DumpRead* r) : read_(r) { levels_.reserve(64); }

  bool Null() { return Scalar(Value{Value::Null, false, 0, nullptr, 0}); }
  bool Bool(bool b) { return Scalar(Value{Value::Bool, b, 0, nullptr, 0}); }
  bool Int(int i) { return i < 0 ? Negative() : Uint((unsigned)i); }
  bool Uint(unsigned u) { return Scalar(Value{Value::Unsigned, false, u, nullptr, 0}); }
  bool Int64(int64_t i) { return i < 0 ? Negative() : Uint64((uint64_t)i); }
  bool Uint64(uint64_t u) { return Scalar(Value{Value::Unsigned, false, u, nullptr, 0}); }
  bool Double(double) { return Scalar(Value{Value::Real, false, 0, nullptr, 0}); }
  bool RawNumber(const char*, rapidjson::SizeType, bool) {
    return Fail("a number in a form not read");
  }
  bool String(const char* s, rapidjson::SizeType n, bool) {
    return Scalar(Value{Value::Text, false, 0, s, n});
  }
  bool StartObject();
  bool Key(const char* s, rapidjson::SizeType n, bool);
  bool EndObject(rapidjson::SizeType);
  bool StartArray();
  bool EndArray(rapidjson::SizeType);

  // A fault the handler found: its text, or empty when the parser found it.
  const BStr& Fault() const { return fault_; }
  bool TreeRead() const { return treeRead_; }

 private:
  bool Negative() { return Scalar(Value{Value::Negative, false, 0, nullptr, 0}); }
  bool Fail(const char* why) {
    fault_ = BMake(why);
    return false;
  }
  bool PastBudget() {
    char why[96];
    std::snprintf(why, sizeof why, "a directory whose path is longer than %d bytes", PathBudget);
    return Fail(why);
  }
  bool Scalar(const Value& v);
  bool StoreInfo(const Value& v);
  void StoreMetadata(Frame kind, const Value& v);
  bool Push(Frame kind);
  bool EndInfo(bool own);
  bool OpenDirectory();
  bool CheckName(bool root);
  void BeginSelection();
  void CountSoFar(bool directory);
  bool InsideSelection() const { return selected_ > 0 && skipFrom_ == 0; }
  // The entry read is the next directory on the way to the one asked for.
  bool NextComponent() const {
    return matched_ < (int)components_.size() &&
           SameFileName(components_[matched_].data(), (int)components_[matched_].size(),
                        entry_.name.data(), (int)entry_.name.size());
  }
  // It was not read, being on another file system: the one asked for is not in this dump.
  bool NotOnThisFileSystem() {
    if (!entry_.excluded ||
        (entry_.why != NotRead::OtherFileSystem && entry_.why != NotRead::KernelFileSystem))
      return false;
    read_->selectOnOtherFileSystem = true;
    selected_ = -1;
    return true;
  }
  // The place of a subdirectory met now, in the order the dump lists them.
  int32_t Place() const { return read_->facts.lastListedFirst ? ListedHereLastFirst : ListedHere; }

  DumpRead* read_;
  std::vector<Level> levels_;
  int skipping_ = 0;  // nesting of a value passed over (an unknown key's, a later value)
  enum Key key_ = Key::Other;
  Entry entry_;
  BStr fault_ = {0, {0}};
  int directories_ = 0;  // directory arrays open
  bool treeRead_ = false;
  // The directory to report: the components of the path asked for below the dump's root, how
  // many of them the open directories match, and the level it opened at (0: not yet, -1: not
  // in this dump, or over).
  std::vector<std::string> components_;
  int matched_ = 0;
  int selected_ = 0;
  int skipFrom_ = 0;  // directory level below which nothing goes to the builder (0: none)
  // What has been read so far (DumpRead::progress), and the entries still to read before it is
  // told.
  int64_t directoriesRead_ = 0, filesRead_ = 0, bytesRead_ = 0;
  int untilTold_ = DumpProgressStep;
};

bool IsSeparator(char c) {
  return c == '/' || c == PathSeparator;
}

// Where path goes on past root (neither ends in a separator, unless it is all there is), as the
// system finds paths: a separator of either kind stands for any, and a name for any the file
// system takes for it (any letter case on Windows). npos when path does not start with root.
size_t PastRoot(const std::string& path, const std::string& root) {
  size_t i = 0, j = 0;
  while (j < root.size()) {
    if (i == path.size()) return std::string::npos;
    bool rootSeparator = IsSeparator(root[j]);
    if (rootSeparator || IsSeparator(path[i])) {
      if (!rootSeparator || !IsSeparator(path[i])) return std::string::npos;
      ++i, ++j;
      continue;
    }
    size_t ie = i, je = j;
    while (ie < path.size() && !IsSeparator(path[ie])) ++ie;
    while (je < root.size() && !IsSeparator(root[je])) ++je;
    if (!SameFileName(path.data() + i, (int)(ie - i), root.data() + j, (int)(je - j)))
      return std::string::npos;
    i = ie, j = je;
  }
  return i;
}

bool Handler::Push(Frame kind) {
  if ((int)levels_.size() >= MostNesting) return Fail("nested deeper than any path allows");
  levels_.push_back(Level{kind, 0, 0, false, 0, false, false});
  return true;
}

bool Handler::StartObject() {
  if (skipping_ > 0) {
    ++skipping_;
    return true;
  }
  if (levels_.empty()) return Fail("not a saved scan: a JSON object, not a dump's array");
  Level& top = levels_.back();
  switch (top.kind) {
    case Frame::Outer:
      if (top.index++ == 2) return Push(Frame::Metadata);
      if (top.index > 4) {
        ++read_->passedOver;
        skipping_ = 1;
        return true;
      }
      return Fail("not a saved scan: its metadata or its tree is out of place");
    case Frame::Metadata:
      if (key_ == Key::Quorvel) return Push(Frame::QuorvelMeta);
      skipping_ = 1;
      return true;
    case Frame::QuorvelMeta:
      if (key_ == Key::Drive) return Push(Frame::DriveMeta);
      skipping_ = 1;
      return true;
    case Frame::DriveMeta:
      skipping_ = 1;
      return true;
    case Frame::Directory:
      ++top.index;
      entry_ = Entry();
      entry_.hasName = false;
      entry_.asize = entry_.dsize = entry_.nlink = 0;
      entry_.hasDev = entry_.hasIno = false;
      entry_.dev = entry_.ino = 0;
      entry_.hlnkc = entry_.readError = entry_.notreg = entry_.excluded = false;
      entry_.why = NotRead::Excluded;
      return Push(Frame::Info);
    case Frame::Info:
      if (key_ != Key::Other) return Fail("a field of an entry holds an object");
      skipping_ = 1;
      return true;
  }
  return true;
}

bool Handler::Key(const char* s, rapidjson::SizeType n, bool) {
  if (skipping_ > 0) return true;
  std::string k(s, n);
  key_ = Key::Other;
  switch (levels_.back().kind) {
    case Frame::Info:
      if (k == "name")
        key_ = Key::Name;
      else if (k == "asize")
        key_ = Key::Asize;
      else if (k == "dsize")
        key_ = Key::Dsize;
      else if (k == "dev")
        key_ = Key::Dev;
      else if (k == "ino")
        key_ = Key::Ino;
      else if (k == "hlnkc")
        key_ = Key::Hlnkc;
      else if (k == "nlink")
        key_ = Key::Nlink;
      else if (k == "read_error")
        key_ = Key::ReadError;
      else if (k == "excluded")
        key_ = Key::Excluded;
      else if (k == "notreg")
        key_ = Key::Notreg;
      break;
    case Frame::Metadata:
      if (k == "progname")
        key_ = Key::Program;
      else if (k == "timestamp")
        key_ = Key::Timestamp;
      else if (k == "quorvel")
        key_ = Key::Quorvel;
      break;
    case Frame::QuorvelMeta:
      if (k == "cluster")
        key_ = Key::Cluster;
      else if (k == "start_charged")
        key_ = Key::StartCharged;
      else if (k == "last_listed_first")
        key_ = Key::LastListedFirst;
      else if (k == "drive")
        key_ = Key::Drive;
      break;
    case Frame::DriveMeta:
      if (k == "name")
        key_ = Key::Name;
      else if (k == "cluster")
        key_ = Key::Cluster;
      else if (k == "free")
        key_ = Key::Free;
      else if (k == "capacity")
        key_ = Key::Capacity;
      break;
    default:
      break;
  }
  return true;
}

bool Handler::EndObject(rapidjson::SizeType) {
  if (skipping_ > 0) {
    --skipping_;
    return true;
  }
  Frame kind = levels_.back().kind;
  levels_.pop_back();
  key_ = Key::Other;
  if (kind == Frame::DriveMeta) {
    DumpFacts& f = read_->facts;
    if (f.hasDrive && f.driveFree > f.driveCapacity) {
      f.hasDrive = false;
      f.driveImpossible = true;
    }
  }
  if (kind != Frame::Info) return true;
  // The info object that opens a directory array is the directory's own.
  return EndInfo(levels_.back().index == 1);
}

bool Handler::StartArray() {
  if (skipping_ > 0) {
    ++skipping_;
    return true;
  }
  if (levels_.empty()) return Push(Frame::Outer);
  Level& top = levels_.back();
  switch (top.kind) {
    case Frame::Outer:
      if (top.index++ == 3) {
        ++directories_;
        return Push(Frame::Directory);
      }
      if (top.index > 4) {
        ++read_->passedOver;
        skipping_ = 1;
        return true;
      }
      return Fail("not a saved scan: its version, metadata or tree is out of place");
    case Frame::Directory:
      if (top.index++ == 0) return Fail("a directory without its info object first");
      ++directories_;
      return Push(Frame::Directory);
    case Frame::Info:
      if (key_ != Key::Other) return Fail("a field of an entry holds an array");
      skipping_ = 1;
      return true;
    default:
      skipping_ = 1;
      return true;
  }
}

bool Handler::EndArray(rapidjson::SizeType) {
  if (skipping_ > 0) {
    --skipping_;
    return true;
  }
  Level level = levels_.back();
  levels_.pop_back();
  if (level.kind == Frame::Outer) {
    if (level.index < 4) return Fail("not a saved scan: it holds no tree");
    return true;
  }
  if (level.kind != Frame::Directory) return true;
  if (level.index == 0) return Fail("a directory without its info object");
  int depth = directories_--;
  if (depth == 1) treeRead_ = true;
  if (level.forwarded) read_->into.closeDirectory(read_->into.context);
  if (skipFrom_ == depth) skipFrom_ = 0;
  if (selected_ == depth) selected_ = -1;  // the directory reported is whole
  // Leaving a directory on the way to the one asked for: its siblings are matched afresh.
  if (selected_ == 0 && matched_ > depth - 2) matched_ = depth - 2 > 0 ? depth - 2 : 0;
  return true;
}

bool Handler::Scalar(const Value& v) {
  if (skipping_ > 0) return true;
  if (levels_.empty()) return Fail("not a saved scan: the dump is a single value");
  Level& top = levels_.back();
  switch (top.kind) {
    case Frame::Outer:
      if (top.index == 0 || top.index == 1) {
        if (v.type != Value::Unsigned)
          return Fail("not a saved scan: it does not begin with the format's version");
        if (top.index == 0)
          read_->facts.major = (int64_t)(v.u > INT64_MAX ? INT64_MAX : v.u);
        else
          read_->facts.minor = (int64_t)(v.u > INT64_MAX ? INT64_MAX : v.u);
        if (top.index == 0 && v.u != 1) {
          char why[96];
          std::snprintf(why, sizeof why, "the dump's format is version %llu; version 1 is read",
                        (unsigned long long)v.u);
          return Fail(why);
        }
        ++top.index;
        return true;
      }
      if (top.index < 4) return Fail("not a saved scan: its metadata or its tree is missing");
      ++top.index;
      ++read_->passedOver;
      return true;
    case Frame::Directory:
      return Fail(top.index == 0 ? "a directory without its info object"
                                 : "an entry that is neither an object nor an array");
    case Frame::Info: {
      bool ok = StoreInfo(v);
      key_ = Key::Other;
      return ok;
    }
    default:
      StoreMetadata(top.kind, v);
      key_ = Key::Other;
      return true;
  }
}

// Sizes and counts are whole numbers from 0 to the largest signed 64-bit one; device and inode
// numbers any unsigned 64-bit one.
bool Handler::StoreInfo(const Value& v) {
  auto size = [&](int64_t* out, const char* what) {
    if (v.type != Value::Unsigned || v.u > (uint64_t)INT64_MAX) {
      char why[80];
      std::snprintf(why, sizeof why, "%s is not a whole number from 0 to 2^63-1", what);
      return Fail(why);
    }
    *out = (int64_t)v.u;
    return true;
  };
  auto flag = [&](bool* out, const char* what) {
    if (v.type != Value::Bool) {
      char why[64];
      std::snprintf(why, sizeof why, "%s is not true or false", what);
      return Fail(why);
    }
    *out = v.b;
    return true;
  };
  switch (key_) {
    case Key::Name:
      if (v.type != Value::Text) return Fail("a name that is not a text");
      if (v.n > (size_t)PathBudget) return Fail("a name longer than a path may be");
      entry_.name.assign(v.s, v.n);
      entry_.hasName = true;
      return true;
    case Key::Asize:
      return size(&entry_.asize, "asize");
    case Key::Dsize:
      return size(&entry_.dsize, "dsize");
    case Key::Nlink:
      return size(&entry_.nlink, "nlink");
    case Key::Dev:
    case Key::Ino:
      if (v.type != Value::Unsigned) return Fail("a device or inode number out of range");
      if (key_ == Key::Dev) {
        entry_.hasDev = true;
        entry_.dev = v.u;
      } else {
        entry_.hasIno = true;
        entry_.ino = v.u;
      }
      return true;
    case Key::Hlnkc:
      return flag(&entry_.hlnkc, "hlnkc");
    case Key::ReadError:
      return flag(&entry_.readError, "read_error");
    case Key::Notreg:
      return flag(&entry_.notreg, "notreg");
    case Key::Excluded:
      // Any reason counts as not read; "pattern" is an exclusion, the others are directories
      // that were not entered.
      if (v.type == Value::Text) {
        std::string why(v.s, v.n);
        entry_.excluded = true;
        entry_.why = why == "pattern"  ? NotRead::Excluded
                     : why == "kernfs" ? NotRead::KernelFileSystem
                     : why == "frmlnk" ? NotRead::FirmLink
                                       : NotRead::OtherFileSystem;
      } else if (v.type == Value::Bool && v.b) {
        entry_.excluded = true;
      }
      return true;
    default:
      return true;
  }
}

// Metadata may hold anything: what is not of the kind expected is passed over.
void Handler::StoreMetadata(Frame kind, const Value& v) {
  DumpFacts& f = read_->facts;
  bool whole = v.type == Value::Unsigned && v.u <= (uint64_t)INT64_MAX;
  if (kind == Frame::Metadata) {
    if (key_ == Key::Program && v.type == Value::Text) {
      f.hasProgram = true;
      f.program = BMake(v.s, v.n > (size_t)BStrCapacity ? BStrCapacity : (int)v.n);
    } else if (key_ == Key::Timestamp && whole) {
      f.hasTimestamp = true;
      f.timestamp = (int64_t)v.u;
    }
  } else if (kind == Frame::QuorvelMeta) {
    if (key_ == Key::Cluster && whole && v.u >= 1 && v.u <= 65536) f.cluster = (int32_t)v.u;
    if (key_ == Key::StartCharged && v.type == Value::Bool) {
      f.startChargedKnown = true;
      f.startCharged = v.b;
    }
    if (key_ == Key::LastListedFirst && v.type == Value::Bool) f.lastListedFirst = v.b;
  } else if (kind == Frame::DriveMeta) {
    if (key_ == Key::Name && v.type == Value::Text && v.n <= (size_t)PathBudget) {
      f.hasDrive = true;
      BSet(f.driveName, v.s, (int)v.n);
    } else if (key_ == Key::Cluster && whole && v.u <= 65536) {
      f.driveCluster = (int32_t)v.u;
    } else if (key_ == Key::Free && whole) {
      f.driveFree = (int64_t)v.u;
    } else if (key_ == Key::Capacity && whole) {
      f.driveCapacity = (int64_t)v.u;
    }
  }
}

// A name read from the dump. The outermost directory's is its path; every other is one name,
// which cannot hold a separator or a zero byte, nor be "." or "..".
bool Handler::CheckName(bool root) {
  const std::string& n = entry_.name;
  if (!entry_.hasName) return Fail("an entry without a name");
  if (n.empty()) return Fail("an empty name");
  if (n.find('\0') != std::string::npos) return Fail("a name holding a zero byte");
  if (root) return true;
  if (n.find('/') != std::string::npos) return Fail("a name holding '/'");
  if (n == "." || n == "..") return Fail("a name that is '.' or '..'");
  return true;
}

// The dump's root is known: what the directory asked for is, below it.
void Handler::BeginSelection() {
  const PathStr& want = read_->select;
  std::string root = read_->facts.rootName.text;
  auto trimmed = [](std::string s) {
    while (s.size() > 1 && IsSeparator(s.back())) s.pop_back();
    return s;
  };
  root = trimmed(root);
  std::string path = trimmed(std::string(want.text, want.length));
  std::string rest;
  size_t past = PastRoot(path, root);
  if (want.length == 0 || path == "." || past == path.size()) {
    rest.clear();
  } else if (past != std::string::npos) {
    rest = path.substr(past);
  } else if (read_->wholeIfElsewhere) {
    read_->elsewhere = true;
  } else if (!path.empty() && !IsSeparator(path[0])) {
    // Below the dump's root, as a relative path.
    rest = path.compare(0, 2, "./") == 0 ? path.substr(2) : path;
  } else {
    selected_ = -1;  // not in this dump
    return;
  }
  components_.clear();
  for (size_t i = 0; i < rest.size();) {
    size_t j = i;
    while (j < rest.size() && !IsSeparator(rest[j])) ++j;
    if (j > i && rest.compare(i, j - i, ".") != 0) components_.push_back(rest.substr(i, j - i));
    i = j + 1;
  }
  matched_ = 0;
}

bool Handler::OpenDirectory() {
  int depth = directories_;
  Level& dir = levels_.back();  // the directory array whose info this is
  bool root = depth == 1;
  if (!CheckName(root)) return false;
  // A directory array sits in its parent's array, the outermost in the dump's.
  const Level* parent = root ? nullptr : &levels_[levels_.size() - 2];
  int length = (int)entry_.name.size();
  // Path lengths are kept with the separator that follows, as the scan keeps them.
  if (root) {
    if (length > PathBudget) return Fail("the outermost path is longer than the budget");
    dir.pathLength = IsSeparator(entry_.name.back()) ? length : length + 1;
    BSet(read_->facts.rootName, entry_.name.data(), length);
  } else {
    if (parent->pastBudget) return PastBudget();
    // One that a scan skipped, as its path passes the budget, is listed unread and empty: a
    // directory of zero figures, as on the disk. Anything below it is too deep to be read.
    if (!PathFits(parent->pathLength + length, PathBudget, PathPatternRoom)) {
      if (!entry_.readError) return PastBudget();
      dir.pastBudget = true;  // the tree builder counts it among the skipped
    }
    dir.pathLength = parent->pathLength + length + 1;
  }
  // The device a directory is on: its own, or its parent's when the dump does not repeat it.
  dir.hasDevice = entry_.hasDev || (parent && parent->hasDevice);
  dir.device = entry_.hasDev ? entry_.dev : parent ? parent->device : 0;
  DirectoryFacts facts = {entry_.asize, entry_.dsize,     dir.hasDevice,
                          dir.device,   entry_.readError, false};
  // Skipped, not unreadable: counted apart, its node not marked, as the scan leaves it.
  if (dir.pastBudget) facts.errorKind = ReadErrorKind::Skipped;
  const TreeConsumer& into = read_->into;
  if (root) BeginSelection();
  if (selected_ == 0 && !root && matched_ == depth - 2 && NextComponent()) {
    if (NotOnThisFileSystem()) return true;
    components_[matched_] = entry_.name;  // the report names it as the dump does
    matched_ = depth - 1;
  }
  if (selected_ == 0 && matched_ == depth - 1 && matched_ == (int)components_.size()) {
    // The directory to report: the builder's root, named by its path, with the separator the
    // dump's own path uses.
    PathStr path = read_->facts.rootName;
    char separator = std::strchr(path.text, '\\') && !std::strchr(path.text, '/') ? '\\' : '/';
    for (const std::string& c : components_) {
      if (path.length == 0 || !IsSeparator(path.text[path.length - 1]))
        BAppendChar(path, separator);
      BAppend(path, c.data(), (int)c.size());
    }
    selected_ = depth;
    read_->found = true;
    read_->begin(read_, path);
    dir.forwarded = true;
    into.openDirectory(into.context, path.text, path.length, facts, ListedHere);
    return true;
  }
  if (InsideSelection() && depth > selected_) {
    if (entry_.excluded) {
      into.addNotRead(into.context, entry_.name.data(), length, entry_.why, Place());
      skipFrom_ = depth;
    } else {
      // Refused (excluded, another file system): its close still goes to the builder, which
      // passes over what comes up to it.
      dir.forwarded = true;
      if (!into.openDirectory(into.context, entry_.name.data(), length, facts, Place()))
        skipFrom_ = depth;
    }
    return true;
  }
  into.noteHeld(into.context, entry_.dsize);
  return true;
}

// Counts the entry whose info object ended, a directory's own or a file's; one listed as not
// read is neither.
void Handler::CountSoFar(bool directory) {
  if (directory) {
    ++directoriesRead_;
  } else if (!entry_.excluded) {
    ++filesRead_;
    bytesRead_ = AddSize(bytesRead_, entry_.asize < entry_.dsize ? entry_.asize : entry_.dsize);
  }
  if (!read_->progress || --untilTold_ > 0) return;
  untilTold_ = DumpProgressStep;
  read_->progress(directoriesRead_, filesRead_, bytesRead_);
}

bool Handler::EndInfo(bool own) {
  CountSoFar(own);
  if (own) return OpenDirectory();
  if (!CheckName(false)) return false;
  if (levels_.back().pastBudget) return PastBudget();
  const TreeConsumer& into = read_->into;
  // A directory not read, listed as an entry (as ncdu lists it), on the way to the one asked for.
  if (selected_ == 0 && matched_ == directories_ - 1 && NextComponent()) NotOnThisFileSystem();
  if (!InsideSelection()) {
    into.noteHeld(into.context, entry_.dsize);
    return true;
  }
  int length = (int)entry_.name.size();
  if (entry_.excluded) {
    into.addNotRead(into.context, entry_.name.data(), length, entry_.why, Place());
    return true;
  }
  const Level& dir = levels_.back();
  FileFacts f;
  f.name = entry_.name.data();
  f.nameLength = length;
  f.size = entry_.asize;
  f.held = entry_.dsize;
  f.allocated = entry_.asize < entry_.dsize ? entry_.asize : entry_.dsize;
  // gdu marks only one name of a file with several; ncdu all of them, with the count.
  f.linked = entry_.hasIno && (entry_.hlnkc || entry_.nlink > 1);
  f.device = dir.device;
  f.inode = entry_.ino;
  f.links = entry_.nlink;
  f.notRegular = entry_.notreg;
  into.addFile(into.context, f);
  return true;
}
}  // namespace

bool ReadDump(FILE* in, DumpRead* read) {
  read->facts = DumpFacts();
  BClear(read->facts.rootName);
  BClear(read->facts.driveName);
  BClear(read->facts.program);
  read->found = false;
  read->selectOnOtherFileSystem = false;
  read->elsewhere = false;
  BClear(read->error);
  read->errorOffset = 0;
  read->passedOver = 0;
  DumpStream stream(in);
  Handler handler(read);
  BoundedAllocator allocator;
  rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, BoundedAllocator> reader(
      &allocator, 4096);
  rapidjson::ParseResult result;
  try {
    result = reader.Parse<rapidjson::kParseIterativeFlag>(stream, handler);
  } catch (const TooLong&) {
    read->error = BMake("a text longer than a mebibyte");
    read->errorOffset = (int64_t)stream.Tell();
    return false;
  } catch (const std::bad_alloc&) {
    read->error = BMake("not enough memory to read it");
    read->errorOffset = (int64_t)stream.Tell();
    return false;
  }
  if (std::ferror(in)) {
    read->error = BMake(std::strerror(errno));
    read->errorOffset = (int64_t)stream.Tell();
    return false;
  }
  if (!result) {
    read->errorOffset = (int64_t)result.Offset();
    if (handler.Fault().length > 0) {
      read->error = handler.Fault();
    } else if (stream.AtEnd() && (size_t)result.Offset() >= stream.Tell()) {
      read->error = BMake(stream.Tell() == 0 ? "the file is empty"
                                             : "it ends before the dump does (cut short?)");
    } else if (result.Code() == rapidjson::kParseErrorDocumentRootNotSingular) {
      read->error = BMake("bytes after the end of the dump");
    } else {
      read->error = BMake("not JSON: ");
      BAppend(read->error, rapidjson::GetParseError_En(result.Code()));
    }
    return false;
  }
  // Only blanks may follow the dump, as ncdu takes it; the parser stops at a zero byte too.
  if (!stream.AtEnd()) {
    read->error = BMake("bytes after the end of the dump");
    read->errorOffset = (int64_t)stream.Tell();
    return false;
  }
  if (!handler.TreeRead()) {
    read->error = BMake("not a saved scan: it holds no tree");
    read->errorOffset = (int64_t)stream.Tell();
    return false;
  }
  return true;
}
