#include "config/configure.h"

#include <climits>
#include <string>

#include "console/console.h"
#include "console/output.h"
#include "console/pager.h"
#include "driver/options.h"
#include "report/format.h"
#include "report/screen_report.h"

namespace {
// The settings a word can set: every field of the options and the display switches the
// parser writes.
struct Settings {
  RunOptions options;
  BStr treeChars;
  bool showWaste, wasteAsPercent, paging, showUnits;
};

Settings Current() {
  return Settings{Options, TreeChars, ShowWaste, WasteAsPercent, PagingEnabled, ShowUnits};
}

void Apply(const Settings& s) {
  SetOptions(s.options);
  SetTreeChars(s.treeChars);
  SetShowWaste(s.showWaste);
  SetWasteAsPercent(s.wasteAsPercent);
  SetPaging(s.paging);
  SetShowUnits(s.showUnits);
}

// Two starting points that differ in every setting: a word sets a setting exactly when it
// leaves the same value after both, whatever was there before it.
Settings First() {
  return Settings{DefaultOptions, GraphicTreeChars, true, true, true, false};
}
Settings Second() {
  RunOptions o = {7,     12345, Comma, 999, true, {1, {'\x01', 0}}, FILES, {BMake("\x01")},
                  {1, {'\x01', 0}}, {1, {'\x01', 0}}, {1, {'\x01', 0}}};
  o.topCount = 777;
  return Settings{o, PlainTreeChars, false, false, false, true};
}

// What one word did when parsed from one starting point.
struct Outcome {
  Settings after;
  bool ended;            // it ended the run
  int exitCode;          // the run's exit code, when it ended it
  std::string launched;  // the target it handed over, if any
  std::string messages;  // what it wrote on standard output
  std::string errors;    // what it wrote on standard error
};

struct RunEnded {
  int code;
};
[[noreturn]] void EndCaught(int code) {
  throw RunEnded{code};
}
std::string Launched;  // target of the launch caught last
intptr_t LaunchCaught(const BStr& file, const BStr&, const BStr&, int32_t) {
  Launched.assign(file.text, file.length);
  return 42;
}
bool NoTerminalProgram(LaunchKind, const BStr&) {
  return false;
}

Outcome Try(const ParamStr& word, const Settings& from) {
  Outcome out;
  Apply(from);
  Launched.clear();
  // Paging stays as the word leaves it, but no prompt may stop the parse.
  int pageLines = PageLineCount;
  SetPageLineCount(INT_MIN / 2);
  std::string* outer = CaptureOutput(&out.messages);
  CaptureErrors(&out.errors);
  out.exitCode = 0;
  try {
    ParseOption(word);
    out.ended = false;
  } catch (const RunEnded& e) {
    out.ended = true;
    out.exitCode = e.code;
  }
  CaptureErrors(nullptr);
  CaptureOutput(outer);
  SetPageLineCount(pageLines);
  out.after = Current();
  out.launched = Launched;
  return out;
}

std::string Number(int64_t value) {
  BStr s = FormatThousands(value);
  return std::string(s.text, s.length);
}

const char* OrderText(SortOrder order) {
  switch (order) {
    case NONE:
      return "lists sibling directories in the order the file system gives them";
    case NAME:
      return "sorts sibling directories by name";
    case LOCAL:
      return "sorts sibling directories by their own size";
    case TOTAL:
      return "sorts sibling directories by their size with everything below them";
    case WASTE:
      return "sorts sibling directories by their wastage";
    case FILES:
      return "sorts sibling directories by their number of files";
    case GROWTH:
      return "sorts sibling directories by their growth since a saved scan (-since)";
    case CHANGE:
      return "sorts sibling directories by the size of their change since a saved scan (-since)";
  }
  return "";
}

const char* ModeText(OutputMode mode) {
  switch (mode) {
    case Screen:
      return "writes the report for the screen";
    case Tab:
      return "writes database rows in fixed columns separated by tabs";
    case Comma:
      return "writes database rows separated by commas";
    case Csv:
      return "writes CSV rows with a header line, that load as they are";
    case Json:
      return "writes the tree as one JSON document";
    case Html:
      return "writes one web page that draws the tree as a treemap";
    case Excel:
      return "writes the CSV rows as Excel opens them, in the list separator of the user's "
             "locale";
  }
  return "chooses the form of the report";
}

// What the settings that a and b agree on mean, in the order of the options' help.
std::string Describe(const Settings& a, const Settings& b) {
  std::string d;
  auto add = [&d](const std::string& text) { d += (d.empty() ? "" : "; ") + text; };
  const RunOptions &x = a.options, &y = b.options;
  if (x.maxDepth == y.maxDepth)
    add(x.maxDepth == 255
            ? "shows every level of directories"
            : "shows " + Number(x.maxDepth) + (x.maxDepth == 1 ? " level" : " levels") +
                  " of directories below the one reported; deeper ones are "
                  "counted in them");
  if (x.minSize == y.minSize)
    add(x.minSize == 0
            ? "shows directories of every size"
            : "counts directories below " + Number(x.minSize) + " bytes in the one above them");
  if (x.outputMode == y.outputMode) add(ModeText(x.outputMode));
  if (x.clusterSizeOverride == y.clusterSizeOverride)
    add(x.clusterSizeOverride == 0
            ? "computes wastage with the drive's cluster size"
            : "computes wastage with clusters of " + Number(x.clusterSizeOverride) + " bytes");
  if (x.dirListingSizes == y.dirListingSizes && x.dirListingSizes)
    add("counts every file at its length, as a directory listing does, without wastage");
  else if (a.showWaste == b.showWaste && !a.showWaste)
    add("hides the wastage column");
  if (BEquals(x.directory, y.directory))
    add("reports on the directory " + std::string(x.directory.text, x.directory.length) +
        " (a later directory wins)");
  if (x.sortOrder == y.sortOrder) add(OrderText(x.sortOrder));
  if (x.topCount == y.topCount)
    add(x.topCount == 0 ? "lists no largest files and directories"
                        : "lists the " + Number(x.topCount) +
                              " largest files and the directories holding the most bytes of "
                              "their own, after the report");
  // A saved-scan option names its file, or (empty) drops the one named before it.
  auto file = [&add](const PathStr& p, const PathStr& q, const char* named, const char* none) {
    if (!BEquals(p, q)) return;
    add(p.length == 0 ? std::string(none) : named + std::string(p.text, p.length));
  };
  file(x.saveFile, y.saveFile, "also writes the scan as a dump to ", "writes no dump");
  file(x.fromFile, y.fromFile, "reports from the saved scan ", "reports from the disk");
  file(x.sinceFile, y.sinceFile, "shows each directory's growth since the saved scan ",
       "shows no growth");
  if (BEquals(a.treeChars, b.treeChars))
    add(BEquals(a.treeChars, GraphicTreeChars) ? "draws the tree with line characters"
                                               : "draws the tree with + | and -");
  if (a.wasteAsPercent == b.wasteAsPercent)
    add(a.wasteAsPercent ? "shows wastage as a percentage" : "shows wastage in bytes");
  if (a.paging == b.paging && !a.paging) add("does not stop after each screenful");
  if (a.showUnits == b.showUnits)
    add(a.showUnits ? "shows sizes in units (K, M, G) on the screen" : "shows sizes in bytes");
  // Patterns add up, so a word that adds one leaves the same last pattern after both.
  const std::vector<PathStr>&xe = x.excludes, &ye = y.excludes;
  if (xe.empty() && ye.empty())
    add("drops the -exclude patterns given before it");
  else if (xe.size() == First().options.excludes.size() + 1 &&
           ye.size() == Second().options.excludes.size() + 1 && BEquals(xe.back(), ye.back()))
    add("leaves out the directories and files that match " +
        std::string(xe.back().text, xe.back().length));
  return d;
}

// The messages a word wrote, as one text, without the program's name that leads the lines
// on standard error.
std::string Messages(const std::string& written) {
  std::string text, eol = PlatformLineEnd, lead = "quorvel: ";
  for (size_t at = 0; at < written.size();) {
    size_t end = written.find(eol, at);
    if (end == std::string::npos) end = written.size();
    if (written.compare(at, lead.size(), lead) == 0 && end >= at + lead.size()) at += lead.size();
    if (end > at) text += (text.empty() ? "" : " ") + written.substr(at, end - at);
    at = end + eol.size();
  }
  return text;
}

void Line(const std::string& text) {
  WriteText(text.data(), (int)text.size());
  WriteLineEnd();
}

bool RunHasEnded = false;  // a word before the one explained ends every run
bool Doubtful = false;     // a word ends every run or gave a message

// Writes the line of one word: the word (padded to 12 columns), then what it does.
void ExplainWord(const ParamStr& word) {
  std::string text(word.text, word.length);
  std::string line = "  " + text + std::string(text.size() < 12 ? 12 - text.size() : 0, ' ') + "  ";
  if (RunHasEnded) {
    Line(line + "never applied: a word before it ends every run");
    return;
  }
  Outcome a = Try(word, First()), b = Try(word, Second());
  if (a.ended && a.exitCode != 0) {
    RunHasEnded = Doubtful = true;
    Line(line + "Quorvel refuses it: \"" + Messages(a.errors) +
         "\"; every run ends there with exit code 1");
    return;
  }
  if (a.ended) {
    RunHasEnded = Doubtful = true;
    Line(line + "ends every run of Quorvel here: " +
         (a.launched.empty() ? "it shows the welcome screen" : "it starts " + a.launched) +
         ", and nothing after it is applied");
    return;
  }
  std::string said = Messages(a.messages + a.errors), what = Describe(a.after, b.after);
  if (!said.empty()) Doubtful = true;
  if (what.empty()) what = said.empty() ? "an option (see quorvel -?)" : "nothing is changed";
  Line(line + (said.empty() ? "" : "Quorvel says \"" + said + "\"; ") + what);
}

bool Yes(const ConfigurationIo& io) {
  ParamStr answer;
  int length;
  return io.readLine(&answer, &length) && answer.length == 1 &&
         (answer.text[0] == 'y' || answer.text[0] == 'Y');
}

void Prompt(const char* text) {
  WriteText(text);
  FlushOutput();
}
}  // namespace

