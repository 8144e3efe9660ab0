// SPDX-License-Identifier: GPL-2.0-or-later
// The rows of the sources list as real widgets under Xvfb: the type icon taken from the main window's
// icon properties (and redrawn on a theme change), the eliding name, and reordering by a real drag and
// drop in the list, which moves the scene item only for drops between rows.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "SourcesDockFixture.hpp"

#include <widgets/SourceName.hpp>
#include <widgets/SourceToggle.hpp>

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QSignalSpy>

#include <functional>

using namespace stilwane;

using namespace docktest;

namespace {

QIcon solidIcon(const QColor &color)
{
	QPixmap pixmap(16, 16);
	pixmap.fill(color);
	return QIcon(pixmap);
}

QColor iconColor(SourceRow *row)
{
	QPixmap pixmap = row->iconLabel()->pixmap();
	return pixmap.isNull() ? QColor() : pixmap.toImage().pixelColor(8, 8);
}

struct obs_source_info customIconType()
{
	struct obs_source_info info = {};
	info.id = "stilwane_test_custom_icon";
	info.type = OBS_SOURCE_TYPE_INPUT;
	info.output_flags = OBS_SOURCE_VIDEO;
	info.get_name = [](void *) {
		return "Custom icon test source";
	};
	info.create = [](obs_data_t *, obs_source_t *) -> void * {
		return new int(0);
	};
	info.destroy = [](void *data) {
		delete static_cast<int *>(data);
	};
	info.icon_type = OBS_ICON_TYPE_CUSTOM;
	return info;
}

} // namespace

class TestSourceRows : public QObject {
	Q_OBJECT

	SourcesDockFixture fx;

	void setIcons()
	{
		QMainWindow *window = fx.fe.mainWindow();
		window->setProperty("imageIcon", solidIcon(Qt::red));
		window->setProperty("colorIcon", solidIcon(Qt::green));
		window->setProperty("sceneIcon", solidIcon(Qt::blue));
		window->setProperty("groupIcon", solidIcon(Qt::yellow));
		window->setProperty("defaultIcon", solidIcon(Qt::gray));
	}

	SourceRow *rowNamed(const QString &name) const
	{
		for (int i = 0; i < fx.list()->count(); i++) {
			SourceRow *row = fx.dock->rowWidget(i);
			if (row && row->nameLabel()->text() == name)
				return row;
		}
		return nullptr;
	}

	// Presses on one row, drags to a point of the list and releases there, as a user's mouse would.
	// The drag runs Qt's own nested loop; timers move and release the mouse inside it, and Escape
	// ends it should the drop not arrive.
	void dragRow(int fromRow, const QPoint &to)
	{
		QWidget *viewport = fx.list()->viewport();
		const QPoint from = fx.list()->visualItemRect(fx.list()->item(fromRow)).center();
		const QPoint away = from + QPoint(0, to.y() < from.y() ? -20 : 20);
		QPointer<QWidget> guard(viewport);
		QTimer::singleShot(100, viewport, [viewport, to] {
			QTest::mouseMove(viewport, to - QPoint(0, 2));
			QTimer::singleShot(50, viewport, [viewport, to] {
				QTest::mouseMove(viewport, to);
				QTimer::singleShot(50, viewport, [viewport, to] {
					QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
				});
			});
		});
		QTimer::singleShot(3000, viewport, [] {
			if (QWidget *focus = QApplication::focusWidget())
				QTest::keyClick(focus, Qt::Key_Escape);
		});
		QTest::mousePress(viewport, Qt::LeftButton, {}, from);
		QTest::mouseMove(viewport, away);
		QTest::mouseMove(viewport, away + (away - from));
		if (guard)
			QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
	}

private slots:
	void initTestCase()
	{
		fx.initTestCase();
		struct obs_source_info info = customIconType();
		obs_register_source(&info);
	}
	void cleanupTestCase() { fx.cleanupTestCase(); }
	void cleanup() { fx.cleanup(); }

	void typeIconsFromTheMainWindow()
	{
		QVERIFY(fx.init());
		setIcons();
		fx.addColor("colour");
		{
			OBSSourceAutoRelease image = obs_source_create("image_source", "picture", nullptr, nullptr);
			obs_scene_add(obs_scene_from_source(fx.v), image);
			OBSSourceAutoRelease text = obs_source_create("text_ft2_source_v2", "words", nullptr, nullptr);
			obs_scene_add(obs_scene_from_source(fx.v), text);
			OBSSourceAutoRelease custom =
				obs_source_create("stilwane_test_custom_icon", "custom", nullptr, nullptr);
			QVERIFY(custom);
			obs_scene_add(obs_scene_from_source(fx.v), custom);
			obs_source_t *nested = canvastest::sourceOf(fx.m->addScene("nested"));
			obs_scene_add(obs_scene_from_source(fx.v), nested);
			obs_scene_add_group2(obs_scene_from_source(fx.v), "group", true);
		}
		QVERIFY(fx.rowsFollowScene());

		const struct {
			const char *name;
			const char *kind;
			QColor color;
		} expected[] = {
			{"colour", "colorIcon", Qt::green},
			{"picture", "imageIcon", Qt::red},
			// The theme has no text icon here: the default one stands in.
			{"words", "textIcon", Qt::gray},
			{"custom", "defaultIcon", Qt::gray},
			{"nested", "sceneIcon", Qt::blue},
			{"group", "groupIcon", Qt::yellow},
		};
		for (const auto &e : expected) {
			SourceRow *row = rowNamed(e.name);
			QVERIFY2(row, e.name);
			QCOMPARE(QString(row->iconKind()), QString(e.kind));
			QCOMPARE(iconColor(row), e.color);
			QCOMPARE(row->iconLabel()->property("class").toString(), QString("source-icon"));
		}

		// A theme switch brings new icons; the rows redraw theirs.
		fx.fe.mainWindow()->setProperty("colorIcon", solidIcon(Qt::magenta));
		SourceRow *colour = rowNamed("colour");
		QCOMPARE(iconColor(colour), QColor(Qt::green));
		qApp->setStyleSheet("QLabel { margin: 0px; }");
		QCOMPARE(iconColor(colour), QColor(Qt::magenta));
		qApp->setStyleSheet(QString());
	}

