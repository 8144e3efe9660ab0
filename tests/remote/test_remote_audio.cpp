// SPDX-License-Identifier: GPL-2.0-or-later
// The obs-websocket vendor requests and the event of the vertical audio, with the module loaded into the test
// front end over real libobs sources: the listed fields, the refusals and their codes, the changes acting on
// a separated source's mirror, the track split and the audio mix without any question, and the coalesced
// AudioChanged event.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <audio/VerticalVolumeManager.hpp>
#include <canvas/CanvasManager.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>
#include <common/Result.hpp>
#include <output/VerticalOutput.hpp>
#include <plugin/Plugin.hpp>
#include <remote/RemoteControl.hpp>

#include "../audio/AudioTestInput.hpp"
#include "RemoteTestCalls.hpp"

#include <ModalAnswers.hpp>
#include <ObsTestEnv.hpp>
#include <PluginFixture.hpp>
#include <TestFrontend.hpp>
#include <TestMain.hpp>

#include <QElapsedTimer>

#include <cmath>

#include <obs.hpp>
#include <util/config-file.h>

using namespace stilwane;
using namespace remote_test;

namespace {

void addTo(obs_source_t *scene, obs_source_t *source)
{
	obs_scene_add(obs_scene_from_source(scene), source);
}

QString statusText(int status)
{
	const char *keys[] = {"Audio.SeparateHint",       "Audio.SeparateNeedsSplit",
			      "Audio.HorizontalUnknown",  "Audio.SeparateProfileChanging",
			      "Audio.SeparateLimit",      "Audio.SeparateUnsupported",
			      "Audio.SeparateUnavailable"};
	return translateEnglish(keys[status]);
}

} // namespace

class TestRemoteAudio : public QObject {
	Q_OBJECT

	PluginFixture base;
	TestFrontend &fe = base.fe;
	CanvasManager *m = CanvasManager::instance();
	docktest::ModalAnswers answers;
	bool loaded = false;
	OBSSource mic, music, desk;

	QString uuid(obs_source_t *source) const { return QString::fromUtf8(obs_source_get_uuid(source)); }

	// OBS's main stream and recording on track 1.
	void mainOutputsOnTrackOne()
	{
		config_set_string(fe.profileConfig(), "Output", "Mode", "Advanced");
		config_set_int(fe.profileConfig(), "AdvOut", "TrackIndex", 1);
		config_set_int(fe.profileConfig(), "AdvOut", "RecTracks", 1);
	}

	QJsonObject entry(const QJsonObject &list, const QString &name) const
	{
		for (const QJsonValue &source : list.value("sources").toArray()) {
			if (source.toObject().value("sourceName").toString() == name)
				return source.toObject();
		}
		return QJsonObject();
	}

private slots:
	void initTestCase()
	{
		base.initTestCase();
		answers.install();
	}

	void cleanupTestCase()
	{
		docktest::ModalAnswers::uninstall();
		base.cleanupTestCase();
	}

	void init()
	{
		base.freshConfig();
		answers.clear();
		QVERIFY(Plugin::load());
		loaded = true;
		Plugin::postLoad();
		fe.startupLoad(nullptr);
		QVERIFY(m->hasCanvas());
		QCOMPARE(errorOf(call("CreateScene", R"({"sceneName": "V"})")), QString());
		OBSSourceAutoRelease vertical = m->findSceneByName("V");
		obs_source_t *mainScene = fe.programScene();
		QVERIFY(vertical && mainScene);

		mic = OBSSourceAutoRelease(audiotest::createInput("Mic", 0x1)).Get();
		music = OBSSourceAutoRelease(audiotest::createInput("Music", 0x2)).Get();
		desk = OBSSourceAutoRelease(audiotest::createInput("Desk", 0x1)).Get();
		addTo(vertical, mic);
		addTo(mainScene, mic);
		addTo(vertical, music);
		addTo(mainScene, desk);
		ObsTestEnv::clearLog();
	}

