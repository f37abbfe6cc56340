// The screen report: a two-line header, one indented tree line per directory and a nine-line
// footer with the totals and the drive's statistics.
#pragma once

#include <cstdint>

#include "console/bounded_string.h"
#include "tree/dir_node.h"

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

int32_t ScreenHeader();
void WalkScreenTree(const DirNode* first);
int32_t ScreenFooter(int32_t total);
int32_t NoFooter(int32_t total);

// Internal steps, exposed for tests.
void WriteRuleLine();
void WriteDirectoryLine(const DirNode* node, bool hasLaterSibling);
void ExtendTreePrefix(bool hasLaterSibling);
