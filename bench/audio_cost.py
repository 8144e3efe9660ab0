# SPDX-License-Identifier: GPL-2.0-or-later
"""What the vertical audio costs OBS: CPU time, OBS's audio thread and the CPU time per thread for five
configurations of the same length. Run through bench/audio-cost, which builds the module first.

Every run starts OBS with the module in a fresh HOME (as the end-to-end tests do: headless, llvmpipe,
loopback-only network, a 640x360 main canvas and a 360x640 vertical one, so that rendering stays small
beside the audio; a 1600x3000 screen with OBS's window almost as tall, so that the Audio tab has room
for 20 rows), makes looping media sources (a 440 Hz tone, local WAV) in OBS's main scene and adds
each to a vertical scene, so that every one is shared; no output runs. Per configuration:
  mirrors 0      32 sources; the vertical track split off the main stream's (vendor SplitAudioTrack),
                 no separate vertical volume;
  mirrors 8      the same, 8 of them with a separate vertical volume (vendor SetSourceSeparate): each
                 gets a mirror source on the private audio canvas, fed with the source's audio;
  mirrors 32     the same, all 32 separated;
  dock hidden    20 sources, no split, the dock open on another tab than Audio (config.json);
  dock shown     20 sources, the dock open on its Audio tab: 20 rows and the master meter, repainted by
                 the meter tick every 50 ms while the tones play (a screen grab of it goes to
                 --out as shown-<n>.png).
Once everything is set up the script waits two seconds and measures for --seconds: OBS's CPU time
(user plus system, all threads, from /proc/<pid>/stat) per wall second, and the same per thread from
/proc/<pid>/task, summed per thread name (the media sources' decoder threads, libobs's audio thread,
the graphics thread, OBS's user-interface thread "obs", ...). OBS's profiler summary at exit gives
audio_thread(Audio): one pass of libobs's audio thread (the mix of every audio source into the six
tracks, then the outputs' audio callbacks); median and 99th percentile over the whole run.
Prints the figures and the ratios mirrors 8 / mirrors 0, mirrors 32 / mirrors 0 and dock shown / dock
hidden, the load average, and where the added CPU time went. Asserts nothing.
"""

import collections
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
import test_audio as ta  # noqa: E402
from render_cost import _find, _section, _tree, fmt  # noqa: E402

START_TIMEOUT = 90
SETTLE_SECONDS = 2.0
MAIN_DOCK_AUDIO_TAB = 3
# Tall enough for the dock's Audio tab to show its header and 20 rows below the portrait preview.
SCREEN = "1600x3000x24"
WINDOW = (1560, 2960)
# (key, label, media sources, separated sources, dock tab)
CONFIGS = [("m0", "32 sources, no mirror", 32, 0, 0),
           ("m8", "32 sources, 8 mirrors", 32, 8, 0),
           ("m32", "32 sources, 32 mirrors", 32, 32, 0),
           ("hidden", "20 rows, Audio tab hidden", 20, None, 0),
           ("shown", "20 rows, Audio tab shown", 20, None, MAIN_DOCK_AUDIO_TAB)]
RATIOS = [("m0", "m8"), ("m0", "m32"), ("hidden", "shown")]


def say(msg):
    sys.stderr.write("audio-cost: %s\n" % msg)
    sys.stderr.flush()


def thread_cpu(pid):
    """{tid: (name, CPU seconds)} of every thread of the process."""
    out = {}
    tick = float(os.sysconf("SC_CLK_TCK"))
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/stat" % (pid, tid)) as f:
                text = f.read()
        except OSError:
            continue  # the thread ended meanwhile
        name = text[text.index("(") + 1:text.rindex(")")]
        fields = text.rsplit(")", 1)[1].split()
        out[tid] = (name, (int(fields[11]) + int(fields[12])) / tick)
    return out


def per_name(before, after, seconds):
    """{thread name: CPU seconds per wall second} between two thread_cpu() snapshots; threads with
    numbered names ("mp_media_thr 3") are counted together."""
    out = collections.Counter()
    for tid, (name, cpu) in after.items():
        start = before.get(tid, (name, 0.0))[1]
        out[re.sub(r"[\s:#_-]*\d+$", "", name) or name] += (cpu - start) / seconds
    return out


def audio_profile(text):
    """{"audio": median ms, "audio p99": ms} of audio_thread(...) in the log's profiler summary."""
    results = _tree(_section(text.splitlines(), "Profiler Results"))
    audio = _find(results, "audio_thread")
    if audio is None:
        raise h.HarnessError("the log has no profiler summary of audio_thread")
    return {"audio": audio.get("median"), "audio p99": audio.get("99th percentile")}


