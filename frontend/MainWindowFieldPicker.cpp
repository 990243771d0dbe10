// The output field picker: a drop-down button with one checkable entry per
// attribute field, in an order the user can change with "上移" / "下移".

#include "MainWindow.h"

#include "DbfFieldNames.h"
#include "FormChoices.h"

#include <QAction>
#include <QMenu>
#include <QToolButton>

void MainWindow::rebuildFieldPicker(const QStringList& available, const QStringList& checked)
{
    QStringList order;
    for (const QString& name : available) {
        const QString trimmed = name.trimmed();
        if (!trimmed.isEmpty() && !order.contains(trimmed))
            order.append(trimmed);
    }
    if (order.isEmpty())
        order.append(QString::fromUtf8(kDefaultField));

    fillFieldMenu(order, checked);
    m_currentField = checked.isEmpty() ? order.first() : checked.first();
    updateFieldButtonText();
}

void MainWindow::fillFieldMenu(const QStringList& order, const QStringList& checked)
{
    m_fieldMenu->clear();
    m_fieldActions.clear();
    m_fieldOrder = order;

    for (const QString& name : order) {
        QAction* action = m_fieldMenu->addAction(name);
        action->setCheckable(true);
        action->setChecked(checked.contains(name));
        m_fieldActions[name] = action;
        connect(action, &QAction::changed, this, &MainWindow::updateFieldButtonText);
        connect(action, &QAction::triggered, this, [this, name] {
            m_currentField = name;
            updateFieldButtonText();
        });
    }
}

QStringList MainWindow::selectedFields() const
{
    QStringList selected;
    for (const QString& name : m_fieldOrder) {
        const auto it = m_fieldActions.find(name);
        if (it != m_fieldActions.end() && it->second->isChecked())
            selected.append(name);
    }
    return selected;
}

void MainWindow::updateFieldButtonText()
{
    const QStringList selected = selectedFields();
    m_fieldButton->setText(selected.isEmpty() ? QStringLiteral("选择字段")
                                              : selected.join(QStringLiteral(", ")));
}

void MainWindow::discoverShapefileFields(const QString& shpPath)
{
    const QStringList names = readDbfFieldNames(dbfPathForShapefile(shpPath));
    if (names.isEmpty()) {
        showMessage(QMessageBox::Warning, QStringLiteral("读取字段"),
                    QStringLiteral("未能读取 DBF 字段，请检查 SHP 配套文件。"));
        return;
    }
    // Output fields that the new file also has stay checked.
    rebuildFieldPicker(names, selectedFields());
}

void MainWindow::moveFieldUp()
{
    moveCurrentField(-1);
}

void MainWindow::moveFieldDown()
{
    moveCurrentField(+1);
}

void MainWindow::moveCurrentField(int direction)
{
    if (m_currentField.isEmpty() || !m_fieldOrder.contains(m_currentField)) {
        const QStringList selected = selectedFields();
        if (selected.isEmpty())
            return;
        m_currentField = selected.first();
    }

    const qsizetype position = m_fieldOrder.indexOf(m_currentField);
    const qsizetype target = position + direction;
    if (target < 0 || target >= m_fieldOrder.size())
        return;

    QStringList order = m_fieldOrder;
    order.swapItemsAt(position, target);
    const QStringList checked = selectedFields();
    fillFieldMenu(order, checked);
    updateFieldButtonText();
}
