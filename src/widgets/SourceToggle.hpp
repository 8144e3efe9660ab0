// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QCheckBox>

namespace stilwane {

// The visibility or lock check box of a source row. The theme draws it from its "class" property.
// Its mouse events stop here, so that using a toggle neither selects the row, nor starts a drag, nor
// opens the item's transform.
class SourceToggle : public QCheckBox {
	Q_OBJECT

public:
	SourceToggle(QWidget *row, const char *className, const QString &toolTip);

protected:
	void mousePressEvent(QMouseEvent *event) override;
	void mouseMoveEvent(QMouseEvent *event) override;
	void mouseReleaseEvent(QMouseEvent *event) override;
	void mouseDoubleClickEvent(QMouseEvent *event) override;
};

} // namespace stilwane
