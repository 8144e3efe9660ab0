// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <preview/PreviewGeometry.hpp>

#include <QObject>
#include <QPointF>
#include <QPointer>

#include <cstdint>

#include <obs.hpp>

class QEvent;
class QKeyEvent;
class QMouseEvent;
class QWidget;

namespace stilwane {

class QTDisplay;

// Edits the items of the canvas manager's editing scene with the mouse and keyboard in the preview
// display: a click selects the topmost item under the pointer, a drag moves it (snapping to the
// canvas edges and centre unless Control is held), a drag on a corner handle scales it uniformly
// about the opposite corner, arrow keys nudge it, Delete removes it, a double click opens the
// transform dialog and a right click selects before asking for the menu. The selection itself lives
// in the canvas manager. Every edit is saved with the scene collection, a drag once at its end.
// User-interface thread only.
class PreviewEditor : public QObject {
	Q_OBJECT

public:
	enum class DragMode { None, Move, Resize };

	struct DragState {
		DragMode mode = DragMode::None;
		int64_t itemId = -1;
		QPointF pressPoint;  // canvas pixels
		QPointF startPos;    // the item's position at the press
		QPointF startScale;  // the item's scale at the press
		QPointF anchorPoint; // the corner that stays where it is during a resize, canvas pixels
		int anchorIndex = 0;
		double baseWidth = 0.0; // the item's source less its crop
		double baseHeight = 0.0;
		bool changed = false; // the drag has moved or scaled the item: save when it ends
	};

	// dialogParent: the widget that the transform dialog and the removal question belong to.
	PreviewEditor(QTDisplay *display, QWidget *dialogParent);

	// One event of the preview display; true when it was used up here.
	bool handleEvent(QEvent *event);

	ViewTransform viewTransform() const;
	QPointF mapToCanvas(const QPointF &widgetPoint) const;

	// The topmost item at p that is unlocked, visible and has video, or null.
	static OBSSceneItem hitTestItem(obs_scene_t *scene, const QPointF &p);
	static Corners itemCorners(obs_sceneitem_t *item);
	static bool itemContainsPoint(obs_sceneitem_t *item, const QPointF &p);

	void nudgeSelected(double dx, double dy);
	// Asks first, as the menu's Remove does: a stray key press must not take a source off the air.
	void removeSelected();
	// Runs the transform dialog for the item, modally.
	void openTransform(obs_sceneitem_t *item);
	// Ends a drag where it is (the button went up, the editing scene changed, the item went away) and
	// saves the collection when the drag changed the item.
	void cancelDrag();

	const DragState &dragState() const { return drag; }

signals:
	// A right click asks for the preview's context menu at this global position, after selecting.
	void contextMenuRequested(const QPoint &globalPos);

private:
	void onPress(QMouseEvent *event);
	void onMove(QMouseEvent *event);
	void onDoubleClick(QMouseEvent *event);
	void onKey(QKeyEvent *event);
	void updateHoverCursor(const QPointF &p);
	void moveItem(obs_sceneitem_t *item, const QPointF &p, bool snap);
	void resizeItem(obs_sceneitem_t *item, const QPointF &p);

	QTDisplay *display = nullptr;
	QPointer<QWidget> dialogParent;
	DragState drag;
};

} // namespace stilwane
