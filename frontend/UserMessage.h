#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <functional>

// A button of a message beside OK, such as "打开输出目录" in the end box.
struct MessageAction {
    QString label;
    std::function<void()> run;
    bool enabled = true;
};

// One modal message of the window: its icon, title and text. A question
// asks yes or no, or offers its choices (such as 保存 / 不保存 / 取消); the
// other messages have OK and their actions.
struct UserMessage {
    QMessageBox::Icon icon = QMessageBox::Information;
    QString title;
    QString text;
    bool question = false;
    QList<MessageAction> actions;
    QStringList choices;  // a question's buttons when it is not yes or no
    QString details;  // under "详细信息": the renderer's own English text
};

// Replaces the modal message box, so that callers (tests) can take the
// message without an event loop blocking on it. The result answers a
// question: for yes or no, non-zero is yes; with choices, the index of the
// chosen one (anything else counts as the last, the cancelling choice). It
// is ignored for the other messages.
using MessageHandler = std::function<int(const UserMessage&)>;

// Hands a URL to the desktop (a folder, an image, a web page). Replaceable
// for the same reason as the message handler.
class QUrl;
using UrlOpener = std::function<void(const QUrl&)>;
