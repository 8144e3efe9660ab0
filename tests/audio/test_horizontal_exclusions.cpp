// SPDX-License-Identifier: GPL-2.0-or-later
// Horizontal exclusions over real libobs scenes, a vertical canvas that mixes its own audio and the test front
// end's profile: which tracks a source only in vertical scenes loses, when they come back, what pauses the
// passes, the table kept in the collection and when a collection save is asked for.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <audio/HorizontalExclusionManager.hpp>
#include <canvas/CanvasManager.hpp>

#include "AudioTestInput.hpp"
#include <ObsTestEnv.hpp>
#include <PluginFixture.hpp>
#include <TestMain.hpp>

#include <map>

#include <QRegularExpression>

#include <obs.hpp>
#include <util/config-file.h>

using namespace stilwane;

namespace {

constexpr uint32_t kAll = 0x3f;
constexpr uint32_t kMain = 0x1;     // track 1: OBS's main stream (simple output mode)
constexpr uint32_t kVertical = 0x2; // track 2: the vertical track in these tests

QString uuidOf(obs_source_t *source)
{
	return QString::fromUtf8(obs_source_get_uuid(source));
}

int countLog(const QString &text)
{
	int count = 0;
	for (const QString &line : ObsTestEnv::logLines())
		count += line.contains(text);
	return count;
}

} // namespace

class TestHorizontalExclusions : public QObject {
	Q_OBJECT

	PluginFixture fixture;
	CanvasManager *canvas = CanvasManager::instance();
	HorizontalExclusionManager *manager = HorizontalExclusionManager::instance();
	std::vector<OBSSource> sources;
	obs_scene_t *vertical = nullptr;  // the canvas holds it
	obs_scene_t *mainScene = nullptr; // the front end holds it

	obs_source_t *input(const char *name, uint32_t mixers)
	{
		OBSSourceAutoRelease source = audiotest::createInput(name, mixers);
		sources.emplace_back(source.Get());
		return source;
	}

	obs_source_t *verticalOnly(const char *name, uint32_t mixers = kAll)
	{
		obs_source_t *source = input(name, mixers);
		obs_scene_add(vertical, source);
		return source;
	}

	static uint32_t mixersOf(obs_source_t *source) { return obs_source_get_audio_mixers(source); }

	// Entries "Section/Key=value" of the profile OBS's main outputs are read from.
	void setProfile(const QStringList &settings)
	{
		for (const QString &setting : settings) {
			const QStringList parts = setting.split(QRegularExpression("[/=]"));
			config_set_string(fixture.fe.profileConfig(), qPrintable(parts[0]), qPrintable(parts[1]),
					  qPrintable(parts[2]));
		}
	}

	int saves() const { return fixture.fe.saveCount(); }

private slots:
	void initTestCase()
	{
		fixture.initTestCase();
		manager->setUp();
	}

	void cleanupTestCase()
	{
		manager->shutdown();
		fixture.cleanupTestCase();
	}

	// A vertical canvas moved to a mix of its own, as the audio dock's action does it, with one vertical and
	// one main scene; the main stream on track 1, the vertical outputs on track 2.
	void init()
	{
		fixture.freshConfig();
		config().audioTrack = 2;
		setProfile({"Output/Mode=Simple"});
		canvas->loadFromCollection(nullptr);
		canvas->setStudioMode(false);
		QVERIFY(canvas->migrateCanvas(true));
		config().mixAudio = true;
		vertical = canvas->addScene("Vertical");
		QVERIFY(vertical);
		mainScene = obs_scene_from_source(fixture.fe.addScene("Main"));
		manager->loadFromCollection(nullptr);
		ObsTestEnv::clearLog();
	}

	void cleanup()
	{
		// Stopped first: the manager holds the scenes it listens to.
		manager->loadFromCollection(nullptr);
		obs_set_output_source(3, nullptr);
		obs_set_output_source(4, nullptr);
		for (const OBSSource &source : sources)
			obs_source_remove(source);
		sources.clear();
		canvas->releaseCanvas();
		fixture.fe.reset();
		canvas->dropRemovedRetiredCanvases();
	}

