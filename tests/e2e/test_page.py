"""The page of -html: the report alone on standard output, its template byte for byte the files
of report/page with the tree as data, and then the page in a real browser, headless Chromium
driven by Selenium: areas in proportion to totals, a click zooms, the path and the keys lead
back, the table zooms, sizes as -units writes them, the map follows the window, hostile names
stay text, the policy refuses any other script, growth colours, and a tree of 20,000
directories; a zoom's figures, paths cut to keep their end, and the files of a dump as tiles. Without Chromium, its driver or Selenium the browser tests are skipped and the
script exits 77, which ctest reports as skipped."""
import base64
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness as h

SKIPPED = 77  # ctest's SKIP_RETURN_CODE for these scripts


def _webdriver():
    """Selenium's webdriver module, or None. The tests may run under a Python other than the
    system's, where Debian's python3-selenium is not on the path: its folder is added then."""
    try:
        from selenium import webdriver
        return webdriver
    except ImportError:
        pass
    debian = "/usr/lib/python3/dist-packages"
    if os.path.isdir(os.path.join(debian, "selenium")) and debian not in sys.path:
        sys.path.append(debian)
        try:
            from selenium import webdriver
            return webdriver
        except ImportError:
            pass
    return None


CHROMIUM = shutil.which("chromium")
CHROMEDRIVER = shutil.which("chromedriver")
WEBDRIVER = _webdriver()
MISSING = [what for what, found in (("chromium", CHROMIUM), ("chromium-driver", CHROMEDRIVER),
                                    ("python3-selenium", WEBDRIVER)) if not found]
# Without these Chromium reaches for the network (closed here) and waits for it.
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync"]

PAGE_DIR = os.path.join(h.SOURCE, "report", "page")
SEP = h.SEP


def digest(text):
    return "sha256-" + base64.b64encode(hashlib.sha256(text).digest()).decode()


def template():
    """The page around its data, made from the files of report/page as the build makes it."""
    def read(name):
        with open(os.path.join(PAGE_DIR, name), "rb") as f:
            return f.read()
    page, style, script = read("treemap.html"), read("treemap.css"), read("treemap.js")
    page = page.replace(b"@STYLE_HASH@", digest(style).encode())
    page = page.replace(b"@SCRIPT_HASH@", digest(script).encode())
    page = page.replace(b"@STYLE@", style).replace(b"@SCRIPT@", script)
    head, tail = page.split(b"@DATA@")
    return head, tail


def data_of(page):
    """The page's data, parsed, and the page without it."""
    head, tail = template()
    assert page.startswith(head) and page.endswith(tail), "the page is not the template"
    return json.loads(page[len(head):len(page) - len(tail)].decode("utf-8"))


def paths_of(data):
    """Each directory's data-path, in the data's order."""
    stack, paths = [], []
    for name, depth in zip(data["n"], data["d"]):
        del stack[depth:]
        stack.append(name)
        paths.append("/".join(stack[1:]))
    return paths


def make_page(args, name="page.html", incomplete=False):
    """Runs -html with args; returns (page bytes, its file in the build folder). incomplete:
    the run names directories it could not read and exits 1 (the page is still whole)."""
    r = h.run(["-html"] + list(args))
    assert r.returncode == (1 if incomplete else 0), r.stderr
    folder = os.path.join(h.BUILD, "e2e-page")
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(r.stdout)
    return r.stdout, path


# A home directory in miniature: (path, size of the one file in it, in units of the tree).
HOME = [("projects/quorvel/src", 380), ("projects/quorvel/build", 1400),
        ("projects/quorvel/.git", 620), ("projects/quorvel/docs", 60),
        ("projects/website/public", 300), ("projects/website/node_modules/left", 240),
        ("projects/website/node_modules/right", 160), ("projects/notes", 24),
        (".cache/chromium", 2600), (".cache/pip", 700), (".cache/thumbnails", 180),
        ("music/bach", 2100), ("music/coltrane", 1300), ("music/satie", 400),
        ("pictures/2023", 2900), ("pictures/2024", 1900), ("pictures", 500),
        ("videos", 4100), ("documents/taxes", 90), ("documents/letters", 45), ("", 30)]


def cut_of(text, whole):
    """Whether text is whole, or whole cut once with an ellipsis that keeps its end."""
    if text == whole:
        return True
    parts = text.split("\u2026")
    return len(parts) == 2 and whole.startswith(parts[0]) and whole.endswith(parts[1]) and \
        len(parts[1]) >= min(len(whole), 8)


