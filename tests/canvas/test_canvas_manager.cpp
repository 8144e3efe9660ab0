// SPDX-License-Identifier: GPL-2.0-or-later
// The canvas manager against real libobs and the test front end: finding, creating and restoring the
// canvas, the scene list and its order, and the selection.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <canvas/CanvasManager.hpp>
#include <common/ConfigRecord.hpp>

#include <ObsTestEnv.hpp>
#include <TestFrontend.hpp>
#include <TestMain.hpp>

#include <QSignalSpy>
#include <QTemporaryDir>

#include <obs.hpp>

using namespace stilwane;

namespace {

obs_canvas_t *addFrontendCanvas(const char *name, uint32_t width, uint32_t height)
{
	obs_video_info ovi = {};
	obs_get_video_info(&ovi);
	ovi.base_width = ovi.output_width = width;
	ovi.base_height = ovi.output_height = height;
	obs_canvas_t *canvas = obs_frontend_add_canvas(name, &ovi, ACTIVATE | SCENE_REF);
	obs_canvas_release(canvas); // the front end keeps its own reference
	return canvas;
}

QString uuidOf(obs_canvas_t *canvas)
{
	return QString::fromUtf8(obs_canvas_get_uuid(canvas));
}

QString uuidOf(obs_scene_t *scene)
{
	return QString::fromUtf8(obs_source_get_uuid(obs_scene_get_source(scene)));
}

int verticalCanvasCount()
{
	int count = 0;
	for (obs_canvas_t *c : TestFrontend::instance().canvases())
		count += !obs_canvas_removed(c) && strcmp(obs_canvas_get_name(c), kCanvasName) == 0;
	return count;
}

QStringList names(const QVector<SceneRef> &list)
{
	QStringList result;
	for (const SceneRef &ref : list)
		result << ref.name;
	return result;
}

} // namespace

class TestCanvasManager : public QObject {
	Q_OBJECT

	QTemporaryDir dir;
	CanvasManager *m = CanvasManager::instance();

	void loadWith(const QByteArray &json)
	{
		OBSDataAutoRelease data = json.isEmpty() ? nullptr : obs_data_create_from_json(json.constData());
		m->loadFromCollection(data);
	}

private slots:
	void init()
	{
		setConfigDirectoryOverride(dir.path().toStdString());
		config() = ConfigRecord{};
		TestFrontend::instance().reset();
	}

	void cleanup()
	{
		m->releaseCanvas();
		TestFrontend::instance().reset();
	}

	void createsCanvasWithConfiguredSizeAndFlags()
	{
		config().width = 720;
		config().height = 1280;
		QSignalSpy changed(m, &CanvasManager::canvasChanged);
		loadWith({});
		QVERIFY(m->hasCanvas());
		QCOMPARE(m->canvasWidth(), 720u);
		QCOMPARE(m->canvasHeight(), 1280u);
		QCOMPARE(obs_canvas_get_flags(m->canvas()), uint32_t(ACTIVATE | SCENE_REF));
		QCOMPARE(verticalCanvasCount(), 1);
		QVERIFY(changed.count() >= 1);
		QVERIFY(ObsTestEnv::logContains(
			QString("[stilwane] vertical canvas ready: %1 (720x1280)").arg(uuidOf(m->canvas()))));
		// Only the two built-in transitions, the fade selected and on channel 0.
		QCOMPARE(m->transitions().size(), 2);
		QCOMPARE(m->selectedTransitionUuid(), QString(kFadeUuid));
		OBSSourceAutoRelease channel = obs_canvas_get_channel(m->canvas(), 0);
		QCOMPARE(channel.Get(), m->activeTransitionSource());
	}

	void mixAudioFlag()
	{
		config().mixAudio = true;
		loadWith({});
		QCOMPARE(obs_canvas_get_flags(m->canvas()), uint32_t(ACTIVATE | MIX_AUDIO | SCENE_REF));
	}

