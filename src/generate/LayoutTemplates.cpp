// SPDX-License-Identifier: GPL-2.0-or-later
#include <generate/LayoutTemplates.hpp>
#include <common/Limits.hpp>

#include <canvas/CanvasManager.hpp>
#include <generate/ItemPlacement.hpp>

#include <cmath>

#include <obs.hpp>

namespace stilwane {

namespace {

int halfExcess(float total, float visible)
{
	return std::max(0, (int)std::floor((total - visible) * 0.5f));
}

} // namespace

void fitItemInBand(obs_sceneitem_t *item, float width, float top, float bandHeight)
{
	if (!item)
		return;
	obs_source_t *source = obs_sceneitem_get_source(item);
	float w = (float)obs_source_get_width(source);
	float h = (float)obs_source_get_height(source);
	if (w <= 0.0f || h <= 0.0f)
		return;
	float s = width / w;
	obs_sceneitem_crop crop = {};
	float remaining;
	if (s * h > bandHeight) {
		int c = halfExcess(h, bandHeight / s);
		crop.top = crop.bottom = c;
		remaining = bandHeight - (h - 2.0f * (float)c) * s;
	} else {
		remaining = bandHeight - s * h;
	}
	placeItem(item, 0.0f, top + remaining * 0.5f, s, &crop);
}

QString uniqueSourceName(const QString &base)
{
	auto taken = [](const QString &name) {
		OBSSourceAutoRelease source = obs_get_source_by_name(name.toUtf8().constData());
		return source != nullptr;
	};
	if (!taken(base))
		return base;
	for (int n = 2;; n++) {
		QString candidate = base + " " + QString::number(n);
		if (!taken(candidate))
			return candidate;
	}
}

obs_sceneitem_t *addBackgroundSource(obs_scene_t *scene, int width, int height, const QString &sceneName)
{
	OBSDataAutoRelease settings = obs_data_create();
	obs_data_set_int(settings, "color", 0xFF141414);
	obs_data_set_int(settings, "width", width);
	obs_data_set_int(settings, "height", height);
	QString name = uniqueSourceName("Stilwane BG - " + sceneName);
	OBSSourceAutoRelease source =
		obs_source_create("color_source_v3", name.toUtf8().constData(), settings, nullptr);
	if (!source)
		return nullptr;
	obs_sceneitem_t *item = obs_scene_add(scene, source);
	if (!item)
		return nullptr;
	obs_sceneitem_crop none = {};
	placeItem(item, 0.0f, 0.0f, 1.0f, &none);
	obs_sceneitem_set_locked(item, true);
	return item;
}

obs_source_t *generateVerticalScene(obs_source_t *mainScene, TemplateKind kind, const ExtraSources &extra,
				    const QString &name, bool link)
{
	CanvasManager *manager = CanvasManager::instance();
	if (!manager->hasCanvas() || !mainScene || name.isEmpty())
		return nullptr;
	float W = (float)manager->canvasWidth();
	float H = (float)manager->canvasHeight();
	float w = (float)obs_source_get_width(mainScene);
	float h = (float)obs_source_get_height(mainScene);
	if (W == 0.0f || H == 0.0f || w == 0.0f || h == 0.0f)
		return nullptr;

	obs_scene_t *scene = manager->addScene(name);
	if (!scene)
		return nullptr;
	if (kind != TemplateKind::CenterCrop)
		addBackgroundSource(scene, (int)W, (int)H, name);

	obs_sceneitem_t *main = obs_scene_add(scene, mainScene);
	if (main) {
		obs_sceneitem_crop none = {};
		switch (kind) {
		case TemplateKind::CenterCrop: {
			float s = H / h;
			int c = halfExcess(w, W / s);
			obs_sceneitem_crop crop = {};
			crop.left = crop.right = c;
			placeItem(main, (W - (w - 2.0f * (float)c) * s) * 0.5f, 0.0f, s, &crop);
			break;
		}
		case TemplateKind::FitWidth: {
			float s = W / w;
			placeItem(main, 0.0f, (H - s * h) * 0.5f, s, &none);
			break;
		}
		case TemplateKind::Stacked: {
			float s = W / w;
			placeItem(main, 0.0f, 0.0f, s, &none);
			if (extra.first)
				fitItemInBand(obs_scene_add(scene, extra.first), W, s * h, H - s * h);
			break;
		}
		case TemplateKind::Thirds: {
			float t = H / 3.0f;
			fitItemInBand(main, W, 0.0f, t);
			if (extra.first)
				fitItemInBand(obs_scene_add(scene, extra.first), W, t, t);
			if (extra.second)
				fitItemInBand(obs_scene_add(scene, extra.second), W, 2.0f * t, t);
			break;
		}
		}
	}

	obs_source_t *source = obs_scene_get_source(scene);
	if (link) {
		OBSDataAutoRelease priv = obs_source_get_private_settings(source);
		obs_data_set_string(priv, kLinkKey, obs_source_get_uuid(mainScene));
	}
	return obs_source_get_ref(source);
}

} // namespace stilwane
