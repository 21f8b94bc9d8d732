#pragma once

#include <QObject>

namespace vardelle {

// One sign that the user is busy and should not be talked to unasked: do not disturb, a
// full-screen window in front. A sign starts unknown and becomes known with its first reading;
// one that cannot be read at all (its service is absent, there is no X server) becomes known as
// not busy, so a missing sign never holds anything. busyChanged() tells of every change of
// either. Main thread.
class BusySignal : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    ~BusySignal() override = default;

    // Begins watching. Called once.
    virtual void start() = 0;

    bool isBusy() const { return m_busy; }
    // False until the first reading is in.
    bool isKnown() const { return m_known; }

signals:
    void busyChanged(bool busy);

protected:
    // Records a reading; emits busyChanged() when it is the first one or differs from the last.
    void setBusy(bool busy);

private:
    bool m_busy = false;
    bool m_known = false;
};

} // namespace vardelle
