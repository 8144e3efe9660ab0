// SPDX-License-Identifier: GPL-2.0-or-later
#include <remote/RequestFields.hpp>

#include <canvas/CanvasManager.hpp>

#include <cmath>

namespace stilwane {

namespace {

void releaseItem(obs_data_item_t *item)
{
	obs_data_item_release(&item);
}
using DataItem = OBSPtr<obs_data_item_t *, releaseItem>;

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

} // namespace

RequestFields::Presence RequestFields::readString(const char *field, QString *out) const
{
	DataItem item = fieldItem(request, field);
	if (!item)
		return Presence::Missing;
	if (obs_data_item_gettype(item) != OBS_DATA_STRING)
		return Presence::WrongType;
	*out = QString::fromUtf8(obs_data_item_get_string(item));
	return Presence::Present;
}

bool RequestFields::isNull(const char *field) const
{
	obs_data_item_t *item = obs_data_item_byname(request, field);
	if (!item)
		return false;
	bool null = false;
	if (obs_data_item_gettype(item) == OBS_DATA_OBJECT) {
		OBSDataAutoRelease object = obs_data_item_get_obj(item);
		null = !object;
	}
	obs_data_item_release(&item);
	return null;
}

RequestFields::Presence RequestFields::readStringOrNull(const char *field, QString *out) const
{
	if (isNull(field)) {
		out->clear();
		return Presence::Present;
	}
	return readString(field, out);
}

RequestFields::Presence RequestFields::readInteger(const char *field, long long *out) const
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

RequestFields::Presence RequestFields::readBool(const char *field, bool *out) const
{
	DataItem item = fieldItem(request, field);
	if (!item)
		return Presence::Missing;
	if (obs_data_item_gettype(item) != OBS_DATA_BOOLEAN)
		return Presence::WrongType;
	*out = obs_data_item_get_bool(item);
	return Presence::Present;
}

RequestFields::Presence RequestFields::readArray(const char *field, OBSDataArrayAutoRelease *out) const
{
	DataItem item = fieldItem(request, field);
	if (!item)
		return Presence::Missing;
	if (obs_data_item_gettype(item) != OBS_DATA_ARRAY)
		return Presence::WrongType;
	*out = obs_data_item_get_array(item);
	return Presence::Present;
}

Result RequestFields::requireName(const char *field, QString *out) const
{
	switch (readString(field, out)) {
	case Presence::Missing:
		return missing(field);
	case Presence::WrongType:
		return wrongType(field, "a string");
	case Presence::Present:
		break;
	}
	if (out->isEmpty())
		return Result::plain(Result::RequestFieldEmpty, "field " + quoted(field) + " must not be empty");
	return Result();
}

Result RequestFields::requireInteger(const char *field, long long *out) const
{
	switch (readInteger(field, out)) {
	case Presence::Missing:
		return missing(field);
	case Presence::WrongType:
		return wrongType(field, "an integer");
	case Presence::Present:
		break;
	}
	return Result();
}

Result RequestFields::missing(const char *field)
{
	return Result::plain(Result::MissingRequestField, "missing field " + quoted(field));
}

Result RequestFields::wrongType(const char *field, const char *type)
{
	return Result::plain(Result::InvalidRequestFieldType, "field " + quoted(field) + " must be " + type);
}

QString RequestFields::quoted(const char *field)
{
	return QString("'%1'").arg(QString::fromUtf8(field));
}

using Presence = RequestFields::Presence;

// A scene named by uuid or by name (the uuid wins when both are given, as in obs-websocket). Returns
// a new reference, or null with the refusal.
obs_source_t *resolveScene(obs_data_t *request, const char *uuidField, const char *nameField, const char *what,
			   const SceneLookup &lookup, Result *error)
{
	QString uuid, name;
	const RequestFields fields(request);
	Presence hasUuid = fields.readString(uuidField, &uuid);
	Presence hasName = fields.readString(nameField, &name);
	if (hasUuid == Presence::WrongType || hasName == Presence::WrongType) {
		*error = RequestFields::wrongType(hasUuid == Presence::WrongType ? uuidField : nameField, "a string");
		return nullptr;
	}
	obs_source_t *scene = nullptr;
	if (!uuid.isEmpty()) {
		scene = lookup(uuid, QString());
		if (!scene)
			*error = Result::plain(Result::ResourceNotFound,
					       QString("no %1 with the uuid '%2'").arg(what, uuid));
	} else if (!name.isEmpty()) {
		scene = lookup(QString(), name);
		if (!scene)
			*error = Result::plain(Result::ResourceNotFound, QString("no %1 named '%2'").arg(what, name));
	} else {
		*error =
			Result::plain(Result::MissingRequestField, "missing field " + RequestFields::quoted(uuidField) +
									   " or " + RequestFields::quoted(nameField));
	}
	return scene;
}

obs_source_t *resolveVerticalScene(obs_data_t *request, Result *error)
{
	CanvasManager *manager = CanvasManager::instance();
	return resolveScene(
		request, "sceneUuid", "sceneName", "vertical scene",
		[manager](const QString &uuid, const QString &name) {
			return uuid.isEmpty() ? manager->findSceneByName(name) : manager->findSceneByUuid(uuid);
		},
		error);
}

} // namespace stilwane
