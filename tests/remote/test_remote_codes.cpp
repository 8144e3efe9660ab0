// SPDX-License-Identifier: GPL-2.0-or-later
// The codes of the remote control's refusals: one of obs-websocket's request status numbers beside
// the English words, for every kind of refusal, against the real canvas manager and output object
// with the module loaded into the test front end.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <canvas/CanvasManager.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>
#include <common/Result.hpp>
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

// What a row changes before its request.
enum class Setup { None, NoCanvas, Stopped, StudioMode };

} // namespace

Q_DECLARE_METATYPE(Setup)

class TestRemoteCodes : public QObject {
	Q_OBJECT

	PluginFixture base;
	TestFrontend &fe = base.fe;
	CanvasManager *m = CanvasManager::instance();
	bool loaded = false;
	OBSSource cam;

	// %CAM stands for an input's uuid, %FADE for a vertical transition's.
	QByteArray expand(QByteArray json) const
	{
		OBSSourceAutoRelease fade = m->transitionByUuid(kFadeUuid);
		json.replace("%CAM", obs_source_get_uuid(cam));
		json.replace("%FADE", obs_source_get_uuid(fade));
		return json;
	}

private slots:
	void initTestCase() { base.initTestCase(); }
	void cleanupTestCase() { base.cleanupTestCase(); }

	void init()
	{
		base.freshConfig();
		QVERIFY(Plugin::load());
		loaded = true;
		Plugin::postLoad();
		fe.startupLoad(nullptr);
		QVERIFY(m->hasCanvas());
		for (const char *name : {"A", "B"})
			QCOMPARE(errorOf(call("CreateScene", QByteArray(R"({"sceneName": ")") + name + "\"}")),
				 QString());
		OBSDataAutoRelease settings = obs_data_create();
		cam = OBSSourceAutoRelease(obs_source_create("color_source_v3", "Cam", settings, nullptr)).Get();
	}

	void cleanup()
	{
		cam = nullptr;
		fe.setStudioMode(false);
		if (loaded)
			Plugin::unload();
		loaded = false;
		fe.reset();
	}

	void refusalCodes_data()
	{
		QTest::addColumn<QByteArray>("type");
		QTest::addColumn<QByteArray>("json");
		QTest::addColumn<Setup>("setup");
		QTest::addColumn<int>("code");
		QTest::addColumn<QString>("words");

		const auto row = [](const char *name, const char *type, const QByteArray &json, int code,
				    const char *words, Setup setup = Setup::None) {
			QTest::newRow(name) << QByteArray(type) << json << setup << code << QString(words);
		};
		// A request to generate the scene "X" that is right but for the fields given.
		const auto generating = [](const char *fields) {
			return R"({"mainSceneName": "Scene", "template": "Stacked", "sceneName": "X", )" +
			       QByteArray(fields) + "}";
		};

		// Before any handler.
		row("unknown type", "SwitchEverything", "{}", Result::UnknownRequestType, "unknown request type");
		row("no canvas", "GetSceneList", "{}", Result::NotReady, "canvas is not available", Setup::NoCanvas);
		row("stopped", "GetCanvas", "{}", Result::NotReady, "shutting down", Setup::Stopped);

		// Fields.
		row("missing", "CreateScene", "{}", Result::MissingRequestField, "missing field 'sceneName'");
		row("null", "CreateScene", R"({"sceneName": null})", Result::MissingRequestField, "missing field");
		row("number for a name", "CreateScene", R"({"sceneName": 5})", Result::InvalidRequestFieldType,
		    "'sceneName' must be a string");
		row("empty name", "CreateScene", R"({"sceneName": ""})", Result::RequestFieldEmpty,
		    "must not be empty");
		row("no scene named", "SetCurrentScene", "{}", Result::MissingRequestField,
		    "missing field 'sceneUuid' or 'sceneName'");
		row("uuid not a string", "RemoveScene", R"({"sceneUuid": 12})", Result::InvalidRequestFieldType,
		    "'sceneUuid' must be a string");
		row("fractional offset", "MoveScene", R"({"sceneName": "B", "offset": 1.5})",
		    Result::InvalidRequestFieldType, "must be an integer");
		row("missing offset", "MoveScene", R"({"sceneName": "B"})", Result::MissingRequestField,
		    "missing field 'offset'");
		row("offset out of the list", "MoveScene", R"({"sceneName": "A", "offset": -1})",
		    Result::RequestFieldOutOfRange, "out of the list");
		row("duration as text", "SetTransitionDuration", R"({"transitionDurationMs": "500"})",
		    Result::InvalidRequestFieldType, "must be an integer");
		row("unknown template", "GenerateScene",
		    R"({"mainSceneName": "Scene", "template": "Diagonal", "sceneName": "X"})",
		    Result::InvalidRequestField, "unknown template 'Diagonal'");
		row("link not a boolean", "GenerateScene", generating(R"("link": "yes")"),
		    Result::InvalidRequestFieldType, "'link' must be a boolean");
		row("extras not an array", "GenerateScene", generating(R"("extraSources": "Cam")"),
		    Result::InvalidRequestFieldType, "'extraSources' must be an array");
		row("three extras", "GenerateScene",
		    generating(R"("extraSources": [{"sourceUuid": "%CAM"}, {"sourceUuid": "%CAM"},
				{"sourceUuid": "%CAM"}])"),
		    Result::InvalidRequestField, "at most two");
		row("extra without uuid", "GenerateScene", generating(R"("extraSources": [{"name": "Cam"}])"),
		    Result::MissingRequestField, "extraSources[0]: missing field 'sourceUuid'");
		row("extra uuid empty", "GenerateScene", generating(R"("extraSources": [{"sourceUuid": ""}])"),
		    Result::RequestFieldEmpty, "extraSources[0]: field 'sourceUuid' must not be empty");
		row("extra a transition", "GenerateScene", generating(R"("extraSources": [{"sourceUuid": "%FADE"}])"),
		    Result::InvalidRequestField, "is neither an input nor a scene");

