#pragma once

#include <QPlainTextEdit>

// The run log: read-only, keeps the newest lines, colours WARN and ERROR
// lines, and keeps showing the newest line (also after a resize) until the
// user scrolls up to read older ones.
class LogView : public QPlainTextEdit {
public:
    explicit LogView(QWidget* parent = nullptr);

    void appendLine(const QString& line);
    void restart();  // empty, following the newest line again
    bool following() const { return m_following; }

    static QColor warningColour();
    static QColor errorColour();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void scrollToEnd();

    bool m_following = true;
};
