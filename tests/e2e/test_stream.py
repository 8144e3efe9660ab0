# SPDX-License-Identifier: GPL-2.0-or-later
"""The vertical stream in the real OBS, to local receivers in OBS's network namespace: started with OBS's
main stream, carried over plain RTMP and over RTMPS, through a receiver that dies and comes back, and
OBS interrupted while all three vertical outputs run.

Two OBS runs in one throwaway HOME; the stream key of the module's configuration is a secret that must
not show in any log.

run 1 (auto start; the module's server is receiver B, OBS's own stream goes to receiver A)
  auto_start  a main scene with a picture and a vertical scene made from it; OBS's main stream starts
              (obs-websocket StartStream): the vertical stream starts by itself and goes Live, B gets
              it under the configured key;
  reconnect   OBS's recording runs (the vertical recording follows it); B is killed: the vertical
              stream goes Reconnecting, and Live again once a new receiver listens on B's port; OBS's
              own stream and both recordings go on untouched;
  stop        OBS's recording and main stream stop: the vertical ones stop with them, the receivers
              end by themselves; OBS is stopped.
run 2 (RTMPS; the module's server is a TLS receiver whose certificate a throwaway authority signed)
  rtmps       the vendor's StartStream, StartRecord and StartReplayBuffer start the three vertical
              outputs with OBS's own outputs idle; the stream reaches the TLS receiver;
  sigint      SIGINT to OBS while the three run: OBS ends cleanly and leaves a complete recording.

The test methods then judge the receivers' captures and the files with ffprobe and a full decode.
"""

import json
import os
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

import obsharness as h  # noqa: E402
import outputcase as oc  # noqa: E402
from e2ecase import ObsTestCase, main  # noqa: E402

START_TIMEOUT = 60
LIVE_TIMEOUT = 45  # from the main stream's start (or the vendor's request) to the vertical Live
RECONNECT_TIMEOUT = 45  # from the receiver's death to Reconnecting, and from its return to Live
EXIT_TIMEOUT = 20  # a receiver ends once the publisher hung up
SECRET = "stilwane-e2e-secret-4f7c2a9d"  # the vertical stream key: must never reach the log
MAIN_KEY = "main-key"
BITRATE = 2500
VERTICAL = (1080, 1920)
SIGINT_AFTER = 8  # seconds the three vertical outputs run before OBS gets SIGINT
KEYFRAME_SECONDS = 2  # the shared encoder's keyframe interval: a recording joining it starts at a keyframe
ENCODER_LAG = 2.5  # seconds of frames x264 may still hold at a forced stop on a busy machine


