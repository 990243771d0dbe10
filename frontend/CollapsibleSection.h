#pragma once

#include <QWidget>

class QToolButton;
class QVBoxLayout;

// A titled part of the form that opens and closes with a click on its
// title: the settings a job seldom changes stay out of the way, so that the
// everyday ones fit the screen without scrolling. Closed at the start.
class CollapsibleSection : public QWidget {
    Q_OBJECT

public:
    CollapsibleSection(const QString& title, QWidget* parent = nullptr);

    // The widget that holds the section's rows.
    QWidget* content() const { return m_content; }
    bool isOpen() const;
    void setOpen(bool open);

private:
    QToolButton* m_header = nullptr;
    QWidget* m_content = nullptr;
};
