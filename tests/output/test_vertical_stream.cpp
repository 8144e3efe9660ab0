// SPDX-License-Identifier: GPL-2.0-or-later
// The vertical stream and the shared encoders against real libobs: refusals, the encoder choice and
// its settings, and streams to a port on which nothing listens.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "OutputFixture.hpp"

#include <LoopbackServer.hpp>
#include <TestMain.hpp>

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSet>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace stilwane;

using namespace outputtest;

namespace {

constexpr const char *kKey = "zq7-secret-key-4711";

// A loopback TCP socket on a free port, listening or not; the stream is pointed at its port.
int loopbackSocket(bool listening)
{
	std::string url;
	const int fd = loopbackRtmpSocket(listening, &url, "live2");
	config().server = url;
	config().key = kKey;
	return fd;
}

// Points the stream at a loopback port on which nothing listens: the connection fails at once.
void useClosedPort()
{
	close(loopbackSocket(false));
}

// A server that takes the TCP connection (the kernel completes it for the listen queue) and never
// answers the RTMP handshake; closing it resets the waiting connections. Returns the listening socket.
int useSilentServer()
{
	return loopbackSocket(true);
}

} // namespace

class TestVerticalStream : public QObject {
	Q_OBJECT

	Fixture f;
	VerticalOutput *out = f.out;

private slots:
	void initTestCase() { f.initTestCase(); }
	void cleanupTestCase() { f.cleanupTestCase(); }
	void init() { f.init(); }
	void cleanup()
	{
		f.cleanup();
		QVERIFY(noOutputObjects(out));
	}

	void refusalsCreateNothing()
	{
		QSignalSpy states(out, &VerticalOutput::stateChanged);
		QString error;
		for (const char *key : {"", "  \t "}) {
			config().key = key;
			QVERIFY(!out->startStream(&error));
			QCOMPARE(error, translate("Output.NoKey"));
			QVERIFY(noOutputObjects(out));
		}
		config().key = kKey;
		f.m->releaseCanvas();
		QVERIFY(!out->startStream(&error));
		QCOMPARE(error, translate("Output.NoCanvas"));
		QVERIFY(!out->ensureEncoders(&error));
		QCOMPARE(error, translate("Output.NoCanvas"));
		QVERIFY(noOutputObjects(out));
		QCOMPARE(states.count(), 0);
	}

	void encoderChoiceAndSettings()
	{
		const QString preferred = VerticalOutput::preferredEncoderId();
		QString otherH264; // "preset" means something else, or nothing, to other encoders
		for (const auto &entry : VerticalOutput::availableH264Encoders())
			if (entry.first != "obs_x264" && otherH264.isEmpty())
				otherH264 = entry.first;
		struct Row {
			QString configured, expected;
			int track, mixer;
		};
		QList<Row> rows = {{"", preferred, 0, 0},
				   {"no_such_encoder", preferred, 7, 0},
				   {"obs_x264", "obs_x264", 3, 2}};
		if (!otherH264.isEmpty())
			rows.append({otherH264, otherH264, 6, 5});

		for (const Row &row : rows) {
			config().encoder = row.configured.toStdString();
			config().audioTrack = row.track;
			config().videoBitrate = 60000; // over YouTube's limits: the service lowers both
			config().audioBitrate = 320;
			QString error;
			QVERIFY2(out->ensureEncoders(&error), qPrintable(error));
			obs_encoder_t *video = out->videoEncoder();
			obs_encoder_t *audio = out->audioEncoder();
			QCOMPARE(QString::fromUtf8(obs_encoder_get_id(video)), row.expected);
			QCOMPARE(obs_encoder_video(video), obs_canvas_get_video(f.m->canvas()));
			QCOMPARE(QString::fromUtf8(obs_encoder_get_id(audio)), QStringLiteral("ffmpeg_aac"));
			QCOMPARE(obs_encoder_get_mixer_index(audio), size_t(row.mixer));

			OBSDataAutoRelease vs = obs_encoder_get_settings(video);
			OBSDataAutoRelease as = obs_encoder_get_settings(audio);
			QCOMPARE(obs_data_get_int(vs, "bitrate"), 51000LL);
			QCOMPARE(obs_data_get_int(vs, "keyint_sec"), 2LL);
			QCOMPARE(QString::fromUtf8(obs_data_get_string(vs, "rate_control")), QStringLiteral("CBR"));
			QCOMPARE(QString::fromUtf8(obs_data_get_string(vs, "preset")),
				 row.expected == "obs_x264" ? QStringLiteral("veryfast") : QString());
			QCOMPARE(obs_data_get_int(as, "bitrate"), 160LL);

			QVERIFY(out->ensureEncoders());
			QCOMPARE(out->videoEncoder(), video);
			out->releaseIdleEncoders();
			QVERIFY(noOutputObjects(out));
		}
	}

