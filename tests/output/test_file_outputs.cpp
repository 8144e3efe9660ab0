// SPDX-License-Identifier: GPL-2.0-or-later
// The vertical recording and replay buffer against real libobs: file names, the container choice,
// real recordings with obs_x264, forced stops, replay saves and stale reports.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "OutputFixture.hpp"

#include <QThread>

#include <atomic>
#include <thread>

#include <TestMain.hpp>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

using namespace stilwane;

using namespace outputtest;

namespace {

void touch(const QString &path)
{
	QFile file(path);
	QVERIFY(file.open(QIODevice::WriteOnly));
}

// How many "ReplayBuffer.Save" hotkeys libobs holds (each replay buffer output registers one).
int replaySaveHotkeys()
{
	int count = 0;
	obs_enum_hotkeys(
		[](void *data, obs_hotkey_id, obs_hotkey_t *key) {
			*static_cast<int *>(data) += qstrcmp(obs_hotkey_get_name(key), "ReplayBuffer.Save") == 0;
			return true;
		},
		&count);
	return count;
}

} // namespace

class TestFileOutputs : public QObject {
	Q_OBJECT

	Fixture f;
	VerticalOutput *out = f.out;

	bool waitActive(VerticalOutput::FileState (VerticalOutput::*state)() const)
	{
		return ObsTestEnv::waitUntil([&] { return (out->*state)() == VerticalOutput::FileActive; }, 10000);
	}

	// The file name the replay buffer writes its next save under.
	QByteArray replayFormat()
	{
		OBSDataAutoRelease settings = obs_output_get_settings(out->replayOutput());
		return obs_data_get_string(settings, "format");
	}

	int64_t replayMaxSeconds()
	{
		OBSDataAutoRelease settings = obs_output_get_settings(out->replayOutput());
		return obs_data_get_int(settings, "max_time_sec");
	}

private slots:
	void initTestCase() { f.initTestCase(); }
	void cleanupTestCase() { f.cleanupTestCase(); }
	void init() { f.init(); }
	void cleanup()
	{
		f.cleanup();
		QVERIFY(noOutputObjects(out));
		QVERIFY(!out->isAnyOutputBusy());
	}

	void containerChoice()
	{
		auto pair = [](const VerticalOutput::FileContainer &c) {
			return c.extension + "/" + c.recordingType;
		};
		QCOMPARE(pair(VerticalOutput::containerFor("mp4", true)), QStringLiteral("mp4/mp4_output"));
		QCOMPARE(pair(VerticalOutput::containerFor("mp4", false)), QStringLiteral("mkv/ffmpeg_muxer"));
		QCOMPARE(pair(VerticalOutput::containerFor("mkv", true)), QStringLiteral("mkv/ffmpeg_muxer"));
		config().recordingFormat = "mp4"; // this libobs has OBS's native mp4 muxer
		QCOMPARE(VerticalOutput::recordingOutputType(), QStringLiteral("mp4_output"));
	}

	void fileNames()
	{
		const QString dir = f.dir.path() + "/names";
		QVERIFY(QDir().mkpath(dir));
		QCOMPARE(VerticalOutput::uniqueFilePath(dir, "clip", "mkv"), dir + "/clip.mkv");
		touch(dir + "/clip.mkv");
		touch(dir + "/clip (2).mkv");
		QCOMPARE(VerticalOutput::uniqueFilePath(dir, "clip", "mkv"), dir + "/clip (3).mkv");

		// The formats stand byte for byte around the expanded date; missing folders are made.
		const QString nested = f.dir.path() + "/a/b/c";
		const QRegularExpression recording(
			QStringLiteral("^Stilwane-縦 \\d{4}-\\d\\d-\\d\\d \\d\\d-\\d\\d-\\d\\d\\.mp4$"));
		const QRegularExpression replay(
			QStringLiteral("^Stilwane-縦 リプレイ \\d{4}-\\d\\d-\\d\\d \\d\\d-\\d\\d-\\d\\d\\.mkv$"));
		QString path = VerticalOutput::makeOutputFilePath("mp4", false, nullptr, nested);
		QCOMPARE(QFileInfo(path).absolutePath(), nested);
		QVERIFY2(recording.match(QFileInfo(path).fileName()).hasMatch(), qPrintable(path));
		path = VerticalOutput::makeOutputFilePath("mkv", true, nullptr, nested);
		QVERIFY2(replay.match(QFileInfo(path).fileName()).hasMatch(), qPrintable(path));

		// A recording never takes the name of a file that exists (retried when the second turns).
		bool numbered = false;
		for (int attempt = 0; attempt < 3 && !numbered; ++attempt) {
			const QString first = VerticalOutput::makeOutputFilePath("mp4", false, nullptr, dir);
			touch(first);
			const QString second = VerticalOutput::makeOutputFilePath("mp4", false, nullptr, dir);
			numbered = QFileInfo(second).completeBaseName() == QFileInfo(first).completeBaseName() + " (2)";
		}
		QVERIFY(numbered);

		// Directory: the configured one, else OBS's recording folder.
		config().recordingDirectory.clear();
		path = VerticalOutput::makeOutputFilePath("mkv", false);
		char *mainPath = obs_frontend_get_current_record_output_path();
		QCOMPARE(QFileInfo(path).absolutePath(), QFileInfo(QString::fromUtf8(mainPath)).absoluteFilePath());
		bfree(mainPath);

		// A folder that cannot be made: a file stands in its way.
		touch(f.dir.path() + "/blocker");
		config().recordingDirectory = (f.dir.path() + "/blocker/sub").toStdString();
		QString error;
		QVERIFY(!out->startRecording(&error));
		QCOMPARE(error, translate("Output.File.DirectoryError").arg(f.dir.path() + "/blocker/sub"));
		QVERIFY(noOutputObjects(out));
		QCOMPARE(out->recordingState(), VerticalOutput::FileIdle);
	}

