// SPDX-License-Identifier: GPL-2.0-or-later
// Editing items in the preview: the geometry as tables, then the real preview dock on the screen,
// driven by synthetic mouse and key events against a real canvas and scene.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include "PreviewFixture.hpp"

#include <canvas/CollectionSaver.hpp>
#include <dialogs/MessageBoxes.hpp>
#include <dialogs/TransformDialog.hpp>
#include <preview/PreviewDock.hpp>
#include <preview/PreviewEditor.hpp>
#include <preview/PreviewGeometry.hpp>
#include <preview/QTDisplay.hpp>

#include <TestMain.hpp>

#include <QDoubleSpinBox>
#include <QMenu>

#include <cmath>
#include <memory>

using namespace stilwane;
using namespace previewtest;

namespace {

// Audio only, yet with a size, so that only its missing video keeps the pointer off it.
obs_source_t *createSizedAudioSource(const char *name)
{
	static bool registered = false;
	if (!registered) {
		obs_source_info info = {};
		info.id = "stilwane_test_sized_audio";
		info.type = OBS_SOURCE_TYPE_INPUT;
		info.output_flags = OBS_SOURCE_AUDIO;
		info.get_name = [](void *) {
			return "sized audio";
		};
		info.create = [](obs_data_t *, obs_source_t *source) -> void * {
			return source;
		};
		info.destroy = [](void *) {
		};
		info.get_width = [](void *) -> uint32_t {
			return 1080;
		};
		info.get_height = [](void *) -> uint32_t {
			return 1920;
		};
		obs_register_source(&info);
		registered = true;
	}
	return obs_source_create("stilwane_test_sized_audio", name, nullptr, nullptr);
}

matrix4 boxMatrix(double x, double y, double width, double height)
{
	matrix4 m;
	matrix4_identity(&m);
	matrix4_scale3f(&m, &m, float(width), float(height), 1.0f);
	matrix4_translate3f(&m, &m, float(x), float(y), 0.0f);
	return m;
}

QPointF positionOf(obs_sceneitem_t *item)
{
	vec2 pos;
	obs_sceneitem_get_pos(item, &pos);
	return {pos.x, pos.y};
}

QPointF scaleOf(obs_sceneitem_t *item)
{
	vec2 scale;
	obs_sceneitem_get_scale(item, &scale);
	return {scale.x, scale.y};
}

void place(obs_sceneitem_t *item, double x, double y, double scale = 1.0)
{
	vec2 pos, s;
	vec2_set(&pos, float(x), float(y));
	vec2_set(&s, float(scale), float(scale));
	obs_sceneitem_set_pos(item, &pos);
	obs_sceneitem_set_scale(item, &s);
}

// libobs keeps positions on a half-pixel grid.
bool near(const QPointF &a, const QPointF &b, double tolerance = 0.51)
{
	return std::fabs(a.x() - b.x()) <= tolerance && std::fabs(a.y() - b.y()) <= tolerance;
}

bool sameScale(const QPointF &scale, double x, double y)
{
	return std::fabs(scale.x() - x) < 1e-5 && std::fabs(scale.y() - y) < 1e-5;
}

QString show(const QPointF &p)
{
	return QStringLiteral("(%1, %2)").arg(p.x()).arg(p.y());
}

} // namespace

class TestPreviewEditing : public QObject {
	Q_OBJECT

	Fixture f;
	std::unique_ptr<PreviewDock> dock;
	obs_scene_t *scene = nullptr;

	// The dock on the screen at 540 x 960, half the canvas's size, with a scene to edit.
	void stage()
	{
		f.loadCanvas();
		scene = f.m->addScene("V");
		QVERIFY(scene);
		dock = std::make_unique<PreviewDock>();
		dock->resize(540, 960);
		dock->show();
		QVERIFY(QTest::qWaitForWindowExposed(dock.get()));
		QVERIFY(ObsTestEnv::waitUntil([this] { return display()->width() > 0 && display()->height() > 0; }));
	}

	QTDisplay *display() const { return dock->preview(); }
	PreviewEditor *editor() const { return dock->editor(); }

