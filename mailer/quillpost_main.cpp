// Quillpost: opens a new mail message to the author in the user's mail program and ends. It has
// no window and no output; its arguments are ignored. When no mail program can be started it
// says so on standard error (where there is one) and ends with code 1, so that a failure does
// not pass for a message opened.
#include <cstdio>

#include "console/bounded_string.h"
#include "mailer/contact.h"
#include "mailer/shell_open.h"

int main() {
  BStr none;
  BClear(none);
  if (ShellOpen(BMake(MailUrl), none, none, ShowNormally) > 32) return 0;
  std::fprintf(stderr, "quillpost: Could not start %s\n", MailUrl);
  return 1;
}
