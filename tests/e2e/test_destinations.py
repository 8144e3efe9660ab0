# SPDX-License-Identifier: GPL-2.0-or-later
"""The vertical stream to several destinations at once, in the real OBS, from one encode: four
destinations, each with a local server in OBS's network namespace and a stream key of its own.

  first     config.json's "server"/"key": a plain RTMP receiver (named after its host, "127.0.0.1");
  Second    an RTMPS receiver (TLS with a certificate of a throwaway authority);
  Third     a plain RTMP receiver, killed mid-stream and started again on the same port;
  Refused   a server that refuses every publisher (rtmp_refuser.py).

One OBS run:
  live      the vendor's StartStream starts all four: three go Live, Refused fails alone; the vertical
            recording starts beside them;
  refused   StartDestination of Refused while the three are Live: it fails again, alone;
  reconnect Third's receiver dies: Third goes Reconnecting, and Live again once a new receiver listens
            on its port; the first and Second never notice;
  stop      the recording and the stream stop, the receivers end by themselves, OBS is stopped.

The test methods then judge the events, the status snapshots, the log and the receivers' files
(ffprobe: codecs, size, durations, packet timestamps and checksums).
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
LIVE_TIMEOUT = 45
RECONNECT_TIMEOUT = 30
EXIT_TIMEOUT = 20
BITRATE = 2500
KEYFRAME_SECONDS = 2  # the shared encoder's keyframe interval
VERTICAL = (1080, 1920)
FIRST = "127.0.0.1"  # the first destination is named after its server's host
KEYS = {FIRST: "stilwane-e2e-first-7d1e", "Second": "stilwane-e2e-second-3a9b", "Third": "stilwane-e2e-third-c52f",
        "Refused": "stilwane-e2e-refused-91d0"}
LIVE_ONES = (FIRST, "Second", "Third")
STEADY = (FIRST, "Second")  # never disturbed
# libobs names each destination's output after its place in the list (the first has no suffix).
OUTPUT_NAMES = {FIRST: "stilwane_output", "Second": "stilwane_output_2", "Third": "stilwane_output_3",
                "Refused": "stilwane_output_4"}
MAX_GAP = 0.5  # seconds between two packets of a continuous 30 fps stream, with room for a busy machine
STOPPED_RE = r"\[stilwane\] vertical stream to '%s' stopped unexpectedly \(code (-?\d+)\)"


def destination_states(events, name, after=0):
    """The state names one destination went through, from its own OutputStateChanged events."""
    return [d.get("stateName") for d in oc.vendor_events(events, "OutputStateChanged", after)
            if d.get("output") == oc.STREAM and d.get("destination") == name]


def wait_destination(ws, name, state_name, after=0, timeout=LIVE_TIMEOUT):
    try:
        return oc.wait_vendor_event(ws, "OutputStateChanged",
                                    lambda d: d.get("destination") == name and d.get("stateName") == state_name,
                                    after=after, timeout=timeout)
    except h.HarnessError:
        raise h.HarnessError("destination %s did not become %s within %s s; its states since: %s"
                             % (name, state_name, timeout, destination_states(ws, name, after)))


def video_hashes(path):
    """The checksums of the file's video packets, in file order."""
    r = h.subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v", "-show_data_hash", "adler32",
                          "-show_entries", "packet=data_hash", "-of", "csv=p=0", path], capture_output=True, timeout=60)
    return r.stdout.decode(errors="replace").split()


def contains_run(sequence, run):
    """Whether run occurs in sequence as a contiguous stretch."""
    return any(sequence[i:i + len(run)] == run for i in range(len(sequence) - len(run) + 1))


def by_name(status):
    """GetOutputStatus's "destinations" as {name: entry}."""
    return {d["name"]: d for d in status.get("destinations", [])}