	void cleanup()
	{
		VerticalOutput::setBusyOverrideForTests(std::nullopt);
		for (OBSSource *source : {&mic, &music, &desk}) {
			obs_source_remove(*source);
			*source = nullptr;
		}
		if (loaded)
			Plugin::unload();
		loaded = false;
		fe.reset();
	}

	void listsTheVerticalAudioSources()
	{
		obs_source_set_muted(music, true);
		obs_source_set_volume(music, 0.0f);
		const QJsonObject r = call("GetAudioSources");
		QCOMPARE(errorOf(r), QString());
		const QJsonArray sources = r.value("sources").toArray();
		QCOMPARE(sources.size(), 2);
		// The main tracks are not known here (no output mode in the profile): no separate volume.
		QCOMPARE(sources[0].toObject(), QJsonObject({{"sourceUuid", uuid(mic)},
							     {"sourceName", "Mic"},
							     {"shared", true},
							     {"onVertical", true},
							     {"separate", false},
							     {"inputVolumeDb", 0.0},
							     {"inputVolumeMul", 1.0},
							     {"inputMuted", false},
							     {"separateStatus", 2},
							     {"separateStatusText", statusText(2)}}));
		// Silence has no dB value in JSON: obs-websocket's floor stands for it.
		QCOMPARE(sources[1].toObject(), QJsonObject({{"sourceUuid", uuid(music)},
							     {"sourceName", "Music"},
							     {"shared", false},
							     {"onVertical", false},
							     {"separate", false},
							     {"inputVolumeDb", -100.0},
							     {"inputVolumeMul", 0.0},
							     {"inputMuted", true},
							     {"separateStatus", 2},
							     {"separateStatusText", statusText(2)}}));
		QCOMPARE(r.value("audioTrack").toInt(), 1);
		QCOMPARE(r.value("mixAudio").toBool(), false);

		mainOutputsOnTrackOne();
		QCOMPARE(entry(call("GetAudioSources"), "Mic").value("separateStatus").toInt(), 1);
		QCOMPARE(entry(call("GetAudioSources"), "Mic").value("separateStatusText").toString(), statusText(1));
	}

	void refusals_data()
	{
		QTest::addColumn<QByteArray>("type");
		QTest::addColumn<QByteArray>("json");
		QTest::addColumn<int>("code");
		QTest::addColumn<QString>("text");
		auto row = [](const char *name, const char *type, const char *json, int code, const QString &text) {
			QTest::newRow(name) << QByteArray(type) << QByteArray(json) << code << text;
		};
		row("no source", "SetSourceVertical", R"({"onVertical": true})", Result::MissingRequestField,
		    "missing field 'sourceUuid' or 'sourceName'");
		row("unknown name", "SetSourceVertical", R"({"sourceName": "Nope", "onVertical": true})",
		    Result::ResourceNotFound, "no audio source of the vertical scenes named 'Nope'");
		row("main only", "SetSourceVertical", R"({"sourceName": "Desk", "onVertical": true})",
		    Result::ResourceNotFound, "named 'Desk'");
		row("unknown uuid", "SetSourceSeparate", R"({"sourceUuid": "0000", "separate": true})",
		    Result::ResourceNotFound, "with the uuid '0000'");
		row("uuid not a string", "SetSourceVertical", R"({"sourceUuid": 5, "onVertical": true})",
		    Result::InvalidRequestFieldType, "field 'sourceUuid' must be a string");
		row("no flag", "SetSourceVertical", R"({"sourceUuid": "%MIC"})", Result::MissingRequestField,
		    "missing field 'onVertical'");
		row("flag not a boolean", "SetSourceVertical", R"({"sourceName": "Mic", "onVertical": 1})",
		    Result::InvalidRequestFieldType, "field 'onVertical' must be a boolean");
		row("no separate flag", "SetSourceSeparate", R"({"sourceName": "Mic"})", Result::MissingRequestField,
		    "missing field 'separate'");
		row("vertical only", "SetSourceSeparate", R"({"sourceName": "Music", "separate": true})",
		    Result::RequestProcessingFailed, "'Music' is only in vertical scenes");
		row("tracks unknown", "SetSourceSeparate", R"({"sourceName": "Mic", "separate": true})",
		    Result::RequestProcessingFailed, statusText(2));
		row("nothing to set", "SetSourceVerticalVolume", R"({"sourceName": "Mic"})",
		    Result::MissingRequestField, "missing field 'inputVolumeDb', 'inputVolumeMul' or 'inputMuted'");
		row("both volumes", "SetSourceVerticalVolume",
		    R"({"sourceName": "Mic", "inputVolumeDb": -6, "inputVolumeMul": 0.5})", Result::InvalidRequestField,
		    "not both");
		row("dB too high", "SetSourceVerticalVolume", R"({"sourceName": "Mic", "inputVolumeDb": 27})",
		    Result::RequestFieldOutOfRange, "between -100 and 26");
		row("negative multiplier", "SetSourceVerticalVolume", R"({"sourceName": "Mic", "inputVolumeMul": -1})",
		    Result::RequestFieldOutOfRange, "between 0 and 20");
		row("dB not a number", "SetSourceVerticalVolume", R"({"sourceName": "Mic", "inputVolumeDb": "-6"})",
		    Result::InvalidRequestFieldType, "field 'inputVolumeDb' must be a number");
		row("mute not a boolean", "SetSourceVerticalVolume",
		    R"({"sourceName": "Mic", "inputVolumeMul": 0.5, "inputMuted": "yes"})",
		    Result::InvalidRequestFieldType, "field 'inputMuted' must be a boolean");
		row("split without a free track", "SplitAudioTrack", "{}", Result::RequestProcessingFailed,
		    "no track is free");
	}

