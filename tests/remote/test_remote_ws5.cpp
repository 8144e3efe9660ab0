// SPDX-License-Identifier: GPL-2.0-or-later
// obs-websocket 5's request names, fields and events on the vendor: each alias does what its older
// name does (a table, each row run both ways on a fresh module), the answers carry obs-websocket's
// shapes, and the events come beside the older ones. Against the real canvas manager and output object
// with the module loaded into the test front end; the end-to-end controller records for real.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <canvas/CanvasManager.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Result.hpp>
#include <output/VerticalOutput.hpp>
#include <plugin/Plugin.hpp>
#include <remote/RemoteControl.hpp>

#include "RemoteTestCalls.hpp"

#include <ObsTestEnv.hpp>
#include <PluginFixture.hpp>
#include <TestFrontend.hpp>
#include <TestMain.hpp>

#include <obs.hpp>

using namespace stilwane;

using namespace remote_test;

namespace {

// What a row needs before its request: studio mode with "B" in the preview, the fade already over.
enum class Setup { None, StudioWithPreviewB };

// A value inside a response by a path "a/b"; "names" reads the scene names of a scene list.
QString valueAt(const QJsonObject &response, const QString &path)
{
	if (path == "names")
		return sceneNames(response).join(",");
	QJsonValue value = response;
	for (const QString &key : path.split('/'))
		value = value.toObject().value(key);
	return value.isDouble() ? QString::number(value.toDouble()) : value.toVariant().toString();
}

} // namespace

Q_DECLARE_METATYPE(Setup)

class TestRemoteWs5 : public QObject {
	Q_OBJECT

	PluginFixture base;
	TestFrontend &fe = base.fe;
	CanvasManager *m = CanvasManager::instance();
	bool loaded = false;

	void load()
	{
		base.freshConfig();
		QVERIFY(Plugin::load());
		loaded = true;
		Plugin::postLoad();
		fe.startupLoad(nullptr);
		QVERIFY(m->hasCanvas());
		for (const char *name : {"A", "B", "C"})
			QCOMPARE(errorOf(call("CreateScene", QByteArray(R"({"sceneName": ")") + name + "\"}")),
				 QString());
	}

	void unload()
	{
		fe.setStudioMode(false);
		if (loaded)
			Plugin::unload();
		loaded = false;
		fe.reset();
	}

	void prepare(Setup setup)
	{
		if (setup != Setup::StudioWithPreviewB)
			return;
		fe.setStudioMode(true);
		QVERIFY(m->studioMode());
		QVERIFY(ObsTestEnv::waitUntil(
			[&]() { return !obs_transition_is_active(m->activeTransitionSource()); }));
		QCOMPARE(errorOf(call("SetPreviewScene", R"({"sceneName": "B"})")), QString());
	}

	QString uuidOf(const char *sceneName) const
	{
		OBSSourceAutoRelease scene = m->findSceneByName(sceneName);
		return QString::fromUtf8(obs_source_get_uuid(scene));
	}

private slots:
	void initTestCase() { base.initTestCase(); }
	void cleanupTestCase() { base.cleanupTestCase(); }
	void init() { load(); }
	void cleanup() { unload(); }