	void joiningAMainSceneRestores()
	{
		obs_source_t *mic = verticalOnly("mic");
		manager->start();
		QCOMPARE(mixersOf(mic), kAll & ~kMain);
		QCOMPARE(countLog("[stilwane] horizontal exclusion: 'mic' tracks 0x01 off"), 1);
		QCOMPARE(countLog("horizontal exclusion:"), 1);
		QCOMPARE(manager->entries(), (std::map<QString, uint32_t>{{uuidOf(mic), kMain}}));
		QCOMPARE(manager->exclusionBits(mic), kMain);
		// One save for the change; a pass that changes nothing asks for none.
		QVERIFY(ObsTestEnv::waitUntil([this] { return saves() == 1; }));
		manager->applyExclusions();
		ObsTestEnv::pump(50);
		QCOMPARE(saves(), 1);
		QCOMPARE(countLog("horizontal exclusion:"), 1);

		// The main scene's item_add queues a pass: delivered on its own here, the periodic pass cannot be it.
		obs_scene_add(mainScene, mic);
		QCoreApplication::sendPostedEvents(manager, QEvent::MetaCall);
		QCOMPARE(mixersOf(mic), kAll);
		QVERIFY(manager->entries().empty());
		QCOMPARE(manager->exclusionBits(mic), 0u);
		QCOMPARE(countLog("[stilwane] horizontal exclusion: 'mic' tracks 0x01 restored"), 1);
		QVERIFY(ObsTestEnv::waitUntil([this] { return saves() == 2; }));
		manager->applyExclusions();
		QCOMPARE(mixersOf(mic), kAll);
	}

	// Held back while any vertical scene still has the source; given back once none has.
	void leavingTheVerticalScenesRestores()
	{
		obs_scene_t *second = canvas->addScene("Second");
		obs_source_t *music = verticalOnly("music", kMain | kVertical);
		obs_sceneitem_t *inSecond = obs_scene_add(second, music);
		manager->start();
		QCOMPARE(mixersOf(music), kVertical);

		obs_sceneitem_remove(obs_scene_find_source(vertical, "music"));
		QCoreApplication::sendPostedEvents(manager, QEvent::MetaCall);
		QCOMPARE(mixersOf(music), kVertical);
		QCOMPARE(manager->exclusionBits(music), kMain);

		obs_sceneitem_remove(inSecond);
		QVERIFY(ObsTestEnv::waitUntil([&] { return manager->entries().empty(); }));
		QCOMPARE(mixersOf(music), kMain | kVertical);
		QVERIFY(ObsTestEnv::logContains("[stilwane] horizontal exclusion: 'music' tracks 0x01 restored"));
	}

	void passesPauseWithoutAMixOfItsOwn_data()
	{
		QTest::addColumn<int>("change");
		QTest::newRow("mix off in the settings") << 0;
		QTest::newRow("canvas without its own mix") << 1;
		QTest::newRow("main stream on the vertical track") << 2;
	}

