// SPDX-License-Identifier: GPL-2.0-or-later
#include <output/VerticalOutput.hpp>

#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>

#include <QMetaObject>

#include <algorithm>

#include <util/platform.h>

namespace stilwane {

namespace {

std::optional<bool> busyOverride;

// A key pasted from YouTube's page often brings a space or line break along; a key of blanks is no key.
QString trimmedConfigKey()
{
	return QString::fromStdString(config().key).trimmed();
}

} // namespace

VerticalOutput *VerticalOutput::instance()
{
	// Never destroyed: a static object would be torn down after libobs and Qt are gone, and a stop
	// worker still joinable at that point would abort the process.
	static VerticalOutput *const output = new VerticalOutput;
	return output;
}

VerticalOutput::VerticalOutput()
{
	replaySaveWatch.setSingleShot(true);
	replaySaveWatch.setInterval(kReplaySaveWatchMs);
	connect(&replaySaveWatch, &QTimer::timeout, this, [this] {
		if (replaySaveOutstanding)
			failReplaySave(
				Result::translated(Result::RequestProcessingFailed, "Output.Replay.SaveTimeout"));
	});
}

void VerticalOutput::setBusyOverrideForTests(std::optional<bool> busy)
{
	busyOverride = busy;
}

bool VerticalOutput::isAnyOutputBusy() const
{
	if (busyOverride)
		return *busyOverride;
	return stream != StreamIdle || recording.state != FileIdle || replay.state != FileIdle;
}

bool VerticalOutput::hasStreamKey() const
{
	for (const Destination &d : destinationList(config())) {
		if (d.enabled && !d.key.isEmpty())
			return true;
	}
	return false;
}

OBSDataAutoRelease VerticalOutput::serviceSettings()
{
	OBSDataAutoRelease settings = obs_data_create();
	obs_data_set_string(settings, "service", "YouTube - RTMPS");
	obs_data_set_string(settings, "server", QString::fromStdString(config().server).trimmed().toUtf8().constData());
	obs_data_set_string(settings, "key", trimmedConfigKey().toUtf8().constData());
	return settings;
}

QString VerticalOutput::withoutStreamKey(const QString &text) const
{
	QStringList keys;
	for (const auto &s : streams)
		keys << s->startedKeys;
	for (const Destination &d : destinationList(config()))
		keys << d.key;
	// Longest first: a key that holds another must not leave its rest behind.
	std::sort(keys.begin(), keys.end(), [](const QString &a, const QString &b) { return a.size() > b.size(); });
	QString result = text;
	for (const QString &key : keys) {
		if (!key.isEmpty())
			result.replace(key, QStringLiteral("********"));
	}
	return result;
}

void VerticalOutput::stopAll()
{
	stopStream(true);
	stopRecording(true);
	stopReplayBuffer(true);
}

void VerticalOutput::setFileState(OutputKind kind, FileState state)
{
	FileOutputSlot &s = slot(kind);
	if (s.state == state)
		return;
	s.state = state;
	if (kind == KindRecording)
		emit recordingStateChanged(state);
	else
		emit replayStateChanged(state);
}

bool VerticalOutput::isStreamActive() const
{
	for (const auto &s : streams) {
		if (s->output && obs_output_active(s->output))
			return true;
	}
	return false;
}

int64_t VerticalOutput::recordingElapsedMs() const
{
	if (recording.state != FileActive || !recording.startTime)
		return 0;
	const uint64_t now = os_gettime_ns();
	return now > recording.startTime ? int64_t((now - recording.startTime) / 1000000) : 0;
}

int64_t VerticalOutput::streamElapsedMs() const
{
	const StreamSlot *s = leadSlot();
	if (!s || s->state == StreamIdle || !s->liveSince)
		return 0;
	const uint64_t now = os_gettime_ns();
	return now > s->liveSince ? int64_t((now - s->liveSince) / 1000000) : 0;
}

uint64_t VerticalOutput::framesDropped() const
{
	const StreamSlot *s = leadSlot();
	return s ? uint64_t(std::max(0, obs_output_get_frames_dropped(s->output))) : 0;
}

uint64_t VerticalOutput::totalFrames() const
{
	const StreamSlot *s = leadSlot();
	return s ? uint64_t(std::max(0, obs_output_get_total_frames(s->output))) : 0;
}

uint64_t VerticalOutput::totalBytes() const
{
	const StreamSlot *s = leadSlot();
	return s ? obs_output_get_total_bytes(s->output) : 0;
}

uint64_t VerticalOutput::generation(OutputKind kind) const
{
	switch (kind) {
	case KindStream: {
		const StreamSlot *s = leadSlot();
		return s ? s->generation : streamGeneration;
	}
	case KindRecording:
		return recording.generation;
	case KindReplay:
		return replay.generation;
	}
	return 0;
}

const char *VerticalOutput::streamStateName(int state)
{
	switch (state) {
	case StreamConnecting:
		return "Connecting";
	case StreamLive:
		return "Live";
	case StreamReconnecting:
		return "Reconnecting";
	case StreamStopping:
		return "Stopping";
	default:
		return "Idle";
	}
}

const char *VerticalOutput::fileStateName(int state)
{
	switch (state) {
	case FileStarting:
		return "Starting";
	case FileActive:
		return "Active";
	case FileStopping:
		return "Stopping";
	default:
		return "Idle";
	}
}

// ---- libobs reports

void VerticalOutput::applyReport(const Report &report)
{
	if (report.kind == KindStream) {
		applyStreamReport(report);
		return;
	}
	const FileOutputSlot &s = slot(report.kind);
	if (!s.output || report.generation != s.generation)
		return;
	applyFileReport(report);
}

void VerticalOutput::postReport(void *data, ReportType type, uint64_t time, int code, const QString &error)
{
	const auto *context = static_cast<const OutputCallbackContext *>(data);
	Report report;
	report.kind = context->kind;
	report.generation = context->generation;
	report.type = type;
	report.time = time;
	report.code = code;
	report.error = error;
	VerticalOutput *owner = context->owner;
	QMetaObject::invokeMethod(owner, [owner, report] { owner->applyReport(report); }, Qt::QueuedConnection);
}

void VerticalOutput::onStart(void *data, calldata_t *)
{
	auto *context = static_cast<OutputCallbackContext *>(data);
	context->connected = true;
	context->attemptEnded = true;
	postReport(data, ReportStart, os_gettime_ns());
}

void VerticalOutput::onReconnectSuccess(void *data, calldata_t *)
{
	auto *context = static_cast<OutputCallbackContext *>(data);
	context->connected = true;
	context->attemptEnded = true;
	postReport(data, ReportStart, os_gettime_ns());
}

void VerticalOutput::onStop(void *data, calldata_t *cd)
{
	auto *context = static_cast<OutputCallbackContext *>(data);
	context->connected = false;
	context->attemptEnded = true;
	const char *lastError = nullptr;
	calldata_get_string(cd, "last_error", &lastError);
	postReport(data, ReportStop, 0, int(calldata_int(cd, "code")),
		   lastError ? QString::fromUtf8(lastError) : QString());
}

void VerticalOutput::onStarting(void *data, calldata_t *)
{
	postReport(data, ReportStarting);
}

void VerticalOutput::onStopping(void *data, calldata_t *)
{
	postReport(data, ReportStopping);
}

void VerticalOutput::onReconnect(void *data, calldata_t *)
{
	postReport(data, ReportReconnecting);
}

void VerticalOutput::connectOutputSignals(obs_output_t *output, OutputCallbackContext *context)
{
	signal_handler_t *handler = obs_output_get_signal_handler(output);
	auto &connections = context->connections;
	connections.emplace_back(handler, "start", onStart, context);
	connections.emplace_back(handler, "stop", onStop, context);
	connections.emplace_back(handler, "starting", onStarting, context);
	connections.emplace_back(handler, "stopping", onStopping, context);
	if (context->kind == KindStream) {
		connections.emplace_back(handler, "reconnect", onReconnect, context);
		connections.emplace_back(handler, "reconnect_success", onReconnectSuccess, context);
	}
	// OBSSignal holds a reference on the handler: the replay buffer may still finish a save, and signal
	// it, while the output is being destroyed, after the slot has let go of it.
	if (context->kind == KindReplay)
		context->saved.Connect(handler, "saved", onReplaySaved, context);
}

// All but the replay buffer's "saved", which goes with the context after the release. Once this returns
// no handler of these runs any more: libobs calls handlers under the signal's lock.
void VerticalOutput::disconnectOutputSignals(OutputCallbackContext *context)
{
	if (context)
		context->connections.clear();
}

} // namespace stilwane