class VerticalStream(ObsTestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = h.Session(module=True)
        cls.rec = {}
        cls.runs = {}
        cls.rx = {}
        cls.events = {}  # run -> the obs-websocket events its client received
        home = cls.session.home
        cls.media = os.path.join(home.path, "media")
        cls.main_dir = os.path.join(cls.media, "main")
        cls.vertical_dir = os.path.join(cls.media, "vertical")
        for d in (cls.main_dir, cls.vertical_dir):
            os.makedirs(d)
        rec, rx = cls.rec, cls.rx
        net = cls.session.net

        def auto_start():
            rx["A"] = h.RtmpReceiver(net, cls.media, name="A", key=MAIN_KEY)
            rx["B"] = h.RtmpReceiver(net, cls.media, name="B", key=SECRET)
            oc.seed_main_outputs(home, cls.main_dir)
            oc.seed_module(home, server=rx["B"].server_url, key=SECRET, auto_start=True, video_bitrate=BITRATE,
                           recording_directory=cls.vertical_dir, recording_format="mp4",
                           recording_follow_main=True, replay_follow_main=False)
            run = cls.runs[1] = cls.session.start_obs()
            run.wait_module_loaded(START_TIMEOUT)
            run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
            ws = cls.ws = run.connect()
            cls.events[1] = ws.events
            scene = oc.add_main_picture(ws)
            oc.add_vertical_scene(ws, scene)
            rec["status_before"] = oc.status(ws)
            oc.set_main_stream(ws, rx["A"].server_url, MAIN_KEY)
            after = rec["auto_after"] = len(ws.events)
            started = time.monotonic()
            oc.start_main_stream(ws)
            rec["main_stream_started"] = time.monotonic()
            oc.wait_state(ws, oc.STREAM, "Live", after, LIVE_TIMEOUT)
            rec["live_after_s"] = time.monotonic() - started
            rx["B"].wait_receiving()
            rx["A"].wait_receiving()
            oc.pump(ws, 3)
            rec["auto_states"] = oc.states(ws, oc.STREAM, after)
            rec["status_live"] = oc.status(ws)

        def reconnect():
            ws, run = cls.ws, cls.runs[1]
            after = len(ws.events)
            rec["main_recording_path"] = oc.start_main_recording(ws)
            oc.wait_state(ws, oc.RECORDING, "Active", after)
            oc.pump(ws, 2)
            rec["main_before"] = ws.request("GetStreamStatus")
            after = rec["reconnect_after"] = len(ws.events)
            rec["reconnect_mark"] = run.mark()
            rx["B"].kill()
            killed = time.monotonic()
            oc.wait_state(ws, oc.STREAM, "Reconnecting", after, RECONNECT_TIMEOUT)
            rec["reconnecting_after_s"] = time.monotonic() - killed
            back = len(ws.events)
            rx["B2"] = h.RtmpReceiver(net, cls.media, name="B2", key=SECRET, port=rx["B"].port)
            returned = time.monotonic()
            oc.wait_state(ws, oc.STREAM, "Live", back, RECONNECT_TIMEOUT)
            rec["live_again_after_s"] = time.monotonic() - returned
            rx["B2"].wait_receiving()
            oc.pump(ws, 3)
            rec["reconnect_states"] = oc.states(ws, oc.STREAM, after)
            rec["reconnect_recording_states"] = oc.states(ws, oc.RECORDING, after)
            rec["reconnect_main_events"] = [e for e in ws.events[after:]
                                            if e.get("eventType") in ("StreamStateChanged", "RecordStateChanged")]
            rec["main_after"] = ws.request("GetStreamStatus")
            rec["main_record_after"] = ws.request("GetRecordStatus")
            rec["status_reconnected"] = oc.status(ws)
            rec["A_running"] = rx["A"].running()

        reconnect.needs = ("auto_start",)

        def stop():
            ws, run = cls.ws, cls.runs[1]
            after = len(ws.events)
            rec["main_recording_path"] = oc.stop_main_recording(ws)
            rec["vertical_recording_path"] = oc.wait_file_saved(ws, oc.RECORDING, after)
            oc.wait_state(ws, oc.RECORDING, "Idle", after)
            after = rec["stop_after"] = len(ws.events)
            oc.stop_main_stream(ws)
            oc.wait_state(ws, oc.STREAM, "Idle", after)
            rec["stop_states"] = oc.states(ws, oc.STREAM, after)
            rec["status_stopped"] = oc.status(ws)
            rec["B2_exit"] = rx["B2"].wait_exit(EXIT_TIMEOUT)
            rec["A_exit"] = rx["A"].wait_exit(EXIT_TIMEOUT)
            ws.close()
            run.stop()

        stop.needs = ("reconnect",)

        def rtmps():
            if cls.runs.get(1) and cls.runs[1].exit is None:
                cls.runs[1].stop()
            rx["T"] = h.RtmpsReceiver(net, cls.media, name="T", key=SECRET)
            oc.seed_module(home, server=rx["T"].server_url, auto_start=False, replay_seconds=4)
            run = cls.runs[2] = cls.session.start_obs()
            run.wait_module_loaded(START_TIMEOUT)
            run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
            ws = cls.ws = run.connect()
            cls.events[2] = ws.events
            rec["before_run2"] = set(os.listdir(cls.vertical_dir))
            after = rec["rtmps_after"] = len(ws.events)
            rec["rtmps_start"] = oc.vendor(ws, "StartStream")
            oc.wait_state(ws, oc.STREAM, "Live", after, LIVE_TIMEOUT)
            rx["T"].wait_receiving()
            rec["rtmps_record"] = oc.vendor(ws, "StartRecord")
            rec["rtmps_replay"] = oc.vendor(ws, "StartReplayBuffer")
            oc.wait_state(ws, oc.RECORDING, "Active", after)
            oc.wait_state(ws, oc.REPLAY, "Active", after)
            rec["recording_active_at"] = time.monotonic()
            rec["main_idle"] = ws.request("GetStreamStatus")
            oc.pump(ws, SIGINT_AFTER)
            rec["status_all"] = oc.status(ws)

        def sigint():
            run = cls.runs[2]
            cls.ws.close()
            rec["sigint_at"] = time.monotonic()
            run.stop()
            rec["T_exit"] = rx["T"].wait_exit(EXIT_TIMEOUT)
            rx["T"].kill()  # the authority leaves the trust store with it
            rec["store_after"] = [n for n in os.listdir(h.LocalCertificates.STORE)
                                  if n.startswith(h.LocalCertificates.PREFIX)]

        sigint.needs = ("rtmps",)

        try:
            cls.run_phases([("auto_start", auto_start), ("reconnect", reconnect), ("stop", stop),
                            ("rtmps", rtmps), ("sigint", sigint)])
        except BaseException:
            cls.close_all()
            raise

    @classmethod
    def close_all(cls):
        for receiver in cls.rx.values():
            receiver.kill()
        cls.session.close()

    @classmethod
    def tearDownClass(cls):
        cls.close_all()

    # -- helpers ----------------------------------------------------------------------------------------

    def receiver_report(self, *names):
        return "".join(self.rx[n].describe() for n in names if n in self.rx)

    def assertVerticalMedia(self, path, what, complete=True):
        self.assertTrue(os.path.isfile(path), "%s: no file %s" % (what, path))
        info = h.media_info(path)
        self.assertEqual(info["video_codec"], "h264", "%s: %s" % (what, info))
        self.assertEqual((info["width"], info["height"]), VERTICAL, "%s: %s" % (what, info))
        self.assertEqual(info["audio_codec"], "aac", "%s: %s" % (what, info))
        if complete:
            frames, errors = h.decode_check(path)
            self.assertGreater(frames, 0, "%s: no frame decoded" % what)
            self.assertEqual(errors, [], "%s: decoding reported errors" % what)
        return info

    # -- auto start --------------------------------------------------------------------------------------

    def test_01_auto_start(self):
        self.need("auto_start")
        run = self.runs[1]
        self.assertEqual(self.rec["status_before"]["stream"]["stateName"], "Idle")
        m = self.assertLogHas(run, oc.STREAM_STARTING_RE)
        self.assertEqual(int(m.group(1)), BITRATE)
        self.assertNotRegex(run.log_text(), oc.AUTO_START_FAILED_RE)
        states = self.rec["auto_states"]
        self.assertEqual(states[:2], ["Connecting", "Live"], states)
        self.assertEqual(self.rec["status_live"]["stream"]["stateName"], "Live")
        self.assertIsNone(self.rx["B"].key_mismatch(), self.receiver_report("B"))
        sys.stderr.write("vertical stream Live %.1f s after OBS's StartStream\n" % self.rec["live_after_s"])

    def test_02_vertical_capture(self):
        self.need("auto_start")
        # B died with the stream running (no trailer), so only its header and packets count.
        info = self.assertVerticalMedia(self.rx["B"].path, "receiver B", complete=False)
        self.assertGreater(info["video_span"] or 0, 2.0, info)

    def test_03_main_stream_unchanged(self):
        self.need("auto_start", "stop")
        self.assertEqual(self.rec["A_exit"], 0, self.receiver_report("A"))
        info = h.media_info(self.rx["A"].path)
        self.assertEqual(info["video_codec"], "h264", info)
        self.assertNotEqual((info["width"], info["height"]), VERTICAL, info)
        frames, errors = h.decode_check(self.rx["A"].path)
        self.assertEqual(errors, [], "main capture")
        self.assertIsNone(self.rx["A"].key_mismatch(), self.receiver_report("A"))

    # -- reconnect -----------------------------------------------------------------------------------------

    def test_04_reconnect(self):
        self.need("reconnect")
        states = self.rec["reconnect_states"]
        self.assertIn("Reconnecting", states)
        self.assertEqual(states[-1], "Live", states)
        self.assertNotIn("Idle", states, "the stream must not give up: %s" % states)
        after = self.rec["reconnect_mark"]
        log = self.runs[1].log_text()[after:]
        self.assertRegex(log, r"Output 'stilwane_output': Reconnecting in", "libobs's reconnect line")
        self.assertIsNone(self.rx["B2"].key_mismatch(), self.receiver_report("B2"))
        sys.stderr.write("Reconnecting %.1f s after the receiver died, Live %.1f s after it returned\n"
                         % (self.rec["reconnecting_after_s"], self.rec["live_again_after_s"]))

    def test_05_reconnect_leaves_main_and_recordings_alone(self):
        self.need("reconnect")
        self.assertEqual(self.rec["reconnect_main_events"], [], "OBS's own outputs changed state")
        self.assertEqual(self.rec["reconnect_recording_states"], [], "the vertical recording changed state")
        main = self.rec["main_after"]
        self.assertTrue(main["outputActive"], main)
        self.assertFalse(main["outputReconnecting"], main)
        self.assertGreater(main["outputBytes"], self.rec["main_before"]["outputBytes"])
        self.assertTrue(self.rec["main_record_after"]["outputActive"])
        self.assertTrue(self.rec["A_running"], self.receiver_report("A"))
        self.assertEqual(self.rec["status_reconnected"]["recording"]["stateName"], "Active")

    def test_06_recording_through_reconnect(self):
        self.need("stop")
        path = self.rec["vertical_recording_path"]
        self.assertEqual(os.path.dirname(path), self.vertical_dir)
        self.assertRegex(os.path.basename(path), oc.RECORDING_NAME_RE)
        info = self.assertVerticalMedia(path, "vertical recording")
        main_info = h.media_info(self.rec["main_recording_path"])
        self.assertGreaterEqual(info["duration"], main_info["duration"] - 1.0, (info, main_info))
        # The encoders are shared: the stream's reconnect must leave no hole in the recording.
        self.assertLess(info["video_gap"], 1.0, info)

    # -- stop ------------------------------------------------------------------------------------------------

    def test_07_main_stop_stops_vertical(self):
        self.need("stop")
        states = self.rec["stop_states"]
        self.assertEqual(states[-1], "Idle", states)
        self.assertIn("Stopping", states)
        self.assertEqual(self.rec["status_stopped"]["stream"]["stateName"], "Idle")
        self.assertEqual(self.rec["B2_exit"], 0, "receiver B2 did not end with the stream\n"
                         + self.receiver_report("B2"))
        info = self.assertVerticalMedia(self.rx["B2"].path, "receiver B2")
        self.assertGreater(info["duration"], 2.0, info)
        self.assertCleanExit(self.runs[1])
        # A fresh HOME: OBS itself leaks nothing (one allocation once a collection with an extra canvas
        # is loaded, as in run 2).
        self.assertEqual(self.runs[1].exit.leaks, 0, self.runs[1].describe())

    # -- RTMPS and SIGINT -----------------------------------------------------------------------------------

    def test_08_rtmps(self):
        self.need("rtmps")
        for key in ("rtmps_start", "rtmps_record", "rtmps_replay"):
            self.assertIs(self.rec[key].get("success"), True, "%s: %s" % (key, self.rec[key]))
        self.assertFalse(self.rec["main_idle"]["outputActive"], "OBS's own stream must stay off")
        status = self.rec["status_all"]
        self.assertEqual([status[k]["stateName"] for k in (oc.STREAM, oc.RECORDING, oc.REPLAY)],
                         ["Live", "Active", "Active"], status)
        log = self.runs[2].log_text()
        port = self.rx["T"].port
        self.assertRegex(log, r"\[rtmp stream: 'stilwane_output'\] Connection to rtmps://localhost:%d/live "
                              r"\(127\.0\.0\.1\) successful" % port)
        self.assertIsNone(self.rx["T"].key_mismatch(), self.receiver_report("T"))

    def test_09_rtmps_capture(self):
        self.need("sigint")
        self.assertEqual(self.rec["T_exit"], 0, self.receiver_report("T"))
        info = self.assertVerticalMedia(self.rx["T"].path, "TLS receiver")
        self.assertGreater(info["duration"], 4.0, info)

    def test_10_sigint_with_outputs_running(self):
        self.need("sigint")
        run = self.runs[2]
        self.assertCleanExit(run)
        self.assertLessEqual(run.exit.leaks, 1, run.describe())
        self.assertLogHas(run, h.UNLOADED_RE)
        new = sorted(set(oc.vertical_files(self.vertical_dir)) - self.rec["before_run2"])
        self.assertEqual(len(new), 1, "vertical recordings of run 2: %s" % new)
        # OBS's exit force-stops the outputs: the muxer must still finish the file.
        self.assertLogHas(run, r"\[mp4 output: 'stilwane_recording'\] File output complete")
        info = self.assertVerticalMedia(os.path.join(self.vertical_dir, new[0]), "recording cut by SIGINT")
        # The recording joined the running stream's encoder at its next keyframe, and a forced stop
        # drops what the encoder still holds.
        ran = self.rec["sigint_at"] - self.rec["recording_active_at"]
        self.assertGreaterEqual(info["duration"], ran - KEYFRAME_SECONDS - ENCODER_LAG,
                                "the recording is short: %s after %.1f s" % (info, ran))
        sys.stderr.write("recording cut by SIGINT: %.2f s of %.1f s\n" % (info["duration"], ran))

    def test_11_trust_store_restored(self):
        self.need("sigint")
        self.assertEqual(self.rec["store_after"], [])

    def test_12_state_numbers_match_names(self):
        self.need("auto_start")
        seen = 0
        for events in self.events.values():
            for d in oc.vendor_events(events, "OutputStateChanged"):
                names = oc.STREAM_STATES if d.get("output") == oc.STREAM else oc.FILE_STATES
                self.assertIn(d.get("output"), (oc.STREAM, oc.RECORDING, oc.REPLAY), d)
                self.assertEqual(names[d["state"]], d["stateName"], d)
                seen += 1
        self.assertGreater(seen, 10)

    def test_13_key_not_logged(self):
        self.need("auto_start")
        for index, run in sorted(self.runs.items()):
            for what, text in (("log", run.log_text()), ("stdout", run.stdout_text())):
                lines = [l for l in text.splitlines() if SECRET in l]
                self.assertEqual(lines, [], "the stream key shows in the %s of run %d" % (what, index))
        # Nor in anything obs-websocket handed its clients.
        for index, events in sorted(self.events.items()):
            leaked = [e for e in events if SECRET in json.dumps(e)]
            self.assertEqual(leaked, [], "the stream key shows in events of run %d" % index)
        self.assertNotIn(SECRET, json.dumps(self.rec, default=str), "the stream key shows in a response")


if __name__ == "__main__":
    main()
