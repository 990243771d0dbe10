#pragma once

class QCoreApplication;

// Loads Qt's own translations (the texts of its standard dialogs and
// buttons) for the system locale, or Chinese (zh_CN) when there are none for
// it, and installs them in the application. False when none could be found.
bool installQtTranslations(QCoreApplication& app);
