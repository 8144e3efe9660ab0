// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <memory>
#include <vector>

#include <QObject>
#include <QString>

#include <obs.hpp>

#include <common/MainOutputProbe.hpp>

class QTimer;

namespace stilwane {

class AudioCanvas;
class VerticalAudioMirror;

// One separated source as the scene collection keeps it under "vertical_volumes".
struct VerticalVolumeSetting {
	QString uuid;
	int globalChannel = 0;
	float volume = 1.0f;
	bool muted = false;
	bool vertical = true;
};

// Gives audio sources a volume and mute of their own on the vertical outputs ("separate"): decides when that
// is possible, keeps the settings in the scene collection and creates and removes the mirrors that carry the
// separated audio onto the vertical track. Everything here runs on the UI thread; only the mirrors' capture
// and mixer handlers run on libobs threads.
class VerticalVolumeManager : public QObject {
	Q_OBJECT

public:
	// Why a separate volume is or is not possible for a source.
	enum SeparateStatus {
		SeparatePossible = 0,
		SeparateNeedsSplit = 1,
		HorizontalUnknown = 2,
		ProfileChanging = 3,
		SeparateLimit = 4,
		SeparateUnsupported = 5,
		SeparateUnavailable = 6,
	};
	static constexpr int kMaxMirrors = 64;

	static VerticalVolumeManager *instance();

	// Module load: creates and starts the 50 ms check timer.
	void setUp();
	// Exit: tears down and deletes the check timer.
	void shutdown();
	// Removes every mirror without touching the sources' mixers and disables the manager.
	void tearDown();
	// Enables the manager and creates the mirrors of the settings that can be applied now.
	void restore();
	void restore(const MainOutputTracks &probe);
	// Follows a changed vertical track or main stream track; turns everything off on a conflict.
	void reevaluate();
	void reevaluate(const MainOutputTracks &probe);
	void setProfileChanging(bool changing);
	bool isProfileChanging() const { return profileChanging; }
	bool isEnabled() const { return enabled; }

	// Drops the mirrors and settings of removed sources and of global sources that left their channel; the
	// check timer runs it every 50 ms.
	void cleanup();

	// The plug-in's object of the scene collection (null for none).
	void loadFromCollection(obs_data_t *data);
	void saveToCollection(obs_data_t *data);
	// Lets go of everything loaded (module unload).
	void releaseData();

	int separateStatus(obs_source_t *source, const MainOutputTracks &probe) const;
	static QString separateStatusText(int status);
	bool setSeparate(obs_source_t *source, bool separate, const MainOutputTracks &probe);
	bool hasMirror(obs_source_t *source) const;
	// The mirror of a separated source, new reference, or null.
	obs_source_t *mirrorOf(obs_source_t *source) const;
	int mirrorCount() const { return int(mirrors.size()); }
	const std::vector<VerticalVolumeSetting> &storedSettings() const { return settings; }

signals:
	// A mirror came or went (separate on or off, a conflict, a removed source).
	void mirrorsChanged();

private:
	VerticalVolumeManager();
	~VerticalVolumeManager() override;

	void onCheckTimer();
	// Creates the audio canvas when needed and the source's mirror; false when refused.
	bool createMirror(obs_source_t *source, float volume, bool muted, bool onVertical);
	// Removes the mirror at index without touching its source's mixers.
	void removeMirrorAt(size_t index);
	void releaseCanvasIfUnused();
	// The settings take the mirrors' current volume, mute and vertical flag.
	void refreshSettingsFromMirrors();
	void eraseSettings(const QString &uuid);
	VerticalAudioMirror *findMirror(obs_source_t *source) const;

	// Fields, in this order: see the member comments.
	std::vector<VerticalVolumeSetting> settings;
	std::vector<std::unique_ptr<VerticalAudioMirror>> mirrors;
	std::unique_ptr<AudioCanvas> audioCanvas;
	QTimer *checkTimer = nullptr;
	// False until restored after a collection load, and again after a teardown.
	bool enabled = false;
	bool profileChanging = false;
	int rememberedVerticalTrack = 0;
	// 0 when not known.
	int rememberedStreamTrack = 0;
	unsigned tickCounter = 0;
};

} // namespace stilwane
