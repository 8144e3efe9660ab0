// SPDX-License-Identifier: GPL-2.0-or-later
#include <output/VerticalOutput.hpp>
#include <common/Limits.hpp>

#include <canvas/CanvasManager.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>

#include <obs.hpp>

#include <cstring>

namespace stilwane {

namespace {

// Hardware encoders first: the vertical stream runs beside the main one, and a second x264 instance
// is what overloads a streaming machine first.
constexpr const char *kEncoderPreference[] = {
	"obs_nvenc_h264_tex", "jim_nvenc", "ffmpeg_nvenc", "obs_qsv11_v2", "obs_qsv11", "h264_texture_amf", "obs_x264",
};

} // namespace

QList<QPair<QString, QString>> VerticalOutput::availableH264Encoders()
{
	QList<QPair<QString, QString>> result;
	const char *id = nullptr;
	for (size_t i = 0; obs_enum_encoder_types(i, &id); ++i) {
		if (obs_get_encoder_type(id) != OBS_ENCODER_VIDEO)
			continue;
		const char *codec = obs_get_encoder_codec(id);
		if (!codec || std::strcmp(codec, "h264") != 0)
			continue;
		if (obs_get_encoder_caps(id) & (OBS_ENCODER_CAP_DEPRECATED | OBS_ENCODER_CAP_INTERNAL))
			continue;
		const char *name = obs_encoder_get_display_name(id);
		result.append({QString::fromUtf8(id), QString::fromUtf8(name && *name ? name : id)});
	}
	return result;
}

QString VerticalOutput::preferredEncoderId()
{
	for (const char *id : kEncoderPreference)
		if (encoderTypeExists(QString::fromLatin1(id)))
			return QString::fromLatin1(id);
	const QList<QPair<QString, QString>> available = availableH264Encoders();
	if (!available.isEmpty())
		return available.first().first;
	return QStringLiteral("obs_x264");
}

bool VerticalOutput::encoderTypeExists(const QString &id)
{
	const QByteArray wanted = id.toUtf8();
	const char *type = nullptr;
	for (size_t i = 0; obs_enum_encoder_types(i, &type); ++i)
		if (std::strcmp(type, wanted.constData()) == 0)
			return true;
	return false;
}

bool VerticalOutput::outputTypeExists(const QString &id)
{
	const QByteArray wanted = id.toUtf8();
	const char *type = nullptr;
	for (size_t i = 0; obs_enum_output_types(i, &type); ++i)
		if (std::strcmp(type, wanted.constData()) == 0)
			return true;
	return false;
}

bool VerticalOutput::ensureEncoders(QString *error)
{
	return ensureEncoders().succeeded(error);
}

Result VerticalOutput::ensureEncoders()
{
	if (videoEnc && audioEnc)
		return Result();

	obs_canvas_t *canvas = CanvasManager::instance()->canvas();
	video_t *video = canvas ? obs_canvas_get_video(canvas) : nullptr;
	if (!video)
		return Result::translated(Result::NotReady, "Output.NoCanvas");

	QString id = QString::fromStdString(config().encoder);
	if (id.isEmpty() || !encoderTypeExists(id))
		id = preferredEncoderId();
	if (softwareOnly)
		id = QStringLiteral("obs_x264");
	const QByteArray encoderId = id.toUtf8();

	OBSDataAutoRelease videoSettings = obs_data_create();
	obs_data_set_int(videoSettings, "bitrate", config().videoBitrate);
	obs_data_set_int(videoSettings, "keyint_sec", 2);
	obs_data_set_string(videoSettings, "rate_control", "CBR");
	// Other encoders name their speed settings differently; an unknown "preset" would be ignored at
	// best and misread at worst.
	if (id == QLatin1String("obs_x264"))
		obs_data_set_string(videoSettings, "preset", "veryfast");

	OBSDataAutoRelease audioSettings = obs_data_create();
	obs_data_set_int(audioSettings, "bitrate", config().audioBitrate);

	// The service's limits apply to the recording and replay buffer too: the three share the encoders,
	// and a stream started later must not find them over YouTube's limits.
	OBSDataAutoRelease settings = serviceSettings();
	OBSServiceAutoRelease limits =
		obs_service_create("rtmp_common", "stilwane_encoder_settings", settings, nullptr);
	if (!limits)
		return Result::translated(Result::RequestProcessingFailed, "Output.Error.NoService");
	obs_service_apply_encoder_settings(limits, videoSettings, audioSettings);

	if (!videoEnc) {
		videoEnc = obs_video_encoder_create(encoderId.constData(), "stilwane_video", videoSettings, nullptr);
		if (!videoEnc) {
			releaseIdleEncoders();
			// Named as OBS's settings show it.
			const char *name = obs_encoder_get_display_name(encoderId.constData());
			if (!name || !*name)
				return Result::translated(Result::RequestProcessingFailed, "Output.Error.VideoEncoder");
			return Result::translated(Result::RequestProcessingFailed, "Output.Error.NamedVideoEncoder",
						  {QString::fromUtf8(name)});
		}
		obs_encoder_set_video(videoEnc, video);
		videoEncoderId = id;
	}

	if (!audioEnc) {
		int track = config().audioTrack;
		if (track < kFirstAudioTrack || track > kLastAudioTrack)
			track = 1;
		audioEnc = obs_audio_encoder_create("ffmpeg_aac", "stilwane_audio", audioSettings, size_t(track - 1),
						    nullptr);
		if (!audioEnc) {
			releaseIdleEncoders();
			return Result::translated(Result::RequestProcessingFailed, "Output.Error.AudioEncoder");
		}
		obs_encoder_set_audio(audioEnc, obs_get_audio());
	}
	return Result();
}

bool VerticalOutput::fallBackToSoftware()
{
	if (softwareOnly || videoEnc || videoEncoderId.isEmpty() || videoEncoderId == QLatin1String("obs_x264") ||
	    !encoderTypeExists(QStringLiteral("obs_x264")))
		return false;
	// Once per encoder: a machine whose hardware encoder never opens would otherwise log it on every start.
	if (!fallbackLogged.contains(videoEncoderId)) {
		fallbackLogged.append(videoEncoderId);
		stilwaneLog(LOG_WARNING, "vertical video encoder '%s' could not start; using obs_x264 instead",
			    videoEncoderId.toUtf8().constData());
	}
	emit encoderFallback(videoEncoderId);
	softwareOnly = true;
	return true;
}

void VerticalOutput::releaseIdleEncoders()
{
	if (std::any_of(streams.begin(), streams.end(), [](const auto &s) { return bool(s->output); }) ||
	    recording.output || replay.output)
		return;
	videoEnc = nullptr;
	audioEnc = nullptr;
}

} // namespace stilwane
