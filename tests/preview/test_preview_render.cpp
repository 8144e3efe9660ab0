// SPDX-License-Identifier: GPL-2.0-or-later
// The preview drawn for real: libobs renders the vertical canvas into the dock's native windows under
// Xvfb (llvmpipe, EGL), and the test reads the windows' pixels back from the X server. Mesa's
// software path presents into the X window itself, so an ordinary window grab sees what libobs drew.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "PreviewFixture.hpp"

#include <preview/GuideOverlays.hpp>
#include <preview/PreviewDock.hpp>
#include <preview/QTDisplay.hpp>

#include <widgets/IconButton.hpp>

#include <TestMain.hpp>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QScreen>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>

using namespace stilwane;

using namespace previewtest;

namespace {

constexpr QRgb kBackground = 0xFF2B2B2B;
// color_source_v3 takes 0xAABBGGRR; the grabbed pixels are 0xAARRGGBB.
constexpr uint32_t kBlueAbgr = 0xFFC06030;
constexpr QRgb kBlue = 0xFF3060C0;
constexpr uint32_t kGreenAbgr = 0xFF40B020;
constexpr QRgb kGreen = 0xFF20B040;
constexpr QRgb kCanvasBlack = 0xFF000000;

QImage grab(QTDisplay *display)
{
	return QGuiApplication::primaryScreen()
		->grabWindow(display->winId())
		.toImage()
		.convertToFormat(QImage::Format_RGB32);
}

bool near(QRgb a, QRgb b, int tolerance = 3)
{
	return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
	       std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

bool isSelectionRed(QRgb c)
{
	return qRed(c) > 200 && qGreen(c) < 120 && qBlue(c) < 120;
}

// Waits until the display's picture satisfies the check; the last grab stays in `last`.
bool waitForPicture(QTDisplay *display, const std::function<bool(const QImage &)> &check, QImage &last)
{
	return ObsTestEnv::waitUntil(
		[&] {
			last = grab(display);
			return !last.isNull() && check(last);
		},
		8000);
}

QString describe(const QImage &image, const QList<QPoint> &points)
{
	QStringList parts;
	for (const QPoint &p : points)
		parts << QStringLiteral("(%1,%2)=%3")
				 .arg(p.x())
				 .arg(p.y())
				 .arg(image.valid(p) ? QString::number(image.pixel(p), 16) : QStringLiteral("-"));
	return parts.join(' ');
}

} // namespace

class TestPreviewRender : public QObject {
	Q_OBJECT

	Fixture f;

	// A shown dock of 400 x 500 over the canvas; its preview display gets the whole area outside
	// studio mode, so the 1080 x 1920 canvas takes 281 x 500 of it starting at x = 59.
	std::unique_ptr<PreviewDock> showDock()
	{
		auto dock = std::make_unique<PreviewDock>();
		dock->resize(400, 500);
		dock->show();
		if (!QTest::qWaitForWindowExposed(dock.get()))
			return nullptr;
		if (!ObsTestEnv::waitUntil([&dock] { return dock->preview()->display() != nullptr; }))
			return nullptr;
		return dock;
	}

	obs_scene_t *canvasWithScene(uint32_t abgr)
	{
		config().showGuides = false;
		config().showPhoneUi = false;
		f.loadCanvas();
		obs_scene_t *scene = f.m->addScene("V");
		if (scene)
			Fixture::addColour(scene, "fill", abgr, 1080, 1920);
		return scene;
	}

private slots:
	void initTestCase() { f.initTestCase(); }
	void cleanupTestCase() { f.cleanupTestCase(); }
	void init() { f.init(); }
	void cleanup() { f.cleanup(); }

	void canvasLetterboxedOnTheBackground()
	{
		QVERIFY(canvasWithScene(kBlueAbgr));
		std::unique_ptr<PreviewDock> dock = showDock();
		QVERIFY(dock);
		QTDisplay *display = dock->preview();
		QCOMPARE(display->geometry(), QRect(0, 0, 400, 500));
		const LetterboxSize box = letterboxSize(400, 500, 1080, 1920);
		QCOMPARE(box.width, 281u);
		QCOMPARE(box.height, 500u);

		QImage image;
		const QList<QPoint> points{{200, 250}, {0, 0},     {58, 250}, {59, 250},
					   {339, 250}, {340, 250}, {399, 499}};
		const bool shown = waitForPicture(
			display,
			[](const QImage &i) {
				return near(i.pixel(200, 250), kBlue) && near(i.pixel(200, 0), kBlue) &&
				       near(i.pixel(200, 499), kBlue) && near(i.pixel(59, 250), kBlue) &&
				       near(i.pixel(339, 250), kBlue) && near(i.pixel(0, 0), kBackground) &&
				       near(i.pixel(58, 250), kBackground) && near(i.pixel(340, 250), kBackground) &&
				       near(i.pixel(399, 499), kBackground);
			},
			image);
		QVERIFY2(shown, qPrintable(describe(image, points)));
	}

