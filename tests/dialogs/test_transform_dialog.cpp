// SPDX-License-Identifier: GPL-2.0-or-later
// The transform dialog on real scene items: what it shows, what each field writes, reset, its
// ranges, Enter, and its three ways in from the sources tab.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "../docks/SourcesDockFixture.hpp"

#include <canvas/CollectionSaver.hpp>
#include <dialogs/TransformDialog.hpp>
#include <widgets/IconButton.hpp>

#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include <functional>

using namespace stilwane;
using namespace docktest;

namespace {

struct ItemState {
	QPointF pos;
	QPointF scale;
	QList<int> crop; // left, top, right, bottom
	obs_bounds_type bounds = OBS_BOUNDS_NONE;
	uint32_t alignment = 0;
};

ItemState stateOf(obs_sceneitem_t *item)
{
	vec2 pos, scale;
	obs_sceneitem_crop crop = {};
	obs_sceneitem_get_pos(item, &pos);
	obs_sceneitem_get_scale(item, &scale);
	obs_sceneitem_get_crop(item, &crop);
	return {{pos.x, pos.y},
		{scale.x, scale.y},
		{crop.left, crop.top, crop.right, crop.bottom},
		obs_sceneitem_get_bounds_type(item),
		obs_sceneitem_get_alignment(item)};
}

// Off the canvas's defaults everywhere: non-uniform scale, bounds, centred, cropped.
void scramble(obs_sceneitem_t *item)
{
	vec2 pos, scale, bounds;
	vec2_set(&pos, 12.5f, 40.0f);
	vec2_set(&scale, 0.5f, 0.25f);
	vec2_set(&bounds, 300.0f, 200.0f);
	obs_sceneitem_crop crop = {1, 2, 3, 4};
	obs_sceneitem_set_pos(item, &pos);
	obs_sceneitem_set_scale(item, &scale);
	obs_sceneitem_set_crop(item, &crop);
	obs_sceneitem_set_bounds_type(item, OBS_BOUNDS_SCALE_INNER);
	obs_sceneitem_set_bounds(item, &bounds);
	obs_sceneitem_set_alignment(item, OBS_ALIGN_CENTER);
}

} // namespace

class TestTransformDialog : public QObject {
	Q_OBJECT

	SourcesDockFixture fx;
	obs_sceneitem_t *item = nullptr;

private slots:
	void initTestCase() { fx.initTestCase(); }
	void cleanupTestCase() { fx.cleanupTestCase(); }
	void init()
	{
		QVERIFY(fx.init());
		item = fx.addColor("item", 400, 200);
		QVERIFY(item);
		ObsTestEnv::pump(2 * CollectionSaver::kDelayMs);
	}
	void cleanup()
	{
		item = nullptr;
		fx.cleanup();
	}

	void showsTheItemAndChangesNothingUntilEdited()
	{
		scramble(item);
		const ItemState before = stateOf(item);
		TransformDialog dialog(item);
		QCOMPARE(dialog.windowTitle(), QStringLiteral("Edit Transform"));
		auto *form = dialog.findChild<QFormLayout *>();
		QVERIFY(form);
		QStringList labels;
		for (int row = 0; row < 7; row++)
			labels << qobject_cast<QLabel *>(form->itemAt(row, QFormLayout::LabelRole)->widget())->text();
		QCOMPARE(labels, (QStringList{"Position X", "Position Y", "Scale (%)", "Crop Left", "Crop Right",
					      "Crop Top", "Crop Bottom"}));
		QCOMPARE(dialog.resetButton()->text(), QStringLiteral("Reset"));
		QCOMPARE(dialog.closeButton()->text(), QStringLiteral("Close"));

		QCOMPARE(dialog.positionXField()->value(), 12.5);
		QCOMPARE(dialog.positionYField()->value(), 40.0);
		QCOMPARE(dialog.scaleField()->value(), 50.0); // the horizontal scale
		QCOMPARE(dialog.cropLeftField()->value(), 1);
		QCOMPARE(dialog.cropTopField()->value(), 2);
		QCOMPARE(dialog.cropRightField()->value(), 3);
		QCOMPARE(dialog.cropBottomField()->value(), 4);

		const ItemState after = stateOf(item);
		QCOMPARE(after.pos, before.pos);
		QCOMPARE(after.scale, before.scale);
		QCOMPARE(after.bounds, OBS_BOUNDS_SCALE_INNER);
		QCOMPARE(after.alignment, uint32_t(OBS_ALIGN_CENTER));
		QVERIFY(!CollectionSaver::instance()->pending());
	}

