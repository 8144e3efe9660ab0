// SPDX-License-Identifier: GPL-2.0-or-later
// The generate dialog as a real widget under Xvfb, over the real canvas manager and the test front
// end's main scenes: what it preselects, how the proposed name follows the main scene until the user
// types one, which rows each template shows, what it accepts, and the scene it generates.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "../canvas/CanvasFixture.hpp"
#include <ModalAnswers.hpp>

#include <dialogs/GenerateDialog.hpp>

#include <TestMain.hpp>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <memory>

using namespace stilwane;

using namespace canvastest;
using namespace docktest;

namespace {

const QString kNameExists = "A vertical scene with this name already exists. Please choose another name.";

QStringList comboTexts(const QComboBox *combo)
{
	QStringList texts;
	for (int i = 0; i < combo->count(); i++)
		texts << combo->itemText(i);
	return texts;
}

int itemCount(obs_source_t *scene)
{
	int count = 0;
	obs_scene_enum_items(
		obs_scene_from_source(scene),
		[](obs_scene_t *, obs_sceneitem_t *, void *param) {
			++*static_cast<int *>(param);
			return true;
		},
		&count);
	return count;
}

} // namespace

class TestGenerateDialog : public QObject {
	Q_OBJECT

	Fixture f;
	CanvasManager *m = f.m;
	TestFrontend &fe = f.fe;
	ModalAnswers answers;
	std::unique_ptr<GenerateDialog> dialog;
	obs_source_t *main1 = nullptr;
	obs_source_t *main2 = nullptr;

	void open()
	{
		dialog = std::make_unique<GenerateDialog>();
		dialog->show();
		QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
	}

	template<class T> T *part(const char *name) const
	{
		T *widget = dialog->findChild<T *>(name);
		if (!widget)
			qWarning("no %s", name);
		return widget;
	}

	QComboBox *sourceCombo() const { return part<QComboBox>("stilwane_generate_source"); }
	QComboBox *templateCombo() const { return part<QComboBox>("stilwane_generate_template"); }
	QComboBox *middleCombo() const { return part<QComboBox>("stilwane_generate_middle"); }
	QComboBox *bottomCombo() const { return part<QComboBox>("stilwane_generate_bottom"); }
	QLineEdit *nameEdit() const { return part<QLineEdit>("stilwane_generate_name"); }

	// A row counts as shown when its label and its field are.
	bool rowShown(QWidget *field) const
	{
		auto *form = qobject_cast<QFormLayout *>(dialog->layout());
		QWidget *label = form ? form->labelForField(field) : nullptr;
		return label && label->isVisibleTo(dialog.get()) && field->isVisibleTo(dialog.get());
	}

