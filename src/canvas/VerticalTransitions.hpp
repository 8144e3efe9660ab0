// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QString>
#include <QVector>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include <obs.hpp>

namespace stilwane {

class CanvasManager;
class StudioSwap;

// A vertical transition as the docks and the remote control list it.
struct TransitionInfo {
	QString uuid;         // stable id, saved with the collection
	QString name;         // name shown to the user
	QString typeId;       // libobs transition type
	bool builtIn = false; // fade or cut, which cannot be removed
};

// A transition of the vertical list with the private source that runs it.
struct TransitionEntry {
	// Stable id, saved with the collection; the built-ins have fixed ones.
	QString uuid;
	// Name shown to the user, unique in the list.
	QString name;
	// libobs transition type.
	QString typeId;
	// Fade and cut: always listed, never removed.
	bool builtIn = false;
	// The private transition source. Declared before updateSignal, which must disconnect first.
	OBSSource source;
	// The source's "update": settings edited in OBS's properties dialog are saved.
	OBSSignal updateSignal;
};

// A private copy of one of OBS's main transitions, used while the vertical canvas follows them.
struct MainTransitionClone {
	// Uuid of the main transition copied.
	QString mainUuid;
	// Its settings when copied: other settings make a new copy.
	QString settingsJson;
	// The copy.
	OBSSource source;
};

// The transition a switch will use, borrowed from the list or the clones, with its length.
struct TransitionChoice {
	obs_source_t *transition = nullptr; // borrowed; null when there is none to use
	int durationMs = 0;                 // length of the switch
	QString label;                      // why it was chosen, for the log: override, main or vertical
};

// The log line of a fixed-duration transition, written when its video stops with the real length.
struct PendingTransitionLog {
	uint64_t startNs = 0; // start of the transition, os_gettime_ns()
	QString name;         // the transition's name
	QString typeId;       // its libobs type
	QString sceneName;    // the scene switched to
	QString label;        // TransitionChoice::label
	QString trigger;      // what asked for the switch
};

inline constexpr const char *kFadeUuid = "stilwane.fade";
inline constexpr const char *kCutUuid = "stilwane.cut";
inline constexpr int kMaxTransitionMs = 20000;

// The transitions of the vertical canvas: the user's list (fade and cut built in), the copies of OBS's
// main transitions, and the active transition on the canvas's channel 0, which every switch runs
// through. A new selection made while a transition runs or a studio swap is under way waits for their
// end. Part of CanvasManager, whose signals it emits and whose canvas and scenes it uses. User-interface
// thread; libobs signal handlers only queue work to the manager.
class VerticalTransitions {
public:
	// Whether the user's selection is on the canvas.
	enum class Selection {
		Applied, // nothing waits: the selected transition is active, or a switch since chose the active one
		Waiting, // the selected transition takes over once the running one and any studio swap have ended
	};

	// Part of manager, reading swap; both outlive it.
	VerticalTransitions(CanvasManager &manager, const StudioSwap &swap);
	// Out of line: the members' libobs types need their full definitions.
	~VerticalTransitions();
	VerticalTransitions(const VerticalTransitions &) = delete;
	VerticalTransitions &operator=(const VerticalTransitions &) = delete;

	// List (VerticalTransitions_List.cpp)
	// Replaces the list with the built-ins and the transitions saved in data (none for null).
	void build(obs_data_t *data);
	// Writes the list, the selection and the duration into a collection object.
	void save(obs_data_t *data) const;
	// The list in the order shown.
	QVector<TransitionInfo> list() const;
	// The listed transition's source, borrowed (the list holds it), or null.
	obs_source_t *sourceByUuid(const QString &uuid) const;
	// Whether the listed transition runs for a length of its own (a stinger), not the one asked for.
	bool isFixed(const QString &uuid) const;
	// Uuid of the user's selected transition.
	QString selected() const { return selectedUuid; }
	// Selects a listed transition; it becomes active now, or once the running one and any swap end.
	void select(const QString &uuid);
	// The switch length in ms without a scene's own or the main one.
	int duration() const { return durationMs; }
	// Sets that length, clamped to [0, kMaxTransitionMs].
	void setDuration(int ms);
	// Adds and selects a transition of a registered transition type under a name not yet listed.
	bool add(const QString &typeId, const QString &name);
	// Renames a listed transition to a name no other one has.
	bool rename(const QString &uuid, const QString &name);
	// Removes an added transition and the scene overrides naming it; the built-ins stay.
	bool remove(const QString &uuid);
	// Whether switches that follow the main canvas use copies of its transitions (a setting).
	void setMatchMain(bool enabled);
	// A scene's own transition, empty when it has none listed.
	QString sceneOverride(obs_source_t *scene) const;
	// A scene's own switch length, or the list's.
	int sceneDuration(obs_source_t *scene) const;
	// The caller has checked that scene is a vertical scene.
	void setSceneOverride(obs_source_t *scene, const QString &uuid, int ms);
	// Drops the scene overrides naming transitions no longer listed.
	void eraseStaleSceneOverrides();

