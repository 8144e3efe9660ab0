// SPDX-License-Identifier: GPL-2.0-or-later
// The transitions page of the main dock as a real widget under Xvfb over the real canvas manager and
// real libobs transitions: the choice following the model and the user, adding by type with the
// proposed unique name, renaming, removing with confirmation, the duration and the match setting, and
// the page without a canvas or with a canvas gone while a question was open.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "../canvas/CanvasFixture.hpp"
#include <ModalAnswers.hpp>

#include <docks/TransitionsDock.hpp>
#include <widgets/IconButton.hpp>

#include <TestMain.hpp>

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QSpinBox>
#include <QVBoxLayout>

#include <memory>

using namespace stilwane;
using namespace canvastest;
using namespace docktest;

class TestTransitionsDock : public QObject {
	Q_OBJECT

	Fixture f;
	CanvasManager *m = f.m;
	ModalAnswers answers;
	std::unique_ptr<QWidget> window;
	TransitionsDock *dock = nullptr;

	template<class T> T *part(const char *name) const
	{
		T *widget = dock->findChild<T *>(name);
		if (!widget)
			qWarning("no %s", name);
		return widget;
	}
	QComboBox *choice() const { return part<QComboBox>("stilwane_transition_choice"); }
	QSpinBox *duration() const { return part<QSpinBox>("stilwane_transition_duration"); }
	QCheckBox *matchBox() const { return part<QCheckBox>("stilwane_transition_match"); }
	QLabel *matchHint() const { return part<QLabel>("stilwane_transition_match_hint"); }
	IconButton *addButton() const { return part<IconButton>("stilwane_transition_add"); }
	IconButton *removeButton() const { return part<IconButton>("stilwane_transition_remove"); }
	IconButton *propertiesButton() const { return part<IconButton>("stilwane_transition_properties"); }

	QStringList entryTexts() const
	{
		QStringList texts;
		for (int i = 0; i < choice()->count(); i++)
			texts << choice()->itemText(i);
		return texts;
	}

	QString uuidNamed(const QString &name) const
	{
		for (const TransitionInfo &info : m->transitions())
			if (info.name == name)
				return info.uuid;
		return QString();
	}

	// The add button's type menu as it is when the user opens it.
	QMenu *openedTypeMenu() const
	{
		QMenu *menu = addButton()->menu();
		emit menu->aboutToShow();
		return menu;
	}

	// Picks the type's entry in the add button's menu, as a click on it would.
	bool chooseType(const char *typeId) const
	{
		for (QAction *action : openedTypeMenu()->actions()) {
			if (action->data().toString() == typeId) {
				action->trigger();
				return true;
			}
		}
		return false;
	}

	void openContextMenu() const
	{
		const QPoint pos = choice()->rect().center();
		QContextMenuEvent event(QContextMenuEvent::Mouse, pos, choice()->mapToGlobal(pos));
		QApplication::sendEvent(choice(), &event);
	}

	// Whether the selection and the buttons show the transition of that uuid as the current one.
	void checkCurrent(const QString &uuid, bool removable, bool configurable) const
	{
		QCOMPARE(choice()->currentData().toString(), uuid);
		QCOMPARE(removeButton()->isEnabled(), removable);
		QCOMPARE(propertiesButton()->isEnabled(), configurable);
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
		f.freshCanvas();
		window = std::make_unique<QWidget>();
		auto *layout = new QVBoxLayout(window.get());
		dock = new TransitionsDock(window.get());
		layout->addWidget(dock);
		window->resize(300, 260);
		window->show();
		QVERIFY(QTest::qWaitForWindowExposed(window.get()));
	}

	void cleanup()
	{
		window.reset();
		dock = nullptr;
		answers.clear();
		f.cleanup();
		// A collection object loaded here would otherwise stay with the manager until libobs counts leaks.
		m->dropLoadedObject();
	}

