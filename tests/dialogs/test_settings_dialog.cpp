// SPDX-License-Identifier: GPL-2.0-or-later
// The settings dialog as a real widget under Xvfb, over the real canvas manager, the real encoder
// registry and the test front end: what it shows, what running outputs lock and refuse, what it
// stores and writes, and what it changes on the live canvas.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "../canvas/CanvasFixture.hpp"
#include <ModalAnswers.hpp>

#include <dialogs/SettingsDialog.hpp>

#include <TestMain.hpp>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>

#include <memory>

using namespace stilwane;

using namespace canvastest;
using namespace docktest;

namespace {

QString mainRecordingPath()
{
	char *path = obs_frontend_get_current_record_output_path();
	QString result = QString::fromUtf8(path);
	bfree(path);
	return result;
}

} // namespace

class TestSettingsDialog : public QObject {
	Q_OBJECT

	Fixture f;
	CanvasManager *m = f.m;
	ModalAnswers answers;
	QStringList directoryStarts;
	QString directoryAnswer;
	std::unique_ptr<SettingsDialog> dialog;

	void open()
	{
		dialog = std::make_unique<SettingsDialog>();
		dialog->show();
		QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
	}

	template<class T> T *w(const char *name) const
	{
		return dialog->findChild<T *>(QString("stilwane_settings_") + name);
	}

	void click(const char *name) const { QTest::mouseClick(w<QAbstractButton>(name), Qt::LeftButton); }
	bool accepted() const { return !dialog->isVisible() && dialog->result() == QDialog::Accepted; }
	bool configWritten() const { return QFile::exists(QString::fromStdString(configFilePath())); }

	// The four margin boxes, each negated while it is locked.
	QList<int> margins() const
	{
		QList<int> values;
		for (const char *name : {"guide_top", "guide_bottom", "guide_left", "guide_right"})
			values << (w<QSpinBox>(name)->isEnabled() ? 1 : -1) * w<QSpinBox>(name)->value();
		return values;
	}

private slots:
	void initTestCase()
	{
		f.initTestCase();
		answers.install();
		setDirectoryHandler([this](const QString &, const QString &start) {
			directoryStarts << start;
			return directoryAnswer;
		});
	}

	void cleanupTestCase()
	{
		setDirectoryHandler(nullptr);
		ModalAnswers::uninstall();
		f.cleanupTestCase();
	}

	void init()
	{
		f.init();
		QFile::remove(QString::fromStdString(configFilePath()));
		answers.clear();
		directoryStarts.clear();
		f.freshCanvas();
	}

	void cleanup()
	{
		dialog.reset();
		f.cleanup();
	}

	void showsTheRunningCanvasAndTheConfiguration()
	{
		// The canvas runs at the size it was made with, whatever the record says now.
		config().width = 720;
		config().recordingFormat = "mov";
		config().key = "live-key-1234";
		open();
		QCOMPARE(dialog->size(), QSize(620, 800));
		QCOMPARE(w<QSpinBox>("width")->value(), 1080);
		QCOMPARE(w<QComboBox>("recording_format")->currentText(), translate("Settings.Format.MP4"));

		QLineEdit *key = w<QLineEdit>("key");
		QCOMPARE(key->echoMode(), QLineEdit::Password);
		click("show_key");
		QCOMPARE(key->echoMode(), QLineEdit::Normal);
		click("show_key");
		QCOMPARE(key->echoMode(), QLineEdit::Password);

		w<QSpinBox>("height")->setValue(1280);
		click("cancel");
		QCOMPARE(m->canvasHeight(), 1920u);
		QVERIFY(!configWritten());
	}

