#pragma once

// Helpers shared by the front-end tests.

#include "FieldPicker.h"
#include "MainWindow.h"
#include "SettingsForm.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>
#include <QUrl>

#include <memory>

using namespace Qt::StringLiterals;

// A named child widget of the window; aborts when it is missing.
template <class T>
T* widget(const QObject& window, const char* name)
{
    T* child = window.findChild<T*>(QString::fromLatin1(name));
    if (!child)
        qFatal("widget %s not found", name);
    return child;
}

// The window's settings form and its field picker.
inline SettingsForm& form(const QObject& window)
{
    return *widget<SettingsForm>(window, "settingsForm");
}

inline FieldPicker& fields(const QObject& window)
{
    return *widget<FieldPicker>(window, "fieldPicker");
}

// Collects the window's modal messages instead of showing them; questions
// get the given answer.
inline std::shared_ptr<QList<UserMessage>> captureMessages(MainWindow& window, bool answer = true)
{
    auto messages = std::make_shared<QList<UserMessage>>();
    window.setMessageHandler([messages, answer](const UserMessage& m) {
        messages->append(m);
        return answer;
    });
    return messages;
}

// Collects the URLs the window hands to the desktop.
inline std::shared_ptr<QList<QUrl>> captureUrls(MainWindow& window)
{
    auto urls = std::make_shared<QList<QUrl>>();
    window.setUrlOpener([urls](const QUrl& url) { urls->append(url); });
    return urls;
}

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QJsonObject readJsonFile(const QString& path)
{
    return QJsonDocument::fromJson(readFile(path)).object();
}

// A shell script as "Vistrel" in the program folder; it runs with the run
// file as $1 and the program folder as working directory.
inline void writeFakeRenderer(const QString& programDir, const QByteArray& body, bool executable = true)
{
    const QString path = programDir + u"/Vistrel"_s;
    writeFile(path, "#!/bin/sh\n" + body + "\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner
                                    | (executable ? QFile::ExeOwner : QFile::Permissions()));
}
