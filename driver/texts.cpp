#include "driver/texts.h"

#include <cstring>

#include "console/console.h"
#include "console/output.h"
#include "console/pager.h"
#include "disk/stored_defaults.h"
#include "mailer/contact.h"

// The build passes the project's version; the fallback keeps a bare compile working.
#ifndef QUORVEL_VERSION
#define QUORVEL_VERSION "1.0.0"
#endif

const char ProgramVersion[] = QUORVEL_VERSION;
const char BannerLine[] =
    "Quorvel " QUORVEL_VERSION " - disk space by directory. (c) Penwick Software, by Tobrenn.";

namespace {
const char* const HelpLines[] = {
    "",
    "Usage: quorvel [options] [directory] [options]",
    "",
    "Where [options] is zero or more of",
    "  -#        Only show directories up to # levels deep (1..)",
    "  -size=#   Only show directory if # bytes or larger (use K,M,G suffix",
    "            K=1024  M=1024K  G=1024M e.g. 2M=2 megabytes)",
    "  -cl=#     Show wastage for cluster size of #",
    "  -dir      Give same results as DIR - exclude wastage",
    "  -asper    Show per-directory wastage as a percentage (default)",
    "  -asval    Show per-directory wastage as a number (default)",
    "  -nowaste  Do not show per-directory wasted space information",
    "  -tab      Database output, fixed columns",
    "  -comma    Database output, comma delimited",
    "  -csv      CSV rows for programs   -json  One JSON document of the tree",
    "  -excel    The -csv rows as Excel opens them (in your list separator)",
    "  -html     A web page (a treemap)  -top=N  The N largest files and dirs",
    "  -units    Sizes in B, K, M, G, T  -bytes  Sizes in bytes (the default)",
    "  -exclude=PATTERN  Leave out directories and files that match (*, ?, [a-z])",
    "  -c+       Use graphics chars, even if redirected",
    "  -c-       Use standard chars, even if not redirected",
    "  -p        Do NOT pause between pages if not redirected",
    "  -save=FILE    Also write the scan to FILE (ncdu's dump format)",
    "  -from=FILE    Report from a dump (-save, ncdu -o, gdu -o); - = stdin",
    "  -since=FILE   Growth since the dump in FILE   -changed  Only what changed",
    "  -browse  Browse, sort and delete on the terminal   -nodelete  Never delete",
    "  -sort=[name | local | size | waste | files | growth | change | none]",
    "            Choose sort order",
    "  -?        Display this help screen",
    "  -config   To set Quorvel's default parameters",
    "  -mail     To send mail to the author, Tobrenn",
    "  -penwick  To go to the Penwick Software web site",
    "  -manual   To display the Quorvel user manual",
    "  -w        Display welcome/help screen",
    "",
    "Use the configuration program CONFIG.EXE to set your most often used or",
    "standard parameters. These can be overridden by the environment variable",
    "QUORVEL, for which you should use a colon instead of an equals sign i.e.",
    "-cl:# and -size:#",
};

const char* const WelcomeHead[] = {
    "",
    "Quorvel is a great utility for finding disk-space hungy applications or",
    "network space hogs. It can show you how much of your precious hard disk",
    "space is being wasted, and can easily show you how much disk space a set",
    "of directories will use when copied elsewhere.",
    "",
    "Don't forget to visit Penwick Software's homepage on the InterNet:",
    "",
};

const char* const WelcomeTail[] = {
    "",
    "Here you can download updates, join mailing lists, leave comments,",
    "suggestions or bug reports, as well as try out our other products.",
};
}  // namespace

void ShowHelp() {
  for (const char* line : HelpLines) PagedWriteLine(line);
}

void ShowWelcome() {
  for (const char* line : WelcomeHead) PagedWriteLine(line);
  BStr home = BMake("  ");
  BAppend(home, HomePage);
  PagedWriteLine(home);
  for (const char* line : WelcomeTail) PagedWriteLine(line);
  BStr mail = BMake("You can email Tobrenn at ");
  BAppend(mail, AuthorAddress);
  PagedWriteLine(mail);
  PagedWriteLine("");
  PagedWriteLine("Type quorvel -? for help");
}

void ShowBanner(int argc, char** argv, bool (*readParameters)(int argc, char** argv)) {
  const char* first = argc > 1 ? argv[1] : "";
  // The version as other programs give it: the banner line alone, for scripts to read.
  if (std::strcmp(first, "--version") == 0) {
    PagedWriteLine(BannerLine);
    EndProgram(0);
  }
  LoadStoredDefaults();
  // Only the first argument asks for help, before anything is parsed, so no option can
  // change the help screen. Besides a '?' anywhere, the two spellings other programs take
  // count; a directory of either name is still reachable as ./-h.
  bool help = std::strchr(first, '?') != nullptr || std::strcmp(first, "--help") == 0 ||
              std::strcmp(first, "-h") == 0;
  // A token the run would refuse is refused here, before the banner: a refused run writes
  // nothing on standard output.
  // An export is the whole of standard output, for another program to load: no banner, no
  // pauses, and every message up to the report goes to standard error.
  if (!help && readParameters(argc, argv)) {
    SetPaging(false);
    SendOutputToErrors(true);
    return;
  }
  PagedWriteLine(BannerLine);
  PagedWriteLine("");
  if (help) {
    ShowHelp();
    EndProgram(0);
  }
}
