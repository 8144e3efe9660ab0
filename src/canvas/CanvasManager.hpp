#pragma once

#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>
#include <memory>
#include <vector>
#include <cstdint>

#include <obs.hpp>

struct SceneRef {
	QString uuid;
	QString name;
};

struct TransitionInfo {
	QString uuid;
	QString name;
	QString typeId;
	bool builtIn = false;
};

struct TransitionEntry {
	QString uuid;
	QString name;
	QString typeId;
	bool builtIn = false;
	obs_source_t *source = nullptr; // owned
	OBSSignal updateSignal;
};

struct MainTransitionClone {
	QString mainUuid;
	QString settingsJson;
	obs_source_t *source = nullptr; // owned
};

struct TransitionChoice {
	obs_source_t *transition = nullptr; // borrowed
	int durationMs = 0;
	QString label;
};

struct PendingTransitionLog {
	uint64_t startNs = 0;
	QString name;
	QString typeId;
	QString sceneName;
	QString label;
	QString trigger;
};

struct RetiredCanvasRecord {
	obs_canvas_t *canvas = nullptr;      // owned
	QVector<obs_weak_source_t *> scenes; // owned
};

inline constexpr const char *kCanvasName = "Stilwane Vertical";
inline constexpr const char *kFadeUuid = "stilwane.fade";
inline constexpr const char *kCutUuid = "stilwane.cut";
inline constexpr int kMaxTransitionMs = 20000;

// Owns the vertical canvas, its scenes and their order, the current and preview scene, studio mode,
// the vertical transitions and the selected scene item. Lives on the user-interface thread; libobs
// signal handlers only queue work to it.
class CanvasManager : public QObject {
	Q_OBJECT

public:
	static CanvasManager *instance();
	~CanvasManager() override;

	// Canvas lifetime
	obs_canvas_t *canvas() const { return canvasRef; }
	bool hasCanvas() const;
	uint32_t canvasWidth() const;
	uint32_t canvasHeight() const;
	void ensureCanvas();
	void releaseCanvas();
	bool resizeCanvas(uint32_t width, uint32_t height);
	bool migrateCanvas(bool mixAudio);
	void dropRemovedRetiredCanvases();

	// Collection
	void loadFromCollection(obs_data_t *data);
	void saveToCollection(obs_data_t *data);

	// Scenes
	QVector<SceneRef> scenes();
	obs_source_t *findSceneByUuid(const QString &uuid) const;
	obs_source_t *findSceneByName(const QString &name) const;
	bool sceneNameExists(const QString &name) const;
	QString uniqueSceneName(const QString &base) const;
	obs_scene_t *addScene(const QString &name);
	void removeScene(obs_source_t *scene);
	bool renameScene(obs_source_t *scene, const QString &name);
	void moveScene(const QString &uuid, int offset);

	// Switching and studio mode
	obs_source_t *currentScene() const;
	QString currentSceneUuid() const { return currentUuid; }
	obs_source_t *previewScene() const;
	QString previewSceneUuid() const { return previewUuid; }
	obs_source_t *editingScene() const;
	bool studioMode() const { return studio; }
	void setCurrentScene(obs_source_t *scene, int mainDurationMs = -1, const QString &trigger = QString(),
			     obs_source_t *mainTransition = nullptr, bool followMain = false,
			     obs_data_t *mainSettings = nullptr);
	void setPreviewScene(obs_source_t *scene, const QString &trigger);
	void setStudioMode(bool enabled);
	void transitionToProgram(int mainDurationMs = -1, const QString &trigger = QString(),
				 obs_source_t *mainTransition = nullptr, bool followMain = false,
				 obs_data_t *mainSettings = nullptr);
	void finishStudioSwap(uint64_t forGeneration);
	uint64_t currentGeneration() const { return generation.load(); }

	// Selection
	void selectItem(int64_t id);
	int64_t selectedItemId() const { return selectedItem_.load(); }
	obs_sceneitem_t *selectedItem() const;

