// SPDX-License-Identifier: GPL-2.0-or-later
// The safe-area guides: the safe rectangle of each preset, the phone mock-up pictures, the grid and
// frame drawn by libobs, the exported guide picture, and the icons of the docks' buttons.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <widgets/IconButton.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>
#include <preview/GuideOverlays.hpp>

#include <ObsTestEnv.hpp>
#include <TestMain.hpp>

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>

#include <obs.h>
#include <graphics/vec4.h>
#include <util/text-lookup.h>

using namespace stilwane;

namespace {

// Straight-alpha colour with fractional channels, so that expected composites are not rounded twice.
struct Rgba {
	double r, g, b, a;
};

const Rgba kTransparent{0, 0, 0, 0};
const Rgba kBackground{70, 110, 160, 255};

// Source-over of straight-alpha colours, the way QPainter composites.
Rgba over(const Rgba &dst, const Rgba &src)
{
	const double sa = src.a / 255.0;
	const double da = dst.a / 255.0;
	const double oa = sa + da * (1 - sa);
	if (oa <= 0)
		return kTransparent;
	auto channel = [&](double s, double d) {
		return (s * sa + d * da * (1 - sa)) / oa;
	};
	return {channel(src.r, dst.r), channel(src.g, dst.g), channel(src.b, dst.b), oa * 255.0};
}

Rgba rgba(int r, int g, int b, int a)
{
	return {double(r), double(g), double(b), double(a)};
}

QString describe(const QColor &c)
{
	return QString("(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}

QString describe(const Rgba &c)
{
	return QString("(%1,%2,%3,%4)").arg(c.r, 0, 'f', 1).arg(c.g, 0, 'f', 1).arg(c.b, 0, 'f', 1).arg(c.a, 0, 'f', 1);
}

bool near(const QColor &got, const Rgba &want, double tolerance = 2.0)
{
	// Colour channels of an almost transparent pixel carry no information after premultiplication.
	const bool colourMatters = want.a >= 8;
	return std::abs(got.alpha() - want.a) <= tolerance &&
	       (!colourMatters ||
		(std::abs(got.red() - want.r) <= tolerance && std::abs(got.green() - want.g) <= tolerance &&
		 std::abs(got.blue() - want.b) <= tolerance));
}

#define VERIFY_PIXEL(image, x, y, want)                                                             \
	do {                                                                                        \
		const QColor got_ = (image).pixelColor((x), (y));                                   \
		QVERIFY2(near(got_, (want)), qPrintable(QString("pixel (%1,%2) is %3, expected %4") \
								.arg(x)                             \
								.arg(y)                             \
								.arg(describe(got_))                \
								.arg(describe(want))));             \
	} while (0)

void setMargins(int preset, int top, int bottom, int left, int right)
{
	ConfigRecord &c = config();
	c.guidePreset = preset;
	c.guideTop = top;
	c.guideBottom = bottom;
	c.guideLeft = left;
	c.guideRight = right;
}

bool hasVisiblePixel(const QImage &image)
{
	for (int y = 0; y < image.height(); ++y)
		for (int x = 0; x < image.width(); ++x)
			if (qAlpha(image.pixel(x, y)) > 0)
				return true;
	return false;
}

// Renders drawGuideLines into a W x H texture cleared to opaque black and reads it back.
QImage renderGuideLines(int width, int height)
{
	QImage result;
	obs_enter_graphics();
	gs_texrender_t *target = gs_texrender_create(GS_RGBA, GS_ZS_NONE);
	gs_stagesurf_t *stage = gs_stagesurface_create(width, height, GS_RGBA);
	if (target && stage && gs_texrender_begin(target, width, height)) {
		vec4 black;
		vec4_set(&black, 0.0f, 0.0f, 0.0f, 1.0f);
		gs_clear(GS_CLEAR_COLOR, &black, 0.0f, 0);
		gs_ortho(0.0f, float(width), 0.0f, float(height), -100.0f, 100.0f);
		drawGuideLines(float(width), float(height), safeArea(width, height));
		gs_texrender_end(target);
		gs_stage_texture(stage, gs_texrender_get_texture(target));
		uint8_t *data = nullptr;
		uint32_t linesize = 0;
		if (gs_stagesurface_map(stage, &data, &linesize)) {
			result = QImage(width, height, QImage::Format_RGBA8888);
			for (int y = 0; y < height; ++y)
				memcpy(result.scanLine(y), data + size_t(y) * linesize, size_t(width) * 4);
			gs_stagesurface_unmap(stage);
		}
	}
	gs_stagesurface_destroy(stage);
	gs_texrender_destroy(target);
	obs_leave_graphics();
	return result;
}

bool matchesOpaque(const QImage &image, int x, int y, const Rgba &want)
{
	// The render target's alpha depends on the blend of alpha, which the guides do not care about.
	QColor c = image.pixelColor(x, y);
	c.setAlpha(255);
	return near(c, Rgba{want.r, want.g, want.b, 255}, 3);
}

// True when one pixel of row y between x0 and x1 has the colour.
bool rowHasColour(const QImage &image, int y, int x0, int x1, const Rgba &want)
{
	for (int x = x0; x <= x1; ++x)
		if (matchesOpaque(image, x, y, want))
			return true;
	return false;
}

int rowColourCount(const QImage &image, int y, int x0, int x1, const Rgba &want)
{
	int count = 0;
	for (int x = x0; x <= x1; ++x)
		count += matchesOpaque(image, x, y, want);
	return count;
}

bool columnHasColour(const QImage &image, int x, int y0, int y1, const Rgba &want)
{
	for (int y = y0; y <= y1; ++y)
		if (matchesOpaque(image, x, y, want))
			return true;
	return false;
}

} // namespace

class TestGuides : public QObject {
	Q_OBJECT

	QTemporaryDir dir;

	const Rgba dark = rgba(0, 0, 0, 120);
	const Rgba light = rgba(255, 255, 255, 150);

private slots:
	void initTestCase()
	{
		QVERIFY(dir.isValid());
		setConfigDirectoryOverride(dir.path().toStdString());
		setLocaleTable(text_lookup_create(STILWANE_DATA_DIR "/locale/en-US.ini"));
		QVERIFY(localeTable());
	}

	void cleanupTestCase()
	{
		text_lookup_destroy(localeTable());
		setLocaleTable(nullptr);
	}

	void init() { config() = ConfigRecord{}; }

	void localeHasTheGuideTexts()
	{
		for (const char *key :
		     {"Guide.SafeMeasured", "Guide.Safe", "Guide.LiveTop", "Guide.LiveChat", "Guide.Subscribe",
		      "Guide.ChatInput", "Guide.TopShorts", "Guide.TopCustom", "Guide.BottomShorts",
		      "Guide.BottomCustom", "Guide.Rail", "Settings.GuidePreset.Live", "Settings.GuidePreset.Shorts",
		      "Settings.GuidePreset.Custom"}) {
			const QString text = translate(key);
			QVERIFY2(text != QString::fromUtf8(key) && !text.isEmpty(), key);
		}
	}

	void safeAreaPerPreset()
	{
		// Live ignores the margins, even ones far from its own.
		setMargins(0, 10, 20, 30, 40);
		QCOMPARE(currentGuidePreset(), GuidePreset::Live);
		QCOMPARE(safeArea(1080, 1920), QRectF(53, 250, 974, 1040));
		QCOMPARE(safeArea(540, 960), QRectF(26.5, 125, 487, 520));

		setMargins(1, 150, 380, 40, 150);
		QCOMPARE(currentGuidePreset(), GuidePreset::Shorts);
		QCOMPARE(safeArea(1080, 1920), QRectF(40, 150, 890, 1390));
		QCOMPARE(safeArea(540, 960), QRectF(20, 75, 445, 695));

		setMargins(2, 100, 300, 60, 20);
		QCOMPARE(currentGuidePreset(), GuidePreset::Custom);
		QCOMPARE(safeArea(1080, 1920), QRectF(60, 100, 1000, 1520));
		QCOMPARE(safeArea(540, 960), QRectF(30, 50, 500, 760));
		// Horizontal and vertical scales are independent.
		QCOMPARE(safeArea(2160, 1920), QRectF(120, 100, 2000, 1520));

		config().guidePreset = 7;
		QCOMPARE(currentGuidePreset(), GuidePreset::Custom);
	}

	void shortsRailAndDots()
	{
		applyGuidePreset(1);
		const QImage image = renderPhoneUiImage(1080, 1920);
		QCOMPARE(image.size(), QSize(1080, 1920));

		// T=150, B=380, L=40, R=150: bottomY 1540, railTop 960, dots every 116 px at x 1005.
		const Rgba dot = over(over(kTransparent, dark), light);
		for (int y : {1076, 1192, 1308, 1424})
			VERIFY_PIXEL(image, 1005, y, dot);
		VERIFY_PIXEL(image, 1005, 1134, dark);
		VERIFY_PIXEL(image, 935, 1000, dark);
		// Above the rail, right of the picture's middle, the picture stays clear.
		VERIFY_PIXEL(image, 1005, 900, kTransparent);
		VERIFY_PIXEL(image, 925, 1300, kTransparent);
		// Bands: top, bottom, and the faint left strip.
		VERIFY_PIXEL(image, 1070, 140, dark);
		VERIFY_PIXEL(image, 1070, 1560, dark);
		VERIFY_PIXEL(image, 20, 800, rgba(0, 0, 0, 60));
		VERIFY_PIXEL(image, 540, 800, kTransparent);
		// The avatar circle of the top bar: x0 = 64, r = 30, cy = 93.
		VERIFY_PIXEL(image, 94, 93, over(dark, light));
	}

	void customWithoutRail()
	{
		// The top band reaches past the start of the lower one: no room for the button rail.
		setMargins(2, 1000, 1000, 40, 150);
		const QImage image = renderPhoneUiImage(1080, 1920);
		const Rgba bothBands = over(dark, dark);
		for (int y = 0; y < 1920; ++y) {
			for (int x = 935; x < 1075; x += 7) {
				const QColor c = image.pixelColor(x, y);
				QVERIFY2(near(c, kTransparent) || near(c, dark) || near(c, bothBands),
					 qPrintable(QString("(%1,%2) is %3").arg(x).arg(y).arg(describe(c))));
			}
		}
		VERIFY_PIXEL(image, 1005, 960, bothBands);

		// The same column with room for the rail does show the light dots.
		setMargins(2, 150, 380, 40, 150);
		VERIFY_PIXEL(renderPhoneUiImage(1080, 1920), 1005, 1076, over(dark, light));
	}

	void textSizesHaveFloors()
	{
		QCOMPARE(captionPixelSize(30, 1.0), 30);
		QCOMPARE(captionPixelSize(26, 0.5), 13);
		QCOMPARE(captionPixelSize(30, 0.1), 11);
		QCOMPARE(captionPixelSize(22, 0.1), 11);
		QCOMPARE(captionPixelSize(30, 0.39), 11);
		QCOMPARE(mockTextPixelSize(28, 1.0), 28);
		QCOMPARE(mockTextPixelSize(30, 0.5), 15);
		QCOMPARE(mockTextPixelSize(28, 0.1), 10);
		QCOMPARE(mockTextPixelSize(30, 0.1), 10);
		QCOMPARE(mockTextPixelSize(28, 0.37), 10);
	}

	void smallAndOddPicturesRender()
	{
		for (int preset : {0, 1, 2}) {
			applyGuidePreset(preset);
			for (QSize size : {QSize(108, 192), QSize(9, 16), QSize(1, 1), QSize(1920, 1080)}) {
				const QImage phone = renderPhoneUiImage(size.width(), size.height());
				const QImage label = renderSafeLabelImage(size.width(), size.height());
				QCOMPARE(phone.size(), size);
				QCOMPARE(label.size(), size);
				QVERIFY(phone.hasAlphaChannel());
			}
			QVERIFY(hasVisiblePixel(renderPhoneUiImage(108, 192)));
			QVERIFY(hasVisiblePixel(renderSafeLabelImage(1080, 1920)));
		}
		QVERIFY(renderPhoneUiImage(0, 0).isNull());
		QVERIFY(renderSafeLabelImage(0, 100).isNull());
	}

	void safeLabelSitsInsideTheFrame()
	{
		// The label's text starts right of the Live inset (53 + 120) and stays in the top 44 px band.
		applyGuidePreset(0);
		const QImage image = renderSafeLabelImage(1080, 1920);
		int minX = 1080, minY = 1920, maxY = -1;
		for (int y = 0; y < 1920; ++y)
			for (int x = 0; x < 1080; ++x)
				if (qAlpha(image.pixel(x, y)) > 0) {
					minX = std::min(minX, x);
					minY = std::min(minY, y);
					maxY = std::max(maxY, y);
				}
		QVERIFY2(maxY >= 0, "the label draws nothing");
		QVERIFY2(minX >= 172, qPrintable(QString::number(minX)));
		QVERIFY2(minY >= 258 && maxY <= 258 + 44 + 2, qPrintable(QString("%1..%2").arg(minY).arg(maxY)));
	}

	void gridAndFrameOnTheGraphicsThread()
	{
		const Rgba amber = over(rgba(0, 0, 0, 255), Rgba{255, 0.85 * 255, 0.25 * 255, 0.95 * 255});
		const Rgba grid = over(rgba(0, 0, 0, 255), Rgba{255, 255, 255, 0.28 * 255});

		// Live on a 270x480 canvas: frame at x 13.25..256.75, y 62.5..322.5; grid at x 90, 180.
		applyGuidePreset(0);
		QImage image = renderGuideLines(270, 480);
		QVERIFY(!image.isNull());
		// Two one-pixel loops make a frame two pixels wide on each side.
		QCOMPARE(rowColourCount(image, 200, 10, 18, amber), 2);
		QCOMPARE(rowColourCount(image, 200, 252, 260, amber), 2);
		QVERIFY(columnHasColour(image, 135, 60, 65, amber) || columnHasColour(image, 135, 415, 420, amber));
		QVERIFY(rowHasColour(image, 200, 88, 92, grid));
		QVERIFY(rowHasColour(image, 200, 178, 182, grid));
		QVERIFY(columnHasColour(image, 45, 158, 162, grid));
		QVERIFY(columnHasColour(image, 45, 318, 322, grid));
		QVERIFY(rowHasColour(image, 200, 40, 80, rgba(0, 0, 0, 255)));
		QVERIFY(!rowHasColour(image, 200, 30, 80, amber));

		// Custom margins move the frame: left 200 of 1080 is x 50 here.
		setMargins(2, 190, 640, 200, 150);
		image = renderGuideLines(270, 480);
		QVERIFY(rowHasColour(image, 200, 48, 53, amber));
		QVERIFY(!rowHasColour(image, 200, 8, 20, amber));
	}

	void exportedPictureOfEachPreset()
	{
		// The exported picture is always in design size, whatever the canvas.
		config().width = 720;
		config().height = 1280;
		const QString path = dir.filePath("guides.png");
		const Rgba safeFrame = rgba(255, 220, 80, 230);

		applyGuidePreset(0);
		QVERIFY(exportGuidePng(path));
		QImage image(path);
		QCOMPARE(image.size(), QSize(1080, 1920));
		VERIFY_PIXEL(image, 540, 900, kBackground);
		// The subscribe pill over the top band, left of its text and of the grid line at 720.
		VERIFY_PIXEL(image, 660, 208, over(over(kBackground, rgba(0, 0, 0, 55)), rgba(255, 255, 255, 225)));
		VERIFY_PIXEL(image, 20, 900, over(kBackground, rgba(0, 0, 0, 70)));
		VERIFY_PIXEL(image, 360, 900, over(kBackground, rgba(255, 255, 255, 90)));
		VERIFY_PIXEL(image, 1000, 1280, over(kBackground, rgba(255, 255, 255, 90)));
		// The safe frame's left edge is x 53, clear of the mock-up on its inner side.
		bool frame = false;
		for (int x = 51; x <= 55; ++x)
			frame = frame || near(image.pixelColor(x, 900), over(kBackground, safeFrame));
		QVERIFY2(frame, "no safe-frame pixel near x 53");

		applyGuidePreset(1);
		QVERIFY(exportGuidePng(path));
		image = QImage(path);
		QCOMPARE(image.size(), QSize(1080, 1920));
		VERIFY_PIXEL(image, 540, 900, kBackground);
		VERIFY_PIXEL(image, 1005, 1192, over(over(kBackground, dark), light));
		frame = false;
		for (int x = 38; x <= 42; ++x)
			frame = frame || near(image.pixelColor(x, 900), over(kBackground, safeFrame));
		QVERIFY2(frame, "no safe-frame pixel near x 40");

		setMargins(2, 300, 500, 80, 100);
		QVERIFY(exportGuidePng(path));
		image = QImage(path);
		QCOMPARE(image.size(), QSize(1080, 1920));
		VERIFY_PIXEL(image, 1060, 290, over(kBackground, dark));
		VERIFY_PIXEL(image, 1060, 320, kBackground);
		VERIFY_PIXEL(image, 540, 1500, over(kBackground, dark));
		frame = false;
		for (int y = 298; y <= 302; ++y)
			frame = frame || near(image.pixelColor(600, y), over(kBackground, safeFrame)) ||
				near(image.pixelColor(600, y), over(over(kBackground, dark), safeFrame));
		QVERIFY2(frame, "no safe-frame pixel near y 300");

		QVERIFY(!exportGuidePng(dir.filePath("missing-folder/guides.png")));
	}

	void everyIconRenders()
	{
		const QDir icons(STILWANE_DATA_DIR "/icons");
		// Only what OBS's themes have no icon for: the rest come from the theme's classes.
		const QStringList expected = {"guides",    "phone",  "projector",         "replay",  "stream",
					      "record",    "link",   "studio-transition", "visible", "visible-inactive",
					      "lock",      "unlock", "collapse",          "expand",  "audio",
					      "transition"};
		for (const QString &name : expected)
			QVERIFY2(icons.exists(name + ".svg"), qPrintable(name));

		const QStringList files = icons.entryList({"*.svg"}, QDir::Files);
		QVERIFY(files.size() >= expected.size());
		for (const QString &file : files) {
			QImageReader reader(icons.filePath(file), "svg");
			reader.setScaledSize(QSize(16, 16));
			const QImage image = reader.read();
			QVERIFY2(!image.isNull(), qPrintable(file + ": " + reader.errorString()));
			int covered = 0;
			for (int y = 0; y < 16; ++y)
				for (int x = 0; x < 16; ++x)
					covered += qAlpha(image.pixel(x, y)) > 64;
			QVERIFY2(covered >= 12, qPrintable(file + " covers " + QString::number(covered) + " pixels"));
		}
	}

	void inactiveIconsAreDrawnOpaque()
	{
		const QByteArray svg =
			R"(<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16" viewBox="0 0 16 16">)"
			R"(<rect width="16" height="16" fill="#000" fill-opacity="0.4"/></svg>)";
		const QString normalPath = dir.filePath("dim.svg");
		const QString inactivePath = dir.filePath("dim-inactive.svg");
		for (const QString &path : {normalPath, inactivePath}) {
			QFile file(path);
			QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
			file.write(svg);
		}

		IconButton normal(nullptr, "normal", nullptr, normalPath);
		IconButton inactive(nullptr, "inactive", nullptr, inactivePath);
		const QImage normalIcon = normal.icon().pixmap(16, 16).toImage();
		const QImage inactiveIcon = inactive.icon().pixmap(16, 16).toImage();
		QVERIFY(!normalIcon.isNull());
		QVERIFY(!inactiveIcon.isNull());
		const int normalAlpha = normalIcon.pixelColor(8, 8).alpha();
		const int inactiveAlpha = inactiveIcon.pixelColor(8, 8).alpha();
		QVERIFY2(std::abs(normalAlpha - 102) <= 3, qPrintable(QString::number(normalAlpha)));
		QVERIFY2(inactiveAlpha >= 252, qPrintable(QString::number(inactiveAlpha)));
	}
};

STILWANE_TEST_MAIN(TestGuides)
#include "test_guides.moc"
