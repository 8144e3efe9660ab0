// SPDX-License-Identifier: GPL-2.0-or-later
#include "TestFrontend.hpp"

#include <algorithm>
#include <cstring>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTemporaryDir>

#include <obs.hpp>
#include <util/bmem.h>
#include <util/config-file.h>

namespace {

template<typename F> struct Callback {
	F function;
	void *data;
	bool operator==(const Callback &other) const { return function == other.function && data == other.data; }
};

// OBS ignores a second registration of the same pair.
template<typename F> void addCallback(std::vector<Callback<F>> &list, F function, void *data)
{
	const Callback<F> cb{function, data};
	if (std::find(list.begin(), list.end(), cb) == list.end())
		list.push_back(cb);
}

template<typename F> void removeCallback(std::vector<Callback<F>> &list, F function, void *data)
{
	const Callback<F> cb{function, data};
	list.erase(std::remove(list.begin(), list.end(), cb), list.end());
}

// OBS walks its callback lists from the end so that a callback may unregister itself while it runs;
// callbacks therefore run most recently registered first.
template<typename F, typename Call> void runCallbacks(const std::vector<Callback<F>> &list, Call call)
{
	for (size_t i = list.size(); i > 0; i--) {
		if (i > list.size()) {
			// Several callbacks unregistered at once: continue below the new end.
			i = list.size() + 1;
			continue;
		}
		const Callback<F> cb = list[i - 1];
		call(cb);
	}
}

// OBS's string lists are one allocation, pointers first, so that callers free them with one bfree.
char **makeStringList(const QStringList &items)
{
	std::vector<QByteArray> utf8;
	size_t total = (items.size() + 1) * sizeof(char *);
	for (const QString &item : items) {
		utf8.push_back(item.toUtf8());
		total += utf8.back().size() + 1;
	}
	char **list = static_cast<char **>(bzalloc(total));
	char *text = reinterpret_cast<char *>(list + items.size() + 1);
	for (size_t i = 0; i < utf8.size(); i++) {
		list[i] = text;
		memcpy(text, utf8[i].constData(), utf8[i].size() + 1);
		text += utf8[i].size() + 1;
	}
	list[utf8.size()] = nullptr;
	return list;
}

config_t *openEmptyConfig()
{
	config_t *config = nullptr;
	config_open_string(&config, "");
	return config;
}

void closeConfig(config_t *&config)
{
	if (config)
		config_close(config);
	config = nullptr;
}

bool isMainCanvasScene(obs_source_t *source)
{
	if (!obs_source_is_scene(source))
		return false;
	OBSCanvasAutoRelease canvas = obs_source_get_canvas(source);
	OBSCanvasAutoRelease main = obs_get_main_canvas();
	return canvas.Get() == main.Get();
}

std::vector<OBSSource> mainCanvasScenes()
{
	std::vector<OBSSource> scenes;
	OBSCanvasAutoRelease main = obs_get_main_canvas();
	if (!main)
		return scenes;
	obs_canvas_enum_scenes(
		main,
		[](void *param, obs_source_t *source) {
			if (!obs_source_removed(source))
				static_cast<std::vector<OBSSource> *>(param)->emplace_back(source);
			return true;
		},
		&scenes);
	return scenes;
}

// The saved program scene of a collection, looked up among the main canvas's scenes (new reference).
obs_source_t *savedProgramScene(obs_data_t *collection)
{
	const char *name = obs_data_get_string(collection, "current_program_scene");
	if (!*name)
		name = obs_data_get_string(collection, "current_scene");
	for (const OBSSource &scene : mainCanvasScenes()) {
		if (strcmp(obs_source_get_name(scene), name) == 0)
			return obs_source_get_ref(scene);
	}
	return nullptr;
}

struct DockRecord {
	QString id;
	QString title;
	QPointer<QDockWidget> dock;
	QPointer<QWidget> content;
};

} // namespace

struct TestFrontend::State {
	std::vector<Callback<obs_frontend_event_cb>> eventCallbacks;
	std::vector<Callback<obs_frontend_save_cb>> saveCallbacks;
	std::vector<Callback<obs_frontend_save_cb>> preloadCallbacks;
	std::vector<enum obs_frontend_event> raised;

	std::vector<OBSCanvas> canvases;
	// Main scenes the front end keeps alive, as OBS's scene list does.
	std::vector<OBSSource> scenes;
	OBSSource program;
	OBSSource preview;
	bool studioMode = false;

	std::vector<OBSSource> transitions;
	OBSSource currentTransition;
	int transitionDuration = 300;
	int tbarPosition = 0;

