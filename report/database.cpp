#include "report/database.h"

#include <cstring>
#include <vector>

#include "console/output.h"
#include "console/strings.h"
#include "report/engine.h"
#include "report/format.h"
#include "tree/growth.h"
#include "tree/top_list.h"

PathStr RowPath = {0, {0}};

namespace {
// The separator rows join names with: the build's own, or the other one when the start path
// holds only that (a saved scan made on the other system).
char RowSeparator = PathSeparator;
}  // namespace

namespace {
// Both forms end their lines with CR LF on every build, as CSV files do.
void EndRow() {
  WriteCrLf();
}

// Writes header line 0 (with the given text) and the empty line 1 where the pass asks for them.
int32_t Header(const char* titles) {
  if (NextLine == -1) return 2;
  if (NextLine == 0 && LinesLeft > 0) {
    WriteText(titles);
    EndRow();
    --LinesLeft;
    ++NextLine;
  }
  if (NextLine == 1 && LinesLeft > 0) {
    EndRow();
    --LinesLeft;
    ++NextLine;
  }
  LineNumber = 2;
  return 0;
}

// Writes a piece of a quoted path, each double quote in it twice, as CSV readers and tab
// importers expect: a lone quote would end the field there and merge rows (a POSIX name may
// hold one; a Windows name cannot, so nothing changes there).
void WriteQuotedPiece(const char* bytes, int length) {
  int start = 0;
  for (int i = 0; i < length; ++i) {
    if (bytes[i] == '"') {
      WriteName(bytes + start, i + 1 - start);
      start = i;
    }
  }
  WriteName(bytes + start, length - start);
}

// How a CSV form spells its lines: the separator between fields, the line end, and whether a
// byte order mark comes first. -csv is for programs; -excel is as Excel reads a file opened by a
// double-click: UTF-8 only with the mark, rows only with CR LF, fields only with the user's
// list separator (";" where the decimal point is ",").
struct CsvSpelling {
  char separator[8];
  int separatorLength;
  const char* lineEnd;
  int lineEndLength;
  bool byteOrderMark;
};
const CsvSpelling ForPrograms = {",", 1, "\n", 1, false};
CsvSpelling ForExcel = {",", 1, "\r\n", 2, true};
const CsvSpelling* Spelling = &ForPrograms;  // the spelling of the CSV form being written

void WriteSeparator() {
  WriteText(Spelling->separator, Spelling->separatorLength);
}
void WriteCsvLineEnd() {
  WriteText(Spelling->lineEnd, Spelling->lineEndLength);
}

// Whether a field must be quoted to be one field: it holds the separator, a double quote or a
// line end.
bool NeedsQuotes(const char* bytes, int length) {
  const char* sep = Spelling->separator;
  int n = Spelling->separatorLength;
  for (int i = 0; i < length; ++i) {
    if (bytes[i] == '"' || bytes[i] == '\r' || bytes[i] == '\n') return true;
    if (i + n <= length && std::memcmp(bytes + i, sep, (size_t)n) == 0) return true;
  }
  return false;
}

// A CSV header line: the titles joined by the separator (the mark first where the spelling has
// one); 1 when probed.
int32_t CsvTitles(const char* const* titles, int count) {
  if (NextLine == -1) return 1;
  if (NextLine == 0 && LinesLeft > 0) {
    if (Spelling->byteOrderMark) WriteText("\xEF\xBB\xBF", 3);
    for (int i = 0; i < count; ++i) {
      if (i > 0) WriteSeparator();
      WriteText(titles[i]);
    }
    WriteCsvLineEnd();
    --LinesLeft;
    ++NextLine;
  }
  LineNumber = 1;
  return 0;
}

// The quoted path of a row: RowPath alone for the scanned directory, RowPath and the name for
// every other one. Written in pieces, so a long name is not cut.
void WriteRowPath(const DirNode* node) {
  WriteText("\"", 1);
  WriteQuotedPiece(RowPath.text, RowPath.length);
  if (node != &RootNode) WriteQuotedPiece(NameText(node), NameLength(node));
  WriteText("\"", 1);
}

// A CSV field of two pieces (a path and a name, either may be empty), quoted only when it has
// to be, its quotes then doubled. The one quoter of the CSV forms.
void WriteCsvField(const char* head, int headLength, const char* tail, int tailLength) {
  if (NeedsQuotes(head, headLength) || NeedsQuotes(tail, tailLength)) {
    WriteText("\"", 1);
    WriteQuotedPiece(head, headLength);
    WriteQuotedPiece(tail, tailLength);
    WriteText("\"", 1);
  } else {
    WriteName(head, headLength);
    WriteName(tail, tailLength);
  }
}

// The path field of a CSV row: the comma form's path (a directory that received merged
// figures keeps its marker).
void WriteCsvPath(const DirNode* node) {
  WriteCsvField(RowPath.text, RowPath.length, NameText(node),
                node == &RootNode ? 0 : NameLength(node));
}

// One level of the walk: the next node of a sibling list still to write, and the row path's
// length for that list.
struct WalkLevel {
  const DirNode* node;
  int remembered;
};
LevelStack<WalkLevel> Levels;  // the levels of the walk under way, the outermost first

// The pre-order walk shared by every form, with a stack of levels held in place (LevelStack), so
// that a tree as deep as the path budget allows takes no more stack than a flat one; false once the
// pass has written its last line.
bool Walk(const DirNode* first, void (*writeRow)(const DirNode*)) {
  const int top = RowPath.length;
  Levels.clear();
  Levels.push_back(WalkLevel{first, top});
  while (!Levels.empty()) {
    const DirNode* node = Levels.back().node;
    if (!node) {
      // A sibling list is done: back to its parent's, which goes on unless the pass is over.
      Levels.pop_back();
      if (Levels.empty()) break;
      BCut(RowPath, Levels.back().remembered);
      if (LinesLeft <= 0) {
        BCut(RowPath, top);
        return false;
      }
      continue;
    }
    Levels.back().node = node->nextSibling;
    // A pass whose budget the header used up writes no row: a screen of five rows or fewer
    // has room for the two title lines only on its first page.
    if (LineNumber == NextLine && LinesLeft > 0) {
      ++NextLine;
      --LinesLeft;
      writeRow(node);
    }
    ++LineNumber;
    if (LinesLeft <= 0) {
      BCut(RowPath, top);
      return false;
    }
    if (node->firstChild) {
      if (node != &RootNode) ExtendRowPath(node);
      Levels.push_back(WalkLevel{node->firstChild, RowPath.length});
    }
  }
  return true;
}
}  // namespace

