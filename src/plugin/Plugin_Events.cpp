#include <plugin/Plugin.hpp>

#include <audio/HorizontalExclusionManager.hpp>
#include <audio/VerticalVolumeManager.hpp>
#include <canvas/CanvasManager.hpp>
#include <canvas/SceneLinker.hpp>
#include <docks/MainDock.hpp>
#include <docks/OutputDock.hpp>
#include <hotkeys/HotkeyManager.hpp>
#include <output/VerticalOutput.hpp>
#include <plugin/ConfigRecord.hpp>
#include <plugin/Module.hpp>
#include <plugin/RemoteControl.hpp>
#include <plugin/SelfTest.hpp>
#include <preview/GuideOverlays.hpp>

#include <cstdlib>

void Plugin::onFrontendEvent(enum obs_frontend_event event, void *)
{
	VerticalOutput *output = VerticalOutput::instance();
	switch (event) {
	case OBS_FRONTEND_EVENT_STREAMING_STARTED:
		if (config().autoStart && output->streamState() == VerticalOutput::StreamIdle)
			streamingStarted();
		break;
	case OBS_FRONTEND_EVENT_STREAMING_STOPPING:
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
		blog(LOG_INFO, "[stilwane] vertical stream not started: no stream key");
		if (dock)
			dock->showNoKeyNotice(false);
		return;
	}
	QString error;
	if (output->startStream(&error))
		return;
	blog(LOG_WARNING, "[stilwane] auto start failed: %s", error.toUtf8().constData());
	if (dock)
		dock->showErrorBox(translate("Output.StartFailed").arg(error));
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
	HorizontalExclusionManager::instance()->stop();
	collectionLoaded = false;
	releaseCollectionCache();
	collectionCache = obs_data_create();
	fillCollectionObject(collectionCache);
	SceneLinker::instance()->suspend();
	HotkeyManager::instance()->invalidateSceneHotkeys();
	VerticalOutput::instance()->stopAll();
	VerticalVolumeManager::instance()->tearDown();
	CanvasManager::instance()->releaseCanvas();
}

void Plugin::collectionCleanup()
{
	HorizontalExclusionManager::instance()->stop();
	SceneLinker::instance()->suspend();
	HotkeyManager::instance()->unregisterSceneHotkeys();
	VerticalOutput::instance()->stopAll();
	VerticalVolumeManager::instance()->tearDown();
	CanvasManager::instance()->releaseCanvas();
	releaseCollectionCache();
}

void Plugin::collectionChanged()
{
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
	RemoteControl::instance()->stop(true);
	HorizontalExclusionManager::instance()->shutdown();
	SceneLinker::instance()->suspend();
	closeProjectorsOnce();
	saveConfig();
	HotkeyManager::instance()->unregisterAll(true);
	VerticalOutput::instance()->stopAll();
	VerticalVolumeManager::instance()->tearDown();
	CanvasManager::instance()->releaseCanvas();
	CanvasManager::instance()->dropRemovedRetiredCanvases();
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
