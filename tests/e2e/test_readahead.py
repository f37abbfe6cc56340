"""The threads that read directories ahead of the scan change nothing of what the program
writes: the same tree gives the same bytes read in line (QUORVEL_THREADS=1) and with 2, 8 or 32
threads, whatever the options that shape the tree; also with directories that cannot be read, a
mount below, directories removed or replaced by links while the scan runs, few file
descriptors, little memory, and a report that cannot be written. Under Wine, the same for the
Windows build's threads on fewer shapes (each run costs Wine's start-up)."""
import ctypes
import os
import random
import resource
import select
import shutil
import subprocess
import sys
import threading
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness as h
from test_figures import generate, table_rows, totals_line

THREADS = (2, 8, 32)
SHAPES = ([], ["-2"], ["-size=100K"], ["-sort=total"], ["-sort=none", "-dir"], ["-tab"],
          ["-comma", "-sort=files", "-3"], ["-tab", "-exclude=d1*", "-exclude=d2/*"])
if h.WINDOWS:
    SHAPES = ([], ["-sort=none", "-dir"], ["-comma", "-sort=files", "-3"],
              ["-tab", "-exclude=d1*", "-exclude=d2\\*"])


def stable(output):
    """The output without what changes between two runs of the same tree: the title's time and
    the drive's free and used space."""
    return b"\n".join(l for l in output.split(b"\n")
                      if not l.startswith((b"Quorvel report, created at ", b"     Free space:",
                                           b"     Used space:")))


def run(args, threads, **kw):
    extra = {"QUORVEL_THREADS": str(threads)}
    extra.update(kw.pop("extra_env", {}))
    r = h.run(args, extra_env=extra, timeout=300, **kw)
    return r


def limited(args, threads, descriptors=None, memory=None):
    """Runs the program with at most `descriptors` open files or `memory` bytes of address
    space."""
    def limit():
        if descriptors:
            resource.setrlimit(resource.RLIMIT_NOFILE, (descriptors, descriptors))
        if memory:
            resource.setrlimit(resource.RLIMIT_AS, (memory, memory))
    env = dict(os.environ, QUORVEL_THREADS=str(threads),
               XDG_CONFIG_HOME=os.path.join(h.BUILD, "e2e-config-empty"))
    env.pop("QUORVEL", None)
    return subprocess.run(h.command(args), env=env, preexec_fn=limit, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=300)


def sanitized():
    """True for the builds under a sanitizer, whose shadow memory no address-space limit holds."""
    try:
        with open(os.path.join(h.BUILD, "CMakeCache.txt")) as f:
            cache = f.read()
    except OSError:
        return False
    return "QUORVEL_SANITIZE:BOOL=ON" in cache or "QUORVEL_TSAN:BOOL=ON" in cache