	// The display's logical pixel showing a canvas point.
	QPoint at(const QPointF &canvas) const
	{
		const ViewTransform v = editor()->viewTransform();
		return QPoint(int(std::lround((canvas.x() * v.scale + v.offsetX) / v.pixelRatio)),
			      int(std::lround((canvas.y() * v.scale + v.offsetY) / v.pixelRatio)));
	}

	// Where the editor will believe the pointer is when it is put on the pixel nearest to canvas.
	QPointF onGrid(const QPointF &canvas) const { return editor()->mapToCanvas(at(canvas)); }

	void drag(const QPointF &from, const QPointF &to, Qt::KeyboardModifiers modifiers = {})
	{
		QTest::mousePress(display(), Qt::LeftButton, modifiers, at(from));
		// Through a point halfway: a drag is a series of moves, each from the press.
		QTest::mouseEvent(QTest::MouseMove, display(), Qt::NoButton, modifiers, at((from + to) / 2));
		QTest::mouseEvent(QTest::MouseMove, display(), Qt::NoButton, modifiers, at(to));
		QTest::mouseRelease(display(), Qt::LeftButton, modifiers, at(to));
	}

	void hover(const QPointF &canvas)
	{
		QMouseEvent move(QEvent::MouseMove, QPointF(at(canvas)), display()->mapToGlobal(QPointF(at(canvas))),
				 Qt::NoButton, Qt::NoButton, Qt::NoModifier);
		QCoreApplication::sendEvent(display(), &move);
	}

private slots:
	void initTestCase() { f.initTestCase(); }
	void cleanupTestCase() { f.cleanupTestCase(); }
	void init() { f.init(); }
	void cleanup()
	{
		setConfirmHandler(nullptr);
		setDialogHandler(nullptr);
		setMenuHandler(nullptr);
		dock.reset();
		scene = nullptr;
		ObsTestEnv::pump(2 * CollectionSaver::kDelayMs);
		f.cleanup();
	}

	// ---- the geometry

	void viewTransform_data()
	{
		QTest::addColumn<QSizeF>("widget");
		QTest::addColumn<double>("ratio");
		QTest::addColumn<QSizeF>("canvas");
		QTest::addColumn<double>("scale");
		QTest::addColumn<QPointF>("offset");
		QTest::newRow("exact fit") << QSizeF(540, 960) << 1.0 << QSizeF(1080, 1920) << 0.5 << QPointF(0, 0);
		QTest::newRow("wider display: bars left and right")
			<< QSizeF(1000, 960) << 1.0 << QSizeF(1080, 1920) << 0.5 << QPointF(230, 0);
		QTest::newRow("taller display: bars above and below")
			<< QSizeF(540, 1000) << 1.0 << QSizeF(1080, 1920) << 0.5 << QPointF(0, 20);
		QTest::newRow("device pixels count")
			<< QSizeF(270, 480) << 2.0 << QSizeF(1080, 1920) << 0.5 << QPointF(0, 0);
		QTest::newRow("no canvas: identity") << QSizeF(540, 960) << 1.5 << QSizeF(0, 0) << 1.0 << QPointF(0, 0);
		QTest::newRow("empty display: identity")
			<< QSizeF(0, 960) << 1.0 << QSizeF(1080, 1920) << 1.0 << QPointF(0, 0);
	}

	void viewTransform()
	{
		QFETCH(QSizeF, widget);
		QFETCH(double, ratio);
		QFETCH(QSizeF, canvas);
		QFETCH(double, scale);
		QFETCH(QPointF, offset);
		const ViewTransform v =
			makeViewTransform(widget.width(), widget.height(), ratio, canvas.width(), canvas.height());
		QCOMPARE(v.scale, scale);
		QCOMPARE(v.offsetX, offset.x());
		QCOMPARE(v.offsetY, offset.y());
		QCOMPARE(v.pixelRatio, ratio);
		// The canvas point under a widget point maps back onto it.
		const QPointF canvasPoint = toCanvas(v, QPointF(123, 456));
		QCOMPARE((canvasPoint.x() * v.scale + v.offsetX) / ratio, 123.0);
		QCOMPARE((canvasPoint.y() * v.scale + v.offsetY) / ratio, 456.0);
	}

