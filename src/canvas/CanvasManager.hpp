// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <canvas/CanvasMigration.hpp>
#include <canvas/StudioSwap.hpp>
#include <canvas/VerticalTransitions.hpp>

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <functional>
#include <cstdint>

#include <obs.hpp>

namespace stilwane {

struct SceneRef {
	QString uuid; // the scene source's uuid
	QString name; // its name
};

inline constexpr const char *kCanvasName = "Stilwane Vertical";

// Owns the vertical canvas, its scenes and their order, the current and preview scene, studio mode and
// the selected scene item; the transitions, the studio swap and the moves into new canvases are parts
// of their own that it holds and forwards to. Lives on the user-interface thread; libobs signal
// handlers only queue work to it.
class CanvasManager : public QObject {
	Q_OBJECT

public:
	// The one manager, made on first use.
	static CanvasManager *instance();
	// At exit; the plug-in's unload has let go of every libobs object by then.
	~CanvasManager() override;

	// Canvas lifetime (CanvasManager.cpp)
	// The vertical canvas, borrowed; null without one, possibly removed by OBS (see hasCanvas).
	obs_canvas_t *canvas() const { return canvasRef; }
	// Whether there is a canvas OBS has not removed.
	bool hasCanvas() const;
	// The canvas's base width, or the configured one without a canvas.
	uint32_t canvasWidth() const;
	// The canvas's base height, or the configured one without a canvas.
	uint32_t canvasHeight() const;
	// Finds the collection's canvas (by uuid, then by name) or makes one, gives it video and the
	// transition, and restores the current and preview scene.
	void ensureCanvas();
	// Lets go of the canvas and everything on it; removes its scenes when OBS has dropped it.
	void releaseCanvas();
	// Gives the canvas a new size, moving the scenes into a new canvas while anything outputs.
	bool resizeCanvas(uint32_t width, uint32_t height);
	// Moves the scenes into a new canvas that mixes audio or not.
	bool migrateCanvas(bool mixAudio);
	// Asked before a migration or a resize that needs a new canvas: while a vertical output encodes the
	// canvas, it must stay. The composition root wires it to the outputs.
	void setOutputsBusyCheck(std::function<bool()> check) { outputsBusy = std::move(check); }
	// Lets go of retired canvases OBS has removed (collection switch, exit).
	void dropRemovedRetiredCanvases() { migration.dropRemovedRetiredCanvases(); }

	// Collection (CanvasManager_Collection.cpp)
	// Releases the canvas and readies the one of the collection object data (null for a new collection).
	void loadFromCollection(obs_data_t *data);
	// Writes the canvas, its scenes' order, the current and preview scene and the transitions into data.
	void saveToCollection(obs_data_t *data);
	// Lets go of the loaded collection object; at exit, before libobs counts what is left.
	void dropLoadedObject() { loadedObject = nullptr; }

	// Scenes and selection (CanvasManager_Scenes.cpp)
	// The vertical scenes in the user's order (groups left out); also brings that order up to date.
	QVector<SceneRef> scenes();
	// The vertical scene of that uuid, new reference, or null.
	obs_source_t *findSceneByUuid(const QString &uuid) const;
	// The vertical scene of that name, new reference, or null.
	obs_source_t *findSceneByName(const QString &name) const;
	// Whether a vertical scene has that name.
	bool sceneNameExists(const QString &name) const;
	// base, or base with the first free number appended.
	QString uniqueSceneName(const QString &base) const;
	// Adds a scene at the end (borrowed, the canvas holds it); a first one becomes current or preview.
	obs_scene_t *addScene(const QString &name);
	// Removes a scene; a current or preview scene is replaced by another.
	void removeScene(obs_source_t *scene);
	// Renames a scene to a name no other vertical scene has.
	bool renameScene(obs_source_t *scene, const QString &name);
	// Swaps a scene with the one offset places away in the order, if there is one.
	void moveScene(const QString &uuid, int offset);
	// Selects the item of that id in the editing scene, -1 for none.
	void selectItem(int64_t id);
	// Id of the selected item, -1 for none; safe on any thread.
	int64_t selectedItemId() const { return selectedItem_.load(); }
	// The selected item of the editing scene, borrowed, or null.
	obs_sceneitem_t *selectedItem() const;

