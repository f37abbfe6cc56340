"""The scroller in a real terminal (tmux, 100 x 25): the first page and its status line, paging,
End and Home, the toggles repainting, the database rows in the scroller, -p giving the straight
pass, and q quitting with exit code 0. The report has 100 lines (88 subdirectories), as in the
scroller's worked example, so the pages and percentages are known."""
import os
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness as h

STATUS = " Up,Down,PgUp,PgDn,Home,End [W]aste:[D]isplay [F]iles [A]scii [Escape]"
BANNER = "Quorvel 1.0.0"
HEADER = " Total-no subs  Wstd  Files  Directory name   [dir + subdirs total]"


def status(percent):
    return "%3d%%" % percent + STATUS


def send(term, key):
    """Home and End as Wine's console knows them (ESC [H, ESC [F); other keys by tmux name."""
    literal = {"Home": "\x1b[H", "End": "\x1b[F"}.get(key)
    if literal:
        subprocess.run(["tmux", "send-keys", "-t", term.session, "-l", literal], check=True)
    else:
        subprocess.run(["tmux", "send-keys", "-t", term.session, key], check=True)


def wait(term, test, what, timeout=20):
    """Waits until test(screen) holds; returns the screen."""
    end = time.time() + timeout
    while time.time() < end:
        screen = term.screen()
        if test(screen):
            return screen
        time.sleep(0.05)
    raise AssertionError("%s never shown; screen:\n%s" % (what, "\n".join(term.screen())))


def page(term, percent, first=None, last=None, absent=None):
    """Waits for the status line with percent and, when given, the names first and last on the
    screen and absent not on it."""
    def shown(screen):
        text = "\n".join(screen)
        return (screen[24] == status(percent) and (first is None or first in text) and
                (last is None or last in text) and (absent is None or absent not in text))
    return wait(term, shown, "the page at %d%% (%s .. %s)" % (percent, first, last))


def row_of(screen, name):
    return [i for i, l in enumerate(screen) if l.endswith(name) or (name + "   [") in l]


def setUpModule():
    h.keep_tmux_server()


