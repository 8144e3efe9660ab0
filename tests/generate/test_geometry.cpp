// SPDX-License-Identifier: GPL-2.0-or-later
// Item placement and the layout templates on real libobs sources of known sizes, on a 1080x1920
// vertical canvas beside a 1920x1080 main canvas.
#include <QtTest>

#include <canvas/CanvasManager.hpp>
#include <generate/ItemPlacement.hpp>
#include <generate/LayoutTemplates.hpp>
#include <common/ConfigRecord.hpp>

#include <ObsTestEnv.hpp>
#include <TestFrontend.hpp>
#include <TestMain.hpp>

#include <QTemporaryDir>

#include <obs.hpp>

using namespace stilwane;

namespace {

struct Placed {
	float x, y, scale;
	obs_sceneitem_crop crop;
};

Placed placed(obs_sceneitem_t *item)
{
	Placed p = {};
	vec2 pos, scale;
	obs_sceneitem_get_pos(item, &pos);
	obs_sceneitem_get_scale(item, &scale);
	obs_sceneitem_get_crop(item, &p.crop);
	p.x = pos.x;
	p.y = pos.y;
	p.scale = scale.x;
	return p;
}

bool near(float a, float b, float tolerance = 0.01f)
{
	return std::fabs(a - b) <= tolerance;
}

#define QVERIFY_NEAR(actual, expected) \
	QVERIFY2(near((actual), (expected)), qPrintable(QString("%1 != %2").arg(actual).arg(expected)))

// libobs keeps scene item positions on a half-pixel grid (ties upwards): a position written as
// 656.25 reads back as 656.5.
float halfPixel(float v)
{
	return std::floor(v * 2.0f + 0.5f) / 2.0f;
}

#define QVERIFY_POS(actual, expected) QVERIFY_NEAR(actual, halfPixel(expected))

obs_source_t *colorSource(const char *name, int width, int height)
{
	OBSDataAutoRelease settings = obs_data_create();
	obs_data_set_int(settings, "width", width);
	obs_data_set_int(settings, "height", height);
	return obs_source_create("color_source_v3", name, settings, nullptr);
}

QVector<obs_sceneitem_t *> items(obs_source_t *scene)
{
	QVector<obs_sceneitem_t *> list;
	obs_scene_enum_items(
		obs_scene_from_source(scene),
		[](obs_scene_t *, obs_sceneitem_t *item, void *param) {
			static_cast<QVector<obs_sceneitem_t *> *>(param)->append(item);
			return true;
		},
		&list);
	return list;
}

QString sourceName(obs_sceneitem_t *item)
{
	return QString::fromUtf8(obs_source_get_name(obs_sceneitem_get_source(item)));
}

} // namespace

class TestGeometry : public QObject {
	Q_OBJECT

	QTemporaryDir dir;
	CanvasManager *m = CanvasManager::instance();
	obs_source_t *mainScene = nullptr; // borrowed from the front end
	OBSSourceAutoRelease wide;         // 1920x1080
	OBSSourceAutoRelease tall;         // 1080x1920
	OBSSourceAutoRelease small;        // 640x360

	obs_sceneitem_t *addToScratch(obs_source_t *source)
	{
		obs_scene_t *scratch = m->addScene(m->uniqueSceneName("scratch"));
		return obs_scene_add(scratch, source);
	}

private slots:
	void initTestCase()
	{
		setConfigDirectoryOverride(dir.path().toStdString());
		TestFrontend::instance().reset();
		m->loadFromCollection(nullptr);
		QVERIFY(m->hasCanvas());
		mainScene = TestFrontend::instance().addScene("Main");
		wide = colorSource("wide", 1920, 1080);
		tall = colorSource("tall", 1080, 1920);
		small = colorSource("small", 640, 360);
		obs_sceneitem_t *item = obs_scene_add(obs_scene_from_source(mainScene), wide);
		QVERIFY(item);
		QCOMPARE(obs_source_get_width(mainScene), 1920u);
		QCOMPARE(obs_source_get_height(mainScene), 1080u);
	}

	void cleanupTestCase()
	{
		m->releaseCanvas();
		wide = nullptr;
		tall = nullptr;
		small = nullptr;
		TestFrontend::instance().reset();
	}

