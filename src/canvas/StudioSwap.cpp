// SPDX-License-Identifier: GPL-2.0-or-later
#include <canvas/StudioSwap.hpp>

namespace stilwane {

uint64_t StudioSwap::begin(const QString &targetUuid)
{
	target = targetUuid;
	const uint64_t g = ++generation_;
	running = true;
	return g;
}

void StudioSwap::cancel()
{
	running = false;
	target.clear();
}

void StudioSwap::abandon()
{
	generation_++;
	running = false;
	target.clear();
}

QString StudioSwap::finish(uint64_t forGeneration)
{
	if (forGeneration != generation_.load() || !running)
		return QString();
	running = false;
	QString result = target;
	target.clear();
	return result;
}

void StudioSwap::forgetTarget(const QString &uuid)
{
	if (uuid == target)
		target.clear();
}

} // namespace stilwane
