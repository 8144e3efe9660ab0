// SPDX-License-Identifier: GPL-2.0-or-later
// Projector windows for real: top-level widgets under Xvfb with libobs drawing the vertical canvas into
// them. More monitors come from RandR 1.5 monitors added to the Xvfb screen, of which Qt makes screens
// of their own and which it drops again when they are deleted, as when a monitor is unplugged; the
// extra ones lie beside the X screen, so only the primary one is ever looked at in pixels.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "PreviewFixture.hpp"
#include "XMonitors.hpp"

#include <preview/ProjectorWindow.hpp>
#include <preview/Projectors.hpp>
#include <preview/QTDisplay.hpp>

#include <TestMain.hpp>

#include <QApplication>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QSignalBlocker>

#include <cstdlib>
#include <functional>

using namespace stilwane;
using namespace previewtest;

namespace {

constexpr uint32_t kBlueAbgr = 0xFFC06030;
constexpr QRgb kBlue = 0xFF3060C0;
constexpr QRgb kBlack = 0xFF000000;
const QRect kSecond(1920, 0, 1280, 720);
const char *const kFailedLine = "[stilwane] projector could not enter fullscreen on the requested screen";

bool near(QRgb a, QRgb b)
{
	return std::abs(qRed(a) - qRed(b)) <= 3 && std::abs(qGreen(a) - qGreen(b)) <= 3 &&
	       std::abs(qBlue(a) - qBlue(b)) <= 3;
}

// Where a window's placement or full-screen request has come to rest.
bool settled(const ProjectorWindow *w)
{
	return w && !w->isPlacementPending() && (!w->inFullscreenMode() || w->fullscreenConfirmed());
}

bool settledAll()
{
	for (ProjectorWindow *w : ProjectorWindow::registry())
		if (!settled(w))
			return false;
	return true;
}

QImage grab(QTDisplay *display)
{
	return QGuiApplication::primaryScreen()
		->grabWindow(display->winId())
		.toImage()
		.convertToFormat(QImage::Format_RGB32);
}

// Waits until libobs draws into the window's display and the picture passes the check.
bool showsPicture(ProjectorWindow *w, const std::function<bool(const QImage &)> &check, QImage *last = nullptr)
{
	QImage image;
	const bool shown = ObsTestEnv::waitUntil(
		[&] {
			if (!w->displayWidget() || !w->displayWidget()->display() || !w->rendering())
				return false;
			image = grab(w->displayWidget());
			return !image.isNull() && check(image);
		},
		10000);
	if (last)
		*last = image;
	return shown;
}

bool allBlue(const QImage &i)
{
	const int w = i.width() - 1;
	const int h = i.height() - 1;
	return near(i.pixel(w / 2, h / 2), kBlue) && near(i.pixel(1, 1), kBlue) && near(i.pixel(w - 1, h - 1), kBlue);
}

QString pixels(const QImage &image, const QList<QPoint> &points)
{
	QStringList parts;
	for (const QPoint &p : points)
		parts << QString("(%1,%2)=%3")
				 .arg(p.x())
				 .arg(p.y())
				 .arg(image.valid(p) ? QString::number(image.pixel(p), 16) : QString("-"));
	return parts.join(' ');
}

QStringList texts(const QMenu *menu)
{
	QStringList list;
	for (const QAction *action : menu->actions())
		list << (action->isSeparator() ? QString("-") : action->text());
	return list;
}

QAction *actionNamed(const QMenu *menu, const QString &text)
{
	for (QAction *action : menu->actions())
		if (action->text() == text)
			return action;
	return nullptr;
}

enum class Supersede { Leave, OtherMonitor, Close, AlwaysOnTop };

} // namespace

Q_DECLARE_METATYPE(Supersede)

class TestProjector : public QObject {
	Q_OBJECT

	Fixture f;
	XMonitors monitors;

	obs_scene_t *canvasWithBlueScene()
	{
		f.loadCanvas();
		obs_scene_t *scene = f.m->addScene("V");
		if (scene)
			Fixture::addColour(scene, "fill", kBlueAbgr, 1080, 1920);
		return scene;
	}