	void withoutCanvasOnlyTheBackground()
	{
		QVERIFY(canvasWithScene(kBlueAbgr));
		std::unique_ptr<PreviewDock> dock = showDock();
		QVERIFY(dock);
		QImage image;
		QVERIFY(waitForPicture(
			dock->preview(), [](const QImage &i) { return near(i.pixel(200, 250), kBlue); }, image));

		f.m->releaseCanvas();
		const bool cleared = waitForPicture(
			dock->preview(),
			[](const QImage &i) {
				return near(i.pixel(200, 250), kBackground) && near(i.pixel(0, 0), kBackground);
			},
			image);
		QVERIFY2(cleared, qPrintable(describe(image, {{200, 250}, {0, 0}})));
	}

	void studioModeShowsPreviewAndProgram()
	{
		obs_scene_t *live = canvasWithScene(kBlueAbgr);
		QVERIFY(live);
		obs_scene_t *next = f.m->addScene("Next");
		QVERIFY(next);
		// Half the canvas: the rest of the preview shows the black backdrop.
		Fixture::addColour(next, "next-fill", kGreenAbgr, 1080, 960);

		std::unique_ptr<PreviewDock> dock = showDock();
		QVERIFY(dock);
		f.m->setStudioMode(true);
		f.m->setPreviewScene(obs_scene_get_source(next), "test");
		QVERIFY(ObsTestEnv::waitUntil([&dock] { return dock->program()->display() != nullptr; }));

		// Each display letterboxes into its own size; sample their centres.
		QImage preview;
		QImage program;
		const bool split = ObsTestEnv::waitUntil(
			[&] {
				preview = grab(dock->preview());
				program = grab(dock->program());
				const QRect a = dock->preview()->rect();
				const QPoint b = dock->program()->rect().center();
				return near(preview.pixel(a.center().x(), a.height() / 4), kGreen) &&
				       near(preview.pixel(a.center().x(), a.height() * 3 / 4), kCanvasBlack) &&
				       near(program.pixel(b), kBlue) && near(program.pixel(0, 0), kBackground);
			},
			8000);
		const QRect a = dock->preview()->rect();
		QVERIFY2(split, qPrintable(describe(preview, {{a.center().x(), a.height() / 4},
							      {a.center().x(), a.height() * 3 / 4}}) +
					   " / " + describe(program, {dock->program()->rect().center(), {0, 0}})));

		// Back to one display: the program side stops drawing the canvas with studio mode.
		f.m->setStudioMode(false);
		QVERIFY(dock->program()->parentWidget()->isHidden());
		QImage single;
		QVERIFY(waitForPicture(
			dock->preview(),
			[](const QImage &i) { return i.width() == 400 && near(i.pixel(200, 250), kBlue); }, single));
	}

