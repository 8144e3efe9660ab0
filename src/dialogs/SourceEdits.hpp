// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QString>

#include <obs.h>

class QWidget;

namespace stilwane {

// The item edits that the sources tab and the preview's menu share, each asking the user first as
// OBS's own Sources dock does, and each saved with the scene collection. User-interface thread only.

// True when a source of that name exists anywhere in libobs or a vertical scene has it: libobs keeps
// the scenes of other canvases out of its public name table, so both are asked.
bool sourceNameTaken(const QString &name);

// Asks whether to remove the item's source from its scene and removes the item on Yes, when it still
// exists after the question. True when removed.
bool removeItemAfterAsking(QWidget *parent, obs_sceneitem_t *item);

// Asks for a new name of the source (pre-filled with the current one) until the name is free, empty
// or cancelled, then renames it; a vertical scene is renamed through the canvas manager. True when
// renamed.
bool renameSourceAfterAsking(QWidget *parent, obs_source_t *source);

} // namespace stilwane
