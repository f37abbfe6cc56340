#include "report/database.h"

#include <cstring>
#include <vector>

#include "console/output.h"
#include "console/strings.h"
#include "report/engine.h"
#include "report/format.h"
#include "report/lists.h"
#include "tree/growth.h"
#include "tree/top_list.h"

namespace {
PathStr RowPath = {0, {0}};

// The separator rows join names with: the build's own, or the other one when the start path
// holds only that (a saved scan made on the other system).
char RowSeparator = PathSeparator;
PathStr RowStart;  // the start directory's path in the rows, with its separator
}  // namespace

namespace {
// Both forms end their lines with CR LF on every build, as CSV files do.
void EndRow() {
  WriteCrLf();
}

// Writes header line 0 (with the given text) and the empty line 1 where the pass asks for them.
int32_t Header(const char* titles) {
  if (Probing()) return 2;
  if (TakeLine()) {
    WriteText(titles);
    EndRow();
  }
  if (TakeLine()) EndRow();
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
  if (Probing()) return 1;
  if (TakeLine()) {
    if (Spelling->byteOrderMark) WriteText("\xEF\xBB\xBF", 3);
    for (int i = 0; i < count; ++i) {
      if (i > 0) WriteSeparator();
      WriteText(titles[i]);
    }
    WriteCsvLineEnd();
  }
  return 0;
}

// The quoted path of a row: RowPath alone for the scanned directory, RowPath and the name for
// every other one. Written in pieces, so a long name is not cut.
void WriteRowPath(const ShownRow& row) {
  WriteText("\"", 1);
  WriteQuotedPiece(RowPath.text, RowPath.length);
  if (!row.root) WriteQuotedPiece(NameText(row.node), NameLength(row.node));
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
void WriteCsvPath(const ShownRow& row) {
  WriteCsvField(RowPath.text, RowPath.length, NameText(row.node),
                row.root ? 0 : NameLength(row.node));
}

// RowPath := RowPath + the node's name + separator, kept to PathBudget bytes and the separator
// (a directory whose path is as long as the budget allows keeps its separator). The name is taken
// without any merge marker, so the paths below a directory that received folded figures are
// the real paths.
void ExtendRowPath(const ShownRow& row) {
  BAppend(RowPath, NameText(row.node), OwnNameLength(row.node));
  BAppendChar(RowPath, RowSeparator);
  BCut(RowPath, PathBudget + 1);
}

int RowPathLength() {
  return RowPath.length;
}
void CutRowPath(int length) {
  BCut(RowPath, length);
}
}  // namespace

const PathStr& CurrentRowPath() {
  return RowPath;
}

void SetRowPath(const PathStr& scannedPath) {
  RowPath = scannedPath;
  char other = PathSeparator == '/' ? '\\' : '/';
  bool own = std::memchr(RowPath.text, PathSeparator, (size_t)RowPath.length) != nullptr;
  bool foreign = std::memchr(RowPath.text, other, (size_t)RowPath.length) != nullptr;
  RowSeparator = !own && foreign ? other : PathSeparator;
  AppendSeparatorWith(RowPath, PathBudget + 1, RowSeparator);
  RowStart = RowPath;
}

// With growth since a saved scan, its column stands before the directory's.
int32_t TabHeader(const RunRecord&) {
  if (GrowthShown())
    return Header(
        "\"Total-no subs\"\t\"Wasted space\"\t \"Dir+SubDirs\"\t      \"Growth\"\t\"Directory "
        "name\"");
  return Header("\"Total-no subs\"\t\"Wasted space\"\t \"Dir+SubDirs\"\t\"Directory name\"");
}

int32_t CommaHeader(const RunRecord&) {
  if (GrowthShown())
    return Header(
        "\"Total-no subs\",\"Wasted space\",\"Dir+SubDirs\",\"Growth\",\"Directory name\"");
  return Header("\"Total-no subs\",\"Wasted space\",\"Dir+SubDirs\",\"Directory name\"");
}

namespace {
void WriteTabRow(const ShownRow& row) {
  const DirNode* node = row.node;
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
  WriteRowPath(row);
  EndRow();
}

// The three byte counts that open a comma-separated row, each followed by its comma.
void WriteCommaCounts(const DirNode* node) {
  WriteText(FormatPlain(node->localSize));
  WriteText(",", 1);
  WriteText(FormatPlain(node->wastage));
  WriteText(",", 1);
  WriteText(FormatPlain(NodeTotal(node)));
  WriteText(",", 1);
}
void WriteCommaRow(const ShownRow& row) {
  const DirNode* node = row.node;
  WriteCommaCounts(node);
  if (GrowthShown()) {
    WriteText(FormatPlain(NodeGrowth(node).bytes));
    WriteText(",", 1);
  }
  WriteRowPath(row);
  EndRow();
}

int32_t TreeCsvHeader() {
  static const char* const Plain[] = {"own_bytes", "wasted_bytes", "total_bytes", "files", "path"};
  static const char* const WithGrowth[] = {"own_bytes", "wasted_bytes", "total_bytes", "files",
                                           "growth_bytes", "change", "path", "moved_from"};
  return GrowthShown() ? CsvTitles(WithGrowth, 8) : CsvTitles(Plain, 5);
}

void WriteCsvNumber(int64_t value) {
  WriteText(FormatPlain(value));
  WriteSeparator();
}
}  // namespace

int32_t CsvHeader(const RunRecord&) {
  Spelling = &ForPrograms;
  return TreeCsvHeader();
}

int32_t ExcelHeader(const RunRecord&) {
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

namespace {
void WriteCsvRow(const ShownRow& row) {
  const DirNode* node = row.node;
  WriteCsvNumber(node->localSize);
  WriteCsvNumber(node->wastage);
  WriteCsvNumber(NodeTotal(node));
  WriteCsvNumber(node->fileCount);
  if (GrowthShown()) {
    Growth g = NodeGrowth(node);
    WriteCsvNumber(g.bytes);
    WriteText(ChangeWord(g.change));
    WriteSeparator();
  }
  WriteCsvPath(row);
  if (GrowthShown()) {
    // Where a moved directory was, spelled as the paths of the rows are.
    WriteSeparator();
    if (const std::string* from = MovedFrom(node)) {
      std::string rel = *from;
      for (char& c : rel)
        if (c == PathSeparator) c = RowSeparator;
      WriteCsvField(RowStart.text, RowStart.length, rel.data(), (int)rel.size());
    }
  }
  WriteCsvLineEnd();
}

const RowWriter TabRows = {WriteTabRow, ExtendRowPath, RowPathLength, CutRowPath};
const RowWriter CommaRows = {WriteCommaRow, ExtendRowPath, RowPathLength, CutRowPath};
const RowWriter CsvRows = {WriteCsvRow, ExtendRowPath, RowPathLength, CutRowPath};
}  // namespace

void WalkTabTree(const RunRecord& run) {
  WalkShownTree(&run.root, TabRows);
}
void WalkCommaTree(const RunRecord& run) {
  WalkShownTree(&run.root, CommaRows);
}
void WalkCsvTree(const RunRecord& run) {
  Spelling = &ForPrograms;
  WalkShownTree(&run.root, CsvRows);
}
void WalkExcelTree(const RunRecord& run) {
  Spelling = &ForExcel;
  WalkShownTree(&run.root, CsvRows);
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

void WriteTopRows(const RunRecord& run) {
  for (const ShownList& shown : ListsShown(run)) {
    for (const TopEntry& e : shown.list->kept) {
      if (TakeLine()) {
        WriteText(shown.kind);
        WriteSeparator();
        WriteCsvNumber(e.bytes);
        std::string path = RowPathOf(e.path);
        WriteCsvField(path.data(), (int)path.size(), "", 0);
        WriteCsvLineEnd();
      }
      if (PassDone()) return;
    }
  }
}
}  // namespace

int32_t TopCsvHeader(const RunRecord&) {
  Spelling = &ForPrograms;
  return TopTitles();
}
void WalkTopCsvRows(const RunRecord& run) {
  Spelling = &ForPrograms;
  WriteTopRows(run);
}
int32_t TopExcelHeader(const RunRecord&) {
  Spelling = &ForExcel;
  return TopTitles();
}
void WalkTopExcelRows(const RunRecord& run) {
  Spelling = &ForExcel;
  WriteTopRows(run);
}
