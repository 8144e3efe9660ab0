// SPDX-License-Identifier: GPL-2.0-or-later
#include <common/MainOutputProbe.hpp>
#include <common/Limits.hpp>

#include <util/config-file.h>

#include <obs-frontend-api.h>
#include <obs.hpp>

#include <QString>

namespace stilwane {

namespace {

constexpr uint32_t kTrackBits = 0x3f;

enum class Mode { Advanced, Simple };

// OBS writes these values by hand-edited profiles too, so letter case is not to be trusted.
bool equalsNoCase(const char *value, const char *expected)
{
	return value && QString::fromUtf8(value).compare(QLatin1String(expected), Qt::CaseInsensitive) == 0;
}

bool startsWithNoCase(const char *value, const char *prefix)
{
	return value && QString::fromUtf8(value).startsWith(QLatin1String(prefix), Qt::CaseInsensitive);
}

uint32_t trackBit(long long track)
{
	return track >= 1 && track <= kAudioTrackCount ? 1u << (track - 1) : 0u;
}

int lowestTrack(uint32_t mask)
{
	for (int track = 1; track <= kAudioTrackCount; ++track)
		if (mask & trackBit(track))
			return track;
	return 0;
}

const char *outputSection(Mode mode)
{
	return mode == Mode::Advanced ? "AdvOut" : "SimpleOutput";
}

bool vodTrackOn(config_t *profile, Mode mode, obs_service_t *service)
{
	if (!service || !config_get_bool(profile, outputSection(mode), "VodTrackEnabled"))
		return false;
	if (equalsNoCase(obs_service_get_id(service), "rtmp_custom")) {
		config_t *user = obs_frontend_get_user_config();
		return user && config_get_bool(user, "General", "EnableCustomServerVodTrack");
	}
	if (mode == Mode::Advanced || config_get_bool(profile, "SimpleOutput", "UseAdvanced")) {
		OBSDataAutoRelease settings = obs_service_get_settings(service);
		return equalsNoCase(obs_data_get_string(settings, "service"), "Twitch");
	}
	return false;
}

uint32_t recordingTracks(config_t *profile, Mode mode)
{
	if (mode == Mode::Advanced) {
		if (equalsNoCase(config_get_string(profile, "AdvOut", "RecType"), "FFmpeg"))
			return uint32_t(config_get_int(profile, "AdvOut", "FFAudioMixes")) & kTrackBits;
		const bool flv = equalsNoCase(config_get_string(profile, "AdvOut", "RecFormat2"), "flv");
		long long n = config_get_int(profile, "AdvOut", flv ? "FLVTrack" : "RecTracks");
		if (n == 0)
			n = config_get_int(profile, "AdvOut", "TrackIndex");
		return flv ? trackBit(n) : uint32_t(n) & kTrackBits;
	}
	const char *quality = config_get_string(profile, "SimpleOutput", "RecQuality");
	if (equalsNoCase(quality, "Stream") ||
	    (!equalsNoCase(quality, "Lossless") &&
	     equalsNoCase(config_get_string(profile, "SimpleOutput", "RecFormat2"), "flv")))
		return trackBit(1);
	return uint32_t(config_get_int(profile, "SimpleOutput", "RecTracks")) & kTrackBits;
}

} // namespace

uint32_t activeMixers(obs_output_t *output)
{
	if (!output || !obs_output_active(output))
		return 0;
	if (!(obs_output_get_flags(output) & OBS_OUTPUT_MULTI_TRACK))
		return uint32_t(obs_output_get_mixers(output)) & kTrackBits;
	uint32_t mask = 0;
	for (size_t i = 0; i < size_t(kAudioTrackCount); ++i) {
		obs_encoder_t *encoder = obs_output_get_audio_encoder(output, i);
		if (!encoder)
			continue;
		const size_t mixer = obs_encoder_get_mixer_index(encoder);
		if (mixer < size_t(kAudioTrackCount))
			mask |= 1u << mixer;
	}
	return mask;
}

MainOutputTracks probeMainOutputs()
{
	MainOutputTracks result;
	config_t *profile = obs_frontend_get_profile_config();
	if (!profile)
		return result;

	const char *modeText = config_get_string(profile, "Output", "Mode");
	Mode mode;
	if (equalsNoCase(modeText, "Advanced"))
		mode = Mode::Advanced;
	else if (equalsNoCase(modeText, "Simple"))
		mode = Mode::Simple;
	else
		return result;

	const long long track = mode == Mode::Advanced ? config_get_int(profile, "AdvOut", "TrackIndex") : 1;
	uint32_t streamMask = trackBit(track);
	if (!streamMask)
		return result;
	int streamTrack = int(track);

	obs_service_t *service = obs_frontend_get_streaming_service(); // borrowed
	if (mode == Mode::Advanced && service) {
		const char *protocol = obs_service_get_protocol(service);
		if (startsWithNoCase(protocol, "SRT") || startsWithNoCase(protocol, "RIST")) {
			streamMask = uint32_t(config_get_int(profile, "AdvOut", "StreamMultiTrackAudioMixes")) &
				     kTrackBits;
			streamTrack = lowestTrack(streamMask);
		}
	}
	if (vodTrackOn(profile, mode, service))
		streamMask |= trackBit(mode == Mode::Advanced ? config_get_int(profile, "AdvOut", "VodTrackIndex") : 2);

	const uint32_t recording = recordingTracks(profile, mode);
	const bool replayEnabled = config_get_bool(profile, outputSection(mode), "RecRB");
	result.valid = true;

	OBSOutputAutoRelease stream = obs_frontend_get_streaming_output();
	OBSOutputAutoRelease record = obs_frontend_get_recording_output();
	OBSOutputAutoRelease replay = obs_frontend_get_replay_buffer_output();

	const uint32_t live = activeMixers(stream);
	if (obs_output_active(stream) && live) {
		result.configuredStreamMask = streamMask;
		streamMask = live;
		obs_encoder_t *encoder = obs_output_get_audio_encoder(stream, 0);
		streamTrack = encoder ? int(obs_encoder_get_mixer_index(encoder)) + 1 : lowestTrack(live);
	}
	result.streamMask = streamMask;
	result.streamTrack = streamTrack;
	result.recordingMask = recording | activeMixers(record);
	result.replayMask = activeMixers(replay) | (replayEnabled ? recording : 0u);
	return result;
}

int firstFreeTrack(const MainOutputTracks &tracks)
{
	if (!tracks.valid)
		return 0;
	const uint32_t used = tracks.streamMask | tracks.recordingMask | tracks.replayMask |
			      tracks.configuredStreamMask;
	for (int track = 1; track <= kAudioTrackCount; ++track)
		if (!(used & trackBit(track)))
			return track;
	return 0;
}

} // namespace stilwane