void SetRowPath(const PathStr& scannedPath) {
  RowPath = scannedPath;
  char other = PathSeparator == '/' ? '\\' : '/';
  bool own = std::memchr(RowPath.text, PathSeparator, (size_t)RowPath.length) != nullptr;
  bool foreign = std::memchr(RowPath.text, other, (size_t)RowPath.length) != nullptr;
  RowSeparator = !own && foreign ? other : PathSeparator;
  AppendSeparatorWith(RowPath, PathBudget + 1, RowSeparator);
}

// With growth since a saved scan, its column stands before the directory's.
int32_t TabHeader() {
  if (GrowthShown())
    return Header(
        "\"Total-no subs\"\t\"Wasted space\"\t \"Dir+SubDirs\"\t      \"Growth\"\t\"Directory "
        "name\"");
  return Header("\"Total-no subs\"\t\"Wasted space\"\t \"Dir+SubDirs\"\t\"Directory name\"");
}

int32_t CommaHeader() {
  if (GrowthShown())
    return Header(
        "\"Total-no subs\",\"Wasted space\",\"Dir+SubDirs\",\"Growth\",\"Directory name\"");
  return Header("\"Total-no subs\",\"Wasted space\",\"Dir+SubDirs\",\"Directory name\"");
}

void WriteTabRow(const DirNode* node) {
  WriteText(PadLeft(FormatPlain(node->localSize), 14));
  WriteText("\t", 1);
  WriteText(PadLeft(FormatPlain(node->wastage), 14));
  WriteText("\t", 1);
  WriteText(PadLeft(FormatPlain(NodeTotal(node)), 14));
  WriteText("\t", 1);
  if (GrowthShown()) {
    WriteText(PadLeft(FormatPlain(NodeGrowth(node).bytes), 14));
    WriteText("\t", 1);
  }
  WriteRowPath(node);
  EndRow();
}

namespace {
// The three byte counts that open a comma-separated row, each followed by its comma.
void WriteCommaCounts(const DirNode* node) {
  WriteText(FormatPlain(node->localSize));
  WriteText(",", 1);
  WriteText(FormatPlain(node->wastage));
  WriteText(",", 1);
  WriteText(FormatPlain(NodeTotal(node)));
  WriteText(",", 1);
}
}  // namespace

