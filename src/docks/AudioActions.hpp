// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <common/Result.hpp>

class QWidget;

namespace stilwane {

// The two vertical audio actions that change more than one source: the track split, which gives the vertical
// outputs a track of their own when they share the main stream's, and enabling the vertical canvas's audio
// mix. The audio dock runs them with their confirmation and message boxes (parent given); the remote control
// runs them without any (parent null, nothing asked, nothing shown). UI thread.
class AudioActions {
public:
	// With a parent: asks first and shows every refusal in a box. Returns what became of it.
	static Result splitTrack(QWidget *parent);
	static Result enableMix(QWidget *parent);
};

} // namespace stilwane
