#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

#include <functional>

// A button of a message beside OK, such as "打开输出目录" in the end box.
struct MessageAction
{
    QString label;
    std::function<void()> run;
    bool enabled = true;
};

// One modal message of the window: its icon, title and text. A question
// asks yes or no; the other messages have OK and their actions.
struct UserMessage
{
    QMessageBox::Icon icon = QMessageBox::Information;
    QString title;
    QString text;
    bool question = false;
    QList<MessageAction> actions;
};

// Replaces the modal message box, so that callers (tests) can take the
// message without an event loop blocking on it. The result answers a
// question (true: yes); it is ignored for the other messages.
using MessageHandler = std::function<bool(const UserMessage&)>;

// Hands a URL to the desktop (a folder, an image, a web page). Replaceable
// for the same reason as the message handler.
class QUrl;
using UrlOpener = std::function<void(const QUrl&)>;
