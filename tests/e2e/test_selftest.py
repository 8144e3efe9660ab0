# SPDX-License-Identifier: GPL-2.0-or-later
"""The module's self-test (STILWANE_SELFTEST=1) in the real OBS: the four generated vertical scenes,
their geometry as the log and obs-websocket show it, their return after a restart, and the vertical
studio mode following OBS's studio mode.

Two OBS runs in one throwaway HOME, both with the self-test on:
  generate  fresh HOME: the self-test generates selftest-crop, -fit, -stacked and -thirds from the
            main scene 'Scene' (1920x1080) and a 640x360 colour source, makes selftest-stacked current
            and selects an item;
  restart   same HOME: the four scenes come back from the collection with their uuids, order, items
            and current scene, and the self-test finds them instead of generating them again;
  studio    in the restarted OBS: studio mode on and off through obs-websocket switches the vertical
            preview with it.

The expected positions, scales and crops come from expected_layouts(), which redoes the layout
templates' arithmetic, so a change of template or canvas size shows up here as a difference in
numbers a reader can follow.
"""

import math
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

import obsharness as h  # noqa: E402
from e2ecase import ObsTestCase, canvas_list_named, main  # noqa: E402

START_TIMEOUT = 60
SELFTEST_TIMEOUT = 30
STUDIO_TIMEOUT = 15

MAIN_SIZE = (1920, 1080)  # OBS's default base resolution in a fresh HOME
CANVAS_SIZE = (1080, 1920)
COLOR_SIZE = (640, 360)  # selftest-color, made by the self-test
SCENES = ["selftest-crop", "selftest-fit", "selftest-stacked", "selftest-thirds"]
CURRENT = "selftest-stacked"

SELFTEST = r"\[stilwane\]\[selftest\] "
MAIN_LINE_RE = SELFTEST + r"main scene '([^']*)' (\d+)x(\d+), canvas (\d+)x(\d+), video=(\S+)$"
GENERATED_RE = SELFTEST + r"generated '([^']*)'$"
ITEM_RE = SELFTEST + r"  item '([^']*)' pos=\((-?[0-9.]+),(-?[0-9.]+)\) scale=([0-9.]+) crop=\(l(\d+) t(\d+) r(\d+) b(\d+)\)$"
SELECTED_RE = SELFTEST + r"selected item id (-?\d+)$"
DONE_RE = SELFTEST + r"vertical scenes: (\d+), current '([^']*)'$"
SWITCH_RE = r"\[stilwane\] vertical transition '[^']*' \([^)]*\) \d+ ms -> '([^']*)'"
PREVIEW_RE = r"\[stilwane\] vertical preview scene '%s' \(trigger=%s\)$"


# ---------------------------------------------------------------------------------------------
# The geometry the self-test's scenes must have


def half_pixel(v):
    """libobs keeps scene item positions on a half-pixel grid, ties upward (656.25 -> 656.5)."""
    return math.floor(v * 2.0 + 0.5) / 2.0


def _fit_in_band(src_w, src_h, canvas_w, top, band):
    """Full canvas width, vertically centred in the band; cropped top and bottom when too tall."""
    s = canvas_w / src_w
    crop = 0
    if s * src_h > band:
        crop = max(0, math.floor((src_h - band / s) / 2.0))
        remaining = band - (src_h - 2 * crop) * s
    else:
        remaining = band - s * src_h
    return (0.0, top + remaining / 2.0, s, (0, crop, 0, crop))


