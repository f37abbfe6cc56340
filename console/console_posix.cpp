// POSIX console: terminal size, raw key reading, status text on standard error, and the
// terminal's restoration on every way out. Only code for POSIX systems goes in this file.
#include <errno.h>
#include <fcntl.h>
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
extern const int PathBudget;
extern const int PathPatternRoom;
extern const bool NamesIgnoreCase;
const char PathSeparator = '/';
const int PathBudget = 4095;  // PATH_MAX less one
const int PathPatternRoom = 0;  // the directory itself is opened: no pattern
const bool NamesIgnoreCase = false;  // names are compared byte for byte
const char* PlatformLineEnd = "\n";

bool OutputRedirected = false;
int ScreenWidth = 80;
int ScreenLastRow = 24;

namespace {
bool BrokenPipe = false;              // the last failed write met EPIPE
struct termios SavedMode;             // the terminal's mode from before the current key wait
struct termios KeyMode;               // the mode a key is awaited in (no line input, no echo)
volatile sig_atomic_t RawActive = 0;  // KeyMode is in force; SavedMode must be put back
struct sigaction StopAction;          // the Ctrl+Z handler, put back after each stop
// A byte is written to SizePipe[1] when the window may have changed its size (SIGWINCH, or a
// continue after Ctrl+Z); the key wait watches SizePipe[0] beside the keyboard, so a change
// that comes just before the wait is not missed. -1 when there is no pipe.
int SizePipe[2] = {-1, -1};
// Set when the program is continued after a stop: whatever it showed may be gone under the
// shell's lines, so the next key wait returns for a repaint. Cleared by that wait.
volatile sig_atomic_t Continued = 0;

void PokeSizePipe() {
  if (SizePipe[1] < 0) return;
  int savedErrno = errno;
  char b = 0;
  ssize_t ignored = write(SizePipe[1], &b, 1);  // a full pipe already holds the news
  (void)ignored;
  errno = savedErrno;
}

void OnWindowChange(int) {
  PokeSizePipe();
}

// Reads the terminal's size into ScreenWidth and ScreenLastRow; true when it differs from what
// they held. A terminal that cannot say leaves them as they are.
bool MeasureScreen() {
  struct winsize ws;
  std::memset(&ws, 0, sizeof ws);
  if (ioctl(1, TIOCGWINSZ, &ws) != 0 || ws.ws_row == 0) return false;
  int lastRow = ws.ws_row - 1, width = ws.ws_col ? ws.ws_col : 80;
  bool changed = lastRow != ScreenLastRow || width != ScreenWidth;
  ScreenLastRow = lastRow;
  ScreenWidth = width;
  return changed;
}

void RestoreMode() {
  if (RawActive) {
    tcsetattr(0, TCSANOW, &SavedMode);
    RawActive = 0;
  }
}

// Blanks the status text still on the terminal (the scan's "Reading directory" line and its
// counts), with nothing but write: a signal may come at any moment.
void EraseStatusNow() {
  int shown = StatusTextShown;
  if (shown <= 0 || !ErrorIsTerminal) return;
  StatusTextShown = 0;
  char blanks[256], back[256];
  if (shown > (int)sizeof blanks) shown = (int)sizeof blanks;
  std::memset(blanks, ' ', (size_t)shown);
  std::memset(back, 8, (size_t)shown);
  ssize_t ignored = write(2, blanks, (size_t)shown);
  ignored = write(2, back, (size_t)shown);
  (void)ignored;
}

// Ctrl+C and the other ending signals: the status text is blanked and the terminal put back,
// then the program ends with the signal's own status, as an interrupted program does. The
// signal is blocked while this runs, so the raise takes effect, with the default action, as
// soon as the handler returns.
void OnEndingSignal(int sig) {
  EraseStatusNow();
  RestoreMode();
  signal(sig, SIG_DFL);
  raise(sig);
}

// Ctrl+Z while a key is awaited: the shell gets the terminal back in the mode it was found in;
// when the program is continued, the key wait goes on in its own mode.
void OnStop(int sig) {
  int savedErrno = errno;
  bool wasRaw = RawActive != 0;
  RestoreMode();
  signal(SIGTSTP, SIG_DFL);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &stop, nullptr);
  raise(SIGTSTP);
  // Continued here.
  sigprocmask(SIG_BLOCK, &stop, nullptr);
  sigaction(SIGTSTP, &StopAction, nullptr);
  if (wasRaw) {
    RawActive = 1;
    tcsetattr(0, TCSANOW, &KeyMode);
  }
  errno = savedErrno;
}

