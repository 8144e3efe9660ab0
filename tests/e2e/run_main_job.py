# SPDX-License-Identifier: GPL-2.0-or-later
"""Starts OBS 32 twice with the built module in one throwaway HOME, the self-test on, and keeps a
screenshot of each run: the first run shows the dock's Scenes tab (and its self-test generates the
four vertical scenes), the second the Sources tab (its self-test finds the scenes in the saved
collection). The tab is chosen as a user's earlier session would have left it: main_dock_tab in the
module's config.json, written before OBS starts. Each run lasts a few seconds, takes its screenshot
once the dock's vertical preview stopped changing and ends with SIGINT; the logs, config.json and
the guide image the module exports (STILWANE_GUIDE_PNG) are kept with the screenshots.

After its screenshot the second run also records ten seconds of the vertical canvas: the module's
recording follows OBS's main one (recording_follow_main and recording_directory, written into
config.json before OBS starts), so the run starts and stops OBS's main recording through
obs-websocket and then looks for the vertical file in the output folder's recording/. Its path and
ffprobe's summary of it are printed; a missing file fails the run, an odd one is reported as a warning.

Run inside the build root; scripts/run-obs does that from the host. Exit status: 0 when the module
loaded and OBS ended cleanly both times, 1 otherwise (the log's tail is printed), 2 for bad arguments.

tests/e2e/test_docks.py drives the same runs through run_with_tab().
"""

import argparse
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import obsharness as h  # noqa: E402

SELFTEST_DONE_RE = r"\[stilwane\]\[selftest\] vertical scenes: "
VERTICAL_FILE_GLOB = "Stilwane-縦 *"
VERTICAL_FILE_RE = r"^Stilwane-縦 \d{4}-\d\d-\d\d \d\d-\d\d-\d\d( \(\d+\))?\.(mp4|mkv)$"
RECORDING_DIR = "recording"  # in the output folder
GUIDE_RE = r"\[stilwane\] guide image (saved|failed): (.*)$"

# (name, main_dock_tab, screenshot, suffix of the run's other files); the first run's files keep
# the names they had when the command made one run only.
TABS = (
    ("scenes", 0, "screenshot.png", ""),
    ("sources", 1, "screenshot-sources.png", "-sources"),
)


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--seconds", type=float, default=8.0,
                   help="how long OBS runs after loading, each time (default 8)")
    p.add_argument("--module", default=os.environ.get("STILWANE_MODULE") or "/src/build/src/stilwane.so",
                   help="the built stilwane.so")
    p.add_argument("--data", default=os.environ.get("STILWANE_DATA") or "/src/data", help="the data/ folder")
    p.add_argument("--out", default="/src/out/run-obs", help="where the logs, config.json and screenshots go")
    p.add_argument("--show-as", default=None,
                   help="how to print the output folder (its path on the host, when run in the root)")
    p.add_argument("--desktop", default=None, metavar="DISPLAY",
                   help="use this X display instead of a private Xvfb")
    p.add_argument("--keep", action="store_true", help="keep the throwaway HOME and print its path")
    p.add_argument("--record-seconds", type=float, default=10.0,
                   help="how long the second run records (default 10; 0: no recording)")
    p.add_argument("--load-timeout", type=float, default=60.0)
    return p.parse_args()


class TabRun:
    """What one OBS run with the dock opened on one tab left behind."""

    def __init__(self, name, tab):
        self.name = name
        self.tab = tab
        self.run = None  # the ObsRun
        self.result = None  # its ObsExit
        self.screenshot = None  # the PNG's path, once taken
        self.tree_text = None  # `xwininfo -root -tree` when the screenshot was taken (private Xvfb only)
        self.dock_line = None  # where the dock was, for people
        self.config = None  # config.json as the run left it
        self.failures = []
        self.warnings = []

    @property
    def tab_kept(self):
        return self.config is not None and self.config.get("main_dock_tab") == self.tab


