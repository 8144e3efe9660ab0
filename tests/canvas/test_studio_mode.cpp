// SPDX-License-Identifier: GPL-2.0-or-later
// Studio mode on the vertical canvas: the preview scene, the studio transition to program with OBS's
// swap setting, and what happens to the preview when scenes or transitions change under it.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "CanvasFixture.hpp"

#include <TestMain.hpp>

#include <util/config-file.h>

using namespace stilwane;

using namespace canvastest;

namespace {

QString previewName(CanvasManager *m)
{
	OBSSourceAutoRelease preview = m->previewScene();
	return preview ? QString::fromUtf8(obs_source_get_name(preview)) : QString();
}

QString previewLog(const QString &scene, const QString &trigger)
{
	return QString("[stilwane] vertical preview scene '%1' (trigger=%2)").arg(scene, trigger);
}

} // namespace

class TestStudioMode : public QObject {
	Q_OBJECT

	Fixture f;
	CanvasManager *m = f.m;
	obs_source_t *a = nullptr;
	obs_source_t *b = nullptr;
	obs_source_t *c = nullptr;

	// Studio mode on with A in program and B in preview.
	void previewB()
	{
		m->setStudioMode(true);
		m->setPreviewScene(b, "manual");
		QCOMPARE(previewName(m), QString("B"));
		ObsTestEnv::clearLog();
	}

private slots:
	void initTestCase() { f.initTestCase(); }
	void cleanupTestCase() { f.cleanupTestCase(); }

	// Scenes A (program, shown), B and C; the fade selected at 300 ms.
	void init()
	{
		f.init();
		f.freshCanvas();
		a = sourceOf(m->addScene("A"));
		b = sourceOf(m->addScene("B"));
		c = sourceOf(m->addScene("C"));
		QVERIFY(waitForTransitionEnd(m));
		ObsTestEnv::clearLog();
	}

	void cleanup() { f.cleanup(); }

	void enablingShowsTheProgramInThePreviewOnce()
	{
		QSignalSpy studio(m, &CanvasManager::studioModeChanged);
		QSignalSpy preview(m, &CanvasManager::previewSceneChanged);
		QSignalSpy editing(m, &CanvasManager::editingSceneChanged);
		m->setStudioMode(true);
		QVERIFY(m->studioMode());
		QCOMPARE(m->previewSceneUuid(), uuidOf(a));
		QVERIFY(ObsTestEnv::logContains(previewLog("A", "studio-enabled")));
		QCOMPARE(studio.count(), 1);
		QCOMPARE(preview.count(), 1);
		OBSSourceAutoRelease editingScene = m->editingScene();
		QCOMPARE(editingScene.Get(), a);

		studio.clear();
		preview.clear();
		editing.clear();
		ObsTestEnv::clearLog();
		m->setPreviewScene(b, "manual");
		preview.clear();
		editing.clear();
		ObsTestEnv::clearLog();
		m->setStudioMode(true);
		QCOMPARE(previewName(m), QString("B"));
		QCOMPARE(studio.count(), 0);
		QCOMPARE(preview.count(), 0);
		QCOMPARE(editing.count(), 0);
		QVERIFY(!ObsTestEnv::logContains("[stilwane]"));
	}

	void previewOnlyInStudioModeAndOnlyVerticalScenes()
	{
		m->setPreviewScene(b, "manual");
		QVERIFY(m->previewSceneUuid().isEmpty());
		m->setStudioMode(true);
		obs_source_t *mainScene = f.fe.addScene("Main");
		m->setPreviewScene(mainScene, "manual");
		QCOMPARE(previewName(m), QString("A"));
	}

	void studioTransitionSwapsByTheSetting_data()
	{
		QTest::addColumn<QString>("setting");
		QTest::addColumn<QString>("previewAfter");
		QTest::newRow("absent") << QString() << "A";
		QTest::newRow("swap") << "true" << "A";
		QTest::newRow("no swap") << "false" << "B";
	}

	void studioTransitionSwapsByTheSetting()
	{
		QFETCH(QString, setting);
		QFETCH(QString, previewAfter);
		if (!setting.isEmpty())
			config_set_bool(f.fe.userConfig(), "BasicWindow", "SwapScenesMode", setting == "true");
		previewB();

		QSignalSpy current(m, &CanvasManager::currentSceneChanged);
		m->transitionToProgram(-1, "studio");
		QCOMPARE(m->currentSceneUuid(), uuidOf(b));
		QCOMPARE(current.count(), 1);
		QVERIFY(obs_transition_is_active(m->activeTransitionSource()));
		QVERIFY(ObsTestEnv::logContains("[stilwane] vertical studio transition 'B': 300 ms, trigger=studio"));
		QVERIFY(ObsTestEnv::logContains(
			"[stilwane] vertical transition 'Fade' (fade_transition) 300 ms -> 'B' (source=vertical, "
			"trigger=studio)"));
		// The preview changes when the fade's video stops, not before.
		QCOMPARE(previewName(m), QString("B"));

		QVERIFY(waitForTransitionEnd(m));
		QCOMPARE(shownSceneUuid(m), uuidOf(b));
		QCOMPARE(m->currentSceneUuid(), uuidOf(b));
		QCOMPARE(previewName(m), previewAfter);
		QCOMPARE(ObsTestEnv::logContains(previewLog("A", "studio-swap")), previewAfter == "A");

		// The next studio transition starts from where this one left the preview.
		if (previewAfter == "A") {
			m->transitionToProgram(-1, "studio");
			QCOMPARE(m->currentSceneUuid(), uuidOf(a));
			QVERIFY(waitForTransitionEnd(m));
			QCOMPARE(previewName(m), QString("B"));
		}
	}