	OBSDataAutoRelease oldCollection;
	OBSDataAutoRelease currentCollection;
	int saveCount = 0;
	QString collectionName = QStringLiteral("Untitled");
	QString profileName = QStringLiteral("Untitled");

	QPointer<QMainWindow> mainWindow;
	QPointer<QMenu> toolsMenu;
	std::vector<DockRecord> docks;
	bool dockAddFails = false;
	std::vector<obs_frontend_translate_ui_cb> translators;

	bool streaming = false;
	bool recording = false;
	bool recordingPaused = false;
	bool replayBuffer = false;
	bool virtualCam = false;
	bool previewEnabled = true;
	bool themeDark = true;
	OBSOutput streamingOutput;
	OBSOutput recordingOutput;
	OBSOutput replayBufferOutput;
	OBSOutput virtualCamOutput;
	OBSService service;

	config_t *userConfig = nullptr;
	config_t *profileConfig = nullptr;
	config_t *appConfig = nullptr;
	QTemporaryDir *files = nullptr;
};

TestFrontend &TestFrontend::instance()
{
	static TestFrontend frontend;
	return frontend;
}

TestFrontend::TestFrontend() : d(new State) {}

// Never runs before exit in practice; shutdown() has released the libobs objects by then.
TestFrontend::~TestFrontend()
{
	delete d;
}

TestFrontend::State &TestFrontend::state()
{
	return *d;
}

void TestFrontend::reset()
{
	releaseAll();
	setUpFresh();
}

void TestFrontend::shutdown()
{
	releaseAll();
	delete d->files;
	d->files = nullptr;
}

void TestFrontend::releaseAll()
{
	d->eventCallbacks.clear();
	d->saveCallbacks.clear();
	d->preloadCallbacks.clear();
	d->raised.clear();
	d->translators.clear();

	// Docks own the modules' widgets, which may hold libobs references of their own.
	delete d->mainWindow.data();
	d->docks.clear();
	d->dockAddFails = false;

	if (obs_initialized()) {
		clearCollection();
		obs_set_output_source(0, nullptr);
		for (OBSSource &transition : d->transitions)
			obs_transition_set(transition, nullptr);
	}
	d->transitions.clear();
	d->currentTransition = nullptr;
	d->transitionDuration = 300;
	d->tbarPosition = 0;
	d->studioMode = false;

	d->oldCollection = nullptr;
	d->currentCollection = nullptr;
	d->saveCount = 0;
	d->collectionName = QStringLiteral("Untitled");
	d->profileName = QStringLiteral("Untitled");

	d->streaming = d->recording = d->recordingPaused = d->replayBuffer = d->virtualCam = false;
	d->previewEnabled = true;
	d->themeDark = true;
	d->streamingOutput = nullptr;
	d->recordingOutput = nullptr;
	d->replayBufferOutput = nullptr;
	d->virtualCamOutput = nullptr;
	d->service = nullptr;

	closeConfig(d->userConfig);
	closeConfig(d->profileConfig);
	closeConfig(d->appConfig);
}

void TestFrontend::setUpFresh()
{
	d->userConfig = openEmptyConfig();
	d->profileConfig = openEmptyConfig();
	d->appConfig = openEmptyConfig();
	if (!obs_initialized())
		return;

	const struct {
		const char *id;
		const char *name;
	} transitions[] = {{"fade_transition", "Fade"}, {"cut_transition", "Cut"}};
	for (const auto &t : transitions) {
		OBSSourceAutoRelease transition = obs_source_create_private(t.id, t.name, nullptr);
		if (transition)
			d->transitions.emplace_back(transition.Get());
	}
	if (!d->transitions.empty()) {
		d->currentTransition = d->transitions.front();
		obs_set_output_source(0, d->currentTransition);
	}
}

// ---- main canvas

obs_source_t *TestFrontend::addScene(const char *name)
{
	OBSSceneAutoRelease scene = obs_scene_create(name);
	if (!scene)
		return nullptr;
	d->scenes.emplace_back(obs_scene_get_source(scene));
	return d->scenes.back();
}

void TestFrontend::removeScene(obs_source_t *scene)
{
	if (!scene)
		return;
	OBSSource keep = scene;
	if (d->program.Get() == scene) {
		d->program = nullptr;
		if (d->currentTransition)
			obs_transition_set(d->currentTransition, nullptr);
	}
	if (d->preview.Get() == scene)
		d->preview = nullptr;
	obs_source_remove(scene);
	d->scenes.erase(std::remove_if(d->scenes.begin(), d->scenes.end(),
				       [scene](const OBSSource &s) { return s.Get() == scene; }),
			d->scenes.end());
}

