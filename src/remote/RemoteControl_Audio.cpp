// SPDX-License-Identifier: GPL-2.0-or-later
#include <remote/RemoteControl.hpp>
#include <remote/RequestFields.hpp>

#include <audio/VerticalVolumeManager.hpp>
#include <common/ConfigRecord.hpp>
#include <common/MainOutputProbe.hpp>
#include <common/Module.hpp>
#include <docks/AudioActions.hpp>
#include <docks/AudioSourceActions.hpp>

#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace stilwane {

// The vertical audio as the audio dock shows it, computed afresh for every request so that it answers
// whether the dock was ever shown. The per-source changes go through AudioSourceActions, as the dock's.

namespace {

using Presence = RequestFields::Presence;

// obs-websocket's own limits for an input's volume.
constexpr double kMinVolumeDb = -100.0;
constexpr double kMaxVolumeDb = 26.0;
constexpr double kMaxVolumeMul = 20.0;

bool profileChanging()
{
	return VerticalVolumeManager::instance()->isProfileChanging();
}

// JSON has no infinity: silence is reported as obs-websocket's lowest volume.
double volumeDb(float mul)
{
	return mul > 0.0f ? std::max(double(obs_mul_to_db(mul)), kMinVolumeDb) : kMinVolumeDb;
}

void setSourceFields(obs_data_t *data, const AudioSourceState &state)
{
	obs_data_set_string(data, "sourceUuid", obs_source_get_uuid(state.source));
	obs_data_set_string(data, "sourceName", obs_source_get_name(state.source));
	obs_data_set_bool(data, "shared", state.shared);
	obs_data_set_bool(data, "onVertical", state.onVertical);
	obs_data_set_bool(data, "separate", state.separate);
	obs_data_set_double(data, "inputVolumeDb", volumeDb(state.volumeMul));
	obs_data_set_double(data, "inputVolumeMul", double(state.volumeMul));
	obs_data_set_bool(data, "inputMuted", state.muted);
	obs_data_set_int(data, "separateStatus", state.separateStatus);
	obs_data_set_string(
		data, "separateStatusText",
		translateEnglish(AudioSourceActions::separateStatusKey(state.separateStatus)).toUtf8().constData());
}

// An audio source of the vertical scenes named by sourceUuid or sourceName, or by obs-websocket 5's
// inputUuid or inputName (a uuid wins).
Result resolveSource(obs_data_t *request, AudioSourceState *out)
{
	QString uuid, name;
	const RequestFields fields(request);
	for (const char *field : {"sourceUuid", "inputUuid", "sourceName", "inputName"}) {
		QString value;
		const bool isUuid = QByteArray(field).endsWith("Uuid");
		if (fields.readString(field, &value) == Presence::WrongType)
			return RequestFields::wrongType(field, "a string");
		QString &target = isUuid ? uuid : name;
		if (target.isEmpty())
			target = value;
	}
	if (uuid.isEmpty() && name.isEmpty())
		return Result::plain(Result::MissingRequestField,
				     "missing field 'sourceUuid' or 'sourceName' (or 'inputUuid' or 'inputName')");
	const bool byUuid = !uuid.isEmpty();
	for (const AudioSourceState &state : AudioSourceActions::listSources(probeMainOutputs(), profileChanging())) {
		const char *key = byUuid ? obs_source_get_uuid(state.source) : obs_source_get_name(state.source);
		if (QString::fromUtf8(key) == (byUuid ? uuid : name)) {
			*out = state;
			return Result();
		}
	}
	return Result::plain(Result::ResourceNotFound,
			     byUuid ? QString("no audio source of the vertical scenes with the uuid '%1'").arg(uuid)
				    : QString("no audio source of the vertical scenes named '%1'").arg(name));
}

Result requireBool(obs_data_t *request, const char *field, bool *out)
{
	switch (RequestFields(request).readBool(field, out)) {
	case Presence::Missing:
		return RequestFields::missing(field);
	case Presence::WrongType:
		return RequestFields::wrongType(field, "a boolean");
	case Presence::Present:
		break;
	}
	return Result();
}

// A JSON number; null counts as missing, as for the other fields.
Presence readNumber(obs_data_t *request, const char *field, double *out)
{
	obs_data_item_t *item = obs_data_item_byname(request, field);
	if (!item)
		return Presence::Missing;
	Presence presence = Presence::WrongType;
	if (obs_data_item_gettype(item) == OBS_DATA_NUMBER) {
		*out = obs_data_item_get_double(item);
		presence = Presence::Present;
	} else if (obs_data_item_gettype(item) == OBS_DATA_OBJECT) {
		OBSDataAutoRelease object = obs_data_item_get_obj(item);
		if (!object)
			presence = Presence::Missing;
	}
	obs_data_item_release(&item);
	return presence;
}

// The source as it is now, into the response.
void answerSource(obs_data_t *response, obs_source_t *source, bool shared)
{
	setSourceFields(response, AudioSourceActions::stateOf(source, shared, probeMainOutputs(), profileChanging()));
}

} // namespace