		// Resources.
		row("unknown scene", "SetCurrentScene", R"({"sceneName": "Nope"})", Result::ResourceNotFound,
		    "no vertical scene named 'Nope'");
		row("unknown scene uuid", "GetSceneItemList", R"({"sceneUuid": "nope"})", Result::ResourceNotFound,
		    "no vertical scene with the uuid 'nope'");
		row("unknown main scene", "GenerateScene",
		    R"({"mainSceneName": "Nope", "template": "Stacked", "sceneName": "X"})", Result::ResourceNotFound,
		    "no main scene named 'Nope'");
		row("unknown extra", "GenerateScene",
		    generating(R"("extraSources": [{"sourceUuid": "00000000-0000-0000-0000-000000000000"}])"),
		    Result::ResourceNotFound, "extraSources[0]: no source with the uuid");
		row("unknown transition", "SetCurrentTransition", R"({"transitionUuid": "nope"})",
		    Result::ResourceNotFound, "no vertical transition with the uuid 'nope'");
		row("name taken", "CreateScene", R"({"sceneName": "A"})", Result::ResourceAlreadyExists,
		    "a vertical scene named 'A' already exists");
		row("rename onto another", "RenameScene", R"({"sceneName": "A", "newSceneName": "B"})",
		    Result::ResourceAlreadyExists, "already exists");
		row("generate onto another", "GenerateScene",
		    R"({"mainSceneName": "Scene", "template": "Stacked", "sceneName": "B"})",
		    Result::ResourceAlreadyExists, "already exists");

		// Modes and outputs.
		row("preview without studio mode", "SetPreviewScene", R"({"sceneName": "A"})",
		    Result::StudioModeNotActive, "studio mode is off");
		row("transition without studio mode", "TransitionToProgram", "{}", Result::StudioModeNotActive,
		    "studio mode is off");
		row("save without buffer", "SaveReplayBuffer", "{}", Result::OutputNotRunning, "is not running");
		row("stream without key", "StartStream", "{}", Result::RequestProcessingFailed,
		    "could not start: No stream key is set");

		// What is accepted has neither code nor error.
		row("switched", "SetCurrentScene", R"({"sceneName": "B"})", Result::Success, "");
		row("preview in studio mode", "SetPreviewScene", R"({"sceneName": "B"})", Result::Success, "",
		    Setup::StudioMode);
		row("stopped stream", "StopStream", "{}", Result::Success, "");

