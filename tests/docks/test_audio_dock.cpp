// SPDX-License-Identifier: GPL-2.0-or-later
// The audio page as a real widget under Xvfb over real libobs sources: the level meter's fall and texts,
// rows for shared and vertical-only sources, re-sorting after a rename, the use-vertical switch, the master
// meter around a modal window, and the track split refused when an output became busy while the user was
// asked.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "../audio/AudioTestInput.hpp"
#include "../canvas/CanvasFixture.hpp"
#include <ModalAnswers.hpp>
#include <TestMain.hpp>

#include <docks/AudioActions.hpp>
#include <docks/AudioDock.hpp>
#include <docks/AudioMixerRow.hpp>
#include <widgets/AudioLevel.hpp>

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <memory>
#include <thread>

#include <util/config-file.h>

using namespace stilwane;
using namespace docktest;

namespace {

const QString kMinusInfinity = QString::fromUtf8("\u2212\u221e dB");

void addTo(obs_source_t *scene, obs_source_t *source)
{
	obs_scene_add(obs_scene_from_source(scene), source);
}

// OBS's main stream on track 1, its recording on track 1 too: track 2 is the first free one.
void mainOutputsOnTrackOne(config_t *profile)
{
	config_set_string(profile, "Output", "Mode", "Advanced");
	config_set_int(profile, "AdvOut", "TrackIndex", 1);
	config_set_int(profile, "AdvOut", "RecTracks", 1);
}

} // namespace

class TestAudioDock : public QObject {
	Q_OBJECT

	canvastest::Fixture f;
	CanvasManager *m = f.m;
	TestFrontend &fe = f.fe;
	ModalAnswers answers;
	std::unique_ptr<QWidget> window;
	AudioDock *dock = nullptr;
	obs_source_t *vertical = nullptr;  // held by the canvas
	obs_source_t *mainScene = nullptr; // held by the front end
	std::vector<OBSSource> sources;

	bool showDock()
	{
		window = std::make_unique<QWidget>();
		auto *layout = new QVBoxLayout(window.get());
		dock = new AudioDock(window.get());
		layout->addWidget(dock);
		window->resize(320, 600);
		window->show();
		return QTest::qWaitForWindowExposed(window.get());
	}

	obs_source_t *makeSource(const char *name, uint32_t mixers, bool inMain)
	{
		OBSSourceAutoRelease source = audiotest::createInput(name, mixers);
		addTo(vertical, source);
		if (inMain)
			addTo(mainScene, source);
		sources.emplace_back(source.Get());
		return source;
	}

	QStringList rowNames() const
	{
		QStringList names;
		for (const auto &row : dock->rows())
			names << row->nameLabel()->text();
		return names;
	}

private slots:
	void initTestCase()
	{
		f.initTestCase();
		answers.install();
	}

	void cleanupTestCase()
	{
		ModalAnswers::uninstall();
		f.cleanupTestCase();
	}

	void init()
	{
		f.init();
		answers.clear();
		config().audioTrack = 1;
		f.freshCanvas();
		mainScene = fe.addScene("Main");
		vertical = canvastest::sourceOf(m->addScene("V"));
		QVERIFY(canvastest::waitForTransitionEnd(m));
		ObsTestEnv::clearLog();
	}

	void cleanup()
	{
		window.reset();
		dock = nullptr;
		for (OBSSource &source : sources)
			obs_source_remove(source);
		sources.clear();
		vertical = nullptr;
		mainScene = nullptr;
		f.cleanup();
	}

	void levelText_data()
	{
		QTest::addColumn<float>("db");
		QTest::addColumn<QString>("text");
		QTest::addColumn<double>("fill");
		QTest::newRow("floor") << -120.0f << kMinusInfinity << 0.0;
		QTest::newRow("empty edge") << -60.0f << kMinusInfinity << 0.0;
		QTest::newRow("just above") << -59.5f << "-59.5 dB" << 0.5 / 60.0;
		QTest::newRow("yellow starts") << -20.0f << "-20.0 dB" << 2.0 / 3.0;
		QTest::newRow("red starts") << -9.0f << "-9.0 dB" << 0.85;
		QTest::newRow("full") << 0.0f << "0.0 dB" << 1.0;
		QTest::newRow("clipping") << 6.0f << "6.0 dB" << 1.0;
	}

	void levelText()
	{
		QFETCH(float, db);
		QFETCH(QString, text);
		QFETCH(double, fill);
		QCOMPARE(AudioLevel::levelText(db), text);
		QVERIFY(qAbs(AudioLevel::fillFraction(db) - fill) < 1e-9);
	}

