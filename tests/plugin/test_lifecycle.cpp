// SPDX-License-Identifier: GPL-2.0-or-later
// The module's start-up, front-end events, collection switches and shut-down, driven through the
// test front end in the order OBS raises them.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <canvas/CanvasManager.hpp>
#include <dialogs/MessageBoxes.hpp>
#include <output/VerticalOutput.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>
#include <plugin/Plugin.hpp>
#include <preview/ProjectorWindow.hpp>

#include <ObsTestEnv.hpp>
#include <TestFrontend.hpp>
#include <TestMain.hpp>

#include <QDialog>
#include <QDockWidget>
#include <QMainWindow>
#include <QTemporaryDir>

#include <obs.hpp>
#include <util/text-lookup.h>

using namespace stilwane;

namespace {

int verticalCanvasCount()
{
	int count = 0;
	for (obs_canvas_t *c : TestFrontend::instance().canvases())
		count += !obs_canvas_removed(c) && strcmp(obs_canvas_get_name(c), kCanvasName) == 0;
	return count;
}

// The "stilwane" object a collection's modules hold (new reference or null).
obs_data_t *stilwaneObject(obs_data_t *collection)
{
	OBSDataAutoRelease modules = TestFrontend::moduleData(collection);
	return modules ? obs_data_get_obj(modules, "stilwane") : nullptr;
}

QString canvasUuid()
{
	CanvasManager *m = CanvasManager::instance();
	return m->hasCanvas() ? QString::fromUtf8(obs_canvas_get_uuid(m->canvas())) : QString();
}

} // namespace

class TestLifecycle : public QObject {
	Q_OBJECT

	QTemporaryDir dir;
	TestFrontend &fe = TestFrontend::instance();
	CanvasManager *m = CanvasManager::instance();
	QStringList messages;
	bool loaded = false;

private slots:
	void initTestCase()
	{
		setLocaleTable(text_lookup_create(STILWANE_DATA_DIR "/locale/en-US.ini"));
		setMessageHandler([this](MessageKind, const QString &, const QString &text) { messages << text; });
	}

	void cleanupTestCase()
	{
		text_lookup_destroy(localeTable());
		setLocaleTable(nullptr);
		setMessageHandler(nullptr);
	}

	void init()
	{
		QFile::remove(dir.filePath("config.json"));
		setConfigDirectoryOverride(dir.path().toStdString());
		config() = ConfigRecord{};
		fe.reset();
		fe.mainWindow()->show();
		messages.clear();
		QVERIFY(Plugin::load());
		loaded = true;
		fe.addScene("Scene");
		fe.startupLoad(nullptr);
	}

	void cleanup()
	{
		if (loaded)
			Plugin::unload();
		loaded = false;
		fe.reset();
	}

	void loadRegistersEverything()
	{
		QVERIFY(ObsTestEnv::logContains("[stilwane] plugin loaded successfully (version 0.5.5)"));
		QCOMPARE(fe.dockIds(), QStringList({"stilwane_main"}));
		QCOMPARE(fe.dockTitle("stilwane_main"), QString("Stilwane Vertical"));
		QVERIFY(fe.toolsMenuTitles().contains("Stilwane Settings"));
		QVERIFY(fe.toolsMenuTitles().contains("Stilwane Vertical Projector"));
		QCOMPARE(fe.translationDepth(), 0);
		QVERIFY(m->hasCanvas());
		QCOMPARE(verticalCanvasCount(), 1);
	}

