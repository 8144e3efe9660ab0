// SPDX-License-Identifier: GPL-2.0-or-later
#include <preview/PreviewGeometry.hpp>

#include <algorithm>
#include <cmath>

#include <graphics/vec3.h>

namespace stilwane {

ViewTransform makeViewTransform(double widgetWidth, double widgetHeight, double pixelRatio, double canvasWidth,
				double canvasHeight)
{
	ViewTransform view;
	view.pixelRatio = pixelRatio;
	const double widthPx = widgetWidth * pixelRatio;
	const double heightPx = widgetHeight * pixelRatio;
	if (!(canvasWidth > 0.0) || !(canvasHeight > 0.0) || !(widthPx > 0.0) || !(heightPx > 0.0))
		return view;
	view.scale = std::min(heightPx / canvasHeight, widthPx / canvasWidth);
	view.offsetX = (widthPx - view.scale * canvasWidth) * 0.5;
	view.offsetY = (heightPx - view.scale * canvasHeight) * 0.5;
	return view;
}

QPointF toCanvas(const ViewTransform &view, const QPointF &widgetPoint)
{
	return {(widgetPoint.x() * view.pixelRatio - view.offsetX) / view.scale,
		(widgetPoint.y() * view.pixelRatio - view.offsetY) / view.scale};
}

Corners boxCorners(const matrix4 &box)
{
	static const double unit[4][2] = {{0.0, 0.0}, {1.0, 0.0}, {1.0, 1.0}, {0.0, 1.0}};
	Corners corners;
	for (size_t i = 0; i < corners.size(); i++) {
		vec3 in;
		vec3 out;
		vec3_set(&in, float(unit[i][0]), float(unit[i][1]), 0.0f);
		vec3_transform(&out, &in, &box);
		corners[i] = {out.x, out.y};
	}
	return corners;
}

bool boxContains(const matrix4 &box, const QPointF &p)
{
	matrix4 inverse;
	if (!matrix4_inv(&inverse, &box))
		return false;
	vec3 in;
	vec3 out;
	vec3_set(&in, float(p.x()), float(p.y()), 0.0f);
	vec3_transform(&out, &in, &inverse);
	// The edges count as inside; the inverse in floats lands a hair beside them. An item of no size
	// inverts to infinities or NaN, which no comparison lets through.
	constexpr float slack = 1e-5f;
	return out.x >= -slack && out.x <= 1.0f + slack && out.y >= -slack && out.y <= 1.0f + slack;
}

int handleAt(const Corners &corners, const QPointF &p, double viewScale)
{
	const double reach = kHandleReachPx / viewScale;
	for (int i = 0; i < int(corners.size()); i++) {
		if (std::fabs(corners[i].x() - p.x()) <= reach && std::fabs(corners[i].y() - p.y()) <= reach)
			return i;
	}
	return -1;
}

Extents extentsOf(const Corners &corners)
{
	Extents e{corners[0].x(), corners[0].y(), corners[0].x(), corners[0].y()};
	for (const QPointF &c : corners) {
		e.left = std::min(e.left, c.x());
		e.right = std::max(e.right, c.x());
		e.top = std::min(e.top, c.y());
		e.bottom = std::max(e.bottom, c.y());
	}
	return e;
}

namespace {

// The correction that puts the nearest of near edge, far edge and centre (in that order of trial)
// onto its canvas line, or 0 when none is within the threshold.
double snapAxis(double low, double high, double length, double threshold)
{
	const double centre = (low + high) * 0.5;
	if (std::fabs(low) <= threshold)
		return -low;
	if (std::fabs(high - length) <= threshold)
		return length - high;
	if (std::fabs(centre - length * 0.5) <= threshold)
		return length * 0.5 - centre;
	return 0.0;
}

} // namespace

QPointF snapMove(const QPointF &delta, const Extents &startBox, double canvasWidth, double canvasHeight,
		 double viewScale)
{
	const double threshold = kSnapDistancePx / viewScale;
	const double dx = delta.x();
	const double dy = delta.y();
	return {dx + snapAxis(startBox.left + dx, startBox.right + dx, canvasWidth, threshold),
		dy + snapAxis(startBox.top + dy, startBox.bottom + dy, canvasHeight, threshold)};
}

std::optional<double> dragScale(const QPointF &pointer, const QPointF &anchor, double baseWidth, double baseHeight)
{
	if (!(baseWidth > 0.0) || !(baseHeight > 0.0))
		return std::nullopt;
	return std::max({std::fabs(pointer.x() - anchor.x()) / baseWidth,
			 std::fabs(pointer.y() - anchor.y()) / baseHeight, kMinDragScale});
}

Qt::CursorShape cursorFor(int handle, bool inside)
{
	if (handle == 0 || handle == 2)
		return Qt::SizeFDiagCursor;
	if (handle == 1 || handle == 3)
		return Qt::SizeBDiagCursor;
	return inside ? Qt::SizeAllCursor : Qt::ArrowCursor;
}

std::optional<QPointF> nudgeFor(int key, Qt::KeyboardModifiers modifiers)
{
	const double step = (modifiers & Qt::ShiftModifier) ? 10.0 : 1.0;
	switch (key) {
	case Qt::Key_Left:
		return QPointF(-step, 0.0);
	case Qt::Key_Right:
		return QPointF(step, 0.0);
	case Qt::Key_Up:
		return QPointF(0.0, -step);
	case Qt::Key_Down:
		return QPointF(0.0, step);
	default:
		return std::nullopt;
	}
}

} // namespace stilwane
