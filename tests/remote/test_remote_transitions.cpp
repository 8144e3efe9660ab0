// SPDX-License-Identifier: GPL-2.0-or-later
// The vendor requests that add, rename and remove vertical transitions, against the real canvas
// manager with the module loaded into the test front end: a table of accepted and refused calls with
// the list each leaves, and a transition added by request then running a switch.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <canvas/CanvasManager.hpp>
#include <common/Result.hpp>
#include <plugin/Plugin.hpp>
#include <remote/RemoteControl.hpp>

#include "RemoteTestCalls.hpp"

#include <ObsTestEnv.hpp>
#include <PluginFixture.hpp>
#include <TestFrontend.hpp>
#include <TestMain.hpp>

#include <obs.hpp>

using namespace stilwane;

using namespace remote_test;

class TestRemoteTransitions : public QObject {
	Q_OBJECT

	PluginFixture base;
	TestFrontend &fe = base.fe;
	CanvasManager *m = CanvasManager::instance();
	bool loaded = false;

	QStringList transitionNames() const
	{
		QStringList names;
		for (const TransitionInfo &info : m->transitions())
			names << info.name;
		return names;
	}

	QString uuidNamed(const QString &name) const
	{
		for (const TransitionInfo &info : m->transitions())
			if (info.name == name)
				return info.uuid;
		return QString();
	}

private slots:
	void initTestCase() { base.initTestCase(); }
	void cleanupTestCase() { base.cleanupTestCase(); }

	// Each row starts from the built-ins and one added transition, "Swipe", which is selected.
	void init()
	{
		base.freshConfig();
		QVERIFY(Plugin::load());
		loaded = true;
		Plugin::postLoad();
		fe.startupLoad(nullptr);
		QVERIFY(m->hasCanvas());
		QVERIFY(m->addTransition("swipe_transition", "Swipe"));
	}

	void cleanup()
	{
		if (loaded)
			Plugin::unload();
		loaded = false;
		fe.reset();
	}

