// SPDX-License-Identifier: GPL-2.0-or-later
// Scene links against real libobs and the test front end: which vertical scene a main scene leads to,
// the duration a followed main transition gives, and queued work that a newer transition or a
// collection change made stale.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "CanvasFixture.hpp"

#include <canvas/SceneLinker.hpp>

#include <TestMain.hpp>

using namespace stilwane;

using namespace canvastest;

namespace {

// Raises a main transition's signal as libobs does, on this thread.
void raiseSignal(obs_source_t *transition, const char *signal)
{
	calldata_t data = {};
	calldata_set_ptr(&data, "source", transition);
	signal_handler_signal(obs_source_get_signal_handler(transition), signal, &data);
	calldata_free(&data);
}

obs_source_t *mainTransition()
{
	return obs_get_output_source(0); // new reference: released by the caller
}

} // namespace

class TestSceneLinker : public QObject {
	Q_OBJECT

	Fixture f;
	CanvasManager *m = f.m;
	SceneLinker *linker = SceneLinker::instance();
	obs_source_t *main1 = nullptr;
	obs_source_t *main2 = nullptr;
	obs_source_t *main3 = nullptr;

	obs_source_t *vertical(const char *name, const QString &link)
	{
		obs_source_t *scene = sourceOf(m->addScene(name));
		m->setSceneLink(scene, link);
		return scene;
	}

private slots:
	void initTestCase() { f.initTestCase(); }
	void cleanupTestCase() { f.cleanupTestCase(); }

	// Main scenes "Main 1" (program), "Main 2" and "Main 3"; following on, with a canvas.
	void init()
	{
		f.init();
		f.freshCanvas();
		main1 = f.fe.addScene("Main 1");
		main2 = f.fe.addScene("Main 2");
		main3 = f.fe.addScene("Main 3");
		f.fe.setProgramScene(main1);
		config().linkScenes = true;
		config().matchMainTransition = true;
		linker->start();
	}

	void cleanup()
	{
		linker->stop();
		f.cleanup();
	}

	void linkedScene_data()
	{
		QTest::addColumn<QStringList>("names");
		QTest::addColumn<QStringList>("links"); // "main" is Main 1's uuid, "other" Main 2's
		QTest::addColumn<int>("expected");      // index of the winning scene, -1 for none
		QTest::newRow("uuid link") << QStringList{"A", "B"} << QStringList{"", "main"} << 1;
		QTest::newRow("uuid wins over an earlier same-name")
			<< QStringList{"Main 1", "B"} << QStringList{"same-name", "main"} << 1;
		QTest::newRow("first of two same-name scenes")
			<< QStringList{"X", "Main 1", "Main 1"} << QStringList{"", "same-name", "same-name"} << 1;
		QTest::newRow("same-name needs the exact name")
			<< QStringList{"main 1", "Main 1 "} << QStringList{"same-name", "same-name"} << -1;
		QTest::newRow("linked to another main scene") << QStringList{"A"} << QStringList{"other"} << -1;
		QTest::newRow("named alike but not linked") << QStringList{"Main 1"} << QStringList{""} << -1;
	}

	void linkedScene()
	{
		QFETCH(QStringList, names);
		QFETCH(QStringList, links);
		QFETCH(int, expected);
		QStringList made;
		for (int i = 0; i < names.size(); i++) {
			QString link = links[i];
			if (link == "main")
				link = uuidOf(main1);
			else if (link == "other")
				link = uuidOf(main2);
			obs_source_t *scene =
				vertical(QByteArray("scene ").append(QByteArray::number(i)).constData(), link);
			// Set afterwards: the canvas manager keeps names unique, a loaded collection need not.
			obs_source_set_name(scene, names[i].toUtf8().constData());
			made << uuidOf(scene);
		}
		QCOMPARE(linker->linkedVerticalScene(main1), expected < 0 ? QString() : made[expected]);
		QCOMPARE(linker->linkedVerticalScene(nullptr), QString());
	}

	void followedDuration_data()
	{
		QTest::addColumn<bool>("cut");
		QTest::addColumn<int>("requestMs");
		QTest::addColumn<QString>("sceneTransition"); // OBS's own transition of the main scene
		QTest::addColumn<int>("sceneMs");             // -1: no duration stored
		QTest::addColumn<int>("expected");
		QTest::newRow("cut") << true << 500 << "" << -1 << 0;
		QTest::newRow("request duration") << false << 500 << "" << -1 << 500;
		QTest::newRow("own transition without duration") << false << 500 << "Fade" << -1 << 300;
		QTest::newRow("own transition with duration") << false << 500 << "Fade" << 1200 << 1200;
		QTest::newRow("own transition is another one") << false << 500 << "Swipe" << 1200 << 500;
		QTest::newRow("zero stays zero") << false << 0 << "" << -1 << 0;
		QTest::newRow("negative becomes zero") << false << -20 << "" << -1 << 0;
	}