def run_with_tab(session, name, tab, screenshot, seconds, load_timeout=60.0, env=None, config=None,
                 before_stop=None):
    """Writes main_dock_tab (and the other config values given) into config.json, runs OBS with the
    self-test until `seconds` after the module loaded (and at least until the self-test finished),
    saves a screenshot, calls before_stop(run) while OBS still runs, and stops OBS.

    Never raises for what OBS does: failures and warnings are collected in the returned TabRun.
    """
    rec = TabRun(name, tab)
    session.home.update_module_config(dict(config or {}, main_dock_tab=tab))
    run = rec.run = session.start_obs(env=dict({"STILWANE_SELFTEST": "1"}, **(env or {})))
    try:
        run.wait_module_loaded(load_timeout)
    except h.HarnessError:
        if run.proc.poll() is not None:
            rec.failures.append("OBS ended during start-up (%s)" % h.describe_status(run.proc.returncode))
        rec.failures.append("the module did not load ('plugin loaded successfully' is missing)")
    if not rec.failures:
        loaded = time.monotonic()
        try:
            run.wait_log(h.CANVAS_READY_RE, load_timeout)
            run.wait_log(SELFTEST_DONE_RE, load_timeout)
        except h.HarnessError:
            if run.proc.poll() is None:
                rec.warnings.append("the vertical canvas or the self-test was not ready within %.0f s" % load_timeout)
        # Let OBS settle and render before the screenshot; fail early if it dies meanwhile.
        while time.monotonic() < loaded + seconds and run.proc.poll() is None:
            time.sleep(0.2)
    if run.proc.poll() is None:
        try:
            # On a private Xvfb the whole screen shows floating docks too; on a desktop,
            # only OBS's window is ours to capture.
            if session.xvfb:
                rec.dock_line, rec.tree_text = shoot_settled(session, screenshot, rec.warnings)
            else:
                session.screenshot(screenshot, session.main_window())
            rec.screenshot = screenshot
        except (h.HarnessError, OSError) as exc:
            rec.warnings.append("no screenshot: %s" % exc)
        if before_stop and not rec.failures and run.proc.poll() is None:
            before_stop(run)
    elif not rec.failures:
        rec.failures.append("OBS ended by itself (%s)" % h.describe_status(run.proc.returncode))
    result = rec.result = run.stop()
    if result.killed:
        rec.failures.append("OBS did not end within 30 s of SIGINT and was killed")
    elif result.returncode != 0 and not any("ended" in f for f in rec.failures):
        rec.failures.append("OBS crashed on shutdown (%s)" % h.describe_status(result.returncode))
    if result.leaks is None:
        rec.failures.append("the log lacks 'Number of memory leaks' (OBS did not finish its shutdown)")
    config_path = session.home.module_config_path
    if os.path.isfile(config_path):
        try:
            rec.config = session.home.read_module_config()
        except ValueError as exc:
            rec.warnings.append("config.json is no JSON after the run: %s" % exc)
    else:
        rec.warnings.append("the module wrote no %s" % config_path.replace(session.home.path, "$HOME"))
    if rec.config is not None and not rec.tab_kept:
        rec.warnings.append("config.json has main_dock_tab %r after the run, not %d"
                            % (rec.config.get("main_dock_tab"), tab))
    return rec


class VerticalRecording:
    """What ten seconds of OBS's main recording, with the module's recording following it, left behind."""

    def __init__(self):
        self.path = None  # the vertical file, once found
        self.states = []  # the vertical recording's states as the module announced them
        self.saved_event = False  # the module announced the file (FileSaved)
        self.summary = None  # ffprobe's view of the vertical file, for people
        self.problem = None  # why there is no vertical file
        self.remarks = []  # what is odd about the file that is there


def record_vertical(run, folder, main_folder, seconds, settle_timeout=30.0):
    """Records `seconds` with OBS's main recording, which the module's recording follows
    (recording_follow_main), and looks for the vertical file in `folder`. Never raises."""
    rec = VerticalRecording()
    os.makedirs(main_folder, exist_ok=True)
    try:
        with run.connect() as ws:
            ws.request("SetRecordDirectory", {"recordDirectory": main_folder})
            after = len(ws.events)
            ws.request("StartRecord")
            ws.wait_event("RecordStateChanged", lambda d: d.get("outputState") == "OBS_WEBSOCKET_OUTPUT_STARTED",
                          timeout=20, after=after)
            time.sleep(seconds)
            ws.request("StopRecord")
            # A recording that never started writes nothing: no need to wait long for its file.
            started = bool(vendor_events(ws, "OutputStateChanged", after))
            try:
                saved = ws.wait_event("VendorEvent", lambda d: d.get("vendorName") == "stilwane"
                                      and d.get("eventType") == "FileSaved"
                                      and (d.get("eventData") or {}).get("output") == "recording",
                                      timeout=settle_timeout if started else 3.0, after=after)
                rec.path = (saved.get("eventData") or {}).get("path")
                rec.saved_event = True
            except h.HarnessError:
                pass  # judged below from the folder and the states
            rec.states = [d.get("stateName") for d in vendor_events(ws, "OutputStateChanged", after)]
    except Exception as exc:  # OBS gone, the connection closed: the run reports it and goes on
        rec.problem = "OBS's main recording did not go as planned: %s" % (str(exc).splitlines() or [repr(exc)])[0]
    if not rec.path:
        found = sorted(glob.glob(os.path.join(folder, VERTICAL_FILE_GLOB)), key=os.path.getmtime)
        rec.path = found[-1] if found else None
    if rec.path and not os.path.isfile(rec.path):
        rec.problem, rec.path = "the module announced %s, which does not exist" % rec.path, None
    if not rec.path:
        rec.problem = rec.problem or (
            "the module's recording never started (no state change announced)" if not rec.states
            else "none in %s after %.0f s; the module's recording went %s"
            % (folder, settle_timeout, " -> ".join(rec.states)))
        return rec
    if not re.match(VERTICAL_FILE_RE, os.path.basename(rec.path)):
        rec.remarks.append("unexpected file name %r" % os.path.basename(rec.path))
    if not rec.saved_event:
        rec.remarks.append("found in the folder, but the module announced no FileSaved")
    try:
        info = probe(rec.path)
    except (h.HarnessError, OSError, ValueError) as exc:
        rec.remarks.append("ffprobe cannot read it: %s" % exc)
        return rec
    rec.summary = "%s %sx%s, audio %s, %.1f s, %.1f MB" % (
        info["video"], info["width"], info["height"], info["audio"] or "none", info["duration"] or 0.0,
        info["size"] / 1e6)
    if (info["width"], info["height"]) != (1080, 1920):
        rec.remarks.append("the picture is %sx%s, not 1080x1920" % (info["width"], info["height"]))
    if not info["duration"] or abs(info["duration"] - seconds) > max(2.0, seconds * 0.2):
        rec.remarks.append("it lasts %s s, not about %g s" % (info["duration"], seconds))
    return rec


