// SPDX-License-Identifier: GPL-2.0-or-later
#include <dialogs/SettingsDialog.hpp>
#include <common/Limits.hpp>

#include <audio/HorizontalExclusionManager.hpp>
#include <audio/VerticalVolumeManager.hpp>
#include <canvas/CanvasManager.hpp>
#include <widgets/IconButton.hpp>
#include <dialogs/DestinationsEditor.hpp>
#include <dialogs/MessageBoxes.hpp>
#include <output/VerticalOutput.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Destinations.hpp>
#include <common/Module.hpp>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

#include <obs-frontend-api.h>

#include <algorithm>

namespace stilwane {

namespace {

constexpr int kCustomPreset = 2;

struct PresetChoice {
	const char *key;
	int preset;
};

constexpr PresetChoice kPresets[] = {
	{"Settings.GuidePreset.Live", 0},
	{"Settings.GuidePreset.Shorts", 1},
	{"Settings.GuidePreset.Custom", kCustomPreset},
};

QString fromStd(const std::string &text)
{
	return QString::fromStdString(text);
}

// OBS's own recording folder, which the vertical recording uses when none is configured.
QString mainRecordingPath()
{
	char *path = obs_frontend_get_current_record_output_path();
	QString result = path ? QString::fromUtf8(path) : QString();
	bfree(path);
	return result;
}

QLabel *makeNote(const char *key, QWidget *parent, bool grey = true)
{
	auto *label = new QLabel(translate(key), parent);
	label->setWordWrap(true);
	if (grey)
		setThemeClass(label, QStringLiteral("text-muted text-small"));
	return label;
}

QSpinBox *makeSpin(const char *name, int min, int max, int step, int value, QWidget *parent)
{
	auto *box = new QSpinBox(parent);
	box->setObjectName(name);
	box->setRange(min, max);
	box->setSingleStep(step);
	box->setValue(value);
	return box;
}

QCheckBox *makeCheck(const char *name, const char *key, bool checked, QWidget *parent)
{
	auto *check = new QCheckBox(translate(key), parent);
	check->setObjectName(name);
	check->setChecked(checked);
	return check;
}

QComboBox *makeCombo(const char *name, QWidget *parent)
{
	auto *combo = new QComboBox(parent);
	combo->setObjectName(name);
	return combo;
}

QFormLayout *makeGroup(const char *titleKey, QGroupBox **group)
{
	*group = new QGroupBox(translate(titleKey));
	return new QFormLayout(*group);
}

} // namespace

QSize SettingsDialog::initialSize(const QScreen *screen)
{
	if (!screen)
		return QSize(620, 760);
	return QSize(620, std::min(screen->availableGeometry().height() - 80, 800));
}

SettingsDialog::SettingsDialog(QWidget *parent) : QDialog(parent)
{
	setObjectName("stilwane_settings");
	setWindowTitle(translate("Settings.Title"));
	setMinimumWidth(460);

	auto *page = new QWidget();
	auto *pageLayout = new QVBoxLayout(page);
	pageLayout->addWidget(buildCanvasGroup());
	pageLayout->addWidget(buildStreamGroup());
	pageLayout->addWidget(buildRecordingGroup());
	pageLayout->addWidget(buildScenesGroup());
	pageLayout->addWidget(buildGuidesGroup());

	auto *scroll = new QScrollArea(this);
	scroll->setObjectName("stilwane_settings_scroll");
	scroll->setWidgetResizable(true);
	scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
	scroll->setWidget(page);

	auto *buttons = new QDialogButtonBox(this);
	buttons->setObjectName("stilwane_settings_buttons");
	QPushButton *ok = buttons->addButton(translate("Settings.OK"), QDialogButtonBox::AcceptRole);
	ok->setObjectName("stilwane_settings_ok");
	ok->setDefault(true);
	QPushButton *cancel = buttons->addButton(translate("Settings.Cancel"), QDialogButtonBox::RejectRole);
	cancel->setObjectName("stilwane_settings_cancel");

	auto *layout = new QVBoxLayout(this);
	layout->addWidget(scroll, 1);
	layout->addWidget(buttons);

	connect(showKeyCheck, &QCheckBox::toggled, this,
		[this](bool checked) { keyEdit->setEchoMode(checked ? QLineEdit::Normal : QLineEdit::Password); });
	connect(guidePresetCombo, &QComboBox::currentIndexChanged, this, &SettingsDialog::fillGuideMargins);
	connect(CanvasManager::instance(), &CanvasManager::transitionSettingsChanged, this,
		&SettingsDialog::followTransitionSetting);
	// OK only asks: onAccept decides whether the dialog may close.
	connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::onAccept);
	connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
	VerticalOutput *output = VerticalOutput::instance();
	connect(output, &VerticalOutput::stateChanged, this, &SettingsDialog::refreshAvailability);
	connect(output, &VerticalOutput::recordingStateChanged, this, &SettingsDialog::refreshAvailability);
	connect(output, &VerticalOutput::replayStateChanged, this, &SettingsDialog::refreshAvailability);

