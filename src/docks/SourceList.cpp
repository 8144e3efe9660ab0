// SPDX-License-Identifier: GPL-2.0-or-later
#include <docks/SourceList.hpp>

#include <QDropEvent>
#include <QPointer>

namespace stilwane {

SourceList::SourceList(QWidget *parent) : QListWidget(parent) {}

void SourceList::startDrag(Qt::DropActions supportedActions)
{
	QListWidgetItem *current = currentItem();
	if (!current || !(current->flags() & Qt::ItemIsDragEnabled))
		return;
	// The drag runs a nested event loop in which the list may be destroyed with its dock.
	QPointer<SourceList> self(this);
	onDragStart();
	QListWidget::startDrag(supportedActions);
	if (self)
		onDragEnd();
}

void SourceList::dropEvent(QDropEvent *event)
{
	// A drop onto a row would make Qt replace that row; only drops between rows reorder.
	if (event->source() != this || dropIndicatorPosition() == QAbstractItemView::OnItem) {
		event->ignore();
		return;
	}
	QListWidgetItem *current = currentItem();
	const int64_t id = current ? current->data(Qt::UserRole).toLongLong() : -1;
	QListWidget::dropEvent(event);
	if (!event->isAccepted() || id < 0)
		return;
	for (int row = 0; row < count(); row++) {
		if (item(row)->data(Qt::UserRole).toLongLong() == id) {
			onDropped(id, row);
			return;
		}
	}
}

} // namespace stilwane
