// SPDX-License-Identifier: GPL-2.0-or-later
#include <widgets/SourceToggle.hpp>

#include <QMouseEvent>

namespace stilwane {

SourceToggle::SourceToggle(QWidget *row, const char *className, const QString &toolTip) : QCheckBox(row)
{
	setProperty("class", className);
	setToolTip(toolTip);
	setAccessibleName(toolTip);
	setFocusPolicy(Qt::NoFocus);
	setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
}

void SourceToggle::mousePressEvent(QMouseEvent *event)
{
	QCheckBox::mousePressEvent(event);
	event->accept();
}

void SourceToggle::mouseMoveEvent(QMouseEvent *event)
{
	QCheckBox::mouseMoveEvent(event);
	event->accept();
}

void SourceToggle::mouseReleaseEvent(QMouseEvent *event)
{
	QCheckBox::mouseReleaseEvent(event);
	event->accept();
}

void SourceToggle::mouseDoubleClickEvent(QMouseEvent *event)
{
	QCheckBox::mouseDoubleClickEvent(event);
	event->accept();
}

} // namespace stilwane