	void aliasActsAsOlderName_data()
	{
		QTest::addColumn<QByteArray>("alias");
		QTest::addColumn<QByteArray>("aliasJson");
		QTest::addColumn<QByteArray>("older");
		QTest::addColumn<QByteArray>("olderJson");
		QTest::addColumn<Setup>("setup");
		QTest::addColumn<QByteArray>("probe");
		QTest::addColumn<QString>("path");
		QTest::addColumn<QString>("expected");

		const auto row = [](const char *alias, const char *aliasJson, const char *older, const char *olderJson,
				    const char *probe, const char *path, const char *expected,
				    Setup setup = Setup::None) {
			// The row's name is the alias, with words after it for a second row of the same alias.
			QTest::newRow(alias) << QByteArray(alias).split(' ').first() << QByteArray(aliasJson)
					     << QByteArray(older) << QByteArray(olderJson) << setup << QByteArray(probe)
					     << QString(path) << QString(expected);
		};
		row("SetCurrentProgramScene", R"({"sceneName": "B"})", "SetCurrentScene", R"({"sceneName": "B"})",
		    "GetCanvas", "currentScene/sceneName", "B");
		row("SetCurrentPreviewScene", R"({"sceneName": "C"})", "SetPreviewScene", R"({"sceneName": "C"})",
		    "GetCanvas", "previewScene/sceneName", "C", Setup::StudioWithPreviewB);
		row("TriggerStudioModeTransition", "{}", "TransitionToProgram", "{}", "GetCanvas",
		    "currentScene/sceneName", "B", Setup::StudioWithPreviewB);
		row("SetSceneName", R"({"sceneName": "A", "newSceneName": "Z"})", "RenameScene",
		    R"({"sceneName": "A", "newSceneName": "Z"})", "GetSceneList", "names", "Z,B,C");
		row("SetCurrentSceneTransition by name", R"({"transitionName": "Cut"})", "SetCurrentTransition",
		    R"({"transitionUuid": "stilwane.cut"})", "GetTransitionList", "currentTransitionUuid",
		    "stilwane.cut");
		row("SetCurrentSceneTransition by uuid",
		    R"({"transitionUuid": "stilwane.cut", "transitionName": "Fade"})", "SetCurrentTransition",
		    R"({"transitionUuid": "stilwane.cut"})", "GetTransitionList", "currentTransitionUuid",
		    "stilwane.cut");
		row("SetCurrentSceneTransitionDuration", R"({"transitionDuration": 750})", "SetTransitionDuration",
		    R"({"transitionDurationMs": 750})", "GetTransitionList", "transitionDurationMs", "750");
		row("GetSceneTransitionList", "{}", "GetTransitionList", "{}", "GetSceneTransitionList",
		    "currentSceneTransitionUuid", "stilwane.fade");
	}

	// Each row on a fresh module twice: once by the alias, once by the older name.
	void aliasActsAsOlderName()
	{
		QFETCH(QByteArray, alias);
		QFETCH(QByteArray, aliasJson);
		QFETCH(QByteArray, older);
		QFETCH(QByteArray, olderJson);
		QFETCH(Setup, setup);
		QFETCH(QByteArray, probe);
		QFETCH(QString, path);
		QFETCH(QString, expected);

		QStringList seen;
		for (const auto &[type, json] : {std::pair{alias, aliasJson}, std::pair{older, olderJson}}) {
			if (!loaded)
				load();
			prepare(setup);
			const QJsonObject r = callFromThread(type.constData(), json);
			QVERIFY2(r.value("success").toBool(), qPrintable(r.value("error").toString()));
			seen << valueAt(call(probe.constData()), path);
			unload();
		}
		QCOMPARE(seen, QStringList({expected, expected}));
	}

	// The answers obs-websocket 5 gives for its scene and transition reads.
	void readsInObsWebSocketShape()
	{
		QCOMPARE(errorOf(call("SetCurrentScene", R"({"sceneName": "B"})")), QString());
		const QString b = uuidOf("B");
		QCOMPARE(call("GetCurrentProgramScene"), QJsonObject({{"success", true},
								      {"sceneName", "B"},
								      {"sceneUuid", b},
								      {"currentProgramSceneName", "B"},
								      {"currentProgramSceneUuid", b}}));
		QJsonObject list = call("GetSceneList");
		QCOMPARE(list.value("currentProgramSceneUuid").toString(), b);
		QVERIFY(!list.contains("currentPreviewSceneUuid"));
		QCOMPARE(list.value("scenes").toArray().at(1).toObject().value("sceneIndex"), QJsonValue(1));

		QCOMPARE(errorOf(call("SetCurrentSceneTransition", R"({"transitionName": "Cut"})")), QString());
		QJsonObject transitions = call("GetSceneTransitionList");
		QCOMPARE(transitions.value("currentSceneTransitionName").toString(), QString("Cut"));
		QCOMPARE(transitions.value("currentSceneTransitionKind").toString(), QString("cut_transition"));
		for (const QJsonValue &entry : transitions.value("transitions").toArray()) {
			const QJsonObject t = entry.toObject();
			QCOMPARE(t.value("transitionFixed").toBool(), t.value("transitionName") == QJsonValue("Cut"));
		}
		// A fixed transition has no duration of its own.
		QJsonObject current = call("GetCurrentSceneTransition");
		QCOMPARE(current.value("transitionUuid").toString(), QString(kCutUuid));
		QCOMPARE(current.value("transitionFixed").toBool(), true);
		QVERIFY(!current.contains("transitionDuration"));
		QCOMPARE(errorOf(call("SetCurrentSceneTransition", R"({"transitionName": "Fade"})")), QString());
		QCOMPARE(call("GetCurrentSceneTransition").value("transitionDuration"), QJsonValue(300));
		// A scene's own transition reads back as obs-websocket names it; none reads as no fields.
		QCOMPARE(call("GetSceneSceneTransitionOverride", R"({"sceneName": "A"})"),
			 QJsonObject({{"success", true}}));
		QCOMPARE(errorOf(call("SetSceneSceneTransitionOverride",
				      R"({"sceneName": "A", "transitionName": "Cut", "transitionDuration": 40})")),
			 QString());
		QCOMPARE(call("GetSceneSceneTransitionOverride", R"({"sceneName": "A"})"),
			 QJsonObject({{"success", true},
				      {"transitionName", "Cut"},
				      {"transitionUuid", kCutUuid},
				      {"transitionDuration", 40}}));
		// The older field clamps, obs-websocket's refuses: both answer with what applies.
		QCOMPARE(
			call("SetTransitionDuration", R"({"transitionDurationMs": 25000})").value("transitionDuration"),
			QJsonValue(20000));
	}

