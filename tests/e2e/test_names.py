"""Names that could break the outputs: row paths below a directory that received merged
subdirectories, double quotes in both database forms, control characters on a terminal; and on
Windows names in every script, links to directories and forward slashes."""
import csv
import fcntl
import io
import os
import shutil
import sqlite3
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(__file__))
import harness as h
from test_figures import expected_figures, table_rows, totals_line
import spine_common as s


def linux_path(shown):
    """A row path as the program wrote it, back as a Linux path."""
    if h.WINDOWS:
        assert shown.startswith("Z:"), shown
        return shown[2:].replace("\\", "/")
    return shown


def rows(output):
    """The data rows of a database output (after the title line and the empty line)."""
    text = output.decode("latin-1")
    start = text.index('"Total-no subs"')
    body = text[start:].split("\r\n")
    return [r for r in body[2:] if r and r != "\f" and not r.startswith("\f")]


def tab_lines(output):
    """The title line and the rows of a database output (bytes), without the empty line."""
    body = output[output.index(b'"Total-no subs"'):].split(b"\r\n")
    return [body[0]] + [r for r in body[2:] if r and not r.startswith(b"\f")]


class MergedRowPaths(unittest.TestCase):
    def test_rows_below_a_marked_directory_name_real_paths(self):
        # Beta receives the small folded subdirectory and is renamed "Beta ..."; the rows of
        # Beta's other subdirectories must still name paths that exist.
        with h.Tree({"Beta/small": None, "Beta/Gamma/big": 1 << 20,
                     "Beta/Gamma/Delta/data": 1 << 19, "Alpha/file": 300000}) as t:
            for form in ("-tab", "-comma"):
                r = h.run(["-size=100K", form, h.arg(t.root)])
                self.assertEqual(r.returncode, 0)
                paths = [row[row.index('"') + 1:-1] for row in rows(r.stdout)]
                marked = [p for p in paths if p.endswith(" ...")]
                self.assertEqual(len(marked), 1, paths)
                self.assertTrue(marked[0].endswith("Beta ..."), marked)
                for p in paths:
                    if p not in marked:
                        self.assertTrue(os.path.isdir(linux_path(p)), (form, p))
                self.assertTrue(any(p.endswith(h.SEP.join(["Beta", "Gamma", "Delta"])) for p in paths), paths)


@unittest.skipIf(h.WINDOWS, "Windows names cannot hold double quotes or control bytes")
class PosixNames(unittest.TestCase):
    def test_double_quote_survives_a_csv_reader(self):
        name = 'say "hi", then "bye"'
        with h.Tree({name + "/f": 10}) as t:
            r = h.run(["-comma", t.root])
            self.assertEqual(r.returncode, 0)
            text = r.stdout.decode("utf-8")
            table = list(csv.reader(io.StringIO(text[text.index('"Total-no subs"'):].replace("\f", ""))))
            data = [row for row in table[1:] if len(row) == 4]
            self.assertEqual([row[3] for row in data], [t.root + "/", os.path.join(t.root, name)])

    def test_fixed_columns_with_quotes_load_in_sqlite_s_tab_import(self):
        # A lone quote inside the quoted path ended the field there: sqlite reported an
        # unescaped quote and merged the row with the next.
        names = ['"quoted"', "-h", 'a "b" c']
        with h.Tree({n + "/f": 10 for n in names}) as t:
            r = h.run(["-tab", t.root])
            self.assertEqual(r.returncode, 0)
            self.assertIn(b'\t"' + t.root.encode() + b'/""quoted"""\r\n', r.stdout)
            folder = tempfile.mkdtemp(prefix="quorvel-sqlite-")
            try:
                path = os.path.join(folder, "rows.tsv")
                with open(path, "wb") as f:
                    f.write(b"".join(row + b"\r\n" for row in tab_lines(r.stdout)))
                db = os.path.join(folder, "t.db")
                loaded = subprocess.run(["sqlite3", db, ".mode tabs", ".import %s dirs" % path],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                self.assertEqual((loaded.returncode, loaded.stderr), (0, b""))
                con = sqlite3.connect(db)
                paths = [row[0] for row in con.execute('SELECT "Directory name" FROM dirs')]
                con.close()
            finally:
                shutil.rmtree(folder)
            self.assertEqual(paths, [t.root + "/"] + [os.path.join(t.root, n) for n in sorted(names)])

    def test_control_bytes_on_a_terminal_of_no_rows(self):
        # A terminal that reports 0 rows (as under script) counts as redirected for paging, yet
        # it shows what reaches it: names are masked there too.
        import pty
        import termios
        with h.Tree({"\x1b[31mred/f": 10, "\u009b32mgreen/f": 10}) as t:
            pid, master = pty.fork()
            if pid == 0:
                try:
                    fcntl.ioctl(1, termios.TIOCSWINSZ, struct.pack("HHHH", 0, 0, 0, 0))
                    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(h.BUILD, "e2e-config-empty"))
                    env.pop("QUORVEL", None)
                    os.execve(h.exe(), [h.exe(), t.root], env)
                finally:
                    os._exit(99)
            seen = b""
            while True:
                try:
                    chunk = os.read(master, 65536)
                except OSError:
                    break
                if not chunk:
                    break
                seen += chunk
            _, status = os.waitpid(pid, 0)
            os.close(master)
        self.assertEqual(os.WEXITSTATUS(status), 0)
        self.assertIn(b"Quorvel report, created at ", seen)  # taken as redirected
        self.assertIn(b"+--?[31mred", seen.replace(b"|--", b"+--"))
        self.assertIn(b"+--?32mgreen", seen)
        self.assertNotIn(b"\x1b", seen)
        self.assertNotIn(b"\xc2\x9b", seen)


