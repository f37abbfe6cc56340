"""The report on a real terminal (tmux) against the same report redirected: no title line and no
form-feed line on the terminal, graphic tree characters there and plain ones in a file."""
import os
import pty
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


class RecordedTerminal(h.Terminal):
    """h.Terminal whose program runs under script(1), so every byte it writes to the terminal
    is recorded in self.log as well as shown on the screen."""

    def __init__(self, args, width=100, height=30):
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
        program = " ".join(shlex.quote(c) for c in h.command(args))
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
