#include "driver/run.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "console/console.h"
#include "console/output.h"
#include "console/pager.h"
#include "console/strings.h"
#include "disk/drive.h"
#include "driver/options.h"
#include "driver/texts.h"
#include "report/database.h"
#include "report/engine.h"
#include "report/format.h"
#include "report/json.h"
#include "report/screen_report.h"
#include "tree/exclude.h"
#include "tree/expand_path.h"
#include "tree/scan.h"

bool ReportMade = false;

namespace {
const char PathNotFound[] = "Path was not found (maximum path length exceeded?): ";

// One line on standard error naming a directory the report lacks, or lacks in part: its path,
// then why, in the system's words where it has them.
void NameTroubledDirectory(const TroubledDirectory& t) {
  SendOutputToErrors(true);
  WriteName(t.path.data(), (int)t.path.size());
  WriteText(": ");
  if (t.trouble == Vanished) {
    WriteText("vanished during the scan");
  } else {
    if (t.trouble == ReadFailed) WriteText("read failed: ");
    WriteText(t.reason.data(), (int)t.reason.size());
  }
  WriteLineEnd();
  SendOutputToErrors(false);
}

// The last words of a run that met directories it could not read (or not whole), that vanished,
// or that it left out for want of memory: their zero figures, or their absence, would otherwise
// pass for real. Written to standard error after the report, so they neither enter a redirected
// report nor are painted over by the scroller: the first few named with the reason, then the
// counts. A report that lacks anything of the tree, those skipped past the path budget
// included, is incomplete: exit code 1. A start directory that could not be read at all made
// no report: its line alone.
int NoteIncompleteReport() {
  for (const TroubledDirectory& t : LastScan.named) NameTroubledDirectory(t);
  if (LastScan.startUnreadable) return 1;
  long troubled = (long)LastScan.unreadable + LastScan.vanished;
  if (troubled > (long)LastScan.named.size())
    std::fprintf(stderr, "and %ld more\n", troubled - (long)LastScan.named.size());
  if (LastScan.unreadable == 1)
    std::fputs("1 directory could not be read; it counts as empty.\n", stderr);
  else if (LastScan.unreadable > 1)
    std::fprintf(stderr, "%ld directories could not be read; they count as empty.\n",
                 (long)LastScan.unreadable);
  if (LastScan.leftOut == 1)
    std::fputs("1 directory was left out: not enough memory.\n", stderr);
  else if (LastScan.leftOut > 1)
    std::fprintf(stderr, "%ld directories were left out: not enough memory.\n",
                 (long)LastScan.leftOut);
  std::fflush(stderr);
  return ScanIncomplete() ? 1 : 0;
}
}  // namespace

void StartUp() {
  PlatformStartUp();
  ThousandsSeparator = LocaleThousandsSeparator();
  if (OutputRedirected) {
    TreeChars = PlainTreeChars;
    PagingEnabled = false;
  } else {
    TreeChars = GraphicTreeChars;
  }
}

void RunDirectory() {
  ReportMade = false;
  TotalWaste = 0;
  TotalFiles = 0;
  bool exporting = IsExport(Options.outputMode);
  if (OutputRedirected && !exporting) {
    BStr title = BMake("Quorvel report, created at ");
    BAppend(title, LocalDateTime());
    PagedWriteLine(title);
    PagedWriteLine("");
  }
  bool tooLong = false;
  PathStr path = ExpandPath(Options.directory, &tooLong);
  if (tooLong) {
    // Cut to the budget, the path would name one of its ancestors: no directory of it is read.
    WriteRunEndingMessage(PathNotFound, path.text, path.length, "");
    return;
  }
  RootNode = DirNode{};
  RootNode.name = AllocateName(path.text, path.length);
  RootNode.ownNameLength = (uint16_t)NameLength(&RootNode);
  if (!GetDriveStatistics(path, &DriveClusterSize)) return;
  ClusterSize = Options.clusterSizeOverride != 0 ? Options.clusterSizeOverride : DriveClusterSize;
  if (ClusterSize == 0) {
    ClusterSize = 1;
    PagedWriteLine("Erroneous cluster size of 0 given - using 1 instead.");
  }
  ScanPath = path;
  Scan.dirListingSizes = Options.dirListingSizes;
  // The default depth, 255, shows every level: a Linux path of 4095 bytes can hold more levels
  // than that.
  Scan.maxDepth = Options.maxDepth == 255 ? INT32_MAX : Options.maxDepth;
  Scan.minSize = Options.minSize;
  Scan.sortOrder = Options.sortOrder;
  Scan.rootPathLength = DriveRootLength;
  Scan.pathBudget = PathBudget;
  Scan.patternRoom = PathPatternRoom;
  Scan.fileSystemCluster = DriveClusterSize;
  ClearExclusions(NamesIgnoreCase, TextIsUtf8);
  for (const BStr& pattern : Options.excludes) AddExclusion(pattern.text, pattern.length);
  ShowStatus("   Reading directory, press [Ctrl+C] to cancel", 46);
  bool scanned = ScanDirectory(&RootNode);
  // Nothing else would write over the status text when the report goes to a file or a pipe.
  EraseStatus();
  // Also when the report is left early (Escape in the scroller ends the program there).
  if (scanned || LastScan.startUnreadable) ClosingNote = NoteIncompleteReport;
  if (scanned) {
    ReportMade = true;
    // From here on an export's standard output is the report.
    if (exporting) SendOutputToErrors(false);
    ReportSection section = {ScreenHeader, WalkScreenTree, ScreenFooter};
    if (Options.outputMode == Tab) {
      SetRowPath(path);
      section = ReportSection{TabHeader, WalkTabTree, NoFooter};
    } else if (Options.outputMode == Comma) {
      SetRowPath(path);
      section = ReportSection{CommaHeader, WalkCommaTree, NoFooter};
    } else if (Options.outputMode == Csv) {
      SetRowPath(path);
      section = ReportSection{CsvHeader, WalkCsvTree, NoFooter};
    }
    if (Options.outputMode == Json) {
      WriteJsonReport(ProgramVersion);
      FlushOutput();
    } else {
      RunReport(section);
    }
  }
  CollapseChildren(&RootNode);
}
