// SPDX-License-Identifier: GPL-2.0-or-later
// Separate vertical volumes over real libobs sources and the test front end's profile: the stored list and
// its repairs, separate on and off, the conflict with the main stream track, the limit of 64 mirrors, the
// check timer following a changed vertical track and removed sources, and the status codes.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <audio/VerticalAudioSource.hpp>
#include <audio/VerticalVolumeManager.hpp>

#include "AudioTestInput.hpp"
#include <ObsTestEnv.hpp>
#include <PluginFixture.hpp>
#include <TestMain.hpp>

#include <cmath>
#include <limits>

#include <obs.hpp>
#include <util/config-file.h>

using namespace stilwane;

namespace {

constexpr uint32_t kMain = 0x1;     // track 1: OBS's main stream (simple output mode)
constexpr uint32_t kVertical = 0x2; // track 2: the vertical track in these tests

obs_data_t *entry(const char *uuid)
{
	obs_data_t *item = obs_data_create();
	obs_data_set_string(item, "uuid", uuid);
	return item;
}

} // namespace

class TestVerticalVolumes : public QObject {
	Q_OBJECT

	PluginFixture fixture;
	VerticalVolumeManager *manager = VerticalVolumeManager::instance();
	std::vector<OBSSource> sources;

	obs_source_t *input(const char *name, uint32_t mixers)
	{
		OBSSourceAutoRelease source = audiotest::createInput(name, mixers);
		sources.emplace_back(source.Get());
		return source;
	}

	static uint32_t mixersOf(obs_source_t *source) { return obs_source_get_audio_mixers(source); }

	uint32_t mirrorMixers(obs_source_t *source)
	{
		OBSSourceAutoRelease mirror = manager->mirrorOf(source);
		return mirror ? obs_source_get_audio_mixers(mirror) : 0xFFFFFFFF;
	}

	const VerticalVolumeSetting *settingOf(obs_source_t *source) const
	{
		const QString uuid = QString::fromUtf8(obs_source_get_uuid(source));
		for (const auto &setting : manager->storedSettings())
			if (setting.uuid == uuid)
				return &setting;
		return nullptr;
	}

	void mainStreamOnTrack(int track)
	{
		config_set_string(fixture.fe.profileConfig(), "Output", "Mode", "Advanced");
		config_set_int(fixture.fe.profileConfig(), "AdvOut", "TrackIndex", track);
	}

private slots:
	void initTestCase()
	{
		fixture.initTestCase();
		registerVerticalAudioSource();
		manager->setUp();
	}

	void cleanupTestCase()
	{
		manager->shutdown();
		manager->releaseData();
		fixture.cleanupTestCase();
	}

	void init()
	{
		fixture.freshConfig();
		config().audioTrack = 2;
		config_set_string(fixture.fe.profileConfig(), "Output", "Mode", "Simple");
		manager->setProfileChanging(false);
		manager->loadFromCollection(nullptr);
		manager->restore(probeMainOutputs());
		ObsTestEnv::clearLog();
	}

	void cleanup()
	{
		manager->tearDown();
		manager->releaseData();
		obs_set_output_source(3, nullptr);
		for (const OBSSource &source : sources)
			obs_source_remove(source);
		sources.clear();
	}

