// SPDX-License-Identifier: GPL-2.0-or-later
#include <canvas/SceneLinker.hpp>

#include <canvas/CanvasManager.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Limits.hpp>
#include <common/Module.hpp>

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>

#include <cstring>

#include <util/platform.h>

namespace stilwane {

namespace {

constexpr int kDefaultSceneTransitionMs = 300;

QString uuidOf(obs_source_t *source)
{
	return source ? QString::fromUtf8(obs_source_get_uuid(source)) : QString();
}

QString nameOf(obs_source_t *source)
{
	return source ? QString::fromUtf8(obs_source_get_name(source)) : QString();
}

// The main scene a request names: by uuid, else by name; new reference or null.
obs_source_t *findMainScene(const LinkRequest &request)
{
	obs_frontend_source_list list = {};
	obs_frontend_get_scenes(&list);
	obs_source_t *found = nullptr;
	const QByteArray uuid = request.mainUuid.toUtf8();
	const QByteArray name = request.mainName.toUtf8();
	for (size_t i = 0; i < list.sources.num && !found && !uuid.isEmpty(); i++)
		if (strcmp(obs_source_get_uuid(list.sources.array[i]), uuid.constData()) == 0)
			found = obs_source_get_ref(list.sources.array[i]);
	for (size_t i = 0; i < list.sources.num && !found && !name.isEmpty(); i++)
		if (strcmp(obs_source_get_name(list.sources.array[i]), name.constData()) == 0)
			found = obs_source_get_ref(list.sources.array[i]);
	obs_frontend_source_list_free(&list);
	return found;
}

} // namespace

SceneLinker *SceneLinker::instance()
{
	static SceneLinker *linker = new SceneLinker();
	return linker;
}

void SceneLinker::start()
{
	if (started.exchange(true))
		return;
	obs_frontend_add_event_callback(onFrontendEvent, this);
}

void SceneLinker::stop()
{
	suspend();
	if (started.exchange(false))
		obs_frontend_remove_event_callback(onFrontendEvent, this);
}

void SceneLinker::resume()
{
	if (!started.load())
		return;
	lastMainPreviewUuid = mainPreviewUuid();
	active = true;
	connectMainTransitions();
	applyLink(currentProgramRequest(), true, QStringLiteral("scene_changed"));
}

void SceneLinker::suspend()
{
	{
		std::lock_guard<std::mutex> guard(lock);
		active = false;
		outputTransition = nullptr;
		epoch++;
		requestSeq++;
	}
	disconnectMainTransitions();
	QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
	fromUuid.clear();
	fromName.clear();
	lastMainPreviewUuid.clear();
	studioFollow = false;
}

void SceneLinker::followProgramScene(const char *trigger)
{
	applyLink(currentProgramRequest(), true, QString::fromUtf8(trigger));
}

void SceneLinker::followPreviewScene()
{
	CanvasManager *manager = CanvasManager::instance();
	if (!active.load() || !manager->hasCanvas() || !manager->studioMode())
		return;
	OBSSourceAutoRelease preview = obs_frontend_get_current_preview_scene();
	const QString uuid = uuidOf(preview);
	if (uuid == lastMainPreviewUuid)
		return;
	lastMainPreviewUuid = uuid;
	if (!preview || !config().linkScenes)
		return;
	// The main studio transition just swapped its old program into the preview; the vertical side
	// did the same through its own studio transition.
	const bool fromScene = uuid == fromUuid || (!fromName.isEmpty() && nameOf(preview) == fromName);
	if (studioFollow && fromScene) {
		OBSSourceAutoRelease output = obs_get_output_source(0);
		if (output && obs_source_get_type(output) == OBS_SOURCE_TYPE_TRANSITION &&
		    obs_transition_get_time(output) >= 1.0f)
			return;
	}
	OBSSourceAutoRelease vertical = manager->findSceneByUuid(linkedVerticalScene(preview));
	if (vertical)
		manager->setPreviewScene(vertical, QStringLiteral("preview_scene_changed"));
}

QString SceneLinker::linkedVerticalScene(obs_source_t *mainScene) const
{
	if (!mainScene)
		return QString();
	CanvasManager *manager = CanvasManager::instance();
	const QString mainUuid = uuidOf(mainScene);
	const QString mainName = nameOf(mainScene);
	QString sameName;
	for (const SceneRef &ref : manager->scenes()) {
		OBSSourceAutoRelease scene = manager->findSceneByUuid(ref.uuid);
		const QString link = manager->sceneLink(scene);
		if (link == mainUuid)
			return ref.uuid;
		if (sameName.isEmpty() && link == QLatin1String(kSameNameLink) && ref.name == mainName)
			sameName = ref.uuid;
	}
	return sameName;
}

int SceneLinker::followedDuration(const LinkRequest &request, obs_source_t *mainScene)
{
	if (request.isCut)
		return 0;
	int duration = request.durationMs;
	if (mainScene) {
		// OBS's own per-scene transition of the main scene, when it is the one that runs.
		OBSDataAutoRelease priv = obs_source_get_private_settings(mainScene);
		const char *own = obs_data_get_string(priv, "transition");
		if (own && *own && request.transitionName == QString::fromUtf8(own))
			duration = obs_data_has_user_value(priv, "transition_duration")
					   ? int(obs_data_get_int(priv, "transition_duration"))
					   : kDefaultSceneTransitionMs;
	}
	return duration < 1 ? 0 : duration;
}

void SceneLinker::applyLink(const LinkRequest &request, bool immediate, const QString &trigger)
{
	CanvasManager *manager = CanvasManager::instance();
	if (!active.load() || !config().linkScenes || !manager->hasCanvas())
		return;
	OBSSourceAutoRelease mainScene = findMainScene(request);
	const int duration = followedDuration(request, mainScene);

	if (manager->studioMode()) {
		if (!immediate)
			manager->transitionToProgram(duration, trigger, request.transition, true, request.settings);
		return;
	}
	if (!mainScene)
		return;
	const QString uuid = linkedVerticalScene(mainScene);
	if (uuid.isEmpty() || uuid == manager->currentSceneUuid())
		return;
	OBSSourceAutoRelease scene = manager->findSceneByUuid(uuid);
	if (!scene)
		return;
	if (immediate)
		manager->setCurrentScene(scene, 0, trigger, nullptr, true, nullptr);
	else
		manager->setCurrentScene(scene, duration, trigger, request.transition, true, request.settings);

	const uint64_t now = os_gettime_ns();
	const unsigned long long queuedMs =
		request.queuedNs && now >= request.queuedNs ? (now - request.queuedNs) / 1000000ULL : 0;
	stilwaneLog(LOG_INFO, "linked vertical scene '%s': %d ms, match_main=%s, trigger=%s, queued=%llu ms",
		    obs_source_get_name(scene), immediate ? 0 : duration,
		    config().matchMainTransition ? "true" : "false", trigger.toUtf8().constData(), queuedMs);
	emit linkFollowed(uuid, nameOf(scene), uuidOf(mainScene), trigger);
}

LinkRequest SceneLinker::currentProgramRequest()
{
	LinkRequest request;
	OBSSourceAutoRelease output = obs_get_output_source(0);
	OBSSourceAutoRelease program = output && obs_source_get_type(output) == OBS_SOURCE_TYPE_TRANSITION
					       ? obs_transition_get_active_source(output)
					       : obs_frontend_get_current_scene();
	request.mainUuid = uuidOf(program);
	request.mainName = nameOf(program);
	return request;
}

QString SceneLinker::mainPreviewUuid()
{
	OBSSourceAutoRelease preview = obs_frontend_get_current_preview_scene();
	return uuidOf(preview);
}

void SceneLinker::connectMainTransitions()
{
	disconnectMainTransitions();
	obs_frontend_source_list list = {};
	obs_frontend_get_transitions(&list);
	for (size_t i = 0; i < list.sources.num; i++) {
		obs_source_t *transition = list.sources.array[i];
		signal_handler_t *handler = obs_source_get_signal_handler(transition);
		transitionSignals.emplace_back(handler, "transition_start", onTransitionStart, this);
		transitionSignals.emplace_back(handler, "transition_stop", onTransitionStop, this);
		transitionSignals.emplace_back(handler, "update", onTransitionUpdate, this);
		connectedTransitions.emplace_back(transition);
		CanvasManager::instance()->prepareMainTransitionClone(transition, nullptr);
	}
	obs_frontend_source_list_free(&list);
	mainDurationMs = obs_frontend_get_transition_duration();
	OBSSourceAutoRelease output = obs_get_output_source(0);
	outputTransition = output.Get();
}

void SceneLinker::disconnectMainTransitions()
{
	// Disconnecting waits for a handler that runs; the handlers never wait for this thread.
	transitionSignals.clear();
	connectedTransitions.clear();
}

void SceneLinker::onTransitionStart(void *param, calldata_t *data)
{
	auto *self = static_cast<SceneLinker *>(param);
	const uint64_t e = self->epoch.load();
	auto *transition = static_cast<obs_source_t *>(calldata_ptr(data, "source"));
	if (!self->active.load() || !self->isMainOutputTransition(transition))
		return;
	OBSSourceAutoRelease to = obs_transition_get_source(transition, OBS_TRANSITION_SOURCE_B);
	OBSSourceAutoRelease from = obs_transition_get_source(transition, OBS_TRANSITION_SOURCE_A);
	LinkRequest request;
	request.mainUuid = uuidOf(to);
	request.mainName = nameOf(to);
	request.fromUuid = uuidOf(from);
	request.fromName = nameOf(from);
	request.transitionName = nameOf(transition);
	request.transition = transition;
	OBSDataAutoRelease current = obs_source_get_settings(transition);
	OBSDataAutoRelease copy = obs_data_create();
	obs_data_apply(copy, current);
	request.settings = copy.Get();
	request.isCut = strcmp(obs_source_get_id(transition), "cut_transition") == 0;
	request.durationMs = self->mainDurationMs.load();
	request.queuedNs = os_gettime_ns();

	std::lock_guard<std::mutex> guard(self->lock);
	if (!self->active.load() || self->epoch.load() != e)
		return;
	const uint64_t n = ++self->requestSeq;
	QMetaObject::invokeMethod(
		self,
		[self, request, e, n] {
			if (!self->active.load() || self->epoch.load() != e || self->requestSeq.load() != n)
				return;
			self->studioFollow = CanvasManager::instance()->studioMode() && config().linkScenes;
			self->fromUuid = request.fromUuid;
			self->fromName = request.fromName;
			self->applyLink(request, false, QStringLiteral("transition_start"));
		},
		Qt::QueuedConnection);
}

void SceneLinker::onTransitionStop(void *param, calldata_t *data)
{
	auto *self = static_cast<SceneLinker *>(param);
	const uint64_t e = self->epoch.load();
	if (!self->active.load() ||
	    !self->isMainOutputTransition(static_cast<obs_source_t *>(calldata_ptr(data, "source"))))
		return;
	std::lock_guard<std::mutex> guard(self->lock);
	if (!self->active.load() || self->epoch.load() != e)
		return;
	const uint64_t n = self->requestSeq.load();
	QMetaObject::invokeMethod(
		self,
		[self, e, n] {
			// A transition started since: its own work follows it.
			if (!self->active.load() || self->epoch.load() != e || self->requestSeq.load() != n)
				return;
			self->applyLink(currentProgramRequest(), true, QStringLiteral("transition_stop"));
			self->studioFollow = false;
		},
		Qt::QueuedConnection);
}

void SceneLinker::onTransitionUpdate(void *param, calldata_t *data)
{
	auto *self = static_cast<SceneLinker *>(param);
	const uint64_t e = self->epoch.load();
	auto *transition = static_cast<obs_source_t *>(calldata_ptr(data, "source"));
	if (!transition)
		return;
	OBSSource held = transition;
	OBSDataAutoRelease current = obs_source_get_settings(transition);
	OBSDataAutoRelease copy = obs_data_create();
	obs_data_apply(copy, current);
	OBSData settings = copy.Get();
	QMetaObject::invokeMethod(
		self,
		[self, held, settings, e] {
			if (self->active.load() && self->epoch.load() == e)
				CanvasManager::instance()->prepareMainTransitionClone(held, settings);
		},
		Qt::QueuedConnection);
}

void SceneLinker::onFrontendEvent(enum obs_frontend_event event, void *param)
{
	auto *self = static_cast<SceneLinker *>(param);
	if (!self->active.load())
		return;
	switch (event) {
	case OBS_FRONTEND_EVENT_STUDIO_MODE_ENABLED:
		self->lastMainPreviewUuid = mainPreviewUuid();
		self->studioFollow = false;
		break;
	case OBS_FRONTEND_EVENT_TRANSITION_CHANGED:
	case OBS_FRONTEND_EVENT_TRANSITION_LIST_CHANGED:
		self->connectMainTransitions();
		break;
	case OBS_FRONTEND_EVENT_TRANSITION_STOPPED:
	case OBS_FRONTEND_EVENT_STUDIO_MODE_DISABLED:
		self->studioFollow = false;
		break;
	case OBS_FRONTEND_EVENT_TRANSITION_DURATION_CHANGED:
		self->mainDurationMs = obs_frontend_get_transition_duration();
		break;
	default:
		break;
	}
}

} // namespace stilwane
