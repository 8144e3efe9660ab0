// SPDX-License-Identifier: GPL-2.0-or-later
#include "ObsTestEnv.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEvent>
#include <QMetaObject>
#include <QTemporaryDir>
#include <QThread>

#include <obs.h>
#include <obs-nix-platform.h>
#include <util/base.h>
#include <util/bmem.h>

// Last: Xlib's macros (Bool, None, Status...) would break the Qt headers.
#include <X11/Xlib.h>

namespace {

struct EnvState {
	Display *display = nullptr;
	QTemporaryDir *moduleConfigDir = nullptr;
	bool started = false;
	long leaks = -1;
	std::mutex logMutex;
	QStringList log;
	bool debugLog = false;
};

EnvState &state()
{
	static EnvState s;
	return s;
}

const char *levelName(int level)
{
	switch (level) {
	case LOG_ERROR:
		return "error";
	case LOG_WARNING:
		return "warning";
	case LOG_INFO:
		return "info";
	default:
		return "debug";
	}
}

void logHandler(int level, const char *format, va_list args, void *)
{
	char buffer[8192];
	vsnprintf(buffer, sizeof(buffer), format, args);
	const QString line = QStringLiteral("%1: %2").arg(QLatin1String(levelName(level)), QString::fromUtf8(buffer));
	EnvState &s = state();
	{
		std::lock_guard<std::mutex> lock(s.logMutex);
		s.log.append(line);
	}
	if (level <= LOG_INFO || s.debugLog)
		fprintf(stderr, "%s\n", line.toUtf8().constData());
}

// The same dispatch as OBS's own handler: libobs asks for user-interface tasks from any thread, and a
// waiting task from the user-interface thread itself must run at once instead of deadlocking.
void uiTaskHandler(obs_task_t task, void *param, bool wait)
{
	QCoreApplication *app = QCoreApplication::instance();
	if (!app) {
		task(param);
		return;
	}
	Qt::ConnectionType type = Qt::AutoConnection;
	if (wait)
		type = QThread::currentThread() == app->thread() ? Qt::DirectConnection : Qt::BlockingQueuedConnection;
	QMetaObject::invokeMethod(app, [task, param]() { task(param); }, type);
}

} // namespace

QStringList ObsTestEnv::disabledModules()
{
	// frontend-tools and obs-websocket call into OBS's front end and application object; obs-vst
	// wants OBS's Qt application as well.
	return {QStringLiteral("frontend-tools"), QStringLiteral("obs-websocket"), QStringLiteral("obs-vst")};
}

bool ObsTestEnv::start()
{
	EnvState &s = state();
	if (s.started)
		return true;

	s.debugLog = qEnvironmentVariableIsSet("STILWANE_TEST_DEBUG_LOG");
	base_set_log_handler(logHandler, nullptr);

	s.display = XOpenDisplay(nullptr);
	if (!s.display) {
		fprintf(stderr, "ObsTestEnv: cannot open X display '%s' (run the test under xvfb-run-test)\n",
			qgetenv("DISPLAY").constData());
		base_set_log_handler(nullptr, nullptr);
		return false;
	}
	obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
	obs_set_nix_platform_display(s.display);

	s.moduleConfigDir = new QTemporaryDir();
	// Modules such as rtmp-services write below this directory and expect it to exist.
	const QString configDir = QDir(s.moduleConfigDir->path()).filePath(QStringLiteral("plugin_config"));
	QDir().mkpath(configDir);
	const QByteArray configPath = configDir.toUtf8();
	if (!obs_startup("en-US", configPath.constData(), nullptr)) {
		fprintf(stderr, "ObsTestEnv: obs_startup failed\n");
		shutdown();
		return false;
	}
	s.started = true;
	obs_set_ui_task_handler(uiTaskHandler);

	obs_video_info ovi = {};
	ovi.graphics_module = "libobs-opengl";
	ovi.fps_num = kFps;
	ovi.fps_den = 1;
	ovi.base_width = ovi.output_width = kWidth;
	ovi.base_height = ovi.output_height = kHeight;
	ovi.output_format = VIDEO_FORMAT_NV12;
	ovi.adapter = 0;
	ovi.gpu_conversion = true;
	ovi.colorspace = VIDEO_CS_709;
	ovi.range = VIDEO_RANGE_PARTIAL;
	ovi.scale_type = OBS_SCALE_BICUBIC;
	const int videoResult = obs_reset_video(&ovi);
	if (videoResult != OBS_VIDEO_SUCCESS) {
		fprintf(stderr, "ObsTestEnv: obs_reset_video failed (%d)\n", videoResult);
		shutdown();
		return false;
	}

	obs_audio_info oai = {};
	oai.samples_per_sec = kSampleRate;
	oai.speakers = SPEAKERS_STEREO;
	if (!obs_reset_audio(&oai)) {
		fprintf(stderr, "ObsTestEnv: obs_reset_audio failed\n");
		shutdown();
		return false;
	}

	// libobs already searches the system's module directory; adding it again loads every module twice.
	for (const QString &name : disabledModules())
		obs_add_disabled_module(name.toUtf8().constData());
	obs_load_all_modules();
	obs_post_load_modules();
	return true;
}

bool ObsTestEnv::started()
{
	return state().started;
}

long ObsTestEnv::shutdown()
{
	EnvState &s = state();
	if (s.started) {
		// Widgets deleted with deleteLater may still hold libobs references.
		QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
		// The task handler stays: modules still queue user-interface tasks while they unload.
		obs_shutdown();
		s.started = false;
		s.leaks = bnum_allocs();
		fprintf(stderr, "ObsTestEnv: libobs memory leaks: %ld\n", s.leaks);
	}
	if (s.display) {
		XCloseDisplay(s.display);
		s.display = nullptr;
	}
	delete s.moduleConfigDir;
	s.moduleConfigDir = nullptr;
	base_set_log_handler(nullptr, nullptr);
	return s.leaks;
}

long ObsTestEnv::leakCount()
{
	return state().leaks;
}

bool ObsTestEnv::waitUntil(const std::function<bool()> &predicate, int timeoutMs)
{
	QDeadlineTimer deadline(timeoutMs);
	while (!predicate()) {
		if (deadline.hasExpired())
			return predicate();
		QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
		QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
		QThread::msleep(2);
	}
	return true;
}

void ObsTestEnv::pump(int ms)
{
	waitUntil([] { return false; }, ms);
}

QStringList ObsTestEnv::logLines()
{
	EnvState &s = state();
	std::lock_guard<std::mutex> lock(s.logMutex);
	return s.log;
}

bool ObsTestEnv::logContains(const QString &text)
{
	EnvState &s = state();
	std::lock_guard<std::mutex> lock(s.logMutex);
	for (const QString &line : s.log) {
		if (line.contains(text))
			return true;
	}
	return false;
}

void ObsTestEnv::clearLog()
{
	EnvState &s = state();
	std::lock_guard<std::mutex> lock(s.logMutex);
	s.log.clear();
}
