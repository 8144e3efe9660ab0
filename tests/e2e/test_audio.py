# SPDX-License-Identifier: GPL-2.0-or-later
"""The vertical audio in the real OBS, heard in the files: OBS's own recording and the vertical recording
(which follows it) carry looping test tones played by media sources, and each tone's level is measured
per audio stream with a band-pass around its frequency.

OBS's profile: advanced output mode, the main stream on track 1, OBS's recording (Matroska) on tracks 1
and 3, so the first track no main output uses is 2. Three tones, each a media source:
  Tone A  440 Hz   in OBS's main scene and in the vertical scene (shared)
  Tone B  1000 Hz  likewise
  Tone V  2500 Hz  only in the vertical scene
One OBS run, one recording per phase (OBS's and the vertical one together):
  default   vertical track 1, the main stream's: the vertical file carries what OBS's track 1 carries;
            without the vertical canvas's own mix, Tone V is heard nowhere;
  dock      the dock's Audio tab (opened through config.json before OBS started) on the screen: a
            screenshot saved as audio-dock.png in the working directory, its level meters counted
            (audio-dock-end.png shows the tab again before OBS stops, for people);
  split     vendor SplitAudioTrack: the vertical track becomes 2; then Tone B is taken off the
            vertical track (SetSourceVertical): OBS's track 1 is untouched, the vertical file lacks B;
  separate  Tone A gets a separate vertical volume (SetSourceSeparate) of -20 dB
            (SetSourceVerticalVolume): about 20 dB quieter in the vertical file, unchanged in OBS's;
  mix       vendor EnableAudioMix: Tone V is in the vertical file and in none of OBS's tracks.
GetAudioSources is read after each step, the AudioChanged events are kept, and the saved state
(config.json, the scene collection) is read after OBS exits.
"""

import os
import re
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

import obsharness as h  # noqa: E402
import outputcase as oc  # noqa: E402
from e2ecase import ObsTestCase, main  # noqa: E402

START_TIMEOUT = 60
STATE_TIMEOUT = 30
RECORD_SECONDS = 6.0
SKIP_SECONDS = 1.5  # of each file's start: encoders and sources settle
TONE_SECONDS = 5  # a whole number of periods of every tone, so the loop has no seam
TONES = {"Tone A": 440, "Tone B": 1000, "Tone V": 2500}
VERTICAL_SCENE = "Vertical Audio"
MAIN_TRACKS = (1, 3)  # OBS's recording, in stream order
SPLIT_TRACK = 2
SEPARATE_DB = -20.0

PRESENT_DB = -45.0  # a tone played at -18 dBFS measures about -24 dB through the band-pass
ABSENT_MARGIN_DB = 30.0  # a missing tone measures at least this far below where it was heard
SAME_DB = 2.0  # one tone in two files (different encoders, different moments)
SEPARATE_TOLERANCE_DB = 3.0

SPLIT_RE = r"\[stilwane\] vertical audio track split: (\d+) -> (\d+), (\d+) sources"
SEPARATE_ON_RE = r"\[stilwane\] vertical volume: 'Tone A' separate on"
EXCLUSION_RE = r"\[stilwane\] horizontal exclusion: 'Tone V' tracks (0x[0-9a-f]{2}) off"
SCREEN = "1600x1800x24"
WINDOW = (1560, 1760)
METER_GREEN = (55, 174, 91)  # the level meters' fill up to two thirds of their width


# -- tones and levels (bench/audio-cost uses these too) ------------------------------------------------


def make_tone(path, frequency, seconds=TONE_SECONDS):
    """A stereo 48 kHz WAV of a sine at -18 dBFS peak."""
    r = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                        "sine=frequency=%d:duration=%d:sample_rate=48000" % (frequency, seconds),
                        "-ac", "2", "-y", path], capture_output=True, timeout=60)
    if r.returncode != 0:
        raise h.HarnessError("ffmpeg could not make %s: %s" % (path, r.stderr.decode(errors="replace")))
    return path


def media_settings(path):
    """A local file played in a loop from the moment the source exists, shown or not."""
    return {"is_local_file": True, "local_file": path, "looping": True, "restart_on_activate": False,
            "close_when_inactive": False}


