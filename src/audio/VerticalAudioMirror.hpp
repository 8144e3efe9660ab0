// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include <obs.hpp>

namespace stilwane {

class AudioCanvas;

// Replays one separated source's audio through a private "stilwane_vertical_audio" source on the audio canvas,
// so that the vertical track hears the source with a volume and mute of its own. While the mirror is in force
// the source itself can never be put back on the vertical track, whoever changes its mixers.
//
// Created and removed on the UI thread; the capture and the "audio_mixers" handler run on libobs threads and
// read only the fixed handles, the atomics and the silence buffer (the capture's alone).
class VerticalAudioMirror {
public:
	// Creates the private source named after the separated one, with mixers 0, the given volume and mute,
	// monitoring off and the source's sync offset, puts it on the canvas channel and attaches the capture and
	// the mixers handler. The mixers themselves are left to applyMirrorMixers. Null when libobs refuses the
	// source or the channel is not in 0..63.
	static std::unique_ptr<VerticalAudioMirror> create(obs_source_t *source, AudioCanvas &canvas, int channel,
							   int verticalTrack, float volume, bool muted);
	// Detaches the capture and the mixers handler when remove() did not.
	~VerticalAudioMirror();

	VerticalAudioMirror(const VerticalAudioMirror &) = delete;
	VerticalAudioMirror &operator=(const VerticalAudioMirror &) = delete;

	// Stops forwarding (silence until detached), detaches the capture and the mixers handler, takes the mirror
	// off its canvas channel and removes the mirror source. The separated source's mixers are not touched.
	void remove(AudioCanvas *canvas);

	// Runs applyMirrorMixers for this mirror.
	void applyMixers(uint32_t trackBit, bool separate, bool onVertical, bool keepSource);
	// Whether the mirror's own mixers hold the track's bit.
	bool mirrorOnTrack(int track) const;

	// Forwards one packet of the separated source as the capture does with the libobs speaker layout and
	// sample rate given here. Called by the capture on whichever thread the source outputs audio (usually a
	// libobs audio or source thread); public so that other layouts can be tried without resetting libobs.
	void forwardAudio(const struct audio_data *data, bool muted, enum speaker_layout layout, uint32_t sampleRate);
	// Channels of a libobs speaker layout from mono to 7.1; 0 for any other layout.
	static int layoutChannels(enum speaker_layout layout);

	// Fields, in this order.
	OBSSource source;
	OBSSourceAutoRelease mirror;
	int channel = -1;
	// The vertical track when the mirror was set up or last re-targeted.
	int verticalTrack = 0;
	// 1..6 when the source is one of the global audio sources, else 0.
	int globalChannel = 0;
	// The vertical track's bit while the mirror is in force, else 0. Read by the mixers handler.
	std::atomic<uint32_t> removalMask{0};
	bool captureAttached = false;
	bool mixersHandlerAttached = false;
	// Zeros sent instead of the source's samples; grown by the capture only.
	std::vector<float> silence = std::vector<float>(1024, 0.0f);

private:
	VerticalAudioMirror() = default;

	// libobs audio capture of the separated source; any libobs thread.
	static void captureAudio(void *param, obs_source_t *source, const struct audio_data *data, bool muted);
	// The separated source's "audio_mixers" signal; any thread that changes its mixers.
	static void mixersChanging(void *param, calldata_t *data);

	OBSSignal mixersSignal;
	// Set first thing at removal: the capture sends silence from then on.
	std::atomic<bool> removing{false};
};

// Moves a source's contribution to the vertical track (bit trackBit) between the source and its mirror:
// the removal mask becomes trackBit when separate, else 0; the source loses trackBit when separate, else
// (unless keepSource) gets it exactly when onVertical; the mirror's mixers become trackBit when separate and
// onVertical, else 0. Runs as a waited task on the libobs audio thread when libobs has audio, so that the
// flags change between two audio ticks; else directly. UI thread, holding nothing the audio thread needs.
void applyMirrorMixers(obs_source_t *source, obs_source_t *mirror, uint32_t trackBit, bool separate, bool onVertical,
		       bool keepSource, std::atomic<uint32_t> &removalMask);

} // namespace stilwane
