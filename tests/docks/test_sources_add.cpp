// SPDX-License-Identifier: GPL-2.0-or-later
// Adding to the edited vertical scene through the sources dock, on real libobs: new sources with
// unique names, the name dialog and its refusals, the fit of new sources (also once an image's size
// becomes known), and main scenes and existing sources picked from a list and fitted to the width.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "SourcesDockFixture.hpp"

#include <docks/DeferredSourceFit.hpp>

#include <QCollator>
#include <QComboBox>
#include <QImage>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>

using namespace stilwane;

using namespace docktest;

namespace {

QString displayName(const char *unversioned)
{
	return QString::fromUtf8(obs_source_get_display_name(obs_get_latest_input_type_id(unversioned)));
}

QString writeImage(const QTemporaryDir &dir, const char *name, int width, int height)
{
	QImage image(width, height, QImage::Format_ARGB32);
	image.fill(Qt::red);
	QString path = dir.filePath(name);
	return image.save(path) ? path : QString();
}

void setImageFile(obs_source_t *source, const QString &path)
{
	OBSDataAutoRelease settings = obs_data_create();
	obs_data_set_string(settings, "file", path.toUtf8().constData());
	obs_source_update(source, settings);
}

} // namespace

class TestSourcesAdd : public QObject {
	Q_OBJECT

	SourcesDockFixture fx;
	CanvasManager *m = fx.m;
	QTemporaryDir images;

	// The "Add New Source" submenu as it shows: refilled just before.
	QMenu *newSourceMenu(QMenu &menu)
	{
		fx.dock->buildAddMenu(&menu);
		emit menu.aboutToShow();
		QMenu *submenu = menu.actions().value(0)->menu();
		if (submenu)
			emit submenu->aboutToShow();
		return submenu;
	}

	bool chooseNewSource(const char *unversioned)
	{
		QMenu menu;
		QMenu *submenu = newSourceMenu(menu);
		for (QAction *action : submenu ? submenu->actions() : QList<QAction *>()) {
			if (action->data().toString() == unversioned) {
				action->trigger();
				return true;
			}
		}
		return false;
	}

	// Answers the name dialog with the given texts in turn (empty optional: cancel) and records the
	// texts that it offered and the error boxes shown between.
	QStringList offered;
	QStringList errors;
	void answerNames(std::deque<std::optional<QString>> names)
	{
		offered.clear();
		errors.clear();
		fx.answers.onDialog = [this, names](QDialog *dialog) mutable {
			if (auto *box = qobject_cast<QMessageBox *>(dialog)) {
				errors << box->windowTitle() + "|" + box->text();
				return int(QDialog::Accepted);
			}
			auto *input = qobject_cast<QInputDialog *>(dialog);
			if (!input || names.empty())
				return int(QDialog::Rejected);
			offered << input->textValue();
			std::optional<QString> answer = names.front();
			names.pop_front();
			if (!answer)
				return int(QDialog::Rejected);
			if (!answer->isNull())
				input->setTextValue(*answer);
			return int(QDialog::Accepted);
		};
	}

	obs_sceneitem_t *itemNamed(const QString &name)
	{
		for (int64_t id : sceneItemIds(fx.v)) {
			obs_sceneitem_t *item = findItem(fx.v, id);
			if (QString::fromUtf8(obs_source_get_name(obs_sceneitem_get_source(item))) == name)
				return item;
		}
		return nullptr;
	}

	DeferredSourceFit *pendingFit() const { return fx.dock->findChild<DeferredSourceFit *>(); }

	// Adds a new image source through the menu and the name dialog; its file is not chosen yet.
	obs_sceneitem_t *addImage(const QString &name)
	{
		answerNames({name});
		if (!chooseNewSource("image_source"))
			return nullptr;
		return itemNamed(name);
	}

private slots:
	void initTestCase() { fx.initTestCase(); }
	void cleanupTestCase() { fx.cleanupTestCase(); }
	void cleanup() { fx.cleanup(); }

