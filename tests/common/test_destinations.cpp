// SPDX-License-Identifier: GPL-2.0-or-later
// The stream destinations in config.json: what loading corrects, the names they get, and the round
// trip that must keep every key.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <common/ConfigRecord.hpp>
#include <common/Destinations.hpp>
#include <hotkeys/HotkeyManager.hpp>

#include <ObsTestEnv.hpp>
#include <TestMain.hpp>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using namespace stilwane;

namespace {

// "name/server-or-empty/enabled" per extra destination, in order.
QStringList summary()
{
	QStringList list;
	for (const DestinationRecord &d : config().destinations)
		list << QStringLiteral("%1/%2/%3")
				.arg(QString::fromStdString(d.name), d.server.empty() ? "-" : "s",
				     d.enabled ? "on" : "off");
	return list;
}

QByteArray withDestinations(const QJsonArray &list, const QString &server = QString())
{
	QJsonObject root;
	root["key"] = "first-key";
	if (!server.isEmpty())
		root["server"] = server;
	root["destinations"] = list;
	return QJsonDocument(root).toJson();
}

QJsonObject entry(const QString &name, const QString &server = "rtmp://127.0.0.1/live", bool enabled = true)
{
	return QJsonObject{{"name", name}, {"server", server}, {"key", "k-" + name}, {"enabled", enabled}};
}

} // namespace

class TestDestinations : public QObject {
	Q_OBJECT

	QTemporaryDir dir;

	void loadFrom(const QByteArray &json)
	{
		QFile file(dir.filePath("config.json"));
		QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
		file.write(json);
		file.close();
		loadConfig();
	}

private slots:
	void init()
	{
		QVERIFY(dir.isValid());
		setConfigDirectoryOverride(dir.path().toStdString());
		QFile::remove(dir.filePath("config.json"));
		QFile::remove(dir.filePath("config.json.bak"));
		config() = ConfigRecord{};
		ObsTestEnv::clearLog();
	}

	void cleanup() { HotkeyManager::instance()->unregisterAll(false); }

	void loadCorrections_data()
	{
		QTest::addColumn<QByteArray>("json");
		QTest::addColumn<QStringList>("expected");

		QJsonArray nine;
		for (int i = 1; i <= 9; i++)
			nine.append(entry(QStringLiteral("D%1").arg(i)));
		QStringList firstSeven;
		for (int i = 1; i <= 7; i++)
			firstSeven << QStringLiteral("D%1/s/on").arg(i);

		QTest::newRow("none") << withDestinations({}) << QStringList{};
		QTest::newRow("kept as written")
			<< withDestinations({entry("TikTok"), entry("Kick", "rtmp://x/app", false)})
			<< QStringList{"TikTok/s/on", "Kick/s/off"};
		QTest::newRow("more than eight in all") << withDestinations(nine) << firstSeven;
		QTest::newRow("duplicate names, any case")
			<< withDestinations({entry("Kick"), entry("kick"), entry("Kick")})
			<< QStringList{"Kick/s/on", "kick 2/s/on", "Kick 3/s/on"};
		// The first destination is named after its server's platform: YouTube by default.
		QTest::newRow("the first's name")
			<< withDestinations({entry("YouTube")}) << QStringList{"YouTube 2/s/on"};
		QTest::newRow("first on another platform")
			<< withDestinations({entry("YouTube")}, "rtmps://x.global-contribute.live-video.net/app")
			<< QStringList{"YouTube/s/on"};
		QTest::newRow("empty server disables") << withDestinations({entry("Insta", "  "), entry("B", "")})
						       << QStringList{"Insta/-/off", "B/-/off"};
		QTest::newRow("missing and blank names")
			<< withDestinations(
				   {QJsonObject{{"server", "rtmp://a/b"}, {"key", "x"}}, entry("  "), entry(" T ")})
			<< QStringList{"Destination/s/on", "Destination 2/s/on", "T/s/on"};
		QTest::newRow("damaged values keep defaults")
			<< withDestinations({QJsonObject{{"name", 5}, {"server", "rtmp://a/b"}, {"enabled", "yes"}},
					     QJsonValue("not an object"), QJsonValue(3)})
			<< QStringList{"Destination/s/on"};
		QTest::newRow("not an array") << QByteArray(R"({"destinations": {"name": "A"}})") << QStringList{};
	}

