// SPDX-License-Identifier: GPL-2.0-or-later
// The output dock's status line: what runs and for how long, the stream's statistics, and the
// transient messages on top.
#include <docks/OutputDock.hpp>

#include <widgets/IconButton.hpp>

#include <canvas/CanvasManager.hpp>
#include <output/VerticalOutput.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>

#include <QEvent>
#include <QFontInfo>
#include <QLabel>

#include <algorithm>

namespace stilwane {

namespace {

std::function<OutputDock::OutputFigures()> figuresOverride;

QString fileStatusText(int state)
{
	return translate(state == VerticalOutput::FileStarting ? "Output.File.Starting" : "Output.Status.Stopping");
}

} // namespace

const char *OutputDock::streamStatusKey(int state)
{
	switch (state) {
	case VerticalOutput::StreamConnecting:
		return "Output.Status.Connecting";
	case VerticalOutput::StreamLive:
		return "Output.Status.Live";
	case VerticalOutput::StreamReconnecting:
		return "Output.Status.Reconnecting";
	case VerticalOutput::StreamStopping:
		return "Output.Status.Stopping";
	default:
		return "Output.Status.Idle";
	}
}

void OutputDock::setFiguresSourceForTests(std::function<OutputFigures()> source)
{
	figuresOverride = std::move(source);
}

OutputDock::OutputFigures OutputDock::figures()
{
	if (figuresOverride)
		return figuresOverride();
	VerticalOutput *output = VerticalOutput::instance();
	OutputFigures result;
	result.streamActive = output->isStreamActive();
	result.recordingElapsedMs = output->recordingElapsedMs();
	result.totalBytes = output->totalBytes();
	result.framesDropped = output->framesDropped();
	result.totalFrames = output->totalFrames();
	return result;
}

QString OutputDock::formatClock(int64_t seconds)
{
	seconds = std::max<int64_t>(seconds, 0);
	const int64_t hours = seconds / 3600;
	return QStringLiteral("%1:%2:%3")
		.arg(hours, 2, 10, QChar('0'))
		.arg(seconds / 60 - 60 * hours, 2, 10, QChar('0'))
		.arg(seconds % 60, 2, 10, QChar('0'));
}

void OutputDock::tick()
{
	const OutputFigures now = figures();
	if (!now.streamActive || !streamClock.isValid())
		return;
	const int64_t elapsed = streamClock.elapsed();
	const int64_t bytes = int64_t(now.totalBytes);
	// Bits per millisecond are kbit/s. The first sample after going live has nothing to compare with.
	int64_t kbps = 0;
	if (lastStatsTime > 0 && lastStatsTime < elapsed && bytes >= lastTotalBytes)
		kbps = (bytes - lastTotalBytes) * 8 / (elapsed - lastStatsTime);
	lastTotalBytes = bytes;
	lastStatsTime = elapsed;
	stats = translate("Output.Stats")
			.arg(formatClock(elapsed / 1000), QString::number(now.framesDropped),
			     QString::number(now.totalFrames), QString::number(kbps));
	refreshStatus();
}

void OutputDock::recordingTick()
{
	if (recordingShown != VerticalOutput::FileActive)
		return;
	const int64_t elapsed = figures().recordingElapsedMs;
	refreshStatus();
	// Woken on the recording's whole seconds, so the clock never lags its file by most of a second.
	recordingTimerObj.start(int(1000 - elapsed % 1000));
}

QString OutputDock::summaryText(bool *anyActive) const
{
	QStringList parts;
	if (streamShown == VerticalOutput::StreamLive)
		parts << QStringLiteral("\u25CF LIVE ") +
				 formatClock(streamClock.isValid() ? streamClock.elapsed() / 1000 : 0);
	else if (streamShown != VerticalOutput::StreamIdle)
		parts << QStringLiteral("LIVE ") + translate(streamStatusKey(streamShown));
	// Several destinations: the clock stays the lead's, and how many of them are live follows it.
	VerticalOutput *output = VerticalOutput::instance();
	if (streamShown != VerticalOutput::StreamIdle && output->enabledDestinationCount() > 1)
		parts.last() += QStringLiteral(" \u30FB ") + translate("Output.Destinations.Live")
								     .arg(output->liveDestinationCount())
								     .arg(output->enabledDestinationCount());

	if (recordingShown == VerticalOutput::FileActive)
		parts << QStringLiteral("\u25CF REC ") + formatClock(figures().recordingElapsedMs / 1000);
	else if (recordingShown != VerticalOutput::FileIdle)
		parts << QStringLiteral("REC ") + fileStatusText(recordingShown);

	if (replayShown == VerticalOutput::FileActive)
		parts << translate("Output.Compact.Replay").arg(replaySecondsShown);
	else if (replayShown != VerticalOutput::FileIdle)
		parts << QStringLiteral("\u27F2 ") + fileStatusText(replayShown);

	if (anyActive)
		*anyActive = !parts.isEmpty();
	if (!parts.isEmpty())
		return parts.join(QStringLiteral("  "));

	// Nothing runs: say what the next main stream will do.
	CanvasManager *canvas = CanvasManager::instance();
	QString summary = QStringLiteral("%1x%2 \u30FB ").arg(canvas->canvasWidth()).arg(canvas->canvasHeight());
	if (!config().autoStart)
		return summary + translate("Output.AutoStartOff");
	return summary +
	       translate(VerticalOutput::instance()->hasStreamKey() ? "Output.AutoStartOn" : "Output.AutoStartOnNoKey");
}

void OutputDock::refreshStatus()
{
	bool anyActive = false;
	const QString summary = summaryText(&anyActive);
	const QString shown = message.isEmpty() ? summary : message;

	QStringList tips;
	if (!message.isEmpty())
		tips << message << messageTooltip;
	tips << summary;
	if (!stats.isEmpty())
		tips << stats;
	if (!lastRecordingSaved.isEmpty())
		tips << translate("Output.FileSaved").arg(lastRecordingSaved);
	if (!lastReplaySaved.isEmpty())
		tips << translate("Output.FileSaved").arg(lastReplaySaved);
	tips.removeDuplicates();
	status->setToolTip(tips.join('\n'));
	status->setAccessibleName(shown);

	// Colours come from the theme's utility classes, so they follow OBS's theme switches.
	if (message.isEmpty() || !messageError)
		setThemeClass(status, anyActive ? QString() : QStringLiteral("text-muted"));
	else
		setThemeClass(status, QStringLiteral("text-danger"));
	const int pixels = std::max(QFontInfo(font()).pixelSize() - 1, 10);
	const QString sheet = QStringLiteral("QLabel { font-size: %1px; }").arg(pixels);
	if (status->styleSheet() != sheet) {
		status->setStyleSheet(sheet);
		status->ensurePolished();
	}

	status->setText(status->fontMetrics().elidedText(shown.simplified(), Qt::ElideRight, contentsRect().width()));
}

void OutputDock::resizeEvent(QResizeEvent *event)
{
	QWidget::resizeEvent(event);
	refreshStatus();
}

void OutputDock::changeEvent(QEvent *event)
{
	QWidget::changeEvent(event);
	if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
		refreshStatus();
}

} // namespace stilwane
