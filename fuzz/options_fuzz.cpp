// The parameter tokenizer and the option parser on any parameter string or argument list:
// tokens are never empty, never hold a quote and are never cut, and without quotes they are
// exactly the blank-, backspace- and 0xFF-separated words, a value option and the word after
// it joined by "="; after any tokens every setting stays within its range (a pattern within
// the path budget, a directory past it marked), the welcome and launch options end the program
// (caught here) with code 0 after handing the launcher a well-formed target, and only a token
// refused (too long for its option, a value its option cannot take or lacks, an unknown
// option) ends it with code 1, saying so.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "console/output.h"
#include "console/pager.h"
#include "console/strings.h"
#include "driver/options.h"
#include "fuzz/fuzz_support.h"
#include "report/screen_report.h"
#include "tree/exclude.h"

namespace {
std::vector<std::string> Tokens;  // what the tokenizer handed over in one call
int Launches = 0;                 // targets handed to the launcher in one input

void Record(const ParamStr& token) {
  FUZZ_CHECK(WellFormed(token));
  Tokens.push_back(ToString(token));
}

intptr_t FakeLaunch(const BStr& file, const BStr& parameters, const BStr& directory, int32_t) {
  FUZZ_CHECK(WellFormed(file) && file.length > 0);
  FUZZ_CHECK(parameters.length == 0 && directory.length == 0);
  ++Launches;
  return 42;
}

// Never the user's editor or pager, even when the fuzzer runs in a terminal.
bool NoTerminalLaunch(LaunchKind, const BStr& target) {
  FUZZ_CHECK(WellFormed(target) && target.length > 0);
  return false;
}

// A keyboard that cannot be read: the pager then writes on without prompts.
KeyPress NoKeyboard() {
  KeyReadFailed = true;
  return KeyPress{0, ScanEnd};
}
void NoClear() {}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (unsigned char c : text) {
    if (c == ' ' || c == 0x08 || c == 0xFF) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word.push_back((char)c);
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

void CheckSettings() {
  FUZZ_CHECK(Options.maxDepth >= 1);
  FUZZ_CHECK(Options.minSize >= 0);
  FUZZ_CHECK(Options.clusterSizeOverride >= 0 && Options.clusterSizeOverride <= 65536);
  FUZZ_CHECK(Options.outputMode <= Excel);
  FUZZ_CHECK(Options.sortOrder >= NONE && Options.sortOrder <= GROWTH);
  FUZZ_CHECK(WellFormed(Options.directory));
  FUZZ_CHECK(Options.directoryTooLong == (Options.directory.length > PathBudget));
  for (const PathStr& pattern : Options.excludes)
    FUZZ_CHECK(WellFormed(pattern) && pattern.length > 0 && pattern.length <= PathBudget);
  FUZZ_CHECK(BEquals(TreeChars, GraphicTreeChars) || BEquals(TreeChars, PlainTreeChars));
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The option -config creates the stored-defaults file: keep it out of the user's home.
  const char* folder = "/tmp/quorvel-fuzz-home";
  mkdir(folder, 0700);
  setenv("XDG_CONFIG_HOME", folder, 1);
  setenv("HOME", folder, 1);
  EndProgramHook = ThrowProgramEnded;
  Launcher = FakeLaunch;
  TerminalLauncher = NoTerminalLaunch;
  Keyboard = KeyboardSource{NoKeyboard, NoClear};
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  uint8_t mode = in.Byte();
  Options = DefaultOptions;
  TreeChars = (mode & 4) ? PlainTreeChars : GraphicTreeChars;
  PagingEnabled = (mode & 8) != 0;
  PageLineCount = -2;
  ScreenLastRow = 24;
  ScreenWidth = 80;
  Launches = 0;
  std::string out, errors;
  CaptureOutput(&out);
  CaptureErrors(&errors);
  bool ended = false;
  try {
    switch (mode & 3) {
      case 0: {
        // A parameter string: the stored defaults or the environment variable.
        std::string text((const char*)data + in.pos, std::min(in.Left(), (size_t)ParamCapacity));
        TokenizeParameters(ToParamStr(text));
        break;
      }
      case 1: {
        // The tokenizer alone, against the plain split where no quote is involved.
        std::string text((const char*)data + in.pos, std::min(in.Left(), (size_t)ParamCapacity));
        Tokens.clear();
        TokenizeParameters(ToParamStr(text), Record);
        size_t quotes = 0, bytes = 0;
        for (char c : text) quotes += c == '"';
        for (const std::string& t : Tokens) {
          FUZZ_CHECK(!t.empty());
          FUZZ_CHECK(t.find('"') == std::string::npos);
          bytes += t.size();
        }
        FUZZ_CHECK(bytes <= text.size() - quotes);
        if (quotes == 0) {
          // Each token is a word, or a word and the next joined by "=" (-top 5: -top=5).
          std::vector<std::string> words = Words(text);
          size_t w = 0;
          for (const std::string& t : Tokens) {
            FUZZ_CHECK(w < words.size());
            if (t == words[w]) {
              ++w;
            } else {
              FUZZ_CHECK(w + 1 < words.size() && t == words[w] + "=" + words[w + 1]);
              w += 2;
            }
          }
          FUZZ_CHECK(w == words.size());
        }
        break;
      }
      default: {
        // Command-line arguments, separated by zero bytes, each taken whole, with the quotes
        // the Windows runtime leaves read as stray (mode bit 64) or as part of a name.
        while (!in.Empty()) ParseArgument(in.Text(6000).c_str(), (mode & 64) != 0);
        break;
      }
    }
  } catch (const ProgramEnded& e) {
    // 1 only for a refused token, which is said, and nothing was launched.
    bool refused = false;
    for (const char* said : {" is too long (", " is not a number from 1 to ", "unknown option ",
                             " needs a value", " is not a number of levels from 1 up"})
      refused |= errors.find(said) != std::string::npos;
    FUZZ_CHECK(e.code == 0 || (e.code == 1 && refused && Launches == 0));
    ended = true;
  }
  CaptureErrors(nullptr);
  CaptureOutput(nullptr);
  FUZZ_CHECK(Launches <= 1);
  if (Launches) FUZZ_CHECK(ended);
  CheckSettings();
  // The patterns the options gathered, matched against the directory text split into a parent
  // path and a name at each separator: the matcher must answer for any pattern and any name,
  // in either case mode, within both texts (the sanitizers watch its reads).
  ClearExclusions((mode & 16) != 0, (mode & 32) != 0);
  for (const PathStr& pattern : Options.excludes) AddExclusion(pattern.text, pattern.length);
  std::string path = ToString(Options.directory);
  for (size_t cut = 0; cut < path.size(); ++cut) {
    if (cut > 0 && path[cut - 1] != PathSeparator) continue;
    std::string parent = path.substr(0, cut), name = path.substr(cut);
    Excluded(parent.data(), (int)parent.size(), name.data(), (int)name.size());
  }
  // Every message and screen line is one bounded string and its line end.
  size_t start = 0;
  for (size_t at; (at = out.find('\n', start)) != std::string::npos; start = at + 1) {
    std::string line = out.substr(start, at - start);
    size_t prompt = line.rfind('\b');  // a pager prompt and its erasure end in backspaces
    if (prompt != std::string::npos) line = line.substr(prompt + 1);
    FUZZ_CHECK(line.size() <= 255 + 1);
  }
  return 0;
}