	void rowParts()
	{
		QVERIFY(fx.init());
		const QString longName =
			QString("A rather long source name that cannot fit into a narrow dock ").repeated(2);
		fx.addColor(longName.toUtf8().constData());
		fx.addColor("short");
		QVERIFY(fx.rowsFollowScene());
		fx.window->resize(160, 300);
		SourceRow *longRow = rowNamed(longName);
		SourceRow *shortRow = rowNamed("short");
		QVERIFY(ObsTestEnv::waitUntil([&] { return longRow->nameLabel()->shownText() != longName; }));
		QVERIFY(longRow->nameLabel()->shownText().endsWith(QChar(0x2026)));
		QCOMPARE(longRow->nameLabel()->toolTip(), longName);
		QCOMPARE(longRow->nameLabel()->accessibleName(), longName);
		QCOMPARE(shortRow->nameLabel()->shownText(), QString("short"));
		// The row stays inside the list's width: the toggles remain visible at its right end.
		QVERIFY(longRow->lockToggle()->geometry().right() <= longRow->width());
		QVERIFY(longRow->lockToggle()->isVisible());

		SourceToggle *visibility = shortRow->visibilityToggle();
		QCOMPARE(visibility->property("class").toString(), QString("checkbox-icon indicator-visibility"));
		QCOMPARE(visibility->toolTip(), translate("Sources.Visible"));
		QCOMPARE(shortRow->lockToggle()->property("class").toString(), QString("checkbox-icon indicator-lock"));
		QCOMPARE(shortRow->lockToggle()->accessibleName(), translate("Sources.Lock"));
		QCOMPARE(visibility->focusPolicy(), Qt::NoFocus);
	}

	void dragBetweenRowsMovesTheItem()
	{
		QVERIFY(fx.init());
		obs_sceneitem_t *a = fx.addColor("a");
		obs_sceneitem_t *b = fx.addColor("b");
		obs_sceneitem_t *c = fx.addColor("c");
		QVERIFY(fx.rowsFollowScene());
		const int64_t idA = obs_sceneitem_get_id(a), idB = obs_sceneitem_get_id(b),
			      idC = obs_sceneitem_get_id(c);
		fx.m->selectItem(-1);

		// Counts the list's calls into the dock.
		int starts = 0, drops = 0, ends = 0;
		SourceList *list = fx.list();
		list->onDragStart = [&starts, start = list->onDragStart] {
			starts++;
			start();
		};
		list->onDropped = [&drops, drop = list->onDropped](int64_t id, int row) {
			drops++;
			drop(id, row);
		};
		list->onDragEnd = [&ends, end = list->onDragEnd] {
			ends++;
			end();
		};

		// Dropped just above the top row: the bottom item goes to the top.
		const QRect top = list->visualItemRect(list->item(0));
		dragRow(2, QPoint(top.center().x(), top.top() + 1));
		QCOMPARE(starts, 1);
		QCOMPARE(drops, 1);
		QCOMPARE(ends, 1);
		QCOMPARE(fx.sceneIdsTopFirst(), QList<int64_t>({idA, idC, idB}));
		QCOMPARE(fx.m->selectedItemId(), idA);
		QVERIFY(fx.rowsFollowScene());
		QCOMPARE(list->currentRow(), 0);

		// Rows take no drops, so Qt makes a drop onto a row's middle one beside it. Should a row
		// take drops, a drop onto it is refused: the scene stays, and the list shows it again.
		list->item(1)->setFlags(list->item(1)->flags() | Qt::ItemIsDropEnabled);
		const QRect middle = list->visualItemRect(list->item(1));
		dragRow(0, middle.center());
		QCOMPARE(starts, 2);
		QCOMPARE(drops, 1);
		QCOMPARE(ends, 2);
		QCOMPARE(fx.sceneIdsTopFirst(), QList<int64_t>({idA, idC, idB}));
		QVERIFY(fx.rowsFollowScene());
		QVERIFY(ObsTestEnv::waitUntil([list] { return !(list->item(1)->flags() & Qt::ItemIsDropEnabled); }));
		QCOMPARE(list->count(), 3);
	}
};

STILWANE_TEST_MAIN(TestSourceRows)
#include "test_source_rows.moc"
