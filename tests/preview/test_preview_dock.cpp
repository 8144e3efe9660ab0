// SPDX-License-Identifier: GPL-2.0-or-later
// The preview dock against the real canvas manager: letterboxing, tooltips, studio-mode layout, the
// guide toggles, the fitted height and the context menu.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "PreviewFixture.hpp"

#include <canvas/CollectionSaver.hpp>
#include <widgets/IconButton.hpp>
#include <dialogs/MessageBoxes.hpp>
#include <preview/PreviewDock.hpp>
#include <preview/ProjectorWindow.hpp>
#include <preview/Projectors.hpp>
#include <preview/QTDisplay.hpp>

#include <TestMain.hpp>

#include <QBoxLayout>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QSignalSpy>

#include <memory>

using namespace stilwane;

using namespace previewtest;

namespace {

QJsonObject savedConfig()
{
	QFile file(QString::fromStdString(configFilePath()));
	if (!file.open(QIODevice::ReadOnly))
		return {};
	return QJsonDocument::fromJson(file.readAll()).object();
}

QAction *actionNamed(QMenu *menu, const QString &text)
{
	for (QAction *action : menu->actions())
		if (action->text() == text)
			return action;
	return nullptr;
}

QStringList texts(QMenu *menu)
{
	QStringList list;
	for (QAction *action : menu->actions())
		list << (action->isSeparator() ? QStringLiteral("-") : action->text());
	return list;
}

int expectedFitted(int width, int dockHeight, int displayHeight)
{
	// 1080 x 1920 at a device pixel ratio of 1.
	return int(int64_t(1920) * width / 1080) + dockHeight - displayHeight;
}

} // namespace

class TestPreviewDock : public QObject {
	Q_OBJECT

	Fixture f;

private slots:
	void initTestCase() { f.initTestCase(); }
	void cleanupTestCase() { f.cleanupTestCase(); }
	void init() { f.init(); }
	void cleanup() { f.cleanup(); }

	void letterbox_data()
	{
		QTest::addColumn<uint>("cx");
		QTest::addColumn<uint>("cy");
		QTest::addColumn<uint>("canvasWidth");
		QTest::addColumn<uint>("canvasHeight");
		QTest::addColumn<uint>("width");
		QTest::addColumn<uint>("height");
		QTest::newRow("square display, portrait canvas") << 1000u << 1000u << 1080u << 1920u << 562u << 1000u;
		QTest::newRow("landscape display") << 1920u << 1080u << 1080u << 1920u << 607u << 1080u;
		QTest::newRow("exact fit") << 540u << 960u << 1080u << 1920u << 540u << 960u;
		QTest::newRow("tall narrow display") << 100u << 1000u << 1080u << 1920u << 100u << 177u;
		QTest::newRow("landscape canvas") << 1000u << 1000u << 1920u << 1080u << 1000u << 562u;
		QTest::newRow("products beyond 32 bits")
			<< 4000000000u << 3000000000u << 1080u << 1920u << 1687500000u << 3000000000u;
		QTest::newRow("empty display width") << 0u << 500u << 1080u << 1920u << 0u << 0u;
		QTest::newRow("empty display height") << 500u << 0u << 1080u << 1920u << 0u << 0u;
		QTest::newRow("empty canvas") << 500u << 500u << 0u << 0u << 500u << 0u;
		QTest::newRow("canvas without width") << 500u << 500u << 0u << 1920u << 0u << 500u;
		QTest::newRow("canvas without height") << 500u << 500u << 1080u << 0u << 500u << 0u;
	}

	void letterbox()
	{
		QFETCH(uint, cx);
		QFETCH(uint, cy);
		QFETCH(uint, canvasWidth);
		QFETCH(uint, canvasHeight);
		QFETCH(uint, width);
		QFETCH(uint, height);
		const LetterboxSize box = letterboxSize(cx, cy, canvasWidth, canvasHeight);
		QCOMPARE(box.width, width);
		QCOMPARE(box.height, height);
	}

	void letterboxViewportIsCentred()
	{
		const LetterboxSize box = letterboxSize(1000, 1000, 1080, 1920);
		QCOMPARE((1000 - int(box.width)) / 2, 219);
		QCOMPARE((1000 - int(box.height)) / 2, 0);
	}

