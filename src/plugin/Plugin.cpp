// SPDX-License-Identifier: GPL-2.0-or-later
#include <plugin/Plugin.hpp>

#include <audio/HorizontalExclusionManager.hpp>
#include <audio/VerticalAudioSource.hpp>
#include <audio/VerticalVolumeManager.hpp>
#include <canvas/CanvasManager.hpp>
#include <canvas/CollectionSaver.hpp>
#include <canvas/SceneLinker.hpp>
#include <docks/MainDock.hpp>
#include <dialogs/MessageBoxes.hpp>
#include <docks/OutputDock.hpp>
#include <dialogs/SettingsDialog.hpp>
#include <hotkeys/HotkeyManager.hpp>
#include <output/VerticalOutput.hpp>
#include <preview/Projectors.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>
#include <remote/RemoteControl.hpp>

#include <QDockWidget>
#include <QMainWindow>

namespace stilwane {

QPointer<MainDock> Plugin::mainDockWidget;
OutputDock *Plugin::outputDock = nullptr;
OBSDataAutoRelease Plugin::collectionCache;
bool Plugin::collectionLoaded = false;
SceneHold Plugin::clearingHold;
bool Plugin::exiting = false;
bool Plugin::projectorsClosed = false;
bool Plugin::autoStartPending = false;
QMetaObject::Connection Plugin::autoStartConnection;
QMetaObject::Connection Plugin::projectorConnection;
bool Plugin::loaded = false;

namespace {
bool frontendTranslate(const char *key, const char **out)
{
	return lookupModuleString(key, out);
}
} // namespace

bool Plugin::load()
{
	// Before anything else: a collection loaded later may already hold separated sources.
	registerVerticalAudioSource();
	exiting = false;
	projectorsClosed = false;
	allowProjectors();
	collectionLoaded = false;
	loadConfig();
	VerticalOutput *output = VerticalOutput::instance();
	CanvasManager::instance()->setOutputsBusyCheck([output] { return output->isAnyOutputBusy(); });
	VerticalVolumeManager::instance()->setUp();
	HorizontalExclusionManager::instance()->setUp();

	obs_frontend_push_ui_translation(frontendTranslate);

	auto *dock = new MainDock();
	QObject::connect(dock, &MainDock::settingsRequested, dock, [] { openSettings(nullptr); });
	mainDockWidget = dock;
	outputDock = dock->outputDock();

	if (!obs_frontend_add_dock_by_id("stilwane_main", translate("Dock.Main").toUtf8().constData(), dock)) {
		if (mainDockWidget)
			delete mainDockWidget.data();
		mainDockWidget = nullptr;
		outputDock = nullptr;
		VerticalVolumeManager::instance()->shutdown();
		HorizontalExclusionManager::instance()->shutdown();
		obs_frontend_pop_ui_translation();
		return false;
	}

	HotkeyManager::instance()->registerHotkeys(outputDock);
	projectorConnection = QObject::connect(HotkeyManager::instance(), &HotkeyManager::projectorRequested,
					       [] { openProjector(nullptr); });
	SceneLinker::instance()->start();
	obs_frontend_pop_ui_translation();

	obs_frontend_add_tools_menu_item(translate("Menu.Settings").toUtf8().constData(), openSettings, nullptr);
	obs_frontend_add_tools_menu_item(translate("Menu.Projector").toUtf8().constData(), openProjector, nullptr);

	autoStartPending = false;
	autoStartConnection =
		QObject::connect(VerticalOutput::instance(), &VerticalOutput::stateChanged, [](int state) {
			if (state != VerticalOutput::StreamIdle || !autoStartPending)
				return;
			autoStartPending = false;
			if (!exiting && config().autoStart && obs_frontend_streaming_active())
				streamingStarted();
		});

	obs_frontend_add_event_callback(onFrontendEvent, nullptr);
	obs_frontend_add_save_callback(onFrontendSave, nullptr);
	obs_frontend_add_preload_callback(onFrontendPreload, nullptr);

	loaded = true;
	stilwaneLog(LOG_INFO, "plugin loaded successfully (version %s)", STILWANE_VERSION);
	return true;
}

// libobs calls every module's post-load, also of a module whose load failed.
void Plugin::postLoad()
{
	if (loaded)
		RemoteControl::instance()->start();
}

void Plugin::unload()
{
	// obs-websocket may already be unloaded here: only refuse further requests.
	RemoteControl::instance()->stop(false);
	loaded = false;
	QObject::disconnect(autoStartConnection);
	QObject::disconnect(projectorConnection);
	autoStartPending = false;
	CollectionSaver::instance()->cancel();
	HorizontalExclusionManager::instance()->shutdown();
	closeProjectorsOnce();
	SceneLinker::instance()->stop();
	HotkeyManager::instance()->unregisterAll(false);
	VerticalOutput::instance()->stopAll();
	// Stops handed to the background at exit ran beside OBS's own shut-down; libobs must not go before them.
	VerticalOutput::instance()->finishBackgroundStops();
	VerticalVolumeManager::instance()->shutdown();
	VerticalVolumeManager::instance()->releaseData();
	CanvasManager::instance()->releaseCanvas();
	CanvasManager::instance()->dropRemovedRetiredCanvases();
	CanvasManager::instance()->dropLoadedObject();
	clearingHold.release();
	releaseCollectionCache();
	obs_frontend_remove_preload_callback(onFrontendPreload, nullptr);
	obs_frontend_remove_save_callback(onFrontendSave, nullptr);
	obs_frontend_remove_event_callback(onFrontendEvent, nullptr);
	stilwaneLog(LOG_INFO, "plugin unloaded");
}

// Before OBS loads the canvases of the next collection: one that a background stop still holds would
// make libobs give the loaded twin a new uuid, and the collection's scenes would land in the held one.
void Plugin::onFrontendPreload(obs_data_t *data, bool, void *)
{
	OBSDataAutoRelease object = obs_data_get_obj(data, "stilwane");
	const QString uuid = QString::fromUtf8(obs_data_get_string(object, "canvas_uuid"));
	if (!uuid.isEmpty())
		VerticalOutput::instance()->finishBackgroundStops(uuid);
}

void Plugin::releaseCollectionCache()
{
	collectionCache = nullptr;
}

void Plugin::fillCollectionObject(obs_data_t *data)
{
	CanvasManager::instance()->saveToCollection(data);
	VerticalVolumeManager::instance()->saveToCollection(data);
	HorizontalExclusionManager::instance()->saveToCollection(data);
}

void Plugin::canvasReadySequence()
{
	CanvasManager::instance()->ensureCanvas();
	VerticalVolumeManager::instance()->restore();
	HorizontalExclusionManager::instance()->start();
	CanvasManager::instance()->setStudioMode(obs_frontend_preview_program_mode_active());
	SceneLinker::instance()->resume();
	HotkeyManager::instance()->registerSceneHotkeys();
}

// Remembered before they close, so that the next start can bring them back.
void Plugin::closeProjectorsOnce()
{
	if (projectorsClosed)
		return;
	projectorsClosed = true;
	rememberProjectors();
	closeAllProjectors();
}

void Plugin::placeMainDockFirstRun()
{
	auto *window = static_cast<QMainWindow *>(obs_frontend_get_main_window());
	if (config().mainDockShown || !mainDockWidget || !window)
		return;
	QDockWidget *wrapper = nullptr;
	for (QWidget *w = mainDockWidget->parentWidget(); w && !wrapper; w = w->parentWidget())
		wrapper = qobject_cast<QDockWidget *>(w);
	if (!wrapper)
		return;
	wrapper->setFloating(false);
	window->addDockWidget(Qt::RightDockWidgetArea, wrapper);
	wrapper->setVisible(true);
	wrapper->raise();
	window->resizeDocks({wrapper}, {300}, Qt::Horizontal);
	config().mainDockShown = true;
	saveConfig();
}

void Plugin::openSettings(void *)
{
	auto *window = static_cast<QWidget *>(obs_frontend_get_main_window());
	SettingsDialog dialog(window);
	// The dock goes away with the main dock, which a modal dialog does not hold back.
	if (execDialog(&dialog) == QDialog::Accepted && mainDockWidget && outputDock)
		outputDock->settingsOrCanvasChanged();
}

void Plugin::openProjector(void *)
{
	if (exiting || projectorsClosed)
		return;
	openWindowProjector();
}

MainDock *Plugin::mainDock()
{
	return mainDockWidget.data();
}

} // namespace stilwane