obs_source_t *TestFrontend::programScene() const
{
	return d->program;
}

obs_source_t *TestFrontend::previewScene() const
{
	return d->studioMode ? d->preview.Get() : nullptr;
}

void TestFrontend::setProgramScene(obs_source_t *scene)
{
	d->program = scene;
	if (d->currentTransition)
		obs_transition_set(d->currentTransition, scene);
	if (!d->studioMode)
		d->preview = scene;
	raise(OBS_FRONTEND_EVENT_SCENE_CHANGED);
}

void TestFrontend::setPreviewScene(obs_source_t *scene)
{
	if (!d->studioMode)
		return;
	d->preview = scene;
	raise(OBS_FRONTEND_EVENT_PREVIEW_SCENE_CHANGED);
}

void TestFrontend::setStudioMode(bool enabled)
{
	if (d->studioMode == enabled)
		return;
	d->studioMode = enabled;
	d->preview = enabled ? d->program : OBSSource();
	raise(enabled ? OBS_FRONTEND_EVENT_STUDIO_MODE_ENABLED : OBS_FRONTEND_EVENT_STUDIO_MODE_DISABLED);
}

bool TestFrontend::studioMode() const
{
	return d->studioMode;
}

// ---- events and collections

void TestFrontend::raise(enum obs_frontend_event event)
{
	d->raised.push_back(event);
	runCallbacks(d->eventCallbacks, [event](const auto &cb) { cb.function(event, cb.data); });
}

std::vector<enum obs_frontend_event> TestFrontend::raisedEvents() const
{
	return d->raised;
}

void TestFrontend::clearRaisedEvents()
{
	d->raised.clear();
}

size_t TestFrontend::eventCallbackCount() const
{
	return d->eventCallbacks.size();
}

size_t TestFrontend::saveCallbackCount() const
{
	return d->saveCallbacks.size();
}

void TestFrontend::runSaveCallbacks(obs_data_t *modules, bool saving)
{
	runCallbacks(d->saveCallbacks, [modules, saving](const auto &cb) { cb.function(modules, saving, cb.data); });
}

void TestFrontend::runPreloadCallbacks(obs_data_t *modules)
{
	runCallbacks(d->preloadCallbacks, [modules](const auto &cb) { cb.function(modules, false, cb.data); });
}

obs_data_t *TestFrontend::saveCollection()
{
	obs_data_t *collection = obs_data_create();
	obs_data_set_string(collection, "name", d->collectionName.toUtf8().constData());

	OBSDataArrayAutoRelease sources = obs_save_sources();
	obs_data_set_array(collection, "sources", sources);

	OBSDataArrayAutoRelease order = obs_data_array_create();
	for (const OBSSource &scene : mainCanvasScenes()) {
		OBSDataAutoRelease item = obs_data_create();
		obs_data_set_string(item, "name", obs_source_get_name(scene));
		obs_data_array_push_back(order, item);
	}
	obs_data_set_array(collection, "scene_order", order);
	if (d->program) {
		obs_data_set_string(collection, "current_program_scene", obs_source_get_name(d->program));
		obs_data_set_string(collection, "current_scene",
				    obs_source_get_name(d->studioMode && d->preview ? d->preview : d->program));
	}

	OBSDataArrayAutoRelease canvases = obs_data_array_create();
	for (const OBSCanvas &canvas : d->canvases) {
		if (obs_canvas_removed(canvas) || (obs_canvas_get_flags(canvas) & EPHEMERAL))
			continue;
		// OBS wraps each saved canvas in an object of its own.
		OBSDataAutoRelease saved = obs_save_canvas(canvas);
		OBSDataAutoRelease item = obs_data_create();
		obs_data_set_obj(item, "info", saved);
		obs_data_array_push_back(canvases, item);
	}
	obs_data_set_array(collection, "canvases", canvases);

	if (d->currentTransition)
		obs_data_set_string(collection, "current_transition", obs_source_get_name(d->currentTransition));
	obs_data_set_int(collection, "transition_duration", d->transitionDuration);

	OBSDataAutoRelease modules = obs_data_create();
	runSaveCallbacks(modules, true);
	obs_data_set_obj(collection, "modules", modules);
	return collection;
}

obs_data_t *TestFrontend::moduleData(obs_data_t *collection)
{
	return collection ? obs_data_get_obj(collection, "modules") : nullptr;
}

void TestFrontend::loadCollection(obs_data_t *collection)
{
	OBSDataAutoRelease modules = moduleData(collection);
	runPreloadCallbacks(modules);
	runSaveCallbacks(modules, false);
}