	void calls_data()
	{
		QTest::addColumn<QByteArray>("type");
		QTest::addColumn<QByteArray>("json");
		QTest::addColumn<int>("code");
		QTest::addColumn<QString>("words");
		QTest::addColumn<QStringList>("after");
		// The transition the response names (success only), and the one selected afterwards.
		QTest::addColumn<QString>("named");
		QTest::addColumn<QString>("selected");

		const QStringList start = {"Fade", "Cut", "Swipe"};
		const auto good = [](const char *name, const char *type, const QByteArray &json,
				     const QStringList &after, const char *named, const char *selected) {
			QTest::newRow(name) << QByteArray(type) << json << int(Result::Success) << QString() << after
					    << QString(named) << QString(selected);
		};
		const auto bad = [&start](const char *name, const char *type, const QByteArray &json, int code,
					  const char *words) {
			QTest::newRow(name) << QByteArray(type) << json << code << QString(words) << start << QString()
					    << QString("Swipe");
		};

		// Adding: named, or named as the tab proposes; the new one is selected.
		good("add named", "AddTransition",
		     R"({"transitionKind": "slide_transition", "transitionName": "Push"})",
		     {"Fade", "Cut", "Swipe", "Push"}, "Push", "Push");
		good("add proposed", "AddTransition", R"({"transitionKind": "slide_transition"})",
		     {"Fade", "Cut", "Swipe", "Slide"}, "Slide", "Slide");
		good("add proposed numbered", "AddTransition", R"({"transitionKind": "swipe_transition"})",
		     {"Fade", "Cut", "Swipe", "Swipe 2"}, "Swipe 2", "Swipe 2");
		good("add null name proposed", "AddTransition",
		     R"({"transitionKind": "fade_transition", "transitionName": null})",
		     {"Fade", "Cut", "Swipe", "Fade 2"}, "Fade 2", "Fade 2");
		bad("add without kind", "AddTransition", R"({"transitionName": "X"})", Result::MissingRequestField,
		    "missing field 'transitionKind'");
		bad("add kind a number", "AddTransition", R"({"transitionKind": 4})", Result::InvalidRequestFieldType,
		    "'transitionKind' must be a string");
		bad("add kind empty", "AddTransition", R"({"transitionKind": ""})", Result::RequestFieldEmpty,
		    "must not be empty");
		bad("add input kind", "AddTransition", R"({"transitionKind": "color_source_v3"})",
		    Result::InvalidRequestField, "'color_source_v3' is not a transition kind");
		bad("add unknown kind", "AddTransition", R"({"transitionKind": "swirl_transition"})",
		    Result::InvalidRequestField, "is not a transition kind");
		bad("add name taken", "AddTransition",
		    R"({"transitionKind": "fade_transition", "transitionName": "Cut"})", Result::ResourceAlreadyExists,
		    "a vertical transition named 'Cut' already exists");
		bad("add name a number", "AddTransition",
		    R"({"transitionKind": "fade_transition", "transitionName": 2})", Result::InvalidRequestFieldType,
		    "'transitionName' must be a string");
		bad("add name empty", "AddTransition", R"({"transitionKind": "fade_transition", "transitionName": ""})",
		    Result::RequestFieldEmpty, "'transitionName' must not be empty");

		// Renaming, by name or uuid (the uuid wins); built-ins too.
		good("rename by name", "RenameTransition",
		     R"({"transitionName": "Swipe", "newTransitionName": "Sweep"})", {"Fade", "Cut", "Sweep"}, "Sweep",
		     "Sweep");
		good("rename by uuid", "RenameTransition",
		     R"({"transitionUuid": "%SWIPE", "newTransitionName": "Sweep"})", {"Fade", "Cut", "Sweep"}, "Sweep",
		     "Sweep");
		good("rename uuid wins", "RenameTransition",
		     R"({"transitionUuid": "%SWIPE", "transitionName": "Fade", "newTransitionName": "Sweep"})",
		     {"Fade", "Cut", "Sweep"}, "Sweep", "Sweep");
		good("rename built-in", "RenameTransition",
		     R"({"transitionUuid": "stilwane.fade", "newTransitionName": "Soft"})", {"Soft", "Cut", "Swipe"},
		     "Soft", "Swipe");
		good("rename to its own name", "RenameTransition",
		     R"({"transitionName": "Swipe", "newTransitionName": "Swipe"})", start, "Swipe", "Swipe");
		bad("rename onto another", "RenameTransition",
		    R"({"transitionName": "Swipe", "newTransitionName": "Cut"})", Result::ResourceAlreadyExists,
		    "a vertical transition named 'Cut' already exists");
		bad("rename without new name", "RenameTransition", R"({"transitionName": "Swipe"})",
		    Result::MissingRequestField, "missing field 'newTransitionName'");
		bad("rename to empty", "RenameTransition", R"({"transitionName": "Swipe", "newTransitionName": ""})",
		    Result::RequestFieldEmpty, "'newTransitionName' must not be empty");
		bad("rename nothing named", "RenameTransition", R"({"newTransitionName": "X"})",
		    Result::MissingRequestField, "missing field 'transitionUuid' or 'transitionName'");
		bad("rename unknown name", "RenameTransition",
		    R"({"transitionName": "Swirl", "newTransitionName": "X"})", Result::ResourceNotFound,
		    "no vertical transition named 'Swirl'");
		bad("rename unknown uuid", "RenameTransition",
		    R"({"transitionUuid": "nope", "newTransitionName": "X"})", Result::ResourceNotFound,
		    "no vertical transition with the uuid 'nope'");
		bad("rename uuid a number", "RenameTransition", R"({"transitionUuid": 7, "newTransitionName": "X"})",
		    Result::InvalidRequestFieldType, "'transitionUuid' must be a string");

		// Removing an added one; the fade takes over the selection.
		good("remove by name", "RemoveTransition", R"({"transitionName": "Swipe"})", {"Fade", "Cut"}, "",
		     kFadeUuid);
		good("remove by uuid", "RemoveTransition", R"({"transitionUuid": "%SWIPE"})", {"Fade", "Cut"}, "",
		     kFadeUuid);
		bad("remove built-in", "RemoveTransition", R"({"transitionUuid": "stilwane.cut"})",
		    Result::InvalidRequestField, "'Cut' is built in and cannot be removed");
		bad("remove unknown", "RemoveTransition", R"({"transitionName": "Swirl"})", Result::ResourceNotFound,
		    "no vertical transition named 'Swirl'");
		bad("remove nothing named", "RemoveTransition", "{}", Result::MissingRequestField,
		    "missing field 'transitionUuid' or 'transitionName'");
		bad("remove name a number", "RemoveTransition", R"({"transitionName": 1})",
		    Result::InvalidRequestFieldType, "'transitionName' must be a string");
	}

