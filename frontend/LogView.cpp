#include "LogView.h"

#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>

namespace {

constexpr int kLineLimit = 3000;

}  // namespace

LogView::LogView(QWidget* parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setMaximumBlockCount(kLineLimit);
    // The user leaves the newest line by scrolling up and comes back to it
    // by scrolling to the end. Only the user's own scrolling counts: a resize
    // or new text moves the scroll bar too.
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] {
        QTimer::singleShot(0, this,
                           [this] { m_following = verticalScrollBar()->value() >= verticalScrollBar()->maximum(); });
    });
}

QColor LogView::warningColour()
{
    return QColor(0xB2, 0x6B, 0x00);
}

QColor LogView::errorColour()
{
    return QColor(0xC6, 0x28, 0x28);
}

void LogView::appendLine(const QString& line)
{
    QTextCharFormat format;
    if (line.contains(QLatin1String("][ERROR] ")))
        format.setForeground(errorColour());
    else if (line.contains(QLatin1String("][WARN] ")))
        format.setForeground(warningColour());

    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    if (!document()->isEmpty())
        cursor.insertBlock(QTextBlockFormat(), format);
    else
        cursor.setCharFormat(format);
    cursor.insertText(line, format);

    if (m_following)
        scrollToEnd();
}

void LogView::resizeEvent(QResizeEvent* event)
{
    QPlainTextEdit::resizeEvent(event);
    if (m_following)
        scrollToEnd();
}

void LogView::restart()
{
    clear();
    m_following = true;
}

void LogView::scrollToEnd()
{
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}
