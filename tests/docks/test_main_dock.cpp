// SPDX-License-Identifier: GPL-2.0-or-later
// The main dock as a real widget under Xvfb, with the real preview on a real vertical canvas: the
// tabs, collapsing the pages, keeping the preview at the height that shows the whole canvas, and the
// tool row's buttons.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <canvas/CanvasManager.hpp>
#include <widgets/IconButton.hpp>
#include <docks/MainDock.hpp>
#include <docks/OutputDock.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>
#include <preview/PreviewDock.hpp>
#include <preview/ProjectorWindow.hpp>
#include <preview/Projectors.hpp>
#include <widgets/ScreenLabel.hpp>

#include <ObsTestEnv.hpp>
#include <TestFrontend.hpp>
#include <TestMain.hpp>

#include <QButtonGroup>
#include <QDataStream>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLayout>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QSignalSpy>
#include <QSplitter>
#include <QStackedWidget>
#include <QTemporaryDir>

#include <memory>

#include <obs.hpp>
#include <util/text-lookup.h>

using namespace stilwane;

namespace {

// The dock's layout margins around the splitter.
constexpr int kMargins = 4;

// What the splitter will lay out on its next resize: QSplitter keeps these apart from the current
// geometry, so a size handed to setSizes shows here even when the panes cannot take it.
QList<int> storedSizes(QSplitter *splitter)
{
	QByteArray state = splitter->saveState();
	QDataStream stream(state);
	stream.setVersion(QDataStream::Qt_5_0);
	qint32 marker = 0, version = 0;
	QList<int> sizes;
	stream >> marker >> version >> sizes;
	return sizes;
}

} // namespace

class TestMainDock : public QObject {
	Q_OBJECT

	QTemporaryDir dir;
	CanvasManager *m = CanvasManager::instance();
	std::unique_ptr<QWidget> window;
	MainDock *dock = nullptr;

	// The dock alone in a window without a layout, so that the test chooses its size freely, also
	// below what its layout would allow.
	void makeDock(int width, int height)
	{
		window = std::make_unique<QWidget>();
		window->resize(width, height);
		dock = new MainDock(window.get());
		dock->setGeometry(0, 0, width, height);
		window->show();
		QVERIFY(QTest::qWaitForWindowExposed(window.get()));
		ObsTestEnv::pump(50);
	}

	void resizeDock(int height, int width = 0)
	{
		if (width <= 0)
			width = dock->width();
		window->resize(width, height);
		dock->resize(width, height);
	}

	template<class T> T *part(const char *name) const
	{
		T *widget = dock->findChild<T *>(name);
		if (!widget)
			qWarning("no %s", name);
		return widget;
	}

	QSplitter *splitter() const { return part<QSplitter>("stilwane_splitter"); }
	QWidget *topPane() const { return part<QWidget>("stilwane_top_pane"); }
	QWidget *bottomPane() const { return part<QWidget>("stilwane_bottom_pane"); }
	QWidget *tabBar() const { return part<QWidget>("stilwane_tab_bar"); }
	QStackedWidget *tabStack() const { return part<QStackedWidget>("stilwane_tab_stack"); }
	IconButton *collapseButton() const { return part<IconButton>("stilwane_collapse"); }

	int splitterTotal() const { return splitter()->contentsRect().height() - splitter()->handleWidth(); }
	int topMinimum() const { return topPane()->minimumSizeHint().height(); }
	int topSize() const { return splitter()->sizes().value(0); }
	int bottomSize() const { return splitter()->sizes().value(1); }

	// Waits until the fit has run: the top pane capped at the fitted height and the splitter at the
	// sizes the fit chooses for the given top height, as laid out and as handed to the splitter.
	bool waitForTop(int top)
	{
		bool reached = ObsTestEnv::waitUntil([this, top] {
			int desired = dock->desiredTopHeight();
			QList<int> wanted = {top, splitterTotal() - top};
			return desired > 0 && topPane()->maximumHeight() == desired && splitter()->sizes() == wanted &&
			       storedSizes(splitter()) == wanted;
		});
		if (!reached)
			qWarning() << "top" << top << "desired" << dock->desiredTopHeight() << "maximum"
				   << topPane()->maximumHeight() << "sizes" << splitter()->sizes() << "stored"
				   << storedSizes(splitter()) << "total" << splitterTotal();
		return reached;
	}

