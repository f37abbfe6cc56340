"""Saved scans, on real trees: a tree dumped by ncdu -o and by gdu -o and reported with -from
gives the rows the disk gives (also with -cl=512 and -dir); a -from -save dump is read back by
ncdu -f and by -from; a -save of the disk's scan holds what ncdu's own dump holds, is read by
ncdu -f and gdu -f, and gives the disk's rows with -from; a directory that could not be read is
a read_error in it; growth with new and gone directories through -csv; two dumps compared
without the disk; a dump made on Linux read by the Windows build; bad dumps refused with one
line; -save interrupted or failing leaves the file that was there and no temporary file."""
import glob
import json
import os
import shutil
import signal
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
        self.assertEqual(glob.glob(saved + ".tmp*"), [])

    def test_dump_from_standard_input(self):
        with open(self.ncdu, "rb") as f:
            r = h.run(["-csv", "-from=-"], stdin=f)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.split(b"\n")[0], b"own_bytes,wasted_bytes,total_bytes,files,path")
        self.assertEqual(csv_rows(r.stdout)[0][-1], self.tree.root.encode() + b"/")

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
        self.assertEqual(glob.glob(self.saved + ".tmp*"), [])
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
        got = {relative(r[-1]): r for r in rows}
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
                         b"own_bytes,wasted_bytes,total_bytes,files,growth_bytes,change,path")
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
        self.assertEqual(glob.glob(self.target + ".tmp*"), [])

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
            while not glob.glob(self.target + ".tmp*") and time.time() < end:
                time.sleep(0.05)
            self.assertTrue(glob.glob(self.target + ".tmp*"), "no temporary file was made")
            p.send_signal(sig)
            p.communicate(timeout=20)
            self.assertEqual(p.returncode, -sig)
            self.assertUntouched()

    def test_ctrl_c_while_saving_leaves_the_file_as_it_was(self):
        # In a terminal, reading the dump from the keyboard: Ctrl+C ends the run while the
        # temporary file is open (on Windows through the console's handler).
        with h.Terminal(["-from=-", "-save=" + h.arg(self.target)], cwd=self.dir.root) as term:
            end = time.time() + 30
            while not glob.glob(self.target + ".tmp*") and time.time() < end:
                time.sleep(0.1)
            self.assertTrue(glob.glob(self.target + ".tmp*"), "no temporary file was made")
            term.keys("[1,2,{},")
            term.keys("C-c")
            # The session's shell ends with the program; what counts is what it left.
            end = time.time() + 30
            while glob.glob(self.target + ".tmp*") and time.time() < end:
                time.sleep(0.1)
        self.assertUntouched()

    def test_save_replaces_the_file_when_whole(self):
        r = h.run(["-from=" + h.arg(self.dump), "-save=" + h.arg(self.target)])
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(self.target) as f:
            self.assertTrue(f.read().startswith('[1,2,{"progname":"quorvel"'))
        self.assertEqual(glob.glob(self.target + ".tmp*"), [])


if __name__ == "__main__":
    h.main()
