// The option parser, the tokenizer, the depth and size readers, and the texts: every token is
// applied to the real RunOptions and display switches, with output captured and the end of the
// program caught.
#include "driver/options.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/output.h"
#include "console/pager.h"
#include "console/strings.h"
#include "disk/stored_defaults.h"
#include "driver/system.h"
#include "driver/texts.h"
#include "mailer/contact.h"
#include "report/screen_report.h"

namespace {
template <int N>
std::string S(const BoundedText<N>& b) {
  return std::string(b.text, b.length);
}
BStr B(const std::string& s) {
  return BMake(s.data(), (int)s.size());
}
ParamStr P(const std::string& s) {
  return MakeText<ParamCapacity>(s.data(), (int)s.size());
}

struct ProgramEnded {
  int code;
};
void ThrowOnEnd(int code) {
  throw ProgramEnded{code};
}

std::vector<std::string> Launched;  // targets handed to the shell, in order
intptr_t LaunchResult = 42;         // what the stand-in shell answers (32 or less: failed)
intptr_t RecordLaunch(const BStr& file, const BStr& parameters, const BStr& directory,
                      int32_t showCommand) {
  // The launch passes no parameters, no directory, and the normal show command.
  EXPECT_EQ(parameters.length, 0);
  EXPECT_EQ(directory.length, 0);
  EXPECT_EQ(showCommand, 5);
  Launched.push_back(S(file));
  return LaunchResult;
}

std::vector<LaunchKind> TerminalKinds;  // kinds offered to the terminal's programs, in order
bool TerminalAccepts = false;           // whether the stand-in terminal program "ran"
bool RecordTerminalLaunch(LaunchKind kind, const BStr& target) {
  TerminalKinds.push_back(kind);
  return TerminalAccepts && kind != LaunchToShell;
}

std::vector<std::string> Tokens;  // what the tokenizer handed on
void RecordToken(const ParamStr& token) {
  Tokens.push_back(S(token));
}

std::vector<std::string> SplitLines(const std::string& out) {
  std::vector<std::string> lines;
  std::string eol = PlatformLineEnd;
  size_t start = 0, at;
  while ((at = out.find(eol, start)) != std::string::npos) {
    lines.push_back(out.substr(start, at - start));
    start = at + eol.size();
  }
  return lines;
}

// Every test starts from the defaults, with output captured, no pager prompts, and the end of
// the program and every launch caught; the switches are put back afterwards.
class OptionTest : public ::testing::Test {
 protected:
  std::string out;
  BStr savedTreeChars = TreeChars;
  bool savedShowWaste = ShowWaste, savedAsPercent = WasteAsPercent, savedPaging = PagingEnabled;

  void SetUp() override {
    Options = DefaultOptions;
    TreeChars = PlainTreeChars;
    ShowWaste = true;
    WasteAsPercent = true;
    PagingEnabled = false;
    EndProgramHook = ThrowOnEnd;
    Launcher = RecordLaunch;
    TerminalLauncher = RecordTerminalLaunch;
    TerminalAccepts = false;
    LaunchResult = 42;
    TerminalKinds.clear();
    Launched.clear();
    Tokens.clear();
    CaptureOutput(&out);
  }
  void TearDown() override {
    CaptureOutput(nullptr);
    EndProgramHook = nullptr;
    Options = DefaultOptions;
    TreeChars = savedTreeChars;
    ShowWaste = savedShowWaste;
    WasteAsPercent = savedAsPercent;
    PagingEnabled = savedPaging;
  }
  void Parse(const char* token) { ParseOption(BMake(token)); }
  // Parses a token that must end the program; returns the exit code.
  int ParseToEnd(const char* token) {
    try {
      Parse(token);
    } catch (const ProgramEnded& e) {
      return e.code;
    }
    ADD_FAILURE() << token << " did not end the program";
    return -1;
  }
  // What a token that must be refused (code 1) writes on standard error, without its line end.
  std::string Refusal(const std::string& token) {
    std::string errors;
    CaptureErrors(&errors);
    EXPECT_EQ(ExitCodeOf([&] { ParseArgument(token.c_str()); }), 1) << token;
    CaptureErrors(nullptr);
    return errors.substr(0, errors.size() - std::string(PlatformLineEnd).size());
  }
  static std::string Unknown(const std::string& token, const std::string& source = "") {
    return "quorvel: unknown option " + token + source + " (quorvel -? lists them)";
  }
  std::vector<std::string> Lines() const { return SplitLines(out); }
  std::string Dir() const { return S(Options.directory); }
  // The exit code of a call that must end the program.
  template <typename F>
  int ExitCodeOf(F call) {
    try {
      call();
    } catch (const ProgramEnded& e) {
      return e.code;
    }
    ADD_FAILURE() << "the program did not end";
    return -1;
  }
};

bool MakeDirectory(const std::string& name) {
  std::error_code e;
  return std::filesystem::create_directory(name, e);
}
void RemoveDirectory(const std::string& name) {
  std::error_code e;
  std::filesystem::remove(name, e);
}

int64_t Size(const char* upper) {
  return ParseSizeValue(BMake(upper));
}
}  // namespace

TEST_F(OptionTest, TokenizerSeparatesAtBlankBackspaceAndFFOnly) {
  TokenizeParameters(B("a b\x08"
                       "c\xFF"
                       "d   e\tf"),
                     RecordToken);
  EXPECT_EQ(Tokens, (std::vector<std::string>{"a", "b", "c", "d", "e\tf"}));
  Tokens.clear();
  TokenizeParameters(B("  \x08\xFF  "), RecordToken);
  EXPECT_TRUE(Tokens.empty());
}

