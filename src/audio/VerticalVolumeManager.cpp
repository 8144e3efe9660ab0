// SPDX-License-Identifier: GPL-2.0-or-later
#include <audio/VerticalVolumeManager.hpp>

#include <audio/AudioCanvas.hpp>
#include <audio/VerticalAudioMirror.hpp>
#include <audio/VerticalAudioSource.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>

#include <algorithm>
#include <cfloat>
#include <cmath>

#include <QTimer>

namespace stilwane {

namespace {

constexpr int kCheckIntervalMs = 50;
// The main outputs are probed once a second (every 20th check) while settings exist.
constexpr unsigned kProbeEveryTicks = 20;

bool usable(obs_source_t *source)
{
	return source && !obs_source_removed(source);
}

QString uuidOf(obs_source_t *source)
{
	return QString::fromUtf8(obs_source_get_uuid(source));
}

OBSSourceAutoRelease sourceByUuid(const QString &uuid)
{
	return obs_get_source_by_uuid(uuid.toUtf8().constData());
}

// Whether a setting's global channel no longer holds its source.
bool leftGlobalChannel(int globalChannel, obs_source_t *source)
{
	if (globalChannel < 1 || globalChannel > 6)
		return false;
	OBSSourceAutoRelease held = obs_get_output_source(uint32_t(globalChannel));
	return held != source;
}

float storedVolume(obs_data_t *item)
{
	if (!obs_data_has_user_value(item, "volume"))
		return 1.0f;
	const double volume = obs_data_get_double(item, "volume");
	if (!std::isfinite(volume) || volume < 0.0 || volume > double(FLT_MAX))
		return 1.0f;
	return float(volume);
}

} // namespace

VerticalVolumeManager::VerticalVolumeManager() = default;
VerticalVolumeManager::~VerticalVolumeManager() = default;

VerticalVolumeManager *VerticalVolumeManager::instance()
{
	static VerticalVolumeManager manager;
	return &manager;
}

void VerticalVolumeManager::setUp()
{
	if (checkTimer)
		return;
	checkTimer = new QTimer(this);
	checkTimer->setInterval(kCheckIntervalMs);
	connect(checkTimer, &QTimer::timeout, this, &VerticalVolumeManager::onCheckTimer);
	checkTimer->start();
}

void VerticalVolumeManager::shutdown()
{
	tearDown();
	delete checkTimer;
	checkTimer = nullptr;
}

void VerticalVolumeManager::releaseData()
{
	settings.clear();
}

void VerticalVolumeManager::setProfileChanging(bool changing)
{
	profileChanging = changing;
}

VerticalAudioMirror *VerticalVolumeManager::findMirror(obs_source_t *source) const
{
	if (!source)
		return nullptr;
	for (const auto &mirror : mirrors)
		if (mirror->source == source)
			return mirror.get();
	return nullptr;
}

bool VerticalVolumeManager::hasMirror(obs_source_t *source) const
{
	return findMirror(source) != nullptr;
}

obs_source_t *VerticalVolumeManager::mirrorOf(obs_source_t *source) const
{
	const VerticalAudioMirror *mirror = findMirror(source);
	return mirror ? obs_source_get_ref(mirror->mirror) : nullptr;
}

int VerticalVolumeManager::separateStatus(obs_source_t *source, const MainOutputTracks &probe) const
{
	if (!enabled || !usable(source) || !obs_get_audio())
		return SeparateUnavailable;
	if (profileChanging)
		return ProfileChanging;
	if (!probe.valid || !trackBit(probe.streamTrack))
		return HorizontalUnknown;
	if (probe.streamTrack == config().audioTrack)
		return SeparateNeedsSplit;
	const uint32_t flags = obs_source_get_output_flags(source);
	if (!(flags & OBS_SOURCE_AUDIO) || (flags & OBS_SOURCE_COMPOSITE) ||
	    obs_source_get_type(source) != OBS_SOURCE_TYPE_INPUT || isInternalAudioSource(source))
		return SeparateUnsupported;
	if (!trackBit(config().audioTrack))
		return SeparateUnavailable;
	if (hasMirror(source) || mirrors.size() < size_t(kMaxMirrors))
		return SeparatePossible;
	return SeparateLimit;
}

QString VerticalVolumeManager::separateStatusText(int status)
{
	switch (status) {
	case SeparatePossible:
		return translate("Audio.SeparateHint");
	case SeparateNeedsSplit:
		return translate("Audio.SeparateNeedsSplit");
	case HorizontalUnknown:
		return translate("Audio.HorizontalUnknown");
	case ProfileChanging:
		return translate("Audio.SeparateProfileChanging");
	case SeparateLimit:
		return translate("Audio.SeparateLimit");
	case SeparateUnsupported:
		return translate("Audio.SeparateUnsupported");
	default:
		return translate("Audio.SeparateUnavailable");
	}
}

bool VerticalVolumeManager::createMirror(obs_source_t *source, float volume, bool muted, bool onVertical)
{
	if (mirrors.size() >= size_t(kMaxMirrors))
		return false;
	if (!audioCanvas) {
		audioCanvas = AudioCanvas::create();
		if (!audioCanvas)
			return false;
	}
	const int track = config().audioTrack;
	auto mirror =
		VerticalAudioMirror::create(source, *audioCanvas, audioCanvas->freeChannel(), track, volume, muted);
	if (!mirror) {
		releaseCanvasIfUnused();
		return false;
	}
	mirror->applyMixers(trackBit(track), true, onVertical, false);
	mirrors.push_back(std::move(mirror));
	stilwaneLog(LOG_INFO, "vertical volume: '%s' separate on", obs_source_get_name(source));
	return true;
}

void VerticalVolumeManager::removeMirrorAt(size_t index)
{
	if (index >= mirrors.size())
		return;
	std::unique_ptr<VerticalAudioMirror> mirror = std::move(mirrors[index]);
	mirrors.erase(mirrors.begin() + std::ptrdiff_t(index));
	mirror->remove(audioCanvas.get());
}

void VerticalVolumeManager::releaseCanvasIfUnused()
{
	if (mirrors.empty())
		audioCanvas.reset();
}

void VerticalVolumeManager::eraseSettings(const QString &uuid)
{
	settings.erase(std::remove_if(settings.begin(), settings.end(),
				      [&uuid](const VerticalVolumeSetting &setting) { return setting.uuid == uuid; }),
		       settings.end());
}

void VerticalVolumeManager::refreshSettingsFromMirrors()
{
	for (const auto &mirror : mirrors) {
		const QString uuid = uuidOf(mirror->source);
		for (VerticalVolumeSetting &setting : settings) {
			if (setting.uuid != uuid)
				continue;
			setting.volume = obs_source_get_volume(mirror->mirror);
			setting.muted = obs_source_muted(mirror->mirror);
			setting.vertical = mirror->mirrorOnTrack(mirror->verticalTrack);
		}
	}
}

bool VerticalVolumeManager::setSeparate(obs_source_t *source, bool separate, const MainOutputTracks &probe)
{
	if (!source)
		return false;
	const QString uuid = uuidOf(source);
	if (separate) {
		if (hasMirror(source))
			return true;
		if (separateStatus(source, probe) != SeparatePossible)
			return false;
		VerticalVolumeSetting setting;
		setting.uuid = uuid;
		setting.globalChannel = globalAudioChannel(source);
		setting.volume = obs_source_get_volume(source);
		setting.muted = false;
		setting.vertical = (obs_source_get_audio_mixers(source) & trackBit(config().audioTrack)) != 0;
		if (!createMirror(source, setting.volume, setting.muted, setting.vertical))
			return false;
		eraseSettings(uuid);
		settings.push_back(setting);
		emit mirrorsChanged();
		return true;
	}

	for (size_t i = 0; i < mirrors.size(); ++i) {
		VerticalAudioMirror &mirror = *mirrors[i];
		if (mirror.source != source)
			continue;
		// The source gets the vertical bit back exactly when its mirror was on the vertical track.
		mirror.applyMixers(trackBit(mirror.verticalTrack), false, mirror.mirrorOnTrack(mirror.verticalTrack),
				   false);
		removeMirrorAt(i);
		releaseCanvasIfUnused();
		stilwaneLog(LOG_INFO, "vertical volume: '%s' separate off", obs_source_get_name(source));
		eraseSettings(uuid);
		emit mirrorsChanged();
		return true;
	}
	eraseSettings(uuid);
	return true;
}

void VerticalVolumeManager::loadFromCollection(obs_data_t *data)
{
	tearDown();
	settings.clear();
	OBSDataArrayAutoRelease array = data ? obs_data_get_array(data, "vertical_volumes") : nullptr;
	const size_t count = array ? obs_data_array_count(array) : 0;
	for (size_t i = 0; i < count; ++i) {
		OBSDataAutoRelease item = obs_data_array_item(array, i);
		VerticalVolumeSetting setting;
		setting.uuid = QString::fromUtf8(obs_data_get_string(item, "uuid"));
		const bool known = std::any_of(settings.begin(), settings.end(),
					       [&setting](const auto &other) { return other.uuid == setting.uuid; });
		if (setting.uuid.isEmpty() || known)
			continue;
		const long long channel = obs_data_get_int(item, "global_channel");
		setting.globalChannel = channel >= 1 && channel <= 6 ? int(channel) : 0;
		setting.volume = storedVolume(item);
		setting.muted = obs_data_has_user_value(item, "muted") && obs_data_get_bool(item, "muted");
		setting.vertical = !obs_data_has_user_value(item, "vertical") || obs_data_get_bool(item, "vertical");
		settings.push_back(setting);
	}
}

void VerticalVolumeManager::saveToCollection(obs_data_t *data)
{
	if (!data)
		return;
	if (enabled)
		cleanup();
	refreshSettingsFromMirrors();
	OBSDataArrayAutoRelease array = obs_data_array_create();
	for (const VerticalVolumeSetting &setting : settings) {
		OBSDataAutoRelease item = obs_data_create();
		obs_data_set_string(item, "uuid", setting.uuid.toUtf8().constData());
		obs_data_set_int(item, "global_channel", setting.globalChannel);
		obs_data_set_double(item, "volume", double(setting.volume));
		obs_data_set_bool(item, "muted", setting.muted);
		obs_data_set_bool(item, "vertical", setting.vertical);
		obs_data_array_push_back(array, item);
	}
	obs_data_set_array(data, "vertical_volumes", array);
}

void VerticalVolumeManager::restore()
{
	restore(probeMainOutputs());
}

void VerticalVolumeManager::restore(const MainOutputTracks &probe)
{
	enabled = true;
	rememberedVerticalTrack = config().audioTrack;
	bool created = false;
	for (size_t i = 0; i < settings.size();) {
		const VerticalVolumeSetting setting = settings[i];
		OBSSourceAutoRelease source = sourceByUuid(setting.uuid);
		if (!usable(source)) {
			settings.erase(settings.begin() + std::ptrdiff_t(i));
			continue;
		}
		++i;
		if (!hasMirror(source) && separateStatus(source, probe) == SeparatePossible)
			created = createMirror(source, setting.volume, setting.muted, setting.vertical) || created;
	}
	if (created)
		emit mirrorsChanged();
}

void VerticalVolumeManager::tearDown()
{
	enabled = false;
	refreshSettingsFromMirrors();
	const bool had = !mirrors.empty();
	while (!mirrors.empty())
		removeMirrorAt(mirrors.size() - 1);
	audioCanvas.reset();
	if (had)
		emit mirrorsChanged();
}

void VerticalVolumeManager::cleanup()
{
	bool removed = false;
	for (size_t i = 0; i < mirrors.size();) {
		VerticalAudioMirror &mirror = *mirrors[i];
		if (usable(mirror.source) && !leftGlobalChannel(mirror.globalChannel, mirror.source)) {
			++i;
			continue;
		}
		const QString uuid = uuidOf(mirror.source);
		removeMirrorAt(i);
		eraseSettings(uuid);
		removed = true;
	}
	settings.erase(std::remove_if(settings.begin(), settings.end(),
				      [](const VerticalVolumeSetting &setting) {
					      OBSSourceAutoRelease source = sourceByUuid(setting.uuid);
					      return !usable(source) ||
						     leftGlobalChannel(setting.globalChannel, source);
				      }),
		       settings.end());
	releaseCanvasIfUnused();
	if (removed)
		emit mirrorsChanged();
}

void VerticalVolumeManager::onCheckTimer()
{
	if (!enabled || profileChanging)
		return;
	cleanup();
	++tickCounter;
	const int track = config().audioTrack;
	if (track == rememberedVerticalTrack && (tickCounter % kProbeEveryTicks != 0 || settings.empty()))
		return;
	const MainOutputTracks probe = probeMainOutputs();
	const int streamTrack = probe.valid ? probe.streamTrack : 0;
	if (track != rememberedVerticalTrack || streamTrack != rememberedStreamTrack)
		reevaluate(probe);
}

void VerticalVolumeManager::reevaluate()
{
	reevaluate(probeMainOutputs());
}

void VerticalVolumeManager::reevaluate(const MainOutputTracks &probe)
{
	if (!enabled || profileChanging)
		return;
	const int track = config().audioTrack;
	const uint32_t bit = trackBit(track);
	if (!bit)
		return;
	rememberedStreamTrack = probe.valid ? probe.streamTrack : 0;
	refreshSettingsFromMirrors();
	rememberedVerticalTrack = track;

	if (probe.valid && probe.streamTrack == track && !mirrors.empty()) {
		// The main stream now carries the vertical track: a separate volume would change the main mix.
		while (!mirrors.empty()) {
			VerticalAudioMirror &mirror = *mirrors.front();
			OBSSource source = mirror.source;
			mirror.applyMixers(trackBit(mirror.verticalTrack), false,
					   mirror.mirrorOnTrack(mirror.verticalTrack), track != mirror.verticalTrack);
			removeMirrorAt(0);
			eraseSettings(uuidOf(source));
			stilwaneLog(LOG_WARNING, "vertical volume: '%s' separate off (same horizontal track)",
				    obs_source_get_name(source));
		}
		audioCanvas.reset();
		emit mirrorsChanged();
		return;
	}

	for (const auto &mirror : mirrors) {
		mirror->applyMixers(bit, true, mirror->mirrorOnTrack(mirror->verticalTrack), false);
		mirror->verticalTrack = track;
	}
	restore(probe);
}

} // namespace stilwane
