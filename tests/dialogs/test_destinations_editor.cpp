// SPDX-License-Identifier: GPL-2.0-or-later
// The stream destinations in the settings dialog, as a real widget under Xvfb over the real output
// object: what it stores in config.json, the limit, unique names, destinations that stream (started
// against a loopback server that never answers), and the ingest servers read from OBS's service list.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "../canvas/CanvasFixture.hpp"
#include <ModalAnswers.hpp>

#include <dialogs/SettingsDialog.hpp>
#include <output/IngestServers.hpp>

#include <LoopbackServer.hpp>
#include <TestMain.hpp>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <memory>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace stilwane;
using namespace canvastest;
using namespace docktest;

namespace {

const QString kYouTube = "rtmps://a.rtmps.youtube.com:443/live2";

// A listening loopback socket on a free port that never answers the RTMP handshake: a stream to it
// stays Connecting until the socket is closed.
int silentServer(std::string *url)
{
	return loopbackRtmpSocket(true, url);
}

// A services.json text with these services, written with single quotes.
QByteArray services(const QString &list)
{
	return QString("{'services': [" + list + "]}").replace('\'', '"').toUtf8();
}

void type(QLineEdit *edit, const QString &text)
{
	edit->selectAll();
	QTest::keyClick(edit, Qt::Key_Backspace);
	QTest::keyClicks(edit, text);
}

// config.json's "destinations", one "name|server|key|enabled" each.
QStringList storedDestinations()
{
	QStringList list;
	OBSDataAutoRelease file = obs_data_create_from_json_file(configFilePath().c_str());
	OBSDataArrayAutoRelease array = obs_data_get_array(file, "destinations");
	for (size_t i = 0; i < obs_data_array_count(array); i++) {
		OBSDataAutoRelease d = obs_data_array_item(array, i);
		list << QStringList({obs_data_get_string(d, "name"), obs_data_get_string(d, "server"),
				     obs_data_get_string(d, "key"), obs_data_get_bool(d, "enabled") ? "on" : "off"})
				.join('|');
	}
	return list;
}

} // namespace

class TestDestinationsEditor : public QObject {
	Q_OBJECT

	Fixture f;
	VerticalOutput *out = VerticalOutput::instance();
	ModalAnswers answers;
	std::unique_ptr<SettingsDialog> dialog;
	std::vector<int> servers;

	void open()
	{
		dialog = std::make_unique<SettingsDialog>();
		dialog->show();
		QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
	}

	template<class T> T *w(const char *name) const { return dialog->findChild<T *>(name); }
	QWidget *row(int n) const { return w<QWidget>(qPrintable(QString("stilwane_destination_row_%1").arg(n))); }
	template<class T> T *field(int n, const char *name) const
	{
		return row(n)->findChild<T *>(QString("stilwane_destination_") + name);
	}
	void click(QAbstractButton *button) const { QTest::mouseClick(button, Qt::LeftButton); }
	// The new box is laid out when the event loop turns, as before any click of a user.
	void add() const
	{
		click(w<QPushButton>("stilwane_destinations_add"));
		QCoreApplication::processEvents();
	}
	void ok() const { click(w<QPushButton>("stilwane_settings_ok")); }
	bool accepted() const { return !dialog->isVisible() && dialog->result() == QDialog::Accepted; }
	// Chooses the server with this URL from the row's ingest list, as the user does.
	void pick(int n, const QString &url) const
	{
		QComboBox *picker = field<QComboBox>(n, "picker");
		const int index = picker->findData(url);
		QVERIFY2(index >= 0, qPrintable(url));
		picker->setCurrentIndex(index);
		emit picker->activated(index);
	}
	QString extra(const std::string &name)
	{
		std::string url;
		servers.push_back(silentServer(&url));
		config().destinations.push_back({name, url, "secret-" + name, true});
		return QString::fromStdString(url);
	}

private slots:
	void initTestCase()
	{
		f.initTestCase();
		answers.install();
	}

	void cleanupTestCase()
	{
		ModalAnswers::uninstall();
		f.cleanupTestCase();
	}

	void init()
	{
		f.init();
		QFile::remove(QString::fromStdString(configFilePath()));
		answers.clear();
		f.freshCanvas();
	}

	void cleanup()
	{
		dialog.reset();
		// A connecting stream stops on a thread of its own; the closed sockets end its connection attempt.
		out->stopAll();
		for (int fd : servers)
			close(fd);
		servers.clear();
		out->finishBackgroundStops();
		ObsTestEnv::pump(50);
		f.cleanup();
	}