	void loadSkipsDuplicatesAndRepairsValues()
	{
		manager->tearDown();
		OBSDataAutoRelease data = obs_data_create();
		OBSDataArrayAutoRelease array = obs_data_array_create();
		const auto add = [&array](obs_data_t *item) {
			obs_data_array_push_back(array, item);
			obs_data_release(item);
		};
		obs_data_t *first = entry("a");
		obs_data_set_double(first, "volume", 0.5);
		obs_data_set_bool(first, "muted", true);
		obs_data_set_bool(first, "vertical", false);
		obs_data_set_int(first, "global_channel", 3);
		add(first);
		obs_data_t *again = entry("a");
		obs_data_set_double(again, "volume", 0.25);
		add(again);
		add(entry(""));
		add(obs_data_create());
		const std::pair<const char *, double> badVolumes[] = {
			{"negative", -0.5},
			{"infinite", std::numeric_limits<double>::infinity()},
			{"nan", std::numeric_limits<double>::quiet_NaN()},
			{"beyond-float", 1e300},
		};
		for (const auto &[uuid, volume] : badVolumes) {
			obs_data_t *item = entry(uuid);
			obs_data_set_double(item, "volume", volume);
			add(item);
		}
		obs_data_t *odd = entry("odd-channel");
		obs_data_set_int(odd, "global_channel", 9);
		obs_data_set_double(odd, "volume", 0.0);
		add(odd);
		obs_data_set_array(data, "vertical_volumes", array);

		manager->loadFromCollection(data);
		const auto &settings = manager->storedSettings();
		QCOMPARE(settings.size(), size_t(6));
		QCOMPARE(settings[0].uuid, QStringLiteral("a"));
		QCOMPARE(settings[0].volume, 0.5f);
		QCOMPARE(settings[0].muted, true);
		QCOMPARE(settings[0].vertical, false);
		QCOMPARE(settings[0].globalChannel, 3);
		for (size_t i = 1; i <= 4; ++i) {
			QCOMPARE(settings[i].uuid, QString::fromUtf8(badVolumes[i - 1].first));
			QCOMPARE(settings[i].volume, 1.0f);
			QCOMPARE(settings[i].muted, false);
			QCOMPARE(settings[i].vertical, true);
			QCOMPARE(settings[i].globalChannel, 0);
		}
		QCOMPARE(settings[5].globalChannel, 0);
		QCOMPARE(settings[5].volume, 0.0f);

		// Written back with exactly the five keys, in list order.
		OBSDataAutoRelease saved = obs_data_create();
		manager->saveToCollection(saved);
		OBSDataArrayAutoRelease written = obs_data_get_array(saved, "vertical_volumes");
		QCOMPARE(obs_data_array_count(written), size_t(6));
		OBSDataAutoRelease head = obs_data_array_item(written, 0);
		QCOMPARE(QString::fromUtf8(obs_data_get_json(head)).count(':'), 5);
		QCOMPARE(obs_data_get_double(head, "volume"), 0.5);
		QCOMPARE(obs_data_get_bool(head, "vertical"), false);

		// Restoring drops the settings of sources that do not exist.
		manager->restore(probeMainOutputs());
		QVERIFY(manager->storedSettings().empty());
		QCOMPARE(manager->mirrorCount(), 0);
	}

	void separateOnAndOff()
	{
		obs_source_t *mic = input("mic", kMain | kVertical);
		obs_source_set_volume(mic, 0.75f);
		QSignalSpy changed(manager, &VerticalVolumeManager::mirrorsChanged);
		QVERIFY(manager->setSeparate(mic, true, probeMainOutputs()));
		QCOMPARE(changed.count(), 1);
		QVERIFY(manager->hasMirror(mic));
		QCOMPARE(mixersOf(mic), kMain);
		QCOMPARE(mirrorMixers(mic), kVertical);
		OBSSourceAutoRelease mirror = manager->mirrorOf(mic);
		QVERIFY(isInternalAudioSource(mirror));
		QCOMPARE(obs_source_get_volume(mirror), 0.75f);
		QVERIFY(ObsTestEnv::logContains("[stilwane] vertical volume: 'mic' separate on"));
		const VerticalVolumeSetting *setting = settingOf(mic);
		QVERIFY(setting);
		QCOMPARE(setting->vertical, true);
		QCOMPARE(setting->volume, 0.75f);
		// A second request changes nothing.
		QVERIFY(manager->setSeparate(mic, true, probeMainOutputs()));
		QCOMPARE(manager->mirrorCount(), 1);

		// Changed elsewhere (OBS's advanced audio properties): the vertical bit stays with the mirror.
		obs_source_set_audio_mixers(mic, 0x3F);
		QCOMPARE(mixersOf(mic), 0x3Fu & ~kVertical);
		obs_source_set_audio_mixers(mic, kMain);

		// The user's volume and mute on the mirror are what is saved.
		obs_source_set_volume(mirror, 0.3f);
		obs_source_set_muted(mirror, true);
		OBSDataAutoRelease saved = obs_data_create();
		manager->saveToCollection(saved);
		OBSDataArrayAutoRelease array = obs_data_get_array(saved, "vertical_volumes");
		OBSDataAutoRelease item = obs_data_array_item(array, 0);
		QCOMPARE(float(obs_data_get_double(item, "volume")), 0.3f);
		QVERIFY(obs_data_get_bool(item, "muted"));

		QVERIFY(manager->setSeparate(mic, false, probeMainOutputs()));
		QCOMPARE(changed.count(), 2);
		QVERIFY(!manager->hasMirror(mic));
		QVERIFY(!settingOf(mic));
		QCOMPARE(mixersOf(mic), kMain | kVertical);
		QVERIFY(obs_source_removed(mirror));
		QVERIFY(ObsTestEnv::logContains("[stilwane] vertical volume: 'mic' separate off"));
		QVERIFY(ObsTestEnv::logContains("[stilwane] vertical volume: audio canvas released"));
	}