def timed_run(config, seconds, out, index, tone):
    key, _, sources, separated, tab = config
    with h.Session(module=True, screen=SCREEN) as session:
        home = session.home
        media = os.path.join(home.path, "media")
        os.makedirs(media)
        ta.advanced_profile(home, media, 1)
        oc.seed_module(home, key="", width=360, height=640, main_dock_tab=tab, recording_follow_main=False,
                       replay_follow_main=False)
        run = session.start_obs()
        run.wait_module_loaded(START_TIMEOUT)
        run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
        made = 0
        with run.connect() as ws:
            main_window = session.main_window()
            if main_window:
                session.resize_window(main_window, *WINDOW)
            main_scene = ws.request("GetCurrentProgramScene")["sceneName"]
            scene = oc.vendor_ok(ws, "CreateScene", {"sceneName": "Vertical"})["sceneUuid"]
            oc.vendor_ok(ws, "SetCurrentScene", {"sceneUuid": scene})
            names = ["Tone %02d" % i for i in range(sources)]
            for name in names:
                uuid = ws.request("CreateInput", {"sceneName": main_scene, "inputName": name,
                                                  "inputKind": "ffmpeg_source",
                                                  "inputSettings": ta.media_settings(tone)})["inputUuid"]
                ws.request("CreateSceneItem", {"sceneUuid": scene, "sourceUuid": uuid})
            ta.wait_listed(ws, names, timeout=20)
            if separated is not None:
                oc.vendor_ok(ws, "SplitAudioTrack")
                for name in names[:separated]:
                    made += oc.vendor(ws, "SetSourceSeparate", {"sourceName": name, "separate": True}).get(
                        "success") is True
            oc.pump(ws, SETTLE_SECONDS)
            if key == "shown":
                session.grab(png=os.path.join(out, "shown-%d.png" % index))
            cpu0, threads0, wall0 = h.cpu_seconds(run.pid), thread_cpu(run.pid), time.monotonic()
            oc.pump(ws, seconds)
            cpu1, threads1, wall1 = h.cpu_seconds(run.pid), thread_cpu(run.pid), time.monotonic()
            listed = ta.audio_sources(ws).get("sources", [])
        result = run.stop()
        with open(os.path.join(out, "%s-%d.log" % (key, index)), "w") as f:
            f.write(run.log_text())
        if result.killed or result.returncode != 0:
            raise h.HarnessError("OBS did not end cleanly (%s)\n%s" % (result, run.describe()))
        figures = audio_profile(run.log_text())
        figures["cpu"] = (cpu1 - cpu0) / (wall1 - wall0)
        figures["threads"] = per_name(threads0, threads1, wall1 - wall0)
        figures["mirrors"] = sum(1 for s in listed if s.get("separate") is True) if separated is not None else None
        figures["asked"] = separated
        figures["made"] = made
        return figures


def main():
    ap = benchlib.parser(__doc__)
    benchlib.add_timed_runs(ap, "audio-cost", "length of each measurement (default 20)", "where each run's log goes")
    ap.add_argument("--only", default=",".join(c[0] for c in CONFIGS),
                    help="the configurations to run, comma-separated (default: %(default)s)")
    args = benchlib.timed_runs_args(ap)
    out = args.out
    chosen = [c for c in CONFIGS if c[0] in args.only.split(",")]
    if not chosen:
        ap.error("--only names none of %s" % ", ".join(c[0] for c in CONFIGS))
    tone = ta.make_tone(os.path.join(out, "tone-440.wav"), 440)

    load_before = os.getloadavg()
    results = {c[0]: [] for c in chosen}
    for i in range(args.repeat):
        for config in chosen:
            say("%s, run %d/%d (%.0f s measured)" % (config[1], i + 1, args.repeat, args.seconds))
            results[config[0]].append(timed_run(config, args.seconds, out, i + 1, tone))
    load_after = os.getloadavg()

    def med(key, figure):
        values = [r[figure] for r in results.get(key, []) if r.get(figure) is not None]
        return statistics.median(values) if values else None

    def thread_med(key, name):
        runs = results.get(key)
        return statistics.median([r["threads"].get(name, 0.0) for r in runs]) if runs else None

    columns = [("cpu", "CPU s/s"), ("audio", "audio thread ms"), ("audio p99", "audio p99 ms")]
    print()
    print("OBS with the module, no output running; CPU seconds per wall second over %.0f s and OBS's"
          % args.seconds)
    print("profiler for audio_thread (one pass of libobs's audio mix; %d run(s) per configuration, medians)"
          % args.repeat)
    print()
    rows = [["configuration", "mirrors"] + [label for _, label in columns]]
    for key, label, _, separated, _ in chosen:
        mirrors = "-" if separated is None else "%s" % (results[key][-1].get("mirrors"),)
        rows.append([label, mirrors] + [fmt(med(key, figure)) for figure, _ in columns])
    benchlib.print_table(rows, left_columns=1)
    print()
    print("Ratios")
    rows = [["comparison"] + [label for _, label in columns]]
    ratios = [(b, o) for b, o in RATIOS if b in results and o in results]
    for base, other in ratios:
        row = ["%s / %s" % (other, base)]
        for figure, _ in columns:
            b, v = med(base, figure), med(other, figure)
            row.append(fmt(v / b, "x") if b and v is not None else "-")
        rows.append(row)
    benchlib.print_table(rows)
    print()
    print("CPU s/s per thread name (the largest; medians of the runs)")
    names = collections.Counter()
    for key in results:
        for r in results[key]:
            names.update(r["threads"])
    top = [n for n, _ in names.most_common(8)]
    rows = [["thread"] + [c[0] for c in chosen]]
    for name in top:
        rows.append([name] + [fmt(thread_med(c[0], name)) for c in chosen])
    benchlib.print_table(rows)
    print()
    for base, other in ratios:
        diffs = sorted(((thread_med(other, n) - thread_med(base, n), n) for n in names), reverse=True)[:3]
        print("%s - %s: %+.3f CPU s/s in all; most in %s" % (
            other, base, (med(other, "cpu") or 0.0) - (med(base, "cpu") or 0.0),
            ", ".join("%s %+.3f" % (n, d) for d, n in diffs)))
    made = ["%s %s/%s" % (key, r["asked"], r["made"]) for key in ("m8", "m32") for r in results.get(key, [])]
    print("Mirrors asked/made per run: %s" % (", ".join(made) or "-"))
    print("Load average (1 min) before %.2f, after %.2f on %d CPUs; logs in %s"
          % (load_before[0], load_after[0], os.cpu_count() or 0, os.path.relpath(out)))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except h.HarnessError as exc:
        say("error: %s" % exc)
        sys.exit(1)