	void snapping_data()
	{
		QTest::addColumn<QRectF>("box"); // the item's extent at the press
		QTest::addColumn<QPointF>("delta");
		QTest::addColumn<double>("viewScale");
		QTest::addColumn<QPointF>("expected");
		const QRectF small(100, 300, 200, 100);
		QTest::newRow("far from every line") << small << QPointF(50, 50) << 1.0 << QPointF(50, 50);
		QTest::newRow("left edge within 8 px") << small << QPointF(-93, 0) << 1.0 << QPointF(-100, 0);
		QTest::newRow("left edge 9 px away") << small << QPointF(-91, 0) << 1.0 << QPointF(-91, 0);
		QTest::newRow("left edge crossed") << small << QPointF(-106, 0) << 1.0 << QPointF(-100, 0);
		QTest::newRow("right edge") << small << QPointF(777, 0) << 1.0 << QPointF(780, 0);
		QTest::newRow("centre") << small << QPointF(336, 0) << 1.0 << QPointF(340, 0);
		QTest::newRow("top edge") << small << QPointF(0, -295) << 1.0 << QPointF(0, -300);
		QTest::newRow("bottom edge") << small << QPointF(0, 1525) << 1.0 << QPointF(0, 1520);
		QTest::newRow("middle") << small << QPointF(0, 605) << 1.0 << QPointF(0, 610);
		QTest::newRow("both axes") << small << QPointF(-95, 1515) << 1.0 << QPointF(-100, 1520);
		// A box as wide as the canvas has both edges near their lines at once: the left one wins.
		QTest::newRow("left wins over right")
			<< QRectF(10, 300, 1076, 100) << QPointF(-5, 0) << 1.0 << QPointF(-10, 0);
		QTest::newRow("left wins, right exact")
			<< QRectF(6, 300, 1074, 100) << QPointF(0, 0) << 1.0 << QPointF(-6, 0);
		QTest::newRow("top wins over bottom")
			<< QRectF(0, 4, 100, 1914) << QPointF(0, 0) << 1.0 << QPointF(0, -4);
		// The distance is measured in display pixels: at half size 8 px are 16 canvas pixels.
		QTest::newRow("half-size view reaches 16 px") << small << QPointF(-85, 0) << 0.5 << QPointF(-100, 0);
		QTest::newRow("half-size view, 17 px") << small << QPointF(-83, 0) << 0.5 << QPointF(-83, 0);
	}

	void snapping()
	{
		QFETCH(QRectF, box);
		QFETCH(QPointF, delta);
		QFETCH(double, viewScale);
		QFETCH(QPointF, expected);
		const Extents start{box.left(), box.top(), box.right(), box.bottom()};
		QCOMPARE(snapMove(delta, start, 1080, 1920, viewScale), expected);
	}

	void dragScaleKeepsTheAspect_data()
	{
		QTest::addColumn<QPointF>("pointer");
		QTest::addColumn<QSizeF>("base");
		QTest::addColumn<double>("scale"); // -1: no resize
		const QPointF anchor(100, 100);
		QTest::newRow("wider pull wins") << anchor + QPointF(400, 100) << QSizeF(200, 100) << 2.0;
		QTest::newRow("taller pull wins") << anchor + QPointF(100, 300) << QSizeF(200, 100) << 3.0;
		QTest::newRow("either side of the anchor") << anchor - QPointF(100, 25) << QSizeF(200, 100) << 0.5;
		QTest::newRow("onto the anchor: the floor") << anchor << QSizeF(200, 100) << 0.02;
		QTest::newRow("just above the floor") << anchor + QPointF(6, 0) << QSizeF(200, 100) << 0.03;
		QTest::newRow("cropped to no width") << anchor + QPointF(400, 100) << QSizeF(0, 100) << -1.0;
		QTest::newRow("cropped to no height") << anchor + QPointF(400, 100) << QSizeF(200, -4) << -1.0;
	}

