#include "console/output.h"

#include <cstdio>
#include <cstring>

#include "console/console.h"

namespace {
char Buffer[1 << 16];     // pending bytes for standard output
int BufferUsed = 0;       // bytes of Buffer in use
bool Failed = false;      // a write has failed; later writes are dropped
std::string* Sink = nullptr;  // test capture, or null for the real stream

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
  if (Sink) {
    Sink->append(bytes, length);
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

// Columns of a code point on a terminal: 2 for the wide East Asian and emoji ranges, 0 for
// combining marks and zero-width characters, 1 for the rest.
int CodePointColumns(unsigned cp) {
  static const unsigned zero[][2] = {{0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD},
                                     {0x0610, 0x061A}, {0x064B, 0x065F}, {0x1AB0, 0x1AFF},
                                     {0x1DC0, 0x1DFF}, {0x200B, 0x200F}, {0x20D0, 0x20FF},
                                     {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}};
  static const unsigned wide[][2] = {
      {0x1100, 0x115F}, {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},  {0x4E00, 0x9FFF},
      {0xA000, 0xA4CF}, {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},  {0xFF00, 0xFF60},
      {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD}};
  for (const auto& r : zero)
    if (cp >= r[0] && cp <= r[1]) return 0;
  for (const auto& r : wide)
    if (cp >= r[0] && cp <= r[1]) return 2;
  return 1;
}

// Length of the well-formed UTF-8 character at bytes (1 for a byte that starts none, which a
// terminal shows as one replacement character); *cp receives its code point.
int Utf8Length(const unsigned char* bytes, int length, unsigned* cp) {
  unsigned char c = bytes[0];
  int n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 1;
  *cp = c;
  if (n == 1 || n > length) return 1;
  unsigned v = c & (0x7F >> n);
  for (int i = 1; i < n; ++i) {
    if ((bytes[i] & 0xC0) != 0x80) return 1;
    v = (v << 6) | (bytes[i] & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not characters.
  if ((n == 3 && v < 0x800) || (n == 4 && (v < 0x10000 || v > 0x10FFFF)) ||
      (v >= 0xD800 && v <= 0xDFFF))
    return 1;
  *cp = v;
  return n;
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
    unsigned cp = c;
    int n = TextIsUtf8 ? Utf8Length(u + i, length - i, &cp) : 1;
    int columns = cp < 0x20 || cp == 0x7F ? 0 : n == 1 ? 1 : CodePointColumns(cp);
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

bool MaskNameControlBytes = false;
bool TextIsUtf8 = false;

void WriteName(const char* bytes, int length) {
  if (!MaskNameControlBytes) {
    WriteText(bytes, length);
    return;
  }
  int start = 0;
  for (int i = 0; i < length; ++i) {
    unsigned char c = (unsigned char)bytes[i];
    if (c < 0x20 || c == 0x7F) {
      WriteText(bytes + start, i - start);
      WriteText("?", 1);
      start = i + 1;
    }
  }
  WriteText(bytes + start, length - start);
}

void WriteLineEnd() { WriteText(PlatformLineEnd); }
void WriteCrLf() { WriteText("\r\n", 2); }

void FlushOutput() {
  if (!Sink) Drain();
}

bool OutputFailed() { return Failed; }

void CopyToErrorOutput(const BStr& line) {
  if (!OutputRedirected) return;
  FlushOutput();
  std::fprintf(stderr, "quorvel: %.*s\n", line.length, line.text);
  std::fflush(stderr);
}

std::string* CaptureOutput(std::string* sink) {
  FlushOutput();
  std::string* before = Sink;
  Sink = sink;
  return before;
}
