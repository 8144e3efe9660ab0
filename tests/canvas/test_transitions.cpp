// SPDX-License-Identifier: GPL-2.0-or-later
// Vertical scene switches through real libobs transitions: which transition is used, for how long, what
// is logged, and how the list of vertical transitions may change while one runs.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "CanvasFixture.hpp"

#include <TestMain.hpp>

using namespace stilwane;

using namespace canvastest;

namespace {

QString logLine(const QString &name, const QString &type, int ms, const QString &scene, const QString &label,
		const QString &trigger)
{
	return QString("[stilwane] vertical transition '%1' (%2) %3 ms -> '%4' (source=%5, trigger=%6)")
		.arg(name, type)
		.arg(ms)
		.arg(scene, label, trigger);
}

QString uuidNamed(CanvasManager *m, const QString &name)
{
	for (const TransitionInfo &info : m->transitions()) {
		if (info.name == name)
			return info.uuid;
	}
	return QString();
}

obs_source_t *listed(CanvasManager *m, const QString &uuid)
{
	OBSSourceAutoRelease source = m->transitionByUuid(uuid);
	return source.Get(); // the list keeps its own reference
}

} // namespace

class TestTransitions : public QObject {
	Q_OBJECT

	Fixture f;
	CanvasManager *m = f.m;
	obs_source_t *a = nullptr;
	obs_source_t *b = nullptr;
	obs_source_t *c = nullptr;

private slots:
	void initTestCase() { f.initTestCase(); }
	void cleanupTestCase() { f.cleanupTestCase(); }

	// Scenes A (current, shown), B and C; the fade selected at 300 ms.
	void init()
	{
		f.init();
		f.freshCanvas();
		a = sourceOf(m->addScene("A"));
		b = sourceOf(m->addScene("B"));
		c = sourceOf(m->addScene("C"));
		QVERIFY(waitForTransitionEnd(m));
		QCOMPARE(shownSceneUuid(m), uuidOf(a));
		ObsTestEnv::clearLog();
	}

	void cleanup() { f.cleanup(); }

	void fadeEndsOnTheNewScene()
	{
		QSignalSpy current(m, &CanvasManager::currentSceneChanged);
		m->setCurrentScene(b, -1, "hotkey");
		QCOMPARE(m->currentSceneUuid(), uuidOf(b));
		QCOMPARE(current.count(), 1);
		QVERIFY(obs_transition_is_active(m->activeTransitionSource()));
		QVERIFY(ObsTestEnv::logContains(logLine("Fade", "fade_transition", 300, "B", "vertical", "hotkey")));
		QVERIFY(waitForTransitionEnd(m));
		QCOMPARE(shownSceneUuid(m), uuidOf(b));

		// Without a trigger the switch counts as manual.
		m->setCurrentScene(c);
		QVERIFY(ObsTestEnv::logContains(logLine("Fade", "fade_transition", 300, "C", "vertical", "manual")));
		QVERIFY(waitForTransitionEnd(m));
	}

	void instantSwitches_data()
	{
		QTest::addColumn<QString>("transition");
		QTest::addColumn<QString>("logged");
		QTest::newRow("cut")
			<< QString(kCutUuid) << logLine("Cut", "cut_transition", 0, "B", "vertical", "manual");
		QTest::newRow("fade at 0 ms")
			<< QString(kFadeUuid) << logLine("Fade", "fade_transition", 0, "B", "vertical", "manual");
	}

	void instantSwitches()
	{
		QFETCH(QString, transition);
		QFETCH(QString, logged);
		m->selectTransition(transition);
		m->setTransitionDuration(0);
		QCOMPARE(m->activeTransitionSource(), listed(m, transition));
		m->setCurrentScene(b, -1, "manual");
		QVERIFY(!obs_transition_is_active(m->activeTransitionSource()));
		QCOMPARE(shownSceneUuid(m), uuidOf(b));
		QVERIFY(ObsTestEnv::logContains(logged));
	}

	void switchingToTheCurrentSceneDoesNothing()
	{
		QSignalSpy current(m, &CanvasManager::currentSceneChanged);
		m->setCurrentScene(a, -1, "manual");
		QCOMPARE(current.count(), 0);
		QVERIFY(!obs_transition_is_active(m->activeTransitionSource()));
		QVERIFY(!ObsTestEnv::logContains("[stilwane] vertical transition"));
	}

