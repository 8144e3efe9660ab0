// SPDX-License-Identifier: GPL-2.0-or-later
// The output dock as a real widget under Xvfb over the real canvas manager and the real output
// object, whose reports are emitted as its signals; the clock and counters of a running output
// are stood in for. Covers the no-key notice, start failures, the priority of messages, the stream's
// statistics, the recording clock and the idle and replay texts of the status line.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "../canvas/CanvasFixture.hpp"
#include <ModalAnswers.hpp>

#include <widgets/IconButton.hpp>
#include <docks/OutputDock.hpp>

#include <TestMain.hpp>

#include <QFileInfo>
#include <QLabel>
#include <QVBoxLayout>

#include <memory>

using namespace stilwane;

class TestOutputDock : public QObject {
	Q_OBJECT

	canvastest::Fixture f;
	docktest::ModalAnswers answers;
	VerticalOutput *output = VerticalOutput::instance();
	std::unique_ptr<QWidget> window;
	OutputDock *dock = nullptr;
	OutputDock::OutputFigures figures;

	void makeDock()
	{
		window = std::make_unique<QWidget>();
		auto *layout = new QVBoxLayout(window.get());
		dock = new OutputDock(window.get());
		layout->addWidget(dock);
		layout->addStretch(1);
		window->resize(900, 120);
		window->show();
		QVERIFY(QTest::qWaitForWindowExposed(window.get()));
	}

