"""Pieces shared by the tests of the parameter sources, the texts and the launch options: runs
with a given stored default string and QUORVEL variable, and stand-ins for the shell's openers.

The stored strings live in files natively (the user's in a scratch configuration folder; the
machine's in /etc is not touched), and in the registry under Wine (the machine's under
HKEY_LOCAL_MACHINE, the user's under HKEY_CURRENT_USER). Tests of other areas share the build's Wine prefix and run in parallel, so
a stored string written there would leak into their runs: these tests use a prefix of their own
and hold a lock on it while a value is stored."""
import contextlib
import fcntl
import os
import shutil
import subprocess
import tempfile
import time

import harness as h

BANNER = b"Quorvel 1.0.0 - disk space by directory. (c) Penwick Software, by Tobrenn."
HOME_PAGE = "http://www.penwick-software.example/"
MAIL_URL = "mailto:tobrenn@penwick-software.example"
REG_KEY = r"HKLM\SOFTWARE\Penwick Software\Quorvel"
USER_KEY = r"HKCU\SOFTWARE\Penwick Software\Quorvel"
STORED_PREFIX = os.path.join(h.BUILD, "wineprefix-stored")


def _stored_prefix_env(env):
    e = h.wine_env(env)
    e["WINEPREFIX"] = STORED_PREFIX
    return e


def _warm_stored_prefix():
    lock_path = STORED_PREFIX + ".create.lock"
    with open(lock_path, "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(STORED_PREFIX, "system.reg")):
            e = _stored_prefix_env(os.environ)
            subprocess.run([h.WINE, "wineboot", "-i"], env=e, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=300)
            subprocess.run(["wineserver", "-w"], env=e, timeout=300)
        h.keep_wine_server(_stored_prefix_env(os.environ))


def _reg(env, *args, check=True):
    # A program started while the prefix's server ends is cut off before it runs (see
    # keep_wine_server): a change that failed is made again, with the server started anew.
    # The programs keep the machine's string in the system's own (64-bit) view, where a 32-bit
    # reg.exe does not look unless asked: its key is named in that view unless a view is given.
    args = list(args)
    if len(args) > 1 and args[1].upper().startswith("HKLM") and \
            not any(a.lower().startswith("/reg:") for a in args):
        args.append("/reg:64")
    for attempt in range(3):
        r = subprocess.run([h.WINE, "reg"] + args, env=env, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, timeout=120)
        if r.returncode == 0 or not check:
            return r.stdout
        time.sleep(1)
        h.keep_wine_server(env)
    raise subprocess.CalledProcessError(r.returncode, r.args)


def reg_query(key):
    """What `reg query` says of a key of the stored prefix, its lines stripped (empty when the
    key is missing)."""
    out = _reg(_stored_prefix_env(os.environ), "query", key, check=False)
    return [l.strip() for l in out.decode("utf-8", "replace").splitlines() if l.strip()]


class Sources:
    """The parameter sources of one or more runs: the stored string (the machine's under Wine,
    the user's file natively; None: none stored), the QUORVEL variable (None: unset), and extra
    environment. Use as a context manager; run() starts the program with standard output
    redirected. Under Wine, both stored strings (the user's too, as config.exe writes it) are
    removed at the end."""

    def __init__(self, stored=None, variable=None, stored_type="REG_SZ", extra_env=None):
        self.stored = stored
        self.variable = variable
        self.stored_type = stored_type
        self.extra_env = dict(extra_env or {})
        self.config = tempfile.mkdtemp(prefix="quorvel-config-")
        self._lock = None

    def __enter__(self):
        if self.stored is not None:
            if h.WINDOWS:
                _warm_stored_prefix()
                self._lock = open(STORED_PREFIX + ".value.lock", "w")
                fcntl.flock(self._lock, fcntl.LOCK_EX)
                _reg(_stored_prefix_env(os.environ), "add", REG_KEY, "/v", "DefaultParams",
                     "/t", self.stored_type, "/d", self.stored, "/f")
            else:
                folder = os.path.join(self.config, "quorvel")
                os.makedirs(folder)
                data = self.stored if isinstance(self.stored, bytes) else self.stored.encode()
                with open(os.path.join(folder, "DefaultParams"), "wb") as f:
                    f.write(data)
        return self

    def __exit__(self, *exc):
        if self._lock is not None:
            try:
                for key in (REG_KEY, USER_KEY):
                    _reg(_stored_prefix_env(os.environ), "delete", key, "/f", check=False)
            finally:
                self._lock.close()
                self._lock = None
        shutil.rmtree(self.config, ignore_errors=True)

    def env(self, winedebug=None):
        e = dict(os.environ)
        e.pop("QUORVEL", None)
        e["XDG_CONFIG_HOME"] = self.config
        if self.variable is not None:
            e["QUORVEL"] = self.variable
        e.update(self.extra_env)
        if h.WINDOWS:
            e = _stored_prefix_env(e) if self.stored is not None else h.wine_env(e)
            if winedebug:
                e["WINEDEBUG"] = winedebug
        return e

    def run(self, args=(), cwd=None, name="quorvel", winedebug=None, timeout=120, typed=None):
        """typed: bytes for standard input (none: an empty input)."""
        env = self.env(winedebug)
        h._warm_wine(env)
        stdin = {"stdin": subprocess.DEVNULL} if typed is None else {"input": typed}
        # Into files, not pipes: a program a launch starts (config.exe in a console of its own,
        # and the Wine desktop that console may start) can keep inherited pipes open long after
        # the program under test has ended, and a read to the pipes' end would wait for it.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            r = subprocess.run(h.command(args, name), env=env, cwd=cwd, stdout=out, stderr=err,
                               timeout=timeout, **stdin)
            out.seek(0)
            err.seek(0)
            r.stdout, r.stderr = out.read(), err.read()
        return r


