"""The banner, the help screen and the welcome screen: exact texts, when they appear, and that
the program ends after them with code 0 without reading any directory."""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness as h
import params_support as p

HELP = [
    b"",
    b"Usage: quorvel [options] [directory] [options]",
    b"",
    b"Where [options] is zero or more of",
    b"  -#        Only show directories up to # levels deep (1..)",
    b"  -size=#   Only show directory if # bytes or larger (use K,M,G suffix",
    b"            K=1024  M=1024K  G=1024M e.g. 2M=2 megabytes)",
    b"  -cl=#     Show wastage for cluster size of #",
    b"  -dir      Give same results as DIR - exclude wastage",
    b"  -asper    Show per-directory wastage as a percentage (default)",
    b"  -asval    Show per-directory wastage as a number (default)",
    b"  -nowaste  Do not show per-directory wasted space information",
    b"  -tab      Database output, fixed columns",
    b"  -comma    Database output, comma delimited",
    b"  -csv      CSV rows for programs   -json  One JSON document of the tree",
    b"  -excel    The -csv rows as Excel opens them (in your list separator)",
    b"  -html     A web page (a treemap)  -top=N  The N largest files and dirs",
    b"  -units    Sizes in B, K, M, G, T  -bytes  Sizes in bytes (the default)",
    b"  -exclude=PATTERN  Leave out directories and files that match (*, ?, [a-z])",
    b"  -c+       Use graphics chars, even if redirected",
    b"  -c-       Use standard chars, even if not redirected",
    b"  -p        Do NOT pause between pages if not redirected",
    b"  -save=FILE    Also write the scan to FILE (ncdu's dump format)",
    b"  -from=FILE    Report from a dump (-save, ncdu -o, gdu -o); - = stdin",
    b"  -since=FILE   Growth since the dump in FILE   -changed  Only what changed",
    b"  -browse  Browse, sort and delete on the terminal   -nodelete  Never delete",
    b"  -sort=[name | local | size | waste | files | growth | change | none]",
    b"            Choose sort order",
    b"  -?        Display this help screen",
    b"  -config   To set Quorvel's default parameters",
    b"  -mail     To send mail to the author, Tobrenn",
    b"  -penwick  To go to the Penwick Software web site",
    b"  -manual   To display the Quorvel user manual",
    b"  -w        Display welcome/help screen",
    b"",
    b"Use the configuration program CONFIG.EXE to set your most often used or",
    b"standard parameters. These can be overridden by the environment variable",
    b"QUORVEL, for which you should use a colon instead of an equals sign i.e.",
    b"-cl:# and -size:#",
]

PAGER_PROMPT = "-- [Enter] & [Space]=line, [End]=continuous, [Esc]=exit, [j] & [k]=line --"

WELCOME = [
    b"",
    b"Quorvel is a great utility for finding disk-space hungy applications or",
    b"network space hogs. It can show you how much of your precious hard disk",
    b"space is being wasted, and can easily show you how much disk space a set",
    b"of directories will use when copied elsewhere.",
    b"",
    b"Don't forget to visit Penwick Software's homepage on the InterNet:",
    b"",
    b"  http://www.penwick-software.example/",
    b"",
    b"Here you can download updates, join mailing lists, leave comments,",
    b"suggestions or bug reports, as well as try out our other products.",
    b"You can email Tobrenn at tobrenn@penwick-software.example",
    b"",
    b"Type quorvel -? for help",
]


