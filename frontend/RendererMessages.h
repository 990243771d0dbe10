#pragma once

#include <QString>

// Chinese text for the renderer's English messages that a user needs to
// read: the configuration errors and a few ERROR lines. Messages without a
// translation come back unchanged.
QString translateRendererMessage(const QString& message);

// What an exit code of the renderer means, in Chinese.
QString exitCodeMeaning(int exitCode);
