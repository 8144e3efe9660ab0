// SPDX-License-Identifier: GPL-2.0-or-later
#include <preview/GuideOverlays.hpp>

#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>

#include <algorithm>

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPen>

namespace stilwane {

namespace {

constexpr double kDesignWidth = 1080.0;
constexpr double kDesignHeight = 1920.0;

// Design-space geometry to picture pixels.
struct Scale {
	double sx;
	double sy;

	QRectF rect(double x, double y, double w, double h) const { return QRectF(x * sx, y * sy, w * sx, h * sy); }
	QPointF point(double x, double y) const { return QPointF(x * sx, y * sy); }
};

void roundedRect(QPainter &painter, const QRectF &rect, double radius, const QColor &fill)
{
	painter.setBrush(fill);
	painter.drawRoundedRect(rect, radius, radius, Qt::AbsoluteSize);
}

void circle(QPainter &painter, const QPointF &centre, double radius, const QColor &fill)
{
	painter.setBrush(fill);
	painter.drawEllipse(centre, radius, radius);
}

// YouTube Live's portrait player as measured on a phone: the channel bar and subscribe button on
// top, the chat panel and the input row below.
void drawLivePhoneMock(QPainter &painter, int width, int height, const Scale &s)
{
	const QColor light(255, 255, 255, 170);
	const QFont previousFont = painter.font();

	painter.setPen(Qt::NoPen);
	painter.fillRect(QRectF(0, 0, 53 * s.sx, height), QColor(0, 0, 0, 70));
	painter.fillRect(QRectF(width - 53 * s.sx, 0, 53 * s.sx, height), QColor(0, 0, 0, 70));
	painter.fillRect(QRectF(53 * s.sx, 0, width - 106 * s.sx, 250 * s.sy), QColor(0, 0, 0, 55));
	roundedRect(painter, s.rect(166, 60, 90, 38), 8, light);
	roundedRect(painter, s.rect(752, 62, 189, 34), 8, light);

	// The back arrow.
	QPen arrow(QColor(255, 255, 255, 240));
	arrow.setWidthF(std::max(2.0, 5 * s.sx));
	arrow.setCapStyle(Qt::RoundCap);
	painter.setPen(arrow);
	painter.setBrush(Qt::NoBrush);
	painter.drawLine(s.point(131, 188), s.point(106, 209));
	painter.drawLine(s.point(106, 209), s.point(131, 230));

	painter.setPen(Qt::NoPen);
	circle(painter, s.point(226, 206), 38 * s.sx, light);
	roundedRect(painter, s.rect(298, 175, 238, 29), 8, light);
	roundedRect(painter, s.rect(298, 216, 177, 26), 8, light);
	roundedRect(painter, s.rect(648, 171, 248, 75), 37 * s.sy, QColor(255, 255, 255, 225));

	QFont bold = previousFont;
	bold.setBold(true);
	bold.setPixelSize(mockTextPixelSize(28, s.sy));
	painter.setFont(bold);
	painter.setPen(QColor(20, 20, 20, 230));
	painter.drawText(s.rect(648, 171, 248, 75), Qt::AlignCenter, translate("Guide.Subscribe"));
	painter.setPen(Qt::NoPen);

	for (int j = 0; j < 3; ++j)
		circle(painter, s.point(938 + 15.5 * j, 207), 5 * s.sx, QColor(255, 255, 255, 240));
	circle(painter, s.point(125, 295), 34 * s.sx, QColor(0, 0, 0, 150));
	roundedRect(painter, s.rect(107, 285, 36, 20), 4, light);

	roundedRect(painter, s.rect(93, 1291, 766, 481), 12, QColor(0, 0, 0, 55));
	static constexpr int rowY[] = {1326, 1404, 1501, 1580, 1657, 1736};
	static constexpr int rowWidth[] = {420, 600, 520, 380, 560, 330};
	for (int j = 0; j < 6; ++j) {
		// The first message is fading out at the top of the panel.
		const QColor fill = j == 0 ? QColor(255, 255, 255, 80) : light;
		circle(painter, s.point(120, rowY[j]), 28 * s.sx, fill);
		roundedRect(painter, s.rect(179, rowY[j] - 15, rowWidth[j], 30), 8, fill);
	}
	circle(painter, s.point(944, 1730), 42 * s.sx, light);

	roundedRect(painter, s.rect(91, 1810, 663, 83), 41 * s.sy, QColor(255, 255, 255, 60));
	QFont plain = previousFont;
	plain.setBold(false);
	plain.setPixelSize(mockTextPixelSize(30, s.sy));
	painter.setFont(plain);
	painter.setPen(QColor(255, 255, 255, 180));
	painter.drawText(s.rect(122, 1810, 400, 83), Qt::AlignLeft | Qt::AlignVCenter, translate("Guide.ChatInput"));
	painter.setPen(Qt::NoPen);
	for (double x : {711.0, 827.0, 944.0})
		circle(painter, s.point(x, 1851), 42 * s.sx, light);

	painter.setFont(previousFont);
}

// Shorts and Custom: bands where the phone's interface covers the picture, derived from the margins.
void drawMarginPhoneMock(QPainter &painter, int width, int height, const Scale &s, bool shorts)
{
	const ConfigRecord &c = config();
	const int top = int(c.guideTop * s.sy);
	const int bottom = int(c.guideBottom * s.sy);
	const int left = int(c.guideLeft * s.sx);
	const int right = int(c.guideRight * s.sx);
	const int bottomY = height - bottom;
	// The action buttons sit in the lower half only, never above the top band.
	const int railTop = std::max(top, int(0.5 * height));
	const bool rail = bottomY > railTop;

	const QColor dark(0, 0, 0, 120);
	const QColor faint(0, 0, 0, 60);
	const QColor light(255, 255, 255, 150);

	painter.fillRect(QRect(0, 0, width, top), dark);
	painter.fillRect(QRect(0, bottomY, width, bottom), dark);
	if (rail)
		painter.fillRect(QRect(width - right, railTop, right, bottomY - railTop), dark);
	if (bottomY > top)
		painter.fillRect(QRect(0, top, left, bottomY - top), faint);

	painter.setPen(Qt::NoPen);
	painter.setBrush(light);
	const double x0 = 24 * s.sx + left;
	const double r = 30 * s.sy;
	const double cy = 0.62 * top;
	painter.drawEllipse(QPointF(x0 + r, cy), r, r);
	painter.drawRoundedRect(QRectF(x0 + 2 * r + 20 * s.sx, cy - 0.9 * r, 300 * s.sx, 22 * s.sy), 8, 8,
				Qt::AbsoluteSize);
	painter.drawRoundedRect(QRectF(x0 + 2 * r + 20 * s.sx, cy + 0.1 * r, 420 * s.sx, 22 * s.sy), 8, 8,
				Qt::AbsoluteSize);

	if (rail) {
		const double step = (bottomY - railTop) / 5.0;
		const double radius = 34 * s.sx;
		for (int i = 1; i <= 4; ++i)
			painter.drawEllipse(QPointF(width - 0.5 * right, railTop + i * step), radius, radius);
	}

	const double y0 = bottomY + 28 * s.sy;
	painter.drawRoundedRect(QRectF(x0, y0, 520 * s.sx, 1.3 * 22 * s.sy), 8, 8, Qt::AbsoluteSize);
	painter.drawRoundedRect(QRectF(x0, y0 + 64 * s.sy, 300 * s.sx, 22 * s.sy), 8, 8, Qt::AbsoluteSize);
	painter.drawRoundedRect(QRectF(x0, y0 + 128 * s.sy, 240 * s.sx, 22 * s.sy), 8, 8, Qt::AbsoluteSize);

	drawCaption(painter, QRectF(0, 0.05 * top, width - right, 0.5 * top), Qt::AlignCenter,
		    translate(shorts ? "Guide.TopShorts" : "Guide.TopCustom"), 30, s.sy);
	drawCaption(painter, QRectF(0, height - 0.55 * bottom, width - right, 0.3 * bottom), Qt::AlignCenter,
		    translate(shorts ? "Guide.BottomShorts" : "Guide.BottomCustom"), 30, s.sy);
	if (rail)
		drawCaption(painter, QRectF(width - right, railTop - 40 * s.sy, right, 36 * s.sy), Qt::AlignCenter,
			    translate("Guide.Rail"), 22, s.sy);
}

} // namespace

QImage renderPhoneUiImage(int width, int height)
{
	QImage image(width, height, QImage::Format_ARGB32);
	if (image.isNull())
		return image;
	image.fill(Qt::transparent);

	const Scale s{width / kDesignWidth, height / kDesignHeight};
	QPainter painter(&image);
	painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
	QFont font = painter.font();
	font.setBold(true);
	painter.setFont(font);

	const GuidePreset preset = currentGuidePreset();
	if (preset == GuidePreset::Live) {
		drawLivePhoneMock(painter, width, height, s);
		drawCaption(painter, s.rect(250, 104, 600, 60), Qt::AlignCenter, translate("Guide.LiveTop"), 26, s.sy);
		drawCaption(painter, s.rect(100, 1244, 800, 44), Qt::AlignLeft | Qt::AlignVCenter,
			    translate("Guide.LiveChat"), 26, s.sy);
	} else {
		drawMarginPhoneMock(painter, width, height, s, preset == GuidePreset::Shorts);
	}
	return image;
}

} // namespace stilwane
