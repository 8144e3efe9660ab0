# SPDX-License-Identifier: GPL-2.0-or-later
"""What a vertical canvas and the dock's previews cost OBS's graphics thread, from the profiler summary
OBS logs at exit, measured against a bare canvas. Run through bench/render-cost, which builds the module
and the reference module first.

The reference is bench/bare-canvas, a module that adds nothing but a private 1080x1920 canvas showing
one colour source: no dock, no display, no settings. Two OBS runs prepare the scene collections: in OBS
alone a colour source of the main canvas's size goes into the main scene; then Stilwane, started on that
collection, gets a vertical scene (its remote control's CreateScene and SetCurrentScene) holding one
1080x1920 colour source of the reference's colour (obs-websocket's CreateInput). Then OBS runs, each
time for the same number of seconds from its start, in a fresh HOME:
  without module           OBS alone on the main-only collection;
  bare canvas              the reference module on the main-only collection;
  dock hidden              Stilwane on its collection, with its settings saying the dock was placed before
                           and a fresh OBS window layout: OBS keeps a module's new dock hidden, so the
                           vertical canvas renders but no preview display exists;
  dock shown               Stilwane placing its dock on the right on first run: the canvas and its preview;
  bare canvas, studio mode the reference with OBS's studio mode on (obs-websocket's SetStudioModeEnabled
                           once OBS has started): OBS's own preview and program displays;
  studio mode              the dock shown and studio mode on, which Stilwane follows with a second display.
A screen grab half-way through each run tells which displays were really on the screen.

OBS's profiler covers the whole run, start-up (and in studio mode the seconds before it is switched on)
included; medians are little moved by them. The figures:
  graphics      obs_graphics_thread: one pass of OBS's graphics loop (the budget is a frame, 33.3 ms);
  displays      its render_displays: drawing every display (OBS's and ours);
  output        its output_frame: rendering the canvases' pictures (main and vertical);
  interval      the time between graphics passes, and the frame rate it makes.
Prints figures and their ratios to the reference (Stilwane's studio mode to the reference in studio mode;
the reference to OBS alone, and in studio mode to itself without); asserts nothing.
"""

import json
import os
import re
import shutil
import statistics
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))

import benchlib  # noqa: E402
import obsharness as h  # noqa: E402

START_TIMEOUT = 90
BARE_MODULE = "bare-canvas"
BARE_READY_RE = r"\[bare-canvas\] canvas ready \((\d+)x(\d+)\)"
VENDOR = "stilwane"
VERTICAL_SIZE = (1080, 1920)
COLOR = 0xFF8C5A2B  # ABGR, bench/bare-canvas's colour
MAIN_COLOR = 0xFF3C3C3C
# (key, label, module, studio mode, reference key)
CONFIGS = [
    ("none", "without module", None, False, None),
    ("bare", "bare canvas", BARE_MODULE, False, "none"),
    ("hidden", "dock hidden", "stilwane", False, "bare"),
    ("shown", "dock shown", "stilwane", False, "bare"),
    ("bare-studio", "bare canvas, studio mode", BARE_MODULE, True, "bare"),
    ("studio", "studio mode", "stilwane", True, "bare-studio"),
]
TS_PREFIX = re.compile(r"^\d\d:\d\d:\d\d\.\d{3}: ")
TREE_CHARS = " \u2503\u2523\u2517"  # space, the vertical bar, the branch, the last branch


def say(msg):
    sys.stderr.write("render-cost: %s\n" % msg)
    sys.stderr.flush()


# ---------------------------------------------------------------------------------------------
# OBS's profiler summary


def _section(lines, title):
    """The lines after the '== <title> ===' line up to the next '===' line, without timestamps."""
    out = None
    for line in lines:
        line = TS_PREFIX.sub("", line)
        if out is None:
            if line.startswith("== %s " % title):
                out = []
        elif line.startswith("=="):
            break
        else:
            out.append(line)
    return out or []


