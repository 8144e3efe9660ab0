// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <cstdint>

#include <obs.hpp>

namespace stilwane {

// Fits a newly added video source to the canvas width once its size is known (an image or a capture
// reports 0 by 0 until it has loaded), when it turns out wider than the canvas. It gives up as soon
// as the user has moved, scaled or cropped the item, when the item goes away, or after three minutes.
class DeferredSourceFit : public QObject {
	Q_OBJECT

public:
	static constexpr int kIntervalMs = 100;
	static constexpr qint64 kLifetimeMs = 180000;

	DeferredSourceFit(obs_scene_t *scene, obs_source_t *source, obs_sceneitem_t *item, QObject *parent);
	~DeferredSourceFit() override;

	int64_t itemId() const { return id; }
	bool isCancelled() const { return cancelled.load(); }

private slots:
	void tick();
	void finish();

private:
	// Libobs signal threads.
	static void onItemTransform(void *param, calldata_t *data);
	static void onItemRemove(void *param, calldata_t *data);
	// Any thread: they read only the item and what the constructor stored.
	bool isOurItem(calldata_t *data) const;
	bool touched(obs_sceneitem_t *item) const;

	OBSWeakSource weakScene;
	OBSWeakSource weakSource;
	// Compared only, never used: identifies the scene in signal handlers without a reference.
	const obs_scene_t *sceneId = nullptr;
	int64_t id = -1;
	obs_transform_info transform = {};
	obs_sceneitem_crop crop = {};
	OBSSignal transformSignal;
	OBSSignal removeSignal;
	std::atomic<bool> cancelled{false};
	QTimer timer;
	QElapsedTimer clock;
	bool finished = false;
};

} // namespace stilwane
