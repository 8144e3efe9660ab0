# SPDX-License-Identifier: GPL-2.0-or-later
"""The dock's Scenes and Sources tabs as a user sees them, read off the screen with OCR.

The same two OBS runs as scripts/run-obs (run_main_job.run_with_tab), in one throwaway HOME with the
self-test on:
  scenes   main_dock_tab 0 in config.json before OBS starts; the self-test generates its four
           vertical scenes and makes selftest-stacked current;
  sources  main_dock_tab 1; the scenes come back from the saved collection.

Each screenshot is cut down to the dock's part below its preview pane (found through the window
tree, as test_preview.py finds the dock). The checked tab button and the selected list row are
bands of the highlight colour there; the tab button's text and the list below the tab bar are read
with tesseract (upscaled three times and inverted, since the text is light on dark). OCR may
misread a letter or add noise for icons, so names are compared case-blind, with easily confused
glyphs merged and a small edit distance allowed, and they need only appear in the right order.
The program marker ("●") is checked by its place rather than by OCR, which reads it as "@" here but
could as well drop it: a glyph stands left of the current scene's name, which starts further right
than the other names. When a check fails, the screenshot, the crops, the OCR output and the window
tree are saved in the working directory as docks-<tab>-*.
"""

import contextlib
import os
import re
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

import obsharness as h  # noqa: E402
import run_main_job  # noqa: E402
from e2ecase import ObsTestCase, main  # noqa: E402

LOAD_TIMEOUT = 60
SECONDS = 4.0  # after the module loaded; the screenshot also waits for the preview to settle
SCALE = 3  # tesseract reads the dock's small text far better enlarged
OCR_TIMEOUT = 60
MIN_BOTTOM_PANE = 60  # px: the tab bar, a row and the button bar at least
MIN_BAND_PIXELS = 12  # highlight pixels in a screen row that make it part of a band

SCENES = ["selftest-crop", "selftest-fit", "selftest-stacked", "selftest-thirds"]
CURRENT_SCENE = "selftest-stacked"
ITEMS = ["selftest-color", "Scene", "Stilwane BG - selftest-stacked"]  # top first, as the dock lists them
SELECTED_ITEM = "selftest-color"  # the self-test selects the topmost unlocked item
TABS = {"scenes": "Scenes", "sources": "Sources"}


def is_highlight(p):
    # The theme's selection blue (40, 76, 184 in OBS's default theme); light text on it and the
    # greys around it are far less saturated.
    r, g, b = p
    return b >= 150 and b - r >= 100 and b - g >= 70


def is_ink(p):
    return min(p) >= 170


# -- text comparison -------------------------------------------------------------------------------

_CONFUSED = str.maketrans({"i": "l", "1": "l", "|": "l", "!": "l", "0": "o", "\u2014": "-", "\u2013": "-"})


def normalise(text):
    return re.sub(r"\s+", "", text.lower().translate(_CONFUSED))


def levenshtein(a, b):
    row = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        prev, row[0] = row[0], i
        for j, cb in enumerate(b, 1):
            prev, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, prev + (ca != cb))
    return row[-1]