@unittest.skipIf(shutil.which("tmux") is None, "tmux is missing: the terminal cannot be tested")
class ControlCharactersOnATerminal(unittest.TestCase):
    # A name is any bytes: ESC [31m would turn the terminal red, ESC [H move its cursor home,
    # BEL ring, and the C1 control CSI (U+009B, two bytes in UTF-8) starts a sequence as ESC [
    # does. Wine lists these names as Linux holds them, so the Windows console gets them too
    # (but it cannot open directories so named: the report lacks them, and exits with 1).
    NAMES = ["\x1b[31mred", "\x1b[Hhome", "bell\x07", "\u009b32mgreen"]
    SHOWN = ["?[31mred", "?[Hhome", "bell?", "?32mgreen"]
    CODE = 1 if h.WINDOWS else 0

    def test_masked_with_p_and_in_the_scroller_and_kept_exactly_when_redirected(self):
        with h.Tree({n + "/f": 10 for n in self.NAMES}) as t:
            with h.Terminal(["-p", h.arg(t.root)], width=100, height=40) as term:
                self.assertEqual(term.exit_code(), self.CODE)
                screen = term.screen()
                coloured = "\n".join(term.screen(attributes=True))
            # Nothing coloured, nothing moved: the report stands whole below the banner, with
            # each name on its line (Wine may write its own lines above the banner).
            self.assertNotIn("\x1b[", coloured)
            top = next(i for i, l in enumerate(screen) if l.startswith("Quorvel "))
            self.assertTrue(screen[top + 2].startswith(" Total-no subs"), screen)
            names = [l.split("\u2500\u2500", 1)[1] for l in screen[top + 5:top + 9]]
            self.assertEqual(sorted(names), sorted(self.SHOWN))
            with h.Terminal([h.arg(t.root)], width=100, height=40) as term:
                term.wait_for("[Esc]")
                screen = "\n".join(term.screen())
                coloured = "\n".join(term.screen(attributes=True))
                term.keys("q")
                self.assertEqual(term.exit_code(), self.CODE)
            for shown in self.SHOWN:
                self.assertIn(shown, screen)
            self.assertNotIn("\x1b[3", coloured)
            if not h.WINDOWS:
                out = h.run(["-p", t.root]).stdout
                for name in self.NAMES:
                    self.assertIn(b"--" + name.encode(), out)
                out = h.run(["-tab", t.root]).stdout
                for name in self.NAMES:
                    self.assertIn(("/" + name + '"').encode(), out)


