"""Hostile trees, end to end: strange and long names, paths at the budget of 4095 bytes, deep
and huge directories, link loops, unreadable corners, special files, and start directories that
are no directories. The program must end with code 0 (1 when there is no directory to report),
never hang, and keep the figures of everything it could read right."""
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness as h
from test_figures import expected_figures, shown_length, table_rows, totals_line

SKIPPED = b"Path skipped"
NOT_FOUND = b"Path was not found (maximum path length exceeded?): "
BUDGET = h.PATH_BUDGET
ROOM = h.PATTERN_ROOM
TOO_LONG = b"Maximum path length of %d exceeded for directory " % BUDGET
SEP = h.SEP.encode()


def report_lines(output):
    """The lines of a redirected screen report between its header and its footer rule."""
    out = h.lines(output)
    start = next(i for i, l in enumerate(out) if l.startswith(b" Total-no subs"))
    end = next(i for i in range(start + 2, len(out)) if out[i].startswith(b"---"))
    return out[start + 2:end]


class ShortTree(h.Tree):
    """A tree whose root path is short (/tmp/qXXXXXXXX/root), for depth tests near the budget."""

    def __init__(self):
        self.base = tempfile.mkdtemp(prefix="q", dir="/tmp")
        self.root = os.path.join(self.base, "root")
        os.mkdir(self.root)


