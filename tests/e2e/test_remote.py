# SPDX-License-Identifier: GPL-2.0-or-later
"""Remote control of the vertical canvas through obs-websocket's CallVendorRequest (vendor "stilwane")
in the real OBS: scenes created, generated from the main scene, renamed, moved, switched and removed;
studio mode's preview and transition; the vertical transitions; the vendor events; malformed
requests answered with errors; a short vertical recording started and stopped with its state and
file events; and what the requests changed surviving a collection switch and the collection file.

One OBS run drives everything and keeps what it saw; the test methods judge the record.
"""

import os
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

import obsharness as h  # noqa: E402
from e2ecase import ObsTestCase, main  # noqa: E402

START_TIMEOUT = 60
SWITCH_TIMEOUT = 60
VENDOR = "stilwane"
OTHER = "Other"
REGISTERED_RE = r"\[stilwane\] remote control registered with obs-websocket"
NIL_UUID = "00000000-0000-0000-0000-000000000000"
RECORD_SECONDS = 2


def vendor(ws, rtype, data=None):
    """The vendor's own response (CallVendorRequest's responseData.responseData)."""
    request = {"vendorName": VENDOR, "requestType": rtype}
    if data is not None:
        request["requestData"] = data
    return ws.request("CallVendorRequest", request).get("responseData", {})


def vendor_until(ws, rtype, data=None, timeout=10):
    """Repeats the request while it fails (a running transition, a canvas still loading)."""
    deadline = time.monotonic() + timeout
    while True:
        answer = vendor(ws, rtype, data)
        if answer.get("success") or time.monotonic() > deadline:
            return answer
        time.sleep(0.2)


def vendor_event(ws, etype, predicate=None, after=0, timeout=10):
    """The eventData of the first vendor event of the type received at index >= after."""

    def match(d):
        if d.get("vendorName") != VENDOR or d.get("eventType") != etype:
            return False
        return predicate is None or predicate(d.get("eventData") or {})

    return ws.wait_event("VendorEvent", match, timeout=timeout, after=after).get("eventData") or {}


def named(name):
    return lambda d: d.get("sceneName") == name


