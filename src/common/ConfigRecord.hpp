// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <common/Limits.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include <obs.hpp>

namespace stilwane {

// One remembered projector window. Only stored here; the projector windows give the fields meaning.
struct ProjectorRecord {
	std::string mode = "window";
	std::string screenName;
	int32_t screenX = 0;
	int32_t screenY = 0;
	int32_t screenWidth = 0;
	int32_t screenHeight = 0;
	int32_t x = 0;
	int32_t y = 0;
	int32_t width = 405;
	int32_t height = 720;
	std::string geometry;
	bool alwaysOnTop = false;
};

// One stream destination beyond the first (config.json's "server" and "key"), as "destinations" holds
// it. Only stored here; common/Destinations.hpp corrects the list and gives it meaning.
struct DestinationRecord {
	std::string name;
	std::string server;
	std::string key;
	bool enabled = true;
};

inline constexpr const char *kDefaultServer = "rtmps://a.rtmps.youtube.com:443/live2";

// The plug-in's settings, stored in config.json of the module's configuration directory. Read and
// written in place on the user-interface thread; whoever changes a field calls saveConfig(). Keys of
// config.json that this version does not know are written back as they were loaded.
struct ConfigRecord {
	uint32_t width = 1080;
	uint32_t height = 1920;
	bool mixAudio = false;
	std::string server = kDefaultServer;
	std::string key;
	std::string encoder;
	int32_t videoBitrate = 6000;
	int32_t audioBitrate = 160;
	int32_t audioTrack = 1;
	bool autoStart = true;
	std::vector<DestinationRecord> destinations;
	std::string recordingDirectory;
	std::string recordingFormat = "mp4";
	bool recordingFollowMain = false;
	int32_t replaySeconds = 60;
	bool replayFollowMain = false;
	bool replaySaveWithMain = true;
	bool linkScenes = true;
	bool matchMainTransition = true;
	int32_t transitionMs = 300;
	bool restoreProjectors = true;
	std::vector<ProjectorRecord> projectors;
	bool docksShown = false;
	bool mainDockShown = false;
	bool mainDockCollapsed = false;
	int32_t mainDockTab = 0;
	bool showGuides = true;
	bool showPhoneUi = true;
	int32_t guidePreset = 0;
	int32_t guideTop = 190;
	int32_t guideBottom = 640;
	int32_t guideLeft = 40;
	int32_t guideRight = 150;
};

ConfigRecord &config();

std::string configFilePath();
void loadConfig();
// The hotkey bindings as config.json holds them under "hotkeys": kept from loadConfig() and written
// back by saveConfig(), empty when there are none. The hotkey manager reads and replaces them.
OBSData storedHotkeyBindings();
void setStoredHotkeyBindings(obs_data_t *bindings);
void saveConfig();
void applyGuidePreset(int preset);
// The same on any record: the settings dialog shows a preset's margins before anything is stored.
void applyGuidePresetTo(ConfigRecord &record, int preset);

// Tests have no module handle: they point the configuration at a directory of their own.
void setConfigDirectoryOverride(const std::string &directory);

} // namespace stilwane