Result RemoteControl::getAudioSources(obs_data_t *, obs_data_t *response)
{
	OBSDataArrayAutoRelease sources = obs_data_array_create();
	for (const AudioSourceState &state : AudioSourceActions::listSources(probeMainOutputs(), profileChanging())) {
		OBSDataAutoRelease entry = obs_data_create();
		setSourceFields(entry, state);
		obs_data_array_push_back(sources, entry);
	}
	obs_data_set_array(response, "sources", sources);
	obs_data_set_int(response, "audioTrack", AudioSourceActions::verticalTrack());
	obs_data_set_bool(response, "mixAudio", config().mixAudio);
	return Result();
}

Result RemoteControl::setSourceVertical(obs_data_t *request, obs_data_t *response)
{
	AudioSourceState state;
	if (Result error = resolveSource(request, &state); !error)
		return error;
	bool on = false;
	if (Result error = requireBool(request, "onVertical", &on); !error)
		return error;
	if (Result done = AudioSourceActions::instance()->setOnVertical(state.source, on); !done)
		return done;
	answerSource(response, state.source, state.shared);
	return Result();
}

Result RemoteControl::setSourceSeparate(obs_data_t *request, obs_data_t *response)
{
	AudioSourceState state;
	if (Result error = resolveSource(request, &state); !error)
		return error;
	bool separate = false;
	if (Result error = requireBool(request, "separate", &separate); !error)
		return error;
	const MainOutputTracks probe = probeMainOutputs();
	const Result done = AudioSourceActions::instance()->setSeparate(state.source, separate, state.shared, probe,
									profileChanging());
	if (!done)
		return Result::plain(done.code(), QString("no separate vertical volume for '%1': %2")
							  .arg(QString::fromUtf8(obs_source_get_name(state.source)),
							       done.englishText()));
	answerSource(response, state.source, state.shared);
	return Result();
}

Result RemoteControl::setSourceVerticalVolume(obs_data_t *request, obs_data_t *response)
{
	AudioSourceState state;
	if (Result error = resolveSource(request, &state); !error)
		return error;

	double db = 0.0, mul = 0.0;
	bool muted = false;
	const Presence hasDb = readNumber(request, "inputVolumeDb", &db);
	const Presence hasMul = readNumber(request, "inputVolumeMul", &mul);
	const Presence hasMuted = RequestFields(request).readBool("inputMuted", &muted);
	if (hasDb == Presence::WrongType)
		return RequestFields::wrongType("inputVolumeDb", "a number");
	if (hasMul == Presence::WrongType)
		return RequestFields::wrongType("inputVolumeMul", "a number");
	if (hasMuted == Presence::WrongType)
		return RequestFields::wrongType("inputMuted", "a boolean");
	if (hasDb == Presence::Present && hasMul == Presence::Present)
		return Result::plain(Result::InvalidRequestField,
				     "give either 'inputVolumeDb' or 'inputVolumeMul', not both");
	if (hasDb == Presence::Missing && hasMul == Presence::Missing && hasMuted == Presence::Missing)
		return Result::plain(Result::MissingRequestField,
				     "missing field 'inputVolumeDb', 'inputVolumeMul' or 'inputMuted'");
	if (hasDb == Presence::Present && !(db >= kMinVolumeDb && db <= kMaxVolumeDb))
		return Result::plain(
			Result::RequestFieldOutOfRange,
			QString("field 'inputVolumeDb' must be between %1 and %2").arg(kMinVolumeDb).arg(kMaxVolumeDb));
	if (hasMul == Presence::Present && !(mul >= 0.0 && mul <= kMaxVolumeMul))
		return Result::plain(Result::RequestFieldOutOfRange,
				     QString("field 'inputVolumeMul' must be between 0 and %1").arg(kMaxVolumeMul));

	AudioSourceActions *actions = AudioSourceActions::instance();
	if (hasDb == Presence::Present)
		mul = db <= kMinVolumeDb ? 0.0 : double(obs_db_to_mul(float(db)));
	if (hasDb == Presence::Present || hasMul == Presence::Present) {
		if (Result done = actions->setVolumeMul(state.source, float(mul)); !done)
			return done;
	}
	if (hasMuted == Presence::Present) {
		if (Result done = actions->setMuted(state.source, muted); !done)
			return done;
	}
	answerSource(response, state.source, state.shared);
	return Result();
}

