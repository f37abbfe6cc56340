// Hands a document or URL to the platform's shell, which opens it with the user's program for
// it. Shared by Quorvel's launch options and by Quillpost.
#pragma once

#include <cstdint>

#include "console/bounded_string.h"

// The show command that opens the target's window normally.
constexpr int32_t ShowNormally = 5;

// Opens file (a path or a URL) with the shell's default action, passing parameters and the
// working directory (both may be empty; empty means none). Does not wait for the program
// started. Returns more than 32 when the start succeeded, 32 or less when it failed.
intptr_t ShellOpen(const BStr& file, const BStr& parameters, const BStr& directory,
                   int32_t showCommand);
