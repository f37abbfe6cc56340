// The texts Quorvel writes about itself: the banner that opens every run, the help screen and
// the welcome screen. Every line goes through the pager.
#pragma once

// Loads the stored defaults, then writes the banner line and an empty line; when the first
// command-line argument holds a '?' or is --help or -h, the help screen follows and the program
// ends (code 0). A first argument --version writes the banner line alone and ends (code 0).
// Otherwise a parameter the run would refuse ends the program first, with nothing written on
// standard output: readParameters (PrepareParameters) reads the parameters once, refuses what
// the run would refuse and says whether they choose an export.
// When the parameters choose an export (-csv, -json, -html, -excel, -save=-), writes nothing, turns paging off and
// sends what is written before the report to standard error. Called once, before any parameter
// is parsed.
void ShowBanner(int argc, char** argv, bool (*readParameters)(int argc, char** argv));

// The 39 lines of the help screen.
void ShowHelp();

// The 15 lines of the welcome screen.
void ShowWelcome();

// The banner line itself, and the program's version on it.
extern const char BannerLine[];
extern const char ProgramVersion[];