	resize(initialSize(screen()));
	refreshAvailability();
	rememberShown();
}

void SettingsDialog::rememberShown()
{
	shown.clear();
	for (const QWidget *field : std::initializer_list<const QWidget *>{widthBox,
									   heightBox,
									   mixAudioCheck,
									   serverEdit,
									   keyEdit,
									   encoderCombo,
									   videoBitrateBox,
									   audioBitrateBox,
									   audioTrackCombo,
									   autoStartCheck,
									   recordingDirectoryEdit,
									   recordingFormatCombo,
									   recordingFollowMainCheck,
									   replaySecondsBox,
									   replayFollowMainCheck,
									   replaySaveWithMainCheck,
									   linkScenesCheck,
									   matchMainTransitionCheck,
									   restoreProjectorsCheck,
									   guidePresetCombo,
									   guideTopBox,
									   guideBottomBox,
									   guideLeftBox,
									   guideRightBox})
		shown.insert(field, valueOf(field));
}

bool SettingsDialog::edited(const QWidget *field) const
{
	return valueOf(field) != shown.value(field);
}

QVariant SettingsDialog::valueOf(const QWidget *field)
{
	if (auto *box = qobject_cast<const QSpinBox *>(field))
		return box->value();
	if (auto *check = qobject_cast<const QCheckBox *>(field))
		return check->isChecked();
	if (auto *combo = qobject_cast<const QComboBox *>(field))
		return combo->currentIndex() < 0 ? QVariant() : combo->currentData();
	if (auto *edit = qobject_cast<const QLineEdit *>(field))
		return edit->text();
	return QVariant();
}

QWidget *SettingsDialog::buildCanvasGroup()
{
	const ConfigRecord &c = config();
	CanvasManager *m = CanvasManager::instance();
	QGroupBox *group = nullptr;
	QFormLayout *form = makeGroup("Settings.Canvas", &group);

	// The canvas as it runs, not as configured: that is what a change would alter.
	widthBox = makeSpin("stilwane_settings_width", kMinCanvasSide, kMaxCanvasSide, 1, int(m->canvasWidth()), group);
	form->addRow(translate("Settings.Width"), widthBox);
	heightBox =
		makeSpin("stilwane_settings_height", kMinCanvasSide, kMaxCanvasSide, 1, int(m->canvasHeight()), group);
	form->addRow(translate("Settings.Height"), heightBox);
	form->addRow(makeNote("Settings.CanvasNote", group));

	restoreProjectorsCheck = makeCheck("stilwane_settings_restore_projectors", "Settings.RestoreProjectors",
					   c.restoreProjectors, group);
	form->addRow(restoreProjectorsCheck);
	mixAudioCheck = makeCheck("stilwane_settings_mix_audio", "Settings.MixAudio", c.mixAudio, group);
	form->addRow(mixAudioCheck);
	form->addRow(makeNote("Settings.MixAudioNote", group));
	return group;
}

