"""Saved scans, on real trees: a tree dumped by ncdu -o and by gdu -o and reported with -from
gives the rows the disk gives (also with -cl=512 and -dir); a -from -save dump is read back by
ncdu -f and by -from; a -save of the disk's scan holds what ncdu's own dump holds, is read by
ncdu -f and gdu -f, and gives the disk's rows with -from; a directory that could not be read is
a read_error in it; growth with new and gone directories through -csv; two dumps compared
without the disk; a dump made on Linux read by the Windows build; bad dumps refused with one
line; -save interrupted or failing leaves the file that was there and no temporary file; -save
writes what its name names (a link's target, a FIFO, a device, standard output); names in the
messages masked on a terminal; a -since dump of an unrelated tree refused."""
import glob
import json
import os
import re
import shutil
import signal
import stat
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness as h

NCDU = shutil.which("ncdu")
GDU = shutil.which("gdu")

# No file of several names: the dump's order and the disk's may charge one at different names.
TREE = {
    "a/f1": 10000,
    "a/f2": 0,
    "a/b/big": 300000,
    "c": None,
    "d/e/f/g": 5000,
    "top": 4097,
    "\u00e9t\u00e9/x": 100,
    "many/" + "n" * 40: 1,
}


def make_tree():
    t = h.Tree(TREE)
    h.write_file(t.path("sparse"), 1 << 20, sparse=True)
    for i in range(30):
        h.write_file(t.path("many/f%02d" % i), 700 * i)
    return t


def ncdu_dump(root, out):
    subprocess.run([NCDU, "-0", "-x", "-o", out, root], check=True, stdin=subprocess.DEVNULL)


def tree_rows(output, root_shown=None):
    """The directory lines of a redirected screen report; the root's name (a path, which the
    disk and a dump name differently under Wine) is cut from its line."""
    lines = h.lines(output)
    start = next(i for i, l in enumerate(lines) if l.startswith(b" Total-no subs")) + 2
    end = next(i for i in range(start, len(lines)) if lines[i].startswith(b"-----"))
    rows = lines[start:end]
    if rows and root_shown:
        rows[0] = rows[0].split(b"  " + root_shown)[0]
    return rows


def temporaries(directory):
    """The temporary files of a save left in directory."""
    return glob.glob(os.path.join(directory, ".qv-*")) + glob.glob(os.path.join(directory,
                                                                                "*.tmp-*"))


def csv_rows(output):
    return [l.split(b",") for l in output.split(b"\n")[1:] if l]


def totals(output):
    """The totals line of a redirected screen report, and the drive's cluster size line."""
    lines = h.lines(output)
    start = next(i for i, l in enumerate(lines) if l.startswith(b" Total-no subs")) + 2
    end = next(i for i in range(start, len(lines)) if lines[i].startswith(b"-----"))
    drive = next(i for i in range(end, len(lines)) if lines[i].startswith(b"Drive "))
    return [lines[end + 1], lines[drive + 1]]


def dump_entries(text):
    """{path below the root ("" for the root): info} of every entry of a dump's tree; a
    directory's info has "dir" set."""
    doc = json.loads(text)
    out = {}
    stack = [(doc[3], None)]
    while stack:
        node, parent = stack.pop()
        info = dict(node[0] if isinstance(node, list) else node)
        path = "" if parent is None else (parent + "/" + info["name"]).lstrip("/")
        if isinstance(node, list):
            info["dir"] = True
            stack.extend((child, path) for child in node[1:])
        out[path] = info
    return out


def sizes(entries, keys):
    return {p: tuple(e.get(k, 0) for k in keys) for p, e in entries.items()}