	void choiceFollowsTheModel()
	{
		// The built-ins, carrying their uuids, the fade selected: neither removable nor configurable.
		QCOMPARE(entryTexts(), QStringList({"Fade", "Cut"}));
		QCOMPARE(choice()->itemData(1).toString(), QString(kCutUuid));
		checkCurrent(kFadeUuid, false, false);
		QVERIFY(choice()->isEnabled() && addButton()->isEnabled());

		// Changes made elsewhere (a remote request, a hotkey) show here.
		QVERIFY(m->addTransition("swipe_transition", "Sweep"));
		QCOMPARE(entryTexts(), QStringList({"Fade", "Cut", "Sweep"}));
		checkCurrent(uuidNamed("Sweep"), true, true);
		m->selectTransition(kCutUuid);
		checkCurrent(kCutUuid, false, false);
		QVERIFY(m->renameTransition(uuidNamed("Sweep"), "Wipe Left"));
		QCOMPARE(entryTexts(), QStringList({"Fade", "Cut", "Wipe Left"}));
		checkCurrent(kCutUuid, false, false);

		// The user's choice, by keyboard on the focused box, goes to the model.
		choice()->setFocus();
		QTest::keyClick(choice(), Qt::Key_Down);
		QCOMPARE(m->selectedTransitionUuid(), uuidNamed("Wipe Left"));
		checkCurrent(uuidNamed("Wipe Left"), true, true);
		QTest::keyClick(choice(), Qt::Key_Home);
		QCOMPARE(m->selectedTransitionUuid(), QString(kFadeUuid));
	}

	void typeMenuListsEveryTransitionType()
	{
		QStringList ids;
		const char *id = nullptr;
		for (size_t i = 0; obs_enum_transition_types(i, &id); i++)
			ids << QString::fromUtf8(id);
		QVERIFY(ids.contains("swipe_transition"));
		QCOMPARE(addButton()->popupMode(), QToolButton::InstantPopup);
		// Filled afresh each time it opens, not once more each time.
		for (int round = 0; round < 2; round++) {
			QStringList shown, texts;
			for (QAction *action : openedTypeMenu()->actions()) {
				shown << action->data().toString();
				texts << action->text();
			}
			QCOMPARE(shown, ids);
			QCOMPARE(texts.at(ids.indexOf("swipe_transition")), QString("Swipe"));
		}
	}

	void addProposesUniqueNames()
	{
		// (answer, expected list after it); an empty optional cancels.
		struct Step {
			std::optional<QString> answer;
			QString proposed;
			QStringList after;
			bool warned;
		};
		const Step steps[] = {
			{QString("Swipe"), "Swipe", {"Fade", "Cut", "Swipe"}, false},
			// Trimmed, and the next proposal counts on.
			{QString("  Swipe 2 "), "Swipe 2", {"Fade", "Cut", "Swipe", "Swipe 2"}, false},
			{std::nullopt, "Swipe 3", {"Fade", "Cut", "Swipe", "Swipe 2"}, false},
			{QString("   "), "Swipe 3", {"Fade", "Cut", "Swipe", "Swipe 2"}, false},
			// A name already taken is refused with a warning.
			{QString("Cut"), "Swipe 3", {"Fade", "Cut", "Swipe", "Swipe 2"}, true},
		};
		for (const Step &step : steps) {
			answers.clear();
			answers.textAnswers.push_back(step.answer);
			QVERIFY(chooseType("swipe_transition"));
			QCOMPARE(answers.textQuestions.size(), 1);
			QCOMPARE(answers.textQuestions[0].title, QString("Add Transition"));
			QCOMPARE(answers.textQuestions[0].label, translate("Transitions.Name"));
			QCOMPARE(answers.textQuestions[0].initial, step.proposed);
			QCOMPARE(entryTexts(), step.after);
			QCOMPARE(answers.messages,
				 step.warned ? QStringList({translate("Transitions.EditFailed")}) : QStringList());
		}
		// The transition added last is the one selected, of the chosen type.
		checkCurrent(uuidNamed("Swipe 2"), true, true);
		for (const TransitionInfo &info : m->transitions())
			if (!info.builtIn)
				QCOMPARE(info.typeId, QString("swipe_transition"));
		// Another type starts from its own name.
		QCOMPARE(TransitionsDock::proposedName("fade_transition"), QString("Fade 2"));
		QCOMPARE(TransitionsDock::proposedName("slide_transition"), QString("Slide"));
	}

