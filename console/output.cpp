#include "console/output.h"

#include <cstring>

#include "console/console.h"

namespace {
char Buffer[1 << 16];     // pending bytes for standard output
int BufferUsed = 0;       // bytes of Buffer in use
bool Failed = false;      // a write has failed; later writes are dropped
std::string* Sink = nullptr;  // test capture, or null for the real stream

void Drain() {
  if (BufferUsed == 0) return;
  if (!Failed && !PlatformWriteStdout(Buffer, BufferUsed)) Failed = true;
  BufferUsed = 0;
}
}  // namespace

void WriteText(const char* bytes, int length) {
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

void WriteText(const char* z) { WriteText(z, (int)std::strlen(z)); }

void WriteTreeBytes(const char* bytes, int length) {
  if (Sink) {
    Sink->append(bytes, length);
    return;
  }
  PlatformWriteTreeBytes(bytes, length);
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

void CaptureOutput(std::string* sink) {
  FlushOutput();
  Sink = sink;
}
