// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QColor>
#include <QString>
#include <QToolButton>

namespace stilwane {

// The path of one of the module's own icons ("icons/" + name in its data folder), or an empty
// string when the module has no such file.
QString moduleIconPath(const QString &name);

// The text colour that OBS's theme gives widgets of a utility class ("text-danger", "text-muted",
// ...), read from a polished probe label under the given widget; an invalid colour when the theme
// gives that class no colour of its own.
QColor themeClassColour(QWidget *context, const char *themeClass);

// Sets a widget's theme utility classes (OBS's "class" property) and re-polishes it, so the theme's
// rules for the new classes apply at once.
void setThemeClass(QWidget *widget, const QString &classes);

// A small auto-raised tool button. Where OBS's theme has the icon, the button carries only the theme
// class (e.g. "icon-gear") and the theme sets and replaces the icon; otherwise it draws one of the
// module's SVGs tinted with the palette's button-text colour, redrawn whenever the palette or style
// changes, so that it follows OBS's light and dark themes.
class IconButton : public QToolButton {
	Q_OBJECT

public:
	// className, when given, becomes the "class" property that OBS's themes style; iconPath may be
	// empty (the theme then provides the icon).
	IconButton(QWidget *parent, const QString &text, const char *className = nullptr,
		   const QString &iconPath = QString());
	~IconButton() override;

	QString iconFile() const { return iconPath; }
	// Draws another file. tintClass, when given, takes the normal state's colour from that theme
	// utility class ("text-danger" for an active output) instead of the button text; the disabled
	// state keeps the palette's. An empty path leaves the icon to the theme.
	void setIconFile(const QString &path, const char *tintClass = nullptr);

protected:
	void changeEvent(QEvent *event) override;

private:
	void rebuildIcon();

	QString iconPath;
	const char *tintClass = nullptr;
};

} // namespace stilwane
