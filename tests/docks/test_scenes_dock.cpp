// SPDX-License-Identifier: GPL-2.0-or-later
// The scenes dock as a real widget under Xvfb over the real canvas manager: its rows and markers in
// and out of studio mode, switching by click, adding, renaming, removing and moving scenes, its
// context menu and its behaviour without a canvas.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <functional>
#include <vector>

#include "ScenesDockFixture.hpp"

#include <widgets/IconButton.hpp>

#include <TestMain.hpp>

#include <QSignalSpy>

using namespace stilwane;

using namespace canvastest;
using namespace docktest;

class TestScenesDock : public QObject {
	Q_OBJECT

	ScenesDockFixture x;
	CanvasManager *m = x.m;

	IconButton *addButton() const { return x.dock->findChild<IconButton *>("stilwane_scene_add"); }

	void checkRow(int row, const QString &text, bool bold, const QString &tip) const
	{
		QListWidgetItem *item = x.list()->item(row);
		QVERIFY(item);
		QCOMPARE(item->text(), text);
		QCOMPARE(item->font().bold(), bold);
		QCOMPARE(item->toolTip(), tip);
	}

private slots:
	void initTestCase() { x.initTestCase(); }
	void cleanupTestCase() { x.cleanupTestCase(); }
	void init() { QVERIFY(x.init()); }
	void cleanup() { x.cleanup(); }

	void rowsCarryUuidAndPlainName()
	{
		QCOMPARE(x.list()->count(), 3);
		QCOMPARE(x.list()->item(0)->data(Qt::UserRole).toString(), uuidOf(x.a));
		QCOMPARE(x.list()->item(0)->data(Qt::UserRole + 1).toString(), QString("A"));
		QCOMPARE(x.list()->item(2)->data(Qt::UserRole).toString(), uuidOf(x.c));
		QCOMPARE(x.list()->item(2)->data(Qt::UserRole + 1).toString(), QString("C"));
		QCOMPARE(x.dock->selectedSceneUuid(), uuidOf(x.a));
		QVERIFY(addButton()->isEnabled());
		QCOMPARE(addButton()->property("class").toString(), QString("icon-plus"));
		QVERIFY(addButton()->menu());
		QCOMPARE(addButton()->popupMode(), QToolButton::InstantPopup);
	}

	void markersOutsideStudioMode()
	{
		checkRow(0, "● A", true, "On program");
		checkRow(1, "B", false, "");
		checkRow(2, "C", false, "");
		QCOMPARE(x.list()->currentRow(), 0);

		// The canvas manager switching on its own moves the marker and the current row.
		m->setCurrentScene(x.c, -1, "manual");
		QCOMPARE(x.rowTexts(), QStringList({"A", "B", "● C"}));
		QCOMPARE(x.list()->currentRow(), 2);
		QVERIFY(!x.list()->item(0)->font().bold());
	}

	void markersInStudioMode()
	{
		// Entering studio mode puts the program scene into the preview: one row with both markers.
		m->setStudioMode(true);
		checkRow(0, "● ○ A", true, "On program\nIn the preview");
		checkRow(1, "B", false, "");
		QCOMPARE(x.list()->currentRow(), 0);

		// The current row follows the preview, not the program.
		m->setPreviewScene(x.b, "manual");
		checkRow(0, "● A", true, "On program");
		checkRow(1, "○ B", false, "In the preview");
		QCOMPARE(x.list()->currentRow(), 1);

		m->setStudioMode(false);
		QCOMPARE(x.rowTexts(), QStringList({"● A", "B", "C"}));
		for (const QString &text : x.rowTexts())
			QVERIFY(!text.contains("○"));
		QCOMPARE(x.list()->currentRow(), 0);
	}

