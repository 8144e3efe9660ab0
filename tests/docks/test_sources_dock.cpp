// SPDX-License-Identifier: GPL-2.0-or-later
// The sources dock as a real widget under Xvfb over real libobs scenes: rows rebuilt from the edited
// scene, one rebuild for a burst of scene signals, the shared item selection, the row toggles, the
// item buttons and context menu, and reordering by drag and drop.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "SourcesDockFixture.hpp"

#include <canvas/CollectionSaver.hpp>
#include <widgets/IconButton.hpp>
#include <widgets/SourceName.hpp>
#include <widgets/SourceToggle.hpp>

#include <QSignalSpy>

#include <cstring>
#include <functional>
#include <thread>

using namespace stilwane;

using namespace docktest;

class TestSourcesDock : public QObject {
	Q_OBJECT

	SourcesDockFixture fx;
	CanvasManager *m = fx.m;

	IconButton *button(const char *name) const { return fx.dock->findChild<IconButton *>(name); }

	void checkNoSceneRow()
	{
		QCOMPARE(fx.list()->count(), 1);
		QListWidgetItem *only = fx.list()->item(0);
		QCOMPARE(only->text(), translate("Sources.NoScene"));
		QVERIFY(only->text() != QString("Sources.NoScene"));
		QCOMPARE(only->flags(), Qt::NoItemFlags);
		QVERIFY(!fx.dock->rowWidget(0));
		QVERIFY(!button("stilwane_sources_add")->isEnabled());
		fx.list()->setCurrentRow(0);
		QCOMPARE(m->selectedItemId(), int64_t(-1));
		QVERIFY(!fx.dock->currentRowItem());
		// The add menu's entries are all off.
		QMenu menu;
		fx.dock->buildAddMenu(&menu);
		for (QAction *action : menu.actions())
			QVERIFY(!action->isEnabled());
	}

private slots:
	void initTestCase() { fx.initTestCase(); }
	void cleanupTestCase() { fx.cleanupTestCase(); }
	void cleanup() { fx.cleanup(); }

	void rowsFollowTheEditedScene()
	{
		QVERIFY(fx.init());
		obs_sceneitem_t *bottom = fx.addColor("bottom");
		obs_sceneitem_t *top = fx.addColor("top");
		QVERIFY(fx.rowsFollowScene());
		QCOMPARE(fx.rowIds(), QList<int64_t>({obs_sceneitem_get_id(top), obs_sceneitem_get_id(bottom)}));

		QListWidgetItem *first = fx.list()->item(0);
		QCOMPARE(first->data(Qt::AccessibleTextRole).toString(), QString("top"));
		QCOMPARE(first->toolTip(), QString("top"));
		QCOMPARE(first->flags(), Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsEnabled);
		SourceRow *row = fx.dock->rowWidget(0);
		QVERIFY(row);
		QCOMPARE(row->nameLabel()->text(), QString("top"));
		QCOMPARE(first->sizeHint().height(), row->sizeHint().height() + 8);
		QVERIFY(button("stilwane_sources_add")->isEnabled());

		// A hidden, locked item shows so, with its name greyed.
		obs_sceneitem_set_visible(bottom, false);
		obs_sceneitem_set_locked(bottom, true);
		obs_sceneitem_set_order(bottom, OBS_ORDER_MOVE_TOP);
		QVERIFY(fx.rowsFollowScene());
		SourceRow *moved = fx.dock->rowWidget(0);
		QVERIFY(!moved->visibilityToggle()->isChecked());
		QVERIFY(moved->lockToggle()->isChecked());
		QVERIFY(!moved->nameLabel()->isEnabled());

		// In studio mode the dock edits the preview scene.
		obs_source_t *other = canvastest::sourceOf(m->addScene("Other"));
		m->setStudioMode(true);
		m->setPreviewScene(other, "test");
		QCOMPARE(fx.list()->count(), 0);
		OBSSourceAutoRelease inOther = colorSource("in other", 10, 10);
		obs_scene_add(obs_scene_from_source(other), inOther);
		QVERIFY(ObsTestEnv::waitUntil([&] { return fx.rowIds() == fx.sceneIdsTopFirst(other); }));
		QCOMPARE(fx.list()->count(), 1);
		// The program scene's items no longer reach the list.
		fx.addColor("unseen");
		ObsTestEnv::pump(100);
		QCOMPARE(fx.list()->count(), 1);
	}

