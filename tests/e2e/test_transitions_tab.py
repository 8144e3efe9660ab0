# SPDX-License-Identifier: GPL-2.0-or-later
"""The dock's Transitions tab in the real OBS, worked with real mouse and keyboard input (xdotool).

OBS starts with the tab open (main_dock_tab 2 in config.json, as a user's earlier session would
leave it) and two vertical scenes made through the vendor requests. Then, as a user would:
  add      click the tab's add button, click "Swipe" in the type menu that pops up, press Return in
           the name question, which proposes the type's name: "Swipe" is added and selected;
  switch   a vertical scene switch (vendor SetCurrentScene) runs it: the log line of the switch
           names it;
  again    the same clicks propose "Swipe 2", which the next switch runs;
  gear     the properties button opens OBS's properties window of "Swipe 2"; Return (its OK) closes it;
  remove   click the remove button: Escape answers the question "No" and keeps the transition;
           Tab and Space answer "Yes" and remove it, the fade taking over;
  stop     OBS ends cleanly, and the scene collection keeps the transition added first.

The widgets have no X windows of their own. They are found on a screenshot: the checked tab button
is the lowest band of the highlight colour in the dock; the page's first row below it holds the
transition choice and, at the right end, the add, remove and properties icons, the last three groups
of light pixels of that row. The type menu and the questions are top-level windows of their own and
are found in the window tree. When a step fails, its screenshot is kept in the working directory as
transitions-tab-<step>.png.
"""

import os
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

import obsharness as h  # noqa: E402
from e2ecase import ObsTestCase, main  # noqa: E402

START_TIMEOUT = 60
STEP_TIMEOUT = 15
VENDOR = "stilwane"
TRANSITIONS_TAB = 2
KIND = "swipe_transition"
SWITCH_RE = (r"\[stilwane\] vertical transition '([^']*)' \(([^)]*)\) (\d+) ms -> '%s' "
             r"\(source=vertical, trigger=websocket\)")
MIN_BAND_PIXELS = 12  # highlight pixels in a screen row that make it part of a band
ICON_GAP = 3  # px: light pixels this close belong to one icon


def is_highlight(p):
    # The theme's selection blue, as test_docks.py finds the checked tab.
    r, g, b = p
    return b >= 150 and b - r >= 100 and b - g >= 70


def is_ink(p):
    return min(p) >= 170


def vendor(ws, rtype, data=None):
    request = {"vendorName": VENDOR, "requestType": rtype}
    if data is not None:
        request["requestData"] = data
    return ws.request("CallVendorRequest", request).get("responseData", {})


def transitions(ws):
    return vendor(ws, "GetTransitionList")


def names(listing):
    return [t.get("transitionName") for t in listing.get("transitions", [])]


def wait_for(what, produce, timeout=STEP_TIMEOUT):
    """Polls produce() until it returns something true and returns that; fails naming what."""
    deadline = time.monotonic() + timeout
    while True:
        value = produce()
        if value:
            return value
        if time.monotonic() > deadline:
            raise h.HarnessError("%s: not within %d s" % (what, timeout))
        time.sleep(0.2)


class Screen:
    """Real input into the session's X display and what it shows."""

    def __init__(self, session):
        self.session = session

    def xdotool(self, *args):
        r = subprocess.run(["xdotool"] + [str(a) for a in args], env=dict(os.environ, DISPLAY=self.session.display),
                           capture_output=True, timeout=20)
        if r.returncode != 0:
            raise h.HarnessError("xdotool %s failed: %s" % (" ".join(map(str, args)),
                                                             r.stderr.decode(errors="replace").strip()))

    def click(self, x, y):
        # Moved there first, so that the press lands where the widget saw the pointer enter.
        self.xdotool("mousemove", x, y)
        time.sleep(0.2)
        self.xdotool("click", 1)

    def key(self, *keys):
        for k in keys:
            self.xdotool("key", k)

    def top_windows(self):
        """The viewable top-level windows."""
        return [w for w in self.session.window_tree().children if self.session.viewable(w.id)]

    def keep(self, name):
        """Saves a screenshot in the working directory and returns a sentence saying where."""
        path = os.path.join(os.getcwd(), "transitions-tab-%s.png" % name)
        try:
            self.session.screenshot(path)
            return "screenshot kept: %s" % path
        except (h.HarnessError, OSError) as exc:
            return "no screenshot: %s" % exc