	// Nothing is taken or given back meanwhile, and the stored entries wait for the mix to return.
	void passesPauseWithoutAMixOfItsOwn()
	{
		QFETCH(int, change);
		const auto ownMix = [&](bool on) {
			if (change == 0)
				config().mixAudio = on;
			else if (change == 1)
				return canvas->migrateCanvas(on);
			else
				setProfile({on ? "Output/Mode=Simple" : "Output/Mode=Advanced", "AdvOut/TrackIndex=2"});
			return true;
		};
		obs_source_t *mic = verticalOnly("mic");
		manager->start();
		QCOMPARE(mixersOf(mic), kAll & ~kMain);

		QVERIFY(ownMix(false));
		obs_scene_add(mainScene, mic);
		obs_source_t *late = verticalOnly("late");
		manager->applyExclusions();
		ObsTestEnv::pump(50);
		QCOMPARE(mixersOf(mic), kAll & ~kMain);
		QCOMPARE(mixersOf(late), kAll);
		QCOMPARE(manager->entries(), (std::map<QString, uint32_t>{{uuidOf(mic), kMain}}));
		QVERIFY(!ObsTestEnv::logContains("restored"));

		QVERIFY(ownMix(true));
		manager->applyExclusions();
		QCOMPARE(mixersOf(mic), kAll);
		QCOMPARE(mixersOf(late), kAll & ~kMain);
		QCOMPARE(manager->entries(), (std::map<QString, uint32_t>{{uuidOf(late), kMain}}));
	}

	void takesEveryTrackOfTheMainOutputs_data()
	{
		QTest::addColumn<QStringList>("profile");
		QTest::addColumn<uint>("taken");
		QTest::newRow("simple output") << QStringList{"Output/Mode=Simple"} << 0x01u;
		QTest::newRow("recording on tracks 3 and 4")
			<< QStringList{"Output/Mode=Advanced", "AdvOut/TrackIndex=1", "AdvOut/RecTracks=12"} << 0x0du;
		QTest::newRow("recording on the vertical track")
			<< QStringList{"Output/Mode=Advanced", "AdvOut/TrackIndex=1", "AdvOut/RecTracks=6"} << 0x05u;
		QTest::newRow("FFmpeg recording with replay buffer")
			<< QStringList{"Output/Mode=Advanced", "AdvOut/TrackIndex=1", "AdvOut/RecType=FFmpeg",
				       "AdvOut/FFAudioMixes=48", "AdvOut/RecRB=true"}
			<< 0x31u;
		QTest::newRow("every track")
			<< QStringList{"Output/Mode=Advanced", "AdvOut/TrackIndex=1", "AdvOut/RecTracks=63"} << 0x3du;
		QTest::newRow("stream on track 4")
			<< QStringList{"Output/Mode=Advanced", "AdvOut/TrackIndex=4", "AdvOut/RecTracks=8"} << 0x08u;
	}

	// Whatever the main outputs use, the vertical track stays.
	void takesEveryTrackOfTheMainOutputs()
	{
		QFETCH(QStringList, profile);
		QFETCH(uint, taken);
		setProfile(profile);
		obs_source_t *mic = verticalOnly("mic");
		manager->start();
		QCOMPARE(mixersOf(mic), kAll & ~taken);
		QCOMPARE(manager->exclusionBits(mic), uint32_t(taken));
		QVERIFY(ObsTestEnv::logContains(QString::asprintf("'mic' tracks 0x%02x off", taken)));
	}

	// The libobs output channels are heard on both sides: never taken, and given back once a source joins one.
	void globalSourcesAreShared()
	{
		obs_source_t *aux = verticalOnly("aux");
		obs_set_output_source(4, aux);
		obs_source_t *desktop = verticalOnly("desktop");
		manager->start();
		QCOMPARE(mixersOf(aux), kAll);
		QCOMPARE(mixersOf(desktop), kAll & ~kMain);

		obs_set_output_source(3, desktop);
		QVERIFY(ObsTestEnv::waitUntil([&] { return manager->entries().empty(); }));
		QCOMPARE(mixersOf(desktop), kAll);
		QCOMPARE(mixersOf(aux), kAll);
	}

