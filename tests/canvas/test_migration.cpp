// SPDX-License-Identifier: GPL-2.0-or-later
// Moving the vertical scenes to a new canvas (to change its audio flag): nothing of the scenes may be
// lost, the old canvas must go without leaking, and the move is refused while an output runs.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "CanvasFixture.hpp"

#include <TestMain.hpp>

using namespace stilwane;

using namespace canvastest;

namespace {

// One scene item as the user sees it: its id, its source, whether it is selected, and for a group
// the same for its members.
QString describeItems(obs_scene_t *scene);

bool describeItem(obs_scene_t *, obs_sceneitem_t *item, void *param)
{
	auto *out = static_cast<QStringList *>(param);
	QString text = QString("%1:%2%3")
			       .arg(obs_sceneitem_get_id(item))
			       .arg(QString::fromUtf8(obs_source_get_name(obs_sceneitem_get_source(item))))
			       .arg(obs_sceneitem_selected(item) ? "*" : "");
	if (obs_sceneitem_is_group(item))
		text += "[" + describeItems(obs_sceneitem_group_get_scene(item)) + "]";
	out->append(text);
	return true;
}

QString describeItems(obs_scene_t *scene)
{
	QStringList items;
	obs_scene_enum_items(scene, describeItem, &items);
	return items.join(",");
}

// Every vertical scene with its items, in the manager's order.
QStringList describeScenes(CanvasManager *m)
{
	QStringList result;
	for (const SceneRef &ref : m->scenes()) {
		OBSSourceAutoRelease source = m->findSceneByUuid(ref.uuid);
		result << QString("%1 %2 {%3}").arg(ref.uuid, ref.name, describeItems(obs_scene_from_source(source)));
	}
	return result;
}

obs_sceneitem_t *addColor(obs_scene_t *scene, const char *name)
{
	OBSSourceAutoRelease color = obs_source_create("color_source_v3", name, nullptr, nullptr);
	return obs_scene_add(scene, color);
}

QStringList frontendCanvasUuids()
{
	QStringList result;
	for (obs_canvas_t *canvas : TestFrontend::instance().canvases())
		result << uuidOf(canvas);
	return result;
}

} // namespace

class TestMigration : public QObject {
	Q_OBJECT

	Fixture f;
	CanvasManager *m = f.m;

	// Two scenes, the first with a group between plain items and a selection inside and outside the
	// group; the second current.
	void buildScenes()
	{
		f.freshCanvas();
		obs_scene_t *a = m->addScene("A");
		obs_sceneitem_t *first = addColor(a, "first");
		addColor(a, "second");
		obs_sceneitem_t *grouped1 = addColor(a, "grouped1");
		obs_sceneitem_t *grouped2 = addColor(a, "grouped2");
		obs_sceneitem_t *group = obs_scene_add_group2(a, "Group", false);
		QVERIFY(group);
		obs_sceneitem_group_add_item(group, grouped1);
		obs_sceneitem_group_add_item(group, grouped2);
		addColor(a, "last");
		obs_sceneitem_set_order(first, OBS_ORDER_MOVE_UP);
		obs_sceneitem_select(first, true);
		obs_sceneitem_select(group, true);
		obs_sceneitem_t *inner = obs_scene_find_source(obs_sceneitem_group_get_scene(group), "grouped2");
		QVERIFY(inner);
		obs_sceneitem_select(inner, true);

		obs_scene_t *b = m->addScene("B");
		addColor(b, "only");
		m->setTransitionDuration(0);
		m->setCurrentScene(sourceOf(b), -1, "manual");
	}

private slots:
	void initTestCase() { f.initTestCase(); }
	void cleanupTestCase() { f.cleanupTestCase(); }
	void init() { f.init(); }
	void cleanup() { f.cleanup(); }