TEST_F(OptionTest, TokenizerQuotesKeepSeparatorsAndAreDropped) {
  TokenizeParameters(B("-size:1M \"C:\\My Documents\""), RecordToken);
  EXPECT_EQ(Tokens, (std::vector<std::string>{"-size:1M", "C:\\My Documents"}));
  Tokens.clear();
  // Quotes in the middle of a word join it with what they enclose.
  TokenizeParameters(B("a\"b c\"d \"x\xFFy\x08z\""), RecordToken);
  EXPECT_EQ(Tokens, (std::vector<std::string>{"ab cd", "x\xFFy\x08z"}));
  Tokens.clear();
  // An empty pair yields no token; an open quote runs to the end of the text.
  TokenizeParameters(B("\"\" one \"\"\"\" \"two three"), RecordToken);
  EXPECT_EQ(Tokens, (std::vector<std::string>{"one", "two three"}));
}

TEST_F(OptionTest, TokenizerPassesA255ByteTokenWhole) {
  std::string word(255, 'w');
  TokenizeParameters(B(word), RecordToken);
  ASSERT_EQ(Tokens.size(), 1u);
  EXPECT_EQ(Tokens[0], word);
  Tokens.clear();
  std::string quoted = "\"" + std::string(254, 'q');  // the quote takes one of the 255 bytes
  TokenizeParameters(B(quoted), RecordToken);
  ASSERT_EQ(Tokens.size(), 1u);
  EXPECT_EQ(Tokens[0], std::string(254, 'q'));
}

TEST_F(OptionTest, TokenizerPassesTokensPast255BytesWhole) {
  // A stored -exclude: of a long path must reach the parser whole: a cut pattern matches other
  // names.
  std::string pattern(5000, 'p');
  TokenizeParameters(P("-size:1 \"-exclude:" + pattern + "\" x"), RecordToken);
  EXPECT_EQ(Tokens, (std::vector<std::string>{"-size:1", "-exclude:" + pattern, "x"}));
}

TEST_F(OptionTest, TokenizerAppliesTokensAsOptionsByDefault) {
  TokenizeParameters(B("-nowaste \"my dir\" -5"));
  EXPECT_FALSE(ShowWaste);
  EXPECT_EQ(Dir(), "my dir");
  EXPECT_EQ(Options.maxDepth, 5);
}

TEST_F(OptionTest, TreeCharOptionsAreWholeWords) {
  Parse("-c+");
  EXPECT_TRUE(BEquals(TreeChars, GraphicTreeChars));
  Parse("-C-");
  EXPECT_TRUE(BEquals(TreeChars, PlainTreeChars));
  EXPECT_EQ(Refusal("-c+x"), Unknown("-c+x"));  // no prefix match
  EXPECT_TRUE(BEquals(TreeChars, PlainTreeChars));
}

TEST_F(OptionTest, SortAcceptsTheSixNamesInAnyCase) {
  const struct {
    const char* token;
    SortOrder order;
  } cases[] = {{"-sort=none", NONE},   {"-SORT=Local", LOCAL}, {"-sort=total", TOTAL},
               {"-sort=WASTE", WASTE}, {"-Sort=files", FILES}, {"-sort=name", NAME},
               {"-sort=Growth", GROWTH}};
  for (const auto& c : cases) {
    Parse(c.token);
    EXPECT_EQ(Options.sortOrder, c.order) << c.token;
  }
  EXPECT_TRUE(out.empty());
}

TEST_F(OptionTest, SortRejectsOtherNamesWithTheUpperCasedText) {
  Parse("-sort=local");
  Parse("-sort=");
  Parse("-sort=namex");
  Parse("-sort=sizes");
  EXPECT_EQ(Options.sortOrder, LOCAL);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Invalid sorting method specified - ",
                                               "Invalid sorting method specified - NAMEX",
                                               "Invalid sorting method specified - SIZES"}));
}

TEST_F(OptionTest, SortBySizeAsTheHelpScreenNamesItIsTheTotalOrder) {
  for (const char* token : {"-sort=size", "-SORT=Size"}) {
    Options.sortOrder = NAME;
    Parse(token);
    EXPECT_EQ(Options.sortOrder, TOTAL) << token;
  }
  EXPECT_EQ(Lines(), std::vector<std::string>{});
}

TEST_F(OptionTest, PagingOffOnlyForTheWholeWord) {
  PagingEnabled = true;
  EXPECT_EQ(Refusal("-px"), Unknown("-px"));
  EXPECT_TRUE(PagingEnabled);
  Parse("-p");
  EXPECT_FALSE(PagingEnabled);
}

TEST_F(OptionTest, MinimumSizeTakesBothSeparatorsAndSuffixes) {
  Parse("-size=2M");
  EXPECT_EQ(Options.minSize, 2097152);
  Options.minSize = 0;
  Parse("-size:2m");
  EXPECT_EQ(Options.minSize, 2097152);
  Parse("-SIZE=");
  EXPECT_EQ(Options.minSize, 0);
  EXPECT_EQ(Refusal("-size"), "quorvel: -size needs a value");  // in one word it has none
  Parse("-size=-3k");
  EXPECT_EQ(Options.minSize, 3072);
}

