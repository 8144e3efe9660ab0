// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <vector>

#include <obs.hpp>

namespace stilwane {

// Holds a reference to every scene of a canvas while OBS clears a scene collection. OBS removes the
// scenes of each canvas from inside obs_canvas_enum_scenes; when a removal drops a scene's last
// reference, libobs frees that scene on its destruction thread while the enumeration still steps from
// it to the next one, so the scenes after it may be skipped: they then outlive the collection, OBS
// reports their sources as not cleared and sends no further front-end events. Held here, no scene is
// freed inside that enumeration; they go when released after it. User-interface thread only.
class SceneHold {
public:
	// Adds a reference to each scene of the canvas (none for a null canvas) to those already held.
	void hold(obs_canvas_t *canvas);
	// Lets go of every scene held; a scene nothing else holds is destroyed.
	void release();
	std::size_t size() const { return scenes.size(); }

private:
	std::vector<OBSSource> scenes; // one reference per held scene
};

} // namespace stilwane
