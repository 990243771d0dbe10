#pragma once

#include <QByteArray>
#include <QStringList>

// Turns the renderer's output, as it arrives in chunks, into lines.
//
// A chunk may end inside a line or inside a multi-byte UTF-8 character; the
// unfinished tail is kept as raw bytes and completed by the next chunk, so a
// progress line is never cut in two and no character is garbled. Carriage
// returns and line feeds both end a line; empty lines are dropped.
class OutputLineSplitter {
public:
    // The complete lines that this chunk finishes.
    QStringList feed(const QByteArray& bytes);

    // The unfinished tail once the output has ended (an incomplete UTF-8
    // sequence there decodes to a replacement character).
    QStringList finish();

    void reset();

private:
    QByteArray m_pending;
};
