// SPDX-License-Identifier: GPL-2.0-or-later
#include <docks/SourcesDock.hpp>

#include <canvas/CanvasManager.hpp>
#include <canvas/CollectionSaver.hpp>
#include <widgets/IconButton.hpp>
#include <docks/SourceList.hpp>
#include <widgets/SourceName.hpp>
#include <widgets/SourceRow.hpp>
#include <widgets/SourceToggle.hpp>
#include <common/Module.hpp>

#include <QHBoxLayout>
#include <QMenu>
#include <QVBoxLayout>

#include <vector>

namespace stilwane {

namespace {

QString uuidOf(obs_source_t *source)
{
	return source ? QString::fromUtf8(obs_source_get_uuid(source)) : QString();
}

} // namespace

SourcesDock::SourcesDock(QWidget *parent) : QWidget(parent)
{
	setObjectName("stilwane_sources_dock");
	auto *layout = new QVBoxLayout(this);
	layout->setContentsMargins(0, 0, 0, 0);
	layout->setSpacing(2);

	list = new SourceList(this);
	list->setObjectName("stilwane_sources_list");
	list->setSelectionMode(QAbstractItemView::SingleSelection);
	list->setContextMenuPolicy(Qt::CustomContextMenu);
	list->setDragDropMode(QAbstractItemView::InternalMove);
	list->setDefaultDropAction(Qt::MoveAction);
	list->setDragDropOverwriteMode(false);
	list->setDropIndicatorShown(true);
	list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
	list->onDragStart = [this] {
		beginDrag();
	};
	list->onDragEnd = [this] {
		finishDrag();
	};
	list->onDropped = [this](int64_t id, int row) {
		applyDrop(id, row);
	};
	layout->addWidget(list, 1);
	layout->addWidget(buildButtonBar());

	connect(list, &QListWidget::currentRowChanged, this, &SourcesDock::onRowChanged);
	connect(list, &QListWidget::itemSelectionChanged, this, &SourcesDock::updateRowHighlight);
	connect(list, &QListWidget::itemDoubleClicked, this, &SourcesDock::openTransform);
	connect(list, &QWidget::customContextMenuRequested, this, &SourcesDock::onContextMenu);
	connect(removeButton, &QToolButton::clicked, this, &SourcesDock::removeItem);
	connect(transformButton, &QToolButton::clicked, this, &SourcesDock::openTransform);
	connect(upButton, &QToolButton::clicked, this, &SourcesDock::moveUp);
	connect(downButton, &QToolButton::clicked, this, &SourcesDock::moveDown);

	CanvasManager *manager = CanvasManager::instance();
	connect(manager, &CanvasManager::editingSceneChanged, this, &SourcesDock::onCurrentSceneChanged);
	connect(manager, &CanvasManager::canvasChanged, this, &SourcesDock::onCurrentSceneChanged);
	connect(manager, &CanvasManager::itemSelectionChanged, this, &SourcesDock::syncSelection);

	onCurrentSceneChanged();
}

SourcesDock::~SourcesDock()
{
	detachScene();
	dragScene = nullptr;
}

QWidget *SourcesDock::buildButtonBar()
{
	auto *bar = new QWidget(this);
	bar->setObjectName("stilwane_sources_buttons");
	auto *row = new QHBoxLayout(bar);
	row->setContentsMargins(2, 0, 2, 2);
	row->setSpacing(2);

	addButton = new IconButton(bar, translate("Sources.Add"), "icon-plus");
	addButton->setObjectName("stilwane_sources_add");
	auto *addMenu = new QMenu(addButton);
	buildAddMenu(addMenu);
	addButton->setMenu(addMenu);
	addButton->setPopupMode(QToolButton::InstantPopup);
	addButton->setStyleSheet(addButton->styleSheet() + "QToolButton::menu-indicator { image: none; width: 0px; }");

	removeButton = new IconButton(bar, translate("Sources.Remove"), "icon-trash");
	removeButton->setObjectName("stilwane_sources_remove");

	transformButton = new IconButton(bar, translate("Sources.Transform"), "icon-gear");
	transformButton->setObjectName("stilwane_sources_transform");

	upButton = new IconButton(bar, translate("Sources.MoveUp"), "icon-up");
	upButton->setObjectName("stilwane_sources_up");
	downButton = new IconButton(bar, translate("Sources.MoveDown"), "icon-down");
	downButton->setObjectName("stilwane_sources_down");

	row->addWidget(addButton);
	row->addWidget(removeButton);
	row->addWidget(transformButton);
	row->addStretch(1);
	row->addWidget(upButton);
	row->addWidget(downButton);
	return bar;
}

// ---- the attached scene

void SourcesDock::onCurrentSceneChanged()
{
	detachScene();
	OBSSourceAutoRelease editing = CanvasManager::instance()->editingScene();
	attachScene(editing);
	rebuild();
}

void SourcesDock::attachScene(obs_source_t *scene)
{
	if (!scene)
		return;
	attachedScene = scene;
	signal_handler_t *handler = obs_source_get_signal_handler(scene);
	addSignal.Connect(handler, "item_add", onSceneChanged, this);
	removeSignal.Connect(handler, "item_remove", onSceneChanged, this);
	reorderSignal.Connect(handler, "reorder", onSceneChanged, this);
	refreshSignal.Connect(handler, "refresh", onSceneChanged, this);
	visibleSignal.Connect(handler, "item_visible", onItemFlagChanged, this);
	lockedSignal.Connect(handler, "item_locked", onItemFlagChanged, this);
}

void SourcesDock::detachScene()
{
	if (!attachedScene)
		return;
	addSignal.Disconnect();
	removeSignal.Disconnect();
	reorderSignal.Disconnect();
	refreshSignal.Disconnect();
	visibleSignal.Disconnect();
	lockedSignal.Disconnect();
	attachedScene = nullptr;
}

QString SourcesDock::attachedSceneUuid() const
{
	return uuidOf(attachedScene);
}

bool SourcesDock::attachedIsScene() const
{
	return attachedScene && obs_scene_from_source(attachedScene);
}

bool SourcesDock::attachedIsLive() const
{
	return attachedScene && !obs_source_removed(attachedScene);
}

void SourcesDock::onSceneChanged(void *param, calldata_t *)
{
	static_cast<SourcesDock *>(param)->requestRebuild();
}

void SourcesDock::onItemFlagChanged(void *param, calldata_t *data)
{
	auto *self = static_cast<SourcesDock *>(param);
	auto *item = static_cast<obs_sceneitem_t *>(calldata_ptr(data, "item"));
	if (!item)
		return;
	const int64_t id = obs_sceneitem_get_id(item);
	auto *scene = static_cast<obs_scene_t *>(calldata_ptr(data, "scene"));
	const QString sceneUuid = uuidOf(obs_scene_get_source(scene ? scene : obs_sceneitem_get_scene(item)));
	QMetaObject::invokeMethod(
		self,
		[self, id, sceneUuid] {
			if (self->attachedScene && self->attachedSceneUuid() == sceneUuid)
				self->refreshRow(id);
		},
		Qt::QueuedConnection);
}

void SourcesDock::requestRebuild()
{
	if (refreshQueued.exchange(true))
		return;
	QMetaObject::invokeMethod(
		this,
		[this] {
			refreshQueued = false;
			rebuild();
		},
		Qt::QueuedConnection);
}

// ---- rows

SourceRow *SourcesDock::rowWidget(int row) const
{
	QListWidgetItem *entry = list->item(row);
	return entry ? qobject_cast<SourceRow *>(list->itemWidget(entry)) : nullptr;
}

void SourcesDock::rebuild()
{
	if (dragging) {
		rebuildAfterDrag = true;
		return;
	}
	rebuildAfterDrag = false;
	updating = true;
	const int64_t selected = CanvasManager::instance()->selectedItemId();
	list->clear();

	obs_scene_t *scene = attachedScene ? obs_scene_from_source(attachedScene) : nullptr;
	addButton->setEnabled(scene != nullptr);
	if (scene) {
		std::vector<obs_sceneitem_t *> items;
		obs_scene_enum_items(
			scene,
			[](obs_scene_t *, obs_sceneitem_t *item, void *param) {
				obs_sceneitem_addref(item);
				static_cast<std::vector<obs_sceneitem_t *> *>(param)->push_back(item);
				return true;
			},
			&items);
		for (auto it = items.rbegin(); it != items.rend(); ++it)
			addRow(*it, selected);
		for (obs_sceneitem_t *item : items)
			obs_sceneitem_release(item);
	} else {
		auto *entry = new QListWidgetItem(translate("Sources.NoScene"), list);
		entry->setFlags(Qt::NoItemFlags);
	}

	updating = false;
	updateRowHighlight();
}

void SourcesDock::addRow(obs_sceneitem_t *item, int64_t selected)
{
	obs_source_t *source = obs_sceneitem_get_source(item);
	const int64_t id = obs_sceneitem_get_id(item);
	const QString name = QString::fromUtf8(obs_source_get_name(source));

	auto *entry = new QListWidgetItem(list);
	entry->setData(Qt::UserRole, QVariant::fromValue<qlonglong>(id));
	entry->setData(Qt::AccessibleTextRole, name);
	entry->setToolTip(name);
	entry->setFlags(Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsEnabled);

	auto *row = new SourceRow(source, list);
	const bool visible = obs_sceneitem_visible(item);
	row->visibilityToggle()->setChecked(visible);
	row->lockToggle()->setChecked(obs_sceneitem_locked(item));
	row->nameLabel()->setEnabled(visible);
	entry->setSizeHint(QSize(0, row->sizeHint().height() + 8));

	const QString sceneUuid = attachedSceneUuid();
	connect(row->visibilityToggle(), &QCheckBox::clicked, this,
		[this, sceneUuid, id](bool checked) { setItemFlag(sceneUuid, id, ItemFlag::Visible, checked); });
	connect(row->lockToggle(), &QCheckBox::clicked, this,
		[this, sceneUuid, id](bool checked) { setItemFlag(sceneUuid, id, ItemFlag::Locked, checked); });
	// A rename anywhere (OBS's docks, obs-websocket, our menu) reaches the row; its entry follows. The
	// entry is looked up by its widget: a rebuild may have dropped it while the row waits for deletion.
	connect(row, &SourceRow::nameChanged, this, [this, row](const QString &newName) {
		for (int i = 0; i < list->count(); i++) {
			QListWidgetItem *each = list->item(i);
			if (list->itemWidget(each) != row)
				continue;
			each->setData(Qt::AccessibleTextRole, newName);
			each->setToolTip(newName);
		}
	});
	list->setItemWidget(entry, row);
	if (id == selected)
		list->setCurrentItem(entry);
}

void SourcesDock::refreshRow(int64_t id)
{
	obs_scene_t *scene = attachedScene ? obs_scene_from_source(attachedScene) : nullptr;
	if (!scene)
		return;
	struct State {
		int64_t id;
		bool found = false;
		bool visible = false;
		bool locked = false;
	} state{id};
	obs_scene_atomic_update(
		scene,
		[](void *param, obs_scene_t *scene) {
			auto *s = static_cast<State *>(param);
			if (obs_sceneitem_t *item = obs_scene_find_sceneitem_by_id(scene, s->id)) {
				s->found = true;
				s->visible = obs_sceneitem_visible(item);
				s->locked = obs_sceneitem_locked(item);
			}
		},
		&state);
	if (!state.found)
		return;
	for (int i = 0; i < list->count(); i++) {
		if (list->item(i)->data(Qt::UserRole).toLongLong() != id)
			continue;
		if (SourceRow *row = rowWidget(i)) {
			row->visibilityToggle()->setChecked(state.visible);
			row->lockToggle()->setChecked(state.locked);
			row->nameLabel()->setEnabled(state.visible);
		}
		return;
	}
}

void SourcesDock::setItemFlag(const QString &sceneUuid, int64_t id, ItemFlag which, bool checked)
{
	if (updating || !attachedScene || attachedSceneUuid() != sceneUuid)
		return;
	obs_scene_t *scene = obs_scene_from_source(attachedScene);
	if (!scene)
		return;
	struct Change {
		int64_t id;
		ItemFlag which;
		bool checked;
	} change{id, which, checked};
	obs_scene_atomic_update(
		scene,
		[](void *param, obs_scene_t *scene) {
			auto *c = static_cast<Change *>(param);
			obs_sceneitem_t *item = obs_scene_find_sceneitem_by_id(scene, c->id);
			if (!item)
				return;
			if (c->which == ItemFlag::Locked)
				obs_sceneitem_set_locked(item, c->checked);
			else
				obs_sceneitem_set_visible(item, c->checked);
		},
		&change);
	CollectionSaver::instance()->request();
}

// ---- selection, shared with the preview through the canvas manager

void SourcesDock::syncSelection()
{
	if (dragging)
		return;
	updating = true;
	const int64_t selected = CanvasManager::instance()->selectedItemId();
	QListWidgetItem *match = nullptr;
	for (int i = 0; i < list->count() && !match; i++) {
		QListWidgetItem *entry = list->item(i);
		if ((entry->flags() & Qt::ItemIsSelectable) && entry->data(Qt::UserRole).toLongLong() == selected)
			match = entry;
	}
	if (match)
		list->setCurrentItem(match);
	else
		list->setCurrentItem(nullptr);
	updating = false;
	updateRowHighlight();
}

void SourcesDock::onRowChanged(int row)
{
	if (updating || dragging)
		return;
	QListWidgetItem *entry = row >= 0 ? list->item(row) : nullptr;
	const int64_t id = entry && (entry->flags() & Qt::ItemIsSelectable) ? entry->data(Qt::UserRole).toLongLong()
									    : -1;
	CanvasManager::instance()->selectItem(id);
}

void SourcesDock::updateRowHighlight()
{
	for (int i = 0; i < list->count(); i++) {
		QListWidgetItem *entry = list->item(i);
		SourceRow *row = rowWidget(i);
		if (!row)
			continue;
		row->nameLabel()->setForegroundRole(entry->isSelected() ? QPalette::HighlightedText : QPalette::Text);
		row->nameLabel()->update();
	}
}

obs_sceneitem_t *SourcesDock::currentRowItem() const
{
	if (!attachedScene)
		return nullptr;
	QListWidgetItem *entry = list->currentItem();
	if (!entry || !(entry->flags() & Qt::ItemIsSelectable))
		return nullptr;
	obs_scene_t *scene = obs_scene_from_source(attachedScene);
	return scene ? obs_scene_find_sceneitem_by_id(scene, entry->data(Qt::UserRole).toLongLong()) : nullptr;
}

} // namespace stilwane
