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

class FormSpinBox : public QSpinBox
{
public:
    explicit FormSpinBox(QWidget* parent = nullptr);

protected:
    void wheelEvent(QWheelEvent* event) override;
};

// Also keeps its value at the shown decimals after arrow steps, so that the
// value written to a file is the value on screen.
class FormDoubleSpinBox : public QDoubleSpinBox
{
public:
    explicit FormDoubleSpinBox(QWidget* parent = nullptr);

    void stepBy(int steps) override;

protected:
    void wheelEvent(QWheelEvent* event) override;
};

class FormComboBox : public QComboBox
{
public:
    explicit FormComboBox(QWidget* parent = nullptr);

protected:
    void wheelEvent(QWheelEvent* event) override;
};
