#include <docks/OutputDock.hpp>

// Temporary stand-ins until the dock is built.
OutputDock::OutputDock(QWidget *parent) : QWidget(parent) {}
QWidget *OutputDock::takeButtonRow(QWidget *)
{
	return nullptr;
}
void OutputDock::startStreamWithUi() {}
void OutputDock::stopStreamIfRunning() {}
void OutputDock::startRecordingWithUi() {}
void OutputDock::stopRecordingIfRunning() {}
void OutputDock::startReplayWithUi() {}
void OutputDock::stopReplayIfRunning() {}
void OutputDock::saveReplayWithUi() {}
void OutputDock::showNoKeyNotice(bool) {}
void OutputDock::showErrorBox(const QString &) {}
void OutputDock::showStatusMessage(const QString &, const QString &, bool, bool) {}
void OutputDock::refreshStatus() {}
void OutputDock::settingsOrCanvasChanged() {}
QString OutputDock::formatClock(int64_t)
{
	return {};
}
void OutputDock::toggle() {}
void OutputDock::onStateChanged(int) {}
void OutputDock::onStopped(int, QString) {}
void OutputDock::tick() {}
void OutputDock::onRecordingStateChanged(int) {}
void OutputDock::onReplayStateChanged(int) {}
void OutputDock::recordingTick() {}
void OutputDock::resizeEvent(QResizeEvent *) {}
void OutputDock::changeEvent(QEvent *) {}
