// SPDX-License-Identifier: GPL-2.0-or-later
// The output dock's destination rows and its status line with several destinations, as real widgets
// under Xvfb over the real output object. Streams go to loopback ports: a closed one fails at once, a
// listening one that never answers keeps its stream connecting until it closes. Moving bytes are
// stood in for through the rows' status source.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "../canvas/CanvasFixture.hpp"
#include <ModalAnswers.hpp>

#include <widgets/IconButton.hpp>
#include <docks/DestinationRows.hpp>
#include <docks/OutputDock.hpp>

#include <LoopbackServer.hpp>
#include <TestMain.hpp>

#include <QLabel>
#include <QVBoxLayout>

#include <memory>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <util/platform.h>

using namespace stilwane;

class TestDestinationRows : public QObject {
	Q_OBJECT

	canvastest::Fixture f;
	docktest::ModalAnswers answers;
	VerticalOutput *output = VerticalOutput::instance();
	std::unique_ptr<QWidget> window;
	OutputDock *dock = nullptr;
	DestinationRows *rows = nullptr;
	QHash<QString, int> servers; // the listening ones, by destination; the first's under ""

	// A loopback port's URL; a listening socket stays open until closeServer.
	std::string server(const QString &name, bool listening)
	{
		std::string url;
		const int fd = loopbackRtmpSocket(listening, &url, "live2");
		if (listening)
			servers.insert(name, fd);
		else
			close(fd);
		return url;
	}

	// Closing resets the connections waiting on it: their streams end.
	void closeServer(const QString &name) { close(servers.take(name)); }

	// The first destination ("127.0.0.1", after its host) with a key, and extras named as given.
	void configure(const QStringList &extras, bool listening)
	{
		config().server = server(QString(), listening);
		config().key = "first-key-1";
		for (const QString &name : extras)
			config().destinations.push_back(
				{name.toStdString(), server(name, listening), "key-" + name.toStdString(), true});
		dock->settingsOrCanvasChanged();
	}

	QString shown() const { return dock->statusLabel()->accessibleName(); }

	// Makes the lead stream Live, as libobs's "start" would, after its "starting".
	void reportLeadLive()
	{
		ObsTestEnv::pump(100);
		output->applyReport({VerticalOutput::KindStream, output->generation(VerticalOutput::KindStream),
				     VerticalOutput::ReportStart, os_gettime_ns(), 0, QString()});
	}

private slots:
	void initTestCase()
	{
		f.initTestCase();
		answers.install();
	}

	void cleanupTestCase()
	{
		docktest::ModalAnswers::uninstall();
		f.cleanupTestCase();
	}

	void init()
	{
		f.init();
		answers.clear();
		config().width = 270; // keeps x264 quick
		config().height = 480;
		f.freshCanvas();
		window = std::make_unique<QWidget>();
		auto *layout = new QVBoxLayout(window.get());
		dock = new OutputDock(window.get());
		rows = dock->destinationRows();
		layout->addWidget(dock);
		layout->addStretch(1);
		window->resize(700, 240);
		window->show();
		QVERIFY(QTest::qWaitForWindowExposed(window.get()));
		ObsTestEnv::clearLog();
	}

	void cleanup()
	{
		// First: a test's stand-in refers to its locals. Closed servers end the connection attempts, and
		// the streams with them: those said to be Live are still connecting, and must end as libobs
		// ends them before anything releases them.
		DestinationRows::setStatusSourceForTests(nullptr);
		for (const QString &name : servers.keys())
			closeServer(name);
		const bool ended = ObsTestEnv::waitUntil(
			[this] { return output->streamState() == VerticalOutput::StreamIdle; }, 15000);
		output->stopAll();
		const bool reaped = ObsTestEnv::waitUntil([this] { return output->backgroundStopCount() == 0; }, 15000);
		ObsTestEnv::pump(50);
		window.reset();
		f.cleanup();
		QVERIFY(ended && reaped);
	}

