// SPDX-License-Identifier: GPL-2.0-or-later
// The plug-in's hotkeys on real libobs: the global ones with their bindings in config.json and their
// presses through the output dock, one hotkey per vertical scene that follows the scenes, presses that
// come late, and the plug-in's wiring of the projector hotkey and of OBS's exit.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "../canvas/CanvasFixture.hpp"

#include <dialogs/MessageBoxes.hpp>
#include <docks/OutputDock.hpp>
#include <hotkeys/HotkeyManager.hpp>
#include <plugin/Plugin.hpp>
#include <preview/ProjectorWindow.hpp>

#include <TestMain.hpp>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <memory>

using namespace canvastest;

namespace {

struct HotkeyInfo {
	QString name;
	QString description;
	int bindings = -1; // -1: libobs has no such hotkey
};

HotkeyInfo hotkeyInfo(obs_hotkey_id id)
{
	std::pair<obs_hotkey_id, HotkeyInfo> find{id, {}};
	obs_enum_hotkeys(
		[](void *data, obs_hotkey_id each, obs_hotkey_t *key) {
			auto *f = static_cast<std::pair<obs_hotkey_id, HotkeyInfo> *>(data);
			if (each == f->first)
				f->second = {obs_hotkey_get_name(key), obs_hotkey_get_description(key), 0};
			return each != f->first;
		},
		&find);
	OBSDataArrayAutoRelease saved = obs_hotkey_save(id);
	if (saved)
		find.second.bindings = int(obs_data_array_count(saved));
	return find.second;
}

// Pressed and released by id, as obs-websocket's TriggerHotkeyByName does; pump runs the queued work.
void press(obs_hotkey_id id, bool pump = true)
{
	obs_hotkey_enable_callback_rerouting(true);
	obs_hotkey_trigger_routed_callback(id, true);
	obs_hotkey_trigger_routed_callback(id, false);
	obs_hotkey_enable_callback_rerouting(false);
	if (pump)
		ObsTestEnv::pump(50);
}

void bind(obs_hotkey_id id, obs_key_t key, uint32_t modifiers = 0)
{
	obs_key_combination_t combo{modifiers, key};
	obs_hotkey_load_bindings(id, &combo, 1);
}

const char *kNoKeyLine = "[stilwane] vertical stream not started: no stream key";

} // namespace

class TestHotkeys : public QObject {
	Q_OBJECT

	Fixture f;
	CanvasManager *m = f.m;
	HotkeyManager *hk = HotkeyManager::instance();
	std::unique_ptr<OutputDock> dock;
	obs_source_t *a = nullptr;
	obs_source_t *b = nullptr;

	QJsonObject savedHotkeys() const
	{
		QFile file(f.dir.filePath("config.json"));
		if (!file.open(QIODevice::ReadOnly))
			return {};
		return QJsonDocument::fromJson(file.readAll()).object().value("hotkeys").toObject();
	}

	void loadConfigText(const QByteArray &json)
	{
		QFile file(f.dir.filePath("config.json"));
		QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
		file.write(json);
		file.close();
		loadConfig();
	}

	// As the plug-in does: at load, then once the canvas is ready.
	void registerAll()
	{
		hk->registerHotkeys(dock.get());
		hk->registerSceneHotkeys();
	}

	obs_hotkey_id action(int which) const { return hk->actionHotkey(which); }

private slots:
	void initTestCase() { f.initTestCase(); }
	void cleanupTestCase() { f.cleanupTestCase(); }

	// Scenes A (program) and B, the fade selected; an output dock; config.json absent.
	void init()
	{
		f.init();
		QFile::remove(f.dir.filePath("config.json"));
		f.freshCanvas();
		a = sourceOf(m->addScene("A"));
		b = sourceOf(m->addScene("B"));
		QVERIFY(waitForTransitionEnd(m));
		dock = std::make_unique<OutputDock>();
		ObsTestEnv::clearLog();
	}

	void cleanup()
	{
		hk->unregisterAll(false);
		dock.reset();
		f.cleanup();
	}