	void loadCorrections()
	{
		QFETCH(QByteArray, json);
		loadFrom(json);
		QTEST(summary(), "expected");
		// Whatever was corrected, no key reaches the log.
		for (const DestinationRecord &d : config().destinations)
			QVERIFY(d.key.empty() ||
				!ObsTestEnv::logLines().join(QLatin1Char('\n')).contains(QString::fromStdString(d.key)));
		QVERIFY(int(destinationList(config()).size()) <= kMaxDestinations);
	}

	void correctionsAreLogged()
	{
		QJsonArray nine;
		for (int i = 1; i <= 9; i++)
			nine.append(entry("Same"));
		nine.append(entry("NoServer", ""));
		loadFrom(withDestinations(nine));
		const QString log = ObsTestEnv::logLines().join(QLatin1Char('\n'));
		QVERIFY2(log.contains("destinations beyond the first 8 left out: 3"), qPrintable(log));
		QVERIFY(log.contains("destination 'Same' renamed to 'Same 2'"));
		QVERIFY(!log.contains("k-Same"));
	}

	void roundTripKeepsKeysAndOrder()
	{
		loadFrom(withDestinations(
			{entry("TikTok", " rtmp://push.tiktokcdn.com/live "), entry("Kick", "rtmps://k/app", false)}));
		saveConfig();
		config() = ConfigRecord{};
		loadConfig();
		QCOMPARE(summary(), (QStringList{"TikTok/s/on", "Kick/s/off"}));
		QCOMPARE(QString::fromStdString(config().destinations[0].server),
			 QString("rtmp://push.tiktokcdn.com/live"));
		QCOMPARE(QString::fromStdString(config().destinations[0].key), QString("k-TikTok"));
		QCOMPARE(QString::fromStdString(config().destinations[1].key), QString("k-Kick"));
	}

	void names_data()
	{
		QTest::addColumn<QString>("server");
		QTest::addColumn<QString>("name");
		QTest::addColumn<bool>("youtube");
		QTest::newRow("default") << QString(kDefaultServer) << "YouTube" << true;
		QTest::newRow("youtube rtmp backup") << "rtmp://b.rtmp.youtube.com/live2?backup=1" << "YouTube" << true;
		QTest::newRow("tiktok") << "rtmp://push-rtmp-l11-sg01.tiktokcdn.com/stage/" << "TikTok" << false;
		QTest::newRow("instagram")
			<< "rtmps://edgetee-upload-fra5-1.xx.fbcdn.net:443/rtmp/" << "Instagram" << false;
		QTest::newRow("kick")
			<< "rtmps://fa723fc1b171.global-contribute.live-video.net:443/app/" << "Kick" << false;
		QTest::newRow("not a suffix match") << "rtmp://notyoutube.com/live" << "notyoutube.com" << false;
		QTest::newRow("lookalike host")
			<< "rtmp://youtube.com.evil.example/live" << "youtube.com.evil.example" << false;
		QTest::newRow("local") << "rtmp://127.0.0.1:1935/live" << "127.0.0.1" << false;
		QTest::newRow("no url") << "just words" << "Custom" << false;
	}

	void names()
	{
		QFETCH(QString, server);
		QTEST(destinationNameForServer(server), "name");
		QTEST(isYouTubeServer(server), "youtube");
	}

	void listAndLookup()
	{
		config().key = " k1 ";
		config().destinations = {{"TikTok", "rtmp://a/b", "k2", true}, {"Kick", "rtmp://c/d", "", false}};
		const QList<Destination> list = destinationList(config());
		QCOMPARE(list.size(), 3);
		QVERIFY(list[0].first && list[0].enabled);
		QCOMPARE(list[0].key, QString("k1"));
		QCOMPARE(findDestination(config(), "Kick"), 2);
		QCOMPARE(findDestination(config(), "kick"), -1);
		QVERIFY(destinationNameTaken(config(), "youtube"));
		QVERIFY(!destinationNameTaken(config(), "TikTok", 1));
		QCOMPARE(uniqueDestinationName(config(), "TikTok"), QString("TikTok 2"));
		// Without a key the first is disabled; the others keep their own flag.
		config().key = "   ";
		QVERIFY(!destinationList(config())[0].enabled);
		QVERIFY(destinationList(config())[1].enabled);
	}
};

STILWANE_TEST_MAIN(TestDestinations)
#include "test_destinations.moc"
