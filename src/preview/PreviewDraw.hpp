// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <initializer_list>

#include <obs.h>

namespace stilwane {

// Solid-colour drawing for the preview's draw callbacks. Graphics thread only, inside a pushed
// projection whose units are canvas pixels.

struct DrawPoint {
	float x = 0.0f;
	float y = 0.0f;
};

// Straight RGBA, each 0..1.
struct DrawColour {
	float r = 0.0f;
	float g = 0.0f;
	float b = 0.0f;
	float a = 1.0f;
};

void drawSolid(const DrawPoint *vertices, size_t count, const DrawColour &colour, enum gs_draw_mode mode);
void drawSolid(std::initializer_list<DrawPoint> vertices, const DrawColour &colour, enum gs_draw_mode mode);
// A closed one-pixel outline through the four corners.
void drawRectOutline(float x0, float y0, float x1, float y1, const DrawColour &colour);
// A filled square of half-size s centred on (x, y).
void drawHandle(float x, float y, float s, const DrawColour &colour);
// Stretches an overlay picture over the whole W x H canvas, blended by its alpha.
void drawOverlayTexture(gs_texture_t *texture, float width, float height);

} // namespace stilwane
