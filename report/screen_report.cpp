#include "report/screen_report.h"

#include <string>
#include <vector>

#include "console/output.h"
#include "console/strings.h"
#include "report/database.h"
#include "report/engine.h"
#include "report/format.h"
#include "report/lists.h"
#include "tree/exclude.h"
#include "tree/growth.h"
#include "tree/scan.h"
#include "tree/top_list.h"

namespace {
BStr TreePrefix = {2, {' ', ' ', 0}};  // indentation before a directory's connector

void WriteRuleLine();

void Put(const BStr& s) {
  WriteText(s);
}
void Put(const char* z) {
  WriteText(z);
}
void PutPadded(const BStr& s, int width) {
  Put(PadLeft(s, width));
}

void PutTree(char piece, int count) {
  char bytes[64];
  for (int i = 0; i < count; ++i) bytes[i] = piece;
  WriteTreeBytes(bytes, count);
}

// A size of the tree (a column, a bracket, a footer total) in the form the switch chooses.
BStr Size(int64_t bytes) {
  return ShowUnits ? FormatUnits(bytes) : FormatThousands(bytes);
}

// The lines of the footer, in order. The line of what was excluded is there when patterns were
// given, also when none matched (the counts then say that nothing was left out), or when a
// saved scan had entries left out; the saved scan's lines only for a report of one. The lists
// of the largest (-top=N) follow them.
enum class FooterLine {
  Rule,
  Totals,
  Excluded,
  SavedScan,
  GrowthSince,
  Empty,
  DriveName,
  DriveCluster,
  DriveFree,
  DriveUsed,
  DriveCapacity,
  NoDrive
};
constexpr int MostFooterLines = 12;

int FooterPlan(const RunRecord& run, FooterLine* lines) {
  int n = 0;
  lines[n++] = FooterLine::Rule;
  lines[n++] = FooterLine::Totals;
  lines[n++] = FooterLine::Rule;
  if (ExclusionCount() > 0 ||
      (run.saved.fromDump && (run.outcome.excluded > 0 || run.outcome.excludedListed > 0)))
    lines[n++] = FooterLine::Excluded;
  if (run.saved.fromDump) lines[n++] = FooterLine::SavedScan;
  if (run.saved.since) lines[n++] = FooterLine::GrowthSince;
  lines[n++] = FooterLine::Empty;
  if (run.saved.noDrive) {
    lines[n++] = FooterLine::NoDrive;
    return n;
  }
  for (FooterLine l : {FooterLine::DriveName, FooterLine::DriveCluster, FooterLine::DriveFree,
                       FooterLine::DriveUsed, FooterLine::DriveCapacity})
    lines[n++] = l;
  return n;
}

// The lines of the largest files and directories (-top=N) that follow the footer's: for each
// list an empty line, its title, and its entries (or a line saying there are none).
int TopLines(const RunRecord& run) {
  int32_t n = 0;
  for (const ShownList& shown : ListsShown(run))
    n += 2 + (shown.list->kept.empty() ? 1 : (int32_t)shown.list->kept.size());
  return n;
}

int FooterLines(const RunRecord& run) {
  FooterLine lines[MostFooterLines];
  return FooterPlan(run, lines) + TopLines(run);
}

// Line k of the lists of the largest: a size in the size column's 14 places, two blanks and
// the full path, as the rows of the database forms spell it.
void WriteTopLine(const RunRecord& run, int k) {
  for (const ShownList& shown : ListsShown(run)) {
    const TopList* list = shown.list;
    int lines = 2 + (list->kept.empty() ? 1 : (int)list->kept.size());
    if (k >= lines) {
      k -= lines;
      continue;
    }
    if (k == 1) {
      Put(shown.title);
    } else if (k == 2 && list->kept.empty()) {
      Put("          none");
    } else if (k >= 2) {
      const TopEntry& e = list->kept[(size_t)(k - 2)];
      PutPadded(Size(e.bytes), 14);
      Put("  ");
      std::string path = RowPathOf(e.path);
      WriteName(path.data(), (int)path.size());
    }
    WriteLineEnd();
    return;
  }
}

// A count and what it counts, in the singular for one.
void PutCount(int32_t count, const char* one, const char* more) {
  Put(FormatThousands(count));
  Put(count == 1 ? one : more);
}

char Horizontal() {
  return TreeChars.text[2];
}

// The tree prefix holds tree pieces and blanks only, so it is written as tree bytes.
void PutPrefix() {
  WriteTreeBytes(TreePrefix.text, TreePrefix.length);
}

// A growth: "+" before a gain, as Size writes it otherwise.
BStr SignedSize(int64_t bytes) {
  BStr s = bytes > 0 ? BMake("+") : BMake("");
  BAppend(s, Size(bytes));
  return s;
}

// The growth column: two blanks, the growth in 14 columns, and whether the directory is new or
// gone in 5 (6 when a directory of the report moved: " moved").
void PutGrowth(int64_t bytes, Change change) {
  Put("  ");
  PutPadded(SignedSize(bytes), 14);
  const char* mark = change == Change::New     ? " new "
                     : change == Change::Gone  ? " gone"
                     : change == Change::Moved ? " moved"
                                               : "     ";
  Put(mark);
  if (MovesShown() && change != Change::Moved) Put(" ");
}

void WriteFooterLine(const RunRecord& run, int32_t k) {
  FooterLine lines[MostFooterLines];
  int count = FooterPlan(run, lines);
  if (k >= count) {
    WriteTopLine(run, k - count);
    return;
  }
  int64_t grand = NodeTotal(&run.root);
  switch (lines[k]) {
    case FooterLine::Rule:
      WriteRuleLine();
      return;
    case FooterLine::Totals: {
      PutPadded(Size(grand), 14);
      if (ShowWaste) {
        Put("  ");
        if (WasteAsPercent)
          PutPadded(FormatPercent(TotalWaste, grand), 4);
        else
          PutPadded(Size(TotalWaste), 14);
      }
      if (ShowFiles) {
        Put("  ");
        PutPadded(FormatThousands(TotalFiles), 5);
      }
      if (GrowthShown()) PutGrowth(run.saved.totalGrowth, Change::Same);
      Put("  Cluster size: ");
      Put(FormatThousands(ClusterSize));
      Put("  Wastage: ");
      Put(WasteAsPercent ? Size(TotalWaste) : FormatPercent(TotalWaste, grand));
      break;
    }
    case FooterLine::Excluded:
      Put("Excluded: ");
      PutCount(run.outcome.excluded, " directory", " directories");
      Put(", ");
      PutCount(run.outcome.excludedFiles, " file", " files");
      if (run.outcome.excludedListed > 0) {
        Put("; ");
        PutCount(run.outcome.excludedListed, " entry", " entries");
        Put(" left out in the saved scan");
      }
      break;
    case FooterLine::SavedScan:
      Put("Saved scan: ");
      WriteName(run.saved.fromFile.text, run.saved.fromFile.length);
      if (run.saved.fromDated) {
        Put(", made at ");
        Put(run.saved.fromMade);
      }
      break;
    case FooterLine::GrowthSince:
      Put("Growth since ");
      if (run.saved.sinceDated) {
        Put(run.saved.sinceMade);
        Put(" (");
        WriteName(run.saved.sinceFile.text, run.saved.sinceFile.length);
        Put(")");
      } else {
        WriteName(run.saved.sinceFile.text, run.saved.sinceFile.length);
      }
      Put(": ");
      Put(SignedSize(run.saved.totalGrowth));
      break;
    case FooterLine::Empty:
      break;
    case FooterLine::DriveName:
      Put("Drive ");
      WriteName(run.drive.label.text, run.drive.label.length);
      Put(": statistics:");
      break;
    case FooterLine::DriveCluster:
      Put("   Cluster size: ");
      PutPadded(FormatThousands(run.drive.cluster), 14);
      Put(" bytes");
      break;
    case FooterLine::DriveFree:
      Put("     Free space: ");
      PutPadded(FormatThousands(run.drive.freeBytes), 14);
      Put(" bytes (");
      Put(FormatPercent(run.drive.freeBytes, run.drive.totalBytes));
      Put(" of capacity is free)");
      break;
    case FooterLine::DriveUsed:
      Put("     Used space: ");
      PutPadded(FormatThousands(run.drive.totalBytes - run.drive.freeBytes), 14);
      Put(" bytes");
      break;
    case FooterLine::DriveCapacity:
      Put("       Capacity: ");
      PutPadded(FormatThousands(run.drive.totalBytes), 14);
      Put(" bytes");
      break;
    case FooterLine::NoDrive:
      Put("Drive statistics: none in the saved scan.");
      break;
  }
  WriteLineEnd();
}

void WriteRuleLine() {
  PutTree(Horizontal(), 14);
  if (ShowWaste) {
    Put("  ");
    PutTree(Horizontal(), WasteAsPercent ? 4 : 14);
  }
  if (ShowFiles) {
    Put("  ");
    PutTree(Horizontal(), 5);
  }
  if (GrowthShown()) {
    Put("  ");
    PutTree(Horizontal(), MovesShown() ? 20 : 19);
  }
  Put("  ");
  PutTree(Horizontal(), 40);
  WriteLineEnd();
}

}  // namespace

