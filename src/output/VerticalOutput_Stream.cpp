// SPDX-License-Identifier: GPL-2.0-or-later
#include <output/VerticalOutput.hpp>

#include <canvas/CanvasManager.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>

#include <obs.hpp>

#include <chrono>
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
	pruneSlots();
	const QList<Destination> list = destinationList(config());
	int enabled = 0;
	QStringList userLines;
	QStringList englishLines;
	Result last;
	for (int i = 0; i < list.size(); i++) {
		if (!list[i].enabled)
			continue;
		++enabled;
		const Result started = startSlot(list[i], i);
		if (started)
			continue;
		last = started;
		userLines << QStringLiteral("%1: %2").arg(list[i].name, started.userText());
		englishLines << QStringLiteral("%1: %2").arg(list[i].name, started.englishText());
	}
	if (!enabled)
		return stream != StreamIdle ? Result() : failure("Output.NoKey");
	if (userLines.isEmpty())
		return Result();
	// One destination: its own words, as they always were. Several: each failure named.
	if (enabled == 1)
		return last;
	return Result::bilingual(last.code(), userLines.join(QLatin1Char('\n')), englishLines.join(QLatin1Char('\n')));
}

Result VerticalOutput::startDestination(const QString &name)
{
	pruneSlots();
	const QList<Destination> list = destinationList(config());
	const int index = findDestination(config(), name);
	if (index < 0)
		return Result::translated(Result::ResourceNotFound, "Output.Destination.Unknown", {name});
	return startSlot(list[index], index);
}

Result VerticalOutput::stopDestination(const QString &name, bool force)
{
	const int index = findDestination(config(), name);
	StreamSlot *s = nullptr;
	if (index >= 0) {
		const Destination d = destinationList(config())[index];
		s = findSlot(d.name, d.first);
	} else {
		// A destination removed while it streamed keeps its slot, under its old name, until it stops.
		s = findSlot(name, false);
	}
	if (!s && index < 0)
		return Result::translated(Result::ResourceNotFound, "Output.Destination.Unknown", {name});
	if (s && s->output)
		stopSlot(*s, force);
	return Result();
}

Result VerticalOutput::startSlot(const Destination &destination, int position)
{
	StreamSlot &s = slotFor(destination);
	if (s.state != StreamIdle)
		return Result();
	Result result;
	if (destination.key.isEmpty())
		result = failure("Output.NoKey");
	else if (destination.server.isEmpty())
		result = failure("Output.Destination.NoServer");
	if (!result) {
		s.error = result;
		emit destinationStartFailed(s.name, result.userText());
		return result;
	}
	s.error = Result();
	obs_canvas_t *canvas = CanvasManager::instance()->canvas();
	if (!canvas || !obs_canvas_get_video(canvas))
		return Result::translated(Result::NotReady, "Output.NoCanvas");

	releaseSlot(s);
	auto fail = [&](const Result &reason) {
		releaseSlot(s);
		s.error = reason;
		emit destinationStartFailed(s.name, reason.userText());
		return reason;
	};

	const char *type = nullptr;
	OBSDataAutoRelease settings = destinationServiceSettings(destination, &type);
	const QByteArray suffix = destination.first ? QByteArray() : "_" + QByteArray::number(position + 1);
	s.service = obs_service_create(type, "stilwane_service" + suffix, settings, nullptr);
	if (!s.service)
		return fail(failure("Output.Error.NoService"));
	if (Result encoders = ensureEncoders(); !encoders)
		return fail(encoders);
	s.output = obs_output_create("rtmp_output", "stilwane_output" + suffix, nullptr, nullptr);
	if (!s.output)
		return fail(failure("Output.Error.OutputCreate"));

	s.startedKeys.append(destination.key);
	obs_output_set_service(s.output, s.service);
	obs_output_set_video_encoder(s.output, videoEnc);
	obs_output_set_audio_encoder(s.output, audioEnc, 0);
	obs_output_set_reconnect_settings(s.output, 25, 2);

	s.generation = ++streamGeneration;
	s.context = std::make_unique<OutputCallbackContext>(this, KindStream, s.generation, s.output);
	connectOutputSignals(s.output, s.context.get());

	setSlotState(s, StreamConnecting);
	if (obs_output_start(s.output)) {
		if (destination.first)
			stilwaneLog(LOG_INFO, "vertical stream starting (shared encoder, %d kbps)",
				    int(config().videoBitrate));
		else
			stilwaneLog(LOG_INFO, "vertical stream to '%s' starting (shared encoder, %d kbps)",
				    destination.name.toUtf8().constData(), int(config().videoBitrate));
		return Result();
	}

	// libobs's own words when it has any, the key blotted out: they may quote the URL.
	const char *lastError = obs_output_get_last_error(s.output);
	const Result reason = lastError && *lastError ? Result::plain(Result::RequestProcessingFailed,
								      withoutStreamKey(QString::fromUtf8(lastError)))
						      : failure("Output.Error.NoReason");
	releaseSlot(s);
	setSlotState(s, StreamIdle);
	if (fallBackToSoftware()) {
		const Result started = startSlot(destination, position);
		softwareOnly = false;
		return started;
	}
	s.error = reason;
	emit destinationStartFailed(s.name, reason.userText());
	return reason;
}