	void dragScaleKeepsTheAspect()
	{
		QFETCH(QPointF, pointer);
		QFETCH(QSizeF, base);
		QFETCH(double, scale);
		const std::optional<double> s = dragScale(pointer, QPointF(100, 100), base.width(), base.height());
		if (scale < 0) {
			QVERIFY(!s.has_value());
			return;
		}
		QVERIFY(s.has_value());
		QCOMPARE(*s, scale);
	}

	void handlesAndContainment()
	{
		const matrix4 box = boxMatrix(100, 200, 300, 150);
		const Corners c = boxCorners(box);
		QCOMPARE(c[0], QPointF(100, 200));
		QCOMPARE(c[1], QPointF(400, 200));
		QCOMPARE(c[2], QPointF(400, 350));
		QCOMPARE(c[3], QPointF(100, 350));
		QCOMPARE(oppositeCorner(0), 2);
		QCOMPARE(oppositeCorner(3), 1);

		const struct {
			QPointF p;
			double scale;
			int handle;
		} handles[] = {
			{{100, 200}, 1.0, 0},  {{409, 191}, 1.0, 1},  {{410, 200}, 1.0, -1}, {{400, 359}, 1.0, 2},
			{{91, 359}, 1.0, 3},   {{250, 275}, 1.0, -1}, {{118, 218}, 0.5, 0},  {{119, 200}, 0.5, -1},
			{{104, 204}, 0.01, 0}, // a tiny view reaches every corner: the first one is taken
		};
		for (const auto &h : handles)
			QVERIFY2(handleAt(c, h.p, h.scale) == h.handle, qPrintable(show(h.p)));

		for (const QPointF &inside : {QPointF(100, 200), QPointF(400, 350), QPointF(250, 275)})
			QVERIFY2(boxContains(box, inside), qPrintable(show(inside)));
		for (const QPointF &outside : {QPointF(99.9, 200), QPointF(250, 350.1), QPointF(0, 0)})
			QVERIFY2(!boxContains(box, outside), qPrintable(show(outside)));
		QVERIFY(!boxContains(boxMatrix(100, 200, 0, 150), QPointF(100, 250)));
	}

	void cursorsAndKeys()
	{
		QCOMPARE(cursorFor(0, true), Qt::SizeFDiagCursor);
		QCOMPARE(cursorFor(2, false), Qt::SizeFDiagCursor);
		QCOMPARE(cursorFor(1, true), Qt::SizeBDiagCursor);
		QCOMPARE(cursorFor(3, false), Qt::SizeBDiagCursor);
		QCOMPARE(cursorFor(-1, true), Qt::SizeAllCursor);
		QCOMPARE(cursorFor(-1, false), Qt::ArrowCursor);

		const struct {
			int key;
			Qt::KeyboardModifiers modifiers;
			QPointF step;
		} steps[] = {{Qt::Key_Left, {}, {-1, 0}},
			     {Qt::Key_Right, {}, {1, 0}},
			     {Qt::Key_Up, {}, {0, -1}},
			     {Qt::Key_Down, {}, {0, 1}},
			     {Qt::Key_Left, Qt::ShiftModifier, {-10, 0}},
			     {Qt::Key_Down, Qt::ShiftModifier | Qt::ControlModifier, {0, 10}}};
		for (const auto &s : steps)
			QCOMPARE(nudgeFor(s.key, s.modifiers).value_or(QPointF(99, 99)), s.step);
		QVERIFY(!nudgeFor(Qt::Key_A, {}).has_value());
		QVERIFY(!nudgeFor(Qt::Key_Delete, {}).has_value());
	}

	// ---- the real preview

