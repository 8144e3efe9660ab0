// SPDX-License-Identifier: GPL-2.0-or-later
// The obs-websocket vendor requests and events of the remote control against the real canvas manager,
// with the module loaded into the test front end (which has no obs-websocket, so the vendor is not
// registered and the requests are called directly or through the registered callback).
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <canvas/CanvasManager.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>
#include <plugin/Plugin.hpp>
#include <remote/RemoteControl.hpp>

#include "RemoteTestCalls.hpp"

#include <ObsTestEnv.hpp>
#include <PluginFixture.hpp>
#include <TestFrontend.hpp>
#include <TestMain.hpp>

#include <QTemporaryDir>

#include <chrono>
#include <thread>

#include <obs.hpp>
#include <util/text-lookup.h>

using namespace stilwane;

using namespace remote_test;

class TestRemote : public QObject {
	Q_OBJECT

	PluginFixture base;
	QTemporaryDir &dir = base.dir;
	TestFrontend &fe = base.fe;
	CanvasManager *m = CanvasManager::instance();
	RemoteControl *rc = nullptr;
	bool loaded = false;
	OBSSource cam;
	OBSSource overlay;
	QString mainUuid;

	QString create(const char *name)
	{
		QJsonObject r = call("CreateScene", QString(R"({"sceneName": "%1"})").arg(name).toUtf8());
		return r.value("sceneUuid").toString();
	}

private slots:
	void initTestCase() { base.initTestCase(); }
	void cleanupTestCase() { base.cleanupTestCase(); }

	void init()
	{
		base.freshConfig();
		ObsTestEnv::clearLog();
		QVERIFY(Plugin::load());
		loaded = true;
		Plugin::postLoad();
		fe.startupLoad(nullptr);
		QVERIFY(m->hasCanvas());
		rc = RemoteControl::instance();
		rc->setWaitTimeout(RemoteControl::kDefaultWaitMs);

		cam = OBSSourceAutoRelease(makeColorSource("Cam", 640, 360)).Get();
		overlay = OBSSourceAutoRelease(makeColorSource("Overlay", 1920, 1080)).Get();
		mainUuid = QString::fromUtf8(obs_source_get_uuid(fe.programScene()));
	}

	void cleanup()
	{
		cam = nullptr;
		overlay = nullptr;
		if (loaded)
			Plugin::unload();
		loaded = false;
		fe.reset();
	}

	void startsWithoutWebsocket()
	{
		QVERIFY(ObsTestEnv::logContains("[stilwane] obs-websocket not available: remote control off"));
		QVERIFY(!rc->isRegistered());
		QVERIFY(!rc->isStopped());
		QCOMPARE(rc->requestTypes().size(), 64);
		for (const char *type :
		     {"GetAudioSources", "SetSourceVertical", "SetSourceSeparate", "SetSourceVerticalVolume",
		      "SplitAudioTrack", "EnableAudioMix", "AddTransition", "RenameTransition", "RemoveTransition",
		      "SetSceneItemTransform", "OpenProjector"})
			QVERIFY2(rc->requestTypes().contains(type), type);
	}

	void getCanvas()
	{
		QJsonObject r = call("GetCanvas");
		QCOMPARE(r.value("success").toBool(), true);
		QCOMPARE(r.value("canvasUuid").toString(), QString::fromUtf8(obs_canvas_get_uuid(m->canvas())));
		QCOMPARE(r.value("canvasName").toString(), QString(kCanvasName));
		QCOMPARE(r.value("width").toInt(), 1080);
		QCOMPARE(r.value("height").toInt(), 1920);
		QCOMPARE(r.value("studioMode").toBool(), false);
		QVERIFY(!r.contains("currentScene"));
		QVERIFY(!r.contains("previewScene"));

		QString uuid = create("One");
		r = call("GetCanvas");
		QCOMPARE(r.value("currentScene").toObject().value("sceneUuid").toString(), uuid);
		QCOMPARE(r.value("currentScene").toObject().value("sceneName").toString(), QString("One"));
		QVERIFY(!r.contains("previewScene"));
	}

	void everyRequestNeedsTheCanvas()
	{
		m->releaseCanvas();
		for (const QString &type : RemoteControl::requestTypes()) {
			QJsonObject r = call(type.toUtf8().constData(), R"({"sceneName": "x"})");
			QVERIFY2(failsWith(r, "canvas is not available"), qPrintable(type));
		}
	}