// Every continue, also after a stop that did not pass through OnStop (kill -STOP): the key wait
// gets its mode back (the shell may have set its own on the terminal meanwhile), and the screen
// is drawn again, at its size of now.
void OnContinue(int) {
  int savedErrno = errno;
  if (RawActive) tcsetattr(0, TCSANOW, &KeyMode);
  Continued = 1;
  PokeSizePipe();
  errno = savedErrno;
}

// Installs handler for sig unless the program was started with sig ignored (a background job
// of a non-interactive shell, nohup): that choice of the parent is kept.
void Catch(int sig, const struct sigaction& action) {
  struct sigaction old;
  if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) return;
  sigaction(sig, &action, nullptr);
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

constexpr unsigned char ScanLeft = 0x4B, ScanRight = 0x4D, ScanInsert = 0x52, ScanDelete = 0x53;

// The scan code of a cursor key's final byte (ESC [ x or ESC O x), 0 when it is none.
unsigned char CursorScan(unsigned char final) {
  switch (final) {
    case 'A':
      return ScanUp;
    case 'B':
      return ScanDown;
    case 'C':
      return ScanRight;
    case 'D':
      return ScanLeft;
    case 'H':
      return ScanHome;
    case 'F':
      return ScanEnd;
  }
  return 0;
}

// Reads the rest of an escape sequence after ESC and maps it to the key's scan code. Sets
// *dropped for a non-character key pressed with Shift, Ctrl or Alt (ESC [1;5A and the like),
// which the Windows console drops as well.
KeyPress DecodeEscape(bool* dropped) {
  *dropped = false;
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
  bool modified = false;
  for (int i = 0; i < n - 1; ++i) modified = modified || seq[i] == ';';
  if (modified) {
    *dropped = true;
    return Key(0, 0);
  }
  if (n == 1 || !bracket) return Key(0, CursorScan(last));
  if (last == '~') {
    int code = 0;
    for (int i = 0; i < n - 1 && seq[i] >= '0' && seq[i] <= '9'; ++i)
      code = code * 10 + (seq[i] - '0');
    switch (code) {
      case 1:
      case 7:
        return Key(0, ScanHome);
      case 2:
        return Key(0, ScanInsert);
      case 3:
        return Key(0, ScanDelete);
      case 4:
      case 8:
        return Key(0, ScanEnd);
      case 5:
        return Key(0, ScanPgUp);
      case 6:
        return Key(0, ScanPgDn);
    }
  }
  return Key(0, 0);
}

// One key from the terminal in KeyMode; *dropped when it is one the Windows console would
// skip.
KeyPress ReadOneKey(bool* dropped) {
  *dropped = false;
  unsigned char c;
  if (!ReadByte(&c, -1)) return Failed();
  if (c == 27) return DecodeEscape(dropped);
  if (c == '\n' || c == '\r') return Key(13, 0);
  if (c == 127) return Key(8, 0);
  if (c >= 0xC2 && c <= 0xF4) {
    // A character of several UTF-8 bytes is one key: its continuation bytes are read with it.
    int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
    unsigned char next;
    for (int i = 0; i < more; ++i)
      if (!ReadByte(&next, 20)) break;
  }
  return Key(c, 0);
}

