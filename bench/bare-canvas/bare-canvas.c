// SPDX-License-Identifier: GPL-2.0-or-later
/* A reference for bench/render-cost: an OBS module that adds nothing but a 1080x1920 canvas showing one
 * colour source, with no dock, no preview and no settings. */

#include <obs-module.h>
#include <obs-frontend-api.h>

OBS_DECLARE_MODULE()

#define CANVAS_WIDTH 1080
#define CANVAS_HEIGHT 1920
/* ABGR, as the colour source stores it; bench/render_cost.py gives Stilwane's canvas the same colour. */
#define CANVAS_COLOR 0xFF8C5A2B

static obs_canvas_t *canvas;
static obs_scene_t *scene;

static void create_canvas(void)
{
	struct obs_video_info ovi;
	if (canvas || !obs_get_video_info(&ovi))
		return;
	ovi.base_width = ovi.output_width = CANVAS_WIDTH;
	ovi.base_height = ovi.output_height = CANVAS_HEIGHT;
	/* The flags Stilwane gives its canvas (without audio mixing, its default). */
	canvas = obs_canvas_create_private("Bare Vertical", &ovi, ACTIVATE | SCENE_REF);
	if (!canvas || !obs_canvas_has_video(canvas)) {
		blog(LOG_ERROR, "[bare-canvas] could not create the canvas");
		obs_canvas_release(canvas);
		canvas = NULL;
		return;
	}

	scene = obs_canvas_scene_create(canvas, "Bare Vertical Scene");
	obs_data_t *settings = obs_data_create();
	obs_data_set_int(settings, "color", CANVAS_COLOR);
	obs_data_set_int(settings, "width", CANVAS_WIDTH);
	obs_data_set_int(settings, "height", CANVAS_HEIGHT);
	obs_source_t *color = obs_source_create_private("color_source_v3", "Bare Vertical Colour", settings);
	obs_scene_add(scene, color);
	obs_source_release(color);
	obs_data_release(settings);

	obs_canvas_set_channel(canvas, 0, obs_scene_get_source(scene));
	blog(LOG_INFO, "[bare-canvas] canvas ready (%ux%u)", CANVAS_WIDTH, CANVAS_HEIGHT);
}

static void release_canvas(void)
{
	if (!canvas)
		return;
	obs_canvas_set_channel(canvas, 0, NULL);
	obs_source_remove(obs_scene_get_source(scene));
	obs_scene_release(scene);
	scene = NULL;
	/* The canvas holds the last reference to its scene and drops it here, with its video. */
	obs_canvas_release(canvas);
	canvas = NULL;
	blog(LOG_INFO, "[bare-canvas] canvas released");
}

static void on_event(enum obs_frontend_event event, void *data)
{
	(void)data;
	if (event == OBS_FRONTEND_EVENT_FINISHED_LOADING)
		create_canvas();
	else if (event == OBS_FRONTEND_EVENT_EXIT)
		release_canvas();
}

bool obs_module_load(void)
{
	obs_frontend_add_event_callback(on_event, NULL);
	return true;
}

/* OBS drops its front-end callbacks after EXIT, so only a canvas that EXIT did not see is left here. */
void obs_module_unload(void)
{
	release_canvas();
}
