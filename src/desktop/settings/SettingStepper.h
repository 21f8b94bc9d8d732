#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QSpinBox;

namespace vardelle {

class AppSettings;

// A stepper row: a label with the value in its text ("Read at most 12 stories per briefing")
// and a spin box that moves it by `step` within [minimum, maximum].
//
// A value stored outside the bounds, or off the step, is shown as it stands, and stays stored
// until the user edits it: the spin box's range is widened just enough to hold it, and an edit,
// typed or stepped, is moved to the nearest step from the minimum and clamped into the bounds
// before it is written.
class SettingStepper : public QWidget {
    Q_OBJECT

public:
    // Bound both ways to an integer preference.
    SettingStepper(QString before, QString after, int minimum, int maximum, int step,
                   AppSettings& settings, qint64 (AppSettings::*get)() const,
                   void (AppSettings::*set)(qint64), void (AppSettings::*changed)(qint64),
                   const QString& objectName, QWidget* parent = nullptr);

    qint64 value() const { return m_value; }
    QLabel* label() const { return m_label; }
    QSpinBox* spinBox() const { return m_spin; }

private:
    void display(qint64 value);
    void edit(int value);

    const QString m_before;
    const QString m_after;
    const int m_minimum;
    const int m_maximum;
    const int m_step;
    qint64 m_value = 0;
    QLabel* m_label = nullptr;
    QSpinBox* m_spin = nullptr;
    std::function<void(qint64)> m_write;
};

} // namespace vardelle