class FromDump(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not NCDU or not GDU:
            raise unittest.SkipTest("ncdu and gdu are needed (make test installs them)")
        cls.tree = make_tree()
        cls.dumps = h.Tree({})
        cls.ncdu = cls.dumps.path("ncdu.json")
        cls.gdu = cls.dumps.path("gdu.json")
        ncdu_dump(cls.tree.root, cls.ncdu)
        subprocess.run([GDU, "-n", "-o", cls.gdu, cls.tree.root], check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        cls.tree.__exit__()
        cls.dumps.__exit__()

    def disk_and_dump(self, dump, options=()):
        disk = h.run(list(options) + [h.arg(self.tree.root)])
        saved = h.run(list(options) + ["-from=" + h.arg(dump)])
        self.assertEqual(disk.returncode, 0, disk.stderr)
        self.assertEqual(saved.returncode, 0, saved.stderr)
        return (tree_rows(disk.stdout, h.shown(self.tree.root).encode()),
                tree_rows(saved.stdout, self.tree.root.encode()), saved)

    def test_ncdu_dump_gives_the_disks_rows(self):
        # The promise: a dump of an unchanged tree reports as the disk does, whatever
        # the cluster or mode.
        for options in ((), ("-cl=512",), ("-dir",), ("-2", "-sort=files"), ("-size=8K",)):
            disk, saved, _ = self.disk_and_dump(self.ncdu, options)
            self.assertEqual(saved, disk, options)
            self.assertGreater(len(disk), 5)

    def test_gdu_dump_gives_the_disks_rows(self):
        # gdu writes no space for directories and puts the inode on one name only.
        disk, saved, _ = self.disk_and_dump(self.gdu, ("-cl=4096",))
        self.assertEqual(saved, disk)

    def test_report_says_it_comes_from_a_saved_scan(self):
        _, _, saved = self.disk_and_dump(self.ncdu)
        out = h.lines(saved.stdout)
        self.assertTrue(out[2].startswith(b"Quorvel report, created at "), out[2])
        self.assertIn(b", from a scan made at ", out[2])
        self.assertTrue(any(l.startswith(b"Saved scan: ") and b"ncdu.json, made at " in l
                            for l in out), out)
        self.assertIn(b"Drive statistics: none in the saved scan.", out)

    def test_directory_beside_from_selects_it_in_the_dump(self):
        sub = self.tree.root + "/d/e"
        saved = h.run(["-tab", "-from=" + h.arg(self.ncdu), sub])
        self.assertEqual(saved.returncode, 0, saved.stderr)
        # The database forms end their lines with CR LF on both builds.
        rows = [l.rstrip(b"\r") for l in saved.stdout.split(b"\n") if l.startswith(b" ")]
        self.assertEqual([r.split(b"\t")[-1] for r in rows],
                         [b'"' + sub.encode() + b'/"', b'"' + sub.encode() + b'/f"'])
        missing = h.run(["-from=" + h.arg(self.ncdu), self.tree.root + "/nothing"])
        self.assertEqual(missing.returncode, 1)
        self.assertIn(b"Path was not found (maximum path length exceeded?): " +
                      self.tree.root.encode() + b"/nothing", missing.stdout)

    def test_save_of_a_dump_reads_back_in_ncdu_and_here(self):
        # What -save writes, ncdu -f reads (its own export of it holds every entry) and -from
        # reads as the same rows; the Windows build writes it as the Linux one does.
        saved = self.dumps.path("saved.json")
        r = h.run(["-from=" + h.arg(self.ncdu), "-save=" + h.arg(saved)])
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(saved, "rb") as f:
            text = f.read()
        self.assertTrue(text.startswith(b'[1,2,{"progname":"quorvel","progver":"'), text[:80])
        again = subprocess.run([NCDU, "-f", saved, "-o", "-"], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        self.assertEqual(again.returncode, 0, again.stderr)
        with open(self.ncdu, "rb") as f:
            original = f.read()
        # ncdu's export of our dump lists what its own dump lists, line for line but the first.
        self.assertEqual(again.stdout.split(b"\n")[1:], original.split(b"\n")[1:])
        back = h.run(["-from=" + h.arg(saved)])
        first = h.run(["-from=" + h.arg(self.ncdu)])
        self.assertEqual(tree_rows(back.stdout), tree_rows(first.stdout))
        self.assertEqual(temporaries(self.dumps.root), [])

    def test_dump_from_standard_input(self):
        with open(self.ncdu, "rb") as f:
            r = h.run(["-csv", "-from=-"], stdin=f)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.split(b"\n")[0], b"own_bytes,wasted_bytes,total_bytes,files,path")
        self.assertEqual(csv_rows(r.stdout)[0][-1], self.tree.root.encode() + b"/")

    def test_del_and_control_bytes_in_names_are_written_as_ncdu_writes_them(self):
        src, out = self.dumps.path("odd.json"), self.dumps.path("odd-saved.json")
        with open(src, "wb") as f:
            f.write(b'[1,2,{},[{"name":"/odd"},[{"name":"d\\u007f\\u0001"},{"name":"f\\u007f"}]]]')
        self.assertEqual(h.run(["-from=" + h.arg(src), "-save=" + h.arg(out)]).returncode, 0)
        again = subprocess.run([NCDU, "-f", out, "-o", "-"], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        self.assertEqual(set(dump_entries(again.stdout)), {"", "d\x7f\x01", "d\x7f\x01/f\x7f"})

    def test_directory_on_another_file_system_named_beside_from_is_said_to_be(self):
        # As ncdu lists one (an entry) and as Quorvel does (an empty directory), or below one.
        src = self.dumps.path("othfs.json")
        with open(src, "wb") as f:
            f.write(b'[1,2,{},[{"name":"/m","dev":1},{"name":"o","excluded":"othfs"},'
                    b'[{"name":"q","excluded":"othfs"}]]]')
        for name in ("/m/o", "/m/q", "/m/q/below"):
            r = h.run(["-from=" + h.arg(src), name])
            self.assertEqual((r.returncode, r.stdout.count(b"Total-no subs"), r.stderr),
                             (1, 0, b"quorvel: " + name.encode() + b" is on another file "
                              b"system; the saved scan did not read it" + h.EOL))

    def test_windows_rows_join_a_linux_dumps_names_with_its_separator(self):
        r = h.run(["-comma", "-from=" + h.arg(self.ncdu)])
        paths = [l.rstrip(b"\r").split(b",")[-1] for l in r.stdout.split(b"\n") if l[:1].isdigit()]
        self.assertIn(b'"' + self.tree.root.encode() + "/\u00e9t\u00e9".encode() + b'"', paths)

    def test_largest_from_a_dump_are_the_disks(self):
        # -top=N of a dump of an unchanged tree lists what the disk lists: the same files and
        # directories at the same sizes, -exclude leaving out the same files; and a dump saved
        # from it (-from -save) lists them again, in the same order. With -dir every size here
        # differs, so the order is known; with clusters, sizes tie, and of equal sizes the one
        # met first ranks first: the disk under Wine lists names sorted, a dump as it holds them.
        saved = self.dumps.path("top.json")
        r = h.run(["-from=" + h.arg(self.ncdu), "-save=" + h.arg(saved), "-p"])
        self.assertEqual(r.returncode, 0, r.stderr)
        roots = (self.tree.root.encode(), h.shown(self.tree.root).encode())

        def lists(source, options):
            r = h.run(["-csv"] + options + [source])
            self.assertEqual(r.returncode, 0, r.stderr)
            rows = csv_rows(r.stdout)
            self.assertTrue(rows and all(row[0] in (b"file", b"dir") for row in rows), rows)
            rel = [b"".join(row[2:])[len(next(x for x in roots if row[2].startswith(x))):]
                   .strip(b"/\\").replace(b"\\", b"/") for row in rows]
            return [(row[0], int(row[1]), path) for row, path in zip(rows, rel)]

        for options, ordered in ((["-dir", "-top=10"], True),
                                 (["-dir", "-top=10", "-exclude=f2*"], True),
                                 (["-cl=4096", "-top=1000"], False)):
            disk = lists(h.arg(self.tree.root), options)
            dump = lists("-from=" + h.arg(self.ncdu), options)
            again = lists("-from=" + h.arg(saved), options)
            if ordered:
                self.assertEqual(dump, disk, options)
            self.assertEqual(sorted(dump), sorted(disk), options)
            self.assertEqual(again, dump, options)
            self.assertIn((b"file", 300000 if "-dir" in options else 303104, b"a/b/big"), disk)
            self.assertEqual(len([k for k, _, _ in disk if k == b"file"]),
                             10 if ordered else 35)  # every file that holds space
        excluded = lists(h.arg(self.tree.root), ["-dir", "-top=10", "-exclude=f2*"])
        self.assertFalse(any(p.startswith(b"many/f2") for _, _, p in excluded), excluded)


class SaveOfTheDisk(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not NCDU or not GDU:
            raise unittest.SkipTest("ncdu and gdu are needed (make test installs them)")
        cls.tree = make_tree()
        # Files of several names, in directories of their own: the dump lists them in the
        # order the scan met them, so each is charged at the same name again (on Windows by id).
        os.link(cls.tree.path("a/b/big"), cls.tree.add("links/big", None) + "2")
        os.link(cls.tree.path("top"), cls.tree.add("z/y", None) + "/top")
        # A link as long as its file, which Wine lists with the file's length and id.
        os.symlink("ab", cls.tree.add("z/ab", 2)[:-2] + "lnk")
        cls.dumps = h.Tree({})
        cls.ncdu = cls.dumps.path("ncdu.json")
        cls.saved = cls.dumps.path("saved.json")
        ncdu_dump(cls.tree.root, cls.ncdu)
        cls.disk = h.run(["-save=" + h.arg(cls.saved), h.arg(cls.tree.root)])
        with open(cls.saved, "rb") as f:
            cls.text = f.read()

    @classmethod
    def tearDownClass(cls):
        cls.tree.__exit__()
        cls.dumps.__exit__()

    def test_report_is_the_disks_and_the_dump_holds_what_ncdus_holds(self):
        self.assertEqual(self.disk.returncode, 0, self.disk.stderr)
        plain = h.run([h.arg(self.tree.root)])
        self.assertEqual(tree_rows(self.disk.stdout), tree_rows(plain.stdout))
        self.assertEqual(temporaries(self.dumps.root), [])
        meta = json.loads(self.text)[2]
        self.assertEqual(meta["progname"], "quorvel")
        self.assertLessEqual(abs(meta["timestamp"] - time.time()), 600)
        self.assertEqual(meta["quorvel"]["cluster"], meta["quorvel"]["drive"]["cluster"])
        self.assertTrue(meta["quorvel"]["start_charged"])
        ours = dump_entries(self.text)
        with open(self.ncdu, "rb") as f:
            theirs = dump_entries(f.read())
        self.assertEqual(set(ours), set(theirs))
        # The Windows build has what Wine's listing gives: the files' lengths, no blocks, no
        # folder's own size.
        if h.WINDOWS:
            for entries in (ours, theirs):
                for e in entries.values():
                    e["asize"] = 0 if e.get("dir") else e.get("asize", 0)
        keys = ("dir", "asize") if h.WINDOWS else ("dir", "asize", "dsize", "ino", "nlink")
        self.assertEqual(sizes(ours, keys), sizes(theirs, keys))
        self.assertFalse(any(e.get("read_error") for e in ours.values()))

    def test_ncdu_and_gdu_read_it(self):
        again = subprocess.run([NCDU, "-f", self.saved, "-o", "-"], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        self.assertEqual(again.returncode, 0, again.stderr)
        keys = ("dir", "asize", "dsize", "ino", "read_error")
        self.assertEqual(sizes(dump_entries(again.stdout), keys),
                         sizes(dump_entries(self.text), keys))
        gdu = subprocess.run([GDU, "-f", self.saved, "-n", "-p", "--no-prefix"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             stdin=subprocess.DEVNULL)
        self.assertEqual(gdu.returncode, 0, gdu.stderr)
        names = {l.split()[-1].lstrip(b"/") for l in gdu.stdout.split(b"\n") if l.strip()}
        self.assertTrue({b"a", b"many", b"top", b"sparse"} <= names, gdu.stdout)

    def test_from_gives_the_disks_rows(self):
        for options in ((), ("-cl=512",), ("-dir",), ("-2", "-sort=files"), ("-size=8K",),
                        ("-sort=none",), ("-sort=waste", "-3")):
            disk = h.run(list(options) + [h.arg(self.tree.root)])
            saved = h.run(list(options) + ["-from=" + h.arg(self.saved)])
            self.assertEqual(saved.returncode, 0, saved.stderr)
            self.assertEqual(tree_rows(saved.stdout), tree_rows(disk.stdout), options)
            # The totals and the drive's cluster (its free space moves on the shared disk).
            self.assertEqual(totals(saved.stdout), totals(disk.stdout), options)
        # The paths too, where the start directory has small ones folded into it (its name
        # then ends in " ..." on the screen, never in a path); -since finds each directory.
        for options in (("-size=8K",), ("-2", "-size=8K")):
            disk = h.run(["-csv"] + list(options) + [h.arg(self.tree.root)])
            saved = h.run(["-csv"] + list(options) + ["-from=" + h.arg(self.saved)])
            self.assertEqual(saved.stdout, disk.stdout, options)
            since = h.run(["-csv", "-since=" + h.arg(self.saved)] + list(options) +
                          ["-from=" + h.arg(self.saved)])
            rows = csv_rows(since.stdout)
            self.assertEqual([r[-2] for r in rows], [r[-1] for r in csv_rows(disk.stdout)])
            self.assertEqual({(r[-3], r[-1]) for r in rows}, {(b"", b"")}, since.stdout)
        since = h.run(["-csv", "-since=" + h.arg(self.saved), h.arg(self.tree.root)])
        self.assertEqual({tuple(r[4:6]) for r in csv_rows(since.stdout)}, {(b"0", b"")})

    def test_directory_beside_from_is_found_as_the_disk_finds_it(self):
        sub = h.arg(self.tree.path("d/e"))
        want = h.run(["-csv", "-from=" + h.arg(self.saved), sub]).stdout
        for asked in [sub.upper()] + ([sub.replace("\\", "/"), "D/E"] if h.WINDOWS else []):
            r = h.run(["-csv", "-from=" + h.arg(self.saved), asked])  # in any case on Windows
            self.assertEqual((r.returncode, r.stdout == want), (1 - h.WINDOWS, h.WINDOWS), asked)
        self.assertEqual(len(csv_rows(want)), 2)

    def test_no_file_named_dot_dot_in_a_folder_directly_under_the_root(self):
        # Wine flags ".." of every folder directly under Z:\ as a reparse point.
        with h.Tree({"f": 5000}, root="/" if os.access("/", os.W_OK) else None) as t:
            disk = h.run(["-csv", "-save=" + h.arg(self.dumps.path("t.json")), h.arg(t.base)])
            back = h.run(["-csv", "-from=" + h.arg(self.dumps.path("t.json"))])
            self.assertEqual((back.returncode, back.stdout), (0, disk.stdout))
            self.assertEqual([r[3] for r in csv_rows(disk.stdout)], [b"0", b"1"])

    def test_unreadable_directory_is_a_read_error_in_the_dump(self):
        # Root reads everything: the native build runs as an unprivileged user. Wine cannot
        # open a folder whose name holds '"', which serves the Windows build as one.
        with h.Tree({"locked/secret": 5000, "open/f": 3000, 'q"x/f': 10}) as t:
            out = t.path("out")
            os.mkdir(out)
            os.chmod(out, 0o777)
            os.chmod(t.base, 0o755)
            unreadable = ["q\"x"] if h.WINDOWS else ["locked"]
            argv = h.command(["-save=" + h.arg(out + "/d.json"), h.arg(t.root)])
            if not h.WINDOWS:
                if os.geteuid() == 0:
                    if not shutil.which("setpriv"):
                        self.skipTest("running as root without setpriv")
                    argv = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] + argv
                os.chmod(t.path("locked"), 0)
            env = h.wine_env(dict(os.environ)) if h.WINDOWS else None
            r = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, env=env, timeout=300)
            self.assertEqual(r.returncode, 1, r.stderr)
            with open(out + "/d.json", "rb") as f:
                entries = dump_entries(f.read())
            self.assertEqual(sorted(p for p, e in entries.items() if e.get("read_error")),
                             unreadable)
            self.assertEqual(entries["open/f"]["asize"], 3000)
            back = h.run(["-from=" + h.arg(out + "/d.json")])
            self.assertEqual(tree_rows(back.stdout), tree_rows(r.stdout))

    @unittest.skipIf(h.WINDOWS, "Wine opens no path past about 4,066 bytes")
    def test_directory_skipped_past_the_budget_reads_back_as_the_disk_left_it(self):
        # Saved unread and empty, as the scan left it: the dump is read back (not refused as
        # nesting past the budget), with the disk's rows, and the report lacks it as the
        # disk's did: exit code 1, and a line says so.
        with h.Tree({}) as t:
            t.add("/".join(["a" * 100] * 41))
            dump = t.path("d.json")
            disk = h.run(["-save=" + dump, t.root])
            self.assertEqual(disk.returncode, 1, disk.stderr)
            self.assertIn(b"Path skipped", disk.stdout)
            back = h.run(["-from=" + dump])
            self.assertEqual(back.returncode, 1, back.stderr)
            self.assertIn(b"1 directories were skipped by the scan", back.stderr)
            self.assertEqual(tree_rows(back.stdout), tree_rows(disk.stdout))


class Growth(unittest.TestCase):
    def setUp(self):
        if not NCDU:
            self.skipTest("ncdu is needed (make test installs it)")
        self.tree = make_tree()
        self.dumps = h.Tree({})
        self.old = self.dumps.path("old.json")
        ncdu_dump(self.tree.root, self.old)
        # What changes: a directory grows, one goes with what was below it, one is new.
        h.write_file(self.tree.path("a/f3"), 50000)
        shutil.rmtree(self.tree.path("d"))
        self.tree.add("n/m/file", 20000)

    def tearDown(self):
        self.tree.__exit__()
        self.dumps.__exit__()

    def check_growth(self, rows, before, relative):
        """rows: parsed -csv -since rows; before: {relative path: total} of the old dump."""
        got = {relative(r[-2]): r for r in rows}
        self.assertEqual(got[b"n"][5], b"new")
        self.assertEqual(got[b"n"][4], got[b"n"][2])  # a new directory grew by all of it
        self.assertEqual(got[b"n/m"][5], b"new")
        self.assertEqual(got[b"d"][:6], [b"0", b"0", b"0", b"0", b"-" + before[b"d"], b"gone"])
        self.assertNotIn(b"d/e", got)  # only the top of what went has a row
        self.assertEqual(int(got[b"a"][4]), int(got[b"a"][2]) - int(before[b"a"]))
        self.assertEqual(got[b"a"][5], b"")
        self.assertEqual(got[b"c"][4], b"0")
        root = got[b""]
        self.assertEqual(int(root[4]), int(root[2]) - int(before[b""]))

    def totals(self, dump):
        r = h.run(["-csv", "-from=" + h.arg(dump)])
        return {self.rel(row[-1]): row[2] for row in csv_rows(r.stdout)}

    def rel(self, path):
        for root in (self.tree.root.encode(), h.shown(self.tree.root).encode()):
            if path.startswith(root):
                return path[len(root):].strip(b"/\\").replace(b"\\", b"/")
        return path

    def test_growth_new_and_gone_against_the_disk(self):
        r = h.run(["-csv", "-since=" + h.arg(self.old), h.arg(self.tree.root)])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.split(b"\n")[0],
                         b"own_bytes,wasted_bytes,total_bytes,files,growth_bytes,change,path,"
                         b"moved_from")
        self.check_growth(csv_rows(r.stdout), self.totals(self.old), self.rel)

    def test_two_dumps_compared_without_the_disk(self):
        new = self.dumps.path("new.json")
        ncdu_dump(self.tree.root, new)
        r = h.run(["-csv", "-from=" + h.arg(new), "-since=" + h.arg(self.old)])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.check_growth(csv_rows(r.stdout), self.totals(self.old), self.rel)
        screen = h.run(["-sort=growth", "-units", "-from=" + h.arg(new),
                        "-since=" + h.arg(self.old)])
        out = h.lines(screen.stdout)
        self.assertIn(b"          Growth       Directory name", out[4])
        # The root's subdirectories: the tree starts after 48 columns of figures and 2 blanks.
        level1 = [(l[53:].split(b"   [")[0], l[44:48]) for l in tree_rows(screen.stdout)[1:]
                  if l[50:53] in (b"|--", b"+--")]
        # Largest growth first: the directory that grew most, then the new one; nothing else
        # changed but what went, which comes last.
        self.assertEqual([n for n, _ in level1[:2]], [b"a", b"n"])
        self.assertEqual(level1[1][1], b"new ")
        self.assertEqual(level1[-1], (b"d", b"gone"))
        self.assertTrue(any(l.startswith(b"Growth since ") for l in out), out)

    def dump_of(self, root):
        path = self.dumps.path("other.json")
        with open(path, "wb") as f:
            f.write(b'[1,2,{},[{"name":' + json.dumps(root).encode() +
                    b'},{"name":"f","asize":10}]]')
        return path

    def test_dump_of_an_unrelated_tree_is_refused_before_the_scan(self):
        # Neither the start directory, nor one above or below it: one line naming both, and
        # nothing is compared.
        dump = self.dump_of("/var/elsewhere")
        r = h.run(["-csv", "-since=" + h.arg(dump), h.arg(self.tree.root)])
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, b"")
        self.assertEqual(h.lines(r.stderr), [
            b"quorvel: " + h.arg(dump).encode() + b": a scan of /var/elsewhere, which has no "
            b"directory in common with " + h.shown(self.tree.root).encode()])
        # One of a directory below the start directory is compared.
        inside = self.dump_of(self.tree.root + "/a")
        r = h.run(["-csv", "-since=" + h.arg(inside), h.arg(self.tree.root)])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"compared directory by directory below each", r.stderr)

    def test_names_in_messages_are_masked_on_a_terminal(self):
        # A dump's root that would retitle and recolour the terminal, in the line that says
        # what the dump is of: shown as the report shows names.
        hostile = self.tree.root + "/\x1b]0;pwned\x07\x1b[31mred"
        dump = self.dump_of(hostile)
        # Tall enough for the report and the lists of the files behind the growth after it.
        with h.Terminal(["-p", "-1", "-since=" + h.arg(dump), h.arg(self.tree.root)],
                        cwd=self.dumps.root, height=60) as term:
            screen = "\n".join(term.wait_for("compared directory by directory"))
            self.assertEqual(term.exit_code(), 0, screen)
        self.assertIn("/?]0;pwned??[31mred, compared directory by directory below each",
                      screen.replace("\n", ""))


class Moves(unittest.TestCase):
    """-since against a tree changed by a move (mv: the same inode), a copy then a delete (the
    same files, new inodes), a new 3 MB file, a grown file and a deleted directory; the old side
    Quorvel's own dump and ncdu's."""

    def setUp(self):
        self.tree = h.Tree({"lib/fp/big.js": 100000, "lib/fp/small.js": 10, "lib/fp/sub/x": 5000,
                            "keep/k": 3000, "express/a.js": 10000, "gone/g": 20000})
        self.dumps = h.Tree({})
        self.old = [self.dumps.path("old.json")]
        self.assertEqual(h.run(["-p", "-save=" + h.arg(self.old[0]),
                                h.arg(self.tree.root)]).returncode, 0)
        if NCDU:
            self.old.append(self.dumps.path("ncdu.json"))
            ncdu_dump(self.tree.root, self.old[1])
        os.mkdir(self.tree.path("vendor"))
        os.rename(self.tree.path("lib/fp"), self.tree.path("vendor/fp"))
        shutil.copytree(self.tree.path("keep"), self.tree.path("keep2"))
        shutil.rmtree(self.tree.path("keep"))
        h.write_file(self.tree.path("express/new.bin"), 3 << 20)
        h.write_file(self.tree.path("express/a.js"), 30000)
        shutil.rmtree(self.tree.path("gone"))

    def tearDown(self):
        self.tree.__exit__()
        self.dumps.__exit__()

    def rel(self, path):
        for root in (self.tree.root.encode(), h.shown(self.tree.root).encode()):
            if path.startswith(root):
                return path[len(root):].strip(b"/\\").replace(b"\\", b"/")
        return path

    def rows(self, *options):
        r = h.run(["-csv"] + list(options) + [h.arg(self.tree.root)])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.split(b"\n")[0], b"own_bytes,wasted_bytes,total_bytes,files,"
                         b"growth_bytes,change,path,moved_from")
        return [(self.rel(row[6]), row[4], row[5], self.rel(row[7]) if row[7] else b"")
                for row in csv_rows(r.stdout)]

    def test_moved_rows_only_what_changed_and_the_largest_change_first(self):
        for old in self.old:
            since = "-since=" + h.arg(old)
            got = {path: (growth, change, moved) for path, growth, change, moved in
                   self.rows(since)}
            # One row at the new place for each move, none at the old; what moved with fp is
            # compared with what was below it.
            self.assertEqual(got[b"vendor/fp"], (b"0", b"moved", b"lib/fp"), old)
            self.assertEqual(got[b"vendor/fp/sub"], (b"0", b"", b""), old)
            self.assertEqual(got[b"keep2"][1:], (b"moved", b"keep"), old)
            self.assertEqual(got[b"vendor"][1:], (b"new", b""), old)
            self.assertEqual(got[b"gone"][1:], (b"gone", b""), old)
            self.assertNotIn(b"lib/fp", got)
            self.assertNotIn(b"keep", got)
            self.assertGreater(int(got[b"express"][0]), 3 << 20)
            # Only what changed, with the directories above it: sub/ did not.
            changed = self.rows(since, "-changed")
            self.assertEqual(sorted(p for p, _, _, _ in changed),
                             [b"", b"express", b"gone", b"keep2", b"lib", b"vendor",
                              b"vendor/fp"], old)
            # The largest change first, whatever its sign: the 3 MB, then fp's 100 K come to
            # vendor and gone from lib (equal: the larger total first), then gone/'s 20 K, and
            # keep2, moved, of no growth.
            order = [p for p, _, _, _ in self.rows(since, "-sort=change", "-changed")
                     if p and b"/" not in p]
            self.assertEqual(order, [b"express", b"vendor", b"lib", b"gone", b"keep2"], old)
            # The files behind the growth, as -top's rows: what moved is neither new nor gone.
            r = h.run(["-csv", "-top=3", since, h.arg(self.tree.root)])
            files = [(row[0], row[1], self.rel(row[2])) for row in csv_rows(r.stdout)
                     if row[0].endswith(b"_file")]
            self.assertEqual(files, [(b"new_file", str(3 << 20).encode(), b"express/new.bin"),
                                     (b"grown_file", b"20000", b"express/a.js"),
                                     (b"gone_file", b"20000", b"gone/g")], old)
        # -json and the screen name the move too.
        r = h.run(["-json", "-since=" + h.arg(self.old[0]), h.arg(self.tree.root)])
        doc = json.loads(r.stdout)
        vendor = next(c for c in doc["tree"]["children"] if c["name"] == "vendor")
        self.assertEqual((vendor["change"], vendor["moved_from"]), ("new", None))
        self.assertEqual((vendor["children"][0]["change"], vendor["children"][0]["moved_from"]),
                         ("moved", "lib" + ("\\" if h.WINDOWS else "/") + "fp"))
        self.assertEqual([self.rel(f["path"].encode()) for f in doc["top"]["new_files"]],
                         [b"express/new.bin"])
        screen = h.lines(h.run(["-p", "-since=" + h.arg(self.old[0]), h.arg(self.tree.root)]).stdout)
        fp = next(l for l in screen if b"--fp" in l)
        self.assertRegex(fp, rb" 0 moved  .*--fp   \[.*\]   moved from lib[/\\]fp$")

    def test_refused_without_since(self):
        for option, word in (("-changed", b"-changed"), ("-sort=change", b"-sort=change")):
            r = h.run([option, h.arg(self.tree.root)])
            self.assertEqual(r.returncode, 1)
            self.assertEqual(h.lines(r.stderr)[-1][:len(word) + 22],
                             b"quorvel: " + word + b" needs -since")


