// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <functional>
#include <memory>

#include <QObject>

// The main() of a unit-test executable: a QApplication (widgets are tested too), real libobs and a
// fresh test front end, QTest on the test object, then everything released and libobs shut down.
// The executable fails when a test fails or when libobs reports more leaked allocations than allowed
// (the environment variable STILWANE_MAX_LEAKS overrides the allowance).
class TestMain {
public:
	using Factory = std::function<std::unique_ptr<QObject>()>;
	// argc is a reference because QApplication keeps it.
	static int run(int &argc, char **argv, const Factory &makeTest, long maxLeaks);
};

#define STILWANE_TEST_MAIN_MAX_LEAKS(TestClass, maxLeaks)                                                             \
	int main(int argc, char **argv)                                                                               \
	{                                                                                                             \
		return TestMain::run(argc, argv, [] { return std::unique_ptr<QObject>(new TestClass); }, (maxLeaks)); \
	}

#define STILWANE_TEST_MAIN(TestClass) STILWANE_TEST_MAIN_MAX_LEAKS(TestClass, 0)