class HostileTrees(unittest.TestCase):
    def run_ok(self, args, timeout=120, code=0):
        r = h.run(args, timeout=timeout)
        self.assertEqual(r.returncode, code, r.stderr[-2000:])
        self.assertEqual(h.lines(r.stdout)[-1], b"\f")
        return r

    def check_rows(self, root, cluster=4096, padded=False):
        """Every directory's figures in wastage mode equal the rounding rule."""
        want, _ = expected_figures(root, cluster, padded=padded)
        given = h.padded_arg(root) if padded else h.arg(root)
        rows = table_rows(self.run_ok(["-tab", "-cl=%d" % cluster, given]).stdout, root, padded)
        self.assertEqual(rows, {p: (w[0], w[1], w[3]) for p, w in want.items()})

    @unittest.skipIf(h.WINDOWS, "Linux names: Windows forbids many of these bytes")
    def test_names_with_every_byte_value(self):
        # Guards names cut at a control byte, bytes above 127 taken as negative, and a name
        # with a line end breaking the walk. Each byte 1..255 but "/" names one directory.
        with h.Tree() as t:
            self.every_byte_tree(t)
            r = self.run_ok(["-dir", h.arg(t.root)])
            self.assertEqual(totals_line(r.stdout)[:2], (254 * 100 + 7, 255))
            connectors = r.stdout.count(b"|--n") + r.stdout.count(b"+--n")
            self.assertEqual(connectors, 254)

    @unittest.skipUnless(h.WINDOWS, "the Windows view of Linux names")
    def test_names_with_every_byte_value_under_wine(self):
        # Wine shows names Windows cannot hold in its own way or not at all: every directory
        # still has its line, the ordinary names are all read, and every file counted is right.
        with h.Tree() as t:
            self.every_byte_tree(t)
            r = self.run_ok(["-dir", h.arg(t.root)])
            grand, files, _, _ = totals_line(r.stdout)
            ordinary = [b for b in range(0x21, 0x7F) if chr(b) not in '\\/:*?"<>|.']
            self.assertGreaterEqual(files, len(ordinary))
            self.assertIn(grand, (100 * files, 100 * (files - 1) + 7))
            self.assertEqual(len(report_lines(r.stdout)), 1 + 254)

    def every_byte_tree(self, t):
        for b in range(1, 256):
            if b == ord("/"):
                continue
            name = b"n" + bytes([b])
            os.mkdir(os.path.join(os.fsencode(t.root), name))
            with open(os.path.join(os.fsencode(t.root), name, b"f"), "wb") as f:
                f.write(b"x" * 100)
        # One file whose name holds all of them at once: 254 bytes.
        with open(os.path.join(os.fsencode(t.root), bytes(b for b in range(1, 256) if b != 47)), "wb") as f:
            f.write(b"y" * 7)

    def test_long_names_and_the_path_budget(self):
        # Guards the budget check being off by one, a skipped directory losing its line, and
        # a 255-byte name overrunning a bounded string. "a..." fits exactly (its path and what
        # its enumeration adds make the budget), "b..." is one over, and inside "a..." no
        # subdirectory fits any more. On Linux the start directory lies deep enough below the
        # scratch folder that a name of at most 255 bytes reaches the 4095-byte budget.
        measured = lambda path: shown_length(path) + len(h.PATH_PAD)
        with h.Tree() as t:
            rel = ""
            while BUDGET - ROOM - (measured(t.path(rel)) + 1) > 450:
                rel = os.path.join(rel, "p" * 200)
            room = BUDGET - ROOM - (measured(t.path(rel)) + 1)
            if room > 250:
                rel = os.path.join(rel, "q" * (room - 240 - 1))
            start = t.add(rel) if rel else t.root
            here = (rel + "/") if rel else ""
            fit = BUDGET - ROOM - (measured(start) + 1)
            self.assertLessEqual(fit, 255)
            t.add(here + "x" * 255, 5)
            t.add(here + "z" * 255)
            t.add(here + "a" * fit + "/file", 11)
            t.add(here + "a" * fit + "/c/deeper", 13)
            t.add(here + "b" * (fit + 1) + "/file", 17)
            r = self.run_ok(["-dir", h.padded_arg(start)])
            out = h.lines(r.stdout)
            self.assertEqual(out.count(SKIPPED), 3)
            shown = os.fsencode(h.padded_arg(start)) + SEP
            for skipped in (shown + b"z" * 255, shown + b"b" * (fit + 1),
                            shown + b"a" * fit + SEP + b"c"):
                self.assertIn(TOO_LONG + skipped, out)
                self.assertEqual(out[out.index(TOO_LONG + skipped) + 1], SKIPPED)
            self.assertEqual(totals_line(r.stdout)[:2], (16, 2))
            self.assertEqual(len(report_lines(r.stdout)), 5)
            self.check_rows(start, padded=True)

    def test_deeper_than_the_budget(self):
        # Guards recursion that breaks deep down and a budget check that lets a path grow past
        # the budget: the levels that fit are read, the first that does not is skipped once,
        # and the depth limit still folds everything below it. 2,060 levels pass the 4095
        # bytes on Linux; under Wine, which looks every component of a path up again at each
        # open, 200 levels of longer names do.
        with ShortTree() as t:
            rel = ""
            for level in range(200 if h.WINDOWS else 2060):
                rel = os.path.join(rel, "d" * 20 if h.WINDOWS else "d")
                t.add(os.path.join(rel, "f"), 1)
            want, totals = expected_figures(t.root, 4096, exact=True, padded=True)
            read = sum(1 for w in want.values() if w[2])
            r = self.run_ok(["-dir", h.padded_arg(t.root)])
            self.assertEqual(h.lines(r.stdout).count(SKIPPED), 1)
            self.assertEqual(totals_line(r.stdout)[:2], (read, read))
            self.check_rows(t.root, padded=True)
            r = self.run_ok(["-dir", "-3", h.padded_arg(t.root)])
            lines = report_lines(r.stdout)
            self.assertEqual(len(lines), 4)
            self.assertTrue(lines[-1].endswith(b"d ...   [%s]" % "{:,}".format(read - 2).encode()),
                            lines[-1])

    def test_directory_of_100000_entries(self):
        # Guards an entry counter or file column that overflows, and a listing read in one
        # fixed-size batch. Hard links keep the tree quick to make.
        with h.Tree({"small": 0, "large": 3000}) as t:
            big = t.add("big")
            for i in range(100000):
                os.link(t.path("small" if i % 2 else "large"), os.path.join(big, "f%06d" % i))
            r = self.run_ok(["-dir", h.arg(t.root)], timeout=300)
            self.assertEqual(totals_line(r.stdout)[:2], (50001 * 3000, 100002))
            big_line = [l for l in report_lines(r.stdout) if l.endswith(b"--big")]
            self.assertEqual(len(big_line), 1)
            self.assertIn(b" 100,000  ", big_line[0])
            self.check_rows(t.root)

    def test_symbolic_link_loop(self):
        # Guards a scan that follows a loop for ever: links are not followed and count as files
        # of their listed size (their own on Linux, 0 under Wine, which does not list a link to
        # itself at all).
        with h.Tree({"a/file": 10}) as t:
            os.symlink("..", t.path("a/loop"))
            os.symlink("self", t.path("self"))
            r = self.run_ok(["-dir", h.arg(t.root)], timeout=120)
            self.assertEqual(h.lines(r.stdout).count(SKIPPED), 0)
            self.assertEqual(len(report_lines(r.stdout)), 2)
            self.assertEqual(totals_line(r.stdout)[:2], (10, 2) if h.WINDOWS else (10 + 2 + 4, 3))
            if not h.WINDOWS:
                self.check_rows(t.root)

    def test_directory_without_read_or_execute_permission(self):
        # Guards a denied directory giving a message, an entry-table charge or figures of the
        # files it hides. Root reads everything, so the program runs as an unprivileged user.
        if os.getuid() != 0:
            user = None
        else:
            user = 65534
        with h.Tree({"locked/hidden": 5000, "locked/sub/more": 7000, "open/file": 100}) as t:
            os.chmod(t.base, 0o755)
            for d in (t.root, t.path("open")):
                os.chmod(d, 0o755)
            os.chmod(t.path("locked"), 0)
            args = ["-tab", "-cl=4096", h.arg(t.root)]
            r = self.run_as(user, args)
            self.assertEqual(r.returncode, 0, r.stderr[-2000:])
            rows = table_rows(r.stdout, t.root)
            self.assertEqual(rows["locked"], (0, 0, 0))
            self.assertEqual(rows["open"], (8192, 4096 - 100 + 4096 - 96, 8192))
            self.assertEqual(rows[""][0], 4096)  # "." "..", locked, open: 128 bytes
            self.assertEqual(rows[""][2], 4096 + 8192)
            self.assertNotIn(NOT_FOUND, r.stdout)

    def run_as(self, uid, args):
        """Runs the program as uid (None: as this user), checking first that it can."""
        if uid is None:
            return h.run(args)
        if not shutil.which("setpriv"):
            self.skipTest("setpriv is missing: cannot run as an unprivileged user")
        drop = ["setpriv", "--reuid=%d" % uid, "--regid=%d" % uid, "--clear-groups", "--"]
        env = dict(os.environ)
        env.pop("QUORVEL", None)
        env["XDG_CONFIG_HOME"] = os.path.join(h.BUILD, "e2e-config-empty")
        if h.WINDOWS:
            home = os.path.join(h.BUILD, "e2e-unprivileged-home")
            os.makedirs(home, exist_ok=True)
            os.chown(home, uid, uid)
            env = h.wine_env(env)
            env["HOME"] = home
            env["WINEPREFIX"] = os.path.join(home, "wineprefix")
        probe = subprocess.run(drop + ["test", "-x", h.exe()], env=env)
        if probe.returncode != 0:
            self.skipTest("the unprivileged user cannot reach %s" % h.exe())
        return subprocess.run(drop + h.command(args), env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)

    def test_fifo_and_device_node_count_as_files_unopened(self):
        # Guards a scan that opens what it measures: reading a FIFO would wait for ever.
        with h.Tree({"plain": 3}) as t:
            os.mkfifo(t.path("pipe"))
            expected = 2
            try:
                os.mknod(t.path("device"), stat.S_IFCHR | 0o600, os.makedev(1, 3))
                expected = 3
            except OSError as e:
                print("device node not made (%s): checking the FIFO alone" % e, file=sys.stderr)
            r = self.run_ok(["-dir", h.arg(t.root)], timeout=60)
            self.assertEqual(totals_line(r.stdout)[:2], (3, expected))

    def test_start_directory_is_a_file(self):
        # Linux: opening a file as a directory is "path not found" (the message, no report,
        # code 1). Windows: the enumeration fails otherwise (error 123), so the report shows an
        # empty directory without a message, and the closing line says it could not be read.
        with h.Tree({"file": 1000}) as t:
            r = self.run_ok([h.arg(t.path("file"))], code=0 if h.WINDOWS else 1)
            out = h.lines(r.stdout)
            if h.WINDOWS:
                self.assertNotIn(NOT_FOUND, r.stdout)
                self.assertEqual(len(report_lines(r.stdout)), 1)
                self.assertEqual(totals_line(r.stdout)[1], 0)
                self.assertEqual(r.stderr, b"1 directory could not be read; it counts as empty.\r\n")
            else:
                self.assertIn(NOT_FOUND + os.fsencode(h.arg(t.path("file"))) + SEP, out)
                self.assertNotIn(b" Total-no subs", r.stdout)

    def test_start_directory_removed_between_runs(self):
        # Guards a run on a vanished directory that reports stale or invented figures.
        with h.Tree({"a/file": 10}) as t:
            self.assertEqual(totals_line(self.run_ok(["-dir", h.arg(t.root)]).stdout)[1], 1)
            shutil.rmtree(t.root)
            r = self.run_ok(["-dir", h.arg(t.root)], code=1)
            self.assertIn(NOT_FOUND + os.fsencode(h.arg(t.root)) + SEP, h.lines(r.stdout))
            self.assertNotIn(b" Total-no subs", r.stdout)


if __name__ == "__main__":
    h.main()
