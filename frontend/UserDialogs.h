#pragma once

#include "UserMessage.h"

#include <QPointer>

class QWidget;

// The window's modal messages and questions, and the hand-over of URLs to
// the desktop. Tests replace both through the handler and the opener.
// Questions are asked while the renderer may still be running: the end of
// the task closes an open one (closeOpenQuestion) as answered "no".
class UserDialogs {
public:
    explicit UserDialogs(QWidget* parent) : m_parent(parent) {}

    void setMessageHandler(MessageHandler handler) { m_messageHandler = std::move(handler); }
    void setUrlOpener(UrlOpener opener) { m_urlOpener = std::move(opener); }

    void showMessage(QMessageBox::Icon icon, const QString& title, const QString& text,
                     const QList<MessageAction>& actions = {}, const QString& details = {}) const;
    bool askQuestion(const QString& title, const QString& text);
    // The last choice cancels; Esc and closing the box choose it.
    int askChoice(const QString& title, const QString& text, const QStringList& choices) const;
    void openUrl(const QUrl& url) const;
    void closeOpenQuestion();

private:
    QWidget* m_parent;
    MessageHandler m_messageHandler;
    UrlOpener m_urlOpener;
    QPointer<QMessageBox> m_openQuestion;
};