// Waits until the keyboard has a byte (or fails: the read that follows reports it); false when
// the screen's size changed first.
bool WaitForKeyOrResize() {
  for (;;) {
    struct pollfd p[2] = {{0, POLLIN, 0}, {SizePipe[0], POLLIN, 0}};
    int r = poll(p, SizePipe[0] >= 0 ? 2 : 1, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return true;
    if (SizePipe[0] >= 0 && (p[1].revents & POLLIN)) {
      char drain[64];
      while (read(SizePipe[0], drain, sizeof drain) > 0) {
      }
      bool resized = MeasureScreen();
      if (Continued) {
        Continued = 0;
        return false;
      }
      if (resized) return false;
    }
    if (p[0].revents) return true;
  }
}

KeyPress PosixReadKey() {
  FlushOutput();
  if (!isatty(0)) return Failed();
  if (tcgetattr(0, &SavedMode) != 0) return Failed();
  KeyMode = SavedMode;
  // No line input and no echo; ISIG stays on so Ctrl+C ends the program at once.
  KeyMode.c_lflag &= ~(ICANON | ECHO | IEXTEN);
  KeyMode.c_iflag &= ~(ICRNL | INLCR | IXON);
  KeyMode.c_cc[VMIN] = 1;
  KeyMode.c_cc[VTIME] = 0;
  RawActive = 1;
  if (tcsetattr(0, TCSANOW, &KeyMode) != 0) {
    RawActive = 0;
    return Failed();
  }
  KeyPress k;
  bool dropped;
  do {
    if (!WaitForKeyOrResize()) {
      RestoreMode();
      ScreenResized = true;
      return Key(0, 0);
    }
    k = ReadOneKey(&dropped);
  } while (dropped);
  RestoreMode();
  return k;
}

void PosixClear() {
  WriteText("\x1b[0m\x1b[H\x1b[2J");
  FlushOutput();
}
}  // namespace

KeyboardSource PlatformKeyboard() {
  return KeyboardSource{PosixReadKey, PosixClear};
}

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
  OutputIsTerminal = isatty(1);
  ErrorIsTerminal = isatty(2);
  SetTextIsUtf8(true);
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnEndingSignal;
  sigemptyset(&sa.sa_mask);
  int ending[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  for (int sig : ending) Catch(sig, sa);
  std::memset(&StopAction, 0, sizeof StopAction);
  StopAction.sa_handler = OnStop;
  sigemptyset(&StopAction.sa_mask);
  Catch(SIGTSTP, StopAction);
  // Only the scroller and the pager, which need a terminal, follow the window's size. The
  // handler restarts what it interrupts, so no other system call sees it.
  if (!OutputRedirected && pipe(SizePipe) == 0) {
    for (int fd : SizePipe) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
      fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction winch;
    std::memset(&winch, 0, sizeof winch);
    winch.sa_handler = OnWindowChange;
    winch.sa_flags = SA_RESTART;
    sigemptyset(&winch.sa_mask);
    sigaction(SIGWINCH, &winch, nullptr);
    winch.sa_handler = OnContinue;
    sigaction(SIGCONT, &winch, nullptr);
  }
}

void WriteStatus(const char* text, int length) {
  if (!ErrorIsTerminal || length <= 0) return;
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

bool StatusVisible() {
  return ErrorIsTerminal;
}

int ScreenRowColumns() {
  return ScreenWidth;
}

int StatusColumns() {
  struct winsize ws;
  std::memset(&ws, 0, sizeof ws);
  if (ioctl(2, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return ScreenWidth;
}

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

void PlatformWriteStderr(const char* bytes, int length) {
  while (length > 0) {
    ssize_t n = write(2, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes += n;
    length -= (int)n;
  }
}

bool PlatformStdoutBrokenPipe() {
  return BrokenPipe;
}

void PlatformRestoreTerminal() {
  RestoreMode();
}

void PlatformWriteTreeBytes(const char* bytes, int length) {
  for (int i = 0; i < length; ++i) {
    switch ((unsigned char)bytes[i]) {
      case 0xC0:
        WriteText("\xE2\x94\x94", 3);
        break;  // corner
      case 0xC3:
        WriteText("\xE2\x94\x9C", 3);
        break;  // tee
      case 0xC4:
        WriteText("\xE2\x94\x80", 3);
        break;  // horizontal
      case 0xB3:
        WriteText("\xE2\x94\x82", 3);
        break;  // vertical
      default:
        WriteText(bytes + i, 1);
    }
  }
}

void SetReverseVideo(bool on) {
  // Past the line cut, which would count the sequence as columns.
  FlushOutput();
  PlatformWriteStdout(on ? "\x1b[7m" : "\x1b[0m", 4);
}
