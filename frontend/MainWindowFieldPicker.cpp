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
#include <QLineEdit>
#include <QListWidget>
#include <QSignalBlocker>

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

    {
        const QSignalBlocker blocker(m_fieldList);
        m_fieldList->clear();
        for (const QString& name : order) {
            auto* item = new QListWidgetItem(name, m_fieldList);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable
                           | Qt::ItemIsDragEnabled);
            item->setCheckState(checked.contains(name) ? Qt::Checked : Qt::Unchecked);
        }
    }
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
    // Output fields that the new file also has stay checked; the others are
    // named, not silently dropped.
    const QStringList selected = selectedFields();
    QStringList missing;
    for (const QString& field : selected) {
        if (!names.contains(field))
            missing.append(field);
    }
    rebuildFieldPicker(names, selected);
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

    const QSignalBlocker blocker(m_fieldList);
    QListWidgetItem* item = m_fieldList->takeItem(position);
    m_fieldList->insertItem(target, item);
    m_fieldList->setCurrentItem(item);
}