	void everyFieldWritesAtOnce_data()
	{
		QTest::addColumn<QString>("field");
		QTest::addColumn<double>("value");
		QTest::addColumn<QPointF>("pos");
		QTest::addColumn<double>("scale");
		QTest::addColumn<QList<int>>("crop");
		const QList<int> crop{1, 2, 3, 4};
		QTest::newRow("position x") << "stilwane_transform_pos_x" << 100.5 << QPointF(100.5, 40) << 0.5 << crop;
		QTest::newRow("position y") << "stilwane_transform_pos_y" << -30.0 << QPointF(12.5, -30) << 0.5 << crop;
		QTest::newRow("scale") << "stilwane_transform_scale" << 250.0 << QPointF(12.5, 40) << 2.5 << crop;
		QTest::newRow("scale floor 1 %")
			<< "stilwane_transform_scale" << 0.2 << QPointF(12.5, 40) << 0.01 << crop;
		QTest::newRow("scale ceiling 10000 %")
			<< "stilwane_transform_scale" << 20000.0 << QPointF(12.5, 40) << 100.0 << crop;
		QTest::newRow("position beyond the range")
			<< "stilwane_transform_pos_x" << 250000.0 << QPointF(100000, 40) << 0.5 << crop;
		QTest::newRow("crop left")
			<< "stilwane_transform_crop_left" << 7.0 << QPointF(12.5, 40) << 0.5 << QList<int>{7, 2, 3, 4};
		QTest::newRow("crop right")
			<< "stilwane_transform_crop_right" << 8.0 << QPointF(12.5, 40) << 0.5 << QList<int>{1, 2, 8, 4};
		QTest::newRow("crop top")
			<< "stilwane_transform_crop_top" << 9.0 << QPointF(12.5, 40) << 0.5 << QList<int>{1, 9, 3, 4};
		QTest::newRow("crop bottom") << "stilwane_transform_crop_bottom" << 10.0 << QPointF(12.5, 40) << 0.5
					     << QList<int>{1, 2, 3, 10};
		QTest::newRow("crop below 0") << "stilwane_transform_crop_bottom" << -5.0 << QPointF(12.5, 40) << 0.5
					      << QList<int>{1, 2, 3, 0};
	}

	void everyFieldWritesAtOnce()
	{
		QFETCH(QString, field);
		QFETCH(double, value);
		QFETCH(QPointF, pos);
		QFETCH(double, scale);
		QFETCH(QList<int>, crop);
		scramble(item);
		TransformDialog dialog(item);
		if (auto *number = dialog.findChild<QDoubleSpinBox *>(field))
			number->setValue(value);
		else
			dialog.findChild<QSpinBox *>(field)->setValue(int(value));

		// The first edit makes the scale uniform, drops the bounds and aligns to the top-left.
		const ItemState now = stateOf(item);
		QCOMPARE(now.pos, pos);
		QVERIFY2(std::fabs(now.scale.x() - scale) < 1e-5 && std::fabs(now.scale.y() - scale) < 1e-5,
			 qPrintable(QStringLiteral("%1 x %2").arg(now.scale.x()).arg(now.scale.y())));
		QCOMPARE(now.crop, crop);
		QCOMPARE(now.bounds, OBS_BOUNDS_NONE);
		QCOMPARE(now.alignment, uint32_t(OBS_ALIGN_TOP | OBS_ALIGN_LEFT));
		QVERIFY(CollectionSaver::instance()->pending());
	}