	void selectedItemIsOutlined()
	{
		config().showGuides = false;
		config().showPhoneUi = false;
		f.loadCanvas();
		obs_scene_t *scene = f.m->addScene("V");
		QVERIFY(scene);
		obs_sceneitem_t *item = Fixture::addColour(scene, "half", kBlueAbgr, 540, 960);
		QVERIFY(item);
		vec2 pos;
		vec2_set(&pos, 270.0f, 480.0f);
		obs_sceneitem_set_pos(item, &pos);

		std::unique_ptr<PreviewDock> dock = showDock();
		QVERIFY(dock);
		// Canvas (270, 480) is display (59 + 270 * 500 / 1920, 480 * 500 / 1920) = (129.3, 125): a
		// corner handle 8 display pixels wide around it, and the left edge through (129, 250).
		auto redAround = [](const QImage &i, QPoint centre, int radius) {
			for (int y = centre.y() - radius; y <= centre.y() + radius; y++)
				for (int x = centre.x() - radius; x <= centre.x() + radius; x++)
					if (i.valid(x, y) && isSelectionRed(i.pixel(x, y)))
						return true;
			return false;
		};
		QImage image;
		QVERIFY2(waitForPicture(
				 dock->preview(),
				 [&](const QImage &i) {
					 return near(i.pixel(200, 250), kBlue) && near(i.pixel(80, 250), kCanvasBlack);
				 },
				 image),
			 qPrintable(describe(image, {{200, 250}, {80, 250}, {100, 100}, {129, 125}})));
		QVERIFY(!redAround(image, QPoint(129, 125), 6));
		QVERIFY(!redAround(image, QPoint(129, 250), 3));

		f.m->selectItem(obs_sceneitem_get_id(item));
		QVERIFY2(waitForPicture(
				 dock->preview(),
				 [&](const QImage &i) {
					 return redAround(i, QPoint(129, 125), 2) &&
						redAround(i, QPoint(129, 250), 2) && near(i.pixel(200, 250), kBlue);
				 },
				 image),
			 qPrintable(describe(image, {{129, 125}, {129, 250}, {200, 250}})));
		// The handle is a filled square: red well inside the item's corner too.
		QVERIFY(isSelectionRed(image.pixel(131, 127)));

		// A locked item is not outlined.
		obs_sceneitem_set_locked(item, true);
		QVERIFY(waitForPicture(
			dock->preview(),
			[&](const QImage &i) {
				return !redAround(i, QPoint(129, 125), 6) && !redAround(i, QPoint(129, 250), 3);
			},
			image));
		f.m->selectItem(-1);
	}

	void guideTogglesChangeThePicture()
	{
		QVERIFY(canvasWithScene(kBlueAbgr));
		std::unique_ptr<PreviewDock> dock = showDock();
		QVERIFY(dock);
		QTDisplay *display = dock->preview();
		const QRect viewport(59, 0, 281, 500);
		auto uniform = [viewport](const QImage &i) {
			for (int y = viewport.top(); y <= viewport.bottom(); y++)
				for (int x = viewport.left(); x <= viewport.right(); x++)
					if (!near(i.pixel(x, y), kBlue))
						return false;
			return true;
		};
		QImage image;
		QVERIFY(waitForPicture(display, uniform, image));

		dock->guidesToggle()->setChecked(true);
		QVERIFY(waitForPicture(display, [&](const QImage &i) { return !uniform(i); }, image));
		dock->guidesToggle()->setChecked(false);
		QVERIFY(waitForPicture(display, uniform, image));

		// The phone mock-up, stretched over the canvas and blended by its alpha: the grab must match
		// the picture composited over the fill far better than the plain fill does.
		dock->phoneUiToggle()->setChecked(true);
		QVERIFY(waitForPicture(display, [&](const QImage &i) { return !uniform(i); }, image));
		const QImage overlay =
			renderPhoneUiImage(1080, 1920)
				.convertToFormat(QImage::Format_ARGB32)
				.scaled(viewport.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
		auto composite = [](QRgb o) {
			const double a = qAlpha(o) / 255.0;
			return qRgb(int(std::lround(qRed(o) * a + qRed(kBlue) * (1 - a))),
				    int(std::lround(qGreen(o) * a + qGreen(kBlue) * (1 - a))),
				    int(std::lround(qBlue(o) * a + qBlue(kBlue) * (1 - a))));
		};
		auto distance = [](QRgb a, QRgb b) {
			return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
			       std::abs(qBlue(a) - qBlue(b));
		};
		double withOverlay = 0;
		double plain = 0;
		for (int y = 0; y < viewport.height(); y++) {
			for (int x = 0; x < viewport.width(); x++) {
				const QRgb got = image.pixel(viewport.left() + x, y);
				withOverlay += distance(got, composite(overlay.pixel(x, y)));
				plain += distance(got, kBlue);
			}
		}
		qDebug() << "summed colour distance: to the composite" << withOverlay << "to the plain fill" << plain;
		QVERIFY(withOverlay < plain / 4);
	}

	void dockGoesAwayWhileDrawing()
	{
		QVERIFY(canvasWithScene(kBlueAbgr));
		config().showGuides = true;
		config().showPhoneUi = true;
		for (int round = 0; round < 3; round++) {
			std::unique_ptr<PreviewDock> dock = showDock();
			QVERIFY(dock);
			f.m->setStudioMode(round == 1);
			ObsTestEnv::pump(100);
			dock.reset();
		}
		// libobs keeps drawing its other displays; the leak count at exit covers the textures.
		ObsTestEnv::pump(100);
	}
};

STILWANE_TEST_MAIN(TestPreviewRender)

#include "test_preview_render.moc"
