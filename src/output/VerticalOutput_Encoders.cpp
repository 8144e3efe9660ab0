#include <output/VerticalOutput.hpp>

#include <canvas/CanvasManager.hpp>
#include <plugin/ConfigRecord.hpp>
#include <plugin/Module.hpp>

#include <obs.hpp>

#include <cstring>

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
	if (videoEnc && audioEnc)
		return true;

	obs_canvas_t *canvas = CanvasManager::instance()->canvas();
	video_t *video = canvas ? obs_canvas_get_video(canvas) : nullptr;
	if (!video) {
		if (error)
			*error = translate("Output.NoCanvas");
		return false;
	}

	QString id = QString::fromStdString(config().encoder);
	if (id.isEmpty() || !encoderTypeExists(id))
		id = preferredEncoderId();
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
	if (!limits) {
		if (error)
			*error = QStringLiteral("service");
		return false;
	}
	obs_service_apply_encoder_settings(limits, videoSettings, audioSettings);

	if (!videoEnc) {
		videoEnc = obs_video_encoder_create(encoderId.constData(), "stilwane_video", videoSettings, nullptr);
		if (!videoEnc) {
			if (error)
				*error = id;
			releaseIdleEncoders();
			return false;
		}
		obs_encoder_set_video(videoEnc, video);
	}

	if (!audioEnc) {
		int track = config().audioTrack;
		if (track < 1 || track > 6)
			track = 1;
		audioEnc = obs_audio_encoder_create("ffmpeg_aac", "stilwane_audio", audioSettings, size_t(track - 1),
						    nullptr);
		if (!audioEnc) {
			if (error)
				*error = QStringLiteral("ffmpeg_aac");
			releaseIdleEncoders();
			return false;
		}
		obs_encoder_set_audio(audioEnc, obs_get_audio());
	}
	return true;
}

void VerticalOutput::releaseIdleEncoders()
{
	if (streamOut || recording.output || replay.output)
		return;
	obs_encoder_release(videoEnc);
	videoEnc = nullptr;
	obs_encoder_release(audioEnc);
	audioEnc = nullptr;
}