	void unknownRequestAndNullRequest()
	{
		QVERIFY(failsWith(call("SwitchEverything"), "unknown request type 'SwitchEverything'"));
		OBSDataAutoRelease response = obs_data_create();
		rc->handle("SetCurrentScene", nullptr, response);
		QVERIFY(failsWith(parse(response), "missing field 'sceneUuid' or 'sceneName'"));
		rc->handle(nullptr, nullptr, response);
		QVERIFY(failsWith(parse(response), "unknown request type"));
	}

	void createScene()
	{
		int saves = fe.saveCount();
		flushEvents();
		QSignalSpy spy(rc, &RemoteControl::eventEmitted);
		QJsonObject r = call("CreateScene", R"({"sceneName": "Alpha"})");
		QCOMPARE(errorOf(r), QString());
		QString uuid = r.value("sceneUuid").toString();
		QCOMPARE(r.value("sceneName").toString(), QString("Alpha"));
		OBSSourceAutoRelease scene = m->findSceneByUuid(uuid);
		QVERIFY(scene);
		QVERIFY(fe.saveCount() > saves);
		// The first scene becomes current outside studio mode.
		QCOMPARE(m->currentSceneUuid(), uuid);
		QVERIFY(!eventsOfType(spy, "SceneListChanged").isEmpty());
		QVector<EventRecord> current = eventsOfType(spy, "CurrentSceneChanged");
		QCOMPARE(current.size(), 1);
		QCOMPARE(current[0].data.value("sceneUuid").toString(), uuid);
		QCOMPARE(current[0].data.value("sceneName").toString(), QString("Alpha"));

		QVERIFY(failsWith(call("CreateScene", R"({"sceneName": "Alpha"})"), "already exists"));
		QVERIFY(failsWith(call("CreateScene", "{}"), "missing field 'sceneName'"));
		QVERIFY(failsWith(call("CreateScene", R"({"sceneName": null})"), "missing field 'sceneName'"));
		QVERIFY(failsWith(call("CreateScene", R"({"sceneName": 5})"), "'sceneName' must be a string"));
		QVERIFY(failsWith(call("CreateScene", R"({"sceneName": ["Alpha"]})"), "'sceneName' must be a string"));
		QVERIFY(failsWith(call("CreateScene", R"({"sceneName": ""})"), "must not be empty"));
		QCOMPARE(m->scenes().size(), 1);
	}

	void getSceneList()
	{
		QString a = create("A");
		QString b = create("B");
		OBSSourceAutoRelease sceneB = m->findSceneByUuid(b);
		m->setSceneTransitionOverride(sceneB, kCutUuid, 700);
		OBSDataAutoRelease priv = obs_source_get_private_settings(sceneB);
		obs_data_set_string(priv, "stilwane_link", mainUuid.toUtf8().constData());

		QJsonObject r = call("GetSceneList");
		QCOMPARE(errorOf(r), QString());
		QJsonArray scenes = r.value("scenes").toArray();
		QCOMPARE(scenes.size(), 2);
		QJsonObject first = scenes[0].toObject();
		QJsonObject second = scenes[1].toObject();
		QCOMPARE(first.value("sceneUuid").toString(), a);
		QCOMPARE(first.value("sceneName").toString(), QString("A"));
		QCOMPARE(first.value("link").toString(), QString());
		QCOMPARE(first.value("transitionUuid").toString(), QString());
		QCOMPARE(first.value("transitionDurationMs").toInt(), 300);
		QCOMPARE(second.value("sceneUuid").toString(), b);
		QCOMPARE(second.value("link").toString(), mainUuid);
		QCOMPARE(second.value("transitionUuid").toString(), QString(kCutUuid));
		QCOMPARE(second.value("transitionDurationMs").toInt(), 700);
		QCOMPARE(r.value("currentSceneUuid").toString(), a);
		QCOMPARE(r.value("previewSceneUuid").toString(), QString());
	}

