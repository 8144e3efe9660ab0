// SPDX-License-Identifier: GPL-2.0-or-later
#include <plugin/SelfTest.hpp>

#include <canvas/CanvasManager.hpp>
#include <generate/LayoutTemplates.hpp>
#include <common/Module.hpp>

#include <QTimer>

#include <obs-frontend-api.h>

namespace stilwane {

namespace {

obs_source_t *findOrCreateColorSource(obs_scene_t *mainScene)
{
	obs_source_t *color = obs_get_source_by_name("selftest-color");
	if (color)
		return color;
	OBSDataAutoRelease settings = obs_data_create();
	obs_data_set_int(settings, "color", 0xFFE08A1A);
	obs_data_set_int(settings, "width", 640);
	obs_data_set_int(settings, "height", 360);
	color = obs_source_create("color_source_v3", "selftest-color", settings, nullptr);
	if (color)
		obs_scene_add(mainScene, color);
	return color;
}

void logItems(obs_source_t *scene)
{
	obs_scene_enum_items(
		obs_scene_from_source(scene),
		[](obs_scene_t *, obs_sceneitem_t *item, void *) {
			vec2 pos, scale;
			obs_sceneitem_crop crop;
			obs_sceneitem_get_pos(item, &pos);
			obs_sceneitem_get_scale(item, &scale);
			obs_sceneitem_get_crop(item, &crop);
			stilwaneLog(LOG_INFO,
				    "[selftest]   item '%s' pos=(%.1f,%.1f) scale=%.4f crop=(l%d t%d r%d b%d)",
				    obs_source_get_name(obs_sceneitem_get_source(item)), pos.x, pos.y, scale.x,
				    crop.left, crop.top, crop.right, crop.bottom);
			return true;
		},
		nullptr);
}

} // namespace

void SelfTest::run()
{
	CanvasManager *manager = CanvasManager::instance();
	OBSSourceAutoRelease mainScene = obs_frontend_get_current_scene();
	if (!manager->hasCanvas() || !mainScene) {
		stilwaneLog(LOG_WARNING, "[selftest] no canvas or no main scene");
		return;
	}
	OBSSourceAutoRelease color = findOrCreateColorSource(obs_scene_from_source(mainScene));

	obs_video_info ovi = {};
	obs_canvas_get_video_info(manager->canvas(), &ovi);
	stilwaneLog(LOG_INFO, "[selftest] main scene '%s' %ux%u, canvas %ux%u, video=%p",
		    obs_source_get_name(mainScene), obs_source_get_width(mainScene), obs_source_get_height(mainScene),
		    manager->canvasWidth(), manager->canvasHeight(), (void *)obs_canvas_get_video(manager->canvas()));

	const std::pair<TemplateKind, const char *> plan[] = {{TemplateKind::CenterCrop, "selftest-crop"},
							      {TemplateKind::FitWidth, "selftest-fit"},
							      {TemplateKind::Stacked, "selftest-stacked"},
							      {TemplateKind::Thirds, "selftest-thirds"}};
	for (const auto &[kind, name] : plan) {
		if (manager->sceneNameExists(name))
			continue;
		OBSSourceAutoRelease scene =
			generateVerticalScene(mainScene, kind, ExtraSources{color, color}, name, true);
		if (!scene) {
			stilwaneLog(LOG_WARNING, "[selftest] generate failed for %s", name);
			continue;
		}
		stilwaneLog(LOG_INFO, "[selftest] generated '%s'", name);
		logItems(scene);
	}

	OBSSourceAutoRelease stacked = manager->findSceneByName("selftest-stacked");
	if (stacked) {
		manager->setCurrentScene(stacked, -1, "manual");
		int64_t last = -1;
		obs_scene_enum_items(
			obs_scene_from_source(stacked),
			[](obs_scene_t *, obs_sceneitem_t *item, void *param) {
				if (!obs_sceneitem_locked(item))
					*static_cast<int64_t *>(param) = obs_sceneitem_get_id(item);
				return true;
			},
			&last);
		manager->selectItem(last);
		stilwaneLog(LOG_INFO, "[selftest] selected item id %lld", (long long)last);
	}

	stilwaneLog(LOG_INFO, "[selftest] vertical scenes: %zu, current '%s'", (size_t)manager->scenes().size(),
		    manager->currentSceneUuid().toUtf8().constData());
	QTimer::singleShot(1500, []() { obs_frontend_save(); });
}

} // namespace stilwane
