// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QPoint>
#include <QString>
#include <QWidget>

#include <obs.h>

class QListWidget;
class QListWidgetItem;

namespace stilwane {

class IconButton;

// The scenes page of the main dock: the vertical scenes in their stored order, the program scene
// marked "● " and, in studio mode, the preview scene marked "○ ". Holds no scene state: every action
// goes through the canvas manager and the rows are rebuilt from its notifications.
class ScenesDock : public QWidget {
	Q_OBJECT

public:
	explicit ScenesDock(QWidget *parent = nullptr);

	// The uuid of the current row, empty when no row is current.
	QString selectedSceneUuid() const;
	// Reached only from the context menu.
	void editTransitionOverride();

	// The operations on a scene named by its uuid; the slots name the current row's scene, the
	// context menu the scene of the row it opened on.
	void removeSceneByUuid(const QString &uuid);
	void renameSceneByUuid(const QString &uuid);
	void linkSceneByUuid(const QString &uuid);
	void editTransitionOverrideByUuid(const QString &uuid);

public slots:
	void rebuild();
	void syncSelection();
	void onRowChanged(int row);
	void onItemDoubleClicked(QListWidgetItem *item);
	void onContextMenu(QPoint pos);
	void addScene();
	void removeScene();
	void renameScene();
	void generateScene();
	void linkScene();
	void moveUp();
	void moveDown();

private:
	// Shows a scene made here: in the preview in studio mode, else on program.
	void showNewScene(obs_source_t *scene, const char *trigger);
	// Saves the collection only when the order really changed (not at either end).
	void moveBy(int offset);

	QListWidget *list = nullptr;
	IconButton *addButton = nullptr;
	IconButton *removeButton = nullptr;
	IconButton *upButton = nullptr;
	IconButton *downButton = nullptr;
	// Set while rebuild or syncSelection rewrite the rows, whose row changes are not the user's.
	bool updating = false;
};

} // namespace stilwane
