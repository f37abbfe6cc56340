"""Names that could break the outputs: row paths below a directory that received merged
subdirectories, double quotes in the comma form, control bytes on a terminal."""
import csv
import io
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness as h


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

    def test_control_bytes_masked_on_a_terminal_and_kept_when_redirected(self):
        name = "evil\x1b]0;pwned\x07\nline"
        with h.Tree({name: None}) as t:
            r = h.run(["-p", t.root])
            self.assertIn(b"+--" + name.encode(), r.stdout)
            with h.Terminal(["-p", t.root], width=100, height=40) as term:
                term.exit_code()
                screen = "\n".join(term.screen())
            self.assertIn("evil?]0;pwned??line", screen)
            self.assertNotIn("pwned\x07", screen)


if __name__ == "__main__":
    h.main()
