#include <canvas/CanvasManager.hpp>

#include <output/VerticalOutput.hpp>
#include <plugin/ConfigRecord.hpp>

#include <QUuid>

#include <obs-frontend-api.h>
#include <util/platform.h>

void CanvasManager::saveToCollection(obs_data_t *data)
{
	if (!hasCanvas())
		return;
	obs_data_set_string(data, "canvas_uuid", obs_canvas_get_uuid(canvasRef));
	obs_data_set_int(data, "width", canvasWidth());
	obs_data_set_int(data, "height", canvasHeight());
	obs_data_set_string(data, "current_scene", currentUuid.toUtf8().constData());
	obs_data_set_string(data, "preview_scene", studio ? previewUuid.toUtf8().constData() : "");

	OBSDataArrayAutoRelease list = obs_data_array_create();
	for (const auto &entry : transitionList) {
		OBSDataAutoRelease item = obs_data_create();
		obs_data_set_string(item, "uuid", entry->uuid.toUtf8().constData());
		obs_data_set_string(item, "name", entry->name.toUtf8().constData());
		obs_data_set_string(item, "type", entry->typeId.toUtf8().constData());
		OBSDataAutoRelease settings = obs_data_create();
		OBSDataAutoRelease current = obs_source_get_settings(entry->source);
		obs_data_apply(settings, current);
		obs_data_set_obj(item, "settings", settings);
		obs_data_array_push_back(list, item);
	}
	obs_data_set_array(data, "vertical_transitions", list);
	obs_data_set_string(data, "selected_transition", selectedTransition.toUtf8().constData());
	obs_data_set_int(data, "transition_duration", transitionDurationMs);

	OBSDataArrayAutoRelease order = obs_data_array_create();
	for (const SceneRef &ref : scenes()) {
		OBSDataAutoRelease item = obs_data_create();
		obs_data_set_string(item, "uuid", ref.uuid.toUtf8().constData());
		obs_data_array_push_back(order, item);
	}
	obs_data_set_array(data, "scene_order", order);
}

void CanvasManager::loadFromCollection(obs_data_t *data)
{
	releaseCanvas();
	dropRemovedRetiredCanvases();

	abandonStudioSwap();
	canvasUuid.clear();
	sceneOrder.clear();
	currentUuid.clear();
	setPreviewScene(nullptr, "collection-load");
	savedPreviewUuid.clear();
	restorePending = true;
	storedWidth = storedHeight = 0;

	if (data) {
		canvasUuid = QString::fromUtf8(obs_data_get_string(data, "canvas_uuid"));
		storedWidth = (uint32_t)obs_data_get_int(data, "width");
		storedHeight = (uint32_t)obs_data_get_int(data, "height");
		currentUuid = QString::fromUtf8(obs_data_get_string(data, "current_scene"));
		savedPreviewUuid = QString::fromUtf8(obs_data_get_string(data, "preview_scene"));
		OBSDataArrayAutoRelease order = obs_data_get_array(data, "scene_order");
		size_t count = order ? obs_data_array_count(order) : 0;
		for (size_t i = 0; i < count; i++) {
			OBSDataAutoRelease item = obs_data_array_item(order, i);
			QString uuid = QString::fromUtf8(obs_data_get_string(item, "uuid"));
			if (!uuid.isEmpty())
				sceneOrder.append(uuid);
		}
	}
	buildTransitions(data);
	ensureCanvas();
}

namespace {

struct SavedGroup {
	int64_t id = 0;
	bool selected = false;
	OBSDataArrayAutoRelease saved;
};

struct SceneMove {
	OBSSourceAutoRelease source;
	OBSDataAutoRelease hotkeys;
	std::vector<int64_t> itemIds;
	std::vector<SavedGroup> groups;
};

bool hasItem(obs_scene_t *scene, int64_t id)
{
	return obs_scene_find_sceneitem_by_id(scene, id) != nullptr;
}

} // namespace

bool CanvasManager::moveScenes(obs_canvas_t *from, obs_canvas_t *to)
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
		move.hotkeys = obs_hotkeys_save_source(move.source);
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
		obs_hotkeys_load_source(move.source, move.hotkeys);
	}
	return lossless;
}

