"""Each option's effect on a real report, and the three parameter sources in their order. Every
run fixes the cluster size with -cl=4096 (or says why not), so the figures do not depend on the
drive the scratch tree lives on."""
import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness as h
import params_support as p

# root: a (3000 bytes), other/, sub/b (8192 bytes), sub/deeper/empty (0 bytes).
SMALL = {"a": 3000, "sub/b": 8192, "sub/deeper/empty": 0, "other": None}
RULE = b"-" * 14 + b"  " + b"-" * 4 + b"  " + b"-" * 5 + b"  " + b"-" * 40


def tree_lines(body):
    """The directory lines of a screen report body: after the header and rule, up to the rule
    that opens the footer."""
    end = body.index(body[1], 2)
    return body[2:end]


def totals_line(body):
    return body[body.index(body[1], 2) + 1]


class Report(unittest.TestCase):
    def report(self, args, **kw):
        return p.report_body(self, p.run(args, **kw))

    def messages_then_body(self, result):
        """Message lines written before the report title, and the report body."""
        out = h.lines(result.stdout)
        title = next(i for i, l in enumerate(out) if l.startswith(b"Quorvel report, created at "))
        messages = out[2:title]
        return messages, out[title + 2:-1]


class DisplayOptions(Report):
    def test_default_columns_and_figures(self):
        # Guards the baseline every other case here differs from.
        with h.Tree(SMALL) as t:
            body = self.report([h.arg(t.root), "-cl=4096"])
            self.assertEqual(body[0], b" Total-no subs  Wstd  Files  Directory name   [dir + subdirs total]")
            self.assertEqual(body[1], RULE)
            self.assertEqual(tree_lines(body), [
                b"         8,192   61%      1  " + h.shown(t.root).encode() + b"   [28,672]",
                b"         4,096   98%      0  |--other",
                b"        12,288   32%      1  +--sub   [16,384]",
                b"         4,096   98%      1     +--deeper"])
            self.assertEqual(totals_line(body),
                             b"        28,672   59%      3  Cluster size: 4,096  Wastage: 17,032")

    def test_asval_shows_bytes_and_asper_takes_it_back(self):
        # A wrong switch would show the percent column under the number header or vice versa.
        with h.Tree(SMALL) as t:
            body = self.report([h.arg(t.root), "-cl=4096", "-ASVAL"])
            self.assertEqual(body[0], b" Total-no subs    Wasted space  Files  Directory name   [dir + subdirs total]")
            self.assertEqual(tree_lines(body)[1], b"         4,096           4,032      0  |--other")
            self.assertTrue(totals_line(body).endswith(b"Wastage:  59%"))
            body = self.report([h.arg(t.root), "-cl=4096", "-asval", "-asper"])
            self.assertEqual(tree_lines(body)[1], b"         4,096   98%      0  |--other")

    def test_nowaste_drops_the_column_but_not_the_figures(self):
        with h.Tree(SMALL) as t:
            body = self.report([h.arg(t.root), "-cl=4096", "-nowaste"])
            self.assertEqual(body[0], b" Total-no subs  Files  Directory name   [dir + subdirs total]")
            self.assertEqual(tree_lines(body)[2], b"        12,288      1  +--sub   [16,384]")
            self.assertEqual(totals_line(body),
                             b"        28,672      3  Cluster size: 4,096  Wastage: 17,032")

    def test_dir_gives_exact_sizes_without_waste(self):
        # -dir (here as -dirty, a prefix match) must neither round to clusters nor charge
        # entry tables, and a directory whose subdirectories hold nothing has no bracket.
        with h.Tree(SMALL) as t:
            body = self.report([h.arg(t.root), "-dirty"])
            self.assertEqual(body[0], b" Total-no subs  Files  Directory name   [dir + subdirs total]")
            self.assertEqual(tree_lines(body), [
                b"         3,000      1  " + h.shown(t.root).encode() + b"   [11,192]",
                b"             0      0  |--other",
                b"         8,192      1  +--sub",
                b"             0      1     +--deeper"])
            self.assertTrue(totals_line(body).endswith(b"Wastage: 0"))

    def test_units_show_sizes_in_the_same_columns_and_bytes_take_them_back(self):
        # A unit in the wrong column, or a figure left in bytes, would misalign the report; the
        # option must work from the stored string as from the command line.
        with h.Tree(SMALL) as t:
            body = self.report([h.arg(t.root), "-cl=4096", "-units"])
            self.assertEqual(body[0], b" Total-no subs  Wstd  Files  Directory name   [dir + subdirs total]")
            self.assertEqual(tree_lines(body), [
                b"         8.0 K   61%      1  " + h.shown(t.root).encode() + b"   [28.0 K]",
                b"         4.0 K   98%      0  |--other",
                b"        12.0 K   32%      1  +--sub   [16.0 K]",
                b"         4.0 K   98%      1     +--deeper"])
            self.assertEqual(totals_line(body),
                             b"        28.0 K   59%      3  Cluster size: 4,096  Wastage: 16.6 K")
            # The drive's statistics keep their bytes.
            self.assertTrue(body[-1].startswith(b"       Capacity: ") and body[-1].endswith(b" bytes"))
            body = self.report([h.arg(t.root), "-cl=4096", "-asval"], stored="-units")
            self.assertEqual(tree_lines(body)[1], b"         4.0 K           3.9 K      0  |--other")
            plain = self.report([h.arg(t.root), "-cl=4096"])
            body = self.report([h.arg(t.root), "-cl=4096", "-bytes"], stored="-units")
            self.assertEqual((tree_lines(body), totals_line(body)),
                             (tree_lines(plain), totals_line(plain)))

    def test_tree_characters_follow_the_last_of_c_plus_and_c_minus(self):
        # Redirected output starts with the plain set; -c+ must win over that start-up choice.
        graphic = "├──other".encode()
        with h.Tree(SMALL) as t:
            lines = tree_lines(self.report([h.arg(t.root), "-cl=4096", "-c+"]))
            self.assertEqual(lines[1], b"         4,096   98%      0  " + graphic)
            lines = tree_lines(self.report([h.arg(t.root), "-cl=4096", "-c+", "-C-"]))
            self.assertEqual(lines[1], b"         4,096   98%      0  |--other")


