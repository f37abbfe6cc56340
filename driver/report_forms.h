// The report's forms, one row each: what writes it and what it needs first. The run driver
// picks the row of the chosen OutputMode; a new form is a new row.
#pragma once

#include "driver/run_record.h"
#include "report/engine.h"

struct ReportForm {
  OutputMode mode;
  // Written alone on standard output, for another program to read: no banner, title or form
  // feed, and the messages before it go to standard error.
  bool isExport;
  bool rowPaths;  // its rows carry paths: RowPath is set to the start directory first
  // Header, walker and footer, written through RunReport (a straight pass or the scroller);
  // or, when document is set, one document written at once instead.
  ReportSection section;
  void (*document)();
};

// The row of mode (the screen's for a mode no row has).
const ReportForm& FormOf(OutputMode mode);

// The section the form writes: its own, but with the lists of the largest asked for (-top=N)
// the CSV export (and its Excel spelling) is their rows alone. The screen shows the lists after its footer; the fixed
// and comma forms, whose rows are loaded as one table, stay as they are.
const ReportSection& SectionOf(const ReportForm& form, bool largest);