	// One second of 50 ms ticks takes a full meter down to the display's floor; a new peak jumps up.
	void levelFallsToTheFloorInOneSecond()
	{
		AudioLevel level;
		std::atomic<float> slot(0.0f);
		level.tick(slot);
		QCOMPARE(level.level(), 0.0f);
		QCOMPARE(slot.load(), AudioLevel::kFloorDb);
		for (int tick = 1; tick <= 20; tick++) {
			level.tick(slot);
			QCOMPARE(level.level(), -3.0f * float(tick));
			QCOMPARE(level.toolTip(),
				 tick < 20 ? QString::number(-3.0 * tick, 'f', 1) + " dB" : kMinusInfinity);
		}
		level.tick(slot);
		QCOMPARE(level.toolTip(), kMinusInfinity);
		AudioLevel::raisePeak(slot, -12.0f);
		AudioLevel::raisePeak(slot, -30.0f);
		level.tick(slot);
		QCOMPARE(level.level(), -12.0f);
		QCOMPARE(level.accessibleName(), translate("Audio.Level"));
	}

	// Four threads race their peaks into one slot: the highest survives.
	void raisePeakKeepsTheMaximum()
	{
		std::atomic<float> slot(AudioLevel::kFloorDb);
		std::vector<std::thread> threads;
		for (int t = 0; t < 4; t++)
			threads.emplace_back([&slot, t] {
				for (int i = 0; i < 10000; i++)
					AudioLevel::raisePeak(slot, -100.0f + float((i * 7 + t) % 97));
			});
		for (std::thread &thread : threads)
			thread.join();
		QCOMPARE(slot.load(), -4.0f);
	}

	void rowsForSharedAndVerticalOnlySources()
	{
		makeSource("Music", 0x1, false);
		makeSource("Mic", 0x1, true);
		QVERIFY(showDock());
		dock->meterTick();

		struct Expected {
			const char *name;
			const char *useKey;
			bool separateShown;
		};
		const Expected expected[] = {{"Mic", "Audio.UseVerticalShared", true},
					     {"Music", "Audio.UseVertical", false}};
		QCOMPARE(rowNames(), QStringList({"Mic", "Music"}));
		QVERIFY(!dock->emptyLabel()->isVisibleTo(window.get()));
		for (size_t i = 0; i < std::size(expected); i++) {
			AudioMixerRow *row = dock->rows()[i].get();
			QCOMPARE(row->useVerticalBox()->text(), translate(expected[i].useKey));
			QCOMPARE(row->useVerticalBox()->accessibleName(),
				 QString(expected[i].name) + " " + translate(expected[i].useKey));
			QCOMPARE(row->separateBox()->isVisibleTo(window.get()), expected[i].separateShown);
			QVERIFY(row->useVerticalBox()->isChecked());
			QCOMPARE(row->target(), row->source());
		}
		QCOMPARE(dock->rows()[0]->volumeSlider()->toolTip(), translate("Audio.SharedHint"));
		QCOMPARE(dock->rows()[1]->volumeSlider()->toolTip(), QString());
		QCOMPARE(dock->trackLabel()->text(), translate("Audio.Track").arg(1));
		// A vertical-only source is heard on the vertical track while the canvas does not mix: offer the mix.
		QVERIFY(dock->enableMixButton()->isVisibleTo(window.get()));
	}

	// A dock as narrow as OBS's side docks stacks a row's two switches instead of cutting the second off;
	// a wide one puts them side by side again.
	void narrowRowsStackTheirSwitches()
	{
		makeSource("Mic", 0x1, true);
		QVERIFY(showDock());
		dock->meterTick();
		AudioMixerRow *row = dock->rows().at(0).get();
		QCheckBox *use = row->useVerticalBox();
		QCheckBox *separate = row->separateBox();
		QVERIFY(separate->isVisibleTo(window.get()));
		for (int width : {300, 900, 300}) {
			window->resize(width, 600);
			const bool stacked = width == 300;
			QTRY_COMPARE(separate->y() > use->y(), stacked);
			QTRY_VERIFY(separate->geometry().right() <= row->widget()->contentsRect().right());
			QVERIFY(row->widget()->width() <= dock->width());
		}
	}

	void emptyWithoutAudioSources()
	{
		QVERIFY(showDock());
		dock->meterTick();
		QVERIFY(dock->rows().empty());
		QVERIFY(dock->emptyLabel()->isVisibleTo(window.get()));
		QCOMPARE(dock->emptyLabel()->text(), translate("Audio.Empty"));
		QVERIFY(!dock->enableMixButton()->isVisibleTo(window.get()));
	}

	void renameResortsAtTheNextTick()
	{
		makeSource("Beta", 0x1, false);
		obs_source_t *gamma = makeSource("Gamma", 0x1, false);
		QVERIFY(showDock());
		dock->meterTick();
		QCOMPARE(rowNames(), QStringList({"Beta", "Gamma"}));
		obs_source_set_name(gamma, "Alpha");
		dock->meterTick();
		QCOMPARE(rowNames(), QStringList({"Alpha", "Beta"}));
	}

	void useVerticalSetsTheTrackBit_data()
	{
		QTest::addColumn<int>("track");
		QTest::addColumn<uint32_t>("before");
		QTest::addColumn<uint32_t>("on");
		QTest::newRow("track 1") << 1 << uint32_t(0x3e) << uint32_t(0x3f);
		QTest::newRow("track 2") << 2 << uint32_t(0x01) << uint32_t(0x03);
		QTest::newRow("track 6") << 6 << uint32_t(0x00) << uint32_t(0x20);
	}