QWidget *SettingsDialog::buildStreamGroup()
{
	const ConfigRecord &c = config();
	QGroupBox *group = nullptr;
	QFormLayout *form = makeGroup("Settings.Stream", &group);

	firstDestinationLabel = new QLabel(group);
	firstDestinationLabel->setObjectName("stilwane_settings_first_destination");
	form->addRow(translate("Settings.Destinations.First"), firstDestinationLabel);
	serverEdit = new QLineEdit(fromStd(c.server), group);
	serverEdit->setObjectName("stilwane_settings_server");
	form->addRow(translate("Settings.Server"), serverEdit);

	keyEdit = new QLineEdit(fromStd(c.key), group);
	keyEdit->setObjectName("stilwane_settings_key");
	keyEdit->setEchoMode(QLineEdit::Password);
	showKeyCheck = makeCheck("stilwane_settings_show_key", "Settings.ShowKey", false, group);
	auto *keyRow = new QHBoxLayout();
	keyRow->addWidget(keyEdit, 1);
	keyRow->addWidget(showKeyCheck);
	form->addRow(translate("Settings.Key"), keyRow);
	form->addRow(makeNote("Settings.KeyHelp", group));
	destinationsEditor = new DestinationsEditor(group);
	form->addRow(destinationsEditor);
	connect(serverEdit, &QLineEdit::textChanged, this, &SettingsDialog::showFirstDestination);
	showFirstDestination();

	encoderCombo = makeCombo("stilwane_settings_encoder", group);
	for (const auto &encoder : VerticalOutput::availableH264Encoders())
		encoderCombo->addItem(encoder.second, encoder.first);
	selectInitialEncoder();
	form->addRow(translate("Settings.Encoder"), encoderCombo);

	videoBitrateBox = makeSpin("stilwane_settings_video_bitrate", kMinVideoBitrate, kMaxVideoBitrate, 500,
				   c.videoBitrate, group);
	form->addRow(translate("Settings.VideoBitrate"), videoBitrateBox);
	audioBitrateBox = makeSpin("stilwane_settings_audio_bitrate", kMinAudioBitrate, kMaxAudioBitrate, 32,
				   c.audioBitrate, group);
	form->addRow(translate("Settings.AudioBitrate"), audioBitrateBox);

	audioTrackCombo = makeCombo("stilwane_settings_audio_track", group);
	for (int track = kFirstAudioTrack; track <= kLastAudioTrack; track++)
		audioTrackCombo->addItem(QString::number(track), track);
	audioTrackCombo->setCurrentIndex(std::clamp(c.audioTrack, kFirstAudioTrack, kLastAudioTrack) -
					 kFirstAudioTrack);
	form->addRow(translate("Settings.AudioTrack"), audioTrackCombo);

	autoStartCheck = makeCheck("stilwane_settings_auto_start", "Settings.AutoStart", c.autoStart, group);
	form->addRow(autoStartCheck);
	return group;
}