	void placeItemWritesTheWholeTransform()
	{
		obs_sceneitem_t *item = addToScratch(wide);
		obs_sceneitem_set_alignment(item, OBS_ALIGN_CENTER);
		obs_sceneitem_set_bounds_type(item, OBS_BOUNDS_STRETCH);
		obs_sceneitem_crop crop = {1, 2, 3, 4};
		placeItem(item, 12.5f, -7.25f, 0.75f, &crop);
		Placed p = placed(item);
		QCOMPARE(obs_sceneitem_get_alignment(item), uint32_t(OBS_ALIGN_LEFT | OBS_ALIGN_TOP));
		QCOMPARE(obs_sceneitem_get_bounds_type(item), OBS_BOUNDS_NONE);
		QVERIFY_POS(p.x, 12.5f);
		QVERIFY_POS(p.y, -7.25f);
		QVERIFY_NEAR(p.scale, 0.75f);
		QCOMPARE(p.crop.left, 1);
		QCOMPARE(p.crop.bottom, 4);

		// Without a crop the item's crop stays.
		placeItem(item, 0, 0, 1, nullptr);
		QCOMPARE(placed(item).crop.top, 2);
		placeItem(nullptr, 0, 0, 1, nullptr);
	}

	void fitToWidthAndHeight()
	{
		obs_sceneitem_t *item = addToScratch(wide);
		fitItemToWidth(item);
		Placed p = placed(item);
		QVERIFY_NEAR(p.scale, 0.5625f);
		QVERIFY_POS(p.x, 0.0f);
		QVERIFY_POS(p.y, 656.25f);

		fitItemToHeight(item);
		p = placed(item);
		QVERIFY_NEAR(p.scale, 1.7778f);
		QVERIFY_POS(p.x, -1166.67f);
		QVERIFY_POS(p.y, 0.0f);

		// The fit measures the visible part: a 960-wide crop fills the width at scale 1.125.
		obs_sceneitem_crop crop = {480, 0, 480, 0};
		obs_sceneitem_set_crop(item, &crop);
		fitItemToWidth(item);
		QVERIFY_NEAR(placed(item).scale, 1.125f);
	}

	void cropThatRemovesEverythingChangesNothing()
	{
		obs_sceneitem_t *item = addToScratch(wide);
		obs_sceneitem_crop crop = {1000, 600, 1000, 600};
		placeItem(item, 3, 4, 0.5f, &crop);
		fitItemToWidth(item);
		fitItemToHeight(item);
		Placed p = placed(item);
		QVERIFY_POS(p.x, 3.0f);
		QVERIFY_POS(p.y, 4.0f);
		QVERIFY_NEAR(p.scale, 0.5f);
		QCOMPARE(itemContentSize(item).width, 0.0f);
	}

	void centerKeepsScale()
	{
		obs_sceneitem_t *item = addToScratch(small);
		vec2 scale;
		vec2_set(&scale, 1.0f, 2.0f);
		obs_sceneitem_set_scale(item, &scale);
		centerItemInCanvas(item);
		vec2 after;
		obs_sceneitem_get_scale(item, &after);
		QVERIFY_NEAR(after.x, 1.0f);
		QVERIFY_NEAR(after.y, 2.0f);
		Placed p = placed(item);
		QVERIFY_NEAR(p.x, (1080.0f - 640.0f) * 0.5f);
		QVERIFY_NEAR(p.y, (1920.0f - 720.0f) * 0.5f);
	}

	void fitIfWiderCases()
	{
		obs_sceneitem_t *narrow = addToScratch(small);
		placeItem(narrow, 5, 6, 1, nullptr);
		QVERIFY(fitIfWider(narrow));
		QVERIFY_POS(placed(narrow).x, 5.0f);
		QVERIFY_NEAR(placed(narrow).scale, 1.0f);

		obs_sceneitem_t *broad = addToScratch(wide);
		QVERIFY(fitIfWider(broad));
		QVERIFY_NEAR(placed(broad).scale, 0.5625f);

		OBSSourceAutoRelease empty = obs_source_create("image_source", "no file yet", nullptr, nullptr);
		obs_sceneitem_t *unknown = addToScratch(empty);
		placeItem(unknown, 7, 8, 1, nullptr);
		QVERIFY(!fitIfWider(unknown));
		QVERIFY_POS(placed(unknown).x, 7.0f);
		QVERIFY(!fitIfWider(nullptr));
	}

	void bandCropsEquallyWhenTheSourceIsTaller()
	{
		obs_sceneitem_t *item = addToScratch(tall);
		// 1080x1920 at full width into a 640 band: the visible part is 640 high, 640 cropped each side.
		fitItemInBand(item, 1080.0f, 640.0f, 640.0f);
		Placed p = placed(item);
		QVERIFY_NEAR(p.scale, 1.0f);
		QCOMPARE(p.crop.top, 640);
		QCOMPARE(p.crop.bottom, 640);
		QCOMPARE(p.crop.left, 0);
		QVERIFY_POS(p.y, 640.0f);
	}

