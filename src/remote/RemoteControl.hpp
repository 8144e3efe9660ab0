// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include <common/Result.hpp>

#include <obs.hpp>

namespace stilwane {

// Remote control of the vertical canvas and its outputs through OBS's bundled obs-websocket, whose own
// requests reach neither the scenes of a canvas other than the main one nor the plug-in's outputs: the
// vendor "stilwane" with its requests and events. All state lives on the user-interface thread;
// obs-websocket calls vendor requests on its own threads, so those hand the work over and wait for it
// with a bounded wait.
class RemoteControl : public QObject {
	Q_OBJECT

public:
	static constexpr const char *kVendorName = "stilwane";
	static constexpr int kDefaultWaitMs = 5000;

	// The first call creates the object and must come from the user-interface thread, whose event loop
	// runs the requests.
	static RemoteControl *instance();

	// Registers the vendor and its requests with obs-websocket when it is there, and follows the canvas
	// manager for the events. Meant for obs_module_post_load: obs-websocket accepts vendors only once
	// every module is loaded.
	void start();
	// From here on every request is refused and requests still waiting are answered at once.
	// unregisterRequests: also withdraw the requests from obs-websocket, which is only safe while
	// obs-websocket is still loaded (at OBS's EXIT event, not at module unload).
	void stop(bool unregisterRequests);
	bool isRegistered() const { return vendor != nullptr; }
	bool isStopped() const { return stopped.load(); }

	// Runs the request on the calling thread, which must be the user-interface thread, and fills
	// response with "success" and either the request's fields or "error" (English words) and "code"
	// (one of obs-websocket's request status numbers, see Result). request may be null.
	void handle(const char *requestType, obs_data_t *request, obs_data_t *response);

	// The callback registered with obs-websocket for every request; typeName is the request type (a C
	// string). Any thread: off the user-interface thread the request is queued to it and waited for.
	static void vendorRequest(obs_data_t *request, obs_data_t *response, void *typeName);

	static QStringList requestTypes();

	// How long a request from another thread waits for the user-interface thread. Any thread.
	void setWaitTimeout(int ms) { waitMs.store(ms); }
	int waitTimeout() const { return waitMs.load(); }
	// Requests from other threads that wait for the user-interface thread right now. Any thread.
	size_t pendingCount() const;

signals:
	// Every vendor event as it goes to obs-websocket (also when obs-websocket is absent); data is the
	// event's JSON.
	void eventEmitted(const QString &eventType, const QString &data);

private:
	struct Job;
	using Handler = Result (RemoteControl::*)(obs_data_t *request, obs_data_t *response);
	struct RequestEntry {
		const char *type;
		Handler handler;
	};
	static const RequestEntry requestTable[];

	RemoteControl() = default;

	void dispatch(const char *requestType, obs_data_t *request, obs_data_t *response);
	void runJob(const std::shared_ptr<Job> &job);
	void cancelPendingJobs();
	void connectCanvasSignals();
	void emitEvent(const char *eventType, obs_data_t *data);
	void deliverEvent(const QByteArray &eventType, const QByteArray &json);
	void onCanvasChanged();
	void onScenesChanged();
	void onCurrentSceneChanged();
	void onPreviewSceneChanged();
	void onStudioModeChanged();
	// obs-websocket 5's transition events, in RemoteControl_WebSocket5.cpp.
	void onTransitionSettingsChanged();
	void onLinkFollowed(const QString &sceneUuid, const QString &sceneName, const QString &mainSceneUuid,
			    const QString &trigger);
	void connectOutputSignals();
	// destination: the stream destination the change is of; left out when empty.
	void emitOutputState(const char *output, int state, const char *stateName,
			     const QString &destination = QString());
	// A failed save has an empty path and the reason in "error".
	void emitFileSaved(const char *output, const QString &path, const QString &error = QString());

