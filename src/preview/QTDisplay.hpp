// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QPointer>
#include <QWidget>

#include <cstdint>

#include <obs.hpp>

namespace stilwane {

// A native child window that libobs draws into through an obs_display_t. The display is created
// once the window is exposed with a non-empty size, follows the window's pixel size, and is dropped
// for good when the native surface goes away (libobs must never draw into a destroyed window).
// libobs renders every enabled display each frame whether anyone sees it or not, so the display is
// enabled only while the widget is visible and its window is not minimized.
class QTDisplay : public QWidget {
	Q_OBJECT

public:
	explicit QTDisplay(QWidget *parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
	~QTDisplay() override;

	obs_display_t *display() const { return obsDisplay; }
	uint32_t background() const { return backgroundColor; }
	void useBlackBackground();

	// The window's size in device pixels.
	QSize pixelSize() const;
	// Whether libobs should draw the display now: the widget is shown and its window not minimized.
	bool shouldRender() const;
	void createDisplay();
	void syncDisplaySize();
	// Coalesces every request of one event-loop pass into one deferred update.
	void scheduleUpdate();

	QPaintEngine *paintEngine() const override { return nullptr; }

signals:
	void displayCreated(QTDisplay *display);
	void displayResized();

protected:
	bool event(QEvent *event) override;
	bool eventFilter(QObject *watched, QEvent *event) override;
	void paintEvent(QPaintEvent *event) override;
	void moveEvent(QMoveEvent *event) override;
	void resizeEvent(QResizeEvent *event) override;

private:
	void runScheduledUpdate();
	// Returns false while the window's device pixel ratio still lags behind its top-level window's.
	bool syncNativeSize();
	void destroyDisplay();
	// Enables or disables the libobs display as shouldRender says.
	void updateEnabled();
	// Follows the widget's current top-level window, whose minimized state turns rendering off.
	void watchTopLevel();

	OBSDisplay obsDisplay; // the libobs display, once the native window is exposed
	bool surfaceDestroyed = false;
	bool updateQueued = false;
	bool dpiMismatchPending = false;
	uint32_t backgroundColor = 0xFF2B2B2B;
	QPointer<QWidget> watchedTop;
};

} // namespace stilwane
