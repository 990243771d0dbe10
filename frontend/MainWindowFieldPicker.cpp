// The output field picker: a list of the shapefile's attribute fields, each
// with a check box, in an order the user changes with "上移" / "下移" or by
// dragging. The checked fields, top to bottom, name the frames.

#include "MainWindow.h"

#include "DbfFieldNames.h"
#include "FormChoices.h"
#include "VectorSource.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalBlocker>

#include <algorithm>

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
    m_fieldChoice.clear();
    for (const QString& name : checked) {
        if (!name.trimmed().isEmpty() && !m_fieldChoice.contains(name.trimmed()))
            m_fieldChoice.append(name.trimmed());
    }

    {
        const QSignalBlocker blocker(m_fieldList);
        m_rebuildingFields = true;
        m_fieldList->clear();
        for (const QString& name : order) {
            auto* item = new QListWidgetItem(name, m_fieldList);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable
                           | Qt::ItemIsDragEnabled);
            item->setCheckState(m_fieldChoice.contains(name) ? Qt::Checked : Qt::Unchecked);
        }
        m_rebuildingFields = false;
    }
    m_fieldList->setMinimumHeight(fieldListHeight(3));
    m_fieldList->setMaximumHeight(fieldListHeight(std::clamp(int(order.size()), 3, 10)));
    QWidget* row = m_fieldList->parentWidget();
    row->setMaximumHeight(std::max(m_fieldList->maximumHeight(), row->layout()->minimumSize().height()));
    const QString current = checked.isEmpty() ? order.first() : checked.first();
    const QList<QListWidgetItem*> found = m_fieldList->findItems(current, Qt::MatchExactly | Qt::MatchCaseSensitive);
    m_fieldList->setCurrentItem(found.isEmpty() ? nullptr : found.first());
    m_missingFieldsNote.clear();
    updateFieldNote();
}

QStringList MainWindow::selectedFields() const
{
    QStringList selected;
    for (int i = 0; i < m_fieldList->count(); ++i) {
        const QListWidgetItem* item = m_fieldList->item(i);
        if (item->checkState() == Qt::Checked)
            selected.append(item->text());
    }
    return selected;
}

// A tick, an untick or a move: the list as it is now is the choice.
void MainWindow::fieldChoiceEdited()
{
    if (m_rebuildingFields)
        return;
    m_fieldChoice = selectedFields();
    updateFieldNote();
}

void MainWindow::updateFieldNote()
{
    QStringList notes;
    if (!m_missingFieldsNote.isEmpty())
        notes.append(m_missingFieldsNote);
    if (selectedFields().isEmpty())
        notes.append(QStringLiteral("未勾选字段：图斑将按序号命名。"));
    m_fieldNoteLabel->setText(notes.join(QLatin1Char('\n')));
    m_fieldNoteLabel->setVisible(!notes.isEmpty());
}

void MainWindow::reportMissingFields(const QStringList& missing)
{
    if (missing.isEmpty())
        return;
    m_missingFieldsNote = QStringLiteral("新 SHP 中没有已勾选的字段：%1").arg(missing.join(QStringLiteral("、")));
    updateFieldNote();
    appendLog(m_missingFieldsNote);
}

void MainWindow::discoverShapefileFields(const QString& shpPath)
{
    readShapefileFields(shpPath, false);
}

void MainWindow::readShapefileFields(const QString& shpPath, bool quiet)
{
    m_fieldsReadFrom = QDir::cleanPath(shpPath);
    const QStringList names = isShapefilePath(shpPath) ? readDbfFieldNames(dbfPathForShapefile(shpPath))
                                                       : readVectorFieldNames(shpPath);
    if (names.isEmpty()) {
        const QString problem = QStringLiteral("未能读取 DBF 字段，请检查 SHP 配套文件。");
        if (quiet) {
            m_missingFieldsNote = problem;
            updateFieldNote();
        } else {
            showMessage(QMessageBox::Warning, QStringLiteral("读取字段"), problem);
        }
        return;
    }
    // The chosen fields that the file has come first, in the chosen order,
    // then the file's other fields in file order. Chosen fields the file
    // lacks are named, not silently dropped, and ticked again when a later
    // file has them.
    const QStringList chosen = m_fieldChoice;
    QStringList order;
    QStringList missing;
    for (const QString& field : chosen)
        (names.contains(field) ? order : missing).append(field);
    for (const QString& name : names) {
        if (!order.contains(name))
            order.append(name);
    }
    rebuildFieldPicker(order, chosen);
    reportMissingFields(missing);
}

// The shapefile named in the path field, when it is another than the one
// the list was read from: after loading the settings (quietly: problems go
// to the note below the list) and after the field was edited.
void MainWindow::refreshShapefileFields(bool quiet)
{
    const QString text = m_shapefileEdit->text().trimmed();
    if (text.isEmpty())
        return;
    const QString path = QDir::cleanPath(resolvedRunPath(text));
    if (path == m_fieldsReadFrom || !QFileInfo::exists(path))
        return;
    readShapefileFields(path, quiet);
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
    QListWidgetItem* current = m_fieldList->currentItem();
    if (!current) {
        const QStringList selected = selectedFields();
        if (selected.isEmpty())
            return;
        current = m_fieldList->findItems(selected.first(), Qt::MatchExactly | Qt::MatchCaseSensitive).first();
    }
    const int position = m_fieldList->row(current);
    const int target = position + direction;
    if (target < 0 || target >= m_fieldList->count())
        return;

    {
        const QSignalBlocker blocker(m_fieldList);
        QListWidgetItem* item = m_fieldList->takeItem(position);
        m_fieldList->insertItem(target, item);
        m_fieldList->setCurrentItem(item);
    }
    fieldChoiceEdited();
}
