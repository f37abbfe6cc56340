#include "driver/run.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "console/console.h"
#include "console/output.h"
#include "console/pager.h"
#include "console/strings.h"
#include "disk/drive.h"
#include "driver/locale.h"
#include "driver/options.h"
#include "driver/report_forms.h"
#include "driver/texts.h"
#include "report/database.h"
#include "report/engine.h"
#include "report/browser.h"
#include "report/format.h"
#include "report/saved_scans.h"
#include "report/screen_report.h"
#include "tree/dump_file.h"
#include "tree/dump_reader.h"
#include "tree/dump_writer.h"
#include "tree/exclude.h"
#include "tree/expand_path.h"
#include "tree/growth.h"
#include "tree/scan.h"
#include "tree/top_list.h"
#include "tree/tree_builder.h"


namespace {
// The record of the run under way: written here alone, passed to the report forms read-only.
RunRecord Run;
DirNode& RootNode = Run.root;
SavedScanNotes& SavedScans = Run.saved;
TopLists& LargestAnywhere = Run.largest;
ScanOutcome& Outcome = Run.outcome;  // what the reading of the report's tree met

// One line on standard error naming a directory the report lacks, or lacks in part: its path,
// then why, in the system's words where it has them.
void NameTroubledDirectory(const TroubledDirectory& t) {
  BeginNoteLine();
  WriteName(t.path.data(), (int)t.path.size());
  WriteText(": ");
  if (t.trouble == Vanished) {
    WriteText("vanished during the scan");
  } else {
    if (t.trouble == ReadFailed) WriteText("read failed: ");
    WriteText(t.reason.data(), (int)t.reason.size());
  }
  EndNoteLine();
}

// A closing count as its note line: the text for one directory, or for count of them (a format
// of one %ld); nothing for none.
void NoteCount(long count, const char* one, const char* many) {
  if (count == 1) {
    WriteNoteLine(one);
  } else if (count > 1) {
    char line[96];
    std::snprintf(line, sizeof line, many, count);
    WriteNoteLine(line);
  }
}

// The last words of a run that met directories it could not read (or not whole), that vanished,
// or that it left out for want of memory: their zero figures, or their absence, would otherwise
// pass for real. Written to standard error after the report, so they neither enter a redirected
// report nor are painted over by the scroller: the first few named with the reason, then the
// counts. A report that lacks anything of the tree, those skipped past the path budget
// included, is incomplete: exit code 1. A start directory that could not be read at all made
// no report: its line alone.
int NoteIncompleteReport() {
  for (const TroubledDirectory& t : Outcome.named) NameTroubledDirectory(t);
  if (Outcome.startUnreadable) return 1;
  long troubled = (long)Outcome.unreadable + Outcome.vanished;
  // A report from a dump names none (the dump says which): the counts alone.
  if (!Outcome.named.empty() && troubled > (long)Outcome.named.size()) {
    char more[48];
    std::snprintf(more, sizeof more, "and %ld more", troubled - (long)Outcome.named.size());
    WriteNoteLine(more);
  }
  NoteCount((long)Outcome.unreadable, "1 directory could not be read; it counts as empty.",
            "%ld directories could not be read; they count as empty.");
  NoteCount((long)Outcome.leftOut, "1 directory was left out: not enough memory.",
            "%ld directories were left out: not enough memory.");
  return Outcome.Incomplete() ? 1 : 0;
}

// The title of a report that is not an export, when it goes to a file or a pipe; a report of a
// saved scan says when that scan was made.
void WriteTitle() {
  BStr title = BMake("Quorvel report, created at ");
  BAppend(title, LocalDateTime());
  if (SavedScans.fromDump && SavedScans.fromDated) {
    BAppend(title, ", from a scan made at ");
    BAppend(title, SavedScans.fromMade);
  }
  PagedWriteLine(title);
  PagedWriteLine("");
}

// A path in a message, masked as names are.
void WritePath(const PathStr& path) {
  WriteName(path.text, path.length);
}

// One line on the error output about a file of a saved scan: "quorvel: FILE: what" + detail
// (and nothing on standard output, where the report would go).
void FileMessage(const PathStr& file, const char* what, const BStr& detail) {
  BeginErrorLine();
  WritePath(file);
  WriteText(": ");
  WriteText(what);
  WriteText(detail);
  EndErrorLine();
}

// What FileMessage says of a dump that cannot be opened, or that was not saved.
const char CannotBeRead[] = "cannot be read: ";
const char WasNotWritten[] = "was not written: ";

// The start of the line about a dump of -since made of another place than the report's:
// "quorvel: FILE: a scan of ROOT".
void BeginScanElsewhereLine(const PathStr& root) {
  BeginErrorLine();
  WritePath(Options.sinceFile);
  WriteText(": a scan of ");
  WritePath(root);
}

FILE* FromDump = nullptr;   // the dump -from reads, open from before anything is read
FILE* SinceDump = nullptr;  // the dump -since compares with
SaveFile Save = {};         // the dump -save writes, while it is written
DumpWriter SaveWriter;      // writes it as the report's tree is read
bool Saving = false;
bool SaveWhole = false;     // the dump is written whole, to be committed once the report is
bool DumpOnStandardOutput = false;  // -save=-: the dump is the run's standard output
void (*EndBeforeSaving)(int) = nullptr;  // the end hook there was before the dump was opened
void CommitSave();

// The program ends while a dump is being written (a message that ends the run): the dump is
// not whole, so its temporary file goes and the file named stays as it was. Once the dump is
// whole, the end is the report's (the scroller or the pager quit): the dump is committed.
void DiscardSaveOnEnd(int code) {
  if (Saving && SaveWhole) CommitSave();
  if (Saving) DiscardSaveFile(&Save);
  Saving = false;
  EndProgramHook = EndBeforeSaving;
  if (EndProgramHook) EndProgramHook(code);
}

[[noreturn]] void EndWithFileMessage(const PathStr& file, const char* what, const BStr& detail) {
  FileMessage(file, what, detail);
  EndProgram(1);
}

// Opens every file of saved scans the options name before anything is read: one that cannot
// be read or written is said at once, and the run ends with exit code 1.
void OpenSavedScans() {
  BStr reason = BMake("");
  bool fromStdin = BEquals(Options.fromFile, "-"), sinceStdin = BEquals(Options.sinceFile, "-");
  if (fromStdin && sinceStdin)
    EndWithFileMessage(Options.sinceFile, "standard input is read by -from= already", reason);
  if (Options.fromFile.length > 0 && !(FromDump = OpenDumpForReading(Options.fromFile, &reason)))
    EndWithFileMessage(Options.fromFile, CannotBeRead, reason);
  if (Options.sinceFile.length > 0 && !(SinceDump = OpenDumpForReading(Options.sinceFile, &reason)))
    EndWithFileMessage(Options.sinceFile, CannotBeRead, reason);
  if (Options.saveFile.length > 0) {
    if (!CreateSaveFile(Options.saveFile, &Save, &reason))
      EndWithFileMessage(Options.saveFile, "cannot be written: ", reason);
    Saving = true;
    SaveWhole = false;
    EndBeforeSaving = EndProgramHook;
    EndProgramHook = DiscardSaveOnEnd;
  }
}

// The tree is read: the dump is whole unless a write failed, which is said with the system's
// reason (the report is still made; the exit code is 1). It is committed after the report.
void FinishSave() {
  if (!Saving) return;
  SaveWhole = DumpWriterOk(&SaveWriter);
  if (SaveWhole) return;
  BStr reason = SaveWriter.error ? SystemReason(SaveWriter.error) : BMake("a write failed");
  DiscardSaveFile(&Save);
  Saving = false;
  EndProgramHook = EndBeforeSaving;
  FileMessage(Options.saveFile, WasNotWritten, reason);
  Run.saveFailed = true;
}

// The report is made: the whole dump takes its name, or the reason it could not is said (exit
// code 1). A report that could not be written (standard output closed or full) leaves the
// file named as it was: a run whose report is lost replaces no dump.
void CommitSave() {
  if (!Saving || !SaveWhole) return;
  FlushOutput();
  BStr reason = BMake("standard output could not be written");
  bool ok = !OutputFailed() && CommitSaveFile(&Save, &reason);
  if (!ok) DiscardSaveFile(&Save);
  Saving = false;
  SaveWhole = false;
  EndProgramHook = EndBeforeSaving;
  if (!ok) {
    FileMessage(Options.saveFile, WasNotWritten, reason);
    Run.saveFailed = true;
  }
}

// There is no report, and so nothing to save: the dump goes, and the file named stays as it
// was; the run's own message says why.
void DropSave() {
  if (Saving) DiscardSaveFile(&Save);
  Saving = false;
  EndProgramHook = EndBeforeSaving;
}

[[noreturn]] void BadDump(const PathStr& file, const DumpRead& read) {
  DropSave();
  EraseStatus();
  char where[64];
  std::snprintf(where, sizeof where, "byte %lld: ", (long long)read.errorOffset);
  BStr detail = BMake(where);
  BAppend(detail, read.error);
  EndWithFileMessage(file, "not a saved scan that can be read, at ", detail);
}

// Whether the start directory of a tree is charged for its entry table: it is, unless it is
// its drive's root. On the disk the drive tells where its root ends (driveRootLength: the
// root's path with its separator); a dump says it of its own outermost directory, or, when it
// does not, a drive root or "/" is taken for one; a directory inside a dump is always charged.
bool StartCharged(const PathStr& path, int driveRootLength) {
  bool separated = path.length > 0 && path.text[path.length - 1] == PathSeparator;
  return path.length + (separated ? 0 : 1) > driveRootLength;
}
bool StartCharged(const PathStr& path, const DumpFacts& f, bool outermost) {
  if (!outermost) return true;
  if (f.startChargedKnown) return f.startCharged;
  bool driveRoot = (path.length == 1 && (path.text[0] == '/' || path.text[0] == '\\')) ||
                   (path.length == 3 && path.text[1] == ':' &&
                    (path.text[2] == '\\' || path.text[2] == '/'));
  return !driveRoot;
}

// The files of the report's tree, kept as it is built when the report shows files: the
// browser's (-browse) and the page's of a dump (-html -from).
FileStore KeptFiles;
constexpr int BrowsedLargest = 20;
// The largest new, grown and gone files listed with -since when -top does not say how many.
constexpr int SinceFileCount = 10;
// What each directory holds, for -since to find what moved: the report's tree, the saved scan's.
ContentTable NowContents, ThenContents;

// The cluster the report rounds to: -cl's when given, else the one the drive or the dump gives
// (a dump's 0: unknown, chosen by the tree builder once the tree is whole).
int32_t ChosenCluster(int32_t found) {
  return Options.clusterSizeOverride != 0 ? Options.clusterSizeOverride : found;
}

// The settings of the report's tree, from the options.
BuildSettings ReportSettings(int32_t cluster, int32_t unit, bool chargeRoot) {
  BuildSettings s;
  s.dirListingSizes = Options.dirListingSizes;
  // The default depth, 255, shows every level: a Linux path of 4095 bytes can hold more levels
  // than that.
  s.maxDepth = Options.maxDepth == 255 ? INT32_MAX : Options.maxDepth;
  s.minSize = Options.minSize;
  s.sortOrder = Options.sortOrder;
  s.chargeRoot = chargeRoot;
  s.cluster = cluster;
  s.fileSystemCluster = unit;
  s.keepAll = false;
  s.topCount = Options.topCount;
  // The browser keeps every file, and lists the largest (T) of 20 unless -top says.
  if (Options.browse) {
    s.files = &KeptFiles;
    if (s.topCount == 0) s.topCount = BrowsedLargest;
  }
  if (Options.sinceFile.length > 0) {
    s.contents = &NowContents;
    s.fileWatch = ReportFileWatch();
  }
  // The page draws the largest files of a tree from a dump, which lists them at no cost of
  // reading. A tree that keeps its files keeps every directory, so a run shaped by a depth
  // limit or a minimum size keeps none, and its page draws no files.
  if (Options.outputMode == Html && Options.fromFile.length > 0 && Options.maxDepth == 255 &&
      Options.minSize == 0)
    s.files = &KeptFiles;
  return s;
}

// What reading the report's dump keeps between the reader's start of the tree and its end.
struct FromRead {
  BuildSettings settings;
  TreeBuild build;
};
FromRead From;

// The directory to report is reached in the dump: the tree starts there.
void BeginFromDump(DumpRead* read, const PathStr& path) {
  const DumpFacts& f = read->facts;
  RootNode = DirNode{};
  RootNode.name = AllocateName(path.text, path.length);
  RootNode.ownNameLength = (uint16_t)NameLength(&RootNode);
  bool whole = BEquals(path, f.rootName);
  bool chargeRoot = StartCharged(path, f, whole);
  int32_t cluster = ChosenCluster(f.cluster);
  From.settings = ReportSettings(cluster, f.cluster, chargeRoot);
  const ListingSink* sink = nullptr;
  if (Saving) {
    SaveFacts facts = {ProgramVersion,   f.hasTimestamp ? f.timestamp : (int64_t)std::time(nullptr),
                       f.cluster,        true,
                       chargeRoot,       f.hasDrive,
                       f.driveName,      f.driveCluster,
                       f.driveFree,      f.driveCapacity,
                       f.lastListedFirst};
    StartDumpWriter(&SaveWriter, Save.file, facts);
    sink = &SaveWriter.sink;
  }
  BeginTree(&From.build, From.settings, &RootNode, sink);
}

// Publishes the report's finished tree: its figures as the run's totals, its counts and what
// its producer named as the run's outcome, its lists of the largest as the run's.
void PublishTree(TreeBuild* build, ScanOutcome named) {
  SetRunTotals(build->totals.files, build->totals.waste);
  Run.outcome = std::move(named);
  CountOutcome(&Run.outcome, build->totals);
  LargestAnywhere = std::move(build->top);
}

// When the status line was shown, or last drawn with the counts of what was read so far.
int64_t SoFarShownAt = 0;

// A count with its word: "1 file", "1,234 files".
BStr Counted(int64_t count, const char* one, const char* many) {
  BStr text = FormatThousands(count);
  BAppendChar(text, ' ');
  BAppend(text, count == 1 ? one : many);
  return text;
}

// The counts of what the scan or the reading of a dump has read so far, after the status text
// (ScanRequest::progress, DumpRead::progress), drawn once 200 ms have passed since the text or
// the last counts were: about five times a second, however often they are told.
void ShowSoFar(int64_t directories, int64_t files, int64_t bytes) {
  int64_t now = MonotonicMilliseconds();
  // A clock that went backwards (a tick count that wrapped) draws at once.
  if (now >= SoFarShownAt && now - SoFarShownAt < 200) return;
  SoFarShownAt = now;
  BStr pieces[3] = {Counted(directories, "dir", "dirs"), Counted(files, "file", "files"),
                    FormatUnits(bytes)};
  ShowStatusCounts(pieces, 3);
}

// The status text while the disk is read: the report's scan, and the browser's r.
const char ReadingDirectory[] = "   Reading directory, press [Ctrl+C] to cancel";

// Shows a status text, which the counts join once the reading has gone on for 200 ms; the
// routine that hears them, or null when nobody would see them (no status reaches a screen).
using SoFarRoutine = void (*)(int64_t directories, int64_t files, int64_t bytes);
SoFarRoutine ShowReadingStatus(const char* text, int length) {
  ShowStatus(text, length);
  SoFarShownAt = MonotonicMilliseconds();
  return StatusVisible() ? ShowSoFar : nullptr;
}

// Reads the dump open in *file for read, under the status text, and closes it; a dump that
// cannot be read ends the run, naming name.
void ReadSavedScan(FILE** file, const PathStr& name, DumpRead* read) {
  read->progress = ShowReadingStatus("   Reading saved scan, press [Ctrl+C] to cancel", 47);
  bool ok = ReadDump(*file, read);
  EraseStatus();
  CloseDump(*file);
  *file = nullptr;
  if (!ok) BadDump(name, *read);
}

// The report's tree from the dump of -from: the directory asked for (the whole dump by
// default), sized by the scan's rules. False when that directory is not in the dump (said).
bool ReadFromDump(PathStr* path, BuildSettings* settings) {
  TreeBuild& build = From.build;
  DumpRead read = {};
  read.displayName = Options.fromFile.text;
  // "." is the default: the whole dump.
  if (!BEquals(Options.directory, ".")) read.select = Options.directory;
  read.into = TreeConsumerOf(&build);
  read.begin = BeginFromDump;
  ReadSavedScan(&FromDump, Options.fromFile, &read);
  if (!read.found) {
    DropSave();
    if (read.selectOnOtherFileSystem)
      WriteRunEndingMessage("", read.select.text, read.select.length,
                            " is on another file system; the saved scan did not read it");
    else
      WriteRunEndingMessage(PathNotFoundLead, read.select.text, read.select.length, "");
    return false;
  }
  SetClusterSize(FinishTree(&build));
  FinishSave();
  From.settings.cluster = ClusterSize;
  From.settings.fileSystemCluster = build.chosenUnit;
  *settings = From.settings;
  *path = PMake(NameText(&RootNode), OwnNameLength(&RootNode));
  PublishTree(&build, ScanOutcome{});
  const DumpFacts& f = read.facts;
  SavedScans.fromDump = true;
  SavedScans.fromFile = Options.fromFile;
  SavedScans.fromDated = f.hasTimestamp;
  SavedScans.fromTimestamp = f.timestamp;
  if (f.hasTimestamp) SavedScans.fromMade = LocalDateTimeOf(f.timestamp);
  SavedScans.noDrive = !f.hasDrive;
  if (f.hasDrive) Run.drive = DriveFacts{f.driveName, f.driveCluster, f.driveFree, f.driveCapacity, 0};
  // What was passed over is said, so that no figure passes for more than it is.
  BStr none = BMake("");
  if (f.driveImpossible)
    FileMessage(Options.fromFile,
                "its drive's free space exceeds its capacity; the drive's statistics are left out",
                none);
  if (read.passedOver > 0)
    FileMessage(Options.fromFile, "values after the tree were passed over", none);
  if (Outcome.skipped > 0) {
    // Not read when the scan was made: the report lacks them, as the disk's did.
    char count[128];
    std::snprintf(count, sizeof count,
                  "%ld directories were skipped by the scan, as their paths pass %d bytes; they "
                  "count as empty",
                  (long)Outcome.skipped, PathBudget);
    FileMessage(Options.fromFile, count, none);
  }
  if (build.totals.otherFileSystems > 0) {
    char count[96];
    std::snprintf(count, sizeof count,
                  "%ld directories on other file systems count as empty, as a scan leaves them",
                  (long)build.totals.otherFileSystems);
    FileMessage(Options.fromFile, count, none);
  }
  return true;
}

// The tree of -since: the same directory in the dump, by the same rules and settings, whole;
// then every directory of the report gets its growth.
struct SinceRead {
  BuildSettings settings;
  DirNode root;
  TreeBuild build;
  DumpRead read;
};
SinceRead Since;

void BeginSinceDump(DumpRead* read, const PathStr& path) {
  const DumpFacts& f = read->facts;
  Since.root = DirNode{};
  Since.root.name = AllocateName(path.text, path.length);
  Since.root.ownNameLength = (uint16_t)NameLength(&Since.root);
  BuildSettings& s = Since.settings;
  // The report's settings hold unless the dump is of another place, whose own rule counts.
  if (read->elsewhere)
    s.chargeRoot = StartCharged(path, f, true);
  if (f.cluster > 0) s.fileSystemCluster = f.cluster;
  s.keepAll = true;
  s.topCount = 0;      // the lists are the report's tree's
  s.files = SavedScanFiles();  // kept to find the files behind the growth
  s.contents = &ThenContents;
  s.fileWatch = nullptr;
  BeginTree(&Since.build, s, &Since.root, nullptr);
}

// A path as the platform compares it: full, with the build's separator, without one at its
// end (but a root's), in upper case where names ignore case.
PathStr ComparablePath(const PathStr& given) {
  PathStr path = given;
  for (int i = 0; i < path.length; ++i)
    if (path.text[i] == '/') path.text[i] = PathSeparator;
  path = ExpandPath(path);
  while (path.length > 1 && path.text[path.length - 1] == PathSeparator &&
         !(path.length == 3 && path.text[1] == ':'))
    BCut(path, path.length - 1);
  for (int i = 0; NamesIgnoreCase && i < path.length; ++i)
    if (path.text[i] >= 'a' && path.text[i] <= 'z') path.text[i] = (char)(path.text[i] - 32);
  return path;
}

// Whether below lies in above or is above (both comparable).
bool PathWithin(const PathStr& below, const PathStr& above) {
  if (below.length < above.length || std::memcmp(below.text, above.text, above.length) != 0)
    return false;
  return below.length == above.length || above.text[above.length - 1] == PathSeparator ||
         below.text[above.length] == PathSeparator;
}

// Reads the dump of -since for the report of path, before the report's tree is read from the
// disk: a bad dump, or one of a tree that has no directory in common with the report's (not
// the start directory, nor one above or below it), ends the run before anything is scanned,
// and a dump being saved is left as it was.
void ReadSinceDump(const PathStr& path, const BuildSettings& report) {
  DumpRead& read = Since.read;
  read = DumpRead{};
  read.displayName = Options.sinceFile.text;
  read.select = path;
  read.wholeIfElsewhere = true;
  read.into = TreeConsumerOf(&Since.build);
  read.begin = BeginSinceDump;
  Since.settings = report;
  ReadSavedScan(&SinceDump, Options.sinceFile, &read);
  if (read.found) FinishTree(&Since.build);
  IndexSavedFiles(read.found ? &Since.root : nullptr);
  const DumpFacts& f = read.facts;
  if (!read.elsewhere) return;
  if (!PathWithin(ComparablePath(f.rootName), ComparablePath(path))) {
    DropSave();
    EraseStatus();
    BeginScanElsewhereLine(f.rootName);
    WriteText(", which has no directory in common with ");
    WritePath(path);
    EndErrorLine();
    EndProgram(1);
  }
  BeginScanElsewhereLine(f.rootName);
  WriteText(", compared directory by directory below each");
  EndErrorLine();
}

// Every directory of the report gets its growth since the dump read by ReadSinceDump.
void CompareWithSaved(const BuildSettings& report) {
  const DumpRead& read = Since.read;
  const DumpFacts& f = read.facts;
  SavedScans.since = true;
  SavedScans.sinceFile = Options.sinceFile;
  SavedScans.sinceDated = f.hasTimestamp;
  SavedScans.sinceTimestamp = f.timestamp;
  if (f.hasTimestamp) SavedScans.sinceMade = LocalDateTimeOf(f.timestamp);
  SavedScans.totalGrowth =
      CompareTrees(&RootNode, read.found ? &Since.root : nullptr, report, &ThenContents);
  ContentTable().swap(NowContents);
  ContentTable().swap(ThenContents);
  FinishFileChanges(&RootNode, read.found ? &Since.root : nullptr, &Run.changes);
  if (read.found) {
    CollapseChildren(&Since.root);
    std::free(Since.root.name);
    Since.root.name = nullptr;
  }
  // The browser switches between all and what changed itself (x).
  if (Options.changedOnly && !Options.browse) KeepChanged(&RootNode);
}

// The report's tree from the disk, in two steps with the dump of -since read between them:
// the start directory and its drive, and the settings that follow from them; then the scan.
// False when no report can be made (said).
bool PrepareDiskScan(PathStr* path, BuildSettings* settings) {
  bool tooLong = false;
  *path = ExpandPath(Options.directory, &tooLong);
  if (tooLong) {
    // Cut to the budget, the path would name one of its ancestors: no directory of it is read.
    DropSave();
    WriteRunEndingMessage(PathNotFoundLead, path->text, path->length, "");
    return false;
  }
  RootNode = DirNode{};
  RootNode.name = AllocateName(path->text, path->length);
  RootNode.ownNameLength = (uint16_t)NameLength(&RootNode);
  if (!GetDriveStatistics(*path, &Run.drive)) {
    DropSave();
    return false;
  }
  int32_t cluster = ChosenCluster(Run.drive.cluster);
  if (cluster == 0) {
    cluster = 1;
    PagedWriteLine("Erroneous cluster size of 0 given - using 1 instead.");
  }
  SetClusterSize(cluster);
  *settings =
      ReportSettings(ClusterSize, Run.drive.cluster, StartCharged(*path, Run.drive.rootLength));
  return true;
}

// What reading ahead may add to the memory of a scan whose tree keeps its files (the browser's):
// half the usual, which leaves the files the room (a browse of /usr within 12 MB).
constexpr size_t KeptFilesReadAheadMemory = 4 << 20;

// The tree a scan of the disk builds with the run's settings.
BuildSettings DiskTree(const BuildSettings& settings) {
  BuildSettings tree = settings;
  // A drive that gives no allocation unit: space held past a file's data is taken by bytes.
  if (tree.fileSystemCluster <= 0) tree.fileSystemCluster = 1;
  tree.releaseMemory = ScanReleaseMemory;
  return tree;
}

// A scan of the disk at path, for the tree `tree`, with the status line while it reads.
ScanRequest DiskRequest(const PathStr& path, const BuildSettings& tree) {
  ScanRequest request;
  request.path = path;
  request.pathBudget = PathBudget;
  request.patternRoom = PathPatternRoom;
  request.rules.readAheadThreads = Options.readAheadThreads;
  if (tree.files) request.rules.readAheadMemory = KeptFilesReadAheadMemory;
  request.progress = ShowReadingStatus(ReadingDirectory, (int)sizeof ReadingDirectory - 1);
  return request;
}

bool ScanDisk(const PathStr& path, const BuildSettings& settings) {
  static TreeBuild build;
  BuildSettings tree = DiskTree(settings);
  const ListingSink* sink = nullptr;
  ScanRequest request = DiskRequest(path, tree);
  // A saved scan holds each directory's own size: measured as the listings are read.
  request.rules.directorySizes = Saving;
  DirectoryFacts root = {0, 0, false, 0, false, true};
  request.rootFacts = &root;
  if (Saving) {
    root.hasDevice = StartDirectorySpace(path, &root.size, &root.held, &root.device);
    // The dump's cluster is the file system's, whatever -cl= made of this report: a report of
    // the dump with the same options gives the same rows.
    SaveFacts facts = {ProgramVersion,
                       (int64_t)std::time(nullptr),
                       Run.drive.cluster,
                       true,
                       settings.chargeRoot,
                       true,
                       Run.drive.label,
                       Run.drive.cluster,
                       Run.drive.freeBytes,
                       Run.drive.totalBytes,
                       true};
    StartDumpWriter(&SaveWriter, Save.file, facts);
    sink = &SaveWriter.sink;
  }
  BeginTree(&build, tree, &RootNode, sink);
  ScanOutcome met;
  bool scanned = ScanDirectory(request, TreeConsumerOf(&build), &met);
  if (scanned) {
    FinishTree(&build);
    PublishTree(&build, std::move(met));
  } else {
    Run.outcome = std::move(met);
  }
  // Nothing else would write over the status text when the report goes to a file or a pipe.
  EraseStatus();
  if (scanned)
    FinishSave();
  else
    DropSave();
  if (!scanned) CollapseChildren(&RootNode);
  return scanned;
}

// The browser's r (and its delete, after which it counts what went): the directory at path
// read again from the disk, into fresh, its files into the store, as the tree was built. A
// tree from a saved scan is read from the disk too, where it is there.
bool RereadDirectory(const PathStr& path, bool start,
                     const std::vector<FileIdentity>& chargedElsewhere, DirNode* fresh) {
  static TreeBuild build;
  BuildSettings tree = DiskTree(Run.settings);
  if (tree.cluster <= 0) tree.cluster = ClusterSize;
  tree.chargeRoot = start ? Run.settings.chargeRoot : true;
  tree.files = &KeptFiles;
  tree.topCount = 0;
  tree.contents = nullptr;
  ScanRequest request = DiskRequest(path, tree);
  BeginTree(&build, tree, fresh, nullptr);
  for (const FileIdentity& f : chargedElsewhere) TreeChargedElsewhere(&build, f.device, f.inode);
  ScanOutcome met;
  bool scanned = ScanDirectory(request, TreeConsumerOf(&build), &met);
  if (scanned) FinishTree(&build);
  EraseStatus();
  return scanned;
}

// The run's last word: what the report lacks, and a dump that could not be saved (exit 1).
int CloseRun() {
  int code = NoteIncompleteReport();
  return Run.saveFailed ? 1 : code;
}
}  // namespace

