// The run driver: one report for one directory.
#pragma once

#include <cstdint>

#include "console/bounded_string.h"

// Expands the directory, checks the drive, scans the tree, writes the report in the form the
// options choose, and releases the tree.
void RunDirectory();

// The exit code the last RunDirectory earns: 1 when it wrote no report (the drive could not be
// queried, the start directory was not found) or a dump asked for with -save could not be
// written whole (the report was made; the file was left as it was), else 0.
int RunExitCode();

// Whether the run writes the dump of -save=- on standard output, and so nothing else there: no
// report, no form feed.
bool DumpGoesToStandardOutput();

// The start-up sequence up to the parameters: platform set-up, thousands separator, display
// defaults by redirection.
void StartUp();

// Switches the file functions to the console's code page, and the like.
void PlatformStartUp();
