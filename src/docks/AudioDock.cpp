// SPDX-License-Identifier: GPL-2.0-or-later
#include <docks/AudioDock.hpp>

#include <audio/AudioSourceScan.hpp>
#include <audio/VerticalAudioSource.hpp>
#include <canvas/CanvasManager.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>
#include <docks/AudioActions.hpp>
#include <docks/AudioSourceActions.hpp>
#include <output/VerticalOutput.hpp>
#include <widgets/AudioLevel.hpp>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace stilwane {

namespace {

constexpr int kTickMs = 50;
// Every twentieth tick, once a second, the main outputs' tracks are read again.
constexpr unsigned kProbeEveryTicks = 20;

QString nameOf(obs_source_t *source)
{
	return QString::fromUtf8(obs_source_get_name(source));
}

// 7.1 has eight channels; layouts the mixer cannot have give 0.
int channelCount(speaker_layout layout)
{
	switch (layout) {
	case SPEAKERS_MONO:
	case SPEAKERS_STEREO:
	case SPEAKERS_2POINT1:
	case SPEAKERS_4POINT0:
	case SPEAKERS_4POINT1:
	case SPEAKERS_5POINT1:
		return int(layout);
	case SPEAKERS_7POINT1:
		return 8;
	default:
		return 0;
	}
}

} // namespace

AudioDock::AudioDock(QWidget *parent) : QWidget(parent), masterPeak(AudioLevel::kFloorDb)
{
	buildLayout();

	meterTimer = new QTimer(this);
	meterTimer->setInterval(kTickMs);
	connect(meterTimer, &QTimer::timeout, this, &AudioDock::meterTick);

	CanvasManager *manager = CanvasManager::instance();
	connect(manager, &CanvasManager::canvasChanged, this, [this] {
		removeRows();
		markDirty();
	});
	connect(manager, &CanvasManager::scenesChanged, this, &AudioDock::markDirty);
	connectGlobalSignals();
	qApp->installEventFilter(this);
}

AudioDock::~AudioDock()
{
	teardown();
}

void AudioDock::buildLayout()
{
	auto *layout = new QVBoxLayout(this);
	layout->setContentsMargins(4, 4, 4, 4);
	layout->setSpacing(4);

	track = new QLabel(this);
	master = new AudioLevel(this);
	master->setAccessibleName(translate("Audio.MasterLevel"));
	sameTrack = new QLabel(this);
	sameTrack->setWordWrap(true);
	split = new QPushButton(translate("Audio.Split"), this);
	mixOff = new QLabel(translate("Audio.MixOff"), this);
	mixOff->setWordWrap(true);
	enableMix = new QPushButton(translate("Audio.EnableMix"), this);
	for (QWidget *widget :
	     {static_cast<QWidget *>(track), static_cast<QWidget *>(master), static_cast<QWidget *>(sameTrack),
	      static_cast<QWidget *>(split), static_cast<QWidget *>(mixOff), static_cast<QWidget *>(enableMix)})
		layout->addWidget(widget);

	auto *scroll = new QScrollArea(this);
	scroll->setWidgetResizable(true);
	scroll->setFrameShape(QFrame::NoFrame);
	// The rows follow the dock's width (they stack their switches when narrow): no sideways scrolling.
	scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
	rowContainer = new QWidget(scroll);
	rowLayout = new QVBoxLayout(rowContainer);
	rowLayout->setContentsMargins(0, 0, 0, 0);
	rowLayout->setSpacing(2);
	empty = new QLabel(translate("Audio.Empty"), rowContainer);
	empty->setWordWrap(true);
	rowLayout->addWidget(empty);
	rowLayout->addStretch(1);
	scroll->setWidget(rowContainer);
	layout->addWidget(scroll, 1);

	connect(split, &QPushButton::clicked, this, &AudioDock::onSplitClicked);
	connect(enableMix, &QPushButton::clicked, this, &AudioDock::onEnableMixClicked);
	refreshHeader();
}

void AudioDock::connectGlobalSignals()
{
	signal_handler_t *handler = obs_get_signal_handler();
	for (const char *name :
	     {"source_create", "source_create_canvas", "source_remove", "source_rename", "channel_change"})
		globalSignals.emplace_back(handler, name, onDirtySignal, &dirty);
}

void AudioDock::onDirtySignal(void *param, calldata_t *)
{
	static_cast<std::atomic<bool> *>(param)->store(true);
}

