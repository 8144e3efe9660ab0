#pragma once

#include <QObject>

#include <obs.hpp>

// Sources kept out of the main tracks. Until exclusions can be applied, the manager keeps the
// collection's "horizontal_exclusions" exactly as loaded and writes them back.
class HorizontalExclusionManager : public QObject {
	Q_OBJECT

public:
	static HorizontalExclusionManager *instance();

	void setUp();
	void shutdown();
	void start();
	void stop();
	void suspend() { suspended = true; }
	void resume() { suspended = false; }
	void applyExclusions();

	void loadFromCollection(obs_data_t *data);
	void saveToCollection(obs_data_t *data);

private:
	HorizontalExclusionManager() = default;

	OBSDataArray stored;
	bool suspended = false;
};
