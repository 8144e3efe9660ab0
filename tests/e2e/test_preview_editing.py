# SPDX-License-Identifier: GPL-2.0-or-later
"""Editing an item in the vertical preview with the real mouse and keyboard (xdotool, XTEST input on
the Xvfb screen) in the real OBS, read back through obs-websocket.

One OBS run in a fresh HOME with the self-test on, which makes "selftest-stacked" current: a locked
background, OBS's main scene at the top and the blue colour source "selftest-color" at full width in
the band y = 960..1567.5 (1080 x 607.5 canvas pixels), the topmost item. The preview display is found
in the X window tree as test_preview.py finds it, and canvas points are put on the screen with the
preview's letterbox arithmetic. Then, as a user would:
  drag    press on the band, drag it down by about 150 canvas pixels and 3 screen pixels to the right,
          release: the item moves down with the pointer, and its left edge, 3 screen pixels off the
          canvas edge, snaps back onto it (x = 0);
  edge    drag it down again and drop it with its bottom edge 3 screen pixels above the canvas's:
          it lands exactly on the edge (y = 1920 - 607.5);
  keys    with OBS's window focused, Right and Shift+Up nudge the item by 1 and by 10 pixels;
  saved   the collection file on disk has the final position (the edits are saved without OBS
          being asked to);
  remote  the vendor request SetSceneItemTransform puts the item back through obs-websocket.
Positions are read with the vendor's GetSceneItemList, polled until they change or a deadline.
"""

import os
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

import obsharness as h  # noqa: E402
from e2ecase import ObsTestCase, main  # noqa: E402

START_TIMEOUT = 60
SELFTEST_TIMEOUT = 30
SETTLE_SECONDS = 2.0
CHANGE_TIMEOUT = 10
CANVAS = (1080, 1920)
SCENE = "selftest-stacked"
ITEM = "selftest-color"
ITEM_HEIGHT = 607.5
BAND_TOP = 960.0
DRAG_DOWN = 150  # canvas pixels, roughly: the pointer moves in whole screen pixels
SIDEWAYS = 3  # screen pixels: well inside the 8-pixel snapping distance
EDGE_GAP = 3  # screen pixels between the dropped item's bottom edge and the canvas's

SELFTEST_DONE_RE = r"\[stilwane\]\[selftest\] vertical scenes: (\d+), current '([^']*)'$"
SWITCH_RE = r"\[stilwane\] vertical transition '[^']*' \([^)]*\) \d+ ms -> '%s'" % SCENE


def vendor(ws, rtype, data=None):
    request = {"vendorName": "stilwane", "requestType": rtype}
    if data is not None:
        request["requestData"] = data
    return ws.request("CallVendorRequest", request).get("responseData", {})