// What OBS does when it clears a collection: every public source and every front-end canvas is removed.
// No CANVAS_REMOVED is raised here, as in OBS.
void TestFrontend::clearCollection()
{
	if (d->currentTransition)
		obs_transition_set(d->currentTransition, nullptr);
	d->program = nullptr;
	d->preview = nullptr;

	auto collect = [](void *param, obs_source_t *source) {
		static_cast<std::vector<OBSSource> *>(param)->emplace_back(source);
		return true;
	};
	std::vector<OBSSource> doomed = mainCanvasScenes();
	obs_enum_sources(collect, &doomed);
	// libobs leaks when a canvas holding scene references is removed while its scenes are not.
	for (const OBSCanvas &canvas : d->canvases)
		obs_canvas_enum_scenes(canvas, collect, &doomed);
	for (OBSSource &source : doomed)
		obs_source_remove(source);
	doomed.clear();
	d->scenes.clear();

	std::vector<OBSCanvas> canvases;
	canvases.swap(d->canvases);
	for (OBSCanvas &canvas : canvases)
		obs_canvas_remove(canvas);
	canvases.clear();
	// As OBS does after clearing a collection: removed sources keep their names until libobs has
	// destroyed them, and the next collection (or test) may use the same names.
	while (obs_wait_for_destroy_queue()) {
	}
}

void TestFrontend::restoreCollection(obs_data_t *collection, bool callLoadCallbacks)
{
	OBSDataAutoRelease modules = moduleData(collection);
	if (callLoadCallbacks)
		runPreloadCallbacks(modules);

	// obs_load_canvas brings a canvas back with its name, uuid and flags only: no video, no channels.
	OBSDataArrayAutoRelease canvases = obs_data_get_array(collection, "canvases");
	for (size_t i = 0; i < obs_data_array_count(canvases); i++) {
		OBSDataAutoRelease item = obs_data_array_item(canvases, i);
		OBSDataAutoRelease info = obs_data_get_obj(item, "info");
		OBSCanvasAutoRelease canvas = obs_load_canvas(info ? info.Get() : item.Get());
		if (canvas)
			d->canvases.emplace_back(canvas.Get());
	}

	OBSDataArrayAutoRelease sources = obs_data_get_array(collection, "sources");
	if (sources) {
		obs_load_sources(
			sources,
			[](void *param, obs_source_t *source) {
				if (isMainCanvasScene(source))
					static_cast<State *>(param)->scenes.emplace_back(source);
			},
			d);
	}

	if (callLoadCallbacks)
		runSaveCallbacks(modules, false);

	d->collectionName = QString::fromUtf8(obs_data_get_string(collection, "name"));
	if (d->collectionName.isEmpty())
		d->collectionName = QStringLiteral("Untitled");
}

void TestFrontend::switchCollection(obs_data_t *newCollection, bool callLoadCallbacks)
{
	raise(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING);
	d->oldCollection = saveCollection();
	clearCollection();
	raise(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CLEANUP);

	if (newCollection) {
		restoreCollection(newCollection, callLoadCallbacks);
		// OBS makes the saved scene current while loading, before it announces the new collection.
		OBSSourceAutoRelease program = savedProgramScene(newCollection);
		if (program) {
			setProgramScene(program);
			raise(OBS_FRONTEND_EVENT_PREVIEW_SCENE_CHANGED);
		}
	} else {
		createDefaultScene();
	}
	raise(OBS_FRONTEND_EVENT_SCENE_COLLECTION_LIST_CHANGED);
	raise(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED);
}

// A new collection in OBS starts with one main scene, current without any event.
void TestFrontend::createDefaultScene()
{
	d->collectionName = QStringLiteral("Untitled");
	obs_source_t *scene = addScene("Scene");
	d->program = scene;
	d->preview = scene;
	if (d->currentTransition)
		obs_transition_set(d->currentTransition, scene);
}

void TestFrontend::startupLoad(obs_data_t *collection, bool callLoadCallbacks)
{
	// Only a first start, with no collection file yet, announces a change of collection.
	if (!collection)
		raise(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING);
	clearCollection();
	raise(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CLEANUP);
	OBSSourceAutoRelease program;
	if (collection) {
		restoreCollection(collection, callLoadCallbacks);
		program = savedProgramScene(collection);
	} else {
		createDefaultScene();
	}
	raise(OBS_FRONTEND_EVENT_SCENE_COLLECTION_LIST_CHANGED);
	raise(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED);
	// At start-up OBS announces the collection before it makes the saved scene current.
	if (program) {
		setProgramScene(program);
		raise(OBS_FRONTEND_EVENT_PREVIEW_SCENE_CHANGED);
	}
	raise(OBS_FRONTEND_EVENT_FINISHED_LOADING);
}

