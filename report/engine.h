// The output engine: counts a report's lines, then writes them in one pass or drives the
// scroller. Every report routine writes only the lines the counters ask for.
#pragma once

#include <cstdint>

#include "driver/run_record.h"
#include "tree/dir_node.h"

// The line-taking protocol, stated here alone. A pass writes the lines from the pass's next
// line on, as many as it may; every report routine counts the lines it reaches and asks
// TakeLine whether to write each. A pass that only counts (the header's and footer's probe)
// writes nothing.

// A pass of count lines from line first; first -1 makes it a probe. For the routines' tests
// and the like: RunReport and the scroller start their own passes.
void StartPass(int32_t first, int32_t count);
// The header and the footer are asked for their line counts and write nothing.
bool Probing();
// The line the routine has reached: whether this pass writes it (then it is taken from the
// pass's budget). Either way the next line is reached.
bool TakeLine();
// Whether this pass has written its last line: a walk may stop.
bool PassDone();
// The last lines of a report of total lines, `lines` of them (a footer): write(k) for each
// footer line k this pass writes; beyond the last the pass's budget is used up without lines.
void TakeLastLines(int32_t total, int32_t lines, void (*write)(const RunRecord& run, int32_t k),
                   const RunRecord& run);
// The index of the next line to write, and the lines this pass may still write.
int32_t PassNextLine();
int32_t PassLinesLeft();

// The line index the counting pass asks for: beyond every report, so nothing is written.
constexpr int32_t CountingLine = INT32_MAX;

// One directory line of the shown tree, as the walk meets it.
struct ShownRow {
  const DirNode* node;
  bool root;             // the start directory: the first line, named by its full path
  bool hasLaterSibling;  // another directory follows it in its parent's list
};

// What a form writes of the shown tree: a line per directory, and a prefix that grows by a
// level before a directory's children (not the root's) and is cut back after them.
struct RowWriter {
  void (*write)(const ShownRow& row);
  void (*enter)(const ShownRow& row);
  int (*mark)();           // the prefix's length now
  void (*back)(int mark);  // back to that length
};

// The walk of the shown tree from first (the root), shared by every line form: in pre-order,
// each directory taken as a line, with a stack of levels held in place (LevelStack), so that a
// tree as deep as the path budget allows takes no more stack than a flat one. Returns false
// once the pass has written its last line; the prefix is as it was.
bool WalkShownTree(const DirNode* first, const RowWriter& rows);

// The three routines of one report form, each given the run's record (its tree is run.root).
struct ReportSection {
  int32_t (*header)(const RunRecord& run);  // line count when probed, else 0
  void (*walker)(const RunRecord& run);
  int32_t (*footer)(const RunRecord& run, int32_t total);  // line count when probed, else 0
};

// Counts the report's lines; returns the total.
int32_t CountReportLines(const ReportSection& section, const RunRecord& run);

// Writes the whole report of run: one straight pass when PagingEnabled is false, else the
// scroller, which returns when the user pages past the end and ends the program on Escape, Q
// or Ctrl+C.
void RunReport(const ReportSection& section, const RunRecord& run);

// For the scroller: clears the screen and sets the next pass to write a full page from the top
// row, ending just above the line NextLine pointed to.
void StartFreshPage();