bool ExplainParameters(const ParamStr& text) {
  Settings saved = Current();
  void (*savedEnd)(int) = EndProgramHook;
  auto savedLauncher = Launcher;
  auto savedTerminal = TerminalLauncher;
  EndProgramHook = EndCaught;
  Launcher = LaunchCaught;
  TerminalLauncher = NoTerminalProgram;
  RunHasEnded = Doubtful = false;
  TokenizeParameters(text, ExplainWord);
  Apply(saved);
  EndProgramHook = savedEnd;
  Launcher = savedLauncher;
  TerminalLauncher = savedTerminal;
  return Doubtful;
}

int RunConfiguration(const ParamStr& stored, const ConfigurationIo& io) {
  std::string about = io.about;
  for (size_t at = 0; at <= about.size();) {
    size_t end = about.find('\n', at);
    if (end == std::string::npos) end = about.size();
    Line(about.substr(at, end - at));
    at = end + 1;
  }
  Line("They are kept in");
  Line(std::string("  ") + io.place);
  Line("");
  if (stored.length == 0) {
    Line("Stored now: nothing.");
  } else {
    Line("Stored now: " + std::string(stored.text, stored.length));
    ExplainParameters(stored);
  }
  for (;;) {
    Line("");
    Prompt("New parameters (Enter keeps them, - alone clears them): ");
    ParamStr typed;
    int length = 0;
    if (!io.readLine(&typed, &length) || length == 0) {
      Line("");
      Line("Kept as they were.");
      return 0;
    }
    if (length > ParamCapacity) {
      Line("That is " + Number(length) + " bytes; Quorvel reads at most " + Number(ParamCapacity) +
           ". Nothing was stored.");
      continue;
    }
    ParamStr chosen = typed;
    if (BEquals(typed, "-")) BClear(chosen);
    if (ExplainParameters(chosen)) {
      Prompt("Store them all the same? [y/N] ");
      if (!Yes(io)) {
        Line("Kept as they were.");
        return 0;
      }
    }
    BStr failure;
    BClear(failure);
    if (!io.store(chosen, &failure)) {
      Line("Could not store the parameters: " + std::string(failure.text, failure.length));
      return 1;
    }
    Line(chosen.length == 0 ? "Cleared: no default parameters." : "Stored.");
    return 0;
  }
}
