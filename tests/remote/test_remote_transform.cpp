// SPDX-License-Identifier: GPL-2.0-or-later
// The vendor request SetSceneItemTransform against the real canvas manager, with the module loaded
// into the test front end: what it changes, what it leaves, and every refusal with its code.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <canvas/CanvasManager.hpp>
#include <canvas/CollectionSaver.hpp>
#include <common/Result.hpp>
#include <plugin/Plugin.hpp>
#include <remote/RemoteControl.hpp>

#include "RemoteTestCalls.hpp"

#include <ObsTestEnv.hpp>
#include <PluginFixture.hpp>
#include <TestFrontend.hpp>
#include <TestMain.hpp>

#include <obs.hpp>

using namespace stilwane;
using namespace remote_test;

class TestRemoteTransform : public QObject {
	Q_OBJECT

	PluginFixture base;
	TestFrontend &fe = base.fe;
	CanvasManager *m = CanvasManager::instance();
	bool loaded = false;
	obs_sceneitem_t *item = nullptr; // in the vertical scene "V", held by it
	QString sceneUuid;

	// The request for "V"'s item with the given transform fields (JSON text inside the object).
	QJsonObject setTransform(const QString &fields, const QString &scene = R"("sceneName": "V")")
	{
		return call("SetSceneItemTransform", QString(R"({%1, "sceneItemId": %2, "sceneItemTransform": {%3}})")
							     .arg(scene)
							     .arg(obs_sceneitem_get_id(item))
							     .arg(fields)
							     .toUtf8());
	}