	QScreen *second() { return monitors.add("STILWANE-2", kSecond); }

private slots:
	void initTestCase()
	{
		f.initTestCase();
		QVERIFY(monitors.open());
	}

	void cleanupTestCase()
	{
		monitors.close();
		f.cleanupTestCase();
	}

	void init()
	{
		f.init();
		ObsTestEnv::clearLog();
	}

	void cleanup()
	{
		closeAllProjectors();
		allowProjectors();
		monitors.removeAll();
		f.cleanup();
	}

	void fitRectToScreens_data()
	{
		QTest::addColumn<QRect>("rect");
		QTest::addColumn<QRect>("fitted");
		// The primary screen is 1920 x 1080 at the origin, the second one 1280 x 720 right of it.
		QTest::newRow("inside the primary") << QRect(100, 100, 405, 720) << QRect(100, 100, 405, 720);
		QTest::newRow("below the primary's bottom") << QRect(300, 900, 405, 720) << QRect(300, 360, 405, 720);
		QTest::newRow("left of the primary") << QRect(-300, 50, 405, 720) << QRect(0, 50, 405, 720);
		QTest::newRow("mostly on the second") << QRect(1800, 100, 405, 720) << QRect(1920, 0, 405, 720);
		QTest::newRow("taller than the second") << QRect(2000, 100, 400, 1000) << QRect(2000, 0, 400, 720);
		QTest::newRow("larger than every screen") << QRect(-50, -50, 5000, 5000) << QRect(0, 0, 1920, 1080);
		QTest::newRow("far beyond, primary's corner")
			<< QRect(9000, 9000, 405, 720) << QRect(1515, 360, 405, 720);
		QTest::newRow("far before, primary's origin") << QRect(-9000, -9000, 405, 720) << QRect(0, 0, 405, 720);
		QTest::newRow("empty becomes 1 x 1") << QRect(50, 60, 0, 0) << QRect(50, 60, 1, 1);
		QTest::newRow("empty off screen") << QRect(5000, -20, 0, 0) << QRect(1919, 0, 1, 1);
	}

	void fitRectToScreens()
	{
		QFETCH(QRect, rect);
		QFETCH(QRect, fitted);
		QVERIFY(second());
		ProjectorWindow window(false, nullptr);
		QCOMPARE(window.fitRectToScreens(rect), fitted);
	}

	void windowProjectorShowsTheCanvasUntilItGoes()
	{
		QVERIFY(canvasWithBlueScene());
		ProjectorWindow *w = openWindowProjector();
		QVERIFY(w);
		QCOMPARE(ProjectorWindow::registry(), QList<ProjectorWindow *>{w});
		QVERIFY(ObsTestEnv::waitUntil([w] { return settled(w) && w->isVisible(); }));
		QVERIFY(w->isWindow());
		QCOMPARE(w->windowTitle(), QString("Stilwane Vertical Projector"));
		QCOMPARE(w->size(), QSize(405, 720));
		QCOMPARE(w->geometry().center(), QGuiApplication::primaryScreen()->availableGeometry().center());
		QCOMPARE(w->displayWidget()->background(), 0xFF000000u);

		// 405 x 720 is the canvas's own shape: blue from edge to edge.
		QImage image;
		QVERIFY2(showsPicture(w, allBlue, &image), qPrintable(pixels(image, {{202, 360}, {1, 1}, {403, 718}})));

		// Without a canvas the projector stays black.
		f.m->releaseCanvas();
		QVERIFY2(showsPicture(
				 w, [](const QImage &i) { return near(i.pixel(202, 360), kBlack); }, &image),
			 qPrintable(pixels(image, {{202, 360}})));
	}