@unittest.skipIf(shutil.which("tmux") is None, "tmux is missing: the terminal cannot be tested")
class Scroller(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Root and d00..d87: lines 0-1 header, 2 root, 3..90 the subdirectories, 91..99 footer.
        cls.tree = h.Tree({"d%02d/f" % i: 1000 for i in range(88)})

    @classmethod
    def tearDownClass(cls):
        cls.tree.__exit__()

    def test_pages_toggles_and_quit(self):
        # The key table in its order of use in the worked example, then A and q.
        with h.Terminal([h.arg(self.tree.root)]) as t:
            s = page(t, 22, "d18", absent="d19")
            # Banner and empty line, then lines 0-21 below them, the status line on the last row.
            self.assertTrue(s[0].startswith(BANNER), s)
            self.assertEqual(s[2], HEADER)
            self.assertEqual(row_of(s, "d18"), [23])

            send(t, "Space")  # lines 22-44, scrolling
            s = page(t, 45, "d41", absent="d42")
            self.assertEqual(row_of(s, "d41"), [23])
            self.assertEqual(row_of(s, "d19"), [1])

            send(t, "w")  # lines 21-44 repainted from the top, without the waste column
            s = page(t, 45, "d18", absent="%  ")
            self.assertEqual(row_of(s, "d18"), [0])
            self.assertEqual(row_of(s, "d41"), [23])

            send(t, "End")  # lines 76-99
            s = page(t, 100, "d73", "Capacity:")
            self.assertEqual(row_of(s, "d73"), [0])
            self.assertTrue(s[23].startswith("       Capacity:"), s)

            send(t, "PPage")  # lines 53-76: one line of overlap with the page before
            s = page(t, 77, "d50", "d73", absent="Capacity:")
            self.assertEqual(row_of(s, "d50"), [0])
            self.assertEqual(row_of(s, "d73"), [23])

            send(t, "Home")  # lines 0-23 on a cleared screen
            s = page(t, 24, "d20", absent="d21")
            self.assertEqual(s[0], " Total-no subs  Files  Directory name   [dir + subdirs total]")
            self.assertFalse(any(l.startswith(BANNER) for l in s))

            send(t, "a")  # the plain tree characters, same page
            s = page(t, 24, "|--d00")
            self.assertEqual(s[0], " Total-no subs  Files  Directory name   [dir + subdirs total]")

            send(t, "q")
            self.assertEqual(t.exit_code(), 0)

    def test_lines_one_at_a_time_and_back(self):
        with h.Terminal([h.arg(self.tree.root)]) as t:
            page(t, 22, "d18", absent="d19")
            send(t, "Down")  # one more line at the bottom
            s = page(t, 23, "d19")
            self.assertEqual(row_of(s, "d19"), [23])
            send(t, "j")
            s = page(t, 24, "d20")
            self.assertEqual(row_of(s, "d20"), [23])
            send(t, "Up")  # 24 is not beyond the last row: nothing moves
            page(t, 24, "d20")
            send(t, "Space")
            page(t, 47, "d43")
            send(t, "k")  # the page one line higher, repainted
            s = page(t, 46, "d42", absent="d43")
            self.assertEqual(row_of(s, "d42"), [23])
            self.assertEqual(row_of(s, "d19"), [0])
            send(t, "Q")
            self.assertEqual(t.exit_code(), 0)

    def test_paging_past_the_end_leaves(self):
        # Every other key pages forward; at 100% it leaves the scroller and the program ends.
        with h.Terminal([h.arg(self.tree.root)]) as t:
            page(t, 22)
            for key, percent in (("Enter", 45), ("x", 68), ("NPage", 91), ("Space", 100)):
                send(t, key)
                page(t, percent)
            send(t, "Space")
            self.assertEqual(t.exit_code(), 0)

    def test_database_rows_in_the_scroller(self):
        # The rows are shown a page at a time; W repaints them unchanged.
        root = h.arg(self.tree.root)
        with h.Terminal(["-comma", root]) as t:
            # 2 + 89 lines: the first page ends with d18's row (line 21).
            s = page(t, 24, h.SEP + 'd18"', absent="d19")
            self.assertEqual(s[2], '"Total-no subs","Wasted space","Dir+SubDirs","Directory name"')
            self.assertTrue(s[4].endswith(',"' + root + h.SEP + '"'), s[4])
            send(t, "Space")  # lines 22-44
            before = page(t, 49, h.SEP + 'd41"')
            send(t, "w")  # repaints lines 21-44
            send(t, "j")  # and one line more: 22-45 on the screen
            after = page(t, 50, h.SEP + 'd42"')
            self.assertEqual(after[:23], before[1:24])
            self.assertTrue(after[23].endswith(h.SEP + 'd42"'), after[23])
            send(t, "q")
            self.assertEqual(t.exit_code(), 0)

    @unittest.skipIf(h.WINDOWS, "Wine's console knows Home and End only as ESC [H and ESC [F")
    def test_other_home_and_end_sequences(self):
        # Terminals send Home and End in several forms; each must act as the key, not page.
        with h.Terminal([h.arg(self.tree.root)]) as t:
            page(t, 22)
            for key, percent in (("End", 100), ("Home", 24), ("\x1b[4~", 100), ("\x1b[1~", 24),
                                 ("\x1bOF", 100), ("\x1bOH", 24)):
                if key.startswith("\x1b"):
                    subprocess.run(["tmux", "send-keys", "-t", t.session, "-l", key], check=True)
                else:
                    subprocess.run(["tmux", "send-keys", "-t", t.session, key], check=True)
                page(t, percent, "d20" if percent == 24 else "Capacity:")
            send(t, "q")
            self.assertEqual(t.exit_code(), 0)

    def test_p_gives_the_straight_pass_on_a_terminal(self):
        # -p: every line once, no status line, and the program ends without waiting for a key.
        with h.Terminal(["-p", h.arg(self.tree.root)]) as t:
            self.assertEqual(t.exit_code(), 0)
            s = t.screen()
            self.assertFalse(any(STATUS in l for l in s), s)
            self.assertTrue(any(l.startswith("       Capacity:") for l in s), s)


if __name__ == "__main__":
    h.main()
