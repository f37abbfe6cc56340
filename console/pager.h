// The line pager: messages, banner and help lines, with a prompt after each screenful.
#pragma once

#include "console/bounded_string.h"

// When false, lines are written without prompts. Written by the start-up sequence (redirected
// output), the option -p and the pager itself (End at the prompt); read by the report engine.
extern bool PagingEnabled;

// Screen rows used since the last prompt; starts at -2 and runs across the whole run.
extern int PageLineCount;

// Writes one line (text cut at 255 bytes) and its line end, stopping first for a prompt when
// the screen is full. Esc at the prompt ends the program with code 0.
void PagedWriteLine(const BStr& text);
void PagedWriteLine(const char* text);

// The prompt's text, 74 characters.
extern const char PagerPrompt[];
