# SPDX-License-Identifier: GPL-2.0-or-later
"""Scene-collection switches with the module: every collection ends up with exactly one vertical
canvas of its own, a collection switched back to keeps its canvas, and OBS survives it all.

One OBS run: Untitled -> new collection "Second" -> Untitled -> Second, checked through
obs-websocket after each switch and through the collection files after a SIGINT shutdown.

Then plain OBS (module removed) in the same HOME repeats the loads of saved collections (it starts
in Second and switches to Untitled): OBS itself leaks one allocation per load of a collection
whose file holds an extra canvas, so that run's count is the bar for the module's run.
"""

import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

import obsharness as h  # noqa: E402
from e2ecase import ObsTestCase, canvas_list_named, main  # noqa: E402

START_TIMEOUT = 60
SWITCH_TIMEOUT = 60
SECOND = "Second"


class CollectionSwitch(ObsTestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = h.Session(module=True)
        cls.steps = []  # (collection, uuid in the ready line, GetCanvasList response)
        cls.obs = None
        cls.baseline = None
        cls.files = {}

        def switch(ws, run, request, data):
            mark = run.mark()
            after = len(ws.events)
            ws.request(request, data, timeout=SWITCH_TIMEOUT)
            ws.wait_event("CurrentSceneCollectionChanged",
                          lambda d: d.get("sceneCollectionName") == data["sceneCollectionName"],
                          timeout=SWITCH_TIMEOUT, after=after)
            ready = run.wait_log(h.CANVAS_READY_RE, SWITCH_TIMEOUT, after=mark)
            current = ws.request("GetSceneCollectionList")["currentSceneCollectionName"]
            cls.steps.append((current, ready.group(1), ws.request("GetCanvasList")))

        def switching():
            run = cls.obs = cls.session.start_obs()
            run.wait_module_loaded(START_TIMEOUT)
            first = run.wait_log(h.CANVAS_READY_RE, START_TIMEOUT)
            with run.connect() as ws:
                cls.steps.append(("Untitled", first.group(1), ws.request("GetCanvasList")))
                switch(ws, run, "CreateSceneCollection", {"sceneCollectionName": SECOND})
                switch(ws, run, "SetCurrentSceneCollection", {"sceneCollectionName": "Untitled"})
                switch(ws, run, "SetCurrentSceneCollection", {"sceneCollectionName": SECOND})

        def shutdown():
            # Runs even when the switching failed: OBS must still stop cleanly.
            if cls.obs is None:
                raise h.HarnessError("OBS never started")
            cls.obs.stop()
            cls.files = cls.session.home.collections()

        def baseline():
            cls.session.home.uninstall_module()
            run = cls.baseline = cls.session.start_obs()
            with run.connect() as ws:
                current = ws.request("GetSceneCollectionList")["currentSceneCollectionName"]
                if current != SECOND:
                    raise h.HarnessError("plain OBS started in %r, not in %r" % (current, SECOND))
                after = len(ws.events)
                ws.request("SetCurrentSceneCollection", {"sceneCollectionName": "Untitled"}, timeout=SWITCH_TIMEOUT)
                ws.wait_event("CurrentSceneCollectionChanged", timeout=SWITCH_TIMEOUT, after=after)
                ws.request("GetSceneCollectionList")  # answers once the load finished
            run.stop()

        baseline.needs = ("shutdown",)

        try:
            cls.run_phases([("switching", switching), ("shutdown", shutdown), ("baseline", baseline)])
        except BaseException:
            cls.session.close()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def uuids_by_collection(self):
        out = {}
        for name, uuid, _ in self.steps:
            out.setdefault(name, []).append(uuid)
        return out

    def test_01_each_switch_readies_one_canvas(self):
        self.need("switching")
        self.assertEqual([s[0] for s in self.steps], ["Untitled", SECOND, "Untitled", SECOND])
        for name, uuid, listing in self.steps:
            listed = canvas_list_named(listing)
            self.assertEqual([c["canvasUuid"] for c in listed], [uuid],
                             "in %s, GetCanvasList does not list exactly the ready canvas: %s" % (name, listing))
            video = listed[0].get("canvasVideoSettings", {})
            self.assertEqual((video.get("baseWidth"), video.get("baseHeight")), (1080, 1920), listed[0])

    def test_02_collections_keep_their_own_canvas(self):
        self.need("switching")
        uuids = self.uuids_by_collection()
        self.assertEqual(len(set(uuids["Untitled"])), 1, "Untitled's canvas changed on return: %s" % uuids)
        self.assertEqual(len(set(uuids[SECOND])), 1, "%s's canvas changed on return: %s" % (SECOND, uuids))
        self.assertNotEqual(uuids["Untitled"][0], uuids[SECOND][0], "both collections share one canvas uuid")

    def test_03_shutdown_is_clean(self):
        self.need("shutdown")
        self.assertCleanExit(self.obs)
        self.assertLogHas(self.obs, h.UNLOADED_RE)

    def test_05_no_more_leaks_than_obs_itself(self):
        self.need("switching", "shutdown", "baseline")
        self.assertCleanExit(self.baseline)
        bar = self.baseline.exit.leaks
        self.assertLessEqual(self.obs.exit.leaks, bar, "the module's run leaked %d allocations, OBS alone %d\n%s"
                             % (self.obs.exit.leaks, bar, self.obs.describe()))

    def test_04_files_hold_one_canvas_each(self):
        self.need("switching", "shutdown")
        uuids = self.uuids_by_collection()
        self.assertEqual(sorted(self.files), sorted(["Untitled", SECOND]))
        for name in ("Untitled", SECOND):
            collection = self.files[name]
            canvases = h.named_canvases(collection)
            self.assertEqual([c.get("uuid") for c in canvases], [uuids[name][0]],
                             "%s's file: %s" % (name, h.canvases_of(collection)))
            state = h.module_state(collection)
            self.assertIsInstance(state, dict, "%s's file has no 'stilwane' object" % name)
            self.assertEqual(state.get("canvas_uuid"), uuids[name][0])


if __name__ == "__main__":
    main()
