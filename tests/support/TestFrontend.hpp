// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <vector>

#include <QString>
#include <QStringList>

#include <obs.h>
#include <obs-frontend-api.h>

class QAction;
class QDockWidget;
class QMainWindow;
class QMenu;
class QTemporaryDir;
class QWidget;

// Stands in for OBS Studio's front end inside a test executable: this library defines every
// obs_frontend_* function of obs-frontend-api.h, backed by real libobs objects and by the state kept
// here, so the code under test runs unchanged and the test can drive it the way OBS would.
//
// Reference rules follow OBS: getters documented as "new reference" in OBS return one here too
// (get_current_scene, get_current_transition, get_canvases, add_canvas, the outputs); the front end
// keeps its own references to its scenes, transitions and canvases. Event, save and preload callbacks
// run on the calling thread, most recently registered first, which is the order OBS uses.
//
// A scene collection is a data object shaped like OBS's collection file: "name", "sources"
// (obs_save_sources), "canvases" (objects {"info": obs_save_canvas(...)} for each front-end canvas
// that is not removed or EPHEMERAL), "current_scene",
// "current_program_scene", "scene_order" and "modules". Save callbacks see only the "modules" object,
// as in OBS; moduleData() extracts it from a collection.
class TestFrontend {
public:
	static TestFrontend &instance();

	// Drops every callback, dock, menu entry and libobs reference of the front end, then sets up a
	// fresh state: no canvases, no main scenes, the transitions "Fade" (current, 300 ms) and "Cut",
	// studio mode off, empty configurations, no outputs, collection "Untitled", profile "Untitled".
	void reset();
	// Like reset() without the fresh state; called before obs_shutdown.
	void shutdown();

	// ---- main canvas
	// Creates a main-canvas scene that the front end keeps (returned pointer is borrowed).
	obs_source_t *addScene(const char *name);
	// Removes a main scene from libobs and from the front end's list.
	void removeScene(obs_source_t *scene);
	// The program scene (borrowed), the preview scene of studio mode (borrowed, null outside it).
	obs_source_t *programScene() const;
	obs_source_t *previewScene() const;
	// Same as obs_frontend_set_current_scene and ..._set_current_preview_scene: switches at once (no
	// transition time) and raises SCENE_CHANGED or PREVIEW_SCENE_CHANGED.
	void setProgramScene(obs_source_t *scene);
	void setPreviewScene(obs_source_t *scene);
	// Same as obs_frontend_set_preview_program_mode.
	void setStudioMode(bool enabled);
	bool studioMode() const;

	// ---- events and collections
	// Delivers the event synchronously to every registered event callback, like OBS.
	void raise(enum obs_frontend_event event);
	// Every event raised since the last reset() or clearRaisedEvents(), in order.
	std::vector<enum obs_frontend_event> raisedEvents() const;
	void clearRaisedEvents();
	size_t eventCallbackCount() const;
	size_t saveCallbackCount() const;

