// SPDX-License-Identifier: GPL-2.0-or-later
// The canvas manager's part of a scene collection: what saveToCollection writes comes back through
// loadFromCollection after the front end has cleared and restored the collection the way OBS does.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "CanvasFixture.hpp"

#include <TestMain.hpp>

using namespace stilwane;

using namespace canvastest;

namespace {

struct Saved {
	OBSDataAutoRelease object;     // what the plug-in stores in the collection's "modules"
	OBSDataAutoRelease collection; // what OBS stores: sources and canvases
};

QString entryUuidNamed(CanvasManager *m, const QString &name)
{
	for (const TransitionInfo &info : m->transitions()) {
		if (info.name == name)
			return info.uuid;
	}
	return QString();
}

QString settingsJson(CanvasManager *m, const QString &uuid)
{
	OBSSourceAutoRelease source = m->transitionByUuid(uuid);
	if (!source)
		return QString();
	OBSDataAutoRelease settings = obs_source_get_settings(source);
	return QString::fromUtf8(obs_data_get_json(settings));
}

} // namespace

class TestPersistence : public QObject {
	Q_OBJECT

	Fixture f;
	CanvasManager *m = f.m;

	Saved save()
	{
		Saved saved;
		saved.object = obs_data_create();
		m->saveToCollection(saved.object);
		saved.collection = f.fe.saveCollection();
		return saved;
	}

	// A collection switch away and back: the manager lets go of its canvas as the plug-in does when a
	// switch begins, the front end clears and restores the collection, and the manager loads its object.
	void restore(const Saved &saved, obs_data_t *object = nullptr)
	{
		m->releaseCanvas();
		f.fe.switchCollection(saved.collection, false);
		m->loadFromCollection(object ? object : saved.object.Get());
	}

	void loadJson(const char *json)
	{
		OBSDataAutoRelease data = obs_data_create_from_json(json);
		m->loadFromCollection(data);
	}

private slots:
	void initTestCase() { f.initTestCase(); }
	void cleanupTestCase() { f.cleanupTestCase(); }
	void init() { f.init(); }
	void cleanup() { f.cleanup(); }

	void canvasScenesAndTransitionsComeBack()
	{
		f.freshCanvas();
		QVERIFY(m->resizeCanvas(720, 1280));
		QString canvasUuid = uuidOf(m->canvas());
		m->addScene("A");
		obs_scene_t *b = m->addScene("B");
		obs_scene_t *c = m->addScene("C");
		m->moveScene(uuidOf(c), -2);
		m->setTransitionDuration(0);
		m->setCurrentScene(sourceOf(b), -1, "manual");
		QStringList order = uuids(m->scenes());
		QString current = uuidOf(b);
		QCOMPARE(names(m->scenes()), QStringList({"C", "B", "A"}));

		QVERIFY(m->addTransition("swipe_transition", "My Swipe"));
		QString swipe = entryUuidNamed(m, "My Swipe");
		{
			OBSSourceAutoRelease source = m->transitionByUuid(swipe);
			OBSDataAutoRelease change = obs_data_create();
			obs_data_set_string(change, "direction", "right");
			obs_source_update(source, change);
		}
		QString swipeSettings = settingsJson(m, swipe);
		QVERIFY(swipeSettings.contains("right"));
		m->setTransitionDuration(1234);
		QCOMPARE(m->selectedTransitionUuid(), swipe);

		Saved saved = save();
		QCOMPARE(QString::fromUtf8(obs_data_get_string(saved.object, "preview_scene")), QString());

		// The configured size must not win over the stored one.
		config().width = 500;
		config().height = 500;
		restore(saved);

		QVERIFY(m->hasCanvas());
		QCOMPARE(uuidOf(m->canvas()), canvasUuid);
		QVERIFY(obs_canvas_has_video(m->canvas()));
		QCOMPARE(m->canvasWidth(), 720u);
		QCOMPARE(m->canvasHeight(), 1280u);
		QCOMPARE(f.fe.canvases().size(), size_t(1));

		QCOMPARE(uuids(m->scenes()), order);
		QCOMPARE(m->currentSceneUuid(), current);
		QCOMPARE(shownSceneUuid(m), current);

		QCOMPARE(m->transitions().size(), 3);
		QCOMPARE(entryUuidNamed(m, "My Swipe"), swipe);
		QCOMPARE(m->transitions().last().typeId, QString("swipe_transition"));
		QVERIFY(!m->transitions().last().builtIn);
		QCOMPARE(settingsJson(m, swipe), swipeSettings);
		QCOMPARE(m->selectedTransitionUuid(), swipe);
		OBSSourceAutoRelease swipeSource = m->transitionByUuid(swipe);
		QCOMPARE(m->activeTransitionSource(), swipeSource.Get());
		OBSSourceAutoRelease channel = obs_canvas_get_channel(m->canvas(), 0);
		QCOMPARE(channel.Get(), swipeSource.Get());
		QCOMPARE(m->transitionDuration(), 1234);
	}

