// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// Answers every modal question of the plug-in in place of a user, and records what was asked.
// Include after <QtTest>: libobs's SIMD macros break the compiler's intrinsics headers included after
// them.

#include <dialogs/MessageBoxes.hpp>

#include <QAction>
#include <QDialog>
#include <QMenu>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>

using namespace stilwane;

namespace docktest {

struct TextQuestion {
	QString title;
	QString label;
	QString initial;
};

class ModalAnswers {
public:
	// What was shown or asked, oldest first.
	QStringList messages;
	QStringList confirmations;
	QList<TextQuestion> textQuestions;
	QStringList menuEntries;
	int dialogCount = 0;

	// Answers in order; an empty optional cancels. A question beyond the queue is cancelled.
	std::deque<std::optional<QString>> textAnswers;
	bool confirmAnswer = false;
	// Runs each dialog instead of exec(); the default cancels.
	std::function<int(QDialog *)> onDialog;
	// The entry of the next pop-up menu to choose (empty: dismiss it).
	QString menuChoice;

	void install()
	{
		setMessageHandler([this](MessageKind, const QString &, const QString &text) { messages << text; });
		setConfirmHandler([this](const QString &title, const QString &text) {
			confirmations << title + "|" + text;
			return confirmAnswer;
		});
		setTextInputHandler(
			[this](const QString &title, const QString &label, const QString &initial, bool *ok) {
				textQuestions.append({title, label, initial});
				std::optional<QString> answer;
				if (!textAnswers.empty()) {
					answer = textAnswers.front();
					textAnswers.pop_front();
				}
				*ok = answer.has_value();
				return answer.value_or(QString());
			});
		setDialogHandler([this](QDialog *dialog) {
			dialogCount++;
			return onDialog ? onDialog(dialog) : int(QDialog::Rejected);
		});
		setMenuHandler([this](QMenu *menu) -> QAction * {
			menuEntries.clear();
			QAction *chosen = nullptr;
			for (QAction *action : menu->actions()) {
				menuEntries << (action->isSeparator() ? QStringLiteral("-") : action->text());
				if (!action->isSeparator() && action->text() == menuChoice)
					chosen = action;
			}
			return chosen;
		});
	}

	static void uninstall()
	{
		setMessageHandler(nullptr);
		setConfirmHandler(nullptr);
		setTextInputHandler(nullptr);
		setDialogHandler(nullptr);
		setMenuHandler(nullptr);
	}

	void clear()
	{
		messages.clear();
		confirmations.clear();
		textQuestions.clear();
		menuEntries.clear();
		dialogCount = 0;
		textAnswers.clear();
		confirmAnswer = false;
		onDialog = nullptr;
		menuChoice.clear();
	}
};

} // namespace docktest