	void tooltipFollowsTheCanvas()
	{
		const QString none = QStringLiteral("The vertical canvas is not available yet.");
		QCOMPARE(translate("Output.NoCanvas"), none);
		PreviewDock dock;
		QCOMPARE(dock.toolTip(), none);
		QCOMPARE(dock.preview()->toolTip(), none);
		QCOMPARE(dock.program()->toolTip(), none);

		f.loadCanvas();
		QCOMPARE(dock.toolTip(), QStringLiteral("1080 x 1920"));
		QCOMPARE(dock.preview()->toolTip(), QStringLiteral("1080 x 1920"));
		QCOMPARE(dock.program()->toolTip(), QStringLiteral("1080 x 1920"));

		QVERIFY(f.m->resizeCanvas(720, 1280));
		QCOMPARE(dock.toolTip(), QStringLiteral("720 x 1280"));

		f.m->releaseCanvas();
		QCOMPARE(dock.toolTip(), none);
	}

	void captionsAndProgramOnlyInStudioMode()
	{
		f.loadCanvas();
		QVERIFY(f.m->addScene("V"));
		PreviewDock dock;
		QWidget *programColumn = dock.program()->parentWidget();
		auto *previewLabel = dock.preview()->parentWidget()->findChild<QLabel *>();
		QVERIFY(previewLabel);
		QCOMPARE(previewLabel->text(), QStringLiteral("Preview"));
		QCOMPARE(programColumn->findChild<QLabel *>()->text(), QStringLiteral("Program"));
		QVERIFY(programColumn->isHidden());
		QVERIFY(previewLabel->isHidden());

		f.m->setStudioMode(true);
		QVERIFY(!programColumn->isHidden());
		QVERIFY(!previewLabel->isHidden());
		f.m->setStudioMode(false);
		QVERIFY(programColumn->isHidden());
		QVERIFY(previewLabel->isHidden());

		// A dock made while studio mode is on starts with both columns.
		f.m->setStudioMode(true);
		PreviewDock later;
		QVERIFY(!later.program()->parentWidget()->isHidden());
	}

