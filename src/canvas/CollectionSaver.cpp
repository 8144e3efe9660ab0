// SPDX-License-Identifier: GPL-2.0-or-later
#include <canvas/CollectionSaver.hpp>

#include <obs-frontend-api.h>

namespace stilwane {

CollectionSaver *CollectionSaver::instance()
{
	static CollectionSaver *saver = new CollectionSaver();
	return saver;
}

CollectionSaver::CollectionSaver()
{
	timer.setSingleShot(true);
	timer.setInterval(kDelayMs);
	connect(&timer, &QTimer::timeout, this, [] { obs_frontend_save(); });
}

void CollectionSaver::request()
{
	// A running timer is not restarted: a long burst still saves kDelayMs after its first edit.
	if (!timer.isActive())
		timer.start();
}

void CollectionSaver::cancel()
{
	timer.stop();
}

} // namespace stilwane