	void sceneItemsCarryTransform()
	{
		OBSSourceAutoRelease scene = m->findSceneByName("A");
		OBSSourceAutoRelease colour = makeColorSource("Cam", 640, 360);
		OBSSourceAutoRelease other = makeColorSource("Logo", 100, 50);
		obs_sceneitem_t *item = obs_scene_add(obs_scene_from_source(scene), colour);
		obs_sceneitem_t *top = obs_scene_add(obs_scene_from_source(scene), other);
		const vec2 pos = {40.0f, 300.0f}, scale = {1.5f, 2.0f};
		obs_sceneitem_set_pos(item, &pos);
		obs_sceneitem_set_scale(item, &scale);
		obs_sceneitem_crop crop = {10, 20, 30, 40};
		obs_sceneitem_set_crop(item, &crop);
		obs_sceneitem_set_visible(top, false);
		obs_sceneitem_set_locked(top, true);

		const QJsonArray items =
			call("GetSceneItemList", R"({"sceneName": "A"})").value("sceneItems").toArray();
		QCOMPARE(items.size(), 2);
		const QJsonObject first = items[0].toObject(), second = items[1].toObject();
		QCOMPARE(first.value("sceneItemIndex"), QJsonValue(0));
		QCOMPARE(second.value("sceneItemIndex"), QJsonValue(1));
		QCOMPARE(first.value("sceneItemEnabled"), QJsonValue(true));
		QCOMPARE(second.value("sceneItemEnabled"), QJsonValue(false));
		QCOMPARE(second.value("sceneItemLocked"), QJsonValue(true));
		QCOMPARE(first.value("inputKind").toString(), QString("color_source_v3"));
		QCOMPARE(first.value("sourceType").toString(), QString("OBS_SOURCE_TYPE_INPUT"));
		// The older flat fields stay.
		QCOMPARE(second.value("visible"), QJsonValue(false));
		QCOMPARE(first.value("scale").toDouble(), 1.5);

		const QJsonObject transform = first.value("sceneItemTransform").toObject();
		const QJsonObject expected = {{"positionX", 40},     {"positionY", 300},
					      {"scaleX", 1.5},       {"scaleY", 2},
					      {"rotation", 0},       {"sourceWidth", 640},
					      {"sourceHeight", 360}, {"width", 960},
					      {"height", 720},       {"cropLeft", 10},
					      {"cropTop", 20},       {"cropRight", 30},
					      {"cropBottom", 40},    {"boundsType", "OBS_BOUNDS_NONE"}};
		for (auto it = expected.begin(); it != expected.end(); ++it)
			QVERIFY2(transform.value(it.key()) == it.value(), qPrintable(it.key()));

		const QJsonObject read =
			call("GetSceneItemTransform", QString(R"({"sceneName": "A", "sceneItemId": %1})")
							      .arg(first.value("sceneItemId").toInt())
							      .toUtf8());
		QCOMPARE(read.value("sceneItemTransform").toObject(), transform);
	}

