// SPDX-License-Identifier: GPL-2.0-or-later
#include <docks/DeferredSourceFit.hpp>

#include <canvas/CanvasManager.hpp>
#include <canvas/CollectionSaver.hpp>
#include <generate/ItemPlacement.hpp>

namespace stilwane {

namespace {

bool sameVec(const vec2 &a, const vec2 &b)
{
	return a.x == b.x && a.y == b.y;
}

bool sameTransform(const obs_transform_info &a, const obs_transform_info &b)
{
	return sameVec(a.pos, b.pos) && a.rot == b.rot && sameVec(a.scale, b.scale) && a.alignment == b.alignment &&
	       a.bounds_type == b.bounds_type && a.bounds_alignment == b.bounds_alignment &&
	       sameVec(a.bounds, b.bounds) && a.crop_to_bounds == b.crop_to_bounds;
}

bool sameCrop(const obs_sceneitem_crop &a, const obs_sceneitem_crop &b)
{
	return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

} // namespace

DeferredSourceFit::DeferredSourceFit(obs_scene_t *scene, obs_source_t *source, obs_sceneitem_t *item, QObject *parent)
	: QObject(parent),
	  sceneId(scene),
	  id(obs_sceneitem_get_id(item))
{
	obs_source_t *sceneSource = obs_scene_get_source(scene);
	OBSWeakSourceAutoRelease weakSceneRef = obs_source_get_weak_source(sceneSource);
	OBSWeakSourceAutoRelease weakSourceRef = obs_source_get_weak_source(source);
	weakScene = weakSceneRef.Get();
	weakSource = weakSourceRef.Get();
	obs_sceneitem_get_info2(item, &transform);
	obs_sceneitem_get_crop(item, &crop);

	signal_handler_t *handler = obs_source_get_signal_handler(sceneSource);
	transformSignal.Connect(handler, "item_transform", onItemTransform, this);
	removeSignal.Connect(handler, "item_remove", onItemRemove, this);

	connect(CanvasManager::instance(), &CanvasManager::canvasChanged, this, &DeferredSourceFit::finish);
	connect(&timer, &QTimer::timeout, this, &DeferredSourceFit::tick);
	clock.start();
	timer.start(kIntervalMs);
}

DeferredSourceFit::~DeferredSourceFit()
{
	// The handlers use this object: no emission may reach it once it is gone.
	transformSignal.Disconnect();
	removeSignal.Disconnect();
}

bool DeferredSourceFit::isOurItem(calldata_t *data) const
{
	// The signal's "scene": a removed item has already left its scene.
	auto *item = static_cast<obs_sceneitem_t *>(calldata_ptr(data, "item"));
	return item && calldata_ptr(data, "scene") == sceneId && obs_sceneitem_get_id(item) == id;
}

bool DeferredSourceFit::touched(obs_sceneitem_t *item) const
{
	obs_transform_info now = {};
	obs_sceneitem_crop nowCrop = {};
	obs_sceneitem_get_info2(item, &now);
	obs_sceneitem_get_crop(item, &nowCrop);
	return !sameTransform(now, transform) || !sameCrop(nowCrop, crop);
}

void DeferredSourceFit::onItemTransform(void *param, calldata_t *data)
{
	auto *self = static_cast<DeferredSourceFit *>(param);
	// A source that learns its size also raises this signal; only a changed transform counts as a touch.
	if (self->isOurItem(data) && self->touched(static_cast<obs_sceneitem_t *>(calldata_ptr(data, "item"))))
		self->cancelled.exchange(true);
}

void DeferredSourceFit::onItemRemove(void *param, calldata_t *data)
{
	auto *self = static_cast<DeferredSourceFit *>(param);
	if (self->isOurItem(data))
		self->cancelled.exchange(true);
}

void DeferredSourceFit::tick()
{
	if (cancelled.load() || clock.elapsed() >= kLifetimeMs) {
		finish();
		return;
	}
	OBSSourceAutoRelease sceneSource = obs_weak_source_get_source(weakScene);
	OBSSourceAutoRelease source = obs_weak_source_get_source(weakSource);
	obs_scene_t *scene = obs_scene_from_source(sceneSource);
	if (!sceneSource || !source || obs_source_removed(sceneSource) || obs_source_removed(source) || !scene) {
		finish();
		return;
	}

	struct Attempt {
		DeferredSourceFit *self;
		obs_source_t *source;
		bool done = false;
		bool settled = false; // the size was known: fitted when wider
	} attempt{this, source};
	obs_scene_atomic_update(
		scene,
		[](void *param, obs_scene_t *scene) {
			auto *a = static_cast<Attempt *>(param);
			obs_sceneitem_t *item = obs_scene_find_sceneitem_by_id(scene, a->self->id);
			if (!item || obs_sceneitem_get_source(item) != a->source || a->self->cancelled.load() ||
			    a->self->touched(item) || obs_sceneitem_locked(item)) {
				a->done = true;
				return;
			}
			a->settled = a->done = fitIfWider(item);
		},
		&attempt);
	if (attempt.settled)
		CollectionSaver::instance()->request();
	if (attempt.done)
		finish();
}

void DeferredSourceFit::finish()
{
	if (finished)
		return;
	finished = true;
	timer.stop();
	transformSignal.Disconnect();
	removeSignal.Disconnect();
	weakScene = nullptr;
	weakSource = nullptr;
	deleteLater();
}

} // namespace stilwane
