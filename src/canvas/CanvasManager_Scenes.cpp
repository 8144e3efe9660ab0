// SPDX-License-Identifier: GPL-2.0-or-later
#include <canvas/CanvasManager.hpp>

#include <functional>

#include <util/platform.h>

namespace stilwane {

namespace {
struct SceneVisit {
	std::function<bool(obs_source_t *)> visit;
};

bool enumSceneProc(void *param, obs_source_t *source)
{
	auto *visit = static_cast<SceneVisit *>(param);
	if (!source || obs_source_removed(source) || obs_source_is_group(source))
		return true;
	return visit->visit(source);
}
} // namespace

template<class Match> obs_source_t *CanvasManager::findScene(Match &&match) const
{
	if (!hasCanvas())
		return nullptr;
	obs_source_t *result = nullptr;
	SceneVisit visit{[&](obs_source_t *source) {
		if (!match(source))
			return true;
		result = obs_source_get_ref(source);
		return result == nullptr;
	}};
	obs_canvas_enum_scenes(canvasRef, enumSceneProc, &visit);
	return result;
}

QVector<SceneRef> CanvasManager::scenes()
{
	QVector<SceneRef> result;
	if (!hasCanvas())
		return result;

	QVector<SceneRef> collected;
	SceneVisit visit{[&](obs_source_t *source) {
		collected.append({QString::fromUtf8(obs_source_get_uuid(source)),
				  QString::fromUtf8(obs_source_get_name(source))});
		return true;
	}};
	obs_canvas_enum_scenes(canvasRef, enumSceneProc, &visit);

	QVector<bool> taken(collected.size(), false);
	for (const QString &uuid : sceneOrder) {
		for (qsizetype i = 0; i < collected.size(); i++) {
			if (!taken[i] && collected[i].uuid == uuid) {
				taken[i] = true;
				result.append(collected[i]);
				break;
			}
		}
	}
	for (qsizetype i = 0; i < collected.size(); i++) {
		if (!taken[i])
			result.append(collected[i]);
	}

	sceneOrder.clear();
	for (const SceneRef &ref : result)
		sceneOrder.append(ref.uuid);
	return result;
}

obs_source_t *CanvasManager::findSceneByUuid(const QString &uuid) const
{
	if (uuid.isEmpty())
		return nullptr;
	QByteArray wanted = uuid.toUtf8();
	return findScene([&](obs_source_t *s) { return strcmp(obs_source_get_uuid(s), wanted.constData()) == 0; });
}

obs_source_t *CanvasManager::findSceneByName(const QString &name) const
{
	if (name.isEmpty())
		return nullptr;
	QByteArray wanted = name.toUtf8();
	return findScene([&](obs_source_t *s) { return strcmp(obs_source_get_name(s), wanted.constData()) == 0; });
}

bool CanvasManager::isVerticalScene(obs_source_t *scene) const
{
	if (!scene)
		return false;
	OBSSourceAutoRelease found = findSceneByUuid(QString::fromUtf8(obs_source_get_uuid(scene)));
	return found != nullptr;
}

bool CanvasManager::sceneNameExists(const QString &name) const
{
	OBSSourceAutoRelease found = findSceneByName(name);
	return found != nullptr;
}

QString CanvasManager::uniqueSceneName(const QString &base) const
{
	if (!sceneNameExists(base))
		return base;
	for (int n = 2;; n++) {
		QString candidate = base + " " + QString::number(n);
		if (!sceneNameExists(candidate))
			return candidate;
	}
}

obs_scene_t *CanvasManager::addScene(const QString &name)
{
	if (!hasCanvas())
		return nullptr;
	bool wasEmpty = scenes().isEmpty();
	obs_scene_t *scene = obs_canvas_scene_create(canvasRef, name.toUtf8().constData());
	if (!scene)
		return nullptr;
	obs_source_t *source = obs_scene_get_source(scene);
	sceneOrder.append(QString::fromUtf8(obs_source_get_uuid(source)));
	// The canvas holds the scene from here on.
	obs_scene_release(scene);
	emit scenesChanged();

	if (wasEmpty && !studio)
		setCurrentScene(source, -1, "manual");
	if (studio && previewUuid.isEmpty())
		setPreviewScene(source, "first-scene");
	return scene;
}

void CanvasManager::removeScene(obs_source_t *scene)
{
	if (!scene)
		return;
	QString uuid = QString::fromUtf8(obs_source_get_uuid(scene));
	bool wasCurrent = uuid == currentUuid;
	bool wasPreview = false;
	if (uuid == previewUuid) {
		setPreviewScene(nullptr, "scene-removed");
		wasPreview = true;
	}
	studioSwap.forgetTarget(uuid);

	obs_source_remove(scene);
	sceneOrder.removeAll(uuid);
	emit scenesChanged();

	if (wasCurrent) {
		abandonStudioSwap();
		currentUuid.clear();
		QVector<SceneRef> left = scenes();
		if (left.isEmpty()) {
			verticalTransitions.flushPendingLog(os_gettime_ns());
			if (obs_source_t *transition = verticalTransitions.active())
				obs_transition_set(transition, nullptr);
			emit currentSceneChanged();
			if (!studio)
				emit editingSceneChanged();
		} else {
			OBSSourceAutoRelease first = findSceneByUuid(left.first().uuid);
			setCurrentScene(first, -1, "manual");
		}
	}
	if (studio && wasPreview) {
		OBSSourceAutoRelease current = currentScene();
		setPreviewScene(current, "scene-removed-fallback");
	}
}

bool CanvasManager::renameScene(obs_source_t *scene, const QString &name)
{
	if (!scene || name.isEmpty() || sceneNameExists(name))
		return false;
	obs_source_set_name(scene, name.toUtf8().constData());
	emit scenesChanged();
	return true;
}

void CanvasManager::moveScene(const QString &uuid, int offset)
{
	scenes();
	qsizetype index = sceneOrder.indexOf(uuid);
	if (index < 0)
		return;
	qsizetype target = index + offset;
	if (target < 0 || target >= sceneOrder.size())
		return;
	if (offset != 0)
		sceneOrder.swapItemsAt(index, target);
	emit scenesChanged();
}

void CanvasManager::selectItem(int64_t id)
{
	if (selectedItem_.load() == id)
		return;
	selectedItem_.exchange(id);
	emit itemSelectionChanged();
}

obs_sceneitem_t *CanvasManager::selectedItem() const
{
	int64_t id = selectedItem_.load();
	if (id < 0)
		return nullptr;
	OBSSourceAutoRelease source = editingScene();
	obs_scene_t *scene = obs_scene_from_source(source);
	return scene ? obs_scene_find_sceneitem_by_id(scene, id) : nullptr;
}

void CanvasManager::setSceneTransitionOverride(obs_source_t *scene, const QString &uuid, int ms)
{
	// Only a vertical scene's own transition is ever read.
	if (!hasCanvas() || !scene || obs_source_removed(scene) || !isVerticalScene(scene))
		return;
	verticalTransitions.setSceneOverride(scene, uuid, ms);
}

} // namespace stilwane