	// The dock height at which the splitter holds exactly this many pixels for its panes.
	static int dockHeightFor(int total) { return total + kMargins + 3; }

	QJsonObject storedConfig() const
	{
		QFile file(dir.filePath("config.json"));
		if (!file.open(QIODevice::ReadOnly))
			return {};
		return QJsonDocument::fromJson(file.readAll()).object();
	}

	// Switching scenes is refused while a vertical transition runs.
	bool waitForTransitionEnd()
	{
		bool ended = ObsTestEnv::waitUntil([this] {
			obs_source_t *transition = m->activeTransitionSource();
			return !transition || !obs_transition_is_active(transition);
		});
		// The manager learns of the end through work queued to this thread.
		ObsTestEnv::pump(100);
		return ended;
	}

	void dragTo(int top)
	{
		splitter()->setSizes({top, splitterTotal() - top});
		emit splitter() -> splitterMoved(top, 1);
	}

private slots:
	void initTestCase() { setLocaleTable(text_lookup_create(STILWANE_DATA_DIR "/locale/en-US.ini")); }

	void cleanupTestCase()
	{
		text_lookup_destroy(localeTable());
		setLocaleTable(nullptr);
	}

	void init()
	{
		QFile::remove(dir.filePath("config.json"));
		setConfigDirectoryOverride(dir.path().toStdString());
		config() = ConfigRecord{};
		TestFrontend::instance().reset();
		m->loadFromCollection(nullptr);
		m->setStudioMode(false);
		QVERIFY(m->hasCanvas());
		ObsTestEnv::clearLog();
	}

	void cleanup()
	{
		window.reset();
		dock = nullptr;
		ObsTestEnv::pump(20);
		m->setStudioMode(false);
		m->releaseCanvas();
		TestFrontend::instance().reset();
	}

	void storedTabIsClamped_data()
	{
		QTest::addColumn<int>("stored");
		QTest::addColumn<int>("page");
		QTest::newRow("too high") << 7 << 0;
		QTest::newRow("negative") << -2 << 0;
		QTest::newRow("transitions") << 2 << 2;
		QTest::newRow("audio") << 3 << 3;
	}

	void storedTabIsClamped()
	{
		QFETCH(int, stored);
		QFETCH(int, page);
		config().mainDockTab = stored;
		makeDock(300, 900);
		QCOMPARE(tabStack()->count(), 4);
		QCOMPARE(tabStack()->currentIndex(), page);
		auto *group = dock->findChild<QButtonGroup *>();
		QVERIFY(group);
		QCOMPARE(group->checkedId(), page);
	}

	void tabsInOrderWithTheirPages()
	{
		makeDock(300, 900);
		const QStringList names = {"scenes", "sources", "transitions", "audio"};
		const QStringList texts = {"Scenes", "Sources", "Transitions", "Audio"};
		// A control each page alone has, so that a page put in another's place shows.
		const char *controls[] = {"stilwane_scene_list", "stilwane_sources_list", "stilwane_transition_choice",
					  nullptr};
		for (int i = 0; i < names.size(); i++) {
			auto *button = part<QToolButton>(qPrintable("stilwane_tab_" + names[i]));
			QVERIFY(button);
			QCOMPARE(button->text(), texts[i]);
			QCOMPARE(button->accessibleName(), texts[i]);
			QVERIFY(button->isCheckable());
			QWidget *page = tabStack()->widget(i);
			QCOMPARE(page->objectName(), "stilwane_page_" + names[i]);
			if (controls[i])
				QVERIFY2(page->findChild<QWidget *>(controls[i]), controls[i]);
			// Every page is a working one: none is a notice of a later version.
			for (QLabel *label : page->findChildren<QLabel *>())
				QVERIFY2(!label->text().contains("later version"), qPrintable(label->text()));
		}
	}