	void newSourceMenuListsUsableTypesSorted()
	{
		QVERIFY(fx.init());
		QMenu menu;
		QMenu *submenu = newSourceMenu(menu);
		QVERIFY(submenu && submenu->isEnabled());

		QStringList expected;
		const char *id = nullptr, *unversioned = nullptr;
		for (size_t i = 0; obs_enum_input_types2(i, &id, &unversioned); i++) {
			if (!(obs_get_source_output_flags(id) & (OBS_SOURCE_DEPRECATED | OBS_SOURCE_CAP_DISABLED)))
				expected << QString::fromUtf8(unversioned);
		}
		QStringList shown, names;
		for (QAction *action : submenu->actions()) {
			shown << action->data().toString();
			names << action->text();
		}
		QCOMPARE(shown.size(), expected.size());
		for (const QString &type : expected)
			QVERIFY2(shown.contains(type), qPrintable(type));
		QVERIFY(shown.contains("color_source"));
		QVERIFY(shown.contains("image_source"));
		QCOMPARE(shown.count("color_source"), 1);
		QCOMPARE(names.value(shown.indexOf("color_source")), displayName("color_source"));
		QCollator collator;
		for (qsizetype i = 1; i < names.size(); i++)
			QVERIFY2(collator.compare(names[i - 1], names[i]) <= 0, qPrintable(names[i]));

		// Refilled on every show, not appended to.
		emit submenu->aboutToShow();
		QCOMPARE(submenu->actions().size(), expected.size());
	}

	void newSourceNamesAreUnique()
	{
		QVERIFY(fx.init());
		const QString base = displayName("color_source");
		// Taken by a source of the main canvas and by a vertical scene (which libobs's source names
		// do not cover).
		OBSSourceAutoRelease taken = colorSource(base.toUtf8().constData(), 10, 10);
		QVERIFY(m->addScene(base + " 2"));

		answerNames({QString()}); // accept the offered name
		QVERIFY(chooseNewSource("color_source"));
		QCOMPARE(offered, QStringList({base + " 3"}));
		obs_sceneitem_t *item = itemNamed(base + " 3");
		QVERIFY(item);
		QCOMPARE(QString::fromUtf8(obs_source_get_id(obs_sceneitem_get_source(item))),
			 QString::fromUtf8(obs_get_latest_input_type_id("color_source")));
		// A colour fills the canvas; it is not wider, so it stays where it is and needs no later fit.
		QCOMPARE(obs_source_get_width(obs_sceneitem_get_source(item)), m->canvasWidth());
		QCOMPARE(obs_source_get_height(obs_sceneitem_get_source(item)), m->canvasHeight());
		Placement p = placementOf(item);
		QVERIFY(nearScale(p.scaleX, 1.0f) && nearPos(p.x, 0) && nearPos(p.y, 0));
		QVERIFY(!pendingFit());
		// Selected, listed at once and logged.
		QCOMPARE(m->selectedItemId(), obs_sceneitem_get_id(item));
		QCOMPARE(fx.rowIds(), fx.sceneIdsTopFirst());
		QCOMPARE(fx.list()->currentRow(), 0);
		QVERIFY(ObsTestEnv::logContains(QString("[stilwane] new vertical source '%1 3' (%2) -> 'V'")
							.arg(base, obs_get_latest_input_type_id("color_source"))));

		// The next offer skips the new one too.
		answerNames({std::nullopt});
		QVERIFY(chooseNewSource("color_source"));
		QCOMPARE(offered, QStringList({base + " 4"}));
		QCOMPARE(sceneItemIds(fx.v).size(), size_t(1));
	}

	void nameDialogRefusals()
	{
		QVERIFY(fx.init());
		OBSSourceAutoRelease taken = colorSource("Taken", 10, 10);
		QVERIFY(m->addScene("Vertical Taken"));

		// A taken name brings the dialog back with the typed text; the second answer is used, trimmed.
		answerNames({"Taken", QString(), "Vertical Taken", "  Fresh  "});
		QVERIFY(chooseNewSource("color_source"));
		QCOMPARE(offered, QStringList({displayName("color_source"), "Taken", "Taken", "Vertical Taken"}));
		const QString exists = translate("Error.Title") + "|" + translate("Sources.NameExists");
		QCOMPARE(errors, QStringList({exists, exists, exists}));
		QVERIFY(itemNamed("Fresh"));
		QCOMPARE(sceneItemIds(fx.v).size(), size_t(1));

		// Blank names and cancelling create nothing.
		answerNames({"   "});
		QVERIFY(chooseNewSource("color_source"));
		answerNames({std::nullopt});
		QVERIFY(chooseNewSource("color_source"));
		QCOMPARE(sceneItemIds(fx.v).size(), size_t(1));
		QVERIFY(errors.isEmpty());
	}

