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
            self.assertEqual(footer, b"Excluded directories: 3")
            self.assertEqual(body[body.index(body[1], 2) + 4], b"")
            # Patterns that match nothing say so; none given, no line at all.
            body = self.report([root, "-cl=4096", "-exclude=nothing*"])
            self.assertEqual(body[body.index(body[1], 2) + 3], b"Excluded directories: 0")
            self.assertFalse(any(l.startswith(b"Excluded") for l in full))

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

    def test_variable_of_255_bytes_or_more_is_ignored(self):
        # 254 bytes fit the 255-byte buffer with their terminator; one more does not, and a cut
        # value must not be used (its last token would be a fragment).
        with h.Tree(SMALL) as t:
            for length, used in ((254, True), (255, False), (400, False)):
                value = ("-sort=bogus" + " " * 300)[:length - 1] + "x"
                messages, _ = self.messages_then_body(p.run([h.arg(t.root)], variable=value,
                                                            cwd=t.root))
                expected = [b"Invalid sorting method specified - BOGUS"] if used else []
                self.assertEqual(messages, expected, length)

    def test_stored_string_is_cut_at_255_bytes(self):
        # 254 blanks and "-w": the cut leaves "-", a directory name, so no welcome screen but
        # a directory that is not there (code 1).
        with h.Tree({}) as t:
            r = p.run(["-cl=4096"], stored=" " * 254 + "-w", cwd=t.root)
            self.assertEqual(r.returncode, 1)
            self.assertNotIn(b"Quorvel is a great", r.stdout)
            self.assertIn((h.SEP + "-" + h.SEP).encode(), h.lines(r.stdout)[4])


class StoredDefaults(Report):
    @unittest.skipUnless(h.WINDOWS, "the registry exists only on Windows")
    def test_value_of_another_type_reads_as_empty_without_a_message(self):
        with h.Tree(SMALL) as t:
            r = p.run([h.arg(t.root), "-cl=4096"], stored="5", stored_type="REG_DWORD")
            messages, body = self.messages_then_body(r)
            self.assertEqual(messages, [])
            self.assertEqual(len(tree_lines(body)), 4)

    @unittest.skipUnless(h.WINDOWS, "config.exe is the Windows build's")
    def test_configuration_program_stores_what_the_next_run_applies(self):
        # Guards a string stored where Quorvel does not read it, an Enter that empties it, a
        # "-" that does not, and a launch stored without a second thought.
        with h.Tree(SMALL) as t, p.Sources(stored="-asval") as s:
            def configure(typed, outcome):
                r = s.run([], name="config", typed=typed)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertIn(b"Stored now: ", r.stdout)
                self.assertEqual(h.lines(r.stdout)[-1], outcome)
                return h.lines(r.stdout)

            def header():
                return p.report_body(self, s.run([h.arg(t.root), "-cl=4096"]))[0]

            out = configure(b"-nowaste -2\n", b"Stored.")
            self.assertIn(b"Stored now: -asval", out)
            self.assertIn(b"  -nowaste      hides the wastage column", out)
            self.assertIn(b"  -2            shows 2 levels of directories below the one reported;"
                          b" deeper ones are counted in them", out)
            self.assertEqual(header(), b" Total-no subs  Files  Directory name   [dir + subdirs total]")
            out = configure(b"\n", b"Kept as they were.")
            self.assertIn(b"Stored now: -nowaste -2", out)
            configure(b"-mail\nn\n", b"Kept as they were.")
            self.assertEqual(header(), b" Total-no subs  Files  Directory name   [dir + subdirs total]")
            configure(b"-\n", b"Cleared: no default parameters.")
            self.assertEqual(header(), b" Total-no subs  Wstd  Files  Directory name   [dir + subdirs total]")

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
