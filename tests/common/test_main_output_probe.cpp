// SPDX-License-Identifier: GPL-2.0-or-later
// The main-output probe against in-memory profiles of the test front end, a real streaming service and
// real libobs outputs made active by a small sink output that encodes audio.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <common/MainOutputProbe.hpp>

#include <ObsTestEnv.hpp>
#include <TestFrontend.hpp>
#include <TestMain.hpp>

#include <obs.hpp>
#include <util/config-file.h>

using namespace stilwane;

namespace {

constexpr const char *kSinkId = "stilwane_test_audio_sink";

// An encoded, multi-track audio output that only swallows packets: it lets a test hold a main output
// that is really active, with encoders on chosen mixers, without any network.
bool sinkStart(void *data)
{
	auto *output = static_cast<obs_output_t *>(data);
	if (!obs_output_can_begin_data_capture(output, 0) || !obs_output_initialize_encoders(output, 0))
		return false;
	return obs_output_begin_data_capture(output, 0);
}

void sinkStop(void *data, uint64_t)
{
	obs_output_end_data_capture(static_cast<obs_output_t *>(data));
}

void registerSink()
{
	static bool registered = false;
	if (registered)
		return;
	registered = true;
	obs_output_info info = {};
	info.id = kSinkId;
	info.flags = OBS_OUTPUT_AUDIO | OBS_OUTPUT_ENCODED | OBS_OUTPUT_MULTI_TRACK;
	info.get_name = [](void *) {
		return "Stilwane test audio sink";
	};
	info.create = [](obs_data_t *, obs_output_t *output) -> void * {
		return output;
	};
	info.destroy = [](void *) {
	};
	info.start = sinkStart;
	info.stop = sinkStop;
	info.encoded_packet = [](void *, encoder_packet *) {
	};
	obs_register_output(&info);
}

// A sink output with one AAC encoder per given mixer index (0-based), started and active.
struct ActiveSink {
	OBSOutputAutoRelease output;
	std::vector<OBSEncoderAutoRelease> encoders;

	explicit ActiveSink(std::initializer_list<size_t> mixers)
	{
		registerSink();
		output = obs_output_create(kSinkId, "probe test sink", nullptr, nullptr);
		size_t slot = 0;
		for (size_t mixer : mixers) {
			OBSEncoderAutoRelease encoder =
				obs_audio_encoder_create("ffmpeg_aac", "probe test aac", nullptr, mixer, nullptr);
			obs_encoder_set_audio(encoder, obs_get_audio());
			obs_output_set_audio_encoder(output, encoder, slot++);
			encoders.push_back(std::move(encoder));
		}
	}

	bool start() { return obs_output_start(output) && obs_output_active(output); }

	~ActiveSink()
	{
		if (obs_output_active(output)) {
			obs_output_force_stop(output);
			ObsTestEnv::waitUntil([this] { return !obs_output_active(output); });
		}
	}
};

config_t *profile()
{
	return TestFrontend::instance().profileConfig();
}

void setAdvanced(int trackIndex)
{
	config_set_string(profile(), "Output", "Mode", "Advanced");
	config_set_int(profile(), "AdvOut", "TrackIndex", trackIndex);
}

} // namespace

class TestMainOutputProbe : public QObject {
	Q_OBJECT

private slots:
	void init() { TestFrontend::instance().reset(); }
	void cleanup() { TestFrontend::instance().reset(); }

	void missingOrUnknownModeIsNotValid()
	{
		MainOutputTracks tracks = probeMainOutputs();
		QVERIFY(!tracks.valid);
		QCOMPARE(firstFreeTrack(tracks), 0);

		config_set_string(profile(), "Output", "Mode", "Expert");
		tracks = probeMainOutputs();
		QVERIFY(!tracks.valid);
		QCOMPARE(tracks.streamMask, 0u);
		QCOMPARE(firstFreeTrack(tracks), 0);
	}