	void previewSceneComesBackInStudioMode_data()
	{
		QTest::addColumn<bool>("studioAtSave");
		QTest::addColumn<bool>("previewSurvives");
		QTest::addColumn<bool>("studioDuringLoad");
		QTest::addColumn<QString>("expectedPreview");
		QTest::newRow("saved preview") << true << true << false << "B";
		QTest::newRow("saved preview gone") << true << false << false << "A";
		QTest::newRow("studio off at save") << false << true << false << "A";
		QTest::newRow("studio on throughout") << true << true << true << "B";
	}

	void previewSceneComesBackInStudioMode()
	{
		QFETCH(bool, studioAtSave);
		QFETCH(bool, previewSurvives);
		QFETCH(bool, studioDuringLoad);
		QFETCH(QString, expectedPreview);

		f.freshCanvas();
		m->addScene("A");
		obs_scene_t *b = m->addScene("B");
		if (studioAtSave) {
			m->setStudioMode(true);
			m->setPreviewScene(sourceOf(b), "manual");
		}
		Saved saved = save();
		QString savedPreview = QString::fromUtf8(obs_data_get_string(saved.object, "preview_scene"));
		QCOMPARE(savedPreview, studioAtSave ? uuidOf(b) : QString());
		if (!previewSurvives)
			obs_data_set_string(saved.object, "preview_scene", "00000000-0000-0000-0000-000000000000");

		if (!studioDuringLoad)
			m->setStudioMode(false);
		ObsTestEnv::clearLog();
		restore(saved);
		QCOMPARE(m->previewSceneUuid().isEmpty(), !studioDuringLoad);

		// What the plug-in does once the canvas is ready, studio mode on in OBS.
		m->setStudioMode(true);
		OBSSourceAutoRelease preview = m->previewScene();
		QVERIFY(preview);
		QCOMPARE(QString::fromUtf8(obs_source_get_name(preview)), expectedPreview);
		OBSSourceAutoRelease a = m->findSceneByName("A");
		QCOMPARE(m->currentSceneUuid(), uuidOf(a.Get()));
		QCOMPARE(countLog(QString("[stilwane] vertical preview scene '%1' (trigger=collection-restore)")
					  .arg(expectedPreview)),
			 1);
	}

	void transitionDurationIsClamped_data()
	{
		QTest::addColumn<QString>("json");
		QTest::addColumn<int>("configured");
		QTest::addColumn<int>("expected");
		QTest::newRow("above the maximum") << R"({"transition_duration": 25000})" << 300 << 20000;
		QTest::newRow("negative") << R"({"transition_duration": -40})" << 300 << 0;
		QTest::newRow("in range") << R"({"transition_duration": 1500})" << 300 << 1500;
		QTest::newRow("unset, configured") << "{}" << 750 << 750;
		QTest::newRow("unset, configured too long") << "{}" << 90000 << 20000;
		QTest::newRow("unset, configured negative") << "{}" << -5 << 0;
	}

	void transitionDurationIsClamped()
	{
		QFETCH(QString, json);
		QFETCH(int, configured);
		QFETCH(int, expected);
		config().transitionMs = configured;
		loadJson(json.toUtf8().constData());
		QCOMPARE(m->transitionDuration(), expected);
	}

