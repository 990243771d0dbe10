#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

// One modal message of the window: its icon, title and text.
struct UserMessage
{
    QMessageBox::Icon icon = QMessageBox::Information;
    QString title;
    QString text;
};

// Replaces the modal message box, so that callers (tests) can take the
// message without an event loop blocking on it.
using MessageHandler = std::function<void(const UserMessage&)>;
