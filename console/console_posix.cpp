// POSIX console: terminal size, raw key reading, status text on standard error, and the
// terminal's restoration on every way out. Only code for POSIX systems goes in this file.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <clocale>
#include <cstring>

#include "console/console.h"
#include "console/output.h"
#include "console/strings.h"

extern const char PathSeparator;
const char PathSeparator = '/';
const char* PlatformLineEnd = "\n";

bool OutputRedirected = false;
int ScreenWidth = 80;
int ScreenLastRow = 24;

namespace {
bool StderrIsTerminal = false;         // status text is written only to a terminal
bool BrokenPipe = false;               // the last failed write met EPIPE
struct termios SavedMode;              // the terminal's mode while a key is awaited
volatile sig_atomic_t RawActive = 0;   // SavedMode must be put back

void RestoreMode() {
  if (RawActive) {
    tcsetattr(0, TCSANOW, &SavedMode);
    RawActive = 0;
  }
}

// Ctrl+C and the other ending signals: put the terminal back, then end with the signal's own
// status, as an interrupted program does.
void OnEndingSignal(int sig) {
  RestoreMode();
  signal(sig, SIG_DFL);
  raise(sig);
}

bool ReadByte(unsigned char* c, int timeoutMs) {
  for (;;) {
    if (timeoutMs >= 0) {
      struct pollfd p = {0, POLLIN, 0};
      int r = poll(&p, 1, timeoutMs);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;
    }
    ssize_t n = read(0, c, 1);
    if (n == 1) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

KeyPress Failed() {
  KeyReadFailed = true;
  KeyPress k = {0, ScanEnd};
  return k;
}

KeyPress Key(unsigned char character, unsigned char scan) {
  KeyPress k;
  k.character = character;
  k.scanCode = character ? 0 : scan;
  return k;
}

// Reads the rest of an escape sequence after ESC and maps it to the key's scan code.
KeyPress DecodeEscape() {
  unsigned char c;
  if (!ReadByte(&c, 50)) return Key(27, 0);
  if (c != '[' && c != 'O') return Key(27, 0);
  bool bracket = c == '[';
  unsigned char seq[16];
  int n = 0;
  while (n < (int)sizeof seq && ReadByte(&c, 50)) {
    seq[n++] = c;
    if (c >= 0x40 && c <= 0x7E) break;  // the final byte of a control sequence
  }
  if (n == 0) return Key(27, 0);
  unsigned char last = seq[n - 1];
  if (n == 1 || (!bracket && n >= 1)) {
    switch (last) {
      case 'A': return Key(0, ScanUp);
      case 'B': return Key(0, ScanDown);
      case 'H': return Key(0, ScanHome);
      case 'F': return Key(0, ScanEnd);
    }
  }
  if (bracket && last == '~' && n >= 2) {
    int code = 0;
    for (int i = 0; i < n - 1 && seq[i] >= '0' && seq[i] <= '9'; ++i) code = code * 10 + (seq[i] - '0');
    switch (code) {
      case 1: case 7: return Key(0, ScanHome);
      case 4: case 8: return Key(0, ScanEnd);
      case 5: return Key(0, ScanPgUp);
      case 6: return Key(0, ScanPgDn);
    }
  }
  if (bracket && n >= 2 && (last == 'A' || last == 'B' || last == 'H' || last == 'F')) {
    // Modified cursor keys (ESC [1;5A): a non-character key pressed with a modifier is dropped
    // on Windows; here it is reported as a key without character or scan code.
    return Key(0, 0);
  }
  return Key(0, 0);
}

KeyPress PosixReadKey() {
  FlushOutput();
  if (!isatty(0)) return Failed();
  struct termios raw;
  if (tcgetattr(0, &SavedMode) != 0) return Failed();
  raw = SavedMode;
  // No line input and no echo; ISIG stays on so Ctrl+C ends the program at once.
  raw.c_lflag &= ~(ICANON | ECHO);
  raw.c_iflag &= ~(ICRNL | INLCR | IXON);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  RawActive = 1;
  if (tcsetattr(0, TCSANOW, &raw) != 0) {
    RawActive = 0;
    return Failed();
  }
  KeyPress k;
  unsigned char c;
  if (!ReadByte(&c, -1)) {
    k = Failed();
  } else if (c == 27) {
    k = DecodeEscape();
  } else if (c == '\n') {
    k = Key(13, 0);
  } else if (c == 127) {
    k = Key(8, 0);
  } else {
    k = Key(c, 0);
  }
  RestoreMode();
  return k;
}

void PosixClear() {
  WriteText("\x1b[0m\x1b[H\x1b[2J");
  FlushOutput();
}
}  // namespace

KeyboardSource PlatformKeyboard() { return KeyboardSource{PosixReadKey, PosixClear}; }

void ConsoleStartup() {
  struct winsize ws;
  std::memset(&ws, 0, sizeof ws);
  if (ioctl(1, TIOCGWINSZ, &ws) != 0 || ws.ws_row == 0) {
    OutputRedirected = true;
    ScreenLastRow = 24;
    ScreenWidth = 80;
  } else {
    OutputRedirected = false;
    ScreenLastRow = ws.ws_row - 1;
    ScreenWidth = ws.ws_col ? ws.ws_col : 80;
  }
  StderrIsTerminal = isatty(2);
  MaskNameControlBytes = !OutputRedirected;
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnEndingSignal;
  sigemptyset(&sa.sa_mask);
  int ending[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  for (int sig : ending) sigaction(sig, &sa, nullptr);
}

void WriteStatus(const char* text, int length) {
  if (!StderrIsTerminal || length <= 0) return;
  FlushOutput();
  // The spinner's horizontal line is the code page 437 byte 0xC4; show it as UTF-8.
  char out[3 * 256];
  int n = 0;
  for (int i = 0; i < length && n < (int)sizeof out - 3; ++i) {
    if ((unsigned char)text[i] == 0xC4) {
      out[n++] = (char)0xE2;
      out[n++] = (char)0x94;
      out[n++] = (char)0x80;
    } else {
      out[n++] = text[i];
    }
  }
  ssize_t ignored = write(2, out, n);
  (void)ignored;
}

bool StatusVisible() { return StderrIsTerminal; }

int64_t MonotonicMilliseconds() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

bool PlatformWriteStdout(const char* bytes, int length) {
  while (length > 0) {
    ssize_t n = write(1, bytes, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      BrokenPipe = errno == EPIPE;
      return false;
    }
    bytes += n;
    length -= (int)n;
  }
  return true;
}

bool PlatformStdoutBrokenPipe() { return BrokenPipe; }

void PlatformRestoreTerminal() { RestoreMode(); }

void PlatformWriteTreeBytes(const char* bytes, int length) {
  for (int i = 0; i < length; ++i) {
    switch ((unsigned char)bytes[i]) {
      case 0xC0: WriteText("\xE2\x94\x94", 3); break;  // corner
      case 0xC3: WriteText("\xE2\x94\x9C", 3); break;  // tee
      case 0xC4: WriteText("\xE2\x94\x80", 3); break;  // horizontal
      case 0xB3: WriteText("\xE2\x94\x82", 3); break;  // vertical
      default: WriteText(bytes + i, 1);
    }
  }
}
