// SPDX-License-Identifier: GPL-2.0-or-later
// The shipped translations against en-US.ini: every English key is translated, no file carries keys the
// plug-in no longer asks for, every translation keeps the English text's %1..%9, and libobs's own
// reader (the one obs_module_load_locale uses) gets every text exactly as written.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <TestMain.hpp>

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <util/text-lookup.h>

namespace {

struct LocaleFile {
	QStringList keys; // in file order
	QHash<QString, QString> texts;
	QStringList problems;
};

// What libobs turns the escapes into (text-lookup.c's convert_string).
QString unescaped(QString text)
{
	return text.replace("\\n", "\n").replace("\\t", "\t").replace("\\r", "\r").replace("\\\"", "\"");
}

// The format en-US.ini keeps: "# comment" lines, blank lines and KEY="text" with every quote inside the
// text escaped. libobs would also take unquoted texts, but then a trailing space or a '#' changes them.
LocaleFile parse(const QString &path)
{
	LocaleFile file;
	QFile in(path);
	if (!in.open(QIODevice::ReadOnly)) {
		file.problems << QStringLiteral("cannot be read");
		return file;
	}
	static const QRegularExpression entry(QStringLiteral("^([A-Za-z0-9_.]+)=\"((?:[^\"\\\\]|\\\\.)*)\"$"));
	const QStringList lines = QString::fromUtf8(in.readAll()).split('\n');
	for (int i = 0; i < lines.size(); i++) {
		QString line = lines[i];
		if (line.endsWith('\r'))
			line.chop(1);
		if (line.trimmed().isEmpty() || line.startsWith('#'))
			continue;
		const QRegularExpressionMatch match = entry.match(line);
		if (!match.hasMatch()) {
			file.problems << QStringLiteral("line %1 is not KEY=\"text\" with its quotes escaped: %2")
						 .arg(i + 1)
						 .arg(line);
			continue;
		}
		const QString key = match.captured(1);
		if (file.texts.contains(key))
			file.problems << QStringLiteral("%1: set twice (line %2)").arg(key).arg(i + 1);
		else
			file.keys << key;
		file.texts.insert(key, unescaped(match.captured(2)));
	}
	return file;
}

QStringList placeholders(const QString &text)
{
	static const QRegularExpression marker(QStringLiteral("%[1-9]"));
	QStringList found;
	for (const QRegularExpressionMatch &match : marker.globalMatch(text))
		found << match.captured();
	found.sort();
	found.removeDuplicates();
	return found;
}

// Every problem of one locale file, each naming the key it is about.
QStringList check(const QString &englishPath, const QString &path)
{
	const LocaleFile english = parse(englishPath);
	LocaleFile file = parse(path);
	QStringList problems = file.problems;

	for (const QString &key : english.keys) {
		if (!file.texts.contains(key)) {
			problems << QStringLiteral("%1: missing").arg(key);
			continue;
		}
		const QStringList want = placeholders(english.texts.value(key));
		const QStringList have = placeholders(file.texts.value(key));
		if (want != have)
			problems << QStringLiteral("%1: placeholders %2 instead of %3")
					    .arg(key, have.join(' '), want.join(' '));
	}
	for (const QString &key : file.keys)
		if (!english.texts.contains(key))
			problems << QStringLiteral("%1: not in en-US.ini").arg(key);

	lookup_t *table = text_lookup_create(path.toUtf8().constData());
	if (!table)
		return problems << QStringLiteral("libobs cannot load the file");
	for (const QString &key : file.keys) {
		const char *text = nullptr;
		if (!text_lookup_getstr(table, key.toUtf8().constData(), &text) || !text)
			problems << QStringLiteral("%1: libobs does not find it").arg(key);
		else if (QString::fromUtf8(text) != file.texts.value(key))
			problems << QStringLiteral("%1: libobs reads \"%2\"").arg(key, QString::fromUtf8(text));
	}
	text_lookup_destroy(table);
	return problems;
}

} // namespace

class TestLocales : public QObject {
	Q_OBJECT

	QTemporaryDir dir;