QWidget *SettingsDialog::buildRecordingGroup()
{
	const ConfigRecord &c = config();
	QGroupBox *group = nullptr;
	QFormLayout *form = makeGroup("Settings.RecordingReplay", &group);

	recordingDirectoryEdit = new QLineEdit(fromStd(c.recordingDirectory), group);
	recordingDirectoryEdit->setObjectName("stilwane_settings_recording_directory");
	recordingDirectoryEdit->setPlaceholderText(mainRecordingPath());
	recordingDirectoryEdit->setToolTip(translate("Settings.RecordingDirectoryNote"));
	auto *browse = new QPushButton(translate("Settings.Browse"), group);
	browse->setObjectName("stilwane_settings_browse");
	connect(browse, &QPushButton::clicked, this, &SettingsDialog::chooseRecordingDirectory);
	auto *directoryRow = new QHBoxLayout();
	directoryRow->addWidget(recordingDirectoryEdit, 1);
	directoryRow->addWidget(browse);
	form->addRow(translate("Settings.RecordingDirectory"), directoryRow);
	form->addRow(makeNote("Settings.RecordingDirectoryNote", group, false));

	recordingFormatCombo = makeCombo("stilwane_settings_recording_format", group);
	recordingFormatCombo->addItem(translate("Settings.Format.MP4"), QStringLiteral("mp4"));
	recordingFormatCombo->addItem(translate("Settings.Format.MKV"), QStringLiteral("mkv"));
	recordingFormatCombo->setCurrentIndex(c.recordingFormat == "mkv" ? 1 : 0);
	form->addRow(translate("Settings.RecordingFormat"), recordingFormatCombo);

	recordingFollowMainCheck = makeCheck("stilwane_settings_recording_follow_main", "Settings.RecordingFollowMain",
					     c.recordingFollowMain, group);
	form->addRow(recordingFollowMainCheck);
	replaySecondsBox = makeSpin("stilwane_settings_replay_seconds", kMinReplaySeconds, kMaxReplaySeconds, 1,
				    c.replaySeconds, group);
	form->addRow(translate("Settings.ReplaySeconds"), replaySecondsBox);
	replayFollowMainCheck = makeCheck("stilwane_settings_replay_follow_main", "Settings.ReplayFollowMain",
					  c.replayFollowMain, group);
	form->addRow(replayFollowMainCheck);
	replaySaveWithMainCheck = makeCheck("stilwane_settings_replay_save_with_main", "Settings.ReplaySaveWithMain",
					    c.replaySaveWithMain, group);
	form->addRow(replaySaveWithMainCheck);
	return group;
}

QWidget *SettingsDialog::buildScenesGroup()
{
	const ConfigRecord &c = config();
	QGroupBox *group = nullptr;
	QFormLayout *form = makeGroup("Dock.Scenes", &group);
	linkScenesCheck = makeCheck("stilwane_settings_link_scenes", "Settings.LinkScenes", c.linkScenes, group);
	form->addRow(linkScenesCheck);
	matchMainTransitionCheck = makeCheck("stilwane_settings_match_main_transition", "Settings.MatchMainTransition",
					     c.matchMainTransition, group);
	knownMatchMainTransition = c.matchMainTransition;
	form->addRow(matchMainTransitionCheck);
	return group;
}

QWidget *SettingsDialog::buildGuidesGroup()
{
	const ConfigRecord &c = config();
	QGroupBox *group = nullptr;
	QFormLayout *form = makeGroup("Settings.Guides", &group);

	guidePresetCombo = makeCombo("stilwane_settings_guide_preset", group);
	for (const PresetChoice &choice : kPresets)
		guidePresetCombo->addItem(translate(choice.key), choice.preset);
	form->addRow(translate("Settings.GuidePreset"), guidePresetCombo);

	struct Margin {
		QSpinBox **box;
		const char *name;
		const char *key;
		int value;
	};
	const Margin margins[] = {
		{&guideTopBox, "stilwane_settings_guide_top", "Settings.GuideTop", c.guideTop},
		{&guideBottomBox, "stilwane_settings_guide_bottom", "Settings.GuideBottom", c.guideBottom},
		{&guideLeftBox, "stilwane_settings_guide_left", "Settings.GuideLeft", c.guideLeft},
		{&guideRightBox, "stilwane_settings_guide_right", "Settings.GuideRight", c.guideRight},
	};
	for (const Margin &margin : margins) {
		QSpinBox *box = makeSpin(margin.name, 0, 1000, 10, margin.value, group);
		box->setSuffix(" px");
		*margin.box = box;
		form->addRow(translate(margin.key), box);
	}
	form->addRow(makeNote("Settings.GuideNote", group));

	// The boxes hold the configured margins already: a Custom preset keeps them, a named one replaces
	// them with its own.
	const int index = std::max(0, guidePresetCombo->findData(c.guidePreset));
	guidePresetCombo->setCurrentIndex(index);
	fillGuideMargins(index);
	return group;
}