class ShapingOptions(Report):
    def test_depth_limit_merges_below_with_a_marker(self):
        # -1 keeps one level: deeper's file and wastage move into "sub ...", its own size not.
        with h.Tree(SMALL) as t:
            body = self.report([h.arg(t.root), "-cl=4096", "-1"])
            self.assertEqual(tree_lines(body), [
                b"         8,192   61%      1  " + h.shown(t.root).encode() + b"   [28,672]",
                b"         4,096   98%      0  |--other",
                b"        12,288   65%      2  +--sub ...   [16,384]"])
            self.assertEqual(totals_line(body),
                             b"        28,672   59%      3  Cluster size: 4,096  Wastage: 17,032")

    def test_depth_zero_and_256_mean_no_limit(self):
        with h.Tree(SMALL) as t:
            full = tree_lines(self.report([h.arg(t.root), "-cl=4096"]))
            for token in ("-0", "-256", "-3"):
                self.assertEqual(tree_lines(self.report([h.arg(t.root), "-cl=4096", token])),
                                 full, token)
            # -257 keeps the low 8 bits: 1.
            self.assertEqual(len(tree_lines(self.report([h.arg(t.root), "-cl=4096", "-257"]))), 3)

    def test_minimum_size_folds_small_directories_into_their_parent(self):
        # other (4 KB) folds into the root and deeper (4 KB) into sub: both parents get the
        # marker; 16K exactly keeps sub (16,384 bytes with everything below).
        with h.Tree(SMALL) as t:
            body = self.report([h.arg(t.root), "-cl=4096", "-size:16k"])
            self.assertEqual(tree_lines(body), [
                b"         8,192  100%      1  " + h.shown(t.root).encode() + b" ...   [28,672]",
                b"        12,288   65%      2  +--sub ...   [16,384]"])

    def test_exclusions_by_name_and_by_path_are_not_read_and_counted_in_the_footer(self):
        # An excluded directory must add nothing (not even its own table) and have no line;
        # a name pattern acts at every depth, a path pattern only where the path matches.
        tree = {"a": 3000, "node_modules/big": 100000, "app/node_modules/x/y": 50000,
                "app/src/gen/g": 20000, "app/lib/gen/keep": 10, "other": None}
        with h.Tree(tree) as t:
            root = h.arg(t.root)
            full = self.report([root, "-cl=4096"])
            body = self.report([root, "-cl=4096", "-exclude=node_modules", "-exclude:app/s*/gen"])
            names = [re.search(rb"--(.*?)(   \[|$)", l).group(1) for l in tree_lines(body)[1:]]
            self.assertEqual(names, [b"app", b"lib", b"gen", b"src", b"other"])
            # The grand total drops by exactly the three excluded subtrees: node_modules (its
            # table and 100,000 bytes), app/node_modules (two tables and 50,000 bytes) and
            # app/src/gen (a table and 20,000 bytes), in 4 KB clusters.
            totals = [int(totals_line(b).split()[0].replace(b",", b"")) for b in (full, body)]
            self.assertEqual(totals[0] - totals[1],
                             (4096 + 102400) + (2 * 4096 + 53248) + (4096 + 20480))
            footer = body[body.index(body[1], 2) + 3]
            self.assertEqual(footer, b"Excluded: 3 directories, 0 files")
            self.assertEqual(body[body.index(body[1], 2) + 4], b"")
            # Patterns that match nothing say so; none given, no line at all.
            body = self.report([root, "-cl=4096", "-exclude=nothing*"])
            self.assertEqual(body[body.index(body[1], 2) + 3], b"Excluded: 0 directories, 0 files")
            self.assertFalse(any(l.startswith(b"Excluded") for l in full))

    def test_files_are_excluded_as_du_excludes_them(self):
        # -exclude left out directories only, while du --exclude leaves out files too
        # (*test* on an npm project: 59 files more than du). The files counted must be du's,
        # byte for byte; the totals differ only by the directories' own sizes, which Quorvel
        # takes from the entries of their tables, an excluded file's entry included.
        tree = {"lib/index.js": 30000, "lib/index.test.js": 12000, "test/setup.js": 9000,
                "__tests__/a.js": 5000, "pkg/readme.md": 7000, "pkg/testing.md": 64000,
                "pkg/deep/latest.bin": 200000, "pkg/deep/keep.bin": 3000, "contest": 100,
                "empty": None}
        # 126 names and "." and "..": one cluster of entries; the excluded file makes two.
        tree.update({"many/%03d" % i: 0 for i in range(126)})
        tree["many/z.test"] = 100
        with h.Tree(tree) as t:
            pattern = "*test*"
            du = subprocess.run(["du", "-a", "-B1", "--exclude=" + pattern, t.root],
                                stdout=subprocess.PIPE, check=True).stdout.decode().splitlines()
            du = [(int(n), path) for n, path in (l.split("\t", 1) for l in du)]
            du_files = [(n, path) for n, path in du if not os.path.isdir(path)]
            tables = sum(h.round_up(32 * (len(os.listdir(path)) + 2), 4096)
                         for _, path in du if os.path.isdir(path))
            body = self.report([h.arg(t.root), "-cl=4096", "--exclude=" + pattern])
            grand, _, files = totals_line(body).split()[:3]
            self.assertEqual(int(grand.replace(b",", b"")) - tables, sum(n for n, _ in du_files))
            # And against du's own total (-sx), less the blocks du counts for the directories.
            du_total = subprocess.run(["du", "-sxB1", "--exclude=" + pattern, t.root],
                                      stdout=subprocess.PIPE, check=True).stdout.split()[0]
            own = sum(os.lstat(path).st_blocks * 512 for _, path in du if os.path.isdir(path))
            self.assertEqual(int(grand.replace(b",", b"")) - tables, int(du_total) - own)
            self.assertEqual(int(files), len(du_files))
            self.assertEqual(sorted(os.path.basename(p) for n, p in du_files if n),
                             ["index.js", "keep.bin", "readme.md"])
            self.assertIn(b"Excluded: 2 directories, 5 files", body)
            many = [l for l in tree_lines(body) if l.endswith(b"--many")][0]
            self.assertEqual(many.split()[::2][:2], [b"8,192", b"126"])

    def test_exclusions_from_the_stored_string_and_letter_case_by_platform(self):
        # The stored form takes ":"; an empty pattern on the command line drops the stored ones.
        # Windows finds a name in any letter case, so its patterns do too; Linux does not.
        with h.Tree({"Node_Modules/f": 10, "my dir/f": 10, "keep/f": 10}) as t:
            root = h.arg(t.root)

            def kept(args, **kw):
                return [l.split(b"--")[1] for l in tree_lines(self.report([root] + args, **kw))[1:]]

            self.assertEqual(kept([], stored='-exclude:node_modules "-exclude:my dir"'),
                             [b"keep"] if h.WINDOWS else [b"keep", b"Node_Modules"])
            self.assertEqual(kept(["-exclude=Node_Modules"], stored='"-exclude:my dir"'), [b"keep"])
            self.assertEqual(kept(["-exclude="], stored="-exclude:Node_Modules"),
                             [b"keep", b"my dir", b"Node_Modules"])
            self.assertEqual(kept(["-exclude=[a-z]*"]), [b"Node_Modules"] if not h.WINDOWS else [])

    def test_cluster_option_sets_the_figures_and_caps_at_64k(self):
        with h.Tree(SMALL) as t:
            messages, body = self.messages_then_body(p.run([h.arg(t.root), "-cl:2k"]))
            self.assertEqual(messages, [])
            self.assertEqual(tree_lines(body)[2], b"        10,240   19%      1  +--sub   [12,288]")
            self.assertIn(b"Cluster size: 2,048  ", totals_line(body))
            for token in ("-cl=65537", "-cl=1e30", "-cl=99999999999999999999G"):
                messages, body = self.messages_then_body(p.run([h.arg(t.root), token]))
                self.assertEqual(messages, [b"Invalid cluster size > 64K ignored."], token)
                self.assertIn(b"Cluster size: 65,536  ", totals_line(body), token)
            messages, body = self.messages_then_body(p.run([h.arg(t.root), "-cl=64K"]))
            self.assertEqual(messages, [])
            self.assertIn(b"Cluster size: 65,536  ", totals_line(body))

    def test_cluster_zero_means_the_drive_s_own(self):
        with h.Tree(SMALL) as t:
            plain = totals_line(self.report([h.arg(t.root)]))
            self.assertEqual(totals_line(self.report([h.arg(t.root), "-cl=4096", "-cl=0"])), plain)


