// The configuration program, config.exe: a console program beside quorvel.exe that shows the
// stored default parameters, reads new ones from the console and writes them to the registry:
// the user's own under HKEY_CURRENT_USER, as the user runs it (its manifest asks for no
// elevation), or with /machine every user's under HKEY_LOCAL_MACHINE, for which it asks for
// elevation when it does not have it. Only code for Windows goes in this file.
#include <string>

#include "config/configure.h"
#include "console/console.h"
#include "console/output.h"
#include "console/windows_api.h"
// shellapi.h needs the definitions of windows.h first.
#include <shellapi.h>
#include "disk/stored_defaults.h"
#include "driver/locale.h"
#include "driver/run.h"
#include "report/format.h"

namespace {
// Reads one line typed at the console: wide characters, so that any script arrives whole,
// converted to the code page Quorvel reads the string in (its file functions' one). A line
// longer than the buffer is read to its end in pieces, so that its rest is not taken for the
// next line; *length counts all of it.
bool ReadConsoleLine(HANDLE input, ParamStr* line, int* length) {
  UINT codePage = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
  BClear(*line);
  *length = 0;
  for (;;) {
    WCHAR wide[1024];
    DWORD got = 0;
    if (!ReadConsoleW(input, wide, 1023, &got, nullptr) || got == 0) return *length > 0;
    bool ended = wide[got - 1] == L'\n';
    while (got > 0 && (wide[got - 1] == L'\n' || wide[got - 1] == L'\r')) --got;
    // 1,023 units take at most 3,069 bytes of UTF-8.
    char bytes[4 * 1024];
    int n = got ? WideCharToMultiByte(codePage, 0, wide, (int)got, bytes, sizeof bytes, nullptr,
                                      nullptr)
                : 0;
    BAppend(*line, bytes, n);
    *length += n;
    if (ended) return true;
  }
}

// Reads one line from a file or a pipe, as its bytes are.
bool ReadFileLine(HANDLE input, ParamStr* line, int* length) {
  BClear(*line);
  *length = 0;
  char c;
  DWORD got;
  bool any = false;
  while (ReadFile(input, &c, 1, &got, nullptr) && got == 1) {
    any = true;
    if (c == '\n') break;
    if (c == '\r') continue;
    BAppendChar(*line, c);
    ++*length;
  }
  return any;
}

bool ReadInputLine(ParamStr* line, int* length) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode;
  if (!GetConsoleMode(input, &mode)) {
    // Nothing echoes a line read from a file: it is written after its prompt, as if typed.
    bool read = ReadFileLine(input, line, length);
    WriteText(line->text, line->length);
    WriteLineEnd();
    return read;
  }
  // The console start-up left the keyboard in single-key mode; a line is typed and edited.
  SetConsoleMode(input, ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT);
  return ReadConsoleLine(input, line, length);
}

// Started from Explorer or by Quorvel with elevation, the program has a console window of its
// own, which closes as the program ends: the outcome stays on the screen until Enter.
void KeepOwnWindowOpen() {
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) != 1) return;
  WriteText("Press Enter to close this window.");
  FlushOutput();
  ParamStr line;
  int length;
  ReadInputLine(&line, &length);
}
}  // namespace

namespace {
const char* const HelpLines[] = {
    "Usage: config [/machine]",
    "",
    "  (none)    Sets your own default parameters (HKEY_CURRENT_USER). No administrator",
    "            is needed; they apply to your runs of Quorvel only.",
    "  /machine  Sets the machine's default parameters, for every user",
    "            (HKEY_LOCAL_MACHINE). Asks for an administrator's elevation.",
    "  /?        Shows this help.",
    "",
    "Every run of Quorvel applies the machine's parameters, then the user's own, then",
    "the variable QUORVEL and the command line: a later word wins over an earlier one.",
};

// The marker the elevated copy is started with, so that a copy that still is not elevated
// (no UAC to ask) stores or fails on its own instead of asking again.
const char ElevatedMarker[] = "/elevated";

bool SameWord(const char* a, const char* b) {
  return lstrcmpiA(a, b) == 0;
}

bool IsElevated() {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation = {0};
  DWORD got = 0;
  bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &got) &&
                  elevation.TokenIsElevated != 0;
  CloseHandle(token);
  return elevated;
}

