// SPDX-License-Identifier: GPL-2.0-or-later
#include <docks/ScenesDock.hpp>

#include <canvas/CanvasManager.hpp>
#include <widgets/IconButton.hpp>
#include <dialogs/MessageBoxes.hpp>
#include <dialogs/SceneLinkDialog.hpp>
#include <dialogs/SceneTransitionDialog.hpp>
#include <dialogs/GenerateDialog.hpp>
#include <common/Module.hpp>

#include <QHBoxLayout>
#include <QListWidget>
#include <QMenu>
#include <QVBoxLayout>

#include <obs-frontend-api.h>
#include <obs.hpp>

namespace stilwane {

namespace {

constexpr int kNameRole = Qt::UserRole + 1;

const QString kCurrentMarker = QStringLiteral("\u25CF ");
const QString kPreviewMarker = QStringLiteral("\u25CB ");

} // namespace

ScenesDock::ScenesDock(QWidget *parent) : QWidget(parent)
{
	setObjectName("stilwane_scenes_dock");
	auto *layout = new QVBoxLayout(this);
	layout->setContentsMargins(0, 0, 0, 0);
	layout->setSpacing(2);

	list = new QListWidget(this);
	list->setObjectName("stilwane_scene_list");
	list->setSelectionMode(QAbstractItemView::SingleSelection);
	list->setContextMenuPolicy(Qt::CustomContextMenu);
	// The order changes only through the move buttons, which keep the canvas manager's order.
	list->setDragDropMode(QAbstractItemView::NoDragDrop);
	layout->addWidget(list, 1);

	auto *bar = new QHBoxLayout();
	bar->setContentsMargins(2, 0, 2, 2);
	bar->setSpacing(2);
	addButton = new IconButton(this, translate("Scenes.AddMenu"), "icon-plus");
	addButton->setObjectName("stilwane_scene_add");
	removeButton = new IconButton(this, translate("Scenes.Remove"), "icon-trash");
	removeButton->setObjectName("stilwane_scene_remove");
	upButton = new IconButton(this, translate("Scenes.MoveUp"), "icon-up");
	upButton->setObjectName("stilwane_scene_up");
	downButton = new IconButton(this, translate("Scenes.MoveDown"), "icon-down");
	downButton->setObjectName("stilwane_scene_down");
	bar->addWidget(addButton);
	bar->addWidget(removeButton);
	bar->addStretch(1);
	bar->addWidget(upButton);
	bar->addWidget(downButton);
	layout->addLayout(bar);

	auto *addMenu = new QMenu(addButton);
	addMenu->setObjectName("stilwane_scene_add_menu");
	addMenu->addAction(translate("Scenes.AddEmpty"), this, &ScenesDock::addScene);
	addMenu->addAction(translate("Scenes.Generate"), this, &ScenesDock::generateScene);
	addButton->setMenu(addMenu);
	addButton->setPopupMode(QToolButton::InstantPopup);
	// The button is an icon of its own; the menu arrow would only squeeze it.
	addButton->setStyleSheet(addButton->styleSheet() + " QToolButton::menu-indicator { image: none; width: 0px; }");

	connect(list, &QListWidget::currentRowChanged, this, &ScenesDock::onRowChanged);
	connect(list, &QListWidget::itemDoubleClicked, this, &ScenesDock::onItemDoubleClicked);
	connect(list, &QListWidget::customContextMenuRequested, this, &ScenesDock::onContextMenu);
	connect(removeButton, &QToolButton::clicked, this, &ScenesDock::removeScene);
	connect(upButton, &QToolButton::clicked, this, &ScenesDock::moveUp);
	connect(downButton, &QToolButton::clicked, this, &ScenesDock::moveDown);

	CanvasManager *m = CanvasManager::instance();
	connect(m, &CanvasManager::scenesChanged, this, &ScenesDock::rebuild);
	connect(m, &CanvasManager::currentSceneChanged, this, &ScenesDock::syncSelection);
	connect(m, &CanvasManager::studioModeChanged, this, &ScenesDock::syncSelection);
	connect(m, &CanvasManager::previewSceneChanged, this, &ScenesDock::syncSelection);

	rebuild();
}

QString ScenesDock::selectedSceneUuid() const
{
	QListWidgetItem *item = list->currentItem();
	return item ? item->data(Qt::UserRole).toString() : QString();
}

void ScenesDock::rebuild()
{
	CanvasManager *m = CanvasManager::instance();
	updating = true;
	list->clear();
	for (const SceneRef &ref : m->scenes()) {
		auto *item = new QListWidgetItem(ref.name, list);
		item->setData(Qt::UserRole, ref.uuid);
		item->setData(kNameRole, ref.name);
	}
	updating = false;
	syncSelection();
	addButton->setEnabled(m->hasCanvas());
}

void ScenesDock::syncSelection()
{
	CanvasManager *m = CanvasManager::instance();
	const bool studio = m->studioMode();
	const QString current = m->currentSceneUuid();
	const QString preview = studio ? m->previewSceneUuid() : QString();
	const QString target = studio ? preview : current;

	updating = true;
	list->setCurrentRow(-1);
	for (int row = 0; row < list->count(); row++) {
		QListWidgetItem *item = list->item(row);
		const QString uuid = item->data(Qt::UserRole).toString();
		const bool isCurrent = uuid == current;
		const bool isPreview = !preview.isEmpty() && uuid == preview;

		QString text;
		if (isCurrent)
			text += kCurrentMarker;
		if (isPreview)
			text += kPreviewMarker;
		item->setText(text + item->data(kNameRole).toString());

		QFont font = item->font();
		font.setBold(isCurrent);
		item->setFont(font);

		QString tip = isCurrent ? translate("Scenes.Current") : QString();
		if (isPreview) {
			if (!tip.isEmpty())
				tip += "\n";
			tip += translate("Scenes.Preview");
		}
		item->setToolTip(tip);

		if (uuid == target)
			list->setCurrentRow(row);
	}
	updating = false;
}

void ScenesDock::onRowChanged(int row)
{
	if (updating || row < 0)
		return;
	CanvasManager *m = CanvasManager::instance();
	OBSSourceAutoRelease scene = m->findSceneByUuid(selectedSceneUuid());
	if (!scene)
		return;
	if (m->studioMode())
		m->setPreviewScene(scene, "scene-tab");
	else
		m->setCurrentScene(scene, -1, "scene-list");
}

void ScenesDock::onItemDoubleClicked(QListWidgetItem *)
{
	renameScene();
}

void ScenesDock::onContextMenu(QPoint pos)
{
	// The menu acts on the scene under the pointer as it opened, even when a remote request, a hotkey
	// or a link switches the current row while the menu is up.
	QListWidgetItem *item = list->itemAt(pos);
	if (!item)
		item = list->currentItem();
	const QString uuid = item ? item->data(Qt::UserRole).toString() : QString();

	QMenu menu(this);
	menu.addAction(translate("Scenes.Add"), this, &ScenesDock::addScene);
	menu.addAction(translate("Scenes.Generate"), this, &ScenesDock::generateScene);
	if (!uuid.isEmpty()) {
		menu.addSeparator();
		menu.addAction(translate("Scenes.Rename"), this, [this, uuid] { renameSceneByUuid(uuid); });
		menu.addAction(translate("Scenes.Link"), this, [this, uuid] { linkSceneByUuid(uuid); });
		menu.addAction(translate("Scenes.TransitionOverride"), this,
			       [this, uuid] { editTransitionOverrideByUuid(uuid); });
		menu.addSeparator();
		menu.addAction(translate("Scenes.Remove"), this, [this, uuid] { removeSceneByUuid(uuid); });
	}
	execMenu(&menu, list->mapToGlobal(pos));
}

void ScenesDock::showNewScene(obs_source_t *scene, const char *trigger)
{
	CanvasManager *m = CanvasManager::instance();
	if (m->studioMode())
		m->setPreviewScene(scene, trigger);
	else
		m->setCurrentScene(scene, -1, trigger);
}

void ScenesDock::addScene()
{
	CanvasManager *m = CanvasManager::instance();
	if (!m->hasCanvas())
		return;
	const QString proposed = m->uniqueSceneName(translate("Scenes.DefaultName"));
	bool ok = false;
	const QString name =
		askText(this, translate("Scenes.Add"), translate("Scenes.NewName"), proposed, &ok).trimmed();
	if (!ok || name.isEmpty())
		return;
	if (m->sceneNameExists(name)) {
		showMessage(this, MessageKind::Warning, translate("Error.Title"), translate("Scenes.NameExists"));
		return;
	}
	obs_scene_t *scene = m->addScene(name);
	if (!scene)
		return;
	obs_frontend_save();
	showNewScene(obs_scene_get_source(scene), "scene-added");
}

// The modal loops below may run a collection switch or a remote request: only the scene's uuid is
// kept across them, and the scene is looked up again afterwards.
void ScenesDock::removeScene()
{
	removeSceneByUuid(selectedSceneUuid());
}

void ScenesDock::removeSceneByUuid(const QString &uuid)
{
	CanvasManager *m = CanvasManager::instance();
	QString name;
	{
		OBSSourceAutoRelease scene = m->findSceneByUuid(uuid);
		if (!scene)
			return;
		name = QString::fromUtf8(obs_source_get_name(scene));
	}
	const QString text = translate("Scenes.ConfirmRemove").arg(name);
	if (!confirmYesNo(this, translate("Scenes.Remove"), text))
		return;
	OBSSourceAutoRelease scene = m->findSceneByUuid(uuid);
	if (!scene)
		return;
	m->removeScene(scene);
	obs_frontend_save();
}

void ScenesDock::renameScene()
{
	renameSceneByUuid(selectedSceneUuid());
}

void ScenesDock::renameSceneByUuid(const QString &uuid)
{
	CanvasManager *m = CanvasManager::instance();
	QString current;
	{
		OBSSourceAutoRelease scene = m->findSceneByUuid(uuid);
		if (!scene)
			return;
		current = QString::fromUtf8(obs_source_get_name(scene));
	}
	bool ok = false;
	const QString entered = askText(this, translate("Scenes.Rename"), translate("Scenes.NewName"), current, &ok);
	const QString name = entered.trimmed();
	// Compared untrimmed: the own name with blanks around it is a request for a taken name.
	if (!ok || name.isEmpty() || entered == current)
		return;
	OBSSourceAutoRelease scene = m->findSceneByUuid(uuid);
	if (!scene)
		return;
	if (!m->renameScene(scene, name)) {
		showMessage(this, MessageKind::Warning, translate("Error.Title"), translate("Scenes.NameExists"));
		return;
	}
	obs_frontend_save();
}

void ScenesDock::generateScene()
{
	if (!CanvasManager::instance()->hasCanvas())
		return;
	GenerateDialog dialog(this);
	if (execDialog(&dialog) != QDialog::Accepted)
		return;
	OBSSourceAutoRelease scene = dialog.generate();
	if (!scene)
		return;
	obs_frontend_save();
	showNewScene(scene, "scene-generated");
}

void ScenesDock::linkScene()
{
	linkSceneByUuid(selectedSceneUuid());
}

void ScenesDock::linkSceneByUuid(const QString &uuid)
{
	CanvasManager *m = CanvasManager::instance();
	QString link;
	{
		OBSSourceAutoRelease scene = m->findSceneByUuid(uuid);
		if (!scene)
			return;
		link = m->sceneLink(scene);
	}
	SceneLinkDialog dialog(this, link);
	if (execDialog(&dialog) != QDialog::Accepted)
		return;
	OBSSourceAutoRelease scene = m->findSceneByUuid(uuid);
	if (scene)
		m->setSceneLink(scene, dialog.chosenLink());
}

void ScenesDock::editTransitionOverride()
{
	editTransitionOverrideByUuid(selectedSceneUuid());
}

void ScenesDock::editTransitionOverrideByUuid(const QString &uuid)
{
	CanvasManager *m = CanvasManager::instance();
	QString wanted;
	int duration = 0;
	{
		// Not held while the dialog is open: the scene may be removed meanwhile.
		OBSSourceAutoRelease scene = m->findSceneByUuid(uuid);
		if (!scene)
			return;
		wanted = m->sceneTransitionOverride(scene);
		duration = m->sceneTransitionDuration(scene);
	}
	SceneTransitionDialog dialog(this, uuid, wanted, duration);
	if (execDialog(&dialog) != QDialog::Accepted)
		return;
	OBSSourceAutoRelease scene = m->findSceneByUuid(uuid);
	if (scene)
		m->setSceneTransitionOverride(scene, dialog.chosenTransition(), dialog.durationMs());
}

void ScenesDock::moveBy(int offset)
{
	const QString uuid = selectedSceneUuid();
	if (uuid.isEmpty())
		return;
	CanvasManager *m = CanvasManager::instance();
	const QVector<SceneRef> before = m->scenes();
	m->moveScene(uuid, offset);
	const QVector<SceneRef> after = m->scenes();
	for (qsizetype i = 0; i < before.size() && i < after.size(); i++) {
		if (before[i].uuid != after[i].uuid) {
			obs_frontend_save();
			return;
		}
	}
}

void ScenesDock::moveUp()
{
	moveBy(-1);
}

void ScenesDock::moveDown()
{
	moveBy(+1);
}

} // namespace stilwane