	void burstOfSignalsGivesOneRebuild()
	{
		QVERIFY(fx.init());
		QSignalSpy resets(fx.list()->model(), &QAbstractItemModel::modelReset);
		for (int i = 0; i < 5; i++)
			fx.addColor(qPrintable(QString("burst %1").arg(i)));
		QCOMPARE(fx.list()->count(), 0); // nothing before the queued rebuild runs
		QVERIFY(fx.rowsFollowScene());
		ObsTestEnv::pump(100);
		QCOMPARE(resets.count(), 1);
		QCOMPARE(fx.list()->count(), 5);

		// The same from a libobs-side thread: items added, one reordered, one removed.
		resets.clear();
		obs_scene_t *scene = obs_scene_from_source(fx.v);
		std::thread worker([scene] {
			for (int i = 0; i < 4; i++) {
				OBSSourceAutoRelease source =
					colorSource(qPrintable(QString("thread %1").arg(i)), 10, 10);
				obs_scene_add(scene, source);
			}
			std::vector<int64_t> ids;
			obs_scene_enum_items(
				scene,
				[](obs_scene_t *, obs_sceneitem_t *item, void *param) {
					static_cast<std::vector<int64_t> *>(param)->push_back(
						obs_sceneitem_get_id(item));
					return true;
				},
				&ids);
			obs_sceneitem_set_order(obs_scene_find_sceneitem_by_id(scene, ids.front()), OBS_ORDER_MOVE_TOP);
			obs_sceneitem_remove(obs_scene_find_sceneitem_by_id(scene, ids.back()));
		});
		worker.join();
		QVERIFY(fx.rowsFollowScene());
		ObsTestEnv::pump(100);
		QCOMPARE(resets.count(), 1);
		QCOMPARE(fx.list()->count(), 8);
	}

	void noSceneRow()
	{
		QVERIFY(fx.init(false));
		checkNoSceneRow();
		if (QTest::currentTestFailed())
			return;

		// A scene appears, then the canvas goes away.
		obs_scene_t *scene = m->addScene("V");
		QVERIFY(scene);
		QCOMPARE(fx.list()->count(), 0);
		QVERIFY(button("stilwane_sources_add")->isEnabled());
		QVERIFY(canvastest::waitForTransitionEnd(m));
		m->releaseCanvas();
		checkNoSceneRow();
	}

	void selectionIsShared()
	{
		QVERIFY(fx.init());
		obs_sceneitem_t *a = fx.addColor("a");
		obs_sceneitem_t *b = fx.addColor("b");
		QVERIFY(fx.rowsFollowScene());
		const int64_t idA = obs_sceneitem_get_id(a), idB = obs_sceneitem_get_id(b);

		// The manager's selection (the preview's) moves the current row.
		m->selectItem(idA);
		QCOMPARE(fx.list()->currentRow(), fx.rowOf(idA));
		QCOMPARE(fx.dock->currentRowItem(), a);
		QCOMPARE(fx.dock->rowWidget(fx.rowOf(idA))->nameLabel()->foregroundRole(), QPalette::HighlightedText);
		QCOMPARE(fx.dock->rowWidget(fx.rowOf(idB))->nameLabel()->foregroundRole(), QPalette::Text);

		// Clicking a row selects its item in the manager.
		QRect rect = fx.list()->visualItemRect(fx.list()->item(fx.rowOf(idB)));
		QTest::mouseClick(fx.list()->viewport(), Qt::LeftButton, {}, rect.center());
		QCOMPARE(m->selectedItemId(), idB);
		QCOMPARE(fx.dock->rowWidget(fx.rowOf(idB))->nameLabel()->foregroundRole(), QPalette::HighlightedText);
		QCOMPARE(fx.dock->rowWidget(fx.rowOf(idA))->nameLabel()->foregroundRole(), QPalette::Text);

		// A rebuild keeps the selected row.
		fx.addColor("c");
		QVERIFY(fx.rowsFollowScene());
		QCOMPARE(fx.list()->currentRow(), fx.rowOf(idB));
		QCOMPARE(m->selectedItemId(), idB);

		// An id that no row carries clears the current row without selecting anything else.
		m->selectItem(987654);
		QCOMPARE(fx.list()->currentRow(), -1);
		QVERIFY(fx.list()->selectedItems().isEmpty());
		QCOMPARE(m->selectedItemId(), int64_t(987654));
		m->selectItem(-1);
	}