// Starts this program again with elevation ("runas": the system asks for consent or an
// administrator's password), for the machine's parameters, and waits for it; its exit code, or
// 1 when it could not be started (*started false).
int RunElevated(bool* started) {
  *started = false;
  char own[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, own, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  own[n] = 0;
  std::string parameters = std::string("/machine ") + ElevatedMarker;
  SHELLEXECUTEINFOA run = {};
  run.cbSize = sizeof run;
  run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
  run.lpVerb = "runas";
  run.lpFile = own;
  run.lpParameters = parameters.c_str();
  run.nShow = SW_SHOWNORMAL;
  WriteText("The machine's parameters need an administrator: asking for elevation.");
  WriteLineEnd();
  FlushOutput();
  if (!ShellExecuteExA(&run) || run.hProcess == nullptr) {
    DWORD error = GetLastError();
    WriteText(error == ERROR_CANCELLED
                  ? "Elevation was refused. Nothing was stored."
                  : "Could not start the configuration program elevated. Nothing was stored.");
    WriteLineEnd();
    return 1;
  }
  *started = true;
  WriteText("The configuration program goes on in a window of its own.");
  WriteLineEnd();
  FlushOutput();
  WaitForSingleObject(run.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(run.hProcess, &code);
  CloseHandle(run.hProcess);
  return (int)code;
}

bool StoreUser(const ParamStr& text, BStr* failure) {
  return StoreDefaultParams(UserDefaults, text, failure);
}
bool StoreMachine(const ParamStr& text, BStr* failure) {
  return StoreDefaultParams(MachineDefaults, text, failure);
}
}  // namespace

int main(int argc, char** argv) {
  ConsoleStartup();
  PlatformStartUp();
  SetThousandsSeparator(LocaleThousandsSeparator());
  bool machine = false, elevatedCopy = false;
  for (int i = 1; i < argc; ++i) {
    if (SameWord(argv[i], "/machine") || SameWord(argv[i], "-machine")) {
      machine = true;
    } else if (SameWord(argv[i], ElevatedMarker)) {
      elevatedCopy = true;
    } else {
      bool help = SameWord(argv[i], "/?") || SameWord(argv[i], "-?");
      if (!help) {
        WriteText((std::string("Unknown argument ") + argv[i] + ".").c_str());
        WriteLineEnd();
      }
      for (const char* line : HelpLines) {
        WriteText(line);
        WriteLineEnd();
      }
      EndProgram(help ? 0 : 1);
    }
  }
  if (machine && !elevatedCopy && !IsElevated()) {
    bool started = false;
    int code = RunElevated(&started);
    if (!started) KeepOwnWindowOpen();
    EndProgram(code);
  }
  bool tooLong = false;
  StoredScope scope = machine ? MachineDefaults : UserDefaults;
  ParamStr stored = ReadStoredDefaults(scope, &tooLong);
  std::string about;
  if (machine) {
    about =
        "Quorvel configuration: the machine's default parameters, for every user. Every run\n"
        "of Quorvel applies them first, then the user's own (config without /machine), then\n"
        "the variable QUORVEL and the command line; a later word wins.";
  } else {
    ParamStr machineText = ReadStoredDefaults(MachineDefaults, &tooLong);
    about =
        "Quorvel configuration: your own default parameters. Every run of Quorvel applies\n"
        "the machine's (config /machine sets them for every user), then yours, then the\n"
        "variable QUORVEL and the command line; a later word wins.\n"
        "The machine's now: " +
        (machineText.length == 0 ? std::string("nothing.")
                                 : std::string(machineText.text, machineText.length));
  }
  ConfigurationIo io = {ReadInputLine, machine ? StoreMachine : StoreUser,
                        StoredDefaultsPlace(scope), about.c_str()};
  int code = RunConfiguration(stored, io);
  KeepOwnWindowOpen();
  EndProgram(code);
}
