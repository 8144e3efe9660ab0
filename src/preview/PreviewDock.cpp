// SPDX-License-Identifier: GPL-2.0-or-later
#include <preview/PreviewDock.hpp>

#include <canvas/CanvasManager.hpp>
#include <canvas/CollectionSaver.hpp>
#include <widgets/IconButton.hpp>
#include <dialogs/MessageBoxes.hpp>
#include <dialogs/SourceEdits.hpp>
#include <generate/ItemPlacement.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>
#include <preview/GuideOverlays.hpp>
#include <preview/Projectors.hpp>
#include <preview/PreviewEditor.hpp>
#include <preview/QTDisplay.hpp>

#include <QBoxLayout>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <utility>

#include <obs-frontend-api.h>
#include <obs.hpp>

namespace stilwane {

namespace {

QLabel *makeCaption(const char *key, QWidget *parent)
{
	auto *label = new QLabel(translate(key), parent);
	label->setAlignment(Qt::AlignCenter);
	QFont font = label->font();
	if (font.pointSizeF() > 0)
		font.setPointSizeF(font.pointSizeF() * 0.9);
	label->setFont(font);
	return label;
}

QVBoxLayout *makeColumnLayout(QWidget *column)
{
	auto *layout = new QVBoxLayout(column);
	layout->setContentsMargins(0, 0, 0, 0);
	layout->setSpacing(2);
	return layout;
}

void prepareDisplay(QTDisplay *display, Qt::FocusPolicy focus)
{
	display->setMinimumSize(90, 160);
	display->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
	display->setFocusPolicy(focus);
}

// ARGB32 words are B, G, R, A in memory on little-endian machines: libobs's BGRA.
QImage asBgra(QImage image)
{
	if (!image.isNull() && image.format() != QImage::Format_ARGB32)
		image = image.convertToFormat(QImage::Format_ARGB32);
	return image;
}

// Caller must be inside obs_enter_graphics; the image is ARGB32.
gs_texture_t *textureFromImage(const QImage &image)
{
	if (image.isNull())
		return nullptr;
	const uint8_t *bits = image.constBits();
	return gs_texture_create(uint32_t(image.width()), uint32_t(image.height()), GS_BGRA, 1, &bits, 0);
}

} // namespace

void PreviewDock::TextureDeleter::operator()(gs_texture_t *texture) const
{
	obs_enter_graphics();
	gs_texture_destroy(texture);
	obs_leave_graphics();
}

PreviewDock::PreviewDock(QWidget *parent) : QWidget(parent)
{
	auto *outer = new QVBoxLayout(this);
	outer->setContentsMargins(0, 0, 0, 0);
	outer->setSpacing(2);
	auto *row = new QHBoxLayout();
	row->setContentsMargins(0, 0, 0, 0);
	row->setSpacing(4);
	outer->addLayout(row, 1);

	auto *previewColumn = new QWidget(this);
	QVBoxLayout *previewLayout = makeColumnLayout(previewColumn);
	previewLabel = makeCaption("Studio.Preview", previewColumn);
	previewLayout->addWidget(previewLabel);
	previewDisplay = new QTDisplay(previewColumn);
	prepareDisplay(previewDisplay, Qt::StrongFocus);
	previewDisplay->setMouseTracking(true);
	previewDisplay->installEventFilter(this);
	previewEditor = new PreviewEditor(previewDisplay, this);
	connect(previewEditor, &PreviewEditor::contextMenuRequested, this, &PreviewDock::showContextMenu);
	previewLayout->addWidget(previewDisplay, 1);
	row->addWidget(previewColumn, 1);

	programColumn = new QWidget(this);
	QVBoxLayout *programLayout = makeColumnLayout(programColumn);
	programLayout->addWidget(makeCaption("Studio.Program", programColumn));
	programDisplay = new QTDisplay(programColumn);
	prepareDisplay(programDisplay, Qt::NoFocus);
	programLayout->addWidget(programDisplay, 1);
	row->addWidget(programColumn, 1);

	guidesButton = new IconButton(this, translate("Preview.Guides"), nullptr, moduleIconPath("guides.svg"));
	phoneUiButton = new IconButton(this, translate("Preview.PhoneUi"), nullptr, moduleIconPath("phone.svg"));
	guidesButton->setCheckable(true);
	phoneUiButton->setCheckable(true);
	showGuides = config().showGuides;
	showPhoneUi = config().showPhoneUi;
	guidesButton->setChecked(showGuides);
	phoneUiButton->setChecked(showPhoneUi);
	// Until the main dock places them they would sit over the preview's top-left corner.
	guidesButton->hide();
	phoneUiButton->hide();

	connect(guidesButton, &QAbstractButton::toggled, this, &PreviewDock::onGuidesToggled);
	connect(phoneUiButton, &QAbstractButton::toggled, this, &PreviewDock::onPhoneUiToggled);
	for (QTDisplay *display : {previewDisplay, programDisplay}) {
		connect(display, &QTDisplay::displayCreated, this, &PreviewDock::onDisplayCreated);
		connect(display, &QTDisplay::displayResized, this, &PreviewDock::fittedHeightChanged);
	}
	CanvasManager *manager = CanvasManager::instance();
	connect(manager, &CanvasManager::canvasChanged, this, &PreviewDock::onCanvasChanged);
	connect(manager, &CanvasManager::editingSceneChanged, this, &PreviewDock::onCurrentSceneChanged);
	connect(manager, &CanvasManager::studioModeChanged, this, &PreviewDock::onStudioModeChanged);
	connect(manager, &CanvasManager::guidesChanged, this, &PreviewDock::onGuidesChanged);

	onCanvasChanged();
	onStudioModeChanged();
	onCurrentSceneChanged();
}

PreviewDock::~PreviewDock()
{
	// Removing a callback waits for a draw that is running, so none can see a half-destroyed dock.
	if (obs_display_t *display = previewDisplay->display())
		obs_display_remove_draw_callback(display, renderPreview, this);
	if (obs_display_t *display = programDisplay->display())
		obs_display_remove_draw_callback(display, renderProgram, this);

	// The weak references and textures go with the members, after the callbacks are gone.
}

void PreviewDock::placeToggleButtons(QBoxLayout *layout)
{
	if (!layout)
		return;
	QWidget *owner = layout->parentWidget();
	for (IconButton *button : {guidesButton, phoneUiButton}) {
		button->setParent(owner);
		layout->addWidget(button);
		button->show();
	}
}

void PreviewDock::onCanvasChanged()
{
	CanvasManager *manager = CanvasManager::instance();
	OBSWeakCanvas weak = manager->hasCanvas() ? OBSGetWeakRef(manager->canvas()) : OBSWeakCanvas();
	{
		std::lock_guard<std::mutex> lock(renderLock);
		std::swap(weak, weakCanvas);
	}

	const QString tip =
		manager->hasCanvas()
			? translate("Preview.CanvasSize").arg(manager->canvasWidth()).arg(manager->canvasHeight())
			: translate("Output.NoCanvas");
	setToolTip(tip);
	previewDisplay->setToolTip(tip);
	programDisplay->setToolTip(tip);
	rebuildOverlayTextures();
}

void PreviewDock::onCurrentSceneChanged()
{
	OBSSourceAutoRelease scene = CanvasManager::instance()->editingScene();
	OBSWeakSource weak = scene ? OBSGetWeakRef(scene.Get()) : OBSWeakSource();
	{
		std::lock_guard<std::mutex> lock(renderLock);
		std::swap(weak, weakEditingScene);
	}
	previewEditor->cancelDrag();
}

void PreviewDock::onStudioModeChanged()
{
	const bool studio = CanvasManager::instance()->studioMode();
	studioModeActive = studio;
	previewLabel->setVisible(studio);
	programColumn->setVisible(studio);
}

void PreviewDock::onDisplayCreated(QTDisplay *display)
{
	if (!display || !display->display())
		return;
	if (display == programDisplay)
		obs_display_add_draw_callback(display->display(), renderProgram, this);
	else
		obs_display_add_draw_callback(display->display(), renderPreview, this);
}

void PreviewDock::onGuidesToggled(bool on)
{
	showGuides = on;
	config().showGuides = on;
	saveConfig();
}

void PreviewDock::onPhoneUiToggled(bool on)
{
	showPhoneUi = on;
	config().showPhoneUi = on;
	saveConfig();
}

void PreviewDock::onGuidesChanged()
{
	rebuildOverlayTextures();
}

int PreviewDock::fittedHeight() const
{
	CanvasManager *manager = CanvasManager::instance();
	const uint64_t canvasWidth = manager->canvasWidth();
	const uint64_t canvasHeight = manager->canvasHeight();
	const qreal ratio = previewDisplay->devicePixelRatioF();
	if (!manager->hasCanvas() || canvasWidth == 0 || canvasHeight == 0 || previewDisplay->width() <= 0 ||
	    ratio <= 0)
		return 0;

	int width = previewDisplay->width();
	if (!programColumn->isHidden())
		width = std::min(width, programDisplay->width());
	const int64_t px = std::llround(width * ratio);
	const int64_t hpx = int64_t(canvasHeight) * px / int64_t(canvasWidth);
	const int h = int(std::floor(std::min(16777215.0, double(hpx) / ratio)));
	return h + height() - previewDisplay->height();
}

void PreviewDock::rebuildOverlayTextures()
{
	CanvasManager *manager = CanvasManager::instance();
	Texture label;
	Texture phone;
	const int width = int(manager->canvasWidth());
	const int height = int(manager->canvasHeight());
	const QRectF frame = safeArea(width, height);
	if (manager->hasCanvas() && width > 0 && height > 0) {
		const QImage labelImage = asBgra(renderSafeLabelImage(width, height));
		const QImage phoneImage = asBgra(renderPhoneUiImage(width, height));
		obs_enter_graphics();
		label.reset(textureFromImage(labelImage));
		phone.reset(textureFromImage(phoneImage));
		obs_leave_graphics();
	}
	{
		std::lock_guard<std::mutex> lock(renderLock);
		std::swap(label, safeLabelTexture);
		std::swap(phone, phoneUiTexture);
		safeFrame = frame;
	}
	// The old textures are destroyed here, outside the lock.
}

bool PreviewDock::eventFilter(QObject *watched, QEvent *event)
{
	if (watched == previewDisplay && previewEditor->handleEvent(event))
		return true;
	return QWidget::eventFilter(watched, event);
}

void PreviewDock::showContextMenu(const QPoint &globalPos)
{
	QPointer<QMenu> menu = buildContextMenu();
	execMenu(menu, globalPos);
	delete menu.data();
}

QMenu *PreviewDock::buildContextMenu()
{
	auto *menu = new QMenu(this);
	menu->setToolTipsVisible(true);

	QAction *guides = menu->addAction(translate("Preview.Guides"));
	guides->setCheckable(true);
	guides->setChecked(showGuides);
	connect(guides, &QAction::toggled, guidesButton, &QAbstractButton::setChecked);
	QAction *phone = menu->addAction(translate("Preview.PhoneUi"));
	phone->setCheckable(true);
	phone->setChecked(showPhoneUi);
	connect(phone, &QAction::toggled, phoneUiButton, &QAbstractButton::setChecked);

	menu->addSeparator();
	connect(menu->addAction(translate("Projector.OpenWindow")), &QAction::triggered, menu,
		[] { openWindowProjector(); });
	addFullscreenProjectorEntries(menu->addMenu(translate("Projector.OpenFullscreen")));

	CanvasManager *manager = CanvasManager::instance();
	obs_sceneitem_t *item = manager->selectedItem();
	if (!item || obs_sceneitem_locked(item))
		return menu;

	// The menu may outlive the item: every action looks it up again when it runs. Edits are saved
	// with the scene collection.
	const int64_t id = obs_sceneitem_get_id(item);
	OBSWeakSourceAutoRelease weakScene =
		obs_source_get_weak_source(obs_scene_get_source(obs_sceneitem_get_scene(item)));
	auto withItem = [id, weak = OBSWeakSource(weakScene.Get())](auto &&action) {
		return [id, weak, action]() {
			OBSSourceAutoRelease scene = obs_weak_source_get_source(weak);
			obs_scene_t *sceneData = obs_scene_from_source(scene);
			if (obs_sceneitem_t *found = sceneData ? obs_scene_find_sceneitem_by_id(sceneData, id)
							       : nullptr)
				action(found);
		};
	};
	auto edit = [](void (*placement)(obs_sceneitem_t *)) {
		return [placement](obs_sceneitem_t *found) {
			placement(found);
			CollectionSaver::instance()->request();
		};
	};

	menu->addSeparator();
	connect(menu->addAction(translate("Sources.FitWidth")), &QAction::triggered, menu,
		withItem(edit(fitItemToWidth)));
	connect(menu->addAction(translate("Sources.FitHeight")), &QAction::triggered, menu,
		withItem(edit(fitItemToHeight)));
	connect(menu->addAction(translate("Sources.Center")), &QAction::triggered, menu,
		withItem(edit(centerItemInCanvas)));
	connect(menu->addAction(translate("Sources.Transform")), &QAction::triggered, this,
		withItem([this](obs_sceneitem_t *found) { previewEditor->openTransform(found); }));

	menu->addSeparator();
	connect(menu->addAction(translate("Sources.Properties")), &QAction::triggered, menu,
		withItem([](obs_sceneitem_t *found) {
			obs_frontend_open_source_properties(obs_sceneitem_get_source(found));
		}));
	connect(menu->addAction(translate("Sources.Filters")), &QAction::triggered, menu,
		withItem([](obs_sceneitem_t *found) {
			obs_frontend_open_source_filters(obs_sceneitem_get_source(found));
		}));

	menu->addSeparator();
	connect(menu->addAction(translate("Sources.Rename")), &QAction::triggered, this,
		withItem([this](obs_sceneitem_t *found) {
			renameSourceAfterAsking(this, obs_sceneitem_get_source(found));
		}));
	connect(menu->addAction(translate("Sources.Remove")), &QAction::triggered, this,
		withItem([this](obs_sceneitem_t *found) {
			if (removeItemAfterAsking(this, found))
				CanvasManager::instance()->selectItem(-1);
		}));
	return menu;
}

} // namespace stilwane