def band_level(path, stream, frequency, start=SKIP_SECONDS, seconds=None):
    """RMS level in dB of the audio stream (index among the file's audio streams) around the frequency."""
    band = "bandpass=f=%d:width_type=q:width=6" % frequency
    args = ["ffmpeg", "-nostdin", "-hide_banner", "-nostats", "-ss", "%.2f" % start, "-i", path]
    if seconds:
        args += ["-t", "%.2f" % seconds]
    args += ["-map", "0:a:%d" % stream, "-af",
             "%s,%s,astats=measure_perchannel=none:measure_overall=RMS_level" % (band, band), "-f", "null", "-"]
    r = subprocess.run(args, capture_output=True, timeout=120)
    text = r.stderr.decode(errors="replace")
    m = re.findall(r"RMS level dB: (-?inf|-?[0-9.]+)", text)
    if r.returncode != 0 or not m:
        raise h.HarnessError("no level of %s stream a:%d at %d Hz: %s" % (path, stream, frequency, text[-600:]))
    return float(m[-1])


def audio_stream_count(path):
    return sum(1 for s in h.ffprobe(path).get("streams", []) if s.get("codec_type") == "audio")


def levels(path, streams):
    """{stream index: {tone name: dB}} for the audio streams of the file."""
    duration = h.media_info(path)["duration"] or RECORD_SECONDS
    length = max(1.0, duration - SKIP_SECONDS - 0.5)
    return {s: {name: band_level(path, s, f, seconds=length) for name, f in TONES.items()} for s in streams}


def advanced_profile(home, directory, tracks_mask):
    """OBS's profile: advanced output, the stream on track 1, recording Matroska with the tracks given,
    and a small main canvas (the audio is what counts here)."""
    return h.seed_profile(home, {
        "Output": {"Mode": "Advanced"},
        "AdvOut": {"TrackIndex": 1, "RecType": "Standard", "RecFilePath": directory, "RecFormat2": "mkv",
                   "RecTracks": tracks_mask, "RecEncoder": "none", "Encoder": "obs_x264"},
        "Video": {"BaseCX": 640, "BaseCY": 360, "OutputCX": 640, "OutputCY": 360},
    })


def audio_sources(ws):
    """GetAudioSources's answer; a refusal by obs-websocket becomes {"success": False, "error"}, so that
    a missing request fails the checks that read the list rather than the whole run."""
    try:
        return oc.vendor(ws, "GetAudioSources")
    except h.HarnessError as exc:
        return {"success": False, "error": str(exc)}


def entry(answer, name):
    """The GetAudioSources entry of the source, or {}."""
    return next((s for s in answer.get("sources", []) if s.get("sourceName") == name), {})


def wait_listed(ws, names, timeout=10):
    """GetAudioSources, repeated until it lists every name."""
    deadline = time.monotonic() + timeout
    while True:
        answer = audio_sources(ws)
        listed = {s.get("sourceName") for s in answer.get("sources", [])}
        if set(names) <= listed or time.monotonic() > deadline:
            return answer
        time.sleep(0.25)


def meter_bands(image, rect=None, colour=METER_GREEN, run=12):
    """[(y, height)] of the horizontal bands of the rectangle (x, y, w, h; default the whole image) where
    a row holds `run` pixels of the colour side by side: the level meters' filled parts."""
    x0, y0, w, hgt = rect or (0, 0, image.width, image.height)
    x0, x1 = max(0, x0), min(image.width, x0 + w)
    pattern = bytes(colour) * run
    rows = []
    stride = image.width * 3
    for y in range(max(0, y0), min(image.height, y0 + hgt)):
        row = image.data[y * stride + x0 * 3:y * stride + x1 * 3]
        at = row.find(pattern)
        while at >= 0 and at % 3:
            at = row.find(pattern, at + 1)
        if at >= 0:
            rows.append(y)
    bands = []
    for y in rows:
        if bands and bands[-1][0] + bands[-1][1] == y:
            bands[-1] = (bands[-1][0], bands[-1][1] + 1)
        else:
            bands.append((y, 1))
    return bands