	void hitTestingSkipsLockedHiddenAndAudioOnly()
	{
		stage();
		// Bottom to top: a plain item, then over it a locked one, a hidden one and an audio-only one.
		obs_sceneitem_t *plain = Fixture::addColour(scene, "plain", 0xFF0000FF, 400, 400);
		obs_sceneitem_t *locked = Fixture::addColour(scene, "locked", 0xFF00FF00, 400, 400);
		obs_sceneitem_t *hidden = Fixture::addColour(scene, "hidden", 0xFFFF0000, 400, 400);
		OBSSourceAutoRelease audio = createSizedAudioSource("audio");
		obs_sceneitem_t *audioItem = obs_scene_add(scene, audio);
		QVERIFY(plain && locked && hidden && audioItem);
		// Placing an item works out its box at once; otherwise the next frame would.
		for (obs_sceneitem_t *each : {plain, locked, hidden, audioItem})
			place(each, 0, 0);
		obs_sceneitem_set_locked(locked, true);
		obs_sceneitem_set_visible(hidden, false);
		const QPointF p(200, 200);

		QCOMPARE(PreviewEditor::hitTestItem(scene, p).Get(), plain);
		QTest::mouseClick(display(), Qt::LeftButton, {}, at(p));
		QCOMPARE(f.m->selectedItemId(), obs_sceneitem_get_id(plain));

		// Each one qualifies once it is unlocked or shown; the topmost of those wins.
		obs_sceneitem_set_locked(locked, false);
		QCOMPARE(PreviewEditor::hitTestItem(scene, p).Get(), locked);
		obs_sceneitem_set_visible(hidden, true);
		QCOMPARE(PreviewEditor::hitTestItem(scene, p).Get(), hidden);
		QTest::mouseClick(display(), Qt::LeftButton, {}, at(p));
		QCOMPARE(f.m->selectedItemId(), obs_sceneitem_get_id(hidden));

		// Empty canvas clears the selection.
		QVERIFY(!PreviewEditor::hitTestItem(scene, QPointF(700, 1500)));
		QTest::mouseClick(display(), Qt::LeftButton, {}, at(QPointF(700, 1500)));
		QCOMPARE(f.m->selectedItemId(), int64_t(-1));
		QCOMPARE(editor()->dragState().mode, PreviewEditor::DragMode::None);
	}

	void mouseDragMovesAndSnaps()
	{
		stage();
		obs_sceneitem_t *item = Fixture::addColour(scene, "item", 0xFF0000FF, 200, 100);
		place(item, 300, 500);
		ObsTestEnv::pump(2 * CollectionSaver::kDelayMs);
		QVERIFY(!CollectionSaver::instance()->pending());
		const int saves = f.fe.saveCount();

		// A plain drag moves by the pointer's way, selecting the item on the way.
		const QPointF from(350, 550);
		const QPointF to(450, 750);
		drag(from, to);
		QCOMPARE(f.m->selectedItemId(), obs_sceneitem_get_id(item));
		QVERIFY2(near(positionOf(item), QPointF(300, 500) + onGrid(to) - onGrid(from)),
			 qPrintable(show(positionOf(item))));
		QCOMPARE(editor()->dragState().mode, PreviewEditor::DragMode::None);

		// The whole drag was one edit: one save, shortly after its end.
		QVERIFY(ObsTestEnv::waitUntil([&] { return f.fe.saveCount() > saves; }, 2000));
		ObsTestEnv::pump(2 * CollectionSaver::kDelayMs);
		QCOMPARE(f.fe.saveCount(), saves + 1);

		// Dropped with its left edge 6 px from the canvas edge, it lands on it; Control frees it.
		place(item, 300, 500);
		drag(QPointF(350, 550), QPointF(56, 550));
		QVERIFY2(near(positionOf(item), QPointF(0, 500)), qPrintable(show(positionOf(item))));
		place(item, 300, 500);
		drag(QPointF(350, 550), QPointF(56, 550), Qt::ControlModifier);
		QVERIFY2(near(positionOf(item),
			      QPointF(300, 500) + onGrid(QPointF(56, 550)) - onGrid(QPointF(350, 550))),
			 qPrintable(show(positionOf(item))));

		// An item nearly as wide as the canvas, both edges near their lines: the left edge wins.
		obs_sceneitem_t *wide = Fixture::addColour(scene, "wide", 0xFF00FF00, 1074, 100);
		place(wide, 30, 1200);
		drag(QPointF(500, 1250), QPointF(476, 1250));
		QVERIFY2(near(positionOf(wide), QPointF(0, 1200)), qPrintable(show(positionOf(wide))));

		// The bottom edge and the centre pull too.
		place(item, 300, 500);
		drag(QPointF(350, 550), QPointF(440, 1864));
		QVERIFY2(near(positionOf(item), QPointF(390, 1820)), qPrintable(show(positionOf(item))));
	}