	void setCurrentScene()
	{
		QString a = create("A");
		QString b = create("B");
		QString c = create("C");
		flushEvents();
		QSignalSpy spy(rc, &RemoteControl::eventEmitted);

		QJsonObject r = call("SetCurrentScene", QString(R"({"sceneUuid": "%1"})").arg(b).toUtf8());
		QCOMPARE(errorOf(r), QString());
		QCOMPARE(m->currentSceneUuid(), b);
		QVERIFY(ObsTestEnv::logContains("-> 'B' (source=vertical, trigger=websocket)"));

		QCOMPARE(errorOf(call("SetCurrentScene", R"({"sceneName": "C"})")), QString());
		QCOMPARE(m->currentSceneUuid(), c);
		// The uuid wins over the name.
		r = call("SetCurrentScene", QString(R"({"sceneUuid": "%1", "sceneName": "C"})").arg(a).toUtf8());
		QCOMPARE(r.value("sceneName").toString(), QString("A"));
		QCOMPARE(m->currentSceneUuid(), a);
		// Switching to the current scene is no change and no event.
		QCOMPARE(errorOf(call("SetCurrentScene", R"({"sceneName": "A"})")), QString());

		QVector<EventRecord> current = eventsOfType(spy, "CurrentSceneChanged");
		QCOMPARE(current.size(), 3);
		QCOMPARE(current[0].data.value("sceneUuid").toString(), b);
		QCOMPARE(current[2].data.value("sceneName").toString(), QString("A"));

		QVERIFY(failsWith(call("SetCurrentScene", R"({"sceneName": "Nope"})"),
				  "no vertical scene named 'Nope'"));
		QVERIFY(failsWith(call("SetCurrentScene", QString(R"({"sceneUuid": "%1"})").arg(mainUuid).toUtf8()),
				  "no vertical scene with the uuid"));
		QVERIFY(failsWith(call("SetCurrentScene", "{}"), "missing field 'sceneUuid' or 'sceneName'"));
		QVERIFY(failsWith(call("SetCurrentScene", R"({"sceneUuid": 12})"), "'sceneUuid' must be a string"));
		QVERIFY(failsWith(call("SetCurrentScene", R"({"sceneName": true})"), "'sceneName' must be a string"));
		QVERIFY(failsWith(call("SetCurrentScene", R"({"sceneName": {"a": 1}})"),
				  "'sceneName' must be a string"));
		QCOMPARE(m->currentSceneUuid(), a);
	}

	void studioModePreviewAndTransition()
	{
		QString a = create("A");
		QString b = create("B");
		QVERIFY(failsWith(call("SetPreviewScene", R"({"sceneName": "B"})"), "studio mode is off"));
		QVERIFY(failsWith(call("TransitionToProgram"), "studio mode is off"));

		flushEvents();
		QSignalSpy spy(rc, &RemoteControl::eventEmitted);
		fe.setStudioMode(true);
		QVector<EventRecord> studio = eventsOfType(spy, "StudioModeChanged");
		QCOMPARE(studio.size(), 1);
		QCOMPARE(studio[0].data.value("studioMode").toBool(), true);
		QJsonObject r = call("GetCanvas");
		QCOMPARE(r.value("studioMode").toBool(), true);
		QCOMPARE(r.value("previewScene").toObject().value("sceneUuid").toString(), a);

		// The fade to the first scene must end first: a running transition refuses the next one.
		QVERIFY(ObsTestEnv::waitUntil(
			[&]() { return !obs_transition_is_active(m->activeTransitionSource()); }));
		flushEvents();
		spy.clear();
		QCOMPARE(errorOf(call("SetPreviewScene", R"({"sceneName": "B"})")), QString());
		QCOMPARE(m->previewSceneUuid(), b);
		QCOMPARE(m->currentSceneUuid(), a);
		QVector<EventRecord> preview = eventsOfType(spy, "PreviewSceneChanged");
		QCOMPARE(preview.size(), 1);
		QCOMPARE(preview[0].data.value("sceneUuid").toString(), b);
		QCOMPARE(call("GetSceneList").value("previewSceneUuid").toString(), b);
		QVERIFY(failsWith(call("SetPreviewScene", R"({"sceneName": "Nope"})"), "no vertical scene named"));
		QVERIFY(failsWith(call("SetPreviewScene", "{}"), "missing field"));

		r = call("TransitionToProgram");
		QCOMPARE(errorOf(r), QString());
		QCOMPARE(r.value("sceneUuid").toString(), b);
		QCOMPARE(m->currentSceneUuid(), b);
		QVERIFY(ObsTestEnv::logContains("vertical studio transition 'B': 300 ms, trigger=websocket"));
		QCOMPARE(eventsOfType(spy, "CurrentSceneChanged").size(), 1);
		// The swap puts the old program scene into the preview once the fade ended.
		QVERIFY(ObsTestEnv::waitUntil([&]() { return m->previewSceneUuid() == a; }, 5000));

		flushEvents();
		spy.clear();
		fe.setStudioMode(false);
		studio = eventsOfType(spy, "StudioModeChanged");
		QCOMPARE(studio.size(), 1);
		QCOMPARE(studio[0].data.value("studioMode").toBool(), false);
		QVERIFY(!call("GetCanvas").contains("previewScene"));
	}