	// Switching and studio mode (CanvasManager_Switching.cpp)
	// The program scene, new reference, or null.
	obs_source_t *currentScene() const;
	// Uuid of the program scene.
	QString currentSceneUuid() const { return currentUuid; }
	// The studio-mode preview scene, new reference, or null.
	obs_source_t *previewScene() const;
	// Uuid of the preview scene, empty for none.
	QString previewSceneUuid() const { return previewUuid; }
	// The scene the docks edit: the preview in studio mode, else the program scene (new reference).
	obs_source_t *editingScene() const;
	// Whether studio mode is on.
	bool studioMode() const { return studio; }
	// Switches the program to scene through the chosen transition; ends a running studio swap.
	void setCurrentScene(obs_source_t *scene, int mainDurationMs = -1, const QString &trigger = QString(),
			     obs_source_t *mainTransition = nullptr, bool followMain = false,
			     obs_data_t *mainSettings = nullptr);
	// Sets the studio-mode preview scene (null for none); other scenes than vertical ones are refused.
	void setPreviewScene(obs_source_t *scene, const QString &trigger);
	// Follows OBS's studio mode: a preview scene while on, none while off.
	void setStudioMode(bool enabled);
	// Studio mode: the preview goes to program, and at the transition's end the swap runs.
	void transitionToProgram(int mainDurationMs = -1, const QString &trigger = QString(),
				 obs_source_t *mainTransition = nullptr, bool followMain = false,
				 obs_data_t *mainSettings = nullptr);
	// The transition of that switch generation ended: the swap puts its scene into the preview.
	void finishStudioSwap(uint64_t forGeneration);
	// The generation of the newest switch; safe on any thread.
	uint64_t currentGeneration() const { return studioSwap.generation(); }

	// Transitions (VerticalTransitions.cpp, VerticalTransitions_List.cpp; the scene check of an override
	// in CanvasManager_Scenes.cpp)
	// The transition list in the order shown.
	QVector<TransitionInfo> transitions() const { return verticalTransitions.list(); }
	// The listed transition of that uuid, new reference, or null.
	obs_source_t *transitionByUuid(const QString &uuid) const
	{
		return obs_source_get_ref(verticalTransitions.sourceByUuid(uuid));
	}
	// Whether the listed transition runs for a length of its own.
	bool isTransitionFixed(const QString &uuid) const { return verticalTransitions.isFixed(uuid); }
	// Uuid of the selected transition.
	QString selectedTransitionUuid() const { return verticalTransitions.selected(); }
	// Selects a listed transition (active at once, or once the running one and any swap end).
	void selectTransition(const QString &uuid) { verticalTransitions.select(uuid); }
	// The switch length in ms.
	int transitionDuration() const { return verticalTransitions.duration(); }
	// Sets the switch length in ms.
	void setTransitionDuration(int ms) { verticalTransitions.setDuration(ms); }
	// Adds and selects a transition of that type and name.
	bool addTransition(const QString &typeId, const QString &name) { return verticalTransitions.add(typeId, name); }
	// Renames a listed transition.
	bool renameTransition(const QString &uuid, const QString &name)
	{
		return verticalTransitions.rename(uuid, name);
	}
	// Removes an added transition.
	bool removeTransition(const QString &uuid) { return verticalTransitions.remove(uuid); }
	// Whether switches following the main canvas use copies of its transitions.
	void setMatchMainTransition(bool enabled) { verticalTransitions.setMatchMain(enabled); }
	// A scene's own transition, empty for none.
	QString sceneTransitionOverride(obs_source_t *scene) const { return verticalTransitions.sceneOverride(scene); }
	// A scene's own switch length, or the list's.
	int sceneTransitionDuration(obs_source_t *scene) const { return verticalTransitions.sceneDuration(scene); }
	// Gives a vertical scene a transition and length of its own (an empty uuid for the selection).
	void setSceneTransitionOverride(obs_source_t *scene, const QString &uuid, int ms);
	// Makes the copy of a main transition ahead of the switch that will use it.
	void prepareMainTransitionClone(obs_source_t *mainTransition, obs_data_t *settings)
	{
		verticalTransitions.prepareMainClone(mainTransition, settings);
	}
	// The transition on the canvas's channel, borrowed, or null.
	obs_source_t *activeTransitionSource() const { return verticalTransitions.active(); }
	// The transition and length a switch to scene would use.
	TransitionChoice chooseTransition(obs_source_t *scene, int mainDurationMs, obs_source_t *mainTransition,
					  bool followMain, obs_data_t *mainSettings)
	{
		return verticalTransitions.choose(scene, mainDurationMs, mainTransition, followMain, mainSettings);
	}
	// Runs a chosen transition to scene and logs it.
	bool startTransition(obs_source_t *scene, const TransitionChoice &choice, const QString &trigger)
	{
		return verticalTransitions.start(scene, choice, trigger);
	}
	// Makes source the active transition unless the active one runs.
	bool activateTransition(obs_source_t *source) { return verticalTransitions.activate(source); }

