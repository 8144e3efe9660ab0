// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

namespace stilwane {

// Diagnostic run at finished loading when STILWANE_SELFTEST is set: builds the self-test scenes
// from the current main scene and logs what it made, for scripts that read the OBS log.
class SelfTest {
public:
	static void run();
};

} // namespace stilwane
