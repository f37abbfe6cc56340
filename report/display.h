// The display switches of the report: what the screen and the page show of each directory,
// and the characters the tree is drawn with.
#pragma once

#include "console/bounded_string.h"

// Display switches, read by the report forms. Written here alone: the start-up sequence, the
// options, the stored settings and the scroller's keys change them through the routines below.
extern BStr TreeChars;      // corner, tee, horizontal, blank, vertical
extern bool ShowWaste;
extern bool WasteAsPercent;
extern bool ShowFiles;
extern bool ShowUnits;  // sizes in K, M, G units instead of bytes; -units, -bytes, key U

void SetTreeChars(const BStr& chars);
void SetShowWaste(bool on);
void SetWasteAsPercent(bool on);
void SetShowFiles(bool on);
void SetShowUnits(bool on);
// Key A: the other set of tree characters.
void ToggleTreeChars();

extern const BStr GraphicTreeChars;  // code page 437 box pieces
extern const BStr PlainTreeChars;    // "+|- |"
