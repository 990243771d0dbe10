#include "UserDialogs.h"

#include <QDesktopServices>
#include <QPushButton>
#include <QUrl>

void UserDialogs::showMessage(QMessageBox::Icon icon, const QString& title, const QString& text,
                              const QList<MessageAction>& actions, const QString& details) const
{
    if (m_messageHandler) {
        m_messageHandler(UserMessage{icon, title, text, false, actions, {}, details});
        return;
    }
    QMessageBox box(icon, title, text, QMessageBox::Ok, m_parent);
    box.setDetailedText(details);
    QList<QPair<QAbstractButton*, std::function<void()>>> buttons;
    for (const MessageAction& action : actions) {
        QPushButton* button = box.addButton(action.label, QMessageBox::ActionRole);
        button->setEnabled(action.enabled);
        buttons.append({button, action.run});
    }
    box.exec();
    for (const auto& [button, run] : buttons) {
        if (box.clickedButton() == button && run)
            run();
    }
}

bool UserDialogs::askQuestion(const QString& title, const QString& text)
{
    if (m_messageHandler)
        return m_messageHandler(UserMessage{QMessageBox::Question, title, text, true, {}, {}, {}}) != 0;
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, m_parent);
    box.setDefaultButton(QMessageBox::No);
    m_openQuestion = &box;
    const int answer = box.exec();
    m_openQuestion = nullptr;
    return answer == QMessageBox::Yes;
}

int UserDialogs::askChoice(const QString& title, const QString& text, const QStringList& choices) const
{
    const int cancel = int(choices.size()) - 1;
    if (m_messageHandler) {
        const int chosen = m_messageHandler(UserMessage{QMessageBox::Question, title, text, true, {}, choices, {}});
        return chosen >= 0 && chosen < cancel ? chosen : cancel;
    }
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, m_parent);
    QList<QAbstractButton*> buttons;
    for (int i = 0; i < choices.size(); ++i) {
        const auto role =
            i == cancel ? QMessageBox::RejectRole : (i == 0 ? QMessageBox::AcceptRole : QMessageBox::DestructiveRole);
        buttons.append(box.addButton(choices[i], role));
    }
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
    box.setEscapeButton(buttons.last());
    box.exec();
    const int chosen = int(buttons.indexOf(box.clickedButton()));
    return chosen >= 0 ? chosen : cancel;
}

void UserDialogs::openUrl(const QUrl& url) const
{
    if (m_urlOpener)
        m_urlOpener(url);
    else
        QDesktopServices::openUrl(url);
}

void UserDialogs::closeOpenQuestion()
{
    if (m_openQuestion)
        m_openQuestion->reject();
}
