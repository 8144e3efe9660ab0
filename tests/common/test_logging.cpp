// SPDX-License-Identifier: GPL-2.0-or-later
// The one logging function: the prefix, a tag of its own, and debug lines only on request.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <common/Module.hpp>

#include <ObsTestEnv.hpp>
#include <TestMain.hpp>

using namespace stilwane;

class TestLogging : public QObject {
	Q_OBJECT

private slots:
	void cleanup() { qunsetenv("STILWANE_DEBUG"); }

	void linesByLevelAndEnvironment_data()
	{
		QTest::addColumn<int>("level");
		QTest::addColumn<QByteArray>("debugVariable");
		QTest::addColumn<bool>("written");
		QTest::newRow("info without variable") << int(LOG_INFO) << QByteArray() << true;
		QTest::newRow("warning without variable") << int(LOG_WARNING) << QByteArray() << true;
		QTest::newRow("debug without variable") << int(LOG_DEBUG) << QByteArray() << false;
		QTest::newRow("debug with 0") << int(LOG_DEBUG) << QByteArray("0") << false;
		QTest::newRow("debug with yes") << int(LOG_DEBUG) << QByteArray("yes") << false;
		QTest::newRow("debug with 1") << int(LOG_DEBUG) << QByteArray("1") << true;
		QTest::newRow("info with 1") << int(LOG_INFO) << QByteArray("1") << true;
	}

	void linesByLevelAndEnvironment()
	{
		QFETCH(int, level);
		QFETCH(QByteArray, debugVariable);
		QFETCH(bool, written);
		if (debugVariable.isNull())
			qunsetenv("STILWANE_DEBUG");
		else
			qputenv("STILWANE_DEBUG", debugVariable);
		ObsTestEnv::clearLog();
		stilwaneLog(level, "probe %d of %s", 7, "seven");
		QCOMPARE(ObsTestEnv::logContains("[stilwane] probe 7 of seven"), written);
		QCOMPARE(debugLogging(), debugVariable == "1");
	}

	void tagJoinsThePrefix()
	{
		ObsTestEnv::clearLog();
		stilwaneLog(LOG_INFO, "[selftest] step %d", 3);
		QVERIFY(ObsTestEnv::logContains("[stilwane][selftest] step 3"));
		QVERIFY(!ObsTestEnv::logContains("[stilwane] [selftest]"));
	}
};

STILWANE_TEST_MAIN(TestLogging)
#include "test_logging.moc"