class BadDumps(unittest.TestCase):
    def setUp(self):
        self.dir = h.Tree({})

    def tearDown(self):
        self.dir.__exit__()

    def refused(self, content, says):
        path = self.dir.path("bad.json")
        with open(path, "wb") as f:
            f.write(content)
        r = h.run(["-from=" + h.arg(path)])
        self.assertEqual(r.returncode, 1)
        err = [l for l in r.stderr.split(b"\n") if l.startswith(b"quorvel: ")]
        self.assertEqual(len(err), 1, r.stderr)
        self.assertTrue(err[0].startswith(b"quorvel: " + h.arg(path).encode() + b": "), err)
        self.assertIn(says, err[0])
        self.assertNotIn(b"Total-no subs", r.stdout)
        return err[0]

    def test_each_fault_is_one_line_naming_the_file_and_the_byte(self):
        self.refused(b"<html>not a dump</html>", b"at byte 0: not JSON")
        self.refused(b'[1,2,{},[{"name":"/x"},{"name":"f","asize":1', b"cut short")
        self.refused(b'[3,0,{},[{"name":"/x"}]]', b"version 3")
        self.refused(b'[1,2,{},[{"name":"/x"},{"name":"a/b"}]]', b"at byte 36: a name holding '/'")
        self.refused(b'[1,2,{},[{"name":"/x"},{"name":"f","asize":-5}]]', b"asize")
        self.refused(bytes(range(256)) * 64, b"not JSON")
        deep = b'[1,2,{},[{"name":"/"}' + b',[{"name":"ab"}' * 3000 + b"]" * 3002
        self.refused(deep, b"longer than 4095 bytes")
        # Only blanks may follow a whole dump, as ncdu takes it (a zero byte is no blank).
        for after in (b"\n]", b"\n\0junk"):
            self.refused(b'[1,2,{},[{"name":"/x"}]]' + after, b"at byte 25: bytes after the end")

    def test_sums_saturate_and_impossible_drive_figures_are_left_out(self):
        big = b'"asize":9223372036854771712,"dsize":9223372036854771712'
        path = self.dir.path("huge.json")
        with open(path, "wb") as f:
            f.write(b'[1,2,{"quorvel":{"cluster":4096,"drive":{"name":"/","cluster":4096,'
                    b'"free":9000,"capacity":5000}}},[{"name":"/x"},{"name":"f",' + big +
                    b'},{"name":"g",' + big + b'},[{"name":"d"},{"name":"h",' + big + b'}]]]')
        r = h.run(["-from=" + h.arg(path)])
        self.assertEqual(r.stderr, b"quorvel: " + h.arg(path).encode() + b": its drive's free "
                         b"space exceeds its capacity; the drive's statistics are left out" + h.EOL)
        out = h.lines(r.stdout)
        self.assertIn(b"9,223,372,036,854,775,807    0%      3  Cluster size: 4,096  "
                      b"Wastage: 7,936", out)
        self.assertIn(b"Drive statistics: none in the saved scan.", out)
        # A negative figure; not a "-" inside the temporary folder's name.
        negative = rb"(^|[\s\[(])-\d"
        self.assertFalse([l for l in out if b"Used space" in l or re.search(negative, l)], out)

    def test_missing_dump(self):
        r = h.run(["-from=" + h.arg(self.dir.path("none.json"))])
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"none.json: cannot be read: ", r.stderr)


