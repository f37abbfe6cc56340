"""The launch options and Quillpost: their messages, exit code 0, and what reached the shell.
Natively a stand-in xdg-open records its argument; under Wine, ShellExecuteA hands mail URLs to
xdg-email and web addresses to xdg-open, and for files the call itself is read from Wine's
trace of it."""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness as h
import params_support as p

MANUAL = os.path.join(h.BUILD, "quorvel.txt")


def shell_call_trace(target):
    """The line Wine's exec trace writes for ShellExecuteA(null, null, target, "", "", 5):
    empty strings for parameters and directory, never null."""
    return ('ShellExecuteA 00000000,(null),"%s","","",5' % target.replace("\\", "\\\\")).encode()


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
            opener = "xdg-email" if h.WINDOWS else "xdg-open"
            self.assertEqual(o.calls(), [opener + " " + p.MAIL_URL])

    def test_manual_opens_the_text_beside_the_program(self):
        # The build must put the manual there, or the option opens nothing.
        self.assertTrue(os.path.isfile(MANUAL))
        with open(MANUAL, "rb") as f:
            self.assertIn(b"-sort=", f.read())
        with p.Openers() as o:
            if h.WINDOWS:
                r = self.launch(["-manual"], b"Starting program to display Quorvel user manual.",
                                o, winedebug="-all,+exec")
                self.assertIn(shell_call_trace(h.arg(MANUAL)), r.stderr)
            else:
                self.launch(["-manual"], b"Starting program to display Quorvel user manual.", o)
                self.assertEqual(o.calls(), ["xdg-open " + MANUAL])

    @unittest.skipUnless(h.WINDOWS, "Windows starts config.exe beside the program")
    def test_config_starts_the_configuration_program_beside_this_one(self):
        with p.Openers() as o:
            r = self.launch(["-config"], b"Starting Quorvel configuration program", o,
                            winedebug="-all,+exec")
            target = h.arg(os.path.join(h.BUILD, "config.exe"))
            self.assertIn(shell_call_trace(target), r.stderr)

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

    @unittest.skipIf(h.WINDOWS, "the opener is looked up on PATH natively only")
    def test_missing_opener_is_no_error(self):
        with h.Tree({}) as empty:
            r = p.run(["-penwick"], extra_env={"PATH": empty.root})
            self.assertEqual(r.returncode, 0)
            self.assertEqual(h.lines(r.stdout)[2:],
                             [b"Starting Web browser to show Penwick Software home page."])


class Quillpost(unittest.TestCase):
    def test_opens_the_mail_url_and_ignores_its_arguments(self):
        opener = "xdg-email" if h.WINDOWS else "xdg-open"
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
    def test_no_opener_still_ends_with_code_0(self):
        with h.Tree({}) as empty:
            r = p.run([], name="quillpost", extra_env={"PATH": empty.root})
            self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"", b""))


if __name__ == "__main__":
    h.main()