	void renderSafeAfterTheCanvasWentAway()
	{
		QVERIFY(canvasWithBlueScene());
		ProjectorWindow *w = openWindowProjector();
		QVERIFY(showsPicture(w, allBlue));

		// The canvas goes without a word to the projector: only its weak reference is left.
		OBSWeakCanvas watch = OBSGetWeakRef(f.m->canvas());
		{
			QSignalBlocker quiet(f.m);
			f.m->releaseCanvas();
			f.fe.reset();
			obs_wait_for_destroy_queue();
		}
		OBSCanvasAutoRelease still = obs_weak_canvas_get_canvas(watch);
		QVERIFY2(!still, "the canvas outlived its last reference");
		QVERIFY(w->rendering());
		QImage image;
		QVERIFY2(showsPicture(
				 w, [](const QImage &i) { return near(i.pixel(202, 360), kBlack); }, &image),
			 qPrintable(pixels(image, {{202, 360}})));
	}

	void fullscreenOnEachMonitor_data()
	{
		QTest::addColumn<bool>("onSecond");
		QTest::newRow("primary") << false;
		QTest::newRow("second") << true;
	}

	void fullscreenOnEachMonitor()
	{
		QFETCH(bool, onSecond);
		QVERIFY(canvasWithBlueScene());
		QScreen *other = second();
		QVERIFY(other);
		QScreen *target = onSecond ? other : QGuiApplication::primaryScreen();
		ProjectorWindow *w = openFullscreenProjector(target);
		QVERIFY(w);
		QVERIFY(w->requestInProgress());
		QCOMPARE(w->fullscreenTarget(), target);
		QVERIFY(ObsTestEnv::waitUntil([w] { return settled(w); }));
		QVERIFY(w->fullscreenConfirmed());
		QVERIFY(w->isFullScreen());
		QCOMPARE(w->screen(), target);
		QCOMPARE(w->geometry(), target->geometry());
		QCOMPARE(w->cursor().shape(), Qt::BlankCursor);
		QCOMPARE(w->windowedRectangle().size(), QSize(405, 720));
		QCOMPARE(w->windowedRectangle().center(), target->availableGeometry().center());
		QVERIFY(!ObsTestEnv::logContains(kFailedLine));

		const ProjectorRecord r = w->record();
		QCOMPARE(r.mode, std::string("fullscreen"));
		QCOMPARE(QString::fromStdString(r.screenName), target->name());
		QCOMPARE(QRect(r.screenX, r.screenY, r.screenWidth, r.screenHeight), target->geometry());
		QCOMPARE(QRect(r.x, r.y, r.width, r.height), w->windowedRectangle());
		if (onSecond)
			return;

		// 1920 x 1080 shows the 1080 x 1920 canvas 607 pixels wide from x = 656, black beside it.
		QImage image;
		const QList<QPoint> points{{959, 540}, {657, 5}, {1261, 1075}, {640, 540}, {1280, 540}};
		QVERIFY2(showsPicture(
				 w,
				 [](const QImage &i) {
					 return near(i.pixel(959, 540), kBlue) && near(i.pixel(657, 5), kBlue) &&
						near(i.pixel(1261, 1075), kBlue) && near(i.pixel(640, 540), kBlack) &&
						near(i.pixel(1280, 540), kBlack);
				 },
				 &image),
			 qPrintable(pixels(image, points)));
	}

	void secondFullscreenProjectorBringsTheFirstToFront()
	{
		QScreen *primary = QGuiApplication::primaryScreen();
		ProjectorWindow *first = openFullscreenProjector(primary);
		// Also while its request still runs.
		QVERIFY(first->requestInProgress());
		QCOMPARE(openFullscreenProjector(primary), first);
		QVERIFY(ObsTestEnv::waitUntil([first] { return settled(first); }));
		QCOMPARE(openFullscreenProjector(primary), first);
		QCOMPARE(ProjectorWindow::registry().size(), 1);

		// A windowed projector asked onto the same monitor stays a window and brings the first back
		// from the minimized state to full screen.
		ProjectorWindow *window = openWindowProjector();
		QVERIFY(ObsTestEnv::waitUntil([window] { return settled(window) && window->isVisible(); }));
		first->showMinimized();
		QVERIFY(first->isMinimized());
		window->enterFullscreen(primary);
		QVERIFY(!window->inFullscreenMode());
		QVERIFY(!first->isMinimized());
		QVERIFY(first->isFullScreen());
		QCOMPARE(findFullscreenProjector(primary, nullptr), first);
		QCOMPARE(findFullscreenProjector(primary, first), nullptr);
		QCOMPARE(ProjectorWindow::registry().size(), 2);
	}

