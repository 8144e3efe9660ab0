// SPDX-License-Identifier: GPL-2.0-or-later
#include <preview/PreviewDraw.hpp>

#include <graphics/vec4.h>

namespace stilwane {

void drawSolid(const DrawPoint *vertices, size_t count, const DrawColour &colour, enum gs_draw_mode mode)
{
	if (!vertices || count == 0)
		return;
	gs_effect_t *effect = obs_get_base_effect(OBS_EFFECT_SOLID);
	gs_technique_t *technique = gs_effect_get_technique(effect, "Solid");
	if (!technique)
		return;

	vec4 rgba;
	vec4_set(&rgba, colour.r, colour.g, colour.b, colour.a);
	gs_effect_set_vec4(gs_effect_get_param_by_name(effect, "color"), &rgba);

	gs_technique_begin(technique);
	gs_technique_begin_pass(technique, 0);
	gs_render_start(false);
	for (size_t i = 0; i < count; i++)
		gs_vertex2f(vertices[i].x, vertices[i].y);
	gs_render_stop(mode);
	gs_technique_end_pass(technique);
	gs_technique_end(technique);
}

void drawSolid(std::initializer_list<DrawPoint> vertices, const DrawColour &colour, enum gs_draw_mode mode)
{
	drawSolid(vertices.begin(), vertices.size(), colour, mode);
}

void drawRectOutline(float x0, float y0, float x1, float y1, const DrawColour &colour)
{
	drawSolid({{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}, {x0, y0}}, colour, GS_LINESTRIP);
}

void drawHandle(float x, float y, float s, const DrawColour &colour)
{
	drawSolid({{x - s, y - s}, {x + s, y - s}, {x - s, y + s}, {x + s, y + s}}, colour, GS_TRISTRIP);
}

void drawOverlayTexture(gs_texture_t *texture, float width, float height)
{
	if (!texture)
		return;
	gs_effect_t *effect = obs_get_base_effect(OBS_EFFECT_DEFAULT);
	gs_effect_set_texture_srgb(gs_effect_get_param_by_name(effect, "image"), texture);

	gs_blend_state_push();
	gs_enable_blending(true);
	gs_blend_function(GS_BLEND_SRCALPHA, GS_BLEND_INVSRCALPHA);
	while (gs_effect_loop(effect, "Draw"))
		gs_draw_sprite(texture, 0, static_cast<uint32_t>(width), static_cast<uint32_t>(height));
	gs_blend_state_pop();
}

} // namespace stilwane