obs_data_t *TestFrontend::oldCollectionData() const
{
	obs_data_t *data = d->oldCollection.Get();
	obs_data_addref(data);
	return data;
}

obs_data_t *TestFrontend::currentCollectionData() const
{
	obs_data_t *data = d->currentCollection.Get();
	obs_data_addref(data);
	return data;
}

int TestFrontend::saveCount() const
{
	return d->saveCount;
}

std::vector<obs_canvas_t *> TestFrontend::canvases() const
{
	std::vector<obs_canvas_t *> list;
	for (const OBSCanvas &canvas : d->canvases)
		list.push_back(canvas);
	return list;
}

// ---- Tools menu, docks, main window

QMainWindow *TestFrontend::mainWindow()
{
	if (!d->mainWindow && qobject_cast<QApplication *>(QCoreApplication::instance())) {
		d->mainWindow = new QMainWindow();
		d->mainWindow->setObjectName(QStringLiteral("OBSBasic"));
		d->mainWindow->setWindowTitle(QStringLiteral("Test front end"));
		d->toolsMenu = d->mainWindow->menuBar()->addMenu(QStringLiteral("Tools"));
	}
	return d->mainWindow;
}

QMenu *TestFrontend::toolsMenu()
{
	mainWindow();
	return d->toolsMenu;
}

QStringList TestFrontend::toolsMenuTitles() const
{
	QStringList titles;
	if (d->toolsMenu) {
		for (QAction *action : d->toolsMenu->actions())
			titles.append(action->text());
	}
	return titles;
}

bool TestFrontend::triggerToolsMenuItem(const QString &title)
{
	if (!d->toolsMenu)
		return false;
	for (QAction *action : d->toolsMenu->actions()) {
		if (action->text() == title) {
			action->trigger();
			return true;
		}
	}
	return false;
}

QStringList TestFrontend::dockIds() const
{
	QStringList ids;
	for (const DockRecord &record : d->docks) {
		if (record.dock)
			ids.append(record.id);
	}
	return ids;
}

QDockWidget *TestFrontend::dock(const QString &id) const
{
	for (const DockRecord &record : d->docks) {
		if (record.id == id && record.dock)
			return record.dock;
	}
	return nullptr;
}

QWidget *TestFrontend::dockContent(const QString &id) const
{
	for (const DockRecord &record : d->docks) {
		if (record.id == id && record.dock)
			return record.content;
	}
	return nullptr;
}

QString TestFrontend::dockTitle(const QString &id) const
{
	for (const DockRecord &record : d->docks) {
		if (record.id == id && record.dock)
			return record.title;
	}
	return QString();
}

void TestFrontend::setDockAddFails(bool fail)
{
	d->dockAddFails = fail;
}

int TestFrontend::translationDepth() const
{
	return int(d->translators.size());
}

QString TestFrontend::translateUi(const char *text) const
{
	const char *out = nullptr;
	if (!d->translators.empty() && d->translators.back()(text, &out) && out)
		return QString::fromUtf8(out);
	return QString::fromUtf8(text);
}

// ---- state

void TestFrontend::setStreamingActive(bool active)
{
	d->streaming = active;
}

void TestFrontend::setRecordingActive(bool active)
{
	d->recording = active;
}

void TestFrontend::setRecordingPaused(bool paused)
{
	d->recordingPaused = paused;
}

void TestFrontend::setReplayBufferActive(bool active)
{
	d->replayBuffer = active;
}

void TestFrontend::setVirtualCamActive(bool active)
{
	d->virtualCam = active;
}

void TestFrontend::setStreamingOutput(obs_output_t *output)
{
	d->streamingOutput = output;
}

void TestFrontend::setRecordingOutput(obs_output_t *output)
{
	d->recordingOutput = output;
}

void TestFrontend::setReplayBufferOutput(obs_output_t *output)
{
	d->replayBufferOutput = output;
}

void TestFrontend::setVirtualCamOutput(obs_output_t *output)
{
	d->virtualCamOutput = output;
}

void TestFrontend::setStreamingService(obs_service_t *service)
{
	d->service = service;
}

void TestFrontend::setCollectionName(const QString &name)
{
	d->collectionName = name;
}

QString TestFrontend::collectionName() const
{
	return d->collectionName;
}

void TestFrontend::setProfileName(const QString &name)
{
	d->profileName = name;
}

QString TestFrontend::profileName() const
{
	return d->profileName;
}

void TestFrontend::setThemeDark(bool dark)
{
	d->themeDark = dark;
}

