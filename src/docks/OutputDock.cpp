// SPDX-License-Identifier: GPL-2.0-or-later
#include <docks/OutputDock.hpp>

#include <docks/DestinationRows.hpp>
#include <canvas/CanvasManager.hpp>
#include <widgets/IconButton.hpp>
#include <dialogs/MessageBoxes.hpp>
#include <output/VerticalOutput.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>

#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

#include <algorithm>

namespace stilwane {

namespace {

// Between a button's action and its state; U+30FB, the katakana middle dot.
const QString kSeparator = QStringLiteral(" \u30FB ");
// Active outputs draw their icon in the theme's alert colour, as OBS's own output buttons do.
constexpr const char *kActiveTint = "text-danger";

// Recording and replay buffer: only the passing states carry a suffix.
QString fileButtonText(int state, const char *startKey, const char *stopKey)
{
	QString text = translate(state == VerticalOutput::FileIdle ? startKey : stopKey);
	if (state == VerticalOutput::FileStarting)
		text += kSeparator + translate("Output.File.Starting");
	else if (state == VerticalOutput::FileStopping)
		text += kSeparator + translate("Output.Status.Stopping");
	return text;
}

void setButtonText(IconButton *button, const QString &text)
{
	button->setText(text);
	button->setToolTip(text);
	button->setAccessibleName(text);
}

} // namespace

OutputDock::OutputDock(QWidget *parent) : QWidget(parent)
{
	setObjectName("stilwane_output_dock");
	auto *layout = new QVBoxLayout(this);
	layout->setContentsMargins(0, 0, 0, 0);
	layout->setSpacing(0);
	setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

	// The main dock takes the row into its tool row; until then it stays out of sight.
	buttonRow = new QWidget(this);
	buttonRow->setObjectName("stilwane_output_buttons");
	buttonRow->hide();
	auto *row = new QHBoxLayout(buttonRow);
	row->setContentsMargins(0, 0, 0, 0);
	row->setSpacing(0);

	streamBtn = new IconButton(buttonRow, translate("Output.Start"));
	streamBtn->setObjectName("stilwane_stream_button");
	recordBtn = new IconButton(buttonRow, translate("Output.Record.Start"));
	recordBtn->setObjectName("stilwane_record_button");
	replayBtn = new IconButton(buttonRow, translate("Output.Replay.Start"));
	replayBtn->setObjectName("stilwane_replay_button");
	saveReplayBtn = new IconButton(buttonRow, translate("Output.Replay.SaveVertical"), "icon-save");
	saveReplayBtn->setObjectName("stilwane_save_replay_button");
	for (IconButton *button : {streamBtn, recordBtn, replayBtn, saveReplayBtn})
		row->addWidget(button);

	status = new QLabel(this);
	status->setObjectName("stilwane_output_status");
	status->setTextFormat(Qt::PlainText);
	status->setWordWrap(false);
	status->setMinimumWidth(0);
	status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
	QFont small = status->font();
	if (small.pointSizeF() > 0) {
		small.setPointSizeF(std::max(7.0, small.pointSizeF() - 1));
		status->setFont(small);
	}
	layout->addWidget(status);
	// Out of sight while there is only one destination.
	rows = new DestinationRows(this);
	layout->addWidget(rows);

	statsTimerObj.setInterval(1000);
	recordingTimerObj.setSingleShot(true);
	recordingTimerObj.setTimerType(Qt::PreciseTimer);
	messageTimerObj.setSingleShot(true);

	VerticalOutput *output = VerticalOutput::instance();
	connect(streamBtn, &QToolButton::clicked, this, &OutputDock::toggle);
	connect(recordBtn, &QToolButton::clicked, this, [this] {
		if (VerticalOutput::instance()->recordingState() != VerticalOutput::FileIdle)
			stopRecordingIfRunning();
		else
			startRecordingWithUi();
	});
	connect(replayBtn, &QToolButton::clicked, this, [this] {
		if (VerticalOutput::instance()->replayState() != VerticalOutput::FileIdle)
			stopReplayIfRunning();
		else
			startReplayWithUi();
	});
	connect(saveReplayBtn, &QToolButton::clicked, this, &OutputDock::saveReplayWithUi);
	connect(output, &VerticalOutput::stateChanged, this, &OutputDock::onStateChanged);
	connect(output, &VerticalOutput::stopped, this, &OutputDock::onStopped);
	connect(output, &VerticalOutput::destinationStopped, this, &OutputDock::onDestinationStopped);
	connect(output, &VerticalOutput::destinationStateChanged, this, [this](const QString &, int state) {
		// A destination started on its own row is a next start as well; the count of those live shows.
		if (state == VerticalOutput::StreamConnecting && messageSticky) {
			clearMessage();
			messageTimerObj.stop();
		}
		refreshStatus();
	});
	connect(rows, &DestinationRows::startFailed, this, &OutputDock::showErrorBox);
	connect(output, &VerticalOutput::encoderFallback, this, [this](const QString &id) {
		// Named as OBS's settings show it; the id is no name for people.
		const char *name = obs_encoder_get_display_name(id.toUtf8().constData());
		const QString text = name && *name ? translate("Output.EncoderFallback").arg(QString::fromUtf8(name))
						   : translate("Output.EncoderFallbackUnnamed");
		showStatusMessage(text, text, false, false);
	});
	connect(output, &VerticalOutput::recordingStateChanged, this, &OutputDock::onRecordingStateChanged);
	connect(output, &VerticalOutput::replayStateChanged, this, &OutputDock::onReplayStateChanged);
	connect(output, &VerticalOutput::recordingSaved, this, [this](QString path) { onFileSaved(false, path); });
	connect(output, &VerticalOutput::replaySaved, this, [this](QString path) { onFileSaved(true, path); });
	connect(output, &VerticalOutput::replaySaveFailed, this, [this](const QString &error) {
		const QString text = translate("Output.Replay.SaveFailed").arg(error);
		showStatusMessage(text, text, true, false);
	});
	connect(output, &VerticalOutput::recordingStopped, this,
		[this](int code, QString error) { onFileStopped(false, code, error); });
	connect(output, &VerticalOutput::replayStopped, this,
		[this](int code, QString error) { onFileStopped(true, code, error); });
	connect(CanvasManager::instance(), &CanvasManager::canvasChanged, this, &OutputDock::settingsOrCanvasChanged);
	connect(&statsTimerObj, &QTimer::timeout, this, &OutputDock::tick);
	connect(&recordingTimerObj, &QTimer::timeout, this, &OutputDock::recordingTick);
	connect(&messageTimerObj, &QTimer::timeout, this, [this] {
		clearMessage();
		refreshStatus();
	});

	replaySecondsShown = config().replaySeconds;
	onStateChanged(output->streamState());
	onRecordingStateChanged(output->recordingState());
	onReplayStateChanged(output->replayState());
}

QWidget *OutputDock::takeButtonRow(QWidget *parent)
{
	buttonRow->setParent(parent);
	buttonRow->show();
	return buttonRow;
}

void OutputDock::toggle()
{
	VerticalOutput *output = VerticalOutput::instance();
	if (output->isStreamActive() || output->streamState() != VerticalOutput::StreamIdle)
		stopStreamIfRunning();
	else
		startStreamWithUi();
}

void OutputDock::startStreamWithUi()
{
	VerticalOutput *output = VerticalOutput::instance();
	if (output->isStreamActive() || output->streamState() != VerticalOutput::StreamIdle)
		return;
	if (!output->hasStreamKey()) {
		stilwaneLog(LOG_INFO, "vertical stream not started: no stream key");
		showNoKeyNotice(true);
		return;
	}
	if (const Result started = output->startStream(); !started)
		showErrorBox(started.within("Output.StartFailed").userText());
}

void OutputDock::stopStreamIfRunning()
{
	VerticalOutput *output = VerticalOutput::instance();
	const int state = output->streamState();
	if (state != VerticalOutput::StreamIdle && state != VerticalOutput::StreamStopping)
		output->stopStream(false);
}

void OutputDock::startRecordingWithUi()
{
	VerticalOutput *output = VerticalOutput::instance();
	if (output->recordingState() != VerticalOutput::FileIdle)
		return;
	if (const Result started = output->startRecording(); !started)
		showErrorBox(started.within("Output.Record.StartFailed").userText());
}

void OutputDock::stopRecordingIfRunning()
{
	VerticalOutput *output = VerticalOutput::instance();
	const int state = output->recordingState();
	if (state != VerticalOutput::FileIdle && state != VerticalOutput::FileStopping)
		output->stopRecording(false);
}

void OutputDock::startReplayWithUi()
{
	VerticalOutput *output = VerticalOutput::instance();
	if (output->replayState() != VerticalOutput::FileIdle)
		return;
	if (const Result started = output->startReplayBuffer(); !started)
		showErrorBox(started.within("Output.Replay.StartFailed").userText());
}

void OutputDock::stopReplayIfRunning()
{
	VerticalOutput *output = VerticalOutput::instance();
	const int state = output->replayState();
	if (state != VerticalOutput::FileIdle && state != VerticalOutput::FileStopping)
		output->stopReplayBuffer(false);
}

void OutputDock::saveReplayWithUi()
{
	VerticalOutput *output = VerticalOutput::instance();
	if (output->replayState() != VerticalOutput::FileActive)
		return;
	if (const Result saved = output->saveReplay(); !saved)
		showErrorBox(saved.within("Output.Replay.SaveFailed").userText());
}

void OutputDock::showNoKeyNotice(bool forced)
{
	showStatusMessage(translate("Output.NoKeyNotice"), translate("Output.NoKeyHint"), forced, true);
}

void OutputDock::showErrorBox(const QString &text)
{
	showStatusMessage(text, text, true, false);
	// Also reached from OBS's front-end events (following the main outputs): never a modal loop.
	showMessageLater(this, MessageKind::Warning, translate("Error.Title"), text);
}

void OutputDock::showStatusMessage(const QString &text, const QString &tooltip, bool isError, bool isNoKey,
				   bool untilNextStart)
{
	// A plain message never hides an error that is still showing.
	if (isError || isError == messageError || (!messageTimerObj.isActive() && !messageSticky)) {
		message = text;
		messageTooltip = tooltip;
		messageError = isError;
		messageNoKey = isNoKey;
		messageSticky = untilNextStart;
		if (untilNextStart)
			messageTimerObj.stop();
		else
			messageTimerObj.start(isError || isNoKey ? 12000 : 8000);
	}
	refreshStatus();
}

void OutputDock::clearMessage()
{
	messageSticky = false;
	message.clear();
	messageTooltip.clear();
	messageError = false;
	messageNoKey = false;
}

void OutputDock::settingsOrCanvasChanged()
{
	// The notice asked for a key; once there is one it has said its piece.
	if (messageNoKey && VerticalOutput::instance()->hasStreamKey()) {
		messageTimerObj.stop();
		clearMessage();
	}
	rows->rebuild();
	refreshStatus();
}

void OutputDock::onStateChanged(int state)
{
	streamShown = state;
	// The next start ends what the last failure said.
	if (state == VerticalOutput::StreamConnecting && messageSticky) {
		clearMessage();
		messageTimerObj.stop();
	}
	QString text = translate(state == VerticalOutput::StreamIdle ? "Output.Start" : "Output.Stop");
	if (state != VerticalOutput::StreamIdle)
		text += kSeparator + translate(streamStatusKey(state));
	setButtonText(streamBtn, text);
	streamBtn->setEnabled(state != VerticalOutput::StreamStopping);
	updateStreamIcon();

	// A reconnect keeps the clock and the statistics running: the stream is the same to the viewer.
	if (state == VerticalOutput::StreamLive && !statsTimerObj.isActive()) {
		streamClock.restart();
		lastTotalBytes = 0;
		lastStatsTime = 0;
		statsTimerObj.start();
	} else if (state == VerticalOutput::StreamIdle) {
		statsTimerObj.stop();
		streamClock.invalidate();
		stats.clear();
	}
	refreshStatus();
}

void OutputDock::onStopped(int code, QString error)
{
	if (code == 0)
		return;
	// Kept until the next start: a failed stream must not vanish from sight while the streamer looks
	// away. libobs's own text, when there is one, goes into the tool tip.
	const QString text = translate("Output.StreamFailed").arg(VerticalOutput::stopCodeText(code));
	showStatusMessage(text, error.isEmpty() ? text : text + "\n" + error, true, false, true);
}

void OutputDock::onDestinationStopped(QString name, int code, QString error)
{
	if (code == 0)
		return;
	QString text = translate("Output.Destination.Stopped").arg(name, QString::number(code));
	if (!error.isEmpty())
		text += "\n" + error;
	stilwaneLog(LOG_WARNING, "vertical stream to '%s' stopped: code %d %s", name.toUtf8().constData(), code,
		    error.toUtf8().constData());
	showStatusMessage(text, text, true, false, true);
}

void OutputDock::onRecordingStateChanged(int state)
{
	recordingShown = state;
	setButtonText(recordBtn, fileButtonText(state, "Output.Record.Start", "Output.Record.Stop"));
	recordBtn->setEnabled(state != VerticalOutput::FileStopping);
	updateRecordIcon();
	if (state == VerticalOutput::FileActive) {
		recordingTick();
	} else {
		recordingTimerObj.stop();
		refreshStatus();
	}
}

void OutputDock::onReplayStateChanged(int state)
{
	// The buffer's length is fixed when it starts; a later change of the setting does not apply to it.
	if (state == VerticalOutput::FileStarting)
		replaySecondsShown = config().replaySeconds;
	replayShown = state;
	setButtonText(replayBtn, fileButtonText(state, "Output.Replay.Start", "Output.Replay.Stop"));
	replayBtn->setEnabled(state != VerticalOutput::FileStopping);
	saveReplayBtn->setEnabled(state == VerticalOutput::FileActive);
	updateReplayIcon();
	refreshStatus();
}

void OutputDock::onFileSaved(bool replay, const QString &path)
{
	(replay ? lastReplaySaved : lastRecordingSaved) = path;
	showStatusMessage(translate("Output.FileSaved").arg(QFileInfo(path).fileName()), path, false, false);
}

void OutputDock::onFileStopped(bool replay, int code, const QString &error)
{
	if (code == 0)
		return;
	QString text = translate(replay ? "Output.Replay.Stopped" : "Output.Record.Stopped").arg(code);
	if (!error.isEmpty())
		text += " " + error;
	stilwaneLog(LOG_WARNING, "vertical %s stopped: code %d %s", replay ? "replay" : "recording", code,
		    error.toUtf8().constData());
	showStatusMessage(text, text, true, false);
}

void OutputDock::updateStreamIcon()
{
	const bool live = streamShown == VerticalOutput::StreamLive;
	streamBtn->setIconFile(moduleIconPath("stream.svg"), live ? kActiveTint : nullptr);
}

void OutputDock::updateRecordIcon()
{
	const bool active = recordingShown == VerticalOutput::FileActive;
	recordBtn->setIconFile(moduleIconPath("record.svg"), active ? kActiveTint : nullptr);
}

void OutputDock::updateReplayIcon()
{
	const bool active = replayShown == VerticalOutput::FileActive;
	replayBtn->setIconFile(moduleIconPath("replay.svg"), active ? kActiveTint : nullptr);
}

} // namespace stilwane