	void followedDuration()
	{
		QFETCH(bool, cut);
		QFETCH(int, requestMs);
		QFETCH(QString, sceneTransition);
		QFETCH(int, sceneMs);
		QFETCH(int, expected);
		OBSDataAutoRelease priv = obs_source_get_private_settings(main2);
		if (!sceneTransition.isEmpty())
			obs_data_set_string(priv, "transition", sceneTransition.toUtf8().constData());
		if (sceneMs >= 0)
			obs_data_set_int(priv, "transition_duration", sceneMs);
		LinkRequest request;
		request.isCut = cut;
		request.durationMs = requestMs;
		request.transitionName = "Fade";
		QCOMPARE(SceneLinker::followedDuration(request, main2), expected);
		QCOMPARE(SceneLinker::followedDuration(request, nullptr), cut || requestMs < 1 ? 0 : requestMs);
	}

	void resumeAppliesTheProgramSceneAtOnce()
	{
		vertical("V2", uuidOf(main2)); // current: the first scene of a canvas
		obs_source_t *v1 = vertical("V1", uuidOf(main1));
		QSignalSpy followed(linker, &SceneLinker::linkFollowed);
		linker->resume();
		QCOMPARE(m->currentSceneUuid(), uuidOf(v1));
		QCOMPARE(followed.count(), 1);
		QCOMPARE(followed.first().at(3).toString(), QString("scene_changed"));
		QVERIFY(ObsTestEnv::logContains("[stilwane] linked vertical scene 'V1': 0 ms, match_main=true, "
						"trigger=scene_changed, queued=0 ms"));
	}

	void linkingOffFollowsNothing()
	{
		vertical("V1", uuidOf(main1));
		config().linkScenes = false;
		const QString before = m->currentSceneUuid();
		linker->resume();
		QCOMPARE(m->currentSceneUuid(), before);
	}

	// The stop of a transition queued before a newer start applies nothing.
	void staleStopWork_data()
	{
		QTest::addColumn<bool>("newerStart");
		QTest::newRow("stop alone applies the program") << false;
		QTest::newRow("stop before a newer start is dropped") << true;
	}

	void staleStopWork()
	{
		QFETCH(bool, newerStart);
		obs_source_t *v1 = vertical("V1", uuidOf(main1));
		obs_source_t *v2 = vertical("V2", uuidOf(main2));
		linker->resume();
		QCOMPARE(m->currentSceneUuid(), uuidOf(v1));

		// The main program moves on without the linker hearing of it; only the stop's work would see it.
		f.fe.setProgramScene(main2);
		OBSSourceAutoRelease transition = mainTransition();
		raiseSignal(transition, "transition_stop");
		if (newerStart)
			raiseSignal(transition, "transition_start"); // no destination: its own work switches nothing
		ObsTestEnv::pump(50);
		QCOMPARE(m->currentSceneUuid(), uuidOf(newerStart ? v1 : v2));
	}

	// Work queued before a collection change never applies after it.
	void workQueuedBeforeSuspendIsDropped()
	{
		obs_source_t *v1 = vertical("V1", uuidOf(main1));
		vertical("V2", uuidOf(main2));
		linker->resume();
		OBSSourceAutoRelease transition = mainTransition();
		raiseSignal(transition, "transition_stop");
		linker->suspend();
		linker->resume();
		QCOMPARE(m->currentSceneUuid(), uuidOf(v1));
		f.fe.setProgramScene(main2);
		ObsTestEnv::pump(50);
		QCOMPARE(m->currentSceneUuid(), uuidOf(v1));
		QVERIFY(linker->isStarted());
		QVERIFY(!linker->isSuspended());
	}

	// A real main fade: the start's work switches the vertical scene with the main duration and logs
	// the queue delay; the stop's work changes nothing more.
	void followsARealMainTransition()
	{
		vertical("V1", uuidOf(main1));
		obs_source_t *v3 = vertical("V3", uuidOf(main3));
		linker->resume();
		ObsTestEnv::clearLog();
		OBSSourceAutoRelease transition = mainTransition();
		QVERIFY(obs_transition_start(transition, OBS_TRANSITION_MODE_AUTO, 300, main3));
		QVERIFY(ObsTestEnv::waitUntil([&] { return m->currentSceneUuid() == uuidOf(v3); }));
		QVERIFY(ObsTestEnv::logContains("[stilwane] linked vertical scene 'V3': 300 ms, match_main=true, "
						"trigger=transition_start, queued="));
		QVERIFY(ObsTestEnv::waitUntil([&] { return !obs_transition_is_active(transition); }));
		ObsTestEnv::pump(100);
		QCOMPARE(m->currentSceneUuid(), uuidOf(v3));
		QCOMPARE(countLog("trigger=transition_stop"), 0);
	}
};

STILWANE_TEST_MAIN(TestSceneLinker)
#include "test_scene_linker.moc"