class TabButtons:
    """Where the transitions page's first row shows its add, remove and properties icons."""

    def __init__(self, screen):
        tree = screen.session.window_tree()
        dock = tree.find(h.DOCK_TITLE)
        if dock is None:
            raise h.HarnessError("no window titled %r on the screen" % h.DOCK_TITLE)
        image = screen.session.grab()
        x0, y0, w, hh = dock.rect
        # The checked tab button: the lowest highlighted band (the preview's checked toggles are above).
        tab_bottom = None
        previous = False
        for y in range(y0, y0 + hh):
            lit = sum(1 for x in range(x0, x0 + w) if is_highlight(image.pixel(x, y))) >= MIN_BAND_PIXELS
            if previous and not lit:
                tab_bottom = y - 1
            previous = lit
        if tab_bottom is None:
            raise h.HarnessError("no checked tab button in the dock %r" % dock)
        # The icons of the first row below the tab bar, in the dock's right half.
        right = range(x0 + w // 2, x0 + w)
        top = bottom = None
        for y in range(tab_bottom + 1, min(tab_bottom + 80, y0 + hh)):
            ink = any(is_ink(image.pixel(x, y)) for x in right)
            if ink and top is None:
                top = y
            elif not ink and top is not None:
                bottom = y
                break
        if top is None or bottom is None:
            raise h.HarnessError("no row of icons below the tab bar (its bottom at y %d)" % tab_bottom)
        groups = []
        for x in right:
            if any(is_ink(image.pixel(x, y)) for y in range(top, bottom)):
                if groups and x - groups[-1][1] <= ICON_GAP:
                    groups[-1][1] = x
                else:
                    groups.append([x, x])
        # The choice's arrow, then add, remove and properties.
        if len(groups) < 4:
            raise h.HarnessError("the row at y %d-%d shows %d groups of light pixels, not the choice's arrow and "
                                 "three icons: %s" % (top, bottom, len(groups), groups))
        self.y = (top + bottom) // 2
        self.bottom = bottom
        self.add_x = (groups[-3][0] + groups[-3][1]) // 2
        self.remove_x = (groups[-2][0] + groups[-2][1]) // 2
        self.properties_x = (groups[-1][0] + groups[-1][1]) // 2


class TransitionsTab(ObsTestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = h.Session(module=True)
        cls.screen = Screen(cls.session)
        cls.rec = {}
        cls.obs = None
        cls.ws = None
        rec = cls.rec

        def start():
            cls.session.home.update_module_config({"main_dock_tab": TRANSITIONS_TAB})
            run = cls.obs = cls.session.start_obs()
            run.wait_module_loaded(START_TIMEOUT)
            run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
            cls.ws = run.connect()
            for name in ("V1", "V2"):
                vendor(cls.ws, "CreateScene", {"sceneName": name})
            rec["kinds"] = cls.ws.request("GetTransitionKindList")["transitionKinds"]
            rec["start"] = transitions(cls.ws)

        def find_buttons():
            """The tab's buttons once the page is drawn (OBS may still be laying its window out)."""
            seen = []

            def attempt():
                try:
                    return TabButtons(cls.screen)
                except h.HarnessError as exc:
                    seen[:] = [str(exc)]
                    return None
            try:
                return wait_for("the tab's buttons on the screen", attempt)
            except h.HarnessError as exc:
                raise h.HarnessError("%s (last: %s)" % (exc, seen[0] if seen else "-")) from None

        def add_by_clicks(step):
            """Adds a transition of KIND through the tab; returns the list afterwards."""
            try:
                buttons = find_buttons()
                cls.screen.click(buttons.add_x, buttons.y)
                # The type menu pops up below the button.
                menu = wait_for("the type menu", lambda: next(
                    (w for w in cls.screen.top_windows() if abs(w.x - buttons.add_x) < 60
                     and 0 <= w.y - buttons.bottom < 40 and w.height > 40), None))
                kinds = rec["kinds"]
                # Its entries are the transition kinds in OBS's order, one text line each.
                entry_y = menu.y + int((kinds.index(KIND) + 0.5) * menu.height / len(kinds))
                cls.screen.click(menu.x + menu.width // 2, entry_y)
                wait_for("the name question", lambda: any(w.name == "Add Transition" for w in cls.screen.top_windows()))
                before = names(transitions(cls.ws))
                # The proposed name is accepted as it stands.
                cls.screen.key("Return")
                return wait_for("a new transition in the list",
                                lambda: (lambda t: t if len(names(t)) > len(before) else None)(transitions(cls.ws)))
            except h.HarnessError as exc:
                raise h.HarnessError("%s\n%s" % (exc, cls.screen.keep(step))) from None

        def switch_to(scene):
            mark = cls.obs.mark()
            vendor(cls.ws, "SetCurrentScene", {"sceneName": scene})
            return cls.obs.wait_log(SWITCH_RE % scene, STEP_TIMEOUT, after=mark).groups()

        def add():
            rec["added"] = add_by_clicks("add")

        def switch():
            rec["switch"] = switch_to("V2")

        def again():
            rec["again"] = add_by_clicks("again")
            rec["switch again"] = switch_to("V1")

        def properties():
            """OBS's own properties window of the selected transition, opened from the gear and closed."""
            try:
                def properties_window():
                    return next((w for w in cls.screen.top_windows() if w.name and "'Swipe 2'" in w.name), None)

                buttons = find_buttons()
                cls.screen.click(buttons.properties_x, buttons.y)
                try:
                    window = wait_for("OBS's properties window", properties_window, timeout=8)
                except h.HarnessError:
                    # A click that lands while the window system is still busy with the last step
                    # (the name question closing) is lost now and then: one more, on the same place.
                    cls.screen.click(buttons.properties_x, buttons.y)
                    window = wait_for("OBS's properties window", properties_window)
                rec["properties title"] = window.name
                # OBS shows it without making it the focus; with no window manager here the test does.
                cls.screen.xdotool("windowfocus", "--sync", window.id)
                # Return is the window's OK, which closes it at once; OBS's Cancel (and Escape) first asks
                # whether to keep the settings.
                cls.screen.key("Return")
                wait_for("the properties window closed",
                         lambda: not any(w.name == window.name for w in cls.screen.top_windows()))
            except h.HarnessError as exc:
                raise h.HarnessError("%s\n%s" % (exc, cls.screen.keep("properties"))) from None

        def remove():
            try:
                buttons = find_buttons()
                for answer, keys in (("no", ("Escape",)), ("yes", ("Tab", "space"))):
                    cls.screen.click(buttons.remove_x, buttons.y)
                    wait_for("the question", lambda: any(w.name == "Remove Transition"
                                                         for w in cls.screen.top_windows()))
                    cls.screen.key(*keys)
                    wait_for("the question closed", lambda: not any(w.name == "Remove Transition"
                                                                    for w in cls.screen.top_windows()))
                    # The dock handles the answer before the next request reaches it.
                    rec["after " + answer] = transitions(cls.ws)
            except h.HarnessError as exc:
                raise h.HarnessError("%s\n%s" % (exc, cls.screen.keep("remove"))) from None

        def stop():
            if cls.ws is not None:
                cls.ws.close()
                cls.ws = None
            if cls.obs is None:
                raise h.HarnessError("OBS never started")
            cls.obs.stop()
            collection = cls.session.home.read_collection("Untitled")
            rec["saved"] = h.module_state(collection) if collection else None

        add.needs = ("start",)
        switch.needs = ("add",)
        again.needs = ("add",)
        properties.needs = ("again",)
        remove.needs = ("again",)
        try:
            cls.run_phases([("start", start), ("add", add), ("switch", switch), ("again", again),
                            ("properties", properties), ("remove", remove), ("stop", stop)])
        except BaseException:
            cls.session.close()
            raise

    @classmethod
    def tearDownClass(cls):
        if cls.ws is not None:
            cls.ws.close()
        cls.session.close()

    def test_01_tab_lists_the_built_ins(self):
        self.need("start")
        self.assertEqual(names(self.rec["start"]), ["Fade", "Cut"])
        self.assertIn(KIND, self.rec["kinds"])

    def test_02_add_proposes_the_type_name_and_selects_it(self):
        self.need("add")
        added = self.rec["added"]
        self.assertEqual(names(added), ["Fade", "Cut", "Swipe"])
        swipe = added["transitions"][2]
        self.assertEqual(swipe.get("transitionKind"), KIND)
        self.assertEqual(added.get("currentTransitionUuid"), swipe.get("transitionUuid"))

    def test_03_the_next_switch_runs_it(self):
        self.need("switch")
        name, kind, ms = self.rec["switch"]
        self.assertEqual((name, kind, int(ms)), ("Swipe", KIND, 300))

    def test_04_a_second_add_proposes_a_numbered_name(self):
        self.need("again")
        self.assertEqual(names(self.rec["again"]), ["Fade", "Cut", "Swipe", "Swipe 2"])
        name, kind, _ = self.rec["switch again"]
        self.assertEqual((name, kind), ("Swipe 2", KIND))

    def test_05_gear_opens_obs_properties_window(self):
        self.need("properties")
        self.assertIn("Swipe 2", self.rec["properties title"])

    def test_05b_remove_asks_first(self):
        self.need("remove")
        self.assertEqual(names(self.rec["after no"]), ["Fade", "Cut", "Swipe", "Swipe 2"])
        after = self.rec["after yes"]
        self.assertEqual(names(after), ["Fade", "Cut", "Swipe"])
        self.assertEqual(after.get("currentTransitionUuid"), "stilwane.fade")

    def test_06_ends_cleanly_and_keeps_the_transition(self):
        self.need("stop")
        self.assertCleanExit(self.obs)
        saved = self.rec["saved"]
        self.assertIsNotNone(saved, "no Stilwane object in the saved scene collection")
        kept = [(t.get("name"), t.get("type")) for t in saved.get("vertical_transitions", [])]
        self.assertIn(("Swipe", KIND), kept)
        self.assertNotIn("Swipe 2", [n for n, _ in kept])


if __name__ == "__main__":
    main()
