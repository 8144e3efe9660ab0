# SPDX-License-Identifier: GPL-2.0-or-later
"""The vertical recording and replay buffer in the real OBS, following OBS's own recording and replay
buffer, and their files: names, containers, picture size, length and whether they play.

Two OBS runs in one throwaway HOME, the module configured to follow OBS's recording and replay buffer
(replay_seconds 4) into a directory of its own, without a stream key:
run 1 (mp4)
  follow      OBS's recording and replay buffer start (obs-websocket): the vertical ones start with
              them; after more than replay_seconds OBS saves its replay buffer, and the vertical one
              saves with it; then OBS's recording and replay buffer stop, and the vertical ones too;
  unique      files named as the vertical recordings of the next seconds exist already (as a first
              recording in the same second would have left them): the vendor's StartRecord and
              StopRecord make a recording named with " (2)", the existing file untouched;
run 2 (recording_format "mkv")
  mkv         OBS's own stream starts and stops (to a local receiver): without a stream key the
              vertical stream stays idle and the log says why; then the same following as in run 1,
              with Matroska files.
"""

import os
import re
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

import obsharness as h  # noqa: E402
import outputcase as oc  # noqa: E402
from e2ecase import ObsTestCase, main  # noqa: E402

START_TIMEOUT = 60
STATE_TIMEOUT = 30
REPLAY_SECONDS = 4
KEYFRAME_SECONDS = 2  # the shared video encoder's keyframe interval: a saved replay starts at a keyframe
FILL_SECONDS = 8  # the replay buffer runs this long before the save: full, and twice what it keeps
VERTICAL = (1080, 1920)


