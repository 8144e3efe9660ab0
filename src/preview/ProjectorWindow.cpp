// SPDX-License-Identifier: GPL-2.0-or-later
#include <preview/ProjectorWindow.hpp>

#include <canvas/CanvasManager.hpp>
#include <common/Module.hpp>
#include <preview/QTDisplay.hpp>
#include <widgets/ScreenLabel.hpp>

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <utility>

namespace stilwane {

namespace {

constexpr int kDefaultWidth = 405;
constexpr int kDefaultHeight = 720;

QList<ProjectorWindow *> &projectorList()
{
	static QList<ProjectorWindow *> list;
	return list;
}

bool isEscape(QEvent *event)
{
	return event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape;
}

} // namespace

const QList<ProjectorWindow *> &ProjectorWindow::registry()
{
	return projectorList();
}

bool ProjectorWindow::placementUnsupported()
{
	return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

ProjectorWindow::ProjectorWindow(bool onTop, QScreen *screen) : QWidget(nullptr), alwaysOnTop(onTop)
{
	setWindowTitle(translate("Projector.Title"));
	setAttribute(Qt::WA_DeleteOnClose);
	// A projector left open must not keep OBS running once its main window is gone.
	setAttribute(Qt::WA_QuitOnClose, false);
	setWindowFlag(Qt::WindowStaysOnTopHint, alwaysOnTop);
	resize(kDefaultWidth, kDefaultHeight);
	if (screen) {
		setScreen(screen);
		QRect centred = geometry();
		centred.moveCenter(screen->availableGeometry().center());
		setGeometry(centred);
	}
	windowedRect = geometry();

	auto *layout = new QVBoxLayout(this);
	layout->setContentsMargins(0, 0, 0, 0);
	layout->setSpacing(0);
	createProjectorDisplay();
	trackWindowHandle();
	projectorList().append(this);

	connect(CanvasManager::instance(), &CanvasManager::canvasChanged, this, &ProjectorWindow::refreshCanvas);
	refreshCanvas();
	connect(qGuiApp, &QGuiApplication::screenRemoved, this, &ProjectorWindow::onScreenRemoved);
}

ProjectorWindow::~ProjectorWindow()
{
	closing = true;
	detachDisplay();
	projectorList().removeOne(this);
}

void ProjectorWindow::createProjectorDisplay()
{
	display = new QTDisplay(this);
	display->useBlackBackground();
	display->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
	display->setFocusPolicy(Qt::StrongFocus);
	display->installEventFilter(this);
	if (QWindow *native = display->windowHandle())
		native->installEventFilter(this);
	layout()->addWidget(display);

	connect(display, &QTDisplay::displayCreated, this, [this](QTDisplay *created) {
		if (closing || created != display || !created->display())
			return;
		obs_display_add_draw_callback(created->display(), renderProjector, this);
		updateDisplayEnabled();
	});
	connect(display, &QTDisplay::displayResized, this, &ProjectorWindow::updateDisplayEnabled);
}

void ProjectorWindow::trackWindowHandle()
{
	winId();
	QWindow *handle = windowHandle();
	if (trackedWindow)
		trackedWindow->removeEventFilter(this);
	disconnect(trackedScreenConnection);
	trackedWindow = handle;
	if (!handle)
		return;
	handle->installEventFilter(this);
	// Queued: Qt announces the new screen before it has moved the window's geometry over.
	trackedScreenConnection = connect(handle, &QWindow::screenChanged, this,
					  &ProjectorWindow::onWindowScreenChanged, Qt::QueuedConnection);
}

void ProjectorWindow::refreshCanvas()
{
	CanvasManager *manager = CanvasManager::instance();
	OBSWeakCanvas weak = !closing && manager->hasCanvas() ? OBSGetWeakRef(manager->canvas()) : OBSWeakCanvas();
	{
		std::lock_guard<std::mutex> lock(canvasLock);
		std::swap(weak, weakCanvas);
	}
	// The old reference goes here, outside the lock.
}

void ProjectorWindow::updateDisplayEnabled()
{
	QWindow *native = windowHandle();
	const bool enabled = !closing && isVisible() && !isMinimized() && display && display->isVisible() && native &&
			     native->isExposed();
	renderEnabled.store(enabled);
	if (display && display->display())
		obs_display_set_enabled(display->display(), enabled);
}

void ProjectorWindow::detachDisplay()
{
	renderEnabled.store(false);
	if (display && display->display()) {
		obs_display_set_enabled(display->display(), false);
		// Returns once a draw in progress has finished: nothing reaches this window afterwards.
		obs_display_remove_draw_callback(display->display(), renderProjector, this);
	}
	OBSWeakCanvas old;
	{
		std::lock_guard<std::mutex> lock(canvasLock);
		std::swap(old, weakCanvas);
	}
}

void ProjectorWindow::renderProjector(void *data, uint32_t cx, uint32_t cy)
{
	auto *window = static_cast<ProjectorWindow *>(data);
	if (!window->renderEnabled.load())
		return;
	obs_canvas_t *canvas = nullptr;
	{
		std::lock_guard<std::mutex> lock(window->canvasLock);
		canvas = window->weakCanvas ? obs_weak_canvas_get_canvas(window->weakCanvas) : nullptr;
	}
	// A canvas that went away leaves the weak reference empty: the window stays black.
	if (!canvas)
		return;

	obs_video_info ovi = {};
	if (cx && cy && obs_canvas_get_video_info(canvas, &ovi) && ovi.base_width && ovi.base_height) {
		const float canvasWidth = float(ovi.base_width);
		const float canvasHeight = float(ovi.base_height);
		gs_viewport_push();
		gs_projection_push();
		gs_ortho(0.0f, canvasWidth, 0.0f, canvasHeight, -100.0f, 100.0f);
		const float scale = std::min(float(cy) / canvasHeight, float(cx) / canvasWidth);
		const int w = std::max(1, int(scale * canvasWidth));
		const int h = std::max(1, int(scale * canvasHeight));
		gs_set_viewport((int(cx) - w) / 2, (int(cy) - h) / 2, w, h);
		obs_render_canvas_texture(canvas);
		gs_load_vertexbuffer(nullptr);
		gs_projection_pop();
		gs_viewport_pop();
	}
	obs_canvas_release(canvas);
}

void ProjectorWindow::bringToFront()
{
	if (isMinimized()) {
		if (fullscreenMode && !requestInProgress())
			showFullScreen();
		else
			showNormal();
	}
	raise();
	activateWindow();
	if (display)
		display->setFocus(Qt::OtherFocusReason);
}

QScreen *ProjectorWindow::fullscreenTarget() const
{
	if (requestedScreen)
		return requestedScreen.data();
	return isFullScreen() ? screen() : nullptr;
}

void ProjectorWindow::setBlankCursor(bool blank)
{
	for (QWidget *widget : {static_cast<QWidget *>(this), static_cast<QWidget *>(display)}) {
		if (!widget)
			continue;
		if (blank)
			widget->setCursor(Qt::BlankCursor);
		else
			widget->unsetCursor();
	}
}

bool ProjectorWindow::event(QEvent *event)
{
	if (isEscape(event)) {
		if (fullscreenMode)
			leaveFullscreen(false);
		return true;
	}
	const bool result = QWidget::event(event);
	switch (event->type()) {
	case QEvent::Show:
	case QEvent::Hide:
	case QEvent::WindowStateChange:
		updateDisplayEnabled();
		// Visibility and window state settle only after the window system has answered.
		QTimer::singleShot(0, this, &ProjectorWindow::updateDisplayEnabled);
		break;
	default:
		break;
	}
	return result;
}

bool ProjectorWindow::eventFilter(QObject *watched, QEvent *event)
{
	const QEvent::Type type = event->type();
	if (watched == trackedWindow && type == QEvent::Expose && geometryPending) {
		const uint32_t serial = requestSerial;
		QTimer::singleShot(0, this, [this, serial] { applyWindowedGeometry(serial); });
	}

	if (display && watched == display) {
		if (type == QEvent::ContextMenu) {
			const QPoint position = static_cast<QContextMenuEvent *>(event)->globalPos();
			// Not from inside the event: the menu may change the window (always on top recreates it).
			QTimer::singleShot(0, this, [this, position] {
				if (!closing)
					showProjectorMenu(position);
			});
			return true;
		}
		if (type == QEvent::MouseButtonDblClick &&
		    static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
			if (fullscreenMode)
				leaveFullscreen(false);
			else
				enterFullscreen(screen());
			return true;
		}
		if (isEscape(event)) {
			if (fullscreenMode)
				leaveFullscreen(false);
			return true;
		}
	}

	const bool watchedWindow = watched == trackedWindow || (display && watched == display) ||
				   (display && watched == display->windowHandle());
	if (watchedWindow && (type == QEvent::Show || type == QEvent::Hide || type == QEvent::WindowStateChange ||
			      type == QEvent::Expose))
		QTimer::singleShot(0, this, &ProjectorWindow::updateDisplayEnabled);
	return QWidget::eventFilter(watched, event);
}

void ProjectorWindow::closeEvent(QCloseEvent *event)
{
	requestSerial++;
	closing = true;
	detachDisplay();
	event->accept();
}

QMenu *ProjectorWindow::buildProjectorMenu()
{
	auto *menu = new QMenu(this);
	QMenu *fullscreen = menu->addMenu(translate("Projector.Fullscreen"));
	QScreen *target = requestedScreen ? requestedScreen.data() : fullscreenScreen.data();
	const QList<QScreen *> screens = QGuiApplication::screens();
	for (qsizetype i = 0; i < screens.size(); i++) {
		QAction *action = fullscreen->addAction(screenLabel(screens[i], int(i)));
		action->setCheckable(true);
		action->setChecked(fullscreenMode && target == screens[i]);
		connect(action, &QAction::triggered, this, [this, screen = QPointer<QScreen>(screens[i])] {
			if (screen && QGuiApplication::screens().contains(screen.data()))
				enterFullscreen(screen.data());
		});
	}
	if (fullscreenMode)
		connect(menu->addAction(translate("Projector.Windowed")), &QAction::triggered, this,
			[this] { leaveFullscreen(false); });
	QAction *onTop = menu->addAction(translate("Projector.AlwaysOnTop"));
	onTop->setCheckable(true);
	onTop->setChecked(alwaysOnTop);
	connect(onTop, &QAction::toggled, this, &ProjectorWindow::setAlwaysOnTop);
	if (!fullscreenMode)
		connect(menu->addAction(translate("Projector.FitWindow")), &QAction::triggered, this,
			&ProjectorWindow::fitWindow);
	menu->addSeparator();
	connect(menu->addAction(translate("Projector.Close")), &QAction::triggered, this, &QWidget::close);
	return menu;
}

void ProjectorWindow::showProjectorMenu(const QPoint &globalPos)
{
	QMenu *menu = buildProjectorMenu();
	connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
	menu->popup(globalPos);
}

ProjectorRecord ProjectorWindow::record() const
{
	ProjectorRecord r;
	QScreen *on = fullscreenMode && !requestInProgress() && isFullScreen() ? screen() : nullptr;
	r.mode = on ? "fullscreen" : "window";

	const bool remembered = fullscreenMode || geometryPending;
	QRect rect = remembered ? windowedRect : currentWindowedRect();
	QByteArray bytes = remembered ? windowedGeometry : saveGeometry();
	if (!remembered && placementUnsupported()) {
		// A Wayland window knows its size but not its place: the remembered place stays for X11.
		rect = QRect(windowedRect.topLeft(), rect.size());
		bytes = windowedGeometry;
	}
	r.x = rect.x();
	r.y = rect.y();
	r.width = rect.width();
	r.height = rect.height();
	r.geometry = bytes.toBase64().toStdString();
	r.alwaysOnTop = alwaysOnTop;
	if (on) {
		const QRect g = on->geometry();
		r.screenName = on->name().toStdString();
		r.screenX = g.x();
		r.screenY = g.y();
		r.screenWidth = g.width();
		r.screenHeight = g.height();
	}
	return r;
}

} // namespace stilwane