	void outputControlsLeadTheToolRow()
	{
		makeDock(300, 900);
		OutputDock *output = dock->outputDock();
		QVERIFY(output);
		auto *row = part<QWidget>("stilwane_tool_row");
		QVERIFY(row);
		// The buttons in their order, before everything else of the row, and the status line below it.
		auto *buttons = part<QWidget>("stilwane_output_buttons");
		QVERIFY(buttons);
		QCOMPARE(buttons->parentWidget(), row);
		QCOMPARE(row->layout()->indexOf(buttons), 0);
		QVERIFY(buttons->isVisible());
		const char *names[] = {"stilwane_stream_button", "stilwane_record_button", "stilwane_replay_button",
				       "stilwane_save_replay_button"};
		for (int i = 0; i < 4; i++)
			QCOMPARE(buttons->layout()->indexOf(part<IconButton>(names[i])), i);
		QCOMPARE(part<IconButton>("stilwane_stream_button"), output->streamButton());
		QVERIFY(!output->saveReplayButton()->isEnabled());

		auto *status = part<QLabel>("stilwane_output_status");
		QVERIFY(status);
		QCOMPARE(status, output->statusLabel());
		QVERIFY(status->isVisible());
		QVERIFY(status->mapTo(topPane(), QPoint()).y() > row->mapTo(topPane(), QPoint()).y());
		QCOMPARE(status->accessibleName(), QString("1080x1920 \u30FB ") + translate("Output.AutoStartOnNoKey"));
	}

	void tabClickStoresTheTab()
	{
		makeDock(300, 900);
		auto *button = part<QToolButton>("stilwane_tab_transitions");
		QVERIFY(button);
		QTest::mouseClick(button, Qt::LeftButton);
		QCOMPARE(tabStack()->currentIndex(), 2);
		QVERIFY(button->isChecked());
		QCOMPARE(config().mainDockTab, 2);
		QCOMPARE(storedConfig().value("main_dock_tab").toInt(-1), 2);

		QTest::mouseClick(part<QToolButton>("stilwane_tab_scenes"), Qt::LeftButton);
		QCOMPARE(tabStack()->currentIndex(), 0);
		QVERIFY(!button->isChecked());
		QCOMPARE(storedConfig().value("main_dock_tab").toInt(-1), 0);
	}

	void collapseKeepsOnlyTheTabBar()
	{
		makeDock(300, 1400);
		QVERIFY(ObsTestEnv::waitUntil([this] { return dock->desiredTopHeight() > 0; }));
		QVERIFY(waitForTop(dock->desiredTopHeight()));
		const int expandedBottom = bottomSize();
		QVERIFY(expandedBottom > 180);
		QCOMPARE(collapseButton()->toolTip(), QString("Hide the pages"));
		QCOMPARE(collapseButton()->arrowType(), Qt::DownArrow);

		QTest::mouseClick(collapseButton(), Qt::LeftButton);
		QVERIFY(collapseButton()->isChecked());
		QVERIFY(dock->isCollapsed());
		QVERIFY(tabStack()->isHidden());
		QVERIFY(tabBar()->isVisible());
		QCOMPARE(bottomPane()->height(), tabBar()->sizeHint().height());
		QCOMPARE(bottomSize(), tabBar()->sizeHint().height());
		QCOMPARE(topSize(), splitterTotal() - bottomSize());
		QCOMPARE(topPane()->maximumHeight(), QWIDGETSIZE_MAX);
		QCOMPARE(collapseButton()->toolTip(), QString("Show the pages"));
		QCOMPARE(collapseButton()->accessibleName(), QString("Show the pages"));
		QCOMPARE(collapseButton()->arrowType(), Qt::UpArrow);
		QVERIFY(config().mainDockCollapsed);
		QCOMPARE(storedConfig().value("main_dock_collapsed").toBool(false), true);

		// The fit leaves a collapsed dock alone: the preview takes all the room above the tab bar.
		ObsTestEnv::pump(100);
		QCOMPARE(bottomPane()->height(), tabBar()->sizeHint().height());
		QCOMPARE(topPane()->maximumHeight(), QWIDGETSIZE_MAX);

		// Collapsing again must not take the tab bar's height for the pages' height.
		dock->setCollapsed(true);
		QTest::mouseClick(collapseButton(), Qt::LeftButton);
		QVERIFY(!dock->isCollapsed());
		QVERIFY(!tabStack()->isHidden());
		QCOMPARE(bottomSize(), expandedBottom);
		QCOMPARE(bottomPane()->minimumHeight(), 180);
		QCOMPARE(bottomPane()->maximumHeight(), QWIDGETSIZE_MAX);
		QVERIFY(!config().mainDockCollapsed);
		QCOMPARE(storedConfig().value("main_dock_collapsed").toBool(true), false);
		QVERIFY(waitForTop(dock->desiredTopHeight()));
		QCOMPARE(bottomSize(), expandedBottom);
	}