	void storedSizeWinsOverConfiguredSize()
	{
		config().width = 720;
		config().height = 1280;
		loadWith(R"({"width": 1080, "height": 1350})");
		QCOMPARE(m->canvasWidth(), 1080u);
		QCOMPARE(m->canvasHeight(), 1350u);
	}

	void findsByUuidBeforeName()
	{
		// libobs keeps canvas names unique, so a stored uuid can only point past the name at a
		// canvas that was renamed.
		obs_canvas_t *named = addFrontendCanvas(kCanvasName, 1080, 1920);
		obs_canvas_t *renamed = addFrontendCanvas("Renamed by the user", 1080, 1920);
		loadWith(QString(R"({"canvas_uuid": "%1"})").arg(uuidOf(renamed)).toUtf8());
		QCOMPARE(m->canvas(), renamed);

		// An unknown uuid falls back to the canvas of that name; nothing new is created.
		loadWith(R"({"canvas_uuid": "00000000-0000-0000-0000-000000000000"})");
		QCOMPARE(m->canvas(), named);
		QCOMPARE(TestFrontend::instance().canvases().size(), size_t(2));
	}

	void ignoresRemovedCanvases()
	{
		obs_canvas_t *gone = addFrontendCanvas("Old Vertical", 1080, 1920);
		obs_canvas_t *keep = obs_canvas_get_ref(gone);
		obs_frontend_remove_canvas(gone);
		loadWith(QString(R"({"canvas_uuid": "%1"})").arg(uuidOf(keep)).toUtf8());
		QVERIFY(m->hasCanvas());
		QVERIFY(m->canvas() != keep);
		QCOMPARE(QString::fromUtf8(obs_canvas_get_name(m->canvas())), QString(kCanvasName));
		obs_canvas_release(keep);
	}

	void restoredCanvasGetsItsVideoBack()
	{
		TestFrontend &fe = TestFrontend::instance();
		loadWith(R"({"width": 720, "height": 1280})");
		QString uuid = uuidOf(m->canvas());
		OBSDataAutoRelease saved = fe.saveCollection();

		// The collection comes back as OBS restores it: the same canvas, without video. The manager
		// lets go of the canvas first, as the plug-in does when a switch begins; a canvas still held
		// would make libobs give the restored one another uuid and name.
		m->releaseCanvas();
		fe.switchCollection(saved, false);
		obs_canvas_t *restored = nullptr;
		for (obs_canvas_t *c : fe.canvases())
			restored = c;
		QVERIFY(restored);
		QVERIFY(!obs_canvas_has_video(restored));

		loadWith(QString(R"({"canvas_uuid": "%1", "width": 720, "height": 1280})").arg(uuid).toUtf8());
		QCOMPARE(m->canvas(), restored);
		QCOMPARE(uuidOf(m->canvas()), uuid);
		QVERIFY(obs_canvas_has_video(m->canvas()));
		QCOMPARE(m->canvasWidth(), 720u);
		QCOMPARE(m->canvasHeight(), 1280u);
		QCOMPARE(verticalCanvasCount(), 1);
	}

	void withoutCanvasEverythingIsEmpty()
	{
		QVERIFY(!m->hasCanvas());
		config().width = 900;
		QCOMPARE(m->canvasWidth(), 900u);
		QVERIFY(m->scenes().isEmpty());
		QVERIFY(!m->addScene("x"));
		QVERIFY(!m->findSceneByName("x"));
		QVERIFY(!m->resizeCanvas(100, 100));
	}