	// A graceful stop of an mkv recording, and a forced one of an mp4 recording as OBS's exit and
	// collection switches make it: both files complete, the forced stop reported at once.
	void recordings()
	{
		for (const char *format : {"mkv", "mp4"}) {
			const bool force = QByteArray(format) == "mp4";
			config().recordingFormat = format;
			QSignalSpy states(out, &VerticalOutput::recordingStateChanged);
			QSignalSpy saved(out, &VerticalOutput::recordingSaved);
			QSignalSpy stopped(out, &VerticalOutput::recordingStopped);
			QString error;
			QVERIFY2(out->startRecording(&error), qPrintable(error));
			QVERIFY(out->startRecording()); // not Idle: nothing
			const QString planned = out->plannedRecordingPath();
			QCOMPARE(planned, f.mediaDir() + "/" + QFileInfo(planned).completeBaseName() + "." + format);
			QVERIFY(ObsTestEnv::logContains(
				QStringLiteral("[stilwane] vertical recording starting (%1, shared encoders)")
					.arg(force ? "mp4_output" : "ffmpeg_muxer")));

			QVERIFY(waitActive(&VerticalOutput::recordingState));
			ObsTestEnv::pump(1500);
			QVERIFY(out->recordingElapsedMs() >= 1000);
			const uint64_t oldGeneration = out->generation(VerticalOutput::KindRecording);
			out->stopRecording(force);
			if (!force)
				QVERIFY(stopped.wait(15000));

			QCOMPARE(saved.count(), 1);
			QCOMPARE(saved.at(0).at(0).toString(), planned);
			QCOMPARE(stopped.count(), 1);
			QCOMPARE(stopped.at(0).at(0).toInt(), 0);
			QCOMPARE(stopped.at(0).at(1).toString(), QString());
			QCOMPARE(out->lastRecordingPath(), planned);
			QList<int> seen;
			for (const auto &args : states)
				seen << args.at(0).toInt();
			QCOMPARE(seen, force ? (QList<int>{1, 2, 0}) : (QList<int>{1, 2, 3, 0}));
			QVERIFY(noOutputObjects(out));
			const double seconds = probedSeconds(planned);
			QVERIFY2(seconds < 0 || seconds > 0.8, qPrintable(QString::number(seconds)));

			// That output's reports, late, change nothing of the next recording.
			QVERIFY(out->startRecording());
			QVERIFY(waitActive(&VerticalOutput::recordingState));
			deliverStaleReports(out, VerticalOutput::KindRecording, oldGeneration,
					    {VerticalOutput::ReportStopping, VerticalOutput::ReportStop});
			QCOMPARE(stopped.count(), 1);
			QCOMPARE(out->recordingState(), VerticalOutput::FileActive);
			out->stopRecording(true);
		}
	}

