// The configuration program's dialogue and its explanation of each word, on every build: the
// words go through the program's own tokenizer and option parser, so these guard an
// explanation that disagrees with what a run does, settings left changed by explaining, and a
// string stored that the user did not confirm.
#include "config/configure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/output.h"
#include "driver/options.h"
#include "mailer/contact.h"
#include "report/format.h"
#include "report/screen_report.h"
#include "test_support.h"

namespace {
std::vector<std::string> Typed;  // the lines the dialogue reads, in order
size_t NextTyped = 0;
// Echoes the line after its prompt, as the console does.
bool ReadTyped(ParamStr* line, int* length) {
  if (NextTyped == Typed.size()) return false;
  const std::string& s = Typed[NextTyped++];
  BSet(*line, s.data(), (int)s.size());
  *length = (int)s.size();
  WriteText(s.data(), (int)s.size());
  WriteLineEnd();
  return true;
}

std::vector<std::string> Stored;  // what the dialogue had stored
bool StoreFails = false;
bool RecordStore(const ParamStr& text, BStr* failure) {
  if (StoreFails) {
    *failure = BMake("Access is denied.");
    return false;
  }
  Stored.emplace_back(text.text, text.length);
  return true;
}

class Configuration : public Isolated {
 protected:
  std::string out;
  void SetUp() override {
    ThousandsSeparator = ',';
    Typed.clear();
    NextTyped = 0;
    Stored.clear();
    StoreFails = false;
    CaptureOutput(&out);
  }
  void TearDown() override { CaptureOutput(nullptr); }

  std::vector<std::string> Explain(const char* text, bool* doubtful = nullptr) {
    out.clear();
    bool d = ExplainParameters(MakeText<ParamCapacity>(text, (int)std::strlen(text)));
    if (doubtful) *doubtful = d;
    return SplitLines(out);
  }
  // The dialogue on the stored string, answering with typed; returns its exit code.
  int Dialogue(const char* stored, std::vector<std::string> typed) {
    out.clear();
    Typed = typed;
    NextTyped = 0;
    ConfigurationIo io = {ReadTyped, RecordStore, "the test's place", "Whose they are:\nthe test's"};
    return RunConfiguration(BMake(stored), io);
  }
};

TEST_F(Configuration, EachWordSaysWhatItSetsAsTheParserTakesIt) {
  bool doubtful = true;
  EXPECT_EQ(
      Explain("-nowaste -2 \"My Dir\" -sort=files -size=1.5K -tabular -c+ -p -dir", &doubtful),
      (std::vector<std::string>{
          "  -nowaste      hides the wastage column",
          "  -2            shows 2 levels of directories below the one reported; deeper "
          "ones are counted in them",
          "  My Dir        reports on the directory My Dir (a later directory wins)",
          "  -sort=files   sorts sibling directories by their number of files",
          "  -size=1.5K    counts directories below 2,048 bytes in the one above them",
          "  -tabular      writes database rows in fixed columns separated by tabs",
          "  -c+           draws the tree with line characters",
          "  -p            does not stop after each screenful",
          "  -dir          counts every file at its length, as a directory listing does, "
          "without wastage",
      }));
  EXPECT_FALSE(doubtful);
  // -0 and -256 are the default depth; -1 is one level.
  EXPECT_EQ(Explain("-256 -1 -asval -cl:4k"),
            (std::vector<std::string>{
                "  -256          shows every level of directories",
                "  -1            shows 1 level of directories below the one reported; deeper "
                "ones are counted in them",
                "  -asval        shows wastage in bytes",
                "  -cl:4k        computes wastage with clusters of 4,096 bytes",
            }));
}

TEST_F(Configuration, UnitsExclusionsAndTheExportsAreExplained) {
  EXPECT_EQ(Explain("-units -bytes -exclude:node_modules -exclude: -csv -json -top:20 -top:"),
            (std::vector<std::string>{
                "  -units        shows sizes in units (K, M, G) on the screen",
                "  -bytes        shows sizes in bytes",
                "  -exclude:node_modules  leaves out the directories and files that match "
                "node_modules",
                "  -exclude:     drops the -exclude patterns given before it",
                "  -csv          writes CSV rows with a header line, that load as they are",
                "  -json         writes the tree as one JSON document",
                "  -top:20       lists the 20 largest files and the directories holding the most "
                "bytes of their own, after the report",
                "  -top:         lists no largest files and directories",
            }));
  EXPECT_TRUE(Options.excludes.empty());
}

TEST_F(Configuration, WordsThatEndEveryRunOrGiveAMessageAreDoubtful) {
  bool doubtful = false;
  EXPECT_EQ(Explain("-sort=big -cl=70000", &doubtful),
            (std::vector<std::string>{
                "  -sort=big     Quorvel says \"Invalid sorting method specified - BIG\"; "
                "nothing is changed",
                "  -cl=70000     Quorvel says \"Invalid cluster size > 64K ignored.\"; computes "
                "wastage with clusters of 65,536 bytes",
            }));
  EXPECT_TRUE(doubtful);
  doubtful = false;
  EXPECT_EQ(Explain("-penwick -w -nowaste", &doubtful),
            (std::vector<std::string>{
                std::string("  -penwick      ends every run of Quorvel here: it starts ") +
                    HomePage + ", and nothing after it is applied",
                "  -w            never applied: a word before it ends every run",
                "  -nowaste      never applied: a word before it ends every run",
            }));
  EXPECT_TRUE(doubtful);
  EXPECT_EQ(Explain("-welcome")[0],
            "  -welcome      ends every run of Quorvel here: it shows the welcome screen, and "
            "nothing after it is applied");
  // An option mistyped is refused as a run refuses it; du's spelling of an exclusion is taken.
  doubtful = false;
  EXPECT_EQ(Explain("--exclude=x -exlude=x", &doubtful),
            (std::vector<std::string>{
                "  --exclude=x   leaves out the directories and files that match x",
                "  -exlude=x     Quorvel refuses it: \"unknown option -exlude=x (quorvel -? lists "
                "them)\"; every run ends there with exit code 1",
            }));
  EXPECT_TRUE(doubtful);
  // A word longer than its option holds ends every run, with exit code 1.
  doubtful = false;
  std::string word = "-sort=" + std::string(250, 'x');
  EXPECT_EQ(Explain((word + " -p").c_str(), &doubtful),
            (std::vector<std::string>{
                "  " + word +
                    "  Quorvel refuses it: \"the option -sort= is too long (256 bytes, at most "
                    "255)\"; every run ends there with exit code 1",
                "  -p            never applied: a word before it ends every run",
            }));
  EXPECT_TRUE(doubtful);
}

TEST_F(Configuration, ExplainingChangesNoSettingAndLaunchesNothing) {
  Options = DefaultOptions;
  TreeChars = PlainTreeChars;
  ShowWaste = true;
  WasteAsPercent = true;
  PagingEnabled = true;
  auto launcher = Launcher;
  EndProgramHook = nullptr;
  // Each of these would change a setting, write a message, or end the program if applied.
  Explain("-3 -size=9 -comma -cl=512 -dir -x -sort=none -c+ -p -asval -nowaste -sort=bad -mail");
  EXPECT_EQ(Options.maxDepth, 255);
  EXPECT_EQ(Options.minSize, 0);
  EXPECT_EQ(Options.outputMode, Screen);
  EXPECT_EQ(Options.clusterSizeOverride, 0);
  EXPECT_FALSE(Options.dirListingSizes);
  EXPECT_TRUE(BEquals(Options.directory, "."));
  EXPECT_EQ(Options.sortOrder, NAME);
  EXPECT_TRUE(BEquals(TreeChars, PlainTreeChars));
  EXPECT_TRUE(ShowWaste && WasteAsPercent && PagingEnabled);
  EXPECT_EQ(Launcher, launcher);
  EXPECT_EQ(EndProgramHook, nullptr);
}

TEST_F(Configuration, EnterKeepsADashClearsAndAStringIsStoredAsTyped) {
  EXPECT_EQ(Dialogue("-asval", {""}), 0);
  std::vector<std::string> lines = SplitLines(out);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 4),
            (std::vector<std::string>{"Whose they are:", "the test's", "They are kept in",
                                       "  the test's place"}));
  EXPECT_EQ(lines[5], "Stored now: -asval");
  EXPECT_EQ(lines[6], "  -asval        shows wastage in bytes");
  EXPECT_EQ(lines.back(), "Kept as they were.");
  EXPECT_TRUE(Stored.empty());
  // The end of the input keeps them too.
  EXPECT_EQ(Dialogue("-asval", {}), 0);
  EXPECT_TRUE(Stored.empty());

  EXPECT_EQ(Dialogue("-asval", {"-"}), 0);
  EXPECT_EQ(SplitLines(out).back(), "Cleared: no default parameters.");
  EXPECT_EQ(Dialogue("", {"-nowaste \"C:\\My Dir\""}), 0);
  EXPECT_EQ(SplitLines(out)[5], "Stored now: nothing.");
  EXPECT_EQ(SplitLines(out).back(), "Stored.");
  EXPECT_EQ(Stored, (std::vector<std::string>{"", "-nowaste \"C:\\My Dir\""}));
}