	void collapsedStateIsRestored()
	{
		config().mainDockCollapsed = true;
		makeDock(300, 900);
		QVERIFY(ObsTestEnv::waitUntil([this] { return dock->isCollapsed(); }));
		QVERIFY(tabStack()->isHidden());
		QCOMPARE(collapseButton()->toolTip(), QString("Show the pages"));
		QVERIFY(ObsTestEnv::waitUntil(
			[this] { return bottomPane()->height() == tabBar()->sizeHint().height(); }));

		// The pages come back at their height before the collapse, not at the tab bar's.
		QTest::mouseClick(collapseButton(), Qt::LeftButton);
		QVERIFY(bottomSize() >= 180);
	}

	void tinySplitterGivesTheTopPaneOnePixel()
	{
		makeDock(300, 900);
		// Without a minimum of its own the top pane would take whatever the dock hands the splitter.
		topPane()->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
		resizeDock(120);
		ObsTestEnv::pump(50);
		QVERIFY(splitter()->height() - splitter()->handleWidth() < 180);
		dock->setCollapsed(true);
		dock->setCollapsed(false);
		QCOMPARE(storedSizes(splitter()), QList<int>({1, 180}));
	}

	void fitCapsTheTopPaneAtTheFittedHeight()
	{
		makeDock(300, 1400);
		QVERIFY(ObsTestEnv::waitUntil([this] { return dock->desiredTopHeight() > 0; }));
		const int desired = dock->desiredTopHeight();
		QVERIFY(waitForTop(desired));
		QVERIFY(bottomSize() > 180);
		// At that height the preview shows the whole canvas.
		PreviewDock *preview = dock->preview();
		QCOMPARE(preview->height(), preview->fittedHeight());
		QCOMPARE(desired, preview->fittedHeight() - preview->height() + topPane()->height());
	}

	void fitKeepsTheBottomPaneAt180()
	{
		makeDock(300, 1400);
		QVERIFY(ObsTestEnv::waitUntil([this] { return dock->desiredTopHeight() > 0; }));
		QVERIFY(waitForTop(dock->desiredTopHeight()));
		const int desired = dock->desiredTopHeight();
		const int minimum = topMinimum();
		QVERIFY2(minimum + 20 < desired, "the preview needs room to shrink for this test");

		// Room for less than the fitted height above the pages: the pages keep 180 pixels.
		const int top = (minimum + desired) / 2;
		resizeDock(dockHeightFor(top + 180));
		QVERIFY(waitForTop(top));
		QCOMPARE(bottomSize(), 180);
		QCOMPARE(bottomPane()->height(), 180);
		QCOMPARE(dock->desiredTopHeight(), desired);
	}

	void dragToASmallerTopIsKeptAcrossResizes()
	{
		makeDock(260, 1400);
		QVERIFY(ObsTestEnv::waitUntil([this] { return dock->desiredTopHeight() > 0; }));
		QVERIFY(waitForTop(dock->desiredTopHeight()));
		const int narrow = dock->desiredTopHeight();
		resizeDock(1400, 400);
		QVERIFY(ObsTestEnv::waitUntil([this, narrow] { return dock->desiredTopHeight() > narrow + 40; }));
		QVERIFY(waitForTop(dock->desiredTopHeight()));
		const int desired = dock->desiredTopHeight();
		const int minimum = topMinimum();
		QVERIFY(minimum < narrow);
		// Above the narrow dock's fitted height, below the wide dock's.
		const int chosen = (narrow + desired) / 2;

		dragTo(chosen);
		QVERIFY(waitForTop(chosen));
		resizeDock(1300);
		QVERIFY(waitForTop(chosen));
		// Squeezed below the chosen height and grown again: back to the chosen height.
		const int squeezed = (minimum + chosen) / 2;
		resizeDock(dockHeightFor(squeezed + 180));
		QVERIFY(waitForTop(squeezed));
		resizeDock(1400);
		QVERIFY(waitForTop(chosen));

		// Narrowed until the whole canvas fits below the chosen height: the preview's fitted height
		// wins, and the choice comes back with the width.
		resizeDock(1400, 260);
		QVERIFY(waitForTop(narrow));
		resizeDock(1400, 400);
		QVERIFY(waitForTop(chosen));
	}

