// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>

#include <obs.h>

namespace stilwane {

// Which libobs mixer tracks the main OBS outputs use. Track n (1..6) is bit n - 1 of a mask.
struct MainOutputTracks {
	uint32_t streamMask = 0;
	uint32_t recordingMask = 0;
	uint32_t replayMask = 0;
	// The profile's stream mask, kept only when a running stream uses other tracks: both count as taken.
	uint32_t configuredStreamMask = 0;
	int streamTrack = 0;
	bool valid = false;
};

// Reads the current profile's output settings, corrected by the main outputs that are running. Reads
// only; never changes OBS settings. UI thread.
MainOutputTracks probeMainOutputs();

// The tracks an active output encodes; 0 when there is no output or it is not active. Any thread.
uint32_t activeMixers(obs_output_t *output);

// The lowest track 1..6 in none of the masks; 0 when the record is not valid or every track is taken.
int firstFreeTrack(const MainOutputTracks &tracks);

} // namespace stilwane
