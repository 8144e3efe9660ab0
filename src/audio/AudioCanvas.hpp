// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <bitset>
#include <cstdint>
#include <memory>

#include <obs.hpp>

namespace stilwane {

// The private libobs canvas "Stilwane Vertical Audio" that keeps the mirrors active and mixed into the libobs
// audio output: one mirror per channel 0..63. Its video is as small as libobs allows, since only its audio
// matters. Created with the first mirror and released with the last; UI thread only.
class AudioCanvas {
public:
	static constexpr int kChannelCount = 64;

	// The canvas, or null when libobs has no video or refuses it (then nothing is logged).
	static std::unique_ptr<AudioCanvas> create();
	// Releases the canvas with whatever channels are still set.
	~AudioCanvas();

	AudioCanvas(const AudioCanvas &) = delete;
	AudioCanvas &operator=(const AudioCanvas &) = delete;

	// The lowest channel no source holds, or -1 when all 64 are taken.
	int freeChannel() const;
	// Puts the source on the channel (null empties it).
	void setChannel(int channel, obs_source_t *source);
	int usedChannels() const { return int(used.count()); }
	obs_canvas_t *canvas() const { return handle; }

	// The output size for the pixel format: 1x1, widened where chroma subsampling needs 2 pixels.
	static void outputSize(enum video_format format, uint32_t &width, uint32_t &height);

private:
	explicit AudioCanvas(obs_canvas_t *canvas);

	OBSCanvasAutoRelease handle;
	std::bitset<kChannelCount> used;
};

} // namespace stilwane
