#include <hotkeys/HotkeyManager.hpp>

HotkeyManager *HotkeyManager::instance()
{
	static HotkeyManager manager;
	return &manager;
}

void HotkeyManager::loadBindings(obs_data_t *config)
{
	OBSDataAutoRelease stored = obs_data_get_obj(config, "hotkeys");
	bindings = stored.Get();
}

void HotkeyManager::saveBindings(obs_data_t *config)
{
	if (bindings) {
		obs_data_set_obj(config, "hotkeys", bindings);
		return;
	}
	OBSDataAutoRelease empty = obs_data_create();
	obs_data_set_obj(config, "hotkeys", empty);
}

// No hotkey is registered yet: the registration steps below have nothing to add or remove, and the
// cached bindings stay as they were loaded.
void HotkeyManager::registerHotkeys(OutputDock *dock)
{
	outputDock = dock;
}

void HotkeyManager::unregisterAll(bool keepCachedBindings)
{
	outputDock = nullptr;
	if (!keepCachedBindings)
		bindings = nullptr;
}

void HotkeyManager::registerSceneHotkeys() {}

void HotkeyManager::invalidateSceneHotkeys() {}

void HotkeyManager::unregisterSceneHotkeys() {}
