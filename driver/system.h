// The few process facts the option parser needs from the platform: the environment variable
// of parameters, the running program's own folder, the target of the option -config, and the
// user's own programs for a file to edit or a text to read.
#pragma once

#include "console/bounded_string.h"

// First of all at start-up: a standard descriptor (input, output, error) that the program was
// started without is opened on the null device, so that no file the program opens takes its
// number and gets what is meant for it. Standard output and error are opened there for reading
// only, so that a write to them still fails as a write to a closed one does and is said.
void OpenStandardDescriptors();

// The value of the parameter variable ("Quorvel" on Windows, where names ignore case;
// "QUORVEL" on POSIX). False when it is not set or is empty, and when it holds more than
// ParamCapacity bytes: then *tooLong is set, for the caller to refuse it (a value cut to fit
// would change its last token).
bool ReadParameterVariable(ParamStr* value, bool* tooLong);

// True when path names an existing directory (or a link to one).
bool DirectoryExists(const PathStr& path);

// Whether a double quote in a command-line argument can only be left over from the C runtime's
// splitting, because names never hold one: true on Windows, false on POSIX, where a name may.
extern const bool ArgumentQuotesAreStray;

// The folder of the running program's own file, ending in the path separator; empty when it
// cannot be found.
BStr OwnDirectory();

// What the option -config hands to the shell: the configuration program beside this one on
// Windows; on POSIX the stored-defaults file, created empty when missing, for the user's editor.
BStr ConfigTarget();

// What a launch target is to the user: the stored defaults to edit (-config), the manual to
// read (-manual), or a target only the shell opens (mail, home page).
enum LaunchKind { LaunchToShell, LaunchToEdit, LaunchToRead };

// POSIX, when standard input and output are a terminal: runs the user's editor ($VISUAL, else
// $EDITOR, else editor, else vi) or pager ($PAGER, else less, else more) on target in the
// foreground and waits for it; a variable may hold a command with arguments. True when one of
// them ran. False when this is no terminal, the kind is LaunchToShell, none could be started,
// and always on Windows: the caller then hands target to the shell.
bool OpenInTerminal(LaunchKind kind, const BStr& target);
