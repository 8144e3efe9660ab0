// SPDX-License-Identifier: GPL-2.0-or-later
#include <remote/RemoteControl.hpp>

#include <canvas/CanvasManager.hpp>
#include <canvas/SceneLinker.hpp>
#include <common/Module.hpp>

#include <QMetaObject>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <string>

#include <obs-websocket-api.h>

namespace stilwane {

namespace {

constexpr const char *kShuttingDown = "Stilwane is shutting down";
constexpr const char *kNotStarted = "Stilwane's remote control has not started yet";
constexpr const char *kRenderThread =
	"Stilwane's requests cannot run on OBS's graphics thread, where obs-websocket runs SerialFrame batches: "
	"send the request on its own or in a SerialRealtime batch";

void setFailure(obs_data_t *response, const Result &failure)
{
	obs_data_clear(response);
	obs_data_set_bool(response, "success", false);
	obs_data_set_string(response, "error", failure.englishText().toUtf8().constData());
	obs_data_set_int(response, "code", failure.code());
	// obs-websocket 5's name for it, which controllers written against obs-websocket read.
	obs_data_set_int(response, "errorCode", failure.code());
}

Result notReady(const char *text)
{
	return Result::plain(Result::NotReady, text);
}

} // namespace

// One request handed from an obs-websocket thread to the user-interface thread. The waiting thread
// and the job share only this state: the request goes in and the response comes out as JSON text, so
// a job that runs after its waiter gave up touches nothing the waiter owned.
struct RemoteControl::Job {
	enum class State { Queued, Running, Done, Abandoned, Cancelled };

