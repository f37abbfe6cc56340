// The configuration program, config.exe: a console program beside quorvel.exe that shows the
// stored default parameters, reads new ones from the console and writes them to the registry.
// Its manifest asks for elevation, since the value lives under HKEY_LOCAL_MACHINE. Only code for
// Windows goes in this file.
#include "config/configure.h"
#include "console/console.h"
#include "console/output.h"
#include "console/windows_api.h"
#include "disk/stored_defaults.h"
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

int main() {
  ConsoleStartup();
  PlatformStartUp();
  ThousandsSeparator = LocaleThousandsSeparator();
  LoadStoredDefaults();
  ConfigurationIo io = {ReadInputLine, StoreDefaultParams, StoredDefaultsPlace};
  int code = RunConfiguration(StoredDefaultParams, io);
  KeepOwnWindowOpen();
  EndProgram(code);
}
