// SPDX-License-Identifier: GPL-2.0-or-later
// The outcome type: its codes, its two languages (the user's table and the English one) and the
// sentences that wrap a reason.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <common/Module.hpp>
#include <common/Result.hpp>

#include <TestMain.hpp>

#include <QTemporaryDir>

#include <util/text-lookup.h>

using namespace stilwane;

class TestResult : public QObject {
	Q_OBJECT

	QTemporaryDir dir;

	static lookup_t *table(const QString &path, const QByteArray &text)
	{
		QFile file(path);
		if (!file.open(QIODevice::WriteOnly))
			return nullptr;
		file.write(text);
		file.close();
		return text_lookup_create(path.toUtf8().constData());
	}

private slots:
	void init()
	{
		setEnglishLocaleTable(table(dir.filePath("en.ini"), "Start=\"Could not start: %1\"\n"
								    "Folder=\"The folder %1 is missing (%2).\"\n"));
		setLocaleTable(table(dir.filePath("de.ini"), "Start=\"Start fehlgeschlagen: %1\"\n"
							     "Folder=\"Der Ordner %1 fehlt (%2).\"\n"));
		QVERIFY(englishLocaleTable() && localeTable());
	}

	void cleanup()
	{
		text_lookup_destroy(localeTable());
		setLocaleTable(nullptr);
		text_lookup_destroy(englishLocaleTable());
		setEnglishLocaleTable(nullptr);
	}

	void fill_data()
	{
		QTest::addColumn<QString>("pattern");
		QTest::addColumn<QStringList>("args");
		QTest::addColumn<QString>("filled");
		QTest::newRow("in order") << "%1 and %2" << QStringList{"a", "b"} << "a and b";
		QTest::newRow("out of order") << "%2 before %1" << QStringList{"a", "b"} << "b before a";
		QTest::newRow("twice") << "%1/%1" << QStringList{"a"} << "a/a";
		QTest::newRow("marker in an argument") << "%1 (%2)" << QStringList{"50%2 off", "b"} << "50%2 off (b)";
		QTest::newRow("no argument for it") << "%1 %2" << QStringList{"a"} << "a %2";
		QTest::newRow("percent signs") << "100% %%1 %" << QStringList{"a"} << "100% %a %";
		QTest::newRow("no arguments") << "%1" << QStringList{} << "%1";
	}

	void fill()
	{
		QFETCH(QString, pattern);
		QFETCH(QStringList, args);
		QFETCH(QString, filled);
		QCOMPARE(Result::fill(pattern, args), filled);
	}

	void successHasNoWords()
	{
		const Result ok;
		QVERIFY(ok.ok());
		QVERIFY(bool(ok));
		QCOMPARE(ok.code(), int(Result::Success));
		QCOMPARE(ok.userText(), QString());
		QCOMPARE(ok.englishText(), QString());
		QVERIFY(ok.within("Start").ok());
		QString untouched = "before";
		QVERIFY(ok.succeeded(&untouched));
		QCOMPARE(untouched, QString("before"));
	}

	void failureSpeaksBothLanguages()
	{
		const Result missing = Result::translated(Result::ResourceNotFound, "Folder", {"/a/%2", "x"});
		QVERIFY(!missing.ok());
		QVERIFY(!missing);
		QCOMPARE(missing.code(), int(Result::ResourceNotFound));
		QCOMPARE(missing.userText(), QString("Der Ordner /a/%2 fehlt (x)."));
		QCOMPARE(missing.englishText(), QString("The folder /a/%2 is missing (x)."));

		// Wrapped, each language in its own sentence; the code stays.
		const Result start = missing.within("Start");
		QCOMPARE(start.code(), int(Result::ResourceNotFound));
		QCOMPARE(start.userText(), QString("Start fehlgeschlagen: Der Ordner /a/%2 fehlt (x)."));
		QCOMPARE(start.englishText(), QString("Could not start: The folder /a/%2 is missing (x)."));
		QString text;
		QVERIFY(!start.succeeded(&text));
		QCOMPARE(text, start.userText());
		QVERIFY(!start.succeeded(nullptr));

		// Words of someone else's stay as they are in both, inside the plug-in's sentence.
		const Result libobs = Result::plain(Result::RequestProcessingFailed, "Encoder open failed: %1");
		QCOMPARE(libobs.userText(), libobs.englishText());
		QCOMPARE(libobs.within("Start").userText(), QString("Start fehlgeschlagen: Encoder open failed: %1"));
		QCOMPARE(libobs.within("Start").englishText(), QString("Could not start: Encoder open failed: %1"));
	}

	void withoutEnglishTableTheUsersAnswers()
	{
		text_lookup_destroy(englishLocaleTable());
		setEnglishLocaleTable(nullptr);
		const Result failed = Result::translated(Result::NotReady, "Start", {"a"});
		QCOMPARE(failed.englishText(), QString("Start fehlgeschlagen: a"));
		QCOMPARE(failed.userText(), failed.englishText());
		// A key neither table has stands for itself.
		QCOMPARE(Result::translated(Result::NotReady, "No.Such.Key").englishText(), QString("No.Such.Key"));
	}
};

STILWANE_TEST_MAIN(TestResult)
#include "test_result.moc"
