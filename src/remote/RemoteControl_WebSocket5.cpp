// SPDX-License-Identifier: GPL-2.0-or-later
// obs-websocket 5's requests and events that have no older vendor name: controllers written against
// obs-websocket send them through the vendor unchanged and read the answers as they read OBS's own.
#include <remote/RemoteControl.hpp>
#include <remote/RequestFields.hpp>

#include <canvas/CanvasManager.hpp>
#include <output/VerticalOutput.hpp>

#include <algorithm>
#include <cinttypes>
#include <cmath>

namespace stilwane {

namespace {

// obs-websocket's timecode: "HH:MM:SS.mmm".
QString timecode(int64_t ms)
{
	const int64_t clamped = std::max<int64_t>(0, ms);
	const int64_t secs = clamped / 1000;
	return QString::asprintf("%02" PRId64 ":%02" PRId64 ":%02" PRId64 ".%03" PRId64, secs / 3600, (secs / 60) % 60,
				 secs % 60, clamped % 1000);
}

void setSceneAnswer(obs_data_t *response, obs_source_t *scene, const char *nameField, const char *uuidField)
{
	obs_data_set_string(response, "sceneName", obs_source_get_name(scene));
	obs_data_set_string(response, "sceneUuid", obs_source_get_uuid(scene));
	// The older field names obs-websocket 5 still answers with.
	obs_data_set_string(response, nameField, obs_source_get_name(scene));
	obs_data_set_string(response, uuidField, obs_source_get_uuid(scene));
}

const char *boundsTypeName(obs_bounds_type type)
{
	switch (type) {
	case OBS_BOUNDS_STRETCH:
		return "OBS_BOUNDS_STRETCH";
	case OBS_BOUNDS_SCALE_INNER:
		return "OBS_BOUNDS_SCALE_INNER";
	case OBS_BOUNDS_SCALE_OUTER:
		return "OBS_BOUNDS_SCALE_OUTER";
	case OBS_BOUNDS_SCALE_TO_WIDTH:
		return "OBS_BOUNDS_SCALE_TO_WIDTH";
	case OBS_BOUNDS_SCALE_TO_HEIGHT:
		return "OBS_BOUNDS_SCALE_TO_HEIGHT";
	case OBS_BOUNDS_MAX_ONLY:
		return "OBS_BOUNDS_MAX_ONLY";
	case OBS_BOUNDS_NONE:
		break;
	}
	return "OBS_BOUNDS_NONE";
}

// A toggle answers with the state the output is heading for, as obs-websocket's do.
bool fileOutputBusy(VerticalOutput::FileState state)
{
	return state != VerticalOutput::FileIdle;
}

const char *sourceTypeName(obs_source_type type)
{
	switch (type) {
	case OBS_SOURCE_TYPE_INPUT:
		return "OBS_SOURCE_TYPE_INPUT";
	case OBS_SOURCE_TYPE_FILTER:
		return "OBS_SOURCE_TYPE_FILTER";
	case OBS_SOURCE_TYPE_TRANSITION:
		return "OBS_SOURCE_TYPE_TRANSITION";
	case OBS_SOURCE_TYPE_SCENE:
		break;
	}
	return "OBS_SOURCE_TYPE_SCENE";
}

const char *blendModeName(obs_blending_type mode)
{
	switch (mode) {
	case OBS_BLEND_ADDITIVE:
		return "OBS_BLEND_ADDITIVE";
	case OBS_BLEND_SUBTRACT:
		return "OBS_BLEND_SUBTRACT";
	case OBS_BLEND_SCREEN:
		return "OBS_BLEND_SCREEN";
	case OBS_BLEND_MULTIPLY:
		return "OBS_BLEND_MULTIPLY";
	case OBS_BLEND_LIGHTEN:
		return "OBS_BLEND_LIGHTEN";
	case OBS_BLEND_DARKEN:
		return "OBS_BLEND_DARKEN";
	case OBS_BLEND_NORMAL:
		break;
	}
	return "OBS_BLEND_NORMAL";
}

} // namespace

// The fields obs-websocket 5's GetSceneItemList gives an item; obs-websocket's null for "inputKind" of
// a scene and "isGroup" of an input is left out, as obs_data has no null.
void setWebSocket5ItemFields(obs_data_t *entry, obs_sceneitem_t *item, long long index)
{
	obs_source_t *source = obs_sceneitem_get_source(item);
	const obs_source_type type = obs_source_get_type(source);
	obs_data_set_int(entry, "sceneItemIndex", index);
	obs_data_set_bool(entry, "sceneItemEnabled", obs_sceneitem_visible(item));
	obs_data_set_bool(entry, "sceneItemLocked", obs_sceneitem_locked(item));
	OBSDataAutoRelease transform = sceneItemTransformObject(item);
	obs_data_set_obj(entry, "sceneItemTransform", transform);
	obs_data_set_string(entry, "sceneItemBlendMode", blendModeName(obs_sceneitem_get_blending_mode(item)));
	obs_data_set_string(entry, "sourceType", sourceTypeName(type));
	if (type == OBS_SOURCE_TYPE_INPUT)
		obs_data_set_string(entry, "inputKind", obs_source_get_id(source));
	if (type == OBS_SOURCE_TYPE_SCENE)
		obs_data_set_bool(entry, "isGroup", obs_source_is_group(source));
}

obs_data_t *sceneItemTransformObject(obs_sceneitem_t *item)
{
	obs_transform_info info = {};
	obs_sceneitem_crop crop = {};
	obs_sceneitem_get_info2(item, &info);
	obs_sceneitem_get_crop(item, &crop);
	obs_source_t *source = obs_sceneitem_get_source(item);
	const double sourceWidth = source ? obs_source_get_width(source) : 0;
	const double sourceHeight = source ? obs_source_get_height(source) : 0;

	obs_data_t *data = obs_data_create();
	obs_data_set_double(data, "sourceWidth", sourceWidth);
	obs_data_set_double(data, "sourceHeight", sourceHeight);
	obs_data_set_double(data, "positionX", info.pos.x);
	obs_data_set_double(data, "positionY", info.pos.y);
	obs_data_set_double(data, "rotation", info.rot);
	obs_data_set_double(data, "scaleX", info.scale.x);
	obs_data_set_double(data, "scaleY", info.scale.y);
	obs_data_set_double(data, "width", info.scale.x * sourceWidth);
	obs_data_set_double(data, "height", info.scale.y * sourceHeight);
	obs_data_set_int(data, "alignment", info.alignment);
	obs_data_set_string(data, "boundsType", boundsTypeName(info.bounds_type));
	obs_data_set_int(data, "boundsAlignment", info.bounds_alignment);
	obs_data_set_double(data, "boundsWidth", info.bounds.x);
	obs_data_set_double(data, "boundsHeight", info.bounds.y);
	obs_data_set_int(data, "cropLeft", crop.left);
	obs_data_set_int(data, "cropRight", crop.right);
	obs_data_set_int(data, "cropTop", crop.top);
	obs_data_set_int(data, "cropBottom", crop.bottom);
	obs_data_set_bool(data, "cropToBounds", info.crop_to_bounds);
	return data;
}

Result RemoteControl::getCurrentProgramScene(obs_data_t *, obs_data_t *response)
{
	OBSSourceAutoRelease scene = CanvasManager::instance()->currentScene();
	if (!scene)
		return Result::plain(Result::ResourceNotFound, "the vertical canvas has no program scene");
	setSceneAnswer(response, scene, "currentProgramSceneName", "currentProgramSceneUuid");
	return Result();
}

Result RemoteControl::getCurrentPreviewScene(obs_data_t *, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	if (!manager->studioMode())
		return Result::plain(Result::StudioModeNotActive,
				     "studio mode is off: the vertical canvas has no preview scene");
	OBSSourceAutoRelease scene = manager->previewScene();
	if (!scene)
		return Result::plain(Result::ResourceNotFound, "the vertical canvas has no preview scene");
	setSceneAnswer(response, scene, "currentPreviewSceneName", "currentPreviewSceneUuid");
	return Result();
}

// Without transitionSettings: they belong to the Transitions tab's properties, not to a controller.
Result RemoteControl::getCurrentSceneTransition(obs_data_t *, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	const QString uuid = manager->selectedTransitionUuid();
	for (const TransitionInfo &info : manager->transitions()) {
		if (info.uuid != uuid)
			continue;
		const bool fixed = manager->isTransitionFixed(uuid);
		OBSSourceAutoRelease source = manager->transitionByUuid(uuid);
		obs_data_set_string(response, "transitionName", info.name.toUtf8().constData());
		obs_data_set_string(response, "transitionUuid", info.uuid.toUtf8().constData());
		obs_data_set_string(response, "transitionKind", info.typeId.toUtf8().constData());
		obs_data_set_bool(response, "transitionFixed", fixed);
		if (!fixed)
			obs_data_set_int(response, "transitionDuration", manager->transitionDuration());
		obs_data_set_bool(response, "transitionConfigurable", source && obs_source_configurable(source));
		return Result();
	}
	return Result::plain(Result::ResourceNotFound, "no vertical transition is selected");
}

Result RemoteControl::getSceneItemTransform(obs_data_t *request, obs_data_t *response)
{
	Result error;
	OBSSourceAutoRelease scene = resolveVerticalScene(request, &error);
	if (!scene)
		return error;
	long long id = 0;
	if (error = RequestFields(request).requireInteger("sceneItemId", &id); !error)
		return error;
	obs_sceneitem_t *item = id < 0 ? nullptr : obs_scene_find_sceneitem_by_id(obs_scene_from_source(scene), id);
	if (!item)
		return Result::plain(Result::ResourceNotFound,
				     QString("no scene item with the id %1 in the vertical scene '%2'")
					     .arg(id)
					     .arg(QString::fromUtf8(obs_source_get_name(scene))));
	OBSDataAutoRelease transform = sceneItemTransformObject(item);
	obs_data_set_obj(response, "sceneItemTransform", transform);
	return Result();
}

// obs-websocket answers null for a scene without a transition of its own; obs_data has no null, so the
// fields are left out then.
Result RemoteControl::getSceneSceneTransitionOverride(obs_data_t *request, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	Result error;
	OBSSourceAutoRelease scene = resolveVerticalScene(request, &error);
	if (!scene)
		return error;
	const QString uuid = manager->sceneTransitionOverride(scene);
	for (const TransitionInfo &info : manager->transitions()) {
		if (uuid.isEmpty() || info.uuid != uuid)
			continue;
		obs_data_set_string(response, "transitionName", info.name.toUtf8().constData());
		obs_data_set_string(response, "transitionUuid", info.uuid.toUtf8().constData());
		obs_data_set_int(response, "transitionDuration", manager->sceneTransitionDuration(scene));
	}
	return Result();
}

Result RemoteControl::getStreamStatus(obs_data_t *, obs_data_t *response)
{
	VerticalOutput *output = VerticalOutput::instance();
	const int state = output->streamState();
	const int64_t duration = output->streamElapsedMs();
	// libobs reports NaN before the first measurement; JSON has no NaN.
	float congestion = output->streamOutput() ? obs_output_get_congestion(output->streamOutput()) : 0.0f;
	if (!std::isfinite(congestion))
		congestion = 0.0f;
	obs_data_set_bool(response, "outputActive", state != VerticalOutput::StreamIdle);
	obs_data_set_bool(response, "outputReconnecting", state == VerticalOutput::StreamReconnecting);
	obs_data_set_string(response, "outputTimecode", timecode(duration).toUtf8().constData());
	obs_data_set_int(response, "outputDuration", duration);
	obs_data_set_double(response, "outputCongestion", congestion);
	obs_data_set_int(response, "outputBytes", (long long)output->totalBytes());
	obs_data_set_int(response, "outputSkippedFrames", (long long)output->framesDropped());
	obs_data_set_int(response, "outputTotalFrames", (long long)output->totalFrames());
	return Result();
}

Result RemoteControl::getRecordStatus(obs_data_t *, obs_data_t *response)
{
	VerticalOutput *output = VerticalOutput::instance();
	obs_output_t *recording = output->recordingOutput();
	const int64_t duration = output->recordingElapsedMs();
	obs_data_set_bool(response, "outputActive", fileOutputBusy(output->recordingState()));
	obs_data_set_bool(response, "outputPaused", recording && obs_output_paused(recording));
	obs_data_set_string(response, "outputTimecode", timecode(duration).toUtf8().constData());
	obs_data_set_int(response, "outputDuration", duration);
	obs_data_set_int(response, "outputBytes", recording ? (long long)obs_output_get_total_bytes(recording) : 0);
	return Result();
}

Result RemoteControl::getReplayBufferStatus(obs_data_t *, obs_data_t *response)
{
	obs_data_set_bool(response, "outputActive", fileOutputBusy(VerticalOutput::instance()->replayState()));
	return Result();
}

// The toggles go through the start and stop requests, so that a refused start answers exactly as
// StartStream's does (the stream key kept out of it).
Result RemoteControl::toggleStream(obs_data_t *request, obs_data_t *response)
{
	const bool start = VerticalOutput::instance()->streamState() == VerticalOutput::StreamIdle;
	OBSDataAutoRelease scratch = obs_data_create();
	if (Result done = start ? startStream(request, scratch) : stopStream(request, scratch); !done)
		return done;
	obs_data_set_bool(response, "outputActive", start);
	return Result();
}

Result RemoteControl::toggleRecord(obs_data_t *request, obs_data_t *response)
{
	const bool start = !fileOutputBusy(VerticalOutput::instance()->recordingState());
	OBSDataAutoRelease scratch = obs_data_create();
	if (Result done = start ? startRecord(request, scratch) : stopRecord(request, scratch); !done)
		return done;
	obs_data_set_bool(response, "outputActive", start);
	return Result();
}

Result RemoteControl::toggleReplayBuffer(obs_data_t *request, obs_data_t *response)
{
	const bool start = !fileOutputBusy(VerticalOutput::instance()->replayState());
	OBSDataAutoRelease scratch = obs_data_create();
	if (Result done = start ? startReplayBuffer(request, scratch) : stopReplayBuffer(request, scratch); !done)
		return done;
	obs_data_set_bool(response, "outputActive", start);
	return Result();
}

// ---- events

// One signal covers the selection, the length and any transition's settings: only changes of the
// selection and of the length are obs-websocket events.
void RemoteControl::onTransitionSettingsChanged()
{
	CanvasManager *manager = CanvasManager::instance();
	const QString uuid = manager->selectedTransitionUuid();
	if (uuid != announcedTransition) {
		announcedTransition = uuid;
		OBSDataAutoRelease data = obs_data_create();
		for (const TransitionInfo &info : manager->transitions()) {
			if (info.uuid == uuid)
				obs_data_set_string(data, "transitionName", info.name.toUtf8().constData());
		}
		obs_data_set_string(data, "transitionUuid", uuid.toUtf8().constData());
		emitEvent("CurrentSceneTransitionChanged", data);
	}
	const int duration = manager->transitionDuration();
	if (duration != announcedDuration) {
		announcedDuration = duration;
		OBSDataAutoRelease data = obs_data_create();
		obs_data_set_int(data, "transitionDuration", duration);
		emitEvent("CurrentSceneTransitionDurationChanged", data);
	}
}

} // namespace stilwane
