"""The scroller in a real terminal (tmux, 100 x 25): the first page and its status line, paging,
End and Home, the toggles repainting, the database rows in the scroller, -p giving the straight
pass, units toggled by U, and q quitting with exit code 0. The report has 100 lines (88 subdirectories), as in the
scroller's DATA tree, so the pages and percentages are known. Then terminals that do not
fit the report: lines wider than the screen, wide characters, a window resized while a key is
awaited, and a window of 20 x 5; and the table of character widths the lines are cut by."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness as h

STATUS = " Up,Down,PgUp,PgDn,Home,End [W]aste:[D]isplay [F]iles [A]scii [U]nits [Esc]"
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
        # The key table in its order of use on the DATA tree, then A and q.
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

            # Sizes in units and back in bytes, in the same columns: each d holds a file of 1,000
            # bytes and a table of three entries, a cluster each.
            c = h.cluster_size(self.tree.root)
            units = "%.1f K" % (2 * c / 1024.0)
            send(t, "u")
            s = page(t, 24, "|--d00", absent="%d,%03d  " % divmod(2 * c, 1000))
            self.assertEqual(s[row_of(s, "d00")[0]], "%14s      1  |--d00" % units)
            send(t, "U")
            s = page(t, 24, "|--d00", absent=units)
            self.assertEqual(s[row_of(s, "d00")[0]],
                             "%14s      1  |--d00" % ("{:,}".format(2 * c)))

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

    def test_other_home_and_end_sequences(self):
        # Terminals send Home and End in several forms; each must act as the key, not page.
        # Wine's console gives the keys of ESC [1~ and ESC [4~ (tmux's own Home and End) no key
        # code at all, so under Wine only the forms it maps are sent; the key reader then takes
        # them by their key code.
        keys = [("End", 100), ("Home", 24), ("\x1bOF", 100), ("\x1bOH", 24)]
        if not h.WINDOWS:
            keys += [("\x1b[4~", 100), ("\x1b[1~", 24)]
        with h.Terminal([h.arg(self.tree.root)]) as t:
            page(t, 22)
            for key, percent in keys:
                if key.startswith("\x1b"):
                    subprocess.run(["tmux", "send-keys", "-t", t.session, "-l", key], check=True)
                else:
                    send(t, key)
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

    def test_the_largest_lists_are_pages_of_the_report(self):
        # -top=3 adds ten lines after the footer (110 in all): End shows them on the last page,
        # paging forward reaches them as it reaches the tree, and they were counted, so the
        # percentages are those of 110 lines.
        def lists_at_bottom(screen):
            return (screen[15] == "Largest files:" and
                    screen[20] == "Directories holding the most bytes of their own:" and
                    all(screen[r].endswith(h.SEP + "f") for r in (16, 17, 18)) and
                    all(re.search(r"d\d\d$", screen[r]) for r in (21, 22, 23)))
        with h.Terminal(["-top=3", h.arg(self.tree.root)]) as t:
            page(t, 20)  # lines 0-21 of 110
            send(t, "End")
            s = page(t, 100, "Largest files:")
            self.assertTrue(lists_at_bottom(s), "\n".join(s))
            self.assertTrue(s[13].startswith("       Capacity:"), s[13])
            send(t, "Home")
            page(t, 21, "d19", absent="Largest")
            for percent in (42, 63, 84, 100):
                send(t, "NPage")
                s = page(t, percent)
            self.assertTrue(lists_at_bottom(s), "\n".join(s))
            send(t, "NPage")
            self.assertEqual(t.exit_code(), 0)


# The columns a cut line fills: all of them on a terminal, one less on the Windows console, which
# moves to the next row as soon as its last column is written.
def row_columns(width):
    return width - 1 if h.WINDOWS else width


def wait_status(term, row, percent, width):
    """Waits for the status line with percent, cut to the screen's width, on the given row."""
    text = status(percent)[:min(79, width - 1)]
    return wait(term, lambda s: len(s) > row and s[row] == text,
                "the status line at %d%% on row %d" % (percent, row))


LONG = "dir%02d" + "x" * 70  # 75 characters