	void cornerDragScalesAboutTheOppositeCorner()
	{
		stage();
		obs_sceneitem_t *item = Fixture::addColour(scene, "item", 0xFF0000FF, 200, 100);
		place(item, 300, 500);
		f.m->selectItem(obs_sceneitem_get_id(item));

		// Bottom-right handle: the top-left corner stays, one scale for both axes.
		drag(QPointF(500, 600), QPointF(700, 650));
		QCOMPARE(scaleOf(item), QPointF(2, 2));
		Corners c = PreviewEditor::itemCorners(item);
		QVERIFY2(near(c[0], QPointF(300, 500)), qPrintable(show(c[0])));
		QVERIFY2(near(c[2], QPointF(700, 700)), qPrintable(show(c[2])));

		// Top-left handle dragged onto the far corner: never below 0.02, and the bottom-right stays.
		drag(QPointF(300, 500), QPointF(700, 700));
		QVERIFY2(sameScale(scaleOf(item), 0.02, 0.02), qPrintable(show(scaleOf(item))));
		c = PreviewEditor::itemCorners(item);
		QVERIFY2(near(c[2], QPointF(700, 700)), qPrintable(show(c[2])));

		// A flipped item keeps its flip.
		place(item, 300, 500);
		vec2 flipped;
		vec2_set(&flipped, -1.0f, 1.0f);
		obs_sceneitem_set_scale(item, &flipped);
		c = PreviewEditor::itemCorners(item);
		drag(c[2], c[2] + QPointF(0, 100));
		QCOMPARE(scaleOf(item), QPointF(-2, 2));

		// Cropped to nothing across: its handle is grabbed, but there is nothing to scale.
		place(item, 300, 500);
		obs_sceneitem_crop crop = {100, 0, 100, 0};
		obs_sceneitem_set_crop(item, &crop);
		c = PreviewEditor::itemCorners(item);
		QTest::mousePress(display(), Qt::LeftButton, {}, at(c[2]));
		QCOMPARE(editor()->dragState().mode, PreviewEditor::DragMode::Resize);
		QTest::mouseMove(display(), at(c[2] + QPointF(300, 300)));
		QTest::mouseRelease(display(), Qt::LeftButton, {}, at(c[2] + QPointF(300, 300)));
		QCOMPARE(scaleOf(item), QPointF(1, 1));

		// A locked item offers no handles.
		obs_sceneitem_crop none = {};
		obs_sceneitem_set_crop(item, &none);
		obs_sceneitem_set_locked(item, true);
		QTest::mousePress(display(), Qt::LeftButton, {}, at(QPointF(500, 600)));
		QCOMPARE(editor()->dragState().mode, PreviewEditor::DragMode::None);
		QTest::mouseRelease(display(), Qt::LeftButton, {}, at(QPointF(500, 600)));
	}

	void cursorShowsWhatAPressWouldDo()
	{
		stage();
		obs_sceneitem_t *item = Fixture::addColour(scene, "item", 0xFF0000FF, 200, 100);
		place(item, 300, 500);
		hover(QPointF(400, 550));
		QCOMPARE(display()->cursor().shape(), Qt::ArrowCursor); // nothing selected yet
		f.m->selectItem(obs_sceneitem_get_id(item));
		const struct {
			QPointF p;
			Qt::CursorShape shape;
		} spots[] = {{{300, 500}, Qt::SizeFDiagCursor}, {{500, 600}, Qt::SizeFDiagCursor},
			     {{500, 500}, Qt::SizeBDiagCursor}, {{300, 600}, Qt::SizeBDiagCursor},
			     {{400, 550}, Qt::SizeAllCursor},   {{800, 1000}, Qt::ArrowCursor}};
		for (const auto &spot : spots) {
			hover(spot.p);
			QVERIFY2(display()->cursor().shape() == spot.shape, qPrintable(show(spot.p)));
		}
		obs_sceneitem_set_locked(item, true);
		hover(QPointF(400, 550));
		QCOMPARE(display()->cursor().shape(), Qt::ArrowCursor);
	}

