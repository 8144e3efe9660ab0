// SPDX-License-Identifier: GPL-2.0-or-later
// The vendor requests and events of the stream destinations, against the real output object with the
// module loaded into the test front end: changes stored into config.json, the refusals and their codes,
// and destinations started towards loopback ports where no RTMP server answers. No stream key may
// appear in any answer, event or log line of any test.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <common/ConfigRecord.hpp>
#include <output/VerticalOutput.hpp>
#include <plugin/Plugin.hpp>
#include <remote/RemoteControl.hpp>

#include "RemoteTestCalls.hpp"

#include <ObsTestEnv.hpp>
#include <PluginFixture.hpp>
#include <TestFrontend.hpp>
#include <LoopbackServer.hpp>
#include <TestMain.hpp>

#include <QFile>

#include <memory>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace stilwane;

using namespace remote_test;

namespace {

constexpr const char *kFirstKey = "k1-first-7781";
constexpr const char *kTwitchKey = "k2-twitch-5512";
constexpr const char *kLocalKey = "k3-local-9904";
constexpr const char *kRequestKey = "k4-request-3307"; // only ever in requests, as a key and as a name
constexpr const char *kTwitch = "rtmp://live.twitch.tv/app";
constexpr const char *kKick = "rtmp://ingest.kick.com/app";

QString text(const QJsonObject &object)
{
	return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// Written as JSON text here rather than as raw strings: moc reads "//" inside those as a comment.
QByteArray body(const QJsonObject &request)
{
	return QJsonDocument(request).toJson(QJsonDocument::Compact);
}

// "name server on|off key" of an answer's destination (key: whether it has one) or of config.json's.
QString summary(const QJsonValue &value)
{
	if (!value.isObject())
		return QString();
	const QJsonObject d = value.toObject();
	const QString key = d.contains("key") ? d["key"].toString() : d["hasKey"].toBool() ? "key" : "";
	return QStringList{d["name"].toString(), d["server"].toString(), d["enabled"].toBool() ? "on" : "off", key}
		.join(' ')
		.trimmed();
}

} // namespace

class TestRemoteDestinations : public QObject {
	Q_OBJECT

	PluginFixture base;
	VerticalOutput *out = VerticalOutput::instance();
	std::unique_ptr<QSignalSpy> spy;
	QStringList texts; // every answer, searched for keys by cleanup()
	QList<int> sockets;

	QJsonObject req(const char *type, const QByteArray &json = "{}")
	{
		const QJsonObject r = call(type, json);
		texts << text(r);
		return r;
	}

	QJsonObject file() const
	{
		QFile f(base.dir.filePath("config.json"));
		return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
	}

	QJsonObject listed(int index) { return req("GetDestinations")["destinations"].toArray()[index].toObject(); }

	// A loopback port as a server address, listening (it takes the connection and never answers the
	// handshake, until cleanup() closes it) or not.
	QString loopbackServer(bool listening)
	{
		std::string url;
		const int fd = loopbackRtmpSocket(listening, &url);
		if (listening)
			sockets << fd;
		else
			close(fd);
		return QString::fromStdString(url);
	}

private slots:
	void initTestCase() { base.initTestCase(); }
	void cleanupTestCase() { base.cleanupTestCase(); }

	void init()
	{
		base.freshConfig();
		for (const char *name : {"config.json", "config.json.bak"})
			QFile::remove(base.dir.filePath(name));
		QVERIFY(Plugin::load());
		Plugin::postLoad();
		base.fe.startupLoad(nullptr);
		config().key = kFirstKey;
		texts.clear();
		flushEvents();
		spy = std::make_unique<QSignalSpy>(RemoteControl::instance(), &RemoteControl::eventEmitted);
	}

	void cleanup()
	{
		out->stopStream(true);
		for (int fd : std::as_const(sockets))
			close(fd);
		sockets.clear();
		QVERIFY(ObsTestEnv::waitUntil([this] { return out->backgroundStopCount() == 0; }, 15000));
		for (const EventRecord &event : events(*spy))
			texts << event.type + text(event.data);
		spy.reset();
		Plugin::unload();
		base.fe.reset();
		for (const QString &t : texts + ObsTestEnv::logLines())
			for (const char *key : {kFirstKey, kTwitchKey, kLocalKey, kRequestKey})
				QVERIFY2(!t.contains(key), qPrintable(t));
	}

