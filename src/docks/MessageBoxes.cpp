#include <docks/MessageBoxes.hpp>

#include <QMessageBox>

namespace {
MessageHandler gHandler;
}

void setMessageHandler(MessageHandler handler)
{
	gHandler = std::move(handler);
}

void showMessage(QWidget *parent, MessageKind kind, const QString &title, const QString &text)
{
	if (gHandler) {
		gHandler(kind, title, text);
		return;
	}
	if (kind == MessageKind::Warning)
		QMessageBox::warning(parent, title, text);
	else
		QMessageBox::information(parent, title, text);
}