	QString shown() const { return dock->statusLabel()->accessibleName(); }

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
		figures = {};
		OutputDock::setFiguresSourceForTests([this] { return figures; });
		f.freshCanvas();
		makeDock();
		ObsTestEnv::clearLog();
	}

	void cleanup()
	{
		window.reset();
		dock = nullptr;
		OutputDock::setFiguresSourceForTests(nullptr);
		f.cleanup();
	}

	void noKeyNoticeLastsUntilAKeyIsSaved()
	{
		QTest::mouseClick(dock->streamButton(), Qt::LeftButton);
		QCOMPARE(dock->messageText(), translate("Output.NoKeyNotice"));
		QVERIFY(dock->messageIsError());
		QVERIFY(dock->messageIsNoKey());
		QVERIFY(dock->messageTimer()->isActive());
		QCOMPARE(dock->messageTimer()->interval(), 12000);
		QCOMPARE(shown(), translate("Output.NoKeyNotice"));
		QVERIFY(dock->statusLabel()->toolTip().contains(translate("Output.NoKeyHint")));
		QCOMPARE(canvastest::countLog("[stilwane] vertical stream not started: no stream key"), 1);
		QVERIFY(answers.messages.isEmpty());

		// Still no key: the notice stays.
		emit f.m->canvasChanged();
		QCOMPARE(dock->messageText(), translate("Output.NoKeyNotice"));

		config().key = "abcd-efgh";
		saveConfig();
		dock->settingsOrCanvasChanged();
		QVERIFY(dock->messageText().isEmpty());
		QVERIFY(!dock->messageIsNoKey());
		QVERIFY(!dock->messageTimer()->isActive());
		QCOMPARE(shown(), QString("1080x1920 \u30FB ") + translate("Output.AutoStartOn"));

		// The automatic start's notice is no error, but lives as long.
		config().key.clear();
		dock->showNoKeyNotice(false);
		QVERIFY(!dock->messageIsError());
		QVERIFY(dock->messageIsNoKey());
		QCOMPARE(dock->messageTimer()->interval(), 12000);
	}

	void startFailuresShowAnErrorBox()
	{
		config().key = "abcd-efgh";
		f.m->releaseCanvas();
		QPalette light = dock->palette();
		light.setColor(QPalette::Window, Qt::white);
		dock->setPalette(light);

		QTest::mouseClick(dock->streamButton(), Qt::LeftButton);
		QTRY_COMPARE(answers.messages.size(), 1);
		const QString prefix = translate("Output.StartFailed").arg(QString());
		QVERIFY2(answers.messages[0].startsWith(prefix), qPrintable(answers.messages[0]));
		QCOMPARE(dock->messageText(), answers.messages[0]);
		QVERIFY(dock->messageIsError());
		QCOMPARE(dock->messageTimer()->interval(), 12000);
		// The accent is the theme's, whatever the window colour: the label carries OBS's class for it.
		QCOMPARE(dock->statusLabel()->property("class").toString(), QString("text-danger"));
		QVERIFY(!dock->statusLabel()->styleSheet().contains("color"));
		qApp->setStyleSheet(".text-danger { color: #123456; }");
		QCOMPARE(dock->statusLabel()->palette().color(QPalette::WindowText), QColor(0x12, 0x34, 0x56));
		qApp->setStyleSheet(QString());

		QTest::mouseClick(dock->recordButton(), Qt::LeftButton);
		QTest::mouseClick(dock->replayButton(), Qt::LeftButton);
		QTRY_COMPARE(answers.messages.size(), 3);
		QVERIFY(answers.messages[1].startsWith(translate("Output.Record.StartFailed").arg(QString())));
		QVERIFY(answers.messages[2].startsWith(translate("Output.Replay.StartFailed").arg(QString())));
	}

	// A recording whose file cannot be opened (nothing can be made in /proc, not even by root): libobs
	// gives no reason, and the box says in the user's words what failed, naming the file and no
	// identifier of libobs's (output or encoder types such as mp4_output).
	void fileStartFailureIsASentence()
	{
		config().recordingDirectory = "/proc";
		config().recordingFormat = "mp4";
		config().encoder = "obs_x264";
		QTest::mouseClick(dock->recordButton(), Qt::LeftButton);
		QTRY_COMPARE(answers.messages.size(), 1);
		const QString path = output->plannedRecordingPath();
		QVERIFY2(path.startsWith("/proc/"), qPrintable(path));
		QCOMPARE(answers.messages[0],
			 translate("Output.Record.StartFailed").arg(translate("Output.Error.FileStart").arg(path)));
		QCOMPARE(dock->messageText(), answers.messages[0]);
		const QRegularExpression identifier("\\b[a-z0-9]+_[a-z0-9_]+\\b");
		QVERIFY2(!identifier.match(answers.messages[0]).hasMatch(), qPrintable(answers.messages[0]));
		QCOMPARE(output->recordingState(), VerticalOutput::FileIdle);
		QVERIFY(!output->recordingOutput());
		QVERIFY(!output->videoEncoder());
	}

	// The fallback to x264 names the encoder as OBS's settings do, or not at all: never by its id.
	void encoderFallbackNamesNoIdentifier_data()
	{
		QTest::addColumn<QString>("id");
		QTest::addColumn<QString>("text");
		QTest::newRow("registered") << "obs_x264" << translate("Output.EncoderFallback").arg("x264");
		QTest::newRow("gone") << "stilwane_gone_h264" << translate("Output.EncoderFallbackUnnamed");
	}

	void encoderFallbackNamesNoIdentifier()
	{
		QFETCH(QString, id);
		QFETCH(QString, text);
		emit output->encoderFallback(id);
		QCOMPARE(dock->messageText(), text);
		QVERIFY(!dock->messageIsError());
	}

	void plainMessagesNeverHideAnError()
	{
		emit output->stopped(0, QString());
		QVERIFY(dock->messageText().isEmpty());

		// A failed stream in plain words, libobs's own text in the tool tip, kept until the next start.
		emit output->stopped(OBS_OUTPUT_INVALID_STREAM, "Could not connect");
		const QString failed = translate("Output.StreamFailed").arg(VerticalOutput::stopCodeText(-3));
		QCOMPARE(dock->messageText(), failed);
		QVERIFY(dock->messageIsError());
		QVERIFY(!dock->messageTimer()->isActive());
		QVERIFY(dock->statusLabel()->toolTip().contains("Could not connect"));
		// The label holds one line.
		QVERIFY(!dock->statusLabel()->text().contains('\n'));

		const QString path = f.dir.filePath("Stilwane-\u7E26 2026-01-02 03-04-05.mp4");
		emit output->recordingSaved(path);
		QVERIFY(dock->messageIsError());
		QCOMPARE(dock->messageText(), failed);
		QVERIFY(dock->statusLabel()->toolTip().contains(translate("Output.FileSaved").arg(path)));
		emit output->stateChanged(VerticalOutput::StreamIdle);
		QCOMPARE(dock->messageText(), failed);
		emit output->stateChanged(VerticalOutput::StreamConnecting);
		QVERIFY(dock->messageText().isEmpty());
		emit output->stateChanged(VerticalOutput::StreamIdle);

		emit output->stopped(2, "Could not connect");

		// An error replaces an error.
		emit output->replayStopped(5, "disk full");
		QCOMPARE(dock->messageText(), translate("Output.Replay.Stopped").arg(5) + " disk full");
		QCOMPARE(canvastest::countLog("[stilwane] vertical replay stopped: code 5 disk full"), 1);

		// Once it has expired, a saved file shows by its name for 8 seconds.
		dock->messageTimer()->start(1);
		QVERIFY(ObsTestEnv::waitUntil([this] { return dock->messageText().isEmpty(); }));
		emit output->replaySaved(path);
		QCOMPARE(dock->messageText(), translate("Output.FileSaved").arg(QFileInfo(path).fileName()));
		QVERIFY(!dock->messageIsError());
		QCOMPARE(dock->messageTimer()->interval(), 8000);
		QVERIFY(dock->statusLabel()->toolTip().contains(path));
	}

	void streamShowsClockAndBitrate()
	{
		QCOMPARE(OutputDock::formatClock(3725), QString("01:02:05"));
		QCOMPARE(OutputDock::formatClock(360000), QString("100:00:00"));

		emit output->stateChanged(VerticalOutput::StreamConnecting);
		QCOMPARE(dock->streamButton()->toolTip(),
			 translate("Output.Stop") + " \u30FB " + translate("Output.Status.Connecting"));
		QCOMPARE(shown(), "LIVE " + translate("Output.Status.Connecting"));
		QVERIFY(!dock->statsTimer()->isActive());

		emit output->stateChanged(VerticalOutput::StreamLive);
		QVERIFY(dock->statsTimer()->isActive());
		QCOMPARE(shown(), QString("\u25CF LIVE 00:00:00"));
		// The first sample has nothing to compare with, however far into the stream it comes.
		ObsTestEnv::pump(20);
		figures.streamActive = true;
		figures.totalBytes = 1000000;
		figures.totalFrames = 300;
		figures.framesDropped = 2;
		dock->tick();
		QCOMPARE(dock->statsText(), translate("Output.Stats").arg("00:00:00", "2", "300", "0"));

		// 400 kbit in at least 200 ms: at most 2000 kbit/s, and not nothing.
		ObsTestEnv::pump(200);
		figures.totalBytes += 50000;
		dock->tick();
		const int kbps = dock->statsText().section(' ', -2, -2).toInt();
		QVERIFY2(kbps > 0 && kbps <= 2000, qPrintable(dock->statsText()));

		// A reconnect neither stops the statistics nor restarts the clock.
		emit output->stateChanged(VerticalOutput::StreamReconnecting);
		QCOMPARE(shown(), "LIVE " + translate("Output.Status.Reconnecting"));
		QVERIFY(dock->statsTimer()->isActive());
		emit output->stateChanged(VerticalOutput::StreamIdle);
		QVERIFY(!dock->statsTimer()->isActive());
		QVERIFY(dock->statsText().isEmpty());
	}

	void recordingClockFollowsWholeSeconds()
	{
		emit output->recordingStateChanged(VerticalOutput::FileStarting);
		QCOMPARE(shown(), "REC " + translate("Output.File.Starting"));

		figures.recordingElapsedMs = 5400;
		emit output->recordingStateChanged(VerticalOutput::FileActive);
		QCOMPARE(shown(), QString("\u25CF REC 00:00:05"));
		QVERIFY(dock->recordingTimer()->isActive());
		QCOMPARE(dock->recordingTimer()->interval(), 600);

		figures.recordingElapsedMs = 6000;
		QVERIFY(ObsTestEnv::waitUntil([this] { return shown() == QString("\u25CF REC 00:00:06"); }, 2000));
		QCOMPARE(dock->recordingTimer()->interval(), 1000);

		emit output->recordingStateChanged(VerticalOutput::FileStopping);
		QVERIFY(!dock->recordingTimer()->isActive());
		QVERIFY(!dock->recordButton()->isEnabled());
		QCOMPARE(shown(), "REC " + translate("Output.Status.Stopping"));
	}

	void idleAndReplayTexts()
	{
		const QString idle = QString("1080x1920 \u30FB ") + translate("Output.AutoStartOnNoKey");
		QCOMPARE(shown(), idle);
		QCOMPARE(dock->statusLabel()->text(), idle.simplified());
		config().autoStart = false;
		dock->refreshStatus();
		QCOMPARE(shown(), QString("1080x1920 \u30FB ") + translate("Output.AutoStartOff"));

		// The buffer's length as it was when it started.
		config().replaySeconds = 30;
		emit output->replayStateChanged(VerticalOutput::FileStarting);
		QCOMPARE(shown(), QString("\u27F2 ") + translate("Output.File.Starting"));
		QVERIFY(!dock->saveReplayButton()->isEnabled());
		emit output->replayStateChanged(VerticalOutput::FileActive);
		QVERIFY(dock->saveReplayButton()->isEnabled());
		config().replaySeconds = 90;
		figures.recordingElapsedMs = 65000;
		emit output->recordingStateChanged(VerticalOutput::FileActive);
		QCOMPARE(shown(), QString("\u25CF REC 00:01:05  ") + translate("Output.Compact.Replay").arg(30));

		// A narrow dock shows the start of the line.
		window->resize(60, 120);
		QVERIFY(ObsTestEnv::waitUntil([this] { return dock->statusLabel()->text().endsWith(QChar(0x2026)); }));
		QVERIFY(dock->statusLabel()->text().startsWith(QString("\u25CF")));
		QCOMPARE(shown(), QString("\u25CF REC 00:01:05  ") + translate("Output.Compact.Replay").arg(30));
	}
};

STILWANE_TEST_MAIN(TestOutputDock)
#include "test_output_dock.moc"
