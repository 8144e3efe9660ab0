#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include <obs.hpp>

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
	// response with "success" and either "error" or the request's fields. request may be null.
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
	using Handler = QString (RemoteControl::*)(obs_data_t *request, obs_data_t *response);
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
	void connectOutputSignals();
	void emitOutputState(const char *output, int state, const char *stateName);
	void emitFileSaved(const char *output, const QString &path);

	// The requests, in RemoteControl_Requests.cpp. Each returns an error text, empty on success.
	QString getCanvas(obs_data_t *request, obs_data_t *response);
	QString getSceneList(obs_data_t *request, obs_data_t *response);
	QString setCurrentScene(obs_data_t *request, obs_data_t *response);
	QString setPreviewScene(obs_data_t *request, obs_data_t *response);
	QString transitionToProgram(obs_data_t *request, obs_data_t *response);
	QString createScene(obs_data_t *request, obs_data_t *response);
	QString renameScene(obs_data_t *request, obs_data_t *response);
	QString removeScene(obs_data_t *request, obs_data_t *response);
	QString moveScene(obs_data_t *request, obs_data_t *response);
	QString generateScene(obs_data_t *request, obs_data_t *response);
	QString getTransitionList(obs_data_t *request, obs_data_t *response);
	QString setCurrentTransition(obs_data_t *request, obs_data_t *response);
	QString setTransitionDuration(obs_data_t *request, obs_data_t *response);
	QString getSceneItemList(obs_data_t *request, obs_data_t *response);
	// The vertical outputs, in RemoteControl_Outputs.cpp.
	QString getOutputStatus(obs_data_t *request, obs_data_t *response);
	QString startStream(obs_data_t *request, obs_data_t *response);
	QString stopStream(obs_data_t *request, obs_data_t *response);
	QString startRecord(obs_data_t *request, obs_data_t *response);
	QString stopRecord(obs_data_t *request, obs_data_t *response);
	QString startReplayBuffer(obs_data_t *request, obs_data_t *response);
	QString stopReplayBuffer(obs_data_t *request, obs_data_t *response);
	QString saveReplayBuffer(obs_data_t *request, obs_data_t *response);

	void *vendor = nullptr;
	bool requestsRegistered = false;
	bool signalsConnected = false;
	QString announcedCanvas;
	QString announcedCurrent;
	QString announcedPreview;
	std::atomic<bool> stopped{true};
	std::atomic<bool> everStarted{false};
	std::atomic<int> waitMs{kDefaultWaitMs};
	mutable std::mutex pendingMutex;
	std::vector<std::shared_ptr<Job>> pending;
};