	// libobs stops an output on its own (a full disk, a failing muxer) before our forced stop of a
	// collection switch or exit comes: that stop and the release must return, not wait forever.
	void forcedStopAfterLibobsStoppedReturns()
	{
		struct Kind {
			const char *what;
			bool (VerticalOutput::*start)(QString *);
			obs_output_t *(VerticalOutput::*handle)() const;
			void (VerticalOutput::*stop)(bool);
			VerticalOutput::FileState (VerticalOutput::*state)() const;
		};
		const Kind kinds[] = {
			{"recording", &VerticalOutput::startRecording, &VerticalOutput::recordingOutput,
			 &VerticalOutput::stopRecording, &VerticalOutput::recordingState},
			{"replay", &VerticalOutput::startReplayBuffer, &VerticalOutput::replayOutput,
			 &VerticalOutput::stopReplayBuffer, &VerticalOutput::replayState},
		};
		config().recordingFormat = "mkv";
		for (const Kind &kind : kinds) {
			QString error;
			QVERIFY2((out->*kind.start)(&error), qPrintable(error));
			QVERIFY(waitActive(kind.state));
			ObsTestEnv::pump(500);
			obs_output_t *output = (out->*kind.handle)();
			// libobs's own stop, without a turn of the event loop: the plug-in has not heard of it yet.
			obs_output_stop(output);
			for (int i = 0; i < 1000 && obs_output_active(output); i++)
				QThread::msleep(10);
			QVERIFY(!obs_output_active(output));

			std::atomic<bool> returned{false};
			std::thread watchdog([&returned, &kind] {
				for (int i = 0; i < 1000 && !returned.load(); i++)
					QThread::msleep(10);
				if (!returned.load())
					qFatal("the forced stop of the %s hangs", kind.what);
			});
			(out->*kind.stop)(true);
			returned = true;
			watchdog.join();
			QCOMPARE((out->*kind.state)(), VerticalOutput::FileIdle);
			ObsTestEnv::pump(200);
			QVERIFY(noOutputObjects(out));
		}
	}

	// A save asked for right before the buffer stops (a collection switch, OBS's exit): either the
	// replay is written and announced, or its loss is reported at once; never silence. The stop comes
	// either before libobs was handed the save or right after (the buffer then stops before it reaches
	// the save point, or while it writes).
	void replaySaveBeforeAStopIsNeverSilent_data()
	{
		QTest::addColumn<bool>("handedToLibobs");
		QTest::newRow("at once") << false;
		QTest::newRow("after libobs took it") << true;
	}

	void replaySaveBeforeAStopIsNeverSilent()
	{
		QFETCH(bool, handedToLibobs);
		config().recordingFormat = "mkv";
		for (int attempt = 0; attempt < 3; attempt++) {
			QSignalSpy saved(out, &VerticalOutput::replaySaved);
			QSignalSpy failed(out, &VerticalOutput::replaySaveFailed);
			QString error;
			QVERIFY2(out->startReplayBuffer(&error), qPrintable(error));
			QVERIFY(waitActive(&VerticalOutput::replayState));
			ObsTestEnv::pump(1000);
			const QByteArray plannedName = replayFormat();
			QVERIFY2(out->saveReplay(&error), qPrintable(error));
			// The packet thread names the file right before it hands the save over; no event loop
			// turns meanwhile, so the plug-in hears of nothing before the stop.
			for (int i = 0; handedToLibobs && i < 400 && replayFormat() == plannedName; i++)
				QThread::msleep(5);
			out->stopReplayBuffer(true);
			// Far within the 90 s the save watch allows a save to take.
			QVERIFY(ObsTestEnv::waitUntil([&] { return saved.count() + failed.count() > 0; }, 10000));
			ObsTestEnv::pump(300);
			QCOMPARE(saved.count() + failed.count(), 1);
			if (failed.count()) {
				QCOMPARE(failed.first().at(0).toString(), translate("Output.Replay.SaveStopped"));
				QVERIFY(ObsTestEnv::logContains("[stilwane] vertical replay save failed: "));
			} else {
				QVERIFY(QFileInfo(saved.first().at(0).toString()).size() > 0);
			}
			QVERIFY(noOutputObjects(out));
		}
	}

	// A hardware encoder that is there but does not open (no device, a driver too old): each start
	// falls back to x264, says so, and the next start tries the configured encoder again.
	void brokenVideoEncoderFallsBackForThatStart()
	{
		static bool registered = false;
		if (!registered) {
			obs_encoder_info info = {};
			info.id = "stilwane_test_broken_h264";
			info.type = OBS_ENCODER_VIDEO;
			info.codec = "h264";
			info.get_name = [](void *) {
				return "Broken H.264";
			};
			info.create = [](obs_data_t *, obs_encoder_t *) -> void * {
				return nullptr;
			};
			info.destroy = [](void *) {
			};
			info.encode = [](void *, encoder_frame *, encoder_packet *, bool *) {
				return false;
			};
			obs_register_encoder(&info);
			registered = true;
		}
		config().encoder = "stilwane_test_broken_h264";
		config().recordingFormat = "mkv";
		QSignalSpy fallback(out, &VerticalOutput::encoderFallback);
		for (int start = 1; start <= 2; start++) {
			QString error;
			QVERIFY2(out->startRecording(&error), qPrintable(error));
			QCOMPARE(fallback.count(), start);
			QCOMPARE(fallback.last().at(0).toString(), QString("stilwane_test_broken_h264"));
			QCOMPARE(QString::fromUtf8(obs_encoder_get_id(out->videoEncoder())), QString("obs_x264"));
			QVERIFY(waitActive(&VerticalOutput::recordingState));
			out->stopRecording(true);
			QVERIFY(noOutputObjects(out));
		}
		QCOMPARE(ObsTestEnv::logLines()
				 .filter("vertical video encoder 'stilwane_test_broken_h264' could not start")
				 .size(),
			 1);
	}

