// SPDX-License-Identifier: GPL-2.0-or-later
#include <preview/Projectors.hpp>

#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>
#include <preview/ProjectorWindow.hpp>
#include <widgets/ScreenLabel.hpp>

#include <QByteArray>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QScreen>

#include <algorithm>

namespace stilwane {

namespace {

bool closedForGood = false;

QRect defaultRectOn(QScreen *screen)
{
	QRect rect(0, 0, 405, 720);
	if (screen)
		rect.moveCenter(screen->availableGeometry().center());
	return rect;
}

QScreen *screenOf(const ProjectorRecord &record)
{
	const QRect geometry(record.screenX, record.screenY, record.screenWidth, record.screenHeight);
	const QString name = QString::fromStdString(record.screenName);
	for (QScreen *screen : QGuiApplication::screens()) {
		if (screen->name() == name && screen->geometry() == geometry)
			return screen;
	}
	return nullptr;
}

} // namespace

bool projectorsClosed()
{
	return closedForGood;
}

void allowProjectors()
{
	closedForGood = false;
}

ProjectorWindow *openWindowProjector()
{
	if (closedForGood)
		return nullptr;
	auto *window = new ProjectorWindow(false, nullptr);
	window->placeWindowed(defaultRectOn(QGuiApplication::primaryScreen()), true, QByteArray());
	window->bringToFront();
	return window;
}

ProjectorWindow *openFullscreenProjector(QScreen *screen)
{
	if (closedForGood || !screen || !QGuiApplication::screens().contains(screen))
		return nullptr;
	if (ProjectorWindow *existing = findFullscreenProjector(screen, nullptr)) {
		existing->bringToFront();
		return existing;
	}
	// Built on the screen, the window's windowed place is 405 x 720 in its middle.
	auto *window = new ProjectorWindow(false, screen);
	window->enterFullscreen(screen);
	window->bringToFront();
	return window;
}

ProjectorWindow *findFullscreenProjector(QScreen *screen, const ProjectorWindow *except)
{
	if (!screen)
		return nullptr;
	for (ProjectorWindow *window : ProjectorWindow::registry()) {
		if (window != except && !window->isClosing() && window->inFullscreenMode() &&
		    window->fullscreenTarget() == screen)
			return window;
	}
	return nullptr;
}

void addFullscreenProjectorEntries(QMenu *menu)
{
	const QList<QScreen *> screens = QGuiApplication::screens();
	for (qsizetype i = 0; i < screens.size(); i++) {
		QAction *entry = menu->addAction(screenLabel(screens[i], int(i)));
		// The menu may stay open while the monitor goes away.
		QObject::connect(entry, &QAction::triggered, entry, [screen = QPointer<QScreen>(screens[i])] {
			if (screen)
				openFullscreenProjector(screen.data());
		});
	}
	menu->setEnabled(!screens.isEmpty());
}

void rememberProjectors()
{
	std::vector<ProjectorRecord> &list = config().projectors;
	list.clear();
	for (ProjectorWindow *window : ProjectorWindow::registry()) {
		if (!window->isClosing())
			list.push_back(window->record());
	}
	stilwaneLog(LOG_INFO, "projectors remembered: %zu", list.size());
}

void restoreProjectors()
{
	if (closedForGood)
		return;
	const std::vector<ProjectorRecord> records = config().projectors;
	if (!config().restoreProjectors) {
		if (!records.empty())
			stilwaneLog(LOG_INFO, "projectors not restored (restore_projectors is off): %zu remembered",
				    records.size());
		return;
	}
	int opened = 0;
	for (const ProjectorRecord &record : records) {
		QScreen *screen = record.mode == "fullscreen" ? screenOf(record) : nullptr;
		if (screen && findFullscreenProjector(screen, nullptr))
			continue;
		const QRect rect(record.x, record.y, std::max(1, record.width), std::max(1, record.height));
		const auto decoded = QByteArray::fromBase64Encoding(QByteArray::fromStdString(record.geometry),
								    QByteArray::AbortOnBase64DecodingErrors);
		const QByteArray geometry = decoded ? *decoded : QByteArray();
		auto *window = new ProjectorWindow(record.alwaysOnTop,
						   screen ? screen : QGuiApplication::screenAt(rect.center()));
		window->rememberWindowed(rect, geometry);
		if (screen)
			window->enterFullscreen(screen);
		else
			window->placeWindowed(rect, true, geometry);
		opened++;
	}
	if (!records.empty())
		stilwaneLog(LOG_INFO, "projectors restored: %d of %zu", opened, records.size());
}

void closeAllProjectors()
{
	closedForGood = true;
	while (!ProjectorWindow::registry().isEmpty())
		delete ProjectorWindow::registry().last();
}

} // namespace stilwane