	void displaysAreSetUpForTheirRoles()
	{
		PreviewDock dock;
		for (QTDisplay *display : {dock.preview(), dock.program()}) {
			QCOMPARE(display->minimumSize(), QSize(90, 160));
			QCOMPARE(display->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
			QCOMPARE(display->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
		}
		QCOMPARE(dock.preview()->focusPolicy(), Qt::StrongFocus);
		QVERIFY(dock.preview()->hasMouseTracking());
		QCOMPARE(dock.program()->focusPolicy(), Qt::NoFocus);
	}

	void guideTogglesAreStored()
	{
		config().showGuides = false;
		config().showPhoneUi = true;
		PreviewDock dock;
		QVERIFY(dock.guidesToggle()->isCheckable());
		QVERIFY(dock.phoneUiToggle()->isCheckable());
		QVERIFY(!dock.guidesToggle()->isChecked());
		QVERIFY(dock.phoneUiToggle()->isChecked());
		QCOMPARE(dock.guidesToggle()->text(), QStringLiteral("Show safe-area guides"));

		dock.guidesToggle()->click();
		QVERIFY(config().showGuides);
		QCOMPARE(savedConfig().value("show_guides"), QJsonValue(true));
		dock.phoneUiToggle()->click();
		QVERIFY(!config().showPhoneUi);
		QCOMPARE(savedConfig().value("show_phone_ui"), QJsonValue(false));
		dock.guidesToggle()->click();
		QVERIFY(!config().showGuides);
		QCOMPARE(savedConfig().value("show_guides"), QJsonValue(false));
	}

	void toggleButtonsMoveIntoAToolbarRow()
	{
		PreviewDock dock;
		QWidget toolbar;
		auto *row = new QHBoxLayout(&toolbar);
		row->addWidget(new QLabel(QStringLiteral("before"), &toolbar));
		dock.placeToggleButtons(row);
		QCOMPARE(dock.guidesToggle()->parentWidget(), &toolbar);
		QCOMPARE(dock.phoneUiToggle()->parentWidget(), &toolbar);
		QCOMPARE(row->indexOf(dock.guidesToggle()), 1);
		QCOMPARE(row->indexOf(dock.phoneUiToggle()), 2);
		QVERIFY(!dock.guidesToggle()->isHidden());
	}

	void fittedHeightFollowsTheWidth()
	{
		{
			PreviewDock dock;
			dock.resize(400, 600);
			dock.show();
			QVERIFY(QTest::qWaitForWindowExposed(&dock));
			QCOMPARE(dock.fittedHeight(), 0);
		}

		f.loadCanvas();
		QVERIFY(f.m->addScene("V"));
		PreviewDock dock;
		QSignalSpy changed(&dock, &PreviewDock::fittedHeightChanged);
		dock.resize(400, 600);
		dock.show();
		QVERIFY(QTest::qWaitForWindowExposed(&dock));
		QVERIFY(ObsTestEnv::waitUntil([&dock] { return dock.preview()->width() == 400; }));
		QVERIFY(changed.count() > 0);
		QCOMPARE(dock.fittedHeight(), expectedFitted(400, dock.height(), dock.preview()->height()));
		QCOMPARE(dock.fittedHeight(), 711);

		dock.resize(333, 600);
		QVERIFY(ObsTestEnv::waitUntil([&dock] { return dock.preview()->width() == 333; }));
		QCOMPARE(dock.fittedHeight(), expectedFitted(333, dock.height(), dock.preview()->height()));

		// Studio mode shows two displays: the narrower one decides, here the program display.
		f.m->setStudioMode(true);
		dock.preview()->setMinimumWidth(300);
		dock.resize(500, 600);
		QVERIFY(ObsTestEnv::waitUntil([&dock] {
			return dock.program()->isVisible() && dock.preview()->width() == 300 &&
			       dock.program()->width() == 196;
		}));
		QCOMPARE(dock.fittedHeight(), expectedFitted(196, dock.height(), dock.preview()->height()));
		f.m->setStudioMode(false);
	}

	void fittedHeightIsCapped()
	{
		f.loadCanvas();
		PreviewDock dock;
		// Hidden, so the layout leaves the display at the size given here.
		dock.resize(400, 600);
		dock.preview()->resize(10000000, 200);
		QCOMPARE(dock.preview()->width(), 10000000);
		QCOMPARE(dock.fittedHeight(), 16777215 + 600 - 200);
	}

	void contextMenuWithoutSelection()
	{
		f.loadCanvas();
		QVERIFY(f.m->addScene("V"));
		PreviewDock dock;
		std::unique_ptr<QMenu> menu(dock.buildContextMenu());
		QCOMPARE(texts(menu.get()), (QStringList{QStringLiteral("Show safe-area guides"),
							 QStringLiteral("Show phone interface mock-up"), "-",
							 QStringLiteral("Open Projector Window"),
							 QStringLiteral("Fullscreen Projector")}));
		QAction *window = actionNamed(menu.get(), QStringLiteral("Open Projector Window"));
		QVERIFY(window->isEnabled());

		QMenu *fullscreen = actionNamed(menu.get(), QStringLiteral("Fullscreen Projector"))->menu();
		QVERIFY(fullscreen);
		const QList<QScreen *> screens = QGuiApplication::screens();
		QVERIFY(!screens.isEmpty());
		QVERIFY(fullscreen->isEnabled());
		QCOMPARE(fullscreen->actions().size(), screens.size());
		const QAction *first = fullscreen->actions().first();
		QCOMPARE(first->text(), QStringLiteral("1: %1 (%2x%3)")
						.arg(screens.first()->name())
						.arg(screens.first()->size().width())
						.arg(screens.first()->size().height()));
		QVERIFY(first->isEnabled());
		// Both open projectors: a window, and one full screen on the first screen.
		window->trigger();
		fullscreen->actions().first()->trigger();
		QCOMPARE(ProjectorWindow::registry().size(), 2);
		QVERIFY(!ProjectorWindow::registry().first()->inFullscreenMode());
		QCOMPARE(ProjectorWindow::registry().last()->fullscreenTarget(), screens.first());
		closeAllProjectors();
		allowProjectors();

		// The guide entries mirror and drive the toggle buttons.
		QAction *guides = actionNamed(menu.get(), QStringLiteral("Show safe-area guides"));
		QVERIFY(guides->isCheckable());
		QCOMPARE(guides->isChecked(), config().showGuides);
		guides->trigger();
		QVERIFY(!dock.guidesToggle()->isChecked());
		QVERIFY(!config().showGuides);
		QAction *phone = actionNamed(menu.get(), QStringLiteral("Show phone interface mock-up"));
		phone->trigger();
		QVERIFY(!dock.phoneUiToggle()->isChecked());
		QVERIFY(!config().showPhoneUi);
		std::unique_ptr<QMenu> again(dock.buildContextMenu());
		QVERIFY(!actionNamed(again.get(), QStringLiteral("Show safe-area guides"))->isChecked());
	}

	void contextMenuForTheSelectedItem()
	{
		f.loadCanvas();
		obs_scene_t *scene = f.m->addScene("V");
		QVERIFY(scene);
		obs_sceneitem_t *item = Fixture::addColour(scene, "item", 0xFF0000FF, 540, 480);
		QVERIFY(item);
		PreviewDock dock;

		f.m->selectItem(obs_sceneitem_get_id(item));
		std::unique_ptr<QMenu> menu(dock.buildContextMenu());
		const QStringList itemEntries{QStringLiteral("Fit to Canvas Width"),
					      QStringLiteral("Fit to Canvas Height"),
					      QStringLiteral("Center on Canvas"),
					      QStringLiteral("Edit Transform..."),
					      "-",
					      QStringLiteral("Properties"),
					      QStringLiteral("Filters"),
					      "-",
					      QStringLiteral("Rename"),
					      QStringLiteral("Remove")};
		QCOMPARE(texts(menu.get()).mid(5), QStringList{"-"} + itemEntries);
		QVERIFY(actionNamed(menu.get(), QStringLiteral("Edit Transform..."))->isEnabled());

		// The entries act on the item.
		actionNamed(menu.get(), QStringLiteral("Fit to Canvas Width"))->trigger();
		vec2 scale;
		obs_sceneitem_get_scale(item, &scale);
		QCOMPARE(scale.x, 2.0f);
		vec2 pos;
		obs_sceneitem_get_pos(item, &pos);
		QCOMPARE(pos.y, (1920.0f - 960.0f) / 2);
		actionNamed(menu.get(), QStringLiteral("Fit to Canvas Height"))->trigger();
		obs_sceneitem_get_scale(item, &scale);
		QCOMPARE(scale.y, 4.0f);
		actionNamed(menu.get(), QStringLiteral("Center on Canvas"))->trigger();
		obs_sceneitem_get_pos(item, &pos);
		QCOMPARE(pos.x, (1080.0f - 2160.0f) / 2);

		// A locked item gets no item entries.
		obs_sceneitem_set_locked(item, true);
		std::unique_ptr<QMenu> locked(dock.buildContextMenu());
		QCOMPARE(texts(locked.get()).size(), 5);
		obs_sceneitem_set_locked(item, false);

		// Remove asks first ("No" keeps the item), then takes the item out of the scene and clears the
		// selection. The fits above and the removal are one burst of edits: one save, shortly after.
		QStringList asked;
		setConfirmHandler([&asked](const QString &title, const QString &text) {
			asked << title + "|" + text;
			return asked.size() > 1;
		});
		const int saves = f.fe.saveCount();
		const int64_t id = obs_sceneitem_get_id(item);
		actionNamed(menu.get(), QStringLiteral("Remove"))->trigger();
		QCOMPARE(asked,
			 QStringList{"Remove Source|Are you sure you wish to remove 'item' from this vertical scene?"});
		QVERIFY(obs_scene_find_sceneitem_by_id(scene, id));
		actionNamed(menu.get(), QStringLiteral("Remove"))->trigger();
		setConfirmHandler(nullptr);
		QVERIFY(!obs_scene_find_sceneitem_by_id(scene, id));
		QCOMPARE(f.m->selectedItemId(), int64_t(-1));
		QCOMPARE(f.fe.saveCount(), saves);
		QVERIFY(ObsTestEnv::waitUntil([&] { return f.fe.saveCount() > saves; }, 1000));
		ObsTestEnv::pump(2 * CollectionSaver::kDelayMs);
		QCOMPARE(f.fe.saveCount(), saves + 1);

		// An entry of a menu that outlived its item does nothing.
		actionNamed(menu.get(), QStringLiteral("Fit to Canvas Width"))->trigger();
		std::unique_ptr<QMenu> none(dock.buildContextMenu());
		QCOMPARE(texts(none.get()).size(), 5);
	}

	void rightClickOpensTheMenu()
	{
		f.loadCanvas();
		PreviewDock dock;
		dock.resize(300, 400);
		dock.show();
		QVERIFY(QTest::qWaitForWindowExposed(&dock));
		QPointer<QMenu> opened;
		QStringList shown;
		QTimer::singleShot(0, [&opened, &shown, &dock] {
			opened = dock.findChild<QMenu *>();
			if (!opened)
				return;
			shown = texts(opened);
			opened->close();
		});
		// A right press opens it, with or without a scene to edit.
		QTest::mousePress(dock.preview(), Qt::RightButton, {}, QPoint(10, 10));
		QTest::mouseRelease(dock.preview(), Qt::RightButton, {}, QPoint(10, 10));
		// The menu ran, was closed and is gone again.
		QCOMPARE(shown.value(0), QStringLiteral("Show safe-area guides"));
		QVERIFY(!opened);
		QVERIFY(!dock.findChild<QMenu *>());
	}
};

STILWANE_TEST_MAIN(TestPreviewDock)

#include "test_preview_dock.moc"
