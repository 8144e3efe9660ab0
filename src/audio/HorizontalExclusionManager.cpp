#include <audio/HorizontalExclusionManager.hpp>

namespace stilwane {

HorizontalExclusionManager *HorizontalExclusionManager::instance()
{
	static HorizontalExclusionManager manager;
	return &manager;
}

HorizontalExclusionManager::~HorizontalExclusionManager() = default;

void HorizontalExclusionManager::setUp() {}

void HorizontalExclusionManager::setSuspended(bool on)
{
	suspended = on;
}

void HorizontalExclusionManager::shutdown()
{
}

void HorizontalExclusionManager::start() {}

void HorizontalExclusionManager::stop() {}

void HorizontalExclusionManager::applyExclusions() {}

void HorizontalExclusionManager::loadFromCollection(obs_data_t *data)
{
	(void)data;
}

void HorizontalExclusionManager::saveToCollection(obs_data_t *data)
{
	(void)data;
}

} // namespace stilwane
