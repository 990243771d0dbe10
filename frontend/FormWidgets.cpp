#include "FormWidgets.h"

#include <QWheelEvent>

namespace {

// Ignored, the event goes on to the parent, which scrolls the form.
template <class Base>
bool takesWheel(Base* widget, QWheelEvent* event)
{
    if (widget->hasFocus())
        return true;
    event->ignore();
    return false;
}

} // namespace

FormSpinBox::FormSpinBox(QWidget* parent)
    : QSpinBox(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

void FormSpinBox::wheelEvent(QWheelEvent* event)
{
    if (takesWheel(this, event))
        QSpinBox::wheelEvent(event);
}

FormDoubleSpinBox::FormDoubleSpinBox(QWidget* parent)
    : QDoubleSpinBox(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

void FormDoubleSpinBox::stepBy(int steps)
{
    QDoubleSpinBox::stepBy(steps);
    // A step adds the step size unrounded (1.05 + 0.05 gives
    // 1.1000000000000001); setting the value again rounds it to the decimals.
    setValue(value());
}

void FormDoubleSpinBox::wheelEvent(QWheelEvent* event)
{
    if (takesWheel(this, event))
        QDoubleSpinBox::wheelEvent(event);
}

FormComboBox::FormComboBox(QWidget* parent)
    : QComboBox(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

void FormComboBox::wheelEvent(QWheelEvent* event)
{
    if (takesWheel(this, event))
        QComboBox::wheelEvent(event);
}
