# SPDX-License-Identifier: GPL-2.0-or-later
"""Shared parts of the end-to-end tests of the vertical outputs (stream, recording, replay buffer) and
of bench/output-cost: the vendor's output requests and events, OBS's main outputs driven through
obs-websocket, the settings both sides are seeded with, and the names of the vertical files.

The vendor "stilwane" announces every state change of its outputs with the event OutputStateChanged
{"output": "stream" | "recording" | "replayBuffer", "state", "stateName"} and every file it finished
with FileSaved {"output", "path"}; GetOutputStatus answers {"stream", "recording", "replayBuffer"},
each with "state" and "stateName".
"""

import os
import re
import time

import obsharness as h

VENDOR = "stilwane"
STREAM, RECORDING, REPLAY = "stream", "recording", "replayBuffer"
STREAM_STATES = ("Idle", "Connecting", "Live", "Reconnecting", "Stopping")
FILE_STATES = ("Idle", "Starting", "Active", "Stopping")

STREAM_STARTING_RE = r"\[stilwane\] vertical stream starting \(shared encoder, (\d+) kbps\)"
AUTO_START_FAILED_RE = r"\[stilwane\] auto start failed: (.*)$"
NO_KEY_RE = r"\[stilwane\] vertical stream not started: no stream key"

STAMP = r"\d{4}-\d\d-\d\d \d\d-\d\d-\d\d"
RECORDING_NAME_RE = r"^Stilwane-縦 (%s)( \((\d+)\))?\.(mp4|mkv)$" % STAMP
REPLAY_NAME_RE = r"^Stilwane-縦 リプレイ (%s)( \((\d+)\))?\.(mp4|mkv)$" % STAMP

# The main canvas gets a picture (and OBS asks no "no sources" question before a replay buffer).
PICTURE = {"width": 1920, "height": 1080, "color": 0xFF3C8C1E}
# The main outputs' profile: simple output mode with the replay buffer on.
MAIN_OUTPUT = "Simple"

MAIN_EVENT_ACTIVE = "OBS_WEBSOCKET_OUTPUT_STARTED"
MAIN_EVENT_STOPPED = "OBS_WEBSOCKET_OUTPUT_STOPPED"


def recording_name(stamp, ext="mp4", number=None):
    """The vertical recording's file name for a time stamp "YYYY-MM-DD hh-mm-ss"."""
    return "Stilwane-縦 %s%s.%s" % (stamp, " (%d)" % number if number else "", ext)


def stamp_at(t):
    """The file-name time stamp libobs writes for the epoch time t (local time, as OBS's)."""
    return time.strftime("%Y-%m-%d %H-%M-%S", time.localtime(t))


# -- seeding ------------------------------------------------------------------------------------


def seed_main_outputs(home, directory, replay_seconds=4):
    """OBS's profile: simple output mode, recordings into the directory, replay buffer on."""
    return h.seed_profile(home, {
        "Output": {"Mode": MAIN_OUTPUT},
        "SimpleOutput": {"FilePath": directory, "RecRB": True, "RecRBTime": replay_seconds},
    })


def seed_module(home, **values):
    """Merges settings into the module's config.json before OBS starts."""
    return home.update_module_config(values)


# -- the vendor ----------------------------------------------------------------------------------


def vendor(ws, rtype, data=None, timeout=None):
    """The vendor's own response (CallVendorRequest's responseData.responseData)."""
    request = {"vendorName": VENDOR, "requestType": rtype}
    if data is not None:
        request["requestData"] = data
    return ws.request("CallVendorRequest", request, timeout=timeout).get("responseData", {})


def vendor_ok(ws, rtype, data=None, timeout=None):
    answer = vendor(ws, rtype, data, timeout)
    if answer.get("success") is not True:
        raise h.HarnessError("vendor request %s failed: %s" % (rtype, answer))
    return answer


def vendor_until(ws, rtype, data=None, timeout=15):
    """Repeats the request while it fails (the canvas still loading)."""
    deadline = time.monotonic() + timeout
    while True:
        answer = vendor(ws, rtype, data)
        if answer.get("success") or time.monotonic() > deadline:
            return answer
        time.sleep(0.2)


def vendor_events(ws, etype=None, after=0):
    """The eventData of the vendor's events received so far at index >= after (ws: a client or the
    list of its events)."""
    out = []
    for ev in getattr(ws, "events", ws)[after:]:
        if ev.get("eventType") != "VendorEvent":
            continue
        d = ev.get("eventData") or {}
        if d.get("vendorName") == VENDOR and (etype is None or d.get("eventType") == etype):
            out.append(d.get("eventData") or {})
    return out


