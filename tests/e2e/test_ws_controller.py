# SPDX-License-Identifier: GPL-2.0-or-later
"""A controller written against obs-websocket 5 drives the vertical canvas in the real OBS through the
vendor "stilwane", with obs-websocket 5's request names and fields only: it switches the vertical
scene and hears CurrentProgramSceneChanged, picks a transition and its length, runs a studio-mode
transition, toggles the vertical recording on and off (a real file is written and decoded), and reads
the errorCode of refused requests, which OBS's log also shows.

One OBS run drives everything and keeps what it saw; the test methods judge the record.
"""

import os
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

import obsharness as h  # noqa: E402
from e2ecase import ObsTestCase, main  # noqa: E402

START_TIMEOUT = 60
VENDOR = "stilwane"
RECORD_MS = 2000


def vendor(ws, rtype, data=None):
    """The vendor's own response (CallVendorRequest's responseData.responseData)."""
    request = {"vendorName": VENDOR, "requestType": rtype, "requestData": data or {}}
    return ws.request("CallVendorRequest", request).get("responseData", {})


def vendor_until(ws, rtype, data=None, predicate=lambda r: r.get("success"), timeout=20):
    """Repeats the request until its answer satisfies the predicate (or the time is up)."""
    deadline = time.monotonic() + timeout
    while True:
        answer = vendor(ws, rtype, data)
        if predicate(answer) or time.monotonic() > deadline:
            return answer
        time.sleep(0.2)


def vendor_event(ws, etype, predicate=None, after=0, timeout=10):
    """The eventData of the first vendor event of the type received at index >= after."""

    def match(d):
        if d.get("vendorName") != VENDOR or d.get("eventType") != etype:
            return False
        return predicate is None or predicate(d.get("eventData") or {})

    return ws.wait_event("VendorEvent", match, timeout=timeout, after=after).get("eventData") or {}


