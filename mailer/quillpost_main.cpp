// Quillpost: opens a new mail message to the author in the user's mail program and ends. It has
// no window and no output; its arguments are ignored, and the launch's result is not examined,
// so it always ends with code 0.
#include "console/bounded_string.h"
#include "mailer/contact.h"
#include "mailer/shell_open.h"

int main() {
  BStr none;
  BClear(none);
  ShellOpen(BMake(MailUrl), none, none, ShowNormally);
  return 0;
}
