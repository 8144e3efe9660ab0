// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include <obs-frontend-api.h>
#include <obs.hpp>

namespace stilwane {

// One switch of the main canvas to follow: built on a libobs thread or the user-interface thread and
// moved into queued work.
struct LinkRequest {
	QString mainUuid;       // the main scene switched to
	QString mainName;       // its name, for a main scene found by name only
	QString transitionName; // the main transition's name ("" for an immediate request)
	OBSSource transition;   // the main transition, null for an immediate request
	OBSData settings;       // a copy of the main transition's settings
	QString fromUuid;       // the main scene the transition started from
	QString fromName;
	bool isCut = false;    // the main transition is a cut
	int durationMs = 0;    // the front end's transition duration when the request was built
	uint64_t queuedNs = 0; // os_gettime_ns() when queued, 0 when applied at once
};

// Makes the vertical canvas follow the main canvas through the links stored on vertical scenes (a main
// scene's uuid, "same-name", or nothing): when OBS switches its program scene, or in studio mode its
// preview scene, the vertical canvas switches to the linked vertical scene, with a copy of the main
// transition when "match_main_transition" is on. libobs raises the main transitions' signals on its own
// threads: the handlers only capture values and queue work to the user-interface thread, and counters
// drop work that a newer transition or a collection change made stale.
class SceneLinker : public QObject {
	Q_OBJECT

public:
	static SceneLinker *instance();

	// Module load and unload: the linker's own front-end event callback.
	void start();
	void stop();
	// Every canvas ready sequence: follow again, and apply the main program scene at once.
	void resume();
	// Every collection change, clean-up, exit and unload: stop following; queued work is dropped.
	void suspend();
	bool isSuspended() const { return !active.load(); }
	bool isStarted() const { return started.load(); }

	// The front end's SCENE_CHANGED and PREVIEW_SCENE_CHANGED.
	void followProgramScene(const char *trigger);
	void followPreviewScene();

	// The uuid of the vertical scene linked to a main scene, or "": a link by uuid wins, else the first
	// "same-name" scene of that name in the vertical order.
	QString linkedVerticalScene(obs_source_t *mainScene) const;
	// The vertical switch's duration for a followed main transition to that main scene: 0 for a cut;
	// else the request's, or the main scene's own transition duration (300 when unset) when the main
	// scene names the running transition as its own.
	static int followedDuration(const LinkRequest &request, obs_source_t *mainScene);
	// Switches the vertical canvas as the request says (immediate: no main transition).
	void applyLink(const LinkRequest &request, bool immediate, const QString &trigger);

signals:
	// A link switched a vertical scene (trigger: "transition_start", "transition_stop", "scene_changed").
	void linkFollowed(const QString &sceneUuid, const QString &sceneName, const QString &mainSceneUuid,
			  const QString &trigger);

private:
	SceneLinker() = default;

	static void onFrontendEvent(enum obs_frontend_event event, void *param);
	// libobs threads.
	static void onTransitionStart(void *param, calldata_t *data);
	static void onTransitionStop(void *param, calldata_t *data);
	static void onTransitionUpdate(void *param, calldata_t *data);

	// libobs threads: the signal's transition is the one on the main output. Compared with the pointer
	// kept from the user-interface thread: asking libobs for the output channel here would deadlock,
	// since libobs raises a transition's stop while it renders the output channels under their lock.
	bool isMainOutputTransition(obs_source_t *transition) const
	{
		return transition && transition == outputTransition.load();
	}
	void connectMainTransitions();
	void disconnectMainTransitions();
	// A request for the main program scene as it stands (the transition's active source while one runs).
	static LinkRequest currentProgramRequest();
	static QString mainPreviewUuid();

	std::atomic<bool> started{false};                      // the front-end event callback is registered
	std::atomic<bool> active{false};                       // following, between resume and suspend
	std::atomic<uint64_t> epoch{0};                        // moves at every suspend: older work is dropped
	std::atomic<uint64_t> requestSeq{0};                   // moves at every queued transition start and at suspend
	std::atomic<int> mainDurationMs{300};                  // the front end's transition duration
	std::atomic<obs_source_t *> outputTransition{nullptr}; // identity only: the main output's transition
	std::mutex lock;                                       // makes checking active/epoch and queueing one step
	std::vector<OBSSource> connectedTransitions;           // the main transitions whose signals are connected
	std::vector<OBSSignal> transitionSignals;              // their start, stop and update connections
	QString lastMainPreviewUuid;                           // the main preview scene last seen
	bool studioFollow = false;                             // a followed transition started in vertical studio mode
	QString fromUuid;                                      // the main scene the last followed transition left
	QString fromName;
};

} // namespace stilwane