	void sceneOrderRule()
	{
		loadWith({});
		QString one = uuidOf(m->addScene("one"));
		QString two = uuidOf(m->addScene("two"));
		QString gone = uuidOf(m->addScene("gone"));
		{
			OBSSourceAutoRelease source = m->findSceneByUuid(gone);
			obs_source_remove(source);
		}
		m->addScene("three");

		// A collection whose order names two, a vanished scene and one, and not three.
		OBSDataAutoRelease data = obs_data_create();
		obs_data_set_string(data, "canvas_uuid", obs_canvas_get_uuid(m->canvas()));
		OBSDataArrayAutoRelease order = obs_data_array_create();
		for (const QString &uuid : {two, gone, QString(), one}) {
			OBSDataAutoRelease item = obs_data_create();
			obs_data_set_string(item, "uuid", uuid.toUtf8().constData());
			obs_data_array_push_back(order, item);
		}
		obs_data_set_array(data, "scene_order", order);
		m->loadFromCollection(data);

		QCOMPARE(names(m->scenes()), QStringList({"two", "one", "three"}));
		OBSDataAutoRelease saved = obs_data_create();
		m->saveToCollection(saved);
		OBSDataArrayAutoRelease savedOrder = obs_data_get_array(saved, "scene_order");
		QCOMPARE(obs_data_array_count(savedOrder), size_t(3));
		OBSDataAutoRelease firstSaved = obs_data_array_item(savedOrder, 0);
		QCOMPARE(QString::fromUtf8(obs_data_get_string(firstSaved, "uuid")), two);
		// The current scene named nowhere falls back to the first one.
		QCOMPARE(m->currentSceneUuid(), two);
	}

	void addMakesTheFirstSceneCurrent()
	{
		loadWith({});
		QSignalSpy current(m, &CanvasManager::currentSceneChanged);
		obs_scene_t *a = m->addScene("A");
		QVERIFY(a);
		QCOMPARE(m->currentSceneUuid(), uuidOf(a));
		QCOMPARE(current.count(), 1);
		m->addScene("B");
		QCOMPARE(m->currentSceneUuid(), uuidOf(a));
		QCOMPARE(current.count(), 1);
	}

	void uniqueNames()
	{
		loadWith({});
		QCOMPARE(m->uniqueSceneName("Vertical"), QString("Vertical"));
		m->addScene("Vertical");
		QCOMPARE(m->uniqueSceneName("Vertical"), QString("Vertical 2"));
		m->addScene("Vertical 2");
		QCOMPARE(m->uniqueSceneName("Vertical"), QString("Vertical 3"));
		QVERIFY(m->sceneNameExists("Vertical 2"));
		QVERIFY(!m->sceneNameExists("vertical 2"));
	}

	void renameRules()
	{
		loadWith({});
		obs_scene_t *a = m->addScene("A");
		m->addScene("B");
		obs_source_t *source = obs_scene_get_source(a);
		QSignalSpy changed(m, &CanvasManager::scenesChanged);
		QVERIFY(!m->renameScene(source, "A"));
		QVERIFY(!m->renameScene(source, "B"));
		QVERIFY(!m->renameScene(source, ""));
		QVERIFY(!m->renameScene(nullptr, "C"));
		QCOMPARE(changed.count(), 0);
		QVERIFY(m->renameScene(source, "C"));
		QCOMPARE(changed.count(), 1);
		QCOMPARE(names(m->scenes()), QStringList({"C", "B"}));
	}

	void moveScenes()
	{
		loadWith({});
		QString a = uuidOf(m->addScene("A"));
		m->addScene("B");
		QString c = uuidOf(m->addScene("C"));
		QSignalSpy changed(m, &CanvasManager::scenesChanged);

		m->moveScene(a, -1);
		m->moveScene(c, 1);
		m->moveScene("no-such-uuid", 1);
		QCOMPARE(changed.count(), 0);
		QCOMPARE(names(m->scenes()), QStringList({"A", "B", "C"}));

		m->moveScene(a, 1);
		QCOMPARE(names(m->scenes()), QStringList({"B", "A", "C"}));
		m->moveScene(c, -2);
		QCOMPARE(names(m->scenes()), QStringList({"C", "A", "B"}));
		m->moveScene(a, 0);
		QCOMPARE(changed.count(), 3);
	}

