// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>

namespace stilwane {

// Gives the new vertical track what the main stream track carried: every audio source (not a filter, not
// removed, not internal) on mainTrack, or horizontally excluded from it, gets newTrack too, except the sources
// whose vertical contribution comes from a mirror; newTrack is cleared on all others. Returns the number of
// sources that got newTrack; nothing changes and 0 is returned when a track is outside 1..6 or both are equal.
// UI thread.
size_t moveSourcesToTrack(int mainTrack, int newTrack);

} // namespace stilwane