	// Idle outputs as obs-websocket reports its own; a toggle that cannot start changes nothing.
	void outputStatusAndToggles()
	{
		QCOMPARE(call("GetStreamStatus"), QJsonObject({{"success", true},
							       {"outputActive", false},
							       {"outputReconnecting", false},
							       {"outputTimecode", "00:00:00.000"},
							       {"outputDuration", 0},
							       {"outputCongestion", 0},
							       {"outputBytes", 0},
							       {"outputSkippedFrames", 0},
							       {"outputTotalFrames", 0}}));
		QCOMPARE(call("GetRecordStatus"), QJsonObject({{"success", true},
							       {"outputActive", false},
							       {"outputPaused", false},
							       {"outputTimecode", "00:00:00.000"},
							       {"outputDuration", 0},
							       {"outputBytes", 0}}));
		QCOMPARE(call("GetReplayBufferStatus"), QJsonObject({{"success", true}, {"outputActive", false}}));

		// No key: refused as StartStream is, with its code.
		QJsonObject r = call("ToggleStream");
		QCOMPARE(r.value("errorCode"), QJsonValue(int(Result::RequestProcessingFailed)));
		QCOMPARE(r.value("error"), call("StartStream").value("error"));
		QCOMPARE(VerticalOutput::instance()->streamState(), VerticalOutput::StreamIdle);
		// A folder that cannot be made: the recording and the buffer refuse to start.
		config().recordingDirectory = "/dev/null/nowhere";
		for (const char *type : {"ToggleRecord", "ToggleReplayBuffer"}) {
			r = call(type);
			QVERIFY2(!r.value("success").toBool() && r.contains("errorCode"), type);
			QVERIFY(!r.contains("outputActive"));
		}
		QCOMPARE(VerticalOutput::instance()->recordingState(), VerticalOutput::FileIdle);
	}

	void eventsBesideOlderOnes()
	{
		flushEvents();
		QSignalSpy spy(RemoteControl::instance(), &RemoteControl::eventEmitted);
		QCOMPARE(errorOf(call("SetCurrentProgramScene", R"({"sceneName": "B"})")), QString());
		const QJsonObject b = {{"sceneName", "B"}, {"sceneUuid", uuidOf("B")}};
		QVector<EventRecord> program = eventsOfType(spy, "CurrentProgramSceneChanged");
		QCOMPARE(program.size(), 1);
		QCOMPARE(program[0].data, b);
		QCOMPARE(eventsOfType(spy, "CurrentSceneChanged")[0].data, b);

		spy.clear();
		fe.setStudioMode(true);
		QVector<EventRecord> studio = eventsOfType(spy, "StudioModeStateChanged");
		QCOMPARE(studio.size(), 1);
		QCOMPARE(studio[0].data, QJsonObject({{"studioModeEnabled", true}}));
		QCOMPARE(eventsOfType(spy, "CurrentPreviewSceneChanged").size(),
			 eventsOfType(spy, "PreviewSceneChanged").size());

		spy.clear();
		QCOMPARE(errorOf(call("SetCurrentSceneTransition", R"({"transitionName": "Cut"})")), QString());
		QCOMPARE(errorOf(call("SetCurrentSceneTransitionDuration", R"({"transitionDuration": 900})")),
			 QString());
		// The same length again is no change.
		QCOMPARE(errorOf(call("SetCurrentSceneTransitionDuration", R"({"transitionDuration": 900})")),
			 QString());
		QVector<EventRecord> transition = eventsOfType(spy, "CurrentSceneTransitionChanged");
		QCOMPARE(transition.size(), 1);
		QCOMPARE(transition[0].data, QJsonObject({{"transitionName", "Cut"}, {"transitionUuid", kCutUuid}}));
		QVector<EventRecord> duration = eventsOfType(spy, "CurrentSceneTransitionDurationChanged");
		QCOMPARE(duration.size(), 1);
		QCOMPARE(duration[0].data, QJsonObject({{"transitionDuration", 900}}));
	}
};

STILWANE_TEST_MAIN(TestRemoteWs5)
#include "test_remote_ws5.moc"
