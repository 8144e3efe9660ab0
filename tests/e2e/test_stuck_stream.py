# SPDX-License-Identifier: GPL-2.0-or-later
"""A vertical stream stuck connecting, in the real OBS: the server takes the TCP connection and never
answers the RTMP handshake, so libobs's connection attempt lasts until librtmp gives up (about half a
minute), and a forced stop of the output waits for it.

The server is socat in OBS's network namespace: it accepts every connection and hands it to a `sleep`
that never reads or writes. Two OBS runs in one throwaway HOME:

run 1 (OBS alone, the module not installed)
  alone    OBS's own stream (obs-websocket SetStreamServiceSettings and StartStream) to the silent
           server; 2 s after its connection is made, SIGINT: how long OBS takes to end is the
           yardstick for the module's run.
run 2 (the module installed, its stream configured in config.json to the silent server)
  start    OBS starts with the vertical canvas;
  switch   the vendor's StartStream; 2 s after the stream is Connecting (and its connection made),
           obs-websocket's CreateSceneCollection: the request is answered, CurrentSceneCollectionChanged
           arrives and the module readies the new collection's canvas within seconds, although the old
           stream's connection attempt still runs; the log says the stream is stopped in the background;
  probes   while that connection attempt still runs, OBS answers at once: obs-websocket's GetVersion and
           GetStats, and the vendor's GetOutputStatus, which is carried out on OBS's user-interface
           thread; the new canvas holds the usual name;
  exit     in the new collection the vendor's StartStream to the silent server again; 2 s after its
           connection is made, SIGINT: the stream is stopped in the background and released before the
           module unloads; OBS ends cleanly (the log ends with libobs's leak count) and takes no longer
           than OBS alone did plus a small margin.
"""

import os
import re
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

import obsharness as h  # noqa: E402
import outputcase as oc  # noqa: E402
from e2ecase import ObsTestCase, canvas_list_named, main  # noqa: E402

START_TIMEOUT = 60
STATE_TIMEOUT = 30
CONNECT_TIMEOUT = 15  # from Connecting (or OBS's STARTING) to the TCP connection to the silent server
STUCK_SECONDS = 2  # how long the stream has been connecting when the switch or the SIGINT comes
SWITCH_TIMEOUT = 90  # long enough to see a switch that waits for the connection attempt to give up
SWITCH_LIMIT = 8.0  # seconds: the switch answered and the new collection announced and ready
PROMPT_LIMIT = 3.0  # seconds: a request answered while the old connection attempt still runs
EXIT_TIMEOUT = 120  # SIGINT to the end of OBS; librtmp gives up on a silent server after about 30 s
EXIT_MARGIN = 5.0  # seconds the module's run may take beyond OBS alone's
KEY = "stilwane-e2e-stuck-key"
MAIN_KEY = "main-stuck-key"
SECOND = "Stuck Second"

OUTPUT_NAME = "stilwane_output"  # the module's stream output in libobs's lines
OUTPUT_DESTROYED_RE = r"output '%s' destroyed" % OUTPUT_NAME
BACKGROUND_RE = r"\[stilwane\] vertical stream still connecting: stopping it in the background"


class SilentServer(h._Helper):
    """A TCP server that accepts every connection and never sends a byte (socat handing each
    connection to a sleeping shell command): an RTMP publisher waits for the server's handshake until
    its own timeout."""

    def __init__(self, net, directory, name="silent", app="live"):
        self.port = net.free_port()
        self.server_url = "rtmp://127.0.0.1:%d/%s" % (self.port, app)
        h._Helper.__init__(self, net, ["socat", "TCP-LISTEN:%d,fork,reuseaddr" % self.port, "SYSTEM:sleep 600"],
                           os.path.join(directory, name + ".log"), "silent server on port %d" % self.port)
        self._wait_ready()

    def client_ports(self):
        """The local ports of the clients whose TCP connections to the server are established (the
        clients' ends, read from /proc in the server's network namespace)."""
        ports = set()
        for name in ("tcp", "tcp6"):
            try:
                with open("/proc/%d/net/%s" % (self.pid, name)) as f:
                    next(f, None)
                    for line in f:
                        fields = line.split()
                        if len(fields) > 3 and fields[3] == "01":  # TCP_ESTABLISHED
                            local = int(fields[1].rsplit(":", 1)[1], 16)
                            remote = int(fields[2].rsplit(":", 1)[1], 16)
                            if remote == self.port:
                                ports.add(local)
            except (FileNotFoundError, ProcessLookupError):
                pass
        return ports

    def wait_new_client(self, known, ws=None, timeout=CONNECT_TIMEOUT):
        """Waits for an established connection from a client port not in known; returns the port.
        Keeps reading the client's events meanwhile."""
        deadline = time.monotonic() + timeout
        while True:
            new = self.client_ports() - set(known)
            if new:
                return min(new)
            if time.monotonic() > deadline:
                raise h.HarnessError("no new connection to the %s within %s s (established: %s)\n%s"
                                     % (self.what, timeout, sorted(self.client_ports()), self.describe()))
            if ws is not None:
                oc.pump(ws, 0.1)
            else:
                time.sleep(0.1)


