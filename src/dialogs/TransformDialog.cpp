// SPDX-License-Identifier: GPL-2.0-or-later
#include <dialogs/TransformDialog.hpp>

#include <canvas/CollectionSaver.hpp>
#include <common/Module.hpp>

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QPushButton>
#include <QSpinBox>

#include <cmath>

namespace stilwane {

namespace {

QDoubleSpinBox *makeDoubleField(QWidget *parent, const char *name, double min, double max)
{
	auto *field = new QDoubleSpinBox(parent);
	field->setObjectName(name);
	field->setRange(min, max);
	field->setDecimals(1);
	field->setSingleStep(1.0);
	return field;
}

QSpinBox *makeCropField(QWidget *parent, const char *name)
{
	auto *field = new QSpinBox(parent);
	field->setObjectName(name);
	field->setRange(0, TransformDialog::kMaxCrop);
	field->setSingleStep(1);
	return field;
}

} // namespace

TransformDialog::TransformDialog(obs_sceneitem_t *sceneItem, QWidget *parent) : QDialog(parent), item(sceneItem)
{
	setWindowTitle(translate("Transform.Title"));
	auto *form = new QFormLayout(this);

	posX = makeDoubleField(this, "stilwane_transform_pos_x", -kMaxPosition, kMaxPosition);
	posY = makeDoubleField(this, "stilwane_transform_pos_y", -kMaxPosition, kMaxPosition);
	scale = makeDoubleField(this, "stilwane_transform_scale", kMinScalePercent, kMaxScalePercent);
	cropLeft = makeCropField(this, "stilwane_transform_crop_left");
	cropRight = makeCropField(this, "stilwane_transform_crop_right");
	cropTop = makeCropField(this, "stilwane_transform_crop_top");
	cropBottom = makeCropField(this, "stilwane_transform_crop_bottom");

	form->addRow(translate("Transform.PosX"), posX);
	form->addRow(translate("Transform.PosY"), posY);
	form->addRow(translate("Transform.Scale"), scale);
	form->addRow(translate("Transform.CropLeft"), cropLeft);
	form->addRow(translate("Transform.CropRight"), cropRight);
	form->addRow(translate("Transform.CropTop"), cropTop);
	form->addRow(translate("Transform.CropBottom"), cropBottom);

	auto *buttons = new QDialogButtonBox(this);
	resetBtn = buttons->addButton(translate("Transform.Reset"), QDialogButtonBox::ResetRole);
	closeBtn = buttons->addButton(translate("Transform.Close"), QDialogButtonBox::AcceptRole);
	// Enter in a field closes the dialog; it must never land on Reset and throw the edits away.
	resetBtn->setAutoDefault(false);
	closeBtn->setDefault(true);
	form->addRow(buttons);

	for (QDoubleSpinBox *field : {posX, posY, scale})
		connect(field, &QDoubleSpinBox::valueChanged, this, &TransformDialog::apply);
	for (QSpinBox *field : {cropLeft, cropRight, cropTop, cropBottom})
		connect(field, &QSpinBox::valueChanged, this, &TransformDialog::apply);
	connect(resetBtn, &QPushButton::clicked, this, &TransformDialog::reset);
	connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

	load();
}

void TransformDialog::load()
{
	if (!item)
		return;
	updating = true;
	vec2 pos, itemScale;
	obs_sceneitem_crop crop = {};
	obs_sceneitem_get_pos(item, &pos);
	obs_sceneitem_get_scale(item, &itemScale);
	obs_sceneitem_get_crop(item, &crop);
	posX->setValue(pos.x);
	posY->setValue(pos.y);
	// The size, whichever way the item is flipped.
	scale->setValue(std::fabs(itemScale.x) * 100.0);
	cropLeft->setValue(crop.left);
	cropRight->setValue(crop.right);
	cropTop->setValue(crop.top);
	cropBottom->setValue(crop.bottom);
	updating = false;
}

void TransformDialog::apply()
{
	if (!updating)
		write(true);
}

void TransformDialog::write(bool keepFlip)
{
	if (!item)
		return;
	vec2 current = {};
	if (keepFlip)
		obs_sceneitem_get_scale(item, &current);
	const double factor = scale->value() / 100.0;
	vec2 pos, uniform;
	vec2_set(&pos, float(posX->value()), float(posY->value()));
	// One factor on both axes; an edit keeps a flip of either axis, a reset drops it.
	vec2_set(&uniform, float(std::copysign(factor, current.x < 0.0f ? -1.0 : 1.0)),
		 float(std::copysign(factor, current.y < 0.0f ? -1.0 : 1.0)));
	obs_sceneitem_crop crop = {cropLeft->value(), cropTop->value(), cropRight->value(), cropBottom->value()};

	obs_sceneitem_defer_update_begin(item);
	obs_sceneitem_set_bounds_type(item, OBS_BOUNDS_NONE);
	obs_sceneitem_set_alignment(item, OBS_ALIGN_TOP | OBS_ALIGN_LEFT);
	obs_sceneitem_set_pos(item, &pos);
	obs_sceneitem_set_scale(item, &uniform);
	obs_sceneitem_set_crop(item, &crop);
	obs_sceneitem_defer_update_end(item);
	CollectionSaver::instance()->request();
}

void TransformDialog::reset()
{
	updating = true;
	posX->setValue(0.0);
	posY->setValue(0.0);
	scale->setValue(100.0);
	for (QSpinBox *field : {cropLeft, cropRight, cropTop, cropBottom})
		field->setValue(0);
	updating = false;
	write(false);
}

} // namespace stilwane
