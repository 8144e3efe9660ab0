// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <functional>

#include <QString>
#include <QStringList>

// Real libobs, started headless once per test executable: X11/EGL on the display that xvfb-run-test
// provides, OpenGL video (llvmpipe), stereo audio and the system's modules. Everything is static
// because libobs itself is a process-wide singleton.
class ObsTestEnv {
public:
	static constexpr int kWidth = 1920;
	static constexpr int kHeight = 1080;
	static constexpr int kFps = 30;
	static constexpr int kSampleRate = 48000;

	// Returns false (with the reason on stderr) when no X display or no video can be had. A second
	// call while libobs runs does nothing and returns true.
	static bool start();
	static bool started();

	// Shuts libobs down and returns libobs's count of allocations still alive (bnum_allocs), the
	// number OBS prints as "Number of memory leaks". Anything that still holds libobs references,
	// the test front end included, must be released before.
	static long shutdown();
	static long leakCount();

	// Runs the Qt event loop (and with it libobs's user-interface tasks) until the predicate holds or
	// the timeout passes; returns the predicate's last value.
	static bool waitUntil(const std::function<bool()> &predicate, int timeoutMs = 5000);
	// Runs the event loop for the given time.
	static void pump(int ms);

	// Every libobs log line since start or the last clearLog(), as "LEVEL: text". Lines are also
	// written to stderr (debug lines only when STILWANE_TEST_DEBUG_LOG is set).
	static QStringList logLines();
	static bool logContains(const QString &text);
	static void clearLog();

	// Modules that are not loaded because they need OBS's own front end or application object.
	static QStringList disabledModules();
};
