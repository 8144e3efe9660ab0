// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <vector>

#include <obs.hpp>

namespace stilwane {

// A canvas that handed its name to a newer one, held while scenes of it remain in it.
struct RetiredCanvasRecord {
	// The retired canvas: its scenes stay alive (SCENE_REF) and in place as long as it lives.
	OBSCanvas canvas;
	// Its scenes when it retired; each is let go once gone or moved elsewhere.
	std::vector<OBSWeakSource> scenes;
};

// Moves the vertical scenes into a new canvas when the current one cannot be changed in place (a new
// size or video while anything outputs, a new audio flag), and keeps the canvases they left until no
// scene of theirs is left behind. User-interface thread only.
//
// It relies on these behaviours of libobs 32 (obs-canvas.c, obs.c):
// - obs_canvas_reset_video refuses while obs_video_active(), which counts every raw or GPU-encoder
//   output of any mix, OBS's own stream, recording and virtual camera included.
// - obs_canvas_create (and so obs_frontend_add_canvas) gives a canvas video at any time: making its
//   mix does not look at obs_video_active().
// - obs_canvas_remove only marks the canvas removed and signals it; its name and uuid stay registered
//   (obs_get_canvas_by_uuid finds it, obs_canvas_set_name renames it) until its last reference goes
//   and obs_canvas_destroy unregisters them.
// - Canvas names and uuids are unique: a newcomer with a taken name gets a numbered name, one with a
//   taken uuid a new uuid. Hence the temporary name of a canvas being prepared, and the renaming of
//   the old canvas before the new one takes the name.
// - obs_load_source puts a scene into the canvas it finds by the saved uuid through
//   obs_get_canvas_by_uuid, a removed canvas still held included; only an unknown uuid falls back to
//   the main canvas.
// - A SCENE_REF canvas holds its scenes: obs_canvas_move_scene hands that reference to the new canvas,
//   and obs_canvas_destroy releases the scenes still in it.
// - obs_canvas_move_scene moves the scene source itself, so its hotkeys and their bindings stay as they
//   are; loading saved bindings again would add every binding a second time (obs_hotkeys_load_source
//   adds, it does not replace).
class CanvasMigration {
public:
	// Moves every scene of from into to with its items, their order, its groups and their selection,
	// and its hotkeys. False when anything could not be kept.
	static bool moveScenes(obs_canvas_t *from, obs_canvas_t *to);
	// A front-end canvas with video under a temporary name, or null.
	static OBSCanvasAutoRelease addPreparingCanvas(obs_video_info &ovi, uint32_t flags);

	// A canvas with video holding the scenes of a restored one that libobs would not give video (it
	// refuses while anything outputs); the restored canvas is retired and removed. Null on failure.
	OBSCanvasAutoRelease recreateWithVideo(obs_canvas_t *restored, obs_video_info &ovi);
	// Hands the canvas name from old to fresh; old is kept apart while scenes of it remain.
	void retireCanvas(obs_canvas_t *old, obs_canvas_t *fresh);
	// Lets go of the retired canvases that no scene of theirs is left in; never of current.
	void cleanRetiredCanvases(obs_canvas_t *current);
	// Lets go of the retired canvases OBS has removed (a collection switch or exit), scenes or not.
	void dropRemovedRetiredCanvases();

private:
	// Keeps old with weak references to its scenes, unless it has none.
	void recordRetiredCanvas(obs_canvas_t *canvas);

	// Retired canvases still holding scenes, oldest first.
	std::vector<RetiredCanvasRecord> retired;
};

} // namespace stilwane
