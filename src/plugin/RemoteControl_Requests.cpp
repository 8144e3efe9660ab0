#include <plugin/RemoteControl.hpp>

#include <canvas/CanvasManager.hpp>
#include <generate/LayoutTemplates.hpp>

#include <algorithm>
#include <cmath>
#include <functional>

#include <obs-frontend-api.h>

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
	{"GetSceneItemList", &RemoteControl::getSceneItemList},
	{"GetOutputStatus", &RemoteControl::getOutputStatus},
	{"StartStream", &RemoteControl::startStream},
	{"StopStream", &RemoteControl::stopStream},
	{"StartRecord", &RemoteControl::startRecord},
	{"StopRecord", &RemoteControl::stopRecord},
	{"StartReplayBuffer", &RemoteControl::startReplayBuffer},
	{"StopReplayBuffer", &RemoteControl::stopReplayBuffer},
	{"SaveReplayBuffer", &RemoteControl::saveReplayBuffer},
	{nullptr, nullptr},
};

namespace {

void releaseItem(obs_data_item_t *item)
{
	obs_data_item_release(&item);
}
using DataItem = OBSPtr<obs_data_item_t *, releaseItem>;

enum class Presence { Missing, Present, WrongType };

// obs-websocket turns the request's JSON into obs_data, where a null arrives as an object item
// without an object: it counts as a missing field.
DataItem fieldItem(obs_data_t *request, const char *field)
{
	obs_data_item_t *item = obs_data_item_byname(request, field);
	if (item && obs_data_item_gettype(item) == OBS_DATA_OBJECT) {
		OBSDataAutoRelease object = obs_data_item_get_obj(item);
		if (!object) {
			obs_data_item_release(&item);
			return DataItem();
		}
	}
	return DataItem(item);
}

Presence readString(obs_data_t *request, const char *field, QString *out)
{
	DataItem item = fieldItem(request, field);
	if (!item)
		return Presence::Missing;
	if (obs_data_item_gettype(item) != OBS_DATA_STRING)
		return Presence::WrongType;
	*out = QString::fromUtf8(obs_data_item_get_string(item));
	return Presence::Present;
}

// JSON has one number type: 3.0 is accepted as 3, 2.5 is not an integer.
Presence readInteger(obs_data_t *request, const char *field, long long *out)
{
	DataItem item = fieldItem(request, field);
	if (!item)
		return Presence::Missing;
	if (obs_data_item_gettype(item) != OBS_DATA_NUMBER)
		return Presence::WrongType;
	if (obs_data_item_numtype(item) == OBS_DATA_NUM_INT) {
		*out = obs_data_item_get_int(item);
		return Presence::Present;
	}
	double value = obs_data_item_get_double(item);
	if (!std::isfinite(value) || std::trunc(value) != value || std::fabs(value) > 1e15)
		return Presence::WrongType;
	*out = (long long)value;
	return Presence::Present;
}

Presence readBool(obs_data_t *request, const char *field, bool *out)
{
	DataItem item = fieldItem(request, field);
	if (!item)
		return Presence::Missing;
	if (obs_data_item_gettype(item) != OBS_DATA_BOOLEAN)
		return Presence::WrongType;
	*out = obs_data_item_get_bool(item);
	return Presence::Present;
}

QString quoted(const char *field)
{
	return QString("'%1'").arg(QString::fromUtf8(field));
}

// A non-empty string the request must have; returns the error text, empty when it is there.
QString requireName(obs_data_t *request, const char *field, QString *out)
{
	switch (readString(request, field, out)) {
	case Presence::Missing:
		return "missing field " + quoted(field);
	case Presence::WrongType:
		return "field " + quoted(field) + " must be a string";
	case Presence::Present:
		break;
	}
	if (out->isEmpty())
		return "field " + quoted(field) + " must not be empty";
	return QString();
}

QString requireInteger(obs_data_t *request, const char *field, long long *out)
{
	switch (readInteger(request, field, out)) {
	case Presence::Missing:
		return "missing field " + quoted(field);
	case Presence::WrongType:
		return "field " + quoted(field) + " must be an integer";
	case Presence::Present:
		break;
	}
	return QString();
}

using SceneLookup = std::function<obs_source_t *(const QString &uuid, const QString &name)>;

// A scene named by uuid or by name (the uuid wins when both are given, as in obs-websocket). Returns
// a new reference, or null with the error text.
obs_source_t *resolveScene(obs_data_t *request, const char *uuidField, const char *nameField, const char *what,
			   const SceneLookup &lookup, QString *error)
{
	QString uuid, name;
	Presence hasUuid = readString(request, uuidField, &uuid);
	Presence hasName = readString(request, nameField, &name);
	if (hasUuid == Presence::WrongType || hasName == Presence::WrongType) {
		*error =
			"field " + quoted(hasUuid == Presence::WrongType ? uuidField : nameField) + " must be a string";
		return nullptr;
	}
	obs_source_t *scene = nullptr;
	if (!uuid.isEmpty()) {
		scene = lookup(uuid, QString());
		if (!scene)
			*error = QString("no %1 with the uuid '%2'").arg(what, uuid);
	} else if (!name.isEmpty()) {
		scene = lookup(QString(), name);
		if (!scene)
			*error = QString("no %1 named '%2'").arg(what, name);
	} else {
		*error = "missing field " + quoted(uuidField) + " or " + quoted(nameField);
	}
	return scene;
}

obs_source_t *resolveVerticalScene(obs_data_t *request, QString *error)
{
	CanvasManager *manager = CanvasManager::instance();
	return resolveScene(
		request, "sceneUuid", "sceneName", "vertical scene",
		[manager](const QString &uuid, const QString &name) {
			return uuid.isEmpty() ? manager->findSceneByName(name) : manager->findSceneByUuid(uuid);
		},
		error);
}

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
QString readExtraSources(obs_data_t *request, OBSSourceAutoRelease (&extras)[2])
{
	DataItem item = fieldItem(request, "extraSources");
	if (!item)
		return QString();
	if (obs_data_item_gettype(item) != OBS_DATA_ARRAY)
		return "field 'extraSources' must be an array of objects {\"sourceUuid\": ...}";
	OBSDataArrayAutoRelease array = obs_data_item_get_array(item);
	size_t count = obs_data_array_count(array);
	if (count > 2)
		return QString("field 'extraSources' holds %1 sources; a template takes at most two").arg(count);
	for (size_t i = 0; i < count; i++) {
		OBSDataAutoRelease entry = obs_data_array_item(array, i);
		QString uuid;
		QString error = requireName(entry, "sourceUuid", &uuid);
		if (!error.isEmpty())
			return QString("extraSources[%1]: %2").arg(i).arg(error);
		OBSSourceAutoRelease source = obs_get_source_by_uuid(uuid.toUtf8().constData());
		if (!source || obs_source_removed(source))
			return QString("extraSources[%1]: no source with the uuid '%2'").arg(i).arg(uuid);
		obs_source_type type = obs_source_get_type(source);
		if (type != OBS_SOURCE_TYPE_INPUT && type != OBS_SOURCE_TYPE_SCENE)
			return QString("extraSources[%1]: '%2' is neither an input nor a scene").arg(i).arg(uuid);
		extras[i] = std::move(source);
	}
	return QString();
}

} // namespace