void TestFrontend::setTransitionDuration(int ms)
{
	d->transitionDuration = ms;
	raise(OBS_FRONTEND_EVENT_TRANSITION_DURATION_CHANGED);
}

config_t *TestFrontend::userConfig() const
{
	return d->userConfig;
}

config_t *TestFrontend::profileConfig() const
{
	return d->profileConfig;
}

config_t *TestFrontend::appConfig() const
{
	return d->appConfig;
}

// ---- the front-end API itself

namespace {

TestFrontend &fe()
{
	return TestFrontend::instance();
}

TestFrontend::State &st()
{
	return TestFrontend::instance().state();
}

QString filesPath(const char *sub)
{
	TestFrontend::State &s = st();
	if (!s.files)
		s.files = new QTemporaryDir();
	const QString path = s.files->filePath(QString::fromUtf8(sub));
	QDir().mkpath(path);
	return path;
}

char *dupString(const QString &text)
{
	return bstrdup(text.toUtf8().constData());
}

void fillSourceList(struct obs_frontend_source_list *list, const std::vector<OBSSource> &sources)
{
	for (const OBSSource &source : sources) {
		obs_source_t *ref = obs_source_get_ref(source);
		if (ref)
			da_push_back(list->sources, &ref);
	}
}

bool addDock(const char *id, const char *title, QDockWidget *dock, QWidget *content)
{
	TestFrontend::State &s = st();
	QMainWindow *window = fe().mainWindow();
	if (s.dockAddFails || !window || !id)
		return false;
	if (fe().dock(QString::fromUtf8(id))) {
		blog(LOG_WARNING, "Dock id '%s' already used!  Duplicate library?", id);
		return false;
	}
	if (!dock) {
		dock = new QDockWidget(window);
		dock->setWidget(content);
		dock->setWindowTitle(QString::fromUtf8(title));
		dock->setObjectName(QString::fromUtf8(id));
	} else {
		dock->setParent(window);
	}
	window->addDockWidget(Qt::RightDockWidgetArea, dock);
	// New docks of a module start hidden and floating in OBS.
	dock->setVisible(false);
	dock->setFloating(true);
	s.docks.push_back({QString::fromUtf8(id), dock->windowTitle(), dock, content});
	return true;
}

} // namespace

