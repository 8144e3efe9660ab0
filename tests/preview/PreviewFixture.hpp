// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// Shared by the preview tests. Include after <QtTest>: libobs's SIMD macros break the compiler's
// intrinsics headers included after them.

#include <canvas/CanvasManager.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>

#include <ObsTestEnv.hpp>
#include <PluginFixture.hpp>
#include <TestFrontend.hpp>

#include <QTemporaryDir>

#include <obs.hpp>
#include <util/text-lookup.h>

using namespace stilwane;

namespace previewtest {

// A configuration of its own, the English locale, a fresh front end and no vertical canvas until a
// test loads one.
class Fixture : public PluginFixture {
public:
	CanvasManager *m = CanvasManager::instance();

	void init() { freshConfig(); }

	void cleanup()
	{
		m->setStudioMode(false);
		m->releaseCanvas();
		fe.reset();
	}

	// The canvas as the plug-in makes it ready for a collection without an object.
	void loadCanvas()
	{
		m->loadFromCollection(nullptr);
		m->setStudioMode(false);
	}

	// A colour source of the given size (colour 0xAABBGGRR, as color_source_v3 takes it) added to the
	// scene; the item is owned by the scene.
	static obs_sceneitem_t *addColour(obs_scene_t *scene, const char *name, uint32_t abgr, int width, int height)
	{
		OBSDataAutoRelease settings = obs_data_create();
		obs_data_set_int(settings, "color", abgr);
		obs_data_set_int(settings, "width", width);
		obs_data_set_int(settings, "height", height);
		OBSSourceAutoRelease colour = obs_source_create("color_source_v3", name, settings, nullptr);
		return obs_scene_add(scene, colour);
	}
};

} // namespace previewtest