def vendor_events(ws, etype, after=0):
    """The eventData of the module's events of the type about its recording received so far."""
    out = []
    for ev in ws.events[after:]:
        data = ev.get("eventData") or {}
        if ev.get("eventType") == "VendorEvent" and data.get("vendorName") == "stilwane" \
                and data.get("eventType") == etype and (data.get("eventData") or {}).get("output") == "recording":
            out.append(data["eventData"])
    return out


def probe(path):
    """Codecs, picture size, duration (s) and size (bytes) of a media file, from ffprobe."""
    r = subprocess.run(["ffprobe", "-v", "error", "-print_format", "json", "-show_format", "-show_streams", path],
                       capture_output=True, timeout=60)
    if r.returncode != 0:
        raise h.HarnessError(r.stderr.decode(errors="replace").strip() or "exit code %d" % r.returncode)
    data = json.loads(r.stdout)
    streams = data.get("streams", [])
    video = next((st for st in streams if st.get("codec_type") == "video"), {})
    audio = next((st for st in streams if st.get("codec_type") == "audio"), {})
    fmt = data.get("format", {})
    try:
        duration = float(fmt.get("duration"))
    except (TypeError, ValueError):
        duration = None
    return {"video": video.get("codec_name"), "width": video.get("width"), "height": video.get("height"),
            "audio": audio.get("codec_name"), "duration": duration, "size": os.path.getsize(path)}