def timed(fn, *args, **kw):
    """(fn's result, seconds it took)."""
    started = time.monotonic()
    result = fn(*args, **kw)
    return result, time.monotonic() - started


def stop_timed(run):
    """SIGINT to OBS; (its ObsExit, seconds from the signal to its end)."""
    started = time.monotonic()
    result = run.stop(EXIT_TIMEOUT)
    return result, time.monotonic() - started


class StuckStream(ObsTestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = h.Session(module=False)
        cls.rec = {}
        cls.runs = {}
        cls.server = None
        cls.ws = None
        home = cls.session.home
        cls.media = os.path.join(home.path, "media")
        os.makedirs(cls.media)
        rec = cls.rec

        def alone():
            cls.server = SilentServer(cls.session.net, cls.media)
            run = cls.runs["alone"] = cls.session.start_obs()
            run.wait_log(h.STARTUP_COMPLETE_RE, START_TIMEOUT)
            ws = run.connect()
            try:
                oc.set_main_stream(ws, cls.server.server_url, MAIN_KEY)
                known = cls.server.client_ports()
                after = len(ws.events)
                ws.request("StartStream")
                ws.wait_event("StreamStateChanged", lambda d: d.get("outputState") == "OBS_WEBSOCKET_OUTPUT_STARTING",
                              timeout=STATE_TIMEOUT, after=after)
                rec["alone_port"] = cls.server.wait_new_client(known, ws)
                oc.pump(ws, STUCK_SECONDS)
                rec["alone_connected_at_sigint"] = rec["alone_port"] in cls.server.client_ports()
            finally:
                ws.close()
            rec["alone_exit"], rec["alone_exit_s"] = stop_timed(run)

        def start():
            if cls.server is None:
                cls.server = SilentServer(cls.session.net, cls.media)
            home.install_module()
            oc.seed_module(home, server=cls.server.server_url, key=KEY, auto_start=False)
            run = cls.runs["module"] = cls.session.start_obs()
            run.wait_module_loaded(START_TIMEOUT)
            ready = run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
            rec["old_canvas"] = ready.group(1)
            cls.ws = run.connect()
            oc.vendor_until(cls.ws, "GetCanvas")

        def switch():
            ws, run = cls.ws, cls.runs["module"]
            known = cls.server.client_ports()
            after = len(ws.events)
            rec["stream_start"] = oc.vendor_ok(ws, "StartStream")
            oc.wait_state(ws, oc.STREAM, "Connecting", after, STATE_TIMEOUT)
            rec["first_port"] = cls.server.wait_new_client(known, ws)
            oc.pump(ws, STUCK_SECONDS)
            rec["start_states"] = oc.states(ws, oc.STREAM, after)
            rec["first_connected_at_switch"] = rec["first_port"] in cls.server.client_ports()
            mark = rec["switch_mark"] = run.mark()
            after = len(ws.events)
            started = time.monotonic()
            ws.request("CreateSceneCollection", {"sceneCollectionName": SECOND}, timeout=SWITCH_TIMEOUT)
            rec["switch_answer_s"] = time.monotonic() - started
            ws.wait_event("CurrentSceneCollectionChanged", lambda d: d.get("sceneCollectionName") == SECOND,
                          timeout=SWITCH_TIMEOUT, after=after)
            rec["switch_changed_s"] = time.monotonic() - started
            ready = run.wait_log(h.CANVAS_READY_RE, SWITCH_TIMEOUT, after=mark)
            rec["switch_ready_s"] = time.monotonic() - started
            rec["new_canvas"] = ready.group(1)

        switch.needs = ("start",)

        def probes():
            ws = cls.ws
            rec["version"], rec["version_s"] = timed(ws.request, "GetVersion")
            rec["stats"], rec["stats_s"] = timed(ws.request, "GetStats")
            rec["vendor_status"], rec["vendor_status_s"] = timed(oc.vendor, ws, "GetOutputStatus")
            rec["canvas"] = oc.vendor(ws, "GetCanvas")
            rec["canvas_list"] = ws.request("GetCanvasList")
            rec["first_connected_after_probes"] = rec["first_port"] in cls.server.client_ports()

        probes.needs = ("switch",)

        def exit_():
            ws, run = cls.ws, cls.runs["module"]
            try:
                oc.vendor_until(ws, "GetCanvas")
                known = cls.server.client_ports()
                after = len(ws.events)
                rec["second_start"] = oc.vendor_ok(ws, "StartStream")
                oc.wait_state(ws, oc.STREAM, "Connecting", after, STATE_TIMEOUT)
                rec["second_port"] = cls.server.wait_new_client(known, ws)
                oc.pump(ws, STUCK_SECONDS)
                rec["second_connected_at_sigint"] = rec["second_port"] in cls.server.client_ports()
                rec["sigint_mark"] = run.mark()
            finally:
                ws.close()
                cls.ws = None
            rec["module_exit"], rec["module_exit_s"] = stop_timed(run)

        exit_.needs = ("switch",)

        def shutdown():
            # Whatever failed before: OBS must still be stopped (and its log read to the end).
            run = cls.runs.get("module")
            if run is not None and run.exit is None:
                if cls.ws is not None:
                    cls.ws.close()
                    cls.ws = None
                run.stop(EXIT_TIMEOUT)

        try:
            cls.run_phases([("alone", alone), ("start", start), ("switch", switch), ("probes", probes),
                            ("exit", exit_), ("shutdown", shutdown)])
        except BaseException:
            cls.close_all()
            raise
        cls.report()

    @classmethod
    def report(cls):
        rec = cls.rec

        def figure(key):
            return "%.1f s" % rec[key] if key in rec else "n/a"

        sys.stderr.write("collection switch with the stream stuck connecting: answered after %s, announced after "
                         "%s, new canvas ready after %s\n" % (figure("switch_answer_s"), figure("switch_changed_s"),
                                                              figure("switch_ready_s")))
        sys.stderr.write("exit with a stream stuck connecting: OBS alone %s (%s), OBS with the module %s (%s)\n"
                         % (figure("alone_exit_s"), rec.get("alone_exit"), figure("module_exit_s"),
                            rec.get("module_exit")))

    @classmethod
    def close_all(cls):
        if cls.ws is not None:
            cls.ws.close()
        if cls.server is not None:
            cls.server.kill()
        cls.session.close()

    @classmethod
    def tearDownClass(cls):
        cls.close_all()

    # -- helpers ----------------------------------------------------------------------------------------

    def assertEndsWithLeakCount(self, run):
        lines = [l for l in run.log_text().splitlines() if l.strip()]
        self.assertTrue(lines and re.search(h.LEAKS_RE, lines[-1]),
                        "the log does not end with libobs's leak count: %s\n%s" % (lines[-3:], run.describe()))

    # -- the collection switch -------------------------------------------------------------------------------

    def test_01_stream_was_stuck_connecting(self):
        self.need("switch")
        rec = self.rec
        self.assertEqual(rec["start_states"], ["Connecting"], "the stream's states before the switch")
        self.assertTrue(rec["first_connected_at_switch"], "the stream's connection ended before the switch")

    def test_02_switch_returns_promptly(self):
        self.need("switch")
        rec = self.rec
        run = self.runs["module"]
        self.assertLessEqual(rec["switch_answer_s"], SWITCH_LIMIT,
                             "CreateSceneCollection was answered only after %.1f s\n%s"
                             % (rec["switch_answer_s"], run.describe()))
        self.assertLessEqual(rec["switch_changed_s"], SWITCH_LIMIT,
                             "CurrentSceneCollectionChanged came only after %.1f s" % rec["switch_changed_s"])
        self.assertLessEqual(rec["switch_ready_s"], SWITCH_LIMIT,
                             "the new collection's canvas was ready only after %.1f s" % rec["switch_ready_s"])
        self.assertNotEqual(rec["new_canvas"], rec["old_canvas"], "the new collection got the old canvas")

    def test_03_stopped_in_background(self):
        self.need("switch")
        run = self.runs["module"]
        found = run.find_all(BACKGROUND_RE, self.rec["switch_mark"])
        self.assertTrue(found, "the log lacks /%s/ after the switch\n%s" % (BACKGROUND_RE, run.describe()))

    def test_04_obs_answers_while_the_stop_runs(self):
        self.need("probes")
        rec = self.rec
        # The probes mean something only while the old connection attempt still runs.
        self.assertTrue(rec["first_connected_after_probes"],
                        "the old stream's connection had ended before the probes were answered "
                        "(switch answered after %.1f s)" % rec["switch_answer_s"])
        for key, what in (("version_s", "GetVersion"), ("stats_s", "GetStats"),
                          ("vendor_status_s", "the vendor's GetOutputStatus")):
            self.assertLessEqual(rec[key], PROMPT_LIMIT, "%s took %.1f s" % (what, rec[key]))
        status = rec["vendor_status"]
        self.assertIs(status.get("success"), True, "GetOutputStatus on the user-interface thread: %s" % status)
        self.assertEqual(status.get("stream", {}).get("stateName"), "Idle", status)

    def test_05_new_canvas_has_the_usual_name(self):
        self.need("probes")
        canvas = self.rec["canvas"]
        self.assertIs(canvas.get("success"), True, canvas)
        self.assertEqual(canvas.get("canvasUuid"), self.rec["new_canvas"], canvas)
        self.assertEqual(canvas.get("canvasName"), h.CANVAS_NAME, canvas)
        listed = canvas_list_named(self.rec["canvas_list"])
        self.assertEqual([c.get("canvasUuid") for c in listed], [self.rec["new_canvas"]], self.rec["canvas_list"])

    # -- exit -------------------------------------------------------------------------------------------------

    def test_06_obs_alone_exit(self):
        self.need("alone")
        run = self.runs["alone"]
        self.assertTrue(self.rec["alone_connected_at_sigint"], "OBS's own stream was not stuck at the SIGINT")
        self.assertCleanExit(run)
        self.assertNotRegex(run.log_text(), r"\[stilwane\]", "the module was loaded in OBS alone's run")

    def test_07_exit_clean(self):
        self.need("exit")
        run = self.runs["module"]
        self.assertTrue(self.rec["second_connected_at_sigint"], "the second stream was not stuck at the SIGINT")
        self.assertCleanExit(run)
        self.assertEndsWithLeakCount(run)
        unloaded = self.assertLogHas(run, h.UNLOADED_RE)
        self.assertTrue(run.find_all(BACKGROUND_RE, self.rec["sigint_mark"]),
                        "the stream stuck at the exit was not stopped in the background\n%s" % run.describe())
        # The module's unload waited for its streams' stops: libobs's lines about its output come before.
        text = run.log_text()
        ended = re.findall(OUTPUT_DESTROYED_RE, text[self.rec["sigint_mark"]:unloaded.start()], re.M)
        self.assertTrue(ended, "the stream stuck at the exit was not released before the module's unload\n%s"
                        % run.describe())
        late = re.findall(r"^.*%s.*$" % OUTPUT_NAME, text[unloaded.end():], re.M)
        self.assertEqual(late, [], "libobs still ran the module's stream after its unload")

    def test_08_exit_no_slower_than_obs_alone(self):
        self.need("alone", "exit")
        alone, module = self.rec["alone_exit_s"], self.rec["module_exit_s"]
        self.assertLessEqual(module, alone + EXIT_MARGIN,
                             "OBS with the module took %.1f s to end after SIGINT, OBS alone %.1f s\n%s"
                             % (module, alone, self.runs["module"].describe()))


if __name__ == "__main__":
    main()
