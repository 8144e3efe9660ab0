// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QListWidget>

#include <cstdint>
#include <functional>

namespace stilwane {

// The list of the sources dock. Rows carry their scene item's id in Qt::UserRole. It moves rows by
// drag and drop and tells the dock through three hooks, which the dock sets before any drag can
// start: the dock decides whether the scene follows.
class SourceList : public QListWidget {
	Q_OBJECT

public:
	explicit SourceList(QWidget *parent);

	std::function<void()> onDragStart;
	std::function<void()> onDragEnd;
	std::function<void(int64_t id, int row)> onDropped;

protected:
	void startDrag(Qt::DropActions supportedActions) override;
	void dropEvent(QDropEvent *event) override;
};

} // namespace stilwane
