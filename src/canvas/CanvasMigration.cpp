// SPDX-License-Identifier: GPL-2.0-or-later
#include <canvas/CanvasMigration.hpp>

#include <canvas/CanvasManager.hpp>

#include <common/Module.hpp>

#include <QString>
#include <QUuid>

#include <algorithm>

#include <obs-frontend-api.h>

namespace stilwane {

namespace {

struct SavedGroup {
	int64_t id = 0;
	bool selected = false;
	OBSDataArrayAutoRelease saved;
};

struct SceneMove {
	OBSSourceAutoRelease source;
	std::vector<int64_t> itemIds;
	std::vector<SavedGroup> groups;
};

bool hasItem(obs_scene_t *scene, int64_t id)
{
	return obs_scene_find_sceneitem_by_id(scene, id) != nullptr;
}

} // namespace

bool CanvasMigration::moveScenes(obs_canvas_t *from, obs_canvas_t *to)
{
	if (!from || !to || from == to || obs_canvas_removed(from) || obs_canvas_removed(to))
		return false;

	std::vector<SceneMove> moves;
	obs_canvas_enum_scenes(
		from,
		[](void *param, obs_source_t *source) {
			// A group moves with the scene that holds it; it has no scene of its own to move.
			if (source && !obs_source_removed(source) && !obs_source_is_group(source)) {
				auto *list = static_cast<std::vector<SceneMove> *>(param);
				list->push_back({});
				list->back().source = obs_source_get_ref(source);
			}
			return true;
		},
		&moves);

	for (SceneMove &move : moves) {
		obs_scene_t *scene = obs_scene_from_source(move.source);
		auto collect = [](obs_scene_t *, obs_sceneitem_t *item, void *param) {
			auto *m = static_cast<SceneMove *>(param);
			m->itemIds.push_back(obs_sceneitem_get_id(item));
			if (obs_sceneitem_is_group(item)) {
				SavedGroup group;
				group.id = obs_sceneitem_get_id(item);
				group.selected = obs_sceneitem_selected(item);
				group.saved = obs_data_array_create();
				obs_sceneitem_save(item, group.saved);
				m->groups.push_back(std::move(group));
			}
			return true;
		};
		if (scene)
			obs_scene_enum_items(scene, collect, &move);
	}

	for (SceneMove &move : moves) {
		OBSCanvasAutoRelease owner = obs_source_get_canvas(move.source);
		obs_scene_t *scene = obs_scene_from_source(move.source);
		if (scene && owner.Get() != to)
			obs_canvas_move_scene(scene, to);
	}

	bool lossless = true;
	for (SceneMove &move : moves) {
		obs_scene_t *scene = obs_scene_from_source(move.source);
		OBSCanvasAutoRelease owner = obs_source_get_canvas(move.source);
		if (!scene || owner.Get() != to) {
			lossless = false;
			continue;
		}
		for (SavedGroup &group : move.groups) {
			if (hasItem(scene, group.id))
				continue;
			obs_sceneitems_add(scene, group.saved);
			obs_sceneitem_t *item = obs_scene_find_sceneitem_by_id(scene, group.id);
			if (item)
				obs_sceneitem_select(item, group.selected);
			else
				lossless = false;
		}
	}

	for (SceneMove &move : moves) {
		obs_scene_t *scene = obs_scene_from_source(move.source);
		if (!scene)
			continue;
		for (size_t index = 0; index < move.itemIds.size(); index++) {
			obs_sceneitem_t *item = obs_scene_find_sceneitem_by_id(scene, move.itemIds[index]);
			if (item)
				obs_sceneitem_set_order_position(item, (int)index);
			else
				lossless = false;
		}
	}
	return lossless;
}

OBSCanvasAutoRelease CanvasMigration::recreateWithVideo(obs_canvas_t *restored, obs_video_info &ovi)
{
	OBSCanvasAutoRelease fresh =
		addPreparingCanvas(ovi, obs_canvas_get_flags(restored) & (ACTIVATE | MIX_AUDIO | SCENE_REF));
	if (!fresh)
		return nullptr;
	// Scenes keep their uuids, items, order and hotkeys; the restored canvas is left empty.
	if (!moveScenes(restored, fresh))
		stilwaneLog(LOG_WARNING, "vertical canvas restore could not keep every scene item");
	retireCanvas(restored, fresh);
	obs_frontend_remove_canvas(restored);
	stilwaneLog(LOG_INFO, "vertical canvas given video while outputs run: %s -> %s", obs_canvas_get_uuid(restored),
		    obs_canvas_get_uuid(fresh));
	return fresh;
}

OBSCanvasAutoRelease CanvasMigration::addPreparingCanvas(obs_video_info &ovi, uint32_t flags)
{
	// A name of its own until it takes the canvas's place: libobs keeps canvas names unique.
	const QString preparing =
		QString("%1 (preparing %2)").arg(kCanvasName, QUuid::createUuid().toString(QUuid::WithoutBraces));
	OBSCanvasAutoRelease fresh = obs_frontend_add_canvas(preparing.toUtf8().constData(), &ovi, int(flags));
	if (fresh && !obs_canvas_has_video(fresh)) {
		obs_frontend_remove_canvas(fresh);
		return nullptr;
	}
	return fresh;
}

void CanvasMigration::retireCanvas(obs_canvas_t *old, obs_canvas_t *fresh)
{
	recordRetiredCanvas(old);
	const QString name = QString("%1 (retired %2)").arg(kCanvasName, QString::fromUtf8(obs_canvas_get_uuid(old)));
	obs_canvas_set_name(old, name.toUtf8().constData());
	obs_canvas_set_name(fresh, kCanvasName);
}

void CanvasMigration::recordRetiredCanvas(obs_canvas_t *canvas)
{
	RetiredCanvasRecord record;
	obs_canvas_enum_scenes(
		canvas,
		[](void *param, obs_source_t *source) {
			if (source)
				static_cast<RetiredCanvasRecord *>(param)->scenes.push_back(OBSGetWeakRef(source));
			return true;
		},
		&record);
	if (record.scenes.empty())
		return;
	record.canvas = canvas;
	retired.push_back(std::move(record));
}

void CanvasMigration::cleanRetiredCanvases(obs_canvas_t *current)
{
	std::vector<std::vector<bool>> marked(retired.size());
	for (size_t r = 0; r < retired.size(); r++) {
		RetiredCanvasRecord &record = retired[r];
		marked[r].assign(record.scenes.size(), false);
		if (record.canvas == current)
			continue;
		for (size_t i = 0; i < record.scenes.size(); i++) {
			OBSSourceAutoRelease scene = obs_weak_source_get_source(record.scenes[i]);
			OBSCanvasAutoRelease owner = scene ? obs_source_get_canvas(scene) : nullptr;
			marked[r][i] = !scene || owner.Get() != record.canvas.Get();
		}
	}
	while (obs_wait_for_destroy_queue()) {
	}
	for (size_t r = retired.size(); r-- > 0;) {
		RetiredCanvasRecord &record = retired[r];
		for (size_t i = record.scenes.size(); i-- > 0;) {
			if (marked[r][i])
				record.scenes.erase(record.scenes.begin() + std::ptrdiff_t(i));
		}
		if (record.scenes.empty()) {
			record.canvas = nullptr;
			retired.erase(retired.begin() + std::ptrdiff_t(r));
		}
	}
}

void CanvasMigration::dropRemovedRetiredCanvases()
{
	for (size_t r = retired.size(); r-- > 0;) {
		RetiredCanvasRecord &record = retired[r];
		if (!obs_canvas_removed(record.canvas))
			continue;
		// The scenes' weak references go before the canvas, whose destruction may free them.
		record.scenes.clear();
		record.canvas = nullptr;
		retired.erase(retired.begin() + std::ptrdiff_t(r));
	}
}

} // namespace stilwane