class PreviewEditing(ObsTestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = h.Session(module=True)
        cls.seen = {}

        def start():
            cls.obs = cls.session.start_obs(env={"STILWANE_SELFTEST": "1"})
            cls.obs.wait_module_loaded(START_TIMEOUT)
            cls.obs.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
            cls.obs.wait_log(SELFTEST_DONE_RE, SELFTEST_TIMEOUT)
            cls.obs.wait_log(SWITCH_RE, SELFTEST_TIMEOUT)
            cls.ws = cls.obs.connect()
            time.sleep(SETTLE_SECONDS)
            cls.seen["before"] = cls.item()
            tree = cls.session.window_tree()
            dock = tree.find(h.DOCK_TITLE)
            displays = h.drawing_windows(dock) if dock else []
            if not displays:
                raise h.HarnessError("no preview display in the dock %r\n%s" % (dock, cls.session.windows()))
            cls.display = displays[0]
            cls.picture = h.letterbox(cls.display.rect, *CANVAS)
            cls.main_window = tree.find_main()

        def drag():
            before = cls.seen["before"]
            grab = (540, BAND_TOP + ITEM_HEIGHT / 2)
            start = cls.screen(*grab)
            down = round(DRAG_DOWN * cls.scale())
            cls.drag(start, (start[0] + SIDEWAYS, start[1] + down))
            cls.seen["drag_pixels"] = down
            cls.seen["drag"] = cls.item_when(lambda i: i["positionY"] != before["positionY"])

        drag.needs = ("start",)

        def edge():
            now = cls.seen["drag"]
            bottom = now["positionY"] + ITEM_HEIGHT
            # Where the pointer must go so that the bottom edge stops EDGE_GAP screen pixels short.
            down = round((CANVAS[1] - bottom) * cls.scale()) - EDGE_GAP
            start = cls.screen(540, now["positionY"] + ITEM_HEIGHT / 2)
            cls.drag(start, (start[0], start[1] + down))
            cls.seen["edge"] = cls.item_when(lambda i: i["positionY"] != now["positionY"])

        edge.needs = ("drag",)

        def keys():
            now = cls.seen["edge"]
            if cls.main_window is not None:
                cls.xdotool("windowfocus", cls.main_window.id)
                time.sleep(0.5)
            cls.xdotool("key", "Right")
            cls.seen["right"] = cls.item_when(lambda i: i["positionX"] != now["positionX"])
            cls.xdotool("key", "shift+Up")
            cls.seen["up"] = cls.item_when(lambda i: i["positionY"] != now["positionY"])

        keys.needs = ("edge",)

        def saved():
            want = cls.seen["up"]
            deadline = time.monotonic() + CHANGE_TIMEOUT
            while True:
                pos = cls.saved_position()
                if pos == (want["positionX"], want["positionY"]) or time.monotonic() > deadline:
                    cls.seen["saved"] = pos
                    return
                time.sleep(0.2)

        saved.needs = ("keys",)

        def remote():
            item = cls.seen["before"]
            cls.seen["set"] = vendor(cls.ws, "SetSceneItemTransform", {
                "sceneName": SCENE, "sceneItemId": item["sceneItemId"],
                "sceneItemTransform": {"positionX": item["positionX"], "positionY": item["positionY"]}})
            cls.seen["reset"] = cls.item()

        remote.needs = ("start",)

        def stop():
            cls.ws.close()
            cls.obs.stop()

        stop.needs = ("start",)

        try:
            cls.run_phases([("start", start), ("drag", drag), ("edge", edge), ("keys", keys), ("saved", saved),
                            ("remote", remote), ("stop", stop)])
        except BaseException:
            cls.session.close()
            raise

    @classmethod
    def tearDownClass(cls):
        # What the run saw, for a reader of the test log.
        for key in ("before", "drag", "edge", "right", "up", "saved", "reset"):
            if key in cls.seen:
                value = cls.seen[key]
                if isinstance(value, dict):
                    value = (value.get("positionX"), value.get("positionY"))
                sys.stderr.write("%-7s %s\n" % (key, value))
        cls.session.close()

    # -- helpers -----------------------------------------------------------------------------------

    @classmethod
    def scale(cls):
        """Screen pixels per canvas pixel."""
        return cls.picture[2] / CANVAS[0]

    @classmethod
    def screen(cls, cx, cy):
        x, y, w, hh = cls.picture
        return (x + round(cx * w / CANVAS[0]), y + round(cy * hh / CANVAS[1]))

    @classmethod
    def xdotool(cls, *args):
        env = dict(os.environ, DISPLAY=cls.session.display)
        r = subprocess.run(["xdotool"] + [str(a) for a in args], env=env, capture_output=True, timeout=30)
        if r.returncode != 0:
            raise h.HarnessError("xdotool %s failed: %s" % (" ".join(map(str, args)), r.stderr.decode().strip()))

    @classmethod
    def drag(cls, start, end, steps=6):
        """Presses the left button at start, moves to end in steps and releases, as a hand would."""
        cls.xdotool("mousemove", "--sync", *start)
        time.sleep(0.2)
        cls.xdotool("mousedown", 1)
        time.sleep(0.2)
        for i in range(1, steps + 1):
            x = start[0] + round((end[0] - start[0]) * i / steps)
            y = start[1] + round((end[1] - start[1]) * i / steps)
            cls.xdotool("mousemove", "--sync", x, y)
            time.sleep(0.1)
        time.sleep(0.2)
        cls.xdotool("mouseup", 1)

    @classmethod
    def item(cls):
        answer = vendor(cls.ws, "GetSceneItemList", {"sceneName": SCENE})
        found = [i for i in answer.get("sceneItems", []) if i.get("sourceName") == ITEM]
        if not found:
            raise h.HarnessError("no item %r in %r: %s" % (ITEM, SCENE, answer))
        return found[0]

    @classmethod
    def item_when(cls, changed):
        """The item once changed(item) holds, or as it is at the deadline."""
        deadline = time.monotonic() + CHANGE_TIMEOUT
        while True:
            item = cls.item()
            if changed(item) or time.monotonic() > deadline:
                return item
            time.sleep(0.2)

    @classmethod
    def saved_position(cls):
        """The item's position in the current collection file, or None."""
        for collection in cls.session.home.collections().values():
            for source in collection.get("sources", []):
                if source.get("name") != SCENE:
                    continue
                for entry in (source.get("settings") or {}).get("items", []):
                    if entry.get("name") == ITEM:
                        pos = entry.get("pos") or {}
                        return (pos.get("x"), pos.get("y"))
        return None

    def nearly(self, actual, expected, what, tolerance=None):
        # The pointer moves in whole screen pixels; libobs keeps positions on a half-pixel grid.
        tolerance = tolerance if tolerance is not None else 1.5 / self.scale() + 0.5
        self.assertLessEqual(abs(actual - expected), tolerance, "%s: %s, expected about %s (display %r, picture "
                             "%s)\n%s" % (what, actual, expected, self.display, self.picture, self.obs.describe()))

    # -- the checks --------------------------------------------------------------------------------

    def test_01_the_band_item_starts_in_its_band(self):
        self.need("start")
        before = self.seen["before"]
        self.assertEqual((before["positionX"], before["positionY"]), (0, BAND_TOP), before)
        self.assertGreater(self.picture[3], 200, "the preview shows the canvas too small to drag in: %s"
                           % (self.picture,))

    def test_02_a_drag_moves_the_item_and_snaps_its_left_edge(self):
        self.need("drag")
        after = self.seen["drag"]
        moved = self.seen["drag_pixels"] / self.scale()
        self.nearly(after["positionY"], BAND_TOP + moved, "positionY after the drag")
        # Without snapping the item would sit SIDEWAYS screen pixels right of the edge.
        self.assertEqual(after["positionX"], 0, "the left edge did not snap onto the canvas edge: %s" % after)

    def test_03_dropped_near_the_bottom_edge_it_lands_on_it(self):
        self.need("edge")
        after = self.seen["edge"]
        self.assertEqual(after["positionY"], CANVAS[1] - ITEM_HEIGHT, "the bottom edge did not snap: %s" % after)
        self.assertEqual(after["positionX"], 0, after)

    def test_04_arrow_keys_nudge_the_item(self):
        self.need("keys")
        edge = self.seen["edge"]
        self.assertEqual(self.seen["right"]["positionX"], edge["positionX"] + 1, "Right: %s" % self.seen["right"])
        up = self.seen["up"]
        self.assertEqual((up["positionX"], up["positionY"]), (edge["positionX"] + 1, edge["positionY"] - 10),
                         "Shift+Up: %s" % up)

    def test_05_the_edits_are_saved_with_the_collection(self):
        self.need("saved")
        up = self.seen["up"]
        self.assertEqual(self.seen["saved"], (up["positionX"], up["positionY"]), "the collection file's position")

    def test_06_set_scene_item_transform_puts_it_back(self):
        self.need("remote")
        before, answer, reset = self.seen["before"], self.seen["set"], self.seen["reset"]
        self.assertTrue(answer.get("success"), answer)
        self.assertEqual(answer["sceneItemTransform"]["positionY"], before["positionY"], answer)
        self.assertEqual((reset["positionX"], reset["positionY"]), (before["positionX"], before["positionY"]))

    def test_07_clean_exit(self):
        self.need("stop")
        self.assertCleanExit(self.obs)


if __name__ == "__main__":
    main()
