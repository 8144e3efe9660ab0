// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <vector>

#include <obs.h>
#include <util/platform.h>

namespace audiotest {

// An input with audio and nothing else, whose audio the test pushes in itself: no audio device needed.
inline obs_source_t *createInput(const char *name, uint32_t mixers)
{
	static bool registered = false;
	if (!registered) {
		obs_source_info info = {};
		info.id = "stilwane_test_audio_input";
		info.type = OBS_SOURCE_TYPE_INPUT;
		info.output_flags = OBS_SOURCE_AUDIO;
		info.get_name = [](void *) {
			return "test audio input";
		};
		info.create = [](obs_data_t *, obs_source_t *source) -> void * {
			return source;
		};
		info.destroy = [](void *) {
		};
		obs_register_source(&info);
		registered = true;
	}
	obs_source_t *source = obs_source_create("stilwane_test_audio_input", name, nullptr, nullptr);
	obs_source_set_audio_mixers(source, mixers);
	return source;
}

// One planar float packet: channel c holds the constant values[c] for every frame.
struct Packet {
	std::vector<std::vector<float>> planes;
	obs_source_audio audio = {};

	Packet(const std::vector<float> &values, uint32_t frames, enum speaker_layout layout)
	{
		for (float value : values)
			planes.emplace_back(frames, value);
		for (size_t c = 0; c < planes.size(); ++c)
			audio.data[c] = reinterpret_cast<const uint8_t *>(planes[c].data());
		audio.frames = frames;
		audio.speakers = layout;
		audio.format = AUDIO_FORMAT_FLOAT_PLANAR;
		audio.samples_per_sec = 48000;
		audio.timestamp = os_gettime_ns();
	}

	// The same samples as the audio_data a capture callback gets.
	audio_data asCaptured() const
	{
		audio_data data = {};
		for (size_t c = 0; c < planes.size(); ++c)
			data.data[c] = const_cast<uint8_t *>(audio.data[c]);
		data.frames = audio.frames;
		data.timestamp = audio.timestamp;
		return data;
	}
};

} // namespace audiotest