	void removeDisabledForBuiltInsAndConfirmedOtherwise()
	{
		// A built-in: no button, and asked directly, no question and no removal.
		QVERIFY(!removeButton()->isEnabled());
		dock->removeTransition(kCutUuid);
		QVERIFY(answers.confirmations.isEmpty());
		QCOMPARE(entryTexts(), QStringList({"Fade", "Cut"}));

		QVERIFY(m->addTransition("slide_transition", "Slide"));
		QVERIFY(removeButton()->isEnabled());
		// "No" keeps it.
		QTest::mouseClick(removeButton(), Qt::LeftButton);
		QCOMPARE(answers.confirmations,
			 QStringList({"Remove Transition|Remove the vertical transition 'Slide'?"}));
		QCOMPARE(entryTexts(), QStringList({"Fade", "Cut", "Slide"}));
		// "Yes" removes it, and the fade takes over.
		answers.confirmAnswer = true;
		QTest::mouseClick(removeButton(), Qt::LeftButton);
		QCOMPARE(answers.confirmations.size(), 2);
		QCOMPARE(entryTexts(), QStringList({"Fade", "Cut"}));
		checkCurrent(kFadeUuid, false, false);
	}

	void renameFromTheContextMenu()
	{
		struct Step {
			std::optional<QString> answer;
			QStringList after;
			bool warned;
		};
		const Step steps[] = {
			{QString(" Soft "), {"Soft", "Cut"}, false}, // trimmed; a built-in may be renamed
			{QString("Cut"), {"Soft", "Cut"}, true},     // another's name
			{QString(""), {"Soft", "Cut"}, false},
			{std::nullopt, {"Soft", "Cut"}, false},
		};
		QString initial = "Fade";
		for (const Step &step : steps) {
			answers.clear();
			answers.menuChoice = "Rename Transition";
			answers.textAnswers.push_back(step.answer);
			openContextMenu();
			QCOMPARE(answers.menuEntries, QStringList({"Rename Transition", "Transition Properties"}));
			QCOMPARE(answers.textQuestions.size(), 1);
			QCOMPARE(answers.textQuestions[0].title, QString("Rename Transition"));
			QCOMPARE(answers.textQuestions[0].initial, initial);
			QCOMPARE(entryTexts(), step.after);
			QCOMPARE(answers.messages.size(), step.warned ? 1 : 0);
			initial = step.after.first();
		}
		QCOMPARE(QString::fromUtf8(obs_source_get_name(OBSSourceAutoRelease(m->transitionByUuid(kFadeUuid)))),
			 QString("Soft"));

		// The properties entry is enabled only for a transition that has properties.
		const auto propertiesEnabled = [this] {
			bool enabled = false;
			setMenuHandler([&enabled](QMenu *menu) -> QAction * {
				enabled = menu->actions().value(1)->isEnabled();
				return nullptr;
			});
			openContextMenu();
			answers.install();
			return enabled;
		};
		QVERIFY(!propertiesEnabled());
		QVERIFY(m->addTransition("swipe_transition", "Swipe"));
		QVERIFY(propertiesEnabled());
	}

	void durationRoundTrip()
	{
		// The model's value shows.
		m->setTransitionDuration(1200);
		QCOMPARE(duration()->value(), 1200);
		QVERIFY(duration()->isEnabled());

		// Typed digits count only once the editing ends; the arrows count at once.
		duration()->setFocus();
		duration()->selectAll();
		QTest::keyClicks(duration(), "750");
		QCOMPARE(m->transitionDuration(), 1200);
		QTest::keyClick(duration(), Qt::Key_Enter);
		QCOMPARE(m->transitionDuration(), 750);
		QTest::keyClick(duration(), Qt::Key_Up);
		QCOMPARE(m->transitionDuration(), 800);
		QCOMPARE(duration()->value(), 800);
		// The box's range is the model's.
		duration()->setValue(duration()->maximum());
		QCOMPARE(m->transitionDuration(), kMaxTransitionMs);

		// A transition that runs for a length of its own takes no duration.
		QVERIFY(m->addTransition("obs_stinger_transition", "Stinger"));
		const QString stinger = uuidNamed("Stinger");
		QCOMPARE(choice()->currentData().toString(), stinger);
		QVERIFY(m->isTransitionFixed(stinger));
		QVERIFY(!duration()->isEnabled());
		// The cut switches at once, whatever the length.
		m->selectTransition(kCutUuid);
		QVERIFY(m->isTransitionFixed(kCutUuid));
		QVERIFY(!duration()->isEnabled());
		m->selectTransition(kFadeUuid);
		QVERIFY(duration()->isEnabled());
	}

