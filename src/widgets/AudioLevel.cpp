// SPDX-License-Identifier: GPL-2.0-or-later
#include <widgets/AudioLevel.hpp>

#include <common/Module.hpp>

#include <QColor>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace stilwane {

namespace {

// The zones as fractions of the width: -20 dB starts the yellow zone, -9 dB the red one.
constexpr double kYellowFrom = 2.0 / 3.0;
constexpr double kRedFrom = 0.85;

const QColor kGreen(55, 174, 91);
const QColor kYellow(223, 183, 47);
const QColor kRed(222, 75, 65);

// The zone's background: mostly the palette's base, so the meter reads in light and dark themes.
QColor muted(const QColor &base, const QColor &zone)
{
	auto mix = [](int b, int z) {
		return int(std::lround(0.67 * b + 0.33 * z));
	};
	return QColor(mix(base.red(), zone.red()), mix(base.green(), zone.green()), mix(base.blue(), zone.blue()));
}

} // namespace

AudioLevel::AudioLevel(QWidget *parent) : QWidget(parent)
{
	setFixedHeight(10);
	setMinimumWidth(40);
	setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
	setAccessibleName(translate("Audio.Level"));
	setToolTip(levelText(levelDb));
}

void AudioLevel::setLevel(float db)
{
	levelDb = std::isnan(db) ? kFloorDb : std::max(db, kFloorDb);
	setToolTip(levelText(levelDb));
	update();
}

void AudioLevel::tick(std::atomic<float> &peakSlot)
{
	const float peak = peakSlot.exchange(kFloorDb);
	setLevel(std::max(levelDb - kFallPerTickDb, peak));
}

void AudioLevel::raisePeak(std::atomic<float> &slot, float db)
{
	if (std::isnan(db))
		return;
	float current = slot.load(std::memory_order_relaxed);
	while (db > current && !slot.compare_exchange_weak(current, db, std::memory_order_relaxed)) {
	}
}

QString AudioLevel::levelText(float db)
{
	if (std::isnan(db) || db <= kEmptyDb)
		return QString::fromUtf8("\u2212\u221e dB");
	return QString::number(double(db), 'f', 1) + " dB";
}

double AudioLevel::fillFraction(float db)
{
	if (std::isnan(db))
		return 0.0;
	return std::clamp((double(db) - double(kEmptyDb)) / -double(kEmptyDb), 0.0, 1.0);
}

void AudioLevel::paintEvent(QPaintEvent *)
{
	QPainter painter(this);
	const QColor base = palette().color(QPalette::Base);
	const double width = double(this->width());
	const int height = this->height();
	struct Zone {
		double from, to;
		QColor colour;
	};
	const Zone zones[] = {{0.0, kYellowFrom, kGreen}, {kYellowFrom, kRedFrom, kYellow}, {kRedFrom, 1.0, kRed}};
	const double filled = fillFraction(levelDb);
	for (const Zone &zone : zones) {
		const QRectF all(zone.from * width, 0, (zone.to - zone.from) * width, height);
		painter.fillRect(all, muted(base, zone.colour));
		const double end = std::min(zone.to, filled);
		if (end > zone.from)
			painter.fillRect(QRectF(zone.from * width, 0, (end - zone.from) * width, height), zone.colour);
	}
}

} // namespace stilwane
