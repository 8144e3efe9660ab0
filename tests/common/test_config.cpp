// SPDX-License-Identifier: GPL-2.0-or-later
// config.json: defaults, load-time corrections, the save/reload round trip and the backup file.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <hotkeys/HotkeyManager.hpp>
#include <common/ConfigRecord.hpp>

#include <ObsTestEnv.hpp>
#include <TestMain.hpp>

#include <QFile>
#include <QJsonDocument>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <obs.hpp>

using namespace stilwane;

class TestConfig : public QObject {
	Q_OBJECT

	QTemporaryDir dir;

	QString path() const { return dir.filePath("config.json"); }

	void writeFile(const QString &name, const QByteArray &json)
	{
		QFile file(dir.filePath(name));
		QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
		file.write(json);
	}

	void loadFrom(const QByteArray &json)
	{
		writeFile("config.json", json);
		loadConfig();
	}

private slots:
	void init()
	{
		QVERIFY(dir.isValid());
		setConfigDirectoryOverride(dir.path().toStdString());
		QFile::remove(path());
		QFile::remove(path() + ".bak");
		config() = ConfigRecord{};
	}

	void cleanup() { HotkeyManager::instance()->unregisterAll(false); }

	void defaultsWithoutAnyFile()
	{
		loadConfig();
		const ConfigRecord &c = config();
		QCOMPARE(c.width, 1080u);
		QCOMPARE(c.height, 1920u);
		QCOMPARE(QString::fromStdString(c.server), QString("rtmps://a.rtmps.youtube.com:443/live2"));
		QCOMPARE(c.replaySeconds, 60);
		QCOMPARE(c.guideTop, 190);
		QVERIFY(c.autoStart);
		QVERIFY(c.replaySaveWithMain);
		QVERIFY(!c.mixAudio);
		QVERIFY(c.projectors.empty());
	}

	void sizeRuleResetsBoth()
	{
		loadFrom(R"({"width": 8, "height": 1920})");
		QCOMPARE(config().width, 1080u);
		QCOMPARE(config().height, 1920u);

		config() = ConfigRecord{};
		loadFrom(R"({"width": 720, "height": -5})");
		QCOMPARE(config().width, 1080u);
		QCOMPARE(config().height, 1920u);

		config() = ConfigRecord{};
		loadFrom(R"({"width": 720, "height": 1280})");
		QCOMPARE(config().width, 720u);
		QCOMPARE(config().height, 1280u);
	}

