"""Hostile trees, end to end: strange and long names, paths at the budget of 4095 bytes, deep
and huge directories, link loops, unreadable corners, special files, and start directories that
are no directories. The program must end with code 0 (1 when there is no directory to report, or
when the report lacks a directory it could not read or had to skip), never hang, and keep the
figures of everything it could read right."""
import os
import resource
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

    def check_rows(self, root, cluster=4096, padded=False, code=0):
        """Every directory's figures in wastage mode equal the rounding rule."""
        want, _ = expected_figures(root, cluster, padded=padded)
        given = h.padded_arg(root) if padded else h.arg(root)
        rows = table_rows(self.run_ok(["-tab", "-cl=%d" % cluster, given], code=code).stdout,
                          root, padded)
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
        # Those it cannot open are named on the error output, and the exit code says that the
        # report lacks them.
        with h.Tree() as t:
            self.every_byte_tree(t)
            r = self.run_ok(["-dir", h.arg(t.root)], code=1)
            self.assertIn(b"directories could not be read", r.stderr)
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
            # The report lacks the skipped ones: exit code 1.
            r = self.run_ok(["-dir", h.padded_arg(start)], code=1)
            out = h.lines(r.stdout)
            self.assertEqual(out.count(SKIPPED), 3)
            shown = os.fsencode(h.padded_arg(start)) + SEP
            for skipped in (shown + b"z" * 255, shown + b"b" * (fit + 1),
                            shown + b"a" * fit + SEP + b"c"):
                self.assertIn(TOO_LONG + skipped, out)
                self.assertEqual(out[out.index(TOO_LONG + skipped) + 1], SKIPPED)
            self.assertEqual(totals_line(r.stdout)[:2], (16, 2))
            self.assertEqual(len(report_lines(r.stdout)), 5)
            self.check_rows(start, padded=True, code=1)

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
            r = self.run_ok(["-dir", h.padded_arg(t.root)], code=1)
            self.assertEqual(h.lines(r.stdout).count(SKIPPED), 1)
            self.assertEqual(totals_line(r.stdout)[:2], (read, read))
            self.check_rows(t.root, padded=True, code=1)
            r = self.run_ok(["-dir", "-3", h.padded_arg(t.root)], code=1)
            lines = report_lines(r.stdout)
            self.assertEqual(len(lines), 4)
            self.assertTrue(lines[-1].endswith(b"d ...   [%s]" % "{:,}".format(read - 2).encode()),
                            lines[-1])

    def test_the_deepest_tree_on_a_small_stack(self):
        # Guards a crash (SIGSEGV, no output) on the deepest tree the path budget lets the scan
        # read: every walk of the tree (the scan, the release, each report form and the
        # scroller) takes the same stack at any depth. Linux: one-letter names past the budget
        # (about 2,040 levels read) under "ulimit -s 256", read in line and ahead; Windows:
        # 2,000 levels (Wine opens no longer path) with the program's own stack, in one form
        # (Wine looks every component up again at each open: one scan takes minutes).
        levels = 2000 if h.WINDOWS else 2060
        with ShortTree() as t:
            t.add("/".join(["d"] * levels))
            read = sum(1 for w in expected_figures(t.root, 4096, exact=True)[0].values())
            if not h.WINDOWS:
                self.assertLess(read, levels, "the tree must pass the budget")
            # Past the budget, a directory is skipped: the report says so with exit code 1.
            code = 0 if h.WINDOWS else 1
            small_stack = None if h.WINDOWS else (lambda: resource.setrlimit(
                resource.RLIMIT_STACK, (256 * 1024, 256 * 1024)))
            row = b'"' + os.fsencode(h.arg(t.root))  # each row of -tab and -comma begins its path
            forms = ("-json",) if h.WINDOWS else ("-p", "-tab", "-comma", "-csv", "-json")
            for threads in ((1,) if h.WINDOWS else (1, 8)):
                for form in forms:
                    env = dict(os.environ, QUORVEL_THREADS=str(threads),
                               XDG_CONFIG_HOME=os.path.join(h.BUILD, "e2e-config-empty"))
                    env.pop("QUORVEL", None)
                    if h.WINDOWS:
                        env = h.wine_env(env)
                    r = subprocess.run(h.command([form, h.arg(t.root)]), env=env,
                                       preexec_fn=small_stack, stdin=subprocess.DEVNULL,
                                       capture_output=True, timeout=600)
                    what = (threads, form, r.stderr[-300:])
                    self.assertEqual(r.returncode, code, what)
                    if form == "-p":
                        self.assertEqual(len(report_lines(r.stdout)), read, what)
                    elif form == "-csv":
                        self.assertEqual(r.stdout.count(b"\n"), 1 + read, what)
                    elif form == "-json":
                        # Each directory opens a line; the deepest closes them all.
                        self.assertEqual(r.stdout.count(b'\n{"name": '), read, what)
                        self.assertTrue(r.stdout.endswith(b"[]}" + b"\n]}" * (read - 1) +
                                                          b"\n}\n"), what)
                    else:
                        self.assertEqual(r.stdout.count(row), read, what)
            if not h.WINDOWS and shutil.which("tmux"):
                # The scroller: the whole tree paged through to its end, then left.
                prefix = ["sh", "-c", 'ulimit -s 256 && exec "$0" "$@"']
                with h.Terminal([h.arg(t.root)], prefix=prefix) as term:
                    term.wait_for("[U]nits [Esc]")
                    term.keys("End")
                    term.wait_for("Capacity:")
                    term.keys("q")
                    self.assertEqual(term.exit_code(), 1)

    @unittest.skipIf(h.WINDOWS, "descriptor limits are a POSIX matter")
    def test_no_descriptor_left_for_the_start_directory(self):
        # Guards an empty report with exit code 0 when the start directory could not even be
        # opened (ulimit -n 3): one line names it with the system's reason, and no report.
        with open(os.path.join(h.BUILD, "CMakeCache.txt")) as f:
            cache = f.read()
        if "QUORVEL_SANITIZE:BOOL=ON" in cache or "QUORVEL_TSAN:BOOL=ON" in cache:
            self.skipTest("a sanitizer's build loads shared libraries: it cannot start "
                          "with three descriptors")
        with h.Tree({"a/f": 10}) as t:
            env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(h.BUILD, "e2e-config-empty"))
            env.pop("QUORVEL", None)
            r = subprocess.run(h.command([t.root]), env=env, stdin=subprocess.DEVNULL,
                               capture_output=True, timeout=60, preexec_fn=lambda:
                               resource.setrlimit(resource.RLIMIT_NOFILE, (3, 3)))
            self.assertEqual(r.returncode, 1, r.stderr)
            self.assertEqual(r.stderr, os.fsencode(t.root) + b"/: Too many open files\n")
            self.assertNotIn(b" Total-no subs", r.stdout)
            self.assertEqual(h.lines(r.stdout)[-1], b"\f")

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
        # Guards a denied directory giving a message in the report, an entry-table charge or
        # figures of the files it hides, and a report that lacks it passing for whole (exit 0).
        # Root reads everything, so the program runs as an unprivileged user.
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
            self.assertEqual(r.returncode, 1, r.stderr[-2000:])
            self.assertTrue(r.stderr.startswith(os.fsencode(h.arg(t.path("locked"))) + SEP + b": "),
                            r.stderr)
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
        if h.WINDOWS and not os.path.exists(os.path.join(env["WINEPREFIX"], "system.reg")):
            # The user's first Wine program makes its prefix and says so on standard error:
            # made here, those lines stay out of the program's own.
            subprocess.run(drop + [h.WINE, "wineboot", "-i"], env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
            subprocess.run(drop + ["wineserver", "-w"], env=env, timeout=300)
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
        # code 1). Windows: the enumeration fails otherwise (error 123), so the directory could
        # not be read: no report either, one line naming it on the error output, code 1.
        with h.Tree({"file": 1000}) as t:
            r = self.run_ok([h.arg(t.path("file"))], code=1)
            out = h.lines(r.stdout)
            if h.WINDOWS:
                self.assertNotIn(NOT_FOUND, r.stdout)
                self.assertNotIn(b" Total-no subs", r.stdout)
                named = os.fsencode(h.arg(t.path("file"))) + SEP + b": "
                self.assertTrue(r.stderr.startswith(named), r.stderr)
                self.assertEqual(r.stderr.count(b"\n"), 1, r.stderr)
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
