// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <canvas/SceneHold.hpp>

#include <QMetaObject>
#include <QPointer>

#include <obs-frontend-api.h>
#include <obs.hpp>

namespace stilwane {

class MainDock;
class OutputDock;

// The module's root: start-up and shut-down order, the front-end event and save callbacks, the Tools
// menu entries and the first-run dock placement. Everything runs on the user-interface thread.
class Plugin {
public:
	static bool load();
	// After every module has loaded: what needs other modules (obs-websocket's vendor API).
	static void postLoad();
	static void unload();

	static void onFrontendEvent(enum obs_frontend_event event, void *param);
	static void onFrontendSave(obs_data_t *data, bool saving, void *param);
	static void onFrontendPreload(obs_data_t *data, bool saving, void *param);

	static MainDock *mainDock();
	static bool isExiting() { return exiting; }
	static obs_data_t *collectionSnapshot() { return collectionCache; }

private:
	static void canvasReadySequence();
	static void finishedLoading();
	static void collectionChanging();
	static void collectionCleanup();
	static void collectionChanged();
	static void exitEvent();
	static void streamingStarted();
	static void followMainFileOutput(enum obs_frontend_event event);
	static OutputDock *liveOutputDock();
	static void closeProjectorsOnce();
	static void placeMainDockFirstRun();
	static void exportGuideImage(const char *path);
	static void releaseCollectionCache();
	static void fillCollectionObject(obs_data_t *data);
	static void openSettings(void *);
	static void openProjector(void *);

	static QPointer<MainDock> mainDockWidget;
	static OutputDock *outputDock;
	// The plug-in's part of the collection being left, saved when OBS saves it during the change.
	static OBSDataAutoRelease collectionCache;
	static bool collectionLoaded;
	// The vertical scenes, held while OBS clears a collection (from the change or exit until the clean-up).
	static SceneHold clearingHold;
	static bool exiting;
	static bool projectorsClosed;
	// OBS's stream started while the vertical one was still stopping: start it once that stop ends.
	static bool autoStartPending;
	static QMetaObject::Connection autoStartConnection;
	// The projector hotkey shows what the Tools menu's projector entry shows.
	static QMetaObject::Connection projectorConnection;
	static bool loaded;
};

} // namespace stilwane