class RemoteControl(ObsTestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = h.Session(module=True)
        cls.rec = {}
        cls.obs = None
        cls.files = {}
        rec = cls.rec

        cls.record_dir = os.path.join(cls.session.home.path, "vertical")
        cls.session.home.update_module_config({"recording_directory": cls.record_dir})

        def drive():
            run = cls.obs = cls.session.start_obs()
            run.wait_module_loaded(START_TIMEOUT)
            rec["ready_uuid"] = run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT).group(1)
            with run.connect() as ws:
                rec["canvas"] = vendor_until(ws, "GetCanvas")
                video = ws.request("GetVideoSettings")
                rec["main_size"] = (video["baseWidth"], video["baseHeight"])
                main_scene = ws.request("GetCurrentProgramScene")
                rec["main_uuid"] = main_scene["sceneUuid"]
                rec["main_name"] = main_scene["sceneName"]
                # The main scene gets a picture that fills it, and a camera-sized source to stack.
                ws.request("CreateInput", {"sceneName": rec["main_name"], "inputName": "Picture",
                                           "inputKind": "color_source_v3",
                                           "inputSettings": {"width": rec["main_size"][0],
                                                             "height": rec["main_size"][1]}})
                cam = ws.request("CreateInput", {"sceneName": rec["main_name"], "inputName": "Cam",
                                                 "inputKind": "color_source_v3",
                                                 "inputSettings": {"width": 640, "height": 360}})
                rec["cam_uuid"] = cam["inputUuid"]

                after = len(ws.events)
                rec["create_alpha"] = vendor(ws, "CreateScene", {"sceneName": "Alpha"})
                rec["ev_list"] = vendor_event(ws, "SceneListChanged", after=after)
                rec["ev_first_current"] = vendor_event(ws, "CurrentSceneChanged", named("Alpha"), after)
                rec["create_dup"] = vendor(ws, "CreateScene", {"sceneName": "Alpha"})
                rec["create_beta"] = vendor(ws, "CreateScene", {"sceneName": "Beta"})

                rec["generate"] = vendor(ws, "GenerateScene", {
                    "mainSceneName": rec["main_name"], "template": "Stacked", "sceneName": "Gen",
                    "extraSources": [{"sourceUuid": rec["cam_uuid"]}]})
                rec["generate_fit"] = vendor(ws, "GenerateScene", {
                    "mainSceneUuid": rec["main_uuid"], "template": "FitWidth", "sceneName": "Fit", "link": False})
                rec["items_gen"] = vendor(ws, "GetSceneItemList", {"sceneName": "Gen"})

                rec["rename"] = vendor(ws, "RenameScene", {"sceneName": "Beta", "newSceneName": "Beta 2"})
                rec["rename_dup"] = vendor(ws, "RenameScene", {"sceneName": "Beta 2", "newSceneName": "Alpha"})
                rec["list_before_move"] = vendor(ws, "GetSceneList")
                rec["move"] = vendor(ws, "MoveScene", {"sceneName": "Fit", "offset": -3})
                rec["list_after_move"] = vendor(ws, "GetSceneList")
                rec["move_out"] = vendor(ws, "MoveScene", {"sceneName": "Fit", "offset": -1})

                after, mark = len(ws.events), run.mark()
                rec["switch"] = vendor(ws, "SetCurrentScene", {"sceneName": "Gen"})
                rec["ev_switch"] = vendor_event(ws, "CurrentSceneChanged", named("Gen"), after)
                rec["switch_log"] = run.wait_log(r"-> 'Gen' \(source=vertical, trigger=websocket\)", 10,
                                                 after=mark).group(0)
                rec["canvas_after_switch"] = vendor(ws, "GetCanvas")
                rec["preview_off"] = vendor(ws, "SetPreviewScene", {"sceneName": "Alpha"})
                rec["tp_off"] = vendor(ws, "TransitionToProgram")

                after = len(ws.events)
                ws.request("SetStudioModeEnabled", {"studioModeEnabled": True})
                rec["ev_studio_on"] = vendor_event(ws, "StudioModeChanged", lambda d: d.get("studioMode") is True,
                                                   after)
                after = len(ws.events)
                rec["preview"] = vendor(ws, "SetPreviewScene", {"sceneName": "Alpha"})
                rec["ev_preview"] = vendor_event(ws, "PreviewSceneChanged", named("Alpha"), after)
                rec["canvas_studio"] = vendor(ws, "GetCanvas")
                after = len(ws.events)
                # The fade to Gen may still run: a running transition refuses the next one.
                rec["tp"] = vendor_until(ws, "TransitionToProgram")
                rec["ev_tp"] = vendor_event(ws, "CurrentSceneChanged", named("Alpha"), after)
                rec["canvas_after_tp"] = vendor(ws, "GetCanvas")
                after = len(ws.events)
                ws.request("SetStudioModeEnabled", {"studioModeEnabled": False})
                rec["ev_studio_off"] = vendor_event(ws, "StudioModeChanged",
                                                    lambda d: d.get("studioMode") is False, after)

                rec["transitions"] = vendor(ws, "GetTransitionList")
                rec["set_cut"] = vendor(ws, "SetCurrentTransition", {"transitionUuid": "stilwane.cut"})
                rec["set_duration"] = vendor(ws, "SetTransitionDuration", {"transitionDurationMs": 450})
                rec["transitions_after"] = vendor(ws, "GetTransitionList")

                after = len(ws.events)
                rec["remove"] = vendor(ws, "RemoveScene", {"sceneName": "Beta 2"})
                rec["ev_remove"] = vendor_event(ws, "SceneListChanged", after=after)
                rec["list_final"] = vendor(ws, "GetSceneList")

                rec["malformed"] = {
                    "no scene": vendor(ws, "SetCurrentScene", {}),
                    "no request data": vendor(ws, "SetCurrentScene"),
                    "scene name not a string": vendor(ws, "SetCurrentScene", {"sceneName": 5}),
                    "unknown scene uuid": vendor(ws, "SetCurrentScene", {"sceneUuid": NIL_UUID}),
                    "main scene is no vertical scene": vendor(ws, "SetCurrentScene",
                                                              {"sceneName": rec["main_name"]}),
                    "null scene name": vendor(ws, "RemoveScene", {"sceneName": None}),
                    "offset not an integer": vendor(ws, "MoveScene", {"sceneName": "Alpha", "offset": "up"}),
                    "fractional offset": vendor(ws, "MoveScene", {"sceneName": "Alpha", "offset": 0.5}),
                    "name is an array": vendor(ws, "CreateScene", {"sceneName": ["x"]}),
                    "unknown template": vendor(ws, "GenerateScene", {
                        "mainSceneName": rec["main_name"], "template": "Spiral", "sceneName": "X"}),
                    "unknown main scene": vendor(ws, "GenerateScene", {
                        "mainSceneName": "Alpha", "template": "Stacked", "sceneName": "X"}),
                    "existing scene name": vendor(ws, "GenerateScene", {
                        "mainSceneName": rec["main_name"], "template": "Stacked", "sceneName": "Gen"}),
                    "unknown extra source": vendor(ws, "GenerateScene", {
                        "mainSceneName": rec["main_name"], "template": "Stacked", "sceneName": "X",
                        "extraSources": [{"sourceUuid": NIL_UUID}]}),
                    "link not a boolean": vendor(ws, "GenerateScene", {
                        "mainSceneName": rec["main_name"], "template": "Stacked", "sceneName": "X", "link": 1}),
                    "unknown transition": vendor(ws, "SetCurrentTransition", {"transitionUuid": "nope"}),
                    "fractional duration": vendor(ws, "SetTransitionDuration", {"transitionDurationMs": 1.5}),
                    "duration as text": vendor(ws, "SetTransitionDuration", {"transitionDurationMs": "300"}),
                }
                # The vertical outputs: refusals, then a short recording with its events.
                rec["outputs_idle"] = vendor(ws, "GetOutputStatus")
                rec["stream_no_key"] = vendor(ws, "StartStream")
                rec["save_idle"] = vendor(ws, "SaveReplayBuffer")
                after = len(ws.events)
                rec["record_start"] = vendor(ws, "StartRecord")
                vendor_event(ws, "OutputStateChanged", lambda d: d.get("stateName") == "Active", after, 20)
                time.sleep(RECORD_SECONDS)
                rec["outputs_recording"] = vendor(ws, "GetOutputStatus")
                rec["record_stop"] = vendor(ws, "StopRecord")
                rec["ev_saved"] = vendor_event(ws, "FileSaved", after=after, timeout=30)
                vendor_event(ws, "OutputStateChanged", lambda d: d.get("stateName") == "Idle", after)
                rec["ev_outputs"] = [e["eventData"]["eventData"] for e in ws.events[after:]
                                     if e.get("eventType") == "VendorEvent"
                                     and e["eventData"].get("eventType") == "OutputStateChanged"]
                rec["outputs_after"] = vendor(ws, "GetOutputStatus")

                rec["unknown_request"] = ws.request_raw("CallVendorRequest", {
                    "vendorName": VENDOR, "requestType": "Explode", "requestData": {}})
                rec["list_after_malformed"] = vendor(ws, "GetSceneList")

                # A new collection brings a canvas of its own; coming back brings the first one back.
                after = len(ws.events)
                ws.request("CreateSceneCollection", {"sceneCollectionName": OTHER}, timeout=SWITCH_TIMEOUT)
                rec["ev_ready_other"] = vendor_event(ws, "CanvasReady", after=after, timeout=SWITCH_TIMEOUT)
                rec["canvas_other"] = vendor_until(ws, "GetCanvas", timeout=SWITCH_TIMEOUT)
                rec["list_other"] = vendor(ws, "GetSceneList")
                after = len(ws.events)
                ws.request("SetCurrentSceneCollection", {"sceneCollectionName": "Untitled"}, timeout=SWITCH_TIMEOUT)
                rec["ev_ready_back"] = vendor_event(ws, "CanvasReady", after=after, timeout=SWITCH_TIMEOUT)
                rec["list_back"] = vendor_until(ws, "GetSceneList", timeout=SWITCH_TIMEOUT)
                rec["transitions_back"] = vendor(ws, "GetTransitionList")

        def shutdown():
            # Runs even when driving failed: OBS must still stop cleanly.
            if cls.obs is None:
                raise h.HarnessError("OBS never started")
            cls.obs.stop()
            cls.files = cls.session.home.collections()

        try:
            cls.run_phases([("drive", drive), ("shutdown", shutdown)])
        except BaseException:
            cls.session.close()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def ok(self, key):
        """The recorded vendor response, which must have succeeded."""
        self.need("drive")
        answer = self.rec[key]
        self.assertIs(answer.get("success"), True, "%s failed: %s" % (key, answer))
        self.assertNotIn("error", answer, key)
        return answer

    def assertFails(self, answer, text, what=""):
        self.assertIs(answer.get("success"), False, "%s succeeded: %s" % (what, answer))
        self.assertIn(text, answer.get("error", ""), what)

    def names(self, key):
        return [s["sceneName"] for s in self.ok(key)["scenes"]]

    def test_01_vendor_registered(self):
        self.need("drive")
        self.assertLogHas(self.obs, REGISTERED_RE)
        self.assertNotRegex(self.obs.log_text(), r"obs-websocket not available|obs-websocket refused")

    def test_02_get_canvas(self):
        canvas = self.ok("canvas")
        self.assertEqual(canvas["canvasUuid"], self.rec["ready_uuid"])
        self.assertEqual(canvas["canvasName"], h.CANVAS_NAME)
        self.assertEqual((canvas["width"], canvas["height"]), (1080, 1920))
        self.assertIs(canvas["studioMode"], False)
        # No scene yet: the fields are left out (obs-websocket would turn a null into {}).
        self.assertNotIn("currentScene", canvas)
        self.assertNotIn("previewScene", canvas)

    def test_03_create_scene(self):
        alpha = self.ok("create_alpha")
        self.assertEqual(alpha["sceneName"], "Alpha")
        self.assertRegex(alpha["sceneUuid"], r"^[0-9a-f-]{36}$")
        self.assertEqual(self.rec["ev_first_current"], {"sceneUuid": alpha["sceneUuid"], "sceneName": "Alpha"})
        self.assertEqual(self.rec["ev_list"], {})
        self.assertFails(self.rec["create_dup"], "already exists")
        self.ok("create_beta")

    def test_04_generate_scene(self):
        gen = self.ok("generate")
        self.assertEqual(gen["sceneName"], "Gen")
        self.ok("generate_fit")
        by_name = {s["sceneName"]: s for s in self.ok("list_before_move")["scenes"]}
        self.assertEqual(by_name["Gen"]["link"], self.rec["main_uuid"])
        self.assertEqual(by_name["Fit"]["link"], "")

        items = self.ok("items_gen")["sceneItems"]
        self.assertEqual(len(items), 3, items)
        background, picture, cam = items
        self.assertTrue(background["locked"])
        self.assertTrue(background["sourceName"].startswith("Stilwane BG - Gen"), background)
        self.assertEqual(picture["sourceUuid"], self.rec["main_uuid"])
        main_w, main_h = self.rec["main_size"]
        scale = 1080 / main_w
        self.assertAlmostEqual(picture["scale"], scale, places=4)
        self.assertEqual((picture["positionX"], picture["positionY"]), (0, 0))
        self.assertEqual(cam["sourceUuid"], self.rec["cam_uuid"])
        self.assertAlmostEqual(cam["scale"], 1080 / 640, places=4)
        top = scale * main_h
        self.assertAlmostEqual(cam["positionY"], top + (1920 - top - 360 * 1080 / 640) / 2, places=1)
        for item in items:
            self.assertIsInstance(item["sceneItemId"], int)
            self.assertTrue(item["visible"])
            for key in ("cropLeft", "cropTop", "cropRight", "cropBottom"):
                self.assertEqual(item[key], 0, item)

    def test_05_rename_and_move(self):
        self.assertEqual(self.ok("rename")["sceneName"], "Beta 2")
        self.assertFails(self.rec["rename_dup"], "already exists")
        self.assertEqual(self.names("list_before_move"), ["Alpha", "Beta 2", "Gen", "Fit"])
        self.assertEqual(self.ok("move")["sceneIndex"], 0)
        self.assertEqual(self.names("list_after_move"), ["Fit", "Alpha", "Beta 2", "Gen"])
        self.assertFails(self.rec["move_out"], "out of the list")

    def test_06_switch_scene(self):
        gen = self.ok("switch")
        self.assertEqual(gen["sceneName"], "Gen")
        self.assertEqual(self.rec["ev_switch"]["sceneUuid"], gen["sceneUuid"])
        self.assertEqual(self.ok("canvas_after_switch")["currentScene"],
                         {"sceneUuid": gen["sceneUuid"], "sceneName": "Gen"})
        self.assertFails(self.rec["preview_off"], "studio mode is off")
        self.assertFails(self.rec["tp_off"], "studio mode is off")

    def test_07_studio_mode(self):
        self.assertEqual(self.rec["ev_studio_on"], {"studioMode": True})
        alpha = self.ok("preview")
        self.assertEqual(self.rec["ev_preview"]["sceneUuid"], alpha["sceneUuid"])
        studio = self.ok("canvas_studio")
        self.assertIs(studio["studioMode"], True)
        self.assertNotIn("previewScene", self.ok("canvas_after_switch"))
        self.assertEqual(studio["previewScene"]["sceneName"], "Alpha")
        self.assertEqual(studio["currentScene"]["sceneName"], "Gen")
        self.assertEqual(self.ok("tp")["sceneName"], "Alpha")
        self.assertEqual(self.rec["ev_tp"]["sceneUuid"], alpha["sceneUuid"])
        self.assertEqual(self.ok("canvas_after_tp")["currentScene"]["sceneName"], "Alpha")
        self.assertEqual(self.rec["ev_studio_off"], {"studioMode": False})
        self.assertLogHas(self.obs, r"vertical studio transition 'Alpha': \d+ ms, trigger=websocket")

    def test_08_transitions(self):
        listed = self.ok("transitions")
        kinds = {t["transitionUuid"]: (t["transitionKind"], t["builtIn"]) for t in listed["transitions"]}
        self.assertEqual(kinds, {"stilwane.fade": ("fade_transition", True),
                                 "stilwane.cut": ("cut_transition", True)})
        self.assertEqual([t["transitionName"] for t in listed["transitions"]], ["Fade", "Cut"])
        self.assertEqual(listed["currentTransitionUuid"], "stilwane.fade")
        self.assertEqual(listed["transitionDurationMs"], 300)
        self.ok("set_cut")
        self.assertEqual(self.ok("set_duration")["transitionDurationMs"], 450)
        after = self.ok("transitions_after")
        self.assertEqual((after["currentTransitionUuid"], after["transitionDurationMs"]), ("stilwane.cut", 450))

    def test_09_remove_scene(self):
        self.ok("remove")
        self.assertEqual(self.rec["ev_remove"], {})
        final = self.ok("list_final")
        self.assertEqual([s["sceneName"] for s in final["scenes"]], ["Fit", "Alpha", "Gen"])
        self.assertEqual(final["currentSceneUuid"], self.ok("canvas_after_tp")["currentScene"]["sceneUuid"])
        self.assertEqual(final["previewSceneUuid"], "")

    def test_10_malformed_requests(self):
        self.need("drive")
        expected = {
            "no scene": "missing field 'sceneUuid' or 'sceneName'",
            "no request data": "missing field 'sceneUuid' or 'sceneName'",
            "scene name not a string": "'sceneName' must be a string",
            "unknown scene uuid": "no vertical scene with the uuid '%s'" % NIL_UUID,
            "main scene is no vertical scene": "no vertical scene named",
            "null scene name": "missing field",
            "offset not an integer": "'offset' must be an integer",
            "fractional offset": "'offset' must be an integer",
            "name is an array": "'sceneName' must be a string",
            "unknown template": "unknown template 'Spiral'",
            "unknown main scene": "no main scene named 'Alpha'",
            "existing scene name": "a vertical scene named 'Gen' already exists",
            "unknown extra source": "extraSources[0]: no source with the uuid",
            "link not a boolean": "'link' must be a boolean",
            "unknown transition": "no vertical transition with the uuid 'nope'",
            "fractional duration": "'transitionDurationMs' must be an integer",
            "duration as text": "'transitionDurationMs' must be an integer",
        }
        self.assertEqual(sorted(expected), sorted(self.rec["malformed"]))
        for what, text in expected.items():
            with self.subTest(what):
                self.assertFails(self.rec["malformed"][what], text, what)
        # obs-websocket itself refuses a request type the vendor does not have.
        self.assertIs(self.rec["unknown_request"]["requestStatus"]["result"], False)
        # Nothing of it changed the scenes.
        self.assertEqual(self.names("list_after_malformed"), ["Fit", "Alpha", "Gen"])

    def test_10a_refusal_codes(self):
        """The code beside each refusal reaches the client through obs-websocket: its own RequestStatus
        numbers."""
        self.need("drive")
        codes = {
            "no scene": 300, "no request data": 300, "null scene name": 300,
            "scene name not a string": 401, "offset not an integer": 401, "fractional offset": 401,
            "name is an array": 401, "link not a boolean": 401, "fractional duration": 401,
            "duration as text": 401,
            "unknown template": 400,
            "unknown scene uuid": 600, "main scene is no vertical scene": 600, "unknown main scene": 600,
            "unknown extra source": 600, "unknown transition": 600,
            "existing scene name": 601,
        }
        self.assertEqual(sorted(codes), sorted(self.rec["malformed"]))
        for what, code in sorted(codes.items()):
            with self.subTest(what):
                self.assertEqual(self.rec["malformed"][what].get("code"), code, self.rec["malformed"][what])
        self.assertEqual(self.rec["save_idle"].get("code"), 501, self.rec["save_idle"])
        self.assertEqual(self.rec["stream_no_key"].get("code"), 702, self.rec["stream_no_key"])
        self.assertNotIn("code", self.ok("outputs_idle"))

    def test_10b_outputs(self):
        idle = self.ok("outputs_idle")
        self.assertEqual({k: v["stateName"] for k, v in idle.items() if k not in ("success", "destinations")},
                         {"stream": "Idle", "recording": "Idle", "replayBuffer": "Idle"})
        # The one destination there is: the default server's, without a key.
        self.assertEqual([(d["name"], d["first"], d["enabled"], d["stateName"]) for d in idle["destinations"]],
                         [("YouTube", True, False, "Idle")])
        self.assertEqual(idle["replayBuffer"]["replaySeconds"], 60)
        self.assertFails(self.rec["stream_no_key"], "could not start: No stream key is set")
        self.assertFails(self.rec["save_idle"], "not running")

        self.assertEqual(self.ok("record_start")["stateName"], "Starting")
        running = self.ok("outputs_recording")["recording"]
        self.assertEqual(running["stateName"], "Active")
        self.assertGreaterEqual(running["elapsedMs"], RECORD_SECONDS * 1000)
        self.assertIn(self.ok("record_stop")["stateName"], ("Stopping", "Idle"))
        self.assertEqual([(e["output"], e["stateName"]) for e in self.rec["ev_outputs"]],
                         [("recording", name) for name in ("Starting", "Active", "Stopping", "Idle")])
        self.assertEqual([e["state"] for e in self.rec["ev_outputs"]], [1, 2, 3, 0])

        saved = self.rec["ev_saved"]
        self.assertEqual(saved["output"], "recording")
        self.assertEqual(os.path.dirname(saved["path"]), self.record_dir)
        self.assertRegex(os.path.basename(saved["path"]), r"^Stilwane-縦 \d{4}-\d\d-\d\d \d\d-\d\d-\d\d\.mp4$")
        self.assertGreater(os.path.getsize(saved["path"]), 0)
        after = self.ok("outputs_after")["recording"]
        self.assertEqual((after["stateName"], after["lastPath"]), ("Idle", saved["path"]))

    def test_11_collection_switch(self):
        self.need("drive")
        other = self.rec["ev_ready_other"]["canvasUuid"]
        self.assertNotEqual(other, self.rec["ready_uuid"])
        self.assertEqual(self.ok("canvas_other")["canvasUuid"], other)
        self.assertEqual(self.ok("list_other")["scenes"], [])
        self.assertEqual(self.rec["ev_ready_back"]["canvasUuid"], self.rec["ready_uuid"])
        # Everything the requests changed was saved with the collection.
        self.assertEqual(self.names("list_back"), ["Fit", "Alpha", "Gen"])
        back = {s["sceneName"]: s for s in self.ok("list_back")["scenes"]}
        self.assertEqual(back["Gen"]["link"], self.rec["main_uuid"])
        transitions = self.ok("transitions_back")
        self.assertEqual((transitions["currentTransitionUuid"], transitions["transitionDurationMs"]),
                         ("stilwane.cut", 450))

    def test_12_shutdown_and_file(self):
        self.need("drive", "shutdown")
        self.assertCleanExit(self.obs)
        self.assertLogHas(self.obs, h.UNLOADED_RE)
        collection = self.files["Untitled"]
        state = h.module_state(collection)
        order = [entry["uuid"] for entry in state["scene_order"]]
        sources = {s.get("uuid"): s for s in collection.get("sources", [])}
        self.assertEqual([sources.get(u, {}).get("name") for u in order], ["Fit", "Alpha", "Gen"])
        gen = [s for s in collection["sources"] if s.get("name") == "Gen"][0]
        self.assertEqual(gen.get("private_settings", {}).get("stilwane_link"), self.rec["main_uuid"])


if __name__ == "__main__":
    main()
