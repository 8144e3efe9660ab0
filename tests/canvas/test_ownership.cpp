// SPDX-License-Identifier: GPL-2.0-or-later
// When the manager lets go of the libobs objects it holds: transitions as soon as the canvas is
// released or they leave the list, replaced copies of main transitions once nothing shows them, the
// canvas the scenes moved out of at once, and the canvas of a collection when the collection goes.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "CanvasFixture.hpp"

#include <TestMain.hpp>

using namespace stilwane;

using namespace canvastest;

namespace {

bool alive(obs_weak_source_t *weak)
{
	OBSSourceAutoRelease source = obs_weak_source_get_source(weak);
	return source != nullptr;
}

// Alive and not removed: still usable as a transition.
bool usable(obs_weak_source_t *weak)
{
	OBSSourceAutoRelease source = obs_weak_source_get_source(weak);
	return source && !obs_source_removed(source);
}

bool gone(obs_weak_canvas_t *weak)
{
	OBSCanvasAutoRelease canvas = obs_weak_canvas_get_canvas(weak);
	return canvas == nullptr;
}

QString uuidNamed(CanvasManager *m, const QString &name)
{
	for (const TransitionInfo &info : m->transitions()) {
		if (info.name == name)
			return info.uuid;
	}
	return QString();
}

} // namespace

class TestOwnership : public QObject {
	Q_OBJECT

	Fixture f;
	CanvasManager *m = f.m;
	obs_source_t *b = nullptr;
	OBSSource mainFade;

	// The transition a row watches, made ready as the row says.
	obs_source_t *prepare(const QString &watch)
	{
		if (watch == "fade" || watch == "cut") {
			OBSSourceAutoRelease listed = m->transitionByUuid(watch == "fade" ? kFadeUuid : kCutUuid);
			return listed.Get(); // the list keeps its own reference
		}
		if (watch == "added" || watch == "added-active") {
			if (!m->addTransition("slide_transition", "Slide"))
				return nullptr;
			if (watch == "added")
				m->selectTransition(kFadeUuid);
			OBSSourceAutoRelease added = m->transitionByUuid(uuidNamed(m, "Slide"));
			return added.Get();
		}
		if (watch == "copy")
			return m->chooseTransition(b, 500, mainFade, true, nullptr).transition;
		if (watch == "copy-active") {
			// A main switch of 0 ms: the copy becomes active and is not left running.
			m->setCurrentScene(b, 0, "scene_changed", mainFade, true);
			return m->activeTransitionSource();
		}
		return nullptr;
	}

	void act(const QString &action)
	{
		if (action == "release") {
			m->releaseCanvas();
		} else if (action == "remove") {
			QVERIFY(m->removeTransition(uuidNamed(m, "Slide")));
		} else if (action == "recopy") {
			OBSDataAutoRelease other = obs_data_create();
			obs_data_set_int(other, "duration", 1234);
			QVERIFY(m->chooseTransition(b, 500, mainFade, true, other).transition);
		} else if (action == "select-cut") {
			m->selectTransition(kCutUuid);
			QCOMPARE(m->activeTransitionSource(),
				 m->chooseTransition(b, -1, nullptr, false, nullptr).transition);
		} else {
			QFAIL(qPrintable("unknown action " + action));
		}
	}

private slots:
	void initTestCase() { f.initTestCase(); }
	void cleanupTestCase() { f.cleanupTestCase(); }

	// Scenes A (current) and B; switches of 0 ms, so that no transition is left running.
	void init()
	{
		f.init();
		f.freshCanvas();
		m->setTransitionDuration(0);
		m->addScene("A");
		b = sourceOf(m->addScene("B"));
		OBSSourceAutoRelease made = obs_source_create_private("fade_transition", "Main Fade", nullptr);
		mainFade = made.Get();
	}

	void cleanup()
	{
		mainFade = nullptr;
		f.cleanup();
	}

	void transitions_data()
	{
		QTest::addColumn<QString>("watch");
		QTest::addColumn<QStringList>("actions");
		QTest::addColumn<bool>("alive");

		QTest::newRow("active fade, canvas released") << "fade" << QStringList{"release"} << false;
		QTest::newRow("listed cut, canvas released") << "cut" << QStringList{"release"} << false;
		QTest::newRow("added, canvas released") << "added" << QStringList{"release"} << false;
		QTest::newRow("main copy, canvas released") << "copy" << QStringList{"release"} << false;
		QTest::newRow("active main copy, canvas released") << "copy-active" << QStringList{"release"} << false;
		QTest::newRow("added, removed") << "added" << QStringList{"remove"} << false;
		QTest::newRow("added and active, removed") << "added-active" << QStringList{"remove"} << false;
		QTest::newRow("fade, another selected") << "fade" << QStringList{"select-cut"} << true;
		QTest::newRow("main copy, replaced") << "copy" << QStringList{"recopy"} << false;
		QTest::newRow("active main copy, replaced") << "copy-active" << QStringList{"recopy"} << true;
		QTest::newRow("active main copy, another selected")
			<< "copy-active" << QStringList{"select-cut"} << true;
		QTest::newRow("active main copy, replaced, another selected")
			<< "copy-active" << QStringList{"recopy", "select-cut"} << false;
	}

	void transitions()
	{
		QFETCH(QString, watch);
		QFETCH(QStringList, actions);
		QFETCH(bool, alive);

		obs_source_t *watched = prepare(watch);
		QVERIFY(watched);
		OBSWeakSourceAutoRelease weak = obs_source_get_weak_source(watched);
		watched = nullptr;
		for (const QString &action : actions) {
			act(action);
			if (QTest::currentTestFailed())
				return;
		}
		if (alive)
			QVERIFY(usable(weak));
		else
			// libobs's own threads may hold a source for a moment while they use it.
			QVERIFY(ObsTestEnv::waitUntil([&] { return !::alive(weak); }, 2000));
	}

	void canvasesGo()
	{
		OBSWeakCanvasAutoRelease old = obs_canvas_get_weak_canvas(m->canvas());
		QVERIFY(m->migrateCanvas(true));
		QVERIFY(ObsTestEnv::waitUntil([&] { return gone(old); }, 2000));

		// The new one goes with the collection, as at a collection switch.
		OBSWeakCanvasAutoRelease current = obs_canvas_get_weak_canvas(m->canvas());
		QVERIFY(!gone(current));
		f.fe.switchCollection(nullptr);
		m->releaseCanvas();
		QVERIFY(ObsTestEnv::waitUntil([&] { return gone(current); }, 2000));
	}
};

STILWANE_TEST_MAIN(TestOwnership)
#include "test_ownership.moc"
