// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QPointF>
#include <Qt>

#include <array>
#include <optional>

#include <graphics/matrix4.h>

namespace stilwane {

// The arithmetic of editing items in the preview, in canvas pixels unless said otherwise. Pure
// functions without libobs state, so that the tests can drive every case directly.

// Display pixels per canvas pixel: the reach of the corner handles and the snapping distance are
// measured on the screen, so that they feel the same at every zoom.
constexpr double kHandleReachPx = 9.0;
constexpr double kSnapDistancePx = 8.0;
// A corner drag never shrinks an item below this scale: it would vanish and could not be grabbed.
constexpr double kMinDragScale = 0.02;

// Maps canvas pixels to device pixels of the preview display: device = canvas * scale + offset.
struct ViewTransform {
	double scale = 1.0;
	double offsetX = 0.0;
	double offsetY = 0.0;
	double pixelRatio = 1.0;
};

// The canvas letterboxed into a display of widgetWidth x widgetHeight logical pixels. Any empty size
// gives the identity (with the ratio kept), which maps points somewhere harmless.
ViewTransform makeViewTransform(double widgetWidth, double widgetHeight, double pixelRatio, double canvasWidth,
				double canvasHeight);
// A point in the display's logical pixels, in canvas pixels.
QPointF toCanvas(const ViewTransform &view, const QPointF &widgetPoint);

// Top-left, top-right, bottom-right, bottom-left of an item's box (libobs's box transform applied to
// the unit square). The corner opposite c is (c + 2) % 4.
using Corners = std::array<QPointF, 4>;
Corners boxCorners(const matrix4 &box);
inline int oppositeCorner(int corner)
{
	return (corner + 2) % 4;
}

// Whether p lies inside the box, edges included; a box squashed to nothing contains no point.
bool boxContains(const matrix4 &box, const QPointF &p);

// The first corner (0..3) within kHandleReachPx display pixels of p on both axes, or -1.
int handleAt(const Corners &corners, const QPointF &p, double viewScale);

// The axis-aligned extent of a box.
struct Extents {
	double left = 0.0;
	double top = 0.0;
	double right = 0.0;
	double bottom = 0.0;
};
Extents extentsOf(const Corners &corners);

// A move by delta of a box whose extent was startBox, pulled onto the canvas edges or centre when
// an edge or the centre comes within kSnapDistancePx display pixels. Each axis snaps to one line
// only, tried in the order near edge, far edge, centre: an item as wide as the canvas lands on the
// left edge, never on the right.
QPointF snapMove(const QPointF &delta, const Extents &startBox, double canvasWidth, double canvasHeight,
		 double viewScale);

// The uniform scale that makes an item of baseWidth x baseHeight (its source less the crop) reach
// from anchor to pointer on the axis that needs more, never below kMinDragScale. Empty when the base
// is empty: such an item cannot be scaled by dragging.
std::optional<double> dragScale(const QPointF &pointer, const QPointF &anchor, double baseWidth, double baseHeight);

// What the pointer would do over the selected item: resize at a corner (handle 0..3), move inside it,
// nothing elsewhere (handle -1, not inside).
Qt::CursorShape cursorFor(int handle, bool inside);

// The move an arrow key asks for: one canvas pixel, ten with Shift; empty for other keys.
std::optional<QPointF> nudgeFor(int key, Qt::KeyboardModifiers modifiers);

} // namespace stilwane