	QString write(const QString &name, const QByteArray &text)
	{
		QFile file(dir.filePath(name));
		if (file.open(QIODevice::WriteOnly))
			file.write(text);
		return file.fileName();
	}

private slots:
	void shippedLocalesMatchEnglish()
	{
		const QDir locales(QStringLiteral(STILWANE_DATA_DIR "/locale"));
		const QStringList files = locales.entryList({QStringLiteral("*.ini")}, QDir::Files, QDir::Name);
		QVERIFY2(files.contains("en-US.ini") && files.contains("ja-JP.ini"), qPrintable(files.join(' ')));
		QVERIFY(parse(locales.filePath("en-US.ini")).keys.size() > 100);

		// All files at once, so that a translator sees every gap in one run.
		QStringList problems;
		for (const QString &name : files)
			for (const QString &problem : check(locales.filePath("en-US.ini"), locales.filePath(name)))
				problems << name + ": " + problem;
		QVERIFY2(problems.isEmpty(), qPrintable("\n" + problems.join('\n')));
	}

	// The check itself, on a small English table and translations that go wrong one way each.
	void findsEveryKindOfFault_data()
	{
		QTest::addColumn<QByteArray>("translation");
		QTest::addColumn<QString>("problem");
		const QByteArray good = "A=\"開始: %1\"\nB=\"%2 を \\\"%1\\\" に移動\\n完了\"\nC=\"通常\"\n";
		QTest::newRow("complete, placeholders reordered") << good << QString();
		QTest::newRow("comments and blank lines") << "# Start\n\n" + good << QString();
		QTest::newRow("key missing") << QByteArray("A=\"開始: %1\"\nB=\"%2 %1\"\n") << "C: missing";
		QTest::newRow("key English lacks") << good + "D=\"余分\"\n" << "D: not in en-US.ini";
		QTest::newRow("placeholder dropped")
			<< QByteArray("A=\"開始\"\nB=\"%2 %1\"\nC=\"x\"\n") << "A: placeholders  instead of %1";
		QTest::newRow("placeholder renumbered")
			<< QByteArray("A=\"%1\"\nB=\"%1 %3\"\nC=\"x\"\n") << "B: placeholders %1 %3 instead of %1 %2";
		QTest::newRow("placeholder added")
			<< QByteArray("A=\"%1\"\nB=\"%1 %2\"\nC=\"%1\"\n") << "C: placeholders %1 instead of ";
		QTest::newRow("bare quote inside")
			<< QByteArray("A=\"%1\"\nB=\"%1 \"%2\"\"\nC=\"x\"\n") << "line 2 is not KEY=\"text\"";
		QTest::newRow("unquoted text") << QByteArray("A=%1\nB=\"%1 %2\"\nC=\"x\"\n") << "line 1 is not";
		QTest::newRow("key twice") << good + "C=\"もう一度\"\n" << "C: set twice (line 4)";
	}

	void findsEveryKindOfFault()
	{
		QFETCH(QByteArray, translation);
		QFETCH(QString, problem);
		const QString english = write(
			"en-US.ini", "# Start\nA=\"Start: %1\"\nB=\"Move \\\"%1\\\" to %2\\ndone\"\nC=\"Plain\"\n");
		const QStringList found = check(english, write("xx-XX.ini", translation));
		if (problem.isEmpty()) {
			QVERIFY2(found.isEmpty(), qPrintable(found.join('\n')));
			// Escapes arrive unescaped through libobs too.
			lookup_t *table = text_lookup_create(dir.filePath("xx-XX.ini").toUtf8().constData());
			QVERIFY(table);
			const char *text = nullptr;
			const bool got = text_lookup_getstr(table, "B", &text);
			const QString moved = got ? QString::fromUtf8(text) : QString();
			text_lookup_destroy(table);
			QCOMPARE(moved, QString::fromUtf8("%2 を \"%1\" に移動\n完了"));
		} else {
			QVERIFY2(found.join('\n').contains(problem), qPrintable(found.join('\n')));
		}
	}
};

STILWANE_TEST_MAIN(TestLocales)
#include "test_locales.moc"