	void changesReachConfigFile()
	{
		struct Step {
			const char *type;
			QByteArray json;
			QString answer, stored;
		};
		const QString twitch = QString(" %1 on ").arg(kTwitch);
		const Step steps[] = {
			{"SetDestination", body({{"name", " Twitch "}, {"server", kTwitch}, {"key", kTwitchKey}}),
			 "Twitch" + twitch + "key", "Twitch" + twitch + kTwitchKey},
			{"SetDestination", body({{"name", "Twitch"}, {"enabled", false}, {"key", QJsonValue::Null}}),
			 QString("Twitch %1 off").arg(kTwitch), QString("Twitch %1 off").arg(kTwitch)},
			{"SetDestination", body({{"name", "Twitch"}, {"newName", "Alt"}, {"key", kTwitchKey}}),
			 QString("Alt %1 off key").arg(kTwitch), QString("Alt %1 off %2").arg(kTwitch, kTwitchKey)},
			// The first destination is named after its new server and stays enabled by its key.
			{"SetDestination", body({{"name", "YouTube"}, {"server", kKick}}),
			 QString("Kick %1 on key").arg(kKick), QString("Alt %1 off %2").arg(kTwitch, kTwitchKey)},
			{"RemoveDestination", body({{"name", "Alt"}}), "", ""},
		};
		for (const Step &step : steps) {
			const QJsonObject r = req(step.type, step.json);
			QCOMPARE(errorOf(r), QString());
			QCOMPARE(summary(r["destination"]), step.answer);
			const QJsonArray stored = file()["destinations"].toArray();
			QCOMPARE(stored.isEmpty() ? QString() : summary(stored[0]), step.stored);
			QCOMPARE(file()["key"].toString(), QString(kFirstKey));
		}
		QCOMPARE(file()["server"].toString(), QString(kKick));
	}

	// Each refused request leaves config.json as it was.
	void refusals()
	{
		config().destinations = {{"Twitch", kTwitch, kTwitchKey, true},
					 {QString(kRequestKey).toUpper().toStdString(), kTwitch, "", true},
					 {"Keyless", kTwitch, "", true}};
		saveConfig();
		const QJsonObject before = file();
		struct Row {
			const char *type;
			QJsonObject request;
			int code;
			const char *words;
		};
		const Row rows[] = {
			{"SetDestination", {{"name", "New"}}, 300, "missing field 'server'"},
			{"SetDestination", {{"name", "  "}}, 403, "'name' must not be empty"},
			{"SetDestination", {{"name", "Twitch"}, {"server", ""}}, 403, "'server' must not be empty"},
			{"SetDestination", {{"name", "Twitch"}, {"enabled", "yes"}}, 401, "'enabled' must be a boolean"},
			{"SetDestination", {{"name", "YouTube"}, {"enabled", true}}, 400, "enabled whenever it has"},
			{"SetDestination", {{"name", "YouTube"}, {"newName", "Main"}}, 400, "named after its server"},
			{"SetDestination", {{"name", "twitch"}, {"server", "rtmp://a"}}, 601, "named 'twitch' already"},
			{"SetDestination", {{"name", "Twitch"}, {"newName", "youtube"}}, 601, "named 'youtube' already"},
			{"SetDestination", {{"name", "Nope"}, {"newName", "X"}}, 600, "destination named 'Nope'"},
			// The request's own key, as the new name of a taken name, is blotted out of the refusal.
			{"SetDestination",
			 {{"name", "Twitch"}, {"newName", kRequestKey}, {"key", kRequestKey}},
			 601,
			 "named '********' already"},
			{"RemoveDestination", {{"name", "YouTube"}}, 400, "cannot be removed"},
			{"RemoveDestination", {{"name", "Nope"}}, 600, "no stream destination named 'Nope'"},
			{"RemoveDestination", {}, 300, "missing field 'name'"},
			{"StartDestination", {{"name", "Nope"}}, 600, "Nope"},
			{"StopDestination", {{"name", "Nope"}}, 600, "Nope"},
			{"StartDestination", {{"name", "Keyless"}}, 702, "could not start: No stream key is set"},
		};
		for (const Row &row : rows) {
			const QJsonObject r = req(row.type, body(row.request));
			QVERIFY2(r["errorCode"].toInt() == row.code && failsWith(r, row.words), qPrintable(text(r)));
			QCOMPARE(file(), before);
		}
		QCOMPARE(out->streamState(), VerticalOutput::StreamIdle);
	}

	void limitAndFirstDestination()
	{
		QCOMPARE(text(listed(0)),
			 QString("{\"enabled\":true,\"first\":true,\"hasKey\":true,\"name\":\"YouTube\","
				 "\"server\":\"%1\",\"state\":0,\"stateName\":\"Idle\"}")
				 .arg(kDefaultServer));
		// Enabled exactly while it has a key.
		req("SetDestination", body({{"name", "YouTube"}, {"key", ""}}));
		QCOMPARE(summary(listed(0)), QString("YouTube %1 off").arg(kDefaultServer));

		for (int n = 2; n <= kMaxDestinations + 1; n++) {
			const QString name = QString("D%1").arg(n);
			const QJsonObject r =
				req("SetDestination", body({{"name", name}, {"server", "rtmp://d.example"}}));
			QCOMPARE(errorOf(r), n <= kMaxDestinations ? QString()
								   : "there are 8 stream destinations already, "
								     "the most there can be");
		}
		QCOMPARE(req("GetDestinations")["destinations"].toArray().size(), kMaxDestinations);

		// The first destination's new server takes the name of another, which makes way.
		req("SetDestination", body({{"name", "D2"}, {"newName", "Kick"}}));
		req("SetDestination", body({{"name", "YouTube"}, {"server", kKick}}));
		QCOMPARE(listed(0)["name"].toString(), QString("Kick"));
		QCOMPARE(listed(1)["name"].toString(), QString("Kick 2"));
		QCOMPARE(file()["destinations"][0]["name"].toString(), QString("Kick 2"));
	}

