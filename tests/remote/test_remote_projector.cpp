// SPDX-License-Identifier: GPL-2.0-or-later
// The vendor request OpenProjector against the real projector windows, with the module loaded into the
// test front end: windows and full-screen projectors, monitor indexes as obs-websocket's
// GetMonitorList counts them (the application's screens in order), refusals and OBS's exit.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <canvas/CanvasManager.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Result.hpp>
#include <plugin/Plugin.hpp>
#include <preview/ProjectorWindow.hpp>
#include <preview/Projectors.hpp>
#include <remote/RemoteControl.hpp>

#include "RemoteTestCalls.hpp"

#include <ObsTestEnv.hpp>
#include <PluginFixture.hpp>
#include <TestFrontend.hpp>
#include <TestMain.hpp>

#include <QGuiApplication>
#include <QScreen>

using namespace stilwane;
using namespace remote_test;

class TestRemoteProjector : public QObject {
	Q_OBJECT

	PluginFixture base;
	TestFrontend &fe = base.fe;
	bool loaded = false;

	static int projectorCount() { return int(ProjectorWindow::registry().size()); }

private slots:
	void initTestCase() { base.initTestCase(); }
	void cleanupTestCase() { base.cleanupTestCase(); }

	void init()
	{
		base.freshConfig();
		QVERIFY(Plugin::load());
		loaded = true;
		Plugin::postLoad();
		fe.startupLoad(nullptr);
		QVERIFY(CanvasManager::instance()->hasCanvas());
	}

	void cleanup()
	{
		if (loaded)
			Plugin::unload();
		loaded = false;
		// The unload closes every projector, as OBS's shut-down does.
		QVERIFY(ProjectorWindow::registry().isEmpty());
		fe.reset();
	}

	void openProjector_data()
	{
		QTest::addColumn<QByteArray>("json");
		QTest::addColumn<int>("code");
		QTest::addColumn<int>("monitor"); // the monitor of a full-screen projector, -1 for a window
		QTest::addColumn<QString>("words");

		QTest::newRow("no index") << QByteArray("{}") << int(Result::Success) << -1 << QString();
		QTest::newRow("minus one")
			<< QByteArray(R"({"monitorIndex": -1})") << int(Result::Success) << -1 << QString();
		QTest::newRow("null index")
			<< QByteArray(R"({"monitorIndex": null})") << int(Result::Success) << -1 << QString();
		QTest::newRow("first monitor")
			<< QByteArray(R"({"monitorIndex": 0})") << int(Result::Success) << 0 << QString();
		QTest::newRow("first monitor as 0.0")
			<< QByteArray(R"({"monitorIndex": 0.0})") << int(Result::Success) << 0 << QString();
		QTest::newRow("past the last monitor")
			<< QByteArray(R"({"monitorIndex": 99})") << int(Result::RequestFieldOutOfRange) << -1
			<< QString("monitorIndex 99 is no monitor of GetMonitorList");
		QTest::newRow("below minus one")
			<< QByteArray(R"({"monitorIndex": -2})") << int(Result::RequestFieldOutOfRange) << -1
			<< QString("monitorIndex -2");
		QTest::newRow("index as text")
			<< QByteArray(R"({"monitorIndex": "0"})") << int(Result::InvalidRequestFieldType) << -1
			<< QString("'monitorIndex' must be an integer");
		QTest::newRow("fractional index")
			<< QByteArray(R"({"monitorIndex": 0.5})") << int(Result::InvalidRequestFieldType) << -1
			<< QString("'monitorIndex' must be an integer");
	}

	void openProjector()
	{
		QFETCH(QByteArray, json);
		QFETCH(int, code);
		QFETCH(int, monitor);
		QFETCH(QString, words);

		const QJsonObject answer = call("OpenProjector", json);
		if (code != Result::Success) {
			QVERIFY2(failsWith(answer, words), qPrintable(QJsonDocument(answer).toJson()));
			QCOMPARE(answer.value("code").toInt(), code);
			QCOMPARE(projectorCount(), 0);
			return;
		}
		QCOMPARE(errorOf(answer), QString());
		QCOMPARE(answer.value("monitorIndex").toInt(), monitor);
		QCOMPARE(answer.value("fullscreen").toBool(), monitor >= 0);
		QCOMPARE(answer.value("alreadyOpen").toBool(), false);
		QCOMPARE(projectorCount(), 1);
		ProjectorWindow *w = ProjectorWindow::registry().first();
		QCOMPARE(w->inFullscreenMode(), monitor >= 0);
		if (monitor >= 0)
			QCOMPARE(w->fullscreenTarget(), QGuiApplication::screens().at(monitor));
		else
			QCOMPARE(w->size(), QSize(405, 720));
	}

	void secondRequestForAMonitorReusesItsProjector()
	{
		QCOMPARE(errorOf(call("OpenProjector", R"({"monitorIndex": 0})")), QString());
		const QJsonObject again = call("OpenProjector", R"({"monitorIndex": 0})");
		QCOMPARE(errorOf(again), QString());
		QVERIFY(again.value("alreadyOpen").toBool());
		QCOMPARE(projectorCount(), 1);
		// Windows are never reused.
		QCOMPARE(errorOf(call("OpenProjector")), QString());
		QCOMPARE(errorOf(call("OpenProjector")), QString());
		QCOMPARE(projectorCount(), 3);
	}

	void fromObsWebsocketsThread()
	{
		const QJsonObject answer = callFromThread("OpenProjector", R"({"monitorIndex": 0})");
		QCOMPARE(errorOf(answer), QString());
		QCOMPARE(projectorCount(), 1);
		// Built where widgets live.
		QCOMPARE(ProjectorWindow::registry().first()->thread(), qApp->thread());
	}

	void refusedFromObsExitOn()
	{
		QCOMPARE(errorOf(call("OpenProjector")), QString());
		QCOMPARE(errorOf(call("OpenProjector", R"({"monitorIndex": 0})")), QString());

		// OBS's exit remembers both and closes them; the request then opens nothing.
		fe.raise(OBS_FRONTEND_EVENT_EXIT);
		QCOMPARE(projectorCount(), 0);
		QCOMPARE(config().projectors.size(), size_t(2));
		OBSDataAutoRelease request = obs_data_create();
		OBSDataAutoRelease response = obs_data_create();
		RemoteControl::vendorRequest(request, response, const_cast<char *>("OpenProjector"));
		const QJsonObject answer = parse(response);
		QVERIFY2(failsWith(answer, "shutting down"), qPrintable(QJsonDocument(answer).toJson()));
		QCOMPARE(answer.value("code").toInt(), int(Result::NotReady));
		QCOMPARE(projectorCount(), 0);
	}

	void refusedOnceProjectorsAreClosed()
	{
		// As a module unload closes them, before the remote control has stopped.
		closeAllProjectors();
		const QJsonObject answer = call("OpenProjector", R"({"monitorIndex": 0})");
		QVERIFY2(failsWith(answer, "projectors are closed"), qPrintable(QJsonDocument(answer).toJson()));
		QCOMPARE(answer.value("code").toInt(), int(Result::NotReady));
		QCOMPARE(projectorCount(), 0);
	}
};

STILWANE_TEST_MAIN(TestRemoteProjector)
#include "test_remote_projector.moc"