class Help(unittest.TestCase):
    def assertScreen(self, result, lines):
        self.assertEqual(result.returncode, 0)
        # Exactly the banner, its empty line and the screen: no title, no report, no form feed.
        self.assertEqual(h.lines(result.stdout), [p.BANNER, b""] + lines)
        self.assertTrue(result.stdout.endswith(h.EOL))

    def test_question_mark_anywhere_in_the_first_argument_or_the_usual_spellings(self):
        for first in ("-?", "/?", "?", "a?b", "--help", "-h"):
            self.assertScreen(p.run([first]), HELP)

    def test_version_is_the_banner_line_alone(self):
        # Guards a --version that reports on a directory of that name, or that a script reading
        # the version finds anything else on the line or after it.
        r = p.run(["--version", "-w"], stored="-sort=bad", variable="-w")
        self.assertEqual((r.returncode, h.lines(r.stdout), r.stderr), (0, [p.BANNER], b""))

    def test_help_words_are_only_words_elsewhere(self):
        # ./-h first is a directory as before; a later --help and -H are no help words.
        here = "." + h.SEP + "-h"
        with h.Tree({"-h/f": 10}) as t:
            # The directory -h exists, so its report is made (Windows finds it as -H too); the
            # others are unknown options, refused before anything is written.
            for args, code in (([here], 0), (["-H"], 0 if h.WINDOWS else 1),
                               (["-cl=4096", "--help"], 1), (["--Version"], 1)):
                r = p.run(args, cwd=t.root)
                self.assertNotIn(b"Usage: quorvel", r.stdout, args)
                if code == 0:
                    self.assertEqual(h.lines(r.stdout)[-1], b"\f", args)
                else:
                    self.assertEqual(r.stdout, b"", args)
                    self.assertIn(b"unknown option", r.stderr, args)
                self.assertEqual(r.returncode, code, args)

    def test_help_is_decided_before_any_option_is_parsed(self):
        # The stored string and the variable would show the welcome screen or a message if
        # they were parsed first; later arguments are never looked at.
        self.assertScreen(p.run(["-?", "-w"], stored="-sort=bad", variable="-w"), HELP)

    def test_question_mark_in_a_later_argument_is_a_directory(self):
        with h.Tree({}) as t:
            r = p.run(["-cl=4096", "-?"], cwd=t.root)
            out = h.lines(r.stdout)
            self.assertTrue(out[2].startswith(b"Quorvel report, created at "))
            self.assertNotIn(b"Usage: quorvel", r.stdout)
            # Natively a missing folder; Windows calls "?" an invalid name, a folder that
            # cannot be read. Either way there is no report, a line names it, and the code is 1.
            named = (h.SEP + "-?").encode()
            self.assertTrue(any(named in l for l in out[4:] + h.lines(r.stderr)), (out, r.stderr))
            self.assertEqual(r.returncode, 1)

    def test_help_pauses_on_a_small_terminal(self):
        # 39 lines on a 25-row screen: the pager must stop once, End lets the rest through.
        with h.Terminal(["-?"], height=25) as term:
            term.wait_for("[Esc]=exit")
            term.keys("End")
            self.assertEqual(term.exit_code(), 0)
            self.assertIn("-cl:# and -size:#", term.screen())


    def test_help_on_sixty_by_fifteen_shows_every_row(self):
        # The pager counted lines, not rows: the banner and the wider help lines take two rows
        # at 60 columns, and so did the 74-character prompt, so the banner scrolled away before
        # the first pause. (Standard error is left out: Wine writes its own notes there.)
        rows = []
        for line in [p.BANNER, b""] + HELP:
            text = line.decode()
            rows += [text[i:i + 60] for i in range(0, len(text), 60)] or [""]
        quiet = ["sh", "-c", 'exec "$0" "$@" 2>/dev/null']
        with h.Terminal(["-?"], width=60, height=15, prefix=quiet) as term:
            pages = []
            last = None
            for _ in range(8):
                end = time.time() + 20
                while time.time() < end:
                    screen = term.screen()
                    ended = os.path.exists(term.rc_file) and os.path.getsize(term.rc_file) > 0
                    # The prompt stops short of the last column and keeps to one of the last
                    # two rows (the last stays empty when the waiting line takes two). After a
                    # key, the last page's prompt stays until the next page is drawn: a page is
                    # taken once the screen has changed.
                    if (PAGER_PROMPT[:59] in screen[13:15] and screen != last) or ended:
                        break
                    time.sleep(0.05)
                if ended:
                    pages.append(screen)
                    break
                self.assertIn(PAGER_PROMPT[:59], screen[13:15], screen)
                pages.append(screen[:screen.index(PAGER_PROMPT[:59])])
                last = screen
                term.keys("x")
            self.assertEqual(term.exit_code(), 0)
        self.assertEqual(pages[0][0], rows[0], pages[0])
        # Every row of the text is seen, in order, on one page or the next.
        seen = [r.rstrip() for page in pages for r in page]
        at = 0
        for row in rows:
            if not row.strip():
                continue
            while at < len(seen) and seen[at] != row.rstrip():
                at += 1
            self.assertLess(at, len(seen), "never seen: %r\n%s" % (row, "\n".join(seen)))


class Welcome(unittest.TestCase):
    def assertWelcome(self, result):
        self.assertEqual(result.returncode, 0)
        self.assertEqual(h.lines(result.stdout), [p.BANNER, b""] + WELCOME)

    def test_any_token_beginning_with_w(self):
        for token in ("-w", "-W", "-wobble"):
            self.assertWelcome(p.run([token]))

    def test_welcome_from_the_variable_ends_before_the_command_line(self):
        # A later bad sort order would add a message if the command line were still read.
        self.assertWelcome(p.run(["-sort=bad"], variable="-c+ -w -sort=worse"))

    def test_welcome_from_the_stored_string_ends_before_the_variable(self):
        self.assertWelcome(p.run(["-sort=bad"], stored='-asval "-W" -sort=worse',
                                 variable="-sort=bad"))

    def test_tokens_before_the_welcome_still_take_effect(self):
        r = p.run(["-sort=bad", "-w"])
        self.assertEqual(r.returncode, 0)
        self.assertEqual(h.lines(r.stdout),
                         [p.BANNER, b"", b"Invalid sorting method specified - BAD"] + WELCOME)


if __name__ == "__main__":
    h.main()