	void rowsOnlyWithSeveralDestinations()
	{
		QVERIFY(!rows->isVisibleTo(window.get()));
		config().destinations.push_back({"Backup", "rtmp://127.0.0.1:1/live", "k2", true});
		dock->settingsOrCanvasChanged();
		QVERIFY(rows->isVisibleTo(window.get()));
		QCOMPARE(rows->rowNames(), QStringList({"YouTube", "Backup"}));

		// However long a name, the rows elide it rather than widen the dock.
		const QString longName = QString("Relay ").repeated(60).trimmed();
		config().destinations[0].name = longName.toStdString();
		emit f.m->canvasChanged();
		window->resize(140, 240);
		QVERIFY(ObsTestEnv::waitUntil([&] { return rows->shownText(longName).contains(QChar(0x2026)); }));
		QVERIFY(window->width() <= 160 && dock->width() <= window->width());

		config().destinations.clear();
		dock->settingsOrCanvasChanged();
		QVERIFY(!rows->isVisibleTo(window.get()));
		QCOMPARE(rows->rowCount(), 0);
	}

	// Each state as the signals report it: its words, figures while there is an output, the button's
	// action, the refresh while anything runs; the bitrate from byte counts, an error whole in the tip.
	void rowsFollowTheSignals()
	{
		QList<VerticalOutput::DestinationStatus> list(2);
		list[0].name = "Main";
		list[1] = {"Backup", false, true, true, true, 0, 0, 3, 0, 1000000, 0, 0.0f, Result()};
		DestinationRows::setStatusSourceForTests([&list] { return list; });
		const QList<QPair<int, const char *>> states = {
			{VerticalOutput::StreamConnecting, "Output.Status.Connecting"},
			{VerticalOutput::StreamLive, "Output.Status.Live"},
			{VerticalOutput::StreamReconnecting, "Output.Status.Reconnecting"},
			{VerticalOutput::StreamStopping, "Output.Status.Stopping"},
			{VerticalOutput::StreamIdle, "Output.Status.Idle"}};
		const QString zero = translate("Output.Destination.Bitrate").arg(0) + " \u30FB " +
				     translate("Output.Destination.Dropped").arg(3);
		for (const auto &[state, key] : states) {
			list[1].state = state;
			emit output->destinationStateChanged("Backup", state);
			const bool idle = state == VerticalOutput::StreamIdle;
			QCOMPARE(rows->stateText("Backup"), translate(key));
			QCOMPARE(rows->stateText("Main"), translate("Output.Status.Idle"));
			QCOMPARE(rows->figuresText("Backup"), idle ? QString() : zero);
			QCOMPARE(
				rows->button("Backup")->toolTip(),
				translate(idle ? "Output.Destination.Start" : "Output.Destination.Stop").arg("Backup"));
			QCOMPARE(rows->button("Backup")->isEnabled(), state != VerticalOutput::StreamStopping);
			QCOMPARE(rows->refreshTimer()->isActive(), !idle);
		}

		// The first sample has nothing to compare with; 400 kbit in at least 200 ms is at most 2000 kb/s.
		list[1].state = VerticalOutput::StreamLive;
		rows->tick();
		QCOMPARE(rows->figuresText("Backup"), zero);
		ObsTestEnv::pump(200);
		list[1].totalBytes += 50000;
		rows->tick();
		const int kbps = rows->figuresText("Backup").section(' ', 0, 0).toInt();
		QVERIFY2(kbps > 0 && kbps <= 2000, qPrintable(rows->figuresText("Backup")));

		const QString error = "The server went away. " + QString("Far away. ").repeated(40).trimmed();
		list[1].state = VerticalOutput::StreamIdle;
		list[1].error = Result::plain(Result::RequestProcessingFailed, error);
		emit output->destinationStopped("Backup", 0, QString());
		QCOMPARE(rows->errorText("Backup"), error);
		QVERIFY(rows->toolTipText("Backup").contains(error));
		QVERIFY(rows->shownText("Backup").endsWith(QChar(0x2026)));
		QVERIFY(dock->messageText().isEmpty()); // a clean stop says nothing
	}