def tolerance(name):
    return max(1, len(normalise(name)) // 8)


def find_in(name, text):
    """(distance, start, end) of the substring of the normalised text closest to the normalised name."""
    pattern = normalise(name)
    tol = tolerance(name)
    best = None
    for start in range(len(text)):
        for length in range(max(1, len(pattern) - tol), len(pattern) + tol + 1):
            if start + length > len(text):
                break
            d = levenshtein(pattern, text[start:start + length])
            if best is None or d < best[0]:
                best = (d, start, start + length)
    return best


# -- OCR -------------------------------------------------------------------------------------------


class OcrLine:
    """One line of tesseract's TSV output, its word boxes in screen pixels."""

    def __init__(self):
        self.words = []  # (text, x, y, w, h)

    @property
    def text(self):
        return " ".join(w[0] for w in self.words)

    @property
    def top(self):
        return min(w[2] for w in self.words)

    @property
    def bottom(self):
        return max(w[2] + w[4] for w in self.words)

    def normalised(self):
        """The normalised text (without spaces) and, for each of its characters, the word it is from."""
        chars, owners = [], []
        for index, word in enumerate(self.words):
            n = normalise(word[0])
            chars.append(n)
            owners += [index] * len(n)
        return "".join(chars), owners

    def match(self, name):
        """(distance, x of the screen where the match starts, normalised text before it) or None."""
        text, owners = self.normalised()
        found = find_in(name, text)
        if found is None or found[0] > tolerance(name):
            return None
        d, start, _ = found
        word = self.words[owners[start]]
        # A match starting inside a word: estimate its x from the word's characters.
        first = owners.index(owners[start])
        x = word[1] + word[3] * (start - first) // max(1, len(normalise(word[0])))
        return d, x, text[:start]

    def __repr__(self):
        return "%r at y %d-%d" % (self.text, self.top, self.bottom)


def prepare(png, rect, out):
    """Crops the rectangle, saves it, and saves the crop enlarged and inverted for tesseract."""
    x, y, w, hh = rect
    crop = out + ".png"
    prepared = out + "-ocr.png"
    for args, dst in (([png, "-crop", "%dx%d+%d+%d" % (w, hh, x, y), "+repage"], crop),
                      ([crop, "-colorspace", "Gray", "-resize", "%d%%" % (SCALE * 100), "-negate"], prepared)):
        r = subprocess.run(["convert"] + args + [dst], capture_output=True, timeout=OCR_TIMEOUT)
        if r.returncode != 0:
            raise h.HarnessError("convert failed: %s" % r.stderr.decode(errors="replace").strip())
    return crop, prepared


def tesseract(image, psm, tsv):
    args = ["tesseract", image, "-", "--psm", str(psm)] + (["tsv"] if tsv else [])
    r = subprocess.run(args, capture_output=True, timeout=OCR_TIMEOUT)
    if r.returncode != 0:
        raise h.HarnessError("tesseract failed: %s" % r.stderr.decode(errors="replace").strip())
    return r.stdout.decode(errors="replace")


def ocr_lines(tsv, origin):
    """The lines of tesseract's TSV output, with boxes mapped back to the screen."""
    ox, oy = origin
    lines = {}
    for row in tsv.splitlines()[1:]:
        cols = row.split("\t")
        if len(cols) < 12 or cols[0] != "5" or not cols[11].strip():
            continue
        key = tuple(int(c) for c in cols[1:5])  # page, block, paragraph, line
        left, top, width, height = (int(c) for c in cols[6:10])
        lines.setdefault(key, OcrLine()).words.append(
            (cols[11].strip(), ox + left // SCALE, oy + top // SCALE, max(1, width // SCALE), max(1, height // SCALE)))
    return sorted(lines.values(), key=lambda line: line.top)


# -- what the screenshot shows ---------------------------------------------------------------------


class DockView:
    """The part of one screenshot below the dock's preview pane, read."""

    def __init__(self, tab, png, tree_text, workdir):
        self.tab = tab
        self.png = png
        self.tree_text = tree_text
        self.files = {"screenshot": png}
        self.texts = {}
        tree = h.parse_window_tree(tree_text)
        self.dock = tree.find(h.DOCK_TITLE)
        if self.dock is None:
            raise AssertionError("no window titled %r on the screen" % h.DOCK_TITLE)
        self.pane = self.bottom_pane(self.dock)
        image = h.RgbImage.load(png)
        self.bands = highlight_bands(image, self.pane)
        if not self.bands:
            raise AssertionError("no highlighted tab below the dock's preview pane %s" % (self.pane,))
        self.tab_band = self.bands[0]
        self.row_bands = self.bands[1:]
        base = os.path.join(workdir, "docks-%s" % tab)

        crop, prepared = prepare(png, self.tab_band, base + "-tab")
        self.files.update({"tab crop": crop, "tab crop for OCR": prepared})
        self.tab_text = tesseract(prepared, 7, tsv=False).strip()
        self.texts["tab"] = self.tab_text

        x, y, w, hh = self.pane
        top = self.tab_band[1] + self.tab_band[3]
        self.list_rect = (x, top, w, y + hh - top)
        crop, prepared = prepare(png, self.list_rect, base + "-list")
        self.files.update({"list crop": crop, "list crop for OCR": prepared})
        tsv = tesseract(prepared, 6, tsv=True)
        self.texts["list-tsv"] = tsv
        self.lines = ocr_lines(tsv, self.list_rect[:2])
        self.texts["list"] = "\n".join(line.text for line in self.lines)
        self.image = image

    @staticmethod
    def bottom_pane(dock):
        """(x, y, w, h) of the dock below its preview pane: the tab bar, the tab's page and its buttons.

        The preview pane is the outermost window around the preview display that still ends well
        above the dock's bottom; the tabs' part of the splitter has no window of its own.
        """
        displays = h.drawing_windows(dock)
        if not displays:
            raise AssertionError("no preview display in the dock %r" % dock)
        pane = displays[0]
        limit = dock.y + dock.height - MIN_BOTTOM_PANE
        while pane.parent is not None and pane.parent is not dock and pane.parent.y + pane.parent.height <= limit:
            pane = pane.parent
        top = pane.y + pane.height
        return (dock.x, top, dock.width, dock.y + dock.height - top)

    def find_names(self, names):
        """[(name, line, match)] for each name, in order on lines below each other; fails when one is missing."""
        found = []
        start = 0
        for name in names:
            for index in range(start, len(self.lines)):
                m = self.lines[index].match(name)
                if m:
                    found.append((name, self.lines[index], m))
                    start = index + 1
                    break
            else:
                raise AssertionError("%r is not among the lines the OCR read (in this order: %s) after %r:\n  %s"
                                     % (name, names, found[-1][0] if found else "the tab bar",
                                        "\n  ".join(map(repr, self.lines))))
        return found

    def row_band_of(self, line):
        """The highlighted list row holding the line's middle, or None."""
        middle = (line.top + line.bottom) // 2
        return next((b for b in self.row_bands if b[1] <= middle < b[1] + b[3]), None)

    def ink_between(self, x0, x1, y0, y1):
        return sum(1 for y in range(y0, y1) for x in range(x0, x1) if is_ink(self.image.pixel(x, y)))


def highlight_bands(image, rect):
    """[(x, y, w, h)] of the runs of screen rows in the rectangle with highlight pixels, top first."""
    x, y, w, hh = rect
    bands = []
    current = None
    for row in range(y, y + hh):
        xs = [c for c in range(x, x + w) if is_highlight(image.pixel(c, row))]
        if len(xs) >= MIN_BAND_PIXELS:
            if current is None:
                current = [min(xs), row, max(xs), row]
                bands.append(current)
            else:
                current[0], current[2], current[3] = min(current[0], xs[0]), max(current[2], xs[-1]), row
        else:
            current = None
    return [(b[0], b[1], b[2] - b[0] + 1, b[3] - b[1] + 1) for b in bands]


class Docks(ObsTestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = h.Session(module=True)
        cls.records = {}
        cls.views = {}
        cls.view_errors = {}

        def make(name, tab):
            def phase():
                png = os.path.join(cls.session.home.path, "docks-%s.png" % name)
                rec = cls.records[name] = run_main_job.run_with_tab(cls.session, name, tab, png, SECONDS, LOAD_TIMEOUT)
                if rec.failures or not rec.screenshot or not rec.tree_text:
                    raise h.HarnessError("the %s run: %s\n%s" % (name, "; ".join(rec.failures + rec.warnings),
                                                                 rec.run.describe()))
            return phase

        sources = make("sources", 1)
        sources.needs = ("scenes",)
        try:
            cls.run_phases([("scenes", make("scenes", 0)), ("sources", sources)])
        except BaseException:
            cls.session.close()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    # -- helpers -----------------------------------------------------------------------------------

    def view(self, tab):
        self.need(tab)
        if tab not in self.views and tab not in self.view_errors:
            rec = self.records[tab]
            try:
                self.views[tab] = DockView(tab, rec.screenshot, rec.tree_text, self.session.home.path)
            except AssertionError as exc:
                self.view_errors[tab] = str(exc)
        if tab in self.view_errors:
            with self.evidence(tab):
                self.fail(self.view_errors[tab])
        return self.views[tab]

    @contextlib.contextmanager
    def evidence(self, tab):
        """Copies the screenshot, the crops, the OCR output and the window tree next to the test's
        output when the block fails."""
        try:
            yield
        except AssertionError as exc:
            rec = self.records.get(tab)
            view = self.views.get(tab)
            base = os.path.join(os.getcwd(), "docks-%s" % tab)
            kept = []
            try:
                files = dict(view.files) if view else {"screenshot": rec.screenshot} if rec and rec.screenshot else {}
                for what, path in files.items():
                    dst = os.path.join(os.getcwd(), os.path.basename(path))
                    if os.path.abspath(path) != os.path.abspath(dst):
                        shutil.copyfile(path, dst)
                    kept.append(dst)
                texts = dict(view.texts) if view else {}
                if rec and rec.tree_text:
                    texts["windows"] = rec.tree_text
                for what, text in texts.items():
                    path = "%s-%s.txt" % (base, what)
                    with open(path, "w") as f:
                        f.write(text)
                    kept.append(path)
                where = "kept: " + ", ".join(kept)
            except OSError as err:
                where = "could not keep the evidence: %s" % err
            raise AssertionError("%s\n%s" % (exc, where)) from None

    def assertRunClean(self, tab):
        self.need(tab)
        self.assertCleanExit(self.records[tab].run)

    def assertTabKept(self, tab, value):
        self.need(tab)
        rec = self.records[tab]
        self.assertIsNotNone(rec.config, "no config.json after the %s run" % tab)
        self.assertEqual(rec.config.get("main_dock_tab"), value,
                         "config.json's main_dock_tab after the %s run, written as %d before OBS started"
                         % (tab, value))

    def assertTabShown(self, tab):
        view = self.view(tab)
        with self.evidence(tab):
            want = TABS[tab]
            got = normalise(view.tab_text)
            self.assertLessEqual(levenshtein(normalise(want), got), tolerance(want), "the highlighted tab button %s "
                                 "reads %r, not %r" % (view.tab_band, view.tab_text, want))

    def assertSelectedRow(self, tab, name, found):
        """The one highlighted list row is the row of the name."""
        view = self.view(tab)
        line = next(line for n, line, _ in found if n == name)
        self.assertEqual(len(view.row_bands), 1, "highlighted list rows %s (want one, at %r)" % (view.row_bands, line))
        if view.row_band_of(line) is None:
            self.fail("the highlighted row %s is not the row of %r (%r)" % (view.row_bands[0], name, line))
        return line

    # -- the Scenes tab ----------------------------------------------------------------------------

    def test_01_scenes_run_ends_cleanly(self):
        self.assertRunClean("scenes")

    def test_02_scenes_tab_kept_in_config(self):
        self.assertTabKept("scenes", 0)

    def test_03_scenes_tab_is_open(self):
        self.assertTabShown("scenes")

    def test_04_scenes_listed_in_order(self):
        view = self.view("scenes")
        with self.evidence("scenes"):
            view.find_names(SCENES)

    def test_05_current_scene_selected(self):
        view = self.view("scenes")
        with self.evidence("scenes"):
            self.assertSelectedRow("scenes", CURRENT_SCENE, view.find_names(SCENES))

    def test_06_program_marker_before_the_current_scene(self):
        view = self.view("scenes")
        with self.evidence("scenes"):
            found = {n: (line, m) for n, line, m in view.find_names(SCENES)}
            line, (_, current_x, _) = found[CURRENT_SCENE]
            starts = [m[1] for n, (_, m) in found.items() if n != CURRENT_SCENE]
            # The marker and its space push the current scene's name right of where the others start.
            self.assertGreaterEqual(current_x - max(starts), 6, "the name %r starts at x %d, the other names at %s: "
                                    "no room for the program marker before it" % (CURRENT_SCENE, current_x, starts))
            for n, (other, m) in found.items():
                ink = view.ink_between(min(starts), m[1] - 2, other.top, other.bottom)
                if n == CURRENT_SCENE:
                    self.assertGreaterEqual(ink, 6, "no program marker left of %r (%d light pixels between x %d "
                                            "and %d)" % (n, ink, min(starts), m[1] - 2))
                else:
                    self.assertLess(ink, 6, "something stands left of %r, which is not the current scene" % n)

    # -- the Sources tab ---------------------------------------------------------------------------

    def test_07_sources_run_ends_cleanly(self):
        self.assertRunClean("sources")

    def test_08_sources_tab_kept_in_config(self):
        self.assertTabKept("sources", 1)

    def test_09_sources_tab_is_open(self):
        self.assertTabShown("sources")

    def test_10_items_of_the_current_scene_listed_top_first(self):
        view = self.view("sources")
        with self.evidence("sources"):
            view.find_names(ITEMS)

    def test_11_selected_item_highlighted(self):
        view = self.view("sources")
        with self.evidence("sources"):
            self.assertSelectedRow("sources", SELECTED_ITEM, view.find_names(ITEMS))


if __name__ == "__main__":
    main()
