// SPDX-License-Identifier: GPL-2.0-or-later
#include <audio/HorizontalExclusionManager.hpp>

#include <audio/AudioSourceScan.hpp>
#include <audio/VerticalAudioSource.hpp>
#include <canvas/CanvasManager.hpp>
#include <common/ConfigRecord.hpp>
#include <common/MainOutputProbe.hpp>
#include <common/Module.hpp>

#include <QMetaObject>
#include <QTimer>

#include <obs-frontend-api.h>

namespace stilwane {

namespace {

constexpr int kPassIntervalMs = 1000;
constexpr uint32_t kAllTracks = 0x3f;
constexpr const char *kKey = "horizontal_exclusions";

OBSSourceAutoRelease sourceByUuid(const QString &uuid)
{
	return obs_get_source_by_uuid(uuid.toUtf8().constData());
}

bool gone(obs_source_t *source)
{
	return !source || obs_source_removed(source);
}

} // namespace

HorizontalExclusionManager *HorizontalExclusionManager::instance()
{
	static HorizontalExclusionManager manager;
	return &manager;
}

HorizontalExclusionManager::~HorizontalExclusionManager() = default;

void HorizontalExclusionManager::setUp()
{
	if (timer)
		return;
	timer = new QTimer(this);
	timer->setInterval(kPassIntervalMs);
	connect(timer, &QTimer::timeout, this, &HorizontalExclusionManager::applyExclusions);
	CanvasManager *manager = CanvasManager::instance();
	connect(manager, &CanvasManager::canvasChanged, this, &HorizontalExclusionManager::applyExclusions,
		Qt::QueuedConnection);
	connect(manager, &CanvasManager::scenesChanged, this, &HorizontalExclusionManager::applyExclusions,
		Qt::QueuedConnection);
	signal_handler_t *handler = obs_get_signal_handler();
	for (const char *name : {"source_create", "source_create_canvas", "source_remove", "channel_change"})
		globalSignals.emplace_back(handler, name, &HorizontalExclusionManager::requestPass, this);
}

void HorizontalExclusionManager::shutdown()
{
	stop();
	globalSignals.clear();
	if (timer) {
		disconnect(CanvasManager::instance(), nullptr, this, nullptr);
		delete timer;
		timer = nullptr;
	}
}

void HorizontalExclusionManager::start()
{
	active = true;
	if (timer)
		timer->start();
	applyExclusions();
}

void HorizontalExclusionManager::stop()
{
	active = false;
	if (timer)
		timer->stop();
	generation++;
	saveScheduled = false;
	saveWanted = false;
	pending = false;
	containerSignals.clear();
	hookedContainers.clear();
}

void HorizontalExclusionManager::setSuspended(bool on)
{
	suspended = on;
	if (!on && active && saveWanted)
		scheduleSave();
}

// Any thread: libobs raises these signals where the change happens. A burst costs one queued pass.
void HorizontalExclusionManager::requestPass(void *data, calldata_t *)
{
	auto *self = static_cast<HorizontalExclusionManager *>(data);
	if (self->pending.exchange(true))
		return;
	QMetaObject::invokeMethod(
		self,
		[self] {
			if (self->pending.exchange(false))
				self->applyExclusions();
		},
		Qt::QueuedConnection);
}

void HorizontalExclusionManager::applyExclusions()
{
	if (!timer || !active || suspended)
		return;

	bool changed = false;
	for (auto it = exclusions.begin(); it != exclusions.end();) {
		OBSSourceAutoRelease source = sourceByUuid(it->first);
		if (gone(source)) {
			it = exclusions.erase(it);
			changed = true;
		} else {
			++it;
		}
	}

	// The conditions under which sources are touched at all; outside them the stored entries stay as
	// they are until the mix, the tracks or the probe allow a pass again.
	CanvasManager *manager = CanvasManager::instance();
	const bool mixing = manager->hasCanvas() && config().mixAudio &&
			    (obs_canvas_get_flags(manager->canvas()) & MIX_AUDIO);
	const MainOutputTracks probe = mixing ? probeMainOutputs() : MainOutputTracks();
	const uint32_t verticalBit = trackBit(config().audioTrack);
	if (!mixing || !probe.valid || !verticalBit || !trackBit(probe.streamTrack) ||
	    probe.streamTrack == config().audioTrack) {
		if (changed)
			scheduleSave();
		return;
	}

	const uint32_t horizontal =
		(probe.streamMask | probe.recordingMask | probe.replayMask | probe.configuredStreamMask) & kAllTracks &
		~verticalBit;
	const uint32_t keep = kAllTracks & ~verticalBit;

	const AudioSourceScan scan = AudioSourceScan::scan();
	containerSignals.clear();
	hookedContainers = scan.containers();
	for (const OBSSource &container : hookedContainers) {
		signal_handler_t *handler = obs_source_get_signal_handler(container);
		for (const char *name : {"item_add", "item_remove", "refresh"})
			containerSignals.emplace_back(handler, name, &HorizontalExclusionManager::requestPass, this);
	}

	// Restore what a source no longer needs taken away: it joined a main scene or left the vertical ones.
	for (auto it = exclusions.begin(); it != exclusions.end();) {
		OBSSourceAutoRelease source = sourceByUuid(it->first);
		if (gone(source) || isInternalAudioSource(source)) {
			it = exclusions.erase(it);
			changed = true;
			continue;
		}
		if (scan.inVertical(source) && !scan.inMain(source)) {
			++it;
			continue;
		}
		const uint32_t before = obs_source_get_audio_mixers(source);
		const uint32_t after = before | (it->second & keep);
		if (after != before) {
			obs_source_set_audio_mixers(source, after);
			const uint32_t turnedOn = obs_source_get_audio_mixers(source) & ~before;
			if (turnedOn)
				stilwaneLog(LOG_INFO, "horizontal exclusion: '%s' tracks 0x%02x restored",
					    obs_source_get_name(source), unsigned(turnedOn));
		}
		it = exclusions.erase(it);
		changed = true;
	}

	// Take the vertical-only sources off the main outputs' tracks. Global sources are in both sides of
	// the scan, so they are never excluded.
	for (const OBSSource &source : scan.verticalAudio) {
		if (obs_source_removed(source) || scan.inMain(source))
			continue;
		const uint32_t before = obs_source_get_audio_mixers(source);
		uint32_t taken = before & horizontal;
		if (!taken)
			continue;
		obs_source_set_audio_mixers(source, before & ~taken);
		// Only bits really off now are recorded: a refused change must not be "restored" later.
		taken &= ~obs_source_get_audio_mixers(source);
		if (!taken)
			continue;
		exclusions[QString::fromUtf8(obs_source_get_uuid(source))] |= taken;
		stilwaneLog(LOG_INFO, "horizontal exclusion: '%s' tracks 0x%02x off", obs_source_get_name(source),
			    unsigned(taken));
		changed = true;
	}

	if (changed)
		scheduleSave();
}

void HorizontalExclusionManager::scheduleSave()
{
	saveWanted = true;
	if (saveScheduled)
		return;
	saveScheduled = true;
	const uint64_t scheduledIn = generation;
	QTimer::singleShot(0, this, [this, scheduledIn] {
		// A stop in between (collection change, exit) makes this save belong to another collection.
		if (scheduledIn != generation)
			return;
		saveScheduled = false;
		if (!active || suspended)
			return;
		saveWanted = false;
		obs_frontend_save();
	});
}

void HorizontalExclusionManager::loadFromCollection(obs_data_t *data)
{
	stop();
	exclusions.clear();
	if (!data)
		return;
	OBSDataArrayAutoRelease array = obs_data_get_array(data, kKey);
	const size_t count = obs_data_array_count(array);
	for (size_t i = 0; i < count; i++) {
		OBSDataAutoRelease item = obs_data_array_item(array, i);
		const QString uuid = QString::fromUtf8(obs_data_get_string(item, "uuid"));
		// A negative number is damage, not "every track": restoring it would turn on tracks never taken.
		const long long stored = obs_data_get_int(item, "bits");
		const uint32_t bits = stored > 0 ? uint32_t(stored) & kAllTracks : 0;
		if (uuid.isEmpty() || !bits)
			continue;
		exclusions[uuid] |= bits;
	}
}

void HorizontalExclusionManager::saveToCollection(obs_data_t *data)
{
	OBSDataArrayAutoRelease array = obs_data_array_create();
	for (const auto &[uuid, bits] : exclusions) {
		OBSDataAutoRelease item = obs_data_create();
		obs_data_set_string(item, "uuid", uuid.toUtf8().constData());
		obs_data_set_int(item, "bits", bits);
		obs_data_array_push_back(array, item);
	}
	obs_data_set_array(data, kKey, array);
}

uint32_t HorizontalExclusionManager::exclusionBits(obs_source_t *source) const
{
	if (!active || !source)
		return 0;
	auto it = exclusions.find(QString::fromUtf8(obs_source_get_uuid(source)));
	return it == exclusions.end() ? 0 : it->second;
}

} // namespace stilwane
