# SPDX-License-Identifier: GPL-2.0-or-later
"""What streaming the vertical canvas to more destinations costs OBS: CPU time and the vertical video
thread's profiler median with one and with three destinations. Run through bench/destination-cost, which
builds the module first.

Every run starts OBS with the module in a fresh HOME (as the end-to-end tests do: headless, llvmpipe,
loopback-only network), puts a colour source on OBS's main scene and a vertical scene made from it, and
starts the vertical stream with the vendor's StartStream (OBS's own outputs stay off):
  one     config.json's "server"/"key" only: one rtmp_output on the shared encoder pair;
  three   and two more in "destinations": three rtmp_outputs on the same encoders, each to a local RTMP
          receiver of its own.
The encoders are shared, so the extra destinations should add only their network sending: the goal is a
ratio three/one within 1.05x.
Once every destination is Live, the script waits two seconds and measures for --seconds: OBS's CPU time
(user plus system, all threads, from /proc/<pid>/stat) per wall second. Then it stops the stream and
OBS; OBS's profiler summary at exit gives the median of the vertical canvas's video_thread (one pass:
waiting for the rendered frame and running the canvas's x264 on it) and of its encode(<x264>). The
profiler covers the whole run, start-up included. Prints the figures, the ratios three/one, each
destination's dropped frames and the load average. Asserts nothing.
"""

import os
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
from output_cost import profile  # noqa: E402
from render_cost import fmt  # noqa: E402

START_TIMEOUT = 90
LIVE_TIMEOUT = 60
SETTLE_SECONDS = 2.0
CONFIGS = [("one", 1, "1 destination"), ("three", 3, "3 destinations")]


def say(msg):
    sys.stderr.write("destination-cost: %s\n" % msg)
    sys.stderr.flush()


def wait_all(ws, state_name, count, timeout):
    """Polls GetOutputStatus until `count` destinations are in the state; returns the last status."""
    deadline = time.monotonic() + timeout
    while True:
        status = oc.status(ws)
        states = [d.get("stateName") for d in status.get("destinations", [])]
        if states.count(state_name) >= count:
            return status
        if time.monotonic() > deadline:
            raise h.HarnessError("%d destination(s) %s wanted within %s s, states: %s"
                                 % (count, state_name, timeout, states))
        oc.pump(ws, 0.25)


def timed_run(config, count, seconds, out, index):
    with h.Session(module=True) as session:
        home = session.home
        media = os.path.join(home.path, "media")
        os.makedirs(media)
        receivers = []
        try:
            for n in range(count):
                receivers.append(h.RtmpReceiver(session.net, media, name="dest%d" % (n + 1),
                                                key="bench-key-%d" % (n + 1)))
            extras = [{"name": "Destination %d" % (n + 1), "server": rx.server_url, "key": rx.key, "enabled": True}
                      for n, rx in enumerate(receivers[1:], 1)]
            oc.seed_module(home, server=receivers[0].server_url, key=receivers[0].key, destinations=extras,
                           auto_start=False, recording_follow_main=False, replay_follow_main=False)
            run = session.start_obs()
            run.wait_module_loaded(START_TIMEOUT)
            run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
            with run.connect() as ws:
                oc.add_vertical_scene(ws, oc.add_main_picture(ws))
                oc.vendor_ok(ws, "StartStream")
                wait_all(ws, "Live", count, LIVE_TIMEOUT)
                for rx in receivers:
                    rx.wait_receiving()
                oc.pump(ws, SETTLE_SECONDS)
                cpu0, wall0 = h.cpu_seconds(run.pid), time.monotonic()
                oc.pump(ws, seconds)
                cpu1, wall1 = h.cpu_seconds(run.pid), time.monotonic()
                state = oc.status(ws)
                oc.vendor_ok(ws, "StopStream")
                wait_all(ws, "Idle", count, LIVE_TIMEOUT)
            result = run.stop()
        finally:
            for rx in receivers:
                rx.kill()
        with open(os.path.join(out, "%s-%d.log" % (config, index)), "w") as f:
            f.write(run.log_text())
        if result.killed or result.returncode != 0:
            raise h.HarnessError("OBS did not end cleanly (%s)\n%s" % (result, run.describe()))
        live = [d for d in state.get("destinations", []) if d.get("stateName") == "Live"]
        if len(live) != count:
            raise h.HarnessError("%d destination(s) Live during the %s run, not %d: %s\n%s"
                                 % (len(live), config, count, state.get("destinations"), run.describe()))
        figures = profile(run.log_text())
        figures["cpu"] = (cpu1 - cpu0) / (wall1 - wall0)
        figures["dropped"] = [d.get("droppedFrames") for d in live]
        return figures


def main():
    ap = benchlib.parser(__doc__)
    benchlib.add_timed_runs(ap, "destination-cost", "length of each measurement (default 20)",
                            "where each run's log goes")
    args = benchlib.timed_runs_args(ap)

    load_before = os.getloadavg()
    results = {c: [] for c, _, _ in CONFIGS}
    for i in range(args.repeat):
        for config, count, label in CONFIGS:
            say("%s, run %d/%d (%.0f s measured)" % (label, i + 1, args.repeat, args.seconds))
            results[config].append(timed_run(config, count, args.seconds, args.out, i + 1))
    load_after = os.getloadavg()

    def med(config, key):
        values = [r[key] for r in results[config] if r.get(key) is not None]
        return statistics.median(values) if values else None

    columns = [("cpu", "CPU s/s"), ("video vertical", "vertical video ms"), ("x264 vertical", "vertical encode ms")]
    print()
    print("OBS with the module streaming the vertical canvas to local receivers; CPU seconds per wall second")
    print("over %.0f s and medians of OBS's profiler (%d run(s) per configuration; medians of the runs)"
          % (args.seconds, args.repeat))
    print("  vertical video = one pass of the vertical canvas's video_thread (it waits for the frame and runs")
    print("  the shared x264 on it); vertical encode = one frame through that x264")
    print()
    rows = [["configuration"] + [label for _, label in columns]]
    for config, _, label in CONFIGS:
        rows.append([label] + [fmt(med(config, key)) for key, _ in columns])
    ratio = ["three / one"]
    for key, _ in columns:
        one, three = med("one", key), med("three", key)
        ratio.append(fmt(three / one, "x") if one and three is not None else "-")
    rows.append(ratio)
    benchlib.print_table(rows)
    print()
    for config, _, label in CONFIGS:
        print("Frames dropped per destination, %s: %s" % (label, "; ".join(
            ", ".join(str(d) for d in r["dropped"]) for r in results[config])))
    print("Load average (1 min) before %.2f, after %.2f on %d CPUs; logs in %s"
          % (load_before[0], load_after[0], os.cpu_count() or 0, os.path.relpath(args.out)))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except h.HarnessError as exc:
        say("error: %s" % exc)
        sys.exit(1)