TEST_F(OptionTest, ClusterSizeAbove64KIsCappedWithAMessage) {
  Parse("-cl=65536");
  EXPECT_EQ(Options.clusterSizeOverride, 65536);
  EXPECT_TRUE(out.empty());
  Parse("-cl:4k");
  EXPECT_EQ(Options.clusterSizeOverride, 4096);
  Parse("-cl=0");
  EXPECT_EQ(Options.clusterSizeOverride, 0);
  Parse("-cl=65537");
  EXPECT_EQ(Options.clusterSizeOverride, 65536);
  Options.clusterSizeOverride = 0;
  // Far beyond 64 bits: clamped, so still above 64K rather than wrapped to a small value.
  Parse("-cl=99999999999999999999G");
  EXPECT_EQ(Options.clusterSizeOverride, 65536);
  Options.clusterSizeOverride = 0;
  Parse("-cl=1e30");
  EXPECT_EQ(Options.clusterSizeOverride, 65536);
  EXPECT_EQ(Lines(), std::vector<std::string>(3, "Invalid cluster size > 64K ignored."));
}

TEST_F(OptionTest, OutputFormsMatchByPrefix) {
  for (const char* t : {"-tab", "-Tab", "-TAB", "-tabular"}) {
    Options.outputMode = Screen;
    Parse(t);
    EXPECT_EQ(Options.outputMode, Tab) << t;
  }
  Parse("-commas");
  EXPECT_EQ(Options.outputMode, Comma);
  EXPECT_EQ(Refusal("-comm"), Unknown("-comm"));  // too short for the prefix
  EXPECT_EQ(Options.outputMode, Comma);
}

TEST_F(OptionTest, ExportsAndUnitsAreWholeWords) {
  // Whole words, unlike the older forms: a directory called -csvfiles stays reachable.
  Parse("-CSV");
  EXPECT_EQ(Options.outputMode, Csv);
  Parse("-json");
  EXPECT_EQ(Options.outputMode, Json);
  Parse("-Html");
  EXPECT_EQ(Options.outputMode, Html);
  Parse("-tab");
  EXPECT_EQ(Options.outputMode, Tab);
  EXPECT_EQ(Refusal("-csvfiles"), Unknown("-csvfiles"));
  EXPECT_EQ(Options.outputMode, Tab);
  bool units = ShowUnits;
  Parse("-Units");
  EXPECT_TRUE(ShowUnits);
  EXPECT_EQ(Refusal("-unitsx"), Unknown("-unitsx"));
  EXPECT_TRUE(ShowUnits);
  Parse("-bytes");
  EXPECT_FALSE(ShowUnits);
  ShowUnits = units;
  EXPECT_TRUE(IsExport(Csv) && IsExport(Json) && IsExport(Html) && !IsExport(Tab) &&
              !IsExport(Comma));
}

TEST_F(OptionTest, ExcludePatternsKeepTheirCaseAndAnEmptyOneDropsTheEarlier) {
  Parse("-exclude=Node_Modules");
  Parse("-EXCLUDE:src/*.gen");
  Parse("-exclude=a b");  // a quoted token may hold a blank
  ASSERT_EQ(Options.excludes.size(), 3u);
  EXPECT_EQ(S(Options.excludes[0]), "Node_Modules");
  EXPECT_EQ(S(Options.excludes[1]), "src/*.gen");
  EXPECT_EQ(S(Options.excludes[2]), "a b");
  Parse("-exclude:");
  EXPECT_TRUE(Options.excludes.empty());
  Parse("-exclude=x");
  EXPECT_EQ(Options.excludes.size(), 1u);
  EXPECT_EQ(Refusal("-excludex"), Unknown("-excludex"));  // neither "=" nor ":"
  EXPECT_EQ(Options.excludes.size(), 1u);
}

TEST_F(OptionTest, TopTakesAWholeNumberFrom1To1000AndRefusesAnythingElseBeforeAnyScan) {
  Parse("-top=10");
  EXPECT_EQ(Options.topCount, 10);
  Parse("-TOP:1000");
  EXPECT_EQ(Options.topCount, 1000);
  Parse("-top=001");
  EXPECT_EQ(Options.topCount, 1);
  Parse("-top=");  // nothing after it: the lists a stored string asked for are dropped
  EXPECT_EQ(Options.topCount, 0);
  for (const char* bad : {"-top=0", "-top=1001", "-top=99999999999999999999", "-top=x", "-top=5k",
                          "-top=-3", "-top= 5", "-Top:2.5"}) {
    std::string errors;
    CaptureErrors(&errors);
    Options.topCount = 7;
    EXPECT_EQ(ParseToEnd(bad), 1) << bad;
    CaptureErrors(nullptr);
    EXPECT_EQ(SplitLines(errors),
              std::vector<std::string>{"quorvel: " + std::string(bad) +
                                       " is not a number from 1 to 1000"});
    EXPECT_EQ(Options.topCount, 7) << "nothing applied";
  }
  EXPECT_TRUE(out.empty());
}

