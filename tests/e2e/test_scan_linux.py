"""The Linux enumeration keeps the figures of the plain one: mount points below the start
directory (other file systems, and bind mounts of the same one) are found from the mount table
instead of a device query per directory, and a listing is read until a read gives nothing, never
taken as ended by a short read. Each test here guards a way that could go wrong: a mount entered
(or an ordinary directory skipped) because a mount point's path was misread, and entries lost
because a read cut short (a signal, a stop, a resize) was taken for the last."""
import fcntl
import os
import pty
import random
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness as h
import spine_common as s

LINE = re.compile(rb"^\s*([\d,]+)\s+(\d+%)\s+([\d,]+)  (.*?)(?:   \[([\d,]+)\])?$")


def number(b):
    return int(b.replace(b",", b""))


def directories(stdout):
    """{name: (localSize, files)} of the report's directory lines (the root under "")."""
    tree = s.Parsed(stdout).tree()
    out = {}
    for i, l in enumerate(tree):
        m = LINE.match(l)
        assert m, l
        name = b"" if i == 0 else re.sub(rb"^[ |+\-]*", b"", m.group(4))
        out[name.decode()] = (number(m.group(1)), number(m.group(3)))
    return out


def file_total(stdout):
    p = s.Parsed(stdout)
    end = p.report.index(s.RULE, 2)
    return number(LINE.match(p.report[end + 1].split(b"  Cluster size:")[0] + b"  x").group(3))


