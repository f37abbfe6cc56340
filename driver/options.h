// The settings of one run and the parameter sources that set them: the stored string, the
// environment variable and the command-line arguments, applied token by token in that order.
#pragma once

#include <cstdint>
#include <vector>

#include "console/bounded_string.h"
#include "driver/run_record.h"
#include "driver/system.h"

// The one instance, holding its defaults until options change it. Written by this module
// alone: by the parser as it applies tokens, and by SetOptions.
extern RunOptions Options;
// The defaults Options starts with.
extern const RunOptions DefaultOptions;

// Reads the stored string, the environment variable and the command-line arguments in that
// order, applies every token, then runs the report once. -sort=growth without -since= is
// refused there (one line on standard error, code 1): it would pass for the order by name.
// Applies the tokens PrepareParameters kept when it ran before, else reads the sources itself.
void ProcessParameters(int argc, char** argv);

// Reads the three sources once, splits them into tokens and refuses ahead of the run what
// CheckParameters refuses; keeps the tokens for ProcessParameters, which applies them without
// reading any source again. Returns whether they choose an export or the dump on standard
// output (ExportRequested). Called by the banner step, before anything is written.
bool PrepareParameters(int argc, char** argv);

// Replaces the options whole: the configuration program's way to restore what it tried.
void SetOptions(const RunOptions& options);

// Refuses ahead of the run, before anything is written for it, every token of the three
// sources that ProcessParameters would refuse (ParseOption), and -sort=growth without -since=,
// each with the line and the code 1 it would end the program with there: so a refused run
// writes nothing on standard output. Follows the tokens as they will be applied, in order, up
// to one that ends the program (the welcome screen, a launch), after which none is applied.
// Applies nothing.
void CheckParameters(int argc, char** argv);

// Whether the tokens of the three sources choose an export (-csv, -json or -html) as the report's
// form, or the dump on standard output (-save=-), as parsing them will: the last form option
// wins, and a token that ends the program before the report (the welcome screen, a launch)
// means there will be none. Asked before the banner, which an export leaves out. Parses
// nothing else and writes nothing.
bool ExportRequested(int argc, char** argv);

// Applies one token: sets an option or a display switch, writes a message, or ends the program
// (the welcome screen and the launch options). A token that is no option names the directory.
// These end the program with one line on standard error and code 1, applying nothing:
// - a token that begins with "-" and is no option, unless it is "-" alone, "-?" or the name of
//   an existing directory ("quorvel: unknown option TOKEN (quorvel -? lists them)");
// - a value option without its value (-top alone: "quorvel: -top needs a value");
// - a token longer than its option holds (255 bytes; for a value that names a file or a
//   pattern, such as -exclude=, PathBudget bytes after the keyword): nothing is cut;
// - a value its option cannot take (-top=, --max-depth=).
// Every value option takes ':' for '=' (-sort:size). The sources join a value option written
// without its '=' to the token after it (TokenizeParameters, ProcessParameters).
void ParseOption(const ParamStr& token);

// Applies one command-line argument, whole, as ParseOption applies a token. With strayQuotes
// (the Windows build: names there never hold a double quote), an argument that would name the
// directory and has a '"' at its end, or before a blank, is read as it was typed: the C
// runtime takes the backslash before a closing quote ("C:\Program Files\") as an escape and
// hands over C:\Program Files" (and "C:\A\" -2 as C:\A" -2). The quote is then the backslash
// again, and what follows it is split at blanks into further arguments.
void ParseArgument(const char* argument, bool strayQuotes = ArgumentQuotesAreStray);

// Splits a parameter string into tokens at blanks, backspaces and 0xFF bytes outside double
// quotes (the quotes are dropped; a token is never longer than the text) and hands each to
// apply. A value option written without its '=' (-top, -exclude, -save, -d, ...) and the token
// after it are handed on as one token, KEY=VALUE, as GNU tools take "-top 5"; one that ends
// the text is handed on alone.
void TokenizeParameters(const ParamStr& text, void (*apply)(const ParamStr& token) = ParseOption);

// The reading threads a QUORVEL_THREADS value asks for: a whole number from 1 to 256. 0 (the
// build's default) when value is null or empty, and for anything else, which is also said
// once on standard error.
int ParseThreadCount(const char* value);

// For an upper-cased token "-" followed by a whole number: sets maxDepth to the number's low
// 8 bits (0 there gives 255) and returns true. False for anything else.
bool ParseDepthOption(const BStr& upper);

// The byte count an upper-cased size text denotes: a decimal number, optionally with a K, M or
// G suffix, rounded half to even before the suffix multiplies it. Never negative: the absolute
// value, at most INT64_MAX. Text that is no number gives the value of its leading number part
// (0 when there is none), without the suffix.
int64_t ParseSizeValue(const BStr& upper);

// Opens target in the user's terminal program for its kind when there is one (see
// OpenInTerminal), else hands it to the shell with no parameters and no working directory;
// then ends the program with code 0. When neither could start it: "Could not start " and the
// target as a message (copied to the error output when standard output is not a terminal),
// and exit code 1.
[[noreturn]] void LaunchAndExit(const BStr& target, LaunchKind kind = LaunchToShell);

// The routine LaunchAndExit hands its target to: ShellOpen, replaced by tests.
extern intptr_t (*Launcher)(const BStr& file, const BStr& parameters, const BStr& directory,
                            int32_t showCommand);
// The routine LaunchAndExit tries first: OpenInTerminal, replaced by tests.
extern bool (*TerminalLauncher)(LaunchKind kind, const BStr& target);
