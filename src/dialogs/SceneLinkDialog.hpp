// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QDialog>
#include <QString>

class QComboBox;

namespace stilwane {

// Chooses what a vertical scene follows: nothing, the main scene of the same name, or one main scene.
class SceneLinkDialog : public QDialog {
	Q_OBJECT

public:
	// currentLink: the scene's stored link; an unknown one (a main scene deleted since) starts on
	// "none".
	SceneLinkDialog(QWidget *parent, const QString &currentLink);

	// The link to store: "", "same-name" or a main scene's uuid.
	QString chosenLink() const;

private:
	QComboBox *combo = nullptr;
};

} // namespace stilwane