def main():
    args = parse_args()
    if args.seconds < 0 or args.record_seconds < 0:
        print("run-obs: --seconds and --record-seconds must not be negative", file=sys.stderr)
        return 2
    if not os.path.isfile(args.module):
        print("run-obs: the module %s does not exist; build the project first" % args.module, file=sys.stderr)
        return 2
    shown = args.show_as or args.out

    # A display given as host:N is reached over TCP, which a loopback-only namespace cannot do.
    isolate = not (args.desktop and re.match(r"^[^:/]+:", args.desktop))
    if os.path.isdir(args.out):
        shutil.rmtree(args.out)
    os.makedirs(args.out)
    failures = []
    warnings = []
    records = []
    saved = []
    with h.Session(module=False, display=args.desktop, keep=args.keep, isolate_network=isolate) as s:
        s.home.install_module(args.module, args.data)
        print("run-obs: OBS home %s, display %s" % (s.home.path, s.display), flush=True)
        guides = os.path.join(args.out, "guides.png")
        recordings = []
        folder = os.path.join(args.out, RECORDING_DIR)
        for index, (name, tab, shot, suffix) in enumerate(TABS):
            # One guide image is enough; the second run would only write the same picture again.
            env = {"STILWANE_GUIDE_PNG": guides} if index == 0 else {}
            config, record = None, None
            if index == len(TABS) - 1 and args.record_seconds > 0:
                # The module's recording follows OBS's main one, as a user would have set it up.
                os.makedirs(folder, exist_ok=True)
                config = {"recording_follow_main": True, "recording_directory": folder}

                def record(run):
                    recordings.append(record_vertical(run, folder, os.path.join(s.home.path, "Videos"),
                                                      args.record_seconds))

            rec = run_with_tab(s, name, tab, os.path.join(args.out, shot), args.seconds, args.load_timeout, env,
                               config, record)
            records.append(rec)
            label = "run %d (%s tab)" % (index + 1, name)
            failures += ["%s: %s" % (label, f) for f in rec.failures]
            warnings += ["%s: %s" % (label, w) for w in rec.warnings]
            if rec.run.log_path:
                saved.append(copy(rec.run.log_path, args.out, "obs-log%s.txt" % suffix))
            saved.append(copy(rec.run.stdout_path, args.out, "obs-stdout%s.txt" % suffix))
            if rec.screenshot:
                saved.append(shot)
            if rec.failures:
                break  # a second run would only repeat the first one's trouble
        if os.path.isfile(s.home.module_config_path):
            saved.append(copy(s.home.module_config_path, args.out, "config.json"))
        for cname in s.home.collections():
            path = s.home.collection_path(cname)
            saved.append(copy(path, args.out, "collection-" + os.path.basename(path)))

        for index, rec in enumerate(records):
            print()
            print("run-obs: run %d, the dock opened on its %s tab (main_dock_tab %d):"
                  % (index + 1, rec.name.capitalize(), rec.tab))
            for line in rec.run.log_text().splitlines():
                if "[stilwane]" in line:
                    print("  " + line)
        print()
        for index, rec in enumerate(records):
            kept = "main_dock_tab %s afterwards" % (rec.config.get("main_dock_tab") if rec.config else "unknown")
            print("run-obs: run %d (%s tab): OBS ran %.1f s, %s, memory leaks: %s, %s" % (
                index + 1, rec.name.capitalize(), rec.result.seconds, h.describe_status(rec.result.returncode),
                rec.result.leaks, kept))
        guide = re.findall(GUIDE_RE, records[0].run.log_text(), re.M) if records else []
        if os.path.isfile(guides) and guide[-1:] == [("saved", guides)]:
            saved.append("guides.png")
        elif guide:
            warnings.append("the guide image was not saved: %s" % guide[-1][0])
        else:
            warnings.append("the log says nothing about the guide image")
        listed = ["obs-log.txt", "obs-log-sources.txt", "config.json"] + [t[2] for t in TABS] + ["guides.png"]
        for name in listed:
            if name in saved:
                print("run-obs: %-22s %s" % (name, os.path.join(shown, name)))
        dock_line = next((r.dock_line for r in records if r.dock_line), None)
        if dock_line:
            print("run-obs: %-22s %s" % ("dock", dock_line))
        if args.record_seconds > 0:
            report_recording(recordings[0] if recordings else None, args.out, shown, warnings, failures)
        others = [n for n in saved if n not in listed]
        if others:
            print("run-obs: also in %s: %s" % (shown, ", ".join(others)))
        for w in warnings:
            print("run-obs: warning: %s" % w)
        if failures:
            print("\nrun-obs: FAILED: " + "; ".join(failures))
            print(records[-1].run.describe(80))
            return 1
    return 0


def report_recording(rec, out, shown, warnings, failures):
    """Prints where the vertical recording is and what it holds; no file fails the run, odd contents
    become warnings."""
    label = "vertical recording"
    if rec is None:
        print("run-obs: %-22s none: the run that records did not get that far" % label)
        failures.append("no vertical recording was made")
        return
    if not rec.path:
        print("run-obs: %-22s none: %s" % (label, rec.problem))
        failures.append("no vertical recording: %s" % rec.problem)
        return
    path = rec.path
    if os.path.abspath(path).startswith(os.path.abspath(out) + os.sep):
        path = os.path.join(shown, os.path.relpath(path, out))
    print("run-obs: %-22s %s" % (label, path))
    if rec.summary:
        print("run-obs: %-22s %s" % ("", rec.summary))
    warnings.extend("vertical recording: %s" % r for r in rec.remarks)


def shoot_settled(session, path, warnings):
    """Saves the screen once the dock's preview stopped changing.

    Returns a line on where the dock is (None without a preview) and the window tree of the moment.
    """
    tree_text = session.windows()
    tree = h.parse_window_tree(tree_text)
    dock = tree.find(h.DOCK_TITLE)
    displays = h.drawing_windows(dock) if dock else []
    if not displays:
        warnings.append("the screenshot shows no vertical preview (dock: %s)" % ("none" if dock is None else
                        "%dx%d at %d,%d" % (dock.width, dock.height, dock.x, dock.y)))
        session.screenshot(path)
        return None, tree_text
    session.grab_settled(displays[0].rect, png=path)
    main_window = tree.find_main()
    where = "docked" if main_window is not None and dock.parent is main_window else "floating"
    return "%s, %dx%d at %d,%d; its preview %dx%d" % (
        where, dock.width, dock.height, dock.x, dock.y, displays[0].width, displays[0].height), tree_text


def copy(src, out, name):
    shutil.copyfile(src, os.path.join(out, name))
    return name


if __name__ == "__main__":
    sys.stdout.reconfigure(line_buffering=True)
    sys.exit(main())
