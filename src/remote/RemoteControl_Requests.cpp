// SPDX-License-Identifier: GPL-2.0-or-later
#include <remote/RemoteControl.hpp>
#include <remote/RequestFields.hpp>
#include <common/Limits.hpp>

#include <canvas/CanvasManager.hpp>
#include <generate/LayoutTemplates.hpp>

#include <algorithm>
#include <cstring>
#include <functional>

#include <obs-frontend-api.h>

namespace stilwane {

// The older names stay: clients written for them keep working. The second block holds obs-websocket 5's
// names, so that a controller written against obs-websocket sends its own requests to the vendor; where
// both exist they share one handler, which reads either set of fields.
const RemoteControl::RequestEntry RemoteControl::requestTable[] = {
	{"GetCanvas", &RemoteControl::getCanvas},
	{"GetSceneList", &RemoteControl::getSceneList},
	{"SetCurrentScene", &RemoteControl::setCurrentScene},
	{"SetPreviewScene", &RemoteControl::setPreviewScene},
	{"TransitionToProgram", &RemoteControl::transitionToProgram},
	{"CreateScene", &RemoteControl::createScene},
	{"RenameScene", &RemoteControl::renameScene},
	{"RemoveScene", &RemoteControl::removeScene},
	{"MoveScene", &RemoteControl::moveScene},
	{"GenerateScene", &RemoteControl::generateScene},
	{"GetTransitionList", &RemoteControl::getTransitionList},
	{"SetCurrentTransition", &RemoteControl::setCurrentTransition},
	{"SetTransitionDuration", &RemoteControl::setTransitionDuration},
	{"AddTransition", &RemoteControl::addTransition},
	{"RenameTransition", &RemoteControl::renameTransition},
	{"RemoveTransition", &RemoteControl::removeTransition},
	{"GetSceneItemList", &RemoteControl::getSceneItemList},
	{"SetSceneItemTransform", &RemoteControl::setSceneItemTransform},
	{"SetSceneLink", &RemoteControl::setSceneLink},
	{"SetSceneSceneTransitionOverride", &RemoteControl::setSceneSceneTransitionOverride},
	{"GetOutputStatus", &RemoteControl::getOutputStatus},
	{"StartStream", &RemoteControl::startStream},
	{"StopStream", &RemoteControl::stopStream},
	{"StartRecord", &RemoteControl::startRecord},
	{"StopRecord", &RemoteControl::stopRecord},
	{"StartReplayBuffer", &RemoteControl::startReplayBuffer},
	{"StopReplayBuffer", &RemoteControl::stopReplayBuffer},
	{"SaveReplayBuffer", &RemoteControl::saveReplayBuffer},
	{"GetDestinations", &RemoteControl::getDestinations},
	{"SetDestination", &RemoteControl::setDestination},
	{"RemoveDestination", &RemoteControl::removeDestination},
	{"StartDestination", &RemoteControl::startDestination},
	{"StopDestination", &RemoteControl::stopDestination},
	{"GetAudioSources", &RemoteControl::getAudioSources},
	{"SetSourceVertical", &RemoteControl::setSourceVertical},
	{"SetSourceSeparate", &RemoteControl::setSourceSeparate},
	{"SetSourceVerticalVolume", &RemoteControl::setSourceVerticalVolume},
	{"SplitAudioTrack", &RemoteControl::splitAudioTrack},
	{"EnableAudioMix", &RemoteControl::enableAudioMix},
	{"OpenProjector", &RemoteControl::openProjector},

	{"GetCurrentProgramScene", &RemoteControl::getCurrentProgramScene},
	{"SetCurrentProgramScene", &RemoteControl::setCurrentScene},
	{"GetCurrentPreviewScene", &RemoteControl::getCurrentPreviewScene},
	{"SetCurrentPreviewScene", &RemoteControl::setPreviewScene},
	{"TriggerStudioModeTransition", &RemoteControl::transitionToProgram},
	{"SetSceneName", &RemoteControl::renameScene},
	{"GetSceneTransitionList", &RemoteControl::getTransitionList},
	{"GetCurrentSceneTransition", &RemoteControl::getCurrentSceneTransition},
	{"SetCurrentSceneTransition", &RemoteControl::setCurrentTransition},
	{"SetCurrentSceneTransitionDuration", &RemoteControl::setTransitionDuration},
	{"GetSceneItemTransform", &RemoteControl::getSceneItemTransform},
	{"GetSceneSceneTransitionOverride", &RemoteControl::getSceneSceneTransitionOverride},
	{"GetStreamStatus", &RemoteControl::getStreamStatus},
	{"ToggleStream", &RemoteControl::toggleStream},
	{"GetRecordStatus", &RemoteControl::getRecordStatus},
	{"ToggleRecord", &RemoteControl::toggleRecord},
	{"GetReplayBufferStatus", &RemoteControl::getReplayBufferStatus},
	{"ToggleReplayBuffer", &RemoteControl::toggleReplayBuffer},
	{"OpenVideoMixProjector", &RemoteControl::openProjector},
	{"GetInputVolume", &RemoteControl::getInputVolume},
	{"SetInputVolume", &RemoteControl::setSourceVerticalVolume},
	{"GetInputMute", &RemoteControl::getInputMute},
	{"SetInputMute", &RemoteControl::setInputMute},
	{"ToggleInputMute", &RemoteControl::toggleInputMute},
	{nullptr, nullptr},
};

// Every refusal is English, for the client (no dock shows them), with obs-websocket's code for it.
namespace {

using Presence = RequestFields::Presence;

obs_source_t *findMainScene(const QString &uuid, const QString &name)
{
	QByteArray wanted = (uuid.isEmpty() ? name : uuid).toUtf8();
	obs_frontend_source_list list = {};
	obs_frontend_get_scenes(&list);
	obs_source_t *found = nullptr;
	for (size_t i = 0; i < list.sources.num && !found; i++) {
		obs_source_t *scene = list.sources.array[i];
		const char *key = uuid.isEmpty() ? obs_source_get_name(scene) : obs_source_get_uuid(scene);
		if (key && wanted == key)
			found = obs_source_get_ref(scene);
	}
	obs_frontend_source_list_free(&list);
	return found;
}

QString uuidOf(obs_source_t *source)
{
	return QString::fromUtf8(obs_source_get_uuid(source));
}

// {"sceneUuid", "sceneName"}; left out without a scene, because obs-websocket turns a null object of a
// vendor response into {}, which clients would take for a scene.
void setSceneObject(obs_data_t *response, const char *field, obs_source_t *scene)
{
	if (!scene)
		return;
	OBSDataAutoRelease object = obs_data_create();
	obs_data_set_string(object, "sceneUuid", obs_source_get_uuid(scene));
	obs_data_set_string(object, "sceneName", obs_source_get_name(scene));
	obs_data_set_obj(response, field, object);
}

void setSceneFields(obs_data_t *response, obs_source_t *scene)
{
	obs_data_set_string(response, "sceneUuid", obs_source_get_uuid(scene));
	obs_data_set_string(response, "sceneName", obs_source_get_name(scene));
}

Result alreadyExists(const QString &name)
{
	return Result::plain(Result::ResourceAlreadyExists,
			     QString("a vertical scene named '%1' already exists").arg(name));
}

bool parseTemplate(const QString &name, TemplateKind *kind)
{
	const std::pair<const char *, TemplateKind> names[] = {{"CenterCrop", TemplateKind::CenterCrop},
							       {"FitWidth", TemplateKind::FitWidth},
							       {"Stacked", TemplateKind::Stacked},
							       {"Thirds", TemplateKind::Thirds}};
	for (const auto &[text, value] : names) {
		if (name == text) {
			*kind = value;
			return true;
		}
	}
	return false;
}

// obs_data keeps only objects in arrays, so plain strings in the JSON array never reach us: each
// extra source is an object {"sourceUuid": ...}.
Result readExtraSources(obs_data_t *request, OBSSourceAutoRelease (&extras)[2])
{
	OBSDataArrayAutoRelease array;
	switch (RequestFields(request).readArray("extraSources", &array)) {
	case Presence::Missing:
		return Result();
	case Presence::WrongType:
		return RequestFields::wrongType("extraSources", "an array of objects {\"sourceUuid\": ...}");
	case Presence::Present:
		break;
	}
	size_t count = obs_data_array_count(array);
	if (count > 2)
		return Result::plain(
			Result::InvalidRequestField,
			QString("field 'extraSources' holds %1 sources; a template takes at most two").arg(count));
	for (size_t i = 0; i < count; i++) {
		const QString where = QString("extraSources[%1]: ").arg(i);
		OBSDataAutoRelease entry = obs_data_array_item(array, i);
		QString uuid;
		if (Result error = RequestFields(entry).requireName("sourceUuid", &uuid); !error)
			return Result::plain(error.code(), where + error.englishText());
		OBSSourceAutoRelease source = obs_get_source_by_uuid(uuid.toUtf8().constData());
		if (!source || obs_source_removed(source))
			return Result::plain(Result::ResourceNotFound,
					     where + QString("no source with the uuid '%1'").arg(uuid));
		obs_source_type type = obs_source_get_type(source);
		if (type != OBS_SOURCE_TYPE_INPUT && type != OBS_SOURCE_TYPE_SCENE)
			return Result::plain(Result::InvalidRequestField,
					     where + QString("'%1' is neither an input nor a scene").arg(uuid));
		extras[i] = std::move(source);
	}
	return Result();
}

} // namespace

Result RemoteControl::getCanvas(obs_data_t *, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	obs_data_set_string(response, "canvasUuid", obs_canvas_get_uuid(manager->canvas()));
	obs_data_set_string(response, "canvasName", obs_canvas_get_name(manager->canvas()));
	obs_data_set_int(response, "width", manager->canvasWidth());
	obs_data_set_int(response, "height", manager->canvasHeight());
	obs_data_set_bool(response, "studioMode", manager->studioMode());
	OBSSourceAutoRelease current = manager->currentScene();
	OBSSourceAutoRelease preview = manager->studioMode() ? manager->previewScene() : nullptr;
	setSceneObject(response, "currentScene", current);
	setSceneObject(response, "previewScene", preview);
	return Result();
}

Result RemoteControl::getSceneList(obs_data_t *, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	OBSDataArrayAutoRelease list = obs_data_array_create();
	long long index = 0;
	for (const SceneRef &ref : manager->scenes()) {
		OBSSourceAutoRelease scene = manager->findSceneByUuid(ref.uuid);
		if (!scene)
			continue;
		OBSDataAutoRelease priv = obs_source_get_private_settings(scene);
		OBSDataAutoRelease item = obs_data_create();
		setSceneFields(item, scene);
		// The place in the user's order, top first (obs-websocket counts its own list from the bottom).
		obs_data_set_int(item, "sceneIndex", index++);
		obs_data_set_string(item, "link", obs_data_get_string(priv, kLinkKey));
		obs_data_set_string(item, "transitionUuid",
				    manager->sceneTransitionOverride(scene).toUtf8().constData());
		obs_data_set_int(item, "transitionDurationMs", manager->sceneTransitionDuration(scene));
		obs_data_array_push_back(list, item);
	}
	obs_data_set_array(response, "scenes", list);
	obs_data_set_string(response, "currentSceneUuid", manager->currentSceneUuid().toUtf8().constData());
	obs_data_set_string(response, "previewSceneUuid",
			    manager->studioMode() ? manager->previewSceneUuid().toUtf8().constData() : "");
	// obs-websocket 5's fields, left out when there is no such scene.
	OBSSourceAutoRelease current = manager->currentScene();
	OBSSourceAutoRelease preview = manager->studioMode() ? manager->previewScene() : nullptr;
	if (current) {
		obs_data_set_string(response, "currentProgramSceneName", obs_source_get_name(current));
		obs_data_set_string(response, "currentProgramSceneUuid", obs_source_get_uuid(current));
	}
	if (preview) {
		obs_data_set_string(response, "currentPreviewSceneName", obs_source_get_name(preview));
		obs_data_set_string(response, "currentPreviewSceneUuid", obs_source_get_uuid(preview));
	}
	return Result();
}

Result RemoteControl::setCurrentScene(obs_data_t *request, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	Result error;
	OBSSourceAutoRelease scene = resolveVerticalScene(request, &error);
	if (!scene)
		return error;
	if (manager->currentSceneUuid() != uuidOf(scene)) {
		manager->setCurrentScene(scene, -1, "websocket");
		if (manager->currentSceneUuid() != uuidOf(scene))
			return Result::plain(Result::RequestProcessingFailed,
					     "the vertical canvas could not switch to the scene");
		obs_frontend_save();
	}
	setSceneFields(response, scene);
	return Result();
}

Result RemoteControl::setPreviewScene(obs_data_t *request, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	Result error;
	OBSSourceAutoRelease scene = resolveVerticalScene(request, &error);
	if (!scene)
		return error;
	if (!manager->studioMode())
		return Result::plain(Result::StudioModeNotActive,
				     "studio mode is off: the vertical canvas has no preview scene");
	if (manager->previewSceneUuid() != uuidOf(scene)) {
		manager->setPreviewScene(scene, "websocket");
		if (manager->previewSceneUuid() != uuidOf(scene))
			return Result::plain(Result::RequestProcessingFailed,
					     "the scene could not become the vertical preview scene");
		obs_frontend_save();
	}
	setSceneFields(response, scene);
	return Result();
}

Result RemoteControl::transitionToProgram(obs_data_t *, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	if (!manager->studioMode())
		return Result::plain(Result::StudioModeNotActive,
				     "studio mode is off: there is no preview scene to transition to");
	OBSSourceAutoRelease preview = manager->previewScene();
	if (!preview)
		return Result::plain(Result::ResourceNotFound, "the vertical canvas has no preview scene");
	QString target = uuidOf(preview);
	if (manager->currentSceneUuid() != target) {
		manager->transitionToProgram(-1, "websocket");
		if (manager->currentSceneUuid() != target)
			return Result::plain(
				Result::RequestProcessingFailed,
				"the transition could not start (another vertical transition may still be running)");
		obs_frontend_save();
	}
	setSceneFields(response, preview);
	return Result();
}

Result RemoteControl::createScene(obs_data_t *request, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	QString name;
	if (Result error = RequestFields(request).requireName("sceneName", &name); !error)
		return error;
	if (manager->sceneNameExists(name))
		return alreadyExists(name);
	obs_scene_t *scene = manager->addScene(name);
	if (!scene)
		return Result::plain(Result::RequestProcessingFailed,
				     QString("the vertical scene '%1' could not be created").arg(name));
	setSceneFields(response, obs_scene_get_source(scene));
	obs_frontend_save();
	return Result();
}

Result RemoteControl::renameScene(obs_data_t *request, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	Result error;
	OBSSourceAutoRelease scene = resolveVerticalScene(request, &error);
	if (!scene)
		return error;
	QString name;
	if (error = RequestFields(request).requireName("newSceneName", &name); !error)
		return error;
	if (name != QString::fromUtf8(obs_source_get_name(scene))) {
		if (manager->sceneNameExists(name))
			return alreadyExists(name);
		if (!manager->renameScene(scene, name))
			return Result::plain(Result::RequestProcessingFailed,
					     QString("the scene could not be renamed to '%1'").arg(name));
		obs_frontend_save();
	}
	setSceneFields(response, scene);
	return Result();
}

Result RemoteControl::removeScene(obs_data_t *request, obs_data_t *)
{
	Result error;
	OBSSourceAutoRelease scene = resolveVerticalScene(request, &error);
	if (!scene)
		return error;
	CanvasManager::instance()->removeScene(scene);
	obs_frontend_save();
	return Result();
}

// The manager moves a scene by swapping it with the scene `offset` places away, so a longer move is
// made of single steps, which keeps the order of the scenes it passes.
Result RemoteControl::moveScene(obs_data_t *request, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	Result error;
	OBSSourceAutoRelease scene = resolveVerticalScene(request, &error);
	if (!scene)
		return error;
	long long offset = 0;
	if (error = RequestFields(request).requireInteger("offset", &offset); !error)
		return error;
	QString uuid = uuidOf(scene);
	QVector<SceneRef> list = manager->scenes();
	long long index = 0;
	while (index < list.size() && list[index].uuid != uuid)
		index++;
	long long target = index + offset;
	if (target < 0 || target >= list.size())
		return Result::plain(
			Result::RequestFieldOutOfRange,
			QString("offset %1 moves the scene out of the list (it is at index %2 of %3 scenes)")
				.arg(offset)
				.arg(index)
				.arg(list.size()));
	int step = offset > 0 ? 1 : -1;
	for (long long moved = 0; moved != offset; moved += step)
		manager->moveScene(uuid, step);
	if (offset != 0)
		obs_frontend_save();
	obs_data_set_int(response, "sceneIndex", target);
	return Result();
}

Result RemoteControl::generateScene(obs_data_t *request, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	Result error;
	OBSSourceAutoRelease mainScene =
		resolveScene(request, "mainSceneUuid", "mainSceneName", "main scene", findMainScene, &error);
	if (!mainScene)
		return error;

	QString templateName;
	if (error = RequestFields(request).requireName("template", &templateName); !error)
		return error;
	TemplateKind kind;
	if (!parseTemplate(templateName, &kind))
		return Result::plain(
			Result::InvalidRequestField,
			QString("unknown template '%1' (CenterCrop, FitWidth, Stacked or Thirds)").arg(templateName));

	QString name;
	if (error = RequestFields(request).requireName("sceneName", &name); !error)
		return error;
	if (manager->sceneNameExists(name))
		return alreadyExists(name);

	bool link = true;
	if (RequestFields(request).readBool("link", &link) == Presence::WrongType)
		return RequestFields::wrongType("link", "a boolean");

	OBSSourceAutoRelease extras[2];
	if (error = readExtraSources(request, extras); !error)
		return error;

	OBSSourceAutoRelease scene =
		generateVerticalScene(mainScene, kind, ExtraSources{extras[0], extras[1]}, name, link);
	if (!scene)
		return Result::plain(Result::RequestProcessingFailed,
				     QString("the vertical scene '%1' could not be generated").arg(name));
	setSceneFields(response, scene);
	obs_frontend_save();
	return Result();
}

// Each item has the older flat fields and obs-websocket 5's ("sceneItemEnabled", "sceneItemTransform",
// ...), bottom first as both count them.
Result RemoteControl::getSceneItemList(obs_data_t *request, obs_data_t *response)
{
	Result error;
	OBSSourceAutoRelease scene = resolveVerticalScene(request, &error);
	if (!scene)
		return error;
	OBSDataArrayAutoRelease list = obs_data_array_create();
	obs_scene_enum_items(
		obs_scene_from_source(scene),
		[](obs_scene_t *, obs_sceneitem_t *item, void *param) {
			auto *array = static_cast<obs_data_array_t *>(param);
			obs_source_t *source = obs_sceneitem_get_source(item);
			vec2 pos, scale;
			obs_sceneitem_crop crop;
			obs_sceneitem_get_pos(item, &pos);
			obs_sceneitem_get_scale(item, &scale);
			obs_sceneitem_get_crop(item, &crop);
			OBSDataAutoRelease entry = obs_data_create();
			obs_data_set_int(entry, "sceneItemId", obs_sceneitem_get_id(item));
			obs_data_set_string(entry, "sourceName", obs_source_get_name(source));
			obs_data_set_string(entry, "sourceUuid", obs_source_get_uuid(source));
			obs_data_set_double(entry, "positionX", pos.x);
			obs_data_set_double(entry, "positionY", pos.y);
			obs_data_set_double(entry, "scale", scale.x);
			obs_data_set_int(entry, "cropLeft", crop.left);
			obs_data_set_int(entry, "cropTop", crop.top);
			obs_data_set_int(entry, "cropRight", crop.right);
			obs_data_set_int(entry, "cropBottom", crop.bottom);
			obs_data_set_bool(entry, "visible", obs_sceneitem_visible(item));
			obs_data_set_bool(entry, "locked", obs_sceneitem_locked(item));
			setWebSocket5ItemFields(entry, item, (long long)obs_data_array_count(array));
			obs_data_array_push_back(array, entry);
			return true;
		},
		list.Get());
	obs_data_set_array(response, "sceneItems", list);
	setSceneFields(response, scene);
	return Result();
}

// "link": a main scene's uuid, "same-name", or "" for none.
Result RemoteControl::setSceneLink(obs_data_t *request, obs_data_t *response)
{
	Result error;
	OBSSourceAutoRelease scene = resolveVerticalScene(request, &error);
	if (!scene)
		return error;
	QString link;
	const RequestFields::Presence present = RequestFields(request).readString("link", &link);
	if (present == RequestFields::Presence::Missing)
		return RequestFields::missing("link");
	if (present == RequestFields::Presence::WrongType)
		return RequestFields::wrongType("link", "a string");
	if (!link.isEmpty() && link != QLatin1String(kSameNameLink)) {
		OBSSourceAutoRelease mainScene = findMainScene(link, QString());
		if (!mainScene)
			return Result::plain(Result::ResourceNotFound,
					     QString("no main scene with the uuid '%1'").arg(link));
	}
	CanvasManager::instance()->setSceneLink(scene, link);
	setSceneFields(response, scene);
	obs_data_set_string(response, "link", link.toUtf8().constData());
	return Result();
}

// obs-websocket 5's fields: "transitionName" or "transitionUuid" (null or "" clears the scene's own
// transition), "transitionDuration" in ms (optional; without it the duration stays).
Result RemoteControl::setSceneSceneTransitionOverride(obs_data_t *request, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	Result error;
	OBSSourceAutoRelease scene = resolveVerticalScene(request, &error);
	if (!scene)
		return error;
	const RequestFields fields(request);
	QString uuid = manager->sceneTransitionOverride(scene);
	bool transitionGiven = false;
	for (const char *field : {"transitionUuid", "transitionName"}) {
		QString value;
		const RequestFields::Presence present = fields.readStringOrNull(field, &value);
		if (present == RequestFields::Presence::Missing || transitionGiven)
			continue;
		if (present == RequestFields::Presence::WrongType)
			return RequestFields::wrongType(field, "a string or null");
		transitionGiven = true;
		const bool byUuid = strcmp(field, "transitionUuid") == 0;
		uuid.clear();
		for (const TransitionInfo &info : manager->transitions())
			if (!value.isEmpty() && (byUuid ? info.uuid == value : info.name == value))
				uuid = info.uuid;
		if (!value.isEmpty() && uuid.isEmpty())
			return Result::plain(Result::ResourceNotFound,
					     QString("no vertical transition %1 '%2'")
						     .arg(byUuid ? "with the uuid" : "named", value));
	}
	long long ms = manager->sceneTransitionDuration(scene);
	const RequestFields::Presence duration = fields.readInteger("transitionDuration", &ms);
	if (duration == RequestFields::Presence::WrongType)
		return RequestFields::wrongType("transitionDuration", "an integer or null");
	if (!transitionGiven && duration != RequestFields::Presence::Present)
		return Result::plain(Result::MissingRequestField,
				     "missing field 'transitionName', 'transitionUuid' or 'transitionDuration'");
	if (ms < 0 || ms > kMaxTransitionMs)
		return Result::plain(Result::RequestFieldOutOfRange,
				     QString("field 'transitionDuration' must be 0 to %1 ms").arg(kMaxTransitionMs));
	manager->setSceneTransitionOverride(scene, uuid, int(ms));
	setSceneFields(response, scene);
	obs_data_set_string(response, "transitionUuid", manager->sceneTransitionOverride(scene).toUtf8().constData());
	obs_data_set_int(response, "transitionDuration", manager->sceneTransitionDuration(scene));
	return Result();
}

} // namespace stilwane
