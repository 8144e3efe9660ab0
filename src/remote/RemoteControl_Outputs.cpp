// SPDX-License-Identifier: GPL-2.0-or-later
#include <remote/RemoteControl.hpp>
#include <common/Limits.hpp>

#include <output/VerticalOutput.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Destinations.hpp>

#include <algorithm>
#include <cmath>

namespace stilwane {

// The outputs are driven directly rather than through the output dock: a controller must work also
// when the dock was never built. The refusals say what the dock's warning boxes say, in English.

namespace {

// obs-websocket hands everything to any client: no text leaves through the vendor with the stream key
// in it, whether quoted by a libobs error or part of a folder name.
QString withoutKey(const QString &text)
{
	return VerticalOutput::instance()->withoutStreamKey(text);
}

// The failure as the reason in the sentence of messageKey, with its code.
Result refusal(const char *messageKey, const Result &reason)
{
	return Result::plain(reason.code(), withoutKey(reason.within(messageKey).englishText()));
}

void setState(obs_data_t *data, int state, const char *stateName)
{
	obs_data_set_int(data, "state", state);
	obs_data_set_string(data, "stateName", stateName);
}

void setStreamState(obs_data_t *data)
{
	int state = VerticalOutput::instance()->streamState();
	setState(data, state, VerticalOutput::streamStateName(state));
}

void setRecordingState(obs_data_t *data)
{
	int state = VerticalOutput::instance()->recordingState();
	setState(data, state, VerticalOutput::fileStateName(state));
}

void setReplayState(obs_data_t *data)
{
	int state = VerticalOutput::instance()->replayState();
	setState(data, state, VerticalOutput::fileStateName(state));
}

void setPath(obs_data_t *data, const char *field, const QString &path)
{
	obs_data_set_string(data, field, withoutKey(path).toUtf8().constData());
}

// One destination's figures, as "stream" has always had them for the one destination there was.
void setStreamFigures(obs_data_t *data, const VerticalOutput::DestinationStatus &status)
{
	setState(data, status.state, VerticalOutput::streamStateName(status.state));
	obs_data_set_int(data, "elapsedMs", status.elapsedMs);
	obs_data_set_int(data, "droppedFrames", (long long)status.framesDropped);
	obs_data_set_int(data, "totalFrames", (long long)status.totalFrames);
	obs_data_set_int(data, "bytes", (long long)status.totalBytes);
	obs_data_set_int(data, "kbps", (long long)status.kbps);
	obs_data_set_string(data, "lastError", withoutKey(status.error.englishText()).toUtf8().constData());
}

// Extra destinations configured: then each destination's changes are events of their own.
bool hasExtraDestinations()
{
	return !config().destinations.empty();
}

} // namespace

Result RemoteControl::getOutputStatus(obs_data_t *, obs_data_t *response)
{
	VerticalOutput *output = VerticalOutput::instance();

	// "stream" is the first destination, which it was before there were others.
	const QList<VerticalOutput::DestinationStatus> statuses = output->destinationStatuses();
	OBSDataAutoRelease stream = obs_data_create();
	setStreamFigures(stream, statuses.value(0));
	obs_data_set_obj(response, "stream", stream);

	OBSDataArrayAutoRelease destinations = obs_data_array_create();
	for (const VerticalOutput::DestinationStatus &status : statuses) {
		OBSDataAutoRelease entry = obs_data_create();
		obs_data_set_string(entry, "name", withoutKey(status.name).toUtf8().constData());
		obs_data_set_bool(entry, "first", status.first);
		obs_data_set_bool(entry, "enabled", status.enabled);
		setStreamFigures(entry, status);
		// libobs reports NaN before its first measurement; JSON has no NaN.
		obs_data_set_double(entry, "congestion", std::isfinite(status.congestion) ? status.congestion : 0.0);
		obs_data_array_push_back(destinations, entry);
	}
	obs_data_set_array(response, "destinations", destinations);

	OBSDataAutoRelease recording = obs_data_create();
	setRecordingState(recording);
	obs_data_set_int(recording, "elapsedMs", output->recordingElapsedMs());
	setPath(recording, "lastPath", output->lastRecordingPath());
	obs_data_set_obj(response, "recording", recording);

	OBSDataAutoRelease replay = obs_data_create();
	setReplayState(replay);
	// What the next start keeps, the same clamp the replay output applies.
	obs_data_set_int(replay, "replaySeconds",
			 std::clamp<int>(config().replaySeconds, kMinReplaySeconds, kMaxReplaySeconds));
	setPath(replay, "lastPath", output->lastReplayPath());
	obs_data_set_obj(response, "replayBuffer", replay);
	return Result();
}

Result RemoteControl::startStream(obs_data_t *, obs_data_t *response)
{
	VerticalOutput *output = VerticalOutput::instance();
	// Checked here as the dock does: without a key there is nothing to start and nothing to tear down.
	if (!output->hasStreamKey())
		return refusal("Output.StartFailed",
			       Result::translated(Result::RequestProcessingFailed, "Output.NoKey"));
	if (const Result started = output->startStream(); !started)
		return refusal("Output.StartFailed", started);
	setStreamState(response);
	return Result();
}

Result RemoteControl::stopStream(obs_data_t *, obs_data_t *response)
{
	VerticalOutput *output = VerticalOutput::instance();
	if (output->streamState() != VerticalOutput::StreamIdle)
		output->stopStream(false);
	setStreamState(response);
	return Result();
}

Result RemoteControl::startRecord(obs_data_t *, obs_data_t *response)
{
	if (const Result started = VerticalOutput::instance()->startRecording(); !started)
		return refusal("Output.Record.StartFailed", started);
	setRecordingState(response);
	return Result();
}

Result RemoteControl::stopRecord(obs_data_t *, obs_data_t *response)
{
	VerticalOutput *output = VerticalOutput::instance();
	if (output->recordingState() != VerticalOutput::FileIdle)
		output->stopRecording(false);
	setRecordingState(response);
	return Result();
}

Result RemoteControl::startReplayBuffer(obs_data_t *, obs_data_t *response)
{
	if (const Result started = VerticalOutput::instance()->startReplayBuffer(); !started)
		return refusal("Output.Replay.StartFailed", started);
	setReplayState(response);
	return Result();
}

Result RemoteControl::stopReplayBuffer(obs_data_t *, obs_data_t *response)
{
	VerticalOutput *output = VerticalOutput::instance();
	if (output->replayState() != VerticalOutput::FileIdle)
		output->stopReplayBuffer(false);
	setReplayState(response);
	return Result();
}

// The saved file is announced by the FileSaved event once the replay buffer has written it.
Result RemoteControl::saveReplayBuffer(obs_data_t *, obs_data_t *)
{
	VerticalOutput *output = VerticalOutput::instance();
	if (output->replayState() != VerticalOutput::FileActive)
		return refusal("Output.Replay.SaveFailed",
			       Result::translated(Result::OutputNotRunning, "Output.File.ReplayInactive"));
	if (const Result saved = output->saveReplay(); !saved)
		return refusal("Output.Replay.SaveFailed", saved);
	return Result();
}

// ---- events

void RemoteControl::connectOutputSignals()
{
	VerticalOutput *output = VerticalOutput::instance();
	// With one destination its changes are the aggregate's, which then names it; with several the
	// aggregate names none and each destination's change is an event of its own.
	connect(output, &VerticalOutput::stateChanged, this, [this](int state) {
		emitOutputState("stream", state, VerticalOutput::streamStateName(state),
				hasExtraDestinations() ? QString() : firstDestinationName(config()));
	});
	connect(output, &VerticalOutput::destinationStateChanged, this, [this](const QString &name, int state) {
		if (hasExtraDestinations())
			emitOutputState("stream", state, VerticalOutput::streamStateName(state), name);
	});
	connect(output, &VerticalOutput::recordingStateChanged, this,
		[this](int state) { emitOutputState("recording", state, VerticalOutput::fileStateName(state)); });
	connect(output, &VerticalOutput::replayStateChanged, this,
		[this](int state) { emitOutputState("replayBuffer", state, VerticalOutput::fileStateName(state)); });
	connect(output, &VerticalOutput::recordingSaved, this,
		[this](const QString &path) { emitFileSaved("recording", path); });
	connect(output, &VerticalOutput::replaySaved, this,
		[this](const QString &path) { emitFileSaved("replayBuffer", path); });
	// The reason in English, as every refusal.
	connect(output, &VerticalOutput::replaySaveFailed, this, [this, output] {
		emitFileSaved("replayBuffer", QString(), output->lastReplaySaveFailure().englishText());
	});
}

void RemoteControl::emitOutputState(const char *output, int state, const char *stateName, const QString &destination)
{
	OBSDataAutoRelease data = obs_data_create();
	obs_data_set_string(data, "output", output);
	if (!destination.isEmpty())
		obs_data_set_string(data, "destination", withoutKey(destination).toUtf8().constData());
	setState(data, state, stateName);
	emitEvent("OutputStateChanged", data);
}

void RemoteControl::emitFileSaved(const char *output, const QString &path, const QString &error)
{
	OBSDataAutoRelease data = obs_data_create();
	obs_data_set_string(data, "output", output);
	setPath(data, "path", path);
	if (!error.isEmpty())
		obs_data_set_string(data, "error", withoutKey(error).toUtf8().constData());
	emitEvent("FileSaved", data);
}

} // namespace stilwane
