#include "settings/SettingStepper.h"

#include "settings/AppSettings.h"
#include "settings/SettingsForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>

#include <algorithm>
#include <cmath>
#include <limits>

namespace vardelle {

namespace {

int toInt(qint64 value)
{
    return static_cast<int>(std::clamp<qint64>(value, std::numeric_limits<int>::min(),
                                               std::numeric_limits<int>::max()));
}

} // namespace

SettingStepper::SettingStepper(QString before, QString after, int minimum, int maximum, int step,
                               AppSettings& settings, qint64 (AppSettings::*get)() const,
                               void (AppSettings::*set)(qint64),
                               void (AppSettings::*changed)(qint64), const QString& objectName,
                               QWidget* parent)
    : QWidget(parent)
    , m_before(std::move(before))
    , m_after(std::move(after))
    , m_minimum(minimum)
    , m_maximum(maximum)
    , m_step(std::max(step, 1))
    , m_write([&settings, set](qint64 value) { (settings.*set)(value); })
{
    setObjectName(objectName);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_label = plainLabel(QString(), this);
    m_label->setObjectName(objectName + QStringLiteral("Label"));
    m_spin = new QSpinBox(this);
    m_spin->setObjectName(objectName + QStringLiteral("Spin"));
    m_spin->setSingleStep(m_step);
    // Typing "120" writes once, when the edit is done, not for "1" and "12" on the way; the
    // arrows and the keyboard's up and down still write at every step.
    m_spin->setKeyboardTracking(false);
    layout->addWidget(m_label, 1);
    layout->addWidget(m_spin);

    display((settings.*get)());
    connect(m_spin, &QSpinBox::valueChanged, this, &SettingStepper::edit);
    connect(&settings, changed, this, &SettingStepper::display);
}

void SettingStepper::display(qint64 value)
{
    m_value = value;
    m_label->setText(m_before + QString::number(value) + m_after);
    m_spin->setAccessibleName(m_label->text());
    const QSignalBlocker quiet(m_spin);
    const int shown = toInt(value);
    m_spin->setRange(qMin(m_minimum, shown), qMax(m_maximum, shown));
    m_spin->setValue(shown);
}

void SettingStepper::edit(int value)
{
    const qint64 steps = std::llround(double(qint64(value) - m_minimum) / m_step);
    const qint64 clamped = std::clamp<qint64>(m_minimum + steps * m_step, m_minimum, m_maximum);
    // The preference's signal then shows it, narrowing a widened range back to the bounds.
    m_write(clamped);
}

} // namespace vardelle