	std::mutex mutex;
	std::condition_variable changed;
	State state = State::Queued;
	std::string type;
	std::string requestJson;
	std::string responseJson;
};

RemoteControl *RemoteControl::instance()
{
	static RemoteControl *control = new RemoteControl();
	return control;
}

QStringList RemoteControl::requestTypes()
{
	QStringList types;
	for (const RequestEntry *entry = requestTable; entry->type; entry++)
		types.append(QString::fromUtf8(entry->type));
	return types;
}

void RemoteControl::start()
{
	connectCanvasSignals();
	everStarted.store(true);
	stopped.store(false);

	if (!vendor)
		vendor = obs_websocket_register_vendor(kVendorName);
	if (!vendor) {
		stilwaneLog(LOG_INFO, "obs-websocket not available: remote control off");
		return;
	}
	if (requestsRegistered)
		return;
	for (const RequestEntry *entry = requestTable; entry->type; entry++) {
		// The type name doubles as the callback's private data: it outlives every call.
		if (obs_websocket_vendor_register_request(vendor, entry->type, vendorRequest,
							  const_cast<char *>(entry->type)))
			requestsRegistered = true;
		else
			stilwaneLog(LOG_WARNING, "obs-websocket refused the request %s", entry->type);
	}
	if (requestsRegistered)
		stilwaneLog(LOG_INFO, "remote control registered with obs-websocket");
}

void RemoteControl::stop(bool unregisterRequests)
{
	{
		// Under the lock, so that no request is queued between the flag and the cancellation.
		std::lock_guard<std::mutex> lock(pendingMutex);
		stopped.store(true);
	}
	cancelPendingJobs();
	if (unregisterRequests && vendor && requestsRegistered) {
		for (const RequestEntry *entry = requestTable; entry->type; entry++)
			obs_websocket_vendor_unregister_request(vendor, entry->type);
		requestsRegistered = false;
	}
}

size_t RemoteControl::pendingCount() const
{
	std::lock_guard<std::mutex> lock(pendingMutex);
	return pending.size();
}

void RemoteControl::cancelPendingJobs()
{
	std::vector<std::shared_ptr<Job>> jobs;
	{
		std::lock_guard<std::mutex> lock(pendingMutex);
		jobs = pending;
	}
	for (const std::shared_ptr<Job> &job : jobs) {
		std::lock_guard<std::mutex> lock(job->mutex);
		if (job->state == Job::State::Queued) {
			job->state = Job::State::Cancelled;
			job->changed.notify_all();
		}
	}
}

void RemoteControl::vendorRequest(obs_data_t *request, obs_data_t *response, void *typeName)
{
	instance()->dispatch(static_cast<const char *>(typeName), request, response);
}

// Any thread.
void RemoteControl::dispatch(const char *requestType, obs_data_t *request, obs_data_t *response)
{
	if (stopped.load()) {
		setFailure(response, notReady(everStarted.load() ? kShuttingDown : kNotStarted));
		return;
	}
	if (QThread::currentThread() == thread()) {
		handle(requestType, request, response);
		return;
	}
	// obs-websocket runs SerialFrame batches on the graphics thread: waiting there for the
	// user-interface thread would stop all rendering, both canvases and every stream with them.
	if (obs_in_task_thread(OBS_TASK_GRAPHICS) || obs_in_task_thread(OBS_TASK_AUDIO)) {
		setFailure(response, Result::plain(Result::UnsupportedBatchExecutionType, kRenderThread));
		return;
	}

	auto job = std::make_shared<Job>();
	job->type = requestType ? requestType : "";
	job->requestJson = request ? obs_data_get_json(request) : "{}";
	{
		std::lock_guard<std::mutex> lock(pendingMutex);
		if (stopped.load()) {
			setFailure(response, notReady(kShuttingDown));
			return;
		}
		pending.push_back(job);
	}
	QMetaObject::invokeMethod(this, [this, job]() { runJob(job); }, Qt::QueuedConnection);

	Job::State outcome;
	bool started = false;
	std::string result;
	{
		std::unique_lock<std::mutex> lock(job->mutex);
		auto settled = [&job]() {
			return job->state == Job::State::Done || job->state == Job::State::Cancelled;
		};
		auto timeout = std::chrono::milliseconds(std::max(0, waitMs.load()));
		if (!job->changed.wait_for(lock, timeout, settled)) {
			// A job that already runs finishes soon: the user-interface thread is inside it.
			started = job->state == Job::State::Running;
			if (started)
				job->changed.wait_for(lock, timeout, settled);
			if (job->state == Job::State::Queued || job->state == Job::State::Running)
				job->state = Job::State::Abandoned;
		}
		outcome = job->state;
		result = job->responseJson;
	}
	{
		std::lock_guard<std::mutex> lock(pendingMutex);
		std::erase(pending, job);
	}

	if (outcome == Job::State::Done) {
		OBSDataAutoRelease answer = obs_data_create_from_json(result.c_str());
		obs_data_clear(response);
		obs_data_apply(response, answer);
	} else if (outcome == Job::State::Cancelled) {
		setFailure(response, notReady(kShuttingDown));
	} else if (started) {
		setFailure(
			response,
			Result::plain(Result::RequestProcessingFailed,
				      QString("OBS did not finish the request within %1 ms; it may still take effect")
					      .arg(2 * waitMs.load())));
	} else {
		setFailure(response,
			   Result::plain(Result::RequestProcessingFailed,
					 QString("OBS did not run the request within %1 ms; it was not carried out")
						 .arg(waitMs.load())));
	}
}

void RemoteControl::runJob(const std::shared_ptr<Job> &job)
{
	{
		std::lock_guard<std::mutex> lock(job->mutex);
		if (job->state != Job::State::Queued)
			return;
		job->state = Job::State::Running;
	}
	OBSDataAutoRelease request = obs_data_create_from_json(job->requestJson.c_str());
	OBSDataAutoRelease response = obs_data_create();
	handle(job->type.c_str(), request, response);
	std::string json = obs_data_get_json(response);

	std::lock_guard<std::mutex> lock(job->mutex);
	job->responseJson = std::move(json);
	if (job->state == Job::State::Running)
		job->state = Job::State::Done;
	job->changed.notify_all();
}

void RemoteControl::handle(const char *requestType, obs_data_t *request, obs_data_t *response)
{
	// Every refusal goes to the log, so that a user can see why a controller's button did nothing.
	const auto refuse = [&](const Result &failure) {
		stilwaneLog(LOG_INFO, "remote request %s refused (%d): %s", requestType ? requestType : "",
			    failure.code(), failure.englishText().toUtf8().constData());
		setFailure(response, failure);
	};
	if (stopped.load()) {
		refuse(notReady(everStarted.load() ? kShuttingDown : kNotStarted));
		return;
	}
	const RequestEntry *found = nullptr;
	for (const RequestEntry *entry = requestTable; entry->type && !found; entry++) {
		if (requestType && strcmp(entry->type, requestType) == 0)
			found = entry;
	}
	if (!found) {
		refuse(Result::plain(Result::UnknownRequestType,
				     QString("unknown request type '%1'").arg(QString::fromUtf8(requestType))));
		return;
	}
	if (!CanvasManager::instance()->hasCanvas()) {
		refuse(notReady("the vertical canvas is not available (OBS is loading or switching collections)"));
		return;
	}

	OBSDataAutoRelease empty = request ? nullptr : obs_data_create();
	obs_data_clear(response);
	obs_data_set_bool(response, "success", true);
	const Result result = (this->*found->handler)(request ? request : empty.Get(), response);
	if (!result)
		refuse(result);
}

// ---- events

void RemoteControl::connectCanvasSignals()
{
	if (signalsConnected)
		return;
	signalsConnected = true;
	CanvasManager *manager = CanvasManager::instance();
	connect(manager, &CanvasManager::canvasChanged, this, &RemoteControl::onCanvasChanged);
	connect(manager, &CanvasManager::scenesChanged, this, &RemoteControl::onScenesChanged);
	connect(manager, &CanvasManager::currentSceneChanged, this, &RemoteControl::onCurrentSceneChanged);
	connect(manager, &CanvasManager::previewSceneChanged, this, &RemoteControl::onPreviewSceneChanged);
	connect(manager, &CanvasManager::studioModeChanged, this, &RemoteControl::onStudioModeChanged);
	connect(manager, &CanvasManager::transitionSettingsChanged, this, &RemoteControl::onTransitionSettingsChanged);
	connect(manager, &CanvasManager::transitionsChanged, this, &RemoteControl::onTransitionSettingsChanged);
	connect(SceneLinker::instance(), &SceneLinker::linkFollowed, this, &RemoteControl::onLinkFollowed);
	connectOutputSignals();
	connectAudioSignals();
	// The state the manager already has counts as announced.
	if (manager->hasCanvas())
		announcedCanvas = QString::fromUtf8(obs_canvas_get_uuid(manager->canvas()));
	announcedCurrent = manager->currentSceneUuid();
	announcedPreview = manager->previewSceneUuid();
	announcedTransition = manager->selectedTransitionUuid();
	announcedDuration = manager->transitionDuration();
}

// Sent once the current front-end event has gone to every module: during a collection switch or
// the start-up load obs-websocket drops events until its own handler has seen the collection.
void RemoteControl::emitEvent(const char *eventType, obs_data_t *data)
{
	if (stopped.load())
		return;
	QByteArray type(eventType);
	QByteArray json(obs_data_get_json(data));
	QMetaObject::invokeMethod(this, [this, type, json]() { deliverEvent(type, json); }, Qt::QueuedConnection);
}

void RemoteControl::deliverEvent(const QByteArray &eventType, const QByteArray &json)
{
	if (stopped.load())
		return;
	if (vendor) {
		OBSDataAutoRelease data = obs_data_create_from_json(json.constData());
		obs_websocket_vendor_emit_event(vendor, eventType.constData(), data);
	}
	emit eventEmitted(QString::fromUtf8(eventType), QString::fromUtf8(json));
}

// Announced once each time the canvas becomes available, not on every change of its size: a
// collection switch releases the canvas first, so coming back to a collection announces its canvas
// again even though its uuid is the same.
void RemoteControl::onCanvasChanged()
{
	CanvasManager *manager = CanvasManager::instance();
	if (!manager->hasCanvas()) {
		announcedCanvas.clear();
		return;
	}
	QString uuid = QString::fromUtf8(obs_canvas_get_uuid(manager->canvas()));
	if (uuid == announcedCanvas)
		return;
	announcedCanvas = uuid;
	OBSDataAutoRelease data = obs_data_create();
	obs_data_set_string(data, "canvasUuid", uuid.toUtf8().constData());
	emitEvent("CanvasReady", data);
}

void RemoteControl::onScenesChanged()
{
	OBSDataAutoRelease data = obs_data_create();
	emitEvent("SceneListChanged", data);
}

namespace {

obs_data_t *sceneEventData(obs_source_t *scene)
{
	obs_data_t *data = obs_data_create();
	obs_data_set_string(data, "sceneUuid", scene ? obs_source_get_uuid(scene) : "");
	obs_data_set_string(data, "sceneName", scene ? obs_source_get_name(scene) : "");
	return data;
}

} // namespace

// The manager repeats the signal on every canvas change; only real changes of the scene are events.
void RemoteControl::onCurrentSceneChanged()
{
	CanvasManager *manager = CanvasManager::instance();
	if (manager->currentSceneUuid() == announcedCurrent)
		return;
	announcedCurrent = manager->currentSceneUuid();
	OBSSourceAutoRelease scene = manager->currentScene();
	OBSDataAutoRelease data = sceneEventData(scene);
	emitEvent("CurrentSceneChanged", data);
	emitEvent("CurrentProgramSceneChanged", data);
}

void RemoteControl::onPreviewSceneChanged()
{
	CanvasManager *manager = CanvasManager::instance();
	if (manager->previewSceneUuid() == announcedPreview)
		return;
	announcedPreview = manager->previewSceneUuid();
	OBSSourceAutoRelease scene = manager->previewScene();
	OBSDataAutoRelease data = sceneEventData(scene);
	emitEvent("PreviewSceneChanged", data);
	emitEvent("CurrentPreviewSceneChanged", data);
}

void RemoteControl::onStudioModeChanged()
{
	OBSDataAutoRelease data = obs_data_create();
	obs_data_set_bool(data, "studioMode", CanvasManager::instance()->studioMode());
	emitEvent("StudioModeChanged", data);
	OBSDataAutoRelease state = obs_data_create();
	obs_data_set_bool(state, "studioModeEnabled", CanvasManager::instance()->studioMode());
	emitEvent("StudioModeStateChanged", state);
}

void RemoteControl::onLinkFollowed(const QString &sceneUuid, const QString &sceneName, const QString &mainSceneUuid,
				   const QString &trigger)
{
	OBSDataAutoRelease data = obs_data_create();
	obs_data_set_string(data, "sceneUuid", sceneUuid.toUtf8().constData());
	obs_data_set_string(data, "sceneName", sceneName.toUtf8().constData());
	obs_data_set_string(data, "mainSceneUuid", mainSceneUuid.toUtf8().constData());
	obs_data_set_string(data, "trigger", trigger.toUtf8().constData());
	emitEvent("SceneLinkFollowed", data);
}

} // namespace stilwane
