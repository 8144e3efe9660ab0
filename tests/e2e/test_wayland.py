# SPDX-License-Identifier: GPL-2.0-or-later
"""OBS on Wayland: the module under a headless weston, its preview drawn by libobs into the dock.

One OBS run in a fresh HOME with the self-test on, on Qt's Wayland platform (no X display at all).
The self-test makes "selftest-stacked" current: a dark background (20,20,20), OBS's main scene
scaled to the full width at the top (its blue 640x360 colour source at the main picture's top-left,
360x202.5 canvas pixels) and the blue colour source at full width in the band y = 960..1567.5.

Wayland has no window tree a test could read, so the picture is looked for in the compositor's
screenshot: every wide blue area (blue runs on consecutive rows) is taken for the band in turn, the
portrait picture it implies (the band's width is the canvas width) is checked on a grid of canvas
points, and only that layout passes. OBS's own preview shows the 16:9 main canvas with a small blue rectangle at
its top-left, which implies no such picture; it is found as well, and the vertical picture must
lie to its right, where the module docks its preview on the first run. The grids leave room for
the safe-area guides and the phone mock-up (on by default), which draw semi-transparent shapes over
parts of the picture.

When a check of the screen fails, the last screenshot is saved in the working directory as
wayland-screen.png.
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
PICTURE_TIMEOUT = 20  # for the picture to show on the screen after the switch to selftest-stacked
ALIVE_SECONDS = 8  # OBS must still run this long after the canvas is ready
CANVAS = (1080, 1920)
MAIN_CANVAS = (1920, 1080)
CURRENT = "selftest-stacked"
BLUE = (26, 138, 224)  # selftest-color, 0xFFE08A1A in libobs's ABGR
SCREENSHOT = "wayland-screen.png"

PLATFORM_RE = r"^\S+ Platform: (\S+)"
SELFTEST_DONE_RE = r"\[stilwane\]\[selftest\] vertical scenes: (\d+), current '([^']*)'$"
SWITCH_RE = r"\[stilwane\] vertical transition '[^']*' \([^)]*\) \d+ ms -> '%s'" % CURRENT

# Columns of the sample grids sit between the thirds (canvas x 360 and 720), where guide lines run.
GRID_X = range(90, 1080, 120)

# The stacked layout: (what, canvas xs, canvas ys, predicate name), as in the preview test.
STACKED = (
    ("the main scene's blue source at the top left", range(40, 340, 40), range(30, 190, 30), "blue"),
    ("the main scene's empty part, right of its source", range(480, 1080, 80), range(300, 600, 40), "dark"),
    ("the dark background between the main picture and the band", GRID_X, range(650, 930, 45), "dark"),
    ("the blue colour source in the band", GRID_X, range(1000, 1520, 50), "blue"),
    ("the dark background below the band", GRID_X, range(1600, 1710, 25), "dark"),
)
# OBS's main preview: the 640x360 blue source at the top-left of the black 1920x1080 canvas.
MAIN = (
    ("the blue source", range(40, 640, 80), range(30, 360, 50), "blue"),
    ("the empty canvas right of it", range(800, 1920, 140), range(40, 1080, 120), "black"),
    ("the empty canvas below it", range(40, 640, 80), range(420, 1080, 80), "black"),
)
SHARE = 0.75  # of a region's samples that must match


def is_blue(p):
    r, g, b = p
    return b > 150 and b > r + 80


def is_dark(p):
    # Darker than the display's grey (43), which the picture's background must not be mistaken for.
    return max(p) <= 35


def is_black(p):
    return max(p) <= 8


PREDICATES = {"blue": is_blue, "dark": is_dark, "black": is_black}


def near(p, q, tolerance):
    return all(abs(a - b) <= tolerance for a, b in zip(p, q))


# -- finding pictures in a screenshot ------------------------------------------------------------------


def blue_runs(image, y, min_length, gap=6):
    """[(x0, x1)] of the runs of blue pixels in the row (x1 exclusive), gaps up to `gap` bridged."""
    start = image.width * 3 * y
    row = image.data[start:start + image.width * 3]
    runs = []
    run_start = last = None
    for x, (r, b) in enumerate(zip(row[0::3], row[2::3])):
        if b > 150 and b > r + 80:
            if run_start is None or x - last > gap + 1:
                if run_start is not None:
                    runs.append((run_start, last + 1))
                run_start = x
            last = x
    if run_start is not None:
        runs.append((run_start, last + 1))
    return [r for r in runs if r[1] - r[0] >= min_length]


def blue_areas(image, min_width=60, min_height=12, step=2, slack=2):
    """Rectangles (x, y, w, h) of blue: runs of about the same columns on consecutive rows.

    Rows are scanned every `step` pixels; an area's top is exact to that step.
    """
    open_areas = []  # [x0, x1, top, last row]
    done = []
    for y in range(0, image.height, step):
        runs = blue_runs(image, y, min_width)
        still = []
        for area in open_areas:
            match = next((r for r in runs if abs(r[0] - area[0]) <= slack and abs(r[1] - area[1]) <= slack), None)
            if match:
                runs.remove(match)
                area[3] = y
                still.append(area)
            else:
                done.append(area)
        still.extend([x0, x1, y, y] for x0, x1 in runs)
        open_areas = still
    done.extend(open_areas)
    return [(x0, top, x1 - x0, last - top + step) for x0, x1, top, last in done if last - top + step >= min_height]


def blue_share(image, points):
    points = list(points)
    return sum(is_blue(image.pixel(x, y)) for x, y in points) / max(1, len(points))


def refine(image, area, reach=12, share=0.9):
    """The area with its top, left and right edges moved out while the row or column next to them is
    blue across most of the area: the grab's rows are scanned every other pixel, and a selection
    box's handles at the corners make the first rows' runs shorter than the band's width."""
    x, y, w, hh = area
    inner_x = range(x + w // 10, x + w - w // 10)
    inner_y = range(y + hh // 10, y + hh - hh // 10)
    top = y
    while top > max(0, y - reach) and blue_share(image, ((cx, top - 1) for cx in inner_x)) >= share:
        top -= 1
    left = x
    while left > max(0, x - reach) and blue_share(image, ((left - 1, cy) for cy in inner_y)) >= share:
        left -= 1
    right = x + w
    while right < min(image.width, x + w + reach) and blue_share(image, ((right, cy) for cy in inner_y)) >= share:
        right += 1
    return (left, top, right - left, y + hh - top)


def screen_point(picture, canvas, cx, cy):
    """The screen pixel showing the canvas pixel (cx, cy) of a picture rectangle (x, y, w, h)."""
    x, y, w, hh = picture
    return x + int((cx + 0.5) * w / canvas[0]), y + int((cy + 0.5) * hh / canvas[1])


def judge(image, picture, canvas, layout):
    """None when the screen shows the layout in the picture rectangle, else what does not match."""
    x, y, w, hh = picture
    if x < 0 or y < 0 or x + w > image.width or y + hh > image.height:
        return "the picture %s does not fit on the %dx%d screen" % (picture, image.width, image.height)
    for what, xs, ys, name in layout:
        samples = [(cx, cy) for cy in ys for cx in xs]
        good = sum(PREDICATES[name](image.pixel(*screen_point(picture, canvas, cx, cy))) for cx, cy in samples)
        if good < SHARE * len(samples):
            return "%s: %d of %d samples %s" % (what, good, len(samples), name)
    return None


def find_pictures(image):
    """Where the screenshot shows the vertical canvas's stacked layout and OBS's main preview.

    Returns (vertical, main, notes): picture rectangles (x, y, w, h) or None, and why each blue
    area was not taken for either.
    """
    vertical = main = None
    notes = []
    for area in sorted(blue_areas(image), key=lambda a: -a[2] * a[3]):
        x, y, w, hh = area = refine(image, area)
        # The band spans the canvas's width from canvas y 960; the main preview's source spans a
        # third of the main canvas's width from its top.
        scale = w / CANVAS[0]
        as_band = (x, int(round(y - 960 * scale)), w, int(round(CANVAS[1] * scale)))
        scale = 3 * w / MAIN_CANVAS[0]
        as_source = (x, y, 3 * w, int(round(MAIN_CANVAS[1] * scale)))
        why_not_band = judge(image, as_band, CANVAS, STACKED)
        why_not_source = judge(image, as_source, MAIN_CANVAS, MAIN)
        if why_not_band is None and vertical is None:
            vertical = as_band
        elif why_not_source is None and main is None:
            main = as_source
        else:
            notes.append("blue area %s: as the band, %s; as the main source, %s" % (area, why_not_band,
                                                                                    why_not_source))
    return vertical, main, notes


def band_colour(image, picture):
    """The pixel of the band closest to the colour source's own colour, and its screen point."""
    points = [screen_point(picture, CANVAS, cx, cy) for cy in range(1000, 1520, 50) for cx in GRID_X]
    return min(((image.pixel(*p), p) for p in points), key=lambda s: max(abs(a - b) for a, b in zip(s[0], BLUE)))


class Wayland(ObsTestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = h.Session(module=True, display_server="wayland")
        cls.found = None
        cls.screen = None
        cls.alive = None

        def start():
            cls.obs = cls.session.start_obs(env={"STILWANE_SELFTEST": "1"})
            cls.obs.wait_module_loaded(START_TIMEOUT)
            cls.obs.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
            cls.ready_at = time.monotonic()

        def alive():
            # Before the screenshots: a phase that fails stops OBS, which must not pass for a crash.
            time.sleep(max(0.0, cls.ready_at + ALIVE_SECONDS - time.monotonic()))
            cls.alive = cls.obs.proc.poll() is None

        alive.needs = ("start",)

        def picture():
            cls.obs.wait_log(SELFTEST_DONE_RE, SELFTEST_TIMEOUT)
            cls.obs.wait_log(SWITCH_RE, SELFTEST_TIMEOUT)
            # libobs draws at its own pace: look until both pictures show, as long as OBS runs.
            png = os.path.join(cls.session.home.path, SCREENSHOT)
            deadline = time.monotonic() + PICTURE_TIMEOUT
            while True:
                if cls.obs.proc.poll() is not None:
                    raise h.HarnessError("OBS ended (%s) while its picture was looked for\n%s"
                                         % (h.describe_status(cls.obs.proc.returncode), cls.obs.describe()))
                image = cls.session.grab(png=png)
                cls.screen = png
                cls.found = find_pictures(image) + (image,)
                if cls.found[0] and cls.found[1] or time.monotonic() > deadline:
                    break
                time.sleep(1.0)

        picture.needs = ("start",)

        def stop():
            cls.obs.stop()

        stop.needs = ("start",)

        try:
            cls.run_phases([("start", start), ("alive", alive), ("picture", picture), ("stop", stop)])
        except BaseException:
            cls.session.close()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    @contextlib.contextmanager
    def evidence(self):
        """Copies the last screenshot into the working directory when the block fails."""
        try:
            yield
        except AssertionError as exc:
            if not self.screen or not os.path.isfile(self.screen):
                where = "no screenshot was taken"
            else:
                path = os.path.join(os.getcwd(), SCREENSHOT)
                try:
                    shutil.copyfile(self.screen, path)
                    where = "screenshot: %s" % path
                except OSError as err:
                    where = "could not save the screenshot: %s" % err
            raise AssertionError("%s\n%s" % (exc, where)) from None

    def pictures(self):
        self.need("picture")
        vertical, main_preview, notes, image = self.found
        if vertical is None:
            self.fail("no picture of the vertical canvas on the screen; blue areas seen:\n  %s\n%s"
                      % ("\n  ".join(notes[:20]) or "none", self.obs.describe()))
        return vertical, main_preview, image

    # -- tests ------------------------------------------------------------------------------------

    def test_01_obs_runs_on_wayland(self):
        self.need("start")
        m = self.assertLogHas(self.obs, PLATFORM_RE)
        self.assertEqual(m.group(1), "Wayland", "OBS did not take the Wayland platform")

    def test_02_canvas_ready_at_1080x1920(self):
        self.need("start")
        ready = h.re.findall(h.CANVAS_READY_RE, self.obs.log_text())
        self.assertEqual([r[1:] for r in ready], [("1080", "1920")], self.obs.describe())

    def test_03_obs_keeps_running(self):
        self.need("alive")
        if not self.alive:
            self.fail("OBS ended (%s) within %d s after the canvas was ready\n%s"
                      % (h.describe_status(self.obs.proc.returncode), ALIVE_SECONDS, self.obs.describe()))

    def test_04_dock_preview_shows_the_vertical_canvas(self):
        with self.evidence():
            vertical, _, image = self.pictures()
            colour, point = band_colour(image, vertical)
            self.assertTrue(near(colour, BLUE, 8), "no pixel of the band shows the source's colour %s; the closest: "
                            "%s at %s; picture %s" % (BLUE, colour, point, vertical))

    def test_05_dock_preview_right_of_the_main_preview(self):
        with self.evidence():
            vertical, main_preview, _ = self.pictures()
            self.assertIsNotNone(main_preview, "OBS's main preview (its blue source at the top-left) is not on the "
                                 "screen")
            self.assertGreaterEqual(vertical[0], main_preview[0] + main_preview[2],
                                    "the vertical picture %s is not right of OBS's main preview %s"
                                    % (vertical, main_preview))

    def test_06_clean_exit(self):
        self.need("stop")
        self.assertCleanExit(self.obs)


if __name__ == "__main__":
    main()
