#pragma once

#include <QWidget>

#include <obs.h>

class QLabel;
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

protected:
	void changeEvent(QEvent *event) override;

private:
	void applyIcon();

	SourceToggle *visibility = nullptr;
	SourceToggle *lock = nullptr;
	const char *kind = "defaultIcon";
	QLabel *icon = nullptr;
	SourceName *name = nullptr;
};
