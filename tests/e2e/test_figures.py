"""The report's figures against the file system itself, on a generated tree of thousands of
directories (no symbolic links, whose listed sizes differ under Wine): in exact mode the
grand total and the file count equal what find sums and counts, and in wastage mode every
directory's own size, wastage and total equal the rounding rule applied to lstat sizes and entry
counts."""
import os
import random
import re
import stat
import subprocess
import sys
import unittest

sys.setrecursionlimit(20000)  # trees as deep as the Linux path budget allows

sys.path.insert(0, os.path.dirname(__file__))
import harness as h

# The program's path budget: a subdirectory is read only when its parent's path (with the
# separator) and its name fit in 4095 bytes.
PATH_BUDGET = h.PATH_BUDGET

ROW = re.compile(rb"^ *(-?\d+)\t *(-?\d+)\t *(-?\d+)\t\"(.*)\"\r?$")
TOTALS = re.compile(rb"^ *([\d,]+)(?: +\d+%| +[\d,]+)?? +([\d,]+)  Cluster size: ([\d,]+)  Wastage: (\S+)\r?$")


def shown_length(path):
    """Length of a Linux path as the program holds it (drive Z: and backslashes under Wine)."""
    return len(os.fsencode(h.arg(path)))


def expected_figures(root, cluster, exact=False, padded=False):
    """What the scan should find below root: {relative path: (localSize, wastage, files,
    total)} for every directory it reads, with its run totals (files, own wastage summed).
    Links are not followed; subdirectories whose path would pass the budget are not read. In
    wastage mode a Linux file counts for what it holds on the disk, and a file of several names
    at the first of them the scan meets: a directory's own files in listing order, then its
    subdirectories from the last listed to the first. padded: the program is given the start
    directory as h.padded_arg(root)."""
    figures = {}
    totals = {"files": 0, "waste": 0}
    unit = h.cluster_size(root)  # the file system's own, whatever cluster the report uses
    charged = set()  # (device, inode) of the files of several names already charged

    def round_up(size):
        r = size % cluster
        return (size, 0) if r == 0 else (size + cluster - r, cluster - r)

    def scan(fd, path, rel):
        # Read through open directories, so paths of any length the program reads can be.
        local = waste = files = 0
        subdirs = []
        names = os.listdir(fd)
        for name in names:
            st = os.lstat(name, dir_fd=fd)
            if stat.S_ISDIR(st.st_mode):
                subdirs.append(name)
                continue
            files += 1
            if exact:
                local += st.st_size
            else:
                held, extra = h.allocated(st), h.reserved(st, unit)
                if st.st_nlink > 1:
                    if (st.st_dev, st.st_ino) in charged:
                        held = extra = 0
                    charged.add((st.st_dev, st.st_ino))
                size, pad = round_up(held)
                local += size + extra
                waste += pad + extra
        if not exact:
            size, pad = round_up((len(names) + 2) * 32)
            local += size
            waste += pad
        totals["files"] += files
        totals["waste"] += waste
        below = 0
        length = shown_length(path) + (len(h.PATH_PAD) if padded else 0) + 1
        for name in reversed(subdirs):
            child = os.path.join(path, name)
            crel = os.path.join(rel, name) if rel else name
            if length + len(os.fsencode(name)) + h.PATTERN_ROOM <= PATH_BUDGET:
                sub = os.open(name, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
                try:
                    below += scan(sub, child, crel)
                finally:
                    os.close(sub)
            else:
                figures[crel] = (0, 0, 0, 0)
        figures[rel] = (local, waste, files, local + below)
        return local + below

    top = os.open(root, os.O_RDONLY | os.O_DIRECTORY)
    try:
        scan(top, root, "")
    finally:
        os.close(top)
    return figures, totals


def table_rows(output, root, padded=False):
    """The -tab rows as {relative path: (localSize, wastage, total)}."""
    prefix = os.fsencode(h.padded_arg(root) if padded else h.arg(root))
    rows = {}
    for line in output.split(b"\n"):
        m = ROW.match(line)
        if not m:
            continue
        path = m.group(4)
        assert path.startswith(prefix), path
        rel = path[len(prefix):].strip(b"\\/").replace(b"\\", b"/")
        rows[os.fsdecode(rel)] = (int(m.group(1)), int(m.group(2)), int(m.group(3)))
    return rows


def totals_line(output):
    """(grand total, files, cluster size, wastage text) from the footer's totals line."""
    for line in h.lines(output):
        m = TOTALS.match(line)
        if m:
            num = lambda b: int(b.replace(b",", b""))
            return num(m.group(1)), num(m.group(2)), num(m.group(3)), m.group(4).decode()
    raise AssertionError("no totals line in:\n" + output.decode("latin-1")[-2000:])


def generate(tree, directories, seed=6):
    """A reproducible tree of `directories` directories, at most 5 deep, with files of sizes
    around the cluster boundaries and others at random (those above 64 KiB sparse, so large
    sizes cost nothing: on Linux they count for the little they hold)."""
    rnd = random.Random(seed)
    dirs = [("", 0)]
    sizes = [0, 1, 31, 32, 511, 512, 1535, 1536, 1537, 4095, 4096, 4097, 8192, 65536, 10 ** 6]
    for i in range(directories):
        parent, depth = rnd.choice(dirs)
        while depth >= 5:
            parent, depth = rnd.choice(dirs)
        rel = os.path.join(parent, "d%d" % i) if parent else "d%d" % i
        tree.add(rel)
        dirs.append((rel, depth + 1))
        for k in range(rnd.randrange(4)):
            size = rnd.choice(sizes) if rnd.random() < 0.6 else rnd.randrange(3 * 10 ** 6)
            tree.add(os.path.join(rel, "f%d" % k), size, sparse=size > 65536)
    return len(dirs)


class Figures(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tree = h.Tree()
        cls.count = generate(cls.tree, 2500)

    @classmethod
    def tearDownClass(cls):
        cls.tree.__exit__(None, None, None)

    def test_exact_mode_matches_find(self):
        # Guards lost or doubly counted files and sizes summed in a narrow type.
        root = self.tree.root
        found = subprocess.run(["find", root, "!", "-type", "d", "-printf", "%s\\n"],
                               stdout=subprocess.PIPE, check=True).stdout.split()
        r = h.run(["-dir", h.arg(root)], timeout=300)
        self.assertEqual(r.returncode, 0, r.stderr)
        grand, files, _, _ = totals_line(r.stdout)
        self.assertEqual(files, len(found))
        self.assertEqual(grand, sum(int(s) for s in found))

    def test_wastage_mode_every_directory_follows_the_rounding_rule(self):
        # Guards the per-file rounding, the 32-byte entries (with "." and ".."), subdirectory
        # sums and a cluster size that is no power of two.
        root = self.tree.root
        cluster = 1536
        want, totals = expected_figures(root, cluster)
        r = h.run(["-tab", "-cl=%d" % cluster, h.arg(root)], timeout=300)
        self.assertEqual(r.returncode, 0, r.stderr)
        rows = table_rows(r.stdout, root)
        self.assertEqual(len(rows), self.count)
        wrong = [(p, rows.get(p), (w[0], w[1], w[3])) for p, w in want.items()
                 if rows.get(p) != (w[0], w[1], w[3])]
        self.assertEqual(wrong[:5], [])

        r = h.run(["-cl=%d" % cluster, h.arg(root)], timeout=300)
        grand, files, used_cluster, waste = totals_line(r.stdout)
        self.assertEqual((grand, files, used_cluster), (want[""][3], totals["files"], cluster))
        self.assertEqual(int(waste.replace(",", "")), totals["waste"])


class DiskFigures(unittest.TestCase):
    def test_sparse_files_and_hard_links_count_as_the_disk_holds_them(self):
        # Guards a sparse file charged at its length, space reserved past a file's end left
        # out, a further name of a file charged again (in one directory, across two, and one
        # whose first name lies outside the tree), and "-dir" losing a name: the total must
        # agree with du, up to the entry tables. On Windows the figures come from the listing's
        # allocation and file ids.
        with h.Tree() as t:
            outside = os.path.join(t.base, "outside")
            h.write_file(outside, 20000)
            sparse = t.add("sparse", 10 << 20, sparse=True)
            with open(sparse, "r+b") as f:
                f.seek(5 << 20)
                f.write(b"x" * 5000)
            t.add("plain", 5000)
            t.add("empty", 0)
            # 10 bytes with 8 MiB reserved past the end, as databases and journals keep them.
            journal = t.add("journal", 10)
            if subprocess.run(["fallocate", "--keep-size", "-l", "8MiB", journal]).returncode:
                self.skipTest("fallocate --keep-size is refused here")
            linked = t.add("one/linked", 70000)
            os.link(linked, t.path("one/again"))
            t.add("two/plain", 3000)
            os.link(linked, t.path("two/linked too"))
            os.link(outside, t.path("two/from outside"))
            cluster = h.cluster_size(t.root)
            want, _ = expected_figures(t.root, cluster)
            r = h.run(["-tab", "-cl=%d" % cluster, h.arg(t.root)])
            self.assertEqual(r.returncode, 0, r.stderr)
            rows = table_rows(r.stdout, t.root)
            self.assertEqual(rows, {p: (w[0], w[1], w[3]) for p, w in want.items()})
            self.assertLess(rows[""][0], 9 << 20, "the sparse file counts for what it holds")
            # A cluster of the user's choosing rounds the data alone: the reserved space
            # counts as it is.
            want, _ = expected_figures(t.root, 512)
            rows512 = table_rows(h.run(["-tab", "-cl=512", t.root]).stdout, t.root)
            self.assertEqual(rows512, {p: (w[0], w[1], w[3]) for p, w in want.items()})
            reserved = os.lstat(journal).st_blocks * 512 - h.round_up(10, cluster)
            self.assertGreaterEqual(rows512[""][1], reserved, "reserved space is wastage")

            # du charges each file once at what it holds, and each directory its own blocks;
            # the report charges each directory its entry table instead.
            du = int(subprocess.run(["du", "-sB1", t.root], stdout=subprocess.PIPE,
                                    check=True).stdout.split()[0])
            dirs = [d for d, _, _ in os.walk(t.root)]
            du_dirs = sum(os.lstat(d).st_blocks * 512 for d in dirs)
            tables = sum(h.round_up(32 * (len(os.listdir(d)) + 2), cluster) for d in dirs)
            self.assertEqual(rows[""][2] - tables, du - du_dirs)

            r = h.run(["-dir", h.arg(t.root)])
            grand, files, _, _ = totals_line(r.stdout)
            names = [os.path.join(d, f) for d, _, fs in os.walk(t.root) for f in fs]
            self.assertEqual(files, len(names))
            self.assertEqual(grand, sum(os.lstat(n).st_size for n in names))


if __name__ == "__main__":
    h.main()
