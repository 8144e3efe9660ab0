#pragma once

#include <QString>
#include <QVector>

#include <obs.hpp>

enum class LayoutTemplate { CenterCrop, FitWidth, Stacked, Thirds };

struct GenerateRequest {
	obs_source_t *mainScene = nullptr;
	LayoutTemplate layout = LayoutTemplate::CenterCrop;
	QString sceneName;
	bool link = true;
	obs_source_t *middleSource = nullptr;
	obs_source_t *bottomSource = nullptr;
};

// Builds a vertical scene from a main scene by a layout template. Returns the new scene's uuid, or
// an empty text with the reason in error.
QString generateVerticalScene(const GenerateRequest &request, QString *error);