	void ingestListParsing_data()
	{
		QTest::addColumn<QByteArray>("json");
		QTest::addColumn<QStringList>("servers");
		QTest::newRow("OBS's YouTube entries")
			<< services("{'name': 'YouTube - HLS', 'servers': [{'name': 'HLS', "
				    "'url': 'https://a.upload.youtube.com/http_upload_hls?cid={stream_key}'}]}, "
				    "{'name': 'YouTube - RTMPS', 'servers': [{'name': 'Primary', 'url': '" +
				    kYouTube + "'}, {'name': 'Legacy', 'url': 'rtmp://a.rtmp.youtube.com/live2'}]}")
			<< QStringList({"YouTube|YouTube - RTMPS|Primary|" + kYouTube,
					"YouTube|YouTube - RTMPS|Legacy|rtmp://a.rtmp.youtube.com/live2"});
		QTest::newRow("platforms as whole words, any case")
			<< services(
				   "{'name': 'tiktok Live', 'servers': [{'name': 'T', 'url': 'rtmp://t.tiktokcdn.com/app'}]}, "
				   "{'name': 'Kick', 'servers': [{'name': 'K', 'url': 'rtmps://k.live-video.net:443/app'}]}, "
				   "{'name': 'Instagram', 'servers': [{'name': 'I', 'url': 'rtmps://i.instagram.com:443/rtmp'}]}, "
				   "{'name': 'Kickstarter Live', 'servers': [{'name': 'X', 'url': 'rtmp://x.example/app'}]}, "
				   "{'name': 'Twitch', 'servers': [{'name': 'W', 'url': 'rtmp://live.twitch.tv/app'}]}")
			<< QStringList({"TikTok|tiktok Live|T|rtmp://t.tiktokcdn.com/app",
					"Kick|Kick|K|rtmps://k.live-video.net:443/app",
					"Instagram|Instagram|I|rtmps://i.instagram.com:443/rtmp"});
		QTest::newRow("missing and damaged fields, other protocols")
			<< services(
				   "{'servers': [{'name': 'no service name', 'url': 'rtmp://a.example/x'}]}, "
				   "{'name': 'YouTube - RTMPS'}, {'name': 'YouTube', 'servers': {'url': 'rtmp://b.example/x'}}, "
				   "{'name': 'Kick', 'servers': [{'name': 'no url'}, {'name': 'number', 'url': 7}, 5, "
				   "{'url': 'rtmp://c.example/x'}, {'name': 'again', 'url': 'rtmp://c.example/x'}, "
				   "{'name': 'srt', 'url': 'srt://y.example:9000'}, {'name': 'no host', 'url': 'rtmp://'}, "
				   "{'name': 'no scheme', 'url': 'youtube.com/live2'}]}")
			<< QStringList({"Kick|Kick|rtmp://c.example/x|rtmp://c.example/x"});
		QTest::newRow("no object") << QByteArray("[{\"name\": \"YouTube\"}]") << QStringList();
		QTest::newRow("no JSON") << QByteArray("services") << QStringList();
	}

	void ingestListParsing()
	{
		QFETCH(QByteArray, json);
		QFETCH(QStringList, servers);
		QStringList parsed;
		for (const IngestServer &s : IngestServers::parse(json))
			parsed << QStringList({s.platform, s.service, s.name, s.url}).join('|');
		QCOMPARE(parsed, servers);
	}

	void offersOBSsOwnList()
	{
		// libobs loads rtmp-services in the test executable as OBS does.
		QVERIFY(!IngestServers::servicesFiles().isEmpty());
		open();
		add();
		QComboBox *picker = field<QComboBox>(1, "picker");
		QVERIFY(picker->isVisible());
		QCOMPARE(picker->currentIndex(), -1);
		QVERIFY(picker->findData(kYouTube) >= 0);
		for (int i = 0; i < picker->count(); i++)
			QVERIFY(picker->itemData(i).toString().startsWith("rtmp"));
	}

	void roundTripIntoConfigFile()
	{
		config().destinations.push_back({"Old", "rtmp://old.example/app", "old-key-1111", true});
		open();
		QCOMPARE(w<QLabel>("stilwane_settings_first_destination")->text(), QString("YouTube"));
		QCOMPARE(field<QLineEdit>(1, "name")->text(), QString("Old"));
		QLineEdit *key = field<QLineEdit>(1, "key");
		QCOMPARE(key->echoMode(), QLineEdit::Password);
		click(field<QCheckBox>(1, "show_key"));
		QCOMPARE(key->echoMode(), QLineEdit::Normal);

		// A new destination is named after the server picked for it until the user names it.
		add();
		QCOMPARE(field<QLineEdit>(2, "name")->text(), QString("Destination"));
		pick(2, kYouTube);
		QCOMPARE(field<QLineEdit>(2, "server")->text(), kYouTube);
		QCOMPARE(field<QLineEdit>(2, "name")->text(), QString("YouTube 2"));
		type(field<QLineEdit>(2, "key"), " second-key-2222 ");
		type(field<QLineEdit>(1, "name"), "Renamed");
		click(field<QCheckBox>(1, "enabled"));
		// One without a server cannot stay enabled.
		add();
		ok();
		QVERIFY(accepted());
		QVERIFY(answers.messages.isEmpty());
		QCOMPARE(storedDestinations(),
			 QStringList({"Renamed|rtmp://old.example/app|old-key-1111|off",
				      "YouTube 2|" + kYouTube + "|second-key-2222|on", "Destination|||off"}));
		QVERIFY(ObsTestEnv::logContains("destination 'Destination' disabled: it has no server"));
		QVERIFY(!ObsTestEnv::logContains("second-key-2222"));

		open();
		QCOMPARE(field<QLineEdit>(2, "name")->text(), QString("YouTube 2"));
		click(field<QPushButton>(1, "remove"));
		QCOMPARE(field<QLineEdit>(1, "name")->text(), QString("YouTube 2"));
		ok();
		QVERIFY(accepted());
		QCOMPARE(storedDestinations(),
			 QStringList({"YouTube 2|" + kYouTube + "|second-key-2222|on", "Destination|||off"}));
	}