	void togglesChangeTheItem()
	{
		QVERIFY(fx.init());
		obs_sceneitem_t *a = fx.addColor("a");
		fx.addColor("b");
		QVERIFY(fx.rowsFollowScene());
		const int64_t id = obs_sceneitem_get_id(a);
		m->selectItem(-1);
		SourceRow *row = fx.dock->rowWidget(fx.rowOf(id));
		QVERIFY(row->visibilityToggle()->isChecked());

		QTest::mouseClick(row->visibilityToggle(), Qt::LeftButton);
		QVERIFY(!obs_sceneitem_visible(a));
		QVERIFY(ObsTestEnv::waitUntil([row] { return !row->nameLabel()->isEnabled(); }));
		QTest::mouseClick(row->lockToggle(), Qt::LeftButton);
		QVERIFY(obs_sceneitem_locked(a));
		// Using a toggle does not select its row.
		QCOMPARE(fx.list()->currentRow(), -1);
		QCOMPARE(m->selectedItemId(), int64_t(-1));

		QTest::mouseClick(row->visibilityToggle(), Qt::LeftButton);
		QTest::mouseClick(row->lockToggle(), Qt::LeftButton);
		QVERIFY(obs_sceneitem_visible(a));
		QVERIFY(!obs_sceneitem_locked(a));
		QVERIFY(ObsTestEnv::waitUntil([row] { return row->nameLabel()->isEnabled(); }));

		// Changes made elsewhere (the preview, another client) reach the toggles without a rebuild.
		QSignalSpy resets(fx.list()->model(), &QAbstractItemModel::modelReset);
		obs_sceneitem_set_visible(a, false);
		obs_sceneitem_set_locked(a, true);
		QVERIFY(ObsTestEnv::waitUntil(
			[row] { return !row->visibilityToggle()->isChecked() && row->lockToggle()->isChecked(); }));
		QVERIFY(!row->nameLabel()->isEnabled());
		QCOMPARE(resets.count(), 0);
		QCOMPARE(fx.dock->rowWidget(fx.rowOf(id)), row);

		// Pressing or double-clicking a toggle neither selects the row nor opens the transform; a
		// click on the row's name does select it.
		QSignalSpy doubleClicks(fx.list(), &QListWidget::itemDoubleClicked);
		QTest::mousePress(row->lockToggle(), Qt::LeftButton);
		QTest::mouseRelease(row->lockToggle(), Qt::LeftButton);
		QTest::mouseDClick(row->visibilityToggle(), Qt::LeftButton);
		QCOMPARE(fx.list()->currentRow(), -1);
		QCOMPARE(doubleClicks.count(), 0);
		QTest::mouseClick(row, Qt::LeftButton, {}, row->nameLabel()->geometry().center());
		QCOMPARE(fx.list()->currentRow(), fx.rowOf(id));
		QCOMPARE(m->selectedItemId(), id);
	}