		// Links and a scene's own transition.
		row("link missing", "SetSceneLink", R"({"sceneName": "A"})", Result::MissingRequestField,
		    "missing field 'link'");
		row("link not a string", "SetSceneLink", R"({"sceneName": "A", "link": true})",
		    Result::InvalidRequestFieldType, "'link' must be a string");
		row("link to no main scene", "SetSceneLink", R"({"sceneName": "A", "link": "nope"})",
		    Result::ResourceNotFound, "no main scene with the uuid 'nope'");
		row("link same-name", "SetSceneLink", R"({"sceneName": "A", "link": "same-name"})", Result::Success,
		    "");
		row("link cleared", "SetSceneLink", R"({"sceneName": "A", "link": ""})", Result::Success, "");
		row("override without fields", "SetSceneSceneTransitionOverride", R"({"sceneName": "A"})",
		    Result::MissingRequestField, "missing field 'transitionName'");
		row("override unknown name", "SetSceneSceneTransitionOverride",
		    R"({"sceneName": "A", "transitionName": "Swirl"})", Result::ResourceNotFound,
		    "no vertical transition named 'Swirl'");
		row("override name a number", "SetSceneSceneTransitionOverride",
		    R"({"sceneName": "A", "transitionName": 3})", Result::InvalidRequestFieldType, "a string or null");
		row("override duration too long", "SetSceneSceneTransitionOverride",
		    R"({"sceneName": "A", "transitionName": "Cut", "transitionDuration": 20001})",
		    Result::RequestFieldOutOfRange, "must be 0 to 20000 ms");
		row("override set", "SetSceneSceneTransitionOverride",
		    R"({"sceneName": "A", "transitionUuid": "stilwane.fade", "transitionDuration": 700})",
		    Result::Success, "");
		row("override cleared by null", "SetSceneSceneTransitionOverride",
		    R"({"sceneName": "A", "transitionName": null})", Result::Success, "");

