// The dump reader on any bytes, under settings the first byte picks. Invariants: it never
// crashes, hangs or recurses per level (the sanitizers and the fuzzer's limits watch that);
// a dump it refuses has its fault inside the bytes given; and a dump it reads is written by the
// dump writer into a dump that reads back as the same tree, figure for figure.
#include <cstdio>
#include <string>

#include "fuzz/fuzz_support.h"
#include "tree/dump_reader.h"
#include "tree/dump_writer.h"
#include "tree/exclude.h"

namespace {
struct Tree {
  TreeBuild build;
  DirNode root = {};
  BuildSettings settings;
  const ListingSink* sink = nullptr;

  ~Tree() {
    CollapseChildren(&root);
    std::free(root.name);
  }
};

void Begin(DumpRead* read, const PathStr& path) {
  Tree* t = (Tree*)read->context;
  t->root.name = AllocateName(path.text, path.length);
  BeginTree(&t->build, t->settings, &t->root, t->sink);
}

bool Read(FILE* in, Tree* t, DumpRead* read, const PathStr& select) {
  *read = DumpRead{};
  read->displayName = "fuzz";
  read->select = select;
  read->into = TreeConsumerOf(&t->build);
  read->context = t;
  read->begin = Begin;
  bool ok = ReadDump(in, read);
  // A bad dump leaves the tree partly made: finishing closes what is open, so it can go.
  if (read->found) FinishTree(&t->build);
  return ok;
}

// The two trees agree node for node.
bool Same(const DirNode* a, const DirNode* b) {
  if (!a || !b) return a == b;
  if (NameLength(a) != NameLength(b) ||
      std::string(NameText(a), NameLength(a)) != std::string(NameText(b), NameLength(b)) ||
      a->fileCount != b->fileCount || a->localSize != b->localSize ||
      a->subdirsSize != b->subdirsSize || a->wastage != b->wastage)
    return false;
  const DirNode *x = a->firstChild, *y = b->firstChild;
  for (; x && y; x = x->nextSibling, y = y->nextSibling)
    if (!Same(x, y)) return false;
  return !x && !y;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  uint8_t pick = data[0];
  ClearExclusions(false, true);
  if (pick & 0x80) AddExclusion("b", 1);
  static const int32_t clusters[] = {0, 512, 4096, 3000};
  BuildSettings s = {(pick & 1) != 0,
                     (pick & 2) ? 2 : INT32_MAX,
                     (pick & 4) ? 8192 : 0,
                     (SortOrder)((pick >> 3) % SortOrderCount),
                     true,
                     clusters[(pick >> 5) & 3],
                     (pick & 0x40) ? 4096 : 0,
                     false};
  FILE* in = std::tmpfile();
  std::fwrite(data + 1, 1, size - 1, in);
  std::rewind(in);
  FILE* out = std::tmpfile();
  DumpWriter writer;
  StartDumpWriter(&writer, out, SaveFacts{"fuzz", 0, 0, false, false, false, PMake(""), 0, 0, 0});
  Tree first;
  first.settings = s;
  first.sink = &writer.sink;
  DumpRead read;
  PathStr select = PMake((pick & 0x40) ? "a" : "");
  bool ok = Read(in, &first, &read, select);
  std::fclose(in);
  if (!ok) {
    FUZZ_CHECK(read.errorOffset >= 0 && read.errorOffset <= (int64_t)size);
    FUZZ_CHECK(read.error.length > 0);
  } else if (read.found) {
    FUZZ_CHECK(DumpWriterOk(&writer));
    std::fflush(out);
    std::rewind(out);
    Tree second;
    second.settings = s;
    if (s.cluster == 0) second.settings.cluster = first.build.chosenCluster;
    if (s.fileSystemCluster == 0) second.settings.fileSystemCluster = first.build.chosenUnit;
    DumpRead again;
    FUZZ_CHECK(Read(out, &second, &again, PMake("")));
    FUZZ_CHECK(again.found);
    FUZZ_CHECK(Same(&first.root, &second.root));
    FUZZ_CHECK(second.build.totals.files == first.build.totals.files);
  }
  std::fclose(out);
  ClearExclusions(false, true);
  return 0;
}
