# SPDX-License-Identifier: GPL-2.0-or-later
"""The vertical preview in the main dock, judged by the pixels a user sees on the screen, and the guide
image the module exports for STILWANE_GUIDE_PNG.

One OBS run in a fresh HOME with the self-test on, which makes "selftest-stacked" current: a dark
background (20,20,20), OBS's main scene scaled to the full width at the top (its blue 640x360 colour
source at the main picture's top-left, 360x202.5 canvas pixels) and the blue colour source at full
width in the band y = 960..1567.5. Two screen grabs:
  docked  about 2 s after the switch to selftest-stacked (a 300 ms fade), once the preview no longer
          changes: the dock on the right of OBS's main window, the picture in the preview display;
  short   after the user makes OBS's main window short: the preview display is then wider than the
          portrait picture, which must sit centred with the display's grey on both sides.

The preview display is found in the X window tree (a window in the dock that libobs draws into)
and the picture's place in it with the preview's own letterbox arithmetic; every check samples a
grid of canvas points, because the safe-area guides and the phone mock-up (on by default) draw
semi-transparent shapes over parts of the picture. When a check fails, its screen grab and window
tree are saved in the working directory as preview-<grab>.png and preview-<grab>-windows.txt.
"""

import contextlib
import os
import shutil
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

import obsharness as h  # noqa: E402
from e2ecase import ObsTestCase, main  # noqa: E402

START_TIMEOUT = 60
SELFTEST_TIMEOUT = 30
GEOMETRY_TIMEOUT = 15
SETTLE_SECONDS = 2.0
CANVAS = (1080, 1920)
CURRENT = "selftest-stacked"
BLUE = (26, 138, 224)  # selftest-color, 0xFFE08A1A in libobs's ABGR
GUIDE_BACKGROUND = (70, 110, 160)
SHORT_HEIGHT = 620  # the main window's height in the short grab: too short for the whole portrait picture

SELFTEST_DONE_RE = r"\[stilwane\]\[selftest\] vertical scenes: (\d+), current '([^']*)'$"
SWITCH_RE = r"\[stilwane\] vertical transition '[^']*' \([^)]*\) \d+ ms -> '%s'"
GUIDE_RE = r"\[stilwane\] guide image (saved|failed): (.*)$"

# Columns of the sample grids sit between the thirds (canvas x 360 and 720), where guide lines run.
GRID_X = range(90, 1080, 120)


def is_blue(p):
    r, g, b = p
    return b > 150 and b > r + 80


def is_dark(p):
    # Darker than the display's grey (43), which the picture's background must not be mistaken for.
    return max(p) <= 35


def is_background(p):
    return all(abs(c - v) <= 3 for c, v in zip(p, h.DISPLAY_BACKGROUND))


def near(p, q, tolerance):
    return all(abs(a - b) <= tolerance for a, b in zip(p, q))