void SettingsDialog::selectInitialEncoder()
{
	const std::string &configured = config().encoder;
	const QString wanted = configured.empty() ? VerticalOutput::preferredEncoderId() : fromStd(configured);
	int index = encoderCombo->findData(wanted);
	if (index < 0)
		index = encoderCombo->findData(VerticalOutput::preferredEncoderId());
	if (index >= 0)
		encoderCombo->setCurrentIndex(index);
}

void SettingsDialog::fillGuideMargins(int index)
{
	const int preset = guidePresetCombo->itemData(index).toInt();
	if (preset != kCustomPreset) {
		ConfigRecord defaults;
		applyGuidePresetTo(defaults, preset);
		guideTopBox->setValue(defaults.guideTop);
		guideBottomBox->setValue(defaults.guideBottom);
		guideLeftBox->setValue(defaults.guideLeft);
		guideRightBox->setValue(defaults.guideRight);
	}
	for (QSpinBox *box : {guideTopBox, guideBottomBox, guideLeftBox, guideRightBox})
		box->setEnabled(preset == kCustomPreset);
}

void SettingsDialog::chooseRecordingDirectory()
{
	QString start = recordingDirectoryEdit->text().trimmed();
	if (start.isEmpty())
		start = mainRecordingPath();
	const QString chosen = chooseDirectory(this, translate("Settings.RecordingDirectory"), start);
	if (!chosen.isEmpty())
		recordingDirectoryEdit->setText(chosen);
}

void SettingsDialog::followTransitionSetting()
{
	const bool now = config().matchMainTransition;
	if (now == knownMatchMainTransition)
		return;
	knownMatchMainTransition = now;
	matchMainTransitionCheck->setChecked(now);
	shown.insert(matchMainTransitionCheck, now);
}

void SettingsDialog::showFirstDestination()
{
	QString server = serverEdit->text().trimmed();
	if (server.isEmpty())
		server = QString::fromLatin1(kDefaultServer);
	firstDestinationLabel->setText(destinationNameForServer(server));
	destinationsEditor->setFirstServer(server);
}

void SettingsDialog::refreshAvailability()
{
	const bool busy = VerticalOutput::instance()->isAnyOutputBusy();
	for (QWidget *widget : std::initializer_list<QWidget *>{widthBox, heightBox, mixAudioCheck, encoderCombo,
								videoBitrateBox, audioBitrateBox, audioTrackCombo})
		widget->setEnabled(!busy);
}

QString SettingsDialog::effectiveConfiguredEncoder()
{
	const std::string &configured = config().encoder;
	QString id = configured.empty() ? VerticalOutput::preferredEncoderId() : fromStd(configured);
	// An encoder whose module is gone is replaced by the preferred one when the outputs start.
	if (!VerticalOutput::encoderTypeExists(id))
		id = VerticalOutput::preferredEncoderId();
	return id;
}

