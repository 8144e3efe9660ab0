// SPDX-License-Identifier: GPL-2.0-or-later
#include <hotkeys/HotkeyManager.hpp>

#include <canvas/CanvasManager.hpp>
#include <common/Module.hpp>

#include <QMetaObject>
#include <QSet>

namespace stilwane {

namespace {

constexpr const char *kSceneHotkeyPrefix = "stilwane.scene.";
constexpr const char *kSceneTrigger = "scene-hotkey";

QByteArray sceneDescription(const QString &name)
{
	return translate("Hotkeys.Scene").arg(name).toUtf8();
}

struct DescriptionUpdate {
	obs_hotkey_id id;
	const char *description;
};

} // namespace

QString HotkeyManager::sceneHotkeyName(const QString &sceneUuid)
{
	return QString::fromUtf8(kSceneHotkeyPrefix) + sceneUuid;
}

obs_hotkey_id HotkeyManager::sceneHotkey(const QString &sceneUuid) const
{
	auto found = sceneHotkeys.find(sceneUuid);
	return found == sceneHotkeys.end() ? OBS_INVALID_HOTKEY_ID : found->second->id;
}

void HotkeyManager::registerSceneHotkeys()
{
	// Hotkeys left from an earlier canvas belong to scenes that are gone or were loaded again.
	if (!valid)
		dropSceneHotkeys();
	valid = true;
	syncSceneHotkeys();
}

void HotkeyManager::invalidateSceneHotkeys()
{
	valid = false;
	generation++;
}

void HotkeyManager::unregisterSceneHotkeys()
{
	invalidateSceneHotkeys();
	dropSceneHotkeys();
}

void HotkeyManager::dropSceneHotkeys()
{
	// libobs has already unregistered the hotkey of a scene it destroyed; ids are never given again.
	for (auto &[uuid, entry] : sceneHotkeys)
		obs_hotkey_unregister(entry->id);
	sceneHotkeys.clear();
}

// Every vertical scene has one hotkey, described with the scene's current name; the hotkeys of scenes
// that are gone go with them.
void HotkeyManager::syncSceneHotkeys()
{
	if (!registered || !valid)
		return;
	const QVector<SceneRef> scenes = CanvasManager::instance()->scenes();
	QSet<QString> present;
	for (const SceneRef &scene : scenes) {
		present.insert(scene.uuid);
		auto found = sceneHotkeys.find(scene.uuid);
		if (found == sceneHotkeys.end())
			registerSceneHotkey(scene.uuid, scene.name);
		else if (found->second->name != scene.name)
			renameSceneHotkey(*found->second, scene.name);
	}
	for (auto it = sceneHotkeys.begin(); it != sceneHotkeys.end();) {
		if (present.contains(it->first)) {
			++it;
			continue;
		}
		obs_hotkey_unregister(it->second->id);
		it = sceneHotkeys.erase(it);
	}
}

void HotkeyManager::registerSceneHotkey(const QString &uuid, const QString &name)
{
	OBSSourceAutoRelease scene = CanvasManager::instance()->findSceneByUuid(uuid);
	if (!scene)
		return;
	auto entry = std::make_unique<SceneHotkey>(uuid, generation.load());
	entry->name = name;
	// libobs loads the binding the scene collection saved under this name.
	const QByteArray hotkeyName = sceneHotkeyName(uuid).toUtf8();
	entry->id = obs_hotkey_register_source(scene, hotkeyName.constData(), sceneDescription(name).constData(),
					       onScenePressed, entry.get());
	// Not kept: the next sync tries again.
	if (entry->id == OBS_INVALID_HOTKEY_ID)
		return;
	sceneHotkeys[uuid] = std::move(entry);
}

void HotkeyManager::renameSceneHotkey(SceneHotkey &entry, const QString &name)
{
	const QByteArray description = sceneDescription(name);
	DescriptionUpdate update{entry.id, description.constData()};
	// Under libobs's hotkey lock: OBS's settings may be reading the descriptions.
	obs_hotkey_update_atomic(
		[](void *data) {
			auto *change = static_cast<DescriptionUpdate *>(data);
			obs_hotkey_set_description(change->id, change->description);
		},
		&update);
	entry.name = name;
}

// Called on libobs's hotkey thread, on the thread of whoever triggers the hotkey by id (obs-websocket's,
// OBS's user-interface thread), under libobs's hotkey lock.
void HotkeyManager::onScenePressed(void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	if (!pressed)
		return;
	const auto *entry = static_cast<const SceneHotkey *>(data);
	HotkeyManager *manager = instance();
	const QString uuid = entry->uuid;
	const uint64_t atGeneration = entry->generation;
	QMetaObject::invokeMethod(
		manager, [manager, uuid, atGeneration] { manager->switchToScene(uuid, atGeneration); },
		Qt::QueuedConnection);
}

void HotkeyManager::switchToScene(const QString &uuid, uint64_t atGeneration)
{
	// Pressed before a collection change or OBS's exit began: the scene may be gone or another one's.
	if (!valid || atGeneration != generation.load())
		return;
	CanvasManager *canvas = CanvasManager::instance();
	OBSSourceAutoRelease scene = canvas->findSceneByUuid(uuid);
	if (!scene)
		return;
	if (canvas->studioMode())
		canvas->setPreviewScene(scene, kSceneTrigger);
	else
		canvas->setCurrentScene(scene, -1, kSceneTrigger);
}

} // namespace stilwane