	// A refused request changes nothing and asks nothing.
	void refusals()
	{
		QFETCH(QByteArray, type);
		QFETCH(QByteArray, json);
		QFETCH(int, code);
		QFETCH(QString, text);
		json.replace("%MIC", uuid(mic).toUtf8());
		const QJsonObject r = call(type.constData(), json);
		QCOMPARE(r.value("success").toBool(), false);
		QCOMPARE(r.value("code").toInt(), code);
		QVERIFY2(r.value("error").toString().contains(text), qPrintable(r.value("error").toString()));
		QCOMPARE(obs_source_get_audio_mixers(mic), uint32_t(0x1));
		QCOMPARE(obs_source_get_volume(mic), 1.0f);
		QVERIFY(!obs_source_muted(mic));
		QVERIFY(!VerticalVolumeManager::instance()->hasMirror(mic));
		QCOMPARE(config().audioTrack, 1);
		QVERIFY(answers.confirmations.isEmpty());
		QVERIFY(answers.messages.isEmpty());
	}

	void verticalFlagVolumeAndMute()
	{
		QJsonObject r = call("SetSourceVertical", R"({"sourceName": "Music", "onVertical": true})");
		QCOMPARE(errorOf(r), QString());
		QCOMPARE(r.value("onVertical").toBool(), true);
		QCOMPARE(obs_source_get_audio_mixers(music), uint32_t(0x3));
		QVERIFY(ObsTestEnv::logContains("[stilwane] vertical audio: 'Music' track 1 on"));

		r = call("SetSourceVerticalVolume", R"({"sourceName": "Mic", "inputVolumeDb": -6})");
		QCOMPARE(errorOf(r), QString());
		QVERIFY(std::fabs(obs_source_get_volume(mic) - obs_db_to_mul(-6.0f)) < 1e-6);
		QVERIFY(std::fabs(r.value("inputVolumeDb").toDouble() + 6.0) < 1e-4);

		r = call("SetSourceVerticalVolume",
			 R"({"sourceName": "Mic", "inputVolumeMul": 0.25, "inputMuted": true})");
		QCOMPARE(errorOf(r), QString());
		QCOMPARE(obs_source_get_volume(mic), 0.25f);
		QVERIFY(obs_source_muted(mic));
		QCOMPARE(r.value("inputMuted").toBool(), true);

		r = call("SetSourceVerticalVolume",
			 R"({"sourceName": "Mic", "inputVolumeDb": -100, "inputMuted": false})");
		QCOMPARE(errorOf(r), QString());
		QCOMPARE(obs_source_get_volume(mic), 0.0f);
		QVERIFY(!obs_source_muted(mic));
	}