	void calls()
	{
		QFETCH(QByteArray, type);
		QFETCH(QByteArray, json);
		QFETCH(int, code);
		QFETCH(QString, words);
		QFETCH(QStringList, after);
		QFETCH(QString, named);
		QFETCH(QString, selected);

		const QStringList before = transitionNames();
		const int savesBefore = fe.saveCount();
		json.replace("%SWIPE", uuidNamed("Swipe").toUtf8());
		// As obs-websocket calls it, from a thread of its own.
		const QJsonObject r = callFromThread(type.constData(), json);

		if (code == Result::Success) {
			QCOMPARE(errorOf(r), QString());
			QVERIFY(!r.contains("code"));
		} else {
			QCOMPARE(r.value("success"), QJsonValue(false));
			QVERIFY2(r.value("error").toString().contains(words), qPrintable(r.value("error").toString()));
			QCOMPARE(r.value("code"), QJsonValue(code));
		}
		QCOMPARE(transitionNames(), after);
		// Whoever reads the list next sees it, and so does the next collection load.
		if (after != before)
			QVERIFY(fe.saveCount() > savesBefore);
		const QString selectedUuid = selected.startsWith("stilwane.") ? selected : uuidNamed(selected);
		QCOMPARE(m->selectedTransitionUuid(), selectedUuid);
		if (!named.isEmpty()) {
			QCOMPARE(r.value("transitionName").toString(), named);
			QCOMPARE(r.value("transitionUuid").toString(), uuidNamed(named));
			for (const TransitionInfo &info : m->transitions())
				if (info.name == named)
					QCOMPARE(r.value("transitionKind").toString(), info.typeId);
		}
		if (type == "RemoveTransition" && code == Result::Success)
			QCOMPARE(r.value("currentTransitionUuid").toString(), selectedUuid);
	}

	// What a request adds is what the next switch of the vertical canvas runs, and what GetTransitionList
	// reports.
	void addedTransitionRunsTheNextSwitch()
	{
		for (const char *name : {"A", "B"})
			QCOMPARE(errorOf(call("CreateScene", QByteArray(R"({"sceneName": ")") + name + "\"}")),
				 QString());
		const QJsonObject added = call("AddTransition", R"({"transitionKind": "slide_transition"})");
		QCOMPARE(errorOf(added), QString());
		const QJsonObject list = call("GetTransitionList");
		QCOMPARE(list.value("currentTransitionUuid"), added.value("transitionUuid"));
		QCOMPARE(list.value("transitions").toArray().last().toObject().value("transitionName").toString(),
			 QString("Slide"));

		// The fade the first scene started ends first, so that the switch below starts its own.
		QVERIFY(ObsTestEnv::waitUntil([this] {
			obs_source_t *active = m->activeTransitionSource();
			return active && !obs_transition_is_active(active);
		}));
		ObsTestEnv::pump(100);
		ObsTestEnv::clearLog();
		QCOMPARE(errorOf(call("SetCurrentScene", R"({"sceneName": "B"})")), QString());
		const QString line = "vertical transition 'Slide' (slide_transition) 300 ms -> 'B' (source=vertical";
		QVERIFY2(ObsTestEnv::logLines().filter(line).size() == 1,
			 qPrintable(ObsTestEnv::logLines().join("\n")));
	}
};

STILWANE_TEST_MAIN(TestRemoteTransitions)
#include "test_remote_transitions.moc"
