// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <common/MainOutputProbe.hpp>
#include <common/Result.hpp>

#include <QObject>
#include <QString>

#include <vector>

#include <obs.hpp>

namespace stilwane {

// One audio source of the vertical scenes as the audio dock lists it and the remote control reports it.
struct AudioSourceState {
	OBSSource source;
	// Also in a main scene (global audio sources always are).
	bool shared = false;
	// The target's mixers hold the vertical track.
	bool onVertical = false;
	// Has a mirror of its own on the vertical track.
	bool separate = false;
	// The target's volume and mute: the mirror's for a separated source, else the source's.
	float volumeMul = 1.0f;
	bool muted = false;
	// A VerticalVolumeManager::SeparateStatus code.
	int separateStatus = 0;
};

// The per-source vertical audio actions, shared by the audio dock's rows and the remote control so that both
// act alike: on the mirror of a separated source (its own volume, mute and vertical-track flag), else on the
// source itself. Announces every change it makes, and separate volumes that go away by themselves, through
// changed(). UI thread.
class AudioSourceActions : public QObject {
	Q_OBJECT

public:
	static AudioSourceActions *instance();

	// "audio_track" clamped to 1..6.
	static int verticalTrack();
	// The mirror of a separated source, else the source; a new reference held by the result.
	static OBSSource targetOf(obs_source_t *source);
	// What the dock checks before asking the volume manager: a profile change (3), unknown main tracks (2),
	// the main stream on the vertical track (1); a separated source is 0 unless the profile is changing.
	static int separateStatus(obs_source_t *source, const MainOutputTracks &probe, bool profileChanging);
	// The locale key of a status code's text.
	static const char *separateStatusKey(int status);

	// The vertical audio sources from a fresh scan, sorted by name as the dock shows them.
	static std::vector<AudioSourceState> listSources(const MainOutputTracks &probe, bool profileChanging);
	static AudioSourceState stateOf(obs_source_t *source, bool shared, const MainOutputTracks &probe,
					bool profileChanging);

	// Each refuses a removed source (or target) and changes nothing then.
	Result setOnVertical(obs_source_t *source, bool on);
	// The dock's fader has set the target's volume; save false while the slider is being dragged.
	void volumeChanged(obs_source_t *source, bool save);
	Result setVolumeMul(obs_source_t *source, float mul);
	Result setMuted(obs_source_t *source, bool muted);
	// Turning on needs a shared source and status 0. managerRefused (when given) tells that the volume
	// manager itself refused: the pre-checks passed and nothing else explains it.
	Result setSeparate(obs_source_t *source, bool separate, bool shared, const MainOutputTracks &probe,
			   bool profileChanging, bool *managerRefused = nullptr);

	// Announces a change that is not one source's (the track split, the audio mix).
	void announceAll() { emit changed(QString()); }
	// Saves the scene collection after a row action (volumes and mutes of mirrors live there).
	static void saveCollection();

signals:
	// A source's vertical audio changed (its uuid), or something that concerns every source (empty).
	void changed(const QString &sourceUuid);

private:
	AudioSourceActions();
	void announce(obs_source_t *source);

	// Our own separate changes announce their source; mirrorsChanged alone announces the rest.
	bool changingMirrors = false;
};

} // namespace stilwane