class VerticalAudio(ObsTestCase):
    @classmethod
    def setUpClass(cls):
        # A tall screen and main window: the dock's tab pane gets what its portrait preview leaves, and
        # the Audio tab then has room for its header and every tone's row.
        cls.session = h.Session(module=True, screen=SCREEN)
        cls.rec = {}
        cls.obs = None
        cls.ws = None
        home = cls.session.home
        media = os.path.join(home.path, "media")
        cls.main_dir = os.path.join(media, "main")
        cls.vertical_dir = os.path.join(media, "vertical")
        os.makedirs(cls.main_dir)
        rec = cls.rec

        def record(key):
            """OBS's recording for RECORD_SECONDS, the vertical one following it; their files' levels."""
            ws = cls.ws
            after = len(ws.events)
            oc.start_main_recording(ws)
            oc.wait_state(ws, oc.RECORDING, "Active", after, STATE_TIMEOUT)
            oc.pump(ws, RECORD_SECONDS)
            stopped = len(ws.events)
            main_path = oc.stop_main_recording(ws)
            vertical_path = oc.wait_file_saved(ws, oc.RECORDING, stopped, STATE_TIMEOUT)
            oc.wait_state(ws, oc.RECORDING, "Idle", stopped, STATE_TIMEOUT)
            r = rec[key] = {"main_path": main_path, "vertical_path": vertical_path,
                            "main_streams": audio_stream_count(main_path),
                            "vertical_streams": audio_stream_count(vertical_path)}
            r["main"] = levels(main_path, range(min(r["main_streams"], len(MAIN_TRACKS))))
            r["vertical"] = levels(vertical_path, range(min(r["vertical_streams"], 1)))
            sys.stderr.write("%s: OBS %s, vertical %s\n" % (key, r["main"], r["vertical"]))

        def setup():
            for name, frequency in TONES.items():
                make_tone(os.path.join(media, "%d.wav" % frequency), frequency)
            advanced_profile(home, cls.main_dir, sum(1 << (t - 1) for t in MAIN_TRACKS))
            oc.seed_module(home, key="", recording_directory=cls.vertical_dir, recording_format="mkv",
                           recording_follow_main=True, replay_follow_main=False, width=360, height=640,
                           main_dock_tab=3)
            run = cls.obs = cls.session.start_obs()
            run.wait_module_loaded(START_TIMEOUT)
            run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
            ws = cls.ws = run.connect()
            main_window = cls.session.main_window()
            if main_window:
                cls.session.resize_window(main_window, *WINDOW)
            main_scene = ws.request("GetCurrentProgramScene")["sceneName"]
            uuids = rec["uuids"] = {}
            for name in ("Tone A", "Tone B"):
                uuids[name] = ws.request("CreateInput", {
                    "sceneName": main_scene, "inputName": name, "inputKind": "ffmpeg_source",
                    "inputSettings": media_settings(os.path.join(media, "%d.wav" % TONES[name]))})["inputUuid"]
            scene = rec["vertical_scene"] = oc.vendor_ok(ws, "CreateScene", {"sceneName": VERTICAL_SCENE})
            oc.vendor_ok(ws, "SetCurrentScene", {"sceneUuid": scene["sceneUuid"]})
            for name in ("Tone A", "Tone B"):
                ws.request("CreateSceneItem", {"sceneUuid": scene["sceneUuid"], "sourceUuid": uuids[name]})
            uuids["Tone V"] = ws.request("CreateInput", {
                "sceneUuid": scene["sceneUuid"], "inputName": "Tone V", "inputKind": "ffmpeg_source",
                "inputSettings": media_settings(os.path.join(media, "%d.wav" % TONES["Tone V"]))})["inputUuid"]
            rec["sources_initial"] = wait_listed(ws, TONES)
            oc.pump(ws, 1.0)  # the media sources start playing

        def default():
            record("default")
            oc.pump(cls.ws, 0.5)

        default.needs = ("setup",)

        def split():
            ws, run = cls.ws, cls.obs
            mark, after = run.mark(), len(ws.events)
            rec["split_answer"] = oc.vendor(ws, "SplitAudioTrack")
            rec["split_line"] = run.wait_log(SPLIT_RE, 10, after=mark).groups()
            oc.pump(ws, 1.0)
            rec["split_events"] = oc.vendor_events(ws, "AudioChanged", after)
            rec["sources_split"] = audio_sources(ws)
            after = len(ws.events)
            rec["b_off"] = oc.vendor(ws, "SetSourceVertical", {"sourceName": "Tone B", "onVertical": False})
            oc.pump(ws, 0.5)
            rec["b_off_events"] = oc.vendor_events(ws, "AudioChanged", after)
            record("split")
            rec["b_on"] = oc.vendor(ws, "SetSourceVertical", {"sourceName": "Tone B", "onVertical": True})

        split.needs = ("default",)

        def separate():
            ws, run = cls.ws, cls.obs
            mark, after = run.mark(), len(ws.events)
            rec["separate_answer"] = oc.vendor(ws, "SetSourceSeparate", {"sourceName": "Tone A", "separate": True})
            rec["separate_line"] = run.wait_log(SEPARATE_ON_RE, 10, after=mark).group(0)
            rec["volume_answer"] = oc.vendor(ws, "SetSourceVerticalVolume",
                                             {"sourceName": "Tone A", "inputVolumeDb": SEPARATE_DB})
            oc.pump(ws, 1.0)
            rec["separate_events"] = oc.vendor_events(ws, "AudioChanged", after)
            rec["sources_separate"] = audio_sources(ws)
            record("separate")

        separate.needs = ("split",)

        def mix():
            ws, run = cls.ws, cls.obs
            mark = run.mark()
            rec["mix_answer"] = oc.vendor(ws, "EnableAudioMix", timeout=30)
            try:
                rec["exclusion_bits"] = run.wait_log(EXCLUSION_RE, 10, after=mark).group(1)
            except h.HarnessError:
                rec["exclusion_bits"] = None  # judged by the test; the files tell the rest
            oc.pump(ws, 1.0)
            rec["sources_mix"] = audio_sources(ws)
            record("mix")

        mix.needs = ("separate",)

        def dock():
            # The Audio tab has been open since start-up; its meters move while the tones play.
            path = os.path.join(os.getcwd(), "audio-dock.png")
            dock_window = cls.session.window_tree().find(h.DOCK_TITLE)
            image = cls.session.grab(png=path)
            rec["dock_png"] = path
            rec["dock_rect"] = dock_window.rect if dock_window else None
            # Within the dock: OBS's own mixer has meters too.
            rec["meter_bands"] = meter_bands(image, rec["dock_rect"] or (-1, -1, 0, 0))
            rec["sources_dock"] = audio_sources(cls.ws)
            sys.stderr.write("audio dock screenshot: %s; meter bands %s\n" % (path, rec["meter_bands"]))

        dock.needs = ("setup",)

        def shutdown():
            if cls.obs is None:
                raise h.HarnessError("OBS never started")
            if cls.obs.proc.poll() is None:
                # For people: the tab once more, with the separate volume and the vertical-only source.
                try:
                    cls.session.grab(png=os.path.join(os.getcwd(), "audio-dock-end.png"))
                except h.HarnessError as exc:
                    sys.stderr.write("no final screenshot: %s\n" % exc)
            if cls.ws is not None:
                cls.ws.close()
            cls.obs.stop()
            rec["config"] = home.read_module_config()
            collections = home.collections()
            rec["state"] = h.module_state(next(iter(collections.values()))) if collections else None

        try:
            cls.run_phases([("setup", setup), ("default", default), ("dock", dock), ("split", split),
                            ("separate", separate), ("mix", mix), ("shutdown", shutdown)])
        except BaseException:
            cls.session.close()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    # -- helpers ---------------------------------------------------------------------------------------

    def level(self, key, side, tone, stream=0):
        r = self.rec[key]
        count = r["%s_streams" % side]
        want = len(MAIN_TRACKS) if side == "main" else 1
        self.assertEqual(count, want, "%s: %s recording %s has %d audio streams"
                         % (key, side, r["%s_path" % side], count))
        return r[side][stream][tone]

    def assertHeard(self, key, side, tone, stream=0):
        value = self.level(key, side, tone, stream)
        self.assertGreater(value, PRESENT_DB, "%s: %s not heard in the %s file (stream %d): %s"
                           % (key, tone, side, stream, self.rec[key][side]))
        return value

    def assertSilent(self, key, side, tone, reference, stream=0):
        value = self.level(key, side, tone, stream)
        self.assertLess(value, reference - ABSENT_MARGIN_DB, "%s: %s heard in the %s file (stream %d) at %.1f dB,"
                        " where it was heard at %.1f dB: %s" % (key, tone, side, stream, value, reference,
                                                                self.rec[key][side]))

    def assertNear(self, value, expected, tolerance, what):
        self.assertLessEqual(abs(value - expected), tolerance, "%s: %.1f dB, expected %.1f +- %.1f dB"
                             % (what, value, expected, tolerance))

    def answer(self, key):
        a = self.rec[key]
        self.assertIs(a.get("success"), True, "%s: %s" % (key, a))
        return a

    # -- tests ---------------------------------------------------------------------------------------------

    def test_01_vertical_recording_carries_the_main_mix(self):
        self.need("default")
        for tone in ("Tone A", "Tone B"):
            main = self.assertHeard("default", "main", tone)
            self.assertNear(self.assertHeard("default", "vertical", tone), main, SAME_DB,
                            "%s in the vertical file against OBS's track 1" % tone)
        # Without the vertical canvas's own mix a source only in vertical scenes is mixed nowhere.
        reference = self.level("default", "main", "Tone A")
        for side, streams in (("main", range(len(MAIN_TRACKS))), ("vertical", (0,))):
            for stream in streams:
                self.assertSilent("default", side, "Tone V", reference, stream)

    def test_02_split_gives_the_vertical_outputs_a_track_of_their_own(self):
        self.need("split")
        self.assertEqual(self.answer("split_answer").get("audioTrack"), SPLIT_TRACK)
        old, new, count = (int(v) for v in self.rec["split_line"])
        self.assertEqual((old, new), (1, SPLIT_TRACK))
        # Every tone was on track 1 (new sources are on every track), Tone V too: none is excluded yet.
        self.assertGreaterEqual(count, len(TONES), "sources put on the new track")
        self.assertEqual(self.answer("b_off").get("onVertical"), False)
        # OBS's own recording is untouched: both tones at the levels of before.
        for tone in ("Tone A", "Tone B"):
            self.assertNear(self.assertHeard("split", "main", tone), self.level("default", "main", tone), SAME_DB,
                            "%s in OBS's track 1 after the split against before" % tone)
        # The vertical file carries the new track: Tone A, and not Tone B, which left it.
        self.assertNear(self.assertHeard("split", "vertical", "Tone A"), self.level("split", "main", "Tone A"),
                        SAME_DB, "Tone A in the vertical file against OBS's track 1")
        self.assertSilent("split", "vertical", "Tone B", self.level("split", "main", "Tone B"))
        self.assertIs(self.answer("b_on").get("onVertical"), True)

    def test_03_separate_volume_lowers_only_the_vertical_file(self):
        self.need("separate")
        self.assertTrue(self.rec["separate_line"])
        main_a = self.assertHeard("separate", "main", "Tone A")
        self.assertNear(main_a, self.level("default", "main", "Tone A"), SAME_DB,
                        "Tone A in OBS's track 1 with its separate vertical volume against before")
        self.assertNear(self.level("separate", "vertical", "Tone A"), main_a + SEPARATE_DB, SEPARATE_TOLERANCE_DB,
                        "Tone A in the vertical file at a separate volume of %.0f dB" % SEPARATE_DB)
        self.assertNear(self.assertHeard("separate", "vertical", "Tone B"), self.level("separate", "main", "Tone B"),
                        SAME_DB, "Tone B (back on the vertical track) in the vertical file")

    def test_04_vertical_mix_keeps_vertical_only_sources_off_the_main_tracks(self):
        self.need("mix")
        self.assertIs(self.answer("mix_answer").get("mixAudio"), True)
        vertical_v = self.assertHeard("mix", "vertical", "Tone V")
        self.assertNear(vertical_v, self.level("default", "main", "Tone B"), 6.0,
                        "Tone V in the vertical file against another tone at the same volume")
        for stream in range(len(MAIN_TRACKS)):
            self.assertSilent("mix", "main", "Tone V", vertical_v, stream)
        # Everything else stays as it was.
        self.assertHeard("mix", "main", "Tone A")
        self.assertHeard("mix", "main", "Tone B")
        self.assertNear(self.level("mix", "vertical", "Tone A"), self.level("mix", "main", "Tone A") + SEPARATE_DB,
                        SEPARATE_TOLERANCE_DB, "Tone A's separate volume after the mix was enabled")
        self.assertEqual(self.rec["exclusion_bits"], "0x05", "OBS's stream and recording tracks 1 and 3")

    def test_05_audio_sources_list(self):
        self.need("setup")
        initial = self.rec["sources_initial"]
        self.assertIs(initial.get("success"), True, initial)
        names = [s["sourceName"] for s in initial["sources"] if s.get("sourceName") in TONES]
        self.assertEqual(names, sorted(TONES), "sorted by name")
        for name, shared in (("Tone A", True), ("Tone B", True), ("Tone V", False)):
            e = entry(initial, name)
            self.assertEqual(e.get("sourceUuid"), self.rec["uuids"][name], e)
            self.assertEqual((e.get("shared"), e.get("onVertical"), e.get("separate")), (shared, True, False), e)
            self.assertAlmostEqual(e.get("inputVolumeMul"), 1.0, places=3, msg=str(e))
            self.assertEqual(e.get("inputMuted"), False, e)
        self.assertEqual(entry(initial, "Tone A").get("separateStatus"), 1, "the main stream uses the vertical track")
        self.assertTrue(entry(initial, "Tone A").get("separateStatusText"))
        self.assertEqual((initial.get("audioTrack"), initial.get("mixAudio")), (1, False))

        self.need("split")
        split = self.rec["sources_split"]
        self.assertEqual(split.get("audioTrack"), SPLIT_TRACK)
        self.assertEqual(entry(split, "Tone A").get("separateStatus"), 0, entry(split, "Tone A"))

        self.need("separate")
        self.answer("separate_answer")
        a = entry(self.rec["sources_separate"], "Tone A")
        self.assertEqual((a.get("separate"), a.get("shared"), a.get("onVertical")), (True, True, True), a)
        self.assertAlmostEqual(a.get("inputVolumeDb"), SEPARATE_DB, delta=0.1, msg=str(a))
        self.assertAlmostEqual(a.get("inputVolumeMul"), 0.1, delta=0.002, msg=str(a))
        self.assertEqual(self.answer("volume_answer").get("sourceName"), "Tone A")

        self.need("mix")
        self.assertIs(self.rec["sources_mix"].get("mixAudio"), True)

    def test_06_audio_changed_events(self):
        self.need("separate")
        self.assertIn({}, self.rec["split_events"], "the split may change every source")
        b, a = self.rec["uuids"]["Tone B"], self.rec["uuids"]["Tone A"]
        self.assertIn({"sourceUuid": b}, self.rec["b_off_events"])
        self.assertIn({"sourceUuid": a}, self.rec["separate_events"])

    def test_07_dock_meters_on_the_screen(self):
        self.need("dock")
        self.assertTrue(os.path.isfile(self.rec["dock_png"]))
        self.assertIsNotNone(self.rec["dock_rect"], "the dock's window is not on the screen (%s)" % self.rec["dock_png"])
        bands = [b for b in self.rec["meter_bands"] if 6 <= b[1] <= 14]
        # The master meter and one meter per tone's row: all three tones play (Tone V unheard, but its
        # row's meter shows the source's own level).
        self.assertGreaterEqual(len(bands), 1 + len(TONES), "level meters seen in the dock (bands of their fill "
                                "colour): %s; the screenshot is %s" % (self.rec["meter_bands"], self.rec["dock_png"]))
        names = [s.get("sourceName") for s in self.rec["sources_dock"].get("sources", [])]
        self.assertTrue(set(TONES) <= set(names), names)

    def test_08_saved_state(self):
        self.need("mix", "shutdown")
        config = self.rec["config"]
        self.assertEqual((config.get("audio_track"), config.get("mix_audio")), (SPLIT_TRACK, True), config)
        state = self.rec["state"] or {}
        volumes = [v for v in state.get("vertical_volumes", []) if v.get("uuid") == self.rec["uuids"]["Tone A"]]
        self.assertEqual(len(volumes), 1, state.get("vertical_volumes"))
        self.assertAlmostEqual(volumes[0].get("volume"), 0.1, delta=0.002, msg=str(volumes[0]))
        exclusions = {e.get("uuid"): e.get("bits") for e in state.get("horizontal_exclusions", [])}
        self.assertEqual(exclusions.get(self.rec["uuids"]["Tone V"]), 0x05, state.get("horizontal_exclusions"))
        # The separated source's mirror lived on a private canvas of its own until OBS exited.
        self.assertLogHas(self.obs, r"\[stilwane\] vertical volume: audio canvas created \(base 1x1, output \d+x\d+\)")
        self.assertLogHas(self.obs, r"\[stilwane\] vertical volume: audio canvas released")

    def test_09_clean_exit(self):
        self.need("shutdown")
        self.assertCleanExit(self.obs)


if __name__ == "__main__":
    main()