def wait_vendor_event(ws, etype, predicate=None, after=0, timeout=30):
    def match(d):
        if d.get("vendorName") != VENDOR or d.get("eventType") != etype:
            return False
        return predicate is None or predicate(d.get("eventData") or {})

    return ws.wait_event("VendorEvent", match, timeout=timeout, after=after).get("eventData") or {}


def wait_state(ws, output, state_name, after=0, timeout=30):
    """Waits for OutputStateChanged of the output reaching the state (by name); returns its data."""
    try:
        return wait_vendor_event(ws, "OutputStateChanged",
                                 lambda d: d.get("output") == output and d.get("stateName") == state_name,
                                 after=after, timeout=timeout)
    except h.HarnessError:
        raise h.HarnessError("the vertical %s did not become %s within %s s; its states since: %s"
                             % (output, state_name, timeout, states(ws, output, after)))


def states(ws, output, after=0):
    """The state names the output went through, from the OutputStateChanged events at index >= after."""
    return [d.get("stateName") for d in vendor_events(ws, "OutputStateChanged", after) if d.get("output") == output]


def wait_file_saved(ws, output, after=0, timeout=30):
    """Waits for FileSaved of the output; returns its path."""
    return wait_vendor_event(ws, "FileSaved", lambda d: d.get("output") == output, after=after,
                             timeout=timeout).get("path")


def status(ws):
    return vendor_ok(ws, "GetOutputStatus")


# -- OBS's main outputs -----------------------------------------------------------------------------


def add_main_picture(ws):
    """A colour source filling OBS's main scene; returns the scene's name."""
    scene = ws.request("GetCurrentProgramScene")["sceneName"]
    ws.request("CreateInput", {"sceneName": scene, "inputName": "Picture", "inputKind": "color_source_v3",
                               "inputSettings": PICTURE})
    return scene


def add_vertical_scene(ws, main_scene, name="Vertical"):
    """A vertical scene made from the main scene (the main picture cropped to the portrait canvas),
    so that the vertical outputs carry a picture of their own rather than black."""
    vendor_until(ws, "GetCanvas")
    answer = vendor_ok(ws, "GenerateScene", {"mainSceneName": main_scene, "template": "CenterCrop",
                                             "sceneName": name, "link": False})
    vendor_ok(ws, "SetCurrentScene", {"sceneName": name})
    return answer


def set_main_stream(ws, server, key):
    ws.request("SetStreamServiceSettings", {"streamServiceType": "rtmp_custom",
                                            "streamServiceSettings": {"server": server, "key": key}})


def _main_request(ws, request, etype, state, timeout):
    """Sends one of OBS's own output requests and waits for the output's state event (returned)."""
    after = len(ws.events)
    ws.request(request, timeout=timeout)
    return ws.wait_event(etype, lambda d: d.get("outputState") == state, timeout=timeout, after=after)


def start_main_stream(ws, timeout=30):
    _main_request(ws, "StartStream", "StreamStateChanged", MAIN_EVENT_ACTIVE, timeout)


def stop_main_stream(ws, timeout=30):
    _main_request(ws, "StopStream", "StreamStateChanged", MAIN_EVENT_STOPPED, timeout)


def start_main_recording(ws, timeout=30):
    return _main_request(ws, "StartRecord", "RecordStateChanged", MAIN_EVENT_ACTIVE, timeout).get("outputPath")


def stop_main_recording(ws, timeout=30):
    """Stops OBS's recording; returns its file once OBS has finished it."""
    return _main_request(ws, "StopRecord", "RecordStateChanged", MAIN_EVENT_STOPPED, timeout).get("outputPath")


def start_main_replay(ws, timeout=30):
    _main_request(ws, "StartReplayBuffer", "ReplayBufferStateChanged", MAIN_EVENT_ACTIVE, timeout)


def stop_main_replay(ws, timeout=30):
    _main_request(ws, "StopReplayBuffer", "ReplayBufferStateChanged", MAIN_EVENT_STOPPED, timeout)


def save_main_replay(ws, timeout=30):
    after = len(ws.events)
    ws.request("SaveReplayBuffer")
    return ws.wait_event("ReplayBufferSaved", timeout=timeout, after=after).get("savedReplayPath")


def pump(ws, seconds):
    """Keeps receiving events for the time (events arrive only while the client reads)."""
    deadline = time.monotonic() + seconds
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            return
        ws._pump(min(left, 0.5))


# -- files --------------------------------------------------------------------------------------


def vertical_files(directory, pattern=RECORDING_NAME_RE):
    """The names in the directory that match the pattern, sorted."""
    try:
        names = os.listdir(directory)
    except FileNotFoundError:
        return []
    return sorted(n for n in names if re.match(pattern, n))
