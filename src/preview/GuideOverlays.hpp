// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QImage>
#include <QRectF>
#include <QString>

class QPainter;

namespace stilwane {

// The safe-area guides and the phone-screen mock-up of the chosen preset (Live 0, Shorts 1,
// Custom 2), in a 1080x1920 design space scaled to the canvas. All of them read the preset and the
// margins from the configuration when they run.
enum class GuidePreset { Live = 0, Shorts = 1, Custom = 2 };

// The configured preset; anything that is neither Live nor Shorts counts as Custom.
GuidePreset currentGuidePreset();

// The rectangle that stays clear of the phone's interface, in pixels of a W x H picture. Reads the
// configuration: user-interface thread only.
QRectF safeArea(double width, double height);
// Grid and safe outline; graphics thread, inside the preview's canvas projection.
void drawGuideLines(float width, float height, const QRectF &safe);
// Transparent pictures of the canvas size, turned into textures by the preview.
QImage renderSafeLabelImage(int width, int height);
QImage renderPhoneUiImage(int width, int height);
// Writes the combined 1080x1920 picture of every layer; true when the file was written.
bool exportGuidePng(const QString &path);

void drawShadowedText(QPainter &painter, const QRectF &rect, int flags, const QString &text, const QColor &colour);
// A bold caption of the given design size (scaled by sy) in translucent white with a shadow.
void drawCaption(QPainter &painter, const QRectF &rect, int flags, const QString &text, double size, double sy);

// Scaled pixel sizes of the texts, with floors that keep them legible on small canvases: captions and
// the safe label never go below 11 px, the mock-up's own texts never below 10 px.
int captionPixelSize(double size, double sy);
int mockTextPixelSize(double size, double sy);

} // namespace stilwane