	void firstRunPlacesTheDockOnTheRight()
	{
		QDockWidget *dock = fe.dock("stilwane_main");
		QVERIFY(dock);
		QVERIFY(!dock->isFloating());
		QVERIFY(dock->isVisible());
		QCOMPARE(fe.mainWindow()->dockWidgetArea(dock), Qt::RightDockWidgetArea);
		QVERIFY(config().mainDockShown);
		QVERIFY(QFile::exists(dir.filePath("config.json")));

		// Once placed, the dock keeps where the user (or OBS) put it.
		fe.mainWindow()->addDockWidget(Qt::LeftDockWidgetArea, dock);
		fe.raise(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		QCOMPARE(fe.mainWindow()->dockWidgetArea(dock), Qt::LeftDockWidgetArea);
	}

	void saveCallbackStoresTheCanvasObject()
	{
		m->addScene("V1");
		OBSDataAutoRelease saved = fe.saveCollection();
		OBSDataAutoRelease object = stilwaneObject(saved);
		QVERIFY(object);
		QCOMPARE(QString::fromUtf8(obs_data_get_string(object, "canvas_uuid")), canvasUuid());
		QCOMPARE(obs_data_get_int(object, "width"), 1080);
		QCOMPARE(obs_data_get_int(object, "height"), 1920);
		OBSDataArrayAutoRelease order = obs_data_get_array(object, "scene_order");
		QCOMPARE(obs_data_array_count(order), size_t(1));
		OBSDataArrayAutoRelease transitions = obs_data_get_array(object, "vertical_transitions");
		QCOMPARE(obs_data_array_count(transitions), size_t(2));
	}

	void collectionSwitchServesTheSnapshotAndComesBack()
	{
		m->addScene("V1");
		m->addScene("V2");
		QString firstCanvas = canvasUuid();
		OBSDataAutoRelease first = fe.saveCollection();

		// Away to a new collection: OBS saves the old one after CHANGING, when the canvas is gone.
		fe.switchCollection(nullptr);
		OBSDataAutoRelease left = fe.oldCollectionData();
		OBSDataAutoRelease snapshot = stilwaneObject(left);
		QVERIFY(snapshot);
		QCOMPARE(QString::fromUtf8(obs_data_get_string(snapshot, "canvas_uuid")), firstCanvas);
		OBSDataArrayAutoRelease order = obs_data_get_array(snapshot, "scene_order");
		QCOMPARE(obs_data_array_count(order), size_t(2));
		QVERIFY(Plugin::collectionSnapshot() == nullptr);

		// The new collection has no object: empty state, a canvas of its own.
		QVERIFY(m->hasCanvas());
		QVERIFY(canvasUuid() != firstCanvas);
		QVERIFY(m->scenes().isEmpty());
		QCOMPARE(m->transitions().size(), 2);
		QCOMPARE(verticalCanvasCount(), 1);

		// And back: the same canvas and scenes.
		fe.switchCollection(first);
		QCOMPARE(canvasUuid(), firstCanvas);
		QCOMPARE(m->scenes().size(), 2);
		QCOMPARE(m->scenes().first().name, QString("V1"));
		QCOMPARE(verticalCanvasCount(), 1);
	}

	void collectionWithoutLoadCallLoadsEmptyStateAtChanged()
	{
		m->addScene("V1");
		OBSDataAutoRelease first = fe.saveCollection();
		OBSDataAutoRelease object = stilwaneObject(first);
		// Even with the canvas restored by OBS, nothing of the old state is taken over without the
		// load call: the canvas is found by name and only the built-in transitions exist.
		OBSDataAutoRelease tweaked = obs_data_create();
		obs_data_apply(tweaked, first);
		fe.switchCollection(tweaked, false);
		QVERIFY(m->hasCanvas());
		QCOMPARE(m->transitions().size(), 2);
		QCOMPARE(m->selectedTransitionUuid(), QString(kFadeUuid));
		QCOMPARE(verticalCanvasCount(), 1);
		QCOMPARE(canvasUuid(), QString::fromUtf8(obs_data_get_string(object, "canvas_uuid")));
	}

	void savingDuringTheSwitchWindowServesTheSnapshot()
	{
		m->addScene("V1");
		QString uuid = canvasUuid();
		fe.raise(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING);
		QVERIFY(!m->hasCanvas());
		OBSDataAutoRelease saved = fe.saveCollection();
		OBSDataAutoRelease object = stilwaneObject(saved);
		QCOMPARE(QString::fromUtf8(obs_data_get_string(object, "canvas_uuid")), uuid);
		fe.raise(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CLEANUP);
		QVERIFY(!Plugin::collectionSnapshot());
		fe.raise(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED);
		QVERIFY(m->hasCanvas());
		QCOMPARE(canvasUuid(), uuid);
	}

	void studioModeFollowsOBS()
	{
		obs_scene_t *v1 = m->addScene("V1");
		fe.setStudioMode(true);
		QVERIFY(m->studioMode());
		QCOMPARE(m->previewSceneUuid(), QString::fromUtf8(obs_source_get_uuid(obs_scene_get_source(v1))));
		fe.setStudioMode(false);
		QVERIFY(!m->studioMode());
		QVERIFY(m->previewSceneUuid().isEmpty());
	}

	void exitRunsOnce()
	{
		fe.raise(OBS_FRONTEND_EVENT_EXIT);
		QVERIFY(Plugin::isExiting());
		QVERIFY(!m->hasCanvas());
		// After exit the save callback stores nothing and a second exit changes nothing.
		OBSDataAutoRelease saved = fe.saveCollection();
		OBSDataAutoRelease object = stilwaneObject(saved);
		QVERIFY(!object);
		fe.raise(OBS_FRONTEND_EVENT_EXIT);
		QVERIFY(!m->hasCanvas());
	}

	void autoStartFollowsTheMainStream()
	{
		VerticalOutput *output = VerticalOutput::instance();
		fe.setStreamingActive(true);
		fe.raise(OBS_FRONTEND_EVENT_STREAMING_STARTED);
		QVERIFY(ObsTestEnv::logContains("[stilwane] vertical stream not started: no stream key"));
		QVERIFY(messages.isEmpty());

		// Nothing listens on port 1, so the stream goes out and fails without leaving the machine.
		config().server = "rtmp://127.0.0.1:1/live";
		config().key = "abcd-efgh";
		fe.raise(OBS_FRONTEND_EVENT_STREAMING_STARTED);
		QCOMPARE(output->streamState(), VerticalOutput::StreamConnecting);
		QVERIFY(ObsTestEnv::logContains("[stilwane] vertical stream starting (shared encoder, 6000 kbps)"));
		fe.raise(OBS_FRONTEND_EVENT_STREAMING_STOPPING);
		QCOMPARE(output->streamState(), VerticalOutput::StreamStopping);
		// OBS's stream starts again while the vertical one is still stopping: it follows once stopped.
		fe.raise(OBS_FRONTEND_EVENT_STREAMING_STARTED);
		QTRY_COMPARE_WITH_TIMEOUT(ObsTestEnv::logLines().filter("vertical stream starting").size(), 2, 15000);
		QCOMPARE(output->streamState(), VerticalOutput::StreamConnecting);
		fe.raise(OBS_FRONTEND_EVENT_STREAMING_STOPPING);
		QTRY_COMPARE_WITH_TIMEOUT(output->streamState(), VerticalOutput::StreamIdle, 15000);
		// And not after OBS's stream stopped again before that.
		QVERIFY(output->startStream());
		output->stopStream(false);
		fe.raise(OBS_FRONTEND_EVENT_STREAMING_STARTED);
		fe.raise(OBS_FRONTEND_EVENT_STREAMING_STOPPING);
		QTRY_COMPARE_WITH_TIMEOUT(output->streamState(), VerticalOutput::StreamIdle, 15000);
		ObsTestEnv::pump(300);
		QCOMPARE(output->streamState(), VerticalOutput::StreamIdle);
		QVERIFY(!output->streamOutput());
		QVERIFY(!output->videoEncoder());

		// Without the canvas the start fails: a warning and the dock's error box.
		m->releaseCanvas();
		fe.raise(OBS_FRONTEND_EVENT_STREAMING_STARTED);
		QVERIFY(ObsTestEnv::logContains("[stilwane] auto start failed: "));
		// Not inside OBS's callback, which a box would hold back until someone clicks: right after it.
		QCOMPARE(messages.size(), 0);
		QTRY_COMPARE(messages.size(), 1);
		QVERIFY(messages.first().startsWith(translate("Output.StartFailed").arg(QString())));
		QVERIFY(!ObsTestEnv::logContains("abcd-efgh"));

		config().autoStart = false;
		ObsTestEnv::clearLog();
		fe.raise(OBS_FRONTEND_EVENT_STREAMING_STARTED);
		QVERIFY(!ObsTestEnv::logContains("auto start failed"));
		QCOMPARE(messages.size(), 1);
	}

	void fileOutputsFollowTheMainOnes()
	{
		VerticalOutput *output = VerticalOutput::instance();
		config().recordingDirectory = dir.filePath("media").toStdString();
		config().recordingFormat = "mkv";
		config().recordingFollowMain = true;
		config().replayFollowMain = true;
		config().replaySeconds = 5;

		fe.raise(OBS_FRONTEND_EVENT_RECORDING_STARTED);
		fe.raise(OBS_FRONTEND_EVENT_REPLAY_BUFFER_STARTED);
		QVERIFY(output->recordingState() != VerticalOutput::FileIdle);
		QVERIFY(output->replayState() != VerticalOutput::FileIdle);
		QTRY_COMPARE_WITH_TIMEOUT(output->replayState(), VerticalOutput::FileActive, 10000);
		QTRY_COMPARE_WITH_TIMEOUT(output->recordingState(), VerticalOutput::FileActive, 10000);
		QTest::qWait(1500);

		QSignalSpy replaySaved(output, &VerticalOutput::replaySaved);
		fe.raise(OBS_FRONTEND_EVENT_REPLAY_BUFFER_SAVED);
		QVERIFY(replaySaved.wait(10000));
		QVERIFY(QFileInfo(replaySaved.first().first().toString())
				.fileName()
				.startsWith("Stilwane-縦 リプレイ "));

		QSignalSpy recordingSaved(output, &VerticalOutput::recordingSaved);
		fe.raise(OBS_FRONTEND_EVENT_RECORDING_STOPPING);
		fe.raise(OBS_FRONTEND_EVENT_REPLAY_BUFFER_STOPPING);
		QVERIFY(recordingSaved.wait(10000));
		QTRY_COMPARE_WITH_TIMEOUT(output->replayState(), VerticalOutput::FileIdle, 10000);
		const QFileInfo file(recordingSaved.first().first().toString());
		QCOMPARE(file.absolutePath(), QDir(dir.filePath("media")).absolutePath());
		QVERIFY(file.fileName().startsWith("Stilwane-縦 "));
		QCOMPARE(file.suffix(), QString("mkv"));
		QVERIFY(file.size() > 0);
		QVERIFY(!output->videoEncoder());
		QVERIFY(messages.isEmpty());

		// Once OBS announced its exit nothing follows any more.
		fe.raise(OBS_FRONTEND_EVENT_EXIT);
		fe.raise(OBS_FRONTEND_EVENT_RECORDING_STARTED);
		QCOMPARE(output->recordingState(), VerticalOutput::FileIdle);
	}

	void toolsMenuEntriesAnswer()
	{
		QStringList dialogs;
		setDialogHandler([&dialogs](QDialog *dialog) {
			dialogs << dialog->metaObject()->className();
			return int(QDialog::Rejected);
		});
		QVERIFY(fe.triggerToolsMenuItem("Stilwane Settings"));
		setDialogHandler(nullptr);
		QCOMPARE(dialogs, QStringList({"stilwane::SettingsDialog"}));
		// The projector entry opens a projector window until OBS exits; the exit closes it.
		QVERIFY(fe.triggerToolsMenuItem("Stilwane Vertical Projector"));
		QCOMPARE(ProjectorWindow::registry().size(), 1);
		QVERIFY(messages.isEmpty());
		fe.raise(OBS_FRONTEND_EVENT_EXIT);
		QVERIFY(ProjectorWindow::registry().isEmpty());
		QVERIFY(fe.triggerToolsMenuItem("Stilwane Vertical Projector"));
		QVERIFY(ProjectorWindow::registry().isEmpty());
		QVERIFY(messages.isEmpty());
	}

	void unloadReleasesEverything()
	{
		Plugin::unload();
		loaded = false;
		QVERIFY(ObsTestEnv::logContains("[stilwane] plugin unloaded"));
		QVERIFY(!m->hasCanvas());
		QCOMPARE(fe.eventCallbackCount(), size_t(0));
		QCOMPARE(fe.saveCallbackCount(), size_t(0));
	}
};

STILWANE_TEST_MAIN(TestLifecycle)
#include "test_lifecycle.moc"