TEST_F(OptionTest, AnExportIsKnownBeforeTheBannerFromEverySource) {
  // The banner is written before any token is parsed, so the form is found ahead, as the
  // parser will take it: the last form option of all three sources, unless an option ends the
  // program first.
  char program[] = "quorvel", csv[] = "-csv", json[] = "-JSON", tab[] = "-tabular", dir[] = "d",
       welcome[] = "-w", mail[] = "-mail";
  ParamStr stored = StoredDefaultParams;
  struct Case {
    const char* stored;
    std::vector<char*> args;
    bool exported;
  } cases[] = {
      {"", {csv}, true},         {"", {json, dir}, true},  {"-csv", {dir}, true},
      {"-json", {tab}, false},   {"-tab", {csv}, true},    {"\"-csv\"", {}, true},
      {"", {csv, tab}, false},   {"", {}, false},          {"", {csv, welcome}, false},
      {"-mail -csv", {}, false}, {"", {mail, csv}, false}, {"-html", {dir}, true},
  };
  for (const Case& c : cases) {
    StoredDefaultParams = BMake(c.stored);
    std::vector<char*> argv = {program};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(ExportRequested((int)argv.size(), argv.data()), c.exported)
        << c.stored << " / " << (c.args.empty() ? "" : c.args[0]);
  }
  StoredDefaultParams = stored;
  EXPECT_TRUE(out.empty()) << "nothing is parsed, nothing written";
  EXPECT_EQ(Options.outputMode, Screen);
}

TEST_F(OptionTest, WasteSwitches) {
  Parse("-asval");
  EXPECT_FALSE(WasteAsPercent);
  Parse("-ASPERCENT");
  EXPECT_TRUE(WasteAsPercent);
  Parse("-nowasteful");
  EXPECT_FALSE(ShowWaste);
  EXPECT_FALSE(Options.dirListingSizes);
}

TEST_F(OptionTest, DirPrefixChoosesListingSizesAndHidesWaste) {
  Parse("-dirty");  // counts as -DIR
  EXPECT_TRUE(Options.dirListingSizes);
  EXPECT_FALSE(ShowWaste);
  EXPECT_EQ(Dir(), ".");
}

TEST_F(OptionTest, AnyTokenStartingWithWShowsTheWelcomeAndEnds) {
  EXPECT_EQ(ParseToEnd("-Wanything"), 0);
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 15u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], "Quorvel is a great utility for finding disk-space hungy applications or");
  EXPECT_EQ(lines[8], std::string("  ") + HomePage);
  EXPECT_EQ(lines[12], std::string("You can email Tobrenn at ") + AuthorAddress);
  EXPECT_EQ(lines[14], "Type quorvel -? for help");
  EXPECT_TRUE(Launched.empty());
}

TEST_F(OptionTest, LaunchOptionsWriteTheirMessageThenHandOverAndEnd) {
  EXPECT_EQ(ParseToEnd("-mailbox"), 0);
  EXPECT_EQ(ParseToEnd("-Penwick"), 0);
  EXPECT_EQ(ParseToEnd("-manual"), 0);
  EXPECT_EQ(Lines(),
            (std::vector<std::string>{"Starting mail program",
                                      "Starting Web browser to show Penwick Software home page.",
                                      "Starting program to display Quorvel user manual."}));
  ASSERT_EQ(Launched.size(), 3u);
  EXPECT_EQ(Launched[0], std::string("mailto:") + AuthorAddress);
  EXPECT_EQ(Launched[1], HomePage);
  EXPECT_EQ(Launched[2], S(OwnDirectory()) + "quorvel.txt");
  EXPECT_NE(OwnDirectory().length, 0);
}

TEST_F(OptionTest, ConfigAndManualGoToTheShellOnlyWhenNoTerminalProgramRan) {
  EXPECT_EQ(ParseToEnd("-config"), 0);
  EXPECT_EQ(ParseToEnd("-manual"), 0);
  EXPECT_EQ(ParseToEnd("-mail"), 0);
  EXPECT_EQ(TerminalKinds, (std::vector<LaunchKind>{LaunchToEdit, LaunchToRead, LaunchToShell}));
  EXPECT_EQ(Launched.size(), 3u);
  // An editor or pager that ran is the whole launch; the mail URL still goes to the shell.
  TerminalAccepts = true;
  Launched.clear();
  EXPECT_EQ(ParseToEnd("-CONFIG"), 0);
  EXPECT_EQ(ParseToEnd("-Manual"), 0);
  EXPECT_TRUE(Launched.empty());
  EXPECT_EQ(ParseToEnd("-penwick"), 0);
  EXPECT_EQ(Launched, (std::vector<std::string>{HomePage}));
}

TEST_F(OptionTest, ALaunchThatCannotStartSaysSoAndEndsWithCode1) {
  // The shell's answers of 32 and less are failures (2: file not found); 33 is a success.
  // Output is no terminal here: the failures are also on standard error, prefixed.
  std::string errors;
  CaptureErrors(&errors);
  LaunchResult = 2;
  EXPECT_EQ(ParseToEnd("-config"), 1);
  LaunchResult = 32;
  EXPECT_EQ(ParseToEnd("-penwick"), 1);
  LaunchResult = 33;
  EXPECT_EQ(ParseToEnd("-mail"), 0);
  CaptureErrors(nullptr);
  EXPECT_EQ(Lines(),
            (std::vector<std::string>{
                "Starting Quorvel configuration program", "Could not start " + S(ConfigTarget()),
                "Starting Web browser to show Penwick Software home page.",
                std::string("Could not start ") + HomePage, "Starting mail program"}));
  EXPECT_EQ(SplitLines(errors),
            (std::vector<std::string>{"quorvel: Could not start " + S(ConfigTarget()),
                                      std::string("quorvel: Could not start ") + HomePage}));
}

