// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <docks/AudioMixerRow.hpp>

#include <QWidget>

#include <atomic>
#include <memory>
#include <vector>

#include <obs-frontend-api.h>
#include <obs.hpp>

class QLabel;
class QPushButton;
class QTimer;
class QVBoxLayout;

namespace stilwane {

class AudioLevel;

// The main dock's audio page: the vertical track with its level meter, the track split and audio-mix offers,
// and one row per audio source of the vertical scenes. Keeps no audio state of its own: the rows are rebuilt
// from a fresh scan whenever libobs, the canvas or a container reports a change, and every 50 ms tick brings
// them up to date. Rows and the master meter's capture exist only while the page is visible. UI thread;
// libobs callbacks only set atomics.
class AudioDock : public QWidget {
	Q_OBJECT

public:
	explicit AudioDock(QWidget *parent = nullptr);
	~AudioDock() override;

	// One 50 ms tick of the meter timer.
	void meterTick();
	void rebuildRows();
	void refreshHeader();
	// The module forwards every front-end event here.
	void handleFrontendEvent(enum obs_frontend_event event);
	// Stops everything for good (OBS exits).
	void teardown();

	const std::vector<std::unique_ptr<AudioMixerRow>> &rows() const { return mixerRows; }
	AudioMixerRow *rowOf(obs_source_t *source) const;
	QLabel *trackLabel() const { return track; }
	QLabel *sameTrackLabel() const { return sameTrack; }
	QPushButton *splitButton() const { return split; }
	QLabel *mixOffLabel() const { return mixOff; }
	QPushButton *enableMixButton() const { return enableMix; }
	QLabel *emptyLabel() const { return empty; }
	AudioLevel *masterMeter() const { return master; }
	bool hasMasterCapture() const { return captureTrack != 0; }
	const AudioDockContext &context() const { return ctx; }
	void markDirty() { dirty.store(true); }

protected:
	void showEvent(QShowEvent *event) override;
	void hideEvent(QHideEvent *event) override;
	bool eventFilter(QObject *watched, QEvent *event) override;

private:
	// Any thread.
	static void onDirtySignal(void *param, calldata_t *);
	// libobs audio thread.
	static void onMasterAudio(void *param, size_t mixIdx, struct audio_data *data);

	void buildLayout();
	void connectGlobalSignals();
	void removeRows();
	void updateMasterCapture();
	void removeMasterCapture();
	void onSplitClicked();
	void onEnableMixClicked();

	QTimer *meterTimer = nullptr;
	QLabel *track = nullptr;
	AudioLevel *master = nullptr;
	QLabel *sameTrack = nullptr;
	QPushButton *split = nullptr;
	QLabel *mixOff = nullptr;
	QPushButton *enableMix = nullptr;
	QLabel *empty = nullptr;
	QWidget *rowContainer = nullptr;
	QVBoxLayout *rowLayout = nullptr;
	std::vector<std::unique_ptr<AudioMixerRow>> mixerRows;
	std::vector<OBSSource> watchedContainers;
	std::vector<OBSSignal> containerSignals;
	std::vector<OBSSignal> globalSignals;
	AudioDockContext ctx;
	std::atomic<bool> dirty{true};
	bool suspended = false;
	bool exiting = false;
	std::atomic<float> masterPeak;
	unsigned tickCounter = 0;
	int captureTrack = 0;
	int captureChannels = 0;
	uint32_t captureSampleRate = 0;
};

} // namespace stilwane
