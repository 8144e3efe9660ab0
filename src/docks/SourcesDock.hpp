// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include <atomic>
#include <cstdint>

#include <obs.hpp>

class QComboBox;
class QMenu;

namespace stilwane {

class IconButton;
class SourceList;
class SourceRow;

// The sources tab of the main dock: the items of the vertical editing scene (the preview scene in
// studio mode, else the program scene), top item first. It keeps no item state of its own: every
// change of the scene rebuilds the rows, and the selected item lives in the canvas manager, shared
// with the preview. Lives on the user-interface thread.
class SourcesDock : public QWidget {
	Q_OBJECT

public:
	explicit SourcesDock(QWidget *parent);
	~SourcesDock() override;

	// The entries of the add button's menu, also at the top of the context menu.
	void buildAddMenu(QMenu *menu);
	// The context menu of the list, as onContextMenu shows it.
	void fillContextMenu(QMenu *menu);

	SourceList *sourceList() const { return list; }
	// The row widget of a list row, or null for the "no scene" row.
	SourceRow *rowWidget(int row) const;
	// The scene item of the current row, or null; not owned.
	obs_sceneitem_t *currentRowItem() const;

public slots:
	void onCurrentSceneChanged();
	void rebuild();
	void syncSelection();
	void onRowChanged(int row);
	void onContextMenu(QPoint pos);
	void addMainScene();
	void addExisting();
	void removeItem();
	void renameItem();
	void moveUp();
	void moveDown();
	void openTransform();
	void openProperties();
	void openFilters();
	void fitWidth();
	void fitHeight();
	void centerItem();

private:
	enum class ItemFlag { Visible, Locked };

	QWidget *buildButtonBar();
	void attachScene(obs_source_t *scene);
	void detachScene();
	QString attachedSceneUuid() const;
	bool attachedIsScene() const;
	bool attachedIsLive() const;
	void addRow(obs_sceneitem_t *item, int64_t selected);

	// Any thread: coalesces a burst of scene signals into one queued rebuild.
	void requestRebuild();
	void refreshRow(int64_t id);
	void setItemFlag(const QString &sceneUuid, int64_t id, ItemFlag which, bool checked);
	void updateRowHighlight();

	void beginDrag();
	void applyDrop(int64_t id, int row);
	void finishDrag();

	void fillNewSourceMenu(QMenu *submenu);
	void addNewSource(const QString &unversionedId);
	QString pickEntry(const QString &prompt, QComboBox *combo);
	void addPicked(const QString &sourceUuid);
	void showErrorBox(const char *key);

	// Libobs signal threads.
	static void onSceneChanged(void *param, calldata_t *data);
	static void onItemFlagChanged(void *param, calldata_t *data);

	SourceList *list = nullptr;
	IconButton *addButton = nullptr;
	IconButton *removeButton = nullptr;
	IconButton *transformButton = nullptr;
	IconButton *upButton = nullptr;
	IconButton *downButton = nullptr;

	OBSSource attachedScene;
	OBSSignal addSignal;
	OBSSignal removeSignal;
	OBSSignal reorderSignal;
	OBSSignal refreshSignal;
	OBSSignal visibleSignal;
	OBSSignal lockedSignal;

	bool updating = false;
	std::atomic<bool> refreshQueued{false};
	bool dragging = false;
	bool rebuildAfterDrag = false;
	OBSWeakSource dragScene;
	QList<int64_t> dragSnapshot;
	int64_t movedItemId = -1;
};

} // namespace stilwane
