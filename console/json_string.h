// The one writer of JSON strings: names, paths and texts as the inside of a JSON string, for
// the JSON export, the data block of the page and the dump of a saved scan. Each of them asks
// for its own escapes, so each keeps writing what its readers take.
#pragma once

#include <string>

// What is escaped besides a double quote and a backslash, which always are, and the control
// bytes U+0000 to U+001F and DEL, which always are as \u00XX (unless JsonShortEscapes).
enum JsonEscapes : unsigned {
  // The bytes as they are: no check of UTF-8 (a dump keeps a name's exact bytes).
  JsonRawBytes = 0,
  // Read as UTF-8: a byte that is no part of a UTF-8 character is written as U+FFFD, and the C1
  // controls U+0080 to U+009F are escaped too, so the text stays plain wherever it is shown.
  JsonCheckUtf8 = 1,
  // \n, \r, \t, \b and \f for those five controls instead of \u000a and the like.
  JsonShortEscapes = 2,
  // For a JSON text inside an HTML page's script block: "<", ">" and "&", so that no name can
  // close the block ("</script>") or open a comment in it ("<!--"), and U+2028 and U+2029,
  // which older script parsers take for line ends. Only with JsonCheckUtf8.
  JsonPageEscapes = 4,
};

// The escapes of the three writers of JSON text.
constexpr unsigned JsonExportEscapes = JsonCheckUtf8 | JsonShortEscapes;
constexpr unsigned JsonPageTextEscapes = JsonCheckUtf8 | JsonPageEscapes;
constexpr unsigned JsonDumpEscapes = JsonRawBytes;

// Appends bytes to *out as the inside of a JSON string (no quotes around), escaped as escapes
// says. Returns false when, with JsonCheckUtf8, some bytes were no part of a UTF-8 character.
bool AppendJsonString(std::string* out, const char* bytes, int length, unsigned escapes);