	void savedBuiltInWithoutNameKeepsTheTranslatedName()
	{
		loadJson(R"({"vertical_transitions": [
			{"uuid": "stilwane.fade", "name": "", "type": "fade_transition", "settings": {"marker": 7}}
		]})");
		QVector<TransitionInfo> list = m->transitions();
		QCOMPARE(list.size(), 2);
		QCOMPARE(list[0].uuid, QString(kFadeUuid));
		QCOMPARE(list[0].name, QString("Fade"));
		QVERIFY(list[0].builtIn);
		OBSSourceAutoRelease fade = m->transitionByUuid(kFadeUuid);
		QCOMPARE(QString::fromUtf8(obs_source_get_name(fade)), QString("Fade"));
		OBSDataAutoRelease settings = obs_source_get_settings(fade);
		QCOMPARE(obs_data_get_int(settings, "marker"), 7);
	}

	void unusableSavedTransitionsAreDropped()
	{
		loadJson(R"({"vertical_transitions": [
			{"uuid": "u-missing", "name": "Missing", "type": "no_such_transition", "settings": {}},
			{"uuid": "u-color", "name": "Colour", "type": "color_source_v3", "settings": {}},
			{"uuid": "u-slide", "name": "Slide", "type": "slide_transition", "settings": {}},
			{"uuid": "u-nameless", "name": "", "type": "slide_transition", "settings": {}}
		], "selected_transition": "u-missing"})");
		QStringList kept;
		for (const TransitionInfo &info : m->transitions())
			kept << info.uuid;
		QCOMPARE(kept, QStringList({kFadeUuid, kCutUuid, "u-slide"}));
		QCOMPARE(m->selectedTransitionUuid(), QString(kFadeUuid));
		OBSSourceAutoRelease fade = m->transitionByUuid(kFadeUuid);
		QCOMPARE(m->activeTransitionSource(), fade.Get());
	}

	void staleSceneOverridesAreErasedAtRestore()
	{
		f.freshCanvas();
		obs_scene_t *a = m->addScene("A");
		obs_scene_t *b = m->addScene("B");
		QVERIFY(m->addTransition("slide_transition", "Slide"));
		QString slide = entryUuidNamed(m, "Slide");
		m->setSceneTransitionOverride(sourceOf(a), slide, 800);
		m->setSceneTransitionOverride(sourceOf(b), kCutUuid, 450);
		QCOMPARE(m->sceneTransitionOverride(sourceOf(a)), slide);
		QString aUuid = uuidOf(a), bUuid = uuidOf(b);
		Saved saved = save();

		// The collection comes back without the slide, as when it was lost to an unloaded module.
		OBSDataArrayAutoRelease all = obs_data_get_array(saved.object, "vertical_transitions");
		OBSDataArrayAutoRelease kept = obs_data_array_create();
		for (size_t i = 0; i < obs_data_array_count(all); i++) {
			OBSDataAutoRelease item = obs_data_array_item(all, i);
			if (QString::fromUtf8(obs_data_get_string(item, "uuid")) != slide)
				obs_data_array_push_back(kept, item);
		}
		obs_data_set_array(saved.object, "vertical_transitions", kept);
		restore(saved);

		OBSSourceAutoRelease restoredA = m->findSceneByUuid(aUuid);
		OBSSourceAutoRelease restoredB = m->findSceneByUuid(bUuid);
		QVERIFY(restoredA && restoredB);
		OBSDataAutoRelease privA = obs_source_get_private_settings(restoredA);
		QVERIFY(!obs_data_has_user_value(privA, "stilwane_transition"));
		QVERIFY(!obs_data_has_user_value(privA, "stilwane_transition_ms"));
		OBSDataAutoRelease privB = obs_source_get_private_settings(restoredB);
		QCOMPARE(QString::fromUtf8(obs_data_get_string(privB, "stilwane_transition")), QString(kCutUuid));
		QCOMPARE(obs_data_get_int(privB, "stilwane_transition_ms"), 450);
		QCOMPARE(m->sceneTransitionDuration(restoredB), 450);
	}

	void canvasGetsVideoWhileOutputsRun()
	{
		f.freshCanvas();
		QVERIFY(m->resizeCanvas(720, 1280));
		m->addScene("A");
		obs_scene_t *b = m->addScene("B");
		m->setTransitionDuration(0);
		m->setCurrentScene(sourceOf(b), -1, "manual");
		const QStringList order = uuids(m->scenes());
		const QString current = uuidOf(b);
		Saved saved = save();

		// OBS's own recording runs through the collection switch and back.
		MainVideoSink sink;
		QVERIFY(sink.start());
		restore(saved);

		QVERIFY(m->hasCanvas());
		QVERIFY(obs_canvas_has_video(m->canvas()));
		QCOMPARE(QString::fromUtf8(obs_canvas_get_name(m->canvas())), QString(kCanvasName));
		QCOMPARE(m->canvasWidth(), 720u);
		QCOMPARE(m->canvasHeight(), 1280u);
		QCOMPARE(uuids(m->scenes()), order);
		QCOMPARE(m->currentSceneUuid(), current);
		QCOMPARE(shownSceneUuid(m), current);
		// One live canvas of that name in the front end: the restored one without video is gone.
		int live = 0;
		for (obs_canvas_t *canvas : f.fe.canvases())
			live += !obs_canvas_removed(canvas) && QString(obs_canvas_get_name(canvas)) == kCanvasName;
		QCOMPARE(live, 1);
		QVERIFY(ObsTestEnv::logContains("[stilwane] vertical canvas ready: " + uuidOf(m->canvas()) +
						" (720x1280)"));

		// The next save describes the canvas that renders.
		Saved again = save();
		QCOMPARE(QString::fromUtf8(obs_data_get_string(again.object, "canvas_uuid")), uuidOf(m->canvas()));
		QCOMPARE(obs_data_get_int(again.object, "width"), 720LL);
	}

	void savingWithoutCanvasKeepsTheLoadedObject()
	{
		f.freshCanvas();
		m->addScene("A");
		m->addScene("B");
		QVERIFY(m->addTransition("swipe_transition", "My Swipe"));
		Saved saved = save();
		restore(saved);
		// The canvas cannot be made after the load: the next save writes back what was loaded.
		m->releaseCanvas();
		OBSDataAutoRelease data = obs_data_create();
		m->saveToCollection(data);
		QCOMPARE(QString::fromUtf8(obs_data_get_json(data)),
			 QString::fromUtf8(obs_data_get_json(saved.object)));
	}

	void savingWithoutCanvasWritesNothing()
	{
		f.freshCanvas();
		m->addScene("A");
		m->releaseCanvas();
		OBSDataAutoRelease data = obs_data_create();
		m->saveToCollection(data);
		obs_data_item_t *first = obs_data_first(data);
		QVERIFY(!first);
		obs_data_item_release(&first);
	}
};

STILWANE_TEST_MAIN(TestPersistence)
#include "test_persistence.moc"