	void useVerticalSetsTheTrackBit()
	{
		QFETCH(int, track);
		QFETCH(uint32_t, before);
		QFETCH(uint32_t, on);
		config().audioTrack = track;
		obs_source_t *music = makeSource("Music", before, false);
		QVERIFY(showDock());
		dock->meterTick();
		QCheckBox *box = dock->rowOf(music)->useVerticalBox();
		QVERIFY(!box->isChecked());

		box->click();
		QCOMPARE(obs_source_get_audio_mixers(music), on);
		QVERIFY(ObsTestEnv::logContains(QString("[stilwane] vertical audio: 'Music' track %1 on").arg(track)));
		box->click();
		QCOMPARE(obs_source_get_audio_mixers(music), before);
		QVERIFY(ObsTestEnv::logContains(QString("[stilwane] vertical audio: 'Music' track %1 off").arg(track)));
		dock->meterTick();
		QVERIFY(!box->isChecked());
	}

	void modalWindowStopsTheMasterMeter()
	{
		QVERIFY(showDock());
		dock->meterTick();
		QVERIFY(dock->hasMasterCapture());
		QCOMPARE(dock->masterMeter()->accessibleName(), translate("Audio.MasterLevel"));

		QDialog modal(window.get());
		modal.setModal(true);
		modal.show();
		QVERIFY(!dock->hasMasterCapture());
		dock->meterTick();
		QVERIFY(!dock->hasMasterCapture());
		modal.hide();
		dock->meterTick();
		QVERIFY(dock->hasMasterCapture());

		// A hidden page keeps nothing attached.
		window->hide();
		QVERIFY(!dock->hasMasterCapture());
		QVERIFY(dock->rows().empty());
	}

	// The question may stand open while the outputs start: the split then changes nothing.
	void trackSplit_data()
	{
		QTest::addColumn<bool>("answer");
		QTest::addColumn<bool>("busyMeanwhile");
		QTest::addColumn<QString>("message");
		QTest::addColumn<int>("track");
		QTest::addColumn<uint32_t>("micMixers");
		QTest::newRow("declined") << false << false << QString() << 1 << uint32_t(0x01);
		QTest::newRow("busy meanwhile") << true << true << "Audio.SettingsChanged" << 1 << uint32_t(0x01);
		QTest::newRow("split") << true << false << QString() << 2 << uint32_t(0x03);
	}

	void trackSplit()
	{
		QFETCH(bool, answer);
		QFETCH(bool, busyMeanwhile);
		QFETCH(QString, message);
		QFETCH(int, track);
		QFETCH(uint32_t, micMixers);
		mainOutputsOnTrackOne(fe.profileConfig());
		obs_source_t *mic = makeSource("Mic", 0x1, true);
		QVERIFY(showDock());
		dock->meterTick();
		QVERIFY(dock->sameTrackLabel()->isVisibleTo(window.get()));
		QCOMPARE(dock->sameTrackLabel()->text(), translate("Audio.SameTrack").arg(1));
		QVERIFY(dock->splitButton()->isVisibleTo(window.get()));
		QVERIFY(dock->splitButton()->isEnabled());

		setConfirmHandler([&](const QString &title, const QString &text) {
			answers.confirmations << title + "|" + text;
			if (busyMeanwhile)
				VerticalOutput::setBusyOverrideForTests(true);
			return answer;
		});
		const int savesBefore = fe.saveCount();
		dock->splitButton()->click();
		answers.install();

		QCOMPARE(answers.confirmations,
			 QStringList({translate("Audio.Split") + "|" + translate("Audio.ConfirmSplit").arg(1).arg(2)}));
		QCOMPARE(answers.messages,
			 message.isEmpty() ? QStringList() : QStringList({translate(qPrintable(message))}));
		QCOMPARE(config().audioTrack, track);
		QCOMPARE(obs_source_get_audio_mixers(mic), micMixers);
		const bool split = track == 2;
		QCOMPARE(ObsTestEnv::logContains("[stilwane] vertical audio track split: 1 -> 2, 1 sources"), split);
		QCOMPARE(fe.saveCount() > savesBefore, split);
		if (split)
			QVERIFY(!dock->splitButton()->isVisibleTo(window.get()));
	}

	// Nothing is asked when nothing can be split.
	void splitWithoutFreeTrack()
	{
		QVERIFY(showDock());
		const Result result = AudioActions::splitTrack(dock);
		QVERIFY(!result);
		QVERIFY(answers.confirmations.isEmpty());
		QCOMPARE(answers.messages, QStringList({translate("Audio.NoFreeTrack")}));
		QCOMPARE(config().audioTrack, 1);
	}
};

STILWANE_TEST_MAIN(TestAudioDock)
#include "test_audio_dock.moc"
