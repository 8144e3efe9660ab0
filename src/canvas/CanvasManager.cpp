// SPDX-License-Identifier: GPL-2.0-or-later
#include <canvas/CanvasManager.hpp>

#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>

#include <obs-frontend-api.h>
#include <util/platform.h>

namespace stilwane {

CanvasManager *CanvasManager::instance()
{
	static CanvasManager manager;
	return &manager;
}

CanvasManager::CanvasManager() : verticalTransitions(*this, studioSwap) {}

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
	obs_canvas_t *match = nullptr;
	if (!canvasUuid.isEmpty()) {
		QByteArray uuid = canvasUuid.toUtf8();
		for (size_t i = 0; i < list.canvases.num && !match; i++) {
			obs_canvas_t *c = list.canvases.array[i];
			if (c && !obs_canvas_removed(c) && strcmp(obs_canvas_get_uuid(c), uuid.constData()) == 0)
				match = c;
		}
	}
	for (size_t i = 0; i < list.canvases.num && !match; i++) {
		obs_canvas_t *c = list.canvases.array[i];
		if (c && !obs_canvas_removed(c) && strcmp(obs_canvas_get_name(c), kCanvasName) == 0)
			match = c;
	}
	// Our own reference before the list lets go of its.
	OBSCanvasAutoRelease found = match ? obs_canvas_get_ref(match) : nullptr;
	obs_frontend_canvas_list_free(&list);

	uint32_t width = storedWidth ? storedWidth : config().width;
	uint32_t height = storedHeight ? storedHeight : config().height;

	if (found && !obs_canvas_has_video(found)) {
		obs_video_info ovi = videoInfoFor(width, height);
		if (!obs_canvas_reset_video(found, &ovi)) {
			// libobs resets no video while anything outputs (OBS's stream, recording, virtual camera),
			// but it gives a new canvas video at any time: the scenes move into one.
			if (OBSCanvasAutoRelease fresh = migration.recreateWithVideo(found, ovi))
				found = std::move(fresh);
			else
				stilwaneLog(LOG_WARNING, "obs_canvas_reset_video failed on restore");
		}
	}
	if (!found) {
		obs_video_info ovi = videoInfoFor(width, height);
		int flags = ACTIVATE | SCENE_REF | (config().mixAudio ? MIX_AUDIO : 0);
		found = obs_frontend_add_canvas(kCanvasName, &ovi, flags);
		if (!found) {
			stilwaneLog(LOG_ERROR, "failed to create vertical canvas");
			return;
		}
	}
	canvasRef = found.Get();
	canvasUuid = QString::fromUtf8(obs_canvas_get_uuid(canvasRef));

	verticalTransitions.attachToCanvas();
	verticalTransitions.eraseStaleSceneOverrides();
	restoreCurrentScene();
	restorePreviewScene();

	stilwaneLog(LOG_INFO, "vertical canvas ready: %s (%ux%u)", canvasUuid.toUtf8().constData(), canvasWidth(),
		    canvasHeight());
	emitCanvasStateSignals();
}

void CanvasManager::releaseCanvas()
{
	verticalTransitions.flushPendingLog(os_gettime_ns());
	abandonStudioSwap();
	savedPreviewUuid.clear();
	restorePending = false;
	setPreviewScene(nullptr, "collection-release");
	selectItem(-1);

	verticalTransitions.release();

	bool dropped = canvasRef && obs_canvas_removed(canvasRef);
	// libobs points a scene's context at its canvas's lock and takes that lock when it destroys the
	// scene, on its destruction thread: a canvas freed before its scenes are gone leaves them a freed
	// lock (OBS then hangs at exit). Held here until the scenes' destruction has run.
	OBSCanvas held = canvasRef;
	if (canvasRef) {
		if (dropped)
			removeScenesOf(canvasRef);
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
	held = nullptr;
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
	if (obs_canvas_reset_video(canvasRef, &ovi)) {
		emit canvasChanged();
		return true;
	}
	// libobs resets no video while anything outputs, OBS's own stream or recording included; a new
	// canvas of the new size gets video all the same.
	const bool mixAudio = (obs_canvas_get_flags(canvasRef) & MIX_AUDIO) != 0;
	return replaceCanvas(ovi, mixAudio);
}

bool CanvasManager::migrateCanvas(bool mixAudio)
{
	if (!hasCanvas())
		return false;
	obs_video_info ovi = {};
	if (!obs_canvas_get_video_info(canvasRef, &ovi))
		ovi = videoInfoFor(canvasWidth(), canvasHeight());
	if (!replaceCanvas(ovi, mixAudio))
		return false;
	stilwaneLog(LOG_INFO, "vertical audio mixAudio: %s", mixAudio ? "on" : "off");
	return true;
}

bool CanvasManager::replaceCanvas(obs_video_info &ovi, bool mixAudio)
{
	if (!hasCanvas() || (outputsBusy && outputsBusy()))
		return false;

	OBSCanvasAutoRelease fresh =
		CanvasMigration::addPreparingCanvas(ovi, ACTIVATE | SCENE_REF | (mixAudio ? MIX_AUDIO : 0));
	if (!fresh)
		return false;

	// Held to the end: the front end lets go of it below, after the new canvas has taken its place.
	OBSCanvas old = canvasRef;
	if (!CanvasMigration::moveScenes(old, fresh))
		stilwaneLog(LOG_WARNING, "vertical canvas migration could not restore every scene item");

	verticalTransitions.flushPendingLog(os_gettime_ns());
	obs_canvas_set_channel(old, 0, nullptr);

	canvasRef = fresh.Get();
	canvasUuid = QString::fromUtf8(obs_canvas_get_uuid(fresh));
	migration.retireCanvas(old, fresh);

	if (obs_source_t *transition = verticalTransitions.active())
		obs_canvas_set_channel(canvasRef, 0, transition);

	abandonStudioSwap();
	restoreCurrentScene();

	emitCanvasStateSignals();
	migration.cleanRetiredCanvases(canvasRef);

	obs_frontend_remove_canvas(old);
	old = nullptr;
	return true;
}

} // namespace stilwane
