// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QPoint>
#include <QString>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QSpinBox;

namespace stilwane {

class IconButton;

// The transitions page of the main dock: the vertical transitions with the selected one, the length of
// a switch, and whether linked switches copy the main transition. Adds transitions of any libobs
// transition type, renames, removes and configures them. Keeps no transition state: everything goes
// through the canvas manager and the widgets are redrawn from its notifications. User-interface thread.
class TransitionsDock : public QWidget {
	Q_OBJECT

public:
	explicit TransitionsDock(QWidget *parent = nullptr);

	// The name offered for a new transition of that type: its display name, or that name followed by
	// " 2", " 3", ... when a vertical transition already has it.
	static QString proposedName(const QString &typeId);

	// The flows, each on the transition of that uuid; the buttons and the context menu name the
	// current entry's.
	void addTransition(const QString &typeId);
	void removeTransition(const QString &uuid);
	void renameTransition(const QString &uuid);
	void openProperties(const QString &uuid);

private:
	// Lists the transitions again, then syncs.
	void refill();
	// Shows the selection, the length and the match setting, and which buttons apply.
	void sync();
	// Lists every registered transition type in the add button's menu.
	void fillTypeMenu();
	void showContextMenu(const QPoint &pos);
	// The uuid of the current entry, empty when there is none.
	QString currentUuid() const;

	QComboBox *choice = nullptr;
	QSpinBox *duration = nullptr;
	QCheckBox *matchBox = nullptr;
	QLabel *matchHint = nullptr;
	IconButton *addButton = nullptr;
	IconButton *removeButton = nullptr;
	IconButton *propertiesButton = nullptr;
	QMenu *typeMenu = nullptr;
};

} // namespace stilwane