	void failedConnectionEndsWithStopped()
	{
		useClosedPort();
		config().videoBitrate = 2500;
		QSignalSpy states(out, &VerticalOutput::stateChanged);
		QSignalSpy stopped(out, &VerticalOutput::stopped);
		QString error;
		QVERIFY2(out->startStream(&error), qPrintable(error));
		QCOMPARE(out->streamState(), VerticalOutput::StreamConnecting);
		QVERIFY(ObsTestEnv::logContains("[stilwane] vertical stream starting (shared encoder, 2500 kbps)"));
		obs_output_t *first = out->streamOutput();
		QVERIFY(out->startStream()); // not Idle: nothing happens
		QCOMPARE(out->streamOutput(), first);

		QVERIFY(stopped.wait(20000));
		QCOMPARE(stopped.count(), 1);
		const int code = stopped.at(0).at(0).toInt();
		QVERIFY(code != OBS_OUTPUT_SUCCESS);
		QCOMPARE(out->streamState(), VerticalOutput::StreamIdle);
		// Said in plain words, and kept until the next start.
		QCOMPARE(out->lastStreamError(), VerticalOutput::stopCodeText(code));
		QVERIFY(ObsTestEnv::logContains(
			QStringLiteral("[stilwane] vertical stream stopped unexpectedly (code %1): %2")
				.arg(QString::number(code), out->lastStreamError())));
		QVERIFY(noOutputObjects(out));
		QCOMPARE(states.first().at(0).toInt(), int(VerticalOutput::StreamConnecting));
		for (const QString &line : ObsTestEnv::logLines())
			QVERIFY2(!line.contains(kKey), qPrintable(line));

		// A new start forgets the last failure.
		QVERIFY(out->startStream());
		QVERIFY(out->lastStreamError().isEmpty());
		out->stopStream(true);
	}

	void forcedStopOfAStuckConnectionReturnsAtOnce()
	{
		// Both ways into a stuck connection: a forced stop right away, and one while a graceful stop
		// already waits for the attempt.
		for (const bool gracefulFirst : {false, true}) {
			const int server = useSilentServer();
			QVERIFY(out->startStream());
			ObsTestEnv::pump(500);
			QCOMPARE(out->streamState(), VerticalOutput::StreamConnecting);
			if (gracefulFirst)
				out->stopStream(false);
			QElapsedTimer timer;
			timer.start();
			out->stopStream(true);
			QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
			QCOMPARE(out->streamState(), VerticalOutput::StreamIdle);
			QVERIFY(!out->streamOutput());
			// The canvas stays alive for the encoders until the stop is done, which the server's going ends.
			QCOMPARE(out->backgroundStopCount(), size_t(1));
			close(server);
			QVERIFY(ObsTestEnv::waitUntil([this] { return out->backgroundStopCount() == 0; }, 15000));
			QVERIFY(noOutputObjects(out));
		}
	}

	void stopCodesInPlainWords()
	{
		QSet<QString> texts;
		for (int code : {OBS_OUTPUT_BAD_PATH, OBS_OUTPUT_CONNECT_FAILED, OBS_OUTPUT_INVALID_STREAM,
				 OBS_OUTPUT_ERROR, OBS_OUTPUT_DISCONNECTED, OBS_OUTPUT_UNSUPPORTED, OBS_OUTPUT_NO_SPACE,
				 OBS_OUTPUT_ENCODE_ERROR, OBS_OUTPUT_HDR_DISABLED}) {
			const QString text = VerticalOutput::stopCodeText(code);
			// Words, not a locale key nor a number.
			QVERIFY2(!text.startsWith("Output.") && !text.contains(QRegularExpression("\\d")),
				 qPrintable(text));
			texts << text;
		}
		QCOMPARE(texts.size(), 9);
		QVERIFY(VerticalOutput::stopCodeText(-42).contains("-42"));
		QVERIFY(VerticalOutput::stopCodeText(OBS_OUTPUT_INVALID_STREAM).contains("stream key"));
	}

	void keysChangedMidStreamStayMasked()
	{
		useClosedPort();
		const QString quoted = QStringLiteral("connect to rtmp://127.0.0.1/live2/%1 failed").arg(kKey);
		QVERIFY(out->startStream());
		// The user types a new key while the stream still tries the old one.
		config().key = "new-key-0815";
		QCOMPARE(out->withoutStreamKey(quoted), QString("connect to rtmp://127.0.0.1/live2/******** failed"));
		QCOMPARE(out->withoutStreamKey("new-key-0815"), QString("********"));
		// Once the output that used it is gone, the old key is no secret of the configuration any more.
		out->stopStream(true);
		QCOMPARE(out->withoutStreamKey(quoted), quoted);
	}

	void stopsWhileConnecting()
	{
		useClosedPort();
		QSignalSpy stopped(out, &VerticalOutput::stopped);

		// Graceful: Stopping until libobs's own stop report, which ends it once.
		QVERIFY(out->startStream());
		out->stopStream(false);
		QCOMPARE(out->streamState(), VerticalOutput::StreamStopping);
		QVERIFY(ObsTestEnv::waitUntil([&] { return out->streamState() == VerticalOutput::StreamIdle; }, 20000));
		ObsTestEnv::pump(200);
		QCOMPARE(stopped.count(), 1);
		QVERIFY(noOutputObjects(out));

		// Forced: Idle at once without `stopped`; the failed connection's report, and any report of
		// that output handed in later, do not touch the next stream.
		QVERIFY(out->startStream());
		const uint64_t oldGeneration = out->generation(VerticalOutput::KindStream);
		out->stopStream(true);
		QCOMPARE(out->streamState(), VerticalOutput::StreamIdle);
		QVERIFY(noOutputObjects(out));
		// Its own reports wait in the event queue until the checks below are done.
		QVERIFY(out->startStream());
		QSignalSpy states(out, &VerticalOutput::stateChanged);
		deliverStaleReports(out, VerticalOutput::KindStream, oldGeneration,
				    {VerticalOutput::ReportStop, VerticalOutput::ReportStart});
		QCOMPARE(states.count(), 0);
		QCOMPARE(out->streamState(), VerticalOutput::StreamConnecting);
		QVERIFY(stopped.wait(20000));
		QCOMPARE(stopped.count(), 2);
	}
};

STILWANE_TEST_MAIN(TestVerticalStream)
#include "test_vertical_stream.moc"
