// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <atomic>

#include <QString>
#include <QWidget>

namespace stilwane {

// A horizontal level meter: green, yellow and red zones, -60 dB empty, 0 dB full. Falls by 3 dB per update
// and jumps up at once. UI thread; the peak slot it reads is written by libobs threads.
class AudioLevel : public QWidget {
	Q_OBJECT

public:
	static constexpr float kFloorDb = -120.0f;
	// Where the drawing and the text treat the level as silence.
	static constexpr float kEmptyDb = -60.0f;
	static constexpr float kFallPerTickDb = 3.0f;

	explicit AudioLevel(QWidget *parent = nullptr);

	float level() const { return levelDb; }
	void setLevel(float db);
	// Takes the slot's peak (putting the floor back) and moves the meter: one 50 ms tick.
	void tick(std::atomic<float> &peakSlot);
	// The atomic maximum the libobs callbacks use. Any thread.
	static void raisePeak(std::atomic<float> &slot, float db);
	// "-inf dB" from -60 dB down, else the level with one decimal.
	static QString levelText(float db);
	// How much of the width the level fills, 0..1.
	static double fillFraction(float db);

protected:
	void paintEvent(QPaintEvent *event) override;

private:
	float levelDb = kFloorDb;
};

} // namespace stilwane
