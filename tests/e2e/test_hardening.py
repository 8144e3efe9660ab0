# SPDX-License-Identifier: GPL-2.0-or-later
"""The module where OBS makes things hard for it, in the real OBS: a vertical stream the server refuses,
vendor requests inside a SerialFrame request batch (run on OBS's graphics thread), and scene-collection
switches while OBS's own recording runs (libobs then gives a restored canvas no video).

One OBS run in one throwaway HOME; the module's stream goes to a local server that refuses every
publisher (its key is a secret that must not show anywhere):
  refused       the vendor's StartStream: the stream connects, is refused (libobs's stop code -3) and
                goes Idle; GetOutputStatus reports why in OBS's own words as stream.lastError, and the
                log says it too;
  serial_frame  a RequestBatch with executionType SerialFrame holding the vendor's GetCanvas is answered
                at once with a refusal naming SerialFrame, while OBS goes on rendering; the same batch
                as SerialRealtime gets the canvas;
  kept          15 s after the refusal stream.lastError still says the same;
  collections   OBS's own recording starts; a new scene collection and back: the vertical canvas is
                1080x1920 with video again, and holds the scenes made before with their uuids, names,
                order and current scene; obs-websocket lists exactly one vertical canvas;
  recording     the vendor's StartRecord and StopRecord make a 1080x1920 recording on that canvas;
  main_stop     OBS's own recording stops;
  shutdown      SIGINT: OBS ends cleanly, leaking no more than OBS alone does here (one allocation).
"""

import json
import os
import re
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

import obsharness as h  # noqa: E402
import outputcase as oc  # noqa: E402
from e2ecase import ObsTestCase, canvas_list_named, main  # noqa: E402

START_TIMEOUT = 60
SWITCH_TIMEOUT = 60
STATE_TIMEOUT = 30
SECRET = "stilwane-e2e-refused-key-9b3e71c4"  # the vertical stream key: never in a response, event or log
SECOND = "Hardening Second"
VERTICAL = (1080, 1920)
KEPT_SECONDS = 15  # how long after the refusal its reason must still be reported
RECORD_SECONDS = 4
BATCH_ANSWER_LIMIT = 2.0  # seconds: a SerialFrame batch with a refused vendor request
BATCH_TIMEOUT = 30  # long enough to see a batch that waited for the user-interface thread
QUIET_SECONDS = 2  # OBS's usual rate of skipped frames is measured over this time before the batch
STALL_FRAMES = 30  # frames beyond the usual rate that mean rendering stopped (one second at 30 fps)

STOPPED_RE = r"\[stilwane\] vertical stream stopped unexpectedly \(code (-?\d+)\): (.*)$"
REFUSED_CODE = -3  # OBS_OUTPUT_INVALID_STREAM: the server took the connection and refused the stream
# OBS's own words for that code (Output.ConnectFail.InvalidStream of its en-US locale).
REFUSED_WORDS = "Could not access the specified channel or stream key"


def vendor_request(rtype, data=None):
    """A CallVendorRequest's requestData for the vendor's request."""
    request = {"vendorName": oc.VENDOR, "requestType": rtype}
    if data is not None:
        request["requestData"] = data
    return request


def scene_entries(scene_list):
    return [(s.get("sceneUuid"), s.get("sceneName")) for s in scene_list.get("scenes", [])]


