"""Shared pieces of the end-to-end tests: the program under test (native or the Windows build
under Wine), scratch trees with real file sizes, and a real terminal through tmux.

Every test script imports this module and is run by ctest once per platform, with
QUORVEL_PLATFORM (native or win32), QUORVEL_BUILD (the build folder) and QUORVEL_SOURCE set.
"""
import atexit
import fcntl
import os
import shlex
import shutil
import subprocess
import tempfile
import time
import unittest

PLATFORM = os.environ.get("QUORVEL_PLATFORM", "native")
SOURCE = os.environ.get("QUORVEL_SOURCE", os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
BUILD = os.environ.get("QUORVEL_BUILD", os.path.join(SOURCE, "build", PLATFORM))
WINDOWS = PLATFORM in ("win32", "win64")
# The Wine loader of this build: the 64-bit build runs under the 64-bit loader alone (also on a
# machine whose kernel runs no 32-bit programs); the 32-bit build under Debian's "wine", which
# starts the 32-bit loader.
WINE64 = "/usr/lib/wine/wine64"  # the 64-bit loader (Debian package wine64)
WINE = WINE64 if PLATFORM == "win64" else "wine"


def skip_without_wine32():
    """A test of the 32-bit build on a machine whose kernel cannot run 32-bit programs (IA-32
    emulation off: Wine's 32-bit loader gives "Exec format error") exits 77, which ctest counts
    as skipped, saying why; nothing of the 32-bit build can be run there."""
    if PLATFORM != "win32":
        return
    try:
        ok = subprocess.run(["/usr/lib/wine/wine", "--version"], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, timeout=60).returncode == 0
    except OSError:
        ok = False
    if not ok:
        print("skipped: this machine cannot run 32-bit programs (Wine's 32-bit loader does not "
              "start); the 64-bit Windows build's tests run instead")
        raise SystemExit(77)


skip_without_wine32()

# Each test process gets a tmux server of its own, so tests running in parallel cannot end each
# other's server when their last session closes.
if "QUORVEL_TMUX_DIR" not in os.environ:
    os.environ["QUORVEL_TMUX_DIR"] = tempfile.mkdtemp(prefix="quorvel-tmux-")
    os.environ["TMUX_TMPDIR"] = os.environ["QUORVEL_TMUX_DIR"]
    os.environ.pop("TMUX", None)

    def _end_tmux():
        subprocess.run(["tmux", "kill-server"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(os.environ["QUORVEL_TMUX_DIR"], ignore_errors=True)

    atexit.register(_end_tmux)

_tmux_kept = False


def keep_tmux_server():
    """Keeps one idle session in this process's tmux server. tmux ends its server when the last
    session closes, and a session started at that moment fails; with this one open, the tests'
    sessions start and end without that race. The server ends with the process."""
    global _tmux_kept
    if _tmux_kept or not shutil.which("tmux"):
        return
    for _ in range(20):
        if subprocess.run(["tmux", "-f", "/dev/null", "new-session", "-d", "-s", "quorvel-keep",
                           "sleep", "3600"], stderr=subprocess.DEVNULL).returncode == 0:
            _tmux_kept = True
            return
        time.sleep(0.1)
EOL = b"\r\n" if WINDOWS else b"\n"
SEP = "\\" if WINDOWS else "/"
# The longest path the scan reads, and what a directory's enumeration adds to its path beyond
# it: both builds open the directory itself (Windows by its wide "\\?\" path), so a path of
# exactly the budget is read.
PATH_BUDGET = 4095
PATTERN_ROOM = 0
# Wine opens no path whose Unix form passes about 4,066 bytes (a limit of its own below the
# system's 4,096), while a Windows path of the budget is 4,093 bytes there. Tests that reach
# the budget under Wine give their start directory with this padding of "\." components, which
# the program counts against the budget and the system resolves, so the real paths stay 64
# bytes shorter than the ones the program measures.
PATH_PAD = "\\." * 32 if WINDOWS else ""


def exe(name="quorvel"):
    """Path of a program of this build."""
    return os.path.join(BUILD, name + (".exe" if WINDOWS else ""))


def wine_env(env=None):
    """The environment for Wine: the tests' own prefix, or the one QUORVEL_WINE_PREFIX names (a
    test that changes what a prefix remembers, such as the user's locale, takes one of its own
    so that tests running beside it do not see the change)."""
    e = dict(os.environ if env is None else env)
    e["WINEPREFIX"] = e.get("QUORVEL_WINE_PREFIX") or os.path.join(BUILD, "wineprefix")
    e["WINEDEBUG"] = "-all"
    e["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    if PLATFORM == "win64":
        e["WINELOADER"] = WINE64
    return e


def keep_wine_server(env, before=()):
    """Starts the Wine server of env's prefix, unless one runs, to stay a minute after its last
    program. The server a program starts (Debian gives it -p0) ends as soon as that program
    has ended, and a program started in that moment connects, is cut off ("wine client error:
    ... Connection reset by peer") and fails before it has run; tests start programs one after
    another. The prefix's own processes (services, the desktop) are started with it, by a run
    of cmd, so that they do not hold open the pipes or the terminal of the first test program
    while they stay. before: words run before the commands, such as a change of user."""
    prefix = env["WINEPREFIX"]
    if not os.path.isdir(prefix):
        return  # the first program makes the prefix
    with open(prefix.rstrip("/") + ".server.lock", "a") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL, env=env, timeout=120)
        if subprocess.run(list(before) + ["wineserver", "-p60"], **quiet).returncode == 0:
            subprocess.run(list(before) + [WINE, "cmd", "/c", "exit"], **quiet)


def _warm_wine(env=None):
    """Creates the tests' Wine prefix once (parallel tests wait for the first) and keeps the
    server of env's prefix (by default the tests' own) running."""
    if not WINDOWS:
        return
    lock_path = os.path.join(BUILD, "wineprefix.lock")
    with open(lock_path, "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(BUILD, "wineprefix", "system.reg")):
            subprocess.run([WINE, "wineboot", "-i"], env=wine_env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=300)
            subprocess.run(["wineserver", "-w"], env=wine_env(), timeout=300)
    keep_wine_server(env or wine_env())



def wow64_env():
    """The environment of a 64-bit Wine prefix of the build folder, made once (parallel tests
    wait for the first), where the 32-bit programs run as on 64-bit Windows, System32 redirected
    to SysWOW64; None when the 64-bit loader is not installed."""
    if not os.path.exists(WINE64):
        return None
    e = wine_env()
    e["WINEPREFIX"] = os.path.join(BUILD, "wineprefix64")
    with open(e["WINEPREFIX"] + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(e["WINEPREFIX"], "system.reg")):
            subprocess.run([WINE64, "wineboot", "-i"], env=dict(e, WINEARCH="win64"),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
            subprocess.run(["wineserver", "-w"], env=e, timeout=300)
    keep_wine_server(e)
    return e


def command(args, name="quorvel"):
    """The argument vector that runs the program with args."""
    if WINDOWS:
        return [WINE, exe(name)] + list(args)
    return [exe(name)] + list(args)


def run(args=(), env=None, cwd=None, stdin=subprocess.DEVNULL, name="quorvel", timeout=120,
        extra_env=None):
    """Runs the program with standard output redirected; returns the CompletedProcess with bytes."""
    e = dict(os.environ if env is None else env)
    e.pop("QUORVEL", None) if env is None else None
    e.setdefault("XDG_CONFIG_HOME", os.path.join(BUILD, "e2e-config-empty"))
    if extra_env:
        e.update(extra_env)
    if WINDOWS:
        e = wine_env(e)
    _warm_wine(e)
    return subprocess.run(command(args, name), env=e, cwd=cwd, stdin=stdin,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)


def arg(path):
    """A Linux path as the program under test is given it (drive Z: under Wine)."""
    if WINDOWS:
        return "Z:" + os.path.abspath(path).replace("/", "\\")
    return path


def padded_arg(path):
    """arg(path) with PATH_PAD after it: the start directory of a test that reaches the budget."""
    return arg(path) + PATH_PAD


def shown(path):
    """A Linux path as the report shows the scanned directory."""
    return arg(path)


def lines(output):
    """Output bytes split into lines at this platform's line end (the last, empty piece dropped)."""
    parts = output.split(EOL)
    if parts and parts[-1] == b"":
        parts.pop()
    return parts


def cluster_size(path):
    return os.statvfs(path).f_frsize


class Tree:
    """A scratch directory tree, removed on exit. entries: {relative path: size in bytes or None
    for a directory}. Files hold real bytes, as the Linux build counts what a file holds on the
    disk; add(..., sparse=True) makes a file of that length that holds nothing."""

    def __init__(self, entries=None, root=None):
        self.base = tempfile.mkdtemp(prefix="quorvel-e2e-", dir=root)
        self.root = os.path.join(self.base, "root")
        os.mkdir(self.root)
        for rel, size in (entries or {}).items():
            self.add(rel, size)

    def path(self, rel=""):
        return os.path.join(self.root, rel) if rel else self.root

    def add(self, rel, size=None, sparse=False):
        """Makes rel (a directory, or a file of size bytes) and the directories above it. Made
        one level at a time from open directories, so paths longer than the system's limit for
        one call (Linux allows paths of 4095 bytes to be read) can be built."""
        if os.path.isabs(rel):
            rel = os.path.relpath(rel, self.root)
        parts = [x for x in rel.split("/") if x and x != "."]
        last = None if size is None else parts.pop()
        fd = os.open(self.root, os.O_RDONLY | os.O_DIRECTORY)
        try:
            for name in parts:
                try:
                    os.mkdir(name, dir_fd=fd)
                except FileExistsError:
                    pass
                below = os.open(name, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
                os.close(fd)
                fd = below
            if last is not None:
                write_file(last, size, sparse, dir_fd=fd)
        finally:
            os.close(fd)
        return os.path.join(self.root, rel)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for dirpath, dirnames, _ in os.walk(self.base):
            for d in dirnames:
                try:
                    os.chmod(os.path.join(dirpath, d), 0o755)
                except OSError:
                    pass
        shutil.rmtree(self.base, ignore_errors=True)


def write_file(path, size, sparse=False, dir_fd=None):
    """A file of size bytes: zeros written out, or (sparse) a length with nothing behind it.
    With dir_fd, path is relative to that open directory."""
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644, dir_fd=dir_fd)
    with os.fdopen(fd, "wb") as f:
        if sparse:
            f.truncate(size)
            return
        chunk = b"\0" * min(size, 1 << 20)
        left = size
        while left > 0:
            n = min(left, len(chunk))
            f.write(chunk[:n])
            left -= n


def allocated(st):
    """The bytes a file is charged in wastage mode: what it holds on the disk (a sparse file less
    than its length), on Windows as the NTFS listing gives it (Wine: st_blocks x 512)."""
    return min(st.st_size, st.st_blocks * 512)


def round_up(size, cluster):
    return -(-size // cluster) * cluster


def reserved(st, unit):
    """Space the file system gives a file beyond its data rounded to the file system's own unit
    (fallocate --keep-size): charged in wastage mode on top of the rounded data, as wastage. The
    Windows listing gives the same as its allocation (Wine: st_blocks x 512)."""
    return max(0, st.st_blocks * 512 - round_up(allocated(st), unit))


def tmux_environment(env):
    """The words that give a new tmux session the environment env. A session gets its server's
    environment, not that of the client asking for it: without these a Windows test ran in
    Wine's default prefix (where other programs may have stored parameters) and lost its
    settings. QUORVEL unset is passed as empty, which the program ignores."""
    words = []
    for key, value in env.items():
        words += ["-e", "%s=%s" % (key, value)]
    if "QUORVEL" not in env:
        words += ["-e", "QUORVEL="]
    return words


class Terminal:
    """The program in a real terminal: a tmux session of a fixed size."""

    def __init__(self, args, width=100, height=25, env=None, name="quorvel", cwd=None, prefix=()):
        """env: variables set for the program; prefix: words run before it, such as a change of
        user."""
        _warm_wine()
        keep_tmux_server()
        self.session = "quorvel-%d-%d" % (os.getpid(), int(time.time() * 1000) % 1000000)
        self.rc_file = tempfile.mktemp(prefix="quorvel-rc-")
        e = dict(os.environ)
        e.pop("QUORVEL", None)
        e.pop("TMUX", None)
        e.setdefault("XDG_CONFIG_HOME", os.path.join(BUILD, "e2e-config-empty"))
        if env:
            e.update(env)
        if WINDOWS:
            e = wine_env(e)
        e["TERM"] = "xterm"
        # A new session gets the environment of the tmux server (started by the first session
        # of this process), not the caller's: what differs from it is handed over by env. The
        # terminal's own TERM stays.
        given = ["env"] + ["-u%s" % k for k in os.environ if k not in e]
        given += ["%s=%s" % (k, v) for k, v in e.items() if k != "TERM" and os.environ.get(k) != v]
        cmd = " ".join(shlex.quote(c) for c in given + list(prefix) + command(args, name))
        shell = "%s; echo $? > %s; sleep 600" % (cmd, shlex.quote(self.rc_file))
        if cwd:
            shell = "cd %s && %s" % (shlex.quote(cwd), shell)
        self.env = e
        # A server that is just shutting down (its last session closed a moment ago) refuses
        # the new session; the next try starts a fresh server.
        for attempt in range(5):
            r = subprocess.run(["tmux", "-f", "/dev/null", "new-session", "-d", "-s", self.session,
                                "-x", str(width), "-y", str(height)] + tmux_environment(e) +
                               ["sh", "-c", shell], env=e, stderr=subprocess.PIPE)
            if r.returncode == 0:
                break
            time.sleep(0.3)
        else:
            raise AssertionError("tmux could not start: %s" % r.stderr.decode(errors="replace"))

    def keys(self, *keys):
        """Sends tmux key names (for example "Space", "End", "q", "C-c")."""
        for k in keys:
            subprocess.run(["tmux", "send-keys", "-t", self.session, k], check=True)
            time.sleep(0.15)

    def screen(self, attributes=False):
        """The visible screen as a list of lines (right blanks stripped); with attributes, the
        escape sequences of the colours and attributes each piece of text is shown in."""
        out = subprocess.run(["tmux", "capture-pane", "-p"] + (["-e"] if attributes else []) +
                             ["-t", self.session],
                             stdout=subprocess.PIPE, check=True).stdout.decode("utf-8", "replace")
        return [l.rstrip() for l in out.split("\n")]

    def wait_for(self, text, timeout=30):
        """Waits until text shows on the screen; returns the screen."""
        end = time.time() + timeout
        while time.time() < end:
            s = self.screen()
            if any(text in l for l in s):
                return s
            time.sleep(0.1)
        raise AssertionError("%r never appeared; screen:\n%s" % (text, "\n".join(self.screen())))

    def exit_code(self, timeout=30):
        """Waits for the program to end; returns its exit code."""
        end = time.time() + timeout
        while time.time() < end:
            if os.path.exists(self.rc_file):
                with open(self.rc_file) as f:
                    t = f.read().strip()
                if t:
                    return int(t)
            time.sleep(0.1)
        raise AssertionError("program did not end; screen:\n%s" % "\n".join(self.screen()))

    def close(self):
        subprocess.run(["tmux", "kill-session", "-t", self.session], stderr=subprocess.DEVNULL)
        try:
            os.unlink(self.rc_file)
        except OSError:
            pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def main():
    unittest.main(verbosity=1)
