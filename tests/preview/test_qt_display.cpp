// SPDX-License-Identifier: GPL-2.0-or-later
// The libobs display widget in a real QApplication under Xvfb: when the display comes to life, how
// the size updates are coalesced, and that nothing draws into a native window that is gone.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <preview/QTDisplay.hpp>

#include <ObsTestEnv.hpp>
#include <TestMain.hpp>

#include <QExposeEvent>
#include <QPlatformSurfaceEvent>
#include <QResizeEvent>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QWindow>

#include <functional>
#include <memory>
#include <vector>

#include <obs.h>

using namespace stilwane;

namespace {

// A top-level window holding one display in a layout, as the dock holds its displays.
struct Host {
	std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
	QTDisplay *display = nullptr;

	explicit Host(QSize size = QSize(320, 480))
	{
		auto *layout = new QVBoxLayout(window.get());
		layout->setContentsMargins(0, 0, 0, 0);
		display = new QTDisplay(window.get());
		layout->addWidget(display);
		window->resize(size);
	}

	bool showAndWaitForDisplay()
	{
		window->show();
		return ObsTestEnv::waitUntil([this] { return display->display() != nullptr; });
	}
};

QSize obsDisplaySize(obs_display_t *display)
{
	uint32_t cx = 0;
	uint32_t cy = 0;
	obs_display_size(display, &cx, &cy);
	return QSize(int(cx), int(cy));
}

} // namespace

class TestQtDisplay : public QObject {
	Q_OBJECT

private slots:
	void nativeWindowAndNoPainting()
	{
		Host host;
		QVERIFY(host.display->windowHandle());
		QVERIFY(host.display->testAttribute(Qt::WA_NativeWindow));
		QVERIFY(host.display->testAttribute(Qt::WA_PaintOnScreen));
		QVERIFY(!host.display->paintEngine());
		QCOMPARE(host.display->background(), 0xFF2B2B2Bu);
	}

	void noDisplayBeforeExposure()
	{
		Host host;
		QSignalSpy created(host.display, &QTDisplay::displayCreated);
		host.display->createDisplay();
		host.display->syncDisplaySize();
		ObsTestEnv::pump(50);
		QVERIFY(!host.display->display());
		QCOMPARE(created.count(), 0);

		QVERIFY(host.showAndWaitForDisplay());
		QVERIFY(host.display->windowHandle()->isExposed());
		ObsTestEnv::pump(100);
		QCOMPARE(created.count(), 1);
		QCOMPARE(created.first().first().value<QTDisplay *>(), host.display);
		QCOMPARE(obsDisplaySize(host.display->display()), host.display->pixelSize());

		// Later creation requests keep the one display.
		host.display->createDisplay();
		host.window->resize(360, 500);
		ObsTestEnv::pump(100);
		QCOMPARE(created.count(), 1);
	}

	void displayFollowsTheWindowSize()
	{
		Host host;
		QVERIFY(host.showAndWaitForDisplay());
		host.window->resize(300, 420);
		QVERIFY(ObsTestEnv::waitUntil(
			[&host] { return obsDisplaySize(host.display->display()) == QSize(300, 420); }));
		QCOMPARE(host.display->pixelSize(), QSize(300, 420));
	}

	void noDisplayForAnEmptyWidget()
	{
		QWidget window;
		window.resize(200, 200);
		auto *display = new QTDisplay(&window);
		display->setGeometry(0, 0, 0, 0);
		QSignalSpy created(display, &QTDisplay::displayCreated);
		window.show();
		QVERIFY(QTest::qWaitForWindowExposed(&window));
		ObsTestEnv::pump(100);
		display->createDisplay();
		display->syncDisplaySize();
		display->repaint();
		ObsTestEnv::pump(50);
		// X11 cannot map an empty window: Qt leaves it unmapped, so it is never exposed.
		QVERIFY(!display->windowHandle()->isExposed());
		QVERIFY(!display->display());
		QCOMPARE(created.count(), 0);
	}

	void blackBackground()
	{
		Host host;
		host.display->useBlackBackground();
		QCOMPARE(host.display->background(), 0xFF000000u);
		QVERIFY(host.showAndWaitForDisplay());
		// Also applies to a display that exists already.
		host.display->useBlackBackground();
		QCOMPARE(host.display->background(), 0xFF000000u);
	}

