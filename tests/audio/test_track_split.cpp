// SPDX-License-Identifier: GPL-2.0-or-later
// The track split over real libobs inputs: which sources take the new vertical track, which lose it, how the
// horizontal exclusions and the separated sources weigh in, and the track pairs that move nothing.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <audio/HorizontalExclusionManager.hpp>
#include <audio/TrackSplit.hpp>
#include <audio/VerticalAudioSource.hpp>
#include <audio/VerticalVolumeManager.hpp>

#include "AudioTestInput.hpp"
#include <ObsTestEnv.hpp>
#include <PluginFixture.hpp>
#include <TestMain.hpp>

#include <obs.hpp>
#include <util/config-file.h>

using namespace stilwane;

class TestTrackSplit : public QObject {
	Q_OBJECT

	PluginFixture fixture;
	VerticalVolumeManager *volumes = VerticalVolumeManager::instance();
	HorizontalExclusionManager *exclusions = HorizontalExclusionManager::instance();
	std::vector<OBSSource> sources;

	obs_source_t *input(const char *name, uint32_t mixers)
	{
		OBSSourceAutoRelease source = audiotest::createInput(name, mixers);
		sources.emplace_back(source.Get());
		return source;
	}

	static uint32_t mixersOf(obs_source_t *source) { return obs_source_get_audio_mixers(source); }

	// The exclusions as a loaded collection states them. The manager was never set up here: it has no timer
	// and runs no pass, so it only answers exclusionBits, and only once started.
	void loadExclusion(obs_source_t *source, uint32_t bits, bool started)
	{
		OBSDataAutoRelease data = obs_data_create();
		OBSDataArrayAutoRelease array = obs_data_array_create();
		OBSDataAutoRelease item = obs_data_create();
		obs_data_set_string(item, "uuid", obs_source_get_uuid(source));
		obs_data_set_int(item, "bits", bits);
		obs_data_array_push_back(array, item);
		obs_data_set_array(data, "horizontal_exclusions", array);
		exclusions->loadFromCollection(data);
		if (started)
			exclusions->start();
		QCOMPARE(exclusions->exclusionBits(source), started ? bits : 0u);
	}

private slots:
	void initTestCase()
	{
		fixture.initTestCase();
		registerVerticalAudioSource();
		volumes->setUp();
	}

	void cleanupTestCase()
	{
		volumes->shutdown();
		volumes->releaseData();
		fixture.cleanupTestCase();
	}

	// The main stream on track 1 (simple output mode), the vertical outputs on track 2.
	void init()
	{
		fixture.freshConfig();
		config().audioTrack = 2;
		config_set_string(fixture.fe.profileConfig(), "Output", "Mode", "Simple");
		volumes->setProfileChanging(false);
		volumes->loadFromCollection(nullptr);
		volumes->restore(probeMainOutputs());
	}

	void cleanup()
	{
		volumes->tearDown();
		volumes->releaseData();
		exclusions->loadFromCollection(nullptr);
		for (const OBSSource &source : sources)
			obs_source_remove(source);
		sources.clear();
	}