	// The item as the last collection save stored it, from the saved "sources" of the scene.
	static OBSDataAutoRelease savedItem(TestFrontend &fe, obs_source_t *scene, const char *name)
	{
		OBSDataAutoRelease collection = fe.currentCollectionData();
		OBSDataArrayAutoRelease sources = collection ? obs_data_get_array(collection, "sources") : nullptr;
		for (size_t i = 0; sources && i < obs_data_array_count(sources); i++) {
			OBSDataAutoRelease source = obs_data_array_item(sources, i);
			if (strcmp(obs_data_get_string(source, "uuid"), obs_source_get_uuid(scene)) != 0)
				continue;
			OBSDataAutoRelease settings = obs_data_get_obj(source, "settings");
			OBSDataArrayAutoRelease items = obs_data_get_array(settings, "items");
			for (size_t j = 0; j < obs_data_array_count(items); j++) {
				OBSDataAutoRelease item = obs_data_array_item(items, j);
				if (strcmp(obs_data_get_string(item, "name"), name) == 0)
					return item;
			}
		}
		return nullptr;
	}

	void editsReachTheCollection()
	{
		QVERIFY(fx.init());
		obs_sceneitem_t *a = fx.addColor("a", 2160, 100);
		fx.addColor("b");
		QVERIFY(fx.rowsFollowScene());
		ObsTestEnv::pump(2 * CollectionSaver::kDelayMs);
		const int saves = fx.fe.saveCount();

		// A burst: hide, lock and fit, all within the save delay, make one save holding all three.
		SourceRow *row = fx.dock->rowWidget(fx.rowOf(obs_sceneitem_get_id(a)));
		QTest::mouseClick(row->visibilityToggle(), Qt::LeftButton);
		QTest::mouseClick(row->lockToggle(), Qt::LeftButton);
		m->selectItem(obs_sceneitem_get_id(a));
		fx.dock->fitWidth();
		QCOMPARE(fx.fe.saveCount(), saves);
		QVERIFY(ObsTestEnv::waitUntil([&] { return fx.fe.saveCount() > saves; }, 1000));
		ObsTestEnv::pump(2 * CollectionSaver::kDelayMs);
		QCOMPARE(fx.fe.saveCount(), saves + 1);
		OBSDataAutoRelease saved = savedItem(fx.fe, fx.v, "a");
		QVERIFY(saved);
		QVERIFY(!obs_data_get_bool(saved, "visible"));
		QVERIFY(obs_data_get_bool(saved, "locked"));
		OBSDataAutoRelease scale = obs_data_get_obj(saved, "scale");
		QVERIFY(nearScale(float(obs_data_get_double(scale, "x")), 0.5f));

		// Each kind of edit asks for its own save: order buttons, drop, fits, removal, rename.
		struct Edit {
			const char *what;
			std::function<void()> run;
		};
		const std::vector<Edit> edits = {
			{"move down", [&] { fx.dock->moveDown(); }},
			{"move up", [&] { fx.dock->moveUp(); }},
			{"fit height", [&] { fx.dock->fitHeight(); }},
			{"center", [&] { fx.dock->centerItem(); }},
			{"rename",
			 [&] {
				 fx.answers.textAnswers = {QString("renamed a")};
				 fx.dock->renameItem();
			 }},
			{"remove",
			 [&] {
				 fx.answers.confirmAnswer = true;
				 fx.dock->removeItem();
			 }},
		};
		for (const Edit &edit : edits) {
			m->selectItem(obs_sceneitem_get_id(a));
			const int before = fx.fe.saveCount();
			edit.run();
			QVERIFY2(ObsTestEnv::waitUntil([&] { return fx.fe.saveCount() > before; }, 1000), edit.what);
		}
		QVERIFY(!savedItem(fx.fe, fx.v, "renamed a"));
		QVERIFY(savedItem(fx.fe, fx.v, "b"));
	}

