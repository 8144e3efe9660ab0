// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QSize>
#include <QString>

class QScreen;

namespace stilwane {

// The menu text of a screen for full-screen projection: "1: HDMI-1 (1920x1080)". The screen's name
// comes from the system and may hold "%2" and the like, so it is filled in with one multi-argument
// QString::arg, never a chain that would read such a name as a placeholder.
QString screenLabel(int index, const QString &name, const QSize &size);
QString screenLabel(const QScreen *screen, int index);

} // namespace stilwane