	void advancedTrackOutsideRangeIsNotValid()
	{
		for (int index : {0, 7}) {
			setAdvanced(index);
			const MainOutputTracks tracks = probeMainOutputs();
			QVERIFY2(!tracks.valid, qPrintable(QString::number(index)));
			QCOMPARE(firstFreeTrack(tracks), 0);
		}
	}

	void modeIgnoresLetterCase()
	{
		config_set_string(profile(), "Output", "Mode", "advanced");
		config_set_int(profile(), "AdvOut", "TrackIndex", 2);
		config_set_int(profile(), "AdvOut", "RecTracks", 0);
		const MainOutputTracks tracks = probeMainOutputs();
		QVERIFY(tracks.valid);
		QCOMPARE(tracks.streamTrack, 2);
		QCOMPARE(tracks.streamMask, 0x2u);
		// RecTracks 0 falls back to the stream track.
		QCOMPARE(tracks.recordingMask, 0x2u);
		QCOMPARE(firstFreeTrack(tracks), 1);
	}

	void advancedRecordingTables()
	{
		setAdvanced(1);
		config_set_string(profile(), "AdvOut", "RecType", "ffmpeg");
		config_set_int(profile(), "AdvOut", "FFAudioMixes", 0x40 | 0x5);
		config_set_int(profile(), "AdvOut", "RecTracks", 0x3);
		QCOMPARE(probeMainOutputs().recordingMask, 0x5u);

		config_set_string(profile(), "AdvOut", "RecType", "Standard");
		QCOMPARE(probeMainOutputs().recordingMask, 0x3u);

		config_set_string(profile(), "AdvOut", "RecFormat2", "FLV");
		config_set_int(profile(), "AdvOut", "FLVTrack", 4);
		QCOMPARE(probeMainOutputs().recordingMask, 0x8u);

		// Replay buffer follows the recording tracks only when enabled.
		QCOMPARE(probeMainOutputs().replayMask, 0u);
		config_set_bool(profile(), "AdvOut", "RecRB", true);
		QCOMPARE(probeMainOutputs().replayMask, 0x8u);
	}

	void simpleRecordingQualityStreamUsesTrackOne()
	{
		config_set_string(profile(), "Output", "Mode", "Simple");
		config_set_string(profile(), "SimpleOutput", "RecQuality", "Stream");
		config_set_int(profile(), "SimpleOutput", "RecTracks", 0x3c);
		MainOutputTracks tracks = probeMainOutputs();
		QVERIFY(tracks.valid);
		QCOMPARE(tracks.streamTrack, 1);
		QCOMPARE(tracks.streamMask, 0x1u);
		QCOMPARE(tracks.recordingMask, 0x1u);
		QCOMPARE(firstFreeTrack(tracks), 2);

		config_set_string(profile(), "SimpleOutput", "RecQuality", "Small");
		config_set_string(profile(), "SimpleOutput", "RecFormat2", "flv");
		QCOMPARE(probeMainOutputs().recordingMask, 0x1u);

		config_set_string(profile(), "SimpleOutput", "RecQuality", "Lossless");
		tracks = probeMainOutputs();
		QCOMPARE(tracks.recordingMask, 0x3cu);
		QCOMPARE(firstFreeTrack(tracks), 2);
	}

	void vodTrackJoinsStreamMaskForTwitchOnly()
	{
		setAdvanced(1);
		config_set_bool(profile(), "AdvOut", "VodTrackEnabled", true);
		config_set_int(profile(), "AdvOut", "VodTrackIndex", 5);
		config_set_int(profile(), "AdvOut", "RecTracks", 1);
		// Without a service there is no VOD track.
		QCOMPARE(probeMainOutputs().streamMask, 0x1u);

		OBSDataAutoRelease settings = obs_data_create();
		obs_data_set_string(settings, "service", "Twitch");
		OBSServiceAutoRelease twitch = obs_service_create("rtmp_common", "probe twitch", settings, nullptr);
		QVERIFY(twitch);
		TestFrontend::instance().setStreamingService(twitch);
		QCOMPARE(probeMainOutputs().streamMask, 0x11u);

		obs_data_set_string(settings, "service", "YouTube - RTMPS");
		OBSServiceAutoRelease youtube = obs_service_create("rtmp_common", "probe youtube", settings, nullptr);
		TestFrontend::instance().setStreamingService(youtube);
		QCOMPARE(probeMainOutputs().streamMask, 0x1u);
		TestFrontend::instance().setStreamingService(nullptr);
	}