def expected_layouts(main=MAIN_SIZE, canvas=CANVAS_SIZE, extra=COLOR_SIZE):
    """{scene: [(item source, x, y, scale, (left, top, right, bottom))]} in the scene's item order.

    Positions are rounded as libobs stores them; scales and crops are exact.
    """
    w, h_ = main
    W, H = canvas
    ew, eh = extra

    def bg(scene):
        return ("Stilwane BG - " + scene, 0.0, 0.0, 1.0, (0, 0, 0, 0))

    layouts = {}
    # Centre crop: the main picture fills the canvas height, the sides that do not fit are cut.
    s = H / h_
    c = max(0, math.floor((w - W / s) / 2.0))
    layouts["selftest-crop"] = [("Scene", (W - (w - 2 * c) * s) / 2.0, 0.0, s, (c, 0, c, 0))]
    # Fit width: the whole main picture, full width, centred on a background.
    s = W / w
    layouts["selftest-fit"] = [bg("selftest-fit"), ("Scene", 0.0, (H - s * h_) / 2.0, s, (0, 0, 0, 0))]
    # Stacked: the main picture at the top, the extra source in the band below it.
    layouts["selftest-stacked"] = [bg("selftest-stacked"), ("Scene", 0.0, 0.0, s, (0, 0, 0, 0)),
                                   ("selftest-color",) + _fit_in_band(ew, eh, W, s * h_, H - s * h_)]
    # Thirds: main picture and the extra source twice, each in a third of the height.
    t = H / 3.0
    layouts["selftest-thirds"] = [bg("selftest-thirds"), ("Scene",) + _fit_in_band(w, h_, W, 0.0, t),
                                  ("selftest-color",) + _fit_in_band(ew, eh, W, t, t),
                                  ("selftest-color",) + _fit_in_band(ew, eh, W, 2.0 * t, t)]
    return {scene: [(name, half_pixel(x), half_pixel(y), scale, crop) for name, x, y, scale, crop in items]
            for scene, items in layouts.items()}


def format_item(item):
    """An item as the self-test logs it."""
    name, x, y, scale, (l, t, r, b) = item
    return "item '%s' pos=(%.1f,%.1f) scale=%.4f crop=(l%d t%d r%d b%d)" % (name, x, y, scale, l, t, r, b)


def format_transform(entry):
    """A GetSceneItemList entry in the same form, for comparing what OBS reports."""
    tr = entry["sceneItemTransform"]
    return format_item((entry["sourceName"], tr["positionX"], tr["positionY"], tr["scaleX"],
                        (tr["cropLeft"], tr["cropTop"], tr["cropRight"], tr["cropBottom"])))


def logged_scenes(text):
    """[(scene, [item lines])] in the order of the 'generated' lines of a log."""
    out = []
    for line in text.splitlines():
        m = h.re.search(GENERATED_RE, line)
        if m:
            out.append((m.group(1), []))
            continue
        m = h.re.search(ITEM_RE, line)
        if m and out:
            out[-1][1].append(line[line.index("item '"):])
    return out


# ---------------------------------------------------------------------------------------------