def pe_resources(path):
    """The resources of a PE program: {(type, name): bytes}; names are numbers or strings."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    # The data directories follow 96 bytes of a 32-bit optional header, 112 of a 64-bit one.
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    rva = struct.unpack_from("<I", data, pe + 24 + (112 if magic == 0x20B else 96) + 2 * 8)[0]
    for i in range(count):
        size, va, _, raw = struct.unpack_from("<IIII", data, pe + 24 + optional_size + 40 * i + 8)
        if va <= rva < va + size:
            base, delta = raw + rva - va, va - raw
            break
    else:
        return {}

    def entries(offset):
        named, ids = struct.unpack_from("<HH", data, base + offset + 12)
        for k in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * k)
            if name & 0x80000000:
                at = base + (name & 0x7FFFFFFF)
                name = data[at + 2:at + 2 + 2 * struct.unpack_from("<H", data, at)[0]].decode("utf-16-le")
            yield name, target & 0x7FFFFFFF

    found = {}
    for kind, names in entries(0):
        for name, languages in entries(names):
            for _, leaf in entries(languages):
                at, size = struct.unpack_from("<II", data, base + leaf)
                found[(kind, name)] = data[at - delta:at - delta + size]
    return found


@unittest.skipUnless(h.WINDOWS, "the Windows build's code page, links and separators")
class WindowsNames(unittest.TestCase):
    def test_names_in_every_script_and_links_not_followed(self):
        # Guards names outside the OEM code page read as "???" and counted empty, box pieces
        # written as OEM bytes to a UTF-8 console, links to directories followed (a loop until
        # the path budget, data elsewhere counted twice), and a name of 80 CJK characters (240
        # bytes, 80 units of UTF-16) measured wrong.
        long_name = "\u8a9e" * 80
        with h.Tree({"elsewhere/big": 1 << 20}) as outside, \
                h.Tree({n + "/f": 5000 for n in ("caf\u00e9", "plain", "\u65e5\u672c\u8a9e", "\U0001f600")}) as t:
            t.add(long_name)
            os.symlink("..", t.path("\u65e5\u672c\u8a9e/up"))
            os.symlink(outside.path("elsewhere"), t.path("caf\u00e9/away"))
            R = lambda n: h.round_up(n, h.cluster_size(t.root))
            plain = (R(5000) + R(96), R(5000) - 5000 + R(96) - 96, 1)
            linked = (R(5000) + R(128), R(5000) - 5000 + R(128) - 128, 2)  # a link lists 0 bytes
            root = (R(224), R(224) - 224, 0)
            empty = (R(64), R(64) - 64, 0)
            grand = root[0] + 2 * plain[0] + 2 * linked[0] + empty[0]
            r = s.run([h.arg(t.root)])
            p = s.Parsed(r.stdout)
            self.assertEqual(p.messages, [])
            rows = [(linked, "caf\u00e9"), (plain, "plain"), (linked, "\u65e5\u672c\u8a9e"),
                    (empty, long_name), (plain, "\U0001f600")]
            self.assertEqual(p.tree(), [s.line(*root, s.shown(t.root), grand)] + [
                s.line(*f, (b"+--" if n == "\U0001f600" else b"|--") + n.encode()) for f, n in rows])
            with h.Terminal(["-p", h.arg(t.root)], width=220, height=40, env=s.LOCALE) as term:
                self.assertEqual(term.exit_code(), 0)
                screen = term.screen()
            # Wine's console shows a character outside the 16-bit range as two replacement
            # characters, so the emoji's row is checked up to its name.
            for f, n in rows:
                tree = ("\u2514\u2500\u2500" if n == "\U0001f600" else "\u251c\u2500\u2500") + n
                want = s.line(*f, b"").decode() + tree.replace("\U0001f600", "")
                self.assertTrue(any(l.startswith(want) for l in screen), (want, screen))

    def test_long_paths_and_names_ending_in_a_dot_or_a_blank(self):
        # Guards paths past 260 characters skipped or unreadable (the ANSI calls fail there
        # with error 206), and "apache." read as "apache" (the ANSI calls drop a final dot or
        # blank): wrong rows, and one row too many. Paths of 300 and 1,000 bytes below the
        # start directory, and one given with ".." inside it.
        with h.Tree({"apache/f": 1000, "apache./f": 2000, "trail /f": 3000}) as t:
            start = len(h.arg(t.root)) + 1
            for length, size in ((300, 5000), (1000, 7000)):
                name = "%d" % length
                rel = name + "/" + "x" * 200
                while start + len(rel) + 1 + 200 < length:
                    rel += "/" + "x" * 200
                rel += "/" + "y" * (length - start - len(rel) - 1)
                t.add(rel + "/f", size)
                self.assertEqual(len(h.arg(t.path(rel))), length)
            cluster = h.cluster_size(t.root)
            want, _ = expected_figures(t.root, cluster)
            r = s.run(["-tab", "-cl=%d" % cluster, h.arg(t.root)])
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(r.stderr, b"")
            self.assertEqual(table_rows(r.stdout, t.root), {p: (w[0], w[1], w[3]) for p, w in want.items()})
            for given, files in (("apache.", 2000), ("trail ", 3000), ("apache\\..\\apache.", 2000)):
                r = s.run(["-dir", h.arg(t.root) + "\\" + given])
                self.assertEqual(totals_line(r.stdout)[:2], (files, 1), given)

    def test_forward_slashes_are_separators(self):
        # Guards "/" kept as part of a name: Z:/x expanded below the current directory and
        # reported as not found. Absolute, rooted, drive-relative and relative forms.
        with h.Tree({"sub/f": 5000, "sub/deeper/g": 10}) as t:
            full = h.arg(t.path("sub"))
            forms = [full, full[2:], "Z:root\\sub", "root\\sub"]
            want = None
            for form in forms:
                for given in (form, form.replace("\\", "/")):
                    p = s.Parsed(s.run([given], cwd=t.base).stdout)
                    got = (p.messages, p.tree(), p.footer()[:3])
                    want = want or got
                    self.assertEqual(got, want, given)
            R = lambda n: h.round_up(n, h.cluster_size(t.root))
            total = s.thousands(R(5000) + R(4 * 32) + R(10) + R(3 * 32))
            self.assertTrue(want[1][0].endswith(b"  " + full.encode() + b"   [" + total + b"]"), want)

    def test_every_program_declares_utf8_for_windows_10_and_11(self):
        # Only the configuration program declares a level, asInvoker: a standard user stores
        # his own string with no elevation (it asks for it itself with /machine). Each
        # manifest names the build's processor (a 64-bit program named x86 does not start).
        ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "c": "urn:schemas-microsoft-com:compatibility.v1",
              "v3": "urn:schemas-microsoft-com:asm.v3", "w": "http://schemas.microsoft.com/SMI/2019/WindowsSettings"}
        level = "v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel"
        for program in ("quorvel", "quillpost", "config"):
            resources = pe_resources(h.exe(program))
            manifest = ET.fromstring(resources[(24, 1)])
            self.assertEqual(manifest.find("v3:application/v3:windowsSettings/w:activeCodePage", ns).text, "UTF-8")
            self.assertEqual([e.get("Id") for e in manifest.iterfind("c:compatibility/c:application/c:supportedOS", ns)],
                             ["{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"])
            asked = [e.get("level") for e in manifest.iterfind(level, ns)]
            self.assertEqual(asked, ["asInvoker"] if program == "config" else [], program)
            self.assertEqual(manifest.find("v1:assemblyIdentity", ns).get("processorArchitecture"),
                             "amd64" if h.PLATFORM == "win64" else "x86")
        self.assertIn((14, "MAINICON"), pe_resources(h.exe("quillpost")))

    def test_without_the_utf8_code_page_names_and_tree_stay_in_code_page_437(self):
        # A system that ignores the manifest's entry (Windows before 10 1903) must get the
        # program as before: file functions in the OEM code page, tree bytes unchanged. The
        # copy's entry names no code page Wine knows, so its code page stays the locale's.
        with h.Tree({"caf\u00e9/f": 5000}) as t:
            program = os.path.join(t.base, "quorvel.exe")
            with open(h.exe(), "rb") as f:
                data = f.read()
            with open(program, "wb") as f:
                f.write(data.replace(b">UTF-8</activeCodePage>", b">none!</activeCodePage>"))
            self.assertEqual(data.count(b">UTF-8</activeCodePage>"), 1)
            r = subprocess.run([h.WINE, program, "-c+", h.arg(t.root)], stdout=subprocess.PIPE,
                               env=h.wine_env(dict(os.environ, **s.LOCALE)), timeout=120)
            self.assertIn(b"1  \xc0\xc4\xc4caf\x82" + h.EOL, r.stdout)

    def test_locale_separator_outside_ascii_gives_a_comma(self):
        # In the locale's ANSI code page a Swiss apostrophe is one byte (0x92) that is no UTF-8;
        # the German "." is ASCII and stays.
        # Wine keeps the last locale's figures in its prefix, where every other test running
        # at the time would read them: this test has a prefix of its own.
        prefix = os.path.join(h.BUILD, "wineprefix-locales")
        with h.Tree({"f": 5000}) as t:
            for locale, number in (("de_CH.UTF-8", b"5,000"), ("de_DE.UTF-8", b"5.000")):
                out = h.run(["-dir", h.arg(t.root)], timeout=300,
                            extra_env={"LC_ALL": locale, "QUORVEL_WINE_PREFIX": prefix}).stdout
                out.decode("utf-8")
                self.assertIn(b"  " + number + b"  ", out)


if __name__ == "__main__":
    h.main()