	void resetThenCloseRestoresTheDefaults()
	{
		scramble(item);
		TransformDialog dialog(item);
		dialog.show();
		QVERIFY(QTest::qWaitForWindowExposed(&dialog));
		const int saves = fx.fe.saveCount();
		dialog.resetButton()->click();
		QCOMPARE(dialog.positionXField()->value(), 0.0);
		QCOMPARE(dialog.scaleField()->value(), 100.0);
		QCOMPARE(dialog.cropBottomField()->value(), 0);
		dialog.closeButton()->click();
		QCOMPARE(dialog.result(), int(QDialog::Accepted));
		QVERIFY(!dialog.isVisible());

		const ItemState now = stateOf(item);
		QCOMPARE(now.pos, QPointF(0, 0));
		QCOMPARE(now.scale, QPointF(1, 1));
		QCOMPARE(now.crop, (QList<int>{0, 0, 0, 0}));
		QCOMPARE(now.bounds, OBS_BOUNDS_NONE);
		QCOMPARE(now.alignment, uint32_t(OBS_ALIGN_TOP | OBS_ALIGN_LEFT));
		// One save for the whole reset, shortly after.
		QVERIFY(ObsTestEnv::waitUntil([&] { return fx.fe.saveCount() > saves; }, 2000));
		ObsTestEnv::pump(2 * CollectionSaver::kDelayMs);
		QCOMPARE(fx.fe.saveCount(), saves + 1);
	}

	void enterInAFieldClosesWithoutResetting()
	{
		TransformDialog dialog(item);
		dialog.show();
		QVERIFY(QTest::qWaitForWindowExposed(&dialog));
		dialog.positionXField()->setValue(55.0);
		QTest::keyClick(dialog.positionXField(), Qt::Key_Return);
		QCOMPARE(dialog.result(), int(QDialog::Accepted));
		QCOMPARE(stateOf(item).pos, QPointF(55, 0));
	}

	void aFlipSurvivesEditsButNotReset()
	{
		vec2 flipped;
		vec2_set(&flipped, -0.5f, 0.5f);
		obs_sceneitem_set_scale(item, &flipped);
		TransformDialog dialog(item);
		QCOMPARE(dialog.scaleField()->value(), 50.0);
		dialog.scaleField()->setValue(200.0);
		QCOMPARE(stateOf(item).scale, QPointF(-2, 2));
		dialog.reset();
		QCOMPARE(stateOf(item).scale, QPointF(1, 1));
	}

	void keepsItsItemWhenTheSceneDropsIt()
	{
		OBSSceneItem held(item);
		TransformDialog dialog(item);
		obs_sceneitem_remove(item);
		item = nullptr;
		dialog.positionXField()->setValue(10.0);
		QCOMPARE(stateOf(held).pos.x(), 10.0);
	}

	void opensFromTheSourcesTab()
	{
		QVERIFY(fx.rowsFollowScene());
		fx.m->selectItem(obs_sceneitem_get_id(item));
		QCOMPARE(fx.dock->currentRowItem(), item);
		QStringList opened;
		fx.answers.onDialog = [&](QDialog *dialog) {
			auto *transform = qobject_cast<TransformDialog *>(dialog);
			opened << (transform ? QString::number(transform->scaleField()->value())
					     : dialog->metaObject()->className());
			return int(QDialog::Accepted);
		};
		const std::function<void()> ways[] = {
			[&] { fx.dock->findChild<IconButton *>("stilwane_sources_transform")->click(); },
			[&] {
				fx.answers.menuChoice = translate("Sources.Transform");
				fx.dock->onContextMenu(QPoint(5, 5));
			},
			[&] {
				QWidget *rows = fx.list()->viewport();
				const QPoint row = fx.list()->visualItemRect(fx.list()->currentItem()).center();
				QTest::mouseClick(rows, Qt::LeftButton, {}, row);
				QTest::mouseDClick(rows, Qt::LeftButton, {}, row);
				QTest::mouseRelease(rows, Qt::LeftButton, {}, row);
			},
		};
		for (const auto &way : ways)
			way();
		QCOMPARE(opened, (QStringList{"100", "100", "100"}));
		fx.answers.onDialog = nullptr;
	}
};

STILWANE_TEST_MAIN(TestTransformDialog)

#include "test_transform_dialog.moc"