void VerticalOutput::stopStream(bool force)
{
	for (const auto &s : streams) {
		if (s->output)
			stopSlot(*s, force);
	}
}

void VerticalOutput::stopSlot(StreamSlot &s, bool force)
{
	if (!s.output)
		return;

	if (force) {
		// Its reports become stale.
		s.generation = ++streamGeneration;
		// A connection attempt in progress (a first one, a reconnect, or one that a graceful stop is
		// already ending) would hold this thread until libobs gives up on it. The background stop
		// keeps the signal connections: they tell it when the attempt ends.
		if (s.state == StreamConnecting || s.state == StreamReconnecting || s.stopWorker.joinable()) {
			handOffStream(s);
			setSlotState(s, StreamIdle);
			return;
		}
		disconnectOutputSignals(s.context.get());
		joinStopWorker(s);
		// Only what still runs or still connects: a stop of an output libobs already stopped would leave
		// its release waiting forever (see stopFileOutput).
		if (obs_output_active(s.output) || s.state == StreamConnecting)
			obs_output_force_stop(s.output);
		releaseSlot(s);
		setSlotState(s, StreamIdle);
		return;
	}

	if (s.state == StreamStopping)
		return;
	const StreamState before = s.state;
	setSlotState(s, StreamStopping);
	if (before != StreamConnecting && before != StreamReconnecting && obs_output_active(s.output)) {
		// Sends what is buffered, then "stop".
		obs_output_stop(s.output);
		return;
	}

	// A connecting output only stops once its connection attempt ends, which can take as long as the
	// network lets it: that wait must not freeze the user interface. The worker's own reference keeps
	// the output alive whatever happens here meanwhile; its force stop ends in libobs's "stop".
	joinStopWorker(s);
	OBSOutputAutoRelease output = obs_output_get_ref(s.output);
	if (!output)
		return;
	// The context outlives the worker: every release joins the worker before it lets the context go.
	s.stopWorker = std::thread([output = std::move(output), context = s.context.get()]() mutable {
		stopWhenAttemptEnds(output, context);
		output = nullptr;
	});
}