TEST_F(OptionTest, SavedScanFilesKeepTheirCaseAndAnEmptyOneDropsTheEarlier) {
  Parse("-save=Dumps/Today.json");
  Parse("-FROM:Old.JSON");
  Parse("-Since=-");
  EXPECT_EQ(S(Options.saveFile), "Dumps/Today.json");
  EXPECT_EQ(S(Options.fromFile), "Old.JSON");
  EXPECT_EQ(S(Options.sinceFile), "-");
  Parse("-from=");
  EXPECT_EQ(Options.fromFile.length, 0);
  EXPECT_EQ(Refusal("-sincex"), Unknown("-sincex"));  // neither "=" nor ":"
  EXPECT_EQ(S(Options.sinceFile), "-");
  // A file named on the command line may be as long as a path; the token alone is cut at 255.
  std::string longName = "-save=" + std::string(300, 'f') + ".json";
  out.clear();
  ParseArgument(longName.c_str());
  EXPECT_EQ(S(Options.saveFile), longName.substr(6));
  EXPECT_TRUE(out.empty());
  std::string errors;
  CaptureErrors(&errors);
  std::string tooLong = "-since=" + std::string(PathBudget + 1, 'f');
  EXPECT_THROW(ParseArgument(tooLong.c_str()), ProgramEnded);
  EXPECT_NE(errors.find("the value of -since= is too long (4096 bytes, at most 4095)"),
            std::string::npos)
      << errors;
}

TEST_F(OptionTest, AnUnknownOptionIsRefusedUnlessItNamesADirectory) {
  Parse("-?");  // help is only a first-argument matter
  EXPECT_EQ(Dir(), "-?");
  Parse("-");
  EXPECT_EQ(Dir(), "-");
  std::string folder = "-quorvel-options-test";  // named as it stands, when it exists
  ASSERT_TRUE(MakeDirectory(folder)) << folder;
  Parse(folder.c_str());
  RemoveDirectory(folder);
  EXPECT_EQ(Dir(), folder);
  // Mistyped, or another program's ("-X f" is du's --exclude-from): nothing applied.
  for (const char* token : {"-x", "-X", "-pen", "-exlcude=node_modules", "--", "-5x"})
    EXPECT_EQ(Refusal(token), Unknown(token));
  EXPECT_EQ(Dir(), folder);
  EXPECT_TRUE(out.empty());
}

TEST_F(OptionTest, DuDepthSpellingsTakeTheNumberOfLevels) {
  for (auto c : {std::make_pair("--max-depth=1", 1), {"--MAX-DEPTH:3", 3}, {"-D:4", 4},
                 {"-d7", 7}, {"-d=300", 255}}) {
    Parse(c.first);
    EXPECT_EQ(Options.maxDepth, c.second) << c.first;
  }
  for (std::string bad : {"--max-depth=0", "--max-depth=", "-d=-1", "-d0"})
    EXPECT_EQ(Refusal(bad), "quorvel: " + bad + " is not a number of levels from 1 up");
}

TEST_F(OptionTest, AValueOptionWithoutItsEqualsSignTakesTheNextToken) {
  // As GNU tools take them: the value may look like an option; a flag never takes one.
  TokenizeParameters(B("--exclude node_modules \"-save\" \"my dump.json\" -p 5 -d -x -top"),
                     RecordToken);
  EXPECT_EQ(Tokens, (std::vector<std::string>{"--exclude=node_modules", "-save=my dump.json",
                                              "-p", "5", "-d=-x", "-top"}));
  EXPECT_EQ(Refusal("-top"), "quorvel: -top needs a value");  // nothing after it
}

TEST_F(OptionTest, WhatTheRunWouldRefuseIsRefusedBeforeTheBannerInOrder) {
  // The banner is written before the tokens are applied: the check runs ahead over the three
  // sources as they will be applied, and applies nothing.
  char program[] = "quorvel", top[] = "-top", five[] = "5", x[] = "-x",
       growth[] = "-sort=growth", since[] = "-since", file[] = "f.json";
  const std::string growthLine =
      "quorvel: -sort=growth needs -since=FILE, the saved scan to count the growth from";
  struct Case {
    const char* stored;
    std::vector<char*> args;
    std::string line;  // empty: not refused
  } cases[] = {
      {"", {top, five}, ""},
      {"", {top, five, x}, Unknown("-x")},
      {"-x", {}, Unknown("-x", " in the stored default parameters")},
      {"-p -exclude", {five}, "quorvel: -exclude in the stored default parameters needs a value"},
      {"-w", {x}, ""},  // the welcome screen ends the run before -x is applied
      {"", {growth}, growthLine},
      {"-sort=growth", {since, file}, ""},
  };
  ParamStr stored = StoredDefaultParams;
  for (const Case& c : cases) {
    StoredDefaultParams = BMake(c.stored);
    std::vector<char*> argv = {program};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::string errors;
    CaptureErrors(&errors);
    int code = 0;
    try {
      CheckParameters((int)argv.size(), argv.data());
    } catch (const ProgramEnded& e) {
      code = e.code;
    }
    CaptureErrors(nullptr);
    EXPECT_EQ(code, c.line.empty() ? 0 : 1) << c.stored << " / " << c.line;
    EXPECT_EQ(errors, c.line.empty() ? "" : c.line + PlatformLineEnd);
  }
  StoredDefaultParams = stored;
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(Options.topCount, 0);
}