		// obs-websocket 5's names refuse with the codes obs-websocket gives for the same faults.
		row("ws5 unknown program scene", "SetCurrentProgramScene", R"({"sceneName": "Nope"})",
		    Result::ResourceNotFound, "no vertical scene named 'Nope'");
		row("ws5 preview read without studio mode", "GetCurrentPreviewScene", "{}", Result::StudioModeNotActive,
		    "studio mode is off");
		row("ws5 preview set without studio mode", "SetCurrentPreviewScene", R"({"sceneName": "A"})",
		    Result::StudioModeNotActive, "studio mode is off");
		row("ws5 studio transition without studio mode", "TriggerStudioModeTransition", "{}",
		    Result::StudioModeNotActive, "studio mode is off");
		row("ws5 rename onto another", "SetSceneName", R"({"sceneName": "A", "newSceneName": "B"})",
		    Result::ResourceAlreadyExists, "already exists");
		row("ws5 transition unnamed", "SetCurrentSceneTransition", "{}", Result::MissingRequestField,
		    "missing field 'transitionUuid' or 'transitionName'");
		row("ws5 transition name a number", "SetCurrentSceneTransition", R"({"transitionName": 3})",
		    Result::InvalidRequestFieldType, "'transitionName' must be a string");
		row("ws5 unknown transition name", "SetCurrentSceneTransition", R"({"transitionName": "Swirl"})",
		    Result::ResourceNotFound, "no vertical transition named 'Swirl'");
		row("ws5 duration missing", "SetCurrentSceneTransitionDuration", "{}", Result::MissingRequestField,
		    "or 'transitionDuration'");
		row("ws5 duration as text", "SetCurrentSceneTransitionDuration", R"({"transitionDuration": "5"})",
		    Result::InvalidRequestFieldType, "must be an integer");
		row("ws5 duration too long", "SetCurrentSceneTransitionDuration", R"({"transitionDuration": 20001})",
		    Result::RequestFieldOutOfRange, "must be 0 to 20000 ms");
		row("ws5 item without id", "GetSceneItemTransform", R"({"sceneName": "A"})",
		    Result::MissingRequestField, "missing field 'sceneItemId'");
		row("ws5 unknown item", "GetSceneItemTransform", R"({"sceneName": "A", "sceneItemId": 77})",
		    Result::ResourceNotFound, "no scene item with the id 77");
		row("ws5 multiview projector", "OpenVideoMixProjector",
		    R"({"videoMixType": "OBS_WEBSOCKET_VIDEO_MIX_TYPE_MULTIVIEW"})", Result::InvalidRequestField,
		    "has only the projector OBS_WEBSOCKET_VIDEO_MIX_TYPE_PROGRAM");
		row("ws5 projector out of range", "OpenVideoMixProjector",
		    R"({"videoMixType": "OBS_WEBSOCKET_VIDEO_MIX_TYPE_PROGRAM", "monitorIndex": 99})",
		    Result::RequestFieldOutOfRange, "no monitor");
		row("ws5 toggle stream without key", "ToggleStream", "{}", Result::RequestProcessingFailed,
		    "could not start: No stream key is set");
		row("ws5 unknown input", "GetInputMute", R"({"inputName": "Nope"})", Result::ResourceNotFound,
		    "no audio source of the vertical scenes named 'Nope'");
		row("ws5 input unnamed", "SetInputVolume", R"({"inputVolumeDb": -6})", Result::MissingRequestField,
		    "missing field");
		row("ws5 program scene read", "GetCurrentProgramScene", "{}", Result::Success, "");
		row("ws5 stream status", "GetStreamStatus", "{}", Result::Success, "");
	}

	void refusalCodes()
	{
		QFETCH(QByteArray, type);
		QFETCH(QByteArray, json);
		QFETCH(Setup, setup);
		QFETCH(int, code);
		QFETCH(QString, words);
		switch (setup) {
		case Setup::NoCanvas:
			m->releaseCanvas();
			break;
		case Setup::Stopped:
			RemoteControl::instance()->stop(false);
			break;
		case Setup::StudioMode:
			fe.setStudioMode(true);
			QVERIFY(m->studioMode());
			break;
		case Setup::None:
			break;
		}

		// Directly and as obs-websocket calls, from a thread of its own: the same answer.
		const QJsonObject direct = call(type.constData(), expand(json));
		const QJsonObject threaded = callFromThread(type.constData(), expand(json));
		for (const QJsonObject &r : {direct, threaded}) {
			if (code == Result::Success) {
				QCOMPARE(errorOf(r), QString());
				QVERIFY2(!r.contains("code") && !r.contains("errorCode") && !r.contains("error"),
					 qPrintable(json));
				continue;
			}
			QCOMPARE(r.value("success"), QJsonValue(false));
			QVERIFY2(r.value("error").toString().contains(words), qPrintable(r.value("error").toString()));
			QCOMPARE(r.value("code"), QJsonValue(code));
			// obs-websocket 5's name for the same number.
			QCOMPARE(r.value("errorCode"), QJsonValue(code));
			QCOMPARE(r.keys(), QStringList({"code", "error", "errorCode", "success"}));
		}
		if (code != Result::Success)
			QVERIFY(ObsTestEnv::logContains(
				QString("remote request %1 refused (%2)").arg(QString::fromUtf8(type)).arg(code)));
	}

	// What the link and override requests store is what the canvas manager then reads.
	void linkAndOverrideAreStored()
	{
		OBSSourceAutoRelease a = m->findSceneByName("A");
		const QString mainUuid = QString::fromUtf8(obs_source_get_uuid(fe.programScene()));
		const QByteArray link = QByteArray("{\"sceneName\": \"A\", \"link\": \"") + mainUuid.toUtf8() + "\"}";
		QCOMPARE(errorOf(call("SetSceneLink", link)), QString());
		QCOMPARE(m->sceneLink(a), mainUuid);
		const QJsonObject set =
			call("SetSceneSceneTransitionOverride",
			     R"({"sceneName": "A", "transitionName": "Cut", "transitionDuration": 40})");
		QCOMPARE(errorOf(set), QString());
		QCOMPARE(m->sceneTransitionOverride(a), QString(kCutUuid));
		QCOMPARE(m->sceneTransitionDuration(a), 40);
		// The duration alone keeps the transition; null clears it.
		QCOMPARE(errorOf(call("SetSceneSceneTransitionOverride",
				      R"({"sceneName": "A", "transitionDuration": 90})")),
			 QString());
		QCOMPARE(m->sceneTransitionOverride(a), QString(kCutUuid));
		QCOMPARE(m->sceneTransitionDuration(a), 90);
		QCOMPARE(errorOf(call("SetSceneSceneTransitionOverride",
				      R"({"sceneName": "A", "transitionUuid": null})")),
			 QString());
		QCOMPARE(m->sceneTransitionOverride(a), QString());
	}

	// The outputs' refusals are English whatever the user's language, with the output's own code.
	void outputRefusalsInEnglish()
	{
		const QString german = base.dir.filePath("de.ini");
		QFile file(german);
		QVERIFY(file.open(QIODevice::WriteOnly));
		file.write("Output.Replay.SaveFailed=\"Das Replay wurde nicht gespeichert: %1\"\n"
			   "Output.File.ReplayInactive=\"der Replay-Puffer läuft nicht\"\n");
		file.close();
		lookup_t *english = localeTable();
		setEnglishLocaleTable(english);
		setLocaleTable(text_lookup_create(german.toUtf8().constData()));
		QCOMPARE(translate("Output.File.ReplayInactive"), QString("der Replay-Puffer läuft nicht"));
		const QJsonObject r = call("SaveReplayBuffer");
		text_lookup_destroy(localeTable());
		setLocaleTable(english);
		setEnglishLocaleTable(nullptr);

		QCOMPARE(r.value("error").toString(),
			 translate("Output.Replay.SaveFailed").arg(translate("Output.File.ReplayInactive")));
		QCOMPARE(r.value("code").toInt(), int(Result::OutputNotRunning));
	}
};

STILWANE_TEST_MAIN(TestRemoteCodes)
#include "test_remote_codes.moc"
