// SPDX-License-Identifier: GPL-2.0-or-later
#include <widgets/SourceName.hpp>

#include <QPainter>
#include <QStyle>

namespace stilwane {

SourceName::SourceName(const QString &text, QWidget *parent) : QLabel(text, parent) {}

QString SourceName::shownText() const
{
	return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

void SourceName::paintEvent(QPaintEvent *)
{
	QPainter painter(this);
	style()->drawItemText(&painter, contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(),
			      shownText(), foregroundRole());
}

} // namespace stilwane
