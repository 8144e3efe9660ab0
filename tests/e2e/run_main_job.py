"""Starts OBS 32 twice with the built module in one throwaway HOME, the self-test on, and keeps a
screenshot of each run: the first run shows the dock's Scenes tab (and its self-test generates the
four vertical scenes), the second the Sources tab (its self-test finds the scenes in the saved
collection). The tab is chosen as a user's earlier session would have left it: main_dock_tab in the
module's config.json, written before OBS starts. Each run lasts a few seconds, takes its screenshot
once the dock's vertical preview stopped changing and ends with SIGINT; the logs, config.json and
the guide image the module exports (STILWANE_GUIDE_PNG) are kept with the screenshots.

Run inside the build root; scripts/run-obs does that from the host. Exit status: 0 when the module
loaded and OBS ended cleanly both times, 1 otherwise (the log's tail is printed), 2 for bad arguments.

tests/e2e/test_docks.py drives the same runs through run_with_tab().
"""

import argparse
import os
import re
import shutil
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import obsharness as h  # noqa: E402

SELFTEST_DONE_RE = r"\[stilwane\]\[selftest\] vertical scenes: "
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


def run_with_tab(session, name, tab, screenshot, seconds, load_timeout=60.0, env=None):
    """Writes main_dock_tab into config.json, runs OBS with the self-test until `seconds` after the
    module loaded (and at least until the self-test finished), saves a screenshot and stops OBS.

    Never raises for what OBS does: failures and warnings are collected in the returned TabRun.
    """
    rec = TabRun(name, tab)
    session.home.update_module_config({"main_dock_tab": tab})
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


def main():
    args = parse_args()
    if args.seconds < 0:
        print("run-obs: --seconds must not be negative", file=sys.stderr)
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
        for index, (name, tab, shot, suffix) in enumerate(TABS):
            # One guide image is enough; the second run would only write the same picture again.
            env = {"STILWANE_GUIDE_PNG": guides} if index == 0 else {}
            rec = run_with_tab(s, name, tab, os.path.join(args.out, shot), args.seconds, args.load_timeout, env)
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