def can_unshare():
    if h.WINDOWS:
        return "mount points are a Linux matter"
    if os.geteuid() != 0 or shutil.which("unshare") is None:
        return "needs root and unshare(1) to mount file systems in a private namespace"
    r = subprocess.run(["unshare", "-m", "sh", "-c", "mount -t tmpfs none /mnt"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return None if r.returncode == 0 else "unshare -m is not permitted here"


def in_namespace(setup, args):
    """Runs the program after the shell commands setup in a mount namespace of its own, so the
    mounts vanish with it."""
    env = dict(os.environ)
    env.pop("QUORVEL", None)
    env.update(s.LOCALE)
    env["XDG_CONFIG_HOME"] = os.path.join(h.BUILD, "e2e-config-empty")
    script = "set -e; " + "; ".join(setup) + '; exec "$@"'
    r = subprocess.run(["unshare", "-m", "sh", "-c", script, "sh", h.exe()] + list(args),
                       env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    assert r.returncode == 0, r.stderr
    # A file system not entered is no directory that could not be read: no closing line.
    assert r.stderr == b"", r.stderr
    return r.stdout


def q(path):
    return "'" + path.replace("'", "'\\''") + "'"


@unittest.skipIf(can_unshare(), can_unshare())
class OtherFileSystems(unittest.TestCase):
    def setUp(self):
        self.t = h.Tree({"a/f": 5000, "m": None, "bind": None})
        self.outside = os.path.join(self.t.base, "outside")
        os.makedirs(os.path.join(self.outside, "b"))
        h.write_file(os.path.join(self.outside, "g"), 7000)
        h.write_file(os.path.join(self.outside, "b", "h"), 3000)

    def tearDown(self):
        self.t.__exit__(None, None, None)

    def test_neither_another_device_nor_a_bind_mount_of_the_same_one_is_entered(self):
        # A bind mount would count the files it shows twice, once where they lie (as du counts
        # them once): like another file system, it is not read at all.
        root = self.t.root
        for threads in ("1", "8"):
            out = in_namespace([
                "export QUORVEL_THREADS=" + threads,
                "mount -t tmpfs none %s" % q(root + "/m"),
                "head -c 9000 /dev/zero > %s" % q(root + "/m/in"),
                "mount --bind %s %s" % (q(self.outside), q(root + "/bind")),
            ], ["-p", "-cl=1", root])
            d = directories(out)
            self.assertEqual(d["m"], (0, 0))            # not read at all: no entry-table charge
            self.assertEqual(d["bind"], (0, 0))
            self.assertNotIn("b", d)
            self.assertEqual(file_total(out), 1)        # a/f

    def test_a_bind_mount_where_each_directory_is_checked_with_fstat(self):
        # On a file system whose directories need not carry their mount's device (ramfs here,
        # as btrfs), each directory's device is asked as it is opened: a bind mount of the same
        # device (y shown again at x) passes that check, so the mount table must still keep it
        # out; a tmpfs below is another device either way.
        r = self.t.root + "/m"
        out = in_namespace([
            "mount -t ramfs none %s" % q(r),
            "mkdir %s %s %s" % (q(r + "/x"), q(r + "/y"), q(r + "/t")),
            "echo data > %s" % q(r + "/y/f"),
            "mount --bind %s %s" % (q(r + "/y"), q(r + "/x")),
            "mount -t tmpfs none %s" % q(r + "/t"),
            "echo data > %s" % q(r + "/t/in"),
        ], ["-p", "-cl=1", r])
        d = directories(out)
        self.assertEqual(d["x"], (0, 0))
        self.assertEqual(d["t"], (0, 0))
        self.assertEqual(d["y"][1], 1)
        self.assertEqual(file_total(out), 1)

    def test_mount_points_whose_names_the_mount_table_escapes(self):
        # The table writes a blank as \040 and a backslash as \134.
        root = self.t.root
        odd = ["two words", "back\\slash", "x\\040y"]
        setup = []
        for name in odd:
            os.mkdir(os.path.join(root, name))
            setup += ["mount -t tmpfs none %s" % q(root + "/" + name),
                      "echo data > %s" % q(root + "/" + name + "/in")]
        out = in_namespace(setup, ["-p", root])
        d = directories(out)
        for name in odd:
            self.assertEqual(d[name], (0, 0), name)
        self.assertEqual(file_total(out), 1)

    def test_start_directory_named_through_a_link_and_dot_dot(self):
        link = os.path.join(self.t.base, "link")
        os.symlink(self.t.root, link)
        out = in_namespace(["mount -t tmpfs none %s" % q(self.t.root + "/m"),
                            "echo data > %s" % q(self.t.root + "/m/in")],
                           ["-p", link + "/../link/"])
        self.assertEqual(directories(out)["m"], (0, 0))
        self.assertEqual(file_total(out), 1)

    def test_a_mount_covered_by_a_later_one_is_not_what_the_path_shows(self):
        # a/b gets a tmpfs, then a is covered by a bind mount of outside (same device), whose
        # own b is an ordinary directory: that b is what the path shows, and it is read when
        # the bind mount is the start directory.
        root = self.t.root
        os.mkdir(os.path.join(root, "a", "b"))
        out = in_namespace(["mount -t tmpfs none %s" % q(root + "/a/b"),
                            "mount --bind %s %s" % (q(self.outside), q(root + "/a"))],
                           ["-p", root + "/a"])
        d = directories(out)
        self.assertEqual(d["b"][1], 1)
        self.assertEqual(file_total(out), 2)  # g and b/h; nothing of the covered a

    def test_start_directory_on_tmpfs_with_another_tmpfs_below(self):
        root = self.t.root
        out = in_namespace([
            "mount -t tmpfs none %s" % q(root),
            "mkdir %s %s" % (q(root + "/x"), q(root + "/y")),
            "head -c 100 /dev/zero > %s" % q(root + "/x/one"),
            "head -c 200 /dev/zero > %s" % q(root + "/x/two"),
            "mount -t tmpfs none %s" % q(root + "/y"),
            "echo data > %s" % q(root + "/y/in"),
        ], ["-p", "-cl=1", root])
        d = directories(out)
        self.assertEqual(d["x"], (300 + 32 * 4, 2))
        self.assertEqual(d["y"], (0, 0))

    def test_a_mount_moved_below_a_later_one_is_not_entered(self):
        # The moved tmpfs keeps its older id, so the mount table lists it before the bind
        # mount it now sits on: taking the table's order for the order of stacking would read it.
        root = self.t.root
        stage = os.path.join(self.t.base, "stage")
        os.mkdir(stage)
        os.mkdir(os.path.join(self.outside, "moved"))
        out = in_namespace([
            "mount -t tmpfs none %s" % q(stage),
            "head -c 50000 /dev/zero > %s" % q(stage + "/in"),
            "mount --bind %s %s" % (q(self.outside), q(root + "/bind")),
            "mount --move %s %s" % (q(stage), q(root + "/bind/moved")),
        ], ["-p", root + "/bind"])
        d = directories(out)
        self.assertEqual(d["moved"], (0, 0))
        self.assertEqual(file_total(out), 2)  # g, b/h

    def test_a_mount_point_however_its_path_is_spelled(self):
        # "/m", "/m/." and "/m/sub/.." are one directory: the same figures (its own entry
        # table not charged, as it is the mount point) and the footer names the mount point.
        m = self.t.root + "/m"
        setup = ["mount -t tmpfs none %s" % q(m), "mkdir %s %s" % (q(m + "/sub"), q(m + "/inner")),
                 "head -c 3000 /dev/zero > %s" % q(m + "/sub/f"),
                 "head -c 100 /dev/zero > %s" % q(m + "/top")]
        reports = []
        for spelling in (m, m + "/.", m + "/sub/.."):
            tab = in_namespace(setup, ["-tab", "-cl=1", spelling])
            rows = [l.rsplit(b"\t", 1) for l in tab.split(b"\r\n")
                    if b'\t"' in l and b"Total-no subs" not in l]
            prefix = os.fsencode(spelling).rstrip(b"/") + b"/"
            self.assertTrue(all(p.startswith(b'"' + prefix) for _, p in rows), rows)
            rows = [(f, p[len(prefix) + 1:]) for f, p in rows]
            screen = h.lines(in_namespace(setup, ["-p", spelling]))
            footer = screen[screen.index(b"", screen.index(s.HEADER) + 2):]
            reports.append((rows, footer))
        self.assertEqual(reports[0], reports[1])
        self.assertEqual(reports[0], reports[2])
        rows, footer = reports[0]
        # Its own row: "top" alone; with sub (3000 + 3 x 32) and inner (2 x 32) below it.
        self.assertEqual(rows[0][0].split(), [b"100", b"0", b"3260"])
        self.assertEqual(footer[1], b"Drive " + os.fsencode(m) + b": statistics:")


def tmpfs_base():
    if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK):
        r = subprocess.run(["stat", "-f", "-c", "%T", "/dev/shm"], capture_output=True, text=True)
        if r.stdout.strip() == "tmpfs":
            return "/dev/shm"
    return None


@unittest.skipIf(h.WINDOWS, "the read shortcuts belong to the Linux enumeration")
class LongListings(unittest.TestCase):
    """Directories whose listings take several reads, with names of every length so that reads
    end at every distance from the buffer's end."""

    def check(self, base):
        rng = random.Random(5)
        with h.Tree(root=base) as t:
            expected = {}
            for k in range(24):
                d = "d%02d" % k
                os.mkdir(t.path(d))
                count = 100 + 13 * k
                size_sum = 0
                for i in range(count):
                    stem = "%s_%04d_" % (d, i)
                    name = stem + "n" * (rng.randint(1, 255 - len(stem)) if k % 2 else
                                         255 - len(stem) - rng.randint(0, 6))
                    size = rng.randrange(0, 5000)
                    h.write_file(os.path.join(t.path(d), name), size)
                    size_sum += size
                subdirs = k % 5
                for i in range(subdirs):
                    os.mkdir(os.path.join(t.path(d), "s%d" % i))
                # With one-byte clusters a directory's own figure is its file bytes plus 32 per
                # entry: every file, subdirectory, "." and "..".
                expected[d] = (size_sum + 32 * (count + subdirs + 2), count)
            r = s.run(["-p", "-cl=1", h.arg(t.root)])
            self.assertEqual(r.returncode, 0, r.stderr)
            got = directories(r.stdout)
            for d, figures in expected.items():
                self.assertEqual(got[d], figures, d)

    def test_on_the_test_file_system(self):
        self.check(None)

    @unittest.skipIf(h.WINDOWS or tmpfs_base() is None, "no writable tmpfs at /dev/shm")
    def test_on_tmpfs(self):
        self.check(tmpfs_base())


@unittest.skipIf(h.WINDOWS, "signals during a read belong to the Linux enumeration")
class ReadsCutShort(unittest.TestCase):
    """A big directory read while the program is stopped and continued (Ctrl+Z, fg) or its
    window resized, again and again: the kernel cuts a read short whenever a signal is pending
    for the thread, on the scan's thread (which has handlers for both) and, for a stop, on the
    workers that block every signal. A read cut short is no listing's end."""

    FILES = 100000

    @classmethod
    def setUpClass(cls):
        # On tmpfs when there is one: 100,000 files are made there in a moment.
        cls.tree = h.Tree(root=tmpfs_base())
        big = cls.tree.add("big")
        fd = os.open(big, os.O_RDONLY | os.O_DIRECTORY)
        try:
            for i in range(cls.FILES):
                os.close(os.open("f%06d" % i, os.O_CREAT | os.O_WRONLY, 0o644, dir_fd=fd))
        finally:
            os.close(fd)

    @classmethod
    def tearDownClass(cls):
        cls.tree.__exit__(None, None, None)

    def run_signalled(self, threads, send):
        """The -csv report of the tree, on a terminal of its own (the window's handlers are only
        set up for one), while send(process) is called in a loop; (exit code, rows)."""
        master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
        env = dict(os.environ, QUORVEL_THREADS=str(threads), XDG_CONFIG_HOME="/nonexistent")
        env.pop("QUORVEL", None)
        # A process group of its own whose parent is in another group of the same session, so
        # that a stop is not dropped as one of an orphaned group.
        p = subprocess.Popen(h.command(["-csv", self.tree.root]), stdin=slave, stdout=slave,
                             stderr=subprocess.PIPE, env=env, preexec_fn=os.setpgrp)
        os.close(slave)
        out = []

        def read():
            while True:
                try:
                    chunk = os.read(master, 65536)
                except OSError:
                    break
                if not chunk:
                    break
                out.append(chunk)

        reader = threading.Thread(target=read)
        reader.start()
        signals = 0
        try:
            while p.poll() is None and signals < 100000:
                send(p)
                signals += 1
        finally:
            p.send_signal(signal.SIGCONT)
            err = p.stderr.read()
            p.wait(timeout=120)
            reader.join(timeout=10)
            os.close(master)
        rows = {}
        for line in b"".join(out).replace(b"\r", b"").split(b"\n")[1:]:
            if line:
                fields = line.split(b",")
                rows[fields[-1]] = int(fields[3])
        return p.returncode, err, rows, signals

    def check(self, send):
        big = os.fsencode(self.tree.path("big"))
        for threads in (1, 8):
            for attempt in range(2):
                code, err, rows, signals = self.run_signalled(threads, send)
                self.assertEqual((code, err), (0, b""), (threads, signals))
                self.assertEqual(rows.get(big), self.FILES, (threads, signals))

    def test_stopped_and_continued_during_the_read(self):
        def stop_and_continue(p):
            p.send_signal(signal.SIGTSTP)
            time.sleep(0.0005)
            p.send_signal(signal.SIGCONT)
            time.sleep(0.0005)
        self.check(stop_and_continue)

    def test_window_resized_during_the_read(self):
        def resize(p):
            p.send_signal(signal.SIGWINCH)
            time.sleep(0.0002)
        self.check(resize)


if __name__ == "__main__":
    unittest.main()
