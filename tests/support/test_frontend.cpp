// SPDX-License-Identifier: GPL-2.0-or-later
// Checks the harness against what OBS 32 does, so that plug-in tests built on it can be trusted.
#include <QDockWidget>
#include <QPointer>
#include <QTest>
#include <QWidget>

#include <obs.hpp>
#include <obs-frontend-api.h>

#include "ObsTestEnv.hpp"
#include "TestFrontend.hpp"
#include "TestMain.hpp"

namespace {

// One line per event or save-callback call, in the order they happened.
struct Recorder {
	QStringList calls;
	QString tag;
	QString loadedMarker;
	int canvasesAtLoad = -1;
};

void recordEvent(enum obs_frontend_event event, void *data)
{
	static_cast<Recorder *>(data)->calls.append(QStringLiteral("event %1").arg(int(event)));
}

void recordEventAsFirst(enum obs_frontend_event event, void *data)
{
	static_cast<Recorder *>(data)->calls.append(QStringLiteral("first %1").arg(int(event)));
}

void recordSave(obs_data_t *data, bool saving, void *param)
{
	Recorder *recorder = static_cast<Recorder *>(param);
	recorder->calls.append(saving ? QStringLiteral("save") : QStringLiteral("load"));
	if (saving) {
		OBSDataAutoRelease own = obs_data_create();
		obs_data_set_string(own, "marker", recorder->tag.toUtf8().constData());
		obs_data_set_obj(data, "stilwane", own);
		return;
	}
	OBSDataAutoRelease own = obs_data_get_obj(data, "stilwane");
	recorder->loadedMarker = QString::fromUtf8(obs_data_get_string(own, "marker"));
	struct obs_frontend_canvas_list list = {};
	obs_frontend_get_canvases(&list);
	recorder->canvasesAtLoad = int(list.canvases.num);
	obs_frontend_canvas_list_free(&list);
}

QString eventLine(enum obs_frontend_event event)
{
	return QStringLiteral("event %1").arg(int(event));
}

obs_canvas_t *addVerticalCanvas(const char *name, uint32_t flags)
{
	obs_video_info ovi = {};
	obs_get_video_info(&ovi);
	ovi.base_width = ovi.output_width = 1080;
	ovi.base_height = ovi.output_height = 1920;
	return obs_frontend_add_canvas(name, &ovi, int(flags));
}

std::vector<OBSCanvas> frontendCanvases()
{
	std::vector<OBSCanvas> result;
	struct obs_frontend_canvas_list list = {};
	obs_frontend_get_canvases(&list);
	for (size_t i = 0; i < list.canvases.num; i++)
		result.emplace_back(list.canvases.array[i]);
	obs_frontend_canvas_list_free(&list);
	return result;
}

} // namespace

class TestFrontendHarness : public QObject {
	Q_OBJECT

private slots:
	void init() { TestFrontend::instance().reset(); }
	void cleanup() { TestFrontend::instance().reset(); }

	void addCanvasGivesUsableCanvas()
	{
		OBSCanvasAutoRelease canvas = addVerticalCanvas("Stilwane Vertical", ACTIVATE | SCENE_REF);
		QVERIFY(canvas);
		QCOMPARE(QString::fromUtf8(obs_canvas_get_name(canvas)), QStringLiteral("Stilwane Vertical"));
		QCOMPARE(obs_canvas_get_flags(canvas), uint32_t(ACTIVATE | SCENE_REF));
		QVERIFY(obs_canvas_has_video(canvas));
		obs_video_info ovi = {};
		QVERIFY(obs_canvas_get_video_info(canvas, &ovi));
		QCOMPARE(ovi.base_width, 1080u);
		QCOMPARE(ovi.base_height, 1920u);
		QVERIFY(obs_canvas_get_video(canvas));
		QCOMPARE(TestFrontend::instance().raisedEvents(),
			 std::vector<enum obs_frontend_event>{OBS_FRONTEND_EVENT_CANVAS_ADDED});

		OBSSceneAutoRelease scene = obs_canvas_scene_create(canvas, "V1");
		QVERIFY(scene);
		obs_canvas_set_channel(canvas, 0, obs_scene_get_source(scene));
		OBSSourceAutoRelease channel = obs_canvas_get_channel(canvas, 0);
		QCOMPARE(channel.Get(), obs_scene_get_source(scene));
		obs_canvas_set_channel(canvas, 0, nullptr);
	}

	void getCanvasesHandsOutNewReferences()
	{
		obs_canvas_t *created = addVerticalCanvas("Stilwane Vertical", ACTIVATE | SCENE_REF);
		QVERIFY(created);
		OBSWeakCanvasAutoRelease weak = obs_canvas_get_weak_canvas(created);
		obs_canvas_release(created);

		// Each listing hands out references of its own: freeing two lists must leave the canvas alive.
		for (int round = 0; round < 2; round++) {
			struct obs_frontend_canvas_list list = {};
			obs_frontend_get_canvases(&list);
			QCOMPARE(list.canvases.num, size_t(1));
			QCOMPARE(QString::fromUtf8(obs_canvas_get_name(list.canvases.array[0])),
				 QStringLiteral("Stilwane Vertical"));
			obs_frontend_canvas_list_free(&list);
		}
		OBSCanvasAutoRelease alive = obs_weak_canvas_get_canvas(weak);
		QVERIFY(alive);

		QVERIFY(obs_frontend_remove_canvas(alive));
		QVERIFY(obs_canvas_removed(alive));
		QVERIFY(!obs_frontend_remove_canvas(alive));
		QVERIFY(frontendCanvases().empty());
		alive = nullptr;
		// The front end kept exactly one reference and gave it up.
		OBSCanvasAutoRelease gone = obs_weak_canvas_get_canvas(weak);
		QVERIFY(!gone);
	}