	void arrowKeysNudgeAndDeleteRemoves()
	{
		stage();
		obs_sceneitem_t *item = Fixture::addColour(scene, "item", 0xFF0000FF, 200, 100);
		place(item, 300, 500);
		const int64_t id = obs_sceneitem_get_id(item);

		// Nothing selected: the keys change nothing.
		QTest::keyClick(display(), Qt::Key_Left);
		QCOMPARE(positionOf(item), QPointF(300, 500));

		QTest::mouseClick(display(), Qt::LeftButton, {}, at(QPointF(400, 550)));
		QCOMPARE(dock->focusWidget(), display());
		const struct {
			Qt::Key key;
			Qt::KeyboardModifiers modifiers;
			QPointF expected;
		} presses[] = {{Qt::Key_Left, {}, {299, 500}},
			       {Qt::Key_Up, {}, {299, 499}},
			       {Qt::Key_Right, Qt::ShiftModifier, {309, 499}},
			       {Qt::Key_Down, Qt::ShiftModifier, {309, 509}}};
		for (const auto &press : presses) {
			QTest::keyClick(display(), press.key, press.modifiers);
			QCOMPARE(positionOf(item), press.expected);
		}

		// OBS's window may bind these keys; with the preview focused they are the preview's.
		QKeyEvent override(QEvent::ShortcutOverride, Qt::Key_Delete, Qt::NoModifier);
		override.ignore();
		QCoreApplication::sendEvent(display(), &override);
		QVERIFY(override.isAccepted());
		QKeyEvent other(QEvent::ShortcutOverride, Qt::Key_F5, Qt::NoModifier);
		other.ignore();
		QCoreApplication::sendEvent(display(), &other);
		QVERIFY(!other.isAccepted());

		// Locked: no nudge, no removal.
		obs_sceneitem_set_locked(item, true);
		QStringList asked;
		bool answer = false;
		setConfirmHandler([&](const QString &, const QString &text) {
			asked << text;
			return answer;
		});
		QTest::keyClick(display(), Qt::Key_Right);
		QTest::keyClick(display(), Qt::Key_Delete);
		QCOMPARE(positionOf(item), QPointF(309, 509));
		QVERIFY(asked.isEmpty());
		obs_sceneitem_set_locked(item, false);

		// Delete asks first; "No" keeps the item, "Yes" removes it and clears the selection.
		QTest::keyClick(display(), Qt::Key_Delete);
		QCOMPARE(asked, QStringList{QStringLiteral("Are you sure you wish to remove 'item' from this vertical "
							   "scene?")});
		QVERIFY(obs_scene_find_sceneitem_by_id(scene, id));
		QCOMPARE(f.m->selectedItemId(), id);
		answer = true;
		QTest::keyClick(display(), Qt::Key_Backspace);
		QVERIFY(!obs_scene_find_sceneitem_by_id(scene, id));
		QCOMPARE(f.m->selectedItemId(), int64_t(-1));
		QCOMPARE(asked.size(), 2);
	}

