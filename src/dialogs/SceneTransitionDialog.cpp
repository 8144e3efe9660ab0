// SPDX-License-Identifier: GPL-2.0-or-later
#include <dialogs/SceneTransitionDialog.hpp>

#include <canvas/CanvasManager.hpp>
#include <dialogs/MessageBoxes.hpp>
#include <common/Module.hpp>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSignalBlocker>
#include <QSpinBox>

namespace stilwane {

SceneTransitionDialog::SceneTransitionDialog(QWidget *parent, const QString &sceneUuid, const QString &wanted,
					     int durationMs)
	: QDialog(parent),
	  uuid(sceneUuid)
{
	setWindowTitle(translate("Scenes.TransitionOverride"));
	auto *form = new QFormLayout(this);

	combo = new QComboBox(this);
	combo->setObjectName("stilwane_scene_transition_combo");
	combo->setAccessibleName(translate("Transitions.Select"));
	form->addRow(translate("Transitions.Select"), combo);

	duration = new QSpinBox(this);
	duration->setObjectName("stilwane_scene_transition_duration");
	duration->setRange(0, kMaxTransitionMs);
	duration->setSingleStep(50);
	duration->setSuffix(" ms");
	duration->setValue(durationMs);
	duration->setAccessibleName(translate("Transitions.Duration"));
	form->addRow(translate("Transitions.Duration"), duration);

	auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
	useObsButtonTexts(buttons);
	connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
	connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
	form->addRow(buttons);

	fillTransitions(wanted);
	connect(combo, &QComboBox::currentIndexChanged, this, &SceneTransitionDialog::updateDuration);

	CanvasManager *m = CanvasManager::instance();
	connect(m, &CanvasManager::transitionsChanged, this, [this] { fillTransitions(chosenTransition()); });
	connect(m, &CanvasManager::scenesChanged, this, &SceneTransitionDialog::onScenesChanged);
	connect(m, &CanvasManager::canvasChanged, this, &QDialog::reject);
}

QString SceneTransitionDialog::chosenTransition() const
{
	return combo->currentData().toString();
}

int SceneTransitionDialog::durationMs() const
{
	return duration->value();
}

void SceneTransitionDialog::fillTransitions(const QString &wanted)
{
	{
		QSignalBlocker block(combo);
		combo->clear();
		combo->addItem(translate("Transitions.NoOverride"), QString());
		for (const TransitionInfo &t : CanvasManager::instance()->transitions())
			combo->addItem(t.name, t.uuid);
		int index = wanted.isEmpty() ? -1 : combo->findData(wanted);
		combo->setCurrentIndex(index < 0 ? 0 : index);
	}
	updateDuration();
}

void SceneTransitionDialog::updateDuration()
{
	QString chosen = chosenTransition();
	duration->setEnabled(!chosen.isEmpty() && !CanvasManager::instance()->isTransitionFixed(chosen));
}

void SceneTransitionDialog::onScenesChanged()
{
	OBSSourceAutoRelease scene = CanvasManager::instance()->findSceneByUuid(uuid);
	if (!scene)
		reject();
}

} // namespace stilwane
