// Quorvel's entry: console start-up, display defaults, banner, parameters, one run, the
// form-feed line, and the exit code: 1 when no report could be made.
#include "console/console.h"
#include "console/output.h"
#include "console/pager.h"
#include "driver/options.h"
#include "driver/report_forms.h"
#include "driver/run.h"
#include "driver/system.h"
#include "driver/texts.h"

int main(int argc, char** argv) {
  OpenStandardDescriptors();
  ConsoleStartup();
  StartUp();
  ShowBanner(argc, argv, PrepareParameters);
  ProcessParameters(argc, argv);
  // An export ends with its last row or its document: nothing may follow.
  if (OutputRedirected && !IsExport(Options.outputMode) && !DumpGoesToStandardOutput()) {
    WriteText("\f", 1);
    WriteLineEnd();
  }
  EndProgram(RunExitCode());
}
