// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

class QMenu;
class QScreen;

namespace stilwane {

class ProjectorWindow;

// The projector windows as a whole: opening them, one full-screen projector per monitor, and
// remembering them at shutdown for the next start. User-interface thread only.

// A 405 x 720 window in the middle of the primary screen; null once the projectors are closed.
ProjectorWindow *openWindowProjector();
// A full-screen projector on the screen, or the one that is already there brought to the front; null
// once the projectors are closed or for a screen the application does not have.
ProjectorWindow *openFullscreenProjector(QScreen *screen);
// The first live projector other than except that is full screen on the screen or is asked to be.
ProjectorWindow *findFullscreenProjector(QScreen *screen, const ProjectorWindow *except);

// Adds one entry per screen, in screen order, that opens a full-screen projector there (if the screen
// still exists then); the menu is disabled when there is no screen.
void addFullscreenProjectorEntries(QMenu *menu);

// Replaces the configuration's projector list with the open windows (the caller saves it).
void rememberProjectors();
// Reopens the remembered windows when "restore_projectors" is on. A full-screen window whose monitor
// is gone, renamed or moved comes back as a window.
void restoreProjectors();
// Closes every projector; from here on none is opened or restored.
void closeAllProjectors();
bool projectorsClosed();
// A module load begins a new life in which projectors may open again.
void allowProjectors();

} // namespace stilwane