	void centerCrop()
	{
		OBSSourceAutoRelease scene =
			generateVerticalScene(mainScene, TemplateKind::CenterCrop, {}, "crop", false);
		QVERIFY(scene);
		auto list = items(scene);
		QCOMPARE(list.size(), 1);
		Placed p = placed(list[0]);
		QVERIFY_NEAR(p.scale, 1.7778f);
		QCOMPARE(p.crop.left, 656);
		QCOMPARE(p.crop.right, 656);
		QCOMPARE(p.crop.top, 0);
		QVERIFY_POS(p.x, -0.44f);
		QVERIFY_POS(p.y, 0.0f);
		OBSDataAutoRelease priv = obs_source_get_private_settings(scene);
		QVERIFY(!obs_data_has_user_value(priv, "stilwane_link"));
	}

	void fitWidthWithBackground()
	{
		OBSSourceAutoRelease scene = generateVerticalScene(mainScene, TemplateKind::FitWidth, {}, "fit", true);
		QVERIFY(scene);
		auto list = items(scene);
		QCOMPARE(list.size(), 2);
		QCOMPARE(sourceName(list[0]), QString("Stilwane BG - fit"));
		QVERIFY(obs_sceneitem_locked(list[0]));
		OBSDataAutoRelease bg = obs_source_get_settings(obs_sceneitem_get_source(list[0]));
		QCOMPARE(obs_data_get_int(bg, "color"), 0xFF141414LL);
		QCOMPARE(obs_data_get_int(bg, "width"), 1080);
		QCOMPARE(obs_data_get_int(bg, "height"), 1920);
		Placed p = placed(list[1]);
		QVERIFY_NEAR(p.scale, 0.5625f);
		QVERIFY_POS(p.y, 656.25f);
		OBSDataAutoRelease priv = obs_source_get_private_settings(scene);
		QCOMPARE(QString::fromUtf8(obs_data_get_string(priv, "stilwane_link")),
			 QString::fromUtf8(obs_source_get_uuid(mainScene)));
	}

	void stackedLowerBand()
	{
		OBSSourceAutoRelease scene =
			generateVerticalScene(mainScene, TemplateKind::Stacked, {wide, nullptr}, "stacked", true);
		auto list = items(scene);
		QCOMPARE(list.size(), 3);
		Placed mainItem = placed(list[1]);
		QVERIFY_POS(mainItem.y, 0.0f);
		QVERIFY_NEAR(mainItem.scale, 0.5625f);
		Placed lower = placed(list[2]);
		QCOMPARE(sourceName(list[2]), QString("wide"));
		QVERIFY_NEAR(lower.scale, 0.5625f);
		QVERIFY_POS(lower.y, 960.0f);
		QCOMPARE(lower.crop.top, 0);
	}

	void thirds()
	{
		OBSSourceAutoRelease scene =
			generateVerticalScene(mainScene, TemplateKind::Thirds, {small, tall}, "thirds", true);
		auto list = items(scene);
		QCOMPARE(list.size(), 4);
		QVERIFY_POS(placed(list[1]).y, 16.25f);
		// 640x360 at full width is 607.5 high: centred in the middle third.
		QVERIFY_NEAR(placed(list[2]).scale, 1.6875f);
		QVERIFY_POS(placed(list[2]).y, 640.0f + 16.25f);
		// 1080x1920 into the bottom third: cropped to 640, top and bottom alike.
		Placed bottom = placed(list[3]);
		QCOMPARE(bottom.crop.top, 640);
		QCOMPARE(bottom.crop.bottom, 640);
		QVERIFY_POS(bottom.y, 1280.0f);
	}

	void backgroundNamesStayUnique()
	{
		OBSSourceAutoRelease first =
			generateVerticalScene(mainScene, TemplateKind::FitWidth, {}, "same", false);
		QCOMPARE(uniqueSourceName("Stilwane BG - same"), QString("Stilwane BG - same 2"));
		m->renameScene(first, "renamed");
		OBSSourceAutoRelease second =
			generateVerticalScene(mainScene, TemplateKind::FitWidth, {}, "same", false);
		QCOMPARE(sourceName(items(second)[0]), QString("Stilwane BG - same 2"));
	}

	void refusals()
	{
		QVERIFY(!generateVerticalScene(nullptr, TemplateKind::FitWidth, {}, "x", false));
		QVERIFY(!generateVerticalScene(mainScene, TemplateKind::FitWidth, {}, "", false));
		QVERIFY(!m->sceneNameExists("x"));
	}
};

STILWANE_TEST_MAIN(TestGeometry)
#include "test_geometry.moc"
