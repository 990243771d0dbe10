#include "FormWidgets.h"

#include <QLineEdit>
#include <QWheelEvent>

#include <algorithm>
#include <limits>

namespace {

// What the boxes accept while typing; the valid range is checked apart.
constexpr int kTypedIntLimit = std::numeric_limits<int>::max();
constexpr double kTypedDecimalLimit = 1e12;

// Ignored, the event goes on to the parent, which scrolls the form.
template <class Base>
bool takesWheel(Base* widget, QWheelEvent* event)
{
    if (widget->hasFocus())
        return true;
    event->ignore();
    return false;
}

// The red frame and the range in the tooltip while the value is outside
// the valid range; the field's own tooltip comes back when it is inside.
void showValidity(QAbstractSpinBox* box, bool valid, const QString& minimum, const QString& maximum)
{
    const char* const kOwnTip = "formOwnToolTip";
    const bool wasInvalid = box->property(kOwnTip).isValid();
    if (valid == !wasInvalid)
        return;
    if (valid) {
        box->setToolTip(box->property(kOwnTip).toString());
        box->setProperty(kOwnTip, QVariant());
        box->setStyleSheet(QString());
        return;
    }
    box->setProperty(kOwnTip, box->toolTip());
    QString tip = QStringLiteral("超出有效范围：%1 至 %2").arg(minimum, maximum);
    if (!box->toolTip().isEmpty())
        tip += QStringLiteral("\n") + box->toolTip();
    box->setToolTip(tip);
    box->setStyleSheet(QStringLiteral("QAbstractSpinBox { border: 2px solid #c62828; border-radius: 2px; }"));
}

// The size hints of a spin box make room for the widest value of its
// range; these boxes make room for the widest valid value instead.
int textWidthDifference(const QAbstractSpinBox* box, const QStringList& typed, const QStringList& valid)
{
    const QFontMetrics metrics = box->fontMetrics();
    const auto widest = [&metrics](const QStringList& texts) {
        int width = 0;
        for (const QString& text : texts)
            width = std::max(width, metrics.horizontalAdvance(text.left(18) + QLatin1Char(' ')));
        return width;
    };
    return std::max(0, widest(typed) - widest(valid));
}

}  // namespace

FormSpinBox::FormSpinBox(QWidget* parent) : QSpinBox(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setRange(-kTypedIntLimit, kTypedIntLimit);
    connect(this, &QSpinBox::valueChanged, this,
            [this] { showValidity(this, isValid(), textFromValue(m_validMin), textFromValue(m_validMax)); });
}

void FormSpinBox::setValidRange(int minimum, int maximum)
{
    m_validMin = minimum;
    m_validMax = maximum;
    showValidity(this, isValid(), textFromValue(m_validMin), textFromValue(m_validMax));
    updateGeometry();
}

void FormSpinBox::stepBy(int steps)
{
    QSpinBox::stepBy(steps);
    setValue(std::clamp(value(), m_validMin, m_validMax));
}

QAbstractSpinBox::StepEnabled FormSpinBox::stepEnabled() const
{
    if (isReadOnly())
        return StepNone;
    StepEnabled enabled = StepNone;
    if (value() < m_validMax)
        enabled |= StepUpEnabled;
    if (value() > m_validMin)
        enabled |= StepDownEnabled;
    return enabled;
}

int FormSpinBox::narrowing() const
{
    return textWidthDifference(this, {textFromValue(minimum()), textFromValue(maximum())},
                               {textFromValue(m_validMin), textFromValue(m_validMax)});
}

QSize FormSpinBox::sizeHint() const
{
    return QSpinBox::sizeHint() - QSize(narrowing(), 0);
}

QSize FormSpinBox::minimumSizeHint() const
{
    return QSpinBox::minimumSizeHint() - QSize(narrowing(), 0);
}

void FormSpinBox::wheelEvent(QWheelEvent* event)
{
    if (takesWheel(this, event))
        QSpinBox::wheelEvent(event);
}

FormDoubleSpinBox::FormDoubleSpinBox(QWidget* parent) : QDoubleSpinBox(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setRange(-kTypedDecimalLimit, kTypedDecimalLimit);
    connect(this, &QDoubleSpinBox::valueChanged, this,
            [this] { showValidity(this, isValid(), textFromValue(m_validMin), textFromValue(m_validMax)); });
}

void FormDoubleSpinBox::setValidRange(double minimum, double maximum)
{
    m_validMin = minimum;
    m_validMax = maximum;
    showValidity(this, isValid(), textFromValue(m_validMin), textFromValue(m_validMax));
    updateGeometry();
}

void FormDoubleSpinBox::stepBy(int steps)
{
    QDoubleSpinBox::stepBy(steps);
    // A step adds the step size unrounded (1.05 + 0.05 gives
    // 1.1000000000000001); setting the value again rounds it to the decimals.
    setValue(std::clamp(value(), m_validMin, m_validMax));
}

QAbstractSpinBox::StepEnabled FormDoubleSpinBox::stepEnabled() const
{
    if (isReadOnly())
        return StepNone;
    StepEnabled enabled = StepNone;
    if (value() < m_validMax)
        enabled |= StepUpEnabled;
    if (value() > m_validMin)
        enabled |= StepDownEnabled;
    return enabled;
}

int FormDoubleSpinBox::narrowing() const
{
    return textWidthDifference(this, {textFromValue(minimum()), textFromValue(maximum())},
                               {textFromValue(m_validMin), textFromValue(m_validMax)});
}

QSize FormDoubleSpinBox::sizeHint() const
{
    return QDoubleSpinBox::sizeHint() - QSize(narrowing(), 0);
}

QSize FormDoubleSpinBox::minimumSizeHint() const
{
    return QDoubleSpinBox::minimumSizeHint() - QSize(narrowing(), 0);
}

void FormDoubleSpinBox::wheelEvent(QWheelEvent* event)
{
    if (takesWheel(this, event))
        QDoubleSpinBox::wheelEvent(event);
}

FormComboBox::FormComboBox(QWidget* parent) : QComboBox(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

void FormComboBox::wheelEvent(QWheelEvent* event)
{
    if (takesWheel(this, event))
        QComboBox::wheelEvent(event);
}