class WebSocketController(ObsTestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = h.Session(module=True)
        cls.rec = {}
        cls.obs = None
        rec = cls.rec
        cls.record_dir = os.path.join(cls.session.home.path, "vertical")
        cls.session.home.update_module_config({"recording_directory": cls.record_dir})

        def drive():
            run = cls.obs = cls.session.start_obs()
            run.wait_module_loaded(START_TIMEOUT)
            run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
            with run.connect() as ws:
                vendor_until(ws, "GetSceneList")
                for name in ("Portrait A", "Portrait B"):
                    rec["create " + name] = vendor(ws, "CreateScene", {"sceneName": name})

                after = len(ws.events)
                rec["switch"] = vendor_until(ws, "SetCurrentProgramScene", {"sceneName": "Portrait B"})
                rec["ev_program"] = vendor_event(ws, "CurrentProgramSceneChanged",
                                                 lambda d: d.get("sceneName") == "Portrait B", after)
                rec["program"] = vendor(ws, "GetCurrentProgramScene")

                after = len(ws.events)
                rec["set_cut"] = vendor(ws, "SetCurrentSceneTransition", {"transitionName": "Cut"})
                rec["ev_transition"] = vendor_event(ws, "CurrentSceneTransitionChanged", after=after)
                rec["set_duration"] = vendor(ws, "SetCurrentSceneTransitionDuration", {"transitionDuration": 600})
                rec["ev_duration"] = vendor_event(ws, "CurrentSceneTransitionDurationChanged", after=after)
                rec["transitions"] = vendor(ws, "GetSceneTransitionList")

                # Studio mode is OBS's own; the vertical canvas follows it.
                after = len(ws.events)
                ws.request("SetStudioModeEnabled", {"studioModeEnabled": True})
                rec["ev_studio"] = vendor_event(ws, "StudioModeStateChanged",
                                                lambda d: d.get("studioModeEnabled") is True, after)
                rec["preview"] = vendor(ws, "SetCurrentPreviewScene", {"sceneName": "Portrait A"})
                after = len(ws.events)
                rec["trigger"] = vendor_until(ws, "TriggerStudioModeTransition")
                rec["ev_after_trigger"] = vendor_event(ws, "CurrentProgramSceneChanged",
                                                       lambda d: d.get("sceneName") == "Portrait A", after)
                ws.request("SetStudioModeEnabled", {"studioModeEnabled": False})
                vendor_event(ws, "StudioModeStateChanged", lambda d: d.get("studioModeEnabled") is False, after)

                mark = run.mark()
                rec["refused"] = {
                    "unknown scene": vendor(ws, "SetCurrentProgramScene", {"sceneName": "Nope"}),
                    "duration out of range": vendor(ws, "SetCurrentSceneTransitionDuration",
                                                    {"transitionDuration": 99999}),
                    "duration as text": vendor(ws, "SetCurrentSceneTransitionDuration",
                                               {"transitionDuration": "600"}),
                    "no transition named": vendor(ws, "SetCurrentSceneTransition", {}),
                    "preview outside studio mode": vendor(ws, "GetCurrentPreviewScene"),
                    "scene name taken": vendor(ws, "SetSceneName",
                                               {"sceneName": "Portrait A", "newSceneName": "Portrait B"}),
                }
                rec["refusal_log"] = run.wait_log(r"remote request SetCurrentProgramScene refused \(600\)", 10,
                                                  after=mark).group(0)

                rec["record_idle"] = vendor(ws, "GetRecordStatus")
                rec["toggle_on"] = vendor(ws, "ToggleRecord")
                rec["recording"] = vendor_until(
                    ws, "GetRecordStatus", predicate=lambda r: r.get("outputDuration", 0) >= RECORD_MS, timeout=40)
                rec["toggle_off"] = vendor(ws, "ToggleRecord")
                rec["record_done"] = vendor_until(
                    ws, "GetRecordStatus", predicate=lambda r: r.get("outputActive") is False, timeout=40)
                rec["stream_idle"] = vendor(ws, "GetStreamStatus")

        def shutdown():
            # Runs even when driving failed: OBS must still stop cleanly.
            if cls.obs is None:
                raise h.HarnessError("OBS never started")
            cls.obs.stop()
            files = os.listdir(cls.record_dir) if os.path.isdir(cls.record_dir) else []
            cls.recordings = [os.path.join(cls.record_dir, f) for f in files]

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
        self.assertNotIn("errorCode", answer, key)
        return answer

    def test_01_switches_the_vertical_scene(self):
        self.assertEqual(self.ok("switch")["sceneName"], "Portrait B")
        program = self.ok("program")
        self.assertEqual(self.rec["ev_program"], {"sceneName": "Portrait B", "sceneUuid": program["sceneUuid"]})
        self.assertEqual((program["sceneName"], program["currentProgramSceneName"]), ("Portrait B", "Portrait B"))

    def test_02_transition_and_length(self):
        self.ok("set_cut")
        self.assertEqual(self.rec["ev_transition"], {"transitionName": "Cut", "transitionUuid": "stilwane.cut"})
        self.assertEqual(self.ok("set_duration")["transitionDuration"], 600)
        self.assertEqual(self.rec["ev_duration"], {"transitionDuration": 600})
        transitions = self.ok("transitions")
        self.assertEqual(transitions["currentSceneTransitionName"], "Cut")
        self.assertIn("Fade", [t["transitionName"] for t in transitions["transitions"]])

    def test_03_studio_mode(self):
        self.ok("preview")
        self.assertEqual(self.ok("trigger")["sceneName"], "Portrait A")
        self.assertEqual(self.rec["ev_after_trigger"]["sceneName"], "Portrait A")

    def test_04_refusals_carry_error_codes(self):
        self.need("drive")
        codes = {name: (r.get("success"), r.get("errorCode")) for name, r in self.rec["refused"].items()}
        self.assertEqual(codes, {
            "unknown scene": (False, 600),
            "duration out of range": (False, 402),
            "duration as text": (False, 401),
            "no transition named": (False, 300),
            "preview outside studio mode": (False, 506),
            "scene name taken": (False, 601),
        })
        for name, r in self.rec["refused"].items():
            self.assertEqual(r["code"], r["errorCode"], name)
            self.assertTrue(r["error"], name)

    def test_05_toggles_a_real_recording(self):
        idle = self.ok("record_idle")
        self.assertEqual(idle, {"success": True, "outputActive": False, "outputPaused": False,
                                "outputTimecode": "00:00:00.000", "outputDuration": 0, "outputBytes": 0})
        self.assertEqual(self.ok("toggle_on"), {"success": True, "outputActive": True})
        recording = self.ok("recording")
        self.assertIs(recording["outputActive"], True)
        self.assertGreaterEqual(recording["outputDuration"], RECORD_MS)
        self.assertRegex(recording["outputTimecode"], r"^00:00:\d\d\.\d\d\d$")
        self.assertGreater(recording["outputBytes"], 0)
        self.assertEqual(self.ok("toggle_off"), {"success": True, "outputActive": False})
        self.assertIs(self.ok("record_done")["outputActive"], False)
        self.assertEqual(self.ok("stream_idle")["outputActive"], False)

        self.need("shutdown")
        self.assertEqual(len(self.recordings), 1, self.recordings)
        probe = h.ffprobe(self.recordings[0])
        video = [s for s in probe["streams"] if s.get("codec_type") == "video"]
        self.assertEqual((video[0]["width"], video[0]["height"]), (1080, 1920))
        self.assertGreaterEqual(float(probe["format"]["duration"]), RECORD_MS / 1000 - 0.5)

    def test_06_clean_exit(self):
        self.need("shutdown")
        self.assertCleanExit(self.obs)
        self.assertLogHas(self.obs, r"\[stilwane\] remote request SetSceneName refused \(601\)")


if __name__ == "__main__":
    main()
