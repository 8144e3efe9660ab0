// SPDX-License-Identifier: GPL-2.0-or-later
#include <docks/AudioMixerRow.hpp>

#include <audio/VerticalAudioSource.hpp>
#include <audio/VerticalVolumeManager.hpp>
#include <common/Module.hpp>
#include <docks/AudioSourceActions.hpp>
#include <widgets/AudioLevel.hpp>

#include <QBoxLayout>
#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

#include <cmath>

namespace stilwane {

AudioMixerRow::AudioMixerRow(obs_source_t *source, bool shared, AudioDockContext *context, QWidget *parent)
	: src(source),
	  shared(shared),
	  context(context),
	  peakSlot(AudioLevel::kFloorDb)
{
	fader = obs_fader_create(OBS_FADER_LOG);
	volmeter = obs_volmeter_create(OBS_FADER_LOG);
	build(parent);
	attachTarget();
}

AudioMixerRow::~AudioMixerRow()
{
	detach();
	obs_volmeter_destroy(volmeter);
	obs_fader_destroy(fader);
	delete row;
}

void AudioMixerRow::build(QWidget *parent)
{
	row = new QWidget(parent);
	row->setObjectName("stilwane_audio_row");
	auto *layout = new QVBoxLayout(row);
	layout->setContentsMargins(2, 3, 2, 5);
	layout->setSpacing(2);

	const QString sourceName = QString::fromUtf8(obs_source_get_name(src));
	name = new QLabel(row);
	name->setText(sourceName);
	QFont bold = name->font();
	bold.setBold(true);
	name->setFont(bold);
	name->setToolTip(sourceName);
	name->setMinimumWidth(0);
	name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
	layout->addWidget(name);

	switches = new QBoxLayout(QBoxLayout::LeftToRight);
	switches->setSpacing(8);
	const QString useText = translate(shared ? "Audio.UseVerticalShared" : "Audio.UseVertical");
	useVertical = new QCheckBox(useText, row);
	useVertical->setAccessibleName(sourceName + " " + useText);
	separate = new QCheckBox(translate("Audio.Separate"), row);
	separate->setAccessibleName(sourceName + " " + translate("Audio.Separate"));
	// A minimum width of their own lets the row shrink below the switches' text; eventFilter then stacks them.
	for (QCheckBox *box : {useVertical, separate}) {
		box->setMinimumWidth(1);
		switches->addWidget(box);
	}
	switches->addStretch(1);
	layout->addLayout(switches);

	meter = new AudioLevel(row);
	layout->addWidget(meter);

	auto *volume = new QHBoxLayout();
	volume->setSpacing(4);
	slider = new QSlider(Qt::Horizontal, row);
	slider->setRange(0, kSliderSteps);
	slider->setAccessibleName(sourceName + " " + translate("Audio.Volume"));
	db = new QLabel(row);
	db->setMinimumWidth(58);
	db->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
	mute = new QToolButton(row);
	mute->setAutoRaise(true);
	mute->setCheckable(true);
	mute->setText(translate("Audio.Mute"));
	mute->setAccessibleName(sourceName + " " + translate("Audio.Mute"));
	if (shared) {
		slider->setToolTip(translate("Audio.SharedHint"));
		mute->setToolTip(translate("Audio.SharedHint"));
	}
	volume->addWidget(slider, 1);
	volume->addWidget(db);
	volume->addWidget(mute);
	layout->addLayout(volume);

	auto *line = new QFrame(row);
	line->setFrameShape(QFrame::HLine);
	line->setFrameShadow(QFrame::Sunken);
	layout->addWidget(line);

	row->installEventFilter(this);

	connect(slider, &QSlider::valueChanged, this, &AudioMixerRow::onSliderMoved);
	connect(slider, &QSlider::sliderReleased, this, [this] {
		if (targetUsable())
			AudioSourceActions::instance()->volumeChanged(src, true);
	});
	connect(mute, &QToolButton::toggled, this, &AudioMixerRow::onMuteToggled);
	connect(useVertical, &QCheckBox::toggled, this, &AudioMixerRow::onUseVerticalToggled);
	connect(separate, &QCheckBox::toggled, this, &AudioMixerRow::onSeparateToggled);
}

bool AudioMixerRow::eventFilter(QObject *watched, QEvent *event)
{
	if (watched == row && event->type() == QEvent::Resize) {
		const QMargins margins = row->contentsMargins() + row->layout()->contentsMargins();
		const int needed = useVertical->sizeHint().width() + switches->spacing() +
				   separate->sizeHint().width() + margins.left() + margins.right();
		const auto direction = row->width() < needed ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight;
		if (switches->direction() != direction)
			switches->setDirection(direction);
	}
	return QObject::eventFilter(watched, event);
}

void AudioMixerRow::detach()
{
	if (!tgt)
		return;
	obs_volmeter_remove_callback(volmeter, onLevels, this);
	obs_volmeter_detach_source(volmeter);
	obs_fader_detach_source(fader);
	tgt = nullptr;
}

void AudioMixerRow::attachTarget()
{
	OBSSource wanted = AudioSourceActions::targetOf(src);
	if (wanted.Get() == tgt.Get())
		return;
	detach();
	tgt = wanted;
	peakSlot.store(AudioLevel::kFloorDb);
	if (!tgt)
		return;
	obs_fader_attach_source(fader, tgt);
	obs_volmeter_attach_source(volmeter, tgt);
	obs_volmeter_add_callback(volmeter, onLevels, this);
}

void AudioMixerRow::onLevels(void *param, const float[MAX_AUDIO_CHANNELS], const float peak[MAX_AUDIO_CHANNELS],
			     const float[MAX_AUDIO_CHANNELS])
{
	float highest = AudioLevel::kFloorDb;
	for (int i = 0; i < MAX_AUDIO_CHANNELS; i++) {
		if (peak[i] > highest)
			highest = peak[i];
	}
	AudioLevel::raisePeak(static_cast<AudioMixerRow *>(param)->peakSlot, highest);
}

bool AudioMixerRow::targetUsable()
{
	attachTarget();
	return src && tgt && !obs_source_removed(src) && !obs_source_removed(tgt);
}

void AudioMixerRow::refresh()
{
	attachTarget();
	const QSignalBlocker blockSlider(slider), blockMute(mute), blockUse(useVertical), blockSeparate(separate);

	if (!slider->isSliderDown())
		slider->setValue(int(std::lround(obs_fader_get_deflection(fader) * kSliderSteps)));
	const float faderDb = obs_fader_get_db(fader);
	db->setText(std::isfinite(faderDb) ? QString::number(double(faderDb), 'f', 1) + " dB"
					   : QString::fromUtf8("\u2212\u221e dB"));

	const bool separated = tgt && tgt.Get() != src.Get();
	mute->setChecked(tgt && obs_source_muted(tgt));
	useVertical->setChecked(tgt &&
				(obs_source_get_audio_mixers(tgt) & trackBit(AudioSourceActions::verticalTrack())));
	separate->setChecked(separated);

	separate->setVisible(shared || separated);
	status = AudioSourceActions::separateStatus(src, context->probe, context->profileChanging);
	separate->setEnabled(status == VerticalVolumeManager::SeparatePossible);
	separate->setToolTip(VerticalVolumeManager::separateStatusText(status));

	const QString hint = separated ? translate("Audio.SeparateHint")
			     : shared  ? translate("Audio.SharedHint")
				       : QString();
	for (QWidget *control : {static_cast<QWidget *>(slider), static_cast<QWidget *>(mute),
				 static_cast<QWidget *>(db), static_cast<QWidget *>(useVertical)})
		control->setToolTip(hint);

	name->setEnabled(!obs_source_removed(src));
	meter->tick(peakSlot);
}

void AudioMixerRow::onSliderMoved(int value)
{
	if (!targetUsable())
		return;
	obs_fader_set_deflection(fader, float(value) / float(kSliderSteps));
	AudioSourceActions::instance()->volumeChanged(src, !slider->isSliderDown());
}

void AudioMixerRow::onMuteToggled(bool muted)
{
	if (!targetUsable())
		return;
	AudioSourceActions::instance()->setMuted(src, muted);
}

void AudioMixerRow::onUseVerticalToggled(bool on)
{
	if (!targetUsable())
		return;
	AudioSourceActions::instance()->setOnVertical(src, on);
	emit headerChanged();
}

void AudioMixerRow::onSeparateToggled(bool on)
{
	context->probe = probeMainOutputs();
	bool refused = false;
	AudioSourceActions::instance()->setSeparate(src, on, shared, context->probe, context->profileChanging,
						    &refused);
	if (refused)
		QToolTip::showText(separate->mapToGlobal(QPoint(0, separate->height())),
				   translate("Audio.SeparateUnavailable"), separate);
	refresh();
	emit headerChanged();
}

} // namespace stilwane