	void renamesReachTheRows()
	{
		QVERIFY(fx.init());
		obs_sceneitem_t *a = fx.addColor("a");
		obs_sceneitem_t *b = fx.addColor("b");
		QVERIFY(fx.rowsFollowScene());
		const int rowA = fx.rowOf(obs_sceneitem_get_id(a));
		SourceRow *row = fx.dock->rowWidget(rowA);
		QSignalSpy resets(fx.list()->model(), &QAbstractItemModel::modelReset);

		// Renamed elsewhere (OBS's own docks, obs-websocket): the same row shows the new name.
		obs_source_set_name(obs_sceneitem_get_source(a), "Camera %2 left");
		QVERIFY(ObsTestEnv::waitUntil([row] { return row->nameLabel()->text() == "Camera %2 left"; }));
		QCOMPARE(row->nameLabel()->toolTip(), QString("Camera %2 left"));
		QCOMPARE(fx.list()->item(rowA)->toolTip(), QString("Camera %2 left"));
		QCOMPARE(fx.list()->item(rowA)->data(Qt::AccessibleTextRole).toString(), QString("Camera %2 left"));
		QCOMPARE(fx.dock->rowWidget(rowA), row);
		QCOMPARE(resets.count(), 0);

		// Renamed from the menu, with OBS's rules: a taken name (a source, or a vertical scene) is
		// refused and asked again, blanks are trimmed, the own name and an empty one change nothing.
		m->addScene("Vertical Two");
		m->selectItem(obs_sceneitem_get_id(a));
		fx.answers.menuChoice = translate("Sources.Rename");
		fx.answers.textAnswers = {QString("b"), QString("Vertical Two"), QString("  Camera  ")};
		fx.dock->onContextMenu(QPoint(5, 5));
		QCOMPARE(fx.answers.textQuestions.size(), 3);
		QCOMPARE(fx.answers.textQuestions[0].initial, QString("Camera %2 left"));
		QCOMPARE(fx.answers.textQuestions[1].initial, QString("b"));
		QCOMPARE(fx.answers.messages.size(), 2);
		QCOMPARE(QString::fromUtf8(obs_source_get_name(obs_sceneitem_get_source(a))), QString("Camera"));
		QVERIFY(ObsTestEnv::waitUntil([row] { return row->nameLabel()->text() == "Camera"; }));
		QCOMPARE(QString::fromUtf8(obs_source_get_name(obs_sceneitem_get_source(b))), QString("b"));

		fx.answers.textAnswers = {QString("Camera"), QString("   ")};
		fx.dock->renameItem();
		fx.dock->renameItem();
		QCOMPARE(fx.answers.messages.size(), 2);
		QCOMPARE(QString::fromUtf8(obs_source_get_name(obs_sceneitem_get_source(a))), QString("Camera"));
	}

