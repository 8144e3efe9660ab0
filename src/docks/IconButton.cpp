#include <docks/IconButton.hpp>

#include <plugin/Module.hpp>

#include <QBuffer>
#include <QEvent>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpression>

#include <obs-module.h>

QString moduleIconPath(const QString &name)
{
	char *file = obs_find_module_file(moduleHandle(), ("icons/" + name).toUtf8().constData());
	QString path = file ? QString::fromUtf8(file) : QString();
	bfree(file);
	return path;
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

void IconButton::setIconFile(const QString &path, const QColor &tint_)
{
	if (path == iconPath && tint_ == tint)
		return;
	iconPath = path;
	tint = tint_;
	rebuildIcon();
}

void IconButton::rebuildIcon()
{
	QFile file(iconPath);
	if (iconPath.isEmpty() || !file.open(QIODevice::ReadOnly)) {
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

	QIcon icon;
	for (int size : {16, 24, 32, 48, 64}) {
		for (QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled}) {
			QBuffer buffer(&svg);
			QImageReader reader(&buffer, "svg");
			reader.setScaledSize(QSize(size, size));
			QPixmap pixmap = QPixmap::fromImage(reader.read());
			if (!pixmap.isNull()) {
				QColor colour =
					mode == QIcon::Disabled
						? palette().color(QPalette::Disabled, QPalette::ButtonText)
						: (tint.isValid() ? tint : palette().color(QPalette::ButtonText));
				QPainter painter(&pixmap);
				painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
				painter.fillRect(pixmap.rect(), colour);
			}
			icon.addPixmap(pixmap, mode, QIcon::Off);
		}
	}
	setIcon(icon);
}
