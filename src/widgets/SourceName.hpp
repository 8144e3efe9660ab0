// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QLabel>

namespace stilwane {

// The name of a source row, cut short with an ellipsis when the row is too narrow. The dock sets its
// foreground role (highlighted on the selected row) and disables it while the item is hidden.
class SourceName : public QLabel {
	Q_OBJECT

public:
	SourceName(const QString &text, QWidget *parent);

	// The text as the label draws it at its current width.
	QString shownText() const;

protected:
	void paintEvent(QPaintEvent *event) override;
};

} // namespace stilwane
