"""What the vertical canvas and the dock's preview cost OBS's graphics thread, from the profiler summary
OBS logs at exit. Run through bench/render-cost, which builds the module first.

One OBS run with the self-test prepares a scene collection (OBS's main scene with a colour source, the
four self-test scenes on the vertical canvas, "selftest-stacked" current). Then OBS runs, each time for
the same number of seconds from its start, in a fresh HOME holding that collection:
  without module  OBS alone (it keeps the saved vertical canvas, but without video: nothing renders it);
  dock hidden     the module, with its settings saying the dock was placed before and a fresh OBS window
                  layout: OBS keeps a module's new dock hidden, so the vertical canvas renders but no
                  preview display exists;
  dock shown      the module placing its dock on the right on first run: the canvas and its preview.
A screen grab half-way through each run tells whether the dock's preview was really on the screen.

OBS's profiler covers the whole run, start-up included; medians are little moved by the start-up's
few slow frames. The figures:
  graphics      obs_graphics_thread: one pass of OBS's graphics loop (the budget is a frame, 33.3 ms);
  displays      its render_displays: drawing every display (OBS's preview and ours);
  output        its output_frame: rendering the canvases' pictures (main and vertical);
  interval      the time between graphics passes, and the frame rate it makes.
Prints figures and the ratios to the first configuration; asserts nothing.
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
SELFTEST_DONE_RE = r"\[stilwane\]\[selftest\] vertical scenes: "
CONFIGS = [("none", "without module"), ("hidden", "dock hidden"), ("shown", "dock shown")]
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


def prepare():
    """Makes the collection in one self-test run; returns a folder with basic/ and config.json."""
    snapshot = os.path.join(os.environ.get("TMPDIR", "/tmp"), "stilwane-render-cost-%d" % os.getpid())
    with h.Session(module=True) as session:
        run = session.start_obs(env={"STILWANE_SELFTEST": "1"})
        run.wait_module_loaded(START_TIMEOUT)
        run.wait_log(SELFTEST_DONE_RE, START_TIMEOUT)
        time.sleep(2.0)  # the self-test saves the collection 1.5 s after it is done
        result = run.stop()
        if not result.clean:
            raise h.HarnessError("the preparing run did not end cleanly: %s\n%s" % (result, run.describe()))
        if os.path.isdir(snapshot):
            shutil.rmtree(snapshot)
        shutil.copytree(os.path.join(session.home.obs_dir, "basic"), os.path.join(snapshot, "basic"))
        shutil.copy2(session.home.module_config_path, os.path.join(snapshot, "config.json"))
    return snapshot


def timed_run(config, snapshot, seconds, out, index):
    with h.Session(module=config != "none") as session:
        shutil.copytree(os.path.join(snapshot, "basic"), os.path.join(session.home.obs_dir, "basic"))
        if config != "none":
            with open(os.path.join(snapshot, "config.json")) as f:
                settings = json.load(f)
            # Placed before: the module leaves the dock to OBS, which keeps a new dock hidden.
            settings["main_dock_shown"] = config == "hidden"
            os.makedirs(session.home.module_config_dir, exist_ok=True)
            with open(session.home.module_config_path, "w") as f:
                json.dump(settings, f)
        run = session.start_obs()
        run.wait_log(h.STARTUP_COMPLETE_RE, START_TIMEOUT)
        if config != "none":
            run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
        while time.monotonic() < run.started + seconds / 2 and run.proc.poll() is None:
            time.sleep(0.2)
        shot = os.path.join(out, "%s-%d.png" % (config, index))
        session.screenshot(shot)
        tree = session.window_tree()
        dock = tree.find(h.DOCK_TITLE)
        displays = h.drawing_windows(dock) if dock else []
        if dock is None:
            seen = "no dock"
        elif displays and session.viewable(displays[0].id):
            seen = "preview %dx%d" % (displays[0].width, displays[0].height)
        else:
            seen = "dock hidden" if not session.viewable(dock.id) else "dock without preview"
        while time.monotonic() < run.started + seconds and run.proc.poll() is None:
            time.sleep(0.2)
        result = run.stop()
        with open(os.path.join(out, "%s-%d.log" % (config, index)), "w") as f:
            f.write(run.log_text())
        if result.killed or result.returncode != 0:
            raise h.HarnessError("OBS did not end cleanly (%s)\n%s" % (result, run.describe()))
        figures = profile(run.log_text())
        figures["seen"] = seen
        figures["seconds"] = result.seconds
        return figures


# ---------------------------------------------------------------------------------------------
# The table


def fmt(v, unit=""):
    return "-" if v is None else ("%.2f" % v) + unit


def main():
    ap = benchlib.parser(__doc__)
    benchlib.add_timed_runs(ap, "render-cost", "length of each OBS run (default 20)",
                            "where each run's log and screen grab go")
    args = benchlib.timed_runs_args(ap)
    out = args.out

    load_before = os.getloadavg()
    say("preparing the scene collection")
    snapshot = prepare()
    results = {c: [] for c, _ in CONFIGS}
    try:
        for i in range(args.repeat):
            for config, label in CONFIGS:
                say("%s, run %d/%d (%.0f s)" % (label, i + 1, args.repeat, args.seconds))
                results[config].append(timed_run(config, snapshot, args.seconds, out, i + 1))
    finally:
        shutil.rmtree(snapshot, ignore_errors=True)
    load_after = os.getloadavg()

    def med(config, key):
        values = [r[key] for r in results[config] if r.get(key) is not None]
        return statistics.median(values) if values else None

    columns = [("graphics", "ms"), ("graphics p99", "ms"), ("in budget", "%"), ("displays", "ms"),
               ("output", "ms"), ("interval", "ms")]
    print()
    print("OBS graphics thread, medians from OBS's profiler over runs of %.0f s (%d per configuration)"
          % (args.seconds, args.repeat))
    print("  graphics = one pass of the graphics loop (p99: its 99th percentile; in budget: share of passes")
    print("  under one frame, 33.3 ms), displays = render_displays (every preview drawn), output = output_frame")
    print("  (the canvases rendered), interval = time between passes (fps = 1000 / interval)")
    print()
    rows = [["configuration", "on screen"] + ["%s %s" % (c, u) for c, u in columns] + ["fps"]]
    for config, label in CONFIGS:
        interval = med(config, "interval")
        seen = sorted(set(r["seen"] for r in results[config]))
        rows.append([label, "; ".join(seen)] + [fmt(med(config, c)) for c, _ in columns]
                    + [fmt(1000.0 / interval if interval else None)])
    benchlib.print_table(rows, 2)
    print()
    print("Ratio to '%s'" % CONFIGS[0][1])
    rows = [["configuration", "graphics", "displays", "output"]]
    for config, label in CONFIGS[1:]:
        row = [label]
        for key in ("graphics", "displays", "output"):
            base, value = med(CONFIGS[0][0], key), med(config, key)
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
