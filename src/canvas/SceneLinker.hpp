#pragma once

#include <QObject>

#include <obs-frontend-api.h>

// Makes the vertical canvas follow the main canvas's scene switches through the links stored on
// vertical scenes. Until links are followed, the linker only keeps its lifecycle: it registers its
// event callback once and knows whether it is suspended.
class SceneLinker : public QObject {
	Q_OBJECT

public:
	static SceneLinker *instance();

	void start();
	void stop();
	void suspend() { suspended = true; }
	void resume() { suspended = false; }
	bool isSuspended() const { return suspended; }
	bool isStarted() const { return started; }

	void followProgramScene(const char *trigger);
	void followPreviewScene();

private:
	SceneLinker() = default;
	static void onFrontendEvent(enum obs_frontend_event event, void *param);

	bool started = false;
	bool suspended = true;
};