# Three siblings whose orders differ for every key (figures with 4 KB clusters):
#   a1: local 8,192   waste 7,996   1 file    total 8,192
#   b2: local 16,384  waste 3,936   3 files   total 16,384
#   c3: local 12,288  waste 12,158  2 files   total 118,784 (c3/big holds 100,000 bytes)
SORTABLE = {"a1/f": 100, "b2/f1": 4096, "b2/f2": 4096, "b2/f3": 4096, "c3/f1": 1, "c3/f2": 1,
            "c3/big/f": 100000}


def child_names(lines):
    """The names of the root's children in a report of SORTABLE (c3's child big left out)."""
    return [l.split(b"--")[1].split(b" ")[0].decode() for l in lines[1:] if b"--big" not in l]


class SortOrders(Report):
    def children(self, root, *options):
        return child_names(tree_lines(self.report([h.arg(root), "-cl=4096", "-2"] + list(options))))

    def test_each_order(self):
        # Guards that every keyword reaches the scan: a wrong mapping gives another order.
        with h.Tree(SORTABLE) as t:
            cases = {"-sort=name": ["a1", "b2", "c3"], "-SORT=LOCAL": ["b2", "c3", "a1"],
                     "-sort=Total": ["c3", "b2", "a1"], "-sort=waste": ["c3", "a1", "b2"],
                     "-sort=files": ["b2", "c3", "a1"], "-sort=size": ["c3", "b2", "a1"]}
            for option, order in cases.items():
                self.assertEqual(self.children(t.root, option), order, option)
            # NONE keeps the file system's order (Wine lists a folder sorted by name).
            listed = [n for n in os.listdir(t.root) if os.path.isdir(os.path.join(t.root, n))]
            expected = sorted(listed) if h.WINDOWS else listed
            self.assertEqual(self.children(t.root, "-sort=none"), expected)

    def test_invalid_order_is_reported_and_keeps_the_previous_one(self):
        with h.Tree(SORTABLE) as t:
            r = p.run([h.arg(t.root), "-cl=4096", "-sort=files", "-sort=sizes", "-2"])
            messages, body = self.messages_then_body(r)
            self.assertEqual(messages, [b"Invalid sorting method specified - SIZES"])
            self.assertEqual(child_names(tree_lines(body)), ["b2", "c3", "a1"])