def _tree(lines):
    """[(name, stats dict, children)] of a profiler section; nesting from the box-drawing prefix."""
    root = []
    stack = [(-1, root)]
    for line in lines:
        body = line.lstrip(TREE_CHARS)
        depth = (len(line) - len(body)) // 2
        name, _, stats = body.partition(": ")
        # Names may hold ": " only inside their parentheses, e.g. "obs_graphics_thread(33.3333 ms)".
        values = {k.strip(): float(v) for k, v in re.findall(r"([a-z0-9 ]+)=(-?[0-9.]+)\s*ms", stats)}
        m = re.search(r"([0-9.]+)% (below|within)", stats)
        if m:
            values["share " + m.group(2)] = float(m.group(1))
        node = (name, values, [])
        while stack[-1][0] >= depth:
            stack.pop()
        stack[-1][1].append(node)
        stack.append((depth, node[2]))
    return root


def _find(nodes, base):
    """The first node, depth first, whose name is `base` or `base(...)`."""
    for name, values, children in nodes:
        if name == base or name.startswith(base + "("):
            return values
        found = _find(children, base)
        if found is not None:
            return found
    return None


def profile(text):
    """The figures of one run's log: {figure: ms or %}."""
    lines = text.splitlines()
    results = _tree(_section(lines, "Profiler Results"))
    between = _tree(_section(lines, "Profiler Time Between Calls"))
    graphics = next((children for name, _, children in results if name.startswith("obs_graphics_thread(")), None)
    thread = _find(results, "obs_graphics_thread")
    interval = _find(between, "obs_graphics_thread")
    if graphics is None or thread is None or interval is None:
        raise h.HarnessError("the log has no profiler summary of obs_graphics_thread")
    out = {
        "graphics": thread.get("median"),
        "graphics p99": thread.get("99th percentile"),
        "in budget": thread.get("share below"),
        "displays": (_find(graphics, "render_displays") or {}).get("median"),
        "output": (_find(graphics, "output_frame") or {}).get("median"),
        "interval": interval.get("median"),
    }
    return out


# ---------------------------------------------------------------------------------------------
# The runs


def vendor(ws, rtype, data=None):
    """The answer of a request to Stilwane's remote control; raises when it did not succeed."""
    request = {"vendorName": VENDOR, "requestType": rtype}
    if data is not None:
        request["requestData"] = data
    answer = ws.request("CallVendorRequest", request).get("responseData", {})
    if answer.get("success") is not True:
        raise h.HarnessError("Stilwane's %s failed: %s" % (rtype, answer))
    return answer


def color_settings(color, width, height):
    return {"color": color, "width": width, "height": height}


def stop_and_copy(run, session, folder):
    """Stops OBS (which saves the collection) and copies its profiles and collections to folder/basic."""
    result = run.stop()
    if not result.clean:
        raise h.HarnessError("the preparing run did not end cleanly: %s\n%s" % (result, run.describe()))
    shutil.copytree(os.path.join(session.home.obs_dir, "basic"), os.path.join(folder, "basic"))


def prepare():
    """Makes the two collections; returns a folder holding main/basic (OBS's main scene only) and
    vertical/basic with vertical/config.json (Stilwane's canvas and scene on top)."""
    snapshot = os.path.join(os.environ.get("TMPDIR", "/tmp"), "stilwane-render-cost-%d" % os.getpid())
    if os.path.isdir(snapshot):
        shutil.rmtree(snapshot)
    with h.Session(module=False) as session:
        run = session.start_obs()
        run.wait_log(h.STARTUP_COMPLETE_RE, START_TIMEOUT)
        with run.connect() as ws:
            video = ws.request("GetVideoSettings")
            scene = ws.request("GetCurrentProgramScene")
            ws.request("CreateInput", {
                "sceneUuid": scene["sceneUuid"], "inputName": "Main Colour", "inputKind": "color_source_v3",
                "inputSettings": color_settings(MAIN_COLOR, video["baseWidth"], video["baseHeight"])})
        stop_and_copy(run, session, os.path.join(snapshot, "main"))

        session.home.install_module()
        run = session.start_obs()
        run.wait_module_loaded(START_TIMEOUT)
        run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
        with run.connect() as ws:
            width, height = VERTICAL_SIZE
            canvas = vendor(ws, "GetCanvas")
            if (canvas.get("width"), canvas.get("height")) != VERTICAL_SIZE:
                raise h.HarnessError("the vertical canvas is %sx%s, not %dx%d"
                                     % (canvas.get("width"), canvas.get("height"), width, height))
            before = vendor(ws, "GetSceneList")["scenes"]
            scene = vendor(ws, "CreateScene", {"sceneName": "Render Cost"})
            vendor(ws, "SetCurrentScene", {"sceneUuid": scene["sceneUuid"]})
            for other in before:
                vendor(ws, "RemoveScene", {"sceneUuid": other["sceneUuid"]})
            ws.request("CreateInput", {
                "sceneUuid": scene["sceneUuid"], "inputName": "Vertical Colour", "inputKind": "color_source_v3",
                "inputSettings": color_settings(COLOR, width, height)})
            items = vendor(ws, "GetSceneItemList", {"sceneUuid": scene["sceneUuid"]})["sceneItems"]
            scenes = vendor(ws, "GetSceneList")
            if [i["sourceName"] for i in items] != ["Vertical Colour"] or len(scenes["scenes"]) != 1 \
                    or scenes["currentSceneUuid"] != scene["sceneUuid"]:
                raise h.HarnessError("the vertical scene was not made as asked: %s, %s" % (scenes, items))
        stop_and_copy(run, session, os.path.join(snapshot, "vertical"))
        shutil.copy2(session.home.module_config_path, os.path.join(snapshot, "vertical", "config.json"))
    return snapshot