void VerticalOutput::stopWhenAttemptEnds(obs_output_t *output, const OutputCallbackContext *context)
{
	using namespace std::chrono_literals;
	if (!context) {
		obs_output_force_stop(output);
		return;
	}
	// librtmp gives up on a server that never answers after about half a minute.
	const auto deadline = std::chrono::steady_clock::now() + 60s;
	while (!context->attemptEnded && std::chrono::steady_clock::now() < deadline)
		std::this_thread::sleep_for(20ms);
	if (context->attemptEnded) {
		// The connect thread signals first and lets go of itself right after.
		std::this_thread::sleep_for(150ms);
		// Failed: libobs has stopped it already, and a stop now would join a thread that is gone.
		if (!context->connected)
			return;
	}
	obs_output_force_stop(output);
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

void VerticalOutput::handOffStream(StreamSlot &s)
{
	OBSOutputAutoRelease output = std::move(s.output);
	OBSServiceAutoRelease outputService = std::move(s.service);
	std::unique_ptr<OutputCallbackContext> context = std::move(s.context);
	s.startedKeys.clear();
	s.kbps = 0;
	s.sampleBytes = 0;
	s.sampleNs = 0;
	// The output's encoders were made for the canvas's video: should the server answer after all,
	// libobs starts them on it, so the canvas must outlive the stop.
	OBSCanvas canvas = CanvasManager::instance()->canvas();
	auto done = std::make_shared<std::atomic<bool>>(false);
	std::thread thread([this, output = std::move(output), outputService = std::move(outputService), done,
			    context = std::move(context), previous = std::move(s.stopWorker)]() mutable {
		// A graceful stop already running stops it; a second stop would wait forever.
		if (previous.joinable())
			previous.join();
		else
			stopWhenAttemptEnds(output, context.get());
		// Here, before "done": the signal connections (their reports are stale), the output, then
		// the service it used.
		if (context)
			disconnectOutputSignals(context.get());
		output = nullptr;
		context.reset();
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

void VerticalOutput::joinStopWorker(StreamSlot &s)
{
	if (s.stopWorker.joinable() && s.stopWorker.get_id() != std::this_thread::get_id())
		s.stopWorker.join();
}

void VerticalOutput::releaseStreamOutput()
{
	for (const auto &s : streams)
		releaseSlot(*s);
	releaseIdleEncoders();
}

void VerticalOutput::releaseSlot(StreamSlot &s)
{
	if (s.output) {
		disconnectOutputSignals(s.context.get());
		s.generation = ++streamGeneration;
		joinStopWorker(s);
		s.output = nullptr;
	}
	s.context.reset();
	s.startedKeys.clear();
	s.service = nullptr;
	s.kbps = 0;
	s.sampleBytes = 0;
	s.sampleNs = 0;
	releaseIdleEncoders();
}

void VerticalOutput::applyStreamReport(const Report &report)
{
	StreamSlot *found = slotByGeneration(report.generation);
	if (!found)
		return;
	StreamSlot &s = *found;
	switch (report.type) {
	case ReportStart:
		if (s.state == StreamStopping)
			return;
		// Kept through reconnects: the elapsed time is that of the broadcast, not of the connection.
		if (!s.liveSince)
			s.liveSince = report.time;
		setSlotState(s, StreamLive);
		return;
	case ReportStarting:
		if (s.state != StreamStopping)
			setSlotState(s, StreamConnecting);
		return;
	case ReportReconnecting:
		if (s.state != StreamStopping)
			setSlotState(s, StreamReconnecting);
		return;
	case ReportStopping:
		setSlotState(s, StreamStopping);
		return;
	case ReportStop: {
		const QString error = withoutStreamKey(report.error);
		if (report.code != OBS_OUTPUT_SUCCESS) {
			s.error = stopCodeFailure(report.code);
			const QByteArray words = s.error.englishText().toUtf8();
			if (s.first)
				stilwaneLog(LOG_WARNING, "vertical stream stopped unexpectedly (code %d): %s%s%s",
					    report.code, words.constData(), error.isEmpty() ? "" : " ",
					    error.toUtf8().constData());
			else
				stilwaneLog(LOG_WARNING,
					    "vertical stream to '%s' stopped unexpectedly (code %d): %s%s%s",
					    s.name.toUtf8().constData(), report.code, words.constData(),
					    error.isEmpty() ? "" : " ", error.toUtf8().constData());
		}
		releaseSlot(s);
		setSlotState(s, StreamIdle);
		if (s.first)
			emit stopped(report.code, error);
		else
			emit destinationStopped(s.name, report.code, error);
		return;
	}
	}
}

} // namespace stilwane