	void rightClickSelectsBeforeTheMenu()
	{
		stage();
		obs_sceneitem_t *lower = Fixture::addColour(scene, "lower", 0xFF0000FF, 200, 100);
		obs_sceneitem_t *upper = Fixture::addColour(scene, "upper", 0xFF00FF00, 200, 100);
		place(lower, 100, 100);
		place(upper, 600, 100);
		f.m->selectItem(obs_sceneitem_get_id(lower));

		int64_t selectedWhenShown = -2;
		QStringList entries;
		QString choice;
		setMenuHandler([&](QMenu *menu) -> QAction * {
			selectedWhenShown = f.m->selectedItemId();
			entries.clear();
			QAction *chosen = nullptr;
			for (QAction *action : menu->actions()) {
				entries << action->text();
				if (!choice.isEmpty() && action->text() == choice)
					chosen = action;
			}
			return chosen;
		});
		QTest::mouseClick(display(), Qt::RightButton, {}, at(QPointF(700, 150)));
		QCOMPARE(selectedWhenShown, obs_sceneitem_get_id(upper));
		QVERIFY(entries.contains(translate("Sources.Transform")));

		// On empty canvas the selection stays and the menu still opens.
		QTest::mouseClick(display(), Qt::RightButton, {}, at(QPointF(500, 1500)));
		QCOMPARE(selectedWhenShown, obs_sceneitem_get_id(upper));

		// The menu's transform entry opens the dialog for the item.
		TransformDialog *opened = nullptr;
		double shownX = -1;
		setDialogHandler([&](QDialog *dialog) {
			opened = qobject_cast<TransformDialog *>(dialog);
			shownX = opened ? opened->positionXField()->value() : -1;
			return int(QDialog::Accepted);
		});
		choice = translate("Sources.Transform");
		QTest::mouseClick(display(), Qt::RightButton, {}, at(QPointF(700, 150)));
		QVERIFY(opened);
		QCOMPARE(shownX, 600.0);
	}

	void doubleClickOpensTheTransformDialog()
	{
		stage();
		obs_sceneitem_t *item = Fixture::addColour(scene, "item", 0xFF0000FF, 200, 100);
		place(item, 300, 500);
		int dialogs = 0;
		double shownY = -1;
		setDialogHandler([&](QDialog *dialog) {
			dialogs++;
			if (auto *transform = qobject_cast<TransformDialog *>(dialog))
				shownY = transform->positionYField()->value();
			return int(QDialog::Accepted);
		});

		// On empty canvas nothing is selected, so nothing opens.
		QTest::mouseClick(display(), Qt::LeftButton, {}, at(QPointF(800, 1500)));
		QTest::mouseDClick(display(), Qt::LeftButton, {}, at(QPointF(800, 1500)));
		QTest::mouseRelease(display(), Qt::LeftButton, {}, at(QPointF(800, 1500)));
		QCOMPARE(dialogs, 0);

		QTest::mouseClick(display(), Qt::LeftButton, {}, at(QPointF(400, 550)));
		QTest::mouseDClick(display(), Qt::LeftButton, {}, at(QPointF(400, 550)));
		QTest::mouseRelease(display(), Qt::LeftButton, {}, at(QPointF(400, 550)));
		QCOMPARE(dialogs, 1);
		QCOMPARE(shownY, 500.0);
		QCOMPARE(editor()->dragState().mode, PreviewEditor::DragMode::None);
	}

	void dragEndsWithoutItsRelease()
	{
		stage();
		obs_sceneitem_t *item = Fixture::addColour(scene, "item", 0xFF0000FF, 200, 100);
		place(item, 300, 500);

		// The release went to another window: the next move, without the button, ends the drag.
		QTest::mousePress(display(), Qt::LeftButton, {}, at(QPointF(400, 550)));
		hover(QPointF(500, 650));
		QCOMPARE(editor()->dragState().mode, PreviewEditor::DragMode::None);
		QCOMPARE(positionOf(item), QPointF(300, 500));
		QTest::mouseRelease(display(), Qt::LeftButton, {}, at(QPointF(500, 650)));

		QTest::mousePress(display(), Qt::LeftButton, {}, at(QPointF(400, 550)));
		QTest::mouseMove(display(), at(QPointF(500, 650)));
		QCOMPARE(editor()->dragState().mode, PreviewEditor::DragMode::Move);
		const QPointF moved = positionOf(item);

		// Studio mode edits the preview scene from now on: the drag is over and the item stays.
		f.m->setStudioMode(true);
		QCOMPARE(editor()->dragState().mode, PreviewEditor::DragMode::None);
		QTest::mouseMove(display(), at(QPointF(700, 850)));
		QTest::mouseRelease(display(), Qt::LeftButton, {}, at(QPointF(700, 850)));
		QCOMPARE(positionOf(item), moved);
	}
};

STILWANE_TEST_MAIN(TestPreviewEditing)

#include "test_preview_editing.moc"