	void cutSwapsInTheSameCall()
	{
		m->selectTransition(kCutUuid);
		previewB();
		m->transitionToProgram(-1, "studio");
		QCOMPARE(m->currentSceneUuid(), uuidOf(b));
		QCOMPARE(shownSceneUuid(m), uuidOf(b));
		QCOMPARE(previewName(m), QString("A"));
		QVERIFY(ObsTestEnv::logContains(previewLog("A", "studio-swap")));
		QVERIFY(ObsTestEnv::logContains(
			"[stilwane] vertical transition 'Cut' (cut_transition) 0 ms -> 'B' (source=vertical, trigger=studio)"));
	}

	void zeroMillisecondFadeSwapsInTheSameCall()
	{
		m->setTransitionDuration(0);
		previewB();
		m->transitionToProgram(-1, "studio");
		QCOMPARE(shownSceneUuid(m), uuidOf(b));
		QCOMPARE(previewName(m), QString("A"));
	}

	void nothingWhileATransitionRuns()
	{
		previewB();
		// A program switch from outside studio mode (a linked main scene, a hotkey) is running.
		m->setCurrentScene(c, -1, "hotkey");
		QVERIFY(obs_transition_is_active(m->activeTransitionSource()));
		ObsTestEnv::clearLog();
		QSignalSpy current(m, &CanvasManager::currentSceneChanged);
		m->transitionToProgram(-1, "studio");
		QCOMPARE(m->currentSceneUuid(), uuidOf(c));
		QCOMPARE(current.count(), 0);
		QVERIFY(!ObsTestEnv::logContains("[stilwane] vertical studio transition"));

		// Nor while a studio transition is still on its way.
		QVERIFY(waitForTransitionEnd(m));
		m->transitionToProgram(-1, "studio");
		QCOMPARE(m->currentSceneUuid(), uuidOf(b));
		m->setPreviewScene(a, "manual");
		m->transitionToProgram(-1, "studio");
		QCOMPARE(m->currentSceneUuid(), uuidOf(b));
		QCOMPARE(countLog("[stilwane] vertical studio transition"), 1);
		QVERIFY(waitForTransitionEnd(m));
	}

	void programSwitchCancelsThePendingSwap()
	{
		previewB();
		m->transitionToProgram(-1, "studio");
		QVERIFY(obs_transition_is_active(m->activeTransitionSource()));
		m->setCurrentScene(c, -1, "hotkey");
		QCOMPARE(m->currentSceneUuid(), uuidOf(c));
		QVERIFY(waitForTransitionEnd(m));
		QCOMPARE(shownSceneUuid(m), uuidOf(c));
		QCOMPARE(previewName(m), QString("B"));
		QVERIFY(!ObsTestEnv::logContains("studio-swap"));
	}

	void disablingClearsThePreview()
	{
		previewB();
		QVERIFY(obs_source_showing(b));
		QSignalSpy studio(m, &CanvasManager::studioModeChanged);
		m->setStudioMode(false);
		QVERIFY(!m->studioMode());
		QVERIFY(m->previewSceneUuid().isEmpty());
		QVERIFY(!m->previewScene());
		QVERIFY(ObsTestEnv::logContains(previewLog("", "studio-disabled")));
		QCOMPARE(studio.count(), 1);
		QVERIFY(!obs_source_showing(b));
		OBSSourceAutoRelease editing = m->editingScene();
		QCOMPARE(editing.Get(), a);
		// Without studio mode there is no studio transition.
		m->transitionToProgram(-1, "studio");
		QCOMPARE(m->currentSceneUuid(), uuidOf(a));
	}

	void removingThePreviewFallsBackToTheProgram()
	{
		previewB();
		m->removeScene(b);
		b = nullptr;
		QCOMPARE(previewName(m), QString("A"));
		QVERIFY(ObsTestEnv::logContains(previewLog("A", "scene-removed-fallback")));
		QCOMPARE(m->currentSceneUuid(), uuidOf(a));
	}

	void firstSceneInStudioModeGoesToThePreviewOnly()
	{
		m->releaseCanvas();
		f.fe.reset();
		f.freshCanvas();
		m->setStudioMode(true);
		QVERIFY(m->previewSceneUuid().isEmpty());
		obs_source_t *first = sourceOf(m->addScene("First"));
		QCOMPARE(m->previewSceneUuid(), uuidOf(first));
		QVERIFY(ObsTestEnv::logContains(previewLog("First", "first-scene")));
		QVERIFY(m->currentSceneUuid().isEmpty());
		QVERIFY(shownSceneUuid(m).isEmpty());
		// Later scenes change neither.
		m->addScene("Second");
		QCOMPARE(m->previewSceneUuid(), uuidOf(first));
		QVERIFY(m->currentSceneUuid().isEmpty());
	}

	void previewSceneIsShowingWhilePreviewed()
	{
		QVERIFY(!obs_source_showing(b));
		QVERIFY(!obs_source_showing(c));
		m->setStudioMode(true);
		m->setPreviewScene(b, "manual");
		QVERIFY(obs_source_showing(b));
		m->setPreviewScene(c, "manual");
		QVERIFY(!obs_source_showing(b));
		QVERIFY(obs_source_showing(c));
		m->removeScene(c);
		c = nullptr;
		QCOMPARE(previewName(m), QString("A"));
		m->setPreviewScene(b, "manual");
		m->setStudioMode(false);
		QVERIFY(!obs_source_showing(b));
	}
};

STILWANE_TEST_MAIN(TestStudioMode)
#include "test_studio_mode.moc"
