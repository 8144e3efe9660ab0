# SPDX-License-Identifier: GPL-2.0-or-later
"""Projector windows of the vertical canvas in the real OBS, opened the way a user opens them.

X11 (Xvfb, no window manager), three OBS runs in one HOME with the self-test on, which makes
"selftest-stacked" current: a dark background (20,20,20), OBS's main scene at full width at the top
(its blue 640x360 colour source at the main picture's top-left) and the blue colour source at full
width in the band y = 960..1567.5 of the 1080x1920 canvas.
  first run   real input with xdotool: a click on "Tools" in OBS's menu bar and one on the entry
              "Stilwane Vertical Projector" of the menu that opens (both found on the screen with
              tesseract) open a 405x720 top-level window that shows the canvas; a double click on it
              takes it full screen (the window covers the screen, the picture letterboxed in the
              middle with black beside it); Escape brings it back to its place, and the window is moved
              (xdotool windowmove, as a window manager would on a drag). Then the vendor request
              OpenProjector for monitor 0 of obs-websocket's GetMonitorList opens a full-screen
              projector (a second request brings that one to the front instead of opening another),
              and the hotkey "stilwane.open_projector" (obs-websocket's TriggerHotkeyByName) opens one
              more window. OBS is stopped with all three open: config.json remembers them.
  second run  "restore_projectors" on: the three come back at their places, the full-screen one
              covering the screen again, and show the canvas once selftest-stacked is current again
              (the scene links make another scene current at the start).
  third run   "restore_projectors" off: none comes back.
Wayland (a headless weston), one OBS run: a window projector and a full-screen one on output 0 through
the vendor request; the compositor's screenshot shows the letterboxed canvas across the output, no
full-screen request failed, and OBS keeps running and exits cleanly.

When a check of the screen fails, its grab is saved in the working directory as projectors-<name>.png.
"""

import contextlib
import os
import re
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

import obsharness as h  # noqa: E402
from e2ecase import ObsTestCase, main  # noqa: E402