	void eventsReachCallbacksNewestFirst()
	{
		Recorder recorder;
		obs_frontend_add_event_callback(recordEventAsFirst, &recorder);
		obs_frontend_add_event_callback(recordEvent, &recorder);
		obs_frontend_add_event_callback(recordEvent, &recorder);
		QCOMPARE(TestFrontend::instance().eventCallbackCount(), size_t(2));

		TestFrontend::instance().raise(OBS_FRONTEND_EVENT_STREAMING_STARTED);
		obs_frontend_remove_event_callback(recordEvent, &recorder);
		TestFrontend::instance().raise(OBS_FRONTEND_EVENT_EXIT);

		// OBS runs the most recently registered callback first.
		QCOMPARE(recorder.calls,
			 (QStringList{eventLine(OBS_FRONTEND_EVENT_STREAMING_STARTED),
				      QStringLiteral("first %1").arg(int(OBS_FRONTEND_EVENT_STREAMING_STARTED)),
				      QStringLiteral("first %1").arg(int(OBS_FRONTEND_EVENT_EXIT))}));
	}

	void collectionSwitchFollowsObsOrder()
	{
		TestFrontend &fe = TestFrontend::instance();
		Recorder recorder;
		recorder.tag = QStringLiteral("collection A");
		obs_frontend_add_event_callback(recordEvent, &recorder);
		obs_frontend_add_save_callback(recordSave, &recorder);

		obs_source_t *mainScene = fe.addScene("Main A");
		fe.setProgramScene(mainScene);
		OBSCanvasAutoRelease canvas = addVerticalCanvas("Stilwane Vertical", ACTIVATE | SCENE_REF);
		QVERIFY(canvas);
		const QString uuid = QString::fromUtf8(obs_canvas_get_uuid(canvas));
		OBSSceneAutoRelease vertical = obs_canvas_scene_create(canvas, "V1");
		const QString verticalUuid = QString::fromUtf8(obs_source_get_uuid(obs_scene_get_source(vertical)));
		obs_canvas_set_channel(canvas, 0, obs_scene_get_source(vertical));
		OBSWeakCanvasAutoRelease weak = obs_canvas_get_weak_canvas(canvas);
		vertical = nullptr;
		canvas = nullptr;

		// To a new collection: nothing is loaded, the old canvas goes away with the old collection.
		recorder.calls.clear();
		fe.switchCollection(nullptr);
		QCOMPARE(recorder.calls,
			 (QStringList{eventLine(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING), QStringLiteral("save"),
				      eventLine(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CLEANUP),
				      eventLine(OBS_FRONTEND_EVENT_SCENE_COLLECTION_LIST_CHANGED),
				      eventLine(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED)}));
		QVERIFY(frontendCanvases().empty());
		OBSCanvasAutoRelease destroyed = obs_weak_canvas_get_canvas(weak);
		QVERIFY(!destroyed);
		OBSSourceAutoRelease current = obs_frontend_get_current_scene();
		QCOMPARE(QString::fromUtf8(obs_source_get_name(current)), QStringLiteral("Scene"));
		current = nullptr;

		OBSDataAutoRelease collectionA = fe.oldCollectionData();
		QVERIFY(collectionA);
		OBSDataAutoRelease modulesA = TestFrontend::moduleData(collectionA);
		OBSDataAutoRelease ownA = obs_data_get_obj(modulesA, "stilwane");
		QCOMPARE(QString::fromUtf8(obs_data_get_string(ownA, "marker")), QStringLiteral("collection A"));
		// Save callbacks see only the modules object, never the collection's own keys.
		QVERIFY(!obs_data_has_user_value(modulesA, "canvases"));
		OBSDataArrayAutoRelease savedCanvases = obs_data_get_array(collectionA, "canvases");
		QCOMPARE(obs_data_array_count(savedCanvases), size_t(1));
		OBSDataAutoRelease savedCanvas = obs_data_array_item(savedCanvases, 0);
		OBSDataAutoRelease savedInfo = obs_data_get_obj(savedCanvas, "info");
		QCOMPARE(QString::fromUtf8(obs_data_get_string(savedInfo, "uuid")), uuid);

		// Back to the first collection: the canvas returns with its uuid and scenes, without video.
		recorder.tag = QStringLiteral("collection B");
		recorder.calls.clear();
		fe.switchCollection(collectionA);
		QCOMPARE(recorder.calls,
			 (QStringList{eventLine(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING), QStringLiteral("save"),
				      eventLine(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CLEANUP), QStringLiteral("load"),
				      eventLine(OBS_FRONTEND_EVENT_SCENE_CHANGED),
				      eventLine(OBS_FRONTEND_EVENT_PREVIEW_SCENE_CHANGED),
				      eventLine(OBS_FRONTEND_EVENT_SCENE_COLLECTION_LIST_CHANGED),
				      eventLine(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED)}));
		QCOMPARE(recorder.loadedMarker, QStringLiteral("collection A"));
		QCOMPARE(recorder.canvasesAtLoad, 1);

		std::vector<OBSCanvas> restored = frontendCanvases();
		QCOMPARE(restored.size(), size_t(1));
		QCOMPARE(QString::fromUtf8(obs_canvas_get_uuid(restored[0])), uuid);
		QCOMPARE(QString::fromUtf8(obs_canvas_get_name(restored[0])), QStringLiteral("Stilwane Vertical"));
		QCOMPARE(obs_canvas_get_flags(restored[0]), uint32_t(ACTIVATE | SCENE_REF));
		QVERIFY(!obs_canvas_has_video(restored[0]));
		OBSSourceAutoRelease channel = obs_canvas_get_channel(restored[0], 0);
		QVERIFY(!channel);
		OBSSceneAutoRelease restoredScene = obs_canvas_get_scene_by_name(restored[0], "V1");
		QVERIFY(restoredScene);
		QCOMPARE(QString::fromUtf8(obs_source_get_uuid(obs_scene_get_source(restoredScene))), verticalUuid);
		restoredScene = nullptr;
		current = obs_frontend_get_current_scene();
		QCOMPARE(QString::fromUtf8(obs_source_get_name(current)), QStringLiteral("Main A"));
		current = nullptr;
		restored.clear();

		// A collection whose load OBS never announces to the save callbacks.
		recorder.calls.clear();
		recorder.loadedMarker.clear();
		fe.switchCollection(collectionA, false);
		QVERIFY(!recorder.calls.contains(QStringLiteral("load")));
		QVERIFY(recorder.loadedMarker.isEmpty());
		QCOMPARE(frontendCanvases().size(), size_t(1));

		obs_frontend_remove_save_callback(recordSave, &recorder);
		obs_frontend_remove_event_callback(recordEvent, &recorder);
	}

