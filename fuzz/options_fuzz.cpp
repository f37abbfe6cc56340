// The parameter tokenizer and the option parser on any parameter string or argument list (its
// arguments of up to 5,000 bytes):
// tokens are never empty, never hold a quote and never exceed 255 bytes, and without quotes
// they are exactly the blank-, backspace- and 0xFF-separated words; after any tokens every
// setting stays within its range, and the welcome and launch options end the program (caught
// here) with code 0 after handing the launcher a well-formed target.
#include <sys/stat.h>
#include <unistd.h>

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

void Record(const BStr& token) {
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
      if (!word.empty()) words.push_back(word.substr(0, 255));
      word.clear();
    } else {
      word.push_back((char)c);
    }
  }
  if (!word.empty()) words.push_back(word.substr(0, 255));
  return words;
}

void CheckSettings() {
  FUZZ_CHECK(Options.maxDepth >= 1);
  FUZZ_CHECK(Options.minSize >= 0);
  FUZZ_CHECK(Options.clusterSizeOverride >= 0 && Options.clusterSizeOverride <= 65536);
  FUZZ_CHECK(Options.outputMode <= Json);
  FUZZ_CHECK(Options.sortOrder >= NONE && Options.sortOrder <= FILES);
  FUZZ_CHECK(WellFormed(Options.directory));
  for (const BStr& pattern : Options.excludes)
    FUZZ_CHECK(WellFormed(pattern) && pattern.length > 0);
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
  std::string out;
  CaptureOutput(&out);
  bool ended = false;
  try {
    switch (mode & 3) {
      case 0: {
        // A parameter string: the stored defaults or the environment variable.
        std::string text((const char*)data + in.pos, in.Left() > 255 ? 255 : in.Left());
        TokenizeParameters(ToBStr(text));
        break;
      }
      case 1: {
        // The tokenizer alone, against the plain split where no quote is involved.
        std::string text((const char*)data + in.pos, in.Left() > 255 ? 255 : in.Left());
        Tokens.clear();
        TokenizeParameters(ToBStr(text), Record);
        size_t quotes = 0, bytes = 0;
        for (char c : text) quotes += c == '"';
        for (const std::string& t : Tokens) {
          FUZZ_CHECK(!t.empty() && t.size() <= 255);
          FUZZ_CHECK(t.find('"') == std::string::npos);
          bytes += t.size();
        }
        FUZZ_CHECK(bytes <= text.size() - quotes);
        if (quotes == 0) FUZZ_CHECK(Tokens == Words(text));
        break;
      }
      default: {
        // Command-line arguments, separated by zero bytes, each taken whole: past 255 bytes,
        // and past the path budget when a byte asks for its text to be repeated.
        while (!in.Empty()) {
          std::string argument = in.Text(300);
          for (uint8_t times = (mode & 64) ? in.Byte() & 15 : 0; times > 0; --times)
            argument += argument.substr(0, 5000);
          ParseArgument(argument.substr(0, 5000).c_str());
        }
        break;
      }
    }
  } catch (const ProgramEnded& e) {
    FUZZ_CHECK(e.code == 0);
    ended = true;
  }
  CaptureOutput(nullptr);
  FUZZ_CHECK(Launches <= 1);
  if (Launches) FUZZ_CHECK(ended);
  CheckSettings();
  // The patterns the options gathered, matched against the directory text split into a parent
  // path and a name at each separator: the matcher must answer for any pattern and any name,
  // in either case mode, within both texts (the sanitizers watch its reads).
  ClearExclusions((mode & 16) != 0, (mode & 32) != 0);
  for (const BStr& pattern : Options.excludes) AddExclusion(pattern.text, pattern.length);
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
