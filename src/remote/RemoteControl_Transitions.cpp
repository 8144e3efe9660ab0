// SPDX-License-Identifier: GPL-2.0-or-later
#include <remote/RemoteControl.hpp>
#include <remote/RequestFields.hpp>

#include <canvas/CanvasManager.hpp>
#include <docks/TransitionsDock.hpp>

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

} // namespace stilwane
