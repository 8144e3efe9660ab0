// SPDX-License-Identifier: GPL-2.0-or-later
// SceneHold against real libobs: while held, removing a canvas's scenes from inside
// obs_canvas_enum_scenes (as OBS does when it clears a collection) frees none of them mid-enumeration,
// so every scene is reached and removed; released, they are destroyed.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <canvas/SceneHold.hpp>

#include <ObsTestEnv.hpp>
#include <TestMain.hpp>

#include <vector>

#include <obs.hpp>

using namespace stilwane;

namespace {

struct Clearing {
	std::vector<OBSWeakSource> removed;
	int freedMidway = 0; // scenes already freed when the enumeration stepped past them
};

bool alive(obs_weak_source_t *weak)
{
	OBSSourceAutoRelease source = obs_weak_source_get_source(weak);
	return source != nullptr;
}

// What OBS's collection clearing does with each canvas.
Clearing removeInsideEnumeration(obs_canvas_t *canvas)
{
	Clearing clearing;
	obs_canvas_enum_scenes(
		canvas,
		[](void *param, obs_source_t *scene) {
			auto *c = static_cast<Clearing *>(param);
			for (OBSWeakSource &weak : c->removed)
				if (!alive(weak))
					c->freedMidway++;
			OBSWeakSourceAutoRelease weak = obs_source_get_weak_source(scene);
			c->removed.emplace_back(weak.Get());
			obs_source_remove(scene);
			return true;
		},
		&clearing);
	return clearing;
}

int sceneCount(obs_canvas_t *canvas)
{
	int count = 0;
	obs_canvas_enum_scenes(
		canvas,
		[](void *param, obs_source_t *) {
			++*static_cast<int *>(param);
			return true;
		},
		&count);
	return count;
}

} // namespace

class TestSceneHold : public QObject {
	Q_OBJECT

private slots:
	void heldScenesSurviveTheirRemovalUntilReleased_data()
	{
		QTest::addColumn<int>("scenes");
		QTest::newRow("no scene") << 0;
		QTest::newRow("one scene") << 1;
		QTest::newRow("five scenes") << 5;
	}

	void heldScenesSurviveTheirRemovalUntilReleased()
	{
		QFETCH(int, scenes);
		OBSCanvasAutoRelease canvas = obs_canvas_create_private("scene hold test", nullptr, SCENE_REF);
		QVERIFY(canvas);
		std::vector<OBSWeakSource> created;
		for (int i = 0; i < scenes; i++) {
			obs_scene_t *scene = obs_canvas_scene_create(canvas, QByteArray::number(i).constData());
			OBSWeakSourceAutoRelease weak = obs_source_get_weak_source(obs_scene_get_source(scene));
			created.emplace_back(weak.Get());
			obs_scene_release(scene); // the canvas holds it from here on
		}

		SceneHold hold;
		hold.hold(canvas);
		QCOMPARE(int(hold.size()), scenes);

		Clearing clearing = removeInsideEnumeration(canvas);
		QCOMPARE(int(clearing.removed.size()), scenes);
		QCOMPARE(clearing.freedMidway, 0);
		QCOMPARE(sceneCount(canvas), 0);
		for (OBSWeakSource &weak : created) {
			OBSSourceAutoRelease source = obs_weak_source_get_source(weak);
			QVERIFY(source);
			QVERIFY(obs_source_removed(source));
		}

		hold.release();
		QCOMPARE(int(hold.size()), 0);
		obs_wait_for_destroy_queue();
		for (OBSWeakSource &weak : created)
			QVERIFY(!alive(weak));
	}

	void holdsAddUpAndNullHoldsNothing()
	{
		OBSCanvasAutoRelease canvas = obs_canvas_create_private("scene hold sum", nullptr, SCENE_REF);
		obs_scene_t *scene = obs_canvas_scene_create(canvas, "only");
		OBSWeakSourceAutoRelease weak = obs_source_get_weak_source(obs_scene_get_source(scene));
		obs_scene_release(scene);

		SceneHold hold;
		hold.hold(nullptr);
		QCOMPARE(int(hold.size()), 0);
		hold.hold(canvas);
		hold.hold(canvas);
		QCOMPARE(int(hold.size()), 2);
		hold.release();
		hold.release();
		QVERIFY(alive(weak)); // the canvas still holds it
		OBSSourceAutoRelease source = obs_weak_source_get_source(weak);
		obs_source_remove(source);
	}
};

STILWANE_TEST_MAIN(TestSceneHold)
#include "test_scene_hold.moc"
