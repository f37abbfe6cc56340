"""The launch options and Quillpost: their messages, exit code 0 (1 when nothing could be
started), and what reached the shell.
Natively a stand-in xdg-open records its argument; under Wine, ShellExecuteA hands mail URLs to
xdg-email and web addresses to xdg-open, and for files the call itself is read from Wine's
trace of it."""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness as h
import params_support as p

MANUAL = os.path.join(h.BUILD, "quorvel.txt")


def shell_call_trace(target):
    """The line Wine's exec trace writes for ShellExecuteA(null, null, target, "", "", 5):
    empty strings for parameters and directory, never null. The null window is a pointer of
    the build's width."""
    null = "0" * (16 if h.PLATFORM == "win64" else 8)
    return ('ShellExecuteA %s,(null),"%s","","",5' % (null, target.replace("\\", "\\\\"))).encode()


class LaunchOptions(unittest.TestCase):
    def launch(self, args, message, openers, **kw):
        r = p.run(args, extra_env=openers.env, **kw)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(h.lines(r.stdout), [p.BANNER, b"", message])
        return r

    def test_penwick_opens_the_home_page(self):
        with p.Openers() as o:
            self.launch(["-penwick"], b"Starting Web browser to show Penwick Software home page.", o)
            self.assertEqual(o.calls(), ["xdg-open " + p.HOME_PAGE])

    def test_mail_opens_a_message_to_the_author(self):
        with p.Openers() as o:
            self.launch(["-MAILME"], b"Starting mail program", o)
            opener = p.mail_opener()
            self.assertEqual(o.calls(), [opener + " " + p.MAIL_URL])

    def test_manual_opens_the_text_beside_the_program(self):
        # The build must put the manual there, or the option opens nothing.
        self.assertTrue(os.path.isfile(MANUAL))
        with open(MANUAL, "rb") as f:
            self.assertIn(b"-sort=", f.read())
        with p.Openers() as o:
            if h.WINDOWS:
                # Wine's prefix has no program for .txt files: the shell answers 31 (no
                # association), and the launch says it could not start the manual.
                r = p.run(["-manual"], extra_env=o.env, winedebug="-all,+exec")
                self.assertIn(shell_call_trace(h.arg(MANUAL)), r.stderr)
                self.assertEqual(r.returncode, 1)
                self.assertEqual(h.lines(r.stdout)[2:],
                                 [b"Starting program to display Quorvel user manual.",
                                  b"Could not start " + h.arg(MANUAL).encode()])
            else:
                self.launch(["-manual"], b"Starting program to display Quorvel user manual.", o)
                self.assertEqual(o.calls(), ["xdg-open " + MANUAL])

    @unittest.skipUnless(h.WINDOWS, "Windows starts config.exe beside the program")
    def test_config_starts_the_configuration_program_beside_this_one(self):
        # The shell, not CreateProcess, must start it, as Explorer would: it then has a console
        # of its own (Wine gives it one, as Windows does).
        with p.Openers() as o:
            r = self.launch(["-config"], b"Starting Quorvel configuration program", o,
                            winedebug="-all,+exec,+process")
            target = h.arg(os.path.join(h.BUILD, "config.exe"))
            self.assertIn(shell_call_trace(target), r.stderr)
            started = 'NtCreateUserProcess L"%s" pid ' % ("\\??\\" + target).replace("\\", "\\\\")
            self.assertIn(started.encode(), r.stderr)

    @unittest.skipIf(h.WINDOWS, "the stored-defaults file is the POSIX build's")
    def test_config_opens_the_stored_defaults_file_creating_it(self):
        with p.Openers() as o, p.Sources(extra_env=o.env) as s:
            path = os.path.join(s.config, "quorvel", "DefaultParams")
            r = s.run(["-config"])
            self.assertEqual(h.lines(r.stdout)[2:], [b"Starting Quorvel configuration program"])
            self.assertEqual(o.calls(), ["xdg-open " + path])
            self.assertEqual(os.path.getsize(path), 0)
            # An existing file is opened as it is, never emptied.
            with open(path, "w") as f:
                f.write("-nowaste")
            s.run(["-CONFIGURE"])
            self.assertEqual(o.calls(2)[1], "xdg-open " + path)
            with open(path) as f:
                self.assertEqual(f.read(), "-nowaste")

    def test_launch_in_the_variable_ends_before_the_command_line(self):
        with p.Openers() as o:
            self.launch(["-w"], b"Starting Web browser to show Penwick Software home page.", o,
                        variable="-penwick -mail")
            self.assertEqual(len(o.calls()), 1)

    def test_launch_in_the_stored_string_ends_before_the_variable(self):
        with p.Openers() as o:
            self.launch(["-w"], b"Starting Web browser to show Penwick Software home page.", o,
                        stored="-penwick", variable="-w")
            self.assertEqual(o.calls(), ["xdg-open " + p.HOME_PAGE])

    @unittest.skipIf(h.WINDOWS, "how Wine starts its browser is Wine's")
    def test_launch_does_not_wait_for_the_opened_program(self):
        # A slow opener must neither hold the program nor keep its output stream open.
        with p.Openers() as o:
            slow = os.path.join(o.folder, "xdg-open")
            with open(slow, "w") as f:
                f.write('#!/bin/sh\nsleep 8\necho "$*" >> "%s"\n' % o.log)
            start = time.time()
            self.launch(["-penwick"], b"Starting Web browser to show Penwick Software home page.", o)
            self.assertLess(time.time() - start, 5)

    def test_a_target_that_cannot_start_is_said_and_ends_with_code_1(self):
        # Guards a launch that failed passing for a success: natively no xdg-open is on PATH;
        # on Windows a copy of the program has no config.exe beside it.
        with h.Tree({}) as empty:
            if h.WINDOWS:
                shutil.copy(h.exe(), empty.root)
                target = h.arg(os.path.join(empty.root, "config.exe"))
                r = subprocess.run([h.WINE, os.path.join(empty.root, "quorvel.exe"), "-config"],
                                   env=h.wine_env(), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
                started = b"Starting Quorvel configuration program"
            else:
                target = p.HOME_PAGE
                r = p.run(["-penwick"], extra_env={"PATH": empty.root})
                started = b"Starting Web browser to show Penwick Software home page."
            self.assertEqual(r.returncode, 1)
            self.assertEqual(h.lines(r.stdout)[2:], [started, b"Could not start " + target.encode()])
            self.assertIn(b"quorvel: Could not start " + target.encode() + h.EOL, r.stderr)


@unittest.skipIf(h.WINDOWS, "Windows opens both through the shell, in a terminal too")
class TerminalPrograms(unittest.TestCase):
    """-config and -manual in a terminal run the user's editor or pager and wait for it."""

    def setUp(self):
        self.openers = p.Openers()
        self.config = tempfile.mkdtemp(prefix="quorvel-config-")
        self.log = os.path.join(self.openers.folder, "log")

    def tearDown(self):
        self.openers.__exit__()
        shutil.rmtree(self.config, ignore_errors=True)

    def stand_in(self, name):
        """A program that logs its name and arguments, whether its input is the terminal, then
        a second line once it has taken a moment (so a program that does not wait is seen)."""
        path = os.path.join(self.openers.folder, name)
        with open(path, "w") as f:
            f.write('#!/bin/sh\n[ -t 0 ] && tty=tty || tty=notty\n'
                    'printf "%%s %%s %%s\\n" %s "$tty" "$*" >> "%s"\n'
                    'trap \'echo %s interrupted >> "%s"\' INT\n%s 1\necho %s done >> "%s"\n'
                    % (name, self.log, name, self.log, shutil.which("sleep"), name, self.log))
        os.chmod(path, 0o755)
        return path

    def launch(self, option, variables, interrupt=False):
        """Runs the option in a terminal with only the openers' folder on PATH and the given
        variables (VISUAL, EDITOR and PAGER otherwise unset); returns the logged lines."""
        prefix = ["env", "-u", "VISUAL", "-u", "EDITOR", "-u", "PAGER",
                  "PATH=" + self.openers.folder, "XDG_CONFIG_HOME=" + self.config]
        prefix += ["%s=%s" % kv for kv in variables.items()]
        status = os.path.join(self.config, "status")
        if interrupt:
            # Ctrl+C reaches the harness's own shell too, which then ends; bash records the
            # program's status first, and only ends itself when the program died of it.
            prefix = ["bash", "-c", '"$@"; echo $? > %s' % status, "bash"] + prefix
        with h.Terminal([option], prefix=prefix) as term:
            term.wait_for("Starting ")
            if not interrupt:
                self.assertEqual(term.exit_code(), 0)
                return self.openers.calls()
            time.sleep(0.3)
            term.keys("C-c")
            end = time.time() + 20
            while not os.path.exists(status) and time.time() < end:
                time.sleep(0.1)
            self.assertTrue(os.path.exists(status), "the program died of Ctrl+C")
            with open(status) as f:
                self.assertEqual(f.read().strip(), "0")
        return self.openers.calls()

    def test_config_runs_editor_with_arguments_and_waits(self):
        # Guards EDITOR="code --wait" taken as one program name, the file handed to xdg-open
        # in a terminal, and a program that ends before the editor does.
        editor = self.stand_in("ed-stand-in")
        target = os.path.join(self.config, "quorvel", "DefaultParams")
        self.assertEqual(self.launch("-config", {"EDITOR": editor + " --wait"}),
                         ["ed-stand-in tty --wait " + target, "ed-stand-in done"])
        self.assertEqual(os.path.getsize(target), 0)

    def test_visual_first_then_editor_then_the_fallbacks(self):
        visual, editor = self.stand_in("visual-stand-in"), self.stand_in("editor-stand-in")
        target = os.path.join(self.config, "quorvel", "DefaultParams")
        self.assertEqual(self.launch("-config", {"VISUAL": visual, "EDITOR": editor})[0],
                         "visual-stand-in tty " + target)
        # A VISUAL that cannot be started passes to EDITOR.
        os.unlink(self.log)
        self.assertEqual(self.launch("-config", {"VISUAL": "/nonexistent/ed", "EDITOR": editor})[0],
                         "editor-stand-in tty " + target)
        # Neither set: "editor", and with no editor at all the shell's opener as before.
        os.unlink(self.log)
        self.stand_in("editor")
        self.stand_in("vi")
        self.assertEqual(self.launch("-config", {})[0], "editor tty " + target)
        for name in ("editor", "vi"):
            os.unlink(os.path.join(self.openers.folder, name))
        os.unlink(self.log)
        self.assertEqual(self.launch("-config", {}), ["xdg-open " + target])

    def test_manual_runs_pager_with_arguments_else_less(self):
        pager = self.stand_in("pager-stand-in")
        self.assertEqual(self.launch("-manual", {"PAGER": pager + " -R"})[0],
                         "pager-stand-in tty -R " + MANUAL)
        os.unlink(self.log)
        self.stand_in("less")
        self.stand_in("more")
        self.assertEqual(self.launch("-manual", {"PAGER": ""})[0], "less tty " + MANUAL)

    @unittest.skipIf(shutil.which("bash") is None, "bash records the status past Ctrl+C")
    def test_ctrl_c_is_for_the_program_running(self):
        # Guards Quorvel dying of Ctrl+C while the pager still holds the terminal: it waits
        # for the pager, which decides what Ctrl+C means, and ends with code 0 after it.
        pager = self.stand_in("pager-stand-in")
        log = self.launch("-manual", {"PAGER": pager}, interrupt=True)
        self.assertEqual(log[1:], ["pager-stand-in interrupted", "pager-stand-in done"])


class Quillpost(unittest.TestCase):
    def test_opens_the_mail_url_and_ignores_its_arguments(self):
        opener = p.mail_opener()
        for args in ([], ["-w", "--help", "anything"]):
            with p.Openers() as o:
                r = p.run(args, name="quillpost", extra_env=o.env)
                self.assertEqual(r.returncode, 0, args)
                self.assertEqual(r.stdout, b"", args)
                self.assertEqual(o.calls(), [opener + " " + p.MAIL_URL], args)

    @unittest.skipUnless(h.WINDOWS, "the call's arguments are read from Wine's trace")
    def test_passes_empty_strings_not_null(self):
        with p.Openers() as o:
            r = p.run([], name="quillpost", extra_env=o.env, winedebug="-all,+exec")
            self.assertEqual(r.returncode, 0)
            self.assertIn(shell_call_trace(p.MAIL_URL), r.stderr)

    @unittest.skipIf(h.WINDOWS, "no mail handler is a native matter here")
    def test_no_opener_is_said_and_ends_with_code_1(self):
        # Guards a mail program that could not start passing for a message opened.
        with h.Tree({}) as empty:
            r = p.run([], name="quillpost", extra_env={"PATH": empty.root})
            self.assertEqual((r.returncode, r.stdout, r.stderr),
                             (1, b"", b"quillpost: Could not start " + p.MAIL_URL.encode() + b"\n"))


if __name__ == "__main__":
    h.main()
