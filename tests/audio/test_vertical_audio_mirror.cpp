// SPDX-License-Identifier: GPL-2.0-or-later
// The mirror of a separated source against real libobs running 7.1 audio: what it forwards, the silence it
// sends instead, the mixer rule that keeps the source off the vertical track, and the audio canvas under it.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <audio/AudioCanvas.hpp>
#include <audio/VerticalAudioMirror.hpp>
#include <audio/VerticalAudioSource.hpp>

#include "AudioTestInput.hpp"
#include <ObsTestEnv.hpp>
#include <PluginFixture.hpp>
#include <TestMain.hpp>

#include <memory>
#include <mutex>

#include <obs.hpp>

using namespace stilwane;
using audiotest::Packet;

namespace {

// A channel of libobs's main canvas: activates the source without making it a global audio source (1..6).
constexpr uint32_t kActivatingChannel = 20;

// What reaches the mirror: a capture callback on the mirror itself.
struct Received {
	std::mutex mutex;
	int packets = 0;
	uint32_t frames = 0;
	int planes = 0;
	std::vector<float> first;
	bool allZero = true;

	static void capture(void *param, obs_source_t *, const audio_data *data, bool)
	{
		auto *self = static_cast<Received *>(param);
		std::lock_guard<std::mutex> lock(self->mutex);
		++self->packets;
		self->frames = data->frames;
		self->planes = 0;
		self->first.clear();
		self->allZero = true;
		for (int c = 0; c < MAX_AV_PLANES && data->data[c]; ++c) {
			const auto *samples = reinterpret_cast<const float *>(data->data[c]);
			++self->planes;
			self->first.push_back(data->frames ? samples[0] : 0.0f);
			for (uint32_t i = 0; i < data->frames; ++i)
				self->allZero = self->allZero && samples[i] == 0.0f;
		}
	}
};

const std::vector<float> kEightChannels = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f};

} // namespace

class TestVerticalAudioMirror : public QObject {
	Q_OBJECT

	PluginFixture fixture;
	OBSSourceAutoRelease source;
	std::unique_ptr<AudioCanvas> canvas;
	std::unique_ptr<VerticalAudioMirror> mirror;
	OBSSource mirrorSource;
	std::unique_ptr<Received> received;

	void push(const Packet &packet) { obs_source_output_audio(source, &packet.audio); }

private slots:
	void initTestCase()
	{
		fixture.initTestCase();
		registerVerticalAudioSource();
		// 7.1 before any source exists: every source then resamples to eight channels.
		obs_audio_info oai = {};
		oai.samples_per_sec = 48000;
		oai.speakers = SPEAKERS_7POINT1;
		QVERIFY(obs_reset_audio(&oai));
	}

	void cleanupTestCase() { fixture.cleanupTestCase(); }

	void init()
	{
		ObsTestEnv::clearLog();
		source = audiotest::createInput("tone", 0x3F);
		obs_set_output_source(kActivatingChannel, source);
		canvas = AudioCanvas::create();
		QVERIFY(canvas);
		mirror = VerticalAudioMirror::create(source, *canvas, canvas->freeChannel(), 2, 0.5f, true);
		QVERIFY(mirror);
		mirrorSource = mirror->mirror.Get();
		received = std::make_unique<Received>();
		obs_source_add_audio_capture_callback(mirrorSource, Received::capture, received.get());
	}

	void cleanup()
	{
		if (mirrorSource)
			obs_source_remove_audio_capture_callback(mirrorSource, Received::capture, received.get());
		if (mirror)
			mirror->remove(canvas.get());
		mirror.reset();
		mirrorSource = nullptr;
		canvas.reset();
		obs_set_output_source(kActivatingChannel, nullptr);
		obs_source_remove(source);
		source = nullptr;
	}

	void typeAndMirrorAreSetUpAsInternal()
	{
		QVERIFY(obs_get_source_output_flags(kVerticalAudioSourceId) & OBS_SOURCE_CAP_DISABLED);
		QCOMPARE(QString::fromUtf8(obs_source_get_display_name(kVerticalAudioSourceId)),
			 QStringLiteral("Stilwane vertical audio (internal)"));
		QVERIFY(isInternalAudioSource(mirrorSource));
		QVERIFY(!isInternalAudioSource(source));
		QVERIFY(!isInternalAudioSource(nullptr));
		QCOMPARE(QString::fromUtf8(obs_source_get_name(mirrorSource)),
			 QStringLiteral("Stilwane vertical audio: tone"));
		QCOMPARE(obs_source_get_audio_mixers(mirrorSource), 0u);
		QCOMPARE(obs_source_get_volume(mirrorSource), 0.5f);
		QVERIFY(obs_source_muted(mirrorSource));
		QCOMPARE(mirror->globalChannel, 0);
		QCOMPARE(mirror->verticalTrack, 2);

		// On the audio canvas, active, and libobs's main output mix does not know it.
		OBSSourceAutoRelease onChannel = obs_canvas_get_channel(canvas->canvas(), uint32_t(mirror->channel));
		QCOMPARE(onChannel.Get(), mirrorSource.Get());
		QVERIFY(obs_source_active(mirrorSource));
		QCOMPARE(obs_canvas_get_flags(canvas->canvas()) & (uint32_t(::ACTIVATE) | uint32_t(::MIX_AUDIO)),
			 uint32_t(::ACTIVATE) | uint32_t(::MIX_AUDIO));
		// The test's video is NV12, whose chroma needs 2x2 pixels.
		QVERIFY(ObsTestEnv::logContains(
			"[stilwane] vertical volume: audio canvas created (base 1x1, output 2x2)"));
		QCOMPARE(globalAudioChannel(source), 0);
		obs_set_output_source(4, source);
		QCOMPARE(globalAudioChannel(source), 4);
		obs_set_output_source(4, nullptr);
	}