def database_output_built():
    """True once -tab writes database rows rather than the screen report."""
    with h.Tree({}) as t:
        out = h.lines(p.run([h.arg(t.root), "-tab"]).stdout)
    return not any(l.startswith(b" Total-no subs") for l in out)


class Sources(Report):
    def test_later_sources_override_earlier_ones(self):
        # stored < variable < command line, and every token in order: the three messages must
        # come in source order, and the display switches end as the last source set them.
        with h.Tree(SMALL) as t:
            r = p.run([h.arg(t.root), "-cl=4096", "-sort=third", "-c-"],
                      stored="-sort=first -asval -c+ -nowaste", variable="-sort=second -c+ -asper")
            messages, body = self.messages_then_body(r)
            self.assertEqual(messages, [b"Invalid sorting method specified - FIRST",
                                        b"Invalid sorting method specified - SECOND",
                                        b"Invalid sorting method specified - THIRD"])
            self.assertEqual(body[0], b" Total-no subs  Files  Directory name   [dir + subdirs total]")
            self.assertEqual(tree_lines(body)[1], b"         4,096      0  |--other")

    def test_command_line_form_beats_the_stored_form(self):
        if not database_output_built():
            self.skipTest("database output (-tab, -comma) is not built yet")
        with h.Tree(SMALL) as t:
            direct = p.run([h.arg(t.root), "-cl=4096", "-tab"])
            mixed = p.run([h.arg(t.root), "-cl=4096", "-tab"], stored="-comma")
            # Both differ only in the title's time.
            self.assertEqual(h.lines(mixed.stdout)[3:], h.lines(direct.stdout)[3:])
            self.assertIn(b"\t", h.lines(mixed.stdout)[4])

    def test_quoted_path_with_a_blank_in_the_stored_string(self):
        # The quotes group the path into one token and are not part of it.
        with h.Tree({"my dir/x": 10, "my dir/inner/y": 20}) as t:
            folder = t.path("my dir")
            body = self.report(["-cl=4096"], stored='-size:1M "%s"' % h.arg(folder))
            self.assertEqual(tree_lines(body),
                             [b"         8,192  100%      2  " + h.shown(folder).encode() + b" ...   [16,384]"])

    def test_quoted_command_line_argument_is_one_token(self):
        with h.Tree({"my dir/x": 10}) as t:
            folder = t.path("my dir")
            body = self.report(["-cl=4096", h.arg(folder)], stored=h.arg(t.root))
            self.assertTrue(tree_lines(body)[0].endswith(h.shown(folder).encode()))

    def test_last_directory_wins_across_sources(self):
        with h.Tree({"one/x": 1, "two/y": 1, "three/z": 1}) as t:
            body = self.report(["-cl=4096", h.arg(t.path("three"))],
                               stored=h.arg(t.path("one")), variable=h.arg(t.path("two")))
            self.assertTrue(tree_lines(body)[0].endswith(h.shown(t.path("three")).encode()))
            body = self.report(["-cl=4096"], stored=h.arg(t.path("one")),
                               variable=h.arg(t.path("two")))
            self.assertTrue(tree_lines(body)[0].endswith(h.shown(t.path("two")).encode()))

    def test_string_sources_hold_8192_bytes_and_a_longer_one_is_refused(self):
        # A value that does not fit must be refused, never used cut: its last token would be a
        # fragment (once 254 blanks and "-w" were cut to "-", a directory).
        with h.Tree(SMALL) as t:
            for length in (300, 8192):
                value = ("-sort=bogus" + " " * 9000)[:length - 2] + "-w"
                r = p.run([h.arg(t.root)], variable=value, cwd=t.root)
                self.assertEqual(r.returncode, 0, length)
                self.assertIn(b"Quorvel is a great", r.stdout)
                r = p.run([h.arg(t.root)], stored=value, cwd=t.root)
                self.assertIn(b"Quorvel is a great", r.stdout, length)
            for source in ("variable", "stored"):
                r = p.run([h.arg(t.root)], cwd=t.root, **{source: "-p " + "x" * 8190})
                self.assertEqual(r.returncode, 1, source)
                self.assertNotIn(b"Quorvel report", r.stdout, source)
                what = b"the variable QUORVEL is" if source == "variable" else \
                    b"the stored default parameters are"
                self.assertEqual(h.lines(r.stderr),
                                 [b"quorvel: " + what + b" longer than 8192 bytes"], source)


