// SPDX-License-Identifier: GPL-2.0-or-later
#include <widgets/IconButton.hpp>

#include <common/Module.hpp>

#include <QBuffer>
#include <QEvent>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpression>
#include <QStyle>

#include <obs-module.h>

namespace stilwane {

QString moduleIconPath(const QString &name)
{
	return moduleDataFile("icons/" + name);
}

QColor themeClassColour(QWidget *context, const char *themeClass)
{
	// The theme's rules are style sheet rules: a hidden label of that class, polished under the same
	// ancestors, carries the colour in its palette.
	QLabel plain(context);
	plain.hide();
	plain.ensurePolished();
	QLabel probe(context);
	probe.hide();
	probe.setProperty("class", themeClass);
	probe.ensurePolished();
	const QColor colour = probe.palette().color(QPalette::WindowText);
	return colour == plain.palette().color(QPalette::WindowText) ? QColor() : colour;
}

void setThemeClass(QWidget *widget, const QString &classes)
{
	if (widget->property("class").toString() == classes)
		return;
	widget->setProperty("class", classes);
	widget->style()->unpolish(widget);
	widget->style()->polish(widget);
	widget->update();
}

IconButton::IconButton(QWidget *parent, const QString &text, const char *className, const QString &iconPath_)
	: QToolButton(parent)
{
	setAutoRaise(true);
	setToolButtonStyle(Qt::ToolButtonIconOnly);
	setIconSize(QSize(16, 16));
	setFixedSize(24, 24);
	setText(text);
	setToolTip(text);
	setAccessibleName(text);
	if (className)
		setProperty("class", className);
	setStyleSheet("QToolButton { padding: 2px; icon-size: 16px; }");
	if (!iconPath_.isEmpty()) {
		iconPath = iconPath_;
		rebuildIcon();
	}
}

IconButton::~IconButton() = default;

void IconButton::changeEvent(QEvent *event)
{
	QToolButton::changeEvent(event);
	if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
		rebuildIcon();
}

void IconButton::setIconFile(const QString &path, const char *tintClass_)
{
	if (path == iconPath && tintClass_ == tintClass)
		return;
	const bool hadFile = !iconPath.isEmpty();
	iconPath = path;
	tintClass = tintClass_;
	if (iconPath.isEmpty()) {
		// Hands the icon back to the theme: drop ours and let the theme's rules set theirs again.
		if (hadFile) {
			setIcon(QIcon());
			style()->unpolish(this);
			style()->polish(this);
		}
		return;
	}
	rebuildIcon();
}

void IconButton::rebuildIcon()
{
	// Without a file of its own the theme owns the icon (set through the "class" property): leave it.
	if (iconPath.isEmpty())
		return;
	QFile file(iconPath);
	if (!file.open(QIODevice::ReadOnly)) {
		setIcon(QIcon());
		return;
	}
	QByteArray svg = file.readAll();

	// "-inactive" drawings are dimmed through opacity; the tint below already shows the state, so
	// they are drawn opaque.
	if (iconPath.endsWith("-inactive.svg")) {
		static const QRegularExpression opacity("((?:fill-|stroke-)?opacity)=\"[^\"]*\"");
		svg = QString::fromUtf8(svg).replace(opacity, "\\1=\"1\"").toUtf8();
	}

	// A theme without the tint class still sets the state apart, in its highlight colour.
	QColor normal = palette().color(QPalette::ButtonText);
	if (tintClass) {
		normal = themeClassColour(this, tintClass);
		if (!normal.isValid())
			normal = palette().color(QPalette::Highlight);
	}
	QIcon icon;
	for (int size : {16, 24, 32, 48, 64}) {
		for (QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled}) {
			QBuffer buffer(&svg);
			QImageReader reader(&buffer, "svg");
			reader.setScaledSize(QSize(size, size));
			QPixmap pixmap = QPixmap::fromImage(reader.read());
			if (!pixmap.isNull()) {
				const QColor colour = mode == QIcon::Disabled ? palette().color(QPalette::Disabled,
												QPalette::ButtonText)
									      : normal;
				QPainter painter(&pixmap);
				painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
				painter.fillRect(pixmap.rect(), colour);
			}
			icon.addPixmap(pixmap, mode, QIcon::Off);
		}
	}
	setIcon(icon);
}

} // namespace stilwane