	void renameScene()
	{
		QString a = create("A");
		create("B");
		int saves = fe.saveCount();
		QJsonObject r =
			call("RenameScene", QString(R"({"sceneUuid": "%1", "newSceneName": "A2"})").arg(a).toUtf8());
		QCOMPARE(errorOf(r), QString());
		QCOMPARE(r.value("sceneName").toString(), QString("A2"));
		OBSSourceAutoRelease scene = m->findSceneByUuid(a);
		QCOMPARE(QString::fromUtf8(obs_source_get_name(scene)), QString("A2"));
		QVERIFY(fe.saveCount() > saves);

		QCOMPARE(errorOf(call("RenameScene", R"({"sceneName": "A2", "newSceneName": "A2"})")), QString());
		QVERIFY(failsWith(call("RenameScene", R"({"sceneName": "A2", "newSceneName": "B"})"),
				  "already exists"));
		QVERIFY(failsWith(call("RenameScene", R"({"sceneName": "A2"})"), "missing field 'newSceneName'"));
		QVERIFY(failsWith(call("RenameScene", R"({"sceneName": "A2", "newSceneName": 3})"),
				  "must be a string"));
		QVERIFY(failsWith(call("RenameScene", R"({"sceneName": "Nope", "newSceneName": "X"})"),
				  "no vertical scene"));
		QVERIFY(m->sceneNameExists("A2"));
		QVERIFY(m->sceneNameExists("B"));
	}

	void removeScene()
	{
		QString a = create("A");
		QString b = create("B");
		flushEvents();
		QSignalSpy spy(rc, &RemoteControl::eventEmitted);
		QCOMPARE(errorOf(call("RemoveScene", QString(R"({"sceneUuid": "%1"})").arg(a).toUtf8())), QString());
		OBSSourceAutoRelease gone = m->findSceneByUuid(a);
		QVERIFY(!gone);
		QCOMPARE(m->scenes().size(), 1);
		// The current scene went: the next one takes over.
		QCOMPARE(m->currentSceneUuid(), b);
		QVERIFY(!eventsOfType(spy, "SceneListChanged").isEmpty());
		QCOMPARE(eventsOfType(spy, "CurrentSceneChanged").last().data.value("sceneUuid").toString(), b);
		QVERIFY(failsWith(call("RemoveScene", QString(R"({"sceneUuid": "%1"})").arg(a).toUtf8()),
				  "no vertical scene with the uuid"));
		QVERIFY(failsWith(call("RemoveScene", R"({"sceneName": 1.5})"), "must be a string"));
	}

	void moveScene()
	{
		for (const char *name : {"A", "B", "C", "D"})
			create(name);
		auto order = [&]() {
			return sceneNames(call("GetSceneList"));
		};

		QJsonObject r = call("MoveScene", R"({"sceneName": "A", "offset": 3})");
		QCOMPARE(errorOf(r), QString());
		QCOMPARE(r.value("sceneIndex").toInt(), 3);
		QCOMPARE(order(), QStringList({"B", "C", "D", "A"}));
		QCOMPARE(errorOf(call("MoveScene", R"({"sceneName": "D", "offset": -2})")), QString());
		QCOMPARE(order(), QStringList({"D", "B", "C", "A"}));
		// 1.0 is an integer in JSON.
		QCOMPARE(errorOf(call("MoveScene", R"({"sceneName": "B", "offset": 1.0})")), QString());
		QCOMPARE(order(), QStringList({"D", "C", "B", "A"}));
		QCOMPARE(errorOf(call("MoveScene", R"({"sceneName": "B", "offset": 0})")), QString());

		QVERIFY(failsWith(call("MoveScene", R"({"sceneName": "A", "offset": 1})"), "out of the list"));
		QVERIFY(failsWith(call("MoveScene", R"({"sceneName": "D", "offset": -1})"), "out of the list"));
		QVERIFY(failsWith(call("MoveScene", R"({"sceneName": "D", "offset": 9007199254740993})"),
				  "out of the list"));
		QVERIFY(failsWith(call("MoveScene", R"({"sceneName": "B", "offset": 1.5})"), "must be an integer"));
		QVERIFY(failsWith(call("MoveScene", R"({"sceneName": "B", "offset": "1"})"), "must be an integer"));
		QVERIFY(failsWith(call("MoveScene", R"({"sceneName": "B", "offset": true})"), "must be an integer"));
		QVERIFY(failsWith(call("MoveScene", R"({"sceneName": "B"})"), "missing field 'offset'"));
		QVERIFY(failsWith(call("MoveScene", R"({"offset": 1})"), "missing field 'sceneUuid' or 'sceneName'"));
		QCOMPARE(order(), QStringList({"D", "C", "B", "A"}));
	}

