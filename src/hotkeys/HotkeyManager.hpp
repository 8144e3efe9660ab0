#pragma once

#include <QObject>

#include <obs.hpp>

class OutputDock;

// Owns the plug-in's hotkeys and their bindings. The bindings live in config.json under "hotkeys":
// they are kept from loadConfig() and written back by saveConfig() unchanged until hotkeys that use
// them are registered, so no binding a user made is ever lost.
class HotkeyManager : public QObject {
	Q_OBJECT

public:
	static HotkeyManager *instance();

	void loadBindings(obs_data_t *config);
	void saveBindings(obs_data_t *config);

	void registerHotkeys(OutputDock *outputDock);
	void unregisterAll(bool keepCachedBindings);
	void registerSceneHotkeys();
	void invalidateSceneHotkeys();
	void unregisterSceneHotkeys();

private:
	HotkeyManager() = default;

	OBSData bindings;
	OutputDock *outputDock = nullptr;
};
