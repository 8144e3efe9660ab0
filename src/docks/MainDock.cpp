// SPDX-License-Identifier: GPL-2.0-or-later
#include <docks/MainDock.hpp>

#include <canvas/CanvasManager.hpp>
#include <docks/AudioDock.hpp>
#include <widgets/IconButton.hpp>
#include <docks/OutputDock.hpp>
#include <docks/ScenesDock.hpp>
#include <docks/SourcesDock.hpp>
#include <docks/TransitionsDock.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>
#include <preview/PreviewDock.hpp>
#include <preview/Projectors.hpp>

#include <QButtonGroup>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace stilwane {

namespace {

// Below this the pages are too short to show a list and its buttons.
constexpr int kMinBottomHeight = 180;

struct TabInfo {
	const char *key;
	const char *name;
};

constexpr TabInfo kTabs[] = {
	{"Main.Scenes", "scenes"},
	{"Main.Sources", "sources"},
	{"Main.Transitions", "transitions"},
	{"Main.Audio", "audio"},
};

} // namespace

MainDock::MainDock(QWidget *parent) : QWidget(parent)
{
	setObjectName("stilwane_main_dock");
	setMinimumWidth(260);
	auto *layout = new QVBoxLayout(this);
	layout->setContentsMargins(2, 2, 2, 2);
	layout->setSpacing(0);

	splitter = new QSplitter(Qt::Vertical, this);
	splitter->setObjectName("stilwane_splitter");
	splitter->setBackgroundRole(QPalette::Window);
	splitter->setAutoFillBackground(true);
	splitter->setChildrenCollapsible(false);
	splitter->setHandleWidth(3);
	splitter->setStyleSheet("QSplitter::handle { background: palette(mid); border: none; }");
	layout->addWidget(splitter);

	splitter->addWidget(buildTopPane());
	splitter->addWidget(buildBottomPane());
	splitter->setStretchFactor(0, 1);
	splitter->setStretchFactor(1, 0);
	splitter->setSizes({380, kMinBottomHeight});

	connect(previewDock, &PreviewDock::fittedHeightChanged, this, &MainDock::scheduleFit);
	connect(CanvasManager::instance(), &CanvasManager::canvasChanged, this, &MainDock::scheduleFit);
	connect(CanvasManager::instance(), &CanvasManager::studioModeChanged, this, &MainDock::scheduleFit);
	connect(splitter, &QSplitter::splitterMoved, this, &MainDock::onSplitterMoved);
	topPane->installEventFilter(this);
	splitter->installEventFilter(this);

	QTimer::singleShot(0, this, [this] { setCollapsed(config().mainDockCollapsed); });
}

MainDock::~MainDock() = default;

QWidget *MainDock::buildTopPane()
{
	topPane = new QWidget(splitter);
	topPane->setObjectName("stilwane_top_pane");
	auto *layout = new QVBoxLayout(topPane);
	layout->setContentsMargins(0, 0, 0, 0);
	layout->setSpacing(2);

	previewDock = new PreviewDock(topPane);
	layout->addWidget(previewDock, 1);

	auto *toolRow = new QWidget(topPane);
	toolRow->setObjectName("stilwane_tool_row");
	auto *row = new QHBoxLayout(toolRow);
	row->setContentsMargins(0, 0, 0, 0);
	row->setSpacing(1);

	// The output controls' buttons lead the row; their status line goes under it.
	outputControls = new OutputDock(topPane);
	row->addWidget(outputControls->takeButtonRow(toolRow));

	auto *line = new QFrame(toolRow);
	line->setObjectName("stilwane_tool_separator");
	line->setFrameShape(QFrame::VLine);
	line->setFrameShadow(QFrame::Sunken);
	line->setFixedHeight(18);
	row->addWidget(line);

	auto *transitionButton = new IconButton(toolRow, translate("Studio.Transition"));
	transitionButton->setObjectName("stilwane_studio_transition");
	transitionButton->setArrowType(Qt::RightArrow);
	transitionButton->setVisible(CanvasManager::instance()->studioMode());
	connect(CanvasManager::instance(), &CanvasManager::studioModeChanged, transitionButton,
		[transitionButton] { transitionButton->setVisible(CanvasManager::instance()->studioMode()); });
	connect(transitionButton, &QToolButton::clicked, this,
		[] { CanvasManager::instance()->transitionToProgram(-1, "button"); });
	row->addWidget(transitionButton);

	auto *projectorButton =
		new IconButton(toolRow, translate("Projector.OpenWindow"), nullptr, moduleIconPath("projector.svg"));
	projectorButton->setObjectName("stilwane_projector");
	projectorButton->setFixedWidth(38);
	projectorButton->setPopupMode(QToolButton::MenuButtonPopup);
	auto *projectorMenu = new QMenu(projectorButton);
	projectorMenu->setObjectName("stilwane_projector_menu");
	connect(projectorMenu, &QMenu::aboutToShow, projectorMenu,
		[projectorMenu] { fillProjectorMenu(projectorMenu); });
	projectorButton->setMenu(projectorMenu);
	connect(projectorButton, &QToolButton::clicked, this, [] { openWindowProjector(); });
	row->addWidget(projectorButton);

	previewDock->placeToggleButtons(row);

	auto *settingsButton = new IconButton(toolRow, translate("Menu.Settings"), "icon-gear");
	settingsButton->setObjectName("stilwane_settings");
	connect(settingsButton, &QToolButton::clicked, this, &MainDock::settingsRequested);
	row->addWidget(settingsButton);
	row->addStretch(1);
	layout->addWidget(toolRow);

	layout->addWidget(outputControls);
	return topPane;
}

