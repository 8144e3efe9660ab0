// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <common/Result.hpp>

#include <QString>

#include <functional>

#include <obs.hpp>

namespace stilwane {

// The fields of one vendor request as obs-websocket hands it over, its JSON turned into obs_data, read
// by JSON's types. The refusals of missing or mistyped fields are English, for the client, with
// obs-websocket's codes.
class RequestFields {
public:
	enum class Presence { Missing, Present, WrongType };

	explicit RequestFields(obs_data_t *request) : request(request) {}

	Presence readString(const char *field, QString *out) const;
	// JSON has one number type: 3.0 is accepted as 3, 2.5 is not an integer.
	Presence readInteger(const char *field, long long *out) const;
	Presence readBool(const char *field, bool *out) const;
	Presence readArray(const char *field, OBSDataArrayAutoRelease *out) const;
	// A JSON null counts as present, with an empty text: obs-websocket's way of clearing a value.
	Presence readStringOrNull(const char *field, QString *out) const;
	bool isNull(const char *field) const;

	// A non-empty string the request must have.
	Result requireName(const char *field, QString *out) const;
	Result requireInteger(const char *field, long long *out) const;

	static Result missing(const char *field);
	// type in words: "a string", "an integer".
	static Result wrongType(const char *field, const char *type);
	static QString quoted(const char *field);

private:
	obs_data_t *request;
};

using SceneLookup = std::function<obs_source_t *(const QString &uuid, const QString &name)>;

// A scene named by uuid or by name (the uuid wins when both are given, as in obs-websocket). Returns
// a new reference, or null with the refusal; what names the kind of scene in the refusal.
obs_source_t *resolveScene(obs_data_t *request, const char *uuidField, const char *nameField, const char *what,
			   const SceneLookup &lookup, Result *error);
// The vertical scene named by "sceneUuid" or "sceneName", a new reference, or null with the refusal.
obs_source_t *resolveVerticalScene(obs_data_t *request, Result *error);

// A scene item's transform as obs-websocket 5's GetSceneItemTransform answers it, a new object (in
// RemoteControl_WebSocket5.cpp).
obs_data_t *sceneItemTransformObject(obs_sceneitem_t *item);
// Adds the fields obs-websocket 5's GetSceneItemList gives an item to entry; index counts from the bottom.
void setWebSocket5ItemFields(obs_data_t *entry, obs_sceneitem_t *item, long long index);

} // namespace stilwane