	// obs-websocket 5's input requests reach the same volume and mute, the input named as obs-websocket
	// names it.
	void obsWebSocketInputRequests()
	{
		QJsonObject r = call("SetInputVolume", R"({"inputName": "Mic", "inputVolumeDb": -6})");
		QCOMPARE(errorOf(r), QString());
		QVERIFY(std::fabs(obs_source_get_volume(mic) - obs_db_to_mul(-6.0f)) < 1e-6);
		const QByteArray byUuid =
			QString(R"({"inputUuid": "%1"})").arg(QString::fromUtf8(obs_source_get_uuid(mic))).toUtf8();
		r = call("GetInputVolume", byUuid);
		QVERIFY(std::fabs(r.value("inputVolumeDb").toDouble() + 6.0) < 1e-4);
		QVERIFY(std::fabs(r.value("inputVolumeMul").toDouble() - obs_db_to_mul(-6.0f)) < 1e-6);

		QCOMPARE(call("SetInputMute", R"({"inputName": "Mic", "inputMuted": true})"),
			 QJsonObject({{"success", true}}));
		QVERIFY(obs_source_muted(mic));
		QCOMPARE(call("GetInputMute", byUuid), QJsonObject({{"success", true}, {"inputMuted", true}}));
		QCOMPARE(call("ToggleInputMute", R"({"inputName": "Mic"})"),
			 QJsonObject({{"success", true}, {"inputMuted", false}}));
		QVERIFY(!obs_source_muted(mic));
		QCOMPARE(call("SetInputMute", R"({"inputName": "Mic"})").value("errorCode"),
			 QJsonValue(int(Result::MissingRequestField)));
		// A source outside the vertical scenes is not the vertical mix's to change.
		QCOMPARE(call("ToggleInputMute", R"({"inputName": "Desk"})").value("errorCode"),
			 QJsonValue(int(Result::ResourceNotFound)));
		QVERIFY(!obs_source_muted(desk));
	}

	// With the main stream on track 1 and the vertical outputs on track 2 a shared source can have a volume
	// of its own: then every change lands on its mirror and the source keeps its main-mix settings.
	void separatedSourceChangesItsMirror()
	{
		mainOutputsOnTrackOne();
		config().audioTrack = 2;
		obs_source_set_audio_mixers(mic, 0x3);
		QJsonObject r = call("SetSourceSeparate", R"({"sourceName": "Mic", "separate": true})");
		QCOMPARE(errorOf(r), QString());
		QCOMPARE(r.value("separate").toBool(), true);
		OBSSourceAutoRelease mirror = VerticalVolumeManager::instance()->mirrorOf(mic);
		QVERIFY(mirror);

		QCOMPARE(errorOf(call("SetSourceVerticalVolume",
				      R"({"sourceName": "Mic", "inputVolumeMul": 0.5, "inputMuted": true})")),
			 QString());
		QCOMPARE(obs_source_get_volume(mirror), 0.5f);
		QVERIFY(obs_source_muted(mirror));
		QCOMPARE(obs_source_get_volume(mic), 1.0f);
		QVERIFY(!obs_source_muted(mic));

		r = call("SetSourceVertical", R"({"sourceName": "Mic", "onVertical": false})");
		QCOMPARE(errorOf(r), QString());
		QCOMPARE(obs_source_get_audio_mixers(mirror) & 0x2, uint32_t(0));
		QCOMPARE(obs_source_get_audio_mixers(mic), uint32_t(0x1));
		QCOMPARE(entry(call("GetAudioSources"), "Mic").value("inputVolumeMul").toDouble(), 0.5);

		r = call("SetSourceSeparate", R"({"sourceName": "Mic", "separate": false})");
		QCOMPARE(errorOf(r), QString());
		QCOMPARE(r.value("separate").toBool(), false);
		QVERIFY(!VerticalVolumeManager::instance()->hasMirror(mic));
	}

