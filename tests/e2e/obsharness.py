# SPDX-License-Identifier: GPL-2.0-or-later
"""Runs the real OBS Studio headless with (or without) the built Stilwane module, for end-to-end tests
and for scripts/run-obs.

One Session owns a throwaway HOME, an X server (or a Wayland compositor) and a loopback-only network
namespace; OBS can be started in it several times (same HOME), driven through obs-websocket and
stopped with SIGINT.

Every process started here runs in its own process group and is killed on every exit path: the
context managers, atexit, SIGTERM/SIGINT/SIGHUP handlers (ctest sends SIGTERM on a timeout when
TIMEOUT_SIGNAL_NAME is set) and, for a SIGKILL that nothing can catch, the kernel's parent-death
signal.

Environment:
  STILWANE_MODULE  path of the built stilwane.so (required when the module is installed)
  STILWANE_DATA    the repository's data/ folder (optional)
  STILWANE_KEEP    non-empty: keep the throwaway HOME after the run and print its path
"""

import atexit
import ctypes
import glob
import itertools
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

MODULE_NAME = "stilwane"
CANVAS_NAME = "Stilwane Vertical"
LOADED_RE = r"\[stilwane\] plugin loaded successfully \(version ([0-9.]+)\)"
CANVAS_READY_RE = r"\[stilwane\] vertical canvas ready: ([0-9a-fA-F-]{36}) \((\d+)x(\d+)\)"
UNLOADED_RE = r"\[stilwane\] plugin unloaded"
STARTUP_COMPLETE_RE = r"==== Startup complete ="
LEAKS_RE = r"Number of memory leaks: (\d+)"
CONFIG_KEYS = (
    "width height mix_audio server key encoder video_bitrate audio_bitrate audio_track auto_start "
    "recording_directory recording_format recording_follow_main replay_seconds replay_follow_main "
    "replay_save_with_main link_scenes match_main_transition transition_ms restore_projectors "
    "projectors docks_shown main_dock_shown main_dock_collapsed main_dock_tab show_guides "
    "show_phone_ui guide_preset guide_top guide_bottom guide_left guide_right hotkeys"
).split()
COLLECTION_KEYS = (
    "canvas_uuid width height current_scene preview_scene vertical_transitions selected_transition "
    "transition_duration scene_order"
).split()


class HarnessError(AssertionError):
    """A failure of OBS or of its surroundings; an AssertionError so unittest reports a failure."""


def _say(msg):
    sys.stderr.write("obsharness: %s\n" % msg)
    sys.stderr.flush()


# ---------------------------------------------------------------------------------------------
# Cleanup on every exit path

_live = []  # objects with a kill() method, killed in reverse order
_live_lock = threading.RLock()
_handlers_installed = False


def _register(obj):
    _install_handlers()
    with _live_lock:
        _live.append(obj)


def _unregister(obj):
    with _live_lock:
        if obj in _live:
            _live.remove(obj)


def kill_everything():
    """Kills every process and removes every directory this module still owns."""
    with _live_lock:
        items = list(reversed(_live))
        _live.clear()
    for obj in items:
        try:
            obj.kill()
        except Exception as exc:  # cleanup must go on with the others
            _say("cleanup of %r failed: %s" % (obj, exc))


def _on_signal(signum, frame):
    # A second signal (a group-wide SIGTERM, a timeout beside a Ctrl-C) must not end the cleanup
    # halfway: this handler would run again inside itself, find nothing left and exit at once.
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, signal.SIG_IGN)
    _say("received signal %d; killing OBS, the display server and helpers" % signum)
    # A test stuck in OBS is what a timeout usually means: its log tail is the best clue.
    with _live_lock:
        runs = [o for o in _live if isinstance(o, ObsRun)]
    for run in runs:
        try:
            sys.stderr.write(run.describe())
        except Exception:
            pass
    kill_everything()
    sys.stderr.flush()
    sys.stdout.flush()
    # Not sys.exit: unittest would catch SystemExit as a test error and carry on.
    os._exit(128 + signum)


def _install_handlers():
    global _handlers_installed
    if _handlers_installed or threading.current_thread() is not threading.main_thread():
        return
    _handlers_installed = True
    atexit.register(kill_everything)
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, _on_signal)


_libc = ctypes.CDLL(None, use_errno=True)
_PR_SET_PDEATHSIG = 1


def _child_setup(death_signal):
    """Runs in the child between fork and exec: a new process group, and death with the parent.

    The parent-death signal outlives exec (OBS is not set-uid), so even a SIGKILL of the test
    process takes OBS and Xvfb with it.
    """

    def setup():
        os.setpgid(0, 0)
        _libc.prctl(_PR_SET_PDEATHSIG, int(death_signal), 0, 0, 0)
        if os.getppid() == 1:  # the parent already died
            os.kill(os.getpid(), death_signal)

    return setup


def _spawn(args, death_signal=signal.SIGKILL, **kw):
    # preexec_fn: the parent-death signal fires when the spawning *thread* ends, so spawn only
    # from the main thread.
    return subprocess.Popen(args, preexec_fn=_child_setup(death_signal), close_fds=True, **kw)


def _kill_group(proc, sig=signal.SIGKILL):
    try:
        os.killpg(proc.pid, sig)
    except (ProcessLookupError, PermissionError):
        pass


def _thread_backtraces(proc, limit=400):
    """Every thread's stack of a hung process (its group's obs), so that a hang names its locks."""
    try:
        pids = subprocess.run(["pgrep", "-g", str(proc.pid), "-x", "obs"], capture_output=True, text=True,
                              timeout=10).stdout.split()
        pid = pids[0] if pids else str(proc.pid)
        out = subprocess.run(["gdb", "-p", pid, "-batch", "-nx", "-ex", "set pagination off",
                              "-ex", "thread apply all bt 25"], capture_output=True, text=True, timeout=90)
    except (OSError, subprocess.SubprocessError) as exc:
        return "no backtraces: %s" % exc
    lines = [ln for ln in out.stdout.splitlines() if ln.startswith(("Thread ", "#"))]
    return "----- threads of the hung OBS -----\n" + "\n".join(lines[:limit])


def _terminate_group(proc):
    """SIGTERM to a server's process group, SIGKILL when it has not gone within 5 s."""
    if proc and proc.poll() is None:
        _kill_group(proc, signal.SIGTERM)
        try:
            proc.wait(5)
        except subprocess.TimeoutExpired:
            _kill_group(proc)
            proc.wait(5)


# ---------------------------------------------------------------------------------------------
# X server


class Xvfb:
    """An Xvfb on a free display number, chosen by the server itself (-displayfd)."""

    def __init__(self, size="1920x1080x24", timeout=20):
        self.proc = None
        rfd, wfd = os.pipe()
        try:
            self.proc = _spawn(
                ["Xvfb", "-displayfd", str(wfd), "-screen", "0", size, "-nolisten", "tcp", "-noreset"],
                death_signal=signal.SIGTERM,
                pass_fds=(wfd,),
                stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL,
            )
        finally:
            os.close(wfd)
        _register(self)
        try:
            number = self._read_display(rfd, timeout)
        finally:
            os.close(rfd)
        self.display = ":%s" % number

    def _read_display(self, rfd, timeout):
        data = b""
        deadline = time.monotonic() + timeout
        os.set_blocking(rfd, False)
        while not data.endswith(b"\n"):
            if self.proc.poll() is not None:
                raise HarnessError("Xvfb exited with %s before naming its display" % self.proc.returncode)
            if time.monotonic() > deadline:
                self.kill()
                raise HarnessError("Xvfb named no display within %d s" % timeout)
            try:
                chunk = os.read(rfd, 64)
            except BlockingIOError:
                time.sleep(0.05)
                continue
            if not chunk:
                time.sleep(0.05)
            data += chunk
        return data.decode().strip()

    def kill(self):
        _unregister(self)
        _terminate_group(self.proc)


# ---------------------------------------------------------------------------------------------
# Wayland compositor


