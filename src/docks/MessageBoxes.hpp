#pragma once

#include <QString>

#include <functional>

class QWidget;

// Every message box of the plug-in goes through here, so tests can answer instead of a user.
enum class MessageKind { Information, Warning };

using MessageHandler = std::function<void(MessageKind kind, const QString &title, const QString &text)>;

void showMessage(QWidget *parent, MessageKind kind, const QString &title, const QString &text);
// Replaces the boxes with a handler (nullptr restores the boxes).
void setMessageHandler(MessageHandler handler);