class SaveFailures(unittest.TestCase):
    def setUp(self):
        self.dir = h.Tree({})
        self.dump = self.dir.path("good.json")
        with open(self.dump, "w") as f:
            f.write('[1,2,{},[{"name":"/x"},{"name":"f","asize":10,"dsize":4096}]]')
        self.target = self.dir.path("target.json")
        with open(self.target, "w") as f:
            f.write("what was there")

    def tearDown(self):
        self.dir.__exit__()

    def assertUntouched(self):
        with open(self.target) as f:
            self.assertEqual(f.read(), "what was there")
        self.assertEqual(temporaries(self.dir.root), [])

    def test_file_that_cannot_be_made_is_said_before_reading(self):
        r = h.run(["-from=" + h.arg(self.dump), "-save=" + h.arg(self.dir.path("no/such/x.json"))])
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"x.json: cannot be written: ", r.stderr)
        self.assertNotIn(b"Total-no subs", r.stdout)

    def test_bad_dump_leaves_the_file_as_it_was(self):
        bad = self.dir.path("bad.json")
        with open(bad, "w") as f:
            f.write('[1,2,{},[{"name":"/x"},{"name":"f"')
        r = h.run(["-from=" + h.arg(bad), "-save=" + h.arg(self.target)])
        self.assertEqual(r.returncode, 1)
        self.assertUntouched()

    @unittest.skipIf(h.WINDOWS, "Windows has no termination signal; its Ctrl+C handler is "
                                "the platform's, not testable through Wine's pipes")
    def test_interrupted_save_leaves_the_file_as_it_was(self):
        # A dump read slowly from a pipe: the run is ended by each ending signal while the
        # temporary file is being written.
        with open(self.dump) as f:
            text = f.read()
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            p = subprocess.Popen(h.command(["-from=-", "-save=" + self.target]),
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE)
            p.stdin.write(text[:20].encode())
            p.stdin.flush()
            end = time.time() + 20
            while not temporaries(self.dir.root) and time.time() < end:
                time.sleep(0.05)
            self.assertTrue(temporaries(self.dir.root), "no temporary file was made")
            p.send_signal(sig)
            p.communicate(timeout=20)
            self.assertEqual(p.returncode, -sig)
            self.assertUntouched()

    def test_ctrl_c_while_saving_leaves_the_file_as_it_was(self):
        # In a terminal, reading the dump from the keyboard: Ctrl+C ends the run while the
        # temporary file is open (on Windows through the console's handler).
        with h.Terminal(["-from=-", "-save=" + h.arg(self.target)], cwd=self.dir.root) as term:
            end = time.time() + 30
            while not temporaries(self.dir.root) and time.time() < end:
                time.sleep(0.1)
            self.assertTrue(temporaries(self.dir.root), "no temporary file was made")
            term.keys("[1,2,{},")
            term.keys("C-c")
            # The session's shell ends with the program; what counts is what it left.
            end = time.time() + 30
            while temporaries(self.dir.root) and time.time() < end:
                time.sleep(0.1)
        self.assertUntouched()

    def test_save_replaces_the_file_when_whole(self):
        r = h.run(["-from=" + h.arg(self.dump), "-save=" + h.arg(self.target)])
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(self.target) as f:
            self.assertTrue(f.read().startswith('[1,2,{"progname":"quorvel"'))
        self.assertEqual(temporaries(self.dir.root), [])

    def test_bad_since_dump_is_refused_before_the_scan_and_leaves_the_dump(self):
        bad = self.dir.path("bad.json")
        with open(bad, "w") as f:
            f.write('[1,2,{},[{"name":"/x"}')
        r = h.run(["-p", "-save=" + h.arg(self.target), "-since=" + h.arg(bad), h.arg(self.dir.root)])
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"bad.json: not a saved scan that can be read", r.stderr)
        self.assertNotIn(b"Reading directory", r.stderr)
        self.assertNotIn(b"Total-no subs", r.stdout)
        self.assertUntouched()

    def shell(self, script, args):
        """The program run by sh after script (a limit, a closed descriptor)."""
        return subprocess.run(["sh", "-c", script + ' "$@"', "sh"] + h.command(args),
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=120)

    @unittest.skipIf(h.WINDOWS, "Wine gives a program started with a closed descriptor a "
                                "handle of its own; the POSIX build is the one that meets it")
    def test_closed_standard_output_leaves_the_old_dump(self):
        # Nothing the program opens takes descriptor 1: the dump is not corrupted by the
        # report, and as the report is lost the old dump stays.
        for args in (["-p"], ["-csv"]):
            r = self.shell("exec 3>&1; exec >&-; exec", args + ["-from=" + self.dump,
                                                                "-save=" + self.target])
            self.assertEqual(r.returncode, 1, r.stderr)
            self.assertIn(b"cannot write to standard output", r.stderr)
            self.assertIn(b"target.json: was not written: standard output could not be written",
                          r.stderr)
            self.assertUntouched()

    @unittest.skipIf(h.WINDOWS, "Windows has no file-size limit of a process")
    def test_file_size_limit_is_a_failed_write_said_with_its_reason(self):
        self.dir.add("many/" + "x" * 200, None)
        for i in range(300):
            h.write_file(self.dir.path("many/%03d-%s" % (i, "n" * 150)), 1)
        r = self.shell("ulimit -f 40; exec", ["-p", "-1", "-save=" + self.target, self.dir.root])
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn(b"target.json: was not written: File too large", r.stderr)
        self.assertIn(b"Total-no subs", r.stdout)  # the report is still made
        self.assertUntouched()
        # A full disk, as /dev/full gives it.
        r = h.run(["-p", "-from=" + self.dump, "-save=/dev/full"])
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn(b"/dev/full: was not written: No space left on device", r.stderr)