	// A stored separated source comes back after a collection reload, keeping its mixers without the
	// vertical bit while it has no mirror.
	void teardownKeepsSettingsAndRestoreBringsMirrorsBack()
	{
		obs_source_t *music = input("music", kMain | kVertical);
		QVERIFY(manager->setSeparate(music, true, probeMainOutputs()));
		OBSSourceAutoRelease mirror = manager->mirrorOf(music);
		obs_source_set_volume(mirror, 0.4f);
		manager->tearDown();
		QVERIFY(!manager->isEnabled());
		QCOMPARE(manager->mirrorCount(), 0);
		QCOMPARE(mixersOf(music), kMain);
		QVERIFY(settingOf(music));
		QCOMPARE(settingOf(music)->volume, 0.4f);
		QCOMPARE(manager->separateStatus(music, probeMainOutputs()),
			 int(VerticalVolumeManager::SeparateUnavailable));

		manager->restore(probeMainOutputs());
		QVERIFY(manager->hasMirror(music));
		OBSSourceAutoRelease restored = manager->mirrorOf(music);
		QCOMPARE(obs_source_get_volume(restored), 0.4f);
		QCOMPARE(mirrorMixers(music), kVertical);
		QCOMPARE(mixersOf(music), kMain);
	}

	void conflictWithTheMainStreamTrackTurnsEverythingOff()
	{
		obs_source_t *heard = input("heard", kMain | kVertical);
		obs_source_t *silent = input("not on vertical", kMain);
		QVERIFY(manager->setSeparate(heard, true, probeMainOutputs()));
		QVERIFY(manager->setSeparate(silent, true, probeMainOutputs()));
		QCOMPARE(mirrorMixers(silent), 0u);
		QCOMPARE(mixersOf(heard), kMain);

		// The main stream moves onto the vertical track; the check timer notices within about a second.
		mainStreamOnTrack(2);
		QVERIFY(ObsTestEnv::waitUntil([this] { return manager->mirrorCount() == 0; }, 3000));
		QCOMPARE(mixersOf(heard), kMain | kVertical);
		QCOMPARE(mixersOf(silent), kMain);
		QVERIFY(manager->storedSettings().empty());
		QVERIFY(ObsTestEnv::logContains(
			"warning: [stilwane] vertical volume: 'heard' separate off (same horizontal track)"));
		QVERIFY(ObsTestEnv::logContains(
			"warning: [stilwane] vertical volume: 'not on vertical' separate off (same horizontal track)"));
		QCOMPARE(manager->separateStatus(heard, probeMainOutputs()),
			 int(VerticalVolumeManager::SeparateNeedsSplit));
	}

	// At the next check every mirror moves to the new track; the source keeps no bit on either.
	void changedVerticalTrackRetargetsMirrors()
	{
		obs_source_t *mic = input("mic", kMain | kVertical);
		QVERIFY(manager->setSeparate(mic, true, probeMainOutputs()));
		config().audioTrack = 3;
		QVERIFY(ObsTestEnv::waitUntil([&] { return mirrorMixers(mic) == trackBit(3); }, 1000));
		QCOMPARE(mixersOf(mic), kMain);
		obs_source_set_audio_mixers(mic, kMain | kVertical | trackBit(3));
		QCOMPARE(mixersOf(mic), kMain | kVertical);
		QVERIFY(manager->setSeparate(mic, false, probeMainOutputs()));
		QCOMPARE(mixersOf(mic), kMain | kVertical | trackBit(3));
	}

	void sixtyFifthRequestIsRefused()
	{
		for (int i = 0; i < VerticalVolumeManager::kMaxMirrors; ++i) {
			const QByteArray name = QByteArray("source ") + QByteArray::number(i);
			QVERIFY(manager->setSeparate(input(name.constData(), kMain | kVertical), true,
						     probeMainOutputs()));
		}
		QCOMPARE(manager->mirrorCount(), 64);
		obs_source_t *extra = input("one too many", kMain | kVertical);
		QCOMPARE(manager->separateStatus(extra, probeMainOutputs()), int(VerticalVolumeManager::SeparateLimit));
		QVERIFY(!manager->setSeparate(extra, true, probeMainOutputs()));
		QCOMPARE(mixersOf(extra), kMain | kVertical);
		QVERIFY(!settingOf(extra));
		// A source that has its mirror is still possible.
		QCOMPARE(manager->separateStatus(sources.front(), probeMainOutputs()),
			 int(VerticalVolumeManager::SeparatePossible));
		// Turning one off frees a channel for the next.
		QVERIFY(manager->setSeparate(sources[10], false, probeMainOutputs()));
		QVERIFY(manager->setSeparate(extra, true, probeMainOutputs()));
		QCOMPARE(manager->mirrorCount(), 64);
	}

