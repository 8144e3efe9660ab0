// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QSpinBox;

namespace stilwane {

// Chooses a vertical scene's own transition and its duration. It follows the canvas manager while it
// is open: the transition list is refilled when it changes, and the dialog closes as cancelled when
// its scene disappears or the canvas is replaced, so that OK never applies to another collection.
class SceneTransitionDialog : public QDialog {
	Q_OBJECT

public:
	SceneTransitionDialog(QWidget *parent, const QString &sceneUuid, const QString &wanted, int durationMs);

	QString sceneUuid() const { return uuid; }
	// The chosen transition's uuid; empty for "no override".
	QString chosenTransition() const;
	int durationMs() const;

private slots:
	void onScenesChanged();

private:
	void fillTransitions(const QString &wanted);
	void updateDuration();

	QString uuid;
	QComboBox *combo = nullptr;
	QSpinBox *duration = nullptr;
};

} // namespace stilwane
