# SPDX-License-Identifier: GPL-2.0-or-later
"""What the vertical outputs cost OBS: CPU time and OBS's own profiler figures for three configurations of
the same length. Run through bench/output-cost, which builds the module first.

Every run starts OBS with the module in a fresh HOME (as the end-to-end tests do: headless, llvmpipe,
loopback-only network), puts a colour source on OBS's main scene and a vertical scene made from it
(the main picture cropped to the portrait canvas), streams OBS's main canvas to a local RTMP receiver
and then, per configuration:
  main           OBS's own stream only (the vertical canvas is rendered, nothing encodes it);
  +vstream       and the vertical stream (auto start, to a second receiver): a second x264 encoder
                 (1080x1920) and an AAC encoder;
  +vall          and the vertical recording (mp4) and replay buffer, started through the vendor's
                 requests: they share the vertical stream's encoders, so only muxing should be added.
Once everything runs, the script waits two seconds and measures for --seconds: OBS's CPU time (user
plus system, all threads, from /proc/<pid>/stat) per wall second. Then it stops the outputs and OBS;
OBS's profiler summary at exit gives the medians of:
  graphics       obs_graphics_thread: one pass of OBS's graphics loop (both canvases rendered, the
                 displays drawn and, for texture encoders, frames handed over);
  main video,    each canvas's video_thread (both are named "video"; the encoders below them tell
  vertical video them apart): one pass of the thread that waits for the canvas's rendered frames and
                 runs its video encoders on them (x264 encodes on it);
  main encode,   encode(<encoder>) below them: one frame through the canvas's x264.
  vertical encode
The profiler covers the whole run (start-up included); a video thread exists only while one of its
canvas's encoders runs. Prints the figures, the ratios +vstream/main and +vall/+vstream, the vertical
stream's dropped frames and the load average. Asserts nothing.
"""

import os
import re
import statistics
import sys
import time

sys.dont_write_bytecode = True
here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tests", "e2e"))
sys.path.insert(0, here)

import benchlib  # noqa: E402
import obsharness as h  # noqa: E402
import outputcase as oc  # noqa: E402
from render_cost import _find, _section, _tree, fmt  # noqa: E402

START_TIMEOUT = 90
LIVE_TIMEOUT = 60
SETTLE_SECONDS = 2.0
KEY = "bench-vertical-key"
CONFIGS = [("main", "main stream"), ("vstream", "+ vertical stream"),
           ("vall", "+ vertical recording and replay")]


def say(msg):
    sys.stderr.write("output-cost: %s\n" % msg)
    sys.stderr.flush()


def _encoders(nodes):
    """The names of the encode(<name>) entries below the nodes."""
    names = []
    for name, _, children in nodes:
        m = re.match(r"encode\((.*)\)$", name)
        if m:
            names.append(m.group(1))
        names += _encoders(children)
    return names


def profile(text):
    """{figure: median ms} from one run's profiler summary."""
    results = _tree(_section(text.splitlines(), "Profiler Results"))
    graphics = _find(results, "obs_graphics_thread")
    if graphics is None:
        raise h.HarnessError("the log has no profiler summary of obs_graphics_thread")
    out = {"graphics": graphics.get("median")}
    for name, values, children in results:
        if not name.startswith("video_thread("):
            continue
        # Every canvas's video output is called "video": the encoders below tell them apart.
        encoders = _encoders(children)
        which = "vertical" if any(e.startswith("stilwane") for e in encoders) else "main"
        out["video " + which] = values.get("median")
        for encoder, stats in ((e, _find(children, "encode(%s)" % e)) for e in encoders):
            if stats is not None:
                out["x264 " + which] = stats.get("median")
    return out


