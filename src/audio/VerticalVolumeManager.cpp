#include <audio/VerticalVolumeManager.hpp>

VerticalVolumeManager *VerticalVolumeManager::instance()
{
	static VerticalVolumeManager manager;
	return &manager;
}

void VerticalVolumeManager::setUp() {}

void VerticalVolumeManager::tearDown() {}

void VerticalVolumeManager::restore() {}

void VerticalVolumeManager::reevaluate() {}

void VerticalVolumeManager::loadFromCollection(obs_data_t *data)
{
	OBSDataArrayAutoRelease array = data ? obs_data_get_array(data, "vertical_volumes") : nullptr;
	stored = array.Get();
}

void VerticalVolumeManager::saveToCollection(obs_data_t *data)
{
	if (stored)
		obs_data_set_array(data, "vertical_volumes", stored);
}
