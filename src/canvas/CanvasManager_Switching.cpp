// SPDX-License-Identifier: GPL-2.0-or-later
#include <canvas/CanvasManager.hpp>

#include <common/Module.hpp>

#include <obs-frontend-api.h>
#include <util/config-file.h>

namespace stilwane {

obs_source_t *CanvasManager::currentScene() const
{
	return findSceneByUuid(currentUuid);
}

obs_source_t *CanvasManager::previewScene() const
{
	if (!previewWeak)
		return nullptr;
	obs_source_t *scene = obs_weak_source_get_source(previewWeak);
	if (scene && obs_source_removed(scene)) {
		obs_source_release(scene);
		return nullptr;
	}
	return scene;
}

obs_source_t *CanvasManager::editingScene() const
{
	return studio ? previewScene() : currentScene();
}

void CanvasManager::setCurrentScene(obs_source_t *scene, int mainDurationMs, const QString &trigger,
				    obs_source_t *mainTransition, bool followMain, obs_data_t *mainSettings)
{
	if (!scene)
		return;
	QString uuid = QString::fromUtf8(obs_source_get_uuid(scene));
	if (uuid == currentUuid)
		return;
	if (studioSwap.inProgress()) {
		abandonStudioSwap();
	}
	TransitionChoice choice =
		verticalTransitions.choose(scene, mainDurationMs, mainTransition, followMain, mainSettings);
	studioSwap.countSwitch();
	if (!verticalTransitions.start(scene, choice, trigger))
		return;
	currentUuid = uuid;
	if (!studio)
		selectItem(-1);
	emit currentSceneChanged();
	if (!studio)
		emit editingSceneChanged();
}

void CanvasManager::restoreCurrentScene()
{
	OBSSourceAutoRelease scene = findSceneByUuid(currentUuid);
	if (!scene) {
		QVector<SceneRef> list = scenes();
		if (!list.isEmpty())
			scene = findSceneByUuid(list.first().uuid);
	}
	if (!scene) {
		currentUuid.clear();
		return;
	}
	currentUuid = QString::fromUtf8(obs_source_get_uuid(scene));
	if (obs_source_t *transition = verticalTransitions.active())
		obs_transition_set(transition, scene);
}

void CanvasManager::setPreviewScene(obs_source_t *scene, const QString &trigger)
{
	if (scene && (!studio || !hasCanvas() || obs_source_removed(scene) || !isVerticalScene(scene)))
		return;
	QString uuid = scene ? QString::fromUtf8(obs_source_get_uuid(scene)) : QString();
	if (uuid == previewUuid)
		return;

	OBSSourceAutoRelease old = previewWeak ? obs_weak_source_get_source(previewWeak) : nullptr;
	if (old)
		obs_source_dec_showing(old);
	previewWeak = nullptr;
	if (scene) {
		OBSWeakSourceAutoRelease weak = obs_source_get_weak_source(scene);
		previewWeak = weak.Get();
	}
	previewUuid = uuid;
	if (scene)
		obs_source_inc_showing(scene);

	selectItem(-1);
	stilwaneLog(LOG_INFO, "vertical preview scene '%s' (trigger=%s)", scene ? obs_source_get_name(scene) : "",
		    trigger.toUtf8().constData());
	emit previewSceneChanged();
	emit editingSceneChanged();
}

void CanvasManager::restorePreviewScene()
{
	if (!studio || !hasCanvas())
		return;
	if (restorePending) {
		OBSSourceAutoRelease scene = findSceneByUuid(savedPreviewUuid);
		if (!scene)
			scene = currentScene();
		savedPreviewUuid.clear();
		restorePending = false;
		setPreviewScene(scene, "collection-restore");
	} else if (previewUuid.isEmpty()) {
		OBSSourceAutoRelease current = currentScene();
		setPreviewScene(current, "canvas-ready");
	}
}

void CanvasManager::setStudioMode(bool enabled)
{
	bool old = studio;
	studio = enabled;
	if (enabled) {
		if (restorePending) {
			restorePreviewScene();
		} else if (old && !previewUuid.isEmpty()) {
			return;
		} else {
			OBSSourceAutoRelease current = currentScene();
			setPreviewScene(current, "studio-enabled");
		}
	} else {
		abandonStudioSwap();
		savedPreviewUuid.clear();
		restorePending = false;
		setPreviewScene(nullptr, "studio-disabled");
	}
	if (old != enabled) {
		selectItem(-1);
		emit studioModeChanged();
		emit editingSceneChanged();
	}
}

void CanvasManager::transitionToProgram(int mainDurationMs, const QString &trigger, obs_source_t *mainTransition,
					bool followMain, obs_data_t *mainSettings)
{
	obs_source_t *transition = verticalTransitions.active();
	if (!studio || !hasCanvas() || !transition || studioSwap.inProgress() || obs_transition_is_active(transition))
		return;
	OBSSourceAutoRelease preview = previewScene();
	if (!preview || QString::fromUtf8(obs_source_get_uuid(preview)) == currentUuid)
		return;

	TransitionChoice choice =
		verticalTransitions.choose(preview, mainDurationMs, mainTransition, followMain, mainSettings);

	bool swap = true;
	config_t *user = obs_frontend_get_user_config();
	if (user && (config_has_user_value(user, "BasicWindow", "SwapScenesMode") ||
		     config_has_default_value(user, "BasicWindow", "SwapScenesMode")))
		swap = config_get_bool(user, "BasicWindow", "SwapScenesMode");
	uint64_t g = studioSwap.begin(swap ? currentUuid : QString());
	if (!verticalTransitions.start(preview, choice, trigger)) {
		studioSwap.cancel();
		return;
	}
	currentUuid = QString::fromUtf8(obs_source_get_uuid(preview));
	QString why = trigger.isEmpty() ? QStringLiteral("manual") : trigger;
	stilwaneLog(LOG_INFO, "vertical studio transition '%s': %d ms, trigger=%s", obs_source_get_name(preview),
		    choice.durationMs, why.toUtf8().constData());
	emit currentSceneChanged();

	// The transition that started may be another than the one active before.
	transition = verticalTransitions.active();
	bool immediate = strcmp(obs_source_get_id(transition), "cut_transition") == 0 ||
			 (choice.durationMs == 0 && !obs_transition_fixed(transition));
	if (immediate)
		finishStudioSwap(g);
}

void CanvasManager::finishStudioSwap(uint64_t forGeneration)
{
	const QString target = studioSwap.finish(forGeneration);
	if (!studio || target.isEmpty())
		return;
	OBSSourceAutoRelease scene = findSceneByUuid(target);
	if (scene)
		setPreviewScene(scene, "studio-swap");
}

} // namespace stilwane
