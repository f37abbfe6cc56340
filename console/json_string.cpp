#include "console/json_string.h"

#include "console/strings.h"

namespace {
const char Hex[] = "0123456789abcdef";

void AppendUnicodeEscape(std::string* out, unsigned cp) {
  char escape[6] = {'\\', 'u', Hex[(cp >> 12) & 15], Hex[(cp >> 8) & 15], Hex[(cp >> 4) & 15],
                    Hex[cp & 15]};
  out->append(escape, 6);
}

// The short escape of a control character, or 0.
char ShortEscapeOf(unsigned cp) {
  switch (cp) {
    case '\n':
      return 'n';
    case '\r':
      return 'r';
    case '\t':
      return 't';
    case '\b':
      return 'b';
    case '\f':
      return 'f';
  }
  return 0;
}

// Whether a character (a code point read as UTF-8, or a byte) needs an escape.
bool NeedsEscape(unsigned cp, unsigned escapes) {
  if (cp < 0x20 || cp == 0x7F || cp == '"' || cp == '\\') return true;
  if ((escapes & JsonCheckUtf8) && cp >= 0x80 && cp <= 0x9F) return true;
  return (escapes & JsonPageEscapes) &&
         (cp == '<' || cp == '>' || cp == '&' || cp == 0x2028 || cp == 0x2029);
}
}  // namespace

bool AppendJsonString(std::string* out, const char* bytes, int length, unsigned escapes) {
  const unsigned char* u = (const unsigned char*)bytes;
  const bool utf8 = (escapes & JsonCheckUtf8) != 0;
  bool exact = true;
  int run = 0;  // where the bytes not yet appended begin
  for (int i = 0; i < length;) {
    unsigned cp = u[i];
    int n = utf8 ? Utf8CharLength(u + i, length - i, &cp) : 1;
    bool lone = utf8 && n == 1 && u[i] >= 0x80;
    if (!lone && !NeedsEscape(cp, escapes)) {
      i += n;
      continue;
    }
    out->append(bytes + run, (size_t)(i - run));
    char shortEscape = escapes & JsonShortEscapes ? ShortEscapeOf(cp) : 0;
    if (lone) {
      out->append("\\ufffd", 6);
      exact = false;
    } else if (cp == '"' || cp == '\\') {
      out->push_back('\\');
      out->push_back((char)cp);
    } else if (shortEscape) {
      out->push_back('\\');
      out->push_back(shortEscape);
    } else {
      AppendUnicodeEscape(out, cp);
    }
    i += n;
    run = i;
  }
  out->append(bytes + run, (size_t)(length - run));
  return exact;
}
