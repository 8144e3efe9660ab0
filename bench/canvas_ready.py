# SPDX-License-Identifier: GPL-2.0-or-later
"""How long OBS takes to make the vertical canvas ready at start-up, by the number of vertical scenes in
the scene collection. Run through bench/canvas-ready, which builds the module first.

For each size N: one OBS run with the module in a throwaway HOME creates N empty vertical scenes
through the module's obs-websocket vendor request CreateScene and saves the collection; then OBS is
started --runs times on that same saved state (restored before each run) and each run's log is timed.

Where the times come from. OBS's log has millisecond timestamps. The module restores the canvas from
its front-end load callback, which OBS calls while it loads the scene collection, so the canvas-ready
line falls inside the collection load, before OBS's FINISHED_LOADING event (which OBS does not log):
  load      "All scene data cleared": OBS clears the old scene data as the first step of loading a
            collection; the first such line after "==== Startup complete" (which ends module
            loading, before any collection) starts the load. Every vertical scene is read after it.
  switched  the last "Switched to scene '...'" before the canvas-ready line: OBS has read every source
            (the vertical scenes too) and set its main scene; what follows until the canvas-ready line
            is mostly the module's own work (its transitions, the canvas video, its scene list).
  ready     "[stilwane] vertical canvas ready: ...".
  loaded    the dashed line that closes OBS's "Loaded scenes:" list, the last thing OBS logs while
            loading the collection; the time from "load" to it is OBS's whole collection load.
  log start the first line of the log, for the start-up as a whole.

Prints medians (and the range) in a table; asserts nothing.
"""

import os
import re
import shutil
import statistics
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))

import benchlib  # noqa: E402
import obsharness as h  # noqa: E402

START_TIMEOUT = 90
TS_RE = re.compile(r"^(\d\d):(\d\d):(\d\d)\.(\d{3}): (.*)$")
SCENE_NAME = "bench-%03d"


def say(msg):
    sys.stderr.write("canvas-ready: %s\n" % msg)
    sys.stderr.flush()


def vendor(ws, request, data):
    response = ws.request("CallVendorRequest", {"vendorName": "stilwane", "requestType": request,
                                                "requestData": data}, timeout=30)
    answer = response.get("responseData") or {}
    if answer.get("success") is False:
        raise h.HarnessError("stilwane %s %s failed: %s" % (request, data, answer.get("error")))
    return answer


def prepare(session, count):
    """Creates `count` vertical scenes in the session's HOME; returns (canvas uuid, snapshot dir)."""
    run = session.start_obs()
    run.wait_module_loaded(START_TIMEOUT)
    canvas = run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT).group(1)
    with run.connect() as ws:
        for i in range(1, count + 1):
            vendor(ws, "CreateScene", {"sceneName": SCENE_NAME % i})
    run.stop()
    state = h.module_state(session.home.read_collection("Untitled")) or {}
    if len(state.get("scene_order", [])) != count:
        raise h.HarnessError("the saved collection holds %d vertical scenes, not %d"
                             % (len(state.get("scene_order", [])), count))
    snapshot = os.path.join(session.home.path, "bench-snapshot")
    for part in ("basic", "plugin_config", "user.ini"):
        copy(os.path.join(session.home.obs_dir, part), os.path.join(snapshot, part))
    return canvas, snapshot


def copy(src, dst):
    if os.path.isdir(dst):
        shutil.rmtree(dst)
    if os.path.isdir(src):
        shutil.copytree(src, dst)
    else:
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        shutil.copy2(src, dst)


def restore(session, snapshot):
    # OBS saves the collection, its window state and the module's settings at every exit.
    for part in os.listdir(snapshot):
        copy(os.path.join(snapshot, part), os.path.join(session.home.obs_dir, part))


def millis(m):
    return ((int(m.group(1)) * 60 + int(m.group(2))) * 60 + int(m.group(3))) * 1000 + int(m.group(4))


