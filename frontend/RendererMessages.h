#pragma once

#include <QString>

namespace vistrel {
enum class RunMessage;
}

// Chinese text for the renderer's messages: the configuration errors and
// every ERROR, WARN and INFO line of the run protocol, with the values they
// carry (a path, a key, the system's reason) kept. Other text comes back
// unchanged.
QString translateRendererMessage(const QString& message);

// What an exit code of the renderer means, in Chinese.
QString exitCodeMeaning(int exitCode);

// The Chinese text of a failure message, with "{}" where its values go; empty
// when none is known.
QString chineseMessagePattern(vistrel::RunMessage id);