def install_bare_module(home, path):
    """Installs bench/bare-canvas as a user plug-in of the HOME."""
    folder = os.path.join(home.obs_dir, "plugins", BARE_MODULE)
    os.makedirs(os.path.join(folder, "bin", "64bit"))
    os.makedirs(os.path.join(folder, "data"))
    shutil.copy2(path, os.path.join(folder, "bin", "64bit", BARE_MODULE + ".so"))


def on_screen(session):
    """Which displays the screen shows: OBS's own in its main window and the dock's previews."""
    tree = session.window_tree()
    # The title reads "OBS Studio <version>" in studio mode.
    main = next((w for w in tree.walk() if w.name and re.match(r"OBS (Studio )?\d+\.", w.name)), None)
    dock = tree.find(h.DOCK_TITLE)
    ours = [w for w in h.drawing_windows(dock) if session.viewable(w.id)] if dock else []
    ours_ids = set(w.id for w in dock.walk()) if dock else set()
    obs = [w for w in h.drawing_windows(main) if w.id not in ours_ids and session.viewable(w.id)] if main else []
    seen = "OBS %d" % len(obs)
    if dock is None:
        return seen + ", no dock"
    if not session.viewable(dock.id):
        return seen + ", dock hidden"
    if not ours:
        return seen + ", dock without preview"
    return seen + ", dock %s" % " + ".join("%dx%d" % (w.width, w.height) for w in ours)


def timed_run(config, snapshot, bare_module, seconds, out, index):
    key, _, module, studio, _ = config
    with h.Session(module=module == "stilwane") as session:
        collection = "vertical" if module == "stilwane" else "main"
        shutil.copytree(os.path.join(snapshot, collection, "basic"), os.path.join(session.home.obs_dir, "basic"))
        if module == BARE_MODULE:
            install_bare_module(session.home, bare_module)
        if module == "stilwane":
            with open(os.path.join(snapshot, "vertical", "config.json")) as f:
                settings = json.load(f)
            # Placed before: the module leaves the dock to OBS, which keeps a new dock hidden.
            settings["main_dock_shown"] = key == "hidden"
            os.makedirs(session.home.module_config_dir, exist_ok=True)
            with open(session.home.module_config_path, "w") as f:
                json.dump(settings, f)
        run = session.start_obs()
        run.wait_log(h.STARTUP_COMPLETE_RE, START_TIMEOUT)
        if module == "stilwane":
            run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
        elif module == BARE_MODULE:
            run.wait_log(BARE_READY_RE, START_TIMEOUT)
        if studio:
            with run.connect() as ws:
                ws.request("SetStudioModeEnabled", {"studioModeEnabled": True})
                ws.wait_event("StudioModeStateChanged", lambda d: d.get("studioModeEnabled"))
        ready = time.monotonic() - run.started
        while time.monotonic() < run.started + seconds / 2 and run.proc.poll() is None:
            time.sleep(0.2)
        session.screenshot(os.path.join(out, "%s-%d.png" % (key, index)))
        seen = on_screen(session)
        while time.monotonic() < run.started + seconds and run.proc.poll() is None:
            time.sleep(0.2)
        result = run.stop()
        with open(os.path.join(out, "%s-%d.log" % (key, index)), "w") as f:
            f.write(run.log_text())
        if result.killed or result.returncode != 0:
            raise h.HarnessError("OBS did not end cleanly (%s)\n%s" % (result, run.describe()))
        figures = profile(run.log_text())
        figures["seen"] = seen
        figures["seconds"] = result.seconds
        figures["ready"] = ready
        return figures


