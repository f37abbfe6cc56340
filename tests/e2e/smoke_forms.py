"""A smoke run of every form of the report on one small tree, for a build whose whole
end-to-end suite runs on its twin (the 64-bit Windows build beside the 32-bit one): the screen
report redirected and with -p on a terminal, -tab, -comma, -csv, -excel, -json, -html, and
-save then -from. Each holds the tree's directories with the same figures, and these are the
native build's (sizes, the hard link counted once, the order of the rows)."""
import csv
import io
import json
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness as h

TREE = {"docs/a.txt": 5000, "docs/b,c/d": 700, "Zo\u00eb/photo": 70000, "empty": None}
CSV_HEADER = b"own_bytes,wasted_bytes,total_bytes,files,path\n"


class Forms(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tree = h.Tree(TREE)
        # In one directory, so that which name is charged (the first listed) changes no row.
        os.link(cls.tree.path("docs/a.txt"), cls.tree.path("docs/a-link"))
        cls.root = h.arg(cls.tree.root)
        r = h.run(["-csv", cls.root])
        assert r.returncode == 0, r.stderr
        cls.csv = r.stdout
        cls.records = list(csv.reader(io.StringIO(r.stdout.decode("utf-8"), newline="")))

    @classmethod
    def tearDownClass(cls):
        cls.tree.__exit__()

    def figures(self):
        """(own, wasted, total, path) of each -csv row."""
        return [(int(r[0]), int(r[1]), int(r[2]), r[4]) for r in self.records[1:]]

    def form(self, *args):
        r = h.run(list(args) + [self.root])
        self.assertEqual(r.returncode, 0, (args, r.stderr))
        return r.stdout

    def test_csv_and_excel_hold_every_directory(self):
        self.assertTrue(self.csv.startswith(CSV_HEADER))
        paths = [r[4] for r in self.records[1:]]
        base = h.shown(self.tree.root) + h.SEP
        self.assertEqual(paths, [base] + [base + p.replace("/", h.SEP) for p in
                                          ("docs", "docs/b,c", "empty", "Zo\u00eb")])
        self.assertIn(b'"' + (base + "docs" + h.SEP + "b,c").encode() + b'"\n', self.csv)
        excel = self.form("-excel")
        self.assertEqual(excel, b"\xef\xbb\xbf" + self.csv.replace(b"\n", b"\r\n"))

    def test_screen_redirected_and_with_p_on_a_terminal(self):
        out = h.lines(self.form("-cl=4096"))
        self.assertTrue(out[0].startswith(b"Quorvel "), out[:3])
        self.assertTrue(out[2].startswith(b"Quorvel report, created at "), out[:3])
        self.assertEqual(out[-1], b"\f")
        total = self.figures()[0][2]
        self.assertIn(b"  " + h.shown(self.tree.root).encode() + b"   [" +
                      format(total, ",").encode() + b"]", out[6])
        self.assertTrue(any(l.endswith("Zo\u00eb".encode()) for l in out), out)
        with h.Terminal(["-p", "-cl=4096", self.root], height=40) as term:
            self.assertEqual(term.exit_code(), 0)
            self.assertTrue(any("Cluster size: 4,096" in l for l in term.screen()), term.screen())

    def test_tab_and_comma_rows_have_the_csv_figures(self):
        want = [(o, w, t, p.encode()) for o, w, t, p in self.figures()]
        for option, sep in (("-tab", b"\t"), ("-comma", b",")):
            out = self.form(option)
            rows = out[out.index(b'"Total-no subs"'):].split(b"\r\n")[2:2 + len(want)]
            got = []
            for row in rows:
                own, waste, total, path = row.split(sep, 3)
                got.append((int(own), int(waste), int(total), path[1:-1]))
            self.assertEqual(got, want, option)

    def test_json_and_html_describe_the_same_tree(self):
        doc = json.loads(self.form("-json"))
        own, waste, total, _ = self.figures()[0]
        self.assertEqual((doc["tree"]["own"], doc["tree"]["wasted"], doc["tree"]["total"]),
                         (own, waste, total))
        self.assertEqual([c["name"] for c in doc["tree"]["children"]], ["docs", "empty", "Zo\u00eb"])
        page = self.form("-html").decode("utf-8")
        self.assertTrue(page.startswith("<!DOCTYPE html>"), page[:40])
        start = page.index('id="tree-data">') + len('id="tree-data">')
        data = json.loads(page[start:page.index("</script>", start)])
        self.assertEqual(data["n"][1:], ["docs", "b,c", "empty", "Zo\u00eb"])
        self.assertEqual(data["t"], [f[2] for f in self.figures()])

    def test_save_then_from_gives_the_same_rows(self):
        # A tree without the hard link: the Windows dump does not mark one yet.
        with h.Tree(TREE) as t, tempfile.TemporaryDirectory(prefix="quorvel-smoke-") as folder:
            dump = os.path.join(folder, "scan.json")
            disk = h.run(["-save=" + h.arg(dump), "-csv", h.arg(t.root)])
            self.assertEqual(disk.returncode, 0, disk.stderr)
            with open(dump) as f:
                self.assertEqual(json.load(f)[0:2], [1, 2])
            self.assertEqual(h.run(["-from=" + h.arg(dump), "-csv"]).stdout, disk.stdout)

    def test_figures_and_order_are_the_native_builds(self):
        native = os.path.join(os.path.dirname(os.path.normpath(h.BUILD)), "native", "quorvel")
        if not h.WINDOWS or not os.access(native, os.X_OK):
            self.skipTest("no native build beside this Windows build")
        r = subprocess.run([native, "-csv", self.tree.root], stdout=subprocess.PIPE, timeout=120)
        theirs = list(csv.reader(io.StringIO(r.stdout.decode("utf-8"), newline="")))
        self.assertEqual([x[:4] for x in theirs], [x[:4] for x in self.records])


if __name__ == "__main__":
    h.main()
