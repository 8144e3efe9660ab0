// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>

#include <obs.hpp>

namespace stilwane {

class OutputDock;

// Owns the plug-in's hotkeys, which OBS lists in its hotkey settings:
// - nine global ones (the vertical outputs through the output dock, the projector, the studio
//   transition), whose bindings live in config.json under "hotkeys" (storedHotkeyBindings()). Bindings
//   loaded from there are written back unchanged until one of them really changes; a change is stored
//   and written to config.json at once;
// - one per vertical scene, registered on the scene source, so that OBS lists it under the scene and
//   saves its binding with the scene collection. It switches to the scene (the preview in studio mode).
// Presses arrive on libobs's threads and are queued to the user-interface thread. Between a collection
// change and the next canvas ready (invalid), presses do nothing.
class HotkeyManager : public QObject {
	Q_OBJECT

public:
	// The global hotkeys, in the order they are registered.
	enum Action {
		StartStreaming,
		StopStreaming,
		StartRecording,
		StopRecording,
		StartReplay,
		StopReplay,
		SaveReplay,
		OpenProjector,
		Transition,
		ActionCount
	};

	static HotkeyManager *instance();

	// The hotkey's name in OBS ("stilwane.start_streaming", ...); null for an unknown action.
	static const char *actionName(int action);
	static QString sceneHotkeyName(const QString &sceneUuid);

	// Registers the global hotkeys with the bindings config.json holds; their actions go through this
	// output dock. Registering again first unregisters, keeping the bindings.
	void registerHotkeys(OutputDock *outputDock);
	// Unregisters every hotkey. keepCachedBindings: the current bindings are stored for the next
	// saveConfig(); otherwise the stored bindings are dropped.
	void unregisterAll(bool keepCachedBindings);
	// The canvas is ready: scene hotkeys of an earlier canvas go, and every vertical scene gets one.
	void registerSceneHotkeys();
	// A collection change or OBS's exit begins: presses do nothing until the next registerSceneHotkeys.
	void invalidateSceneHotkeys();
	void unregisterSceneHotkeys();

	// For tests and diagnostics.
	bool isRegistered() const { return registered; }
	// OBS_INVALID_HOTKEY_ID when not registered.
	obs_hotkey_id actionHotkey(int action) const;
	obs_hotkey_id sceneHotkey(const QString &sceneUuid) const;
	int sceneHotkeyCount() const { return int(sceneHotkeys.size()); }

signals:
	// The projector hotkey was pressed; the plug-in shows what the Tools menu's projector entry shows.
	void projectorRequested();

private:
	// What a global hotkey's press needs to know; fixed from registration until unregistration.
	struct Registration {
		HotkeyManager *manager = nullptr;
		QPointer<OutputDock> dock;
	};

	// One vertical scene's hotkey. uuid and generation never change after registration: a press reads
	// them off the user-interface thread.
	struct SceneHotkey {
		SceneHotkey(const QString &sceneUuid, uint64_t atGeneration) : uuid(sceneUuid), generation(atGeneration)
		{
		}
		const QString uuid;
		const uint64_t generation;
		QString name;
		obs_hotkey_id id = OBS_INVALID_HOTKEY_ID;
	};

	HotkeyManager();

	static void onActionPressed(void *data, obs_hotkey_id id, obs_hotkey_t *hotkey, bool pressed);
	static void onScenePressed(void *data, obs_hotkey_id id, obs_hotkey_t *hotkey, bool pressed);
	static void onBindingsChanged(void *data, calldata_t *params);

	void runAction(obs_hotkey_id id, const QPointer<OutputDock> &dock);
	void switchToScene(const QString &uuid, uint64_t atGeneration);
	void bindingsChanged(obs_hotkey_id id);

	// The global hotkeys' bindings as config.json would hold them (name -> obs_hotkey_save); new reference.
	obs_data_t *currentBindings() const;
	// Stores the current bindings when they differ from those last loaded or stored; returns whether
	// they did.
	bool storeChangedBindings();

	void syncSceneHotkeys();
	void registerSceneHotkey(const QString &uuid, const QString &name);
	void renameSceneHotkey(SceneHotkey &entry, const QString &name);
	void dropSceneHotkeys();

	std::unique_ptr<Registration> registration;
	std::array<obs_hotkey_id, ActionCount> actionIds;
	std::map<QString, std::unique_ptr<SceneHotkey>> sceneHotkeys;
	// The JSON of currentBindings() as last loaded or stored.
	QByteArray storedJson;
	OBSSignal bindingsSignal;
	bool registered = false;
	bool valid = false;
	std::atomic<uint64_t> generation{0};
};

} // namespace stilwane
