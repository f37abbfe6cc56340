"""The database forms of real trees, redirected: exact bytes of both forms (CR LF line ends on
both builds), the last of -tab and -comma winning, roots keeping a single separator, names with
commas, and the comma form loaded by a real CSV reader against the screen report's total."""
import csv
import io
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness as h

TAB_TITLES = b'"Total-no subs"\t"Wasted space"\t "Dir+SubDirs"\t"Directory name"'
COMMA_TITLES = b'"Total-no subs","Wasted space","Dir+SubDirs","Directory name"'


def figures(path, cluster):
    """localSize, wastage and the total of the directory at path and all below it, as the scan
    computes them: files rounded up to clusters, 32 bytes per entry ("." and ".." included)."""
    names = os.listdir(path)
    local = waste = 0
    below = 0
    for n in names:
        p = os.path.join(path, n)
        if os.path.isdir(p):
            below += figures(p, cluster)[2]
        else:
            size = os.path.getsize(p)
            local += h.round_up(size, cluster)
            waste += h.round_up(size, cluster) - size
    table = 32 * (len(names) + 2)
    local += h.round_up(table, cluster)
    waste += h.round_up(table, cluster) - table
    return local, waste, local + below


def rows(root, cluster, form):
    """The expected rows in the order of the drawn tree (names in ascending order)."""
    out = []

    def walk(path, shown, prefix):
        out.append(row(*figures(path, cluster), shown, form))
        for n in sorted(os.listdir(path), key=lambda n: n.upper()):
            if os.path.isdir(os.path.join(path, n)):
                walk(os.path.join(path, n), prefix + n, prefix + n + h.SEP)

    walk(root, h.shown(root) + h.SEP, h.shown(root) + h.SEP)
    return out


def row(local, waste, total, path, form):
    quoted = b'"' + path.encode() + b'"'
    if form == "comma":
        return b"%d,%d,%d," % (local, waste, total) + quoted
    return b"%14d\t%14d\t%14d\t" % (local, waste, total) + quoted


def database_part(out):
    """The header lines and rows of a redirected database run: everything between the banner
    and title lines before and the form-feed line after; each line still ending in CR LF."""
    start = out.index(b'"Total-no subs"')
    end = out.rindex(b"\f")
    return out[start:end]


class DatabaseForms(unittest.TestCase):
    TREE = {"alpha/a": 3000, "alpha/b": 10, "beta/gamma/g": 70000, "beta/x": 1, "c,d/e": 0,
            "c,d/deeper/deepest/f": 5}

    def check(self, form, option):
        with h.Tree(self.TREE) as t:
            r = h.run([option, h.arg(t.root)])
            self.assertEqual(r.returncode, 0)
            c = h.cluster_size(t.root)
            titles = TAB_TITLES if form == "tab" else COMMA_TITLES
            want = b"".join(l + b"\r\n" for l in [titles, b""] + rows(t.root, c, form))
            self.assertEqual(database_part(r.stdout), want)
            # The title line before it and the form-feed line after keep the platform's line end.
            self.assertIn(b"Quorvel report, created at ", r.stdout)
            self.assertTrue(r.stdout.endswith(b"\f" + h.EOL), r.stdout[-10:])

    def test_fixed_columns_exact_bytes(self):
        # Guards the padding to 14, the tabs, the quoted paths and CR LF on POSIX too.
        self.check("tab", "-tab")

    def test_comma_separated_exact_bytes(self):
        # A comma in a name is written unchanged inside the quotes.
        self.check("comma", "-comma")

    def test_last_form_option_wins(self):
        with h.Tree({"a": None}) as t:
            comma = h.run(["-tab", "-comma", h.arg(t.root)]).stdout
            tab = h.run(["-comma", "-tab", h.arg(t.root)]).stdout
        self.assertTrue(database_part(comma).startswith(COMMA_TITLES + b"\r\n"), comma)
        self.assertTrue(database_part(tab).startswith(TAB_TITLES + b"\r\n"), tab)

    def test_directory_without_subdirectories(self):
        # Two header lines and one row, whose path ends in the separator.
        with h.Tree({"f": 100}) as t:
            out = database_part(h.run(["-comma", h.arg(t.root)]).stdout)
            c = h.cluster_size(t.root)
        local = h.round_up(100, c) + h.round_up(96, c)
        self.assertEqual(out, COMMA_TITLES + b"\r\n\r\n" +
                         row(local, local - 196, local, h.shown(t.root) + h.SEP, "comma") + b"\r\n")

    def test_root_given_with_its_separator_keeps_one(self):
        # "." expands with the separator already on, as a drive root ("C:\", "/") does: the
        # separator must not be doubled.
        with h.Tree({"sub": None}) as t:
            root = (h.shown(t.root) + h.SEP).encode()
            for arg, cwd in ((".", t.root), (h.arg(t.root) + h.SEP, None)):
                lines = database_part(h.run(["-comma", arg], cwd=cwd).stdout).split(b"\r\n")
                self.assertTrue(lines[2].endswith(b',"' + root + b'"'), (arg, lines))
                self.assertTrue(lines[3].endswith(b',"' + root + b'sub"'), (arg, lines))

    def test_options_of_the_screen_report_do_not_change_rows(self):
        # -nowaste, -asval and -c+ are display switches of the drawn tree; the rows keep every
        # figure.
        with h.Tree(self.TREE) as t:
            plain = database_part(h.run(["-tab", h.arg(t.root)]).stdout)
            switched = h.run(["-nowaste", "-asval", "-c+", "-tab", h.arg(t.root)]).stdout
        switched = database_part(switched)
        self.assertEqual(plain, switched)


class CsvConsumer(unittest.TestCase):
    def test_csv_reader_loads_every_directory_and_the_grand_total(self):
        # A real consumer: Python's csv module reads the comma form; it must find one record per
        # directory, the quoted paths intact, and the root's Dir+SubDirs equal to the screen
        # report's grand total.
        tree = {"a/x": 5000, "b,c/y": 12345, "b,c/deep/z": 99, "e/f/g/h": 1}
        with h.Tree(tree) as t:
            out = database_part(h.run(["-comma", h.arg(t.root)]).stdout)
            screen = h.lines(h.run([h.arg(t.root)]).stdout)
        records = list(csv.reader(io.StringIO(out.decode("latin-1"), newline="")))
        self.assertEqual(records[0], ["Total-no subs", "Wasted space", "Dir+SubDirs",
                                      "Directory name"])
        self.assertEqual(records[1], [])
        data = records[2:]
        self.assertEqual(len(data), 7)  # the root and its 6 subdirectories
        self.assertEqual({len(r) for r in data}, {4})
        self.assertIn(h.shown(t.root) + h.SEP + "b,c" + h.SEP + "deep", [r[3] for r in data])
        # The footer's totals line is the ninth line from the end, before the form feed.
        grand = int(screen[-9].split()[0].replace(b",", b"").replace(b".", b""))
        self.assertEqual(int(data[0][2]), grand)
        self.assertEqual(sum(int(r[0]) for r in data), grand)


if __name__ == "__main__":
    h.main()