POSIX_ONLY = "the Windows build has no symbolic links, FIFOs or device nodes to save into"


class SaveTargets(unittest.TestCase):
    """-save writes to what its name names, each kind of target as ncdu -o does."""

    def setUp(self):
        self.dir = h.Tree({"tree/a/f": 5000, "tree/b": None})
        self.tree = self.dir.path("tree")

    def tearDown(self):
        self.dir.__exit__()

    def save(self, target, check=True):
        r = h.run(["-p", "-save=" + h.arg(target), h.arg(self.tree)])
        if check:
            self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(temporaries(os.path.dirname(target)), [])
        return r

    def assertDump(self, path):
        with open(path, "rb") as f:
            self.assertTrue(f.read().startswith(b'[1,2,{"progname":"quorvel"'))

    @unittest.skipIf(h.WINDOWS, POSIX_ONLY)
    def test_link_writes_its_target_and_stays_a_link(self):
        with open(self.dir.path("real.json"), "w") as f:
            f.write("old")
        os.symlink("real.json", self.dir.path("latest.json"))
        self.save(self.dir.path("latest.json"))
        self.assertEqual(os.readlink(self.dir.path("latest.json")), "real.json")
        self.assertDump(self.dir.path("real.json"))
        # A dangling link makes its target.
        os.symlink("made.json", self.dir.path("dangling"))
        self.save(self.dir.path("dangling"))
        self.assertDump(self.dir.path("made.json"))

    @unittest.skipIf(h.WINDOWS or os.geteuid() != 0, POSIX_ONLY + "; a link of another user "
                     "needs root to make")
    def test_link_planted_in_a_sticky_directory_is_refused_before_the_scan(self):
        sticky = self.dir.path("shared")
        os.mkdir(sticky)
        os.chmod(sticky, 0o1777)
        with open(self.dir.path("victim"), "w") as f:
            f.write("what was there")
        os.symlink(self.dir.path("victim"), sticky + "/dump.json")
        os.lchown(sticky + "/dump.json", 65534, 65534)
        r = self.save(sticky + "/dump.json", check=False)
        self.assertEqual(r.returncode, 1)
        err = [l for l in r.stderr.split(b"\n") if l.startswith(b"quorvel: ")]
        self.assertEqual(err, [b"quorvel: " + sticky.encode() + b"/dump.json: cannot be written: "
                               b"a link in a sticky directory, owned by neither you nor the "
                               b"directory's owner, is not followed"])
        self.assertNotIn(b"Total-no subs", r.stdout)
        with open(self.dir.path("victim")) as f:
            self.assertEqual(f.read(), "what was there")
        # The user's own link there is followed.
        os.lchown(sticky + "/dump.json", 0, 0)
        self.save(sticky + "/dump.json")
        self.assertDump(self.dir.path("victim"))

    @unittest.skipIf(h.WINDOWS or os.geteuid() != 0, POSIX_ONLY + "; a file of another user "
                     "needs root to make")
    def test_replaced_file_keeps_its_mode_only_when_it_is_the_users_never_set_id(self):
        mask = os.umask(0)
        os.umask(mask)
        own = self.dir.path("own.json")
        with open(own, "w") as f:
            f.write("x")
        os.chmod(own, 0o4750)
        self.save(own)
        self.assertEqual(stat.S_IMODE(os.lstat(own).st_mode), 0o750)
        # Another user's file of mode 6777 behind a link: the dump is a new file of the
        # user's, not a set-id file the other user may rewrite.
        other = self.dir.path("other.json")
        with open(other, "w") as f:
            f.write("x")
        os.symlink(other, self.dir.path("link.json"))
        os.chown(other, 65534, 65534)
        os.chmod(other, 0o6777)
        self.save(self.dir.path("link.json"))
        st = os.stat(other)
        self.assertEqual((stat.S_IMODE(st.st_mode), st.st_uid), (0o666 & ~mask, 0))

    @unittest.skipIf(h.WINDOWS, POSIX_ONLY)
    def test_fifo_gets_the_dump_straight(self):
        fifo = self.dir.path("pipe")
        os.mkfifo(fifo)
        got = []
        reader = __import__("threading").Thread(
            target=lambda: got.append(open(fifo, "rb").read()))
        reader.start()
        self.save(fifo)
        reader.join(30)
        self.assertTrue(stat.S_ISFIFO(os.lstat(fifo).st_mode))
        self.assertEqual(json.loads(got[0])[3][0]["name"], self.tree)

    @unittest.skipIf(h.WINDOWS or os.geteuid() != 0, POSIX_ONLY + "; mknod needs root")
    def test_device_gets_the_dump_straight(self):
        null = os.stat("/dev/null").st_rdev
        device = self.dir.path("null")
        os.mknod(device, 0o666 | stat.S_IFCHR, null)
        self.save(device)
        st = os.lstat(device)
        self.assertEqual((stat.S_ISCHR(st.st_mode), st.st_rdev), (True, null))

    def test_dump_on_standard_output_alone_read_by_ncdu(self):
        if not NCDU:
            self.skipTest("ncdu is needed (make test installs it)")
        # A message written before the report (a bad thread count) once pushed the banner out
        # ahead of the dump.
        r = h.run(["-save=-", h.arg(self.tree)], cwd=self.dir.root,
                  extra_env={"QUORVEL_THREADS": "many"})
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(r.stdout.startswith(b'[1,2,{"progname":"quorvel"'), r.stdout[:80])
        self.assertIn(b"QUORVEL_THREADS", r.stderr)
        self.assertFalse(os.path.exists(self.dir.path("-")))
        back = subprocess.run([NCDU, "-f-", "-o", "-"], input=r.stdout, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE)
        self.assertEqual(back.returncode, 0, back.stderr)
        self.assertEqual(set(dump_entries(back.stdout)), {"", "a", "a/f", "b"})

    def test_target_name_of_255_bytes(self):
        target = self.dir.path("d" * 250 + ".json")
        self.save(target)
        self.assertDump(target)


if __name__ == "__main__":
    h.main()