QString RemoteControl::getCanvas(obs_data_t *, obs_data_t *response)
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
	return QString();
}

QString RemoteControl::getSceneList(obs_data_t *, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	OBSDataArrayAutoRelease list = obs_data_array_create();
	for (const SceneRef &ref : manager->scenes()) {
		OBSSourceAutoRelease scene = manager->findSceneByUuid(ref.uuid);
		if (!scene)
			continue;
		OBSDataAutoRelease priv = obs_source_get_private_settings(scene);
		OBSDataAutoRelease item = obs_data_create();
		setSceneFields(item, scene);
		obs_data_set_string(item, "link", obs_data_get_string(priv, "stilwane_link"));
		obs_data_set_string(item, "transitionUuid",
				    manager->sceneTransitionOverride(scene).toUtf8().constData());
		obs_data_set_int(item, "transitionDurationMs", manager->sceneTransitionDuration(scene));
		obs_data_array_push_back(list, item);
	}
	obs_data_set_array(response, "scenes", list);
	obs_data_set_string(response, "currentSceneUuid", manager->currentSceneUuid().toUtf8().constData());
	obs_data_set_string(response, "previewSceneUuid",
			    manager->studioMode() ? manager->previewSceneUuid().toUtf8().constData() : "");
	return QString();
}

