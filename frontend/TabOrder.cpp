#include "TabOrder.h"

#include <QGridLayout>
#include <QLayout>
#include <QScrollArea>
#include <QSplitter>
#include <QWidget>

#include <algorithm>

namespace {

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

}  // namespace

void setReadingTabOrder(QWidget* root)
{
    QList<QWidget*> chain;
    appendFocusChain(root->layout(), chain);
    for (int i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}
