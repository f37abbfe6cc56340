"""Directories the user may not read, with the program run as an unprivileged user (root reads
everything, so the test drops to uid 65534 with setpriv): no message in the report, zero figures,
the rest of the tree still right, and after the report, on standard error, a line naming each
with the system's reason and one that counts them; exit code 1, since the report lacks them. A
start directory that cannot be read makes no report at all."""
import fcntl
import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness as h
import spine_common as s

UID = 65534  # nobody
ONE = "1 directory could not be read; it counts as empty."


def _nobody_wine_prefix():
    """A Wine prefix owned by the unprivileged user (Wine refuses a prefix of another user)."""
    prefix = os.path.join(h.BUILD, "wineprefix-nobody")
    with open(os.path.join(h.BUILD, "wineprefix-nobody.lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(prefix, "system.reg")):
            os.makedirs(prefix, exist_ok=True)
            os.chown(prefix, UID, UID)
            env = _env(prefix)
            subprocess.run(_drop([h.WINE, "wineboot", "-i"]), env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=300)
            subprocess.run(_drop(["wineserver", "-w"]), env=env, timeout=300)
        h.keep_wine_server(_env(prefix), before=_drop([]))
    return prefix


def _env(prefix=None):
    e = dict(os.environ)
    e.pop("QUORVEL", None)
    e.update(s.LOCALE)
    e["XDG_CONFIG_HOME"] = "/nonexistent"
    if h.WINDOWS:
        e = h.wine_env(e)
        e["WINEPREFIX"] = prefix
        e["HOME"] = prefix
    return e


def _drop(argv):
    if os.geteuid() != 0:
        return argv
    return ["setpriv", "--reuid=%d" % UID, "--regid=%d" % UID, "--clear-groups"] + argv


def _why_not():
    """None when the test can run, else the reason it cannot."""
    if os.geteuid() == 0 and shutil.which("setpriv") is None:
        return "running as root without setpriv: cannot drop privileges to test unreadable directories"
    if os.geteuid() == 0:
        r = subprocess.run(_drop(["test", "-x", h.exe()]), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        if r.returncode != 0:
            return "uid %d cannot reach %s: cannot test unreadable directories" % (UID, h.exe())
    return None


REASON = _why_not()


@unittest.skipIf(REASON is not None, REASON or "")
class UnreadableDirectories(unittest.TestCase):
    def wine_prefix(self):
        if h.WINDOWS and os.geteuid() == 0:
            return _nobody_wine_prefix()
        if h.WINDOWS:
            h._warm_wine()
            return os.path.join(h.BUILD, "wineprefix")
        return None

    def run_as_user(self, path, named, closing):
        """The report of path; named: the directories the error output names (in the scan's
        order, which follows the file system's), each followed by ": " and the system's reason;
        closing: the count line after them."""
        r = subprocess.run(_drop(h.command([h.arg(path)])), env=_env(self.wine_prefix()),
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=300)
        self.assertEqual(r.returncode, 1, r.stderr)
        errors = r.stderr.decode().splitlines()
        self.assertEqual(len(errors), len(named) + (1 if closing else 0), errors)
        leads = sorted(h.arg(path) + h.SEP + ": " for path in named)
        for line, lead in zip(sorted(errors[:len(named)]), leads):
            self.assertTrue(line.startswith(lead) and len(line) > len(lead), (line, lead))
        if closing:
            self.assertEqual(errors[-1], closing)
        return s.Parsed(r.stdout)

    def open_to_all(self, t):
        os.chmod(t.base, 0o755)
        r = subprocess.run(_drop(["test", "-r", t.root, "-a", "-x", t.root]),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if r.returncode != 0:
            why = "uid %d cannot reach the scratch folder %s (TMPDIR)" % (UID, t.base)
            sys.stderr.write("SKIPPED: %s\n" % why)
            self.skipTest(why)

    def test_unreadable_subdirectory_shows_zeros_without_message(self):
        # Access denied is not "path not found": no message, no entry-table charge, and the
        # directory still has its line.
        with h.Tree({"locked/secret": 5000, "locked/inner/more": 100, "open/f": 3000}) as t:
            self.open_to_all(t)
            os.chmod(t.path("locked"), 0)
            p = self.run_as_user(t.root, [t.path("locked")], ONE)
            self.assertEqual(p.messages, [])
            c = h.cluster_size(t.root)
            R = lambda n: s.round_up(n, c)
            root_local = R(4 * 32)
            open_dir = R(3000) + R(96)
            self.assertEqual(p.tree(), [
                s.line(root_local, root_local - 128, 0, s.shown(t.root), root_local + open_dir),
                b"             0    0%      0  |--locked",
                s.line(open_dir, open_dir - 3000 - 96, 1, b"+--open"),
            ])
            self.assertEqual(p.footer()[1][22:27], b"    1")

    def test_unreadable_start_directory_makes_no_report(self):
        # Guards an empty report with exit code 0 that passes for an empty directory: one line
        # names it, and there is no report.
        with h.Tree({"secret": 5000}) as t:
            self.open_to_all(t)
            os.chmod(t.root, 0)
            p = self.run_as_user(t.root, [t.root], None)
            self.assertEqual(p.messages, [])
            self.assertEqual(p.report, [])
            self.assertEqual(p.last, b"\f")


    def test_several_are_counted_once_each(self):
        # A directory that may be entered but not listed (execute without read) cannot be read
        # either; what lies below a locked directory is never seen, so it is not counted.
        with h.Tree({"a/x/y": None, "b/f": 10, "c/f": 10, "d": None}) as t:
            self.open_to_all(t)
            os.chmod(t.path("a"), 0)
            os.chmod(t.path("b"), 0o333)
            p = self.run_as_user(t.root, [t.path("b"), t.path("a")],
                                 "2 directories could not be read; they count as empty.")
            self.assertEqual(len(p.tree()), 5)

    def test_ten_are_named_and_the_rest_counted(self):
        # Guards pages of names on the error output: ten, then how many more.
        with h.Tree({"d%02d/f" % i: 10 for i in range(12)}) as t:
            self.open_to_all(t)
            for i in range(12):
                os.chmod(t.path("d%02d" % i), 0)
            r = subprocess.run(_drop(h.command([h.arg(t.root)])), env=_env(self.wine_prefix()),
                               stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
            self.assertEqual(r.returncode, 1, r.stderr)
            errors = r.stderr.decode().splitlines()
            self.assertEqual(errors[10:], ["and 2 more",
                                           "12 directories could not be read; they count as empty."])
            lead = h.arg(t.path("d"))
            self.assertTrue(all(l.startswith(lead) for l in errors[:10]), errors)

    def test_closing_line_follows_quitting_the_scroller(self):
        # Guards the line lost when the report ends by a key instead of its last page, or
        # written under the scroller where the next page would paint over it.
        with h.Tree({"locked/f": 10, "open/f": 10}) as t:
            self.open_to_all(t)
            os.chmod(t.path("locked"), 0)
            prefix = ["env", "WINEPREFIX=" + self.wine_prefix(), "HOME=" + self.wine_prefix()] \
                if h.WINDOWS else []
            with h.Terminal([h.arg(t.root)], prefix=_drop(prefix)) as term:
                term.wait_for("[U]nits [Esc]")
                self.assertNotIn(ONE, "\n".join(term.screen()))
                term.keys("q")
                self.assertEqual(term.exit_code(), 1)
                screen = term.screen()
                self.assertIn(ONE, screen)
                named = h.arg(t.path("locked")) + h.SEP + ": "
                self.assertTrue(any(l.startswith(named) for l in screen), screen)


if __name__ == "__main__":
    if REASON:
        sys.stderr.write("SKIPPED: %s\n" % REASON)
    h.main()
