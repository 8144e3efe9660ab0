// SPDX-License-Identifier: GPL-2.0-or-later
#include <preview/GuideOverlays.hpp>

#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>

#include <algorithm>

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPen>

// libobs last: its SIMD macros break the compiler's intrinsics headers included after them.
#include <obs.h>
#include <graphics/vec4.h>

namespace stilwane {

namespace {

constexpr double kDesignWidth = 1080.0;
constexpr double kDesignHeight = 1920.0;

// Appends a closed outline; GS_LINESTRIP needs the first corner again to close the loop.
void rectOutline(float x0, float y0, float x1, float y1)
{
	gs_render_start(true);
	gs_vertex2f(x0, y0);
	gs_vertex2f(x1, y0);
	gs_vertex2f(x1, y1);
	gs_vertex2f(x0, y1);
	gs_vertex2f(x0, y0);
	gs_render_stop(GS_LINESTRIP);
}

void setSolidColour(gs_eparam_t *param, float r, float g, float b, float a)
{
	vec4 colour;
	vec4_set(&colour, r, g, b, a);
	gs_effect_set_vec4(param, &colour);
}

} // namespace

GuidePreset currentGuidePreset()
{
	switch (config().guidePreset) {
	case 0:
		return GuidePreset::Live;
	case 1:
		return GuidePreset::Shorts;
	default:
		return GuidePreset::Custom;
	}
}

QRectF safeArea(double width, double height)
{
	const double sx = width / kDesignWidth;
	const double sy = height / kDesignHeight;
	// The Live frame was measured on YouTube Live's player and does not follow the editable margins.
	if (currentGuidePreset() == GuidePreset::Live)
		return QRectF(53 * sx, 250 * sy, 974 * sx, 1040 * sy);
	const ConfigRecord &c = config();
	return QRectF(c.guideLeft * sx, c.guideTop * sy, (kDesignWidth - c.guideLeft - c.guideRight) * sx,
		      (kDesignHeight - c.guideTop - c.guideBottom) * sy);
}

int captionPixelSize(double size, double sy)
{
	return std::max(11, int(size * sy));
}

int mockTextPixelSize(double size, double sy)
{
	return std::max(10, int(size * sy));
}

void drawGuideLines(float width, float height, const QRectF &safe)
{
	gs_effect_t *solid = obs_get_base_effect(OBS_EFFECT_SOLID);
	gs_eparam_t *colour = gs_effect_get_param_by_name(solid, "color");
	gs_technique_t *tech = gs_effect_get_technique(solid, "Solid");
	if (!solid || !colour || !tech)
		return;

	// The grid and the frame are translucent; the caller's blend state may be opaque.
	gs_blend_state_push();
	gs_enable_blending(true);
	gs_blend_function(GS_BLEND_SRCALPHA, GS_BLEND_INVSRCALPHA);

	gs_technique_begin(tech);
	gs_technique_begin_pass(tech, 0);

	setSolidColour(colour, 1.0f, 1.0f, 1.0f, 0.28f);
	gs_render_start(true);
	gs_vertex2f(width / 3.0f, 0.0f);
	gs_vertex2f(width / 3.0f, height);
	gs_vertex2f(2.0f * width / 3.0f, 0.0f);
	gs_vertex2f(2.0f * width / 3.0f, height);
	gs_vertex2f(0.0f, height / 3.0f);
	gs_vertex2f(width, height / 3.0f);
	gs_vertex2f(0.0f, 2.0f * height / 3.0f);
	gs_vertex2f(width, 2.0f * height / 3.0f);
	gs_render_stop(GS_LINES);

	const QRectF &r = safe;
	const float x0 = float(r.x());
	const float y0 = float(r.y());
	const float x1 = float(r.x() + r.width());
	const float y1 = float(r.y() + r.height());
	// Lines are one pixel wide in libobs: the second, inset loop makes the frame visible when scaled down.
	setSolidColour(colour, 1.0f, 0.85f, 0.25f, 0.95f);
	rectOutline(x0, y0, x1, y1);
	rectOutline(x0 + 1.0f, y0 + 1.0f, x1 - 1.0f, y1 - 1.0f);

	gs_technique_end_pass(tech);
	gs_technique_end(tech);
	gs_blend_state_pop();
}

void drawShadowedText(QPainter &painter, const QRectF &rect, int flags, const QString &text, const QColor &colour)
{
	painter.setPen(QColor(0, 0, 0, 200));
	painter.drawText(rect.translated(2, 2), flags, text);
	painter.setPen(colour);
	painter.drawText(rect, flags, text);
	painter.setPen(Qt::NoPen);
}

void drawCaption(QPainter &painter, const QRectF &rect, int flags, const QString &text, double size, double sy)
{
	QFont font = painter.font();
	font.setBold(true);
	font.setPixelSize(captionPixelSize(size, sy));
	painter.setFont(font);
	drawShadowedText(painter, rect, flags, text, QColor(255, 255, 255, 235));
}

QImage renderSafeLabelImage(int width, int height)
{
	QImage image(width, height, QImage::Format_ARGB32);
	if (image.isNull())
		return image;
	image.fill(Qt::transparent);

	const double sx = width / kDesignWidth;
	const double sy = height / kDesignHeight;
	const bool live = currentGuidePreset() == GuidePreset::Live;

	QPainter painter(&image);
	painter.setRenderHint(QPainter::TextAntialiasing);
	QFont font = painter.font();
	font.setBold(true);
	font.setPixelSize(captionPixelSize(30, sy));
	painter.setFont(font);

	const QRectF r = safeArea(width, height);
	const QString text = translate(live ? "Guide.SafeMeasured" : "Guide.Safe");
	// Live's inset keeps the label clear of the channel avatar drawn in the frame's top-left corner.
	const double inset = (live ? 120 : 14) * sx;
	const QRectF textRect(r.x() + inset, r.y() + 8 * sy, r.width() - inset - 14 * sx, 44 * sy);
	drawShadowedText(painter, textRect, Qt::AlignLeft | Qt::AlignVCenter, text, QColor(255, 220, 80, 240));
	return image;
}

bool exportGuidePng(const QString &path)
{
	const int width = int(kDesignWidth);
	const int height = int(kDesignHeight);
	QImage image(width, height, QImage::Format_ARGB32);
	image.fill(QColor(70, 110, 160, 255));

	QPainter painter(&image);
	// The exported picture documents every layer, whether or not the preview shows the mock-up.
	painter.drawImage(0, 0, renderPhoneUiImage(width, height));

	painter.setPen(QPen(QColor(255, 255, 255, 90), 1));
	painter.setBrush(Qt::NoBrush);
	painter.drawLine(QLineF(360, 0, 360, height));
	painter.drawLine(QLineF(720, 0, 720, height));
	painter.drawLine(QLineF(0, 640, width, 640));
	painter.drawLine(QLineF(0, 1280, width, 1280));

	painter.setPen(QPen(QColor(255, 220, 80, 230), 2));
	painter.drawRect(safeArea(width, height));

	painter.drawImage(0, 0, renderSafeLabelImage(width, height));
	painter.end();
	return image.save(path);
}

} // namespace stilwane
