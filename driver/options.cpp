#include "driver/options.h"

#include <cstring>
#include <string>

#include "console/console.h"
#include "console/output.h"
#include "console/pager.h"
#include "console/strings.h"
#include "disk/stored_defaults.h"
#include "driver/run.h"
#include "driver/system.h"
#include "driver/texts.h"
#include "mailer/contact.h"
#include "mailer/shell_open.h"
#include "report/screen_report.h"

const RunOptions DefaultOptions = {255, 0, Screen, 0, false, {1, {'.', 0}}, NAME, {}, {}, {}, {}};
RunOptions Options = DefaultOptions;

intptr_t (*Launcher)(const BStr& file, const BStr& parameters, const BStr& directory,
                     int32_t showCommand) = ShellOpen;
bool (*TerminalLauncher)(LaunchKind kind, const BStr& target) = OpenInTerminal;

namespace {
bool TokenNamedDirectory = false;  // the last token parsed became the directory

bool Whole(const BStr& upper, const char* keyword) {
  return BEquals(upper, keyword);
}

bool Prefix(const BStr& upper, const char* keyword) {
  int n = (int)std::strlen(keyword);
  return upper.length >= n && std::memcmp(upper.text, keyword, n) == 0;
}

// The token from byte index `from` on.
BStr Rest(const BStr& upper, int from) {
  return BMake(upper.text + from, upper.length > from ? upper.length - from : 0);
}

void ParseSortOrder(const BStr& name) {
  // The help screen offers "size" for the order by total size.
  if (BEquals(name, BMake("SIZE"))) {
    Options.sortOrder = TOTAL;
    return;
  }
  for (int i = 0; i < SortOrderCount; ++i) {
    if (BEquals(name, SortOrderName((SortOrder)i))) {
      Options.sortOrder = (SortOrder)i;
      return;
    }
  }
  BStr message = BMake("Invalid sorting method specified - ");
  BAppend(message, name);
  PagedWriteLine(message);
}

// A launch target in the program's own folder, cut to 255 bytes.
BStr BesideProgram(const char* fileName) {
  BStr target = OwnDirectory();
  BAppend(target, fileName);
  return target;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// What the number reader made of a decimal text: the rounded magnitude (sign dropped, at most
// INT64_MAX) and whether the whole text was one number.
struct NumberReading {
  int64_t magnitude;
  bool complete;
};

// Reads blanks, a sign, digits, a fraction and an exponent from text[0..n) exactly, in
// decimal: no floating point, so neither the locale nor the precision of a double can change
// the result, and values beyond the 64-bit range saturate instead of overflowing.
NumberReading ReadDecimal(const char* text, int n) {
  NumberReading result = {0, false};
  int i = 0;
  while (i < n && text[i] == ' ') ++i;
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;

  // The significant digits, without leading zeros, and how many of them follow the point.
  char digits[BStrCapacity + 1];
  int digitCount = 0, fractionDigits = 0, mantissaDigits = 0;
  for (; i < n && IsDigit(text[i]); ++i, ++mantissaDigits) {
    if (digitCount > 0 || text[i] != '0') digits[digitCount++] = text[i];
  }
  if (i < n && text[i] == '.' && (mantissaDigits > 0 || (i + 1 < n && IsDigit(text[i + 1])))) {
    // A leading zero after the point is not kept but still shifts the digits after it.
    for (++i; i < n && IsDigit(text[i]); ++i, ++mantissaDigits, ++fractionDigits) {
      if (digitCount > 0 || text[i] != '0') digits[digitCount++] = text[i];
    }
  }
  if (mantissaDigits == 0) return result;  // nothing could be read: 0, not a number

  long exponent = 0;
  if (i < n && (text[i] == 'E' || text[i] == 'e')) {
    int j = i + 1;
    bool negative = false;
    if (j < n && (text[j] == '+' || text[j] == '-')) negative = text[j++] == '-';
    if (j < n && IsDigit(text[j])) {
      for (; j < n && IsDigit(text[j]); ++j) {
        // Far beyond any 64-bit value either way; stop growing there.
        if (exponent < 100000) exponent = exponent * 10 + (text[j] - '0');
      }
      if (negative) exponent = -exponent;
      i = j;
    }
  }
  result.complete = i == n;
  if (digitCount == 0) return result;  // the number is zero

  // value = digits x 10^(exponent - fractionDigits); intDigits of them lie before the point.
  long intDigits = digitCount + exponent - fractionDigits;
  if (intDigits > 19) {
    result.magnitude = INT64_MAX;
    return result;
  }
  uint64_t whole = 0;  // at most 19 decimal digits: always fits in 64 unsigned bits
  for (long k = 0; k < intDigits; ++k) whole = whole * 10 + (k < digitCount ? digits[k] - '0' : 0);

  // Round half to even on the first dropped digit and whether any later one is not zero.
  if (intDigits >= 0 && intDigits < digitCount) {
    int first = digits[intDigits] - '0';
    bool moreThanHalf = false;
    for (int k = (int)intDigits + 1; k < digitCount; ++k) moreThanHalf |= digits[k] != '0';
    if (first > 5 || (first == 5 && (moreThanHalf || (whole & 1) != 0))) ++whole;
  }
  result.magnitude = whole > (uint64_t)INT64_MAX ? INT64_MAX : (int64_t)whole;
  return result;
}
}  // namespace

int64_t ParseSizeValue(const BStr& upper) {
  int64_t multiplier = 1;
  int numberLength = upper.length;
  if (numberLength > 0) {
    switch (upper.text[numberLength - 1]) {
      case 'K':
        multiplier = 1024;
        break;
      case 'M':
        multiplier = 1048576;
        break;
      case 'G':
        multiplier = 1073741824;
        break;
    }
    if (multiplier != 1) --numberLength;
  }
  NumberReading number = ReadDecimal(upper.text, numberLength);
  if (!number.complete || multiplier == 1) return number.magnitude;
  if (number.magnitude > INT64_MAX / multiplier) return INT64_MAX;
  return number.magnitude * multiplier;
}

bool ParseDepthOption(const BStr& upper) {
  if (upper.length < 2 || upper.text[0] != '-') return false;
  int i = 1;
  bool negative = false;
  if (upper.text[i] == '+' || upper.text[i] == '-') negative = upper.text[i++] == '-';
  if (i >= upper.length) return false;
  // Only the low 8 bits count, so they are kept as the digits arrive: a number of any length
  // gives the low 8 bits of the value it denotes.
  unsigned low = 0;
  for (; i < upper.length; ++i) {
    if (!IsDigit(upper.text[i])) return false;
    low = (low * 10 + (unsigned)(upper.text[i] - '0')) & 0xFF;
  }
  if (negative) low = (256 - low) & 0xFF;
  Options.maxDepth = low == 0 ? 255 : (unsigned char)low;
  return true;
}

void LaunchAndExit(const BStr& target, LaunchKind kind) {
  BStr none;
  BClear(none);
  FlushOutput();
  if (TerminalLauncher(kind, target) || Launcher(target, none, none, ShowNormally) > 32)
    EndProgram(0);
  // Said on standard output, and on standard error too where a script looks for it.
  WriteRunEndingMessage("Could not start ", target.text, target.length, "");
  EndProgram(1);
}

namespace {
// What a token is, by the keyword it begins with (or is).
enum class Keyword {
  GraphicChars,
  PlainChars,
  Sort,
  NoPaging,
  Size,
  Cluster,
  Tab,
  Comma,
  Csv,
  Json,
  Units,
  Bytes,
  Exclude,
  SavedScan,
  NoWaste,
  AsPercent,
  AsValue,
  Welcome,
  Dir,
  Mail,
  Config,
  Manual,
  Penwick,
  None
};
struct KeywordRow {
  const char* keyword;
  bool whole;  // the whole token is the keyword; otherwise the token begins with it
  Keyword kind;
};
// Compared in this order, the first that matches counts: a token such as -TABLE is -TAB, and
// any token that begins with -W shows the welcome screen. The options of exports, units and
// exclusions are whole words, so that a directory called, say, -jsonfiles can still be named.
const KeywordRow Keywords[] = {
    {"-C+", true, Keyword::GraphicChars},   {"-C-", true, Keyword::PlainChars},
    {"-SORT=", false, Keyword::Sort},       {"-P", true, Keyword::NoPaging},
    {"-SIZE=", false, Keyword::Size},       {"-SIZE:", false, Keyword::Size},
    {"-CL=", false, Keyword::Cluster},      {"-CL:", false, Keyword::Cluster},
    {"-TAB", false, Keyword::Tab},          {"-COMMA", false, Keyword::Comma},
    {"-CSV", true, Keyword::Csv},           {"-JSON", true, Keyword::Json},
    {"-UNITS", true, Keyword::Units},       {"-BYTES", true, Keyword::Bytes},
    {"-EXCLUDE=", false, Keyword::Exclude}, {"-EXCLUDE:", false, Keyword::Exclude},
    {"-SAVE=", false, Keyword::SavedScan},  {"-SAVE:", false, Keyword::SavedScan},
    {"-FROM=", false, Keyword::SavedScan},  {"-FROM:", false, Keyword::SavedScan},
    {"-SINCE=", false, Keyword::SavedScan}, {"-SINCE:", false, Keyword::SavedScan},
    {"-NOWASTE", false, Keyword::NoWaste},  {"-ASPER", false, Keyword::AsPercent},
    {"-ASVAL", false, Keyword::AsValue},    {"-W", false, Keyword::Welcome},
    {"-DIR", false, Keyword::Dir},          {"-MAIL", false, Keyword::Mail},
    {"-CONFIG", false, Keyword::Config},    {"-MANUAL", false, Keyword::Manual},
    {"-PENWICK", false, Keyword::Penwick},
};

Keyword Classify(const BStr& upper) {
  for (const KeywordRow& row : Keywords)
    if (row.whole ? Whole(upper, row.keyword) : Prefix(upper, row.keyword)) return row.kind;
  return Keyword::None;
}

// The options that end the program before the tokens after them are parsed.
bool EndsProgram(Keyword k) {
  return k == Keyword::Welcome || k == Keyword::Mail || k == Keyword::Config ||
         k == Keyword::Manual || k == Keyword::Penwick;
}

// The pattern of an -exclude token: the token as given (patterns keep their letter case) from
// the byte after "=" or ":". An empty pattern drops the patterns given before it, so that a
// command line can undo the stored ones.
void ParseExclude(const BStr& token) {
  BStr pattern = Rest(token, 9);
  if (pattern.length == 0)
    Options.excludes.clear();
  else
    Options.excludes.push_back(pattern);
}

// The file option a token names (-save=, -from=, -since=, or their ':' spellings), the length
// of its keyword, and the option's name for messages.
PathStr* SavedScanOption(const BStr& upper, int* keywordLength, const char** name) {
  *keywordLength = upper.length > 2 && upper.text[2] == 'I' ? 7 : 6;
  if (upper.text[2] == 'A') {
    *name = "-save=";
    return &Options.saveFile;
  }
  if (upper.text[2] == 'R') {
    *name = "-from=";
    return &Options.fromFile;
  }
  *name = "-since=";
  return &Options.sinceFile;
}

PathStr* FileValueSet = nullptr;  // the file option the last token set, else null
int FileKeywordLength = 0;        // the length of that token's keyword
const char* FileOptionName = "";  // that option's name, for messages

// -save=FILE, -from=FILE, -since=FILE: the file as given, letter case kept; an empty value
// drops what an earlier source set.
void ParseSavedScan(const BStr& token, const BStr& upper) {
  PathStr* value = SavedScanOption(upper, &FileKeywordLength, &FileOptionName);
  BStr file = Rest(token, FileKeywordLength);
  BSet(*value, file.text, file.length);
  FileValueSet = value;
}
}  // namespace

void ParseOption(const BStr& token) {
  TokenNamedDirectory = false;
  FileValueSet = nullptr;
  BStr upper = UpperCaseAscii(token);
  switch (Classify(upper)) {
    case Keyword::GraphicChars:
      TreeChars = GraphicTreeChars;
      break;
    case Keyword::PlainChars:
      TreeChars = PlainTreeChars;
      break;
    case Keyword::Sort:
      ParseSortOrder(Rest(upper, 6));
      break;
    case Keyword::NoPaging:
      PagingEnabled = false;
      break;
    case Keyword::Size:
      Options.minSize = ParseSizeValue(Rest(upper, 6));
      break;
    case Keyword::Cluster: {
      int64_t v = ParseSizeValue(Rest(upper, 4));
      if (v > 65536) {
        PagedWriteLine("Invalid cluster size > 64K ignored.");
        Options.clusterSizeOverride = 65536;
      } else {
        Options.clusterSizeOverride = (int32_t)v;
      }
      break;
    }
    case Keyword::Tab:
      Options.outputMode = Tab;
      break;
    case Keyword::Comma:
      Options.outputMode = Comma;
      break;
    case Keyword::Csv:
      Options.outputMode = Csv;
      break;
    case Keyword::Json:
      Options.outputMode = Json;
      break;
    case Keyword::Units:
      ShowUnits = true;
      break;
    case Keyword::Bytes:
      ShowUnits = false;
      break;
    case Keyword::Exclude:
      ParseExclude(token);
      break;
    case Keyword::SavedScan:
      ParseSavedScan(token, upper);
      break;
    case Keyword::NoWaste:
      ShowWaste = false;
      break;
    case Keyword::AsPercent:
      WasteAsPercent = true;
      break;
    case Keyword::AsValue:
      WasteAsPercent = false;
      break;
    case Keyword::Welcome:
      ShowWelcome();
      EndProgram(0);
    case Keyword::Dir:
      Options.dirListingSizes = true;
      ShowWaste = false;
      break;
    case Keyword::Mail:
      PagedWriteLine("Starting mail program");
      LaunchAndExit(BMake(MailUrl));
    case Keyword::Config:
      PagedWriteLine("Starting Quorvel configuration program");
      LaunchAndExit(ConfigTarget(), LaunchToEdit);
    case Keyword::Manual:
      PagedWriteLine("Starting program to display Quorvel user manual.");
      LaunchAndExit(BesideProgram("quorvel.txt"), LaunchToRead);
    case Keyword::Penwick:
      PagedWriteLine("Starting Web browser to show Penwick Software home page.");
      LaunchAndExit(BMake(HomePage));
    case Keyword::None:
      if (!ParseDepthOption(upper)) {
        Options.directory = token;
        TokenNamedDirectory = true;
      }
      break;
  }
}

void ParseArgument(const char* argument) {
  ParseOption(BMake(argument));
  size_t length = std::strlen(argument);
  if (TokenNamedDirectory && length > (size_t)BStrCapacity)
    BSet(Options.directory, argument, length < (size_t)PathBudget ? (int)length : PathBudget);
  // A file named on the command line may be as long as a path; one longer names no file the
  // system can open, and is refused before anything is read or written.
  if (FileValueSet && length > (size_t)BStrCapacity) {
    size_t file = length - (size_t)FileKeywordLength;
    if (file > (size_t)PathBudget) {
      std::string lead = std::string("The file of ") + FileOptionName + " is longer than " +
                         std::to_string(PathBudget) + " bytes";
      WriteRunEndingMessage(lead.c_str(), "", 0, "");
      EndProgram(1);
    }
    BSet(*FileValueSet, argument + FileKeywordLength, (int)file);
  }
}

void TokenizeParameters(const BStr& text, void (*apply)(const BStr& token)) {
  bool quoted = false;
  BStr pending;
  BClear(pending);
  for (int i = 0; i < text.length; ++i) {
    unsigned char c = (unsigned char)text.text[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && (c == ' ' || c == 0x08 || c == 0xFF)) {
      if (pending.length > 0) apply(pending);
      BClear(pending);
    } else {
      BAppendChar(pending, (char)c);
    }
  }
  if (pending.length > 0) apply(pending);
}

namespace {
OutputMode FormSoFar = Screen;  // the form the tokens seen so far choose (ExportRequested)
bool FormScanEnded = false;     // a token that ends the program was seen

void NoteForm(const BStr& token) {
  if (FormScanEnded) return;
  Keyword k = Classify(UpperCaseAscii(token));
  if (k == Keyword::Tab) FormSoFar = Tab;
  if (k == Keyword::Comma) FormSoFar = Comma;
  if (k == Keyword::Csv) FormSoFar = Csv;
  if (k == Keyword::Json) FormSoFar = Json;
  if (EndsProgram(k)) FormScanEnded = true;
}
}  // namespace

bool ExportRequested(int argc, char** argv) {
  FormSoFar = Screen;
  FormScanEnded = false;
  TokenizeParameters(StoredDefaultParams, NoteForm);
  BStr variable;
  if (ReadParameterVariable(&variable)) TokenizeParameters(variable, NoteForm);
  for (int i = 1; i < argc; ++i) NoteForm(BMake(argv[i]));
  return !FormScanEnded && (FormSoFar == Csv || FormSoFar == Json);
}

void ProcessParameters(int argc, char** argv) {
  TokenizeParameters(StoredDefaultParams);
  BStr variable;
  if (ReadParameterVariable(&variable)) TokenizeParameters(variable);
  for (int i = 1; i < argc; ++i) ParseArgument(argv[i]);
  RunDirectory();
}
