#include <canvas/CanvasManager.hpp>

#include <plugin/ConfigRecord.hpp>
#include <plugin/Module.hpp>

#include <obs-frontend-api.h>
#include <util/platform.h>

CanvasManager *CanvasManager::instance()
{
	static CanvasManager manager;
	return &manager;
}

CanvasManager::~CanvasManager() = default;

bool CanvasManager::hasCanvas() const
{
	return canvasRef && !obs_canvas_removed(canvasRef);
}

uint32_t CanvasManager::canvasWidth() const
{
	obs_video_info ovi = {};
	if (hasCanvas() && obs_canvas_get_video_info(canvasRef, &ovi))
		return ovi.base_width;
	return config().width;
}

uint32_t CanvasManager::canvasHeight() const
{
	obs_video_info ovi = {};
	if (hasCanvas() && obs_canvas_get_video_info(canvasRef, &ovi))
		return ovi.base_height;
	return config().height;
}

obs_video_info CanvasManager::videoInfoFor(uint32_t width, uint32_t height) const
{
	obs_video_info ovi = {};
	obs_get_video_info(&ovi);
	ovi.base_width = ovi.output_width = width;
	ovi.base_height = ovi.output_height = height;
	return ovi;
}

void CanvasManager::emitCanvasStateSignals()
{
	emit canvasChanged();
	emit scenesChanged();
	emit currentSceneChanged();
	emit editingSceneChanged();
}

void CanvasManager::attachTransitionToCanvas()
{
	if (transitionList.empty())
		buildTransitions(nullptr);
	if (!activeTransition) {
		if (const TransitionEntry *entry = entryByUuid(selectedTransition))
			activateTransition(entry->source);
	}
	if (activeTransition)
		obs_canvas_set_channel(canvasRef, 0, activeTransition);
}

void CanvasManager::eraseStaleSceneOverrides()
{
	for (const SceneRef &ref : scenes()) {
		OBSSourceAutoRelease scene = findSceneByUuid(ref.uuid);
		if (!scene)
			continue;
		OBSDataAutoRelease priv = obs_source_get_private_settings(scene);
		QString uuid = QString::fromUtf8(obs_data_get_string(priv, "stilwane_transition"));
		if (!uuid.isEmpty() && !entryByUuid(uuid)) {
			obs_data_erase(priv, "stilwane_transition");
			obs_data_erase(priv, "stilwane_transition_ms");
		}
	}
}

void CanvasManager::ensureCanvas()
{
	if (hasCanvas())
		return;
	if (canvasRef) {
		QString keptPreview = savedPreviewUuid;
		bool keptRestore = restorePending;
		releaseCanvas();
		savedPreviewUuid = keptPreview;
		restorePending = keptRestore;
	}

	obs_frontend_canvas_list list = {};
	obs_frontend_get_canvases(&list);
	obs_canvas_t *found = nullptr;
	if (!canvasUuid.isEmpty()) {
		QByteArray uuid = canvasUuid.toUtf8();
		for (size_t i = 0; i < list.canvases.num && !found; i++) {
			obs_canvas_t *c = list.canvases.array[i];
			if (c && !obs_canvas_removed(c) && strcmp(obs_canvas_get_uuid(c), uuid.constData()) == 0)
				found = c;
		}
	}
	for (size_t i = 0; i < list.canvases.num && !found; i++) {
		obs_canvas_t *c = list.canvases.array[i];
		if (c && !obs_canvas_removed(c) && strcmp(obs_canvas_get_name(c), kCanvasName) == 0)
			found = c;
	}
	if (found)
		found = obs_canvas_get_ref(found);
	obs_frontend_canvas_list_free(&list);

	uint32_t width = storedWidth ? storedWidth : config().width;
	uint32_t height = storedHeight ? storedHeight : config().height;

	if (found && !obs_canvas_has_video(found)) {
		obs_video_info ovi = videoInfoFor(width, height);
		if (!obs_canvas_reset_video(found, &ovi))
			blog(LOG_WARNING, "[stilwane] obs_canvas_reset_video failed on restore");
	}
	if (!found) {
		obs_video_info ovi = videoInfoFor(width, height);
		int flags = ACTIVATE | SCENE_REF | (config().mixAudio ? MIX_AUDIO : 0);
		found = obs_frontend_add_canvas(kCanvasName, &ovi, flags);
		if (!found) {
			blog(LOG_ERROR, "[stilwane] failed to create vertical canvas");
			return;
		}
	}
	canvasRef = found;
	canvasUuid = QString::fromUtf8(obs_canvas_get_uuid(canvasRef));

	attachTransitionToCanvas();
	eraseStaleSceneOverrides();
	restoreCurrentScene();
	restorePreviewScene();

	blog(LOG_INFO, "[stilwane] vertical canvas ready: %s (%ux%u)", canvasUuid.toUtf8().constData(), canvasWidth(),
	     canvasHeight());
	emitCanvasStateSignals();
}

void CanvasManager::releaseCanvas()
{
	flushPendingLog(os_gettime_ns());
	abandonStudioSwap();
	savedPreviewUuid.clear();
	restorePending = false;
	setPreviewScene(nullptr, "collection-release");
	selectItem(-1);

	if (canvasRef && activeTransition)
		obs_canvas_set_channel(canvasRef, 0, nullptr);
	if (activeTransition) {
		disconnectActiveSignals();
		obs_source_remove(activeTransition);
		obs_source_release(activeTransition);
		activeTransition = nullptr;
	}
	releaseTransitions();

	bool dropped = canvasRef && obs_canvas_removed(canvasRef);
	if (canvasRef) {
		if (dropped)
			removeScenesOf(canvasRef);
		obs_canvas_release(canvasRef);
		canvasRef = nullptr;
	}
	// The docks let go of their scene references here, before the wait below.
	emitCanvasStateSignals();
	emit transitionsChanged();
	emit transitionSettingsChanged();
	// Let libobs destroy the scenes now: OBS frees its sources right after clearing a collection,
	// and scene items destroyed later would release sources already freed.
	if (dropped)
		obs_wait_for_destroy_queue();
}

// OBS has dropped the canvas (its collection is being cleared or OBS is exiting) and the collection is
// already saved: its scenes go the way of the main scenes, so that nothing they hold outlives OBS's
// sources.
void CanvasManager::removeScenesOf(obs_canvas_t *canvas)
{
	std::vector<OBSSource> doomed;
	obs_canvas_enum_scenes(
		canvas,
		[](void *param, obs_source_t *source) {
			static_cast<std::vector<OBSSource> *>(param)->emplace_back(source);
			return true;
		},
		&doomed);
	for (OBSSource &scene : doomed)
		obs_source_remove(scene);
}

bool CanvasManager::resizeCanvas(uint32_t width, uint32_t height)
{
	if (!hasCanvas())
		return false;
	obs_video_info ovi = videoInfoFor(width, height);
	bool ok = obs_canvas_reset_video(canvasRef, &ovi);
	if (ok)
		emit canvasChanged();
	return ok;
}

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

template<class Match>
obs_source_t *CanvasManager::findScene(Match &&match) const
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
	if (uuid == swapTarget)
		swapTarget.clear();

	obs_source_remove(scene);
	sceneOrder.removeAll(uuid);
	emit scenesChanged();

	if (wasCurrent) {
		abandonStudioSwap();
		currentUuid.clear();
		QVector<SceneRef> left = scenes();
		if (left.isEmpty()) {
			flushPendingLog(os_gettime_ns());
			if (activeTransition)
				obs_transition_set(activeTransition, nullptr);
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
