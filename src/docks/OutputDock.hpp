// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>

class QLabel;

namespace stilwane {

class DestinationRows;
class IconButton;

// The user's control of the vertical outputs: the stream, record, replay and save-replay buttons (a
// row the main dock places in its tool row) and the one-line status label under the preview, with
// clocks, statistics, transient messages and error boxes. Its start/stop/save operations carry the
// user feedback that the hotkeys and the main-output follow rules use too.
class OutputDock : public QWidget {
	Q_OBJECT

public:
	explicit OutputDock(QWidget *parent = nullptr);

	// Re-parents the button row to parent, shows it and returns it.
	QWidget *takeButtonRow(QWidget *parent);

	void startStreamWithUi();
	void stopStreamIfRunning();
	void startRecordingWithUi();
	void stopRecordingIfRunning();
	void startReplayWithUi();
	void stopReplayIfRunning();
	void saveReplayWithUi();

	// forced: the user asked (button, hotkey), so the notice shows as an error.
	void showNoKeyNotice(bool forced);
	// The text as an error message in the status line, then a warning box.
	void showErrorBox(const QString &text);
	void showStatusMessage(const QString &text, const QString &tooltip, bool isError, bool isNoKey,
			       bool untilNextStart = false);
	void refreshStatus();
	// The configuration or the canvas changed: a no-key notice goes once a key exists.
	void settingsOrCanvasChanged();

	static QString formatClock(int64_t seconds);
	// The locale key of a stream state's name.
	static const char *streamStatusKey(int state);

	// For tests and diagnostics.
	QLabel *statusLabel() const { return status; }
	IconButton *streamButton() const { return streamBtn; }
	IconButton *recordButton() const { return recordBtn; }
	IconButton *replayButton() const { return replayBtn; }
	IconButton *saveReplayButton() const { return saveReplayBtn; }
	DestinationRows *destinationRows() const { return rows; }
	QString statsText() const { return stats; }
	QString messageText() const { return message; }
	bool messageIsError() const { return messageError; }
	bool messageIsNoKey() const { return messageNoKey; }
	QTimer *recordingTimer() { return &recordingTimerObj; }
	QTimer *messageTimer() { return &messageTimerObj; }
	QTimer *statsTimer() { return &statsTimerObj; }

	// What the dock reads from the outputs besides their states: the clock and counters behind the
	// status line. Tests stand in for a running output through setFiguresSourceForTests; nullptr
	// restores the real figures.
	struct OutputFigures {
		bool streamActive = false;
		int64_t recordingElapsedMs = 0;
		uint64_t totalBytes = 0;
		uint64_t framesDropped = 0;
		uint64_t totalFrames = 0;
	};
	static void setFiguresSourceForTests(std::function<OutputFigures()> source);

public slots:
	void toggle();
	void onStateChanged(int state);
	void onStopped(int code, QString error);
	void onDestinationStopped(QString name, int code, QString error);
	void tick();
	void onRecordingStateChanged(int state);
	void onReplayStateChanged(int state);
	void recordingTick();

protected:
	void resizeEvent(QResizeEvent *event) override;
	void changeEvent(QEvent *event) override;

private:
	// Redraws a button's icon when its palette or style changes.
	void onFileSaved(bool replay, const QString &path);
	void onFileStopped(bool replay, int code, const QString &error);
	void clearMessage();
	QString summaryText(bool *anyActive = nullptr) const;
	static OutputFigures figures();
	void updateStreamIcon();
	void updateRecordIcon();
	void updateReplayIcon();

	QWidget *buttonRow = nullptr;
	IconButton *streamBtn = nullptr;
	IconButton *recordBtn = nullptr;
	IconButton *replayBtn = nullptr;
	IconButton *saveReplayBtn = nullptr;
	QLabel *status = nullptr;
	DestinationRows *rows = nullptr;
	QTimer statsTimerObj;
	QElapsedTimer streamClock;
	QTimer recordingTimerObj;
	QTimer messageTimerObj;
	QString stats;
	QString message;
	QString messageTooltip;
	QString lastRecordingSaved;
	QString lastReplaySaved;
	bool messageError = false;
	bool messageNoKey = false;
	// The message stays, without its timer, until the next stream start.
	bool messageSticky = false;
	int replaySecondsShown = 60;
	int64_t lastTotalBytes = 0;
	int64_t lastStatsTime = 0;
	// The states as last reported by the output; the buttons and the status line show these.
	int streamShown = 0;
	int recordingShown = 0;
	int replayShown = 0;
};

} // namespace stilwane