	// Switching (VerticalTransitions.cpp)
	// Puts the active transition (the selected one if none is) on the canvas's channel 0, building the
	// list first if there is none.
	void attachToCanvas();
	// Takes the active transition off the canvas's channel and lets go of it, then of the list and
	// the clones; nothing waits afterwards.
	void release();
	// The transition on the canvas's channel, borrowed, or null.
	obs_source_t *active() const { return activeSource; }
	// Makes the copy of a main transition ahead of the switch that will use it.
	void prepareMainClone(obs_source_t *mainTransition, obs_data_t *settings);
	// The transition and length of a switch to scene: its own, a copy of the main one, or the selection.
	TransitionChoice choose(obs_source_t *scene, int mainDurationMs, obs_source_t *mainTransition, bool followMain,
				obs_data_t *mainSettings);
	// Runs the choice to scene on the canvas and logs it (a fixed-duration one at its end).
	bool start(obs_source_t *scene, const TransitionChoice &choice, const QString &trigger);
	// Makes source the active transition, keeping the picture; refused while the active one runs.
	bool activate(obs_source_t *source);
	// Writes a waiting log line of a fixed-duration transition, as ended at nowNs.
	void flushPendingLog(uint64_t nowNs);

private:
	// A length within [0, kMaxTransitionMs].
	static int clampDuration(long long ms);
	// The listed transition of that uuid, or null.
	const TransitionEntry *entryByUuid(const QString &uuid) const;
	// The listed transition of that name, or null.
	const TransitionEntry *entryByName(const QString &name) const;
	// Adds a made source to the list and connects its "update".
	TransitionEntry &append(const QString &uuid, const QString &name, const QString &typeId, bool builtIn,
				obs_source_t *source);
	// Removes and lets go of the listed transitions and the copies; nothing waits afterwards.
	void releaseList();
	// Saves the collection when the entry's settings change.
	void connectUpdateSignal(TransitionEntry &entry);
	// A listed transition's settings changed.
	void onUpdated();
	// Whether source is in the list or among the copies.
	bool isListed(obs_source_t *source) const;
	// Activates the selected transition if it can be now; otherwise it keeps waiting.
	void applySelection();
	// Follows the active transition's ends.
	void connectActiveSignals();
	// Stops following them, before another transition becomes active.
	void disconnectActiveSignals();
	// The transition of that uuid ended, video and audio, or was cut short.
	void onStopped(const QString &uuid);
	// The video of the transition of that uuid stopped at atNs, in the switch forGeneration.
	void onVideoStopped(const QString &uuid, uint64_t atNs, uint64_t forGeneration);
	// The copy of mainTransition with those settings (its own when null), borrowed, or null.
	obs_source_t *cloneMain(obs_source_t *mainTransition, obs_data_t *settings);

	// The owner: its canvas, scenes and signals; also the context the signal handlers queue to.
	CanvasManager &manager;
	// Whether a studio swap runs, and the switch generation the end reports carry.
	const StudioSwap &swap;
	// The user's list, built-ins first, in the order shown.
	std::vector<std::unique_ptr<TransitionEntry>> entries;
	// Copies of OBS's main transitions, one per main transition followed.
	std::vector<MainTransitionClone> clones;
	// The transition on the canvas's channel 0: a listed one or a clone.
	OBSSource activeSource;
	// Uuid of the user's selected transition.
	QString selectedUuid = kFadeUuid;
	// The switch length used without a scene's own or the main one.
	int durationMs = 300;
	// Whether the selection still waits to become active.
	Selection selection = Selection::Applied;
	// The line of a running fixed-duration transition, written at its end.
	std::optional<PendingTransitionLog> pendingLog;
	// The active transition's "transition_video_stop": ends a studio swap and writes the pending log.
	OBSSignal videoStopSignal;
	// The active transition's "transition_stop": lets a waiting selection take over.
	OBSSignal stopSignal;
};

} // namespace stilwane
