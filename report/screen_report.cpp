#include "report/screen_report.h"

#include <vector>

#include "console/output.h"
#include "console/strings.h"
#include "disk/drive.h"
#include "report/engine.h"
#include "report/format.h"
#include "tree/exclude.h"
#include "tree/scan.h"

const BStr GraphicTreeChars = {5, {(char)0xC0, (char)0xC3, (char)0xC4, ' ', (char)0xB3, 0}};
const BStr PlainTreeChars = {5, {'+', '|', '-', ' ', '|', 0}};
BStr TreeChars = GraphicTreeChars;
bool ShowWaste = true;
bool WasteAsPercent = true;
bool ShowFiles = true;
bool ShowUnits = false;

namespace {
BStr TreePrefix = {2, {' ', ' ', 0}};  // indentation before a directory's connector

void Put(const BStr& s) { WriteText(s); }
void Put(const char* z) { WriteText(z); }
void PutPadded(const BStr& s, int width) { Put(PadLeft(s, width)); }

void PutTree(char piece, int count) {
  char bytes[64];
  for (int i = 0; i < count; ++i) bytes[i] = piece;
  WriteTreeBytes(bytes, count);
}

// A size of the tree (a column, a bracket, a footer total) in the form the switch chooses.
BStr Size(int64_t bytes) {
  return ShowUnits ? FormatUnits(bytes) : FormatThousands(bytes);
}

// The footer's line of excluded directories is there when patterns were given, also when
// none matched: the count then says that nothing was left out.
bool ShowsExcluded() {
  return ExclusionCount() > 0;
}
constexpr int FooterLength = 9;
int FooterLines() {
  return FooterLength + (ShowsExcluded() ? 1 : 0);
}

char Horizontal() { return TreeChars.text[2]; }

// The tree prefix holds tree pieces and blanks only, so it is written as tree bytes.
void PutPrefix() { WriteTreeBytes(TreePrefix.text, TreePrefix.length); }

void WriteFooterLine(int k) {
  int64_t grand = NodeTotal(&RootNode);
  if (ShowsExcluded()) {
    if (k == 3) {
      Put("Excluded directories: ");
      Put(FormatThousands(LastScan.excluded));
      WriteLineEnd();
      return;
    }
    if (k > 3) --k;
  }
  switch (k) {
    case 0:
    case 2:
      WriteRuleLine();
      return;
    case 1: {
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
      Put("  Cluster size: ");
      Put(FormatThousands(ClusterSize));
      Put("  Wastage: ");
      Put(WasteAsPercent ? Size(TotalWaste) : FormatPercent(TotalWaste, grand));
      break;
    }
    case 3:
      break;
    case 4:
      Put("Drive ");
      WriteName(DriveLabel.text, DriveLabel.length);
      Put(": statistics:");
      break;
    case 5:
      Put("   Cluster size: ");
      PutPadded(FormatThousands(DriveClusterSize), 14);
      Put(" bytes");
      break;
    case 6:
      Put("     Free space: ");
      PutPadded(FormatThousands(DriveFreeBytes), 14);
      Put(" bytes (");
      Put(FormatPercent(DriveFreeBytes, DriveTotalBytes));
      Put(" of capacity is free)");
      break;
    case 7:
      Put("     Used space: ");
      PutPadded(FormatThousands(DriveTotalBytes - DriveFreeBytes), 14);
      Put(" bytes");
      break;
    case 8:
      Put("       Capacity: ");
      PutPadded(FormatThousands(DriveTotalBytes), 14);
      Put(" bytes");
      break;
  }
  WriteLineEnd();
}

// One level of the walk: the next node of a sibling list still to write, and the tree prefix's
// length for that list.
struct WalkLevel {
  const DirNode* node;
  int remembered;
};
std::vector<WalkLevel> Levels;  // the levels of the walk under way, the outermost first

// The walk proper, in pre-order with a stack of levels on the heap, so that a tree as deep as
// the path budget allows takes no more stack than a flat one; false once the pass has written
// its last line.
bool Walk(const DirNode* first) {
  const int top = TreePrefix.length;
  Levels.clear();
  Levels.push_back(WalkLevel{first, top});
  while (!Levels.empty()) {
    const DirNode* node = Levels.back().node;
    if (!node) {
      // A sibling list is done: back to its parent's, which goes on unless the pass is over.
      Levels.pop_back();
      if (Levels.empty()) break;
      BCut(TreePrefix, Levels.back().remembered);
      if (LinesLeft <= 0) {
        BCut(TreePrefix, top);
        return false;
      }
      continue;
    }
    Levels.back().node = node->nextSibling;
    bool later = node->nextSibling != nullptr;
    // A pass whose budget the header used up writes no directory line.
    if (LineNumber == NextLine && LinesLeft > 0) {
      ++NextLine;
      --LinesLeft;
      WriteDirectoryLine(node, later);
    }
    ++LineNumber;
    if (LinesLeft <= 0) {
      BCut(TreePrefix, top);
      return false;
    }
    if (node->firstChild) {
      if (node != &RootNode) ExtendTreePrefix(later);
      Levels.push_back(WalkLevel{node->firstChild, TreePrefix.length});
    }
  }
  BCut(TreePrefix, top);
  return true;
}
}  // namespace

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
  Put("  ");
  PutTree(Horizontal(), 40);
  WriteLineEnd();
}

int32_t ScreenHeader() {
  if (NextLine == -1) return 2;
  BSet(TreePrefix, "  ");
  if (NextLine == 0 && LinesLeft > 0) {
    Put(" Total-no subs");
    if (ShowWaste) Put(WasteAsPercent ? "  Wstd" : "    Wasted space");
    if (ShowFiles) Put("  Files");
    Put("  Directory name   [dir + subdirs total]");
    WriteLineEnd();
    --LinesLeft;
    ++NextLine;
  }
  if (NextLine == 1 && LinesLeft > 0) {
    WriteRuleLine();
    --LinesLeft;
    ++NextLine;
  }
  LineNumber = 2;
  return 0;
}

void WriteDirectoryLine(const DirNode* node, bool hasLaterSibling) {
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
  PutPrefix();
  if (node != &RootNode) {
    char connector[3] = {TreeChars.text[hasLaterSibling ? 1 : 0], Horizontal(), Horizontal()};
    WriteTreeBytes(connector, 3);
  }
  WriteName(NameText(node), NameLength(node));
  if (node->subdirsSize != 0) {
    Put("   [");
    Put(Size(NodeTotal(node)));
    Put("]");
  }
  WriteLineEnd();
}

void ExtendTreePrefix(bool hasLaterSibling) {
  BAppendChar(TreePrefix, TreeChars.text[hasLaterSibling ? 4 : 3]);
  BAppend(TreePrefix, "  ");
}

void WalkScreenTree(const DirNode* first) { Walk(first); }

int32_t ScreenFooter(int32_t total) {
  int32_t lines = FooterLines();
  if (NextLine == -1) return lines;
  int32_t k = NextLine - (total - lines);
  while (k >= 0 && LinesLeft > 0) {
    if (k < lines) WriteFooterLine(k);
    ++k;
    --LinesLeft;
  }
  return 0;
}

int32_t NoFooter(int32_t) { return 0; }
