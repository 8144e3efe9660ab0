// SPDX-License-Identifier: GPL-2.0-or-later
// Several stream destinations on one encoder pair, against real libobs: each destination's own output
// and service, the encoders kept until the last output is gone, failures that stay with their
// destination, and the aggregate state.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "OutputFixture.hpp"

#include <LoopbackServer.hpp>
#include <TestMain.hpp>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace stilwane;
using namespace outputtest;

namespace {

int loopbackServer(bool listening, std::string *url)
{
	return loopbackRtmpSocket(listening, url);
}

QString stateOf(VerticalOutput *out, const QString &name)
{
	for (const VerticalOutput::DestinationStatus &s : out->destinationStatuses())
		if (s.name == name)
			return VerticalOutput::streamStateName(s.state);
	return "missing";
}

} // namespace

class TestStreamDestinations : public QObject {
	Q_OBJECT

	Fixture f;
	VerticalOutput *out = f.out;
	std::vector<int> servers;

	// The first destination and the extras, each on a silent server unless named in `closed`.
	void configure(const QStringList &extras, const QStringList &closed = {})
	{
		std::string url;
		servers.push_back(loopbackServer(!closed.contains("first"), &url));
		config().server = url;
		config().key = "first-secret-1111";
		for (const QString &name : extras) {
			servers.push_back(loopbackServer(!closed.contains(name), &url));
			config().destinations.push_back(
				{name.toStdString(), url, ("secret-of-" + name).toStdString(), true});
		}
	}

	QString first() const { return firstDestinationName(config()); }

private slots:
	void initTestCase() { f.initTestCase(); }
	void cleanupTestCase() { f.cleanupTestCase(); }
	void init() { f.init(); }
	void cleanup()
	{
		f.cleanup();
		for (int fd : servers)
			close(fd);
		servers.clear();
		out->finishBackgroundStops();
		QVERIFY(noOutputObjects(out));
	}

	void oneEncodeManyOutputs()
	{
		configure({"Two", "Three"});
		QSignalSpy aggregate(out, &VerticalOutput::stateChanged);
		QSignalSpy each(out, &VerticalOutput::destinationStateChanged);
		QVERIFY(out->startStream());
		QCOMPARE(out->streamState(), VerticalOutput::StreamConnecting);
		// One aggregate change for three destinations going Connecting.
		QCOMPARE(aggregate.count(), 1);
		QCOMPARE(each.count(), 3);

		obs_output_t *a = out->destinationOutput(first());
		obs_output_t *b = out->destinationOutput("Two");
		obs_output_t *c = out->destinationOutput("Three");
		QVERIFY(a && b && c && a != b && b != c);
		for (obs_output_t *o : {a, b, c}) {
			QCOMPARE(obs_output_get_video_encoder(o), out->videoEncoder());
			QCOMPARE(obs_output_get_audio_encoder(o, 0), out->audioEncoder());
		}
		// The first keeps the YouTube service its encoders' settings come from; a YouTube server
		// elsewhere gets YouTube's service too, any other server a custom one.
		const auto serviceType = [this](const QString &name) {
			return QString::fromUtf8(obs_service_get_id(out->destinationService(name)));
		};
		QCOMPARE(serviceType(first()), QString("rtmp_common"));
		QCOMPARE(serviceType("Two"), QString("rtmp_custom"));
		QCOMPARE(QString::fromUtf8(obs_output_get_name(b)), QString("stilwane_output_2"));

		// Encoders go only with the last output.
		obs_encoder_t *video = out->videoEncoder();
		out->stopDestination(first(), true);
		QCOMPARE(stateOf(out, first()), QString("Idle"));
		QCOMPARE(out->videoEncoder(), video);
		QCOMPARE(out->streamState(), VerticalOutput::StreamConnecting);
		out->stopDestination("Three", true);
		QCOMPARE(out->videoEncoder(), video);
		out->stopDestination("Two", true);
		QCOMPARE(out->streamState(), VerticalOutput::StreamIdle);
		QVERIFY(!out->videoEncoder());
		QVERIFY(!out->audioEncoder());
	}

	void serviceChoice_data()
	{
		QTest::addColumn<bool>("first");
		QTest::addColumn<QString>("server");
		QTest::addColumn<QString>("type");
		QTest::addColumn<QString>("service");
		QTest::newRow("first, YouTube")
			<< true << QString(kDefaultServer) << "rtmp_common" << "YouTube - RTMPS";
		// The first's service decides the encoders' settings: it stays YouTube's whatever its server.
		QTest::newRow("first, elsewhere")
			<< true << "rtmp://127.0.0.1/live" << "rtmp_common" << "YouTube - RTMPS";
		QTest::newRow("YouTube backup") << false << "rtmp://b.rtmp.youtube.com/live2?backup=1" << "rtmp_common"
						<< "YouTube - RTMPS";
		QTest::newRow("Kick") << false << "rtmps://x.global-contribute.live-video.net:443/app/" << "rtmp_custom"
				      << "";
		QTest::newRow("lookalike") << false << "rtmp://youtube.com.example/live" << "rtmp_custom" << "";
	}