	void removeCurrentSceneFallsBackToTheFirst()
	{
		loadWith({});
		obs_scene_t *a = m->addScene("A");
		obs_scene_t *b = m->addScene("B");
		m->addScene("C");
		OBSSourceAutoRelease bSource = obs_source_get_ref(obs_scene_get_source(b));
		m->setCurrentScene(bSource, -1, "manual");
		QCOMPARE(m->currentSceneUuid(), uuidOf(b));

		QSignalSpy current(m, &CanvasManager::currentSceneChanged);
		m->removeScene(bSource);
		QCOMPARE(m->currentSceneUuid(), uuidOf(a));
		QCOMPARE(current.count(), 1);
		QCOMPARE(names(m->scenes()), QStringList({"A", "C"}));

		// Removing a scene that is not current keeps the current one.
		OBSSourceAutoRelease c = m->findSceneByName("C");
		m->removeScene(c);
		QCOMPARE(m->currentSceneUuid(), uuidOf(a));
	}

	void removeTheLastSceneLeavesNothingShown()
	{
		loadWith({});
		obs_scene_t *a = m->addScene("A");
		QSignalSpy current(m, &CanvasManager::currentSceneChanged);
		QSignalSpy editing(m, &CanvasManager::editingSceneChanged);
		m->removeScene(obs_scene_get_source(a));
		QVERIFY(m->currentSceneUuid().isEmpty());
		QVERIFY(m->scenes().isEmpty());
		QCOMPARE(current.count(), 1);
		QCOMPARE(editing.count(), 1);
		OBSSourceAutoRelease shown = obs_transition_get_active_source(m->activeTransitionSource());
		QVERIFY(!shown);
	}

	void selectionSignals()
	{
		loadWith({});
		obs_scene_t *a = m->addScene("A");
		OBSDataAutoRelease settings = obs_data_create();
		OBSSourceAutoRelease color = obs_source_create("color_source_v3", "sel-color", settings, nullptr);
		obs_sceneitem_t *item = obs_scene_add(a, color);
		QVERIFY(item);

		QSignalSpy selection(m, &CanvasManager::itemSelectionChanged);
		m->selectItem(obs_sceneitem_get_id(item));
		QCOMPARE(selection.count(), 1);
		QCOMPARE(m->selectedItem(), item);
		m->selectItem(obs_sceneitem_get_id(item));
		QCOMPARE(selection.count(), 1);
		m->selectItem(-1);
		QCOMPARE(selection.count(), 2);
		QVERIFY(!m->selectedItem());
		m->selectItem(999999);
		QVERIFY(!m->selectedItem());
		m->selectItem(-1);
	}

	void releaseKeepsTheCanvasInTheFrontEnd()
	{
		loadWith({});
		QString uuid = uuidOf(m->canvas());
		m->addScene("A");
		QSignalSpy transitions(m, &CanvasManager::transitionsChanged);
		m->releaseCanvas();
		QVERIFY(!m->hasCanvas());
		QCOMPARE(transitions.count(), 1);
		QVERIFY(m->transitions().isEmpty());
		QCOMPARE(verticalCanvasCount(), 1);

		m->ensureCanvas();
		QCOMPARE(uuidOf(m->canvas()), uuid);
		QCOMPARE(names(m->scenes()), QStringList({"A"}));
		QCOMPARE(m->transitions().size(), 2);
	}

	void resizeResetsTheVideo()
	{
		loadWith({});
		QSignalSpy changed(m, &CanvasManager::canvasChanged);
		QVERIFY(m->resizeCanvas(720, 1280));
		QCOMPARE(changed.count(), 1);
		QCOMPARE(m->canvasWidth(), 720u);
		QCOMPARE(config().width, 1080u);
	}
};

STILWANE_TEST_MAIN(TestCanvasManager)
#include "test_canvas_manager.moc"
