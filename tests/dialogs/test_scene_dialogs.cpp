// SPDX-License-Identifier: GPL-2.0-or-later
// The dialogs the scenes dock opens, driven through the dock over the real canvas manager: the link
// dialog, the per-scene transition dialog (also while the canvas changes under it) and generating a
// scene from a main scene.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "../docks/ScenesDockFixture.hpp"

#include <dialogs/SceneLinkDialog.hpp>
#include <dialogs/SceneTransitionDialog.hpp>
#include <dialogs/GenerateDialog.hpp>

#include <TestMain.hpp>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

using namespace stilwane;

using namespace canvastest;
using namespace docktest;

namespace {

QStringList comboTexts(const QComboBox *combo)
{
	QStringList texts;
	for (int i = 0; i < combo->count(); i++)
		texts << combo->itemText(i);
	return texts;
}

// Clicks a dialog's OK button as the user would and returns what exec() would have.
int clickOk(QDialog *dialog)
{
	auto *buttons = dialog->findChild<QDialogButtonBox *>();
	if (!buttons)
		return QDialog::Rejected;
	QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
	return dialog->result();
}

} // namespace

class TestSceneDialogs : public QObject {
	Q_OBJECT

	ScenesDockFixture x;
	CanvasManager *m = x.m;
	TestFrontend &fe = x.fe;

private slots:
	void initTestCase() { x.initTestCase(); }
	void cleanupTestCase() { x.cleanupTestCase(); }
	void init() { QVERIFY(x.init()); }
	void cleanup() { x.cleanup(); }

	void linkDialogOffersNoneSameNameAndTheMainScenes()
	{
		obs_source_t *main1 = fe.addScene("Main 1");
		obs_source_t *main2 = fe.addScene("Main 2");
		m->setSceneLink(x.a, uuidOf(main2));
		const int saves = fe.saveCount();

		QStringList texts;
		QString initial;
		x.answers.onDialog = [&](QDialog *dialog) {
			auto *link = qobject_cast<SceneLinkDialog *>(dialog);
			if (!link)
				return int(QDialog::Rejected);
			auto *combo = link->findChild<QComboBox *>("stilwane_link_combo");
			texts = comboTexts(combo);
			initial = combo->currentData().toString();
			combo->setCurrentIndex(1);
			return clickOk(dialog);
		};
		x.dock->linkScene();
		QCOMPARE(x.answers.dialogCount, 1);
		QCOMPARE(texts, QStringList({"None", "The main scene with the same name", "Main 1", "Main 2"}));
		QCOMPARE(initial, uuidOf(main2));
		QCOMPARE(m->sceneLink(x.a), QString("same-name"));
		QVERIFY(fe.saveCount() > saves);

		// Cancelled: the link stays.
		x.answers.onDialog = [](QDialog *dialog) {
			dialog->findChild<QComboBox *>("stilwane_link_combo")->setCurrentIndex(0);
			return int(QDialog::Rejected);
		};
		x.dock->linkScene();
		QCOMPARE(m->sceneLink(x.a), QString("same-name"));

		// "None" removes the link.
		x.answers.onDialog = [](QDialog *dialog) {
			dialog->findChild<QComboBox *>("stilwane_link_combo")->setCurrentIndex(0);
			return clickOk(dialog);
		};
		x.dock->linkScene();
		QCOMPARE(m->sceneLink(x.a), QString());
		Q_UNUSED(main1);
	}

	void linkToAVanishedMainSceneOpensOnNone()
	{
		obs_source_t *main1 = fe.addScene("Main 1");
		fe.addScene("Main 2");
		m->setSceneLink(x.a, uuidOf(main1));
		fe.removeScene(main1);

		int initialIndex = -1;
		QStringList texts;
		x.answers.onDialog = [&](QDialog *dialog) {
			auto *combo = dialog->findChild<QComboBox *>("stilwane_link_combo");
			initialIndex = combo->currentIndex();
			texts = comboTexts(combo);
			return int(QDialog::Rejected);
		};
		x.dock->linkScene();
		QCOMPARE(initialIndex, 0);
		QCOMPARE(texts, QStringList({"None", "The main scene with the same name", "Main 2"}));
	}

	void linksAreStoredOnVerticalScenesOnly()
	{
		obs_source_t *main1 = fe.addScene("Main 1");
		m->setSceneLink(main1, "same-name");
		QCOMPARE(m->sceneLink(main1), QString());
		QCOMPARE(m->sceneLink(nullptr), QString());
		m->setSceneLink(x.b, uuidOf(main1));
		OBSDataAutoRelease priv = obs_source_get_private_settings(x.b);
		QCOMPARE(QString::fromUtf8(obs_data_get_string(priv, "stilwane_link")), uuidOf(main1));
	}

