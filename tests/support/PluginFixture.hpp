// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>

#include <TestFrontend.hpp>

#include <QTemporaryDir>

#include <util/text-lookup.h>

using namespace stilwane;

// Where nearly every test of the plug-in starts: a configuration directory of its own, the English
// locale (the user-visible texts and the names of the built-in transitions) and a fresh front end.
// Test classes hold one and call it from their initTestCase, cleanupTestCase and init slots.
class PluginFixture {
public:
	QTemporaryDir dir;
	TestFrontend &fe = TestFrontend::instance();

	void initTestCase() { setLocaleTable(text_lookup_create(STILWANE_DATA_DIR "/locale/en-US.ini")); }

	void cleanupTestCase()
	{
		text_lookup_destroy(localeTable());
		setLocaleTable(nullptr);
	}

	// The default configuration, stored in dir, and a front end without anything in it.
	void freshConfig()
	{
		setConfigDirectoryOverride(dir.path().toStdString());
		config() = ConfigRecord{};
		fe.reset();
	}
};