@unittest.skipIf(shutil.which("tmux") is None, "tmux is missing: the terminal cannot be tested")
class SmallTerminals(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # 60 directories of 75-character names: lines 0-1 header, 2 root, 3..62 dir01..dir60,
        # 63..71 footer; 72 lines. Every directory line is wider than 80 columns.
        cls.long = h.Tree({(LONG % i): None for i in range(1, 61)})
        # 12 directories with files of distinct sizes, shown exactly by -dir: 1,000 .. 2,221.
        cls.small = h.Tree({"d%02d/f" % i: 1000 + 111 * i for i in range(12)})

    @classmethod
    def tearDownClass(cls):
        cls.long.__exit__()
        cls.small.__exit__()

    def dirs_on(self, screen, width):
        """The directory numbers on a screen, top to bottom; each line must be one cut row."""
        found = []
        for row in screen:
            m = re.search(r"dir(\d\d)x*(.?)$", row)
            if m:
                self.assertEqual(m.group(2), ">", row)
                self.assertEqual(len(row), row_columns(width), row)
                found.append(int(m.group(1)))
        return found

    def test_long_lines_are_cut_so_every_line_is_seen(self):
        # Wrapped lines took two rows each while the scroller counted one: the header and the
        # first directories scrolled away before they were seen, and later pages skipped lines.
        with h.Terminal([h.arg(self.long.root)], width=80) as t:
            s = wait_status(t, 24, 30, 80)  # lines 0-21: the header, the root, dir01..dir19
            self.assertTrue(s[0].startswith(BANNER), s)
            self.assertEqual(s[2], HEADER)
            self.assertEqual(self.dirs_on(s, 80), list(range(1, 20)))
            seen = []
            for percent in (30, 62, 94, 100):
                if percent != 30:
                    send(t, "Space")
                    s = wait_status(t, 24, percent, 80)
                shown = self.dirs_on(s, 80)
                self.assertEqual(len(shown), len(set(shown)), "a line twice on one screen")
                seen += [d for d in shown if d not in seen]
            self.assertEqual(seen, list(range(1, 61)))
            self.assertTrue(s[23].startswith("       Capacity:"), s)
            send(t, "Space")
            self.assertEqual(t.exit_code(), 0)

    @unittest.skipIf(h.WINDOWS, "Wine's console neither reports nor follows a resized terminal: "
                     "its buffer keeps the size it started with")
    def test_resizing_repaints_the_page_at_the_new_size(self):
        def resize(width, height):
            subprocess.run(["tmux", "resize-window", "-t", t.session, "-x", str(width), "-y",
                            str(height)], check=True)

        with h.Terminal([h.arg(self.long.root)], width=80) as t:
            wait_status(t, 24, 30, 80)
            send(t, "Space")  # rows 0-23 show lines 21-44: dir19..dir42
            wait_status(t, 24, 62, 80)
            resize(60, 10)  # lines 21-29 from the top, the status line cut to 59 columns
            s = wait_status(t, 9, 41, 60)
            self.assertEqual(self.dirs_on(s, 60), list(range(19, 28)))
            resize(100, 40)  # the same first line, 39 lines down to dir57
            s = wait_status(t, 39, 83, 100)
            self.assertEqual(self.dirs_on(s, 100), list(range(19, 58)))
            send(t, "Home")  # lines 0-38
            s = wait_status(t, 39, 54, 100)
            self.assertEqual(s[0], HEADER)
            self.assertEqual(self.dirs_on(s, 100), list(range(1, 37)))
            send(t, "End")  # lines 33-71
            s = wait_status(t, 39, 100, 100)
            self.assertEqual(self.dirs_on(s, 100), list(range(31, 61)))
            self.assertTrue(s[38].startswith("       Capacity:"), s)
            resize(80, 25)  # smaller again: lines 33-56 from the same first line
            s = wait_status(t, 24, 79, 80)
            self.assertEqual(self.dirs_on(s, 80), list(range(31, 55)))
            send(t, "End")
            wait_status(t, 24, 100, 80)
            send(t, "Space")
            self.assertEqual(t.exit_code(), 0)

    def test_wide_characters_count_two_columns_so_no_line_wraps(self):
        # Emoji outside a short list counted one column: the lines passed the screen's edge
        # and wrapped, and the rows after them scrolled away unseen.
        wide = ["\u2705", "\u2b50", "\U0001f680", "\U0001fae0"]
        with h.Tree({c + "abcdefg/f": 10 for c in wide}) as t:
            with h.Terminal([h.arg(t.root)], width=40, height=14) as term:
                s = wait(term, lambda s: any(l.startswith(" 68%") for l in s), "the status line")
                # (Wine's console shows a character beyond U+FFFF as two halves.)
                rows = [i for i, l in enumerate(s) if "abcd" in l]
                self.assertEqual(len(rows), 4, s)
                # One row each, in a run, each cut by the mark, the root's line just above.
                self.assertEqual(rows, list(range(rows[0], rows[0] + 4)), s)
                self.assertIn(h.shown(t.root)[:5], s[rows[0] - 1])
                for i in rows:
                    self.assertTrue(s[i].endswith("abcd>") or s[i].endswith("abcde>"), s[i])
                self.assertFalse(any(l.strip() in ("g", "fg", "efg") for l in s), s)
                send(term, "q")
                self.assertEqual(term.exit_code(), 0)

    def test_every_key_on_twenty_columns_and_five_rows(self):
        # The status line (74 characters then) wrapped over four rows, its erase left pieces of it on
        # the screen at every key, and a page showed about one line.
        def check(screen, percent, top=0):
            self.assertEqual(screen[4], status(percent)[:19], screen)
            for row in screen[top:4]:
                self.assertNotIn("Up,Down", row, screen)
                self.assertLessEqual(len(row), row_columns(20), screen)

        def key(name, percent, test=None):
            send(t, name)
            s = wait(t, lambda s: s[4] == status(percent)[:19] and (test is None or test(s)),
                     "%s: the page at %d%%" % (name, percent))
            check(s, percent)
            return s

        sizes = ["%d,%03d" % divmod(1000 + 111 * i, 1000) for i in range(12)]
        with h.Terminal(["-dir", h.arg(self.small.root)], width=20, height=5) as t:
            # The banner takes four of the five rows: the pager stops before its empty line,
            # its prompt cut to the row.
            wait(t, lambda s: s[4] == "-- [Enter] & [Space", "the pager's prompt")
            send(t, "Space")
            # 24 lines; pages of 4 rows: 2 lines first, then 3 per key. Every line is reached.
            s = wait_status(t, 4, 8, 20)
            seen = []
            for percent in (8, 20, 33, 45, 58, 70, 83, 95, 100):
                if percent != 8:
                    s = key("Space", percent)
                # The first page is its two lines below what the program wrote before it.
                check(s, percent, 2 if percent == 8 else 0)
                for row in s[:4]:
                    m = re.match(r" {9}(\d,\d{3}) ", row)
                    if m and m.group(1) not in seen:
                        seen.append(m.group(1))
            self.assertEqual(seen, sizes)
            key("Home", 16, lambda s: s[0].startswith(" Total-no subs"))  # lines 0-3
            key("Down", 20)
            key("j", 25)
            key("Up", 20, lambda s: s[0].startswith("────"))  # lines 1-4
            key("k", 16, lambda s: s[0].startswith(" Total-no subs"))  # 0-3
            key("Space", 29)
            key("NPage", 41)
            key("Enter", 54)
            key("PPage", 41)  # lines 6-9
            key("End", 100)
            key("C-l", 100, lambda s: s[3].startswith("       Capacity:"))
            key("Home", 16)
            key("f", 16, lambda s: s[0] == " Total-no subs  Di" + ("r>" if not h.WINDOWS else ">"))
            key("w", 16, lambda s: s[0].startswith(" Total-no subs  Ws"))
            key("d", 16, lambda s: s[0].startswith(" Total-no subs    "))
            key("a", 16, lambda s: s[1].startswith("--------------"))
            key("x", 29)  # any other key pages forward
            send(t, "q")
            self.assertEqual(t.exit_code(), 0)


UNICODE_DATA = "/usr/share/unicode"


def table_version():
    with open(os.path.join(h.SOURCE, "console", "display_width_table.inc")) as f:
        return re.search(r"Unicode (\d+\.\d+\.\d+)", f.readline()).group(1)


def data_version():
    try:
        with open(os.path.join(UNICODE_DATA, "EastAsianWidth.txt")) as f:
            m = re.search(r"-(\d+\.\d+\.\d+)\.txt", f.readline())
        return m.group(1) if m else None
    except OSError:
        return None


def reversed_row(line):
    """True when the line is shown reversed: the terminal's reverse attribute, or the Windows
    console's colours swapped (black on grey)."""
    return "\x1b[7m" in line or "\x1b[30m" in line or "\x1b[47m" in line


def browser_row(size, percent, bar, count, name):
    """A row of the browser as it draws it: size, share and bar, file count of a directory."""
    return "%9s %4s [%-10s] %9s  %s" % (size, percent, "#" * bar, count, name)


@unittest.skipIf(shutil.which("tmux") is None, "tmux is missing: the terminal cannot be tested")
class Browser(unittest.TestCase):
    """-browse on a tree of whole clusters, so that both builds give the same figures: big/ (one
    file of 400 K), mid/ (40 K and sub/ with 4 K) and small.txt (4 K); each directory adds its
    4 K table."""

    @classmethod
    def setUpClass(cls):
        cls.tree = h.Tree({"big/b1": 409600, "mid/m1": 40960, "mid/sub/s1": 4096,
                           "small.txt": 4096})

    @classmethod
    def tearDownClass(cls):
        cls.tree.__exit__()

    def first_screen(self, t):
        return wait(t, lambda s: s[0].startswith("--- ") and s[24].startswith(" Total"),
                    "the browser's first screen")

    def test_first_screen_moves_sorts_files_and_leaving(self):
        with h.Terminal([h.arg(self.tree.root), "-browse"]) as t:
            s = self.first_screen(t)
            self.assertEqual(s[0], "--- %s  464.0 K ---" % h.shown(self.tree.root))
            self.assertEqual(s[1:4], [browser_row("404.0 K", " 87%", 9, "1", "big/"),
                                      browser_row("52.0 K", " 11%", 1, "2", "mid/"),
                                      browser_row("4.0 K", "  1%", 0, "", "small.txt")])
            self.assertEqual(s[24], " Total 464.0 K  Files 4  (on disk)   ? help")
            # The selected row alone is shown reversed.
            colours = t.screen(attributes=True)
            self.assertEqual([reversed_row(l) for l in colours[1:4]], [True, False, False])
            # Keys the browser does not know do nothing: not even at the last row.
            t.keys("x", "Z", "F5", "Down", "Down", "Down", "Down")
            t.keys("Enter")  # a file: nothing opens
            self.assertEqual(t.screen()[0:4], s[0:4])
            # Into mid/ and sub/, then back: the cursor on the directory we came from.
            t.keys("Up", "Enter")
            wait(t, lambda s: s[0].startswith("--- %s" % h.shown(self.tree.path("mid"))), "mid/")
            t.keys("Right")  # m1, the largest, is a file: nothing opens
            t.keys("Down", "Right")
            s = wait(t, lambda s: "sub" in s[0], "sub/")
            self.assertEqual(s[1], browser_row("4.0 K", " 50%", 5, "", "s1"))
            t.keys("Left", "BSpace")
            s = wait(t, lambda s: s[0] == "--- %s  464.0 K ---" % h.shown(self.tree.root),
                     "the start directory again")
            colours = t.screen(attributes=True)
            self.assertEqual([reversed_row(l) for l in colours[1:4]], [False, True, False])
            # Sorted by name, again reversed; files hidden and shown.
            t.keys("n")
            s = wait(t, lambda s: s[1].endswith("big/") and s[3].endswith("small.txt"), "by name")
            t.keys("n")
            s = wait(t, lambda s: s[1].endswith("small.txt") and s[3].endswith("big/"),
                     "by name, reversed")
            t.keys("f")
            s = wait(t, lambda s: s[1].endswith("mid/") and s[3] == "", "files hidden")
            t.keys("f", "u")
            s = wait(t, lambda s: "475,136" in s[0], "sizes in bytes")
            t.keys("q")
            self.assertEqual(t.exit_code(), 0)

    def test_info_largest_help_and_escape(self):
        with h.Terminal([h.arg(self.tree.root), "-browse"]) as t:
            self.first_screen(t)
            t.keys("i")
            s = wait(t, lambda s: s[0].startswith("Path:"), "the info box")
            self.assertEqual(s[0:6], ["Path:      " + h.shown(self.tree.path("big")),
                                      "Own size:  413,696", "Total:     413,696",
                                      "Wastage:   " + s[3][11:], "Files:     1",
                                      "Subdirectories: 0"])
            t.keys("Escape")
            self.first_screen(t)
            t.keys("T")
            s = wait(t, lambda s: s[0].startswith("The largest"), "the largest")
            self.assertEqual(s[2], "> 400.0 K      file  " + os.path.join("big", "b1").replace(
                "/", "\\" if h.WINDOWS else "/"))
            t.keys("Enter")
            s = wait(t, lambda s: s[0].startswith("--- %s" % h.shown(self.tree.path("big"))),
                     "big/ opened at its file")
            self.assertEqual(s[1], browser_row("400.0 K", " 99%", 10, "", "b1"))
            t.keys("?")
            wait(t, lambda s: s[0] == "Keys of the browser", "the help")
            t.keys("Escape")  # closes the box, not the browser
            wait(t, lambda s: s[0].startswith("--- "), "the browser again")
            t.keys("Escape")
            self.assertEqual(t.exit_code(), 0)

    @unittest.skipIf(h.WINDOWS, "Wine's console neither reports nor follows a resized terminal")
    def test_resize_redraws(self):
        with h.Terminal([h.arg(self.tree.root), "-browse"]) as t:
            self.first_screen(t)
            subprocess.run(["tmux", "resize-window", "-t", t.session, "-x", "60", "-y", "12"],
                           check=True)
            s = wait(t, lambda s: s[11].startswith(" Total"), "the smaller screen")
            self.assertEqual(s[1], browser_row("404.0 K", " 87%", 9, "1", "big/"))
            t.keys("q")
            self.assertEqual(t.exit_code(), 0)

    def test_read_again_delete_and_trash(self):
        # r after a file is added behind the browser's back; d with y on a file, t on a
        # directory: gone from the disk, in the trash with its info, and every total down.
        tree = h.Tree({"gone/x/g": 40960, "keep/k": 8192, "f.txt": 4096})
        trash = tempfile.mkdtemp(prefix="quorvel-trash-")
        try:
            with h.Terminal([h.arg(tree.root), "-browse"], env={"XDG_DATA_HOME": trash}) as t:
                s = self.first_screen(t)
                self.assertEqual(s[0], "--- %s  68.0 K ---" % h.shown(tree.root))
                h.write_file(tree.path("new.bin"), 102400)
                t.keys("r")
                s = wait(t, lambda s: "168.0 K" in s[0], "the start directory read again")
                self.assertEqual(s[1], browser_row("100.0 K", " 60%", 6, "", "new.bin"))
                send(t, "End")
                t.keys("d")
                wait(t, lambda s: s[0] == "Delete the file f.txt (4.0 K)?", "the box for f.txt")
                t.keys("n")
                self.first_screen(t)
                self.assertTrue(os.path.exists(tree.path("f.txt")))
                t.keys("d", "y")
                wait(t, lambda s: "164.0 K" in s[0], "the total without f.txt")
                self.assertFalse(os.path.exists(tree.path("f.txt")))
                send(t, "Home")
                t.keys("Down", "d")
                wait(t, lambda s: s[0] == "Delete the directory gone/ (48.0 K, 1 file)?",
                     "the box for gone/")
                t.keys("t")
                s = wait(t, lambda s: "116.0 K" in s[0], "the total without gone/")
                self.assertEqual([l.split()[-1] for l in s[1:3]], ["new.bin", "keep/"])
                self.assertFalse(os.path.exists(tree.path("gone")))
                t.keys("q")
                self.assertEqual(t.exit_code(), 0)
            files = os.path.join(trash, "Trash", "files")
            self.assertEqual(os.listdir(files), ["gone"])
            self.assertEqual(os.listdir(os.path.join(files, "gone", "x")), ["g"])
            if not h.WINDOWS:
                with open(os.path.join(trash, "Trash", "info", "gone.trashinfo")) as f:
                    info = f.read().split("\n")
                self.assertEqual(info[0:2], ["[Trash Info]", "Path=" + tree.path("gone")])
                self.assertRegex(info[2], r"^DeletionDate=\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d$")
        finally:
            tree.__exit__()
            shutil.rmtree(trash, ignore_errors=True)

    def test_read_again_charges_a_file_of_two_names_once_and_the_largest_follow(self):
        # a/k and b/k2 are one file: reading either directory again, a file added to it behind
        # the browser's back, adds that file alone; the largest listed follow a delete.
        tree = h.Tree({"a/k": 8192, "b/x": 4096, "c.bin": 20480})
        os.link(tree.path("a/k"), tree.path("b/k2"))

        def total(s):
            return float(re.match(r" Total ([\d.]+) K ", s[24]).group(1))
        try:
            with h.Terminal([h.arg(tree.root), "-browse"]) as t:
                before = total(self.first_screen(t))
                t.keys("n")  # a/, b/, c.bin
                for row, name in enumerate(("a", "b")):
                    h.write_file(tree.path(name + "/new"), 4096)
                    send(t, "Home")
                    t.keys(*["Down"] * row + ["Enter"])
                    wait(t, lambda s: s[0].startswith("--- " + h.shown(tree.path(name))), name)
                    t.keys("r")
                    wait(t, lambda s: "new" in "".join(s[1:4]), name + " read again")
                    self.assertEqual(total(t.screen()), before + 4 * (row + 1))
                    if name == "a":
                        # k is said to have several names where the listing tells (Windows'
                        # never does).
                        t.keys("i")
                        s = wait(t, lambda s: s[0].startswith("Path:"), "k's info box")
                        self.assertEqual("Hard link: one of several names of one file" in s,
                                         not h.WINDOWS)
                        t.keys("Escape")
                    t.keys("Left")
                    self.first_screen(t)
                t.keys("T")
                s = wait(t, lambda s: s[0].startswith("The largest"), "the largest")
                self.assertEqual(s[2], "> 20.0 K       file  c.bin")
                t.keys("Escape")
                send(t, "End")
                t.keys("d", "y")
                wait(t, lambda s: s[24].startswith(" Total") and total(s) == before + 8 - 20,
                     "the total without c.bin")
                t.keys("T")
                s = wait(t, lambda s: s[0].startswith("The largest"), "the largest again")
                self.assertNotIn("c.bin", "".join(s))
                self.assertRegex(s[2], r"^> 8\.0 K {8}file  [ab].k2?$")
                t.keys("q", "q")
                self.assertEqual(t.exit_code(), 0)
        finally:
            tree.__exit__()

    def test_directory_swapped_for_a_link_while_deleted_leaves_the_outside_alone(self):
        """d, y on doomed/, which holds bigN/ (thousands of files, listed first) and victim/:
        once bigN/ starts to empty, a thread moves victim/ away and puts a link to outside/
        (beside the start directory) in its place. A delete that followed the link would empty
        outside/. Natively the link goes as a link. Wine (8.0) opens a Unix link as its target
        even with FILE_FLAG_OPEN_REPARSE_POINT (outside/'s file id, no reparse-point attribute),
        so it cannot remove the link itself: the handle is not the folder the listing held, and
        the link is left and named. Where the swap came too late, the tree grows and it is
        tried again."""
        for count in (5000, 20000, 80000):
            tree = h.Tree({"keep.txt": 4096, "doomed/victim/v1": 10, "doomed/victim/v2": 10})
            try:
                doomed, victim = tree.path("doomed"), tree.path("doomed/victim")
                outside, parked = (os.path.join(tree.base, n) for n in ("outside", "parked"))
                os.mkdir(outside)
                for name in ("o1", "o2", "o3"):
                    h.write_file(os.path.join(outside, name), 100)

                def outside_files():
                    return {e.name: (e.inode(), e.stat().st_size, e.stat().st_mtime_ns)
                            for e in os.scandir(outside)}
                before = outside_files()
                # bigN/ before victim/ in the directory's order (the native listing's) and by
                # name (Wine sorts its listings).
                for i in range(64):
                    big = os.path.join(doomed, "big%d" % i)
                    os.mkdir(big)
                    if os.listdir(doomed)[0] == "big%d" % i:
                        break
                    os.rmdir(big)
                for i in range(count):
                    h.write_file(os.path.join(big, "f%d" % i), 0)
                swap = {}

                def swapper():
                    end = time.time() + 120
                    try:
                        while len(os.listdir(big)) == count:
                            if time.time() > end:
                                return
                            time.sleep(0.001)
                        os.rename(victim, parked)
                        os.symlink(outside, victim)
                        # victim/ whole, and bigN/ not yet empty with the link in place: the
                        # delete is still to reach victim/, and finds the link there.
                        swap["in time"] = (sorted(os.listdir(parked)) == ["v1", "v2"] and
                                           len(os.listdir(big)) > 0)
                    except OSError:
                        pass

                with h.Terminal([h.arg(tree.root), "-browse"]) as t:
                    self.first_screen(t)
                    t.keys("d")
                    wait(t, lambda s: s[0].startswith("Delete the directory doomed/"), "the box")
                    thread = threading.Thread(target=swapper)
                    thread.start()
                    t.keys("y")
                    thread.join()
                    s = wait(t, lambda s: s[0].startswith("Not deleted") or
                             s[0].startswith("--- ") and "doomed/" not in "\n".join(s),
                             "the end of the delete", timeout=600)
                    t.keys("Space", "q")
                    self.assertEqual(t.exit_code(), 0)
                if not swap.get("in time"):
                    continue
                self.assertEqual(outside_files(), before)
                if not os.path.lexists(victim):
                    self.assertFalse(os.path.exists(doomed))
                    return
                self.assertTrue(h.WINDOWS and os.path.islink(victim), "the link was left")
                self.assertEqual(s[0:2], ["Not deleted (1):", "  doomed\\victim: A link that "
                                          "the system opens as its target, so it is left as it is"])
                return
            finally:
                tree.__exit__()
        self.fail("victim/ was never swapped before the delete reached it")

    def test_since_marks_and_x_for_only_what_changed(self):
        # a/ moved to b/ since the saved scan, c/ is as it was: b/ is marked and says from
        # where; x leaves out c/ and the files, and brings them back.
        tree = h.Tree({"a/f": 40960, "c/g": 8192, "h.txt": 4096})
        try:
            dump = os.path.join(tree.base, "old.json")
            self.assertEqual(h.run(["-p", "-save=" + h.arg(dump), h.arg(tree.root)]).returncode, 0)
            os.rename(tree.path("a"), tree.path("b"))
            with h.Terminal([h.arg(tree.root), "-browse", "-since=" + h.arg(dump)]) as t:
                s = self.first_screen(t)
                self.assertEqual([l.split()[-1] for l in s[1:4]], ["a", "c/", "h.txt"])
                self.assertRegex(s[1], r"^ +44\.0 K  \d+% \[#+ *\]  +0 B moved +1  b/   "
                                       r"moved from a$")
                t.keys("x")
                s = wait(t, lambda s: s[2] == "", "only what changed")
                self.assertTrue(s[1].endswith("moved from a"), s[1])
                t.keys("x")
                wait(t, lambda s: s[3].endswith("h.txt"), "all again")
                t.keys("q")
                self.assertEqual(t.exit_code(), 0)
        finally:
            tree.__exit__()

    def test_saved_scan_and_nodelete_refuse_with_a_word(self):
        dump = os.path.join(self.tree.base, "scan.json")
        self.assertEqual(h.run([h.arg(self.tree.root), "-save=" + h.arg(dump)]).returncode, 0)
        for args, word in (([h.arg(self.tree.root), "-browse", "-nodelete"], "-nodelete is set"),
                           (["-from=" + h.arg(dump), "-browse"],
                            "the tree comes from a saved scan; its files are not here")):
            with h.Terminal(args) as t:
                self.first_screen(t)
                t.keys("d")
                wait(t, lambda s: s[0] == "Nothing is deleted: %s." % word, word)
                t.keys("Space")
                self.first_screen(t)
                t.keys("q")
                self.assertEqual(t.exit_code(), 0)
        self.assertTrue(os.path.exists(self.tree.path("big/b1")))

    def test_refused_without_a_terminal(self):
        r = h.run([h.arg(self.tree.root), "-browse"])
        self.assertEqual((r.returncode, r.stdout), (1, b""))
        self.assertEqual(h.lines(r.stderr),
                         [b"quorvel: -browse needs a terminal; standard output is not one"])


class WidthTable(unittest.TestCase):
    @unittest.skipIf(h.WINDOWS, "one table serves both builds: checked with the native tests")
    @unittest.skipIf(data_version() is None, "Unicode's data files (package unicode-data) are "
                     "not installed in " + UNICODE_DATA)
    def test_checked_in_table_is_what_the_generator_makes_of_unicode_s_data(self):
        # Guards a table edited by hand, or a generator changed without the table made again.
        if data_version() != table_version():
            self.skipTest("the table is of Unicode %s, the installed data of %s"
                          % (table_version(), data_version()))
        r = subprocess.run([sys.executable, os.path.join(h.SOURCE, "console",
                                                         "display_width_table.py"),
                            "--check", UNICODE_DATA], stderr=subprocess.PIPE)
        self.assertEqual((r.returncode, r.stderr), (0, b""))


if __name__ == "__main__":
    h.main()
