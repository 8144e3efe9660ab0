#pragma once

#include <QObject>

#include <obs.hpp>

// Per-source volumes of the vertical mix. Until the vertical mix exists, the manager keeps the
// collection's "vertical_volumes" exactly as loaded and writes them back, so switching versions
// never loses them.
class VerticalVolumeManager : public QObject {
	Q_OBJECT

public:
	static VerticalVolumeManager *instance();

	void setUp();
	void tearDown();
	void restore();
	void setProfileChanging(bool changing) { profileChanging = changing; }
	bool isProfileChanging() const { return profileChanging; }
	void reevaluate();

	void loadFromCollection(obs_data_t *data);
	void saveToCollection(obs_data_t *data);
	void releaseData() { stored = nullptr; }

private:
	VerticalVolumeManager() = default;

	OBSDataArray stored;
	bool profileChanging = false;
};