	void statusAndEvents()
	{
		// Alone, the first destination's changes are the stream's; with others, each names its own.
		for (const bool extras : {false, true}) {
			if (extras)
				config().destinations = {{"Twitch", kTwitch, kTwitchKey, true}};
			flushEvents();
			QSignalSpy spy(RemoteControl::instance(), &RemoteControl::eventEmitted);
			emit out->destinationStateChanged(extras ? "Twitch" : "YouTube", VerticalOutput::StreamLive);
			emit out->stateChanged(VerticalOutput::StreamLive);
			QStringList got;
			for (const EventRecord &e : eventsOfType(spy, "OutputStateChanged"))
				got << text(e.data);
			const QString live = "\"output\":\"stream\",\"state\":2,\"stateName\":\"Live\"}";
			const QStringList expected =
				extras ? QStringList{"{\"destination\":\"Twitch\"," + live, "{" + live}
				       : QStringList{"{\"destination\":\"YouTube\"," + live};
			QCOMPARE(got, expected);
		}

		// "stream" has the first destination's figures; "destinations" everyone's, named.
		const QJsonObject r = req("GetOutputStatus");
		const QJsonObject stream = r["stream"].toObject();
		QCOMPARE(text(stream),
			 QString("{\"bytes\":0,\"droppedFrames\":0,\"elapsedMs\":0,\"kbps\":0,\"lastError\":\"\","
				 "\"state\":0,\"stateName\":\"Idle\",\"totalFrames\":0}"));
		QJsonArray expected;
		for (const char *name : {"YouTube", "Twitch"}) {
			QJsonObject entry = stream;
			entry["name"] = name;
			entry["first"] = expected.isEmpty();
			entry["enabled"] = true;
			entry["congestion"] = 0;
			expected << entry;
		}
		QCOMPARE(r["destinations"].toArray(), expected);
	}

	void startAndStopTowardsSilentPorts()
	{
		req("SetDestination", body({{"name", "Local"}, {"key", kLocalKey}, {"server", loopbackServer(false)}}));
		QJsonObject r = req("StartDestination", body({{"name", "Local"}}));
		QCOMPARE(r["destination"].toObject()["state"].toInt(), int(VerticalOutput::StreamConnecting));
		QCOMPARE(listed(0)["state"].toInt(), int(VerticalOutput::StreamIdle));
		// Nothing listens: the destination ends alone, with the reason kept.
		QVERIFY(ObsTestEnv::waitUntil([this] { return listed(1)["state"].toInt() == 0; }, 20000));
		QVERIFY(!req("GetOutputStatus")["destinations"][1]["lastError"].toString().isEmpty());
		QStringList states;
		for (const EventRecord &e : eventsOfType(*spy, "OutputStateChanged"))
			if (e.data["destination"] == QJsonValue("Local"))
				states << e.data["stateName"].toString();
		QCOMPARE(states, QStringList({"Connecting", "Idle"}));

		// A server that takes the connection and never answers keeps the destination connecting, and
		// its name fixed: renaming, removing, or the first destination's server taking its name.
		req("SetDestination", body({{"name", "Local"}, {"newName", "Kick"}, {"server", loopbackServer(true)}}));
		QCOMPARE(errorOf(req("StartDestination", body({{"name", "Kick"}}))), QString());
		ObsTestEnv::pump(300);
		QCOMPARE(listed(1)["state"].toInt(), int(VerticalOutput::StreamConnecting));
		const std::pair<const char *, QJsonObject> running[] = {
			{"SetDestination", {{"name", "Kick"}, {"newName", "Local"}}},
			{"RemoveDestination", {{"name", "Kick"}}},
			{"SetDestination", {{"name", "YouTube"}, {"server", kKick}}},
		};
		for (const auto &[type, request] : running) {
			r = req(type, body(request));
			QVERIFY2(r["errorCode"].toInt() == 500 && failsWith(r, "is streaming"), qPrintable(text(r)));
		}
		QCOMPARE(file()["server"].toString(), QString(kDefaultServer));
		r = req("StopDestination", body({{"name", "Kick"}}));
		QCOMPARE(errorOf(r), QString());
		QCOMPARE(r["destination"].toObject()["name"].toString(), QString("Kick"));
	}
};

STILWANE_TEST_MAIN(TestRemoteDestinations)
#include "test_remote_destinations.moc"
