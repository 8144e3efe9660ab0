// SPDX-License-Identifier: GPL-2.0-or-later
#include <widgets/ScreenLabel.hpp>

#include <common/Module.hpp>

#include <QScreen>

namespace stilwane {

QString screenLabel(int index, const QString &name, const QSize &size)
{
	return translate("Projector.ScreenEntry")
		.arg(QString::number(index + 1), name, QString::number(size.width()), QString::number(size.height()));
}

QString screenLabel(const QScreen *screen, int index)
{
	return screenLabel(index, screen->name(), screen->size());
}

} // namespace stilwane
