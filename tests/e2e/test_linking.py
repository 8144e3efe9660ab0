# SPDX-License-Identifier: GPL-2.0-or-later
"""Scene links in the real OBS: main scenes switched through obs-websocket's own requests make the
linked vertical scenes current (vendor GetCanvas, the log line with trigger and queue delay, the vendor
event); with match-main-transition on, a main cut gives a vertical cut; in studio mode the main preview
moves the vertical preview, and a main studio transition moves the vertical preview to program.

One OBS run drives everything and keeps what it saw; the test methods judge the record.
"""

import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

import obsharness as h  # noqa: E402
from e2ecase import ObsTestCase, main  # noqa: E402

START_TIMEOUT = 60
VENDOR = "stilwane"
LINKED_RE = (r"\[stilwane\] linked vertical scene '%s': (\d+) ms, match_main=(true|false), "
             r"trigger=%s, queued=(\d+) ms")


def vendor(ws, rtype, data=None):
    request = {"vendorName": VENDOR, "requestType": rtype}
    if data is not None:
        request["requestData"] = data
    return ws.request("CallVendorRequest", request).get("responseData", {})


def current_name(ws, key="currentScene"):
    return (vendor(ws, "GetCanvas").get(key) or {}).get("sceneName")


def wait_for(predicate, timeout=10):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.1)
    return True