	void keepsEverySceneAndDropsTheOldCanvas()
	{
		buildScenes();
		if (QTest::currentTestFailed())
			return;
		QStringList before = describeScenes(m);
		QVERIFY(before.first().contains("Group*[") && before.first().contains("grouped2*"));
		QString current = m->currentSceneUuid();
		QString oldUuid = uuidOf(m->canvas());
		obs_source_t *transition = m->activeTransitionSource();
		QSignalSpy changed(m, &CanvasManager::canvasChanged);

		QVERIFY(m->migrateCanvas(true));

		QVERIFY(m->hasCanvas());
		QVERIFY(uuidOf(m->canvas()) != oldUuid);
		QCOMPARE(QString::fromUtf8(obs_canvas_get_name(m->canvas())), QString(kCanvasName));
		QCOMPARE(obs_canvas_get_flags(m->canvas()), uint32_t(ACTIVATE | SCENE_REF | MIX_AUDIO));
		QCOMPARE(frontendCanvasUuids(), QStringList({uuidOf(m->canvas())}));
		QCOMPARE(changed.count(), 1);

		QCOMPARE(describeScenes(m), before);
		QCOMPARE(m->currentSceneUuid(), current);
		QCOMPARE(m->activeTransitionSource(), transition);
		QCOMPARE(shownSceneUuid(m), current);
		OBSSourceAutoRelease channel = obs_canvas_get_channel(m->canvas(), 0);
		QCOMPARE(channel.Get(), transition);
		for (const SceneRef &ref : m->scenes()) {
			OBSSourceAutoRelease scene = m->findSceneByUuid(ref.uuid);
			OBSCanvasAutoRelease owner = obs_source_get_canvas(scene);
			QCOMPARE(owner.Get(), m->canvas());
		}
		QVERIFY(ObsTestEnv::logContains("[stilwane] vertical audio mixAudio: on"));
		QVERIFY(!ObsTestEnv::logContains("could not restore every scene item"));

		// And back, which retires the canvas made a moment ago.
		QVERIFY(m->migrateCanvas(false));
		QCOMPARE(obs_canvas_get_flags(m->canvas()), uint32_t(ACTIVATE | SCENE_REF));
		QCOMPARE(frontendCanvasUuids(), QStringList({uuidOf(m->canvas())}));
		QCOMPARE(describeScenes(m), before);
		QVERIFY(ObsTestEnv::logContains("[stilwane] vertical audio mixAudio: off"));
	}

	void resizeWhileOBSOutputsRun()
	{
		buildScenes();
		if (QTest::currentTestFailed())
			return;
		const QStringList before = describeScenes(m);
		const QString current = m->currentSceneUuid();
		// OBS's own recording runs: libobs refuses the canvas a new video size, a new canvas takes it.
		MainVideoSink sink;
		QVERIFY(sink.start());
		QVERIFY(m->resizeCanvas(720, 1280));
		QCOMPARE(m->canvasWidth(), 720u);
		QCOMPARE(m->canvasHeight(), 1280u);
		QCOMPARE(describeScenes(m), before);
		QCOMPARE(m->currentSceneUuid(), current);
		QCOMPARE(shownSceneUuid(m), current);
		QCOMPARE(frontendCanvasUuids(), QStringList({uuidOf(m->canvas())}));
		QCOMPARE(obs_canvas_get_flags(m->canvas()), uint32_t(ACTIVATE | SCENE_REF));

		// Never while a vertical output runs, which encodes the canvas's video.
		VerticalOutput::setBusyOverrideForTests(true);
		QVERIFY(!m->resizeCanvas(1080, 1920));
		VerticalOutput::setBusyOverrideForTests(std::nullopt);
		QCOMPARE(m->canvasHeight(), 1280u);
	}

	void migratedCanvasSurvivesACollectionRoundTrip()
	{
		buildScenes();
		if (QTest::currentTestFailed())
			return;
		QStringList before = describeScenes(m);
		QVERIFY(m->migrateCanvas(true));
		QString uuid = uuidOf(m->canvas());

		OBSDataAutoRelease object = obs_data_create();
		m->saveToCollection(object);
		OBSDataAutoRelease collection = f.fe.saveCollection();
		m->releaseCanvas();
		f.fe.switchCollection(collection, false);
		m->loadFromCollection(object);

		QCOMPARE(uuidOf(m->canvas()), uuid);
		QCOMPARE(obs_canvas_get_flags(m->canvas()), uint32_t(ACTIVATE | SCENE_REF | MIX_AUDIO));
		// libobs does not keep item selection in a collection, migrated or not.
		QCOMPARE(describeScenes(m).join('\n').remove('*'), before.join('\n').remove('*'));
	}

	void refusedWhileAnOutputIsBusy()
	{
		buildScenes();
		if (QTest::currentTestFailed())
			return;
		QStringList before = describeScenes(m);
		obs_canvas_t *canvas = m->canvas();
		QStringList canvases = frontendCanvasUuids();
		QSignalSpy changed(m, &CanvasManager::canvasChanged);

		VerticalOutput::setBusyOverrideForTests(true);
		QVERIFY(!m->migrateCanvas(true));
		QCOMPARE(m->canvas(), canvas);
		QCOMPARE(obs_canvas_get_flags(canvas), uint32_t(ACTIVATE | SCENE_REF));
		QCOMPARE(frontendCanvasUuids(), canvases);
		QCOMPARE(describeScenes(m), before);
		QCOMPARE(changed.count(), 0);
		QVERIFY(!ObsTestEnv::logContains("vertical audio mixAudio"));

		VerticalOutput::setBusyOverrideForTests(false);
		QVERIFY(m->migrateCanvas(true));
	}

	void refusedWithoutCanvas()
	{
		QVERIFY(!m->hasCanvas());
		QVERIFY(!m->migrateCanvas(true));
		QVERIFY(f.fe.canvases().empty());
		f.freshCanvas();
		m->releaseCanvas();
		QVERIFY(!m->migrateCanvas(true));
		QCOMPARE(f.fe.canvases().size(), size_t(1));
	}
};

STILWANE_TEST_MAIN(TestMigration)
#include "test_migration.moc"
