#pragma once

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QSpinBox>

// Input widgets of the settings form.
//
// The form sits in scroll areas: a wheel turned over a field the user has
// not clicked into scrolls the form and leaves the value alone. These
// widgets take wheel events only while they have the keyboard focus, and
// the wheel does not give them the focus.
//
// The number fields take any number that is typed: a value outside the
// field's valid range is kept as typed and shown as invalid (red frame, the
// range in the tooltip) instead of being cut or quietly put back, until the
// user corrects it. Arrow steps stay within the valid range.

class FormSpinBox : public QSpinBox {
public:
    explicit FormSpinBox(QWidget* parent = nullptr);

    void setValidRange(int minimum, int maximum);
    int validMinimum() const { return m_validMin; }
    int validMaximum() const { return m_validMax; }
    bool isValid() const { return value() >= m_validMin && value() <= m_validMax; }

    void stepBy(int steps) override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    StepEnabled stepEnabled() const override;
    void wheelEvent(QWheelEvent* event) override;

private:
    int narrowing() const;

    int m_validMin = 0;
    int m_validMax = 99;
};

// Also keeps its value at the shown decimals after arrow steps, so that the
// value written to a file is the value on screen.
class FormDoubleSpinBox : public QDoubleSpinBox {
public:
    explicit FormDoubleSpinBox(QWidget* parent = nullptr);

    void setValidRange(double minimum, double maximum);
    double validMinimum() const { return m_validMin; }
    double validMaximum() const { return m_validMax; }
    bool isValid() const { return value() >= m_validMin && value() <= m_validMax; }

    void stepBy(int steps) override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    StepEnabled stepEnabled() const override;
    void wheelEvent(QWheelEvent* event) override;

private:
    int narrowing() const;

    double m_validMin = 0;
    double m_validMax = 99.99;
};

class FormComboBox : public QComboBox {
public:
    explicit FormComboBox(QWidget* parent = nullptr);

protected:
    void wheelEvent(QWheelEvent* event) override;
};