def timeline(text):
    """{marker: ms since midnight} of one start-up log."""
    marks = {}
    phase = "start"
    last = None
    for line in text.splitlines():
        m = TS_RE.match(line)
        if not m:
            continue
        t, msg = millis(m), m.group(5)
        if last is not None and t < last - 12 * 3600 * 1000:
            t += 24 * 3600 * 1000  # the run crossed midnight
        last = t
        marks.setdefault("log start", t)
        if phase == "start" and msg.startswith("==== Startup complete"):
            phase = "modules loaded"
        elif phase == "modules loaded" and msg == "All scene data cleared":
            marks["load"] = t
            phase = "loading"
        elif phase == "loading":
            if msg.startswith("Switched to scene '"):
                marks["switched"] = t
            elif re.search(h.CANVAS_READY_RE, msg):
                marks["ready"] = t
                phase = "ready"
        elif phase == "ready" and msg == "Loaded scenes:":
            phase = "listing"
        elif phase == "listing" and re.fullmatch(r"-{20,}", msg):
            marks["loaded"] = t
            phase = "done"
    return marks


def timed_run(session, snapshot, count, canvas):
    restore(session, snapshot)
    run = session.start_obs()
    try:
        ready = run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
        run.wait_log(r"Loaded scenes:\n(?:.*\n)*?[0-9:.]+: -{20,}$", START_TIMEOUT, after=ready.start())
        # Asked after the timed part, from the module itself: OBS's log folds runs of lines of one
        # kind ("source '...' created") into "Last log entry repeated", so it cannot be counted.
        with run.connect() as ws:
            restored = len(vendor(ws, "GetSceneList", {}).get("scenes") or [])
    finally:
        run.stop()
    marks = timeline(run.log_text())
    if ready.group(1) != canvas:
        raise h.HarnessError("the run made a new canvas %s instead of restoring %s" % (ready.group(1), canvas))
    if restored != count:
        raise h.HarnessError("the module restored %d vertical scenes, not %d\n%s" % (restored, count, run.describe()))
    missing = [k for k in ("load", "switched", "ready", "loaded") if k not in marks]
    if missing:
        raise h.HarnessError("the log lacks the markers %s\n%s" % (missing, run.describe()))
    return {
        "load -> ready": marks["ready"] - marks["load"],
        "switched -> ready": marks["ready"] - marks["switched"],
        "load -> loaded": marks["loaded"] - marks["load"],
        "log start -> ready": marks["ready"] - marks["log start"],
    }


def cell(values):
    med = statistics.median(values)
    text = ("%.1f" % med).rstrip("0").rstrip(".")
    if len(values) > 1:
        text += " (%d-%d)" % (min(values), max(values))
    return text


def main():
    ap = benchlib.parser(__doc__)
    ap.add_argument("--runs", type=int, default=5, help="OBS starts per size (default 5)")
    ap.add_argument("--scenes", default="1,20,100", help="vertical scene counts (default 1,20,100)")
    args = ap.parse_args()
    sizes = [int(s) for s in args.scenes.split(",") if s.strip()]
    if args.runs < 1 or not sizes or min(sizes) < 1:
        ap.error("--runs and every --scenes count must be at least 1")
    benchlib.use_module(args)

    results = {}
    for count in sizes:
        with h.Session(module=True) as session:
            say("%d vertical scenes: preparing the collection" % count)
            canvas, snapshot = prepare(session, count)
            runs = []
            for i in range(args.runs):
                runs.append(timed_run(session, snapshot, count, canvas))
                say("%d vertical scenes: run %d/%d %s" % (count, i + 1, args.runs, runs[-1]))
            results[count] = runs

    columns = ["load -> ready", "switched -> ready", "load -> loaded", "log start -> ready"]
    print()
    print("Vertical canvas ready at OBS start-up, ms: median (min-max) of %d runs" % args.runs)
    print("  load = 'All scene data cleared' (start of the collection load), switched = OBS set its")
    print("  main scene (every source read), ready = '[stilwane] vertical canvas ready',")
    print("  loaded = end of OBS's 'Loaded scenes' list (end of the collection load)")
    print()
    rows = [["scenes"] + columns]
    for count in sizes:
        rows.append([str(count)] + [cell([r[c] for r in results[count]]) for c in columns])
    widths = [max(len(r[i]) for r in rows) for i in range(len(columns) + 1)]
    for n, row in enumerate(rows):
        print("  ".join(v.rjust(w) for v, w in zip(row, widths)))
        if n == 0:
            print("  ".join("-" * w for w in widths))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except h.HarnessError as exc:
        say("error: %s" % exc)
        sys.exit(1)
