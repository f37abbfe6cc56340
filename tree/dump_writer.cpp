#include "tree/dump_writer.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "console/json_string.h"
#include "tree/dump_file.h"
#include "tree/exclude.h"

namespace {
// Room kept in the info object of a directory whose read error may be said after its entries:
// blanks a reader passes over, or exactly this text once the error is known.
const char LateError[] = ",\"read_error\":true";
constexpr int LateErrorLength = sizeof LateError - 1;

void Put(DumpWriter* w, const char* z) {
  w->piece.append(z);
}

// ,"key":value. By hand rather than by printf: a dump of a big tree holds millions of them.
void PutUnsigned(DumpWriter* w, const char* key, uint64_t value) {
  w->piece.append(",\"");
  w->piece.append(key);
  w->piece.append("\":");
  char digits[24];
  int n = 0;
  do {
    digits[n++] = (char)('0' + value % 10);
    value /= 10;
  } while (value);
  while (n > 0) w->piece.push_back(digits[--n]);
}

// Sizes and counts are never negative; one that were would be written as 0.
void PutNumber(DumpWriter* w, const char* key, int64_t value) {
  PutUnsigned(w, key, value > 0 ? (uint64_t)value : 0);
}

void PutName(DumpWriter* w, const char* name, int length) {
  Put(w, "{\"name\":\"");
  AppendJsonName(&w->piece, name, length);
  Put(w, "\"");
}

// A write failed: the dump is not whole, and the first failure's reason is kept.
void Failed(DumpWriter* w) {
  if (!w->failed) w->error = errno;
  w->failed = true;
}

void Flush(DumpWriter* w) {
  if (!w->piece.empty() &&
      std::fwrite(w->piece.data(), 1, w->piece.size(), w->out) != w->piece.size())
    Failed(w);
  w->written += (int64_t)w->piece.size();
  w->piece.clear();
}

DumpWriter* Of(void* context) {
  return (DumpWriter*)context;
}

void PutMetadata(DumpWriter* w) {
  const SaveFacts& f = w->facts;
  Put(w, "[1,2,{\"progname\":\"quorvel\",\"progver\":\"");
  AppendJsonName(&w->piece, f.version, (int)std::strlen(f.version));
  Put(w, "\"");
  PutNumber(w, "timestamp", f.timestamp);
  Put(w, ",\"quorvel\":{\"exclude\":[");
  for (int i = 0; i < ExclusionCount(); ++i) {
    int length;
    const char* pattern = ExclusionPattern(i, &length);
    Put(w, i > 0 ? ",\"" : "\"");
    AppendJsonName(&w->piece, pattern, length);
    Put(w, "\"");
  }
  Put(w, "]");
  if (f.cluster > 0) PutNumber(w, "cluster", f.cluster);
  if (f.startChargedKnown)
    Put(w, f.startCharged ? ",\"start_charged\":true" : ",\"start_charged\":false");
  if (f.lastListedFirst) Put(w, ",\"last_listed_first\":true");
  if (f.hasDrive) {
    Put(w, ",\"drive\":{\"name\":\"");
    AppendJsonName(&w->piece, f.driveName.text, f.driveName.length);
    Put(w, "\"");
    PutNumber(w, "cluster", f.driveCluster);
    PutNumber(w, "free", f.driveFree);
    PutNumber(w, "capacity", f.driveCapacity);
    Put(w, "}");
  }
  Put(w, "}},\n");
}

void Begin(void* context, const char*, int, const DirectoryFacts&) {
  DumpWriter* w = Of(context);
  PutMetadata(w);
  Flush(w);
}

void Directory(void* context, const char* name, int length, const DirectoryFacts& facts) {
  DumpWriter* w = Of(context);
  DumpWriter::Level level = {false, 0, -1};
  if (!w->open.empty()) Put(w, ",\n");
  Put(w, "[");
  PutName(w, name, length);
  if (facts.size > 0) PutNumber(w, "asize", facts.size);
  if (facts.held > 0) PutNumber(w, "dsize", facts.held);
  if (facts.hasDevice) {
    level.hasDevice = true;
    level.device = facts.device;
    bool differs =
        w->open.empty() || !w->open.back().hasDevice || w->open.back().device != facts.device;
    if (differs) PutUnsigned(w, "dev", facts.device);
  } else if (!w->open.empty()) {
    level.hasDevice = w->open.back().hasDevice;
    level.device = w->open.back().device;
  }
  if (facts.readError) {
    Put(w, LateError);
  } else if (facts.errorMayFollow) {
    Flush(w);
    level.reservedAt = w->written;
    w->piece.append((size_t)LateErrorLength, ' ');
  }
  Put(w, "}");
  Flush(w);
  try {
    w->open.push_back(level);
  } catch (const std::bad_alloc&) {
    // Its close could not be matched: the dump would not be whole.
    w->failed = true;
  }
}

// What tells the names of one file apart from other files, so that a reader charges it once
// as the scan did: ino and hlnkc for a file of several names, and nlink where the count is
// known. A listing that cannot tell whether a file has several names (Windows, links -1) keys
// every file by its id, and so is every file with an id marked.
void PutFileIdentity(DumpWriter* w, const FileFacts& f) {
  if (!f.linked) return;
  PutUnsigned(w, "ino", f.inode);
  Put(w, ",\"hlnkc\":true");
  if (f.links > 1) PutNumber(w, "nlink", f.links);
}

void File(void* context, const FileFacts& f) {
  DumpWriter* w = Of(context);
  Put(w, ",\n");
  PutName(w, f.name, f.nameLength);
  if (f.size > 0) PutNumber(w, "asize", f.size);
  // The space held; where the listing does not tell it (held 0: a Windows listing without
  // allocation sizes), the data the scan charges, so that the dump gives the same figures.
  int64_t held = f.held > f.allocated ? f.held : f.allocated;
  if (held > 0) PutNumber(w, "dsize", held);
  PutFileIdentity(w, f);
  if (f.notRegular) Put(w, ",\"notreg\":true");
  Put(w, "}");
  Flush(w);
}

// As ncdu writes them: what a pattern left out as an info object alone (it may be a file), a
// directory not entered as a directory of its own with nothing in it.
void NotReadEntry(void* context, const char* name, int length, NotRead why) {
  DumpWriter* w = Of(context);
  Put(w, why == NotRead::Excluded ? ",\n" : ",\n[");
  PutName(w, name, length);
  switch (why) {
    case NotRead::Excluded:
      Put(w, ",\"excluded\":\"pattern\"}");
      break;
    case NotRead::OtherFileSystem:
      Put(w, ",\"excluded\":\"othfs\"}]");
      break;
    case NotRead::KernelFileSystem:
      Put(w, ",\"excluded\":\"kernfs\"}]");
      break;
    case NotRead::FirmLink:
      Put(w, ",\"excluded\":\"frmlnk\"}]");
      break;
  }
  Flush(w);
}

// The error goes back into the room kept for it; where none was kept it cannot be said, and
// the directory stays as listed.
void ReadError(void* context) {
  DumpWriter* w = Of(context);
  if (w->open.empty() || w->open.back().reservedAt < 0) return;
  Flush(w);
  int64_t end = w->written;
  if (!SeekFile(w->out, w->open.back().reservedAt) ||
      std::fwrite(LateError, 1, LateErrorLength, w->out) != (size_t)LateErrorLength ||
      !SeekFile(w->out, end))
    Failed(w);
  w->open.back().reservedAt = -1;
}

void Close(void* context) {
  DumpWriter* w = Of(context);
  Put(w, "]");
  Flush(w);
  if (!w->open.empty()) w->open.pop_back();
}

void End(void* context) {
  DumpWriter* w = Of(context);
  Put(w, "]\n");
  Flush(w);
}
}  // namespace

void AppendJsonName(std::string* out, const char* bytes, int length) {
  AppendJsonString(out, bytes, length, JsonDumpEscapes);
}

void StartDumpWriter(DumpWriter* w, FILE* out, const SaveFacts& facts) {
  w->out = out;
  w->facts = facts;
  w->open.clear();
  w->piece.clear();
  w->written = 0;
  w->failed = false;
  w->error = 0;
  // Room for the longest entry (a root's path of the budget, each byte escaped) and the
  // levels of most trees, so that writing asks for no memory as the tree is read.
  try {
    w->piece.reserve((size_t)PathCapacity * 6 + 256);
    w->open.reserve(256);
  } catch (const std::bad_alloc&) {
  }
  w->sink = ListingSink{w, Begin, Directory, File, NotReadEntry, ReadError, Close, End};
}
