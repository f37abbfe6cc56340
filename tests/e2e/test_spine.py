"""The scanning spine end to end on real trees, redirected to a pipe: exact report lines, the
entry-table charge, empty and hidden files, missing and too-long paths, and which directory
argument is reported."""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness as h
import spine_common as s
from test_figures import totals_line


class RedirectedRuns(unittest.TestCase):
    def report(self, root, args=None, code=0):
        r = s.run(args if args is not None else [h.arg(root)])
        self.assertEqual(r.returncode, code, r.stderr)
        # Every directory could be read: no closing line on standard error.
        self.assertEqual(r.stderr, b"")
        p = s.Parsed(r.stdout)
        self.assertEqual(p.last, b"\f", "the form-feed line must be last")
        return p

    def test_small_tree_exact_lines(self):
        # Guards the figures: every file rounded to the drive's clusters, 32 bytes per entry of
        # each directory's table, brackets only where there are subdirectories.
        with h.Tree({"a": 3000, "sub/b": 8192, "sub/deeper/empty": 0, "other": None}) as t:
            c = h.cluster_size(t.root)
            R = lambda n: s.round_up(n, c)
            p = self.report(t.root)
            self.assertEqual(p.messages, [])
            self.assertEqual(p.report[0], s.HEADER)
            self.assertEqual(p.report[1], s.RULE)
            root_local, root_waste = R(3000) + R(5 * 32), R(3000) - 3000 + R(160) - 160
            other = (R(64), R(64) - 64)
            sub = (R(8192) + R(128), R(8192) - 8192 + R(128) - 128)
            deeper = (R(96), R(96) - 96)
            sub_total = sub[0] + deeper[0]
            grand = root_local + other[0] + sub_total
            self.assertEqual(p.tree(), [
                s.line(root_local, root_waste, 1, s.shown(t.root), grand),
                s.line(other[0], other[1], 0, b"|--other"),
                s.line(sub[0], sub[1], 1, b"+--sub", sub_total),
                s.line(deeper[0], deeper[1], 1, b"   +--deeper"),
            ])
            waste = root_waste + other[1] + sub[1] + deeper[1]
            f = p.footer()
            self.assertEqual(f[0], s.RULE)
            self.assertEqual(f[1], s.totals(grand, waste, 3, c))
            self.assertEqual(f[2], s.RULE)
            self.assertEqual(f[3], b"")
            self.assertEqual(f[5], b"   Cluster size: " + s.thousands(c).rjust(14) + b" bytes")
            self.assertEqual(len(f), 9)
            if c == 4096:
                self.assertEqual(p.tree()[0], b"         8,192   61%      1  " + s.shown(t.root) + b"   [28,672]")
                self.assertEqual(f[1], b"        28,672   59%      3  Cluster size: 4,096  Wastage: 17,032")

    def test_footer_names_the_drive_and_its_space(self):
        # The drive line: "Z" under Windows (the drive letter), the mount point on Linux.
        with h.Tree({"f": 1}) as t:
            f = self.report(t.root).footer()
            if h.WINDOWS:
                self.assertEqual(f[4], b"Drive Z: statistics:")
            else:
                mount = t.root
                while mount != "/" and os.stat(os.path.dirname(mount)).st_dev == os.stat(t.root).st_dev:
                    mount = os.path.dirname(mount)
                self.assertEqual(f[4], b"Drive " + mount.encode() + b": statistics:")
            v = os.statvfs(t.root)
            self.assertEqual(f[8], b"       Capacity: " + s.thousands(v.f_blocks * v.f_frsize).rjust(14) + b" bytes")
            free = int(f[6].split(b"bytes")[0].split(b":")[1].replace(b",", b""))
            used = int(f[7].split(b"bytes")[0].split(b":")[1].replace(b",", b""))
            self.assertEqual(free + used, v.f_blocks * v.f_frsize)
            self.assertTrue(f[6].endswith(b" of capacity is free)"), f[6])

    def test_empty_directory_is_charged_for_dot_and_dotdot(self):
        # An empty directory's table holds "." and "..": 64 bytes, one cluster on the disk.
        with h.Tree() as t:
            c = h.cluster_size(t.root)
            p = self.report(t.root)
            local, waste = s.round_up(64, c), s.round_up(64, c) - 64
            self.assertEqual(p.tree(), [s.line(local, waste, 0, s.shown(t.root))])
            self.assertEqual(p.footer()[1], s.totals(local, waste, 0, c))
            if c == 4096:
                self.assertEqual(p.tree()[0], b"         4,096   98%      0  " + s.shown(t.root))
                self.assertTrue(p.footer()[1].endswith(b"Wastage: 4,032"))

    def test_zero_byte_file_counts_but_costs_nothing(self):
        with h.Tree({"zero": 0}) as t:
            c = h.cluster_size(t.root)
            p = self.report(t.root)
            local = s.round_up(96, c)
            self.assertEqual(p.tree(), [s.line(local, local - 96, 1, s.shown(t.root))])

    def test_hidden_files_and_directories_count(self):
        # Dot files are ordinary files on Linux and hidden files under Windows: counted on both.
        with h.Tree({".hidden": 100, "visible": 100, ".cache/x": 10}) as t:
            c = h.cluster_size(t.root)
            R = lambda n: s.round_up(n, c)
            p = self.report(t.root)
            root_local = 2 * R(100) + R(160)
            cache = R(10) + R(96)
            self.assertEqual(p.tree(), [
                s.line(root_local, root_local - 200 - 160, 2, s.shown(t.root), root_local + cache),
                s.line(cache, cache - 10 - 96, 1, b"+--.cache"),
            ])

    def test_missing_directory_gives_its_message_and_no_report(self):
        # The message names the path with its separator; no report; the form-feed line still
        # ends the output, and the exit code 1 tells a script that no report was made.
        with h.Tree() as t:
            missing = t.path("not-there")
            r = s.run([h.arg(missing)])
            self.assertEqual(r.returncode, 1)
            p = s.Parsed(r.stdout)
            self.assertEqual(p.messages, [s.NOT_FOUND + s.shown(missing) + s.sep()])
            # Standard output is a file here: the user and the scripts that read errors look on
            # standard error, where the message goes once more, prefixed.
            self.assertEqual(r.stderr, b"quorvel: " + s.NOT_FOUND + s.shown(missing) + s.sep() + h.EOL)
            self.assertEqual(p.report, [])
            self.assertEqual(p.last, b"\f")

    def test_missing_parent_too(self):
        with h.Tree() as t:
            missing = t.path("no/such/dir")
            r = s.run([h.arg(missing)])
            self.assertEqual(r.returncode, 1)
            p = s.Parsed(r.stdout)
            self.assertEqual(p.messages, [s.NOT_FOUND + s.shown(missing) + s.sep()])
            self.assertEqual(p.report, [])

    def test_start_path_past_the_budget_is_not_found(self):
        # Guards a start path cut to the budget of 4095 bytes, which names one of its ancestors
        # (here an existing chain of a/a/a/...) and was reported instead, with exit code 0: a
        # relative argument that the current directory takes past the budget is "not found",
        # with the path as far as the budget holds it, and no directory is read.
        with h.Tree() as t:
            argument = "a/" * 2100 + "missing"
            # Under Wine no path past about 4,066 bytes opens at all: the chain stays shorter.
            t.add("/".join(["a"] * (1000 if h.WINDOWS else 2100)))
            r = s.run([argument.replace("/", h.SEP)], cwd=t.root)
            self.assertEqual(r.returncode, 1, r.stderr)
            p = s.Parsed(r.stdout)
            expanded = (h.arg(t.root) + h.SEP + argument.replace("/", h.SEP))[:h.PATH_BUDGET]
            self.assertEqual(p.messages, [s.NOT_FOUND + expanded.encode()])
            self.assertEqual(r.stderr, b"quorvel: " + s.NOT_FOUND + expanded.encode() + h.EOL)
            self.assertEqual(p.report, [])
            self.assertEqual(p.last, b"\f")
            if h.WINDOWS:
                return
            # One of exactly the budget's 4,095 bytes is read (with its separator it would pass
            # the system's limit for one open); its subdirectory, one level past, is skipped.
            n = h.PATH_BUDGET - len(t.root) - 1
            fits = "a/" * ((n - 1) // 2) + "a" if n % 2 else "a//" + "a/" * ((n - 4) // 2) + "a"
            r = s.run([fits], cwd=t.root)
            self.assertEqual(r.returncode, 1, r.stderr)
            p = s.Parsed(r.stdout)
            self.assertEqual(len(t.root + "/" + fits), h.PATH_BUDGET)
            self.assertEqual(p.messages[1:], [b"Path skipped"])
            self.assertEqual(len(p.tree()), 2)

    def test_path_too_long_is_skipped_with_two_messages(self):
        # A subdirectory whose path would pass the budget of 4095 bytes is not read; one that
        # just fits is. Figures of everything else stay right, and the exit code 1 says that
        # the report lacks one.
        budget, room = h.PATH_BUDGET, h.PATTERN_ROOM
        with h.Tree() as t:
            shown_root = h.padded_arg(t.root)
            rel, L = [], len(shown_root) + 1
            while L + 50 + 4 <= budget - 60:
                rel.append("n" * 50)
                L += 51
            deep = os.path.join(t.root, *rel)
            fits = "f" * (budget - room - L)
            over = "o" * (budget - room + 1 - L)
            t.add(os.path.join(deep, fits, "inside"), 10)
            t.add(os.path.join(deep, over, "lost"), 10)
            t.add(os.path.join(deep, "here"), 10)
            p = self.report(None, [shown_root], code=1)
            parent = (shown_root + h.SEP + h.SEP.join(rel) + h.SEP).encode()
            self.assertEqual(p.messages, [
                b"Maximum path length of %d exceeded for directory " % budget + parent + over.encode(),
                b"Path skipped",
            ])
            c = h.cluster_size(t.root)
            tree = p.tree()
            self.assertEqual(len(tree), 1 + len(rel) + 2)
            pad = b"   " * (len(rel) - 1)
            self.assertEqual(tree[-2], s.line(s.round_up(10, c) + s.round_up(96, c),
                                              s.round_up(10, c) - 10 + s.round_up(96, c) - 96, 1,
                                              pad + b"   |--" + fits.encode()))
            self.assertTrue(tree[-1].startswith(b"             0    0%      0  "), tree[-1])
            self.assertTrue(tree[-1].endswith(b"+--" + over.encode()), tree[-1])
            self.assertEqual(p.footer()[1][22:27], b"    2")  # "inside" and "here"; not "lost"

    def test_last_directory_argument_wins(self):
        with h.Tree({"a/x": 1, "b/y": 1, "c/z": 1}) as t:
            p = self.report(None, [h.arg(t.path("a")), h.arg(t.path("b")), h.arg(t.path("c"))])
            self.assertTrue(p.tree()[0].endswith(b"  " + s.shown(t.path("c"))), p.tree()[0])
            self.assertEqual(len(p.tree()), 1)

    def test_current_directory_by_default(self):
        with h.Tree({"only": 5}) as t:
            r = s.run([], cwd=t.root)
            self.assertEqual(r.returncode, 0)
            p = s.Parsed(r.stdout)
            self.assertTrue(p.tree()[0].endswith(b"  " + s.shown(t.root) + s.sep()), p.tree()[0])

    @unittest.skipIf(h.WINDOWS, "Wine replaces a removed current directory by a drive of its own")
    def test_removed_current_directory_is_not_replaced_by_another(self):
        # getcwd fails in a removed directory; the run must not fall back to reporting "/".
        with h.Tree({"d": None}) as t:
            gone = t.path("d")
            env = dict(os.environ)
            env.update(s.LOCALE)
            script = 'cd "$1" && rmdir "$1" && exec "$2"'
            r = subprocess.run(["sh", "-c", script, "sh", gone, h.exe()], env=env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, timeout=60)
            self.assertEqual(r.returncode, 1)
            p = s.Parsed(r.stdout)
            self.assertEqual(p.messages, [s.NOT_FOUND + gone.encode() + b"/"])
            self.assertEqual(p.report, [])
            # Without the shell's record of the directory the run still stays in it.
            env.pop("PWD", None)
            os.mkdir(gone)
            r = subprocess.run(["sh", "-c", 'cd "$1" && rmdir "$1" && unset PWD && exec "$2"',
                                "sh", gone, h.exe()], env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, timeout=60)
            p = s.Parsed(r.stdout)
            self.assertEqual(r.returncode, 1 if p.report == [] else 0)
            self.assertTrue(p.report == [] or not p.tree()[0].endswith(b"  /"), p.report)
            self.assertTrue(p.report == [] or len(p.tree()) == 1, p.report)

    def test_names_print_exactly_as_stored(self):
        # Blanks, commas, a leading dash and accented letters pass through untouched, in
        # UTF-8 on both builds.
        names = ["with blank", "a,b", "-dash", "caf\u00e9", "na\u00efve dir", " lead", "trail "]
        with h.Tree({n + "/f": 1 for n in names}) as t:
            p = self.report(t.root)
            got = [l[32:] for l in p.tree()[1:]]
            want = sorted((n.encode("utf-8") for n in names), key=lambda b: b.upper())
            self.assertEqual(got, want)


@unittest.skipUnless(h.WINDOWS, "drive letters and network shares exist only in the Windows build")
class DriveChecks(unittest.TestCase):
    def check(self, argument, messages):
        # A drive that cannot be queried ends the run before the scan: its message (none for a
        # server alone), no report, the form-feed line, exit code 1.
        r = s.run([argument])
        self.assertEqual(r.returncode, 1)
        p = s.Parsed(r.stdout)
        self.assertEqual(p.messages, messages)
        self.assertEqual(p.report, [])
        self.assertEqual(p.last, b"\f")

    def test_drive_without_medium(self):
        self.check("q:\\data", [b"Invalid drive Q:\\  Ensure the drive door is closed"])

    def test_drive_relative_argument_of_unknown_drive(self):
        self.check("Q:", [b"Invalid drive Q:\\  Ensure the drive door is closed"])

    def test_unknown_network_share(self):
        self.check("\\\\nosuchserver\\share\\dir",
                   [b"Invalid drive \\\\nosuchserver\\share\\  Ensure the drive door is closed"])

    def test_server_alone_writes_nothing(self):
        self.check("\\\\nosuchserver", [])


@unittest.skipUnless(h.WINDOWS, "file-system redirection is the 32-bit Windows build's")
class System32(unittest.TestCase):
    def test_the_real_system32_on_64_bit_windows(self):
        # Guards redirection left on: the 32-bit program then reads SysWOW64 under the name
        # System32, so a report of C:\\Windows counts SysWOW64 twice and the real System32 never.
        env = h.wow64_env()
        if env is None:
            self.skipTest("no 64-bit Wine loader (%s): no 64-bit prefix to run in" % h.WINE64)
        windows = os.path.join(env["WINEPREFIX"], "drive_c", "windows")
        want = {}
        for name in ("system32", "syswow64"):
            sizes = [os.lstat(os.path.join(d, f)).st_size
                     for d, _, fs in os.walk(os.path.join(windows, name)) for f in fs]
            want[name] = (sum(sizes), len(sizes))
        self.assertNotEqual(want["system32"], want["syswow64"])
        for name in ("system32", "syswow64"):
            r = subprocess.run(h.command(["-dir", "C:\\windows\\" + name]), env=env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, timeout=300)
            self.assertEqual(r.returncode, 0, r.stderr[-2000:])
            self.assertEqual(totals_line(r.stdout)[:2], want[name], name)


if __name__ == "__main__":
    h.main()
