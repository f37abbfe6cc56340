// Win32 console: the standard handles, the screen buffer query, ReadConsoleInputA key reading,
// WriteConsoleA status text and the console's code page. Only code for Windows goes in this
// file.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "console/output.h"
#include "console/windows_api.h"

extern const char PathSeparator;
extern const int PathBudget;
extern const int PathPatternRoom;
extern const bool NamesIgnoreCase;
const char PathSeparator = '\\';
// The listing reads wide "\\?\" paths, which go far past the 260 characters of the ANSI calls:
// the same budget of UTF-8 bytes as on POSIX, and no pattern is added to a directory's path.
const int PathBudget = 4095;
const int PathPatternRoom = 0;
const bool NamesIgnoreCase = true;  // the file system finds a name in any letter case
const char* PlatformLineEnd = "\r\n";

bool OutputRedirected = false;
int ScreenWidth = 80;
int ScreenLastRow = 24;

namespace {
HANDLE ConsoleOutputHandle = INVALID_HANDLE_VALUE;  // standard output
HANDLE ConsoleErrorHandle = INVALID_HANDLE_VALUE;   // standard error, target of WriteStatus
HANDLE ConsoleInputHandle = INVALID_HANDLE_VALUE;   // standard input, source of key presses
DWORD SavedInputMode = 0;                           // the input mode the program was started in
bool InputModeSaved = false;                        // SavedInputMode must be put back at the end
bool BrokenPipe = false;                            // the failed write found the reader gone
UINT SavedOutputCodePage = 0;                       // output code page to put back; 0: none

void Fail(const char* message) {
  DWORD written;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  WriteFile(out, message, (DWORD)std::strlen(message), &written, nullptr);
  WriteFile(out, "\r\n", 2, &written, nullptr);
  ExitProcess(0);
}

// Ctrl+C, Ctrl+Break and the console closing: the status text still shown (the scan's "Reading
// directory" line and its counts) is blanked and the console gets back its code page and input
// mode, then the default handling (the next handler) ends the process as before.
BOOL WINAPI OnConsoleEnd(DWORD event) {
  int shown = StatusTextShown;
  if (shown > 0 && ErrorIsTerminal) {
    StatusTextShown = 0;
    char blanks[256], back[256];
    if (shown > (int)sizeof blanks) shown = (int)sizeof blanks;
    std::memset(blanks, ' ', (size_t)shown);
    std::memset(back, 8, (size_t)shown);
    DWORD written;
    WriteConsoleA(ConsoleErrorHandle, blanks, (DWORD)shown, &written, nullptr);
    WriteConsoleA(ConsoleErrorHandle, back, (DWORD)shown, &written, nullptr);
  }
  PlatformRestoreTerminal();
  return FALSE;
}

// With UTF-8 as the program's code page, names arrive from the file functions in UTF-8; the
// console shows them only while its output code page is UTF-8 too. That code page outlives the
// program, so the one found is put back on every way out.
void UseUtf8Console() {
  SetTextIsUtf8(true);
  UINT found = GetConsoleOutputCP();
  if (found == 0 || found == CP_UTF8) return;
  if (!SetConsoleOutputCP(CP_UTF8)) return;
  SavedOutputCodePage = found;
}

// The UTF-8 form of a code page 437 box piece of the tree or the spinner, or null for any other
// byte (blank, + | - and the spinner's other characters stay as they are).
const char* BoxPieceAsUtf8(unsigned char c) {
  switch (c) {
    case 0xC0:
      return "\xE2\x94\x94";  // corner
    case 0xC3:
      return "\xE2\x94\x9C";  // tee
    case 0xC4:
      return "\xE2\x94\x80";  // horizontal
    case 0xB3:
      return "\xE2\x94\x82";  // vertical
  }
  return nullptr;
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

// The keys the scroller and the pager act on are taken by their virtual key code, whatever
// character and scan code come with them: Wine's console gives Escape with character 0, which
// would read as "any other key" (the next page), and keyboards differ in their scan codes. The
// scan codes returned are the PC keyboard's, as the POSIX terminal's keys are mapped.
unsigned char NavigationScanCode(WORD virtualKey) {
  switch (virtualKey) {
    case VK_PRIOR:
      return ScanPgUp;
    case VK_NEXT:
      return ScanPgDn;
    case VK_END:
      return ScanEnd;
    case VK_HOME:
      return ScanHome;
    case VK_LEFT:
      return 0x4B;
    case VK_UP:
      return ScanUp;
    case VK_RIGHT:
      return 0x4D;
    case VK_DOWN:
      return ScanDown;
  }
  return 0;
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
    bool modified = (ke.dwControlKeyState & 0x1F) != 0;
    KeyPress k = {0, 0};
    if (ke.wVirtualKeyCode == VK_ESCAPE) {
      k.character = 27;
      return k;
    }
    k.scanCode = NavigationScanCode(ke.wVirtualKeyCode);
    if (k.scanCode != 0) {
      if (modified) continue;
      return k;
    }
    unsigned char ch = (unsigned char)ke.uChar.AsciiChar;
    bool accept = ch != 0 || ke.wVirtualKeyCode == 0x90 || ke.wVirtualKeyCode == 0x91 || !modified;
    if (!accept) continue;
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
  ErrorIsTerminal = GetConsoleMode(ConsoleErrorHandle, &mode) != 0;
  OutputIsTerminal = GetConsoleMode(ConsoleOutputHandle, &mode) != 0;
  if (GetACP() == CP_UTF8) UseUtf8Console();
  SetConsoleCtrlHandler(OnConsoleEnd, TRUE);
  // Line ends are written explicitly, so the stream must not translate them again.
  _setmode(_fileno(stdout), _O_BINARY);
}

void WriteStatus(const char* text, int length) {
  if (length <= 0) return;
  FlushOutput();
  DWORD written;
  if (!TextIsUtf8) {
    WriteConsoleA(ConsoleErrorHandle, text, (DWORD)length, &written, nullptr);
    return;
  }
  char out[3 * 256];
  int n = 0;
  for (int i = 0; i < length && n <= (int)sizeof out - 3; ++i) {
    const char* piece = BoxPieceAsUtf8((unsigned char)text[i]);
    if (piece) {
      std::memcpy(out + n, piece, 3);
      n += 3;
    } else {
      out[n++] = text[i];
    }
  }
  WriteConsoleA(ConsoleErrorHandle, out, (DWORD)n, &written, nullptr);
}

bool StatusVisible() {
  return ErrorIsTerminal;
}

int ScreenRowColumns() {
  return ScreenWidth - 1;
}

int StatusColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(ConsoleErrorHandle, &info) && info.dwSize.X > 0)
    return info.dwSize.X;
  return ScreenWidth;
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

void PlatformWriteStderr(const char* bytes, int length) {
  while (length > 0) {
    DWORD written = 0;
    if (!WriteFile(ConsoleErrorHandle, bytes, (DWORD)length, &written, nullptr) || written == 0)
      return;
    bytes += written;
    length -= (int)written;
  }
}

bool PlatformStdoutBrokenPipe() {
  return BrokenPipe;
}

// The console's input mode and output code page outlive the program; the shell gets back the
// ones it handed over.
void PlatformRestoreTerminal() {
  if (InputModeSaved) SetConsoleMode(ConsoleInputHandle, SavedInputMode);
  if (SavedOutputCodePage != 0) SetConsoleOutputCP(SavedOutputCodePage);
}

void PlatformWriteTreeBytes(const char* bytes, int length) {
  if (!TextIsUtf8) {
    WriteText(bytes, length);
    return;
  }
  for (int i = 0; i < length; ++i) {
    const char* piece = BoxPieceAsUtf8((unsigned char)bytes[i]);
    WriteText(piece ? piece : bytes + i, piece ? 3 : 1);
  }
}

void SetReverseVideo(bool on) {
  FlushOutput();
  // The console's own attribute 7 (grey on black), its colours swapped for reverse.
  SetConsoleTextAttribute(ConsoleOutputHandle, on ? 0x70 : 0x07);
}
