#pragma once

#include <QWidget>

#include <cstdint>

#include <obs.h>

// A native child window that libobs draws into through an obs_display_t. The display is created
// once the window is exposed with a non-empty size, follows the window's pixel size, and is dropped
// for good when the native surface goes away (libobs must never draw into a destroyed window).
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

	obs_display_t *obsDisplay = nullptr;
	bool surfaceDestroyed = false;
	bool updateQueued = false;
	bool dpiMismatchPending = false;
	uint32_t backgroundColor = 0xFF2B2B2B;
};