	void supersededRequestIsAbandoned_data()
	{
		QTest::addColumn<Supersede>("by");
		QTest::newRow("left at once") << Supersede::Leave;
		QTest::newRow("asked onto another monitor") << Supersede::OtherMonitor;
		QTest::newRow("closed") << Supersede::Close;
		QTest::newRow("made always on top") << Supersede::AlwaysOnTop;
	}

	void supersededRequestIsAbandoned()
	{
		QFETCH(Supersede, by);
		QScreen *other = second();
		QVERIFY(other);
		QScreen *primary = QGuiApplication::primaryScreen();
		QPointer<ProjectorWindow> w = openWindowProjector();
		QVERIFY(ObsTestEnv::waitUntil([&w] { return settled(w); }));
		const QRect windowed = w->geometry();

		w->enterFullscreen(primary);
		QVERIFY(w->requestInProgress());
		switch (by) {
		case Supersede::Leave:
			w->leaveFullscreen(false);
			break;
		case Supersede::OtherMonitor:
			w->enterFullscreen(other);
			break;
		case Supersede::Close:
			w->close();
			break;
		case Supersede::AlwaysOnTop:
			w->setAlwaysOnTop(true);
			break;
		}
		// The first request's deferred steps ran before the later ones settle.
		QVERIFY(ObsTestEnv::waitUntil([&w, by] { return by == Supersede::Close ? w.isNull() : settled(w); }));
		QVERIFY(!ObsTestEnv::logContains(kFailedLine));
		switch (by) {
		case Supersede::Leave:
			QVERIFY(!w->inFullscreenMode());
			QVERIFY(!w->isFullScreen());
			QCOMPARE(w->geometry(), windowed);
			QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);
			break;
		case Supersede::OtherMonitor:
			QVERIFY(w->fullscreenConfirmed());
			QCOMPARE(w->screen(), other);
			QCOMPARE(w->geometry(), other->geometry());
			QCOMPARE(findFullscreenProjector(primary, nullptr), nullptr);
			break;
		case Supersede::Close:
			QVERIFY(ProjectorWindow::registry().isEmpty());
			break;
		case Supersede::AlwaysOnTop:
			QVERIFY(w->isAlwaysOnTop());
			QVERIFY(w->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
			QVERIFY(w->fullscreenConfirmed());
			QCOMPARE(w->geometry(), primary->geometry());
			// Back to a window: the place it had before the request.
			w->leaveFullscreen(false);
			QVERIFY(ObsTestEnv::waitUntil([&w] { return settled(w); }));
			QCOMPARE(w->geometry(), windowed);
			break;
		}
	}

