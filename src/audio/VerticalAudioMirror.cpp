// SPDX-License-Identifier: GPL-2.0-or-later
#include <audio/VerticalAudioMirror.hpp>

#include <audio/AudioCanvas.hpp>
#include <audio/VerticalAudioSource.hpp>

#include <string>

namespace stilwane {

namespace {
constexpr const char *kMirrorNamePrefix = "Stilwane vertical audio: ";

struct MixersTask {
	obs_source_t *source;
	obs_source_t *mirror;
	uint32_t trackBit;
	bool separate;
	bool onVertical;
	bool keepSource;
	std::atomic<uint32_t> *removalMask;
};

// The libobs audio thread (or the caller's when libobs has no audio).
void runMixersTask(void *param)
{
	const auto *task = static_cast<const MixersTask *>(param);
	// The mask first: the mixers handler must already let the bit through (or hold it back) below.
	task->removalMask->store(task->separate ? task->trackBit : 0);
	const uint32_t mixers = obs_source_get_audio_mixers(task->source);
	if (task->separate)
		obs_source_set_audio_mixers(task->source, mixers & ~task->trackBit);
	else if (!task->keepSource)
		obs_source_set_audio_mixers(task->source,
					    task->onVertical ? mixers | task->trackBit : mixers & ~task->trackBit);
	obs_source_set_audio_mixers(task->mirror, task->separate && task->onVertical ? task->trackBit : 0);
}
} // namespace

void applyMirrorMixers(obs_source_t *source, obs_source_t *mirror, uint32_t trackBit, bool separate, bool onVertical,
		       bool keepSource, std::atomic<uint32_t> &removalMask)
{
	MixersTask task{source, mirror, trackBit, separate, onVertical, keepSource, &removalMask};
	// Waiting is safe: the caller holds no lock and the audio thread never waits for the UI thread here.
	if (obs_get_audio())
		obs_queue_task(OBS_TASK_AUDIO, runMixersTask, &task, true);
	else
		runMixersTask(&task);
}

std::unique_ptr<VerticalAudioMirror> VerticalAudioMirror::create(obs_source_t *source, AudioCanvas &canvas, int channel,
								 int verticalTrack, float volume, bool muted)
{
	if (!source || channel < 0 || channel >= AudioCanvas::kChannelCount)
		return nullptr;
	const std::string name = std::string(kMirrorNamePrefix) + obs_source_get_name(source);
	obs_source_t *mirror = obs_source_create_private(kVerticalAudioSourceId, name.c_str(), nullptr);
	if (!mirror)
		return nullptr;

	std::unique_ptr<VerticalAudioMirror> result(new VerticalAudioMirror());
	result->source = source;
	result->mirror = mirror;
	result->channel = channel;
	result->verticalTrack = verticalTrack;
	result->globalChannel = globalAudioChannel(source);

	obs_source_set_audio_mixers(mirror, 0);
	obs_source_set_volume(mirror, volume);
	obs_source_set_muted(mirror, muted);
	obs_source_set_monitoring_type(mirror, OBS_MONITORING_TYPE_NONE);
	obs_source_set_sync_offset(mirror, obs_source_get_sync_offset(source));
	canvas.setChannel(channel, mirror);

	obs_source_add_audio_capture_callback(source, captureAudio, result.get());
	result->captureAttached = true;
	result->mixersSignal.Connect(obs_source_get_signal_handler(source), "audio_mixers", mixersChanging,
				     result.get());
	result->mixersHandlerAttached = true;
	return result;
}

VerticalAudioMirror::~VerticalAudioMirror()
{
	removing = true;
	removalMask = 0;
	if (captureAttached)
		obs_source_remove_audio_capture_callback(source, captureAudio, this);
	mixersSignal.Disconnect();
}

void VerticalAudioMirror::remove(AudioCanvas *canvas)
{
	removing = true;
	removalMask = 0;
	// Both wait for a capture or handler call that is running now, so nothing uses this mirror afterwards.
	if (captureAttached)
		obs_source_remove_audio_capture_callback(source, captureAudio, this);
	captureAttached = false;
	mixersSignal.Disconnect();
	mixersHandlerAttached = false;
	if (mirror) {
		if (canvas && channel >= 0)
			canvas->setChannel(channel, nullptr);
		obs_source_remove(mirror);
	}
	mirror = nullptr;
	source = nullptr;
}

void VerticalAudioMirror::applyMixers(uint32_t trackBit, bool separate, bool onVertical, bool keepSource)
{
	if (source && mirror)
		applyMirrorMixers(source, mirror, trackBit, separate, onVertical, keepSource, removalMask);
}

bool VerticalAudioMirror::mirrorOnTrack(int track) const
{
	return mirror && (obs_source_get_audio_mixers(mirror) & trackBit(track)) != 0;
}

int VerticalAudioMirror::layoutChannels(enum speaker_layout layout)
{
	switch (layout) {
	case SPEAKERS_MONO:
		return 1;
	case SPEAKERS_STEREO:
		return 2;
	case SPEAKERS_2POINT1:
		return 3;
	case SPEAKERS_4POINT0:
		return 4;
	case SPEAKERS_4POINT1:
		return 5;
	case SPEAKERS_5POINT1:
		return 6;
	case SPEAKERS_7POINT1:
		return 8;
	default:
		return 0;
	}
}

void VerticalAudioMirror::captureAudio(void *param, obs_source_t *, const struct audio_data *data, bool muted)
{
	audio_t *audio = obs_get_audio();
	if (!audio)
		return;
	const struct audio_output_info *info = audio_output_get_info(audio);
	if (!info)
		return;
	static_cast<VerticalAudioMirror *>(param)->forwardAudio(data, muted, info->speakers, info->samples_per_sec);
}

void VerticalAudioMirror::forwardAudio(const struct audio_data *data, bool muted, enum speaker_layout layout,
				       uint32_t sampleRate)
{
	if (!data || !data->frames || !data->data[0] || !mirror)
		return;
	const int channels = layoutChannels(layout);
	if (!channels)
		return;

	const bool silent = muted || removing || !obs_source_active(source) || obs_source_removed(source);
	// A plane the packet lacks is sent as silence as well.
	bool needSilence = silent;
	for (int ch = 0; ch < channels; ++ch)
		needSilence = needSilence || !data->data[ch];
	if (needSilence && silence.size() < data->frames)
		silence.resize(data->frames, 0.0f);
	obs_source_audio packet = {};
	for (int ch = 0; ch < channels; ++ch) {
		const uint8_t *plane = data->data[ch];
		packet.data[ch] = silent || !plane ? reinterpret_cast<const uint8_t *>(silence.data()) : plane;
	}

	const int64_t offset = obs_source_get_sync_offset(source);
	if (offset != obs_source_get_sync_offset(mirror))
		obs_source_set_sync_offset(mirror, offset);

	packet.frames = data->frames;
	packet.timestamp = data->timestamp;
	packet.samples_per_sec = sampleRate;
	packet.speakers = layout;
	packet.format = AUDIO_FORMAT_FLOAT_PLANAR;
	obs_source_output_audio(mirror, &packet);
}

void VerticalAudioMirror::mixersChanging(void *param, calldata_t *data)
{
	const auto *self = static_cast<const VerticalAudioMirror *>(param);
	const uint32_t mask = self->removalMask.load();
	if (!mask)
		return;
	const long long mixers = calldata_int(data, "mixers");
	calldata_set_int(data, "mixers", mixers & ~static_cast<long long>(mask));
}

} // namespace stilwane
