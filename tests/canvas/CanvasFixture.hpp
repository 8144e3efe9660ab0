// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// Shared by the canvas-manager tests. Include after <QtTest>: libobs's SIMD macros break the compiler's
// intrinsics headers included after them.

#include <canvas/CanvasManager.hpp>
#include <output/VerticalOutput.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>

#include <ObsTestEnv.hpp>
#include <PluginFixture.hpp>
#include <TestFrontend.hpp>

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>

#include <obs.hpp>
#include <util/text-lookup.h>

using namespace stilwane;

namespace canvastest {

// A raw video output on OBS's main video, as OBS's own recording or virtual camera make one: while it
// runs, libobs refuses every canvas video reset.
class MainVideoSink {
public:
	MainVideoSink()
	{
		static bool registered = false;
		if (!registered) {
			obs_output_info info = {};
			info.id = "stilwane_test_video_sink";
			info.flags = OBS_OUTPUT_VIDEO;
			info.get_name = [](void *) {
				return "test video sink";
			};
			info.create = [](obs_data_t *, obs_output_t *output) -> void * {
				return output;
			};
			info.destroy = [](void *) {
			};
			info.start = [](void *data) {
				return obs_output_begin_data_capture(static_cast<obs_output_t *>(data), 0);
			};
			info.stop = [](void *data, uint64_t) {
				obs_output_end_data_capture(static_cast<obs_output_t *>(data));
			};
			info.raw_video = [](void *, video_data *) {
			};
			obs_register_output(&info);
			registered = true;
		}
		output = obs_output_create("stilwane_test_video_sink", "test video sink", nullptr, nullptr);
		obs_output_set_media(output, obs_get_video(), obs_get_audio());
	}
	~MainVideoSink()
	{
		obs_output_stop(output);
		ObsTestEnv::waitUntil([this] { return !obs_output_active(output); });
	}
	bool start() { return obs_output_start(output) && obs_video_active(); }

private:
	OBSOutputAutoRelease output;
};

inline QString uuidOf(obs_source_t *source)
{
	return source ? QString::fromUtf8(obs_source_get_uuid(source)) : QString();
}

inline QString uuidOf(obs_scene_t *scene)
{
	return uuidOf(obs_scene_get_source(scene));
}

inline QString uuidOf(obs_canvas_t *canvas)
{
	return canvas ? QString::fromUtf8(obs_canvas_get_uuid(canvas)) : QString();
}

inline QStringList names(const QVector<SceneRef> &list)
{
	QStringList result;
	for (const SceneRef &ref : list)
		result << ref.name;
	return result;
}

inline QStringList uuids(const QVector<SceneRef> &list)
{
	QStringList result;
	for (const SceneRef &ref : list)
		result << ref.uuid;
	return result;
}

// What the active transition shows once it is not transitioning (its destination while it is).
inline QString shownSceneUuid(CanvasManager *m)
{
	obs_source_t *transition = m->activeTransitionSource();
	if (!transition)
		return QString();
	OBSSourceAutoRelease shown = obs_transition_get_active_source(transition);
	return uuidOf(shown.Get());
}

// Runs the event loop until the active transition's video has stopped and the manager's handler of
// that stop, queued from the video thread, has run.
inline bool waitForTransitionEnd(CanvasManager *m, int timeoutMs = 5000)
{
	OBSSource transition = m->activeTransitionSource();
	if (!transition)
		return true;
	std::atomic<bool> stopped{false};
	OBSSignal stop(
		obs_source_get_signal_handler(transition), "transition_video_stop",
		[](void *param, calldata_t *) { static_cast<std::atomic<bool> *>(param)->store(true); }, &stopped);
	// Connected before looking: a transition still running now will signal its stop to us.
	bool ended = !obs_transition_is_active(transition) ||
		     ObsTestEnv::waitUntil([&stopped] { return stopped.load(); }, timeoutMs);
	stop.Disconnect();
	// The manager's handler of the same emission queued its work to this thread: let it run.
	ObsTestEnv::pump(100);
	return ended;
}

inline int countLog(const QString &text)
{
	int count = 0;
	for (const QString &line : ObsTestEnv::logLines())
		count += line.contains(text);
	return count;
}

inline obs_source_t *sourceOf(obs_scene_t *scene)
{
	return obs_scene_get_source(scene);
}

// The common set-up of every test: a configuration of its own, the English locale (built-in
// transitions carry translated names), a fresh front end and no vertical canvas yet.
class Fixture : public PluginFixture {
public:
	CanvasManager *m = CanvasManager::instance();

	void init()
	{
		freshConfig();
		m->setOutputsBusyCheck([] { return VerticalOutput::instance()->isAnyOutputBusy(); });
		VerticalOutput::setBusyOverrideForTests(std::nullopt);
		ObsTestEnv::clearLog();
	}

	void cleanup()
	{
		// Studio mode lives in the manager, which outlives each test.
		m->setStudioMode(false);
		m->releaseCanvas();
		VerticalOutput::setBusyOverrideForTests(std::nullopt);
		fe.reset();
	}

	// A canvas as the plug-in makes it ready for a collection without an object: loaded, then told
	// that studio mode is off.
	void freshCanvas()
	{
		m->loadFromCollection(nullptr);
		m->setStudioMode(false);
	}
};

} // namespace canvastest