	void generateScene()
	{
		QString camUuid = QString::fromUtf8(obs_source_get_uuid(cam));
		QString overlayUuid = QString::fromUtf8(obs_source_get_uuid(overlay));
		QByteArray request = QString(R"({"mainSceneName": "Scene", "template": "Stacked", "sceneName": "Gen",
			"extraSources": [{"sourceUuid": "%1"}]})")
					     .arg(camUuid)
					     .toUtf8();
		int saves = fe.saveCount();
		QJsonObject r = call("GenerateScene", request);
		QCOMPARE(errorOf(r), QString());
		QString gen = r.value("sceneUuid").toString();
		QCOMPARE(r.value("sceneName").toString(), QString("Gen"));
		QVERIFY(fe.saveCount() > saves);

		QJsonObject list = call("GetSceneList");
		QCOMPARE(list.value("scenes").toArray()[0].toObject().value("link").toString(), mainUuid);

		QJsonObject items = call("GetSceneItemList", R"({"sceneName": "Gen"})");
		QCOMPARE(errorOf(items), QString());
		QJsonArray array = items.value("sceneItems").toArray();
		QCOMPARE(array.size(), 3);
		QJsonObject background = array[0].toObject();
		QJsonObject picture = array[1].toObject();
		QJsonObject below = array[2].toObject();
		QVERIFY(background.value("sourceName").toString().startsWith("Stilwane BG - Gen"));
		QCOMPARE(background.value("locked").toBool(), true);
		QCOMPARE(picture.value("sourceUuid").toString(), mainUuid);
		QCOMPARE(picture.value("sourceName").toString(), QString("Scene"));
		QCOMPARE(picture.value("scale").toDouble(), 0.5625);
		QCOMPARE(picture.value("positionY").toDouble(), 0.0);
		QCOMPARE(picture.value("locked").toBool(), false);
		QCOMPARE(picture.value("visible").toBool(), true);
		QCOMPARE(below.value("sourceUuid").toString(), camUuid);
		QCOMPARE(below.value("scale").toDouble(), 1.6875);
		QCOMPARE(below.value("positionX").toDouble(), 0.0);
		QCOMPARE(below.value("positionY").toDouble(), 960.0);
		QCOMPARE(below.value("cropTop").toInt(), 0);
		QVERIFY(below.value("sceneItemId").toInteger() > 0);

