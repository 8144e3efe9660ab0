// SPDX-License-Identifier: GPL-2.0-or-later
#include "TestMain.hpp"

#include <algorithm>
#include <cstdio>

#include <QApplication>
#include <QTest>

#include "ObsTestEnv.hpp"
#include "TestFrontend.hpp"

int TestMain::run(int &argc, char **argv, const Factory &makeTest, long maxLeaks)
{
	QApplication app(argc, argv);
	app.setAttribute(Qt::AA_Use96Dpi, true);

	bool ok = false;
	const long envMax = qEnvironmentVariableIntValue("STILWANE_MAX_LEAKS", &ok);
	if (ok)
		maxLeaks = envMax;

	if (!ObsTestEnv::start()) {
		ObsTestEnv::shutdown();
		fprintf(stderr, "FAIL: libobs could not be started\n");
		return 2;
	}
	TestFrontend::instance().reset();

	int failures = 0;
	{
		// Destroyed before libobs goes: the test object may still hold references.
		std::unique_ptr<QObject> test = makeTest();
		failures = QTest::qExec(test.get(), argc, argv);
	}
	TestFrontend::instance().shutdown();
	const long leaks = ObsTestEnv::shutdown();

	if (leaks > maxLeaks) {
		fprintf(stderr, "FAIL: libobs reports %ld leaked allocations, %ld allowed\n", leaks, maxLeaks);
		return failures > 0 ? std::min(failures, 125) : 1;
	}
	return std::min(failures, 125);
}
