"""The terminal is left exactly as it was found: the mode that `stty -a` shows after the program
has ended, whichever way it ended (q, Escape, leaving at the end of the report, Ctrl+C at a key
prompt or during the scan, a broken pipe, the pager's Escape), is the mode from before the run.
Also: status text and prompts never reach a redirected file, and a stopped program (Ctrl+Z)
hands the shell back its own mode."""
import os
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness as h

STATUS = "Up,Down,PgUp,PgDn,Home,End [W]aste:[D]isplay [F]iles [A]scii [U]nits [Esc]"
PAGER = "-- [Enter] & [Space]=line, [End]=continuous, [Esc]=exit, [j] & [k]=line --"
INTERRUPTED = 128 + signal.SIGINT  # the shell's status for a program ended by Ctrl+C


class Shell(h.Terminal):
    """A tmux session running a shell script around one run of the program: the terminal's mode
    is saved before and after it, and its exit status kept. `program` is the text that runs the
    program (shell syntax around it allowed: redirections, pipes), {Q} standing for its
    command and {D} for a scratch folder of the session's own."""

    counter = 0

    def __init__(self, program, args, width=100, height=25):
        h._warm_wine()
        Shell.counter += 1
        self.session = "quorvel-term-%d-%d" % (os.getpid(), Shell.counter)
        self.dir = tempfile.mkdtemp(prefix="quorvel-term-")
        self.rc_file = os.path.join(self.dir, "rc")
        e = dict(os.environ)
        e.pop("QUORVEL", None)
        e.pop("TMUX", None)
        e.setdefault("XDG_CONFIG_HOME", os.path.join(h.BUILD, "e2e-config-empty"))
        if h.WINDOWS:
            e = h.wine_env(e)
        e["TERM"] = "xterm"
        self.env = e
        q = " ".join(shlex.quote(c) for c in h.command(args))
        d = shlex.quote(self.dir)
        # The trap keeps the shell itself alive through Ctrl+C (the program gets the default
        # action back when it starts), so that the mode after the run can still be read.
        after = "stty -a > %s/after" % d
        if h.WINDOWS:
            # Wine's console process, not the program, owns the terminal there and hands it
            # back as it closes, which may be just after the program has ended.
            after = ("for i in $(seq 30); do %s; cmp -s %s/before %s/after && break; "
                     "sleep 0.1; done") % (after, d, d)
        script = ("trap : INT; stty -a > %s/before; %s; s=$?; %s; echo $s > %s/rc; sleep 600"
                  % (d, program.format(Q=q, D=d), after, d))
        subprocess.run(["tmux", "-f", "/dev/null", "new-session", "-d", "-s", self.session,
                        "-x", str(width), "-y", str(height)] + h.tmux_environment(e) +
                       ["sh", "-c", script], env=e, check=True)

    def file(self, name):
        return os.path.join(self.dir, name)

    def mode(self, name):
        with open(self.file(name)) as f:
            return f.read()

    def close(self):
        subprocess.run(["tmux", "kill-session", "-t", self.session], stderr=subprocess.DEVNULL)
        shutil.rmtree(self.dir, ignore_errors=True)


def setUpModule():
    h.keep_tmux_server()


