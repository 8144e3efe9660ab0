"""Starts OBS 32 once with the built module in a throwaway HOME, lets it run a few seconds with the
self-test on, takes a screenshot (once the dock's vertical preview stopped changing), shuts OBS down
with SIGINT and keeps the evidence, the guide image the module exports (STILWANE_GUIDE_PNG) with it.

Run inside the build root; scripts/run-obs does that from the host. Exit status: 0 when the module
loaded and OBS ended cleanly, 1 otherwise (the log's tail is printed), 2 for bad arguments.
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


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--seconds", type=float, default=8.0, help="how long OBS runs after loading (default 8)")
    p.add_argument("--module", default=os.environ.get("STILWANE_MODULE") or "/src/build/src/stilwane.so",
                   help="the built stilwane.so")
    p.add_argument("--data", default=os.environ.get("STILWANE_DATA") or "/src/data", help="the data/ folder")
    p.add_argument("--out", default="/src/out/run-obs", help="where the log, config.json and screenshot go")
    p.add_argument("--show-as", default=None,
                   help="how to print the output folder (its path on the host, when run in the root)")
    p.add_argument("--desktop", default=None, metavar="DISPLAY",
                   help="use this X display instead of a private Xvfb")
    p.add_argument("--keep", action="store_true", help="keep the throwaway HOME and print its path")
    p.add_argument("--load-timeout", type=float, default=60.0)
    return p.parse_args()


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
    run = None
    dock_line = None
    with h.Session(module=False, display=args.desktop, keep=args.keep, isolate_network=isolate) as s:
        s.home.install_module(args.module, args.data)
        print("run-obs: OBS home %s, display %s" % (s.home.path, s.display), flush=True)
        guides = os.path.join(args.out, "guides.png")
        run = s.start_obs(env={"STILWANE_SELFTEST": "1", "STILWANE_GUIDE_PNG": guides})
        try:
            run.wait_module_loaded(args.load_timeout)
        except h.HarnessError:
            if run.proc.poll() is not None:
                failures.append("OBS ended during start-up (%s)" % h.describe_status(run.proc.returncode))
            failures.append("the module did not load ('plugin loaded successfully' is missing)")
        if not failures:
            try:
                run.wait_log(h.CANVAS_READY_RE, args.load_timeout)
            except h.HarnessError:
                warnings.append("the vertical canvas never became ready")
            # Let OBS settle and render before the screenshot; fail early if it dies meanwhile.
            deadline = time.monotonic() + args.seconds
            while time.monotonic() < deadline and run.proc.poll() is None:
                time.sleep(0.2)
            if run.proc.poll() is None and not run.find_all(SELFTEST_DONE_RE):
                warnings.append("the self-test did not finish within %.1f s" % args.seconds)
        screenshot = os.path.join(args.out, "screenshot.png")
        if run.proc.poll() is None:
            try:
                # On a private Xvfb the whole screen shows floating docks too; on a desktop,
                # only OBS's window is ours to capture.
                if s.xvfb:
                    dock_line = shoot_settled(s, screenshot, warnings)
                else:
                    s.screenshot(screenshot, s.main_window())
            except (h.HarnessError, OSError) as exc:
                warnings.append("no screenshot: %s" % exc)
        elif not failures:
            failures.append("OBS ended by itself (%s)" % h.describe_status(run.proc.returncode))
        result = run.stop()
        if result.killed:
            failures.append("OBS did not end within 30 s of SIGINT and was killed")
        elif result.returncode != 0 and not any("ended" in f for f in failures):
            failures.append("OBS crashed on shutdown (%s)" % h.describe_status(result.returncode))
        if result.leaks is None:
            failures.append("the log lacks 'Number of memory leaks' (OBS did not finish its shutdown)")

        log = run.log_text()
        saved = []
        if run.log_path:
            saved.append(copy(run.log_path, args.out, "obs-log.txt"))
        saved.append(copy(run.stdout_path, args.out, "obs-stdout.txt"))
        if os.path.isfile(s.home.module_config_path):
            saved.append(copy(s.home.module_config_path, args.out, "config.json"))
        else:
            warnings.append("the module wrote no %s" % s.home.module_config_path.replace(s.home.path, "$HOME"))
        if os.path.isfile(screenshot):
            saved.append("screenshot.png")
        for name, data in s.home.collections().items():
            path = s.home.collection_path(name)
            saved.append(copy(path, args.out, "collection-" + os.path.basename(path)))

        print()
        for line in log.splitlines():
            if "[stilwane]" in line:
                print("  " + line)
        print()
        print("run-obs: OBS ran %.1f s, %s, memory leaks: %s" % (
            result.seconds, h.describe_status(result.returncode), result.leaks))
        guide = re.findall(GUIDE_RE, log, re.M)
        if os.path.isfile(guides) and guide[-1:] == [("saved", guides)]:
            saved.append("guides.png")
        elif guide:
            warnings.append("the guide image was not saved: %s" % guide[-1][0])
        else:
            warnings.append("the log says nothing about the guide image")
        listed = ("obs-log.txt", "config.json", "screenshot.png", "guides.png")
        for name in listed:
            if name in saved:
                print("run-obs: %-15s %s" % (name, os.path.join(shown, name)))
        if dock_line:
            print("run-obs: %s" % dock_line)
        others = [n for n in saved if n not in listed]
        if others:
            print("run-obs: also in %s: %s" % (shown, ", ".join(others)))
        for w in warnings:
            print("run-obs: warning: %s" % w)
        if failures:
            print("\nrun-obs: FAILED: " + "; ".join(failures))
            print(run.describe(80))
            return 1
    return 0


def shoot_settled(session, path, warnings):
    """Saves the screen once the dock's preview stopped changing; returns a line on where the dock is."""
    tree = session.window_tree()
    dock = tree.find(h.DOCK_TITLE)
    displays = h.drawing_windows(dock) if dock else []
    if not displays:
        warnings.append("the screenshot shows no vertical preview (dock: %s)" % ("none" if dock is None else
                        "%dx%d at %d,%d" % (dock.width, dock.height, dock.x, dock.y)))
        session.screenshot(path)
        return None
    session.grab_settled(displays[0].rect, png=path)
    main_window = tree.find_main()
    where = "docked" if main_window is not None and dock.parent is main_window else "floating"
    return "%-15s %s, %dx%d at %d,%d; its preview %dx%d" % (
        "dock", where, dock.width, dock.height, dock.x, dock.y, displays[0].width, displays[0].height)


def copy(src, out, name):
    shutil.copyfile(src, os.path.join(out, name))
    return name


if __name__ == "__main__":
    sys.stdout.reconfigure(line_buffering=True)
    sys.exit(main())
