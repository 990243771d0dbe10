// How the form shows its state: locked while a task runs, number fields
// out of their range blocking a start, placeholders that never look like
// entered text, and the keyboard order of the fields.

#include "MainWindow.h"

#include "FormWidgets.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>

#include <algorithm>

namespace {

// The widget that names a field: its form label, or its own object name.
QString fieldName(const QWidget* field)
{
    if (const auto* form = qobject_cast<const QFormLayout*>(field->parentWidget()->layout())) {
        if (const auto* label = qobject_cast<const QLabel*>(form->labelForField(const_cast<QWidget*>(field))))
            return label->text();
    }
    return field->objectName();
}

void appendFocusChain(QLayout* layout, QList<QWidget*>& chain);

void appendWidgetChain(QWidget* widget, QList<QWidget*>& chain)
{
    if (auto* splitter = qobject_cast<QSplitter*>(widget)) {
        for (int i = 0; i < splitter->count(); ++i)
            appendWidgetChain(splitter->widget(i), chain);
        return;
    }
    if (auto* area = qobject_cast<QScrollArea*>(widget)) {
        if (area->widget())
            appendWidgetChain(area->widget(), chain);
        return;
    }
    if (widget->focusPolicy() & Qt::TabFocus)
        chain.append(widget);
    else if (widget->layout())
        appendFocusChain(widget->layout(), chain);
}

// The layout's items in reading order: grids row by row.
QList<QLayoutItem*> itemsInReadingOrder(QLayout* layout)
{
    QList<QPair<QPair<int, int>, QLayoutItem*>> items;
    auto* grid = qobject_cast<QGridLayout*>(layout);
    for (int i = 0; i < layout->count(); ++i) {
        int row = 0;
        int column = i;
        if (grid) {
            int rowSpan = 0;
            int columnSpan = 0;
            grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
        }
        items.append({{row, column}, layout->itemAt(i)});
    }
    std::stable_sort(items.begin(), items.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QList<QLayoutItem*> ordered;
    for (const auto& item : items)
        ordered.append(item.second);
    return ordered;
}

void appendFocusChain(QLayout* layout, QList<QWidget*>& chain)
{
    for (QLayoutItem* item : itemsInReadingOrder(layout)) {
        if (item->widget())
            appendWidgetChain(item->widget(), chain);
        else if (item->layout())
            appendFocusChain(item->layout(), chain);
    }
}

} // namespace

void MainWindow::setFormLocked(bool locked)
{
    for (QWidget* part : m_formParts)
        part->setEnabled(!locked);
}

// Tab goes through the fields as they are read: the paths, then each panel
// from top to bottom, left to right, then the task buttons.
void MainWindow::setKeyOrder()
{
    QList<QWidget*> chain;
    appendFocusChain(centralWidget()->layout(), chain);
    for (int i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);
}

// A locked (disabled) field draws its text in the light disabled colour,
// but its placeholder in the same dark half-transparent colour as when it
// is enabled, so that an empty locked field seems to hold its placeholder
// as text. Placeholders of locked fields are drawn lighter than their text,
// as they are in enabled fields.
void MainWindow::keepPlaceholdersGrey()
{
    for (QLineEdit* edit : findChildren<QLineEdit*>()) {
        QPalette palette = edit->palette();
        QColor placeholder = palette.color(QPalette::Disabled, QPalette::Text);
        placeholder.setAlphaF(placeholder.alphaF() / 2);
        palette.setColor(QPalette::Disabled, QPalette::PlaceholderText, placeholder);
        edit->setPalette(palette);
    }
}

void MainWindow::watchNumberFields()
{
    for (FormSpinBox* spin : findChildren<FormSpinBox*>())
        connect(spin, &QSpinBox::valueChanged, this, &MainWindow::updateRunButtons);
    for (FormDoubleSpinBox* spin : findChildren<FormDoubleSpinBox*>())
        connect(spin, &QDoubleSpinBox::valueChanged, this, &MainWindow::updateRunButtons);
}

QStringList MainWindow::invalidNumberFields() const
{
    QStringList names;
    for (const FormSpinBox* spin : findChildren<FormSpinBox*>()) {
        if (!spin->isValid())
            names.append(fieldName(spin));
    }
    for (const FormDoubleSpinBox* spin : findChildren<FormDoubleSpinBox*>()) {
        if (!spin->isValid())
            names.append(fieldName(spin));
    }
    return names;
}

// The start buttons work while no task runs and every number is in range.
void MainWindow::updateRunButtons()
{
    const QStringList invalid = invalidNumberFields();
    const bool canStart = !m_process && invalid.isEmpty();
    m_startButton->setEnabled(canStart);
    m_testButton->setEnabled(canStart);
    const QString blocked = invalid.isEmpty()
        ? QString()
        : QStringLiteral("\n超出有效范围，请先改正：") + invalid.join(QStringLiteral("、"));
    for (QPushButton* button : {m_startButton, m_testButton}) {
        QString tip = button->toolTip().section(QLatin1Char('\n'), 0, 0);
        button->setToolTip(tip + blocked);
    }
}
