// SPDX-License-Identifier: GPL-2.0-or-later
#include <preview/QTDisplay.hpp>

#include <QGuiApplication>
#include <QLayout>
#include <QPlatformSurfaceEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <cmath>

#include <obs-nix-platform.h>

namespace stilwane {

namespace {

// Describes the native window to libobs the way its OpenGL back end expects on the running platform:
// the X11 window id with the X display, or on Wayland the wl_surface of this widget's own native
// window (a subsurface of the top-level), handed over in the display field. False when there is no
// such surface yet.
bool describeWindow(QWindow *window, gs_window &out)
{
	switch (obs_get_nix_platform()) {
	case OBS_NIX_PLATFORM_X11_EGL:
		out.id = static_cast<uint32_t>(window->winId());
		out.display = obs_get_nix_platform_display();
		return true;
	case OBS_NIX_PLATFORM_WAYLAND: {
		QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
		out.display = native ? native->nativeResourceForWindow("surface", window) : nullptr;
		return out.display != nullptr;
	}
	case OBS_NIX_PLATFORM_INVALID:
		break;
	}
	return false;
}

} // namespace

QTDisplay::QTDisplay(QWidget *parent, Qt::WindowFlags flags) : QWidget(parent, flags)
{
	// libobs draws into the native window itself: Qt must neither paint nor clear it.
	setAttribute(Qt::WA_PaintOnScreen);
	setAttribute(Qt::WA_StaticContents);
	setAttribute(Qt::WA_NoSystemBackground);
	setAttribute(Qt::WA_OpaquePaintEvent);
	setAttribute(Qt::WA_DontCreateNativeAncestors);
	setAttribute(Qt::WA_NativeWindow);

	if (QWindow *window = windowHandle()) {
		connect(window, &QWindow::visibleChanged, this, [this](bool visible) {
			updateEnabled();
			if (!visible)
				return;
			syncDisplaySize();
			scheduleUpdate();
		});
		connect(window, &QWindow::screenChanged, this, [this](QScreen *) {
			syncDisplaySize();
			scheduleUpdate();
		});
		window->installEventFilter(this);
	}
	watchTopLevel();
}

QTDisplay::~QTDisplay()
{
	destroyDisplay();
}

void QTDisplay::destroyDisplay()
{
	// Out of the member before libobs destroys it: nothing reaches a display being destroyed.
	OBSDisplay old(std::move(obsDisplay));
}

void QTDisplay::useBlackBackground()
{
	backgroundColor = 0xFF000000;
	if (obsDisplay)
		obs_display_set_background_color(obsDisplay, backgroundColor);
}

bool QTDisplay::shouldRender() const
{
	const QWidget *top = window();
	return isVisible() && !(top && top->isMinimized());
}

void QTDisplay::updateEnabled()
{
	if (obsDisplay)
		obs_display_set_enabled(obsDisplay, shouldRender());
}

void QTDisplay::watchTopLevel()
{
	QWidget *top = window();
	if (top == watchedTop || top == this)
		return;
	if (watchedTop)
		watchedTop->removeEventFilter(this);
	watchedTop = top;
	if (top)
		top->installEventFilter(this);
}

QSize QTDisplay::pixelSize() const
{
	// X11 and Wayland report the native window's size through Qt; no platform query is needed.
	QWindow *window = windowHandle();
	if (!window) {
		const qreal ratio = devicePixelRatioF();
		return QSize(int(std::lround(width() * ratio)), int(std::lround(height() * ratio)));
	}
	const qreal ratio = window->devicePixelRatio();
	return QSize(int(std::lround(window->width() * ratio)), int(std::lround(window->height() * ratio)));
}

void QTDisplay::createDisplay()
{
	if (obsDisplay || surfaceDestroyed)
		return;
	QWindow *window = windowHandle();
	if (!window || !window->isExposed())
		return;
	const QSize size = pixelSize();
	if (size.isEmpty())
		return;

	gs_init_data info = {};
	if (!describeWindow(window, info.window))
		return;
	info.cx = uint32_t(size.width());
	info.cy = uint32_t(size.height());
	info.num_backbuffers = 0;
	info.format = GS_BGRA;
	info.zsformat = GS_ZS_NONE;
	info.adapter = 0;

	obs_display_t *created = obs_display_create(&info, backgroundColor);
	destroyDisplay();
	obsDisplay = created;
	if (!obsDisplay)
		return;
	updateEnabled();
	emit displayCreated(this);
}

void QTDisplay::syncDisplaySize()
{
	if (surfaceDestroyed)
		return;
	createDisplay();
	if (!isVisible() || !obsDisplay)
		return;
	const QSize size = pixelSize();
	if (size.isEmpty())
		return;
	obs_display_resize(obsDisplay, uint32_t(size.width()), uint32_t(size.height()));
}

void QTDisplay::scheduleUpdate()
{
	if (surfaceDestroyed || updateQueued)
		return;
	updateQueued = true;
	QTimer::singleShot(0, this, &QTDisplay::runScheduledUpdate);
}

void QTDisplay::runScheduledUpdate()
{
	updateQueued = false;
	if (surfaceDestroyed)
		return;
	updateEnabled();
	if (!syncNativeSize())
		return;
	syncDisplaySize();
	emit displayResized();
}

bool QTDisplay::syncNativeSize()
{
	// After a move to a screen of another scale the top-level window learns the new ratio before
	// this child window does; sizes taken in between would be wrong, so wait for both to agree and
	// then let the layout hand out sizes again.
	QWindow *own = windowHandle();
	QWidget *top = window();
	QWindow *topWindow = top ? top->windowHandle() : nullptr;
	if (!own || !topWindow)
		return true;
	if (!qFuzzyCompare(topWindow->devicePixelRatio(), own->devicePixelRatio())) {
		dpiMismatchPending = true;
		return false;
	}
	if (dpiMismatchPending) {
		dpiMismatchPending = false;
		if (QWidget *parent = parentWidget(); parent && parent->layout()) {
			parent->layout()->invalidate();
			parent->layout()->activate();
		}
	}
	return true;
}

bool QTDisplay::event(QEvent *event)
{
	const bool result = QWidget::event(event);
	switch (event->type()) {
	case QEvent::Show:
		watchTopLevel();
		updateEnabled();
		scheduleUpdate();
		break;
	case QEvent::Hide:
		// Sent when the widget or any ancestor hides (a closed or tabbed-away dock, a hidden column).
		if (obsDisplay)
			obs_display_set_enabled(obsDisplay, false);
		break;
	case QEvent::ParentChange:
		watchTopLevel();
		updateEnabled();
		break;
	case QEvent::WindowStateChange:
		// Only when the display is a window of its own; otherwise its top-level's filter sees it.
		updateEnabled();
		break;
	case QEvent::ScreenChangeInternal:
	case QEvent::DevicePixelRatioChange:
		dpiMismatchPending = true;
		scheduleUpdate();
		break;
	default:
		break;
	}
	return result;
}

void QTDisplay::paintEvent(QPaintEvent *event)
{
	createDisplay();
	QWidget::paintEvent(event);
}

void QTDisplay::moveEvent(QMoveEvent *event)
{
	QWidget::moveEvent(event);
	// A move may cross to a monitor of another colour space.
	if (obsDisplay)
		obs_display_update_color_space(obsDisplay);
}

void QTDisplay::resizeEvent(QResizeEvent *event)
{
	QWidget::resizeEvent(event);
	syncDisplaySize();
	scheduleUpdate();
	emit displayResized();
}

bool QTDisplay::eventFilter(QObject *watched, QEvent *event)
{
	if (watched == watchedTop && event->type() == QEvent::WindowStateChange)
		updateEnabled();
	if (watched == windowHandle()) {
		switch (event->type()) {
		case QEvent::Resize:
		case QEvent::Expose:
		case QEvent::DevicePixelRatioChange:
			scheduleUpdate();
			break;
		case QEvent::PlatformSurface:
			if (static_cast<QPlatformSurfaceEvent *>(event)->surfaceEventType() ==
			    QPlatformSurfaceEvent::SurfaceAboutToBeDestroyed) {
				destroyDisplay();
				surfaceDestroyed = true;
			}
			break;
		default:
			break;
		}
	}
	return QWidget::eventFilter(watched, event);
}

} // namespace stilwane
