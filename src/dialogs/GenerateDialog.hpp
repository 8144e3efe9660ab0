// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QDialog>

#include <obs.h>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLineEdit;

namespace stilwane {

// Picks a main scene, a layout template, the extra sources the template uses, the new vertical
// scene's name and whether it follows the main scene; the caller runs generate() once the dialog was
// accepted.
class GenerateDialog : public QDialog {
	Q_OBJECT

public:
	explicit GenerateDialog(QWidget *parent = nullptr);

	// A new reference to the generated vertical scene, or null (after a message for a taken name or a
	// vanished main scene; silently when the template could not be applied).
	obs_source_t *generate();

public slots:
	void onTemplateChanged(int index);
	void onSourceChanged(int index);
	void tryAccept();

private:
	void fillSourceLists();

	QFormLayout *form = nullptr;
	QComboBox *sourceCombo = nullptr;
	QComboBox *templateCombo = nullptr;
	QComboBox *middleCombo = nullptr;
	QComboBox *bottomCombo = nullptr;
	QLineEdit *nameEdit = nullptr;
	QCheckBox *linkCheck = nullptr;
	// Once the user typed a name, choosing another main scene leaves it alone.
	bool nameEdited = false;
};

} // namespace stilwane