	void clickSwitchesTheProgramOutsideStudioMode()
	{
		x.clickRow(1);
		QCOMPARE(m->currentSceneUuid(), uuidOf(x.b));
		QVERIFY(m->previewSceneUuid().isEmpty());
		QVERIFY(ObsTestEnv::logContains("-> 'B' (source=vertical, trigger=scene-list)"));
		QCOMPARE(x.rowTexts(), QStringList({"A", "● B", "C"}));
		QCOMPARE(x.list()->currentRow(), 1);
	}

	void clickOnlyMovesThePreviewInStudioMode()
	{
		m->setStudioMode(true);
		ObsTestEnv::clearLog();
		x.clickRow(2);
		QCOMPARE(m->previewSceneUuid(), uuidOf(x.c));
		QCOMPARE(m->currentSceneUuid(), uuidOf(x.a));
		QVERIFY(ObsTestEnv::logContains("[stilwane] vertical preview scene 'C' (trigger=scene-tab)"));
		QVERIFY(!ObsTestEnv::logContains("vertical transition"));
		QCOMPARE(x.rowTexts(), QStringList({"● A", "B", "○ C"}));
		QCOMPARE(x.list()->currentRow(), 2);
	}

	void addProposesAFreeNameAndShowsTheScene()
	{
		const int saves = x.fe.saveCount();
		x.answers.textAnswers = {QString("  Intro  ")};
		x.dock->addScene();
		QCOMPARE(x.answers.textQuestions.size(), 1);
		QCOMPARE(x.answers.textQuestions[0].title, QString("Add Scene"));
		QCOMPARE(x.answers.textQuestions[0].label, QString("Scene name:"));
		QCOMPARE(x.answers.textQuestions[0].initial, QString("Vertical Scene"));
		QCOMPARE(x.orderNames(), QStringList({"A", "B", "C", "Intro"}));
		OBSSourceAutoRelease intro = m->findSceneByName("Intro");
		QCOMPARE(m->currentSceneUuid(), uuidOf(intro.Get()));
		QVERIFY(ObsTestEnv::logContains("-> 'Intro' (source=vertical, trigger=scene-added)"));
		QCOMPARE(x.list()->currentRow(), 3);
		QVERIFY(x.fe.saveCount() > saves);

		// The default name once taken: the next proposal counts on.
		x.answers.textAnswers = {QString("Vertical Scene")};
		x.dock->addScene();
		x.answers.textAnswers = {std::nullopt};
		x.dock->addScene();
		QCOMPARE(x.answers.textQuestions.last().initial, QString("Vertical Scene 2"));
		QCOMPARE(x.orderNames(), QStringList({"A", "B", "C", "Intro", "Vertical Scene"}));
	}

	void addInStudioModeShowsTheSceneInThePreview()
	{
		m->setStudioMode(true);
		x.answers.textAnswers = {QString("Intro")};
		x.dock->addScene();
		OBSSourceAutoRelease intro = m->findSceneByName("Intro");
		QVERIFY(intro);
		QCOMPARE(m->previewSceneUuid(), uuidOf(intro.Get()));
		QCOMPARE(m->currentSceneUuid(), uuidOf(x.a));
		QVERIFY(ObsTestEnv::logContains("[stilwane] vertical preview scene 'Intro' (trigger=scene-added)"));
	}

	void addRefusesTakenAndBlankNames()
	{
		QSignalSpy changed(m, &CanvasManager::scenesChanged);
		x.answers.textAnswers = {QString(" B ")};
		x.dock->addScene();
		QCOMPARE(x.answers.messages, QStringList({"A vertical scene with this name already exists. Please "
							  "choose another name."}));
		// Refused once, not asked again.
		QCOMPARE(x.answers.textQuestions.size(), 1);

		x.answers.textAnswers = {QString("   "), std::nullopt};
		x.dock->addScene();
		x.dock->addScene();
		QCOMPARE(x.answers.messages.size(), 1);
		QCOMPARE(changed.count(), 0);
		QCOMPARE(x.orderNames(), QStringList({"A", "B", "C"}));
	}

