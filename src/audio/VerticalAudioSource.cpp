// SPDX-License-Identifier: GPL-2.0-or-later
#include <audio/VerticalAudioSource.hpp>

#include <common/Module.hpp>

#include <cstring>

#include <obs.hpp>

namespace stilwane {

namespace {

// Any thread: libobs asks for the name whenever it lists or logs the type.
const char *sourceName(void *)
{
	const char *text = nullptr;
	if (lookupModuleString("Audio.MirrorSourceName", &text) && text)
		return text;
	return "Stilwane vertical audio (internal)";
}

// The mirror has no state of its own: all of its audio is pushed in from outside.
void *createSource(obs_data_t *, obs_source_t *source)
{
	return source;
}

void destroySource(void *) {}

} // namespace

void registerVerticalAudioSource()
{
	// Registering an id twice only makes libobs complain; the module and tests may both ask.
	static bool registered = false;
	if (registered)
		return;
	registered = true;
	obs_source_info info = {};
	info.id = kVerticalAudioSourceId;
	info.type = OBS_SOURCE_TYPE_INPUT;
	info.output_flags = OBS_SOURCE_AUDIO | OBS_SOURCE_CAP_DISABLED;
	info.get_name = sourceName;
	info.create = createSource;
	info.destroy = destroySource;
	obs_register_source(&info);
}

bool isInternalAudioSource(obs_source_t *source)
{
	const char *id = source ? obs_source_get_id(source) : nullptr;
	return id && std::strcmp(id, kVerticalAudioSourceId) == 0;
}

int globalAudioChannel(obs_source_t *source)
{
	if (!source)
		return 0;
	for (int channel = 1; channel <= 6; ++channel) {
		OBSSourceAutoRelease held = obs_get_output_source(uint32_t(channel));
		if (held == source)
			return channel;
	}
	return 0;
}

} // namespace stilwane
