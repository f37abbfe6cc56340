// Win32 console: the standard handles, the screen buffer query, ReadConsoleInputA key reading
// and WriteConsoleA status text. Only code for Windows goes in this file.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "console/output.h"
#include "console/windows_api.h"

extern const char PathSeparator;
const char PathSeparator = '\\';
const char* PlatformLineEnd = "\r\n";

bool OutputRedirected = false;
int ScreenWidth = 80;
int ScreenLastRow = 24;

namespace {
HANDLE ConsoleOutputHandle = INVALID_HANDLE_VALUE;  // standard output
HANDLE ConsoleErrorHandle = INVALID_HANDLE_VALUE;   // standard error, target of WriteStatus
HANDLE ConsoleInputHandle = INVALID_HANDLE_VALUE;   // standard input, source of key presses
bool ErrorIsConsole = false;                        // status text reaches a screen
DWORD SavedInputMode = 0;                           // the input mode the program was started in
bool InputModeSaved = false;                        // SavedInputMode must be put back at the end
bool BrokenPipe = false;                            // the failed write found the reader gone

void Fail(const char* message) {
  DWORD written;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  WriteFile(out, message, (DWORD)std::strlen(message), &written, nullptr);
  WriteFile(out, "\r\n", 2, &written, nullptr);
  ExitProcess(0);
}

// Reads the screen buffer's size into ScreenWidth and ScreenLastRow; true when it differs from
// what they held.
bool MeasureScreen() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(ConsoleOutputHandle, &info)) return false;
  bool changed = info.dwSize.Y - 1 != ScreenLastRow || info.dwSize.X != ScreenWidth;
  ScreenLastRow = info.dwSize.Y - 1;
  ScreenWidth = info.dwSize.X;
  return changed;
}

KeyPress Win32ReadKey() {
  for (;;) {
    INPUT_RECORD rec;
    DWORD read = 0;
    if (!ReadConsoleInputA(ConsoleInputHandle, &rec, 1, &read) || read == 0) {
      KeyReadFailed = true;
      KeyPress k = {0, ScanEnd};
      return k;
    }
    // The console reports a new buffer size among the input records (the input mode asks for
    // window events for this alone).
    if (rec.EventType == WINDOW_BUFFER_SIZE_EVENT && MeasureScreen()) {
      ScreenResized = true;
      KeyPress k = {0, 0};
      return k;
    }
    if (rec.EventType != KEY_EVENT || !rec.Event.KeyEvent.bKeyDown) continue;
    const KEY_EVENT_RECORD& ke = rec.Event.KeyEvent;
    unsigned char ch = (unsigned char)ke.uChar.AsciiChar;
    bool accept = ch != 0 || ke.wVirtualKeyCode == 0x90 || ke.wVirtualKeyCode == 0x91 ||
                  (ke.dwControlKeyState & 0x1F) == 0;
    if (!accept) continue;
    KeyPress k;
    k.character = ch;
    k.scanCode = ch ? 0 : (unsigned char)(ke.wVirtualScanCode & 0xFF);
    return k;
  }
}

void Win32Clear() {
  FlushOutput();
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(ConsoleOutputHandle, &info)) return;
  DWORD cells = (DWORD)info.dwSize.X * (DWORD)info.dwSize.Y;
  COORD home = {0, 0};
  DWORD done;
  FillConsoleOutputAttribute(ConsoleOutputHandle, 7, cells, home, &done);
  FillConsoleOutputCharacterA(ConsoleOutputHandle, ' ', cells, home, &done);
  SetConsoleCursorPosition(ConsoleOutputHandle, home);
}
}  // namespace

KeyboardSource PlatformKeyboard() {
  return KeyboardSource{Win32ReadKey, Win32Clear};
}

void ConsoleStartup() {
  ConsoleOutputHandle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (ConsoleOutputHandle == INVALID_HANDLE_VALUE) Fail("Cannot get console output handle.");
  ConsoleErrorHandle = GetStdHandle(STD_ERROR_HANDLE);
  if (ConsoleErrorHandle == INVALID_HANDLE_VALUE) Fail("Cannot get console error handle.");
  ConsoleInputHandle = GetStdHandle(STD_INPUT_HANDLE);
  if (ConsoleInputHandle == INVALID_HANDLE_VALUE) Fail("Cannot get console input handle.");
  InputModeSaved = GetConsoleMode(ConsoleInputHandle, &SavedInputMode) != 0;
  SetConsoleMode(ConsoleInputHandle, ENABLE_PROCESSED_INPUT | ENABLE_WINDOW_INPUT);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(ConsoleOutputHandle, &info)) {
    OutputRedirected = false;
    ScreenLastRow = info.dwSize.Y - 1;
    ScreenWidth = info.dwSize.X;
  } else {
    OutputRedirected = true;
    ScreenLastRow = 24;
    ScreenWidth = 80;
  }
  DWORD mode;
  ErrorIsConsole = GetConsoleMode(ConsoleErrorHandle, &mode) != 0;
  // Line ends are written explicitly, so the stream must not translate them again.
  _setmode(_fileno(stdout), _O_BINARY);
}

void WriteStatus(const char* text, int length) {
  if (length <= 0) return;
  FlushOutput();
  DWORD written;
  WriteConsoleA(ConsoleErrorHandle, text, (DWORD)length, &written, nullptr);
}

bool StatusVisible() {
  return ErrorIsConsole;
}

int ScreenRowColumns() {
  return ScreenWidth - 1;
}

int64_t MonotonicMilliseconds() {
  return (int64_t)GetTickCount();
}

bool PlatformWriteStdout(const char* bytes, int length) {
  while (length > 0) {
    DWORD written = 0;
    if (!WriteFile(ConsoleOutputHandle, bytes, (DWORD)length, &written, nullptr) || written == 0) {
      // Taken now: by the end of the program other calls have replaced the error code. Wine
      // reports a reader that has gone as "pipe not connected", Windows as "no data".
      DWORD e = GetLastError();
      BrokenPipe = e == ERROR_BROKEN_PIPE || e == ERROR_NO_DATA || e == ERROR_PIPE_NOT_CONNECTED;
      return false;
    }
    bytes += written;
    length -= (int)written;
  }
  return true;
}

bool PlatformStdoutBrokenPipe() {
  return BrokenPipe;
}

// The console's input mode outlives the program; the shell gets back the one it handed over.
void PlatformRestoreTerminal() {
  if (InputModeSaved) SetConsoleMode(ConsoleInputHandle, SavedInputMode);
}

void PlatformWriteTreeBytes(const char* bytes, int length) {
  WriteText(bytes, length);
}
