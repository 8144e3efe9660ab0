#include <plugin/ConfigRecord.hpp>

#include <hotkeys/HotkeyManager.hpp>
#include <plugin/Module.hpp>

#include <obs.hpp>
#include <util/platform.h>

namespace {

ConfigRecord gConfig;
std::string gDirectoryOverride;
bool gHasOverride = false;

// Visits every config.json key of the record in file order, so that loading, defaults and saving
// share one list.
template<class Record, class Visitor>
void visitFields(Record &r, Visitor &&v)
{
	v("width", r.width);
	v("height", r.height);
	v("mix_audio", r.mixAudio);
	v("server", r.server);
	v("key", r.key);
	v("encoder", r.encoder);
	v("video_bitrate", r.videoBitrate);
	v("audio_bitrate", r.audioBitrate);
	v("audio_track", r.audioTrack);
	v("auto_start", r.autoStart);
	v("recording_directory", r.recordingDirectory);
	v("recording_format", r.recordingFormat);
	v("recording_follow_main", r.recordingFollowMain);
	v("replay_seconds", r.replaySeconds);
	v("replay_follow_main", r.replayFollowMain);
	v("replay_save_with_main", r.replaySaveWithMain);
	v("link_scenes", r.linkScenes);
	v("match_main_transition", r.matchMainTransition);
	v("transition_ms", r.transitionMs);
	v("restore_projectors", r.restoreProjectors);
	v("projectors", r.projectors);
	v("docks_shown", r.docksShown);
	v("main_dock_shown", r.mainDockShown);
	v("main_dock_collapsed", r.mainDockCollapsed);
	v("main_dock_tab", r.mainDockTab);
	v("show_guides", r.showGuides);
	v("show_phone_ui", r.showPhoneUi);
	v("guide_preset", r.guidePreset);
	v("guide_top", r.guideTop);
	v("guide_bottom", r.guideBottom);
	v("guide_left", r.guideLeft);
	v("guide_right", r.guideRight);
}

struct IntRange {
	int32_t min;
	int32_t max;
};

// Projector keys in file order; integers carry the range outside of which the default applies.
template<class Record, class Visitor>
void visitProjector(Record &p, Visitor &&v)
{
	constexpr int32_t kPos = 1000000;
	v("mode", p.mode, IntRange{});
	v("screen_name", p.screenName, IntRange{});
	v("screen_x", p.screenX, IntRange{-kPos, kPos});
	v("screen_y", p.screenY, IntRange{-kPos, kPos});
	v("screen_width", p.screenWidth, IntRange{0, 32768});
	v("screen_height", p.screenHeight, IntRange{0, 32768});
	v("x", p.x, IntRange{-kPos, kPos});
	v("y", p.y, IntRange{-kPos, kPos});
	v("width", p.width, IntRange{1, 32768});
	v("height", p.height, IntRange{1, 32768});
	v("geometry", p.geometry, IntRange{});
	v("always_on_top", p.alwaysOnTop, IntRange{});
}

struct SetDefault {
	obs_data_t *data;
	void operator()(const char *k, const uint32_t &v) const { obs_data_set_default_int(data, k, v); }
	void operator()(const char *k, const int32_t &v) const { obs_data_set_default_int(data, k, v); }
	void operator()(const char *k, const bool &v) const { obs_data_set_default_bool(data, k, v); }
	void operator()(const char *k, const std::string &v) const { obs_data_set_default_string(data, k, v.c_str()); }
	void operator()(const char *, const std::vector<ProjectorRecord> &) const {}
};

struct Read {
	obs_data_t *data;
	void operator()(const char *k, uint32_t &v) const { v = (uint32_t)obs_data_get_int(data, k); }
	void operator()(const char *k, int32_t &v) const { v = (int32_t)obs_data_get_int(data, k); }
	void operator()(const char *k, bool &v) const { v = obs_data_get_bool(data, k); }
	void operator()(const char *k, std::string &v) const { v = obs_data_get_string(data, k); }
	void operator()(const char *, std::vector<ProjectorRecord> &) const {}
};

struct Write {
	obs_data_t *data;
	void operator()(const char *k, const uint32_t &v) const { obs_data_set_int(data, k, v); }
	void operator()(const char *k, const int32_t &v) const { obs_data_set_int(data, k, v); }
	void operator()(const char *k, const bool &v) const { obs_data_set_bool(data, k, v); }
	void operator()(const char *k, const std::string &v) const { obs_data_set_string(data, k, v.c_str()); }
	void operator()(const char *k, const std::vector<ProjectorRecord> &list) const
	{
		OBSDataArrayAutoRelease array = obs_data_array_create();
		for (const ProjectorRecord &p : list) {
			OBSDataAutoRelease item = obs_data_create();
			visitProjector(p,
				       [&](const char *key, const auto &value, IntRange) { Write{item}(key, value); });
			obs_data_array_push_back(array, item);
		}
		obs_data_set_array(data, k, array);
	}
};

ProjectorRecord readProjector(obs_data_t *item)
{
	ProjectorRecord p;
	visitProjector(p, [&](const char *key, auto &value, IntRange range) {
		using T = std::decay_t<decltype(value)>;
		if constexpr (std::is_same_v<T, int32_t>) {
			if (!obs_data_has_user_value(item, key))
				return;
			long long raw = obs_data_get_int(item, key);
			if (raw >= range.min && raw <= range.max)
				value = (int32_t)raw;
		} else if constexpr (std::is_same_v<T, bool>) {
			value = obs_data_get_bool(item, key);
		} else {
			if (obs_data_has_user_value(item, key))
				value = obs_data_get_string(item, key);
		}
	});
	if (p.mode != "fullscreen")
		p.mode = "window";
	return p;
}

void applyCorrections(ConfigRecord &c, obs_data_t *data)
{
	if (c.recordingFormat != "mp4" && c.recordingFormat != "mkv")
		c.recordingFormat = "mp4";
	if (c.replaySeconds < 1)
		c.replaySeconds = 1;
	if (c.replaySeconds > 180)
		c.replaySeconds = 180;

	c.projectors.clear();
	OBSDataArrayAutoRelease array = obs_data_get_array(data, "projectors");
	size_t count = array ? obs_data_array_count(array) : 0;
	for (size_t i = 0; i < count; i++) {
		OBSDataAutoRelease item = obs_data_array_item(array, i);
		if (item)
			c.projectors.push_back(readProjector(item));
	}

	if ((int32_t)c.width < 16 || (int32_t)c.height < 16) {
		c.width = 1080;
		c.height = 1920;
	}
	if (c.audioTrack < 1 || c.audioTrack > 6)
		c.audioTrack = 1;
	if (c.server.empty())
		c.server = kDefaultServer;
	if ((uint32_t)c.mainDockTab > 3)
		c.mainDockTab = 0;
}

std::string moduleConfigDirectory()
{
	if (gHasOverride)
		return gDirectoryOverride;
	char *path = obs_module_get_config_path(moduleHandle(), "");
	std::string result = path ? path : "";
	bfree(path);
	return result;
}

} // namespace

