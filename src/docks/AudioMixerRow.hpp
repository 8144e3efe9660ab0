// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <common/MainOutputProbe.hpp>

#include <QObject>

#include <atomic>

#include <obs.hpp>

class QBoxLayout;
class QCheckBox;
class QEvent;
class QLabel;
class QSlider;
class QToolButton;
class QWidget;

namespace stilwane {

class AudioLevel;

// What the audio dock's rows read and share: the dock's cached main-output probe and whether an OBS
// profile change is in progress.
struct AudioDockContext {
	MainOutputTracks probe;
	bool profileChanging = false;
};

// One source of the audio dock: name, use-vertical and separate switches, level meter, volume fader and mute.
// Fader and meter follow the row's target, the source's mirror while it has a separate vertical volume, else
// the source itself. UI thread, except the meter callback.
class AudioMixerRow : public QObject {
	Q_OBJECT

public:
	static constexpr int kSliderSteps = 1000;

	AudioMixerRow(obs_source_t *source, bool shared, AudioDockContext *context, QWidget *parent);
	// Detaches fader and meter and deletes the row's widget.
	~AudioMixerRow() override;

	QWidget *widget() const { return row; }
	obs_source_t *source() const { return src; }
	obs_source_t *target() const { return tgt; }
	bool isShared() const { return shared; }

	// Follows the source's mirror coming or going.
	void attachTarget();
	// Brings every control up to date with the target and moves the level meter one tick.
	void refresh();

	QLabel *nameLabel() const { return name; }
	QLabel *dbLabel() const { return db; }
	QSlider *volumeSlider() const { return slider; }
	QToolButton *muteButton() const { return mute; }
	QCheckBox *useVerticalBox() const { return useVertical; }
	QCheckBox *separateBox() const { return separate; }
	AudioLevel *levelMeter() const { return meter; }
	int separateStatus() const { return status; }

signals:
	// Something the dock's header shows may have changed.
	void headerChanged();

private:
	// libobs audio thread.
	static void onLevels(void *param, const float magnitude[MAX_AUDIO_CHANNELS],
			     const float peak[MAX_AUDIO_CHANNELS], const float inputPeak[MAX_AUDIO_CHANNELS]);
	void build(QWidget *parent);
	// A narrow dock stacks the two switches so that the row never needs a horizontal scroll bar.
	bool eventFilter(QObject *watched, QEvent *event) override;
	void detach();
	bool targetUsable();
	void onSliderMoved(int value);
	void onMuteToggled(bool muted);
	void onUseVerticalToggled(bool on);
	void onSeparateToggled(bool on);

	OBSSource src;
	OBSSource tgt;
	bool shared = false;
	AudioDockContext *context = nullptr;
	QWidget *row = nullptr;
	QLabel *name = nullptr;
	QLabel *db = nullptr;
	QSlider *slider = nullptr;
	QToolButton *mute = nullptr;
	QCheckBox *useVertical = nullptr;
	QCheckBox *separate = nullptr;
	QBoxLayout *switches = nullptr;
	AudioLevel *meter = nullptr;
	obs_fader_t *fader = nullptr;
	obs_volmeter_t *volmeter = nullptr;
	std::atomic<float> peakSlot;
	int status = 0;
};

} // namespace stilwane