	void renameRules()
	{
		QSignalSpy changed(m, &CanvasManager::scenesChanged);
		const int saves = x.fe.saveCount();

		// Its own name: nothing at all.
		x.answers.textAnswers = {QString("A")};
		x.dock->renameScene();
		QCOMPARE(x.answers.textQuestions.last().title, QString("Rename Scene"));
		QCOMPARE(x.answers.textQuestions.last().initial, QString("A"));
		QVERIFY(x.answers.messages.isEmpty());
		QCOMPARE(changed.count(), 0);
		QCOMPARE(x.fe.saveCount(), saves);

		// Its own name with blanks around it asks for a taken name.
		x.answers.textAnswers = {QString(" A "), QString("C"), QString("   "), std::nullopt};
		for (int i = 0; i < 4; i++)
			x.dock->renameScene();
		QCOMPARE(x.answers.messages.size(), 2);
		QVERIFY(x.answers.messages[0].startsWith("A vertical scene with this name already exists"));
		QCOMPARE(changed.count(), 0);
		QCOMPARE(x.orderNames(), QStringList({"A", "B", "C"}));

		x.answers.textAnswers = {QString("  Alpha ")};
		x.dock->renameScene();
		QCOMPARE(QString::fromUtf8(obs_source_get_name(x.a)), QString("Alpha"));
		QCOMPARE(x.rowTexts(), QStringList({"● Alpha", "B", "C"}));
		QCOMPARE(x.list()->item(0)->data(Qt::UserRole + 1).toString(), QString("Alpha"));
		QVERIFY(x.fe.saveCount() > saves);
	}