	void selectionWhileRunningWaitsForTheEnd()
	{
		obs_source_t *fade = listed(m, kFadeUuid);
		m->setCurrentScene(b, -1, "manual");
		QVERIFY(obs_transition_is_active(fade));

		m->selectTransition(kCutUuid);
		QCOMPARE(m->selectedTransitionUuid(), QString(kCutUuid));
		QCOMPARE(m->activeTransitionSource(), fade);
		QVERIFY(ObsTestEnv::waitUntil([&] { return m->activeTransitionSource() == listed(m, kCutUuid); }));
		OBSSourceAutoRelease channel = obs_canvas_get_channel(m->canvas(), 0);
		QCOMPARE(channel.Get(), listed(m, kCutUuid));
		// The swap keeps the picture: the cut shows where the fade ended.
		QCOMPARE(shownSceneUuid(m), uuidOf(b));

		m->setCurrentScene(c, -1, "manual");
		QVERIFY(ObsTestEnv::logContains(logLine("Cut", "cut_transition", 0, "C", "vertical", "manual")));
	}

	void listEditingRules()
	{
		QVERIFY(m->addTransition("swipe_transition", "Swipe"));
		QString swipe = uuidNamed(m, "Swipe");
		QVERIFY(!swipe.isEmpty());
		QCOMPARE(m->selectedTransitionUuid(), swipe);
		QCOMPARE(m->activeTransitionSource(), listed(m, swipe));

		QSignalSpy changed(m, &CanvasManager::transitionsChanged);
		QVERIFY(!m->addTransition("slide_transition", "Swipe"));
		QVERIFY(!m->addTransition("slide_transition", "Fade"));
		QVERIFY(!m->addTransition("slide_transition", ""));
		QVERIFY(!m->addTransition("no_such_transition", "Nothing"));
		QVERIFY(!m->addTransition("color_source_v3", "Colour"));
		QVERIFY(!m->addTransition("", "Empty type"));
		QCOMPARE(m->transitions().size(), 3);
		QCOMPARE(changed.count(), 0);
		QCOMPARE(m->selectedTransitionUuid(), swipe);

		QVERIFY(!m->renameTransition(swipe, "Cut"));
		QVERIFY(!m->renameTransition(swipe, ""));
		QVERIFY(!m->renameTransition("no-such-uuid", "Other"));
		QCOMPARE(uuidNamed(m, "Swipe"), swipe);
		QVERIFY(m->renameTransition(swipe, "Swipe"));
		QVERIFY(m->renameTransition(swipe, "Side"));
		QCOMPARE(uuidNamed(m, "Side"), swipe);
		QCOMPARE(QString::fromUtf8(obs_source_get_name(listed(m, swipe))), QString("Side"));
		// The old name is free again.
		QVERIFY(m->addTransition("slide_transition", "Swipe"));

		QVERIFY(!m->removeTransition(kFadeUuid));
		QVERIFY(!m->removeTransition(kCutUuid));
		QVERIFY(!m->removeTransition("no-such-uuid"));
		QCOMPARE(m->transitions().size(), 4);
	}

	void removingTheSelectedTransitionSelectsTheFade()
	{
		QVERIFY(m->addTransition("slide_transition", "Slide"));
		QString slide = uuidNamed(m, "Slide");
		m->setSceneTransitionOverride(b, slide, 700);
		QCOMPARE(m->sceneTransitionOverride(b), slide);

		QVERIFY(m->removeTransition(slide));
		QCOMPARE(m->selectedTransitionUuid(), QString(kFadeUuid));
		QCOMPARE(m->activeTransitionSource(), listed(m, kFadeUuid));
		OBSSourceAutoRelease channel = obs_canvas_get_channel(m->canvas(), 0);
		QCOMPARE(channel.Get(), listed(m, kFadeUuid));
		QCOMPARE(shownSceneUuid(m), uuidOf(a));
		QVERIFY(uuidNamed(m, "Slide").isEmpty());
		QVERIFY(m->sceneTransitionOverride(b).isEmpty());
		OBSDataAutoRelease priv = obs_source_get_private_settings(b);
		QVERIFY(!obs_data_has_user_value(priv, "stilwane_transition"));
		QVERIFY(!obs_data_has_user_value(priv, "stilwane_transition_ms"));
	}

	void removingTheRunningTransitionSelectsTheFadeAtItsEnd()
	{
		QVERIFY(m->addTransition("slide_transition", "Slide"));
		QString slide = uuidNamed(m, "Slide");
		OBSSourceAutoRelease running = m->transitionByUuid(slide);
		m->setCurrentScene(b, -1, "manual");
		QVERIFY(obs_transition_is_active(running));

		QVERIFY(m->removeTransition(slide));
		QCOMPARE(m->selectedTransitionUuid(), QString(kFadeUuid));
		QCOMPARE(m->transitions().size(), 2);
		QVERIFY(ObsTestEnv::waitUntil([&] { return m->activeTransitionSource() == listed(m, kFadeUuid); }));
		QCOMPARE(shownSceneUuid(m), uuidOf(b));
		QVERIFY(obs_source_removed(running));
	}

