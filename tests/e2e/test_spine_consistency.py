"""The Windows build under Wine and the native build give the same report for the same tree,
apart from the path form, the line ends and the drive's name and free space (Wine reports the
space free to the user)."""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness as h
import spine_common as s


def native_build():
    """The native build beside this Windows build (build/win32 or build/win64 -> build/native,
    NAME-win32 -> NAME-native), or None."""
    parent, name = os.path.split(os.path.normpath(h.BUILD))
    candidates = [os.environ.get("QUORVEL_NATIVE_BUILD", "")]
    for windows in ("win32", "win64"):
        if windows in name:
            candidates.append(os.path.join(parent, name.replace(windows, "native")))
    for c in candidates:
        if c and os.access(os.path.join(c, "quorvel"), os.X_OK):
            return c
    return None


NATIVE = native_build() if h.WINDOWS else None
REASON = None
if not h.WINDOWS:
    REASON = "compares the Windows build with the native one: runs in the Windows suite"
elif NATIVE is None:
    REASON = "no native build found beside %s (set QUORVEL_NATIVE_BUILD)" % h.BUILD

# Sizes chosen around cluster boundaries, empty and hidden files, empty directories, blanks in
# names, a directory with many entries (its table takes more than one cluster), three levels.
TREE = {
    "docs/a.txt": 1, "docs/b.txt": 4095, "docs/c.txt": 4096, "docs/d.txt": 4097,
    "docs/old/e.bin": 1 << 20, "docs/old/.hidden": 0, "docs/old/deeper/f": 12345,
    "empty": None, "media/x y z.dat": 5000000, "media/clips/k": 8192,
    ".dot/only": 7, "zero": 0, "top": 333,
}
TREE.update({"many/file%03d" % i: i * 10 for i in range(150)})


@unittest.skipIf(REASON is not None, REASON or "")
class SameReportOnBothBuilds(unittest.TestCase):
    def test_reports_agree(self):
        with h.Tree(TREE) as t:
            win = s.Parsed(s.run([h.arg(t.root)]).stdout)
            env = dict(os.environ)
            env.update(s.LOCALE)
            env["XDG_CONFIG_HOME"] = "/nonexistent"
            r = subprocess.run([os.path.join(NATIVE, "quorvel"), t.root], env=env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, timeout=120)
            native = s.Parsed(r.stdout.replace(b"\n", b"\r\n"))
            self.assertEqual(win.messages, [])
            self.assertEqual(native.messages, [])
            wt, nt = win.tree(), native.tree()
            self.assertEqual(wt[0].replace(s.shown(t.root), t.root.encode()), nt[0])
            self.assertEqual(wt[1:], nt[1:])
            self.assertGreater(len(wt), 8)
            wf, nf = win.footer(), native.footer()
            self.assertEqual(wf[:4], nf[:4])  # rules, totals, empty line
            self.assertEqual(wf[5], nf[5])  # the drive's cluster size
            self.assertEqual(wf[8], nf[8])  # capacity
            self.assertEqual(win.report[:2], native.report[:2])


if __name__ == "__main__":
    if REASON:
        sys.stderr.write("SKIPPED: %s\n" % REASON)
    h.main()
