"""The database forms of real trees, redirected: exact bytes of both forms (CR LF line ends on
both builds), the last of -tab and -comma winning, roots keeping a single separator, names with
commas, and the comma form loaded by a real CSV reader against the screen report's total. Then
the two exports: -csv loaded by sqlite3 and by Python's csv module, -json by Python's json
module, each row for row against -tab, with names that need quoting, escaping or hexadecimal."""
import csv
import io
import json
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
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


CSV_HEADER = b"own_bytes,wasted_bytes,total_bytes,files,path\n"


def tab_rows(out):
    """(own, wasted, total, path bytes) of each -tab row; a name may hold a lone LF, and a
    double quote in it is written twice."""
    rows = []
    for line in database_part(out).split(b"\r\n")[2:-1]:
        own, waste, total, path = line.split(b"\t", 3)
        rows.append((int(own), int(waste), int(total), path[1:-1].replace(b'""', b'"')))
    return rows


def screen_totals(out):
    """The grand total and the file count of a redirected screen report's footer."""
    line = h.lines(out)[-9]
    fields = line.split()
    return int(fields[0].replace(b",", b"")), int(fields[2].replace(b",", b""))


# The exit code of a report of Exports' tree: under Wine three of its names cannot be opened.
UNOPENED = 1 if h.WINDOWS else 0


