#include <output/VerticalOutput.hpp>

#include <obs.h>

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