	void vodTrackOfCustomServerFollowsUserSetting()
	{
		config_set_string(profile(), "Output", "Mode", "Simple");
		config_set_bool(profile(), "SimpleOutput", "VodTrackEnabled", true);
		config_set_int(profile(), "SimpleOutput", "RecTracks", 1);
		OBSServiceAutoRelease custom = obs_service_create("rtmp_custom", "probe custom", nullptr, nullptr);
		QVERIFY(custom);
		TestFrontend::instance().setStreamingService(custom);
		QCOMPARE(probeMainOutputs().streamMask, 0x1u);
		config_set_bool(TestFrontend::instance().userConfig(), "General", "EnableCustomServerVodTrack", true);
		QCOMPARE(probeMainOutputs().streamMask, 0x3u);
		TestFrontend::instance().setStreamingService(nullptr);
	}

	void activeMixersOfIdleOrMissingOutputIsZero()
	{
		QCOMPARE(activeMixers(nullptr), 0u);
		ActiveSink sink({1});
		QCOMPARE(activeMixers(sink.output), 0u);
	}

	void runningStreamReplacesConfiguredMask()
	{
		setAdvanced(1);
		config_set_int(profile(), "AdvOut", "RecTracks", 1);
		ActiveSink sink({2});
		QVERIFY(sink.start());
		QCOMPARE(activeMixers(sink.output), 0x4u);
		TestFrontend::instance().setStreamingOutput(sink.output);

		const MainOutputTracks tracks = probeMainOutputs();
		QVERIFY(tracks.valid);
		QCOMPARE(tracks.streamTrack, 3);
		QCOMPARE(tracks.streamMask, 0x4u);
		QCOMPARE(tracks.configuredStreamMask, 0x1u);
		QCOMPARE(firstFreeTrack(tracks), 2);
		TestFrontend::instance().setStreamingOutput(nullptr);
	}

	void runningRecordingAndReplayAddTheirMixers()
	{
		setAdvanced(1);
		config_set_int(profile(), "AdvOut", "RecTracks", 1);
		ActiveSink sink({1, 3});
		QVERIFY(sink.start());
		QCOMPARE(activeMixers(sink.output), 0xau);
		TestFrontend::instance().setRecordingOutput(sink.output);
		TestFrontend::instance().setReplayBufferOutput(sink.output);

		const MainOutputTracks tracks = probeMainOutputs();
		QCOMPARE(tracks.recordingMask, 0xbu);
		QCOMPARE(tracks.replayMask, 0xau);
		QCOMPARE(tracks.configuredStreamMask, 0u);
		QCOMPARE(firstFreeTrack(tracks), 3);
		TestFrontend::instance().setRecordingOutput(nullptr);
		TestFrontend::instance().setReplayBufferOutput(nullptr);
	}

	void everyTrackTakenGivesZero()
	{
		MainOutputTracks tracks;
		tracks.valid = true;
		tracks.streamMask = 0x1;
		tracks.recordingMask = 0x6;
		tracks.replayMask = 0x18;
		QCOMPARE(firstFreeTrack(tracks), 6);
		tracks.configuredStreamMask = 0x20;
		QCOMPARE(firstFreeTrack(tracks), 0);
	}
};

STILWANE_TEST_MAIN(TestMainOutputProbe)
#include "test_main_output_probe.moc"