def timed_run(config, seconds, out, index):
    with h.Session(module=True) as session:
        home = session.home
        media = os.path.join(home.path, "media")
        os.makedirs(media)
        receivers = []
        try:
            main_rx = h.RtmpReceiver(session.net, media, name="main", key="bench-main-key")
            receivers.append(main_rx)
            vertical_rx = h.RtmpReceiver(session.net, media, name="vertical", key=KEY)
            receivers.append(vertical_rx)
            oc.seed_main_outputs(home, media)
            oc.seed_module(home, server=vertical_rx.server_url, key=KEY, auto_start=config != "main",
                           recording_directory=os.path.join(media, "vertical"), recording_format="mp4",
                           recording_follow_main=False, replay_follow_main=False, replay_seconds=10)
            run = session.start_obs()
            run.wait_module_loaded(START_TIMEOUT)
            run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
            with run.connect() as ws:
                scene = oc.add_main_picture(ws)
                oc.add_vertical_scene(ws, scene)
                oc.set_main_stream(ws, main_rx.server_url, main_rx.key)
                after = len(ws.events)
                oc.start_main_stream(ws)
                main_rx.wait_receiving()
                if config != "main":
                    oc.wait_state(ws, oc.STREAM, "Live", after, LIVE_TIMEOUT)
                    vertical_rx.wait_receiving()
                if config == "vall":
                    oc.vendor_ok(ws, "StartRecord")
                    oc.vendor_ok(ws, "StartReplayBuffer")
                    oc.wait_state(ws, oc.RECORDING, "Active", after, LIVE_TIMEOUT)
                    oc.wait_state(ws, oc.REPLAY, "Active", after, LIVE_TIMEOUT)
                oc.pump(ws, SETTLE_SECONDS)
                cpu0, wall0 = h.cpu_seconds(run.pid), time.monotonic()
                oc.pump(ws, seconds)
                cpu1, wall1 = h.cpu_seconds(run.pid), time.monotonic()
                state = oc.status(ws)
                if config == "vall":
                    oc.vendor_ok(ws, "StopRecord")
                    oc.vendor_ok(ws, "StopReplayBuffer")
                oc.stop_main_stream(ws)
                if config != "main":
                    oc.wait_state(ws, oc.STREAM, "Idle", after, LIVE_TIMEOUT)
                if config == "vall":
                    oc.wait_state(ws, oc.RECORDING, "Idle", after, LIVE_TIMEOUT)
            result = run.stop()
        finally:
            for receiver in receivers:
                receiver.kill()
        with open(os.path.join(out, "%s-%d.log" % (config, index)), "w") as f:
            f.write(run.log_text())
        if result.killed or result.returncode != 0:
            raise h.HarnessError("OBS did not end cleanly (%s)\n%s" % (result, run.describe()))
        expected = {"main": "Idle", "vstream": "Live", "vall": "Live"}[config]
        if state["stream"]["stateName"] != expected:
            raise h.HarnessError("the vertical stream was %s during the %s run, not %s\n%s"
                                 % (state["stream"]["stateName"], config, expected, run.describe()))
        figures = profile(run.log_text())
        figures["cpu"] = (cpu1 - cpu0) / (wall1 - wall0)
        figures["dropped"] = state["stream"].get("droppedFrames")
        return figures


def main():
    ap = benchlib.parser(__doc__)
    benchlib.add_timed_runs(ap, "output-cost", "length of each measurement (default 20)", "where each run's log goes")
    args = benchlib.timed_runs_args(ap)
    out = args.out

    load_before = os.getloadavg()
    results = {c: [] for c, _ in CONFIGS}
    for i in range(args.repeat):
        for config, label in CONFIGS:
            say("%s, run %d/%d (%.0f s measured)" % (label, i + 1, args.repeat, args.seconds))
            results[config].append(timed_run(config, args.seconds, out, i + 1))
    load_after = os.getloadavg()

    def med(config, key):
        values = [r[key] for r in results[config] if r.get(key) is not None]
        return statistics.median(values) if values else None

    columns = [("cpu", "CPU s/s"), ("graphics", "graphics ms"), ("video main", "main video ms"),
               ("video vertical", "vertical video ms"), ("x264 main", "main encode ms"),
               ("x264 vertical", "vertical encode ms")]
    print()
    print("OBS with the module, streaming to local receivers; CPU seconds per wall second over %.0f s and"
          % args.seconds)
    print("medians of OBS's profiler (%d run(s) per configuration; medians of the runs)" % args.repeat)
    print("  graphics = one pass of obs_graphics_thread; main/vertical video = one pass of the canvas's")
    print("  video_thread (it waits for frames and runs the canvas's x264 on them); main/vertical encode =")
    print("  one frame through the canvas's video encoder")
    print()
    rows = [["configuration"] + [label for _, label in columns]]
    for config, label in CONFIGS:
        rows.append([label] + [fmt(med(config, key)) for key, _ in columns])
    benchlib.print_table(rows)
    print()
    print("Ratios")
    rows = [["comparison"] + [label for _, label in columns]]
    for (base, base_label), (config, label) in ((CONFIGS[0], CONFIGS[1]), (CONFIGS[1], CONFIGS[2])):
        row = ["%s / %s" % (config, base)]
        for key, _ in columns:
            b, v = med(base, key), med(config, key)
            row.append(fmt(v / b, "x") if b and v is not None else "-")
        rows.append(row)
    benchlib.print_table(rows)
    print()
    dropped = [r.get("dropped") for r in results["vstream"] + results["vall"]]
    print("Vertical stream frames dropped (per run): %s" % ", ".join(str(d) for d in dropped))
    print("Load average (1 min) before %.2f, after %.2f on %d CPUs; logs in %s"
          % (load_before[0], load_after[0], os.cpu_count() or 0, os.path.relpath(out)))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except h.HarnessError as exc:
        say("error: %s" % exc)
        sys.exit(1)