	void guidePresetsFillAndLockTheMargins()
	{
		// A fresh record's margins are no preset's: the configured Live preset shows its own.
		open();
		QCOMPARE(margins(), QList<int>({-250, -630, -53, -53}));

		config().guidePreset = 2;
		config().guideTop = 11;
		open();
		QCOMPARE(margins(), QList<int>({11, 640, 40, 150}));
		w<QComboBox>("guide_preset")->setCurrentIndex(1);
		QCOMPARE(margins(), QList<int>({-150, -380, -40, -150}));
		w<QComboBox>("guide_preset")->setCurrentIndex(2);
		QCOMPARE(margins(), QList<int>({150, 380, 40, 150}));

		QSignalSpy guides(m, &CanvasManager::guidesChanged);
		w<QSpinBox>("guide_left")->setValue(60);
		click("ok");
		QVERIFY(accepted());
		QCOMPARE(guides.count(), 1);
		QCOMPARE(QList<int>({config().guidePreset, config().guideBottom, config().guideLeft}),
			 QList<int>({2, 380, 60}));
	}

	void busyOutputsLockWhatTheyUseButAcceptTheRest()
	{
		// A configured encoder that is gone counts as the preferred one, which the choice shows.
		config().encoder = "stilwane_no_such_encoder";
		open();
		// What the outputs report when the stream goes live.
		VerticalOutput *output = VerticalOutput::instance();
		VerticalOutput::setBusyOverrideForTests(true);
		emit output->stateChanged(VerticalOutput::StreamLive);
		for (const char *name :
		     {"width", "height", "mix_audio", "encoder", "video_bitrate", "audio_bitrate", "audio_track"})
			QVERIFY2(!w<QWidget>(name)->isEnabled(), name);
		QVERIFY(w<QLineEdit>("key")->isEnabled());
		click("ok");
		QVERIFY(accepted());
		// Shown as the preferred one, but an untouched choice is no change: the stored id stays.
		QCOMPARE(QString::fromStdString(config().encoder), QString("stilwane_no_such_encoder"));
		VerticalOutput::setBusyOverrideForTests(std::nullopt);

		open();
		w<QLineEdit>("server")->setText(" rtmp://127.0.0.1:1935/live ");
		w<QLineEdit>("key")->setText(" new-key-5678 ");
		click("ok");
		QVERIFY(accepted());
		QVERIFY(answers.messages.isEmpty());
		QCOMPARE(QString::fromStdString(config().server), QString("rtmp://127.0.0.1:1935/live"));
		QCOMPARE(QString::fromStdString(config().key), QString("new-key-5678"));
		QVERIFY(!ObsTestEnv::logContains("new-key-5678"));
	}

	void untouchedOkChangesNothingAndIsNeverRefused()
	{
		// Stored values the boxes cannot show: over their ranges, an encoder that is not offered.
		config().videoBitrate = 60000;
		config().audioBitrate = 12;
		config().encoder = "stilwane_no_such_encoder";
		config().guideTop = 77;
		saveConfig();
		QFile stored(QString::fromStdString(configFilePath()));
		QVERIFY(stored.open(QIODevice::ReadOnly));
		const QByteArray before = stored.readAll();
		stored.close();
		for (const bool busy : {true, false}) {
			VerticalOutput::setBusyOverrideForTests(busy);
			open();
			click("ok");
			QVERIFY2(accepted(), busy ? "busy" : "idle");
			QVERIFY(answers.messages.isEmpty());
			QCOMPARE(config().videoBitrate, 60000);
			QCOMPARE(config().audioBitrate, 12);
			QCOMPARE(QString::fromStdString(config().encoder), QString("stilwane_no_such_encoder"));
			QCOMPARE(config().guideTop, 77);
			QVERIFY(stored.open(QIODevice::ReadOnly));
			QCOMPARE(stored.readAll(), before);
			stored.close();
		}
		VerticalOutput::setBusyOverrideForTests(std::nullopt);
		QCOMPARE(f.fe.saveCount(), 0);
	}

