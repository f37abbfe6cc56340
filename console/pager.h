// The line pager: messages, banner and help lines, with a prompt after each screenful.
#pragma once

#include "console/bounded_string.h"

// When false, lines are written without prompts; read by the report engine. Written here alone:
// the start-up sequence (redirected output), the option -p, an export and the stored settings
// call SetPaging; the pager's own End at the prompt turns it off.
extern bool PagingEnabled;
void SetPaging(bool on);

// Screen rows used since the last prompt; starts at -2 and runs across the whole run.
extern int PageLineCount;
// Written here alone: the pager counts rows; SetPageLineCount puts a count in place (the
// configuration program keeps prompts away while it tries a word, then puts the count back).
void SetPageLineCount(int rows);

// Writes one line (text cut at 255 bytes) and its line end, stopping first for a prompt when
// the screen is full. Esc at the prompt ends the program with code 0.
void PagedWriteLine(const BStr& text);
void PagedWriteLine(const char* text);

// The prompt's text, 74 characters.
extern const char PagerPrompt[];