	void pressOk() const
	{
		auto *buttons = part<QDialogButtonBox>("stilwane_generate_buttons");
		QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
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

	// Two main scenes, the second on program; a vertical canvas without scenes.
	void init()
	{
		f.init();
		answers.clear();
		f.freshCanvas();
		main1 = fe.addScene("Main 1");
		main2 = fe.addScene("Main 2");
		fe.setProgramScene(main2);
	}

	void cleanup()
	{
		dialog.reset();
		f.cleanup();
	}

	void preselectsTheProgramSceneAndItsFreeName()
	{
		open();
		QCOMPARE(dialog->windowTitle(), QString("Generate Vertical Scene"));
		QCOMPARE(comboTexts(sourceCombo()), QStringList({"Main 1", "Main 2"}));
		QCOMPARE(sourceCombo()->currentText(), QString("Main 2"));
		QCOMPARE(sourceCombo()->currentData().toString(), uuidOf(main2));
		QCOMPARE(nameEdit()->text(), QString("Main 2"));
		QCOMPARE(templateCombo()->currentIndex(), 0);
		QVERIFY(part<QCheckBox>("stilwane_generate_link")->isChecked());

		// The name a vertical scene already has is counted on.
		m->addScene("Main 2");
		m->addScene("Main 2 2");
		open();
		QCOMPARE(nameEdit()->text(), QString("Main 2 3"));

		// Without a program scene the first main scene is chosen.
		fe.removeScene(main2);
		open();
		QCOMPARE(sourceCombo()->currentText(), QString("Main 1"));
		QCOMPARE(nameEdit()->text(), QString("Main 1"));
	}

	void typedNameSurvivesAnotherMainScene()
	{
		open();
		sourceCombo()->setCurrentIndex(0);
		QCOMPARE(nameEdit()->text(), QString("Main 1"));

		nameEdit()->clear();
		QTest::keyClicks(nameEdit(), "Mine");
		sourceCombo()->setCurrentIndex(1);
		QCOMPARE(nameEdit()->text(), QString("Mine"));
		sourceCombo()->setCurrentIndex(0);
		QCOMPARE(nameEdit()->text(), QString("Mine"));
	}

	void rowsPerTemplate_data()
	{
		QTest::addColumn<int>("index");
		QTest::addColumn<bool>("middle");
		QTest::addColumn<bool>("bottom");
		QTest::newRow("center crop") << 0 << false << false;
		QTest::newRow("fit width") << 1 << false << false;
		QTest::newRow("stacked") << 2 << false << true;
		QTest::newRow("thirds") << 3 << true << true;
	}

	void rowsPerTemplate()
	{
		QFETCH(int, index);
		QFETCH(bool, middle);
		QFETCH(bool, bottom);
		open();
		// From Thirds, where both rows show, so that every row is hidden by the change itself.
		templateCombo()->setCurrentIndex(3);
		templateCombo()->setCurrentIndex(index);
		QCOMPARE(templateCombo()->currentData().toInt(), index);
		QCOMPARE(rowShown(middleCombo()), middle);
		QCOMPARE(rowShown(bottomCombo()), bottom);
	}

	void extraSourcesListVideoSourcesThenScenes()
	{
		OBSSourceAutoRelease color = obs_source_create("color_source_v3", "Backdrop", nullptr, nullptr);
		OBSSourceAutoRelease audio = obs_source_create("pulse_input_capture", "Mic", nullptr, nullptr);
		open();
		const QStringList texts = comboTexts(middleCombo());
		QVERIFY(texts.contains("Backdrop"));
		QVERIFY(!texts.contains("Mic"));
		QVERIFY(!texts.contains("Main 1"));
		QCOMPARE(texts.mid(texts.size() - 2), QStringList({"[Scene] Main 1", "[Scene] Main 2"}));
		QVERIFY(texts.indexOf("Backdrop") < texts.indexOf("[Scene] Main 1"));
		QCOMPARE(comboTexts(bottomCombo()), texts);
		QCOMPARE(middleCombo()->currentIndex(), 0);
		QCOMPARE(bottomCombo()->currentIndex(), 1);
		obs_source_remove(color);
		obs_source_remove(audio);
	}

	void blankNamesAreNotAccepted()
	{
		open();
		nameEdit()->setText("   ");
		pressOk();
		QVERIFY(dialog->isVisible());
		QCOMPARE(dialog->result(), int(QDialog::Rejected));
		QVERIFY(answers.messages.isEmpty());
		QVERIFY(!dialog->generate());
		QVERIFY(m->scenes().isEmpty());
	}

	void takenNamesAreNotAccepted()
	{
		m->addScene("Taken");
		open();
		nameEdit()->setText(" Taken ");
		pressOk();
		QVERIFY(dialog->isVisible());
		QCOMPARE(answers.messages, QStringList({kNameExists}));
		QCOMPARE(nameEdit()->selectedText(), QString(" Taken "));

		nameEdit()->setText("Free");
		pressOk();
		QVERIFY(!dialog->isVisible());
		QCOMPARE(dialog->result(), int(QDialog::Accepted));
	}

	void withoutMainScenesNothingIsAccepted()
	{
		fe.removeScene(main1);
		fe.removeScene(main2);
		open();
		QCOMPARE(sourceCombo()->count(), 0);
		QVERIFY(nameEdit()->text().isEmpty());
		nameEdit()->setText("Lonely");
		pressOk();
		QVERIFY(dialog->isVisible());
		QCOMPARE(answers.messages,
			 QStringList({"There is no main scene to generate from. Choose a main scene, or create one in "
				      "OBS first."}));
	}

	void generatesTheChosenLayout()
	{
		OBSSourceAutoRelease color = obs_source_create("color_source_v3", "Backdrop", nullptr, nullptr);
		open();
		templateCombo()->setCurrentIndex(2);
		bottomCombo()->setCurrentIndex(bottomCombo()->findText("Backdrop"));
		nameEdit()->setText("  Stack  ");
		pressOk();
		QCOMPARE(dialog->result(), int(QDialog::Accepted));
		OBSSourceAutoRelease scene = dialog->generate();
		QVERIFY(scene);
		QCOMPARE(QString::fromUtf8(obs_source_get_name(scene)), QString("Stack"));
		// Background, main scene and the bottom source.
		QCOMPARE(itemCount(scene), 3);
		QCOMPARE(m->sceneLink(scene), uuidOf(main2));

		// Not linked when unticked; the same dialog refuses the name it just made.
		open();
		part<QCheckBox>("stilwane_generate_link")->setChecked(false);
		nameEdit()->setText("Plain");
		OBSSourceAutoRelease plain = dialog->generate();
		QVERIFY(plain);
		QCOMPARE(m->sceneLink(plain), QString());
		QCOMPARE(itemCount(plain), 1);
		QVERIFY(!dialog->generate());
		QCOMPARE(answers.messages, QStringList({kNameExists}));
		obs_source_remove(color);
	}

	void vanishedMainSceneIsReported()
	{
		open();
		fe.removeScene(main2);
		QVERIFY(!dialog->generate());
		QCOMPARE(answers.messages.size(), 1);
		QVERIFY(answers.messages[0].startsWith("There is no main scene"));
		QVERIFY(m->scenes().isEmpty());
	}
};

STILWANE_TEST_MAIN(TestGenerateDialog)
#include "test_generate_dialog.moc"