	void matchMainRoundTrip()
	{
		QVERIFY(config().matchMainTransition);
		QVERIFY(matchBox()->isChecked());
		QVERIFY(matchHint()->isVisible());

		// The box follows the setting changed elsewhere (the settings dialog goes the same way).
		m->setMatchMainTransition(false);
		QVERIFY(!matchBox()->isChecked());
		QVERIFY(!matchHint()->isVisible());

		// A click changes and stores the setting, and shows the hint again.
		QTest::mouseClick(matchBox(), Qt::LeftButton, {}, QPoint(8, matchBox()->height() / 2));
		QVERIFY(config().matchMainTransition);
		QVERIFY(matchHint()->isVisible());
		QFile stored(f.dir.filePath("config.json"));
		QVERIFY(stored.open(QIODevice::ReadOnly));
		const QJsonObject saved = QJsonDocument::fromJson(stored.readAll()).object();
		QCOMPARE(saved.value("match_main_transition"), QJsonValue(true));
	}

	void withoutCanvasNothingHappens()
	{
		m->releaseCanvas();
		QCOMPARE(choice()->count(), 0);
		for (QWidget *widget : std::initializer_list<QWidget *>{choice(), addButton(), removeButton(),
									propertiesButton(), duration()})
			QVERIFY2(!widget->isEnabled(), qPrintable(widget->objectName()));
		dock->addTransition("swipe_transition");
		dock->renameTransition(kFadeUuid);
		dock->removeTransition(kFadeUuid);
		QVERIFY(answers.textQuestions.isEmpty());
		QVERIFY(answers.confirmations.isEmpty());

		f.freshCanvas();
		QCOMPARE(entryTexts(), QStringList({"Fade", "Cut"}));
		QVERIFY(addButton()->isEnabled());
	}

	// A collection switch while a question is open: the answer must not land on the next canvas, even
	// one that has a transition of the same uuid.
	void canvasReplacedDuringAQuestion()
	{
		QVERIFY(m->addTransition("slide_transition", "Slide"));
		const QString slide = uuidNamed("Slide");
		OBSDataAutoRelease saved = obs_data_create();
		m->saveToCollection(saved);
		const auto switchCollection = [this, &saved] {
			m->releaseCanvas();
			// OBS drops the old collection's canvas: the next one is another canvas.
			f.fe.switchCollection(nullptr, false);
			m->loadFromCollection(saved);
			m->setStudioMode(false);
		};
		const QString before = uuidOf(m->canvas());

		setTextInputHandler([&](const QString &, const QString &, const QString &, bool *ok) {
			switchCollection();
			*ok = true;
			return QString("Late");
		});
		dock->addTransition("swipe_transition");
		QVERIFY(uuidOf(m->canvas()) != before);
		QCOMPARE(entryTexts(), QStringList({"Fade", "Cut", "Slide"}));
		QCOMPARE(uuidNamed("Slide"), slide);

		setConfirmHandler([&](const QString &, const QString &) {
			switchCollection();
			return true;
		});
		dock->removeTransition(slide);
		QCOMPARE(entryTexts(), QStringList({"Fade", "Cut", "Slide"}));

		setTextInputHandler([&](const QString &, const QString &, const QString &, bool *ok) {
			switchCollection();
			*ok = true;
			return QString("Renamed");
		});
		dock->renameTransition(slide);
		QCOMPARE(entryTexts(), QStringList({"Fade", "Cut", "Slide"}));
		answers.install();
		QVERIFY(answers.messages.isEmpty());
	}
};

STILWANE_TEST_MAIN(TestTransitionsDock)
#include "test_transitions_dock.moc"