QWidget *MainDock::buildBottomPane()
{
	bottomPane = new QWidget(splitter);
	bottomPane->setObjectName("stilwane_bottom_pane");
	bottomPane->setBackgroundRole(QPalette::Window);
	bottomPane->setAutoFillBackground(true);
	auto *layout = new QVBoxLayout(bottomPane);
	layout->setContentsMargins(0, 0, 0, 0);
	layout->setSpacing(0);

	tabBar = new QWidget(bottomPane);
	tabBar->setObjectName("stilwane_tab_bar");
	auto *bar = new QHBoxLayout(tabBar);
	bar->setContentsMargins(0, 0, 0, 0);
	bar->setSpacing(0);
	tabGroup = new QButtonGroup(this);
	tabGroup->setExclusive(true);

	int current = config().mainDockTab;
	if (current < 0 || current >= int(std::size(kTabs)))
		current = 0;

	for (int i = 0; i < int(std::size(kTabs)); i++) {
		const QString text = translate(kTabs[i].key);
		auto *button = new QToolButton(tabBar);
		button->setObjectName(QString("stilwane_tab_") + kTabs[i].name);
		button->setText(text);
		button->setToolTip(text);
		button->setAccessibleName(text);
		button->setToolButtonStyle(Qt::ToolButtonTextOnly);
		button->setCheckable(true);
		button->setAutoRaise(true);
		button->setStyleSheet("QToolButton { border: none; border-radius: 3px; padding: 4px 5px; }"
				      "QToolButton:checked { background: palette(highlight); "
				      "color: palette(highlighted-text); }");
		button->setChecked(i == current);
		tabGroup->addButton(button, i);
		bar->addWidget(button);
	}
	bar->addStretch(1);

	collapseButton = new IconButton(tabBar, translate("Main.Collapse"));
	collapseButton->setObjectName("stilwane_collapse");
	collapseButton->setCheckable(true);
	bar->addWidget(collapseButton);
	layout->addWidget(tabBar);

	tabStack = new QStackedWidget(bottomPane);
	tabStack->setObjectName("stilwane_tab_stack");
	auto *scenes = new ScenesDock(tabStack);
	scenes->setObjectName("stilwane_page_scenes");
	tabStack->addWidget(scenes);
	auto *sources = new SourcesDock(tabStack);
	sources->setObjectName("stilwane_page_sources");
	tabStack->addWidget(sources);
	auto *transitions = new TransitionsDock(tabStack);
	transitions->setObjectName("stilwane_page_transitions");
	tabStack->addWidget(transitions);
	audioPage = new AudioDock(tabStack);
	audioPage->setObjectName("stilwane_page_audio");
	tabStack->addWidget(audioPage);
	tabStack->setCurrentIndex(current);
	layout->addWidget(tabStack, 1);

	connect(tabGroup, &QButtonGroup::idClicked, this, [this](int id) {
		tabStack->setCurrentIndex(id);
		config().mainDockTab = id;
		saveConfig();
	});
	connect(collapseButton, &QToolButton::toggled, this, [this](bool collapsed) {
		setCollapsed(collapsed);
		config().mainDockCollapsed = collapsed;
		saveConfig();
	});
	return bottomPane;
}

bool MainDock::event(QEvent *event)
{
	bool result = QWidget::event(event);
	if (tabStack) {
		switch (event->type()) {
		case QEvent::Resize:
		case QEvent::Show:
		case QEvent::LayoutRequest:
			scheduleFit();
			break;
		default:
			break;
		}
	}
	return result;
}

