// SPDX-License-Identifier: GPL-2.0-or-later
#include <preview/PreviewDock.hpp>

#include <canvas/CanvasManager.hpp>
#include <preview/GuideOverlays.hpp>
#include <preview/PreviewDraw.hpp>

#include <algorithm>
#include <array>
#include <cmath>

#include <graphics/matrix4.h>
#include <graphics/vec3.h>

namespace stilwane {

LetterboxSize letterboxSize(uint32_t cx, uint32_t cy, uint32_t canvasWidth, uint32_t canvasHeight)
{
	const uint64_t w = canvasWidth;
	const uint64_t h = canvasHeight;
	// The first branch implies h > 0; only an empty canvas reaches the second with w == 0.
	if (w * cy < uint64_t(cx) * h)
		return {uint32_t(w * cy / h), cy};
	return {cx, w ? uint32_t(uint64_t(cx) * h / w) : 0u};
}

namespace {

// Everything below runs on the libobs graphics thread, inside the canvas projection.

constexpr DrawColour kSelectionRed{1.0f, 0.3f, 0.3f, 1.0f};
constexpr DrawColour kUncroppedGreen{0.3f, 1.0f, 0.4f, 0.8f};

// Top-left, top-right, bottom-right, bottom-left of the item's box.
std::array<DrawPoint, 4> itemCorners(obs_sceneitem_t *item)
{
	matrix4 transform;
	obs_sceneitem_get_box_transform(item, &transform);
	const float unit[4][2] = {{0.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 1.0f}, {0.0f, 1.0f}};
	std::array<DrawPoint, 4> corners;
	for (size_t i = 0; i < corners.size(); i++) {
		vec3 in;
		vec3 out;
		vec3_set(&in, unit[i][0], unit[i][1], 0.0f);
		vec3_transform(&out, &in, &transform);
		corners[i] = {out.x, out.y};
	}
	return corners;
}

// scale: display pixels per canvas pixel, so that the handles keep their size at any zoom.
void drawSelection(obs_sceneitem_t *item, float scale)
{
	const std::array<DrawPoint, 4> c = itemCorners(item);
	drawSolid({c[0], c[1], c[2], c[3], c[0]}, kSelectionRed, GS_LINESTRIP);

	obs_sceneitem_crop crop = {};
	obs_sceneitem_get_crop(item, &crop);
	if (crop.left || crop.top || crop.right || crop.bottom) {
		vec2 itemScale;
		obs_sceneitem_get_scale(item, &itemScale);
		obs_source_t *source = obs_sceneitem_get_source(item);
		const float sx = std::fabs(itemScale.x);
		const float sy = std::fabs(itemScale.y);
		const float x0 = c[0].x - sx * float(crop.left);
		const float y0 = c[0].y - sy * float(crop.top);
		drawRectOutline(x0, y0, x0 + float(obs_source_get_width(source)) * sx,
				y0 + float(obs_source_get_height(source)) * sy, kUncroppedGreen);
	}

	const float handle = 4.0f / scale;
	for (const DrawPoint &corner : c)
		drawHandle(corner.x, corner.y, handle, kSelectionRed);
}

// Draws inside the scene's enumeration, which holds the scene lock, so that the user-interface
// thread cannot remove the item while it is drawn.
void drawSelectedItem(obs_scene_t *scene, int64_t id, float scale)
{
	struct Target {
		int64_t id;
		float scale;
	} target{id, scale};
	obs_scene_enum_items(
		scene,
		[](obs_scene_t *, obs_sceneitem_t *item, void *param) {
			auto *t = static_cast<Target *>(param);
			if (obs_sceneitem_get_id(item) != t->id)
				return true;
			if (!obs_sceneitem_locked(item))
				drawSelection(item, t->scale);
			return false;
		},
		&target);
}

struct CanvasView {
	uint32_t width = 0;
	uint32_t height = 0;
	float scale = 0.0f;
};

// Pushes a projection of canvas pixels onto the centred, letterboxed viewport. False (nothing
// pushed) when the canvas has no video or either size is empty.
bool beginCanvasView(obs_canvas_t *canvas, uint32_t cx, uint32_t cy, CanvasView &view)
{
	obs_video_info ovi = {};
	if (!obs_canvas_get_video_info(canvas, &ovi) || ovi.base_width == 0 || ovi.base_height == 0 || cx == 0 ||
	    cy == 0)
		return false;
	view.width = ovi.base_width;
	view.height = ovi.base_height;
	const LetterboxSize box = letterboxSize(cx, cy, view.width, view.height);

	gs_viewport_push();
	gs_projection_push();
	gs_ortho(0.0f, float(view.width), 0.0f, float(view.height), -100.0f, 100.0f);
	gs_set_viewport((int(cx) - int(box.width)) / 2, (int(cy) - int(box.height)) / 2, int(box.width),
			int(box.height));
	view.scale = std::min(float(cy) / float(view.height), float(cx) / float(view.width));
	return true;
}

void endCanvasView()
{
	gs_load_vertexbuffer(nullptr);
	gs_projection_pop();
	gs_viewport_pop();
}

} // namespace

void PreviewDock::renderPreview(void *data, uint32_t cx, uint32_t cy)
{
	auto *dock = static_cast<PreviewDock *>(data);
	obs_canvas_t *canvas = nullptr;
	obs_source_t *scene = nullptr;
	{
		std::lock_guard<std::mutex> lock(dock->renderLock);
		canvas = dock->weakCanvas ? obs_weak_canvas_get_canvas(dock->weakCanvas) : nullptr;
		scene = obs_weak_source_get_source(dock->weakEditingScene);
	}

	CanvasView view;
	if (canvas && beginCanvasView(canvas, cx, cy, view)) {
		const float w = float(view.width);
		const float h = float(view.height);
		if (dock->studioModeActive) {
			// The editing scene is drawn on its own, without the canvas's black behind it.
			drawSolid({{0.0f, 0.0f}, {w, 0.0f}, {0.0f, h}, {w, h}}, {0.0f, 0.0f, 0.0f, 1.0f}, GS_TRISTRIP);
			if (scene)
				obs_source_video_render(scene);
		} else {
			// Colour only: empty parts of the canvas are transparent, and blended they would take
			// the display's grey instead of the black that the encoded picture has.
			obs_render_canvas_texture_src_color_only(canvas);
		}

		const bool guides = dock->showGuides;
		const bool phoneUi = dock->showPhoneUi;
		if (guides || phoneUi) {
			std::lock_guard<std::mutex> lock(dock->renderLock);
			if (phoneUi && dock->phoneUiTexture)
				drawOverlayTexture(dock->phoneUiTexture.get(), w, h);
			if (guides) {
				drawGuideLines(w, h, dock->safeFrame);
				if (dock->safeLabelTexture)
					drawOverlayTexture(dock->safeLabelTexture.get(), w, h);
			}
		}

		const int64_t id = CanvasManager::instance()->selectedItemId();
		if (id >= 0 && scene)
			drawSelectedItem(obs_scene_from_source(scene), id, view.scale);
		endCanvasView();
	}
	obs_source_release(scene);
	if (canvas)
		obs_canvas_release(canvas);
}

void PreviewDock::renderProgram(void *data, uint32_t cx, uint32_t cy)
{
	auto *dock = static_cast<PreviewDock *>(data);
	if (!dock->studioModeActive)
		return;
	obs_canvas_t *canvas = nullptr;
	{
		std::lock_guard<std::mutex> lock(dock->renderLock);
		canvas = dock->weakCanvas ? obs_weak_canvas_get_canvas(dock->weakCanvas) : nullptr;
	}
	CanvasView view;
	if (canvas && beginCanvasView(canvas, cx, cy, view)) {
		obs_render_canvas_texture_src_color_only(canvas);
		endCanvasView();
	}
	if (canvas)
		obs_canvas_release(canvas);
}

} // namespace stilwane
