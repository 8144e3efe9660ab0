// SPDX-License-Identifier: GPL-2.0-or-later
#include <preview/PreviewEditor.hpp>

#include <canvas/CanvasManager.hpp>
#include <canvas/CollectionSaver.hpp>
#include <dialogs/MessageBoxes.hpp>
#include <dialogs/SourceEdits.hpp>
#include <dialogs/TransformDialog.hpp>
#include <preview/QTDisplay.hpp>

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>

#include <cmath>
#include <vector>

namespace stilwane {

namespace {

OBSSceneItem findItem(obs_scene_t *scene, int64_t id)
{
	return scene && id >= 0 ? OBSSceneItem(obs_scene_find_sceneitem_by_id(scene, id)) : OBSSceneItem();
}

bool isEditKey(int key)
{
	return key == Qt::Key_Delete || key == Qt::Key_Backspace || nudgeFor(key, Qt::NoModifier).has_value();
}

} // namespace

PreviewEditor::PreviewEditor(QTDisplay *display, QWidget *dialogParent)
	: QObject(display),
	  display(display),
	  dialogParent(dialogParent)
{
}

bool PreviewEditor::handleEvent(QEvent *event)
{
	switch (event->type()) {
	case QEvent::MouseButtonPress:
		onPress(static_cast<QMouseEvent *>(event));
		return true;
	case QEvent::MouseButtonRelease:
		cancelDrag();
		return true;
	case QEvent::MouseButtonDblClick:
		onDoubleClick(static_cast<QMouseEvent *>(event));
		return true;
	case QEvent::MouseMove:
		onMove(static_cast<QMouseEvent *>(event));
		return true;
	case QEvent::ShortcutOverride: {
		// OBS's main window binds some of these keys to its own actions; while the preview has the
		// focus they edit the vertical scene instead.
		auto *key = static_cast<QKeyEvent *>(event);
		if (!isEditKey(key->key()))
			return false;
		key->accept();
		return true;
	}
	case QEvent::KeyPress: {
		auto *key = static_cast<QKeyEvent *>(event);
		if (!isEditKey(key->key()))
			return false;
		onKey(key);
		return true;
	}
	case QEvent::ContextMenu: {
		// The right press has opened the menu already; the menu key of a keyboard opens it here.
		auto *menu = static_cast<QContextMenuEvent *>(event);
		if (menu->reason() != QContextMenuEvent::Mouse)
			emit contextMenuRequested(menu->globalPos());
		return true;
	}
	default:
		return false;
	}
}

ViewTransform PreviewEditor::viewTransform() const
{
	CanvasManager *manager = CanvasManager::instance();
	return makeViewTransform(display->width(), display->height(), display->devicePixelRatioF(),
				 manager->canvasWidth(), manager->canvasHeight());
}

QPointF PreviewEditor::mapToCanvas(const QPointF &widgetPoint) const
{
	return toCanvas(viewTransform(), widgetPoint);
}

Corners PreviewEditor::itemCorners(obs_sceneitem_t *item)
{
	matrix4 box;
	obs_sceneitem_get_box_transform(item, &box);
	return boxCorners(box);
}

bool PreviewEditor::itemContainsPoint(obs_sceneitem_t *item, const QPointF &p)
{
	matrix4 box;
	obs_sceneitem_get_box_transform(item, &box);
	return boxContains(box, p);
}

OBSSceneItem PreviewEditor::hitTestItem(obs_scene_t *scene, const QPointF &p)
{
	if (!scene)
		return OBSSceneItem();
	// References, because the graphics thread drops items whose source was removed.
	std::vector<OBSSceneItem> items;
	obs_scene_enum_items(
		scene,
		[](obs_scene_t *, obs_sceneitem_t *item, void *param) {
			static_cast<std::vector<OBSSceneItem> *>(param)->emplace_back(item);
			return true;
		},
		&items);
	for (auto it = items.rbegin(); it != items.rend(); ++it) {
		obs_sceneitem_t *item = *it;
		const uint32_t flags = obs_source_get_output_flags(obs_sceneitem_get_source(item));
		if (!obs_sceneitem_locked(item) && obs_sceneitem_visible(item) && (flags & OBS_SOURCE_VIDEO) &&
		    itemContainsPoint(item, p))
			return *it;
	}
	return OBSSceneItem();
}

void PreviewEditor::onPress(QMouseEvent *event)
{
	// A press while a drag runs (another button) ends that drag first.
	cancelDrag();
	display->setFocus(Qt::MouseFocusReason);
	CanvasManager *manager = CanvasManager::instance();
	OBSSourceAutoRelease sceneSource = manager->editingScene();
	obs_scene_t *scene = obs_scene_from_source(sceneSource);
	const QPointF p = mapToCanvas(event->position());

	// The menu also holds the guide toggles and the projectors: it opens without a scene too.
	if (event->button() == Qt::RightButton) {
		if (OBSSceneItem hit = hitTestItem(scene, p)) {
			const int64_t id = obs_sceneitem_get_id(hit);
			if (id != manager->selectedItemId())
				manager->selectItem(id);
		}
		emit contextMenuRequested(event->globalPosition().toPoint());
		return;
	}
	if (event->button() != Qt::LeftButton || !scene)
		return;

	obs_sceneitem_t *selected = manager->selectedItem();
	if (selected && !obs_sceneitem_locked(selected)) {
		const int corner = handleAt(itemCorners(selected), p, viewTransform().scale);
		if (corner >= 0) {
			vec2 pos, scale;
			obs_sceneitem_get_pos(selected, &pos);
			obs_sceneitem_get_scale(selected, &scale);
			obs_sceneitem_crop crop = {};
			obs_sceneitem_get_crop(selected, &crop);
			obs_source_t *source = obs_sceneitem_get_source(selected);
			drag.mode = DragMode::Resize;
			drag.itemId = obs_sceneitem_get_id(selected);
			drag.pressPoint = p;
			drag.startPos = {pos.x, pos.y};
			drag.startScale = {scale.x, scale.y};
			drag.anchorIndex = oppositeCorner(corner);
			drag.anchorPoint = itemCorners(selected)[size_t(drag.anchorIndex)];
			drag.baseWidth = double(obs_source_get_width(source)) - double(crop.left) - double(crop.right);
			drag.baseHeight =
				double(obs_source_get_height(source)) - double(crop.top) - double(crop.bottom);
			return;
		}
	}

	OBSSceneItem hit = hitTestItem(scene, p);
	if (!hit) {
		manager->selectItem(-1);
		return;
	}
	vec2 pos;
	obs_sceneitem_get_pos(hit, &pos);
	drag.mode = DragMode::Move;
	drag.itemId = obs_sceneitem_get_id(hit);
	drag.pressPoint = p;
	drag.startPos = {pos.x, pos.y};
	manager->selectItem(drag.itemId);
}

void PreviewEditor::onMove(QMouseEvent *event)
{
	const QPointF p = mapToCanvas(event->position());
	if (drag.mode == DragMode::None) {
		updateHoverCursor(p);
		return;
	}
	// The release went elsewhere (a menu or another window took the pointer): the drag is over.
	if (!(event->buttons() & Qt::LeftButton)) {
		cancelDrag();
		updateHoverCursor(p);
		return;
	}
	OBSSourceAutoRelease sceneSource = CanvasManager::instance()->editingScene();
	OBSSceneItem item = findItem(obs_scene_from_source(sceneSource), drag.itemId);
	if (!item) {
		cancelDrag();
		return;
	}
	if (drag.mode == DragMode::Move)
		moveItem(item, p, !(event->modifiers() & Qt::ControlModifier));
	else
		resizeItem(item, p);
}

void PreviewEditor::moveItem(obs_sceneitem_t *item, const QPointF &p, bool snap)
{
	QPointF delta = p - drag.pressPoint;
	if (snap) {
		// The box at the press position: the item has moved since, and its box with it.
		vec2 current;
		obs_sceneitem_get_pos(item, &current);
		Extents box = extentsOf(itemCorners(item));
		const QPointF shift = drag.startPos - QPointF(current.x, current.y);
		box.left += shift.x();
		box.right += shift.x();
		box.top += shift.y();
		box.bottom += shift.y();
		CanvasManager *manager = CanvasManager::instance();
		delta = snapMove(delta, box, manager->canvasWidth(), manager->canvasHeight(), viewTransform().scale);
	}
	vec2 pos;
	vec2_set(&pos, float(drag.startPos.x() + delta.x()), float(drag.startPos.y() + delta.y()));
	obs_sceneitem_set_pos(item, &pos);
	drag.changed = true;
}

void PreviewEditor::resizeItem(obs_sceneitem_t *item, const QPointF &p)
{
	const std::optional<double> s = dragScale(p, drag.anchorPoint, drag.baseWidth, drag.baseHeight);
	if (!s)
		return;
	// A flipped item stays flipped: only the size changes.
	vec2 scale;
	vec2_set(&scale, float(std::copysign(*s, drag.startScale.x())), float(std::copysign(*s, drag.startScale.y())));
	obs_sceneitem_defer_update_begin(item);
	obs_sceneitem_set_scale(item, &scale);
	obs_sceneitem_defer_update_end(item);

	// The scale grows the box from the position's corner; shift it so the anchor stays put.
	const QPointF corner = itemCorners(item)[size_t(drag.anchorIndex)];
	vec2 pos;
	obs_sceneitem_get_pos(item, &pos);
	vec2_set(&pos, float(drag.anchorPoint.x() - corner.x() + pos.x),
		 float(drag.anchorPoint.y() - corner.y() + pos.y));
	obs_sceneitem_set_pos(item, &pos);
	drag.changed = true;
}

void PreviewEditor::onDoubleClick(QMouseEvent *event)
{
	if (event->button() != Qt::LeftButton)
		return;
	obs_sceneitem_t *selected = CanvasManager::instance()->selectedItem();
	if (!selected)
		return;
	cancelDrag();
	openTransform(selected);
}

void PreviewEditor::onKey(QKeyEvent *event)
{
	if (const std::optional<QPointF> step = nudgeFor(event->key(), event->modifiers()))
		nudgeSelected(step->x(), step->y());
	else if (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace)
		removeSelected();
}

void PreviewEditor::nudgeSelected(double dx, double dy)
{
	obs_sceneitem_t *item = CanvasManager::instance()->selectedItem();
	if (!item || obs_sceneitem_locked(item))
		return;
	vec2 pos;
	obs_sceneitem_get_pos(item, &pos);
	vec2_set(&pos, float(pos.x + dx), float(pos.y + dy));
	obs_sceneitem_set_pos(item, &pos);
	CollectionSaver::instance()->request();
}

void PreviewEditor::removeSelected()
{
	CanvasManager *manager = CanvasManager::instance();
	obs_sceneitem_t *item = manager->selectedItem();
	if (!item || obs_sceneitem_locked(item))
		return;
	cancelDrag();
	if (removeItemAfterAsking(dialogParent, item))
		manager->selectItem(-1);
}

void PreviewEditor::openTransform(obs_sceneitem_t *item)
{
	if (!item)
		return;
	TransformDialog dialog(item, dialogParent);
	execDialog(&dialog);
}

void PreviewEditor::cancelDrag()
{
	const bool changed = drag.changed;
	drag = DragState();
	if (changed)
		CollectionSaver::instance()->request();
}

void PreviewEditor::updateHoverCursor(const QPointF &p)
{
	obs_sceneitem_t *selected = CanvasManager::instance()->selectedItem();
	int handle = -1;
	bool inside = false;
	if (selected && !obs_sceneitem_locked(selected)) {
		handle = handleAt(itemCorners(selected), p, viewTransform().scale);
		inside = itemContainsPoint(selected, p);
	}
	display->setCursor(cursorFor(handle, inside));
}

} // namespace stilwane
