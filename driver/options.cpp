#include "driver/options.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "console/console.h"
#include "console/output.h"
#include "console/pager.h"
#include "console/strings.h"
#include "disk/stored_defaults.h"
#include "driver/report_forms.h"
#include "driver/run.h"
#include "driver/system.h"
#include "driver/texts.h"
#include "mailer/contact.h"
#include "mailer/shell_open.h"
#include "report/screen_report.h"
#include "tree/top_list.h"

const RunOptions DefaultOptions = {255, 0, Screen, 0, false, {1, {'.', 0}}, NAME, {}, {}, {}, {}};
RunOptions Options = DefaultOptions;

intptr_t (*Launcher)(const BStr& file, const BStr& parameters, const BStr& directory,
                     int32_t showCommand) = ShellOpen;
bool (*TerminalLauncher)(LaunchKind kind, const BStr& target) = OpenInTerminal;

namespace {
bool Whole(const BStr& upper, const char* keyword) {
  return BEquals(upper, keyword);
}

bool BeginsWith(const BStr& upper, const char* keyword) {
  int n = (int)std::strlen(keyword);
  return upper.length >= n && std::memcmp(upper.text, keyword, n) == 0;
}

// The token from byte index `from` on.
BStr Rest(const BStr& upper, int from) {
  return BMake(upper.text + from, upper.length > from ? upper.length - from : 0);
}

// The order an upper-cased name of -sort= stands for; false for a name of none.
bool SortOrderNamed(const BStr& name, SortOrder* order) {
  // The help screen offers "size" for the order by total size.
  if (BEquals(name, BMake("SIZE"))) {
    *order = TOTAL;
    return true;
  }
  for (int i = 0; i < SortOrderCount; ++i) {
    if (BEquals(name, SortOrderName((SortOrder)i))) {
      *order = (SortOrder)i;
      return true;
    }
  }
  return false;
}

void ParseSortOrder(const BStr& name) {
  if (SortOrderNamed(name, &Options.sortOrder)) return;
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

namespace {
// ParseDepthOption on text[0..n) without setting anything: digits and signs have no letter
// case, so the token as given serves, at any length.
bool ReadDepth(const char* text, size_t n, unsigned char* depth) {
  if (n < 2 || text[0] != '-') return false;
  size_t i = 1;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  if (i >= n) return false;
  // Only the low 8 bits count, so they are kept as the digits arrive: a number of any length
  // gives the low 8 bits of the value it denotes.
  unsigned low = 0;
  for (; i < n; ++i) {
    if (!IsDigit(text[i])) return false;
    low = (low * 10 + (unsigned)(text[i] - '0')) & 0xFF;
  }
  if (negative) low = (256 - low) & 0xFF;
  *depth = low == 0 ? 255 : (unsigned char)low;
  return true;
}

// The levels of du's spellings, --max-depth=N and -d N, from text[from..length): a whole
// number from 1 up, taken as it stands (never its low 8 bits); 255 and more is no limit, as
// deeper levels than 254 are shown anyway.
bool ReadLevels(const char* text, size_t length, size_t from, unsigned char* depth) {
  if (from >= length) return false;
  unsigned n = 0;
  for (size_t i = from; i < length; ++i) {
    if (!IsDigit(text[i])) return false;
    if (n < 255) n = n * 10 + (unsigned)(text[i] - '0');
  }
  if (n == 0) return false;
  *depth = n >= 255 ? 255 : (unsigned char)n;
  return true;
}

// du's -d with its number in the same word (-d1): "-d" and digits only.
bool IsShortDepth(const char* text, size_t length) {
  if (length < 3 || text[0] != '-' || (text[1] != 'd' && text[1] != 'D')) return false;
  for (size_t i = 2; i < length; ++i)
    if (!IsDigit(text[i])) return false;
  return true;
}
}  // namespace

bool ParseDepthOption(const BStr& upper) {
  return ReadDepth(upper.text, (size_t)upper.length, &Options.maxDepth);
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
// The value of -top=N, from token[from..length): a whole number from 1 to MostTopEntries;
// nothing after the keyword (0) drops the lists an earlier source asked for. False for anything
// else, which is refused (RefuseIfMisleading): a list of another length than asked for would
// pass for the one asked for.
bool ReadTop(const char* token, size_t length, size_t from, int* count) {
  long n = 0;
  size_t i = from;
  for (; i < length && IsDigit(token[i]) && n <= MostTopEntries; ++i) n = n * 10 + (token[i] - '0');
  if (i != length || (from != length && (n < 1 || n > MostTopEntries))) return false;
  *count = (int)n;
  return true;
}

// What a keyword's value is, and so how the token is checked before it is applied.
enum class Value {
  None,      // a flag: nothing after the keyword counts
  SortName,  // -sort=NAME: an order's name (a name of none is said, not refused)
  Size,      // a byte count with an optional K, M or G (ParseSizeValue)
  Count,     // -top=N: a whole number from 1 to MostTopEntries, or nothing (ReadTop)
  Levels,    // a whole number of levels from 1 up (ReadLevels)
  Path,      // a file or a pattern, as given: PathBudget bytes after the keyword
};

// How a token matches a row: the whole token is the keyword; the token begins with it; or the
// keyword ends in '=' or ':' and the value follows it (written without its '=', the token
// takes the next one as its value: BareValueOption).
enum class Match { Exact, Prefix, WithValue };

// The form a row selects for the report, and whether that form is an export: written alone
// on standard output, without banner, title or form feed.
struct FormChoice {
  bool selects;
  OutputMode mode;
  bool isExport;
};
const FormChoice NoForm = {false, Screen, false};
constexpr FormChoice Form(OutputMode mode, bool isExport) {
  return {true, mode, isExport};
}

struct KeywordRow;
// A keyword's effect. value[0..valueLength) is the token after its keyword as given,
// upperValue the same upper-cased; the token fits its option (RefuseIfTooLong).
using Handler = void (*)(const KeywordRow& row, const char* value, size_t valueLength,
                         const BStr& upperValue);

// One option's whole rule.
struct KeywordRow {
  const char* keyword;  // upper-cased
  Match match;
  Value value;
  bool endsRun;  // ends the program before the tokens after it are applied
  FormChoice form;
  Handler apply;
  // The saved-scan options: the file the value names; and for -save=, that "-" makes standard
  // output the dump's, as an export makes it the report's.
  PathStr RunOptions::*file;
  bool dashIsStandardOutput;
};

void TakeForm(const KeywordRow& row, const char*, size_t, const BStr&) {
  Options.outputMode = row.form.mode;
}
void TakeGraphicChars(const KeywordRow&, const char*, size_t, const BStr&) {
  SetTreeChars(GraphicTreeChars);
}
void TakePlainChars(const KeywordRow&, const char*, size_t, const BStr&) {
  SetTreeChars(PlainTreeChars);
}
void TakeNoPaging(const KeywordRow&, const char*, size_t, const BStr&) {
  SetPaging(false);
}
void TakeUnits(const KeywordRow&, const char*, size_t, const BStr&) {
  SetShowUnits(true);
}
void TakeBytes(const KeywordRow&, const char*, size_t, const BStr&) {
  SetShowUnits(false);
}
void TakeNoWaste(const KeywordRow&, const char*, size_t, const BStr&) {
  SetShowWaste(false);
}
void TakeAsPercent(const KeywordRow&, const char*, size_t, const BStr&) {
  SetWasteAsPercent(true);
}
void TakeAsValue(const KeywordRow&, const char*, size_t, const BStr&) {
  SetWasteAsPercent(false);
}
void TakeDirListing(const KeywordRow&, const char*, size_t, const BStr&) {
  Options.dirListingSizes = true;
  SetShowWaste(false);
}
void TakeSort(const KeywordRow&, const char*, size_t, const BStr& upperValue) {
  ParseSortOrder(upperValue);
}
void TakeMinSize(const KeywordRow&, const char*, size_t, const BStr& upperValue) {
  Options.minSize = ParseSizeValue(upperValue);
}
void TakeBrowse(const KeywordRow&, const char*, size_t, const BStr&) {
  Options.browse = true;
}
void TakeNoDelete(const KeywordRow&, const char*, size_t, const BStr&) {
  Options.noDelete = true;
}
void TakeChanged(const KeywordRow&, const char*, size_t, const BStr&) {
  Options.changedOnly = true;
}
void TakeCluster(const KeywordRow&, const char*, size_t, const BStr& upperValue) {
  int64_t v = ParseSizeValue(upperValue);
  if (v > 65536) {
    PagedWriteLine("Invalid cluster size > 64K ignored.");
    Options.clusterSizeOverride = 65536;
  } else {
    Options.clusterSizeOverride = (int32_t)v;
  }
}
// The pattern of an -exclude token, as given (patterns keep their letter case). An empty
// pattern drops the patterns given before it, so that a command line can undo the stored ones.
void TakeExclude(const KeywordRow&, const char* value, size_t length, const BStr&) {
  if (length == 0)
    Options.excludes.clear();
  else
    Options.excludes.push_back(PMake(value, (int)length));
}
// The file as given, letter case kept; an empty value drops what an earlier source set.
void TakeSavedScan(const KeywordRow& row, const char* value, size_t length, const BStr&) {
  Options.*row.file = PMake(value, (int)length);
}
void TakeTop(const KeywordRow&, const char* value, size_t length, const BStr&) {
  ReadTop(value, length, 0, &Options.topCount);
}
void TakeLevels(const KeywordRow&, const char* value, size_t length, const BStr&) {
  ReadLevels(value, length, 0, &Options.maxDepth);
}
void TakeWelcome(const KeywordRow&, const char*, size_t, const BStr&) {
  ShowWelcome();
  EndProgram(0);
}
void TakeMail(const KeywordRow&, const char*, size_t, const BStr&) {
  PagedWriteLine("Starting mail program");
  LaunchAndExit(BMake(MailUrl));
}
void TakeConfig(const KeywordRow&, const char*, size_t, const BStr&) {
  PagedWriteLine("Starting Quorvel configuration program");
  LaunchAndExit(ConfigTarget(), LaunchToEdit);
}
void TakeManual(const KeywordRow&, const char*, size_t, const BStr&) {
  PagedWriteLine("Starting program to display Quorvel user manual.");
  LaunchAndExit(BesideProgram("quorvel.txt"), LaunchToRead);
}
void TakePenwick(const KeywordRow&, const char*, size_t, const BStr&) {
  PagedWriteLine("Starting Web browser to show Penwick Software home page.");
  LaunchAndExit(BMake(HomePage));
}

const Match Exact = Match::Exact, Prefix = Match::Prefix, WithValue = Match::WithValue;
const bool Ends = true, Goes = false;

// Compared in this order, the first that matches counts: a token such as -TABLE is -TAB, and
// any token that begins with -W shows the welcome screen. The options of exports, units and
// exclusions are whole words, so that a directory called, say, -jsonfiles can still be named.
// Every value option takes ':' for '=' (-sort:size).
const KeywordRow Keywords[] = {
    {"-C+", Exact, Value::None, Goes, NoForm, TakeGraphicChars, nullptr, false},
    {"-C-", Exact, Value::None, Goes, NoForm, TakePlainChars, nullptr, false},
    {"-SORT=", WithValue, Value::SortName, Goes, NoForm, TakeSort, nullptr, false},
    {"-P", Exact, Value::None, Goes, NoForm, TakeNoPaging, nullptr, false},
    {"-SIZE=", WithValue, Value::Size, Goes, NoForm, TakeMinSize, nullptr, false},
    {"-SIZE:", WithValue, Value::Size, Goes, NoForm, TakeMinSize, nullptr, false},
    {"-CL=", WithValue, Value::Size, Goes, NoForm, TakeCluster, nullptr, false},
    {"-CL:", WithValue, Value::Size, Goes, NoForm, TakeCluster, nullptr, false},
    {"-TAB", Prefix, Value::None, Goes, Form(Tab, false), TakeForm, nullptr, false},
    {"-COMMA", Prefix, Value::None, Goes, Form(Comma, false), TakeForm, nullptr, false},
    {"-CSV", Exact, Value::None, Goes, Form(Csv, true), TakeForm, nullptr, false},
    {"-JSON", Exact, Value::None, Goes, Form(Json, true), TakeForm, nullptr, false},
    {"-UNITS", Exact, Value::None, Goes, NoForm, TakeUnits, nullptr, false},
    {"-BYTES", Exact, Value::None, Goes, NoForm, TakeBytes, nullptr, false},
    {"-EXCLUDE=", WithValue, Value::Path, Goes, NoForm, TakeExclude, nullptr, false},
    {"-EXCLUDE:", WithValue, Value::Path, Goes, NoForm, TakeExclude, nullptr, false},
    {"-SAVE=", WithValue, Value::Path, Goes, NoForm, TakeSavedScan, &RunOptions::saveFile, true},
    {"-SAVE:", WithValue, Value::Path, Goes, NoForm, TakeSavedScan, &RunOptions::saveFile, true},
    {"-FROM=", WithValue, Value::Path, Goes, NoForm, TakeSavedScan, &RunOptions::fromFile, false},
    {"-FROM:", WithValue, Value::Path, Goes, NoForm, TakeSavedScan, &RunOptions::fromFile, false},
    {"-SINCE=", WithValue, Value::Path, Goes, NoForm, TakeSavedScan, &RunOptions::sinceFile, false},
    {"-SINCE:", WithValue, Value::Path, Goes, NoForm, TakeSavedScan, &RunOptions::sinceFile, false},
    {"-NOWASTE", Prefix, Value::None, Goes, NoForm, TakeNoWaste, nullptr, false},
    {"-ASPER", Prefix, Value::None, Goes, NoForm, TakeAsPercent, nullptr, false},
    {"-ASVAL", Prefix, Value::None, Goes, NoForm, TakeAsValue, nullptr, false},
    {"-W", Prefix, Value::None, Ends, NoForm, TakeWelcome, nullptr, false},
    {"-DIR", Prefix, Value::None, Goes, NoForm, TakeDirListing, nullptr, false},
    {"-MAIL", Prefix, Value::None, Ends, NoForm, TakeMail, nullptr, false},
    {"-CONFIG", Prefix, Value::None, Ends, NoForm, TakeConfig, nullptr, false},
    {"-MANUAL", Prefix, Value::None, Ends, NoForm, TakeManual, nullptr, false},
    {"-PENWICK", Prefix, Value::None, Ends, NoForm, TakePenwick, nullptr, false},
    {"--EXCLUDE=", WithValue, Value::Path, Goes, NoForm, TakeExclude, nullptr, false},
    {"-HTML", Exact, Value::None, Goes, Form(Html, true), TakeForm, nullptr, false},
    {"-TOP=", WithValue, Value::Count, Goes, NoForm, TakeTop, nullptr, false},
    {"-TOP:", WithValue, Value::Count, Goes, NoForm, TakeTop, nullptr, false},
    {"-SORT:", WithValue, Value::SortName, Goes, NoForm, TakeSort, nullptr, false},
    {"--EXCLUDE:", WithValue, Value::Path, Goes, NoForm, TakeExclude, nullptr, false},
    // The depth as du's users type it (--max-depth=N, -d N), beside -N.
    {"--MAX-DEPTH=", WithValue, Value::Levels, Goes, NoForm, TakeLevels, nullptr, false},
    {"--MAX-DEPTH:", WithValue, Value::Levels, Goes, NoForm, TakeLevels, nullptr, false},
    {"-D=", WithValue, Value::Levels, Goes, NoForm, TakeLevels, nullptr, false},
    {"-D:", WithValue, Value::Levels, Goes, NoForm, TakeLevels, nullptr, false},
    {"-EXCEL", Exact, Value::None, Goes, Form(Excel, true), TakeForm, nullptr, false},
    {"-BROWSE", Exact, Value::None, Goes, NoForm, TakeBrowse, nullptr, false},
    {"-NODELETE", Exact, Value::None, Goes, NoForm, TakeNoDelete, nullptr, false},
    {"-CHANGED", Exact, Value::None, Goes, NoForm, TakeChanged, nullptr, false},
};

// The row a token's upper-cased first 255 bytes match, or null. Every keyword is far shorter
// than 255 bytes, so those bytes decide.
const KeywordRow* FindKeyword(const BStr& upper) {
  for (const KeywordRow& row : Keywords)
    if (row.match == Match::Exact ? Whole(upper, row.keyword) : BeginsWith(upper, row.keyword))
      return &row;
  return nullptr;
}

// The upper-cased copy of a token that keywords are compared with: its first 255 bytes.
BStr UpperHead(const char* text, size_t length) {
  return UpperCaseAscii(BMake(text, length < (size_t)BStrCapacity ? (int)length : BStrCapacity));
}

// The source of the tokens being applied or checked, as a refusal names it after the token:
// the user who typed only a directory must learn where the refused word is. Empty for the
// command line, and for a token handed over alone.
const char* TokenSource = "";

// Ends the program when a keyword's token is longer than its option holds: a value cut to fit
// would be another value (a pattern cut short matches other names, a file name names another
// file), so nothing is applied and nothing is scanned. A value that names a file or a pattern
// may hold PathBudget bytes after the keyword; every other token at most 255 bytes, keyword
// and value together.
void RefuseIfTooLong(const KeywordRow& row, size_t length) {
  bool pathValue = row.value == Value::Path;
  size_t keywordLength = std::strlen(row.keyword);
  size_t room = pathValue ? keywordLength + (size_t)PathBudget : (size_t)BStrCapacity;
  if (length <= room) return;
  std::string name = row.keyword;
  for (char& c : name) c = (char)std::tolower((unsigned char)c);
  char tail[80];
  std::snprintf(tail, sizeof tail, " is too long (%lu bytes, at most %lu)",
                (unsigned long)(pathValue ? length - keywordLength : length),
                (unsigned long)(pathValue ? (size_t)PathBudget : room));
  WriteErrorLine(pathValue ? "the value of " : "the option ", name.data(), (int)name.size(),
                 (TokenSource + std::string(tail)).c_str());
  EndProgram(1);
}

// The value option a token is without its '=' (-top, --exclude, -save, -d), as the row of its
// KEY= spelling; null for any other token. Such a token takes the next one as its value
// (JoinValue); a flag such as -p or -tab never does.
const KeywordRow* BareValueOption(const BStr& upper) {
  if (upper.length < 2 || upper.length >= BStrCapacity) return nullptr;
  BStr spelled = upper;
  BAppendChar(spelled, '=');
  const KeywordRow* row = FindKeyword(spelled);
  return row && row->match == Match::WithValue && (int)std::strlen(row->keyword) == spelled.length
             ? row
             : nullptr;
}

// Whether a token that is neither an option nor a depth is an unknown option: it begins with
// "-" and names no existing directory. "-" alone and "-?" are directories, as they always were
// (a help request is only ever the first argument); any other directory whose name looks like
// an option is reached as ./-x. Past PathBudget bytes it is a path that the run refuses as
// too long.
bool UnknownOption(const char* text, size_t length) {
  if (length < 2 || text[0] != '-' || (length == 2 && text[1] == '?')) return false;
  return length <= (size_t)PathBudget && !DirectoryExists(PMake(text, (int)length));
}

[[noreturn]] void RefuseToken(const char* lead, const char* text, size_t length, const char* tail) {
  WriteErrorLine(lead, text, (int)length, (TokenSource + std::string(tail)).c_str());
  EndProgram(1);
}

const char NotLevels[] = " is not a number of levels from 1 up";

// Ends the program with one line on standard error and code 1 for a token that would mislead
// if it were applied: one longer than its option holds, a value its option cannot take, a
// value option without a value, or an unknown option (a mistyped one, or one of another
// program's, such as du's -x, would have named a directory and let the run go on without it).
// row: the keyword row the token matches, if any. Changes nothing.
void RefuseIfMisleading(const char* text, size_t length, const BStr& upper,
                        const KeywordRow* row) {
  unsigned char depth;
  if (row) {
    RefuseIfTooLong(*row, length);
    size_t from = std::strlen(row->keyword);
    int count;
    if (row->value == Value::Count && !ReadTop(text, length, from, &count)) {
      char tail[48];
      std::snprintf(tail, sizeof tail, " is not a number from 1 to %d", MostTopEntries);
      RefuseToken("", text, length, tail);
    }
    if (row->value == Value::Levels && !ReadLevels(text, length, from, &depth))
      RefuseToken("", text, length, NotLevels);
    return;
  }
  if (BareValueOption(upper)) RefuseToken("", text, length, " needs a value");
  if (IsShortDepth(text, length)) {
    if (!ReadLevels(text, length, 2, &depth)) RefuseToken("", text, length, NotLevels);
  } else if (!ReadDepth(text, length, &depth) && UnknownOption(text, length)) {
    RefuseToken("unknown option ", text, length, " (quorvel -? lists them)");
  }
}

// A token that is no option and no depth: the directory to report, replacing any before. A
// token of more than PathBudget bytes is kept as far as it goes and marked, so that the run
// refuses it instead of reporting what a cut would name.
void NameDirectory(const char* text, size_t length) {
  Options.directoryTooLong = length > (size_t)PathBudget;
  Options.directory = PMake(text, length < (size_t)PathCapacity ? (int)length : PathCapacity);
}

// Applies the token text[0..length), whose upper-cased head matches row (null: none): the one
// routine behind ParseOption, ParseArgument and ProcessParameters.
void ApplyMatched(const char* text, size_t length, const BStr& upper, const KeywordRow* row) {
  RefuseIfMisleading(text, length, upper, row);
  if (row) {
    // The token fits its option, so upper holds all of it unless its value names a path,
    // which is taken from text as given.
    size_t from = std::strlen(row->keyword);
    row->apply(*row, text + from, length - from, Rest(upper, (int)from));
    return;
  }
  unsigned char depth;
  if (ReadDepth(text, length, &depth) ||
      (IsShortDepth(text, length) && ReadLevels(text, length, 2, &depth)))
    Options.maxDepth = depth;
  else
    NameDirectory(text, length);
}

void ApplyToken(const char* text, size_t length) {
  BStr upper = UpperHead(text, length);
  ApplyMatched(text, length, upper, FindKeyword(upper));
}

// Whether the token text[0..length) is neither an option nor a depth, and so would name the
// directory. Changes nothing.
bool WouldNameDirectory(const char* text, size_t length) {
  BStr upper = UpperHead(text, length);
  if (FindKeyword(upper) || BareValueOption(upper) || IsShortDepth(text, length)) return false;
  unsigned char depth;
  return !ReadDepth(text, length, &depth);
}

// Hands each argument that one command-line argument stands for to apply: the argument whole,
// or, with strayQuotes, the pieces of one the C runtime split as the user did not mean (see
// ParseArgument).
void SplitArgument(const char* argument, bool strayQuotes,
                   void (*apply)(const char* text, size_t length)) {
  size_t length = std::strlen(argument);
  const char* quote = strayQuotes ? std::strchr(argument, '"') : nullptr;
  if (!quote || (quote[1] != 0 && quote[1] != ' ') ||
      !WouldNameDirectory(argument, (size_t)(quote - argument))) {
    apply(argument, length);
    return;
  }
  std::string piece(argument, quote);
  piece += '\\';
  apply(piece.data(), piece.size());
  // The rest was inside the quotes the runtime still counted as open: blanks separate its
  // words, and a quote in it only groups.
  bool quoted = false;
  piece.clear();
  for (const char* p = quote + 1;; ++p) {
    if (*p == 0 || (*p == ' ' && !quoted)) {
      if (!piece.empty()) apply(piece.data(), piece.size());
      piece.clear();
      if (*p == 0) break;
    } else if (*p == '"') {
      quoted = !quoted;
    } else {
      piece += *p;
    }
  }
}
}  // namespace

void ParseOption(const ParamStr& token) {
  TokenSource = "";
  ApplyToken(token.text, (size_t)token.length);
}

void ParseArgument(const char* argument, bool strayQuotes) {
  TokenSource = "";
  SplitArgument(argument, strayQuotes, ApplyToken);
}

int ParseThreadCount(const char* value) {
  if (value == nullptr || value[0] == 0) return 0;
  long n = 0;
  const char* p = value;
  for (; IsDigit(*p) && n <= 256; ++p) n = n * 10 + (*p - '0');
  if (*p == 0 && n >= 1 && n <= 256) return (int)n;
  WriteErrorLine("QUORVEL_THREADS=", value, (int)std::strlen(value),
                 " is not a number from 1 to 256; the default is used");
  return 0;
}

void TokenizeParameters(const ParamStr& text, void (*apply)(const ParamStr& token)) {
  bool quoted = false;
  // option: a value option written without its '=', waiting for its value (see JoinValue).
  ParamStr pending, option;
  BClear(pending);
  BClear(option);
  auto emit = [&]() {
    if (pending.length == 0) return;
    if (option.length > 0) {
      // Never longer than the text: the '=' stands where a separator stood.
      BAppendChar(option, '=');
      BAppend(option, pending);
      BClear(pending);
      ParamStr token = option;
      BClear(option);
      apply(token);
      return;
    }
    if (BareValueOption(UpperHead(pending.text, (size_t)pending.length)))
      option = pending;
    else
      apply(pending);
    BClear(pending);
  };
  for (int i = 0; i < text.length; ++i) {
    unsigned char c = (unsigned char)text.text[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && (c == ' ' || c == 0x08 || c == 0xFF)) {
      emit();
    } else {
      BAppendChar(pending, (char)c);
    }
  }
  emit();
  // A value option that ends the text has no value: handed on alone, it is refused.
  if (option.length > 0) apply(option);
}

namespace {
// A value option written without its '=' takes the token after it as its value, whatever that
// holds, as GNU tools take it: --exclude node_modules, -top 5, -save FILE. The two are handed
// on as the one token KEY=VALUE; a value option that ends its source is handed on alone, and
// refused there. A value never comes from the next source. (TokenizeParameters joins the
// tokens of a string the same way.)
struct ValueJoin {
  void (*apply)(const char* text, size_t length);
  std::string option;  // the value option waiting for its value, as given; empty: none
};
ValueJoin Joining;

void JoinValue(const char* text, size_t length) {
  if (!Joining.option.empty()) {
    std::string token = Joining.option + '=' + std::string(text, length);
    Joining.option.clear();
    Joining.apply(token.data(), token.size());
  } else if (BareValueOption(UpperHead(text, length))) {
    Joining.option.assign(text, length);
  } else {
    Joining.apply(text, length);
  }
}

// Hands every token of the command-line arguments to apply in order, joined as JoinValue joins
// them.
void WalkArguments(int argc, char** argv, void (*apply)(const char* text, size_t length)) {
  Joining = ValueJoin{apply, {}};
  for (int i = 1; i < argc; ++i) SplitArgument(argv[i], ArgumentQuotesAreStray, JoinValue);
  if (Joining.option.empty()) return;
  std::string alone;
  alone.swap(Joining.option);
  apply(alone.data(), alone.size());
}

// One token of the three sources, read once: its text as given, the source a refusal names,
// the keyword row it matches (null: a depth or the directory) and where its value begins.
struct ParameterToken {
  std::string text;
  const char* source;
  const KeywordRow* row;
  BStr upper;  // its upper-cased first 255 bytes, as keywords are compared with
};

// The three sources, split into tokens once, in the order they are applied.
struct ParsedParameters {
  bool storedTooLong = false, variableTooLong = false;
  std::vector<ParameterToken> tokens;
};

ParsedParameters* Filling = nullptr;  // the list ReadSources is filling
const char* FillingSource = "";

void AddToken(const char* text, size_t length) {
  ParameterToken token{std::string(text, length), FillingSource, nullptr, UpperHead(text, length)};
  token.row = FindKeyword(token.upper);
  Filling->tokens.push_back(token);
}

void AddSourceToken(const ParamStr& token) {
  AddToken(token.text, (size_t)token.length);
}

const char StoredSource[] = " in the stored default parameters";
const char VariableSource[] = " in the variable QUORVEL";

// Reads the stored string, the environment variable and the command-line arguments, each once,
// and splits them into tokens (a value option without its '=' joined to the token after it).
// Applies nothing and writes nothing.
ParsedParameters ReadSources(int argc, char** argv) {
  ParsedParameters parsed;
  ParamStr variable;
  bool haveVariable = ReadParameterVariable(&variable, &parsed.variableTooLong);
  parsed.storedTooLong = StoredDefaultsTooLong;
  Filling = &parsed;
  FillingSource = StoredSource;
  TokenizeParameters(StoredDefaultParams, AddSourceToken);
  FillingSource = VariableSource;
  if (haveVariable) TokenizeParameters(variable, AddSourceToken);
  FillingSource = "";
  WalkArguments(argc, argv, AddToken);
  Filling = nullptr;
  return parsed;
}

// Ends the program for a parameter source longer than ParamCapacity, before any token of any
// source is applied: cut to fit, its last token would be another one.
void RefuseLongSources(const ParsedParameters& parsed) {
  const char* source = parsed.storedTooLong     ? "the stored default parameters are"
                       : parsed.variableTooLong ? "the variable QUORVEL is"
                                                : nullptr;
  if (!source) return;
  char tail[64];
  std::snprintf(tail, sizeof tail, " longer than %d bytes", ParamCapacity);
  WriteErrorLine(source, "", 0, tail);
  EndProgram(1);
}

// The growth and change orders, and -changed, need a saved scan to tell the changes from;
// without one they would pass for the order by name and the whole tree.
void RefuseGrowthWithoutSince(SortOrder order, bool changedOnly, bool since) {
  if (since) return;
  if (order == GROWTH)
    WriteErrorLine("-sort=growth needs -since=FILE, the saved scan to count the growth from", "",
                   0, "");
  else if (order == CHANGE)
    WriteErrorLine("-sort=change needs -since=FILE, the saved scan to count the changes from", "",
                   0, "");
  else if (changedOnly)
    WriteErrorLine("-changed needs -since=FILE, the saved scan to tell the changes from", "", 0,
                   "");
  else
    return;
  EndProgram(1);
}

// The browser draws on the terminal: -browse is refused, with one line, when standard output
// is none, or when the run is an export (or the dump on standard output).
void RefuseBrowserWithoutTerminal(bool browse, bool exported) {
  if (!browse) return;
  if (OutputRedirected || !OutputIsTerminal)
    WriteErrorLine("-browse needs a terminal; standard output is not one", "", 0, "");
  else if (exported)
    WriteErrorLine("-browse shows the tree on the terminal; it makes no export", "", 0, "");
  else
    return;
  EndProgram(1);
}

bool ChoosesExport(const ParsedParameters& parsed);

// Refuses what ProcessParameters would refuse, following the tokens up to one that ends the
// program. Applies nothing.
void Check(const ParsedParameters& parsed) {
  RefuseLongSources(parsed);
  SortOrder order = DefaultOptions.sortOrder;
  bool since = false, browse = false, changedOnly = false;
  for (const ParameterToken& token : parsed.tokens) {
    TokenSource = token.source;
    RefuseIfMisleading(token.text.data(), token.text.size(), token.upper, token.row);
    const KeywordRow* row = token.row;
    if (!row) continue;
    size_t from = std::strlen(row->keyword);
    browse = browse || row->apply == TakeBrowse;
    changedOnly = changedOnly || row->apply == TakeChanged;
    if (row->value == Value::SortName) SortOrderNamed(Rest(token.upper, (int)from), &order);
    if (row->file == &RunOptions::sinceFile) since = token.text.size() > from;
    if (row->endsRun) {
      TokenSource = "";
      return;
    }
  }
  TokenSource = "";
  RefuseGrowthWithoutSince(order, changedOnly, since);
  RefuseBrowserWithoutTerminal(browse, ChoosesExport(parsed));
}

// Whether the tokens choose an export or the dump on standard output (ExportRequested).
bool ChoosesExport(const ParsedParameters& parsed) {
  bool exported = false, dump = false;
  for (const ParameterToken& token : parsed.tokens) {
    const KeywordRow* row = token.row;
    if (!row) continue;
    if (row->endsRun) return false;
    if (row->form.selects) exported = row->form.isExport;
    if (row->dashIsStandardOutput) dump = token.text.size() == std::strlen(row->keyword) + 1 &&
                                          token.text.back() == '-';
  }
  return exported || dump;
}

// The sources as the banner step read them (PrepareParameters), for ProcessParameters to apply.
ParsedParameters Prepared;
bool HavePrepared = false;
}  // namespace

bool ExportRequested(int argc, char** argv) {
  return ChoosesExport(ReadSources(argc, argv));
}

void CheckParameters(int argc, char** argv) {
  Check(ReadSources(argc, argv));
}

bool PrepareParameters(int argc, char** argv) {
  HavePrepared = false;
  ParsedParameters parsed = ReadSources(argc, argv);
  Check(parsed);
  Prepared = std::move(parsed);
  HavePrepared = true;
  return ChoosesExport(Prepared);
}

void ProcessParameters(int argc, char** argv) {
  ParsedParameters parsed = HavePrepared ? std::move(Prepared) : ReadSources(argc, argv);
  HavePrepared = false;
  RefuseLongSources(parsed);
  for (const ParameterToken& token : parsed.tokens) {
    TokenSource = token.source;
    ApplyMatched(token.text.data(), token.text.size(), token.upper, token.row);
  }
  TokenSource = "";
  RefuseGrowthWithoutSince(Options.sortOrder, Options.changedOnly, Options.sinceFile.length > 0);
  RefuseBrowserWithoutTerminal(Options.browse, FormOf(Options.outputMode).isExport ||
                                                   BEquals(Options.saveFile, "-"));
  Options.readAheadThreads = ParseThreadCount(std::getenv("QUORVEL_THREADS"));
  RunDirectory();
}

void SetOptions(const RunOptions& options) {
  Options = options;
}
