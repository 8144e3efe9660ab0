// SPDX-License-Identifier: GPL-2.0-or-later
#include <canvas/VerticalTransitions.hpp>

#include <canvas/CanvasManager.hpp>
#include <canvas/CollectionValues.hpp>
#include <canvas/StudioSwap.hpp>

#include <common/ConfigRecord.hpp>
#include <common/Limits.hpp>
#include <common/Module.hpp>

#include <QMetaObject>
#include <QUuid>

#include <algorithm>

#include <obs-frontend-api.h>

namespace stilwane {

namespace {

bool isTransitionType(const QString &type)
{
	const QByteArray wanted = type.toUtf8();
	const char *id = nullptr;
	for (size_t i = 0; obs_enum_transition_types(i, &id); i++)
		if (wanted == id)
			return true;
	return false;
}

QString newUuid()
{
	return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace

QVector<TransitionInfo> VerticalTransitions::list() const
{
	QVector<TransitionInfo> result;
	for (const auto &entry : entries)
		result.append({entry->uuid, entry->name, entry->typeId, entry->builtIn});
	return result;
}

const TransitionEntry *VerticalTransitions::entryByUuid(const QString &uuid) const
{
	for (const auto &entry : entries) {
		if (entry->uuid == uuid)
			return entry.get();
	}
	return nullptr;
}

const TransitionEntry *VerticalTransitions::entryByName(const QString &name) const
{
	for (const auto &entry : entries) {
		if (entry->name == name)
			return entry.get();
	}
	return nullptr;
}

obs_source_t *VerticalTransitions::sourceByUuid(const QString &uuid) const
{
	const TransitionEntry *entry = entryByUuid(uuid);
	return entry ? entry->source.Get() : nullptr;
}

bool VerticalTransitions::isFixed(const QString &uuid) const
{
	const TransitionEntry *entry = entryByUuid(uuid);
	return entry && obs_transition_fixed(entry->source);
}

TransitionEntry &VerticalTransitions::append(const QString &uuid, const QString &name, const QString &typeId,
					     bool builtIn, obs_source_t *source)
{
	auto entry = std::make_unique<TransitionEntry>();
	entry->uuid = uuid;
	entry->name = name;
	entry->typeId = typeId;
	entry->builtIn = builtIn;
	entry->source = source;
	connectUpdateSignal(*entry);
	entries.push_back(std::move(entry));
	return *entries.back();
}

// The handler runs on a libobs thread: it only queues.
void VerticalTransitions::connectUpdateSignal(TransitionEntry &entry)
{
	entry.updateSignal.Connect(
		obs_source_get_signal_handler(entry.source), "update",
		[](void *param, calldata_t *) {
			auto *self = static_cast<VerticalTransitions *>(param);
			QMetaObject::invokeMethod(
				&self->manager, [self]() { self->onUpdated(); }, Qt::QueuedConnection);
		},
		this);
}

void VerticalTransitions::onUpdated()
{
	if (!manager.hasCanvas())
		return;
	emit manager.transitionSettingsChanged();
	obs_frontend_save();
}

void VerticalTransitions::build(obs_data_t *data)
{
	releaseList();
	durationMs = clampDuration(config().transitionMs);
	selectedUuid = kFadeUuid;

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
		OBSSourceAutoRelease source =
			obs_source_create_private(builtIn.type, name.toUtf8().constData(), settings.Get());
		if (source)
			append(builtIn.uuid, name, builtIn.type, true, source);
	}

	for (size_t i = 0; i < savedCount; i++) {
		OBSDataAutoRelease item = obs_data_array_item(saved, i);
		QString uuid = QString::fromUtf8(obs_data_get_string(item, "uuid"));
		QString type = QString::fromUtf8(obs_data_get_string(item, "type"));
		QString name = QString::fromUtf8(obs_data_get_string(item, "name"));
		if (uuid.isEmpty() || entryByUuid(uuid) || type.isEmpty() || name.isEmpty())
			continue;
		// Only a transition type: a damaged file must not make a camera or a capture appear.
		if (!isTransitionType(type))
			continue;
		OBSDataAutoRelease settings = obs_data_get_obj(item, "settings");
		OBSSourceAutoRelease source =
			obs_source_create_private(type.toUtf8().constData(), name.toUtf8().constData(), settings.Get());
		if (!source || obs_source_get_type(source) != OBS_SOURCE_TYPE_TRANSITION)
			continue;
		append(uuid, name, type, false, source);
	}

	if (data) {
		QString chosen = QString::fromUtf8(obs_data_get_string(data, "selected_transition"));
		if (entryByUuid(chosen))
			selectedUuid = chosen;
		if (const auto ms = storedNumber(data, "transition_duration"))
			durationMs = clampDuration((long long)std::clamp(*ms, -1.0, double(kMaxTransitionMs)));
	}
	emit manager.transitionsChanged();
	emit manager.transitionSettingsChanged();
}

void VerticalTransitions::save(obs_data_t *data) const
{
	OBSDataArrayAutoRelease array = obs_data_array_create();
	for (const auto &entry : entries) {
		OBSDataAutoRelease item = obs_data_create();
		obs_data_set_string(item, "uuid", entry->uuid.toUtf8().constData());
		obs_data_set_string(item, "name", entry->name.toUtf8().constData());
		obs_data_set_string(item, "type", entry->typeId.toUtf8().constData());
		OBSDataAutoRelease settings = obs_data_create();
		OBSDataAutoRelease current = obs_source_get_settings(entry->source);
		obs_data_apply(settings, current);
		obs_data_set_obj(item, "settings", settings);
		obs_data_array_push_back(array, item);
	}
	obs_data_set_array(data, "vertical_transitions", array);
	obs_data_set_string(data, "selected_transition", selectedUuid.toUtf8().constData());
	obs_data_set_int(data, "transition_duration", durationMs);
}

void VerticalTransitions::releaseList()
{
	for (auto &entry : entries) {
		entry->updateSignal.Disconnect();
		obs_source_remove(entry->source);
		entry->source = nullptr;
	}
	entries.clear();
	clones.clear();
	selectedUuid.clear();
	selection = Selection::Applied;
}

void VerticalTransitions::select(const QString &uuid)
{
	const TransitionEntry *entry = entryByUuid(uuid);
	if (!manager.hasCanvas() || !entry || uuid == selectedUuid)
		return;
	selectedUuid = uuid;
	if (swap.inProgress())
		selection = Selection::Waiting;
	else
		applySelection();
	emit manager.transitionSettingsChanged();
	obs_frontend_save();
}

void VerticalTransitions::setDuration(int ms)
{
	ms = clampDuration(ms);
	if (!manager.hasCanvas() || ms == durationMs)
		return;
	durationMs = ms;
	emit manager.transitionSettingsChanged();
	obs_frontend_save();
}

bool VerticalTransitions::add(const QString &typeId, const QString &name)
{
	if (!manager.hasCanvas() || typeId.isEmpty() || name.isEmpty() || entryByName(name))
		return false;
	if (!isTransitionType(typeId))
		return false;
	OBSSourceAutoRelease source =
		obs_source_create_private(typeId.toUtf8().constData(), name.toUtf8().constData(), nullptr);
	if (!source)
		return false;
	const QString uuid = append(newUuid(), name, typeId, false, source).uuid;
	emit manager.transitionsChanged();
	select(uuid);
	return true;
}

bool VerticalTransitions::rename(const QString &uuid, const QString &name)
{
	if (!manager.hasCanvas() || name.isEmpty())
		return false;
	const TransitionEntry *other = entryByName(name);
	if (other && other->uuid != uuid)
		return false;
	for (auto &entry : entries) {
		if (entry->uuid != uuid)
			continue;
		entry->name = name;
		obs_source_set_name(entry->source, name.toUtf8().constData());
		emit manager.transitionsChanged();
		obs_frontend_save();
		return true;
	}
	return false;
}

bool VerticalTransitions::remove(const QString &uuid)
{
	const TransitionEntry *found = entryByUuid(uuid);
	if (!manager.hasCanvas() || !found || found->builtIn)
		return false;

	for (const SceneRef &ref : manager.scenes()) {
		OBSSourceAutoRelease scene = manager.findSceneByUuid(ref.uuid);
		if (scene && sceneOverride(scene) == uuid) {
			OBSDataAutoRelease priv = obs_source_get_private_settings(scene);
			obs_data_erase(priv, kSceneTransitionKey);
			obs_data_erase(priv, kSceneTransitionMsKey);
		}
	}

	bool wasActive = false;
	for (auto it = entries.begin(); it != entries.end(); ++it) {
		if ((*it)->uuid != uuid)
			continue;
		TransitionEntry &entry = **it;
		entry.updateSignal.Disconnect();
		wasActive = entry.source == activeSource;
		// The active transition stays whole until activate() replaces it, and removes it then.
		if (!wasActive)
			obs_source_remove(entry.source);
		entries.erase(it);
		break;
	}

	if (selectedUuid == uuid)
		selectedUuid = kFadeUuid;
	if (wasActive) {
		if (swap.inProgress())
			selection = Selection::Waiting;
		else
			applySelection();
	}
	emit manager.transitionsChanged();
	emit manager.transitionSettingsChanged();
	obs_frontend_save();
	return true;
}

void VerticalTransitions::setMatchMain(bool enabled)
{
	if (config().matchMainTransition == enabled)
		return;
	config().matchMainTransition = enabled;
	saveConfig();
	emit manager.transitionSettingsChanged();
}

QString VerticalTransitions::sceneOverride(obs_source_t *scene) const
{
	if (!scene)
		return QString();
	OBSDataAutoRelease priv = obs_source_get_private_settings(scene);
	QString uuid = QString::fromUtf8(obs_data_get_string(priv, kSceneTransitionKey));
	return entryByUuid(uuid) ? uuid : QString();
}

int VerticalTransitions::sceneDuration(obs_source_t *scene) const
{
	if (!scene)
		return durationMs;
	OBSDataAutoRelease priv = obs_source_get_private_settings(scene);
	if (!obs_data_has_user_value(priv, kSceneTransitionMsKey))
		return durationMs;
	return clampDuration(obs_data_get_int(priv, kSceneTransitionMsKey));
}

void VerticalTransitions::setSceneOverride(obs_source_t *scene, const QString &uuid, int ms)
{
	if (!uuid.isEmpty() && !entryByUuid(uuid))
		return;
	OBSDataAutoRelease priv = obs_source_get_private_settings(scene);
	obs_data_set_string(priv, kSceneTransitionKey, uuid.toUtf8().constData());
	obs_data_set_int(priv, kSceneTransitionMsKey, clampDuration(ms));
	obs_frontend_save();
}

void VerticalTransitions::eraseStaleSceneOverrides()
{
	for (const SceneRef &ref : manager.scenes()) {
		OBSSourceAutoRelease scene = manager.findSceneByUuid(ref.uuid);
		if (!scene)
			continue;
		OBSDataAutoRelease priv = obs_source_get_private_settings(scene);
		QString uuid = QString::fromUtf8(obs_data_get_string(priv, kSceneTransitionKey));
		if (!uuid.isEmpty() && !entryByUuid(uuid)) {
			obs_data_erase(priv, kSceneTransitionKey);
			obs_data_erase(priv, kSceneTransitionMsKey);
		}
	}
}

} // namespace stilwane