	void transitionDialogStoresTheOverride()
	{
		x.selectRowQuietly(1);
		QString initial;
		bool spinEnabledWithoutOverride = true;
		x.answers.onDialog = [&](QDialog *dialog) {
			auto *combo = dialog->findChild<QComboBox *>("stilwane_scene_transition_combo");
			auto *spin = dialog->findChild<QSpinBox *>("stilwane_scene_transition_duration");
			initial = combo->currentText();
			spinEnabledWithoutOverride = spin->isEnabled();
			combo->setCurrentIndex(combo->findData(QString(kFadeUuid)));
			if (!spin->isEnabled())
				return int(QDialog::Rejected);
			spin->setValue(750);
			return clickOk(dialog);
		};
		x.dock->editTransitionOverride();
		QCOMPARE(initial, QString("No scene transition (use the vertical transition)"));
		QVERIFY(!spinEnabledWithoutOverride);
		QCOMPARE(m->sceneTransitionOverride(x.b), QString(kFadeUuid));
		QCOMPARE(m->sceneTransitionDuration(x.b), 750);

		// Opened again, it shows what is stored; choosing "none" removes the override.
		QString shown;
		int shownMs = 0;
		x.answers.onDialog = [&](QDialog *dialog) {
			auto *combo = dialog->findChild<QComboBox *>("stilwane_scene_transition_combo");
			shown = combo->currentData().toString();
			shownMs = dialog->findChild<QSpinBox *>("stilwane_scene_transition_duration")->value();
			combo->setCurrentIndex(0);
			return clickOk(dialog);
		};
		x.selectRowQuietly(1);
		x.dock->editTransitionOverride();
		QCOMPARE(shown, QString(kFadeUuid));
		QCOMPARE(shownMs, 750);
		QCOMPARE(m->sceneTransitionOverride(x.b), QString());
	}

	void transitionDialogFollowsTheTransitionList()
	{
		m->setSceneTransitionOverride(x.a, kCutUuid, 0);
		QStringList before;
		QStringList after;
		QString chosenAfter;
		x.answers.onDialog = [&](QDialog *dialog) {
			auto *combo = dialog->findChild<QComboBox *>("stilwane_scene_transition_combo");
			before = comboTexts(combo);
			if (!m->addTransition("fade_transition", "Slow Fade"))
				return int(QDialog::Rejected);
			after = comboTexts(combo);
			chosenAfter = combo->currentData().toString();
			return int(QDialog::Rejected);
		};
		x.dock->editTransitionOverride();
		QCOMPARE(before.size(), 3);
		QCOMPARE(after, before + QStringList({"Slow Fade"}));
		QCOMPARE(chosenAfter, QString(kCutUuid));
	}

	void transitionDialogClosesWhenItsSceneGoes()
	{
		bool shown = false;
		bool closed = false;
		x.answers.onDialog = [&](QDialog *dialog) {
			dialog->open();
			shown = dialog->isVisible();
			// Another scene going leaves the dialog open.
			m->removeScene(x.c);
			if (!dialog->isVisible())
				return dialog->result();
			m->removeScene(x.a);
			closed = !dialog->isVisible();
			return dialog->result();
		};
		x.dock->editTransitionOverride();
		QVERIFY(shown);
		QVERIFY(closed);
		QCOMPARE(x.orderNames(), QStringList({"B"}));
	}

	void transitionDialogClosesWhenTheCanvasGoes()
	{
		int result = -1;
		x.answers.onDialog = [&](QDialog *dialog) {
			dialog->open();
			m->releaseCanvas();
			result = dialog->isVisible() ? -1 : dialog->result();
			return dialog->result();
		};
		x.dock->editTransitionOverride();
		QCOMPARE(result, int(QDialog::Rejected));
	}

	void generatedSceneBecomesTheProgramScene()
	{
		obs_source_t *main = fe.addScene("Camera");
		fe.setProgramScene(main);
		x.answers.onDialog = [](QDialog *dialog) {
			if (!qobject_cast<GenerateDialog *>(dialog))
				return int(QDialog::Rejected);
			return clickOk(dialog);
		};
		x.dock->generateScene();
		OBSSourceAutoRelease generated = m->findSceneByName("Camera");
		QVERIFY(generated);
		QCOMPARE(m->currentSceneUuid(), uuidOf(generated.Get()));
		QCOMPARE(m->sceneLink(generated), uuidOf(main));
		QVERIFY(ObsTestEnv::logContains("-> 'Camera' (source=vertical, trigger=scene-generated)"));
		QCOMPARE(x.rowTexts().last(), QString("● Camera"));

		// In studio mode the next one goes to the preview; cancelling makes nothing.
		m->setStudioMode(true);
		x.dock->generateScene();
		OBSSourceAutoRelease second = m->findSceneByName("Camera 2");
		QVERIFY(second);
		QCOMPARE(m->previewSceneUuid(), uuidOf(second.Get()));
		QCOMPARE(m->currentSceneUuid(), uuidOf(generated.Get()));
		x.answers.onDialog = nullptr;
		x.dock->generateScene();
		QCOMPARE(m->scenes().size(), 5);
	}
};

STILWANE_TEST_MAIN(TestSceneDialogs)
#include "test_scene_dialogs.moc"