	void bindingsComeFromConfigJson_data()
	{
		QTest::addColumn<QByteArray>("json");
		QTest::addColumn<int>("bound");
		QTest::newRow("no hotkeys object") << QByteArray("{}") << -1;
		// With a member no hotkey of this version has, and a modifier written out as false.
		QTest::newRow("save replay bound")
			<< QByteArray(R"({"hotkeys": {"stilwane.save_replay": [{"key": "OBS_KEY_F9", "shift": false}],
			                            "stilwane.later": [{"key": "OBS_KEY_F1"}]}})")
			<< int(HotkeyManager::SaveReplay);
	}

	void bindingsComeFromConfigJson()
	{
		QFETCH(QByteArray, json);
		QFETCH(int, bound);
		const QJsonObject loaded = QJsonDocument::fromJson(json).object().value("hotkeys").toObject();
		loadConfigText(json);
		registerAll();
		for (int i = 0; i < HotkeyManager::ActionCount; i++) {
			const HotkeyInfo info = hotkeyInfo(action(i));
			QCOMPARE(info.name, QString(HotkeyManager::actionName(i)));
			QVERIFY2(!info.description.contains('.'), qPrintable(info.description)); // translated
			QCOMPARE(info.bindings, i == bound ? 1 : 0);
		}
		// Saved while nothing changed them: exactly as config.json had them.
		ObsTestEnv::pump(50);
		saveConfig();
		QCOMPARE(savedHotkeys(), loaded);

		// A change is written at once, beside what was there.
		bind(action(HotkeyManager::StartRecording), OBS_KEY_F5, INTERACT_CONTROL_KEY);
		QVERIFY(ObsTestEnv::waitUntil([this] { return savedHotkeys().contains("stilwane.start_recording"); }));
		QJsonObject saved = savedHotkeys();
		QCOMPARE(saved.take("stilwane.start_recording").toArray(),
			 QJsonArray({QJsonObject{{"control", true}, {"key", "OBS_KEY_F5"}}}));
		for (auto it = loaded.begin(); it != loaded.end(); ++it)
			QCOMPARE(saved.value(it.key()).toArray().size(), it.value().toArray().size());
	}

	void globalPressesNeedTheirDockAndAValidCanvas()
	{
		registerAll();
		press(action(HotkeyManager::StartStreaming));
		QVERIFY(ObsTestEnv::logContains(kNoKeyLine));
		QVERIFY(dock->messageIsNoKey());

		// Between a collection change and the next canvas ready.
		ObsTestEnv::clearLog();
		hk->invalidateSceneHotkeys();
		press(action(HotkeyManager::StartStreaming));
		QVERIFY(!ObsTestEnv::logContains(kNoKeyLine));

		// Pressed while the dock lives, run once it is gone; then pressed without it.
		hk->registerSceneHotkeys();
		press(action(HotkeyManager::StartStreaming), false);
		dock.reset();
		ObsTestEnv::pump(50);
		press(action(HotkeyManager::StartStreaming));
		QVERIFY(!ObsTestEnv::logContains(kNoKeyLine));
	}

	void sceneHotkeysFollowTheScenes()
	{
		registerAll();
		const obs_hotkey_id idA = hk->sceneHotkey(uuidOf(a));
		const QString uuidB = uuidOf(b);
		const obs_hotkey_id idB = hk->sceneHotkey(uuidB);
		const QString nameA = HotkeyManager::sceneHotkeyName(uuidOf(a));
		QCOMPARE(hotkeyInfo(idA).name, nameA);
		QCOMPARE(hotkeyInfo(idB).description, QString("Switch to vertical scene \"B\""));
		bind(idA, OBS_KEY_F7);

		QVERIFY(m->renameScene(a, "Renamed"));
		QCOMPARE(hk->sceneHotkey(uuidOf(a)), idA);
		const HotkeyInfo renamed = hotkeyInfo(idA);
		QCOMPARE(renamed.name, nameA);
		QCOMPARE(renamed.description, QString("Switch to vertical scene \"Renamed\""));
		QCOMPARE(renamed.bindings, 1);
		// Saved with the scene, so with the collection.
		OBSDataAutoRelease saved = obs_hotkeys_save_source(a);
		OBSDataArrayAutoRelease savedA = obs_data_get_array(saved, nameA.toUtf8().constData());
		QCOMPARE(obs_data_array_count(savedA), size_t(1));

		m->removeScene(b);
		QCOMPARE(hk->sceneHotkey(uuidOf(a)), idA);
		QCOMPARE(hk->sceneHotkeyCount(), 1);
		QCOMPARE(hotkeyInfo(idB).bindings, -1);
		QVERIFY(hk->sceneHotkey(uuidOf(m->addScene("C"))) != OBS_INVALID_HOTKEY_ID);
	}

	// A canvas migration moves the scenes themselves: each keeps its hotkey, bound once.
	void migrationKeepsSceneHotkeysBoundOnce()
	{
		registerAll();
		const obs_hotkey_id idA = hk->sceneHotkey(uuidOf(a));
		bind(idA, OBS_KEY_F7);
		m->setCurrentScene(b, -1, "manual");
		QVERIFY(waitForTransitionEnd(m));
		QVERIFY(m->migrateCanvas(true));
		QCOMPARE(hk->sceneHotkey(uuidOf(a)), idA);
		QCOMPARE(hotkeyInfo(idA).bindings, 1);
		press(idA);
		QCOMPARE(m->currentSceneUuid(), uuidOf(a));
	}

	void scenePressSwitchesProgramOrStudioPreview_data()
	{
		QTest::addColumn<bool>("studio");
		QTest::newRow("program") << false;
		QTest::newRow("studio mode") << true;
	}

	void scenePressSwitchesProgramOrStudioPreview()
	{
		QFETCH(bool, studio);
		m->setStudioMode(studio);
		registerAll();
		press(hk->sceneHotkey(uuidOf(b)));
		QCOMPARE(m->currentSceneUuid(), studio ? uuidOf(a) : uuidOf(b));
		if (studio)
			QCOMPARE(m->previewSceneUuid(), uuidOf(b));
		QVERIFY(ObsTestEnv::logContains("trigger=scene-hotkey"));

		// The transition hotkey takes the preview to program.
		press(action(HotkeyManager::Transition));
		QVERIFY(ObsTestEnv::waitUntil([&] { return m->currentSceneUuid() == uuidOf(b); }));
	}

	void scenePressesOfAnEarlierCanvasDoNothing_data()
	{
		QTest::addColumn<bool>("pressFirst");
		QTest::addColumn<bool>("readyAgain");
		QTest::newRow("pressed, then invalidated") << true << false;
		QTest::newRow("invalidated, then pressed") << false << false;
		QTest::newRow("pressed, canvas ready again before the press runs") << true << true;
	}

	void scenePressesOfAnEarlierCanvasDoNothing()
	{
		QFETCH(bool, pressFirst);
		QFETCH(bool, readyAgain);
		registerAll();
		const obs_hotkey_id idB = hk->sceneHotkey(uuidOf(b));
		if (pressFirst)
			press(idB, false);
		hk->invalidateSceneHotkeys();
		if (!pressFirst)
			press(idB, false);
		if (readyAgain)
			hk->registerSceneHotkeys();
		ObsTestEnv::pump(50);
		QCOMPARE(m->currentSceneUuid(), uuidOf(a));
	}

	void pluginWiresTheProjectorAndKeepsBindingsAtExit()
	{
		dock.reset();
		m->releaseCanvas();
		QStringList messages;
		setMessageHandler([&](MessageKind, const QString &, const QString &text) { messages << text; });
		QVERIFY(Plugin::load());
		f.fe.startupLoad(nullptr);
		press(hk->actionHotkey(HotkeyManager::OpenProjector));
		setMessageHandler(nullptr);
		QVERIFY(ObsTestEnv::waitUntil([] { return ProjectorWindow::registry().size() == 1; }));
		QVERIFY(messages.isEmpty());
		QVERIFY(!ProjectorWindow::registry().first()->inFullscreenMode());

		// Changed just before the exit, before the change was stored: kept for the next save all the same.
		bind(action(HotkeyManager::StopReplay), OBS_KEY_F8);
		f.fe.raise(OBS_FRONTEND_EVENT_EXIT);
		QVERIFY(!hk->isRegistered());
		// The exit remembered the projector and closed it.
		QVERIFY(ProjectorWindow::registry().isEmpty());
		QCOMPARE(config().projectors.size(), size_t(1));
		saveConfig();
		QCOMPARE(savedHotkeys().value("stilwane.stop_replay").toArray().size(), 1);
		Plugin::unload();
		QVERIFY(!storedHotkeyBindings());
	}
};

STILWANE_TEST_MAIN(TestHotkeys)
#include "test_hotkeys.moc"