	void sceneChangeRejectsTheNameDialog()
	{
		QVERIFY(fx.init());
		obs_source_t *other = canvastest::sourceOf(m->addScene("Other"));
		int result = -1;
		fx.answers.onDialog = [&](QDialog *dialog) {
			// The user still sees the dialog when the edited scene changes.
			m->setStudioMode(true);
			m->setPreviewScene(other, "test");
			result = dialog->result();
			return int(QDialog::Accepted);
		};
		QVERIFY(chooseNewSource("color_source"));
		QCOMPARE(result, int(QDialog::Rejected));
		QVERIFY(sceneItemIds(fx.v).empty());
		QVERIFY(sceneItemIds(other).empty());

		// So does the canvas going away.
		m->setStudioMode(false);
		result = -1;
		fx.answers.onDialog = [&](QDialog *dialog) {
			m->releaseCanvas();
			result = dialog->result();
			return int(QDialog::Accepted);
		};
		QVERIFY(chooseNewSource("color_source"));
		QCOMPARE(result, int(QDialog::Rejected));
		QCOMPARE(fx.answers.dialogCount, 2);
	}

	void newImageFittedOnceItsSizeIsKnown()
	{
		QVERIFY(fx.init());
		const QString narrowFile = writeImage(images, "narrow.png", 640, 360);
		const QString wideFile = writeImage(images, "wide.png", 1920, 1080);
		QVERIFY(!narrowFile.isEmpty() && !wideFile.isEmpty());

		// Without a file the image has no size yet: it waits for one.
		obs_sceneitem_t *wide = addImage("wide image");
		QVERIFY(wide);
		QCOMPARE(obs_source_get_width(obs_sceneitem_get_source(wide)), 0u);
		QVERIFY(pendingFit());
		QCOMPARE(pendingFit()->itemId(), obs_sceneitem_get_id(wide));
		ObsTestEnv::pump(250);
		Placement p = placementOf(wide);
		QVERIFY(nearScale(p.scaleX, 1.0f) && nearPos(p.y, 0));

		// The size arrives (the file chosen in the properties window): wider than the canvas, so it
		// fills the width, centred vertically, and the fit is done.
		setImageFile(obs_sceneitem_get_source(wide), wideFile);
		QVERIFY(ObsTestEnv::waitUntil([&] { return !pendingFit(); }));
		p = placementOf(wide);
		QVERIFY(nearScale(p.scaleX, 0.5625f) && nearScale(p.scaleY, 0.5625f));
		QVERIFY(nearPos(p.x, 0) && nearPos(p.y, 656.25f));

		// A narrow image keeps its transform.
		obs_sceneitem_t *narrow = addImage("narrow image");
		QVERIFY(pendingFit());
		setImageFile(obs_sceneitem_get_source(narrow), narrowFile);
		QVERIFY(ObsTestEnv::waitUntil([&] { return !pendingFit(); }));
		p = placementOf(narrow);
		QVERIFY(nearScale(p.scaleX, 1.0f) && nearPos(p.x, 0) && nearPos(p.y, 0));
	}

