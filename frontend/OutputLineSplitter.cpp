#include "OutputLineSplitter.h"

#include <QRegularExpression>
#include <QString>

namespace {

// A tail this long without any line end is passed on anyway, so that a
// process writing without line ends cannot make us hold its output forever.
constexpr qsizetype kMaxPendingBytes = qsizetype(1024) * 1024;

QStringList splitLines(const QByteArray& bytes)
{
    static const QRegularExpression lineEnd(QStringLiteral("[\r\n]"));
    return QString::fromUtf8(bytes).split(lineEnd, Qt::SkipEmptyParts);
}

}  // namespace

QStringList OutputLineSplitter::feed(const QByteArray& bytes)
{
    m_pending.append(bytes);

    // CR and LF never occur inside a UTF-8 multi-byte sequence, so cutting
    // after the last of them leaves whole characters on both sides.
    qsizetype cut = m_pending.size();
    while (cut > 0 && m_pending.at(cut - 1) != '\n' && m_pending.at(cut - 1) != '\r')
        --cut;

    if (cut == 0) {
        if (m_pending.size() < kMaxPendingBytes)
            return {};
        cut = m_pending.size();
    }

    const QStringList lines = splitLines(m_pending.left(cut));
    m_pending.remove(0, cut);
    return lines;
}

QStringList OutputLineSplitter::finish()
{
    const QStringList lines = splitLines(m_pending);
    m_pending.clear();
    return lines;
}

void OutputLineSplitter::reset()
{
    m_pending.clear();
}
