// SPDX-License-Identifier: GPL-2.0-or-later
#include <remote/RemoteControl.hpp>
#include <remote/RequestFields.hpp>

#include <canvas/CanvasManager.hpp>
#include <common/Limits.hpp>
#include <docks/TransitionsDock.hpp>

#include <algorithm>

namespace stilwane {

// What the transitions tab does, without its questions: the refusals say in English what the tab
// would only show as one warning, with obs-websocket's code for each.

namespace {

using Presence = RequestFields::Presence;

bool isTransitionKind(const QString &kind)
{
	const QByteArray wanted = kind.toUtf8();
	const char *id = nullptr;
	for (size_t i = 0; obs_enum_transition_types(i, &id); i++)
		if (wanted == id)
			return true;
	return false;
}

const TransitionInfo *findByName(const QVector<TransitionInfo> &list, const QString &name)
{
	for (const TransitionInfo &info : list)
		if (info.name == name)
			return &info;
	return nullptr;
}

// The vertical transition the request names by "transitionUuid" or "transitionName" (the uuid wins
// when both are given, as in obs-websocket), or the refusal.
Result resolveTransition(obs_data_t *request, TransitionInfo *out)
{
	QString uuid, name;
	const RequestFields fields(request);
	const Presence hasUuid = fields.readString("transitionUuid", &uuid);
	const Presence hasName = fields.readString("transitionName", &name);
	if (hasUuid == Presence::WrongType)
		return RequestFields::wrongType("transitionUuid", "a string");
	if (hasName == Presence::WrongType)
		return RequestFields::wrongType("transitionName", "a string");
	if (uuid.isEmpty() && name.isEmpty())
		return Result::plain(Result::MissingRequestField,
				     "missing field " + RequestFields::quoted("transitionUuid") + " or " +
					     RequestFields::quoted("transitionName"));
	for (const TransitionInfo &info : CanvasManager::instance()->transitions()) {
		if (uuid.isEmpty() ? info.name == name : info.uuid == uuid) {
			*out = info;
			return Result();
		}
	}
	return Result::plain(Result::ResourceNotFound,
			     uuid.isEmpty() ? QString("no vertical transition named '%1'").arg(name)
					    : QString("no vertical transition with the uuid '%1'").arg(uuid));
}

Result nameTaken(const QString &name)
{
	return Result::plain(Result::ResourceAlreadyExists,
			     QString("a vertical transition named '%1' already exists").arg(name));
}

void setTransitionFields(obs_data_t *response, const TransitionInfo &info)
{
	obs_data_set_string(response, "transitionUuid", info.uuid.toUtf8().constData());
	obs_data_set_string(response, "transitionName", info.name.toUtf8().constData());
	obs_data_set_string(response, "transitionKind", info.typeId.toUtf8().constData());
}

} // namespace

// Without "transitionName" the transition is named as the tab proposes: the kind's display name, made
// unique with " 2", " 3", ...
Result RemoteControl::addTransition(obs_data_t *request, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	QString kind;
	if (Result error = RequestFields(request).requireName("transitionKind", &kind); !error)
		return error;
	if (!isTransitionKind(kind))
		return Result::plain(
			Result::InvalidRequestField,
			QString("'%1' is not a transition kind of this OBS (GetTransitionKindList lists them)")
				.arg(kind));
	QString name;
	switch (RequestFields(request).readString("transitionName", &name)) {
	case Presence::Missing:
		name = TransitionsDock::proposedName(kind);
		break;
	case Presence::WrongType:
		return RequestFields::wrongType("transitionName", "a string");
	case Presence::Present:
		if (name.isEmpty())
			return Result::plain(Result::RequestFieldEmpty,
					     "field " + RequestFields::quoted("transitionName") + " must not be empty");
		break;
	}
	if (findByName(manager->transitions(), name))
		return nameTaken(name);
	if (!manager->addTransition(kind, name))
		return Result::plain(Result::RequestProcessingFailed,
				     QString("the vertical transition '%1' could not be created").arg(name));
	const TransitionInfo *added = findByName(manager->transitions(), name);
	if (!added)
		return Result::plain(Result::RequestProcessingFailed,
				     QString("the vertical transition '%1' could not be created").arg(name));
	setTransitionFields(response, *added);
	return Result();
}

Result RemoteControl::renameTransition(obs_data_t *request, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	TransitionInfo transition;
	if (Result error = resolveTransition(request, &transition); !error)
		return error;
	QString name;
	if (Result error = RequestFields(request).requireName("newTransitionName", &name); !error)
		return error;
	if (name != transition.name) {
		const TransitionInfo *other = findByName(manager->transitions(), name);
		if (other && other->uuid != transition.uuid)
			return nameTaken(name);
		if (!manager->renameTransition(transition.uuid, name))
			return Result::plain(Result::RequestProcessingFailed,
					     QString("the vertical transition could not be renamed to '%1'").arg(name));
		transition.name = name;
	}
	setTransitionFields(response, transition);
	return Result();
}

Result RemoteControl::removeTransition(obs_data_t *request, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	TransitionInfo transition;
	if (Result error = resolveTransition(request, &transition); !error)
		return error;
	if (transition.builtIn)
		return Result::plain(
			Result::InvalidRequestField,
			QString("the vertical transition '%1' is built in and cannot be removed").arg(transition.name));
	if (!manager->removeTransition(transition.uuid))
		return Result::plain(Result::RequestProcessingFailed,
				     QString("the vertical transition '%1' could not be removed").arg(transition.name));
	// Removing the selected transition selects the fade: the client learns which one is selected now.
	obs_data_set_string(response, "currentTransitionUuid", manager->selectedTransitionUuid().toUtf8().constData());
	return Result();
}

Result RemoteControl::getTransitionList(obs_data_t *, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	OBSDataArrayAutoRelease list = obs_data_array_create();
	for (const TransitionInfo &info : manager->transitions()) {
		OBSDataAutoRelease item = obs_data_create();
		obs_data_set_string(item, "transitionUuid", info.uuid.toUtf8().constData());
		obs_data_set_string(item, "transitionName", info.name.toUtf8().constData());
		obs_data_set_string(item, "transitionKind", info.typeId.toUtf8().constData());
		obs_data_set_bool(item, "builtIn", info.builtIn);
		OBSSourceAutoRelease source = manager->transitionByUuid(info.uuid);
		obs_data_set_bool(item, "transitionFixed", manager->isTransitionFixed(info.uuid));
		obs_data_set_bool(item, "transitionConfigurable", source && obs_source_configurable(source));
		obs_data_array_push_back(list, item);
		if (info.uuid == manager->selectedTransitionUuid()) {
			obs_data_set_string(response, "currentSceneTransitionName", info.name.toUtf8().constData());
			obs_data_set_string(response, "currentSceneTransitionUuid", info.uuid.toUtf8().constData());
			obs_data_set_string(response, "currentSceneTransitionKind", info.typeId.toUtf8().constData());
		}
	}
	obs_data_set_array(response, "transitions", list);
	obs_data_set_string(response, "currentTransitionUuid", manager->selectedTransitionUuid().toUtf8().constData());
	obs_data_set_int(response, "transitionDurationMs", manager->transitionDuration());
	return Result();
}

// By "transitionUuid" or, as obs-websocket 5's SetCurrentSceneTransition, by "transitionName" (the
// uuid wins when both are given).
Result RemoteControl::setCurrentTransition(obs_data_t *request, obs_data_t *)
{
	CanvasManager *manager = CanvasManager::instance();
	const RequestFields fields(request);
	QString uuid, name;
	const Presence hasUuid = fields.readString("transitionUuid", &uuid);
	const Presence hasName = fields.readString("transitionName", &name);
	if (hasUuid == Presence::WrongType)
		return RequestFields::wrongType("transitionUuid", "a string");
	if (hasName == Presence::WrongType)
		return RequestFields::wrongType("transitionName", "a string");
	if (hasUuid == Presence::Missing && hasName == Presence::Missing)
		return Result::plain(Result::MissingRequestField, "missing field 'transitionUuid' or 'transitionName'");
	if (hasUuid == Presence::Present) {
		if (uuid.isEmpty())
			return Result::plain(Result::RequestFieldEmpty, "field 'transitionUuid' must not be empty");
		OBSSourceAutoRelease transition = manager->transitionByUuid(uuid);
		if (!transition)
			return Result::plain(Result::ResourceNotFound,
					     QString("no vertical transition with the uuid '%1'").arg(uuid));
	} else {
		for (const TransitionInfo &info : manager->transitions())
			if (info.name == name)
				uuid = info.uuid;
		if (uuid.isEmpty())
			return Result::plain(Result::ResourceNotFound,
					     QString("no vertical transition named '%1'").arg(name));
	}
	manager->selectTransition(uuid);
	return Result();
}

// "transitionDurationMs": out-of-range durations are clamped to 0..20000 ms like everywhere else in
// the plug-in. obs-websocket 5's "transitionDuration" is refused out of range instead, as
// obs-websocket refuses it. The response says what was applied, under both names.
Result RemoteControl::setTransitionDuration(obs_data_t *request, obs_data_t *response)
{
	CanvasManager *manager = CanvasManager::instance();
	const RequestFields fields(request);
	long long ms = 0;
	const Presence older = fields.readInteger("transitionDurationMs", &ms);
	if (older == Presence::WrongType)
		return RequestFields::wrongType("transitionDurationMs", "an integer");
	if (older == Presence::Present) {
		ms = std::clamp<long long>(ms, 0, kMaxTransitionMs);
	} else {
		switch (fields.readInteger("transitionDuration", &ms)) {
		case Presence::Missing:
			return Result::plain(Result::MissingRequestField,
					     "missing field 'transitionDurationMs' or 'transitionDuration'");
		case Presence::WrongType:
			return RequestFields::wrongType("transitionDuration", "an integer");
		case Presence::Present:
			break;
		}
		if (ms < 0 || ms > kMaxTransitionMs)
			return Result::plain(
				Result::RequestFieldOutOfRange,
				QString("field 'transitionDuration' must be 0 to %1 ms").arg(kMaxTransitionMs));
	}
	manager->setTransitionDuration(int(ms));
	obs_data_set_int(response, "transitionDurationMs", manager->transitionDuration());
	obs_data_set_int(response, "transitionDuration", manager->transitionDuration());
	return Result();
}

} // namespace stilwane
