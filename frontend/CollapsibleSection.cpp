#include "CollapsibleSection.h"

#include <QToolButton>
#include <QVBoxLayout>

CollapsibleSection::CollapsibleSection(const QString& title, QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    m_header = new QToolButton(this);
    m_header->setText(title);
    m_header->setCheckable(true);
    m_header->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_header->setAutoRaise(true);
    m_header->setArrowType(Qt::RightArrow);
    m_header->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_content = new QWidget(this);
    m_content->hide();
    layout->addWidget(m_header);
    layout->addWidget(m_content);
    connect(m_header, &QToolButton::toggled, this, &CollapsibleSection::setOpen);
}

bool CollapsibleSection::isOpen() const
{
    return m_header->isChecked();
}

void CollapsibleSection::setOpen(bool open)
{
    m_header->setChecked(open);
    m_header->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    m_content->setVisible(open);
}