void WriteCommaRow(const DirNode* node) {
  WriteCommaCounts(node);
  if (GrowthShown()) {
    WriteText(FormatPlain(NodeGrowth(node).bytes));
    WriteText(",", 1);
  }
  WriteRowPath(node);
  EndRow();
}

namespace {
int32_t TreeCsvHeader() {
  static const char* const Plain[] = {"own_bytes", "wasted_bytes", "total_bytes", "files", "path"};
  static const char* const WithGrowth[] = {"own_bytes", "wasted_bytes", "total_bytes", "files",
                                           "growth_bytes", "change", "path"};
  return GrowthShown() ? CsvTitles(WithGrowth, 7) : CsvTitles(Plain, 5);
}

void WriteCsvNumber(int64_t value) {
  WriteText(FormatPlain(value));
  WriteSeparator();
}
}  // namespace

int32_t CsvHeader() {
  Spelling = &ForPrograms;
  return TreeCsvHeader();
}

int32_t ExcelHeader() {
  Spelling = &ForExcel;
  return TreeCsvHeader();
}

void SetListSeparator(const char* bytes, int length) {
  if (length <= 0 || length > (int)sizeof ForExcel.separator) {
    bytes = ",";
    length = 1;
  }
  std::memcpy(ForExcel.separator, bytes, (size_t)length);
  ForExcel.separatorLength = length;
}

void WriteCsvRow(const DirNode* node) {
  WriteCsvNumber(node->localSize);
  WriteCsvNumber(node->wastage);
  WriteCsvNumber(NodeTotal(node));
  WriteCsvNumber(node->fileCount);
  if (GrowthShown()) {
    Growth g = NodeGrowth(node);
    WriteCsvNumber(g.bytes);
    WriteText(g.change == Change::New ? "new" : g.change == Change::Gone ? "gone" : "");
    WriteSeparator();
  }
  WriteCsvPath(node);
  WriteCsvLineEnd();
}

void ExtendRowPath(const DirNode* node) {
  BAppend(RowPath, NameText(node), OwnNameLength(node));
  BAppendChar(RowPath, RowSeparator);
  BCut(RowPath, PathBudget + 1);
}

void WalkTabTree(const DirNode* first) {
  Walk(first, WriteTabRow);
}
void WalkCommaTree(const DirNode* first) {
  Walk(first, WriteCommaRow);
}
void WalkCsvTree(const DirNode* first) {
  Spelling = &ForPrograms;
  Walk(first, WriteCsvRow);
}
void WalkExcelTree(const DirNode* first) {
  Spelling = &ForExcel;
  Walk(first, WriteCsvRow);
}

std::string RowPathOf(const std::string& rel) {
  std::string path(RowPath.text, (size_t)RowPath.length);
  size_t from = path.size();
  path += rel;
  if (RowSeparator != PathSeparator)
    for (size_t i = from; i < path.size(); ++i)
      if (path[i] == PathSeparator) path[i] = RowSeparator;
  return path;
}

namespace {
int32_t TopTitles() {
  static const char* const Titles[] = {"kind", "bytes", "path"};
  return CsvTitles(Titles, 3);
}

void WriteTopRows() {
  const TopList* lists[2] = {&LargestAnywhere.files, &LargestAnywhere.dirs};
  for (const TopList* list : lists) {
    for (const TopEntry& e : list->kept) {
      if (LineNumber == NextLine && LinesLeft > 0) {
        ++NextLine;
        --LinesLeft;
        WriteText(list == &LargestAnywhere.files ? "file" : "dir");
        WriteSeparator();
        WriteCsvNumber(e.bytes);
        std::string path = RowPathOf(e.path);
        WriteCsvField(path.data(), (int)path.size(), "", 0);
        WriteCsvLineEnd();
      }
      ++LineNumber;
      if (LinesLeft <= 0) return;
    }
  }
}
}  // namespace

int32_t TopCsvHeader() {
  Spelling = &ForPrograms;
  return TopTitles();
}
void WalkTopCsvRows(const DirNode*) {
  Spelling = &ForPrograms;
  WriteTopRows();
}
int32_t TopExcelHeader() {
  Spelling = &ForExcel;
  return TopTitles();
}
void WalkTopExcelRows(const DirNode*) {
  Spelling = &ForExcel;
  WriteTopRows();
}
