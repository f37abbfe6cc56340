// The texts Quorvel writes about itself: the banner that opens every run, the help screen and
// the welcome screen. Every line goes through the pager.
#pragma once

// The banner line and an empty line, then the stored defaults are loaded; when the first
// command-line argument holds a '?' or is --help or -h, the help screen follows and the program
// ends (code 0). A first argument --version writes the banner line alone and ends (code 0).
// Called once, before any parameter is parsed.
void ShowBanner(int argc, char** argv);

// The 30 lines of the help screen.
void ShowHelp();

// The 15 lines of the welcome screen.
void ShowWelcome();

// The banner line itself.
extern const char BannerLine[];