	void dragToTheFittedHeightFitsAgain()
	{
		makeDock(300, 1400);
		QVERIFY(ObsTestEnv::waitUntil([this] { return dock->desiredTopHeight() > 0; }));
		QVERIFY(waitForTop(dock->desiredTopHeight()));
		const int narrow = dock->desiredTopHeight();
		const int minimum = topMinimum();
		QVERIFY2(minimum + 40 < narrow, "the preview needs room to shrink for this test");

		dragTo((minimum + narrow) / 2);
		QVERIFY(waitForTop((minimum + narrow) / 2));
		// Dragged down to the fitted height (the top pane goes no further): fitting again, so a
		// wider dock gets a taller preview.
		dragTo(narrow);
		QVERIFY(waitForTop(narrow));
		resizeDock(1400, 400);
		QVERIFY(ObsTestEnv::waitUntil([this, narrow] { return dock->desiredTopHeight() > narrow; }));
		QVERIFY(waitForTop(dock->desiredTopHeight()));
	}

	void tooSmallSplitterIsLeftAlone()
	{
		makeDock(300, 1400);
		QVERIFY(ObsTestEnv::waitUntil([this] { return dock->desiredTopHeight() > 0; }));
		QVERIFY(waitForTop(dock->desiredTopHeight()));
		const int desired = dock->desiredTopHeight();

		resizeDock(dockHeightFor(topMinimum() + 180 - 20));
		ObsTestEnv::pump(100);
		QVERIFY(splitterTotal() < topMinimum() + 180);
		const QList<int> before = storedSizes(splitter());
		dock->fitPreview();
		QCOMPARE(storedSizes(splitter()), before);
		// The cap still follows the preview, which the squeeze made shorter than it wants to be.
		QCOMPARE(topPane()->maximumHeight(), dock->desiredTopHeight());
		QVERIFY(dock->desiredTopHeight() <= desired);
	}

	void studioTransitionButtonFollowsStudioMode()
	{
		obs_scene_t *a = m->addScene("A");
		obs_scene_t *b = m->addScene("B");
		m->setCurrentScene(obs_scene_get_source(a));
		QVERIFY(waitForTransitionEnd());
		makeDock(300, 900);
		auto *button = part<IconButton>("stilwane_studio_transition");
		QVERIFY(button);
		QVERIFY(!button->isVisible());
		QCOMPARE(button->arrowType(), Qt::RightArrow);

		m->setStudioMode(true);
		QVERIFY(button->isVisible());
		m->setPreviewScene(obs_scene_get_source(b), "manual");
		QTest::mouseClick(button, Qt::LeftButton);
		QVERIFY(ObsTestEnv::logContains("vertical studio transition 'B': 300 ms, trigger=button"));
		QVERIFY(waitForTransitionEnd());

		m->setStudioMode(false);
		QVERIFY(!button->isVisible());
	}

	void settingsButtonAsksForTheSettings()
	{
		makeDock(300, 900);
		auto *button = part<IconButton>("stilwane_settings");
		QVERIFY(button);
		QCOMPARE(button->property("class").toString(), QString("icon-gear"));
		QCOMPARE(button->toolTip(), QString("Stilwane Settings"));
		QSignalSpy requested(dock, &MainDock::settingsRequested);
		QTest::mouseClick(button, Qt::LeftButton);
		QCOMPARE(requested.count(), 1);
	}