class SameReport(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tree = h.Tree()
        generate(cls.tree, 5000, seed=11)
        # Files of several names, across directories and within one, so that which name is met
        # first decides where a file is charged.
        rnd = random.Random(3)
        dirs = [d for d, _, _ in os.walk(cls.tree.root)]
        for i in range(60):
            first = os.path.join(rnd.choice(dirs), "linked%d" % i)
            h.write_file(first, rnd.randrange(1, 30000))
            for k in range(rnd.randrange(1, 4)):
                os.link(first, os.path.join(rnd.choice(dirs), "name%d-%d" % (i, k)))

    @classmethod
    def tearDownClass(cls):
        cls.tree.__exit__(None, None, None)

    def check_same(self, args, **kw):
        one = run(args, 1, **kw)
        self.assertEqual(one.returncode, 0, one.stderr[-2000:])
        for n in THREADS:
            other = run(args, n, **kw)
            self.assertEqual(other.returncode, one.returncode, (args, n))
            self.assertEqual(other.stderr, one.stderr, (args, n))
            self.assertEqual(stable(other.stdout), stable(one.stdout), (args, n))
        return one

    def test_a_generated_tree_under_every_shape(self):
        # Guards listings handed to the scan out of order or twice, entries lost from a listing
        # read whole, a hard-linked file charged at another name than in line (on Windows: the
        # first name of a file id), and excluded directories read ahead (their listings, never
        # taken, would hold the budget). 5,000 directories.
        for shape in SHAPES:
            self.check_same(shape + [h.arg(self.tree.root)])

    @unittest.skipUnless(os.path.isdir("/usr"), "no /usr to read")
    @unittest.skipIf(h.WINDOWS, "Wine takes seconds for /usr: timed by make bench instead")
    def test_usr(self):
        for shape in (["-tab"], ["-4", "-sort=waste"]):
            one = run(["-p"] + shape + ["/usr"], 1)
            many = run(["-p"] + shape + ["/usr"], 8)
            self.assertEqual(stable(many.stdout), stable(one.stdout), shape)

    def test_thread_counts_that_mean_nothing_are_ignored(self):
        want = stable(run(["-tab", h.arg(self.tree.root)], 1).stdout)
        for value in ("0", "abc", "100000") if h.WINDOWS else ("0", "-3", "abc", "4x", "100000", ""):
            r = h.run(["-tab", h.arg(self.tree.root)], extra_env={"QUORVEL_THREADS": value},
                      timeout=300)
            self.assertEqual(r.returncode, 0, value)
            self.assertEqual(stable(r.stdout), want, value)

    def test_listings_larger_than_the_budget(self):
        # Guards a listing read ahead whole whatever its size (memory without bound), one cut at
        # the budget losing or repeating entries where the scan goes on, and the subdirectories
        # of such a listing, which only the scan sees whole, read in another order: six
        # directories of 12,000 files and 40 subdirectories each give the same bytes.
        with h.Tree() as t:
            for i in range(6):
                big = t.add("big%d" % i)
                for k in range(12000):
                    os.close(os.open(os.path.join(big, "f%05d" % k), os.O_CREAT | os.O_WRONLY))
                for k in range(40):
                    t.add("big%d/sub%02d/inner/x" % (i, k), k * 100)
            self.check_same(["-tab", h.arg(t.root)])
            self.check_same(["-sort=files", "-2", h.arg(t.root)])

    def test_a_huge_directory_measured_on_every_thread(self):
        # Guards the sizes of a large listing measured by several threads at once: a batch
        # handed to the scan before it is measured, or measured on a descriptor already closed,
        # entries of two batches swapped, and a file of many names charged at another name
        # than in line. Every one of the 30,000 names is a hard link to one of 40 files, its
        # names spread over every batch; the start directory is such a listing (begun in line,
        # then handed to the workers), and so is a subdirectory read ahead by a worker. Also
        # with few descriptors and under a memory limit, where the workers stop part way.
        with h.Tree() as t:
            os.mkdir(t.path("sub"))
            for where in (t.root, t.path("sub")):
                sources = []
                for k in range(40):
                    sources.append(os.path.join(where, "src%02d" % k))
                    h.write_file(sources[-1], 1000 * k + 1)
                order = list(range(30000))
                random.Random(5).shuffle(order)
                for i in order:
                    os.link(sources[i % 40], os.path.join(where, "n%05d" % i))
            t.add("sub/after/f", 10)
            t.add("zz/f", 20)
            want = self.check_same(["-tab", h.arg(t.root)])
            self.check_same(["-sort=files", "-dir", h.arg(t.root)])
            if h.WINDOWS:
                return  # Wine's own needs pass any limit of descriptors or memory
            for descriptors, threads in ((4, 8), (5, 32), (8, 8)):
                r = limited(["-tab", t.root], threads, descriptors=descriptors)
                self.assertEqual((r.returncode, r.stderr), (0, b""), (descriptors, threads))
                self.assertEqual(stable(r.stdout), stable(want.stdout), (descriptors, threads))
            if not sanitized():
                for memory in (70, 100, 400):
                    for threads in (8, 32):
                        r = limited(["-tab", t.root], threads, memory=memory << 20)
                        self.assertEqual((r.returncode, r.stderr), (0, b""), (memory, threads))
                        self.assertEqual(stable(r.stdout), stable(want.stdout), (memory, threads))

    @unittest.skipIf(h.WINDOWS, "limits, users and mounts of Linux")
    def test_few_file_descriptors(self):
        # Guards a worker's "too many open files" counted as a directory that cannot be read,
        # and a start directory whose handle could not be had losing everything below it: with
        # descriptors for the standard streams and one or two more, every thread count reads
        # the whole tree.
        want = run(["-tab", self.tree.root], 1)
        for descriptors, threads in ((4, 1), (4, 8), (5, 8), (8, 8), (16, 256)):
            r = limited(["-tab", self.tree.root], threads, descriptors=descriptors)
            self.assertEqual((r.returncode, r.stderr), (0, b""), (descriptors, threads))
            self.assertEqual(stable(r.stdout), stable(want.stdout), (descriptors, threads))

    @unittest.skipUnless(os.path.isdir("/usr"), "no /usr to read")
    @unittest.skipIf(h.WINDOWS, "limits, users and mounts of Linux")
    def test_a_memory_limit(self):
        # Guards an abort for want of memory on a worker or in the hand-over (thread stacks and
        # heaps reserving more than the limit), and subdirectories left out without a word:
        # under a generous limit the report is whole; under a tight one it says how many
        # directories it left out, exits with 1, and is no less complete with threads.
        if sanitized():
            self.skipTest("a sanitizer's shadow memory passes any address-space limit")
        want = run(["-p", "-tab", "/usr"], 1)
        for threads in (1, 8):
            r = limited(["-p", "-tab", "/usr"], threads, memory=400000 * 1024)
            self.assertEqual((r.returncode, r.stderr), (0, b""), threads)
            self.assertEqual(stable(r.stdout), stable(want.stdout), threads)
        with h.Tree() as t:
            for i in range(40):
                for k in range(250):
                    os.makedirs(t.path("p%02d/%s%03d" % (i, "n" * 120, k)))
            for memory in range(7000, 2000, -500):
                one = limited(["-tab", t.root], 1, memory=memory * 1024)
                if one.returncode != 0:
                    break
            self.assertEqual(one.returncode, 1, one.stderr)
            self.assertRegex(one.stderr, rb"^\d+ directories were left out: not enough memory\.\n$")
            self.assertEqual(h.lines(one.stdout)[-1], b"\f")
            many = limited(["-tab", t.root], 8, memory=memory * 1024)
            self.assertEqual((many.returncode, many.stderr), (1, one.stderr))
            self.assertEqual(stable(many.stdout), stable(one.stdout))

    @unittest.skipIf(h.WINDOWS, "limits, users and mounts of Linux")
    def test_unreadable_directories(self):
        # The same figures and the same closing line on standard error, read in line or ahead.
        if os.getuid() != 0 or not shutil.which("setpriv"):
            self.skipTest("needs root and setpriv to run as an unprivileged user")
        with h.Tree({"open/a": 100, "locked/b": 200, "locked/deeper/c": 300,
                     "half/d": 400}) as t:
            for d, _, _ in os.walk(t.base):
                os.chmod(d, 0o755)
            os.chmod(t.path("locked"), 0)
            os.chmod(t.path("half"), 0o311)  # can be entered, not listed
            drop = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"]
            if subprocess.run(drop + ["test", "-x", h.exe()]).returncode != 0:
                self.skipTest("the unprivileged user cannot reach %s" % h.exe())
            outputs = []
            for n in (1,) + THREADS:
                env = dict(os.environ, QUORVEL_THREADS=str(n),
                           XDG_CONFIG_HOME=os.path.join(h.BUILD, "e2e-config-empty"))
                env.pop("QUORVEL", None)
                r = subprocess.run(drop + h.command(["-tab", t.root]), env=env,
                                   stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
                self.assertEqual(r.returncode, 1, r.stderr)
                outputs.append((stable(r.stdout), r.stderr))
            self.assertIn(b"2 directories could not be read", outputs[0][1])
            self.assertIn(os.fsencode(t.path("locked")) + b"/: Permission denied\n", outputs[0][1])
            for o in outputs[1:]:
                self.assertEqual(o, outputs[0])

    @unittest.skipIf(h.WINDOWS, "limits, users and mounts of Linux")
    def test_a_mount_below(self):
        if os.geteuid() != 0 or not shutil.which("unshare"):
            self.skipTest("needs root and unshare(1) to mount a file system")
        with h.Tree({"a/f": 5000, "m": None, "z/g": 10}) as t:
            script = ("mount -t tmpfs none '%s' && head -c 9000 /dev/zero > '%s/in' && "
                      'for n in 1 2 8 32; do QUORVEL_THREADS=$n "$0" -tab "$1" | '
                      "grep -v 'created at'; echo \"rc $?\"; done") % (t.path("m"), t.path("m"))
            env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(h.BUILD, "e2e-config-empty"))
            env.pop("QUORVEL", None)
            r = subprocess.run(["unshare", "-m", "sh", "-c", script, h.exe(), t.root], env=env,
                               capture_output=True, timeout=120)
            if r.returncode != 0:
                self.skipTest("unshare -m is not permitted here: %s" % r.stderr[-200:])
            runs = r.stdout.split(b"rc 0\n")
            self.assertEqual(len(runs), 5, r.stdout[-500:])
            self.assertEqual(len(set(runs[:4])), 1)
            self.assertIn(b'0\t             0\t             0\t"' + os.fsencode(t.path("m")), runs[0])


@unittest.skipIf(h.WINDOWS, "inotify, /dev/full and Linux paths")
class WhileTheScanRuns(unittest.TestCase):
    def test_directories_removed_while_the_scan_runs(self):
        # Guards a crash, a hang or figures that do not add up when listings read ahead go stale:
        # whatever was removed counts as not found or empty, every total is the sum of what the
        # report shows below it, and a report that lacks a directory says so (exit code 1, and
        # the directories named on standard error).
        with h.Tree() as t:
            for i in range(300):
                for k in range(10):
                    t.add("d%03d/s%d/f" % (i, k), 100)
            stop = threading.Event()

            def remove():
                rnd = random.Random(9)
                while not stop.is_set():
                    shutil.rmtree(t.path("d%03d" % rnd.randrange(300)), ignore_errors=True)

            remover = threading.Thread(target=remove)
            remover.start()
            try:
                for n in (8, 32, 8):
                    r = run(["-tab", "-dir", t.root], n)
                    self.assertEqual(r.returncode, 1 if r.stderr else 0, r.stderr[-2000:])
                    for line in r.stderr.splitlines():
                        self.assertRegex(line, rb"^(/.*/: .+|and \d+ more|\d+ director.+)$")
                    rows = table_rows(r.stdout, t.root)
                    self.assertEqual(rows[""][2], sum(v[0] for v in rows.values()))
            finally:
                stop.set()
                remover.join()

    def test_a_directory_replaced_by_a_link_while_the_scan_runs(self):
        # Guards a directory opened by a path whose components may have become links since
        # they were listed: the moment the listing of "b" is closed, the subdirectory the scan
        # will visit last is replaced by a link to a directory outside the tree. It must be
        # "not found", never followed, with one thread as with eight.
        libc = ctypes.CDLL(None, use_errno=True)
        IN_CLOSE_NOWRITE = 0x10
        with h.Tree({"outside/leaked/f": 5000}) as t:
            for i in range(400):
                for k in range(8):
                    t.add("root/b/c%03d/s%d" % (i, k))
            root, b = t.path("root"), t.path("root/b")
            # Listed first: visited last, after everything else below "b".
            victim = os.path.join(b, os.listdir(b)[0])
            for threads in (1, 8):
                # An empty directory again, so that it can be swapped in one step.
                if os.path.islink(victim):
                    os.unlink(victim)
                else:
                    shutil.rmtree(victim)
                os.mkdir(victim)
                watch = libc.inotify_init1(os.O_CLOEXEC)
                self.assertGreaterEqual(watch, 0)
                try:
                    self.assertGreaterEqual(
                        libc.inotify_add_watch(watch, os.fsencode(b), IN_CLOSE_NOWRITE), 0)
                    env = dict(os.environ, QUORVEL_THREADS=str(threads),
                               XDG_CONFIG_HOME=os.path.join(h.BUILD, "e2e-config-empty"))
                    env.pop("QUORVEL", None)
                    # At the lowest priority, so that on a busy machine the swap below still
                    # comes before the workers reach the victim.
                    p = subprocess.Popen(h.command(["-tab", "-dir", root]), env=env,
                                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                         stderr=subprocess.PIPE, preexec_fn=lambda: os.nice(19))
                    ready, _, _ = select.select([watch], [], [], 60)
                    self.assertTrue(ready, "the listing of b was never closed")
                    os.rmdir(victim)
                    os.symlink(t.path("outside"), victim)
                    out, err = p.communicate(timeout=300)
                finally:
                    os.close(watch)
                self.assertEqual(p.returncode, 1, err)
                self.assertEqual(err, os.fsencode(victim) + b"/: vanished during the scan\n")
                self.assertFalse(b"leaked" in out, "the link was followed with %d threads" % threads)
                self.assertIn(b"Path was not found (maximum path length exceeded?): " +
                              os.fsencode(victim) + b"/", out, threads)
                rows = table_rows(out, root)
                self.assertEqual(rows[""][2], 0, threads)

    def test_a_report_that_cannot_be_written_or_is_cut_short(self):
        # Messages written while the workers read (a directory past the path budget, which
        # makes the report incomplete: exit code 1), then a full device, or a reader that
        # leaves: the same endings as in line.
        with h.Tree({"x/f": 10}) as t:
            t.add("/".join(["n" * 250] * 17))
            for i in range(2000):
                t.add("d%04d" % i)
            for n in (1, 8):
                with open("/dev/full", "wb") as full:
                    r = subprocess.run(h.command([t.root]), stdout=full, stderr=subprocess.PIPE,
                                       env=dict(os.environ, QUORVEL_THREADS=str(n)), timeout=120)
                self.assertEqual((r.returncode, r.stderr),
                                 (1, b"quorvel: cannot write to standard output\n"), n)
                p = subprocess.Popen(h.command([t.root]), stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE,
                                     env=dict(os.environ, QUORVEL_THREADS=str(n)))
                p.stdout.readline()
                p.stdout.close()
                err = p.stderr.read()
                p.stderr.close()
                p.wait(timeout=120)
                self.assertEqual(err, b"")
                self.assertIn(p.returncode, (1, -13), n)


if __name__ == "__main__":
    h.main()