		// CenterCrop by the main scene's uuid, not linked.
		r = call("GenerateScene",
			 QString(R"({"mainSceneUuid": "%1", "mainSceneName": "Nope", "template": "CenterCrop",
			"sceneName": "Crop", "link": false})")
				 .arg(mainUuid)
				 .toUtf8());
		QCOMPARE(errorOf(r), QString());
		list = call("GetSceneList");
		QCOMPARE(list.value("scenes").toArray()[1].toObject().value("link").toString(), QString());
		items = call("GetSceneItemList", R"({"sceneName": "Crop"})");
		QJsonObject crop = items.value("sceneItems").toArray()[0].toObject();
		QCOMPARE(crop.value("cropLeft").toInt(), 656);
		QCOMPARE(crop.value("cropRight").toInt(), 656);

		// Thirds with two extra sources.
		r = call("GenerateScene", QString(R"({"mainSceneName": "Scene", "template": "Thirds", "sceneName": "T",
			"extraSources": [{"sourceUuid": "%1"}, {"sourceUuid": "%2"}]})")
						  .arg(camUuid, overlayUuid)
						  .toUtf8());
		QCOMPARE(errorOf(r), QString());
		QCOMPARE(call("GetSceneItemList", R"({"sceneName": "T"})").value("sceneItems").toArray().size(), 4);
		QCOMPARE(errorOf(call("GenerateScene", R"({"mainSceneName": "Scene", "template": "FitWidth",
			"sceneName": "F", "extraSources": []})")),
			 QString());

		auto generate = [](const QString &fields) {
			return call("GenerateScene", ("{" + fields + "}").toUtf8());
		};
		QVERIFY(failsWith(generate(R"("mainSceneName": "Scene", "template": "Diagonal", "sceneName": "X")"),
				  "unknown template 'Diagonal'"));
		QVERIFY(failsWith(generate(R"("mainSceneName": "Scene", "template": 2, "sceneName": "X")"),
				  "'template' must be a string"));
		QVERIFY(failsWith(generate(R"("mainSceneName": "Scene", "sceneName": "X")"),
				  "missing field 'template'"));
		QVERIFY(failsWith(generate(R"("mainSceneName": "Nope", "template": "Stacked", "sceneName": "X")"),
				  "no main scene named 'Nope'"));
		// A vertical scene is no main scene.
		QVERIFY(failsWith(generate(R"("mainSceneName": "Gen", "template": "Stacked", "sceneName": "X")"),
				  "no main scene named 'Gen'"));
		QVERIFY(failsWith(generate(R"("template": "Stacked", "sceneName": "X")"),
				  "missing field 'mainSceneUuid' or 'mainSceneName'"));
		QVERIFY(failsWith(generate(R"("mainSceneName": "Scene", "template": "Stacked", "sceneName": "Gen")"),
				  "a vertical scene named 'Gen' already exists"));
		QVERIFY(failsWith(generate(R"("mainSceneName": "Scene", "template": "Stacked")"),
				  "missing field 'sceneName'"));
		QVERIFY(failsWith(generate(R"("mainSceneName": "Scene", "template": "Stacked", "sceneName": "X",
			"link": "yes")"),
				  "'link' must be a boolean"));
		QVERIFY(failsWith(generate(R"("mainSceneName": "Scene", "template": "Stacked", "sceneName": "X",
			"extraSources": [{"sourceUuid": "00000000-0000-0000-0000-000000000000"}])"),
				  "extraSources[0]: no source with the uuid"));
		QVERIFY(failsWith(generate(R"("mainSceneName": "Scene", "template": "Stacked", "sceneName": "X",
			"extraSources": [{"name": "Cam"}])"),
				  "extraSources[0]: missing field 'sourceUuid'"));
		QVERIFY(failsWith(generate(QString(R"("mainSceneName": "Scene", "template": "Stacked", "sceneName": "X",
			"extraSources": [{"sourceUuid": "%1"}, {"sourceUuid": "%1"}, {"sourceUuid": "%1"}])")
						   .arg(camUuid)),
				  "at most two"));
		QVERIFY(failsWith(generate(R"("mainSceneName": "Scene", "template": "Stacked", "sceneName": "X",
			"extraSources": "Cam")"),
				  "'extraSources' must be an array"));
		// A vertical transition is neither an input nor a scene.
		OBSSourceAutoRelease fade = m->transitionByUuid(kFadeUuid);
		QVERIFY(failsWith(generate(QString(R"("mainSceneName": "Scene", "template": "Stacked", "sceneName": "X",
			"extraSources": [{"sourceUuid": "%1"}])")
						   .arg(QString::fromUtf8(obs_source_get_uuid(fade)))),
				  "extraSources[0]: "));
		QVERIFY(!m->sceneNameExists("X"));
		QCOMPARE(m->scenes().size(), 4);
	}

	void transitions()
	{
		QJsonObject r = call("GetTransitionList");
		QCOMPARE(errorOf(r), QString());
		QJsonArray list = r.value("transitions").toArray();
		QCOMPARE(list.size(), 2);
		QCOMPARE(list[0].toObject().value("transitionUuid").toString(), QString(kFadeUuid));
		QCOMPARE(list[0].toObject().value("transitionName").toString(), QString("Fade"));
		QCOMPARE(list[0].toObject().value("transitionKind").toString(), QString("fade_transition"));
		QCOMPARE(list[0].toObject().value("builtIn").toBool(), true);
		QCOMPARE(list[1].toObject().value("transitionKind").toString(), QString("cut_transition"));
		QCOMPARE(r.value("currentTransitionUuid").toString(), QString(kFadeUuid));
		QCOMPARE(r.value("transitionDurationMs").toInt(), 300);

		int saves = fe.saveCount();
		QCOMPARE(errorOf(call("SetCurrentTransition", R"({"transitionUuid": "stilwane.cut"})")), QString());
		QCOMPARE(m->selectedTransitionUuid(), QString(kCutUuid));
		QCOMPARE(call("GetTransitionList").value("currentTransitionUuid").toString(), QString(kCutUuid));
		QVERIFY(fe.saveCount() > saves);
		QVERIFY(failsWith(call("SetCurrentTransition", R"({"transitionUuid": "nope"})"),
				  "no vertical transition"));
		QVERIFY(failsWith(call("SetCurrentTransition", "{}"), "missing field 'transitionUuid'"));
		QVERIFY(failsWith(call("SetCurrentTransition", R"({"transitionUuid": 1})"), "must be a string"));

		r = call("SetTransitionDuration", R"({"transitionDurationMs": 750})");
		QCOMPARE(errorOf(r), QString());
		QCOMPARE(r.value("transitionDurationMs").toInt(), 750);
		QCOMPARE(m->transitionDuration(), 750);
		QCOMPARE(call("SetTransitionDuration", R"({"transitionDurationMs": 99999})")
				 .value("transitionDurationMs"),
			 QJsonValue(kMaxTransitionMs));
		QCOMPARE(call("SetTransitionDuration", R"({"transitionDurationMs": -5})").value("transitionDurationMs"),
			 QJsonValue(0));
		QVERIFY(failsWith(call("SetTransitionDuration", R"({"transitionDurationMs": 10.5})"),
				  "must be an integer"));
		QVERIFY(failsWith(call("SetTransitionDuration", R"({"transitionDurationMs": "500"})"),
				  "must be an integer"));
		QVERIFY(failsWith(call("SetTransitionDuration", "{}"), "missing field 'transitionDurationMs'"));
		QCOMPARE(m->transitionDuration(), 0);
	}

	void sceneItemListErrors()
	{
		create("Empty");
		QJsonObject r = call("GetSceneItemList", R"({"sceneName": "Empty"})");
		QCOMPARE(errorOf(r), QString());
		QVERIFY(r.value("sceneItems").isArray());
		QCOMPARE(r.value("sceneItems").toArray().size(), 0);
		QVERIFY(failsWith(call("GetSceneItemList", R"({"sceneName": "Scene"})"),
				  "no vertical scene named 'Scene'"));
		QVERIFY(failsWith(call("GetSceneItemList", "{}"), "missing field"));
	}

	void canvasReadyOncePerCanvas()
	{
		flushEvents();
		QSignalSpy spy(rc, &RemoteControl::eventEmitted);
		m->resizeCanvas(720, 1280);
		QCOMPARE(eventsOfType(spy, "CanvasReady").size(), 0);

		// A new collection: the old canvas goes, a new one comes.
		fe.switchCollection(nullptr);
		QVERIFY(m->hasCanvas());
		QVector<EventRecord> ready = eventsOfType(spy, "CanvasReady");
		QCOMPARE(ready.size(), 1);
		QCOMPARE(ready[0].data.value("canvasUuid").toString(),
			 QString::fromUtf8(obs_canvas_get_uuid(m->canvas())));
		QCOMPARE(call("GetCanvas").value("canvasUuid").toString(),
			 ready[0].data.value("canvasUuid").toString());
		QVERIFY(!eventsOfType(spy, "SceneListChanged").isEmpty());
	}

	void crossThreadRequests()
	{
		QJsonObject r = callFromThread("CreateScene", R"({"sceneName": "Threaded"})");
		QCOMPARE(errorOf(r), QString());
		OBSSourceAutoRelease scene = m->findSceneByName("Threaded");
		QVERIFY(scene);
		QCOMPARE(r.value("sceneUuid").toString(), QString::fromUtf8(obs_source_get_uuid(scene)));

		r = callFromThread("GetCanvas", "{}");
		QCOMPARE(r.value("currentScene").toObject().value("sceneName").toString(), QString("Threaded"));
		QVERIFY(!r.contains("previewScene"));
		QVERIFY(failsWith(callFromThread("SetCurrentScene", R"({"sceneName": 4})"), "must be a string"));
		QVERIFY(failsWith(callFromThread("Nonsense", "{}"), "unknown request type"));
		QCOMPARE(rc->pendingCount(), size_t(0));

		// On the user-interface thread the callback runs the request at once.
		OBSDataAutoRelease request = obs_data_create_from_json(R"({"sceneName": "Direct"})");
		OBSDataAutoRelease response = obs_data_create();
		RemoteControl::vendorRequest(request, response, const_cast<char *>("CreateScene"));
		QCOMPARE(errorOf(parse(response)), QString());
		QVERIFY(m->sceneNameExists("Direct"));
	}

	void renderThreadRequestsAreRefusedAtOnce()
	{
		// obs-websocket's SerialFrame batches call in from the graphics thread, which must never wait.
		rc->setWaitTimeout(2000);
		struct Call {
			QByteArray answer;
		} call;
		QElapsedTimer timer;
		timer.start();
		obs_queue_task(
			OBS_TASK_GRAPHICS,
			[](void *param) {
				OBSDataAutoRelease request = obs_data_create_from_json(R"({"sceneName": "Rendered"})");
				OBSDataAutoRelease response = obs_data_create();
				RemoteControl::vendorRequest(request, response, const_cast<char *>("CreateScene"));
				static_cast<Call *>(param)->answer = obs_data_get_json(response);
			},
			&call, true);
		QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
		const QJsonObject r = QJsonDocument::fromJson(call.answer).object();
		QVERIFY2(failsWith(r, "SerialFrame"), qPrintable(errorOf(r)));
		ObsTestEnv::pump(100);
		QVERIFY(!m->sceneNameExists("Rendered"));
		QCOMPARE(rc->pendingCount(), size_t(0));
	}

	void crossThreadTimeoutDoesNotRunLate()
	{
		rc->setWaitTimeout(200);
		qint64 elapsed = 0;
		QJsonObject r = callFromThread("CreateScene", R"({"sceneName": "Late"})", false, &elapsed);
		QVERIFY2(failsWith(r, "did not run the request within 200 ms"), qPrintable(errorOf(r)));
		QVERIFY(elapsed < 3000);
		// The queued job runs now and must neither create the scene nor touch the freed response.
		ObsTestEnv::pump(200);
		QVERIFY(!m->sceneNameExists("Late"));
		QCOMPARE(rc->pendingCount(), size_t(0));
	}

	void stopAnswersWaitingRequestsAndRefusesNewOnes()
	{
		rc->setWaitTimeout(20000);
		std::atomic<bool> done{false};
		QByteArray answer;
		std::thread worker([&]() {
			OBSDataAutoRelease request = obs_data_create_from_json(R"({"sceneName": "Never"})");
			OBSDataAutoRelease response = obs_data_create();
			RemoteControl::vendorRequest(request, response, const_cast<char *>("CreateScene"));
			answer = obs_data_get_json(response);
			done.store(true);
		});
		// No event loop here: the request waits for the user-interface thread.
		QElapsedTimer timer;
		timer.start();
		while (rc->pendingCount() == 0 && timer.elapsed() < 5000)
			std::this_thread::sleep_for(std::chrono::milliseconds(5));
		QCOMPARE(rc->pendingCount(), size_t(1));
		rc->stop(false);
		timer.restart();
		while (!done.load() && timer.elapsed() < 5000)
			std::this_thread::sleep_for(std::chrono::milliseconds(5));
		worker.join();
		QVERIFY(timer.elapsed() < 2000);
		QVERIFY(failsWith(QJsonDocument::fromJson(answer).object(), "Stilwane is shutting down"));
		ObsTestEnv::pump(100);
		QVERIFY(!m->sceneNameExists("Never"));

		QVERIFY(rc->isStopped());
		QVERIFY(failsWith(call("GetCanvas"), "Stilwane is shutting down"));
		QVERIFY(failsWith(callFromThread("GetCanvas", "{}", false), "Stilwane is shutting down"));

		// The EXIT event stops it as well.
		rc->start();
		QCOMPARE(errorOf(call("GetCanvas")), QString());
		fe.raise(OBS_FRONTEND_EVENT_EXIT);
		QVERIFY(failsWith(call("GetSceneList"), "Stilwane is shutting down"));
	}

	void eventsWaitForTheEventLoop()
	{
		flushEvents();
		QSignalSpy spy(rc, &RemoteControl::eventEmitted);
		m->addScene("Queued");
		QCOMPARE(spy.count(), 0);
		QVector<EventRecord> all = events(spy);
		QCOMPARE(all.size(), 3);
		QCOMPARE(all[0].type, QString("SceneListChanged"));
		QCOMPARE(all[0].data, QJsonObject());
		QCOMPARE(all[1].type, QString("CurrentSceneChanged"));
		QCOMPARE(all[2].type, QString("CurrentProgramSceneChanged"));
	}

	void noEventsAfterStop()
	{
		flushEvents();
		QSignalSpy spy(rc, &RemoteControl::eventEmitted);
		m->addScene("Before");
		rc->stop(false);
		m->addScene("After");
		QCOMPARE(events(spy).size(), 0);
	}
};

STILWANE_TEST_MAIN(TestRemote)
#include "test_remote.moc"
