// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <obs.h>

namespace stilwane {

// Geometry for one scene item on the vertical canvas, in canvas pixels. Every operation writes a
// transform without bounds, aligned top-left, with a uniform scale; none keeps state. A null item is
// ignored.

struct ContentSize {
	float width = 0.0f;
	float height = 0.0f;
};

// The source size less the item's crop, never negative.
ContentSize itemContentSize(obs_sceneitem_t *item);
// crop may be null: the item's crop is then left as it is.
void placeItem(obs_sceneitem_t *item, float x, float y, float scale, const obs_sceneitem_crop *crop);
void fitItemToWidth(obs_sceneitem_t *item);
void fitItemToHeight(obs_sceneitem_t *item);
void centerItemInCanvas(obs_sceneitem_t *item);
// Fits a newly added source to the canvas width only when it is wider than the canvas. Returns false
// while the source's size is not known yet (0 by 0), so callers can retry later.
bool fitIfWider(obs_sceneitem_t *item);

} // namespace stilwane
