// SPDX-License-Identifier: GPL-2.0-or-later
#include <remote/RemoteControl.hpp>
#include <remote/RequestFields.hpp>

#include <common/ConfigRecord.hpp>
#include <common/Destinations.hpp>
#include <common/Limits.hpp>
#include <common/Module.hpp>
#include <output/VerticalOutput.hpp>

#include <optional>

namespace stilwane {

// The stream destinations: the first is config.json's "server" and "key", the others its
// "destinations". A change is made on a copy of the configuration, corrected as loading corrects it,
// and only taken over when nothing in it is refused, so that a refused request changes nothing.

namespace {

using Presence = RequestFields::Presence;
using Status = VerticalOutput::DestinationStatus;

// Every configured and started key blotted out, and the key the request brought, which the
// configuration does not hold yet when the request is refused.
QString masked(const QString &text, const QString &requestKey = QString())
{
	QString result = VerticalOutput::instance()->withoutStreamKey(text);
	if (!requestKey.isEmpty())
		result.replace(requestKey, QStringLiteral("********"));
	return result;
}

Result maskedFailure(const Result &result, const QString &requestKey = QString())
{
	if (result)
		return result;
	return Result::plain(result.code(), masked(result.englishText(), requestKey));
}

Result unknownDestination(const QString &name)
{
	return Result::plain(Result::ResourceNotFound, QString("no stream destination named '%1'").arg(name));
}

Result nameTaken(const QString &name)
{
	return Result::plain(Result::ResourceAlreadyExists,
			     QString("a stream destination named '%1' already exists").arg(name));
}

Result emptyField(const char *field)
{
	return Result::plain(Result::RequestFieldEmpty, "field " + RequestFields::quoted(field) + " must not be empty");
}

// A destination's name as the list holds names: trimmed, and not empty.
Result readName(const RequestFields &fields, const char *field, QString *name)
{
	if (Result error = fields.requireName(field, name); !error)
		return error;
	*name = name->trimmed();
	return name->isEmpty() ? emptyField(field) : Result();
}

// What SetDestination asks for; a field left out is nullopt and stays as it is.
struct DestinationChange {
	QString name;
	std::optional<QString> server;
	std::optional<QString> key;
	std::optional<bool> enabled;
	std::optional<QString> newName;
};

Result readOptionalString(const RequestFields &fields, const char *field, bool nullClears, std::optional<QString> *out)
{
	QString text;
	switch (nullClears ? fields.readStringOrNull(field, &text) : fields.readString(field, &text)) {
	case Presence::Missing:
		return Result();
	case Presence::WrongType:
		return RequestFields::wrongType(field, nullClears ? "a string or null" : "a string");
	case Presence::Present:
		break;
	}
	*out = text.trimmed();
	return Result();
}

// The key is read first: every refusal after it keeps it out of its words.
Result readChange(obs_data_t *request, DestinationChange *change)
{
	const RequestFields fields(request);
	if (Result error = readOptionalString(fields, "key", true, &change->key); !error)
		return error;
	if (Result error = readName(fields, "name", &change->name); !error)
		return error;
	if (Result error = readOptionalString(fields, "server", false, &change->server); !error)
		return error;
	if (change->server && change->server->isEmpty())
		return emptyField("server");
	if (fields.isNull("newName"))
		return RequestFields::wrongType("newName", "a string");
	if (Result error = readOptionalString(fields, "newName", false, &change->newName); !error)
		return error;
	if (change->newName && change->newName->isEmpty())
		return emptyField("newName");
	bool enabled = false;
	switch (fields.readBool("enabled", &enabled)) {
	case Presence::Missing:
		break;
	case Presence::WrongType:
		return RequestFields::wrongType("enabled", "a boolean");
	case Presence::Present:
		change->enabled = enabled;
		break;
	}
	return Result();
}

void logCorrections(const std::vector<std::string> &lines)
{
	for (const std::string &line : lines)
		stilwaneLog(LOG_INFO, "stream destinations: %s",
			    masked(QString::fromStdString(line)).toUtf8().constData());
}

bool idle(const Status &status)
{
	return status.state == VerticalOutput::StreamIdle;
}

// Applies the change to next, a copy of the configuration, and says where the destination is in its
// list afterwards.
Result planChange(const DestinationChange &change, ConfigRecord &next, int *index)
{
	const QList<Destination> list = destinationList(next);
	const QList<Status> statuses = VerticalOutput::instance()->destinationStatuses();
	int at = findDestination(next, change.name);

	if (at < 0) {
		if (change.newName)
			return Result::plain(Result::ResourceNotFound,
					     QString("no stream destination named '%1' to rename").arg(change.name));
		if (!change.server)
			return Result::plain(Result::MissingRequestField,
					     "missing field 'server', which a new stream destination needs");
		if (list.size() >= kMaxDestinations)
			return Result::plain(Result::RequestProcessingFailed,
					     QString("there are %1 stream destinations already, the most there can be")
						     .arg(kMaxDestinations));
		if (destinationNameTaken(next, change.name))
			return nameTaken(change.name);
		DestinationRecord record;
		record.name = change.name.toStdString();
		record.server = change.server->toStdString();
		record.key = change.key.value_or(QString()).toStdString();
		record.enabled = change.enabled.value_or(true);
		next.destinations.push_back(record);
		at = int(list.size());
	} else if (list[at].first) {
		if (change.enabled)
			return Result::plain(Result::InvalidRequestField,
					     "field 'enabled' does not apply to the first stream destination: it is "
					     "enabled whenever it has a key");
		if (change.newName && *change.newName != list[at].name)
			return Result::plain(Result::InvalidRequestField,
					     "the first stream destination cannot be renamed: it is named after its "
					     "server");
		if (change.server)
			next.server = change.server->toStdString();
		if (change.key)
			next.key = change.key->toStdString();
	} else {
		DestinationRecord &record = next.destinations[size_t(at - 1)];
		if (change.newName && *change.newName != list[at].name) {
			if (destinationNameTaken(next, *change.newName, at))
				return nameTaken(*change.newName);
			if (!idle(statuses[at]))
				return Result::plain(Result::OutputRunning,
						     QString("the stream destination '%1' is streaming: stop it before "
							     "renaming it")
							     .arg(list[at].name));
			record.name = change.newName->toStdString();
		}
		if (change.server)
			record.server = change.server->toStdString();
		if (change.key)
			record.key = change.key->toStdString();
		if (change.enabled)
			record.enabled = *change.enabled;
	}

	const std::vector<std::string> corrections = correctDestinations(next);
	// The outputs of running destinations are found by their names. The first destination's new server
	// may take the name of another one, which correcting then renames.
	const QList<Destination> after = destinationList(next);
	for (int i = 1; i < list.size() && i < statuses.size(); i++) {
		if (!idle(statuses[i]) && after[i].name != list[i].name)
			return Result::plain(Result::OutputRunning,
					     QString("the stream destination '%1' is streaming and would be renamed to "
						     "'%2': stop it first")
						     .arg(list[i].name, after[i].name));
	}
	logCorrections(corrections);
	*index = at;
	return Result();
}

// GetDestinations' entry for the destination at index of destinationList(), a new object; null outside
// the list.
obs_data_t *destinationObject(int index)
{
	const QList<Destination> list = destinationList(config());
	const QList<Status> statuses = VerticalOutput::instance()->destinationStatuses();
	if (index < 0 || index >= list.size() || index >= statuses.size())
		return nullptr;
	const Destination &d = list[index];
	const Status &status = statuses[index];
	obs_data_t *entry = obs_data_create();
	obs_data_set_string(entry, "name", masked(d.name).toUtf8().constData());
	obs_data_set_string(entry, "server", masked(d.server).toUtf8().constData());
	obs_data_set_bool(entry, "enabled", d.enabled);
	obs_data_set_bool(entry, "first", d.first);
	obs_data_set_bool(entry, "hasKey", status.hasKey);
	obs_data_set_int(entry, "state", status.state);
	obs_data_set_string(entry, "stateName", VerticalOutput::streamStateName(status.state));
	return entry;
}

// Left out for a destination that has left the list while it streamed: obs-websocket would turn a
// null object into {}.
void setDestinationField(obs_data_t *response, int index)
{
	OBSDataAutoRelease entry = destinationObject(index);
	if (entry)
		obs_data_set_obj(response, "destination", entry);
}

} // namespace

Result RemoteControl::getDestinations(obs_data_t *, obs_data_t *response)
{
	OBSDataArrayAutoRelease array = obs_data_array_create();
	const qsizetype count = destinationList(config()).size();
	for (int i = 0; i < count; i++) {
		OBSDataAutoRelease entry = destinationObject(i);
		if (entry)
			obs_data_array_push_back(array, entry);
	}
	obs_data_set_array(response, "destinations", array);
	return Result();
}

Result RemoteControl::setDestination(obs_data_t *request, obs_data_t *response)
{
	DestinationChange change;
	if (Result error = readChange(request, &change); !error)
		return maskedFailure(error, change.key.value_or(QString()));
	ConfigRecord next = config();
	int index = -1;
	if (Result error = planChange(change, next, &index); !error)
		return maskedFailure(error, change.key.value_or(QString()));
	config() = next;
	saveConfig();
	setDestinationField(response, index);
	return Result();
}

Result RemoteControl::removeDestination(obs_data_t *request, obs_data_t *)
{
	QString name;
	if (Result error = readName(RequestFields(request), "name", &name); !error)
		return maskedFailure(error);
	ConfigRecord &c = config();
	const int index = findDestination(c, name);
	if (index < 0)
		return maskedFailure(unknownDestination(name));
	if (index == 0)
		return Result::plain(Result::InvalidRequestField,
				     "the first stream destination cannot be removed: it is the server and key of the "
				     "settings (without a key it is left out of the stream)");
	if (!idle(VerticalOutput::instance()->destinationStatuses().value(index)))
		return maskedFailure(Result::plain(
			Result::OutputRunning,
			QString("the stream destination '%1' is streaming: stop it before removing it").arg(name)));
	c.destinations.erase(c.destinations.begin() + (index - 1));
	logCorrections(correctDestinations(c));
	saveConfig();
	return Result();
}

// A start returns once the output is connecting; OutputStateChanged tells how it went.
Result RemoteControl::startDestination(obs_data_t *request, obs_data_t *response)
{
	QString name;
	if (Result error = readName(RequestFields(request), "name", &name); !error)
		return maskedFailure(error);
	if (const Result started = VerticalOutput::instance()->startDestination(name); !started)
		return maskedFailure(started.within("Output.StartFailed"));
	setDestinationField(response, findDestination(config(), name));
	return Result();
}

Result RemoteControl::stopDestination(obs_data_t *request, obs_data_t *response)
{
	QString name;
	if (Result error = readName(RequestFields(request), "name", &name); !error)
		return maskedFailure(error);
	if (const Result stopped = VerticalOutput::instance()->stopDestination(name); !stopped)
		return maskedFailure(stopped);
	setDestinationField(response, findDestination(config(), name));
	return Result();
}

} // namespace stilwane
