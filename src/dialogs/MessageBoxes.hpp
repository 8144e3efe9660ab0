// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QString>

#include <functional>

class QAction;
class QDialog;
class QDialogButtonBox;
class QMenu;
class QPoint;
class QWidget;

namespace stilwane {

// Every message box, question, text input, modal dialog and pop-up menu of the plug-in goes through
// here, so tests can answer instead of a user and nothing modal blocks them.
enum class MessageKind { Information, Warning };

using MessageHandler = std::function<void(MessageKind kind, const QString &title, const QString &text)>;

void showMessage(QWidget *parent, MessageKind kind, const QString &title, const QString &text);
// The same box, shown once the event loop turns again and never modal: returns at once, for code that
// may run inside a front-end or libobs callback, where no modal loop may hold OBS back. Nothing is shown
// when the parent is gone by then.
void showMessageLater(QWidget *parent, MessageKind kind, const QString &title, const QString &text);
// Replaces the boxes with a handler (nullptr restores the boxes).
void setMessageHandler(MessageHandler handler);

// A Yes/No question labelled with OBS's own "Yes" and "No"; "No" is the default and the escape
// button. True only when "Yes" was chosen.
bool confirmYesNo(QWidget *parent, const QString &title, const QString &text);
using ConfirmHandler = std::function<bool(const QString &title, const QString &text)>;
void setConfirmHandler(ConfirmHandler handler);

// One line of text, pre-filled with initial. *ok (when given) tells whether the user confirmed; the
// text is returned untrimmed.
QString askText(QWidget *parent, const QString &title, const QString &label, const QString &initial, bool *ok);
using TextInputHandler =
	std::function<QString(const QString &title, const QString &label, const QString &initial, bool *ok)>;
void setTextInputHandler(TextInputHandler handler);

// Runs the dialog modally and returns its result. A handler gets the dialog instead, may show it,
// work its widgets and close it, and returns the result that exec() would have.
int execDialog(QDialog *dialog);
using DialogHandler = std::function<int(QDialog *dialog)>;
void setDialogHandler(DialogHandler handler);

// Pops the menu up at a global position and returns the triggered action (null when dismissed). A
// handler gets the menu instead and returns the action to trigger (or null).
QAction *execMenu(QMenu *menu, const QPoint &globalPos);
using MenuHandler = std::function<QAction *(QMenu *menu)>;
void setMenuHandler(MenuHandler handler);

// Asks for an existing directory, starting in start; empty when the user cancelled. A handler gets
// the caption and the start instead and returns the answer.
QString chooseDirectory(QWidget *parent, const QString &caption, const QString &start);
using DirectoryHandler = std::function<QString(const QString &caption, const QString &start)>;
void setDirectoryHandler(DirectoryHandler handler);

// Labels a button box's OK, Cancel, Yes and No buttons with OBS's own texts for them.
void useObsButtonTexts(QDialogButtonBox *buttons);

} // namespace stilwane