	void serviceChoice()
	{
		QFETCH(bool, first);
		QFETCH(QString, server);
		config().server = server.toStdString();
		config().key = "k";
		Destination d{"D", server, "k", true, first};
		const char *type = nullptr;
		OBSDataAutoRelease settings = VerticalOutput::destinationServiceSettings(d, &type);
		QTEST(QString::fromUtf8(type), "type");
		QTEST(QString::fromUtf8(obs_data_get_string(settings, "service")), "service");
		QCOMPARE(QString::fromUtf8(obs_data_get_string(settings, "server")), server);
		QCOMPARE(QString::fromUtf8(obs_data_get_string(settings, "key")), QString("k"));
	}

	void recordingKeepsTheEncodersAfterEveryStream()
	{
		configure({"Two"});
		QVERIFY(out->startStream());
		QVERIFY(out->startRecording());
		obs_encoder_t *video = out->videoEncoder();
		out->stopStream(true);
		QCOMPARE(out->videoEncoder(), video);
		// A destination starting now joins the recording's encoders.
		QVERIFY(out->startDestination("Two"));
		QCOMPARE(obs_output_get_video_encoder(out->destinationOutput("Two")), video);
		out->stopRecording(true);
		QCOMPARE(out->videoEncoder(), video);
		out->stopDestination("Two", true);
		QVERIFY(!out->videoEncoder());
	}

	void aFailingDestinationFailsAlone()
	{
		configure({"Dead", "Alive"}, {"Dead"});
		config().destinations.push_back({"Keyless", "rtmp://127.0.0.1:1/live", "", true});
		QSignalSpy stopped(out, &VerticalOutput::stopped);
		QSignalSpy others(out, &VerticalOutput::destinationStopped);
		QSignalSpy refused(out, &VerticalOutput::destinationStartFailed);

		const Result started = out->startStream();
		// The keyless one could not start; its failure is named, the others started.
		QVERIFY(!started);
		QCOMPARE(started.englishText(),
			 QStringLiteral("Keyless: %1").arg(Result::translated(0, "Output.NoKey").englishText()));
		QCOMPARE(refused.count(), 1);
		QCOMPARE(refused.at(0).at(0).toString(), QString("Keyless"));

		// The closed port ends its destination; the others go on connecting.
		QVERIFY(others.wait(20000));
		QCOMPARE(others.at(0).at(0).toString(), QString("Dead"));
		QVERIFY(others.at(0).at(1).toInt() != OBS_OUTPUT_SUCCESS);
		QCOMPARE(stopped.count(), 0);
		QCOMPARE(stateOf(out, "Dead"), QString("Idle"));
		QCOMPARE(stateOf(out, "Alive"), QString("Connecting"));
		QCOMPARE(stateOf(out, first()), QString("Connecting"));
		QCOMPARE(out->streamState(), VerticalOutput::StreamConnecting);
		QVERIFY(ObsTestEnv::logContains("[stilwane] vertical stream to 'Dead' stopped unexpectedly"));

		const auto statuses = out->destinationStatuses();
		QCOMPARE(statuses.size(), 4);
		QVERIFY(!statuses[1].error.ok());
		QVERIFY(statuses[2].error.ok());
		QCOMPARE(statuses[3].error.englishText(), Result::translated(0, "Output.NoKey").englishText());
		QVERIFY(out->lastStreamFailure().ok());

		// Its own restart clears only its error.
		QVERIFY(out->startDestination("Dead"));
		QVERIFY(out->destinationStatuses()[1].error.ok());
		QCOMPARE(out->startDestination("Nobody").code(), int(Result::ResourceNotFound));
		for (const QString &line : ObsTestEnv::logLines())
			QVERIFY2(!line.contains("secret"), qPrintable(line));
	}

	void keysOfEveryDestinationMasked()
	{
		configure({"Two"}, {"first", "Two"});
		QVERIFY(out->startStream());
		config().destinations[0].key = "replaced-key";
		const QString text = "a first-secret-1111 b secret-of-Two c replaced-key";
		QCOMPARE(out->withoutStreamKey(text), QString("a ******** b ******** c ********"));
	}

	void firstWithoutKeyAndRemovedWhileStreaming()
	{
		configure({"Two"});
		config().key = "";
		QVERIFY(out->hasStreamKey());
		QCOMPARE(out->enabledDestinationCount(), 1);
		QVERIFY(out->startStream());
		QVERIFY(!out->destinationOutput(first()));
		// The lead is the next destination with an output.
		QCOMPARE(out->streamOutput(), out->destinationOutput("Two"));
		// Taken off the list while it streams: still stoppable by its name, and gone once stopped.
		config().destinations.clear();
		QVERIFY(!out->hasStreamKey());
		QVERIFY(out->stopDestination("Two", true));
		QCOMPARE(out->streamState(), VerticalOutput::StreamIdle);
		QCOMPARE(out->startStream().code(), int(Result::RequestProcessingFailed));
	}
};

STILWANE_TEST_MAIN(TestStreamDestinations)
#include "test_stream_destinations.moc"
