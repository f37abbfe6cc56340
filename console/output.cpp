#include "console/output.h"

#include <cstring>

#include "console/display_width.h"
#include "console/platform_output.h"
#include "console/strings.h"

const char PathNotFoundLead[] = "Path was not found (maximum path length exceeded?): ";

namespace {
char Buffer[1 << 16];     // pending bytes for standard output
int BufferUsed = 0;       // bytes of Buffer in use
bool Failed = false;      // a write has failed; later writes are dropped
std::string* Sink = nullptr;  // test capture, or null for the real stream
bool ToErrors = false;        // pieces go to standard error (SendOutputToErrors)
std::string* ErrorSink = nullptr;  // test capture of standard error, or null for the stream
bool AllToErrors = false;  // standard output is a dump's: everything goes to standard error

// The line cut of the scroller's passes. A character is written at once while it ends before
// the last column; the one that would fill the last column is held until it is known whether
// the line ends there (then it is written) or goes on (then the mark takes its place).
int CutColumns = 0;        // columns a line may take; 0: lines are written whole
int Column = 0;            // columns of the current line written so far
bool LineCut = false;      // the mark is written; the rest of the line is dropped
char Held[16];             // the character held for the last column, with its combining marks
int HeldLength = 0;        // bytes of Held in use; 0 when nothing is held
bool HeldIsTree = false;   // Held is a tree-drawing byte, written through the platform
bool TreePassing = false;  // the platform is writing tree bytes that were counted already
constexpr char CutMark = '>';

void Drain() {
  if (BufferUsed == 0) return;
  if (!Failed && !PlatformWriteStdout(Buffer, BufferUsed)) Failed = true;
  BufferUsed = 0;
}

void Emit(const char* bytes, int length) {
  if (length <= 0) return;
  if (ToErrors && ErrorSink) {
    ErrorSink->append(bytes, length);
    return;
  }
  if (Sink) {
    Sink->append(bytes, length);
    return;
  }
  if (ToErrors) {
    PlatformWriteStderr(bytes, length);
    return;
  }
  if (BufferUsed + length > (int)sizeof Buffer) Drain();
  if (length > (int)sizeof Buffer) {
    if (!Failed && !PlatformWriteStdout(bytes, length)) Failed = true;
    return;
  }
  std::memcpy(Buffer + BufferUsed, bytes, length);
  BufferUsed += length;
}

// Tests capture tree bytes untranslated; the real stream gets them as the platform shows them.
void EmitTree(const char* bytes, int length) {
  if (Sink) {
    Sink->append(bytes, length);
    return;
  }
  TreePassing = true;
  PlatformWriteTreeBytes(bytes, length);
  TreePassing = false;
}

void EmitPiece(const char* bytes, int length, bool tree) {
  if (tree)
    EmitTree(bytes, length);
  else
    Emit(bytes, length);
}

void WriteHeld() {
  if (HeldLength > 0) EmitPiece(Held, HeldLength, HeldIsTree);
  HeldLength = 0;
}

void EndCutLine() {
  if (!LineCut) WriteHeld();
  HeldLength = 0;
  Column = 0;
  LineCut = false;
}

// One character of `columns` display columns (0 for a combining mark) under the cut.
void CutPiece(const char* bytes, int length, int columns, bool tree) {
  if (LineCut) return;
  if (columns == 0) {
    if (HeldLength == 0) {
      EmitPiece(bytes, length, tree);
    } else if (HeldLength + length <= (int)sizeof Held) {
      std::memcpy(Held + HeldLength, bytes, length);
      HeldLength += length;
    }
    return;
  }
  if (HeldLength == 0 && Column + columns < CutColumns) {
    EmitPiece(bytes, length, tree);
    Column += columns;
    return;
  }
  if (HeldLength == 0 && Column + columns == CutColumns && length <= (int)sizeof Held) {
    std::memcpy(Held, bytes, length);
    HeldLength = length;
    HeldIsTree = tree;
    return;
  }
  // The line goes on past the screen's edge: the mark ends it in the next free column.
  HeldLength = 0;
  Emit(&CutMark, 1);
  ++Column;
  LineCut = true;
}

// Columns of the character at u (length bytes available) on a terminal; *n its bytes. A tab
// is handled by the caller; control characters take none.
int CharColumns(const unsigned char* u, int length, int* n) {
  unsigned cp = u[0];
  *n = TextIsUtf8 ? Utf8CharLength(u, length, &cp) : 1;
  if (cp < 0x20 || cp == 0x7F) return 0;
  return *n == 1 ? 1 : CodePointColumns(cp);
}

void CutText(const char* bytes, int length) {
  const unsigned char* u = (const unsigned char*)bytes;
  for (int i = 0; i < length;) {
    unsigned char c = u[i];
    if (c == '\r' || c == '\n') {
      EndCutLine();
      Emit(bytes + i, 1);
      ++i;
      continue;
    }
    if (c == '\t') {
      CutPiece(bytes + i, 1, 8 - Column % 8, false);
      ++i;
      continue;
    }
    int n;
    int columns = CharColumns(u + i, length - i, &n);
    CutPiece(bytes + i, n, columns, false);
    i += n;
  }
}
}  // namespace

