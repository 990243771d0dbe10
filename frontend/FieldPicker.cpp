#include "FieldPicker.h"

#include "DbfFieldNames.h"
#include "FormChoices.h"

#include "VectorSource.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QStringList distinctTrimmed(const QStringList& names)
{
    QStringList out;
    for (const QString& name : names) {
        const QString trimmed = name.trimmed();
        if (!trimmed.isEmpty() && !out.contains(trimmed))
            out.append(trimmed);
    }
    return out;
}

}  // namespace

FieldPicker::FieldPicker(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("fieldPicker"));
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("fieldList"));
    m_list->setDragDropMode(QAbstractItemView::InternalMove);
    m_list->setDefaultDropAction(Qt::MoveAction);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    // At least three rows; more as the panel grows, up to the rows the
    // fields need (at most ten, then the list scrolls).
    m_list->setUniformItemSizes(true);
    m_list->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    connect(m_list, &QListWidget::itemChanged, this, &FieldPicker::choiceEdited);
    connect(m_list->model(), &QAbstractItemModel::rowsMoved, this, &FieldPicker::choiceEdited);

    auto* up = new QPushButton(QStringLiteral("上移"), this);
    up->setObjectName(QStringLiteral("fieldUpButton"));
    auto* down = new QPushButton(QStringLiteral("下移"), this);
    down->setObjectName(QStringLiteral("fieldDownButton"));
    connect(up, &QPushButton::clicked, this, [this] { moveCurrent(-1); });
    connect(down, &QPushButton::clicked, this, [this] { moveCurrent(+1); });

    m_noteLabel = new QLabel(parent);
    m_noteLabel->setObjectName(QStringLiteral("fieldNoteLabel"));
    m_noteLabel->setWordWrap(true);
    m_noteLabel->setStyleSheet(QStringLiteral("color: #b26b00;"));
    m_noteLabel->hide();

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(up);
    buttons->addWidget(down);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
}

void FieldPicker::rebuild(const QStringList& available, const QStringList& checked)
{
    QStringList order = distinctTrimmed(available);
    if (order.isEmpty())
        order.append(QString::fromUtf8(kDefaultField));
    m_choice = distinctTrimmed(checked);
    {
        const QSignalBlocker blocker(m_list);
        m_rebuilding = true;
        m_list->clear();
        for (const QString& name : order) {
            auto* item = new QListWidgetItem(name, m_list);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemIsDragEnabled);
            item->setCheckState(m_choice.contains(name) ? Qt::Checked : Qt::Unchecked);
        }
        m_rebuilding = false;
    }
    // The row stops growing where the list does.
    m_list->setMinimumHeight(listHeight(3));
    m_list->setMaximumHeight(listHeight(std::clamp(int(order.size()), 3, 10)));
    setMaximumHeight(std::max(m_list->maximumHeight(), layout()->minimumSize().height()));
    const QString current = checked.isEmpty() ? order.first() : checked.first();
    const QList<QListWidgetItem*> found = m_list->findItems(current, Qt::MatchExactly | Qt::MatchCaseSensitive);
    m_list->setCurrentItem(found.isEmpty() ? nullptr : found.first());
    m_missingNote.clear();
    updateNote();
}

QStringList FieldPicker::selectedFields() const
{
    QStringList selected;
    for (int i = 0; i < m_list->count(); ++i) {
        const QListWidgetItem* item = m_list->item(i);
        if (item->checkState() == Qt::Checked)
            selected.append(item->text());
    }
    return selected;
}

bool FieldPicker::readShapefile(const QString& shpPath, bool quiet)
{
    m_readFrom = QDir::cleanPath(shpPath);
    const QStringList names =
        isShapefilePath(shpPath) ? readDbfFieldNames(dbfPathForShapefile(shpPath)) : readVectorFieldNames(shpPath);
    if (names.isEmpty()) {
        if (quiet) {
            m_missingNote = QStringLiteral("未能读取 DBF 字段，请检查 SHP 配套文件。");
            updateNote();
        }
        return false;
    }
    const QStringList chosen = m_choice;
    QStringList order;
    QStringList missing;
    for (const QString& field : chosen)
        (names.contains(field) ? order : missing).append(field);
    for (const QString& name : names) {
        if (!order.contains(name))
            order.append(name);
    }
    rebuild(order, chosen);
    if (!missing.isEmpty()) {
        m_missingNote = QStringLiteral("新 SHP 中没有已勾选的字段：%1").arg(missing.join(QStringLiteral("、")));
        updateNote();
        emit noted(m_missingNote);
    }
    return true;
}

// A tick, an untick or a move: the list as it is now is the choice.
void FieldPicker::choiceEdited()
{
    if (m_rebuilding)
        return;
    m_choice = selectedFields();
    updateNote();
}

void FieldPicker::updateNote()
{
    QStringList notes;
    if (!m_missingNote.isEmpty())
        notes.append(m_missingNote);
    if (selectedFields().isEmpty())
        notes.append(QStringLiteral("未勾选字段：图斑将按序号命名。"));
    m_noteLabel->setText(notes.join(QLatin1Char('\n')));
    m_noteLabel->setVisible(!notes.isEmpty());
}

void FieldPicker::moveCurrent(int direction)
{
    QListWidgetItem* current = m_list->currentItem();
    if (!current) {
        const QStringList selected = selectedFields();
        if (selected.isEmpty())
            return;
        current = m_list->findItems(selected.first(), Qt::MatchExactly | Qt::MatchCaseSensitive).first();
    }
    const int position = m_list->row(current);
    const int target = position + direction;
    if (target < 0 || target >= m_list->count())
        return;
    {
        const QSignalBlocker blocker(m_list);
        QListWidgetItem* item = m_list->takeItem(position);
        m_list->insertItem(target, item);
        m_list->setCurrentItem(item);
    }
    choiceEdited();
}

int FieldPicker::listHeight(int rows) const
{
    const int rowHeight = m_list->count() > 0 ? m_list->sizeHintForRow(0) : m_list->fontMetrics().height() + 4;
    return rows * rowHeight + 2 * m_list->frameWidth() + 2;
}