AudioMixerRow *AudioDock::rowOf(obs_source_t *source) const
{
	for (const std::unique_ptr<AudioMixerRow> &row : mixerRows) {
		if (row->source() == source)
			return row.get();
	}
	return nullptr;
}

void AudioDock::removeRows()
{
	mixerRows.clear();
	empty->setVisible(true);
}

void AudioDock::rebuildRows()
{
	const AudioSourceScan scan = AudioSourceScan::scan();
	removeRows();

	containerSignals.clear();
	watchedContainers = scan.containers();
	for (const OBSSource &container : watchedContainers) {
		signal_handler_t *handler = obs_source_get_signal_handler(container);
		for (const char *name : {"item_add", "item_remove", "reorder", "refresh"})
			containerSignals.emplace_back(handler, name, onDirtySignal, &dirty);
	}

	std::vector<OBSSource> sources;
	for (const OBSSource &source : scan.verticalAudio) {
		if (!isInternalAudioSource(source))
			sources.push_back(source);
	}
	std::stable_sort(sources.begin(), sources.end(), [](const OBSSource &a, const OBSSource &b) {
		return QString::localeAwareCompare(nameOf(a), nameOf(b)) < 0;
	});
	for (const OBSSource &source : sources) {
		auto row = std::make_unique<AudioMixerRow>(source, scan.inMain(source), &ctx, rowContainer);
		connect(row.get(), &AudioMixerRow::headerChanged, this, &AudioDock::refreshHeader);
		// Before the final stretch.
		rowLayout->insertWidget(rowLayout->count() - 1, row->widget());
		mixerRows.push_back(std::move(row));
	}
	empty->setVisible(mixerRows.empty());
}

void AudioDock::meterTick()
{
	if (suspended || exiting || !isVisible())
		return;
	if (!CanvasManager::instance()->hasCanvas()) {
		removeRows();
		refreshHeader();
		return;
	}
	if (dirty.exchange(false))
		rebuildRows();
	if (tickCounter++ % kProbeEveryTicks == 0)
		ctx.probe = probeMainOutputs();
	updateMasterCapture();
	master->tick(masterPeak);
	for (const std::unique_ptr<AudioMixerRow> &row : mixerRows)
		row->refresh();
	refreshHeader();
}

void AudioDock::refreshHeader()
{
	const int trackNumber = AudioSourceActions::verticalTrack();
	const uint32_t bit = trackBit(trackNumber);
	track->setText(Result::fill(translate("Audio.Track"), {QString::number(trackNumber)}));
	sameTrack->setText(Result::fill(translate("Audio.SameTrack"), {QString::number(trackNumber)}));

	const bool sameAsMain = (ctx.probe.streamMask & bit) != 0;
	sameTrack->setVisible(sameAsMain);
	split->setVisible(sameAsMain);
	const bool canvasFree = CanvasManager::instance()->hasCanvas() &&
				!VerticalOutput::instance()->isAnyOutputBusy();
	const bool freeTrack = firstFreeTrack(ctx.probe) != 0;
	split->setEnabled(canvasFree && ctx.probe.valid && freeTrack);
	split->setToolTip(translate(!canvasFree ? "Error.CanvasBusy"
				    : freeTrack ? "Audio.SplitHint"
						: "Audio.NoFreeTrack"));

	bool verticalOnly = false;
	for (const std::unique_ptr<AudioMixerRow> &row : mixerRows) {
		if (!row->isShared() && !obs_source_removed(row->source()) && row->target() &&
		    (obs_source_get_audio_mixers(row->target()) & bit))
			verticalOnly = true;
	}
	const bool offerMix = !config().mixAudio && verticalOnly;
	mixOff->setVisible(offerMix);
	enableMix->setVisible(offerMix);
	enableMix->setEnabled(canvasFree);
	enableMix->setToolTip(translate(canvasFree ? "Audio.EnableMixHint" : "Error.CanvasBusy"));
}

// ---- master meter

