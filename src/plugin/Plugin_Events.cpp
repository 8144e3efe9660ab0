// SPDX-License-Identifier: GPL-2.0-or-later
#include <plugin/Plugin.hpp>

#include <audio/HorizontalExclusionManager.hpp>
#include <audio/VerticalVolumeManager.hpp>
#include <canvas/CanvasManager.hpp>
#include <canvas/CollectionSaver.hpp>
#include <canvas/SceneLinker.hpp>
#include <docks/MainDock.hpp>
#include <docks/OutputDock.hpp>
#include <hotkeys/HotkeyManager.hpp>
#include <output/VerticalOutput.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>
#include <remote/RemoteControl.hpp>
#include <plugin/SelfTest.hpp>
#include <preview/GuideOverlays.hpp>
#include <preview/Projectors.hpp>

#include <cstdlib>

namespace stilwane {

void Plugin::onFrontendEvent(enum obs_frontend_event event, void *)
{
	VerticalOutput *output = VerticalOutput::instance();
	switch (event) {
	case OBS_FRONTEND_EVENT_STREAMING_STARTED:
		if (!config().autoStart)
			break;
		if (output->streamState() == VerticalOutput::StreamIdle)
			streamingStarted();
		else if (output->streamState() == VerticalOutput::StreamStopping)
			autoStartPending = true;
		break;
	case OBS_FRONTEND_EVENT_STREAMING_STOPPING:
		autoStartPending = false;
		if (config().autoStart && output->streamState() != VerticalOutput::StreamIdle)
			output->stopStream(false);
		break;
	case OBS_FRONTEND_EVENT_RECORDING_STARTED:
	case OBS_FRONTEND_EVENT_RECORDING_STOPPING:
	case OBS_FRONTEND_EVENT_REPLAY_BUFFER_STARTED:
	case OBS_FRONTEND_EVENT_REPLAY_BUFFER_STOPPING:
	case OBS_FRONTEND_EVENT_REPLAY_BUFFER_SAVED:
		followMainFileOutput(event);
		break;
	case OBS_FRONTEND_EVENT_SCENE_CHANGED:
		SceneLinker::instance()->followProgramScene("scene_changed");
		break;
	case OBS_FRONTEND_EVENT_PREVIEW_SCENE_CHANGED:
		SceneLinker::instance()->followPreviewScene();
		break;
	case OBS_FRONTEND_EVENT_STUDIO_MODE_ENABLED:
		CanvasManager::instance()->setStudioMode(true);
		break;
	case OBS_FRONTEND_EVENT_STUDIO_MODE_DISABLED:
		CanvasManager::instance()->setStudioMode(false);
		break;
	case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING:
		collectionChanging();
		break;
	case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CLEANUP:
		collectionCleanup();
		break;
	case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED:
		collectionChanged();
		break;
	case OBS_FRONTEND_EVENT_PROFILE_CHANGING:
		HorizontalExclusionManager::instance()->suspend();
		VerticalVolumeManager::instance()->setProfileChanging(true);
		break;
	case OBS_FRONTEND_EVENT_PROFILE_CHANGED:
		VerticalVolumeManager::instance()->setProfileChanging(false);
		VerticalVolumeManager::instance()->reevaluate();
		HorizontalExclusionManager::instance()->resume();
		HorizontalExclusionManager::instance()->applyExclusions();
		break;
	case OBS_FRONTEND_EVENT_FINISHED_LOADING:
		finishedLoading();
		break;
	case OBS_FRONTEND_EVENT_SCRIPTING_SHUTDOWN:
		// OBS clears the collection next, then sends the exit event: nothing is followed any more,
		// and the main transitions are let go for OBS to destroy.
		SceneLinker::instance()->suspend();
		clearingHold.hold(CanvasManager::instance()->canvas());
		HorizontalExclusionManager::instance()->stop();
		HotkeyManager::instance()->invalidateSceneHotkeys();
		closeProjectorsOnce();
		output->stopAll();
		VerticalVolumeManager::instance()->tearDown();
		break;
	case OBS_FRONTEND_EVENT_EXIT:
		if (!exiting)
			exitEvent();
		break;
	default:
		break;
	}
}

void Plugin::streamingStarted()
{
	VerticalOutput *output = VerticalOutput::instance();
	OutputDock *dock = liveOutputDock();
	if (!output->hasStreamKey()) {
		stilwaneLog(LOG_INFO, "vertical stream not started: no stream key");
		if (dock)
			dock->showNoKeyNotice(false);
		return;
	}
	const Result started = output->startStream();
	if (started)
		return;
	stilwaneLog(LOG_WARNING, "auto start failed: %s", started.englishText().toUtf8().constData());
	if (dock)
		dock->showErrorBox(started.within("Output.StartFailed").userText());
}

// The vertical recording and replay buffer follow the main ones through the output dock, whose
// operations show what went wrong; without the dock nothing follows.
void Plugin::followMainFileOutput(enum obs_frontend_event event)
{
	OutputDock *dock = liveOutputDock();
	if (exiting || !dock)
		return;
	const ConfigRecord &settings = config();
	VerticalOutput *output = VerticalOutput::instance();
	switch (event) {
	case OBS_FRONTEND_EVENT_RECORDING_STARTED:
		if (settings.recordingFollowMain)
			dock->startRecordingWithUi();
		break;
	case OBS_FRONTEND_EVENT_RECORDING_STOPPING:
		if (settings.recordingFollowMain)
			dock->stopRecordingIfRunning();
		break;
	case OBS_FRONTEND_EVENT_REPLAY_BUFFER_STARTED:
		if (settings.replayFollowMain)
			dock->startReplayWithUi();
		break;
	case OBS_FRONTEND_EVENT_REPLAY_BUFFER_STOPPING:
		if (settings.replayFollowMain)
			dock->stopReplayIfRunning();
		break;
	case OBS_FRONTEND_EVENT_REPLAY_BUFFER_SAVED:
		if (settings.replaySaveWithMain && output->replayState() == VerticalOutput::FileActive)
			dock->saveReplayWithUi();
		break;
	default:
		break;
	}
}

// The output dock lives inside the main dock, which OBS may delete at shutdown before its last events.
OutputDock *Plugin::liveOutputDock()
{
	return mainDockWidget ? outputDock : nullptr;
}

void Plugin::collectionChanging()
{
	// OBS saves the collection it leaves; a pending save would only save the next one half-loaded.
	CollectionSaver::instance()->cancel();
	HorizontalExclusionManager::instance()->stop();
	collectionLoaded = false;
	releaseCollectionCache();
	collectionCache = obs_data_create();
	fillCollectionObject(collectionCache);
	SceneLinker::instance()->suspend();
	HotkeyManager::instance()->invalidateSceneHotkeys();
	VerticalOutput::instance()->stopAll();
	VerticalVolumeManager::instance()->tearDown();
	// Held until OBS has removed them all (the clean-up event): see SceneHold.
	clearingHold.hold(CanvasManager::instance()->canvas());
	CanvasManager::instance()->releaseCanvas();
}

void Plugin::collectionCleanup()
{
	// The old collection is saved by now: a canvas a background stop still holds gives up its name.
	VerticalOutput::instance()->renameHeldCanvases();
	HorizontalExclusionManager::instance()->stop();
	SceneLinker::instance()->suspend();
	HotkeyManager::instance()->unregisterSceneHotkeys();
	VerticalOutput::instance()->stopAll();
	VerticalVolumeManager::instance()->tearDown();
	CanvasManager::instance()->releaseCanvas();
	releaseCollectionCache();
	// OBS has removed every scene; it waits for their destruction right after this event.
	clearingHold.release();
}

void Plugin::collectionChanged()
{
	clearingHold.release();
	CanvasManager::instance()->dropRemovedRetiredCanvases();
	releaseCollectionCache();
	if (!collectionLoaded) {
		CanvasManager::instance()->loadFromCollection(nullptr);
		VerticalVolumeManager::instance()->loadFromCollection(nullptr);
		HorizontalExclusionManager::instance()->loadFromCollection(nullptr);
	}
	canvasReadySequence();
}

void Plugin::finishedLoading()
{
	canvasReadySequence();
	placeMainDockFirstRun();
	restoreProjectors();
	const char *selftest = getenv("STILWANE_SELFTEST");
	if (selftest && *selftest)
		SelfTest::run();
	const char *guide = getenv("STILWANE_GUIDE_PNG");
	if (guide && *guide)
		exportGuideImage(guide);
}

// Lets scripts and the end-to-end tests look at the guides without a visible preview.
void Plugin::exportGuideImage(const char *path)
{
	const bool saved = exportGuidePng(QString::fromUtf8(path));
	stilwaneLog(saved ? LOG_INFO : LOG_WARNING, "guide image %s: %s", saved ? "saved" : "failed", path);
}

void Plugin::exitEvent()
{
	exiting = true;
	CollectionSaver::instance()->cancel();
	RemoteControl::instance()->stop(true);
	HorizontalExclusionManager::instance()->shutdown();
	SceneLinker::instance()->suspend();
	closeProjectorsOnce();
	saveConfig();
	HotkeyManager::instance()->unregisterAll(true);
	VerticalOutput::instance()->stopAll();
	VerticalVolumeManager::instance()->shutdown();
	CanvasManager::instance()->releaseCanvas();
	CanvasManager::instance()->dropRemovedRetiredCanvases();
	CanvasManager::instance()->dropLoadedObject();
	releaseCollectionCache();
}

void Plugin::onFrontendSave(obs_data_t *data, bool saving, void *)
{
	if (exiting)
		return;
	if (saving) {
		if (collectionCache) {
			obs_data_set_obj(data, "stilwane", collectionCache);
			return;
		}
		OBSDataAutoRelease object = obs_data_create();
		fillCollectionObject(object);
		obs_data_set_obj(data, "stilwane", object);
		return;
	}
	releaseCollectionCache();
	collectionLoaded = true;
	OBSDataAutoRelease object = obs_data_get_obj(data, "stilwane");
	CanvasManager::instance()->loadFromCollection(object);
	VerticalVolumeManager::instance()->loadFromCollection(object);
	HorizontalExclusionManager::instance()->loadFromCollection(object);
}

} // namespace stilwane