class TypedFromHabit(Report):
    """Options as people type them: du's spelling, mistyped ones, values past 255 bytes, a bad
    thread count; on Windows, paths as the command prompt hands them over."""

    def names(self, body):
        return [l.split(b"--")[1] for l in tree_lines(body)[1:]]

    def test_du_spelling_of_exclude_is_taken(self):
        # quorvel -csv --exclude=node_modules npm reported the whole project, silently.
        with h.Tree({"node_modules/f": 10, "keep/f": 10}) as t:
            r = p.run([h.arg(t.root), "-cl=4096", "--exclude=node_modules"])
            self.assertEqual(self.names(p.report_body(self, r)), [b"keep"])
            self.assertEqual(r.stderr, b"")

    def refused(self, r, line, what):
        """A run refused before anything was written on standard output, with one line."""
        self.assertEqual((r.returncode, r.stdout, h.lines(r.stderr)), (1, b"", [line]), what)

    def test_an_unknown_option_ends_the_run_before_anything_from_every_source(self):
        # Each was a line on the error output, then the full report with exit 0: the exclusion
        # the user meant silently did not apply. du refuses them with exit 1.
        with h.Tree(dict(SMALL, **{"node_modules/f": 10})) as t:
            root = h.arg(t.root)
            # Named with its source when that is not the command line.
            for words in (["-exlcude=node_modules"], ["-x"], ["-X", "f"]):
                line = b"quorvel: unknown option " + words[0].encode() + b"%s (quorvel -? lists them)"
                self.refused(p.run(["-cl=4096"] + words + [root], cwd=t.root), line % b"", words)
                self.refused(p.run([root], variable=" ".join(words), cwd=t.root),
                             line % b" in the variable QUORVEL", words)
            self.refused(p.run([root, "-csv"], stored="-p -x", cwd=t.root),
                         b"quorvel: unknown option -x in the stored default parameters "
                         b"(quorvel -? lists them)", "stored")

    def test_dash_and_an_existing_directory_are_directories(self):
        # "-" names a directory as it always did, and so does one whose name looks like an
        # option, which ./-x always reaches. (A later "-?": test_texts.)
        with h.Tree({"-x/f": 10, "-/f": 10}) as t:
            for word, name in (("-x", "-x"), ("." + h.SEP + "-x", "-x"), ("-", "-")):
                body = self.report(["-cl=4096", word], cwd=t.root)
                self.assertTrue(tree_lines(body)[0].endswith(h.shown(t.path(name)).encode()),
                                (word, body))

    def test_a_value_option_takes_the_next_word_as_gnu_tools_do(self):
        # --exclude node_modules reported ON node_modules; -top 5 reported a directory named 5.
        with h.Tree({"node_modules/f": 10, "keep/f": 9000, "5/f": 10}) as t:
            root = h.arg(t.root)
            body = self.report(["-cl=4096", "--exclude", "node_modules", root])
            self.assertEqual(self.names(body), [b"5", b"keep"])
            body = self.report(["-cl=4096", "-top", "5"], cwd=t.root)
            self.assertEqual(self.names(body), [b"5", b"keep", b"node_modules"])
            self.assertIn(b"Largest files:", body)
            dump = t.path("scan.json")
            self.report(["-save", dump, root])
            with open(dump, "rb") as f:
                self.assertTrue(f.read().startswith(b"[1,"))
            # From the variable, with ':' for '=' in every value option.
            for variable in ("-exclude node_modules", "-exclude:node_modules",
                             "--exclude:node_modules -sort:size"):
                self.assertEqual(self.names(self.report(["-cl=4096", root], variable=variable)),
                                 [b"keep", b"5"] if "size" in variable else [b"5", b"keep"])
            self.refused(p.run([root, "-top"]), b"quorvel: -top needs a value", "-top")

    def test_du_depth_spellings_set_the_depth(self):
        with h.Tree(SMALL) as t:
            root = h.arg(t.root)
            one = tree_lines(self.report([root, "-cl=4096", "-1"]))
            self.assertEqual(len(one), 3)
            for words in (["-d", "1"], ["--max-depth=1"], ["--max-depth", "1"], ["-d1"]):
                self.assertEqual(tree_lines(self.report([root, "-cl=4096"] + words)), one, words)
            self.assertEqual(tree_lines(self.report([root, "-cl=4096"], variable="-d:1")), one)
            self.refused(p.run([root, "--max-depth=0"]),
                         b"quorvel: --max-depth=0 is not a number of levels from 1 up", "0")

    def test_growth_order_without_since_is_refused(self):
        # It silently sorted by name.
        line = b"quorvel: -sort=growth needs -since=FILE, the saved scan to count the growth from"
        with h.Tree(SMALL) as t:
            self.refused(p.run([h.arg(t.root), "-sort=growth"]), line, "command line")
            self.refused(p.run([h.arg(t.root)], variable="-sort:growth"), line, "variable")

    def test_a_bad_thread_count_is_said_once_and_the_default_is_used(self):
        # QUORVEL_THREADS=abc, 0 and 999 were taken silently. Windows reads in line whatever it
        # says, and says a bad value all the same.
        with h.Tree(SMALL) as t:
            plain = p.report_body(self, p.run([h.arg(t.root), "-cl=4096"]))
            for value in ("abc", "0", "999"):
                r = p.run([h.arg(t.root), "-cl=4096"], extra_env={"QUORVEL_THREADS": value})
                self.assertEqual(p.report_body(self, r)[:-5], plain[:-5], value)
                self.assertEqual(h.lines(r.stderr), [
                    b"quorvel: QUORVEL_THREADS=" + value.encode() +
                    b" is not a number from 1 to 256; the default is used"])

    def test_a_long_pattern_is_used_whole(self):
        # Cut to 246 bytes, this pattern is all stars and leaves out every directory.
        pattern = "*" * 250 + "nomatch"
        with h.Tree({"a/f": 10, "b-nomatch/f": 10}) as t:
            for kw in ({"args": ["-exclude=" + pattern]}, {"stored": '"-exclude:%s"' % pattern}):
                r = p.run([h.arg(t.root), "-cl=4096"] + kw.get("args", []),
                          stored=kw.get("stored"))
                body = p.report_body(self, r)
                self.assertEqual(self.names(body), [b"a"], kw)
                self.assertIn(b"Excluded: 1 directory, 0 files", body)

    def test_a_value_longer_than_its_option_holds_is_refused_before_any_scan(self):
        with h.Tree(SMALL) as t:
            for token, line in (
                    ("-exclude=" + "x" * 4096, b"the value of -exclude= is too long (4096 bytes, "
                                               b"at most 4095)"),
                    ("-sort=" + "x" * 300, b"the option -sort= is too long (306 bytes, at most 255)")):
                self.refused(p.run([h.arg(t.root), token]), b"quorvel: " + line, line)

    @unittest.skipUnless(h.WINDOWS, "a name never holds a double quote on Windows alone")
    def test_a_quoted_folder_ending_in_a_backslash_reports_that_folder(self):
        # "Z:\...\my dir\" typed at a prompt (tab completion gives it) arrives as
        # Z:\...\my dir" and was an empty report; options after it arrived in the same argument.
        with h.Tree({"my dir/x": 10, "my dir/in/y": 10}) as t:
            folder = h.arg(t.path("my dir"))
            body = self.report(["-cl=4096", folder + '"'])
            self.assertTrue(tree_lines(body)[0].endswith((folder + "\\   [16,384]").encode()),
                            tree_lines(body))
            body = self.report(["-cl=4096", folder + '" -nowaste -c+'])
            self.assertEqual(body[0], b" Total-no subs  Files  Directory name   [dir + subdirs total]")
            self.assertEqual(tree_lines(body), [
                b"         8,192      1  " + (folder + "\\   [16,384]").encode(),
                b"         8,192      1  " + "\u2514\u2500\u2500in".encode()])

    def test_a_greek_exclusion_in_capitals_follows_the_case_names_have(self):
        # Windows finds a name in any case for every letter, Greek capitals with an accent too
        # (ΕΛΛΗΝΙΚΆ left Ελληνικά in); Linux names differ by case.
        with h.Tree({"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac/f": 10, "keep/f": 10}) as t:
            body = self.report([h.arg(t.root), "-cl=4096",
                                "-exclude=\u0395\u039b\u039b\u0397\u039d\u0399\u039a\u0386"])
            greek = "\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac".encode()
            self.assertEqual(self.names(body), [b"keep"] if h.WINDOWS else [b"keep", greek])