void StartUp() {
  PlatformStartUp();
  SetThousandsSeparator(LocaleThousandsSeparator());
  if (OutputRedirected) {
    SetTreeChars(PlainTreeChars);
    SetPaging(false);
  } else {
    SetTreeChars(GraphicTreeChars);
  }
}

void RunDirectory() {
  Run.reportMade = false;
  Run.saveFailed = false;
  SetRunTotals(0, 0);
  Run.options = Options;
  Run.drive = DriveFacts{};
  Run.outcome = ScanOutcome{};
  SavedScans = SavedScanNotes{};
  ForgetGrowth();
  StartTopList(&LargestAnywhere.files, Options.topCount);
  StartTopList(&LargestAnywhere.dirs, Options.topCount);
  const ReportForm& form = FormOf(Options.outputMode);
  ClearExclusions(NamesIgnoreCase, TextIsUtf8);
  for (const PathStr& pattern : Options.excludes) AddExclusion(pattern.text, pattern.length);
  // -save=-: the dump alone goes to standard output, as an export would; the rest, the banner
  // written already included, to standard error, and there is no report.
  DumpOnStandardOutput = BEquals(Options.saveFile, "-");
  if (DumpOnStandardOutput) SendAllOutputToErrors();
  bool title = OutputRedirected && !form.isExport && !DumpOnStandardOutput;
  OpenSavedScans();
  PathStr path;
  BuildSettings settings;
  bool since = SinceDump != nullptr;
  // The files behind the growth: as many of each kind as -top asks, 10 without it.
  if (since) BeginFileChanges(Options.topCount > 0 ? Options.topCount : SinceFileCount);
  if (Options.fromFile.length > 0) {
    if (!ReadFromDump(&path, &settings)) return;
    if (since) ReadSinceDump(path, settings);
    if (title) WriteTitle();
  } else {
    if (title) WriteTitle();
    if (!PrepareDiskScan(&path, &settings)) return;
    // A bad dump to compare with is refused before anything is read from the disk.
    if (since) ReadSinceDump(path, settings);
    if (!ScanDisk(path, settings)) {
      // A start directory that could not be read at all is named, and the run ends with 1.
      if (Outcome.startUnreadable) ClosingNote = NoteIncompleteReport;
      return;
    }
  }
  if (since) CompareWithSaved(settings);
  Run.reportMade = true;
  // Also when the report is left early (Escape in the scroller ends the program there).
  ClosingNote = CloseRun;
  if (DumpOnStandardOutput) {
    CommitSave();
    CollapseChildren(&RootNode);
    return;
  }
  // From here on an export's standard output is the report.
  if (form.isExport) SendOutputToErrors(false);
  // The lists of the largest spell paths as the rows do, in every form.
  if (form.rowPaths || Options.topCount > 0 || since) SetRowPath(path);
  Run.settings = settings;
  Run.path = path;
  if (Options.browse) {
    BrowseActions actions = {RereadDirectory, nullptr, nullptr};
    if (SavedScans.fromDump)
      actions.noDelete = actions.noReread = "the tree comes from a saved scan; its files are not here";
    else if (Options.noDelete)
      actions.noDelete = "-nodelete is set";
    Browse(Run, KeptFiles, actions);
  } else if (form.document) {
    form.document(Run);
    FlushOutput();
  } else {
    RunReport(SectionOf(form, Options.topCount > 0), Run);
  }
  KeptFiles.Clear();
  CommitSave();
  CollapseChildren(&RootNode);
}

int RunExitCode() {
  return Run.reportMade && !Run.saveFailed ? 0 : 1;
}

bool DumpGoesToStandardOutput() {
  return DumpOnStandardOutput;
}
