// SPDX-License-Identifier: GPL-2.0-or-later
#include <audio/TrackSplit.hpp>

#include <audio/HorizontalExclusionManager.hpp>
#include <audio/VerticalAudioSource.hpp>
#include <audio/VerticalVolumeManager.hpp>

#include <obs.h>

namespace stilwane {

namespace {

struct SplitPass {
	uint32_t mainBit;
	uint32_t newBit;
	size_t added = 0;
};

} // namespace

size_t moveSourcesToTrack(int mainTrack, int newTrack)
{
	SplitPass pass{trackBit(mainTrack), trackBit(newTrack)};
	if (!pass.mainBit || !pass.newBit || pass.mainBit == pass.newBit)
		return 0;

	// obs_enum_sources lists the public inputs only: scenes, filters and the private mirrors are not in it.
	obs_enum_sources(
		[](void *param, obs_source_t *source) {
			auto *pass = static_cast<SplitPass *>(param);
			if (!(obs_source_get_output_flags(source) & OBS_SOURCE_AUDIO) || obs_source_removed(source) ||
			    obs_source_get_type(source) == OBS_SOURCE_TYPE_FILTER || isInternalAudioSource(source))
				return true;
			const uint32_t mixers = obs_source_get_audio_mixers(source);
			const uint32_t excluded = HorizontalExclusionManager::instance()->exclusionBits(source);
			uint32_t wanted = mixers & ~pass->newBit;
			// A separated source reaches the vertical track through its mirror, never directly.
			if (((mixers | excluded) & pass->mainBit) &&
			    !VerticalVolumeManager::instance()->hasMirror(source)) {
				wanted |= pass->newBit;
				pass->added++;
			}
			if (wanted != mixers)
				obs_source_set_audio_mixers(source, wanted);
			return true;
		},
		&pass);
	return pass.added;
}

} // namespace stilwane