	// The requests, in RemoteControl_Requests.cpp. Each returns why it refused, or success.
	Result getCanvas(obs_data_t *request, obs_data_t *response);
	Result getSceneList(obs_data_t *request, obs_data_t *response);
	Result setCurrentScene(obs_data_t *request, obs_data_t *response);
	Result setPreviewScene(obs_data_t *request, obs_data_t *response);
	Result transitionToProgram(obs_data_t *request, obs_data_t *response);
	Result createScene(obs_data_t *request, obs_data_t *response);
	Result renameScene(obs_data_t *request, obs_data_t *response);
	Result removeScene(obs_data_t *request, obs_data_t *response);
	Result moveScene(obs_data_t *request, obs_data_t *response);
	Result generateScene(obs_data_t *request, obs_data_t *response);
	Result getTransitionList(obs_data_t *request, obs_data_t *response);
	Result setCurrentTransition(obs_data_t *request, obs_data_t *response);
	Result setTransitionDuration(obs_data_t *request, obs_data_t *response);
	Result getSceneItemList(obs_data_t *request, obs_data_t *response);
	Result setSceneLink(obs_data_t *request, obs_data_t *response);
	Result setSceneSceneTransitionOverride(obs_data_t *request, obs_data_t *response);
	// An item's position, scale and crop, in RemoteControl_Transform.cpp.
	Result setSceneItemTransform(obs_data_t *request, obs_data_t *response);
	// Adding, renaming and removing vertical transitions, in RemoteControl_Transitions.cpp.
	Result addTransition(obs_data_t *request, obs_data_t *response);
	Result renameTransition(obs_data_t *request, obs_data_t *response);
	Result removeTransition(obs_data_t *request, obs_data_t *response);
	// A projector window or full-screen projector, in RemoteControl_Projectors.cpp.
	Result openProjector(obs_data_t *request, obs_data_t *response);
	// obs-websocket 5's requests that have no older name here, in RemoteControl_WebSocket5.cpp.
	Result getCurrentProgramScene(obs_data_t *request, obs_data_t *response);
	Result getCurrentPreviewScene(obs_data_t *request, obs_data_t *response);
	Result getCurrentSceneTransition(obs_data_t *request, obs_data_t *response);
	Result getSceneItemTransform(obs_data_t *request, obs_data_t *response);
	Result getSceneSceneTransitionOverride(obs_data_t *request, obs_data_t *response);
	Result getStreamStatus(obs_data_t *request, obs_data_t *response);
	Result getRecordStatus(obs_data_t *request, obs_data_t *response);
	Result getReplayBufferStatus(obs_data_t *request, obs_data_t *response);
	Result toggleStream(obs_data_t *request, obs_data_t *response);
	Result toggleRecord(obs_data_t *request, obs_data_t *response);
	Result toggleReplayBuffer(obs_data_t *request, obs_data_t *response);
	// obs-websocket 5's input requests on the vertical volume and mute, in RemoteControl_Audio.cpp.
	Result getInputVolume(obs_data_t *request, obs_data_t *response);
	Result getInputMute(obs_data_t *request, obs_data_t *response);
	Result setInputMute(obs_data_t *request, obs_data_t *response);
	Result toggleInputMute(obs_data_t *request, obs_data_t *response);
	// The vertical outputs, in RemoteControl_Outputs.cpp.
	Result getOutputStatus(obs_data_t *request, obs_data_t *response);
	Result startStream(obs_data_t *request, obs_data_t *response);
	Result stopStream(obs_data_t *request, obs_data_t *response);
	Result startRecord(obs_data_t *request, obs_data_t *response);
	Result stopRecord(obs_data_t *request, obs_data_t *response);
	Result startReplayBuffer(obs_data_t *request, obs_data_t *response);
	Result stopReplayBuffer(obs_data_t *request, obs_data_t *response);
	Result saveReplayBuffer(obs_data_t *request, obs_data_t *response);
	// The stream destinations, in RemoteControl_Destinations.cpp.
	Result getDestinations(obs_data_t *request, obs_data_t *response);
	Result setDestination(obs_data_t *request, obs_data_t *response);
	Result removeDestination(obs_data_t *request, obs_data_t *response);
	Result startDestination(obs_data_t *request, obs_data_t *response);
	Result stopDestination(obs_data_t *request, obs_data_t *response);
	// The vertical audio, in RemoteControl_Audio.cpp.
	Result getAudioSources(obs_data_t *request, obs_data_t *response);
	Result setSourceVertical(obs_data_t *request, obs_data_t *response);
	Result setSourceSeparate(obs_data_t *request, obs_data_t *response);
	Result setSourceVerticalVolume(obs_data_t *request, obs_data_t *response);
	Result splitAudioTrack(obs_data_t *request, obs_data_t *response);
	Result enableAudioMix(obs_data_t *request, obs_data_t *response);
	void connectAudioSignals();
	// Folds a burst of audio changes into one AudioChanged event, at most one per kAudioEventSpacingMs.
	void noteAudioChange(const QString &sourceUuid);
	void flushAudioChange();

	void *vendor = nullptr;
	bool requestsRegistered = false;
	bool signalsConnected = false;
	QString announcedCanvas;
	QString announcedCurrent;
	QString announcedPreview;
	QString announcedTransition;
	int announcedDuration = -1;
	std::atomic<bool> stopped{true};
	std::atomic<bool> everStarted{false};
	std::atomic<int> waitMs{kDefaultWaitMs};
	mutable std::mutex pendingMutex;
	std::vector<std::shared_ptr<Job>> pending;
	// The AudioChanged event waiting to go: one source's uuid, or every source (a split, the mix, or
	// several sources in one burst).
	static constexpr int kAudioEventSpacingMs = 100;
	bool audioChangePending = false;
	bool audioChangeAll = false;
	QString audioChangeSource;
	bool audioFlushQueued = false;
	int64_t lastAudioEventMs = -1;
};

} // namespace stilwane
