// SPDX-License-Identifier: GPL-2.0-or-later
#include <hotkeys/HotkeyManager.hpp>

#include <canvas/CanvasManager.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>
#include <docks/OutputDock.hpp>

#include <QMetaObject>

#include <algorithm>

namespace stilwane {

namespace {

struct GlobalHotkey {
	const char *name;
	const char *descriptionKey;
};

// In the order of HotkeyManager::Action.
constexpr GlobalHotkey kGlobalHotkeys[HotkeyManager::ActionCount] = {
	{"stilwane.start_streaming", "Hotkeys.StartStreaming"}, {"stilwane.stop_streaming", "Hotkeys.StopStreaming"},
	{"stilwane.start_recording", "Hotkeys.Record.Start"},   {"stilwane.stop_recording", "Hotkeys.Record.Stop"},
	{"stilwane.start_replay", "Hotkeys.Replay.Start"},      {"stilwane.stop_replay", "Hotkeys.Replay.Stop"},
	{"stilwane.save_replay", "Hotkeys.Replay.Save"},        {"stilwane.open_projector", "Projector.OpenWindow"},
	{"stilwane.transition", "Studio.Transition"},
};

QByteArray jsonOf(obs_data_t *data)
{
	const char *json = data ? obs_data_get_json(data) : nullptr;
	return json ? QByteArray(json) : QByteArray();
}

} // namespace

HotkeyManager *HotkeyManager::instance()
{
	static HotkeyManager manager;
	return &manager;
}

HotkeyManager::HotkeyManager()
{
	actionIds.fill(OBS_INVALID_HOTKEY_ID);
	CanvasManager *canvas = CanvasManager::instance();
	connect(canvas, &CanvasManager::scenesChanged, this, &HotkeyManager::syncSceneHotkeys);
	connect(canvas, &CanvasManager::canvasChanged, this, &HotkeyManager::syncSceneHotkeys);
}

const char *HotkeyManager::actionName(int action)
{
	return action >= 0 && action < ActionCount ? kGlobalHotkeys[action].name : nullptr;
}

obs_hotkey_id HotkeyManager::actionHotkey(int action) const
{
	return action >= 0 && action < ActionCount ? actionIds[size_t(action)] : OBS_INVALID_HOTKEY_ID;
}

void HotkeyManager::registerHotkeys(OutputDock *outputDock)
{
	if (registered)
		unregisterAll(true);

	registration = std::make_unique<Registration>();
	registration->manager = this;
	registration->dock = outputDock;

	OBSData stored = storedHotkeyBindings();
	for (int action = 0; action < ActionCount; action++) {
		const GlobalHotkey &hotkey = kGlobalHotkeys[action];
		const QByteArray description = translate(hotkey.descriptionKey).toUtf8();
		const obs_hotkey_id id = obs_hotkey_register_frontend(hotkey.name, description.constData(),
								      onActionPressed, registration.get());
		actionIds[size_t(action)] = id;
		if (id == OBS_INVALID_HOTKEY_ID) {
			stilwaneLog(LOG_WARNING, "hotkey %s could not be registered", hotkey.name);
			continue;
		}
		// A hotkey config.json has no member for stays unbound.
		OBSDataArrayAutoRelease bindings = stored ? obs_data_get_array(stored, hotkey.name) : nullptr;
		if (bindings)
			obs_hotkey_load(id, bindings);
	}
	// What was just loaded counts as stored: it is written back as config.json had it until it changes.
	OBSDataAutoRelease loaded = currentBindings();
	storedJson = jsonOf(loaded);

	bindingsSignal.Connect(obs_get_signal_handler(), "hotkey_bindings_changed", onBindingsChanged, this);
	registered = true;
	stilwaneLog(LOG_DEBUG, "hotkeys registered");
	syncSceneHotkeys();
}

void HotkeyManager::unregisterAll(bool keepCachedBindings)
{
	if (registered) {
		unregisterSceneHotkeys();
		if (keepCachedBindings)
			storeChangedBindings();
		bindingsSignal.Disconnect();
		for (obs_hotkey_id &id : actionIds) {
			if (id != OBS_INVALID_HOTKEY_ID)
				obs_hotkey_unregister(id);
			id = OBS_INVALID_HOTKEY_ID;
		}
		registered = false;
		stilwaneLog(LOG_DEBUG, "hotkeys unregistered");
	}
	// No press can reach it any more: libobs calls press callbacks only under its hotkey lock, which
	// unregistering takes too.
	registration.reset();
	storedJson.clear();
	if (!keepCachedBindings)
		setStoredHotkeyBindings(nullptr);
}

// Called on libobs's hotkey thread, on the thread of whoever triggers the hotkey by id (obs-websocket's,
// OBS's user-interface thread), under libobs's hotkey lock.
void HotkeyManager::onActionPressed(void *data, obs_hotkey_id id, obs_hotkey_t *, bool pressed)
{
	if (!pressed)
		return;
	const auto *registration = static_cast<const Registration *>(data);
	HotkeyManager *manager = registration->manager;
	QPointer<OutputDock> dock = registration->dock;
	QMetaObject::invokeMethod(manager, [manager, id, dock] { manager->runAction(id, dock); }, Qt::QueuedConnection);
}

void HotkeyManager::runAction(obs_hotkey_id id, const QPointer<OutputDock> &dock)
{
	// The dock of the press must still be the one the hotkeys act through.
	if (!registered || !valid || !dock || !registration || dock != registration->dock)
		return;
	int action = 0;
	while (action < ActionCount && actionIds[size_t(action)] != id)
		action++;
	if (action == ActionCount)
		return;
	stilwaneLog(LOG_DEBUG, "hotkey %s pressed", kGlobalHotkeys[action].name);
	switch (action) {
	case StartStreaming:
		dock->startStreamWithUi();
		break;
	case StopStreaming:
		dock->stopStreamIfRunning();
		break;
	case StartRecording:
		dock->startRecordingWithUi();
		break;
	case StopRecording:
		dock->stopRecordingIfRunning();
		break;
	case StartReplay:
		dock->startReplayWithUi();
		break;
	case StopReplay:
		dock->stopReplayIfRunning();
		break;
	case SaveReplay:
		dock->saveReplayWithUi();
		break;
	case OpenProjector:
		emit projectorRequested();
		break;
	case Transition:
		CanvasManager::instance()->transitionToProgram(-1, "transition-hotkey", nullptr, false);
		break;
	default:
		break;
	}
}

// Called on the thread that changed the bindings (OBS's settings: the user-interface thread), under
// libobs's hotkey lock.
void HotkeyManager::onBindingsChanged(void *data, calldata_t *params)
{
	auto *hotkey = static_cast<obs_hotkey_t *>(calldata_ptr(params, "key"));
	if (!hotkey || obs_hotkey_get_registerer_type(hotkey) != OBS_HOTKEY_REGISTERER_FRONTEND)
		return;
	auto *manager = static_cast<HotkeyManager *>(data);
	const obs_hotkey_id id = obs_hotkey_get_id(hotkey);
	QMetaObject::invokeMethod(manager, [manager, id] { manager->bindingsChanged(id); }, Qt::QueuedConnection);
}

void HotkeyManager::bindingsChanged(obs_hotkey_id id)
{
	if (!registered || std::find(actionIds.begin(), actionIds.end(), id) == actionIds.end())
		return;
	if (storeChangedBindings())
		saveConfig();
}

obs_data_t *HotkeyManager::currentBindings() const
{
	obs_data_t *bindings = obs_data_create();
	for (int action = 0; action < ActionCount; action++) {
		const obs_hotkey_id id = actionIds[size_t(action)];
		if (id == OBS_INVALID_HOTKEY_ID)
			continue;
		OBSDataArrayAutoRelease saved = obs_hotkey_save(id);
		if (saved)
			obs_data_set_array(bindings, kGlobalHotkeys[action].name, saved);
	}
	return bindings;
}

bool HotkeyManager::storeChangedBindings()
{
	OBSDataAutoRelease current = currentBindings();
	const QByteArray json = jsonOf(current);
	if (json == storedJson)
		return false;
	// Members of config.json's object that are no hotkeys of this version stay as they were.
	OBSDataAutoRelease merged = obs_data_create();
	OBSData stored = storedHotkeyBindings();
	if (stored)
		obs_data_apply(merged, stored);
	obs_data_apply(merged, current);
	setStoredHotkeyBindings(merged);
	storedJson = json;
	stilwaneLog(LOG_DEBUG, "hotkey bindings stored");
	return true;
}

} // namespace stilwane