TEST_F(OptionTest, ValuesThatNameFilesOrPatternsKeepThePathBudget) {
  // The issue's fault: a 300-byte pattern was cut to 246 bytes, and then matched every name.
  std::string pattern(300, 'x');
  ParseArgument(("-exclude=" + pattern).c_str());
  std::string longest(PathBudget, 'y');
  TokenizeParameters(P("-exclude:" + longest));
  ASSERT_EQ(Options.excludes.size(), 2u);
  EXPECT_EQ(S(Options.excludes[0]), pattern);
  EXPECT_EQ(S(Options.excludes[1]), longest);
  // Any other option keeps the 255 bytes of a token: the longest is taken as it stands.
  std::string sort = "-sort=" + std::string(249, 'Z');
  ParseArgument(sort.c_str());
  // (its message is one line, cut to 255 bytes, as every message is)
  EXPECT_EQ(Lines(),
            (std::vector<std::string>{
                ("Invalid sorting method specified - " + std::string(249, 'Z')).substr(0, 255)}));
  EXPECT_EQ(Options.maxDepth, 255);
  // A depth is read whole, at any length.
  ParseArgument(("-" + std::string(1000, '0') + "7").c_str());
  EXPECT_EQ(Options.maxDepth, 7);
}

TEST_F(OptionTest, ATokenLongerThanItsOptionHoldsIsRefusedBeforeAnyScan) {
  struct Case {
    std::string token;
    std::string line;
  } cases[] = {
      {"-exclude=" + std::string(PathBudget + 1, 'x'),
       "quorvel: the value of -exclude= is too long (4096 bytes, at most 4095)"},
      {"--exclude=" + std::string(5000, 'x'),
       "quorvel: the value of --exclude= is too long (5000 bytes, at most 4095)"},
      {"-sort=" + std::string(250, 'x'),
       "quorvel: the option -sort= is too long (256 bytes, at most 255)"},
      {"-Tabular" + std::string(300, 'x'),
       "quorvel: the option -tab is too long (308 bytes, at most 255)"},
  };
  for (const Case& c : cases) {
    Options = DefaultOptions;
    std::string errors;
    CaptureErrors(&errors);
    int code = -1;
    try {
      ParseArgument(c.token.c_str());
    } catch (const ProgramEnded& e) {
      code = e.code;
    }
    CaptureErrors(nullptr);
    EXPECT_EQ(code, 1) << c.line;
    EXPECT_EQ(SplitLines(errors), std::vector<std::string>{c.line});
    EXPECT_TRUE(Options.excludes.empty() && Options.outputMode == Screen) << "nothing applied";
  }
  // From a parameter string the same.
  std::string errors;
  CaptureErrors(&errors);
  EXPECT_THROW(TokenizeParameters(P("-nowaste -exclude:" + std::string(4100, 'x'))), ProgramEnded);
  CaptureErrors(nullptr);
  EXPECT_EQ(SplitLines(errors),
            (std::vector<std::string>{"quorvel: the value of -exclude: is too long (4100 bytes, at "
                                      "most 4095)"}));
  EXPECT_TRUE(out.empty());
}

TEST_F(OptionTest, ADirectoryPastThePathBudgetIsMarkedNeverCut) {
  // Cut to the budget, a path names an ancestor or another directory; the run must refuse it.
  std::string fits = "/" + std::string(PathBudget - 1, 'd');
  ParseArgument(fits.c_str());
  EXPECT_EQ(Dir(), fits);
  EXPECT_FALSE(Options.directoryTooLong);
  for (size_t length : {(size_t)PathBudget + 1, (size_t)5000}) {
    std::string path = "/" + std::string(length - 1, 'd');
    ParseArgument(path.c_str());
    EXPECT_TRUE(Options.directoryTooLong) << length;
    EXPECT_GT(Options.directory.length, PathBudget) << "longer than the budget still";
    EXPECT_EQ(Dir(), path.substr(0, Options.directory.length));
  }
  // 5,000 slashes were reported as "/" once; over-long from a parameter string too.
  ParseArgument(std::string(5000, '/').c_str());
  EXPECT_TRUE(Options.directoryTooLong);
  ParseArgument("short");
  EXPECT_FALSE(Options.directoryTooLong) << "a later directory replaces the long one";
  TokenizeParameters(P(std::string(6000, 'e')));
  EXPECT_TRUE(Options.directoryTooLong);
  EXPECT_TRUE(out.empty());
}

TEST_F(OptionTest, AWindowsFolderTypedWithABackslashBeforeItsClosingQuoteIsReadAsTyped) {
  // The C runtime hands over "C:\Program Files\" as C:\Program Files" and "C:\A\" -2 -p as
  // one argument C:\A" -2 -p: a name never holds a quote there, so it stood for the backslash.
  ParseArgument("C:\\Program Files\"", true);
  EXPECT_EQ(Dir(), "C:\\Program Files\\");
  ParseArgument("C:\"", true);
  EXPECT_EQ(Dir(), "C:\\");
  ParseArgument("C:\\A\" -2  \"-sort=files\" \"D:\\My Dir\"", true);
  EXPECT_EQ(Dir(), "D:\\My Dir");
  EXPECT_EQ(Options.maxDepth, 2);
  EXPECT_EQ(Options.sortOrder, FILES);
  // A quote elsewhere, or in an option, stays; so do all of them where names may hold quotes.
  ParseArgument("a\"b", true);
  EXPECT_EQ(Dir(), "a\"b");
  ParseArgument("-exclude=x\"", true);
  EXPECT_EQ(S(Options.excludes.back()), "x\"");
  ParseArgument("C:\\Program Files\"", false);
  EXPECT_EQ(Dir(), "C:\\Program Files\"");
  EXPECT_TRUE(out.empty());
}

