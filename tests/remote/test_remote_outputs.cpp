// SPDX-License-Identifier: GPL-2.0-or-later
// The obs-websocket vendor requests and events of the vertical outputs, against the real output object
// with the module loaded into the test front end. Nothing here starts an output: the end-to-end test
// records for real.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <output/VerticalOutput.hpp>
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

#include <obs.hpp>
#include <util/text-lookup.h>

using namespace stilwane;

using namespace remote_test;

namespace {

constexpr const char *kKey = "abcd-efgh-ijkl-mnop-qrst";

QString json(const QJsonObject &object)
{
	return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

} // namespace

class TestRemoteOutputs : public QObject {
	Q_OBJECT

	PluginFixture base;
	QTemporaryDir &dir = base.dir;
	TestFrontend &fe = base.fe;
	VerticalOutput *out = VerticalOutput::instance();
	bool loaded = false;

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
	}

	void cleanup()
	{
		if (loaded)
			Plugin::unload();
		loaded = false;
		fe.reset();
	}

	void idleOutputsAndRefusals()
	{
		config().replaySeconds = 500;
		QJsonObject r = call("GetOutputStatus");
		QCOMPARE(errorOf(r), QString());
		QCOMPARE(r.value("stream").toObject(), QJsonObject({{"state", 0},
								    {"stateName", "Idle"},
								    {"lastError", ""},
								    {"elapsedMs", 0},
								    {"droppedFrames", 0},
								    {"totalFrames", 0},
								    {"bytes", 0},
								    {"kbps", 0}}));
		QCOMPARE(r.value("recording").toObject(),
			 QJsonObject({{"state", 0}, {"stateName", "Idle"}, {"elapsedMs", 0}, {"lastPath", ""}}));
		// The buffer length the replay output would get.
		QCOMPARE(r.value("replayBuffer").toObject(),
			 QJsonObject({{"state", 0}, {"stateName", "Idle"}, {"replaySeconds", 180}, {"lastPath", ""}}));

		// Stopping what does not run is nothing to do, not a failure.
		for (const char *type : {"StopStream", "StopRecord", "StopReplayBuffer"})
			QCOMPARE(call(type), QJsonObject({{"success", true}, {"state", 0}, {"stateName", "Idle"}}));
		QCOMPARE(errorOf(call("SaveReplayBuffer")),
			 translate("Output.Replay.SaveFailed").arg(translate("Output.File.ReplayInactive")));

		flushEvents();
		QSignalSpy spy(RemoteControl::instance(), &RemoteControl::eventEmitted);
		QCOMPARE(errorOf(call("StartStream")), translate("Output.StartFailed").arg(translate("Output.NoKey")));
		QVERIFY(!out->streamOutput());
		QCOMPARE(events(spy).size(), 0);
	}

	// The recording's events are followed end to end with a real recording; here the other two.
	void streamAndReplayEvents()
	{
		flushEvents();
		QSignalSpy spy(RemoteControl::instance(), &RemoteControl::eventEmitted);
		emit out->stateChanged(VerticalOutput::StreamLive);
		emit out->replayStateChanged(VerticalOutput::FileStopping);
		emit out->replaySaved("/videos/Stilwane-縦 リプレイ 2026-01-02 03-04-09.mp4");
		QVector<EventRecord> all = events(spy);
		QCOMPARE(all.size(), 3);
		QCOMPARE(all[0].type + json(all[0].data), "OutputStateChanged" + json({{"output", "stream"},
										       {"destination", "YouTube"},
										       {"state", 2},
										       {"stateName", "Live"}}));
		QCOMPARE(all[1].type + json(all[1].data),
			 "OutputStateChanged" +
				 json({{"output", "replayBuffer"}, {"state", 3}, {"stateName", "Stopping"}}));
		QCOMPARE(all[2].type + json(all[2].data),
			 "FileSaved" + json({{"output", "replayBuffer"},
					     {"path", "/videos/Stilwane-縦 リプレイ 2026-01-02 03-04-09.mp4"}}));
	}

	void streamKeyNeverLeaves()
	{
		config().key = kKey;
		// A folder that cannot be made, named with the key: the refusal quotes the folder.
		const QString folder = QString("/dev/null/%1").arg(kKey);
		config().recordingDirectory = folder.toStdString();
		flushEvents();
		QSignalSpy spy(RemoteControl::instance(), &RemoteControl::eventEmitted);

		QStringList texts;
		for (const char *type : {"StartRecord", "StartReplayBuffer", "GetOutputStatus"})
			texts << json(call(type));
		QVERIFY(texts[0].contains("/dev/null/********"));
		emit out->recordingSaved(folder + "/a.mp4");
		for (const EventRecord &event : events(spy))
			texts << event.type + json(event.data);
		QVERIFY(texts.last().contains("/dev/null/********/a.mp4"));
		for (const QString &text : texts)
			QVERIFY2(!text.contains(kKey), qPrintable(text));
	}
};

STILWANE_TEST_MAIN(TestRemoteOutputs)
#include "test_remote_outputs.moc"