	void deferredFitGivesWayToTheUser()
	{
		QVERIFY(fx.init());
		const QString wideFile = writeImage(images, "wide2.png", 1920, 1080);

		// Moved before its size is known: never fitted.
		obs_sceneitem_t *moved = addImage("moved image");
		QPointer<DeferredSourceFit> fit = pendingFit();
		QVERIFY(fit);
		vec2 pos = {};
		vec2_set(&pos, 40.0f, 80.0f);
		obs_sceneitem_set_pos(moved, &pos);
		QVERIFY(ObsTestEnv::waitUntil([&] { return fit.isNull(); }));
		setImageFile(obs_sceneitem_get_source(moved), wideFile);
		ObsTestEnv::pump(300);
		Placement p = placementOf(moved);
		QVERIFY(nearScale(p.scaleX, 1.0f) && nearPos(p.x, 40.0f) && nearPos(p.y, 80.0f));

		// Cropped: also a touch.
		obs_sceneitem_t *cropped = addImage("cropped image");
		fit = pendingFit();
		QVERIFY(fit);
		obs_sceneitem_crop crop = {0, 0, 10, 0};
		obs_sceneitem_set_crop(cropped, &crop);
		QVERIFY(ObsTestEnv::waitUntil([&] { return fit.isNull(); }));

		// Locked: left alone.
		obs_sceneitem_t *locked = addImage("locked image");
		fit = pendingFit();
		QVERIFY(fit);
		obs_sceneitem_set_locked(locked, true);
		setImageFile(obs_sceneitem_get_source(locked), wideFile);
		QVERIFY(ObsTestEnv::waitUntil([&] { return fit.isNull(); }));
		QVERIFY(nearScale(placementOf(locked).scaleX, 1.0f));

		// Removed, and the canvas replaced: the fit ends.
		obs_sceneitem_t *removed = addImage("removed image");
		fit = pendingFit();
		QVERIFY(fit && !fit->isCancelled());
		obs_sceneitem_remove(removed);
		QVERIFY(fit->isCancelled());
		QVERIFY(ObsTestEnv::waitUntil([&] { return fit.isNull(); }));

		addImage("image on an old canvas");
		fit = pendingFit();
		QVERIFY(fit);
		emit m->canvasChanged();
		QVERIFY(ObsTestEnv::waitUntil([&] { return fit.isNull(); }));
	}

	void pickedMainSceneFittedToWidth()
	{
		QVERIFY(fx.init());
		obs_source_t *main = fx.fe.addScene("Main");
		fx.fe.addScene("Second");
		OBSSourceAutoRelease content = colorSource("main content", 1920, 1080);
		obs_scene_add(obs_scene_from_source(main), content);

		QStringList listed;
		QString title;
		fx.answers.onDialog = [&](QDialog *dialog) {
			title = dialog->windowTitle();
			auto *combo = dialog->findChild<QComboBox *>();
			if (!combo)
				return int(QDialog::Rejected);
			for (int i = 0; i < combo->count(); i++)
				listed << combo->itemText(i);
			combo->setCurrentIndex(combo->findText("Main"));
			return int(QDialog::Accepted);
		};
		fx.dock->addMainScene();
		QCOMPARE(title, translate("Sources.PickScene"));
		QCOMPARE(listed, QStringList({"Main", "Second"}));
		QCOMPARE(sceneItemIds(fx.v).size(), size_t(1));
		obs_sceneitem_t *item = findItem(fx.v, sceneItemIds(fx.v).front());
		QCOMPARE(obs_sceneitem_get_source(item), main);
		Placement p = placementOf(item);
		QVERIFY(nearScale(p.scaleX, 0.5625f) && nearPos(p.x, 0) && nearPos(p.y, 656.25f));
		// Not selected by the dock; the list follows the scene's own signal.
		QCOMPARE(m->selectedItemId(), int64_t(-1));
		QVERIFY(fx.rowsFollowScene());

		// Cancelled: nothing added.
		fx.answers.onDialog = nullptr;
		fx.dock->addMainScene();
		QCOMPARE(sceneItemIds(fx.v).size(), size_t(1));
	}

	void pickedExistingSourceFittedToWidth()
	{
		QVERIFY(fx.init());
		// Narrower than the canvas, still fitted: a picked source is meant to fill the width.
		OBSSourceAutoRelease narrow = colorSource("narrow existing", 640, 360);
		fx.fe.addScene("Main");

		QStringList listed;
		fx.answers.onDialog = [&](QDialog *dialog) {
			auto *combo = dialog->findChild<QComboBox *>();
			if (!combo)
				return int(QDialog::Rejected);
			for (int i = 0; i < combo->count(); i++)
				listed << combo->itemText(i);
			combo->setCurrentIndex(combo->findText("narrow existing"));
			return int(QDialog::Accepted);
		};
		fx.dock->addExisting();
		QVERIFY(listed.contains("narrow existing"));
		obs_sceneitem_t *item = itemNamed("narrow existing");
		QVERIFY(item);
		Placement p = placementOf(item);
		QVERIFY(nearScale(p.scaleX, 1080.0f / 640.0f) && nearPos(p.x, 0) && nearPos(p.y, 656.25f));
	}
};

STILWANE_TEST_MAIN(TestSourcesAdd)
#include "test_sources_add.moc"