	void manyTriggersOneDeferredUpdate()
	{
		Host host;
		QVERIFY(host.showAndWaitForDisplay());
		ObsTestEnv::pump(200);
		QTDisplay *display = host.display;
		QWindow *window = display->windowHandle();
		QSignalSpy resized(display, &QTDisplay::displayResized);

		// Synthetic events: nothing changes at the X server, so no real event joins in later.
		const QSize size = display->size();
		for (int i = 0; i < 3; i++) {
			QResizeEvent resize(size, size);
			QCoreApplication::sendEvent(display, &resize);
		}
		QShowEvent show;
		QCoreApplication::sendEvent(display, &show);
		QEvent ratio(QEvent::DevicePixelRatioChange);
		QCoreApplication::sendEvent(display, &ratio);
		QEvent screen(QEvent::ScreenChangeInternal);
		QCoreApplication::sendEvent(display, &screen);
		QExposeEvent expose{QRegion(QRect(QPoint(0, 0), window->size()))};
		QCoreApplication::sendEvent(window, &expose);
		QEvent windowRatio(QEvent::DevicePixelRatioChange);
		QCoreApplication::sendEvent(window, &windowRatio);
		display->scheduleUpdate();
		display->scheduleUpdate();

		// Only the resize handler's own emissions so far; the update waits for the event loop.
		QCOMPARE(resized.count(), 3);
		QCoreApplication::processEvents();
		QCOMPARE(resized.count(), 4);
		ObsTestEnv::pump(200);
		QCOMPARE(resized.count(), 4);
		QVERIFY(display->display());

		// A new pass takes new requests.
		display->scheduleUpdate();
		QCOMPARE(resized.count(), 4);
		QCoreApplication::processEvents();
		QCOMPARE(resized.count(), 5);
	}

	void noDisplayAfterTheSurfaceIsDestroyed()
	{
		Host host;
		QVERIFY(host.showAndWaitForDisplay());
		QTDisplay *display = host.display;
		QSignalSpy created(display, &QTDisplay::displayCreated);
		QSignalSpy resized(display, &QTDisplay::displayResized);

		QPlatformSurfaceEvent aboutToGo(QPlatformSurfaceEvent::SurfaceAboutToBeDestroyed);
		QCoreApplication::sendEvent(display->windowHandle(), &aboutToGo);
		QVERIFY(!display->display());

		display->repaint();
		host.window->resize(280, 400);
		display->createDisplay();
		display->syncDisplaySize();
		ObsTestEnv::pump(200);
		QVERIFY(!display->display());
		QCOMPARE(created.count(), 0);

		// A resize still reaches the layout at once, but no deferred update follows any more.
		resized.clear();
		QResizeEvent resize(QSize(250, 350), display->size());
		QCoreApplication::sendEvent(display, &resize);
		display->scheduleUpdate();
		QCOMPARE(resized.count(), 1);
		ObsTestEnv::pump(100);
		QCOMPARE(resized.count(), 1);
		QVERIFY(!display->display());
	}

	void renderingFollowsWhatIsSeen()
	{
		// The display sits in a column, as the program display does in the dock.
		QWidget window;
		auto *layout = new QVBoxLayout(&window);
		auto *column = new QWidget(&window);
		layout->addWidget(column);
		auto *columnLayout = new QVBoxLayout(column);
		auto *display = new QTDisplay(column);
		columnLayout->addWidget(display);
		window.resize(320, 480);
		window.show();
		QVERIFY(ObsTestEnv::waitUntil([display] { return display->display() != nullptr; }));
		obs_display_t *d = display->display();
		QVERIFY(obs_display_enabled(d));

		// Each way of going out of sight turns libobs's drawing off; coming back turns it on again,
		// on the same display.
		struct Case {
			const char *what;
			std::function<void()> hide;
			std::function<void()> show;
		};
		const std::vector<Case> cases = {
			{"display hidden", [display] { display->hide(); }, [display] { display->show(); }},
			{"column hidden", [column] { column->hide(); }, [column] { column->show(); }},
			{"window minimized", [&window] { window.showMinimized(); }, [&window] { window.showNormal(); }},
			{"window hidden", [&window] { window.hide(); }, [&window] { window.show(); }},
		};
		for (const Case &c : cases) {
			c.hide();
			QVERIFY2(ObsTestEnv::waitUntil([d] { return !obs_display_enabled(d); }, 2000), c.what);
			ObsTestEnv::pump(50);
			QVERIFY2(!obs_display_enabled(d), c.what);
			c.show();
			QVERIFY2(ObsTestEnv::waitUntil([d] { return obs_display_enabled(d); }, 2000), c.what);
			QCOMPARE(display->display(), d);
		}
	}

	void realNativeWindowDestruction()
	{
		Host host;
		QVERIFY(host.showAndWaitForDisplay());
		QTDisplay *display = host.display;
		QSignalSpy created(display, &QTDisplay::displayCreated);

		// The platform window really goes; Qt announces it to the window's event filters first.
		display->windowHandle()->destroy();
		QVERIFY(!display->display());
		host.window->hide();
		host.window->show();
		QVERIFY(QTest::qWaitForWindowExposed(host.window.get()));
		host.window->resize(300, 300);
		display->repaint();
		ObsTestEnv::pump(200);
		QVERIFY(!display->display());
		QCOMPARE(created.count(), 0);
	}
};

STILWANE_TEST_MAIN(TestQtDisplay)

#include "test_qt_display.moc"
