// SPDX-License-Identifier: GPL-2.0-or-later
#include <common/ConfigRecord.hpp>

#include <common/Destinations.hpp>
#include <common/Module.hpp>

#include <obs.hpp>
#include <util/platform.h>

#include <algorithm>
#include <cmath>
#include <optional>

namespace stilwane {

namespace {

ConfigRecord gConfig;
std::string gDirectoryOverride;
bool gHasOverride = false;
// config.json as last loaded, as text: saving starts from it, so that keys of other versions stay.
std::string gLoaded = "{}";

// The integers a key accepts; outside them (and for a value of another JSON type) the field keeps
// its default. Unused for other fields.
struct IntRange {
	long long min;
	long long max;
};

constexpr IntRange kAnyInt{INT32_MIN, INT32_MAX};
constexpr IntRange kCanvasSide{kMinCanvasSide, kMaxCanvasSide};
constexpr IntRange kGuideMargin{0, 1000};

// Visits every config.json key of the record in file order, so that loading and saving share one
// list. The ranges are those the settings dialog offers; the replay length is clamped instead and the
// transition time is clamped where it is used.
template<class Record, class Visitor> void visitFields(Record &r, Visitor &&v)
{
	v("width", r.width, kCanvasSide);
	v("height", r.height, kCanvasSide);
	v("mix_audio", r.mixAudio, IntRange{});
	v("server", r.server, IntRange{});
	v("key", r.key, IntRange{});
	v("encoder", r.encoder, IntRange{});
	v("video_bitrate", r.videoBitrate, IntRange{kMinVideoBitrate, kMaxVideoBitrate});
	v("audio_bitrate", r.audioBitrate, IntRange{kMinAudioBitrate, kMaxAudioBitrate});
	v("audio_track", r.audioTrack, IntRange{kFirstAudioTrack, kLastAudioTrack});
	v("auto_start", r.autoStart, IntRange{});
	v("destinations", r.destinations, IntRange{});
	v("recording_directory", r.recordingDirectory, IntRange{});
	v("recording_format", r.recordingFormat, IntRange{});
	v("recording_follow_main", r.recordingFollowMain, IntRange{});
	v("replay_seconds", r.replaySeconds, kAnyInt);
	v("replay_follow_main", r.replayFollowMain, IntRange{});
	v("replay_save_with_main", r.replaySaveWithMain, IntRange{});
	v("link_scenes", r.linkScenes, IntRange{});
	v("match_main_transition", r.matchMainTransition, IntRange{});
	v("transition_ms", r.transitionMs, kAnyInt);
	v("restore_projectors", r.restoreProjectors, IntRange{});
	v("projectors", r.projectors, IntRange{});
	v("docks_shown", r.docksShown, IntRange{});
	v("main_dock_shown", r.mainDockShown, IntRange{});
	v("main_dock_collapsed", r.mainDockCollapsed, IntRange{});
	v("main_dock_tab", r.mainDockTab, IntRange{0, 3});
	v("show_guides", r.showGuides, IntRange{});
	v("show_phone_ui", r.showPhoneUi, IntRange{});
	v("guide_preset", r.guidePreset, IntRange{0, 2});
	v("guide_top", r.guideTop, kGuideMargin);
	v("guide_bottom", r.guideBottom, kGuideMargin);
	v("guide_left", r.guideLeft, kGuideMargin);
	v("guide_right", r.guideRight, kGuideMargin);
}

// Destination keys in file order.
template<class Record, class Visitor> void visitDestination(Record &d, Visitor &&v)
{
	v("name", d.name, IntRange{});
	v("server", d.server, IntRange{});
	v("key", d.key, IntRange{});
	v("enabled", d.enabled, IntRange{});
}

// Projector keys in file order.
template<class Record, class Visitor> void visitProjector(Record &p, Visitor &&v)
{
	constexpr long long kPos = 1000000;
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

struct Write {
	obs_data_t *data;
	void operator()(const char *k, const uint32_t &v, IntRange) const { obs_data_set_int(data, k, v); }
	void operator()(const char *k, const int32_t &v, IntRange) const { obs_data_set_int(data, k, v); }
	void operator()(const char *k, const bool &v, IntRange) const { obs_data_set_bool(data, k, v); }
	void operator()(const char *k, const std::string &v, IntRange) const
	{
		obs_data_set_string(data, k, v.c_str());
	}
	void operator()(const char *k, const std::vector<ProjectorRecord> &list, IntRange) const
	{
		OBSDataArrayAutoRelease array = obs_data_array_create();
		for (const ProjectorRecord &p : list) {
			OBSDataAutoRelease item = obs_data_create();
			visitProjector(p, Write{item});
			obs_data_array_push_back(array, item);
		}
		obs_data_set_array(data, k, array);
	}
	void operator()(const char *k, const std::vector<DestinationRecord> &list, IntRange) const
	{
		OBSDataArrayAutoRelease array = obs_data_array_create();
		for (const DestinationRecord &d : list) {
			OBSDataAutoRelease item = obs_data_create();
			visitDestination(d, Write{item});
			obs_data_array_push_back(array, item);
		}
		obs_data_set_array(data, k, array);
	}
};

// A whole number within the range: an integer, or a real without fraction (3.0) as some JSON writers
// produce; nothing for any other value.
std::optional<long long> wholeNumber(obs_data_item_t *item, IntRange range)
{
	const obs_data_number_type type = obs_data_item_numtype(item);
	if (type == OBS_DATA_NUM_INT) {
		const long long value = obs_data_item_get_int(item);
		if (value >= range.min && value <= range.max)
			return value;
	} else if (type == OBS_DATA_NUM_DOUBLE) {
		// Compared as a real: NaN, the infinities and 1e300 have no integer to be cast to.
		const double real = obs_data_item_get_double(item);
		if (real >= double(range.min) && real <= double(range.max) && real == std::trunc(real))
			return (long long)real;
	}
	return std::nullopt;
}

std::vector<ProjectorRecord> readProjectors(obs_data_item_t *item);
std::vector<DestinationRecord> readDestinations(obs_data_item_t *item);

// Takes the file's value of each key the file holds with a value of the field's kind; a missing or
// damaged key (another JSON type, a number outside the range) leaves the field as it is. Remembers
// the keys that were present but not taken.
struct Read {
	obs_data_t *data;
	std::vector<std::string> rejected;

	template<class T> void operator()(const char *key, T &value, IntRange range)
	{
		obs_data_item_t *item = obs_data_item_byname(data, key);
		if (!item)
			return;
		if (!take(item, value, range))
			rejected.push_back(key);
		obs_data_item_release(&item);
	}

	template<class T> static bool take(obs_data_item_t *item, T &value, IntRange range)
	{
		if constexpr (std::is_same_v<T, bool>) {
			if (obs_data_item_gettype(item) != OBS_DATA_BOOLEAN)
				return false;
			value = obs_data_item_get_bool(item);
		} else if constexpr (std::is_same_v<T, std::string>) {
			if (obs_data_item_gettype(item) != OBS_DATA_STRING)
				return false;
			value = obs_data_item_get_string(item);
		} else if constexpr (std::is_same_v<T, std::vector<ProjectorRecord>>) {
			if (obs_data_item_gettype(item) != OBS_DATA_ARRAY)
				return false;
			value = readProjectors(item);
		} else if constexpr (std::is_same_v<T, std::vector<DestinationRecord>>) {
			if (obs_data_item_gettype(item) != OBS_DATA_ARRAY)
				return false;
			value = readDestinations(item);
		} else {
			std::optional<long long> number = wholeNumber(item, range);
			if (!number)
				return false;
			value = T(*number);
		}
		return true;
	}
};

// Every object of the array; other JSON values never reach an obs_data array.
std::vector<ProjectorRecord> readProjectors(obs_data_item_t *item)
{
	std::vector<ProjectorRecord> list;
	OBSDataArrayAutoRelease array = obs_data_item_get_array(item);
	size_t count = obs_data_array_count(array);
	for (size_t i = 0; i < count; i++) {
		OBSDataAutoRelease object = obs_data_array_item(array, i);
		if (!object)
			continue;
		ProjectorRecord p;
		visitProjector(p, Read{object, {}});
		if (p.mode != "fullscreen")
			p.mode = "window";
		list.push_back(p);
	}
	return list;
}

// Every object of the array, each key taken as the other keys are; the list's own corrections follow.
std::vector<DestinationRecord> readDestinations(obs_data_item_t *item)
{
	std::vector<DestinationRecord> list;
	OBSDataArrayAutoRelease array = obs_data_item_get_array(item);
	const size_t count = obs_data_array_count(array);
	for (size_t i = 0; i < count; i++) {
		OBSDataAutoRelease object = obs_data_array_item(array, i);
		if (!object)
			continue;
		DestinationRecord d;
		visitDestination(d, Read{object, {}});
		list.push_back(d);
	}
	return list;
}

bool contains(const std::vector<std::string> &list, const char *key)
{
	return std::find(list.begin(), list.end(), key) != list.end();
}

void applyCorrections(ConfigRecord &c, const std::vector<std::string> &rejected)
{
	const ConfigRecord defaults;
	if (c.recordingFormat != "mp4" && c.recordingFormat != "mkv")
		c.recordingFormat = defaults.recordingFormat;
	c.replaySeconds = std::clamp(c.replaySeconds, kMinReplaySeconds, kMaxReplaySeconds);
	// Width and height go together: one of them damaged resets both.
	if (contains(rejected, "width") || contains(rejected, "height")) {
		c.width = defaults.width;
		c.height = defaults.height;
	}
	if (c.server.empty())
		c.server = kDefaultServer;
	for (const std::string &change : correctDestinations(c))
		stilwaneLog(LOG_WARNING, "config.json: %s", change.c_str());
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

namespace {
// The hotkey bindings exactly as config.json holds them under "hotkeys".
OBSData gHotkeyBindings;
} // namespace

OBSData storedHotkeyBindings()
{
	return gHotkeyBindings;
}

void setStoredHotkeyBindings(obs_data_t *bindings)
{
	gHotkeyBindings = bindings;
}

void loadConfig()
{
	std::string path = configFilePath();
	if (path.empty())
		return;
	OBSDataAutoRelease data = obs_data_create_from_json_file_safe(path.c_str(), "bak");
	if (!data)
		return;

	OBSDataAutoRelease hotkeys = obs_data_get_obj(data, "hotkeys");
	gHotkeyBindings = hotkeys.Get();

	ConfigRecord c;
	Read read{data, {}};
	visitFields(c, read);
	applyCorrections(c, read.rejected);
	gConfig = c;
	const char *json = obs_data_get_json(data);
	gLoaded = json ? json : "{}";
}

void saveConfig()
{
	std::string directory = moduleConfigDirectory();
	if (!directory.empty())
		os_mkdirs(directory.c_str());
	std::string path = configFilePath();
	if (path.empty())
		return;

	OBSDataAutoRelease data = obs_data_create_from_json(gLoaded.c_str());
	if (!data)
		data = obs_data_create();
	visitFields(gConfig, Write{data});
	OBSDataAutoRelease empty = obs_data_create();
	obs_data_set_obj(data, "hotkeys", gHotkeyBindings ? gHotkeyBindings.Get() : empty.Get());
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

} // namespace stilwane
