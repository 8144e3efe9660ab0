// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QWidget>

#include <obs.hpp>

class QLabel;

namespace stilwane {

class SourceName;
class SourceToggle;

// One row of the sources list: the source type's icon, its name and the visibility and lock toggles.
// It only shows and reports; the sources dock fills the toggles and reacts to them.
class SourceRow : public QWidget {
	Q_OBJECT

public:
	SourceRow(obs_source_t *source, QWidget *parent);

	SourceToggle *visibilityToggle() const { return visibility; }
	SourceToggle *lockToggle() const { return lock; }
	SourceName *nameLabel() const { return name; }
	QLabel *iconLabel() const { return icon; }
	// The main window's icon property that the row shows ("imageIcon", "sceneIcon", ...).
	const char *iconKind() const { return kind; }

	static const char *iconKindFor(obs_source_t *source);

signals:
	// The source was renamed (anywhere in OBS); the row shows the new name already.
	void nameChanged(const QString &name);

protected:
	void changeEvent(QEvent *event) override;

private:
	void applyIcon();
	void showName(const QString &text);
	// Libobs signal thread.
	static void onRenamed(void *param, calldata_t *data);

	SourceToggle *visibility = nullptr;
	SourceToggle *lock = nullptr;
	const char *kind = "defaultIcon";
	QLabel *icon = nullptr;
	SourceName *name = nullptr;
	OBSSignal renameSignal;
};

} // namespace stilwane