TEST_F(OptionTest, AThreadCountOutsideOneTo256IsSaidAndTheDefaultUsed) {
  std::string errors;
  CaptureErrors(&errors);
  EXPECT_EQ(ParseThreadCount(nullptr), 0);
  EXPECT_EQ(ParseThreadCount(""), 0);
  EXPECT_EQ(ParseThreadCount("1"), 1);
  EXPECT_EQ(ParseThreadCount("008"), 8);
  EXPECT_EQ(ParseThreadCount("256"), 256);
  EXPECT_TRUE(errors.empty());
  for (const char* bad : {"abc", "0", "257", "999", "-1", " 8", "8x", "99999999999999999999999"})
    EXPECT_EQ(ParseThreadCount(bad), 0) << bad;
  CaptureErrors(nullptr);
  std::vector<std::string> lines = SplitLines(errors);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0],
            "quorvel: QUORVEL_THREADS=abc is not a number from 1 to 256; the default is used");
  EXPECT_EQ(lines[2],
            "quorvel: QUORVEL_THREADS=257 is not a number from 1 to 256; the default is used");
}

TEST_F(OptionTest, TheMachinesStoredStringComesFirstThenTheUsersJoinedByABlank) {
  auto P = [](const std::string& t) { return MakeText<ParamCapacity>(t.data(), (int)t.size()); };
  bool tooLong = true;
  EXPECT_EQ(S(JoinStoredDefaults(P("-asval -1"), P("-asper"), &tooLong)), "-asval -1 -asper");
  EXPECT_FALSE(tooLong);
  EXPECT_EQ(S(JoinStoredDefaults(P(""), P("-asper"), &tooLong)), "-asper");
  EXPECT_EQ(S(JoinStoredDefaults(P("-asval"), P(""), &tooLong)), "-asval");
  // Two that fit alone but not together with their blank: neither is used.
  std::string half(ParamCapacity / 2, 's');
  EXPECT_EQ(JoinStoredDefaults(P(half), P(half), &tooLong).length, 0);
  EXPECT_TRUE(tooLong);
  EXPECT_EQ(JoinStoredDefaults(P(half), P(half.substr(1)), &tooLong).length, ParamCapacity);
  EXPECT_FALSE(tooLong);
}

TEST_F(OptionTest, AStoredStringPastItsRoomIsRefusedWhole) {
  // The file's first line, or the registry's value, up to ParamCapacity bytes is used whole.
  bool tooLong = true;
  std::string text(ParamCapacity, 's');
  EXPECT_EQ(S(StoredText(text.data(), (int)text.size(), true, &tooLong)), text);
  EXPECT_FALSE(tooLong);
  text += "\n-w";
  EXPECT_EQ(StoredText(text.data(), (int)text.size(), true, &tooLong).length, ParamCapacity);
  EXPECT_FALSE(tooLong);
  text = std::string(ParamCapacity + 1, 's');
  EXPECT_EQ(StoredText(text.data(), (int)text.size(), false, &tooLong).length, 0);
  EXPECT_TRUE(tooLong);
  // Then no token of any source is applied and nothing is scanned.
  std::string errors;
  CaptureErrors(&errors);
  bool saved = StoredDefaultsTooLong;
  StoredDefaultsTooLong = true;
  char program[] = "quorvel", welcome[] = "-w";
  char* argv[] = {program, welcome};
  EXPECT_EQ(ExitCodeOf([&] { ProcessParameters(2, argv); }), 1);
  StoredDefaultsTooLong = saved;
  CaptureErrors(nullptr);
  EXPECT_EQ(SplitLines(errors),
            (std::vector<std::string>{"quorvel: the stored default parameters are longer than 8192 "
                                      "bytes"}));
  EXPECT_TRUE(out.empty());
}

TEST_F(OptionTest, DepthKeepsTheLowEightBits) {
  const struct {
    const char* token;
    int depth;
  } cases[] = {{"-5", 5},
               {"-0", 255},
               {"-256", 255},
               {"-300", 44},
               {"-+7", 7},
               {"--5", 251},
               {"-255", 255},
               {"-1", 1},
               {"-00012", 12},
               // 10^23 - 1, far beyond 64 bits: its low 8 bits are 255.
               {"-99999999999999999999999", 255},
               {"-100000000000000000000001", 1}};
  for (const auto& c : cases) {
    Options.maxDepth = 9;
    Parse(c.token);
    EXPECT_EQ(Options.maxDepth, c.depth) << c.token;
  }
  EXPECT_EQ(Dir(), ".");
}

TEST_F(OptionTest, DepthRejectsWhatIsNoWholeNumber) {
  for (const char* t : {"-", "-X", "-5X", "-+", "-1.5", "5", "- 5"}) {
    Options.maxDepth = 9;
    EXPECT_FALSE(ParseDepthOption(BMake(t))) << t;
    EXPECT_EQ(Options.maxDepth, 9) << t;
  }
}

TEST(SizeValue, SuffixesMultiplyAfterRoundingHalfToEven) {
  EXPECT_EQ(Size("2M"), 2097152);
  EXPECT_EQ(Size("3G"), 3221225472LL);
  EXPECT_EQ(Size("1.5K"), 2048);
  EXPECT_EQ(Size("0.5K"), 0);
  EXPECT_EQ(Size("2.5K"), 2048);
  EXPECT_EQ(Size("3.5"), 4);
  EXPECT_EQ(Size("2.5"), 2);
  EXPECT_EQ(Size("2.5000001"), 3);
  EXPECT_EQ(Size(".5"), 0);
  EXPECT_EQ(Size("1.50"), 2);
  EXPECT_EQ(Size("0.05"), 0);
}

