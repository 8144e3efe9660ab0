// SPDX-License-Identifier: GPL-2.0-or-later
#include <output/VerticalOutput.hpp>
#include <common/Limits.hpp>

#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>

#include <QDir>
#include <QFileInfo>
#include <QMetaObject>

#include <algorithm>
#include <cstring>
#include <vector>

#include <obs-frontend-api.h>
#include <obs.hpp>
#include <util/platform.h>

namespace stilwane {

namespace {

constexpr const char *kRecordingFormat = "Stilwane-縦 %CCYY-%MM-%DD %hh-%mm-%ss";
constexpr const char *kReplayFormat = "Stilwane-縦 リプレイ %CCYY-%MM-%DD %hh-%mm-%ss";

Result failure(const char *key, const QStringList &args = {})
{
	return Result::translated(Result::RequestProcessingFailed, key, args);
}

struct ReplayHotkeys {
	obs_output_t *output = nullptr;
	std::vector<obs_hotkey_id> ids;
};

bool collectReplayHotkey(void *data, obs_hotkey_id id, obs_hotkey_t *key)
{
	auto *match = static_cast<ReplayHotkeys *>(data);
	if (obs_hotkey_get_registerer_type(key) != OBS_HOTKEY_REGISTERER_OUTPUT)
		return true;
	const char *name = obs_hotkey_get_name(key);
	if (!name || std::strcmp(name, "ReplayBuffer.Save") != 0)
		return true;
	auto *registerer = static_cast<obs_weak_output_t *>(obs_hotkey_get_registerer(key));
	if (registerer && obs_weak_output_references_output(registerer, match->output))
		match->ids.push_back(id);
	return true;
}

// The path of the replay buffer's last save; answered is false while a save is still being written.
// Any thread.
QString queryLastReplay(obs_output_t *output, bool *answered = nullptr)
{
	calldata_t cd;
	calldata_init(&cd);
	proc_handler_call(obs_output_get_proc_handler(output), "get_last_replay", &cd);
	const char *path = nullptr;
	const bool has = calldata_get_string(&cd, "path", &path);
	const QString result = has && path ? QString::fromUtf8(path) : QString();
	calldata_free(&cd);
	if (answered)
		*answered = has;
	return result;
}

} // namespace

// ---- naming

VerticalOutput::FileContainer VerticalOutput::containerFor(const QString &format, bool mp4Registered)
{
	if (format == QLatin1String("mp4") && mp4Registered)
		return {QStringLiteral("mp4"), QStringLiteral("mp4_output")};
	return {QStringLiteral("mkv"), QStringLiteral("ffmpeg_muxer")};
}

QString VerticalOutput::recordingExtension()
{
	return containerFor(QString::fromStdString(config().recordingFormat), outputTypeExists("mp4_output")).extension;
}

QString VerticalOutput::recordingOutputType()
{
	return containerFor(QString::fromStdString(config().recordingFormat), outputTypeExists("mp4_output"))
		.recordingType;
}

QString VerticalOutput::uniqueFilePath(const QString &directory, const QString &baseName, const QString &extension)
{
	const QDir dir(directory);
	QString candidate = baseName + QLatin1Char('.') + extension;
	for (int n = 2; QFileInfo::exists(dir.filePath(candidate)); ++n)
		candidate = baseName + QStringLiteral(" (") + QString::number(n) + QStringLiteral(").") + extension;
	return dir.filePath(candidate);
}

QString VerticalOutput::makeOutputFilePath(const QString &extension, bool replay, Result *failed,
					   const QString &directory)
{
	QString dir = directory;
	if (dir.isEmpty())
		dir = QString::fromStdString(config().recordingDirectory);
	if (dir.isEmpty()) {
		char *mainPath = obs_frontend_get_current_record_output_path();
		dir = QString::fromUtf8(mainPath ? mainPath : "");
		bfree(mainPath);
	}
	if (dir.isEmpty() || !QDir().mkpath(dir)) {
		if (failed)
			*failed = failure("Output.File.DirectoryError", {dir});
		return QString();
	}
	// A relative folder would otherwise be resolved against OBS's working directory when the file is
	// written, which is not where the user looks.
	dir = QFileInfo(dir).absoluteFilePath();

	const QByteArray ext = extension.toUtf8();
	char *expanded =
		os_generate_formatted_filename(ext.constData(), true, replay ? kReplayFormat : kRecordingFormat);
	const QString name = QString::fromUtf8(expanded ? expanded : "");
	bfree(expanded);
	if (name.isEmpty() || name.startsWith(QLatin1Char('.'))) {
		if (failed)
			*failed = failure("Output.File.NameError");
		return QString();
	}

	const QString path = replay ? QDir(dir).filePath(name)
				    : uniqueFilePath(dir, QFileInfo(name).completeBaseName(), extension);
	return QDir::toNativeSeparators(path);
}

// ---- start and stop

Result VerticalOutput::startRecording()
{
	return startFileOutput(KindRecording);
}

Result VerticalOutput::startReplayBuffer()
{
	return startFileOutput(KindReplay);
}

bool VerticalOutput::startRecording(QString *error)
{
	return startRecording().succeeded(error);
}

bool VerticalOutput::startReplayBuffer(QString *error)
{
	return startReplayBuffer().succeeded(error);
}

void VerticalOutput::stopRecording(bool force)
{
	stopFileOutput(KindRecording, force);
}

void VerticalOutput::stopReplayBuffer(bool force)
{
	stopFileOutput(KindReplay, force);
}

Result VerticalOutput::startFileOutput(OutputKind kind)
{
	FileOutputSlot &s = slot(kind);
	if (s.state != FileIdle)
		return Result();

	const bool isReplay = kind == KindReplay;
	const QString extension = recordingExtension();
	const QString type = isReplay ? QStringLiteral("replay_buffer") : recordingOutputType();
	if (!outputTypeExists(type))
		return isReplay ? failure("Output.Error.NoReplayBuffer")
				: failure("Output.Error.NoRecordingFormat", {extension.toUpper()});

	Result result;
	const QString path = makeOutputFilePath(extension, isReplay, &result);
	if (path.isEmpty())
		return result;
	if (Result encoders = ensureEncoders(); !encoders)
		return encoders;

	const QFileInfo planned(path);
	OBSDataAutoRelease settings = obs_data_create();
	if (isReplay) {
		obs_data_set_string(settings, "directory", planned.absolutePath().toUtf8().constData());
		obs_data_set_string(settings, "format", planned.completeBaseName().toUtf8().constData());
		obs_data_set_string(settings, "extension", extension.toUtf8().constData());
		obs_data_set_bool(settings, "allow_spaces", true);
		obs_data_set_int(settings, "max_time_sec",
				 std::clamp(int(config().replaySeconds), kMinReplaySeconds, kMaxReplaySeconds));
		obs_data_set_int(settings, "max_size_mb", 0);
	} else {
		obs_data_set_string(settings, "path", path.toUtf8().constData());
	}

	const QByteArray typeId = type.toUtf8();
	s.output = obs_output_create(typeId.constData(), isReplay ? "stilwane_replay" : "stilwane_recording", settings,
				     nullptr);
	if (!s.output) {
		releaseIdleEncoders();
		return failure("Output.Error.OutputCreate");
	}
	s.plannedPath = path;
	if (isReplay)
		removeReplaySaveHotkey(s.output);

	obs_output_set_video_encoder(s.output, videoEnc);
	obs_output_set_audio_encoder(s.output, audioEnc, 0);

	s.context = std::make_unique<OutputCallbackContext>(this, kind, s.generation, s.output);
	connectOutputSignals(s.output, s.context.get());
	if (isReplay)
		obs_output_add_packet_callback(s.output, onReplayPacket, this);

	setFileState(kind, FileStarting);
	if (obs_output_start(s.output)) {
		stilwaneLog(LOG_INFO, "vertical %s starting (%s, shared encoders)", isReplay ? "replay" : "recording",
			    typeId.constData());
		return Result();
	}

	// libobs's own words when it has any. A recording without them names its file, the likeliest
	// cause: the native mp4 muxer opens it as it starts and says nothing when it cannot.
	const char *lastError = obs_output_get_last_error(s.output);
	const Result reason = lastError && *lastError
				      ? Result::plain(Result::RequestProcessingFailed, QString::fromUtf8(lastError))
			      : isReplay ? failure("Output.Error.NoReason")
					 : failure("Output.Error.FileStart", {QDir::toNativeSeparators(path)});
	tearDownSlot(kind);
	setFileState(kind, FileIdle);
	if (fallBackToSoftware()) {
		const Result started = startFileOutput(kind);
		softwareOnly = false;
		return started;
	}
	return reason;
}

void VerticalOutput::stopFileOutput(OutputKind kind, bool force)
{
	FileOutputSlot &s = slot(kind);
	if (!s.output)
		return;
	if (force) {
		// libobs finishes the file on the next packet; the release in the teardown waits for that, so
		// the file is complete when the stop is reported below. An output libobs stopped on its own
		// (a full disk, say) is not stopped again: that would reset libobs's stop event, which nothing
		// would signal any more, and the release would wait for it forever.
		if (obs_output_active(s.output))
			obs_output_force_stop(s.output);
		fileStopped(kind, 0, QString());
		return;
	}
	if (s.state == FileStopping)
		return;
	setFileState(kind, FileStopping);
	obs_output_stop(s.output);
}

void VerticalOutput::tearDownSlot(OutputKind kind)
{
	FileOutputSlot &s = slot(kind);
	if (s.output) {
		if (kind == KindReplay) {
			obs_output_remove_packet_callback(s.output, onReplayPacket, this);
			std::lock_guard<std::mutex> lock(mutex);
			replaySaveDropped = !pendingReplayName.isEmpty();
			pendingReplayName.clear();
		}
		disconnectOutputSignals(s.context.get());
		++s.generation;
		// Out of the slot before the release, which waits for a save in progress.
		OBSOutputAutoRelease output = std::move(s.output);
		output = nullptr;
	}
	// After the release: a save that the destruction waited for has signalled by now, and the context
	// takes the "saved" connection with it.
	s.context.reset();
	s.startTime = 0;
	releaseIdleEncoders();
}

void VerticalOutput::fileStopped(OutputKind kind, int code, const QString &error)
{
	FileOutputSlot &s = slot(kind);
	const QString planned = s.plannedPath;
	tearDownSlot(kind);
	setFileState(kind, FileIdle);
	if (kind == KindRecording) {
		if (code == 0 && !planned.isEmpty() && QFileInfo::exists(planned)) {
			s.lastSavedPath = planned;
			emit recordingSaved(planned);
		}
		emit recordingStopped(code, error);
	} else {
		// A save that never reached libobs is lost with the buffer. One handed to libobs has signalled
		// by now if it was written (the release waited for its writer) and its report is queued ahead of
		// the check below; a buffer stopped before it reached the save point never writes it, and that
		// must be said now rather than when the watch runs out.
		if (replaySaveOutstanding && replaySaveDropped) {
			failReplaySave(failure("Output.Replay.SaveStopped"));
		} else if (replaySaveOutstanding) {
			const uint64_t serial = replaySaveSerial;
			QMetaObject::invokeMethod(
				this,
				[this, serial] {
					if (replaySaveOutstanding && serial == replaySaveSerial)
						failReplaySave(failure("Output.Replay.SaveStopped"));
				},
				Qt::QueuedConnection);
		}
		replaySaveDropped = false;
		emit replayStopped(code, error);
	}
}

void VerticalOutput::applyFileReport(const Report &report)
{
	FileOutputSlot &s = slot(report.kind);
	switch (report.type) {
	case ReportStart:
		if (s.state == FileStopping)
			return;
		s.startTime = report.time;
		setFileState(report.kind, FileActive);
		return;
	case ReportStopping:
		setFileState(report.kind, FileStopping);
		return;
	case ReportStop:
		fileStopped(report.kind, report.code, report.error);
		return;
	case ReportStarting:
	case ReportReconnecting:
		return;
	}
}

// ---- replay saves

bool VerticalOutput::saveReplay(QString *error)
{
	return saveReplay().succeeded(error);
}

Result VerticalOutput::saveReplay()
{
	if (!replay.output || replay.state != FileActive)
		return Result::translated(Result::OutputNotRunning, "Output.File.ReplayInactive");
	const QFileInfo planned(replay.plannedPath);
	Result result;
	const QString path = makeOutputFilePath(planned.suffix(), true, &result, planned.absolutePath());
	if (path.isEmpty())
		return result;
	{
		std::lock_guard<std::mutex> lock(mutex);
		pendingReplayName = QFileInfo(path).completeBaseName();
	}
	// Never silent: a save ends in the file, or in a failure report once the watch runs out.
	replaySaveOutstanding = true;
	replaySaveSerial++;
	replaySaveWatch.start();
	return Result();
}

void VerticalOutput::failReplaySave(const Result &reason)
{
	replaySaveOutstanding = false;
	replaySaveWatch.stop();
	replaySaveFailure = reason;
	stilwaneLog(LOG_WARNING, "vertical replay save failed: %s", reason.englishText().toUtf8().constData());
	emit replaySaveFailed(reason.userText());
}

// The output's thread, for every packet. The replay buffer names its file from its "format" setting
// when it writes it, so the name is set on this thread right before "save", and only while no earlier
// save is still being written (get_last_replay answers nothing then).
void VerticalOutput::onReplayPacket(obs_output_t *output, struct encoder_packet *, struct encoder_packet_time *,
				    void *param)
{
	auto *self = static_cast<VerticalOutput *>(param);
	std::lock_guard<std::mutex> lock(self->mutex);
	if (self->pendingReplayName.isEmpty())
		return;
	bool idle = false;
	queryLastReplay(output, &idle);
	if (!idle)
		return;

	OBSDataAutoRelease current = obs_output_get_settings(output);
	const QString directory = QString::fromUtf8(obs_data_get_string(current, "directory"));
	const QString extension = QString::fromUtf8(obs_data_get_string(current, "extension"));
	const QString target = uniqueFilePath(directory, self->pendingReplayName, extension);

	OBSDataAutoRelease update = obs_data_create();
	obs_data_set_string(update, "format", QFileInfo(target).completeBaseName().toUtf8().constData());
	obs_output_update(output, update);
	self->pendingReplayName.clear();

	calldata_t cd;
	calldata_init(&cd);
	if (!proc_handler_call(obs_output_get_proc_handler(output), "save", &cd))
		stilwaneLog(LOG_WARNING, "could not request vertical replay save");
	calldata_free(&cd);
}

// A libobs thread (the replay buffer's writer).
void VerticalOutput::onReplaySaved(void *data, calldata_t *)
{
	const auto *context = static_cast<const OutputCallbackContext *>(data);
	const QString path = queryLastReplay(context->output);
	if (path.isEmpty())
		return;
	VerticalOutput *owner = context->owner;
	QMetaObject::invokeMethod(owner, [owner, path] { owner->replaySavedReport(path); }, Qt::QueuedConnection);
}

void VerticalOutput::replaySavedReport(const QString &path)
{
	replaySaveOutstanding = false;
	replaySaveWatch.stop();
	// The muxer runs apart from libobs and can fail to write without libobs noticing (a full disk, a
	// folder that went away): only a file that is there counts.
	const QFileInfo file(path);
	if (!file.exists() || file.size() == 0) {
		failReplaySave(failure("Output.Replay.SaveNotWritten", {QDir::toNativeSeparators(path)}));
		return;
	}
	replay.lastSavedPath = QDir::toNativeSeparators(path);
	emit replaySaved(replay.lastSavedPath);
}

// libobs gives every replay buffer a "ReplayBuffer.Save" hotkey of its own; the plug-in's hotkeys take
// its place, and a second binding of the same name would only confuse OBS's hotkey settings.
void VerticalOutput::removeReplaySaveHotkey(obs_output_t *output)
{
	ReplayHotkeys match;
	match.output = output;
	obs_enum_hotkeys(collectReplayHotkey, &match);
	for (obs_hotkey_id id : match.ids)
		obs_hotkey_unregister(id);
}

} // namespace stilwane
