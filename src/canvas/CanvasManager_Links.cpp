// SPDX-License-Identifier: GPL-2.0-or-later
#include <canvas/CanvasManager.hpp>
#include <common/Limits.hpp>

#include <obs-frontend-api.h>

namespace stilwane {

namespace {
}

QString CanvasManager::sceneLink(obs_source_t *scene) const
{
	if (!scene)
		return QString();
	OBSDataAutoRelease priv = obs_source_get_private_settings(scene);
	return QString::fromUtf8(obs_data_get_string(priv, kLinkKey));
}

void CanvasManager::setSceneLink(obs_source_t *scene, const QString &link)
{
	// Links are read from vertical scenes only; one set on any other source would be saved but never
	// followed.
	if (!hasCanvas() || !scene || obs_source_removed(scene) || !isVerticalScene(scene))
		return;
	OBSDataAutoRelease priv = obs_source_get_private_settings(scene);
	if (link.isEmpty())
		obs_data_erase(priv, kLinkKey);
	else
		obs_data_set_string(priv, kLinkKey, link.toUtf8().constData());
	obs_frontend_save();
}

} // namespace stilwane
