// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <vector>

#include <obs.hpp>

namespace stilwane {

// The audio sources and containers (scenes and groups) of the vertical scenes and of OBS's main scenes,
// each walked recursively through nested scenes and groups; every walked source counts once per side. The
// global audio sources (libobs output channels 1..6) are in both sides, so they always count as shared.
// Internal mirrors are never listed. UI thread.
struct AudioSourceScan {
	std::vector<OBSSource> verticalAudio;
	std::vector<OBSSource> verticalContainers;
	std::vector<OBSSource> mainAudio;
	std::vector<OBSSource> mainContainers;

	static AudioSourceScan scan();

	bool inVertical(obs_source_t *source) const;
	bool inMain(obs_source_t *source) const;
	// Every distinct container of both sides.
	std::vector<OBSSource> containers() const;
};

} // namespace stilwane
