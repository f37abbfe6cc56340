"""The report on a real terminal (tmux) against the same report redirected: no title line and no
form-feed line on the terminal, graphic tree characters there and plain ones in a file."""
import os
import pty
import re
import select
import shlex
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness as h
import spine_common as s


STATUS = b"   Reading directory, press [Ctrl+C] to cancel"
COUNTED = re.compile(r"^.  Reading directory, press \[Ctrl\+C\] to cancel  "
                     r"([\d,]+) dirs?  ([\d,]+) files?  \d+(\.\d)? [BKMGTPE]$")
SLOW_READER = ("import signal, sys, time\nsignal.signal(signal.SIGINT, signal.SIG_IGN)\n"
               "while sys.stdin.buffer.read(2048):\n    time.sleep(0.02)\n")


class RecordedTerminal(h.Terminal):
    """h.Terminal whose program runs under script(1), so every byte it writes to the terminal
    is recorded in self.log as well as shown on the screen."""

    def __init__(self, args, width=100, height=30, after=""):
        h._warm_wine()
        # Without a session kept open, the server of the last test's session may be shutting
        # down as this one starts, and refuse it.
        h.keep_tmux_server()
        self.session = "quorvel-spine-%d-%d" % (os.getpid(), int(time.time() * 1000) % 1000000)
        self.rc_file = tempfile.mktemp(prefix="quorvel-rc-")
        self.log = tempfile.mktemp(prefix="quorvel-log-")
        e = dict(os.environ)
        e.pop("QUORVEL", None)
        e.pop("TMUX", None)
        e.setdefault("XDG_CONFIG_HOME", os.path.join(h.BUILD, "e2e-config-empty"))
        e.update(s.LOCALE)
        if h.WINDOWS:
            e = h.wine_env(e)
        e["TERM"] = "xterm"
        program = " ".join(shlex.quote(c) for c in h.command(args)) + after
        shell = "script -qfec %s %s; echo $? > %s; sleep 600" % (
            shlex.quote(program), shlex.quote(self.log), shlex.quote(self.rc_file))
        self.env = e
        subprocess.run(["tmux", "-f", "/dev/null", "new-session", "-d", "-s", self.session,
                        "-x", str(width), "-y", str(height)] + h.tmux_environment(e) +
                       ["sh", "-c", shell], env=e, check=True)

    def recorded(self):
        with open(self.log, "rb") as f:
            data = f.read()
        # script(1) frames the session with a line of its own before and after.
        first = data.find(b"\n") + 1
        done = data.rfind(b"\nScript done")
        return data[first:done if done >= 0 else len(data)]

    def close(self):
        super().close()
        try:
            os.unlink(self.log)
        except OSError:
            pass


@unittest.skipIf(subprocess.run(["sh", "-c", "command -v tmux && command -v script"],
                                stdout=subprocess.DEVNULL).returncode != 0,
                 "tmux or script(1) is missing: the terminal cannot be tested")