class Hardening(ObsTestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = h.Session(module=True)
        cls.rec = {}
        cls.refuser = None
        cls.obs = None
        cls.ws = None
        home = cls.session.home
        cls.media = os.path.join(home.path, "media")
        cls.main_dir = os.path.join(cls.media, "main")
        cls.vertical_dir = os.path.join(cls.media, "vertical")
        os.makedirs(cls.main_dir)
        rec = cls.rec

        def start():
            cls.refuser = h.RtmpRefuser(cls.session.net, cls.media)
            oc.seed_main_outputs(home, cls.main_dir)
            oc.seed_module(home, server=cls.refuser.server_url, key=SECRET, auto_start=False, video_bitrate=2500,
                           recording_directory=cls.vertical_dir, recording_format="mp4",
                           recording_follow_main=False, replay_follow_main=False)
            run = cls.obs = cls.session.start_obs()
            run.wait_module_loaded(START_TIMEOUT)
            run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
            ws = cls.ws = run.connect()
            scene = oc.add_main_picture(ws)
            # Two vertical scenes, the current one not the newest: their uuids, names and order and the
            # current scene must survive the collection switches.
            oc.add_vertical_scene(ws, scene, "Vertical")
            oc.vendor_ok(ws, "CreateScene", {"sceneName": "Vertical B"})
            rec["scenes_before"] = oc.vendor_ok(ws, "GetSceneList")
            rec["canvas_before"] = oc.vendor_ok(ws, "GetCanvas")
            rec["status_before"] = oc.status(ws)

        def refused():
            ws = cls.ws
            after = rec["refused_after"] = len(ws.events)
            rec["stream_start"] = oc.vendor(ws, "StartStream")
            if rec["stream_start"].get("success") is not True:
                raise h.HarnessError("the vendor's StartStream failed: %s" % rec["stream_start"])
            oc.wait_state(ws, oc.STREAM, "Idle", after, STATE_TIMEOUT)
            rec["refused_at"] = time.monotonic()
            rec["refused_states"] = oc.states(ws, oc.STREAM, after)
            rec["status_refused"] = oc.status(ws)

        refused.needs = ("start",)

        def serial_frame():
            ws = cls.ws
            requests = [("CallVendorRequest", vendor_request("GetCanvas")), ("GetCurrentProgramScene", None)]
            # How many frames OBS skips here anyway (llvmpipe beside other work skips many): the bar
            # for the frames skipped while the batch runs.
            rec["stats_quiet"] = ws.request("GetStats")
            quiet = time.monotonic()
            oc.pump(ws, QUIET_SECONDS)
            rec["stats_before"] = ws.request("GetStats")
            started = time.monotonic()
            rec["quiet_s"] = started - quiet
            rec["frame_batch"] = ws.request_batch(requests, ws.BATCH_SERIAL_FRAME, timeout=BATCH_TIMEOUT)
            rec["frame_batch_s"] = time.monotonic() - started
            rec["stats_after"] = ws.request("GetStats")
            rec["stats_window_s"] = time.monotonic() - started
            rec["realtime_batch"] = ws.request_batch(requests, ws.BATCH_SERIAL_REALTIME, timeout=BATCH_TIMEOUT)

        serial_frame.needs = ("start",)

        def kept():
            ws = cls.ws
            oc.pump(ws, max(0.0, rec["refused_at"] + KEPT_SECONDS - time.monotonic()))
            rec["status_kept"] = oc.status(ws)
            rec["kept_after_s"] = time.monotonic() - rec["refused_at"]

        kept.needs = ("refused",)

        def switch(request, name):
            ws, run = cls.ws, cls.obs
            mark = run.mark()
            after = len(ws.events)
            ws.request(request, {"sceneCollectionName": name}, timeout=SWITCH_TIMEOUT)
            ws.wait_event("CurrentSceneCollectionChanged", lambda d: d.get("sceneCollectionName") == name,
                          timeout=SWITCH_TIMEOUT, after=after)
            ready = run.wait_log(h.CANVAS_READY_RE, SWITCH_TIMEOUT, after=mark)
            rec["ready"].append((name, ready.group(1), int(ready.group(2)), int(ready.group(3))))

        def collections():
            ws = cls.ws
            rec["ready"] = []
            rec["main_recording_path"] = oc.start_main_recording(ws)
            switch("CreateSceneCollection", SECOND)
            switch("SetCurrentSceneCollection", "Untitled")
            rec["canvas_after"] = oc.vendor_until(ws, "GetCanvas")
            rec["scenes_after"] = oc.vendor(ws, "GetSceneList")
            rec["canvas_list_after"] = ws.request("GetCanvasList")
            rec["main_record_status"] = ws.request("GetRecordStatus")

        collections.needs = ("start",)

        def recording():
            ws = cls.ws
            after = len(ws.events)
            rec["record_start"] = oc.vendor(ws, "StartRecord")
            if rec["record_start"].get("success") is not True:
                return  # judged by the test; OBS goes on to the main recording's stop
            oc.wait_state(ws, oc.RECORDING, "Active", after, STATE_TIMEOUT)
            oc.pump(ws, RECORD_SECONDS)
            saved = len(ws.events)
            rec["record_stop"] = oc.vendor(ws, "StopRecord")
            rec["vertical_path"] = oc.wait_file_saved(ws, oc.RECORDING, saved, STATE_TIMEOUT)
            oc.wait_state(ws, oc.RECORDING, "Idle", saved, STATE_TIMEOUT)

        recording.needs = ("collections",)

        def main_stop():
            rec["main_recording_path"] = oc.stop_main_recording(cls.ws)

        main_stop.needs = ("collections",)

        def shutdown():
            # Runs whatever failed before: OBS must still stop cleanly.
            if cls.obs is None:
                raise h.HarnessError("OBS never started")
            if cls.ws is not None:
                rec["events"] = list(cls.ws.events)
                cls.ws.close()
            cls.obs.stop()

        try:
            cls.run_phases([("start", start), ("refused", refused), ("serial_frame", serial_frame),
                            ("kept", kept), ("collections", collections), ("recording", recording),
                            ("main_stop", main_stop), ("shutdown", shutdown)])
        except BaseException:
            cls.close_all()
            raise

    @classmethod
    def close_all(cls):
        if cls.refuser is not None:
            cls.refuser.kill()
        cls.session.close()

    @classmethod
    def tearDownClass(cls):
        cls.close_all()

    # -- helpers ----------------------------------------------------------------------------------------

    def assertPlainWords(self, text, what):
        """A sentence for a person: words beyond a bare code, and never the stream key."""
        self.assertIsInstance(text, str, what)
        self.assertNotIn(SECRET, text, "%s holds the stream key" % what)
        words = re.findall(r"[A-Za-z]{2,}", re.sub(r"\(?\bcode\s*-?\d+\)?", " ", text))
        self.assertGreaterEqual(len(words), 4, "%s is no plain sentence: %r" % (what, text))

    def batch_results(self, key):
        batch = self.rec[key]
        results = batch.get("results") or []
        self.assertEqual(len(results), 2, "%s: %s" % (key, batch))
        return results

    # -- a refused stream -----------------------------------------------------------------------------------

    def test_01_refused_stream_reports_why(self):
        self.need("refused")
        before = self.rec["status_before"]["stream"]
        self.assertIn("lastError", before, "GetOutputStatus's stream has no lastError: %s" % before)
        self.assertEqual(before["lastError"], "", "a stream that never ran has no error: %s" % before)
        states = self.rec["refused_states"]
        self.assertEqual(states[0], "Connecting", states)
        self.assertEqual(states[-1], "Idle", states)
        self.assertNotIn("Live", states, "the refusing server must not let the stream go live: %s" % states)
        self.assertGreaterEqual(self.refuser.refusals(), 1, self.refuser.describe())
        stream = self.rec["status_refused"]["stream"]
        self.assertEqual(stream.get("stateName"), "Idle", stream)
        self.assertIn("lastError", stream, "GetOutputStatus's stream has no lastError after the refusal: %s"
                      % stream)
        error = stream["lastError"]
        self.assertNotEqual(error, "", "no lastError after the refusal: %s" % stream)
        self.assertPlainWords(error, "stream.lastError")
        self.assertIn(REFUSED_WORDS, error, "not OBS's words for a refused stream")

    def test_02_refusal_logged(self):
        self.need("refused")
        run = self.obs
        m = self.assertLogHas(run, STOPPED_RE, "the refusal is not logged")
        self.assertEqual(int(m.group(1)), REFUSED_CODE, m.group(0))
        self.assertPlainWords(m.group(2), "the log line's reason")
        self.assertIn(REFUSED_WORDS, m.group(2))
        # libobs's own line names the same code.
        self.assertRegex(run.log_text(), r"\[rtmp stream: 'stilwane_output'\] Connection to \S+ failed: %d"
                         % REFUSED_CODE)

    def test_03_reason_kept_until_next_start(self):
        self.need("kept")
        self.assertGreaterEqual(self.rec["kept_after_s"], KEPT_SECONDS)
        stream = self.rec["status_kept"]["stream"]
        self.assertEqual(stream.get("stateName"), "Idle", stream)
        self.assertIn("lastError", stream, stream)
        self.assertEqual(stream["lastError"], self.rec["status_refused"]["stream"].get("lastError"),
                         "stream.lastError changed %.0f s after the refusal" % self.rec["kept_after_s"])

    def test_04_stream_key_never_shown(self):
        self.need("refused")
        for what, text in (("log", self.obs.log_text()), ("stdout", self.obs.stdout_text())):
            lines = [l for l in text.splitlines() if SECRET in l]
            self.assertEqual(lines, [], "the stream key shows in OBS's %s" % what)
        self.assertNotIn(SECRET, json.dumps(self.rec, default=str), "the stream key shows in a response or event")

    # -- a SerialFrame batch ---------------------------------------------------------------------------------

    def test_05_serial_frame_refused_at_once(self):
        self.need("serial_frame")
        seconds = self.rec["frame_batch_s"]
        self.assertLess(seconds, BATCH_ANSWER_LIMIT, "the SerialFrame batch took %.1f s" % seconds)
        vendor, plain = self.batch_results("frame_batch")
        self.assertTrue(vendor.get("requestStatus", {}).get("result"), vendor)
        answer = vendor.get("responseData", {}).get("responseData", {})
        self.assertIs(answer.get("success"), False,
                      "a vendor request on OBS's graphics thread must be refused: %s" % answer)
        self.assertIn("SerialFrame", answer.get("error", ""), answer)
        # The batch went on with the next request.
        self.assertTrue(plain.get("requestStatus", {}).get("result"), plain)

    def test_06_serial_realtime_answers(self):
        self.need("serial_frame")
        vendor, plain = self.batch_results("realtime_batch")
        answer = vendor.get("responseData", {}).get("responseData", {})
        self.assertIs(answer.get("success"), True, answer)
        self.assertEqual((answer.get("width"), answer.get("height")), VERTICAL, answer)
        self.assertEqual(answer.get("canvasUuid"), self.rec["canvas_before"]["canvasUuid"], answer)
        self.assertTrue(plain.get("requestStatus", {}).get("result"), plain)

    def test_07_rendering_went_on(self):
        self.need("serial_frame")
        rec = self.rec
        quiet, before, after = rec["stats_quiet"], rec["stats_before"], rec["stats_after"]
        rendered = after["renderTotalFrames"] - before["renderTotalFrames"]
        skipped = after["renderSkippedFrames"] - before["renderSkippedFrames"]
        usual = (before["renderSkippedFrames"] - quiet["renderSkippedFrames"]) / rec["quiet_s"]
        # A graphics thread held for a second skips a second's frames on top of the usual.
        bar = usual * rec["stats_window_s"] + STALL_FRAMES
        self.assertGreater(rendered, 0, "OBS rendered nothing while the batch ran: %s -> %s" % (before, after))
        self.assertLessEqual(skipped, bar, "OBS skipped %d frames (%d rendered) in the %.2f s of the batch; "
                             "%.1f a second before it" % (skipped, rendered, rec["stats_window_s"], usual))
        sys.stderr.write("SerialFrame batch answered in %.2f s; %d frames rendered, %d skipped meanwhile "
                         "(%.1f a second before it)\n" % (rec["frame_batch_s"], rendered, skipped, usual))

    # -- collection switches while OBS records -------------------------------------------------------------------

    def test_08_canvas_has_video_after_switches(self):
        self.need("collections")
        self.assertTrue(self.rec["main_record_status"].get("outputActive"), "OBS's recording did not run")
        self.assertEqual([(r[0], r[2], r[3]) for r in self.rec["ready"]],
                         [(SECOND, 1080, 1920), ("Untitled", 1080, 1920)], self.rec["ready"])
        canvas = self.rec["canvas_after"]
        self.assertIs(canvas.get("success"), True, canvas)
        self.assertEqual((canvas.get("width"), canvas.get("height")), VERTICAL, canvas)
        self.assertEqual(canvas.get("canvasUuid"), self.rec["ready"][-1][1], "GetCanvas is not the ready canvas")
        listing = self.rec["canvas_list_after"]
        listed = canvas_list_named(listing)
        self.assertEqual(len(listed), 1, "GetCanvasList: %s" % listing)
        self.assertEqual(listed[0].get("canvasUuid"), canvas.get("canvasUuid"), listing)
        video = listed[0].get("canvasVideoSettings") or {}
        self.assertEqual((video.get("baseWidth"), video.get("baseHeight")), VERTICAL,
                         "the vertical canvas has no 1080x1920 video: %s" % listed[0])

    def test_09_no_stray_vertical_canvas(self):
        self.need("collections")
        listing = self.rec["canvas_list_after"]
        ours = [c.get("canvasName") for c in listing.get("canvases", [])
                if str(c.get("canvasName", "")).startswith(h.CANVAS_NAME)]
        self.assertEqual(ours, [h.CANVAS_NAME], "GetCanvasList: %s" % listing)

    def test_10_scenes_kept(self):
        self.need("collections")
        before, after = self.rec["scenes_before"], self.rec["scenes_after"]
        self.assertIs(after.get("success"), True, after)
        names = [n for _, n in scene_entries(before)]
        self.assertTrue({"Vertical", "Vertical B"} <= set(names), before)
        self.assertEqual(scene_entries(after), scene_entries(before), "the vertical scenes changed")
        self.assertEqual(after.get("currentSceneUuid"), before.get("currentSceneUuid"), (before, after))
        current = self.rec["canvas_after"].get("currentScene") or {}
        self.assertEqual(current.get("sceneName"), "Vertical", self.rec["canvas_after"])

    def test_11_vertical_recording_after_switches(self):
        self.need("recording")
        answer = self.rec["record_start"]
        self.assertIs(answer.get("success"), True, "the vendor's StartRecord: %s" % answer)
        path = self.rec.get("vertical_path")
        self.assertTrue(path and os.path.isfile(path), "no vertical recording: %r" % path)
        self.assertEqual(os.path.dirname(path), self.vertical_dir)
        info = h.media_info(path)
        self.assertEqual(info["video_codec"], "h264", info)
        self.assertEqual((info["width"], info["height"]), VERTICAL, info)
        self.assertGreater(info["duration"] or 0, RECORD_SECONDS / 2, info)

    def test_12_shutdown_is_clean(self):
        self.need("main_stop", "shutdown")
        self.assertCleanExit(self.obs)
        self.assertLogHas(self.obs, h.UNLOADED_RE)
        # OBS alone leaks one allocation for the load of a collection holding an extra canvas.
        self.assertLessEqual(self.obs.exit.leaks, 1, self.obs.describe())


if __name__ == "__main__":
    main()
