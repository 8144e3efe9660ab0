// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// Shared by the sources dock tests: the dock in a shown window over the real canvas manager, with
// one vertical scene "V" being edited, and every modal question answered by ModalAnswers.
// Include after <QtTest>: libobs's SIMD macros break the compiler's intrinsics headers included after
// them.

#include "../canvas/CanvasFixture.hpp"
#include <ModalAnswers.hpp>

#include <TestMain.hpp>

#include <docks/SourceList.hpp>
#include <widgets/SourceRow.hpp>
#include <docks/SourcesDock.hpp>

#include <QVBoxLayout>

#include <cmath>
#include <memory>
#include <vector>

using namespace stilwane;

namespace docktest {

inline obs_source_t *colorSource(const char *name, int width, int height)
{
	OBSDataAutoRelease settings = obs_data_create();
	obs_data_set_int(settings, "width", width);
	obs_data_set_int(settings, "height", height);
	return obs_source_create("color_source_v3", name, settings, nullptr);
}

// Bottom first, as libobs orders them.
inline std::vector<int64_t> sceneItemIds(obs_source_t *scene)
{
	std::vector<int64_t> ids;
	obs_scene_enum_items(
		obs_scene_from_source(scene),
		[](obs_scene_t *, obs_sceneitem_t *item, void *param) {
			static_cast<std::vector<int64_t> *>(param)->push_back(obs_sceneitem_get_id(item));
			return true;
		},
		&ids);
	return ids;
}

inline obs_sceneitem_t *findItem(obs_source_t *scene, int64_t id)
{
	return obs_scene_find_sceneitem_by_id(obs_scene_from_source(scene), id);
}

struct Placement {
	float x = 0, y = 0, scaleX = 0, scaleY = 0;
};

inline Placement placementOf(obs_sceneitem_t *item)
{
	vec2 pos, scale;
	obs_sceneitem_get_pos(item, &pos);
	obs_sceneitem_get_scale(item, &scale);
	return {pos.x, pos.y, scale.x, scale.y};
}

// libobs keeps item positions on a half-pixel grid (ties upwards).
inline bool nearPos(float actual, float expected)
{
	return std::fabs(actual - std::floor(expected * 2.0f + 0.5f) / 2.0f) <= 0.01f;
}

inline bool nearScale(float actual, float expected)
{
	return std::fabs(actual - expected) <= 0.0001f;
}

class SourcesDockFixture {
public:
	canvastest::Fixture f;
	CanvasManager *m = f.m;
	TestFrontend &fe = f.fe;
	ModalAnswers answers;
	std::unique_ptr<QWidget> window;
	SourcesDock *dock = nullptr;
	obs_source_t *v = nullptr; // the edited vertical scene, held by the canvas

	void initTestCase()
	{
		f.initTestCase();
		answers.install();
	}

	void cleanupTestCase()
	{
		ModalAnswers::uninstall();
		f.cleanupTestCase();
	}

	// With makeScene false the canvas exists but holds no scene.
	bool init(bool makeScene = true)
	{
		f.init();
		answers.clear();
		f.freshCanvas();
		if (makeScene) {
			v = canvastest::sourceOf(m->addScene("V"));
			// The first scene starts a fade; let it end so that nothing switches under the test.
			if (!canvastest::waitForTransitionEnd(m))
				return false;
		}
		window = std::make_unique<QWidget>();
		auto *layout = new QVBoxLayout(window.get());
		dock = new SourcesDock(window.get());
		layout->addWidget(dock);
		window->resize(300, 400);
		window->show();
		if (!QTest::qWaitForWindowExposed(window.get()))
			return false;
		ObsTestEnv::clearLog();
		return true;
	}

	void cleanup()
	{
		window.reset();
		dock = nullptr;
		v = nullptr;
		answers.clear();
		f.cleanup();
	}

	SourceList *list() const { return dock->sourceList(); }

	// The rows' item ids, top first.
	QList<int64_t> rowIds() const
	{
		QList<int64_t> ids;
		for (int i = 0; i < list()->count(); i++)
			ids << list()->item(i)->data(Qt::UserRole).toLongLong();
		return ids;
	}

	// The scene's item ids, top first, as the rows should show them.
	QList<int64_t> sceneIdsTopFirst(obs_source_t *scene = nullptr) const
	{
		QList<int64_t> ids;
		for (int64_t id : sceneItemIds(scene ? scene : v))
			ids.prepend(id);
		return ids;
	}

	bool rowsFollowScene() const
	{
		return ObsTestEnv::waitUntil([this] { return rowIds() == sceneIdsTopFirst(); });
	}

	int rowOf(int64_t id) const { return rowIds().indexOf(id); }

	// Adds a source to the edited scene; the returned item is held by the scene.
	obs_sceneitem_t *addColor(const char *name, int width = 100, int height = 100)
	{
		OBSSourceAutoRelease source = colorSource(name, width, height);
		return obs_scene_add(obs_scene_from_source(v), source);
	}
};

} // namespace docktest