bool MainDock::eventFilter(QObject *watched, QEvent *event)
{
	if ((watched == topPane || watched == splitter) &&
	    (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest))
		scheduleFit();
	return QWidget::eventFilter(watched, event);
}

// Resizes and layout changes come in bursts; one fit after the burst sees the final geometry.
void MainDock::scheduleFit()
{
	if (fitQueued)
		return;
	fitQueued = true;
	QTimer::singleShot(0, this, [this] {
		fitQueued = false;
		fitPreview();
	});
}

bool MainDock::isCollapsed() const
{
	return collapseButton->isChecked();
}

int MainDock::desiredTopHeight() const
{
	int fitted = previewDock->fittedHeight();
	if (fitted <= 0)
		return 0;
	int height = fitted - previewDock->height() + topPane->height();
	return std::min(std::max(height, topPane->minimumSizeHint().height()), QWIDGETSIZE_MAX);
}

void MainDock::fitPreview()
{
	// Our own setSizes emits no splitterMoved, but resizes it causes must not count as the user's.
	bool wasAdjusting = adjusting;
	adjusting = true;
	auto restore = qScopeGuard([&] { adjusting = wasAdjusting; });

	if (isCollapsed()) {
		if (topPane->maximumHeight() != QWIDGETSIZE_MAX)
			topPane->setMaximumHeight(QWIDGETSIZE_MAX);
		return;
	}
	int desired = desiredTopHeight();
	if (desired <= 0)
		return;
	if (topPane->maximumHeight() != desired)
		topPane->setMaximumHeight(desired);

	int total = splitter->contentsRect().height() - splitter->handleWidth();
	int minimum = topPane->minimumSizeHint().height();
	QList<int> sizes = splitter->sizes();
	if (sizes.size() != 2 || total < minimum + kMinBottomHeight)
		return;

	int wanted = userTopHeight;
	if (wanted < 1 || wanted > desired)
		wanted = desired;
	wanted = std::min(wanted, total - kMinBottomHeight);
	int top = std::max(minimum, wanted);
	if (top != sizes[0] || sizes[1] != total - top)
		splitter->setSizes({top, total - top});
}

void MainDock::onSplitterMoved()
{
	if (adjusting || isCollapsed())
		return;
	int desired = desiredTopHeight();
	QList<int> sizes = splitter->sizes();
	if (desired > 0 && sizes.size() == 2)
		userTopHeight = sizes[0] < desired ? sizes[0] : 0;
	scheduleFit();
}

void MainDock::setCollapsed(bool collapsed)
{
	bool wasAdjusting = adjusting;
	adjusting = true;
	auto restore = qScopeGuard([&] { adjusting = wasAdjusting; });

	QList<int> sizes = splitter->sizes();
	if (collapsed) {
		if (!tabStack->isHidden() && sizes.size() == 2)
			expandedBottomHeight = sizes[1];
		topPane->setMaximumHeight(QWIDGETSIZE_MAX);
	}
	bottomPane->setMinimumHeight(collapsed ? 0 : kMinBottomHeight);
	tabStack->setVisible(!collapsed);

	{
		QSignalBlocker blocker(collapseButton);
		collapseButton->setChecked(collapsed);
	}
	collapseButton->setArrowType(collapsed ? Qt::UpArrow : Qt::DownArrow);
	const QString text = translate(collapsed ? "Main.Expand" : "Main.Collapse");
	collapseButton->setToolTip(text);
	collapseButton->setAccessibleName(text);

	int barHeight = tabBar->sizeHint().height();
	bottomPane->setMaximumHeight(collapsed ? barHeight : QWIDGETSIZE_MAX);

	int total = splitter->height() - splitter->handleWidth();
	int bottom = collapsed ? barHeight : expandedBottomHeight;
	int top = total - bottom;
	if (top < 2)
		top = 1;
	splitter->setSizes({top, bottom});
	scheduleFit();
}

void MainDock::fillProjectorMenu(QMenu *menu)
{
	menu->clear();
	// clear() drops the actions only; the submenu of the last opening is a child of the menu.
	for (QMenu *old : menu->findChildren<QMenu *>("stilwane_projector_fullscreen", Qt::FindDirectChildrenOnly))
		old->deleteLater();
	QMenu *fullscreen = menu->addMenu(translate("Projector.OpenFullscreen"));
	fullscreen->setObjectName("stilwane_projector_fullscreen");
	addFullscreenProjectorEntries(fullscreen);
}

} // namespace stilwane