void AudioDock::onMasterAudio(void *param, size_t, struct audio_data *data)
{
	auto *self = static_cast<AudioDock *>(param);
	if (!data || !data->frames)
		return;
	float peak = 0.0f;
	for (int channel = 0; channel < self->captureChannels && channel < MAX_AV_PLANES; channel++) {
		const float *samples = reinterpret_cast<const float *>(data->data[channel]);
		if (!samples)
			continue;
		for (uint32_t i = 0; i < data->frames; i++)
			peak = std::max(peak, std::fabs(samples[i]));
	}
	AudioLevel::raisePeak(self->masterPeak, peak > 0.0f ? 20.0f * std::log10(peak) : AudioLevel::kFloorDb);
}

void AudioDock::updateMasterCapture()
{
	audio_t *audio = obs_get_audio();
	if (ctx.profileChanging || QApplication::activeModalWidget() || !audio) {
		removeMasterCapture();
		return;
	}
	const audio_output_info *info = audio_output_get_info(audio);
	const int trackNumber = AudioSourceActions::verticalTrack();
	const int channels = info ? channelCount(info->speakers) : 0;
	const uint32_t sampleRate = audio_output_get_sample_rate(audio);
	if (!channels) {
		removeMasterCapture();
		return;
	}
	if (captureTrack == trackNumber && captureChannels == channels && captureSampleRate == sampleRate)
		return;
	removeMasterCapture();
	audio_convert_info conversion = {};
	conversion.samples_per_sec = sampleRate;
	conversion.format = AUDIO_FORMAT_FLOAT_PLANAR;
	conversion.speakers = info->speakers;
	// Set before the callback can run: it reads the channel count.
	captureChannels = channels;
	captureSampleRate = sampleRate;
	captureTrack = trackNumber;
	obs_add_raw_audio_callback(size_t(trackNumber - 1), &conversion, onMasterAudio, this);
}

void AudioDock::removeMasterCapture()
{
	if (captureTrack)
		obs_remove_raw_audio_callback(size_t(captureTrack - 1), onMasterAudio, this);
	captureTrack = 0;
	captureChannels = 0;
	captureSampleRate = 0;
	masterPeak.store(AudioLevel::kFloorDb);
}

bool AudioDock::eventFilter(QObject *watched, QEvent *event)
{
	if (event->type() == QEvent::Show && captureTrack && watched->isWidgetType()) {
		auto *widget = static_cast<QWidget *>(watched);
		if (widget->isWindow() && widget->isModal())
			removeMasterCapture();
	}
	return QWidget::eventFilter(watched, event);
}

// ---- visibility, events, teardown

void AudioDock::showEvent(QShowEvent *event)
{
	QWidget::showEvent(event);
	if (suspended || exiting)
		return;
	markDirty();
	tickCounter = 0;
	meterTimer->start();
	meterTick();
}

void AudioDock::hideEvent(QHideEvent *event)
{
	QWidget::hideEvent(event);
	meterTimer->stop();
	removeRows();
	removeMasterCapture();
}

void AudioDock::handleFrontendEvent(enum obs_frontend_event event)
{
	switch (event) {
	case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED:
	case OBS_FRONTEND_EVENT_FINISHED_LOADING:
		if (exiting)
			break;
		suspended = false;
		markDirty();
		if (isVisible())
			meterTimer->start();
		break;
	case OBS_FRONTEND_EVENT_PROFILE_CHANGED:
		ctx.profileChanging = false;
		tickCounter = 0;
		markDirty();
		break;
	case OBS_FRONTEND_EVENT_PROFILE_CHANGING:
		ctx.profileChanging = true;
		removeMasterCapture();
		break;
	case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING:
	case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CLEANUP:
		suspended = true;
		meterTimer->stop();
		removeRows();
		break;
	case OBS_FRONTEND_EVENT_EXIT:
	case OBS_FRONTEND_EVENT_SCRIPTING_SHUTDOWN:
		teardown();
		break;
	default:
		tickCounter = 0;
		break;
	}
}

void AudioDock::teardown()
{
	suspended = true;
	exiting = true;
	meterTimer->stop();
	if (qApp)
		qApp->removeEventFilter(this);
	disconnect(CanvasManager::instance(), nullptr, this, nullptr);
	globalSignals.clear();
	removeRows();
	containerSignals.clear();
	watchedContainers.clear();
	removeMasterCapture();
}

void AudioDock::onSplitClicked()
{
	AudioActions::splitTrack(this);
	tickCounter = 0;
	meterTick();
}

void AudioDock::onEnableMixClicked()
{
	if (AudioActions::enableMix(this)) {
		markDirty();
		refreshHeader();
	}
}

} // namespace stilwane