	void startupLoadFollowsObsOrder()
	{
		TestFrontend &fe = TestFrontend::instance();
		fe.setProgramScene(fe.addScene("Main A"));
		OBSCanvasAutoRelease canvas = addVerticalCanvas("Stilwane Vertical", ACTIVATE | SCENE_REF);
		canvas = nullptr;
		OBSDataAutoRelease saved = fe.saveCollection();

		Recorder recorder;
		obs_frontend_add_event_callback(recordEvent, &recorder);
		obs_frontend_add_save_callback(recordSave, &recorder);
		fe.startupLoad(saved);
		QCOMPARE(recorder.calls,
			 (QStringList{eventLine(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CLEANUP), QStringLiteral("load"),
				      eventLine(OBS_FRONTEND_EVENT_SCENE_COLLECTION_LIST_CHANGED),
				      eventLine(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED),
				      eventLine(OBS_FRONTEND_EVENT_SCENE_CHANGED),
				      eventLine(OBS_FRONTEND_EVENT_PREVIEW_SCENE_CHANGED),
				      eventLine(OBS_FRONTEND_EVENT_FINISHED_LOADING)}));
		QCOMPARE(recorder.canvasesAtLoad, 1);
		obs_frontend_remove_save_callback(recordSave, &recorder);
		obs_frontend_remove_event_callback(recordEvent, &recorder);
	}

	void toolsMenuAndDocks()
	{
		TestFrontend &fe = TestFrontend::instance();
		int clicks = 0;
		obs_frontend_add_tools_menu_item(
			"Stilwane Settings", [](void *data) { ++*static_cast<int *>(data); }, &clicks);
		QVERIFY(fe.triggerToolsMenuItem(QStringLiteral("Stilwane Settings")));
		QCOMPARE(clicks, 1);
		QVERIFY(!fe.triggerToolsMenuItem(QStringLiteral("Missing")));

		QPointer<QWidget> widget = new QWidget();
		QVERIFY(obs_frontend_add_dock_by_id("stilwane_main", "Stilwane", widget));
		QCOMPARE(fe.dockContent(QStringLiteral("stilwane_main")), widget.data());
		QCOMPARE(fe.dock(QStringLiteral("stilwane_main"))->parentWidget(),
			 static_cast<QWidget *>(obs_frontend_get_main_window()));
		QVERIFY(!obs_frontend_add_dock_by_id("stilwane_main", "Again", widget));
		obs_frontend_remove_dock("stilwane_main");
		QVERIFY(!widget);

		fe.setDockAddFails(true);
		QWidget refused;
		QVERIFY(!obs_frontend_add_dock_by_id("stilwane_other", "Other", &refused));
		QVERIFY(!refused.parentWidget());
	}
};

STILWANE_TEST_MAIN(TestFrontendHarness)

#include "test_frontend.moc"