	void projectorButtonOpensProjectors()
	{
		makeDock(300, 900);
		auto *button = part<IconButton>("stilwane_projector");
		QVERIFY(button);
		QVERIFY(button->isEnabled());
		QCOMPARE(button->toolTip(), QString("Open Projector Window"));
		QCOMPARE(button->popupMode(), QToolButton::MenuButtonPopup);
		QVERIFY(button->menu());

		QMenu *menu = button->menu();
		// Filled on every opening, so a second fill must not add a second submenu.
		MainDock::fillProjectorMenu(menu);
		MainDock::fillProjectorMenu(menu);
		QCOMPARE(menu->actions().size(), 1);
		QMenu *fullscreen = menu->actions().first()->menu();
		QVERIFY(fullscreen);
		QCOMPARE(fullscreen->title(), QString("Fullscreen Projector"));
		const QList<QScreen *> screens = QGuiApplication::screens();
		QVERIFY(!screens.isEmpty());
		QVERIFY(fullscreen->isEnabled());
		QCOMPARE(fullscreen->actions().size(), screens.size());
		QScreen *first = screens.first();
		QCOMPARE(fullscreen->actions().first()->text(), QString("1: %1 (%2x%3)")
									.arg(first->name())
									.arg(first->size().width())
									.arg(first->size().height()));

		// The button's click opens a window, a screen's entry a full-screen projector there.
		QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
		QCOMPARE(ProjectorWindow::registry().size(), 1);
		QVERIFY(!ProjectorWindow::registry().first()->inFullscreenMode());
		fullscreen->actions().first()->trigger();
		QCOMPARE(ProjectorWindow::registry().size(), 2);
		QCOMPARE(ProjectorWindow::registry().last()->fullscreenTarget(), first);
		closeAllProjectors();
		allowProjectors();
	}

	void themeSwitchesKeepEveryIcon()
	{
		// OBS's themes are application style sheets that give the utility classes their icons.
		setModuleDataOverride(STILWANE_DATA_DIR);
		QTemporaryDir themes;
		auto theme = [&themes](const char *name, const char *colour) {
			const QString svg = themes.filePath(QString(name) + ".svg");
			QFile file(svg);
			if (!file.open(QIODevice::WriteOnly))
				qFatal("cannot write %s", qPrintable(svg));
			file.write(QString("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16\" height=\"16\">"
					   "<rect width=\"16\" height=\"16\" fill=\"%1\"/></svg>")
					   .arg(colour)
					   .toUtf8());
			QString sheet;
			for (const char *cls :
			     {"icon-gear", "icon-plus", "icon-trash", "icon-up", "icon-down", "icon-save"})
				sheet += QString(".%1 { qproperty-icon: url(%2); }\n").arg(cls, svg);
			return sheet;
		};
		const QList<std::pair<QString, QColor>> switches = {{theme("green", "#00ff00"), QColor(0, 255, 0)},
								    {theme("blue", "#0000ff"), QColor(0, 0, 255)},
								    {QString(), QColor()}};
		makeDock(320, 900);
		QList<IconButton *> buttons = dock->findChildren<IconButton *>();
		QVERIFY(buttons.size() >= 15);

		for (const auto &[sheet, colour] : switches) {
			qApp->setStyleSheet(sheet);
			ObsTestEnv::pump(50);
			for (IconButton *button : buttons) {
				const QString cls = button->property("class").toString();
				const QString what = button->objectName() + " " + cls + " " + button->iconFile();
				if (button->arrowType() != Qt::NoArrow)
					continue; // drawn as an arrow, no icon
				if (cls.startsWith("icon-")) {
					// OBS's icon, not one of ours, and the new theme's.
					QVERIFY2(button->iconFile().isEmpty(), qPrintable(what));
					if (!colour.isValid())
						continue; // no theme: nothing gives such a button an icon
					QVERIFY2(!button->icon().isNull(), qPrintable(what));
					const QImage image = button->icon().pixmap(16, 16).toImage();
					QCOMPARE(image.pixelColor(8, 8), colour);
				} else {
					QVERIFY2(button->iconFile().startsWith(STILWANE_DATA_DIR), qPrintable(what));
					QVERIFY2(!button->icon().isNull(), qPrintable(what));
				}
			}
		}
		setModuleDataOverride(QString());
	}

	void screenNamesAreNeverPlaceholders()
	{
		const QList<std::pair<QString, QString>> names = {
			{"HDMI-1", "3: HDMI-1 (1920x1080)"},
			{"Dell %2", "3: Dell %2 (1920x1080)"},
			{"%3 %4 %1", "3: %3 %4 %1 (1920x1080)"},
			{"", "3:  (1920x1080)"},
		};
		for (const auto &[name, label] : names)
			QCOMPARE(screenLabel(2, name, QSize(1920, 1080)), label);
	}
};

STILWANE_TEST_MAIN(TestMainDock)
#include "test_main_dock.moc"