extern "C" {

void *obs_frontend_get_main_window(void)
{
	return fe().mainWindow();
}

void *obs_frontend_get_main_window_handle(void)
{
	QMainWindow *window = fe().mainWindow();
	return window ? reinterpret_cast<void *>(window->winId()) : nullptr;
}

void *obs_frontend_get_system_tray(void)
{
	return nullptr;
}

char **obs_frontend_get_scene_names(void)
{
	QStringList names;
	for (const OBSSource &scene : mainCanvasScenes())
		names.append(QString::fromUtf8(obs_source_get_name(scene)));
	return makeStringList(names);
}

void obs_frontend_get_scenes(struct obs_frontend_source_list *sources)
{
	fillSourceList(sources, mainCanvasScenes());
}

obs_source_t *obs_frontend_get_current_scene(void)
{
	return obs_source_get_ref(st().program);
}

void obs_frontend_set_current_scene(obs_source_t *scene)
{
	fe().setProgramScene(scene);
}

void obs_frontend_get_transitions(struct obs_frontend_source_list *sources)
{
	fillSourceList(sources, st().transitions);
}

obs_source_t *obs_frontend_get_current_transition(void)
{
	return obs_source_get_ref(st().currentTransition);
}

void obs_frontend_set_current_transition(obs_source_t *transition)
{
	TestFrontend::State &s = st();
	if (!transition || transition == s.currentTransition.Get())
		return;
	s.currentTransition = transition;
	obs_transition_set(transition, s.program);
	obs_set_output_source(0, transition);
	fe().raise(OBS_FRONTEND_EVENT_TRANSITION_CHANGED);
}

int obs_frontend_get_transition_duration(void)
{
	return st().transitionDuration;
}

void obs_frontend_set_transition_duration(int duration)
{
	fe().setTransitionDuration(duration);
}

void obs_frontend_release_tbar(void) {}

void obs_frontend_set_tbar_position(int position)
{
	st().tbarPosition = position;
}

int obs_frontend_get_tbar_position(void)
{
	return st().tbarPosition;
}

char **obs_frontend_get_scene_collections(void)
{
	return makeStringList({st().collectionName});
}

char *obs_frontend_get_current_scene_collection(void)
{
	return dupString(st().collectionName);
}

void obs_frontend_set_current_scene_collection(const char *) {}

bool obs_frontend_add_scene_collection(const char *)
{
	return false;
}

char **obs_frontend_get_profiles(void)
{
	return makeStringList({st().profileName});
}

char *obs_frontend_get_current_profile(void)
{
	return dupString(st().profileName);
}

char *obs_frontend_get_current_profile_path(void)
{
	return dupString(filesPath("profile"));
}

void obs_frontend_set_current_profile(const char *) {}

void obs_frontend_create_profile(const char *) {}

void obs_frontend_duplicate_profile(const char *) {}

void obs_frontend_delete_profile(const char *) {}

void *obs_frontend_add_tools_menu_qaction(const char *name)
{
	QMenu *menu = fe().toolsMenu();
	return menu ? menu->addAction(QString::fromUtf8(name)) : nullptr;
}

void obs_frontend_add_tools_menu_item(const char *name, obs_frontend_cb callback, void *private_data)
{
	QMenu *menu = fe().toolsMenu();
	if (!menu)
		return;
	QAction *action = menu->addAction(QString::fromUtf8(name));
	QObject::connect(action, &QAction::triggered, action, [callback, private_data]() { callback(private_data); });
}

bool obs_frontend_add_dock_by_id(const char *id, const char *title, void *widget)
{
	return addDock(id, title, nullptr, static_cast<QWidget *>(widget));
}

void obs_frontend_remove_dock(const char *id)
{
	TestFrontend::State &s = st();
	const QString key = QString::fromUtf8(id);
	for (auto it = s.docks.begin(); it != s.docks.end(); ++it) {
		if (it->id == key) {
			delete it->dock.data();
			s.docks.erase(it);
			return;
		}
	}
}

bool obs_frontend_add_custom_qdock(const char *id, void *dock)
{
	QDockWidget *qdock = static_cast<QDockWidget *>(dock);
	return addDock(id, nullptr, qdock, qdock ? qdock->widget() : nullptr);
}

void obs_frontend_add_event_callback(obs_frontend_event_cb callback, void *private_data)
{
	addCallback(st().eventCallbacks, callback, private_data);
}

void obs_frontend_remove_event_callback(obs_frontend_event_cb callback, void *private_data)
{
	removeCallback(st().eventCallbacks, callback, private_data);
}

void obs_frontend_add_save_callback(obs_frontend_save_cb callback, void *private_data)
{
	addCallback(st().saveCallbacks, callback, private_data);
}

void obs_frontend_remove_save_callback(obs_frontend_save_cb callback, void *private_data)
{
	removeCallback(st().saveCallbacks, callback, private_data);
}

void obs_frontend_add_preload_callback(obs_frontend_save_cb callback, void *private_data)
{
	addCallback(st().preloadCallbacks, callback, private_data);
}

void obs_frontend_remove_preload_callback(obs_frontend_save_cb callback, void *private_data)
{
	removeCallback(st().preloadCallbacks, callback, private_data);
}

void obs_frontend_push_ui_translation(obs_frontend_translate_ui_cb translate)
{
	st().translators.push_back(translate);
}

void obs_frontend_pop_ui_translation(void)
{
	TestFrontend::State &s = st();
	if (!s.translators.empty())
		s.translators.pop_back();
}

void obs_frontend_streaming_start(void) {}

void obs_frontend_streaming_stop(void) {}

bool obs_frontend_streaming_active(void)
{
	return st().streaming;
}

void obs_frontend_recording_start(void) {}

void obs_frontend_recording_stop(void) {}

bool obs_frontend_recording_active(void)
{
	return st().recording;
}

void obs_frontend_recording_pause(bool) {}

bool obs_frontend_recording_paused(void)
{
	return st().recordingPaused;
}

bool obs_frontend_recording_split_file(void)
{
	return false;
}

bool obs_frontend_recording_add_chapter(const char *)
{
	return false;
}

void obs_frontend_replay_buffer_start(void) {}

void obs_frontend_replay_buffer_save(void) {}

void obs_frontend_replay_buffer_stop(void) {}

bool obs_frontend_replay_buffer_active(void)
{
	return st().replayBuffer;
}

void obs_frontend_open_projector(const char *, int, const char *, const char *) {}

void obs_frontend_save(void)
{
	TestFrontend::State &s = st();
	s.currentCollection = fe().saveCollection();
	s.saveCount++;
}

void obs_frontend_defer_save_begin(void) {}

void obs_frontend_defer_save_end(void) {}

obs_output_t *obs_frontend_get_streaming_output(void)
{
	return obs_output_get_ref(st().streamingOutput);
}

obs_output_t *obs_frontend_get_recording_output(void)
{
	return obs_output_get_ref(st().recordingOutput);
}

obs_output_t *obs_frontend_get_replay_buffer_output(void)
{
	return obs_output_get_ref(st().replayBufferOutput);
}

config_t *obs_frontend_get_profile_config(void)
{
	return st().profileConfig;
}

config_t *obs_frontend_get_global_config(void)
{
	return st().appConfig;
}

config_t *obs_frontend_get_app_config(void)
{
	return st().appConfig;
}

config_t *obs_frontend_get_user_config(void)
{
	return st().userConfig;
}

void obs_frontend_set_streaming_service(obs_service_t *service)
{
	st().service = service;
}

// Borrowed, as in OBS.
obs_service_t *obs_frontend_get_streaming_service(void)
{
	return st().service;
}

void obs_frontend_save_streaming_service(void) {}

bool obs_frontend_preview_program_mode_active(void)
{
	return st().studioMode;
}

void obs_frontend_set_preview_program_mode(bool enable)
{
	fe().setStudioMode(enable);
}

void obs_frontend_preview_program_trigger_transition(void)
{
	TestFrontend::State &s = st();
	if (s.studioMode && s.preview)
		fe().setProgramScene(s.preview);
}

void obs_frontend_set_preview_enabled(bool enable)
{
	st().previewEnabled = enable;
}

bool obs_frontend_preview_enabled(void)
{
	return st().previewEnabled;
}

obs_source_t *obs_frontend_get_current_preview_scene(void)
{
	return obs_source_get_ref(fe().previewScene());
}

void obs_frontend_set_current_preview_scene(obs_source_t *scene)
{
	fe().setPreviewScene(scene);
}

void obs_frontend_take_screenshot(void) {}

void obs_frontend_take_source_screenshot(obs_source_t *) {}

obs_output_t *obs_frontend_get_virtualcam_output(void)
{
	return obs_output_get_ref(st().virtualCamOutput);
}

void obs_frontend_start_virtualcam(void) {}

void obs_frontend_stop_virtualcam(void) {}

bool obs_frontend_virtualcam_active(void)
{
	return st().virtualCam;
}

void obs_frontend_reset_video(void) {}

void obs_frontend_open_source_properties(obs_source_t *) {}

void obs_frontend_open_source_filters(obs_source_t *) {}

void obs_frontend_open_source_interaction(obs_source_t *) {}

void obs_frontend_open_sceneitem_edit_transform(obs_sceneitem_t *) {}

char *obs_frontend_get_current_record_output_path(void)
{
	return dupString(filesPath("recordings"));
}

// OBS answers with the key itself when its locale has no such string.
const char *obs_frontend_get_locale_string(const char *string)
{
	return string;
}

bool obs_frontend_is_theme_dark(void)
{
	return st().themeDark;
}

char *obs_frontend_get_last_recording(void)
{
	return nullptr;
}

char *obs_frontend_get_last_screenshot(void)
{
	return nullptr;
}

char *obs_frontend_get_last_replay(void)
{
	return nullptr;
}

void obs_frontend_add_undo_redo_action(const char *, const undo_redo_cb, const undo_redo_cb, const char *, const char *,
				       bool)
{
}

void obs_frontend_get_canvases(struct obs_frontend_canvas_list *canvas_list)
{
	for (const OBSCanvas &canvas : st().canvases) {
		obs_canvas_t *ref = obs_canvas_get_ref(canvas);
		if (ref)
			da_push_back(canvas_list->canvases, &ref);
	}
}

obs_canvas_t *obs_frontend_add_canvas(const char *name, struct obs_video_info *ovi, int flags)
{
	obs_canvas_t *canvas = obs_canvas_create(name, ovi, uint32_t(flags));
	if (!canvas)
		return nullptr;
	st().canvases.emplace_back(canvas);
	fe().raise(OBS_FRONTEND_EVENT_CANVAS_ADDED);
	return canvas;
}

bool obs_frontend_remove_canvas(obs_canvas_t *canvas)
{
	TestFrontend::State &s = st();
	auto it = std::find_if(s.canvases.begin(), s.canvases.end(),
			       [canvas](const OBSCanvas &c) { return c.Get() == canvas; });
	if (!canvas || it == s.canvases.end())
		return false;
	// Dropped only after the list no longer holds it, so that event callbacks see the final list.
	OBSCanvas removed = *it;
	s.canvases.erase(it);
	obs_canvas_remove(removed);
	fe().raise(OBS_FRONTEND_EVENT_CANVAS_REMOVED);
	return true;
}

void obs_frontend_copy_sceneitem(obs_sceneitem_t *) {}

bool obs_frontend_can_paste_sceneitem(bool)
{
	return false;
}

void obs_frontend_paste_sceneitem(obs_scene_t *, bool) {}

} // extern "C"
