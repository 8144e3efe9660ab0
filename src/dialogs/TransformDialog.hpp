// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QDialog>

#include <obs.hpp>

class QDoubleSpinBox;
class QPushButton;
class QSpinBox;

namespace stilwane {

// Edits the position, uniform scale and crop of one item of a vertical scene as numbers. Every change
// of a field goes to the item at once (there is no OK step) and is saved with the scene collection.
// The dialog holds a reference to the item, so it stays valid even when its scene drops it meanwhile.
// User-interface thread only.
class TransformDialog : public QDialog {
	Q_OBJECT

public:
	// The field ranges: canvas pixels, percent of the source size, source pixels.
	static constexpr double kMaxPosition = 100000.0;
	static constexpr double kMinScalePercent = 1.0;
	static constexpr double kMaxScalePercent = 10000.0;
	static constexpr int kMaxCrop = 100000;

	TransformDialog(obs_sceneitem_t *item, QWidget *parent = nullptr);

	QDoubleSpinBox *positionXField() const { return posX; }
	QDoubleSpinBox *positionYField() const { return posY; }
	QDoubleSpinBox *scaleField() const { return scale; }
	QSpinBox *cropLeftField() const { return cropLeft; }
	QSpinBox *cropRightField() const { return cropRight; }
	QSpinBox *cropTopField() const { return cropTop; }
	QSpinBox *cropBottomField() const { return cropBottom; }
	QPushButton *resetButton() const { return resetBtn; }
	QPushButton *closeButton() const { return closeBtn; }

public slots:
	// Writes all fields to the item: no bounds, aligned top-left, one scale for both axes.
	void apply();
	// Back to the top-left corner of the canvas at the source's own size, uncropped and unflipped.
	void reset();

private:
	void load();
	void write(bool keepFlip);

	OBSSceneItem item;
	bool updating = false;
	QDoubleSpinBox *posX = nullptr;
	QDoubleSpinBox *posY = nullptr;
	QDoubleSpinBox *scale = nullptr;
	QSpinBox *cropLeft = nullptr;
	QSpinBox *cropRight = nullptr;
	QSpinBox *cropTop = nullptr;
	QSpinBox *cropBottom = nullptr;
	QPushButton *resetBtn = nullptr;
	QPushButton *closeBtn = nullptr;
};

} // namespace stilwane
