// The few process facts the option parser needs from the platform: the environment variable
// of parameters, the running program's own folder, and the target of the option -config.
#pragma once

#include "console/bounded_string.h"

// The value of the parameter variable ("Quorvel" on Windows, where names ignore case;
// "QUORVEL" on POSIX). False when it is not set, is empty, or holds 255 bytes or more (a value
// that does not fit is ignored rather than used cut).
bool ReadParameterVariable(BStr* value);

// The folder of the running program's own file, ending in the path separator; empty when it
// cannot be found.
BStr OwnDirectory();

// What the option -config hands to the shell: the configuration program beside this one on
// Windows; on POSIX the stored-defaults file, created empty when missing, for the user's editor.
BStr ConfigTarget();