QString RemoteControl::setCurrentScene(obs_data_t *request, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	QString error;
	OBSSourceAutoRelease scene = resolveVerticalScene(request, &error);
	if (!scene)
		return error;
	if (manager->currentSceneUuid() != uuidOf(scene)) {
		manager->setCurrentScene(scene, -1, "websocket");
		if (manager->currentSceneUuid() != uuidOf(scene))
			return "the vertical canvas could not switch to the scene";
		obs_frontend_save();
	}
	setSceneFields(response, scene);
	return QString();
}

QString RemoteControl::setPreviewScene(obs_data_t *request, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	QString error;
	OBSSourceAutoRelease scene = resolveVerticalScene(request, &error);
	if (!scene)
		return error;
	if (!manager->studioMode())
		return "studio mode is off: the vertical canvas has no preview scene";
	if (manager->previewSceneUuid() != uuidOf(scene)) {
		manager->setPreviewScene(scene, "websocket");
		if (manager->previewSceneUuid() != uuidOf(scene))
			return "the scene could not become the vertical preview scene";
		obs_frontend_save();
	}
	setSceneFields(response, scene);
	return QString();
}

QString RemoteControl::transitionToProgram(obs_data_t *, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	if (!manager->studioMode())
		return "studio mode is off: there is no preview scene to transition to";
	OBSSourceAutoRelease preview = manager->previewScene();
	if (!preview)
		return "the vertical canvas has no preview scene";
	QString target = uuidOf(preview);
	if (manager->currentSceneUuid() != target) {
		manager->transitionToProgram(-1, "websocket");
		if (manager->currentSceneUuid() != target)
			return "the transition could not start (another vertical transition may still be running)";
		obs_frontend_save();
	}
	setSceneFields(response, preview);
	return QString();
}

QString RemoteControl::createScene(obs_data_t *request, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	QString name;
	QString error = requireName(request, "sceneName", &name);
	if (!error.isEmpty())
		return error;
	if (manager->sceneNameExists(name))
		return QString("a vertical scene named '%1' already exists").arg(name);
	obs_scene_t *scene = manager->addScene(name);
	if (!scene)
		return QString("the vertical scene '%1' could not be created").arg(name);
	setSceneFields(response, obs_scene_get_source(scene));
	obs_frontend_save();
	return QString();
}

QString RemoteControl::renameScene(obs_data_t *request, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	QString error;
	OBSSourceAutoRelease scene = resolveVerticalScene(request, &error);
	if (!scene)
		return error;
	QString name;
	error = requireName(request, "newSceneName", &name);
	if (!error.isEmpty())
		return error;
	if (name != QString::fromUtf8(obs_source_get_name(scene))) {
		if (manager->sceneNameExists(name))
			return QString("a vertical scene named '%1' already exists").arg(name);
		if (!manager->renameScene(scene, name))
			return QString("the scene could not be renamed to '%1'").arg(name);
		obs_frontend_save();
	}
	setSceneFields(response, scene);
	return QString();
}

QString RemoteControl::removeScene(obs_data_t *request, obs_data_t *)
{
	QString error;
	OBSSourceAutoRelease scene = resolveVerticalScene(request, &error);
	if (!scene)
		return error;
	CanvasManager::instance()->removeScene(scene);
	obs_frontend_save();
	return QString();
}

// The manager moves a scene by swapping it with the scene `offset` places away, so a longer move is
// made of single steps, which keeps the order of the scenes it passes.
QString RemoteControl::moveScene(obs_data_t *request, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	QString error;
	OBSSourceAutoRelease scene = resolveVerticalScene(request, &error);
	if (!scene)
		return error;
	long long offset = 0;
	error = requireInteger(request, "offset", &offset);
	if (!error.isEmpty())
		return error;
	QString uuid = uuidOf(scene);
	QVector<SceneRef> list = manager->scenes();
	long long index = 0;
	while (index < list.size() && list[index].uuid != uuid)
		index++;
	long long target = index + offset;
	if (target < 0 || target >= list.size())
		return QString("offset %1 moves the scene out of the list (it is at index %2 of %3 scenes)")
			.arg(offset)
			.arg(index)
			.arg(list.size());
	int step = offset > 0 ? 1 : -1;
	for (long long moved = 0; moved != offset; moved += step)
		manager->moveScene(uuid, step);
	if (offset != 0)
		obs_frontend_save();
	obs_data_set_int(response, "sceneIndex", target);
	return QString();
}

