// SPDX-License-Identifier: GPL-2.0-or-later
#include <docks/SourcesDock.hpp>

#include <canvas/CanvasManager.hpp>
#include <canvas/CollectionSaver.hpp>
#include <dialogs/MessageBoxes.hpp>
#include <dialogs/SourceEdits.hpp>
#include <dialogs/TransformDialog.hpp>
#include <docks/SourceList.hpp>
#include <generate/ItemPlacement.hpp>
#include <common/Module.hpp>

#include <QMenu>

#include <obs-frontend-api.h>

#include <vector>

namespace stilwane {

void SourcesDock::removeItem()
{
	removeItemAfterAsking(this, currentRowItem());
}

void SourcesDock::renameItem()
{
	if (obs_sceneitem_t *item = currentRowItem())
		renameSourceAfterAsking(this, obs_sceneitem_get_source(item));
}

void SourcesDock::moveUp()
{
	if (obs_sceneitem_t *item = currentRowItem()) {
		obs_sceneitem_set_order(item, OBS_ORDER_MOVE_UP);
		CollectionSaver::instance()->request();
	}
}

void SourcesDock::moveDown()
{
	if (obs_sceneitem_t *item = currentRowItem()) {
		obs_sceneitem_set_order(item, OBS_ORDER_MOVE_DOWN);
		CollectionSaver::instance()->request();
	}
}

void SourcesDock::openTransform()
{
	if (obs_sceneitem_t *item = currentRowItem()) {
		TransformDialog dialog(item, this);
		execDialog(&dialog);
	}
}

void SourcesDock::openProperties()
{
	if (obs_sceneitem_t *item = currentRowItem())
		obs_frontend_open_source_properties(obs_sceneitem_get_source(item));
}

void SourcesDock::openFilters()
{
	if (obs_sceneitem_t *item = currentRowItem())
		obs_frontend_open_source_filters(obs_sceneitem_get_source(item));
}

void SourcesDock::fitWidth()
{
	if (obs_sceneitem_t *item = currentRowItem()) {
		fitItemToWidth(item);
		CollectionSaver::instance()->request();
	}
}

void SourcesDock::fitHeight()
{
	if (obs_sceneitem_t *item = currentRowItem()) {
		fitItemToHeight(item);
		CollectionSaver::instance()->request();
	}
}

void SourcesDock::centerItem()
{
	if (obs_sceneitem_t *item = currentRowItem()) {
		centerItemInCanvas(item);
		CollectionSaver::instance()->request();
	}
}

void SourcesDock::fillContextMenu(QMenu *menu)
{
	buildAddMenu(menu);
	if (!currentRowItem())
		return;
	menu->addSeparator();
	connect(menu->addAction(translate("Sources.FitWidth")), &QAction::triggered, this, &SourcesDock::fitWidth);
	connect(menu->addAction(translate("Sources.FitHeight")), &QAction::triggered, this, &SourcesDock::fitHeight);
	connect(menu->addAction(translate("Sources.Center")), &QAction::triggered, this, &SourcesDock::centerItem);
	connect(menu->addAction(translate("Sources.Transform")), &QAction::triggered, this,
		&SourcesDock::openTransform);
	menu->addSeparator();
	connect(menu->addAction(translate("Sources.Properties")), &QAction::triggered, this,
		&SourcesDock::openProperties);
	connect(menu->addAction(translate("Sources.Filters")), &QAction::triggered, this, &SourcesDock::openFilters);
	menu->addSeparator();
	connect(menu->addAction(translate("Sources.Rename")), &QAction::triggered, this, &SourcesDock::renameItem);
	connect(menu->addAction(translate("Sources.Remove")), &QAction::triggered, this, &SourcesDock::removeItem);
}

void SourcesDock::onContextMenu(QPoint pos)
{
	QMenu menu(this);
	fillContextMenu(&menu);
	execMenu(&menu, list->mapToGlobal(pos));
}

// ---- drag and drop: the list moves the row, the scene follows only when it is as the drag found it

void SourcesDock::beginDrag()
{
	dragging = true;
	dragScene = OBSGetWeakRef(attachedScene);
	movedItemId = -1;
	dragSnapshot.clear();
	for (int i = 0; i < list->count(); i++)
		dragSnapshot.append(list->item(i)->data(Qt::UserRole).toLongLong());
}

void SourcesDock::applyDrop(int64_t id, int row)
{
	OBSSource scene = OBSGetStrongRef(dragScene);
	if (!scene || scene.Get() != attachedScene.Get() || obs_source_removed(scene) || row < 0 ||
	    row >= list->count())
		return;
	obs_scene_t *sceneData = obs_scene_from_source(scene);
	if (!sceneData)
		return;
	struct Drop {
		SourcesDock *self;
		int64_t id;
		int row;
	} drop{this, id, row};
	obs_scene_atomic_update(
		sceneData,
		[](void *param, obs_scene_t *scene) {
			auto *d = static_cast<Drop *>(param);
			obs_sceneitem_t *item = obs_scene_find_sceneitem_by_id(scene, d->id);
			if (!item)
				return;
			std::vector<int64_t> ids;
			obs_scene_enum_items(
				scene,
				[](obs_scene_t *, obs_sceneitem_t *each, void *param) {
					static_cast<std::vector<int64_t> *>(param)->push_back(
						obs_sceneitem_get_id(each));
					return true;
				},
				&ids);
			const QList<int64_t> &snapshot = d->self->dragSnapshot;
			if ((qsizetype)ids.size() != snapshot.size())
				return;
			for (qsizetype top = 0; top < snapshot.size(); top++) {
				if (ids[ids.size() - 1 - top] != snapshot[top])
					return;
			}
			obs_sceneitem_set_order_position(item, (int)ids.size() - d->row - 1);
			d->self->movedItemId = d->id;
		},
		&drop);
	if (movedItemId >= 0)
		CollectionSaver::instance()->request();
}

void SourcesDock::finishDrag()
{
	OBSSource scene = OBSGetStrongRef(dragScene);
	if (scene && scene.Get() == attachedScene.Get() && movedItemId >= 0)
		CanvasManager::instance()->selectItem(movedItemId);
	const bool rebuildDue = rebuildAfterDrag || !dragSnapshot.isEmpty();
	dragScene = nullptr;
	dragSnapshot.clear();
	dragging = false;
	if (rebuildDue)
		requestRebuild();
	movedItemId = -1;
}

} // namespace stilwane