def unit_figures(report):
    """{name: (own, total)} of a redirected screen report with -units: the sizes as -units
    writes them. The start directory's name is its path."""
    figures = {}
    for line in h.lines(report):
        m = re.match(rb"^ *(\S+ [BKMGTPE])  +[\d,]+  (.*?)(?:   \[(\S+ [BKMGTPE])\])?$", line)
        if m:
            own = m.group(1).decode()
            name = m.group(2).decode().lstrip(" |+-")
            figures[name] = (own, m.group(3).decode() if m.group(3) else own)
    return figures


def home_tree(unit=1024, sparse=False):
    """HOME with files of real bytes (units of KiB by default), or of lengths with nothing
    behind them, which only -dir counts."""
    t = h.Tree()
    t.root = t.add("ada")
    for rel, size in HOME:
        t.add(os.path.join(rel, "data.bin") if rel else "data.bin", size * unit, sparse)
    return t


class PageOutput(unittest.TestCase):
    def test_the_page_is_the_whole_output_and_its_data_the_rows_of_csv(self):
        # Anything else on standard output (a banner, a title, a form feed) breaks the page; the
        # template must be the files of report/page as they are, with the digests the policy
        # names; the data must hold every shown directory with the figures -csv gives it.
        with home_tree() as t:
            root = h.arg(t.root)
            r = h.run(["-html", root])
            csv_rows = h.run(["-csv", root]).stdout.decode().split("\n")[1:-1]
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        page = r.stdout
        self.assertTrue(page.startswith(b"<!DOCTYPE html>\n"), page[:40])
        self.assertTrue(page.endswith(b"</html>\n"))
        self.assertNotIn(b"\r", page)
        self.assertNotIn(b"\f", page)
        self.assertNotIn(b"Quorvel report", page)
        data = data_of(page)
        self.assertEqual(data["version"], "1.0.0")
        self.assertEqual(data["n"][0], h.shown(t.root))
        self.assertEqual(data["separator"], SEP)
        self.assertRegex(data["created"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
        rows = []
        for line in csv_rows:
            own, wasted, total, files, path = line.split(",", 4)
            rel = path[len(h.shown(t.root)) + 1:]
            rows.append((rel.replace(SEP, "/"), int(total), int(own), int(wasted), int(files)))
        self.assertEqual(list(zip(paths_of(data), data["t"], data["o"], data["w"], data["f"])),
                         rows)
        self.assertEqual(data["m"], [])
        self.assertNotIn("g", data)
        self.assertEqual(data["files"], len(HOME))

    def test_shaping_options_apply_and_messages_go_to_standard_error(self):
        with home_tree() as t:
            root = h.arg(t.root)
            r = h.run(["-sort=bogus", "-html", "-1", "-exclude=music", root])
            self.assertEqual(r.returncode, 0)
            self.assertIn(b"Invalid sorting method specified - BOGUS", r.stderr)
            data = data_of(r.stdout)
            self.assertEqual(paths_of(data), ["", ".cache", "documents", "pictures", "projects",
                                              "videos"])
            self.assertEqual(data["m"], [1, 2, 3, 4])  # each took in what lies below it
            self.assertEqual(data["excluded"], 1)
            big = data_of(h.run(["-html", "-size=3M", root]).stdout)
            self.assertEqual(paths_of(big), ["", ".cache", "music", "pictures", "projects",
                                             "videos"])
            missing = h.run(["-html", root + SEP + "missing"])
            self.assertEqual((missing.returncode, missing.stdout), (1, b""))
            self.assertIn(b"Path was not found", missing.stderr)

    @unittest.skipUnless(h.WINDOWS, "compares the Windows build's page with the native one's")
    def test_both_builds_write_the_same_page(self):
        native = os.path.join(h.SOURCE, "build", "native", "quorvel")
        if not os.path.exists(native):
            self.skipTest("no native build beside this one at %s" % native)
        with home_tree() as t:
            windows = h.run(["-html", h.arg(t.root)]).stdout
            linux = subprocess.run([native, "-html", t.root], stdout=subprocess.PIPE,
                                   check=True).stdout

        def plain(page):
            """The page with the time of writing, the start directory and the separator set
            aside: what the platform spells its own way."""
            data = data_of(page)
            data["n"][0] = data["created"] = data["separator"] = None
            return data
        self.assertEqual(plain(windows), plain(linux))
        self.assertEqual(windows[:windows.index(b'id="tree-data">')],
                         linux[:linux.index(b'id="tree-data">')])


class Browser:
    """Headless Chromium with a profile of its own, driven by Selenium."""

    def __init__(self, width=1200, height=800):
        from selenium.webdriver.chrome.service import Service
        self.profile = tempfile.mkdtemp(prefix="quorvel-chromium-")
        options = WEBDRIVER.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in CHROMIUM_FLAGS + ["--user-data-dir=" + self.profile,
                                      "--window-size=%d,%d" % (width, height)]:
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        self.driver = WEBDRIVER.Chrome(service=Service(CHROMEDRIVER), options=options)

    def open(self, path):
        """Loads the page file and waits until it has drawn its first view; returns the
        milliseconds from the start of loading to then, as the page measured them."""
        self.log()  # what earlier pages said
        self.driver.get("file://" + os.path.abspath(path))
        end = time.time() + 60
        while time.time() < end:
            drawn = self.js("return document.body && document.body.dataset.drawnMs")
            if drawn and self.js(SETTLED):
                return int(drawn)
            time.sleep(0.05)
        raise AssertionError("the page never drew; console: %r" % self.log())

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def log(self):
        return self.driver.get_log("browser")

    def errors(self):
        return [e for e in self.log() if e["level"] in ("SEVERE", "WARNING")]

    def close(self):
        self.driver.quit()
        shutil.rmtree(self.profile, ignore_errors=True)


# Whether the view drawn fills the stage as it is now: a late change of the layout (a font
# loaded, a line wrapped) resizes the stage after the first drawing, and the page draws again
# on the next frame.
SETTLED = """
const s = document.getElementById('stage'), r = document.querySelector('#map > g > rect');
return !!r && +r.getAttribute('width') === s.clientWidth &&
       +r.getAttribute('height') === s.clientHeight;"""


# Each drawn directory's path, rectangle, fill and title, in drawing order.
DRAWN = """
return Array.from(document.querySelectorAll('#map g[data-path]')).map(g => {
  const r = g.querySelector(':scope > rect');
  return {path: g.dataset.path, x: +r.getAttribute('x'), y: +r.getAttribute('y'),
          w: +r.getAttribute('width'), h: +r.getAttribute('height'),
          fill: r.getAttribute('fill'), title: g.querySelector(':scope > title').textContent,
          parent: g.parentElement.dataset ? g.parentElement.dataset.path : undefined};
});"""


# Each drawn file's path, rectangle, fill and title.
FILES = """
return Array.from(document.querySelectorAll('#map g[data-file]')).map(g => {
  const r = g.querySelector(':scope > rect');
  return {path: g.dataset.file, w: +r.getAttribute('width'), h: +r.getAttribute('height'),
          fill: r.getAttribute('fill'), title: g.querySelector(':scope > title').textContent};
});"""
TYPE_COLOUR = {"archives": "hsl(32 42% 46%)", "video": "hsl(255 45% 64%)",
               "images": "hsl(320 52% 64%)", "documents": "hsl(50 80% 54%)",
               "executables and libraries": "hsl(14 80% 56%)"}


@unittest.skipIf(MISSING, "not installed: %s" % ", ".join(MISSING))
class InBrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.browser = Browser()

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()

    def setUp(self):
        self.browser.driver.set_window_size(1200, 800)

    def tearDown(self):
        errors = self.browser.errors()
        self.assertEqual(errors, [], "the browser's console")

    def js(self, script, *args):
        return self.browser.js(script, *args)

    def view(self):
        return self.js("return document.querySelector('#map > g').dataset.path")

    def crumbs(self):
        return self.js("return Array.from(document.querySelectorAll('#crumbs button'))"
                       ".map(b => [b.textContent, b.dataset.path])")

    def click_directory(self, path):
        """Clicks the directory's own frame just inside its top left corner, where no child
        lies: its name strip, or its frame."""
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.by import By
        g = self.browser.driver.find_element(By.CSS_SELECTOR, '#map g[data-path="%s"]' % path)
        rect = g.find_element(By.CSS_SELECTOR, ":scope > rect")
        w, h_ = float(rect.get_attribute("width")), float(rect.get_attribute("height"))
        ActionChains(self.browser.driver).move_to_element_with_offset(
            rect, int(-w / 2 + 3), int(-h_ / 2 + 3)).click().perform()

    def key(self, name):
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.keys import Keys
        ActionChains(self.browser.driver).send_keys(getattr(Keys, name)).perform()

    def test_areas_click_path_keys_table_units_and_screenshot(self):
        # The whole use of the page on a small home directory.
        # The files' lengths in MiB: -dir counts them, the disk holds nothing.
        with home_tree(1 << 20, sparse=True) as t:
            page, path = make_page(["-dir", h.arg(t.root)], "home.html")
            figures = unit_figures(h.run(["-units", "-dir", "-p", h.arg(t.root)]).stdout)
        data = data_of(page)
        totals = dict(zip(paths_of(data), data["t"]))
        ms = self.browser.open(path)
        sys.stderr.write("home page: %d directories drawn in %d ms\n" % (len(totals), ms))
        drawn = self.js(DRAWN)
        rects = {d["path"]: d for d in drawn}

        # The start directory fills the map; its children share its inside in proportion to
        # their totals (the part no child covers is its own files).
        stage = self.js("const s = document.getElementById('stage');"
                        "return [s.clientWidth, s.clientHeight]")
        self.assertEqual((rects[""]["w"], rects[""]["h"]), tuple(stage))
        for parent in ("", "projects", "music", "pictures"):
            kids = [d for d in drawn if d["parent"] == parent]
            self.assertGreaterEqual(len(kids), 2, parent)
            per_byte = [d["w"] * d["h"] / totals[d["path"]] for d in kids]
            self.assertLess(max(per_byte) / min(per_byte), 1.01, (parent, kids))
            inside = sum(d["w"] * d["h"] for d in kids)
            self.assertLess(inside, rects[parent]["w"] * rects[parent]["h"])
        # Nested: every child lies within its parent's rectangle.
        for d in drawn:
            if d["path"]:
                p = rects[d["parent"]]
                self.assertTrue(p["x"] <= d["x"] and d["x"] + d["w"] <= p["x"] + p["w"] + 0.01 and
                                p["y"] <= d["y"] and d["y"] + d["h"] <= p["y"] + p["h"] + 0.01, d)
        # The <title>: name and size as -units writes it.
        self.assertEqual(rects["music"]["title"], "music \u2014 " + figures["music"][1])
        self.assertEqual(rects[""]["title"], h.shown(t.root) + " \u2014 " +
                         figures[h.shown(t.root)][1])

        # Screenshots for the build folder (the README's picture comes from here).
        self.browser.driver.set_window_size(1000, 620)
        self.wait_for_size()
        self.browser.driver.save_screenshot(os.path.join(h.BUILD, "treemap.png"))
        self.browser.driver.set_window_size(1200, 800)
        self.wait_for_size()

        # A click zooms, the path leads back, and so do Backspace and Escape.
        self.click_directory("projects")
        self.assertEqual(self.view(), "projects")
        self.assertEqual(self.crumbs(), [[h.shown(t.root), ""], ["projects", "projects"]])
        root = self.js("return document.querySelector('#map > g > rect').getAttribute('width')")
        self.assertEqual(float(root), stage[0], "the zoomed directory fills the view")
        self.key("BACKSPACE")
        self.assertEqual(self.view(), "")
        self.click_directory("projects")
        self.click_directory("projects/quorvel")
        self.assertEqual(self.view(), "projects/quorvel")
        self.assertEqual([c[1] for c in self.crumbs()], ["", "projects", "projects/quorvel"])
        self.key("ESCAPE")
        self.assertEqual(self.view(), "projects")
        self.click_directory("projects/quorvel")
        self.js("document.querySelector('#crumbs button').click()")
        self.assertEqual(self.view(), "")

        # The table: the 20 largest below the view, largest first, sizes as -units writes them;
        # a row zooms there.
        rows = self.js("return Array.from(document.querySelectorAll('#largest tbody tr'))"
                       ".map(r => [r.dataset.path].concat("
                       "Array.from(r.cells).map(c => c.textContent)))")
        below = sorted((p for p in totals if p), key=lambda p: -totals[p])
        self.assertEqual([r[0] for r in rows], below[:20])
        for path, shown, total, own, files in rows:
            self.assertTrue(cut_of(shown, path.replace("/", SEP)), (shown, path))
            self.assertEqual((own, total), figures[path.split("/")[-1]], path)
        self.js("document.querySelector('#largest tbody tr[data-path=\"music\"]').click()")
        self.assertEqual(self.view(), "music")
        self.key("ESCAPE")

        # Hovering shows the path and the figures.
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.by import By
        rect = self.browser.driver.find_element(By.CSS_SELECTOR, '#map g[data-path="videos"] > rect')
        ActionChains(self.browser.driver).move_to_element(rect).perform()
        tip = self.js("const t = document.getElementById('tip'); return t.hidden ? null : t.innerText")
        self.assertIsNotNone(tip)
        self.assertIn(h.shown(t.root) + SEP + "videos", tip)
        for word in ("Total", "Own files", "Files"):
            self.assertIn(word, tip)
        self.assertNotIn("Wasted", tip, "-dir shows no wastage")

    def wait_for_size(self):
        """Waits until the map has been drawn again for the stage's new size."""
        end = time.time() + 10
        while time.time() < end:
            if self.js("const s = document.getElementById('stage');"
                       "const r = document.querySelector('#map > g > rect');"
                       "return r && +r.getAttribute('width') === s.clientWidth &&"
                       " +r.getAttribute('height') === s.clientHeight"):
                return
            time.sleep(0.05)
        raise AssertionError("the map did not follow the window")

    def test_the_map_follows_the_window_and_a_narrow_one_puts_the_panel_below(self):
        with home_tree() as t:
            _, path = make_page([h.arg(t.root)], "home-sizes.html")
        self.browser.open(path)
        for size in ((900, 700), (1300, 500)):
            self.browser.driver.set_window_size(*size)
            self.wait_for_size()
        self.browser.driver.set_window_size(600, 900)
        self.wait_for_size()
        below = self.js("return document.querySelector('aside').getBoundingClientRect().top >="
                        " document.getElementById('stage').getBoundingClientRect().bottom")
        self.assertTrue(below)
        tip = None
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.by import By
        rect = self.browser.driver.find_element(By.CSS_SELECTOR, '#map g[data-path="videos"] > rect')
        ActionChains(self.browser.driver).move_to_element(rect).perform()
        tip = self.js("return document.getElementById('tip').innerText")
        self.assertIn("Wasted", tip, "wastage without -dir")

    def test_hostile_names_stay_text(self):
        # Names that are markup, a comment, a line separator and bytes that are no UTF-8 must
        # reach the page as text: no element made from them, no script run, nothing in the
        # console (a refused inline handler would be reported there). On Linux the start
        # directory's own path also holds "</script><script>...</script>". Wine lists such
        # names but cannot open them: there they count as empty.
        hostile = ["<img src=x onerror=document.title='pwned'>", "<!-- open", "a\u2028b"]
        with h.Tree() as t:
            start = t.root if h.WINDOWS else \
                t.add("x</script><script>document.title='pwned'</script>")
            for name in hostile:
                os.mkdir(os.path.join(start, name))
                h.write_file(os.path.join(start, name, "f"), 300000)
            bad = os.path.join(start.encode(), b"bad\xff")
            os.mkdir(bad)
            h.write_file(os.path.join(bad, b"f"), 200000)
            page, path = make_page([h.arg(start)], "hostile.html", incomplete=h.WINDOWS)
        self.browser.open(path)
        self.assertEqual(self.js("return document.title"), h.shown(start) + " \u2014 Quorvel")
        self.assertEqual(self.js("return document.querySelectorAll('img').length"), 0)
        self.assertEqual(self.js("return document.scripts.length"), 2)
        listed = self.js("return Array.from(document.querySelectorAll('#largest tbody tr'))"
                         ".map(r => [r.dataset.path, r.title.slice(r.title.lastIndexOf(arguments[0]) + 1)])",
                         SEP)
        self.assertEqual(sorted(listed), sorted([n, n] for n in hostile + ["bad\ufffd"]))
        if not h.WINDOWS:
            drawn = {d["path"] for d in self.js(DRAWN)}
            self.assertLessEqual(set(hostile), drawn)
            self.assertEqual(self.crumbs()[0][0], h.shown(start))

    def test_growth_colours_legend_table_and_tooltip(self):
        # The growth a comparison with a saved scan will give each directory, through the
        # writer's seam: the unit test writes this page.
        path = os.path.join(h.BUILD, "e2e-page", "growth.html")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        unit = os.path.join(h.BUILD, "tests", "quorvel_unit_tests" + (".exe" if h.WINDOWS else ""))
        args = [unit, "--gtest_filter=Page.GrowthSampleWithHostileNames", "--gtest_brief=1"]
        env = dict(os.environ, QUORVEL_PAGE_SAMPLE=h.arg(path))
        if h.WINDOWS:
            args = [os.path.join(h.SOURCE, "tests", "e2e", "wine_run.sh"), h.BUILD] + args
        if os.path.exists(path):
            os.unlink(path)
        subprocess.run(args, env=env, stdout=subprocess.DEVNULL, check=True, timeout=300)
        self.browser.open(path)
        self.browser.driver.set_window_size(1000, 620)
        self.wait_for_size()
        self.browser.driver.save_screenshot(os.path.join(h.BUILD, "treemap-growth.png"))
        drawn = {d["path"]: d for d in self.js(DRAWN)}
        fresh = "hsl(42 95% 55%)"
        self.assertEqual(drawn["Videos"]["fill"], fresh)
        self.assertEqual(drawn["Pictures/2024"]["fill"], fresh)
        self.assertTrue(drawn[".cache/chromium"]["fill"].startswith("hsl(2 "), drawn[".cache/chromium"])
        self.assertTrue(drawn[".cache/pip"]["fill"].startswith("hsl(205 "), drawn[".cache/pip"])
        self.assertEqual(drawn["Music/Bach"]["fill"], "hsl(210 12% 86%)")
        self.assertEqual(drawn["Videos"]["title"], "Videos \u2014 1.2 G (new, 1.2 G)")
        self.assertEqual(drawn[".cache/pip"]["title"], "pip \u2014 22.0 M (-64.0 M)")
        self.assertNotIn("projects/website/old-site", drawn, "a gone directory has no area")
        legend = self.js("return document.getElementById('legend').innerText")
        for word in ("grew", "shrank", "new", "unchanged", "1 gone"):
            self.assertIn(word, legend)
        changes = self.js("return Array.from(document.querySelectorAll('#changes tbody tr'))"
                          ".map(r => [r.dataset.path, r.cells[1].textContent, r.cells[0].className])")
        self.assertEqual(changes[0][:2], ["Videos", "new, 1.2 G"])
        self.assertIn(["projects/website/old-site", "gone, -9.0 M", "gone"], changes)
        # The sample's hostile names: the title is the start directory's, nothing ran.
        self.assertEqual(self.js("return document.title"), "/home/ada \u2014 Quorvel")
        self.assertEqual(self.js("return document.querySelectorAll('img').length"), 0)
        script = "</script><script>document.title='pwned'</script>"
        self.assertIn(script, drawn)
        self.assertIn(script + "/<img src=x onerror=\"document.title='pwned'\">", drawn)
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.by import By
        rect = self.browser.driver.find_element(By.CSS_SELECTOR, '#map g[data-path=".cache/pip"] > rect')
        ActionChains(self.browser.driver).move_to_element(rect).perform()
        self.assertIn("Growth\n-64.0 M", self.js("return document.getElementById('tip').innerText"))

        # A moved directory (change 3, which the program cannot write yet) and files, edited in:
        # a file in the moved directory takes its colour, another its type's.
        with open(path, "rb") as f:
            data = data_of(f.read())
        at = paths_of(data).index("Music/Coltrane")
        data["c"][at], data["g"][at] = 3, 0
        data.update(fn=["take1.flac", "suite.flac"], fs=[200 << 20, 150 << 20],
                    fd=[at, paths_of(data).index("Music/Bach")])
        text = json.dumps(data).replace("<", "\\u003c").replace(">", "\\u003e").replace("&", "\\u0026")
        head, tail = template()
        with open(path, "wb") as f:
            f.write(head + text.encode() + tail)
        self.browser.open(path)
        drawn = {d["path"]: d for d in self.js(DRAWN)}
        moved = "hsl(285 42% 66%)"
        self.assertEqual((drawn["Music/Coltrane"]["fill"], drawn["Music/Coltrane"]["title"]),
                         (moved, "Coltrane \u2014 260.0 M (moved)"))
        tiles = {f["path"]: f for f in self.js(FILES)}
        self.assertEqual(tiles["Music/Coltrane/take1.flac"]["fill"], moved)
        self.assertEqual(tiles["Music/Coltrane/take1.flac"]["title"], "take1.flac \u2014 200.0 M (moved)")
        self.assertEqual(tiles["Music/Bach/suite.flac"]["fill"], "hsl(188 60% 46%)")
        self.assertIn("moved", self.js("return document.getElementById('legend').innerText"))

    def test_a_move_and_the_files_behind_the_growth_from_the_program(self):
        # lib/fp moved to fp2, new.bin came, old.txt went since the saved scan.
        t = h.Tree({"lib/fp/a.js": 40960, "lib/x": 4096, "old.txt": 20480})
        try:
            dump = os.path.join(t.base, "old.json")
            self.assertEqual(h.run(["-p", "-save=" + h.arg(dump), h.arg(t.root)]).returncode, 0)
            os.rename(t.path("lib/fp"), t.path("fp2"))
            h.write_file(t.path("new.bin"), 102400)
            os.unlink(t.path("old.txt"))
            _, path = make_page(["-since=" + h.arg(dump), h.arg(t.root)], "moved.html")
        finally:
            t.__exit__()
        self.browser.open(path)
        drawn = {d["path"]: d for d in self.js(DRAWN)}
        self.assertEqual(drawn["fp2"]["fill"], "hsl(285 42% 66%)")
        rows = self.js("return Array.from(document.querySelectorAll('#file-changes tbody tr'))"
                       ".map(r => Array.from(r.cells).map(c => c.textContent))")
        self.assertEqual(rows, [["new.bin", "new", "100.0 K"], ["old.txt", "gone", "20.0 K"]])

    def test_a_zoom_gives_the_view_its_figures_paths_keep_their_end_and_a_leaf_says_so(self):
        # The header kept the whole tree's figures after a zoom; paths of the panel were cut at
        # the end, where the names differ; a view without subdirectories showed an empty table.
        scope = "web/node_modules/@a-scope-with-a-rather-long-name/node_modules/"
        with h.Tree() as t:
            for name, size in (("package-one", 300000), ("package-two", 200000)):
                t.add(scope + name + "/index.js", size)
            _, path = make_page([h.arg(t.root)], "zoom.html")
        self.browser.open(path)
        rows = self.js("return Array.from(document.querySelectorAll('#largest tbody tr')).map(r =>"
                       " [r.dataset.path, r.cells[0].textContent, r.title,"
                       "  r.cells[0].scrollWidth <= r.cells[0].clientWidth])")
        for rel, text, title, fits in rows:
            self.assertTrue(cut_of(text, rel.replace("/", SEP)) and fits, (rel, text))
            self.assertEqual(title, h.shown(t.root) + SEP + rel.replace("/", SEP))
        self.assertTrue(any("\u2026" in r[1] for r in rows), rows)
        self.click_directory("web")
        size = {d["path"]: d["title"].split(" \u2014 ")[1] for d in self.js(DRAWN)}["web"]
        facts = self.js("return document.getElementById('facts').textContent")
        self.assertTrue(facts.startswith(size + " in 2 files and 6 directories"), facts)
        self.js("document.querySelector('#largest tbody tr[data-path$=\"package-one\"]').click()")
        self.assertTrue(self.js("return document.getElementById('largest').hidden"))
        self.assertEqual(self.js("return document.getElementById('no-subdirectories').innerText"),
                         "No subdirectories here.")

    def test_files_of_a_dump_drawn_by_type_down_to_one_2000th_of_the_start(self):
        # Lengths (-dir) that make the start's total 86,000,000: at.jpg is exactly 1/2,000 of it,
        # below.png a byte less, which stays in its directory's remainder.
        files = {"archive.tar.gz": 40000000, "media/clip.mkv": 30000000, "bin/tool": 10000000,
                 "lib/libz.so.1.2.13": 5000000, "notes.txt": 914001, "media/stills/at.jpg": 43000,
                 "media/stills/below.png": 42999}
        kinds = {"archive.tar.gz": "archives", "media/clip.mkv": "video", "media/stills/at.jpg": "images",
                 "bin/tool": "executables and libraries", "notes.txt": "documents",
                 "lib/libz.so.1.2.13": "executables and libraries"}
        with h.Tree() as t:
            for rel, size in files.items():
                t.add(rel, size, sparse=True)
            dump = h.arg(os.path.join(t.base, "dump.json"))
            self.assertEqual(h.run(["-save=" + dump, h.arg(t.root)]).returncode, 0)
            page, path = make_page(["-from=" + dump, "-dir"], "files.html")
            shaped, _ = make_page(["-from=" + dump, "-dir", "-1"], "files-shaped.html")
        data = data_of(page)
        self.assertEqual((data["t"][0], sorted(data["fn"])),
                         (86000000, sorted(os.path.basename(rel) for rel in kinds)))
        self.assertNotIn("fn", data_of(shaped), "a tree shaped by depth keeps no files")
        self.browser.open(path)
        tiles = {f["path"]: f for f in self.js(FILES)}
        self.assertEqual(set(tiles), set(kinds) - {"media/stills/at.jpg"}, "too small to draw")
        legend = self.js("return document.querySelector('#legend .files').innerText")
        for rel, tile in tiles.items():
            self.assertIn(kinds[rel], legend)
            self.assertEqual(tile["fill"], TYPE_COLOUR[kinds[rel]], rel)
        self.assertEqual(tiles["archive.tar.gz"]["title"], "archive.tar.gz \u2014 38.1 M")
        area = {rel: f["w"] * f["h"] for rel, f in tiles.items()}
        self.assertAlmostEqual(area["archive.tar.gz"] / area["notes.txt"] * 0.914001, 40, delta=0.5)
        self.js("document.querySelector('#largest tbody tr[data-path=\"media/stills\"]').click()")
        tiles = [(f["path"], f["fill"], f["w"] * f["h"]) for f in self.js(FILES)]
        self.assertEqual(tiles[0][:2], ("media/stills/at.jpg", TYPE_COLOUR["images"]))
        self.assertEqual(len(tiles), 1)
        self.assertGreater(tiles[0][2], self.js(DRAWN)[0]["w"] * self.js(DRAWN)[0]["h"] * 0.45)

    def test_the_policy_refuses_any_other_script_and_every_html_sink(self):
        # The page's own script and style run by their digests; a script that is not the
        # page's (as a name could try to become) is refused and reported, and assigning HTML
        # text throws.
        with home_tree() as t:
            page, _ = make_page([h.arg(t.root)])
        path = os.path.join(h.BUILD, "e2e-page", "injected.html")
        with open(path, "wb") as f:
            f.write(page.replace(b"</body>", b"<script>document.title='ran'</script></body>"))
        self.browser.open(path)
        self.assertNotEqual(self.js("return document.title"), "ran")
        refused = [e for e in self.browser.log() if "Content Security Policy" in e["message"]]
        self.assertTrue(refused, "no report of the refused script")
        sink = self.js("try { document.getElementById('facts').innerHTML = '<b>x</b>';"
                       " return 'assigned'; } catch (e) { return e.name; }")
        self.assertEqual(sink, "TypeError")
        self.browser.log()  # the refusals asked for above are no console errors of the page

    def test_a_tree_of_20000_directories(self):
        # The whole tree is data, at most 150 bytes a directory; only rectangles of a few
        # pixels are drawn. The time to load and draw is printed, not asserted.
        with h.Tree() as t:
            for a in range(20):
                for b in range(20):
                    base = os.path.join(t.root, "module-%02d" % a, "package-%02d" % b)
                    for c in range(49):
                        os.makedirs(os.path.join(base, "src-%02d" % c))
                    h.write_file(os.path.join(base, "index.js"), 1000 * (a + 1) * (b + 1))
            count = 1 + 20 * (1 + 20 * (1 + 49))
            page, path = make_page([h.arg(t.root)], "big.html")
        data = data_of(page)
        self.assertEqual(len(data["n"]), count)
        self.assertGreaterEqual(count, 20000)
        self.assertLessEqual(len(page), 150 * count, "%.1f bytes a directory" % (len(page) / count))
        ms = self.browser.open(path)
        drawn = self.js("return document.querySelectorAll('#map g[data-path]').length")
        self.assertLess(drawn, count)
        sys.stderr.write("%d directories: %d bytes (%.1f a directory), %d drawn, loaded and drawn "
                         "in %d ms\n" % (count, len(page), len(page) / count, drawn, ms))


def main():
    result = unittest.main(verbosity=1, exit=False).result
    if not result.wasSuccessful():
        sys.exit(1)
    if MISSING:
        sys.stderr.write("SKIPPED: the browser tests need %s\n" % ", ".join(MISSING))
        sys.exit(SKIPPED)
    sys.exit(0)


if __name__ == "__main__":
    main()