	void storedTable()
	{
		obs_source_t *kept = verticalOnly("kept", kAll & ~kMain);
		OBSDataAutoRelease data = obs_data_create();
		OBSDataArrayAutoRelease array = obs_data_array_create();
		const std::pair<QString, long long> rows[] = {
			{"b", 0x02},     {"a", 0x01}, {"a", 0x04},           {"zero", 0},      {"high", 0x40},
			{"mixed", 0x41}, {"", 0x01},  {uuidOf(kept), kMain}, {"negative", -1},
		};
		for (const auto &[uuid, bits] : rows) {
			OBSDataAutoRelease item = obs_data_create();
			obs_data_set_string(item, "uuid", uuid.toUtf8().constData());
			obs_data_set_int(item, "bits", bits);
			obs_data_array_push_back(array, item);
		}
		obs_data_set_array(data, "horizontal_exclusions", array);

		manager->loadFromCollection(data);
		const std::map<QString, uint32_t> loaded{{"a", 0x05},
							 {"b", 0x02},
							 {"mixed", 0x01},
							 {uuidOf(kept), kMain}};
		QCOMPARE(manager->entries(), loaded);
		QCOMPARE(manager->exclusionBits(kept), 0u);

		OBSDataAutoRelease saved = obs_data_create();
		manager->saveToCollection(saved);
		OBSDataArrayAutoRelease written = obs_data_get_array(saved, "horizontal_exclusions");
		QStringList uuids;
		for (size_t i = 0; i < obs_data_array_count(written); i++) {
			OBSDataAutoRelease item = obs_data_array_item(written, i);
			QStringList keys;
			for (obs_data_item_t *key = obs_data_first(item); key; obs_data_item_next(&key))
				keys << QString::fromUtf8(obs_data_item_get_name(key));
			QCOMPARE(keys, QStringList({"uuid", "bits"}));
			uuids << QString::fromUtf8(obs_data_get_string(item, "uuid"));
			QCOMPARE(uint32_t(obs_data_get_int(item, "bits")), loaded.at(uuids.last()));
		}
		QStringList sorted = uuids;
		sorted.sort();
		QCOMPARE(size_t(uuids.size()), loaded.size());
		QCOMPARE(uuids, sorted);

		// The first pass drops what no longer exists and keeps what still stands.
		manager->start();
		QCOMPARE(manager->entries(), (std::map<QString, uint32_t>{{uuidOf(kept), kMain}}));
		QCOMPARE(manager->exclusionBits(kept), kMain);
		QVERIFY(ObsTestEnv::waitUntil([this] { return saves() == 1; }));

		obs_source_remove(kept);
		QVERIFY(ObsTestEnv::waitUntil([&] { return manager->entries().empty(); }));
		QCOMPARE(manager->exclusionBits(kept), 0u);
		QVERIFY(ObsTestEnv::waitUntil([this] { return saves() == 2; }));
		manager->stop();
		QCOMPARE(manager->exclusionBits(kept), 0u);
	}

	void saveAfterStopAndSuspend()
	{
		obs_source_t *mic = verticalOnly("mic");
		// The pass schedules a save; a stop and a new start before it runs make it another collection's.
		manager->start();
		manager->stop();
		manager->start();
		ObsTestEnv::pump(100);
		QCOMPARE(saves(), 0);
		QCOMPARE(manager->exclusionBits(mic), kMain);

		// During a profile change the save waits, and no pass runs.
		obs_source_t *music = verticalOnly("music");
		manager->applyExclusions();
		manager->suspend();
		obs_source_t *late = verticalOnly("late");
		manager->applyExclusions();
		ObsTestEnv::pump(100);
		QCOMPARE(saves(), 0);
		QCOMPARE(mixersOf(music), kAll & ~kMain);
		QCOMPARE(mixersOf(late), kAll);
		// Gone again before the resume: no pass after it has anything to save, only the waiting save.
		obs_sceneitem_remove(obs_scene_find_source(vertical, "late"));

		manager->resume();
		QVERIFY(ObsTestEnv::waitUntil([this] { return saves() == 1; }));
		manager->applyExclusions();
		ObsTestEnv::pump(50);
		QCOMPARE(saves(), 1);
		QCOMPARE(mixersOf(late), kAll);
	}
};

STILWANE_TEST_MAIN(TestHorizontalExclusions)
#include "test_horizontal_exclusions.moc"