	// Builds the current collection the way OBS saves it, running the save callbacks with saving=true
	// into its "modules" object. New reference.
	obs_data_t *saveCollection();
	// Runs the preload callbacks and the save callbacks with saving=false on the collection's "modules"
	// object (null when it has none, as in OBS). Restores nothing else.
	void loadCollection(obs_data_t *collection);
	// A scene-collection switch in OBS 32's order: SCENE_COLLECTION_CHANGING; the save callbacks save
	// the old collection (kept as oldCollectionData()); every front-end canvas and every public source
	// is removed; SCENE_COLLECTION_CLEANUP; then, when newCollection is not null: preload callbacks,
	// the canvases of its "canvases" array restored with obs_load_canvas (same uuid, no video, no
	// channels), its "sources" restored with obs_load_sources, the save callbacks with saving=false
	// (skipped when callLoadCallbacks is false), the saved program scene made current with
	// SCENE_CHANGED and PREVIEW_SCENE_CHANGED. A null newCollection is a new collection, as OBS creates
	// one: no load at all and a default main scene "Scene". A canvas that someone still holds when
	// the old collection is cleared stays alive (removed); libobs then restores its saved twin under
	// another uuid and a deduplicated name ("... 2"). Then SCENE_COLLECTION_LIST_CHANGED and
	// SCENE_COLLECTION_CHANGED. The collection name becomes newCollection's "name" (or "Untitled").
	void switchCollection(obs_data_t *newCollection, bool callLoadCallbacks = true);
	// OBS's start-up load, followed by FINISHED_LOADING. With a collection: SCENE_COLLECTION_CLEANUP,
	// the load as in switchCollection, SCENE_COLLECTION_LIST_CHANGED, SCENE_COLLECTION_CHANGED, then
	// the saved program scene made current (SCENE_CHANGED, PREVIEW_SCENE_CHANGED). Without one (a first
	// start): SCENE_COLLECTION_CHANGING, SCENE_COLLECTION_CLEANUP, the default scene,
	// SCENE_COLLECTION_LIST_CHANGED, SCENE_COLLECTION_CHANGED.
	void startupLoad(obs_data_t *collection, bool callLoadCallbacks = true);
	// What the last switch saved for the collection it left (new reference, or null).
	obs_data_t *oldCollectionData() const;
	// What the last obs_frontend_save stored (new reference, or null).
	obs_data_t *currentCollectionData() const;
	int saveCount() const;
	// The "modules" object of a collection (new reference, or null).
	static obs_data_t *moduleData(obs_data_t *collection);

	// ---- front-end canvases (those added with obs_frontend_add_canvas or restored from a collection)
	std::vector<obs_canvas_t *> canvases() const; // borrowed

	// ---- Tools menu, docks, main window
	QMainWindow *mainWindow();
	QMenu *toolsMenu();
	QStringList toolsMenuTitles() const;
	// Triggers the entry as a click would; false when there is none with that title.
	bool triggerToolsMenuItem(const QString &title);
	QStringList dockIds() const;
	QDockWidget *dock(const QString &id) const;
	// The widget handed to obs_frontend_add_dock_by_id (null once the dock is gone).
	QWidget *dockContent(const QString &id) const;
	QString dockTitle(const QString &id) const;
	// Makes obs_frontend_add_dock_by_id and obs_frontend_add_custom_qdock fail (widget not taken).
	void setDockAddFails(bool fail);

	// ---- user-interface translation pushed by modules
	int translationDepth() const;
	// Translates with the innermost pushed function; the text itself when it has no translation.
	QString translateUi(const char *text) const;

	// ---- state read by the obs_frontend_* queries
	void setStreamingActive(bool active);
	void setRecordingActive(bool active);
	void setRecordingPaused(bool paused);
	void setReplayBufferActive(bool active);
	void setVirtualCamActive(bool active);
	// The front end takes its own reference (null clears).
	void setStreamingOutput(obs_output_t *output);
	void setRecordingOutput(obs_output_t *output);
	void setReplayBufferOutput(obs_output_t *output);
	void setVirtualCamOutput(obs_output_t *output);
	void setStreamingService(obs_service_t *service);
	void setCollectionName(const QString &name);
	QString collectionName() const;
	void setProfileName(const QString &name);
	QString profileName() const;
	void setThemeDark(bool dark);
	void setTransitionDuration(int ms);

	// Borrowed; in-memory configurations, emptied by reset().
	config_t *userConfig() const;
	config_t *profileConfig() const;
	config_t *appConfig() const;

	// Internal to the obs_frontend_* functions in TestFrontend.cpp.
	struct State;
	State &state();

private:
	TestFrontend();
	~TestFrontend();
	TestFrontend(const TestFrontend &) = delete;
	TestFrontend &operator=(const TestFrontend &) = delete;

	void releaseAll();
	void setUpFresh();
	void clearCollection();
	void restoreCollection(obs_data_t *collection, bool callLoadCallbacks);
	void createDefaultScene();
	void runSaveCallbacks(obs_data_t *modules, bool saving);
	void runPreloadCallbacks(obs_data_t *modules);

	State *d;
};
