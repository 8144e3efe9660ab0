// SPDX-License-Identifier: GPL-2.0-or-later
#include <output/VerticalOutput.hpp>

#include <canvas/CanvasManager.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>

#include <obs.hpp>

#include <utility>

namespace stilwane {

namespace {

Result failure(const char *key, const QStringList &args = {})
{
	return Result::translated(Result::RequestProcessingFailed, key, args);
}

} // namespace

bool VerticalOutput::startStream(QString *error)
{
	return startStream().succeeded(error);
}

Result VerticalOutput::startStream()
{
	if (stream != StreamIdle)
		return Result();
	if (!hasStreamKey())
		return failure("Output.NoKey");
	streamError = Result();
	obs_canvas_t *canvas = CanvasManager::instance()->canvas();
	if (!canvas || !obs_canvas_get_video(canvas))
		return Result::translated(Result::NotReady, "Output.NoCanvas");

	releaseStreamOutput();

	OBSDataAutoRelease settings = serviceSettings();
	service = obs_service_create("rtmp_common", "stilwane_service", settings, nullptr);
	if (!service) {
		releaseStreamOutput();
		return failure("Output.Error.NoService");
	}
	if (Result encoders = ensureEncoders(); !encoders) {
		releaseStreamOutput();
		return encoders;
	}
	streamOut = obs_output_create("rtmp_output", "stilwane_output", nullptr, nullptr);
	if (!streamOut) {
		releaseStreamOutput();
		return failure("Output.Error.OutputCreate");
	}

	startedKeys.append(QString::fromUtf8(obs_data_get_string(settings, "key")));
	obs_output_set_service(streamOut, service);
	obs_output_set_video_encoder(streamOut, videoEnc);
	obs_output_set_audio_encoder(streamOut, audioEnc, 0);
	obs_output_set_reconnect_settings(streamOut, 25, 2);

	streamContext = std::make_unique<OutputCallbackContext>(this, KindStream, streamGeneration, streamOut);
	connectOutputSignals(streamOut, streamContext.get());

	setStreamState(StreamConnecting);
	if (obs_output_start(streamOut)) {
		stilwaneLog(LOG_INFO, "vertical stream starting (shared encoder, %d kbps)", int(config().videoBitrate));
		return Result();
	}

	// libobs's own words when it has any, the key blotted out: they may quote the URL.
	const char *lastError = obs_output_get_last_error(streamOut);
	const Result reason = lastError && *lastError ? Result::plain(Result::RequestProcessingFailed,
								      withoutStreamKey(QString::fromUtf8(lastError)))
						      : failure("Output.Error.NoReason");
	releaseStreamOutput();
	setStreamState(StreamIdle);
	if (fallBackToSoftware()) {
		const Result started = startStream();
		softwareOnly = false;
		return started;
	}
	return reason;
}

void VerticalOutput::stopStream(bool force)
{
	if (!streamOut)
		return;

	if (force) {
		disconnectOutputSignals(streamContext.get());
		++streamGeneration;
		// A connection attempt in progress (a first one, a reconnect, or one that a graceful stop is
		// already ending) would hold this thread until libobs gives up on it.
		if (stream == StreamConnecting || stream == StreamReconnecting || stopWorker.joinable()) {
			handOffStream();
			setStreamState(StreamIdle);
			return;
		}
		joinStopWorker();
		// Only what still runs or still connects: a stop of an output libobs already stopped would leave
		// its release waiting forever (see stopFileOutput).
		if (obs_output_active(streamOut) || stream == StreamConnecting)
			obs_output_force_stop(streamOut);
		releaseStreamOutput();
		setStreamState(StreamIdle);
		return;
	}

	if (stream == StreamStopping)
		return;
	const StreamState before = stream;
	setStreamState(StreamStopping);
	if (before != StreamConnecting && before != StreamReconnecting && obs_output_active(streamOut)) {
		// Sends what is buffered, then "stop".
		obs_output_stop(streamOut);
		return;
	}

	// A connecting output only stops once its connection attempt ends, which can take as long as the
	// network lets it: that wait must not freeze the user interface. The worker's own reference keeps
	// the output alive whatever happens here meanwhile; its force stop ends in libobs's "stop".
	joinStopWorker();
	OBSOutputAutoRelease output = obs_output_get_ref(streamOut);
	if (!output)
		return;
	stopWorker = std::thread([output = std::move(output)]() mutable {
		obs_output_force_stop(output);
		output = nullptr;
	});
}

QString VerticalOutput::stopCodeText(int code)
{
	return stopCodeFailure(code).userText();
}

Result VerticalOutput::stopCodeFailure(int code)
{
	switch (code) {
	case OBS_OUTPUT_BAD_PATH:
		return failure("Output.StopCode.BadPath");
	case OBS_OUTPUT_CONNECT_FAILED:
		return failure("Output.StopCode.ConnectFailed");
	case OBS_OUTPUT_INVALID_STREAM:
		return failure("Output.StopCode.InvalidStream");
	case OBS_OUTPUT_ERROR:
		return failure("Output.StopCode.Error");
	case OBS_OUTPUT_DISCONNECTED:
		return failure("Output.StopCode.Disconnected");
	case OBS_OUTPUT_UNSUPPORTED:
		return failure("Output.StopCode.Unsupported");
	case OBS_OUTPUT_NO_SPACE:
		return failure("Output.StopCode.NoSpace");
	case OBS_OUTPUT_ENCODE_ERROR:
		return failure("Output.StopCode.EncodeError");
	case OBS_OUTPUT_HDR_DISABLED:
		return failure("Output.StopCode.HdrDisabled");
	default:
		return failure("Output.Stopped", {QString::number(code)});
	}
}

void VerticalOutput::handOffStream()
{
	OBSOutputAutoRelease output = std::move(streamOut);
	OBSServiceAutoRelease outputService = std::move(service);
	streamContext.reset();
	startedKeys.clear();
	// The output's encoders were made for the canvas's video: should the server answer after all,
	// libobs starts them on it, so the canvas must outlive the stop.
	OBSCanvas canvas = CanvasManager::instance()->canvas();
	auto done = std::make_shared<std::atomic<bool>>(false);
	std::thread thread([this, output = std::move(output), outputService = std::move(outputService), done,
			    previous = std::move(stopWorker)]() mutable {
		// A graceful stop already running has force-stopped it; a second stop would wait forever.
		if (previous.joinable())
			previous.join();
		else
			obs_output_force_stop(output);
		// Here, before "done": the output first, then the service it used.
		output = nullptr;
		outputService = nullptr;
		done->store(true);
		QMetaObject::invokeMethod(this, [this] { reapBackgroundStops(); }, Qt::QueuedConnection);
	});
	stilwaneLog(LOG_INFO, "vertical stream still connecting: stopping it in the background");
	backgroundStops.push_back(
		{std::move(thread), canvas, QString::fromUtf8(canvas ? obs_canvas_get_uuid(canvas) : ""), done});
	releaseIdleEncoders();
}

void VerticalOutput::reapBackgroundStops()
{
	for (auto it = backgroundStops.begin(); it != backgroundStops.end();) {
		if (!it->done->load()) {
			++it;
			continue;
		}
		it->thread.join();
		it = backgroundStops.erase(it);
	}
}

void VerticalOutput::finishBackgroundStops(const QString &canvasUuid)
{
	for (auto it = backgroundStops.begin(); it != backgroundStops.end();) {
		if (!canvasUuid.isEmpty() && it->canvasUuid != canvasUuid) {
			++it;
			continue;
		}
		stilwaneLog(LOG_INFO, "waiting for the background stop of a vertical stream");
		it->thread.join();
		it = backgroundStops.erase(it);
	}
}

void VerticalOutput::renameHeldCanvases()
{
	for (BackgroundStop &stop : backgroundStops) {
		if (!stop.canvas || stop.done->load())
			continue;
		const QString name = QStringLiteral("%1 (stopping %2)").arg(kCanvasName, stop.canvasUuid);
		obs_canvas_set_name(stop.canvas, name.toUtf8().constData());
	}
}

void VerticalOutput::joinStopWorker()
{
	if (stopWorker.joinable() && stopWorker.get_id() != std::this_thread::get_id())
		stopWorker.join();
}

void VerticalOutput::releaseStreamOutput()
{
	if (streamOut) {
		disconnectOutputSignals(streamContext.get());
		++streamGeneration;
		joinStopWorker();
		streamOut = nullptr;
	}
	streamContext.reset();
	startedKeys.clear();
	service = nullptr;
	releaseIdleEncoders();
}

void VerticalOutput::applyStreamReport(const Report &report)
{
	switch (report.type) {
	case ReportStart:
		if (stream == StreamStopping)
			return;
		// Kept through reconnects: the elapsed time is that of the broadcast, not of the connection.
		if (!liveSince)
			liveSince = report.time;
		setStreamState(StreamLive);
		return;
	case ReportStarting:
		if (stream != StreamStopping)
			setStreamState(StreamConnecting);
		return;
	case ReportReconnecting:
		if (stream != StreamStopping)
			setStreamState(StreamReconnecting);
		return;
	case ReportStopping:
		setStreamState(StreamStopping);
		return;
	case ReportStop: {
		const QString error = withoutStreamKey(report.error);
		if (report.code != OBS_OUTPUT_SUCCESS) {
			streamError = stopCodeFailure(report.code);
			stilwaneLog(LOG_WARNING, "vertical stream stopped unexpectedly (code %d): %s%s%s", report.code,
				    streamError.englishText().toUtf8().constData(), error.isEmpty() ? "" : " ",
				    error.toUtf8().constData());
		}
		releaseStreamOutput();
		setStreamState(StreamIdle);
		emit stopped(report.code, error);
		return;
	}
	}
}

} // namespace stilwane