class StoredDefaults(Report):
    @unittest.skipUnless(h.WINDOWS, "the registry exists only on Windows")
    def test_value_of_another_type_reads_as_empty_without_a_message(self):
        with h.Tree(SMALL) as t:
            r = p.run([h.arg(t.root), "-cl=4096"], stored="5", stored_type="REG_DWORD")
            messages, body = self.messages_then_body(r)
            self.assertEqual(messages, [])
            self.assertEqual(len(tree_lines(body)), 4)

    @unittest.skipUnless(h.WINDOWS, "config.exe is the Windows build's")
    def test_configuration_program_stores_the_users_and_the_machines_and_the_users_win(self):
        # Guards a string stored where Quorvel does not read it, the machine's applied after
        # the user's (or not at all), an Enter that empties it, a "-" that does not, and a
        # launch stored without a second thought.
        with h.Tree(SMALL) as t, p.Sources(stored="-asval") as s:
            def configure(typed, outcome, *args):
                r = s.run(list(args), name="config", typed=typed)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(h.lines(r.stdout)[-1], outcome)
                return h.lines(r.stdout)

            def header():
                return p.report_body(self, s.run([h.arg(t.root), "-cl=4096"]))[0]

            out = configure(b"-nowaste -2\n", b"Stored.")
            self.assertIn(b"The machine's now: -asval", out)
            self.assertIn(b"  HKEY_CURRENT_USER\\SOFTWARE\\Penwick Software\\Quorvel, value DefaultParams", out)
            self.assertIn(b"Stored now: nothing.", out)
            self.assertIn(b"  -2            shows 2 levels of directories below the one reported;"
                          b" deeper ones are counted in them", out)
            self.assertEqual(header(), b" Total-no subs  Files  Directory name   [dir + subdirs total]")
            # The machine's string, then the user's: -asper after -asval shows a percentage.
            out = configure(b"-asval -1\n", b"Stored.", "/machine")
            self.assertIn(b"Stored now: -asval", out)
            self.assertIn(b"  HKEY_LOCAL_MACHINE\\SOFTWARE\\Penwick Software\\Quorvel, value DefaultParams", out)
            configure(b"-asper\n", b"Stored.")
            self.assertEqual(p.reg_query(p.USER_KEY)[1:], [b"DefaultParams    REG_SZ    -asper".decode()])
            self.assertEqual(p.reg_query(p.REG_KEY)[1:], [b"DefaultParams    REG_SZ    -asval -1".decode()])
            body = p.report_body(self, s.run([h.arg(t.root), "-cl=4096"]))
            self.assertEqual(body[0], b" Total-no subs  Wstd  Files  Directory name   [dir + subdirs total]")
            self.assertEqual(len(tree_lines(body)), 3)  # the machine's -1 holds
            out = configure(b"\n", b"Kept as they were.")
            self.assertIn(b"Stored now: -asper", out)
            configure(b"-mail\nn\n", b"Kept as they were.")
            configure(b"-\n", b"Cleared: no default parameters.")
            body = p.report_body(self, s.run([h.arg(t.root), "-cl=4096"]))
            self.assertEqual(body[0], b" Total-no subs    Wasted space  Files  Directory name   [dir + subdirs total]")
            r = s.run(["/bogus"], name="config")
            self.assertEqual(r.returncode, 1)
            self.assertIn(b"  /machine  Sets the machine's default parameters, for every user", r.stdout)
            if h.PLATFORM == "win64":
                # A string an earlier 32-bit config.exe left in the 32-bit view still counts
                # while the shared place has none.
                env = p._stored_prefix_env(os.environ)
                p._reg(env, "delete", p.REG_KEY, "/f")
                p._reg(env, "add", p.REG_KEY, "/v", "DefaultParams", "/d", "-nowaste", "/f",
                       "/reg:32")
                try:
                    self.assertEqual(header(), b" Total-no subs  Files  Directory name   [dir + subdirs total]")
                finally:
                    p._reg(env, "delete", p.REG_KEY, "/f", "/reg:32")

    @unittest.skipUnless(h.WINDOWS, "config.exe is the Windows build's")
    def test_configuration_program_reads_what_is_typed_at_the_console(self):
        # Guards a typed line read in single-key mode, echoed twice or not at all, and a name
        # outside ASCII stored in another code page than the one Quorvel reads it in.
        with h.Tree({"caf\u00e9/f": 5000}) as t, p.Sources(stored="-asval") as s:
            folder = h.arg(t.path("caf\u00e9"))
            with h.Terminal([], name="config", env={"QUORVEL_WINE_PREFIX": p.STORED_PREFIX}) as term:
                term.wait_for("New parameters")
                subprocess.run(["tmux", "send-keys", "-t", term.session, "-l", "--",
                                '-tab "%s"' % folder], check=True)
                term.keys("Enter")
                screen = term.wait_for("Stored.")
                self.assertEqual(sum(folder in l for l in screen), 2, screen)  # the echo, the word
                term.keys("Enter")  # Wine's console in a terminal counts as a window of its own
                self.assertEqual(term.exit_code(), 0)
            rows = [l for l in h.lines(s.run([]).stdout) if l.endswith(b'"')]
            self.assertEqual(rows[-1].split(b"\t")[-1], b'"' + folder.encode() + b'\\"')

    @unittest.skipIf(h.WINDOWS, "the stored-defaults file is the POSIX build's")
    def test_file_gives_its_first_line_up_to_a_zero_byte(self):
        with h.Tree(SMALL) as t:
            body = self.report([h.arg(t.root), "-cl=4096"], stored=b"-nowaste\n-w\n")
            self.assertEqual(body[0], b" Total-no subs  Files  Directory name   [dir + subdirs total]")
            body = self.report([h.arg(t.root), "-cl=4096"], stored=b"-asval\0-w")
            self.assertEqual(body[0], b" Total-no subs    Wasted space  Files  Directory name   [dir + subdirs total]")
            body = self.report([h.arg(t.root), "-cl=4096"], stored=b"-1\r\n-w")
            self.assertEqual(len(tree_lines(body)), 3)

    @unittest.skipIf(h.WINDOWS, "the stored-defaults file is the POSIX build's")
    def test_unusable_file_is_no_error(self):
        # A folder or a FIFO in the file's place: no message, no hang, the defaults apply.
        with h.Tree(SMALL) as t, p.Sources() as s:
            place = os.path.join(s.config, "quorvel", "DefaultParams")
            os.makedirs(os.path.dirname(place))
            os.mkfifo(place)
            self.assertEqual(len(tree_lines(p.report_body(self, s.run([h.arg(t.root)], timeout=20)))), 4)
            os.unlink(place)
            os.mkdir(place)
            self.assertEqual(len(tree_lines(p.report_body(self, s.run([h.arg(t.root)])))), 4)

    @unittest.skipIf(h.WINDOWS, "the stored-defaults file is the POSIX build's")
    def test_home_config_is_used_when_xdg_config_home_is_empty(self):
        with h.Tree(SMALL) as t, p.Sources() as s:
            os.makedirs(os.path.join(s.config, ".config", "quorvel"))
            with open(os.path.join(s.config, ".config", "quorvel", "DefaultParams"), "w") as f:
                f.write("-nowaste")
            s.extra_env.update({"XDG_CONFIG_HOME": "", "HOME": s.config})
            body = p.report_body(self, s.run([h.arg(t.root)]))
            self.assertEqual(body[0], b" Total-no subs  Files  Directory name   [dir + subdirs total]")


class Paging(unittest.TestCase):
    def test_p_writes_the_report_in_one_pass_on_a_terminal(self):
        # Without -p a terminal gets the scroller, which waits for a key; with it the program
        # must end by itself with the whole report on the screen.
        with h.Tree(SMALL) as t, h.Terminal(["-p", "-cl=4096", h.arg(t.root)], height=40) as term:
            self.assertEqual(term.exit_code(), 0)
            screen = term.screen()
            self.assertTrue(any("Cluster size: 4,096" in l for l in screen), screen)
            self.assertFalse(any("[U]nits [Esc]" in l for l in screen), screen)


if __name__ == "__main__":
    h.main()