	// The remote control asks nothing: a busy output refuses, a free track splits at once.
	void splitAndMixWithoutQuestions()
	{
		mainOutputsOnTrackOne();
		VerticalOutput::setBusyOverrideForTests(true);
		for (const char *type : {"SplitAudioTrack", "EnableAudioMix"})
			QCOMPARE(call(type).value("code").toInt(), int(Result::OutputRunning));
		VerticalOutput::setBusyOverrideForTests(std::nullopt);

		flushEvents();
		QSignalSpy spy(RemoteControl::instance(), &RemoteControl::eventEmitted);
		QJsonObject r = call("SplitAudioTrack");
		QCOMPARE(errorOf(r), QString());
		QCOMPARE(r.value("audioTrack").toInt(), 2);
		QCOMPARE(config().audioTrack, 2);
		QCOMPARE(obs_source_get_audio_mixers(mic), uint32_t(0x3));
		QCOMPARE(obs_source_get_audio_mixers(desk), uint32_t(0x3));
		QVERIFY(ObsTestEnv::logContains("[stilwane] vertical audio track split: 1 -> 2, 2 sources"));
		r = call("SplitAudioTrack");
		QCOMPARE(r.value("code").toInt(), int(Result::RequestProcessingFailed));
		QVERIFY(errorOf(r).contains("already have a track of their own"));

		r = call("EnableAudioMix");
		QCOMPARE(errorOf(r), QString());
		QCOMPARE(r.value("mixAudio").toBool(), true);
		QVERIFY(config().mixAudio);
		QVERIFY(obs_canvas_get_flags(m->canvas()) & MIX_AUDIO);
		const QString canvas = QString::fromUtf8(obs_canvas_get_uuid(m->canvas()));
		QCOMPARE(errorOf(call("EnableAudioMix")), QString());
		QCOMPARE(QString::fromUtf8(obs_canvas_get_uuid(m->canvas())), canvas);
		QVERIFY(answers.confirmations.isEmpty());
		QVERIFY(answers.messages.isEmpty());

		ObsTestEnv::pump(300);
		const QVector<EventRecord> audio = eventsOfType(spy, "AudioChanged");
		QVERIFY(!audio.isEmpty());
		for (const EventRecord &event : audio)
			QCOMPARE(event.data, QJsonObject());
	}

	void audioChangedIsCoalesced()
	{
		ObsTestEnv::pump(200);
		flushEvents();
		QSignalSpy spy(RemoteControl::instance(), &RemoteControl::eventEmitted);
		// A burst on one source: one event naming it.
		for (int i = 0; i < 20; i++)
			call("SetSourceVerticalVolume", QByteArray(R"({"sourceName": "Mic", "inputVolumeMul": )") +
								QByteArray::number(0.05 * i) + "}");
		ObsTestEnv::pump(250);
		QVector<EventRecord> audio = eventsOfType(spy, "AudioChanged");
		QCOMPARE(audio.size(), 1);
		QCOMPARE(audio[0].data, QJsonObject({{"sourceUuid", uuid(mic)}}));

		// Two sources in one burst: one event for all.
		spy.clear();
		call("SetSourceVertical", R"({"sourceName": "Mic", "onVertical": false})");
		call("SetSourceVertical", R"({"sourceName": "Music", "onVertical": true})");
		ObsTestEnv::pump(250);
		audio = eventsOfType(spy, "AudioChanged");
		QCOMPARE(audio.size(), 1);
		QCOMPARE(audio[0].data, QJsonObject());

		// A steady stream of changes: never more than ten a second.
		spy.clear();
		QElapsedTimer clock;
		clock.start();
		for (int i = 0; i < 40; i++) {
			call("SetSourceVerticalVolume", R"({"sourceName": "Mic", "inputMuted": true})");
			ObsTestEnv::pump(15);
		}
		ObsTestEnv::pump(250);
		audio = eventsOfType(spy, "AudioChanged");
		QVERIFY2(audio.size() >= 2, qPrintable(QString::number(audio.size())));
		QVERIFY2(audio.size() <= clock.elapsed() / 100 + 1, qPrintable(QString::number(audio.size())));
	}
};

STILWANE_TEST_MAIN(TestRemoteAudio)
#include "test_remote_audio.moc"