	void doubleClickRenames()
	{
		x.answers.textAnswers = {QString("Bee")};
		QListWidget *l = x.list();
		const QPoint at = l->visualItemRect(l->item(1)).center();
		QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, at);
		QTest::mouseDClick(l->viewport(), Qt::LeftButton, {}, at);
		QVERIFY(!x.answers.textQuestions.isEmpty());
		QCOMPARE(x.answers.textQuestions.last().initial, QString("B"));
		QCOMPARE(x.orderNames(), QStringList({"A", "Bee", "C"}));
	}

	void removeAsksFirst()
	{
		x.selectRowQuietly(1);
		x.dock->removeScene();
		QCOMPARE(x.answers.confirmations, QStringList({"Remove Scene|Remove the vertical scene 'B'?"}));
		QCOMPARE(x.orderNames(), QStringList({"A", "B", "C"}));

		x.answers.confirmAnswer = true;
		x.selectRowQuietly(1);
		x.dock->removeScene();
		QCOMPARE(x.orderNames(), QStringList({"A", "C"}));
		QCOMPARE(x.rowTexts(), QStringList({"● A", "C"}));
		QCOMPARE(x.list()->currentRow(), 0);
	}

	void movesAtTheEndsChangeNothing()
	{
		QSignalSpy changed(m, &CanvasManager::scenesChanged);
		const int saves = x.fe.saveCount();
		x.dock->moveUp(); // A, the program scene, is on top
		x.selectRowQuietly(2);
		x.dock->moveDown();
		QCOMPARE(x.orderNames(), QStringList({"A", "B", "C"}));
		QCOMPARE(changed.count(), 0);
		QCOMPARE(x.fe.saveCount(), saves);

		// A real move; the current row goes back to the program scene, not to the moved one.
		x.selectRowQuietly(1);
		x.dock->moveDown();
		QCOMPARE(x.orderNames(), QStringList({"A", "C", "B"}));
		QCOMPARE(x.rowTexts(), QStringList({"● A", "C", "B"}));
		QCOMPARE(x.list()->currentRow(), 0);
		QVERIFY(x.fe.saveCount() > saves);

		// The buttons do the same.
		x.selectRowQuietly(2);
		x.dock->findChild<IconButton *>("stilwane_scene_up")->click();
		QCOMPARE(x.orderNames(), QStringList({"A", "B", "C"}));
	}

	void contextMenuEntries()
	{
		x.dock->onContextMenu(QPoint(5, 5));
		QCOMPARE(x.answers.menuEntries,
			 QStringList({"Add Scene", "Generate from Main Scene...", "-", "Rename Scene",
				      "Link to Main Scene...", "Scene Transition...", "-", "Remove Scene"}));

		// An entry does what it says.
		x.answers.menuChoice = "Rename Scene";
		x.answers.textAnswers = {QString("First")};
		x.dock->onContextMenu(QPoint(5, 5));
		QCOMPARE(x.orderNames(), QStringList({"First", "B", "C"}));
	}

	void contextMenuActsOnTheSceneItOpenedOn()
	{
		// Opened on B's row; while it is up a remote request makes C the program scene, which moves the
		// current row to C. The entries still act on B.
		struct Case {
			const char *entry;
			std::function<void()> answer;
			std::function<bool()> actedOnB;
		};
		const std::vector<Case> cases = {
			{"Rename Scene", [this] { x.answers.textAnswers = {QString("Bee")}; },
			 [this] { return x.orderNames() == QStringList({"A", "Bee", "C"}); }},
			{"Remove Scene", [this] { x.answers.confirmAnswer = true; },
			 [this] {
				 return x.answers.confirmations.last().endsWith("'Bee'?") &&
					x.orderNames() == QStringList({"A", "C"});
			 }},
		};
		for (const Case &c : cases) {
			QVERIFY(canvastest::waitForTransitionEnd(m));
			m->setCurrentScene(x.a, -1, "manual");
			QVERIFY(canvastest::waitForTransitionEnd(m));
			const QPoint onB = x.list()->visualItemRect(x.list()->item(1)).center();
			const int rowOfC = x.list()->count() - 1;
			int rowWhileOpen = -1;
			setMenuHandler([&](QMenu *menu) -> QAction * {
				m->setCurrentScene(x.c, -1, "remote");
				rowWhileOpen = x.list()->currentRow();
				for (QAction *action : menu->actions())
					if (action->text() == c.entry)
						return action;
				return nullptr;
			});
			c.answer();
			x.dock->onContextMenu(onB);
			x.answers.install();
			QCOMPARE(rowWhileOpen, rowOfC);
			QVERIFY2(c.actedOnB(), c.entry);
			QVERIFY(QString::fromUtf8(obs_source_get_name(x.c)) == "C");
		}
	}

	void emptyListOffersOnlyAdding()
	{
		x.cleanup();
		QVERIFY(x.init(false));
		QCOMPARE(x.list()->count(), 0);
		QVERIFY(x.dock->selectedSceneUuid().isEmpty());
		x.dock->onContextMenu(QPoint(5, 5));
		QCOMPARE(x.answers.menuEntries, QStringList({"Add Scene", "Generate from Main Scene..."}));
		// Without a row every scene operation is a no-op.
		x.dock->removeScene();
		x.dock->renameScene();
		x.dock->linkScene();
		x.dock->editTransitionOverride();
		x.dock->moveUp();
		QVERIFY(x.answers.confirmations.isEmpty());
		QVERIFY(x.answers.textQuestions.isEmpty());
		QCOMPARE(x.answers.dialogCount, 0);
	}

	void withoutCanvasNothingIsAdded()
	{
		m->releaseCanvas();
		QCOMPARE(x.list()->count(), 0);
		QVERIFY(!addButton()->isEnabled());
		x.dock->addScene();
		x.dock->generateScene();
		QVERIFY(x.answers.textQuestions.isEmpty());
		QCOMPARE(x.answers.dialogCount, 0);

		m->loadFromCollection(nullptr);
		QVERIFY(addButton()->isEnabled());
	}
};

STILWANE_TEST_MAIN(TestScenesDock)
#include "test_scenes_dock.moc"
