"""The screen report of a small real tree, redirected to a file: title line first, exact tree
lines, the footer, the form-feed line last."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness as h


class RedirectedReport(unittest.TestCase):
    def test_small_tree_exact_lines(self):
        # Guards the figures: cluster rounding of files, 32 bytes per entry, brackets.
        with h.Tree({"a": 3000, "sub/b": 8192, "sub/deeper/empty": 0, "other": None}) as t:
            c = h.cluster_size(t.root)
            r = h.run([h.arg(t.root)])
            self.assertEqual(r.returncode, 0)
            out = h.lines(r.stdout)[2:]  # after the banner line and its empty line
            self.assertTrue(out[0].startswith(b"Quorvel report, created at "))
            self.assertEqual(out[1], b"")
            self.assertEqual(out[-1], b"\f")
            body = out[2:-1]
            self.assertEqual(body[0], b" Total-no subs  Wstd  Files  Directory name   [dir + subdirs total]")
            rule = b"-" * 14 + b"  " + b"-" * 4 + b"  " + b"-" * 5 + b"  " + b"-" * 40
            self.assertEqual(body[1], rule)
            if c == 4096:
                self.assertEqual(body[2], b"         8,192   61%      1  " + h.shown(t.root).encode() + b"   [28,672]")
                self.assertEqual(body[3], b"         4,096   98%      0  |--other")
                self.assertEqual(body[4], b"        12,288   32%      1  +--sub   [16,384]")
                self.assertEqual(body[5], b"         4,096   98%      1     +--deeper")
                self.assertEqual(body[7], b"        28,672   59%      3  Cluster size: 4,096  Wastage: 17,032")


if __name__ == "__main__":
    h.main()