	// Transitions
	QVector<TransitionInfo> transitions() const;
	obs_source_t *transitionByUuid(const QString &uuid) const;
	bool isTransitionFixed(const QString &uuid) const;
	QString selectedTransitionUuid() const { return selectedTransition; }
	void selectTransition(const QString &uuid);
	int transitionDuration() const { return transitionDurationMs; }
	void setTransitionDuration(int ms);
	bool addTransition(const QString &typeId, const QString &name);
	bool renameTransition(const QString &uuid, const QString &name);
	bool removeTransition(const QString &uuid);
	void setMatchMainTransition(bool enabled);
	QString sceneTransitionOverride(obs_source_t *scene) const;
	int sceneTransitionDuration(obs_source_t *scene) const;
	void setSceneTransitionOverride(obs_source_t *scene, const QString &uuid, int ms);
	void prepareMainTransitionClone(obs_source_t *mainTransition, obs_data_t *settings);
	obs_source_t *activeTransitionSource() const { return activeTransition; }

	// Links to main scenes: a main scene's uuid, "same-name", or empty for none.
	QString sceneLink(obs_source_t *scene) const;
	void setSceneLink(obs_source_t *scene, const QString &link);

	TransitionChoice chooseTransition(obs_source_t *scene, int mainDurationMs, obs_source_t *mainTransition,
					  bool followMain, obs_data_t *mainSettings);
	bool startTransition(obs_source_t *scene, const TransitionChoice &choice, const QString &trigger);
	bool activateTransition(obs_source_t *source);

signals:
	void canvasChanged();
	void scenesChanged();
	void currentSceneChanged();
	void studioModeChanged();
	void previewSceneChanged();
	void editingSceneChanged();
	void itemSelectionChanged();
	void guidesChanged();
	void transitionsChanged();
	void transitionSettingsChanged();

private:
	CanvasManager() = default;

	obs_video_info videoInfoFor(uint32_t width, uint32_t height) const;
	template<class Match>
	obs_source_t *findScene(Match &&match) const;
	bool isVerticalScene(obs_source_t *scene) const;
	void emitCanvasStateSignals();
	void attachTransitionToCanvas();
	void removeScenesOf(obs_canvas_t *canvas);
	void eraseStaleSceneOverrides();

	// Transitions
	void buildTransitions(obs_data_t *data);
	void releaseTransitions();
	void connectUpdateSignal(TransitionEntry &entry);
	void connectActiveSignals();
	void disconnectActiveSignals();
	const TransitionEntry *entryByUuid(const QString &uuid) const;
	const TransitionEntry *entryByName(const QString &name) const;
	bool isListedTransition(obs_source_t *source) const;
	obs_source_t *cloneMainTransition(obs_source_t *mainTransition, obs_data_t *settings);
	void flushPendingLog(uint64_t nowNs);
	void onTransitionUpdated();
	void onTransitionStopped(const QString &uuid);
	void onTransitionVideoStopped(const QString &uuid, uint64_t atNs, uint64_t forGeneration);

	// Switching
	void abandonStudioSwap();
	void restoreCurrentScene();
	void restorePreviewScene();

	// Migration
	bool moveScenes(obs_canvas_t *from, obs_canvas_t *to);
	void recordRetiredCanvas(obs_canvas_t *canvas);
	void cleanRetiredCanvases();

	obs_canvas_t *canvasRef = nullptr;
	obs_source_t *activeTransition = nullptr;
	QVector<RetiredCanvasRecord> retiredCanvases;
	std::vector<std::unique_ptr<TransitionEntry>> transitionList;
	QString selectedTransition = kFadeUuid;
	int transitionDurationMs = 300;
	QVector<MainTransitionClone> mainTransitionClones;
	bool pendingSelection = false;
	bool logPending = false;
	PendingTransitionLog pendingLog;
	QString canvasUuid;
	QStringList sceneOrder;
	QString currentUuid;
	OBSWeakSource previewWeak;
	QString previewUuid;
	QString savedPreviewUuid;
	QString swapTarget;
	bool studio = false;
	bool restorePending = false;
	bool swapInProgress = false;
	std::atomic<uint64_t> generation{0};
	uint32_t storedWidth = 0;
	uint32_t storedHeight = 0;
	std::atomic<int64_t> selectedItem_{-1};

	OBSSignal activeVideoStopSignal;
	OBSSignal activeStopSignal;
};
