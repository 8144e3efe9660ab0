// SPDX-License-Identifier: GPL-2.0-or-later
#include <canvas/CanvasManager.hpp>

#include <canvas/CollectionValues.hpp>

#include <common/Limits.hpp>

namespace stilwane {

void CanvasManager::saveToCollection(obs_data_t *data)
{
	// What was loaded goes back first: keys of other versions survive, and without a canvas to
	// describe (its creation failed) the loaded object is written back unchanged.
	if (loadedObject)
		obs_data_apply(data, loadedObject);
	if (!hasCanvas())
		return;
	obs_data_set_string(data, "canvas_uuid", obs_canvas_get_uuid(canvasRef));
	obs_data_set_int(data, "width", canvasWidth());
	obs_data_set_int(data, "height", canvasHeight());
	obs_data_set_string(data, "current_scene", currentUuid.toUtf8().constData());
	obs_data_set_string(data, "preview_scene", studio ? previewUuid.toUtf8().constData() : "");

	verticalTransitions.save(data);

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
	loadedObject = nullptr;

	if (data) {
		OBSDataAutoRelease copy = obs_data_create();
		obs_data_apply(copy, data);
		loadedObject = copy.Get();
		canvasUuid = QString::fromUtf8(obs_data_get_string(data, "canvas_uuid"));
		// A damaged side must not reach libobs (a "width" of -1 asks it for terabytes): both sides or
		// neither, each within the settings' range; without them the configured size applies.
		const auto width = storedWholeNumber(data, "width", kMinCanvasSide, kMaxCanvasSide);
		const auto height = storedWholeNumber(data, "height", kMinCanvasSide, kMaxCanvasSide);
		if (width && height) {
			storedWidth = uint32_t(*width);
			storedHeight = uint32_t(*height);
		}
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
	verticalTransitions.build(data);
	ensureCanvas();
}

} // namespace stilwane
