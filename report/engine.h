// The output engine: counts a report's lines, then writes them in one pass or drives the
// scroller. Every report routine writes only the lines the counters ask for.
#pragma once

#include <cstdint>

#include "tree/dir_node.h"

// Line-selection counters shared by every report routine.
extern int32_t NextLine;    // index of the next line to write; -1 means count only
extern int32_t LinesLeft;   // lines this pass may still write
extern int32_t LineNumber;  // index of the line the walker has reached

// The line index the counting pass asks for: beyond every report, so nothing is written.
constexpr int32_t CountingLine = INT32_MAX;

// The three routines of one report form.
struct ReportSection {
  int32_t (*header)();  // line count when probed, else 0
  void (*walker)(const DirNode* first);
  int32_t (*footer)(int32_t total);  // line count when probed, else 0
};

// The root of the run's tree; the run driver owns it.
extern DirNode RootNode;

// Counts the report's lines; returns the total.
int32_t CountReportLines(const ReportSection& section);

// Writes the whole report: one straight pass when PagingEnabled is false, else the scroller,
// which returns when the user pages past the end and ends the program on Escape, Q or Ctrl+C.
void RunReport(const ReportSection& section);

// For the scroller: clears the screen and sets the next pass to write a full page from the top
// row, ending just above the line NextLine pointed to.
void StartFreshPage();