def comma_decimal_locale():
    """Variables for a German user (decimal point ",", list separator ";"), or None. Wine takes
    the Windows locale from the name, but the names of files from the Unix locale's character
    set: the locale must exist on both builds (without it Wine reads "Zoë" as ASCII), the
    system's, else one made with localedef in the build folder (LOCPATH)."""
    names = {"LC_ALL": "de_DE.UTF-8", "LANG": "de_DE.UTF-8"}
    if h.WINDOWS:
        names["QUORVEL_WINE_PREFIX"] = os.path.join(h.BUILD, "wineprefix-excel")
    have = subprocess.run(["locale", "-a"], stdout=subprocess.PIPE).stdout.lower().split()
    if b"de_de.utf8" in have:
        return names
    made = os.path.join(h.BUILD, "locales")
    if not os.path.isdir(os.path.join(made, "de_DE.UTF-8")) and shutil.which("localedef"):
        os.makedirs(made, exist_ok=True)
        subprocess.run(["localedef", "-i", "de_DE", "-f", "UTF-8",
                        os.path.join(made, "de_DE.UTF-8")],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not os.path.isdir(os.path.join(made, "de_DE.UTF-8")):
        return None
    return dict(names, LOCPATH=made)


def excel_bytes(records, sep):
    """records (lists of str) as -excel must write them: a BOM, sep between fields, a field
    quoted when it holds sep, a quote, CR or LF, CR LF after every record."""
    def field(f):
        return '"' + f.replace('"', '""') + '"' if any(c in f for c in sep + '"\r\n') else f
    text = "".join(sep.join(field(f) for f in r) + "\r\n" for r in records)
    return b"\xef\xbb\xbf" + text.encode("utf-8", "surrogateescape")


class Exports(unittest.TestCase):
    # Names every consumer must survive: a comma, a double quote and a line end need quoting in
    # CSV; quotes, backslashes and control characters need escaping in JSON; a name that is no
    # UTF-8 must stay what it is. Windows names hold no quote, line end or tab (Wine lists them
    # but cannot open them: they count as empty, the report lacks them, exit code 1), and Wine
    # gives an invalid byte as U+FFFD.
    NAMES = [b"plain", b"a,b", b'say "hi"', b"two\nlines", b"tab\there", b"caf\xc3\xa9",
             b"bad\xff\xfe"]

    def make(self):
        t = h.Tree({"top/f": 5000, "top/deep/g": 70000})
        for i, name in enumerate(self.NAMES):
            os.makedirs(os.path.join(t.root.encode(), b"top", name))
            with open(os.path.join(t.root.encode(), b"top", name, b"f"), "wb") as f:
                f.write(b"x" * (100 * (i + 1)))
        return t

    def run_forms(self, t, *more):
        root = h.arg(t.root)
        runs = {form: h.run(["-" + form, root] + list(more)) for form in ("csv", "json", "tab")}
        runs["screen"] = h.run([root] + list(more))
        for form, r in runs.items():
            self.assertEqual(r.returncode, UNOPENED, (form, r.stderr))
        return {form: r.stdout for form, r in runs.items()}, runs["csv"].stderr

    def test_csv_is_the_rows_alone_and_loads_into_sqlite_and_python_as_tab_shows_them(self):
        with self.make() as t:
            out, errors = self.run_forms(t)
        tab = tab_rows(out["tab"])
        csv_out = out["csv"]
        # The header first, LF line ends, nothing before or after the rows.
        self.assertTrue(csv_out.startswith(CSV_HEADER), csv_out[:80])
        self.assertTrue(csv_out.endswith(b"\n"))
        self.assertNotIn(b"Quorvel", csv_out)
        self.assertNotIn(b"\f", csv_out)
        self.assertNotIn(b"\r", csv_out)

        # Python's csv module, with undecodable bytes kept as they came.
        records = list(csv.reader(io.StringIO(csv_out.decode("utf-8", "surrogateescape"),
                                              newline="")))
        self.assertEqual(records[0], ["own_bytes", "wasted_bytes", "total_bytes", "files", "path"])
        self.assertEqual({len(r) for r in records}, {5})
        self.assertEqual([(int(r[0]), int(r[1]), int(r[2]), r[4].encode("utf-8", "surrogateescape"))
                          for r in records[1:]], tab)
        grand, files = screen_totals(out["screen"])
        self.assertEqual(sum(int(r[3]) for r in records[1:]), files)
        self.assertEqual(int(records[1][2]), grand)

        # sqlite3's own importer, read back byte for byte.
        folder = tempfile.mkdtemp(prefix="quorvel-sqlite-")
        try:
            path = os.path.join(folder, "usr.csv")
            db = os.path.join(folder, "t.db")
            with open(path, "wb") as f:
                f.write(csv_out)
            r = subprocess.run(["sqlite3", db, ".import --csv %s dirs" % path],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            self.assertEqual((r.returncode, r.stderr), (0, b""))
            con = sqlite3.connect(db)
            con.text_factory = bytes
            loaded = con.execute("SELECT own_bytes, wasted_bytes, total_bytes, files, path "
                                 "FROM dirs ORDER BY rowid").fetchall()
            con.close()
        finally:
            shutil.rmtree(folder)
        self.assertEqual([(int(a), int(b), int(c), p) for a, b, c, _, p in loaded], tab)
        self.assertEqual([int(row[3]) for row in loaded], [int(r[3]) for r in records[1:]])

    def test_excel_is_the_csv_rows_with_a_bom_crlf_and_the_users_list_separator(self):
        # Guards a BOM missing or written twice, LF rows, the comma kept where the list
        # separator is ";" (every row one cell in a German Excel), and a name holding the
        # separator left unquoted. An English user gets ",", a German one ";".
        german = comma_decimal_locale()
        # C.UTF-8 is on every Debian machine: Wine makes it English (United States), and reads
        # the names of files as UTF-8 in it.
        english = {"LC_ALL": "C.UTF-8", "LANG": "C.UTF-8"}
        if h.WINDOWS:
            english["QUORVEL_WINE_PREFIX"] = os.path.join(h.BUILD, "wineprefix-excel")
        with self.make() as t:
            os.makedirs(t.path("top/semi;colon"))
            os.makedirs(t.path("top/Zo\u00eb M\u00fcller"))
            root = h.arg(t.root)
            for env, sep in ((english, ","), (german, ";")):
                if env is None:
                    continue
                # Wine spells a name that is no UTF-8 as the locale makes it: -csv is asked in
                # the same one.
                plain = h.run(["-csv", root], extra_env=env, timeout=300).stdout
                records = list(csv.reader(io.StringIO(plain.decode("utf-8", "surrogateescape"),
                                                      newline="")))
                r = h.run(["-excel", root], extra_env=env)
                self.assertEqual(r.returncode, UNOPENED, r.stderr)
                self.assertEqual(r.stdout, excel_bytes(records, sep), env)
                quoted = h.shown(t.path("top/" + ("a,b" if sep == "," else "semi;colon")))
                self.assertIn(b'"' + quoted.encode() + b'"\r\n', r.stdout)
                # The name as UTF-8 in either locale, never as the code page spells it.
                self.assertIn(h.arg(t.path("top/Zo\u00eb M\u00fcller")).encode() + b"\r\n",
                              r.stdout)
                with_top = h.run(["-excel", "-top=2", root], extra_env=env).stdout
                self.assertTrue(with_top.startswith(b"\xef\xbb\xbfkind" + sep.encode() + b"bytes"))
            if german is None:
                self.skipTest("no locale with a decimal comma (de_DE) can be had on this "
                              "machine: -excel tested in English only")
            # -csv stays as it was whatever the locale.
            self.assertTrue(plain.startswith(CSV_HEADER))
            self.assertNotIn(b"\r", plain)

    def test_json_is_one_document_whose_tree_is_the_rows_of_tab(self):
        with self.make() as t:
            out, _ = self.run_forms(t)
            cluster = h.cluster_size(t.root)
        doc = json.loads(out["json"].decode("utf-8"))  # strict UTF-8 even for bad names
        self.assertEqual(doc["quorvel"], "1.0.0")
        self.assertEqual(doc["directory"], h.shown(t.root))
        self.assertRegex(doc["created"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
        self.assertEqual(doc["cluster"], cluster)
        self.assertEqual(doc["options"], {"depth": None, "min_size": 0, "sort": "name",
                                          "listing_sizes": False, "exclude": []})
        self.assertEqual(set(doc["drive"]), {"name", "cluster", "free", "capacity"})

        rows = []
        sep = h.SEP.encode()

        def walk(node, prefix):
            """prefix: the path the node's name follows (None for the root, whose row path is
            its name and a separator)."""
            self.assertEqual(set(node) - {"name_hex"},
                             {"name", "own", "wasted", "files", "total", "merged", "children"} |
                             ({"read_error"} if node.get("read_error") else set()))
            # Only the names Windows cannot hold are no directories to Wine.
            self.assertEqual(node.get("read_error", False),
                             h.WINDOWS and any(c in node["name"] for c in '"\n\t'), node["name"])
            self.assertFalse(node["merged"])
            name = bytes.fromhex(node["name_hex"]) if "name_hex" in node else \
                node["name"].encode()
            path = name + sep if prefix is None else prefix + name
            rows.append((node["own"], node["wasted"], node["total"], path, node["files"]))
            for child in node["children"]:
                walk(child, path if prefix is None else path + sep)

        walk(doc["tree"], None)
        self.assertEqual([r[:4] for r in rows], tab_rows(out["tab"]))
        grand, files = screen_totals(out["screen"])
        self.assertEqual((doc["tree"]["total"], doc["totals"]["files"]), (grand, files))
        self.assertEqual(sum(r[4] for r in rows), files)
        self.assertEqual(doc["totals"]["wasted"], sum(r[1] for r in rows))
        hexed = [c for c in doc["tree"]["children"][0]["children"] if "name_hex" in c]
        if h.WINDOWS:
            self.assertEqual(hexed, [])  # Wine gave U+FFFD already: valid UTF-8
        else:
            self.assertEqual([bytes.fromhex(c["name_hex"]) for c in hexed], [b"bad\xff\xfe"])
            self.assertEqual(hexed[0]["name"], "bad\ufffd\ufffd")

    def test_messages_go_to_standard_error_and_the_shaping_options_apply(self):
        # A message in standard output would be a row that does not load; -2 and -size shape
        # the rows as they shape the screen report.
        with self.make() as t:
            root = h.arg(t.root)
            r = h.run(["-sort=bogus", "-csv", "-1", root])
            self.assertEqual(r.returncode, UNOPENED)
            self.assertTrue(r.stdout.startswith(CSV_HEADER), r.stdout[:80])
            self.assertIn(b"Invalid sorting method specified - BOGUS", r.stderr)
            rows = r.stdout.split(b"\n")[1:-1]
            self.assertEqual(len(rows), 2)  # the root and top, which took in all below it
            self.assertTrue(rows[1].endswith(b"top ..."), rows)
            doc = json.loads(h.run(["-json", "-1", root]).stdout)
            self.assertTrue(doc["tree"]["children"][0]["merged"])
            self.assertEqual(doc["tree"]["children"][0]["name"], "top")
            self.assertEqual(doc["options"]["depth"], 1)
            # The run-ending message reaches standard error once, prefixed as it is whenever
            # standard output is no terminal, not also in the export's unprefixed form.
            for form in ("-json", "-csv"):
                missing = h.run([form, root + h.SEP + "missing"])
                self.assertEqual((missing.returncode, missing.stdout), (1, b""))
                self.assertEqual(missing.stderr,
                                 b"quorvel: Path was not found (maximum path length exceeded?): " +
                                 (root + h.SEP + "missing" + h.SEP).encode() + h.EOL)

    def test_the_last_form_wins_across_sources_and_exclusions_reach_the_exports(self):
        import params_support as p
        with self.make() as t:
            root = h.arg(t.root)
            r = p.run([root, "-exclude=deep"], stored="-json")
            doc = json.loads(r.stdout)
            self.assertEqual(doc["totals"]["excluded"], 1)
            self.assertEqual(doc["options"]["exclude"], ["deep"])
            r = p.run([root, "-tab"], stored="-csv")
            self.assertTrue(r.stdout.startswith(p.BANNER), r.stdout[:80])
            r = p.run([root, "-csv"], stored="-tab")
            self.assertTrue(r.stdout.startswith(CSV_HEADER), r.stdout[:80])



class Largest(unittest.TestCase):
    """-top=N on a real tree: the largest files and the directories holding the most bytes of
    their own, after the footer of the screen report, as the rows of -csv and in -json."""
    # Sizes apart by more than a cluster, so the ranking is known. The movie has a second name
    # in dup: counted twice, it would push notes.txt out of the three. What matches *.tmp (a
    # file, and a directory holding the largest file of all) is no entry of any list.
    TREE = {"big/movie.mkv": 300000, "a/b/deep.bin": 200000, "a/notes.txt": 150000,
            "small/x": 1000, "skip.tmp": 250000, "cache.tmp/inside": 400000, "dup": None}

    def make(self):
        t = h.Tree(self.TREE)
        os.link(t.path("big/movie.mkv"), t.path("dup/movie-link.mkv"))
        return t

    def expected(self, t, charged):
        """The two lists as (bytes, path) pairs, largest first; charged: the name the movie is
        charged at, "big/movie.mkv" or "dup/movie-link.mkv" (the first the scan meets)."""
        def full(rel):
            return h.shown(t.root) + h.SEP + rel.replace("/", h.SEP)
        r = h.round_up
        files = [(r(300000, 4096), full(charged)), (r(200000, 4096), full("a/b/deep.bin")),
                 (r(150000, 4096), full("a/notes.txt"))]
        # Each directory's own bytes: its files and a table of one cluster.
        dirs = [(r(300000, 4096) + 4096, full(charged.split("/")[0])),
                (r(200000, 4096) + 4096, full("a/b")), (r(150000, 4096) + 4096, full("a"))]
        return files, dirs

    def charged_name(self, text):
        return "dup/movie-link.mkv" if b"movie-link" in text else "big/movie.mkv"

    def test_screen_csv_and_json_give_the_same_lists(self):
        with self.make() as t:
            root = h.arg(t.root)
            args = ["-cl=4096", "-top=3", "-exclude=*.tmp", root]
            screen = h.run(args)
            self.assertEqual(screen.returncode, 0, screen.stderr)
            self.assertNotIn(b"movie.mkv" if b"movie-link" in screen.stdout else b"movie-link",
                             screen.stdout)
            files, dirs = self.expected(t, self.charged_name(screen.stdout))
            out = h.lines(screen.stdout)
            at = out.index(b"Largest files:")
            # After the drive's statistics, before the form-feed line.
            self.assertEqual(out[at - 2].split(b":")[0], b"       Capacity")
            self.assertEqual(out[at - 1:], [b""] + [out[at]] + [
                b"%14s  %s" % (("{:,}".format(n)).encode(), p.encode()) for n, p in files] + [
                b"", b"Directories holding the most bytes of their own:"] + [
                b"%14s  %s" % (("{:,}".format(n)).encode(), p.encode()) for n, p in dirs] + [
                b"\f"])
            self.assertIn(b"Excluded: 1 directory, 1 file", out)

            csv_run = h.run(["-csv"] + args)
            self.assertEqual(csv_run.returncode, 0, csv_run.stderr)
            self.assertEqual(csv_run.stdout, b"kind,bytes,path\n" + b"".join(
                b"%s,%d,%s\n" % (kind, n, p.encode())
                for kind, pairs in ((b"file", files), (b"dir", dirs)) for n, p in pairs))

            doc = json.loads(h.run(["-json"] + args).stdout)
            self.assertEqual(doc["top"], {
                "files": [{"bytes": n, "path": p} for n, p in files],
                "dirs": [{"bytes": n, "path": p} for n, p in dirs]})
            self.assertEqual((doc["totals"]["excluded"], doc["totals"]["excluded_files"]), (1, 1))
            # The start directory's own bytes, listed when there is room, with its separator.
            doc = json.loads(h.run(["-json", "-cl=4096", "-top=10", "-exclude=*.tmp", root]).stdout)
            self.assertIn({"bytes": 4096, "path": h.shown(t.root) + h.SEP}, doc["top"]["dirs"])
            self.assertEqual(len(doc["top"]["files"]), 4)  # the second name is no entry
            # Units in the screen's lists as in its columns; -tab keeps its rows alone.
            units = h.lines(h.run(["-units"] + args).stdout)
            self.assertEqual(units[units.index(b"Largest files:") + 1][:16], b"       296.0 K  ")
            self.assertNotIn(b"Largest", h.run(["-tab"] + args).stdout)

    def test_a_bad_value_is_refused_before_anything_is_read(self):
        with self.make() as t:
            for value in ("0", "1001", "ten", "", "3x"):
                r = h.run(["-csv", "-top=" + value, h.arg(t.root)])
                if value == "":  # nothing after it: no lists, the rows of the directories
                    self.assertTrue(r.stdout.startswith(CSV_HEADER), r.stdout[:80])
                    continue
                self.assertEqual((r.returncode, r.stdout), (1, b""), value)
                self.assertEqual(h.lines(r.stderr), [
                    b"quorvel: -top=" + value.encode() + b" is not a number from 1 to 1000"])

if __name__ == "__main__":
    h.main()
