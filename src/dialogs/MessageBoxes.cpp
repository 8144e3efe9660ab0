// SPDX-License-Identifier: GPL-2.0-or-later
#include <dialogs/MessageBoxes.hpp>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <obs-frontend-api.h>

namespace stilwane {

namespace {
MessageHandler gHandler;
ConfirmHandler gConfirmHandler;
TextInputHandler gTextInputHandler;
DialogHandler gDialogHandler;
MenuHandler gMenuHandler;
DirectoryHandler gDirectoryHandler;

QString obsText(const char *key)
{
	return QString::fromUtf8(obs_frontend_get_locale_string(key));
}
} // namespace

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

void showMessageLater(QWidget *parent, MessageKind kind, const QString &title, const QString &text)
{
	QPointer<QWidget> guard(parent);
	QTimer::singleShot(0, qApp, [guard, hadParent = parent != nullptr, kind, title, text] {
		if (hadParent && !guard)
			return;
		if (gHandler) {
			gHandler(kind, title, text);
			return;
		}
		auto *box =
			new QMessageBox(kind == MessageKind::Warning ? QMessageBox::Warning : QMessageBox::Information,
					title, text, QMessageBox::NoButton, guard);
		box->addButton(obsText("OK"), QMessageBox::AcceptRole);
		box->setAttribute(Qt::WA_DeleteOnClose);
		box->open();
	});
}

void setConfirmHandler(ConfirmHandler handler)
{
	gConfirmHandler = std::move(handler);
}

bool confirmYesNo(QWidget *parent, const QString &title, const QString &text)
{
	if (gConfirmHandler)
		return gConfirmHandler(title, text);
	QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
	QPushButton *yes = box.addButton(obsText("Yes"), QMessageBox::YesRole);
	QPushButton *no = box.addButton(obsText("No"), QMessageBox::NoRole);
	box.setDefaultButton(no);
	box.setEscapeButton(no);
	box.exec();
	return box.clickedButton() == yes;
}

void setTextInputHandler(TextInputHandler handler)
{
	gTextInputHandler = std::move(handler);
}

QString askText(QWidget *parent, const QString &title, const QString &label, const QString &initial, bool *ok)
{
	bool accepted = false;
	QString text;
	if (gTextInputHandler) {
		text = gTextInputHandler(title, label, initial, &accepted);
	} else {
		QInputDialog dialog(parent);
		dialog.setWindowTitle(title);
		dialog.setLabelText(label);
		dialog.setInputMode(QInputDialog::TextInput);
		dialog.setTextEchoMode(QLineEdit::Normal);
		dialog.setTextValue(initial);
		dialog.setOkButtonText(obsText("OK"));
		dialog.setCancelButtonText(obsText("Cancel"));
		accepted = dialog.exec() == QDialog::Accepted;
		text = dialog.textValue();
	}
	if (ok)
		*ok = accepted;
	return accepted ? text : QString();
}

void setDialogHandler(DialogHandler handler)
{
	gDialogHandler = std::move(handler);
}

int execDialog(QDialog *dialog)
{
	if (gDialogHandler)
		return gDialogHandler(dialog);
	return dialog->exec();
}

void setMenuHandler(MenuHandler handler)
{
	gMenuHandler = std::move(handler);
}

QAction *execMenu(QMenu *menu, const QPoint &globalPos)
{
	if (!gMenuHandler)
		return menu->exec(globalPos);
	QAction *action = gMenuHandler(menu);
	// A real menu triggers the chosen action before exec() returns.
	if (action)
		action->trigger();
	return action;
}

void setDirectoryHandler(DirectoryHandler handler)
{
	gDirectoryHandler = std::move(handler);
}

QString chooseDirectory(QWidget *parent, const QString &caption, const QString &start)
{
	if (gDirectoryHandler)
		return gDirectoryHandler(caption, start);
	return QFileDialog::getExistingDirectory(parent, caption, start, QFileDialog::ShowDirsOnly);
}

void useObsButtonTexts(QDialogButtonBox *buttons)
{
	const struct {
		QDialogButtonBox::StandardButton which;
		const char *key;
	} texts[] = {{QDialogButtonBox::Ok, "OK"},
		     {QDialogButtonBox::Cancel, "Cancel"},
		     {QDialogButtonBox::Yes, "Yes"},
		     {QDialogButtonBox::No, "No"}};
	for (const auto &t : texts) {
		if (QPushButton *button = buttons->button(t.which))
			button->setText(obsText(t.key));
	}
}

} // namespace stilwane
