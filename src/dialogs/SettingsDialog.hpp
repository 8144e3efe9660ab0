// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QDialog>
#include <QHash>
#include <QSize>
#include <QVariant>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QScreen;
class QSpinBox;

namespace stilwane {

class DestinationsEditor;

// The plug-in's settings: canvas size and audio mixing, the vertical stream, recording and replay
// buffer, scene linking and the safe-area guides. It reads the configuration when it is built and
// writes it only when the user confirms a change that the running outputs allow; then it pushes the
// change to the canvas, the audio managers and OBS. The widgets are its only state.
class SettingsDialog : public QDialog {
	Q_OBJECT

public:
	explicit SettingsDialog(QWidget *parent = nullptr);

	// 620 wide; as high as the screen's available height less 80, at most 800; 760 without a screen.
	static QSize initialSize(const QScreen *screen);

public slots:
	// Stores and applies the settings and closes as accepted, or refuses with a message (and stays
	// open) when a running output forbids the change.
	void onAccept();
	// Locks what a running output depends on: the canvas size, the audio mixing and the encoding.
	void refreshAvailability();

private:
	QWidget *buildCanvasGroup();
	QWidget *buildStreamGroup();
	QWidget *buildRecordingGroup();
	QWidget *buildScenesGroup();
	QWidget *buildGuidesGroup();
	void selectInitialEncoder();
	void fillGuideMargins(int index);
	void chooseRecordingDirectory();
	void followTransitionSetting();
	// The first destination's name, and the server the destinations' names are checked against, as the
	// server field stands.
	void showFirstDestination();
	// The encoder the outputs would use with the stored configuration.
	static QString effectiveConfiguredEncoder();
	// What each field showed when the dialog opened: only a field the user changed since counts as a
	// change and reaches the configuration. A box cannot show a stored value outside its range, nor
	// the choice an encoder that is not offered: an untouched OK must neither refuse nor rewrite them.
	void rememberShown();
	bool edited(const QWidget *field) const;
	static QVariant valueOf(const QWidget *field);

	QSpinBox *widthBox = nullptr;
	QSpinBox *heightBox = nullptr;
	QCheckBox *mixAudioCheck = nullptr;
	QLineEdit *serverEdit = nullptr;
	QLineEdit *keyEdit = nullptr;
	QCheckBox *showKeyCheck = nullptr;
	QLabel *firstDestinationLabel = nullptr;
	DestinationsEditor *destinationsEditor = nullptr;
	QComboBox *encoderCombo = nullptr;
	QSpinBox *videoBitrateBox = nullptr;
	QSpinBox *audioBitrateBox = nullptr;
	QComboBox *audioTrackCombo = nullptr;
	QCheckBox *autoStartCheck = nullptr;
	QLineEdit *recordingDirectoryEdit = nullptr;
	QComboBox *recordingFormatCombo = nullptr;
	QCheckBox *recordingFollowMainCheck = nullptr;
	QSpinBox *replaySecondsBox = nullptr;
	QCheckBox *replayFollowMainCheck = nullptr;
	QCheckBox *replaySaveWithMainCheck = nullptr;
	QCheckBox *linkScenesCheck = nullptr;
	QCheckBox *matchMainTransitionCheck = nullptr;
	QCheckBox *restoreProjectorsCheck = nullptr;
	QComboBox *guidePresetCombo = nullptr;
	QSpinBox *guideTopBox = nullptr;
	QSpinBox *guideBottomBox = nullptr;
	QSpinBox *guideLeftBox = nullptr;
	QSpinBox *guideRightBox = nullptr;

	// The transition setting as last seen, so that an outside change moves the check box but an
	// unrelated notification does not undo the user's unsaved click.
	QHash<const QWidget *, QVariant> shown;
	bool knownMatchMainTransition = true;
};

} // namespace stilwane