def run(args=(), **kw):
    """One run with the given sources (keywords of Sources, and cwd, winedebug)."""
    run_kw = {k: kw.pop(k) for k in ("cwd", "name", "winedebug") if k in kw}
    with Sources(**kw) as s:
        return s.run(args, **run_kw)


def report_body(testcase, result):
    """The lines of a redirected report between its title (after the banner) and its form-feed
    line, checking the frame on the way."""
    testcase.assertEqual(result.returncode, 0, result.stderr)
    out = h.lines(result.stdout)
    testcase.assertEqual(out[:2], [BANNER, b""])
    testcase.assertTrue(out[2].startswith(b"Quorvel report, created at "), out[:4])
    testcase.assertEqual(out[3], b"")
    testcase.assertEqual(out[-1], b"\f")
    return out[4:-1]


class Openers:
    """Stand-ins for xdg-open and xdg-email first on PATH: each appends its name and arguments
    as one line to a log. Use as a context manager; .env is the PATH to give the program."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="quorvel-openers-")
        self.log = os.path.join(self.folder, "log")
        # "browser" is what $BROWSER names: the real xdg-open (which Wine runs by its absolute
        # path for a mail URL once xdg-utils is installed) hands the URL to it.
        for name in ("xdg-open", "xdg-email", "browser"):
            path = os.path.join(self.folder, name)
            with open(path, "w") as f:
                f.write('#!/bin/sh\nprintf "%%s %%s\\n" %s "$*" >> "%s"\n' % (name, self.log))
            os.chmod(path, 0o755)
        self.env = {"PATH": self.folder + os.pathsep + os.environ.get("PATH", ""),
                    "BROWSER": os.path.join(self.folder, "browser")}

    def calls(self, count=1, timeout=20):
        """The logged lines, waiting until at least count have arrived (the opener runs
        detached, so it may finish after the program)."""
        import time
        end = time.time() + timeout
        while True:
            lines = []
            if os.path.exists(self.log):
                with open(self.log) as f:
                    lines = [l.rstrip("\n") for l in f]
            if len(lines) >= count or time.time() > end:
                return lines
            time.sleep(0.1)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        shutil.rmtree(self.folder, ignore_errors=True)


def mail_opener():
    """What receives the mail URL: xdg-open natively; under Wine xdg-email, or, once xdg-utils
    is installed (make test installs it with Chromium), the browser $BROWSER names, to which
    the real xdg-open that Wine runs hands the URL."""
    if not h.WINDOWS:
        return "xdg-open"
    return "browser" if os.path.exists("/usr/bin/xdg-email") else "xdg-email"