	void outputSizeWidensForChroma_data()
	{
		QTest::addColumn<int>("format");
		QTest::addColumn<uint>("width");
		QTest::addColumn<uint>("height");
		QTest::newRow("NV12") << int(VIDEO_FORMAT_NV12) << 2u << 2u;
		QTest::newRow("I420") << int(VIDEO_FORMAT_I420) << 2u << 2u;
		QTest::newRow("P010") << int(VIDEO_FORMAT_P010) << 2u << 2u;
		QTest::newRow("YUY2") << int(VIDEO_FORMAT_YUY2) << 2u << 1u;
		QTest::newRow("P216") << int(VIDEO_FORMAT_P216) << 2u << 1u;
		QTest::newRow("I444") << int(VIDEO_FORMAT_I444) << 1u << 1u;
		QTest::newRow("RGBA") << int(VIDEO_FORMAT_RGBA) << 1u << 1u;
	}

	void outputSizeWidensForChroma()
	{
		QFETCH(int, format);
		QFETCH(uint, width);
		QFETCH(uint, height);
		uint32_t outWidth = 0, outHeight = 0;
		AudioCanvas::outputSize(video_format(format), outWidth, outHeight);
		QCOMPARE(outWidth, uint32_t(width));
		QCOMPARE(outHeight, uint32_t(height));
	}

	void forwardsEveryChannelOf71()
	{
		push(Packet(kEightChannels, 480, SPEAKERS_7POINT1));
		std::lock_guard<std::mutex> lock(received->mutex);
		QCOMPARE(received->packets, 1);
		QCOMPARE(received->frames, 480u);
		QCOMPARE(received->planes, 8);
		for (int c = 0; c < 8; ++c)
			QCOMPARE(received->first[size_t(c)], kEightChannels[size_t(c)]);
		QVERIFY(!received->allZero);
	}

	void dropsLayoutsItCannotCount_data()
	{
		QTest::addColumn<int>("layout");
		QTest::addColumn<bool>("forwarded");
		QTest::newRow("mono") << int(SPEAKERS_MONO) << true;
		QTest::newRow("stereo") << int(SPEAKERS_STEREO) << true;
		QTest::newRow("2.1") << int(SPEAKERS_2POINT1) << true;
		QTest::newRow("4.0") << int(SPEAKERS_4POINT0) << true;
		QTest::newRow("4.1") << int(SPEAKERS_4POINT1) << true;
		QTest::newRow("5.1") << int(SPEAKERS_5POINT1) << true;
		QTest::newRow("7.1") << int(SPEAKERS_7POINT1) << true;
		QTest::newRow("unknown") << int(SPEAKERS_UNKNOWN) << false;
		// Values that name no layout libobs knows.
		QTest::newRow("unnamed 7") << 7 << false;
		QTest::newRow("unnamed 9") << 9 << false;
	}

	// The capture's own entry with other layouts than the 7.1 libobs runs here.
	void dropsLayoutsItCannotCount()
	{
		QFETCH(int, layout);
		QFETCH(bool, forwarded);
		const Packet packet(kEightChannels, 480, SPEAKERS_7POINT1);
		const audio_data data = packet.asCaptured();
		mirror->forwardAudio(&data, false, speaker_layout(layout), 48000);
		std::lock_guard<std::mutex> lock(received->mutex);
		QCOMPARE(received->packets, forwarded ? 1 : 0);
		QCOMPARE(VerticalAudioMirror::layoutChannels(speaker_layout(layout)) != 0, forwarded);
	}

	void silenceOfTheRightLength_data()
	{
		QTest::addColumn<QString>("cause");
		QTest::addColumn<uint>("frames");
		QTest::newRow("muted, short") << "muted" << 256u;
		QTest::newRow("muted, longer than the buffer") << "muted" << 1500u;
		QTest::newRow("disabled") << "disabled" << 1024u;
		QTest::newRow("inactive") << "inactive" << 2048u;
		QTest::newRow("removed") << "removed" << 1200u;
	}

