// SPDX-License-Identifier: GPL-2.0-or-later
#include <dialogs/SourceEdits.hpp>

#include <canvas/CanvasManager.hpp>
#include <canvas/CollectionSaver.hpp>
#include <dialogs/MessageBoxes.hpp>
#include <common/Module.hpp>

#include <obs.hpp>

namespace stilwane {

bool sourceNameTaken(const QString &name)
{
	OBSSourceAutoRelease source = obs_get_source_by_name(name.toUtf8().constData());
	return source || CanvasManager::instance()->sceneNameExists(name);
}

bool removeItemAfterAsking(QWidget *parent, obs_sceneitem_t *item)
{
	if (!item)
		return false;
	OBSWeakSourceAutoRelease weakScene =
		obs_source_get_weak_source(obs_scene_get_source(obs_sceneitem_get_scene(item)));
	const int64_t id = obs_sceneitem_get_id(item);
	const QString name = QString::fromUtf8(obs_source_get_name(obs_sceneitem_get_source(item)));
	if (!confirmYesNo(parent, translate("Sources.ConfirmRemove.Title"),
			  translate("Sources.ConfirmRemove").arg(name)))
		return false;

	// The question ran a nested event loop: the item, its scene or the whole collection may be gone.
	OBSSourceAutoRelease sceneSource = obs_weak_source_get_source(weakScene);
	obs_scene_t *scene = sceneSource && !obs_source_removed(sceneSource) ? obs_scene_from_source(sceneSource)
									     : nullptr;
	obs_sceneitem_t *found = scene ? obs_scene_find_sceneitem_by_id(scene, id) : nullptr;
	if (!found)
		return false;
	obs_sceneitem_remove(found);
	CollectionSaver::instance()->request();
	return true;
}

bool renameSourceAfterAsking(QWidget *parent, obs_source_t *source)
{
	if (!source)
		return false;
	OBSWeakSourceAutoRelease weak = obs_source_get_weak_source(source);
	QString entered = QString::fromUtf8(obs_source_get_name(source));
	for (;;) {
		bool ok = false;
		entered = askText(parent, translate("Sources.Rename"), translate("Sources.RenameLabel"), entered, &ok);
		const QString name = entered.trimmed();
		if (!ok || name.isEmpty())
			return false;
		OBSSourceAutoRelease again = obs_weak_source_get_source(weak);
		if (!again || obs_source_removed(again))
			return false;
		if (name == QString::fromUtf8(obs_source_get_name(again)))
			return false;
		if (sourceNameTaken(name)) {
			showMessage(parent, MessageKind::Warning, translate("Error.Title"),
				    translate("Sources.NameExists"));
			continue;
		}
		CanvasManager *manager = CanvasManager::instance();
		OBSSourceAutoRelease verticalScene =
			manager->findSceneByUuid(QString::fromUtf8(obs_source_get_uuid(again)));
		if (verticalScene) {
			if (!manager->renameScene(verticalScene, name))
				return false;
		} else {
			obs_source_set_name(again, name.toUtf8().constData());
		}
		CollectionSaver::instance()->request();
		return true;
	}
}

} // namespace stilwane