QString RemoteControl::generateScene(obs_data_t *request, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	QString error;
	OBSSourceAutoRelease mainScene =
		resolveScene(request, "mainSceneUuid", "mainSceneName", "main scene", findMainScene, &error);
	if (!mainScene)
		return error;

	QString templateName;
	error = requireName(request, "template", &templateName);
	if (!error.isEmpty())
		return error;
	TemplateKind kind;
	if (!parseTemplate(templateName, &kind))
		return QString("unknown template '%1' (CenterCrop, FitWidth, Stacked or Thirds)").arg(templateName);

	QString name;
	error = requireName(request, "sceneName", &name);
	if (!error.isEmpty())
		return error;
	if (manager->sceneNameExists(name))
		return QString("a vertical scene named '%1' already exists").arg(name);

	bool link = true;
	if (readBool(request, "link", &link) == Presence::WrongType)
		return "field 'link' must be a boolean";

	OBSSourceAutoRelease extras[2];
	error = readExtraSources(request, extras);
	if (!error.isEmpty())
		return error;

	OBSSourceAutoRelease scene =
		generateVerticalScene(mainScene, kind, ExtraSources{extras[0], extras[1]}, name, link);
	if (!scene)
		return QString("the vertical scene '%1' could not be generated").arg(name);
	setSceneFields(response, scene);
	obs_frontend_save();
	return QString();
}

QString RemoteControl::getTransitionList(obs_data_t *, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	OBSDataArrayAutoRelease list = obs_data_array_create();
	for (const TransitionInfo &info : manager->transitions()) {
		OBSDataAutoRelease item = obs_data_create();
		obs_data_set_string(item, "transitionUuid", info.uuid.toUtf8().constData());
		obs_data_set_string(item, "transitionName", info.name.toUtf8().constData());
		obs_data_set_string(item, "transitionKind", info.typeId.toUtf8().constData());
		obs_data_set_bool(item, "builtIn", info.builtIn);
		obs_data_array_push_back(list, item);
	}
	obs_data_set_array(response, "transitions", list);
	obs_data_set_string(response, "currentTransitionUuid", manager->selectedTransitionUuid().toUtf8().constData());
	obs_data_set_int(response, "transitionDurationMs", manager->transitionDuration());
	return QString();
}

QString RemoteControl::setCurrentTransition(obs_data_t *request, obs_data_t *)
{
	CanvasManager *manager = CanvasManager::instance();
	QString uuid;
	QString error = requireName(request, "transitionUuid", &uuid);
	if (!error.isEmpty())
		return error;
	OBSSourceAutoRelease transition = manager->transitionByUuid(uuid);
	if (!transition)
		return QString("no vertical transition with the uuid '%1'").arg(uuid);
	manager->selectTransition(uuid);
	return QString();
}

// Out-of-range durations are clamped to 0..20000 ms like everywhere else in the plug-in; the
// response says what was applied.
QString RemoteControl::setTransitionDuration(obs_data_t *request, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	long long ms = 0;
	QString error = requireInteger(request, "transitionDurationMs", &ms);
	if (!error.isEmpty())
		return error;
	manager->setTransitionDuration((int)std::clamp<long long>(ms, 0, kMaxTransitionMs));
	obs_data_set_int(response, "transitionDurationMs", manager->transitionDuration());
	return QString();
}

QString RemoteControl::getSceneItemList(obs_data_t *request, obs_data_t *response)
{
	QString error;
	OBSSourceAutoRelease scene = resolveVerticalScene(request, &error);
	if (!scene)
		return error;
	OBSDataArrayAutoRelease list = obs_data_array_create();
	obs_scene_enum_items(
		obs_scene_from_source(scene),
		[](obs_scene_t *, obs_sceneitem_t *item, void *param) {
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
			obs_data_array_push_back(static_cast<obs_data_array_t *>(param), entry);
			return true;
		},
		list.Get());
	obs_data_set_array(response, "sceneItems", list);
	setSceneFields(response, scene);
	return QString();
}
