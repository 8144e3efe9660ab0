// SPDX-License-Identifier: GPL-2.0-or-later
// The studio swap on its own: which end report of a studio transition puts which scene into the
// preview, and which reports are stale.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <canvas/StudioSwap.hpp>

#include <TestMain.hpp>

using namespace stilwane;

class TestStudioSwap : public QObject {
	Q_OBJECT

private slots:
	// Steps: "begin X" (target X, "-" for none), "finish" (with the newest begin's generation),
	// "finish-old" (with the one before it), "count", "cancel", "abandon", "forget X". Each finish adds
	// what it returned to the results ("" for nothing).
	void endReports_data()
	{
		QTest::addColumn<QStringList>("steps");
		QTest::addColumn<QStringList>("results");
		QTest::addColumn<bool>("runningAfter");
		QTest::addColumn<int>("generationAfter");

		QTest::newRow("end puts the target into the preview")
			<< QStringList{"begin A", "finish"} << QStringList{"A"} << false << 1;
		QTest::newRow("a swap without target")
			<< QStringList{"begin -", "finish"} << QStringList{""} << false << 1;
		QTest::newRow("each end is handled once")
			<< QStringList{"begin A", "finish", "finish"} << QStringList{"A", ""} << false << 1;
		QTest::newRow("a newer switch makes the end stale")
			<< QStringList{"begin A", "count", "finish"} << QStringList{""} << true << 2;
		QTest::newRow("abandoned swap")
			<< QStringList{"begin A", "abandon", "finish"} << QStringList{""} << false << 2;
		QTest::newRow("transition that did not start")
			<< QStringList{"begin A", "cancel"} << QStringList{} << false << 1;
		QTest::newRow("end of a transition that did not start")
			<< QStringList{"begin A", "cancel", "finish"} << QStringList{""} << false << 1;
		QTest::newRow("target removed")
			<< QStringList{"begin A", "forget A", "finish"} << QStringList{""} << false << 1;
		QTest::newRow("another scene removed")
			<< QStringList{"begin A", "forget B", "finish"} << QStringList{"A"} << false << 1;
		QTest::newRow("late end of the previous swap")
			<< QStringList{"begin A", "begin B", "finish-old", "finish"} << QStringList{"", "B"} << false
			<< 2;
		QTest::newRow("nothing begun") << QStringList{"count", "finish"} << QStringList{""} << false << 1;
	}

	void endReports()
	{
		QFETCH(QStringList, steps);
		QFETCH(QStringList, results);
		QFETCH(bool, runningAfter);
		QFETCH(int, generationAfter);

		StudioSwap swap;
		uint64_t newest = swap.generation();
		uint64_t before = newest;
		QStringList got;
		for (const QString &step : steps) {
			const QString argument = step.section(' ', 1);
			if (step.startsWith("begin ")) {
				before = newest;
				newest = swap.begin(argument == "-" ? QString() : argument);
				QCOMPARE(newest, swap.generation());
				QVERIFY(swap.inProgress());
			} else if (step == "finish") {
				got << swap.finish(newest);
			} else if (step == "finish-old") {
				got << swap.finish(before);
			} else if (step == "count") {
				swap.countSwitch();
			} else if (step == "cancel") {
				swap.cancel();
			} else if (step == "abandon") {
				swap.abandon();
			} else if (step.startsWith("forget ")) {
				swap.forgetTarget(argument);
			} else {
				QFAIL(qPrintable("unknown step " + step));
			}
		}
		QCOMPARE(got, results);
		QCOMPARE(swap.inProgress(), runningAfter);
		QCOMPARE(swap.generation(), uint64_t(generationAfter));
	}
};

STILWANE_TEST_MAIN(TestStudioSwap)
#include "test_studio_swap.moc"