@unittest.skipIf(shutil.which("tmux") is None, "tmux is missing: the terminal cannot be tested")
class ModeAfterTheRun(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        entries = {"d%02d/f" % i: 100 * i for i in range(40)}
        cls.tree = h.Tree(entries)
        cls.small = h.Tree({"one/f": 10})

    @classmethod
    def tearDownClass(cls):
        cls.tree.__exit__()
        cls.small.__exit__()

    def ended_in_the_same_mode(self, term, code=0):
        rc = term.exit_code()
        if code is not None:
            self.assertEqual(rc, code, "\n".join(term.screen()))
        self.assertEqual(term.mode("before"), term.mode("after"))
        return rc

    def test_q_at_the_scroller(self):
        # The mode a key is awaited in must not outlive the program.
        with Shell("{Q}", [h.arg(self.tree.root)]) as t:
            t.wait_for(STATUS)
            t.keys("q")
            self.ended_in_the_same_mode(t)

    def test_escape_at_the_scroller(self):
        # A lone Escape is told from the start of a key's sequence only by waiting; it still
        # quits, and the mode is put back.
        with Shell("{Q}", [h.arg(self.tree.root)]) as t:
            t.wait_for(STATUS)
            t.keys("Escape")
            self.ended_in_the_same_mode(t)

    def test_leaving_at_the_end_of_the_report(self):
        with Shell("{Q}", [h.arg(self.small.root)]) as t:
            t.wait_for("100% " + STATUS)
            t.keys("Space")
            self.ended_in_the_same_mode(t)

    def test_q_and_ctrl_c_in_the_browser(self):
        # The browser awaits its keys in the same mode: left with q, or ended by Ctrl+C, the
        # terminal is as it was.
        with Shell("{Q}", [h.arg(self.small.root), "-browse"]) as t:
            t.wait_for("? help")
            t.keys("q")
            self.ended_in_the_same_mode(t)
        with Shell("{Q}", [h.arg(self.small.root), "-browse"]) as t:
            t.wait_for("? help")
            t.keys("C-c")
            rc = self.ended_in_the_same_mode(t, code=None)
            if not h.WINDOWS:
                self.assertEqual(rc, INTERRUPTED)

    def test_ctrl_c_while_a_key_is_awaited(self):
        # The interrupt arrives while the terminal is in the key mode: the handler must put the
        # saved mode back before the program ends.
        with Shell("{Q}", [h.arg(self.tree.root)]) as t:
            t.wait_for(STATUS)
            t.keys("C-c")
            rc = self.ended_in_the_same_mode(t, code=None)
            if not h.WINDOWS:
                self.assertEqual(rc, INTERRUPTED)

    @unittest.skipIf(h.WINDOWS, "under Wine the scan of Z:\\ would also read /proc and /sys")
    def test_ctrl_c_during_a_long_scan(self):
        # The whole root file system takes seconds to read; Ctrl+C must end the scan at once
        # and leave the terminal as it was.
        with Shell("{Q}", ["/"]) as t:
            t.wait_for("Reading directory")
            t.keys("C-c")
            rc = t.exit_code()
            if any(STATUS in l for l in t.screen()):
                self.skipTest("the scan ended before Ctrl+C reached it")
            self.assertEqual(rc, INTERRUPTED)
            self.assertEqual(t.mode("before"), t.mode("after"))

    def test_broken_pipe(self):
        # The reader goes away after 100 bytes of a report far larger than a pipe holds: the
        # program must end quietly, not hang, and leave the terminal alone.
        with h.Tree({"d%04d" % i: None for i in range(3000)}) as big:
            program = "{{ {Q}; echo $? > {D}/program-rc; }} | head -c 100 > /dev/null"
            with Shell(program, [h.arg(big.root)]) as t:
                self.ended_in_the_same_mode(t)
                with open(t.file("program-rc")) as f:
                    rc = int(f.read())
                # Ended by the broken pipe's signal, or having seen the failed write: status 0.
                self.assertIn(rc, (0, 128 + signal.SIGPIPE))
                self.assertFalse(any("cannot write" in l for l in t.screen()), t.screen())

    def test_keyboard_that_cannot_be_read(self):
        # Standard input is not a terminal: every read fails and reports End. The scroller
        # shows the last page once and ends instead of repainting it for ever.
        with Shell("{Q} < /dev/null", [h.arg(self.tree.root)]) as t:
            self.ended_in_the_same_mode(t)
            self.assertTrue(any(l.startswith("       Capacity:") for l in t.screen()), t.screen())

    def test_pager_prompt(self):
        # The help text is longer than the screen, so the pager stops for a key; leaving there
        # restores the mode just as the scroller does.
        with Shell("{Q}", ["?"]) as t:
            t.wait_for(PAGER)
            t.keys("Escape")
            self.ended_in_the_same_mode(t)

    def test_ctrl_c_at_the_pager_prompt(self):
        with Shell("{Q}", ["?"]) as t:
            t.wait_for(PAGER)
            t.keys("C-c")
            rc = self.ended_in_the_same_mode(t, code=None)
            if not h.WINDOWS:
                self.assertEqual(rc, INTERRUPTED)


@unittest.skipIf(shutil.which("tmux") is None, "tmux is missing: the terminal cannot be tested")
class RedirectedFromATerminal(unittest.TestCase):
    def test_status_line_and_prompts_never_reach_the_file(self):
        # Standard input and error are the terminal, standard output a file: the straight pass
        # runs without waiting for a key, and the file holds the report's lines only.
        with h.Tree({"d%02d/x" % i: 10 for i in range(60)}) as t:
            with Shell("{Q} > {D}/out.txt", [h.arg(t.root)]) as term:
                self.assertEqual(term.exit_code(), 0)
                with open(term.file("out.txt"), "rb") as f:
                    out = f.read()
        self.assertNotIn(b"\b", out)
        self.assertNotIn(STATUS.encode(), out)
        self.assertNotIn(b"Reading directory", out)
        lines = h.lines(out)
        self.assertTrue(lines[2].startswith(b"Quorvel report, created at "), lines[:4])
        self.assertEqual(len(lines), 2 + 2 + 2 + 61 + 9 + 1)  # banner, title, report, form feed
        self.assertEqual(lines[-1], b"\f")


    def test_status_text_is_erased_when_the_report_goes_to_a_file_or_a_pipe(self):
        # The status text is written to the terminal with backspaces: nothing wrote over it
        # when the report went elsewhere, and the shell's next line read "doneeading directory,
        # press [Ctrl+C] to cancel". (Under Wine a program whose output is redirected gets no
        # console for its error output, so no status text is shown there at all.)
        with h.Tree({"a/f": 10}) as t:
            with Shell("{Q} > {D}/out.txt; echo done; {Q} -p | tail -1 >/dev/null; echo piped",
                       [h.arg(t.root)]) as term:
                self.assertEqual(term.exit_code(), 0)
                screen = term.screen()
        self.assertFalse(any("Reading directory" in l for l in screen), screen)
        self.assertIn("done", screen)
        self.assertIn("piped", screen)

    def test_a_message_on_the_terminal_is_not_repeated_on_standard_error(self):
        # Standard output is the terminal: the user has seen the message once.
        with Shell("{Q} 2> {D}/err.txt", [h.arg("/no/such/dir")]) as term:
            self.assertEqual(term.exit_code(), 1)
            with open(term.file("err.txt"), "rb") as f:
                self.assertEqual(f.read(), b"")
            self.assertTrue(any(l.startswith("Path was not found") for l in term.screen()))


@unittest.skipIf(shutil.which("tmux") is None or shutil.which("bash") is None or h.WINDOWS,
                 "needs tmux and bash for job control; the Windows console has no Ctrl+Z stop")
class ContinuedAfterCtrlZ(unittest.TestCase):
    def test_fg_draws_the_page_again(self):
        # Only a resize redrew the page: after fg the shell's "Stopped" and "fg" lines stayed
        # where the report had been until Ctrl+L.
        with h.Tree({"d%02d/f" % i: 10 for i in range(40)}) as t, InteractiveBash() as term:
            term.keys(" ".join(shlex.quote(c) for c in h.command([t.root])), "Enter")
            term.wait_for("[Esc]")
            term.keys("C-z")
            term.wait_for("Stopped")
            term.keys("fg", "Enter")
            end = time.time() + 10
            while time.time() < end:
                screen = term.screen()
                if screen[0].startswith(" Total-no subs") and "[Esc]" in screen[19]:
                    break
                time.sleep(0.1)
            # A full page from the report's first line, the status line on the last row.
            self.assertTrue(screen[0].startswith(" Total-no subs"), screen)
            self.assertIn(t.root + "   [", screen[2])
            self.assertIn("[Esc]", screen[19])
            self.assertFalse(any("Stopped" in l or l.endswith(" fg") for l in screen), screen)
            term.keys("q")


class InteractiveBash(h.Terminal):
    """A tmux session of 100 x 20 running an interactive bash, with job control, for keys typed
    as a user types them."""

    def __init__(self):
        self.session = "quorvel-bash-%d" % os.getpid()
        self.rc_file = os.devnull
        env = dict(os.environ, TERM="xterm", PS1="$ ",
                   XDG_CONFIG_HOME=os.path.join(h.BUILD, "e2e-config-empty"))
        env.pop("QUORVEL", None)
        env.pop("TMUX", None)
        subprocess.run(["tmux", "-f", "/dev/null", "new-session", "-d", "-s", self.session,
                        "-x", "100", "-y", "20"] + h.tmux_environment(env) +
                       ["bash", "--norc", "--noprofile", "-i"], env=env, check=True)

    def close(self):
        subprocess.run(["tmux", "kill-session", "-t", self.session], stderr=subprocess.DEVNULL)


@unittest.skipIf(not hasattr(os, "forkpty") or h.WINDOWS, "needs a POSIX pseudo-terminal")
class StoppedWhileAKeyIsAwaited(unittest.TestCase):
    """Ctrl+Z at the key prompt: while the program is stopped the shell must get the terminal
    in its own mode, and when it is continued the key wait goes on. Run in a pseudo-terminal
    of its own, with the program in a process group of its own in the foreground, as a job
    shell would run it."""

    def test_mode_while_stopped_and_after_continuing(self):
        import termios
        with h.Tree({"a/f": 10, "b/f": 20}) as t:
            pid, master = os.forkpty()
            if pid == 0:
                try:
                    child = os.fork()
                    if child == 0:
                        os.setpgid(0, 0)
                        signal.signal(signal.SIGTTOU, signal.SIG_IGN)
                        os.tcsetpgrp(0, os.getpid())
                        signal.signal(signal.SIGTTOU, signal.SIG_DFL)
                        config = os.path.join(h.BUILD, "e2e-config-empty")
                        env = dict(os.environ, XDG_CONFIG_HOME=config)
                        env.pop("QUORVEL", None)
                        os.execve(h.exe(), [h.exe(), t.root], env)
                    while True:
                        _, status = os.waitpid(child, os.WUNTRACED | os.WCONTINUED)
                        if os.WIFEXITED(status) or os.WIFSIGNALED(status):
                            os._exit(os.WEXITSTATUS(status) if os.WIFEXITED(status) else 99)
                finally:
                    os._exit(98)
            try:
                import fcntl
                import struct
                fcntl.ioctl(master, termios.TIOCSWINSZ, struct.pack("HHHH", 25, 100, 0, 0))
                cooked = termios.tcgetattr(master)
                self.assertTrue(cooked[3] & termios.ICANON)
                self.read_until(master, STATUS.encode())
                program = os.tcgetpgrp(master)
                # The status line is written just before the key mode is set.
                self.wait_mode(master, None, "the key mode while the prompt waits")
                os.killpg(program, signal.SIGTSTP)
                self.wait_mode(master, cooked, "the shell's mode while the program is stopped")
                os.killpg(program, signal.SIGCONT)
                self.wait_mode(master, None, "the key mode again after continuing")
                os.write(master, b"q")
                _, status = os.waitpid(pid, 0)
                self.assertEqual(os.WEXITSTATUS(status), 0)
                self.assertEqual(termios.tcgetattr(master), cooked)
            finally:
                try:
                    os.kill(pid, signal.SIGKILL)
                except OSError:
                    pass
                os.close(master)

    def read_until(self, fd, text, timeout=20):
        seen = b""
        end = time.time() + timeout
        while time.time() < end and text not in seen:
            try:
                seen += os.read(fd, 4096)
            except OSError:
                break
        self.assertIn(text, seen)

    def wait_mode(self, fd, want, what, timeout=5):
        import termios
        end = time.time() + timeout
        while time.time() < end:
            mode = termios.tcgetattr(fd)
            key_mode = not mode[3] & termios.ICANON
            if (want is not None and mode == want) or (want is None and key_mode):
                return
            time.sleep(0.05)
        self.fail(what)


if __name__ == "__main__":
    h.main()