class VerticalFiles(ObsTestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = h.Session(module=True)
        cls.rec = {}
        cls.runs = {}
        home = cls.session.home
        cls.main_dir = os.path.join(home.path, "media", "main")
        cls.vertical_dir = os.path.join(home.path, "media", "vertical")
        os.makedirs(cls.main_dir)  # the vertical directory is made by the module
        rec = cls.rec

        def start_run(index, fmt):
            oc.seed_main_outputs(home, cls.main_dir, REPLAY_SECONDS)
            oc.seed_module(home, key="", recording_directory=cls.vertical_dir, recording_format=fmt,
                           recording_follow_main=True, replay_follow_main=True, replay_save_with_main=True,
                           replay_seconds=REPLAY_SECONDS, video_bitrate=2500)
            run = cls.runs[index] = cls.session.start_obs()
            run.wait_module_loaded(START_TIMEOUT)
            run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
            ws = cls.ws = run.connect()
            if index == 1:
                scene = oc.add_main_picture(ws)
                oc.add_vertical_scene(ws, scene)
            return run, ws

        def follow_main(key, with_replay=True):
            """OBS's recording (and replay buffer) for a while, a replay saved; records what the
            vertical outputs did under rec[key]."""
            ws = cls.ws
            r = rec[key] = {}
            after = len(ws.events)
            oc.start_main_recording(ws)
            if with_replay:
                oc.start_main_replay(ws)
            oc.wait_state(ws, oc.RECORDING, "Active", after, STATE_TIMEOUT)
            if with_replay:
                oc.wait_state(ws, oc.REPLAY, "Active", after, STATE_TIMEOUT)
                oc.pump(ws, FILL_SECONDS)
                saved = len(ws.events)
                r["main_replay"] = oc.save_main_replay(ws)
                r["replay"] = oc.wait_file_saved(ws, oc.REPLAY, saved, STATE_TIMEOUT)
                r["status_after_save"] = oc.status(ws)
            else:
                oc.pump(ws, FILL_SECONDS)
            stopped = len(ws.events)
            r["main_recording"] = oc.stop_main_recording(ws)
            r["recording"] = oc.wait_file_saved(ws, oc.RECORDING, stopped, STATE_TIMEOUT)
            oc.wait_state(ws, oc.RECORDING, "Idle", stopped, STATE_TIMEOUT)
            if with_replay:
                oc.stop_main_replay(ws)
                oc.wait_state(ws, oc.REPLAY, "Idle", stopped, STATE_TIMEOUT)
            r["recording_states"] = oc.states(ws, oc.RECORDING, after)
            r["replay_states"] = oc.states(ws, oc.REPLAY, after)
            r["status"] = oc.status(ws)

        def follow():
            start_run(1, "mp4")
            follow_main("mp4")

        def unique():
            ws = cls.ws
            # The names the next recordings could get, taken as a first recording in the same second
            # would have taken them.
            now = time.time()
            taken = {}
            for offset in range(-1, 8):
                name = oc.recording_name(oc.stamp_at(now + offset))
                path = os.path.join(cls.vertical_dir, name)
                if not os.path.exists(path):
                    with open(path, "wb") as f:
                        f.write(b"first")
                    taken[name] = path
            rec["taken"] = taken
            after = len(ws.events)
            rec["unique_start"] = oc.vendor(ws, "StartRecord")
            oc.wait_state(ws, oc.RECORDING, "Active", after, STATE_TIMEOUT)
            oc.pump(ws, 2)
            rec["unique_stop"] = oc.vendor(ws, "StopRecord")
            rec["unique_path"] = oc.wait_file_saved(ws, oc.RECORDING, after, STATE_TIMEOUT)
            oc.wait_state(ws, oc.RECORDING, "Idle", after, STATE_TIMEOUT)
            rec["taken_after"] = {}
            for name, path in taken.items():
                with open(path, "rb") as f:
                    rec["taken_after"][name] = f.read()
            for path in taken.values():
                os.remove(path)
            ws.close()
            cls.runs[1].stop()

        unique.needs = ("follow",)

        def mkv():
            if cls.runs.get(1) and cls.runs[1].exit is None:
                cls.runs[1].stop()
            run, ws = start_run(2, "mkv")
            # Without a stream key OBS's own stream leaves the vertical stream alone.
            with h.RtmpReceiver(cls.session.net, os.path.join(home.path, "media"), name="main",
                                key="main-key") as receiver:
                oc.set_main_stream(ws, receiver.server_url, receiver.key)
                mark, after = run.mark(), len(ws.events)
                oc.start_main_stream(ws)
                rec["no_key_line"] = run.wait_log(oc.NO_KEY_RE, STATE_TIMEOUT, after=mark).group(0)
                oc.pump(ws, 1)
                rec["no_key_status"] = oc.status(ws)
                oc.stop_main_stream(ws)
                rec["no_key_states"] = oc.states(ws, oc.STREAM, after)
            follow_main("mkv")
            ws.close()
            run.stop()

        try:
            cls.run_phases([("follow", follow), ("unique", unique), ("mkv", mkv)])
        except BaseException:
            cls.session.close()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    # -- helpers ----------------------------------------------------------------------------------------

    def assertVerticalFile(self, path, name_re, fmt, what):
        self.assertIsNotNone(path, "%s: no file reported" % what)
        self.assertEqual(os.path.dirname(path), self.vertical_dir, what)
        m = re.match(name_re, os.path.basename(path))
        self.assertTrue(m, "%s: unexpected name %r" % (what, os.path.basename(path)))
        self.assertEqual(m.group(4), {"mp4": "mp4", "matroska": "mkv"}[fmt], what)
        info = h.media_info(path)
        self.assertIn(fmt, info["format"].split(","), "%s: %s" % (what, info))
        self.assertEqual(info["video_codec"], "h264", "%s: %s" % (what, info))
        self.assertEqual((info["width"], info["height"]), VERTICAL, "%s: %s" % (what, info))
        self.assertEqual(info["audio_codec"], "aac", "%s: %s" % (what, info))
        frames, errors = h.decode_check(path)
        self.assertGreater(frames, 0, "%s: no frame decoded" % what)
        self.assertEqual(errors, [], "%s: decoding reported errors" % what)
        return m, info

    def check_recording(self, key, fmt):
        r = self.rec[key]
        m, info = self.assertVerticalFile(r["recording"], oc.RECORDING_NAME_RE, fmt, "%s recording" % key)
        self.assertIsNone(m.group(2), "a first recording has no number")
        main_info = h.media_info(r["main_recording"])
        self.assertGreaterEqual(info["duration"], main_info["duration"] - 1.0,
                                "vertical %s, main %s" % (info, main_info))
        self.assertEqual(r["recording_states"], ["Starting", "Active", "Stopping", "Idle"])
        self.assertEqual(r["status"]["recording"]["lastPath"], r["recording"])

    def check_replay(self, key, fmt):
        r = self.rec[key]
        m, info = self.assertVerticalFile(r["replay"], oc.REPLAY_NAME_RE, fmt, "%s replay" % key)
        # libobs's replay buffer keeps at most replay_seconds and then drops packets up to the next
        # keyframe, so a full buffer saves between replay_seconds less one keyframe interval and
        # replay_seconds.
        self.assertGreaterEqual(info["duration"], REPLAY_SECONDS - KEYFRAME_SECONDS - 0.5, info)
        self.assertLessEqual(info["duration"], REPLAY_SECONDS + 0.5, "the replay was not trimmed: %s" % info)
        self.assertEqual(r["replay_states"], ["Starting", "Active", "Stopping", "Idle"])
        self.assertEqual(r["status_after_save"]["replayBuffer"]["lastPath"], r["replay"])
        self.assertEqual(r["status_after_save"]["replayBuffer"]["replaySeconds"], REPLAY_SECONDS)
        sys.stderr.write("%s replay: %.2f s (OBS's own: %.2f s)\n"
                         % (key, info["duration"], h.media_info(r["main_replay"])["duration"]))

    # -- tests ---------------------------------------------------------------------------------------------

    def test_01_recording_follows_main(self):
        self.need("follow")
        self.check_recording("mp4", "mp4")
        self.assertLogHas(self.runs[1], r"\[stilwane\] vertical recording starting \(mp4_output, shared encoders\)")

    def test_02_replay_saved_with_main(self):
        self.need("follow")
        self.check_replay("mp4", "mp4")
        self.assertLogHas(self.runs[1], r"\[stilwane\] vertical replay starting \(replay_buffer, shared encoders\)")

    def test_03_same_second_gets_number(self):
        self.need("unique")
        for key in ("unique_start", "unique_stop"):
            self.assertIs(self.rec[key].get("success"), True, "%s: %s" % (key, self.rec[key]))
        path = self.rec["unique_path"]
        m, info = self.assertVerticalFile(path, oc.RECORDING_NAME_RE, "mp4", "second recording")
        self.assertEqual(m.group(3), "2", os.path.basename(path))
        self.assertIn(oc.recording_name(m.group(1)), self.rec["taken"], "the first file's name")
        self.assertEqual(set(self.rec["taken_after"].values()), {b"first"}, "an existing file was overwritten")

    def test_04_mkv(self):
        self.need("mkv")
        self.check_recording("mkv", "matroska")
        self.check_replay("mkv", "matroska")
        self.assertLogHas(self.runs[2], r"\[stilwane\] vertical recording starting \(ffmpeg_muxer, shared encoders\)")

    def test_05_no_stream_key(self):
        self.need("mkv")
        self.assertEqual(self.rec["no_key_states"], [], "the vertical stream changed state without a key")
        self.assertEqual(self.rec["no_key_status"]["stream"]["stateName"], "Idle")
        self.assertNotRegex(self.runs[2].log_text(), oc.AUTO_START_FAILED_RE)

    def test_06_clean_exits(self):
        self.need("unique", "mkv")
        for index in (1, 2):
            self.assertCleanExit(self.runs[index])
        # OBS itself leaks one allocation once it loads a collection with an extra canvas (run 2),
        # none in a fresh HOME (run 1): the outputs must add nothing.
        self.assertEqual(self.runs[1].exit.leaks, 0, self.runs[1].describe())
        self.assertLessEqual(self.runs[2].exit.leaks, 1, self.runs[2].describe())


if __name__ == "__main__":
    main()