int32_t ScreenHeader(const RunRecord&) {
  if (Probing()) return 2;
  BSet(TreePrefix, "  ");
  if (TakeLine()) {
    Put(" Total-no subs");
    if (ShowWaste) Put(WasteAsPercent ? "  Wstd" : "    Wasted space");
    if (ShowFiles) Put("  Files");
    if (GrowthShown()) Put(MovesShown() ? "          Growth      " : "          Growth     ");
    Put("  Directory name   [dir + subdirs total]");
    WriteLineEnd();
  }
  if (TakeLine()) WriteRuleLine();
  return 0;
}

namespace {
void WriteDirectoryLine(const ShownRow& row) {
  const DirNode* node = row.node;
  PutPadded(Size(node->localSize), 14);
  if (ShowWaste) {
    Put("  ");
    if (WasteAsPercent)
      PutPadded(FormatPercent(node->wastage, node->localSize), 4);
    else
      PutPadded(Size(node->wastage), 14);
  }
  if (ShowFiles) {
    Put("  ");
    PutPadded(FormatThousands(node->fileCount), 5);
  }
  if (GrowthShown()) {
    Growth g = NodeGrowth(node);
    PutGrowth(g.bytes, g.change);
  }
  PutPrefix();
  if (!row.root) {
    char connector[3] = {TreeChars.text[row.hasLaterSibling ? 1 : 0], Horizontal(), Horizontal()};
    WriteTreeBytes(connector, 3);
  }
  WriteName(NameText(node), NameLength(node));
  if (node->subdirsSize != 0) {
    Put("   [");
    Put(Size(NodeTotal(node)));
    Put("]");
  }
  if (const std::string* from = MovedFrom(node)) {
    Put("   moved from ");
    WriteName(from->data(), (int)from->size());
  }
  WriteLineEnd();
}

void ExtendTreePrefix(const ShownRow& row) {
  BAppendChar(TreePrefix, TreeChars.text[row.hasLaterSibling ? 4 : 3]);
  BAppend(TreePrefix, "  ");
}

int TreePrefixLength() {
  return TreePrefix.length;
}
void CutTreePrefix(int length) {
  BCut(TreePrefix, length);
}

const RowWriter ScreenLines = {WriteDirectoryLine, ExtendTreePrefix, TreePrefixLength,
                               CutTreePrefix};
}  // namespace

void WalkScreenTree(const RunRecord& run) {
  WalkShownTree(&run.root, ScreenLines);
}

int32_t ScreenFooter(const RunRecord& run, int32_t total) {
  int32_t lines = FooterLines(run);
  if (Probing()) return lines;
  TakeLastLines(total, lines, WriteFooterLine, run);
  return 0;
}

int32_t NoFooter(const RunRecord&, int32_t) {
  return 0;
}
