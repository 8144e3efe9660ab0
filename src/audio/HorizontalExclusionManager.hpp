// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <vector>

#include <QObject>
#include <QString>

#include <obs.hpp>

class QTimer;

namespace stilwane {

// Keeps sources that are only in vertical scenes off the main outputs' tracks while the vertical canvas mixes
// its own audio, remembers per source which track bits it took away ("horizontal_exclusions" in the scene
// collection) and gives them back when the source joins a main scene or leaves the vertical scenes. libobs
// signal handlers only request a pass; everything else runs on the UI thread.
class HorizontalExclusionManager : public QObject {
	Q_OBJECT

public:
	static HorizontalExclusionManager *instance();

	// Module load: the timer and the libobs global signals.
	void setUp();
	// Exit: stops, disconnects the global signals, deletes the timer.
	void shutdown();
	void start();
	void stop();
	// On while an OBS profile change is in progress.
	void setSuspended(bool on);
	void suspend() { setSuspended(true); }
	void resume() { setSuspended(false); }
	void applyExclusions();

	void loadFromCollection(obs_data_t *data);
	void saveToCollection(obs_data_t *data);
	// The track bits taken from the source while active, else 0.
	uint32_t exclusionBits(obs_source_t *source) const;
	bool isActive() const { return active; }
	const std::map<QString, uint32_t> &entries() const { return exclusions; }

private:
	HorizontalExclusionManager() = default;
	~HorizontalExclusionManager() override;

	// Any thread.
	static void requestPass(void *data, calldata_t *);
	void scheduleSave();

	std::map<QString, uint32_t> exclusions;
	std::vector<OBSSource> hookedContainers;
	std::vector<OBSSignal> containerSignals;
	std::vector<OBSSignal> globalSignals;
	QTimer *timer = nullptr;
	std::atomic<bool> pending{false};
	bool active = false;
	bool suspended = false;
	bool saveScheduled = false;
	bool saveWanted = false;
	uint64_t generation = 0;
};

} // namespace stilwane