	void removedSourceDropsMirrorAndEntry()
	{
		obs_source_t *kept = input("kept", kMain | kVertical);
		obs_source_t *gone = input("gone", kMain | kVertical);
		QVERIFY(manager->setSeparate(kept, true, probeMainOutputs()));
		QVERIFY(manager->setSeparate(gone, true, probeMainOutputs()));
		QSignalSpy changed(manager, &VerticalVolumeManager::mirrorsChanged);
		obs_source_remove(gone);
		QVERIFY(ObsTestEnv::waitUntil([&] { return !manager->hasMirror(gone) && !settingOf(gone); }, 500));
		QCOMPARE(changed.count(), 1);
		QVERIFY(manager->hasMirror(kept));
		QVERIFY(settingOf(kept));
	}

	void globalSourceLeavingItsChannelIsDropped()
	{
		obs_source_t *desktop = input("desktop", kMain | kVertical);
		obs_set_output_source(3, desktop);
		QVERIFY(manager->setSeparate(desktop, true, probeMainOutputs()));
		QCOMPARE(settingOf(desktop)->globalChannel, 3);
		obs_set_output_source(3, nullptr);
		QVERIFY(ObsTestEnv::waitUntil([&] { return !manager->hasMirror(desktop) && !settingOf(desktop); },
					      500));
		QVERIFY(ObsTestEnv::logContains("[stilwane] vertical volume: audio canvas released"));
	}

	void statusCodes()
	{
		obs_source_t *mic = input("mic", kMain | kVertical);
		const MainOutputTracks probe = probeMainOutputs();
		QVERIFY(probe.valid);
		QCOMPARE(manager->separateStatus(mic, probe), int(VerticalVolumeManager::SeparatePossible));
		QCOMPARE(manager->separateStatus(nullptr, probe), int(VerticalVolumeManager::SeparateUnavailable));

		MainOutputTracks unknown;
		QCOMPARE(manager->separateStatus(mic, unknown), int(VerticalVolumeManager::HorizontalUnknown));
		MainOutputTracks outside = probe;
		outside.streamTrack = 7;
		QCOMPARE(manager->separateStatus(mic, outside), int(VerticalVolumeManager::HorizontalUnknown));
		MainOutputTracks same = probe;
		same.streamTrack = 2;
		QCOMPARE(manager->separateStatus(mic, same), int(VerticalVolumeManager::SeparateNeedsSplit));

		obs_scene_t *privateScene = obs_scene_create_private("scene");
		obs_source_t *scene = obs_scene_get_source(privateScene);
		QCOMPARE(manager->separateStatus(scene, probe), int(VerticalVolumeManager::SeparateUnsupported));
		QVERIFY(!manager->setSeparate(scene, true, probe));
		QVERIFY(manager->setSeparate(mic, true, probe));
		OBSSourceAutoRelease mirror = manager->mirrorOf(mic);
		QCOMPARE(manager->separateStatus(mirror, probe), int(VerticalVolumeManager::SeparateUnsupported));

		config().audioTrack = 7;
		QCOMPARE(manager->separateStatus(mic, probe), int(VerticalVolumeManager::SeparateUnavailable));
		config().audioTrack = 2;

		manager->setProfileChanging(true);
		QCOMPARE(manager->separateStatus(mic, probe), int(VerticalVolumeManager::ProfileChanging));
		// Nothing is re-evaluated meanwhile, not even a conflict.
		mainStreamOnTrack(2);
		ObsTestEnv::pump(1200);
		QCOMPARE(manager->mirrorCount(), 1);
		manager->setProfileChanging(false);
		manager->reevaluate();
		QCOMPARE(manager->mirrorCount(), 0);

		obs_source_remove(scene);
		obs_scene_release(privateScene);
	}

	void statusTexts_data()
	{
		QTest::addColumn<int>("status");
		QTest::addColumn<QString>("key");
		QTest::newRow("0") << 0 << "Audio.SeparateHint";
		QTest::newRow("1") << 1 << "Audio.SeparateNeedsSplit";
		QTest::newRow("2") << 2 << "Audio.HorizontalUnknown";
		QTest::newRow("3") << 3 << "Audio.SeparateProfileChanging";
		QTest::newRow("4") << 4 << "Audio.SeparateLimit";
		QTest::newRow("5") << 5 << "Audio.SeparateUnsupported";
		QTest::newRow("6") << 6 << "Audio.SeparateUnavailable";
	}

	void statusTexts()
	{
		QFETCH(int, status);
		QFETCH(QString, key);
		const QString text = VerticalVolumeManager::separateStatusText(status);
		QCOMPARE(text, translate(key.toUtf8().constData()));
		QVERIFY2(text != key, qPrintable(key));
	}
};

STILWANE_TEST_MAIN(TestVerticalVolumes)
#include "test_vertical_volumes.moc"
