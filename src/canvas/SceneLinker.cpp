#include <canvas/SceneLinker.hpp>

SceneLinker *SceneLinker::instance()
{
	static SceneLinker linker;
	return &linker;
}

void SceneLinker::start()
{
	if (started)
		return;
	started = true;
	obs_frontend_add_event_callback(onFrontendEvent, this);
}

void SceneLinker::stop()
{
	if (!started)
		return;
	started = false;
	suspended = true;
	obs_frontend_remove_event_callback(onFrontendEvent, this);
}

void SceneLinker::onFrontendEvent(enum obs_frontend_event, void *) {}

// Links are not followed yet: a main switch leaves the vertical canvas where it is.
void SceneLinker::followProgramScene(const char *) {}

void SceneLinker::followPreviewScene() {}
