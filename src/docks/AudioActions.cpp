// SPDX-License-Identifier: GPL-2.0-or-later
#include <docks/AudioActions.hpp>

#include <audio/HorizontalExclusionManager.hpp>
#include <audio/TrackSplit.hpp>
#include <audio/VerticalAudioSource.hpp>
#include <audio/VerticalVolumeManager.hpp>
#include <canvas/CanvasManager.hpp>
#include <common/ConfigRecord.hpp>
#include <common/MainOutputProbe.hpp>
#include <common/Module.hpp>
#include <dialogs/MessageBoxes.hpp>
#include <docks/AudioSourceActions.hpp>
#include <output/VerticalOutput.hpp>

#include <obs-frontend-api.h>

namespace stilwane {

namespace {

// A refusal: with a parent shown in a box under key and returned in the user's words; without one (the
// remote control) only returned, in the English sentence given.
Result refuse(QWidget *parent, MessageKind kind, const char *key, const QStringList &args, int code,
	      const QString &sentence)
{
	if (!parent)
		return Result::plain(code, sentence);
	const Result failure = Result::translated(code, key, args);
	showMessage(parent, kind, translate("Error.Title"), failure.userText());
	return failure;
}

Result canvasBusy(QWidget *parent)
{
	if (!CanvasManager::instance()->hasCanvas())
		return refuse(parent, MessageKind::Warning, "Error.CanvasBusy", {}, Result::NotReady,
			      "the vertical canvas is not available");
	return refuse(parent, MessageKind::Warning, "Error.CanvasBusy", {}, Result::OutputRunning,
		      "the vertical stream, recording or replay buffer is running: stop them first");
}

bool canvasFree()
{
	return CanvasManager::instance()->hasCanvas() && !VerticalOutput::instance()->isAnyOutputBusy();
}

QString canvasUuid()
{
	CanvasManager *manager = CanvasManager::instance();
	return manager->hasCanvas() ? QString::fromUtf8(obs_canvas_get_uuid(manager->canvas())) : QString();
}

Result settingsChanged(QWidget *parent, const QString &sentence)
{
	return refuse(parent, MessageKind::Information, "Audio.SettingsChanged", {}, Result::RequestProcessingFailed,
		      sentence);
}

} // namespace

Result AudioActions::splitTrack(QWidget *parent)
{
	if (!canvasFree())
		return canvasBusy(parent);

	const MainOutputTracks probe = probeMainOutputs();
	const int mainTrack = probe.valid ? probe.streamTrack : 0;
	const int freeTrack = firstFreeTrack(probe);
	if (!probe.valid || !trackBit(mainTrack) || !freeTrack)
		return refuse(parent, MessageKind::Information, "Audio.NoFreeTrack", {},
			      Result::RequestProcessingFailed,
			      "OBS's main outputs use every audio track, or their tracks are not known: no track is "
			      "free for the vertical outputs");
	const int verticalTrack = config().audioTrack;
	// Splitting only makes sense while both share a track; otherwise the vertical track would be replaced
	// by a copy of the main stream's.
	if (mainTrack != verticalTrack)
		return settingsChanged(parent, QString("the vertical outputs already have a track of their own (track "
						       "%1; the main stream uses track %2)")
						       .arg(verticalTrack)
						       .arg(mainTrack));

	const QString canvas = canvasUuid();
	if (parent && !confirmYesNo(parent, translate("Audio.Split"),
				    Result::fill(translate("Audio.ConfirmSplit"),
						 {QString::number(mainTrack), QString::number(freeTrack)})))
		return Result::plain(Result::RequestProcessingFailed, "the track split was cancelled");

	// The question may have stood open for a while: anything it was based on may have moved.
	const MainOutputTracks again = probeMainOutputs();
	const uint32_t taken = again.streamMask | again.recordingMask | again.replayMask | again.configuredStreamMask;
	if (canvasUuid() != canvas || canvas.isEmpty() || VerticalOutput::instance()->isAnyOutputBusy() ||
	    !again.valid || again.streamTrack != mainTrack || (taken & trackBit(freeTrack)) ||
	    config().audioTrack != verticalTrack)
		return settingsChanged(parent,
				       "the canvas, the vertical outputs or the audio tracks changed meanwhile; "
				       "nothing was split");

	const size_t added = moveSourcesToTrack(mainTrack, freeTrack);
	config().audioTrack = freeTrack;
	VerticalVolumeManager::instance()->reevaluate();
	HorizontalExclusionManager::instance()->applyExclusions();
	saveConfig();
	obs_frontend_save();
	stilwaneLog(LOG_INFO, "vertical audio track split: %d -> %d, %zu sources", verticalTrack, freeTrack, added);
	AudioSourceActions::instance()->announceAll();
	return Result();
}

Result AudioActions::enableMix(QWidget *parent)
{
	if (!canvasFree())
		return canvasBusy(parent);
	CanvasManager *manager = CanvasManager::instance();
	if (config().mixAudio && (obs_canvas_get_flags(manager->canvas()) & MIX_AUDIO))
		return Result();
	if (!manager->migrateCanvas(true))
		return refuse(parent, MessageKind::Warning, "Audio.MixFailed", {}, Result::RequestProcessingFailed,
			      "the vertical canvas could not be recreated with its own audio mix");
	config().mixAudio = true;
	HorizontalExclusionManager::instance()->applyExclusions();
	saveConfig();
	obs_frontend_save();
	AudioSourceActions::instance()->announceAll();
	return Result();
}

} // namespace stilwane
