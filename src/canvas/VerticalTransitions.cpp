// SPDX-License-Identifier: GPL-2.0-or-later
#include <canvas/VerticalTransitions.hpp>

#include <canvas/CanvasManager.hpp>
#include <canvas/StudioSwap.hpp>

#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>

#include <QMetaObject>

#include <algorithm>

#include <util/platform.h>

namespace stilwane {

namespace {

QString sourceUuid(obs_source_t *source)
{
	return source ? QString::fromUtf8(obs_source_get_uuid(source)) : QString();
}

} // namespace

VerticalTransitions::VerticalTransitions(CanvasManager &owner, const StudioSwap &studioSwap)
	: manager(owner),
	  swap(studioSwap)
{
}

VerticalTransitions::~VerticalTransitions() = default;

int VerticalTransitions::clampDuration(long long ms)
{
	return (int)std::clamp<long long>(ms, 0, kMaxTransitionMs);
}

void VerticalTransitions::attachToCanvas()
{
	if (entries.empty())
		build(nullptr);
	if (!activeSource) {
		if (const TransitionEntry *entry = entryByUuid(selectedUuid))
			activate(entry->source);
	}
	if (activeSource)
		obs_canvas_set_channel(manager.canvas(), 0, activeSource);
}

void VerticalTransitions::release()
{
	// The channel lets go first: the canvas must not draw a transition being removed.
	if (manager.canvas() && activeSource)
		obs_canvas_set_channel(manager.canvas(), 0, nullptr);
	if (activeSource) {
		disconnectActiveSignals();
		obs_source_remove(activeSource);
		activeSource = nullptr;
	}
	releaseList();
}

bool VerticalTransitions::isListed(obs_source_t *source) const
{
	for (const auto &entry : entries) {
		if (entry->source == source)
			return true;
	}
	for (const MainTransitionClone &clone : clones) {
		if (clone.source == source)
			return true;
	}
	return false;
}

void VerticalTransitions::connectActiveSignals()
{
	signal_handler_t *handler = obs_source_get_signal_handler(activeSource);
	// Both handlers run on libobs threads: they capture what they need and queue the rest.
	videoStopSignal.Connect(
		handler, "transition_video_stop",
		[](void *param, calldata_t *cd) {
			auto *self = static_cast<VerticalTransitions *>(param);
			uint64_t now = os_gettime_ns();
			QString uuid = sourceUuid((obs_source_t *)calldata_ptr(cd, "source"));
			uint64_t gen = self->swap.generation();
			QMetaObject::invokeMethod(
				&self->manager, [self, uuid, now, gen]() { self->onVideoStopped(uuid, now, gen); },
				Qt::QueuedConnection);
		},
		this);
	stopSignal.Connect(
		handler, "transition_stop",
		[](void *param, calldata_t *cd) {
			auto *self = static_cast<VerticalTransitions *>(param);
			QString uuid = sourceUuid((obs_source_t *)calldata_ptr(cd, "source"));
			QMetaObject::invokeMethod(
				&self->manager, [self, uuid]() { self->onStopped(uuid); }, Qt::QueuedConnection);
		},
		this);
}

void VerticalTransitions::disconnectActiveSignals()
{
	videoStopSignal.Disconnect();
	stopSignal.Disconnect();
}

void VerticalTransitions::applySelection()
{
	const TransitionEntry *entry = entryByUuid(selectedUuid);
	selection = entry && activate(entry->source) ? Selection::Applied : Selection::Waiting;
}

void VerticalTransitions::onStopped(const QString &uuid)
{
	if (!activeSource || sourceUuid(activeSource) != uuid || swap.inProgress() ||
	    obs_transition_is_active(activeSource) || selection != Selection::Waiting)
		return;
	applySelection();
}

void VerticalTransitions::onVideoStopped(const QString &uuid, uint64_t atNs, uint64_t forGeneration)
{
	if (!activeSource || sourceUuid(activeSource) != uuid || obs_transition_get_time(activeSource) < 1.0f)
		return;
	// A stop reported from before the waiting line's start belongs to an earlier run.
	if (pendingLog && atNs >= pendingLog->startNs)
		flushPendingLog(atNs);
	manager.finishStudioSwap(forGeneration);
	if (selection == Selection::Waiting && !swap.inProgress() && !obs_transition_is_active(activeSource))
		applySelection();
}

bool VerticalTransitions::activate(obs_source_t *source)
{
	if (!manager.hasCanvas() || !source)
		return false;
	if (source == activeSource)
		return true;
	if (activeSource && obs_transition_is_active(activeSource))
		return false;

	// Held until the new one has taken over its picture and the channel.
	OBSSource old = activeSource;
	disconnectActiveSignals();
	activeSource = source;
	connectActiveSignals();
	if (old) {
		obs_transition_swap_begin(activeSource, old);
		obs_canvas_set_channel(manager.canvas(), 0, activeSource);
		obs_transition_swap_end(activeSource, old);
		// Neither listed nor a clone (a replaced clone, a removed entry): nothing else will remove it.
		if (!isListed(old))
			obs_source_remove(old);
	} else {
		obs_canvas_set_channel(manager.canvas(), 0, activeSource);
	}
	return true;
}

obs_source_t *VerticalTransitions::cloneMain(obs_source_t *mainTransition, obs_data_t *settings)
{
	OBSDataAutoRelease own = settings ? nullptr : obs_source_get_settings(mainTransition);
	obs_data_t *used = settings ? settings : own.Get();
	QString json = QString::fromUtf8(obs_data_get_json(used));
	QString mainUuid = sourceUuid(mainTransition);
	const char *typeId = obs_source_get_id(mainTransition);

	MainTransitionClone *existing = nullptr;
	for (MainTransitionClone &clone : clones) {
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
	OBSSourceAutoRelease made = obs_source_create_private(typeId, obs_source_get_name(mainTransition), copy);
	if (!made)
		return nullptr;
	if (!existing) {
		clones.push_back({mainUuid, json, made.Get()});
		return clones.back().source;
	}
	// The old copy may be the active transition: activate() removes it once replaced.
	existing->source = made.Get();
	existing->settingsJson = json;
	return existing->source;
}

void VerticalTransitions::prepareMainClone(obs_source_t *mainTransition, obs_data_t *settings)
{
	if (!manager.hasCanvas() || !mainTransition || obs_source_removed(mainTransition) ||
	    obs_source_get_type(mainTransition) != OBS_SOURCE_TYPE_TRANSITION)
		return;
	cloneMain(mainTransition, settings);
}

TransitionChoice VerticalTransitions::choose(obs_source_t *scene, int mainDurationMs, obs_source_t *mainTransition,
					     bool followMain, obs_data_t *mainSettings)
{
	TransitionChoice choice;
	QString override = sceneOverride(scene);
	if (!override.isEmpty()) {
		choice.transition = entryByUuid(override)->source;
		choice.durationMs = sceneDuration(scene);
		choice.label = "override";
	} else if (followMain && config().matchMainTransition) {
		if (mainTransition && strcmp(obs_source_get_id(mainTransition), "cut_transition") != 0) {
			choice.transition = cloneMain(mainTransition, mainSettings);
			choice.durationMs = std::max(mainDurationMs, 0);
		} else {
			const TransitionEntry *cut = entryByUuid(kCutUuid);
			choice.transition = cut ? cut->source.Get() : nullptr;
			choice.durationMs = 0;
		}
		choice.label = "main";
	} else {
		const TransitionEntry *chosen = entryByUuid(selectedUuid);
		choice.transition = chosen ? chosen->source.Get() : nullptr;
		choice.durationMs = durationMs;
		choice.label = "vertical";
	}
	return choice;
}

bool VerticalTransitions::start(obs_source_t *scene, const TransitionChoice &choice, const QString &trigger)
{
	QString why = trigger.isEmpty() ? QStringLiteral("manual") : trigger;
	if (!choice.transition)
		return false;
	if (activeSource && obs_transition_is_active(activeSource)) {
		OBSSourceAutoRelease current = manager.currentScene();
		obs_transition_set(activeSource, current);
	}
	flushPendingLog(os_gettime_ns());
	if (!activate(choice.transition))
		return false;
	selection = Selection::Applied;

	const char *typeId = obs_source_get_id(activeSource);
	bool fixed = obs_transition_fixed(activeSource);
	int logged = 0;
	if (strcmp(typeId, "cut_transition") != 0 && (choice.durationMs > 0 || fixed)) {
		if (!obs_transition_start(activeSource, OBS_TRANSITION_MODE_AUTO, choice.durationMs, scene))
			return false;
		if (fixed) {
			// Its length is known only at its end.
			pendingLog = PendingTransitionLog{os_gettime_ns(),
							  QString::fromUtf8(obs_source_get_name(activeSource)),
							  QString::fromUtf8(typeId),
							  QString::fromUtf8(obs_source_get_name(scene)),
							  choice.label,
							  why};
			return true;
		}
		logged = choice.durationMs;
	} else {
		obs_transition_set(activeSource, scene);
	}
	stilwaneLog(LOG_INFO, "vertical transition '%s' (%s) %d ms -> '%s' (source=%s, trigger=%s)",
		    obs_source_get_name(activeSource), typeId, logged, obs_source_get_name(scene),
		    choice.label.toUtf8().constData(), why.toUtf8().constData());
	return true;
}

void VerticalTransitions::flushPendingLog(uint64_t nowNs)
{
	if (!pendingLog)
		return;
	const PendingTransitionLog line = std::move(*pendingLog);
	pendingLog.reset();
	unsigned long long elapsed = nowNs >= line.startNs ? (nowNs - line.startNs) / 1000000ULL : 0;
	stilwaneLog(LOG_INFO, "vertical transition '%s' (%s) %llu ms -> '%s' (source=%s, trigger=%s)",
		    line.name.toUtf8().constData(), line.typeId.toUtf8().constData(), elapsed,
		    line.sceneName.toUtf8().constData(), line.label.toUtf8().constData(),
		    line.trigger.toUtf8().constData());
}

} // namespace stilwane