TEST(SizeValue, ReadsSignBlanksAndExponents) {
  EXPECT_EQ(Size(""), 0);
  EXPECT_EQ(Size("-3K"), 3072);
  EXPECT_EQ(Size("+7"), 7);
  EXPECT_EQ(Size("  12"), 12);
  EXPECT_EQ(Size("1E3"), 1000);
  EXPECT_EQ(Size("1E3K"), 1024000);
  EXPECT_EQ(Size("15E-1"), 2);
  EXPECT_EQ(Size("5E-1"), 0);
  EXPECT_EQ(Size("1E-400"), 0);
  EXPECT_EQ(Size("0.0000001E7"), 1);
  EXPECT_EQ(Size("1.E2"), 100);
  EXPECT_EQ(Size("007"), 7);
}

TEST(SizeValue, GarbageGivesItsLeadingNumberWithoutTheSuffix) {
  EXPECT_EQ(Size("ABC"), 0);
  EXPECT_EQ(Size("K"), 0);
  EXPECT_EQ(Size("12ABC"), 12);
  EXPECT_EQ(Size("12XK"), 12);
  EXPECT_EQ(Size("1E"), 1);
  EXPECT_EQ(Size("1EK"), 1);
  EXPECT_EQ(Size("."), 0);
  EXPECT_EQ(Size("-"), 0);
  EXPECT_EQ(Size("1,5K"), 1);  // the decimal point is "." whatever the locale
  EXPECT_EQ(Size("INF"), 0);
}

TEST(SizeValue, HugeValuesClampToTheLargestSigned64BitValue) {
  EXPECT_EQ(Size("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(Size("9223372036854775806.5"), INT64_MAX - 1);
  EXPECT_EQ(Size("9223372036854775808"), INT64_MAX);
  EXPECT_EQ(Size("-9223372036854775808"), INT64_MAX);
  EXPECT_EQ(Size("99999999999999999999G"), INT64_MAX);
  EXPECT_EQ(Size("1E30"), INT64_MAX);
  EXPECT_EQ(Size("1E99999999999999999999"), INT64_MAX);
  EXPECT_EQ(Size("8589934591G"), 8589934591LL * 1073741824LL);
  EXPECT_EQ(Size("8589934592G"), INT64_MAX);
  EXPECT_EQ(Size("9999999999999999999.5"), INT64_MAX);
}

TEST_F(OptionTest, HelpAndWelcomeTextsHaveTheirLineCounts) {
  ShowHelp();
  std::vector<std::string> help = Lines();
  ASSERT_EQ(help.size(), 39u);
  EXPECT_EQ(help[0], "");
  EXPECT_EQ(help[1], "Usage: quorvel [options] [directory] [options]");
  EXPECT_EQ(help[26], "  -sort=[name | local | size | waste | files | growth | change | none]");
  EXPECT_EQ(help[38], "-cl:# and -size:#");
  // The lines of the later options fit the 80 columns of the screens the help was made for.
  for (const std::string& line : help) EXPECT_LT(line.size(), 80u) << line;
  out.clear();
  ShowWelcome();
  EXPECT_EQ(Lines().size(), 15u);
}

TEST_F(OptionTest, BannerShowsHelpOnlyForAQuestionMarkInTheFirstArgument) {
  char program[] = "quorvel", first[] = "a?b", plain[] = "dir", help[] = "-?";
  char* asks[] = {program, first};
  try {
    ShowBanner(2, asks, PrepareParameters);
    ADD_FAILURE() << "help did not end the program";
  } catch (const ProgramEnded& e) {
    EXPECT_EQ(e.code, 0);
  }
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 41u);
  EXPECT_EQ(lines[0], BannerLine);
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[3], "Usage: quorvel [options] [directory] [options]");

  char longHelp[] = "--help", shortHelp[] = "-h", version[] = "--version";
  for (char* first : {longHelp, shortHelp}) {
    out.clear();
    char* argv[] = {program, first};
    EXPECT_THROW(ShowBanner(2, argv, PrepareParameters), ProgramEnded) << first;
    EXPECT_EQ(Lines().size(), 41u) << first;
  }
  // The banner line alone, without its empty line.
  out.clear();
  char* versionArgs[] = {program, version, help};
  EXPECT_THROW(ShowBanner(3, versionArgs, PrepareParameters), ProgramEnded);
  EXPECT_EQ(Lines(), (std::vector<std::string>{BannerLine}));

  // An export leaves the banner out and turns paging off; a help request still has both.
  out.clear();
  char csv[] = "-csv";
  char* exporting[] = {program, plain, csv};
  PagingEnabled = true;
  ShowBanner(3, exporting, PrepareParameters);
  SendOutputToErrors(false);
  EXPECT_EQ(out, "");
  EXPECT_FALSE(PagingEnabled);
  char* helpFirst[] = {program, help, csv};
  PagingEnabled = false;
  EXPECT_THROW(ShowBanner(3, helpFirst, PrepareParameters), ProgramEnded);
  EXPECT_EQ(Lines().size(), 41u);

  out.clear();
  char* later[] = {program, plain, help};
  ShowBanner(3, later, PrepareParameters);
  EXPECT_EQ(Lines(), (std::vector<std::string>{BannerLine, ""}));
  out.clear();
  ShowBanner(1, later, PrepareParameters);
  EXPECT_EQ(Lines().size(), 2u);
}