START_TIMEOUT = 60
SELFTEST_TIMEOUT = 30
WINDOW_TIMEOUT = 20  # for a window to appear, move or settle after an action
SCREEN = (1920, 1080)
CANVAS = (1080, 1920)
WINDOW = (405, 720)
MOVED = (100, 150)  # where the first projector window is moved
CENTRED = ((SCREEN[0] - WINDOW[0]) // 2, (SCREEN[1] - WINDOW[1]) // 2) + WINDOW  # a new projector window
TITLE = "Stilwane Vertical Projector"  # the projector windows' title and the Tools menu entry
HOTKEY = "stilwane.open_projector"
OCR_SCALE = 3
BLUE = (26, 138, 224)  # selftest-color, 0xFFE08A1A in libobs's ABGR

SELFTEST_DONE_RE = r"\[stilwane\]\[selftest\] vertical scenes: (\d+), current '([^']*)'$"
SWITCH_RE = r"\[stilwane\] vertical transition '[^']*' \([^)]*\) \d+ ms -> 'selftest-stacked'"
REMEMBERED_RE = r"\[stilwane\] projectors remembered: (\d+)"
RESTORED_RE = r"\[stilwane\] projectors restored: (\d+) of (\d+)"
NOT_RESTORED_RE = r"\[stilwane\] projectors not restored \(restore_projectors is off\): (\d+) remembered"
FAILED_RE = r"\[stilwane\] projector could not enter fullscreen"

GRID_X = range(90, 1080, 120)  # canvas columns between the guide lines (the projector has none)
# The stacked layout as (what, canvas xs, canvas ys, predicate), as in the preview test.
STACKED = (
    ("the main scene's blue source at the top left", range(40, 340, 40), range(30, 190, 30), "blue"),
    ("the dark background between the main picture and the band", GRID_X, range(650, 930, 45), "dark"),
    ("the blue colour source in the band", GRID_X, range(1000, 1520, 50), "blue"),
    ("the dark background below the band", GRID_X, range(1600, 1900, 50), "dark"),
)


def is_blue(p):
    r, g, b = p
    return b > 150 and b > r + 80


def is_dark(p):
    return max(p) <= 35


def is_black(p):
    return max(p) <= 8


PREDICATES = {"blue": is_blue, "dark": is_dark, "black": is_black}


def near(p, q, tolerance=8):
    return all(abs(a - b) <= tolerance for a, b in zip(p, q))


def letterbox(rect):
    """Where a projector of the rectangle (x, y, w, h) draws the canvas: its own arithmetic (the scale
    in single precision is no different here), centred, the spare pixels split evenly."""
    x, y, cx, cy = rect
    scale = min(cy / CANVAS[1], cx / CANVAS[0])
    w, hh = max(1, int(scale * CANVAS[0])), max(1, int(scale * CANVAS[1]))
    return (x + (cx - w) // 2, y + (cy - hh) // 2, w, hh)


def screen_point(picture, cx, cy):
    x, y, w, hh = picture
    return x + int((cx + 0.5) * w / CANVAS[0]), y + int((cy + 0.5) * hh / CANVAS[1])


def judge(image, picture, regions=STACKED, share=0.9, visible=lambda x, y: True):
    """None when the picture rectangle shows the layout, else what does not match. Points for which
    `visible` is false (covered by another window) are not counted."""
    for what, xs, ys, name in regions:
        points = [screen_point(picture, cx, cy) for cy in ys for cx in xs]
        points = [p for p in points if visible(*p)]
        if not points:
            continue
        good = sum(PREDICATES[name](image.pixel(*p)) for p in points)
        if good < share * len(points):
            bad = [(p, image.pixel(*p)) for p in points if not PREDICATES[name](image.pixel(*p))][:4]
            return "%s: %d of %d samples %s (e.g. %s)" % (what, good, len(points), name, bad)
    return None


def band_colour(image, picture):
    """The pixel of the band closest to the colour source's own colour."""
    points = [screen_point(picture, cx, cy) for cy in range(1000, 1520, 50) for cx in GRID_X]
    return min((image.pixel(*p) for p in points), key=lambda c: max(abs(a - b) for a, b in zip(c, BLUE)))


# -- reading text off the screen -------------------------------------------------------------------


def ocr_words(session, png, rect, name):
    """[(text, x, y, w, h)] of the words tesseract reads in the rectangle of the PNG, in screen pixels.

    The crop is enlarged and inverted: OBS's menus have light text on dark grey.
    """
    x, y, w, hh = rect
    prepared = os.path.join(session.home.path, "ocr-%s.png" % name)
    r = subprocess.run(["convert", png, "-crop", "%dx%d+%d+%d" % (w, hh, x, y), "+repage", "-colorspace", "Gray",
                        "-resize", "%d%%" % (OCR_SCALE * 100), "-negate", prepared], capture_output=True, timeout=60)
    if r.returncode != 0:
        raise h.HarnessError("convert failed: %s" % r.stderr.decode(errors="replace").strip())
    r = subprocess.run(["tesseract", prepared, "-", "--psm", "11", "tsv"], capture_output=True, timeout=60)
    if r.returncode != 0:
        raise h.HarnessError("tesseract failed: %s" % r.stderr.decode(errors="replace").strip())
    words = []
    for row in r.stdout.decode(errors="replace").splitlines()[1:]:
        cols = row.split("\t")
        if len(cols) < 12 or cols[0] != "5" or not cols[11].strip():
            continue
        left, top, width, height = (int(c) for c in cols[6:10])
        words.append((cols[11].strip(), x + left // OCR_SCALE, y + top // OCR_SCALE, max(1, width // OCR_SCALE),
                      max(1, height // OCR_SCALE)))
    return words


def find_word(words, text):
    """The centre of the first word that reads `text` (case-blind), or None."""
    for word, x, y, w, hh in words:
        if word.strip(".:").lower() == text.lower():
            return x + w // 2, y + hh // 2
    return None


def find_phrase(words, phrase):
    """The centre of the first run of consecutive words on one line reading the phrase, or None."""
    want = [p.lower() for p in phrase.split()]
    for i in range(len(words) - len(want) + 1):
        run = words[i:i + len(want)]
        if [w[0].lower() for w in run] == want and max(w[2] for w in run) - min(w[2] for w in run) < 6:
            x0, y0 = run[0][1], min(w[2] for w in run)
            x1, y1 = run[-1][1] + run[-1][3], max(w[2] + w[4] for w in run)
            return (x0 + x1) // 2, (y0 + y1) // 2
    return None


class X11Projectors(ObsTestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = h.Session(module=True)
        cls.seen = {}
        cls.images = {}

        def start():
            cls.obs = cls.session.start_obs(env={"STILWANE_SELFTEST": "1"})
            cls.obs.wait_module_loaded(START_TIMEOUT)
            cls.obs.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
            cls.obs.wait_log(SELFTEST_DONE_RE, SELFTEST_TIMEOUT)
            cls.obs.wait_log(SWITCH_RE, SELFTEST_TIMEOUT)
            cls.client = cls.obs.connect()

        def tools_menu():
            before = {w.id for w in cls.projectors()}
            main_window = cls.session.window_tree().find_main()
            if main_window is None:
                raise h.HarnessError("no OBS main window on the screen\n%s" % cls.session.windows())
            png = cls.session.screenshot(os.path.join(cls.session.home.path, "menubar.png"))
            bar = (main_window.x, main_window.y, min(main_window.width, 900), 30)
            tools = find_word(ocr_words(cls.session, png, bar, "menubar"), "Tools")
            if tools is None:
                raise h.HarnessError("no 'Tools' in OBS's menu bar %s" % (bar,))
            popups = {w.id for w in cls.session.window_tree().children}
            cls.xdotool("mousemove", tools[0], tools[1], "click", "1")
            menu = cls.wait_for(lambda: next((w for w in cls.session.window_tree().children
                                               if w.id not in popups and cls.session.viewable(w.id)), None),
                                "the Tools menu to open")
            # The menu is captured on its own: libobs's displays below it are drawn over it on the root.
            png = cls.session.screenshot(os.path.join(cls.session.home.path, "tools-menu.png"), window=menu.id)
            words = ocr_words(cls.session, png, (0, 0, menu.width, menu.height), "tools-menu")
            entry = find_phrase(words, TITLE)
            if entry is None:
                raise h.HarnessError("no entry %r in the Tools menu; read: %s" % (TITLE, [w[0] for w in words]))
            cls.xdotool("mousemove", menu.x + entry[0], menu.y + entry[1], "click", "1")
            cls.seen["window"] = cls.wait_for(
                lambda: next((w for w in cls.projectors() if w.id not in before and cls.settled(w, WINDOW)), None),
                "a projector window after the Tools menu entry")
            # Where it settles: it may show at the origin for a moment before it is placed.
            cls.seen["placed"] = cls.wait_for(lambda: cls.window(cls.seen["window"].id, CENTRED),
                                              "the projector window at %s" % (CENTRED,))

        tools_menu.needs = ("start",)

        def window_picture():
            w = cls.seen["placed"]

            def shown():
                cls.images["window"] = cls.session.grab()
                return judge(cls.images["window"], letterbox(w.rect)) is None

            with contextlib.suppress(h.HarnessError):
                cls.wait_for(shown, "the canvas in the projector window")

        window_picture.needs = ("tools_menu",)

        def fullscreen():
            w = cls.seen["placed"]
            cls.xdotool("mousemove", w.x + w.width // 2, w.y + w.height // 2, "click", "--repeat", "2", "--delay",
                        "120", "1")
            cls.seen["fullscreen"] = cls.wait_for(lambda: cls.window(w.id, (0, 0) + SCREEN),
                                                  "the projector to cover the screen after a double click")

            def shown():
                cls.images["fullscreen"] = cls.session.grab()
                return judge(cls.images["fullscreen"], letterbox((0, 0) + SCREEN)) is None

            with contextlib.suppress(h.HarnessError):
                cls.wait_for(shown, "the canvas letterboxed on the full screen")

        fullscreen.needs = ("window_picture",)

        def escape():
            w = cls.seen["placed"]
            cls.xdotool("windowfocus", "--sync", w.id)
            cls.xdotool("key", "Escape")
            cls.seen["escaped"] = cls.wait_for(lambda: cls.window(w.id, w.rect),
                                               "the projector back at %s after Escape" % (w.rect,))
            cls.xdotool("windowmove", "--sync", w.id, MOVED[0], MOVED[1])
            cls.seen["moved"] = cls.wait_for(lambda: cls.window(w.id, MOVED + WINDOW),
                                             "the projector at %s after the move" % (MOVED,))

        escape.needs = ("fullscreen",)

        def vendor_and_hotkey():
            monitors = cls.client.request("GetMonitorList")["monitors"]
            index = next(m["monitorIndex"] for m in monitors
                         if (m["monitorPositionX"], m["monitorPositionY"], m["monitorWidth"],
                             m["monitorHeight"]) == (0, 0) + SCREEN)
            before = {w.id for w in cls.projectors()}
            cls.seen["vendor"] = [cls.vendor("OpenProjector", {"monitorIndex": index}),
                                  None, None]
            full = cls.wait_for(lambda: next((w for w in cls.projectors()
                                              if w.id not in before and cls.settled(w, SCREEN)), None),
                                "a full-screen projector after OpenProjector")
            cls.seen["vendor"][1] = cls.vendor("OpenProjector", {"monitorIndex": index})
            cls.seen["vendor"][2] = len(cls.projectors())
            cls.seen["vendor_window"] = full
            before = {w.id for w in cls.projectors()}
            cls.client.request("TriggerHotkeyByName", {"hotkeyName": HOTKEY})
            cls.seen["hotkey"] = cls.wait_for(
                lambda: next((w for w in cls.projectors() if w.id not in before and w.rect == CENTRED
                              and cls.session.viewable(w.id)), None),
                "a projector window at %s after the hotkey" % (CENTRED,))

        vendor_and_hotkey.needs = ("escape",)

        def stop_remembering():
            cls.first_run = cls.obs
            cls.obs.stop()
            cls.seen["remembered"] = cls.session.home.read_module_config().get("projectors")

        stop_remembering.needs = ("start",)

        def restore():
            cls.obs = cls.session.start_obs()
            cls.obs.wait_module_loaded(START_TIMEOUT)
            mark = cls.obs.wait_log(RESTORED_RE, START_TIMEOUT)
            cls.seen["restored_line"] = mark.groups()
            remembered = cls.seen["remembered"]
            wanted = [(0, 0) + SCREEN if r["mode"] == "fullscreen" else (r["x"], r["y"], r["width"], r["height"])
                      for r in remembered]

            def all_back():
                found, left = [], [w for w in cls.projectors() if cls.session.viewable(w.id)]
                for rect in wanted:
                    match = next((w for w in left if w.rect == rect), None)
                    if match is None:
                        return None
                    found.append(match)
                    left.remove(match)
                return found if not left else None

            cls.seen["restored"] = cls.wait_for(all_back, "the remembered projectors %s to come back" % wanted)
            moved, full, other = cls.seen["restored"]
            # The scene links made the linked scene of OBS's main scene current at the start.
            client = cls.obs.connect()
            try:
                cls.vendor("SetCurrentScene", {"sceneName": "selftest-stacked"}, client)
            finally:
                client.close()

            def beside_windows(x, y):
                return not any(w.x <= x < w.x + w.width and w.y <= y < w.y + w.height for w in (moved, other))

            # The last window opened lies on top, in the middle of the full-screen one: its picture is
            # whole, the full-screen one's shows beside the windows. libobs starts drawing them a
            # moment after they appear.
            def pictures():
                image = cls.session.grab()
                cls.images["restored"] = image
                problems = [judge(image, letterbox(other.rect)),
                            judge(image, letterbox(full.rect), visible=beside_windows)]
                cls.seen["restored_problems"] = problems
                return problems == [None, None]

            with contextlib.suppress(h.HarnessError):
                cls.wait_for(pictures, "the restored projectors' pictures")
            cls.second_run = cls.obs
            cls.obs.stop()

        restore.needs = ("stop_remembering",)

        def restore_off():
            cls.session.home.update_module_config({"restore_projectors": False})
            cls.obs = cls.session.start_obs()
            cls.obs.wait_module_loaded(START_TIMEOUT)
            cls.seen["off_line"] = cls.obs.wait_log(NOT_RESTORED_RE, START_TIMEOUT).groups()
            cls.seen["off_windows"] = cls.projectors()
            cls.obs.stop()

        restore_off.needs = ("restore",)

        try:
            cls.run_phases([("start", start), ("tools_menu", tools_menu), ("window_picture", window_picture),
                            ("fullscreen", fullscreen), ("escape", escape), ("vendor_and_hotkey", vendor_and_hotkey),
                            ("stop_remembering", stop_remembering), ("restore", restore),
                            ("restore_off", restore_off)])
        except BaseException:
            cls.session.close()
            raise

    @classmethod
    def tearDownClass(cls):
        if getattr(cls, "client", None):
            cls.client.close()
        cls.session.close()

    # -- helpers ----------------------------------------------------------------------------------

    @classmethod
    def xdotool(cls, *args):
        r = subprocess.run(["xdotool"] + [str(a) for a in args], env=dict(os.environ, DISPLAY=cls.session.display),
                           capture_output=True, timeout=30)
        if r.returncode != 0:
            raise h.HarnessError("xdotool %s failed: %s" % (" ".join(map(str, args)),
                                                             r.stderr.decode(errors="replace").strip()))

    @classmethod
    def vendor(cls, request_type, data, client=None):
        d = (client or cls.client).request("CallVendorRequest", {"vendorName": "stilwane",
                                                                 "requestType": request_type, "requestData": data})
        return d.get("responseData", {})

    @classmethod
    def projectors(cls):
        """The top-level windows titled as projectors."""
        return [w for w in cls.session.window_tree().children if w.name == TITLE]

    @classmethod
    def window(cls, wid, rect):
        """The projector window with the id, once it has the rectangle and is viewable; else None."""
        w = next((w for w in cls.projectors() if w.id == wid), None)
        return w if w and w.rect == tuple(rect) and cls.session.viewable(w.id) else None

    @classmethod
    def settled(cls, w, size):
        return (w.width, w.height) == tuple(size) and cls.session.viewable(w.id)

    @classmethod
    def wait_for(cls, probe, what, timeout=WINDOW_TIMEOUT):
        deadline = time.monotonic() + timeout
        while True:
            found = probe()
            if found:
                return found
            if cls.obs.proc.poll() is not None or time.monotonic() > deadline:
                raise h.HarnessError("no sign of %s within %d s\n%s\n%s"
                                     % (what, timeout, cls.session.windows(), cls.obs.describe()))
            time.sleep(0.2)

    @contextlib.contextmanager
    def evidence(self, name):
        """Saves the grab in the working directory when the block fails."""
        try:
            yield
        except AssertionError as exc:
            image = self.images.get(name)
            where = "no grab"
            if image is not None:
                path = os.path.join(os.getcwd(), "projectors-%s.png" % name)
                image.save_png(path)
                where = "grab: %s" % path
            raise AssertionError("%s\n%s" % (exc, where)) from None

    # -- tests ------------------------------------------------------------------------------------

    def test_01_tools_menu_opens_a_top_level_window(self):
        self.need("tools_menu")
        # Directly under the root (a window of its own), in the middle of the screen.
        w = self.seen["placed"]
        self.assertEqual(w.rect, CENTRED)
        self.assertTrue(h.drawing_windows(w), "libobs draws into no window of the projector")

    def test_02_window_shows_the_vertical_canvas(self):
        self.need("window_picture")
        with self.evidence("window"):
            w = self.seen["placed"]
            picture = letterbox(w.rect)
            self.assertEqual(picture, w.rect, "a 405x720 window is the canvas's own shape")
            image = self.images["window"]
            problem = judge(image, picture)
            self.assertIsNone(problem, problem)
            colour = band_colour(image, picture)
            self.assertTrue(near(colour, BLUE), "the band shows %s, not the source's colour %s" % (colour, BLUE))

    def test_03_double_click_covers_the_screen(self):
        self.need("fullscreen")
        with self.evidence("fullscreen"):
            image = self.images["fullscreen"]
            picture = letterbox((0, 0) + SCREEN)
            self.assertEqual(picture, (656, 0, 607, 1080))
            problem = judge(image, picture)
            self.assertIsNone(problem, problem)
            beside = [(x, y) for x in (20, 400, 640, 1275, 1500, 1900) for y in (10, 540, 1070)]
            coloured = [(p, image.pixel(*p)) for p in beside if not is_black(image.pixel(*p))]
            self.assertEqual(coloured, [], "the screen beside the picture is not black")

    def test_04_escape_returns_to_the_window(self):
        self.need("escape")
        self.assertEqual(self.seen["escaped"].rect, CENTRED)
        self.assertEqual(self.seen["moved"].rect, MOVED + WINDOW)

    def test_05_vendor_request_and_hotkey(self):
        self.need("vendor_and_hotkey")
        first, again, count = self.seen["vendor"]
        self.assertEqual(first, {"success": True, "monitorIndex": 0, "fullscreen": True, "alreadyOpen": False})
        self.assertTrue(again.get("alreadyOpen"), again)
        self.assertEqual(count, 2, "a second request for the monitor opened another projector")
        self.assertEqual(self.seen["vendor_window"].rect, (0, 0) + SCREEN)
        self.assertEqual(self.seen["hotkey"].rect, CENTRED)

    def test_06_exit_remembers_the_projectors(self):
        self.need("stop_remembering")
        self.assertCleanExit(self.first_run)
        self.assertIsNone(re.search(FAILED_RE, self.first_run.log_text()))
        self.assertLogHas(self.first_run, r"\[stilwane\] projectors remembered: 3$")
        remembered = self.seen["remembered"]
        self.assertEqual([r["mode"] for r in remembered], ["window", "fullscreen", "window"], remembered)
        self.assertEqual((remembered[0]["x"], remembered[0]["y"], remembered[0]["width"], remembered[0]["height"]),
                         MOVED + WINDOW)
        full = remembered[1]
        self.assertEqual((full["screen_x"], full["screen_y"], full["screen_width"], full["screen_height"]),
                         (0, 0) + SCREEN)
        self.assertTrue(full["screen_name"])

    def test_07_restart_brings_them_back(self):
        self.need("restore")
        self.assertEqual(self.seen["restored_line"], ("3", "3"))
        with self.evidence("restored"):
            moved, full, other = self.seen["restored"]
            self.assertEqual(moved.rect, MOVED + WINDOW)
            self.assertEqual(full.rect, (0, 0) + SCREEN)
            self.assertEqual(other.rect, CENTRED)
            self.assertCleanExit(self.second_run)
            self.assertIsNone(re.search(FAILED_RE, self.second_run.log_text()))
            window_problem, full_problem = self.seen["restored_problems"]
            self.assertIsNone(window_problem, "the restored window: %s" % window_problem)
            self.assertIsNone(full_problem, "the restored full-screen projector: %s" % full_problem)

    def test_08_restore_off_brings_none_back(self):
        self.need("restore_off")
        self.assertEqual(self.seen["off_line"], ("3",))
        self.assertEqual(self.seen["off_windows"], [])
        self.assertCleanExit(self.obs)
        self.assertIsNone(re.search(FAILED_RE, self.obs.log_text()))


class WaylandProjectors(ObsTestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = h.Session(module=True, display_server="wayland")
        cls.seen = {}
        cls.image = None

        def start():
            cls.obs = cls.session.start_obs(env={"STILWANE_SELFTEST": "1"})
            cls.obs.wait_module_loaded(START_TIMEOUT)
            cls.obs.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
            cls.obs.wait_log(SWITCH_RE, SELFTEST_TIMEOUT)
            cls.client = cls.obs.connect()

        def open_both():
            call = lambda data: cls.client.request("CallVendorRequest", {  # noqa: E731
                "vendorName": "stilwane", "requestType": "OpenProjector", "requestData": data}).get("responseData", {})
            cls.seen["window"] = call({})
            cls.seen["fullscreen"] = call({"monitorIndex": 0})
            picture = letterbox((0, 0) + SCREEN)
            png = os.path.join(cls.session.home.path, "wayland-projector.png")
            deadline = time.monotonic() + WINDOW_TIMEOUT
            # The compositor shows the full-screen surface once it has been drawn: look until it does.
            while True:
                if cls.obs.proc.poll() is not None:
                    raise h.HarnessError("OBS ended (%s) with its projectors open\n%s"
                                         % (h.describe_status(cls.obs.proc.returncode), cls.obs.describe()))
                cls.image = cls.session.grab(png=png)
                cls.seen["problem"] = judge(cls.image, picture)
                if cls.seen["problem"] is None or time.monotonic() > deadline:
                    break
                time.sleep(1.0)
            cls.seen["alive"] = cls.obs.proc.poll() is None

        open_both.needs = ("start",)

        def stop():
            cls.obs.stop()
            cls.seen["remembered"] = cls.session.home.read_module_config().get("projectors")

        stop.needs = ("start",)

        try:
            cls.run_phases([("start", start), ("open_both", open_both), ("stop", stop)])
        except BaseException:
            cls.session.close()
            raise

    @classmethod
    def tearDownClass(cls):
        if getattr(cls, "client", None):
            cls.client.close()
        cls.session.close()

    def test_01_requests_succeed(self):
        self.need("open_both")
        self.assertEqual(self.seen["window"].get("success"), True, self.seen["window"])
        self.assertEqual(self.seen["fullscreen"].get("fullscreen"), True, self.seen["fullscreen"])
        self.assertTrue(self.seen["alive"], self.obs.describe())

    def test_02_fullscreen_projector_covers_the_output(self):
        self.need("open_both")
        problem = self.seen["problem"]
        if problem is not None:
            path = os.path.join(os.getcwd(), "projectors-wayland.png")
            self.image.save_png(path)
            self.fail("the output does not show the letterboxed canvas: %s\ngrab: %s" % (problem, path))
        beside = [(x, y) for x in (20, 400, 1500, 1900) for y in (10, 540, 1070)]
        coloured = [(p, self.image.pixel(*p)) for p in beside if not is_black(self.image.pixel(*p))]
        self.assertEqual(coloured, [], "the output beside the picture is not black")

    def test_03_no_failed_request_and_a_clean_exit(self):
        self.need("stop")
        self.assertIsNone(re.search(FAILED_RE, self.obs.log_text()), self.obs.describe())
        self.assertCleanExit(self.obs)
        self.assertEqual(sorted(r["mode"] for r in self.seen["remembered"]), ["fullscreen", "window"])


if __name__ == "__main__":
    main()
