// SPDX-License-Identifier: GPL-2.0-or-later
#include <audio/AudioSourceScan.hpp>

#include <audio/VerticalAudioSource.hpp>
#include <canvas/CanvasManager.hpp>

#include <unordered_set>

#include <obs-frontend-api.h>

namespace stilwane {

namespace {

// One side of the scan: every source walked counts once, whatever the number of scenes holding it.
class SideWalk {
public:
	SideWalk(std::vector<OBSSource> &audio, std::vector<OBSSource> &containers)
		: audio(audio),
		  containers(containers)
	{
	}

	void walk(obs_source_t *source)
	{
		if (!source || !seen.insert(source).second)
			return;
		obs_scene_t *scene = obs_scene_from_source(source);
		if (!scene)
			scene = obs_group_from_source(source);
		if (scene) {
			containers.emplace_back(source);
			// The items are collected under the scene's lock and walked after it: a nested scene's own
			// enumeration must not run while the outer scene is locked.
			std::vector<OBSSource> children;
			obs_scene_enum_items(
				scene,
				[](obs_scene_t *, obs_sceneitem_t *item, void *param) {
					static_cast<std::vector<OBSSource> *>(param)->emplace_back(
						obs_sceneitem_get_source(item));
					return true;
				},
				&children);
			for (const OBSSource &child : children)
				walk(child);
			return;
		}
		if ((obs_source_get_output_flags(source) & OBS_SOURCE_AUDIO) && !isInternalAudioSource(source))
			audio.emplace_back(source);
	}

	void walkGlobalChannels()
	{
		for (uint32_t channel = 1; channel <= 6; channel++) {
			OBSSourceAutoRelease source = obs_get_output_source(channel);
			walk(source);
		}
	}

private:
	std::vector<OBSSource> &audio;
	std::vector<OBSSource> &containers;
	std::unordered_set<obs_source_t *> seen;
};

bool holds(const std::vector<OBSSource> &list, obs_source_t *source)
{
	for (const OBSSource &entry : list)
		if (entry == source)
			return true;
	return false;
}

} // namespace

AudioSourceScan AudioSourceScan::scan()
{
	AudioSourceScan result;

	SideWalk vertical(result.verticalAudio, result.verticalContainers);
	CanvasManager *manager = CanvasManager::instance();
	if (manager->hasCanvas()) {
		for (const SceneRef &ref : manager->scenes()) {
			OBSSourceAutoRelease scene = manager->findSceneByUuid(ref.uuid);
			vertical.walk(scene);
		}
	}
	vertical.walkGlobalChannels();

	SideWalk main(result.mainAudio, result.mainContainers);
	obs_frontend_source_list scenes = {};
	obs_frontend_get_scenes(&scenes);
	for (size_t i = 0; i < scenes.sources.num; i++)
		main.walk(scenes.sources.array[i]);
	obs_frontend_source_list_free(&scenes);
	main.walkGlobalChannels();

	return result;
}

bool AudioSourceScan::inVertical(obs_source_t *source) const
{
	return holds(verticalAudio, source);
}

bool AudioSourceScan::inMain(obs_source_t *source) const
{
	return holds(mainAudio, source);
}

std::vector<OBSSource> AudioSourceScan::containers() const
{
	std::vector<OBSSource> all = verticalContainers;
	for (const OBSSource &container : mainContainers)
		if (!holds(all, container))
			all.push_back(container);
	return all;
}

} // namespace stilwane