class Linking(ObsTestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = h.Session(module=True)
        cls.rec = {}
        cls.obs = None
        rec = cls.rec

        def drive():
            run = cls.obs = cls.session.start_obs()
            run.wait_module_loaded(START_TIMEOUT)
            run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
            with run.connect() as ws:
                main_a = ws.request("GetCurrentProgramScene")["sceneName"]
                ws.request("CreateScene", {"sceneName": "Main B"})
                ws.request("CreateInput", {"sceneName": main_a, "inputName": "Picture A",
                                           "inputKind": "color_source_v3", "inputSettings": {}})
                ws.request("CreateInput", {"sceneName": "Main B", "inputName": "Picture B",
                                           "inputKind": "color_source_v3", "inputSettings": {}})
                # Linked by uuid, as the layout templates link them; a plain scene stays current.
                rec["plain"] = vendor(ws, "CreateScene", {"sceneName": "Plain"})
                for main_name, name in ((main_a, "V-A"), ("Main B", "V-B")):
                    rec["gen " + name] = vendor(ws, "GenerateScene", {
                        "mainSceneName": main_name, "template": "FitWidth", "sceneName": name})
                rec["before"] = current_name(ws)

                # A main fade to Main B.
                ws.request("SetCurrentSceneTransition", {"transitionName": "Fade"})
                ws.request("SetCurrentSceneTransitionDuration", {"transitionDuration": 500})
                mark = run.mark()
                after = len(ws.events)
                ws.request("SetCurrentProgramScene", {"sceneName": "Main B"})
                rec["fade_line"] = run.wait_log(LINKED_RE % ("V-B", "transition_start"), 20, after=mark).groups()
                rec["after_fade"] = current_name(ws)
                rec["event"] = ws.wait_event("VendorEvent", lambda d: d.get("vendorName") == VENDOR and d.get(
                    "eventType") == "SceneLinkFollowed", timeout=10, after=after).get("eventData") or {}
                rec["fade_switch"] = run.wait_log(
                    r"\[stilwane\] vertical transition '([^']*)' \(([^)]*)\) (\d+) ms -> 'V-B' "
                    r"\(source=main, trigger=transition_start\)", 20, after=mark).groups()
                time.sleep(1.0)  # the fade's stop work runs; it finds nothing more to do

                # A main cut back to the first main scene: a vertical cut.
                ws.request("SetCurrentSceneTransition", {"transitionName": "Cut"})
                mark = run.mark()
                ws.request("SetCurrentProgramScene", {"sceneName": main_a})
                rec["cut_switch"] = run.wait_log(
                    r"\[stilwane\] vertical transition '([^']*)' \(([^)]*)\) (\d+) ms -> 'V-A' "
                    r"\(source=main, trigger=(transition_start|transition_stop|scene_changed)\)", 20,
                    after=mark).groups()
                rec["after_cut"] = current_name(ws)

                # Studio mode: the main preview leads the vertical preview, a main studio transition
                # takes the vertical preview to program.
                ws.request("SetCurrentSceneTransition", {"transitionName": "Fade"})
                ws.request("SetStudioModeEnabled", {"studioModeEnabled": True})
                wait_for(lambda: vendor(ws, "GetCanvas").get("studioMode") is True)
                mark = run.mark()
                ws.request("SetCurrentPreviewScene", {"sceneName": "Main B"})
                rec["preview_line"] = run.wait_log(
                    r"\[stilwane\] vertical preview scene 'V-B' \(trigger=preview_scene_changed\)", 20,
                    after=mark).group(0)
                rec["studio_preview"] = current_name(ws, "previewScene")
                rec["studio_program_before"] = current_name(ws)
                mark = run.mark()
                ws.request("TriggerStudioModeTransition")
                rec["studio_line"] = run.wait_log(r"\[stilwane\] vertical studio transition 'V-B': (\d+) ms, "
                                                  r"trigger=transition_start", 20, after=mark).group(1)
                wait_for(lambda: current_name(ws) == "V-B")
                rec["studio_program_after"] = current_name(ws)
                ws.request("SetStudioModeEnabled", {"studioModeEnabled": False})

        def shutdown():
            if cls.obs is None:
                raise h.HarnessError("OBS never started")
            cls.obs.stop()

        try:
            cls.run_phases([("drive", drive), ("shutdown", shutdown)])
        except BaseException:
            cls.session.close()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def test_01_scenes_generated_with_links(self):
        self.need("drive")
        for name in ("gen V-A", "gen V-B", "plain"):
            self.assertIs(self.rec[name].get("success"), True, "%s: %s" % (name, self.rec[name]))

    def test_02_main_fade_switches_the_linked_scene(self):
        self.need("drive")
        duration, match_main, queued = self.rec["fade_line"]
        self.assertEqual(int(duration), 500)
        self.assertEqual(match_main, "true")
        self.assertLess(int(queued), 1000)
        self.assertEqual(self.rec["after_fade"], "V-B")
        name, kind, ms = self.rec["fade_switch"]
        self.assertEqual(kind, "fade_transition", "the main fade's copy")
        self.assertEqual(int(ms), 500)

    def test_02b_vendor_event_names_the_switch(self):
        self.need("drive")
        event = self.rec["event"]
        self.assertEqual((event.get("sceneName"), event.get("trigger")), ("V-B", "transition_start"))
        self.assertTrue(event.get("sceneUuid"))
        self.assertTrue(event.get("mainSceneUuid"))

    def test_03_main_cut_gives_a_vertical_cut(self):
        self.need("drive")
        name, kind, ms, trigger = self.rec["cut_switch"]
        self.assertEqual((kind, int(ms)), ("cut_transition", 0))
        self.assertEqual(self.rec["after_cut"], "V-A")

    def test_04_studio_mode_preview_follows_the_main_preview(self):
        self.need("drive")
        self.assertEqual(self.rec["studio_preview"], "V-B")
        self.assertEqual(self.rec["studio_program_before"], "V-A")

    def test_05_main_studio_transition_takes_the_vertical_preview_to_program(self):
        self.need("drive")
        self.assertGreaterEqual(int(self.rec["studio_line"]), 0)
        self.assertEqual(self.rec["studio_program_after"], "V-B")

    def test_06_shutdown_is_clean(self):
        self.need("drive", "shutdown")
        self.assertCleanExit(self.obs)


if __name__ == "__main__":
    main()
