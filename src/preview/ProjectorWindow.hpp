// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <common/ConfigRecord.hpp>

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <mutex>

#include <obs.hpp>

class QMenu;
class QScreen;
class QWindow;

namespace stilwane {

class QTDisplay;

// A top-level window that shows the vertical canvas, as a normal window or full screen on one monitor.
//
// Window systems do not always honour a full-screen request the first time, so full screen is entered
// in up to three attempts, each checked after the window system had a turn; every placement, request
// and the close bump requestSerial, and a deferred step that carries an older serial gives up silently.
// A windowed placement waits until the native window is exposed, because X11 window managers apply
// saved geometry only to a mapped window. On Wayland a client places nothing: windowed placement is
// left to the compositor (the remembered geometry is kept for the next X11 session, not applied), and
// full screen asks for the chosen output once and checks the answer once.
//
// Everything runs on the user-interface thread except the draw callback, which libobs calls on its
// graphics thread and which reads only renderEnabled and, under canvasLock, the weak canvas.
class ProjectorWindow : public QWidget {
	Q_OBJECT

public:
	ProjectorWindow(bool alwaysOnTop, QScreen *screen);
	~ProjectorWindow() override;

	// Every live projector window, oldest first (a window enters it when built and leaves when destroyed).
	static const QList<ProjectorWindow *> &registry();

	void bringToFront();
	void enterFullscreen(QScreen *screen);
	void leaveFullscreen(bool clamp);
	void placeWindowed(const QRect &rect, bool clamp, const QByteArray &geometry);
	// What windowed mode comes back to, without placing the window now (a restored full-screen window).
	void rememberWindowed(const QRect &rect, const QByteArray &geometry);
	void setAlwaysOnTop(bool on);
	// A 9:16 window of the current height.
	void fitWindow();
	// The context menu for the window's current state, not shown; the window owns it.
	QMenu *buildProjectorMenu();
	void showProjectorMenu(const QPoint &globalPos);
	// What is remembered of this window at shutdown.
	ProjectorRecord record() const;
	// rect moved and shrunk into the available area (less this window's frame) of the screen it
	// overlaps most; never smaller than 1 x 1. Unchanged when the application has no screen.
	QRect fitRectToScreens(const QRect &rect) const;
	// The screen the window is full screen on or is asked to be: the requested screen while a request
	// runs, else the window's screen if it is full screen, else none.
	QScreen *fullscreenTarget() const;

	bool isClosing() const { return closing; }
	bool inFullscreenMode() const { return fullscreenMode; }
	bool requestInProgress() const { return fullscreenMode && !requestedScreen.isNull(); }
	bool fullscreenConfirmed() const { return fullscreenMode && !fullscreenScreen.isNull(); }
	bool isAlwaysOnTop() const { return alwaysOnTop; }
	bool isPlacementPending() const { return geometryPending; }
	QRect windowedRectangle() const { return windowedRect; }
	QByteArray windowedGeometryBytes() const { return windowedGeometry; }
	QTDisplay *displayWidget() const { return display; }
	// Whether the draw callback draws now.
	bool rendering() const { return renderEnabled.load(); }

	// Wayland clients cannot place their windows; the projector then leaves placement alone.
	static bool placementUnsupported();

protected:
	bool event(QEvent *event) override;
	bool eventFilter(QObject *watched, QEvent *event) override;
	void closeEvent(QCloseEvent *event) override;

private:
	// libobs graphics thread.
	static void renderProjector(void *data, uint32_t cx, uint32_t cy);

	void createProjectorDisplay();
	void trackWindowHandle();
	void refreshCanvas();
	void updateDisplayEnabled();
	void detachDisplay();
	bool isOnScreen(QScreen *screen) const;
	// windowedRect and windowedGeometry from the window as it is now (its normal geometry when
	// maximized or minimized).
	void captureWindowed();
	QRect currentWindowedRect() const;
	void applyWindowedGeometry(uint32_t serial);
	void tryFullscreen(uint32_t serial, int attempt);
	void completeFullscreenAttempt(uint32_t serial, int attempt);
	void verifyFullscreen(uint32_t serial, int attempt);
	void failFullscreen();
	void onWindowScreenChanged();
	void onScreenRemoved(QScreen *screen);
	void setBlankCursor(bool blank);

	QTDisplay *display = nullptr;
	QPointer<QWindow> trackedWindow;
	QMetaObject::Connection trackedScreenConnection;
	QPointer<QScreen> fullscreenScreen;
	QPointer<QScreen> requestedScreen;
	uint32_t requestSerial = 0;
	QRect windowedRect;
	QByteArray windowedGeometry;
	bool geometryPending = false;
	bool clampToScreen = false;
	bool fullscreenMode = false;
	bool alwaysOnTop = false;
	bool closing = false;
	// Guards weakCanvas only; the draw callback holds it just long enough to take a strong reference.
	std::mutex canvasLock;
	OBSWeakCanvas weakCanvas;
	std::atomic<bool> renderEnabled{false};
};

} // namespace stilwane