	void canvasChangeWhileOBSOutputsAgreesWithTheConfig()
	{
		// OBS's own recording runs: libobs refuses a video reset, the canvas is rebuilt at the new size.
		MainVideoSink sink;
		QVERIFY(sink.start());
		open();
		w<QSpinBox>("width")->setValue(720);
		w<QSpinBox>("height")->setValue(1280);
		click("ok");
		QVERIFY(accepted());
		QVERIFY(answers.messages.isEmpty());
		QCOMPARE(QSize(int(m->canvasWidth()), int(m->canvasHeight())), QSize(720, 1280));
		QCOMPARE(QSize(int(config().width), int(config().height)), QSize(720, 1280));
	}

	void changeWhileBusyIsRefused_data()
	{
		QTest::addColumn<QString>("change");
		for (const char *change : {"size", "mix", "encoder", "track"})
			QTest::newRow(change) << QString(change);
	}

	void changeWhileBusyIsRefused()
	{
		QFETCH(QString, change);
		open();
		if (change == "size") {
			w<QSpinBox>("height")->setValue(1280);
		} else if (change == "mix") {
			w<QCheckBox>("mix_audio")->setChecked(true);
		} else if (change == "encoder") {
			// libobs here registers x264 only; a machine with a hardware encoder lists it too.
			w<QComboBox>("encoder")->addItem("Hardware", "stilwane_other_encoder");
			w<QComboBox>("encoder")->setCurrentIndex(w<QComboBox>("encoder")->count() - 1);
		} else {
			w<QComboBox>("audio_track")->setCurrentIndex(1);
		}
		w<QLineEdit>("key")->setText("ignored-key");
		// An output started after the widgets were last refreshed.
		VerticalOutput::setBusyOverrideForTests(true);
		click("ok");

		QCOMPARE(answers.messages, QStringList({translate("Error.CanvasBusy")}));
		QVERIFY(dialog->isVisible());
		QVERIFY(config().key.empty());
		QVERIFY(!configWritten());
		QCOMPARE(f.fe.saveCount(), 0);
		QCOMPARE(m->canvasHeight(), 1920u);
	}

	void acceptedChangesReachTheCanvasAndTheFile()
	{
		open();
		w<QSpinBox>("width")->setValue(720);
		w<QSpinBox>("height")->setValue(1280);
		w<QCheckBox>("mix_audio")->setChecked(true);
		w<QLineEdit>("server")->setText("   ");
		w<QComboBox>("recording_format")->setCurrentIndex(1);
		click("ok");
		QVERIFY(accepted());

		// Moved to a canvas that mixes its audio, then resized.
		QVERIFY(obs_canvas_get_flags(m->canvas()) & MIX_AUDIO);
		obs_video_info ovi = {};
		QVERIFY(obs_canvas_get_video_info(m->canvas(), &ovi));
		QCOMPARE(QSize(int(ovi.base_width), int(ovi.base_height)), QSize(720, 1280));
		QCOMPARE(f.fe.saveCount(), 1);

		OBSDataAutoRelease file = obs_data_create_from_json_file(configFilePath().c_str());
		QCOMPARE(obs_data_get_int(file, "height"), 1280);
		QCOMPARE(QString(obs_data_get_string(file, "server")), QString(kDefaultServer));
		QCOMPARE(QString(obs_data_get_string(file, "recording_format")), QString("mkv"));
	}

	void browsingAndFollowingTheTransitionSetting()
	{
		QTemporaryDir chosen;
		open();
		directoryAnswer = chosen.path();
		click("browse");
		directoryAnswer.clear();
		click("browse");
		QCOMPARE(directoryStarts, QStringList({mainRecordingPath(), chosen.path()}));
		QCOMPARE(w<QLineEdit>("recording_directory")->text(), chosen.path());

		// The transitions dock changes the same setting while the dialog is open; a notification
		// that changes nothing leaves the user's unsaved choice alone.
		QCheckBox *match = w<QCheckBox>("match_main_transition");
		m->setMatchMainTransition(false);
		QVERIFY(!match->isChecked());
		match->setChecked(true);
		emit m->transitionSettingsChanged();
		QVERIFY(match->isChecked());
	}
};

STILWANE_TEST_MAIN(TestSettingsDialog)

#include "test_settings_dialog.moc"
