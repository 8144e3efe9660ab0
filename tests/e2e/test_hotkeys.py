# SPDX-License-Identifier: GPL-2.0-or-later
"""The plug-in's hotkeys in the real OBS, pressed through obs-websocket's TriggerHotkeyByName.

One OBS run, config.json seeded with a binding of the save-replay hotkey: OBS lists the nine global
hotkeys and one per vertical scene; a scene's hotkey makes that scene current, and in studio mode puts
it in the preview, from where the transition hotkey takes it to program; the recording hotkeys record
the vertical canvas into a file. After OBS's exit config.json still holds the seeded binding.
"""

import os
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

import obsharness as h  # noqa: E402
import outputcase as oc  # noqa: E402
from e2ecase import ObsTestCase, main  # noqa: E402

START_TIMEOUT = 60
STATE_TIMEOUT = 30
RECORD_SECONDS = 3
GLOBAL_HOTKEYS = ["stilwane.start_streaming", "stilwane.stop_streaming", "stilwane.start_recording",
                  "stilwane.stop_recording", "stilwane.start_replay", "stilwane.stop_replay",
                  "stilwane.save_replay", "stilwane.open_projector", "stilwane.transition"]
SEEDED = {"stilwane.save_replay": [{"key": "OBS_KEY_F9", "shift": True}]}


def press_until(ws, hotkey, predicate, timeout=15):
    """Presses the hotkey until GetCanvas shows the predicate holds (a running vertical transition
    refuses the next one); returns the last GetCanvas answer. A press runs before the next vendor
    request: both are queued to OBS's user-interface thread, in order."""
    deadline = time.monotonic() + timeout
    while True:
        ws.request("TriggerHotkeyByName", {"hotkeyName": hotkey})
        canvas = oc.vendor(ws, "GetCanvas")
        if predicate(canvas) or time.monotonic() > deadline:
            return canvas
        time.sleep(0.3)


def shows(field, name):
    return lambda canvas: canvas.get(field, {}).get("sceneName") == name


class Hotkeys(ObsTestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = h.Session(module=True)
        cls.rec = {}
        cls.obs = None
        rec = cls.rec
        cls.record_dir = os.path.join(cls.session.home.path, "vertical")
        cls.session.home.update_module_config({"recording_directory": cls.record_dir, "hotkeys": SEEDED})

        def drive():
            run = cls.obs = cls.session.start_obs()
            run.wait_module_loaded(START_TIMEOUT)
            run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
            with run.connect() as ws:
                oc.vendor_until(ws, "GetCanvas")
                uuids = {name: oc.vendor_ok(ws, "CreateScene", {"sceneName": name})["sceneUuid"]
                         for name in ("A", "B")}
                rec["uuids"] = uuids
                rec["listed"] = ws.request("GetHotkeyList")["hotkeys"]

                rec["after_scene"] = press_until(ws, "stilwane.scene." + uuids["B"], shows("currentScene", "B"))
                after = len(ws.events)
                ws.request("SetStudioModeEnabled", {"studioModeEnabled": True})
                oc.wait_vendor_event(ws, "StudioModeChanged", lambda d: d.get("studioMode") is True, after)
                rec["studio_preview"] = press_until(ws, "stilwane.scene." + uuids["A"], shows("previewScene", "A"))
                rec["after_transition"] = press_until(ws, "stilwane.transition", shows("currentScene", "A"))
                ws.request("SetStudioModeEnabled", {"studioModeEnabled": False})

                after = len(ws.events)
                ws.request("TriggerHotkeyByName", {"hotkeyName": "stilwane.start_recording"})
                oc.wait_state(ws, oc.RECORDING, "Active", after, STATE_TIMEOUT)
                oc.pump(ws, RECORD_SECONDS)
                ws.request("TriggerHotkeyByName", {"hotkeyName": "stilwane.stop_recording"})
                rec["recording"] = oc.wait_file_saved(ws, oc.RECORDING, after, STATE_TIMEOUT)
                oc.wait_state(ws, oc.RECORDING, "Idle", after, STATE_TIMEOUT)
                rec["recording_states"] = oc.states(ws, oc.RECORDING, after)

        def shutdown():
            if cls.obs is None:
                raise h.HarnessError("OBS never started")
            cls.obs.stop()
            rec["config"] = cls.session.home.read_module_config()

        try:
            cls.run_phases([("drive", drive), ("shutdown", shutdown)])
        except BaseException:
            cls.session.close()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def test_01_listed_in_obs(self):
        self.need("drive")
        listed = self.rec["listed"]
        for name in GLOBAL_HOTKEYS + ["stilwane.scene." + u for u in self.rec["uuids"].values()]:
            self.assertIn(name, listed)

    def test_02_scene_hotkeys(self):
        self.need("drive")
        self.assertEqual(self.rec["after_scene"]["currentScene"]["sceneUuid"], self.rec["uuids"]["B"])
        studio = self.rec["studio_preview"]
        self.assertEqual((studio["previewScene"]["sceneName"], studio["currentScene"]["sceneName"]), ("A", "B"))
        self.assertLogHas(self.obs, r"-> 'B' \(source=vertical, trigger=scene-hotkey\)")

    def test_03_transition_hotkey(self):
        self.need("drive")
        self.assertEqual(self.rec["after_transition"]["currentScene"]["sceneName"], "A")
        self.assertLogHas(self.obs, r"vertical studio transition 'A': \d+ ms, trigger=transition-hotkey")

    def test_04_recording_hotkeys(self):
        self.need("drive")
        self.assertEqual(self.rec["recording_states"], ["Starting", "Active", "Stopping", "Idle"])
        path = self.rec["recording"]
        self.assertEqual(os.path.dirname(path), self.record_dir)
        info = h.media_info(path)
        self.assertEqual((info["video_codec"], info["width"], info["height"]), ("h264", 1080, 1920), info)
        self.assertGreaterEqual(info["duration"], RECORD_SECONDS - 1, info)

    def test_05_exit_keeps_the_bindings(self):
        self.need("drive", "shutdown")
        self.assertCleanExit(self.obs)
        self.assertEqual(self.rec["config"].get("hotkeys"), SEEDED)


if __name__ == "__main__":
    main()
