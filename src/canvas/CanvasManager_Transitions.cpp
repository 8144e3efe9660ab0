#include <canvas/CanvasManager.hpp>

#include <plugin/ConfigRecord.hpp>
#include <plugin/Module.hpp>

#include <QMetaObject>
#include <QUuid>

#include <obs-frontend-api.h>
#include <util/platform.h>

namespace {

int clampDuration(long long ms)
{
	return (int)std::clamp<long long>(ms, 0, kMaxTransitionMs);
}

QString sourceUuid(obs_source_t *source)
{
	return source ? QString::fromUtf8(obs_source_get_uuid(source)) : QString();
}

QString newUuid()
{
	return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace

QVector<TransitionInfo> CanvasManager::transitions() const
{
	QVector<TransitionInfo> result;
	for (const auto &entry : transitionList)
		result.append({entry->uuid, entry->name, entry->typeId, entry->builtIn});
	return result;
}

const TransitionEntry *CanvasManager::entryByUuid(const QString &uuid) const
{
	for (const auto &entry : transitionList) {
		if (entry->uuid == uuid)
			return entry.get();
	}
	return nullptr;
}

const TransitionEntry *CanvasManager::entryByName(const QString &name) const
{
	for (const auto &entry : transitionList) {
		if (entry->name == name)
			return entry.get();
	}
	return nullptr;
}

obs_source_t *CanvasManager::transitionByUuid(const QString &uuid) const
{
	const TransitionEntry *entry = entryByUuid(uuid);
	return entry ? obs_source_get_ref(entry->source) : nullptr;
}

bool CanvasManager::isTransitionFixed(const QString &uuid) const
{
	const TransitionEntry *entry = entryByUuid(uuid);
	return entry && obs_transition_fixed(entry->source);
}

bool CanvasManager::isListedTransition(obs_source_t *source) const
{
	for (const auto &entry : transitionList) {
		if (entry->source == source)
			return true;
	}
	for (const MainTransitionClone &clone : mainTransitionClones) {
		if (clone.source == source)
			return true;
	}
	return false;
}

// Called on a libobs thread: only queue.
void CanvasManager::connectUpdateSignal(TransitionEntry &entry)
{
	entry.updateSignal.Connect(
		obs_source_get_signal_handler(entry.source), "update",
		[](void *param, calldata_t *) {
			auto *self = static_cast<CanvasManager *>(param);
			QMetaObject::invokeMethod(
				self, [self]() { self->onTransitionUpdated(); }, Qt::QueuedConnection);
		},
		this);
}

void CanvasManager::onTransitionUpdated()
{
	if (!hasCanvas())
		return;
	emit transitionSettingsChanged();
	obs_frontend_save();
}

void CanvasManager::buildTransitions(obs_data_t *data)
{
	releaseTransitions();
	transitionDurationMs = clampDuration(config().transitionMs);
	selectedTransition = kFadeUuid;

	OBSDataArrayAutoRelease saved = data ? obs_data_get_array(data, "vertical_transitions") : nullptr;
	size_t savedCount = saved ? obs_data_array_count(saved) : 0;

	struct BuiltIn {
		const char *uuid;
		const char *type;
		const char *nameKey;
	};
	const BuiltIn builtIns[] = {{kFadeUuid, "fade_transition", "Transitions.Fade"},
				    {kCutUuid, "cut_transition", "Transitions.Cut"}};
	for (const BuiltIn &builtIn : builtIns) {
		QString name = translate(builtIn.nameKey);
		OBSDataAutoRelease settings;
		for (size_t i = 0; i < savedCount; i++) {
			OBSDataAutoRelease item = obs_data_array_item(saved, i);
			if (strcmp(obs_data_get_string(item, "uuid"), builtIn.uuid) != 0)
				continue;
			const char *savedName = obs_data_get_string(item, "name");
			if (*savedName)
				name = QString::fromUtf8(savedName);
			settings = obs_data_get_obj(item, "settings");
			break;
		}
		obs_source_t *source =
			obs_source_create_private(builtIn.type, name.toUtf8().constData(), settings.Get());
		if (!source)
			continue;
		auto entry = std::make_unique<TransitionEntry>();
		entry->uuid = builtIn.uuid;
		entry->name = name;
		entry->typeId = builtIn.type;
		entry->builtIn = true;
		entry->source = source;
		connectUpdateSignal(*entry);
		transitionList.push_back(std::move(entry));
	}

	for (size_t i = 0; i < savedCount; i++) {
		OBSDataAutoRelease item = obs_data_array_item(saved, i);
		QString uuid = QString::fromUtf8(obs_data_get_string(item, "uuid"));
		QString type = QString::fromUtf8(obs_data_get_string(item, "type"));
		QString name = QString::fromUtf8(obs_data_get_string(item, "name"));
		if (uuid.isEmpty() || entryByUuid(uuid) || type.isEmpty() || name.isEmpty())
			continue;
		OBSDataAutoRelease settings = obs_data_get_obj(item, "settings");
		obs_source_t *source =
			obs_source_create_private(type.toUtf8().constData(), name.toUtf8().constData(), settings.Get());
		if (!source)
			continue;
		if (obs_source_get_type(source) != OBS_SOURCE_TYPE_TRANSITION) {
			obs_source_release(source);
			continue;
		}
		auto entry = std::make_unique<TransitionEntry>();
		entry->uuid = uuid;
		entry->name = name;
		entry->typeId = type;
		entry->source = source;
		connectUpdateSignal(*entry);
		transitionList.push_back(std::move(entry));
	}

	if (data) {
		QString selected = QString::fromUtf8(obs_data_get_string(data, "selected_transition"));
		if (entryByUuid(selected))
			selectedTransition = selected;
		if (obs_data_has_user_value(data, "transition_duration"))
			transitionDurationMs = clampDuration(obs_data_get_int(data, "transition_duration"));
	}
	emit transitionsChanged();
	emit transitionSettingsChanged();
}

void CanvasManager::releaseTransitions()
{
	for (auto &entry : transitionList) {
		entry->updateSignal.Disconnect();
		obs_source_remove(entry->source);
		obs_source_release(entry->source);
	}
	transitionList.clear();
	for (MainTransitionClone &clone : mainTransitionClones)
		obs_source_release(clone.source);
	mainTransitionClones.clear();
	selectedTransition.clear();
	pendingSelection = false;
}

void CanvasManager::connectActiveSignals()
{
	signal_handler_t *handler = obs_source_get_signal_handler(activeTransition);
	// Both handlers run on libobs threads: they capture what they need and queue the rest.
	activeVideoStopSignal.Connect(
		handler, "transition_video_stop",
		[](void *param, calldata_t *cd) {
			auto *self = static_cast<CanvasManager *>(param);
			uint64_t now = os_gettime_ns();
			QString uuid = sourceUuid((obs_source_t *)calldata_ptr(cd, "source"));
			uint64_t gen = self->generation.load();
			QMetaObject::invokeMethod(
				self, [self, uuid, now, gen]() { self->onTransitionVideoStopped(uuid, now, gen); },
				Qt::QueuedConnection);
		},
		this);
	activeStopSignal.Connect(
		handler, "transition_stop",
		[](void *param, calldata_t *cd) {
			auto *self = static_cast<CanvasManager *>(param);
			QString uuid = sourceUuid((obs_source_t *)calldata_ptr(cd, "source"));
			QMetaObject::invokeMethod(
				self, [self, uuid]() { self->onTransitionStopped(uuid); }, Qt::QueuedConnection);
		},
		this);
}

void CanvasManager::disconnectActiveSignals()
{
	activeVideoStopSignal.Disconnect();
	activeStopSignal.Disconnect();
}

void CanvasManager::onTransitionStopped(const QString &uuid)
{
	if (!activeTransition || sourceUuid(activeTransition) != uuid || swapInProgress ||
	    obs_transition_is_active(activeTransition) || !pendingSelection)
		return;
	const TransitionEntry *entry = entryByUuid(selectedTransition);
	pendingSelection = !(entry && activateTransition(entry->source));
}

void CanvasManager::onTransitionVideoStopped(const QString &uuid, uint64_t atNs, uint64_t forGeneration)
{
	if (!activeTransition || sourceUuid(activeTransition) != uuid ||
	    obs_transition_get_time(activeTransition) < 1.0f)
		return;
	if (logPending && atNs >= pendingLog.startNs)
		flushPendingLog(atNs);
	finishStudioSwap(forGeneration);
	if (pendingSelection && !swapInProgress && !obs_transition_is_active(activeTransition)) {
		const TransitionEntry *entry = entryByUuid(selectedTransition);
		pendingSelection = !(entry && activateTransition(entry->source));
	}
}

bool CanvasManager::activateTransition(obs_source_t *source)
{
	if (!hasCanvas() || !source)
		return false;
	if (source == activeTransition)
		return true;
	if (activeTransition && obs_transition_is_active(activeTransition))
		return false;

	obs_source_t *old = activeTransition;
	disconnectActiveSignals();
	activeTransition = obs_source_get_ref(source);
	connectActiveSignals();
	if (old) {
		obs_transition_swap_begin(activeTransition, old);
		obs_canvas_set_channel(canvasRef, 0, activeTransition);
		obs_transition_swap_end(activeTransition, old);
		if (!isListedTransition(old))
			obs_source_remove(old);
		obs_source_release(old);
	} else {
		obs_canvas_set_channel(canvasRef, 0, activeTransition);
	}
	return true;
}

void CanvasManager::selectTransition(const QString &uuid)
{
	const TransitionEntry *entry = entryByUuid(uuid);
	if (!hasCanvas() || !entry || uuid == selectedTransition)
		return;
	selectedTransition = uuid;
	pendingSelection = swapInProgress || !activateTransition(entry->source);
	emit transitionSettingsChanged();
	obs_frontend_save();
}

void CanvasManager::setTransitionDuration(int ms)
{
	ms = clampDuration(ms);
	if (!hasCanvas() || ms == transitionDurationMs)
		return;
	transitionDurationMs = ms;
	emit transitionSettingsChanged();
	obs_frontend_save();
}

bool CanvasManager::addTransition(const QString &typeId, const QString &name)
{
	if (!hasCanvas() || typeId.isEmpty() || name.isEmpty() || entryByName(name))
		return false;
	QByteArray type = typeId.toUtf8();
	bool registered = false;
	const char *id = nullptr;
	for (size_t i = 0; obs_enum_transition_types(i, &id); i++) {
		if (strcmp(id, type.constData()) == 0) {
			registered = true;
			break;
		}
	}
	if (!registered)
		return false;
	obs_source_t *source = obs_source_create_private(type.constData(), name.toUtf8().constData(), nullptr);
	if (!source)
		return false;
	auto entry = std::make_unique<TransitionEntry>();
	entry->uuid = newUuid();
	entry->name = name;
	entry->typeId = typeId;
	entry->source = source;
	connectUpdateSignal(*entry);
	QString uuid = entry->uuid;
	transitionList.push_back(std::move(entry));
	emit transitionsChanged();
	selectTransition(uuid);
	return true;
}

bool CanvasManager::renameTransition(const QString &uuid, const QString &name)
{
	if (!hasCanvas() || name.isEmpty())
		return false;
	const TransitionEntry *other = entryByName(name);
	if (other && other->uuid != uuid)
		return false;
	for (auto &entry : transitionList) {
		if (entry->uuid != uuid)
			continue;
		entry->name = name;
		obs_source_set_name(entry->source, name.toUtf8().constData());
		emit transitionsChanged();
		obs_frontend_save();
		return true;
	}
	return false;
}

bool CanvasManager::removeTransition(const QString &uuid)
{
	const TransitionEntry *found = entryByUuid(uuid);
	if (!hasCanvas() || !found || found->builtIn)
		return false;

	for (const SceneRef &ref : scenes()) {
		OBSSourceAutoRelease scene = findSceneByUuid(ref.uuid);
		if (scene && sceneTransitionOverride(scene) == uuid) {
			OBSDataAutoRelease priv = obs_source_get_private_settings(scene);
			obs_data_erase(priv, "stilwane_transition");
			obs_data_erase(priv, "stilwane_transition_ms");
		}
	}

	bool wasActive = false;
	for (auto it = transitionList.begin(); it != transitionList.end(); ++it) {
		if ((*it)->uuid != uuid)
			continue;
		TransitionEntry &entry = **it;
		entry.updateSignal.Disconnect();
		wasActive = entry.source == activeTransition;
		if (!wasActive)
			obs_source_remove(entry.source);
		obs_source_release(entry.source);
		transitionList.erase(it);
		break;
	}

	if (selectedTransition == uuid)
		selectedTransition = kFadeUuid;
	if (wasActive) {
		const TransitionEntry *selected = entryByUuid(selectedTransition);
		pendingSelection = swapInProgress || !(selected && activateTransition(selected->source));
	}
	emit transitionsChanged();
	emit transitionSettingsChanged();
	obs_frontend_save();
	return true;
}

void CanvasManager::setMatchMainTransition(bool enabled)
{
	if (config().matchMainTransition == enabled)
		return;
	config().matchMainTransition = enabled;
	saveConfig();
	emit transitionSettingsChanged();
}

QString CanvasManager::sceneTransitionOverride(obs_source_t *scene) const
{
	if (!scene)
		return QString();
	OBSDataAutoRelease priv = obs_source_get_private_settings(scene);
	QString uuid = QString::fromUtf8(obs_data_get_string(priv, "stilwane_transition"));
	return entryByUuid(uuid) ? uuid : QString();
}

int CanvasManager::sceneTransitionDuration(obs_source_t *scene) const
{
	if (!scene)
		return transitionDurationMs;
	OBSDataAutoRelease priv = obs_source_get_private_settings(scene);
	if (!obs_data_has_user_value(priv, "stilwane_transition_ms"))
		return transitionDurationMs;
	return clampDuration(obs_data_get_int(priv, "stilwane_transition_ms"));
}

void CanvasManager::setSceneTransitionOverride(obs_source_t *scene, const QString &uuid, int ms)
{
	if (!hasCanvas() || !scene || obs_source_removed(scene) || !isVerticalScene(scene))
		return;
	if (!uuid.isEmpty() && !entryByUuid(uuid))
		return;
	OBSDataAutoRelease priv = obs_source_get_private_settings(scene);
	obs_data_set_string(priv, "stilwane_transition", uuid.toUtf8().constData());
	obs_data_set_int(priv, "stilwane_transition_ms", clampDuration(ms));
	obs_frontend_save();
}

obs_source_t *CanvasManager::cloneMainTransition(obs_source_t *mainTransition, obs_data_t *settings)
{
	OBSDataAutoRelease own = settings ? nullptr : obs_source_get_settings(mainTransition);
	obs_data_t *used = settings ? settings : own.Get();
	QString json = QString::fromUtf8(obs_data_get_json(used));
	QString mainUuid = sourceUuid(mainTransition);
	const char *typeId = obs_source_get_id(mainTransition);

	MainTransitionClone *existing = nullptr;
	for (MainTransitionClone &clone : mainTransitionClones) {
		if (clone.mainUuid == mainUuid) {
			existing = &clone;
			break;
		}
	}
	if (existing && existing->settingsJson == json && strcmp(obs_source_get_id(existing->source), typeId) == 0) {
		obs_source_set_name(existing->source, obs_source_get_name(mainTransition));
		return existing->source;
	}

	OBSDataAutoRelease copy = obs_data_create();
	obs_data_apply(copy, used);
	obs_source_t *source = obs_source_create_private(typeId, obs_source_get_name(mainTransition), copy);
	if (!source)
		return nullptr;
	if (!existing) {
		mainTransitionClones.append({mainUuid, json, source});
	} else {
		// The old clone may be the active transition: activateTransition removes it once replaced.
		obs_source_release(existing->source);
		existing->source = source;
		existing->settingsJson = json;
	}
	return source;
}

void CanvasManager::prepareMainTransitionClone(obs_source_t *mainTransition, obs_data_t *settings)
{
	if (!hasCanvas() || !mainTransition || obs_source_removed(mainTransition) ||
	    obs_source_get_type(mainTransition) != OBS_SOURCE_TYPE_TRANSITION)
		return;
	cloneMainTransition(mainTransition, settings);
}

TransitionChoice CanvasManager::chooseTransition(obs_source_t *scene, int mainDurationMs, obs_source_t *mainTransition,
						 bool followMain, obs_data_t *mainSettings)
{
	TransitionChoice choice;
	QString override = sceneTransitionOverride(scene);
	if (!override.isEmpty()) {
		choice.transition = entryByUuid(override)->source;
		choice.durationMs = sceneTransitionDuration(scene);
		choice.label = "override";
	} else if (followMain && config().matchMainTransition) {
		if (mainTransition && strcmp(obs_source_get_id(mainTransition), "cut_transition") != 0) {
			choice.transition = cloneMainTransition(mainTransition, mainSettings);
			choice.durationMs = std::max(mainDurationMs, 0);
		} else {
			const TransitionEntry *cut = entryByUuid(kCutUuid);
			choice.transition = cut ? cut->source : nullptr;
			choice.durationMs = 0;
		}
		choice.label = "main";
	} else {
		const TransitionEntry *selected = entryByUuid(selectedTransition);
		choice.transition = selected ? selected->source : nullptr;
		choice.durationMs = transitionDurationMs;
		choice.label = "vertical";
	}
	return choice;
}

bool CanvasManager::startTransition(obs_source_t *scene, const TransitionChoice &choice, const QString &trigger)
{
	QString why = trigger.isEmpty() ? QStringLiteral("manual") : trigger;
	if (!choice.transition)
		return false;
	if (activeTransition && obs_transition_is_active(activeTransition)) {
		OBSSourceAutoRelease current = currentScene();
		obs_transition_set(activeTransition, current);
	}
	flushPendingLog(os_gettime_ns());
	if (!activateTransition(choice.transition))
		return false;
	pendingSelection = false;

	const char *typeId = obs_source_get_id(activeTransition);
	bool fixed = obs_transition_fixed(activeTransition);
	int logged = 0;
	if (strcmp(typeId, "cut_transition") != 0 && (choice.durationMs > 0 || fixed)) {
		if (!obs_transition_start(activeTransition, OBS_TRANSITION_MODE_AUTO, choice.durationMs, scene))
			return false;
		if (fixed) {
			logPending = true;
			pendingLog = {os_gettime_ns(),
				      QString::fromUtf8(obs_source_get_name(activeTransition)),
				      QString::fromUtf8(typeId),
				      QString::fromUtf8(obs_source_get_name(scene)),
				      choice.label,
				      why};
			return true;
		}
		logged = choice.durationMs;
	} else {
		obs_transition_set(activeTransition, scene);
	}
	blog(LOG_INFO, "[stilwane] vertical transition '%s' (%s) %d ms -> '%s' (source=%s, trigger=%s)",
	     obs_source_get_name(activeTransition), typeId, logged, obs_source_get_name(scene),
	     choice.label.toUtf8().constData(), why.toUtf8().constData());
	return true;
}

void CanvasManager::flushPendingLog(uint64_t nowNs)
{
	if (!logPending)
		return;
	logPending = false;
	unsigned long long elapsed = nowNs >= pendingLog.startNs ? (nowNs - pendingLog.startNs) / 1000000ULL : 0;
	blog(LOG_INFO, "[stilwane] vertical transition '%s' (%s) %llu ms -> '%s' (source=%s, trigger=%s)",
	     pendingLog.name.toUtf8().constData(), pendingLog.typeId.toUtf8().constData(), elapsed,
	     pendingLog.sceneName.toUtf8().constData(), pendingLog.label.toUtf8().constData(),
	     pendingLog.trigger.toUtf8().constData());
}
