// SPDX-License-Identifier: GPL-2.0-or-later
#include <canvas/SceneHold.hpp>

namespace stilwane {

void SceneHold::hold(obs_canvas_t *canvas)
{
	if (!canvas)
		return;
	obs_canvas_enum_scenes(
		canvas,
		[](void *param, obs_source_t *scene) {
			static_cast<std::vector<OBSSource> *>(param)->emplace_back(scene);
			return true;
		},
		&scenes);
}

void SceneHold::release()
{
	// Swapped out first: a scene destroyed here must not find the list half cleared.
	std::vector<OBSSource> held;
	held.swap(scenes);
	held.clear();
}

} // namespace stilwane