	void sceneOverrideWins()
	{
		QVERIFY(m->addTransition("swipe_transition", "Swipe"));
		QString swipe = uuidNamed(m, "Swipe");
		m->selectTransition(kCutUuid);
		m->setSceneTransitionOverride(b, swipe, 450);
		QCOMPARE(m->sceneTransitionDuration(b), 450);

		m->setCurrentScene(b, -1, "manual");
		QCOMPARE(m->activeTransitionSource(), listed(m, swipe));
		QVERIFY(ObsTestEnv::logContains(logLine("Swipe", "swipe_transition", 450, "B", "override", "manual")));
		QVERIFY(waitForTransitionEnd(m));
		QCOMPARE(shownSceneUuid(m), uuidOf(b));

		// It also wins over the main transition, and a scene without one takes the selection.
		OBSSourceAutoRelease mainFade = obs_source_create_private("fade_transition", "Main Fade", nullptr);
		TransitionChoice choice = m->chooseTransition(b, 900, mainFade, true, nullptr);
		QCOMPARE(choice.transition, listed(m, swipe));
		QCOMPARE(choice.durationMs, 450);
		QCOMPARE(choice.label, QString("override"));
		m->setCurrentScene(c, -1, "manual");
		QVERIFY(ObsTestEnv::logContains(logLine("Cut", "cut_transition", 0, "C", "vertical", "manual")));
	}

	void followingTheMainTransition()
	{
		OBSSourceAutoRelease mainCut = obs_source_create_private("cut_transition", "Main Cut", nullptr);
		OBSSourceAutoRelease mainFade = obs_source_create_private("fade_transition", "Main Fade", nullptr);

		TransitionChoice cut = m->chooseTransition(b, 500, mainCut, true, nullptr);
		QCOMPARE(cut.transition, listed(m, kCutUuid));
		QCOMPARE(cut.durationMs, 0);
		QCOMPARE(cut.label, QString("main"));

		TransitionChoice fade = m->chooseTransition(b, 500, mainFade, true, nullptr);
		QVERIFY(fade.transition);
		QVERIFY(fade.transition != mainFade.Get());
		for (const TransitionInfo &info : m->transitions())
			QVERIFY(fade.transition != listed(m, info.uuid));
		QCOMPARE(QString::fromUtf8(obs_source_get_id(fade.transition)), QString("fade_transition"));
		QCOMPARE(fade.durationMs, 500);
		QCOMPARE(fade.label, QString("main"));

		m->setCurrentScene(b, 500, "scene_changed", mainFade, true);
		QVERIFY(ObsTestEnv::logContains(
			logLine("Main Fade", "fade_transition", 500, "B", "main", "scene_changed")));
		QVERIFY(waitForTransitionEnd(m));
		QCOMPARE(shownSceneUuid(m), uuidOf(b));

		m->setCurrentScene(c, 0, "scene_changed", mainCut, true);
		QVERIFY(ObsTestEnv::logContains(logLine("Cut", "cut_transition", 0, "C", "main", "scene_changed")));
		QCOMPARE(shownSceneUuid(m), uuidOf(c));

		// Not following, or following with the option off, uses the vertical selection.
		TransitionChoice own = m->chooseTransition(b, 500, mainFade, false, nullptr);
		QCOMPARE(own.transition, listed(m, kFadeUuid));
		QCOMPARE(own.durationMs, 300);
		QCOMPARE(own.label, QString("vertical"));
		config().matchMainTransition = false;
		own = m->chooseTransition(b, 500, mainCut, true, nullptr);
		QCOMPARE(own.transition, listed(m, kFadeUuid));
		QCOMPARE(own.durationMs, 300);
		QCOMPARE(own.label, QString("vertical"));
	}

	void fixedTransitionLogsAtItsEnd()
	{
		bool stinger = false;
		const char *id = nullptr;
		for (size_t i = 0; obs_enum_transition_types(i, &id); i++)
			stinger |= strcmp(id, "obs_stinger_transition") == 0;
		if (!stinger)
			QSKIP("no fixed-duration transition type is registered");
		QVERIFY(m->addTransition("obs_stinger_transition", "Stinger"));
		QString uuid = uuidNamed(m, "Stinger");
		if (!m->isTransitionFixed(uuid))
			QSKIP("the stinger has no fixed duration without a media file");

		m->setCurrentScene(b, -1, "manual");
		QCOMPARE(m->currentSceneUuid(), uuidOf(b));
		QVERIFY(!ObsTestEnv::logContains("[stilwane] vertical transition 'Stinger'"));
		QVERIFY(ObsTestEnv::waitUntil(
			[] { return ObsTestEnv::logContains("[stilwane] vertical transition 'Stinger'"); }));
		QVERIFY(ObsTestEnv::logContains("(obs_stinger_transition)"));
		QVERIFY(ObsTestEnv::logContains("-> 'B' (source=vertical, trigger=manual)"));
		QCOMPARE(countLog("[stilwane] vertical transition 'Stinger'"), 1);
		QCOMPARE(shownSceneUuid(m), uuidOf(b));
	}
};

STILWANE_TEST_MAIN(TestTransitions)
#include "test_transitions.moc"