class TerminalAgainstRedirected(unittest.TestCase):
    TREE = {"alpha/one": 3000, "beta/two/three": 100, "gamma": None}

    def test_terminal_has_no_title_and_draws_graphic_tree(self):
        # Guards the redirection test: a terminal must not get the title, the plain
        # characters or the form-feed line meant for files.
        with h.Tree(self.TREE) as t, RecordedTerminal([h.arg(t.root)]) as term:
            screen = term.wait_for("Capacity:")
            self.assertFalse(any("Quorvel report, created at" in l for l in screen), screen)
            header = [i for i, l in enumerate(screen) if l == s.HEADER.decode()]
            self.assertEqual(len(header), 1, screen)
            k = header[0]
            rule = "\u2500" * 14 + "  " + "\u2500" * 4 + "  " + "\u2500" * 5 + "  " + "\u2500" * 40
            self.assertEqual(screen[k + 1], rule)
            self.assertIn("  " + h.shown(t.root) + "   [", screen[k + 2])
            self.assertTrue(screen[k + 3].endswith("  \u251c\u2500\u2500alpha"), screen[k + 3])
            self.assertIn("  \u251c\u2500\u2500beta   [", screen[k + 4])
            self.assertTrue(screen[k + 5].endswith("  \u2502  \u2514\u2500\u2500two"), screen[k + 5])
            self.assertTrue(screen[k + 6].endswith("  \u2514\u2500\u2500gamma"), screen[k + 6])
            # The scroller (or a straight pass) has shown everything; leave it.
            term.keys("q")
            self.assertEqual(term.exit_code(), 0)
            raw = term.recorded()
            self.assertNotIn(b"\f", raw)
            self.assertNotIn(s.TITLE, raw)
            if not h.WINDOWS:
                # The status text, 46 backspaces to its first column, and there the spinner's
                # first character and a backspace (Wine's console redraws instead of echoing).
                self.assertIn(STATUS + b"\b" * 46 + b"|\b", raw)

    def test_redirected_has_title_plain_tree_and_form_feed(self):
        with h.Tree(self.TREE) as t:
            r = s.run([h.arg(t.root)])
            p = s.Parsed(r.stdout)
            self.assertEqual(p.last, b"\f")
            tree = p.tree()
            self.assertTrue(tree[1].endswith(b"  |--alpha"), tree[1])
            self.assertTrue(tree[3].endswith(b"  |  +--two"), tree[3])
            self.assertTrue(tree[4].endswith(b"  +--gamma"), tree[4])
            self.assertNotIn(b"\xe2\x94", r.stdout)
            self.assertNotIn(b"\xc4", r.stdout)
            # Status text goes to a console only: never into the file, nor a piped error stream.
            self.assertNotIn(b"Reading directory", r.stdout)
            self.assertNotIn(b"Reading directory", r.stderr)

    def test_same_figures_on_terminal_and_redirected(self):
        with h.Tree(self.TREE) as t:
            plain = s.Parsed(s.run([h.arg(t.root)]).stdout).tree()
            with RecordedTerminal([h.arg(t.root)]) as term:
                screen = term.wait_for("Capacity:")
                term.keys("q")
                term.exit_code()
            k = screen.index(s.HEADER.decode())
            for i, want in enumerate(plain):
                # The figures (the first 29 columns) match exactly.
                self.assertEqual(screen[k + 2 + i][:29], want[:29].decode(), screen)


    # The counts on the status line, seen while the scan is held: natively its dump (-save=-)
    # goes to a reader taking 2 KB every 20 ms; under Wine, whose console gives a program with
    # redirected output no status text, 3,000 directories take seconds to read.
    def held(self, width=100):
        t = h.Tree({"t%d/%04d%s" % (i, j, "x" * 40): None for i in (0, 1) for j in range(1500)})
        self.addCleanup(t.__exit__, None, None, None)
        if h.WINDOWS:
            return RecordedTerminal(["-p", "-d1", h.arg(t.root)], width)
        slow = " | python3 -c %s > /dev/null" % shlex.quote(SLOW_READER)
        return RecordedTerminal(["-save=-", t.root], width, after=slow)

    def counts(self, term, old=" "):  # the status row with counts other than old's; dirs, files
        end = time.time() + 60
        while time.time() < end:
            row = next((l for l in term.screen() if COUNTED.match(l)), "")
            if row[1:] not in ("", old[1:]):
                return row, [int(n.replace(",", "")) for n in COUNTED.match(row).groups()[:2]]
            time.sleep(0.05)
        raise AssertionError("no new counts on the status line: %s" % term.screen())

    def test_scan_shows_what_it_has_read_until_ctrl_c_blanks_all_of_it(self):
        with self.held() as term:
            row, (dirs, files) = self.counts(term)
            self.assertTrue(row[1:].startswith(STATUS.decode()[1:] + "  "), row)
            self.assertEqual(files, 0)  # directories alone: "." and ".." are no files
            row, (later, _) = self.counts(term, row)  # drawn again as the scan goes on
            self.assertTrue(dirs < later <= 3003, row)
            term.keys("C-c")  # the ending signal's handler blanks it, the console's on Windows
            term.exit_code(timeout=120)
            left = [l for l in term.screen() if re.search(r"Reading |  \d+(\.\d)? [BKMGTPE]$", l)]
            self.assertEqual(left, [])

    def test_narrow_screen_cuts_the_status_text_and_shows_no_counts(self):
        with self.held(width=40) as term:
            term.wait_for("Reading directory")
            for _ in range(10):  # cut short of the last column, nothing on the next row
                screen = term.screen() + [""]
                k = next((k for k, l in enumerate(screen) if "Reading" in l), None)
                if k is not None:
                    self.assertEqual(screen[k][1:] + screen[k + 1], STATUS.decode()[1:39], screen)
                time.sleep(0.1)


@unittest.skipIf(h.WINDOWS, "the Windows console ends the program itself on Ctrl+C")
class Interrupted(unittest.TestCase):
    def test_interrupt_during_the_scan_blanks_the_status_text(self):
        # Guards "Reading directory, press [Ctrl+C] to cancel" left on the terminal when the
        # scan is interrupted. The scan is held in the middle: its messages (directories past
        # the path budget) fill a pipe nobody reads, while the status text stands on the error
        # output, a terminal. Ctrl+C (SIGINT) and SIGTERM must blank it before the end.
        base = tempfile.mkdtemp(prefix="q", dir="/tmp")
        try:
            deep = os.path.join(base, *(["n" * 250] * 16))
            os.makedirs(deep)
            fd = os.open(deep, os.O_RDONLY | os.O_DIRECTORY)
            for i in range(60):
                os.mkdir("%03d" % i + "x" * 200, dir_fd=fd)
            os.close(fd)
            for sig in (signal.SIGINT, signal.SIGTERM):
                master, slave = pty.openpty()
                p = subprocess.Popen(h.command(["-p", base]), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=slave,
                                     env=dict(os.environ, XDG_CONFIG_HOME="/nonexistent"))
                os.close(slave)
                shown = b""
                end = time.time() + 60
                while STATUS not in shown and time.time() < end:
                    if select.select([master], [], [], 1)[0]:
                        shown += os.read(master, 4096)
                time.sleep(0.5)  # the scan is now waiting for the pipe
                self.assertIsNone(p.poll(), "the scan was not held")
                p.send_signal(sig)
                self.assertEqual(p.wait(timeout=60), -sig)
                while select.select([master], [], [], 1)[0]:
                    try:
                        chunk = os.read(master, 4096)
                    except OSError:
                        break
                    if not chunk:
                        break
                    shown += chunk
                os.close(master)
                p.stdout.close()
                self.assertIn(STATUS, shown)
                self.assertTrue(shown.replace(b"\r", b"").endswith(b" " * 46 + b"\b" * 46), shown)
        finally:
            subprocess.run(["rm", "-rf", base])


if __name__ == "__main__":
    h.main()