bool CanvasManager::migrateCanvas(bool mixAudio)
{
	if (!hasCanvas() || VerticalOutput::instance()->isAnyOutputBusy())
		return false;

	obs_video_info ovi = {};
	if (!obs_canvas_get_video_info(canvasRef, &ovi))
		ovi = videoInfoFor(canvasWidth(), canvasHeight());

	QString preparing =
		QString("%1 (preparing %2)").arg(kCanvasName, QUuid::createUuid().toString(QUuid::WithoutBraces));
	int flags = ACTIVATE | SCENE_REF | (mixAudio ? MIX_AUDIO : 0);
	obs_canvas_t *fresh = obs_frontend_add_canvas(preparing.toUtf8().constData(), &ovi, flags);
	if (!fresh)
		return false;
	if (!obs_canvas_has_video(fresh)) {
		obs_frontend_remove_canvas(fresh);
		obs_canvas_release(fresh);
		return false;
	}

	obs_canvas_t *old = canvasRef;
	if (!moveScenes(old, fresh))
		blog(LOG_WARNING, "[stilwane] vertical canvas migration could not restore every scene item");

	flushPendingLog(os_gettime_ns());
	obs_canvas_set_channel(old, 0, nullptr);

	canvasRef = fresh;
	canvasUuid = QString::fromUtf8(obs_canvas_get_uuid(fresh));
	recordRetiredCanvas(old);

	QString retired = QString("%1 (retired %2)").arg(kCanvasName, QString::fromUtf8(obs_canvas_get_uuid(old)));
	obs_canvas_set_name(old, retired.toUtf8().constData());
	obs_canvas_set_name(fresh, kCanvasName);

	if (activeTransition)
		obs_canvas_set_channel(canvasRef, 0, activeTransition);

	abandonStudioSwap();
	restoreCurrentScene();

	blog(LOG_INFO, "[stilwane] vertical audio mixAudio: %s", mixAudio ? "on" : "off");
	emitCanvasStateSignals();
	cleanRetiredCanvases();

	obs_frontend_remove_canvas(old);
	obs_canvas_release(old);
	return true;
}

void CanvasManager::recordRetiredCanvas(obs_canvas_t *canvas)
{
	RetiredCanvasRecord record;
	obs_canvas_enum_scenes(
		canvas,
		[](void *param, obs_source_t *source) {
			if (source)
				static_cast<RetiredCanvasRecord *>(param)->scenes.append(
					obs_source_get_weak_source(source));
			return true;
		},
		&record);
	if (record.scenes.isEmpty())
		return;
	record.canvas = obs_canvas_get_ref(canvas);
	retiredCanvases.append(record);
}

void CanvasManager::cleanRetiredCanvases()
{
	QVector<QVector<bool>> marked(retiredCanvases.size());
	for (qsizetype r = 0; r < retiredCanvases.size(); r++) {
		RetiredCanvasRecord &record = retiredCanvases[r];
		marked[r].fill(false, record.scenes.size());
		if (record.canvas == canvasRef)
			continue;
		for (qsizetype i = 0; i < record.scenes.size(); i++) {
			OBSSourceAutoRelease scene = obs_weak_source_get_source(record.scenes[i]);
			OBSCanvasAutoRelease owner = scene ? obs_source_get_canvas(scene) : nullptr;
			marked[r][i] = !scene || owner.Get() != record.canvas;
		}
	}
	while (obs_wait_for_destroy_queue()) {
	}
	for (qsizetype r = retiredCanvases.size() - 1; r >= 0; r--) {
		RetiredCanvasRecord &record = retiredCanvases[r];
		for (qsizetype i = record.scenes.size() - 1; i >= 0; i--) {
			if (marked[r][i]) {
				obs_weak_source_release(record.scenes[i]);
				record.scenes.removeAt(i);
			}
		}
		if (record.scenes.isEmpty()) {
			obs_canvas_release(record.canvas);
			retiredCanvases.removeAt(r);
		}
	}
}

void CanvasManager::dropRemovedRetiredCanvases()
{
	for (qsizetype r = retiredCanvases.size() - 1; r >= 0; r--) {
		RetiredCanvasRecord &record = retiredCanvases[r];
		if (!obs_canvas_removed(record.canvas))
			continue;
		for (obs_weak_source_t *weak : record.scenes)
			obs_weak_source_release(weak);
		obs_canvas_release(record.canvas);
		retiredCanvases.removeAt(r);
	}
}