	void replayBuffer()
	{
		config().recordingFormat = "mkv";
		config().replaySeconds = 500;
		QString error;
		QVERIFY2(out->startReplayBuffer(&error), qPrintable(error));
		QCOMPARE(replayMaxSeconds(), 180LL);
		out->stopReplayBuffer(true);

		config().replaySeconds = 0;
		QSignalSpy saved(out, &VerticalOutput::replaySaved);
		QSignalSpy stopped(out, &VerticalOutput::replayStopped);
		QVERIFY(out->startReplayBuffer());
		QCOMPARE(replayMaxSeconds(), 1LL);
		QVERIFY(ObsTestEnv::logContains(
			"[stilwane] vertical replay starting (replay_buffer, shared encoders)"));
		OBSDataAutoRelease settings = obs_output_get_settings(out->replayOutput());
		QCOMPARE(QString::fromUtf8(obs_data_get_string(settings, "directory")), f.mediaDir());
		QCOMPARE(QString::fromUtf8(obs_data_get_string(settings, "extension")), QStringLiteral("mkv"));
		QVERIFY(obs_data_get_bool(settings, "allow_spaces"));

		// libobs gives each replay buffer a save hotkey; ours has none left.
		QCOMPARE(replaySaveHotkeys(), 0);
		OBSOutputAutoRelease plain = obs_output_create("replay_buffer", "plain replay", nullptr, nullptr);
		QCOMPARE(replaySaveHotkeys(), 1);
		plain = nullptr;

		QCOMPARE(out->replayState(), VerticalOutput::FileStarting);
		QVERIFY(!out->saveReplay(&error));
		QCOMPARE(error, translate("Output.File.ReplayInactive"));

		QVERIFY(waitActive(&VerticalOutput::replayState));
		ObsTestEnv::pump(1500);

		// A replay whose name exists already gets " (2)" (retried when the second turns).
		bool numbered = false;
		for (int attempt = 0; attempt < 3 && !numbered; ++attempt) {
			const QString taken = VerticalOutput::makeOutputFilePath("mkv", true, nullptr, f.mediaDir());
			touch(taken);
			saved.clear();
			QVERIFY2(out->saveReplay(&error), qPrintable(error));
			QVERIFY(saved.wait(15000));
			const QString path = saved.at(0).at(0).toString();
			QVERIFY(QFileInfo(path).size() > 0);
			QCOMPARE(out->lastReplayPath(), path);
			numbered = QFileInfo(path).completeBaseName() == QFileInfo(taken).completeBaseName() + " (2)";
		}
		QVERIFY(numbered);

		out->stopReplayBuffer(false);
		QCOMPARE(out->replayState(), VerticalOutput::FileStopping);
		QVERIFY(stopped.wait(15000));
		QCOMPARE(stopped.at(0).at(0).toInt(), 0);
		QCOMPARE(out->replayState(), VerticalOutput::FileIdle);
		QVERIFY(noOutputObjects(out));
	}

	// The encoders stay while any of the three outputs is left, and go with the last.
	void encodersOutliveAllButTheLastOutput()
	{
		config().recordingFormat = "mkv";
		config().key = "key";
		config().server = "rtmp://127.0.0.1:1/live2"; // nothing listens on port 1: fails at once
		QVERIFY(out->startRecording());
		QVERIFY(out->startReplayBuffer());
		obs_encoder_t *video = out->videoEncoder();
		QCOMPARE(obs_output_get_video_encoder(out->replayOutput()), video);
		QCOMPARE(obs_output_get_audio_encoder(out->replayOutput(), 0), out->audioEncoder());
		QSignalSpy streamStopped(out, &VerticalOutput::stopped);
		QVERIFY(out->startStream());
		QCOMPARE(obs_output_get_video_encoder(out->streamOutput()), video);
		QVERIFY(streamStopped.wait(20000));
		QVERIFY(!out->streamOutput());
		out->stopRecording(true);
		QCOMPARE(out->videoEncoder(), video);
		QVERIFY(out->audioEncoder());
		out->stopReplayBuffer(true);
		QVERIFY(noOutputObjects(out));
	}
};

STILWANE_TEST_MAIN(TestFileOutputs)
#include "test_file_outputs.moc"
