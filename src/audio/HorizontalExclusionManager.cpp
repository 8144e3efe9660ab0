#include <audio/HorizontalExclusionManager.hpp>

HorizontalExclusionManager *HorizontalExclusionManager::instance()
{
	static HorizontalExclusionManager manager;
	return &manager;
}

void HorizontalExclusionManager::setUp() {}

void HorizontalExclusionManager::shutdown()
{
	stored = nullptr;
}

void HorizontalExclusionManager::start() {}

void HorizontalExclusionManager::stop() {}

void HorizontalExclusionManager::applyExclusions() {}

void HorizontalExclusionManager::loadFromCollection(obs_data_t *data)
{
	OBSDataArrayAutoRelease array = data ? obs_data_get_array(data, "horizontal_exclusions") : nullptr;
	stored = array.Get();
}

void HorizontalExclusionManager::saveToCollection(obs_data_t *data)
{
	if (stored)
		obs_data_set_array(data, "horizontal_exclusions", stored);
}