	void oneSource_data()
	{
		QTest::addColumn<int>("mainTrack");
		QTest::addColumn<int>("newTrack");
		QTest::addColumn<uint>("mixers");
		QTest::addColumn<uint>("excluded");
		QTest::addColumn<bool>("started");
		QTest::addColumn<bool>("separate");
		QTest::addColumn<bool>("removed");
		QTest::addColumn<uint>("expected");
		QTest::addColumn<int>("added");

		const auto row = [](const char *name, int mainTrack, int newTrack, uint mixers, uint expected,
				    int added, uint excluded = 0, bool started = true, bool separate = false,
				    bool removed = false) {
			QTest::newRow(name) << mainTrack << newTrack << mixers << excluded << started << separate
					    << removed << expected << added;
		};
		row("on the main track", 1, 3, 0x01, 0x05, 1);
		row("on the main and the new track", 1, 3, 0x05, 0x05, 1);
		row("on every track", 1, 3, 0x3f, 0x3f, 1);
		row("on the new track only", 1, 3, 0x04, 0x00, 0);
		row("on the new and another track", 1, 3, 0x06, 0x02, 0);
		row("on neither", 1, 3, 0x02, 0x02, 0);
		row("other track numbers", 4, 6, 0x09, 0x29, 1);
		row("excluded from the main track", 1, 3, 0x02, 0x06, 1, 0x01);
		row("excluded, exclusions stopped", 1, 3, 0x04, 0x00, 0, 0x01, false);
		row("excluded from another track", 1, 3, 0x04, 0x00, 0, 0x08);
		row("separate, on the main track", 1, 3, 0x01, 0x01, 0, 0, true, true);
		row("separate, on the main and the new track", 1, 3, 0x05, 0x01, 0, 0, true, true);
		row("removed", 1, 3, 0x05, 0x05, 0, 0, true, false, true);
		row("same tracks", 1, 1, 0x05, 0x05, 0);
		row("main track 0", 0, 3, 0x05, 0x05, 0);
		row("main track 7", 7, 3, 0x05, 0x05, 0);
		row("new track 0", 1, 0, 0x05, 0x05, 0);
		row("new track 7", 1, 7, 0x01, 0x01, 0);
		row("same tracks, excluded", 1, 1, 0x00, 0x00, 0, 0x01);
	}

	void oneSource()
	{
		QFETCH(int, mainTrack);
		QFETCH(int, newTrack);
		QFETCH(uint, mixers);
		QFETCH(uint, excluded);
		QFETCH(bool, started);
		QFETCH(bool, separate);
		QFETCH(bool, removed);
		QFETCH(uint, expected);
		QFETCH(int, added);

		obs_source_t *source = input("source", mixers);
		if (excluded)
			loadExclusion(source, excluded, started);
		uint32_t mirrorMixers = 0;
		if (separate) {
			QVERIFY(volumes->setSeparate(source, true, probeMainOutputs()));
			OBSSourceAutoRelease mirror = volumes->mirrorOf(source);
			mirrorMixers = obs_source_get_audio_mixers(mirror);
		}
		QCOMPARE(mixersOf(source), uint32_t(mixers));
		if (removed)
			obs_source_remove(source);

		QCOMPARE(moveSourcesToTrack(mainTrack, newTrack), size_t(added));
		QCOMPARE(mixersOf(source), uint32_t(expected));
		if (separate) {
			// The private mirror is not an input of the enumeration: its track stays.
			OBSSourceAutoRelease mirror = volumes->mirrorOf(source);
			QCOMPARE(obs_source_get_audio_mixers(mirror), mirrorMixers);
		}
	}

	// The count is over all sources; a second split between the same tracks moves nothing more.
	void countsEverySourceOnce()
	{
		obs_source_t *mic = input("mic", 0x01);
		obs_source_t *music = input("music", 0x05);
		obs_source_t *stale = input("stale", 0x04);
		obs_source_t *quiet = input("quiet", 0x02);
		obs_source_t *hidden = input("vertical only", 0x02);
		loadExclusion(hidden, 0x01, true);

		QCOMPARE(moveSourcesToTrack(1, 3), size_t(3));
		QCOMPARE(mixersOf(mic), 0x05u);
		QCOMPARE(mixersOf(music), 0x05u);
		QCOMPARE(mixersOf(stale), 0x00u);
		QCOMPARE(mixersOf(quiet), 0x02u);
		QCOMPARE(mixersOf(hidden), 0x06u);

		QCOMPARE(moveSourcesToTrack(1, 3), size_t(3));
		QCOMPARE(mixersOf(mic), 0x05u);
		QCOMPARE(mixersOf(hidden), 0x06u);
	}
};

STILWANE_TEST_MAIN(TestTrackSplit)
#include "test_track_split.moc"