class SelfTest(ObsTestCase):
    maxDiff = None  # the geometry diffs are long lists of item lines

    @classmethod
    def setUpClass(cls):
        cls.session = h.Session(module=True)
        cls.runs = {}
        cls.seen = {}  # run name -> what obs-websocket reported
        cls.collections = {}
        cls.studio_marks = {}

        def observe(name, run):
            run.wait_module_loaded(START_TIMEOUT)
            run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
            run.wait_log(DONE_RE, SELFTEST_TIMEOUT)
            ws = run.connect()
            seen = cls.seen[name] = {"canvases": ws.request("GetCanvasList")}
            listed = canvas_list_named(seen["canvases"])
            if len(listed) != 1:
                raise h.HarnessError("GetCanvasList lists %d vertical canvases: %s" % (len(listed), seen["canvases"]))
            canvas_uuid = listed[0]["canvasUuid"]
            seen["scenes"] = ws.request("GetSceneList", {"canvasUuid": canvas_uuid})["scenes"]
            seen["items"] = {}
            for scene in seen["scenes"]:
                items = ws.request("GetSceneItemList", {"sceneUuid": scene["sceneUuid"]})["sceneItems"]
                seen["items"][scene["sceneName"]] = sorted(items, key=lambda i: i["sceneItemIndex"])
            return ws

        def generate():
            run = cls.runs["generate"] = cls.session.start_obs(env={"STILWANE_SELFTEST": "1"})
            observe("generate", run).close()
            run.stop()
            cls.collections["generate"] = cls.session.home.read_collection("Untitled")

        def restart():
            run = cls.runs["restart"] = cls.session.start_obs(env={"STILWANE_SELFTEST": "1"})
            cls.ws = observe("restart", run)

        restart.needs = ("generate",)

        def studio():
            run = cls.runs["restart"]
            for enabled, trigger in ((True, "studio-enabled"), (False, "studio-disabled")):
                mark = run.mark()
                cls.ws.request("SetStudioModeEnabled", {"studioModeEnabled": enabled})
                cls.studio_marks[trigger] = mark
                run.wait_log(PREVIEW_RE % ("[^']*", trigger), STUDIO_TIMEOUT, after=mark)

        studio.needs = ("restart",)

        def stop_restart():
            # Runs after a failed studio phase too: the restart's collection is judged on its own.
            if getattr(cls, "ws", None):
                cls.ws.close()
            cls.runs["restart"].stop()
            cls.collections["restart"] = cls.session.home.read_collection("Untitled")

        stop_restart.needs = ("restart",)

        try:
            cls.run_phases([("generate", generate), ("restart", restart), ("studio", studio),
                            ("stop_restart", stop_restart)])
        except BaseException:
            cls.session.close()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def uuids(self, run_name):
        """{scene name: uuid} of the vertical scenes obs-websocket listed in the run."""
        return {s["sceneName"]: s["sceneUuid"] for s in self.seen[run_name]["scenes"]}

    # -- first run: generation -------------------------------------------------------------------

    def test_01_main_scene_and_canvas(self):
        self.need("generate")
        run = self.runs["generate"]
        m = self.assertLogHas(run, MAIN_LINE_RE)
        self.assertEqual(m.group(1), "Scene")
        self.assertEqual((int(m.group(2)), int(m.group(3))), MAIN_SIZE)
        self.assertEqual((int(m.group(4)), int(m.group(5))), CANVAS_SIZE)
        # %p of a canvas without video prints "(nil)": the canvas would render nothing.
        self.assertRegex(m.group(6), r"^0x[0-9a-f]+$", "the vertical canvas has no video")

    def test_02_logged_geometry(self):
        self.need("generate")
        run = self.runs["generate"]
        expected = expected_layouts()
        want = [(scene, [format_item(i) for i in expected[scene]]) for scene in SCENES]
        got = logged_scenes(run.log_text())
        self.assertEqual(got, want, "the self-test's generated scenes differ from the templates' geometry\n"
                         + run.describe())

    def test_03_obs_reports_the_geometry(self):
        # What the user sees in OBS's transform dialog, read back from OBS rather than from our log.
        self.need("generate")
        items = self.seen["generate"]["items"]
        self.assertEqual(sorted(items), SCENES, "vertical scenes listed by obs-websocket")
        expected = expected_layouts()
        for scene in SCENES:
            with self.subTest(scene=scene):
                self.assertEqual([format_transform(i) for i in items[scene]],
                                 [format_item(i) for i in expected[scene]])
                # The background stays put while the user edits the scene; the rest is editable.
                locked = [i["sceneItemLocked"] for i in items[scene]]
                self.assertEqual(locked, [scene != "selftest-crop"] + [False] * (len(locked) - 1))

    def test_04_stacked_current_and_item_selected(self):
        self.need("generate")
        run = self.runs["generate"]
        text = run.log_text()
        stacked = self.uuids("generate")[CURRENT]
        done = h.re.findall(DONE_RE, text, h.re.M)
        self.assertEqual(done, [("4", stacked)], run.describe())
        # The last unlocked item: the colour source in the band below the main picture.
        last_unlocked = [i for i in self.seen["generate"]["items"][CURRENT] if not i["sceneItemLocked"]][-1]
        self.assertEqual(last_unlocked["sourceName"], "selftest-color")
        self.assertEqual(h.re.findall(SELECTED_RE, text, h.re.M), [str(last_unlocked["sceneItemId"])])
        # The vertical program really switched to it (the generation itself switches to the first one).
        self.assertEqual(h.re.findall(SWITCH_RE, text)[-1:], [CURRENT])

    def test_05_collection_saved_order_and_current(self):
        self.need("generate")
        uuids = self.uuids("generate")
        state = h.module_state(self.collections["generate"]) or {}
        self.assertEqual([e.get("uuid") for e in state.get("scene_order", [])], [uuids[s] for s in SCENES],
                         "scene_order in the collection, names: %s" % uuids)
        self.assertEqual(state.get("current_scene"), uuids[CURRENT])

    def test_06_first_shutdown_clean(self):
        self.need("generate")
        self.assertCleanExit(self.runs["generate"])

    # -- second run: the same scenes come back -----------------------------------------------------

    def test_07_restart_keeps_scenes_and_uuids(self):
        self.need("generate", "restart")
        self.assertEqual(self.uuids("restart"), self.uuids("generate"),
                         "the vertical scenes obs-websocket lists after the restart")
        before = canvas_list_named(self.seen["generate"]["canvases"])[0]["canvasUuid"]
        after = canvas_list_named(self.seen["restart"]["canvases"])[0]["canvasUuid"]
        self.assertEqual(after, before, "the restart made a new vertical canvas")

    def test_08_restart_does_not_generate_again(self):
        self.need("generate", "restart")
        run = self.runs["restart"]
        text = run.log_text()
        self.assertEqual(h.re.findall(GENERATED_RE, text, h.re.M), [], run.describe())
        self.assertEqual(h.re.findall(DONE_RE, text, h.re.M), [("4", self.uuids("generate")[CURRENT])],
                         run.describe())
        # Every generated scene is linked to the main scene: the canvas ready at the restart follows
        # the main program to the first of them at once, and the self-test then makes its own scene
        # current again.
        self.assertEqual(h.re.findall(SWITCH_RE, text), [SCENES[0], CURRENT], run.describe())
        self.assertEqual(h.re.findall(r"\[stilwane\] linked vertical scene '([^']*)': 0 ms, match_main=\w+, "
                                      r"trigger=scene_changed, queued=0 ms", text), [SCENES[0]], run.describe())

    def test_09_restart_keeps_geometry(self):
        self.need("generate", "restart")
        expected = expected_layouts()
        items = self.seen["restart"]["items"]
        for scene in SCENES:
            with self.subTest(scene=scene):
                self.assertEqual([format_transform(i) for i in items.get(scene, [])],
                                 [format_item(i) for i in expected[scene]])

    def test_10_restart_collection_same_order_and_current(self):
        self.need("generate", "stop_restart")
        uuids = self.uuids("generate")
        for key in ("scene_order", "current_scene"):
            with self.subTest(key=key):
                before = (h.module_state(self.collections["generate"]) or {}).get(key)
                after = (h.module_state(self.collections["restart"]) or {}).get(key)
                self.assertEqual(after, before, "names: %s" % uuids)
        names = [s["name"] for s in self.collections["restart"].get("sources", []) if s.get("name") in SCENES]
        self.assertEqual(sorted(names), SCENES, "each scene once in the saved collection")
        self.assertCleanExit(self.runs["restart"])

    # -- studio mode -----------------------------------------------------------------------------

    def test_11_studio_mode_follows_obs(self):
        self.need("studio")
        run = self.runs["restart"]
        text = run.log_text()
        on = h.re.findall(PREVIEW_RE % ("([^']*)", "studio-enabled"), text[self.studio_marks["studio-enabled"]:],
                          h.re.M)
        self.assertEqual(on, [CURRENT], "the vertical preview when studio mode came on\n" + run.describe())
        off = h.re.findall(PREVIEW_RE % ("([^']*)", "studio-disabled"),
                           text[self.studio_marks["studio-disabled"]:], h.re.M)
        self.assertEqual(off, [""], "the vertical preview when studio mode went off\n" + run.describe())
        # Entering and leaving studio mode shows a preview; it must not change the vertical program.
        self.assertEqual(h.re.findall(SWITCH_RE, text[self.studio_marks["studio-enabled"]:]), [])


if __name__ == "__main__":
    main()
