// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// Calls into the remote control as obs-websocket would, and reads its answers and events as JSON.
// Included by test_remote.cpp after QtTest (libobs's SIMD macros must come after the intrinsics).

#include <remote/RemoteControl.hpp>

#include <ObsTestEnv.hpp>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QVector>

#include <atomic>
#include <thread>

#include <obs.hpp>

using namespace stilwane;

namespace remote_test {

inline QJsonObject parse(obs_data_t *data)
{
	return QJsonDocument::fromJson(QByteArray(obs_data_get_json(data))).object();
}

inline QJsonObject call(const char *type, const QByteArray &json = "{}")
{
	OBSDataAutoRelease request = obs_data_create_from_json(json.constData());
	OBSDataAutoRelease response = obs_data_create();
	RemoteControl::instance()->handle(type, request, response);
	return parse(response);
}

// The callback obs-websocket calls, from a thread of its own as obs-websocket does. With pump, the
// test runs the event loop meanwhile; without, the user-interface thread stays busy until the
// callback returned.
inline QJsonObject callFromThread(const char *type, const QByteArray &json, bool pump = true,
				  qint64 *elapsedMs = nullptr)
{
	std::atomic<bool> done{false};
	QByteArray answer;
	QElapsedTimer timer;
	timer.start();
	std::thread worker([&]() {
		OBSDataAutoRelease request = obs_data_create_from_json(json.constData());
		OBSDataAutoRelease response = obs_data_create();
		RemoteControl::vendorRequest(request, response, const_cast<char *>(type));
		answer = obs_data_get_json(response);
		done.store(true);
	});
	if (pump)
		ObsTestEnv::waitUntil([&]() { return done.load(); }, 15000);
	worker.join();
	if (elapsedMs)
		*elapsedMs = timer.elapsed();
	return QJsonDocument::fromJson(answer).object();
}

inline QString errorOf(const QJsonObject &response)
{
	return response.value("success").toBool() ? QString() : response.value("error").toString();
}

inline bool failsWith(const QJsonObject &response, const QString &part)
{
	return response.value("success") == QJsonValue(false) && response.value("error").toString().contains(part);
}

inline QStringList sceneNames(const QJsonObject &list)
{
	QStringList names;
	for (const QJsonValue &scene : list.value("scenes").toArray())
		names << scene.toObject().value("sceneName").toString();
	return names;
}

struct EventRecord {
	QString type;
	QJsonObject data;
};

// Vendor events go out once the event loop runs again.
inline void flushEvents()
{
	QCoreApplication::sendPostedEvents();
}

inline QVector<EventRecord> events(const QSignalSpy &spy)
{
	flushEvents();
	QVector<EventRecord> out;
	for (const QList<QVariant> &args : spy)
		out.append({args.at(0).toString(), QJsonDocument::fromJson(args.at(1).toString().toUtf8()).object()});
	return out;
}

inline QVector<EventRecord> eventsOfType(const QSignalSpy &spy, const QString &type)
{
	QVector<EventRecord> out;
	for (const EventRecord &record : events(spy)) {
		if (record.type == type)
			out.append(record);
	}
	return out;
}

obs_source_t *makeColorSource(const char *name, int width, int height)
{
	OBSDataAutoRelease settings = obs_data_create();
	obs_data_set_int(settings, "width", width);
	obs_data_set_int(settings, "height", height);
	return obs_source_create("color_source_v3", name, settings, nullptr);
}

} // namespace remote_test
