// SPDX-License-Identifier: GPL-2.0-or-later
// The choice of the vertical video encoder against the encoder and output types that the real OBS
// modules register in libobs.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <output/VerticalOutput.hpp>

#include <TestMain.hpp>

#include <obs.h>

using namespace stilwane;

namespace {

const QStringList kPreference = {"obs_nvenc_h264_tex", "jim_nvenc",        "ffmpeg_nvenc", "obs_qsv11_v2",
				 "obs_qsv11",          "h264_texture_amf", "obs_x264"};

} // namespace

class TestEncoderChoice : public QObject {
	Q_OBJECT

private slots:
	void typeLookupsMatchExactly()
	{
		QVERIFY(VerticalOutput::encoderTypeExists("obs_x264"));
		QVERIFY(VerticalOutput::encoderTypeExists("ffmpeg_aac"));
		QVERIFY(!VerticalOutput::encoderTypeExists("obs_x26"));
		QVERIFY(!VerticalOutput::encoderTypeExists("OBS_X264"));
		QVERIFY(!VerticalOutput::encoderTypeExists(QString()));

		QVERIFY(VerticalOutput::outputTypeExists("rtmp_output"));
		QVERIFY(VerticalOutput::outputTypeExists("ffmpeg_muxer"));
		QVERIFY(VerticalOutput::outputTypeExists("replay_buffer"));
		QVERIFY(!VerticalOutput::outputTypeExists("rtmp_outpu"));
		QVERIFY(!VerticalOutput::encoderTypeExists("rtmp_output"));
	}

	void availableListHoldsOnlyUsableH264VideoEncoders()
	{
		const auto available = VerticalOutput::availableH264Encoders();
		QStringList ids;
		for (const auto &entry : available) {
			const QByteArray id = entry.first.toUtf8();
			QCOMPARE(obs_get_encoder_type(id.constData()), OBS_ENCODER_VIDEO);
			QCOMPARE(QString::fromUtf8(obs_get_encoder_codec(id.constData())), QStringLiteral("h264"));
			QVERIFY(!(obs_get_encoder_caps(id.constData()) &
				  (OBS_ENCODER_CAP_DEPRECATED | OBS_ENCODER_CAP_INTERNAL)));
			QVERIFY(!entry.second.isEmpty());
			ids << entry.first;
		}
		QVERIFY(ids.contains("obs_x264"));
		QVERIFY(!ids.contains("ffmpeg_aac"));
		QCOMPARE(ids.removeDuplicates(), qsizetype(0));

		// Every usable H.264 type that libobs registers is offered, in libobs's order.
		QStringList expected;
		const char *type = nullptr;
		for (size_t i = 0; obs_enum_encoder_types(i, &type); ++i)
			if (obs_get_encoder_type(type) == OBS_ENCODER_VIDEO &&
			    qstrcmp(obs_get_encoder_codec(type), "h264") == 0 &&
			    !(obs_get_encoder_caps(type) & (OBS_ENCODER_CAP_DEPRECATED | OBS_ENCODER_CAP_INTERNAL)))
				expected << QString::fromUtf8(type);
		QCOMPARE(ids, expected);
	}

	void preferredIsFirstRegisteredOfPreferenceList()
	{
		const QString preferred = VerticalOutput::preferredEncoderId();
		const qsizetype position = kPreference.indexOf(preferred);
		QVERIFY2(position >= 0, qPrintable(preferred));
		QVERIFY(VerticalOutput::encoderTypeExists(preferred));
		for (qsizetype i = 0; i < position; ++i)
			QVERIFY2(!VerticalOutput::encoderTypeExists(kPreference[i]), qPrintable(kPreference[i]));
	}
};

STILWANE_TEST_MAIN(TestEncoderChoice)
#include "test_encoder_choice.moc"