class Preview(ObsTestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = h.Session(module=True)
        cls.guide_png = os.path.join(cls.session.home.path, "guides.png")
        cls.grabs = {}

        def start():
            cls.obs = cls.session.start_obs(env={"STILWANE_SELFTEST": "1", "STILWANE_GUIDE_PNG": cls.guide_png})
            cls.obs.wait_module_loaded(START_TIMEOUT)
            cls.obs.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
            cls.obs.wait_log(SELFTEST_DONE_RE, SELFTEST_TIMEOUT)
            cls.obs.wait_log(GUIDE_RE, SELFTEST_TIMEOUT)

        def docked():
            cls.obs.wait_log(SWITCH_RE % CURRENT, SELFTEST_TIMEOUT)
            time.sleep(SETTLE_SECONDS)
            cls.grabs["docked"] = cls.capture("docked")

        docked.needs = ("start",)

        def short():
            main_window = cls.session.window_tree().find_main()
            if main_window is None:
                raise h.HarnessError("no OBS main window on the screen")
            before = cls.grabs["docked"]["display"]
            cls.session.resize_window(main_window.id, main_window.width, SHORT_HEIGHT)
            # The layout follows the new size a moment later.
            deadline = time.monotonic() + GEOMETRY_TIMEOUT
            while True:
                display = cls.preview_display(cls.session.window_tree())
                if display is not None and (before is None or display.rect != before.rect):
                    break
                if time.monotonic() > deadline:
                    raise h.HarnessError("the preview display kept its geometry %s after the main window was "
                                         "made %d px high\n%s" % (before, SHORT_HEIGHT, cls.session.windows()))
                time.sleep(0.2)
            time.sleep(SETTLE_SECONDS)
            cls.grabs["short"] = cls.capture("short")

        short.needs = ("docked",)

        def stop():
            cls.obs.stop()

        stop.needs = ("start",)

        try:
            cls.run_phases([("start", start), ("docked", docked), ("short", short), ("stop", stop)])
        except BaseException:
            cls.session.close()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    @staticmethod
    def preview_display(tree):
        dock = tree.find(h.DOCK_TITLE)
        found = h.drawing_windows(dock) if dock else []
        return found[0] if found else None

    @classmethod
    def capture(cls, name):
        """Grabs the screen once the preview settled; keeps the grab, the window tree and the display."""
        png = os.path.join(cls.session.home.path, "preview-%s.png" % name)
        for _ in range(3):
            tree_text = cls.session.windows()
            display = cls.preview_display(h.parse_window_tree(tree_text))
            # Without a display there is nothing to wait for; the grab still shows what the user sees.
            rect = display.rect if display else (0, 0, 1, 1)
            image = cls.session.grab_settled(rect, png=png)
            after = cls.preview_display(cls.session.window_tree())
            if (after and after.rect) == (display and display.rect):
                break
        tree = h.parse_window_tree(tree_text)
        dock = tree.find(h.DOCK_TITLE)
        return {
            "png": png,
            "tree_text": tree_text,
            "tree": tree,
            "image": image,
            "dock": dock,
            "display": display,
            "viewable": bool(display) and cls.session.viewable(display.id),
            "dock_viewable": bool(dock) and cls.session.viewable(dock.id),
        }

    # -- helpers -----------------------------------------------------------------------------------

    @contextlib.contextmanager
    def evidence(self, name):
        """Saves the grab and the window tree next to the test's output when the block fails."""
        try:
            yield
        except AssertionError as exc:
            grab = self.grabs.get(name)
            if not grab:
                raise
            base = os.path.join(os.getcwd(), "preview-%s" % name)
            try:
                shutil.copyfile(grab["png"], base + ".png")
                with open(base + "-windows.txt", "w") as f:
                    f.write(grab["tree_text"])
                where = "screen grab %s.png, window tree %s-windows.txt" % (base, base)
            except OSError as err:
                where = "could not save the screen grab: %s" % err
            raise AssertionError("%s\n%s" % (exc, where)) from None

    def grab(self, name):
        self.need(name)
        grab = self.grabs[name]
        if grab["display"] is None:
            self.fail("no preview display in the dock %r; windows:\n%s" % (grab["dock"], grab["tree_text"]))
        if not grab["viewable"]:
            self.fail("the preview display %r is not visible" % grab["display"])
        return grab

    def screen_point(self, picture, cx, cy):
        """The screen pixel showing the canvas pixel (cx, cy) in the picture rectangle."""
        x, y, w, hh = picture
        return x + int((cx + 0.5) * w / CANVAS[0]), y + int((cy + 0.5) * hh / CANVAS[1])

    def assertRegion(self, grab, what, xs, ys, predicate, share=0.75):
        """At least `share` of the canvas points (xs x ys) must satisfy the predicate on the screen."""
        picture = h.letterbox(grab["display"].rect, *CANVAS)
        samples = []
        for cy in ys:
            for cx in xs:
                sx, sy = self.screen_point(picture, cx, cy)
                samples.append(((cx, cy), (sx, sy), grab["image"].pixel(sx, sy)))
        good = [s for s in samples if predicate(s[2])]
        if len(good) < share * len(samples):
            bad = ["canvas %s screen %s %s" % s for s in samples if not predicate(s[2])]
            self.fail("%s: %d of %d sampled pixels as expected, want %d%%; picture on screen %s in display %r; "
                      "the others:\n  %s" % (what, len(good), len(samples), share * 100, picture, grab["display"],
                                             "\n  ".join(bad[:25])))
        return samples

    def assertPicture(self, grab):
        self.assertRegion(grab, "the main scene's blue source at the top left", range(40, 340, 40),
                          range(30, 190, 30), is_blue)
        self.assertRegion(grab, "the main scene's empty part, right of its source", range(480, 1080, 80),
                          range(300, 600, 40), is_dark)
        self.assertRegion(grab, "the dark background between the main picture and the band", GRID_X,
                          range(650, 930, 45), is_dark)
        band = self.assertRegion(grab, "the blue colour source in the band below", GRID_X,
                                 range(1000, 1520, 50), is_blue)
        # The overlays tint parts of the band; where none lies, the source's own colour must show.
        closest = min(band, key=lambda s: max(abs(a - b) for a, b in zip(s[2], BLUE)))
        self.assertTrue(near(closest[2], BLUE, 8), "no pixel of the band shows the source's colour %s; the "
                        "closest: %s at screen %s" % (BLUE, closest[2], closest[1]))
        self.assertRegion(grab, "the dark background below the band", GRID_X, range(1600, 1710, 25), is_dark)

    def bars(self, grab):
        """{side: (x, y, w, h)} of the display's parts outside the letterboxed picture (empty ones left out)."""
        x, y, w, hh = grab["display"].rect
        px, py, pw, ph = h.letterbox(grab["display"].rect, *CANVAS)
        sides = {
            "left": (x, y, px - x, hh),
            "right": (px + pw, y, x + w - px - pw, hh),
            "top": (x, y, w, py - y),
            "bottom": (x, py + ph, w, y + hh - py - ph),
        }
        return {k: r for k, r in sides.items() if r[2] > 0 and r[3] > 0}

    def assertBarsBackground(self, grab, bars):
        image = grab["image"]
        for side, (x, y, w, hh) in bars.items():
            wrong = []
            for sy in range(y, y + hh, max(1, hh // 40)):
                for sx in range(x, x + w, max(1, w // 12)):
                    p = image.pixel(sx, sy)
                    if not is_background(p):
                        wrong.append("%s at (%d, %d)" % (p, sx, sy))
            self.assertEqual(wrong[:20], [], "the %s bar %s of the display %r is not the display's background %s"
                             % (side, (x, y, w, hh), grab["display"], h.DISPLAY_BACKGROUND))

    # -- the guide image ---------------------------------------------------------------------------

    def test_01_guide_image_saved(self):
        self.need("start")
        lines = h.re.findall(GUIDE_RE, self.obs.log_text(), h.re.M)
        self.assertEqual(lines, [("saved", self.guide_png)], self.obs.describe())
        size = h.png_size(self.guide_png)
        self.assertEqual(size, CANVAS, "the guide image's size (None: not a PNG)")
        image = h.RgbImage.load(self.guide_png)
        points = [(x, y) for y in range(20, CANVAS[1], 40) for x in range(20, CANVAS[0], 40)]
        plain = [p for p in points if near(image.pixel(*p), GUIDE_BACKGROUND, 2)]
        # Mostly the background, with the guides drawn on it.
        self.assertGreater(len(plain), 0.3 * len(points), "sampled pixels of the background colour %s"
                           % (GUIDE_BACKGROUND,))
        self.assertLess(len(plain), 0.98 * len(points), "the guide image shows no guides")

    # -- the dock as it first appears ---------------------------------------------------------------

    def test_02_dock_on_the_right_with_the_preview_on_top(self):
        self.need("docked")
        with self.evidence("docked"):
            grab = self.grabs["docked"]
            dock, tree = grab["dock"], grab["tree"]
            self.assertIsNotNone(dock, "no window titled %r on the screen" % h.DOCK_TITLE)
            main_window = tree.find_main()
            self.assertIs(dock.parent, main_window, "the dock is not docked in OBS's main window")
            self.assertTrue(grab["dock_viewable"], "the dock is not visible")
            self.assertLessEqual(abs((dock.x + dock.width) - (main_window.x + main_window.width)), 8,
                                 "the dock %r is not at the right edge of %r" % (dock, main_window))
            self.assertLessEqual(dock.width, main_window.width // 2, "the dock is not a side column")
            grab = self.grab("docked")
            display = grab["display"]
            self.assertGreaterEqual(display.width, dock.width * 0.8, "the preview does not span the dock")
            self.assertLess(display.y, dock.y + dock.height // 2, "the preview is not at the top of the dock")
            # The dock fits its height to the picture: little or no letterbox when first shown.
            self.assertGreater(display.height, display.width, "the preview is not portrait")

    def test_03_preview_shows_the_current_vertical_scene(self):
        with self.evidence("docked"):
            self.assertPicture(self.grab("docked"))

    def test_04_outside_the_picture_is_the_display_background(self):
        with self.evidence("docked"):
            grab = self.grab("docked")
            self.assertBarsBackground(grab, self.bars(grab))

    # -- a short main window: the picture letterboxed ------------------------------------------------

    def test_05_short_window_letterboxes_the_picture(self):
        with self.evidence("short"):
            grab = self.grab("short")
            bars = self.bars(grab)
            self.assertEqual(sorted(bars), ["left", "right"], "a display %r wider than the portrait picture"
                             % grab["display"])
            self.assertLessEqual(abs(bars["left"][2] - bars["right"][2]), 1, "the picture is not centred: %s" % bars)
            self.assertGreaterEqual(bars["left"][2], 10, "the display is hardly wider than the picture: %s" % bars)
            self.assertBarsBackground(grab, bars)
            self.assertPicture(grab)

    def test_06_clean_exit(self):
        self.need("stop")
        self.assertCleanExit(self.obs)


if __name__ == "__main__":
    main()