class StreamDestinations(ObsTestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = h.Session(module=True)
        cls.rec = {}
        cls.rx = {}
        cls.obs = None
        cls.ws = None
        home = cls.session.home
        cls.media = os.path.join(home.path, "media")
        cls.vertical_dir = os.path.join(cls.media, "vertical")
        os.makedirs(cls.vertical_dir)
        rec, rx, net = cls.rec, cls.rx, cls.session.net

        def live():
            rx[FIRST] = h.RtmpReceiver(net, cls.media, name="first", key=KEYS[FIRST])
            rx["Second"] = h.RtmpsReceiver(net, cls.media, name="second", key=KEYS["Second"])
            rx["Third"] = h.RtmpReceiver(net, cls.media, name="third", key=KEYS["Third"])
            rx["Refused"] = h.RtmpRefuser(net, cls.media)
            extras = [{"name": name, "server": rx[name].server_url, "key": KEYS[name], "enabled": True}
                      for name in ("Second", "Third", "Refused")]
            oc.seed_module(home, server=rx[FIRST].server_url, key=KEYS[FIRST], destinations=extras,
                           auto_start=False, video_bitrate=BITRATE, recording_directory=cls.vertical_dir,
                           recording_format="mp4", recording_follow_main=False, replay_follow_main=False)
            run = cls.obs = cls.session.start_obs()
            run.wait_module_loaded(START_TIMEOUT)
            run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
            ws = cls.ws = run.connect()
            oc.add_vertical_scene(ws, oc.add_main_picture(ws))
            rec["destinations"] = oc.vendor_ok(ws, "GetDestinations")
            after = rec["live_after"] = len(ws.events)
            rec["start"] = oc.vendor(ws, "StartStream")
            for name in LIVE_ONES:
                wait_destination(ws, name, "Live", after)
            wait_destination(ws, "Refused", "Idle", after)
            for name in LIVE_ONES:
                rx[name].wait_receiving()
            oc.vendor_ok(ws, "StartRecord")
            oc.wait_state(ws, oc.RECORDING, "Active", after)
            oc.pump(ws, 2)
            rec["status_live"] = oc.status(ws)

        def refused():
            ws = cls.ws
            after = rec["refused_after"] = len(ws.events)
            mark = cls.obs.mark()
            rec["refused_start"] = oc.vendor(ws, "StartDestination", {"name": "Refused"})
            wait_destination(ws, "Refused", "Connecting", after)
            wait_destination(ws, "Refused", "Idle", after)
            cls.obs.wait_log(STOPPED_RE % "Refused", 10, after=mark)
            oc.pump(ws, 1)
            rec["status_refused"] = oc.status(ws)

        refused.needs = ("live",)

        def reconnect():
            ws = cls.ws
            after = rec["reconnect_after"] = len(ws.events)
            rec["reconnect_mark"] = cls.obs.mark()
            rec["status_before_kill"] = oc.status(ws)
            rx["Third"].kill()
            wait_destination(ws, "Third", "Reconnecting", after, RECONNECT_TIMEOUT)
            back = len(ws.events)
            rx["Third again"] = h.RtmpReceiver(net, cls.media, name="third-again", key=KEYS["Third"],
                                               port=rx["Third"].port)
            wait_destination(ws, "Third", "Live", back, RECONNECT_TIMEOUT)
            rx["Third again"].wait_receiving()
            oc.pump(ws, 2)
            rec["status_reconnected"] = oc.status(ws)

        reconnect.needs = ("live",)

        def stop():
            ws = cls.ws
            after = rec["stop_after"] = len(ws.events)
            oc.vendor_ok(ws, "StopRecord")
            rec["recording_path"] = oc.wait_file_saved(ws, oc.RECORDING, after)
            rec["stop"] = oc.vendor(ws, "StopStream")
            for name in LIVE_ONES:
                wait_destination(ws, name, "Idle", after)
            rec["status_stopped"] = oc.status(ws)
            for name in (FIRST, "Second", "Third again"):
                rec["exit " + name] = rx[name].wait_exit(EXIT_TIMEOUT)
            rec["events"] = list(ws.events)
            ws.close()
            cls.obs.stop()

        stop.needs = ("live",)

        try:
            cls.run_phases([("live", live), ("refused", refused), ("reconnect", reconnect), ("stop", stop)])
            if cls.ws is not None:
                rec.setdefault("events", list(cls.ws.events))
        except BaseException:
            cls.close_all()
            raise

    @classmethod
    def close_all(cls):
        if cls.ws is not None:
            cls.ws.close()
        for receiver in cls.rx.values():
            receiver.kill()
        cls.session.close()

    @classmethod
    def tearDownClass(cls):
        cls.close_all()

    # -- helpers ----------------------------------------------------------------------------------------

    def report(self, *names):
        return "".join(self.rx[n].describe() for n in names if n in self.rx)

    def assertVerticalCapture(self, name):
        path = self.rx[name].path
        self.assertTrue(os.path.isfile(path), "%s: no capture\n%s" % (name, self.report(name)))
        info = h.media_info(path)
        what = "%s: %s" % (name, info)
        self.assertEqual((info["video_codec"], info["audio_codec"]), ("h264", "aac"), what)
        self.assertEqual((info["width"], info["height"]), VERTICAL, what)
        self.assertGreater(info["size"], 100000, what)
        self.assertIsNone(self.rx[name].key_mismatch(), "%s published under another key\n%s"
                          % (name, self.report(name)))
        return info

    def events_since(self, key):
        return self.rec["events"][self.rec[key]:]

    # -- start -----------------------------------------------------------------------------------------

    def test_01_all_start_from_one_request(self):
        self.need("live")
        self.assertIs(self.rec["start"].get("success"), True, self.rec["start"])
        listed = self.rec["destinations"]["destinations"]
        self.assertEqual([(d["name"], d["first"], d["enabled"], d["hasKey"]) for d in listed],
                         [(FIRST, True, True, True), ("Second", False, True, True), ("Third", False, True, True),
                          ("Refused", False, True, True)], listed)
        events = self.events_since("live_after")
        for name in LIVE_ONES:
            self.assertEqual(destination_states(events, name)[:2], ["Connecting", "Live"], name)
        status = by_name(self.rec["status_live"])
        self.assertEqual([status[n]["stateName"] for n in LIVE_ONES + ("Refused",)],
                         ["Live", "Live", "Live", "Idle"], status)
        # The aggregate speaks for all of them and names none while there are extras.
        aggregate = [d for d in oc.vendor_events(events, "OutputStateChanged")
                     if d.get("output") == oc.STREAM and "destination" not in d]
        self.assertIn("Live", [d["stateName"] for d in aggregate])
        log = self.obs.log_text()
        self.assertRegex(log, oc.STREAM_STARTING_RE)
        for name in ("Second", "Third"):
            self.assertRegex(log, r"\[stilwane\] vertical stream to '%s' starting \(shared encoder, %d kbps\)"
                             % (name, BITRATE))
        # One encoder pair for all, opened once for the first start and kept through the reconnect.
        self.assertEqual(len(self.obs.find_all(r"encoder 'stilwane_video' \(\w+\) created")), 1, "encoders made")
        self.assertEqual(len(self.obs.find_all(r"\[x264 encoder: 'stilwane_video'\] preset:")), 1, "x264 opened")
        self.assertRegex(log, r"\[rtmp stream: 'stilwane_output_2'\] Connection to rtmps://localhost:%d/live "
                              r"\(127\.0\.0\.1\) successful" % self.rx["Second"].port)

    def test_02_same_stream_everywhere(self):
        self.need("stop")
        for name in (FIRST, "Second", "Third again"):
            self.assertEqual(self.rec["exit " + name], 0, "%s did not end with the stream\n%s"
                             % (name, self.report(name)))
        first, second = self.assertVerticalCapture(FIRST), self.assertVerticalCapture("Second")
        # Third's first receiver died with the stream running: only its header and packets count.
        third = self.assertVerticalCapture("Third")
        again = self.assertVerticalCapture("Third again")
        # A destination that connects after the shared encoder started joins at its next keyframe.
        self.assertAlmostEqual(first["duration"], second["duration"], delta=KEYFRAME_SECONDS + 1.0,
                               msg=(first, second))
        self.assertGreater(first["duration"], 8.0, first)
        self.assertGreater(third["video_span"], 2.0, third)
        self.assertGreater(again["video_span"], 2.0, again)
        # What Third lost is the outage and a keyframe interval on each side of it, no more.
        self.assertLess(first["video_span"] - third["video_span"] - again["video_span"],
                        RECONNECT_TIMEOUT + 2 * KEYFRAME_SECONDS, (first, third, again))
        # Byte for byte the first's packets: one encode for all. Each output's first packet carries the
        # encoder's SEI of its own, and a capture cut by a dying receiver may end in half a packet.
        reference = video_hashes(self.rx[FIRST].path)
        for name in ("Second", "Third", "Third again"):
            run = video_hashes(self.rx[name].path)[1:-1]
            self.assertGreater(len(run), 50, name)
            self.assertTrue(contains_run(reference, run), "%s's video packets are not the first's" % name)
        sys.stderr.write("durations: first %.2f s, Second %.2f s, Third %.2f + %.2f s\n"
                         % (first["duration"], second["duration"], third["video_span"], again["video_span"]))

    # -- a refused key -------------------------------------------------------------------------------------

    def test_03_refused_destination_fails_alone(self):
        self.need("refused")
        self.assertIs(self.rec["refused_start"].get("success"), True, self.rec["refused_start"])
        for key in ("status_live", "status_refused"):
            status = by_name(self.rec[key])
            refused = status["Refused"]
            self.assertEqual(refused["stateName"], "Idle", (key, refused))
            self.assertNotEqual(refused["lastError"], "", (key, refused))
            self.assertEqual([status[n]["stateName"] for n in LIVE_ONES], ["Live"] * 3, (key, status))
            self.assertEqual(status[FIRST]["lastError"], "", status)
        stops = [int(m.group(1)) for m in self.obs.find_all(STOPPED_RE % "Refused")]
        self.assertEqual(stops, [-3, -3], "libobs's code for a refused stream, once per start")
        self.assertGreaterEqual(self.rx["Refused"].refusals(), 2, self.report("Refused"))
        # Its failure touched no other destination, nor the recording.
        events = self.events_since("refused_after")[:self.rec["reconnect_after"] - self.rec["refused_after"]]
        self.assertEqual([destination_states(events, n) for n in LIVE_ONES], [[], [], []])
        self.assertEqual(oc.states(events, oc.RECORDING), [])

    # -- a receiver that dies and comes back --------------------------------------------------------------

    def test_04_reconnect_of_one(self):
        self.need("reconnect")
        events = self.events_since("reconnect_after")
        states = destination_states(events, "Third")
        self.assertIn("Reconnecting", states)
        self.assertNotIn("Idle", states[:states.index("Live")] if "Live" in states else states)
        self.assertEqual(by_name(self.rec["status_reconnected"])["Third"]["stateName"], "Live")
        log = self.obs.log_text()[self.rec["reconnect_mark"]:]
        self.assertRegex(log, r"Output '%s': Reconnecting in" % OUTPUT_NAMES["Third"])

    def test_05_others_untouched_by_reconnect(self):
        self.need("reconnect", "stop")
        events = self.events_since("reconnect_after")
        stop_at = self.rec["stop_after"] - self.rec["reconnect_after"]
        for name in STEADY:
            self.assertEqual(destination_states(events[:stop_at], name), [], name)
            self.assertEqual(destination_states(self.rec["events"], name).count("Reconnecting"), 0, name)
        self.assertEqual(oc.states(events[:stop_at], oc.RECORDING), [])
        log = self.obs.log_text()
        for name in STEADY:
            self.assertNotRegex(log, r"Output '%s': Reconnecting" % OUTPUT_NAMES[name], name)
        before, after = by_name(self.rec["status_before_kill"]), by_name(self.rec["status_reconnected"])
        for name in STEADY:
            self.assertEqual(after[name]["stateName"], "Live", after[name])
            self.assertGreater(after[name]["totalFrames"], before[name]["totalFrames"], name)
            self.assertGreater(after[name]["bytes"], before[name]["bytes"], name)
            # Measured over the seconds between the two statuses: the stream's real rate, in kb/s.
            self.assertGreater(after[name]["kbps"], 100, after[name])

    def test_06_no_frame_dropped_or_missing(self):
        self.need("stop")
        for key in ("status_live", "status_refused", "status_before_kill", "status_reconnected"):
            if key not in self.rec:
                continue
            status = by_name(self.rec[key])
            self.assertEqual({n: status[n]["droppedFrames"] for n in STEADY}, {n: 0 for n in STEADY}, key)
        # Packet timestamps run on without a hole, in both streams of both captures and the recording.
        files = {name: self.rx[name].path for name in STEADY}
        files["recording"] = self.rec["recording_path"]
        for what, path in files.items():
            for stream in ("v", "a"):
                times = h.packet_times(path, stream)
                self.assertGreater(len(times), 100, (what, stream))
                starts = sorted(t for t, _ in times)
                gap = max(b - a for a, b in zip(starts, starts[1:]))
                self.assertLess(gap, MAX_GAP, "%s: a hole of %.2f s in its %s packets" % (what, gap, stream))
        recording = h.media_info(self.rec["recording_path"])
        self.assertEqual((recording["width"], recording["height"]), VERTICAL, recording)

    # -- stop and secrets ----------------------------------------------------------------------------------

    def test_07_stop(self):
        self.need("stop")
        self.assertIs(self.rec["stop"].get("success"), True, self.rec["stop"])
        status = self.rec["status_stopped"]
        self.assertEqual({d["name"]: d["stateName"] for d in status["destinations"]},
                         {n: "Idle" for n in KEYS}, status)
        self.assertEqual(status["stream"]["stateName"], "Idle", status)
        self.assertCleanExit(self.obs)

    def test_08_keys_never_shown(self):
        self.need("live")
        texts = {"log": self.obs.log_text(), "stdout": self.obs.stdout_text(),
                 "events": json.dumps(self.rec.get("events", [])),
                 "responses": json.dumps({k: v for k, v in self.rec.items() if k != "events"}, default=str)}
        for what, text in texts.items():
            for name, key in KEYS.items():
                lines = [l for l in text.splitlines() if key in l]
                self.assertEqual(lines, [], "%s's stream key shows in the %s" % (name, what))


if __name__ == "__main__":
    main()