	void rangeCorrections_data()
	{
		QTest::addColumn<QByteArray>("json");
		QTest::addColumn<int>("replaySeconds");
		QTest::addColumn<int>("audioTrack");
		QTest::addColumn<int>("tab");
		QTest::addColumn<QString>("format");
		QTest::newRow("low") << QByteArray(R"({"replay_seconds": 0, "audio_track": 0, "main_dock_tab": -1,
			"recording_format": "mov"})")
				     << 1 << 1 << 0 << "mp4";
		QTest::newRow("high") << QByteArray(R"({"replay_seconds": 600, "audio_track": 7, "main_dock_tab": 4,
			"recording_format": "MKV"})")
				      << 180 << 1 << 0 << "mp4";
		QTest::newRow("valid") << QByteArray(R"({"replay_seconds": 180, "audio_track": 6, "main_dock_tab": 3,
			"recording_format": "mkv"})")
				       << 180 << 6 << 3 << "mkv";
	}

	void rangeCorrections()
	{
		QFETCH(QByteArray, json);
		loadFrom(json);
		QTEST(config().replaySeconds, "replaySeconds");
		QTEST(config().audioTrack, "audioTrack");
		QTEST(config().mainDockTab, "tab");
		QTEST(QString::fromStdString(config().recordingFormat), "format");
	}

	void emptyServerBecomesDefault()
	{
		loadFrom(R"({"server": "", "key": "abc", "transition_ms": 99999})");
		QCOMPARE(QString::fromStdString(config().server), QString("rtmps://a.rtmps.youtube.com:443/live2"));
		QCOMPARE(QString::fromStdString(config().key), QString("abc"));
		// Clamped where it is used, not at load.
		QCOMPARE(config().transitionMs, 99999);
	}

	void projectorCorrections()
	{
		loadFrom(R"({"projectors": [
			{"mode": "Fullscreen", "width": 0, "height": 40000, "x": 2000000, "y": -20, "screen_width": -1,
			 "screen_name": "HDMI-1", "always_on_top": true},
			42,
			{"mode": "fullscreen", "width": 800, "height": 600, "screen_x": -1000000, "geometry": "AdnQyw=="}
		]})");
		const auto &list = config().projectors;
		QCOMPARE(list.size(), size_t(2));
		QCOMPARE(QString::fromStdString(list[0].mode), QString("window"));
		QCOMPARE(list[0].width, 405);
		QCOMPARE(list[0].height, 720);
		QCOMPARE(list[0].x, 0);
		QCOMPARE(list[0].y, -20);
		QCOMPARE(list[0].screenWidth, 0);
		QCOMPARE(QString::fromStdString(list[0].screenName), QString("HDMI-1"));
		QVERIFY(list[0].alwaysOnTop);
		QCOMPARE(QString::fromStdString(list[1].mode), QString("fullscreen"));
		QCOMPARE(list[1].width, 800);
		QCOMPARE(list[1].screenX, -1000000);
		QCOMPARE(QString::fromStdString(list[1].geometry), QString("AdnQyw=="));
	}

	void roundTripKeepsEveryKeyAndTheHotkeys()
	{
		loadFrom(R"({"hotkeys": {"stilwane.start_streaming": [{"key": "OBS_KEY_F9"}]}})");
		ConfigRecord &c = config();
		c.width = 720;
		c.height = 1280;
		c.key = "secret";
		c.replaySeconds = 90;
		c.guidePreset = 1;
		c.mainDockShown = true;
		ProjectorRecord p;
		p.mode = "fullscreen";
		p.x = -300;
		c.projectors.push_back(p);
		saveConfig();

		QFile file(path());
		QVERIFY(file.open(QIODevice::ReadOnly));
		QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();
		const char *keys[] = {"width",
				      "height",
				      "mix_audio",
				      "server",
				      "key",
				      "encoder",
				      "video_bitrate",
				      "audio_bitrate",
				      "audio_track",
				      "auto_start",
				      "recording_directory",
				      "recording_format",
				      "recording_follow_main",
				      "replay_seconds",
				      "replay_follow_main",
				      "replay_save_with_main",
				      "link_scenes",
				      "match_main_transition",
				      "transition_ms",
				      "restore_projectors",
				      "projectors",
				      "docks_shown",
				      "main_dock_shown",
				      "main_dock_collapsed",
				      "main_dock_tab",
				      "show_guides",
				      "show_phone_ui",
				      "guide_preset",
				      "guide_top",
				      "guide_bottom",
				      "guide_left",
				      "guide_right",
				      "hotkeys"};
		for (const char *key : keys)
			QVERIFY2(json.contains(key), key);
		QCOMPARE(json.value("projectors").toArray().at(0).toObject().keys().size(), 12);
		QCOMPARE(json.value("hotkeys").toObject().value("stilwane.start_streaming").toArray().size(), 1);

		config() = ConfigRecord{};
		loadConfig();
		QCOMPARE(config().width, 720u);
		QCOMPARE(config().height, 1280u);
		QCOMPARE(QString::fromStdString(config().key), QString("secret"));
		QCOMPARE(config().replaySeconds, 90);
		QCOMPARE(config().guidePreset, 1);
		QVERIFY(config().mainDockShown);
		QCOMPARE(config().projectors.size(), size_t(1));
		QCOMPARE(QString::fromStdString(config().projectors[0].mode), QString("fullscreen"));
		QCOMPARE(config().projectors[0].x, -300);

		// Saved again, the hotkeys come back exactly as they were loaded.
		saveConfig();
		QVERIFY(file.seek(0) || true);
		file.close();
		QVERIFY(file.open(QIODevice::ReadOnly));
		QJsonObject again = QJsonDocument::fromJson(file.readAll()).object();
		QCOMPARE(again.value("hotkeys"), json.value("hotkeys"));
	}

	void unreadableFileFallsBackToBackup()
	{
		config().replaySeconds = 42;
		saveConfig();
		config().replaySeconds = 43;
		saveConfig(); // the first file becomes the backup
		writeFile("config.json", "{ this is not json");
		config() = ConfigRecord{};
		loadConfig();
		QCOMPARE(config().replaySeconds, 42);
	}

	void neitherFileNorBackupLeavesDefaults()
	{
		writeFile("config.json", "garbage");
		writeFile("config.json.bak", "more garbage");
		config().replaySeconds = 77;
		loadConfig();
		QCOMPARE(config().replaySeconds, 77);
		config() = ConfigRecord{};
		loadConfig();
		QCOMPARE(config().replaySeconds, 60);
	}

	void guidePresets()
	{
		applyGuidePreset(0);
		QCOMPARE(config().guideTop, 250);
		QCOMPARE(config().guideBottom, 630);
		QCOMPARE(config().guideLeft, 53);
		QCOMPARE(config().guideRight, 53);
		applyGuidePreset(1);
		QCOMPARE(config().guideTop, 150);
		QCOMPARE(config().guideBottom, 380);
		QCOMPARE(config().guideLeft, 40);
		QCOMPARE(config().guideRight, 150);
		applyGuidePreset(2);
		QCOMPARE(config().guidePreset, 2);
		QCOMPARE(config().guideTop, 150);
		QCOMPARE(config().guideRight, 150);
	}
};

STILWANE_TEST_MAIN(TestConfig)
#include "test_config.moc"