	void requestThatNeverHoldsFallsBackToAWindow()
	{
		// A monitor inside the primary one: a window in its middle is on the primary screen as far
		// as Qt can tell, so no attempt ever finds it on the requested one.
		QScreen *inner = monitors.add("STILWANE-INNER", QRect(200, 100, 800, 600));
		QVERIFY(inner);
		QVERIFY(QGuiApplication::screenAt(inner->geometry().center()) != inner);
		ProjectorWindow *w = openFullscreenProjector(inner);
		QVERIFY(ObsTestEnv::waitUntil([w] { return !w->inFullscreenMode() && settled(w); }));
		QVERIFY(ObsTestEnv::logContains(kFailedLine));
		QVERIFY(!w->isFullScreen());
		QCOMPARE(w->geometry(), w->fitRectToScreens(w->geometry()));
		QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);
	}

	void monitorUnpluggedUnderAFullscreenProjector_data()
	{
		QTest::addColumn<bool>("confirmed");
		QTest::newRow("while asking") << false;
		QTest::newRow("once full screen") << true;
	}

	void monitorUnpluggedUnderAFullscreenProjector()
	{
		QFETCH(bool, confirmed);
		QScreen *other = second();
		QVERIFY(other);
		ProjectorWindow *w = openFullscreenProjector(other);
		if (confirmed)
			QVERIFY(ObsTestEnv::waitUntil([w] { return settled(w); }));
		QVERIFY(monitors.remove("STILWANE-2"));
		QVERIFY(!w->inFullscreenMode());
		QVERIFY(ObsTestEnv::waitUntil([w] { return settled(w); }));
		QVERIFY(!w->isFullScreen());
		const QRect primary = QGuiApplication::primaryScreen()->availableGeometry();
		QVERIFY2(primary.contains(w->geometry()), qPrintable(QString("%1,%2 %3x%4")
									     .arg(w->geometry().x())
									     .arg(w->geometry().y())
									     .arg(w->width())
									     .arg(w->height())));
		QCOMPARE(w->size(), QSize(405, 720));
	}

	void doubleClickAndEscape()
	{
		ProjectorWindow *w = openWindowProjector();
		QVERIFY(ObsTestEnv::waitUntil([w] { return settled(w) && w->isVisible(); }));
		const QRect windowed = w->geometry();
		QVERIFY(w->displayWidget());

		// Escape in a window changes nothing.
		QTest::keyClick(w->displayWidget(), Qt::Key_Escape);
		QVERIFY(!w->inFullscreenMode());
		QCOMPARE(w->geometry(), windowed);

		QTest::mouseDClick(w->displayWidget(), Qt::LeftButton, {}, QPoint(50, 50));
		QVERIFY(w->inFullscreenMode());
		QVERIFY(ObsTestEnv::waitUntil([w] { return settled(w); }));
		QCOMPARE(w->screen(), QGuiApplication::primaryScreen());
		QCOMPARE(w->geometry(), QGuiApplication::primaryScreen()->geometry());

		QTest::keyClick(w->displayWidget(), Qt::Key_Escape);
		QVERIFY(!w->inFullscreenMode());
		QVERIFY(ObsTestEnv::waitUntil([w] { return settled(w); }));
		QCOMPARE(w->geometry(), windowed);

		QTest::mouseDClick(w->displayWidget(), Qt::LeftButton, {}, QPoint(50, 50));
		QVERIFY(ObsTestEnv::waitUntil([w] { return settled(w) && w->isFullScreen(); }));
		QTest::mouseDClick(w->displayWidget(), Qt::LeftButton, {}, QPoint(50, 50));
		QVERIFY(ObsTestEnv::waitUntil([w] { return settled(w) && !w->isFullScreen(); }));
		QCOMPARE(w->geometry(), windowed);
	}

	void contextMenuEntries()
	{
		QVERIFY(canvasWithBlueScene());
		QScreen *other = second();
		QVERIFY(other);
		ProjectorWindow *w = openWindowProjector();
		QVERIFY(showsPicture(w, allBlue));
		const QString onTopText("Always on Top");

		// A right click on the picture opens the menu (Qt turns the click into this event).
		const QPoint at = w->displayWidget()->mapToGlobal(QPoint(40, 40));
		QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(40, 40), at);
		QVERIFY(QCoreApplication::sendEvent(w->displayWidget(), &click));
		QVERIFY(ObsTestEnv::waitUntil([] { return qobject_cast<QMenu *>(QApplication::activePopupWidget()); }));
		QPointer<QMenu> shown = qobject_cast<QMenu *>(QApplication::activePopupWidget());
		QVERIFY(shown->parent() == w);
		QCOMPARE(texts(shown),
			 (QStringList{"Fullscreen", onTopText, "Fit Window to 9:16", "-", "Close Projector"}));
		shown->close();
		QVERIFY(ObsTestEnv::waitUntil([&shown] { return shown.isNull(); }));

		std::unique_ptr<QMenu> menu(w->buildProjectorMenu());
		QMenu *screens = actionNamed(menu.get(), "Fullscreen")->menu();
		QVERIFY(screens);
		QCOMPARE(screens->actions().size(), QGuiApplication::screens().size());
		for (QAction *entry : screens->actions()) {
			QVERIFY(entry->isCheckable());
			QVERIFY(!entry->isChecked());
		}
		QAction *onTop = actionNamed(menu.get(), onTopText);
		QVERIFY(onTop->isCheckable());
		QVERIFY(!onTop->isChecked());

		// Fit to 9:16 keeps the height.
		w->resize(300, 1000);
		w->fitWindow();
		QCOMPARE(w->size(), QSize(563, 1000));
		w->resize(800, 720);
		actionNamed(menu.get(), "Fit Window to 9:16")->trigger();
		QCOMPARE(w->size(), QSize(405, 720));

		// Always on top recreates the window; the picture comes back in the new display.
		const QRect before = w->geometry();
		onTop->trigger();
		QVERIFY(w->isAlwaysOnTop());
		QVERIFY(w->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
		QVERIFY(ObsTestEnv::waitUntil([w] { return settled(w); }));
		QCOMPARE(w->geometry(), before);
		QVERIFY(showsPicture(w, allBlue));

		// A screen's entry: full screen there; the menu then marks it and offers the way back.
		const int index = int(QGuiApplication::screens().indexOf(other));
		screens->actions().at(index)->trigger();
		QVERIFY(ObsTestEnv::waitUntil([w] { return settled(w); }));
		QCOMPARE(w->screen(), other);
		menu.reset(w->buildProjectorMenu());
		QCOMPARE(texts(menu.get()), (QStringList{"Fullscreen", "Windowed", onTopText, "-", "Close Projector"}));
		screens = actionNamed(menu.get(), "Fullscreen")->menu();
		for (int i = 0; i < screens->actions().size(); i++)
			QCOMPARE(screens->actions().at(i)->isChecked(), i == index);
		QVERIFY(actionNamed(menu.get(), onTopText)->isChecked());
		actionNamed(menu.get(), "Windowed")->trigger();
		QVERIFY(ObsTestEnv::waitUntil([w] { return settled(w); }));
		QVERIFY(!w->inFullscreenMode());
		QCOMPARE(w->geometry(), before);

		QPointer<ProjectorWindow> closing = w;
		menu.reset(w->buildProjectorMenu());
		QAction *close = actionNamed(menu.release(), "Close Projector");
		close->trigger();
		QVERIFY(ObsTestEnv::waitUntil([&closing] { return closing.isNull(); }));
		QVERIFY(ProjectorWindow::registry().isEmpty());
	}

	void rememberAndRestoreWithAVanishedMonitor()
	{
		QScreen *other = second();
		QVERIFY(other);
		QScreen *primary = QGuiApplication::primaryScreen();
		ProjectorWindow *windowed = openWindowProjector();
		windowed->placeWindowed(QRect(200, 150, 405, 720), true, QByteArray());
		QVERIFY(ObsTestEnv::waitUntil([windowed] { return settled(windowed); }));
		windowed->setAlwaysOnTop(true);
		QVERIFY(openFullscreenProjector(other));
		QVERIFY(openFullscreenProjector(primary));
		QVERIFY(ObsTestEnv::waitUntil(settledAll));

		rememberProjectors();
		// Through the file, as from one OBS session to the next.
		saveConfig();
		config() = ConfigRecord{};
		loadConfig();
		// loadConfig keeps the file's hotkey bindings for the next save; libobs must not outlive them.
		setStoredHotkeyBindings(nullptr);
		const std::vector<ProjectorRecord> records = config().projectors;
		QCOMPARE(records.size(), size_t(3));
		QCOMPARE(records[0].mode, std::string("window"));
		QCOMPARE(QRect(records[0].x, records[0].y, records[0].width, records[0].height),
			 QRect(200, 150, 405, 720));
		QVERIFY(records[0].alwaysOnTop);
		QVERIFY(records[0].screenName.empty());
		QVERIFY(!records[0].geometry.empty());
		for (size_t i : {size_t(1), size_t(2)}) {
			QScreen *screen = i == 1 ? other : primary;
			QCOMPARE(records[i].mode, std::string("fullscreen"));
			QCOMPARE(QString::fromStdString(records[i].screenName), screen->name());
			QCOMPARE(QRect(records[i].screenX, records[i].screenY, records[i].screenWidth,
				       records[i].screenHeight),
				 screen->geometry());
			QVERIFY(!records[i].alwaysOnTop);
		}

		closeAllProjectors();
		QVERIFY(ProjectorWindow::registry().isEmpty());
		QVERIFY(monitors.remove("STILWANE-2"));
		allowProjectors();
		restoreProjectors();
		QCOMPARE(ProjectorWindow::registry().size(), 3);
		QVERIFY(ObsTestEnv::waitUntil(settledAll));
		ProjectorWindow *a = ProjectorWindow::registry().at(0);
		ProjectorWindow *b = ProjectorWindow::registry().at(1);
		ProjectorWindow *c = ProjectorWindow::registry().at(2);
		QVERIFY(!a->inFullscreenMode());
		QCOMPARE(a->geometry(), QRect(200, 150, 405, 720));
		QVERIFY(a->isAlwaysOnTop());
		QVERIFY(a->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
		// The monitor is gone: a window at its windowed place, moved onto the screens that are left.
		QVERIFY(!b->inFullscreenMode());
		const QRect remembered(records[1].x, records[1].y, records[1].width, records[1].height);
		QCOMPARE(b->geometry(), b->fitRectToScreens(remembered));
		QVERIFY(primary->availableGeometry().contains(b->geometry()));
		QVERIFY(c->fullscreenConfirmed());
		QCOMPARE(c->screen(), primary);
		QCOMPARE(c->geometry(), primary->geometry());
	}

	void restoreSkipsWhatCannotComeBack()
	{
		QScreen *primary = QGuiApplication::primaryScreen();
		const QRect screenGeometry = primary->geometry();
		auto fullscreenOn = [&](const QString &name, const QRect &g) {
			ProjectorRecord r;
			r.mode = "fullscreen";
			r.screenName = name.toStdString();
			r.screenX = g.x();
			r.screenY = g.y();
			r.screenWidth = g.width();
			r.screenHeight = g.height();
			r.x = 300;
			r.y = 200;
			return r;
		};
		ProjectorRecord broken;
		broken.geometry = "not base64 at all!";
		broken.x = 40;
		broken.y = 30;
		config().projectors = {
			fullscreenOn(primary->name(), screenGeometry),
			// Same monitor again: the first one stays the only full-screen projector there.
			fullscreenOn(primary->name(), screenGeometry),
			// The name is there, the geometry has changed: the monitor counts as gone.
			fullscreenOn(primary->name(), QRect(0, 0, 1280, 1024)),
			broken,
		};

		config().restoreProjectors = false;
		restoreProjectors();
		QVERIFY(ProjectorWindow::registry().isEmpty());

		config().restoreProjectors = true;
		restoreProjectors();
		QCOMPARE(ProjectorWindow::registry().size(), 3);
		QVERIFY(ObsTestEnv::waitUntil(settledAll));
		QVERIFY(ProjectorWindow::registry().at(0)->fullscreenConfirmed());
		QVERIFY(!ProjectorWindow::registry().at(1)->inFullscreenMode());
		QCOMPARE(ProjectorWindow::registry().at(1)->geometry(), QRect(300, 200, 405, 720));
		QCOMPARE(ProjectorWindow::registry().at(2)->geometry(), QRect(40, 30, 405, 720));

		// Once closed for good, nothing opens or comes back.
		closeAllProjectors();
		QVERIFY(projectorsClosed());
		QVERIFY(!openWindowProjector());
		QVERIFY(!openFullscreenProjector(primary));
		restoreProjectors();
		QVERIFY(ProjectorWindow::registry().isEmpty());
	}
};

STILWANE_TEST_MAIN(TestProjector)
#include "test_projector.moc"
