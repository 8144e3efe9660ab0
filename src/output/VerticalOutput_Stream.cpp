#include <output/VerticalOutput.hpp>

#include <canvas/CanvasManager.hpp>
#include <plugin/ConfigRecord.hpp>
#include <plugin/Module.hpp>

#include <obs.hpp>

namespace {

bool fail(QString *error, const QString &text)
{
	if (error)
		*error = text;
	return false;
}

} // namespace

bool VerticalOutput::startStream(QString *error)
{
	if (stream != StreamIdle)
		return true;
	if (!hasStreamKey())
		return fail(error, translate("Output.NoKey"));
	obs_canvas_t *canvas = CanvasManager::instance()->canvas();
	if (!canvas || !obs_canvas_get_video(canvas))
		return fail(error, translate("Output.NoCanvas"));

	releaseStreamOutput();

	OBSDataAutoRelease settings = serviceSettings();
	service = obs_service_create("rtmp_common", "stilwane_service", settings, nullptr);
	if (!service) {
		releaseStreamOutput();
		return fail(error, QStringLiteral("service"));
	}
	if (!ensureEncoders(error)) {
		releaseStreamOutput();
		return false;
	}
	streamOut = obs_output_create("rtmp_output", "stilwane_output", nullptr, nullptr);
	if (!streamOut) {
		releaseStreamOutput();
		return fail(error, QStringLiteral("rtmp_output"));
	}

	obs_output_set_service(streamOut, service);
	obs_output_set_video_encoder(streamOut, videoEnc);
	obs_output_set_audio_encoder(streamOut, audioEnc, 0);
	obs_output_set_reconnect_settings(streamOut, 25, 2);

	delete streamContext;
	streamContext = new OutputCallbackContext{this, KindStream, streamGeneration, streamOut, {}};
	connectOutputSignals(streamOut, streamContext);

	setStreamState(StreamConnecting);
	if (obs_output_start(streamOut)) {
		stilwaneLog(LOG_INFO, "vertical stream starting (shared encoder, %d kbps)", int(config().videoBitrate));
		return true;
	}

	const char *lastError = obs_output_get_last_error(streamOut);
	const QString reason = lastError && *lastError ? withoutStreamKey(QString::fromUtf8(lastError))
						       : QStringLiteral("obs_output_start");
	releaseStreamOutput();
	setStreamState(StreamIdle);
	return fail(error, reason);
}

void VerticalOutput::stopStream(bool force)
{
	if (!streamOut)
		return;

	if (force) {
		disconnectOutputSignals(streamOut, streamContext);
		++streamGeneration;
		joinStopWorker();
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
	obs_output_t *output = obs_output_get_ref(streamOut);
	if (!output)
		return;
	stopWorker = std::thread([output] {
		obs_output_force_stop(output);
		obs_output_release(output);
	});
}

void VerticalOutput::joinStopWorker()
{
	if (stopWorker.joinable() && stopWorker.get_id() != std::this_thread::get_id())
		stopWorker.join();
}

void VerticalOutput::releaseStreamOutput()
{
	if (streamOut) {
		disconnectOutputSignals(streamOut, streamContext);
		++streamGeneration;
		joinStopWorker();
		obs_output_release(streamOut);
		streamOut = nullptr;
	}
	delete streamContext;
	streamContext = nullptr;
	obs_service_release(service);
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
		releaseStreamOutput();
		setStreamState(StreamIdle);
		emit stopped(report.code, error);
		return;
	}
	}
}