# ---------------------------------------------------------------------------------------------
# The table


def fmt(v, unit=""):
    return "-" if v is None else ("%.2f" % v) + unit


def main():
    ap = benchlib.parser(__doc__)
    ap.add_argument("--bare-module", required=True, help="the built bare-canvas.so (bench/bare-canvas)")
    benchlib.add_timed_runs(ap, "render-cost", "length of each OBS run (default 20)",
                            "where each run's log and screen grab go")
    args = benchlib.timed_runs_args(ap)
    out = args.out
    bare_module = os.path.abspath(args.bare_module)
    if not os.path.isfile(bare_module):
        ap.error("the reference module %s does not exist; build the project first" % args.bare_module)

    load_before = os.getloadavg()
    say("preparing the scene collections")
    snapshot = prepare()
    results = {c[0]: [] for c in CONFIGS}
    try:
        for i in range(args.repeat):
            for config in CONFIGS:
                say("%s, run %d/%d (%.0f s)" % (config[1], i + 1, args.repeat, args.seconds))
                results[config[0]].append(timed_run(config, snapshot, bare_module, args.seconds, out, i + 1))
    finally:
        shutil.rmtree(snapshot, ignore_errors=True)
    load_after = os.getloadavg()

    def med(key, figure):
        values = [r[figure] for r in results[key] if r.get(figure) is not None]
        return statistics.median(values) if values else None

    labels = {c[0]: c[1] for c in CONFIGS}
    columns = [("graphics", "ms"), ("graphics p99", "ms"), ("in budget", "%"), ("displays", "ms"),
               ("output", "ms"), ("interval", "ms")]
    print()
    print("OBS graphics thread, medians from OBS's profiler over runs of %.0f s (%d per configuration)"
          % (args.seconds, args.repeat))
    print("  graphics = one pass of the graphics loop (p99: its 99th percentile; in budget: share of passes")
    print("  under one frame, 33.3 ms), displays = render_displays (every display drawn), output = output_frame")
    print("  (the canvases rendered), interval = time between passes (fps = 1000 / interval); ready = seconds")
    print("  from OBS's start until the configuration stood (canvas made, studio mode on); on screen = OBS's")
    print("  own displays and the dock's previews in the screen grab half-way through")
    print()
    rows = [["configuration", "on screen"] + ["%s %s" % (c, u) for c, u in columns] + ["fps", "ready s"]]
    for key, label, _, _, _ in CONFIGS:
        interval = med(key, "interval")
        seen = sorted(set(r["seen"] for r in results[key]))
        rows.append([label, "; ".join(seen)] + [fmt(med(key, c)) for c, _ in columns]
                    + [fmt(1000.0 / interval if interval else None), fmt(med(key, "ready"))])
    benchlib.print_table(rows, 2)
    print()
    print("Ratios to each configuration's reference")
    rows = [["configuration", "reference", "graphics", "displays", "output", "interval"]]
    for key, label, _, _, reference in CONFIGS:
        if reference is None:
            continue
        row = [label, labels[reference]]
        for figure in ("graphics", "displays", "output", "interval"):
            base, value = med(reference, figure), med(key, figure)
            row.append(fmt(value / base, "x") if base and value is not None else "-")
        rows.append(row)
    benchlib.print_table(rows, 2)
    print()
    print("Load average (1 min) before %.2f, after %.2f on %d CPUs; logs and screen grabs in %s"
          % (load_before[0], load_after[0], os.cpu_count() or 0, os.path.relpath(out)))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except h.HarnessError as exc:
        say("error: %s" % exc)
        sys.exit(1)
