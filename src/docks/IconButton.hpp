#pragma once

#include <QColor>
#include <QString>
#include <QToolButton>

// The path of one of the module's own icons ("icons/" + name in its data folder), or an empty
// string when the module has no such file.
QString moduleIconPath(const QString &name);

// A small auto-raised tool button showing an SVG tinted with the palette's button-text colour, so
// that it follows OBS's light and dark themes; redrawn whenever the palette or style changes.
class IconButton : public QToolButton {
	Q_OBJECT

public:
	// className, when given, becomes the "class" property that OBS's themes style (e.g.
	// "icon-gear"); iconPath may be empty.
	IconButton(QWidget *parent, const QString &text, const char *className = nullptr,
		   const QString &iconPath = QString());
	~IconButton() override;

	QString iconFile() const { return iconPath; }
	// Draws another file; a valid tint replaces the palette's button-text colour for the normal state
	// (the disabled state keeps the palette's). A missing file leaves the button without an icon.
	void setIconFile(const QString &path, const QColor &tint = QColor());

protected:
	void changeEvent(QEvent *event) override;

private:
	void rebuildIcon();

	QString iconPath;
	QColor tint;
};
