// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QString>

#include <obs.h>

namespace stilwane {

// The layouts that build a vertical scene from a main scene. The values are stored as the template
// choice's item data, so they must not change.
enum class TemplateKind { CenterCrop = 0, FitWidth = 1, Stacked = 2, Thirds = 3 };

// Up to two further sources: Stacked puts the first in its lower band, Thirds the first in the middle
// and the second in the bottom third. Entries may be null.
struct ExtraSources {
	obs_source_t *first = nullptr;
	obs_source_t *second = nullptr;
};

// Creates the vertical scene `name` (made unique by the caller) holding the main scene laid out by
// the template. Returns a new reference to the scene's source, or null when nothing could be made.
obs_source_t *generateVerticalScene(obs_source_t *mainScene, TemplateKind kind, const ExtraSources &extra,
				    const QString &name, bool link);

// Fits an item to the full canvas width inside the band [top, top + bandHeight), cropping top and
// bottom equally when the scaled source is taller than the band, and centres it in the band.
void fitItemInBand(obs_sceneitem_t *item, float width, float top, float bandHeight);
// The dark, locked background of a generated scene; null when it cannot be made.
obs_sceneitem_t *addBackgroundSource(obs_scene_t *scene, int width, int height, const QString &sceneName);
// base, or base followed by " 2", " 3", ... until no source of that name exists.
QString uniqueSourceName(const QString &base);

} // namespace stilwane
