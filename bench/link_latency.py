# SPDX-License-Identifier: GPL-2.0-or-later
"""How long a followed main switch waits before the vertical canvas switches: OBS's program scene is
switched back and forth through obs-websocket (a main fade) and the module's log line for each
followed switch carries its queue delay, from the main transition's start (libobs's signal, on the
thread that started it) to the work that switched the vertical scene on the user-interface thread.
Run through bench/link-latency, which builds the module first.

Prints the median, 90th and 99th percentile and the maximum of the delays in milliseconds (the log
has whole milliseconds), and the load average; asserts nothing.
"""

import os
import re
import statistics
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))

import benchlib  # noqa: E402
import obsharness as h  # noqa: E402

START_TIMEOUT = 90
LINKED_RE = re.compile(r"\[stilwane\] linked vertical scene '[^']*': \d+ ms, match_main=\w+, "
                       r"trigger=transition_start, queued=(\d+) ms")


def say(msg):
    sys.stderr.write("link-latency: %s\n" % msg)
    sys.stderr.flush()


def vendor(ws, request, data):
    response = ws.request("CallVendorRequest", {"vendorName": "stilwane", "requestType": request,
                                                "requestData": data}, timeout=30)
    answer = response.get("responseData") or {}
    if answer.get("success") is False:
        raise h.HarnessError("stilwane %s failed: %s" % (request, answer.get("error")))
    return answer


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100.0 * (len(ordered) - 1))))]


def main():
    ap = benchlib.parser(__doc__)
    ap.add_argument("--switches", type=int, default=200, help="main switches to follow (default 200)")
    ap.add_argument("--fade-ms", type=int, default=50, help="the main fade's duration (default 50 ms)")
    args = ap.parse_args()
    benchlib.use_module(args)

    with h.Session(module=True) as session:
        run = session.start_obs()
        run.wait_module_loaded(START_TIMEOUT)
        run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
        with run.connect() as ws:
            main_a = ws.request("GetCurrentProgramScene")["sceneName"]
            ws.request("CreateScene", {"sceneName": "Bench B"})
            for name in (main_a, "Bench B"):
                ws.request("CreateInput", {"sceneName": name, "inputName": "colour " + name,
                                           "inputKind": "color_source_v3", "inputSettings": {}})
                vendor(ws, "GenerateScene", {"mainSceneName": name, "template": "FitWidth",
                                             "sceneName": "vertical " + name})
            ws.request("SetCurrentSceneTransition", {"transitionName": "Fade"})
            ws.request("SetCurrentSceneTransitionDuration", {"transitionDuration": args.fade_ms})
            mark = run.mark()
            say("switching the main program %d times" % args.switches)
            for i in range(args.switches):
                target = "Bench B" if i % 2 == 0 else main_a
                ws.request("SetCurrentProgramScene", {"sceneName": target})
                # Let the fade finish: a switch during a running transition is OBS's own business.
                time.sleep(args.fade_ms / 1000.0 + 0.1)
            deadline = time.monotonic() + 10
            while len(LINKED_RE.findall(run.log_text()[mark:])) < args.switches and time.monotonic() < deadline:
                time.sleep(0.2)
            delays = [int(v) for v in LINKED_RE.findall(run.log_text()[mark:])]
        run.stop()

    if not delays:
        say("no followed switch was logged")
        return 1
    load = os.getloadavg()
    benchlib.print_table([
        ["followed switches", "median ms", "p90 ms", "p99 ms", "max ms"],
        ["%d of %d" % (len(delays), args.switches), "%.1f" % statistics.median(delays),
         "%d" % percentile(delays, 90), "%d" % percentile(delays, 99), "%d" % max(delays)],
    ])
    print("load average %.2f %.2f %.2f" % load)
    return 0


if __name__ == "__main__":
    sys.exit(main())