// obs-websocket 5's input requests, on the volume and mute the vertical track hears.
Result RemoteControl::getInputVolume(obs_data_t *request, obs_data_t *response)
{
	AudioSourceState state;
	if (Result error = resolveSource(request, &state); !error)
		return error;
	obs_data_set_double(response, "inputVolumeMul", double(state.volumeMul));
	obs_data_set_double(response, "inputVolumeDb", volumeDb(state.volumeMul));
	return Result();
}

Result RemoteControl::getInputMute(obs_data_t *request, obs_data_t *response)
{
	AudioSourceState state;
	if (Result error = resolveSource(request, &state); !error)
		return error;
	obs_data_set_bool(response, "inputMuted", state.muted);
	return Result();
}

Result RemoteControl::setInputMute(obs_data_t *request, obs_data_t *)
{
	AudioSourceState state;
	if (Result error = resolveSource(request, &state); !error)
		return error;
	bool muted = false;
	if (Result error = requireBool(request, "inputMuted", &muted); !error)
		return error;
	return AudioSourceActions::instance()->setMuted(state.source, muted);
}

Result RemoteControl::toggleInputMute(obs_data_t *request, obs_data_t *response)
{
	AudioSourceState state;
	if (Result error = resolveSource(request, &state); !error)
		return error;
	if (Result done = AudioSourceActions::instance()->setMuted(state.source, !state.muted); !done)
		return done;
	obs_data_set_bool(response, "inputMuted", !state.muted);
	return Result();
}

Result RemoteControl::splitAudioTrack(obs_data_t *, obs_data_t *response)
{
	if (Result done = AudioActions::splitTrack(nullptr); !done)
		return done;
	obs_data_set_int(response, "audioTrack", AudioSourceActions::verticalTrack());
	return Result();
}

Result RemoteControl::enableAudioMix(obs_data_t *, obs_data_t *response)
{
	if (Result done = AudioActions::enableMix(nullptr); !done)
		return done;
	obs_data_set_bool(response, "mixAudio", config().mixAudio);
	return Result();
}

// ---- events

void RemoteControl::connectAudioSignals()
{
	connect(AudioSourceActions::instance(), &AudioSourceActions::changed, this, &RemoteControl::noteAudioChange);
}

void RemoteControl::noteAudioChange(const QString &sourceUuid)
{
	if (sourceUuid.isEmpty() || (audioChangePending && audioChangeSource != sourceUuid))
		audioChangeAll = true;
	audioChangeSource = sourceUuid;
	audioChangePending = true;
	if (audioFlushQueued)
		return;
	audioFlushQueued = true;
	const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
				    std::chrono::steady_clock::now().time_since_epoch())
				    .count();
	const int64_t wait = lastAudioEventMs < 0 ? 0
						  : std::max<int64_t>(0, lastAudioEventMs + kAudioEventSpacingMs - now);
	QTimer::singleShot(int(wait), this, &RemoteControl::flushAudioChange);
}

void RemoteControl::flushAudioChange()
{
	audioFlushQueued = false;
	if (!audioChangePending)
		return;
	lastAudioEventMs = std::chrono::duration_cast<std::chrono::milliseconds>(
				   std::chrono::steady_clock::now().time_since_epoch())
				   .count();
	OBSDataAutoRelease data = obs_data_create();
	if (!audioChangeAll)
		obs_data_set_string(data, "sourceUuid", audioChangeSource.toUtf8().constData());
	audioChangePending = false;
	audioChangeAll = false;
	audioChangeSource.clear();
	emitEvent("AudioChanged", data);
}

} // namespace stilwane
