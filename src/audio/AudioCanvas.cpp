// SPDX-License-Identifier: GPL-2.0-or-later
#include <audio/AudioCanvas.hpp>

#include <common/Module.hpp>

namespace stilwane {

namespace {
constexpr const char *kCanvasName = "Stilwane Vertical Audio";
} // namespace

void AudioCanvas::outputSize(enum video_format format, uint32_t &width, uint32_t &height)
{
	width = 1;
	height = 1;
	switch (format) {
	case VIDEO_FORMAT_I420:
	case VIDEO_FORMAT_NV12:
	case VIDEO_FORMAT_I40A:
	case VIDEO_FORMAT_I010:
	case VIDEO_FORMAT_P010:
		width = 2;
		height = 2;
		break;
	case VIDEO_FORMAT_YVYU:
	case VIDEO_FORMAT_YUY2:
	case VIDEO_FORMAT_UYVY:
	case VIDEO_FORMAT_I422:
	case VIDEO_FORMAT_I42A:
	case VIDEO_FORMAT_I210:
	case VIDEO_FORMAT_P216:
		width = 2;
		break;
	default:
		break;
	}
}

std::unique_ptr<AudioCanvas> AudioCanvas::create()
{
	obs_video_info ovi = {};
	if (!obs_get_video_info(&ovi))
		return nullptr;
	ovi.base_width = 1;
	ovi.base_height = 1;
	outputSize(ovi.output_format, ovi.output_width, ovi.output_height);
	// ACTIVATE keeps the channels' sources active, MIX_AUDIO puts them into the libobs audio mix.
	const uint32_t flags = uint32_t(::ACTIVATE) | uint32_t(::MIX_AUDIO);
	obs_canvas_t *canvas = obs_canvas_create_private(kCanvasName, &ovi, flags);
	if (!canvas)
		return nullptr;
	if (!obs_canvas_get_video(canvas)) {
		obs_canvas_release(canvas);
		return nullptr;
	}
	stilwaneLog(LOG_INFO, "vertical volume: audio canvas created (base 1x1, output %ux%u)", ovi.output_width,
		    ovi.output_height);
	return std::unique_ptr<AudioCanvas>(new AudioCanvas(canvas));
}

AudioCanvas::AudioCanvas(obs_canvas_t *canvas) : handle(canvas) {}

AudioCanvas::~AudioCanvas()
{
	for (int channel = 0; channel < kChannelCount; ++channel)
		if (used.test(size_t(channel)))
			obs_canvas_set_channel(handle, uint32_t(channel), nullptr);
	handle = nullptr;
	stilwaneLog(LOG_INFO, "vertical volume: audio canvas released");
}

int AudioCanvas::freeChannel() const
{
	for (int channel = 0; channel < kChannelCount; ++channel)
		if (!used.test(size_t(channel)))
			return channel;
	return -1;
}

void AudioCanvas::setChannel(int channel, obs_source_t *source)
{
	if (channel < 0 || channel >= kChannelCount)
		return;
	obs_canvas_set_channel(handle, uint32_t(channel), source);
	used.set(size_t(channel), source != nullptr);
}

} // namespace stilwane