	// Links to main scenes: a main scene's uuid, "same-name", or empty for none (CanvasManager_Links.cpp).
	// The link stored on a scene.
	QString sceneLink(obs_source_t *scene) const;
	// Stores a link on a vertical scene (empty removes it) and saves.
	void setSceneLink(obs_source_t *scene, const QString &link);

signals:
	// The canvas came, went or was replaced, or its size changed.
	void canvasChanged();
	// Scenes were added, removed, renamed or reordered.
	void scenesChanged();
	// The program scene changed.
	void currentSceneChanged();
	// Studio mode was turned on or off.
	void studioModeChanged();
	// The preview scene changed.
	void previewSceneChanged();
	// The scene the docks edit changed.
	void editingSceneChanged();
	// The selected item changed.
	void itemSelectionChanged();
	// The guide settings changed (the settings dialog emits it).
	void guidesChanged();
	// The transition list changed (VerticalTransitions emits it too).
	void transitionsChanged();
	// The selection, the length or a transition's settings changed (VerticalTransitions emits it too).
	void transitionSettingsChanged();

private:
	// Only instance() makes one.
	CanvasManager();

	// Canvas lifetime (CanvasManager.cpp)
	// OBS's video settings with that base and output size.
	obs_video_info videoInfoFor(uint32_t width, uint32_t height) const;
	// Everything that shows the canvas looks again.
	void emitCanvasStateSignals();
	// Removes the scenes of a canvas OBS has dropped, the way OBS removes its own.
	void removeScenesOf(obs_canvas_t *canvas);
	// Moves the scenes into a new canvas of that video and audio mixing, which takes the old one's
	// place; refused while a vertical output runs.
	bool replaceCanvas(obs_video_info &ovi, bool mixAudio);

	// Scenes and selection (CanvasManager_Scenes.cpp)
	// The first vertical scene match accepts, new reference, or null.
	template<class Match> obs_source_t *findScene(Match &&match) const;
	// Whether scene is a scene of the canvas.
	bool isVerticalScene(obs_source_t *scene) const;

	// Switching and studio mode (CanvasManager_Switching.cpp)
	// A running studio swap will not happen.
	void abandonStudioSwap() { studioSwap.abandon(); }
	// Shows the remembered program scene, or the first scene, on a canvas just readied.
	void restoreCurrentScene();
	// Sets the collection's preview scene, or the program scene, in studio mode.
	void restorePreviewScene();

	// The vertical canvas; null before the first and between collections.
	OBSCanvas canvasRef;
	// Its uuid; from a loaded collection before the canvas is found.
	QString canvasUuid;
	// True while an output encodes the canvas (wired by the plug-in; unset means never busy).
	std::function<bool()> outputsBusy;
	// Scene uuids in the user's order; scenes missing from it follow in the canvas's order.
	QStringList sceneOrder;
	// Uuid of the program scene; from a loaded collection until the canvas is there.
	QString currentUuid;
	// The studio-mode preview scene, shown (obs_source_inc_showing) while set; weak, the canvas owns it.
	OBSWeakSource previewWeak;
	// Uuid of the preview scene; empty for none.
	QString previewUuid;
	// The loaded collection's preview scene, set once studio mode and the canvas are there.
	QString savedPreviewUuid;
	// Studio mode, as OBS's front end reports it.
	bool studio = false;
	// A loaded collection's preview scene is still to be restored.
	bool restorePending = false;
	// Canvas width from the loaded collection; zero for the configured one.
	uint32_t storedWidth = 0;
	// Canvas height from the loaded collection; zero for the configured one.
	uint32_t storedHeight = 0;
	// The collection object as loaded: written back unchanged while there is no canvas to describe,
	// so that a save after a failed canvas creation keeps the user's transitions and order.
	OBSData loadedObject;
	// Id of the selected item of the editing scene, -1 for none; the preview reads it while drawing.
	std::atomic<int64_t> selectedItem_{-1};
	// The running studio swap and the generation of the newest switch.
	StudioSwap studioSwap;
	// The transition list, the main-transition copies and the active transition; uses studioSwap.
	VerticalTransitions verticalTransitions;
	// The canvases retired by moves into new ones.
	CanvasMigration migration;
};

} // namespace stilwane
