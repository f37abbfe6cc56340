#include "tree/ntfs_listing.h"

#include <cstring>

namespace {
// Byte offsets in a FILE_ID_BOTH_DIR_INFO record (little-endian fields); the name follows the
// fixed part.
constexpr int NextEntryAt = 0, EndOfFileAt = 40, AllocationAt = 48, AttributesAt = 56,
              NameBytesAt = 60, FileIdAt = 96, NameAt = 104;

uint64_t Read(const unsigned char* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

bool StartsWith(const PathStr& s, const char* prefix) {
  int n = (int)std::strlen(prefix);
  return s.length >= n && std::memcmp(s.text, prefix, n) == 0;
}
}  // namespace

void StartBatch(NtfsBatch* batch, const void* bytes, int length) {
  batch->bytes = (const unsigned char*)bytes;
  batch->length = length;
  batch->next = length > 0 ? 0 : -1;
}

bool NextRecord(NtfsBatch* batch, ListingRecord* record) {
  int at = batch->next;
  if (at < 0 || batch->length - at < NameAt) {
    batch->next = -1;
    return false;
  }
  const unsigned char* p = batch->bytes + at;
  uint64_t nameBytes = Read(p + NameBytesAt, 4);
  if (nameBytes > (uint64_t)(batch->length - at - NameAt)) {
    batch->next = -1;
    return false;
  }
  record->name = p + NameAt;
  record->nameUnits = (int)(nameBytes / 2);
  record->attributes = (uint32_t)Read(p + AttributesAt, 4);
  record->endOfFile = (int64_t)Read(p + EndOfFileAt, 8);
  record->allocationSize = (int64_t)Read(p + AllocationAt, 8);
  record->fileId = Read(p + FileIdAt, 8);
  // A record's offset of its successor is 0 for the last; one that does not move forward would
  // read the same records for ever.
  uint64_t step = Read(p + NextEntryAt, 4);
  batch->next = step == 0 || step > (uint64_t)(batch->length - at) ? -1 : at + (int)step;
  return true;
}

bool KnownFileId(uint64_t id) {
  return id != 0 && id != ~(uint64_t)0;
}

// Followed, a link to a parent would loop until the path budget (exponentially with two of
// them), and one to another folder would count its data twice; as on POSIX, a link is a file
// of its listed size.
namespace {
constexpr uint32_t ReparsePoint = 0x400;
}

uint32_t ListedAttributes(uint32_t attributes) {
  if ((attributes & AttrDirectory) && (attributes & ReparsePoint)) attributes &= ~AttrDirectory;
  return attributes;
}

void EntryFromRecord(const ListingRecord& r, FindEntry* entry) {
  entry->attributes = ListedAttributes(r.attributes);
  entry->size = r.endOfFile;
  int64_t held = r.allocationSize < 0 ? 0 : r.allocationSize;
  entry->held = held;
  entry->allocated = held < r.endOfFile ? held : r.endOfFile;
  // The listing gives no count of a file's names, so every file with an id is one that may
  // have several. One volume is read per scan (mount points are not entered), so the id alone
  // tells the files apart.
  entry->linked = KnownFileId(r.fileId);
  entry->device = 0;
  entry->inode = r.fileId;
  entry->links = 0;
  entry->notRegular = (r.attributes & ReparsePoint) != 0;
}

LongPathStr LongDirectoryForm(const PathStr& path) {
  LongPathStr out;
  BClear(out);
  int from;  // where the components that "." and ".." act on begin in path
  if (StartsWith(path, "\\\\?\\") || StartsWith(path, "\\\\.\\")) {
    BAppend(out, path);
    if (out.text[out.length - 1] != '\\') BAppendChar(out, '\\');
    return out;
  }
  if (path.length >= 3 && path.text[1] == ':' && path.text[2] == '\\') {
    BAppend(out, "\\\\?\\");
    BAppend(out, path.text, 3);
    from = 3;
  } else if (StartsWith(path, "\\\\")) {
    // The server and the share stay as they are: ".." never climbs above the share.
    BAppend(out, "\\\\?\\UNC\\");
    from = 2;
    for (int kept = 0; kept < 2 && from < path.length; ++from) {
      BAppendChar(out, path.text[from]);
      if (path.text[from] == '\\') ++kept;
    }
    if (out.text[out.length - 1] != '\\') BAppendChar(out, '\\');
  } else {
    BAppend(out, path);
    return out;
  }
  const int base = out.length;
  for (int i = from; i < path.length;) {
    int end = i;
    while (end < path.length && path.text[end] != '\\') ++end;
    int n = end - i;
    const char* part = path.text + i;
    if (n == 2 && part[0] == '.' && part[1] == '.') {
      int cut = out.length - 1;
      while (cut > base && out.text[cut - 1] != '\\') --cut;
      BCut(out, cut > base ? cut : base);
    } else if (n > 0 && !(n == 1 && part[0] == '.')) {
      BAppend(out, part, n);
      BAppendChar(out, '\\');
    }
    i = end + 1;
  }
  return out;
}
