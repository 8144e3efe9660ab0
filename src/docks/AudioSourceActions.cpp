// SPDX-License-Identifier: GPL-2.0-or-later
#include <docks/AudioSourceActions.hpp>

#include <audio/AudioSourceScan.hpp>
#include <audio/VerticalAudioSource.hpp>
#include <audio/VerticalVolumeManager.hpp>
#include <canvas/CollectionSaver.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Limits.hpp>
#include <common/Module.hpp>

#include <algorithm>

namespace stilwane {

namespace {

QString nameOf(obs_source_t *source)
{
	return QString::fromUtf8(obs_source_get_name(source));
}

bool gone(obs_source_t *source)
{
	return !source || obs_source_removed(source);
}

Result removedFailure(obs_source_t *source)
{
	return Result::plain(Result::ResourceNotFound,
			     QString("the source '%1' is being removed").arg(source ? nameOf(source) : QString()));
}

} // namespace

AudioSourceActions *AudioSourceActions::instance()
{
	static AudioSourceActions *actions = new AudioSourceActions();
	return actions;
}

AudioSourceActions::AudioSourceActions()
{
	// Separate volumes also end without anyone here asking: a conflict with the main stream's track, a
	// removed source. Clients then read everything again.
	connect(VerticalVolumeManager::instance(), &VerticalVolumeManager::mirrorsChanged, this, [this] {
		if (!changingMirrors)
			emit changed(QString());
	});
}

int AudioSourceActions::verticalTrack()
{
	return std::clamp<int>(config().audioTrack, kFirstAudioTrack, kLastAudioTrack);
}

OBSSource AudioSourceActions::targetOf(obs_source_t *source)
{
	if (!source)
		return OBSSource();
	OBSSourceAutoRelease mirror = VerticalVolumeManager::instance()->mirrorOf(source);
	if (mirror)
		return OBSSource(mirror.Get());
	return OBSSource(source);
}

int AudioSourceActions::separateStatus(obs_source_t *source, const MainOutputTracks &probe, bool profileChanging)
{
	VerticalVolumeManager *volumes = VerticalVolumeManager::instance();
	profileChanging = profileChanging || volumes->isProfileChanging();
	if (volumes->hasMirror(source))
		return profileChanging ? VerticalVolumeManager::ProfileChanging
				       : VerticalVolumeManager::SeparatePossible;
	if (profileChanging)
		return VerticalVolumeManager::ProfileChanging;
	if (!probe.valid || !trackBit(probe.streamTrack))
		return VerticalVolumeManager::HorizontalUnknown;
	if (probe.streamTrack == verticalTrack())
		return VerticalVolumeManager::SeparateNeedsSplit;
	return volumes->separateStatus(source, probe);
}

const char *AudioSourceActions::separateStatusKey(int status)
{
	switch (status) {
	case VerticalVolumeManager::SeparatePossible:
		return "Audio.SeparateHint";
	case VerticalVolumeManager::SeparateNeedsSplit:
		return "Audio.SeparateNeedsSplit";
	case VerticalVolumeManager::HorizontalUnknown:
		return "Audio.HorizontalUnknown";
	case VerticalVolumeManager::ProfileChanging:
		return "Audio.SeparateProfileChanging";
	case VerticalVolumeManager::SeparateLimit:
		return "Audio.SeparateLimit";
	case VerticalVolumeManager::SeparateUnsupported:
		return "Audio.SeparateUnsupported";
	default:
		return "Audio.SeparateUnavailable";
	}
}

AudioSourceState AudioSourceActions::stateOf(obs_source_t *source, bool shared, const MainOutputTracks &probe,
					     bool profileChanging)
{
	AudioSourceState state;
	state.source = source;
	state.shared = shared;
	OBSSource target = targetOf(source);
	state.separate = target.Get() != source;
	state.onVertical = (obs_source_get_audio_mixers(target) & trackBit(verticalTrack())) != 0;
	state.volumeMul = obs_source_get_volume(target);
	state.muted = obs_source_muted(target);
	state.separateStatus = separateStatus(source, probe, profileChanging);
	return state;
}

std::vector<AudioSourceState> AudioSourceActions::listSources(const MainOutputTracks &probe, bool profileChanging)
{
	const AudioSourceScan scan = AudioSourceScan::scan();
	std::vector<OBSSource> sources;
	for (const OBSSource &source : scan.verticalAudio) {
		if (!gone(source) && !isInternalAudioSource(source))
			sources.push_back(source);
	}
	std::stable_sort(sources.begin(), sources.end(), [](const OBSSource &a, const OBSSource &b) {
		return QString::localeAwareCompare(nameOf(a), nameOf(b)) < 0;
	});
	std::vector<AudioSourceState> states;
	states.reserve(sources.size());
	for (const OBSSource &source : sources)
		states.push_back(stateOf(source, scan.inMain(source), probe, profileChanging));
	return states;
}

Result AudioSourceActions::setOnVertical(obs_source_t *source, bool on)
{
	OBSSource target = targetOf(source);
	if (gone(source) || gone(target))
		return removedFailure(source);
	const int track = verticalTrack();
	const uint32_t mixers = obs_source_get_audio_mixers(target);
	obs_source_set_audio_mixers(target, on ? mixers | trackBit(track) : mixers & ~trackBit(track));
	stilwaneLog(LOG_INFO, "vertical audio: '%s' track %d %s", obs_source_get_name(source), track,
		    on ? "on" : "off");
	saveCollection();
	announce(source);
	return Result();
}

void AudioSourceActions::volumeChanged(obs_source_t *source, bool save)
{
	if (save)
		saveCollection();
	announce(source);
}

Result AudioSourceActions::setVolumeMul(obs_source_t *source, float mul)
{
	OBSSource target = targetOf(source);
	if (gone(source) || gone(target))
		return removedFailure(source);
	obs_source_set_volume(target, mul);
	volumeChanged(source, true);
	return Result();
}

Result AudioSourceActions::setMuted(obs_source_t *source, bool muted)
{
	OBSSource target = targetOf(source);
	if (gone(source) || gone(target))
		return removedFailure(source);
	obs_source_set_muted(target, muted);
	saveCollection();
	announce(source);
	return Result();
}

Result AudioSourceActions::setSeparate(obs_source_t *source, bool separate, bool shared, const MainOutputTracks &probe,
				       bool profileChanging, bool *managerRefused)
{
	if (managerRefused)
		*managerRefused = false;
	VerticalVolumeManager *volumes = VerticalVolumeManager::instance();
	if (gone(source))
		return removedFailure(source);
	if (profileChanging || volumes->isProfileChanging())
		return Result::plain(Result::NotReady,
				     translateEnglish(separateStatusKey(VerticalVolumeManager::ProfileChanging)));
	if (separate && volumes->hasMirror(source))
		return Result();
	if (separate) {
		if (!shared)
			return Result::plain(Result::RequestProcessingFailed,
					     QString("'%1' is only in vertical scenes: its own volume is already the "
						     "vertical one")
						     .arg(nameOf(source)));
		const int status = separateStatus(source, probe, profileChanging);
		if (status != VerticalVolumeManager::SeparatePossible)
			return Result::plain(status == VerticalVolumeManager::SeparateUnsupported
						     ? Result::InvalidRequestField
						     : Result::RequestProcessingFailed,
					     translateEnglish(separateStatusKey(status)));
	}
	changingMirrors = true;
	const bool done = volumes->setSeparate(source, separate, probe);
	changingMirrors = false;
	if (!done) {
		if (managerRefused)
			*managerRefused = true;
		return Result::plain(Result::RequestProcessingFailed,
				     translateEnglish(separateStatusKey(VerticalVolumeManager::SeparateUnavailable)));
	}
	saveCollection();
	announce(source);
	return Result();
}

void AudioSourceActions::saveCollection()
{
	CollectionSaver::instance()->request();
}

void AudioSourceActions::announce(obs_source_t *source)
{
	emit changed(QString::fromUtf8(obs_source_get_uuid(source)));
}

} // namespace stilwane
