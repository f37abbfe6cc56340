// The records of a getdents64 read, as the Linux listing checks and walks them, on any bytes: the
// check keeps whole records only (never past the batch, each with a name of 1 to 255 bytes ending
// in its zero inside the record), the count of what was measured never passes the room for it,
// and the walk gives exactly the records checked, each name where its record says.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tree/listing_posix.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The kernel writes at most a buffer's worth, 8-aligned.
  size_t n = size > (size_t)BatchBytes ? (size_t)BatchBytes : size;
  std::vector<uint64_t> aligned((n + 7) / 8 + 1);
  char* batch = (char*)aligned.data();
  std::memcpy(batch, data, n);
  long used = CheckRecords(batch, (long)n);
  FUZZ_CHECK(used >= 0 && used <= (long)n && used % 8 == 0);
  FUZZ_CHECK(CheckRecords(batch, used) == used);
  std::vector<Measured> measured(MaxBatchRecords);
  int count = SortRecords(batch, used, measured.data());
  FUZZ_CHECK(count >= 0 && count <= MaxBatchRecords && count <= used / SmallestDirent);
  BatchCursor c{batch, used, 0, 0, measured.data()};
  FindEntry e;
  int walked = 0;
  long at = 0;
  while (NextInBatch(&c, &e)) {
    const LinuxDirent* d = (const LinuxDirent*)(batch + at);
    FUZZ_CHECK(e.name == d->name);
    FUZZ_CHECK(e.nameLength >= 1 && e.nameLength <= 255);
    FUZZ_CHECK(DirentNameOffset + e.nameLength < d->reclen && e.name[e.nameLength] == 0);
    FUZZ_CHECK((int)std::strlen(e.name) == e.nameLength);
    FUZZ_CHECK(!IsDotOrDotDot(e.name, e.nameLength) || (e.attributes & AttrDirectory));
    at += d->reclen;
    ++walked;
  }
  FUZZ_CHECK(at == used && walked == count);
  return 0;
}