void SetLineCut(int columns) {
  EndCutLine();
  CutColumns = columns > 0 ? columns : 0;
}

void WriteText(const char* bytes, int length) {
  if (length <= 0) return;
  if (CutColumns > 0 && !TreePassing)
    CutText(bytes, length);
  else
    Emit(bytes, length);
}

void WriteText(const char* z) { WriteText(z, (int)std::strlen(z)); }

// Each tree-drawing byte is one piece of one column, whatever the platform makes of it.
void WriteTreeBytes(const char* bytes, int length) {
  if (CutColumns == 0) {
    EmitTree(bytes, length);
    return;
  }
  for (int i = 0; i < length; ++i) CutPiece(bytes + i, 1, 1, true);
}

bool TextIsUtf8 = false;

void SetTextIsUtf8(bool utf8) {
  TextIsUtf8 = utf8;
}

// Written in runs between the characters it masks.
void WriteName(const char* bytes, int length) {
  if (!(ToErrors ? ErrorIsTerminal : OutputIsTerminal)) {
    WriteText(bytes, length);
    return;
  }
  const unsigned char* u = (const unsigned char*)bytes;
  int start = 0;
  for (int i = 0; i < length;) {
    unsigned cp = u[i];
    int n = TextIsUtf8 ? Utf8CharLength(u + i, length - i, &cp) : 1;
    // In UTF-8 text a lone byte 0x80 to 0x9F is no character, but a terminal that takes 8-bit
    // controls would read it as one. In a one-byte code page those bytes are letters.
    bool control = cp < 0x20 || cp == 0x7F || (TextIsUtf8 && cp >= 0x80 && cp <= 0x9F);
    if (control) {
      WriteText(bytes + start, i - start);
      WriteText("?", 1);
      start = i + n;
    }
    i += n;
  }
  WriteText(bytes + start, length - start);
}

int DisplayColumns(const char* bytes, int length) {
  const unsigned char* u = (const unsigned char*)bytes;
  int columns = 0;
  for (int i = 0; i < length;) {
    int n = 1;
    columns += u[i] == '\t' ? 8 - columns % 8 : CharColumns(u + i, length - i, &n);
    i += n;
  }
  return columns;
}

namespace {
bool LineWasToErrors = false;  // where output went before the error or note line began

// The message itself, where the text written here goes: lead, the name masked, tail.
void WriteMessage(const char* lead, const char* name, int nameLength, const char* tail) {
  WriteText(lead);
  WriteName(name, nameLength);
  WriteText(tail);
}
}  // namespace

void BeginNoteLine() {
  FlushOutput();
  LineWasToErrors = ToErrors;
  ToErrors = true;
}

void EndNoteLine() {
  WriteLineEnd();
  ToErrors = LineWasToErrors;
}

void WriteNoteLine(const char* text) {
  BeginNoteLine();
  WriteText(text);
  EndNoteLine();
}

void BeginErrorLine() {
  BeginNoteLine();
  WriteText("quorvel: ");
}

void EndErrorLine() { EndNoteLine(); }

void WriteErrorLine(const char* lead, const char* name, int nameLength, const char* tail) {
  BeginErrorLine();
  WriteMessage(lead, name, nameLength, tail);
  EndErrorLine();
}

void WriteRunEndingMessage(const char* lead, const char* name, int nameLength, const char* tail) {
  EraseStatus();
  bool copy = !OutputIsTerminal;
  // An export's messages go to standard error already: there the message is written once, in
  // the form the copy takes.
  if (!(ToErrors && copy)) {
    WriteMessage(lead, name, nameLength, tail);
    WriteLineEnd();
  }
  if (copy) WriteErrorLine(lead, name, nameLength, tail);
}

void WriteLineEnd() { WriteText(PlatformLineEnd); }
void WriteCrLf() { WriteText("\r\n", 2); }

void FlushOutput() {
  if (!Sink) Drain();
}

bool OutputFailed() { return Failed; }

void SendAllOutputToErrors() {
  if (!Sink && BufferUsed > 0) {
    if (ErrorSink)
      ErrorSink->append(Buffer, BufferUsed);
    else
      PlatformWriteStderr(Buffer, BufferUsed);
  }
  if (!Sink) BufferUsed = 0;
  ToErrors = AllToErrors = true;
}

void SendOutputToErrors(bool on) {
  FlushOutput();
  ToErrors = on || AllToErrors;
}

std::string* CaptureOutput(std::string* sink) {
  FlushOutput();
  std::string* before = Sink;
  Sink = sink;
  return before;
}

void CaptureErrors(std::string* sink) {
  ErrorSink = sink;
}