	void silenceOfTheRightLength()
	{
		QFETCH(QString, cause);
		QFETCH(uint, frames);
		if (cause == "muted")
			obs_source_set_muted(source, true);
		else if (cause == "disabled")
			obs_source_set_enabled(source, false);
		else if (cause == "inactive")
			obs_set_output_source(kActivatingChannel, nullptr);
		else
			obs_source_remove(source);
		QVERIFY(cause != "inactive" || !obs_source_active(source));

		push(Packet(kEightChannels, frames, SPEAKERS_7POINT1));
		std::lock_guard<std::mutex> lock(received->mutex);
		QCOMPARE(received->packets, 1);
		QCOMPARE(received->frames, frames);
		QCOMPARE(received->planes, 8);
		QVERIFY(received->allZero);
		QVERIFY(mirror->silence.size() >= frames);
	}

	void syncOffsetFollowsTheSource()
	{
		obs_source_set_sync_offset(source, 40'000'000);
		push(Packet(kEightChannels, 480, SPEAKERS_7POINT1));
		QCOMPARE(obs_source_get_sync_offset(mirrorSource), int64_t(40'000'000));
	}

	// Whoever changes the separated source's mixers (OBS's advanced audio properties here), the vertical bit
	// stays off while the mirror is in force, and comes back as before once it is not.
	void separatedSourceNeverGetsTheVerticalTrackBack()
	{
		const uint32_t vertical = trackBit(2);
		mirror->applyMixers(vertical, true, true, false);
		QCOMPARE(obs_source_get_audio_mixers(source), 0x3Fu & ~vertical);
		QCOMPARE(obs_source_get_audio_mixers(mirrorSource), vertical);
		QCOMPARE(mirror->removalMask.load(), vertical);

		obs_source_set_audio_mixers(source, 0x3F);
		QCOMPARE(obs_source_get_audio_mixers(source), 0x3Fu & ~vertical);
		obs_source_set_audio_mixers(source, vertical | 0x1);
		QCOMPARE(obs_source_get_audio_mixers(source), 0x1u);

		// Separate off, keeping the source as it is: nothing comes back, but nothing is held back either.
		mirror->applyMixers(vertical, false, true, true);
		QCOMPARE(obs_source_get_audio_mixers(source), 0x1u);
		QCOMPARE(obs_source_get_audio_mixers(mirrorSource), 0u);
		QCOMPARE(mirror->removalMask.load(), 0u);
		obs_source_set_audio_mixers(source, 0x3F);
		QCOMPARE(obs_source_get_audio_mixers(source), 0x3Fu);
	}

	void separateOffGivesTheBitBackExactlyWhenOnVertical_data()
	{
		QTest::addColumn<bool>("onVertical");
		QTest::addColumn<uint>("expected");
		QTest::newRow("on vertical") << true << 0x3Fu;
		QTest::newRow("off vertical") << false << (0x3Fu & ~trackBit(2));
	}

	void separateOffGivesTheBitBackExactlyWhenOnVertical()
	{
		QFETCH(bool, onVertical);
		QFETCH(uint, expected);
		mirror->applyMixers(trackBit(2), true, onVertical, false);
		QCOMPARE(obs_source_get_audio_mixers(mirrorSource), onVertical ? trackBit(2) : 0u);
		mirror->applyMixers(trackBit(2), false, onVertical, false);
		QCOMPARE(obs_source_get_audio_mixers(source), uint32_t(expected));
		QCOMPARE(obs_source_get_audio_mixers(mirrorSource), 0u);
	}

	void removalDetachesEverything()
	{
		mirror->applyMixers(trackBit(2), true, true, false);
		const int channel = mirror->channel;
		obs_source_remove_audio_capture_callback(mirrorSource, Received::capture, received.get());
		OBSSource kept = mirrorSource;
		mirrorSource = nullptr;
		mirror->remove(canvas.get());
		QVERIFY(obs_source_removed(kept));
		QVERIFY(!mirror->captureAttached);
		QVERIFY(!mirror->mixersHandlerAttached);
		QCOMPARE(canvas->usedChannels(), 0);
		OBSSourceAutoRelease onChannel = obs_canvas_get_channel(canvas->canvas(), uint32_t(channel));
		QVERIFY(!onChannel);
		// The removal mask went with it: the source's mixers are its own again (the mirror does not give
		// the bit back by itself; that is the caller's applyMirrorMixers).
		obs_source_set_audio_mixers(source, 0x3F);
		QCOMPARE(obs_source_get_audio_mixers(source), 0x3Fu);
		mirror.reset();
		canvas.reset();
		QVERIFY(ObsTestEnv::logContains("[stilwane] vertical volume: audio canvas released"));
	}
};

STILWANE_TEST_MAIN(TestVerticalAudioMirror)
#include "test_vertical_audio_mirror.moc"