class Weston:
    """A headless weston (GL renderer, Mesa's llvmpipe here) with a runtime directory of its own.

    Wayland clients find the compositor through XDG_RUNTIME_DIR and WAYLAND_DISPLAY (`env()`); the
    directory is private (mode 0700, as Wayland wants it) and removed with the compositor. weston
    runs with its debug protocol on, the only way weston-screenshooter may capture the output from a
    client weston did not start itself, and without its idle timeout, which would blank the output.
    """

    _count = itertools.count(1)

    def __init__(self, width=1920, height=1080, timeout=20):
        self.proc = None
        self._log = None
        self.runtime_dir = tempfile.mkdtemp(prefix="stilwane-wayland-")  # mode 0700
        self.socket = "stilwane-%d-%d" % (os.getpid(), next(self._count))
        self.log_path = os.path.join(self.runtime_dir, "weston.log")
        self.output_path = os.path.join(self.runtime_dir, "weston-output.txt")  # its stdout and stderr
        _register(self)
        try:
            self._log = open(self.output_path, "wb")
            self.proc = _spawn(
                ["weston", "--backend=headless", "--renderer=gl", "--width=%d" % width, "--height=%d" % height,
                 "--socket=" + self.socket, "--idle-time=0", "--debug", "--log=" + self.log_path],
                death_signal=signal.SIGTERM,
                env=dict(os.environ, XDG_RUNTIME_DIR=self.runtime_dir),
                stdin=subprocess.DEVNULL,
                stdout=self._log,
                stderr=subprocess.STDOUT,
            )
            self._wait_socket(timeout)
        except BaseException:
            self.kill()
            raise

    def _wait_socket(self, timeout):
        path = os.path.join(self.runtime_dir, self.socket)
        deadline = time.monotonic() + timeout
        while not os.path.exists(path):
            if self.proc.poll() is not None:
                raise HarnessError("weston exited (%s) before opening its socket\n%s"
                                   % (_describe_status(self.proc.returncode), self.describe()))
            if time.monotonic() > deadline:
                raise HarnessError("weston opened no socket within %d s\n%s" % (timeout, self.describe()))
            time.sleep(0.05)

    def env(self):
        """What a client needs to reach this compositor."""
        return {"XDG_RUNTIME_DIR": self.runtime_dir, "WAYLAND_DISPLAY": self.socket}

    def describe(self, n=20):
        lines = []
        for path in (self.log_path, self.output_path):
            try:
                with open(path, "rb") as f:
                    lines += f.read().decode("utf-8", errors="replace").splitlines()
            except OSError:
                pass
        return "----- weston (%s), last %d lines -----\n%s\n-----\n" % (
            _describe_status(self.proc.poll()) if self.proc else "not started", n, "\n".join(lines[-n:]))

    def grab(self, png=None):
        """The compositor's output as an RgbImage, taken with weston-screenshooter; also saved as a
        PNG when a path is given."""
        if self.proc is None or self.proc.poll() is not None:
            raise HarnessError("no screenshot: weston is not running\n%s" % self.describe())
        shots = tempfile.mkdtemp(prefix="shot-", dir=self.runtime_dir)
        try:
            # It writes wayland-screenshot-<time>.png into its working directory; it exits with 0
            # also when weston refuses the capture, so its message and the file are what count.
            r = subprocess.run(["weston-screenshooter"], cwd=shots, env=dict(os.environ, **self.env()),
                               stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
            files = glob.glob(os.path.join(shots, "*.png"))
            err = r.stderr.decode(errors="replace")
            if r.returncode != 0 or len(files) != 1 or re.search(r"error|unauthori[sz]ed", err, re.I):
                raise HarnessError("weston-screenshooter failed (exit code %d, files %s): %s"
                                   % (r.returncode, [os.path.basename(f) for f in files], err.strip()))
            image = RgbImage.load(files[0])
            if png:
                shutil.copyfile(files[0], png)
            return image
        finally:
            shutil.rmtree(shots, ignore_errors=True)

    def kill(self):
        _unregister(self)
        _terminate_group(self.proc)
        # Its clients (the desktop shell, the input method) share its process group.
        if self.proc:
            _kill_group(self.proc)
        if self._log and not self._log.closed:
            self._log.close()
        shutil.rmtree(self.runtime_dir, ignore_errors=True)


# ---------------------------------------------------------------------------------------------
# Network namespace


class NetNamespace:
    """A loopback-only network namespace held open by a sleeping process.

    OBS joins it with nsenter (which execs, so the PID we hold is OBS's own); receivers can be
    started in it before OBS and outlive an OBS restart; this process reaches servers inside it
    through sockets created on a helper thread that entered the namespace (the network namespace
    is per thread).
    """

    def __init__(self):
        self.proc = _spawn(
            ["unshare", "--net", "sh", "-c", "ip link set lo up && echo ready && exec sleep 2147483647"],
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
        )
        _register(self)
        line = self.proc.stdout.readline()
        self.proc.stdout.close()
        if line.strip() != b"ready":
            self.proc.wait(5)
            err = self.proc.stderr.read().decode(errors="replace")
            self.proc.stderr.close()
            self.kill()
            raise HarnessError("could not create a network namespace: %s" % err.strip())
        self.proc.stderr.close()
        self.path = "/proc/%d/ns/net" % self.proc.pid

    def prefix(self):
        """Command prefix that runs a program inside the namespace (exec, no extra process)."""
        return ["nsenter", "--net=%s" % self.path]

    def _in_namespace(self, fn):
        result = {}

        def body():
            try:
                fd = os.open(self.path, os.O_RDONLY)
                try:
                    os.setns(fd, os.CLONE_NEWNET)
                finally:
                    os.close(fd)
                result["value"] = fn()
            except BaseException as exc:
                result["error"] = exc

        t = threading.Thread(target=body, daemon=True)
        t.start()
        t.join()
        if "error" in result:
            raise result["error"]
        return result["value"]

    def free_port(self):
        def pick():
            with socket.socket() as s:
                s.bind(("127.0.0.1", 0))
                return s.getsockname()[1]

        return self._in_namespace(pick)

    def connect(self, host, port, timeout=2.0):
        def conn():
            return socket.create_connection((host, port), timeout=timeout)

        return self._in_namespace(conn)

    def kill(self):
        _unregister(self)
        if self.proc.poll() is None:
            _kill_group(self.proc)
            self.proc.wait(5)


class HostNetwork:
    """Fallback when no namespace can be created (no root rights): OBS shares the host network."""

    path = None

    def prefix(self):
        return []

    def free_port(self):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            return s.getsockname()[1]

    def connect(self, host, port, timeout=2.0):
        return socket.create_connection((host, port), timeout=timeout)

    def kill(self):
        pass


# ---------------------------------------------------------------------------------------------
# Throwaway HOME


class ObsHome:
    """A temporary HOME pre-seeded so that OBS starts without wizards or dialogs."""

    def __init__(self, ws_port, keep=False, prefix="stilwane-obs-"):
        self.path = tempfile.mkdtemp(prefix=prefix)
        self.keep = keep
        self.ws_port = ws_port
        self.obs_dir = os.path.join(self.path, ".config", "obs-studio")
        _register(self)
        self._seed()

    def _seed(self):
        os.makedirs(os.path.join(self.obs_dir, "plugin_config", "obs-websocket"))
        with open(os.path.join(self.obs_dir, "user.ini"), "w") as f:
            # FirstRun=true means "the first run is done": with false the auto-configuration
            # wizard opens behind the main window.
            f.write(
                "[General]\nFirstRun=true\nConfirmOnExit=false\nWarnBeforeStartingStream=false\n"
                "WarnBeforeStoppingStream=false\nWarnBeforeStoppingRecord=false\n\n"
                "[BasicWindow]\nShowMissingFilesDialog=false\n"
            )
        with open(os.path.join(self.obs_dir, "plugin_config", "obs-websocket", "config.json"), "w") as f:
            json.dump(
                {
                    "first_load": False,
                    "server_enabled": True,
                    "server_port": self.ws_port,
                    "alerts_enabled": False,
                    "auth_required": False,
                    "server_password": "",
                },
                f,
            )

    @property
    def plugin_dir(self):
        return os.path.join(self.obs_dir, "plugins", MODULE_NAME)

    def install_module(self, module=None, data=None):
        module = module or os.environ.get("STILWANE_MODULE")
        data = data if data is not None else os.environ.get("STILWANE_DATA")
        if not module:
            raise HarnessError("STILWANE_MODULE is not set (path of the built stilwane.so)")
        if not os.path.isfile(module):
            raise HarnessError("the module %s does not exist; build the project first" % module)
        bindir = os.path.join(self.plugin_dir, "bin", "64bit")
        os.makedirs(bindir, exist_ok=True)
        shutil.copy2(module, os.path.join(bindir, MODULE_NAME + ".so"))
        datadir = os.path.join(self.plugin_dir, "data")
        if os.path.isdir(datadir):
            shutil.rmtree(datadir)
        if data:
            if not os.path.isdir(data):
                raise HarnessError("STILWANE_DATA %s is not a directory" % data)
            shutil.copytree(data, datadir)
        else:
            os.makedirs(datadir)

    def copy_collections_from(self, other):
        """Copies another HOME's profiles and scene collections (not its plug-ins or settings)."""
        src = os.path.join(other.obs_dir, "basic")
        dst = os.path.join(self.obs_dir, "basic")
        if os.path.isdir(dst):
            shutil.rmtree(dst)
        shutil.copytree(src, dst)
        for name in ("user.ini", "global.ini"):
            # The last used profile and collection are recorded here.
            if os.path.isfile(os.path.join(other.obs_dir, name)):
                shutil.copy2(os.path.join(other.obs_dir, name), os.path.join(self.obs_dir, name))

    def uninstall_module(self):
        if os.path.isdir(self.plugin_dir):
            shutil.rmtree(self.plugin_dir)

    @property
    def module_config_dir(self):
        return os.path.join(self.obs_dir, "plugin_config", MODULE_NAME)

    @property
    def module_config_path(self):
        return os.path.join(self.module_config_dir, "config.json")

    def read_module_config(self):
        with open(self.module_config_path) as f:
            return json.load(f)

    def update_module_config(self, values):
        """Merges the values into the module's config.json (made when missing), as an earlier session
        of the user would have left them; the module reads it when OBS starts next."""
        try:
            config = self.read_module_config()
        except FileNotFoundError:
            config = {}
        config.update(values)
        os.makedirs(self.module_config_dir, exist_ok=True)
        with open(self.module_config_path, "w") as f:
            json.dump(config, f)
        return config

    @property
    def scenes_dir(self):
        return os.path.join(self.obs_dir, "basic", "scenes")

    def collections(self):
        """{collection name: parsed JSON} of every scene collection file."""
        out = {}
        for path in sorted(glob.glob(os.path.join(self.scenes_dir, "*.json"))):
            with open(path) as f:
                data = json.load(f)
            out[data.get("name", os.path.basename(path)[:-5])] = data
        return out

    def collection_path(self, name):
        for path in glob.glob(os.path.join(self.scenes_dir, "*.json")):
            with open(path) as f:
                if json.load(f).get("name") == name:
                    return path
        return None

    def read_collection(self, name):
        path = self.collection_path(name)
        if path is None:
            raise HarnessError("no scene collection file named %r in %s" % (name, self.scenes_dir))
        with open(path) as f:
            return json.load(f)

    @property
    def logs_dir(self):
        return os.path.join(self.obs_dir, "logs")

    def env(self):
        return {"HOME": self.path, "XDG_CONFIG_HOME": os.path.join(self.path, ".config")}

    def kill(self):
        _unregister(self)
        if self.keep:
            _say("kept the OBS home %s" % self.path)
        else:
            shutil.rmtree(self.path, ignore_errors=True)


def canvases_of(collection):
    """The extra canvases a scene collection file lists, as {"name", "uuid", "flags", ...}.

    OBS 32 saves them as "canvases": [{"info": {"name", "uuid", "private", "flags"}}, ...].
    """
    out = []
    for entry in collection.get("canvases") or []:
        out.append(entry.get("info", entry) if isinstance(entry, dict) else entry)
    return out


def named_canvases(collection, name=CANVAS_NAME):
    return [c for c in canvases_of(collection) if isinstance(c, dict) and c.get("name") == name]


def module_state(collection):
    """The module's object in a scene collection file; front-end save callbacks put it in "modules"."""
    return (collection.get("modules") or {}).get(MODULE_NAME)


# ---------------------------------------------------------------------------------------------
# obs-websocket client


class WsClient:
    """A minimal obs-websocket 5 client: requests with ids, events kept in arrival order."""

    EVENTS_ALL = (1 << 11) - 1  # every non-high-volume category

    def __init__(self, sock, port, timeout=10, event_subscriptions=EVENTS_ALL):
        from websockets.sync.client import connect

        self._ids = itertools.count(1)
        self.events = []
        self.timeout = timeout
        # Entered by hand: the connection outlives this call, and websockets 17 deprecates the
        # plain call form.
        self._ctx = connect("ws://127.0.0.1:%d" % port, sock=sock, open_timeout=timeout, max_size=None)
        self.ws = self._ctx.__enter__()
        hello = self._recv(timeout)
        if hello.get("op") != 0:
            raise HarnessError("expected Hello from obs-websocket, got %r" % hello)
        self.hello = hello["d"]
        self._send(1, {"rpcVersion": 1, "eventSubscriptions": event_subscriptions})
        msg = self._recv(timeout)
        if msg.get("op") != 2:
            raise HarnessError("expected Identified from obs-websocket, got %r" % msg)

    def _send(self, op, d):
        self.ws.send(json.dumps({"op": op, "d": d}))

    def _recv(self, timeout):
        try:
            raw = self.ws.recv(timeout=timeout)
        except TimeoutError:
            return None
        return json.loads(raw)

    def _pump(self, timeout):
        """Receives one message; events go to self.events. Returns the message or None."""
        msg = self._recv(timeout)
        if msg is not None and msg.get("op") == 5:
            self.events.append(msg["d"])
        return msg

    NOT_READY = 207

    def request_raw(self, rtype, data=None, timeout=None):
        """Sends a request and returns the whole response.

        obs-websocket refuses requests while OBS starts or switches scene collections (code
        207, "not ready"); they are sent again until the timeout.
        """
        deadline = time.monotonic() + (timeout or self.timeout)
        while True:
            d = self._request_once(rtype, data, deadline)
            code = d.get("requestStatus", {}).get("code")
            if code != self.NOT_READY or time.monotonic() + 0.1 > deadline:
                return d
            time.sleep(0.1)

    def _request_once(self, rtype, data, deadline):
        rid = "r%d" % next(self._ids)
        d = {"requestType": rtype, "requestId": rid}
        if data is not None:
            d["requestData"] = data
        self._send(6, d)
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise HarnessError("no answer to %s within the timeout" % rtype)
            msg = self._pump(left)
            if msg and msg.get("op") == 7 and msg["d"].get("requestId") == rid:
                return msg["d"]

    def request(self, rtype, data=None, timeout=None):
        """Sends a request and returns its responseData; raises HarnessError when it failed."""
        d = self.request_raw(rtype, data, timeout)
        status = d.get("requestStatus", {})
        if not status.get("result"):
            raise HarnessError(
                "%s%s failed: code %s, %s"
                % (rtype, json.dumps(data) if data else "", status.get("code"), status.get("comment"))
            )
        return d.get("responseData", {})

    BATCH_SERIAL_REALTIME = 0
    BATCH_SERIAL_FRAME = 1
    BATCH_PARALLEL = 2

    def request_batch(self, requests, execution_type=BATCH_SERIAL_REALTIME, halt_on_failure=False, timeout=None):
        """Sends a RequestBatch (op 8) and returns its RequestBatchResponse (op 9) as a whole.

        requests: [(requestType, requestData or None)]; each result's requestId is "<batch id>.<index>".
        obs-websocket runs a SerialFrame batch on OBS's graphics thread, one request per frame. No
        retry on "not ready" (207): the results say it.
        """
        bid = "b%d" % next(self._ids)
        entries = []
        for i, (rtype, data) in enumerate(requests):
            entry = {"requestType": rtype, "requestId": "%s.%d" % (bid, i)}
            if data is not None:
                entry["requestData"] = data
            entries.append(entry)
        self._send(8, {"requestId": bid, "haltOnFailure": halt_on_failure, "executionType": execution_type,
                       "requests": entries})
        deadline = time.monotonic() + (timeout or self.timeout)
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise HarnessError("no answer to the request batch %s within the timeout" % [r[0] for r in requests])
            msg = self._pump(left)
            if msg and msg.get("op") == 9 and msg["d"].get("requestId") == bid:
                return msg["d"]

    def wait_event(self, etype, predicate=None, timeout=None, after=0):
        """Waits for an event of the type (received at index >= after) and returns its eventData."""
        deadline = time.monotonic() + (timeout or self.timeout)
        idx = after
        while True:
            while idx < len(self.events):
                ev = self.events[idx]
                idx += 1
                if ev.get("eventType") == etype and (predicate is None or predicate(ev.get("eventData", {}))):
                    return ev.get("eventData", {})
            left = deadline - time.monotonic()
            if left <= 0:
                raise HarnessError(
                    "no %s event within %s s (saw: %s)"
                    % (etype, timeout or self.timeout, [e.get("eventType") for e in self.events[after:]])
                )
            self._pump(min(left, 0.5))

    def close(self):
        try:
            self._ctx.__exit__(None, None, None)
        except Exception:
            pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


# ---------------------------------------------------------------------------------------------
# One OBS process


class ObsExit:
    def __init__(self, returncode, killed, leaks, seconds):
        self.returncode = returncode  # negative: killed by that signal
        self.killed = killed  # True when SIGINT did not end OBS in time
        self.leaks = leaks  # None when the line is missing
        self.seconds = seconds

    @property
    def clean(self):
        return self.returncode == 0 and not self.killed and self.leaks is not None

    def __repr__(self):
        return "ObsExit(returncode=%s, killed=%s, leaks=%s, %.1f s)" % (
            self.returncode,
            self.killed,
            self.leaks,
            self.seconds,
        )


class ObsRun:
    """A running OBS. Use Session.start_obs to make one."""

    def __init__(self, session, extra_env=None, args=()):
        self.session = session
        home = session.home
        os.makedirs(home.logs_dir, exist_ok=True)
        # OBS names its log after the start time to the second, and a second start within the
        # same second would overwrite the first run's log.
        while int(time.time()) <= session.last_start_second:
            time.sleep(0.05)
        session.last_start_second = int(time.time())
        self._old_logs = set(os.listdir(home.logs_dir))
        self.index = session.runs_started
        self.stdout_path = os.path.join(home.path, "obs-stdout-%d.txt" % self.index)
        self.log_path = None
        self.exit = None
        self._final_log = None
        self._final_stdout = None
        env = dict(os.environ)
        env.pop("STILWANE_SELFTEST", None)  # on only where a caller asks for it
        if session.weston:
            # Qt then takes the Wayland platform, and OBS hands libobs the Wayland display.
            env.pop("DISPLAY", None)
            env.update({"QT_QPA_PLATFORM": "wayland", "LANG": env.get("LANG", "C.UTF-8")})
            env.update(session.weston.env())
        else:
            env.update({"DISPLAY": session.display, "QT_QPA_PLATFORM": "xcb", "LANG": env.get("LANG", "C.UTF-8")})
        env.update(home.env())
        env.update(extra_env or {})
        cmd = session.net.prefix() + ["obs", "--multi", "--disable-missing-files-check", "--verbose"]
        cmd += list(args)
        self._out = open(self.stdout_path, "wb")
        self.started = time.monotonic()
        self.proc = _spawn(cmd, env=env, cwd=home.path, stdout=self._out, stderr=subprocess.STDOUT,
                           stdin=subprocess.DEVNULL)
        self.pid = self.proc.pid
        _register(self)

    # -- log -----------------------------------------------------------------------------------

    def _find_log(self):
        if self.log_path:
            return self.log_path
        try:
            new = [n for n in os.listdir(self.session.home.logs_dir) if n not in self._old_logs]
        except FileNotFoundError:
            return None
        if new:
            new.sort(key=lambda n: os.path.getmtime(os.path.join(self.session.home.logs_dir, n)))
            self.log_path = os.path.join(self.session.home.logs_dir, new[-1])
        return self.log_path

    def log_text(self):
        """The OBS log file of this run (empty until OBS created it)."""
        if self._final_log is not None:
            return self._final_log
        path = self._find_log()
        if not path:
            return ""
        with open(path, "rb") as f:
            return f.read().decode("utf-8", errors="replace")

    def stdout_text(self):
        if self._final_stdout is not None:
            return self._final_stdout
        try:
            with open(self.stdout_path, "rb") as f:
                return f.read().decode("utf-8", errors="replace")
        except FileNotFoundError:
            return ""

    def mark(self):
        """A position in the log; pass it as after= to look only at later lines."""
        return len(self.log_text())

    def find_all(self, pattern, after=0):
        return list(re.finditer(pattern, self.log_text()[after:], re.M))

    def wait_log(self, pattern, timeout=60, after=0):
        """Waits until the log has a match of the regex after the position; returns the match.

        Fails at once when OBS exits first.
        """
        rx = re.compile(pattern, re.M)
        deadline = time.monotonic() + timeout
        while True:
            m = rx.search(self.log_text(), after)
            if m:
                return m
            if self.proc.poll() is not None:
                m = rx.search(self.log_text(), after)
                if m:
                    return m
                raise HarnessError(
                    "OBS exited (%s) before the log showed /%s/\n%s"
                    % (_describe_status(self.proc.returncode), pattern, self.describe())
                )
            if time.monotonic() > deadline:
                raise HarnessError(
                    "the log did not show /%s/ within %s s\n%s" % (pattern, timeout, self.describe())
                )
            time.sleep(0.1)

    def wait_module_loaded(self, timeout=60):
        """Waits for the module's load line; fails as soon as OBS finished starting without it."""
        self.wait_log("%s|%s" % (LOADED_RE, STARTUP_COMPLETE_RE), timeout)
        loaded = re.search(LOADED_RE, self.log_text())
        if not loaded:
            raise HarnessError("OBS started without loading the module\n%s" % self.describe())
        return loaded

    def tail(self, n=60):
        text = self.log_text()
        if not text:
            text = self.stdout_text()
        # The profiler's tree at shutdown would fill the tail with timings.
        lines = [l for l in text.splitlines() if not re.search("[\u2503\u2523\u2517]", l)]
        return "\n".join(lines[-n:])

    def describe(self, n=60):
        lines = ["----- OBS run %d (pid %d, log %s), last %d lines -----" % (self.index, self.pid, self.log_path, n)]
        lines.append(self.tail(n))
        # The module's own lines and OBS's verdict on it, which the tail may have scrolled past.
        text = self.log_text()
        ours = [l for l in text.splitlines() if MODULE_NAME in l.lower() and "[stilwane]" not in l][-10:]
        ours += re.findall(r"^.*\[stilwane\].*$", text, re.M)[-20:]
        if ours:
            lines.append("----- lines about the module -----")
            lines.extend(ours)
        if self.proc.poll() not in (None, 0) and self.log_text():
            # A crash shows on stdout/stderr (Qt, glibc, the crash handler), not in the log file.
            out = self.stdout_text().splitlines()
            lines.append("----- its stdout/stderr, last 15 lines -----")
            lines.extend(out[-15:])
        lines.append("-----")
        return "\n".join(lines) + "\n"

    # -- websocket -------------------------------------------------------------------------------

    def connect(self, timeout=30):
        """Connects to obs-websocket, retrying while OBS starts up."""
        deadline = time.monotonic() + timeout
        last = None
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                raise HarnessError("OBS exited before obs-websocket answered\n" + self.describe())
            try:
                sock = self.session.net.connect("127.0.0.1", self.session.home.ws_port)
            except OSError as exc:
                last = exc
                time.sleep(0.2)
                continue
            # websockets reads a given socket as it is, on a thread of its own: a timeout left on it
            # would close the connection after any quiet spell longer than the connect timeout.
            sock.settimeout(None)
            try:
                client = WsClient(sock, self.session.home.ws_port)
            except Exception as exc:
                last = exc
                sock.close()
                time.sleep(0.2)
                continue
            self._settle(client, deadline)
            return client
        raise HarnessError("could not connect to obs-websocket: %s\n%s" % (last, self.describe()))

    NO_VENDOR = 600

    def _settle(self, client, deadline):
        """Waits until OBS has finished starting.

        obs-websocket serves requests from the moment OBS has a scene collection, while OBS's
        user-interface thread is still setting up its window. A scene created then makes OBS wait for
        that thread inside libobs's "source_create" signal, while that thread waits to connect to the
        same signal: OBS hangs, with or without the module. The module's requests run on the
        user-interface thread's event loop, which only turns once OBS's start is over, so one answer
        from it is the all-clear.
        """
        while time.monotonic() < deadline:
            d = client.request_raw("CallVendorRequest", {"vendorName": "stilwane", "requestType": "GetCanvas"},
                                   timeout=max(1.0, deadline - time.monotonic()))
            status = d.get("requestStatus", {})
            answer = d.get("responseData", {}).get("responseData", {})
            if status.get("result") and answer.get("success", True) is not False:
                return
            if status.get("code") == self.NO_VENDOR:  # OBS without the module
                return
            time.sleep(0.2)

    # -- end -------------------------------------------------------------------------------------

    def stop(self, timeout=30):
        """SIGINT, then waits; SIGKILL after the timeout (reported by ObsExit.killed)."""
        if self.exit:
            return self.exit
        killed = False
        if self.proc.poll() is None:
            os.kill(self.pid, signal.SIGINT)
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                _say("OBS did not end within %s s of SIGINT; killing it" % timeout)
                _say(_thread_backtraces(self.proc))
                killed = True
                _kill_group(self.proc)
                self.proc.wait(10)
        return self._finish(killed)

    def wait_exit(self, timeout=30):
        """Waits for OBS to end by itself."""
        try:
            self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            _kill_group(self.proc)
            self.proc.wait(10)
            return self._finish(True)
        return self._finish(False)

    def _finish(self, killed):
        _kill_group(self.proc)  # whatever OBS left behind in its group
        _unregister(self)
        self._out.close()
        # Kept in memory: the HOME may be gone when a test reports on this run.
        self._final_log = self.log_text()
        self._final_stdout = self.stdout_text()
        m = re.findall(LEAKS_RE, self._final_log)
        self.exit = ObsExit(self.proc.returncode, killed, int(m[-1]) if m else None,
                            time.monotonic() - self.started)
        return self.exit

    def kill(self):
        if self.proc.poll() is None:
            _kill_group(self.proc)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                pass
        if not self.exit:
            self._finish(True)
        _unregister(self)


def _describe_status(rc):
    if rc is None:
        return "running"
    if rc < 0:
        try:
            return "killed by %s" % signal.Signals(-rc).name
        except ValueError:
            return "killed by signal %d" % -rc
    return "exit code %d" % rc


describe_status = _describe_status


# ---------------------------------------------------------------------------------------------
# Session


class Session:
    """A throwaway HOME, a display server and a network namespace; OBS can run in it several times.

    with Session() as s:
        obs = s.start_obs()
        obs.wait_log(CANVAS_READY_RE)
        with obs.connect() as ws:
            ws.request("GetVersion")
        result = obs.stop()

    The display server is an Xvfb (display_server="x11", or the X display `display` names) or a
    headless weston (display_server="wayland"; `display` is then None and OBS runs on Qt's Wayland
    platform). The X window tree and resizing exist on X11 only; `grab` works on both.
    """

    def __init__(self, module=True, display=None, keep=None, isolate_network=True,
                 screen="1920x1080x24", display_server="x11"):
        if display_server not in ("x11", "wayland"):
            raise ValueError("display_server must be 'x11' or 'wayland', not %r" % (display_server,))
        if keep is None:
            keep = bool(os.environ.get("STILWANE_KEEP"))
        self.xvfb = None
        self.weston = None
        self.display = None
        self.net = None
        self.home = None
        self.runs_started = 0
        self.last_start_second = 0
        self.current = None
        try:
            if isolate_network:
                try:
                    self.net = NetNamespace()
                except (HarnessError, OSError) as exc:
                    _say("no private network namespace (%s); OBS shares the host network" % exc)
            if self.net is None:
                self.net = HostNetwork()
            self.home = ObsHome(self.net.free_port(), keep=keep)
            if module:
                self.home.install_module()
            if display_server == "wayland":
                width, height = (int(v) for v in screen.split("x")[:2])
                self.weston = Weston(width, height)
            elif display:
                self.display = display
            else:
                self.xvfb = Xvfb(screen)
                self.display = self.xvfb.display
        except BaseException:
            self.close()
            raise

    def start_obs(self, env=None, args=()):
        if self.current and self.current.proc.poll() is None:
            raise HarnessError("OBS is still running in this session")
        self.current = ObsRun(self, env, args)
        self.runs_started += 1
        return self.current

    def screenshot(self, path, window=None):
        """Saves a PNG of the whole X screen, or of one window (an X id such as "0x200003").

        Under weston: of the whole output (a Wayland client cannot name other clients' windows).
        """
        if self.weston:
            if window:
                raise HarnessError("no screenshots of single windows under Wayland")
            self.weston.grab(png=path)
            return path
        target = ["-id", window] if window else ["-root"]
        xwd = subprocess.Popen(["xwd"] + target + ["-silent", "-display", self.display], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
        conv = subprocess.run(["convert", "xwd:-", "png:" + path], stdin=xwd.stdout, capture_output=True,
                              timeout=60)
        xwd.stdout.close()
        xwd.wait(30)
        if xwd.returncode != 0 or conv.returncode != 0 or not os.path.isfile(path):
            raise HarnessError("screenshot failed: xwd %s, convert %s %s" % (
                xwd.returncode, conv.returncode, conv.stderr.decode(errors="replace").strip()))
        return path

    def main_window(self):
        """The X id of OBS's main window (its title starts with "OBS <version>"), or None."""
        for line in self.windows().splitlines():
            m = re.match(r'\s*(0x[0-9a-f]+) "OBS \d+\.', line)
            if m:
                return m.group(1)
        return None

    def windows(self):
        """`xwininfo -root -tree` of the display, for diagnostics."""
        if self.display is None:
            raise HarnessError("no X window tree: OBS runs on Wayland")
        r = subprocess.run(["xwininfo", "-root", "-tree", "-display", self.display], capture_output=True,
                           timeout=30)
        return r.stdout.decode(errors="replace")

    def window_tree(self):
        """The display's windows as an XWindow tree (its root is the root window)."""
        return parse_window_tree(self.windows())

    def viewable(self, window):
        """True when the window (an X id) is mapped and all its ancestors are: it can be seen."""
        r = subprocess.run(["xwininfo", "-id", window, "-display", self.display], capture_output=True, timeout=30)
        return b"Map State: IsViewable" in r.stdout

    def resize_window(self, window, width, height):
        """Resizes a top-level window as a window manager would on the user's request."""
        _x11_resize(self.display, window, width, height)

    def grab(self, png=None):
        """The whole screen as an RgbImage; also saved as a PNG when a path is given."""
        if self.weston:
            return self.weston.grab(png)
        xwd = subprocess.run(["xwd", "-root", "-silent", "-display", self.display], capture_output=True, timeout=60)
        if xwd.returncode != 0 or len(xwd.stdout) < 28:
            raise HarnessError("xwd failed: %s" % xwd.stderr.decode(errors="replace").strip())
        # The XWD header is written in big-endian order whatever the machine's.
        width, height = int.from_bytes(xwd.stdout[16:20], "big"), int.from_bytes(xwd.stdout[20:24], "big")
        image = RgbImage(width, height, _convert(xwd.stdout, "xwd:-", "rgb:-"))
        if png:
            with open(png, "wb") as f:
                f.write(_convert(xwd.stdout, "xwd:-", "png:-"))
        return image

    def grab_settled(self, rect, timeout=10.0, interval=0.5, png=None):
        """Grabs the screen until the rectangle (x, y, w, h) looks the same twice in a row.

        libobs draws displays at its own pace; a picture that changes between two grabs half a
        second apart is still in a transition or not drawn yet. Returns the last grab even when
        the picture never settled (the caller's checks then judge what it shows).
        """
        deadline = time.monotonic() + timeout
        last = self.grab()
        while time.monotonic() < deadline:
            time.sleep(interval)
            image = self.grab()
            same = image.crop(rect) == last.crop(rect)
            last = image
            if same:
                break
        if png:
            last.save_png(png)
        return last

    def close(self):
        if self.current:
            self.current.kill()
        for obj in (self.xvfb, self.weston, self.net, self.home):
            if obj is not None:
                obj.kill()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


# ---------------------------------------------------------------------------------------------
# What is on the screen


DOCK_TITLE = "Stilwane Vertical"
DISPLAY_BACKGROUND = (43, 43, 43)  # the preview display's colour around the letterboxed canvas
_TREE_LINE_RE = re.compile(
    r'^(\s*)(0x[0-9a-f]+) (?:"(.*)"|\(has no name\)): \((.*?)\)\s+(\d+)x(\d+)[+]?(-?\d+)[+]?(-?\d+)'
    r"\s+[+]?(-?\d+)[+]?(-?\d+)")


class XWindow:
    """One window of `xwininfo -root -tree`: absolute position, size, name (None: no name)."""

    def __init__(self, wid, name, x, y, width, height, parent=None):
        self.id = wid
        self.name = name
        self.x, self.y, self.width, self.height = x, y, width, height
        self.parent = parent
        self.children = []

    @property
    def rect(self):
        return (self.x, self.y, self.width, self.height)

    def walk(self):
        """This window and every window below it, parents first."""
        yield self
        for child in self.children:
            yield from child.walk()

    def find(self, name):
        """The first window below (or at) this one with the name, or None."""
        return next((w for w in self.walk() if w.name == name), None)

    def find_main(self):
        """OBS's main window (its title starts with "OBS <version>"), or None."""
        return next((w for w in self.walk() if w.name and re.match(r"OBS \d+\.", w.name)), None)

    def __repr__(self):
        return "XWindow(%s %r %dx%d+%d+%d)" % (self.id, self.name, self.width, self.height, self.x, self.y)


def parse_window_tree(text):
    """The window tree of `xwininfo -root -tree` output; children are indented below parents."""
    root = XWindow("root", None, 0, 0, 0, 0)
    m = re.search(r"Window id: (0x[0-9a-f]+)", text)
    if m:
        root.id = m.group(1)
    stack = [(-1, root)]
    for line in text.splitlines():
        m = _TREE_LINE_RE.match(line)
        if not m:
            continue
        indent = len(m.group(1))
        while stack[-1][0] >= indent:
            stack.pop()
        parent = stack[-1][1]
        w = XWindow(m.group(2), m.group(3), int(m.group(9)), int(m.group(10)), int(m.group(5)), int(m.group(6)),
                    parent)
        parent.children.append(w)
        stack.append((indent, w))
    return root


def drawing_windows(window):
    """The windows below `window` that libobs draws into, largest first.

    On X11 libobs draws a display into a child window of its own, without a name and of the
    display's size, inside the window the front end gives it: that parent is the display.
    """
    found = [w for w in window.walk()
             if any(c.name is None and (c.width, c.height) == (w.width, w.height) for c in w.children)]
    return sorted(found, key=lambda w: -w.width * w.height)


def letterbox(rect, canvas_width, canvas_height):
    """Where a display of the rectangle (x, y, w, h) draws the canvas: (x, y, w, h), centred.

    The same integer arithmetic as the preview's: the canvas keeps its aspect, the spare width
    or height is split evenly (the odd pixel goes to the right or bottom).
    """
    x, y, cx, cy = rect
    if canvas_width * cy < cx * canvas_height:
        w, h = canvas_width * cy // canvas_height, cy
    else:
        w, h = cx, (cx * canvas_height // canvas_width if canvas_width else 0)
    return (x + (cx - w) // 2, y + (cy - h) // 2, w, h)


class RgbImage:
    """Pixels of a screen grab or an image file: 8-bit RGB, rows top to bottom."""

    def __init__(self, width, height, data):
        if len(data) != width * height * 3:
            raise HarnessError("%dx%d RGB image with %d bytes" % (width, height, len(data)))
        self.width, self.height, self.data = width, height, data

    @classmethod
    def load(cls, path):
        """Any image ImageMagick reads (its alpha channel dropped)."""
        r = subprocess.run(["identify", "-format", "%w %h", path + "[0]"], capture_output=True, timeout=60)
        if r.returncode != 0:
            raise HarnessError("identify %s failed: %s" % (path, r.stderr.decode(errors="replace").strip()))
        width, height = (int(v) for v in r.stdout.split())
        with open(path, "rb") as f:
            return cls(width, height, _convert(f.read(), path.rsplit(".", 1)[-1] + ":-", "rgb:-"))

    def pixel(self, x, y):
        if not (0 <= x < self.width and 0 <= y < self.height):
            raise IndexError("pixel (%d, %d) outside %dx%d" % (x, y, self.width, self.height))
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def crop(self, rect):
        """The bytes of the rectangle (x, y, w, h), clipped to the image."""
        x, y, w, h = rect
        x0, x1 = max(0, x), min(self.width, x + w)
        rows = []
        for row in range(max(0, y), min(self.height, y + h)):
            start = row * self.width * 3
            rows.append(self.data[start + x0 * 3:start + x1 * 3])
        return b"".join(rows)

    def save_png(self, path):
        with open(path, "wb") as f:
            f.write(_convert(self.data, "rgb:-", "png:-", ["-size", "%dx%d" % (self.width, self.height),
                                                             "-depth", "8"]))


def png_size(path):
    """(width, height) from a PNG file's header, or None when the file is no PNG."""
    with open(path, "rb") as f:
        head = f.read(24)
    if len(head) < 24 or head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")


def _convert(data, src, dst, options=()):
    r = subprocess.run(["convert"] + list(options) + [src, "-depth", "8", dst], input=data, capture_output=True,
                       timeout=60)
    if r.returncode != 0:
        raise HarnessError("convert %s %s failed: %s" % (src, dst, r.stderr.decode(errors="replace").strip()))
    return r.stdout


def _x11_resize(display, window, width, height):
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XResizeWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_uint, ctypes.c_uint]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    dpy = x11.XOpenDisplay(display.encode())
    if not dpy:
        raise HarnessError("cannot open the X display %s" % display)
    try:
        x11.XResizeWindow(dpy, int(window, 16), int(width), int(height))
        x11.XSync(dpy, 0)
    finally:
        x11.XCloseDisplay(dpy)


# ---------------------------------------------------------------------------------------------
# Local stream receivers, a throwaway certificate authority and media probes
#
# Receivers run in the session's network namespace (the same one OBS joins), each in a process
# group of its own with the parent-death signal, and are registered for kill_everything like OBS.


def _listening_ports(pid):
    """The TCP ports in LISTEN state in the network namespace of the process (its /proc view)."""
    ports = set()
    for name in ("tcp", "tcp6"):
        try:
            with open("/proc/%d/net/%s" % (pid, name)) as f:
                next(f, None)
                for line in f:
                    fields = line.split()
                    if len(fields) > 3 and fields[3] == "0A":  # TCP_LISTEN
                        ports.add(int(fields[1].rsplit(":", 1)[1], 16))
        except (FileNotFoundError, ProcessLookupError):
            pass
    return ports


class _Helper:
    """A helper program (receiver, TLS terminator) in the session's network namespace.

    Its stdout and stderr go to a file: a pipe nobody reads would stall it.
    """

    def __init__(self, net, args, log_path, what):
        self.what = what
        self.log_path = log_path
        self._log = open(log_path, "wb")
        try:
            self.proc = _spawn(list(net.prefix()) + list(args), stdin=subprocess.DEVNULL, stdout=self._log,
                               stderr=subprocess.STDOUT)
        except BaseException:
            self._log.close()
            raise
        _register(self)

    @property
    def pid(self):
        return self.proc.pid

    def running(self):
        return self.proc.poll() is None

    def output(self):
        try:
            with open(self.log_path, "rb") as f:
                return f.read().decode("utf-8", errors="replace")
        except FileNotFoundError:
            return ""

    def describe(self, n=25):
        lines = self.output().replace("\r", "\n").splitlines()
        lines = [l for l in lines if l.strip()]
        return "----- %s (pid %d, %s), last %d lines -----\n%s\n-----\n" % (
            self.what, self.proc.pid, _describe_status(self.proc.poll()), n, "\n".join(lines[-n:]))

    def wait_listening(self, port, timeout=15):
        """Waits until the helper listens on the port (read from /proc, which takes no connection)."""
        deadline = time.monotonic() + timeout
        while port not in _listening_ports(self.proc.pid):
            if self.proc.poll() is not None:
                raise HarnessError("%s exited before listening on port %d\n%s" % (self.what, port, self.describe()))
            if time.monotonic() > deadline:
                raise HarnessError("%s did not listen on port %d within %s s\n%s"
                                   % (self.what, port, timeout, self.describe()))
            time.sleep(0.05)

    def _wait_ready(self):
        try:
            self.wait_listening(self.port)
        except BaseException:
            self.kill()
            raise

    def wait_exit(self, timeout):
        """Waits for the helper to end by itself; returns its status, None when it still runs."""
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def interrupt(self, timeout=10):
        """SIGINT (an ffmpeg then writes its file's trailer), then SIGKILL after the timeout."""
        if self.proc.poll() is None:
            try:
                os.kill(self.proc.pid, signal.SIGINT)
            except ProcessLookupError:
                pass
            if self.wait_exit(timeout) is None:
                _say("%s did not end within %s s of SIGINT; killing it" % (self.what, timeout))
        self.kill()
        return self.proc.returncode

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.kill()

    def kill(self):
        """SIGKILL to the helper's process group (a receiver dying as a crashed server would)."""
        _unregister(self)
        _kill_group(self.proc)
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            pass
        if not self._log.closed:
            self._log.close()


class RtmpReceiver(_Helper):
    """ffmpeg receiving one RTMP stream and copying it, unchanged, into an FLV file.

    `ffmpeg -listen 1` accepts one publisher; when the publisher disconnects ffmpeg writes the file's
    trailer and exits. A publisher pushes to `server_url` with the stream key `key` (librtmp joins
    them as <server>/<key>). ffmpeg does not refuse another application or key, it only warns, so
    `key_mismatch()` reads its log for that warning.
    """

    def __init__(self, net, directory, name="receiver", key="live-key", app="live", port=None):
        self.port = port or net.free_port()
        self.key = key
        self.app = app
        self.path = os.path.join(directory, name + ".flv")
        if os.path.exists(self.path):
            os.remove(self.path)
        self.server_url = "rtmp://127.0.0.1:%d/%s" % (self.port, app)
        self.listen_url = "%s/%s" % (self.server_url, key)
        _Helper.__init__(self, net, [
            "ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "info", "-listen", "1",
            "-f", "flv", "-i", self.listen_url, "-c", "copy", "-y", self.path,
        ], os.path.join(directory, name + ".log"), "RTMP receiver %s on port %d" % (name, self.port))
        self._wait_ready()

    def receiving(self):
        """True once ffmpeg opened its output, i.e. it has read the stream's header and first packets."""
        return "Output #0" in self.output()

    def wait_receiving(self, timeout=30):
        deadline = time.monotonic() + timeout
        while not self.receiving():
            if self.proc.poll() is not None:
                raise HarnessError("%s ended before receiving a stream\n%s" % (self.what, self.describe()))
            if time.monotonic() > deadline:
                raise HarnessError("%s received no stream within %s s\n%s" % (self.what, timeout, self.describe()))
            time.sleep(0.1)

    def key_mismatch(self):
        """ffmpeg's warning when a publisher used another stream name or application, or None."""
        m = re.search(r"^.*(Unexpected stream|App field don't match).*$", self.output(), re.M)
        return m.group(0) if m else None

    def size(self):
        try:
            return os.path.getsize(self.path)
        except FileNotFoundError:
            return 0


class RtmpRefuser(_Helper):
    """A local RTMP server that refuses every publisher (rtmp_refuser.py): it completes the handshake,
    reads the first command and hangs up, which libobs's rtmp_output reports as stop code -3 (the
    channel or stream key refused). Publish to `server_url` with any key."""

    SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "rtmp_refuser.py")

    def __init__(self, net, directory, name="refuser", app="live", port=None):
        self.port = port or net.free_port()
        self.server_url = "rtmp://127.0.0.1:%d/%s" % (self.port, app)
        _Helper.__init__(self, net, [sys.executable or "python3", "-B", self.SCRIPT, str(self.port)],
                         os.path.join(directory, name + ".log"), "RTMP refuser %s on port %d" % (name, self.port))
        self._wait_ready()

    def refusals(self):
        """How many publishers it has refused after their handshake."""
        return len(re.findall(r"^connection \d+: handshake done", self.output(), re.M))


class LocalCertificates:
    """A throwaway certificate authority and a server certificate it signed, made with openssl.

    The server certificate names DNS:localhost and IP:127.0.0.1. `trust()` installs the authority
    into the system's trust store (/usr/local/share/ca-certificates and update-ca-certificates, which
    fills /etc/ssl/certs where OBS's librtmp reads it) until `kill()`, called on every exit path
    through kill_everything. Needs root rights for the trust store.
    """

    STORE = "/usr/local/share/ca-certificates"
    PREFIX = "stilwane-e2e-ca-"

    def __init__(self, directory):
        self.directory = directory
        self.ca_cert = os.path.join(directory, "ca.crt")
        self.ca_key = os.path.join(directory, "ca.key")
        self.cert = os.path.join(directory, "server.crt")
        self.key = os.path.join(directory, "server.key")
        self.installed = None
        tag = "%d-%d" % (os.getpid(), int(time.time() * 1000) % 1000000)
        self.ca_name = "Stilwane e2e test CA %s" % tag
        ext = os.path.join(directory, "server.ext")
        with open(ext, "w") as f:
            f.write("basicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\n"
                    "extendedKeyUsage=serverAuth\nsubjectAltName=DNS:localhost,IP:127.0.0.1\n")
        csr = os.path.join(directory, "server.csr")
        self._openssl(["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "2",
                       "-keyout", self.ca_key, "-out", self.ca_cert, "-subj", "/CN=" + self.ca_name,
                       "-addext", "basicConstraints=critical,CA:TRUE",
                       "-addext", "keyUsage=critical,keyCertSign,cRLSign"])
        self._openssl(["req", "-newkey", "rsa:2048", "-nodes", "-sha256", "-keyout", self.key, "-out", csr,
                       "-subj", "/CN=localhost"])
        self._openssl(["x509", "-req", "-in", csr, "-CA", self.ca_cert, "-CAkey", self.ca_key,
                       "-CAcreateserial", "-days", "2", "-sha256", "-extfile", ext, "-out", self.cert])

    @staticmethod
    def _openssl(args):
        r = subprocess.run(["openssl"] + args, capture_output=True, timeout=60)
        if r.returncode != 0:
            raise HarnessError("openssl %s failed: %s" % (args[0], r.stderr.decode(errors="replace").strip()))

    @classmethod
    def _update_store(cls):
        # One update at a time: tests of other checkouts may share this root and its trust store.
        import fcntl

        with open(os.path.join(tempfile.gettempdir(), "stilwane-e2e-ca.lock"), "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            r = subprocess.run(["update-ca-certificates"], capture_output=True, timeout=120)
        if r.returncode != 0:
            raise HarnessError("update-ca-certificates failed: %s" % r.stderr.decode(errors="replace").strip())

    @classmethod
    def remove_stale(cls):
        """Removes authorities that earlier test processes installed and could not remove (SIGKILL)."""
        removed = False
        for path in glob.glob(os.path.join(cls.STORE, cls.PREFIX + "*.crt")):
            m = re.match(re.escape(cls.PREFIX) + r"(\d+)-", os.path.basename(path))
            if m and not os.path.exists("/proc/%s" % m.group(1)):
                try:
                    os.remove(path)
                    removed = True
                except OSError:
                    pass
        return removed

    def trust(self):
        if self.installed:
            return
        if not os.access(self.STORE if os.path.isdir(self.STORE) else os.path.dirname(self.STORE), os.W_OK):
            raise HarnessError("the trust store %s is not writable (root rights needed)" % self.STORE)
        os.makedirs(self.STORE, exist_ok=True)
        self.remove_stale()
        path = os.path.join(self.STORE, "%s%d-%s.crt" % (self.PREFIX, os.getpid(), os.path.basename(self.directory)))
        _register(self)
        self.installed = path
        shutil.copyfile(self.ca_cert, path)
        self._update_store()

    def kill(self):
        """Takes the authority out of the trust store again (and files of dead earlier runs)."""
        _unregister(self)
        path, self.installed = self.installed, None
        if path:
            try:
                os.remove(path)
            except FileNotFoundError:
                pass
            self.remove_stale()
            self._update_store()
            self._remove_dangling_links()

    @classmethod
    def _remove_dangling_links(cls, certs="/etc/ssl/certs"):
        """update-ca-certificates leaves the links of a removed local authority behind: the named
        link and the hash link pointing to it. Removes those that point nowhere now."""
        try:
            names = os.listdir(certs)
        except FileNotFoundError:
            return
        for name in sorted(names, key=lambda n: not n.startswith(cls.PREFIX)):
            path = os.path.join(certs, name)
            try:
                target = os.readlink(path)
            except OSError:
                continue
            if cls.PREFIX in os.path.basename(target) or name.startswith(cls.PREFIX):
                if not os.path.exists(path):
                    try:
                        os.remove(path)
                    except OSError:
                        pass


class TlsTerminator(_Helper):
    """socat ending TLS on a port and passing the plain bytes on to a local TCP port."""

    def __init__(self, net, certificates, target_port, log_path, port=None):
        self.port = port or net.free_port()
        _Helper.__init__(self, net, [
            "socat", "-d", "-d",
            "OPENSSL-LISTEN:%d,reuseaddr,fork,cert=%s,key=%s,verify=0" % (self.port, certificates.cert,
                                                                          certificates.key),
            "TCP:127.0.0.1:%d" % target_port,
        ], log_path, "TLS terminator on port %d" % self.port)
        self._wait_ready()


class RtmpsReceiver:
    """An RTMPS receiver: socat ends TLS (a certificate of the test authority, which is trusted
    while the receiver lives) in front of an RtmpReceiver. Publish to `server_url` (rtmps://localhost)
    with `key`; the stream lands in `path` like the plain receiver's."""

    def __init__(self, net, directory, name="rtmps", key="live-key", app="live", host="localhost",
                 certificates=None):
        self.certificates = None
        self.rtmp = None
        self.tls = None
        try:
            if certificates is None:
                certdir = os.path.join(directory, name + "-certs")
                os.makedirs(certdir, exist_ok=True)
                certificates = self.certificates = LocalCertificates(certdir)
                certificates.trust()
            self.rtmp = RtmpReceiver(net, directory, name=name, key=key, app=app)
            self.tls = TlsTerminator(net, certificates, self.rtmp.port, os.path.join(directory, name + "-tls.log"))
        except BaseException:
            self.kill()
            raise
        self.port = self.tls.port
        self.key = key
        self.path = self.rtmp.path
        self.server_url = "rtmps://%s:%d/%s" % (host, self.port, app)

    def receiving(self):
        return self.rtmp.receiving()

    def wait_receiving(self, timeout=30):
        self.rtmp.wait_receiving(timeout)

    def wait_exit(self, timeout):
        return self.rtmp.wait_exit(timeout)

    def key_mismatch(self):
        return self.rtmp.key_mismatch()

    def describe(self):
        return "".join(x.describe() for x in (self.rtmp, self.tls) if x is not None)

    def interrupt(self, timeout=10):
        try:
            return self.rtmp.interrupt(timeout) if self.rtmp else None
        finally:
            self.kill()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.kill()

    def kill(self):
        for obj in (self.tls, self.rtmp, self.certificates):
            if obj is not None:
                obj.kill()


# -- media files -------------------------------------------------------------------------------


def ffprobe(path, timeout=60):
    """ffprobe's JSON of the file's format and streams; HarnessError when it cannot read the file."""
    r = subprocess.run(["ffprobe", "-v", "error", "-print_format", "json", "-show_format", "-show_streams", path],
                       capture_output=True, timeout=timeout)
    if r.returncode != 0:
        raise HarnessError("ffprobe %s failed: %s" % (path, r.stderr.decode(errors="replace").strip()))
    return json.loads(r.stdout.decode("utf-8", errors="replace"))


def packet_times(path, stream="v", timeout=120):
    """[(start, end)] in seconds of the packets of the stream ("v" or "a"), in file order."""
    r = subprocess.run(["ffprobe", "-v", "error", "-select_streams", stream, "-show_entries",
                        "packet=pts_time,dts_time,duration_time", "-of", "csv=p=0", path],
                       capture_output=True, timeout=timeout)
    out = []
    for line in r.stdout.decode(errors="replace").splitlines():
        values = line.split(",")
        try:
            t = float(values[0] if values[0] not in ("", "N/A") else values[1])
        except (ValueError, IndexError):
            continue
        try:
            d = float(values[2])
        except (ValueError, IndexError):
            d = 0.0
        out.append((t, t + d))
    return out


def _span_and_gap(times):
    """(last end - first start, longest pause between consecutive packets in time order) or Nones."""
    if not times:
        return None, None
    starts = sorted(t for t, _ in times)
    gap = max((b - a for a, b in zip(starts, starts[1:])), default=0.0)
    return max(e for _, e in times) - starts[0], gap


def media_info(path):
    """What the tests check of a media file, as a dict:
    format (ffprobe's format_name), video_codec, width, height, audio_codec (None without audio),
    duration (the container's, else the video packets' span; seconds), video_span (first to last
    video packet, seconds), video_gap (the longest pause between two video packets, seconds), size
    (bytes)."""
    data = ffprobe(path)
    streams = data.get("streams", [])
    video = next((s for s in streams if s.get("codec_type") == "video"), {})
    audio = next((s for s in streams if s.get("codec_type") == "audio"), {})
    fmt = data.get("format", {})
    span, gap = _span_and_gap(packet_times(path, "v")) if video else (None, None)
    try:
        duration = float(fmt.get("duration"))
    except (TypeError, ValueError):
        duration = span
    return {
        "format": fmt.get("format_name"),
        "video_codec": video.get("codec_name"),
        "width": video.get("width"),
        "height": video.get("height"),
        "audio_codec": audio.get("codec_name"),
        "duration": duration,
        "video_span": span,
        "video_gap": gap,
        "size": os.path.getsize(path),
    }


def decode_check(path, timeout=180):
    """Decodes the whole file; returns (decoded video frames, ffmpeg's error lines)."""
    r = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v:0", "-f", "null", "-",
                        "-progress", "pipe:1"], capture_output=True, timeout=timeout)
    frames = re.findall(r"^frame=(\d+)", r.stdout.decode(errors="replace"), re.M)
    errors = [l for l in r.stderr.decode(errors="replace").splitlines() if l.strip()]
    if r.returncode != 0:
        errors.append("ffmpeg exited with %d" % r.returncode)
    return (int(frames[-1]) if frames else 0), errors


# -- OBS profile -------------------------------------------------------------------------------


def seed_profile(home, values, profile="Untitled"):
    """Writes the OBS profile's basic.ini before OBS starts, as an earlier session would have left
    it: values is {section: {key: value}}, e.g. {"SimpleOutput": {"RecRB": "true"}}. OBS fills in
    everything else with its defaults (and keeps the name it finds under [General])."""
    path = os.path.join(home.obs_dir, "basic", "profiles", profile, "basic.ini")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    sections = {"General": {"Name": profile}}
    for section, entries in values.items():
        sections.setdefault(section, {}).update(entries)
    with open(path, "w") as f:
        for section, entries in sections.items():
            f.write("[%s]\n" % section)
            for key, value in entries.items():
                if isinstance(value, bool):
                    value = "true" if value else "false"
                f.write("%s=%s\n" % (key, value))
            f.write("\n")
    return path


# -- CPU time of a process ----------------------------------------------------------------------


def cpu_seconds(pid):
    """User plus system CPU seconds the process (all its threads) has used, from /proc/<pid>/stat."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # Fields 14 and 15 (utime, stime) of stat(5); the split drops the first two.
    return (int(fields[11]) + int(fields[12])) / float(os.sysconf("SC_CLK_TCK"))