	void limitAndNames()
	{
		open();
		QPushButton *addButton = w<QPushButton>("stilwane_destinations_add");
		for (int n = 1; n < kMaxDestinations; n++)
			add();
		QVERIFY(!addButton->isEnabled());
		QVERIFY(!addButton->toolTip().isEmpty());
		QVERIFY(row(kMaxDestinations - 1) && !row(kMaxDestinations));
		QCOMPARE(field<QLineEdit>(7, "name")->text(), QString("Destination 7"));
		// A typed server names a proposed name after its platform too; a typed name is kept.
		type(field<QLineEdit>(3, "server"), "rtmps://fa723fc1b171.global-contribute.live-video.net/app");
		QCOMPARE(field<QLineEdit>(3, "name")->text(), QString("Kick"));
		click(field<QPushButton>(7, "remove"));
		QVERIFY(addButton->isEnabled());

		// The first destination's name counts, without case.
		type(field<QLineEdit>(2, "name"), "youtube");
		type(field<QLineEdit>(2, "server"), "rtmp://other.example/app");
		QCOMPARE(field<QLineEdit>(2, "name")->text(), QString("youtube"));
		ok();
		QCOMPARE(answers.messages, QStringList({translate("Settings.Destinations.NameTaken").arg("youtube")}));
		QVERIFY(dialog->isVisible());
		QVERIFY(config().destinations.empty());

		// Another first server frees the name.
		type(w<QLineEdit>("stilwane_settings_server"), "rtmp://127.0.0.1:1935/live");
		QCOMPARE(w<QLabel>("stilwane_settings_first_destination")->text(), QString("127.0.0.1"));
		ok();
		QVERIFY(accepted());
		QCOMPARE(config().destinations.size(), size_t(kMaxDestinations - 2));
		QCOMPARE(QString::fromStdString(config().destinations[1].name), QString("youtube"));
	}

	void streamingDestinationsKeepTheirNames()
	{
		config().key = "first-key";
		extra("Live");
		extra("Spare");
		open();
		type(field<QLineEdit>(1, "name"), "Typed before the start");
		click(field<QPushButton>(2, "remove"));
		QVERIFY(out->startDestination("Live"));
		QCOMPARE(out->streamState(), VerticalOutput::StreamConnecting);
		obs_output_t *live = out->destinationOutput("Live");

		QLineEdit *name = field<QLineEdit>(1, "name");
		QCOMPARE(name->text(), QString("Live"));
		QVERIFY(!name->isEnabled() && !field<QPushButton>(1, "remove")->isEnabled());
		QCOMPARE(name->toolTip(), translate("Settings.Destinations.Locked"));
		QVERIFY(field<QLabel>(1, "hint")->isVisible());
		QVERIFY(field<QLineEdit>(1, "server")->isEnabled() && field<QLineEdit>(1, "key")->isEnabled());

		// Removed in the dialog while idle, started since: storing the list would remove it.
		QVERIFY(out->startDestination("Spare"));
		ok();
		QCOMPARE(answers.messages, QStringList({translate("Settings.Destinations.Running").arg("Spare")}));
		QCOMPARE(config().destinations.size(), size_t(2));
		out->stopDestination("Spare", true);

		// The rest is no encoding change: stored while streaming, the running output left alone.
		answers.clear();
		type(field<QLineEdit>(1, "key"), "next-start-key");
		add();
		ok();
		QVERIFY(accepted());
		QVERIFY(answers.messages.isEmpty());
		QCOMPARE(storedDestinations().first().section('|', 2), QString("next-start-key|on"));
		QCOMPARE(config().destinations.size(), size_t(2));
		QCOMPARE(out->destinationOutput("Live"), live);
		QCOMPARE(out->streamState(), VerticalOutput::StreamConnecting);
	}
};

STILWANE_TEST_MAIN(TestDestinationsEditor)

#include "test_destinations_editor.moc"