void SettingsDialog::onAccept()
{
	ConfigRecord &c = config();
	CanvasManager *m = CanvasManager::instance();
	const bool busy = VerticalOutput::instance()->isAnyOutputBusy();

	const uint32_t width = uint32_t(widthBox->value());
	const uint32_t height = uint32_t(heightBox->value());
	const bool sizeChanged = edited(widthBox) || edited(heightBox);
	const bool mixAudio = mixAudioCheck->isChecked();
	const bool mixChanged = edited(mixAudioCheck);
	const bool encodingChanged = edited(encoderCombo) || edited(videoBitrateBox) || edited(audioBitrateBox) ||
				     edited(audioTrackCombo);

	// The widgets are locked while busy; this covers an output that started since the last refresh.
	if (busy && (sizeChanged || mixChanged || encodingChanged)) {
		showMessage(this, MessageKind::Warning, translate("Error.Title"), translate("Error.CanvasBusy"));
		return;
	}
	// Destinations share the encoding without changing it: they are stored while outputs run. The
	// first's server names it, so a change of either may make two names one.
	const bool destinationsChanged = edited(serverEdit) || destinationsEditor->edited();
	const QString destinationsProblem = destinationsChanged ? destinationsEditor->problem() : QString();
	if (!destinationsProblem.isEmpty()) {
		showMessage(this, MessageKind::Warning, translate("Error.Title"), destinationsProblem);
		return;
	}

	// The canvas first: a change libobs refuses is said at once and leaves the configuration as the
	// canvas is, so that the two never disagree.
	if (m->hasCanvas() && mixChanged) {
		if (!m->migrateCanvas(mixAudio)) {
			showMessage(this, MessageKind::Warning, translate("Error.Title"),
				    translate("Settings.CanvasRefused"));
			return;
		}
		c.mixAudio = mixAudio;
		shown.insert(mixAudioCheck, mixAudio);
	}
	if (m->hasCanvas() && sizeChanged) {
		if (!m->resizeCanvas(width, height)) {
			saveConfig();
			showMessage(this, MessageKind::Warning, translate("Error.Title"),
				    translate("Settings.CanvasRefused"));
			return;
		}
	}

	if (sizeChanged) {
		c.width = width;
		c.height = height;
	}
	if (mixChanged)
		c.mixAudio = mixAudio;
	if (edited(serverEdit)) {
		const QString server = serverEdit->text().trimmed();
		c.server = server.isEmpty() ? ConfigRecord{}.server : server.toStdString();
	}
	if (edited(keyEdit))
		c.key = keyEdit->text().trimmed().toStdString();
	if (destinationsEditor->edited())
		c.destinations = destinationsEditor->records();
	if (destinationsChanged) {
		for (const std::string &change : correctDestinations(c))
			stilwaneLog(LOG_WARNING, "settings: %s", change.c_str());
	}
	if (edited(encoderCombo))
		c.encoder = encoderCombo->currentData().toString().toStdString();
	if (edited(videoBitrateBox))
		c.videoBitrate = videoBitrateBox->value();
	if (edited(audioBitrateBox))
		c.audioBitrate = audioBitrateBox->value();
	if (edited(audioTrackCombo)) {
		c.audioTrack = audioTrackCombo->currentData().toInt();
		VerticalVolumeManager::instance()->reevaluate();
	}
	if (edited(autoStartCheck))
		c.autoStart = autoStartCheck->isChecked();
	if (edited(recordingDirectoryEdit))
		c.recordingDirectory = recordingDirectoryEdit->text().trimmed().toStdString();
	if (edited(recordingFormatCombo))
		c.recordingFormat = recordingFormatCombo->currentData().toString().toStdString();
	if (edited(recordingFollowMainCheck))
		c.recordingFollowMain = recordingFollowMainCheck->isChecked();
	if (edited(replaySecondsBox))
		c.replaySeconds = replaySecondsBox->value();
	if (edited(replayFollowMainCheck))
		c.replayFollowMain = replayFollowMainCheck->isChecked();
	if (edited(replaySaveWithMainCheck))
		c.replaySaveWithMain = replaySaveWithMainCheck->isChecked();
	if (edited(linkScenesCheck))
		c.linkScenes = linkScenesCheck->isChecked();
	if (edited(matchMainTransitionCheck))
		m->setMatchMainTransition(matchMainTransitionCheck->isChecked());
	if (edited(restoreProjectorsCheck))
		c.restoreProjectors = restoreProjectorsCheck->isChecked();
	const bool guidesChanged = edited(guidePresetCombo) || edited(guideTopBox) || edited(guideBottomBox) ||
				   edited(guideLeftBox) || edited(guideRightBox);
	if (guidesChanged) {
		c.guidePreset = guidePresetCombo->currentData().toInt();
		c.guideTop = guideTopBox->value();
		c.guideBottom = guideBottomBox->value();
		c.guideLeft = guideLeftBox->value();
		c.guideRight = guideRightBox->value();
	}
	saveConfig();

	if (guidesChanged)
		emit m->guidesChanged();
	HorizontalExclusionManager::instance()->applyExclusions();
	// The scene collection carries the canvas's size and flags.
	if (sizeChanged || mixChanged)
		obs_frontend_save();
	accept();
}

} // namespace stilwane