	void buttonsActOnTheCurrentRow()
	{
		QVERIFY(fx.init());
		obs_sceneitem_t *a = fx.addColor("a");
		obs_sceneitem_t *b = fx.addColor("b");
		obs_sceneitem_t *c = fx.addColor("c");
		QVERIFY(fx.rowsFollowScene());
		const int64_t idA = obs_sceneitem_get_id(a), idB = obs_sceneitem_get_id(b),
			      idC = obs_sceneitem_get_id(c);

		// Nothing current: the buttons do nothing.
		m->selectItem(-1);
		button("stilwane_sources_remove")->click();
		button("stilwane_sources_up")->click();
		ObsTestEnv::pump(50);
		QCOMPARE(fx.sceneIdsTopFirst(), QList<int64_t>({idC, idB, idA}));

		m->selectItem(idA);
		button("stilwane_sources_up")->click();
		QVERIFY(fx.rowsFollowScene());
		QCOMPARE(fx.sceneIdsTopFirst(), QList<int64_t>({idC, idA, idB}));
		// The item stays selected across the rebuild, so the next click moves it again.
		QCOMPARE(fx.list()->currentRow(), 1);
		button("stilwane_sources_up")->click();
		QVERIFY(fx.rowsFollowScene());
		QCOMPARE(fx.sceneIdsTopFirst(), QList<int64_t>({idA, idC, idB}));
		button("stilwane_sources_down")->click();
		QVERIFY(fx.rowsFollowScene());
		QCOMPARE(fx.sceneIdsTopFirst(), QList<int64_t>({idC, idA, idB}));

		// Removing asks first, naming the source; "No" keeps it.
		button("stilwane_sources_remove")->click();
		QCOMPARE(fx.answers.confirmations.size(), 1);
		QVERIFY(fx.answers.confirmations[0].contains("'a'"));
		QCOMPARE(fx.sceneIdsTopFirst(), QList<int64_t>({idC, idA, idB}));
		fx.answers.confirmAnswer = true;
		button("stilwane_sources_remove")->click();
		QVERIFY(fx.rowsFollowScene());
		QCOMPARE(fx.sceneIdsTopFirst(), QList<int64_t>({idC, idB}));

		// The transform button opens the dialog for the current row.
		IconButton *transform = button("stilwane_sources_transform");
		QVERIFY(transform);
		QVERIFY(transform->isEnabled());
		fx.list()->setCurrentRow(0);
		const int dialogs = fx.answers.dialogCount;
		transform->click();
		QCOMPARE(fx.answers.dialogCount, dialogs + 1);
	}

	void contextMenu()
	{
		QVERIFY(fx.init());
		obs_sceneitem_t *wide = nullptr;
		{
			OBSSourceAutoRelease source = colorSource("wide", 1920, 1080);
			wide = obs_scene_add(obs_scene_from_source(fx.v), source);
		}
		QVERIFY(fx.rowsFollowScene());

		// Without a current row only the add entries are offered.
		m->selectItem(-1);
		fx.dock->onContextMenu(QPoint(5, 5));
		QCOMPARE(fx.answers.menuEntries,
			 QStringList({translate("Sources.AddNew"), translate("Sources.AddScene"),
				      translate("Sources.AddExisting")}));

		m->selectItem(obs_sceneitem_get_id(wide));
		fx.answers.menuChoice = translate("Sources.FitWidth");
		fx.dock->onContextMenu(QPoint(5, 5));
		QCOMPARE(fx.answers.menuEntries,
			 QStringList({translate("Sources.AddNew"), translate("Sources.AddScene"),
				      translate("Sources.AddExisting"), "-", translate("Sources.FitWidth"),
				      translate("Sources.FitHeight"), translate("Sources.Center"),
				      translate("Sources.Transform"), "-", translate("Sources.Properties"),
				      translate("Sources.Filters"), "-", translate("Sources.Rename"),
				      translate("Sources.Remove")}));
		Placement p = placementOf(wide);
		QVERIFY(nearScale(p.scaleX, 0.5625f));
		QVERIFY(nearPos(p.y, 656.25f));

		fx.answers.menuChoice = translate("Sources.FitHeight");
		fx.dock->onContextMenu(QPoint(5, 5));
		p = placementOf(wide);
		QVERIFY(nearScale(p.scaleX, 1920.0f / 1080.0f));
		QVERIFY(nearPos(p.x, (1080.0f - 1920.0f * 1920.0f / 1080.0f) * 0.5f));
		QVERIFY(nearPos(p.y, 0.0f));

		vec2 scale = {};
		vec2_set(&scale, 0.25f, 0.5f);
		obs_sceneitem_set_scale(wide, &scale);
		fx.answers.menuChoice = translate("Sources.Center");
		fx.dock->onContextMenu(QPoint(5, 5));
		p = placementOf(wide);
		QVERIFY(nearScale(p.scaleX, 0.25f));
		QVERIFY(nearScale(p.scaleY, 0.5f));
		QVERIFY(nearPos(p.x, (1080.0f - 480.0f) * 0.5f));
		QVERIFY(nearPos(p.y, (1920.0f - 540.0f) * 0.5f));

		// The transform entry opens the dialog.
		const int dialogs = fx.answers.dialogCount;
		fx.answers.menuChoice = translate("Sources.Transform");
		fx.dock->onContextMenu(QPoint(5, 5));
		QCOMPARE(fx.answers.dialogCount, dialogs + 1);

		fx.answers.menuChoice = translate("Sources.Remove");
		fx.answers.confirmAnswer = true;
		fx.dock->onContextMenu(QPoint(5, 5));
		QCOMPARE(fx.answers.confirmations.size(), 1);
		QVERIFY(fx.sceneIdsTopFirst().isEmpty());
		QVERIFY(fx.rowsFollowScene());
	}