	QJsonObject listedItem()
	{
		return call("GetSceneItemList", R"({"sceneName": "V"})").value("sceneItems").toArray()[0].toObject();
	}

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
		QVERIFY(m->hasCanvas());
		QCOMPARE(errorOf(call("CreateScene", R"({"sceneName": "V"})")), QString());
		OBSSourceAutoRelease scene = m->findSceneByName("V");
		sceneUuid = QString::fromUtf8(obs_source_get_uuid(scene));
		OBSSourceAutoRelease colour = makeColorSource("Cam", 640, 360);
		item = obs_scene_add(obs_scene_from_source(scene), colour);
		QVERIFY(item);
		vec2 pos, scale;
		vec2_set(&pos, 100.0f, 200.0f);
		vec2_set(&scale, 0.5f, 0.5f);
		obs_sceneitem_set_pos(item, &pos);
		obs_sceneitem_set_scale(item, &scale);
		ObsTestEnv::pump(2 * CollectionSaver::kDelayMs);
	}

	void cleanup()
	{
		item = nullptr;
		if (loaded)
			Plugin::unload();
		loaded = false;
		fe.reset();
	}

	void changesOnlyTheGivenFields()
	{
		QVERIFY(RemoteControl::requestTypes().contains("SetSceneItemTransform"));
		const int saves = fe.saveCount();
		QJsonObject r = setTransform(R"("positionX": 300.5, "cropLeft": 10, "cropBottom": 4)");
		QCOMPARE(errorOf(r), QString());
		QCOMPARE(r.value("sceneUuid").toString(), sceneUuid);
		QCOMPARE(r.value("sceneName").toString(), QStringLiteral("V"));
		QCOMPARE(r.value("sceneItemId").toInteger(), obs_sceneitem_get_id(item));
		const QJsonObject applied = r.value("sceneItemTransform").toObject();
		QCOMPARE(applied.value("positionX").toDouble(), 300.5);
		QCOMPARE(applied.value("positionY").toDouble(), 200.0);
		QCOMPARE(applied.value("scaleX").toDouble(), 0.5);
		QCOMPARE(applied.value("scaleY").toDouble(), 0.5);
		QCOMPARE(applied.value("cropLeft").toInt(), 10);
		QCOMPARE(applied.value("cropRight").toInt(), 0);
		QCOMPARE(applied.value("cropTop").toInt(), 0);
		QCOMPARE(applied.value("cropBottom").toInt(), 4);

		// The item list reports the same, and the collection is saved once for a burst of requests.
		r = setTransform(R"("positionY": 20, "scaleX": 2, "scaleY": -1.5, "cropRight": 3, "cropTop": 5.0)",
				 QString(R"("sceneUuid": "%1")").arg(sceneUuid));
		QCOMPARE(errorOf(r), QString());
		const QJsonObject listed = listedItem();
		QCOMPARE(listed.value("positionX").toDouble(), 300.5);
		QCOMPARE(listed.value("positionY").toDouble(), 20.0);
		QCOMPARE(listed.value("scale").toDouble(), 2.0);
		QCOMPARE(listed.value("cropRight").toInt(), 3);
		QCOMPARE(listed.value("cropTop").toInt(), 5);
		vec2 scale;
		obs_sceneitem_get_scale(item, &scale);
		QCOMPARE(scale.y, -1.5f);
		QVERIFY(ObsTestEnv::waitUntil([&] { return fe.saveCount() > saves; }, 2000));
		ObsTestEnv::pump(2 * CollectionSaver::kDelayMs);
		QCOMPARE(fe.saveCount(), saves + 1);

		// Fields of obs-websocket's transform that this request does not take are left alone, so a
		// transform read elsewhere can be sent back whole.
		r = setTransform(R"("positionX": 1, "rotation": 45, "boundsType": "OBS_BOUNDS_STRETCH", "width": 9)");
		QCOMPARE(errorOf(r), QString());
		QCOMPARE(obs_sceneitem_get_rot(item), 0.0f);
		QCOMPARE(obs_sceneitem_get_bounds_type(item), OBS_BOUNDS_NONE);
	}

	void refusals_data()
	{
		QTest::addColumn<QString>("request"); // %ID is the item's id
		QTest::addColumn<int>("code");
		QTest::addColumn<QString>("error");
		const QString t = R"("sceneName": "V", "sceneItemId": %ID, )";
		QTest::newRow("no scene")
			<< R"("sceneItemId": %ID, "sceneItemTransform": {"positionX": 1})"
			<< int(Result::MissingRequestField) << "missing field 'sceneUuid' or 'sceneName'";
		QTest::newRow("unknown scene") << R"("sceneName": "Nope", "sceneItemId": %ID,
			"sceneItemTransform": {"positionX": 1})"
					       << int(Result::ResourceNotFound) << "no vertical scene named 'Nope'";
		QTest::newRow("scene name not a string")
			<< R"("sceneName": 5, "sceneItemId": %ID, "sceneItemTransform": {"positionX": 1})"
			<< int(Result::InvalidRequestFieldType) << "field 'sceneName' must be a string";
		QTest::newRow("no item id") << R"("sceneName": "V", "sceneItemTransform": {"positionX": 1})"
					    << int(Result::MissingRequestField) << "missing field 'sceneItemId'";
		QTest::newRow("item id not an integer")
			<< R"("sceneName": "V", "sceneItemId": 1.5, "sceneItemTransform": {"positionX": 1})"
			<< int(Result::InvalidRequestFieldType) << "field 'sceneItemId' must be an integer";
		QTest::newRow("negative item id")
			<< R"("sceneName": "V", "sceneItemId": -1, "sceneItemTransform": {"positionX": 1})"
			<< int(Result::RequestFieldOutOfRange) << "field 'sceneItemId' must be 0 or more";
		QTest::newRow("unknown item")
			<< R"("sceneName": "V", "sceneItemId": 9999, "sceneItemTransform": {"positionX": 1})"
			<< int(Result::ResourceNotFound) << "no scene item with the id 9999 in the vertical scene 'V'";
		QTest::newRow("no transform") << t + R"("other": 1)" << int(Result::MissingRequestField)
					      << "missing field 'sceneItemTransform'";
		QTest::newRow("null transform")
			<< t + R"("sceneItemTransform": null)" << int(Result::MissingRequestField)
			<< "missing field 'sceneItemTransform'";
		QTest::newRow("transform not an object")
			<< t + R"("sceneItemTransform": 3)" << int(Result::InvalidRequestFieldType)
			<< "field 'sceneItemTransform' must be an object";
		QTest::newRow("empty transform") << t + R"("sceneItemTransform": {"rotation": 4})"
						 << int(Result::MissingRequestField) << "has none of 'positionX'";
		QTest::newRow("position not a number")
			<< t + R"("sceneItemTransform": {"positionX": "1"})" << int(Result::InvalidRequestFieldType)
			<< "field 'positionX' must be a number";
		QTest::newRow("position too far")
			<< t + R"("sceneItemTransform": {"positionY": -100001})" << int(Result::RequestFieldOutOfRange)
			<< "field 'positionY' must be between -100000 and 100000";
		QTest::newRow("scale zero")
			<< t + R"("sceneItemTransform": {"scaleX": 0})" << int(Result::RequestFieldOutOfRange)
			<< "field 'scaleX' must be between 0.01";
		QTest::newRow("scale too large")
			<< t + R"("sceneItemTransform": {"scaleY": -100.5})" << int(Result::RequestFieldOutOfRange)
			<< "field 'scaleY' must be between 0.01 and 100";
		QTest::newRow("scale a bool")
			<< t + R"("sceneItemTransform": {"scaleY": true})" << int(Result::InvalidRequestFieldType)
			<< "field 'scaleY' must be a number";
		QTest::newRow("crop fractional")
			<< t + R"("sceneItemTransform": {"cropTop": 2.5})" << int(Result::InvalidRequestFieldType)
			<< "field 'cropTop' must be an integer";
		QTest::newRow("crop negative")
			<< t + R"("sceneItemTransform": {"cropLeft": -1})" << int(Result::RequestFieldOutOfRange)
			<< "field 'cropLeft' must be between 0 and 100000";
		// A request with one bad field changes nothing, not even its good fields.
		QTest::newRow("one bad field among good ones")
			<< t + R"("sceneItemTransform": {"positionX": 5, "cropRight": 100001})"
			<< int(Result::RequestFieldOutOfRange) << "field 'cropRight' must be between 0 and 100000";
	}

	void refusals()
	{
		QFETCH(QString, request);
		QFETCH(int, code);
		QFETCH(QString, error);
		request.replace("%ID", QString::number(obs_sceneitem_get_id(item)));
		const QJsonObject r = call("SetSceneItemTransform", ("{" + request + "}").toUtf8());
		QVERIFY2(failsWith(r, error), qPrintable(errorOf(r)));
		QCOMPARE(r.value("code").toInt(), code);
		vec2 pos;
		obs_sceneitem_get_pos(item, &pos);
		QCOMPARE(pos.x, 100.0f);
		QCOMPARE(pos.y, 200.0f);
		QVERIFY(!CollectionSaver::instance()->pending());
	}
};

STILWANE_TEST_MAIN(TestRemoteTransform)

#include "test_remote_transform.moc"
