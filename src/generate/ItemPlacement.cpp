// SPDX-License-Identifier: GPL-2.0-or-later
#include <generate/ItemPlacement.hpp>

#include <canvas/CanvasManager.hpp>

#include <algorithm>

namespace stilwane {

namespace {

constexpr uint32_t kTopLeft = OBS_ALIGN_LEFT | OBS_ALIGN_TOP;

float canvasW()
{
	return (float)CanvasManager::instance()->canvasWidth();
}

float canvasH()
{
	return (float)CanvasManager::instance()->canvasHeight();
}

} // namespace

ContentSize itemContentSize(obs_sceneitem_t *item)
{
	ContentSize size;
	if (!item)
		return size;
	obs_source_t *source = obs_sceneitem_get_source(item);
	obs_sceneitem_crop crop = {};
	obs_sceneitem_get_crop(item, &crop);
	size.width = std::max(0.0f, (float)obs_source_get_width(source) - (float)(crop.left + crop.right));
	size.height = std::max(0.0f, (float)obs_source_get_height(source) - (float)(crop.top + crop.bottom));
	return size;
}

void placeItem(obs_sceneitem_t *item, float x, float y, float scale, const obs_sceneitem_crop *crop)
{
	if (!item)
		return;
	obs_sceneitem_defer_update_begin(item);
	obs_sceneitem_set_bounds_type(item, OBS_BOUNDS_NONE);
	obs_sceneitem_set_alignment(item, kTopLeft);
	if (crop)
		obs_sceneitem_set_crop(item, crop);
	vec2 s = {};
	vec2_set(&s, scale, scale);
	obs_sceneitem_set_scale(item, &s);
	vec2 pos = {};
	vec2_set(&pos, x, y);
	obs_sceneitem_set_pos(item, &pos);
	obs_sceneitem_defer_update_end(item);
}

void fitItemToWidth(obs_sceneitem_t *item)
{
	ContentSize size = itemContentSize(item);
	if (!item || size.width <= 0.0f)
		return;
	float s = canvasW() / size.width;
	placeItem(item, 0.0f, (canvasH() - s * size.height) * 0.5f, s, nullptr);
}

void fitItemToHeight(obs_sceneitem_t *item)
{
	ContentSize size = itemContentSize(item);
	if (!item || size.height <= 0.0f)
		return;
	float s = canvasH() / size.height;
	placeItem(item, (canvasW() - s * size.width) * 0.5f, 0.0f, s, nullptr);
}

void centerItemInCanvas(obs_sceneitem_t *item)
{
	if (!item)
		return;
	ContentSize size = itemContentSize(item);
	vec2 scale = {};
	obs_sceneitem_get_scale(item, &scale);
	obs_sceneitem_defer_update_begin(item);
	obs_sceneitem_set_alignment(item, kTopLeft);
	vec2 pos = {};
	vec2_set(&pos, (canvasW() - scale.x * size.width) * 0.5f, (canvasH() - scale.y * size.height) * 0.5f);
	obs_sceneitem_set_pos(item, &pos);
	obs_sceneitem_defer_update_end(item);
}

bool fitIfWider(obs_sceneitem_t *item)
{
	if (!item)
		return false;
	obs_source_t *source = obs_sceneitem_get_source(item);
	uint32_t width = obs_source_get_width(source);
	if (width == 0 || obs_source_get_height(source) == 0)
		return false;
	if ((float)width > canvasW())
		fitItemToWidth(item);
	return true;
}

} // namespace stilwane