	void dropAppliedOnlyToAnUnchangedScene()
	{
		QVERIFY(fx.init());
		obs_sceneitem_t *a = fx.addColor("a");
		obs_sceneitem_t *b = fx.addColor("b");
		obs_sceneitem_t *c = fx.addColor("c");
		QVERIFY(fx.rowsFollowScene());
		const int64_t idA = obs_sceneitem_get_id(a), idB = obs_sceneitem_get_id(b),
			      idC = obs_sceneitem_get_id(c);
		QCOMPARE(fx.rowIds(), QList<int64_t>({idC, idB, idA}));
		m->selectItem(-1);

		// The list has moved the bottom row to the top; the scene follows and the item is selected.
		SourceList *list = fx.list();
		list->onDragStart();
		list->onDropped(idA, 0);
		list->onDragEnd();
		QCOMPARE(fx.sceneIdsTopFirst(), QList<int64_t>({idA, idC, idB}));
		QCOMPARE(m->selectedItemId(), idA);
		QVERIFY(fx.rowsFollowScene());
		QCOMPARE(fx.list()->currentRow(), 0);

		// Rows out of range are refused.
		list->onDragStart();
		list->onDropped(idA, 3);
		list->onDropped(idA, -1);
		list->onDragEnd();
		QCOMPARE(fx.sceneIdsTopFirst(), QList<int64_t>({idA, idC, idB}));

		// Another client adds an item while the drag runs: the list waits, the drop is refused, and the
		// list is rebuilt from the scene once the drag ends.
		QSignalSpy resets(fx.list()->model(), &QAbstractItemModel::modelReset);
		list->onDragStart();
		obs_sceneitem_t *d = fx.addColor("d");
		ObsTestEnv::pump(100);
		QCOMPARE(resets.count(), 0);
		QCOMPARE(fx.list()->count(), 3);
		list->onDropped(idB, 0);
		list->onDragEnd();
		QCOMPARE(fx.sceneIdsTopFirst(), QList<int64_t>({obs_sceneitem_get_id(d), idA, idC, idB}));
		QVERIFY(fx.rowsFollowScene());
		QCOMPARE(resets.count(), 1);

		// Same count, other order (a reorder by another client) is refused too.
		list->onDragStart();
		obs_sceneitem_set_order(c, OBS_ORDER_MOVE_BOTTOM);
		list->onDropped(idB, 0);
		list->onDragEnd();
		QCOMPARE(fx.sceneIdsTopFirst(), QList<int64_t>({obs_sceneitem_get_id(d), idA, idB, idC}));
		QVERIFY(fx.rowsFollowScene());

		// A drop after the edited scene changed under the drag is refused.
		obs_source_t *other = canvastest::sourceOf(m->addScene("Other"));
		list->onDragStart();
		m->setStudioMode(true);
		m->setPreviewScene(other, "test");
		list->onDropped(idC, 0);
		list->onDragEnd();
		QCOMPARE(fx.sceneIdsTopFirst(), QList<int64_t>({obs_sceneitem_get_id(d), idA, idB, idC}));
		QVERIFY(ObsTestEnv::waitUntil([&] { return fx.rowIds() == fx.sceneIdsTopFirst(other); }));
	}
};

STILWANE_TEST_MAIN(TestSourcesDock)
#include "test_sources_dock.moc"