TEST_F(Configuration, ALineTooLongIsAskedAgainAndADoubtfulOneIsConfirmed) {
  // More than Quorvel reads: nothing is stored, and the next line is the answer. As much as it
  // reads is stored whole: a long pattern with its option.
  EXPECT_EQ(Dialogue("", {std::string(9000, 'x'), "-p"}), 0);
  std::vector<std::string> lines = SplitLines(out);
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "That is 9,000 bytes; Quorvel reads at most 8,192. Nothing was stored."),
            lines.end());
  EXPECT_EQ(Stored, (std::vector<std::string>{"-p"}));
  Stored.clear();
  std::string pattern = "-exclude:" + std::string(4000, 'p');
  EXPECT_EQ(Dialogue("", {pattern + " " + pattern}), 0);
  EXPECT_EQ(Stored, (std::vector<std::string>{pattern + " " + pattern}));
  // A launch stored would end every run: only a "y" stores it.
  Stored.clear();
  EXPECT_EQ(Dialogue("", {"-mail", "n"}), 0);
  EXPECT_EQ(SplitLines(out).back(), "Kept as they were.");
  EXPECT_EQ(Dialogue("", {"-mail", ""}), 0);
  EXPECT_EQ(Dialogue("", {"-mail"}), 0);
  EXPECT_TRUE(Stored.empty());
  EXPECT_EQ(Dialogue("", {"-mail", "Y"}), 0);
  EXPECT_EQ(Stored, (std::vector<std::string>{"-mail"}));
}

TEST_F(Configuration, AStoreThatFailsIsSaidWithExitCode1) {
  StoreFails = true;
  EXPECT_EQ(Dialogue("-p", {"-nowaste"}), 1);
  EXPECT_EQ(SplitLines(out).back(), "Could not store the parameters: Access is denied.");
}
}  // namespace
