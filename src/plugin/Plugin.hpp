#pragma once

#include <QPointer>

#include <obs-frontend-api.h>

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
	static obs_data_t *collectionCache;
	static bool collectionLoaded;
	static bool exiting;
	static bool projectorsClosed;
	static bool loaded;
};
