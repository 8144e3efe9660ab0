// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>

#include <obs.h>

namespace stilwane {

// The internal source type whose private instances (mirrors) replay another source's audio on the vertical
// track with a volume and mute of their own. OBS never offers it in its Add Source menu.
inline constexpr const char *kVerticalAudioSourceId = "stilwane_vertical_audio";

// Registers the source type; once, at module load, before anything else of the module.
void registerVerticalAudioSource();

// Whether the source is one of the mirrors; those are left out of every audio list and mixer change. Any thread.
bool isInternalAudioSource(obs_source_t *source);

// The mixer mask bit of track n (1..6 is bit n - 1); 0 for any other track number.
constexpr uint32_t trackBit(int track)
{
	return track >= 1 && track <= 6 ? uint32_t(1) << (track - 1) : 0;
}

// The libobs output channel 1..6 that holds the source (desktop audio and microphone devices), else 0.
int globalAudioChannel(obs_source_t *source);

} // namespace stilwane