ConfigRecord &config()
{
	return gConfig;
}

void setConfigDirectoryOverride(const std::string &directory)
{
	gDirectoryOverride = directory;
	gHasOverride = true;
}

std::string configFilePath()
{
	if (gHasOverride)
		return gDirectoryOverride.empty() ? std::string() : gDirectoryOverride + "/config.json";
	char *path = obs_module_get_config_path(moduleHandle(), "config.json");
	std::string result = path ? path : "";
	bfree(path);
	return result;
}

void loadConfig()
{
	std::string path = configFilePath();
	if (path.empty())
		return;
	OBSDataAutoRelease data = obs_data_create_from_json_file_safe(path.c_str(), "bak");
	if (!data)
		return;

	HotkeyManager::instance()->loadBindings(data);

	ConfigRecord defaults;
	visitFields(defaults, SetDefault{data});
	ConfigRecord &c = gConfig;
	visitFields(c, Read{data});
	applyCorrections(c, data);
}

void saveConfig()
{
	std::string directory = moduleConfigDirectory();
	if (!directory.empty())
		os_mkdirs(directory.c_str());
	std::string path = configFilePath();
	if (path.empty())
		return;

	OBSDataAutoRelease data = obs_data_create();
	visitFields(gConfig, Write{data});
	HotkeyManager::instance()->saveBindings(data);
	obs_data_save_json_safe(data, path.c_str(), "tmp", "bak");
}

void applyGuidePresetTo(ConfigRecord &c, int preset)
{
	c.guidePreset = preset;
	if (preset == 0) {
		c.guideTop = 250;
		c.guideBottom = 630;
		c.guideLeft = 53;
		c.guideRight = 53;
	} else if (preset == 1) {
		c.guideTop = 150;
		c.guideBottom = 380;
		c.guideLeft = 40;
		c.guideRight = 150;
	}
}

void applyGuidePreset(int preset)
{
	applyGuidePresetTo(gConfig, preset);
}