	void rowButtonActsOnItsDestinationAlone()
	{
		configure({"Backup", "Spare"}, true);
		const QString first = rows->rowNames().first();
		QTest::mouseClick(rows->button("Spare"), Qt::LeftButton);
		QVERIFY(output->destinationOutput("Spare") && !output->destinationOutput(first) &&
			!output->destinationOutput("Backup"));
		QCOMPARE(rows->stateText("Spare"), translate("Output.Status.Connecting"));
		QCOMPARE(shown(), "LIVE " + translate("Output.Status.Connecting") + " \u30FB " +
					  translate("Output.Destinations.Live").arg(0).arg(3));
		QTest::mouseClick(rows->button("Spare"), Qt::LeftButton);
		QCOMPARE(rows->stateText("Spare"), translate("Output.Status.Stopping"));
		closeServer("Spare");
		QVERIFY(ObsTestEnv::waitUntil([this] { return !output->destinationOutput("Spare"); }, 15000));
		QVERIFY(!output->destinationOutput(first) && !output->destinationOutput("Backup"));

		// The clock stays the lead's; the count is of the enabled destinations.
		QTest::mouseClick(rows->button("Backup"), Qt::LeftButton);
		reportLeadLive();
		const QString live = QStringLiteral("\u25CF LIVE 00:00:00 \u30FB ");
		QCOMPARE(shown(), live + translate("Output.Destinations.Live").arg(1).arg(3));
		QTest::mouseClick(rows->button(first), Qt::LeftButton);
		reportLeadLive();
		QCOMPARE(shown(), live + translate("Output.Destinations.Live").arg(2).arg(3));
		config().destinations[1].enabled = false;
		dock->settingsOrCanvasChanged();
		QCOMPARE(shown(), live + translate("Output.Destinations.Live").arg(2).arg(2));
		QVERIFY(answers.messages.isEmpty());
	}

	void failuresOfASecondDestination()
	{
		configure({"Backup", "Keyless"}, false);
		config().destinations[1].key.clear();
		QTest::mouseClick(rows->button("Keyless"), Qt::LeftButton);
		QTRY_COMPARE(answers.messages,
			     QStringList(translate("Output.StartFailed").arg(translate("Output.NoKey"))));
		QCOMPARE(rows->errorText("Keyless"), translate("Output.NoKey"));

		// A failed connection: which and why, until the next start; the log has it, keys never.
		QSignalSpy stopped(output, &VerticalOutput::destinationStopped);
		QTest::mouseClick(rows->button("Backup"), Qt::LeftButton);
		QVERIFY(stopped.wait(20000));
		const int code = stopped.last().at(1).toInt();
		const QString error = stopped.last().at(2).toString();
		QCOMPARE(dock->messageText(),
			 translate("Output.Destination.Stopped").arg("Backup", QString::number(code)) +
				 (error.isEmpty() ? QString() : "\n" + error));
		QVERIFY(dock->messageIsError() && !dock->messageTimer()->isActive());
		QCOMPARE(canvastest::countLog(
				 QStringLiteral("[stilwane] vertical stream to 'Backup' stopped: code %1").arg(code)),
			 1);
		QCOMPARE(rows->errorText("Backup"), VerticalOutput::stopCodeText(code));
		for (const QString &line : ObsTestEnv::logLines())
			QVERIFY2(!line.contains("key-Backup"), qPrintable(line));
		QTest::mouseClick(rows->button("Backup"), Qt::LeftButton);
		QVERIFY(dock->messageText().isEmpty() && rows->errorText("Backup").isEmpty());
	}
};

STILWANE_TEST_MAIN(TestDestinationRows)
#include "test_destination_rows.moc"
