// SPDX-License-Identifier: GPL-2.0-or-later
// Where a projector window goes: windowed placement, the verified full-screen attempts, always on top.
#include <preview/ProjectorWindow.hpp>

#include <common/Module.hpp>
#include <preview/Projectors.hpp>
#include <preview/QTDisplay.hpp>

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace stilwane {

namespace {

constexpr int kFullscreenAttempts = 3;

bool isLiveScreen(QScreen *screen)
{
	return screen && QGuiApplication::screens().contains(screen);
}

} // namespace

QRect ProjectorWindow::fitRectToScreens(const QRect &rect) const
{
	QScreen *best = nullptr;
	qint64 bestArea = 0;
	for (QScreen *screen : QGuiApplication::screens()) {
		const QRect overlap = screen->availableGeometry().intersected(rect);
		const qint64 area = overlap.isEmpty() ? 0 : qint64(overlap.width()) * overlap.height();
		if (area > bestArea) {
			best = screen;
			bestArea = area;
		}
	}
	if (!best)
		best = QGuiApplication::primaryScreen();
	if (!best)
		return rect;

	QWindow *native = windowHandle();
	const QRect area = best->availableGeometry().marginsRemoved(native ? native->frameMargins() : QMargins());
	const int width = std::min(std::max(1, area.width()), std::max(1, rect.width()));
	const int height = std::min(std::max(1, area.height()), std::max(1, rect.height()));
	const int x = std::clamp(rect.x(), area.left(), std::max(area.left(), area.right() - width + 1));
	const int y = std::clamp(rect.y(), area.top(), std::max(area.top(), area.bottom() - height + 1));
	return QRect(x, y, width, height);
}

QRect ProjectorWindow::currentWindowedRect() const
{
	return isMaximized() || isMinimized() ? normalGeometry() : geometry();
}

void ProjectorWindow::captureWindowed()
{
	if (placementUnsupported()) {
		// Only the size is the window's own on Wayland; the place stays as remembered.
		windowedRect.setSize(currentWindowedRect().size());
		return;
	}
	windowedRect = currentWindowedRect();
	windowedGeometry = saveGeometry();
}

void ProjectorWindow::rememberWindowed(const QRect &rect, const QByteArray &geometry)
{
	windowedRect = rect;
	windowedGeometry = geometry;
}

void ProjectorWindow::placeWindowed(const QRect &rect, bool clamp, const QByteArray &geometry)
{
	const uint32_t serial = ++requestSerial;
	windowedRect = rect;
	windowedGeometry = geometry;
	clampToScreen = clamp;
	if (placementUnsupported()) {
		// The compositor places the window; its size is the one thing a client chooses.
		geometryPending = false;
		resize(rect.size().expandedTo(QSize(1, 1)));
		showNormal();
		updateDisplayEnabled();
		return;
	}
	geometryPending = true;
	const QRect target = clamp ? fitRectToScreens(rect) : rect;
	if (QScreen *screen = QGuiApplication::screenAt(target.center()))
		setScreen(screen);
	setGeometry(target);
	showNormal();
	// The saved geometry is applied once the window is mapped (here or from the Expose filter).
	QTimer::singleShot(0, this, [this, serial] { applyWindowedGeometry(serial); });
}

void ProjectorWindow::applyWindowedGeometry(uint32_t serial)
{
	QWindow *native = windowHandle();
	if (closing || fullscreenMode || serial != requestSerial || !geometryPending || !isVisible() || !native ||
	    !native->isExposed())
		return;
	geometryPending = false;
	if (windowedGeometry.isEmpty() || !restoreGeometry(windowedGeometry)) {
		const QRect target = clampToScreen ? fitRectToScreens(windowedRect) : windowedRect;
		setGeometry(target);
		resize(target.size());
	} else if (clampToScreen && !isMaximized()) {
		const QRect fitted = fitRectToScreens(geometry());
		if (fitted != geometry())
			setGeometry(fitted);
	}
	captureWindowed();
	updateDisplayEnabled();
}

bool ProjectorWindow::isOnScreen(QScreen *target) const
{
	QWindow *native = windowHandle();
	if (!target || screen() != target || !native || native->screen() != target)
		return false;
	// A Wayland client does not learn where it is; the output it was given is all there is to check.
	if (placementUnsupported())
		return true;
	return QGuiApplication::screenAt(frameGeometry().center()) == target;
}

void ProjectorWindow::enterFullscreen(QScreen *target)
{
	if (!isLiveScreen(target))
		return;
	if (ProjectorWindow *other = findFullscreenProjector(target, this)) {
		other->bringToFront();
		return;
	}
	if (!fullscreenMode && isVisible() && !geometryPending)
		captureWindowed();
	geometryPending = false;
	fullscreenMode = true;
	fullscreenScreen = nullptr;
	requestedScreen = target;
	const uint32_t serial = ++requestSerial;
	setBlankCursor(true);
	tryFullscreen(serial, 0);
}

void ProjectorWindow::tryFullscreen(uint32_t serial, int attempt)
{
	if (closing || !fullscreenMode || serial != requestSerial)
		return;
	QScreen *target = requestedScreen.data();
	if (!isLiveScreen(target) || attempt >= kFullscreenAttempts) {
		failFullscreen();
		return;
	}

	if (placementUnsupported()) {
		// One request for the chosen output, checked once: the compositor decides, and asking again
		// would not change its mind. Normal first, so that a move between outputs is a new request.
		showNormal();
		setScreen(target);
		showFullScreen();
		QTimer::singleShot(0, this, [this, serial] { verifyFullscreen(serial, kFullscreenAttempts - 1); });
		updateDisplayEnabled();
		return;
	}

	// A normal window, half the screen at most, in the middle of the target screen: window managers
	// take a window full screen on the monitor it is on.
	showNormal();
	setScreen(target);
	const QRect avail = target->availableGeometry();
	const QSize size(std::min(std::max(1, avail.width() / 2), std::max(1, windowedRect.width())),
			 std::min(std::max(1, avail.height() / 2), std::max(1, windowedRect.height())));
	QRect centred(QPoint(0, 0), size);
	centred.moveCenter(avail.center());
	setGeometry(centred);
	resize(size);
	QTimer::singleShot(0, this, [this, serial, attempt] { completeFullscreenAttempt(serial, attempt); });
	updateDisplayEnabled();
}

void ProjectorWindow::completeFullscreenAttempt(uint32_t serial, int attempt)
{
	if (closing || !fullscreenMode || serial != requestSerial)
		return;
	if (!isOnScreen(requestedScreen.data())) {
		tryFullscreen(serial, attempt + 1);
		return;
	}
	// The geometry first: without a window manager the full-screen state alone moves nothing.
	setGeometry(requestedScreen->geometry());
	showFullScreen();
	QTimer::singleShot(0, this, [this, serial, attempt] { verifyFullscreen(serial, attempt); });
}

void ProjectorWindow::verifyFullscreen(uint32_t serial, int attempt)
{
	if (closing || !fullscreenMode || serial != requestSerial)
		return;
	if (!isFullScreen() || !isOnScreen(requestedScreen.data())) {
		tryFullscreen(serial, attempt + 1);
		return;
	}
	fullscreenScreen = screen();
	requestedScreen = nullptr;
	updateDisplayEnabled();
}

void ProjectorWindow::failFullscreen()
{
	stilwaneLog(LOG_WARNING, "projector could not enter fullscreen on the requested screen");
	leaveFullscreen(true);
}

void ProjectorWindow::leaveFullscreen(bool clamp)
{
	if (!fullscreenMode)
		return;
	fullscreenMode = false;
	fullscreenScreen = nullptr;
	requestedScreen = nullptr;
	setBlankCursor(false);
	if (!placementUnsupported()) {
		// Through the full-screen state, so that a window manager that still holds an unfinished
		// request sees it end.
		showFullScreen();
	}
	showNormal();
	placeWindowed(windowedRect, clamp, windowedGeometry);
}

void ProjectorWindow::onWindowScreenChanged()
{
	if (fullscreenMode && !closing && !requestInProgress() && isFullScreen())
		fullscreenScreen = screen();
}

void ProjectorWindow::onScreenRemoved(QScreen *removed)
{
	if (!fullscreenMode || !removed)
		return;
	if (removed == fullscreenScreen.data() || (requestInProgress() && removed == requestedScreen.data()))
		leaveFullscreen(true);
}

void ProjectorWindow::setAlwaysOnTop(bool on)
{
	if (on == alwaysOnTop)
		return;
	const bool wasVisible = isVisible();
	QRect rect = geometryPending ? windowedRect : geometry();
	QByteArray bytes = fullscreenMode || geometryPending ? windowedGeometry : saveGeometry();
	if (placementUnsupported()) {
		// Wayland reports no place: keep the remembered one (and its saved bytes) for X11.
		if (!fullscreenMode)
			captureWindowed();
		rect = windowedRect;
		bytes = windowedGeometry;
	}

	// QWidget::setWindowFlag would recreate the native window behind the display's back (Qt keeps the
	// old one until the next show, and X destroys the display's own window with it). The hint goes
	// to the window as it is; the display is renewed all the same, so that a platform that does
	// recreate the surface for it never leaves libobs drawing into a window that is gone.
	detachDisplay();
	delete display;
	display = nullptr;
	alwaysOnTop = on;
	const Qt::WindowFlags flags = windowFlags().setFlag(Qt::WindowStaysOnTopHint, on);
	overrideWindowFlags(flags);
	if (QWindow *native = windowHandle())
		native->setFlags(flags);
	createProjectorDisplay();
	trackWindowHandle();
	refreshCanvas();

	if (!wasVisible)
		return;
	if (fullscreenMode) {
		QScreen *target = requestedScreen ? requestedScreen.data() : fullscreenScreen.data();
		if (target)
			enterFullscreen(target);
		else
			leaveFullscreen(true);
	} else {
		placeWindowed(rect, false, bytes);
	}
	bringToFront();
}

void ProjectorWindow::fitWindow()
{
	const int h = height();
	resize(std::max(1, int(std::lround(h * 9.0 / 16.0))), h);
}

} // namespace stilwane
