"""Standard streams that do not behave: a reader that goes away, a device that is full, and a
keyboard that is not there while the report pages on a terminal."""
import os
import shlex
import signal
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness as h

FAILED_WRITE = b"quorvel: cannot write to standard output"


def environment():
    e = dict(os.environ)
    e.pop("QUORVEL", None)
    e["XDG_CONFIG_HOME"] = os.path.join(h.BUILD, "e2e-config-empty")
    return h.wine_env(e) if h.WINDOWS else e


class WithoutKeyboard(h.Terminal):
    """The program in a terminal whose standard input is /dev/null: the harness's terminal,
    with the program started through a shell that redirects its input."""

    def __init__(self, args, **kw):
        inner = " ".join(shlex.quote(c) for c in h.command(args))
        original = h.command
        h.command = lambda a, name="quorvel": ["sh", "-c", "exec %s </dev/null" % inner]
        try:
            super().__init__(args, **kw)
        finally:
            h.command = original


class Streams(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        h._warm_wine()
        # Enough directories for a report well beyond any pipe's buffer.
        cls.tree = h.Tree()
        for i in range(3000):
            cls.tree.add("directory-with-a-long-name-%05d" % i)

    @classmethod
    def tearDownClass(cls):
        cls.tree.__exit__(None, None, None)

    def read_one_line_and_close(self, ignore_sigpipe=False):
        pre = (lambda: signal.signal(signal.SIGPIPE, signal.SIG_IGN)) if ignore_sigpipe else None
        p = subprocess.Popen(h.command([h.arg(self.tree.root)]), env=environment(),
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, preexec_fn=pre)
        first = p.stdout.readline()
        p.stdout.close()
        err = p.stderr.read()
        p.stderr.close()
        p.wait(timeout=120)
        self.assertTrue(first.startswith(b"Quorvel "), first)
        self.assertEqual(err, b"")
        return p.returncode

    def test_closed_pipe_ends_quietly(self):
        # Guards "quorvel DIR | head -1" printing an error or claiming a failure: a reader that
        # has had enough is no fault. Linux ends by the broken-pipe signal, as its tools do.
        rc = self.read_one_line_and_close()
        self.assertIn(rc, (0,) if h.WINDOWS else (0, -signal.SIGPIPE))

    @unittest.skipIf(h.WINDOWS, "the broken-pipe signal exists on Linux only")
    def test_closed_pipe_with_the_signal_ignored_ends_quietly_with_code_0(self):
        # With the signal ignored (as some shells and services do) the write fails instead.
        self.assertEqual(self.read_one_line_and_close(ignore_sigpipe=True), 0)

    def full_device(self, args, before=()):
        with open("/dev/full", "wb") as full:
            r = subprocess.run(h.command(args), env=environment(), stdin=subprocess.DEVNULL,
                               stdout=full, stderr=subprocess.PIPE, timeout=120)
        self.assertEqual(r.returncode, 1)
        self.assertEqual([l.rstrip(b"\r") for l in r.stderr.split(b"\n") if l],
                         list(before) + [FAILED_WRITE])

    def test_full_device_is_a_failure(self):
        # Guards a report lost on a full disk while the exit code says it was written: one
        # line on standard error and exit code 1, for a report and for a lone message (which,
        # as standard output is no terminal, is said there first).
        self.full_device([h.arg(self.tree.root)])
        missing = h.arg(self.tree.path("no-such-directory"))
        self.full_device([missing], [b"quorvel: Path was not found (maximum path length "
                                     b"exceeded?): " + (missing + h.SEP).encode()])

    def test_standard_input_not_a_terminal_while_paging(self):
        # Guards a pager or scroller that waits for ever on a keyboard that is not there, or
        # repaints the last page without end: the pager's first prompt reads End and writes
        # on, the scroller shows the last page and stops, and the program ends with code 0.
        with h.Tree({"a": 10, "sub/b": 20}) as t:
            args = ["-sort=bogus%d" % i for i in range(30)] + [h.arg(t.root)]
            with WithoutKeyboard(args) as term:
                self.assertEqual(term.exit_code(timeout=60), 0)
                # The last page is the whole report; no prompt is left behind.
                screen = "\n".join(term.screen())
                self.assertIn("Directory name", screen)
                self.assertIn("Capacity:", screen)
                self.assertNotIn("[End]=continuous", screen)
                self.assertNotIn("[U]nits [Esc]", screen)


if __name__ == "__main__":
    h.main()
